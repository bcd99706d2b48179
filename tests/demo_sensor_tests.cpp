// The demo sensor: its bytes on the link, its pacing, its scenarios as the experiments will see them
// (through CUsbIF, DecodeReport and the experiment's solving variant), cues and injected faults.
#include "acquisition/position_solving.h"
#include "device/demo_cues.h"
#include "device/demo_sensor.h"
#include "device/sensor_protocol.h"
#include "device/usb_if.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zelkor::device {
namespace {

using namespace std::chrono_literals;
namespace sc = demo;

constexpr double kB = acquisition::kBaseline;

// A demo sensor on a host link.
struct DemoLink {
    explicit DemoLink(int index, DemoPacing pacing = DemoPacing::Unpaced, std::uint64_t seed = kDemoDefaultSeed)
        : rig(MakeDemoPlatformForTests(index, pacing, seed)), link(rig.platform)
    {
    }
    bool Connect() { return link.OpenLink() && Identify(link) && Start(link); }

    // One transfer; nullopt when the read failed.
    std::optional<std::vector<std::uint8_t>> ReadTransfer(std::size_t length = kReportSize)
    {
        std::vector<std::uint8_t> buffer(length, 0);
        std::size_t n = 0;
        if (!link.Read(length, buffer.data(), &n))
            return std::nullopt;
        buffer.resize(n);
        return buffer;
    }
    std::optional<DataReport> NextReport()
    {
        std::array<std::uint8_t, kReportSize> buffer{};
        std::size_t n = 0;
        if (!link.Read(buffer.size(), buffer.data(), &n))
            return std::nullopt;
        return DecodeReport(buffer, HasTimeField(link.secondVersion.load()));
    }

    DemoRig rig;
    CUsbIF link;
};

bool FormsTriangle(double left, double right)
{
    return left + right > kB && std::abs(left - right) < kB;
}

struct Sample {
    double t = 0.0;                  // scenario time, from the reports' time fields
    double left = 0.0, right = 0.0;  // metres, as received
    DemoPoint solved;                // with the experiment's variant
    DemoPoint truth;                 // the scenario's own position, from a twin scenario
    std::string phase;
};

// Reads `seconds` of reports and pairs each with where an identical scenario says the transmitter was.
std::vector<Sample> Record(DemoLink& demo, DemoScenario& twin, double seconds)
{
    const auto solve = acquisition::SolverFor(twin.TransformIndex());
    std::vector<Sample> samples;
    double t = demo.rig.sensor->ScenarioTime();
    const auto count = static_cast<int>(seconds / 0.02);
    for (int i = 0; i < count; ++i) {
        const auto report = demo.NextReport();
        if (!report || !report->intervalUs)
            break;
        t += static_cast<double>(*report->intervalUs) * 1e-6;
        Sample s;
        s.t = t;
        s.left = static_cast<double>(report->leftMm) * 0.001;
        s.right = static_cast<double>(report->rightMm) * 0.001;
        solve(s.left, s.right, s.solved.x, s.solved.y);
        s.truth = twin.Position(t);
        s.phase = twin.PhaseName();
        samples.push_back(s);
    }
    return samples;
}

std::vector<Sample> InPhase(const std::vector<Sample>& samples, const std::string& phase)
{
    std::vector<Sample> out;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(out),
                 [&](const Sample& s) { return s.phase == phase; });
    return out;
}

// Consecutive runs of one phase (one per cycle).
std::vector<std::vector<Sample>> Runs(const std::vector<Sample>& samples, const std::string& phase)
{
    std::vector<std::vector<Sample>> runs;
    bool inside = false;
    for (const auto& s : samples) {
        if (s.phase == phase) {
            if (!inside)
                runs.emplace_back();
            runs.back().push_back(s);
        }
        inside = s.phase == phase;
    }
    return runs;
}

// Least squares c0 + c1 t + c2 t^2 (degree 1 or 2).
std::array<double, 3> Fit(const std::vector<double>& t, const std::vector<double>& v, int degree)
{
    const int n = degree + 1;
    double a[3][4] = {};
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double p[3] = {1.0, t[i], t[i] * t[i]};
        for (int r = 0; r < n; ++r) {
            for (int c = 0; c < n; ++c)
                a[r][c] += p[r] * p[c];
            a[r][n] += p[r] * v[i];
        }
    }
    for (int col = 0; col < n; ++col) {
        for (int r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c <= n; ++c)
                a[r][c] -= f * a[col][c];
        }
    }
    std::array<double, 3> x{};
    for (int r = n - 1; r >= 0; --r) {
        double sum = a[r][n];
        for (int c = r + 1; c < n; ++c)
            sum -= a[r][c] * x[c];
        x[r] = sum / a[r][r];
    }
    return x;
}

std::array<double, 3> FitRun(const std::vector<Sample>& run, double (*coord)(const Sample&), int degree,
                             double t0)
{
    std::vector<double> t, v;
    for (const auto& s : run) {
        t.push_back(s.t - t0);
        v.push_back(coord(s));
    }
    return Fit(t, v, degree);
}

double SolvedX(const Sample& s) { return s.solved.x; }
double SolvedY(const Sample& s) { return s.solved.y; }

// Times where x crosses `level` upwards, interpolated; only after x was `band` below it, so that the
// noise around a crossing counts once.
std::vector<double> UpCrossings(const std::vector<Sample>& run, double level, double band)
{
    std::vector<double> times;
    bool armed = false;
    for (std::size_t i = 1; i < run.size(); ++i) {
        const double a = run[i - 1].solved.x - level, b = run[i].solved.x - level;
        armed = armed || a < -band;
        if (armed && a < 0.0 && b >= 0.0) {
            times.push_back(run[i - 1].t + (run[i].t - run[i - 1].t) * (-a / (b - a)));
            armed = false;
        }
    }
    return times;
}

