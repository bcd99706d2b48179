// The free-fall window driven as a pupil drives it: controls found by their ids, clicks, typed
// heights, and a scripted sensor behind the real acquisition engine sending the reports of the motion.
// The last tests run the whole experiment on the demo sensor.
#include "device/demo_scenarios.h"
#include "device/demo_sensor.h"
#include "experiments/free_fall.h"
#include "output/colour_dialog.h"
#include "output/colour_picker.h"
#include "output/spreadsheet_io.h"
#include "output/workbook.h"
#include "tests/support/pupil.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/wait_until.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::FileDesk;
using zelkor::testing::LabelValue;
using zelkor::testing::MessageCatcher;
using zelkor::testing::Pos;
using zelkor::testing::ScriptedPlatform;
using zelkor::testing::ShownWatcher;
using zelkor::testing::WaitUntil;
using widgets::FindControl;

namespace {

using namespace std::chrono_literals;

constexpr double kG = 9.8;
constexpr int kStop = 233;

// The free-fall pupil: the ball is held 0.10 m below the sensor, where the pupil zeroes.
struct Pupil : zelkor::testing::Pupil<CDlgTdFreelyFall> {
    static constexpr Pos kRelease{0.0, 0.10};
    explicit Pupil(const QString& height = QStringLiteral("0.80")) : zelkor::testing::Pupil<CDlgTdFreelyFall>(kRelease, height) {}
    void ZeroAtRelease() { ZeroAtOrigin(); }
    QString Label() const { return Series(1).labelText; }
};

// A fall sampled every 0.02 s: `rest` samples at the release point, then y = g/2 (k 0.02)^2.
std::vector<Pos> Fall(int rest, int falling, double g = kG, double step = 0.02)
{
    std::vector<Pos> out(static_cast<size_t>(rest), Pos{});
    for (int k = 0; k < falling; ++k) {
        const double t = step * k;
        out.push_back({0.0, 0.5 * g * t * t});
    }
    return out;
}

}  // namespace

// --- start-up and controls ---------------------------------------------------------------------------

TEST(FreeFallWindow, OpensWithTheControlsOfTheExperiment)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("自由落体"));
    EXPECT_EQ(w.m_transformIndex.load(), 2);
    EXPECT_TRUE(w.RefreshRunning());

    const std::pair<int, const char*> captions[] = {
        {243, "零点设置"}, {245, "竖直校准"}, {244, "开始记录"}, {233, "停止记录"}, {246, "X"},
        {247, "Y"},       {249, "加速度"},   {242, "清屏"},     {252, "数据导入"}, {251, "数据导出"},
        {254, "颜色设置"}, {229, "25Hz"},    {230, "50Hz"},     {231, "返回"},
    };
    for (const auto& [id, caption] : captions)
        EXPECT_EQ(pupil.Control<QAbstractButton>(id)->text(), QString::fromUtf8(caption)) << id;
    for (int id : {243, 245, 244, 252, 254, 229, 230})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    for (int id : {233, 246, 247, 249, 242, 251})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_TRUE(pupil.Control<QRadioButton>(230)->isChecked());
    EXPECT_FALSE(pupil.Control<QRadioButton>(229)->isChecked());
    EXPECT_FALSE(pupil.Control(232)->isVisible());
    EXPECT_FALSE(pupil.Control(250)->isVisible());
    EXPECT_EQ(pupil.Control<widgets::CPictureButton>(244)->FaceColor(), QColor(192, 255, 192));
    EXPECT_EQ(pupil.Control<widgets::CPictureButton>(233)->FaceColor(), QColor(192, 192, 255));
    EXPECT_EQ(pupil.Control<widgets::CPictureButton>(251)->FaceColor(), QColor(239, 246, 195));
    EXPECT_EQ(pupil.Control<widgets::CPictureButton>(254)->FaceColor(), QColor(242, 242, 248));
    EXPECT_EQ(pupil.Control<widgets::CPictureButton>(241)->FaceColor(), QColor(192, 255, 192));

    widgets::CDataTable* table = pupil.Table();
    EXPECT_EQ(table->GetRowCount(), 101);
    EXPECT_EQ(table->GetColumnCount(), 2);
    EXPECT_EQ(table->GetColumnWidth(0), 96);
    EXPECT_EQ(table->GetItemText(0, 1), QStringLiteral("\\math{Y}\\text{(m)}"));
    EXPECT_EQ(pupil.Edit()->text(), QStringLiteral("0.80"));
    EXPECT_DOUBLE_EQ(w.DropHeight(), 0.8);
    EXPECT_EQ(w.TimeStep(), 0.02f);

    const widgets::CChartView& view = w.Chart()->view;
    EXPECT_FALSE(view.yUp);
    EXPECT_TRUE(view.equalScale);
    EXPECT_FALSE(view.adaptX);
    EXPECT_DOUBLE_EQ(view.xMin, -0.2);
    EXPECT_DOUBLE_EQ(view.xSpan, 0.4);
    EXPECT_DOUBLE_EQ(view.yMin, -0.06);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(w.Series(i).visible) << i;
}

