// The experiments' calculations: finite differences and fits, the pendulum's period, the spectrum and
// the smoothings, the energies. Worked values, the edge cases of each window, and inputs that must give
// "no result" instead of NaN.
#include "experiments/numerics/energy_smoothing.h"
#include "experiments/numerics/fits.h"
#include "experiments/numerics/pendulum_period.h"
#include "experiments/numerics/spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>

using namespace zelkor::experiments::numerics;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// t[i] = t0 + i * step, and f(t) for each.
std::vector<double> Times(std::size_t n, double step, double t0 = 0.0)
{
    std::vector<double> t(n);
    for (std::size_t i = 0; i < n; ++i)
        t[i] = t0 + static_cast<double>(i) * step;
    return t;
}
template <typename F>
std::vector<double> Map(const std::vector<double>& t, F f)
{
    std::vector<double> out;
    for (const double v : t)
        out.push_back(f(v));
    return out;
}
std::vector<double> Fall(const std::vector<double>& t) { return Map(t, [](double s) { return 4.9 * s * s; }); }

}  // namespace

// ---- finite differences and fits ----

TEST(Fits, SelectedRecords)
{
    struct Case {
        std::size_t n;
        int minRow, maxRow;
        long long first, last;
    };
    for (const Case& c : {
             Case{9, -1, -1, 0, 8},   // no selection
             Case{9, 3, 3, 0, 8},     // one row counts as none
             Case{9, 2, 5, 1, 4},     // rows 2 ... 5 are records 1 ... 4
             Case{9, 2, 10, 1, 9},    // the row after the last record stays (reads stay below it)
             Case{9, 2, 11, 1, 8},    // further rows are limited
             Case{9, 0, 4, 0, 3},     // a selection from the header row starts at the first record
         }) {
        const RecordRange r = SelectedRecords(c.n, c.minRow, c.maxRow);
        EXPECT_EQ(r.first, c.first) << c.minRow << ".." << c.maxRow;
        EXPECT_EQ(r.last, c.last) << c.minRow << ".." << c.maxRow;
    }
}

TEST(Fits, CentralDifferencesCentresAndBounds)
{
    const std::vector<double> t = Times(9, 0.02);
    const std::vector<double> y = Fall(t);
    // Nine records at 50 Hz: centres 2 ... 5, the last record never an upper neighbour.
    const Curve v = CentralDifferences(t, y, SelectedRecords(9, 0, 0), 2);
    ASSERT_EQ(v.x.size(), 4u);
    for (std::size_t j = 0; j < 4; ++j) {
        EXPECT_DOUBLE_EQ(v.x[j], t[j + 2]);
        EXPECT_NEAR(v.y[j], 9.8 * t[j + 2], 1e-12);
    }
    EXPECT_EQ(CentralDifferences(t, y, SelectedRecords(9, 0, 0), 1).x.size(), 6u);
    // A range reaching two rows past the records must not read beyond them.
    EXPECT_EQ(CentralDifferences(t, y, RecordRange{0, 10}, 2).x.back(), t[6]);
    EXPECT_TRUE(CentralDifferences(t, y, RecordRange{0, 8}, 0).x.empty());
}

TEST(Fits, FreeFallAcceleration)
{
    const std::vector<double> t = Times(20, 0.02, 0.1);
    const std::vector<double> y = Fall(t);
    EXPECT_NEAR(FreeFallAcceleration(t, y, SelectedRecords(20, 0, 0), 2).value(), 9.8, 1e-9);
    EXPECT_NEAR(FreeFallAcceleration(t, y, SelectedRecords(20, 5, 15), 1).value(), 9.8, 1e-9);
    // Four records at 50 Hz give one velocity: no label.
    EXPECT_FALSE(FreeFallAcceleration(std::span(t).first(4), y, SelectedRecords(4, 0, 0), 2));
    // An imported sheet with text in its time column: times all 0.
    const std::vector<double> zeros(20, 0.0);
    EXPECT_FALSE(FreeFallAcceleration(zeros, y, SelectedRecords(20, 0, 0), 2));
}

