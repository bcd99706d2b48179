// Any bytes as a workbook chosen for import, turned into the rows an experiment window takes: the
// first worksheet's data rows, two or three numbers each. Every stored data row gives one row of the
// asked width, and each number is what its cell reads as (0 where no cell is stored).
//
// Input: one byte (bit 0: three columns, else two), then the file's bytes.
#include "fuzz_support.h"
#include "output/spreadsheet_io.h"
#include "output/workbook.h"

#include <cmath>

using zelkor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelkor::output;
    zelkor::fuzz::Input in(data, size);
    const int columns = (in.Byte() & 1) != 0 ? 3 : 2;
    Workbook wb;
    if (!wb.LoadFromBytes(in.Rest()))
        return 0;
    const std::vector<std::vector<double>> rows = ReadImportedRows(wb, columns);
    const Worksheet* sheet = wb.FirstWorksheet();
    if (sheet == nullptr) {
        Require(rows.empty(), "no rows without a worksheet");
        return 0;
    }
    Require(sheet->RowCount() <= kMaxRows, "row count within the format");
    Require(rows.size() == (sheet->RowCount() > 1 ? sheet->RowCount() - 1 : 0), "one row per data row");
    for (std::size_t r = 0; r < rows.size(); ++r) {
        Require(rows[r].size() == static_cast<std::size_t>(columns), "rows of the asked width");
        for (int c = 0; c < columns; ++c) {
            const double expected = NumberOfCell(sheet->FindCell(static_cast<uint32_t>(r + 1), static_cast<uint32_t>(c)));
            const double got = rows[r][static_cast<std::size_t>(c)];
            Require(got == expected || (std::isnan(got) && std::isnan(expected)), "number of the cell");
        }
    }
    return 0;
}
