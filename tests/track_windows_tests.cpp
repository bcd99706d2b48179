// The four windows that follow a moving object, driven as a pupil drives them, with exact positions at
// one tick: what each shows, records, deletes and refuses.
#include "acquisition/decimator.h"
#include "experiments/ball_orbit.h"
#include "experiments/centri_railway.h"
#include "experiments/com_motions.h"
#include "experiments/number_texts.h"
#include "experiments/robot_trace.h"
#include "tests/track_pupil.h"
#include "widgets/choice_buttons.h"
#include "widgets/data_table.h"
#include "widgets/picture_button.h"

#include <QElapsedTimer>
#include <QMenu>

#include <cmath>
#include <functional>
#include <limits>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::MessageCatcher;
using zelkor::testing::Pos;
using zelkor::testing::NoSensorPupil;
using zelkor::testing::TrackPupil;

namespace {

constexpr int kStart = 232;
constexpr int kStop = 233;
constexpr int kRecordComposition = 244;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Coordinates in whole millimetres, for comparing computed positions.
std::vector<long> Mm(const std::vector<double>& v)
{
    std::vector<long> out;
    for (double d : v)
        out.push_back(std::lround(d * 1000.0));
    return out;
}

// Positions along a straight line from `from`, `step` apart along X.
std::vector<Pos> Line(int n, Pos from = {0.01, 0.01}, double step = 0.01)
{
    std::vector<Pos> out;
    for (int i = 0; i < n; ++i)
        out.push_back({from.x + step * i, from.y + 0.002 * i});
    return out;
}

// --- what every window opens with, and what a start without a sensor does ---------------------------

struct Opening {
    const char* name;
    void (*check)(const Opening&);
    const char* title;
    int sliderMax, sliderPosition;
    double frequency;
    const char* periodMarkup;
    const char* openFailure;  // message when no sensor is found, or nullptr
    bool table;
};

template <class W>
void CheckOpening(const Opening& o)
{
    {
        TrackPupil<W> pupil;
        W& w = pupil.W();
        const int record = w.RecordButtonId();
        EXPECT_EQ(w.windowTitle(), QString::fromUtf8(o.title));
        EXPECT_EQ(w.m_transformIndex.load(), 1);
        EXPECT_DOUBLE_EQ(w.m_samplingFrequency.load(), o.frequency);
        EXPECT_FALSE(w.WorkerCreated()) << "nothing live until 开始实验";
        EXPECT_EQ(w.Slider()->minimum(), 1);
        EXPECT_EQ(w.Slider()->maximum(), o.sliderMax);
        EXPECT_EQ(w.Slider()->value(), o.sliderPosition);
        EXPECT_EQ(w.PeriodBox()->text, QStringLiteral("\\font{Times New Roman,26}") + QString::fromUtf8(o.periodMarkup));
        EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdTrackTable) != nullptr, o.table);
        EXPECT_FALSE(w.Chart()->reverseDecreasing);
        const std::pair<int, const char*> captions[] = {
            {kStart, "开始实验"}, {kStop, "停止实验"}, {243, "传感器调零"}, {record, "记录数据"}, {242, "清屏"}};
        for (const auto& [id, caption] : captions)
            EXPECT_EQ(pupil.template Control<QAbstractButton>(id)->text(), QString::fromUtf8(caption)) << id;
        auto face = [&](int id) { return pupil.template Control<widgets::CPictureButton>(id)->FaceColor(); };
        EXPECT_EQ(face(kStart), QColor(192, 255, 192));
        EXPECT_EQ(face(kStop), QColor(192, 192, 255));
        EXPECT_EQ(face(record), QColor(255, 224, 192));
        EXPECT_EQ(face(241), QColor(192, 255, 192));
        for (int id : {kStop, 243, record, 242})
            EXPECT_FALSE(pupil.Enabled(id)) << id;
        EXPECT_TRUE(pupil.Enabled(kStart));

