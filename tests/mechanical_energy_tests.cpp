// The mechanical-energy window driven as a pupil drives it: on the demo apparatus at a person's pace for
// the physics of one pass, and on a scripted sensor for the rules at the edges.
#include "device/demo_scenarios.h"
#include "experiments/mechanical_energy.h"
#include "experiments/number_texts.h"
#include "tests/support/experiment_pupil.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <tuple>

using namespace zelkor;
using namespace zelkor::experiments;
using namespace zelkor::experiments::mechanical;
using zelkor::testing::DemoPupil;
using zelkor::testing::ScriptedPlatform;
using zelkor::testing::ScriptedPupil;

namespace {

namespace me = device::demo::mechanical_energy;
constexpr int kStart = 232;
constexpr int kStop = 233;
constexpr double kMass = 0.055;  // the window's default

// Picks the range along the path with two clicks on the chart, as the pupil does after "选择区域".
template <class Pupil>
void PickRange(Pupil& pupil, double fromX, double toX)
{
    pupil.Click(kIdSelectRange);
    widgets::CDataChartPanel* chart = pupil.window->Chart();
    const auto mapping = chart->CurrentMapping();
    const int row = chart->height() / 2;
    QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(mapping.Column(fromX), row));
    QTest::mouseClick(chart, Qt::LeftButton, {}, QPoint(mapping.Column(toX), row));
}

// --- one pass on the demo apparatus ------------------------------------------------------------------

// After a recording the window ended by itself: the pass from the release up to the top on the far
// side, picked from nine tenths of the way out on either side, and computed. Every smoothed E within
// `eachTolerance` of m g h of the release height, their mean within 3 %.
template <class Pupil>
void ExpectOnePassKeepsItsEnergy(Pupil& pupil, bool slow, double eachTolerance)
{
    CDlgTdMechanical& w = *pupil.window;
    ASSERT_FALSE(w.RefreshRunning()) << "the window ends the pass by itself";
    EXPECT_TRUE(pupil.Enabled(kStart));
    EXPECT_TRUE(pupil.Enabled(kIdCompute));

    // The whole rise on the far side is recorded, and little after it.
    const auto& records = w.Records();
    ASSERT_GT(records.size(), slow ? 15u : 30u);
    const double amplitude = me::kLength * std::sin(me::kAmplitude);
    EXPECT_LT(records.front().x, -0.9 * amplitude) << "recorded from the release";
    double top = -1.0;
    for (const auto& r : records)
        if (r.x > 0.0)
            top = std::max(top, r.y);
    EXPECT_GT(top, me::kReleaseHeight - 0.006) << "not ended by the noise before the top";
    EXPECT_GT(records.back().x, 0.8 * amplitude);
    EXPECT_GT(records.back().y, top - 0.02) << "ended as the ball fell back";

    const double mark = 0.9 * amplitude;
    PickRange(pupil, -mark, mark);
    const numerics::SampleRange range = w.Range();
    ASSERT_GE(range.first, 0);
    ASSERT_GT(range.end, range.first + (slow ? 8 : 16));
    EXPECT_NEAR(records[static_cast<size_t>(range.first)].x, -mark, 0.03);
    EXPECT_NEAR(records[static_cast<size_t>(range.end)].x, mark, 0.03);

    pupil.Click(kIdCompute);
    EXPECT_TRUE(w.EnergyTable()->isVisible());
    EXPECT_FALSE(w.PositionTable()->isVisible());
    const widgets::CChartSeries& E = w.Series(5);
    ASSERT_EQ(E.y.size(), static_cast<size_t>(range.end - range.first));
    const double mgh = kMass * 9.8 * me::kReleaseHeight;
    const double mean = std::accumulate(E.y.begin(), E.y.end(), 0.0) / static_cast<double>(E.y.size());
    EXPECT_NEAR(mean, mgh, 0.03 * mgh);
    for (std::size_t j = 0; j < E.y.size(); ++j) {
        EXPECT_NEAR(E.y[j], mgh, eachTolerance * mgh) << j;
        EXPECT_DOUBLE_EQ(E.y[j], w.Series(3).y[j] + w.Series(4).y[j]);
    }
    // Ek swings up to almost all of it.
    EXPECT_GT(*std::max_element(w.Series(4).y.begin(), w.Series(4).y.end()), 0.8 * mgh);
    EXPECT_EQ(w.EnergyTable()->GetItemText(1, 2), QString::asprintf("%.5f", E.y[0]));

    // Back to the path, intact.
    pupil.Click(kIdCompute);
    EXPECT_TRUE(w.PositionTable()->isVisible());
    EXPECT_EQ(w.Series(1).x.size(), records.size());
    EXPECT_TRUE(w.Series(1).visible);
    EXPECT_FALSE(w.Series(5).visible);
}