TEST(Fits, ProjectileAcceleration)
{
    // Times counted from the launch, as the rebuild makes them: tc equals the first used time.
    const std::vector<double> t = Times(9, 0.02, 0.05);
    const std::vector<double> y = Fall(t);
    EXPECT_NEAR(ProjectileAcceleration(t, y, 4).value(), 9.8, 1e-9);  // records 4 ... 6
    EXPECT_NEAR(ProjectileAcceleration(t, y, 2).value(), 9.8, 1e-9);
    std::vector<double> above = y;
    above[4] = -0.003;  // first used record just above the zero point
    EXPECT_FALSE(ProjectileAcceleration(t, above, 4));
    EXPECT_FALSE(ProjectileAcceleration(std::span(t).first(7), y, 4));
    EXPECT_FALSE(ProjectileAcceleration(std::span(t).first(1), y, 2));
}

TEST(Fits, LineFit)
{
    const std::vector<double> t = Times(6, 0.02, 0.1);
    const std::vector<double> v = Map(t, [](double s) { return 9.8 * s - 0.3; });
    const Line line = FitLine(t, v).value();
    EXPECT_NEAR(line.k, 9.8, 1e-9);
    EXPECT_NEAR(line.b, -0.3, 1e-9);
    std::vector<double> bent = v;
    bent[0] = bent[1] = bent[5] = 100.0;  // dropped by the trimmed fit
    EXPECT_NEAR(FitLine(t, bent, 2, 1).value().k, 9.8, 1e-9);

    // Failures, never a line of NaN: one point, a single t, nothing left after trimming.
    EXPECT_FALSE(FitLine(std::span(t).first(1), v));
    const std::vector<double> sameT(5, 0.1);  // rounding leaves the determinant just off 0
    EXPECT_FALSE(FitLine(sameT, v));
    EXPECT_FALSE(FitLine(std::span(t).first(3), v, 2, 1));  // seven records at 50 Hz
}

TEST(Fits, ParabolaFit)
{
    const std::vector<double> x = {0.01, 0.05, 0.1, 0.2, 0.3, 0.45};
    const std::vector<double> y = Map(x, [](double s) { return 12.5 * s * s + 0.4 * s - 0.02; });
    const Parabola p = FitParabola(x, y).value();
    EXPECT_NEAR(p.a2, 12.5, 1e-6);
    EXPECT_NEAR(p.a1, 0.4f, 1e-6);
    EXPECT_NEAR(p.a0, -0.02f, 1e-6);

    // Two points, fewer than three distinct x, nothing: a zero pivot is a failed fit.
    EXPECT_FALSE(FitParabola(std::span(x).first(2), y));
    const std::vector<double> twoX = {0.1, 0.2, 0.1, 0.2, 0.2};
    EXPECT_FALSE(FitParabola(twoX, y));
    EXPECT_FALSE(FitParabola({}, {}));
    const std::vector<double> withNaN = {0.1, kNaN, 0.3, 0.4};
    EXPECT_FALSE(FitParabola(withNaN, y));
}

TEST(Fits, ParabolaPointsStartAtZero)
{
    const Parabola p{2.0, 1.0f, 0.5f};
    const Curve c = ParabolaPoints(p, -0.06, 0.86, 430);  // step 0.002, up to x < 0.8
    ASSERT_EQ(c.x.size(), 400u);
    EXPECT_EQ(c.x.front(), 0.0);
    EXPECT_EQ(c.y.front(), 0.5);
    EXPECT_NEAR(c.x.back(), 0.798, 1e-9);
    EXPECT_NEAR(c.y.back(), 2.0 * 0.798 * 0.798 + 0.798 + 0.5, 1e-9);
    EXPECT_TRUE(ParabolaPoints(p, -0.06, 0.86, 0).x.empty());
    EXPECT_TRUE(ParabolaPoints(p, -0.06, kNaN, 100).x.empty());
}

