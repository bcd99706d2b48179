// The chart's numeric rules and rasteriser, checked exactly.
#include "widgets/chart_math.h"
#include "widgets/chart_raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <utility>

using namespace zelkor::widgets::chart;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

TEST(ChartNiceStep, DivisionsAreAtLeastEightyPixels)
{
    EXPECT_DOUBLE_EQ(NiceStep(0.4, 400), 0.1);  // 4 * 80 = 320 < 400
    EXPECT_DOUBLE_EQ(NiceStep(0.4, 300), 0.2);  // 0.1 gives 320, not below 300
    EXPECT_DOUBLE_EQ(NiceStep(1.0, 700), 0.2);
    EXPECT_DOUBLE_EQ(NiceStep(8.0, 510), 2.0);
    EXPECT_DOUBLE_EQ(NiceStep(1e10, 400), 5e9);  // found at the last allowed exponent
}

TEST(ChartNiceStep, FallsBackToTheSpan)
{
    EXPECT_EQ(NiceStep(0.0, 400), 0.0);
    EXPECT_EQ(NiceStep(1e13, 400), 1e13);  // exponent beyond 9
    EXPECT_EQ(NiceStep(1e-9, 400), 1e-9);  // exponent below -9
    EXPECT_EQ(NiceStep(0.4, 0), 0.4);      // a plot of no pixels finds nothing
    EXPECT_EQ(NiceStep(-0.4, 400), -0.4);
    EXPECT_TRUE(std::isnan(NiceStep(kNaN, 400)));
    EXPECT_EQ(NiceStep(kInf, 400), kInf);
}

TEST(ChartLabels, DecimalsFollowTheStep)
{
    EXPECT_EQ(LabelDecimals(0.2), 1);
    EXPECT_EQ(LabelDecimals(0.1), 1);
    EXPECT_EQ(LabelDecimals(0.05), 2);
    EXPECT_EQ(LabelDecimals(0.01), 2);
    EXPECT_EQ(LabelDecimals(1.0), 0);
    EXPECT_EQ(LabelDecimals(5e9), 0);
    EXPECT_EQ(LabelDecimals(0.0), 0);
    EXPECT_EQ(LabelDecimals(kNaN), 0);
    EXPECT_EQ(FormatFixed(-0.1, 1), "-0.1");
    EXPECT_EQ(FormatFixed(0.25, 2), "0.25");
    EXPECT_EQ(FormatFixed(2.0, 0), "2");
}

TEST(ChartMapping, ProductsAreTruncatedTowardZero)
{
    const PlotRect plot{50, 40, 750, 550};
    const Mapping m = MakeMapping(plot, -0.2, 0.4, -0.06, 0.51, false, true);
    EXPECT_DOUBLE_EQ(m.x.scale, 1750.0);
    EXPECT_EQ(m.x.base, 400);
    EXPECT_EQ(m.Column(0.1), 575);
    EXPECT_EQ(m.Column(-0.1), 225);
    // -0.0073 * 1750 = -12.775: toward zero is -12, not -13.
    EXPECT_EQ(m.Column(-0.0073), 388);
    EXPECT_EQ(m.Column(0.0073), 412);
    EXPECT_EQ(m.Column(-0.2), 50);
    // y grows upwards from oy = 550 + 1000 * -0.06 = 490.
    EXPECT_EQ(m.y.base, 490);
    EXPECT_EQ(m.Row(0.25), 240);
    EXPECT_EQ(m.Row(-0.06), 550);
    // A fractional origin is truncated before the offset is added: ox = 50 + 233.33.
    const Mapping f = MakeMapping(plot, -0.3, 0.9, 0, 1, false, true);
    EXPECT_EQ(f.x.base, 283);
    EXPECT_EQ(f.Column(0.5), 283 + 388);  // 388.88 truncated
}