// pause between the pupil's steps (s), "25Hz" or not, the noise's seed.
class MechanicalEnergyDemo : public ::testing::TestWithParam<std::tuple<double, bool, std::uint64_t>> {};

// With the sensor's noise: about 1 mm along the line of sight and 2 mm across it, which the central
// differences turn into some 10 % of m g h in Ek at the lowest point; the smoothing halves that inside
// the range, less at its ends.
TEST_P(MechanicalEnergyDemo, OnePassAtAPersonsPace)
{
    const auto [pause, slow, seed] = GetParam();
    DemoPupil<CDlgTdMechanical> pupil(kMechanicalEnergyIndex, seed);
    CDlgTdMechanical& w = *pupil.window;
    if (slow)
        pupil.Click(acquisition::kIdRadio25Hz);
    pupil.Click(kStart);
    pupil.Wait(2.0 + pause);
    pupil.Click(kIdZero);
    EXPECT_NEAR(w.ZeroY(), me::kLength, 0.005) << "zeroed at the lowest point";
    for (int i = 0; i < 20 && pupil.Phase() != "held aside"; ++i)
        pupil.Wait(0.5);
    pupil.Wait(pause);
    ASSERT_EQ(pupil.Phase(), "held aside");
    pupil.Click(kIdRecord);
    for (int i = 0; i < 500 && w.RefreshRunning(); ++i)
        pupil.Wait(pupil.kReport);
    ExpectOnePassKeepsItsEnergy(pupil, slow, 0.20);
}

INSTANTIATE_TEST_SUITE_P(
    Pauses, MechanicalEnergyDemo,
    ::testing::Values(std::tuple{0.0, false, 1u}, std::tuple{3.0, false, 2u}, std::tuple{30.0, false, 3u},
                      std::tuple{0.0, false, 4u}, std::tuple{3.0, false, 5u}, std::tuple{0.0, false, 6u},
                      std::tuple{3.0, true, 7u}, std::tuple{0.0, true, 8u}),
    [](const auto& p) {
        return "pause" + std::to_string(static_cast<int>(std::get<0>(p.param))) + "s_" +
               (std::get<1>(p.param) ? "25Hz" : "50Hz") + "_seed" + std::to_string(std::get<2>(p.param));
    });

// --- edges, on a scripted sensor ---------------------------------------------------------------------

constexpr double kB = 0.069;

ScriptedPlatform::Bytes ReportAt(double x, double y)
{
    const double left = std::hypot(x + kB / 2, y), right = std::hypot(x - kB / 2, y);
    return zelkor::testing::ReportBytes(static_cast<float>(left * 1000.0), static_cast<float>(right * 1000.0), 20.0f,
                                        20000.0f);
}

// A noise-free swing of the 0.6 m pendulum below the sensor, from rest at `amplitude` (radians, its
// sign the side), sampled every 20 ms: simple harmonic, which is close enough for these rules.
std::vector<ScriptedPlatform::Bytes> Swing(double amplitude, int samples, int atRest = 0)
{
    const double w = std::sqrt(9.8 / me::kLength);
    std::vector<ScriptedPlatform::Bytes> out;
    for (int k = 0; k < samples; ++k) {
        const double t = 0.02 * std::max(0, k - atRest);
        const double a = amplitude * std::cos(w * t);
        out.push_back(ReportAt(me::kLength * std::sin(a), me::kLength * std::cos(a)));
    }
    return out;
}

