#include "text_boxes.h"

#include "font_cells.h"
#include "large_image.h"
#include "markup_painter.h"
#include "zel_messages.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstdint>
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
    return layout.text == o.layout.text && layout.origin == o.layout.origin && SameFrame(o);
}

bool CZelFormattedTextBox::PictureKey::SameFrame(const PictureKey& o) const
{
    return size == o.size && border == o.border && borderColor == o.borderColor &&
           backgroundColor == o.backgroundColor && textColor == o.textColor && textAlign == o.textAlign &&
           opaqueBackground == o.opaqueBackground;
}

CZelFormattedTextBox::PictureKey CZelFormattedTextBox::KeyNow() const
{
    return {{text, CurrentFont(), origin}, size(), border, borderColor, backgroundColor,
            textColor, textAlign, opaqueBackground};
}

const CZelFormattedTextBox::Picture& CZelFormattedTextBox::PictureNow(const Picture* base)
{
    const PictureKey key = KeyNow();
    const auto hit = std::find_if(pictures_.begin(), pictures_.end(), [&](const Picture& p) { return p.key == key; });
    if (hit != pictures_.end()) {
        std::rotate(pictures_.begin(), hit, hit + 1);
        SetCurrentFont(pictures_.front().fontAfter);  // as laying the markup out again would leave it
        return pictures_.front();
    }
    Picture picture;
    picture.key = key;
    picture.runs = LayoutText().runs;
    picture.fontAfter = CurrentFont();
    if (base && base->key.SameFrame(key) && base->image.size() == size()) {
        picture.image = PooledImageCopy(base->image);
        const QRect area = ChangedArea(picture.runs, base->runs);
        if (!area.isEmpty())
            Render(picture.runs, picture.image, area);
    } else {
        Render(picture.runs, picture.image, rect());
    }
    if (pictures_.size() >= kPictures)
        pictures_.pop_back();
    pictures_.insert(pictures_.begin(), std::move(picture));
    return pictures_.front();
}

void CZelFormattedTextBox::Render(const std::vector<markup::PlacedRun>& runs, QImage& image, const QRect& clip) const
{
    const bool whole = clip.contains(rect()) || image.size() != size();
    QPainter painter;
    if (whole) {
        // Opaque colours need no alpha channel, which makes showing the picture a plain copy.
        const bool opaque = backgroundColor.alpha() == 255 && (!border || borderColor.alpha() == 255);
        image = NewPooledImage(size(), opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        painter.begin(&image);
    } else {
        // Drawn as the whole picture would be, with everything outside the clip left alone; what was
        // inside goes first, so that a translucent background is not laid over the old one.
        painter.begin(&image);
        painter.setClipRect(clip);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(clip, Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    if (border) {
        painter.setPen(QPen(borderColor, 1));
        painter.setBrush(backgroundColor);
        painter.drawRect(0, 0, width() - 1, height() - 1);
    } else {
        painter.fillRect(rect(), backgroundColor);
    }
    RunPaintStyle style;
    style.textColor = textColor;
    style.opaque = opaqueBackground;
    style.backgroundColor = backgroundColor;
    style.anchor = textAlign;
    PaintRuns(painter, runs, style, whole ? QRect() : clip);
}

QRect CZelFormattedTextBox::ChangedArea(const std::vector<markup::PlacedRun>& runs,
                                        const std::vector<markup::PlacedRun>& shownRuns) const
{
    // Runs before the first that differs are drawn as they were; from there on everything may move.
    std::size_t first = 0;
    while (first < runs.size() && first < shownRuns.size() && runs[first] == shownRuns[first])
        ++first;
    QRect area;
    for (const auto* list : {&runs, &shownRuns})
        for (std::size_t i = first; i < list->size(); ++i)
            area |= InkBounds((*list)[i], textAlign);
    if (area.isEmpty())
        return {};
    return area & rect();
}

QRect DifferingRect(const QImage& a, const QImage& b, const QRect& area)
{
    if (area.isEmpty())
        return {};
    if (a.size() != b.size() || a.format() != b.format() || a.depth() != 32)
        return area;
    const QRect r = area & a.rect();
    if (r.isEmpty())
        return {};
    // Rows are compared as blocks of memory; pixel by pixel only where a row widens the rectangle
    // found so far, which is rare after the first differing row.
    const auto same = [](const std::uint32_t* pa, const std::uint32_t* pb, int from, int to) {
        return from > to || std::memcmp(pa + from, pb + from, static_cast<std::size_t>(to - from + 1) * 4) == 0;
    };
    int top = -1, bottom = -1, left = 0, right = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* pa = reinterpret_cast<const std::uint32_t*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const std::uint32_t*>(b.constScanLine(y));
        if (same(pa, pb, r.left(), r.right()))
            continue;
        // A row widens the rectangle only where it differs outside the columns found so far.
        if (top < 0 || !same(pa, pb, r.left(), left - 1)) {
            int l = r.left();
            while (pa[l] == pb[l])
                ++l;
            left = l;
        }
        if (top < 0 || !same(pa, pb, right + 1, r.right())) {
            int rr = r.right();
            while (pa[rr] == pb[rr])
                --rr;
            right = rr;
        }
        if (top < 0)
            top = y;
        bottom = y;
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

void CZelFormattedTextBox::ShowNewText()
{
    if (!isVisible() || shown_.image.isNull() || shown_.image.size() != size() || width() <= 0 || height() <= 0) {
        pending_ = false;
        update();
        return;
    }
    // Drawn now, so that only what differs from the picture on the screen is repainted.
    const Picture& next = PictureNow(&shown_);
    const QRect changed =
        next.key.SameFrame(shown_.key) ? DifferingRect(shown_.image, next.image, ChangedArea(next.runs, shown_.runs))
                                       : rect();
    shown_ = next;
    pending_ = true;
    if (!changed.isEmpty())
        update(changed);
}

void CZelFormattedTextBox::paintEvent(QPaintEvent* e)
{
    if (width() <= 0 || height() <= 0)
        return;
    // Drawn off-screen first so that a repaint never flickers. A picture SetText took for the text
    // shown now is used as it is: its layout has already moved the font state on.
    if (!(pending_ && shown_.key.SameButFont(KeyNow()) && shown_.image.size() == size()))
        shown_ = PictureNow(&shown_);
    pending_ = false;
    QPainter painter(this);
    for (const QRect& r : e->region())
        painter.drawImage(r.topLeft(), shown_.image, r);
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
