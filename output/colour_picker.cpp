#include "colour_picker.h"

#include <QApplication>
#include <QColorDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolTip>
#include <qdrawutil.h>

#include <algorithm>

namespace zelkor::output {

namespace {

const QString kCustomCaption = QStringLiteral("自定义...");
const QString kCustomTip = QStringLiteral("Selects a custom color");

constexpr int kNamedCount = 56;
constexpr int kSystemFirst = CXColorPopupXP::kSystemRow * CXColorPopupXP::kColumns;  // 56
constexpr int kSystemLast = kSystemFirst + 15;                                       // 71
constexpr int kCustomFirst = CXColorPopupXP::kCustomRow * CXColorPopupXP::kColumns;  // 88
constexpr int kCustomLast = kCustomFirst + 15;                                       // 103

bool SameRgb(const QColor& a, const QColor& b)
{
    return a.isValid() && b.isValid() && a.rgb() == b.rgb();
}

// The order arrow keys walk left and right: the colour cells and the button, separator left out.
int StepInReadingOrder(int index, int step)
{
    auto next = [](int i, int s) {
        if (i == CXColorPopupXP::kCustomButton)
            return s > 0 ? kCustomFirst : kSystemLast;
        if (s > 0 && i == kSystemLast)
            return static_cast<int>(CXColorPopupXP::kCustomButton);
        if (s < 0 && i == kCustomFirst)
            return static_cast<int>(CXColorPopupXP::kCustomButton);
        return i + s;
    };
    const int moved = next(index, step);
    return std::clamp(moved, 0, kCustomLast);
}

}  // namespace

std::optional<QColor> RunSystemColourChooser(QWidget* parent, const QColor& initial, CustomColours& custom)
{
    CustomColours previous;
    for (int i = 0; i < 16; ++i) {
        previous[static_cast<std::size_t>(i)] = QColorDialog::customColor(i);
        QColorDialog::setCustomColor(i, custom[static_cast<std::size_t>(i)]);
    }
    QColorDialog dialog(initial, parent);
    const bool accepted = dialog.exec() == QDialog::Accepted;
    std::optional<QColor> chosen;
    if (accepted) {
        chosen = dialog.selectedColor();
        for (int i = 0; i < 16; ++i)
            custom[static_cast<std::size_t>(i)] = QColorDialog::customColor(i);
    }
    for (int i = 0; i < 16; ++i)
        QColorDialog::setCustomColor(i, previous[static_cast<std::size_t>(i)]);
    return chosen;
}

// ---------------------------------------------------------------------------------------------
// CXColorPopupXP

const std::array<PaletteColour, 56>& CXColorPopupXP::NamedColours()
{
    static const std::array<PaletteColour, 56> colours = {{
        {"Light Maroon", {128, 0, 64}},      {"Dark Red", {139, 0, 0}},
        {"Red", {255, 0, 0}},                {"Deep Pink", {255, 0, 128}},
        {"Magenta", {255, 0, 255}},          {"Pink", {255, 128, 192}},
        {"Light Pink", {255, 128, 255}},     {"Very Light Pink", {255, 208, 232}},

        {"Dark Orange", {255, 140, 0}},      {"Orange", {255, 165, 0}},
        {"Light Salmon", {255, 128, 128}},   {"Light Orange", {255, 224, 160}},
        {"Gold", {255, 215, 0}},             {"Yellow", {255, 255, 0}},
        {"Desert Yellow", {255, 255, 128}},  {"Pale Yellow", {255, 255, 184}},

        {"Dark Green", {0, 64, 0}},          {"Medium Green", {0, 64, 64}},
        {"Green", {0, 128, 0}},              {"Dark Teal", {0, 128, 64}},
        {"Olive", {128, 128, 0}},            {"Teal", {0, 128, 128}},
        {"Turquoise", {64, 128, 128}},       {"Medium Spring Green", {0, 255, 64}},

        {"Mint Green", {128, 255, 0}},       {"Lime", {0, 255, 0}},
        {"Spring Green", {0, 255, 128}},     {"Pale Green", {152, 251, 152}},
        {"Aquamarine", {127, 255, 212}},     {"Very Pale Green", {192, 220, 192}},
        {"Deep Purple", {64, 0, 64}},        {"Purple", {128, 0, 128}},

        {"Deep Violet", {64, 0, 128}},       {"Midnight Blue", {0, 0, 64}},
        {"Dark Blue", {0, 0, 160}},          {"Navy", {0, 0, 128}},
        {"Violet", {128, 0, 255}},           {"Blue", {0, 0, 255}},
        {"Medium Blue", {0, 64, 128}},       {"Light Sky Blue", {0, 128, 255}},

        {"Cornflower Blue", {100, 149, 237}}, {"Sky Blue", {128, 128, 192}},
        {"Dark Cyan", {0, 128, 192}},        {"Medium Slate Blue", {128, 128, 255}},
        {"Light Blue", {128, 255, 255}},     {"Cyan", {0, 255, 255}},
        {"Powder Blue", {176, 224, 230}},    {"Light Cyan", {224, 255, 255}},

        {"Black", {0, 0, 0}},                {"Gray", {128, 128, 128}},
        {"Gray 40%", {152, 152, 152}},       {"Silver", {192, 192, 192}},
        {"Light Gray", {211, 211, 211}},     {"Beige", {245, 245, 220}},
        {"Floral White", {255, 251, 240}},   {"White", {255, 255, 255}},
    }};
    return colours;
}

std::array<PaletteColour, 16> CXColorPopupXP::SystemColours(const QPalette& p)
{
    // Qt has no title bars or desktop in its scheme: captions take the selection colours (active)
    // and neutral shades (inactive), the desktop the window background.
    using P = QPalette;
    return {{
        {"Window", p.color(P::Active, P::Base)},
        {"WindowText", p.color(P::Active, P::Text)},
        {"InfoBk", p.color(P::Active, P::ToolTipBase)},
        {"InfoText", p.color(P::Active, P::ToolTipText)},
        {"ActiveCaption", p.color(P::Active, P::Highlight)},
        {"CaptionText", p.color(P::Active, P::HighlightedText)},
        {"InactiveCaption", p.color(P::Inactive, P::Mid)},
        {"InactiveCaptionText", p.color(P::Disabled, P::WindowText)},
        {"BtnFace", p.color(P::Active, P::Button)},
        {"BtnText", p.color(P::Active, P::ButtonText)},
        {"BtnShadow", p.color(P::Active, P::Dark)},
        {"BtnHighlight", p.color(P::Active, P::Light)},
        {"Highlight", p.color(P::Active, P::Highlight)},
        {"HighlightText", p.color(P::Active, P::HighlightedText)},
        {"3DLight", p.color(P::Active, P::Midlight)},
        {"Desktop", p.color(P::Active, P::Window)},
    }};
}

CXColorPopupXP::CXColorPopupXP(QWidget* owner, const QColor& current, const CustomColours& custom,
                               ColourChooser chooser)
    : QWidget(owner, Qt::Popup),
      current_(current),
      custom_(custom),
      chooser_(std::move(chooser)),
      system_(SystemColours(owner ? owner->palette() : QApplication::palette()))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_WindowPropagation);  // the owner's font and palette
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    const int edge = Edge();
    setFixedSize(kColumns * kCellSize + 2 * edge, kRows * kCellSize + 2 * edge);

    for (int i = 0; i < kCustomLast + 1 && highlight_ == kNone; ++i)
        if (SameRgb(CellColour(i), current_))
            SetHighlight(i);
}

