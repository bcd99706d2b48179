// The data chart panel, checked on rendered pixels: grid lines, axes, ticks, labels and series where the
// mapping puts them; incremental append with its scroll modes; scroll handlers and wheel; range picks.
#include "widgets/data_chart_panel.h"
#include "widgets/font_cells.h"
#include "widgets/large_image.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSemaphore>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThreadPool>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <thread>
#include <vector>

using zelkor::widgets::CChartSeries;
using zelkor::widgets::CDataChartPanel;
using zelkor::widgets::chart::ScrollRequest;

namespace {

const QRgb kPlotBg = qRgb(255, 255, 239);
const QRgb kMajor = qRgb(198, 195, 198);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kBlue = qRgb(0, 0, 255);

bool Dark(QRgb c) { return qRed(c) + qGreen(c) + qBlue(c) < 3 * 128; }

int DarkPixels(const QImage& img, int x0, int y0, int x1, int y1)  // [x0, x1) x [y0, y1)
{
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(img.height(), y1); ++y)
        for (int x = std::max(0, x0); x < std::min(img.width(), x1); ++x)
            n += Dark(img.pixel(x, y)) ? 1 : 0;
    return n;
}

int TextWidth(const QString& s, int height = 16)
{
    return QFontMetrics(zelkor::widgets::FontForCellHeight("Times New Roman", height, false, false)).horizontalAdvance(s);
}

// 800 x 600 without scroll bars: plot (50, 40) to (740, 550), 690 x 510 pixels.
// x and y from -0.2 to 0.2, steps 0.1: sx = 1725, sy = 1275, origin at column 395, row 295.
void SymmetricView(CDataChartPanel& p)
{
    p.resize(800, 600);
    auto& v = p.view;
    v.xMin = -0.2, v.xSpan = 0.4, v.xMax = 0.2;
    v.yMin = -0.2, v.ySpan = 0.4, v.yMax = 0.2;
    v.autoXStep = v.autoYStep = false;
    v.xMajorStep = v.yMajorStep = 0.1;
    v.xMinorGrid = v.yMinorGrid = false;
}

void SendMouse(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button)
{
    QMouseEvent ev(type, QPointF(pos), QPointF(w.mapToGlobal(pos)), button,
                   type == QEvent::MouseMove ? Qt::NoButton : button, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &ev);
}

void Click(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    SendMouse(w, QEvent::MouseMove, pos, Qt::NoButton);
    SendMouse(w, QEvent::MouseButtonPress, pos, button);
    SendMouse(w, QEvent::MouseButtonRelease, pos, button);
}

int DifferingPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return -1;
    int diff = 0;
    for (int r = 0; r < a.height(); ++r)
        for (int c = 0; c < a.width(); ++c)
            diff += a.pixel(c, r) != b.pixel(c, r) ? 1 : 0;
    return diff;
}

QRgb Xor(QRgb below) { return (below ^ qRgb(255, 255, 0)) | 0xff000000u; }

// A panel on the (offscreen) screen, with the paint events it receives, for what Redraw() repaints.
struct ShownPanel {
    struct Paints : QObject {
        std::vector<QRegion> regions;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                regions.push_back(static_cast<QPaintEvent*>(e)->region());
            return false;
        }
        QRect Bounds() const
        {
            QRect r;
            for (const QRegion& g : regions)
                r |= g.boundingRect();
            return r;
        }
    };
    CDataChartPanel p;
    Paints paints;

    explicit ShownPanel(bool hAuto = false, bool vAuto = false) : p(nullptr, hAuto, vAuto) {}
    void Show()
    {
        p.show();
        for (int i = 0; i < 100 && !(p.windowHandle() && p.windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_TRUE(p.windowHandle() && p.windowHandle()->isExposed());
        Settle();
        p.installEventFilter(&paints);
    }
    // Lets the queued redraw and the paint it asks for happen.
    void Settle()
    {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }
    // Lets a rolling trace's picture catch up too (without samples it follows within 65 ms).
    void SettleRoll()
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 90)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        Settle();
    }
    // Redraw(), then what it painted.
    QRect RedrawAndPaint()
    {
        paints.regions.clear();
        p.Redraw();
        Settle();
        return paints.Bounds();
    }
};

TEST(ChartPaint, GridAxesAndTicksLandOnMappedPixels)
{
    CDataChartPanel p;
    SymmetricView(p);
    const QImage img = p.RenderNow();
    ASSERT_EQ(img.size(), QSize(800, 600));
    EXPECT_EQ(p.PlotArea(), (zelkor::widgets::chart::PlotRect{50, 40, 740, 550}));

    // Major grid at x = 0.1 -> 395 + trunc(172.5) = 567 and x = -0.1 -> 223, from 1 px inside the edges.
    EXPECT_EQ(img.pixel(567, 100), kMajor);
    EXPECT_EQ(img.pixel(223, 100), kMajor);
    EXPECT_EQ(img.pixel(566, 100), kPlotBg);
    EXPECT_EQ(img.pixel(568, 100), kPlotBg);
    EXPECT_EQ(img.pixel(567, 41), kMajor);
    EXPECT_EQ(img.pixel(567, 40), kPlotBg);
    EXPECT_EQ(img.pixel(567, 548), kMajor);
    EXPECT_EQ(img.pixel(567, 549), kPlotBg);
    // y = 0.1 -> 295 - trunc(127.5) = 168, y = -0.1 -> 422.
    EXPECT_EQ(img.pixel(100, 168), kMajor);
    EXPECT_EQ(img.pixel(100, 422), kMajor);
    EXPECT_EQ(img.pixel(100, 167), kPlotBg);
    // No grid on the plot edges (x = +-0.2 lie on them).
    EXPECT_EQ(img.pixel(50, 100), kPlotBg);
    EXPECT_EQ(img.pixel(100, 40), kPlotBg);

    // Axes through the origin, with arrow heads in the margins.
    EXPECT_EQ(img.pixel(100, 295), kBlack);
    EXPECT_EQ(img.pixel(700, 295), kBlack);
    EXPECT_EQ(img.pixel(395, 100), kBlack);
    EXPECT_EQ(img.pixel(395, 549), kBlack);
    EXPECT_EQ(img.pixel(798, 295), kBlack);  // tip: right margin 60 - 2 beyond the edge
    EXPECT_EQ(img.pixel(799, 295), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(785, 292), kBlack);  // head: 13 px back, 3 px aside
    EXPECT_EQ(img.pixel(785, 298), kBlack);
    EXPECT_EQ(img.pixel(785, 291), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(395, 2), kBlack);  // y tip: top margin 40 - 2 above the edge
    EXPECT_EQ(img.pixel(395, 1), qRgb(255, 255, 255));
    EXPECT_EQ(img.pixel(392, 15), kBlack);

    // Major tick at 567: 5 px towards positive y (up); minor tick at x = 0.02 (column 429): 2 px.
    for (int r = 290; r <= 294; ++r)
        EXPECT_EQ(img.pixel(567, r), kBlack) << r;
    EXPECT_EQ(img.pixel(567, 289), kMajor);
    EXPECT_EQ(img.pixel(567, 296), kMajor);
    EXPECT_EQ(img.pixel(429, 294), kBlack);
    EXPECT_EQ(img.pixel(429, 293), kBlack);
    EXPECT_EQ(img.pixel(429, 292), kPlotBg);
    // Y ticks point right.
    EXPECT_EQ(img.pixel(400, 168), kBlack);
    EXPECT_EQ(img.pixel(401, 168), kMajor);
}

TEST(ChartPaint, TickLabelsTitlesAndSkipping)
{
    CDataChartPanel p;
    SymmetricView(p);
    p.view.xName = "X";
    p.view.xUnit = "m";
    p.view.yName = "Y";
    const QImage img = p.RenderNow();
    const int h = QFontMetrics(zelkor::widgets::FontForCellHeight("Times New Roman", 16, false, false)).height();
    ASSERT_EQ(h, 16);
    // "0.1" right-aligned at column 567, its top 5 px below the axis row.
    const int w = TextWidth("0.1");
    EXPECT_GT(DarkPixels(img, 567 - w, 300, 567, 300 + h), 5);
    EXPECT_EQ(DarkPixels(img, 568, 297, 600, 300 + h), 0);
    EXPECT_GT(DarkPixels(img, 223 - TextWidth("-0.1"), 300, 223, 300 + h), 5);
    // -0.2 at the left edge would cross it: left out.
    EXPECT_EQ(DarkPixels(img, 0, 300, 50, 300 + h), 0);
    // y: "0" at the origin, 5 px left of the axis column; -0.2 below the plot (y labels are not clipped).
    EXPECT_GT(DarkPixels(img, 390 - TextWidth("0"), 300, 390, 300 + h), 3);
    EXPECT_GT(DarkPixels(img, 390 - TextWidth("-0.2"), 555, 390, 555 + h), 5);
    EXPECT_GT(DarkPixels(img, 390 - TextWidth("0.1"), 173, 390, 173 + h), 5);
    // Titles: "X / m" from 5 px right of the plot, "Y" above the plot right of the axis.
    EXPECT_GT(DarkPixels(img, 745, 300, 800, 300 + h), 10);
    EXPECT_GT(DarkPixels(img, 400, 35 - h, 430, 35), 3);
    // Without labels the boxes stay empty.
    p.view.xLabels = p.view.yLabels = false;
    const QImage none = p.RenderNow();
    EXPECT_EQ(DarkPixels(none, 567 - w, 300, 567, 300 + h), 0);
    EXPECT_EQ(DarkPixels(none, 390 - TextWidth("-0.2"), 555, 390, 555 + h), 0);
}

