#pragma once
// The camera button of the experiment windows: captures the window, asks for a file name and writes
// the picture in the format the name's extension asks for (see image_writers.h).

#include "output/image_writers.h"

#include <QString>
#include <QStringList>

#include <functional>

class QImage;
class QWidget;

namespace zelkor::output {

// Runs the save dialog over `parent`; returns the chosen file name, or an empty string on cancel.
using ChooseSnapshotFile = std::function<QString(QWidget* parent)>;

// The save dialog's file types, in the order offered; the last ("BMP文件") is preselected.
QStringList SnapshotNameFilters();
QString SnapshotDialogTitle();

// Where the save dialog opens: the user's pictures folder, or the home folder where there is none.
QString SnapshotStartFolder();

// The real save dialog: title, file types, default suffix "bmp", confirmation before overwriting.
QString RunSnapshotSaveDialog(QWidget* parent);

// Captures `window`'s client area, asks for a file name with `choose` (the real dialog by default)
// and saves. Failures are shown in a message box over the window; the window carries on regardless.
void TakeSnapshot(QWidget* window);
void TakeSnapshot(QWidget* window, const ChooseSnapshotFile& choose);

// Writes `image` to `fileName` in the format its extension names, with the wait cursor shown.
// An unknown or missing extension writes nothing and says nothing. Returns false after a failure,
// which has been shown in a message box over `parent`.
bool SaveSnapshot(QWidget* parent, const RgbaImage& image, const QString& fileName);

// The window's client area as it is drawn now (rendered off-screen, so covering windows do not matter).
RgbaImage CaptureClientArea(QWidget* window);
RgbaImage ToRgbaImage(const QImage& image);

}  // namespace zelkor::output
