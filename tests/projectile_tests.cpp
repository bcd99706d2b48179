// The projectile window driven as a pupil drives it, on a scripted sensor: the recording rule, the time
// rebuild, the parabola and the velocity view with their failures, calibration, files and clear.
#include "experiments/projectile.h"
#include "tests/support/pupil.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileInfo>
#include <QRadioButton>
#include <QStyle>

#include <algorithm>
#include <cmath>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::FileDesk;
using zelkor::testing::LabelValue;
using zelkor::testing::MessageLog;
using zelkor::testing::Pos;

namespace {

constexpr double kG = 9.8;
constexpr double kSpeed = 1.2;
constexpr int kStop = 233;
const QString kFitFailedText = QStringLiteral("曲线拟合失败！");

// The pupil zeroes at the table edge, 0.15 m out on both axes of the window's frame.
struct Pupil : zelkor::testing::Pupil<CDlgTdAcoustics> {
    explicit Pupil(const QString& height = QStringLiteral("0.80"), bool zero = true)
        : zelkor::testing::Pupil<CDlgTdAcoustics>(Pos{0.15, 0.15}, height)
    {
        if (zero)
            ZeroAtOrigin();
    }
    // A ball pushed along the table and launched from the edge at 1.2 m/s: two run-up samples
    // (not recorded), then `flying` samples 0.02 s apart from 0.01 s after the launch, then one beyond
    // `end` (X = 1.5 or the drop height) that ends the recording. At 25 Hz every other report is
    // delivered, so twice as many reports make the same number of records.
    void Throw(int flying, bool slow = false, double yShift = 0.0)
    {
        if (slow)
            Click(kIdRadio25Hz);
        Click(kIdStartRecording);
        std::vector<Pos> reports = {{-0.05, 0.0}, {-0.03, 0.0}};
        for (int k = 0; k < flying * (slow ? 2 : 1); ++k) {
            const double t = 0.01 + 0.02 * k;
            reports.push_back({kSpeed * t, 0.5 * kG * t * t + yShift});
        }
        reports.push_back({1.5, 0.3});
        reports.push_back({1.5, 0.3});
        Feed(reports);
    }
    std::vector<double> Times() const
    {
        std::vector<double> t;
        for (const auto& r : window->Records())
            t.push_back(r.t);
        return t;
    }
    MessageLog messages;
};

}  // namespace

TEST(ProjectileWindow, OpensWithItsControlsViewsAndLayout)
{
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("平抛运动(2D)"));
    EXPECT_EQ(w.m_transformIndex.load(), 1);
    EXPECT_EQ(pupil.Control<QAbstractButton>(245)->text(), QStringLiteral("水平校准"));
    EXPECT_EQ(pupil.Control<QAbstractButton>(248)->text(), QStringLiteral("二次拟合"));
    for (int id : {233, 246, 247, 248, 249, 242, 251})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    EXPECT_EQ(pupil.Table()->GetColumnWidth(1), 76);
    const widgets::CChartView& view = w.Chart()->view;
    EXPECT_TRUE(view.equalScale && view.adaptX);
    EXPECT_EQ(view.axisLineWidth, 2);
    EXPECT_DOUBLE_EQ(view.yMax, 0.8);
    EXPECT_FALSE(w.Chart()->reverseDecreasing);

    for (const QSize size : {QSize(1366, 768), QSize(1024, 600)}) {
        w.setWindowState(Qt::WindowNoState);
        w.resize(size);
        const int top = size.height() <= 600 ? 50 : 100;
        const int x = size.width() - 132;
        EXPECT_EQ(pupil.Control(243)->geometry(), QRect(x, top, 91, 36));
        EXPECT_EQ(pupil.Control(248)->y(), top + 5 * 37);
        EXPECT_EQ(pupil.Control(242)->y(), top + 6 * 37 + 56);
        EXPECT_EQ(pupil.Control(251)->y(), top + 7 * 37 + 2 * 56);
        QList<widgets::CGroupFrame*> frames = w.findChildren<widgets::CGroupFrame*>();
        ASSERT_EQ(frames.size(), 3);
        std::sort(frames.begin(), frames.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        EXPECT_EQ(frames[0]->geometry(), QRect(x - 10, top - 10, size.width() - 31 - (x - 10), 6 * 37 + 36 + 20));
        EXPECT_EQ(frames[1]->y(), frames[0]->geometry().bottom() + 1 - 6);
        const int scrollBar = w.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, pupil.Table());
        EXPECT_EQ(pupil.Table()->geometry(), QRect(20, 50, 160 + scrollBar, size.height() - 56));
        const QRect chart = w.Chart()->geometry();
        EXPECT_EQ(chart.left(), 195 + scrollBar);
        EXPECT_EQ(chart.right() + 1, x - 10);
        EXPECT_EQ(pupil.Control(kIdXCaption)->x(), 190 + scrollBar);
        EXPECT_EQ(chart.bottom() + 1, pupil.Control(kIdXCaption)->y() - 10);
    }
}

