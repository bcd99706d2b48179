#include "data_table.h"

#include "markup_painter.h"
#include "text_boxes.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace zelkor::widgets {
namespace {

markup::CellFormat ToCellFormat(Qt::Alignment a)
{
    markup::CellFormat f;
    f.horizontal = (a & Qt::AlignHCenter) ? markup::HAlign::Center
                   : (a & Qt::AlignRight) ? markup::HAlign::Right
                                          : markup::HAlign::Left;
    f.vertical = (a & Qt::AlignVCenter) ? markup::VAlign::Center
                 : (a & Qt::AlignBottom) ? markup::VAlign::Bottom
                                         : markup::VAlign::Top;
    return f;
}

markup::Rect ToRect(const QRect& r) { return {r.left(), r.top(), r.right() + 1, r.bottom() + 1}; }

// The style's item painting lays each cell's text out four times (to place a check box, an icon and
// the text, and to elide it) before drawing it; a table that gets a row per sample pays that at every
// sample. A data cell here has neither check box nor icon, so when its text fits on one line it is
// laid out once and drawn where the style draws it, with its pen and font: the same pixels. Anything
// else (a selected or focused cell, a text the style would elide) goes the style's way.
class CPlainCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        constexpr auto kOther = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
                                QStyleOptionViewItem::WrapText;
        const bool plain = !(opt.features & kOther) &&
                           !(opt.state & (QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_Editing)) &&
                           opt.direction == Qt::LeftToRight && !opt.text.contains(QChar(u'\n'));
        if (!plain) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
        QTextLayout layout(opt.text, opt.font);
        if (!opt.text.isEmpty()) {
            QTextOption textOption;
            textOption.setWrapMode(QTextOption::ManualWrap);
            textOption.setTextDirection(opt.direction);
            textOption.setAlignment(QStyle::visualAlignment(opt.direction, opt.displayAlignment));
            layout.setTextOption(textOption);
            layout.beginLayout();
            QTextLine line = layout.createLine();
            line.setLineWidth(textRect.width());
            line.setPosition(QPointF(0, 0));
            layout.endLayout();
            // A pixel of room, so that a text the style would find a fraction too wide is never drawn whole.
            if (line.naturalTextWidth() >= textRect.width() - 1) {
                QStyledItemDelegate::paint(painter, option, index);
                return;
            }
        }
        painter->save();
        painter->setClipRect(opt.rect);
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
        if (!opt.text.isEmpty()) {
            QPalette::ColorGroup group = (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
            if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
                group = QPalette::Inactive;
            painter->setPen(opt.palette.color(group, QPalette::Text));
            const QTextLine line = layout.lineAt(0);
            const QRect placed = QStyle::alignedRect(opt.direction, opt.displayAlignment & Qt::AlignVertical_Mask,
                                                     QSize(textRect.width(), static_cast<int>(line.height())), textRect);
            layout.draw(painter, placed.topLeft());
        }
        painter->restore();
    }
};

}  // namespace

// --- cells -------------------------------------------------------------------------------------------

void CGridCell::CopyAttributesFrom(const CGridCell& other)
{
    text = other.text;
    format = other.format;
    textColor = other.textColor;
    backgroundColor = other.backgroundColor;
    font = other.font;
    margin = other.margin;
}

void CGridCell::DrawBackground(QPainter& painter, const QRect& rect) const
{
    const QPalette palette = QApplication::palette();
    painter.fillRect(rect, backgroundColor.isValid() ? backgroundColor : palette.color(QPalette::Button));
    // A raised fixed cell: light top and left edges, dark bottom and right edges.
    painter.setPen(palette.color(QPalette::Light));
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(palette.color(QPalette::Dark));
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
}

bool CGridCell::Draw(QPainter* painter, int, int, const QRect& rect, bool eraseBackground) const
{
    if (!painter || rect.isEmpty())
        return false;
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    if (eraseBackground)
        DrawBackground(*painter, rect);
    painter->setPen(textColor);
    painter->setFont(QFontFor(font));
    painter->drawText(TextRect(rect), static_cast<int>(format) | Qt::TextSingleLine, text);
    painter->restore();
    return true;
}

markup::CellLayout CGridCellFTB::Layout(const QRect& rect) const
{
    CQtRunMetrics metrics;
    return markup::LayoutGridCell(ToU16(text), font, mathItalic, ToU16(measureText), ToRect(TextRect(rect)),
                                  ToCellFormat(format), metrics);
}

bool CGridCellFTB::Draw(QPainter* painter, int, int, const QRect& rect, bool eraseBackground) const
{
    if (!painter || rect.isEmpty())
        return false;
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    if (eraseBackground)
        DrawBackground(*painter, rect);
    RunPaintStyle style;
    style.textColor = textColor;
    style.opaque = false;
    PaintRuns(*painter, Layout(rect).runs, style);
    painter->restore();
    return true;
}

