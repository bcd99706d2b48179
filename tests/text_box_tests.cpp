// Text boxes, their edit fields and the fonts behind them, rendered on the offscreen platform and driven
// with the keyboard as a pupil would.
#include "widgets/font_cells.h"
#include "widgets/markup_painter.h"
#include "widgets/text_boxes.h"
#include "widgets/zel_messages.h"

#include <QDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QApplication>
#include <QPushButton>
#include <QRandomGenerator>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zelkor::widgets;
using zelkor::markup::PlacedRun;
using zelkor::markup::RunRole;

namespace {

bool Differs(QRgb a, const QColor& b, int tolerance = 40)
{
    return std::abs(qRed(a) - b.red()) + std::abs(qGreen(a) - b.green()) + std::abs(qBlue(a) - b.blue()) >
           tolerance;
}

// Pixels in r that are not the background.
int InkIn(const QImage& image, const QRect& r, const QColor& background)
{
    int ink = 0;
    const QRect clipped = r.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            ink += Differs(image.pixel(x, y), background) ? 1 : 0;
    return ink;
}

QImage Render(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// A box with a translucent background leaves what is under it: white here.
QImage RenderOverWhite(QWidget& w)
{
    QImage image(w.size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Counts the messages and key presses that reach a widget.
class Recorder : public QObject {
public:
    std::vector<CZelMessageEvent> messages;
    std::vector<int> keys;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == CZelMessageEvent::Type()) {
            auto* m = static_cast<CZelMessageEvent*>(e);
            messages.emplace_back(m->Message(), m->WParam(), m->LParam());
        } else if (e->type() == QEvent::KeyPress) {
            keys.push_back(static_cast<QKeyEvent*>(e)->key());
        }
        return false;
    }
};

}  // namespace

TEST(FontCells, FacesResolveAndCellHeightsMatch)
{
    struct Case {
        const char* face;
        int height;
        bool bold;
        const char* family;
        bool cjk;
    };
    for (const Case& c : {Case{"Times New Roman", 26, false, "Liberation Serif", false},
                          Case{"Times New Roman", 20, true, "Liberation Serif", false},
                          Case{"宋体", 24, false, "Noto Serif CJK SC", true},
                          Case{"黑体", 26, false, "Noto Sans CJK SC", true},
                          Case{"Microsoft Sans Serif", 20, true, "Liberation Sans", false}}) {
        const QFont f = FontForCellHeight(QString::fromUtf8(c.face), c.height, c.bold);
        // The CJK faces' cells grow in steps of one or two pixels, so they may miss by one.
        EXPECT_NEAR(QFontMetrics(f).height(), c.height, c.cjk ? 1 : 0) << c.face;
        EXPECT_EQ(QFontInfo(f).family(), QString::fromUtf8(c.family)) << c.face;
        EXPECT_EQ(QFontInfo(f).bold(), c.bold) << c.face;
    }
    // Absurd requests are bounded rather than honoured.
    EXPECT_LE(QFontMetrics(FontForCellHeight("Times New Roman", 1 << 30)).height(), kMaxCellHeight);
    EXPECT_GE(QFontMetrics(FontForCellHeight("Times New Roman", -5)).height(), 0);
}

TEST(FormattedTextBox, CaptionRunsHaveTheirFontsAndPlaces)
{
    QWidget window;
    CZelFormattedTextBox box;
    ASSERT_TRUE(box.Create(5002, QRect(0, 0, 320, 40), &window));
    EXPECT_EQ(box.property("ctrlId").toInt(), 5002);
    box.text = QStringLiteral("\\font{黑体,26}\\text{水平位移}\\font{Times New Roman,26}\\math{X}\\text{:}");
    box.origin = QPoint(6, 5);
    box.backgroundColor = QColor(255, 255, 0);
    box.textColor = QColor(0, 0, 255);
    const QImage image = Render(box);

    const auto layout = box.LayoutText();
    ASSERT_EQ(layout.runs.size(), 4u);
    const QFont cjk = QFontFor(layout.runs[0].font);
    EXPECT_EQ(QFontInfo(cjk).family(), "Noto Sans CJK SC");
    EXPECT_EQ(QFontMetrics(cjk).height(), 26);
    const QFont x = QFontFor(layout.runs[1].font);
    EXPECT_EQ(QFontInfo(x).family(), "Liberation Serif");
    EXPECT_TRUE(QFontInfo(x).italic());
    EXPECT_FALSE(QFontInfo(QFontFor(layout.runs[2].font)).italic());
    int sum = 0;
    for (const PlacedRun& run : layout.runs) {
        EXPECT_EQ(run.y, 5);
        EXPECT_EQ(run.x, 6 + sum);
        sum += run.width;
        if (!run.text.empty()) {
            EXPECT_GT(InkIn(image, QRect(run.x, run.y, run.width, run.height), box.backgroundColor), 3);
        }
    }
    EXPECT_EQ(layout.width, sum);
    // Everything is drawn in the text colour, nothing beyond the runs or above the origin.
    EXPECT_EQ(InkIn(image, QRect(6 + sum + 2, 0, 320, 40), box.backgroundColor), 0);
    EXPECT_EQ(InkIn(image, QRect(0, 0, 320, 5), box.backgroundColor), 0);
    bool sawBlue = false;
    for (int yy = 0; yy < image.height(); ++yy)
        for (int xx = 0; xx < image.width(); ++xx)
            sawBlue |= image.pixel(xx, yy) == qRgb(0, 0, 255);
    EXPECT_TRUE(sawBlue);
}

TEST(FormattedTextBox, SubscriptInkLiesInTheLowerHalf)
{
    QWidget window;
    CZelFormattedTextBox box;
    box.Create(1, QRect(0, 0, 200, 60), &window);
    box.text = QStringLiteral("\\font{Times New Roman,40}\\math{E_k}\\text{ / J}");
    const QImage image = Render(box);
    const auto layout = box.LayoutText();
    ASSERT_GE(layout.runs.size(), 3u);
    const PlacedRun& e = layout.runs[0];
    const PlacedRun& k = layout.runs[1];
    EXPECT_EQ(k.y, e.height / 2);
    EXPECT_EQ(QFontMetrics(QFontFor(k.font)).height(), 24);
    // The italic E may lean into the first pixels of the k's columns; past them no ink above the k's top.
    EXPECT_EQ(InkIn(image, QRect(k.x + 5, 0, k.width - 5, k.y), Qt::white), 0);
    EXPECT_GT(InkIn(image, QRect(k.x, k.y, k.width, k.height), Qt::white), 5);
    EXPECT_GT(InkIn(image, QRect(e.x, 0, e.width, e.height / 2), Qt::white), 20);
}

TEST(FormattedTextBox, BorderAndFill)
{
    QWidget window;
    CZelFormattedTextBox box;
    box.Create(1, QRect(0, 0, 50, 20), &window);
    box.text = QString();
    box.backgroundColor = QColor(0, 255, 0);
    QImage image = Render(box);
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 255, 0));
    box.border = true;
    image = Render(box);
    EXPECT_EQ(image.pixel(0, 0), qRgb(128, 128, 128));
    EXPECT_EQ(image.pixel(49, 19), qRgb(128, 128, 128));
    EXPECT_EQ(image.pixel(25, 0), qRgb(128, 128, 128));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 255, 0));
}

