#include "data_chart_panel.h"

#include "font_cells.h"
#include "large_image.h"

#include <QApplication>
#include <QBackingStore>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

namespace zelkor::widgets {

using chart::Mapping;
using chart::PixelPoint;
using chart::PlotRect;

namespace {

// Series with at least this many drawn points keep a layer of their own (over the plot area) once their
// view has stayed for a few updates, so that repainting a part of the picture, or all of it after the
// series grew, does not draw them again. In a view that moves at every step (rolling traces) a layer
// would be thrown away at once, so there is none.
constexpr std::size_t kLayerThreshold = 256;
constexpr int kLayerAfterStableUpdates = 2;
// A series this long that changes other than by growing is redrawn with the whole picture: finding
// what changed would cost about as much.
constexpr std::size_t kPartialLimit = 4096;
// Regions of more rectangles are repainted as their bounding rectangle.
constexpr int kMaxDirtyRects = 8;

constexpr int kLabelBoxWidth = 45;
constexpr int kLabelBoxHeight = 19;

const QString kLabelFace = QStringLiteral("Times New Roman");

std::uint32_t Opaque(const QColor& c) { return 0xff000000u | (c.rgb() & 0x00ffffffu); }

bool Finite(double v) { return std::isfinite(v); }

QRect ToQRect(const PlotRect& r) { return r.Empty() ? QRect() : QRect(r.left, r.top, r.Width(), r.Height()); }

PlotRect ToPlotRect(const QRect& r) { return r.isEmpty() ? PlotRect{} : PlotRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

// Whether a mapping can place anything: finite scales and origins.
bool Usable(const Mapping& m, double xMin, double yMin)
{
    return Finite(xMin) && Finite(yMin) && Finite(m.x.scale) && Finite(m.y.scale) && Finite(m.x.origin) &&
           Finite(m.y.origin) && m.x.scale != 0 && m.y.scale != 0;
}

// The drawn window of a series: points first .. first + count - 1; drawn is false for a hidden series
// and for one whose first drawn index is past its x list (which draws nothing, not even its label).
struct DrawnWindow {
    bool drawn = false;
    std::size_t first = 0;
    std::size_t count = 0;
};

DrawnWindow WindowOf(const CChartSeries& s)
{
    DrawnWindow w;
    const std::size_t size = std::min(s.x.size(), s.y.size());
    w.first = static_cast<std::size_t>(std::max(0, s.firstDrawn));
    w.drawn = s.visible && w.first < s.x.size();
    if (w.drawn && w.first < size)
        w.count = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, s.numberDrawn)), size - w.first);
    return w;
}

PixelPoint MapPoint(const Mapping& m, double x, double y)
{
    PixelPoint pt{m.Column(x), m.Row(y)};
    if (pt.x == chart::kNoPixel || pt.y == chart::kNoPixel || !Finite(x) || !Finite(y))
        pt = {chart::kNoPixel, chart::kNoPixel};
    return pt;
}

void MapPoints(const CChartSeries& s, std::size_t from, std::size_t to, const Mapping& m,
               std::vector<PixelPoint>& out)
{
    for (std::size_t i = from; i < to; ++i)
        out.push_back(MapPoint(m, s.x[i], s.y[i]));
}

bool SameValues(const std::vector<double>& a, const std::vector<double>& b, std::size_t first, std::size_t count)
{
    return count == 0 || std::memcmp(a.data(), b.data() + first, count * sizeof(double)) == 0;
}

PlotRect Unite(const PlotRect& a, const PlotRect& b)
{
    if (a.Empty())
        return b;
    if (b.Empty())
        return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Grows v's capacity to at least n and writes to all of it, so that the system hands over its pages
// now rather than at the first write to each.
template <class T>
void ReserveWritten(std::vector<T>& v, std::size_t n)
{
    const std::size_t size = v.size();
    v.reserve(n);
    v.resize(v.capacity());
    v.resize(size);
}

// Runs the series' drawing without drawing anything, for the state it ends in.
void AdvanceState(const chart::SeriesStyle& style, const PixelPoint* points, std::size_t n,
                  chart::SeriesDrawState& state)
{
    chart::PixelTarget none;
    chart::DrawSeriesPoints(none, style, points, n, state);
}

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

// Rectangles that cover every pixel a text can write (glyphs may reach a little beyond their advance;
// an italic title leans out by a part of its height).
QRect TextBox(int x, int top, int width, int height) { return QRect(x - 3, top - 3, width + 6, height + 6); }

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

// A scroll bar that tells where its thumb would stand for another range, page and position.
class ChartScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;
    QRect ThumbFor(int min, int max, int page, int pos) const
    {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        opt.minimum = min;
        opt.maximum = max;
        opt.pageStep = page;
        opt.singleStep = 1;
        opt.sliderPosition = opt.sliderValue = pos;
        return style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
    }

protected:
    // Qt's raster engine hands every batch of 96 spans or more to its thread pool and waits for it,
    // and the style draws the bar's long edges as lines of a span per pixel: one paint of a bar along
    // the chart woke the pool's threads some twenty times. Drawn in short pieces, each into a small
    // picture, the bar is drawn on this thread alone and looks the same (but for rounding where two
    // edges meet). Under the pointer, or while a button is held on it, the bar's own paint shows its
    // hover and press.
    void paintEvent(QPaintEvent* event) override
    {
        if (m_held || underMouse()) {
            QScrollBar::paintEvent(event);
            return;
        }
        constexpr int kPiece = 24;  // px along the bar: the edges of a piece of a 16-px bar stay below 96 spans
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        opt.subControls = QStyle::SC_All;
        const bool horizontal = orientation() == Qt::Horizontal;
        const QRect area = event->rect() & rect();
        const qreal dpr = devicePixelRatioF();
        const QSize most = (horizontal ? QSize(kPiece, area.height()) : QSize(area.width(), kPiece)) * dpr;
        if (m_piece.width() < most.width() || m_piece.height() < most.height()) {
            m_piece = QImage(most, QImage::Format_ARGB32_Premultiplied);
            m_piece.setDevicePixelRatio(dpr);
        }
        QPainter painter(this);
        const int from = horizontal ? area.left() : area.top();
        const int to = horizontal ? area.right() + 1 : area.bottom() + 1;
        for (int at = from; at < to; at += kPiece) {
            const int length = std::min(kPiece, to - at);
            const QRect piece = horizontal ? QRect(at, area.top(), length, area.height())
                                           : QRect(area.left(), at, area.width(), length);
            m_piece.fill(Qt::transparent);
            {
                QPainter p(&m_piece);
                p.translate(-piece.topLeft());
                style()->drawComplexControl(QStyle::CC_ScrollBar, &opt, &p, this);
            }
            painter.drawImage(piece.topLeft(), m_piece, QRect(QPoint(0, 0), piece.size() * dpr));
        }
    }
    void mousePressEvent(QMouseEvent* event) override
    {
        m_held = true;
        QScrollBar::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QScrollBar::mouseReleaseEvent(event);
        m_held = event->buttons() != Qt::NoButton;
    }

private:
    QImage m_piece;
    bool m_held = false;
};

}  // namespace

// What the picture shows of one series of the list.
struct CDataChartPanel::SeriesRecord {
    const CChartSeries* series = nullptr;
    bool drawn = false;
    chart::SeriesStyle style;
    std::size_t first = 0;
    std::vector<double> xs, ys;      // the drawn window's values
    std::vector<PixelPoint> points;  // and their pixels
    chart::SeriesDrawState end;      // drawing state after the last point
    PlotRect bounds;                 // covers every pixel the points drew
    Mapping mapping;                 // what the points were mapped with
    PlotRect plot;
    int stableUpdates = 0;           // updates since the mapping, plot or style last changed
    // Label.
    bool labelDrawn = false;
    QString label;
    QColor labelColour;
    QPoint labelAt;
    QRect labelRect;
    // Layer: the series' pixels alone over the plot area (alpha 0 where it draws nothing).
    bool layered = false;
    std::vector<std::uint32_t> layer;
    PlotRect layerPlot;
    PlotRect layerTouched;

    chart::PixelTarget LayerTarget()
    {
        chart::PixelTarget t;
        t.bits = layer.data();
        t.stride = layerPlot.Width();
        t.width = layerPlot.Width();
        t.height = layerPlot.Height();
        t.originX = layerPlot.left;
        t.originY = layerPlot.top;
        t.clip = layerPlot;
        t.touched = &layerTouched;
        return t;
    }
    void DropLayer()
    {
        layered = false;
        std::vector<std::uint32_t>().swap(layer);
        layerTouched = {};
    }
    // Draws all points into a fresh layer over the plot area; the state they end in becomes the record's.
    void BuildLayer(const PlotRect& area)
    {
        const std::size_t pixels = static_cast<std::size_t>(area.Width()) * static_cast<std::size_t>(area.Height());
        if (!(layerPlot == area) || layer.size() != pixels) {
            layer.assign(pixels, 0u);
        } else {
            chart::PixelTarget t = LayerTarget();
            t.touched = nullptr;
            chart::FillRect(t, layerTouched, 0u);
        }
        layerPlot = area;
        layerTouched = {};
        chart::PixelTarget t = LayerTarget();
        end = {};
        chart::DrawSeriesPoints(t, style, points.data(), points.size(), end);
        layered = true;
    }
    void ClearDrawn()
    {
        drawn = false;
        xs.clear();
        ys.clear();
        points.clear();
        end = {};
        bounds = {};
        labelDrawn = false;
        labelRect = {};
        DropLayer();
    }
};