TEST(Fits, TimeRebuild)
{
    // First seen at x = 0.05 m, 0.02 m per sample at d = 0.02 s: t[0] = 0.05 s, then steps of d.
    const std::vector<double> x = Map(Times(6, 1.0), [](double i) { return 0.05 + 0.02 * i; });
    const std::vector<double> t = Times(6, 0.02, 3.7);
    const TimeRebuild r = RebuildTimes(x, t).value();
    EXPECT_NEAR(r.step, 0.02, 1e-12);
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_NEAR(r.t[i], 0.05 + 0.02 * static_cast<double>(i), 1e-12);

    // Times stay as they are: a ball at rest or moving back, too few records, times that do not grow.
    const std::vector<double> rest(6, 0.3);
    EXPECT_FALSE(RebuildTimes(rest, t));
    const std::vector<double> back(x.rbegin(), x.rend());
    EXPECT_FALSE(RebuildTimes(back, t));
    EXPECT_FALSE(RebuildTimes(std::span(x).first(2), std::span(t).first(2)));
    EXPECT_FALSE(RebuildTimes(x, std::vector<double>(6, 0.0)));
    EXPECT_FALSE(RebuildTimes(std::vector<double>{0.0, 0.1, kNaN}, std::span(t).first(3)));
}

// ---- single pendulum ----

TEST(PendulumPeriod, ZeroCrossings)
{
    struct Case {
        const char* what;
        std::vector<double> x;
        std::size_t lo, hi;
        std::optional<double> T;
    };
    const std::vector<Case> cases = {
        {"up, down, up: one period from the first to the third crossing", {-1, 1, 1, -1, -1, 1}, 0, 6, 0.08},
        // Crossings at 1, 3, 4, 6, 8: periods 1 -> 4 and 4 -> 8 share the crossing at 4.
        {"a second period begins at the third crossing", {-1, 1, 1, -1, 1, 1, -1, -1, 1}, 0, 9, 0.07},
        {"a sample at 0 between - and + is one crossing", {-1, 0, 1, 1, -1, -1, 1}, 0, 7, 0.10},
        {"index 0 is never a crossing", {1, -1, 1, -1}, 0, 4, 0.04},
        {"the sample at hi does not take part", {-1, 1, -1, 1}, 0, 3, std::nullopt},
        {"two crossings: no full period", {-1, 1, 1, -1}, 0, 4, std::nullopt},
        {"an empty stretch", {-1, 1, -1, 1}, 2, 2, std::nullopt},
        {"hi past the trace is limited", {-1, 1, -1, 1}, 1, 50, 0.04},
    };
    for (const Case& c : cases) {
        const std::vector<double> t = Times(c.x.size(), 0.02, 0.02);
        const std::optional<double> T = PendulumPeriod(c.x, t, PickSpan{c.lo, c.hi});
        ASSERT_EQ(T.has_value(), c.T.has_value()) << c.what;
        if (T) {
            EXPECT_NEAR(*T, *c.T, 1e-12) << c.what;
        }
    }
}

TEST(PendulumPeriod, PickLengthAndGravity)
{
    EXPECT_FALSE(OrderPick(-1, -1, 10));
    EXPECT_FALSE(OrderPick(3, -1, 10));
    const PickSpan s = OrderPick(7, 2, 10).value();
    EXPECT_EQ(s.lo, 2u);
    EXPECT_EQ(s.hi, 7u);
    EXPECT_EQ(OrderPick(3, 99, 10).value().hi, 10u);

    const std::vector<double> x = {0.3, 0.0, -0.3, 5.0};
    const std::vector<double> Y = {0.4, 0.5, 0.4, 5.0};
    EXPECT_NEAR(PendulumLength(x, Y, PickSpan{0, 3}).value(), 0.5, 1e-15);  // hi = 3 leaves the last out
    EXPECT_FALSE(PendulumLength(x, Y, PickSpan{2, 2}));

    // The base's pi: L = 1, T = 2 gives pi^2 with pi = 3.1415926.
    EXPECT_DOUBLE_EQ(PendulumGravity(1.0, 2.0).value(), 4.0 * 3.1415926 * 3.1415926 / 4.0);
    const double T = 2 * std::numbers::pi * std::sqrt(0.5 / 9.8);
    EXPECT_NEAR(PendulumGravity(0.5, T).value(), 9.8, 1e-5);
    EXPECT_FALSE(PendulumGravity(0.5, 0.0));
    EXPECT_FALSE(PendulumGravity(0.5, kNaN));
    EXPECT_FALSE(PendulumGravity(kInf, 2.0));
}

