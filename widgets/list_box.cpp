#include "list_box.h"

#include "control_ids.h"

namespace zelkor::widgets {

CZelListBox::CZelListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(this, &QListWidget::currentRowChanged, this, [this](int row) {
        if (!settingSelection_)
            emit selectionChanged(row);
    });
}

bool CZelListBox::Create(int id, const QRect& rect, QWidget* parent)
{
    return PlaceChildControl(this, parent, id, rect);
}

int CZelListBox::AddString(const QString& text)
{
    addItem(text);
    return count() - 1;
}

void CZelListBox::SetCurSel(int index)
{
    settingSelection_ = true;
    setCurrentRow(index >= 0 && index < count() ? index : -1);
    settingSelection_ = false;
}

int CZelListBox::GetCurSel() const
{
    return currentRow();
}

}  // namespace zelkor::widgets
