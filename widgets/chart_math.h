#pragma once
// Numeric core of the data chart: data-to-pixel mapping with its truncations, equal scale, the nice
// major step, tick multiples and label formatting, series windows found by bisection, pick indices, the
// scroll-bar model and the mouse-wheel rule. Plain C++ so that every rule is unit-tested exactly.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace zelkor::widgets::chart {

// Pixel coordinates are clamped to +-kPixelLimit so that far-away data (or infinities) never overflow
// the integer arithmetic of the rasteriser; NaN maps to kNoPixel and is not drawn.
inline constexpr int kPixelLimit = 1 << 28;
inline constexpr int kNoPixel = std::numeric_limits<int>::min();

// Truncation toward zero, clamped to +-kPixelLimit; kNoPixel for NaN.
int TruncPixel(double v);

// Plot rectangle in client pixels; right and bottom are exclusive (the plot covers columns
// left..right-1 and rows top..bottom-1).
struct PlotRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const PlotRect&) const = default;
};

// One axis of the mapping: pixel(v) = base + sign * trunc(v * scale), base = trunc(origin).
struct AxisMap {
    double scale = 1;   // pixels per unit
    double origin = 0;  // pixel of the value 0, before truncation
    int base = 0;       // trunc(origin)
    int sign = 1;       // +1: values grow with the pixel index, -1: they grow towards index 0
    int Pixel(double v) const;
    // Data value at a pixel, the exact inverse of the untruncated mapping.
    double ValueAt(int pixel) const;
    bool operator==(const AxisMap&) const = default;
};

struct Mapping {
    AxisMap x, y;
    int Column(double v) const { return x.Pixel(v); }
    int Row(double v) const { return y.Pixel(v); }
    bool operator==(const Mapping&) const = default;
};

// A span of exactly 0 is drawn as 1.
double UsableSpan(double span);

// Builds the mapping of a plot rectangle (spans already passed through UsableSpan by the caller or not:
// this applies it again).
Mapping MakeMapping(const PlotRect& plot, double xMin, double xSpan, double yMin, double ySpan,
                    bool xMirrored, bool yUp);

// Equal scale: with adaptX the x span follows the y span and the plot's aspect ratio, else the y span
// follows the x span. The max of the changed axis is kept at min + span. Nothing changes for an empty plot.
void ApplyEqualScale(const PlotRect& plot, bool adaptX, double xMin, double& xSpan, double& xMax,
                     double yMin, double& ySpan, double& yMax);

// Major step whose divisions are at least about 80 pixels wide along a plot of plotLength pixels;
// the span itself when none is found, when the span is not positive or not finite.
double NiceStep(double span, int plotLength);

// Decimals of tick labels: |floor(log10(step))| for steps below 1, else 0 (at most 30).
int LabelDecimals(double step);

// Fixed-point text of a tick value with the given decimals.
std::string FormatFixed(double v, int decimals);

// Multiples k * step, k from trunc(from / step), while the multiple is <= upTo. Empty when the step is
// not positive and finite, the bounds are not finite, or there would be more than maxCount of them
// (a step far too small for the plot draws nothing rather than hanging the paint).
std::vector<double> Multiples(double from, double step, double upTo, std::size_t maxCount);

// Window of a series for the view [a, b): first = the last index whose value is <= a (0 when none),
// count = number of points from first up to the last one whose value is < b. Bisection, so the values
// are assumed non-decreasing; any input gives an in-range result.
struct SeriesWindow {
    int first = 0;
    int count = 0;
    bool operator==(const SeriesWindow&) const = default;
};
SeriesWindow WindowForRange(const std::vector<double>& values, double a, double b);

// Within the window [first, first + count) of values: the first index whose value is >= v; the window's
// last index when there is none. The window is clipped to the list; -1 when it is empty.
int FirstIndexAtOrAbove(const std::vector<double>& values, int first, int count, double v);

// A scroll bar as the chart uses it: range min..max, page, position; the position is kept within
// min..max - (page - 1).
struct ScrollBarModel {
    int min = 0;
    int max = 0;
    int page = 2;
    int pos = 0;
    int MaxPos() const;
    int Clamp(int p) const;
    // Sets range and page, then clamps the position.
    void Set(int newMin, int newMax, int newPage, int newPos);
    bool HasRange() const { return max > min; }
};

enum class ScrollRequest { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top, Bottom };

// The position a scroll request leads to (Bottom is ignored: it keeps the position).
int ScrollTarget(const ScrollBarModel& bar, ScrollRequest request, int thumb);

// Mouse wheel: wheelScrollLines < 0 means a whole page per notch. Positive delta (away from the user)
// scrolls up. Lines = max(1, L * (|delta| / 120) / 3), integer divisions.
struct WheelScroll {
    bool page = false;
    bool up = false;
    int lines = 0;
};
WheelScroll WheelScrollFor(int delta, int wheelScrollLines);

}  // namespace zelkor::widgets::chart