class Scripted : public ScriptedPupil<CDlgTdMechanical> {
public:
    Scripted()
    {
        Click(kStart);
        EXPECT_TRUE(zelkor::testing::WaitUntil([&] { return platform->WaitForBlockedRead(std::chrono::milliseconds(0)); }));
        Feed({ReportAt(0.0, me::kLength)});
        Click(kIdZero);
    }
    // Records a swing fed one report per refresh, as the sensor delivers it.
    void RecordSwing(double amplitude, int samples, int atRest = 0)
    {
        Click(kIdRecord);
        for (const auto& report : Swing(amplitude, samples, atRest)) {
            if (!window->RefreshRunning())
                break;
            Feed({report});
        }
    }
};

// The demo apparatus without the sensor's noise: its scenario's own positions, one report per refresh,
// told what the pupil does as the demo sensor is told.
class TruthPupil : public ScriptedPupil<CDlgTdMechanical> {
public:
    TruthPupil()
    {
        Click(kStart);
        EXPECT_TRUE(zelkor::testing::WaitUntil([&] { return platform->WaitForBlockedRead(std::chrono::milliseconds(0)); }));
        scenario->Cue(device::DemoCue::AcquisitionStarted, t);
    }
    void Step()
    {
        t += 0.02;
        const device::DemoPoint p = scenario->SensorPosition(t);
        Feed({ReportAt(p.x, p.y)});
    }
    void Act(int id, device::DemoCue cue)
    {
        Click(id);
        scenario->Cue(cue, t);
    }

    std::unique_ptr<device::DemoScenario> scenario = device::MakeDemoScenario(kMechanicalEnergyIndex);
    double t = 0.0;
};

// The central differences and the smoothing keep E within 10 % at 50 Hz; at 25 Hz the smoothing's
// band reaches down to the harmonics of Ek itself, which costs a few per cent more.
TEST(MechanicalEnergyTruth, OnePassKeepsItsEnergy)
{
    for (const bool slow : {false, true}) {
        SCOPED_TRACE(slow ? "25Hz" : "50Hz");
        TruthPupil pupil;
        if (slow)
            pupil.Click(acquisition::kIdRadio25Hz);
        for (int i = 0; i < 50; ++i)
            pupil.Step();
        pupil.Act(kIdZero, device::DemoCue::ZeroSet);
        for (int i = 0; i < 300 && pupil.scenario->PhaseName() != "held aside"; ++i)
            pupil.Step();
        for (int i = 0; i < 25; ++i)
            pupil.Step();
        pupil.Act(kIdRecord, device::DemoCue::RecordingStarted);
        for (int i = 0; i < 300 && pupil.window->RefreshRunning(); ++i)
            pupil.Step();
        ExpectOnePassKeepsItsEnergy(pupil, slow, slow ? 0.15 : 0.10);
    }
}

TEST(MechanicalEnergyWindow, OpensWithItsControls)
{
    ScriptedPupil<CDlgTdMechanical> pupil;
    CDlgTdMechanical& w = *pupil.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("机械能守恒定律(2D)"));
    for (auto [id, caption] : std::initializer_list<std::pair<int, const char*>>{
             {232, "开始记录"}, {233, "停止记录"}, {243, "设置零点"}, {245, "记录数据"}, {247, "选择区域"}, {242, "计算数据"}})
        EXPECT_EQ(pupil.Control<QAbstractButton>(id)->text(), QString::fromUtf8(caption)) << id;
    for (int id : {232, 229, 230})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    for (int id : {233, 243, 245, 247, 242})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_EQ(pupil.Control<QLineEdit>(kIdMass)->text(), QStringLiteral("0.055"));
    EXPECT_EQ(w.PositionTable()->GetRowCount(), 100);
    EXPECT_EQ(w.EnergyTable()->GetColumnCount(), 3);
    EXPECT_TRUE(w.PositionTable()->isVisible());
    EXPECT_FALSE(w.EnergyTable()->isVisible());
    EXPECT_EQ(w.Chart()->view.xMin, -0.3);
    EXPECT_EQ(w.Chart()->view.yMax, 0.1);
    EXPECT_FALSE(w.WorkerCreated()) << "nothing is read before 开始记录";
}