// The recording rule, sample by sample (the edge is the zero point; h = 0.8).
TEST(ProjectileRecording, TakesZeroToOneMetreAndEndsBeyondItOrTheDropHeight)
{
    const zelkor::testing::RecordingCase cases[] = {
        {"X = 1.0 is neither recorded nor an end", {{0.5, 0.1}, {1.0, 0.2}}, 1, true},
        {"X = 1.001 ends it", {{0.5, 0.1}, {1.001, 0.2}}, 1, false},
        {"the first sample is never an end", {{1.001, 0.1}, {0.2, 0.1}}, 1, true},
        {"below the drop height ends it", {{0.5, 0.1}, {0.6, 0.81}}, 1, false},
        {"behind the edge and above it are left out", {{-0.01, 0.1}, {0.0, -0.004}, {0.1, -0.006}}, 1, true},
    };
    for (const auto& c : cases)
        Pupil(QStringLiteral("0.80"), false).ExpectRecording(c);
    Pupil full;
    full.Click(kIdStartRecording);
    std::vector<Pos> slow(101, Pos{0.3, 0.1});
    full.Feed(slow);
    EXPECT_FALSE(full.window->Recording());
    EXPECT_EQ(full.window->Records().size(), 100u);
    EXPECT_EQ(full.Cell(100, 0), QStringLiteral("0.300"));
}

// First seen at x = 0.05 m, 0.02 m per sample at d = 0.02 s: after an automatic end t[0] = 0.05 s, then
// steps of d. Stopped by hand the times are the running times; deleting rows 1-3 rebuilds them, rows
// 4-6 not.
TEST(ProjectileTimes, RebuiltFromTheHorizontalMotion)
{
    std::vector<Pos> ball;
    for (int k = 0; k < 10; ++k)
        ball.push_back({0.05 + 0.02 * k, 0.01});
    const double d = double(0.02f);
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    pupil.Click(kIdStartRecording);
    pupil.Feed(ball);
    pupil.Feed({{1.001, 0.1}});
    ASSERT_FALSE(w.Recording());
    std::vector<double> t = pupil.Times();
    ASSERT_EQ(t.size(), 10u);
    for (size_t i = 0; i < t.size(); ++i)
        EXPECT_NEAR(t[i], 0.05 + d * double(i), 1e-6) << i;
    EXPECT_FLOAT_EQ(w.TimeStep(), 0.02f);
    EXPECT_NEAR(w.RunningTime(), 10 * d, 1e-9) << "the running time is not rebuilt";

    pupil.Click(kIdStartRecording);
    pupil.Feed(ball);
    pupil.Click(kStop);
    EXPECT_NEAR(pupil.Times()[0], 10 * d, 1e-9);
    pupil.Select(4, 6);
    pupil.Click(kIdDeleteRows);
    EXPECT_NEAR(pupil.Times()[3], 16 * d, 1e-9);
    pupil.Select(1, 3);
    pupil.Click(kIdDeleteRows);
    t = pupil.Times();
    ASSERT_EQ(t.size(), 4u);  // x = 0.17 ... 0.23 m
    for (size_t i = 0; i < t.size(); ++i)
        EXPECT_NEAR(t[i], 0.17 + d * double(i), 1e-6) << i;

    // A ball moving back leaves the times as they are.
    Pupil still;
    still.Click(kIdStartRecording);
    still.Feed({{0.1, 0.01}, {0.09, 0.02}, {0.08, 0.03}, {0.07, 0.9}});
    ASSERT_FALSE(still.window->Recording());
    EXPECT_DOUBLE_EQ(still.window->Records()[1].t, d);
}

