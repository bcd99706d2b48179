#pragma once
// Drawing of laid-out markup runs with Qt: fonts come from FontForCellHeight, pictures from the bitmap
// resources (":/bitmap/<number>.png").

#include "markup_layout.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <Qt>

class QPainter;

namespace zelkor::widgets {

QFont QFontFor(const markup::FontState& state);
QString ToQString(std::u16string_view s);
std::u16string ToU16(const QString& s);

// The picture resource with that number, or a null image.
QImage LoadBitmapResource(int id);

class CQtRunMetrics final : public markup::RunMetrics {
public:
    markup::Extent MeasureText(const markup::FontState& f, std::u16string_view s) override;
    markup::Extent MeasureBitmap(int id) override;
};

struct RunPaintStyle {
    QColor textColor = Qt::black;
    bool opaque = false;  // fill each text run's cell with backgroundColor behind the glyphs
    QColor backgroundColor = Qt::white;
    // Anchor of each run at its point: AlignLeft, AlignRight or AlignHCenter with AlignTop, AlignBottom
    // or AlignBaseline.
    Qt::Alignment anchor = Qt::AlignLeft | Qt::AlignTop;
};

// Where a run may leave ink: its cell, placed by the anchor, with room for what glyphs draw beyond their
// cell (italic overhang, accents, bearings).
QRect InkBounds(const markup::PlacedRun& run, Qt::Alignment anchor);

// Draws the runs; text with '&' is drawn literally. With `only` given, runs whose ink cannot reach it
// are left out (the painter is expected to clip to it).
void PaintRuns(QPainter& painter, const std::vector<markup::PlacedRun>& runs, const RunPaintStyle& style,
               const QRect& only = QRect());

}  // namespace zelkor::widgets
