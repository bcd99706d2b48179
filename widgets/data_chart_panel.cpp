#include "data_chart_panel.h"

#include "font_cells.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zelkor::widgets {

using chart::Mapping;
using chart::PixelPoint;
using chart::PlotRect;

namespace {

// Series with at least this many drawn points keep a layer of their own, so that a repaint redraws only
// what was added since the last one.
constexpr int kLayerThreshold = 256;

constexpr int kLabelBoxWidth = 45;
constexpr int kLabelBoxHeight = 19;

const QString kLabelFace = QStringLiteral("Times New Roman");

std::uint32_t Opaque(const QColor& c) { return 0xff000000u | (c.rgb() & 0x00ffffffu); }

bool Finite(double v) { return std::isfinite(v); }

// Whether 0 lies within [min, min + span] (either order for a negative span).
bool ContainsZero(double min, double span)
{
    const double a = min, b = min + span;
    return std::min(a, b) <= 0 && 0 <= std::max(a, b);
}

std::size_t MaxLines(int length) { return static_cast<std::size_t>(std::max(64, 2 * length + 16)); }

// Values of the multiples of step over the data range of one axis.
std::vector<double> AxisMultiples(double min, double span, double step, int length, double extra = 0)
{
    const double lo = std::min(min, min + span);
    const double hi = std::max(min, min + span) + extra;
    return chart::Multiples(lo, step, hi, MaxLines(length));
}

QFont LabelFont(int height, bool italic) { return FontForCellHeight(kLabelFace, height, 400, italic, kWesternCharSet); }

// Top edge of text of the given height placed on the negative-y side of a row, its near edge 5 px away.
int TextTopBelow(int row, int height, bool yUp) { return yUp ? row + 5 : row - 5 - height; }

// Draws "name " italic followed by "/ unit" upright, top-left at (x, top); returns nothing.
void DrawTitle(QPainter& p, int x, int top, const QString& name, const QString& unit, int height)
{
    const QFont italic = LabelFont(height, true);
    const QFont upright = LabelFont(height, false);
    const QString n = name + QLatin1Char(' ');
    const QFontMetrics fi(italic);
    p.setFont(italic);
    p.drawText(QPoint(x, top + fi.ascent()), n);
    if (unit.isEmpty())
        return;
    const QFontMetrics fu(upright);
    p.setFont(upright);
    p.drawText(QPoint(x + fi.horizontalAdvance(n), top + fu.ascent()), QStringLiteral("/ ") + unit);
}

chart::ScrollRequest RequestForAction(int action, bool& known)
{
    known = true;
    switch (action) {
    case QAbstractSlider::SliderSingleStepAdd: return chart::ScrollRequest::LineDown;
    case QAbstractSlider::SliderSingleStepSub: return chart::ScrollRequest::LineUp;
    case QAbstractSlider::SliderPageStepAdd: return chart::ScrollRequest::PageDown;
    case QAbstractSlider::SliderPageStepSub: return chart::ScrollRequest::PageUp;
    case QAbstractSlider::SliderToMinimum: return chart::ScrollRequest::Top;
    case QAbstractSlider::SliderToMaximum: return chart::ScrollRequest::Bottom;
    case QAbstractSlider::SliderMove: return chart::ScrollRequest::ThumbTrack;
    default: known = false; return chart::ScrollRequest::Bottom;
    }
}

}  // namespace

struct CDataChartPanel::SeriesCache {
    struct Key {
        Mapping mapping;
        PlotRect plot;
        chart::SeriesStyle style;
        QSize size;
        bool operator==(const Key&) const = default;
    };
    Key key;
    bool valid = false;
    std::vector<PixelPoint> points;
    chart::SeriesDrawState state;
    std::vector<std::uint32_t> layer;
    PlotRect touched;
    bool used = false;
};

CDataChartPanel::CDataChartPanel(QWidget* parent, bool horizontalAutoScroll, bool verticalAutoScroll)
    : QWidget(parent), m_hAuto(horizontalAutoScroll), m_vAuto(verticalAutoScroll)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    if (m_hAuto) {
        m_hBar = new QScrollBar(Qt::Horizontal, this);
        connect(m_hBar, &QScrollBar::actionTriggered, this, [this](int a) { OnBarAction(true, a); });
        m_hBar->installEventFilter(this);
    }
    if (m_vAuto) {
        m_vBar = new QScrollBar(Qt::Vertical, this);
        connect(m_vBar, &QScrollBar::actionTriggered, this, [this](int a) { OnBarAction(false, a); });
        m_vBar->installEventFilter(this);
    }
    SyncBars();
    LayoutBars();
}

CDataChartPanel::~CDataChartPanel() = default;

void CDataChartPanel::SetSeriesList(std::vector<CChartSeries*> series)
{
    series.erase(std::remove(series.begin(), series.end(), nullptr), series.end());
    m_series = std::move(series);
    Redraw();
}

void CDataChartPanel::Redraw()
{
    m_needRender = true;
    update();
}

void CDataChartPanel::SetCachingEnabled(bool on)
{
    m_caching = on;
    m_staticValid = false;
    m_cache.clear();
    Redraw();
}