double MeanPeriod(const std::vector<double>& crossings)
{
    return (crossings.back() - crossings.front()) / static_cast<double>(crossings.size() - 1);
}

// --- Protocol ---------------------------------------------------------------------------------------

TEST(DemoSensorProtocol, IdentifyStartAndTheBytesOfTheReply)
{
    DemoLink demo(9);
    ASSERT_TRUE(demo.link.OpenLink());
    EXPECT_EQ(demo.link.InstanceIdentifier(), "demo-sensor");

    // Before start the sensor sends nothing; unpaced, the read fails at once instead of waiting.
    EXPECT_FALSE(demo.ReadTransfer());

    const auto identify = IdentifyCommand();
    std::size_t written = 0;
    ASSERT_EQ(demo.link.Write(demo.link.WritePipe(), identify.data(), identify.size(), &written), CUsbIF::kOk);
    const auto reply = demo.ReadTransfer(kIdentifyReadSize);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, std::vector<std::uint8_t>({0x00, 0x03, 0x00, 0x00, 0x01, 0x02, 0x12, 0x11, 0x00, 0x00}));
    EXPECT_FALSE(demo.rig.sensor->Streaming());

    ASSERT_TRUE(Identify(demo.link));
    EXPECT_FLOAT_EQ(demo.link.firstVersion.load(), 1.2f);
    EXPECT_FLOAT_EQ(demo.link.secondVersion.load(), 1.1f);
    ASSERT_TRUE(Start(demo.link));
    EXPECT_TRUE(demo.rig.sensor->Streaming());
    for (int i = 0; i < 5; ++i) {
        const auto report = demo.ReadTransfer();
        ASSERT_TRUE(report);
        EXPECT_EQ(report->size(), kReportSize);
    }
    EXPECT_EQ(demo.rig.sensor->ReportsSent(), 5u);

    // Identify while streaming: streaming stops and the next transfer is the reply, not a report.
    ASSERT_EQ(demo.link.Write(demo.link.WritePipe(), identify.data(), identify.size(), &written), CUsbIF::kOk);
    EXPECT_FALSE(demo.rig.sensor->Streaming());
    const auto again = demo.ReadTransfer(kIdentifyReadSize);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), kIdentifyReplySize);
    EXPECT_FALSE(demo.ReadTransfer());

    // A transfer larger than the read asks for overflows: the read fails and the transfer is gone.
    ASSERT_TRUE(Start(demo.link));
    EXPECT_FALSE(demo.ReadTransfer(16));
    EXPECT_EQ(demo.ReadTransfer()->size(), kReportSize);
}

TEST(DemoSensorProtocol, RecordsCalibrationCommandsAndIgnoresGarbage)
{
    DemoLink demo(12);
    ASSERT_TRUE(demo.Connect());
    ASSERT_TRUE(Calibrate(demo.link, CalibrationCode::LeftDistance, 200.0f));
    ASSERT_TRUE(Calibrate(demo.link, CalibrationCode::Temperature, 25.5f));
    ASSERT_TRUE(Calibrate(demo.link, CalibrationCode::RightDistance, -0.125f));

    // Frames the sensor must not take: bad trailer, unknown code, unequal length bytes, too short,
    // a 64-byte frame whose command is unknown, and noise.
    auto badTrailer = CalibrationCommand(CalibrationCode::LeftDistance, 1.0f);
    badTrailer[10] = 0x91;
    auto badCode = CalibrationCommand(CalibrationCode::LeftDistance, 1.0f);
    badCode[4] = 6;
    auto badLength = CalibrationCommand(CalibrationCode::LeftDistance, 1.0f);
    badLength[2] = 0x0A;
    auto unknown = StartCommand();
    unknown[4] = 0x07;
    const std::vector<std::vector<std::uint8_t>> garbage = {
        {badTrailer.begin(), badTrailer.end()},
        {badCode.begin(), badCode.end()},
        {badLength.begin(), badLength.end()},
        {badTrailer.begin(), badTrailer.begin() + 9},
        {unknown.begin(), unknown.end()},
        {0x68},
        std::vector<std::uint8_t>(64, 0xFF),
    };
    for (const auto& bytes : garbage) {
        std::size_t written = 0;
        EXPECT_EQ(demo.link.Write(demo.link.WritePipe(), bytes.data(), bytes.size(), &written), CUsbIF::kOk);
        EXPECT_EQ(written, bytes.size());
    }
    const auto calibrations = demo.rig.sensor->Calibrations();
    ASSERT_EQ(calibrations.size(), 3u);
    EXPECT_EQ(calibrations[0].code, 4);
    EXPECT_EQ(calibrations[0].value, 200.0f);
    EXPECT_EQ(calibrations[1].code, 3);
    EXPECT_EQ(calibrations[1].value, 25.5f);
    EXPECT_EQ(calibrations[2].code, 5);
    EXPECT_EQ(calibrations[2].value, -0.125f);
    // Still streaming reports, nothing else queued by the garbage.
    EXPECT_TRUE(demo.rig.sensor->Streaming());
    EXPECT_EQ(demo.ReadTransfer()->size(), kReportSize);
}

// --- Reports ----------------------------------------------------------------------------------------

