#pragma once
// A drop-down colour control: it shows its colour as a swatch and opens a palette window below itself
// with 56 named colours, 16 colours of the desktop scheme, a "自定义..." button for the full colour
// chooser and the control's own 16 custom colours.

#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

namespace zelkor::output {

using CustomColours = std::array<QColor, 16>;

// The full colour chooser: starts with `initial` and `custom` as its custom colours; on OK returns the
// chosen colour and leaves its custom colours in `custom`, on cancel returns nothing.
using ColourChooser =
    std::function<std::optional<QColor>(QWidget* parent, const QColor& initial, CustomColours& custom)>;

// QColorDialog, with `custom` as its custom colours for this one call (they are process-wide in Qt,
// so the previous ones are put back afterwards).
std::optional<QColor> RunSystemColourChooser(QWidget* parent, const QColor& initial, CustomColours& custom);

struct PaletteColour {
    const char* name;
    QColor colour;
};

class CXColorPopupXP : public QWidget {
    Q_OBJECT
public:
    static constexpr int kColumns = 8;
    static constexpr int kRows = 13;
    static constexpr int kCellSize = 18;
    static constexpr int kSystemRow = 7;      // rows 7 and 8
    static constexpr int kSeparatorRow = 9;
    static constexpr int kCustomButtonRow = 10;
    static constexpr int kCustomRow = 11;     // rows 11 and 12
    static constexpr int kCustomButton = kCustomButtonRow * kColumns;  // the button's cell index
    static constexpr int kNone = -1;

    // The 56 named colours in reading order.
    static const std::array<PaletteColour, 56>& NamedColours();
    // The 16 desktop colours as the current palette gives them, with their names.
    static std::array<PaletteColour, 16> SystemColours(const QPalette& palette);

    CXColorPopupXP(QWidget* owner, const QColor& current, const CustomColours& custom, ColourChooser chooser);

    // Opens below `anchor` (the picker's global rectangle), or above it where the screen ends.
    void Popup(const QRect& anchor);

    int Highlight() const { return highlight_; }
    // Cell index (row * 8 + column) of a point, the button for any point of its row, or kNone.
    int CellAt(const QPoint& pos) const;
    QRect CellRect(int index) const;
    // The name a cell shows as tooltip ("Selects a custom color" for the button); empty for none.
    QString CellName(int index) const;
    // The colour of a colour cell; invalid for the button, the separator and kNone.
    QColor CellColour(int index) const;
    const CustomColours& Custom() const { return custom_; }

signals:
    // Sent once as the palette closes: chosen tells whether `colour` was selected.
    void finished(bool chosen, const QColor& colour, const CustomColours& custom);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void Activate(int index);
    void Finish(bool chosen, const QColor& colour);
    void MoveHighlight(int rowStep, int columnStep);
    void SetHighlight(int index);
    int Edge() const;

    QColor current_;
    CustomColours custom_;
    ColourChooser chooser_;
    std::array<PaletteColour, 16> system_;
    int highlight_ = kNone;
    int column_ = 0;  // the column the highlight returns to after the button row
    bool done_ = false;
    bool pressedInside_ = false;
};

class CXColorPickerXP : public QWidget {
    Q_OBJECT
public:
    explicit CXColorPickerXP(QWidget* parent = nullptr);

    QColor GetColor() const { return colour_; }
    void SetColor(const QColor& colour);  // repaints

    const CustomColours& GetCustomColors() const { return custom_; }
    void SetCustomColors(const CustomColours& custom) { custom_ = custom; }

    // The chooser behind "自定义..."; an empty function means RunSystemColourChooser.
    void SetColourChooser(ColourChooser chooser) { chooser_ = std::move(chooser); }
    // The chooser every picker starts with (tests replace it); empty: the system chooser.
    static ColourChooser& DefaultColourChooser();

    // Opens the palette (what a click or Alt+Down does). The open palette, or nullptr.
    void OpenPalette();
    CXColorPopupXP* Palette() const { return popup_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void colourChanged(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnPaletteFinished(bool chosen, const QColor& colour, const CustomColours& custom);

    QColor colour_{0, 0, 0};
    CustomColours custom_;
    ColourChooser chooser_;
    QPointer<CXColorPopupXP> popup_;
};

}  // namespace zelkor::output
