// Export of 10,000 rows of three numbers to a file, and import of a sheet of 65,535 data rows read
// the way the experiments read it.
#include "output/workbook.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace {

using namespace zelkor::output;

Workbook Measurements(uint32_t rows)
{
    Workbook wb = Workbook::CreateNew();
    Worksheet* sheet = wb.FirstWorksheet();
    sheet->SetWideText(0, 0, u"X");
    sheet->SetWideText(0, 1, u"Y");
    sheet->SetWideText(0, 2, u"t");
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> pos(0.0, 1.0);
    for (uint32_t r = 1; r <= rows; ++r) {
        sheet->SetNumber(r, 0, pos(rng));
        sheet->SetNumber(r, 1, pos(rng));
        sheet->SetNumber(r, 2, 0.02 * r);
    }
    return wb;
}

void BM_Export10000Rows(benchmark::State& state)
{
    const auto file = std::filesystem::temp_directory_path() / "zelkor_bench_export.xls";
    const Workbook wb = Measurements(10000);
    for (auto _ : state) {
        // The export builds its workbook from the record list each time.
        Workbook fresh = Workbook::CreateNew();
        Worksheet* sheet = fresh.FirstWorksheet();
        const Worksheet* source = wb.WorksheetAt(0);
        for (uint32_t r = 0; r < source->StoredRows().size(); ++r)
            for (const auto& [c, cell] : source->StoredRows()[r])
                *sheet->GetCell(r, c) = cell;
        benchmark::DoNotOptimize(fresh.SaveAs(file));
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_Export10000Rows)->Unit(benchmark::kMillisecond);

void BM_Import65535Rows(benchmark::State& state)
{
    const auto file = std::filesystem::temp_directory_path() / "zelkor_bench_import.xls";
    Measurements(65535).SaveAs(file);
    for (auto _ : state) {
        Workbook wb;
        if (!wb.Load(file)) {
            state.SkipWithError("load failed");
            break;
        }
        Worksheet* sheet = wb.FirstWorksheet();
        double sum = 0;
        for (uint32_t r = 1; r < sheet->RowCount(); ++r)
            for (uint32_t c = 0; c < 3; ++c)
                sum += NumberOfCell(sheet->GetCell(r, c));
        benchmark::DoNotOptimize(sum);
    }
    std::filesystem::remove(file);
}
BENCHMARK(BM_Import65535Rows)->Unit(benchmark::kMillisecond);

}  // namespace
