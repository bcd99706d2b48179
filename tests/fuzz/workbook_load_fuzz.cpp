// Loads arbitrary bytes as a workbook file. Whatever loads must read like an import does, and
// must save and load again with the same cells.
#include "output/workbook.h"

#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelkor::output;
    Workbook wb;
    if (!wb.LoadFromBytes(std::span(data, size)))
        return 0;
    Worksheet* sheet = wb.FirstWorksheet();
    if (sheet == nullptr || sheet->RowCount() > kMaxRows || sheet->ColumnCount() > kMaxColumns)
        std::abort();
    double sum = 0;
    for (uint32_t r = 1; r < sheet->RowCount() && r < 2000; ++r)
        for (uint32_t c = 0; c < 3; ++c)
            sum += NumberOfCell(sheet->GetCell(r, c));
    (void)sum;

    Workbook again;
    if (!again.LoadFromBytes(wb.SaveToBytes()) || again.WorksheetCount() != wb.WorksheetCount())
        std::abort();
    const Worksheet* copy = again.FirstWorksheet();
    for (uint32_t r = 0; r < sheet->StoredRows().size(); ++r) {
        for (const auto& [c, cell] : sheet->StoredRows()[r]) {
            const Cell* other = copy->FindCell(r, c);
            if (cell.Kind() == CellKind::Empty)
                continue;
            if (other == nullptr || other->Kind() != cell.Kind() || other->Text() != cell.Text() ||
                other->WideText() != cell.WideText() || other->Integer() != cell.Integer())
                std::abort();
            const double a = cell.Number(), b = other->Number();
            if (!(a == b || (a != a && b != b)))
                std::abort();
        }
    }
    return 0;
}