        pupil.Start();
        EXPECT_TRUE(w.RefreshRunning());
        for (int id : {kStop, 243, record})
            EXPECT_TRUE(pupil.Enabled(id)) << id;
        EXPECT_FALSE(pupil.Enabled(kStart));
        pupil.Click(kStop);
        EXPECT_FALSE(w.RefreshRunning());
        for (int id : {kStart, 242, kIdTrackSlider})
            EXPECT_TRUE(pupil.Enabled(id)) << id;
        for (int id : {kStop, 243, record})
            EXPECT_FALSE(pupil.Enabled(id)) << id;
        EXPECT_EQ(w.focusWidget(), pupil.Control(kStart));
    }
    NoSensorPupil<W> pupil;
    MessageCatcher message;
    pupil.Click(kStart);
    EXPECT_EQ(message.text, o.openFailure ? QString::fromUtf8(o.openFailure) : QString());
    EXPECT_FALSE(pupil.window->RefreshRunning());
    EXPECT_FALSE(pupil.window->WorkerCreated());
    EXPECT_TRUE(pupil.Enabled(kStart)) << "stays idle";
    EXPECT_FALSE(pupil.Enabled(kStop));
}

const Opening kOpenings[] = {
    {"ComMotions", CheckOpening<CDlgTdComMotions>, "运动的合成", 20, 10, 5.0, "\\text{  0.20(s)}", "没有找到二维设备！", false},
    {"BallOrbit", CheckOpening<CDlgTdBallOrbit>, "球面轨道", 5, 1, 50.0, "\\text{  0.02(s)}", nullptr, true},
    {"CentriRailway", CheckOpening<CDlgTdCentriRailway>, "离心轨道", 5, 1, 50.0, "\\text{  0.02(s)}", nullptr, true},
    {"RobotTrace", CheckOpening<CDlgTdRobotTrace>, "机器人轨迹跟踪", 5, 1, 50.0, "\\text{  0.02(s)}", nullptr, false},
};

void PrintTo(const Opening& o, std::ostream* os)
{
    *os << o.name;
}

class TrackOpening : public ::testing::TestWithParam<Opening> {};

