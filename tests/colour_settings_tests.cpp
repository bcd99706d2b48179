// The colour settings: the dialog driven through its controls over a chart and a table, the colour
// picker's palette by mouse and keys, custom colours through the colour chooser, and what reaches the
// chart and the table.
#include "output/colour_dialog.h"
#include "output/colour_picker.h"
#include "output/colour_settings.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"
#include "widgets/dialog_units.h"
#include "widgets/picture_button.h"

#include <QColorDialog>
#include <QLabel>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace zelkor::output;
using namespace zelkor::widgets;
using zelkor::testing::ShownWatcher;
using Popup = CXColorPopupXP;

const QColor kWhite(255, 255, 255);

// An experiment's chart (four series, as the projectile window has) and a three-column table, in
// colours that are neither the defaults nor in the palette.
struct Experiment {
    QWidget window;
    CDataChartPanel* chart = new CDataChartPanel(&window);
    CDataTable* table = new CDataTable();
    CChartSeries s0, s1, s2, s3;

    Experiment()
    {
        window.resize(700, 400);
        chart->setGeometry(0, 0, 400, 300);
        chart->view.xAxisColour = QColor(10, 20, 30);
        chart->view.yAxisColour = QColor(11, 21, 31);
        chart->view.minorGridColour = QColor(1, 2, 3);
        chart->view.majorGridColour = QColor(4, 5, 6);
        chart->view.plotBackground = QColor(7, 8, 9);
        chart->panelBackground = QColor(9, 9, 9);
        s0.markerColour = QColor(33, 33, 33);
        s1.markerColour = QColor(100, 0, 1);
        s2.markerColour = QColor(0, 100, 1);
        s3.markerColour = QColor(1, 0, 100);
        for (CChartSeries* s : {&s0, &s1, &s2, &s3}) {
            s->style = kStyleMarkers;
            s->Append(0.2, 0.3);
            s->Append(0.4, 0.5);
        }
        chart->SetSeriesList({&s0, &s1, &s2, &s3});
        table->Create(QRect(410, 0, 280, 300), &window, 20102);
        CDataTableSettings settings;
        settings.rows = 20;
        settings.columns = 3;
        table->ApplyCommonSettings(settings);
        table->SetColumnTextColour(0, QColor(50, 50, 50));
        table->SetColumnTextColour(1, QColor(60, 60, 60));
        table->SetColumnTextColour(2, QColor(70, 70, 70));
        window.show();
    }
    ~Experiment() { chart->SetSeriesList({}); }

    QColor TableColour(int row, int col) const { return table->GetItemFgColour(row, col); }
};

CXColorPickerXP* PickerOf(QWidget* dialog, int id)
{
    return FindControl<CXColorPickerXP>(dialog, id);
}

void ClickControl(QWidget* dialog, int id)
{
    QWidget* w = FindControl(dialog, id);
    ASSERT_NE(w, nullptr) << id;
    QTest::mouseClick(w, Qt::LeftButton);
}

void ClickCell(Popup* popup, int index)
{
    const QPoint at = popup->CellRect(index).center();
    QTest::mousePress(popup, Qt::LeftButton, {}, at);
    QTest::mouseRelease(popup, Qt::LeftButton, {}, at);
}

int PixelsOf(const QImage& image, const QColor& colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)).rgb() == colour.rgb();
    return n;
}

// ---------------------------------------------------------------------------------------------
// The dialog over an experiment

