// The Galileo incline window driven as a pupil drives it, on a scripted sensor: the frequency slider,
// the distance limit, calibration without checks, the 500-row table and the two-column files.
#include "experiments/galileo.h"
#include "tests/support/pupil.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QTest>

#include <cmath>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::FileDesk;
using zelkor::testing::MessageLog;
using zelkor::testing::Pos;

namespace {

constexpr int kStop = 233;

// The pupil zeroes where the ball is held at the top of the incline.
struct Pupil : zelkor::testing::Pupil<CDlgTdGalileo> {
    Pupil() : zelkor::testing::Pupil<CDlgTdGalileo>(Pos{0.10, 0.10}) { ZeroAtOrigin(); }
    widgets::CReleaseSlider* Slider() const { return Control<widgets::CReleaseSlider>(kIdFrequencySlider); }
    // Both boxes carry 5006: the caption first, then the value.
    widgets::CZelFormattedTextBox* RateValue() const
    {
        QList<widgets::CZelFormattedTextBox*> boxes;
        for (auto* box : window->findChildren<widgets::CZelFormattedTextBox*>())
            if (widgets::ControlId(box) == kIdRateCaption)
                boxes.push_back(box);
        EXPECT_EQ(boxes.size(), 2);
        return boxes.back();
    }
    MessageLog messages;
};

}  // namespace

TEST(GalileoWindow, OpensWithTheSliderTheLongTableAndTheFixedView)
{
    Pupil pupil;
    CDlgTdGalileo& w = *pupil.window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("伽利略斜面实验(2D)"));
    EXPECT_EQ(w.m_transformIndex.load(), 1);
    EXPECT_EQ(pupil.Control<QAbstractButton>(245)->text(), QStringLiteral("水平校准"));
    EXPECT_EQ(pupil.Control<QAbstractButton>(243)->font().family(), QFont(QStringLiteral("宋体")).family());
    EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdRadio25Hz), nullptr);
    EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdHeightEdit), nullptr);
    EXPECT_EQ(widgets::FindControl<QWidget>(&w, kIdFrequencyBox), nullptr);
    for (int id : {233, 246, 247, 242, 251})
        EXPECT_FALSE(pupil.Enabled(id)) << id;
    widgets::CReleaseSlider* slider = pupil.Slider();
    EXPECT_EQ(slider->minimum(), 5);
    EXPECT_EQ(slider->maximum(), 50);
    EXPECT_EQ(slider->value(), 50);
    EXPECT_EQ(slider->tickInterval(), 5);
    EXPECT_EQ(slider->pageStep(), 5);
    EXPECT_EQ(slider->size(), QSize(200, 40));
    EXPECT_EQ(pupil.Table()->GetRowCount(), 501);
    EXPECT_EQ(pupil.Table()->GetColumnWidth(0), 76);
    EXPECT_EQ(pupil.Table()->GetHeaderCell(0)->format, widgets::CGridCell().format);
    const widgets::CChartView& view = w.Chart()->view;
    EXPECT_DOUBLE_EQ(view.xMin, -0.06);
    EXPECT_DOUBLE_EQ(view.yMax, 0.8);
    EXPECT_FALSE(view.plotBorder);
    EXPECT_FALSE(w.Chart()->reverseDecreasing);
    EXPECT_EQ(w.findChildren<widgets::CGroupFrame*>().size(), 3);

    w.setWindowState(Qt::WindowNoState);
    w.resize(1024, 600);
    EXPECT_EQ(pupil.Control(242)->y(), 50 + 4 * 37 + 56);
    EXPECT_GT(slider->x(), pupil.RateValue()->x());
    EXPECT_LE(slider->geometry().bottom(), 600);
}

// Released at 35 the base samples at 35 Hz (every report delivered); a repaint keeps showing 35 Hz.
// At 5 Hz one report in ten is delivered. Keys move the thumb but change nothing.
TEST(GalileoFrequency, TheSliderTakesEffectWhenReleased)
{
    Pupil pupil;
    CDlgTdGalileo& w = *pupil.window;
    zelkor::testing::ReleaseSliderAt(pupil.Slider(), 35);
    EXPECT_DOUBLE_EQ(w.m_samplingFrequency.load(), 35.0);
    EXPECT_EQ(pupil.RateValue()->text, QStringLiteral(" 35(Hz)"));
    w.repaint();
    EXPECT_EQ(pupil.RateValue()->text, QStringLiteral("\\font{Times New Roman,26}\\text{ 35(Hz)}"));

    pupil.Slider()->setFocus();
    QTest::keyClick(pupil.Slider(), Qt::Key_Left);
    EXPECT_EQ(pupil.Slider()->value(), 30);
    EXPECT_DOUBLE_EQ(w.m_samplingFrequency.load(), 35.0);

    zelkor::testing::ReleaseSliderAt(pupil.Slider(), 5);
    pupil.Click(kIdStartRecording);
    std::vector<Pos> reports;
    for (int k = 0; k < 50; ++k)
        reports.push_back({0.01 * k, 0.0});
    pupil.Feed(reports);
    EXPECT_EQ(w.Records().size(), 5u);
}

