#pragma once
// Dialog units: control rectangles given in units of the dialog font, converted to pixels the way
// dialog templates are laid out (x by a quarter of the average character width, y by an eighth of the
// character height, rounded to the nearest pixel).

#include <QFont>
#include <QRect>

namespace zelkor::widgets {

struct DialogBaseUnits {
    int cx = 8;   // average character width
    int cy = 16;  // character height
};

DialogBaseUnits BaseUnitsFor(const QFont& font);
QRect MapDialogRect(const QRect& dialogUnits, const DialogBaseUnits& units);

// The experiment windows' dialog font: "Microsoft Sans Serif", 12 point (16 pixels at 96 dpi).
QFont ExperimentDialogFont();

}  // namespace zelkor::widgets
