#pragma once
// Read-only data tables over QTableWidget, addressed as the experiments count rows: row 0 is the header
// row, rows 1 .. R - 1 hold the data (row i shows record i - 1 of the experiment's record list).
//
// The header row is the table's horizontal header view: each column's header is a cell object
// (CGridCell, or CGridCellFTB for markup) painted by a custom QHeaderView, so it stays in place when the
// data rows scroll, and its height is row 0's height. The QTableWidget itself holds rows 1 .. R - 1 as
// its rows 0 .. R - 2. There is no row header and no fixed column. Header sections are not clickable, so a
// click on the header never selects a column or sorts; rows and columns are never resized by dragging.

#include "markup_layout.h"

#include <QColor>
#include <QHeaderView>
#include <QString>
#include <QTableWidget>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

class QMenu;

namespace zelkor::widgets {

inline constexpr int kTableContextMenuId = 132;
inline constexpr int kDeleteSelectedCommand = 32774;
inline const QString kDeleteSelectedText = QStringLiteral("删除选中数据");
inline constexpr int kStandardRowHeight = 30;

// A selected block of cells in table numbering; invalid (all -1) when nothing is selected.
struct CCellRange {
    int minRow = -1;
    int minCol = -1;
    int maxRow = -1;
    int maxCol = -1;
    bool IsValid() const { return minRow >= 0 && minCol >= 0 && maxRow >= minRow && maxCol >= minCol; }
    bool operator==(const CCellRange&) const = default;
};

// An ordinary header cell: text, format, colours, font and margin, drawn as a raised fixed cell.
class CGridCell {
public:
    virtual ~CGridCell() = default;

    QString text;
    Qt::Alignment format = Qt::AlignHCenter | Qt::AlignVCenter;
    QColor textColor{0, 0, 0};
    QColor backgroundColor;  // invalid: the palette's button colour
    markup::FontState font;
    int margin = 2;

    // Draws the cell into rect. Returns false (and draws nothing) without a painter or with an empty rect.
    virtual bool Draw(QPainter* painter, int row, int col, const QRect& rect, bool eraseBackground) const;

    void CopyAttributesFrom(const CGridCell& other);

protected:
    void DrawBackground(QPainter& painter, const QRect& rect) const;
    QRect TextRect(const QRect& rect) const { return rect.adjusted(margin, margin, -margin, -margin); }
};

// A header cell whose text is formatted-text markup, centred by a plain measure text of the same extent.
class CGridCellFTB : public CGridCell {
public:
    QString measureText;
    bool mathItalic = true;

    void SetMeasureText(const QString& s) { measureText = s; }
    bool Draw(QPainter* painter, int row, int col, const QRect& rect, bool eraseBackground) const override;
    // Where Draw places the label's runs inside rect.
    markup::CellLayout Layout(const QRect& rect) const;
};

// What a delete-selected request does to the table and the record list: when proceed is false nothing
// happens at all; otherwise count records from firstRecord are removed (count may be 0, for a selection
// in the header row), and the owner hides its derived series and re-checks its buttons.
struct RowDeletion {
    bool proceed = false;
    int firstRecord = 0;
    int count = 0;
};

// The rows a selection deletes, given the next free table row (1 when the table holds no data).
RowDeletion PlanRowDeletion(const CCellRange& selection, unsigned nextTableRow);

// Removes the records a deletion covers from a list that runs parallel to the table's rows; a list that
// is shorter than the table loses only what it has in that range.
template <typename List>
void EraseDeletedRecords(List& list, const RowDeletion& deletion)
{
    if (!deletion.proceed || deletion.count <= 0 || deletion.firstRecord < 0)
        return;
    const auto size = static_cast<long long>(list.size());
    const long long first = std::min<long long>(deletion.firstRecord, size);
    const long long last = std::min<long long>(first + deletion.count, size);
    list.erase(list.begin() + first, list.begin() + last);
}

struct CTableHeader {
    QString markup;       // empty: the header cell stays an ordinary cell
    QString measureText;  // plain text of the same extent as the markup
};

// The settings every experiment table gets right after creation.
struct CDataTableSettings {
    int rows = 101;  // header row included
    int columns = 2;
    std::vector<int> columnWidths;  // missing entries keep the current width
    QString fontFace = QStringLiteral("Times New Roman");
    int fontHeight = 20;
    int fontWeight = 700;
    int rowHeight = kStandardRowHeight;
    std::vector<CTableHeader> headers;
    bool centreHeaders = true;  // markup header cells take horizontal centring as their format
};

class CDataTable;

class CDataTableHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit CDataTableHeader(CDataTable* table);
    QSize sizeHint() const override;
    int rowHeight = kStandardRowHeight;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    CDataTable* table_;
};