TEST_P(TrackOpening, IdleUntilStartedAndStartedOnlyWithASensor)
{
    GetParam().check(GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, TrackOpening, ::testing::ValuesIn(kOpenings),
                         [](const auto& p) { return std::string(p.param.name); });

// A position that is no number is dropped before anything takes it, in every window: no series gets it,
// and a zero setting right after it still takes the last real position.
template <class W>
void ExpectNaNDropped()
{
    SCOPED_TRACE(typeid(W).name());
    TrackPupil<W> pupil;
    W& w = pupil.W();
    pupil.Start();
    const double x0 = w.X0();
    pupil.Feed({{0.02, 0.03}, {kNaN, 0.1}, {0.1, kNaN}});
    EXPECT_DOUBLE_EQ(w.X(), 0.02);
    pupil.Click(243);
    EXPECT_DOUBLE_EQ(w.X0(), x0 + 0.02);
    pupil.Click(w.RecordButtonId());
    pupil.Feed({{0.01, 0.01}, {kNaN, kNaN}, {0.02, 0.02}});
    for (int i = 0; i < w.SeriesCount(); ++i)
        for (size_t k = 0; k < pupil.Series(i).x.size(); ++k)
            EXPECT_TRUE(std::isfinite(pupil.Series(i).x[k]) && std::isfinite(pupil.Series(i).y[k])) << i;
    EXPECT_EQ(pupil.Series(1).x.size(), 2u);
}

TEST(TrackWindows, NoNumberPositionsNeverReachASeries)
{
    ExpectNaNDropped<CDlgTdComMotions>();
    ExpectNaNDropped<CDlgTdBallOrbit>();
    ExpectNaNDropped<CDlgTdCentriRailway>();
    ExpectNaNDropped<CDlgTdRobotTrace>();
}

// The period slider: p = position x 0.02 s once let go after a drag; the worker keeps one report in
// trunc(50 p / 1 s).
TEST(TrackWindows, ThePeriodSliderSetsPeriodFrequencyAndStep)
{
    const struct {
        int position;
        const char* shown;
        unsigned step;
    } cases[] = {{1, "  0.02(s)", 1}, {20, "  0.40(s)", 20}, {5, "  0.10(s)", 5},
                 {11, "  0.22(s)", 10}, {2, "  0.04(s)", 2}, {7, "  0.14(s)", 7}};
    TrackPupil<CDlgTdComMotions> pupil;
    CDlgTdComMotions& w = pupil.W();
    for (const auto& c : cases) {
        pupil.DragSlider(c.position);
        EXPECT_EQ(w.PeriodBox()->text, QString::fromUtf8(c.shown)) << c.position;
        EXPECT_DOUBLE_EQ(w.m_samplingFrequency.load(), 1.0 / (c.position * 0.02)) << c.position;
        EXPECT_EQ(acquisition::Decimator::DecimationStep(w.m_samplingFrequency.load()), c.step) << c.position;
    }
    // Repainted, the box still shows the period; keys move the thumb but set nothing.
    w.grab();
    EXPECT_EQ(w.PeriodBox()->text, QStringLiteral("\\font{Times New Roman,26}\\text{  0.14(s)}"));
    w.Slider()->setFocus();
    QTest::keyClick(w.Slider(), Qt::Key_Right);
    EXPECT_EQ(w.Slider()->value(), 8);
    EXPECT_DOUBLE_EQ(w.m_samplingFrequency.load(), 1.0 / (7 * 0.02));

    // The ball stopped at X = 0.123 after the slider was let go at 3: a repaint shows both.
    TrackPupil<CDlgTdBallOrbit> track;
    track.DragSlider(3);
    track.Start();
    track.Feed(Pos{0.123, 0.05});
    track.W().grab();
    EXPECT_EQ(track.W().PeriodBox()->text, QStringLiteral("\\font{Times New Roman,26}\\text{  0.06(s)}"));
    EXPECT_EQ(track.Text(kIdXValueBox), QStringLiteral("\\font{Times New Roman,26}\\text{ 0.123(m)}"));
    EXPECT_EQ(track.Text(kIdYValueBox), QStringLiteral("\\font{Times New Roman,26}\\text{ 0.050(m)}"));
}

// --- composition of motions ---------------------------------------------------------------------------

TEST(ComMotions, RecordingAddsToTheTrajectoryAndItsComponents)
{
    TrackPupil<CDlgTdComMotions> pupil;
    CDlgTdComMotions& w = pupil.W();
    pupil.Start();
    pupil.Feed(Pos{0.05, 0.06});
    EXPECT_TRUE(pupil.Series(0).visible);
    EXPECT_EQ(Mm(pupil.Series(0).x), std::vector<long>({50}));
    pupil.Click(kIdComponentXBox);  // ticked before recording: the X row grows as samples arrive
    pupil.Click(kRecordComposition);
    EXPECT_FALSE(pupil.Enabled(kIdTrackSlider));
    pupil.Feed(Line(3));
    EXPECT_FALSE(pupil.Series(0).visible);
    EXPECT_TRUE(pupil.Series(1).visible);
    EXPECT_TRUE(pupil.Series(2).visible);
    EXPECT_FALSE(pupil.Series(3).visible);
    EXPECT_EQ(pupil.Series(2).x, pupil.Series(1).x);
    EXPECT_EQ(pupil.Series(2).y, std::vector<double>(3, CDlgTdComMotions::kComponentAt));
    EXPECT_EQ(pupil.Series(3).x, std::vector<double>(3, CDlgTdComMotions::kComponentAt));
    EXPECT_EQ(pupil.Series(3).y, pupil.Series(1).y);
    pupil.Click(kIdComponentXBox);  // hidden without losing points
    EXPECT_FALSE(pupil.Series(2).visible);
    EXPECT_EQ(pupil.Series(2).x.size(), 3u);
    // "记录数据" again continues; stop and start keep the points, and record only after "记录数据".
    pupil.Click(kRecordComposition);
    pupil.Feed(Line(2, {0.1, 0.1}));
    pupil.Click(kStop);
    EXPECT_FALSE(w.Recording());
    pupil.Start();
    pupil.Feed(Line(2, {0.2, 0.2}));
    EXPECT_EQ(pupil.Series(1).x.size(), 5u);
    EXPECT_TRUE(pupil.Series(0).visible);
    pupil.Click(kRecordComposition);
    pupil.Feed(Line(1, {0.3, 0.3}));
    EXPECT_EQ(pupil.Series(1).x.size(), 6u);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(pupil.Series(i).numberDrawn, 6) << i;
    // "清屏" with "Y" ticked leaves series 3 shown, and empty, for the next recording.
    pupil.Click(kIdComponentYBox);
    pupil.Click(kStop);
    pupil.Click(kIdTrackClear);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(pupil.Series(i).x.empty()) << i;
        EXPECT_EQ(pupil.Series(i).visible, i == 3) << i;
    }
    EXPECT_FALSE(pupil.Enabled(kIdTrackClear));
    EXPECT_EQ(w.X(), 0.0);
}

