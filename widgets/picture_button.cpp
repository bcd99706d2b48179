#include "picture_button.h"

#include "text_boxes.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

namespace zelkor::widgets {

CPictureButton::CPictureButton(QWidget* parent)
    : QPushButton(parent), faceColor_(palette().color(QPalette::Button))
{
    setAutoDefault(false);  // Enter in a dialog must not press a picture button
}

bool CPictureButton::Create(int id, const QString& caption, const QRect& rect, QWidget* parent)
{
    setText(caption);
    return PlaceChildControl(this, parent, id, rect);
}

void CPictureButton::SetFaceColor(const QColor& color)
{
    faceColor_ = color;
    update();
}

void CPictureButton::SetCaptionFont(const QFont& font)
{
    setFont(font);
    update();
}

void CPictureButton::SetBitmap(const QPixmap& bitmap)
{
    bitmap_ = bitmap;
    icon_ = QIcon();
    update();
}

void CPictureButton::SetIcon(const QIcon& icon)
{
    icon_ = icon;
    bitmap_ = QPixmap();
    update();
}

void CPictureButton::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    QPainter painter(this);
    const QRect r = rect();
    const bool sunken = isDown() || isChecked();
    const QPalette& pal = palette();

    painter.fillRect(r, faceColor_);
    // Edges: raised when up, sunken while pressed; the face keeps its colour either way.
    const QColor light = faceColor_.lighter(150);
    const QColor dark = faceColor_.darker(170);
    painter.setPen(sunken ? dark : light);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(sunken ? light : dark);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());

    QPixmap picture = bitmap_;
    if (picture.isNull() && !icon_.isNull())
        picture = icon_.pixmap(iconSize(), isEnabled() ? QIcon::Normal : QIcon::Disabled);

    const QString caption = text();
    const QFontMetrics metrics(font());
    const int gap = (!picture.isNull() && !caption.isEmpty()) ? 4 : 0;
    const int pictureWidth = picture.isNull() ? 0 : picture.width();
    const int captionWidth = caption.isEmpty() ? 0 : metrics.horizontalAdvance(caption);
    const int shift = sunken ? 1 : 0;
    int x = r.left() + (r.width() - pictureWidth - gap - captionWidth) / 2 + shift;

    painter.setClipRect(r.adjusted(1, 1, -1, -1));
    if (!picture.isNull()) {
        painter.drawPixmap(x, r.top() + (r.height() - picture.height()) / 2 + shift, picture);
        x += pictureWidth + gap;
    }
    if (!caption.isEmpty()) {
        painter.setFont(font());
        // Disabled captions in a mid grey that stays legible on the light faces.
        painter.setPen(isEnabled() ? pal.color(QPalette::ButtonText) : QColor(128, 128, 128));
        const QRect textRect(x, r.top() + shift, captionWidth, r.height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = r.adjusted(3, 3, -3, -3);
        option.backgroundColor = faceColor_;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

}  // namespace zelkor::widgets