TEST(FormattedTextBox, FontOfThePreviousMarkupCarriesOver)
{
    QWidget window;
    CZelFormattedTextBox box;
    box.Create(1, QRect(0, 0, 200, 40), &window);
    box.text = QStringLiteral("\\font{宋体,30i}\\text{高度}");
    Render(box);
    box.text = QStringLiteral("\\text{(m)}");
    Render(box);
    EXPECT_EQ(box.faceName, QStringLiteral("宋体"));
    EXPECT_EQ(box.fontHeight, 30);
    EXPECT_TRUE(box.italic);
    EXPECT_EQ(box.charSet, kChineseCharSet);
    const auto layout = box.LayoutText();
    EXPECT_EQ(QFontMetrics(QFontFor(layout.runs[0].font)).height(), 30);
}

TEST(FormattedTextBox, PictureRunCopiesTheBitmapUnscaled)
{
    const QImage bitmap = LoadBitmapResource(103);
    ASSERT_FALSE(bitmap.isNull());
    QWidget window;
    CZelFormattedTextBox box;
    box.Create(1, QRect(0, 0, 100, 40), &window);
    box.text = QStringLiteral("\\font{Times New Roman,20}\\bmp{103}\\text{A}");
    box.origin = QPoint(3, 2);
    const QImage image = Render(box);
    const auto layout = box.LayoutText();
    ASSERT_GE(layout.runs.size(), 2u);
    EXPECT_EQ(layout.runs[0].width, bitmap.width());
    EXPECT_EQ(layout.runs[1].x, 3 + bitmap.width());
    EXPECT_EQ(layout.runs[1].y, 2 + bitmap.height() / 4);
    const QImage opaque = bitmap.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            if (qAlpha(opaque.pixel(x, y)) == 255) {
                ASSERT_EQ(image.pixel(3 + x, 2 + y), opaque.pixel(x, y)) << x << "," << y;
            }
        }
    }
}