TEST(FreeFallWindow, LayoutFollowsTheWindowSize)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    w.setWindowState(Qt::WindowNoState);
    w.resize(1366, 768);
    ASSERT_EQ(w.height(), 768);
    // The button column: first top (h - 462) / 2, 37 apart, 56 before "清屏" and "数据导入".
    EXPECT_EQ(pupil.Control(243)->geometry(), QRect(1366 - 132, 153, 91, 36));
    EXPECT_EQ(pupil.Control(245)->y(), 190);
    EXPECT_EQ(pupil.Control(246)->geometry(), QRect(1234, 301, 45, 36));
    EXPECT_EQ(pupil.Control(247)->geometry(), QRect(1280, 301, 45, 36));
    EXPECT_EQ(pupil.Control(242)->y(), 338 + 56);
    EXPECT_EQ(pupil.Control(252)->y(), 394 + 56);
    EXPECT_EQ(pupil.Control(241)->geometry(), QRect(1366 - 95, 768 - 72, 54, 31));
    EXPECT_EQ(pupil.Control(231)->geometry(), QRect(1366 - 95, 768 - 41, 54, 31));
    EXPECT_EQ(pupil.Control(228)->x() + pupil.Control(228)->width(), 1366 - 10);
    // Table and chart side by side, 5 apart.
    const QRect table = pupil.Table()->geometry();
    const QRect chart = pupil.Control(kIdChart)->geometry();
    EXPECT_EQ(chart.left(), table.right() + 1 + 5);
    EXPECT_EQ(chart.width(), 400);
    EXPECT_EQ(table.top(), 80);
    EXPECT_GT(pupil.Control(kIdXCaption)->y(), chart.bottom());
    EXPECT_LT(pupil.Control(kIdXCaption)->y(), pupil.Control(kIdHeightBox)->y());
    // The height edit lies inside its box.
    EXPECT_EQ(pupil.Edit()->parentWidget(), pupil.Control(kIdHeightBox));
    w.update();
    QApplication::processEvents();
    EXPECT_TRUE(pupil.Box(kIdXCaption).startsWith(QStringLiteral("\\font{Times New Roman,26}")));
    EXPECT_TRUE(pupil.Box(kIdHeightBox).startsWith(QStringLiteral("\\font{宋体,24}")));

    w.resize(1024, 600);
    w.update();
    QApplication::processEvents();
    EXPECT_EQ(pupil.Box(kIdXCaption), QStringLiteral("\\font{Times New Roman,20}\\math{X}\\text{:}"));
    EXPECT_EQ(pupil.Box(kIdRateCaption), QStringLiteral("\\font{宋体,20}\\text{采集频率:}"));
    EXPECT_EQ(pupil.Box(kIdXValue), QStringLiteral("\\font{Times New Roman,20}\\text{0(m)}"));
    // A very low window wraps the column to the left.
    w.resize(1024, 420);
    EXPECT_EQ(pupil.Control(251)->x(), pupil.Control(243)->x() - 100);
}

TEST(FreeFallWindow, AHeightThatIsNoNumberStopsTheStartUp)
{
    for (const char* typed : {"abc", "-1", "", "0", "nan", "1e999"}) {
        MessageCatcher message;
        Pupil pupil(QString::fromUtf8(typed));
        EXPECT_EQ(message.text, QStringLiteral("请输入下落高度！")) << typed;
        EXPECT_FALSE(pupil.window->WorkerCreated()) << typed;
        EXPECT_FALSE(pupil.window->RefreshRunning()) << typed;
    }
}

TEST(FreeFallWindow, NoSensorIsReportedAndTheWorkerKeepsLooking)
{
    auto platform = std::make_shared<ScriptedPlatform>();
    MessageCatcher message;
    auto windowHolder = MakeExperimentWindow<CDlgTdFreelyFall>(nullptr, platform);
    CDlgTdFreelyFall& window = *windowHolder;
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.StartedUp(); }));
    EXPECT_EQ(message.text, QStringLiteral("没有找到Zelkor设备！"));
    EXPECT_TRUE(window.WorkerCreated());
    EXPECT_TRUE(window.RefreshRunning());
}

// The start-up step is queued when the window is shown. A window closed before it has run (by "返回" or
// by the desktop) shows no message from it and gets no refresh timer back, whether or not a worker
// was already running (closing waits for the worker, and must not run the queued step meanwhile).
TEST(FreeFallWindow, ClosingBeforeTheQueuedStartUpHasRunIsQuiet)
{
    struct Case {
        const char* height;
        bool sensor;
        bool workerFirst;
        bool desktopClose;
    };
    const Case cases[] = {
        {"abc", false, false, false}, {"0.80", false, false, true}, {"abc", true, true, false},
        {"0.80", true, true, false},  {"0.80", true, true, true},
    };
    for (const Case& c : cases) {
        auto platform = std::make_shared<ScriptedPlatform>();
        if (c.sensor)
            platform->SetDevices({ScriptedPlatform::MakeDevicePath("1&2&3")});
        MessageCatcher message;
        auto window = MakeExperimentWindow<CDlgTdFreelyFall>(nullptr, platform);
        FindControl<widgets::CEasyEdit>(window.get(), kIdHeightEdit)->setText(QString::fromUtf8(c.height));
        if (c.workerFirst) {
            ASSERT_TRUE(window->StartAcquisition());
        }
        window->show();
        if (c.desktopClose)
            window->close();
        else
            FindControl<QAbstractButton>(window.get(), acquisition::kIdBack)->click();
        QTest::qWait(100);
        EXPECT_TRUE(message.text.isEmpty()) << c.height << " " << message.text.toStdString();
        EXPECT_FALSE(window->isVisible()) << c.height;
        EXPECT_FALSE(window->RefreshRunning()) << c.height << c.workerFirst;
        EXPECT_FALSE(window->StartedUp()) << c.height << c.workerFirst;
    }
}