TEST(ChartPaint, WithoutZeroInTheYRangeLabelsFollowTheYMinEdge)
{
    CDataChartPanel p;
    SymmetricView(p);
    p.view.yMin = 0.1;
    p.view.yMax = 0.5;
    p.view.xName = "X";
    p.view.yLabels = false;
    const QImage img = p.RenderNow();
    // No x axis line anywhere in the plot rows; the y axis is still there.
    for (int r = 40; r < 550; ++r)
        ASSERT_NE(img.pixel(300, r), kBlack) << r;
    EXPECT_EQ(img.pixel(395, 300), kBlack);
    EXPECT_EQ(img.pixel(798, 550), qRgb(255, 255, 255));  // no arrow
    // Labels and title along the y-min edge (row 550), 5 px below it.
    const int w = TextWidth("0.1");
    EXPECT_GT(DarkPixels(img, 567 - w, 555, 567, 571), 5);
    EXPECT_GT(DarkPixels(img, 745, 555, 800, 571), 3);
}

TEST(ChartPaint, SeriesStylesDrawAtMappedPixels)
{
    CDataChartPanel p;
    SymmetricView(p);
    CChartSeries markers, line, both;
    markers.style = 0;
    markers.Append(0.1, 0.1);  // (567, 168)
    markers.Append(-0.2, 0.0);  // on the left edge: clipped half
    line.style = 1;
    line.lineColour = kBlue;
    line.Append(-0.1, -0.1);  // (223, 422)
    line.Append(0.1, -0.1);   // (567, 422)
    both.style = 2;
    both.lineColour = QColor(0, 128, 0);
    both.markerColour = kBlue;
    both.markerRadius = 3;
    both.Append(-0.15, 0.15);  // (395 - 258, 295 - 191) = (137, 104)
    both.Append(0.15, 0.15);   // (653, 104)
    both.labelText = "a = 9.800";
    both.labelX = -0.05;  // (309, 232)
    both.labelY = 0.05;
    p.SetSeriesList({&markers, &line, &both});
    const QImage img = p.RenderNow();

    EXPECT_EQ(img.pixel(567, 168), kRed);
    EXPECT_EQ(img.pixel(571, 168), kRed);
    EXPECT_EQ(img.pixel(572, 168), kMajor);
    EXPECT_EQ(img.pixel(567, 164), kRed);
    EXPECT_EQ(img.pixel(567, 163), kMajor);  // the grid line through it
    EXPECT_EQ(img.pixel(566, 163), kPlotBg);
    EXPECT_EQ(img.pixel(50, 295), kRed);       // inside half of the edge marker
    EXPECT_EQ(img.pixel(49, 295), qRgb(255, 255, 255));  // clipped to the plot
    // Polyline of width 2: rows 422 and 423.
    EXPECT_EQ(img.pixel(300, 422), kBlue);
    EXPECT_EQ(img.pixel(300, 423), kBlue);
    EXPECT_EQ(img.pixel(300, 421), kPlotBg);
    EXPECT_EQ(img.pixel(222, 422), kMajor);  // the grid line it lies on
    EXPECT_EQ(img.pixel(222, 424), kPlotBg);
    EXPECT_EQ(img.pixel(568, 422), kBlue);  // the end pixel's disc
    EXPECT_EQ(img.pixel(569, 422), kMajor);
    // Style 2: line, markers at both points.
    EXPECT_EQ(img.pixel(400, 104), qRgb(0, 128, 0));
    EXPECT_EQ(img.pixel(137, 104), qRgb(0, 128, 0));  // the segment leaving a point covers its marker
    EXPECT_EQ(img.pixel(137, 102), kBlue);
    EXPECT_EQ(img.pixel(653, 101), kBlue);
    // Label with its top-left at the mapped position.
    EXPECT_GT(DarkPixels(img, 309, 232, 390, 262), 10);
    EXPECT_EQ(DarkPixels(img, 250, 232, 305, 262), 0);

    // A hidden series, or one whose first drawn index is past its points, draws nothing (not even its label).
    both.firstDrawn = 5;
    markers.visible = false;
    const QImage gone = p.RenderNow();
    EXPECT_EQ(gone.pixel(567, 168), kMajor);
    EXPECT_EQ(DarkPixels(gone, 309, 232, 390, 262), 0);
}

TEST(ChartPaint, DecreasingSeriesAreReversedUnlessSwitchedOff)
{
    CDataChartPanel p;
    SymmetricView(p);
    CChartSeries s;
    s.x = {0.1, 0.0, -0.1};
    s.y = {1, 2, 3};
    s.numberDrawn = 3;
    p.SetSeriesList({&s});
    p.RenderNow();
    EXPECT_EQ(s.x, (std::vector<double>{-0.1, 0.0, 0.1}));
    EXPECT_EQ(s.y, (std::vector<double>{3, 2, 1}));
    p.RenderNow();  // stays reversed
    EXPECT_EQ(s.x.front(), -0.1);
    CChartSeries t;
    t.x = {0.1, -0.1};
    t.y = {1, 2};
    p.reverseDecreasing = false;
    p.SetSeriesList({&t});
    p.RenderNow();
    EXPECT_EQ(t.x.front(), 0.1);
}

TEST(ChartPaint, NiceStepAndEqualScaleAreAppliedAtPaint)
{
    CDataChartPanel p;
    p.resize(800, 600);  // plot 690 x 510
    p.view.xMin = -0.2, p.view.xSpan = 0.4, p.view.xMax = 0.2;
    p.view.yMin = -0.06, p.view.ySpan = 1, p.view.yMax = 0.94;
    p.view.equalScale = true;
    p.view.adaptX = false;
    p.RenderNow();
    EXPECT_DOUBLE_EQ(p.view.ySpan, 510.0 / 690.0 * 0.4);
    EXPECT_DOUBLE_EQ(p.view.yMax, -0.06 + p.view.ySpan);
    EXPECT_DOUBLE_EQ(p.view.xMajorStep, 0.05);  // 8 divisions of 86 px
    const auto m = p.CurrentMapping();
    EXPECT_NEAR(m.x.scale, m.y.scale, 1e-9);
}

// A chart with everything that has a cache: many-point series of every style, dashes, NaN gaps, labels
// and pick marks. The cached paint must give the same pixels as the plain one.
void BusyChart(CDataChartPanel& p, std::vector<CChartSeries>& s)
{
    p.resize(640, 480);
    p.view.xMin = -1, p.view.xSpan = 2, p.view.xMax = 1;
    p.view.yMin = -1, p.view.ySpan = 2, p.view.yMax = 1;
    s.resize(4);
    for (int k = 0; k < 4; ++k) {
        s[k].style = k % 3;
        s[k].lineWidth = 1 + k % 3;
        s[k].markerRadius = 2 + k;
        s[k].lineColour = QColor::fromHsv(k * 80, 255, 200);
        s[k].markerColour = QColor::fromHsv(k * 80 + 40, 255, 160);
        s[k].lineStyle = k == 1 ? Qt::DashDotLine : Qt::SolidLine;
        for (int i = 0; i < 400; ++i) {
            const double t = -1 + i * 0.005;
            s[k].Append(t, 0.8 * std::sin(6 * t + k));
        }
        s[k].y[100] = std::numeric_limits<double>::quiet_NaN();
        s[k].labelText = QString("s%1").arg(k);
        s[k].labelX = -0.9 + 0.4 * k;
        s[k].labelY = 0.9;
    }
    s[1].selectable = true;
    p.SetSeriesList({&s[0], &s[1], &s[2], &s[3]});
}

TEST(ChartPaint, CachedPaintEqualsPlainPaint)
{
    CDataChartPanel fast, plain;
    plain.SetCachingEnabled(false);
    std::vector<CChartSeries> a, b;
    BusyChart(fast, a);
    BusyChart(plain, b);
    auto same = [&](const char* what) {
        const QImage x = fast.RenderNow().copy();
        const QImage y = plain.RenderNow().copy();
        ASSERT_EQ(x.size(), y.size());
        int diff = 0;
        for (int r = 0; r < x.height(); ++r)
            for (int c = 0; c < x.width(); ++c)
                diff += x.pixel(c, r) != y.pixel(c, r) ? 1 : 0;
        EXPECT_EQ(diff, 0) << what;
    };
    same("first paint");
    same("unchanged repaint");
    for (int i = 0; i < 30; ++i) {
        const double t = a[0].x.back() + 0.001;
        fast.IncrementalAppend(a[0], t, 0.5);
        plain.IncrementalAppend(b[0], t, 0.5);
        a[2].Append(a[2].x.back() + 0.002, -0.5 + 0.01 * i);
        b[2].Append(b[2].x.back() + 0.002, -0.5 + 0.01 * i);
        a[3].Append(a[3].x.back() + 0.003, 0.3);
        b[3].Append(b[3].x.back() + 0.003, 0.3);
        if (i % 10 == 0)
            same("after appends");
    }
    same("after appends");
    // A point changed in place is noticed.
    a[1].y[10] = b[1].y[10] = 0.95;
    same("point changed");
    // Pick marks are drawn over the cached picture as over the plain one.
    for (CDataChartPanel* p : {&fast, &plain}) {
        p->pickKind = 1;
        p->ArmRangePick(true, nullptr, nullptr);
        Click(*p, QPoint(200, 200));
        SendMouse(*p, QEvent::MouseMove, QPoint(300, 220), Qt::NoButton);
    }
    same("pick in progress");
    // A view change redraws every layer.
    fast.view.xMin = plain.view.xMin = -0.5;
    same("view moved");
    fast.resize(500, 400);
    plain.resize(500, 400);
    same("resized");
}

