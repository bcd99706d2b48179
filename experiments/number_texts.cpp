#include "number_texts.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace zelkor::experiments {

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
    if (result.ec == std::errc::result_out_of_range) {
        // Out of range: what strtod gives, an infinity or (underflow) 0, with the sign.
        const bool overflow = [&] {
            for (const char* q = p; q < result.ptr; ++q)
                if (*q == 'e' || *q == 'E')
                    return q + 1 < result.ptr && q[1] != '-';
            return true;
        }();
        value = overflow ? HUGE_VAL : 0.0;
    }
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
