#pragma once
// Check boxes and radio buttons that carry their control id.

#include <QCheckBox>
#include <QRadioButton>

namespace zelkor::widgets {

class CZelCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CZelCheckBox(QWidget* parent = nullptr) : QCheckBox(parent) {}
    // A visible child of parent at rect with the control id and caption. Fails without a parent.
    bool Create(int id, const QString& caption, const QRect& rect, QWidget* parent);
};

// Radio buttons of one parent form one group: choosing one clears the others.
class CZelRadioButton : public QRadioButton {
    Q_OBJECT
public:
    explicit CZelRadioButton(QWidget* parent = nullptr) : QRadioButton(parent) {}
    bool Create(int id, const QString& caption, const QRect& rect, QWidget* parent);
};

}  // namespace zelkor::widgets