TEST(ChartAppend, RefusedBeyondTheViewWithoutAutoScroll)
{
    CDataChartPanel p;
    SymmetricView(p);
    CChartSeries s;
    s.style = 0;
    p.SetSeriesList({&s});
    EXPECT_TRUE(p.IncrementalAppend(s, 0.1, 0.1));
    EXPECT_EQ(s.x.size(), 1u);
    EXPECT_EQ(s.numberDrawn, 1);
    EXPECT_FALSE(p.IncrementalAppend(s, 0.25, 0.0));  // beyond x max
    EXPECT_FALSE(p.IncrementalAppend(s, 0.0, 0.3));   // beyond y max
    EXPECT_FALSE(p.IncrementalAppend(s, std::vector<double>{}, std::vector<double>{}));
    EXPECT_EQ(s.x.size(), 1u);
    EXPECT_EQ(s.numberDrawn, 1);
    // Only the last point counts.
    EXPECT_TRUE(p.IncrementalAppend(s, std::vector<double>{0.0, 0.3}, std::vector<double>{0.3, 0.0}) == false);
    EXPECT_EQ(s.x.size(), 1u);
    EXPECT_TRUE(p.IncrementalAppend(s, std::vector<double>{0.3, -0.1}, std::vector<double>{0.0, -0.1}));
    EXPECT_EQ(s.x.size(), 3u);
    EXPECT_EQ(s.numberDrawn, 3);
    const QImage img = p.RenderNow();
    EXPECT_EQ(img.pixel(567, 168), kRed);
    EXPECT_EQ(img.pixel(223, 422), kRed);
}

// What incremental appends draw onto the picture equals a plain paint of the longer series: markers,
// lines and dash patterns that carry on across the appends, from an empty series, a short one and one
// long enough for a layer of its own.
TEST(ChartAppend, DrawnAtOnceAsARepaintWouldDrawThem)
{
    for (int style : {0, 1, 2})
        for (Qt::PenStyle pen : {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine})
            for (int width : {1, 3})
                for (int before : {0, 7, 300}) {
                    if (style == 0 && (pen != Qt::SolidLine || width != 1))
                        continue;  // markers have no pen
                    CDataChartPanel live, plain;
                    plain.SetCachingEnabled(false);
                    CChartSeries a, b;
                    for (CChartSeries* s : {&a, &b}) {
                        s->style = style;
                        s->lineStyle = pen;
                        s->lineWidth = width;
                        s->markerColour = kBlue;
                        s->markerRadius = 2;
                        for (int i = 0; i < before; ++i)
                            s->Append(-0.2 + i * 0.0005, 0.15 * std::sin(i * 0.05));
                    }
                    SymmetricView(live);
                    SymmetricView(plain);
                    live.SetSeriesList({&a});
                    plain.SetSeriesList({&b});
                    live.RenderNow();
                    for (int i = before; i < before + 40; ++i) {
                        const double x = -0.2 + before * 0.0005 + (i - before) * 0.006, y = 0.15 * std::sin(i * 0.3);
                        ASSERT_TRUE(live.IncrementalAppend(a, x, y));
                        b.Append(x, y);
                    }
                    EXPECT_EQ(a.numberDrawn, before + 40);
                    const QImage direct = live.BackBuffer().copy();
                    EXPECT_EQ(DifferingPixels(direct, plain.RenderNow()), 0)
                        << "style " << style << " pen " << pen << " width " << width << " before " << before;
                    EXPECT_EQ(DifferingPixels(live.RenderNow(), direct), 0) << style << " " << pen << " " << before;
                }
}

// Vertical auto-scroll in page mode, y span 2, scroll unit 0.5 (page 4), points every 0.5.
TEST(ChartAppend, VerticalPageModeAndTheScrolledBackView)
{
    CDataChartPanel p(nullptr, false, true);
    CChartSeries s;
    p.resize(800, 600);
    p.view.yMin = 0, p.view.ySpan = 2, p.view.yMax = 2;
    p.view.yScrollUnit = 0.5;
    p.scrollMode = CDataChartPanel::kPageMode;
    p.ResetVerticalScroll();
    s.style = 2;
    p.SetSeriesList({&s});
    for (int i = 0; i <= 4; ++i)
        ASSERT_TRUE(p.IncrementalAppend(s, 0.1, 0.5 * i));
    EXPECT_EQ(s.numberDrawn, 5);
    EXPECT_EQ(p.view.yMin, 0);
    ASSERT_TRUE(p.IncrementalAppend(s, 0.1, 2.5));  // beyond y max: the view jumps to it
    EXPECT_EQ(s.firstDrawn, 5);
    EXPECT_EQ(s.numberDrawn, 1);
    EXPECT_EQ(p.view.yMin, 2.5);
    EXPECT_EQ(p.view.yMax, 4.5);
    EXPECT_EQ(p.view.xMin, 0);
    EXPECT_EQ(p.VerticalBar().pos, 5);
    EXPECT_EQ(p.VerticalBar().page, 4);
    EXPECT_EQ(p.VerticalBar().max, 8);
    EXPECT_EQ(p.VerticalScrollBar()->value(), 5);

    // Scrolled back: later points are kept, the bar's range grows, the view and the picture stay.
    p.VerticalScroll(ScrollRequest::LineUp);
    p.VerticalScroll(ScrollRequest::LineUp);
    EXPECT_EQ(p.view.yMin, 1.5);
    EXPECT_EQ(s.firstDrawn, 3);
    EXPECT_EQ(s.numberDrawn, 3);  // 1.5, 2.0, 2.5
    const QImage shown = p.RenderNow().copy();
    ASSERT_TRUE(p.IncrementalAppend(s, 0.1, 5.0));
    EXPECT_EQ(s.y.size(), 7u);
    EXPECT_EQ(s.firstDrawn, 3);
    EXPECT_EQ(s.numberDrawn, 3);
    EXPECT_EQ(p.view.yMin, 1.5);
    EXPECT_EQ(p.VerticalBar().max, 10 + 4 - 1);  // q = 10
    EXPECT_EQ(p.VerticalBar().pos, 3);
    EXPECT_EQ(DifferingPixels(p.BackBuffer(), shown), 0);
    EXPECT_EQ(DifferingPixels(p.RenderNow(), shown), 0);
    // Scrolled forward again the new point is in the view (from the last point at or below 4.5).
    p.VerticalScroll(ScrollRequest::ThumbPosition, 9);  // 4.5 .. 6.5
    EXPECT_EQ(s.firstDrawn, 5);
    EXPECT_EQ(s.numberDrawn, 2);
}

// Horizontal auto-scroll, x span 4, scroll unit 0.5 (page 8); points every 0.5.
// A trace of eight points, with time along x or (the pendulum's) along y, running downwards.
void TraceChart(CDataChartPanel& p, CChartSeries& s, int mode, bool downward = false)
{
    p.resize(800, 600);
    p.scrollMode = mode;
    if (downward) {
        p.view.xMin = -1, p.view.xSpan = 2, p.view.xMax = 1;
        p.view.yMin = 0, p.view.ySpan = 4, p.view.yMax = 4;
        p.view.yUp = false;
        p.view.yScrollUnit = 0.5;
        p.ResetVerticalScroll();
    } else {
        p.view.xMin = 0, p.view.xSpan = 4, p.view.xMax = 4;
        p.view.xScrollUnit = 0.5;
        p.ResetHorizontalScroll();
    }
    s.style = 2;
    p.SetSeriesList({&s});
    for (int i = 1; i <= 8; ++i)
        p.IncrementalAppend(s, downward ? 0.0 : 0.5 * i, downward ? 0.5 * i : 0.0);
}

TEST(ChartAppend, PageModeJumpsToTheNewPoint)
{
    CDataChartPanel p(nullptr, true, false);
    CChartSeries s;
    TraceChart(p, s, CDataChartPanel::kPageMode);
    EXPECT_EQ(s.numberDrawn, 8);
    EXPECT_EQ(p.view.xMin, 0);
    p.IncrementalAppend(s, 4.5, 0.0);
    EXPECT_EQ(s.x.size(), 9u);
    EXPECT_EQ(s.firstDrawn, 8);
    EXPECT_EQ(s.numberDrawn, 1);
    EXPECT_EQ(p.view.xMin, 4.5);
    EXPECT_EQ(p.view.xMax, 8.5);
    EXPECT_EQ(p.HorizontalBar().pos, 9);
    EXPECT_EQ(p.HorizontalBar().page, 8);
    EXPECT_EQ(p.HorizontalBar().max, 16);
    EXPECT_EQ(p.HorizontalScrollBar()->value(), 9);
    // Inside the new view: drawn at once, no jump.
    p.IncrementalAppend(s, 5.0, 0.0);
    EXPECT_EQ(s.numberDrawn, 2);
    EXPECT_EQ(p.view.xMin, 4.5);
}

