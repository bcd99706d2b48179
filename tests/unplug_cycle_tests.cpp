// The sensor's cable pulled and put back again and again while a window streams and records, on the demo
// sensor's unpaced clock, through the real engine. Each time the window must stream again by itself,
// every report the sensor sent must end up as exactly one recorded row (none lost, none twice), and the
// process must hold no more threads, files or memory at the end than after warming up.
//
// ZELKOR_UNPLUG_CYCLES sets the number of cycles per window (1,000 by default).
#include "experiments/calibration_tool.h"
#include "experiments/free_fall.h"
#include "experiments/single_pendulum.h"
#include "tests/support/long_run.h"
#include "tests/support/window_pupil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::ProcessFigures;
using zelkor::testing::WaitUntil;

namespace {

constexpr double kStep = 4 * 0.02;  // four reports between two unplugs
constexpr int kAtLengthEvery = 25;  // every so many cycles the host finds no sensor for a while
using Sent = std::vector<device::DemoSentReport>;

long Cycles()
{
    return zelkor::testing::RunLength("ZELKOR_UNPLUG_CYCLES", 1000);
}

// What the process holds after warming up and at the end: no more threads or files, a few MB of memory
// at most (allocator and font caches settle in steps).
void ExpectFlat(const ProcessFigures& warm, const ProcessFigures& end, const char* what)
{
    std::printf("%s: after warm-up %ld threads, %ld files, %ld kB; at the end %ld threads, %ld files, %ld kB\n",
                what, warm.threads, warm.files, warm.residentKb, end.threads, end.files, end.residentKb);
    EXPECT_LE(end.threads, warm.threads) << what;
    EXPECT_LE(end.files, warm.files) << what;
    EXPECT_LT(end.residentKb - warm.residentKb, 8 * 1024) << what;
}

// A cycle counter that takes the warm-up figures and unplugs, at length now and then.
struct Cycler {
    explicit Cycler(device::DemoSensor& s) : sensor(s) {}
    device::DemoSensor& sensor;
    long whileStreaming = 0, whileRecording = 0;
    ProcessFigures warm;

