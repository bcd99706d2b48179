// The free-fall window on the demo sensor, walked as a person walks it: clicks on the controls and on
// the "演示模式" mark, pauses of seconds between them. The sensor runs on the unpaced clock, which
// measures only the seconds the pupil waits, so that a pause of 30 s costs no time.
#include "acquisition/demo_mark.h"
#include "device/demo_scenarios.h"
#include "device/demo_sensor.h"
#include "experiments/free_fall.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/wait_until.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"
#include "widgets/data_table.h"

#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

using namespace zelkor;
using namespace zelkor::experiments;
using zelkor::testing::WaitUntil;
using widgets::FindControl;

namespace {

namespace ff = device::demo::free_fall;

constexpr int kStop = 233;
constexpr double kDropHeight = 0.8;  // the window's default

class DemoPupil {
public:
    DemoPupil() : rig(device::MakeDemoPlatformForTests(kFreeFallIndex, device::DemoPacing::Unpaced))
    {
        rig.sensor->PauseClock();
        window = acquisition::MakeExperimentWindow<CDlgTdFreelyFall>(nullptr, rig.platform);
        window->show();
        EXPECT_TRUE(WaitUntil([&] { return window->StartedUp() && rig.sensor->WaitingAtLimit(); }));
    }

    // The pupil watches for this long; returns once the window has shown all of it.
    void Wait(double seconds)
    {
        rig.sensor->RunFor(seconds);
        ASSERT_TRUE(WaitUntil([&] { return rig.sensor->WaitingAtLimit() && window->m_sampleQueue.Size() == 0; }));
        window->RefreshView();
    }
    // As a person who looks at the apparatus: until the helper holds the ball at the release point.
    void WaitUntilHeld()
    {
        for (int i = 0; i < 40 && rig.sensor->LatestMeasurement().phase != "held"; ++i)
            Wait(0.5);
        EXPECT_EQ(rig.sensor->LatestMeasurement().phase, "held");
    }

    void Click(int id) { QTest::mouseClick(FindControl<QWidget>(window.get(), id), Qt::LeftButton); }

    acquisition::CDemoMark* Mark() const { return window->findChild<acquisition::CDemoMark*>(); }
    // Clicks the mark and, in the menu it opens, the entry with this text.
    void AskHelper(const QString& text)
    {
        QTest::mouseClick(Mark(), Qt::LeftButton);
        QMenu* menu = Mark()->Menu();
        ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions())
            chosen = action->text() == text ? action : chosen;
        ASSERT_NE(chosen, nullptr) << text.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        EXPECT_FALSE(menu->isVisible());
    }

    // Starts a recording and watches until the window ends it (the ball passed the drop height).
    void RecordAFall()
    {
        Click(kIdStartRecording);
        for (int i = 0; i < 40 && window->Recording(); ++i)
            Wait(0.25);
        EXPECT_FALSE(window->Recording());
    }

    // The acceleration over the falling rows, selected in the table as a pupil would select them.
    double Acceleration()
    {
        const auto& records = window->Records();
        int first = 0;
        while (first < static_cast<int>(records.size()) && records[static_cast<size_t>(first)].y < 0.01)
            ++first;
        FindControl<widgets::CDataTable>(window.get(), kIdTable)
            ->SetSelectedRange({first + 1, 0, static_cast<int>(records.size()), 1});
        Click(kIdAcceleration);
        const QString label = window->Series(1).labelText;
        return label.startsWith(QStringLiteral("a = ")) ? label.mid(4).toDouble() : std::nan("");
    }

    device::DemoRig rig;
    std::unique_ptr<CDlgTdFreelyFall> window;
};

