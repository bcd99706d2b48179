#pragma once
// A pupil at an experiment window, header-only, for any window built by MakeExperimentWindow: controls
// found by their ids, clicks, typed text, wheels and two-click picks on a chart (WindowDriver), with either
// - a scripted sensor behind the real acquisition engine that sends exactly the reports of the positions
//   a test moves the transmitter through (WindowPupil; identify answered with the given version numbers,
//   by default 1.2 and 1.1, so reports carry their time field), or
// - the demo sensor on its unpaced clock, which runs only while the pupil waits (DemoWindowPupil), so
//   that pauses of many seconds cost no time.

#include "acquisition/exp_base.h"
#include "device/demo_sensor.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/wait_until.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/text_boxes.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

namespace zelkor::testing {

// A transmitter position in the sensor frame, metres.
struct SensorPos {
    double x = 0.0, y = 0.0;
};

inline ScriptedPlatform::Bytes ReportFrom(SensorPos p, float intervalUs = 20000.0f)
{
    constexpr double kHalfBaseline = 0.069 / 2;
    const double left = std::hypot(p.x + kHalfBaseline, p.y);
    const double right = std::hypot(p.x - kHalfBaseline, p.y);
    return ReportBytes(static_cast<float>(left * 1000.0), static_cast<float>(right * 1000.0), 20.0f, intervalUs);
}

template <class Window>
class WindowDriver {
public:
    ~WindowDriver() { window.reset(); }

    template <typename T = QWidget>
    T* Control(int id) const
    {
        T* control = widgets::FindControl<T>(window.get(), id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    bool Enabled(int id) const { return Control(id)->isEnabled(); }
    QString Text(int id) const { return Control<widgets::CZelFormattedTextBox>(id)->text; }
    widgets::CDataChartPanel* Chart(int id) const { return Control<widgets::CDataChartPanel>(id); }
    void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }
    // Replaces the text of an edit field the way a person does: select all, type.
    void Type(int id, const QString& text)
    {
        auto* edit = Control<QLineEdit>(id);
        edit->selectAll();
        edit->del();
        QTest::keyClicks(edit, text);
    }

    // The pupil clicks a chart at two data values along its pick axis (rows for horizontal marks,
    // columns for vertical ones), halfway across the other axis. A value outside the view is first
    // brought into it by dragging the scroll bar's thumb, as a pupil marking a long stretch does.
    void Pick(int chartId, double from, double to)
    {
        widgets::CDataChartPanel* chart = Chart(chartId);
        const bool horizontal = chart->pickOrientation == widgets::CDataChartPanel::kPickHorizontal;
        for (const double v : {from, to}) {
            ShowValue(*chart, horizontal, v);
            chart->RenderNow();
            const widgets::chart::PlotRect plot = chart->PlotArea();
            const widgets::chart::Mapping m = chart->CurrentMapping();
            const QPoint at = horizontal ? QPoint((plot.left + plot.right) / 2, m.Row(v))
                                         : QPoint(m.Column(v), (plot.top + plot.bottom) / 2);
            QTest::mouseMove(chart, at);
            QTest::mouseClick(chart, Qt::LeftButton, {}, at);
        }
    }

    // One notch of the wheel (away from the pupil when up) over a control of the window.
    void Wheel(int id, bool up)
    {
        QWidget* w = Control(id);
        const QPointF pos(w->width() / 2.0, w->height() / 2.0);
        QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, up ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &e);
    }

    static void ShowValue(widgets::CDataChartPanel& chart, bool alongY, double v)
    {
        const widgets::CChartView& view = chart.view;
        const double min = alongY ? view.yMin : view.xMin;
        const double span = alongY ? view.ySpan : view.xSpan;
        const double unit = alongY ? view.yScrollUnit : view.xScrollUnit;
        if (v > min + 0.05 * span && v < min + 0.95 * span)
            return;
        const int thumb = static_cast<int>(std::floor((v - span / 2) / unit));
        if (alongY)
            chart.VerticalScroll(widgets::chart::ScrollRequest::ThumbPosition, thumb);
        else
            chart.HorizontalScroll(widgets::chart::ScrollRequest::ThumbPosition, thumb);
    }

    std::unique_ptr<Window> window;

protected:
    template <class... Args>
    void Open(std::shared_ptr<device::UsbPlatform> platform, Args&&... args)
    {
        window = acquisition::MakeExperimentWindow<Window>(std::forward<Args>(args)..., nullptr, std::move(platform));
        window->show();
        QApplication::processEvents();
    }
};

template <class Window>
class WindowPupil : public WindowDriver<Window> {
public:
    struct Versions {
        std::uint8_t first = 0x12, second = 0x11;
    };

    template <class... Args>
    explicit WindowPupil(Versions versions, Args&&... args)
    {
        platform->SetDevices({ScriptedPlatform::MakeDevicePath("1&2&3")});
        platform->SetWriteHook([this, versions](const std::string&, const ScriptedPlatform::Bytes& bytes) {
            if (bytes.size() >= 5 && bytes[4] == 0x01)
                platform->QueueRead(IdentifyReplyBytes(versions.first, versions.second));
        });
        this->Open(platform, std::forward<Args>(args)...);
    }

    // Start (232), and wait until the worker reads the scripted sensor.
    void Start()
    {
        this->Click(acquisition::kIdStart);
        ASSERT_TRUE(platform->WaitForBlockedRead(std::chrono::milliseconds(3000)));
    }

    // One report per position, `intervalUs` apart; returns once the window has taken them all.
    void Feed(const std::vector<SensorPos>& positions, float intervalUs = 20000.0f)
    {
        for (const SensorPos& p : positions)
            platform->QueueRead(ReportFrom(p, intervalUs));
        ASSERT_TRUE(platform->WaitForBlockedRead(std::chrono::milliseconds(5000)));
        this->window->RefreshView();
    }

    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
};

template <class Window>
class DemoWindowPupil : public WindowDriver<Window> {
public:
    template <class... Args>
    explicit DemoWindowPupil(int experimentIndex, Args&&... args)
        : rig(device::MakeDemoPlatformForTests(experimentIndex, device::DemoPacing::Unpaced))
    {
        rig.sensor->PauseClock();
        this->Open(rig.platform, std::forward<Args>(args)...);
    }

    // Start (232): the apparatus' clock starts with the acquisition.
    void Start()
    {
        this->Click(acquisition::kIdStart);
        ASSERT_TRUE(WaitUntil([&] { return rig.sensor->WaitingAtLimit(); }));
    }
    // The pupil watches for this long; returns once the window has shown all of it (a stopped window
    // shows nothing, its refresh timer being off).
    void Wait(double seconds)
    {
        rig.sensor->RunFor(seconds);
        Window& w = *this->window;
        ASSERT_TRUE(WaitUntil([&] {
            return rig.sensor->WaitingAtLimit() && (!w.RefreshRunning() || w.m_sampleQueue.Size() == 0);
        }));
    }
    std::string Phase() const { return rig.sensor->LatestMeasurement().phase; }

    device::DemoRig rig;
};

}  // namespace zelkor::testing
