// Workbooks that another spreadsheet program wrote, and ours read by another spreadsheet program.
#include "output/spreadsheet_io.h"
#include "output/workbook.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sstream>

using namespace zelkor::output;

namespace {

const std::vector<std::vector<double>> kFall = {
    {0, 0.001, 0}, {0.002, 0.0196, 0.02}, {-0.001, 0.0784, 0.04},
    {0.5, 0.1764, 0.06}, {1.25, 0.3136, 0.08}, {123.456, -0.75, 0.1},
};

}  // namespace

// Saved in Excel 97-2003 format by an office suite from a text file of these numbers.
TEST(ForeignWorkbook, FileSavedByAnotherSpreadsheetProgramImports)
{
    Workbook book;
    ASSERT_TRUE(book.Load(ZELKOR_TEST_DATA "/office_suite_freefall.xls"));
    Worksheet* sheet = book.FirstWorksheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->RowCount(), kFall.size() + 1);
    const Cell* header = sheet->FindCell(0, 1);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(NumberOfCell(header), 0.0);  // text reads as 0
    EXPECT_EQ(ReadImportedRows(book, 3), kFall);
}

// Another spreadsheet program (Gnumeric's converter, from the package list) turns our export into
// text: it must find every cell, with the value we wrote. On CI the converter is required.
namespace {

bool ConverterAvailable() { return std::system("command -v ssconvert >/dev/null 2>&1") == 0; }

// Splits "a,b,c" lines; the converter quotes no field of ours (numbers and plain headers).
std::vector<std::vector<std::string>> ReadCsv(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string>& row = rows.emplace_back();
        std::stringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ','))
            row.push_back(cell);
    }
    return rows;
}

// Ends the file right after the stream's last byte, inside its last sector, as some writers leave
// it. Our stream lies last in the file and ends with the EOF record (0A 00 00 00), so the file's last
// byte that is not zero is the record's type and three zeros follow.
void EndInsideLastSector(const std::string& path)
{
    std::vector<char> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t used = bytes.size();
    while (used > 0 && bytes[used - 1] == 0)
        --used;
    ASSERT_GT(used, 0u);
    ASSERT_EQ(bytes[used - 1], 0x0A);
    bytes.resize(used + 3);
    ASSERT_NE(bytes.size() % 512, 0u) << "the file should end inside a sector";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

TEST(ForeignWorkbook, AnotherSpreadsheetProgramReadsOurExport)
{
    if (!ConverterAvailable()) {
        if (std::getenv("CI") != nullptr)
            FAIL() << "ssconvert (package gnumeric) is missing on CI";
        GTEST_SKIP() << "no ssconvert on this machine";
    }
    // The largest export a sheet holds: 65,535 rows of numbers below the header row. Every third
    // value fails the two-decimal test (NUMBER); the others go as RK, single or as MULRK runs.
    std::vector<std::vector<double>> largest;
    for (int i = 0; i < 65535; ++i)
        largest.push_back({i * 0.01, i % 3 ? i * 0.5 : i / 3.0 + 0.001, 0.02 * i});
    struct Case {
        const char* name;
        const std::vector<std::vector<double>>* rows;
        bool shortLastSector;
    };
    const Case cases[] = {
        {"small", &kFall, false},
        {"small, short last sector", &kFall, true},
        {"65,535 rows", &largest, false},
        {"65,535 rows, short last sector", &largest, true},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Workbook book = Workbook::CreateNew();
        Worksheet& sheet = *book.FirstWorksheet();
        const char16_t* headers[] = {u"X", u"Y", u"时间"};
        for (uint32_t col = 0; col < 3; ++col)
            sheet.SetWideText(0, col, headers[col]);
        for (uint32_t r = 0; r < c.rows->size(); ++r)
            for (uint32_t col = 0; col < 3; ++col)
                sheet.SetNumber(r + 1, col, (*c.rows)[r][col]);
        ASSERT_TRUE(book.SaveAs(folder + "/ours.xls"));
        if (c.shortLastSector)
            EndInsideLastSector(folder + "/ours.xls");
        std::remove((folder + "/ours.csv").c_str());

        // A private home and in-memory settings: nothing of the machine's user is read or written.
        const std::string command = "cd '" + folder + "' && HOME='" + folder +
                                    "' GSETTINGS_BACKEND=memory timeout 300 ssconvert ours.xls ours.csv >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        const auto csv = ReadCsv(folder + "/ours.csv");
        ASSERT_EQ(csv.size(), c.rows->size() + 1);
        EXPECT_EQ(csv[0], (std::vector<std::string>{"X", "Y", "时间"}));
        std::size_t wrong = 0;
        for (std::size_t r = 0; r < c.rows->size(); ++r) {
            ASSERT_EQ(csv[r + 1].size(), 3u) << "row " << r + 1;
            for (std::size_t col = 0; col < 3; ++col) {
                const double read = std::strtod(csv[r + 1][col].c_str(), nullptr);
                if (read != (*c.rows)[r][col] && ++wrong <= 5)
                    ADD_FAILURE() << "row " << r + 1 << " column " << col << ": " << csv[r + 1][col]
                                  << " instead of " << (*c.rows)[r][col];
            }
        }
        EXPECT_EQ(wrong, 0u);
    }
}