CDataChartPanel::CDataChartPanel(QWidget* parent, bool horizontalAutoScroll, bool verticalAutoScroll)
    : QWidget(parent), m_hAuto(horizontalAutoScroll), m_vAuto(verticalAutoScroll)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    if (m_hAuto) {
        m_hBar = new ChartScrollBar(Qt::Horizontal, this);
        connect(m_hBar, &QScrollBar::actionTriggered, this, [this](int a) { OnBarAction(true, a); });
        m_hBar->installEventFilter(this);
    }
    if (m_vAuto) {
        m_vBar = new ChartScrollBar(Qt::Vertical, this);
        connect(m_vBar, &QScrollBar::actionTriggered, this, [this](int a) { OnBarAction(false, a); });
        m_vBar->installEventFilter(this);
    }
    m_barsFollow.setSingleShot(true);
    connect(&m_barsFollow, &QTimer::timeout, this, [this] {
        if (m_barsStale)
            SyncBars();
    });
    m_rollFollow.setSingleShot(true);
    connect(&m_rollFollow, &QTimer::timeout, this, [this] { PayRoll(); });
    SyncBars();
    LayoutBars();
}

CDataChartPanel::~CDataChartPanel() = default;

void CDataChartPanel::SetSeriesList(std::vector<CChartSeries*> series)
{
    PayRoll();
    series.erase(std::remove(series.begin(), series.end(), nullptr), series.end());
    m_series = std::move(series);
    Redraw();
}

void CDataChartPanel::Redraw()
{
    PayRoll();
    m_redrawPending = true;
    if (m_resolveQueued)
        return;
    // Changes usually come in groups (fields, series list, Redraw), so the picture is brought up to
    // date once, from the event loop.
    m_resolveQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_resolveQueued = false;
            if (m_redrawPending)
                Resolve(nullptr);
        },
        Qt::QueuedConnection);
}

void CDataChartPanel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange)
        m_barExtent = -1;
    QWidget::changeEvent(event);
}

void CDataChartPanel::SetCachingEnabled(bool on)
{
    m_caching = on;
    m_staticValid = m_renderedKeyValid = false;
    for (auto& rec : m_records)
        rec->DropLayer();
    m_needRender = true;
    Redraw();
}