// The recording ends from the second record on when the ball passes 1 m or lies more than 0.75 m
// from the zero point; 500 records fill the table.
TEST(GalileoRecording, TheDistanceLimitAndTheLongTable)
{
    const zelkor::testing::RecordingCase cases[] = {
        {"0.76 m away ends it while X < 1", {{0.2, 0.1}, {0.6, 0.46}}, 1, false},
        {"0.74 m away is recorded", {{0.2, 0.1}, {0.6, 0.43}}, 2, true},
        {"the first sample is never an end", {{0.7, 0.4}, {0.3, 0.1}}, 2, true},
        {"behind the zero point is left out", {{-0.01, 0.1}, {0.0, 0.0}}, 1, true},
        {"above it only until the first record", {{0.1, -0.006}, {0.2, 0.001}, {0.3, -0.006}}, 2, true},
    };
    for (const auto& c : cases)
        Pupil().ExpectRecording(c);
    Pupil full;
    full.Click(kIdStartRecording);
    full.Feed(std::vector<Pos>(501, Pos{0.3, 0.1}));
    EXPECT_FALSE(full.window->Recording());
    EXPECT_EQ(full.window->Records().size(), 500u);
    EXPECT_EQ(full.Cell(500, 1), QStringLiteral("0.100"));
    for (int id : {246, 247, 251, 242, 244, 245, 243, 252})
        EXPECT_TRUE(full.Enabled(id)) << id;
}

// A ball rolling back up runs series 1 from right to left; it stays in record order when drawn, so
// deleting rows removes exactly their points.
TEST(GalileoRows, ABallRollingBackKeepsItsPointsInRecordOrder)
{
    Pupil pupil;
    CDlgTdGalileo& w = *pupil.window;
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0.4, 0.08}, {0.3, 0.06}, {0.2, 0.04}, {0.1, 0.02}});
    pupil.Click(kStop);
    w.Chart()->RenderNow();
    pupil.Select(2, 3);
    pupil.Click(kIdDeleteRows);
    ASSERT_EQ(w.Series(1).x.size(), 2u);
    EXPECT_NEAR(w.Series(1).x[0], 0.4, 1e-5);
    EXPECT_NEAR(w.Series(1).x[1], 0.1, 1e-5);
    EXPECT_EQ(pupil.Cell(2, 0), QStringLiteral("0.100"));
}

// No checks: any point turns the frame, a point along the incline as well; the zero point itself
// gives no angle and is ignored, so the window keeps showing positions.
TEST(GalileoCalibration, AnyPointButTheZeroPoint)
{
    Pupil pupil;
    CDlgTdGalileo& w = *pupil.window;
    pupil.Push(0.0, 0.0);
    pupil.Click(kIdCalibrate);
    EXPECT_FALSE(w.Frame().rotationOn);
    pupil.Push(0.4, 0.4 * std::tan(0.2));
    pupil.Click(kIdCalibrate);
    EXPECT_TRUE(pupil.messages.Take().isEmpty());
    EXPECT_NEAR(w.Frame().theta, 0.2, 1e-12);
    pupil.Push(0.2, 0.2 * std::tan(0.2));
    EXPECT_NEAR(w.ShownY(), 0.0, 1e-12);
    EXPECT_NEAR(w.ShownX(), 0.2 / std::cos(0.2), 1e-12);
    pupil.Push(0.0, 0.0);
    pupil.Click(kIdCalibrate);
    EXPECT_NEAR(w.Frame().theta, 0.2, 1e-12);
    pupil.Push(0.1, 0.0);
    EXPECT_TRUE(std::isfinite(w.ShownX()) && std::isfinite(w.ShownY()));
}

TEST(GalileoFiles, TwoColumnsOutAndInWithinTheDistanceLimit)
{
    FileDesk desk;
    Pupil pupil;
    CDlgTdGalileo& w = *pupil.window;
    pupil.Click(kIdStartRecording);
    pupil.Feed({{0.1, 0.02}, {0.2, 0.04}});
    pupil.Click(kStop);
    pupil.Click(kIdExport);
    EXPECT_EQ(QFileInfo(desk.opened).dir().dirName(), QStringLiteral("galileo"));
    output::Workbook book;
    ASSERT_TRUE(book.Load(desk.opened.toStdString()));
    output::Worksheet* sheet = book.FirstWorksheet();
    EXPECT_EQ(sheet->RowCount(), 3u);
    EXPECT_EQ(sheet->ColumnCount(), 2u);
    EXPECT_EQ(sheet->GetCell(0, 1)->WideText(), u"Y");

    // A free-fall sheet: only X and Y are read, rows 0.75 m or more away are skipped, at most 500.
    desk.choose = desk.Write(QStringLiteral("fall.xls"), [](output::Worksheet& s) {
        s.SetWideText(0, 0, u"X");
        s.SetNumber(1, 0, 0.0);
        s.SetNumber(1, 1, 0.74);
        s.SetNumber(1, 2, 9.0);
        s.SetNumber(2, 1, 0.75);
        s.SetNumber(3, 0, std::nan(""));
        s.SetNumber(3, 1, 0.3);
        for (uint32_t row = 4; row < 600; ++row)
            s.SetNumber(row, 1, 0.001 * row);
    });
    pupil.Click(kIdImport);
    ASSERT_EQ(w.Records().size(), 500u);
    EXPECT_EQ(w.Records()[0].t, 0.0);
    EXPECT_DOUBLE_EQ(w.Records()[1].y, 0.3);
    EXPECT_EQ(w.Records()[1].x, 0.0);
    EXPECT_EQ(pupil.messages.Take(), QStringList{QStringLiteral("表格最多容纳500行数据，其余98行未导入！")});
    for (int id : {246, 247, 251, 242})
        EXPECT_TRUE(pupil.Enabled(id)) << id;
}
