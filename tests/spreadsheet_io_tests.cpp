// Export and import of recorded points: where files go and what they are called, what they hold (read
// back by the workbook layer and by an independent reader), the messages on failure, and reading the
// rows an experiment takes from an imported file.
#include "output/spreadsheet_io.h"
#include "tests/support/when_shown.h"
#include "tests/support/xlrd_reader.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

using namespace zelkor::output;
using zelkor::testing::ShownWatcher;
using Rows = std::vector<std::vector<double>>;

std::filesystem::path Fs(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// Closes the next message box with OK and keeps what it said.
struct MessageCatcher {
    QString text, title;
    ShownWatcher<QMessageBox> watcher{[this](QMessageBox* box) {
        text = box->text();
        title = box->windowTitle();
        box->button(QMessageBox::Ok)->click();
    }};
};

class SpreadsheetIo : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        program = temp.filePath(QStringLiteral("program"));
        documents = temp.filePath(QStringLiteral("home/Documents"));
        ASSERT_TRUE(QDir().mkpath(program));
        SpreadsheetPlatform& hooks = SpreadsheetPlatformHooks();
        hooks.programFolder = [this] { return program; };
        hooks.documentsFolder = [this] { return documents; };
        hooks.now = [this] { return now; };
        hooks.openWithDesktop = [this](const QString& path) {
            opened.push_back(path);
            return true;
        };
        hooks.chooseFile = [this](QWidget*, const QString& start) {
            dialogStart.push_back(start);
            return chosen;
        };
    }
    void TearDown() override { SpreadsheetPlatformHooks() = SpreadsheetPlatform{}; }

    QString Write(const QString& name, const QByteArray& bytes)
    {
        QFile f(temp.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }

    QTemporaryDir temp;
    QString program, documents;
    QDateTime now{QDate(2013, 4, 9), QTime(8, 5, 30)};
    QStringList opened, dialogStart;
    QString chosen;
};

const Rows kPoints = {
    {0.0, 0.5, 0.0}, {1.0, -0.25, 0.02}, {0.123, 0.4123, 0.04}, {-1.5e-3, 12345.678, 0.06}, {2.5, 1e-9, 0.08},
};

// ---------------------------------------------------------------------------------------------
// Export

TEST_F(SpreadsheetIo, ExportWritesHeaderAndPointsBesideTheProgramAndOpensIt)
{
    MessageCatcher message;
    const QString path = ExportWorkbook(nullptr, kFreeFallFolder, {"X", "Y", "t"}, kPoints);
    EXPECT_EQ(path, program + "/freelyfall/2013.4.9(08h05m30s).xls");
    EXPECT_EQ(opened, QStringList{path});
    EXPECT_FALSE(message.watcher.Seen());

    Workbook wb;
    ASSERT_TRUE(wb.Load(Fs(path)));
    ASSERT_EQ(wb.WorksheetCount(), 1u);
    Worksheet* sheet = wb.FirstWorksheet();
    EXPECT_EQ(sheet->Name().narrow, "Sheet1");
    ASSERT_EQ(sheet->RowCount(), kPoints.size() + 1);
    EXPECT_EQ(sheet->ColumnCount(), 3u);
    const std::u16string headers[] = {u"X", u"Y", u"t"};
    for (uint32_t c = 0; c < 3; ++c) {
        ASSERT_EQ(sheet->GetCell(0, c)->Kind(), CellKind::WideText);
        EXPECT_EQ(sheet->GetCell(0, c)->WideText(), headers[c]);
    }
    // The numbers come back exactly, whichever record each was written as.
    EXPECT_EQ(ReadImportedRows(wb, 3), kPoints);
}