int CXColorPopupXP::Edge() const
{
    return 2;  // the width of a raised window edge
}

void CXColorPopupXP::Popup(const QRect& anchor)
{
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    QPoint pos = anchor.bottomLeft() + QPoint(0, 1);
    if (screen) {
        const QRect area = screen->availableGeometry();
        if (pos.y() + height() > area.bottom() && anchor.top() - height() >= area.top())
            pos.setY(anchor.top() - height());
        pos.setX(std::clamp(pos.x(), area.left(), std::max(area.left(), area.right() - width() + 1)));
    }
    move(pos);
    show();
    setFocus(Qt::PopupFocusReason);
}

int CXColorPopupXP::CellAt(const QPoint& pos) const
{
    const int edge = Edge();
    const int x = pos.x() - edge;
    const int y = pos.y() - edge;
    if (x < 0 || y < 0 || x >= kColumns * kCellSize || y >= kRows * kCellSize)
        return kNone;
    const int row = y / kCellSize;
    if (row == kSeparatorRow)
        return kNone;
    if (row == kCustomButtonRow)
        return kCustomButton;
    return row * kColumns + x / kCellSize;
}

QRect CXColorPopupXP::CellRect(int index) const
{
    const int edge = Edge();
    if (index == kCustomButton)
        return QRect(edge, edge + kCustomButtonRow * kCellSize, kColumns * kCellSize, kCellSize);
    if (index < 0 || index > kCustomLast)
        return {};
    const int row = index / kColumns;
    if (row == kSeparatorRow || row == kCustomButtonRow)
        return {};
    return QRect(edge + (index % kColumns) * kCellSize, edge + row * kCellSize, kCellSize, kCellSize);
}