TEST(FreeFallWindow, TypedHeightsChangeTheViewOnlyWhenTheyMakeSense)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    const std::pair<const char*, double> typed[] = {
        {"1.2", 1.2}, {"0.2", 1.2}, {"abc", 1.2}, {"-1", 1.2}, {"", 1.2}, {"nan", 1.2},
        {"1e999", 1.2}, {"0.5m", 0.5}, {"1e9", 1e9}, {" 0.6", 0.6},
    };
    double before = w.DropHeight();
    for (const auto& [text, expected] : typed) {
        pupil.Edit()->setText(QString::fromUtf8(text));
        EXPECT_DOUBLE_EQ(w.DropHeight(), expected) << text;
        if (expected != before) {  // the view follows the new height
            EXPECT_DOUBLE_EQ(w.Chart()->view.yMax, expected) << text;
            EXPECT_DOUBLE_EQ(w.Chart()->view.ySpan, expected + 0.06) << text;
        }
        before = expected;
    }
    // Keys typed into the field reach it; Enter in it never closes the window.
    pupil.Edit()->clear();
    QTest::keyClicks(pupil.Edit(), "0.7");
    EXPECT_DOUBLE_EQ(w.DropHeight(), 0.7);
    QTest::keyClick(pupil.Edit(), Qt::Key_Return);
    EXPECT_TRUE(w.isVisible());
    // A height of 10^9 leaves a chart that still paints.
    pupil.Edit()->setText(QStringLiteral("1e9"));
    EXPECT_FALSE(w.Chart()->RenderNow().isNull());
}

// --- samples and recording ---------------------------------------------------------------------------

TEST(FreeFallSamples, TwoMetresIsTheLimitAndDroppedSamplesLeaveNoTrace)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    // Exactly at the limits, so straight into the queue the worker fills.
    auto push = [&](double x, double y) {
        acquisition::DataPck s;
        s.x = x;
        s.y = y;
        s.interval = 0.02f;
        w.m_sampleQueue.Push(s);
        w.RefreshView();
    };
    push(0.01, 1.999);
    EXPECT_EQ(pupil.Control<widgets::CZelFormattedTextBox>(kIdYValue)->text, QStringLiteral("1.999(m)"));
    push(0.02, 2.0);
    push(2.0, 0.5);
    push(std::nan(""), 0.5);
    EXPECT_EQ(pupil.Control<widgets::CZelFormattedTextBox>(kIdYValue)->text, QStringLiteral("1.999(m)"));
    EXPECT_EQ(pupil.Control<widgets::CZelFormattedTextBox>(kIdXValue)->text, QStringLiteral("0.010(m)"));
    // The zero point is the last accepted position, not the dropped ones.
    pupil.Click(kIdZero);
    EXPECT_DOUBLE_EQ(w.Frame().x0, 0.01);
    EXPECT_DOUBLE_EQ(w.Frame().y0, 1.999);
    // The live marker follows, one point only.
    push(0.03, 2.1);
    EXPECT_EQ(w.Series(0).x.size(), 1u);
    EXPECT_TRUE(w.Series(0).visible);
}

TEST(FreeFallRecording, RestingPointsAreRecordedAndTheDropHeightEndsTheRecording)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    EXPECT_TRUE(w.Recording());
    for (int id : {229, 230, 243, 245, 244, 252})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_TRUE(pupil.Enabled(kStop));

    pupil.Feed({{0, 0.001}, {0, -0.004}, {0, -0.006}, {0.001, 0.2}, {0.002, 0.5}, {0.003, 0.79}});
    ASSERT_EQ(w.Records().size(), 5u);  // -0.006 lies above the release point
    EXPECT_NEAR(w.Records()[1].y, -0.004, 1e-5);
    EXPECT_EQ(pupil.Cell(5, 1), QStringLiteral("0.790"));
    EXPECT_EQ(pupil.Cell(4, 0), QStringLiteral("0.002"));
    // Even points the chart's view does not reach stay in series 1, row for row.
    EXPECT_EQ(w.Series(1).x.size(), 5u);
    EXPECT_EQ(w.Series(1).numberDrawn, 5);
    EXPECT_DOUBLE_EQ(w.Records()[0].t, 0.0);
    EXPECT_DOUBLE_EQ(w.Records()[2].t, 2.0 * double(0.02f));

    pupil.Feed({{0, 0.81}, {0, 0.5}});
    EXPECT_FALSE(w.Recording());
    EXPECT_EQ(w.Records().size(), 5u);
    EXPECT_EQ(pupil.Cell(6, 1), QString());
    for (int id : {244, 245, 243, 229, 230, 252, 246, 247, 249, 251, 242})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    EXPECT_FALSE(pupil.Enabled(kStop));
    EXPECT_TRUE(w.Series(0).visible);
}

TEST(FreeFallRecording, TheFirstPointMayLieBeyondTheDropHeight)
{
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0, 0.9}});
    EXPECT_TRUE(pupil.window->Recording());
    EXPECT_EQ(pupil.window->Records().size(), 1u);
    pupil.Feed({{0, 0.85}});
    EXPECT_FALSE(pupil.window->Recording());
    EXPECT_EQ(pupil.window->Records().size(), 1u);
}

TEST(FreeFallRecording, AHundredPointsFillTheTableAndTheNextOneStops)
{
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    std::vector<Pos> slow;
    for (int k = 0; k < 100; ++k)
        slow.push_back({0.0, 0.005 * k});
    pupil.Feed(slow);
    EXPECT_TRUE(pupil.window->Recording());
    EXPECT_EQ(pupil.window->NextTableRow(), 101u);
    EXPECT_EQ(pupil.Cell(100, 1), QStringLiteral("0.495"));
    pupil.Feed({{0.0, 0.5}});
    EXPECT_FALSE(pupil.window->Recording());
    EXPECT_EQ(pupil.window->Records().size(), 100u);
    EXPECT_EQ(pupil.window->Series(1).x.size(), 100u);
}

