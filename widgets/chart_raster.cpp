#include "chart_raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zelkor::widgets::chart {
namespace {

struct Span {
    int row, from, to;  // offsets relative to the stamp centre, inclusive
};

// Disc stamp of a pen width: rows of pixel offsets whose centres lie within width/2 of the stamp centre.
std::vector<Span> MakeStamp(int width)
{
    std::vector<Span> spans;
    if (width <= 1) {
        spans.push_back({0, 0, 0});
        return spans;
    }
    const int lo = -(width - 1) / 2;
    const int hi = lo + width - 1;
    const double c = (lo + hi) / 2.0;
    const double r2 = (width / 2.0) * (width / 2.0);
    for (int j = lo; j <= hi; ++j) {
        int from = hi + 1, to = lo - 1;
        for (int i = lo; i <= hi; ++i) {
            if ((i - c) * (i - c) + (j - c) * (j - c) <= r2) {
                from = std::min(from, i);
                to = std::max(to, i);
            }
        }
        if (from <= to)
            spans.push_back({j, from, to});
    }
    return spans;
}

// Pens are a few pixels wide, and every segment of a series asks for its stamp: those are made once.
const std::vector<Span>& StampFor(int width)
{
    constexpr int kKept = 32;
    static const std::vector<std::vector<Span>> kept = [] {
        std::vector<std::vector<Span>> v;
        for (int w = 0; w < kKept; ++w)
            v.push_back(MakeStamp(w));
        return v;
    }();
    if (width >= 0 && width < kKept)
        return kept[static_cast<std::size_t>(width)];
    thread_local std::vector<Span> wide;
    wide = MakeStamp(width);
    return wide;
}

long long FloorDiv(long long a, long long b)
{
    long long q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

void Touch(PixelTarget& t, int x0, int y0, int x1, int y1)  // inclusive
{
    if (!t.touched)
        return;
    PlotRect& r = *t.touched;
    if (r.Empty()) {
        r = {x0, y0, x1 + 1, y1 + 1};
        return;
    }
    r.left = std::min(r.left, x0);
    r.top = std::min(r.top, y0);
    r.right = std::max(r.right, x1 + 1);
    r.bottom = std::max(r.bottom, y1 + 1);
}

// Horizontal run of pixels clipped to c.
inline void PutRun(PixelTarget& t, const PlotRect& c, int y, int x0, int x1, std::uint32_t colour)
{
    if (y < c.top || y >= c.bottom)
        return;
    x0 = std::max(x0, c.left);
    x1 = std::min(x1, c.right - 1);
    if (x0 > x1)
        return;
    std::uint32_t* first = t.Pixel(x0, y);
    std::fill(first, first + (x1 - x0 + 1), colour);
    Touch(t, x0, y, x1, y);
}

bool PatternOn(const DashPattern& p, int total, long long index)
{
    if (p.empty() || total <= 0)
        return true;
    long long pos = index % total;
    if (pos < 0)
        pos += total;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (pos < p[i])
            return i % 2 == 0;
        pos -= p[i];
    }
    return true;
}

}  // namespace

PlotRect PixelTarget::EffectiveClip() const
{
    PlotRect c;
    c.left = std::max(clip.left, originX);
    c.top = std::max(clip.top, originY);
    c.right = std::min(clip.right, originX + width);
    c.bottom = std::min(clip.bottom, originY + height);
    return c;
}

DashPattern PatternForStyle(int penStyle, int width, bool& noLine)
{
    noLine = penStyle == 0;
    const int u = std::max(1, width);
    DashPattern p;
    switch (penStyle) {
    case 2: p = {9, 5}; break;
    case 3: p = {2, 3}; break;
    case 4: p = {9, 4, 2, 4}; break;
    case 5: p = {9, 3, 2, 3, 2, 3}; break;
    default: break;
    }
    for (int& v : p)
        v *= u;
    return p;
}

void FillRect(PixelTarget& t, const PlotRect& r, std::uint32_t colour)
{
    const PlotRect c = t.EffectiveClip();
    const int top = std::max(r.top, c.top), bottom = std::min(r.bottom, c.bottom);
    const int left = std::max(r.left, c.left), right = std::min(r.right, c.right);
    if (top >= bottom || left >= right)
        return;
    for (int y = top; y < bottom; ++y) {
        std::uint32_t* first = t.Pixel(left, y);
        std::fill(first, first + (right - left), colour);
    }
    Touch(t, left, top, right - 1, bottom - 1);
}

