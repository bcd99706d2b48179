#include "snapshot.h"

#include "widgets/app_setup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QStandardPaths>
#include <QWidget>

#include <cstring>

namespace zelkor::output {

namespace {

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

QStringList SnapshotNameFilters()
{
    return {
        QStringLiteral("支持的图像格式 (*.jpg *.jpeg *.bmp)"),
        QStringLiteral("JPG文件 (*.jpg *.jpeg)"),
        QStringLiteral("PNG文件 (*.png)"),
        QStringLiteral("BMP文件 (*.bmp)"),
    };
}

QString SnapshotDialogTitle()
{
    return QStringLiteral("保存实验界面快照");
}

QString SnapshotStartFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

QString RunSnapshotSaveDialog(QWidget* parent)
{
    QFileDialog dialog(parent, SnapshotDialogTitle());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = SnapshotNameFilters();
    dialog.setNameFilters(filters);
    // A fresh capture has no format of its own and counts as BMP.
    dialog.selectNameFilter(filters.last());
    dialog.setDefaultSuffix(QStringLiteral("bmp"));
    dialog.setDirectory(SnapshotStartFolder());  // not whatever folder the program was started in
    // Overwriting asks first: Qt's default, as long as DontConfirmOverwrite stays off.
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

RgbaImage ToRgbaImage(const QImage& source)
{
    RgbaImage image;
    if (source.isNull()) return image;
    const QImage rgba = source.convertToFormat(QImage::Format_RGBA8888);
    image.width = rgba.width();
    image.height = rgba.height();
    image.stride = static_cast<std::size_t>(rgba.bytesPerLine());
    image.bytes.resize(static_cast<std::size_t>(rgba.sizeInBytes()));
    std::memcpy(image.bytes.data(), rgba.constBits(), image.bytes.size());
    return image;
}

RgbaImage CaptureClientArea(QWidget* window)
{
    if (!window) return {};
    return ToRgbaImage(window->grab().toImage());
}

bool SaveSnapshot(QWidget* parent, const RgbaImage& image, const QString& fileName)
{
    const QByteArray utf8 = fileName.toUtf8();
    const ImageFormat format = FormatFromFileName(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    if (format == ImageFormat::None) return true;
    WriteResult result;
    {
        WaitCursor wait;
        result = WriteImage(image, std::filesystem::path(QFile::encodeName(fileName).toStdString()), format);
    }
    if (result.ok) return true;
    widgets::ShowMessage(parent, QString::fromStdString(result.error));
    return false;
}

void TakeSnapshot(QWidget* window)
{
    TakeSnapshot(window, RunSnapshotSaveDialog);
}

void TakeSnapshot(QWidget* window, const ChooseSnapshotFile& choose)
{
    if (!window || !choose) return;
    const RgbaImage image = CaptureClientArea(window);
    QPointer<QWidget> guard(window);
    const QString fileName = choose(window);
    if (fileName.isEmpty()) return;
    SaveSnapshot(guard.data(), image, fileName);
}

}  // namespace zelkor::output
