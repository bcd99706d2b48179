#pragma once
// A push button drawn in one face colour in every state (normal, hovered, pressed, disabled), with a
// caption font of its own and an optional picture (bitmap or icon) before the caption.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QPushButton>

namespace zelkor::widgets {

class CPictureButton : public QPushButton {
    Q_OBJECT
public:
    explicit CPictureButton(QWidget* parent = nullptr);

    // A visible child of parent at rect with the control id and caption. Fails without a parent.
    bool Create(int id, const QString& caption, const QRect& rect, QWidget* parent);

    void SetFaceColor(const QColor& color);
    QColor FaceColor() const { return faceColor_; }
    void SetCaptionFont(const QFont& font);
    void SetBitmap(const QPixmap& bitmap);  // replaces an icon
    void SetIcon(const QIcon& icon);        // replaces a bitmap; drawn at iconSize()
    void SetTooltip(const QString& text) { setToolTip(text); }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QColor faceColor_;
    QPixmap bitmap_;
    QIcon icon_;
};

}  // namespace zelkor::widgets