void DrawLine(PixelTarget& t, int x0, int y0, int x1, int y1, std::uint32_t colour, const LinePen& pen,
              long long& phase)
{
    const PlotRect c = t.EffectiveClip();
    const long long adx = std::llabs(static_cast<long long>(x1) - x0);
    const long long ady = std::llabs(static_cast<long long>(y1) - y0);
    const bool xMajor = adx >= ady;
    const long long length = xMajor ? adx : ady;
    const long long startPhase = phase;
    phase += length;
    if (c.Empty())
        return;

    const int width = std::max(1, pen.width);
    int total = 0;
    for (int v : pen.pattern)
        total += v;

    // Walk along the major axis from the end with the smaller major coordinate.
    int ma = xMajor ? x0 : y0, na = xMajor ? y0 : x0;  // major, minor of the start
    int mb = xMajor ? x1 : y1, nb = xMajor ? y1 : x1;
    const bool reversed = mb < ma;
    if (reversed) {
        std::swap(ma, mb);
        std::swap(na, nb);
    }
    const int origin = reversed ? mb : ma;  // major coordinate where the pattern starts
    const long long d = static_cast<long long>(mb) - ma;
    const long long dn = static_cast<long long>(nb) - na;

    const int clipLo = xMajor ? c.left : c.top;
    const int clipHi = xMajor ? c.right : c.bottom;  // exclusive
    const int from = static_cast<int>(std::max<long long>(ma, static_cast<long long>(clipLo) - width));
    const int to = static_cast<int>(std::min<long long>(mb, static_cast<long long>(clipHi) + width));
    if (from > to)
        return;

    long long q = na, rem = 0;
    if (d > 0) {
        const long long num = 2 * (static_cast<long long>(from) - ma) * dn + d;
        q = na + FloorDiv(num, 2 * d);
        rem = num - FloorDiv(num, 2 * d) * 2 * d;
    }
    // Thin lines along a pixel row or column (grids, ticks, axes) need no minor-axis steps.
    if (dn == 0 && width <= 1) {
        const int minor = na;
        const int lo = std::max(from, clipLo), hi = std::min(to, clipHi - 1);
        const int minorLo = xMajor ? c.top : c.left, minorHi = xMajor ? c.bottom : c.right;
        if (minor < minorLo || minor >= minorHi || lo > hi)
            return;
        int first = hi + 1, last = lo - 1;
        for (int m = lo; m <= hi; ++m) {
            if (!PatternOn(pen.pattern, total, startPhase + std::llabs(static_cast<long long>(m) - origin)))
                continue;
            *t.Pixel(xMajor ? m : minor, xMajor ? minor : m) = colour;
            first = std::min(first, m);
            last = m;
        }
        if (first <= last) {
            if (xMajor)
                Touch(t, first, minor, last, minor);
            else
                Touch(t, minor, first, minor, last);
        }
        return;
    }
    const std::vector<Span>& stamp = StampFor(width);
    // Position in the pattern, kept as the walk goes: it moves by one pixel a step, forwards from the
    // start of the line or backwards towards it.
    const bool dashed = !pen.pattern.empty() && total > 0;
    const int patternStep = reversed ? -1 : 1;
    long long patternPos = 0;
    if (dashed) {
        patternPos = (startPhase + std::llabs(static_cast<long long>(from) - origin)) % total;
        if (patternPos < 0)
            patternPos += total;
    }
    for (int m = from; m <= to; ++m) {
        if (m > from && d > 0) {
            rem += 2 * dn;
            if (rem >= 2 * d) {
                rem -= 2 * d;
                ++q;
            } else if (rem < 0) {
                rem += 2 * d;
                --q;
            }
        }
        if (dashed) {
            const long long here = patternPos;
            patternPos += patternStep;
            if (patternPos == total)
                patternPos = 0;
            else if (patternPos < 0)
                patternPos = total - 1;
            if (!PatternOn(pen.pattern, total, here))
                continue;
        }
        const int px = xMajor ? m : static_cast<int>(q);
        const int py = xMajor ? static_cast<int>(q) : m;
        if (width <= 1) {
            if (px >= c.left && px < c.right && py >= c.top && py < c.bottom) {
                *t.Pixel(px, py) = colour;
                Touch(t, px, py, px, py);
            }
            continue;
        }
        for (const Span& s : stamp)
            PutRun(t, c, py + s.row, px + s.from, px + s.to, colour);
    }
}

void FillDisc(PixelTarget& t, int cx, int cy, int r, std::uint32_t colour)
{
    if (r < 0 || cx == kNoPixel || cy == kNoPixel)
        return;
    const PlotRect c = t.EffectiveClip();
    const long long rr = std::min<long long>(r, kPixelLimit);
    const long long limit = rr * rr + rr;
    const long long top = std::max<long long>(static_cast<long long>(cy) - rr, c.top);
    const long long bottom = std::min<long long>(static_cast<long long>(cy) + rr, static_cast<long long>(c.bottom) - 1);
    for (long long y = top; y <= bottom; ++y) {
        const long long dy = y - cy;
        const long long v = limit - dy * dy;
        if (v < 0)
            continue;
        auto h = static_cast<long long>(std::sqrt(static_cast<double>(v)));
        while (h * h > v)
            --h;
        while ((h + 1) * (h + 1) <= v)
            ++h;
        const long long x0 = std::max<long long>(static_cast<long long>(cx) - h, c.left);
        const long long x1 = std::min<long long>(static_cast<long long>(cx) + h, static_cast<long long>(c.right) - 1);
        if (x0 <= x1)
            PutRun(t, c, static_cast<int>(y), static_cast<int>(x0), static_cast<int>(x1), colour);
    }
}

