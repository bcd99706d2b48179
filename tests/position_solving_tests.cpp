// Solving a pair of distances into a position, checked against worked values and against the
// relation between the turned frame and the sensor frame.
#include "acquisition/position_solving.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

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

namespace {

// Distances as the engine makes them: single-precision millimetres from the report, times 0.001.
double Metres(float mm)
{
    return mm * 0.001;
}

bool Finite(const Position& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Variant 2 puts an accepted pair at its measured distances (on or above the line through the
// receivers) and variant 1 is its turned and shifted copy, to a flat triangle's rounding.
void ExpectSound(double left, double right)
{
    SCOPED_TRACE(testing::Message() << "left " << left << " right " << right);
    const Position s = Solve(2, left, right);
    const Position t = Solve(1, left, right);
    ASSERT_TRUE(Finite(s));
    ASSERT_TRUE(Finite(t));
    EXPECT_GE(s.y, 0.0);
    EXPECT_NEAR(std::hypot(s.x + kBaseline / 2, s.y), left, 1e-9);
    EXPECT_NEAR(std::hypot(s.x - kBaseline / 2, s.y), right, 1e-9);
    EXPECT_NEAR(t.x, (s.y - s.x) / std::sqrt(2.0) - 0.05, 1e-6);
    EXPECT_NEAR(t.y, (s.x + s.y) / std::sqrt(2.0) - 0.05, 1e-6);
}

}  // namespace

// Integer-millimetre pairs on the two edges of the triangle test: the difference equal to the
// baseline (transmitter on the line beyond a receiver) and the sum equal to it (between them).
// Whatever the rounding lets through solves to a position on that line, never to NaN.
TEST(PositionSolving, EdgePairsThatPassTheTriangleTestSolveSoundly)
{
    std::vector<std::pair<int, int>> pairs;  // (left, right) in mm
    for (int a = 1; a <= 4000; ++a) {
        pairs.emplace_back(a, a + 69);
        pairs.emplace_back(a + 69, a);
        if (a < 69)
            pairs.emplace_back(a, 69 - a);
    }
    int accepted = 0;
    for (const auto& [l, r] : pairs) {
        const double left = Metres(static_cast<float>(l));
        const double right = Metres(static_cast<float>(r));
        if (FormsTriangle(left, right)) {
            ++accepted;
            ExpectSound(left, right);
        }
    }
    // Rounding lets a good part of them through; over a third of those used to solve to NaN.
    EXPECT_GT(accepted, 2000);

    // The pair of the report: the transmitter 145.5 mm right of the midpoint, on the line.
    const Position t = Solve(1, Metres(180.0f), Metres(111.0f));
    EXPECT_NEAR(t.x, -0.1455 / std::sqrt(2.0) - 0.05, 1e-7);
    EXPECT_NEAR(t.y, 0.1455 / std::sqrt(2.0) - 0.05, 1e-7);
}

// Arbitrary bit patterns, as a damaged report carries them: whatever the triangle test accepts gives
// a finite position in every variant.
TEST(PositionSolving, AnyAcceptedPairGivesAFinitePosition)
{
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        const double left = Metres(std::bit_cast<float>(next()));
        // Half the time a right distance within the baseline of the left one, so that many pairs pass.
        const double right = i % 2 ? Metres(std::bit_cast<float>(next()))
                                   : left + (static_cast<double>(next() % 2001) - 1000.0) * 7e-5;
        if (!FormsTriangle(left, right))
            continue;
        ++accepted;
        for (int variant = 0; variant < 3; ++variant)
            ASSERT_TRUE(Finite(Solve(variant, left, right))) << left << " " << right << " variant " << variant;
    }
    EXPECT_GT(accepted, 10000);
}