QSize CDataChartPanel::ClientSize() const
{
    int w = width(), h = height();
    // Asked several times per refresh; the style answers the same until it changes.
    if (m_barExtent < 0 && (m_vBar || m_hBar))
        m_barExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int extent = m_barExtent;
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

Mapping CDataChartPanel::PrepareView(const PlotRect& plot)
{
    if (view.equalScale)
        chart::ApplyEqualScale(plot, view.adaptX, view.xMin, view.xSpan, view.xMax, view.yMin, view.ySpan,
                               view.yMax);
    if (view.autoXStep)
        view.xMajorStep = chart::NiceStep(view.xSpan, plot.Width());
    if (view.autoYStep)
        view.yMajorStep = chart::NiceStep(view.ySpan, plot.Height());
    return CurrentMapping();
}

void CDataChartPanel::ReverseDecreasing()
{
    if (!reverseDecreasing)
        return;
    for (CChartSeries* s : m_series) {
        if (!s->x.empty() && !s->y.empty() && s->x.back() < s->x.front()) {
            std::reverse(s->x.begin(), s->x.end());
            std::reverse(s->y.begin(), s->y.end());
        }
    }
}

chart::PixelTarget CDataChartPanel::TargetFor(QImage& img, const PlotRect& clip)
{
    // Every drawing into the picture starts here. Outside a roll, the next paint cannot tell the
    // rolled rectangles from the rest of what changed, so it copies all it is asked to.
    if (&img == &m_buffer && !m_rolling) {
        m_rolledRects.clear();
        m_rolledBox = {};
    }
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

CDataChartPanel::SeriesRecord* CDataChartPanel::RecordOf(const CChartSeries* s) const
{
    for (const auto& rec : m_records)
        if (rec->series == s)
            return rec.get();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------
// Paint

const QImage& CDataChartPanel::RenderNow()
{
    PayRoll();
    Render();
    if (isVisible())
        update();
    return m_buffer;
}

void CDataChartPanel::paintEvent(QPaintEvent* event)
{
    // A picture of the widget made elsewhere (grab, render) starts from nothing: it gets all it asks
    // for, and the rolled rectangles stay for the screen's own paint.
    const bool elsewhere = !backingStore() || redirected(nullptr) != backingStore()->paintDevice();
    PayRoll();
    if (!elsewhere)
        AdviseLargePages(backingStore()->paintDevice());
    std::vector<QRect> rolled;
    QRect rolledBox;
    if (!elsewhere) {
        rolled.swap(m_rolledRects);
        rolledBox = std::exchange(m_rolledBox, QRect());
    }
    if (m_redrawPending) {
        // What a picture made elsewhere covers is not on the screen: the screen is asked for all of it.
        Resolve(elsewhere ? nullptr : &event->region());
        rolled.clear();
    }
    if (m_needRender || m_buffer.isNull() || m_buffer.size() != ClientSize()) {
        Render();
        rolled.clear();
        if (elsewhere)
            update();
    }
    if (m_buffer.isNull())
        return;
    QPainter p(this);
    // A rolled trace asks for the box around the rectangles it changed, and nothing else in the picture
    // has changed since: when the box is all that is asked of the picture, only those rectangles are
    // copied (the rest of it is on the screen already).
    QRegion rest = event->region();
    if (!rolled.empty() && (rest & QRect(QPoint(0, 0), m_buffer.size())) == QRegion(rolledBox)) {
        for (const QRect& r : rolled)
            p.drawImage(r.topLeft(), m_buffer, r);
        rest -= rolledBox;
    }
    // Under a clip of several rectangles Qt's raster engine copies an image row by row as spans and
    // hands 96 rows or more to the global thread pool, waiting for it; clipped to the one rectangle
    // it copies, the copy is a plain blit on this thread.
    const bool several = rest.rectCount() > 1;
    for (const QRect& r0 : rest) {
        const QRect r = r0.intersected(m_buffer.rect());
        if (r.isEmpty())
            continue;
        if (several) {
            p.save();
            p.setClipRect(r, Qt::IntersectClip);
        }
        p.drawImage(r.topLeft(), m_buffer, r);
        if (several)
            p.restore();
    }
}

void CDataChartPanel::Resolve(const QRegion* painting)
{
    m_redrawPending = false;
    if (!painting && !isVisible()) {
        m_needRender = true;  // painted whole when it is shown
        return;
    }
    QRegion dirty;
    switch (Reconcile(dirty)) {
    case Reconciled::Nothing:
        return;
    case Reconciled::Regions:
        RenderRegions(dirty);
        break;
    case Reconciled::Everything:
        Render();
        dirty = QRegion(QRect(QPoint(0, 0), ClientSize()));  // the scroll bars paint themselves
        break;
    }
    // Inside a paint event the part it covers is shown by it.
    if (painting)
        dirty -= *painting;
    if (!dirty.isEmpty())
        update(dirty);
}

void CDataChartPanel::Render()
{
    ++m_wholePaints;
    m_rolledRects.clear();  // the whole picture is shown next
    m_rolledBox = {};
    m_needRender = false;
    m_redrawPending = false;
    m_shownValid = false;
    m_lastPlot = {};
    const QSize size = ClientSize();
    if (size.isEmpty()) {
        m_buffer = QImage();
        m_records.clear();
        return;
    }
    if (m_buffer.size() != size || m_buffer.format() != QImage::Format_RGB32)
        m_buffer = NewLargeImage(size, QImage::Format_RGB32);

    const PlotRect plot = PlotArea();
    if (plot.Empty()) {
        m_buffer.fill(panelBackground.rgb());
        m_records.clear();
        return;
    }
    // 1. Equal scale and mapping; 2. automatic steps.
    const Mapping m = PrepareView(plot);
    m_lastMapping = m;
    m_lastPlot = plot;
    m_shownView = view;

    const StaticKey key{view, size, panelBackground};
    if (m_caching && m_staticValid && key == m_staticKey && m_static.size() == size) {
        std::memcpy(m_buffer.bits(), m_static.constBits(), static_cast<std::size_t>(m_buffer.sizeInBytes()));
    } else {
        RenderStatic(plot, m, m_buffer.rect());
        // A view that moves at every step (a rolling trace) would throw a copy of its background away
        // at once: after two moves in a row the background is kept again only once the view stays.
        m_backgroundMoves = m_renderedKeyValid && key == m_renderedKey ? 0 : m_backgroundMoves + 1;
        if (m_caching && m_backgroundMoves <= 1) {
            if (m_static.size() == size && m_static.format() == m_buffer.format() && m_static.isDetached())
                std::memcpy(m_static.bits(), m_buffer.constBits(), static_cast<std::size_t>(m_buffer.sizeInBytes()));
            else
                m_static = LargeImageCopy(m_buffer);
            m_staticKey = key;
            m_staticValid = true;
        } else {
            m_staticValid = false;
        }
        m_renderedKey = key;
        m_renderedKeyValid = m_caching;
    }
    if (!Usable(m, view.xMin, view.yMin)) {
        m_records.clear();
        return;
    }
    ReverseDecreasing();
    RenderSeries(plot, m);
    m_pickShown = PickFor(plot, m);
    DrawPick(m_pickShown, plot, m_buffer.rect());
    m_shownValid = true;
}

// The background, grids, axes and their texts as drawing steps in paint order, each with a box that
// covers every pixel it can write, so that a part of the picture can be drawn again from the steps that
// reach it and come out as the whole paint draws it.
struct CDataChartPanel::StaticScene {
    enum class Kind { Fill, Line, Text, Image };
    struct Step {
        Kind kind = Kind::Fill;
        QRect box;
        // Fill and Line: pixels, colour, pen.
        PlotRect rect;
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        std::uint32_t colour = 0;
        chart::LinePen pen;
        // Text and Image: baseline start (text) or top-left corner (image).
        QPoint at;
        QString text;
        QFont font;
        QColor textColour;
        QImage image;
    };
    std::vector<Step> steps;
    QHash<QString, TextMeasure>* measures = nullptr;  // texts already measured (shaping costs more than a look-up)

    TextMeasure Measure(int height, bool italic, const QString& text)
    {
        const QString key = QString::number(italic ? -height : height) + QLatin1Char(':') + text;
        if (measures) {
            if (auto it = measures->constFind(key); it != measures->constEnd())
                return *it;
        }
        const QFontMetrics fm(LabelFont(height, italic));
        const TextMeasure t{fm.horizontalAdvance(text), fm.boundingRect(text)};
        if (measures) {
            if (measures->size() >= 1024)
                measures->clear();
            measures->insert(key, t);
        }
        return t;
    }
    int Advance(int height, bool italic, const QString& text) { return Measure(height, italic, text).advance; }
    // Every pixel a text drawn from its baseline start can write: its advance box and its ink, and a
    // little more.
    QRect InkBox(const QPoint& at, int height, bool italic, const QString& text, int top, int cell)
    {
        const TextMeasure t = Measure(height, italic, text);
        return QRect(at.x(), top, t.advance, cell).united(t.ink.translated(at)).adjusted(-2, -2, 2, 2);
    }
    void Fill(const PlotRect& r, std::uint32_t colour)
    {
        Step& s = steps.emplace_back();
        s.kind = Kind::Fill;
        s.rect = r;
        s.colour = colour;
        s.box = ToQRect(r);
    }
    void Line(int x0, int y0, int x1, int y1, std::uint32_t colour, const chart::LinePen& pen)
    {
        Step& s = steps.emplace_back();
        s.kind = Kind::Line;
        s.x0 = x0, s.y0 = y0, s.x1 = x1, s.y1 = y1;
        s.colour = colour;
        s.pen = pen;
        const int reach = std::max(1, pen.width) + 1;
        s.box = QRect(QPoint(std::min(x0, x1) - reach, std::min(y0, y1) - reach),
                      QPoint(std::max(x0, x1) + reach, std::max(y0, y1) + reach));
    }
    void Text(const QPoint& at, const QString& text, const QFont& font, const QColor& colour, const QRect& box)
    {
        Step& s = steps.emplace_back();
        s.kind = Kind::Text;
        s.at = at;
        s.text = text;
        s.font = font;
        s.textColour = colour;
        s.box = box;
    }
    void Image(const QPoint& at, const QImage& image)
    {
        Step& s = steps.emplace_back();
        s.kind = Kind::Image;
        s.at = at;
        s.image = image;
        s.box = QRect(at, image.size());
    }
    // "name " italic followed by "/ unit" upright, top-left at (x, top).
    void Title(int x, int top, const QString& name, const QString& unit, int height, const QColor& colour)
    {
        const QFont italic = LabelFont(height, true);
        const QFont upright = LabelFont(height, false);
        const QString n = name + QLatin1Char(' ');
        const QFontMetrics fi(italic);
        const QPoint at(x, top + fi.ascent());
        Text(at, n, italic, colour, InkBox(at, height, true, n, top, fi.height()));
        if (unit.isEmpty())
            return;
        const QFontMetrics fu(upright);
        const QString u = QStringLiteral("/ ") + unit;
        const QPoint uat(x + Advance(height, true, n), top + fu.ascent());
        Text(uat, u, upright, colour, InkBox(uat, height, false, u, top, fu.height()));
    }
};

void CDataChartPanel::RenderStatic(const PlotRect& plot, const Mapping& m, const QRect& clip)
{
    StaticScene scene;
    BuildScene(plot, m, scene);
    std::optional<QPainter> painter;
    DrawScene(scene, clip, painter);
}

// painter: made on the first text that reaches the clip, and kept for the next calls (a clip that is
// the whole picture is not set).
void CDataChartPanel::DrawScene(const StaticScene& scene, const QRect& clip, std::optional<QPainter>& painter)
{
    const QRect area = clip.intersected(m_buffer.rect());
    if (area.isEmpty())
        return;
    chart::PixelTarget target = TargetFor(m_buffer, ToPlotRect(area));
    bool clipped = false;
    for (const StaticScene::Step& s : scene.steps) {
        if (!s.box.intersects(area))
            continue;
        switch (s.kind) {
        case StaticScene::Kind::Fill:
            chart::FillRect(target, s.rect, s.colour);
            break;
        case StaticScene::Kind::Line: {
            long long phase = 0;  // every patterned line starts its own pattern
            chart::DrawLine(target, s.x0, s.y0, s.x1, s.y1, s.colour, s.pen, phase);
            break;
        }
        case StaticScene::Kind::Text:
        case StaticScene::Kind::Image:
            if (!painter)
                painter.emplace(&m_buffer);
            if (!clipped) {
                if (area != m_buffer.rect())
                    painter->setClipRect(area);
                else
                    painter->setClipping(false);
                clipped = true;
            }
            if (s.kind == StaticScene::Kind::Image) {
                painter->drawImage(s.at, s.image);
            } else {
                painter->setPen(s.textColour);
                painter->setFont(s.font);
                const LaidOutText& t = LaidOut(s.font, s.text);
                painter->drawStaticText(QPointF(s.at.x(), s.at.y() - t.ascent), t.text);
            }
            break;
        }
    }
}

// The same texts come back at every roll of a trace (its tick labels): laid out once, each is drawn
// from its glyphs, with the pixels of a plain drawText at its baseline.
const CDataChartPanel::LaidOutText& CDataChartPanel::LaidOut(const QFont& font, const QString& text)
{
    // A scene has few fonts, and comparing fonts costs less than naming them.
    auto named = std::find_if(m_fontKeys.begin(), m_fontKeys.end(), [&](const auto& f) { return f.first == font; });
    if (named == m_fontKeys.end()) {
        if (m_fontKeys.size() >= 8)
            m_fontKeys.clear();
        named = m_fontKeys.insert(m_fontKeys.end(), {font, font.key()});
    }
    const QString key = named->second + QLatin1Char('\n') + text;
    if (auto it = m_laidOut.constFind(key); it != m_laidOut.constEnd())
        return *it;
    if (m_laidOut.size() >= 1024)
        m_laidOut.clear();
    LaidOutText t{QStaticText(text), QFontMetricsF(font).ascent()};
    t.text.setTextFormat(Qt::PlainText);
    t.text.prepare(QTransform(), font);
    return *m_laidOut.insert(key, std::move(t));
}

void CDataChartPanel::BuildScene(const PlotRect& plot, const Mapping& m, StaticScene& scene)
{
    scene.measures = &m_textMeasures;
    // The panel background around the plot area, the plot background inside it.
    const std::uint32_t panel = Opaque(panelBackground);
    const QSize size = m_buffer.size();
    const int w = size.width(), h = size.height();
    scene.Fill({0, 0, w, plot.top}, panel);
    scene.Fill({0, plot.bottom, w, h}, panel);
    scene.Fill({0, plot.top, plot.left, plot.bottom}, panel);
    scene.Fill({plot.right, plot.top, w, plot.bottom}, panel);
    scene.Fill(plot, Opaque(view.plotBackground));
    const chart::LinePen thin{1, {}};
    if (view.plotBorder) {
        const std::uint32_t black = 0xff000000u;
        scene.Line(plot.left, plot.top, plot.right - 1, plot.top, black, thin);
        scene.Line(plot.left, plot.bottom - 1, plot.right - 1, plot.bottom - 1, black, thin);
        scene.Line(plot.left, plot.top, plot.left, plot.bottom - 1, black, thin);
        scene.Line(plot.right - 1, plot.top, plot.right - 1, plot.bottom - 1, black, thin);
    }
    if (!Usable(m, view.xMin, view.yMin))
        return;

    // 3. Grids strictly inside the plot, from 1 px inside one edge to 1 px inside the other.
    const double xSpan = chart::UsableSpan(view.xSpan), ySpan = chart::UsableSpan(view.ySpan);
    const chart::LinePen dotted{1, {1, 1}};
    auto verticals = [&](double step, const chart::LinePen& pen, std::uint32_t colour) {
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width())) {
            const int c = m.Column(v);
            if (c > plot.left && c < plot.right - 1)
                scene.Line(c, plot.top + 1, c, plot.bottom - 2, colour, pen);
        }
    };
    auto horizontals = [&](double step, const chart::LinePen& pen, std::uint32_t colour) {
        for (double v : AxisMultiples(view.yMin, ySpan, step, plot.Height())) {
            const int r = m.Row(v);
            if (r > plot.top && r < plot.bottom - 1)
                scene.Line(plot.left + 1, r, plot.right - 2, r, colour, pen);
        }
    };
    const std::uint32_t minor = Opaque(view.minorGridColour), major = Opaque(view.majorGridColour);
    if (view.xMinorGrid)
        verticals(view.xMajorStep / 5, dotted, minor);
    if (view.yMinorGrid)
        horizontals(view.yMajorStep / 5, dotted, minor);
    verticals(view.xMajorStep, thin, major);
    horizontals(view.yMajorStep, thin, major);

    SceneAxisX(scene, plot, m);
    SceneAxisY(scene, plot, m);
}

void CDataChartPanel::SceneAxisX(StaticScene& scene, const PlotRect& plot, const Mapping& m)
{
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
        scene.Line(plot.left, row, plot.right - 1, row, colour, pen);
        if (view.xArrow) {
            // Beyond the right edge into the right margin, mirrored or not.
            const int tip = plot.right + view.rightMargin - 2;
            scene.Line(plot.right, row, tip, row, colour, pen);
            for (int k = 0; k <= 3; ++k) {
                scene.Line(tip - 13, row - k, tip, row, colour, pen);
                scene.Line(tip - 13, row + k, tip, row, colour, pen);
            }
        }
        for (double v : AxisMultiples(view.xMin, xSpan, step / 5, plot.Width())) {
            const int c = m.Column(v);
            if (c >= plot.left && c < plot.right)
                scene.Line(c, row + toPositiveY, c, row + 2 * toPositiveY, colour, thin);
        }
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width())) {
            const int c = m.Column(v);
            if (c > plot.left && c < plot.right - 1)
                scene.Line(c, row + toPositiveY, c, row + 5 * toPositiveY, colour, thin);
        }
    }

    // 5. Tick labels along the axis row (the y-min edge when the axis is not drawn).
    if (view.xLabels && step > 0 && Finite(step)) {
        const QFont font = LabelFont(view.xLabelHeight, false);
        const QFontMetrics fm(font);
        const int decimals = chart::LabelDecimals(step);
        const int top = TextTopBelow(row, fm.height(), view.yUp);
        for (double v : AxisMultiples(view.xMin, xSpan, step, plot.Width(), step)) {
            if (v == 0)
                continue;
            const int c = m.Column(v);
            if (c > plot.right)
                continue;
            const QString label = QString::fromStdString(chart::FormatFixed(v, decimals));
            const int w = scene.Advance(view.xLabelHeight, false, label);
            if (c - w < plot.left)
                continue;
            scene.Text(QPoint(c - w, top + fm.ascent()), label, font, view.xAxisColour, TextBox(c - w, top, w, fm.height()));
        }
    }
    // 6. Title right of the plot, on the labels' row.
    const int titleX = plot.right + 5;
    const int titleHeight = QFontMetrics(LabelFont(view.xLabelHeight, false)).height();
    if (!view.xName.isEmpty()) {
        scene.Title(titleX, TextTopBelow(row, titleHeight, view.yUp), view.xName, view.xUnit, view.xLabelHeight,
                    view.xAxisColour);
    } else if (view.xTitlePicture) {
        // The picture's top-left corner at the anchor, 5 px off the labels' row on its negative-y side.
        const QImage pic = TitleImage(view.xTitleImage);
        if (!pic.isNull())
            scene.Image(QPoint(titleX, view.yUp ? row + 5 : row - 5), pic);
    }
}