// A whole fall from the release point past the drop height, and g from the falling rows. Returns the
// angle (degrees) by which the falling rows lean off the Y axis.
double ExpectAFullFall(DemoPupil& pupil)
{
    const auto& records = pupil.window->Records();
    EXPECT_GT(records.size(), 40u);
    EXPECT_LT(records.size(), 100u) << "ended by the drop height, not by the table";
    if (records.size() < 40)
        return std::nan("");
    EXPECT_GT(records.back().y, kDropHeight - 0.1);
    EXPECT_LE(records.back().y, kDropHeight);
    EXPECT_NEAR(records.front().y, 0.0, 0.005) << "the ball rested at the zero point when recording began";
    const double a = pupil.Acceleration();
    EXPECT_NEAR(a, device::demo::kGravity, 0.02 * device::demo::kGravity);
    // x against y through the zero point, by least squares over the rows clearly below it.
    double xy = 0.0, yy = 0.0;
    for (const auto& r : records) {
        if (r.y > 0.05) {
            xy += r.x * r.y;
            yy += r.y * r.y;
        }
    }
    return std::atan(xy / yy) * 180.0 / M_PI;
}

// Open, read the screen for ten seconds, zero, wait, (calibrate with the helper,) record: a full fall.
// Then wait until the helper holds the ball again, and record once more.
class FreeFallDemoWalk : public ::testing::TestWithParam<std::tuple<double, bool>> {};

TEST_P(FreeFallDemoWalk, AFullFallAtAPersonsPace)
{
    const auto [pause, calibrate] = GetParam();
    DemoPupil pupil;
    pupil.Wait(10.0);
    pupil.Click(kIdZero);
    EXPECT_NEAR(pupil.window->Frame().y0, ff::kReleaseY, 0.005) << "the ball waited at the release point";
    pupil.Wait(pause);
    if (calibrate) {
        pupil.AskHelper(QStringLiteral("举到释放点正上方（竖直校准点）"));
        pupil.Wait(device::demo::kHelperCarry + pause);
        pupil.Click(kIdCalibrate);
        EXPECT_TRUE(pupil.window->Frame().rotationOn);
        // One sample at each point: about half a degree of noise.
        EXPECT_NEAR(pupil.window->Frame().theta * 180.0 / M_PI, -ff::kTiltDegrees, 1.5) << "the mount's tilt";
        pupil.WaitUntilHeld();  // the helper puts it back by itself
        pupil.Wait(pause);
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE("try " + std::to_string(attempt + 1));
        pupil.RecordAFall();
        // Square to the sensor the fall leans by the mount's tilt; calibrated it runs down the Y axis.
        const double lean = ExpectAFullFall(pupil);
        EXPECT_NEAR(std::abs(lean), calibrate ? 0.0 : ff::kTiltDegrees, 1.5);
        pupil.WaitUntilHeld();
        pupil.Wait(pause);
    }
}

INSTANTIATE_TEST_SUITE_P(Pauses, FreeFallDemoWalk,
                         ::testing::Combine(::testing::Values(0.0, 3.0, 30.0), ::testing::Bool()),
                         [](const auto& p) {
                             return "pause" + std::to_string(static_cast<int>(std::get<0>(p.param))) + "s" +
                                    (std::get<1>(p.param) ? "_calibrated" : "");
                         });

// Any order of clicks leaves the ball where the next try works: zero, record, a full fall.
struct Mess {
    const char* name;
    std::function<void(DemoPupil&)> clicks;
};

void PrintTo(const Mess& m, std::ostream* os)
{
    *os << m.name;
}

const Mess kMesses[] = {
    {"ZeroTwice", [](DemoPupil& p) {
         p.Click(kIdZero);
         p.Wait(0.3);
         p.Click(kIdZero);
     }},
    {"RecordBeforeZero", [](DemoPupil& p) { p.RecordAFall(); }},
    {"StopAtOnce", [](DemoPupil& p) {
         p.Click(kIdStartRecording);
         p.Click(kStop);
     }},
    {"ClearMidFall", [](DemoPupil& p) {
         p.Click(kIdZero);
         p.RecordAFall();  // "清屏" needs records
         p.WaitUntilHeld();
         p.Click(kIdStartRecording);
         p.Wait(device::demo::kHelperReaction + 0.2);
         p.Click(kIdClear);
     }},
    {"CalibrationAtTheReleasePoint", [](DemoPupil& p) {
         p.Click(kIdZero);
         // Level with the zero point: refused with a message, or a meaningless angle from the noise.
         zelkor::testing::ShownWatcher<QMessageBox> answer([](QMessageBox* box) { box->accept(); });
         p.Click(kIdCalibrate);
     }},
    {"HelperAskedMidFall", [](DemoPupil& p) {
         p.Click(kIdZero);
         p.Click(kIdStartRecording);
         p.Wait(device::demo::kHelperReaction + 0.2);
         p.AskHelper(QStringLiteral("放回释放点"));
         p.Wait(1.0);
         p.Click(kStop);
     }},
};

