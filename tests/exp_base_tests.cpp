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
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <type_traits>
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

// Ends the run if a step hangs: a deadlock would otherwise stall every test after it.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  std::fprintf(stderr, "a step did not end within %lld s: deadlock\n",
                               static_cast<long long>(limit.count()));
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// What a test window's worker did, kept outside the window so it can be read after the window is gone.
struct WorkerTrace {
    std::atomic<long> passes{0};
    std::atomic<int> answer{-1};  // ShowMessageFromWorker: 1 true, 0 false
    std::atomic<bool> asking{false};
    std::atomic<bool> loopEnded{false};
    std::atomic<int> destroyedWithWorkerRunning{-1};
};

// A window whose worker uses members of its own on every read, and whose destructor frees them and
// then lingers: a worker still running then would read freed memory (AddressSanitizer) or a null
// pointer. No destructor of it stops the worker.
class MemberReader : public CDlgTdExpBase {
public:
    using CDlgTdExpBase::CDlgTdExpBase;
    bool ReadReport() override
    {
        history_.push_back(++*reads_);
        if (history_.size() > 64)
            history_.clear();
        ++trace->passes;
        return true;
    }
    ~MemberReader() override
    {
        trace->destroyedWithWorkerRunning = WorkerCreated() ? 1 : 0;
        reads_.reset();
        std::this_thread::sleep_for(5ms);
    }
    WorkerTrace* trace = nullptr;

private:
    std::unique_ptr<long> reads_ = std::make_unique<long>(0);
    std::vector<long> history_;
};

// A window with an acquisition loop of its own that asks for a message when told to, as the
// calibration tool does when a calibration cannot be sent.
class AskingLoop : public CDlgTdExpBase {
public:
    using CDlgTdExpBase::CDlgTdExpBase;
    void AcquisitionLoop() override
    {
        while (!WaitForStop(1ms)) {
            ++trace->passes;
            if (ask.exchange(false)) {
                trace->asking = true;
                trace->answer = ShowMessageFromWorker(QStringLiteral("校准失败!\n")) ? 1 : 0;
            }
        }
        trace->loopEnded = true;
    }
    std::atomic<bool> ask{false};
    WorkerTrace* trace = nullptr;
};

// Only the factory can build a window: without the key nothing compiles, and nobody else can make one.
static_assert(!std::is_default_constructible_v<CWindowKey>);
static_assert(!std::is_constructible_v<MemberReader, int, QWidget*, std::shared_ptr<device::UsbPlatform>>);
static_assert(!std::is_constructible_v<MemberReader, int>);

bool AMessageBoxIsOpen()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) && w->isVisible())
            return true;
    return false;
}

}  // namespace

TEST(Acquisition, ReportsAreValidatedSolvedAndDelivered)
{
    ScriptedSensor sensor;
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, sensor.platform);
    SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, sensor.platform);
    SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, sensor.platform);
    SampleCollector& window = *windowHolder;
    ASSERT_TRUE(window.StartAcquisition());
    ASSERT_TRUE(WaitUntil([&] { return !window.samples.empty(); }));
    EXPECT_EQ(window.samples[0].interval, 0.0f);
}

TEST(Acquisition, StartTwiceMakesOneWorkerAndStopKeepsQueueing)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::RealTime);
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, rig.platform);
    SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, rig.platform);
    SampleCollector& window = *windowHolder;
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
        auto window = MakeExperimentWindow<SampleCollector>(9, nullptr, sensor.platform);
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(2, nullptr, platform);           // circular motion: goes on silently
    SampleCollector& window = *windowHolder;
    ASSERT_TRUE(window.StartAcquisition());
    EXPECT_TRUE(window.WorkerCreated());
    QTest::qWait(250);
    EXPECT_FALSE(window.m_link.IsConnected());
    platform->AddDevice(ScriptedPlatform::MakeDevicePath("late"));
    ASSERT_TRUE(WaitUntil([&] { return window.m_link.IsConnected(); }, 1000ms));
}