void CDataChartPanel::SceneAxisY(StaticScene& scene, const PlotRect& plot, const Mapping& m)
{
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
        scene.Line(col, plot.bottom - 1, col, plot.top, colour, pen);
        if (view.yArrow) {
            // Beyond the y-max end (the bottom edge when y grows downwards), by the top margin.
            const int dir = view.yUp ? -1 : 1;
            const int edge = view.yUp ? plot.top : plot.bottom;
            const int tip = edge + dir * (view.topMargin - 2);
            scene.Line(col, edge, col, tip, colour, pen);
            for (int k = 0; k <= 3; ++k) {
                scene.Line(col - k, tip - dir * 13, col, tip, colour, pen);
                scene.Line(col + k, tip - dir * 13, col, tip, colour, pen);
            }
        }
        for (double v : AxisMultiples(view.yMin, ySpan, step / 5, plot.Height())) {
            const int r = m.Row(v);
            if (r >= plot.top && r < plot.bottom)
                scene.Line(col + toPositiveX, r, col + 2 * toPositiveX, r, colour, thin);
        }
        for (double v : AxisMultiples(view.yMin, ySpan, step, plot.Height())) {
            const int r = m.Row(v);
            if (r >= plot.top && r < plot.bottom)
                scene.Line(col + toPositiveX, r, col + 5 * toPositiveX, r, colour, thin);
        }
    }

    // Tick labels 5 px left of the axis column, up to y max inclusive, not clipped to the plot.
    if (view.yLabels && step > 0 && Finite(step) && Finite(view.yMax)) {
        const QFont font = LabelFont(view.yLabelHeight, false);
        const QFontMetrics fm(font);
        const int decimals = chart::LabelDecimals(step);
        for (double v : chart::Multiples(view.yMin, step, view.yMax, MaxLines(plot.Height()))) {
            const QString label =
                v == 0 ? QStringLiteral("0") : QString::fromStdString(chart::FormatFixed(v, decimals));
            const int w = scene.Advance(view.yLabelHeight, false, label);
            const int top = TextTopBelow(m.Row(v), fm.height(), view.yUp);
            scene.Text(QPoint(col - 5 - w, top + fm.ascent()), label, font, view.yAxisColour,
                       TextBox(col - 5 - w, top, w, fm.height()));
        }
    }
    // Title beyond the y-max end, starting 5 px right of the axis column.
    const int titleX = col + 5;
    const int titleHeight = QFontMetrics(LabelFont(view.yLabelHeight, false)).height();
    const int anchor = view.yUp ? plot.top - 5 : plot.bottom + 5;
    if (!view.yName.isEmpty()) {
        // Text lies beyond the anchor, away from the plot.
        scene.Title(titleX, view.yUp ? anchor - titleHeight : anchor, view.yName, view.yUnit, view.yLabelHeight,
                    view.yAxisColour);
    } else if (view.yTitlePicture) {
        // The picture's bottom-left corner at the anchor, whichever way y grows.
        const QImage pic = TitleImage(view.yTitleImage);
        if (!pic.isNull())
            scene.Image(QPoint(titleX, anchor - pic.height()), pic);
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

namespace {

// Label of a series: its text, colour and mapped top-left corner, and the rectangle it covers.
struct LabelPlace {
    bool drawn = false;
    QString text;
    QColor colour;
    QPoint at;
    QRect rect;
};

LabelPlace PlaceLabel(const CChartSeries& s, const Mapping& m, const PlotRect& plot)
{
    LabelPlace l;
    if (s.labelText.isEmpty() || !Finite(s.labelX) || !Finite(s.labelY))
        return l;
    l.drawn = true;
    l.text = s.labelText;
    l.colour = s.lineColour;
    l.at = QPoint(m.Column(s.labelX), m.Row(s.labelY));
    const QFontMetrics fm(LabelFont(26, false));
    // The advance box, the ink box (italic or wide glyphs may reach beyond it) and a little more.
    const QRect advance(l.at.x(), l.at.y(), fm.horizontalAdvance(l.text), fm.height());
    const QRect ink = fm.boundingRect(l.text).translated(l.at.x(), l.at.y() + fm.ascent());
    l.rect = advance.united(ink).adjusted(-2, -2, 2, 2).intersected(ToQRect(plot));
    return l;
}

}  // namespace

void CDataChartPanel::DrawLabel(const SeriesRecord& rec, const QRect& clip)
{
    if (!rec.labelDrawn || !rec.labelRect.intersects(clip))
        return;
    QPainter p(&m_buffer);
    p.setClipRect(clip.intersected(ToQRect(m_lastPlot)));
    const QFont font = LabelFont(26, false);
    const QFontMetrics fm(font);
    p.setFont(font);
    p.setPen(rec.labelColour);
    p.drawText(QPoint(rec.labelAt.x(), rec.labelAt.y() + fm.ascent()), rec.label);
}

// 8. Series in list order, clipped to the plot. Every record is rebuilt; a long series whose view has
// stayed keeps (or gets) its layer, and a layer that holds the first points of the series only gets
// the new ones drawn into it.
void CDataChartPanel::RenderSeries(const PlotRect& plot, const Mapping& m)
{
    chart::PixelTarget target = TargetFor(m_buffer, plot);
    std::vector<std::unique_ptr<SeriesRecord>> next;
    next.reserve(m_series.size());
    for (CChartSeries* s : m_series) {
        std::unique_ptr<SeriesRecord> rec;
        for (auto& old : m_records)
            if (old && old->series == s) {
                rec = std::move(old);
                break;
            }
        if (!rec)
            rec = std::make_unique<SeriesRecord>();
        rec->series = s;
        const DrawnWindow w = WindowOf(*s);
        if (!w.drawn) {
            rec->ClearDrawn();
            next.push_back(std::move(rec));
            continue;
        }
        const chart::SeriesStyle style = StyleOf(*s);
        m_scratch.clear();
        MapPoints(*s, w.first, w.first + w.count, m, m_scratch);

        const bool sameKey = rec->drawn && rec->style == style && rec->plot == plot && rec->mapping == m;
        rec->stableUpdates = sameKey ? rec->stableUpdates + 1 : 0;
        const bool grown = rec->drawn && rec->first == w.first && rec->points.size() <= w.count &&
                           std::equal(rec->points.begin(), rec->points.end(), m_scratch.begin());
        const std::size_t before = rec->points.size();
        rec->drawn = true;
        rec->style = style;
        rec->first = w.first;
        rec->points.assign(m_scratch.begin(), m_scratch.end());
        rec->xs.assign(s->x.begin() + static_cast<std::ptrdiff_t>(w.first),
                       s->x.begin() + static_cast<std::ptrdiff_t>(w.first + w.count));
        rec->ys.assign(s->y.begin() + static_cast<std::ptrdiff_t>(w.first),
                       s->y.begin() + static_cast<std::ptrdiff_t>(w.first + w.count));
        rec->bounds = chart::SeriesBounds(style, rec->points.data(), rec->points.size(), plot);
        rec->mapping = m;
        rec->plot = plot;

        const bool wantLayer = m_caching && w.count >= kLayerThreshold && rec->stableUpdates >= kLayerAfterStableUpdates;
        if (wantLayer && rec->layered && grown && sameKey) {
            chart::PixelTarget layer = rec->LayerTarget();
            chart::DrawSeriesPoints(layer, style, rec->points.data() + before, w.count - before, rec->end);
        } else if (wantLayer) {
            rec->BuildLayer(plot);
        } else {
            rec->DropLayer();
        }
        if (rec->layered) {
            chart::CompositeOpaque(target, rec->LayerTarget(), rec->layerTouched);
        } else {
            rec->end = {};
            chart::DrawSeriesPoints(target, style, rec->points.data(), rec->points.size(), rec->end);
        }

        const LabelPlace label = PlaceLabel(*s, m, plot);
        rec->labelDrawn = label.drawn;
        rec->label = label.text;
        rec->labelColour = label.colour;
        rec->labelAt = label.at;
        rec->labelRect = label.rect;
        DrawLabel(*rec, m_buffer.rect());
        next.push_back(std::move(rec));
    }
    m_records = std::move(next);
}

// Brings the records up to date with the series, the pick with the pointer, and says which regions of
// the picture differ. Everything when the view, the size or the list changed, or a long series changed
// other than by growing.
CDataChartPanel::Reconciled CDataChartPanel::Reconcile(QRegion& dirty)
{
    if (!m_caching || !m_shownValid || m_needRender || m_buffer.isNull() || m_buffer.size() != ClientSize())
        return Reconciled::Everything;
    const PlotRect plot = PlotArea();
    if (plot.Empty() || !(plot == m_lastPlot))
        return Reconciled::Everything;
    const Mapping m = PrepareView(plot);
    if (!(m == m_lastMapping))
        return Reconciled::Everything;
    const StaticKey key{view, ClientSize(), panelBackground};
    if (!m_staticValid || !(key == m_staticKey))
        return Reconciled::Everything;
    if (m_series.size() != m_records.size())
        return Reconciled::Everything;
    for (std::size_t i = 0; i < m_series.size(); ++i)
        if (m_records[i]->series != m_series[i])
            return Reconciled::Everything;
    ReverseDecreasing();

    // First decide, then change the records: "everything" may still turn up.
    struct Plan {
        enum Kind { Same, Grown, Changed } kind = Same;
        DrawnWindow window;
        std::vector<PixelPoint> points;  // Grown: the new points; Changed: all
        LabelPlace label;
        bool labelChanged = false;
    };
    std::vector<Plan> plans(m_series.size());
    PlotRect region[2];  // repainted as separate rectangles: where things were and where they are now
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const CChartSeries& s = *m_series[i];
        SeriesRecord& rec = *m_records[i];
        Plan& plan = plans[i];
        plan.window = WindowOf(s);
        const DrawnWindow& w = plan.window;
        if (!w.drawn && !rec.drawn)
            continue;
        const chart::SeriesStyle style = StyleOf(s);
        plan.label = w.drawn ? PlaceLabel(s, m, plot) : LabelPlace{};
        plan.labelChanged = plan.label.drawn != rec.labelDrawn ||
                            (plan.label.drawn && (plan.label.text != rec.label || plan.label.colour != rec.labelColour ||
                                                  plan.label.at != rec.labelAt));
        if (plan.labelChanged) {
            region[0] = Unite(region[0], ToPlotRect(rec.labelDrawn ? rec.labelRect : QRect()));
            region[1] = Unite(region[1], ToPlotRect(plan.label.rect));
        }
        const bool sameLook = w.drawn && rec.drawn && style == rec.style;
        if (sameLook && w.first == rec.first && w.count == rec.xs.size() && SameValues(rec.xs, s.x, w.first, w.count) &&
            SameValues(rec.ys, s.y, w.first, w.count))
            continue;  // Same
        const std::size_t had = rec.xs.size();
        if (sameLook && w.first == rec.first && w.count > had && SameValues(rec.xs, s.x, w.first, had) &&
            SameValues(rec.ys, s.y, w.first, had)) {
            plan.kind = Plan::Grown;
            MapPoints(s, w.first + had, w.first + w.count, m, plan.points);
            std::vector<PixelPoint> reach(plan.points);
            if (had > 0)
                reach.push_back(rec.points.back());  // the segment from the last point drawn
            region[1] = Unite(region[1], chart::SeriesBounds(style, reach.data(), reach.size(), plot));
            continue;
        }
        if (w.count > kPartialLimit || rec.points.size() > kPartialLimit)
            return Reconciled::Everything;
        plan.kind = Plan::Changed;
        if (w.drawn)
            MapPoints(s, w.first, w.first + w.count, m, plan.points);
        if (sameLook && plan.points == rec.points)
            continue;  // moved by less than a pixel: the values change, the picture does not
        region[0] = Unite(region[0], rec.drawn ? rec.bounds : PlotRect{});
        if (w.drawn)
            region[1] = Unite(region[1], chart::SeriesBounds(style, plan.points.data(), plan.points.size(), plot));
    }
    const PickShown pick = PickFor(plot, m);
    const QRegion pickRegion = PickChange(m_pickShown, pick, plot);
    m_pickShown = pick;

    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const CChartSeries& s = *m_series[i];
        SeriesRecord& rec = *m_records[i];
        Plan& plan = plans[i];
        const DrawnWindow& w = plan.window;
        if (!w.drawn) {
            if (rec.drawn)
                rec.ClearDrawn();
            continue;
        }
        rec.labelDrawn = plan.label.drawn;
        rec.label = plan.label.text;
        rec.labelColour = plan.label.colour;
        rec.labelAt = plan.label.at;
        rec.labelRect = plan.label.rect;
        const std::size_t had = rec.points.size();
        if (plan.kind == Plan::Grown) {
            rec.points.insert(rec.points.end(), plan.points.begin(), plan.points.end());
            if (rec.layered) {
                chart::PixelTarget layer = rec.LayerTarget();
                chart::DrawSeriesPoints(layer, rec.style, plan.points.data(), plan.points.size(), rec.end);
            } else {
                AdvanceState(rec.style, plan.points.data(), plan.points.size(), rec.end);
            }
        } else if (plan.kind == Plan::Changed) {
            rec.style = StyleOf(s);
            rec.points = std::move(plan.points);
            rec.DropLayer();
            rec.stableUpdates = -1;  // a series that changes keeps no layer
            rec.end = {};
            AdvanceState(rec.style, rec.points.data(), rec.points.size(), rec.end);
        }
        if (plan.kind != Plan::Same) {
            rec.drawn = true;
            rec.mapping = m;
            rec.plot = plot;
            rec.first = w.first;
            // A grown window only adds values; the rest are the same.
            const std::size_t keep = plan.kind == Plan::Grown ? std::min(rec.xs.size(), w.count) : 0;
            rec.xs.resize(keep);
            rec.ys.resize(keep);
            rec.xs.insert(rec.xs.end(), s.x.begin() + static_cast<std::ptrdiff_t>(w.first + keep),
                          s.x.begin() + static_cast<std::ptrdiff_t>(w.first + w.count));
            rec.ys.insert(rec.ys.end(), s.y.begin() + static_cast<std::ptrdiff_t>(w.first + keep),
                          s.y.begin() + static_cast<std::ptrdiff_t>(w.first + w.count));
            rec.bounds = plan.kind == Plan::Grown
                             ? Unite(rec.bounds, chart::SeriesBounds(rec.style, rec.points.data() + (had > 0 ? had - 1 : 0),
                                                                     rec.points.size() - (had > 0 ? had - 1 : 0), plot))
                             : chart::SeriesBounds(rec.style, rec.points.data(), rec.points.size(), plot);
        }
        // A long series whose view stays gets its layer, so that repainting a part of the picture does
        // not draw all of it again.
        rec.stableUpdates += 1;
        if (m_caching && !rec.layered && rec.points.size() >= kLayerThreshold &&
            rec.stableUpdates >= kLayerAfterStableUpdates)
            rec.BuildLayer(plot);
    }

    for (const PlotRect& r : region)
        if (!r.Empty())
            dirty += ToQRect(r);
    dirty += pickRegion;
    dirty &= QRegion(m_buffer.rect());
    return dirty.isEmpty() ? Reconciled::Nothing : Reconciled::Regions;
}

