#include "markup_scan.h"

#include <climits>

namespace zelkor::markup {
namespace {

bool IsCSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

CommandKind KindOf(std::u16string_view keyword, Keywords keywords, bool& known)
{
    known = true;
    if (keyword == u"text") return CommandKind::Text;
    if (keyword == u"math") return CommandKind::Math;
    if (keywords == Keywords::TextBox) {
        if (keyword == u"font") return CommandKind::Font;
        if (keyword == u"bmp") return CommandKind::Bitmap;
    }
    known = false;
    return CommandKind::Plain;
}

}  // namespace

std::vector<MarkupCommand> ScanMarkup(std::u16string_view markup, Keywords keywords)
{
    std::vector<MarkupCommand> out;
    std::u16string_view rest = markup;
    for (;;) {
        const size_t slash = rest.find(u'\\');
        if (slash == rest.npos) {
            out.push_back({CommandKind::Plain, std::u16string(rest)});
            return out;
        }
        rest.remove_prefix(slash + 1);
        const size_t open = rest.find(u'{');
        if (open == rest.npos) {
            out.push_back({CommandKind::Plain, std::u16string(rest)});
            return out;
        }
        const std::u16string_view keyword = rest.substr(0, open);
        rest.remove_prefix(open + 1);
        const size_t close = rest.find(u'}');
        if (close == rest.npos) {
            out.push_back({CommandKind::Plain, std::u16string(rest)});
            return out;
        }
        bool known = false;
        const CommandKind kind = KindOf(keyword, keywords, known);
        if (!known) {
            out.push_back({CommandKind::Plain, std::u16string(rest)});
            return out;
        }
        out.push_back({kind, std::u16string(rest.substr(0, close))});
        rest.remove_prefix(close + 1);
    }
}

int ReadLeadingInt(std::u16string_view s)
{
    size_t i = 0;
    while (i < s.size() && IsCSpace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        value = value * 10 + (s[i] - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;  // saturate; keeps reading the digits
    }
    if (negative)
        value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

FontChange ParseFontArgument(std::u16string_view argument)
{
    FontChange change;
    const size_t comma = argument.find(u',');
    change.face = std::u16string(argument.substr(0, comma));
    if (change.face.find(u'体') != std::u16string::npos)
        change.charSet = kChineseCharSet;
    if (comma != argument.npos) {
        const std::u16string_view size = argument.substr(comma + 1);
        change.italic = size.find(u'i') != size.npos;
        const int height = ReadLeadingInt(size);
        change.height = height > 0 ? height : 0;
    }
    return change;
}

MathParts SplitMath(std::u16string_view argument)
{
    MathParts parts;
    size_t at = argument.find(u'^');
    if (at != argument.npos) {
        parts.kind = ScriptKind::Superscript;
    } else {
        at = argument.find(u'_');
        if (at != argument.npos)
            parts.kind = ScriptKind::Subscript;
    }
    if (parts.kind == ScriptKind::None) {
        parts.base = std::u16string(argument);
        return parts;
    }
    parts.base = std::u16string(argument.substr(0, at));
    parts.script = std::u16string(argument.substr(at + 1));
    return parts;
}

int ParseBitmapId(std::u16string_view argument)
{
    size_t i = 0;
    while (i < argument.size() && IsCSpace(argument[i]))
        ++i;
    bool negative = false;
    if (i < argument.size() && (argument[i] == u'+' || argument[i] == u'-')) {
        negative = argument[i] == u'-';
        ++i;
    }
    bool anyDigit = false;
    long long value = 0;
    for (; i < argument.size() && IsDigit(argument[i]); ++i) {
        anyDigit = true;
        value = value * 10 + (argument[i] - u'0');
        if (value > INT_MAX)
            return -1;
    }
    // A fraction only truncates; ".5" alone is still a number (0).
    if (i < argument.size() && argument[i] == u'.' && i + 1 < argument.size() && IsDigit(argument[i + 1]))
        anyDigit = true;
    if (!anyDigit)
        return -1;
    if (negative)
        return value == 0 ? 0 : -1;  // "-0.5" truncates to 0; negative numbers name no resource
    return static_cast<int>(value);
}

}  // namespace zelkor::markup
