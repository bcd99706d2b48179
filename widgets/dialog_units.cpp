#include "dialog_units.h"

#include <QFontMetrics>
#include <cmath>

namespace zelkor::widgets {

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(int a, int b, int c)
{
    return static_cast<int>(std::lround(static_cast<double>(a) * b / c));
}

}  // namespace

DialogBaseUnits BaseUnitsFor(const QFont& font)
{
    const QFontMetrics metrics(font);
    const int alphabet =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(alphabet / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const QRect& du, const DialogBaseUnits& units)
{
    const int left = MulDiv(du.left(), units.cx, 4);
    const int top = MulDiv(du.top(), units.cy, 8);
    const int right = MulDiv(du.left() + du.width(), units.cx, 4);
    const int bottom = MulDiv(du.top() + du.height(), units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}

QFont ExperimentDialogFont()
{
    QFont font(QStringLiteral("Microsoft Sans Serif"));
    font.setPixelSize(16);
    return font;
}

}  // namespace zelkor::widgets
