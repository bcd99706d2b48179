#include "position_solving.h"

#include <algorithm>
#include <cmath>

namespace zelkor::acquisition {

namespace {

// Rounding can leave a cosine of a nearly flat triangle a few ulps outside [-1, 1]; inside the range
// the value is untouched, so results keep their last digit.
double ClampedAcos(double cosine)
{
    return std::acos(std::clamp(cosine, -1.0, 1.0));
}

}  // namespace

bool FormsTriangle(double left, double right, double baseline)
{
    return left + right > baseline && std::fabs(left - right) < baseline;
}

void SolveRaw(double left, double right, double& x, double& y, double)
{
    x = left;
    y = right;
}

// Law of cosines at the right receiver; origin midway between the receivers, X towards the right one.
void SolveSensorFrame(double left, double right, double& x, double& y, double baseline)
{
    const double B = baseline;
    const double k = (B * B + right * right - left * left) / (2 * B * right);
    const double A = ClampedAcos(k);
    x = 0.5 * B - right * k;
    y = right * std::sin(A);
}

// The sensor frame turned by 45 degrees and shifted by 0.05 m on both axes, computed the long way round
// (distance and angle from the midpoint) so that results match to the last digit.
void SolveTurned(double left, double right, double& x, double& y, double baseline, double pi)
{
    const double B = baseline;
    const double h = 0.5 * B;
    const double k = (right * right + B * B - left * left) / (2 * B * right);
    const double m2 = h * h + right * right - k * B * right;
    // m2 is the squared median of the triangle, above zero for every accepted pair; the bound only
    // keeps the root real whatever the rounding.
    const double m = std::sqrt(std::max(m2, 0.0));
    const double phi = ClampedAcos((h * h + m * m - right * right) / (m * B));
    x = m * std::sin(phi - 0.25 * pi) - 0.05;
    y = m * std::cos(phi - 0.25 * pi) - 0.05;
}

namespace {
void Variant0(double l, double r, double& x, double& y) { SolveRaw(l, r, x, y); }
void Variant1(double l, double r, double& x, double& y) { SolveTurned(l, r, x, y); }
void Variant2(double l, double r, double& x, double& y) { SolveSensorFrame(l, r, x, y); }
constexpr SolveFunction kSolvers[3] = {Variant0, Variant1, Variant2};
}  // namespace

SolveFunction SolverFor(int transformIndex)
{
    if (transformIndex < 0 || transformIndex > 2)
        return nullptr;
    return kSolvers[transformIndex];
}

}  // namespace zelkor::acquisition
