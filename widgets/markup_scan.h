#pragma once
// The formatted-text markup, scanned without any toolkit: a UTF-16 string of commands
// "\keyword{argument}" with the keywords "font", "text", "math" and "bmp".
//
// Scan rules, which every renderer shares:
//  - the keyword runs from a backslash to the first "{" after it, the argument from there to the first "}";
//    keywords match exactly (case and spaces count); there is no escape character;
//  - text before a backslash and between a "}" and the next backslash is dropped;
//  - what is left after the last command is a plain run (possibly empty);
//  - malformed markup ends the scan with a plain run: a backslash without a later "{" gives the text after
//    the backslash, a "{" without a later "}" the text after the "{", and an unknown keyword its argument,
//    the "}" and everything after it.
//  - a table header cell knows only "text" and "math": there "font" and "bmp" are unknown keywords.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::markup {

enum class CommandKind { Font, Text, Math, Bitmap, Plain };

struct MarkupCommand {
    CommandKind kind;
    std::u16string argument;  // for Plain: the text to draw
    bool operator==(const MarkupCommand&) const = default;
};

// Which keywords a renderer knows.
enum class Keywords { TextBox, HeaderCell };

// The commands of a markup string in order. Always ends with at most one Plain command, and nothing
// follows a Plain command.
std::vector<MarkupCommand> ScanMarkup(std::u16string_view markup, Keywords keywords = Keywords::TextBox);

// Character-set hints carried with a face name.
inline constexpr int kWesternCharSet = 0;
inline constexpr int kChineseCharSet = 134;

// The argument of a font command: "face" or "face,size". The size field may hold an "i" anywhere
// (italic on) and is read as a decimal integer the way "%d" reads it; only a value above 0 changes the
// height.
struct FontChange {
    std::u16string face;
    int charSet = kWesternCharSet;  // kChineseCharSet when the face contains "体"
    bool italic = false;            // true: switch italic on (markup never switches it off)
    int height = 0;                 // > 0: new cell height; 0: keep the height
    bool operator==(const FontChange&) const = default;
};
FontChange ParseFontArgument(std::u16string_view argument);

// Leading integer of s as "%d" reads it: optional white space, optional sign, digits. Values beyond the
// range of int are clamped. Returns 0 when s does not start with a number.
int ReadLeadingInt(std::u16string_view s);

// A math argument split at its first "^" (superscript; takes precedence) or else its first "_" (subscript).
enum class ScriptKind { None, Superscript, Subscript };
struct MathParts {
    std::u16string base;
    std::u16string script;
    ScriptKind kind = ScriptKind::None;
    bool operator==(const MathParts&) const = default;
};
MathParts SplitMath(std::u16string_view argument);

// Resource number of a picture command: the argument read as a decimal number and truncated. Returns -1
// when the argument is not a number or lies outside the range of int (no picture).
int ParseBitmapId(std::u16string_view argument);

}  // namespace zelkor::markup
