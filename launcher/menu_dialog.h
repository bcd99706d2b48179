#pragma once
// CZelkor2dDlg: the full-screen picture menu. A click on an entry hides the menu, runs the host for
// that entry through the starter and shows the menu again when the starter returns.

#include "menu_layout.h"

#include <QDialog>
#include <QImage>
#include <QSize>

#include <functional>

class QAbstractButton;

namespace zelkor::launcher {

inline constexpr int kMinimiseButtonId = 227;
inline constexpr int kCloseButtonId = 228;
inline constexpr int kButtonMargin = 10;

// Decodes a PNG resource (":/png/149.png") with libpng; a null image when it is missing or broken.
QImage LoadPngResource(const QString& resourcePath);

class CZelkor2dDlg : public QDialog {
    Q_OBJECT
public:
    // Runs the host for an entry and returns when it has ended; false when it could not start.
    using Starter = std::function<bool(int index)>;

    explicit CZelkor2dDlg(Starter starter, QWidget* parent = nullptr);

    // The picture suits the height of the screen the window is on (and follows it to another one).
    const MenuLayout& Layout() const { return *layout_; }
    // Where the picture is painted and where clicks are tested against it: centred in the client
    // area, whatever part of the screen the window manager gave the window.
    MenuPoint PictureOrigin() const;
    bool HasPicture() const { return !picture_.isNull(); }

    // Shows the menu covering the screen.
    void ShowMenu();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ChooseLayout();
    int EntryAt(QPoint clientPos) const;
    void PlaceButtons();
    void Launch(int index);

    Starter starter_;
    const MenuLayout* layout_ = nullptr;
    QImage picture_;
    QAbstractButton* minimiseButton_ = nullptr;
    QAbstractButton* closeButton_ = nullptr;
    bool launching_ = false;
};

}  // namespace zelkor::launcher