// ---- trace smoothing and spectrum ----

TEST(Spectrum, TraceSmoothing)
{
    // Worked by hand: b = 0, 0.3, 1, 1; c2 = 0.0015 + 0.0025 + 1.8536 * 0.3; c3 from c2 and c1.
    const std::vector<double> worked = SmoothTrace(std::vector<double>{0.0, 1.0});
    ASSERT_EQ(worked.size(), 2u);
    EXPECT_DOUBLE_EQ(worked[0], 0.15);
    EXPECT_NEAR(worked[1], (0.56008 + 0.787334288) / 2, 1e-12);

    for (const std::size_t n : {1u, 2u, 3u, 250u}) {
        const std::vector<double> out = SmoothTrace(std::vector<double>(n, 0.1503));
        ASSERT_EQ(out.size(), n);
        for (const double v : out)
            EXPECT_NEAR(v, 0.1503, 1e-13) << n;
    }
    EXPECT_TRUE(SmoothTrace({}).empty());
}

TEST(Spectrum, FftMatchesDirectTransform)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (const std::size_t n : {1u, 2u, 8u, 256u, 2048u}) {
        std::vector<std::complex<double>> data(n);
        for (auto& c : data)
            c = {value(random), value(random)};
        std::vector<std::complex<double>> fast = data;
        ASSERT_TRUE(Fft(fast));
        for (std::size_t k = 0; k < n; k += std::max<std::size_t>(1, n / 64)) {
            std::complex<double> direct;
            for (std::size_t j = 0; j < n; ++j)
                direct += data[j] * std::polar(1.0, -2 * std::numbers::pi * static_cast<double>(j * k % n) /
                                                        static_cast<double>(n));
            EXPECT_NEAR(std::abs(fast[k] - direct), 0.0, 1e-9) << n << " " << k;
        }
    }
    std::vector<std::complex<double>> odd(6, {1.0, 0.0});
    EXPECT_FALSE(Fft(odd));
    EXPECT_EQ(odd[1], std::complex<double>(1.0, 0.0));
}

TEST(Spectrum, LengthRule)
{
    struct Case {
        std::size_t n, used, transform;
    };
    for (const Case& c : {Case{1, 1, 2048}, Case{255, 255, 2048}, Case{300, 256, 2048}, Case{2047, 1792, 2048},
                          Case{2048, 2048, 2048}, Case{2100, 2048, 2048}, Case{2304, 2304, 4096},
                          Case{2600, 2560, 4096}, Case{4100, 4096, 4096}, Case{4352, 4352, 8192}}) {
        const SpectrumLength l = SpectrumLengthFor(c.n);
        EXPECT_EQ(l.used, c.used) << c.n;
        EXPECT_EQ(l.transform, c.transform) << c.n;
    }
}