TEST(ChartAppend, RollingModeMovesOnePointAndHoldsWhenScrolledBack)
{
    CDataChartPanel p(nullptr, true, false);
    CChartSeries s;
    TraceChart(p, s, CDataChartPanel::kRollingMode);
    p.IncrementalAppend(s, 4.5, 0.0);
    EXPECT_EQ(s.firstDrawn, 1);
    EXPECT_EQ(s.numberDrawn, 8);
    EXPECT_EQ(p.view.xMin, 1.0);
    EXPECT_EQ(p.view.xMax, 5.0);
    p.IncrementalAppend(s, 5.5, 0.0);
    EXPECT_EQ(s.firstDrawn, 2);
    EXPECT_EQ(p.view.xMin, 1.5);
    // The bar stands where the view starts, so a scroll back moves the view by what it asks.
    EXPECT_EQ(p.HorizontalBar().pos, 3);
    EXPECT_EQ(p.HorizontalBar().max, 10);
    // The user scrolls back two steps: later points are kept but the view stays where the user put it.
    p.HorizontalScroll(ScrollRequest::LineUp);
    p.HorizontalScroll(ScrollRequest::LineUp);
    EXPECT_EQ(p.view.xMin, 0.5);
    const int first = s.firstDrawn;
    p.IncrementalAppend(s, 12.0, 0.0);
    EXPECT_EQ(s.x.size(), 11u);
    EXPECT_EQ(s.firstDrawn, first);
    EXPECT_EQ(p.view.xMin, 0.5);
    EXPECT_EQ(p.HorizontalBar().max, 24 - 1);  // the live view would start a page (8) before q = 24
    EXPECT_EQ(p.HorizontalBar().pos, 1);
    // Scrolled to the end, the view shows the newest page, not beyond it.
    p.HorizontalScroll(ScrollRequest::ThumbPosition, 16);
    EXPECT_EQ(p.view.xMin, 8.0);
    EXPECT_EQ(p.view.xMax, 12.0);
}

// On the screen a rolling trace's bar follows the view about every 200 ms, but never stays behind.
TEST(ChartAppend, RollingBarCatchesUpWithTheView)
{
    CDataChartPanel p(nullptr, true, false);
    CChartSeries s;
    TraceChart(p, s, CDataChartPanel::kRollingMode);
    p.show();
    QScrollBar* bar = p.HorizontalScrollBar();
    ASSERT_NE(bar, nullptr);
    auto caughtUp = [&] { return bar->value() == p.HorizontalBar().pos && bar->maximum() == p.HorizontalBar().MaxPos(); };
    for (int i = 9; i <= 60; ++i)
        p.IncrementalAppend(s, 0.5 * i, 0.0);
    QElapsedTimer waited;
    waited.start();
    while (!caughtUp() && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(caughtUp()) << bar->value() << " / " << bar->maximum() << " against " << p.HorizontalBar().pos << " / " << p.HorizontalBar().MaxPos();
}

// Samples come faster than a rolling trace is drawn: a burst is drawn a few times, not once per
// sample, and the screen catches up without waiting for another sample.
TEST(ChartAppend, RollingTraceFollowsABurstAndCatchesUp)
{
    for (const bool downward : {false, true}) {
        SCOPED_TRACE(downward ? "time along y, downwards" : "time along x");
        ShownPanel live(!downward, downward);
        CDataChartPanel plain(nullptr, !downward, downward);
        CChartSeries a, b;
        for (CDataChartPanel* p : {&live.p, &plain})
            TraceChart(*p, p == &plain ? b : a, CDataChartPanel::kRollingMode, downward);
        plain.SetCachingEnabled(false);
        live.Show();
        auto append = [&](int i) {
            const double t = 0.5 * i, v = std::sin(t);
            live.p.IncrementalAppend(a, downward ? v : t, downward ? t : v);
            plain.IncrementalAppend(b, downward ? v : t, downward ? t : v);
        };
        for (int i = 9; i <= 20; ++i)
            append(i);
        live.SettleRoll();
        live.paints.regions.clear();
        QElapsedTimer burst;
        burst.start();
        constexpr int kBurst = 40;
        for (int i = 21; i < 21 + kBurst; ++i) {
            append(i);
            live.Settle();
        }
        const qint64 took = burst.elapsed();
        ASSERT_GT(a.firstDrawn, 20);
        EXPECT_LE(static_cast<qint64>(live.paints.regions.size()), 2 + took / 30) << took << " ms";
        live.SettleRoll();
        EXPECT_EQ(DifferingPixels(live.p.BackBuffer(), plain.RenderNow()), 0);
        const QImage screen = live.p.screen()->grabWindow(live.p.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(DifferingPixels(screen.copy(QRect(QPoint(0, 0), live.p.ClientSize())), live.p.BackBuffer()), 0);
    }
}

// Samples a little faster than 50 Hz: the picture follows every second one, drawn as it comes
// rather than by a timer waking the process a few ms later, between samples.
TEST(ChartAppend, RollingTraceIsDrawnInTheWakeupsOfItsSamples)
{
    ShownPanel live(true, false);
    CChartSeries a;
    TraceChart(live.p, a, CDataChartPanel::kRollingMode);
    live.p.resize(800, 600);
    live.Show();
    auto append = [&](int i) { live.p.IncrementalAppend(a, 0.5 * i, std::sin(0.5 * i)); };
    for (int i = 9; i <= 30; ++i)
        append(i);
    live.SettleRoll();
    constexpr int kSamples = 40, kPeriodMs = 18;
    std::size_t atSamples = 0, between = 0;
    QElapsedTimer clock;
    clock.start();
    for (int k = 1; k <= kSamples; ++k) {
        live.paints.regions.clear();
        append(30 + k);
        live.Settle();
        atSamples += live.paints.regions.size();
        live.paints.regions.clear();
        QEventLoop wait;
        QTimer::singleShot(std::max<qint64>(0, kPeriodMs * k - clock.elapsed()), &wait, &QEventLoop::quit);
        wait.exec();
        between += live.paints.regions.size();
    }
    EXPECT_GE(atSamples, static_cast<std::size_t>(kSamples / 2 - 2));
    EXPECT_LE(between, 3u) << "of " << kSamples << " samples, over " << clock.elapsed() << " ms";
}

TEST(ChartScroll, HandlersFindTheWindowByBisection)
{
    CDataChartPanel p(nullptr, true, false);
    CChartSeries s, empty;
    p.resize(800, 600);
    p.view.xMin = 0, p.view.xSpan = 4, p.view.xMax = 4;
    p.view.xScrollUnit = 0.5;
    p.ResetHorizontalScroll();
    p.SetSeriesList({&s, &empty});
    for (int i = 0; i < 100; ++i)
        p.IncrementalAppend(s, 0.5 * i, 0.0);
    EXPECT_EQ(p.HorizontalBar().pos, 99);
    p.HorizontalScroll(ScrollRequest::ThumbPosition, 20);  // a = 10, b = 14
    EXPECT_EQ(s.firstDrawn, 20);
    EXPECT_EQ(s.numberDrawn, 8);
    EXPECT_EQ(p.view.xMin, 10);
    EXPECT_EQ(p.view.xMax, 14);
    EXPECT_EQ(empty.numberDrawn, 0);
    p.HorizontalScroll(ScrollRequest::PageUp);
    EXPECT_EQ(s.firstDrawn, 12);
    p.HorizontalScroll(ScrollRequest::Bottom);  // ignored
    EXPECT_EQ(s.firstDrawn, 12);
    p.HorizontalScroll(ScrollRequest::Top);
    EXPECT_EQ(s.firstDrawn, 0);
    EXPECT_EQ(s.numberDrawn, 8);
    // The Qt scroll bar drives the same handler; "to maximum" is ignored.
    QScrollBar* bar = p.HorizontalScrollBar();
    ASSERT_NE(bar, nullptr);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(p.HorizontalBar().pos, 1);
    EXPECT_EQ(p.view.xMin, 0.5);
    EXPECT_EQ(bar->value(), 1);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(p.HorizontalBar().pos, 1);
    EXPECT_EQ(bar->value(), 1);
    // After a reset the bar has no range: nothing moves.
    p.ResetHorizontalScroll();
    p.HorizontalScroll(ScrollRequest::LineDown);
    EXPECT_EQ(p.HorizontalBar().pos, 0);
}

TEST(ChartScroll, WheelScrollsTheVerticalBarOnly)
{
    CDataChartPanel p(nullptr, false, true);
    CChartSeries s;
    p.resize(800, 600);
    p.view.yMin = 0, p.view.ySpan = 2, p.view.yMax = 2;
    p.view.yScrollUnit = 0.5;  // page 4
    p.view.yUp = false;
    p.scrollMode = CDataChartPanel::kRollingMode;
    p.ResetVerticalScroll();
    p.SetSeriesList({&s});
    QApplication::setWheelScrollLines(3);
    p.WheelScroll(-120);  // no range yet
    EXPECT_EQ(p.VerticalBar().pos, 0);
    for (int i = 0; i < 40; ++i)
        p.IncrementalAppend(s, 0.0, 0.5 * i);
    EXPECT_EQ(p.VerticalBar().pos, 35);  // the view's start, 17.5 (the newest point is at 19.5)
    p.WheelScroll(120);  // one line up: back by one step, not a page past the newest point
    EXPECT_EQ(p.VerticalBar().pos, 34);
    EXPECT_EQ(p.view.yMin, 17);
    QWheelEvent ev(QPointF(100, 100), QPointF(100, 100), QPoint(), QPoint(0, 360), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&p, &ev);
    EXPECT_EQ(p.VerticalBar().pos, 31);
    // (Qt has no "page per notch" setting; that rule is checked in the math tests.)
    QApplication::setWheelScrollLines(6);
    p.WheelScroll(120);  // 6 * 1 / 3
    EXPECT_EQ(p.VerticalBar().pos, 29);
    QApplication::setWheelScrollLines(3);
    p.WheelScroll(-120 * 100);  // clamped at the end
    EXPECT_EQ(p.VerticalBar().pos, 35);
}

// A chart draws its bars itself, in pieces: they must look as Qt draws a bar in the same state
// (but for rounding where two edges meet), and must not wait for Qt's thread pool, which the style's
// own paint of a long bar does (here the pool is kept busy for 3 s).
TEST(ChartScroll, BarsLookAsQtDrawsThemWithoutWaitingForThePool)
{
    ShownPanel shown(true, true);
    shown.p.resize(900, 700);
    CChartSeries s;
    shown.p.SetSeriesList({&s});
    shown.Show();
    constexpr int kMax = 5000, kPage = 800;
    struct Case {
        QScrollBar* bar;
        int value;
        bool enabled;
        QImage drawn;
        qint64 tookMs = 0;
    };
    std::vector<Case> cases;
    for (QScrollBar* bar : {shown.p.HorizontalScrollBar(), shown.p.VerticalScrollBar()}) {
        ASSERT_NE(bar, nullptr);
        ASSERT_GT(std::max(bar->width(), bar->height()), 600);
        for (int value : {0, 2300, kMax})
            cases.push_back({bar, value, true, {}});
        cases.push_back({bar, 1200, false, {}});
    }
    QThreadPool& pool = *QThreadPool::globalInstance();
    QSemaphore release, done;
    const int busy = pool.maxThreadCount();
    for (int i = 0; i < busy; ++i)
        pool.start([&] {
            release.acquire();
            done.release();
        });
    std::thread watchdog([&] {
        if (!done.tryAcquire(1, 3000))
            release.release(busy);
    });
    for (Case& c : cases) {
        c.bar->setRange(0, kMax);
        c.bar->setPageStep(kPage);
        c.bar->setValue(c.value);
        c.bar->setEnabled(c.enabled);
        QElapsedTimer took;
        took.start();
        c.drawn = c.bar->grab().toImage();
        c.tookMs = took.elapsed();
    }
    release.release(busy);
    watchdog.join();
    pool.waitForDone();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.bar->orientation() == Qt::Horizontal ? "horizontal" : "vertical")
                                        << " at " << c.value << (c.enabled ? "" : ", disabled"));
        EXPECT_LT(c.tookMs, 1500);
        QScrollBar plain(c.bar->orientation(), &shown.p);
        plain.hide();
        plain.resize(c.bar->size());
        plain.setRange(0, kMax);
        plain.setPageStep(kPage);
        plain.setValue(c.value);
        plain.setEnabled(c.enabled);
        const QImage want = plain.grab().toImage();
        ASSERT_EQ(want.size(), c.drawn.size());
        // Where two edges of the thumb or the groove meet, the pieces may blend a corner pixel twice.
        QStyleOptionSlider opt;
        opt.initFrom(&plain);
        opt.orientation = plain.orientation();
        opt.minimum = 0;
        opt.maximum = kMax;
        opt.pageStep = kPage;
        opt.sliderPosition = opt.sliderValue = c.value;
        std::vector<QPoint> corners;
        for (QStyle::SubControl part : {QStyle::SC_ScrollBarSlider, QStyle::SC_ScrollBarGroove}) {
            const QRect r = plain.style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, &plain);
            corners.insert(corners.end(), {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()});
        }
        auto atACorner = [&](int x, int y) {
            return std::any_of(corners.begin(), corners.end(), [&](QPoint k) {
                return std::abs(k.x() - x) <= 1 && std::abs(k.y() - y) <= 1;
            });
        };
        int differing = 0;
        for (int y = 0; y < want.height(); ++y)
            for (int x = 0; x < want.width(); ++x) {
                const QRgb a = want.pixel(x, y), b = c.drawn.pixel(x, y);
                if (a == b)
                    continue;
                ++differing;
                const int most = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                           std::abs(qBlue(a) - qBlue(b))});
                EXPECT_TRUE(atACorner(x, y) && most <= 32) << "at " << x << ", " << y << ": " << std::hex << a << " against " << b;
            }
        EXPECT_LE(differing, 6);
    }
}

