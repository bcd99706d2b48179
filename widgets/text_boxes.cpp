#include "text_boxes.h"

#include "font_cells.h"
#include "markup_painter.h"
#include "zel_messages.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>

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
    CQtRunMetrics metrics;
    markup::FontState state = CurrentFont();
    markup::BoxLayout layout = markup::LayoutTextBox(ToU16(text), state, origin.x(), origin.y(), metrics);
    SetCurrentFont(state);
    return layout;
}

void CZelFormattedTextBox::paintEvent(QPaintEvent*)
{
    if (width() <= 0 || height() <= 0)
        return;
    // Drawn off-screen first so that a repaint never flickers.
    QImage buffer(size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&buffer);
        if (border) {
            painter.setPen(QPen(borderColor, 1));
            painter.setBrush(backgroundColor);
            painter.drawRect(0, 0, width() - 1, height() - 1);
        } else {
            painter.fillRect(buffer.rect(), backgroundColor);
        }
        const markup::BoxLayout layout = LayoutText();
        RunPaintStyle style;
        style.textColor = textColor;
        style.opaque = opaqueBackground;
        style.backgroundColor = backgroundColor;
        style.anchor = textAlign;
        PaintRuns(painter, layout.runs, style);
    }
    QPainter(this).drawImage(0, 0, buffer);
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