QSize CDataChartPanel::ClientSize() const
{
    int w = width(), h = height();
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    if (m_vBar)
        w -= extent;
    if (m_hBar)
        h -= extent;
    return {std::max(0, w), std::max(0, h)};
}

PlotRect CDataChartPanel::PlotArea() const
{
    const QSize s = ClientSize();
    return {view.leftMargin, view.topMargin, s.width() - view.rightMargin, s.height() - view.bottomMargin};
}

Mapping CDataChartPanel::CurrentMapping() const
{
    const PlotRect plot = PlotArea();
    double xSpan = view.xSpan, xMax = view.xMax, ySpan = view.ySpan, yMax = view.yMax;
    if (view.equalScale)
        chart::ApplyEqualScale(plot, view.adaptX, view.xMin, xSpan, xMax, view.yMin, ySpan, yMax);
    return chart::MakeMapping(plot, view.xMin, xSpan, view.yMin, ySpan, view.xMirrored, view.yUp);
}

chart::PixelTarget CDataChartPanel::TargetFor(QImage& img, const PlotRect& clip)
{
    chart::PixelTarget t;
    t.bits = reinterpret_cast<std::uint32_t*>(img.bits());
    t.stride = static_cast<int>(img.bytesPerLine() / 4);
    t.width = img.width();
    t.height = img.height();
    t.clip = clip;
    return t;
}

QImage CDataChartPanel::TitleImage(int id)
{
    if (id <= 0)
        return {};
    auto it = m_titleImages.find(id);
    if (it == m_titleImages.end())
        it = m_titleImages.insert(id, QImage(QStringLiteral(":/bitmap/%1.png").arg(id)));
    return *it;
}

// ---------------------------------------------------------------------------------------------------
// Paint

const QImage& CDataChartPanel::RenderNow()
{
    Render();
    return m_buffer;
}

void CDataChartPanel::paintEvent(QPaintEvent* event)
{
    // Paint events that only show what incremental appends drew need no new paint.
    const bool appendsOnly = !m_needRender && !m_buffer.isNull() && m_buffer.size() == ClientSize() &&
                             event->region().subtracted(m_appendRegion).isEmpty();
    if (!appendsOnly)
        Render();
    m_appendRegion = QRegion();
    if (m_buffer.isNull())
        return;
    QPainter p(this);
    p.drawImage(0, 0, m_buffer);
}

void CDataChartPanel::Render()
{
    m_needRender = false;
    m_appendRegion = QRegion();
    m_lastPlot = {};
    const QSize size = ClientSize();
    if (size.isEmpty()) {
        m_buffer = QImage();
        return;
    }
    if (m_buffer.size() != size || m_buffer.format() != QImage::Format_RGB32)
        m_buffer = QImage(size, QImage::Format_RGB32);

    const PlotRect plot = PlotArea();
    if (plot.Empty()) {
        m_buffer.fill(panelBackground.rgb());
        return;
    }
    // 1. Equal scale and mapping; 2. automatic steps (both are kept in the view, as the owner sees them).
    if (view.equalScale)
        chart::ApplyEqualScale(plot, view.adaptX, view.xMin, view.xSpan, view.xMax, view.yMin, view.ySpan,
                               view.yMax);
    if (view.autoXStep)
        view.xMajorStep = chart::NiceStep(view.xSpan, plot.Width());
    if (view.autoYStep)
        view.yMajorStep = chart::NiceStep(view.ySpan, plot.Height());
    const Mapping m = CurrentMapping();
    m_lastMapping = m;
    m_lastPlot = plot;

    const StaticKey key{view, size, panelBackground};
    if (m_caching && m_staticValid && key == m_staticKey && m_static.size() == size) {
        std::memcpy(m_buffer.bits(), m_static.constBits(), static_cast<std::size_t>(m_buffer.sizeInBytes()));
    } else {
        RenderStatic(plot, m);
        if (m_caching) {
            m_static = m_buffer.copy();
            m_staticKey = key;
            m_staticValid = true;
        }
    }
    const bool usable = Finite(view.xMin) && Finite(view.yMin) && Finite(m.x.scale) && Finite(m.y.scale) &&
                        Finite(m.x.origin) && Finite(m.y.origin) && m.x.scale != 0 && m.y.scale != 0;
    if (!usable)
        return;
    RenderSeries(plot, m);
    RenderPickMarks(plot, m);
}