TEST(ColourDialog, OpensWithTheCurrentColoursAndCancelChangesNothing)
{
    Experiment e;
    const CChartView view = e.chart->view;
    std::vector<QColor> shown;
    ShownWatcher<CDlgClrSetting> watcher([&](CDlgClrSetting* d) {
        for (int id = 1002; id <= 1008; ++id)
            shown.push_back(PickerOf(d, id) ? PickerOf(d, id)->GetColor() : QColor());
        // Change two pickers, then cancel.
        ClickControl(d, 1002);
        if (Popup* p = PickerOf(d, 1002)->Palette())
            ClickCell(p, 2);
        ClickControl(d, 242);
        ClickControl(d, 2);
    });
    EXPECT_FALSE(EditColours(&e.window, *e.chart, *e.table));
    ASSERT_TRUE(watcher.Seen());
    EXPECT_EQ(shown, (std::vector<QColor>{QColor(10, 20, 30), QColor(1, 2, 3), QColor(7, 8, 9), QColor(100, 0, 1),
                                          QColor(0, 100, 1), QColor(50, 50, 50), QColor(60, 60, 60)}));
    // (Painting recomputes the view's steps, so only its colours are compared.)
    const CChartView& v = e.chart->view;
    EXPECT_EQ(v.xAxisColour, view.xAxisColour);
    EXPECT_EQ(v.yAxisColour, view.yAxisColour);
    EXPECT_EQ(v.minorGridColour, view.minorGridColour);
    EXPECT_EQ(v.majorGridColour, view.majorGridColour);
    EXPECT_EQ(v.plotBackground, view.plotBackground);
    EXPECT_EQ(e.chart->panelBackground, QColor(9, 9, 9));
    EXPECT_EQ(e.s1.markerColour, QColor(100, 0, 1));
    EXPECT_EQ(e.s2.markerColour, QColor(0, 100, 1));
    EXPECT_EQ(e.s3.markerColour, QColor(1, 0, 100));
    EXPECT_EQ(e.TableColour(0, 0), QColor(50, 50, 50));
    EXPECT_EQ(e.TableColour(7, 1), QColor(60, 60, 60));
}

TEST(ColourDialog, ResetThenOkGivesTheBuiltInColours)
{
    Experiment e;
    bool stillOpenAfterReset = false;
    std::vector<QColor> afterReset;
    ShownWatcher<CDlgClrSetting> watcher([&](CDlgClrSetting* d) {
        ClickControl(d, 242);
        stillOpenAfterReset = d->isVisible();
        for (int id = 1002; id <= 1008; ++id)
            afterReset.push_back(PickerOf(d, id)->GetColor());
        ClickControl(d, 1);
    });
    EXPECT_TRUE(EditColours(&e.window, *e.chart, *e.table));
    ASSERT_TRUE(watcher.Seen());
    EXPECT_TRUE(stillOpenAfterReset);
    EXPECT_EQ(afterReset, (std::vector<QColor>{QColor(0, 0, 0), QColor(160, 160, 160), QColor(255, 251, 240),
                                               QColor(255, 0, 0), QColor(0, 0, 255), QColor(0, 0, 0),
                                               QColor(0, 0, 0)}));
    const CChartView& v = e.chart->view;
    EXPECT_EQ(v.xAxisColour, QColor(0, 0, 0));
    EXPECT_EQ(v.yAxisColour, QColor(0, 0, 0));
    EXPECT_EQ(v.minorGridColour, QColor(160, 160, 160));
    EXPECT_EQ(v.majorGridColour, QColor(160, 160, 160));
    EXPECT_EQ(v.plotBackground, QColor(255, 251, 240));
    EXPECT_EQ(e.chart->panelBackground, QColor(255, 251, 240));
    EXPECT_EQ(e.s0.markerColour, QColor(33, 33, 33)) << "series 0 is not one of the three";
    EXPECT_EQ(e.s1.markerColour, QColor(255, 0, 0));
    EXPECT_EQ(e.s2.markerColour, QColor(0, 0, 255));
    EXPECT_EQ(e.s3.markerColour, QColor(0, 0, 255));
    for (int row = 0; row < e.table->GetRowCount(); ++row) {
        EXPECT_EQ(e.TableColour(row, 0), QColor(0, 0, 0)) << row;
        EXPECT_EQ(e.TableColour(row, 1), QColor(0, 0, 0)) << row;
        EXPECT_EQ(e.TableColour(row, 2), QColor(70, 70, 70)) << row;
    }
}