    long Done() const { return whileStreaming + whileRecording; }
    void Replug(bool recording)
    {
        if (Done() == 100)
            warm = ProcessFigures::Now();
        (recording ? whileRecording : whileStreaming) += 1;
        ASSERT_TRUE(zelkor::testing::Replug(sensor, Done() % kAtLengthEvery == 0)) << "the host looked for the sensor";
    }
};

// The reports of one stretch between two unplugs; the window streams again when it has got some.
template <class Pupil>
Sent Stretch(Pupil& pupil, double seconds)
{
    pupil.Wait(seconds);
    Sent fresh = pupil.rig.sensor->TakeSentReports();
    EXPECT_FALSE(fresh.empty()) << "streaming resumed after the sensor came back";
    return fresh;
}

// Free fall records from the click until the ball passes the drop height, and leaves out points above
// the release point. Every report sent in between is one row, in order.
void ExpectRowsAreTheReports(const CDlgTdFreelyFall& w, const Sent& sent)
{
    const auto& rows = w.Records();
    ASSERT_FALSE(rows.empty());
    std::size_t row = 0;
    for (const device::DemoSentReport& report : sent) {
        const zelkor::testing::SolvedReport p = zelkor::testing::Solve(report, w.m_transformIndex.load());
        const PositionFrame::Shown shown = w.Frame().Apply(p.x, p.y);
        if (row < rows.size() && shown.x == rows[row].x && shown.y == rows[row].y) {
            ++row;
        } else if (row > 0 && row < rows.size()) {
            ASSERT_LE(shown.y, kRestTolerance) << "report " << report.number << " is missing from the rows";
        }
    }
    EXPECT_EQ(row, rows.size()) << "rows that match no report in order (twice, or invented)";
}

TEST(UnplugCycles, FreeFallStreamsAndRecordsEveryReportAcrossReplugs)
{
    zelkor::testing::DemoWindowPupil<CDlgTdFreelyFall> pupil(kFreeFallIndex);
    CDlgTdFreelyFall& w = *pupil.window;
    device::DemoSensor& sensor = *pupil.rig.sensor;
    ASSERT_TRUE(WaitUntil([&] { return w.StartedUp() && sensor.WaitingAtLimit(); }));
    pupil.Wait(2.0);
    pupil.Click(kIdZero);
    sensor.KeepSentReports(true);

    const long half = Cycles() / 2;
    Cycler cycles{sensor};
    Sent sinceRecord;
    int heldStretches = 0, falls = 0;
    while (cycles.whileRecording < half || cycles.whileStreaming < half) {
        const bool held = !w.Recording() && pupil.Phase() == "held";
        if (held && heldStretches >= 5 && cycles.whileRecording < half) {
            sensor.TakeSentReports();
            sinceRecord.clear();
            pupil.Click(kIdStartRecording);
            heldStretches = 0;
        }
        const bool recording = w.Recording();
        const Sent fresh = Stretch(pupil, recording || held ? kStep : 0.5);
        ASSERT_FALSE(fresh.empty()) << "after " << cycles.Done() << " cycles";
        const auto last = zelkor::testing::Solve(fresh.back(), w.m_transformIndex.load());
        EXPECT_EQ(w.ShownX(), w.Frame().Apply(last.x, last.y).x) << "the window shows the newest report";
        if (recording) {
            sinceRecord.insert(sinceRecord.end(), fresh.begin(), fresh.end());
            if (!w.Recording()) {
                ++falls;
                ExpectRowsAreTheReports(w, sinceRecord);
                EXPECT_GT(w.Records().back().y, 0.7) << "the fall was recorded down to the drop height";
            }
        }
        heldStretches += held ? 1 : 0;
        cycles.Replug(w.Recording());
        if (HasFatalFailure())
            return;
    }
    std::printf("free fall: %ld cycles while streaming, %ld while recording, %d falls\n", cycles.whileStreaming,
                cycles.whileRecording, falls);
    EXPECT_GT(falls, 0);
    ExpectFlat(cycles.warm, ProcessFigures::Now(), "free fall");
}

// The pendulum records every sample from "记录" to "停止": the points are exactly the reports.
TEST(UnplugCycles, PendulumStreamsAndRecordsEveryReportAcrossReplugs)
{
    zelkor::testing::DemoWindowPupil<CDlgTdSinglePendulum> pupil(kSinglePendulumIndex);
    CDlgTdSinglePendulum& w = *pupil.window;
    device::DemoSensor& sensor = *pupil.rig.sensor;
    pupil.Start();
    sensor.KeepSentReports(true);

    const long half = Cycles() / 2;
    constexpr int kPerRecording = 10;
    Cycler cycles{sensor};
    while (cycles.whileRecording < half || cycles.whileStreaming < half) {
        // Live without recording, then a recording, each across a few replugs.
        for (int i = 0; i < kPerRecording; ++i) {
            Stretch(pupil, kStep);
            cycles.Replug(false);
        }
        Stretch(pupil, kStep);
        pupil.Click(kIdPendulumRecord);
        ASSERT_TRUE(w.Recording());
        Sent sent;
        for (int i = 0; i < kPerRecording; ++i) {
            const Sent fresh = Stretch(pupil, kStep);
            sent.insert(sent.end(), fresh.begin(), fresh.end());
            cycles.Replug(true);
        }
        const Sent fresh = Stretch(pupil, kStep);
        sent.insert(sent.end(), fresh.begin(), fresh.end());
        pupil.Click(acquisition::kIdStop);
        const auto& points = w.Points();
        ASSERT_EQ(points.size(), sent.size()) << "every report sent while recording is one point";
        for (std::size_t i = 0; i < points.size(); ++i) {
            const zelkor::testing::SolvedReport p = zelkor::testing::Solve(sent[i], w.m_transformIndex.load());
            ASSERT_EQ(points[i].a, p.x - w.ZeroX()) << "point " << i;
            ASSERT_EQ(points[i].b, p.y) << "point " << i;
        }
        pupil.Click(acquisition::kIdStart);
        ASSERT_TRUE(WaitUntil([&] { return sensor.WaitingAtLimit(); }));
        sensor.TakeSentReports();
        if (HasFatalFailure())
            return;
    }
    std::printf("pendulum: %ld cycles while streaming, %ld while recording\n", cycles.whileStreaming,
                cycles.whileRecording);
    ExpectFlat(cycles.warm, ProcessFigures::Now(), "pendulum");
}

// The calibration tool keeps its link when the sensor stops identifying: after a replug it asks the
// dead link again and again and gets nothing, until the tool is opened anew. Each window of the cycles
// gets its worker, loses the sensor, and goes; none leaves a thread or a file behind.
TEST(UnplugCycles, CalibrationToolStreamsAgainOnlyWhenOpenedAnew)
{
    device::DemoRig rig = device::MakeDemoPlatformForTests(kCalibrationToolIndex, device::DemoPacing::Unpaced);
    rig.sensor->PauseClock();
    const long cycles = std::max(20L, Cycles() / 20);
    ProcessFigures warm;
    for (long cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE("window " + std::to_string(cycle + 1));
        if (cycle == 3)
            warm = ProcessFigures::Now();
        auto window = acquisition::MakeExperimentWindow<CDlgTdCalibration>(nullptr, rig.platform);
        window->show();
        QTest::mouseClick(widgets::FindControl<QWidget>(window.get(), acquisition::kIdStart), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return rig.sensor->WaitingAtLimit(); })) << "opened anew, it streams";
        const std::uint64_t before = rig.sensor->ReportsSent();
        rig.sensor->RunFor(0.2);
        ASSERT_TRUE(WaitUntil([&] { return rig.sensor->WaitingAtLimit() && window->m_sampleQueue.Size() == 0; }));
        EXPECT_GE(rig.sensor->ReportsSent(), before + 9);
        EXPECT_GT(window->CurrentX(), 0.0) << "the live distance is shown";

        rig.sensor->Unplug();
        if (cycle % 2 == 0)
            QTest::qWait(20);  // out for a while: the tool does not even look for it
        rig.sensor->PlugIn();
        const std::uint64_t unplugged = rig.sensor->ReportsSent();
        rig.sensor->RunFor(0.2);
        QTest::qWait(30);  // the worker asks the old link again and again meanwhile
        EXPECT_TRUE(window->m_link.IsConnected()) << "the link is kept, not reopened";
        EXPECT_FALSE(window->m_streaming.load());
        EXPECT_FALSE(rig.sensor->Streaming()) << "nothing identified the sensor that came back";
        EXPECT_EQ(rig.sensor->ReportsSent(), unplugged);
        EXPECT_EQ(rig.sensor->MissedLookUps(), 0u) << "the tool never looked for the sensor again";

        QTest::mouseClick(widgets::FindControl<QWidget>(window.get(), acquisition::kIdBack), Qt::LeftButton);
        window.reset();
        if (HasFatalFailure())
            return;
    }
    ExpectFlat(warm, ProcessFigures::Now(), "calibration tool");
}

}  // namespace
