// The experiment base: the worker thread streaming from a scripted or a demo sensor into a small
// experiment of the tests' own, the start, stop and close sequences, and the window frame.
#include "acquisition/exp_base.h"
#include "device/demo_sensor.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/wait_until.h"
#include "tests/support/when_shown.h"
#include "widgets/picture_button.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

using namespace zelkor;
using namespace zelkor::acquisition;
using zelkor::testing::IdentifyReplyBytes;
using zelkor::testing::ReportBytes;
using zelkor::testing::ScriptedPlatform;
using zelkor::testing::WaitUntil;
using zelkor::testing::ShownWatcher;

namespace {

using namespace std::chrono_literals;

// The smallest experiment: takes every queued sample, as the experiments' RefreshView does.
class SampleCollector : public CDlgTdExpBase {
public:
    using CDlgTdExpBase::CDlgTdExpBase;
    void RefreshView() override
    {
        while (m_sampleQueue.Size() > 0) {
            const auto sample = m_sampleQueue.Front();
            m_sampleQueue.PopFront();
            samples.push_back(*sample);
        }
    }
    void AcquisitionLoop() override
    {
        ++loopsStarted;
        CDlgTdExpBase::AcquisitionLoop();
    }
    ~SampleCollector() override { StopWorker(); }

    std::vector<DataPck> samples;
    std::atomic<int> loopsStarted{0};
};

// A scripted sensor that answers identify, and after the start command sends the reports it was given.
struct ScriptedSensor {
    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
    std::string device = ScriptedPlatform::MakeDevicePath("1&2&3");
    std::vector<ScriptedPlatform::Bytes> reports;
    std::uint8_t secondVersion = 0x11;

    ScriptedSensor()
    {
        platform->SetDevices({device});
        platform->SetWriteHook([this](const std::string&, const ScriptedPlatform::Bytes& bytes) {
            if (bytes.size() < 5)
                return;
            if (bytes[4] == 0x01)
                platform->QueueRead(IdentifyReplyBytes(0x12, secondVersion));
            else if (bytes[4] == 0x00)
                for (const auto& report : reports)
                    platform->QueueRead(report);
        });
    }
};

}  // namespace

TEST(Acquisition, ReportsAreValidatedSolvedAndDelivered)
{
    ScriptedSensor sensor;
    SampleCollector window(9, nullptr, sensor.platform);
    window.m_transformIndex = 2;
    ScriptedPlatform::Bytes cut = ReportBytes(100.0f, 50.0f, 21.0f, 20000.0f);
    cut.resize(12);  // a damaged transfer
    sensor.reports = {
        ReportBytes(100.0f, 100.0f, 21.0f, 20000.0f),     // kept
        ReportBytes(100.0f, 100.0f, 21.0f, 20000.0f, 1),  // status byte 1
        ReportBytes(200.0f, 100.0f, 21.0f, 20000.0f),     // difference above the baseline
        ReportBytes(30.0f, 30.0f, 21.0f, 20000.0f),       // sum below the baseline
        cut,
        {},                                               // an empty transfer
        ReportBytes(100.0f, 50.0f, 22.5f, 19990.0f),      // kept
        ReportBytes(200.0f, 150.0f, 22.5f, 20010.0f),     // kept
    };

    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return window.samples.size() >= 3; }));
    ASSERT_EQ(window.samples.size(), 3u);
    EXPECT_NEAR(window.samples[0].x, 0.0, 1e-9);
    EXPECT_NEAR(window.samples[0].y, 0.093860, 5e-7);
    EXPECT_FLOAT_EQ(window.samples[0].interval, 0.02f);
    EXPECT_EQ(window.samples[1].temperature, 22.5f);
    EXPECT_FLOAT_EQ(window.samples[1].interval, 0.01999f);
    EXPECT_NEAR(window.samples[2].x, 0.126812, 5e-7);
    EXPECT_NEAR(window.samples[2].y, 0.118231, 5e-7);
    EXPECT_TRUE(window.m_streaming.load());
    EXPECT_FLOAT_EQ(window.m_firstVersion.load(), 1.2f);
    EXPECT_FLOAT_EQ(window.m_secondVersion.load(), 1.1f);
}