void CDataChartPanel::RenderStatic(const PlotRect& plot, const Mapping& m)
{
    m_buffer.fill(panelBackground.rgb());
    chart::PixelTarget all = TargetFor(m_buffer, {0, 0, m_buffer.width(), m_buffer.height()});
    chart::FillRect(all, plot, Opaque(view.plotBackground));
    long long phase = 0;
    const chart::LinePen thin{1, {}};
    if (view.plotBorder) {
        const std::uint32_t black = 0xff000000u;
        chart::DrawLine(all, plot.left, plot.top, plot.right - 1, plot.top, black, thin, phase);
        chart::DrawLine(all, plot.left, plot.bottom - 1, plot.right - 1, plot.bottom - 1, black, thin, phase);
        chart::DrawLine(all, plot.left, plot.top, plot.left, plot.bottom - 1, black, thin, phase);
        chart::DrawLine(all, plot.right - 1, plot.top, plot.right - 1, plot.bottom - 1, black, thin, phase);
    }
    const bool usable = Finite(view.xMin) && Finite(view.yMin) && Finite(m.x.scale) && Finite(m.y.scale) &&
                        Finite(m.x.origin) && Finite(m.y.origin) && m.x.scale != 0 && m.y.scale != 0;
    if (!usable)
        return;

    // 3. Grids strictly inside the plot, from 1 px inside one edge to 1 px inside the other.
    const double xSpan = chart::UsableSpan(view.xSpan), ySpan = chart::UsableSpan(view.ySpan);
    const chart::LinePen dotted{1, {1, 1}};
    auto verticals = [&](double step, const chart::LinePen& pen, std::uint32_t colour) {
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width())) {
            const int c = m.Column(v);
            if (c > plot.left && c < plot.right - 1) {
                long long ph = 0;
                chart::DrawLine(all, c, plot.top + 1, c, plot.bottom - 2, colour, pen, ph);
            }
        }
    };
    auto horizontals = [&](double step, const chart::LinePen& pen, std::uint32_t colour) {
        for (double v : AxisMultiples(view.yMin, ySpan, step, plot.Height())) {
            const int r = m.Row(v);
            if (r > plot.top && r < plot.bottom - 1) {
                long long ph = 0;
                chart::DrawLine(all, plot.left + 1, r, plot.right - 2, r, colour, pen, ph);
            }
        }
    };
    const std::uint32_t minor = Opaque(view.minorGridColour), major = Opaque(view.majorGridColour);
    if (view.xMinorGrid)
        verticals(view.xMajorStep / 5, dotted, minor);
    if (view.yMinorGrid)
        horizontals(view.yMajorStep / 5, dotted, minor);
    verticals(view.xMajorStep, thin, major);
    horizontals(view.yMajorStep, thin, major);

    DrawAxisX(m_buffer, plot, m);
    DrawAxisY(m_buffer, plot, m);
}

void CDataChartPanel::DrawAxisX(QImage& img, const PlotRect& plot, const Mapping& m)
{
    chart::PixelTarget all = TargetFor(img, {0, 0, img.width(), img.height()});
    const double xSpan = chart::UsableSpan(view.xSpan), ySpan = chart::UsableSpan(view.ySpan);
    const std::uint32_t colour = Opaque(view.xAxisColour);
    const chart::LinePen pen{std::max(1, view.axisLineWidth), {}};
    const chart::LinePen thin{1, {}};
    const bool axis = ContainsZero(view.yMin, ySpan);
    const int row = axis ? m.Row(0) : m.Row(view.yMin);
    const int toPositiveY = view.yUp ? -1 : 1;
    const double step = view.xMajorStep;

    // 4. Axis line, arrow head and ticks.
    if (axis) {
        long long ph = 0;
        chart::DrawLine(all, plot.left, row, plot.right - 1, row, colour, pen, ph);
        if (view.xArrow) {
            // The positive end: right, or left when mirrored.
            const int dir = view.xMirrored ? -1 : 1;
            const int edge = view.xMirrored ? plot.left : plot.right;
            const int margin = view.xMirrored ? view.leftMargin : view.rightMargin;
            const int tip = edge + dir * (margin - 2);
            chart::DrawLine(all, edge, row, tip, row, colour, pen, ph);
            for (int k = 0; k <= 3; ++k) {
                chart::DrawLine(all, tip - dir * 13, row - k, tip, row, colour, pen, ph);
                chart::DrawLine(all, tip - dir * 13, row + k, tip, row, colour, pen, ph);
            }
        }
        for (double v : AxisMultiples(view.xMin, xSpan, step / 5, plot.Width())) {
            const int c = m.Column(v);
            if (c >= plot.left && c < plot.right)
                chart::DrawLine(all, c, row + toPositiveY, c, row + 2 * toPositiveY, colour, thin, ph);
        }
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width())) {
            const int c = m.Column(v);
            if (c > plot.left && c < plot.right - 1)
                chart::DrawLine(all, c, row + toPositiveY, c, row + 5 * toPositiveY, colour, thin, ph);
        }
    }

    QPainter p(&img);
    p.setPen(view.xAxisColour);
    // 5. Tick labels along the axis row (the y-min edge when the axis is not drawn).
    if (view.xLabels && step > 0 && Finite(step)) {
        const QFont font = LabelFont(view.xLabelHeight, false);
        const QFontMetrics fm(font);
        p.setFont(font);
        const int decimals = chart::LabelDecimals(step);
        const int top = TextTopBelow(row, fm.height(), view.yUp);
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width(), step)) {
            if (v == 0)
                continue;
            const int c = m.Column(v);
            if (c > plot.right)
                continue;
            const QString text = QString::fromStdString(chart::FormatFixed(v, decimals));
            const int w = fm.horizontalAdvance(text);
            if (c - w < plot.left)
                continue;
            p.drawText(QPoint(c - w, top + fm.ascent()), text);
        }
    }
    // 6. Title right of the plot, on the labels' row.
    const int titleX = plot.right + 5;
    const int titleHeight = QFontMetrics(LabelFont(view.xLabelHeight, false)).height();
    if (!view.xName.isEmpty()) {
        DrawTitle(p, titleX, TextTopBelow(row, titleHeight, view.yUp), view.xName, view.xUnit, view.xLabelHeight);
    } else if (view.xTitlePicture) {
        const QImage pic = TitleImage(view.xTitleImage);
        if (!pic.isNull())
            p.drawImage(QPoint(titleX, TextTopBelow(row, pic.height(), view.yUp)), pic);
    }
}

