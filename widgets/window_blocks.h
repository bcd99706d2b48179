#pragma once
// Building blocks every experiment window is made of: picture buttons with a face colour, a caption font
// and an initial state; empty group frames around a column of buttons; formatted-text label boxes laid
// out in rows and measured in the row's font (large and small variants); value edits inside a label box.
//
// Everything here runs on the user-interface thread. Controls carry their numeric id (control_ids.h).

#include "picture_button.h"
#include "text_boxes.h"

#include <QColor>
#include <QFont>
#include <QGroupBox>
#include <QRect>
#include <QString>

#include <initializer_list>
#include <vector>

namespace zelkor::widgets {

// --- buttons -------------------------------------------------------------------------------------------

// Face colours of the experiment buttons.
inline const QColor kFaceSetting{255, 224, 192};  // light orange: the experiment's operations
inline const QColor kFaceStart{192, 255, 192};    // light green: start, and the frame's 241 and 231
inline const QColor kFaceStop{192, 192, 255};     // light blue: stop
inline const QColor kFaceFile{239, 246, 195};     // import, export, calibration commands
inline const QColor kFaceColours{242, 242, 248};  // colour settings

// Caption fonts. Free fall and projectile motion caption in a bold sans, Galileo in 宋体; the other
// windows use their dialog font (ExperimentDialogFont()).
QFont BoldSansCaptionFont();  // "Microsoft Sans Serif", 20 px, bold, GB2312
QFont SongCaptionFont();      // "宋体", 20 px, normal, GB2312

enum class Initially { Enabled, Disabled, Hidden };

struct ButtonLook {
    QColor face;
    QFont font;
};

// Gives a button its caption (an empty caption keeps the current one), face colour, caption font and
// initial state. Hidden buttons stay enabled, so a command bound to them still works. Returns `button`.
CPictureButton* StyleButton(CPictureButton* button, const QString& caption, const ButtonLook& look,
                            Initially state);
// A new picture button child of `parent` at `rect`, styled as above; it takes the focus only by tab.
CPictureButton* AddPictureButton(QWidget* parent, int id, const QString& caption, const QRect& rect,
                                 const ButtonLook& look, Initially state);

// Enables or disables the descendants of `root` with these ids (missing ids are skipped).
void SetControlsEnabled(const QWidget* root, std::initializer_list<int> ids, bool enabled);
void SetControlsEnabled(const QWidget* root, const std::vector<int>& ids, bool enabled);

// --- group frames --------------------------------------------------------------------------------------

// An empty group frame (no caption), kept below the controls it surrounds.
class CGroupFrame : public QGroupBox {
    Q_OBJECT
public:
    explicit CGroupFrame(QWidget* parent = nullptr);
    bool Create(int id, const QRect& rect, QWidget* parent);
};

// Frames stacked down a button column. `groups` are the bounding rectangles of each group's controls,
// top to bottom. Each frame runs from 10 left of its group to `right` (exclusive) and ends 10 below its
// group; the first starts 10 above its group, every later one 6 above the end of the one before.
std::vector<QRect> StackedGroupFrames(const std::vector<QRect>& groups, int right);

// --- label boxes and rows ------------------------------------------------------------------------------

// The windows give the labels of a large variant from this window height up, a small one below.
inline constexpr int kLargeLabelsMinHeight = 601;
inline bool LargeLabels(int windowHeight) { return windowHeight >= kLargeLabelsMinHeight; }

// Font command of the markup: "\font{face,height}".
QString FontMarkup(const QString& face, int cellHeight);

// An empty formatted-text box, a visible child of `parent`.
CZelFormattedTextBox* AddTextBox(QWidget* parent, int id);
// Sets a box's markup (with the left/top alignment it is drawn with); repaints only when it changed.
void SetMarkup(CZelFormattedTextBox* box, const QString& markup);

// Width of markup as a text box lays it out from a fresh font state.
int MarkupWidth(const QString& markup);

// A label row's measuring font: boxes are as wide as a plain measure text drawn in it.
class CLabelMetrics {
public:
    CLabelMetrics(const QString& face, int cellHeight, int charSet);
    // 宋体 (GB2312) and Times New Roman, the measuring fonts of the windows.
    static CLabelMetrics Song(int cellHeight);
    static CLabelMetrics TimesNewRoman(int cellHeight);

    int TextHeight() const;
    int TextWidth(const QString& text) const;
    // The measure text's width, or the markup's own width (plus 2) where this desktop's fonts draw the
    // markup wider, so that no label is cut off.
    int BoxWidth(const QString& measureText, const QString& markup) const;
    const QFont& Font() const { return font_; }

private:
    QFont font_;
};

// Places controls side by side on one row, left to right.
class CLabelRow {
public:
    CLabelRow(int x, int top, int height) : x_(x), top_(top), height_(height) {}
    // The next slot of this width; the row moves on past it.
    QRect Next(int width);
    // Puts `control` into the next slot (nothing but the move for a null control).
    void Place(QWidget* control, int width);
    void Skip(int dx) { x_ += dx; }
    void MoveTo(int x) { x_ = x; }
    int X() const { return x_; }
    int Top() const { return top_; }
    int Height() const { return height_; }

private:
    int x_;
    int top_;
    int height_;
};

// --- value edits ---------------------------------------------------------------------------------------

// A typed-value edit inside a label box, in Times New Roman of this cell height, with its initial
// text; the box is its buddy, so each change reaches the box's window as a value-changed message.
CEasyEdit* AddValueEdit(CZelFormattedTextBox* box, int id, int fontHeight, const QString& text);
// Where an edit sits inside its box: from `left`, as wide as `widthText` in the edit's font (plus room
// for its frame), as high as `height`.
QRect ValueEditSlot(const QLineEdit* edit, int left, const QString& widthText, int height);

}  // namespace zelkor::widgets