TEST(ChartMapping, MirroredAndDownwardAxes)
{
    const PlotRect plot{50, 40, 750, 550};
    const Mapping m = MakeMapping(plot, -0.2, 0.4, -0.1, 0.51, true, false);
    // Mirrored: ox = R + sx * xmin = 750 - 350; x grows to the left.
    EXPECT_EQ(m.x.base, 400);
    EXPECT_EQ(m.Column(0.1), 225);
    EXPECT_EQ(m.Column(-0.2), 750);
    // Downward: oy = T - sy * ymin = 40 + 100.
    EXPECT_EQ(m.y.base, 140);
    EXPECT_EQ(m.Row(0.2), 340);
    EXPECT_EQ(m.Row(-0.1), 40);
    // ValueAt inverts the mapping whatever the direction.
    EXPECT_NEAR(m.x.ValueAt(225), 0.1, 1e-12);
    EXPECT_NEAR(m.y.ValueAt(340), 0.2, 1e-12);
    const Mapping up = MakeMapping(plot, 0, 1, 0, 1, false, true);
    EXPECT_NEAR(up.y.ValueAt(up.Row(0.5)), 0.5, 1e-12);
}

TEST(ChartMapping, SpanZeroIsOneAndBadValuesAreNotPixels)
{
    const PlotRect plot{0, 0, 100, 100};
    const Mapping m = MakeMapping(plot, 0, 0, 0, 0, false, true);
    EXPECT_DOUBLE_EQ(m.x.scale, 100.0);
    EXPECT_DOUBLE_EQ(m.y.scale, 100.0);
    EXPECT_EQ(m.Column(kNaN), kNoPixel);
    EXPECT_EQ(m.Column(kInf), kPixelLimit);
    EXPECT_EQ(m.Column(-kInf), -kPixelLimit);
    EXPECT_EQ(m.Column(1e300), kPixelLimit);
}

TEST(ChartMapping, EqualScaleFollowsTheAspectRatio)
{
    const PlotRect plot{50, 40, 750, 550};  // 700 x 510
    double xSpan = 0.4, xMax = 0.2, ySpan = 1.0, yMax = 0.94;
    ApplyEqualScale(plot, false, -0.2, xSpan, xMax, -0.06, ySpan, yMax);
    EXPECT_DOUBLE_EQ(ySpan, 510.0 / 700.0 * 0.4);
    EXPECT_DOUBLE_EQ(yMax, -0.06 + ySpan);
    EXPECT_DOUBLE_EQ(xSpan, 0.4);
    ApplyEqualScale(plot, true, -0.1, xSpan, xMax, -0.1, ySpan, yMax);
    EXPECT_DOUBLE_EQ(xSpan, 700.0 / 510.0 * ySpan);
    EXPECT_DOUBLE_EQ(xMax, -0.1 + xSpan);
    // An empty plot changes nothing (no division by zero).
    double a = 1, b = 1, c = 1, d = 1;
    ApplyEqualScale(PlotRect{10, 10, 10, 50}, true, 0, a, b, 0, c, d);
    EXPECT_EQ(a, 1);
}

TEST(ChartMultiples, StartAtTheTruncatedMultipleAndHitZeroExactly)
{
    const std::vector<double> v = Multiples(-0.25, 0.1, 0.25, 100);
    ASSERT_EQ(v.size(), 5u);
    EXPECT_DOUBLE_EQ(v.front(), -0.2);
    EXPECT_EQ(v[2], 0.0);  // exactly zero, so its label can be told apart
    EXPECT_DOUBLE_EQ(v.back(), 0.2);
    // Positive start: trunc(0.25 / 0.1) * 0.1 = 0.2 lies below the start.
    EXPECT_DOUBLE_EQ(Multiples(0.25, 0.1, 0.5, 100).front(), 0.2);
    EXPECT_TRUE(Multiples(0, 0, 1, 100).empty());
    EXPECT_TRUE(Multiples(0, -0.1, 1, 100).empty());
    EXPECT_TRUE(Multiples(kNaN, 0.1, 1, 100).empty());
    EXPECT_TRUE(Multiples(0, 1e-12, 1, 1000).empty());  // too many: none rather than a hang
    EXPECT_EQ(Multiples(0, 0.5, 1, 3).size(), 3u);
}

