#pragma once
// A single-selection list box that carries its control id. Like the windows' list boxes, it tells its
// owner about selections the user makes (mouse or keyboard), not about those the program sets.

#include <QListWidget>

namespace zelkor::widgets {

class CZelListBox : public QListWidget {
    Q_OBJECT
public:
    explicit CZelListBox(QWidget* parent = nullptr);

    // A visible child of parent at rect with the control id. Fails without a parent.
    bool Create(int id, const QRect& rect, QWidget* parent);
    // Appends an item; returns its index.
    int AddString(const QString& text);
    // Selects the item at index (-1: none) without a selectionChanged.
    void SetCurSel(int index);
    // The selected index, -1 when none is.
    int GetCurSel() const;

signals:
    void selectionChanged(int index);

private:
    bool settingSelection_ = false;
};

}  // namespace zelkor::widgets