// A sensor with 8-byte packets sending short, cut, garbage and stalled transfers between good reports:
// only the good ones give positions (all finite), and streaming goes on after the stall.
TEST(Acquisition, BadTransfersInSmallPacketsGiveNoPosition)
{
    ScriptedSensor sensor;
    sensor.platform->SetReadPacketSize(8);
    SampleCollector window(9, nullptr, sensor.platform);
    window.m_transformIndex = 2;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ScriptedPlatform::Bytes cut = ReportBytes(100.0f, 50.0f, 21.0f, 20000.0f);
    cut.resize(12);
    ScriptedPlatform::Bytes noTimeField = ReportBytes(100.0f, 50.0f, 21.0f, 20000.0f);
    noTimeField.resize(20);
    ScriptedPlatform::Bytes garbage(64);
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    sensor.reports = {
        ReportBytes(100.0f, 100.0f, 21.0f, 20000.0f),  // kept
        cut,
        noTimeField,
        garbage,
        ReportBytes(nan, 100.0f, 21.0f, 20000.0f),
        ReportBytes(inf, inf, 21.0f, 20000.0f),
        ReportBytes(-100.0f, 150.0f, 21.0f, 20000.0f),
        ReportBytes(100.0f, 50.0f, 22.5f, nan),        // kept, with the nominal interval
        ReportBytes(200.0f, 150.0f, 22.5f, 20010.0f),  // kept
    };
    sensor.platform->SetWriteHook([&](const std::string&, const ScriptedPlatform::Bytes& bytes) {
        if (bytes.size() < 5)
            return;
        if (bytes[4] == 0x01) {
            sensor.platform->QueueRead(IdentifyReplyBytes(0x12, 0x11));
        } else if (bytes[4] == 0x00) {
            for (const auto& report : sensor.reports)
                sensor.platform->QueueRead(report);
            sensor.platform->QueueReadStall();
        }
    });

    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return window.samples.size() >= 6; }));
    window.StopWorker();
    EXPECT_GE(sensor.platform->ClearedHalts(), 1);
    for (std::size_t i = 0; i < window.samples.size(); ++i) {
        const DataPck& s = window.samples[i];
        ASSERT_TRUE(std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.interval)) << "sample " << i;
        switch (i % 3) {
        case 0:
            EXPECT_NEAR(s.y, 0.093860, 5e-7) << "sample " << i;
            break;
        case 1:
            EXPECT_FLOAT_EQ(s.interval, 0.02f) << "sample " << i;
            break;
        default:
            EXPECT_NEAR(s.x, 0.126812, 5e-7) << "sample " << i;
            EXPECT_FLOAT_EQ(s.interval, 0.02001f) << "sample " << i;
        }
    }
}

TEST(Acquisition, WithVersionOnePointZeroThereIsNoTimeField)
{
    ScriptedSensor sensor;
    sensor.secondVersion = 0x10;
    sensor.reports = {ReportBytes(100.0f, 100.0f, 21.0f, 20000.0f)};
    SampleCollector window(9, nullptr, sensor.platform);
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return !window.samples.empty(); }));
    EXPECT_EQ(window.samples[0].interval, 0.0f);
}

TEST(Acquisition, StartTwiceMakesOneWorkerAndStopKeepsQueueing)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::RealTime);
    SampleCollector window(9, nullptr, rig.platform);
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return window.samples.size() >= 3; }));
    EXPECT_EQ(window.loopsStarted.load(), 1);

    window.StopAcquisition();
    EXPECT_FALSE(window.RefreshRunning());
    const std::size_t delivered = window.samples.size();
    const std::size_t queued = window.m_sampleQueue.Size();
    // The worker identifies the sensor again and goes on queueing; nothing is delivered meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return window.m_sampleQueue.Size() >= queued + 5; }));
    EXPECT_EQ(window.samples.size(), delivered);
    EXPECT_EQ(window.loopsStarted.load(), 1);
}

TEST(Acquisition, UnpluggedSensorIsFoundAgainWhenPluggedIn)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::RealTime);
    SampleCollector window(9, nullptr, rig.platform);
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return window.samples.size() >= 3; }));

    rig.sensor->Unplug();
    ASSERT_TRUE(WaitUntil([&] { return !window.m_link.IsConnected(); }));
    EXPECT_FALSE(window.m_streaming.load());
    QTest::qWait(300);  // the worker keeps looking for it
    const std::size_t before = window.samples.size();

    rig.sensor->PlugIn();
    ASSERT_TRUE(WaitUntil([&] { return window.samples.size() >= before + 3; }));
    EXPECT_TRUE(window.m_link.IsConnected());
}