float BigEndianAt(const std::vector<std::uint8_t>& r, std::size_t offset)
{
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bits = (bits << 8) | r[offset + i];
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

TEST(DemoSensorReports, LayoutTimeFieldAndNoise)
{
    DemoLink demo(4);
    ASSERT_TRUE(demo.Connect());
    auto twin = MakeDemoScenario(4);
    double t = 0.0;
    std::vector<double> intervals, leftErrors, rightErrors, commonErrors;
    for (int i = 0; i < 3000; ++i) {
        const auto r = demo.ReadTransfer();
        ASSERT_TRUE(r);
        ASSERT_EQ(r->size(), kReportSize);
        ASSERT_EQ((*r)[4], 0) << "status";
        const float left = BigEndianAt(*r, 5), right = BigEndianAt(*r, 9);
        const float temperature = BigEndianAt(*r, 13), interval = BigEndianAt(*r, 17);
        ASSERT_GT(temperature, 19.5f);
        ASSERT_LT(temperature, 20.5f);
        intervals.push_back(interval);
        t += static_cast<double>(interval) * 1e-6;
        const DemoPoint p = twin->SensorPosition(t);
        leftErrors.push_back(left - LeftDistance(p) * 1000.0);
        rightErrors.push_back(right - RightDistance(p) * 1000.0);
        commonErrors.push_back(0.5 * (leftErrors.back() + rightErrors.back()));
    }
    // The scenario ran exactly as long as the time fields say.
    EXPECT_DOUBLE_EQ(t, demo.rig.sensor->ScenarioTime());

    const auto [minIt, maxIt] = std::minmax_element(intervals.begin(), intervals.end());
    EXPECT_GE(*minIt, 20000.0 - kDemoIntervalJitterMaxUs);
    EXPECT_LE(*maxIt, 20000.0 + kDemoIntervalJitterMaxUs);
    EXPECT_GT(*maxIt - *minIt, 10.0) << "the interval jitters";
    const double mean = std::accumulate(intervals.begin(), intervals.end(), 0.0) / 3000.0;
    EXPECT_NEAR(mean, 20000.0, 1.0);

    auto stats = [](const std::vector<double>& v) {
        const double m = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
        double s = 0.0;
        for (double x : v)
            s += (x - m) * (x - m);
        return std::pair{m, std::sqrt(s / static_cast<double>(v.size()))};
    };
    for (const auto* errors : {&leftErrors, &rightErrors}) {
        const auto [m, sd] = stats(*errors);
        EXPECT_NEAR(m, 0.0, 0.1) << "no bias";
        EXPECT_NEAR(sd, std::hypot(kDemoCommonNoiseMm, kDemoOwnNoiseMm), 0.1) << "about 1 mm";
    }
}

TEST(DemoSensorReports, SameSeedSameBytes)
{
    DemoLink a(2, DemoPacing::Unpaced, 7), b(2, DemoPacing::Unpaced, 7), c(2, DemoPacing::Unpaced, 8);
    ASSERT_TRUE(a.Connect() && b.Connect() && c.Connect());
    int differing = 0;
    for (int i = 0; i < 50; ++i) {
        const auto ra = a.ReadTransfer(), rb = b.ReadTransfer(), rc = c.ReadTransfer();
        ASSERT_TRUE(ra && rb && rc);
        EXPECT_EQ(*ra, *rb);
        differing += *ra != *rc ? 1 : 0;
    }
    EXPECT_EQ(differing, 50);
}

// --- Pacing -----------------------------------------------------------------------------------------

TEST(DemoSensorPacing, RealTimeSendsEveryTwentyMilliseconds)
{
    DemoLink demo(2, DemoPacing::RealTime);
    ASSERT_TRUE(demo.Connect());
    ASSERT_TRUE(demo.NextReport());  // the first slot may come at once
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(demo.NextReport());
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(elapsed, 180ms);
    EXPECT_LT(elapsed, 3s);
    EXPECT_NEAR(demo.rig.sensor->ScenarioTime(), std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                                               begin).count(), 0.3);
}

TEST(DemoSensorPacing, CancelEndsAWaitingRead)
{
    for (const bool streaming : {false, true}) {
        DemoLink demo(9, DemoPacing::RealTime);
        ASSERT_TRUE(demo.link.OpenLink());
        if (streaming) {
            ASSERT_TRUE(Identify(demo.link) && Start(demo.link));
            demo.rig.sensor->StopSending();
        }
        auto reader = std::async(std::launch::async, [&] { return demo.ReadTransfer().has_value(); });
        EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout) << "nothing to send, so the read waits";
        const auto cancelled = std::chrono::steady_clock::now();
        demo.link.Cancel();
        ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 500ms);  // at once, with room for a busy machine
        EXPECT_FALSE(reader.get());
    }
}

// --- Scenarios through the link ---------------------------------------------------------------------

// The solving variant each experiment uses (the host's experiment indices).
const std::map<int, int> kVariantOf = {{0, 1}, {1, 1}, {2, 2},  {3, 2},  {4, 2},  {5, 2}, {6, 1},
                                       {7, 1}, {8, 1}, {9, 2}, {10, 1}, {11, 1}, {12, 0}};

class DemoScenarioThroughLink : public ::testing::TestWithParam<int> {};

