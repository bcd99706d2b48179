#pragma once
// Aliased drawing of chart primitives straight into 32-bit pixel memory: lines of any width with
// optional dash patterns, filled discs, rectangles. The chart draws grids, axes and series with these
// rather than with QPainter so that every pixel position follows from integer rules (tests check exact
// pixels), a full repaint and a cached one give identical pictures, and 100,000-point series stay cheap.
// Plain C++; colours are 0xAARRGGBB words written as they are (opaque colours have alpha 0xff).

#include "chart_math.h"

#include <cstdint>
#include <vector>

namespace zelkor::widgets::chart {

// A pixel buffer with a clip rectangle (right and bottom exclusive). The buffer covers width x height
// pixels from (originX, originY), so a layer can hold just the plot area and still be addressed in
// client coordinates. The optional touched rectangle grows to cover every pixel written.
struct PixelTarget {
    std::uint32_t* bits = nullptr;
    int stride = 0;  // in pixels
    int width = 0;
    int height = 0;
    int originX = 0, originY = 0;
    PlotRect clip;
    PlotRect* touched = nullptr;

    // Clip limited to the buffer.
    PlotRect EffectiveClip() const;
    std::uint32_t* Pixel(int x, int y) const
    {
        return bits + (static_cast<std::ptrdiff_t>(y - originY) * stride + (x - originX));
    }
};

// Dash patterns as on/off run lengths in pixels along the line's major direction; empty means solid.
using DashPattern = std::vector<int>;

struct LinePen {
    int width = 1;        // values below 1 draw 1 pixel wide
    DashPattern pattern;  // empty: solid
};

// Pattern of a line style for a pen width (Qt::PenStyle values: 1 solid, 2 dash, 3 dot, 4 dash-dot,
// 5 dash-dot-dot); style 0 (no pen) returns an empty pattern and noLine = true.
DashPattern PatternForStyle(int penStyle, int width, bool& noLine);

void FillRect(PixelTarget& t, const PlotRect& r, std::uint32_t colour);

// Line from (x0, y0) to (x1, y1), both end pixels included. For every major coordinate the pixel of the
// exact line rounded to nearest (halves towards the larger minor coordinate, measured from the end with
// the smaller major coordinate); wide pens stamp a disc of the pen's width on each of them. phase counts pattern
// pixels and carries on from one segment to the next; it advances by the segment's major length.
void DrawLine(PixelTarget& t, int x0, int y0, int x1, int y1, std::uint32_t colour, const LinePen& pen,
              long long& phase);

// Filled disc of the pixels with dx^2 + dy^2 <= r^2 + r around (cx, cy); r = 0 is one pixel, r < 0 nothing.
void FillDisc(PixelTarget& t, int cx, int cy, int r, std::uint32_t colour);

// Copies the non-transparent pixels (alpha != 0) of a layer over the target within the rectangle (and
// within both buffers and the target's clip).
void CompositeOpaque(PixelTarget& dst, const PixelTarget& src, const PlotRect& r);

// Drawing state of a series carried from one batch of points to the next.
struct SeriesDrawState {
    bool havePrevious = false;
    int prevX = 0, prevY = 0;
    long long phase = 0;
    bool prevEndsSegment = false;  // the previous point was reached by a segment
};

struct SeriesStyle {
    int style = 1;  // 0 markers, 1 polyline, other polyline with markers
    int markerRadius = 4;
    std::uint32_t markerColour = 0xffff0000;
    std::uint32_t lineColour = 0xffff0000;
    LinePen pen;
    bool noLine = false;
    bool operator==(const SeriesStyle& o) const
    {
        return style == o.style && markerRadius == o.markerRadius && markerColour == o.markerColour &&
               lineColour == o.lineColour && pen.width == o.pen.width && pen.pattern == o.pen.pattern &&
               noLine == o.noLine;
    }
};

struct PixelPoint {
    int x = 0, y = 0;  // x == kNoPixel: a point that is not drawn and breaks the line
    bool operator==(const PixelPoint&) const = default;
};

// Draws points in order: markers; or segments from the previous point; or segments each followed by the
// marker of the point it reaches (the first point of a line gets its marker straight away). The state
// comes out the same whatever the clip, so drawing a series piece by piece, or only inside a part of
// the picture, carries its dash pattern on as one drawing of all its points does.
void DrawSeriesPoints(PixelTarget& t, const SeriesStyle& style, const PixelPoint* points, std::size_t n,
                      SeriesDrawState& state);

// A rectangle covering every pixel DrawSeriesPoints can write for these points (segments between them
// included), limited to clip; empty when there is nothing to draw.
PlotRect SeriesBounds(const SeriesStyle& style, const PixelPoint* points, std::size_t n, const PlotRect& clip);

}  // namespace zelkor::widgets::chart