TEST(ColourDialog, ColoursPickedInThePalettesReachTheChartAndTheTable)
{
    Experiment e;
    // Enter in the dialog presses the default button "确定".
    ShownWatcher<CDlgClrSetting> watcher([&](CDlgClrSetting* d) {
        auto pick = [d](int id, int cell) {
            ClickControl(d, id);
            Popup* p = PickerOf(d, id)->Palette();
            ASSERT_NE(p, nullptr) << id;
            ClickCell(p, cell);
        };
        pick(1003, 1);   // Dark Red for the grid lines
        pick(1006, 25);  // Lime for the component markers
        pick(1008, 37);  // Blue for the Y column
        QTest::keyClick(d, Qt::Key_Return);
    });
    EXPECT_TRUE(EditColours(&e.window, *e.chart, *e.table));
    ASSERT_TRUE(watcher.Seen());
    const QColor darkRed(139, 0, 0), lime(0, 255, 0), blue(0, 0, 255);
    EXPECT_EQ(e.chart->view.minorGridColour, darkRed);
    EXPECT_EQ(e.chart->view.majorGridColour, darkRed);
    EXPECT_EQ(e.s2.markerColour, lime);
    EXPECT_EQ(e.s3.markerColour, lime);
    EXPECT_EQ(e.s1.markerColour, QColor(100, 0, 1));  // unchanged pickers give back what they showed
    EXPECT_EQ(e.chart->view.xAxisColour, QColor(10, 20, 30));
    EXPECT_EQ(e.chart->view.yAxisColour, QColor(10, 20, 30));
    EXPECT_EQ(e.TableColour(0, 1), blue);
    EXPECT_EQ(e.TableColour(19, 1), blue);
    EXPECT_EQ(e.TableColour(5, 0), QColor(50, 50, 50));

    // The chart draws both grids in the new colour, so it shows a good deal of it.
    const QImage drawn = e.chart->RenderNow();
    EXPECT_GT(PixelsOf(drawn, darkRed), drawn.width());
    EXPECT_EQ(PixelsOf(drawn, QColor(1, 2, 3)) + PixelsOf(drawn, QColor(4, 5, 6)), 0);
}

TEST(ColourDialog, CurrentColoursOfAChartWithFewSeries)
{
    Experiment e;
    e.chart->SetSeriesList({&e.s0, &e.s1});
    const ColourSettings c = CurrentColours(*e.chart, *e.table);
    EXPECT_EQ(c.trajectoryMarker, QColor(100, 0, 1));
    EXPECT_EQ(c.componentMarker, ColourSettings{}.componentMarker);
    ColourSettings chosen;
    chosen.componentMarker = QColor(5, 5, 5);
    ApplyColours(chosen, *e.chart, *e.table);  // no series 2 or 3 to colour: nothing else is touched
    EXPECT_EQ(e.s2.markerColour, QColor(0, 100, 1));
    EXPECT_EQ(e.s1.markerColour, QColor(255, 0, 0));
}

TEST(ColourDialog, TemplateLayoutAndLook)
{
    CDlgClrSetting dialog;
    dialog.colours.background = QColor(12, 200, 40);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), "颜色设置");
    const DialogBaseUnits units = BaseUnitsFor(CDlgClrSetting::DialogFont());
    EXPECT_EQ(dialog.size(), MapDialogRect(QRect(0, 0, 250, 161), units).size());

    QStringList captions;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        captions << label->text();
    captions.sort();
    QStringList expected{"坐标轴颜色：", "坐标线颜色：", "背景颜色：", "平抛轨迹小球颜色：", "分量轨迹小球颜色：",
                         "表格X列颜色：", "表格Y列颜色："};
    expected.sort();
    EXPECT_EQ(captions, expected);

    CustomColours white;
    white.fill(kWhite);
    const struct { int id, x, y; } pickers[] = {{1002, 62, 17}, {1003, 62, 44}, {1004, 62, 72}, {1005, 189, 17},
                                               {1006, 189, 44}, {1007, 62, 100}, {1008, 189, 100}};
    for (const auto& p : pickers) {
        CXColorPickerXP* picker = dialog.Picker(p.id);
        ASSERT_NE(picker, nullptr) << p.id;
        const QRect at = MapDialogRect(QRect(p.x, p.y, 43, 30), units);
        EXPECT_EQ(picker->geometry().topLeft(), at.topLeft()) << p.id;
        EXPECT_EQ(picker->width(), at.width()) << p.id;
        EXPECT_EQ(picker->GetCustomColors(), white) << p.id;
    }
    const struct { int id; const char* caption; int x; } buttons[] = {{242, "重置", 72}, {1, "确定", 126}, {2, "取消", 179}};
    for (const auto& b : buttons) {
        auto* button = FindControl<CPictureButton>(&dialog, b.id);
        ASSERT_NE(button, nullptr) << b.id;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption));
        EXPECT_EQ(button->geometry(), MapDialogRect(QRect(b.x, 131, 50, 23), units));
        EXPECT_EQ(button->FaceColor(), QColor(242, 241, 248));
        EXPECT_EQ(button->isDefault(), b.id == 1);
    }

    // The picker shows its colour as a swatch; the face colour stays while a button is held down.
    auto* ok = FindControl<CPictureButton>(&dialog, 1);
    ok->setDown(true);
    const QImage image = dialog.grab().toImage();
    ok->setDown(false);
    const QRect picker = dialog.Picker(1004)->geometry();
    const QImage swatch = image.copy(picker.x() + 8, picker.center().y() - 2, picker.width() / 3, 5);
    EXPECT_EQ(PixelsOf(swatch, QColor(12, 200, 40)), swatch.width() * swatch.height());
    const QRect okRect = ok->geometry().adjusted(3, 3, -3, -3);
    EXPECT_GT(PixelsOf(image.copy(okRect), QColor(242, 241, 248)), okRect.width() * okRect.height() / 2);

    if (const QByteArray dir = qgetenv("ZELKOR_SHOTS_DIR"); !dir.isEmpty()) {
        image.save(QString::fromLocal8Bit(dir) + "/colour_dialog.png");
        dialog.Picker(1004)->OpenPalette();
        dialog.Picker(1004)->Palette()->grab().save(QString::fromLocal8Bit(dir) + "/colour_palette.png");
        dialog.Picker(1004)->Palette()->close();
    }
}