TEST(ChartWindow, BisectionFindsTheViewWindow)
{
    std::vector<double> x;
    for (int i = 0; i < 10; ++i)
        x.push_back(i);
    EXPECT_EQ(WindowForRange(x, 2.5, 6), (SeriesWindow{2, 4}));  // 2,3,4,5
    EXPECT_EQ(WindowForRange(x, 3, 6), (SeriesWindow{3, 3}));    // at or below a; below b
    EXPECT_EQ(WindowForRange(x, -5, 1), (SeriesWindow{0, 1}));   // none at or below a: 0
    EXPECT_EQ(WindowForRange(x, 20, 30), (SeriesWindow{9, 1}));
    EXPECT_EQ(WindowForRange(x, 4, 4), (SeriesWindow{4, 0}));
    EXPECT_EQ(WindowForRange({}, 0, 1), (SeriesWindow{0, 0}));
    // Unsorted or NaN data still give an in-range window.
    const std::vector<double> odd{5, kNaN, 1, 9, 0};
    const SeriesWindow w = WindowForRange(odd, 2, 6);
    EXPECT_GE(w.first, 0);
    EXPECT_LE(w.first + w.count, 5);
}

TEST(ChartPick, FirstIndexAtOrAboveWithinTheWindow)
{
    const std::vector<double> t{0.0, 0.5, 1.0, 1.5, 2.0, 2.5};
    EXPECT_EQ(FirstIndexAtOrAbove(t, 0, 6, 0.7), 2);
    EXPECT_EQ(FirstIndexAtOrAbove(t, 0, 6, 1.0), 2);
    EXPECT_EQ(FirstIndexAtOrAbove(t, 3, 2, 0.1), 3);   // window starts at 3
    EXPECT_EQ(FirstIndexAtOrAbove(t, 1, 3, 9.0), 3);   // none: the window's last index
    EXPECT_EQ(FirstIndexAtOrAbove(t, 4, 10, 9.0), 5);  // window clipped to the list
    EXPECT_EQ(FirstIndexAtOrAbove(t, 6, 1, 0.0), -1);
    EXPECT_EQ(FirstIndexAtOrAbove(t, 0, 0, 0.0), -1);
    EXPECT_EQ(FirstIndexAtOrAbove({}, 0, 5, 0.0), -1);
}

TEST(ChartScrollBar, RangePageAndRequests)
{
    ScrollBarModel bar;
    EXPECT_FALSE(bar.HasRange());
    EXPECT_EQ(bar.MaxPos(), 0);
    bar.Set(0, 30 + 10 - 1, 10, 30);
    EXPECT_EQ(bar.MaxPos(), 30);
    EXPECT_EQ(bar.pos, 30);
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::LineDown, 0), 30);  // clamped
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::LineUp, 0), 29);
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::PageUp, 0), 20);
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::Top, 0), 0);
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::Bottom, 0), 30);  // ignored
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::ThumbTrack, 12), 12);
    EXPECT_EQ(ScrollTarget(bar, ScrollRequest::ThumbPosition, -5), 0);
    bar.Set(0, 5, 10, 7);  // page larger than the range
    EXPECT_EQ(bar.pos, 0);
}

TEST(ChartWheel, LinesPerNotchAndPages)
{
    auto lines = [](int delta, int setting) {
        const WheelScroll w = WheelScrollFor(delta, setting);
        return std::make_pair(w.up, w.lines);
    };
    EXPECT_EQ(lines(120, 3), std::make_pair(true, 1));
    EXPECT_EQ(lines(-240, 3), std::make_pair(false, 2));
    EXPECT_EQ(lines(60, 3), std::make_pair(true, 1));  // at least one line
    EXPECT_EQ(lines(360, 6), std::make_pair(true, 6));
    EXPECT_EQ(lines(120, 1), std::make_pair(true, 1));
    EXPECT_TRUE(WheelScrollFor(-120, -1).page);
    EXPECT_FALSE(WheelScrollFor(-120, -1).up);
    EXPECT_EQ(WheelScrollFor(0, 3).lines, 0);
}

// --- rasteriser ---

struct Canvas {
    int w, h;
    std::vector<std::uint32_t> px;
    Canvas(int width, int height) : w(width), h(height), px(static_cast<std::size_t>(width * height), 0) {}
    PixelTarget Target(PlotRect clip)
    {
        PixelTarget t;
        t.bits = px.data();
        t.stride = w;
        t.width = w;
        t.height = h;
        t.clip = clip;
        return t;
    }
    std::uint32_t At(int x, int y) const { return px[static_cast<std::size_t>(y * w + x)]; }
    std::set<std::pair<int, int>> Set(std::uint32_t c) const
    {
        std::set<std::pair<int, int>> s;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (At(x, y) == c)
                    s.insert({x, y});
        return s;
    }
};

