// The sample queue and the thinning of raw reports to the sampling frequency.
#include "acquisition/decimator.h"
#include "device/sensor_protocol.h"
#include "tests/support/scripted_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <limits>
#include <thread>
#include <vector>

using namespace zelkor::acquisition;

namespace {

DataPck Raw(double left, float interval = 0.02f)
{
    return DataPck{left, left, 21.5f, interval};
}

// Feeds `count` raw samples one at a time, running the decimation after each as the worker does, and
// returns everything delivered.
std::vector<DataPck> Feed(Decimator& decimator, SampleQueue& raw, int count, double frequency, float version,
                         int firstId = 0)
{
    SampleQueue samples;
    for (int i = 0; i < count; ++i) {
        raw.Push(Raw(firstId + i));
        decimator.Decimate(raw, samples, frequency, version, SolverFor(0));
    }
    std::vector<DataPck> out;
    while (const auto s = samples.Front()) {
        out.push_back(*s);
        samples.PopFront();
    }
    return out;
}

}  // namespace

TEST(SampleQueue, FifoOperations)
{
    SampleQueue q;
    EXPECT_FALSE(q.Front().has_value());
    q.PopFront();  // empty: nothing happens
    q.DiscardOldest(3);
    for (int i = 0; i < 5; ++i)
        q.Push(Raw(i));
    EXPECT_EQ(q.Size(), 5u);
    EXPECT_EQ(q.Front()->x, 0.0);
    q.DiscardOldest(2);
    EXPECT_EQ(q.Front()->x, 2.0);
    q.DiscardOldest(3);  // not below the count: all go
    EXPECT_EQ(q.Size(), 0u);
    q.Push(Raw(7));
    q.Clear();
    EXPECT_EQ(q.Size(), 0u);
}

TEST(SampleQueue, CapDropsTheOldest)
{
    SampleQueue q;
    for (std::size_t i = 0; i <= SampleQueue::kCap; ++i)
        q.Push(Raw(static_cast<double>(i)));
    EXPECT_EQ(q.Size(), SampleQueue::kCap + 1);  // over the cap by one at most
    q.Push(Raw(-1));
    EXPECT_EQ(q.Size(), SampleQueue::kCap + 1);
    EXPECT_EQ(q.Front()->x, 1.0);
}

TEST(SampleQueue, TwoThreadsLoseNothing)
{
    SampleQueue q;
    constexpr int kCount = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            q.Push(Raw(i));
    });
    int expected = 0;
    while (expected < kCount) {
        if (const auto s = q.Front()) {
            q.PopFront();
            ASSERT_EQ(s->x, expected);
            ++expected;
        }
    }
    producer.join();
}

TEST(Decimation, StepIsFiftyOverTheFrequencyTruncated)
{
    EXPECT_EQ(Decimator::DecimationStep(50.0), 1u);
    EXPECT_EQ(Decimator::DecimationStep(45.0), 1u);
    EXPECT_EQ(Decimator::DecimationStep(25.0), 2u);
    EXPECT_EQ(Decimator::DecimationStep(20.0), 2u);
    EXPECT_EQ(Decimator::DecimationStep(15.0), 3u);
    EXPECT_EQ(Decimator::DecimationStep(5.0), 10u);
    EXPECT_EQ(Decimator::DecimationStep(0.0), 1u);
    EXPECT_EQ(Decimator::DecimationStep(-3.0), 1u);
}

TEST(Decimation, At50HzEverySampleWithItsOwnInterval)
{
    Decimator d;
    SampleQueue raw;
    const auto out = Feed(d, raw, 6, 50.0, 1.1f);
    ASSERT_EQ(out.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(out[i].x, i);
        EXPECT_FLOAT_EQ(out[i].interval, 0.02f);
        EXPECT_EQ(out[i].temperature, 21.5f);
    }
}

TEST(Decimation, At25HzSkippedIntervalsAreCarried)
{
    Decimator d;
    SampleQueue raw;
    const auto out = Feed(d, raw, 9, 25.0, 1.1f);
    ASSERT_EQ(out.size(), 5u);  // raw 0, 2, 4, 6, 8
    EXPECT_EQ(out[0].x, 0.0);
    EXPECT_FLOAT_EQ(out[0].interval, 0.02f);
    for (std::size_t i = 1; i < out.size(); ++i) {
        EXPECT_EQ(out[i].x, 2.0 * static_cast<double>(i));
        EXPECT_FLOAT_EQ(out[i].interval, 0.04f);
    }
}

