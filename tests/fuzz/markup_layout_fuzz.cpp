// Any text as the markup of a text box or of a table header cell, laid out with the real font
// metrics and drawn, on the offscreen platform. The runs must add up to the extent of the layout.
//
// Input: one byte of settings (bit 0: header cell, bits 1-2 and 3-4: horizontal and vertical
// alignment, bit 5: italic math, bit 6: opaque runs, bit 7: runs anchored at the right), two bytes
// for the width and height of the cell's text rectangle, then the markup as UTF-8 (fuzz_support.h).
#include "fuzz_support.h"
#include "widgets/app_setup.h"
#include "widgets/markup_layout.h"
#include "widgets/markup_painter.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>

using zelkor::fuzz::Require;

namespace {

using namespace zelkor;

// The application lives to the end of the process: destroying it among the static destructors,
// after Qt's own, crashes.
void StartQtOnce()
{
    static QApplication* app = nullptr;
    if (app)
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "markup_layout_fuzz";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
    widgets::SetUpApplication(QStringLiteral("kivor"));
}

void Paint(const std::vector<markup::PlacedRun>& runs, std::uint8_t settings)
{
    QImage image(160, 48, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    widgets::RunPaintStyle style;
    style.opaque = (settings & 0x40) != 0;
    style.anchor = (settings & 0x80) != 0 ? (Qt::AlignRight | Qt::AlignBaseline) : (Qt::AlignLeft | Qt::AlignTop);
    widgets::PaintRuns(painter, runs, style);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    StartQtOnce();
    fuzz::Input in(data, size);
    const std::uint8_t settings = in.Byte();
    const int cellWidth = in.Byte(), cellHeight = in.Byte();
    const std::u16string text = in.RestAsUtf16();
    widgets::CQtRunMetrics metrics;

    if ((settings & 1) == 0) {
        markup::FontState state;
        const markup::BoxLayout box = markup::LayoutTextBox(text, state, 4, 2, metrics);
        long long width = 0;
        int height = 0;
        for (const markup::PlacedRun& run : box.runs) {
            Require(run.width >= 0 && run.height >= 0, "no run of negative extent");
            Require(run.font.height >= 1, "a run has a font height");
            width += run.width;
            if (run.role != markup::RunRole::MathScript)
                height = std::max(height, run.height);
        }
        Require(width == box.width && height == box.height, "the runs make the extent of the box");
        Paint(box.runs, settings);
    } else {
        markup::FontState font;
        font.height = 20;
        const markup::CellFormat format{static_cast<markup::HAlign>(((settings >> 1) & 3) % 3),
                                        static_cast<markup::VAlign>(((settings >> 3) & 3) % 3)};
        const markup::Rect rect{2, 2, 2 + cellWidth, 2 + cellHeight};
        const markup::CellLayout cell =
            markup::LayoutGridCell(text, font, (settings & 0x20) != 0, u"Vx(m/s)", rect, format, metrics);
        const markup::Rect& label = cell.labelRect;
        Require(label.left >= rect.left && label.right <= rect.right && label.top >= rect.top &&
                    label.bottom <= rect.bottom,
                "the label lies in the text rectangle");
        for (const markup::PlacedRun& run : cell.runs)
            Require(run.role != markup::RunRole::Picture, "no pictures in a cell");
        Paint(cell.runs, settings);
    }
    return 0;
}
