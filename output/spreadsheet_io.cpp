#include "spreadsheet_io.h"

#include "widgets/app_setup.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <algorithm>
#include <filesystem>

namespace zelkor::output {

namespace {

// How many "-2", "-3", ... names an export tries before giving up on one second.
constexpr int kMaxSameSecondExports = 999;

QString ProgramFolder()
{
    const auto& hook = SpreadsheetPlatformHooks().programFolder;
    return hook ? hook() : QCoreApplication::applicationDirPath();
}

QString DocumentsFolder()
{
    const auto& hook = SpreadsheetPlatformHooks().documentsFolder;
    if (hook)
        return hook();
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

QString FallbackFolder(const QString& folderName)
{
    return DocumentsFolder() + QLatin1Char('/') + QLatin1String(kProductFolder) + QLatin1Char('/') + folderName;
}

// Whether a file can be created in `folder`. Tried, not read from permission bits: root ignores
// those, and a read-only mount or a full disk does not show in them.
bool CanWriteInto(const QString& folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(folder + QStringLiteral("/.zelkor2d-write-test-XXXXXX"));
    return probe.open();  // removed again when probe goes
}

// On Linux a file name is a byte string; Qt's file names are UTF-8 encoded, whatever the locale.
std::filesystem::path FsPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// An installed copy: its desktop entry lies in the prefix the program folder belongs to.
bool IsInstalledCopy(const QString& programFolder)
{
    return !programFolder.isEmpty() &&
           QFileInfo::exists(programFolder + QStringLiteral("/../share/applications/") + QLatin1String(kDesktopEntryFile));
}

QString FolderFor(const QString& folderName, bool create)
{
    const QString program = ProgramFolder();
    const QString beside = program + QLatin1Char('/') + folderName;
    const bool besideExists = QFileInfo::exists(beside);
    // An installed copy never writes into the system's program folder, even where it could (as root).
    const bool installed = IsInstalledCopy(program);
    if (create && !besideExists && !program.isEmpty() && !installed)
        QDir(program).mkdir(folderName);  // one level; a failure shows in the test below
    if (!installed && CanWriteInto(beside))
        return beside;
    if (!installed && !create && !besideExists && CanWriteInto(program))
        return beside;  // the first export will create it

    const QString fallback = FallbackFolder(folderName);
    if (create)
        QDir().mkpath(fallback);
    else if (!installed && !QFileInfo(fallback).isDir() && QFileInfo(beside).isDir())
        return beside;  // nothing exported per user yet; files may lie beside the program
    return fallback;
}

// Creates an empty file with the first free name for this moment, so that no earlier export is
// replaced. Returns its path, or the first candidate's path when none could be created.
QString ReserveExportFile(const QString& folder, const QDateTime& when, bool* reserved)
{
    const QDate d = when.date();
    const QTime t = when.time();
    const QString base = QString::fromStdString(
        ExportFileName(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()));
    const QString stem = base.chopped(4);  // without ".xls"
    const QString first = folder + QLatin1Char('/') + base;
    *reserved = false;
    for (int n = 1; n <= kMaxSameSecondExports; ++n) {
        const QString candidate =
            n == 1 ? first : folder + QLatin1Char('/') + stem + QStringLiteral("-%1.xls").arg(n);
        QFile file(candidate);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            *reserved = true;
            return candidate;
        }
        if (!QFileInfo::exists(candidate))
            return candidate;  // not a name clash: the folder cannot take the file
    }
    return first;
}

}  // namespace

SpreadsheetPlatform& SpreadsheetPlatformHooks()
{
    static SpreadsheetPlatform hooks;
    return hooks;
}

QString ExportFolder(const QString& folderName)
{
    return FolderFor(folderName, true);
}

QString ImportStartFolder(const QString& folderName)
{
    return FolderFor(folderName, false);
}

QString ExportWorkbook(QWidget* owner, const QString& folderName, const QStringList& headers,
                       const std::vector<std::vector<double>>& rows)
{
    const SpreadsheetPlatform& hooks = SpreadsheetPlatformHooks();
    const QString folder = ExportFolder(folderName);
    bool reserved = false;
    const QString path = ReserveExportFile(folder, hooks.now ? hooks.now() : QDateTime::currentDateTime(), &reserved);

    Workbook workbook = Workbook::CreateNew();
    Worksheet* sheet = workbook.FirstWorksheet();
    const auto columnLimit = static_cast<qsizetype>(kMaxColumns);
    for (qsizetype c = 0; c < std::min(headers.size(), columnLimit); ++c)
        sheet->SetWideText(0, static_cast<uint32_t>(c), headers[c].toStdU16String());
    const std::size_t rowLimit = std::min<std::size_t>(rows.size(), kMaxRows - 1);
    for (std::size_t j = 0; j < rowLimit; ++j) {
        const std::size_t columns = std::min<std::size_t>(rows[j].size(), kMaxColumns);
        for (std::size_t c = 0; c < columns; ++c)
            sheet->SetNumber(static_cast<uint32_t>(j + 1), static_cast<uint32_t>(c), rows[j][c]);
    }

    if (!reserved || !workbook.SaveAs(FsPath(path))) {
        if (reserved)
            QFile::remove(path);  // ours, and not a usable workbook
        widgets::ShowMessage(owner, QStringLiteral("保存表格文件失败！\n%1").arg(QDir::toNativeSeparators(path)));
        return {};
    }
    if (hooks.openWithDesktop)
        hooks.openWithDesktop(path);
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    return path;
}

ImportResult ImportWorkbook(QWidget* owner, const QString& folderName)
{
    const SpreadsheetPlatform& hooks = SpreadsheetPlatformHooks();
    const QString start = ImportStartFolder(folderName);
    const QString chosen = hooks.chooseFile
                               ? hooks.chooseFile(owner, start)
                               : QFileDialog::getOpenFileName(owner, QString(), start, QStringLiteral("表格文件 (*.xls)"));
    ImportResult result;
    if (chosen.isEmpty()) {
        result.status = ImportResult::Status::Cancelled;
        return result;
    }
    auto workbook = std::make_unique<Workbook>();
    if (!workbook->Load(FsPath(chosen))) {
        widgets::ShowMessage(owner, QStringLiteral("打开表格文件失败！"));
        result.status = ImportResult::Status::Failed;
        return result;
    }
    result.status = ImportResult::Status::Loaded;
    result.workbook = std::move(workbook);
    return result;
}

std::vector<std::vector<double>> ReadImportedRows(Workbook& workbook, int columns)
{
    std::vector<std::vector<double>> rows;
    const Worksheet* sheet = workbook.FirstWorksheet();
    if (!sheet || columns <= 0)
        return rows;
    const auto width = std::min<uint32_t>(static_cast<uint32_t>(columns), kMaxColumns);
    const uint32_t count = sheet->RowCount();
    if (count > 1)
        rows.reserve(count - 1);
    for (uint32_t r = 1; r < count; ++r) {
        std::vector<double>& row = rows.emplace_back(width, 0.0);
        // A cell that is not stored reads as 0, exactly as an enlarged, empty one would.
        for (uint32_t c = 0; c < width; ++c)
            row[c] = NumberOfCell(sheet->FindCell(r, c));
    }
    return rows;
}

}  // namespace zelkor::output
