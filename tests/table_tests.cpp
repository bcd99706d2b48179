// Data tables (header row, markup headers, selection, row deletion, context menu, column colours) and
// picture push buttons, driven with the mouse and checked on rendered pixels.
#include "widgets/data_table.h"
#include "widgets/font_cells.h"
#include "widgets/markup_painter.h"
#include "widgets/picture_button.h"

#include <QContextMenuEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace zelkor::widgets;

namespace {

CDataTableSettings FreeFallTable()
{
    CDataTableSettings s;
    s.rows = 101;
    s.columns = 2;
    s.columnWidths = {96, 96};
    s.headers = {{QStringLiteral("\\math{X}\\text{(m)}"), QStringLiteral("X(m)")},
                 {QStringLiteral("\\math{Y}\\text{(m)}"), QStringLiteral("Y(m)")}};
    return s;
}

struct Fixture {
    QWidget window;
    CDataTable* table = new CDataTable();
    unsigned nextRow = 1;
    Fixture()
    {
        window.resize(400, 400);
        table->Create(QRect(10, 10, 200 + table->verticalScrollBar()->sizeHint().width(), 330), &window, 20102);
        table->ApplyCommonSettings(FreeFallTable());
        window.show();
    }
    void Fill(int n)
    {
        for (int i = 0; i < n; ++i, ++nextRow) {
            table->SetItemText(static_cast<int>(nextRow), 0, QString::asprintf("%.3f", 0.001 * nextRow));
            table->SetItemText(static_cast<int>(nextRow), 1, QString("y%1").arg(nextRow));
        }
    }
};

int InkIn(const QImage& image, const QRect& r, QRgb background)
{
    int ink = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ink += image.pixel(x, y) != background ? 1 : 0;
    return ink;
}

}  // namespace

TEST(DataTable, CommonSettings)
{
    Fixture f;
    CDataTable& t = *f.table;
    EXPECT_EQ(t.property("ctrlId").toInt(), 20102);
    EXPECT_EQ(t.GetRowCount(), 101);
    EXPECT_EQ(t.GetColumnCount(), 2);
    for (int row : {0, 1, 57, 100})
        EXPECT_EQ(t.GetRowHeight(row), 30) << row;
    EXPECT_EQ(t.horizontalHeader()->height(), 30);
    EXPECT_EQ(t.GetColumnWidth(1), 96);
    EXPECT_EQ(QFontMetrics(t.font()).height(), 20);
    EXPECT_TRUE(QFontInfo(t.font()).bold());
    EXPECT_EQ(QFontInfo(t.font()).family(), "Liberation Serif");
    auto* header = dynamic_cast<CGridCellFTB*>(t.GetHeaderCell(1));
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->measureText, "Y(m)");
    EXPECT_EQ(t.GetItemText(0, 1), "\\math{Y}\\text{(m)}");
    EXPECT_EQ(header->format, Qt::AlignHCenter);
    EXPECT_EQ(header->font.height, 20);
    EXPECT_EQ(header->font.weight, 700);
    EXPECT_EQ(t.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(t.GetSelectedCellRange().IsValid());
    EXPECT_EQ(t.palette().color(QPalette::Base), QColor(255, 255, 255));

    // The incline's table keeps the default header format.
    CDataTable incline;
    CDataTableSettings s = FreeFallTable();
    s.rows = 501;
    s.centreHeaders = false;
    incline.ApplyCommonSettings(s);
    EXPECT_EQ(incline.GetRowCount(), 501);
    EXPECT_EQ(incline.GetHeaderCell(0)->format, Qt::AlignHCenter | Qt::AlignVCenter);
}