TEST(Decimation, OneLeftOverSampleIsSkippedOnTheNextCall)
{
    Decimator d;
    SampleQueue raw;
    SampleQueue samples;
    raw.Push(Raw(0));
    raw.Push(Raw(1));
    d.Decimate(raw, samples, 25.0, 1.1f, SolverFor(0));  // delivers 0, one left over
    EXPECT_EQ(samples.Size(), 1u);
    EXPECT_EQ(raw.Size(), 1u);
    EXPECT_EQ(d.PendingSkips(), 1u);
    raw.Push(Raw(2));
    d.Decimate(raw, samples, 25.0, 1.1f, SolverFor(0));
    samples.PopFront();
    ASSERT_EQ(samples.Size(), 1u);
    EXPECT_EQ(samples.Front()->x, 2.0);  // 1 was skipped, not delivered
}

TEST(Decimation, WithoutTheTimeFieldIntervalsAreZeroAndSkipsDiscarded)
{
    Decimator d;
    SampleQueue raw;
    const auto out = Feed(d, raw, 10, 5.0, 1.0f);  // version 1.0 is not above 1.0
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].interval, 0.0f);
    EXPECT_EQ(d.CarriedInterval(), 0.0f);
    const auto more = Feed(d, raw, 20, 5.0, 1.0f, 10);
    ASSERT_EQ(more.size(), 2u);
    EXPECT_EQ(more[0].x, 10.0);
    EXPECT_EQ(more[1].x, 20.0);
}

TEST(Decimation, BacklogIsWorkedOffInOneCall)
{
    Decimator d;
    SampleQueue raw;
    SampleQueue samples;
    for (int i = 0; i < 30; ++i)
        raw.Push(Raw(i, 0.02f));
    d.Decimate(raw, samples, 5.0, 1.2f, SolverFor(0));
    ASSERT_EQ(samples.Size(), 3u);  // 0, 10, 20; 21..29 wait as the pending skip
    EXPECT_EQ(raw.Size(), 9u);
    std::vector<float> intervals;
    while (const auto s = samples.Front()) {
        intervals.push_back(s->interval);
        samples.PopFront();
    }
    EXPECT_FLOAT_EQ(intervals[0], 0.02f);
    EXPECT_NEAR(intervals[1], 0.2f, 1e-6);
    EXPECT_NEAR(intervals[2], 0.2f, 1e-6);
}

TEST(Decimation, KeptSamplesAreSolvedWithTheChosenVariant)
{
    Decimator d;
    SampleQueue raw;
    SampleQueue samples;
    raw.Push(DataPck{0.1, 0.1, 20.0f, 0.02f});
    d.Decimate(raw, samples, 50.0, 1.1f, SolverFor(2));
    const auto s = samples.Front();
    ASSERT_TRUE(s.has_value());
    EXPECT_NEAR(s->x, 0.0, 1e-15);
    EXPECT_NEAR(s->y, 0.093860, 5e-7);
}

// A report's time field as the engine takes it in: decoded (and checked), in seconds.
float IntervalOfReport(float fieldUs)
{
    std::array<std::uint8_t, zelkor::device::kReportSize> report{};
    const auto bytes = zelkor::testing::ReportBytes(100.0f, 100.0f, 20.0f, fieldUs);
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return *zelkor::device::DecodeReport(report, true).intervalUs / 1000000;
}

// One bad time field stands for the nominal 20 ms of its report, so delivered intervals stay finite
// and at 25 Hz a pair of reports still spans about 40 ms.
TEST(Decimation, BadTimeFieldsCountAsTheNominalReportPeriod)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // A subnormal field would be a zero interval in seconds (found by fuzzing).
    const float subnormal = std::numeric_limits<float>::denorm_min() * 18000;
    const float fields[] = {20000.0f, nan, 19990.0f, 0.0f, -0.0f, -20000.0f, 1000000.1f, inf, 20010.0f, 1000000.0f,
                            subnormal, 20000.0f};
    const float seconds50[] = {0.02f, 0.02f, 0.01999f, 0.02f, 0.02f, 0.02f, 0.02f, 0.02f, 0.02001f, 1.0f, 0.02f, 0.02f};
    const float seconds25[] = {0.02f, 0.03999f, 0.04f, 0.04f, 0.04001f, 1.02f};

    for (const auto& [frequency, expected] : {std::pair{50.0, std::vector<float>(std::begin(seconds50), std::end(seconds50))},
                                              std::pair{25.0, std::vector<float>(std::begin(seconds25), std::end(seconds25))}}) {
        SCOPED_TRACE(frequency);
        Decimator d;
        SampleQueue raw, samples;
        for (const float field : fields) {
            raw.Push(DataPck{0.1, 0.1, 20.0f, IntervalOfReport(field)});
            d.Decimate(raw, samples, frequency, 1.1f, SolverFor(2));
        }
        std::vector<float> delivered;
        while (const auto s = samples.Front()) {
            delivered.push_back(s->interval);
            samples.PopFront();
        }
        ASSERT_EQ(delivered.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            EXPECT_FLOAT_EQ(delivered[i], expected[i]) << "sample " << i;
    }
}