TEST(MechanicalEnergyWindow, HeightIsNegatedOnlyOnceZeroed)
{
    ScriptedPupil<CDlgTdMechanical> pupil;
    pupil.Click(kStart);
    ASSERT_TRUE(zelkor::testing::WaitUntil([&] { return pupil.platform->WaitForBlockedRead(std::chrono::milliseconds(0)); }));
    pupil.Click(kIdRecord);
    pupil.Feed({ReportAt(-0.1, 0.55)});
    EXPECT_NEAR(pupil.window->Records().back().y, 0.55, 1e-4) << "Y itself before 设置零点";
    pupil.Click(kStop);
    pupil.Click(kStart);
    pupil.Feed({ReportAt(0.0, 0.60)});
    pupil.Click(kIdZero);
    pupil.Click(kIdRecord);
    pupil.Feed({ReportAt(-0.1, 0.55)});
    EXPECT_NEAR(pupil.window->Records().back().y, 0.05, 1e-4) << "the height above the zero point";
    EXPECT_NEAR(pupil.window->Records().back().x, -0.1, 1e-4);
}

// Without noise the recording still ends as the ball falls back on the far side: a few samples past the
// top, never before it.
TEST(MechanicalEnergyWindow, NoiseFreePassEndsJustPastTheTop)
{
    Scripted pupil;
    pupil.RecordSwing(-0.6, 80, 5);
    CDlgTdMechanical& w = *pupil.window;
    ASSERT_FALSE(w.RefreshRunning());
    const auto& r = w.Records();
    const auto top = std::max_element(r.begin() + 10, r.end(), [](const auto& a, const auto& b) { return a.y < b.y; });
    ASSERT_NE(top, r.end() - 1) << "the top was passed";
    EXPECT_LT(r.end() - top, 8);
    EXPECT_GT(top->x, 0.9 * me::kLength * std::sin(0.6));
    EXPECT_GT(r.back().y, top->y - kFallBack - 0.003);
    EXPECT_TRUE(w.Passed());
    EXPECT_TRUE(w.Recording()) << "the flag stays for 选择区域";
}

// The range is found scanning with the motion, whichever way the ball went; noise-free passes released
// on either side, the pick made in either order.
TEST(MechanicalEnergyWindow, RangeFollowsEitherDirection)
{
    for (const double side : {-1.0, 1.0}) {
        SCOPED_TRACE(side < 0 ? "released at x < 0" : "released at x > 0");
        Scripted pupil;
        pupil.RecordSwing(0.4 * side, 80, 5);
        const auto& r = pupil.window->Records();
        ASSERT_GT(r.size(), 40u);
        PickRange(pupil, 0.1 * side, -0.1 * side);
        const numerics::SampleRange range = pupil.window->Range();
        ASSERT_GE(range.first, 0);
        ASSERT_GT(range.end, range.first);
        // From the mark the ball met first to the other, along the motion (one sample is 25 mm here).
        EXPECT_NEAR(r[static_cast<size_t>(range.first)].x, 0.1 * side, 0.03);
        EXPECT_NEAR(r[static_cast<size_t>(range.end)].x, -0.1 * side, 0.03);
        for (int i = range.first; i < range.end; ++i)
            EXPECT_LT(std::abs(r[static_cast<size_t>(i)].x), 0.1 + 0.03) << i;
    }
}

// Typed masses: a number scales the energies; text that is no finite number counts as 0 kg.
TEST(MechanicalEnergyWindow, MassFieldOfAnyText)
{
    Scripted pupil;
    pupil.RecordSwing(-0.4, 80, 5);
    CDlgTdMechanical& w = *pupil.window;
    pupil.Click(kIdCompute);
    const std::vector<double> e055 = w.Series(5).y;
    pupil.Click(kIdCompute);
    struct Case {
        const char* text;
        double factor;
    };
    for (const Case& c : {Case{"0.110", 2.0}, Case{" 0.055kg", 1.0}, Case{"abc", 0.0}, Case{"", 0.0}, Case{"nan", 0.0},
                          Case{"inf", 0.0}, Case{"-inf", 0.0}, Case{"1e999", 0.0}}) {
        SCOPED_TRACE(c.text);
        pupil.Type(kIdMass, QString::fromUtf8(c.text));
        pupil.Click(kIdCompute);  // a new mass takes effect at every switch to the energies
        ASSERT_EQ(w.Series(5).y.size(), e055.size());
        for (std::size_t j = 0; j < e055.size(); ++j)
            ASSERT_NEAR(w.Series(5).y[j], c.factor * e055[j], 1e-12) << j;
        EXPECT_TRUE(std::isfinite(w.Chart()->view.yMax));
        pupil.Click(kIdCompute);
    }
}