TEST(FreeFallRecording, ASecondRecordingContinuesTheTimes)
{
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0, 0.0}, {0, 0.01}, {0, 0.02}});
    pupil.Click(kStop);
    pupil.Click(kIdStartRecording);
    EXPECT_EQ(pupil.window->Records().size(), 0u);
    EXPECT_EQ(pupil.Cell(1, 0), QString());
    pupil.Feed({{0, 0.0}, {0, 0.01}}, 19990.0f);
    pupil.Click(kStop);
    ASSERT_EQ(pupil.window->Records().size(), 2u);
    const double step = double(0.02f);
    EXPECT_DOUBLE_EQ(pupil.window->Records()[0].t, 3 * step);
    EXPECT_DOUBLE_EQ(pupil.window->Records()[1].t, 3 * step + double(0.01999f));
}

TEST(FreeFallRecording, ASensorThatVanishesLeavesTheRecordingIntact)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0, 0.0}, {0, 0.01}, {0, 0.03}});
    // Unplugged: the read fails, identification fails, the device is gone.
    pupil.answering = false;
    pupil.platform->SetDevices({});
    pupil.platform->SetFailReadsWhenEmpty(true);
    pupil.platform->QueueReadFailure();
    ASSERT_TRUE(WaitUntil([&] { return pupil.platform->OpenFiles() == 0; }));
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(20);
        w.RefreshView();
    }
    EXPECT_TRUE(w.Recording());
    EXPECT_EQ(w.Records().size(), 3u);
    pupil.Click(kStop);
    EXPECT_EQ(w.Records().size(), 3u);
    EXPECT_EQ(pupil.Cell(3, 1), QStringLiteral("0.030"));
    EXPECT_TRUE(pupil.Enabled(kIdExport));
}

// --- zero point and calibration ----------------------------------------------------------------------

TEST(FreeFallCalibration, TurnsTheFallOntoTheVerticalAndNeedsAPointAboveTheRelease)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    auto at = [&](double x, double y) {  // exactly there, straight into the worker's queue
        acquisition::DataPck s;
        s.x = w.Frame().x0 + x;
        s.y = w.Frame().y0 + y;
        w.m_sampleQueue.Push(s);
        w.RefreshView();
    };
    for (const Pos below : {Pos{0.05, 0.1}, Pos{0.05, 0.0}, Pos{-0.05, 0.0}, Pos{0.0, 0.0}}) {
        at(below.x, below.y);
        if (below.y == 0.0) {
            ASSERT_EQ(w.ShownY(), 0.0);
        }
        MessageCatcher message;
        pupil.Click(kIdCalibrate);
        EXPECT_EQ(message.text, QStringLiteral("校准距离不足！"));
        EXPECT_FALSE(w.Frame().rotationOn);
        EXPECT_EQ(w.Frame().theta, 0.0);
    }
    // A point up and to the right of the release point: the vertical runs through it.
    pupil.Feed({{0.05, -0.05}});
    pupil.Click(kIdCalibrate);
    EXPECT_TRUE(w.Frame().rotationOn);
    EXPECT_NEAR(w.Frame().theta, -M_PI / 4, 1e-4);
    pupil.Feed({{-0.05, 0.05}});  // the far side of the release point, along the same line
    EXPECT_NEAR(w.ShownX(), 0.0, 1e-5);
    EXPECT_NEAR(w.ShownY(), std::sqrt(0.005), 1e-5);
    EXPECT_TRUE(std::isfinite(w.ShownX()));
    // Calibrations add up; the zero setting ends them.
    pupil.Click(kIdZero);
    EXPECT_FALSE(w.Frame().rotationOn);
    EXPECT_EQ(w.Frame().theta, 0.0);
}

// --- acceleration ------------------------------------------------------------------------------------

TEST(FreeFallAcceleration, FromTheSelectedFallingRows)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(4, 20));  // 4 records at rest, then 20 falling (the first of them at rest too)
    pupil.Click(kStop);
    ASSERT_EQ(w.Records().size(), 24u);

    pupil.Click(kIdAcceleration);
    const QString wholeList = pupil.Label();
    ASSERT_TRUE(wholeList.startsWith(QStringLiteral("a = ")));
    EXPECT_GT(std::abs(LabelValue(wholeList) - kG), 0.1) << "the resting rows spoil the whole-list value";

    pupil.Select(5, 24);
    pupil.Click(kIdAcceleration);
    EXPECT_NEAR(LabelValue(pupil.Label()), kG, 0.005);
    const widgets::CChartView& view = w.Chart()->view;
    EXPECT_DOUBLE_EQ(w.Series(1).labelX, view.xMin + view.xSpan / 2);
    EXPECT_DOUBLE_EQ(w.Series(1).labelY, view.yMin + view.ySpan / 2);

    // One selected row is no selection: the whole list again.
    pupil.Select(7, 7);
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Label(), wholeList);
    // A selection running past the last record ends at it.
    pupil.Select(5, 60);
    pupil.Click(kIdAcceleration);
    EXPECT_NEAR(LabelValue(pupil.Label()), kG, 0.005);
}