TEST(FormattedTextBox, AnyMarkupAnySizeDrawsWithoutFailing)
{
    QWidget window;
    CZelFormattedTextBox box;
    box.Create(1, QRect(0, 0, 120, 30), &window);
    const QString alphabet = QStringLiteral("\\{}fontexmahbp_^,i0123456789体 ");
    QRandomGenerator rng(1234);
    for (int i = 0; i < 400; ++i) {
        QString s;
        const int n = static_cast<int>(rng.bounded(40));
        for (int j = 0; j < n; ++j)
            s += alphabet[static_cast<int>(rng.bounded(static_cast<quint32>(alphabet.size())))];
        box.text = s;
        box.resize(static_cast<int>(rng.bounded(3)) * 60, static_cast<int>(rng.bounded(3)) * 15);
        box.grab();
    }
    box.resize(120, 30);
    box.text = QStringLiteral("\\font{Times New Roman,999999999}\\text{W}\\bmp{-7}\\bmp{99999999999}");
    Render(box);
    const auto layout = box.LayoutText();
    EXPECT_LE(layout.runs[0].height, kMaxCellHeight);  // clamped, still huge
    EXPECT_GT(layout.runs[0].height, kMaxCellHeight / 2);
    box.resize(0, 0);
    QImage none(1, 1, QImage::Format_RGB32);
    box.render(&none);
}

// A live readout on the screen: SetText repaints only the pixels the new text changes, nothing for
// the same text again, and what it shows is what a box drawn afresh with that text shows.
TEST(FormattedTextBox, SetTextRepaintsOnlyWhatTheNewTextChanges)
{
    struct Paints : QObject {
        QRegion region;
        int count = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint) {
                region += static_cast<QPaintEvent*>(e)->region();
                ++count;
            }
            return false;
        }
    };
    QWidget window;
    window.resize(300, 60);
    CZelFormattedTextBox box;
    box.Create(5003, QRect(10, 10, 200, 30), &window);
    box.text = QStringLiteral("\\font{Times New Roman,26}\\text{0(m)}");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    Paints paints;
    box.installEventFilter(&paints);
    auto settle = [&] {
        paints.region = QRegion();
        paints.count = 0;
        QApplication::processEvents();
    };
    // After a font command the plain readouts keep Times New Roman 26.
    box.SetText(QStringLiteral("0.125(m)"));
    settle();
    box.SetText(QStringLiteral("0.126(m)"));
    settle();
    const int prefix = QFontMetrics(FontForCellHeight("Times New Roman", 26)).horizontalAdvance("0.12");
    ASSERT_EQ(paints.count, 1);
    const QRect changed = paints.region.boundingRect();
    EXPECT_GE(changed.left(), prefix - 2);
    EXPECT_LT(changed.width(), 30);
    EXPECT_LT(changed.height(), 30);
    box.SetText(QStringLiteral("0.126(m)"));
    settle();
    EXPECT_EQ(paints.count, 0);
    // Back to a text shown before; the font state is the one the texts leave.
    for (const char* text : {"0.125(m)", "-0.001(m)", "0.126(m)", "0.125(m)"}) {
        box.SetText(QString::fromUtf8(text));
        settle();
        EXPECT_EQ(box.fontHeight, 26);
    }
    // A text after a different font command is drawn in that font, not from a picture of before.
    box.SetText(QStringLiteral("\\font{Times New Roman,12i}\\text{x}"));
    settle();
    box.SetText(QStringLiteral("0.125(m)"));
    settle();
    EXPECT_EQ(box.fontHeight, 12);
    EXPECT_TRUE(box.italic);
    const auto layout = box.LayoutText();
    ASSERT_EQ(layout.runs.size(), 1u);
    EXPECT_EQ(layout.runs[0].font.height, 12);
    EXPECT_EQ(InkIn(box.grab().toImage(), QRect(0, 16, 200, 14), Qt::white), 0);  // small text only
}

