#include "energy_smoothing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace zelkor::experiments::numerics {

namespace {

constexpr std::array<double, 10> kLow = {
    0.160102397974193,   0.60382926979719,    0.724308528437773,  0.13842814590132,   -0.242294887066382,
    -0.0322448695846381, 0.0775714938400459,  -0.0062414902127983, -0.012580751999082, 0.0033357252854738,
};

// g(k) = (-1)^k h(9 - k)
constexpr std::array<double, 10> kHigh = [] {
    std::array<double, 10> g{};
    for (std::size_t k = 0; k < 10; ++k)
        g[k] = (k % 2 == 0 ? 1.0 : -1.0) * kLow[9 - k];
    return g;
}();

constexpr double kScale = 1000.0;
constexpr std::size_t kLeadIn = 64;
constexpr double kGravity = 9.8;

struct Level {
    std::vector<double> approximation, detail;
};

// One analysis step; an index at or past the end of s reads its last value.
Level Analyse(const std::vector<double>& s)
{
    const std::size_t half = s.size() / 2;
    Level out{std::vector<double>(half), std::vector<double>(half)};
    for (std::size_t p = 0; p < half; ++p) {
        double a = 0.0, d = 0.0;
        for (std::size_t k = 0; k < 10; ++k) {
            const double v = s[std::min(2 * p + k, s.size() - 1)];
            a += kLow[k] * v;
            d += kHigh[k] * v;
        }
        out.approximation[p] = a;
        out.detail[p] = d;
    }
    return out;
}

// One synthesis step: every tap 0 ... 9 that pairs output i with a coefficient k (i - 2k in 0 ... 9)
// takes part, so the step inverts Analyse; a negative k reads coefficient 0.
std::vector<double> Synthesise(const Level& level)
{
    const std::vector<double>& A = level.approximation;
    const std::vector<double>& D = level.detail;
    const auto size = static_cast<long long>(2 * A.size());
    std::vector<double> out(static_cast<std::size_t>(size));
    for (long long i = 0; i < size; ++i) {
        const long long lo = i % 2 == 0 ? (i - 8) / 2 : (i - 9) / 2;
        double sum = 0.0;
        for (long long k = lo; k <= i / 2; ++k) {
            const auto tap = static_cast<std::size_t>(i - 2 * k);
            const auto at = static_cast<std::size_t>(std::max(k, 0LL));
            sum += kLow[tap] * A[at] + kHigh[tap] * D[at];
        }
        out[static_cast<std::size_t>(i)] = sum;
    }
    return out;
}

}  // namespace

SampleRange SelectRange(std::span<const double> x, double a, double b, SampleRange previous)
{
    const auto n = static_cast<int>(std::min(x.size(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
    if (n < 3)
        return previous;
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    // Scanning against the motion, the sample found for the nearer value closes the range and the one
    // for the farther value opens it.
    // The way the ball went, from the whole path: its first samples are usually taken while it is still
    // held, where the sensor's noise alone orders them.
    const bool towardsSmaller = x[static_cast<std::size_t>(n - 1)] < x[0];
    int& nearSide = towardsSmaller ? previous.end : previous.first;
    int& farSide = towardsSmaller ? previous.first : previous.end;
    bool nearFound = false;
    for (int step = 0; step < n; ++step) {
        const int i = towardsSmaller ? n - 1 - step : step;
        if (towardsSmaller && i < 1)
            break;
        const double xi = x[static_cast<std::size_t>(i)];
        if (!nearFound && xi >= low) {
            nearSide = i;
            nearFound = true;
        }
        if (xi >= high) {
            farSide = i;
            break;
        }
    }
    // -1 stands for an open end, not for an index before the first.
    if (previous.first >= 0 && previous.end >= 0 && previous.end < previous.first)
        std::swap(previous.first, previous.end);
    return previous;
}

Energies ComputeEnergies(std::span<const double> x, std::span<const double> y, std::span<const float> t,
                         double mass, SampleRange range)
{
    Energies out;
    const std::size_t N = std::min({x.size(), y.size(), t.size()});
    if (N == 0)
        return out;
    const double m = std::isfinite(mass) ? mass : 0.0;
    std::size_t u = range.first < 0 ? 0 : std::min(static_cast<std::size_t>(range.first), N);
    std::size_t v = range.end < 0 ? N : std::min(static_cast<std::size_t>(range.end), N);
    if (u > v)
        std::swap(u, v);
    if (u == v) {
        u = 0;
        v = N;
    }
    for (std::size_t F = u; F < v; ++F) {
        double ek = 0.0;
        if (F > 0 && F + 1 < N) {
            const float dt = t[F + 1] - t[F - 1];
            // Samples that do not move forward in time have no velocity.
            if (dt > 0.0f) {
                const double vx = (x[F + 1] - x[F - 1]) / dt;
                const double vy = (y[F + 1] - y[F - 1]) / dt;
                ek = 0.5 * m * (vx * vx + vy * vy);
            }
        }
        out.t.push_back(t[F]);
        out.potential.push_back(y[F] * m * kGravity);
        out.kinetic.push_back(ek);
    }
    out.kinetic = SmoothKineticEnergy(out.kinetic);
    for (std::size_t j = 0; j < out.t.size(); ++j) {
        out.total.push_back(out.potential[j] + out.kinetic[j]);
        for (const double e : {out.potential[j], out.kinetic[j], out.total[j]}) {
            out.lowest = std::min(out.lowest, e);
            out.highest = std::max(out.highest, e);
        }
    }
    return out;
}

std::vector<double> SmoothKineticEnergy(std::span<const double> e)
{
    const std::size_t n = e.size();
    if (n == 0)
        return {};
    // Sized from the signal: a multiple of 8, so that three halvings come out even.
    const std::size_t P = (n + kLeadIn + 7) / 8 * 8;
    std::vector<double> s(P, e[n - 1] * kScale);
    std::fill_n(s.begin(), kLeadIn, e[0] * kScale);
    for (std::size_t j = 0; j < n; ++j)
        s[kLeadIn + j] = e[j] * kScale;

    Level level1 = Analyse(s);
    Level level2 = Analyse(level1.approximation);
    Level level3 = Analyse(level2.approximation);
    level2.approximation = Synthesise(level3);
    std::fill(level2.detail.begin(), level2.detail.end(), 0.0);
    level1.approximation = Synthesise(level2);
    std::fill(level1.detail.begin(), level1.detail.end(), 0.0);
    const std::vector<double> out = Synthesise(level1);

    std::vector<double> smoothed(n);
    for (std::size_t j = 0; j < n; ++j)
        smoothed[j] = out[kLeadIn + j] / kScale;
    return smoothed;
}

}  // namespace zelkor::experiments::numerics
