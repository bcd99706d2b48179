#include "fits.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zelkor::experiments::numerics {

namespace {

bool Finite(double v) { return std::isfinite(v); }

// At least `wanted` different values among v.
bool HasDistinct(std::span<const double> v, std::size_t wanted)
{
    std::vector<double> seen;
    for (const double value : v) {
        if (std::find(seen.begin(), seen.end(), value) == seen.end()) {
            seen.push_back(value);
            if (seen.size() >= wanted)
                return true;
        }
    }
    return false;
}

}  // namespace

RecordRange SelectedRecords(std::size_t n, int minRow, int maxRow)
{
    const auto count = static_cast<long long>(n);
    RecordRange range{0, count - 1};
    if (maxRow > minRow) {
        range.first = std::max(minRow - 1, 0);
        range.last = maxRow - 1;
        if (range.last > count)
            range.last = count - 1;
    }
    return range;
}

Curve CentralDifferences(std::span<const double> t, std::span<const double> v, RecordRange range, int d)
{
    Curve out;
    if (d < 1)
        return out;
    const auto size = static_cast<long long>(std::min(t.size(), v.size()));
    const long long begin = std::max(range.first + d, static_cast<long long>(d));
    // i + d must stay inside the records however far the range reaches.
    const long long end = std::min(range.last - d, size - d);
    for (long long i = begin; i < end; ++i) {
        const auto lo = static_cast<std::size_t>(i - d);
        const auto hi = static_cast<std::size_t>(i + d);
        out.x.push_back(t[static_cast<std::size_t>(i)]);
        out.y.push_back((v[hi] - v[lo]) / (t[hi] - t[lo]));
    }
    return out;
}

std::optional<double> FreeFallAcceleration(std::span<const double> t, std::span<const double> y,
                                           RecordRange range, int d)
{
    const Curve vel = CentralDifferences(t, y, range, d);
    const std::size_t m = vel.y.size();
    if (m < 3)
        return std::nullopt;
    double sum = 0.0;
    for (std::size_t j = 0; j + 2 < m; ++j)
        sum += (vel.y[j + 2] - vel.y[j]) / (vel.x[j + 2] - vel.x[j]);
    const double a = sum / static_cast<double>(m - 2);
    if (!Finite(a))
        return std::nullopt;
    return a;
}

std::optional<double> ProjectileAcceleration(std::span<const double> t, std::span<const double> y, int K)
{
    const auto n = static_cast<long long>(std::min(t.size(), y.size()));
    // One record alone gives 0 / (t^2 - tc^2): no acceleration at all.
    if (K < 0 || K >= n - 3)
        return std::nullopt;
    const auto first = static_cast<std::size_t>(K);
    const auto last = static_cast<std::size_t>(n - 3);
    const double tc = std::sqrt(2 * y[first] / 9.8);
    const double a = 2 * (y[last] - y[first]) / (t[last] * t[last] - tc * tc);
    if (!Finite(a))
        return std::nullopt;
    return a;
}

std::optional<Line> FitLine(std::span<const double> x, std::span<const double> y, std::size_t skipFront,
                            std::size_t skipBack)
{
    const std::size_t size = std::min(x.size(), y.size());
    if (skipFront + skipBack >= size)
        return std::nullopt;
    x = x.subspan(skipFront, size - skipFront - skipBack);
    y = y.subspan(skipFront, x.size());
    if (!HasDistinct(x, 2))
        return std::nullopt;
    double st = 0.0, sv = 0.0, stv = 0.0, stt = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        st += x[i];
        sv += y[i];
        stv += x[i] * y[i];
        stt += x[i] * x[i];
    }
    const auto n = static_cast<double>(x.size());
    const double k = (n * stv - st * sv) / (n * stt - st * st);
    const double b = (sv - k * st) / n;
    if (!Finite(k) || !Finite(b))
        return std::nullopt;
    return Line{k, b};
}

std::optional<Parabola> FitParabola(std::span<const double> x, std::span<const double> y)
{
    const std::size_t n = std::min(x.size(), y.size());
    x = x.first(n);
    y = y.first(n);
    if (!HasDistinct(x, 3))
        return std::nullopt;
    std::array<double, 5> S{};
    std::array<double, 3> T{};
    for (std::size_t i = 0; i < n; ++i) {
        for (int j = 0; j < 5; ++j)
            S[j] += std::pow(x[i], j);
        for (int k = 0; k < 3; ++k)
            T[k] += std::pow(x[i], k) * y[i];
    }
    double M[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M[i][j] = S[i + j];
    for (int k = 0; k < 2; ++k) {
        if (M[k][k] == 0.0 || !Finite(M[k][k]))
            return std::nullopt;
        for (int i = k + 1; i < 3; ++i) {
            const double factor = M[i][k] / M[k][k];
            for (int j = k; j < 3; ++j)
                M[i][j] -= factor * M[k][j];
            T[i] -= factor * T[k];
        }
    }
    if (M[2][2] == 0.0 || !Finite(M[2][2]))
        return std::nullopt;
    Parabola p;
    p.a2 = T[2] / M[2][2];
    p.a1 = static_cast<float>((T[1] - M[1][2] * p.a2) / M[1][1]);
    p.a0 = static_cast<float>((T[0] - M[0][1] * p.a1 - M[0][2] * p.a2) / M[0][0]);
    if (!Finite(p.a2) || !Finite(p.a1) || !Finite(p.a0))
        return std::nullopt;
    return p;
}

Curve ParabolaPoints(const Parabola& p, double xMin, double xSpan, int plotWidthPx)
{
    Curve out;
    if (plotWidthPx <= 0)
        return out;
    const double step = xSpan / plotWidthPx;
    const double xMax = xMin + xSpan;
    if (!(step > 0.0) || !Finite(step) || !Finite(xMax))
        return out;
    // A step too small to advance x, or a view far to the right of x = 0, must not run away.
    constexpr std::size_t kMostPoints = std::size_t{1} << 20;
    for (double x = 0.0; x < xMax && out.x.size() < kMostPoints; x += step) {
        out.x.push_back(x);
        out.y.push_back(p.a2 * x * x + p.a1 * x + p.a0);
    }
    return out;
}

std::optional<TimeRebuild> RebuildTimes(std::span<const double> x, std::span<const double> t)
{
    const std::size_t n = t.size();
    if (n < 3 || x.size() != n)
        return std::nullopt;
    const double d = (t[n - 1] - t[1]) / static_cast<double>(n - 2);
    const double a = (x[n - 1] - x[0]) / static_cast<double>(n - 1);
    if (!(a > 0.0) || !Finite(a) || !(d > 0.0) || !Finite(d))
        return std::nullopt;
    TimeRebuild out;
    out.step = d;
    out.t.resize(n);
    out.t[0] = x[0] / a * d;
    for (std::size_t i = 1; i < n; ++i)
        out.t[i] = out.t[i - 1] + d;
    return out;
}

}  // namespace zelkor::experiments::numerics