QString CXColorPopupXP::CellName(int index) const
{
    if (index == kCustomButton)
        return kCustomTip;
    if (index >= 0 && index < kNamedCount)
        return QString::fromLatin1(NamedColours()[static_cast<std::size_t>(index)].name);
    if (index >= kSystemFirst && index <= kSystemLast)
        return QString::fromLatin1(system_[static_cast<std::size_t>(index - kSystemFirst)].name);
    if (index >= kCustomFirst && index <= kCustomLast)
        return QStringLiteral("Custom color %1").arg(index - kCustomFirst + 1);
    return {};
}

QColor CXColorPopupXP::CellColour(int index) const
{
    if (index >= 0 && index < kNamedCount)
        return NamedColours()[static_cast<std::size_t>(index)].colour;
    if (index >= kSystemFirst && index <= kSystemLast)
        return system_[static_cast<std::size_t>(index - kSystemFirst)].colour;
    if (index >= kCustomFirst && index <= kCustomLast)
        return custom_[static_cast<std::size_t>(index - kCustomFirst)];
    return {};
}

void CXColorPopupXP::SetHighlight(int index)
{
    if (index == highlight_)
        return;
    highlight_ = index;
    if (index >= 0 && index != kCustomButton)
        column_ = index % kColumns;
    update();
}

void CXColorPopupXP::MoveHighlight(int rowStep, int columnStep)
{
    if (highlight_ == kNone) {
        SetHighlight(0);
        return;
    }
    if (columnStep != 0) {
        SetHighlight(StepInReadingOrder(highlight_, columnStep));
        return;
    }
    int row = highlight_ == kCustomButton ? kCustomButtonRow : highlight_ / kColumns;
    row = std::clamp(row + rowStep, 0, kRows - 1);
    if (row == kSeparatorRow)
        row += rowStep;
    SetHighlight(row == kCustomButtonRow ? kCustomButton : row * kColumns + column_);
}

void CXColorPopupXP::Activate(int index)
{
    if (index == kCustomButton) {
        // The chooser is a modal window of its own; the palette steps aside while it is open.
        hide();
        CustomColours custom = custom_;
        const ColourChooser chooser = chooser_ ? chooser_ : ColourChooser(RunSystemColourChooser);
        const std::optional<QColor> chosen = chooser(parentWidget(), current_, custom);
        if (chosen && chosen->isValid()) {
            custom_ = custom;
            Finish(true, *chosen);
        } else {
            Finish(false, current_);
        }
        return;
    }
    const QColor colour = CellColour(index);
    if (colour.isValid())
        Finish(true, colour);
}

void CXColorPopupXP::Finish(bool chosen, const QColor& colour)
{
    if (done_)
        return;
    done_ = true;
    emit finished(chosen, colour, custom_);
    close();
}

void CXColorPopupXP::closeEvent(QCloseEvent* event)
{
    if (!done_) {  // closed from outside (a click elsewhere): nothing was chosen
        done_ = true;
        emit finished(false, current_, custom_);
    }
    QWidget::closeEvent(event);
}

void CXColorPopupXP::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left: MoveHighlight(0, -1); break;
    case Qt::Key_Right: MoveHighlight(0, 1); break;
    case Qt::Key_Up: MoveHighlight(-1, 0); break;
    case Qt::Key_Down: MoveHighlight(1, 0); break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (highlight_ != kNone)
            Activate(highlight_);
        break;
    case Qt::Key_Escape: Finish(false, current_); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void CXColorPopupXP::mouseMoveEvent(QMouseEvent* event)
{
    const int cell = CellAt(event->position().toPoint());
    if (cell != kNone)
        SetHighlight(cell);
}

void CXColorPopupXP::mousePressEvent(QMouseEvent* event)
{
    if (!rect().contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);  // a popup closes on a click elsewhere
        return;
    }
    pressedInside_ = true;
    const int cell = CellAt(event->position().toPoint());
    if (cell != kNone)
        SetHighlight(cell);
}

void CXColorPopupXP::mouseReleaseEvent(QMouseEvent* event)
{
    // The release of the click that opened the palette does not choose anything.
    if (!pressedInside_ || event->button() != Qt::LeftButton)
        return;
    pressedInside_ = false;
    const int cell = CellAt(event->position().toPoint());
    if (cell != kNone)
        Activate(cell);
}

bool CXColorPopupXP::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int cell = CellAt(help->pos());
        const QString name = CellName(cell);
        if (name.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), name, this, CellRect(cell));
        }
        return true;
    }
    return QWidget::event(event);
}