// ---------------------------------------------------------------------------------------------
// The picker and its palette

struct PickerWindow {
    QWidget window;
    CXColorPickerXP* picker = new CXColorPickerXP(&window);
    int changes = 0;
    PickerWindow()
    {
        window.resize(200, 100);
        picker->setGeometry(10, 10, 80, picker->sizeHint().height());
        QObject::connect(picker, &CXColorPickerXP::colourChanged, [this] { ++changes; });
        window.show();
    }
    Popup* Open()
    {
        QTest::mouseClick(picker, Qt::LeftButton);
        return picker->Palette();
    }
};

TEST(ColourPalette, CellsNamesAndTheColoursOfTheScheme)
{
    PickerWindow w;
    QPalette scheme = w.picker->palette();
    scheme.setColor(QPalette::Active, QPalette::Base, QColor(1, 2, 3));
    scheme.setColor(QPalette::Active, QPalette::ToolTipBase, QColor(4, 5, 6));
    scheme.setColor(QPalette::Active, QPalette::Button, QColor(7, 8, 9));
    w.picker->setPalette(scheme);
    Popup* p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->size(), QSize(8 * 18 + 4, 13 * 18 + 4));
    // Below the picker (the offscreen platform shifts new windows by its 2-pixel frame).
    const QPoint below = w.picker->mapToGlobal(QPoint(0, w.picker->height()));
    EXPECT_LE((p->pos() - below).manhattanLength(), 4) << p->x() << "," << p->y();

    EXPECT_EQ(p->CellName(0), "Light Maroon");
    EXPECT_EQ(p->CellName(55), "White");
    EXPECT_EQ(p->CellColour(54), QColor(255, 251, 240));  // "Floral White", the default background
    EXPECT_EQ(p->CellName(56), "Window");
    EXPECT_EQ(p->CellColour(56), QColor(1, 2, 3));
    EXPECT_EQ(p->CellName(58), "InfoBk");
    EXPECT_EQ(p->CellColour(58), QColor(4, 5, 6));
    EXPECT_EQ(p->CellName(64), "BtnFace");
    EXPECT_EQ(p->CellColour(64), QColor(7, 8, 9));
    EXPECT_EQ(p->CellName(71), "Desktop");
    EXPECT_EQ(p->CellName(Popup::kCustomButton), "Selects a custom color");
    EXPECT_EQ(p->CellName(88), "Custom color 1");
    EXPECT_EQ(p->CellName(103), "Custom color 16");
    EXPECT_EQ(p->CellColour(103), kWhite);
    EXPECT_EQ(p->CellName(75), "");

    // Points to cells: any point of the button row is the button, the separator nothing.
    EXPECT_EQ(p->CellAt(p->CellRect(37).center()), 37);
    EXPECT_EQ(p->CellAt(QPoint(2 + 7 * 18 + 9, 2 + 10 * 18 + 9)), Popup::kCustomButton);
    EXPECT_EQ(p->CellAt(QPoint(20, 2 + 9 * 18 + 9)), Popup::kNone);
    EXPECT_EQ(p->CellAt(QPoint(0, 0)), Popup::kNone);

    // The tooltip of a cell is its name.
    QHelpEvent help(QEvent::ToolTip, p->CellRect(20).center(), p->mapToGlobal(p->CellRect(20).center()));
    QApplication::sendEvent(p, &help);
    EXPECT_EQ(QToolTip::text(), "Olive");
    QToolTip::hideText();
    p->close();
}

