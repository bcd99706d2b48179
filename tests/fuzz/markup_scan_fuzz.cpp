// Any text as markup, scanned with either set of keywords, and every argument read the way the
// renderers read it. The numbers are checked against the C library's own readers on the same text.
//
// Input: one byte (bit 0: header cell keywords), then the markup as UTF-8 (see fuzz_support.h).
#include "fuzz_support.h"
#include "widgets/markup_scan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

using zelkor::fuzz::Require;

namespace {

using namespace zelkor::markup;

// The text for the C library: other characters become one that no number contains.
std::string Narrow(std::u16string_view s)
{
    std::string out;
    for (const char16_t c : s)
        out.push_back(c != 0 && c < 0x80 ? static_cast<char>(c) : '#');
    return out;
}

int IntAsScanned(std::u16string_view s)
{
    const std::string text = Narrow(s);
    const long v = std::strtol(text.c_str(), nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// A picture number: the decimal number, truncated; -1 for none, a negative one or one beyond int.
// Compared only on texts that strtod reads as a decimal number (no exponent, hexadecimal, inf, nan)
// and that hold at most 15 digits: with more, strtod's rounding can pass the next integer
// ("837.99999999999999999" is 838.0), where the digits are truncated as written.
bool DecimalOnly(const std::string& text)
{
    if (text.find_first_of("eEpPxXiInN") != std::string::npos)
        return false;
    return std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) <= 15;
}

int BitmapIdAsRead(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str())
        return -1;
    const double t = std::trunc(v);
    if (t < 0 || t > INT_MAX)
        return -1;
    return static_cast<int>(t);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zelkor::fuzz::Input in(data, size);
    const Keywords keywords = (in.Byte() & 1) != 0 ? Keywords::HeaderCell : Keywords::TextBox;
    const std::u16string markup = in.RestAsUtf16();
    const std::vector<MarkupCommand> commands = ScanMarkup(markup, keywords);

    Require(!commands.empty() && commands.back().kind == CommandKind::Plain, "the scan ends with a plain run");
    std::size_t used = 0;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const MarkupCommand& c = commands[i];
        used += c.argument.size();
        if (i + 1 == commands.size())
            break;
        Require(c.kind != CommandKind::Plain, "nothing follows a plain run");
        Require(c.argument.find(u'}') == std::u16string::npos, "an argument ends at the first }");
        used += 3;  // its backslash and braces
        if (keywords == Keywords::HeaderCell)
            Require(c.kind == CommandKind::Text || c.kind == CommandKind::Math, "a cell knows text and math only");

        Require(ReadLeadingInt(c.argument) == IntAsScanned(c.argument), "leading integer as %d reads it");
        switch (c.kind) {
        case CommandKind::Font: {
            const FontChange f = ParseFontArgument(c.argument);
            const std::size_t comma = c.argument.find(u',');
            Require(f.face == c.argument.substr(0, comma), "face before the first comma");
            Require((f.charSet == kChineseCharSet) == (f.face.find(u'体') != std::u16string::npos), "character set");
            const std::u16string_view sizeField =
                comma == std::u16string::npos ? std::u16string_view{} : std::u16string_view(c.argument).substr(comma + 1);
            Require(f.italic == (sizeField.find(u'i') != std::u16string_view::npos), "italic from the size field");
            const int height = IntAsScanned(sizeField);
            Require(f.height == (height > 0 ? height : 0), "height from the size field");
            break;
        }
        case CommandKind::Math: {
            const MathParts m = SplitMath(c.argument);
            const std::u16string joined = m.kind == ScriptKind::None ? m.base
                                          : m.base + (m.kind == ScriptKind::Superscript ? u'^' : u'_') + m.script;
            Require(joined == c.argument, "math parts make the argument");
            Require(m.kind != ScriptKind::Subscript || c.argument.find(u'^') == std::u16string::npos,
                    "superscript takes precedence");
            Require(m.base.find(m.kind == ScriptKind::Superscript ? u'^' : u'_') == std::u16string::npos ||
                        m.kind == ScriptKind::None,
                    "split at the first mark");
            break;
        }
        case CommandKind::Bitmap: {
            const std::string text = Narrow(c.argument);
            const int id = ParseBitmapId(c.argument);
            Require(id >= -1, "a picture number or none");
            if (DecimalOnly(text))
                Require(id == BitmapIdAsRead(text), "picture number as a decimal number reads");
            break;
        }
        default:
            break;
        }
    }
    Require(used <= markup.size(), "the scan adds no text");
    return 0;
}