// Timer 1 rests while nothing is queued: no refresh without a sample (so an idle window, or one without
// a sensor, wakes nobody), and every sample queued, by the worker or anyone else, is refreshed soon.
TEST(Acquisition, TheRefreshRestsWhileNothingIsQueued)
{
    class Counting : public SampleCollector {
    public:
        using SampleCollector::SampleCollector;
        void RefreshView() override
        {
            ++refreshes;
            SampleCollector::RefreshView();
        }
        int refreshes = 0;
    };
    auto platform = std::make_shared<ScriptedPlatform>();  // nothing attached
    auto windowHolder = MakeExperimentWindow<Counting>(2, nullptr, platform);
    Counting& window = *windowHolder;
    ASSERT_TRUE(window.StartAcquisition());
    QTest::qWait(300);
    EXPECT_TRUE(window.RefreshRunning());
    EXPECT_LE(window.refreshes, 1);  // the first tick, then rest (30 ticks without resting)

    DataPck s;
    for (int i = 1; i <= 3; ++i) {
        s.x = i;
        window.m_sampleQueue.Push(s);
        ASSERT_TRUE(WaitUntil([&] { return window.samples.size() == static_cast<std::size_t>(i); }, 500ms));
    }
    const int refreshes = window.refreshes;
    QTest::qWait(100);
    EXPECT_EQ(window.refreshes, refreshes);
    EXPECT_EQ(window.samples.back().x, 3.0);

    // Stopped, a sample stays queued; the next start delivers it.
    window.StopAcquisition();
    window.m_sampleQueue.Push(s);
    QTest::qWait(50);
    EXPECT_EQ(window.samples.size(), 3u);
    ASSERT_TRUE(window.StartAcquisition());
    EXPECT_TRUE(WaitUntil([&] { return window.samples.size() == 4u; }, 500ms));
}

// A tick takes what was queued when it began. A worker that queues a sample for every one shown (here
// the taking itself) must not hold the interface thread in the refresh for ever.
TEST(Acquisition, ATickTakesOnlyWhatWasQueuedWhenItBegan)
{
    class Refilling : public SampleCollector {
    public:
        using SampleCollector::SampleCollector;
        bool Take() { return TakeQueuedSamples([this](const DataPck& s) { samples.push_back(s); Refill(s); }); }
        void Refill(DataPck s)
        {
            s.x += 1;
            m_sampleQueue.Push(s);
        }
    };
    auto windowHolder = MakeExperimentWindow<Refilling>(2, nullptr, std::make_shared<ScriptedPlatform>());
    Refilling& window = *windowHolder;
    DataPck s;
    for (int i = 0; i < 3; ++i)
        window.m_sampleQueue.Push(s);
    EXPECT_TRUE(window.Take());
    EXPECT_EQ(window.samples.size(), 3u);
    EXPECT_EQ(window.m_sampleQueue.Size(), 3u) << "the refills wait for the next tick";
    EXPECT_TRUE(window.Take());
    ASSERT_EQ(window.samples.size(), 6u);
    EXPECT_EQ(window.samples.back().x, 1.0) << "in the order they were queued";
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
        auto windowHolder = MakeExperimentWindow<SampleCollector>(c.index, nullptr, platform);
        SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, platform);
    SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, platform);
    SampleCollector& window = *windowHolder;
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
    auto titledHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, platform);
    SampleCollector& titled = *titledHolder;
    titled.InitFrame(QStringLiteral("自由落体"));
    titled.setWindowState(Qt::WindowNoState);
    titled.resize(1200, 500);
    auto untitledHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, platform);
    SampleCollector& untitled = *untitledHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(4, nullptr, platform);
    SampleCollector& window = *windowHolder;
    window.InitFrame(QStringLiteral("单摆"));
    window.setWindowState(Qt::WindowNoState);
    window.resize(700, 600);
    std::vector<QWidget*> buttons;
    for (int i = 0; i < 12; ++i) {
        auto* b = new widgets::CPictureButton(&window);
        b->Create(242 + i, QStringLiteral("按钮"), QRect(0, 0, 80, 26), &window);
        buttons.push_back(b);
    }
    buttons[3]->hide();                             // takes no room
    buttons.insert(buttons.begin() + 6, nullptr);  // a gap as wide as the button before it
    const int top = window.LayoutBottomButtonBar(buttons);
    const QWidget* back = window.FrameButton(kIdBack);
    const QWidget* snap = window.FrameButton(kIdSnapshot);
    EXPECT_EQ(back->geometry().right() + 1, 700 - 20);
    EXPECT_EQ(back->geometry().bottom() + 1, 600 - 41);
    EXPECT_EQ(snap->geometry().right() + 1, back->x());
    EXPECT_EQ(snap->geometry().bottom() + 1, 600 - 41);
    // Side by side from x = 20 without gaps; a button that would pass the snapshot's left edge wraps.
    int expectedX = 20, expectedBottom = 600 - 41;
    for (QWidget* b : buttons) {
        if (b && b->isHidden())
            continue;
        if (expectedX + 80 > snap->x()) {
            expectedX = 20;
            expectedBottom -= 41;
        }
        if (b) {
            EXPECT_EQ(b->x(), expectedX);
            EXPECT_EQ(b->geometry().bottom() + 1, expectedBottom);
        }
        expectedX += 80;
    }
    EXPECT_LT(expectedBottom, 600 - 41);  // it did wrap
    EXPECT_EQ(top, expectedBottom - 26);
}

