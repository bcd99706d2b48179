#include "spectrum.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace zelkor::experiments::numerics {

std::vector<double> SmoothTrace(std::span<const double> r)
{
    const std::size_t n = r.size();
    if (n == 0)
        return {};
    const std::size_t m = 2 * n;
    std::vector<double> b(m);
    b[0] = r[0];
    for (std::size_t i = 1; i + 1 < m; ++i)
        b[i] = i % 2 == 0 ? r[i / 2] : 0.7 * r[(i - 1) / 2] + 0.3 * r[(i + 1) / 2];
    b[m - 1] = b[m - 2];

    std::vector<double> c(m);
    c[0] = b[0];
    c[1] = b[1];
    for (std::size_t i = 0; i + 2 < m; ++i)
        c[i + 2] = 0.0025 * b[i] + 0.005 * b[i + 1] + 0.0025 * b[i + 2] + 1.8536 * c[i + 1] - 0.8636 * c[i];

    std::vector<double> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = (c[2 * i] + c[2 * i + 1]) * 0.5;
    return out;
}

bool Fft(std::span<std::complex<double>> data)
{
    const std::size_t n = data.size();
    if (!std::has_single_bit(n))
        return false;
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(data[i], data[j]);
    }
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::size_t half = len / 2;
        for (std::size_t k = 0; k < half; ++k) {
            // Each twiddle from its own angle, so errors do not build up along a stage.
            const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(len);
            const std::complex<double> w(std::cos(angle), std::sin(angle));
            for (std::size_t start = 0; start < n; start += len) {
                const std::complex<double> odd = w * data[start + k + half];
                data[start + k + half] = data[start + k] - odd;
                data[start + k] += odd;
            }
        }
    }
    return true;
}

SpectrumLength SpectrumLengthFor(std::size_t n)
{
    constexpr std::size_t kBlock = 256;
    constexpr std::size_t kPadded = 2048;
    SpectrumLength out;
    out.used = n >= kBlock ? kBlock * (n / kBlock) : n;
    out.transform = out.used < kPadded ? kPadded : std::bit_ceil(out.used);
    return out;
}

std::optional<double> MeasureRadius(std::span<const double> u, std::span<const double> w, PickSpan span)
{
    span.hi = std::min({span.hi, u.size(), w.size()});
    if (span.lo >= span.hi)
        return std::nullopt;
    std::vector<double> d;
    d.reserve(span.Count());
    for (std::size_t i = span.lo; i < span.hi; ++i)
        d.push_back(std::sqrt(u[i] * u[i] + w[i] * w[i]));
    d = SmoothTrace(d);
    double sum = 0.0;
    for (const double v : d)
        sum += v;
    const double r = sum / static_cast<double>(d.size());
    if (!std::isfinite(r))
        return std::nullopt;
    return r;
}

std::optional<Rotation> MeasureRotation(std::span<const double> w, PickSpan span, double frequency)
{
    span.hi = std::min(span.hi, w.size());
    if (span.lo >= span.hi || !(frequency > 0.0) || !std::isfinite(frequency))
        return std::nullopt;
    const SpectrumLength len = SpectrumLengthFor(span.Count());
    const std::size_t n = len.used;
    const std::size_t N = len.transform;
    std::vector<std::complex<double>> spectrum(N);
    for (std::size_t i = 0; i < n; ++i)
        spectrum[i] = w[span.lo + i];
    Fft(spectrum);

    std::vector<double> a(N);
    double sum = 0.0;
    for (std::size_t k = 0; k < N; ++k) {
        a[k] = std::abs(spectrum[k]);
        sum += a[k];
    }
    // The mean divides by the samples used, not by the padded length.
    const double mean = sum / static_cast<double>(n);
    for (double& v : a)
        v -= mean;
    a[0] = 0.0;

    std::size_t peak = 0;
    double best = 0.0;
    for (std::size_t k = 0; k < N / 2; ++k) {
        if (a[k] > best) {
            best = a[k];
            peak = k;
        }
    }
    if (peak == 0)
        return std::nullopt;
    Rotation out;
    out.peak = peak;
    out.length = N;
    out.rate = frequency / static_cast<double>(N) * static_cast<double>(peak) * 60;
    out.period = 60 / out.rate;
    out.omega = 2 * kPi / out.period;
    if (!std::isfinite(out.rate) || !std::isfinite(out.period) || !std::isfinite(out.omega))
        return std::nullopt;
    return out;
}

}  // namespace zelkor::experiments::numerics