void CDataChartPanel::DrawAxisY(QImage& img, const PlotRect& plot, const Mapping& m)
{
    chart::PixelTarget all = TargetFor(img, {0, 0, img.width(), img.height()});
    const double xSpan = chart::UsableSpan(view.xSpan), ySpan = chart::UsableSpan(view.ySpan);
    const std::uint32_t colour = Opaque(view.yAxisColour);
    const chart::LinePen pen{std::max(1, view.axisLineWidth), {}};
    const chart::LinePen thin{1, {}};
    const bool axis = ContainsZero(view.xMin, xSpan);
    const int col = axis ? m.Column(0) : m.Column(view.xMin);
    const int toPositiveX = view.xMirrored ? -1 : 1;
    const double step = view.yMajorStep;

    // 7. Axis line, arrow head beyond the y-max end, ticks over the whole plot height.
    if (axis) {
        long long ph = 0;
        chart::DrawLine(all, col, plot.bottom - 1, col, plot.top, colour, pen, ph);
        if (view.yArrow) {
            const int dir = view.yUp ? -1 : 1;
            const int edge = view.yUp ? plot.top : plot.bottom;
            const int margin = view.yUp ? view.topMargin : view.bottomMargin;
            const int tip = edge + dir * (margin - 2);
            chart::DrawLine(all, col, edge, col, tip, colour, pen, ph);
            for (int k = 0; k <= 3; ++k) {
                chart::DrawLine(all, col - k, tip - dir * 13, col, tip, colour, pen, ph);
                chart::DrawLine(all, col + k, tip - dir * 13, col, tip, colour, pen, ph);
            }
        }
        for (double v : AxisMultiples(view.yMin, ySpan, step / 5, plot.Height())) {
            const int r = m.Row(v);
            if (r >= plot.top && r < plot.bottom)
                chart::DrawLine(all, col + toPositiveX, r, col + 2 * toPositiveX, r, colour, thin, ph);
        }
        for (double v : AxisMultiples(view.yMin, ySpan, step, plot.Height())) {
            const int r = m.Row(v);
            if (r >= plot.top && r < plot.bottom)
                chart::DrawLine(all, col + toPositiveX, r, col + 5 * toPositiveX, r, colour, thin, ph);
        }
    }

    QPainter p(&img);
    p.setPen(view.yAxisColour);
    // Tick labels 5 px left of the axis column, up to y max inclusive, not clipped to the plot.
    if (view.yLabels && step > 0 && Finite(step) && Finite(view.yMax)) {
        const QFont font = LabelFont(view.yLabelHeight, false);
        const QFontMetrics fm(font);
        p.setFont(font);
        const int decimals = chart::LabelDecimals(step);
        for (double v : chart::Multiples(view.yMin, step, view.yMax, MaxLines(plot.Height()))) {
            const QString text =
                v == 0 ? QStringLiteral("0") : QString::fromStdString(chart::FormatFixed(v, decimals));
            const int w = fm.horizontalAdvance(text);
            const int top = TextTopBelow(m.Row(v), fm.height(), view.yUp);
            p.drawText(QPoint(col - 5 - w, top + fm.ascent()), text);
        }
    }
    // Title beyond the y-max end, starting 5 px right of the axis column.
    const int titleX = col + 5;
    const int titleHeight = QFontMetrics(LabelFont(view.yLabelHeight, false)).height();
    auto topFor = [&](int h) { return view.yUp ? plot.top - 5 - h : plot.bottom + 5; };
    if (!view.yName.isEmpty()) {
        DrawTitle(p, titleX, topFor(titleHeight), view.yName, view.yUnit, view.yLabelHeight);
    } else if (view.yTitlePicture) {
        const QImage pic = TitleImage(view.yTitleImage);
        if (!pic.isNull())
            p.drawImage(QPoint(titleX, topFor(pic.height())), pic);
    }
}

chart::SeriesStyle CDataChartPanel::StyleOf(const CChartSeries& s) const
{
    chart::SeriesStyle style;
    style.style = s.style;
    style.markerRadius = s.markerRadius;
    style.markerColour = Opaque(s.markerColour);
    style.lineColour = Opaque(s.lineColour);
    style.pen.width = std::max(1, s.lineWidth);
    style.pen.pattern = chart::PatternForStyle(static_cast<int>(s.lineStyle), style.pen.width, style.noLine);
    return style;
}

