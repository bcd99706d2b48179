#pragma once
// Numbers as the experiment windows read them from typed fields and write them into labels and tables.

#include <QString>

namespace zelkor::experiments {

// A typed number read the way the standard string-to-double conversion reads it: leading white space,
// then the longest number, the rest ignored; 0 when there is none. Independent of the locale.
double ReadLeadingNumber(const QString& text);

// "%.3f" of a value.
QString Fixed3(double value);

}  // namespace zelkor::experiments