// Every report is a valid triangle, and solving it gives the scenario's own position within what the
// distance noise allows at that place (6 standard deviations, propagated through the solver).
TEST_P(DemoScenarioThroughLink, SolvesBackToItsOwnMotion)
{
    const int index = GetParam();
    DemoLink demo(index);
    ASSERT_TRUE(demo.Connect());
    auto twin = MakeDemoScenario(index);
    EXPECT_EQ(twin->TransformIndex(), kVariantOf.at(index));
    const auto solve = acquisition::SolverFor(twin->TransformIndex());
    const auto samples = Record(demo, *twin, 90.0);
    ASSERT_EQ(samples.size(), 4500u);

    double sumNormalised = 0.0, worst = 0.0;
    for (const auto& s : samples) {
        ASSERT_TRUE(FormsTriangle(s.left, s.right)) << "t = " << s.t;
        const DemoPoint sensor = ToSensorFrame(twin->Frame(), s.truth);
        const double l = LeftDistance(sensor), r = RightDistance(sensor);
        // Margin to the triangle rule: far beyond the noise everywhere.
        ASSERT_GT(kB - std::abs(l - r), 0.005) << "t = " << s.t;
        ASSERT_GT(sensor.y, 0.05) << "t = " << s.t;
        ASSERT_LT(std::hypot(sensor.x, sensor.y), 1.6) << "t = " << s.t;

        const double h = 1e-6;
        DemoPoint lp, lm, rp, rm;
        solve(l + h, r, lp.x, lp.y);
        solve(l - h, r, lm.x, lm.y);
        solve(l, r + h, rp.x, rp.y);
        solve(l, r - h, rm.x, rm.y);
        const double jl[2] = {(lp.x - lm.x) / (2 * h), (lp.y - lm.y) / (2 * h)};
        const double jr[2] = {(rp.x - rm.x) / (2 * h), (rp.y - rm.y) / (2 * h)};
        const double c = kDemoCommonNoiseMm * 1e-3, o = kDemoOwnNoiseMm * 1e-3;
        for (int axis = 0; axis < 2; ++axis) {
            const double sigma = std::sqrt(std::pow((jl[axis] + jr[axis]) * c, 2) +
                                           (jl[axis] * jl[axis] + jr[axis] * jr[axis]) * o * o) + 1e-7;
            const double error = (axis == 0 ? s.solved.x - s.truth.x : s.solved.y - s.truth.y) / sigma;
            ASSERT_LT(std::abs(error), 6.0) << "axis " << axis << " t = " << s.t << " phase " << s.phase;
            sumNormalised += error;
            worst = std::max(worst, std::abs(error));
        }
    }
    EXPECT_LT(std::abs(sumNormalised / (2.0 * static_cast<double>(samples.size()))), 0.1) << "no bias";
    EXPECT_GT(worst, 1.0) << "the noise is there";
}

INSTANTIATE_TEST_SUITE_P(EveryExperiment, DemoScenarioThroughLink, ::testing::Range(0, 13));

// Physics, and placement for the experiment's own rules, each from the reports as the experiment gets them.
struct Recorded {
    explicit Recorded(int index, double seconds = 60.0) : demo(index), twin(MakeDemoScenario(index))
    {
        EXPECT_TRUE(demo.Connect());
        samples = Record(demo, *twin, seconds);
    }
    DemoLink demo;
    std::unique_ptr<DemoScenario> twin;
    std::vector<Sample> samples;
};

TEST(DemoScenarioPhysics, FreeFall)
{
    using namespace sc::free_fall;
    Recorded rec(9);
    const auto falls = Runs(rec.samples, "falling");
    ASSERT_GE(falls.size(), 5u);
    for (const auto& fall : falls) {
        ASSERT_GE(fall.size(), 18u);
        // The samples just before the release: still at the release point.
        const auto c = FitRun(fall, SolvedY, 2, fall.front().t);
        EXPECT_NEAR(2.0 * c[2], sc::kGravity, 0.02 * sc::kGravity);
        EXPECT_LT(std::abs(fall.back().solved.x - kReleaseX), 0.02);
    }
    for (const auto& s : InPhase(rec.samples, "held"))
        EXPECT_NEAR(s.solved.y, kReleaseY, 0.006);
    // With the zero point at the release point, the ball passes the default drop height 0.8 m.
    for (const auto& s : InPhase(rec.samples, "on the floor")) {
        EXPECT_GT(s.solved.y - kReleaseY, 0.8 + 0.05);
        EXPECT_LT(s.solved.y, 2.0);
    }
}

TEST(DemoScenarioPhysics, Projectile)
{
    using namespace sc::projectile;
    Recorded rec(0);
    const auto flights = Runs(rec.samples, "flying");
    ASSERT_GE(flights.size(), 5u);
    double vx = 0.0, g = 0.0;
    for (const auto& flight : flights) {
        const double t0 = flight.front().t - (flight.front().solved.x - kEdgeX) / kSpeed;
        vx += FitRun(flight, SolvedX, 1, t0)[1];
        g += 2.0 * FitRun(flight, SolvedY, 2, t0)[2];
        // The throw runs along +X and falls along +Y from the table edge, inside 0 <= X < 1.
        for (const auto& s : flight) {
            EXPECT_GE(s.solved.x - kEdgeX, -0.01);
            EXPECT_LT(s.solved.x - kEdgeX, 1.0);
            EXPECT_GT(s.solved.y - kEdgeY, -0.01);
        }
    }
    const auto n = static_cast<double>(flights.size());
    EXPECT_NEAR(vx / n, kSpeed, 0.02 * kSpeed);
    EXPECT_NEAR(g / n, sc::kGravity, 0.03 * sc::kGravity);
    for (const auto& s : InPhase(rec.samples, "on the floor"))
        EXPECT_NEAR(s.solved.y - kEdgeY, kDrop, 0.015);
}