void CDataChartPanel::RenderSeries(const PlotRect& plot, const Mapping& m)
{
    chart::PixelTarget target = TargetFor(m_buffer, plot);
    for (auto& [ptr, entry] : m_cache)
        entry->used = false;

    for (CChartSeries* s : m_series) {
        if (!s->x.empty() && !s->y.empty() && reverseDecreasing && s->x.back() < s->x.front()) {
            std::reverse(s->x.begin(), s->x.end());
            std::reverse(s->y.begin(), s->y.end());
        }
        if (!s->visible)
            continue;
        const std::size_t size = std::min(s->x.size(), s->y.size());
        const std::size_t first = static_cast<std::size_t>(std::max(0, s->firstDrawn));
        if (first >= s->x.size())
            continue;
        const std::size_t count =
            first >= size ? 0 : std::min<std::size_t>(static_cast<std::size_t>(std::max(0, s->numberDrawn)), size - first);

        const chart::SeriesStyle style = StyleOf(*s);

        m_scratch.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const double x = s->x[first + i], y = s->y[first + i];
            PixelPoint pt{m.Column(x), m.Row(y)};
            if (pt.x == chart::kNoPixel || pt.y == chart::kNoPixel || !Finite(x) || !Finite(y))
                pt = {chart::kNoPixel, chart::kNoPixel};
            m_scratch[i] = pt;
        }

        if (m_caching && count >= static_cast<std::size_t>(kLayerThreshold)) {
            auto& slot = m_cache[s];
            if (!slot)
                slot = std::make_unique<SeriesCache>();
            SeriesCache& c = *slot;
            c.used = true;
            const SeriesCache::Key key{m, plot, style, m_buffer.size()};
            const std::size_t pixels = static_cast<std::size_t>(m_buffer.width()) * m_buffer.height();
            const bool grown = c.valid && c.key == key && c.layer.size() == pixels && c.points.size() <= count &&
                               std::equal(c.points.begin(), c.points.end(), m_scratch.begin());
            chart::PixelTarget layer;
            layer.bits = c.layer.data();
            layer.stride = m_buffer.width();
            layer.width = m_buffer.width();
            layer.height = m_buffer.height();
            layer.clip = plot;
            if (!grown) {
                if (c.layer.size() != pixels)
                    c.layer.assign(pixels, 0);
                else
                    for (int y = std::max(0, c.touched.top); y < std::min(c.touched.bottom, layer.height); ++y)
                        std::fill(c.layer.begin() + static_cast<std::ptrdiff_t>(y) * layer.stride + std::max(0, c.touched.left),
                                  c.layer.begin() + static_cast<std::ptrdiff_t>(y) * layer.stride +
                                      std::min(c.touched.right, layer.width),
                                  0u);
                layer.bits = c.layer.data();
                c.touched = {};
                c.state = {};
                c.points.clear();
                c.key = key;
                c.valid = true;
            }
            layer.touched = &c.touched;
            const std::size_t done = c.points.size();
            chart::DrawSeriesPoints(layer, style, m_scratch.data() + done, count - done, c.state);
            c.points.insert(c.points.end(), m_scratch.begin() + static_cast<std::ptrdiff_t>(done),
                            m_scratch.begin() + static_cast<std::ptrdiff_t>(count));
            chart::CompositeOpaque(target, c.layer.data(), layer.stride, c.touched);
        } else {
            chart::SeriesDrawState state;
            chart::DrawSeriesPoints(target, style, m_scratch.data(), count, state);
        }

        if (!s->labelText.isEmpty() && Finite(s->labelX) && Finite(s->labelY)) {
            QPainter p(&m_buffer);
            p.setClipRect(QRect(plot.left, plot.top, plot.Width(), plot.Height()));
            const QFont font = LabelFont(26, false);
            const QFontMetrics fm(font);
            p.setFont(font);
            p.setPen(s->lineColour);
            p.drawText(QPoint(m.Column(s->labelX), m.Row(s->labelY) + fm.ascent()), s->labelText);
        }
    }
    for (auto it = m_cache.begin(); it != m_cache.end();) {
        if (!it->second->used)
            it = m_cache.erase(it);
        else
            ++it;
    }
}

// ---------------------------------------------------------------------------------------------------
// Range pick

int CDataChartPanel::MarkPixelFor(const QPoint& p) const
{
    return pickOrientation == kPickHorizontal ? p.y() : p.x();
}

