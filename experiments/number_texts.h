#pragma once
// Numbers as the experiment windows read them from typed fields and write them into labels and tables.

#include <QString>

#include <optional>

namespace zelkor::experiments {

// A typed number read the way the standard string-to-double conversion reads it: leading white space,
// then the longest number, the rest ignored; 0 when there is none. Independent of the locale.
double ReadLeadingNumber(const QString& text);
// The same, but nothing when the text holds no leading number (so that "0" and "abc" differ).
std::optional<double> LeadingNumber(const QString& text);

// "%.3f" of a value.
QString Fixed3(double value);

}  // namespace zelkor::experiments
