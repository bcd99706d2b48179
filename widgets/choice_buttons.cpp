#include "choice_buttons.h"

#include "control_ids.h"

namespace zelkor::widgets {

bool CZelCheckBox::Create(int id, const QString& caption, const QRect& rect, QWidget* parent)
{
    setText(caption);
    return PlaceChildControl(this, parent, id, rect);
}

bool CZelRadioButton::Create(int id, const QString& caption, const QRect& rect, QWidget* parent)
{
    setText(caption);
    return PlaceChildControl(this, parent, id, rect);
}

}  // namespace zelkor::widgets