TEST(DemoScenarioPhysics, GalileoIncline)
{
    using namespace sc::galileo;
    Recorded rec(8);
    const auto rolls = Runs(rec.samples, "rolling");
    ASSERT_GE(rolls.size(), 5u);
    double a = 0.0;
    for (const auto& roll : rolls) {
        std::vector<double> t, s;
        for (const auto& p : roll) {
            t.push_back(p.t - roll.front().t);
            s.push_back(std::hypot(p.solved.x - kTopX, p.solved.y - kTopY));
        }
        // From rest at the top: s = a (t + t0)^2 / 2, so sqrt(2 s / a) grows linearly; fit s itself.
        const double t0 = std::sqrt(2.0 * std::hypot(roll.front().truth.x - kTopX, roll.front().truth.y - kTopY) /
                                    kAcceleration);
        for (auto& x : t)
            x += t0;
        a += 2.0 * Fit(t, s, 2)[2];
        const auto& last = roll.back();
        const double angle = std::atan2(last.solved.y - kTopY, last.solved.x - kTopX) * 180.0 / sc::kPi;
        EXPECT_NEAR(angle, kAngleDegrees, 0.7);
        // The recording's distance limit 0.75 m is passed while X < 1.
        EXPECT_GT(std::hypot(last.solved.x - kTopX, last.solved.y - kTopY), 0.76);
        EXPECT_LT(last.solved.x - kTopX, 1.0);
    }
    EXPECT_NEAR(a / static_cast<double>(rolls.size()), 5.0 / 7.0 * 9.8 * std::sin(12.0 * sc::kPi / 180.0), 0.03 * kAcceleration);
}

TEST(DemoScenarioPhysics, CompositionOfMotions)
{
    using namespace sc::composition;
    Recorded rec(1);
    const auto runs = Runs(rec.samples, "moving");
    ASSERT_GE(runs.size(), 5u);
    double vx = 0.0, ay = 0.0;
    for (const auto& run : runs) {
        const double t0 = run.front().t - (run.front().truth.x - kStartX) / kSpeedX;
        vx += FitRun(run, SolvedX, 1, t0)[1];
        ay += 2.0 * FitRun(run, SolvedY, 2, t0)[2];
        // Inside the chart's 0 to 0.4 m with the zero point at the start.
        for (const auto& s : run) {
            EXPECT_GT(s.solved.x - kStartX, -0.01);
            EXPECT_LT(s.solved.x - kStartX, 0.4);
            EXPECT_GT(s.solved.y - kStartY, -0.01);
            EXPECT_LT(s.solved.y - kStartY, 0.4);
        }
    }
    const auto n = static_cast<double>(runs.size());
    EXPECT_NEAR(vx / n, kSpeedX, 0.02 * kSpeedX);
    EXPECT_NEAR(ay / n, kAccelerationY, 0.05 * kAccelerationY);
}

TEST(DemoScenarioPhysics, SinglePendulum)
{
    using namespace sc::pendulum;
    Recorded rec(4);
    const auto swing = InPhase(rec.samples, "swinging");
    ASSERT_GT(swing.size(), 2000u);
    const auto crossings = UpCrossings(swing, 0.0, 0.02);
    ASSERT_GE(crossings.size(), 30u);
    const double small = 2.0 * sc::kPi * std::sqrt(kLength / sc::kGravity);
    EXPECT_NEAR(MeanPeriod(crossings), small, 0.01 * small);
    // Finite amplitude lengthens the period by about a^2/16.
    EXPECT_NEAR(MeanPeriod(crossings), small * (1.0 + kAmplitude * kAmplitude / 16.0), 0.001 * small);
    // The length the experiment measures: the distance from the pivot (X0, 0), the sensor.
    double length = 0.0;
    for (const auto& s : swing)
        length += std::hypot(s.solved.x, s.solved.y);
    EXPECT_NEAR(length / static_cast<double>(swing.size()), kLength, 0.002);
    // Slight damping: smaller swings later on, but not much.
    auto amplitude = [&](std::size_t from) {
        double m = 0.0;
        for (std::size_t i = from; i < from + 150; ++i)
            m = std::max(m, std::abs(swing[i].truth.x));
        return m;
    };
    const double early = amplitude(0), late = amplitude(swing.size() - 150);
    EXPECT_LT(late, early);
    EXPECT_GT(late, 0.6 * early);
    EXPECT_LT(std::abs(swing.front().truth.x), kLength * std::sin(kAmplitude) + 1e-3);
}

TEST(DemoScenarioPhysics, MechanicalEnergy)
{
    using namespace sc::mechanical_energy;
    Recorded rec(3, 30.0);
    const auto swing = InPhase(rec.samples, "swinging");
    ASSERT_GT(swing.size(), 200u);
    // Released at x < 0, passes the lowest point, rises to nearly the same height on the other side.
    EXPECT_LT(swing.front().solved.x, -0.25);
    const double lowestY = kLength;  // the zero point the pupil sets
    double rise = 0.0, noisyRise = 0.0;
    bool passed = false;
    for (const auto& s : swing) {
        passed = passed || s.solved.x > 0.0;
        if (passed && s.t < swing.front().t + 1.6) {
            rise = std::max(rise, lowestY - s.truth.y);
            noisyRise = std::max(noisyRise, lowestY - s.solved.y);
        }
    }
    const double height = kLength * (1.0 - std::cos(kAmplitude));
    EXPECT_NEAR(rise, height, 0.02 * height);
    EXPECT_NEAR(noisyRise, height, 0.006);

    // Energy per unit mass along the noise-free motion stays constant within the light damping.
    auto twin = MakeDemoScenario(3);
    const double start = swing.front().t;
    double lo = 1e9, hi = -1e9;
    DemoPoint previous = twin->Position(start);
    for (double t = start + 0.001; t < start + 1.6; t += 0.001) {
        const DemoPoint p = twin->Position(t);
        const double v2 = (std::pow(p.x - previous.x, 2) + std::pow(p.y - previous.y, 2)) / 1e-6;
        const double e = sc::kGravity * (lowestY - 0.5 * (p.y + previous.y)) + 0.5 * v2;
        lo = std::min(lo, e);
        hi = std::max(hi, e);
        previous = p;
    }
    // Energy falls as the amplitude squared: 2 t / decay time, plus the finite differences.
    EXPECT_LT(hi - lo, (2.0 * 1.6 / kDecayTime + 0.003) * sc::kGravity * height);
}

