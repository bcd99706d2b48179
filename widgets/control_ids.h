#pragma once
// Controls carry their numeric identifier as the dynamic property "ctrlId"; windows and tests find
// them by it.

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