TEST(FreeFallAcceleration, NeighboursAreTwoApartAt50HzAndOneAt25Hz)
{
    // Seven records, the last six selected: one velocity at 50 Hz (no result), three at 25 Hz.
    for (const bool slow : {false, true}) {
        Pupil pupil;
        pupil.ZeroAtRelease();
        if (slow)
            pupil.Click(kIdRadio25Hz);
        EXPECT_DOUBLE_EQ(pupil.window->m_samplingFrequency.load(), slow ? 25.0 : 50.0);
        pupil.Click(kIdStartRecording);
        // A report every 0.02 s; at 25 Hz every other one is delivered, 0.04 s after the previous one.
        std::vector<Pos> reports;
        for (int k = 0; k < (slow ? 14 : 7); ++k) {
            const double t = 0.02 * k;
            reports.push_back({0.0, 0.5 * kG * t * t + 0.001});
        }
        pupil.Feed(reports);
        pupil.Click(kStop);
        ASSERT_EQ(pupil.window->Records().size(), 7u) << slow;
        pupil.Select(2, 7);
        pupil.Click(kIdAcceleration);
        if (slow)
            EXPECT_NEAR(LabelValue(pupil.Label()), kG, 0.005);
        else
            EXPECT_EQ(pupil.Label(), QString());
    }
}

TEST(FreeFallAcceleration, FourRecordsGiveNoLabel)
{
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 4));
    pupil.Click(kStop);
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Label(), QString());
}

// A result of an earlier recording does not stay over data that give none.
TEST(FreeFallAcceleration, NoResultTakesTheEarlierLabelAway)
{
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 12));
    pupil.Click(kStop);
    pupil.Click(kIdAcceleration);
    ASSERT_NEAR(LabelValue(pupil.Label()), kG, 0.005);
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 4));
    pupil.Click(kStop);
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Label(), QString());
}

// Every other row deleted: the times keep their gaps of 0.04 s, and the acceleration uses them (times
// renumbered 0.02 apart would give four times g).
TEST(FreeFallAcceleration, DeletedMiddleRowsLeaveTheirTimeGaps)
{
    Pupil pupil(QStringLiteral("1.9"));
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 29));
    pupil.Click(kStop);
    for (int row = 2; row <= 15; ++row) {
        pupil.Select(row, row);
        pupil.Click(kIdDeleteRows);
    }
    ASSERT_EQ(w.Records().size(), 15u);
    EXPECT_NEAR(w.Records()[1].t - w.Records()[0].t, 0.04, 1e-6);
    pupil.Click(kIdAcceleration);
    EXPECT_NEAR(LabelValue(pupil.Label()), kG, 0.005);
}

// A sensor of version 1.0 sends no time field: the time step is the radio's, whatever the reports say.
TEST(FreeFallAcceleration, WithoutTheTimeFieldTheRadioGivesTheTimeStep)
{
    zelkor::testing::Pupil<CDlgTdFreelyFall> old(Pupil::kRelease, QStringLiteral("1.9"), 0x10);
    ASSERT_FLOAT_EQ(old.window->m_secondVersion.load(), 1.0f);
    old.ZeroAtOrigin();
    old.Click(kIdRadio25Hz);
    old.Click(kIdStartRecording);
    std::vector<Pos> reports;
    for (int k = 0; k < 24; ++k)
        reports.push_back({0.0, 0.5 * kG * (0.02 * k) * (0.02 * k)});
    old.Feed(reports, 12345.0f);
    old.Click(kStop);
    const auto& records = old.window->Records();
    ASSERT_EQ(records.size(), 12u);
    EXPECT_EQ(old.window->TimeStep(), 0.04f);
    EXPECT_DOUBLE_EQ(records[3].t, 3 * double(0.04f));
    old.Click(kIdAcceleration);
    EXPECT_NEAR(LabelValue(old.Series(1).labelText), kG, 0.005);
}

// --- rows, components, clear -------------------------------------------------------------------------

TEST(FreeFallRows, DeletingRowsKeepsTableListAndSeriesTogether)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 30, 1.0));  // a slow fall: every point stays within the view
    pupil.Click(kStop);
    ASSERT_EQ(w.Records().size(), 30u);
    const double t12 = w.Records()[12].t;
    pupil.Click(kIdComponentX);
    ASSERT_TRUE(w.Series(2).visible);

    // Rows 10 to 12, through the table's context menu.
    pupil.Select(10, 12);
    QAction* remove = pupil.Table()->ContextMenu()->actions().value(0);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->text(), QStringLiteral("删除选中数据"));
    remove->trigger();
    ASSERT_EQ(w.Records().size(), 27u);
    EXPECT_EQ(pupil.Table()->GetRowCount(), 101);
    EXPECT_EQ(pupil.Table()->GetRowHeight(100), 30);
    EXPECT_EQ(w.NextTableRow(), 28u);
    EXPECT_DOUBLE_EQ(w.Records()[9].t, t12);  // the gap in time stays
    EXPECT_EQ(pupil.Cell(10, 1), Fixed3(w.Records()[9].y));
    EXPECT_EQ(w.Series(1).x.size(), 27u);
    EXPECT_EQ(w.Series(1).y[9], w.Records()[9].y);
    EXPECT_FALSE(w.Series(2).visible);

    // A selection past the last filled row deletes up to it; the hidden button 250 does the same.
    pupil.Select(20, 80);
    pupil.Control<QAbstractButton>(kIdDeleteRows)->click();
    EXPECT_EQ(w.Records().size(), 19u);
    EXPECT_EQ(pupil.Cell(20, 0), QString());
    pupil.Select(1, 19);
    pupil.Control<QAbstractButton>(kIdDeleteRows)->click();
    EXPECT_TRUE(w.Records().empty());
    for (int id : {246, 247, 249, 251, 242})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    // No records: no context menu.
    EXPECT_FALSE(pupil.Table()->ShowContextMenuAt(pupil.Table()->mapToGlobal(QPoint(20, 60))));
}

