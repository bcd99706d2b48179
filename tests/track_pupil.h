#pragma once
// The windows that follow a moving object (composition of motions, the spherical and centrifugal tracks,
// robot trace), driven as a pupil drives them: controls found by their ids, clicks, a slider dragged and
// let go, typed radii. Behind the window either
// - a scripted sensor that answers identify and then sends nothing, while the test hands the window
//   exact positions at one tick (the sample queue is what the worker fills), or
// - no sensor at all, or
// - the demo sensor on its unpaced clock, which measures only the seconds the pupil waits.
#include "device/demo_sensor.h"
#include "experiments/track_experiment.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/slider_handle.h"
#include "tests/support/wait_until.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/text_boxes.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace zelkor::testing {

struct Pos {
    double x = 0.0, y = 0.0;
};

enum class Sensor { Scripted, Missing, Demo };

// Answers the next message box and remembers its text.
struct MessageCatcher {
    QString text;
    ShownWatcher<QMessageBox> watcher{[this](QMessageBox* box) {
        text = box->text();
        box->accept();
    }};
};

template <class Window>
class TrackPupil {
public:
    explicit TrackPupil(Sensor sensor = Sensor::Scripted, int demoIndex = 0) : sensor_(sensor)
    {
        std::shared_ptr<device::UsbPlatform> link = platform;
        if (sensor == Sensor::Demo) {
            rig = device::MakeDemoPlatformForTests(demoIndex, device::DemoPacing::Unpaced);
            rig->sensor->PauseClock();
            link = rig->platform;
        } else if (sensor == Sensor::Scripted) {
            platform->SetDevices({ScriptedPlatform::MakeDevicePath("1&2&3")});
            // The platform lives as long as the window's link, which may outlive the pupil.
            ScriptedPlatform* sensor = platform.get();
            platform->SetWriteHook([sensor](const std::string&, const ScriptedPlatform::Bytes& bytes) {
                if (bytes.size() >= 5 && bytes[4] == 0x01)
                    sensor->QueueRead(IdentifyReplyBytes(0x12, 0x11));
            });
        }
        holder = acquisition::MakeExperimentWindow<Window>(nullptr, link);
        holder->show();
    }

    Window& W() const { return *holder; }

    template <typename T = QWidget>
    T* Control(int id) const
    {
        T* control = widgets::FindControl<T>(holder.get(), id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    bool Enabled(int id) const { return Control(id)->isEnabled(); }
    QString Text(int id) const { return Control<widgets::CZelFormattedTextBox>(id)->text; }
    const widgets::CChartSeries& Series(int i) const { return holder->Series(i); }
    void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }

    // "开始实验", and until the worker streams (or, on the demo sensor, waits at the clock's limit).
    void Start()
    {
        Click(acquisition::kIdStart);
        if (sensor_ == Sensor::Scripted && holder->WorkerCreated()) {
            EXPECT_TRUE(platform->WaitForBlockedRead(std::chrono::milliseconds(3000)));
        }
        if (sensor_ == Sensor::Demo)
            Wait(0.0);
    }

    // Positions as the window shows them (sample minus its zero point), all at one tick.
    void Feed(const std::vector<Pos>& shown)
    {
        for (const Pos& p : shown) {
            acquisition::DataPck s;
            s.x = p.x + holder->X0();
            s.y = p.y + holder->Y0();
            holder->m_sampleQueue.Push(s);
        }
        holder->RefreshView();
    }
    void Feed(Pos p) { Feed(std::vector<Pos>{p}); }

    // Drags the slider's thumb until it stands at `position`, and lets go.
    void DragSlider(int position)
    {
        widgets::CReleaseSlider* slider = holder->Slider();
        const QPoint from = SliderHandleCentre(slider);
        QTest::mousePress(slider, Qt::LeftButton, {}, from);
        const int direction = position > slider->value() ? 1 : -1;
        QPoint at = from;
        for (int i = 0; i < 400 && slider->value() != position; ++i) {
            at += QPoint(direction, 0);
            QTest::mouseMove(slider, at);
        }
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
        EXPECT_EQ(slider->value(), position);
    }

    // Demo sensor: the pupil watches for this long; returns once the window has shown all of it.
    void Wait(double seconds)
    {
        rig->sensor->RunFor(seconds);
        // A window that stopped refreshing leaves what the worker still queues unread, as it would.
        ASSERT_TRUE(WaitUntil([&] {
            return rig->sensor->WaitingAtLimit() && (holder->m_sampleQueue.Size() == 0 || !holder->RefreshRunning());
        }));
        if (holder->RefreshRunning())
            holder->RefreshView();
    }
    std::string Phase() const { return rig->sensor->LatestMeasurement().phase; }

    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
    std::optional<device::DemoRig> rig;
    std::unique_ptr<Window> holder;

private:
    Sensor sensor_;
};

}  // namespace zelkor::testing