TEST(DataTable, MarkupHeaderIsCentredByItsMeasureText)
{
    Fixture f;
    const QRect cell(0, 0, 96, 30);
    auto* x = dynamic_cast<CGridCellFTB*>(f.table->GetHeaderCell(0));
    ASSERT_NE(x, nullptr);
    const QFont font = FontForCellHeight("Times New Roman", 20, true);
    const int measure = QFontMetrics(font).horizontalAdvance("X(m)");
    auto layout = x->Layout(cell);
    // Text rectangle 92 wide (margin 2); the label is the measure text's width, centred.
    EXPECT_EQ(layout.labelRect.Width(), measure);
    EXPECT_EQ(layout.labelRect.left, 2 + (92 - measure) / 2);
    EXPECT_EQ(layout.runs[0].x, layout.labelRect.left);
    EXPECT_TRUE(layout.runs[0].font.italic);
    EXPECT_FALSE(layout.runs[1].font.italic);

    x->SetMeasureText(QString());
    layout = x->Layout(cell);
    EXPECT_EQ(layout.runs[0].x, 2 + 46);

    // Plain header text lands inside the measure rectangle, centred like an ordinary cell.
    x->text = "X(m)";
    x->SetMeasureText("X(m)");
    layout = x->Layout(cell);
    ASSERT_EQ(layout.runs.size(), 1u);
    EXPECT_EQ(layout.runs[0].x, layout.labelRect.left);

    QImage blank(10, 10, QImage::Format_RGB32);
    QPainter painter(&blank);
    EXPECT_FALSE(x->Draw(nullptr, 0, 0, cell, true));
    EXPECT_FALSE(x->Draw(&painter, 0, 0, QRect(), true));
    EXPECT_TRUE(x->Draw(&painter, 0, 0, QRect(0, 0, 10, 10), true));
}

TEST(DataTable, HeaderRowStaysWhenTheDataScrolls)
{
    Fixture f;
    f.Fill(100);
    QImage before = f.table->grab().toImage().convertToFormat(QImage::Format_RGB32);
    f.table->verticalScrollBar()->setValue(f.table->verticalScrollBar()->maximum());
    QApplication::processEvents();
    QImage after = f.table->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect headerRect = f.table->horizontalHeader()->geometry();
    ASSERT_EQ(headerRect.height(), 30);
    EXPECT_EQ(before.copy(headerRect), after.copy(headerRect));
    // ...while the data below it did move.
    const QRect firstRows(headerRect.left(), headerRect.bottom() + 1, headerRect.width(), 60);
    EXPECT_NE(before.copy(firstRows), after.copy(firstRows));
    // The header shows the italic X label: ink in the middle of column 0's header.
    const QRgb face = before.pixel(headerRect.left() + 3, headerRect.top() + 15);
    EXPECT_GT(InkIn(before, QRect(headerRect.left() + 25, headerRect.top() + 5, 46, 20), face), 20);
}

TEST(DataTable, ClickingTheHeaderSelectsNothingClickingCellsSelectsRows)
{
    Fixture f;
    f.Fill(10);
    QHeaderView* header = f.table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(40, 15));
    EXPECT_FALSE(f.table->GetSelectedCellRange().IsValid());

    QWidget* vp = f.table->viewport();
    const QRect row3 = f.table->visualRect(f.table->model()->index(2, 0));
    const QRect row5 = f.table->visualRect(f.table->model()->index(4, 1));
    QTest::mouseClick(vp, Qt::LeftButton, {}, row3.center());
    QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, row5.center());
    EXPECT_EQ(f.table->GetSelectedCellRange(), (CCellRange{3, 0, 5, 1}));
}

