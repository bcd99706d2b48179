#pragma once
// A pupil at a recording window (free fall, projectile, incline): the window built on a scripted sensor
// behind the real acquisition engine, controls found by their ids, clicks, typed heights, and reports
// fed for positions relative to where the pupil zeroes. Also the desk the files go to and a catcher for
// message boxes.

#include "device/demo_scenarios.h"
#include "experiments/recording_experiment.h"
#include "output/spreadsheet_io.h"
#include "output/workbook.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/slider_handle.h"
#include "tests/support/wait_until.h"
#include "tests/support/when_shown.h"
#include "widgets/control_ids.h"
#include "widgets/data_table.h"
#include "widgets/release_slider.h"
#include "widgets/text_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace zelkor::testing {

struct Pos {
    double x = 0.0, y = 0.0;
};

// A report of the sensor for a transmitter at p, given in the frame the window solves into.
inline ScriptedPlatform::Bytes ReportAt(int transformIndex, Pos p, float intervalUs)
{
    const device::DemoFrame frame = transformIndex == 2   ? device::DemoFrame::Sensor
                                    : transformIndex == 0 ? device::DemoFrame::Distances
                                                          : device::DemoFrame::Turned;
    const device::DemoPoint s = device::ToSensorFrame(frame, {p.x, p.y});
    return ReportBytes(static_cast<float>(device::LeftDistance(s) * 1000.0),
                       static_cast<float>(device::RightDistance(s) * 1000.0), 20.0f, intervalUs);
}

// "a = 9.800" -> 9.8; NaN for anything else.
inline double LabelValue(const QString& label)
{
    if (!label.startsWith(QStringLiteral("a = ")))
        return std::nan("");
    return label.mid(4).toDouble();
}

// The pupil drags the slider to `value` and lets go of it there.
inline void ReleaseSliderAt(widgets::CReleaseSlider* slider, int value)
{
    slider->setValue(value);
    const QPoint handle = SliderHandleCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, handle);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, handle);
}

// Answers the next message box and remembers its text.
struct MessageCatcher {
    QString text;
    ShownWatcher<QMessageBox> watcher{[this](QMessageBox* box) {
        text = box->text();
        box->accept();
    }};
};

// Answers every message box while it lives, and keeps their texts in order.
class MessageLog {
public:
    MessageLog()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    texts.push_back(box->text());
                    box->accept();
                }
        });
        timer_.start(10);
    }
    // The texts so far, and the log emptied.
    QStringList Take() { return std::exchange(texts, {}); }
    QStringList texts;

private:
    QTimer timer_;
};

// Export and import without a desktop: files go to a temporary program folder, the "open" action and
// the file dialog are answered here.
struct FileDesk {
    QTemporaryDir folder;
    QString opened;
    QString choose;
    FileDesk()
    {
        auto& hooks = output::SpreadsheetPlatformHooks();
        hooks.programFolder = [this] { return folder.path(); };
        hooks.documentsFolder = [this] { return folder.path(); };
        hooks.openWithDesktop = [this](const QString& path) {
            opened = path;
            return true;
        };
        hooks.chooseFile = [this](QWidget*, const QString&) { return choose; };
    }
    ~FileDesk() { output::SpreadsheetPlatformHooks() = {}; }

    QString Write(const QString& name, const std::function<void(output::Worksheet&)>& fill)
    {
        output::Workbook book = output::Workbook::CreateNew();
        fill(*book.FirstWorksheet());
        const QString path = folder.filePath(name);
        EXPECT_TRUE(book.SaveAs(path.toStdString()));
        return path;
    }
};

// A case of a window's recording rule: samples at these shown positions, the records they leave and
// whether the recording goes on.
struct RecordingCase {
    const char* what;
    std::vector<Pos> shown;
    size_t records;
    bool stillRecording;
};