// A track that comes back left of where it began is drawn as recorded, never turned round, and each
// new point is drawn by itself as it arrives, without a repaint of the chart.
template <class W>
void ExpectPointsDrawnAtOnceAndNeverTurnedRound(const QColor& pointColour)
{
    SCOPED_TRACE(typeid(W).name());
    TrackPupil<W> pupil;
    W& w = pupil.W();
    w.resize(1024, 600);
    pupil.Start();
    pupil.Click(w.RecordButtonId());
    pupil.Feed({{0.2, 0.1}, {0.15, 0.12}});
    w.Chart()->RenderNow();
    pupil.Feed(Pos{0.1, 0.15});  // left of the first point
    EXPECT_EQ(Mm(pupil.Series(1).x), std::vector<long>({200, 150, 100}));
    const widgets::chart::Mapping m = w.Chart()->CurrentMapping();
    EXPECT_EQ(w.Chart()->BackBuffer().pixelColor(m.Column(0.1), m.Row(0.15)), pointColour);
    w.Chart()->RenderNow();
    EXPECT_EQ(Mm(pupil.Series(1).x), std::vector<long>({200, 150, 100}));
    // A point beyond the view is kept all the same.
    pupil.Feed(Pos{1.2, 0.3});
    EXPECT_EQ(pupil.Series(1).x.back(), 1.2);
    EXPECT_EQ(pupil.Series(1).numberDrawn, 4);
}

TEST(TrackWindows, LiveTracksDrawNewPointsAtOnceAndNeverTurnThemRound)
{
    ExpectPointsDrawnAtOnceAndNeverTurnedRound<CDlgTdComMotions>(QColor(255, 0, 0));
    ExpectPointsDrawnAtOnceAndNeverTurnedRound<CDlgTdRobotTrace>(QColor(0, 0, 255));  // its line on top
}

// The robot comes back over its own track: while it records, its line lies over the later points there,
// as a whole paint of the chart draws it, and not only once it is stopped.
TEST(RobotTrace, TheTrackLineLiesOverLaterPointsWhileRecording)
{
    TrackPupil<CDlgTdRobotTrace> pupil;
    CDlgTdRobotTrace& w = pupil.W();
    w.resize(1024, 600);
    pupil.Start();
    pupil.Click(kRecordComposition);
    pupil.Feed(Pos{0.3, 0.3});
    QApplication::processEvents();  // the repaint that shows the track
    pupil.Feed(Pos{0.5, 0.3});
    const widgets::chart::Mapping m = w.Chart()->CurrentMapping();
    const QPoint crossing(m.Column(0.4), m.Row(0.3));
    // Two pixels beside the line, so that only the new point's marker reaches it.
    std::vector<double> onRow;
    for (int k = -20000; k <= 20000; ++k)
        if (m.Row(0.3 + k * 1e-6) == crossing.y() + 2)
            onRow.push_back(0.3 + k * 1e-6);
    ASSERT_FALSE(onRow.empty());
    const double beside = onRow[onRow.size() / 2];
    pupil.Feed(Pos{0.4, beside});  // a tick each, as the robot's points come
    pupil.Feed(Pos{0.35, 0.2});
    const QColor blue(0, 0, 255);
    const QImage shown = w.Chart()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixelColor(crossing), blue);
    EXPECT_EQ(shown.pixelColor(crossing + QPoint(0, 3)), QColor(255, 0, 0));  // the marker beside the line
    EXPECT_EQ(shown, w.Chart()->RenderNow());
    EXPECT_TRUE(w.Recording());
}

// --- the spherical track ------------------------------------------------------------------------------