void CompositeOpaque(PixelTarget& dst, const PixelTarget& src, const PlotRect& r)
{
    const PlotRect c = dst.EffectiveClip();
    const PlotRect sc{src.originX, src.originY, src.originX + src.width, src.originY + src.height};
    const int left = std::max({r.left, c.left, sc.left}), right = std::min({r.right, c.right, sc.right});
    const int top = std::max({r.top, c.top, sc.top}), bottom = std::min({r.bottom, c.bottom, sc.bottom});
    for (int y = top; y < bottom; ++y) {
        std::uint32_t* d = dst.Pixel(left, y);
        const std::uint32_t* s = src.Pixel(left, y);
        for (int i = 0; i < right - left; ++i)
            d[i] = (s[i] >> 24) != 0 ? s[i] : d[i];
    }
}

namespace {

// Whether the pen's stamp lies inside the marker disc, so that a zero-length segment followed by the
// marker leaves no trace.
bool StampInsideDisc(int width, int radius)
{
    if (radius < 0)
        return false;
    const long long limit = static_cast<long long>(radius) * radius + radius;
    for (const Span& s : StampFor(width))
        for (int i = s.from; i <= s.to; ++i)
            if (static_cast<long long>(i) * i + static_cast<long long>(s.row) * s.row > limit)
                return false;
    return true;
}

}  // namespace

void DrawSeriesPoints(PixelTarget& t, const SeriesStyle& style, const PixelPoint* points, std::size_t n,
                      SeriesDrawState& state)
{
    const bool lines = style.style != 0 && !style.noLine;
    const bool markers = style.style != 1;
    // A point on the pixel of the one before draws nothing new: the same disc again; or a zero-length
    // segment over the end of the segment just drawn (the pattern index does not move), followed by the
    // same marker again; or such a segment inside the marker that covers it. Long recordings have many
    // of them, so they are skipped.
    const bool stampCovered = markers && StampInsideDisc(std::max(1, style.pen.width), style.markerRadius);
    for (std::size_t i = 0; i < n; ++i) {
        const PixelPoint p = points[i];
        if (p.x == kNoPixel || p.y == kNoPixel) {
            state.havePrevious = false;
            continue;
        }
        if (state.havePrevious && p.x == state.prevX && p.y == state.prevY &&
            (!lines || state.prevEndsSegment || stampCovered))
            continue;
        const bool segment = style.style != 0 && state.havePrevious && lines;
        if (segment)
            DrawLine(t, state.prevX, state.prevY, p.x, p.y, style.lineColour, style.pen, state.phase);
        state.prevEndsSegment = segment;
        if (markers)
            FillDisc(t, p.x, p.y, style.markerRadius, style.markerColour);
        state.havePrevious = true;
        state.prevX = p.x;
        state.prevY = p.y;
    }
}

PlotRect SeriesBounds(const SeriesStyle& style, const PixelPoint* points, std::size_t n, const PlotRect& clip)
{
    long long left = 0, top = 0, right = -1, bottom = -1;
    for (std::size_t i = 0; i < n; ++i) {
        const PixelPoint p = points[i];
        if (p.x == kNoPixel || p.y == kNoPixel)
            continue;
        if (right < left) {
            left = right = p.x;
            top = bottom = p.y;
            continue;
        }
        left = std::min<long long>(left, p.x);
        right = std::max<long long>(right, p.x);
        top = std::min<long long>(top, p.y);
        bottom = std::max<long long>(bottom, p.y);
    }
    if (right < left)
        return {};
    // Segments stay within the box of their ends; pen stamps and markers reach beyond it by their size.
    const bool lines = style.style != 0 && !style.noLine;
    const bool markers = style.style != 1;
    long long reach = 0;
    if (lines)
        reach = std::max<long long>(reach, std::max(1, style.pen.width) / 2 + 1);
    if (markers)
        reach = std::max<long long>(reach, std::min<long long>(std::max(0, style.markerRadius), kPixelLimit));
    PlotRect r;
    r.left = static_cast<int>(std::max<long long>(left - reach, clip.left));
    r.top = static_cast<int>(std::max<long long>(top - reach, clip.top));
    r.right = static_cast<int>(std::min<long long>(right + reach + 1, clip.right));
    r.bottom = static_cast<int>(std::min<long long>(bottom + reach + 1, clip.bottom));
    if (r.Empty())
        return {};
    return r;
}

}  // namespace zelkor::widgets::chart