TEST(FreeFallRows, PointsBeyondTheViewAreDeletedWithTheirRows)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    w.setWindowState(Qt::WindowNoState);
    w.resize(1024, 600);
    w.Chart()->RenderNow();  // the view's y range follows the chart's shape
    const double yMax = w.Chart()->view.yMax;
    ASSERT_LT(yMax, 0.7);
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0, 0.1}, {0, yMax + 0.05}, {0, 0.2}, {0, yMax + 0.06}, {0, 0.3}});
    pupil.Click(kStop);
    ASSERT_EQ(w.Records().size(), 5u);
    EXPECT_EQ(w.Series(1).x.size(), 5u);
    pupil.Select(2, 3);
    pupil.Control<QAbstractButton>(kIdDeleteRows)->click();
    ASSERT_EQ(w.Series(1).y.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(w.Series(1).y[i], w.Records()[i].y) << i;
    EXPECT_NEAR(w.Records()[1].y, yMax + 0.06, 1e-5);
}

TEST(FreeFallComponents, AreSnapshotsOfTheTrajectory)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdComponentY);  // no records: nothing
    EXPECT_FALSE(w.Series(3).visible);
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0.01, 0.0}, {0.02, 0.05}});
    pupil.Click(kStop);

    pupil.Click(kIdComponentX);
    pupil.Click(kIdComponentY);
    ASSERT_TRUE(w.Series(2).visible && w.Series(3).visible);
    EXPECT_EQ(w.Series(2).x, w.Series(1).x);
    EXPECT_EQ(w.Series(2).y, std::vector<double>(2, -0.04));
    EXPECT_EQ(w.Series(3).y, w.Series(1).y);
    EXPECT_EQ(w.Series(3).x, std::vector<double>(2, -0.04));
    EXPECT_EQ(w.Series(3).numberDrawn, 2);

    // Starting a recording empties and hides them; toggled on during the recording they show what
    // was there, and only toggling again brings in the later points.
    pupil.Click(kIdStartRecording);
    EXPECT_FALSE(w.Series(2).visible);
    pupil.Feed({{0.0, 0.0}});
    pupil.Click(kIdComponentX);
    pupil.Feed({{0.0, 0.1}, {0.0, 0.2}});
    EXPECT_EQ(w.Series(2).x.size(), 1u);
    pupil.Click(kIdComponentX);
    pupil.Click(kIdComponentX);
    EXPECT_EQ(w.Series(2).x.size(), 3u);
    EXPECT_EQ(w.Series(2).numberDrawn, 3);
}

TEST(FreeFallClear, EmptiesEverythingAndEndsARecording)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 8));
    pupil.Click(kStop);
    pupil.Click(kIdAcceleration);
    ASSERT_FALSE(pupil.Label().isEmpty());
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 3));
    pupil.Click(kIdClear);
    EXPECT_FALSE(w.Recording());
    EXPECT_TRUE(w.Records().empty());
    EXPECT_EQ(pupil.Cell(1, 0), QString());
    EXPECT_EQ(pupil.Label(), QString());
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(w.Series(i).x.empty() && !w.Series(i).visible) << i;
    EXPECT_EQ(pupil.Box(kIdXValue), QStringLiteral("0(m)"));
    for (int id : {249, 251, 242, kStop})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_TRUE(pupil.Enabled(kIdStartRecording));
}

TEST(FreeFallColours, ThePupilsColoursReachChartAndTable)
{
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed(Fall(0, 6));
    pupil.Click(kStop);

    const QColor grid(0, 128, 64), marker(128, 0, 128), column(0, 0, 160);
    ShownWatcher<output::CDlgClrSetting> watcher([&](output::CDlgClrSetting* dialog) {
        dialog->Picker(output::CDlgClrSetting::kGridLinePicker)->SetColor(grid);
        dialog->Picker(output::CDlgClrSetting::kTrajectoryPicker)->SetColor(marker);
        dialog->Picker(output::CDlgClrSetting::kYColumnPicker)->SetColor(column);
        QTest::mouseClick(zelkor::widgets::FindControl<QAbstractButton>(dialog, 1), Qt::LeftButton);
    });
    pupil.Click(kIdColours);
    ASSERT_TRUE(watcher.Seen());
    EXPECT_EQ(w.Chart()->view.minorGridColour, grid);
    EXPECT_EQ(w.Chart()->view.majorGridColour, grid);
    EXPECT_EQ(w.Series(1).markerColour, marker);
    for (int row : {0, 1, 6})
        EXPECT_EQ(w.Table()->GetItemFgColour(row, 1), column) << row;
    EXPECT_EQ(w.Table()->GetItemFgColour(1, 0), QColor(0, 0, 0));

    // Cancelling changes nothing.
    ShownWatcher<output::CDlgClrSetting> cancel([&](output::CDlgClrSetting* dialog) {
        dialog->Picker(output::CDlgClrSetting::kGridLinePicker)->SetColor(QColor(255, 0, 0));
        QTest::mouseClick(zelkor::widgets::FindControl<QAbstractButton>(dialog, 2), Qt::LeftButton);
    });
    pupil.Click(kIdColours);
    ASSERT_TRUE(cancel.Seen());
    EXPECT_EQ(w.Chart()->view.minorGridColour, grid);
}

// --- files -------------------------------------------------------------------------------------------