namespace {

bool Overlap(const PlotRect& a, const PlotRect& b)
{
    return !a.Empty() && !b.Empty() && a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

}  // namespace

// Paints the regions again from the cached background, the series (in list order) and the pick.
void CDataChartPanel::RenderRegions(const QRegion& dirty)
{
    std::vector<QRect> rects(dirty.begin(), dirty.end());
    if (static_cast<int>(rects.size()) > kMaxDirtyRects)
        rects = {dirty.boundingRect()};
    const PlotRect plot = m_lastPlot;
    const int bytesPerPixel = 4;
    for (const QRect& r0 : rects) {
        const QRect r = r0.intersected(m_buffer.rect());
        if (r.isEmpty())
            continue;
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::memcpy(m_buffer.scanLine(y) + r.left() * bytesPerPixel, m_static.constScanLine(y) + r.left() * bytesPerPixel,
                        static_cast<std::size_t>(r.width()) * bytesPerPixel);
        const PlotRect clip = ToPlotRect(r.intersected(ToQRect(plot)));
        chart::PixelTarget target = TargetFor(m_buffer, clip);
        for (const auto& rec : m_records) {
            if (!rec->drawn)
                continue;
            if (!clip.Empty()) {
                if (rec->layered) {
                    chart::CompositeOpaque(target, rec->LayerTarget(), clip);
                } else if (Overlap(rec->bounds, clip)) {
                    chart::SeriesDrawState state;
                    chart::DrawSeriesPoints(target, rec->style, rec->points.data(), rec->points.size(), state);
                }
            }
            DrawLabel(*rec, r);
        }
        DrawPick(m_pickShown, plot, r);
    }
}

// ---------------------------------------------------------------------------------------------------
// Range pick

int CDataChartPanel::MarkPixelFor(const QPoint& p) const
{
    return pickOrientation == kPickHorizontal ? p.y() : p.x();
}

// 9. The start mark once the pick has been armed (a fixed start follows the data when the view moves),
// the end mark once the start has been fixed, and the label box beside the mark that follows the pointer.
CDataChartPanel::PickShown CDataChartPanel::PickFor(const PlotRect&, const Mapping& m) const
{
    PickShown shown;
    if (!m_pickArmed)
        return shown;
    shown.horizontal = pickOrientation == kPickHorizontal;
    shown.colour = pickMarkColour;
    const chart::AxisMap& axis = shown.horizontal ? m.y : m.x;
    shown.start = m_startPixel;
    shown.startMark = m_haveStartPixel;
    if (m_haveStartOffset) {
        shown.start = chart::TruncPixel(axis.origin + static_cast<double>(axis.sign) * m_startOffset * axis.scale);
        shown.startMark = shown.start != chart::kNoPixel;
    }
    if (!shown.startMark)
        shown.start = 0;
    shown.endMark = m_startFixed && m_haveEndPixel;
    shown.end = shown.endMark ? m_endPixel : 0;
    shown.box = m_havePointer && !m_endFixed;
    if (shown.box) {
        shown.boxRect = QRect(m_pointer.x() + 5, m_pointer.y() - 20, kLabelBoxWidth, kLabelBoxHeight);
        shown.boxText = m_startFixed ? endMarkLabel : startMarkLabel;
    }
    return shown;
}

QRegion CDataChartPanel::PickRegion(const PickShown& pick, const PlotRect& plot) const
{
    QRegion r;
    const QRect area = ToQRect(plot);
    auto mark = [&](int pixel) {
        const long long p = std::clamp<long long>(pixel, -chart::kPixelLimit, chart::kPixelLimit);
        const QRect line = pick.horizontal ? QRect(plot.left, static_cast<int>(p), plot.Width(), 2)
                                           : QRect(static_cast<int>(p), plot.top, 2, plot.Height());
        r += line.intersected(area);
    };
    if (pick.startMark)
        mark(pick.start);
    if (pick.endMark)
        mark(pick.end);
    if (pick.box)
        r += pick.boxRect;
    return r;
}

// Where two pictures of the pick differ: the marks and the box that moved, came or went.
QRegion CDataChartPanel::PickChange(const PickShown& was, const PickShown& now, const PlotRect& plot) const
{
    if (was == now)
        return {};
    if (was.horizontal != now.horizontal || was.colour != now.colour)
        return PickRegion(was, plot) + PickRegion(now, plot);
    PickShown before, after;
    before.horizontal = after.horizontal = now.horizontal;
    if (was.startMark != now.startMark || was.start != now.start) {
        before.startMark = was.startMark, before.start = was.start;
        after.startMark = now.startMark, after.start = now.start;
    }
    if (was.endMark != now.endMark || was.end != now.end) {
        before.endMark = was.endMark, before.end = was.end;
        after.endMark = now.endMark, after.end = now.end;
    }
    if (was.box != now.box || was.boxRect != now.boxRect || was.boxText != now.boxText) {
        before.box = was.box, before.boxRect = was.boxRect;
        after.box = now.box, after.boxRect = now.boxRect;
    }
    return PickRegion(before, plot) + PickRegion(after, plot);
}

void CDataChartPanel::DrawPick(const PickShown& pick, const PlotRect& plot, const QRect& clip)
{
    if (!pick.startMark && !pick.endMark && !pick.box)
        return;
    QPainter p(&m_buffer);
    p.setClipRect(ToQRect(plot).intersected(clip));
    // Marks are combined by exclusive or with what lies below, so that two marks on one line cancel.
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    auto mark = [&](int pixel) {
        if (pick.horizontal)
            p.fillRect(QRect(plot.left, pixel, plot.Width(), 2), pick.colour);
        else
            p.fillRect(QRect(pixel, plot.top, 2, plot.Height()), pick.colour);
    };
    if (pick.startMark)
        mark(pick.start);
    if (pick.endMark)
        mark(pick.end);
    p.end();

    if (!pick.box || !pick.boxRect.intersects(clip))
        return;
    QPainter q(&m_buffer);
    q.setClipRect(pick.boxRect.intersected(clip));
    q.fillRect(pick.boxRect, QColor(192, 255, 192));
    q.setPen(Qt::black);
    q.setFont(QApplication::font());
    q.drawText(pick.boxRect, Qt::AlignLeft | Qt::AlignVCenter, pick.boxText);
}

void CDataChartPanel::ArmRangePick(bool enable, QObject* owner, PickHandler handler)
{
    PayRoll();
    m_pickArmed = enable;
    m_startFixed = m_endFixed = false;
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
    PayRoll();
    m_pickArmed = m_startFixed = m_endFixed = false;
    m_havePointer = false;
    setCursor(Qt::ArrowCursor);
    Redraw();
}

void CDataChartPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (!m_pickArmed || m_endFixed) {
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
            m_haveStartPixel = m_haveEndPixel = false;
            m_havePointer = false;
            setCursor(Qt::ArrowCursor);
            Redraw();
        }
        return;
    }
    if (event->button() != Qt::LeftButton || !m_pickArmed || m_endFixed)
        return;
    const Mapping m = CurrentMapping();
    const chart::AxisMap& axis = pickOrientation == kPickHorizontal ? m.y : m.x;
    // The label box goes with the click; the mark that follows the pointer next shows its own.
    m_havePointer = false;
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