// x from 0 to 4 over 690 px (sx = 172.5), y from 0 to 1; points every 0.25.
struct PickFixture {
    CDataChartPanel p;
    CChartSeries s;
    int calls = 0;
    QObject owner;
    QObject* seenOwner = nullptr;
    PickFixture()
    {
        p.resize(800, 600);
        p.view.xMin = 0, p.view.xSpan = 4, p.view.xMax = 4;
        p.view.yMin = 0, p.view.ySpan = 1, p.view.yMax = 1;
        p.view.xMinorGrid = p.view.yMinorGrid = false;
        for (int i = 0; i <= 16; ++i)
            s.Append(0.25 * i, 0.5);
        s.selectable = true;
        p.SetSeriesList({&s});
        p.pickKind = 1;
    }
    void Arm()
    {
        p.ArmRangePick(true, &owner, [this](CDataChartPanel&, QObject* o) {
            ++calls;
            seenOwner = o;
        });
    }
};

TEST(ChartPick, TwoClicksGiveTheRangeOnTheSelectableSeries)
{
    PickFixture f;
    const QImage before = f.p.RenderNow().copy();
    f.Arm();
    SendMouse(f.p, QEvent::MouseMove, QPoint(239, 300), Qt::NoButton);
    QImage img = f.p.RenderNow();
    // XOR mark, 2 px wide, across the plot; label box beside the pointer.
    EXPECT_EQ(img.pixel(239, 450), ((kPlotBg ^ qRgb(255, 255, 0)) | 0xff000000u));
    EXPECT_EQ(img.pixel(240, 450), img.pixel(239, 450));
    EXPECT_EQ(img.pixel(241, 450), before.pixel(241, 450));
    EXPECT_EQ(img.pixel(239 + 5 + 44, 300 - 20 + 18), qRgb(192, 255, 192));
    EXPECT_GT(DarkPixels(img, 244, 280, 289, 299), 10);  // "起始点"

    Click(f.p, QPoint(239, 300));  // start: x = 189 / 172.5 = 1.0957
    EXPECT_TRUE(f.p.PickStartFixed());
    // The click takes the label box away; the start line stays and no end mark shows before the
    // pointer moves.
    img = f.p.RenderNow().copy();
    EXPECT_EQ(img.pixel(239, 450), Xor(kPlotBg));
    for (int y = 280; y < 300; ++y)
        for (int x = 244; x < 290; ++x)
            ASSERT_EQ(img.pixel(x, y), before.pixel(x, y)) << x << " " << y;
    int marked = 0;
    for (int x = 50; x < 740; ++x)
        marked += img.pixel(x, 450) != before.pixel(x, 450) ? 1 : 0;
    EXPECT_EQ(marked, 2);
    SendMouse(f.p, QEvent::MouseMove, QPoint(498, 200), Qt::NoButton);
    img = f.p.RenderNow();
    EXPECT_EQ(img.pixel(239, 450), ((kPlotBg ^ qRgb(255, 255, 0)) | 0xff000000u));
    EXPECT_EQ(img.pixel(498, 450), ((kPlotBg ^ qRgb(255, 255, 0)) | 0xff000000u));
    EXPECT_EQ(img.pixel(239 + 5 + 44, 300 - 20 + 18), before.pixel(288, 298));  // old box gone
    EXPECT_EQ(img.pixel(498 + 5 + 44, 200 - 20 + 18), qRgb(192, 255, 192));
    EXPECT_EQ(f.calls, 0);

    Click(f.p, QPoint(498, 200));  // end: x = 448 / 172.5 = 2.597
    EXPECT_EQ(f.calls, 1);
    EXPECT_EQ(f.seenOwner, &f.owner);
    EXPECT_EQ(f.p.pickResult.first, 5);   // 1.25 is the first x at or above 1.0957
    EXPECT_EQ(f.p.pickResult.last, 11);   // 2.75
    EXPECT_NEAR(f.p.pickResult.startX, 189 / 172.5, 1e-12);
    EXPECT_NEAR(f.p.pickResult.endX, 448 / 172.5, 1e-12);
    // Both fixed: no label box, further clicks and moves change nothing.
    img = f.p.RenderNow();
    EXPECT_NE(img.pixel(498 + 5 + 44, 200 - 20 + 18), qRgb(192, 255, 192));
    Click(f.p, QPoint(600, 200));
    EXPECT_EQ(f.calls, 1);

    // Right click disarms: the marks are gone.
    Click(f.p, QPoint(600, 200), Qt::RightButton);
    EXPECT_FALSE(f.p.PickArmed());
    const QImage after = f.p.RenderNow();
    EXPECT_EQ(after.pixel(239, 450), before.pixel(239, 450));
    EXPECT_EQ(after.pixel(498, 450), before.pixel(498, 450));
}

TEST(ChartPick, StoppingTheTrackingTakesBothMarksAwayAndKeepsTheStart)
{
    PickFixture f;
    const QImage before = f.p.RenderNow().copy();
    f.Arm();
    Click(f.p, QPoint(239, 300));
    SendMouse(f.p, QEvent::MouseMove, QPoint(498, 200), Qt::NoButton);
    ASSERT_NE(DifferingPixels(f.p.RenderNow(), before), 0);
    f.p.StopPickTracking();
    EXPECT_FALSE(f.p.PickArmed());
    EXPECT_EQ(DifferingPixels(f.p.RenderNow(), before), 0);
    // The pointer no longer moves a mark and clicks finish nothing.
    SendMouse(f.p, QEvent::MouseMove, QPoint(300, 200), Qt::NoButton);
    Click(f.p, QPoint(300, 200));
    EXPECT_EQ(DifferingPixels(f.p.RenderNow(), before), 0);
    EXPECT_EQ(f.calls, 0);
    // Arming again starts from nothing.
    f.Arm();
    Click(f.p, QPoint(400, 300));
    Click(f.p, QPoint(500, 300));
    EXPECT_EQ(f.calls, 1);
    EXPECT_NEAR(f.p.pickResult.startX, 350 / 172.5, 1e-12);
}

