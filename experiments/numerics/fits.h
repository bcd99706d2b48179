#pragma once
// Finite differences and least squares of the recording experiments (free fall, projectile, incline):
// velocities by central differences, the acceleration estimates, straight-line and parabola fits, and the
// time rebuild from the horizontal motion. Failures come back as an empty optional, never as NaN, so the
// window can say "曲线拟合失败！" or show no label.

#include "common.h"

#include <optional>
#include <span>

namespace zelkor::experiments::numerics {

// Records first ... last that the estimators work on (centres run from first + d to last - d - 1).
struct RecordRange {
    long long first = 0, last = -1;
};

// The range of n records for a table selection of rows minRow ... maxRow (row r shows record r - 1). A
// selection of fewer than two rows means all records. A last row past the records is limited as the
// free-fall window does it; a selection reaching into the header row starts at the first record.
RecordRange SelectedRecords(std::size_t n, int minRow, int maxRow);

// Central differences of half-width d: for every centre i with first + d <= i < last - d, the point
// (t[i], (v[i+d] - v[i-d]) / (t[i+d] - t[i-d])). Centres whose neighbours lie outside t or v are skipped.
Curve CentralDifferences(std::span<const double> t, std::span<const double> v, RecordRange range, int d);

// Free fall: the mean over j of (v[j+2] - v[j]) / (T[j+2] - T[j]) of the vertical central differences.
// Empty with fewer than three velocities or when the result is not finite.
std::optional<double> FreeFallAcceleration(std::span<const double> t, std::span<const double> y,
                                           RecordRange range, int d);

// Projectile: a = 2 (y[n-3] - y[K]) / (t[n-3]^2 - tc^2) with tc = sqrt(2 y[K] / 9.8), the free-fall time of
// the first used record's height; K = 2 at 25 Hz, 4 at 50 Hz. Empty when records K ... n-3 are fewer than
// two, or the result is not finite (a first y above the zero point).
std::optional<double> ProjectileAcceleration(std::span<const double> t, std::span<const double> y, int K);

// v = k t + b by least squares.
struct Line {
    double k = 0.0, b = 0.0;
};
// Fits the points (x[i], y[i]) without the first skipFront and the last skipBack of them. Empty with
// fewer than two points, a single x value or a result that is not finite.
std::optional<Line> FitLine(std::span<const double> x, std::span<const double> y, std::size_t skipFront = 0,
                            std::size_t skipBack = 0);

// y = a0 + a1 x + a2 x^2; a1 and a0 are held in single precision as the window draws them.
struct Parabola {
    double a2 = 0.0;
    float a1 = 0.0f;
    float a0 = 0.0f;
};
// Normal equations solved by Gaussian elimination without pivoting. Empty with fewer than three
// distinct x values, a zero or non-finite pivot, or a result that is not finite.
std::optional<Parabola> FitParabola(std::span<const double> x, std::span<const double> y);

// One point per pixel from x = 0 while x < xMin + xSpan; empty for a plot without width.
Curve ParabolaPoints(const Parabola& p, double xMin, double xSpan, int plotWidthPx);

// The rebuilt times and the mean interval d that becomes the new time step.
struct TimeRebuild {
    std::vector<double> t;
    double step = 0.0;
};
// From n >= 3 records with positions x and times t: d = (t[n-1] - t[1]) / (n - 2), a = the mean horizontal
// step per sample, t[0] = x[0] / a * d and each later time d after the one before. Empty (times stay as
// they are) with fewer than three records, or when a or d is not positive and finite (a ball at rest or
// moving back).
std::optional<TimeRebuild> RebuildTimes(std::span<const double> x, std::span<const double> t);

}  // namespace zelkor::experiments::numerics