TEST(Frame, ACloseRequestFromTheDesktopEndsLikeReturn)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::RealTime);
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, rig.platform);
    SampleCollector& window = *windowHolder;
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
    auto windowHolder = MakeExperimentWindow<SampleCollector>(9, nullptr, platform);
    SampleCollector& window = *windowHolder;
    window.InitFrame(QStringLiteral("自由落体"));
    window.setWindowState(Qt::WindowNoState);
    window.resize(1200, 500);
    EXPECT_EQ(countRed(window.grab().toImage()), 0);
    {
        auto rig = device::MakeDemoPlatformForTests(9);  // a demo sensor exists: simulated data
        EXPECT_GT(countRed(window.grab().toImage()), 50);
    }
}

// --- lifetime: the worker ends before any part of the window is destroyed ----------------------------

TEST(Lifetime, TheWorkerIsStoppedBeforeAnyDestructorOfTheWindowRuns)
{
    enum class Way { Owner, Parent, DeferredDelete };
    for (Way way : {Way::Owner, Way::Parent, Way::DeferredDelete}) {
        ScriptedSensor sensor;
        WorkerTrace trace;
        auto parent = std::make_unique<QWidget>();
        auto window = MakeExperimentWindow<MemberReader>(9, way == Way::Parent ? parent.get() : nullptr, sensor.platform);
        window->trace = &trace;
        ASSERT_TRUE(window->StartAcquisition());
        ASSERT_TRUE(WaitUntil([&] { return trace.passes > 50; }));
        switch (way) {
        case Way::Owner:
            window.reset();
            break;
        case Way::Parent:
            window.release();
            parent.reset();
            break;
        case Way::DeferredDelete:
            window.release()->deleteLater();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            break;
        }
        EXPECT_EQ(trace.destroyedWithWorkerRunning.load(), 0) << static_cast<int>(way);
        const long passes = trace.passes;
        std::this_thread::sleep_for(10ms);
        EXPECT_EQ(trace.passes.load(), passes) << "the worker ran on after its window";
    }
}

// --- messages asked for by the worker ---------------------------------------------------------------