bool CDataChartPanel::IncrementalAppend(CChartSeries& series, double x, double y)
{
    return IncrementalAppend(series, std::vector<double>{x}, std::vector<double>{y});
}

bool CDataChartPanel::IncrementalAppend(CChartSeries& s, const std::vector<double>& xs, const std::vector<double>& ys)
{
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0)
        return false;
    const double xn = xs[n - 1], yn = ys[n - 1];
    if (xn > view.xMax) {
        if (!m_hAuto)
            return false;
        AppendAndScroll(s, xs, ys, n, true);
        return true;
    }
    if (yn > view.yMax) {
        if (!m_vAuto)
            return false;
        AppendAndScroll(s, xs, ys, n, false);
        return true;
    }
    PayRoll();
    s.x.insert(s.x.end(), xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n));
    s.y.insert(s.y.end(), ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(n));
    const std::size_t oldSize = s.x.size() - n;
    s.numberDrawn += static_cast<int>(n);
    if (!DrawAppended(s, oldSize))
        Redraw();
    return true;
}

void CDataChartPanel::PrepareForPoints(CChartSeries& s, std::size_t points)
{
    ReserveWritten(s.x, points);
    ReserveWritten(s.y, points);
    // The copies are made by a whole paint; one now gives the picture the next would.
    if (!RecordOf(&s) && std::find(m_series.begin(), m_series.end(), &s) != m_series.end())
        RenderNow();
    if (SeriesRecord* rec = RecordOf(&s)) {
        ReserveWritten(rec->xs, points);
        ReserveWritten(rec->ys, points);
        ReserveWritten(rec->points, points);
    }
}

std::size_t CDataChartPanel::PreparedPoints(const CChartSeries& s) const
{
    const SeriesRecord* rec = RecordOf(&s);
    return rec ? std::min({rec->xs.capacity(), rec->ys.capacity(), rec->points.capacity()}) : 0;
}

// Draws the points appended after oldSize straight onto the back buffer (and onto the series' layer),
// carrying on the series' drawing where the picture left it, dash pattern included. False when the
// picture does not show the series up to those points with the current view: then only a repaint can
// show them correctly.
bool CDataChartPanel::DrawAppended(CChartSeries& s, std::size_t oldSize)
{
    if (m_needRender || !m_shownValid || m_buffer.isNull() || m_buffer.size() != ClientSize())
        return false;
    const PlotRect plot = PlotArea();
    if (plot.Empty() || !(plot == m_lastPlot))
        return false;
    const Mapping m = CurrentMapping();
    if (!(m == m_lastMapping))
        return false;
    SeriesRecord* rec = RecordOf(&s);
    if (!rec)
        return false;
    const DrawnWindow w = WindowOf(s);
    if (!w.drawn)
        return !rec->drawn;  // hidden before and now: nothing to draw
    if (!rec->drawn) {
        // A series that showed nothing because it had no points from its first drawn one: its line
        // starts at the first new point. Its label comes with the next repaint.
        if (w.first != oldSize)
            return false;
        rec->ClearDrawn();
        rec->drawn = true;
        rec->first = w.first;
        rec->style = StyleOf(s);
        rec->mapping = m;
        rec->plot = plot;
        rec->stableUpdates = 0;
    }
    const std::size_t size = std::min(s.x.size(), s.y.size());
    if (oldSize >= size || w.first != rec->first || w.first + rec->xs.size() != oldSize ||
        w.first + w.count != size || !(StyleOf(s) == rec->style))
        return false;
    // The line goes on from the last point shown, which must still be where it was.
    if (!rec->xs.empty() && (rec->xs.back() != s.x[oldSize - 1] || rec->ys.back() != s.y[oldSize - 1]))
        return false;

    const std::size_t had = rec->points.size();
    MapPoints(s, oldSize, size, m, rec->points);
    rec->xs.insert(rec->xs.end(), s.x.begin() + static_cast<std::ptrdiff_t>(oldSize), s.x.begin() + static_cast<std::ptrdiff_t>(size));
    rec->ys.insert(rec->ys.end(), s.y.begin() + static_cast<std::ptrdiff_t>(oldSize), s.y.begin() + static_cast<std::ptrdiff_t>(size));
    const PixelPoint* fresh = rec->points.data() + had;
    const std::size_t count = rec->points.size() - had;
    if (rec->layered) {
        chart::SeriesDrawState layerState = rec->end;
        chart::PixelTarget layer = rec->LayerTarget();
        chart::DrawSeriesPoints(layer, rec->style, fresh, count, layerState);
    }
    PlotRect touched;
    chart::PixelTarget target = TargetFor(m_buffer, plot);
    target.touched = &touched;
    chart::DrawSeriesPoints(target, rec->style, fresh, count, rec->end);
    const std::size_t from = had > 0 ? had - 1 : 0;
    rec->bounds = Unite(rec->bounds, chart::SeriesBounds(rec->style, rec->points.data() + from, rec->points.size() - from, plot));
    if (!touched.Empty()) {
        DrawOverAppended(*rec, touched);
        update(ToQRect(touched));
    }
    return true;
}

