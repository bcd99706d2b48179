#include "window_blocks.h"

#include "control_ids.h"
#include "font_cells.h"
#include "markup_painter.h"

#include <QFontMetrics>

#include <algorithm>

namespace zelkor::widgets {

namespace {

constexpr int kGroupPadding = 10;
constexpr int kGroupOverlap = 6;
constexpr int kEditFrameRoom = 8;

}  // namespace

// --- buttons -------------------------------------------------------------------------------------------

QFont BoldSansCaptionFont()
{
    return FontForCellHeight(QStringLiteral("Microsoft Sans Serif"), 20, 700, false, kChineseCharSet);
}

QFont SongCaptionFont()
{
    return FontForCellHeight(QStringLiteral("宋体"), 20, 400, false, kChineseCharSet);
}

CPictureButton* StyleButton(CPictureButton* button, const QString& caption, const ButtonLook& look,
                            Initially state)
{
    if (!button)
        return nullptr;
    if (!caption.isEmpty())
        button->setText(caption);
    button->SetFaceColor(look.face);
    button->SetCaptionFont(look.font);
    button->setAutoDefault(false);
    button->setEnabled(state != Initially::Disabled);
    if (state == Initially::Hidden)
        button->hide();
    return button;
}

CPictureButton* AddPictureButton(QWidget* parent, int id, const QString& caption, const QRect& rect,
                                 const ButtonLook& look, Initially state)
{
    auto* button = new CPictureButton(parent);
    button->Create(id, caption, rect, parent);
    button->setFocusPolicy(Qt::TabFocus);
    return StyleButton(button, caption, look, state);
}

void SetControlsEnabled(const QWidget* root, std::initializer_list<int> ids, bool enabled)
{
    SetControlsEnabled(root, std::vector<int>(ids), enabled);
}

void SetControlsEnabled(const QWidget* root, const std::vector<int>& ids, bool enabled)
{
    for (int id : ids)
        if (QWidget* w = FindControl<QWidget>(root, id))
            w->setEnabled(enabled);
}

// --- group frames --------------------------------------------------------------------------------------

CGroupFrame::CGroupFrame(QWidget* parent) : QGroupBox(parent)
{
    setFlat(false);
    setFocusPolicy(Qt::NoFocus);
}

bool CGroupFrame::Create(int id, const QRect& rect, QWidget* parent)
{
    if (!PlaceChildControl(this, parent, id, rect))
        return false;
    lower();  // the buttons it surrounds stay clickable and visible
    return true;
}

std::vector<QRect> StackedGroupFrames(const std::vector<QRect>& groups, int right)
{
    std::vector<QRect> frames;
    frames.reserve(groups.size());
    for (const QRect& group : groups) {
        const int left = group.left() - kGroupPadding;
        const int top = frames.empty() ? group.top() - kGroupPadding : frames.back().bottom() + 1 - kGroupOverlap;
        const int bottom = group.bottom() + 1 + kGroupPadding;  // exclusive
        frames.emplace_back(QPoint(left, top), QPoint(right - 1, bottom - 1));
    }
    return frames;
}

// --- label boxes and rows ------------------------------------------------------------------------------

QString FontMarkup(const QString& face, int cellHeight)
{
    return QStringLiteral("\\font{%1,%2}").arg(face).arg(cellHeight);
}

CZelFormattedTextBox* AddTextBox(QWidget* parent, int id)
{
    auto* box = new CZelFormattedTextBox(parent);
    box->Create(id, QRect(0, 0, 10, 10), parent);
    box->text.clear();
    return box;
}

void SetMarkup(CZelFormattedTextBox* box, const QString& markup)
{
    if (!box)
        return;
    box->textAlign = Qt::AlignLeft | Qt::AlignTop;
    box->SetText(markup);  // repaints only what the new text changes
}

int MarkupWidth(const QString& markup)
{
    markup::FontState state;
    CQtRunMetrics metrics;
    return markup::LayoutTextBox(ToU16(markup), state, 0, 0, metrics).width;
}

CLabelMetrics::CLabelMetrics(const QString& face, int cellHeight, int charSet)
    : font_(FontForCellHeight(face, cellHeight, 400, false, charSet))
{
}

CLabelMetrics CLabelMetrics::Song(int cellHeight)
{
    return CLabelMetrics(QStringLiteral("宋体"), cellHeight, kChineseCharSet);
}

CLabelMetrics CLabelMetrics::TimesNewRoman(int cellHeight)
{
    return CLabelMetrics(QStringLiteral("Times New Roman"), cellHeight, kWesternCharSet);
}

int CLabelMetrics::TextHeight() const
{
    return QFontMetrics(font_).height();
}

int CLabelMetrics::TextWidth(const QString& text) const
{
    return QFontMetrics(font_).horizontalAdvance(text);
}

int CLabelMetrics::BoxWidth(const QString& measureText, const QString& markup) const
{
    return std::max(TextWidth(measureText), MarkupWidth(markup) + 2);
}

QRect CLabelRow::Next(int width)
{
    const QRect slot(x_, top_, width, height_);
    x_ += width;
    return slot;
}

void CLabelRow::Place(QWidget* control, int width)
{
    const QRect slot = Next(width);
    if (control)
        control->setGeometry(slot);
}

// --- value edits ---------------------------------------------------------------------------------------

CEasyEdit* AddValueEdit(CZelFormattedTextBox* box, int id, int fontHeight, const QString& text)
{
    auto* edit = new CEasyEdit(box);
    edit->Create(id, QRect(0, 0, 40, 20), box);
    edit->fontHeight = fontHeight;
    edit->Initialize(box);
    edit->setText(text);
    return edit;
}

QRect ValueEditSlot(const QLineEdit* edit, int left, const QString& widthText, int height)
{
    return QRect(left, 0, QFontMetrics(edit->font()).horizontalAdvance(widthText) + kEditFrameRoom, height);
}

}  // namespace zelkor::widgets