TEST(BallOrbit, TheRecordingAreaAndItsEnd)
{
    const struct {
        const char* name;
        Pos p;
        bool recorded;
        bool stops;
    } cases[] = {
        {"inside", {0.2, 0.1}, true, false},
        {"at X = 0.55", {0.55, 0.1}, false, false},
        {"between the right edges", {0.5, 0.1}, false, false},
        {"past X = 0.55", {0.5500001, 0.1}, false, true},
        {"at Y = 0.4", {0.1, 0.4}, false, false},
        {"past Y = 0.4", {0.1, 0.4000001}, false, true},
        {"at X = -0.02", {-0.02, 0.1}, false, false},
        {"at Y = -0.02", {0.1, -0.02}, false, false},
        {"inside the corner", {-0.0199, -0.0199}, true, false},
        {"at X = 1: dropped", {1.0, 0.1}, false, false},
        {"at Y = 1: dropped", {0.1, 1.0}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrackPupil<CDlgTdBallOrbit> pupil;
        pupil.Start();
        pupil.Click(kIdTrackRecord);
        pupil.Feed({{0.1, 0.1}, c.p});
        EXPECT_EQ(pupil.Series(1).x.size(), c.recorded ? 2u : 1u);
        EXPECT_EQ(pupil.W().NextTableRow(), c.recorded ? 3u : 2u);
        EXPECT_EQ(pupil.W().RefreshRunning(), !c.stops);
        EXPECT_TRUE(pupil.W().Recording()) << "an end of the recording leaves its flag set";
        const bool dropped = c.p.x >= 1.0 || c.p.y >= 1.0;
        EXPECT_EQ(pupil.W().Series(0).x.empty(), c.recorded || dropped) << "the marker takes what is not recorded";
        EXPECT_EQ(pupil.Text(kIdXValueBox), QString::asprintf(" %.3f(m)", dropped ? 0.1 : c.p.x));
    }
}

TEST(BallOrbit, RecordsIntoChartAndTableAndDeletesRows)
{
    TrackPupil<CDlgTdBallOrbit> pupil;
    CDlgTdBallOrbit& w = pupil.W();
    // Before any zero setting the origin is the raw position (0.1, 0.1).
    pupil.Start();
    acquisition::DataPck raw;
    raw.x = 0.1;
    raw.y = 0.1;
    w.m_sampleQueue.Push(raw);
    w.RefreshView();
    EXPECT_EQ(w.X(), 0.0);
    EXPECT_EQ(w.Y(), 0.0);
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(7));
    EXPECT_FALSE(pupil.Series(0).visible);
    EXPECT_EQ(w.Table()->GetItemText(7, 0), QStringLiteral("0.070"));
    EXPECT_EQ(w.Table()->GetItemText(0, 0), QStringLiteral("\\math{X}\\text{(m)}"));
    w.Table()->SetSelectedRange({3, 0, 5, 1});
    // The menu opens inside the table only, whatever the records.
    EXPECT_FALSE(w.Table()->ShowContextMenuAt(w.mapToGlobal(QPoint(5, 5))));
    ASSERT_TRUE(w.Table()->ShowContextMenuAt(w.Table()->mapToGlobal(QPoint(20, 50))));
    w.Table()->ContextMenu()->actions().front()->trigger();
    w.Table()->ContextMenu()->hide();
    EXPECT_EQ(Mm(pupil.Series(1).x), std::vector<long>({10, 20, 60, 70}));
    EXPECT_EQ(pupil.Series(2).x, pupil.Series(1).x);
    EXPECT_EQ(pupil.Series(1).numberDrawn, 4);
    EXPECT_EQ(w.NextTableRow(), 5u);
    EXPECT_EQ(w.Table()->GetItemText(3, 0), QStringLiteral("0.060"));
    EXPECT_EQ(w.Table()->GetItemText(5, 0), QString());
    EXPECT_EQ(w.Table()->GetRowCount(), 101);
    EXPECT_EQ(w.Table()->GetRowHeight(100), 30);
    // A new start draws only the new recording; the table starts again at row 1 with "记录数据".
    pupil.Click(kStop);
    pupil.Start();
    EXPECT_TRUE(pupil.Series(1).x.empty());
    EXPECT_EQ(w.NextTableRow(), 5u);
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(2, {0.3, 0.2}));
    EXPECT_EQ(Mm(pupil.Series(1).x), std::vector<long>({300, 310}));
    EXPECT_EQ(w.Table()->GetItemText(1, 0), QStringLiteral("0.300"));
    EXPECT_EQ(w.Table()->GetItemText(3, 0), QString());
}