// The repainted rectangle of a readout change: exactly the bounds of the pixels that differ inside the
// area asked about, whatever the pattern of the changes.
TEST(FormattedTextBox, DifferingRectBoundsEveryChangedPixelAndNoMore)
{
    QRandomGenerator random(20261210);
    const QSize size(61, 23);
    QImage before(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            before.setPixel(x, y, random.bounded(3) == 0 ? 0xff000000u : 0xffffffffu);
    for (int round = 0; round < 400; ++round) {
        QImage after = before.copy();
        const int changes = static_cast<int>(random.bounded(6));
        for (int i = 0; i < changes; ++i)
            after.setPixel(random.bounded(size.width()), random.bounded(size.height()), 0xff808080u);
        // Areas reach past the picture's edges now and then.
        const QRect area(random.bounded(-5, 40), random.bounded(-5, 15), random.bounded(1, 40), random.bounded(1, 20));
        QRect expected;
        const QRect inside = area & before.rect();
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                if (before.pixel(x, y) != after.pixel(x, y))
                    expected |= QRect(x, y, 1, 1);
        ASSERT_EQ(DifferingRect(before, after, area), expected) << "round " << round;
    }
    const QRect area(2, 3, 10, 10);
    EXPECT_EQ(DifferingRect(before, before.copy(), QRect()), QRect());
    EXPECT_EQ(DifferingRect(before, before.copy(0, 0, 60, 23), area), area);
    EXPECT_EQ(DifferingRect(before, before.convertToFormat(QImage::Format_ARGB32), area), area);
}

// A new text is drawn only where its runs differ from those shown: what the box shows after every
// change is what a box drawn afresh from the same font state shows.
TEST(FormattedTextBox, TextDrawnOverThePreviousOneLooksAsIfDrawnAfresh)
{
    const char* const texts[] = {
        "\\font{Times New Roman,26}\\text{ 0.125(m)}",
        "\\font{Times New Roman,26}\\text{ 0.126(m)}",
        "\\font{Times New Roman,26}\\text{ -0.001(m)}",  // longer
        "\\font{Times New Roman,26}\\text{ 1(m)}",       // shorter
        "\\font{黑体,26}\\text{水平:}\\font{Times New Roman,26}\\math{X}\\text{ 0.5}",
        "\\font{黑体,26}\\text{水平:}\\font{Times New Roman,26}\\math{E_k}\\text{ 0.5}",  // a run more
        "\\font{Times New Roman,26i}\\text{ffj 0.7}",    // italic overhang, a ligature
        "\\font{Times New Roman,26i}\\text{ffi 0.7}",
        "\\text{ 0.126(m)}",                               // the font state the last text left
    };
    struct Frame {
        bool border;
        QColor background;
    };
    for (const Frame frame : {Frame{true, QColor(255, 255, 0)}, Frame{false, QColor(0, 255, 0, 120)}}) {
        QWidget window;
        window.resize(300, 60);
        CZelFormattedTextBox box;
        box.Create(5006, QRect(10, 5, 250, 50), &window);
        box.border = frame.border;
        box.backgroundColor = frame.background;
        box.textColor = QColor(0, 0, 255);
        box.origin = QPoint(45, 7);
        box.text = QString::fromUtf8(texts[0]);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::processEvents();
        for (const char* text : texts) {
            const zelkor::markup::FontState before = box.CurrentFont();
            box.SetText(QString::fromUtf8(text));
            QApplication::processEvents();
            CZelFormattedTextBox fresh;
            fresh.Create(1, QRect(0, 0, 250, 50), &window);
            fresh.border = box.border;
            fresh.backgroundColor = box.backgroundColor;
            fresh.textColor = box.textColor;
            fresh.origin = box.origin;
            fresh.SetCurrentFont(before);
            fresh.text = box.text;
            EXPECT_TRUE(RenderOverWhite(fresh) == RenderOverWhite(box))
                << text << (frame.border ? " bordered" : " translucent");
        }
    }
}

TEST(TextBoxMessages, ValueChangedGoesToTheParentWithZeroParameters)
{
    QWidget dialog;
    Recorder atDialog;
    dialog.installEventFilter(&atDialog);
    CZelFormattedTextBox box;
    box.Create(5007, QRect(0, 0, 100, 30), &dialog);
    int signalled = 0;
    QObject::connect(&box, &CZelTextBox::valueChanged, [&] { ++signalled; });

    SendZelMessage(&box, kValueChangedMessage, 5, 6);
    SendZelMessage(&box, kValueChangedMessage + 1, 0, 0);
    ASSERT_EQ(atDialog.messages.size(), 1u);
    EXPECT_EQ(atDialog.messages[0].Message(), 1039);
    EXPECT_EQ(atDialog.messages[0].WParam(), 0);
    EXPECT_EQ(atDialog.messages[0].LParam(), 0);
    EXPECT_EQ(signalled, 1);
}

TEST(EasyEdit, EachChangeNotifiesTheDialogAndEnterOrEscapeNeverCloseIt)
{
    // The edit inside its buddy box (as the experiments place it), and beside it, so that the keys are
    // known to be forwarded by the edit rather than merely bubbling up to the box.
    for (const bool insideBox : {true, false}) {
        SCOPED_TRACE(insideBox ? "inside the box" : "beside the box");
        QDialog dialog;
        dialog.resize(400, 100);
        int defaultClicks = 0;
        auto* ok = new QPushButton("OK", &dialog);
        ok->setDefault(true);
        QObject::connect(ok, &QPushButton::clicked, [&] { ++defaultClicks; });

        auto* box = new CZelFormattedTextBox();
        box->Create(5007, QRect(10, 10, 300, 34), &dialog);
        box->text = QStringLiteral("\\font{宋体,24}\\text{下落高度}\\font{Times New Roman,24}\\text{:           (m)}");
        auto* edit = new CEasyEdit();
        if (insideBox)
            edit->Create(5008, QRect(110, 2, 60, 30), box);
        else
            edit->Create(5008, QRect(320, 12, 60, 30), &dialog);
        edit->setText("0.80");
        ASSERT_TRUE(edit->Initialize(box));
        EXPECT_EQ(QFontMetrics(edit->font()).height(), 20);
        EXPECT_EQ(edit->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);

        Recorder atDialog, atBox;
        dialog.installEventFilter(&atDialog);
        box->installEventFilter(&atBox);
        dialog.show();
        edit->setFocus();

        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);  // select all: no change
        QTest::keyClicks(edit, "1.5");
        EXPECT_EQ(edit->text(), "1.5");
        ASSERT_EQ(atDialog.messages.size(), 3u);
        for (const auto& m : atDialog.messages)
            EXPECT_EQ(m.Message(), kValueChangedMessage);

        atBox.keys.clear();  // the Control of Ctrl+A, which the edit lets pass
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Enter);
        QTest::keyClick(edit, Qt::Key_Escape);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), 0);
        EXPECT_EQ(defaultClicks, 0);
        EXPECT_EQ(edit->text(), "1.5");
        EXPECT_EQ(atDialog.messages.size(), 3u);
        EXPECT_EQ(atBox.keys, (std::vector<int>{Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}));
    }
}

