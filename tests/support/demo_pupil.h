#pragma once
// A pupil at a recording window on the demo sensor, at a person's pace: the sensor runs on the
// unpaced clock with a limit, so that it measures only the seconds the pupil waits (a pause of 30 s costs
// no time), and the window sees exactly what happened in them. Clicks on the controls and on the
// "演示模式" mark's menu.

#include "acquisition/demo_mark.h"
#include "acquisition/exp_base.h"
#include "device/demo_sensor.h"
#include "experiments/recording_experiment.h"
#include "tests/support/wait_until.h"
#include "widgets/control_ids.h"

#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zelkor::testing {

template <class Window>
class DemoPupil {
public:
    explicit DemoPupil(int experimentIndex, std::uint64_t seed = device::kDemoDefaultSeed)
        : rig(device::MakeDemoPlatformForTests(experimentIndex, device::DemoPacing::Unpaced, seed))
    {
        rig.sensor->PauseClock();
        window = acquisition::MakeExperimentWindow<Window>(nullptr, rig.platform);
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
    // As a person who looks at the apparatus: until it stands in this pose (at most `patience` s).
    void WaitForPose(const std::string& phase, double patience = 20.0)
    {
        for (double waited = 0.0; waited < patience && Phase() != phase; waited += 0.5)
            Wait(0.5);
        EXPECT_EQ(Phase(), phase);
    }
    // Starts a recording and watches until the window ends it by its own rule.
    void RecordUntilTheWindowStops(double patience = 10.0)
    {
        Click(experiments::kIdStartRecording);
        for (double waited = 0.0; waited < patience && window->Recording(); waited += 0.25)
            Wait(0.25);
        EXPECT_FALSE(window->Recording()) << "the window's own rule ends the recording";
    }
    std::string Phase() const { return rig.sensor->LatestMeasurement().phase; }

    void Click(int id) { QTest::mouseClick(widgets::FindControl<QWidget>(window.get(), id), Qt::LeftButton); }

    acquisition::CDemoMark* Mark() const { return window->template findChild<acquisition::CDemoMark*>(); }
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

    device::DemoRig rig;
    std::unique_ptr<Window> window;
};

}  // namespace zelkor::testing