TEST(DataTable, DeletingRowsThreeToFive)
{
    Fixture f;
    f.Fill(10);
    std::vector<int> records{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::vector<int> shorter{1, 2, 3, 4};  // a series that refused points
    f.table->SetColumnTextColour(1, QColor(200, 0, 0));
    f.table->SetSelectedRange({3, 0, 5, 1});

    const RowDeletion d = f.table->DeleteSelectedRows(f.nextRow);
    EraseDeletedRecords(records, d);
    EraseDeletedRecords(shorter, d);
    EXPECT_TRUE(d.proceed);
    EXPECT_EQ(d.firstRecord, 2);
    EXPECT_EQ(d.count, 3);
    EXPECT_EQ(f.nextRow, 8u);
    EXPECT_EQ(records, (std::vector<int>{1, 2, 6, 7, 8, 9, 10}));
    EXPECT_EQ(shorter, (std::vector<int>{1, 2}));
    EXPECT_EQ(f.table->GetRowCount(), 101);
    EXPECT_EQ(f.table->GetItemText(2, 1), "y2");
    EXPECT_EQ(f.table->GetItemText(3, 1), "y6");
    EXPECT_EQ(f.table->GetItemText(7, 1), "y10");
    EXPECT_EQ(f.table->GetItemText(8, 1), "");
    for (int row = 98; row <= 100; ++row) {
        EXPECT_EQ(f.table->GetItemText(row, 0), "");
        EXPECT_EQ(f.table->GetRowHeight(row), 30);
        EXPECT_EQ(f.table->GetItemFgColour(row, 1), QColor(200, 0, 0));  // the column keeps its colour
    }
}

TEST(DataTable, DeletionLimitsAndRefusals)
{
    // Past the last filled row: only up to it.
    RowDeletion d = PlanRowDeletion({4, 0, 50, 1}, 8);
    EXPECT_EQ((std::pair{d.firstRecord, d.count}), (std::pair{3, 4}));
    // Reaching into the header row: the handler runs, no row goes.
    d = PlanRowDeletion({0, 0, 3, 1}, 8);
    EXPECT_TRUE(d.proceed);
    EXPECT_EQ(d.count, 0);
    // Only empty rows below the data: nothing is deleted and the counter does not move.
    d = PlanRowDeletion({9, 0, 12, 0}, 8);
    EXPECT_TRUE(d.proceed);
    EXPECT_EQ(d.count, 0);
    // No data, or no selection: nothing at all.
    EXPECT_FALSE(PlanRowDeletion({1, 0, 1, 0}, 1).proceed);
    EXPECT_FALSE(PlanRowDeletion({}, 8).proceed);

    Fixture f;
    f.Fill(5);
    f.table->SetSelectedRange({60, 0, 70, 0});
    const RowDeletion none = f.table->DeleteSelectedRows(f.nextRow);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(f.nextRow, 6u);
    EXPECT_EQ(f.table->GetItemText(5, 1), "y5");
    f.table->ClearSelectionAndFocus();
    EXPECT_FALSE(f.table->DeleteSelectedRows(f.nextRow).proceed);
}

TEST(DataTable, ClearingEmptiesTheDataAndResetsTheCounter)
{
    Fixture f;
    f.Fill(4);
    f.table->SetSelectedRange({1, 0, 2, 0});
    QTest::qWait(50);  // shown with its rows
    f.table->ClearData(f.nextRow);
    // What is on the screen (not a fresh rendering): the emptied cells were repainted.
    QTest::qWait(50);
    const QImage screen = f.window.screen()->grabWindow(f.window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QRect viewport(f.table->viewport()->mapTo(&f.window, QPoint(0, 0)), f.table->viewport()->size());
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 2; ++col)
            EXPECT_EQ(InkIn(screen, QRect(viewport.left() + col * 96 + 4, viewport.top() + row * 30 + 4, 86, 20), qRgb(255, 255, 255)), 0);
    EXPECT_EQ(f.nextRow, 1u);
    EXPECT_FALSE(f.table->GetSelectedCellRange().IsValid());
    for (int row = 1; row <= 4; ++row)
        EXPECT_EQ(f.table->GetItemText(row, 1), "");
    EXPECT_EQ(f.table->GetItemText(0, 0), "\\math{X}\\text{(m)}");
    unsigned absurd = 100000;
    f.table->ClearData(absurd);  // a counter past the table is bounded
    EXPECT_EQ(absurd, 1u);
}

TEST(DataTable, ContextMenuOnlyInsideTheTableWhileTheConditionHolds)
{
    Fixture f;
    bool haveRecords = false;
    f.table->contextMenuCondition = [&] { return haveRecords; };
    QSignalSpy commands(f.table, &CDataTable::commandIssued);
    QWidget* vp = f.table->viewport();
    auto rightClick = [&](QWidget* target, QPoint local) {
        QContextMenuEvent e(QContextMenuEvent::Mouse, local, target->mapToGlobal(local));
        QApplication::sendEvent(target, &e);
    };

    rightClick(vp, QPoint(30, 30));
    EXPECT_FALSE(f.table->ContextMenu()->isVisible());

    haveRecords = true;
    rightClick(&f.window, QPoint(380, 380));  // outside the table
    EXPECT_FALSE(f.table->ContextMenu()->isVisible());
    EXPECT_FALSE(f.table->ShowContextMenuAt(f.window.mapToGlobal(QPoint(380, 380))));

    rightClick(f.table->horizontalHeader()->viewport(), QPoint(20, 10));  // on the header: still the table
    EXPECT_TRUE(f.table->ContextMenu()->isVisible());
    f.table->ContextMenu()->hide();

    rightClick(vp, QPoint(30, 30));
    QMenu* menu = f.table->ContextMenu();
    ASSERT_TRUE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 1);
    QAction* action = menu->actions().front();
    EXPECT_EQ(action->text(), "删除选中数据");
    EXPECT_EQ(action->data().toInt(), kDeleteSelectedCommand);
    action->trigger();
    ASSERT_EQ(commands.size(), 1);
    EXPECT_EQ(commands[0][0].toInt(), 32774);
    menu->hide();
}