void CDataChartPanel::RenderPickMarks(const PlotRect& plot, const Mapping& m)
{
    if (!m_pickArmed)
        return;
    const bool horizontal = pickOrientation == kPickHorizontal;
    const chart::AxisMap& axis = horizontal ? m.y : m.x;
    QPainter p(&m_buffer);
    p.setClipRect(QRect(plot.left, plot.top, plot.Width(), plot.Height()));
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    auto mark = [&](int pixel) {
        if (horizontal)
            p.fillRect(QRect(plot.left, pixel, plot.Width(), 2), pickMarkColour);
        else
            p.fillRect(QRect(pixel, plot.top, 2, plot.Height()), pickMarkColour);
    };
    int start = m_startPixel;
    bool haveStart = m_haveStartPixel;
    if (m_haveStartOffset) {
        // The fixed start follows the data when the view moves.
        start = chart::TruncPixel(axis.origin + static_cast<double>(axis.sign) * m_startOffset * axis.scale);
        haveStart = start != chart::kNoPixel;
    }
    if (haveStart)
        mark(start);
    if (m_startFixed && m_haveEndPixel)
        mark(m_endPixel);
    p.end();

    // Label box beside the moving mark.
    if (!m_tracking || !m_havePointer || m_endFixed)
        return;
    QPainter q(&m_buffer);
    const QRect box(m_pointer.x() + 5, m_pointer.y() - 20, kLabelBoxWidth, kLabelBoxHeight);
    q.fillRect(box, QColor(192, 255, 192));
    q.setClipRect(box);
    q.setPen(Qt::black);
    q.setFont(QApplication::font());
    q.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, m_startFixed ? endMarkLabel : startMarkLabel);
}

void CDataChartPanel::ArmRangePick(bool enable, QObject* owner, PickHandler handler)
{
    m_pickArmed = enable;
    m_startFixed = m_endFixed = false;
    m_tracking = enable;
    m_haveStartPixel = m_haveEndPixel = m_haveStartOffset = false;
    m_startPixel = m_endPixel = 0;
    m_startOffset = 0;
    m_havePointer = false;
    pickResult = PickResult{};
    m_pickOwner = owner;
    m_pickHandler = std::move(handler);
    setCursor(enable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    Redraw();
}

void CDataChartPanel::StopPickTracking()
{
    m_tracking = false;
    setCursor(Qt::ArrowCursor);
    Redraw();
}

void CDataChartPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!m_pickArmed || m_endFixed || !m_tracking) {
        setCursor(Qt::ArrowCursor);
        return;
    }
    setCursor(Qt::PointingHandCursor);
    m_pointer = pos;
    m_havePointer = true;
    if (!m_startFixed) {
        m_startPixel = MarkPixelFor(pos);
        m_haveStartPixel = true;
    } else {
        m_endPixel = MarkPixelFor(pos);
        m_haveEndPixel = true;
    }
    Redraw();
}

void CDataChartPanel::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        if (m_pickArmed) {
            // Disarmed: the marks are gone for good (the stored start offset is kept but not drawn).
            m_pickArmed = m_startFixed = m_endFixed = false;
            m_tracking = false;
            m_haveStartPixel = m_haveEndPixel = false;
            m_havePointer = false;
            setCursor(Qt::ArrowCursor);
            Redraw();
        }
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pickArmed || m_endFixed || !m_tracking)
        return;
    const Mapping m = CurrentMapping();
    const chart::AxisMap& axis = pickOrientation == kPickHorizontal ? m.y : m.x;
    m_pointer = pos;
    m_havePointer = true;
    if (!m_startFixed) {
        m_startPixel = MarkPixelFor(pos);
        m_haveStartPixel = true;
        m_startOffset = axis.ValueAt(m_startPixel);
        m_haveStartOffset = Finite(m_startOffset);
        m_startFixed = true;
        Redraw();
        return;
    }
    m_endPixel = MarkPixelFor(pos);
    m_haveEndPixel = true;
    m_endFixed = true;
    setCursor(Qt::ArrowCursor);
    Redraw();
    FinishPick();
}

void CDataChartPanel::FinishPick()
{
    if (pickKind != kPickRange)
        return;
    const Mapping m = CurrentMapping();
    const bool horizontal = pickOrientation == kPickHorizontal;
    const chart::AxisMap& axis = horizontal ? m.y : m.x;
    const double startValue = m_haveStartOffset ? m_startOffset : axis.ValueAt(m_startPixel);
    const double endValue = axis.ValueAt(m_endPixel);
    if (horizontal) {
        pickResult.startY = startValue;
        pickResult.endY = endValue;
    } else {
        pickResult.startX = startValue;
        pickResult.endX = endValue;
    }
    const auto it = std::find_if(m_series.begin(), m_series.end(), [](const CChartSeries* s) { return s->selectable; });
    if (it == m_series.end()) {
        pickResult.first = pickResult.last = -1;
        return;
    }
    const CChartSeries& s = **it;
    const std::vector<double>& values = horizontal ? s.y : s.x;
    pickResult.first = chart::FirstIndexAtOrAbove(values, s.firstDrawn, s.numberDrawn, startValue);
    pickResult.last = chart::FirstIndexAtOrAbove(values, s.firstDrawn, s.numberDrawn, endValue);
    if (m_pickHandler) {
        // The handler may re-arm or disarm the pick, so work on a copy.
        const PickHandler handler = m_pickHandler;
        handler(*this, m_pickOwner.data());
    }
}

// ---------------------------------------------------------------------------------------------------
// Incremental append and scrolling