TEST_F(SpreadsheetIo, AnIndependentReaderSeesEveryCellOfAnExport)
{
    if (!zelkor::testing::XlrdAvailable())
        GTEST_SKIP() << "python3-xlrd is not installed";
    Rows points = kPoints;
    for (int i = 0; i < 300; ++i)  // past the small-stream size as well
        points.push_back({i * 0.013, 1.0 - i * 0.0071, i * 0.02});
    const QString path = ExportWorkbook(nullptr, kProjectileFolder, {"X", "Y", "t"}, points);
    ASSERT_FALSE(path.isEmpty());

    const auto read = zelkor::testing::ReadWithXlrd(ZELKOR_XLRD_SCRIPT, Fs(path).string());
    ASSERT_EQ(read.status, 0) << read.output << read.warnings;
    EXPECT_EQ(read.warnings, "");

    std::ostringstream expected;
    expected << "1\n" << "530068006500650074003100" << ' ' << points.size() + 1 << " 3\n";
    expected << "0 0 t 5800\n0 1 t 5900\n0 2 t 7400\n";
    std::istringstream in(read.output);
    std::string line, firstLines;
    for (int i = 0; i < 5 && std::getline(in, line); ++i)
        firstLines += line + "\n";
    EXPECT_EQ(firstLines, expected.str());
    // The numbers: "r c n value" for every point, in order, nothing else.
    std::size_t seen = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::size_t r = 0, c = 0;
        std::string kind;
        double value = 0;
        fields >> r >> c >> kind >> value;
        ASSERT_EQ(kind, "n") << line;
        ASSERT_GE(r, 1u);
        ASSERT_LE(r, points.size());
        ASSERT_LT(c, 3u);
        EXPECT_EQ(value, points[r - 1][c]) << line;
        ++seen;
    }
    EXPECT_EQ(seen, 3 * points.size());
}

TEST_F(SpreadsheetIo, ExportsWithinOneSecondAllKeepTheirFiles)
{
    const QString first = ExportWorkbook(nullptr, kGalileoFolder, {"X", "Y"}, {{1.0, 2.0}});
    const QString second = ExportWorkbook(nullptr, kGalileoFolder, {"X", "Y"}, {{3.0, 4.0}, {5.0, 6.0}});
    const QString third = ExportWorkbook(nullptr, kGalileoFolder, {"X", "Y"}, {});
    EXPECT_EQ(first, program + "/galileo/2013.4.9(08h05m30s).xls");
    EXPECT_EQ(second, program + "/galileo/2013.4.9(08h05m30s)-2.xls");
    EXPECT_EQ(third, program + "/galileo/2013.4.9(08h05m30s)-3.xls");
    EXPECT_EQ(opened, (QStringList{first, second, third}));

    Workbook a, b, c;
    ASSERT_TRUE(a.Load(Fs(first)));
    ASSERT_TRUE(b.Load(Fs(second)));
    ASSERT_TRUE(c.Load(Fs(third)));
    EXPECT_EQ(ReadImportedRows(a, 2), (Rows{{1.0, 2.0}}));
    EXPECT_EQ(ReadImportedRows(b, 2), (Rows{{3.0, 4.0}, {5.0, 6.0}}));
    EXPECT_TRUE(ReadImportedRows(c, 2).empty());  // header only

    now = now.addSecs(1);
    EXPECT_EQ(ExportWorkbook(nullptr, kGalileoFolder, {"X", "Y"}, {}), program + "/galileo/2013.4.9(08h05m31s).xls");
}

TEST_F(SpreadsheetIo, AProgramFolderThatCannotBeWrittenSendsExportsToDocuments)
{
    // Root may write anywhere, so the folder that cannot hold files is a plain file.
    program = Write("program-file", "not a folder");
    const QString expected = documents + "/Zelkor2d/acous";
    EXPECT_EQ(ImportStartFolder(kProjectileFolder), expected);
    EXPECT_FALSE(QFileInfo::exists(expected));  // the dialog's folder is not created

    const QString path = ExportWorkbook(nullptr, kProjectileFolder, {"X", "Y", "t"}, {{0.1, 0.2, 0.3}});
    EXPECT_EQ(path, expected + "/2013.4.9(08h05m30s).xls");
    EXPECT_EQ(opened, QStringList{path});
    Workbook wb;
    ASSERT_TRUE(wb.Load(Fs(path)));
    EXPECT_EQ(ReadImportedRows(wb, 3), (Rows{{0.1, 0.2, 0.3}}));
    EXPECT_EQ(ImportStartFolder(kProjectileFolder), expected);

    // A writable program folder where the experiment's name is taken by a file.
    program = temp.filePath("program2");
    ASSERT_TRUE(QDir().mkpath(program));
    Write("program2/freelyfall", "a file");
    EXPECT_EQ(ExportFolder(kFreeFallFolder), documents + "/Zelkor2d/freelyfall");

    // A program folder that can be written: the export folder beside it, one level created.
    program = temp.filePath("program3");
    ASSERT_TRUE(QDir().mkpath(program));
    EXPECT_EQ(ImportStartFolder(kGalileoFolder), program + "/galileo");
    EXPECT_FALSE(QFileInfo::exists(program + "/galileo"));
    EXPECT_EQ(ExportFolder(kGalileoFolder), program + "/galileo");
    EXPECT_TRUE(QFileInfo(program + "/galileo").isDir());
    EXPECT_EQ(QDir(program + "/galileo").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 0)
        << "the write test leaves nothing behind";
}

