#pragma once
// Export and import of recorded points as spreadsheet workbooks, for the experiment windows.

#include "workbook.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWidget;

namespace zelkor::output {

// Folder names beside the program.
inline constexpr const char* kFreeFallFolder = "freelyfall";
inline constexpr const char* kProjectileFolder = "acous";
inline constexpr const char* kGalileoFolder = "galileo";
// Where the program folder cannot be written, exports go to documents/<this>/<folder name>.
inline constexpr const char* kProductFolder = "Zelkor2d";
// The desktop entry an installed copy has in <prefix>/share/applications, beside <prefix>/bin.
inline constexpr const char* kDesktopEntryFile = "org.zelkor2d.zelkor2d.desktop";

// What export and import ask of the desktop. An empty function means the real thing; tests replace
// them so that nothing launches a spreadsheet program or waits in a file dialog.
struct SpreadsheetPlatform {
    std::function<QString()> programFolder;    // QCoreApplication::applicationDirPath()
    std::function<QString()> documentsFolder;  // QStandardPaths::DocumentsLocation
    std::function<QDateTime()> now;            // QDateTime::currentDateTime()
    std::function<bool(const QString& path)> openWithDesktop;  // QDesktopServices::openUrl
    // The open dialog; returns the chosen file or an empty string on cancel.
    std::function<QString(QWidget* owner, const QString& startFolder)> chooseFile;
};
SpreadsheetPlatform& SpreadsheetPlatformHooks();

// Where exports of an experiment go: the program folder plus the folder name, or, where the program
// folder cannot be written or is an installed copy's, the same folder names in the user's documents.
// The folder beside the program is created (one level) where missing.
QString ExportFolder(const QString& folderName);
// Where the import dialog starts: the same choice as ExportFolder, without creating anything.
QString ImportStartFolder(const QString& folderName);

// Writes row 0 with the header texts and one row of numbers per point, into ExportFolder(folderName)
// under a name made from the local time, then opens it with the desktop. A failed save is reported
// in a message box instead of opening a file that was never written. Returns the file's path, or an
// empty string when it was not written. An existing file is never replaced: a second export within
// the same second gets "-2" (then "-3", ...) before the extension.
QString ExportWorkbook(QWidget* owner, const QString& folderName, const QStringList& headers,
                       const std::vector<std::vector<double>>& rows);

struct ImportResult {
    enum class Status { Cancelled, Failed, Loaded } status = Status::Cancelled;
    std::unique_ptr<Workbook> workbook;  // with Loaded
};

// Lets the pupil pick a ".xls" file (starting in the experiment's export folder) and loads it.
// Failed: "打开表格文件失败！" has been shown.
ImportResult ImportWorkbook(QWidget* owner, const QString& folderName);

// The first worksheet's data rows 1 .. R-1, `columns` numbers each by the number-of-a-cell rule.
std::vector<std::vector<double>> ReadImportedRows(Workbook& workbook, int columns);

}  // namespace zelkor::output