// "确定" with what the pupil may type: the quarter arc for a finite radius up to a few metres.
TEST(BallOrbit, TheTheoryArcForAnyTypedRadius)
{
    const struct {
        const char* text;
        size_t arcPoints;
        std::vector<double> radiusLine;  // x0, y0, x1, y1
    } cases[] = {
        {"0.2", 201, {0.0, 0.2, 0.2, 0.2}},
        {"0.2m", 201, {0.0, 0.2, 0.2, 0.2}},
        {"", 0, {}},
        {"abc", 1, {0.0, 0.0, 0.0, 0.0}},
        {"-0.5", 0, {0.0, -0.5, -0.5, -0.5}},
        {"3", 3002, {0.0, 3.0, 3.0, 3.0}},  // the height steps add up to a little below 3
        {"3.5", 0, {}},
        {"1e9", 0, {}},
        {"inf", 0, {}},
        {"1e999", 0, {}},
        {"nan", 0, {}},
    };
    TrackPupil<CDlgTdBallOrbit> pupil;
    auto* field = pupil.Control<QLineEdit>(kIdRadiusField);
    EXPECT_EQ(field->text(), QStringLiteral("0.2"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        field->setText(QString::fromUtf8(c.text));
        QElapsedTimer timer;
        timer.start();
        pupil.Click(kIdTheoryArc);
        EXPECT_LT(timer.elapsed(), 2000);
        const widgets::CChartSeries& arc = pupil.Series(3);
        const widgets::CChartSeries& radius = pupil.Series(4);
        EXPECT_TRUE(arc.visible && radius.visible);
        EXPECT_EQ(arc.x.size(), c.arcPoints);
        EXPECT_EQ(arc.numberDrawn, static_cast<int>(c.arcPoints));
        std::vector<double> line;
        for (size_t i = 0; i < radius.x.size(); ++i)
            line.insert(line.end(), {radius.x[i], radius.y[i]});
        EXPECT_EQ(line, c.radiusLine);
    }
    // On the circle centred at (0, R), from the zero point to the level of its centre.
    field->setText(QStringLiteral("0.2"));
    pupil.Click(kIdTheoryArc);
    const widgets::CChartSeries& arc = pupil.Series(3);
    EXPECT_EQ(arc.x.front(), 0.0);
    EXPECT_EQ(arc.y.front(), 0.0);
    EXPECT_NEAR(arc.x.back(), 0.2, 1e-6);
    for (size_t i = 0; i < arc.x.size(); ++i)
        EXPECT_NEAR(std::hypot(arc.x[i], arc.y[i] - 0.2), 0.2, 1e-12);
    // Neither "清屏" nor a new start removes it.
    pupil.Start();
    pupil.Click(kStop);
    pupil.Click(kIdTrackClear);
    EXPECT_EQ(pupil.Series(3).x.size(), 201u);
}

// Rows map to the points of the recording the table lists: after "记录数据" pressed again, after "清屏"
// or a new start, and beyond the table's hundred rows.
TEST(BallOrbit, DeletedRowsTakeTheirOwnPointsAndNoOthers)
{
    TrackPupil<CDlgTdBallOrbit> pupil;
    CDlgTdBallOrbit& w = pupil.W();
    pupil.Start();
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(3, {0.01, 0.01}));
    pupil.Click(kIdTrackRecord);  // the table starts again; the chart keeps the first three
    pupil.Feed(Line(4, {0.2, 0.2}));
    EXPECT_EQ(w.NextTableRow(), 5u);
    w.Table()->SetSelectedRange({2, 0, 3, 1});
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(Mm(pupil.Series(1).x), std::vector<long>({10, 20, 30, 200, 230}));
    EXPECT_EQ(pupil.Series(2).x, pupil.Series(1).x);
    EXPECT_EQ(w.Table()->GetItemText(2, 0), QStringLiteral("0.230"));

    // 130 points: the table lists 100, counts 130; deleting ten rows brings ten more up.
    pupil.Click(kIdTrackRecord);
    std::vector<Pos> many;
    for (int i = 0; i < 130; ++i)
        many.push_back({0.001 * i, 0.002 * i});
    pupil.Feed(many);
    EXPECT_EQ(w.NextTableRow(), 131u);
    EXPECT_EQ(w.Table()->GetItemText(100, 0), QStringLiteral("0.099"));
    w.Table()->SetSelectedRange({1, 0, 10, 1});
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(w.NextTableRow(), 121u);
    EXPECT_EQ(w.Table()->GetItemText(1, 0), QStringLiteral("0.010"));
    EXPECT_EQ(w.Table()->GetItemText(100, 0), QStringLiteral("0.109"));
    ASSERT_EQ(pupil.Series(1).x.size(), 5u + 120u);
    EXPECT_DOUBLE_EQ(pupil.Series(1).x[5], 0.01);
    EXPECT_EQ(w.TableRecords().size(), 120u);

    // After "清屏" the rows stand for points the chart no longer has: deleting touches no point.
    pupil.Click(kStop);
    pupil.Click(kIdTrackClear);
    pupil.Start();
    pupil.Feed(Line(2));  // live only: no recording after a new start
    w.Table()->SetSelectedRange({1, 0, 3, 1});
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(w.NextTableRow(), 118u);
    EXPECT_TRUE(pupil.Series(1).x.empty());
    EXPECT_EQ(pupil.Series(0).x.size(), 1u);
    // A selection below the last filled row deletes nothing.
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(2));
    w.Table()->SetSelectedRange({3, 0, 5, 1});
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(w.NextTableRow(), 3u);
    EXPECT_EQ(pupil.Series(1).x.size(), 2u);
}