TEST(Spectrum, RotationRate)
{
    // 30 r/min on a 0.15 m circle, w = r sin(omega t), at 50 and 25 Hz.
    struct Case {
        double f;
        std::size_t samples;
        std::size_t length;
    };
    for (const Case& c : {Case{50.0, 300, 2048}, Case{25.0, 300, 2048}, Case{50.0, 2100, 2048},
                          Case{50.0, 2304, 4096}}) {
        const std::vector<double> w =
            Map(Times(c.samples, 1.0 / c.f), [](double s) { return 0.15 * std::sin(std::numbers::pi * s); });
        const Rotation r = MeasureRotation(w, PickSpan{0, c.samples}, c.f).value();
        const double bin = c.f / static_cast<double>(c.length) * 60;  // 1.465 r/min at 50 Hz, 0.732 at 25 Hz
        EXPECT_EQ(r.length, c.length);
        EXPECT_NEAR(r.rate, bin * static_cast<double>(r.peak), 1e-9);
        EXPECT_NEAR(r.rate, 30.0, bin) << c.f << " " << c.samples;
        EXPECT_DOUBLE_EQ(r.period, 60 / r.rate);
        EXPECT_DOUBLE_EQ(r.omega, 2 * 3.1415926 / r.period);
    }
}

TEST(Spectrum, NoRotationResult)
{
    const std::vector<double> w = Map(Times(400, 0.02), [](double s) { return std::sin(3.0 * s); });
    EXPECT_FALSE(MeasureRotation(w, PickSpan{5, 5}, 50.0));            // empty stretch
    EXPECT_FALSE(MeasureRotation(w, PickSpan{0, 400}, 0.0));           // no frequency
    EXPECT_FALSE(MeasureRotation(std::vector<double>(300, 0.0), PickSpan{0, 300}, 50.0));
    // Unpadded constant: nothing rises above the mean, so peak 0 gives no result, never T = inf.
    EXPECT_FALSE(MeasureRotation(std::vector<double>(2048, 0.12), PickSpan{0, 2048}, 50.0));
    EXPECT_TRUE(MeasureRotation(w, PickSpan{0, 400}, 50.0));
}

TEST(Spectrum, Radius)
{
    const std::vector<double> t = Times(200, 0.02);
    const std::vector<double> u = Map(t, [](double s) { return 0.15 * std::cos(std::numbers::pi * s); });
    const std::vector<double> w = Map(t, [](double s) { return 0.15 * std::sin(std::numbers::pi * s); });
    EXPECT_NEAR(MeasureRadius(u, w, PickSpan{10, 150}).value(), 0.15, 1e-12);
    EXPECT_FALSE(MeasureRadius(u, w, PickSpan{10, 10}));
    EXPECT_FALSE(MeasureRadius(u, w, PickSpan{300, 400}));
}

// ---- mechanical energy ----

TEST(Energy, RangeSelectionBothDirections)
{
    const std::vector<double> up = Map(Times(10, 1.0), [](double i) { return 0.1 * i - 0.45; });
    const std::vector<double> down(up.rbegin(), up.rend());
    struct Case {
        const char* what;
        const std::vector<double>* x;
        double a, b;
        SampleRange previous, expected;
    };
    for (const Case& c : {
             Case{"towards larger x", &up, -0.2, 0.1, {-1, -1}, {3, 6}},
             Case{"picks in either order", &up, 0.1, -0.2, {-1, -1}, {3, 6}},
             Case{"towards smaller x: scanned from the end, then exchanged", &down, -0.2, 0.1, {-1, -1}, {3, 6}},
             Case{"end beyond the path: to the end of the list", &up, -0.2, 9.0, {-1, -1}, {3, -1}},
             Case{"towards smaller x, far end beyond the path: from the start", &down, -0.2, 9.0, {-1, -1},
                  {-1, 6}},
             Case{"nothing found keeps the previous range", &up, 8.0, 9.0, {2, 5}, {2, 5}},
             Case{"index 0 is not scanned towards smaller x", &down, 0.44, 0.46, {-1, -1}, {-1, -1}},
         }) {
        const SampleRange r = SelectRange(*c.x, c.a, c.b, c.previous);
        EXPECT_EQ(r.first, c.expected.first) << c.what;
        EXPECT_EQ(r.end, c.expected.end) << c.what;
    }
    EXPECT_EQ(SelectRange(std::span(up).first(2), -1.0, 1.0, {4, 7}).end, 7);

    // Held still before the release, the first samples are ordered by the noise alone: the way the
    // ball went is read from the whole path.
    for (const bool larger : {true, false}) {
        const double way = larger ? 1.0 : -1.0;
        std::vector<double> held = Map(std::vector<double>{-0.3, -0.301, -0.302, -0.3}, [&](double x) { return way * x; });
        for (int k = 0; k <= 58; ++k)
            held.push_back(way * (k - 29) * 0.01);
        const SampleRange r = SelectRange(held, -0.205, 0.205, {-1, -1});
        EXPECT_EQ(r.first, larger ? 13 : 12) << larger;
        EXPECT_EQ(r.end, larger ? 54 : 53) << larger;
    }
}