// --- deletion plan -----------------------------------------------------------------------------------

RowDeletion PlanRowDeletion(const CCellRange& selection, unsigned nextTableRow)
{
    RowDeletion deletion;
    if (nextTableRow <= 1 || !selection.IsValid())
        return deletion;
    deletion.proceed = true;
    const long long r1 = selection.minRow;
    long long r2 = selection.maxRow;
    if (r1 <= 0 || r2 <= 0)
        return deletion;  // a selection reaching into the header row deletes nothing
    r2 = std::min<long long>(r2, static_cast<long long>(nextTableRow) - 1);
    if (r2 < r1)
        return deletion;  // only empty rows selected
    deletion.firstRecord = static_cast<int>(r1 - 1);
    deletion.count = static_cast<int>(r2 - r1 + 1);
    return deletion;
}

// --- header ------------------------------------------------------------------------------------------

CDataTableHeader::CDataTableHeader(CDataTable* table) : QHeaderView(Qt::Horizontal, table), table_(table)
{
    setSectionsClickable(false);
    setHighlightSections(false);
    setSectionResizeMode(QHeaderView::Fixed);
    setStretchLastSection(false);
    setMinimumSectionSize(1);
}

QSize CDataTableHeader::sizeHint() const
{
    return QSize(QHeaderView::sizeHint().width(), rowHeight);
}

void CDataTableHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    if (const CGridCell* cell = table_->GetHeaderCell(logicalIndex))
        cell->Draw(painter, 0, logicalIndex, rect, true);
}

// --- table -------------------------------------------------------------------------------------------

CDataTable::CDataTable(QWidget* parent)
    : QTableWidget(parent), header_(new CDataTableHeader(this)), menu_(new QMenu(this))
{
    setHorizontalHeader(header_);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setDefaultSectionSize(kStandardRowHeight);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSortingEnabled(false);
    setWordWrap(false);
    setItemDelegate(new CPlainCellDelegate(this));
    SetEditable(false);
    // The scroll bars' own menus would hide the table's; their requests go to the table instead.
    verticalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);
    horizontalScrollBar()->setContextMenuPolicy(Qt::NoContextMenu);

    QAction* deleteAction = menu_->addAction(kDeleteSelectedText);
    deleteAction->setData(kDeleteSelectedCommand);
    deleteAction->setProperty("ctrlId", kDeleteSelectedCommand);
    connect(deleteAction, &QAction::triggered, this, [this] { emit commandIssued(kDeleteSelectedCommand); });
}

CDataTable::~CDataTable() = default;

bool CDataTable::Create(const QRect& rect, QWidget* parent, int id)
{
    return PlaceChildControl(this, parent, id, rect);
}

void CDataTable::ApplyCommonSettings(const CDataTableSettings& s)
{
    SetRowCount(s.rows);
    SetColumnCount(s.columns);
    for (size_t col = 0; col < s.columnWidths.size(); ++col)
        SetColumnWidth(static_cast<int>(col), s.columnWidths[col]);
    SetTableFont(s.fontFace, s.fontHeight, s.fontWeight);
    for (int row = 0; row < GetRowCount(); ++row)
        SetRowHeight(row, s.rowHeight);
    for (size_t col = 0; col < s.headers.size() && static_cast<int>(col) < GetColumnCount(); ++col) {
        const CTableHeader& h = s.headers[col];
        const int c = static_cast<int>(col);
        if (h.markup.isEmpty()) {
            SetItemText(0, c, h.measureText);
            continue;
        }
        CGridCellFTB* cell = SwitchHeaderToMarkupCell(c);
        if (s.centreHeaders)
            cell->format = Qt::AlignHCenter;
        cell->SetMeasureText(h.measureText);
        cell->text = h.markup;
    }
    SetEditable(false);
    SetDefaultCellBackground(QColor(255, 255, 255));
    ClearSelectionAndFocus();
    Refresh();
}

void CDataTable::SetRowCount(int rows)
{
    const int oldRows = rowCount();
    setRowCount(std::max(0, rows - 1));
    for (int r = oldRows; r < rowCount(); ++r) {
        FillRowItems(r);
        verticalHeader()->resizeSection(r, kStandardRowHeight);
    }
}

void CDataTable::SetColumnCount(int columns)
{
    columns = std::max(0, columns);
    setColumnCount(columns);
    ResizeHeaderCells();
    for (int r = 0; r < rowCount(); ++r)
        FillRowItems(r);
}