TEST(DemoScenarioPhysics, UniformCircularMotion)
{
    using namespace sc::circular;
    Recorded rec(2);
    const auto turning = Runs(rec.samples, "turning").front();
    ASSERT_GT(turning.size(), 1000u);
    double radius = 0.0, unwrapped = 0.0, previous = 0.0;
    std::vector<double> t, angle;
    for (std::size_t i = 0; i < turning.size(); ++i) {
        const auto& s = turning[i];
        radius += std::hypot(s.solved.x - kCentreX, s.solved.y - kCentreY);
        const double a = std::atan2(s.solved.y - kCentreY, s.solved.x - kCentreX);
        if (i > 0)
            unwrapped += std::remainder(a - previous, 2.0 * sc::kPi);
        previous = a;
        t.push_back(s.t);
        angle.push_back(unwrapped);
        // The path chart spans 0.2 m around the zero point, which the pupil sets at the axis.
        EXPECT_LT(std::abs(s.solved.x - kCentreX), 0.2);
        EXPECT_LT(std::abs(s.solved.y - kCentreY), 0.2);
    }
    EXPECT_NEAR(radius / static_cast<double>(turning.size()), 0.15, 0.002);
    const double omega = Fit(t, angle, 1)[1];
    EXPECT_NEAR(2.0 * sc::kPi / omega, 2.0, 0.005);
    for (const auto& s : InPhase(rec.samples, "at the axis"))
        EXPECT_NEAR(std::hypot(s.solved.x - kCentreX, s.solved.y - kCentreY), 0.0, 0.01);
}

TEST(DemoScenarioPhysics, DampedVibration)
{
    using namespace sc::damped_vibration;
    Recorded rec(5);
    const auto vibration = Runs(rec.samples, "vibrating").front();
    ASSERT_GT(vibration.size(), 1000u);
    const auto crossings = UpCrossings(vibration, kRestX, 0.01);
    ASSERT_GE(crossings.size(), 7u);
    const std::vector<double> early(crossings.begin(), crossings.begin() + 7);
    EXPECT_NEAR(MeanPeriod(early), kPeriod, 0.01);
    // Peaks one period apart shrink by e^(-T / decay time).
    auto peak = [&](double from) {
        double m = 0.0;
        for (const auto& s : vibration)
            if (s.t >= from && s.t < from + kPeriod)
                m = std::max(m, s.solved.x - kRestX);
        return m;
    };
    const double t0 = vibration.front().t;
    EXPECT_NEAR(peak(t0 + 2.0 * kPeriod - 0.25) / peak(t0 + kPeriod - 0.25), std::exp(-kPeriod / kDecayTime), 0.03);
    EXPECT_NEAR(std::abs(vibration.back().solved.x - kRestX), 0.0, 0.01) << "died away";
    for (const auto& s : vibration)
        EXPECT_NEAR(s.solved.y, kRestY, 0.01) << "along X only";
}

TEST(DemoScenarioPhysics, SphericalTrack)
{
    using namespace sc::spherical_track;
    Recorded rec(10);
    const auto grooves = Runs(rec.samples, "in the groove");
    ASSERT_GE(grooves.size(), 5u);
    for (const auto& groove : grooves) {
        ASSERT_GE(groove.size(), 8u);
        // On the quarter circle from the zero point (0.1, 0.1), centre straight below it.
        for (const auto& s : groove) {
            EXPECT_NEAR(std::hypot(s.solved.x - kStartX, s.solved.y - (kStartY + kRadius)), kRadius, 0.006);
            EXPECT_GE(s.solved.x - kStartX, -0.01);
            EXPECT_LE(s.solved.y - kStartY, kRadius + 0.01);
        }
    }
    // Then it passes the lower edge of the recording area (0.4) while inside its right edge (0.5).
    const auto caught = InPhase(rec.samples, "in the catcher");
    ASSERT_FALSE(caught.empty());
    for (const auto& s : caught) {
        EXPECT_LT(s.solved.x - kStartX, 0.5);
        EXPECT_GT(s.solved.y - kStartY, 0.4);
    }
}

TEST(DemoScenarioPhysics, CentrifugalTrack)
{
    using namespace sc::centrifugal_track;
    Recorded rec(7);
    const auto runs = Runs(rec.samples, "running");
    ASSERT_GE(runs.size(), 5u);
    for (const auto& run : runs) {
        double top = 1.0;
        bool endedRight = false;
        for (const auto& s : run) {
            const double x = s.solved.x - kStartX, y = s.solved.y - kStartY;
            top = std::min(top, x > 0.2 ? y : 1.0);
            EXPECT_LT(y, 0.4) << "never below the recording area";
            endedRight = endedRight || x > 0.55;
            if (!endedRight) {
                EXPECT_GT(x, -0.02);
            }
        }
        EXPECT_NEAR(top, kEntryRadius - 2.0 * kLoopRadius, 0.01) << "went over the top of the loop";
        EXPECT_TRUE(endedRight) << "left through the right edge, which ends the recording";
    }
    // Fast enough at the top of the loop to stay on the track: v^2 >= g r.
    auto twin = MakeDemoScenario(7);
    const auto& first = runs.front();
    double t = first.front().t;
    twin->Position(t);
    double lowestY = 1.0, speedAtTop = 0.0;
    DemoPoint previous = twin->Position(t);
    for (t += 0.001; t < first.back().t; t += 0.001) {
        const DemoPoint p = twin->Position(t);
        if (p.x - kStartX > 0.2 && p.y < lowestY) {
            lowestY = p.y;
            speedAtTop = std::hypot(p.x - previous.x, p.y - previous.y) / 0.001;
        }
        previous = p;
    }
    EXPECT_GT(speedAtTop * speedAtTop, sc::kGravity * kLoopRadius);
}

