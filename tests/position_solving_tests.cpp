// Solving a pair of distances into a position, checked against worked values and against the
// relation between the turned frame and the sensor frame.
#include "acquisition/position_solving.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zelkor::acquisition;

namespace {

struct Position {
    double x, y;
};

Position Solve(int variant, double left, double right)
{
    Position p{};
    SolverFor(variant)(left, right, p.x, p.y);
    return p;
}

}  // namespace

TEST(PositionSolving, WorkedValues)
{
    const Position equal2 = Solve(2, 0.1, 0.1);
    EXPECT_NEAR(equal2.x, 0.0, 1e-15);
    EXPECT_NEAR(equal2.y, 0.093860, 5e-7);
    const Position equal1 = Solve(1, 0.1, 0.1);
    EXPECT_NEAR(equal1.x, 0.016369, 5e-7);
    EXPECT_NEAR(equal1.y, 0.016369, 5e-7);
    const Position equal0 = Solve(0, 0.1, 0.1);
    EXPECT_EQ(equal0.x, 0.1);
    EXPECT_EQ(equal0.y, 0.1);

    const Position a2 = Solve(2, 0.2, 0.15);
    EXPECT_NEAR(a2.x, 0.126812, 5e-7);
    EXPECT_NEAR(a2.y, 0.118231, 5e-7);
    const Position a1 = Solve(1, 0.2, 0.15);
    EXPECT_NEAR(a1.x, -0.056067, 5e-7);
    EXPECT_NEAR(a1.y, 0.123271, 5e-7);

    const Position far1 = Solve(1, 0.5, 0.5);
    EXPECT_NEAR(far1.x, 0.302711, 5e-7);
    EXPECT_NEAR(far1.y, 0.302711, 5e-7);
}

TEST(PositionSolving, SensorFrameSidesAndDistances)
{
    // Closer to the right receiver: positive X; the solved point is at the measured distances.
    for (const auto& [left, right] : {std::pair{0.3, 0.25}, std::pair{0.25, 0.3}, std::pair{1.2, 1.19}}) {
        const Position p = Solve(2, left, right);
        EXPECT_EQ(p.x > 0, right < left);
        EXPECT_GT(p.y, 0);
        EXPECT_NEAR(std::hypot(p.x + kBaseline / 2, p.y), left, 1e-12);
        EXPECT_NEAR(std::hypot(p.x - kBaseline / 2, p.y), right, 1e-12);
    }
}

TEST(PositionSolving, TurnedFrameIsTheSensorFrameTurnedAndShifted)
{
    for (const auto& [left, right] : {std::pair{0.1, 0.1}, std::pair{0.2, 0.15}, std::pair{0.7, 0.72}}) {
        const Position s = Solve(2, left, right);
        const Position t = Solve(1, left, right);
        EXPECT_NEAR(t.x, (s.y - s.x) / std::sqrt(2.0) - 0.05, 1e-6);
        EXPECT_NEAR(t.y, (s.x + s.y) / std::sqrt(2.0) - 0.05, 1e-6);
    }
}

TEST(PositionSolving, OnlyThreeVariants)
{
    EXPECT_EQ(SolverFor(-1), nullptr);
    EXPECT_EQ(SolverFor(3), nullptr);
}