void CDataTable::ResizeHeaderCells()
{
    const auto n = static_cast<size_t>(columnCount());
    while (headerCells_.size() > n)
        headerCells_.pop_back();
    while (headerCells_.size() < n) {
        auto cell = std::make_unique<CGridCell>();
        cell->font = font_;
        headerCells_.push_back(std::move(cell));
    }
}

void CDataTable::FillRowItems(int modelRow)
{
    for (int c = 0; c < columnCount(); ++c) {
        if (item(modelRow, c))
            continue;
        auto* it = new QTableWidgetItem();
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        it->setTextAlignment(Qt::AlignCenter);
        it->setForeground(QColor(0, 0, 0));
        setItem(modelRow, c, it);
    }
}

void CDataTable::SetRowHeight(int row, int height)
{
    height = std::max(1, height);
    if (row == 0) {
        header_->rowHeight = height;
        header_->updateGeometry();
        updateGeometries();
    } else if (row >= 1 && row - 1 < rowCount()) {
        verticalHeader()->resizeSection(row - 1, height);
    }
}

int CDataTable::GetRowHeight(int row) const
{
    if (row == 0)
        return header_->rowHeight;
    if (row >= 1 && row - 1 < rowCount())
        return verticalHeader()->sectionSize(row - 1);
    return 0;
}

void CDataTable::SetColumnWidth(int col, int width)
{
    if (col >= 0 && col < columnCount())
        header_->resizeSection(col, std::max(0, width));
}

int CDataTable::GetColumnWidth(int col) const
{
    return col >= 0 && col < columnCount() ? header_->sectionSize(col) : 0;
}

void CDataTable::SetTableFont(const QString& face, int cellHeight, int weight)
{
    font_.face = ToU16(face);
    font_.height = cellHeight;
    font_.weight = weight;
    font_.italic = false;
    font_.charSet = face.contains(QChar(u'体')) ? markup::kChineseCharSet : markup::kWesternCharSet;
    setFont(QFontFor(font_));
    for (auto& cell : headerCells_)
        cell->font = font_;
    header_->viewport()->update();
}

QTableWidgetItem* CDataTable::Item(int row, int col) const
{
    if (row < 1 || row - 1 >= rowCount() || col < 0 || col >= columnCount())
        return nullptr;
    return item(row - 1, col);
}

CGridCell* CDataTable::GetHeaderCell(int col) const
{
    if (col < 0 || static_cast<size_t>(col) >= headerCells_.size())
        return nullptr;
    return headerCells_[static_cast<size_t>(col)].get();
}

CGridCellFTB* CDataTable::SwitchHeaderToMarkupCell(int col)
{
    CGridCell* old = GetHeaderCell(col);
    if (!old)
        return nullptr;
    if (auto* already = dynamic_cast<CGridCellFTB*>(old))
        return already;
    auto cell = std::make_unique<CGridCellFTB>();
    cell->CopyAttributesFrom(*old);
    CGridCellFTB* raw = cell.get();
    headerCells_[static_cast<size_t>(col)] = std::move(cell);
    header_->viewport()->update();
    return raw;
}

void CDataTable::SetItemText(int row, int col, const QString& text)
{
    if (row == 0) {
        if (CGridCell* cell = GetHeaderCell(col)) {
            cell->text = text;
            header_->viewport()->update();
        }
    } else if (QTableWidgetItem* it = Item(row, col)) {
        it->setText(text);
    }
}

QString CDataTable::GetItemText(int row, int col) const
{
    if (row == 0) {
        const CGridCell* cell = GetHeaderCell(col);
        return cell ? cell->text : QString();
    }
    const QTableWidgetItem* it = Item(row, col);
    return it ? it->text() : QString();
}

void CDataTable::SetItemFgColour(int row, int col, const QColor& color)
{
    if (row == 0) {
        if (CGridCell* cell = GetHeaderCell(col)) {
            cell->textColor = color;
            header_->viewport()->update();
        }
    } else if (QTableWidgetItem* it = Item(row, col)) {
        it->setForeground(color);
    }
}

QColor CDataTable::GetItemFgColour(int row, int col) const
{
    if (row == 0) {
        const CGridCell* cell = GetHeaderCell(col);
        return cell ? cell->textColor : QColor(0, 0, 0);
    }
    const QTableWidgetItem* it = Item(row, col);
    return it ? it->foreground().color() : QColor(0, 0, 0);
}

void CDataTable::SetItemFormat(int row, int col, Qt::Alignment format)
{
    if (row == 0) {
        if (CGridCell* cell = GetHeaderCell(col)) {
            cell->format = format;
            header_->viewport()->update();
        }
    } else if (QTableWidgetItem* it = Item(row, col)) {
        it->setTextAlignment(format);
    }
}