TEST(DataTable, ColumnColourReachesHeaderAndCells)
{
    Fixture f;
    f.Fill(3);
    f.table->SetColumnTextColour(1, QColor(255, 0, 0));
    EXPECT_EQ(f.table->GetItemFgColour(0, 1), QColor(255, 0, 0));
    EXPECT_EQ(f.table->GetItemFgColour(50, 1), QColor(255, 0, 0));
    EXPECT_EQ(f.table->GetItemFgColour(1, 0), QColor(0, 0, 0));
    const QImage image = f.table->grab().toImage().convertToFormat(QImage::Format_RGB32);
    auto reddest = [&](QRect r) {
        int best = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QRgb p = image.pixel(x, y);
                best = std::max(best, qRed(p) - (qGreen(p) + qBlue(p)) / 2);
            }
        return best;
    };
    const int col1 = f.table->GetColumnWidth(0);
    const QRect header = f.table->horizontalHeader()->geometry();
    EXPECT_GT(reddest(QRect(header.left() + col1, header.top(), 96, 30)), 150);
    EXPECT_LT(reddest(QRect(header.left(), header.top(), col1, 30)), 60);
    EXPECT_GT(reddest(QRect(header.left() + col1, header.bottom() + 1, 96, 30)), 150);
}

// The table draws its data cells itself; whatever it shows must be what the style's own item painting
// shows: plain numbers in both columns, a coloured column, texts too wide for their cell (elided), an
// empty cell, a selected block and the focused cell, and narrow columns of a three-column table.
TEST(DataTable, CellsLookAsTheStylePaintsThem)
{
    struct Case {
        const char* name;
        std::vector<int> widths;
        std::vector<const char*> texts;  // row by row, across the columns
        bool select = false;
    };
    const std::vector<Case> cases = {
        {"numbers", {96, 96}, {"0.000", "-0.012", "0.457", "-1.234", "12.345", "-0.000"}},
        {"wide and empty", {96, 96}, {"-123456.789", "", "X(m) 0.123 0.456", "0.1"}},
        {"selected", {96, 96}, {"0.100", "0.200", "0.300", "0.400", "0.500", "0.600"}, true},
        {"three narrow", {76, 60, 50}, {"0.00312", "-0.01234", "1.23456", "0.5", "12.34567", "-9.9"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        CDataTableSettings s = FreeFallTable();
        s.columns = static_cast<int>(c.widths.size());
        s.columnWidths = c.widths;
        s.headers.resize(c.widths.size());
        f.table->ApplyCommonSettings(s);
        f.table->SetColumnTextColour(1, QColor(255, 0, 0));
        for (size_t i = 0; i < c.texts.size(); ++i)
            f.table->SetItemText(static_cast<int>(i / c.widths.size()) + 1, static_cast<int>(i % c.widths.size()),
                                 QString::fromUtf8(c.texts[i]));
        if (c.select) {
            f.table->SetSelectedRange({1, 0, 2, 1});
            f.table->setCurrentCell(1, 1);
            f.table->setFocus();
        }
        const QImage own = f.table->grab().toImage();
        f.table->setItemDelegate(new QStyledItemDelegate(f.table));
        const QImage style = f.table->grab().toImage();
        EXPECT_TRUE(own == style);
        EXPECT_NE(InkIn(own.convertToFormat(QImage::Format_RGB32), QRect(4, 34, 80, 24), qRgb(255, 255, 255)), 0);
    }
}

TEST(DataTable, BadSizesAndAddressesAreHarmless)
{
    CDataTable t;
    t.SetRowCount(-4);
    t.SetColumnCount(-1);
    EXPECT_EQ(t.GetRowCount(), 1);
    t.SetItemText(5, 5, "x");
    EXPECT_EQ(t.GetItemText(5, 5), "");
    EXPECT_EQ(t.SwitchHeaderToMarkupCell(3), nullptr);
    unsigned next = 1;
    EXPECT_FALSE(t.DeleteSelectedRows(next).proceed);
    t.resize(0, 0);
    t.grab();
}

TEST(PictureButton, FaceColourInEveryStateCaptionAndPicture)
{
    QWidget window;
    window.resize(320, 60);
    auto* button = new CPictureButton();
    ASSERT_TRUE(button->Create(244, QStringLiteral("开始记录"), QRect(5, 10, 91, 36), &window));
    button->SetFaceColor(QColor(192, 255, 192));
    button->SetCaptionFont(FontForCellHeight("Microsoft Sans Serif", 20, 700, false, kChineseCharSet));
    button->SetTooltip(QStringLiteral("按下此按钮后"));
    auto* camera = new CPictureButton();
    camera->Create(241, QString(), QRect(110, 10, 54, 31), &window);
    camera->SetFaceColor(QColor(192, 255, 192));
    QPixmap picture(16, 16);
    picture.fill(QColor(10, 20, 200));
    camera->SetBitmap(picture);
    auto* disabled = new CPictureButton();
    disabled->Create(233, QStringLiteral("停止记录"), QRect(175, 10, 91, 36), &window);
    disabled->SetFaceColor(QColor(192, 192, 255));
    disabled->setEnabled(false);
    window.show();

    EXPECT_EQ(button->property("ctrlId").toInt(), 244);
    EXPECT_EQ(button->toolTip(), QStringLiteral("按下此按钮后"));
    EXPECT_EQ(QFontMetrics(button->font()).height(), 20);
    auto faceAt = [](CPictureButton* b) { return b->grab().toImage().pixel(4, 4); };
    EXPECT_EQ(faceAt(button), qRgb(192, 255, 192));
    button->setDown(true);
    EXPECT_EQ(faceAt(button), qRgb(192, 255, 192));
    button->setDown(false);
    EXPECT_EQ(faceAt(disabled), qRgb(192, 192, 255));
    const QImage cameraImage = camera->grab().toImage();
    EXPECT_EQ(cameraImage.pixel(27, 15), qRgb(10, 20, 200));  // the picture, centred
    picture.fill(QColor(200, 20, 10));
    camera->setIconSize(QSize(16, 16));
    camera->SetIcon(QIcon(picture));  // an icon replaces the bitmap
    EXPECT_EQ(camera->grab().toImage().pixel(27, 15), qRgb(200, 20, 10));

    // Caption ink lies inside the button and is darker than the face.
    const QImage captionImage = button->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_GT(InkIn(captionImage, QRect(8, 8, 75, 20), qRgb(192, 255, 192)), 50);

    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(disabled, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}