TEST(DemoScenarioPhysics, RobotTrace)
{
    using namespace sc::robot_trace;
    Recorded rec(6, 50.0);
    const auto driving = InPhase(rec.samples, "driving");
    ASSERT_GT(driving.size(), 2000u);
    double minX = 1e9, maxX = -1e9;
    for (const auto& s : driving) {
        minX = std::min(minX, s.solved.x);
        maxX = std::max(maxX, s.solved.x);
        // Inside the chart: -0.5 to 1.0 on both axes.
        EXPECT_GT(s.solved.x, -0.5);
        EXPECT_LT(s.solved.x, 1.0);
        EXPECT_GT(s.solved.y, -0.5);
        EXPECT_LT(s.solved.y, 1.0);
    }
    EXPECT_NEAR(maxX - minX, 2.0 * kHalfWidth, 0.02);
    // Closed: a lap later it is back where it was.
    const auto lap = static_cast<std::size_t>(kLapTime / 0.02);
    for (std::size_t i = 0; i + lap < driving.size(); i += 97)
        EXPECT_NEAR(std::hypot(driving[i + lap].truth.x - driving[i].truth.x, driving[i + lap].truth.y - driving[i].truth.y),
                    0.0, 0.005);
}

TEST(DemoScenarioPhysics, CalibrationToolAtRest)
{
    Recorded rec(12, 10.0);
    double left = 0.0, right = 0.0;
    for (const auto& s : rec.samples) {
        left += s.left;
        right += s.right;
        // Position mode (variant 1) draws it: 0 <= x < 1 and y > -0.005.
        double x = 0.0, y = 0.0;
        acquisition::SolveTurned(s.left, s.right, x, y);
        EXPECT_GE(x, 0.0);
        EXPECT_LT(x, 1.0);
        EXPECT_GT(y, -0.005);
    }
    const auto n = static_cast<double>(rec.samples.size());
    EXPECT_NEAR(left / n, sc::calibration::kLeft, 0.0002);
    EXPECT_NEAR(right / n, sc::calibration::kRight, 0.0002);
}

// --- Cues -------------------------------------------------------------------------------------------

TEST(DemoSensorCues, RegistryFollowsLiveSensors)
{
    EXPECT_FALSE(DemoModeActive());
    SendDemoCue(DemoCue::RecordingStarted);  // no sensor: nothing happens
    {
        const auto platform = MakeDemoPlatform(9, DemoPacing::Unpaced);
        EXPECT_TRUE(DemoModeActive());
    }
    EXPECT_FALSE(DemoModeActive());
}

// The free-fall ball is held until the recording starts, dropped half a second later, and lifted back
// a few seconds after the recording stops.
TEST(DemoSensorCues, FreeFallFollowsThePupil)
{
    using namespace sc::free_fall;
    DemoLink demo(9);
    ASSERT_TRUE(demo.Connect());
    auto y = [&] {
        const auto r = demo.NextReport();
        EXPECT_TRUE(r);
        double x = 0.0, yy = 0.0;
        acquisition::SolveSensorFrame(r->leftMm * 0.001, r->rightMm * 0.001, x, yy);
        return yy;
    };
    y();
    SendDemoCue(DemoCue::ZeroSet);  // from now on the scenario waits for the pupil
    for (int i = 0; i < 500; ++i)   // 10 s, far beyond the own timeline's hold
        ASSERT_NEAR(y(), kReleaseY, 0.006) << i;
    SendDemoCue(DemoCue::RecordingStarted);
    const double started = demo.rig.sensor->ScenarioTime();
    double released = -1.0, landed = -1.0;
    for (int i = 0; i < 150 && landed < 0.0; ++i) {
        const double value = y();
        const double t = demo.rig.sensor->ScenarioTime();
        if (released < 0.0 && value > kReleaseY + 0.01)
            released = t - std::sqrt(2.0 * (value - kReleaseY) / sc::kGravity);
        if (value > kReleaseY + kDrop - 0.005)
            landed = t;
    }
    ASSERT_GT(released, 0.0);
    EXPECT_NEAR(released - started, kReleaseDelay, 0.03);
    ASSERT_GT(landed, 0.0);
    SendDemoCue(DemoCue::RecordingStopped);
    const double stopped = demo.rig.sensor->ScenarioTime();
    double lifted = -1.0;
    for (int i = 0; i < 1000 && lifted < 0.0; ++i) {
        if (y() < kReleaseY + kDrop - 0.01)
            lifted = demo.rig.sensor->ScenarioTime();
    }
    ASSERT_GT(lifted, 0.0);
    EXPECT_GT(lifted - stopped, kLiftDelay);
    EXPECT_LT(lifted - stopped, kLiftDelay + 0.5);
    // Back at the release point, held there until the next recording.
    for (int i = 0; i < 100; ++i)
        y();
    for (int i = 0; i < 300; ++i)
        ASSERT_NEAR(y(), kReleaseY, 0.006);
}

// A cue that comes early (the recording stops while the ball is still falling) is acted on once the
// ball lies on the floor; a cue already acted on is not used again.
TEST(DemoSensorCues, EarlyCuesWaitForTheirPhase)
{
    using namespace sc::free_fall;
    auto s = MakeDemoScenario(9);
    s->Cue(DemoCue::RecordingStarted, 0.1);
    EXPECT_EQ((s->Position(0.5), s->PhaseName()), "held");
    EXPECT_EQ((s->Position(0.61), s->PhaseName()), "falling");
    s->Cue(DemoCue::RecordingStopped, 0.8);  // auto end of the recording, mid-fall
    const double landed = 0.6 + kFallTime;    // the delay counts from when the ball lies there
    EXPECT_EQ((s->Position(landed + 0.01), s->PhaseName()), "on the floor");
    EXPECT_EQ((s->Position(landed + kLiftDelay - 0.01), s->PhaseName()), "on the floor");
    EXPECT_EQ((s->Position(landed + kLiftDelay + 0.01), s->PhaseName()), "lifted back");
    EXPECT_EQ((s->Position(landed + kLiftDelay + kLift + 0.01), s->PhaseName()), "held");
    EXPECT_EQ((s->Position(100.0), s->PhaseName()), "held");
    EXPECT_NEAR(s->Position(100.0).y, kReleaseY, 1e-12);
}

