#pragma once
// The single pendulum's results from a picked stretch of the trace: the period from zero crossings of the
// displacement, the length as the mean distance from the suspension point, and g = 4 pi^2 L / T^2.
// A stretch that gives no number gives an empty optional; the window then keeps the result at 0.

#include "common.h"

#include <optional>
#include <span>

namespace zelkor::experiments::numerics {

// A crossing at i >= 1: (x[i] >= 0 and x[i-1] < 0) or (x[i] <= 0 and x[i-1] > 0); its time is t[i]. Every
// second crossing after the first closes a full period, and consecutive periods share their boundary
// crossing; T = sum of the periods / their number. Empty without a full period or when T is not positive.
std::optional<double> PendulumPeriod(std::span<const double> x, std::span<const double> t, PickSpan span);

// The mean of sqrt(x^2 + Y^2) over the stretch: x the displacement from X0, Y the absolute Y, so the
// distance from (X0, 0). Empty for an empty stretch.
std::optional<double> PendulumLength(std::span<const double> x, std::span<const double> Y, PickSpan span);

// g = 4 L pi pi / (T T) with the base's pi. Empty unless T is positive and the result finite.
std::optional<double> PendulumGravity(double length, double period);

}  // namespace zelkor::experiments::numerics