constexpr std::uint32_t kRed = 0xffff0000u;

TEST(ChartRaster, LinesIncludeBothEndsAndRoundToNearest)
{
    Canvas c(20, 10);
    PixelTarget t = c.Target({0, 0, 20, 10});
    long long phase = 0;
    DrawLine(t, 2, 1, 12, 4, kRed, LinePen{1, {}}, phase);
    EXPECT_EQ(phase, 10);
    const auto s = c.Set(kRed);
    EXPECT_EQ(s.size(), 11u);  // one pixel per column
    EXPECT_TRUE(s.count({2, 1}));
    EXPECT_TRUE(s.count({12, 4}));
    // Column 7 is halfway: y = 1 + 1.5 rounds to 3.
    EXPECT_TRUE(s.count({7, 3}));
    // Drawing the other way round gives the same pixels.
    Canvas d(20, 10);
    PixelTarget u = d.Target({0, 0, 20, 10});
    DrawLine(u, 12, 4, 2, 1, kRed, LinePen{1, {}}, phase);
    EXPECT_EQ(d.Set(kRed), s);
}

TEST(ChartRaster, ClippedLinesKeepThePixelsOfTheWholeLine)
{
    Canvas full(200, 200), clipped(200, 200);
    PixelTarget a = full.Target({0, 0, 200, 200});
    PixelTarget b = clipped.Target({60, 50, 120, 130});
    for (const LinePen& pen : {LinePen{1, {}}, LinePen{2, {}}, LinePen{3, {9, 5}}}) {
        long long p1 = 7, p2 = 7;
        DrawLine(a, -30, 170, 230, 20, kRed, pen, p1);
        DrawLine(b, -30, 170, 230, 20, kRed, pen, p2);
        DrawLine(a, 90, -40, 70, 260, kRed, pen, p1);
        DrawLine(b, 90, -40, 70, 260, kRed, pen, p2);
    }
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool inside = x >= 60 && x < 120 && y >= 50 && y < 130;
            ASSERT_EQ(clipped.At(x, y), inside ? full.At(x, y) : 0u) << x << "," << y;
        }
}

TEST(ChartRaster, FarAwayLinesFinishAndDrawOnlyInside)
{
    Canvas c(50, 50);
    PixelTarget t = c.Target({0, 0, 50, 50});
    long long phase = 0;
    DrawLine(t, -kPixelLimit, 25, kPixelLimit, 25, kRed, LinePen{2, {}}, phase);
    DrawLine(t, 10, -kPixelLimit, 10, kPixelLimit, kRed, LinePen{1, {}}, phase);
    EXPECT_EQ(c.At(0, 25), kRed);
    EXPECT_EQ(c.At(49, 26), kRed);  // width 2 covers the next row
    EXPECT_EQ(c.At(10, 0), kRed);
    EXPECT_EQ(c.At(11, 0), 0u);
}

TEST(ChartRaster, DashPatternCarriesOnAcrossSegments)
{
    Canvas one(40, 3), two(40, 3);
    PixelTarget a = one.Target({0, 0, 40, 3});
    PixelTarget b = two.Target({0, 0, 40, 3});
    const LinePen dash{1, {3, 2}};
    long long pa = 0, pb = 0;
    DrawLine(a, 0, 1, 30, 1, kRed, dash, pa);
    DrawLine(b, 0, 1, 12, 1, kRed, dash, pb);
    DrawLine(b, 12, 1, 30, 1, kRed, dash, pb);
    EXPECT_EQ(one.Set(kRed), two.Set(kRed));
    EXPECT_EQ(one.At(2, 1), kRed);
    EXPECT_EQ(one.At(3, 1), 0u);
    EXPECT_EQ(one.At(5, 1), kRed);
}

