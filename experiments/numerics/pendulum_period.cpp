#include "pendulum_period.h"

#include <algorithm>
#include <cmath>

namespace zelkor::experiments::numerics {

namespace {

// The span limited to both lists, so a pick never reads past either.
PickSpan Within(PickSpan span, std::size_t a, std::size_t b)
{
    const std::size_t size = std::min(a, b);
    span.hi = std::min(span.hi, size);
    span.lo = std::min(span.lo, span.hi);
    return span;
}

}  // namespace

std::optional<double> PendulumPeriod(std::span<const double> x, std::span<const double> t, PickSpan span)
{
    span = Within(span, x.size(), t.size());
    int k = 0;
    double t1 = 0.0, t2 = 0.0, sum = 0.0;
    int periods = 0;
    for (std::size_t i = span.lo; i < span.hi; ++i) {
        // The first sample of the trace has no predecessor and is never a crossing.
        const bool crossing =
            i > 0 && ((x[i] >= 0 && x[i - 1] < 0) || (x[i] <= 0 && x[i - 1] > 0));
        if (crossing) {
            if (k == 0)
                t1 = t[i];
            if (k >= 2)
                t2 = t[i];
            ++k;
        }
        if (k == 3) {
            ++periods;
            sum += t2 - t1;
            t1 = t2;
            k = 1;
        }
    }
    if (periods == 0)
        return std::nullopt;
    const double T = sum / periods;
    if (!(T > 0.0) || !std::isfinite(T))
        return std::nullopt;
    return T;
}

std::optional<double> PendulumLength(std::span<const double> x, std::span<const double> Y, PickSpan span)
{
    span = Within(span, x.size(), Y.size());
    if (span.Count() == 0)
        return std::nullopt;
    double sum = 0.0;
    for (std::size_t i = span.lo; i < span.hi; ++i)
        sum += std::sqrt(x[i] * x[i] + Y[i] * Y[i]);
    const double L = sum / static_cast<double>(span.Count());
    if (!std::isfinite(L))
        return std::nullopt;
    return L;
}

std::optional<double> PendulumGravity(double length, double period)
{
    if (!(period > 0.0))
        return std::nullopt;
    const double g = 4.0 * length * kPi * kPi / (period * period);
    if (!std::isfinite(g))
        return std::nullopt;
    return g;
}

}  // namespace zelkor::experiments::numerics
