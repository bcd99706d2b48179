#include "output/workbook.h"

#include "output/biff8.h"
#include "output/compound_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace zelkor::output {

namespace {

const std::string kNoText;
const std::u16string kNoWideText;

constexpr std::u16string_view kStreamName = u"Workbook";

// Larger files are not workbooks this program wrote or can use; refusing them keeps memory bounded.
constexpr std::uintmax_t kMaxFileSize = 512u * 1024u * 1024u;

}  // namespace

int32_t Cell::Integer() const
{
    const auto* v = std::get_if<int32_t>(&value_);
    return v ? *v : 0;
}

double Cell::Number() const
{
    const auto* v = std::get_if<double>(&value_);
    return v ? *v : 0.0;
}

const std::string& Cell::Text() const
{
    const auto* v = std::get_if<std::shared_ptr<const std::string>>(&value_);
    return v && *v ? **v : kNoText;
}

const std::u16string& Cell::WideText() const
{
    const auto* v = std::get_if<std::shared_ptr<const std::u16string>>(&value_);
    return v && *v ? **v : kNoWideText;
}

void Cell::SetText(std::string v) { value_ = std::make_shared<const std::string>(std::move(v)); }
void Cell::SetWideText(std::u16string v) { value_ = std::make_shared<const std::u16string>(std::move(v)); }
void Cell::SetText(std::shared_ptr<const std::string> v) { value_ = std::move(v); }
void Cell::SetWideText(std::shared_ptr<const std::u16string> v) { value_ = std::move(v); }

double NumberOfCell(const Cell* cell)
{
    if (cell == nullptr)
        return 0.0;
    switch (cell->Kind()) {
    case CellKind::Number:
        return cell->Number();
    case CellKind::Integer:
        return static_cast<double>(cell->Integer());
    default:
        return 0.0;
    }
}

Cell* Worksheet::GetCell(uint32_t row, uint32_t column)
{
    if (row >= kMaxRows || column >= kMaxColumns)
        return nullptr;
    if (row >= rowCount_)
        rowCount_ = row + 1;
    if (column >= columnCount_)
        columnCount_ = column + 1;
    if (row >= rows_.size())
        rows_.resize(row + 1);
    RowCells& cells = rows_[row];
    // Cells mostly arrive left to right, so the end is the usual place.
    const auto hint = cells.empty() || cells.rbegin()->first < column ? cells.end() : cells.lower_bound(static_cast<uint16_t>(column));
    if (hint != cells.end() && hint->first == column)
        return &hint->second;
    ++cellCount_;
    return &cells.emplace_hint(hint, static_cast<uint16_t>(column), Cell{})->second;
}

const Cell* Worksheet::FindCell(uint32_t row, uint32_t column) const
{
    if (row >= rows_.size() || column >= kMaxColumns)
        return nullptr;
    const auto it = rows_[row].find(static_cast<uint16_t>(column));
    return it == rows_[row].end() ? nullptr : &it->second;
}

bool Worksheet::SetWideText(uint32_t row, uint32_t column, std::u16string text)
{
    Cell* cell = GetCell(row, column);
    if (cell == nullptr)
        return false;
    cell->SetWideText(std::move(text));
    return true;
}

bool Worksheet::SetNumber(uint32_t row, uint32_t column, double value)
{
    Cell* cell = GetCell(row, column);
    if (cell == nullptr)
        return false;
    cell->SetNumber(value);
    return true;
}

void Worksheet::DeclareSize(uint32_t rows, uint32_t columns)
{
    rowCount_ = std::max(rowCount_, std::min(rows, kMaxRows));
    columnCount_ = std::max(columnCount_, std::min(columns, kMaxColumns));
}

Workbook Workbook::CreateNew()
{
    Workbook workbook;
    workbook.AddWorksheet(SheetName::Narrow("Sheet1"));
    return workbook;
}

Worksheet& Workbook::AddWorksheet(SheetName name) { return sheets_.emplace_back(std::move(name)); }

Worksheet* Workbook::WorksheetAt(std::size_t index) { return index < sheets_.size() ? &sheets_[index] : nullptr; }

const Worksheet* Workbook::WorksheetAt(std::size_t index) const
{
    return index < sheets_.size() ? &sheets_[index] : nullptr;
}

Worksheet* Workbook::WorksheetByName(std::string_view name)
{
    for (auto& sheet : sheets_) {
        if (!sheet.Name().wide && sheet.Name().narrow == name)
            return &sheet;
    }
    return nullptr;
}

std::vector<uint8_t> Workbook::SaveToBytes() const
{
    const std::vector<uint8_t> stream = WriteWorkbookStream(*this);
    return BuildCompoundFile(kStreamName, stream);
}

bool Workbook::SaveAs(const std::filesystem::path& path) const
{
    const std::vector<uint8_t> image = SaveToBytes();
    if (image.empty())
        return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    file.close();
    return static_cast<bool>(file);
}

bool Workbook::LoadFromBytes(std::span<const uint8_t> image)
{
    sheets_.clear();
    const auto stream = ReadCompoundStream(image, kStreamName);
    if (!stream || !ReadWorkbookStream(*stream, *this)) {
        sheets_.clear();
        return false;
    }
    return true;
}

bool Workbook::Load(const std::filesystem::path& path)
{
    sheets_.clear();
    // Only a regular file: a pipe or a device would block or never end.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxFileSize)
        return false;
    file.seekg(0, std::ios::beg);
    std::vector<uint8_t> image(static_cast<std::size_t>(size));
    if (!file.read(reinterpret_cast<char*>(image.data()), size))
        return false;
    return LoadFromBytes(image);
}

std::string ExportFileName(int year, int month, int day, int hour, int minute, int second)
{
    char name[96];
    std::snprintf(name, sizeof name, "%d.%d.%d(%.2dh%.2dm%.2ds).xls", year, month, day, hour, minute, second);
    return name;
}

}  // namespace zelkor::output