// The parabola through a throw: a2 = g / (2 vx^2); one point per pixel from x = 0 to the view's end.
TEST(ProjectileParabola, FitsTheThrowAndFailsWithoutThreeDistinctX)
{
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    w.setWindowState(Qt::WindowNoState);
    w.resize(1366, 768);
    pupil.Throw(20);
    ASSERT_EQ(w.Records().size(), 20u);
    w.Chart()->RenderNow();
    pupil.Click(kIdParabola);
    const widgets::CChartSeries& curve = w.Series(4);
    ASSERT_TRUE(curve.visible);
    const widgets::CChartView& view = w.Chart()->view;
    const double step = view.xSpan / w.Chart()->PlotArea().Width();
    EXPECT_EQ(curve.x.front(), 0.0);
    EXPECT_NEAR(curve.x[1], step, 1e-12);
    EXPECT_LT(curve.x.back(), view.xMin + view.xSpan);
    EXPECT_GE(curve.x.back() + step, view.xMin + view.xSpan);
    EXPECT_EQ(curve.numberDrawn, static_cast<int>(curve.x.size()));
    const double a2 = (curve.y[200] - 2 * curve.y[100] + curve.y[0]) / (2 * std::pow(100 * step, 2));
    EXPECT_NEAR(a2, kG / (2 * kSpeed * kSpeed), 1e-3);
    EXPECT_NEAR(curve.y[0], 0.0, 1e-4);
    pupil.Click(kIdParabola);
    EXPECT_FALSE(w.Series(4).visible);

    // Two records, or three on two x values: a zero pivot is a failed fit, and nothing is drawn.
    for (const std::vector<Pos>& few : {std::vector<Pos>{{0.1, 0.1}, {0.2, 0.2}},
                                        std::vector<Pos>{{0.1, 0.1}, {0.2, 0.2}, {0.1, 0.3}}}) {
        pupil.Click(kIdStartRecording);
        pupil.PushAll(few);
        pupil.Click(kStop);
        ASSERT_EQ(w.Records().size(), few.size());
        pupil.Click(kIdParabola);
        EXPECT_EQ(pupil.messages.Take(), QStringList{kFitFailedText});
        EXPECT_TRUE(w.Series(4).x.empty());
        pupil.Click(kIdParabola);
    }
}

// Velocities of n records: series 5 and 7 hold n - 1 - 2d points (never fewer than none); the vy line
// leaves out the first two and the last; what cannot be fitted says so.
TEST(ProjectileVelocity, TheEdgeCasesOfShortRecordings)
{
    struct Case {
        int records;
        bool slow;
        size_t points;
        bool fitFails;
    };
    for (const Case& c : {Case{9, false, 4, true}, Case{7, false, 2, true}, Case{5, true, 2, true},
                          Case{4, false, 0, false}, Case{12, false, 7, false}}) {
        Pupil pupil;
        pupil.Throw(c.records, c.slow);
        ASSERT_EQ(pupil.window->Records().size(), size_t(c.records)) << c.records;
        pupil.Click(kIdAcceleration);
        EXPECT_EQ(pupil.Series(5).x.size(), c.points) << c.records;
        EXPECT_EQ(pupil.Series(5).numberDrawn, int(c.points)) << c.records;
        EXPECT_EQ(pupil.Series(7).x.size(), c.points) << c.records;
        EXPECT_EQ(pupil.messages.Take(), c.fitFails ? QStringList{kFitFailedText} : QStringList{}) << c.records;
        const QString label = pupil.Series(8).labelText;
        EXPECT_TRUE(label.isEmpty() || std::isfinite(LabelValue(label))) << label.toStdString();
    }
}

TEST(ProjectileVelocity, ShowsTheComponentsTheirLinesAndTheAcceleration)
{
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    pupil.Throw(20);
    pupil.Click(kIdAcceleration);
    ASSERT_TRUE(w.VelocityView());
    EXPECT_EQ(w.Chart()->view.yTitleImage, 146);
    for (int id : {246, 247, 248})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(w.Series(i).visible, i >= 5) << i;
    for (double vx : w.Series(5).y)
        EXPECT_NEAR(vx, kSpeed, 1e-3);
    const auto slope = [&](int s) {
        const widgets::CChartSeries& line = w.Series(s);
        return (line.y[1] - line.y[0]) / (line.x[1] - line.x[0]);
    };
    EXPECT_NEAR(slope(6), 0.0, 1e-2);
    EXPECT_NEAR(slope(8), kG, 1e-2);
    EXPECT_DOUBLE_EQ(w.Series(8).x[0], 0.0);
    EXPECT_DOUBLE_EQ(w.Series(8).x[1], 0.6);
    EXPECT_NEAR(LabelValue(w.Series(8).labelText), kG, 0.01);
    EXPECT_DOUBLE_EQ(w.Series(8).labelX, 0.3);
    EXPECT_DOUBLE_EQ(w.Series(8).labelY, 4.0);

    pupil.Click(kIdAcceleration);
    EXPECT_FALSE(w.VelocityView());
    for (int id : {246, 247, 248})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    EXPECT_TRUE(w.Series(1).visible && !w.Series(5).visible);
    EXPECT_EQ(w.Chart()->view.xName, QStringLiteral("X"));
    // A selection two rows past the last record (row n + 2) reads no record beyond it: limited to the
    // last record, centres 4 ... 16.
    pupil.Select(3, 22);
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(w.Series(5).x.size(), 13u);
    EXPECT_TRUE(pupil.messages.Take().isEmpty());
}