TEST(Acquisition, ClosingWhileTheWorkerIsBlockedInAReadEndsItQuickly)
{
    for (bool destroyInsteadOfClose : {false, true}) {
        ScriptedSensor sensor;  // answers identify, then never sends a report
        auto window = std::make_unique<SampleCollector>(9, nullptr, sensor.platform);
        ASSERT_TRUE(window->StartAcquisition());
        ASSERT_TRUE(sensor.platform->WaitForBlockedRead(2000ms));
        ASSERT_TRUE(WaitUntil([&] { return window->m_streaming.load(); }));

        QElapsedTimer timer;
        timer.start();
        if (destroyInsteadOfClose) {
            window.reset();
        } else {
            window->show();
            window->FrameButton(kIdBack)->click();
            EXPECT_FALSE(window->isVisible());
            EXPECT_EQ(window->result(), 0);
        }
        EXPECT_LT(timer.elapsed(), 100) << (destroyInsteadOfClose ? "destroy" : "close");
        if (window) {
            EXPECT_EQ(sensor.platform->OpenFiles(), 3);  // the link goes with the window, not with the worker
        }
    }
}

TEST(Acquisition, NoSensorRetriesQuietly)
{
    auto platform = std::make_shared<ScriptedPlatform>();  // nothing attached
    SampleCollector window(2, nullptr, platform);           // circular motion: goes on silently
    ASSERT_TRUE(window.StartAcquisition());
    EXPECT_TRUE(window.WorkerCreated());
    QTest::qWait(250);
    EXPECT_FALSE(window.m_link.IsConnected());
    platform->AddDevice(ScriptedPlatform::MakeDevicePath("late"));
    ASSERT_TRUE(WaitUntil([&] { return window.m_link.IsConnected(); }, 1000ms));
}

