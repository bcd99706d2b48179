#pragma once
// Placement of the runs of a formatted-text markup, without any toolkit: the renderers hand in a way to
// measure text and pictures, get back every run with its font and position, and only draw.
//
// Text box: runs are placed left to right from the origin, each anchored at its top-left corner; after a
// picture the pen also moves down by a quarter of the picture's height. Font commands change the box's
// font state, which persists from one layout to the next.
// Header cell: the label is centred by a plain "measure text" of the same extent; text runs are aligned in
// what is left of the label rectangle, math runs start at its left edge. A cell knows no font or picture
// commands: the scan ends at one, with the rest of the markup as plain text.

#include "markup_scan.h"

#include <string>
#include <string_view>
#include <vector>

namespace zelkor::markup {

struct FontState {
    std::u16string face = u"Times New Roman";
    int height = 10;   // character-cell height in pixels
    int weight = 400;  // 400 normal, 700 bold
    bool italic = false;
    int charSet = kWesternCharSet;
    bool operator==(const FontState&) const = default;
};

struct Extent {
    int width = 0;
    int height = 0;
};

class RunMetrics {
public:
    virtual ~RunMetrics() = default;
    // Advance width and cell height of s in font f (an empty s has width 0 and the font's cell height).
    virtual Extent MeasureText(const FontState& f, std::u16string_view s) = 0;
    // Size of the picture resource with that number; 0 x 0 when there is none.
    virtual Extent MeasureBitmap(int id) = 0;
};

enum class RunRole { Text, MathBase, MathScript, Picture };

struct PlacedRun {
    RunRole role = RunRole::Text;
    std::u16string text;  // empty for pictures
    int bitmapId = -1;    // pictures only
    FontState font;       // the font the run is drawn in
    int x = 0;            // top-left corner of the run
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const PlacedRun&) const = default;
};

struct BoxLayout {
    std::vector<PlacedRun> runs;
    int width = 0;   // sum of the run widths
    int height = 0;  // tallest run
};

// Script height of a math run in a text box, as a share of the main height.
inline constexpr double kBoxScriptScale = 0.6;
// Script height of a math run in a header cell.
inline constexpr double kCellScriptScale = 0.8;

// Lays out markup for a text box from (originX, originY). state is the box's font state: font commands
// change it, and the caller keeps it for the next layout.
BoxLayout LayoutTextBox(std::u16string_view markup, FontState& state, int originX, int originY,
                        RunMetrics& metrics);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;   // exclusive
    int bottom = 0;  // exclusive
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

enum class HAlign { Left, Center, Right };
enum class VAlign { Top, Center, Bottom };
struct CellFormat {
    HAlign horizontal = HAlign::Center;
    VAlign vertical = VAlign::Center;
};

struct CellLayout {
    Rect labelRect;  // the text rectangle after centring on the measure text
    std::vector<PlacedRun> runs;
};

// Lays out markup for a header cell whose text rectangle (cell less margin) is textRect, drawn in
// cellFont with the cell's format.
CellLayout LayoutGridCell(std::u16string_view markup, const FontState& cellFont, bool mathItalic,
                          std::u16string_view measureText, Rect textRect, CellFormat format,
                          RunMetrics& metrics);

}  // namespace zelkor::markup
