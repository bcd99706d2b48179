#include "markup_painter.h"

#include "font_cells.h"

#include <QFontMetrics>
#include <QPainter>

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

void PaintRuns(QPainter& painter, const std::vector<markup::PlacedRun>& runs, const RunPaintStyle& style)
{
    painter.save();
    for (const markup::PlacedRun& run : runs) {
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
        int left = run.x;
        if (style.anchor & Qt::AlignRight)
            left -= run.width;
        else if (style.anchor & Qt::AlignHCenter)
            left -= run.width / 2;
        int top = run.y;
        if (style.anchor & Qt::AlignBottom)
            top -= run.height;
        else if (style.anchor & Qt::AlignBaseline)
            top -= metrics.ascent();
        if (style.opaque)
            painter.fillRect(QRect(left, top, run.width, run.height), style.backgroundColor);
        painter.setFont(font);
        painter.setPen(style.textColor);
        painter.drawText(QPoint(left, top + metrics.ascent()), ToQString(run.text));
    }
    painter.restore();
}

}  // namespace zelkor::widgets