void CDataChartPanel::IncrementalAppend(CChartSeries& series, double x, double y)
{
    IncrementalAppend(series, std::vector<double>{x}, std::vector<double>{y});
}

void CDataChartPanel::IncrementalAppend(CChartSeries& s, const std::vector<double>& xs, const std::vector<double>& ys)
{
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0)
        return;
    const double xn = xs[n - 1], yn = ys[n - 1];
    if (xn > view.xMax) {
        if (m_hAuto)
            AppendAndScroll(s, xs, ys, n, true);
        return;
    }
    if (yn > view.yMax) {
        if (m_vAuto)
            AppendAndScroll(s, xs, ys, n, false);
        return;
    }
    s.x.insert(s.x.end(), xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n));
    s.y.insert(s.y.end(), ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(n));
    const std::size_t oldSize = s.x.size() - n;
    s.numberDrawn += static_cast<int>(n);
    if (!DrawAppended(s, oldSize))
        Redraw();
}

// Draws the points appended after oldSize straight onto the back buffer (and onto the series' layer, so
// that the next repaint need not draw them again). False when the picture shown does not belong to the
// current view, so that only a repaint can show the points correctly.
bool CDataChartPanel::DrawAppended(CChartSeries& s, std::size_t oldSize)
{
    const PlotRect plot = PlotArea();
    if (m_buffer.isNull() || m_needRender || m_buffer.size() != ClientSize() || plot.Empty() || !(plot == m_lastPlot))
        return false;
    const Mapping m = CurrentMapping();
    if (!(m == m_lastMapping))
        return false;
    if (!s.visible)
        return true;
    const std::size_t size = std::min(s.x.size(), s.y.size());
    if (oldSize >= size)
        return true;
    auto map = [&](std::size_t i) {
        const double x = s.x[i], y = s.y[i];
        PixelPoint pt{m.Column(x), m.Row(y)};
        if (pt.x == chart::kNoPixel || pt.y == chart::kNoPixel || !Finite(x) || !Finite(y))
            pt = {chart::kNoPixel, chart::kNoPixel};
        return pt;
    };
    std::vector<PixelPoint> fresh;
    fresh.reserve(size - oldSize);
    for (std::size_t i = oldSize; i < size; ++i)
        fresh.push_back(map(i));
    const chart::SeriesStyle style = StyleOf(s);

    // The series' layer carries on where it stopped if it holds exactly the points before these.
    chart::SeriesDrawState state;
    if (oldSize > 0) {
        const PixelPoint prev = map(oldSize - 1);
        state.havePrevious = prev.x != chart::kNoPixel;
        state.prevX = prev.x;
        state.prevY = prev.y;
    }
    const auto it = m_cache.find(&s);
    if (m_caching && it != m_cache.end()) {
        SeriesCache& c = *it->second;
        const std::size_t windowEnd = static_cast<std::size_t>(std::max(0, s.firstDrawn)) + c.points.size();
        if (c.valid && c.key == SeriesCache::Key{m, plot, style, m_buffer.size()} && windowEnd == oldSize &&
            !c.points.empty() && c.points.back() == map(oldSize - 1)) {
            state.phase = c.state.phase;
            chart::PixelTarget layer;
            layer.bits = c.layer.data();
            layer.stride = m_buffer.width();
            layer.width = m_buffer.width();
            layer.height = m_buffer.height();
            layer.clip = plot;
            layer.touched = &c.touched;
            chart::DrawSeriesPoints(layer, style, fresh.data(), fresh.size(), c.state);
            c.points.insert(c.points.end(), fresh.begin(), fresh.end());
        }
    }
    PlotRect touched;
    chart::PixelTarget target = TargetFor(m_buffer, plot);
    target.touched = &touched;
    chart::DrawSeriesPoints(target, style, fresh.data(), fresh.size(), state);
    if (!touched.Empty()) {
        const QRect r(touched.left, touched.top, touched.Width(), touched.Height());
        m_appendRegion += r;
        update(r);
    }
    return true;
}

void CDataChartPanel::AppendAndScroll(CChartSeries& s, const std::vector<double>& xs, const std::vector<double>& ys,
                                      std::size_t n, bool horizontal)
{
    s.x.insert(s.x.end(), xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n));
    s.y.insert(s.y.end(), ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(n));
    chart::ScrollBarModel& bar = horizontal ? m_hModel : m_vModel;
    const double span = horizontal ? view.xSpan : view.ySpan;
    const double unit = horizontal ? view.xScrollUnit : view.yScrollUnit;
    const std::vector<double>& values = horizontal ? s.x : s.y;
    const long long p = bar.pos, g = bar.page, mx = bar.max;
    const int newPage = chart::TruncPixel(span / unit);
    const int q = chart::TruncPixel(values.back() / unit);
    if (p + g < mx) {
        // The user has scrolled back: only the bar's range grows.
        if (q != chart::kNoPixel && mx < q)
            bar.Set(bar.min, static_cast<int>(q + g - 1), static_cast<int>(g), static_cast<int>(p));
        SyncBars();
        return;
    }
    if (scrollMode == kRollingMode) {
        s.firstDrawn += 1;
    } else {
        s.firstDrawn += s.numberDrawn;
        s.numberDrawn = static_cast<int>(n);
    }
    const std::size_t size = values.size();
    const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, s.firstDrawn)), size - 1);
    if (horizontal) {
        view.xMin = values[at];
        view.xMax = view.xMin + view.xSpan;
    } else {
        view.yMin = values[at];
        view.yMax = view.yMin + view.ySpan;
    }
    const int page = newPage == chart::kNoPixel ? 0 : newPage;
    const int pos = q == chart::kNoPixel ? 0 : q;
    bar.Set(0, pos + page - 1, page, pos);
    SyncBars();
    Redraw();
}