void CXColorPopupXP::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Button));
    qDrawWinPanel(&p, rect(), pal, false);

    for (int index = 0; index <= kCustomLast; ++index) {
        const QColor colour = CellColour(index);
        if (!colour.isValid())
            continue;
        const QRect cell = CellRect(index);
        if (index == highlight_) {
            p.fillRect(cell, pal.color(QPalette::Highlight).lighter(160));
            p.setPen(pal.color(QPalette::Highlight));
            p.drawRect(cell.adjusted(0, 0, -1, -1));
        } else if (SameRgb(colour, current_)) {
            qDrawShadePanel(&p, cell, pal, true, 1);
        }
        const QRect swatch = cell.adjusted(3, 3, -3, -3);
        p.fillRect(swatch, colour);
        p.setPen(pal.color(QPalette::Dark));
        p.drawRect(swatch.adjusted(0, 0, -1, -1));
    }

    // Separator: an etched line across the middle of its row.
    const int edge = Edge();
    const int ySep = edge + kSeparatorRow * kCellSize + kCellSize / 2;
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(edge + 2, ySep, width() - edge - 3, ySep);
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(edge + 2, ySep + 1, width() - edge - 3, ySep + 1);

    const QRect button = CellRect(kCustomButton).adjusted(1, 1, -1, -1);
    if (highlight_ == kCustomButton) {
        p.fillRect(button, pal.color(QPalette::Highlight).lighter(160));
        p.setPen(pal.color(QPalette::Highlight));
        p.drawRect(button.adjusted(0, 0, -1, -1));
    } else {
        qDrawShadePanel(&p, button, pal, false, 1);
    }
    p.setPen(pal.color(QPalette::ButtonText));
    p.drawText(button, Qt::AlignCenter, kCustomCaption);
}

// ---------------------------------------------------------------------------------------------
// CXColorPickerXP

ColourChooser& CXColorPickerXP::DefaultColourChooser()
{
    static ColourChooser chooser;
    return chooser;
}

CXColorPickerXP::CXColorPickerXP(QWidget* parent) : QWidget(parent)
{
    custom_.fill(QColor(255, 255, 255));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
}

void CXColorPickerXP::SetColor(const QColor& colour)
{
    if (!colour.isValid())
        return;
    colour_ = colour;
    update();
}

QSize CXColorPickerXP::sizeHint() const
{
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    const QFontMetrics fm = fontMetrics();
    return style()->sizeFromContents(QStyle::CT_ComboBox, &opt, QSize(2 * fm.height(), fm.height()), this);
}

void CXColorPickerXP::OpenPalette()
{
    if (popup_ || !isEnabled())
        return;
    ColourChooser chooser = chooser_ ? chooser_ : DefaultColourChooser();
    popup_ = new CXColorPopupXP(this, colour_, custom_, std::move(chooser));
    connect(popup_, &CXColorPopupXP::finished, this, &CXColorPickerXP::OnPaletteFinished);
    popup_->Popup(QRect(mapToGlobal(QPoint(0, 0)), size()));
    update();
}

void CXColorPickerXP::OnPaletteFinished(bool chosen, const QColor& colour, const CustomColours& custom)
{
    custom_ = custom;
    popup_ = nullptr;
    if (chosen && colour.isValid() && colour != colour_) {
        SetColor(colour);
        emit colourChanged(colour_);
    }
    update();
}

void CXColorPickerXP::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        setFocus(Qt::MouseFocusReason);
        OpenPalette();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void CXColorPickerXP::keyPressEvent(QKeyEvent* event)
{
    const bool altDown = (event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) &&
                         (event->modifiers() & Qt::AltModifier);
    if (altDown || event->key() == Qt::Key_F4 || event->key() == Qt::Key_Space) {
        OpenPalette();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CXColorPickerXP::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QStyleOptionComboBox opt;
    opt.initFrom(this);
    opt.editable = false;
    opt.frame = true;
    opt.subControls = QStyle::SC_All;
    if (popup_) {
        opt.state |= QStyle::State_On;
        opt.activeSubControls = QStyle::SC_ComboBoxArrow;
    }
    style()->drawComplexControl(QStyle::CC_ComboBox, &opt, &p, this);

    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const QRect swatch = field.adjusted(2, 2, -2, -2);
    const QColor fill = isEnabled() ? colour_ : palette().color(QPalette::Disabled, QPalette::Button);
    p.fillRect(swatch, fill);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
    if (hasFocus()) {
        p.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        p.drawRect(field.adjusted(0, 0, -1, -1));
    }
}

}  // namespace zelkor::output