TEST(EasyEdit, ColoursTakeEffectAtTheNextPaint)
{
    QWidget window;
    window.resize(200, 60);
    auto* edit = new CEasyEdit();
    edit->Create(1, QRect(0, 0, 120, 30), &window);
    edit->Initialize(&window);
    edit->backgroundColor = QColor(255, 255, 0);
    QImage image = Render(*edit);
    EXPECT_EQ(image.pixel(20, 15), qRgb(255, 255, 0));

    CZelEdit yellow;
    yellow.Create(2, QRect(0, 30, 120, 30), &window);
    image = Render(yellow);
    EXPECT_EQ(image.pixel(20, 15), qRgb(255, 255, 192));
}

// The label row of the free-fall window, drawn for a person to look at (not run by ctest).
TEST(TextBoxPictures, FreeFallLabelRow)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    QWidget window;
    window.resize(760, 40);
    QPalette p = window.palette();
    p.setColor(QPalette::Window, QColor(255, 251, 240));
    window.setPalette(p);
    struct Box {
        int id;
        int x;
        int w;
        const char* markup;
    };
    for (const Box& b : {Box{5002, 0, 40, "\\font{Times New Roman,26}\\math{X}\\text{:}"},
                         Box{5003, 40, 110, "\\font{Times New Roman,26}\\text{0.125(m)}"},
                         Box{5004, 150, 40, "\\font{Times New Roman,26}\\math{Y}\\text{:}"},
                         Box{5005, 190, 110, "\\font{Times New Roman,26}\\text{0(m)}"},
                         Box{5001, 300, 260, "\\font{宋体,24}\\text{实测频率}\\font{Times New Roman,24}\\math{ f }\\text{:   50(Hz)}"},
                         Box{5006, 560, 200, "\\font{宋体,24}\\text{采集频率:}"}}) {
        auto* box = new CZelFormattedTextBox();
        box->Create(b.id, QRect(b.x, 2, b.w, 36), &window);
        box->text = QString::fromUtf8(b.markup);
        box->backgroundColor = QColor(255, 251, 240);
    }
    ASSERT_TRUE(Render(window).save(folder + QStringLiteral("/free_fall_label_row.png")));
}