Qt::Alignment CDataTable::GetItemFormat(int row, int col) const
{
    if (row == 0) {
        const CGridCell* cell = GetHeaderCell(col);
        return cell ? cell->format : Qt::AlignCenter;
    }
    const QTableWidgetItem* it = Item(row, col);
    return it ? Qt::Alignment(it->textAlignment()) : Qt::Alignment(Qt::AlignCenter);
}

void CDataTable::SetColumnTextColour(int col, const QColor& color)
{
    for (int row = 0; row < GetRowCount(); ++row)
        SetItemFgColour(row, col, color);
}

void CDataTable::SetDefaultCellBackground(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, color);
    setPalette(p);
}

void CDataTable::SetEditable(bool editable)
{
    setEditTriggers(editable ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                             : QAbstractItemView::NoEditTriggers);
}

CCellRange CDataTable::GetSelectedCellRange() const
{
    CCellRange range;
    for (const QTableWidgetSelectionRange& r : selectedRanges()) {
        if (r.rowCount() <= 0 || r.columnCount() <= 0)
            continue;
        if (!range.IsValid()) {
            range = {r.topRow() + 1, r.leftColumn(), r.bottomRow() + 1, r.rightColumn()};
            continue;
        }
        range.minRow = std::min(range.minRow, r.topRow() + 1);
        range.minCol = std::min(range.minCol, r.leftColumn());
        range.maxRow = std::max(range.maxRow, r.bottomRow() + 1);
        range.maxCol = std::max(range.maxCol, r.rightColumn());
    }
    return range;
}

void CDataTable::SetSelectedRange(const CCellRange& range)
{
    clearSelection();
    if (!range.IsValid() || rowCount() == 0 || columnCount() == 0)
        return;
    // Only data rows can be selected; the header row is not part of the item grid.
    const int top = std::clamp(range.minRow, 1, rowCount()) - 1;
    const int bottom = std::clamp(range.maxRow, 1, rowCount()) - 1;
    const int left = std::clamp(range.minCol, 0, columnCount() - 1);
    const int right = std::clamp(range.maxCol, 0, columnCount() - 1);
    setRangeSelected(QTableWidgetSelectionRange(top, left, bottom, right), true);
}

void CDataTable::ClearSelectionAndFocus()
{
    if (selectionModel())
        selectionModel()->clear();
}

bool CDataTable::DeleteRow(int row)
{
    if (row < 1 || row - 1 >= rowCount())
        return false;
    removeRow(row - 1);
    return true;
}

void CDataTable::AppendEmptyRow()
{
    const int r = rowCount();
    insertRow(r);
    FillRowItems(r);
    for (int c = 0; c < columnCount(); ++c)
        item(r, c)->setForeground(GetItemFgColour(r, c));  // row r in table numbering is the row above
    verticalHeader()->resizeSection(r, kStandardRowHeight);
}

void CDataTable::Refresh()
{
    viewport()->update();
    header_->viewport()->update();
}

RowDeletion CDataTable::DeleteSelectedRows(unsigned& nextTableRow)
{
    const RowDeletion deletion = PlanRowDeletion(GetSelectedCellRange(), nextTableRow);
    if (!deletion.proceed)
        return deletion;
    const int firstRow = deletion.firstRecord + 1;
    for (int k = 0; k < deletion.count; ++k) {
        if (DeleteRow(firstRow))
            AppendEmptyRow();
    }
    nextTableRow -= static_cast<unsigned>(deletion.count);
    Refresh();
    return deletion;
}

void CDataTable::ClearData(unsigned& nextTableRow)
{
    ClearSelectionAndFocus();
    const long long last = std::min<long long>(static_cast<long long>(nextTableRow) - 1, rowCount());
    for (int row = 1; row <= last; ++row)
        for (int c = 0; c < columnCount(); ++c)
            SetItemText(row, c, QString());
    // Each emptied cell has asked for its own repaint; the header and the rows that were empty already
    // stay as they are (a recording starts with this, a sample later the table gets its first row).
    nextTableRow = 1;
}

bool CDataTable::ShowContextMenuAt(const QPoint& globalPos)
{
    if (!rect().contains(mapFromGlobal(globalPos)))
        return false;
    if (contextMenuCondition && !contextMenuCondition())
        return false;
    menu_->popup(globalPos);
    return true;
}

void CDataTable::contextMenuEvent(QContextMenuEvent* e)
{
    ShowContextMenuAt(e->globalPos());
    e->accept();
}

bool CDataTable::event(QEvent* e)
{
    // Requests from the header or the scroll bars reach the table itself rather than its viewport.
    if (e->type() == QEvent::ContextMenu) {
        contextMenuEvent(static_cast<QContextMenuEvent*>(e));
        return true;
    }
    return QTableWidget::event(e);
}

}  // namespace zelkor::widgets
