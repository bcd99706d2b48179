#pragma once
// Drives an experiment window as a pupil does, with the WindowDriver of window_pupil.h (controls found
// by their ids, clicks, typed text), message boxes answered. Behind the window either
// - the demo sensor on its unpaced clock, which measures only the seconds the pupil waits (a pause of
//   30 s costs no time), with the helper asked through the "演示模式" mark; or
// - a scripted sensor that answers identify and then sends exactly the reports a test feeds.

#include "acquisition/demo_mark.h"
#include "acquisition/exp_base.h"
#include "device/demo_sensor.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/wait_until.h"
#include "tests/support/window_pupil.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"

#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>

namespace zelkor::testing {

template <class Window>
class DemoPupil : public WindowDriver<Window> {
public:
    explicit DemoPupil(int experimentIndex, std::uint64_t seed = device::kDemoDefaultSeed)
        : rig(device::MakeDemoPlatformForTests(experimentIndex, device::DemoPacing::Unpaced, seed))
    {
        rig.sensor->PauseClock();
        this->window = acquisition::MakeExperimentWindow<Window>(nullptr, rig.platform);
        this->window->show();
    }

    // The pupil watches for this long; returns once the window has shown all of it, in one refresh (a
    // stopped window shows nothing). Wait(kReport) again and again is the 10 ms timer's pace, one
    // report per refresh, for where that matters.
    void Wait(double seconds)
    {
        Window& w = *this->window;
        rig.sensor->RunFor(seconds);
        ASSERT_TRUE(WaitUntil([&] {
            return (!w.WorkerCreated() || rig.sensor->WaitingAtLimit()) &&
                   (w.m_sampleQueue.Size() == 0 || !w.RefreshRunning());
        }));
        if (w.RefreshRunning())
            w.RefreshView();
    }

    // Clicks the mark and, in the menu it opens, the entry with this text.
    void AskHelper(const QString& text)
    {
        auto* mark = this->window->template findChild<acquisition::CDemoMark*>();
        ASSERT_NE(mark, nullptr);
        QTest::mouseClick(mark, Qt::LeftButton);
        QMenu* menu = mark->Menu();
        ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions())
            chosen = action->text() == text ? action : chosen;
        ASSERT_NE(chosen, nullptr) << text.toStdString();
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
    }

    std::string Phase() const { return rig.sensor->LatestMeasurement().phase; }

    static constexpr double kReport = 0.02;
    device::DemoRig rig;
};

// The sensor answers identify with these version bytes and then sends what the test feeds.
template <class Window>
class ScriptedPupil : public WindowDriver<Window> {
public:
    explicit ScriptedPupil(std::uint8_t secondVersion = 0x11)
    {
        platform->SetDevices({ScriptedPlatform::MakeDevicePath("1&2&3")});
        platform->SetWriteHook([this, secondVersion](const std::string&, const ScriptedPlatform::Bytes& bytes) {
            if (answering && bytes.size() >= 5 && bytes[0] == 0x68 && bytes[1] == 0 && bytes[4] == 0x01)
                platform->QueueRead(IdentifyReplyBytes(0x12, secondVersion));
        });
        this->window = acquisition::MakeExperimentWindow<Window>(nullptr, platform);
        this->window->show();
    }

    // Queues these reports and returns once the window has taken them all (messages it shows meanwhile
    // are answered by whoever watches for them).
    void Feed(const std::vector<ScriptedPlatform::Bytes>& reports)
    {
        for (const ScriptedPlatform::Bytes& r : reports)
            platform->QueueRead(r);
        ASSERT_TRUE(WaitUntil([&] { return platform->WaitForBlockedRead(std::chrono::milliseconds(0)); }));
        this->window->RefreshView();
    }
    // The commands written to the sensor, in order.
    std::vector<ScriptedPlatform::Bytes> Written() const
    {
        return platform->Writes(ScriptedPlatform::PipePath(ScriptedPlatform::MakeDevicePath("1&2&3"), "PIPE01"));
    }

    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
    std::atomic<bool> answering{true};
};

// Answers every message box the window shows and remembers the texts.
struct MessageCatcher {
    QStringList texts;
    QTimer timer;
    MessageCatcher()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    texts << box->text();
                    box->accept();
                }
        });
        timer.start(5);
    }
};

}  // namespace zelkor::testing
