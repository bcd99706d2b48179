// A lesson's worth of reports through a live pendulum window on the demo sensor's unpaced clock: a
// recording started and stopped every minute, every report of each recording one point, memory
// bounded, the sample queue within its cap; and a user-interface thread that stops drawing for 30 s
// (the worker goes on queueing) gets every sample afterwards below the cap and the newest ones above it.
//
// ZELKOR_SOAK_MINUTES sets the simulated minutes (a few by default; 60 for the hour, by hand: the
// worker's 1 ms pause between two reads makes that about four minutes of real time).
#include "experiments/single_pendulum.h"
#include "tests/support/long_run.h"
#include "tests/support/window_pupil.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::ProcessFigures;
using zelkor::testing::WaitUntil;

namespace {

using Sent = std::vector<device::DemoSentReport>;
using SampleQueue = acquisition::SampleQueue;

class PendulumAtLength : public zelkor::testing::DemoWindowPupil<CDlgTdSinglePendulum> {
public:
    PendulumAtLength() : DemoWindowPupil(kSinglePendulumIndex)
    {
        Start();
        rig.sensor->KeepSentReports(true);
    }

    // Point `index` of the window is this report.
    void ExpectPointIs(std::size_t index, const device::DemoSentReport& report) const
    {
        const CDlgTdSinglePendulum& w = *window;
        ASSERT_LT(index, w.Points().size());
        const zelkor::testing::SolvedReport p = zelkor::testing::Solve(report, w.m_transformIndex.load());
        EXPECT_EQ(w.Points()[index].a, p.x - w.ZeroX()) << "report " << report.number;
        EXPECT_EQ(w.Points()[index].b, p.y) << "report " << report.number;
    }
};

TEST(Soak, AnHourOfRecordingsStartedAndStoppedEveryMinute)
{
    const long minutes = zelkor::testing::RunLength("ZELKOR_SOAK_MINUTES", 6);
    PendulumAtLength pupil;
    CDlgTdSinglePendulum& w = *pupil.window;
    device::DemoSensor& sensor = *pupil.rig.sensor;
    constexpr int kRecordedSeconds = 50;
    ProcessFigures warm;
    std::size_t recorded = 0;
    for (long minute = 0; minute < minutes; ++minute) {
        SCOPED_TRACE("minute " + std::to_string(minute + 1));
        if (minute == 1)
            warm = ProcessFigures::Now();
        sensor.TakeSentReports();
        pupil.Click(kIdPendulumRecord);
        std::size_t sent = 0;
        for (int second = 0; second < kRecordedSeconds; ++second) {
            pupil.Wait(1.0);
            const Sent fresh = sensor.TakeSentReports();
            if (second == 0 && !fresh.empty())
                pupil.ExpectPointIs(0, fresh.front());
            sent += fresh.size();
            if (second == kRecordedSeconds - 1 && !fresh.empty())
                pupil.ExpectPointIs(w.Points().size() - 1, fresh.back());
        }
        pupil.Click(acquisition::kIdStop);
        EXPECT_EQ(w.Points().size(), sent) << "every report sent while recording is one point";
        EXPECT_NEAR(static_cast<double>(sent), kRecordedSeconds * 50.0, 2.0);
        recorded += w.Points().size();
        // Stopped, the worker goes on queueing until the next start clears the queue.
        pupil.Wait(60.0 - kRecordedSeconds);
        EXPECT_GE(w.m_sampleQueue.Size(), 490u);
        pupil.Click(acquisition::kIdStart);
        ASSERT_TRUE(WaitUntil([&] { return sensor.WaitingAtLimit(); }));
        if (HasFatalFailure())
            return;
    }
    const ProcessFigures end = ProcessFigures::Now();
    const std::size_t highWater = w.m_sampleQueue.HighWater();
    std::printf("soak: %ld simulated minutes, %llu reports sent, %zu recorded; sample queue high water %zu; "
                "after minute 1: %ld kB, at the end: %ld kB (%+ld kB); threads %ld -> %ld, files %ld -> %ld\n",
                minutes, static_cast<unsigned long long>(sensor.ReportsSent()), recorded, highWater,
                warm.residentKb, end.residentKb, end.residentKb - warm.residentKb, warm.threads, end.threads,
                warm.files, end.files);
    EXPECT_LE(highWater, SampleQueue::kCap + 1);
    EXPECT_GE(highWater, 490u) << "the samples queued while stopped";
    if (minutes > 1) {
        EXPECT_LT(end.residentKb - warm.residentKb, 8 * 1024);
        EXPECT_LE(end.threads, warm.threads);
        EXPECT_LE(end.files, warm.files);
    }
}

// The user-interface thread does nothing for 30 s of reports (blocked outright, no event processed),
// with the worker reading unpaced meanwhile. Then the window draws again and gets what was queued:
// every sample while the queue stayed below its cap, the newest cap + 1 of them when it passed it.
class BlockedInterface : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BlockedInterface, GetsEverySampleBelowTheCapAndTheNewestAboveIt)
{
    const std::size_t cap = GetParam();
    PendulumAtLength pupil;
    CDlgTdSinglePendulum& w = *pupil.window;
    device::DemoSensor& sensor = *pupil.rig.sensor;
    pupil.Click(kIdPendulumRecord);
    pupil.Wait(2.0);
    sensor.TakeSentReports();
    w.m_sampleQueue.SetCap(cap);
    const std::size_t before = w.Points().size();

    sensor.RunFor(30.0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!sensor.WaitingAtLimit() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(sensor.WaitingAtLimit()) << "the worker read the 30 s while the interface was blocked";
    const Sent sent = sensor.TakeSentReports();
    const std::size_t queued = w.m_sampleQueue.Size();
    ASSERT_TRUE(WaitUntil([&] { return w.m_sampleQueue.Size() == 0; }));

    const std::size_t arrived = w.Points().size() - before;
    const std::size_t expected = std::min(sent.size(), cap + 1);
    std::printf("blocked 30 s, cap %zu: %zu sent, %zu queued, %zu arrived, %zu dropped; high water %zu\n", cap,
                sent.size(), queued, arrived, sent.size() - arrived, w.m_sampleQueue.HighWater());
    EXPECT_NEAR(static_cast<double>(sent.size()), 1500.0, 2.0);
    EXPECT_EQ(queued, expected);
    EXPECT_EQ(arrived, expected);
    EXPECT_LE(w.m_sampleQueue.HighWater(), std::max(cap + 1, std::size_t{1}));
    ASSERT_FALSE(sent.empty());
    // The oldest gave way: what arrived is the end of what was sent, in order.
    pupil.ExpectPointIs(before, sent[sent.size() - arrived]);
    pupil.ExpectPointIs(w.Points().size() - 1, sent.back());
    // And the window goes on as before.
    pupil.Wait(1.0);
    EXPECT_EQ(w.Points().size() - before, arrived + sensor.TakeSentReports().size());
}

// The real cap, which 30 s of reports stay far below; and one lowered under them.
INSTANTIATE_TEST_SUITE_P(Caps, BlockedInterface, ::testing::Values(SampleQueue::kCap, std::size_t{1000}));

}  // namespace
