#include "markup_layout.h"

#include <algorithm>

namespace zelkor::markup {
namespace {

int ScaledHeight(int height, double scale)
{
    // Truncated toward zero as an integer conversion does, but never 0: a 0 height would mean "any size".
    return std::max(1, static_cast<int>(height * scale));
}

void ApplyFontCommand(std::u16string_view argument, FontState& state)
{
    const FontChange change = ParseFontArgument(argument);
    state.face = change.face;
    state.charSet = change.charSet;
    if (change.italic)
        state.italic = true;
    if (change.height > 0)
        state.height = change.height;
}

PlacedRun MakeRun(RunRole role, std::u16string text, const FontState& font, int x, int y, Extent e)
{
    PlacedRun run;
    run.role = role;
    run.text = std::move(text);
    run.font = font;
    run.x = x;
    run.y = y;
    run.width = e.width;
    run.height = e.height;
    return run;
}

// Appends the runs of one math argument with its base at (x, y); returns the run's extent (base plus
// script wide, base high).
Extent PlaceMath(std::u16string_view argument, const FontState& mainFont, const FontState& scriptFont,
                 bool superscriptLowered, int x, int y, RunMetrics& metrics, std::vector<PlacedRun>& runs)
{
    MathParts parts = SplitMath(argument);
    const Extent base = metrics.MeasureText(mainFont, parts.base);
    runs.push_back(MakeRun(RunRole::MathBase, std::move(parts.base), mainFont, x, y, base));
    if (parts.kind == ScriptKind::None)
        return base;
    const Extent script = metrics.MeasureText(scriptFont, parts.script);
    int dy = base.height / 2;
    if (parts.kind == ScriptKind::Superscript)
        dy = superscriptLowered ? base.height / 6 : 0;
    runs.push_back(MakeRun(RunRole::MathScript, std::move(parts.script), scriptFont, x + base.width, y + dy,
                           script));
    return {base.width + script.width, base.height};
}

int AlignedX(const Rect& r, int width, HAlign h)
{
    switch (h) {
    case HAlign::Left: return r.left;
    case HAlign::Center: return r.left + (r.Width() - width) / 2;
    case HAlign::Right: return r.right - width;
    }
    return r.left;
}

int AlignedY(const Rect& r, int height, VAlign v)
{
    switch (v) {
    case VAlign::Top: return r.top;
    case VAlign::Center: return r.top + (r.Height() - height) / 2;
    case VAlign::Bottom: return r.bottom - height;
    }
    return r.top;
}

}  // namespace

BoxLayout LayoutTextBox(std::u16string_view markup, FontState& state, int originX, int originY,
                        RunMetrics& metrics)
{
    BoxLayout layout;
    int x = originX;
    int y = originY;
    auto account = [&](Extent e) {
        x += e.width;
        layout.width += e.width;
        layout.height = std::max(layout.height, e.height);
    };
    for (MarkupCommand& command : ScanMarkup(markup)) {
        switch (command.kind) {
        case CommandKind::Font:
            ApplyFontCommand(command.argument, state);
            break;
        case CommandKind::Text:
        case CommandKind::Plain: {
            const Extent e = metrics.MeasureText(state, command.argument);
            layout.runs.push_back(MakeRun(RunRole::Text, std::move(command.argument), state, x, y, e));
            account(e);
            break;
        }
        case CommandKind::Math: {
            FontState mainFont = state;
            mainFont.italic = true;
            FontState scriptFont = state;
            scriptFont.italic = false;
            scriptFont.height = ScaledHeight(state.height, kBoxScriptScale);
            account(PlaceMath(command.argument, mainFont, scriptFont, true, x, y, metrics, layout.runs));
            break;
        }
        case CommandKind::Bitmap: {
            const int id = ParseBitmapId(command.argument);
            const Extent e = id >= 0 ? metrics.MeasureBitmap(id) : Extent{};
            PlacedRun run = MakeRun(RunRole::Picture, {}, state, x, y, e);
            run.bitmapId = id;
            layout.runs.push_back(std::move(run));
            account(e);
            y += e.height / 4;
            break;
        }
        }
    }
    return layout;
}

CellLayout LayoutGridCell(std::u16string_view markup, const FontState& cellFont, bool mathItalic,
                          std::u16string_view measureText, Rect textRect, CellFormat format,
                          RunMetrics& metrics)
{
    CellLayout layout;
    Rect r = textRect;
    const Extent measure = metrics.MeasureText(cellFont, measureText);
    if (measure.height < r.Height()) {
        r.top += (r.Height() - measure.height) / 2;
        r.bottom = r.top + measure.height;
    }
    if (measure.width < r.Width()) {
        r.left += (r.Width() - measure.width) / 2;
        r.right = r.left + measure.width;
    }
    layout.labelRect = r;

    FontState textFont = cellFont;
    textFont.italic = false;
    FontState mainFont = cellFont;
    mainFont.italic = mathItalic;
    FontState scriptFont = mainFont;
    scriptFont.height = ScaledHeight(cellFont.height, kCellScriptScale);

    auto placeAligned = [&](std::u16string text, const FontState& font) {
        const Extent e = metrics.MeasureText(font, text);
        const int x = AlignedX(r, e.width, format.horizontal);
        const int y = AlignedY(r, e.height, format.vertical);
        layout.runs.push_back(MakeRun(RunRole::Text, std::move(text), font, x, y, e));
        return e;
    };

    for (MarkupCommand& command : ScanMarkup(markup, Keywords::HeaderCell)) {
        switch (command.kind) {
        case CommandKind::Font:
        case CommandKind::Bitmap:
            break;  // not keywords in a cell: the scan never gives them
        case CommandKind::Text:
            r.left += placeAligned(std::move(command.argument), textFont).width;
            break;
        case CommandKind::Math:
            r.left += PlaceMath(command.argument, mainFont, scriptFont, false, r.left, r.top, metrics,
                                layout.runs)
                          .width;
            break;
        case CommandKind::Plain:
            placeAligned(std::move(command.argument), cellFont);
            break;
        }
    }
    return layout;
}

}  // namespace zelkor::markup
