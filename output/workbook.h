#pragma once
// The spreadsheet workbook: worksheets with grids of typed cells, saved to and loaded from an
// Excel 97-2003 file (a BIFF8 record stream in a compound file). Plain C++, no toolkit.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zelkor::output {

inline constexpr uint32_t kMaxRows = 65536;
inline constexpr uint32_t kMaxColumns = 256;

enum class CellKind { Empty, Integer, Number, Text, WideText };

class Cell {
public:
    CellKind Kind() const { return static_cast<CellKind>(value_.index()); }

    // The stored value of the cell's own kind; a different kind gives 0 or an empty string.
    int32_t Integer() const;
    double Number() const;
    const std::string& Text() const;           // 8-bit characters, as stored
    const std::u16string& WideText() const;    // UTF-16

    void SetEmpty() { value_ = std::monostate{}; }
    void SetInteger(int32_t v) { value_ = v; }
    void SetNumber(double v) { value_ = v; }
    void SetText(std::string v);
    void SetWideText(std::u16string v);
    // Texts are shared, never changed in place: one string of a file may stand in many cells, and
    // must not be copied into each of them.
    void SetText(std::shared_ptr<const std::string> v);
    void SetWideText(std::shared_ptr<const std::u16string> v);

private:
    std::variant<std::monostate, int32_t, double, std::shared_ptr<const std::string>,
                 std::shared_ptr<const std::u16string>>
        value_;
};

// The one rule by which an import turns a cell into a value: a number gives itself, an integer its
// value as a double, anything else (empty, text, wide text, no cell at all) gives 0.
double NumberOfCell(const Cell* cell);

// A worksheet name is stored either as 8-bit characters or as UTF-16.
struct SheetName {
    bool wide = false;
    std::string narrow;
    std::u16string utf16;

    static SheetName Narrow(std::string name) { return {false, std::move(name), {}}; }
    static SheetName Wide(std::u16string name) { return {true, {}, std::move(name)}; }
};

class Worksheet {
public:
    explicit Worksheet(SheetName name) : name_(std::move(name)) {}

    const SheetName& Name() const { return name_; }
    uint32_t RowCount() const { return rowCount_; }
    uint32_t ColumnCount() const { return columnCount_; }

    // The cell at (row, column). A cell outside the grid but within 65536 rows and 256 columns
    // enlarges the grid to hold it (new cells are empty); beyond those limits there is no cell.
    Cell* GetCell(uint32_t row, uint32_t column);

    // The cell if one is stored there, without enlarging anything.
    const Cell* FindCell(uint32_t row, uint32_t column) const;

    bool SetWideText(uint32_t row, uint32_t column, std::u16string text);
    bool SetNumber(uint32_t row, uint32_t column, double value);

    // The grid size a file declares; never shrinks what cells already occupy.
    void DeclareSize(uint32_t rows, uint32_t columns);

    // Stored cells of one row by column (some may be empty). A cell, once handed out, keeps its
    // address for the life of the worksheet.
    using RowCells = std::map<uint16_t, Cell>;
    std::span<const RowCells> StoredRows() const { return rows_; }
    std::size_t StoredCellCount() const { return cellCount_; }

private:
    SheetName name_;
    uint32_t rowCount_ = 0;
    uint32_t columnCount_ = 0;
    // Only cells that were asked for or read are stored, so memory follows the data rather than
    // the declared size.
    std::vector<RowCells> rows_;
    std::size_t cellCount_ = 0;
};

class Workbook {
public:
    // A workbook with no worksheet; `CreateNew` gives the one an export starts from.
    Workbook() = default;
    static Workbook CreateNew();  // one worksheet "Sheet1"

    Worksheet& AddWorksheet(SheetName name);
    std::size_t WorksheetCount() const { return sheets_.size(); }
    Worksheet* WorksheetAt(std::size_t index);
    const Worksheet* WorksheetAt(std::size_t index) const;
    Worksheet* FirstWorksheet() { return WorksheetAt(0); }
    // Only names stored as 8-bit strings are compared.
    Worksheet* WorksheetByName(std::string_view name);

    // Creates (or replaces) the file with one stream "Workbook" holding the record stream.
    bool SaveAs(const std::filesystem::path& path) const;
    std::vector<uint8_t> SaveToBytes() const;

    // Replaces the content with the workbook in the file; on failure the workbook is left empty.
    // Loading needs read access only: the file is never changed.
    bool Load(const std::filesystem::path& path);
    bool LoadFromBytes(std::span<const uint8_t> image);

private:
    std::vector<Worksheet> sheets_;
};

// "2013.4.9(08h05m30s).xls" for 8:05:30 on 9 April 2013.
std::string ExportFileName(int year, int month, int day, int hour, int minute, int second);

}  // namespace zelkor::output