// A trace in rolling mode with a pick under way: the fixed start follows its time as the view rolls
// on, the end follows the pointer, and the result refers to the window drawn at the second click.
TEST(ChartPick, ArmedWhileTheTraceRolls)
{
    QObject owner;
    CDataChartPanel p(nullptr, true, false);
    CChartSeries s;
    TraceChart(p, s, CDataChartPanel::kRollingMode);  // x 0.5 .. 4 in a view of 0 .. 4
    s.selectable = true;
    p.pickKind = 1;
    p.view.xMinorGrid = p.view.yMinorGrid = false;
    int calls = 0;
    p.ArmRangePick(true, &owner, [&](CDataChartPanel&, QObject*) { ++calls; });
    Click(p, QPoint(395, 300));  // x = 345 / 172.5 = 2.0
    ASSERT_TRUE(p.PickStartFixed());
    EXPECT_TRUE(p.IncrementalAppend(s, 4.5, 0.0));  // rolls: the view starts at 1.0
    EXPECT_EQ(p.view.xMin, 1.0);
    const int row = 150;  // above the trace at y = 0
    QImage img = p.RenderNow().copy();
    // 2.0 is now 172.5 px from the left edge: the mark on columns 222 and 223, over the grid line
    // of 2.0 at 223 (step 0.5; the grid truncates the origin and the offset separately).
    EXPECT_EQ(img.pixel(222, row), Xor(kPlotBg));
    EXPECT_EQ(img.pixel(223, row), Xor(kMajor));
    EXPECT_EQ(img.pixel(395, row), kMajor);  // where it was: now the line of 3.0, unmarked
    SendMouse(p, QEvent::MouseMove, QPoint(470, 300), Qt::NoButton);
    img = p.RenderNow().copy();
    EXPECT_EQ(img.pixel(470, row), Xor(kPlotBg));
    EXPECT_EQ(img.pixel(222, row), Xor(kPlotBg));
    EXPECT_EQ(img.pixel(470 + 5 + 44, 300 - 20 + 18), qRgb(192, 255, 192));
    Click(p, QPoint(470, 300));  // x = 1.0 + 420 / 172.5 = 3.435
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(s.firstDrawn, 1);
    EXPECT_EQ(p.pickResult.first, 3);  // x = 2.0 (points 0.5 .. 4.5, window from index 1)
    EXPECT_EQ(p.pickResult.last, 6);   // x = 3.5
    EXPECT_NEAR(p.pickResult.endX, 1.0 + 420 / 172.5, 1e-12);
}

TEST(ChartPick, EndBeforeStartAndWindowLimits)
{
    PickFixture f;
    f.s.firstDrawn = 2;
    f.s.numberDrawn = 6;  // indices 2..7 (x 0.5 .. 1.75)
    f.Arm();
    Click(f.p, QPoint(498, 300));  // 2.597: none in the window -> its last index
    Click(f.p, QPoint(60, 300));   // 0.058: the window's first index
    EXPECT_EQ(f.calls, 1);
    EXPECT_EQ(f.p.pickResult.first, 7);
    EXPECT_EQ(f.p.pickResult.last, 2);
}

TEST(ChartPick, NoSelectableSeriesNoHandler)
{
    PickFixture f;
    f.s.selectable = false;
    f.Arm();
    Click(f.p, QPoint(239, 300));
    Click(f.p, QPoint(498, 300));
    EXPECT_EQ(f.calls, 0);
    EXPECT_EQ(f.p.pickResult.first, -1);
    EXPECT_EQ(f.p.pickResult.last, -1);
    // Not armed: clicks do nothing.
    PickFixture g;
    Click(g.p, QPoint(239, 300));
    Click(g.p, QPoint(498, 300));
    EXPECT_EQ(g.calls, 0);
    EXPECT_FALSE(g.p.PickStartFixed());
}

TEST(ChartPick, HorizontalMarksPickTimesOnADownwardAxis)
{
    PickFixture f;
    f.p.pickOrientation = CDataChartPanel::kPickHorizontal;
    f.p.view.yUp = false;
    f.p.view.yMin = 0, f.p.view.ySpan = 10, f.p.view.yMax = 10;  // sy = 51, time runs down
    f.s.Clear();
    for (int i = 0; i <= 40; ++i)
        f.s.Append(0.1, 0.25 * i);
    f.Arm();
    Click(f.p, QPoint(300, 40 + 102));  // t = 2.0
    Click(f.p, QPoint(300, 40 + 250));  // t = 4.90
    EXPECT_EQ(f.calls, 1);
    EXPECT_NEAR(f.p.pickResult.startY, 2.0, 1e-12);
    EXPECT_EQ(f.p.pickResult.first, 8);
    EXPECT_EQ(f.p.pickResult.last, 20);
    // The fixed start mark follows the data when the view scrolls.
    f.p.ArmRangePick(true, &f.owner, nullptr);
    Click(f.p, QPoint(300, 40 + 102));
    f.p.view.yMin = 1, f.p.view.yMax = 11;  // t = 2 is now at row 40 + 51
    const QImage img = f.p.RenderNow();
    EXPECT_EQ(img.pixel(100, 91), ((kMajor ^ qRgb(255, 255, 0)) | 0xff000000u));  // over the grid line at t = 2
    EXPECT_EQ(img.pixel(100, 92), ((kPlotBg ^ qRgb(255, 255, 0)) | 0xff000000u));
    EXPECT_EQ(img.pixel(100, 93), kPlotBg);
}

TEST(ChartBadInput, NothingCrashesOrHangs)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    CDataChartPanel p(nullptr, true, true);
    p.resize(800, 600);
    CChartSeries a, b, c, d;
    a.style = 2;
    a.x = {0.1, nan, inf, -inf, 0.5, 1e300};
    a.y = {0.1, 0.2, 0.3, nan, -inf, 0.5};
    a.numberDrawn = 6;
    a.labelText = "x";
    a.labelX = nan;
    b.firstDrawn = 10;  // past its points
    b.numberDrawn = 5;
    b.x = {0.1};
    b.y = {0.2};
    c.numberDrawn = 1000;  // more than it has, and lists of different length
    c.x = {0.1, 0.2, 0.3};
    c.y = {0.1};
    d.markerRadius = -3;
    d.lineWidth = 0;
    d.style = 0;
    d.Append(0.5, 0.5);
    p.SetSeriesList({&a, &b, &c, &d, nullptr});
    EXPECT_FALSE(p.RenderNow().isNull());

    const auto bg = p.view.plotBackground.rgb();
    p.view.xSpan = 0;  // drawn as 1
    p.view.ySpan = 0;
    EXPECT_FALSE(p.RenderNow().isNull());
    p.view.xSpan = nan;  // no grid, axes or series, the plot is still there
    const QImage blank = p.RenderNow();
    EXPECT_EQ(blank.pixel(300, 300), bg);
    p.view.xSpan = 1;
    p.view.xMin = inf;
    EXPECT_FALSE(p.RenderNow().isNull());
    p.view.xMin = 0;
    p.view.autoXStep = p.view.autoYStep = false;
    p.view.xMajorStep = 1e-12;  // far too many lines: not drawn
    p.view.yMajorStep = -1;
    EXPECT_FALSE(p.RenderNow().isNull());
    p.view.autoXStep = p.view.autoYStep = true;

    // Appends of NaN and infinities, scroll units of 0.
    p.view.xScrollUnit = 0;
    p.IncrementalAppend(a, inf, 0.0);
    p.IncrementalAppend(a, nan, nan);
    p.IncrementalAppend(a, 0.0, inf);
    p.IncrementalAppend(a, {}, {});
    p.HorizontalScroll(ScrollRequest::LineUp);
    p.WheelScroll(-120);
    EXPECT_FALSE(p.RenderNow().isNull());

    // A window resized to nothing, or smaller than its margins.
    p.resize(0, 0);
    EXPECT_TRUE(p.RenderNow().isNull());
    CDataChartPanel q;
    q.resize(60, 40);
    EXPECT_EQ(q.RenderNow().pixel(30, 20), qRgb(255, 255, 255));
    q.view.equalScale = true;
    EXPECT_FALSE(q.RenderNow().isNull());
}

// A trace of each style over a bordered plot.
void StyleChart(CDataChartPanel& p, CChartSeries& s, int style)
{
    p.resize(800, 600);
    p.view.xName = "t";
    p.view.xUnit = "s";
    p.view.yName = "Y";
    p.view.yUnit = "m";
    p.view.xMin = -0.5, p.view.xSpan = 3.5, p.view.xMax = 3;
    p.view.yMin = -0.3, p.view.ySpan = 0.6, p.view.yMax = 0.3;
    p.view.plotBorder = true;
    s.style = style;
    s.markerColour = kBlue;
    for (int i = 0; i <= 60; ++i)
        s.Append(i * 0.05, 0.2 * std::sin(i * 0.3));
    s.labelText = "T = 2.094";
    s.labelX = 1.5;
    s.labelY = 0.28;
    p.SetSeriesList({&s});
}