// A first used record just above the zero point (-0.005 < y < 0) makes tc the root of a negative
// number: no label then, never "a = nan".
TEST(ProjectileVelocity, AFirstHeightAboveTheZeroPointGivesNoLabel)
{
    Pupil pupil;
    pupil.Click(kIdStartRecording);
    std::vector<Pos> ball;
    for (int k = 0; k < 12; ++k)
        ball.push_back({0.02 + 0.024 * k, k < 6 ? -0.003 : 0.01 * (k - 5) * (k - 5)});
    ball.push_back({1.2, 0.5});
    pupil.Feed(ball);
    ASSERT_LT(pupil.window->Records()[4].y, 0.0);
    pupil.Click(kIdAcceleration);
    EXPECT_EQ(pupil.Series(8).labelText, QString());
    EXPECT_TRUE(pupil.Series(8).visible);
}

TEST(ProjectileCalibration, TurnsThePointBehindTheEdgeOntoTheXAxis)
{
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    for (const Pos p : {Pos{0.05, 0.02}, Pos{0.0, -0.05}, Pos{0.0, 0.0}}) {
        pupil.Push(p.x, p.y);
        pupil.Click(kIdCalibrate);
        EXPECT_EQ(pupil.messages.Take(), QStringList{QStringLiteral("校准距离不足！")}) << p.x;
        EXPECT_FALSE(w.Frame().rotationOn);
    }
    pupil.Push(-0.2, -0.02);
    pupil.Click(kIdCalibrate);
    EXPECT_NEAR(w.Frame().theta, std::atan(0.1), 1e-12);
    pupil.Push(0.3, 0.03);  // along the same line, on the throw's side
    EXPECT_NEAR(w.ShownY(), 0.0, 1e-12);
    EXPECT_NEAR(w.ShownX(), std::hypot(0.3, 0.03), 1e-12);
}

TEST(ProjectileFiles, ExportsTheRebuiltTimesAndImportGoesBackToPositions)
{
    FileDesk desk;
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    pupil.Throw(10);
    pupil.Click(kIdExport);
    ASSERT_FALSE(desk.opened.isEmpty());
    EXPECT_EQ(QFileInfo(desk.opened).dir().dirName(), QStringLiteral("acous"));
    output::Workbook book;
    ASSERT_TRUE(book.Load(desk.opened.toStdString()));
    EXPECT_EQ(book.FirstWorksheet()->RowCount(), 11u);
    EXPECT_NEAR(output::NumberOfCell(book.FirstWorksheet()->GetCell(1, 2)), 0.01, 1e-6);

    pupil.Click(kIdAcceleration);
    pupil.Click(kIdParabola);  // disabled in the velocity view: nothing
    EXPECT_FALSE(w.Series(4).visible);
    desk.choose = desk.opened;
    pupil.Click(kIdImport);
    EXPECT_FALSE(w.VelocityView());
    EXPECT_EQ(w.Chart()->view.xName, QStringLiteral("X"));
    for (int i = 2; i < 9; ++i)
        EXPECT_FALSE(w.Series(i).visible) << i;
    for (int id : {246, 247, 248, 249, 251, 242})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
    ASSERT_EQ(w.Records().size(), 10u);
    EXPECT_NEAR(w.Records()[0].t, 0.01, 1e-6);
}

TEST(ProjectileClear, EmptiesAllNineSeriesAndLeavesTheVelocityView)
{
    Pupil pupil;
    CDlgTdAcoustics& w = *pupil.window;
    pupil.Throw(12);
    pupil.Click(kIdAcceleration);
    pupil.Click(kIdClear);
    EXPECT_FALSE(w.VelocityView());
    EXPECT_EQ(w.Chart()->view.xName, QStringLiteral("X"));
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(w.Series(i).x.empty() && w.Series(i).labelText.isEmpty()) << i;
    for (int id : {246, 247, 248, 249, 251, 242})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    pupil.Click(kIdAcceleration);  // no records: nothing
    EXPECT_FALSE(w.VelocityView());
}