TEST(ColourPalette, ArrowKeysEnterAndEscape)
{
    PickerWindow w;
    w.picker->SetColor(QColor(255, 0, 0));
    Popup* p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Highlight(), 2) << "the current colour's cell";

    // Hovering moves the highlight, not the colour.
    QTest::mouseMove(p, p->CellRect(37).center());
    EXPECT_EQ(p->Highlight(), 37);
    EXPECT_EQ(w.picker->GetColor(), QColor(255, 0, 0));

    auto key = [&p](Qt::Key k) {
        QTest::keyClick(p, k);
        return p->Highlight();
    };
    EXPECT_EQ(key(Qt::Key_Down), 45);
    EXPECT_EQ(key(Qt::Key_Down), 53);
    EXPECT_EQ(key(Qt::Key_Down), 61);  // the system rows
    EXPECT_EQ(key(Qt::Key_Down), 69);
    EXPECT_EQ(key(Qt::Key_Down), Popup::kCustomButton) << "past the separator to the button";
    EXPECT_EQ(key(Qt::Key_Up), 69) << "back to the column it came from";
    EXPECT_EQ(key(Qt::Key_Down), Popup::kCustomButton);
    EXPECT_EQ(key(Qt::Key_Down), 93);
    EXPECT_EQ(key(Qt::Key_Down), 101);
    EXPECT_EQ(key(Qt::Key_Down), 101);
    EXPECT_EQ(key(Qt::Key_Right), 102);
    EXPECT_EQ(key(Qt::Key_Right), 103);
    EXPECT_EQ(key(Qt::Key_Right), 103);
    EXPECT_EQ(key(Qt::Key_Up), 95);
    for (int i = 0; i < 7; ++i)
        key(Qt::Key_Left);
    EXPECT_EQ(p->Highlight(), 88);
    EXPECT_EQ(key(Qt::Key_Left), Popup::kCustomButton);
    EXPECT_EQ(key(Qt::Key_Left), 71);
    EXPECT_EQ(key(Qt::Key_Right), Popup::kCustomButton);
    EXPECT_EQ(w.picker->GetColor(), QColor(255, 0, 0));
    EXPECT_EQ(w.changes, 0);

    // Escape closes and keeps the colour.
    QTest::keyClick(p, Qt::Key_Escape);
    EXPECT_EQ(w.picker->Palette(), nullptr);
    EXPECT_EQ(w.picker->GetColor(), QColor(255, 0, 0));
    EXPECT_EQ(w.changes, 0);

    // Enter takes the highlighted colour.
    p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(key(Qt::Key_Up), 2) << "the top row stays";
    EXPECT_EQ(key(Qt::Key_Left), 1);
    QTest::keyClick(p, Qt::Key_Return);
    EXPECT_EQ(w.picker->Palette(), nullptr);
    EXPECT_EQ(w.picker->GetColor(), QColor(139, 0, 0));
    EXPECT_EQ(w.changes, 1);

    // A colour that is not in the palette highlights nothing; the first arrow starts at the top.
    w.picker->SetColor(QColor(1, 1, 1));
    p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Highlight(), Popup::kNone);
    QTest::keyClick(p, Qt::Key_Return);  // nothing highlighted: nothing chosen
    EXPECT_NE(w.picker->Palette(), nullptr);
    EXPECT_EQ(key(Qt::Key_Down), 0);
    p->close();  // as a click elsewhere closes it
    EXPECT_EQ(w.picker->Palette(), nullptr);
    EXPECT_EQ(w.picker->GetColor(), QColor(1, 1, 1));
}