TEST(Energy, EnergiesOfRecordedSamples)
{
    // Uniform 0.5 m/s along x at height 0.1 m, 50 Hz.
    std::vector<double> x, y;
    std::vector<float> t;
    for (int i = 0; i < 40; ++i) {
        t.push_back(static_cast<float>(i) * 0.02f);
        x.push_back(0.01 * i);
        y.push_back(0.1);
    }
    const double m = 0.055;
    const double ek = 0.5 * m * 0.25;

    // One sample inside: Ek by central differences; at either end of the list 0.
    const Energies mid = ComputeEnergies(x, y, t, m, {20, 21});
    ASSERT_EQ(mid.t.size(), 1u);
    EXPECT_NEAR(mid.kinetic[0], ek, 1e-6);
    EXPECT_DOUBLE_EQ(mid.potential[0], 0.1 * m * 9.8);
    EXPECT_DOUBLE_EQ(mid.total[0], mid.potential[0] + mid.kinetic[0]);
    EXPECT_EQ(mid.t[0], static_cast<double>(t[20]));
    EXPECT_NEAR(ComputeEnergies(x, y, t, m, {0, 1}).kinetic[0], 0.0, 1e-15);
    EXPECT_NEAR(ComputeEnergies(x, y, t, m, {39, 40}).kinetic[0], 0.0, 1e-15);

    // Ranges: -1 ends, equal ends and ends past the list.
    EXPECT_EQ(ComputeEnergies(x, y, t, m, {-1, -1}).t.size(), 40u);
    EXPECT_EQ(ComputeEnergies(x, y, t, m, {7, 7}).t.size(), 40u);
    EXPECT_EQ(ComputeEnergies(x, y, t, m, {30, 90}).t.size(), 10u);
    const Energies all = ComputeEnergies(x, y, t, m, {-1, -1});
    EXPECT_DOUBLE_EQ(all.highest, *std::max_element(all.total.begin(), all.total.end()));
    EXPECT_EQ(all.lowest, 0.0);

    // A height below the zero point gives a negative extreme.
    std::vector<double> low = y;
    low[5] = -0.2;
    EXPECT_LT(ComputeEnergies(x, low, t, m, {-1, -1}).lowest, 0.0);
}

TEST(Energy, BadInputGivesNumbers)
{
    std::vector<double> x = {0.0, 0.01, 0.02, 0.03, 0.04};
    const std::vector<double> y = {0.1, 0.1, 0.1, 0.1, 0.1};
    const std::vector<float> stuck = {0.0f, 0.02f, 0.0f, 0.02f, 0.02f};  // no time step at 2 and 3
    const Energies e = ComputeEnergies(x, y, stuck, 0.055, {-1, -1});
    for (const double v : e.total)
        EXPECT_TRUE(std::isfinite(v));
    for (const double mass : {kNaN, kInf, -kInf}) {
        const Energies zero = ComputeEnergies(x, y, std::vector<float>(5, 0.1f), mass, {-1, -1});
        for (const double v : zero.total)
            EXPECT_EQ(v, 0.0);
    }
    EXPECT_TRUE(ComputeEnergies({}, {}, {}, 0.055, {-1, -1}).t.empty());
}

