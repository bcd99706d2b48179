#include "number_texts.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace zelkor::experiments {
namespace {

// Whether a number out of the range of double is too large (not too small): the decimal exponent of
// its first significant digit decides, not the sign of the written exponent ("0.000...1" and
// "1000...0e-5" are written with one exponent sign and fall on the other side).
bool Overflows(const char* p, const char* end)
{
    long long order = 0;  // exponent of the first significant digit, without the written exponent
    long long integerDigits = 0;
    long long zerosAfterPoint = 0;
    bool point = false, significant = false;
    for (; p < end && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else if (significant || *p != '0') {
            if (!significant)
                order = point ? -(zerosAfterPoint + 1) : 0;
            significant = true;
            if (!point)
                ++integerDigits;
        } else if (point) {
            ++zerosAfterPoint;
        }
    }
    if (integerDigits > 0)
        order = integerDigits - 1;
    long long exponent = 0;
    if (p < end) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), 1LL << 40);  // far beyond any double
        if (negative)
            exponent = -exponent;
    }
    return order + exponent > 0;
}

}  // namespace

double ReadLeadingNumber(const QString& text)
{
    return LeadingNumber(text).value_or(0.0);
}

std::optional<double> LeadingNumber(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    if (p >= end || *p == '+' || *p == '-')
        return std::nullopt;  // a second sign is no number
    double value = 0.0;
    const auto result = std::from_chars(p, end, value, std::chars_format::general);
    if (result.ec == std::errc::invalid_argument)
        return std::nullopt;
    if (result.ec == std::errc::result_out_of_range)
        value = Overflows(p, result.ptr) ? HUGE_VAL : 0.0;  // what strtod gives, with the sign
    return negative ? -value : value;
}

QString Fixed3(double value)
{
    return Printf("%.3f", value);
}

QString detail::CFormat(const char* format, ...)
{
    char buffer[128];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof buffer)
        return QString::fromUtf8(buffer, n);
    // Longer than the buffer (or an encoding error): Qt's own formatting.
    va_start(args, format);
    QString text = QString::vasprintf(format, args);
    va_end(args);
    return text;
}

}  // namespace zelkor::experiments
