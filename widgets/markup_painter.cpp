#include "markup_painter.h"

#include "font_cells.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <optional>

namespace zelkor::widgets {

QString ToQString(std::u16string_view s)
{
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

std::u16string ToU16(const QString& s)
{
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

QFont QFontFor(const markup::FontState& state)
{
    return FontForCellHeight(ToQString(state.face), state.height, state.weight, state.italic, state.charSet);
}

QImage LoadBitmapResource(int id)
{
    if (id < 0)
        return {};
    return QImage(QStringLiteral(":/bitmap/%1.png").arg(id));
}

markup::Extent CQtRunMetrics::MeasureText(const markup::FontState& f, std::u16string_view s)
{
    const QFontMetrics metrics(QFontFor(f));
    return {metrics.horizontalAdvance(ToQString(s)), metrics.height()};
}

markup::Extent CQtRunMetrics::MeasureBitmap(int id)
{
    const QImage image = LoadBitmapResource(id);
    return {image.width(), image.height()};
}

namespace {

// The top-left corner of a run's cell when it is drawn with that anchor at its point.
QPoint CellTopLeft(const markup::PlacedRun& run, Qt::Alignment anchor, const QFontMetrics* metrics)
{
    int left = run.x;
    if (anchor & Qt::AlignRight)
        left -= run.width;
    else if (anchor & Qt::AlignHCenter)
        left -= run.width / 2;
    int top = run.y;
    if (anchor & Qt::AlignBottom)
        top -= run.height;
    else if ((anchor & Qt::AlignBaseline) && metrics)
        top -= metrics->ascent();
    return {left, top};
}

}  // namespace

QRect InkBounds(const markup::PlacedRun& run, Qt::Alignment anchor)
{
    if (run.role == markup::RunRole::Picture)
        return QRect(run.x, run.y, run.width, run.height);  // drawn at its point whatever the anchor
    std::optional<QFontMetrics> metrics;
    if (anchor & Qt::AlignBaseline)
        metrics.emplace(QFontFor(run.font));
    const QRect cell(CellTopLeft(run, anchor, metrics ? &*metrics : nullptr), QSize(run.width, run.height));
    // Half the cell height sideways covers an italic overhang and a negative bearing; a quarter above
    // and below covers accents and descenders that reach beyond the cell.
    const int side = std::max(2, run.font.height / 2);
    const int vertical = std::max(2, run.font.height / 4);
    return cell.adjusted(-side, -vertical, side, vertical);
}

void PaintRuns(QPainter& painter, const std::vector<markup::PlacedRun>& runs, const RunPaintStyle& style,
               const QRect& only)
{
    painter.save();
    for (const markup::PlacedRun& run : runs) {
        if (!only.isNull() && !InkBounds(run, style.anchor).intersects(only))
            continue;
        if (run.role == markup::RunRole::Picture) {
            const QImage image = LoadBitmapResource(run.bitmapId);
            if (!image.isNull())
                painter.drawImage(QPoint(run.x, run.y), image);
            continue;
        }
        if (run.text.empty())
            continue;
        const QFont font = QFontFor(run.font);
        const QFontMetrics metrics(font);
        const QPoint topLeft = CellTopLeft(run, style.anchor, &metrics);
        if (style.opaque)
            painter.fillRect(QRect(topLeft, QSize(run.width, run.height)), style.backgroundColor);
        painter.setFont(font);
        painter.setPen(style.textColor);
        painter.drawText(QPoint(topLeft.x(), topLeft.y() + metrics.ascent()), ToQString(run.text));
    }
    painter.restore();
}

}  // namespace zelkor::widgets