TEST(Acquisition, OpenFailureAtStartReactsAsTheExperimentChooses)
{
    struct Case {
        int index;
        const char* message;
        bool goesOn;
    };
    const Case cases[] = {
        {0, "没有找到Zelkor设备！", true}, {9, "没有找到Zelkor设备！", true}, {12, "没有找到Zelkor设备！", true},
        {2, nullptr, true},                {5, nullptr, true},               {1, "没有找到二维设备！", false},
        {3, "找不到Zelkor设备!", false},   {4, "找不到Zelkor设备!", false},  {6, nullptr, false},
        {7, nullptr, false},               {8, nullptr, false},              {10, nullptr, false},
    };
    for (const Case& c : cases) {
        auto platform = std::make_shared<ScriptedPlatform>();
        SampleCollector window(c.index, nullptr, platform);
        QString text, title;
        ShownWatcher<QMessageBox> watcher([&](QMessageBox* box) {
            text = box->text();
            title = box->windowTitle();
            box->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(window.StartAcquisition(), c.goesOn) << c.index;
        EXPECT_EQ(watcher.Seen(), c.message != nullptr) << c.index;
        if (c.message) {
            EXPECT_EQ(text, QString::fromUtf8(c.message)) << c.index;
            EXPECT_EQ(title, QCoreApplication::applicationName());
        }
        EXPECT_EQ(window.WorkerCreated(), c.goesOn) << c.index;
        EXPECT_EQ(window.RefreshRunning(), c.goesOn) << c.index;
    }
}

TEST(Frame, EnterAndEscapeLeaveTheWindowOpen)
{
    auto platform = std::make_shared<ScriptedPlatform>();
    SampleCollector window(9, nullptr, platform);
    window.InitFrame(QStringLiteral("自由落体"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (QWidget* target : {static_cast<QWidget*>(&window), static_cast<QWidget*>(window.FrameButton(kIdBack))}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(target, key);
            EXPECT_TRUE(window.isVisible()) << key;
        }
    }
    window.FrameButton(kIdClose)->click();  // the cross closes like "返回"
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
}

TEST(Frame, TopRightButtonsFollowTheWidth)
{
    auto platform = std::make_shared<ScriptedPlatform>();
    SampleCollector window(9, nullptr, platform);
    window.InitFrame(QStringLiteral("单摆"));
    window.setWindowState(Qt::WindowNoState);
    window.resize(800, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.FrameButton(kIdClose)->geometry(), QRect(764, 10, 16, 16));
    EXPECT_EQ(window.FrameButton(kIdMinimise)->geometry(), QRect(748, 10, 16, 16));
    window.resize(1024, 700);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.FrameButton(kIdClose)->x(), 988);
}

TEST(Frame, BannerTitleAndWhiteBackground)
{
    auto platform = std::make_shared<ScriptedPlatform>();
    SampleCollector titled(9, nullptr, platform);
    titled.InitFrame(QStringLiteral("自由落体"));
    titled.setWindowState(Qt::WindowNoState);
    titled.resize(1200, 500);
    SampleCollector untitled(9, nullptr, platform);
    untitled.InitFrame(QString());
    untitled.setWindowState(Qt::WindowNoState);
    untitled.resize(1200, 500);
    const QImage withTitle = titled.grab().toImage();
    const QImage bannerOnly = untitled.grab().toImage();
    const QPixmap banner(QStringLiteral(":/bitmap/130.png"));
    ASSERT_FALSE(banner.isNull());
    ASSERT_EQ(banner.size(), QSize(970, 43));
    const QImage bannerImage = banner.toImage();

    // Without a title the strip is the banner itself; right of x = 970 it is white.
    for (int y = 0; y < 43; y += 3)
        for (int x = 0; x < 970; x += 7)
            ASSERT_EQ(bannerOnly.pixelColor(x, y), bannerImage.pixelColor(x, y)) << x << "," << y;
    for (int y = 0; y < 43; ++y)
        EXPECT_EQ(withTitle.pixelColor(975, y), QColor(Qt::white));
    EXPECT_EQ(bannerOnly.pixelColor(600, 300), QColor(Qt::white));

    // The title is drawn in its blue from x = 120, y = 10, and nowhere left of it.
    int titlePixels = 0;
    QRect inked;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 970; ++x) {
            const QColor c = withTitle.pixelColor(x, y);
            if (c != bannerImage.pixelColor(x, std::min(y, 42)) || y >= 43) {
                if (c.blue() > 150 && c.red() < 120 && c.green() < 100) {
                    ++titlePixels;
                    inked |= QRect(x, y, 1, 1);
                }
            }
        }
    EXPECT_GT(titlePixels, 100);
    EXPECT_GE(inked.left(), 120);
    EXPECT_GE(inked.top(), 10);
    EXPECT_LT(inked.left(), 140);
}

TEST(Frame, BottomButtonBarWrapsBeforeTheSnapshotButton)
{
    auto platform = std::make_shared<ScriptedPlatform>();
    SampleCollector window(4, nullptr, platform);
    window.InitFrame(QStringLiteral("单摆"));
    window.setWindowState(Qt::WindowNoState);
    window.resize(700, 600);
    std::vector<QWidget*> buttons;
    for (int i = 0; i < 12; ++i) {
        auto* b = new widgets::CPictureButton(&window);
        b->Create(242 + i, QStringLiteral("按钮"), QRect(0, 0, 80, 26), &window);
        buttons.push_back(b);
    }
    window.LayoutBottomButtonBar(buttons);
    const QWidget* back = window.FrameButton(kIdBack);
    const QWidget* snap = window.FrameButton(kIdSnapshot);
    EXPECT_EQ(back->geometry().right() + 1, 700 - 20);
    EXPECT_EQ(back->geometry().bottom() + 1, 600 - 41);
    EXPECT_EQ(snap->geometry().right() + 1, back->x());
    EXPECT_EQ(snap->geometry().bottom() + 1, 600 - 41);
    // Side by side from x = 20 without gaps; a button that would pass the snapshot's left edge wraps.
    int expectedX = 20, expectedBottom = 600 - 41;
    for (QWidget* b : buttons) {
        if (expectedX + 80 > snap->x()) {
            expectedX = 20;
            expectedBottom -= 41;
        }
        EXPECT_EQ(b->x(), expectedX);
        EXPECT_EQ(b->geometry().bottom() + 1, expectedBottom);
        expectedX += 80;
    }
    EXPECT_LT(expectedBottom, 600 - 41);  // it did wrap
}

TEST(Frame, ACloseRequestFromTheDesktopEndsLikeReturn)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::RealTime);
    SampleCollector window(9, nullptr, rig.platform);
    window.InitFrame(QStringLiteral("自由落体"));
    window.show();
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return !window.samples.empty(); }));
    EXPECT_TRUE(window.close());  // what Alt+F4 asks for
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), 0);
    EXPECT_FALSE(window.RefreshRunning());
    EXPECT_FALSE(window.m_streaming.load());
}

TEST(Frame, DemoModeIsMarkedOnTheBanner)
{
    auto countRed = [](const QImage& image) {
        int red = 0;
        for (int y = 0; y < 43; ++y)
            for (int x = 700; x < 970; ++x) {
                const QColor c = image.pixelColor(x, y);
                red += c.red() > 150 && c.green() < 80 && c.blue() < 80;
            }
        return red;
    };
    auto platform = std::make_shared<ScriptedPlatform>();
    SampleCollector window(9, nullptr, platform);
    window.InitFrame(QStringLiteral("自由落体"));
    window.setWindowState(Qt::WindowNoState);
    window.resize(1200, 500);
    EXPECT_EQ(countRed(window.grab().toImage()), 0);
    {
        auto rig = device::MakeDemoPlatformForTests(9);  // a demo sensor exists: simulated data
        EXPECT_GT(countRed(window.grab().toImage()), 50);
    }
}