// A whole paint draws the series in list order, so what comes after the appended series in the list
// (a track's line over its points, a theory arc, labels, the pick) lies over the new pixels here too.
// A long series gets its layer for this, so that each new point costs only its own few pixels.
void CDataChartPanel::DrawOverAppended(const SeriesRecord& appended, const PlotRect& touched)
{
    const QRect r = ToQRect(touched);
    chart::PixelTarget target = TargetFor(m_buffer, touched);
    bool later = false;
    for (const auto& rec : m_records) {
        if (rec.get() == &appended) {
            DrawLabel(*rec, r);
            later = true;
            continue;
        }
        if (!later || !rec->drawn)
            continue;
        if (Overlap(rec->bounds, touched)) {
            if (!rec->layered && m_caching && rec->points.size() >= kLayerThreshold)
                rec->BuildLayer(m_lastPlot);
            if (rec->layered) {
                chart::CompositeOpaque(target, rec->LayerTarget(), touched);
            } else {
                chart::SeriesDrawState state;
                chart::DrawSeriesPoints(target, rec->style, rec->points.data(), rec->points.size(), state);
            }
        }
        DrawLabel(*rec, r);
    }
    if (later)
        DrawPick(m_pickShown, m_lastPlot, r);
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
    // A scroll puts the view's start at position × unit. In page mode the new view starts at the newest
    // point (position q); in rolling mode it ends there, so its start lies a page before it. Taking q as
    // the rolling view's position too would make the first scroll back jump a page past the data.
    const bool rolling = scrollMode == kRollingMode;
    if (p + g < mx) {
        // The user has scrolled back: only the bar's range grows.
        const long long live = q == chart::kNoPixel ? chart::kNoPixel : (rolling ? std::max<long long>(0, q - g) : q);
        if (q != chart::kNoPixel && mx < live + g - 1)
            bar.Set(bar.min, static_cast<int>(live + g - 1), static_cast<int>(g), static_cast<int>(p));
        SyncBars();
        return;
    }
    if (rolling) {
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
    // The view starts at a sample, nominally a whole number of steps: the nearest one, so that a time
    // just short of it by rounding does not lose a step.
    const int start = rolling ? chart::TruncPixel((horizontal ? view.xMin : view.yMin) / unit + 0.5) : q;
    const int pos = start == chart::kNoPixel ? 0 : std::max(0, start);
    bar.Set(0, pos + page - 1, page, pos);
    // A rolling trace moves at every sample, along either axis (the pendulum's time runs downwards):
    // its bar is shown again only when the thumb moves, and its picture follows at its own pace.
    if (rolling) {
        FollowWithBars();
        RollOrOwe();
        return;
    }
    SyncBars();
    Redraw();
}

namespace {

// What follows the samples at a pace of its own (a rolling trace's picture, its scroll bar) is brought
// up to date by the first sample that finds it due, and a sample a little early counts as due; the timer
// that pays what is owed when no sample comes waits a sample period longer. So a steady stream of
// samples does the drawing in wakeups the process has anyway, rather than the timer waking it a few
// ms after each of them (a wakeup costs more than the drawing it would save).
constexpr qint64 kFollowEarlyMs = 10;
constexpr qint64 kFollowLateMs = 25;

bool FollowDue(qint64 since, qint64 period)
{
    return since >= period - kFollowEarlyMs;
}

int FollowFallbackMs(qint64 since, qint64 period)
{
    return static_cast<int>(std::max<qint64>(0, period - since) + kFollowLateMs);
}

}  // namespace

void CDataChartPanel::RollOrOwe()
{
    constexpr qint64 kRollFollowMs = 40;
    m_rollOwed = true;
    const qint64 since = m_rolledAt.isValid() ? m_rolledAt.elapsed() : kRollFollowMs;
    if (FollowDue(since, kRollFollowMs))
        PayRoll();
    else if (!m_rollFollow.isActive())
        m_rollFollow.start(FollowFallbackMs(since, kRollFollowMs));
}

void CDataChartPanel::PayRoll()
{
    if (!m_rollOwed)
        return;
    m_rollOwed = false;
    m_rollFollow.stop();
    m_rolledAt.start();
    if (!DrawRolled())
        Redraw();
}

namespace {

// The columns of the plot are grouped in stripes (at least this wide, and at most this many) for the
// part of the picture a rolled series changes; neighbouring stripes are joined when that adds little
// area. Few rectangles keep the region and the copy to the screen cheap.
constexpr int kRollStripe = 16;
constexpr int kRollStripes = 32;
constexpr int kRollRects = 64;

}  // namespace

// The rolling view has moved along x by a whole number of pixels (the view starts at a sample, and
// only the origin changes): everything drawn at data positions moves with it, everything else stays.
// So only the old and the new places of what moves are drawn again, each from the whole paint's
// steps clipped to it: vertical grid lines, the ticks and labels along the x axis, and the series.
// False when the picture cannot be brought up to date this way (then a whole paint follows).
bool CDataChartPanel::DrawRolled()
{
    if (!m_caching || !m_shownValid || m_needRender || m_redrawPending || !isVisible() || m_buffer.isNull() ||
        m_buffer.size() != ClientSize())
        return false;
    const PlotRect plot = PlotArea();
    // A pick mark stands at a pixel rather than moving with the data; equal scale may change the spans.
    if (plot.Empty() || !(plot == m_lastPlot) || view.equalScale || m_pickArmed || !(m_pickShown == PickShown{}))
        return false;
    const Mapping before = m_lastMapping;
    const CChartView shown = m_shownView;
    const Mapping m = PrepareView(plot);
    CChartView moved = shown;
    moved.xMin = view.xMin;
    moved.xMax = view.xMax;
    if (!(moved == view) || !(m.y == before.y) || m.x.scale != before.x.scale || m.x.sign != before.x.sign ||
        !Usable(m, view.xMin, view.yMin) || !Usable(before, shown.xMin, shown.yMin))
        return false;
    // The y axis stands at x = 0 and the y labels and title at the view's left edge: neither moves
    // with the data.
    const double xSpan = chart::UsableSpan(view.xSpan), ySpan = chart::UsableSpan(view.ySpan);
    if (ContainsZero(shown.xMin, xSpan) || ContainsZero(view.xMin, xSpan) ||
        before.Column(shown.xMin) != m.Column(view.xMin))
        return false;
    if (m_series.size() != m_records.size())
        return false;

    // The new pixels of every series, and the boxes of what each point draws (its segment and marker).
    struct Next {
        DrawnWindow window;
        chart::SeriesStyle style;
        std::vector<PixelPoint> points;
    };
    std::vector<Next> next(m_series.size());
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const CChartSeries& s = *m_series[i];
        const SeriesRecord& rec = *m_records[i];
        if (rec.series != &s || !s.labelText.isEmpty() || rec.labelDrawn)
            return false;
        if (reverseDecreasing && !s.x.empty() && !s.y.empty() && s.x.back() < s.x.front())
            return false;
        const std::size_t size = std::min(s.x.size(), s.y.size());
        if (rec.drawn && (!(rec.mapping == before) || rec.first + rec.xs.size() > size ||
                          !SameValues(rec.xs, s.x, rec.first, rec.xs.size()) ||
                          !SameValues(rec.ys, s.y, rec.first, rec.ys.size()) || !(StyleOf(s) == rec.style)))
            return false;
        Next& n = next[i];
        n.window = WindowOf(s);
        if (!n.window.drawn)
            continue;
        n.style = StyleOf(s);
        // A patterned line starts its pattern at the first point drawn: when that point changes,
        // every dash moves by another amount than the data.
        const bool patterned = n.style.style != 0 && !n.style.noLine && !n.style.pen.pattern.empty();
        if (patterned && (!rec.drawn || rec.first != n.window.first))
            return false;
        MapPoints(s, n.window.first, n.window.first + n.window.count, m, n.points);
    }

    // Where the picture changes.
    std::vector<QRect> dirty;
    auto gridColumns = [&](const CChartView& v, const Mapping& mm) {
        auto add = [&](double step) {
            for (double x : AxisMultiples(v.xMin, xSpan, step, plot.Width())) {
                const int c = mm.Column(x);
                if (c > plot.left && c < plot.right - 1)
                    dirty.emplace_back(c, plot.top, 1, plot.Height());
            }
        };
        if (v.xMinorGrid)
            add(v.xMajorStep / 5);
        add(v.xMajorStep);
    };
    gridColumns(shown, before);
    gridColumns(view, m);
    const bool axis = ContainsZero(view.yMin, ySpan);
    const int row = axis ? m.Row(0) : m.Row(view.yMin);
    if (axis) {
        const int toPositiveY = view.yUp ? -1 : 1;
        dirty.push_back(QRect(QPoint(plot.left, std::min(row + toPositiveY, row + 5 * toPositiveY)),
                              QPoint(plot.right - 1, std::max(row + toPositiveY, row + 5 * toPositiveY))));
    }
    QRect labelBand;
    if (view.xLabels) {
        // Labels end at their tick, within the plot's columns (a label that would reach past the left
        // edge is left out); the boxes of the whole paint reach 3 px beyond them.
        const int height = QFontMetrics(LabelFont(view.xLabelHeight, false)).height();
        labelBand = TextBox(plot.left, TextTopBelow(row, height, view.yUp), plot.Width(), height);
    }
    const int stripeWidth = std::max(kRollStripe, (plot.Width() + kRollStripes - 1) / kRollStripes);
    const int stripes = (plot.Width() + stripeWidth - 1) / stripeWidth;
    std::vector<int> stripeTop(static_cast<std::size_t>(stripes), INT_MAX), stripeBottom(static_cast<std::size_t>(stripes), INT_MIN);
    std::vector<std::vector<PlotRect>> boxes(m_series.size());
    auto addPoints = [&](const chart::SeriesStyle& style, const std::vector<PixelPoint>& points,
                         std::vector<PlotRect>* keep) {
        if (keep)
            keep->resize(points.size());
        for (std::size_t k = 0; k < points.size(); ++k) {
            const std::size_t from = k > 0 ? k - 1 : 0;
            const PlotRect b = chart::SeriesBounds(style, points.data() + from, k - from + 1, plot);
            if (keep)
                (*keep)[k] = b;
            if (b.Empty())
                continue;
            const int s0 = (b.left - plot.left) / stripeWidth, s1 = (b.right - 1 - plot.left) / stripeWidth;
            for (int k2 = s0; k2 <= s1; ++k2) {
                stripeTop[static_cast<std::size_t>(k2)] = std::min(stripeTop[static_cast<std::size_t>(k2)], b.top);
                stripeBottom[static_cast<std::size_t>(k2)] = std::max(stripeBottom[static_cast<std::size_t>(k2)], b.bottom);
            }
        }
    };
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const SeriesRecord& rec = *m_records[i];
        if (rec.drawn)
            addPoints(rec.style, rec.points, nullptr);
        if (next[i].window.drawn)
            addPoints(next[i].style, next[i].points, &boxes[i]);
    }
    QRect run;
    for (int k = 0; k < stripes; ++k) {
        const auto at = static_cast<std::size_t>(k);
        if (stripeTop[at] >= stripeBottom[at]) {
            if (!run.isEmpty())
                dirty.push_back(run);
            run = {};
            continue;
        }
        const int left = plot.left + k * stripeWidth;
        const QRect stripe(left, stripeTop[at], std::min(stripeWidth, plot.right - left), stripeBottom[at] - stripeTop[at]);
        const QRect joined = run.united(stripe);
        auto area = [](const QRect& r) { return static_cast<long long>(r.width()) * r.height(); };
        if (!run.isEmpty() && 4 * area(joined) > 5 * (area(run) + area(stripe))) {
            dirty.push_back(run);
            run = stripe;
        } else {
            run = joined;
        }
    }
    if (!run.isEmpty())
        dirty.push_back(run);
    // Where most of the plot changes (a minor grid moving with the data), one whole paint costs less.
    long long area = 0;
    for (const QRect& r : dirty)
        area += static_cast<long long>(r.width()) * r.height();
    if (static_cast<int>(dirty.size()) > kRollRects || 5 * area > 2 * static_cast<long long>(plot.Width()) * plot.Height())
        return false;
    // The labels are drawn once, with their band, rather than again in every rectangle that crosses it.
    if (!labelBand.isEmpty()) {
        std::vector<QRect> apart;
        apart.reserve(dirty.size() + 8);
        for (const QRect& r : dirty) {
            if (!r.intersects(labelBand)) {
                apart.push_back(r);
                continue;
            }
            if (r.top() < labelBand.top())
                apart.push_back(QRect(QPoint(r.left(), r.top()), QPoint(r.right(), labelBand.top() - 1)));
            if (r.bottom() > labelBand.bottom())
                apart.push_back(QRect(QPoint(r.left(), labelBand.bottom() + 1), QPoint(r.right(), r.bottom())));
        }
        apart.push_back(labelBand);
        dirty.swap(apart);
    }

    // The records take the new state; they say what the picture shows from here on.
    for (std::size_t i = 0; i < m_series.size(); ++i) {
        const CChartSeries& s = *m_series[i];
        SeriesRecord& rec = *m_records[i];
        Next& n = next[i];
        if (!n.window.drawn) {
            rec.ClearDrawn();
            continue;
        }
        rec.DropLayer();  // it holds the old pixels
        rec.drawn = true;
        rec.style = n.style;
        rec.first = n.window.first;
        rec.points = std::move(n.points);
        const auto from = static_cast<std::ptrdiff_t>(n.window.first);
        const auto to = static_cast<std::ptrdiff_t>(n.window.first + n.window.count);
        rec.xs.assign(s.x.begin() + from, s.x.begin() + to);
        rec.ys.assign(s.y.begin() + from, s.y.begin() + to);
        rec.end = {};
        AdvanceState(rec.style, rec.points.data(), rec.points.size(), rec.end);
        rec.bounds = chart::SeriesBounds(rec.style, rec.points.data(), rec.points.size(), plot);
        rec.mapping = m;
        rec.plot = plot;
        rec.stableUpdates = 0;
    }
    m_lastMapping = m;
    m_shownView = view;
    m_staticValid = false;
    m_renderedKey = StaticKey{view, ClientSize(), panelBackground};
    m_renderedKeyValid = true;
    ++m_backgroundMoves;

    StaticScene scene;
    BuildScene(plot, m, scene);
    m_rolling = true;
    std::optional<QPainter> painter;
    for (const QRect& r0 : dirty) {
        const QRect r = r0.intersected(m_buffer.rect());
        if (r.isEmpty())
            continue;
        DrawScene(scene, r, painter);
        const PlotRect clip = ToPlotRect(r.intersected(ToQRect(plot)));
        if (!clip.Empty()) {
            chart::PixelTarget target = TargetFor(m_buffer, clip);
            for (std::size_t i = 0; i < m_records.size(); ++i)
                if (m_records[i]->drawn)
                    DrawSeriesWithin(target, *m_records[i], boxes[i], clip);
        }
        m_rolledRects.push_back(r);
        m_rolledBox |= r;
    }
    painter.reset();
    m_rolling = false;
    // The box grows with every roll until it is painted, so that the region asked for stays that box.
    if (!m_rolledBox.isEmpty())
        update(m_rolledBox);
    return true;
}

