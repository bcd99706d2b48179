#pragma once
// Uniform circular motion: the radius from a smoothed distance sequence, and the rotation rate from the
// spectrum peak of one coordinate's trace.

#include "common.h"

#include <complex>
#include <optional>
#include <span>

namespace zelkor::experiments::numerics {

// Upsamples 2x (0.7/0.3 between neighbours), runs the second-order low-pass and averages back down to the
// original length. A constant comes back as that constant. Empty in, empty out.
std::vector<double> SmoothTrace(std::span<const double> r);

// Forward radix-2 transform in place, without scaling. False (data untouched) unless the size is a power
// of two.
bool Fft(std::span<std::complex<double>> data);

// Samples used from a stretch of n and the transform length: n >= 256 is cut to a multiple of 256; a
// shorter cut is padded with zeros to 2048; a longer one that is not a power of two is padded to the
// next power of two.
struct SpectrumLength {
    std::size_t used = 0, transform = 0;
};
SpectrumLength SpectrumLengthFor(std::size_t n);

// The mean of the smoothed distances sqrt(u^2 + w^2) over the stretch; empty for an empty stretch.
std::optional<double> MeasureRadius(std::span<const double> u, std::span<const double> w, PickSpan span);

struct Rotation {
    double omega = 0.0;      // rad/s, 2 pi / T
    double rate = 0.0;       // r/min, f / N * k * 60
    double period = 0.0;     // s, 60 / R
    std::size_t peak = 0;    // k
    std::size_t length = 0;  // N
};
// The peak of the mean-removed spectrum magnitudes in 0 ... N/2 - 1 of the trace values w over the stretch,
// with f the sampling frequency the trace was recorded at. Empty for an empty stretch, no peak above the
// mean (peak index 0) or a frequency that is not positive.
std::optional<Rotation> MeasureRotation(std::span<const double> w, PickSpan span, double frequency);

}  // namespace zelkor::experiments::numerics