template <class Window>
class Pupil {
public:
    // `at`: where the ball is held, in the window's frame (the pupil zeroes there); `height`: typed
    // into the drop-height field before the window opens; a second version 0x10 is a sensor without the
    // time field.
    explicit Pupil(Pos at, const QString& height = QStringLiteral("0.80"), std::uint8_t secondVersion = 0x11)
        : origin(at)
    {
        using namespace std::chrono_literals;
        platform->SetDevices({ScriptedPlatform::MakeDevicePath("1&2&3")});
        platform->SetWriteHook([this, v = secondVersion](const std::string&, const ScriptedPlatform::Bytes& b) {
            if (answering && b.size() >= 5 && b[4] == 0x01)
                platform->QueueRead(IdentifyReplyBytes(0x12, v));
        });
        window = experiments::MakeExperimentWindow<Window>(nullptr, platform);
        if (auto* edit = widgets::FindControl<widgets::CEasyEdit>(window.get(), experiments::kIdHeightEdit);
            edit && height != edit->text())
            edit->setText(height);
        window->show();
        EXPECT_TRUE(WaitUntil([&] { return window->StartedUp(); }));
        if (window->WorkerCreated()) {
            EXPECT_TRUE(platform->WaitForBlockedRead(3000ms));
        }
    }
    ~Pupil() { window.reset(); }

    template <typename T = QWidget>
    T* Control(int id) const
    {
        T* control = widgets::FindControl<T>(window.get(), id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }
    widgets::CEasyEdit* Edit() const { return Control<widgets::CEasyEdit>(experiments::kIdHeightEdit); }
    widgets::CDataTable* Table() const { return Control<widgets::CDataTable>(experiments::kIdTable); }
    QString Cell(int row, int col) const { return Table()->GetItemText(row, col); }
    QString Box(int id) const { return Control<widgets::CZelFormattedTextBox>(id)->text; }
    bool Enabled(int id) const { return Control(id)->isEnabled(); }
    const widgets::CChartSeries& Series(int i) const { return window->Series(i); }

    void Click(int id) { QTest::mouseClick(Control(id), Qt::LeftButton); }
    void Select(int firstRow, int lastRow) { Table()->SetSelectedRange({firstRow, 0, lastRow, 1}); }

    // Reports at these positions relative to the origin, each `intervalUs` after the previous one;
    // returns once the window has taken them all.
    void Feed(const std::vector<Pos>& shown, float intervalUs = 20000.0f)
    {
        using namespace std::chrono_literals;
        for (const Pos& p : shown)
            platform->QueueRead(ReportAt(window->m_transformIndex.load(), {origin.x + p.x, origin.y + p.y}, intervalUs));
        ASSERT_TRUE(platform->WaitForBlockedRead(3000ms));
        window->RefreshView();
    }
    // The ball held at the origin; the pupil sets the zero point there.
    void ZeroAtOrigin()
    {
        Feed({{0.0, 0.0}});
        Click(experiments::kIdZero);
    }
    // A sample exactly at this shown position, straight into the queue the worker fills.
    void Push(double x, double y, float interval = 0.02f)
    {
        acquisition::DataPck s;
        s.x = window->Frame().x0 + x;
        s.y = window->Frame().y0 + y;
        s.interval = interval;
        window->m_sampleQueue.Push(s);
        window->RefreshView();
    }

    // Samples exactly at these positions; without a zero point set none is shifted by it.
    void PushAll(const std::vector<Pos>& shown)
    {
        for (const Pos& p : shown)
            Push(p.x, p.y);
    }
    void ExpectRecording(const RecordingCase& c)
    {
        Click(experiments::kIdStartRecording);
        PushAll(c.shown);
        EXPECT_EQ(window->Records().size(), c.records) << c.what;
        EXPECT_EQ(window->Recording(), c.stillRecording) << c.what;
    }

    Pos origin;
    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
    std::atomic<bool> answering{true};
    std::unique_ptr<Window> window;
};

}  // namespace zelkor::testing