// --- the centrifugal track ----------------------------------------------------------------------------

TEST(CentriRailway, TheFirstTwentyPointsRedTheRestBlack)
{
    TrackPupil<CDlgTdCentriRailway> pupil;
    CDlgTdCentriRailway& w = pupil.W();
    EXPECT_EQ(w.SeriesCount(), 4);
    EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdTheoryArc), nullptr);
    EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdRadiusField), nullptr);
    EXPECT_EQ(pupil.Series(1).markerColour, QColor(255, 0, 0));
    EXPECT_EQ(pupil.Series(3).markerColour, QColor(0, 0, 0));
    EXPECT_EQ(pupil.Series(2).lineColour, QColor(0, 0, 255));
    EXPECT_EQ(pupil.Series(2).lineStyle, Qt::DotLine);
    pupil.Start();
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(25, {0.0, 0.0}));
    EXPECT_EQ(pupil.Series(1).x.size(), 20u);
    EXPECT_DOUBLE_EQ(pupil.Series(1).x.back(), 0.19);
    EXPECT_DOUBLE_EQ(pupil.Series(3).x.front(), 0.2);
    EXPECT_EQ(pupil.Series(2).x.size(), 25u);
    EXPECT_TRUE(pupil.Series(3).visible);

    // Rows 18 to 22: 17 red and the 3 black of records 23 to 25 stay, the path keeps 20.
    w.Table()->SetSelectedRange({18, 0, 22, 1});
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(pupil.Series(1).x.size(), 17u);
    EXPECT_EQ(Mm(pupil.Series(3).x), std::vector<long>({220, 230, 240}));
    EXPECT_EQ(pupil.Series(2).x.size(), 20u);
    EXPECT_EQ(w.NextTableRow(), 21u);
    EXPECT_EQ(w.Table()->GetItemText(20, 0), QStringLiteral("0.240"));

    // Still recording: the red points fill up to 20 again after the black ones; a deletion across them
    // takes each point from the series it is drawn in.
    pupil.Feed(Line(4, {0.3, 0.0}));
    EXPECT_EQ(pupil.Series(1).x.size(), 20u);
    EXPECT_EQ(pupil.Series(3).x.size(), 4u);
    w.Table()->SetSelectedRange({19, 0, 22, 1});  // black 0.23, 0.24 and red 0.3, 0.31
    w.Table()->commandIssued(widgets::kDeleteSelectedCommand);
    EXPECT_EQ(Mm(pupil.Series(3).x), std::vector<long>({220, 330}));
    ASSERT_EQ(pupil.Series(1).x.size(), 18u);
    EXPECT_DOUBLE_EQ(pupil.Series(1).x.back(), 0.32);
    EXPECT_EQ(pupil.Series(1).numberDrawn, 18);
    EXPECT_EQ(pupil.Series(2).x.size(), 20u);

    // "清屏" during acquisition, then "记录数据": red again, and no marker until the next start.
    pupil.Click(kIdTrackClear);  // not enabled while acquiring: nothing happens
    EXPECT_EQ(pupil.Series(2).x.size(), 20u);
    pupil.Click(kStop);
    pupil.Start();
    pupil.Click(kStop);
    pupil.Click(kIdTrackClear);
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(pupil.Series(i).visible) << i;
    pupil.Start();
    EXPECT_TRUE(pupil.Series(0).visible);
    pupil.Click(kIdTrackRecord);
    pupil.Feed(Line(2));
    EXPECT_EQ(pupil.Series(1).x.size(), 2u);
    EXPECT_FALSE(pupil.Series(0).visible);
}

