// Workbooks that another spreadsheet program wrote, and ours read by another spreadsheet program.
#include "output/spreadsheet_io.h"
#include "output/workbook.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// Where the office suite is installed, it converts our export to text and must find the same cells.
TEST(ForeignWorkbook, AnotherSpreadsheetProgramReadsOurExport)
{
    if (std::system("command -v soffice >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no office suite on this machine";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Workbook book = Workbook::CreateNew();
    Worksheet& sheet = *book.FirstWorksheet();
    const char16_t* headers[] = {u"X", u"Y", u"t"};
    for (uint32_t c = 0; c < 3; ++c)
        sheet.SetWideText(0, c, headers[c]);
    for (uint32_t r = 0; r < kFall.size(); ++r)
        for (uint32_t c = 0; c < 3; ++c)
            sheet.SetNumber(r + 1, c, kFall[r][c]);
    const std::string xls = dir.filePath(QStringLiteral("ours.xls")).toStdString();
    ASSERT_TRUE(book.SaveAs(xls));

    const std::string command = "cd '" + dir.path().toStdString() + "' && HOME='" + dir.path().toStdString() +
                                "' timeout 120 soffice --headless --convert-to csv ours.xls >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream csv(dir.filePath(QStringLiteral("ours.csv")).toStdString());
    ASSERT_TRUE(csv.good());
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line, "X,Y,t");
    for (const auto& row : kFall) {
        ASSERT_TRUE(std::getline(csv, line));
        std::stringstream cells(line);
        for (double expected : row) {
            std::string cell;
            std::getline(cells, cell, ',');
            EXPECT_DOUBLE_EQ(std::stod(cell), expected) << line;
        }
    }
}
