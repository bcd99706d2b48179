#pragma once
// Controls carry their numeric identifier as the dynamic property "ctrlId"; windows and tests find
// them by it.

#include <QRect>
#include <QWidget>

namespace zelkor::widgets {

inline constexpr const char* kControlIdProperty = "ctrlId";

inline void SetControlId(QWidget* widget, int id)
{
    if (widget)
        widget->setProperty(kControlIdProperty, id);
}

inline int ControlId(const QWidget* widget)
{
    const QVariant id = widget ? widget->property(kControlIdProperty) : QVariant();
    return id.isValid() ? id.toInt() : -1;
}

// Makes `control` a visible child of `parent` at `rect`, carrying `id`. False without a parent.
inline bool PlaceChildControl(QWidget* control, QWidget* parent, int id, const QRect& rect)
{
    if (!control || !parent)
        return false;
    control->setParent(parent);
    SetControlId(control, id);
    control->setGeometry(rect);
    control->show();
    return true;
}

// The descendant of `root` of type T with this id, or nullptr.
template <typename T = QWidget>
T* FindControl(const QWidget* root, int id)
{
    if (!root)
        return nullptr;
    for (T* child : root->findChildren<T*>())
        if (ControlId(child) == id)
            return child;
    return nullptr;
}

}  // namespace zelkor::widgets