TEST(Energy, KineticSmoothing)
{
    // A constant returns itself, whatever the length (no fixed working size).
    for (const std::size_t n : {1u, 7u, 8u, 9u, 100u, 9937u, 12000u}) {
        const std::vector<double> out = SmoothKineticEnergy(std::vector<double>(n, 0.0456));
        ASSERT_EQ(out.size(), n);
        double worst = 0.0;
        for (const double v : out)
            worst = std::max(worst, std::abs(v - 0.0456));
        EXPECT_LT(worst, 1e-9) << n;
    }
    EXPECT_TRUE(SmoothKineticEnergy({}).empty());

    // Away from both ends, a quadratic passes unchanged and the fastest alternation is removed.
    const std::vector<double> t = Times(400, 0.02);
    const std::vector<double> q = Map(t, [](double s) { return 0.01 + 0.02 * s + 0.005 * s * s; });
    std::vector<double> rippled = q;
    for (std::size_t i = 0; i < rippled.size(); ++i)
        rippled[i] += i % 2 == 0 ? 0.003 : -0.003;
    const std::vector<double> smooth = SmoothKineticEnergy(q);
    const std::vector<double> cleaned = SmoothKineticEnergy(rippled);
    for (std::size_t i = 100; i < 300; ++i) {
        EXPECT_NEAR(smooth[i], q[i], 1e-9) << i;
        EXPECT_NEAR(cleaned[i], q[i], 1e-9) << i;
    }
}

// Random lengths, ranges and values with NaN and infinities: every calculation stays inside its
// inputs (the sanitizer build checks the reads) and gives a number or no result, never NaN.
TEST(Numerics, RandomInputsGiveNumbersOrNothing)
{
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> index(-2, 45);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::uniform_int_distribution<int> special(0, 30);
    const auto draw = [&] {
        switch (special(random)) {
        case 0: return kNaN;
        case 1: return kInf;
        case 2: return 0.0;
        default: return value(random);
        }
    };
    const auto finite = [](std::optional<double> v) { return !v || std::isfinite(*v); };
    for (int round = 0; round < 2000; ++round) {
        const auto n = static_cast<std::size_t>(length(random));
        std::vector<double> a(n), b(n);
        std::vector<float> f(n);
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = draw();
            b[i] = draw();
            f[i] = static_cast<float>(i) * 0.02f + (special(random) == 0 ? -0.05f : 0.0f);
        }
        const int i1 = index(random), i2 = index(random);
        const int d = 1 + round % 2;
        CentralDifferences(a, b, SelectedRecords(n, i1, i2), d);
        EXPECT_TRUE(finite(FreeFallAcceleration(a, b, SelectedRecords(n, i1, i2), d)));
        EXPECT_TRUE(finite(ProjectileAcceleration(a, b, 2 * d)));
        if (const auto line = FitLine(a, b, 2, 1)) {
            EXPECT_TRUE(std::isfinite(line->k) && std::isfinite(line->b));
        }
        if (const auto p = FitParabola(a, b)) {
            EXPECT_TRUE(std::isfinite(p->a2) && std::isfinite(p->a1) && std::isfinite(p->a0));
        }
        if (const auto r = RebuildTimes(a, b)) {
            EXPECT_TRUE(std::isfinite(r->step));
        }
        if (const auto pick = OrderPick(i1, i2, n)) {
            EXPECT_TRUE(finite(PendulumPeriod(a, b, *pick)));
            if (const auto rot = MeasureRotation(a, *pick, 50.0)) {
                EXPECT_TRUE(std::isfinite(rot->period) && rot->peak > 0);
            }
            MeasureRadius(a, b, *pick);
        }
        const SampleRange range = SelectRange(a, value(random), value(random), {-1, -1});
        EXPECT_TRUE(range.first == -1 || (range.first >= 0 && static_cast<std::size_t>(range.first) < n));
        const std::vector<double> finiteA(n, 0.1);
        const Energies e = ComputeEnergies(finiteA, finiteA, f, value(random), {i1, i2});
        for (const double v : e.total)
            EXPECT_TRUE(std::isfinite(v));
    }
}