TEST(FreeFallFiles, ExportWritesXYAndTimeIntoTheFreeFallFolder)
{
    FileDesk desk;
    Pupil pupil;
    pupil.ZeroAtRelease();
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0.0, 0.0}, {0.001, 0.02}});
    pupil.Click(kStop);
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0.0, 0.0}, {0.002, 0.125}});
    pupil.Click(kStop);
    pupil.Click(kIdExport);
    ASSERT_FALSE(desk.opened.isEmpty());
    EXPECT_EQ(QFileInfo(desk.opened).dir().dirName(), QStringLiteral("freelyfall"));

    output::Workbook book;
    ASSERT_TRUE(book.Load(desk.opened.toStdString()));
    output::Worksheet* sheet = book.FirstWorksheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->RowCount(), 3u);
    EXPECT_EQ(sheet->GetCell(0, 2)->WideText(), u"t");
    EXPECT_NEAR(output::NumberOfCell(sheet->GetCell(2, 1)), 0.125, 1e-5);
    EXPECT_NEAR(output::NumberOfCell(sheet->GetCell(2, 0)), 0.002, 1e-5);
    // The second recording's times go on from the first one's.
    EXPECT_NEAR(output::NumberOfCell(sheet->GetCell(1, 2)), 0.04, 1e-6);

    // And back in: the same rows.
    desk.choose = desk.opened;
    pupil.Click(kIdClear);
    pupil.Click(kIdImport);
    ASSERT_EQ(pupil.window->Records().size(), 2u);
    EXPECT_NEAR(pupil.window->Records()[1].t, 0.06, 1e-6);
    EXPECT_EQ(pupil.Cell(2, 1), QStringLiteral("0.125"));
}

TEST(FreeFallFiles, ImportTakesRowsBelowTheDropHeightAndReadsTextAsZero)
{
    FileDesk desk;
    desk.choose = desk.Write(QStringLiteral("fall.xls"), [](output::Worksheet& s) {
        s.SetWideText(0, 0, u"X");
        s.SetNumber(1, 0, 0.01);
        s.SetNumber(1, 1, 0.1);
        s.SetNumber(1, 2, 0.5);
        s.SetNumber(2, 0, 0.02);
        s.SetNumber(2, 1, 0.8);  // at h: skipped
        s.SetNumber(2, 2, 0.6);
        s.SetWideText(3, 0, u"0.5");
        s.SetNumber(3, 1, 0.3);
        s.SetWideText(3, 2, u"abc");
        s.SetNumber(4, 0, 0.04);
        s.SetNumber(4, 1, 0.95);  // beyond h: skipped
        for (uint32_t r = 5; r <= 12; ++r) {
            s.SetNumber(r, 1, 0.01 * r);
            s.SetWideText(r, 2, u"0.1");  // a time typed as text
        }
    });
    Pupil pupil;
    CDlgTdFreelyFall& w = *pupil.window;
    pupil.Click(kIdImport);
    ASSERT_EQ(w.Records().size(), 10u);
    EXPECT_EQ(w.Records()[1].x, 0.0);
    EXPECT_EQ(w.Records()[1].t, 0.0);
    EXPECT_EQ(pupil.Cell(2, 1), QStringLiteral("0.300"));
    EXPECT_TRUE(w.Series(1).visible);
    EXPECT_EQ(w.Series(1).numberDrawn, 10);
    for (int id : {246, 247, 249, 251, 242})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    // Text in the time column gives equal times: no number, so no label rather than "a = nan".
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Label(), QString());

    // Cells that are no number (NaN, infinity) read as 0, as text does; a huge number stays a number.
    desk.choose = desk.Write(QStringLiteral("odd.xls"), [](output::Worksheet& s) {
        s.SetWideText(0, 0, u"X");
        s.SetNumber(1, 0, std::nan(""));
        s.SetNumber(1, 1, 0.2);
        s.SetNumber(1, 2, std::numeric_limits<double>::infinity());
        s.SetNumber(2, 0, 1e300);
        s.SetNumber(2, 1, -std::numeric_limits<double>::infinity());
        s.SetNumber(2, 2, 0.5);
    });
    pupil.Click(kIdImport);
    ASSERT_EQ(w.Records().size(), 2u);
    EXPECT_EQ(w.Records()[0].x, 0.0);
    EXPECT_EQ(w.Records()[0].t, 0.0);
    EXPECT_EQ(w.Records()[1].y, 0.0);
    EXPECT_EQ(w.Records()[1].x, 1e300);
    EXPECT_EQ(pupil.Cell(2, 1), QStringLiteral("0.000"));
    EXPECT_FALSE(w.Chart()->RenderNow().isNull());
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Label(), QString());

    // A file that is no workbook changes nothing.
    desk.choose = desk.folder.filePath(QStringLiteral("broken.xls"));
    QFile broken(desk.choose);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a workbook at all");
    broken.close();
    MessageCatcher message;
    pupil.Click(kIdImport);
    EXPECT_EQ(message.text, QStringLiteral("打开表格文件失败！"));
    EXPECT_EQ(w.Records().size(), 2u);
    // A cancelled dialog neither.
    desk.choose.clear();
    pupil.Click(kIdImport);
    EXPECT_EQ(w.Records().size(), 2u);
}