class FreeFallDemoMess : public ::testing::TestWithParam<Mess> {};

TEST_P(FreeFallDemoMess, TheNextTryWorks)
{
    DemoPupil pupil;
    pupil.Wait(3.0);
    GetParam().clicks(pupil);
    pupil.WaitUntilHeld();
    pupil.Wait(3.0);
    pupil.Click(kIdZero);
    pupil.Wait(3.0);
    pupil.RecordAFall();
    ExpectAFullFall(pupil);
}

INSTANTIATE_TEST_SUITE_P(AnyOrderOfClicks, FreeFallDemoMess, ::testing::ValuesIn(kMesses),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DemoMark, FoundWithoutAManualAndInertWithoutADemoSensor)
{
    {
        DemoPupil pupil;
        acquisition::CDemoMark* mark = pupil.Mark();
        ASSERT_NE(mark, nullptr);
        EXPECT_EQ(mark->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_TRUE(mark->toolTip().contains(QStringLiteral("演示模式")));
        // On the banner, left of the minimise button.
        EXPECT_EQ(mark->y(), 0);
        EXPECT_LE(mark->geometry().right(), FindControl<QWidget>(pupil.window.get(), 227)->x() - 10);
        QTest::mouseClick(mark, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return mark->Menu()->isVisible(); }));
        QStringList texts;
        for (QAction* action : mark->Menu()->actions())
            texts << action->text();
        EXPECT_EQ(texts, QStringList({QStringLiteral("请实验助手："), QStringLiteral("举到释放点正上方（竖直校准点）"),
                                      QStringLiteral("放回释放点")}));
        mark->Menu()->hide();
    }
    auto platform = std::make_shared<zelkor::testing::ScriptedPlatform>();
    auto windowHolder = acquisition::MakeExperimentWindow<CDlgTdFreelyFall>(nullptr, platform);
    CDlgTdFreelyFall& window = *windowHolder;
    auto* mark = window.findChild<acquisition::CDemoMark*>();
    ASSERT_NE(mark, nullptr);
    window.grab();  // painted once: it looks whether a demo sensor is there
    EXPECT_NE(mark->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(mark->toolTip().isEmpty());
    QTest::mouseClick(mark, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(mark->Menu()->isVisible());
}

// A picture of the window with the mark's menu open, for a person to look at (the "pictures" target).
TEST(DemoMarkPictures, WindowWithTheHelperMenu)
{
    const QString folder = qEnvironmentVariable("ZELKOR_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "ZELKOR_SCREENSHOT_DIR not set";
    DemoPupil pupil;
    pupil.window->setWindowState(Qt::WindowNoState);
    pupil.window->resize(1366, 768);
    pupil.Wait(3.0);
    pupil.Click(kIdZero);
    pupil.Wait(1.0);
    QTest::mouseClick(pupil.Mark(), Qt::LeftButton);
    QMenu* menu = pupil.Mark()->Menu();
    ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
    QImage image = pupil.window->grab().toImage();
    QPainter painter(&image);
    // Where the menu opens on a screen as large as the window (the offscreen screen is smaller and
    // pushes the menu to the left).
    painter.drawPixmap(pupil.Mark()->mapTo(pupil.window.get(), QPoint(0, pupil.Mark()->height())), menu->grab());
    painter.end();
    EXPECT_TRUE(image.save(folder + QStringLiteral("/free_fall_demo_menu.png")));
}

}  // namespace