// Draws the part of a series that reaches clip. Drawing starts, afresh, at the point before the first
// whose segment or marker reaches it: what that point's own marker draws lies outside, and from
// there on every step is drawn in the whole paint's order. A patterned line is drawn whole (its
// pattern runs on from the first point).
void CDataChartPanel::DrawSeriesWithin(chart::PixelTarget& target, const SeriesRecord& rec,
                                       const std::vector<PlotRect>& boxes, const PlotRect& clip)
{
    const bool patterned = rec.style.style != 0 && !rec.style.noLine && !rec.style.pen.pattern.empty();
    std::size_t first = rec.points.size(), last = 0;
    if (patterned || boxes.size() != rec.points.size()) {
        first = 0;
        last = rec.points.size();
    } else {
        for (std::size_t k = 0; k < boxes.size(); ++k) {
            if (!Overlap(boxes[k], clip))
                continue;
            first = std::min(first, k);
            last = k + 1;
        }
        if (first >= last)
            return;
        first = first > 0 ? first - 1 : 0;
    }
    chart::SeriesDrawState state;
    chart::DrawSeriesPoints(target, rec.style, rec.points.data() + first, last - first, state);
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
    PayRoll();
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
    // A bar that shows an older position is brought up to date before the user works it.
    if (m_barsStale && (watched == m_hBar || watched == m_vBar) &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress))
        SyncBars();
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

void CDataChartPanel::SyncBarsIfMoved()
{
    bool stale = false;
    auto looksSame = [&stale](QScrollBar* bar, const chart::ScrollBarModel& model) {
        if (!bar)
            return true;
        if (!bar->isVisible())
            return false;  // a hidden bar costs nothing to set, and its geometry says nothing yet
        const int max = std::max(model.min, model.MaxPos());
        const int page = std::max(1, model.page);
        if (bar->isEnabled() != model.HasRange() || (bar->value() <= bar->minimum()) != (model.pos <= model.min) ||
            (bar->value() >= bar->maximum()) != (model.pos >= max))
            return false;
        if (bar->minimum() == model.min && bar->maximum() == max && bar->pageStep() == page && bar->value() == model.pos)
            return true;
        const auto* b = static_cast<const ChartScrollBar*>(bar);
        if (b->ThumbFor(bar->minimum(), bar->maximum(), bar->pageStep(), bar->value()) != b->ThumbFor(model.min, max, page, model.pos))
            return false;
        stale = true;
        return true;
    };
    if (looksSame(m_hBar, m_hModel) && looksSame(m_vBar, m_vModel)) {
        m_barsStale = m_barsStale || stale;
        return;
    }
    SyncBars();
}

// Early in a recording a rolling trace's thumb shrinks by a pixel at nearly every sample, and each
// move paints the bar (the style's drawing is dear: it hands its fills to other threads). The bar
// is set about every kBarsFollowMs and never stays behind for much longer; a press on it sets it at
// once.
void CDataChartPanel::FollowWithBars()
{
    constexpr qint64 kBarsFollowMs = 200;
    const qint64 since = m_barsSynced.isValid() ? m_barsSynced.elapsed() : kBarsFollowMs;
    if (FollowDue(since, kBarsFollowMs))
        SyncBarsIfMoved();
    else
        m_barsStale = true;
    if (m_barsStale && !m_barsFollow.isActive())
        m_barsFollow.start(FollowFallbackMs(since, kBarsFollowMs));
}

void CDataChartPanel::SyncBars()
{
    m_barsSynced.start();
    m_barsStale = false;
    m_barsFollow.stop();
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