// --- robot trace --------------------------------------------------------------------------------------

TEST(RobotTrace, ClearEndsARecordingAndTheMarkerComesBack)
{
    TrackPupil<CDlgTdRobotTrace> pupil;
    CDlgTdRobotTrace& w = pupil.W();
    EXPECT_EQ(w.Chart()->view.xMin, -0.5);
    EXPECT_EQ(w.Chart()->view.ySpan, 1.5);
    EXPECT_TRUE(w.Chart()->view.yUp);
    pupil.Start();
    pupil.Click(kRecordComposition);
    pupil.Feed(Line(3));
    pupil.Click(kRecordComposition);  // pressed again: the same track goes on
    pupil.Feed(Line(2, {0.5, 0.5}));
    EXPECT_EQ(pupil.Series(1).x.size(), 5u);
    EXPECT_EQ(pupil.Series(2).y, pupil.Series(1).y);
    EXPECT_EQ(pupil.Series(2).lineColour, QColor(0, 0, 255));
    pupil.Click(kStop);
    EXPECT_TRUE(w.Recording()) << "stopping leaves the flag";
    pupil.Start();
    EXPECT_TRUE(pupil.Series(1).x.empty()) << "a new start begins an empty track";
    ASSERT_TRUE(pupil.Enabled(kIdTrackClear)) << "a start leaves 清屏 as the stop left it";
    pupil.Click(kRecordComposition);
    pupil.Feed(Line(2));
    pupil.Click(kIdTrackClear);
    EXPECT_FALSE(w.Recording());
    EXPECT_TRUE(pupil.Series(1).x.empty());
    pupil.Feed(Pos{0.4, 0.3});
    EXPECT_TRUE(pupil.Series(0).visible);
    EXPECT_EQ(Mm(pupil.Series(0).x), std::vector<long>({400}));
    EXPECT_TRUE(pupil.Enabled(kRecordComposition)) << "a new recording can start at once";
}

// A lesson's track takes its memory at "记录数据": no later point of it waits for a larger block or the
// first write to a page (the series' lists and the chart's copies all grow in 4 KiB pages together).
TEST(RobotTrace, ARecordingTakesTheMemoryOfALessonAtTheClick)
{
    TrackPupil<CDlgTdRobotTrace> pupil;
    CDlgTdRobotTrace& w = pupil.W();
    pupil.Start();
    pupil.Click(kRecordComposition);
    constexpr std::size_t kHour = 60 * 60 * 50;
    const std::vector<const double*> blocks = {pupil.Series(1).x.data(), pupil.Series(1).y.data(),
                                               pupil.Series(2).x.data(), pupil.Series(2).y.data()};
    for (int tick = 0; tick < 3; ++tick) {
        std::vector<Pos> lap;
        for (int i = 0; i < 600; ++i)
            lap.push_back({0.2 + 0.1 * tick + 0.0005 * i, 0.1 + 0.0002 * i});
        pupil.Feed(lap);
        QApplication::processEvents();  // the first shows the track: a repaint of the chart
    }
    ASSERT_EQ(pupil.Series(1).x.size(), 1800u);
    EXPECT_EQ(blocks, (std::vector<const double*>{pupil.Series(1).x.data(), pupil.Series(1).y.data(),
                                                  pupil.Series(2).x.data(), pupil.Series(2).y.data()}));
    for (int i : {1, 2}) {
        EXPECT_GE(pupil.Series(i).x.capacity(), kHour) << i;
        EXPECT_GE(w.Chart()->PreparedPoints(pupil.Series(i)), kHour) << i;
    }
}

}  // namespace