TEST_F(SpreadsheetIo, AFailedSaveIsReportedAndNothingIsOpened)
{
    program = Write("program-file", "x");
    documents = Write("documents-file", "x");
    MessageCatcher message;
    const QString path = ExportWorkbook(nullptr, kFreeFallFolder, {"X", "Y", "t"}, kPoints);
    EXPECT_TRUE(path.isEmpty());
    EXPECT_TRUE(opened.isEmpty());
    ASSERT_TRUE(message.watcher.Seen());
    EXPECT_EQ(message.title, "kivor");
    EXPECT_TRUE(message.text.startsWith("保存表格文件失败！\n")) << message.text.toStdString();
    EXPECT_TRUE(message.text.endsWith("2013.4.9(08h05m30s).xls")) << message.text.toStdString();
}

// ---------------------------------------------------------------------------------------------
// Import

TEST_F(SpreadsheetIo, ImportCancelledFailedAndLoaded)
{
    {
        MessageCatcher message;
        const ImportResult r = ImportWorkbook(nullptr, kFreeFallFolder);
        EXPECT_EQ(r.status, ImportResult::Status::Cancelled);
        EXPECT_EQ(r.workbook, nullptr);
        EXPECT_FALSE(message.watcher.Seen());
        EXPECT_EQ(dialogStart, QStringList{program + "/freelyfall"});
        EXPECT_FALSE(QFileInfo::exists(program + "/freelyfall"));
    }
    for (const QString& bad : {Write("notes.xls", "just some text, not a workbook"), temp.filePath("missing.xls"),
                               temp.path()}) {
        chosen = bad;
        MessageCatcher message;
        const ImportResult r = ImportWorkbook(nullptr, kFreeFallFolder);
        EXPECT_EQ(r.status, ImportResult::Status::Failed) << bad.toStdString();
        EXPECT_EQ(r.workbook, nullptr);
        ASSERT_TRUE(message.watcher.Seen());
        EXPECT_EQ(message.text, "打开表格文件失败！");
        EXPECT_EQ(message.title, "kivor");
    }

    // A folder and file name outside any 8-bit code page, and a file that may only be read.
    const QString folder = temp.filePath("学生数据 ü");
    ASSERT_TRUE(QDir().mkpath(folder));
    Workbook source = Workbook::CreateNew();
    source.FirstWorksheet()->SetWideText(0, 0, u"X");
    source.FirstWorksheet()->SetNumber(1, 0, 0.75);
    source.FirstWorksheet()->SetNumber(2, 1, -2.0);
    chosen = folder + "/自由落体（一）.xls";
    ASSERT_TRUE(source.SaveAs(Fs(chosen)));
    ASSERT_TRUE(QFile::setPermissions(chosen, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    MessageCatcher message;
    ImportResult r = ImportWorkbook(nullptr, kGalileoFolder);
    ASSERT_EQ(r.status, ImportResult::Status::Loaded);
    ASSERT_NE(r.workbook, nullptr);
    EXPECT_FALSE(message.watcher.Seen());
    EXPECT_EQ(ReadImportedRows(*r.workbook, 3), (Rows{{0.75, 0, 0}, {0, -2.0, 0}}));
}

TEST_F(SpreadsheetIo, AnExportImportsBackForEveryExperiment)
{
    struct Case {
        const char* folder;
        QStringList headers;
        int columns;
    };
    for (const Case& c : {Case{kFreeFallFolder, {"X", "Y", "t"}, 3}, Case{kProjectileFolder, {"X", "Y", "t"}, 3},
                          Case{kGalileoFolder, {"X", "Y"}, 2}}) {
        Rows points;
        for (const auto& p : kPoints)
            points.emplace_back(p.begin(), p.begin() + c.columns);
        chosen = ExportWorkbook(nullptr, c.folder, c.headers, points);
        ASSERT_FALSE(chosen.isEmpty());
        ImportResult r = ImportWorkbook(nullptr, c.folder);
        ASSERT_EQ(r.status, ImportResult::Status::Loaded) << c.folder;
        EXPECT_EQ(ReadImportedRows(*r.workbook, c.columns), points) << c.folder;
        EXPECT_EQ(dialogStart.back(), program + "/" + c.folder);
    }
}

TEST_F(SpreadsheetIo, DamagedFilesImportAsAFailureOrWithoutRows)
{
    chosen = ExportWorkbook(nullptr, kFreeFallFolder, {"X", "Y", "t"}, kPoints);
    QFile file(chosen);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray valid = file.readAll();
    file.close();
    ASSERT_GT(valid.size(), 1024);

    // Only the zeros after the last used byte may go missing: such a file imports whole.
    qsizetype used = valid.size();
    while (used > 0 && valid[used - 1] == 0)
        --used;
    int failures = 0;
    for (qsizetype n : {qsizetype{0}, qsizetype{7}, qsizetype{8}, qsizetype{511}, qsizetype{512}, qsizetype{1000},
                        valid.size() / 2, used - 1, used, valid.size() - 1}) {
        chosen = Write("cut.xls", valid.left(n));
        MessageCatcher message;
        ImportResult r = ImportWorkbook(nullptr, kFreeFallFolder);
        if (r.status == ImportResult::Status::Failed) {
            ++failures;
            EXPECT_TRUE(message.watcher.Seen());
        } else {
            ASSERT_EQ(r.status, ImportResult::Status::Loaded) << n;
            EXPECT_EQ(ReadImportedRows(*r.workbook, 3), n >= used ? kPoints : Rows{}) << n;
        }
    }
    EXPECT_GT(failures, 0);
}

// ---------------------------------------------------------------------------------------------
// The rows an experiment reads

TEST(ReadImportedRows, TheNumberOfACellRuleAndTheFirstSheetOnly)
{
    Workbook wb = Workbook::CreateNew();
    wb.AddWorksheet(SheetName::Narrow("Sheet2")).SetNumber(1, 0, 99.0);
    Worksheet* sheet = wb.FirstWorksheet();  // after adding: the list may move
    sheet->SetWideText(0, 0, u"X");
    sheet->SetWideText(0, 1, u"Y");
    sheet->SetNumber(1, 0, 0.25);
    sheet->SetWideText(1, 1, u"0.5");       // a number typed as text
    sheet->GetCell(2, 0)->SetInteger(-3);   // an integer cell
    sheet->GetCell(2, 1)->SetText("1.5");   // 8-bit text
    sheet->GetCell(3, 1);                   // an empty cell, row 3 otherwise missing

    EXPECT_EQ(ReadImportedRows(wb, 3), (Rows{{0.25, 0, 0}, {-3.0, 0, 0}, {0, 0, 0}}));
    EXPECT_EQ(ReadImportedRows(wb, 1), (Rows{{0.25}, {-3.0}, {0}}));
    EXPECT_TRUE(ReadImportedRows(wb, 0).empty());
    EXPECT_EQ(sheet->RowCount(), 4u) << "reading enlarges nothing";

    Workbook header = Workbook::CreateNew();
    header.FirstWorksheet()->SetWideText(0, 0, u"X");
    EXPECT_TRUE(ReadImportedRows(header, 3).empty());
    Workbook none;
    EXPECT_TRUE(ReadImportedRows(none, 3).empty());
}

}  // namespace
