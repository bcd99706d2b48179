#include "menu_dialog.h"

#include "png_decode.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <cstring>

namespace zelkor::launcher {

namespace {

const QColor kBackground(88, 76, 142);

// A button that is nothing but its bitmap, sized to it.
class ImageButton : public QAbstractButton {
public:
    ImageButton(const QImage& image, QWidget* parent) : QAbstractButton(parent), image_(image)
    {
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::ArrowCursor);
        const QSize size = image_.isNull() ? QSize(16, 16) : image_.size();
        setFixedSize(size);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (image_.isNull()) {
            painter.fillRect(rect(), kBackground);
        } else {
            painter.drawImage(0, 0, image_);
        }
        if (isDown()) painter.fillRect(rect(), QColor(0, 0, 0, 60));
    }

private:
    QImage image_;
};

}  // namespace

QImage LoadPngResource(const QString& resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const auto decoded = DecodePng(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                             static_cast<std::size_t>(bytes.size())));
    if (!decoded) return {};
    QImage image(decoded->width, decoded->height, QImage::Format_RGBA8888);
    if (image.isNull()) return {};
    const auto rowBytes = static_cast<std::size_t>(decoded->width) * 4;
    for (int y = 0; y < decoded->height; ++y) {
        std::memcpy(image.scanLine(y), decoded->pixels.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    }
    return image;
}

CZelkor2dDlg::CZelkor2dDlg(Starter starter, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), starter_(std::move(starter))
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/icon/128.png"));
    icon.addFile(QStringLiteral(":/icon/128-32.png"));
    setWindowIcon(icon);
    setWindowTitle(QStringLiteral("Zelkor 2D"));

    ChooseLayout();

    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);
    setAutoFillBackground(true);
    setMouseTracking(true);

    minimiseButton_ = new ImageButton(LoadPngResource(QStringLiteral(":/bitmap/103.png")), this);
    minimiseButton_->setProperty("ctrlId", kMinimiseButtonId);
    minimiseButton_->setToolTip(QStringLiteral("最小化"));
    closeButton_ = new ImageButton(LoadPngResource(QStringLiteral(":/bitmap/104.png")), this);
    closeButton_->setProperty("ctrlId", kCloseButtonId);
    closeButton_->setToolTip(QStringLiteral("关闭"));
    connect(minimiseButton_, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(closeButton_, &QAbstractButton::clicked, this, [this] { done(0); });

    if (const QScreen* own = screen())
        resize(own->size());
    PlaceButtons();
}

void CZelkor2dDlg::ChooseLayout()
{
    const QScreen* own = screen();
    const MenuLayout* chosen = &LayoutForScreenHeight(own ? own->size().height() : LargeLayout().pictureSize.height);
    if (chosen == layout_)
        return;
    layout_ = chosen;
    picture_ = LoadPngResource(QStringLiteral(":/png/%1.png").arg(layout_->pictureId));
    update();
}

MenuPoint CZelkor2dDlg::PictureOrigin() const
{
    // From the layout's size rather than the decoded picture's, so that clicks are tested the same way
    // when the picture could not be loaded.
    return CentredOrigin({width(), height()}, layout_->pictureSize);
}

void CZelkor2dDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QWindow* window = windowHandle())
        connect(window, &QWindow::screenChanged, this, &CZelkor2dDlg::ChooseLayout, Qt::UniqueConnection);
    ChooseLayout();
}

void CZelkor2dDlg::keyPressEvent(QKeyEvent* event)
{
    // A dialog ends on Escape; the menu ends only by its close button or the desktop's close command,
    // never by a stray key.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CZelkor2dDlg::ShowMenu()
{
    showFullScreen();
    raise();
    activateWindow();
}

void CZelkor2dDlg::PlaceButtons()
{
    const int top = kButtonMargin;
    closeButton_->move(width() - closeButton_->width() - kButtonMargin, top);
    minimiseButton_->move(closeButton_->x() - minimiseButton_->width(), top);
}

void CZelkor2dDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceButtons();
}

void CZelkor2dDlg::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), kBackground);
    if (picture_.isNull()) return;
    const MenuPoint at = PictureOrigin();
    painter.drawImage(at.x, at.y, picture_);
}

int CZelkor2dDlg::EntryAt(QPoint clientPos) const
{
    return HitTest(*layout_, PictureOrigin(), {clientPos.x(), clientPos.y()});
}

void CZelkor2dDlg::mouseMoveEvent(QMouseEvent* event)
{
    setCursor(EntryAt(event->position().toPoint()) >= 0 ? Qt::PointingHandCursor : Qt::ArrowCursor);
    QDialog::mouseMoveEvent(event);
}

void CZelkor2dDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const int index = EntryAt(event->position().toPoint());
        if (index >= 0) {
            Launch(index);
            return;
        }
    }
    QDialog::mousePressEvent(event);
}

void CZelkor2dDlg::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The first press of a double click has already started the host; the second must not start
    // it again once the menu is back.
    event->accept();
}

void CZelkor2dDlg::closeEvent(QCloseEvent* event)
{
    // Closed from the desktop (Alt+F4): the launcher ends.
    event->accept();
    done(1);
}

void CZelkor2dDlg::Launch(int index)
{
    if (launching_ || !starter_) return;
    launching_ = true;
    hide();
    // Let the window system take the window off the screen before we block on the host.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    starter_(index);
    show();
    raise();
    activateWindow();
    launching_ = false;
}

}  // namespace zelkor::launcher