void CDataChartPanel::ResetHorizontalScroll()
{
    m_hModel.Set(0, 0, 2, 0);
    SyncBars();
}

void CDataChartPanel::ResetVerticalScroll()
{
    m_vModel.Set(0, 0, 2, 0);
    SyncBars();
}

void CDataChartPanel::HorizontalScroll(chart::ScrollRequest request, int thumb)
{
    ApplyScroll(true, chart::ScrollTarget(m_hModel, request, thumb));
}

void CDataChartPanel::VerticalScroll(chart::ScrollRequest request, int thumb)
{
    ApplyScroll(false, chart::ScrollTarget(m_vModel, request, thumb));
}

void CDataChartPanel::ApplyScroll(bool horizontal, int newPos)
{
    chart::ScrollBarModel& bar = horizontal ? m_hModel : m_vModel;
    if (newPos == bar.pos)
        return;
    bar.pos = newPos;
    SyncBars();
    const double unit = horizontal ? view.xScrollUnit : view.yScrollUnit;
    const double a = newPos * unit;
    const double b = a + (horizontal ? view.xSpan : view.ySpan);
    for (CChartSeries* s : m_series) {
        const std::vector<double>& values = horizontal ? s->x : s->y;
        if (values.empty())
            continue;
        const chart::SeriesWindow w = chart::WindowForRange(values, a, b);
        s->firstDrawn = w.first;
        s->numberDrawn = w.count;
    }
    if (horizontal) {
        view.xMin = a;
        view.xMax = b;
    } else {
        view.yMin = a;
        view.yMax = b;
    }
    Redraw();
}

void CDataChartPanel::WheelScroll(int delta)
{
    if (!m_vBar || !m_vModel.HasRange())
        return;
    const chart::WheelScroll w = chart::WheelScrollFor(delta, QApplication::wheelScrollLines());
    if (w.page) {
        VerticalScroll(w.up ? chart::ScrollRequest::PageUp : chart::ScrollRequest::PageDown);
        return;
    }
    if (w.lines == 0)
        return;
    const long long target = static_cast<long long>(m_vModel.pos) + (w.up ? -w.lines : w.lines);
    ApplyScroll(false, m_vModel.Clamp(static_cast<int>(std::clamp<long long>(target, -chart::kPixelLimit, chart::kPixelLimit))));
}

void CDataChartPanel::wheelEvent(QWheelEvent* event)
{
    WheelScroll(event->angleDelta().y());
    event->accept();
}

bool CDataChartPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Wheels over the scroll bars follow the chart's own rule rather than the bar's.
    if (event->type() == QEvent::Wheel && (watched == m_hBar || watched == m_vBar)) {
        WheelScroll(static_cast<QWheelEvent*>(event)->angleDelta().y());
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void CDataChartPanel::OnBarAction(bool horizontal, int action)
{
    if (m_syncing)
        return;
    QScrollBar* bar = horizontal ? m_hBar : m_vBar;
    bool known = false;
    const chart::ScrollRequest request = RequestForAction(action, known);
    if (!known)
        return;
    const int thumb = bar->sliderPosition();
    if (horizontal)
        HorizontalScroll(request, thumb);
    else
        VerticalScroll(request, thumb);
    // The bar shows the chart's position, whatever it would have done on its own.
    m_syncing = true;
    bar->setSliderPosition((horizontal ? m_hModel : m_vModel).pos);
    m_syncing = false;
}

void CDataChartPanel::SyncBars()
{
    m_syncing = true;
    auto sync = [](QScrollBar* bar, const chart::ScrollBarModel& model) {
        if (!bar)
            return;
        bar->setRange(model.min, std::max(model.min, model.MaxPos()));
        bar->setPageStep(std::max(1, model.page));
        bar->setSingleStep(1);
        bar->setValue(model.pos);
        bar->setEnabled(model.HasRange());
    };
    sync(m_hBar, m_hModel);
    sync(m_vBar, m_vModel);
    m_syncing = false;
}

void CDataChartPanel::LayoutBars()
{
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QSize client = ClientSize();
    if (m_hBar)
        m_hBar->setGeometry(0, client.height(), client.width(), extent);
    if (m_vBar)
        m_vBar->setGeometry(client.width(), 0, extent, client.height());
}

void CDataChartPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_needRender = true;
    LayoutBars();
}

}  // namespace zelkor::widgets