class CDataTable : public QTableWidget {
    Q_OBJECT
public:
    explicit CDataTable(QWidget* parent = nullptr);
    ~CDataTable() override;

    bool Create(const QRect& rect, QWidget* parent, int id);
    // Steps applied to every experiment table, in order: size, column widths, font, row heights, markup
    // headers, read-only flags, white cells, no selection.
    void ApplyCommonSettings(const CDataTableSettings& settings);

    // Size in table numbering (header row included).
    void SetRowCount(int rows);
    void SetColumnCount(int columns);
    int GetRowCount() const { return rowCount() + 1; }
    int GetColumnCount() const { return columnCount(); }

    void SetRowHeight(int row, int height);
    int GetRowHeight(int row) const;
    void SetColumnWidth(int col, int width);
    int GetColumnWidth(int col) const;
    // Font of every cell, header included: face, cell height in pixels and weight.
    void SetTableFont(const QString& face, int cellHeight, int weight);

    // Cells; out-of-range addresses are ignored (getters return empty text / black / centred).
    void SetItemText(int row, int col, const QString& text);
    QString GetItemText(int row, int col) const;
    void SetItemFgColour(int row, int col, const QColor& color);
    QColor GetItemFgColour(int row, int col) const;
    void SetItemFormat(int row, int col, Qt::Alignment format);
    Qt::Alignment GetItemFormat(int row, int col) const;
    // Text colour of every cell of a column, header included.
    void SetColumnTextColour(int col, const QColor& color);
    void SetDefaultCellBackground(const QColor& color);

    CGridCell* GetHeaderCell(int col) const;
    // Replaces the header cell of col with a markup cell that keeps its attributes.
    CGridCellFTB* SwitchHeaderToMarkupCell(int col);

    void SetEditable(bool editable);

    CCellRange GetSelectedCellRange() const;
    void SetSelectedRange(const CCellRange& range);
    void ClearSelectionAndFocus();

    // Deletes data row row (1 .. R - 1); rows below move up, the table gets one row shorter.
    bool DeleteRow(int row);
    // Appends an empty data row of the standard height, with the text colours of the row above.
    void AppendEmptyRow();
    void Refresh();

    // The delete-selected routine: plans the deletion of the selected rows, deletes them while keeping
    // R rows, lowers nextTableRow and repaints. The caller removes deletion's records from its lists
    // (EraseDeletedRecords) and updates its series and buttons.
    RowDeletion DeleteSelectedRows(unsigned& nextTableRow);
    // Clears the selection, empties the data cells of rows 1 .. nextTableRow - 1 and resets the counter.
    void ClearData(unsigned& nextTableRow);

    // Context menu: shown at a right click inside the table while this returns true.
    std::function<bool()> contextMenuCondition;
    // Shows the popup at globalPos when that point lies inside the table and the condition holds;
    // returns whether it did.
    bool ShowContextMenuAt(const QPoint& globalPos);
    QMenu* ContextMenu() const { return menu_; }

signals:
    // A command of the context menu (kDeleteSelectedCommand) for the owning window.
    void commandIssued(int commandId);

protected:
    bool event(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private:
    QTableWidgetItem* Item(int row, int col) const;
    void FillRowItems(int modelRow);
    void ResizeHeaderCells();

    CDataTableHeader* header_;
    QMenu* menu_;
    std::vector<std::unique_ptr<CGridCell>> headerCells_;
    markup::FontState font_;
};

}  // namespace zelkor::widgets