TEST(ColourPalette, CustomColoursGoThroughTheChooserAndStayWithTheirPicker)
{
    PickerWindow w;
    CXColorPickerXP* other = new CXColorPickerXP(&w.window);
    std::vector<QColor> initials;
    std::vector<CustomColours> given;
    std::optional<QColor> answer = QColor(12, 34, 56);
    auto chooser = [&](QWidget*, const QColor& initial, CustomColours& custom) -> std::optional<QColor> {
        initials.push_back(initial);
        given.push_back(custom);
        custom[3] = QColor(1, 2, 3);
        custom[15] = QColor(9, 8, 7);
        return answer;
    };
    w.picker->SetColourChooser(chooser);
    w.picker->SetColor(QColor(0, 0, 255));

    CustomColours white;
    white.fill(kWhite);
    Popup* p = w.Open();
    ASSERT_NE(p, nullptr);
    ClickCell(p, Popup::kCustomButton);
    ASSERT_EQ(initials.size(), 1u);
    EXPECT_EQ(initials[0], QColor(0, 0, 255));
    EXPECT_EQ(given[0], white);
    EXPECT_EQ(w.picker->Palette(), nullptr);
    EXPECT_EQ(w.picker->GetColor(), QColor(12, 34, 56));
    EXPECT_EQ(w.picker->GetCustomColors()[3], QColor(1, 2, 3));
    EXPECT_EQ(w.picker->GetCustomColors()[15], QColor(9, 8, 7));
    EXPECT_EQ(other->GetCustomColors(), white);

    // The next opening shows them in rows 11 and 12, and the chooser gets them again.
    p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->CellColour(91), QColor(1, 2, 3));
    EXPECT_EQ(p->CellColour(103), QColor(9, 8, 7));
    ClickCell(p, 91);
    EXPECT_EQ(w.picker->GetColor(), QColor(1, 2, 3));

    // A cancelled chooser changes neither the colour nor the custom colours.
    answer.reset();
    CustomColours before = w.picker->GetCustomColors();
    before[0] = QColor(200, 0, 0);
    w.picker->SetCustomColors(before);
    p = w.Open();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Highlight(), 91);
    QTest::keyClick(p, Qt::Key_Up);  // the button, by the keys this time
    ASSERT_EQ(p->Highlight(), Popup::kCustomButton);
    QTest::keyClick(p, Qt::Key_Return);
    ASSERT_EQ(initials.size(), 2u);
    EXPECT_EQ(given[1], before);
    EXPECT_EQ(w.picker->GetColor(), QColor(1, 2, 3));
    EXPECT_EQ(w.picker->GetCustomColors(), before);
}

TEST(ColourPalette, TheSystemChooserLeavesTheProcessWideCustomColoursAlone)
{
    QColorDialog::setCustomColor(0, QColor(5, 6, 7));
    QColorDialog::setCustomColor(2, QColor(8, 9, 10));
    CustomColours mine;
    mine.fill(kWhite);
    mine[0] = QColor(100, 110, 120);
    QColor seenInChooser;
    ShownWatcher<QColorDialog> watcher([&](QColorDialog* d) {
        seenInChooser = QColorDialog::customColor(0);
        QColorDialog::setCustomColor(2, QColor(30, 40, 50));  // what adding a custom colour does
        d->setCurrentColor(QColor(70, 80, 90));
        d->accept();
    });
    const std::optional<QColor> chosen = RunSystemColourChooser(nullptr, QColor(1, 1, 1), mine);
    ASSERT_TRUE(watcher.Seen());
    EXPECT_EQ(seenInChooser, QColor(100, 110, 120));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, QColor(70, 80, 90));
    EXPECT_EQ(mine[2], QColor(30, 40, 50));
    EXPECT_EQ(QColorDialog::customColor(0), QColor(5, 6, 7));
    EXPECT_EQ(QColorDialog::customColor(2), QColor(8, 9, 10));
}

}  // namespace