TEST(ChartPaint, EveryPointOfEachStyleCarriesItsColour)
{
    for (int style = 0; style <= 2; ++style) {
        CDataChartPanel p;
        CChartSeries s;
        StyleChart(p, s, style);
        const QImage img = p.RenderNow();
        const auto m = p.CurrentMapping();
        // Every point's pixel carries the series colour (markers, or the line through it).
        for (std::size_t i = 0; i < s.x.size(); ++i) {
            const QRgb c = img.pixel(m.Column(s.x[i]), m.Row(s.y[i]));
            if (style == 2 && i + 1 < s.x.size())
                EXPECT_TRUE(c == kRed || c == kBlue) << i;  // the next segment covers part of the marker
            else
                EXPECT_EQ(c, style == 1 ? kRed : kBlue) << style << " " << i;
        }
        EXPECT_EQ(img.pixel(50, 300), kBlack);  // border
    }
}

// y growing downwards: x ticks point down and the x labels and title sit above the axis; the y arrow
// lies beyond the bottom edge by the top margin; y labels sit above their ticks; the y title lies
// below the plot and a y title picture has its bottom-left corner 5 px below it. A mirrored x axis
// keeps its arrow at the right edge and turns the y ticks to the left.
TEST(ChartPaint, DownwardYAndMirroredXPutEverythingOnItsSide)
{
    const int h = QFontMetrics(zelkor::widgets::FontForCellHeight("Times New Roman", 16, false, false)).height();
    const QRgb kWhite = qRgb(255, 255, 255);
    CDataChartPanel p;
    SymmetricView(p);
    p.view.yUp = false;
    p.view.xName = "X";
    p.view.xUnit = "m";
    p.view.yName = "Y";
    QImage img = p.RenderNow().copy();
    ASSERT_EQ(p.CurrentMapping().Row(0.1), 422);
    // X ticks: rows 296 .. 300 below the axis at 295, nothing above.
    for (int r = 296; r <= 300; ++r)
        EXPECT_EQ(img.pixel(567, r), kBlack) << r;
    EXPECT_EQ(img.pixel(567, 294), kMajor);
    EXPECT_EQ(img.pixel(429, 296), kBlack);  // minor tick at x = 0.02, 2 px
    EXPECT_EQ(img.pixel(429, 298), kPlotBg);
    // X labels and title above the axis row, their lower edge 5 px from it.
    EXPECT_GT(DarkPixels(img, 567 - TextWidth("0.1"), 290 - h, 567, 290), 5);
    EXPECT_EQ(DarkPixels(img, 567 - TextWidth("0.1"), 301, 567, 301 + h), 0);
    EXPECT_GT(DarkPixels(img, 745, 290 - h, 800, 290), 10);
    EXPECT_EQ(DarkPixels(img, 745, 300, 800, 300 + h), 0);
    // Y arrow: tip 38 px (top margin - 2) below the plot's bottom edge (550), head 13 px back.
    EXPECT_EQ(img.pixel(395, 588), kBlack);
    EXPECT_EQ(img.pixel(395, 589), kWhite);
    EXPECT_EQ(img.pixel(392, 575), kBlack);
    EXPECT_EQ(img.pixel(395, 20), kWhite);  // nothing above the plot
    // Y labels 5 px above their tick rows: "0.1" at row 422, "-0.1" at row 168.
    EXPECT_GT(DarkPixels(img, 390 - TextWidth("0.1"), 417 - h, 390, 417), 5);
    EXPECT_GT(DarkPixels(img, 390 - TextWidth("-0.1"), 163 - h, 390, 163), 5);
    // Y title below the plot, 5 px right of the axis column; none above.
    EXPECT_GT(DarkPixels(img, 400, 555, 430, 555 + h), 3);
    EXPECT_EQ(DarkPixels(img, 400, 0, 430, 35), 0);

    // Title pictures instead of names: y's bottom-left corner at (400, 555), x's top-left corner at
    // (745, 290).
    const QImage pic = QImage(":/bitmap/103.png").convertToFormat(QImage::Format_ARGB32);
    ASSERT_FALSE(pic.isNull());
    p.view.yName.clear();
    p.view.xName.clear();
    p.view.yTitlePicture = p.view.xTitlePicture = true;
    p.view.yTitleImage = p.view.xTitleImage = 103;
    img = p.RenderNow().copy();
    auto pictureAt = [&](int left, int top) {
        int same = 0, opaque = 0;
        for (int y = 0; y < pic.height(); ++y)
            for (int x = 0; x < pic.width(); ++x)
                if (qAlpha(pic.pixel(x, y)) == 255) {
                    ++opaque;
                    same += (img.pixel(left + x, top + y) & 0xffffffu) == (pic.pixel(x, y) & 0xffffffu) ? 1 : 0;
                }
        return opaque > 0 && same == opaque;
    };
    EXPECT_TRUE(pictureAt(400, 555 - pic.height()));
    EXPECT_TRUE(pictureAt(745, 290));

    // Mirrored x: the arrow stays at the right edge; y ticks point left of the axis column (395).
    CDataChartPanel q;
    SymmetricView(q);
    q.view.xMirrored = true;
    img = q.RenderNow().copy();
    EXPECT_EQ(q.CurrentMapping().Column(0.1), 223);
    EXPECT_EQ(img.pixel(798, 295), kBlack);
    EXPECT_EQ(img.pixel(785, 292), kBlack);
    EXPECT_EQ(img.pixel(2, 295), kWhite);
    for (int c = 390; c <= 394; ++c)
        EXPECT_EQ(img.pixel(c, 168), kBlack) << c;
    EXPECT_EQ(img.pixel(396, 168), kMajor);
}

