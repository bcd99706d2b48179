#pragma once
// Numbers as the experiment windows read them from typed fields and write them into labels and tables.

#include <QString>

#include <cmath>
#include <optional>
#include <type_traits>

namespace zelkor::experiments {

// A typed number read the way the standard string-to-double conversion reads it: leading white space,
// then the longest number, the rest ignored; 0 when there is none. Independent of the locale.
double ReadLeadingNumber(const QString& text);
// The same, but nothing when the text holds no leading number (so that "0" and "abc" differ).
std::optional<double> LeadingNumber(const QString& text);

// "%.3f" of a value.
QString Fixed3(double value);

namespace detail {
// The C library's formatting into a buffer on the stack (Qt's for a text longer than that).
QString CFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace detail

// A printf-formatted text exactly as QString::asprintf gives it, at a small part of its cost (the live
// readouts format several numbers per sample). The two differ only in a negative zero, which Qt shows
// without its sign, and in a NaN, left to Qt.
template <class... Args>
QString Printf(const char* format, Args... args)
{
    auto isNan = [](auto v) {
        if constexpr (std::is_floating_point_v<decltype(v)>)
            return std::isnan(v);
        else
            return false;
    };
    auto unsignedZero = [](auto v) {
        if constexpr (std::is_floating_point_v<decltype(v)>)
            return v == 0 ? decltype(v){0} : v;
        else
            return v;
    };
    if ((isNan(args) || ...))
        return QString::asprintf(format, args...);
    return detail::CFormat(format, unsignedZero(args)...);
}

}  // namespace zelkor::experiments