// Cues from another thread while a real-time read waits: applied at once, no deadlock.
TEST(DemoSensorCues, FromAnotherThreadWhileReading)
{
    DemoLink demo(4, DemoPacing::RealTime);
    ASSERT_TRUE(demo.Connect());
    std::atomic<bool> done{false};
    std::thread cues([&] {
        while (!done.load()) {
            SendDemoCue(DemoCue::ZeroSet);
            std::this_thread::sleep_for(3ms);
        }
    });
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(demo.NextReport());
    done.store(true);
    cues.join();
    EXPECT_TRUE(demo.rig.sensor->Scenario().CueDriven());
}

// --- Faults -----------------------------------------------------------------------------------------

TEST(DemoSensorFaults, BadReports)
{
    DemoLink demo(9);
    ASSERT_TRUE(demo.Connect());
    demo.rig.sensor->InjectNoTriangle(2);
    for (int i = 0; i < 2; ++i) {
        const auto r = demo.NextReport();
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 0);
        EXPECT_FALSE(FormsTriangle(r->leftMm * 0.001, r->rightMm * 0.001)) << i;
    }
    const auto good = demo.NextReport();
    EXPECT_TRUE(FormsTriangle(good->leftMm * 0.001, good->rightMm * 0.001));

    demo.rig.sensor->InjectStatus(7);
    EXPECT_EQ(demo.NextReport()->status, 7);
    EXPECT_EQ(demo.NextReport()->status, 0);

    demo.rig.sensor->InjectShortTransfer(12);
    const auto shortOne = demo.ReadTransfer();
    ASSERT_TRUE(shortOne);
    EXPECT_EQ(shortOne->size(), 12u);
    demo.rig.sensor->InjectShortTransfer(0);
    const auto empty = demo.ReadTransfer();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->size(), 0u);
    EXPECT_EQ(demo.ReadTransfer()->size(), kReportSize);
}

TEST(DemoSensorFaults, WrongIdentifyReplies)
{
    for (const auto fault : {DemoIdentifyFault::WrongCode, DemoIdentifyFault::Truncated, DemoIdentifyFault::StaleReport}) {
        DemoLink demo(9);
        ASSERT_TRUE(demo.link.OpenLink());
        demo.rig.sensor->InjectIdentifyFault(fault);
        EXPECT_FALSE(Identify(demo.link));
        // What the worker does next: close, open, identify again; the sensor answers properly now.
        demo.link.CloseLink();
        ASSERT_TRUE(demo.link.OpenLink());
        EXPECT_TRUE(Identify(demo.link));
        EXPECT_TRUE(Start(demo.link));
        EXPECT_TRUE(demo.NextReport());
    }
}

TEST(DemoSensorFaults, StopsSendingUntilResumedOrCancelled)
{
    DemoLink demo(2);
    ASSERT_TRUE(demo.Connect());
    ASSERT_TRUE(demo.NextReport());
    demo.rig.sensor->StopSending();
    auto reader = std::async(std::launch::async, [&] { return demo.NextReport().has_value(); });
    EXPECT_EQ(reader.wait_for(150ms), std::future_status::timeout);
    demo.rig.sensor->ResumeSending();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(reader.get());

    demo.rig.sensor->StopSending();
    auto blocked = std::async(std::launch::async, [&] { return demo.NextReport().has_value(); });
    EXPECT_EQ(blocked.wait_for(100ms), std::future_status::timeout);
    demo.link.Cancel();
    ASSERT_EQ(blocked.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(blocked.get());
}

TEST(DemoSensorFaults, UnplugAndPlugInAgain)
{
    DemoLink demo(9, DemoPacing::RealTime);
    ASSERT_TRUE(demo.Connect());
    ASSERT_TRUE(demo.NextReport());
    // Unplugged while a read waits for the next report: the read fails at once.
    auto reader = std::async(std::launch::async, [&] {
        bool ok = true;
        while (ok)
            ok = demo.NextReport().has_value();
        return ok;
    });
    std::this_thread::sleep_for(50ms);
    demo.rig.sensor->Unplug();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
    EXPECT_FALSE(reader.get());

    int count = -1;
    EXPECT_EQ(demo.link.CountDevices(&count), CUsbIF::kNoDevice);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(Identify(demo.link)) << "writes fail on the gone device";
    demo.link.CloseLink();
    EXPECT_FALSE(demo.link.OpenLink());

    // Files of the previous attachment stay dead after it comes back.
    CUsbIF stale(demo.rig.platform);
    demo.rig.sensor->PlugIn();
    ASSERT_TRUE(stale.OpenLink());
    demo.rig.sensor->Unplug();
    demo.rig.sensor->PlugIn();
    EXPECT_FALSE(Identify(stale));

    // A fresh open works, and the sensor waits to be started again.
    ASSERT_TRUE(demo.link.OpenLink());
    EXPECT_FALSE(demo.rig.sensor->Streaming());
    ASSERT_TRUE(Identify(demo.link));
    ASSERT_TRUE(Start(demo.link));
    EXPECT_TRUE(demo.NextReport());
}

}  // namespace
}  // namespace zelkor::device