TEST(ChartRaster, DiscsAreSymmetricAndClipped)
{
    Canvas c(30, 30);
    PixelTarget t = c.Target({0, 0, 30, 30});
    FillDisc(t, 15, 15, 4, kRed);
    const auto s = c.Set(kRed);
    EXPECT_TRUE(s.count({19, 15}));
    EXPECT_FALSE(s.count({20, 15}));
    EXPECT_TRUE(s.count({15, 11}));
    EXPECT_FALSE(s.count({19, 19}));
    for (const auto& [x, y] : s)
        EXPECT_TRUE(s.count({30 - x, 30 - y}));
    Canvas one(5, 5);
    PixelTarget u = one.Target({0, 0, 5, 5});
    FillDisc(u, 2, 2, 0, kRed);
    EXPECT_EQ(one.Set(kRed).size(), 1u);
    FillDisc(u, 2, 2, -1, 0xff00ff00u);
    EXPECT_TRUE(one.Set(0xff00ff00u).empty());
    FillDisc(u, 0, 0, 1 << 30, kRed);  // huge radius: fills the clip and returns
    EXPECT_EQ(one.Set(kRed).size(), 25u);
}

TEST(ChartRaster, SeriesStylesDrawInOrder)
{
    // Style 2: the segment that leaves a point is drawn over its marker, the next marker over the segment.
    Canvas c(40, 20);
    PixelTarget t = c.Target({0, 0, 40, 20});
    SeriesStyle style;
    style.style = 2;
    style.markerRadius = 2;
    style.markerColour = 0xff0000ffu;
    style.lineColour = kRed;
    style.pen = LinePen{1, {}};
    const PixelPoint pts[] = {{5, 10}, {kNoPixel, kNoPixel}, {20, 10}, {35, 10}};
    SeriesDrawState st;
    DrawSeriesPoints(t, style, pts, 4, st);
    EXPECT_EQ(c.At(5, 10), 0xff0000ffu);   // first marker, no line leaves it across the gap
    EXPECT_EQ(c.At(12, 10), 0u);           // the NaN point broke the line
    EXPECT_EQ(c.At(20, 10), kRed);         // segment over the marker it starts from
    EXPECT_EQ(c.At(18, 10), 0xff0000ffu);
    EXPECT_EQ(c.At(35, 10), 0xff0000ffu);
    EXPECT_EQ(c.At(28, 10), kRed);
}

TEST(ChartRaster, RepeatedPointsGiveTheSamePixelsAsDrawingEveryPrimitive)
{
    // Many points on the same pixels, as in long recordings, with NaN gaps; compared with the plain
    // sequence of discs and segments.
    std::vector<PixelPoint> pts;
    unsigned seed = 7;
    for (int i = 0; i < 600; ++i) {
        seed = seed * 1103515245u + 12345u;
        if (i % 97 == 50) {
            pts.push_back({kNoPixel, kNoPixel});
            // A repeat right after a gap with no segment after it: only the repeat puts the pen there.
            pts.push_back({30 + i / 12, 60});
            pts.push_back({30 + i / 12, 60});
            pts.push_back({kNoPixel, kNoPixel});
        } else if (i == 0) {
            pts.push_back({20, 40});
            pts.push_back({20, 40});
        } else
            pts.push_back({20 + i / 12 + static_cast<int>((seed >> 16) % 2), 40 + static_cast<int>(((seed >> 20) % 5))});
    }
    for (int style : {0, 1, 2}) {
        for (int width : {1, 2, 5, 9}) {
            for (int radius : {0, 1, 4}) {
                SeriesStyle st;
                st.style = style;
                st.markerRadius = radius;
                st.markerColour = 0xff0000ffu;
                st.lineColour = kRed;
                st.pen = LinePen{width, width == 5 ? DashPattern{3, 2} : DashPattern{}};
                Canvas fast(120, 80), plain(120, 80);
                PixelTarget a = fast.Target({0, 0, 120, 80});
                PixelTarget b = plain.Target({0, 0, 120, 80});
                SeriesDrawState state;
                DrawSeriesPoints(a, st, pts.data(), pts.size(), state);
                bool have = false;
                PixelPoint prev;
                long long phase = 0;
                for (const PixelPoint& p : pts) {
                    if (p.x == kNoPixel) {
                        have = false;
                        continue;
                    }
                    if (style != 0 && have)
                        DrawLine(b, prev.x, prev.y, p.x, p.y, st.lineColour, st.pen, phase);
                    if (style != 1)
                        FillDisc(b, p.x, p.y, radius, st.markerColour);
                    have = true;
                    prev = p;
                }
                ASSERT_EQ(fast.px, plain.px) << style << " " << width << " " << radius;
            }
        }
    }
}

}  // namespace