TEST(WorkerMessages, ShownOnTheUserInterfaceThreadAndClosingNeverDeadlocks)
{
    enum class Then { Dismissed, ClosedWhileOpen, DestroyedWhileOpen, ClosedBeforeShown };
    struct Case {
        Then then;
        bool shown;
        int answer;
    };
    const Case cases[] = {
        {Then::Dismissed, true, 1},
        {Then::ClosedWhileOpen, true, 0},
        {Then::DestroyedWhileOpen, true, 0},
        {Then::ClosedBeforeShown, false, 0},
    };
    for (const Case& c : cases) {
        const int n = static_cast<int>(c.then);
        Watchdog watchdog(10s);
        ScriptedSensor sensor;
        WorkerTrace trace;
        auto window = MakeExperimentWindow<AskingLoop>(12, nullptr, sensor.platform);
        window->trace = &trace;
        window->show();
        ASSERT_TRUE(window->StartAcquisition());
        ASSERT_TRUE(WaitUntil([&] { return trace.passes > 0; }));

        QString text, title;
        bool waitedWhileOpen = false;
        ShownWatcher<QMessageBox> watcher([&](QMessageBox* box) {
            text = box->text();
            title = box->windowTitle();
            // The worker waits for the pupil, however long that takes, and reads nothing meanwhile.
            const long passes = trace.passes;
            QTest::qWait(100);
            waitedWhileOpen = trace.answer == -1 && trace.passes == passes;
            if (c.then == Then::Dismissed)
                box->button(QMessageBox::Ok)->click();
            else if (c.then == Then::ClosedWhileOpen)
                window->close();  // what the desktop asks for; the box is modal to everything else
            else if (c.then == Then::DestroyedWhileOpen)
                window.reset();
        });
        window->ask = true;
        if (c.then == Then::ClosedBeforeShown) {
            // Waits without running the event loop, which could show the message first.
            for (int i = 0; i < 5000 && !trace.asking.load(); ++i)
                std::this_thread::sleep_for(1ms);
            ASSERT_TRUE(trace.asking.load());
            window->close();  // before the event loop has shown the message
        }
        ASSERT_TRUE(WaitUntil([&] { return trace.answer != -1 && !AMessageBoxIsOpen(); })) << n;
        QTest::qWait(50);  // anything still queued for the worker has run by now
        EXPECT_EQ(watcher.Seen(), c.shown) << n;
        EXPECT_FALSE(AMessageBoxIsOpen()) << n;
        EXPECT_EQ(trace.answer.load(), c.answer) << n;
        if (c.shown) {
            EXPECT_EQ(text, QStringLiteral("校准失败!\n")) << n;
            EXPECT_EQ(title, QCoreApplication::applicationName()) << n;
            EXPECT_TRUE(waitedWhileOpen) << n;
        }
        if (c.then == Then::Dismissed) {
            EXPECT_FALSE(trace.loopEnded) << "the worker goes on after the message";
            EXPECT_TRUE(window->RefreshRunning());
        } else {
            EXPECT_TRUE(trace.loopEnded) << n;
            if (window) {
                EXPECT_FALSE(window->isVisible()) << n;
                EXPECT_FALSE(window->RefreshRunning()) << n;
            }
        }
    }
}

// --- placement --------------------------------------------------------------------------------------

TEST(Frame, Template705CoversTheScreenWithoutBeingMaximised)
{
    for (FrameTemplate frameTemplate : {FrameTemplate::k170, FrameTemplate::k705}) {
        const bool fullScreen = frameTemplate == FrameTemplate::k705;
        auto platform = std::make_shared<ScriptedPlatform>();
        auto holder = MakeExperimentWindow<SampleCollector>(12, nullptr, platform);
        SampleCollector& window = *holder;
        window.InitFrame(QStringLiteral("校准测试软件(2D)"), frameTemplate);
        for (bool shown : {false, true}) {
            if (shown) {
                window.show();
                ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
            }
            EXPECT_EQ(bool(window.windowState() & Qt::WindowMaximized), !fullScreen) << shown;
            EXPECT_FALSE(window.windowState() & Qt::WindowFullScreen) << shown;
            if (fullScreen) {
                EXPECT_EQ(window.geometry(), window.screen()->geometry()) << shown;
            }
        }
        // The corner buttons follow the width either way.
        EXPECT_EQ(window.FrameButton(kIdClose)->geometry().right() + 1, window.width() - 20);
    }
}
