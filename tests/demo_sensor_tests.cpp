// The demo sensor: its bytes on the link, its pacing, its scenarios walked as a pupil walks them (cues
// between reads, through CUsbIF, DecodeReport and the experiment's solving variant), and injected faults.
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
#include <tuple>
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
        const DemoPoint p = ToSensorFrame(DemoFrame::Sensor, demo.rig.sensor->LatestMeasurement().position);
        leftErrors.push_back(left - LeftDistance(p) * 1000.0);
        rightErrors.push_back(right - RightDistance(p) * 1000.0);
        commonErrors.push_back(0.5 * (leftErrors.back() + rightErrors.back()));
    }
    // The sensor's clock ran exactly as long as the time fields say.
    EXPECT_DOUBLE_EQ(t, demo.rig.sensor->SensorTime());

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
    EXPECT_NEAR(demo.rig.sensor->SensorTime(), std::chrono::duration<double>(std::chrono::steady_clock::now() -
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

TEST(DemoSensorPacing, TheUnpacedClockStopsAtItsLimit)
{
    DemoLink demo(9);
    ASSERT_TRUE(demo.Connect());
    demo.rig.sensor->PauseClock();
    demo.rig.sensor->RunFor(1.0);
    std::atomic<int> read{0};
    auto reader = std::async(std::launch::async, [&] {
        while (demo.NextReport())
            ++read;
    });
    EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(read.load(), 50) << "one second of reports, then the read waits";
    EXPECT_TRUE(demo.rig.sensor->WaitingAtLimit());
    demo.rig.sensor->RunFor(0.1);
    for (int i = 0; i < 200 && read.load() < 55; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(read.load(), 55);
    demo.link.Cancel();
    ASSERT_EQ(reader.wait_for(2s), std::future_status::ready);
}

// --- Walks: each scenario as a pupil walks it --------------------------------------------------------

// One report as the experiment gets it, beside where the scenario had the transmitter.
struct Sample {
    double t = 0.0;                  // scenario time
    double left = 0.0, right = 0.0;  // metres, as received
    DemoPoint solved;                // with the experiment's variant
    DemoPoint square;                // the same with the mount's tilt undone: where the physics reads plainly
    DemoPoint truth;                 // the scenario's own position, mounted
    DemoPoint squareTruth;
    std::string phase;
};
using Samples = std::vector<Sample>;

Samples InPhase(const Samples& samples, const std::string& phase)
{
    Samples out;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(out),
                 [&](const Sample& s) { return s.phase == phase; });
    return out;
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

template <typename Coordinate>
std::array<double, 3> FitRun(const Samples& run, Coordinate coord, int degree)
{
    std::vector<double> t, v;
    for (const auto& s : run) {
        t.push_back(s.t - run.front().t);
        v.push_back(coord(s));
    }
    return Fit(t, v, degree);
}

double SquareX(const Sample& s) { return s.square.x; }
double SquareY(const Sample& s) { return s.square.y; }

// Times where the square x crosses `level` upwards, interpolated; only after x was `band` below it,
// so that the noise around a crossing counts once.
std::vector<double> UpCrossings(const Samples& run, double level, double band)
{
    std::vector<double> times;
    bool armed = false;
    for (std::size_t i = 1; i < run.size(); ++i) {
        const double a = run[i - 1].square.x - level, b = run[i].square.x - level;
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

// A pupil at the apparatus: clicks (cues sent to the sensor) and looks at the reports in between.
class Walker {
public:
    explicit Walker(int index)
        : demo(index), scenario(demo.rig.sensor->Scenario()), solve(acquisition::SolverFor(scenario.TransformIndex()))
    {
        EXPECT_TRUE(demo.Connect());
        home = Read().phase;  // where the apparatus stands before anything happens
        Click(DemoCue::AcquisitionStarted);
    }

    void Click(DemoCue cue) { demo.rig.sensor->Cue(cue); }

    Sample Read()
    {
        Sample s;
        const auto report = demo.NextReport();
        if (report && report->intervalUs) {
            s.left = static_cast<double>(report->leftMm) * 0.001;
            s.right = static_cast<double>(report->rightMm) * 0.001;
            solve(s.left, s.right, s.solved.x, s.solved.y);
        } else {
            ADD_FAILURE() << "no report";
        }
        const DemoMeasurement m = demo.rig.sensor->LatestMeasurement();
        s.t = m.scenarioTime;
        s.truth = m.position;
        s.phase = m.phase;
        s.square = scenario.Unmounted(s.solved);
        s.squareTruth = scenario.Unmounted(s.truth);
        all.push_back(s);
        return s;
    }
    Samples Read(double seconds)
    {
        Samples out;
        for (int i = 0; i < static_cast<int>(std::lround(seconds / 0.02)); ++i)
            out.push_back(Read());
        return out;
    }
    const Sample& Last() const { return all.back(); }

    // Waits until the apparatus has stood still for longer than the helper ever waits, and says in
    // which pose. A pupil facing one that keeps moving presses stop (and start again) after 5 seconds.
    std::string Settle()
    {
        int still = 0;
        for (int i = 0; i < 1000; ++i) {
            if (i == 250) {
                Click(DemoCue::RecordingStopped);
                Click(DemoCue::AcquisitionStopped);
                Click(DemoCue::AcquisitionStarted);
            }
            const DemoPoint before = Last().truth;
            const Sample s = Read();
            still = (s.truth.x == before.x && s.truth.y == before.y) ? still + 1 : 0;
            if (still >= 125)
                return s.phase;
        }
        return "still moving";
    }

    // One try: zero (when asked), wait, record for `run` seconds, stop, wait until it stands still.
    struct Try {
        Sample zero;
        Samples recorded;
        std::string after;
    };
    Try Do(bool zero, double pause, double run)
    {
        Try t;
        if (zero) {
            t.zero = Last();
            Click(DemoCue::ZeroSet);
            Read(pause);
        }
        Click(DemoCue::RecordingStarted);
        t.recorded = Read(run);
        Click(DemoCue::RecordingStopped);
        t.after = Settle();
        Read(pause);
        return t;
    }

    DemoLink demo;
    const DemoScenario& scenario;
    acquisition::SolveFunction solve;
    std::string home;
    Samples all;
};

// --- The physics each scenario's recording must show, read square to the mount ------------------------

void CheckFreeFall(const Samples& rec)
{
    using namespace sc::free_fall;
    const auto fall = InPhase(rec, "falling");
    ASSERT_GE(fall.size(), 18u);
    EXPECT_NEAR(2.0 * FitRun(fall, SquareY, 2)[2], sc::kGravity, 0.02 * sc::kGravity);
    EXPECT_LT(std::abs(fall.back().square.x - kReleaseX), 0.02);
    // With the zero point at the release point, the ball passes the default drop height 0.8 m.
    const auto floor = InPhase(rec, "on the floor");
    ASSERT_FALSE(floor.empty());
    for (const auto& s : floor) {
        EXPECT_GT(s.square.y - kReleaseY, 0.8 + 0.05);
        EXPECT_LT(s.solved.y, 2.0);
    }
}

void CheckProjectile(const Samples& rec)
{
    using namespace sc::projectile;
    const auto flight = InPhase(rec, "flying");
    ASSERT_GE(flight.size(), 15u);
    EXPECT_NEAR(FitRun(flight, SquareX, 1)[1], kSpeed, 0.02 * kSpeed);
    EXPECT_NEAR(2.0 * FitRun(flight, SquareY, 2)[2], sc::kGravity, 0.03 * sc::kGravity);
    // The throw runs along +X and falls along +Y from the table edge, inside 0 <= X < 1.
    for (const auto& s : flight) {
        EXPECT_GE(s.square.x - kEdgeX, -0.01);
        EXPECT_LT(s.square.x - kEdgeX, 1.0);
        EXPECT_GT(s.square.y - kEdgeY, -0.01);
    }
    // On the floor, some 1.4 m from the sensor, single samples scatter by several millimetres across
    // the line of sight: their mean lies at the drop, each one beyond the default drop height 0.8 m.
    const auto floor = InPhase(rec, "on the floor");
    double depth = 0.0;
    for (const auto& s : floor) {
        EXPECT_GT(s.square.y - kEdgeY, 0.8 + 0.01);
        depth += (s.square.y - kEdgeY) / static_cast<double>(floor.size());
    }
    if (!floor.empty())
        EXPECT_NEAR(depth, kDrop, 0.005);
    // Waiting for the push, the ball lies behind the edge, out of the recording area (X >= 0), so that
    // no resting rows come before the flight.
    for (const auto& s : InPhase(rec, "held at the run-up"))
        EXPECT_LT(s.solved.x - kEdgeX, -0.05);
}

void CheckGalileo(const Samples& rec)
{
    using namespace sc::galileo;
    const auto roll = InPhase(rec, "rolling");
    ASSERT_GE(roll.size(), 30u);
    std::vector<double> t, s;
    for (const auto& p : roll) {
        t.push_back(p.t - roll.front().t);
        s.push_back(std::hypot(p.square.x - kTopX, p.square.y - kTopY));
    }
    EXPECT_NEAR(2.0 * Fit(t, s, 2)[2], kAcceleration, 0.03 * kAcceleration);
    double angle = 0.0;
    for (std::size_t i = roll.size() / 2; i < roll.size(); ++i)
        angle += std::atan2(roll[i].square.y - kTopY, roll[i].square.x - kTopX);
    EXPECT_NEAR(angle / static_cast<double>(roll.size() - roll.size() / 2) * 180.0 / sc::kPi, kAngleDegrees, 0.3);
    const auto& last = roll.back();
    // The recording's distance limit 0.75 m is passed while X < 1.
    EXPECT_GT(std::hypot(last.square.x - kTopX, last.square.y - kTopY), 0.76);
    EXPECT_LT(last.square.x - kTopX, 1.0);
}

void CheckComposition(const Samples& rec)
{
    using namespace sc::composition;
    const auto run = InPhase(rec, "moving");
    ASSERT_GE(run.size(), 100u);
    EXPECT_NEAR(FitRun(run, SquareX, 1)[1], kSpeedX, 0.02 * kSpeedX);
    EXPECT_NEAR(2.0 * FitRun(run, SquareY, 2)[2], kAccelerationY, 0.05 * kAccelerationY);
    // Inside the chart's 0 to 0.4 m with the zero point at the start.
    for (const auto& s : run) {
        EXPECT_GT(s.square.x - kStartX, -0.01);
        EXPECT_LT(s.square.x - kStartX, 0.4);
        EXPECT_GT(s.square.y - kStartY, -0.01);
        EXPECT_LT(s.square.y - kStartY, 0.4);
    }
}

void CheckPendulum(const Samples& rec)
{
    using namespace sc::pendulum;
    const auto swing = InPhase(rec, "swinging");
    ASSERT_GT(swing.size(), 1000u);
    const auto crossings = UpCrossings(swing, 0.0, 0.02);
    ASSERT_GE(crossings.size(), 15u);
    const double small = 2.0 * sc::kPi * std::sqrt(kLength / sc::kGravity);
    EXPECT_NEAR(MeanPeriod(crossings), small, 0.01 * small);
    // Finite amplitude lengthens the period by about a^2/16.
    EXPECT_NEAR(MeanPeriod(crossings), small * (1.0 + kAmplitude * kAmplitude / 16.0), 0.002 * small);
    // The length the experiment measures: the distance from the pivot, the sensor.
    double length = 0.0;
    for (const auto& s : swing)
        length += std::hypot(s.square.x, s.square.y);
    EXPECT_NEAR(length / static_cast<double>(swing.size()), kLength, 0.002);
    EXPECT_LT(std::abs(swing.front().squareTruth.x), kLength * std::sin(kAmplitude) + 1e-3);
}

void CheckMechanicalEnergy(const Samples& rec)
{
    using namespace sc::mechanical_energy;
    const auto swing = InPhase(rec, "swinging");
    ASSERT_GT(swing.size(), 60u);
    // Released at x < 0, passes the lowest point, rises to nearly the same height on the other side.
    EXPECT_LT(swing.front().square.x, -0.9 * kLength * std::sin(kAmplitude));
    const double height = kLength * (1.0 - std::cos(kAmplitude));
    double rise = 0.0, noisyRise = 0.0, lo = 1e9, hi = -1e9;
    bool passed = false;
    for (std::size_t i = 1; i < swing.size() && swing[i].t < swing.front().t + 1.6; ++i) {
        const DemoPoint p = swing[i].squareTruth, q = swing[i - 1].squareTruth;
        passed = passed || p.x > 0.0;
        if (passed) {
            rise = std::max(rise, kLength - p.y);
            noisyRise = std::max(noisyRise, kLength - swing[i].square.y);
        }
        // Energy per unit mass along the noise-free motion, by differences over one report.
        const double v2 = (std::pow(p.x - q.x, 2) + std::pow(p.y - q.y, 2)) / std::pow(swing[i].t - swing[i - 1].t, 2);
        const double e = sc::kGravity * (kLength - 0.5 * (p.y + q.y)) + 0.5 * v2;
        lo = std::min(lo, e);
        hi = std::max(hi, e);
    }
    EXPECT_NEAR(rise, height, 0.02 * height);
    EXPECT_NEAR(noisyRise, height, 0.006);
    EXPECT_LT(hi - lo, 0.03 * sc::kGravity * height) << "energy stays within the light damping";
}

void CheckCircular(const Samples& rec)
{
    using namespace sc::circular;
    const auto turning = InPhase(rec, "turning");
    ASSERT_GT(turning.size(), 300u);
    double radius = 0.0, unwrapped = 0.0, previous = 0.0;
    std::vector<double> t, angle;
    for (std::size_t i = 0; i < turning.size(); ++i) {
        const auto& s = turning[i];
        radius += std::hypot(s.square.x - kCentreX, s.square.y - kCentreY);
        const double a = std::atan2(s.square.y - kCentreY, s.square.x - kCentreX);
        if (i > 0)
            unwrapped += std::remainder(a - previous, 2.0 * sc::kPi);
        previous = a;
        t.push_back(s.t);
        angle.push_back(unwrapped);
        // The path chart spans 0.2 m around the zero point, which the pupil sets at the axis.
        EXPECT_LT(std::abs(s.solved.x - kCentreX), 0.2);
        EXPECT_LT(std::abs(s.solved.y - kCentreY), 0.2);
    }
    EXPECT_NEAR(radius / static_cast<double>(turning.size()), kRadius, 0.002);
    EXPECT_NEAR(2.0 * sc::kPi / Fit(t, angle, 1)[1], 60.0 / kRevolutionsPerMinute, 0.005);
}

void CheckDampedVibration(const Samples& rec)
{
    using namespace sc::damped_vibration;
    const auto vibration = InPhase(rec, "vibrating");
    ASSERT_GT(vibration.size(), 400u);
    const auto crossings = UpCrossings(vibration, kRestX, 0.01);
    ASSERT_GE(crossings.size(), 7u);
    EXPECT_NEAR(MeanPeriod({crossings.begin(), crossings.begin() + 7}), kPeriod, 0.01);
    // Peaks one period apart shrink by e^(-T / decay time); a peak is the mean of the five samples
    // around the largest, so that the noise does not pick the peak.
    auto peak = [&](double from) {
        std::size_t top = 2;
        for (std::size_t i = 2; i + 2 < vibration.size(); ++i) {
            const bool inside = vibration[i].t >= from && vibration[i].t < from + kPeriod;
            if (inside && (vibration[top].t < from || vibration[i].square.x > vibration[top].square.x))
                top = i;
        }
        double sum = 0.0;
        for (std::size_t i = top - 2; i <= top + 2; ++i)
            sum += vibration[i].square.x - kRestX;
        return sum / 5.0;
    };
    const double t0 = vibration.front().t;
    EXPECT_NEAR(peak(t0 + 2.0 * kPeriod - 0.25) / peak(t0 + kPeriod - 0.25), std::exp(-kPeriod / kDecayTime), 0.03);
    for (const auto& s : vibration)
        EXPECT_NEAR(s.square.y, kRestY, 0.01) << "along X only";
}

void CheckSphericalTrack(const Samples& rec)
{
    using namespace sc::spherical_track;
    const auto groove = InPhase(rec, "in the groove");
    ASSERT_GE(groove.size(), 8u);
    // On the quarter circle from the zero point, centre straight below it.
    for (const auto& s : groove) {
        EXPECT_NEAR(std::hypot(s.square.x - kStartX, s.square.y - (kStartY + kRadius)), kRadius, 0.006);
        EXPECT_GE(s.square.x - kStartX, -0.01);
        EXPECT_LE(s.square.y - kStartY, kRadius + 0.01);
    }
    // Then it passes the lower edge of the recording area (0.4) while inside its right edge (0.5).
    const auto caught = InPhase(rec, "in the catcher");
    ASSERT_FALSE(caught.empty());
    for (const auto& s : caught) {
        EXPECT_LT(s.solved.x - kStartX, 0.5);
        EXPECT_GT(s.solved.y - kStartY, 0.4);
    }
}

void CheckCentrifugalTrack(const Samples& rec)
{
    using namespace sc::centrifugal_track;
    const auto run = InPhase(rec, "running");
    ASSERT_GE(run.size(), 20u);
    std::size_t top = 0;
    bool endedRight = false;
    for (std::size_t i = 0; i < run.size(); ++i) {
        const double x = run[i].square.x - kStartX, y = run[i].square.y - kStartY;
        if (x > 0.2 && (top == 0 || run[i].squareTruth.y < run[top].squareTruth.y))
            top = i;
        EXPECT_LT(y, 0.4) << "never below the recording area";
        endedRight = endedRight || x > 0.55;
        if (!endedRight) {
            EXPECT_GT(x, -0.02);
        }
    }
    ASSERT_TRUE(top > 0 && top + 1 < run.size());
    EXPECT_NEAR(run[top].square.y - kStartY, kEntryRadius - 2.0 * kLoopRadius, 0.01) << "went over the loop";
    EXPECT_TRUE(endedRight) << "left through the right edge, which ends the recording";
    // Fast enough at the top of the loop to stay on the track: v^2 >= g r.
    const DemoPoint a = run[top - 1].squareTruth, b = run[top + 1].squareTruth;
    const double v = std::hypot(b.x - a.x, b.y - a.y) / (run[top + 1].t - run[top - 1].t);
    EXPECT_GT(v * v, sc::kGravity * kLoopRadius);
}

void CheckRobotTrace(const Samples& rec)
{
    using namespace sc::robot_trace;
    const auto driving = InPhase(rec, "driving");
    ASSERT_GT(driving.size(), 1100u);
    double minX = 1e9, maxX = -1e9;
    for (const auto& s : driving) {
        minX = std::min(minX, s.square.x);
        maxX = std::max(maxX, s.square.x);
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

void CheckAtRest(const Samples& rec, DemoPoint where, double tolerance)
{
    ASSERT_FALSE(rec.empty());
    double x = 0.0, y = 0.0;
    for (const auto& s : rec) {
        x += s.solved.x;
        y += s.solved.y;
    }
    EXPECT_NEAR(x / static_cast<double>(rec.size()), where.x, tolerance);
    EXPECT_NEAR(y / static_cast<double>(rec.size()), where.y, tolerance);
}

void CheckCalibrationTool(const Samples& rec)
{
    // Variant 0 gives the two distances themselves.
    CheckAtRest(rec, {sc::calibration::kLeft, sc::calibration::kRight}, 0.0002);
}

void CheckOtherIndex(const Samples& rec)
{
    CheckAtRest(rec, {sc::at_rest::kX, sc::at_rest::kY}, 0.001);
}

// Each scenario: how long a try records, where it stands after a try (when not where it began), a
// pose from which a try goes on without a new zero point, and its physics.
struct WalkCase {
    int index;
    double run;
    const char* afterTry;
    const char* ready;
    void (*check)(const Samples&);
};

const WalkCase kWalkCases[] = {
    {9, 2.0, nullptr, nullptr, CheckFreeFall},
    {0, 3.0, "held at the run-up", "held at the run-up", CheckProjectile},
    {8, 2.5, nullptr, nullptr, CheckGalileo},
    {1, 3.5, nullptr, nullptr, CheckComposition},
    {4, 30.0, nullptr, nullptr, CheckPendulum},
    {3, 5.0, nullptr, "held aside", CheckMechanicalEnergy},
    {2, 12.0, nullptr, nullptr, CheckCircular},
    {5, 12.0, nullptr, nullptr, CheckDampedVibration},
    {10, 2.5, nullptr, nullptr, CheckSphericalTrack},
    {7, 3.0, nullptr, nullptr, CheckCentrifugalTrack},
    {6, 25.0, nullptr, nullptr, CheckRobotTrace},
    {12, 10.0, nullptr, nullptr, CheckCalibrationTool},
    {11, 10.0, nullptr, nullptr, CheckOtherIndex},
};

void PrintTo(const WalkCase& c, std::ostream* os)
{
    *os << "experiment " << c.index;
}

std::string CaseName(const WalkCase& c)
{
    return "index" + std::to_string(c.index);
}

// Open the window, read the screen for a while, zero, wait, record, stop; then a second try (zeroing
// again where the object came back to the zero pose). Every try shows the physics, and the object comes
// back where the next try starts.
class DemoWalk : public ::testing::TestWithParam<std::tuple<WalkCase, double>> {};

TEST_P(DemoWalk, EveryTryRecordsTheScenariosPhysics)
{
    const auto& [c, pause] = GetParam();
    Walker w(c.index);
    w.Read(pause);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE("try " + std::to_string(attempt + 1));
        const bool zero = attempt == 0 || w.Last().phase == w.home;
        const auto t = w.Do(zero, pause, c.run);
        if (zero) {
            EXPECT_EQ(t.zero.phase, w.home) << "nothing moved before the pupil acted";
        }
        c.check(t.recorded);
        EXPECT_EQ(t.after, c.afterTry ? c.afterTry : w.home);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryScenarioAtAnyPace, DemoWalk,
                         ::testing::Combine(::testing::ValuesIn(kWalkCases), ::testing::Values(0.0, 3.0, 30.0)),
                         [](const auto& p) {
                             return CaseName(std::get<0>(p.param)) + "_pause" +
                                    std::to_string(static_cast<int>(std::get<1>(p.param))) + "s";
                         });

// Every report of a walk is a valid triangle, and solving it gives the scenario's own position within
// what the distance noise allows at that place (6 standard deviations, propagated through the solver).
class DemoWalkReports : public ::testing::TestWithParam<WalkCase> {};

TEST_P(DemoWalkReports, SolveBackToTheScenariosPosition)
{
    const WalkCase& c = GetParam();
    Walker w(c.index);
    w.Read(3.0);
    w.Do(true, 3.0, c.run);
    const auto solve = w.solve;
    double sumNormalised = 0.0, worst = 0.0;
    for (const auto& s : w.all) {
        ASSERT_TRUE(FormsTriangle(s.left, s.right)) << "t = " << s.t;
        const DemoPoint sensor = ToSensorFrame(w.scenario.Frame(), s.truth);
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
        const double cn = kDemoCommonNoiseMm * 1e-3, o = kDemoOwnNoiseMm * 1e-3;
        for (int axis = 0; axis < 2; ++axis) {
            const double sigma = std::sqrt(std::pow((jl[axis] + jr[axis]) * cn, 2) +
                                           (jl[axis] * jl[axis] + jr[axis] * jr[axis]) * o * o) + 1e-7;
            const double error = (axis == 0 ? s.solved.x - s.truth.x : s.solved.y - s.truth.y) / sigma;
            ASSERT_LT(std::abs(error), 6.0) << "axis " << axis << " t = " << s.t << " phase " << s.phase;
            sumNormalised += error;
            worst = std::max(worst, std::abs(error));
        }
    }
    EXPECT_LT(std::abs(sumNormalised / (2.0 * static_cast<double>(w.all.size()))), 0.1) << "no bias";
    EXPECT_GT(worst, 1.0) << "the noise is there";
}

INSTANTIATE_TEST_SUITE_P(EveryScenario, DemoWalkReports, ::testing::ValuesIn(kWalkCases),
                         [](const auto& p) { return CaseName(p.param); });

// A pupil who clicks in any order (the letters are clicks, `gap` seconds apart), ends the attempt with
// stop and waits until the apparatus stands still, finds it in a pose from which the next try works.
struct Mess {
    const char* name;
    const char* clicks;  // Z zero, R record, S stop, C clear, K calibrate, H and P helper, A and B acquisition
    double gap;
};

void PrintTo(const Mess& m, std::ostream* os)
{
    *os << m.name;
}

const Mess kMesses[] = {
    {"ZeroTwice", "ZZ", 0.3},
    {"StopAtOnce", "RS", 0.0},
    {"RecordBeforeZero", "RS", 2.0},
    {"ClearMidMotion", "ZRC", 0.8},
    {"CalibrationAtTheStart", "K", 0.3},
    {"RecordAtTheCalibrationPoint", "HRS", 2.0},
    {"PutBackMidMotion", "ZRP", 1.0},
    {"AcquisitionRestartedMidMotion", "ZRAB", 1.5},
};

DemoCue CueOf(char click)
{
    switch (click) {
    case 'Z': return DemoCue::ZeroSet;
    case 'R': return DemoCue::RecordingStarted;
    case 'S': return DemoCue::RecordingStopped;
    case 'C': return DemoCue::Cleared;
    case 'K': return DemoCue::CalibrationSet;
    case 'H': return DemoCue::HelperToCalibrationPoint;
    case 'P': return DemoCue::HelperPutBack;
    case 'A': return DemoCue::AcquisitionStopped;
    default: return DemoCue::AcquisitionStarted;
    }
}

class DemoMess : public ::testing::TestWithParam<std::tuple<WalkCase, Mess>> {};

TEST_P(DemoMess, LeavesAPoseFromWhichTheNextTryWorks)
{
    const auto& [c, mess] = GetParam();
    Walker w(c.index);
    w.Read(3.0);
    for (const char* k = mess.clicks; *k; ++k) {
        w.Click(CueOf(*k));
        w.Read(mess.gap);
    }
    w.Click(DemoCue::RecordingStopped);
    const std::string settled = w.Settle();
    const bool atHome = settled == w.home;
    ASSERT_TRUE(atHome || (c.ready && settled == c.ready)) << settled;
    const auto t = w.Do(atHome, 3.0, c.run);
    if (atHome) {
        EXPECT_EQ(t.zero.phase, w.home);
    }
    c.check(t.recorded);
    EXPECT_EQ(t.after, c.afterTry ? c.afterTry : w.home);
}

INSTANTIATE_TEST_SUITE_P(AnyOrderOfClicks, DemoMess,
                         ::testing::Combine(::testing::ValuesIn(kWalkCases), ::testing::ValuesIn(kMesses)),
                         [](const auto& p) {
                             return CaseName(std::get<0>(p.param)) + "_" + std::get<1>(p.param).name;
                         });

// With the helper: zero, the object to the calibration point, calibrate there, then a try. The angle
// the window computes from the two points is the mount's tilt (along the incline for Galileo), and the
// helper brings the object to where the try starts.
struct CalibrationWalk {
    WalkCase walk;
    bool vertical;          // atan(X / Y), else atan(Y / X)
    double expectedDegrees;
    const char* after;
};

void PrintTo(const CalibrationWalk& c, std::ostream* os)
{
    PrintTo(c.walk, os);
}

const CalibrationWalk kCalibrationWalks[] = {
    {kWalkCases[0], true, -sc::free_fall::kTiltDegrees, "held"},
    {kWalkCases[1], false, sc::projectile::kTiltDegrees, "held at the run-up"},
    {kWalkCases[2], false, sc::galileo::kAngleDegrees + sc::galileo::kTiltDegrees, "held at the top"},
};

class DemoCalibration : public ::testing::TestWithParam<std::tuple<CalibrationWalk, double>> {};

TEST_P(DemoCalibration, TheHelperHoldsTheObjectAtTheCalibrationPoint)
{
    const auto& [c, pause] = GetParam();
    Walker w(c.walk.index);
    w.Read(pause);
    const Sample zero = w.Last();
    w.Click(DemoCue::ZeroSet);
    w.Read(pause);
    w.Settle();
    w.Click(DemoCue::HelperToCalibrationPoint);
    ASSERT_EQ(w.Settle(), "held at the calibration point");
    w.Read(pause);
    EXPECT_EQ(w.Last().phase, "held at the calibration point") << "held however long the pupil takes";
    const double x = w.Last().solved.x - zero.solved.x, y = w.Last().solved.y - zero.solved.y;
    // One sample at each point, as the window takes them: about half a degree of noise.
    EXPECT_NEAR(std::atan(c.vertical ? x / y : y / x) * 180.0 / sc::kPi, c.expectedDegrees, 1.5);
    w.Click(DemoCue::CalibrationSet);
    EXPECT_EQ(w.Settle(), c.after);
    w.Read(pause);
    const auto t = w.Do(false, pause, c.walk.run);
    c.walk.check(t.recorded);
}

INSTANTIATE_TEST_SUITE_P(ScenariosThatCalibrate, DemoCalibration,
                         ::testing::Combine(::testing::ValuesIn(kCalibrationWalks), ::testing::Values(0.0, 3.0, 30.0)),
                         [](const auto& p) {
                             return CaseName(std::get<0>(p.param).walk) + "_pause" +
                                    std::to_string(static_cast<int>(std::get<1>(p.param))) + "s";
                         });

// --- Cues -------------------------------------------------------------------------------------------

TEST(DemoSensorCues, RegistryFollowsLiveSensors)
{
    EXPECT_FALSE(DemoModeActive());
    EXPECT_TRUE(DemoHelperActions().empty());
    SendDemoCue(DemoCue::RecordingStarted);  // no sensor: nothing happens
    {
        auto rig = MakeDemoPlatformForTests(9);
        EXPECT_TRUE(DemoModeActive());
        const auto actions = DemoHelperActions();
        ASSERT_EQ(actions.size(), 2u);
        EXPECT_EQ(actions[0].cue, DemoCue::HelperToCalibrationPoint);
        EXPECT_EQ(actions[1].cue, DemoCue::HelperPutBack);
        SendDemoCue(DemoCue::AcquisitionStarted);
        SendDemoCue(DemoCue::HelperToCalibrationPoint);
        rig.sensor->ScenarioTime();
        CUsbIF link(rig.platform);
        ASSERT_TRUE(link.OpenLink() && Identify(link) && Start(link));
        std::array<std::uint8_t, kReportSize> buffer{};
        std::size_t n = 0;
        ASSERT_TRUE(link.Read(buffer.size(), buffer.data(), &n));
        EXPECT_EQ(rig.sensor->LatestMeasurement().phase, "carried to the calibration point");
    }
    EXPECT_FALSE(DemoModeActive());
}

// The scenario clock starts with the acquisition; until then nothing moves, whatever the cues.
TEST(DemoSensorCues, TheClockStartsWithTheAcquisition)
{
    DemoLink demo(9);
    ASSERT_TRUE(demo.Connect());
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(demo.NextReport());
    EXPECT_EQ(demo.rig.sensor->ScenarioTime(), 0.0);
    demo.rig.sensor->Cue(DemoCue::AcquisitionStarted);
    const double started = demo.rig.sensor->SensorTime();
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(demo.NextReport());
    EXPECT_DOUBLE_EQ(demo.rig.sensor->ScenarioTime(), demo.rig.sensor->SensorTime() - started);
    demo.rig.sensor->Cue(DemoCue::AcquisitionStarted);  // a second start keeps the clock
    EXPECT_DOUBLE_EQ(demo.rig.sensor->ScenarioTime(), demo.rig.sensor->SensorTime() - started);
}

// The helper's timing, read off the scenario: the reaction delay, a stop during the fall acted on once
// the ball lies on the floor, a stop within the delay that calls the helper off, and requests that
// interrupt whatever the object is doing.
TEST(DemoSensorCues, TheHelperReactsToThePupil)
{
    using namespace sc::free_fall;
    auto s = MakeDemoScenario(9);
    auto phaseAt = [&](double t) { return (s->Position(t), s->PhaseName()); };
    EXPECT_EQ(phaseAt(100.0), "held");
    s->Cue(DemoCue::RecordingStarted, 100.0);
    EXPECT_EQ(phaseAt(100.0 + sc::kHelperReaction - 0.01), "held");
    EXPECT_EQ(phaseAt(100.0 + sc::kHelperReaction + 0.01), "falling");
    s->Cue(DemoCue::RecordingStopped, 100.8);  // the window's own end of the recording, mid-fall
    const double landed = 100.0 + sc::kHelperReaction + kFallTime;
    EXPECT_EQ(phaseAt(landed + kLiftDelay - 0.01), "on the floor");
    EXPECT_EQ(phaseAt(landed + kLiftDelay + 0.01), "lifted back");
    EXPECT_EQ(phaseAt(landed + kLiftDelay + kLift + 0.01), "held");
    EXPECT_NEAR(s->Position(200.0).y, kReleaseY, 1e-12);

    s->Cue(DemoCue::RecordingStarted, 200.0);
    s->Cue(DemoCue::RecordingStopped, 200.2);
    EXPECT_EQ(phaseAt(300.0), "held") << "stopped before the helper let go";

    s->Cue(DemoCue::HelperToCalibrationPoint, 300.0);
    EXPECT_EQ(phaseAt(300.01), "carried to the calibration point");
    s->Cue(DemoCue::HelperPutBack, 300.5);
    EXPECT_EQ(phaseAt(300.51), "put back");
    s->Cue(DemoCue::HelperToCalibrationPoint, 301.0);  // changed its mind: the latest request counts
    EXPECT_EQ(phaseAt(301.01), "carried to the calibration point");
    s->Cue(DemoCue::HelperPutBack, 302.0);  // two at one instant: the later one, once
    s->Cue(DemoCue::HelperToCalibrationPoint, 302.0);
    EXPECT_EQ(phaseAt(302.0), "carried to the calibration point");
    const DemoPoint held = s->Unmounted(s->Position(310.0));
    EXPECT_EQ(s->PhaseName(), "held at the calibration point");
    EXPECT_NEAR(held.x, kReleaseX, 1e-12) << "straight above the release point";
    EXPECT_NEAR(held.y, kReleaseY - kCalibrationRise, 1e-12);
    s->Cue(DemoCue::CalibrationSet, 400.0);
    EXPECT_EQ(phaseAt(400.0 + sc::kAfterCalibration + sc::kHelperCarry + 0.01), "held");
}

// A run (here the pendulum's swing) heeds a stop that came while it was being prepared: the pupil who
// records and stops at once gets the bob stopped right after the helper let it go.
TEST(DemoSensorCues, ARunHeedsAStopFromItsPreparation)
{
    using namespace sc::pendulum;
    auto s = MakeDemoScenario(4);
    auto phaseAt = [&](double t) { return (s->Position(t), s->PhaseName()); };
    s->Cue(DemoCue::ZeroSet, 8.0);
    EXPECT_EQ(phaseAt(8.0 + kPullDelay + 0.5), "hanging still") << "the equilibrium alone moves nothing";
    s->Cue(DemoCue::RecordingStarted, 10.0);
    EXPECT_EQ(phaseAt(10.0 + kPullDelay + 0.01), "pulled aside");
    s->Cue(DemoCue::RecordingStopped, 10.0 + kPullDelay + 0.5);  // while the helper pulls
    const double released = 10.0 + kPullDelay + kPull + kHold;
    EXPECT_EQ(phaseAt(released + 0.01), "swinging");
    EXPECT_EQ(phaseAt(released + kStopDelay + 0.01), "stopped by hand");
    EXPECT_EQ(phaseAt(released + kStopDelay + kStop + 0.01), "hanging still");
    EXPECT_EQ(phaseAt(1000.0), "hanging still") << "a stop of the last run does not end the next";
    s->Cue(DemoCue::RecordingStarted, 1000.0);
    EXPECT_EQ(phaseAt(1100.0), "swinging");
}

// Cues from another thread while a real-time read waits: applied at once, no deadlock.
TEST(DemoSensorCues, FromAnotherThreadWhileReading)
{
    DemoLink demo(4, DemoPacing::RealTime);
    ASSERT_TRUE(demo.Connect());
    std::atomic<bool> done{false};
    std::thread cues([&] {
        SendDemoCue(DemoCue::AcquisitionStarted);
        while (!done.load()) {
            SendDemoCue(DemoCue::ZeroSet);
            SendDemoCue(DemoCue::RecordingStarted);
            std::this_thread::sleep_for(3ms);
        }
    });
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(demo.NextReport());
    done.store(true);
    cues.join();
    EXPECT_GT(demo.rig.sensor->ScenarioTime(), 0.0);
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