// What Redraw() repaints on a panel on the screen: only where something changed, from the cached
// picture, so that the picture is always the one a whole paint gives.
TEST(ChartRedraw, RepaintsOnlyWhatChanged)
{
    ShownPanel live;
    CDataChartPanel plain;
    plain.SetCachingEnabled(false);
    CChartSeries marker, track;
    marker.style = 0;
    marker.markerRadius = 8;
    marker.Append(0.0, 0.0);  // (395, 295)
    track.style = 2;
    track.lineStyle = Qt::DashLine;
    track.markerColour = kBlue;
    for (int i = 0; i < 300; ++i)
        track.Append(-0.15 + i * 0.001, 0.1 * std::sin(i * 0.03));
    track.labelText = "a = 9.800";
    track.labelX = 0.05;
    track.labelY = -0.1;
    for (CDataChartPanel* p : {&live.p, &plain}) {
        SymmetricView(*p);
        p->SetSeriesList({&marker, &track});
        p->pickKind = 1;
    }
    live.Show();
    ASSERT_EQ(DifferingPixels(live.p.BackBuffer(), plain.RenderNow()), 0);

    struct Step {
        const char* what;
        std::function<void()> change;
        QRect within;  // where the repaint must lie; empty: nothing is repainted
    };
    const double subPixel = 0.3 / 1725;
    const Step steps[] = {
        {"marker moves less than a pixel", [&] { marker.x[0] += subPixel; }, QRect()},
        {"same values again", [] {}, QRect()},
        {"marker moves 50 px right", [&] { marker.x[0] = 50.0 / 1725; }, QRect(386, 286, 69, 19)},
        {"track grows by three points", [&] {
             for (int i = 0; i < 3; ++i)
                 track.Append(track.x.back() + 0.001, track.y.back());
         }, QRect(640, 228, 30, 22)},
        {"label changes", [&] { track.labelText = "a = 9.812"; }, QRect(470, 410, 150, 60)},
        {"track hidden", [&] { track.visible = false; }, QRect(50, 40, 690, 510)},
        {"track shown again", [&] { track.visible = true; }, QRect(50, 40, 690, 510)},
        {"pick armed and the pointer moves", [&] {
             for (CDataChartPanel* p : {&live.p, &plain}) {
                 p->ArmRangePick(true, nullptr, nullptr);
                 SendMouse(*p, QEvent::MouseMove, QPoint(300, 200), Qt::NoButton);
             }
         }, QRect(300, 40, 50, 510)},
        {"start fixed", [&] {
             for (CDataChartPanel* p : {&live.p, &plain})
                 Click(*p, QPoint(300, 200));
         }, QRect(300, 40, 50, 510)},
        {"end follows the pointer", [&] {
             for (CDataChartPanel* p : {&live.p, &plain})
                 SendMouse(*p, QEvent::MouseMove, QPoint(420, 260), Qt::NoButton);
         }, QRect(420, 40, 50, 510)},
        {"tracking stopped", [&] {
             for (CDataChartPanel* p : {&live.p, &plain})
                 p->StopPickTracking();
         }, QRect(300, 40, 170, 510)},
        {"view moves", [&] {
             for (CDataChartPanel* p : {&live.p, &plain})
                 p->view.xMin = -0.25, p->view.xMax = 0.15;
         }, QRect(0, 0, 800, 600)},
    };
    for (const Step& step : steps) {
        step.change();
        const QRect painted = live.RedrawAndPaint();
        if (step.within.isEmpty())
            EXPECT_TRUE(painted.isEmpty()) << step.what << ": " << painted.x() << "," << painted.y() << " "
                                           << painted.width() << "x" << painted.height();
        else
            EXPECT_TRUE(!painted.isEmpty() && step.within.contains(painted))
                << step.what << ": " << painted.x() << "," << painted.y() << " " << painted.width() << "x"
                << painted.height();
        EXPECT_EQ(DifferingPixels(live.p.BackBuffer(), plain.RenderNow()), 0) << step.what;
        // What the screen shows is the back buffer.
        const QImage screen = live.p.screen()->grabWindow(live.p.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(DifferingPixels(screen.copy(live.p.rect()), live.p.BackBuffer()), 0) << step.what;
    }
}

// A rolling trace gives the plain picture at every step, on the back buffer, on the screen and in a
// grab, and
// once it rolls (and its y labels stand still) it is not painted whole again: the trace windows' look
// (a polyline with markers over a view that holds the x axis, its labels inside the plot); markers
// with the dotted y minor grid and the x axis out of view (labels below the plot); a dotted line,
// whose pattern starts at the first point drawn, so that each step paints it whole.
TEST(ChartRedraw, RollingTraceEqualsThePlainPaintAtEveryStep)
{
    struct Case {
        const char* what;
        int style;
        Qt::PenStyle pen;
        double yMin;
        bool yMinorGrid;
        bool incremental;
    };
    const Case cases[] = {
        {"trace window", 2, Qt::SolidLine, -1.0, false, true},
        {"markers, axis out of view", 0, Qt::SolidLine, 0.5, true, true},
        {"dotted line", 1, Qt::DotLine, -1.0, false, false},
    };
    for (const Case& c : cases) {
        ShownPanel live(true, false);
        CDataChartPanel plain(nullptr, true, false);
        plain.SetCachingEnabled(false);
        CChartSeries a, b;
        for (CDataChartPanel* p : {&live.p, &plain}) {
            p->resize(800, 600);
            p->view.xName = "t", p->view.xUnit = "s", p->view.yName = "Y";
            p->view.xMin = 0, p->view.xSpan = 3, p->view.xMax = 3;
            p->view.yMin = c.yMin, p->view.ySpan = 2, p->view.yMax = c.yMin + 2;
            p->view.xMinorGrid = false;
            p->view.yMinorGrid = c.yMinorGrid;
            p->view.xScrollUnit = 0.02;
            p->scrollMode = CDataChartPanel::kRollingMode;
            p->ResetHorizontalScroll();
        }
        for (CChartSeries* s : {&a, &b}) {
            s->style = c.style;
            s->lineStyle = c.pen;
            s->markerColour = QColor(0, 0, 255);
        }
        live.p.SetSeriesList({&a});
        plain.SetSeriesList({&b});
        live.Show();
        int rolls = 0, wholePaints = 0;
        for (int i = 1; i <= 240; ++i) {
            const double t = 0.02 * i, y = c.yMin + 1 + 0.8 * std::sin(t * 3);
            const int whole = live.p.WholePaints();
            live.p.IncrementalAppend(a, t, y);
            plain.IncrementalAppend(b, t, y);
            if (i % 15 == 7) {  // a picture taken before the screen is painted shows the step too
                const QImage grabbed = live.p.grab().toImage().convertToFormat(QImage::Format_RGB32);
                ASSERT_EQ(DifferingPixels(grabbed.copy(QRect(QPoint(0, 0), live.p.ClientSize())), plain.RenderNow()), 0)
                    << c.what << " " << i;
            }
            live.Settle();
            if (a.firstDrawn > 20) {  // past the first steps, where the y labels still move
                ++rolls;
                wholePaints += live.p.WholePaints() - whole;
            }
            if (i % 15 == 0 || (a.firstDrawn > 0 && a.firstDrawn < 10)) {
                live.SettleRoll();
                ASSERT_EQ(DifferingPixels(live.p.BackBuffer(), plain.RenderNow()), 0) << c.what << " " << i;
                const QImage screen =
                    live.p.screen()->grabWindow(live.p.winId()).toImage().convertToFormat(QImage::Format_RGB32);
                ASSERT_EQ(DifferingPixels(screen.copy(QRect(QPoint(0, 0), live.p.ClientSize())), live.p.BackBuffer()), 0)
                    << c.what << " " << i;
            }
        }
        EXPECT_EQ(a.firstDrawn, b.firstDrawn) << c.what;
        ASSERT_GT(rolls, 50) << c.what;
        // A dotted line is painted whole whenever its roll is drawn (rolls come faster than they are drawn).
        if (c.incremental) {
            EXPECT_EQ(wholePaints, 0) << c.what;
        } else {
            EXPECT_GT(wholePaints, 0) << c.what;
            EXPECT_LE(wholePaints, rolls) << c.what;
        }
    }
}

// --- pictures for a person to look at (not run by ctest; see tests/CMakeLists.txt) -----------------

TEST(ChartPictures, StylesAxesAndPicks)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    QDir().mkpath(folder);
    for (int style = 0; style <= 2; ++style) {
        CDataChartPanel p;
        CChartSeries s;
        StyleChart(p, s, style);
        ASSERT_TRUE(p.RenderNow().save(QStringLiteral("%1/chart_style%2.png").arg(folder).arg(style)));
    }
    {
        CDataChartPanel p;
        std::vector<CChartSeries> s;
        BusyChart(p, s);
        p.pickKind = 1;
        p.ArmRangePick(true, nullptr, nullptr);
        Click(p, QPoint(200, 200));
        SendMouse(p, QEvent::MouseMove, QPoint(300, 220), Qt::NoButton);
        ASSERT_TRUE(p.RenderNow().save(folder + QStringLiteral("/chart_busy_pick.png")));
    }
    for (const bool mirrored : {false, true}) {
        CDataChartPanel p;
        SymmetricView(p);
        p.view.yUp = mirrored;
        p.view.xMirrored = mirrored;
        p.view.xName = "X";
        p.view.xUnit = "m";
        p.view.yTitlePicture = true;
        p.view.yTitleImage = 103;
        CChartSeries s;
        s.style = 2;
        s.lineStyle = Qt::DashLine;
        for (int i = 0; i <= 40; ++i)
            s.Append(-0.2 + i * 0.01, 0.15 * std::sin(i * 0.2));
        p.SetSeriesList({&s});
        ASSERT_TRUE(p.RenderNow().save(folder + (mirrored ? QStringLiteral("/chart_mirrored_x.png")
                                                           : QStringLiteral("/chart_y_down.png"))));
    }
}

}  // namespace

// Picture memory is mapped and handed out by hand: every row must be there, whatever the size, no two
// live pictures may share it, and a copy must be a picture of its own.
TEST(LargeImage, EveryRowIsUsableAndCopiesAreTheirOwn)
{
    using zelkor::widgets::NewLargeImage;
    using zelkor::widgets::NewPooledImage;
    auto value = [](int x, int y) { return 0xff000000u | static_cast<uint>(x * 7 + y * 13); };
    for (const auto& [make, copyOf] : {std::pair{&NewLargeImage, &zelkor::widgets::LargeImageCopy},
                                       std::pair{&NewPooledImage, &zelkor::widgets::PooledImageCopy}})
        for (const QSize size : {QSize(0, 0), QSize(40, 30), QSize(300, 230), QSize(1366, 768), QSize(1025, 513)}) {
            SCOPED_TRACE(QStringLiteral("%1 x %2").arg(size.width()).arg(size.height()).toStdString());
            QImage image = make(size, QImage::Format_RGB32);
            QImage other = make(size, QImage::Format_RGB32);
            ASSERT_EQ(image.size(), size);
            if (size.isEmpty())
                continue;
            ASSERT_EQ(image.format(), QImage::Format_RGB32);
            other.fill(0xff00ff00u);
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    image.setPixel(x, y, value(x, y));
            EXPECT_EQ(other.pixel(0, 0), 0xff00ff00u);
            EXPECT_EQ(other.pixel(size.width() - 1, size.height() - 1), 0xff00ff00u);
            const QImage copy = copyOf(image);
            zelkor::widgets::AdviseLargePages(&image);  // as a backing store is advised: no byte changes
            EXPECT_EQ(image, copy);
            QImage shared = image;
            shared.setPixel(size.width() - 1, size.height() - 1, 0xff123456u);  // detaches from `image`
            EXPECT_EQ(copy, image);
            EXPECT_NE(shared, image);
            EXPECT_EQ(image.pixel(size.width() - 1, size.height() - 1), value(size.width() - 1, size.height() - 1));
            image = QImage();  // its memory goes (or back to the pool); the copies stay whole
            QImage next = make(size, QImage::Format_RGB32);
            next.fill(0u);
            EXPECT_EQ(copy.pixel(size.width() - 1, 0), value(size.width() - 1, 0));
        }
}

// A picture Qt allocated itself (as it does a backing store) keeps every byte when advised, and so does
// the memory up to the end of its last large page.
TEST(LargeImage, AdvisingAPictureChangesNoByte)
{
    std::vector<QImage> pictures;
    for (int i = 0; i < 3; ++i) {
        pictures.emplace_back(QSize(1366, 768), QImage::Format_ARGB32_Premultiplied);
        pictures.back().fill(QColor::fromRgb(static_cast<QRgb>(0xff102030u + static_cast<unsigned>(i))));
    }
    const std::vector<QImage> before = {pictures[0].copy(), pictures[1].copy(), pictures[2].copy()};
    zelkor::widgets::AdviseLargePages(&pictures[1]);
    zelkor::widgets::AdviseLargePages(&pictures[1]);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(pictures[i], before[i]) << i;
}

// A readout's dropped picture serves its next one.
TEST(LargeImage, APooledPictureIsUsedAgainOnceDropped)
{
    QImage first = zelkor::widgets::NewPooledImage(QSize(200, 40), QImage::Format_ARGB32_Premultiplied);
    const uchar* memory = first.constBits();
    first = QImage();
    const QImage second = zelkor::widgets::NewPooledImage(QSize(200, 40), QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(second.constBits(), memory);
}
