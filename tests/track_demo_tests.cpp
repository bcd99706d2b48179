// The four windows that follow a moving object, run on the demo apparatus at a person's pace: what
// they record is the scenario's physics. And pictures of them for a person to look at.
#include "device/demo_scenarios.h"
#include "experiments/ball_orbit.h"
#include "experiments/centri_railway.h"
#include "experiments/com_motions.h"
#include "experiments/numerics/fits.h"
#include "experiments/robot_trace.h"
#include "tests/track_pupil.h"
#include "widgets/data_table.h"

#include <QApplication>
#include <QLineEdit>

#include <algorithm>
#include <cmath>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::Pos;
using zelkor::testing::TrackDemoPupil;
namespace demo = device::demo;

namespace {

constexpr int kStop = 233;

// Open, watch, zero (where the pupil does), watch, record; the apparatus does the rest.
template <class W>
void OpenZeroRecord(TrackDemoPupil<W>& pupil, double pause, bool zero = true)
{
    pupil.Start();
    pupil.Wait(pause);
    if (zero)
        pupil.Click(243);
    pupil.Wait(pause);
    pupil.Click(pupil.W().RecordButtonId());
}

class TrackDemo : public ::testing::TestWithParam<double> {};

// At the default period of 0.2 s: uniform along X, uniformly accelerated along Y. Positions wobble by
// a few millimetres so far from the sensor, so the steps are read from fits over the whole motion.
TEST_P(TrackDemo, CompositionStepsAlongXAreEqualAndAlongYGrow)
{
    namespace c = demo::composition;
    TrackDemoPupil<CDlgTdComMotions> pupil(kComMotionsIndex);
    OpenZeroRecord(pupil, GetParam());
    pupil.Wait(c::kRunTime + 0.5 + GetParam());
    EXPECT_EQ(pupil.Phase(), "at the end") << "rests at its end while the recording goes on";
    const double p = pupil.W().Period();
    // The points of the motion: released as the recording started, it moved for kRunTime.
    const auto n = static_cast<size_t>(c::kRunTime / p);
    const widgets::CChartSeries& recorded = pupil.Series(1);
    ASSERT_GT(recorded.x.size(), n);
    std::vector<double> k, x, y;
    for (size_t i = 0; i < n; ++i) {
        k.push_back(static_cast<double>(i));
        x.push_back(recorded.x[i]);
        y.push_back(recorded.y[i]);
    }
    const auto xFit = numerics::FitParabola(k, x);
    const auto yFit = numerics::FitParabola(k, y);
    ASSERT_TRUE(xFit && yFit);
    EXPECT_NEAR(xFit->a1, c::kSpeedX * p, 0.002) << "X step";
    EXPECT_NEAR(2.0 * xFit->a2, 0.0, 0.001) << "X steps do not grow";
    EXPECT_NEAR(2.0 * yFit->a2, c::kAccelerationY * p * p, 0.1 * c::kAccelerationY * p * p) << "Y steps grow by a p^2";
    // Whatever it waits, the body stays at the end while recording; stopped, it is carried back.
    pupil.Wait(10.0);
    EXPECT_EQ(pupil.Phase(), "at the end");
    pupil.Click(kStop);
    pupil.Wait(c::kCarryDelay + c::kCarry + 0.5);
    EXPECT_EQ(pupil.Phase(), "held") << "carried back once the recording stopped";
}

// The recorded points lie on the groove's circle, which the theory arc for "0.2" draws.
TEST_P(TrackDemo, SphericalTrackPointsLieOnTheTheoryArc)
{
    namespace s = demo::spherical_track;
    TrackDemoPupil<CDlgTdBallOrbit> pupil(kBallOrbitIndex);
    // The ball is held at the window's initial zero point: no zero setting needed (one would move the
    // origin by the noise of one sample).
    OpenZeroRecord(pupil, GetParam(), false);
    for (int i = 0; i < 20 && pupil.W().RefreshRunning(); ++i)
        pupil.Wait(0.25);
    EXPECT_FALSE(pupil.W().RefreshRunning()) << "the ball passed the recording area's lower edge";
    pupil.Click(kIdTheoryArc);
    EXPECT_EQ(pupil.Series(3).x.size(), 201u);
    const std::vector<TrackPoint>& rows = pupil.W().TableRecords();
    ASSERT_GE(rows.size(), 10u);
    EXPECT_NEAR(rows.front().x, 0.0, 0.006) << "released at once from the top";
    EXPECT_NEAR(rows.front().y, 0.0, 0.006);
    size_t onGroove = 0;
    for (const TrackPoint& r : rows) {
        if (r.y > s::kRadius - 0.005)
            continue;  // dropping into the catcher
        ++onGroove;
        EXPECT_NEAR(std::hypot(r.x, r.y - s::kRadius), s::kRadius, 0.006) << r.x << ", " << r.y;
    }

    EXPECT_GE(onGroove, 8u);
    pupil.Wait(s::kCarryDelay + s::kCarry + 0.5);
    EXPECT_EQ(pupil.Phase(), "held at the top");
}

// The ball goes over the loop: its highest point there is the loop's top, as the mount holds it.
TEST_P(TrackDemo, CentrifugalTrackGoesOverTheLoop)
{
    namespace c = demo::centrifugal_track;
    TrackDemoPupil<CDlgTdCentriRailway> pupil(kCentriRailwayIndex);
    OpenZeroRecord(pupil, GetParam());
    for (int i = 0; i < 20 && pupil.W().RefreshRunning(); ++i)
        pupil.Wait(0.25);
    EXPECT_FALSE(pupil.W().RefreshRunning()) << "left through the right edge";
    const widgets::CChartSeries& path = pupil.Series(2);
    ASSERT_GE(path.x.size(), 25u);
    EXPECT_EQ(pupil.Series(1).x.size(), 20u);
    // The first 20 points come one after the other down the quarter-pipe, not piled up at the start.
    EXPECT_GT(pupil.Series(1).y.back(), 0.1);
    double top = 1.0;
    for (size_t i = 0; i < path.x.size(); ++i)
        if (path.x[i] > 0.2)
            top = std::min(top, path.y[i]);
    // The loop's top, turned with the mount about the start.
    double truth = 1.0;
    for (int a = 0; a < 360; ++a) {
        const double b = a * demo::kPi / 180.0;
        const device::DemoPoint p{c::kStartX + c::kEntryRadius + c::kLoopRadius * std::sin(b),
                                  c::kStartY + c::kEntryRadius - c::kLoopRadius + c::kLoopRadius * std::cos(b)};
        truth = std::min(truth, device::Turn(p, {c::kStartX, c::kStartY}, c::kTiltDegrees).y - c::kStartY);
    }
    EXPECT_NEAR(top, truth, 0.01);
}

// One lap of the ellipse closes, and the track spans the ellipse.
TEST_P(TrackDemo, RobotLapsClose)
{
    namespace r = demo::robot_trace;
    TrackDemoPupil<CDlgTdRobotTrace> pupil(kRobotTraceIndex);
    OpenZeroRecord(pupil, GetParam());
    pupil.Wait(r::kLapTime * 1.5 + GetParam());
    EXPECT_EQ(pupil.Phase(), "driving");
    const std::vector<double>& x = pupil.Series(1).x;
    const std::vector<double>& y = pupil.Series(1).y;
    const size_t lap = static_cast<size_t>(std::lround(r::kLapTime / pupil.W().Period()));
    ASSERT_GE(x.size(), lap + lap / 2);
    // Where it was, and a lap later, each as the mean of half a second of points: so far from the
    // sensor a single one wobbles by several millimetres.
    constexpr size_t kMean = 25;
    auto apart = [&](size_t i) {
        Pos mean;
        for (size_t j = i; j < i + kMean; ++j) {
            mean.x += (x[j + lap] - x[j]) / kMean;
            mean.y += (y[j + lap] - y[j]) / kMean;
        }
        return std::hypot(mean.x, mean.y);
    };
    for (size_t i : {size_t{0}, lap / 4, lap / 2 - kMean})
        EXPECT_LT(apart(i), 0.005) << i;
    const auto [minX, maxX] = std::minmax_element(x.begin(), x.end());
    const auto [minY, maxY] = std::minmax_element(y.begin(), y.end());
    EXPECT_NEAR(*maxX - *minX, 2.0 * r::kHalfWidth, 0.02);
    EXPECT_NEAR(*maxY - *minY, 2.0 * r::kHalfHeight, 0.02);
    EXPECT_NEAR(x.front() + pupil.W().X0(), r::kCentreX - r::kHalfWidth, 0.01) << "set off from where it was parked";
    pupil.Click(kStop);
    pupil.Wait(r::kCarry + 1.0);
    EXPECT_EQ(pupil.Phase(), "parked");
}

INSTANTIATE_TEST_SUITE_P(Pauses, TrackDemo, ::testing::Values(0.0, 3.0, 30.0),
                         [](const auto& p) { return "pause" + std::to_string(static_cast<int>(p.param)) + "s"; });

// --- pictures ------------------------------------------------------------------------------------------

// Pictures of the windows for a person to look at: idle, recording, with the theory arc, after a
// deletion, at the two screen sizes of the classrooms. Only with ZELKOR_SCREENSHOT_DIR set.
template <class W>
void TakePictures(const QString& folder, const QString& name, int index)
{
    for (const QSize size : {QSize(1366, 768), QSize(1024, 600)}) {
        TrackDemoPupil<W> pupil(index);
        W& w = pupil.W();
        w.setWindowState(Qt::WindowNoState);
        w.resize(size);
        QApplication::processEvents();
        const QString stem = folder + QStringLiteral("/%1_%2x%3_").arg(name).arg(size.width()).arg(size.height());
        auto save = [&](const char* what) {
            QApplication::processEvents();
            EXPECT_TRUE(w.grab().save(stem + QString::fromUtf8(what) + QStringLiteral(".png")));
        };
        save("idle");
        pupil.Start();
        pupil.Wait(1.0);
        pupil.Click(243);
        pupil.Click(w.RecordButtonId());
        if constexpr (std::is_same_v<W, CDlgTdComMotions>) {
            pupil.Click(kIdComponentXBox);
            pupil.Click(kIdComponentYBox);
        }
        pupil.Wait(std::is_same_v<W, CDlgTdRobotTrace> ? 14.0 : 1.2);
        save("recording");
        pupil.Wait(std::is_same_v<W, CDlgTdRobotTrace> ? 30.0 : 3.0);
        if constexpr (std::is_base_of_v<CDlgTdBallOrbit, W>) {
            if (widgets::FindControl<QWidget>(&w, kIdTheoryArc))
                pupil.Click(kIdTheoryArc);
            save("arc");
            w.Table()->SetSelectedRange({3, 0, 8, 1});
            w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
            save("deleted");
        } else {
            save("later");
        }
    }
}

TEST(TrackPictures, IdleRecordingArcAndDeletion)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    TakePictures<CDlgTdComMotions>(folder, QStringLiteral("com_motions"), kComMotionsIndex);
    TakePictures<CDlgTdBallOrbit>(folder, QStringLiteral("ball_orbit"), kBallOrbitIndex);
    TakePictures<CDlgTdCentriRailway>(folder, QStringLiteral("centri_railway"), kCentriRailwayIndex);
    TakePictures<CDlgTdRobotTrace>(folder, QStringLiteral("robot_trace"), kRobotTraceIndex);
}

}  // namespace