TEST(FreeFallFiles, AnImportBeyondTheTableIsCutAtItAndSaysSo)
{
    FileDesk desk;
    desk.choose = desk.Write(QStringLiteral("long.xls"), [](output::Worksheet& s) {
        s.SetWideText(0, 0, u"X");
        for (uint32_t r = 1; r <= 130; ++r) {
            s.SetNumber(r, 0, 0.0);
            s.SetNumber(r, 1, 0.005 * r);
            s.SetNumber(r, 2, 0.02 * r);
        }
    });
    Pupil pupil;
    MessageCatcher message;
    pupil.Click(kIdImport);
    EXPECT_EQ(message.text, QStringLiteral("表格最多容纳100行数据，其余30行未导入！"));
    CDlgTdFreelyFall& w = *pupil.window;
    ASSERT_EQ(w.Records().size(), 100u);
    EXPECT_EQ(w.Series(1).x.size(), 100u);
    EXPECT_EQ(w.NextTableRow(), 101u);
    EXPECT_EQ(pupil.Cell(100, 1), QStringLiteral("0.500"));
    // Deleting still lines up.
    pupil.Select(1, 50);
    pupil.Control<QAbstractButton>(kIdDeleteRows)->click();
    EXPECT_EQ(w.Records().size(), 50u);
    EXPECT_EQ(pupil.Cell(1, 1), Fixed3(w.Series(1).y[0]));
}

// --- the demo sensor ---------------------------------------------------------------------------------

TEST(FreeFallDemo, TheWholeExperimentWithoutHardware)
{
    auto rig = device::MakeDemoPlatformForTests(kFreeFallIndex, device::DemoPacing::Unpaced);
    // The helper at the apparatus holds the ball at the release point from the start.
    device::SendDemoCue(device::DemoCue::ZeroSet);
    auto windowHolder = MakeExperimentWindow<CDlgTdFreelyFall>(nullptr, rig.platform);
    CDlgTdFreelyFall& window = *windowHolder;
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.StartedUp() && rig.sensor->ReportsSent() > 50; }));
    // Unpaced, the sensor would run far ahead of the pupil's clicks: hold it while the pupil clicks.
    rig.sensor->StopSending();
    std::uint64_t sent = 0;
    ASSERT_TRUE(WaitUntil([&] {
        const std::uint64_t now = rig.sensor->ReportsSent();
        const bool still = now == sent;
        sent = now;
        QTest::qWait(20);
        return still;
    }));
    window.RefreshView();
    QTest::mouseClick(FindControl<QWidget>(&window, kIdZero), Qt::LeftButton);
    EXPECT_NEAR(window.Frame().y0, device::demo::free_fall::kReleaseY, 0.01);
    QTest::mouseClick(FindControl<QWidget>(&window, kIdStartRecording), Qt::LeftButton);
    rig.sensor->ResumeSending();
    ASSERT_TRUE(WaitUntil([&] { return !window.Recording(); }, 10000ms));

    const auto& records = window.Records();
    ASSERT_GE(records.size(), 30u);
    ASSERT_LT(records.size(), 100u) << "the ball passed the drop height";
    EXPECT_GT(records.back().y, 0.7);
    EXPECT_LE(records.back().y, 0.8);
    // The pupil selects the falling rows: from the first clearly below the release point.
    int firstFalling = 0;
    while (firstFalling < static_cast<int>(records.size()) && records[static_cast<size_t>(firstFalling)].y < 0.01)
        ++firstFalling;
    ASSERT_GT(firstFalling, 15);  // about half a second at rest
    auto* table = FindControl<widgets::CDataTable>(&window, kIdTable);
    table->SetSelectedRange({firstFalling + 1, 0, static_cast<int>(records.size()), 1});
    QTest::mouseClick(FindControl<QWidget>(&window, kIdAcceleration), Qt::LeftButton);
    const double a = LabelValue(window.Series(1).labelText);
    // Where the fall starts in the demo's noise depends on how many reports went out before the hold,
    // so a varies from run to run: about 1 % (one standard deviation) over some 18 falling points.
    // 4 % keeps a run inside the tolerance, and still fails a wrong time step or scale.
    EXPECT_NEAR(a, device::demo::kGravity, 0.04 * device::demo::kGravity) << window.Series(1).labelText.toStdString();
}

// The live readouts format with Printf; what they show must be what Qt's own formatting shows.
TEST(NumberTexts, PrintfGivesWhatQtFormattingGives)
{
    const double values[] = {0.0,     -0.0,    0.0004,   -0.0004, 0.0005,  -0.0005,   0.0015,
                             2.675,   -1.2345, 123.4565, 1e6,     -1e-9,   1e300,     0.1 + 0.2,
                             std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (const double v : values) {
        SCOPED_TRACE(v);
        EXPECT_EQ(Printf("%.3f(m)", v), QString::asprintf("%.3f(m)", v));
        EXPECT_EQ(Printf(" %.3f(m)", v), QString::asprintf(" %.3f(m)", v));
        EXPECT_EQ(Printf("%6.3f(r/min)", v), QString::asprintf("%6.3f(r/min)", v));
        EXPECT_EQ(Printf("%.6f(s)", v), QString::asprintf("%.6f(s)", v));
        EXPECT_EQ(Printf("%.1f(℃)", v), QString::asprintf("%.1f(℃)", v));
        EXPECT_EQ(Printf("  %.2f(s)", v), QString::asprintf("  %.2f(s)", v));
        EXPECT_EQ(Fixed3(v), QString::asprintf("%.3f", v));
    }
    EXPECT_EQ(Printf(" %d(Hz)", -7), QStringLiteral(" -7(Hz)"));
    EXPECT_EQ(Printf("%.1f(℃)", static_cast<double>(-0.0f)), QStringLiteral("0.0(℃)"));
    // Longer than the stack buffer: still whole.
    EXPECT_EQ(Printf("%.3f", 1e200).size(), QString::asprintf("%.3f", 1e200).size());
}
