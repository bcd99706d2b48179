// The shared window blocks driven as a pupil drives them: the release-only slider with the mouse, the
// keyboard and the wheel; the list box by clicks, keys and by the program; the stacked group frames.
#include "tests/support/slider_handle.h"
#include "widgets/list_box.h"
#include "widgets/release_slider.h"
#include "widgets/window_blocks.h"
#include "tests/support/slider_handle.h"

#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace zelkor::widgets;

namespace {

// A slider as the windows set them up, on a window of its own.
struct SliderRig {
    QWidget window;
    CReleaseSlider* slider = new CReleaseSlider;
    std::vector<int> reported;

    explicit SliderRig(const SliderSetup& setup)
    {
        window.resize(300, 80);
        slider->Create(234, QRect(20, 20, 200, 40), &window);
        slider->Configure(setup);
        QObject::connect(slider, &CReleaseSlider::released, [this](int p) { reported.push_back(p); });
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QPoint Handle() const { return zelkor::testing::SliderHandleCentre(slider); }
    void Drag(int dx)
    {
        const QPoint from = Handle();
        QTest::mousePress(slider, Qt::LeftButton, {}, from);
        for (int step = 1; step <= 4; ++step)
            QTest::mouseMove(slider, from + QPoint(dx * step / 4, 0));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, from + QPoint(dx, 0));
    }
    void Wheel(int notches)
    {
        const QPointF at = slider->rect().center();
        QWheelEvent wheel(at, slider->mapToGlobal(at), {}, QPoint(0, 120 * notches), Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(slider, &wheel);
    }
};

const SliderSetup kGalileo{5, 50, 50, 5, 5, 5};  // frequency in Hz, steps and ticks of 5
const SliderSetup kComposition{1, 20, 10};        // period in 0.02 s, default steps
const SliderSetup kTrack{1, 5, 1};

}  // namespace

TEST(ReleaseSlider, KeysAndWheelMoveTheThumbButReportNothing)
{
    struct Case {
        const char* what;
        SliderSetup setup;
        std::function<void(SliderRig&)> act;
        int position;
    };
    const Case cases[] = {
        {"right at the end", kGalileo, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_Right); }, 50},
        {"left, line step 5", kGalileo, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_Left); }, 45},
        {"page down, page step 5", kGalileo, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_PageDown); }, 45},
        {"home", kGalileo, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_Home); }, 5},
        {"line step 1", kComposition, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_Right); }, 11},
        {"page a fifth of the range", kComposition,
         [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_PageUp); }, 13},
        {"page at least 1", kTrack, [](SliderRig& r) { QTest::keyClick(r.slider, Qt::Key_PageUp); }, 2},
        {"wheel", kComposition, [](SliderRig& r) { r.Wheel(-1); }, 7},
        {"set by the program", kTrack, [](SliderRig& r) { r.slider->setValue(4); }, 4},
    };
    for (const Case& c : cases) {
        SliderRig rig(c.setup);
        rig.slider->setFocus();
        c.act(rig);
        EXPECT_EQ(rig.slider->value(), c.position) << c.what;
        EXPECT_TRUE(rig.reported.empty()) << c.what;
    }
}

TEST(ReleaseSlider, TheMouseReportsOnceWhenItLetsGo)
{
    SliderRig rig(kComposition);
    // While the thumb is dragged nothing is reported; on the release the position it was left at.
    const QPoint from = rig.Handle();
    QTest::mousePress(rig.slider, Qt::LeftButton, {}, from);
    QTest::mouseMove(rig.slider, from + QPoint(60, 0));
    EXPECT_TRUE(rig.reported.empty());
    EXPECT_GT(rig.slider->value(), 10);
    QTest::mouseRelease(rig.slider, Qt::LeftButton, {}, from + QPoint(60, 0));
    ASSERT_EQ(rig.reported.size(), 1u);
    EXPECT_EQ(rig.reported[0], rig.slider->value());
    EXPECT_GT(rig.reported[0], 10);

    rig.Drag(-400);  // past the left end
    ASSERT_EQ(rig.reported.size(), 2u);
    EXPECT_EQ(rig.reported[1], 1);

    // A click in the channel moves the thumb towards it and reports where it stands on the release.
    QTest::mouseClick(rig.slider, Qt::LeftButton, {}, QPoint(rig.slider->width() - 4, rig.slider->height() / 2));
    ASSERT_EQ(rig.reported.size(), 3u);
    EXPECT_GT(rig.reported[2], 1);
    EXPECT_EQ(rig.reported[2], rig.slider->value());

    // A disabled slider takes no press and reports nothing.
    rig.slider->setEnabled(false);
    rig.Drag(100);
    EXPECT_EQ(rig.reported.size(), 3u);
}

TEST(ListBox, TellsAboutTheUsersSelectionsOnly)
{
    QWidget window;
    window.resize(300, 200);
    auto* list = new CZelListBox;
    list->Create(1008, QRect(10, 10, 150, 80), &window);
    EXPECT_EQ(list->AddString(QStringLiteral("发射头距离")), 0);
    EXPECT_EQ(list->AddString(QStringLiteral("坐标轴XY值")), 1);
    QSignalSpy changed(list, &CZelListBox::selectionChanged);
    list->SetCurSel(0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(list->GetCurSel(), 0);
    EXPECT_EQ(changed.count(), 0);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.takeFirst().at(0).toInt(), 1);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Up);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.takeFirst().at(0).toInt(), 0);

    list->SetCurSel(1);  // the program's own choice (the calibration tool's "记录数据")
    list->SetCurSel(7);  // out of range: nothing selected
    EXPECT_EQ(list->GetCurSel(), -1);
    EXPECT_EQ(changed.count(), 0);
}

TEST(GroupFrames, StackDownTheColumnOverlappingBySix)
{
    // A column at x = 1234 with three groups (the last step into each later group is 56).
    const int x = 1234;
    const std::vector<QRect> groups = {QRect(x, 100, 91, 221), QRect(x, 376, 91, 36), QRect(x, 468, 91, 73)};
    const std::vector<QRect> frames = StackedGroupFrames(groups, 1366 - 31);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0], QRect(QPoint(x - 10, 90), QPoint(1366 - 32, groups[0].bottom() + 10)));
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].left(), x - 10) << i;
        EXPECT_EQ(frames[i].right() + 1, 1366 - 31) << i;
        EXPECT_EQ(frames[i].bottom(), groups[i].bottom() + 10) << i;
        if (i > 0) {
            EXPECT_EQ(frames[i].top(), frames[i - 1].bottom() + 1 - 6) << i;
        }
    }
    EXPECT_TRUE(StackedGroupFrames({}, 100).empty());

    // A frame lies under the buttons it surrounds.
    QWidget window;
    auto* button = AddPictureButton(&window, 243, QStringLiteral("零点设置"), groups[0], {kFaceSetting, window.font()},
                                    Initially::Enabled);
    auto* frame = new CGroupFrame;
    frame->Create(-1, frames[0], &window);
    EXPECT_LT(window.children().indexOf(frame), window.children().indexOf(button));
}
