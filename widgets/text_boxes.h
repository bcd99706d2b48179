#pragma once
// Text boxes that draw the formatted-text markup, and the edit fields that sit beside or inside them.
//
// Settings are plain fields: assign them, then call update() (or move the box); they take effect at the
// next paint. Messages between these controls are described in zel_messages.h.

#include "control_ids.h"
#include "markup_layout.h"

#include <QColor>
#include <QLineEdit>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <vector>

namespace zelkor::widgets {

// A borderless child window with a text and the font and colours to draw it with. Forwards the
// value-changed message (kValueChangedMessage) to its parent window, with both parameters zero, and
// also emits valueChanged(). Enter and Escape key presses that reach it are consumed.
class CZelTextBox : public QWidget {
    Q_OBJECT
public:
    explicit CZelTextBox(QWidget* parent = nullptr);

    // Makes the box a visible child of parent at rect with the control id. Fails without a parent.
    bool Create(int id, const QRect& rect, QWidget* parent);

    QString text = QStringLiteral("0cm");
    QString faceName = QStringLiteral("Times New Roman");
    QColor textColor{0, 0, 0};
    QColor backgroundColor{255, 255, 255};
    Qt::Alignment textAlign = Qt::AlignRight | Qt::AlignTop;
    bool opaqueBackground = false;  // text runs paint backgroundColor behind their glyphs
    int fontHeight = 10;            // cell height in pixels
    int fontWeight = 400;
    bool italic = false;
    int charSet = markup::kWesternCharSet;
    QWidget* parentWindow = nullptr;  // receives the forwarded value-changed message

    markup::FontState CurrentFont() const;
    void SetCurrentFont(const markup::FontState& state);
    // Assigns the text and shows it. The same text again repaints nothing; a formatted box repaints
    // only where the new text's runs differ from those shown (a live readout whose last digit changed
    // repaints from that digit on).
    void SetText(const QString& newText);

signals:
    void valueChanged();

protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    // Shows text after SetText changed it.
    virtual void ShowNewText() { update(); }
};

// The smallest rectangle within `area` outside which two pictures of the same size agree; empty when
// they agree throughout, and `area` itself when they cannot be compared (sizes or formats differ).
QRect DifferingRect(const QImage& a, const QImage& b, const QRect& area);

// The box that renders the markup in text, from origin. The font commands of the markup change the
// box's font fields, and the change persists into later paints.
class CZelFormattedTextBox : public CZelTextBox {
    Q_OBJECT
public:
    explicit CZelFormattedTextBox(QWidget* parent = nullptr);

    bool border = false;  // outline the client area in borderColor
    QColor borderColor{128, 128, 128};
    QPoint origin{0, 0};  // start of the first run

    // Lays the markup out as the next paint would, font state changes included. The same text from
    // the same font state and origin is not measured again.
    markup::BoxLayout LayoutText();

protected:
    void paintEvent(QPaintEvent* e) override;
    void ShowNewText() override;

private:
    struct LayoutKey {
        QString text;
        markup::FontState font;
        QPoint origin;
        bool operator==(const LayoutKey&) const = default;
    };
    struct PictureKey {
        LayoutKey layout;  // its font: the state the layout starts from
        QSize size;
        bool border = false;
        QColor borderColor, backgroundColor, textColor;
        Qt::Alignment textAlign;
        bool opaqueBackground = false;
        bool operator==(const PictureKey&) const = default;
        bool SameButFont(const PictureKey& o) const;
        // Everything but the markup's layout: what a picture of other runs can be drawn over.
        bool SameFrame(const PictureKey& o) const;
    };
    struct Picture {
        PictureKey key;
        markup::FontState fontAfter;  // the font state its layout left
        std::vector<markup::PlacedRun> runs;
        QImage image;
    };
    PictureKey KeyNow() const;
    // The picture of the box as it is now, from the pictures kept or drawn; leaves the font state as
    // the layout does. A new picture is drawn over a copy of `base` where only part of it can differ.
    const Picture& PictureNow(const Picture* base);
    // Draws the picture of the box with these runs into image: whole, or only inside `clip` over a
    // picture of the same frame.
    void Render(const std::vector<markup::PlacedRun>& runs, QImage& image, const QRect& clip) const;
    // The part of the box where a picture of `runs` can differ from one of `shownRuns`: the ink of
    // every run from the first that differs on (the runs after it may have moved).
    QRect ChangedArea(const std::vector<markup::PlacedRun>& runs,
                      const std::vector<markup::PlacedRun>& shownRuns) const;

    bool layoutValid_ = false;
    LayoutKey layoutKey_;
    markup::BoxLayout layout_;
    markup::FontState fontAfter_;  // the font state the layout leaves
    // The pictures of the last few texts shown, most recent first: a live readout that goes back and
    // forth between a handful of values (a position at rest, with its noise) is drawn once per value.
    static constexpr std::size_t kPictures = 32;
    std::vector<Picture> pictures_;
    // What the screen shows once the paints asked for are done. A new text repaints only the pixels
    // that differ from it, looked for only where the runs differ.
    Picture shown_;
    // shown_ was taken by SetText for the text it set: the next paint shows it as it is.
    bool pending_ = false;
};

// A one-line edit for a typed value, bound to a buddy window: every change of its text sends the
// value-changed message to the buddy; Enter and Escape are sent to the buddy as key presses and
// consumed. The buddy is meant to be a CZelTextBox (which consumes them in turn).
class CEasyEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CEasyEdit(QWidget* parent = nullptr);

    // A visible, framed, tab-stop, right-aligned single-line edit at rect with the control id.
    bool Create(int id, const QRect& rect, QWidget* parent);
    // Creates and applies the font, applies the colours and remembers the buddy. Call once after Create.
    bool Initialize(QWidget* buddyWindow);

    QColor backgroundColor{255, 255, 255};
    QColor textColor{0, 0, 0};
    int fontHeight = 20;
    QString faceName = QStringLiteral("Times New Roman");
    int charSet = markup::kWesternCharSet;
    QWidget* buddy = nullptr;

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void ApplyColors();
};

// An edit with a fixed light-yellow background.
class CZelEdit : public QLineEdit {
    Q_OBJECT
public:
    static inline const QColor kBackground{255, 255, 192};
    explicit CZelEdit(QWidget* parent = nullptr);
    bool Create(int id, const QRect& rect, QWidget* parent);
};

}  // namespace zelkor::widgets
