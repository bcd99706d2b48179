#include "text_boxes.h"

#include "font_cells.h"
#include "markup_painter.h"
#include "zel_messages.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>
#include <cstring>

namespace zelkor::widgets {
namespace {

bool IsEnterOrEscape(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape;
}

}  // namespace

// --- CZelTextBox -------------------------------------------------------------------------------------

CZelTextBox::CZelTextBox(QWidget* parent) : QWidget(parent), parentWindow(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool CZelTextBox::Create(int id, const QRect& rect, QWidget* parent)
{
    if (!PlaceChildControl(this, parent, id, rect))
        return false;
    parentWindow = parent;
    return true;
}

markup::FontState CZelTextBox::CurrentFont() const
{
    markup::FontState state;
    state.face = ToU16(faceName);
    state.height = fontHeight;
    state.weight = fontWeight;
    state.italic = italic;
    state.charSet = charSet;
    return state;
}

void CZelTextBox::SetCurrentFont(const markup::FontState& state)
{
    faceName = ToQString(state.face);
    fontHeight = state.height;
    fontWeight = state.weight;
    italic = state.italic;
    charSet = state.charSet;
}

void CZelTextBox::SetText(const QString& newText)
{
    if (text == newText)
        return;
    text = newText;
    ShowNewText();
}

bool CZelTextBox::event(QEvent* e)
{
    if (e->type() == CZelMessageEvent::Type()) {
        if (static_cast<CZelMessageEvent*>(e)->Message() == kValueChangedMessage) {
            SendZelMessage(parentWindow, kValueChangedMessage, 0, 0);
            emit valueChanged();
        }
        return true;
    }
    return QWidget::event(e);
}

void CZelTextBox::keyPressEvent(QKeyEvent* e)
{
    // Keys forwarded from an edit inside the box end here, so the dialog never sees Enter or Escape.
    if (IsEnterOrEscape(e->key())) {
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void CZelTextBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), backgroundColor);
    if (opaqueBackground)
        painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(backgroundColor);
    painter.setPen(textColor);
    painter.setFont(QFontFor(CurrentFont()));
    painter.drawText(rect(), static_cast<int>(textAlign), text);
}

// --- CZelFormattedTextBox ----------------------------------------------------------------------------

CZelFormattedTextBox::CZelFormattedTextBox(QWidget* parent) : CZelTextBox(parent)
{
    textAlign = Qt::AlignLeft | Qt::AlignTop;
}

markup::BoxLayout CZelFormattedTextBox::LayoutText()
{
    const LayoutKey key{text, CurrentFont(), origin};
    if (!layoutValid_ || !(key == layoutKey_)) {
        CQtRunMetrics metrics;
        markup::FontState state = key.font;
        layout_ = markup::LayoutTextBox(ToU16(text), state, origin.x(), origin.y(), metrics);
        fontAfter_ = state;
        layoutKey_ = key;
        layoutValid_ = true;
    }
    SetCurrentFont(fontAfter_);
    return layout_;
}

bool CZelFormattedTextBox::PictureKey::SameButFont(const PictureKey& o) const
{
    return layout.text == o.layout.text && layout.origin == o.layout.origin && size == o.size && border == o.border &&
           borderColor == o.borderColor && backgroundColor == o.backgroundColor && textColor == o.textColor &&
           textAlign == o.textAlign && opaqueBackground == o.opaqueBackground;
}

CZelFormattedTextBox::PictureKey CZelFormattedTextBox::KeyNow() const
{
    return {{text, CurrentFont(), origin}, size(), border, borderColor, backgroundColor,
            textColor, textAlign, opaqueBackground};
}

const CZelFormattedTextBox::Picture& CZelFormattedTextBox::PictureNow()
{
    const PictureKey key = KeyNow();
    const auto hit = std::find_if(pictures_.begin(), pictures_.end(), [&](const Picture& p) { return p.key == key; });
    if (hit != pictures_.end()) {
        std::rotate(pictures_.begin(), hit, hit + 1);
        SetCurrentFont(pictures_.front().fontAfter);  // as laying the markup out again would leave it
        return pictures_.front();
    }
    // Opaque colours need no alpha channel, which makes showing the picture a plain copy.
    const bool opaque = backgroundColor.alpha() == 255 && (!border || borderColor.alpha() == 255);
    Picture picture;
    picture.key = key;
    picture.image = QImage(size(), opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    picture.image.fill(Qt::transparent);
    QPainter painter(&picture.image);
    if (border) {
        painter.setPen(QPen(borderColor, 1));
        painter.setBrush(backgroundColor);
        painter.drawRect(0, 0, width() - 1, height() - 1);
    } else {
        painter.fillRect(picture.image.rect(), backgroundColor);
    }
    const markup::BoxLayout layout = LayoutText();
    RunPaintStyle style;
    style.textColor = textColor;
    style.opaque = opaqueBackground;
    style.backgroundColor = backgroundColor;
    style.anchor = textAlign;
    PaintRuns(painter, layout.runs, style);
    painter.end();
    picture.fontAfter = CurrentFont();
    if (pictures_.size() >= kPictures)
        pictures_.pop_back();
    pictures_.insert(pictures_.begin(), std::move(picture));
    return pictures_.front();
}

namespace {

// The smallest rectangle outside which two pictures of the same size and format agree.
QRect ChangedRect(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.format() != b.format() || a.depth() != 32)
        return b.rect();
    int top = -1, bottom = -1, left = a.width(), right = -1;
    const auto rowBytes = static_cast<std::size_t>(a.width()) * 4;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const std::uint32_t*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const std::uint32_t*>(b.constScanLine(y));
        if (std::memcmp(pa, pb, rowBytes) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int l = 0;
        while (pa[l] == pb[l])
            ++l;
        int r = a.width() - 1;
        while (pa[r] == pb[r])
            --r;
        left = std::min(left, l);
        right = std::max(right, r);
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

void CZelFormattedTextBox::ShowNewText()
{
    if (!isVisible() || shown_.isNull() || shown_.size() != size() || width() <= 0 || height() <= 0) {
        pending_ = false;
        update();
        return;
    }
    // Drawn now, so that only what differs from the picture on the screen is repainted.
    pendingKey_ = KeyNow();
    pendingImage_ = PictureNow().image;
    pending_ = true;
    const QRect changed = ChangedRect(shown_, pendingImage_);
    if (!changed.isEmpty())
        update(changed);
}

void CZelFormattedTextBox::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    // Drawn off-screen first so that a repaint never flickers. A picture SetText drew for the text
    // shown now is used as it is: its layout has already moved the font state on.
    if (pending_ && pendingKey_.SameButFont(KeyNow()) && pendingImage_.size() == size())
        shown_ = pendingImage_;
    else
        shown_ = PictureNow().image;
    pending_ = false;
    pendingImage_ = QImage();
    QPainter(this).drawImage(0, 0, shown_);
}

// --- CEasyEdit ---------------------------------------------------------------------------------------

CEasyEdit::CEasyEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this,
            [this] { SendZelMessage(buddy, kValueChangedMessage, 0, 0); });
}

bool CEasyEdit::Create(int id, const QRect& rect, QWidget* parent)
{
    setFrame(true);
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return PlaceChildControl(this, parent, id, rect);
}

bool CEasyEdit::Initialize(QWidget* buddyWindow)
{
    setFont(FontForCellHeight(faceName, fontHeight, 400, false, charSet));
    buddy = buddyWindow;
    ApplyColors();
    return true;
}

void CEasyEdit::ApplyColors()
{
    QPalette p = palette();
    if (p.color(QPalette::Base) == backgroundColor && p.color(QPalette::Text) == textColor)
        return;
    p.setColor(QPalette::Base, backgroundColor);
    p.setColor(QPalette::Text, textColor);
    setPalette(p);
}

void CEasyEdit::keyPressEvent(QKeyEvent* e)
{
    if (IsEnterOrEscape(e->key())) {
        if (buddy) {
            QKeyEvent forwarded(QEvent::KeyPress, e->key(), e->modifiers(), e->text());
            QCoreApplication::sendEvent(buddy, &forwarded);
        }
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

void CEasyEdit::paintEvent(QPaintEvent* e)
{
    ApplyColors();  // colour fields assigned since the last paint take effect now
    QLineEdit::paintEvent(e);
}

// --- CZelEdit ----------------------------------------------------------------------------------------

CZelEdit::CZelEdit(QWidget* parent) : QLineEdit(parent)
{
    QPalette p = palette();
    p.setColor(QPalette::Base, kBackground);
    setPalette(p);
}

bool CZelEdit::Create(int id, const QRect& rect, QWidget* parent)
{
    return PlaceChildControl(this, parent, id, rect);
}

}  // namespace zelkor::widgets
