#pragma once
// Turns the two measured distances (metres) into a position X, Y (metres). Three variants, chosen by the
// experiment through the transform index: 0 raw distances, 1 the turned frame, 2 the sensor frame.

namespace zelkor::acquisition {

inline constexpr double kBaseline = 0.069;  // metres between the left and the right receiver
inline constexpr double kPi = 3.1415926;

// The engine solves only pairs that form a real triangle with the baseline (strict inequalities;
// NaN fails too). Such a pair can still lie within rounding of a degenerate triangle (the transmitter
// on the line through the receivers), so the solvers clamp every cosine they take to [-1, 1].
bool FormsTriangle(double left, double right, double baseline = kBaseline);

void SolveRaw(double left, double right, double& x, double& y, double baseline = kBaseline);
void SolveTurned(double left, double right, double& x, double& y, double baseline = kBaseline, double pi = kPi);
void SolveSensorFrame(double left, double right, double& x, double& y, double baseline = kBaseline);

using SolveFunction = void (*)(double left, double right, double& x, double& y);
// The solving table, indexed by the transform index 0, 1, 2.
SolveFunction SolverFor(int transformIndex);

}  // namespace zelkor::acquisition
