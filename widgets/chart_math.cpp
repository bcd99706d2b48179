#include "chart_math.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zelkor::widgets::chart {

int TruncPixel(double v)
{
    if (std::isnan(v))
        return kNoPixel;
    const double t = std::trunc(v);
    if (t >= kPixelLimit)
        return kPixelLimit;
    if (t <= -kPixelLimit)
        return -kPixelLimit;
    return static_cast<int>(t);
}

namespace {

int ClampPixel(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, -kPixelLimit, kPixelLimit));
}

}  // namespace

int AxisMap::Pixel(double v) const
{
    const int offset = TruncPixel(v * scale);
    if (offset == kNoPixel || base == kNoPixel)
        return kNoPixel;
    return ClampPixel(static_cast<long long>(base) + static_cast<long long>(sign) * offset);
}

double AxisMap::ValueAt(int pixel) const
{
    return static_cast<double>(sign) * (static_cast<double>(pixel) - origin) / scale;
}

double UsableSpan(double span) { return span == 0.0 ? 1.0 : span; }

Mapping MakeMapping(const PlotRect& plot, double xMin, double xSpan, double yMin, double ySpan,
                    bool xMirrored, bool yUp)
{
    Mapping m;
    m.x.scale = static_cast<double>(plot.Width()) / UsableSpan(xSpan);
    m.y.scale = static_cast<double>(plot.Height()) / UsableSpan(ySpan);
    if (xMirrored) {
        m.x.origin = plot.right + m.x.scale * xMin;
        m.x.sign = -1;
    } else {
        m.x.origin = plot.left - m.x.scale * xMin;
        m.x.sign = 1;
    }
    if (yUp) {
        m.y.origin = plot.bottom + m.y.scale * yMin;
        m.y.sign = -1;
    } else {
        m.y.origin = plot.top - m.y.scale * yMin;
        m.y.sign = 1;
    }
    m.x.base = TruncPixel(m.x.origin);
    m.y.base = TruncPixel(m.y.origin);
    return m;
}

void ApplyEqualScale(const PlotRect& plot, bool adaptX, double xMin, double& xSpan, double& xMax,
                     double yMin, double& ySpan, double& yMax)
{
    if (plot.Empty())
        return;
    const double w = plot.Width();
    const double h = plot.Height();
    if (adaptX) {
        xSpan = w / h * ySpan;
        xMax = xMin + xSpan;
    } else {
        ySpan = h / w * xSpan;
        yMax = yMin + ySpan;
    }
}

double NiceStep(double span, int plotLength)
{
    if (!(span > 0) || !std::isfinite(span))
        return span;
    const auto n = static_cast<std::uint32_t>(std::max(plotLength, 0));
    for (int i = static_cast<int>(std::trunc(std::log10(span))) - 2; std::abs(i) <= 9; ++i) {
        const double d = std::pow(10.0, i);
        for (const double step : {d, 2 * d, 5 * d}) {
            // Whole numbers compared unsigned; quotients too large for 32 bits never qualify.
            const double q = std::trunc(span / step);
            if (q * 80.0 >= 4294967296.0)
                continue;
            const auto divisions = static_cast<std::uint32_t>(q);
            if (divisions * 80u < n)
                return step;
        }
    }
    return span;
}

int LabelDecimals(double step)
{
    if (!(step < 1) || !(step > 0) || !std::isfinite(step))
        return 0;
    return std::min(30, static_cast<int>(std::abs(std::floor(std::log10(step)))));
}

std::string FormatFixed(double v, int decimals)
{
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", std::clamp(decimals, 0, 30), v);
    return buf;
}

std::vector<double> Multiples(double from, double step, double upTo, std::size_t maxCount)
{
    std::vector<double> out;
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(from) || !std::isfinite(upTo))
        return out;
    const double k0 = std::trunc(from / step);
    const double last = std::floor(upTo / step);
    if (!std::isfinite(k0) || !std::isfinite(last))
        return out;
    if (last - k0 + 1 > static_cast<double>(maxCount))
        return out;
    for (double k = k0;; k += 1) {
        const double v = k * step;
        if (!(v <= upTo))
            break;
        if (out.size() >= maxCount)  // rounding of upTo / step can add one more; never exceed the cap
            break;
        out.push_back(v);
    }
    return out;
}

SeriesWindow WindowForRange(const std::vector<double>& values, double a, double b)
{
    // first: last index with value <= a, i.e. (upper_bound(a) - 1), or 0.
    const auto ub = std::upper_bound(values.begin(), values.end(), a);
    const int first = ub == values.begin() ? 0 : static_cast<int>(ub - values.begin()) - 1;
    // last: last index with value < b, i.e. lower_bound(b) - 1.
    const auto lb = std::lower_bound(values.begin(), values.end(), b);
    const int last = static_cast<int>(lb - values.begin()) - 1;
    SeriesWindow w;
    w.first = first;
    w.count = std::max(0, last - first + 1);
    return w;
}

int FirstIndexAtOrAbove(const std::vector<double>& values, int first, int count, double v)
{
    const int size = static_cast<int>(std::min<std::size_t>(values.size(), 0x7fffffff));
    const int begin = std::clamp(first, 0, size);
    const long long endLong = std::clamp<long long>(static_cast<long long>(begin) + std::max(count, 0), 0, size);
    const int end = static_cast<int>(endLong);
    if (end <= begin)
        return -1;
    for (int i = begin; i < end; ++i) {
        if (values[static_cast<std::size_t>(i)] >= v)
            return i;
    }
    return end - 1;
}

int ScrollBarModel::MaxPos() const
{
    const long long m = static_cast<long long>(max) - std::max(page - 1, 0);
    return static_cast<int>(std::max<long long>(min, std::min<long long>(m, max)));
}

int ScrollBarModel::Clamp(int p) const { return std::clamp(p, min, std::max(min, MaxPos())); }

void ScrollBarModel::Set(int newMin, int newMax, int newPage, int newPos)
{
    min = newMin;
    max = std::max(newMin, newMax);
    page = std::max(0, newPage);
    pos = Clamp(newPos);
}

int ScrollTarget(const ScrollBarModel& bar, ScrollRequest request, int thumb)
{
    long long p = bar.pos;
    switch (request) {
    case ScrollRequest::LineUp: p -= 1; break;
    case ScrollRequest::LineDown: p += 1; break;
    case ScrollRequest::PageUp: p -= bar.page; break;
    case ScrollRequest::PageDown: p += bar.page; break;
    case ScrollRequest::ThumbPosition:
    case ScrollRequest::ThumbTrack: p = thumb; break;
    case ScrollRequest::Top: p = 0; break;
    case ScrollRequest::Bottom: break;
    }
    p = std::clamp<long long>(p, bar.min, std::max(bar.min, bar.MaxPos()));
    return static_cast<int>(p);
}

WheelScroll WheelScrollFor(int delta, int wheelScrollLines)
{
    WheelScroll w;
    if (delta == 0)
        return w;
    w.up = delta > 0;
    if (wheelScrollLines < 0) {
        w.page = true;
        return w;
    }
    const long long notches = std::abs(static_cast<long long>(delta)) / 120;
    w.lines = static_cast<int>(std::clamp<long long>(wheelScrollLines * notches / 3, 1, 1 << 20));
    return w;
}

}  // namespace zelkor::widgets::chart