// Rows deleted from the path table: exactly those samples go from the list and the path; samples that
// had no row move up into the table; with everything deleted there is nothing to compute.
TEST(MechanicalEnergyWindow, DeletingRows)
{
    Scripted pupil;
    CDlgTdMechanical& w = *pupil.window;
    pupil.Click(kIdRecord);
    std::vector<ScriptedPlatform::Bytes> drift;
    for (int k = 0; k < 120; ++k)
        drift.push_back(ReportAt(-0.25 + 0.001 * k, 0.58));  // never crosses: no automatic stop
    pupil.Feed(drift);
    pupil.Click(kStop);
    ASSERT_EQ(w.Records().size(), 120u);
    widgets::CDataTable* table = w.PositionTable();
    EXPECT_EQ(table->GetItemText(99, 0), Fixed3(w.Records()[98].x));

    table->SetSelectedRange({3, 0, 5, 1});
    QAction* remove = table->ContextMenu()->actions().value(0);
    ASSERT_NE(remove, nullptr);
    remove->trigger();
    EXPECT_EQ(w.Records().size(), 117u);
    EXPECT_EQ(w.Series(1).numberDrawn, 117);
    EXPECT_EQ(w.Series(2).x.size(), 117u);
    EXPECT_EQ(table->GetRowCount(), 100);
    EXPECT_EQ(table->GetItemText(3, 0), Fixed3(w.Records()[2].x));
    EXPECT_EQ(table->GetItemText(99, 0), Fixed3(w.Records()[98].x)) << "a sample without a row moved up";

    // In the energy view the visible table is the energies': no menu there. Every sample is computed;
    // the first 99 have a row.
    pupil.Click(kIdCompute);
    EXPECT_EQ(w.Series(5).y.size(), 117u);
    EXPECT_EQ(w.EnergyTable()->GetItemText(99, 2), QString::asprintf("%.5f", w.Series(5).y[98]));
    EXPECT_FALSE(w.EnergyTable()->ShowContextMenuAt(w.EnergyTable()->mapToGlobal(QPoint(20, 60))));
    pupil.Click(kIdCompute);

    for (int i = 0; i < 2; ++i) {
        table->SetSelectedRange({1, 0, 99, 1});
        remove->trigger();
    }
    EXPECT_TRUE(w.Records().empty());
    EXPECT_EQ(w.Series(1).numberDrawn, 0);
    EXPECT_FALSE(pupil.Enabled(kIdCompute));
    EXPECT_FALSE(pupil.Enabled(kIdSelectRange));
    EXPECT_FALSE(table->ShowContextMenuAt(table->mapToGlobal(QPoint(20, 60))));
}

}  // namespace

namespace {

// Pictures of the window for a person to look at, at the two screen sizes the classrooms have: idle,
// recording, and the energies. Only with ZELKOR_SCREENSHOT_DIR set.
TEST(MechanicalEnergyPictures, IdleRecordingAndEnergies)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    for (const QSize size : {QSize(1366, 768), QSize(1024, 600)}) {
        DemoPupil<CDlgTdMechanical> pupil(kMechanicalEnergyIndex);
        CDlgTdMechanical& w = *pupil.window;
        w.setWindowState(Qt::WindowNoState);
        w.resize(size);
        QApplication::processEvents();
        const QString stem = folder + QStringLiteral("/mechanical_energy_%1x%2_").arg(size.width()).arg(size.height());
        pupil.Click(kStart);
        pupil.Wait(2.0);
        pupil.Click(kIdZero);
        pupil.Wait(3.0);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("idle.png")));
        pupil.Click(kIdRecord);
        for (int i = 0; i < 50; ++i)
            pupil.Wait(pupil.kReport);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("recording.png")));
        for (int i = 0; i < 500 && w.RefreshRunning(); ++i)
            pupil.Wait(pupil.kReport);
        const double mark = 0.9 * me::kLength * std::sin(me::kAmplitude);
        PickRange(pupil, -mark, mark);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("range.png")));
        pupil.Click(kIdCompute);
        QApplication::processEvents();
        ASSERT_TRUE(w.grab().save(stem + QStringLiteral("energies.png")));
    }
}

}  // namespace
