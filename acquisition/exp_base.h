#pragma once
// CDlgTdExpBase: the base of every experiment window. Its acquisition half owns the sensor link, the
// worker thread that keeps the sensor streaming and queues solved samples, and the 10 ms refresh timer
// that hands them to the experiment's RefreshView. Its frame half draws the banner and title and owns
// the minimise, close, "返回" and camera buttons, and builds the experiment's own buttons and radios.
//
// Threads: the worker runs AcquisitionLoop (ReadReport, Decimate) and meets the user-interface thread
// only in the two sample queues, a few atomic values and CallOnUiThread. Closing the window signals the
// stop event, releases the worker from any wait for the user-interface thread, cancels a read that is
// blocked on the link and joins the worker; no thread is ever killed.
//
// Lifetime: the worker calls virtual functions of the window, so it must end before any part of the
// window is destroyed. Windows are therefore built only by MakeExperimentWindow<W>(...), which makes a
// CStoppedFirst<W>: a final subclass whose destructor, the first one to run however the window is
// destroyed, stops the worker. Every window constructor takes a CWindowKey that only CStoppedFirst can
// make, so a window built any other way does not compile, and no window needs a destructor of its own
// for the worker.

#include "decimator.h"
#include "device/usb_if.h"
#include "sample_queue.h"
#include "stop_event.h"
#include "widgets/window_blocks.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <thread>
#include <type_traits>
#include <vector>

namespace zelkor::widgets {
class CPictureButton;
class CZelRadioButton;
}  // namespace zelkor::widgets

namespace zelkor::acquisition {

struct WorkerUiChannel;
template <class Window>
class CStoppedFirst;

// Proof that a window is being built by MakeExperimentWindow; only CStoppedFirst makes one.
class CWindowKey {
    CWindowKey() = default;
    template <class Window>
    friend class CStoppedFirst;
};

// Dialog templates of the frame: 170 for the experiments, 705 for the calibration tool (placed over
// the whole screen without being maximised).
enum class FrameTemplate { k170, k705 };

// Runs `call` on the user-interface thread and returns once it has run (true). On that thread it runs
// at once. On a window's worker thread the wait also ends when the window closes: the call is then not
// run, or no longer waited for, and the result is false, so a closing window and its worker never wait
// for each other. A call that opens a nested event loop (a message box) must hold its data by value.
bool CallOnUiThread(const std::function<void()>& call);

// The "25Hz" (229) and "50Hz" (230) radios.
struct FrequencyRadios {
    widgets::CZelRadioButton* r25 = nullptr;
    widgets::CZelRadioButton* r50 = nullptr;
};

// Control ids of the frame and of the frequency radios, shared with the experiments.
inline constexpr int kIdRadio25Hz = 229;
inline constexpr int kIdRadio50Hz = 230;
inline constexpr int kIdMinimise = 227;
inline constexpr int kIdClose = 228;
inline constexpr int kIdStart = 232;
inline constexpr int kIdStop = 233;
inline constexpr int kIdBack = 231;
inline constexpr int kIdSnapshot = 241;

// What a start command does when the link cannot be opened, by experiment index.
struct OpenFailureReaction {
    const char* message;  // nullptr: silent
    bool goOn;            // the start sequence continues (the worker keeps trying)
};
OpenFailureReaction OpenFailureReactionFor(int experimentIndex);

class CDlgTdExpBase : public QDialog {
    Q_OBJECT
public:
    using _DataPck = DataPck;

    ~CDlgTdExpBase() override;

    // The experiment's own processing of queued samples, on every tick of timer 1.
    virtual void RefreshView();
    // Reads and decodes one report into the raw queue; false when the read failed.
    virtual bool ReadReport();
    // The worker thread's body.
    virtual void AcquisitionLoop();

    // Start sequence of an experiment's start command (after its own resets). False when the start
    // stops here because the sensor could not be opened, and on a window that is closing (which gets
    // neither a message nor its timer back).
    bool StartAcquisition();
    // Stop sequence: the refresh stops; the worker identifies the sensor again and keeps queueing.
    void StopAcquisition();
    // Buttons 228 and 231, and a close request from the desktop: stop the worker and end with result 0.
    void CloseExperiment();
    // Stops timer 1 and the worker (if any), cancelling a blocked read; returns when the worker has ended.
    void StopWorker();

    bool WorkerCreated() const { return worker_.joinable(); }
    // Timer 1 runs: from the start sequence to the stop sequence.
    bool RefreshRunning() const { return refreshOn_; }
    int ExperimentIndex() const { return experimentIndex_; }
    // From the moment the window begins to close until it is shown again.
    bool Closing() const { return closing_; }

    // Acquisition state. Plain values the two threads share are atomic.
    device::CUsbIF m_link;
    std::atomic<bool> m_streaming{false};
    SampleQueue m_rawQueue;
    SampleQueue m_sampleQueue;
    std::atomic<double> m_samplingFrequency{50.0};
    std::atomic<float> m_firstVersion{0.0f};
    std::atomic<float> m_secondVersion{0.0f};
    const double m_baseline = kBaseline;
    const double m_pi = kPi;
    std::atomic<int> m_transformIndex{1};

    // Frame: places the top-right buttons for a client area of this width (also done on every resize).
    void PlaceTopRightButtons(int clientWidth);
    // Lays out the bottom button bar: `buttons` side by side from x = 20, wrapping before the snapshot
    // button, and 241 and 231 at the right end of the bottom row. A null entry leaves a gap as wide as
    // the button before it; a hidden button takes no room. Returns the top of the highest row, which
    // the label rows stand on.
    int LayoutBottomButtonBar(const std::vector<QWidget*>& buttons);
    // The frame steps every experiment runs in its initialisation: icons, captions, title; then the
    // window is maximised (template 170), or placed over its whole screen without being maximised (705).
    void InitFrame(const QString& title, FrameTemplate frameTemplate = FrameTemplate::k170);

    // Any picture button of the window by its id (the frame's and the experiment's).
    widgets::CPictureButton* Button(int id) const;
    widgets::CPictureButton* FrameButton(int id) const { return Button(id); }

    // How the camera button saves the window (the snapshot dialog); replaceable for tests.
    std::function<void(QWidget*)> takeSnapshot;

protected:
    // The experiment index chooses the reaction to a failed open at start; the link uses the process's
    // sensor platform unless another is given.
    CDlgTdExpBase(CWindowKey key, int experimentIndex, QWidget* parent = nullptr,
                  std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    // --- the experiment's controls ---------------------------------------------------------------
    // Caption font of the experiment buttons: the dialog font unless the window sets its own.
    void SetCaptionFont(const QFont& font) { captionFont_ = font; }
    const QFont& CaptionFont() const { return captionFont_; }
    // A picture button of the template size (40 x 13 dialog units) in the caption font.
    widgets::CPictureButton* AddButton(int id, const QString& caption, const QColor& face,
                                       widgets::Initially state = widgets::Initially::Enabled);
    // A frame button (232, 233, 241, 231) with the experiment's caption (empty: kept), face colour,
    // caption font and state.
    widgets::CPictureButton* StyleFrameButton(int id, const QString& caption, const QColor& face,
                                              widgets::Initially state = widgets::Initially::Enabled);
    void SetEnabled(std::initializer_list<int> ids, bool enabled);
    void SetEnabled(const std::vector<int>& ids, bool enabled);
    // The frequency radios, "50Hz" chosen. A click on one sets the sampling frequency (25.0 or 50.0),
    // then calls `chosen` with it.
    FrequencyRadios AddFrequencyRadios(std::function<void(double hz)> chosen = {});

    // Queues the start-up step of a window that starts acquiring as it opens (from the event loop, so
    // that its messages appear over the window). The step is dropped when the window has closed, or is
    // closing, by the time it would run.
    void QueueStartUp(std::function<void()> startUp);

    // --- for a window with an acquisition loop of its own ------------------------------------------
    // Waits up to `timeout` on the stop event; true when it was signalled: the loop must return.
    bool WaitForStop(std::chrono::milliseconds timeout);
    // How the last pass of a worker loop read, so that the stop check of the next waits no longer
    // than it must.
    struct PassPacing {
        bool delivered = false;  // the read returned a transfer
        bool waited = false;     // and waited a millisecond or more for it
    };
    // The stop check that begins each pass; true when the loop must return. A read that waited for
    // its report has let the refresh run meanwhile, so the pass after it only looks at the stop event.
    // One that found a report ready (the unpaced demo) still waits, if only for no time, so that the
    // worker does not outrun the refresh; every other pass waits the millisecond.
    bool StopBeforePass(PassPacing& last);
    // ReadReport, noting in `pacing` how it went.
    bool PacedReadReport(PassPacing& pacing);
    // Opens the link; when that fails, waits a while on the stop event. False when the stop event came.
    bool OpenLinkOrWait();
    enum class Identification { Streaming, StartNotWritten, NotIdentified };
    // Identifies the sensor; on success copies its version numbers and sends the start command, and
    // sets the streaming flag once that is written.
    Identification IdentifyAndStart();
    // On the worker thread: shows a message box on the user-interface thread and waits until it is
    // dismissed (true). When the window closes meanwhile the box goes and the wait ends (false). On the
    // user-interface thread it simply shows the box.
    bool ShowMessageFromWorker(const QString& text);

    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Dialog ends (accept, reject, done) go through the close sequence, so no worker outlives the run.
    void done(int result) override;

    // Thins the raw queue into the sample queue; the worker runs it after every report read.
    void Decimate();
    // RefreshView's loop: every queued sample in arrival order to `take`, each taken out of the queue
    // first. True when there was any.
    bool TakeQueuedSamples(const std::function<void(const _DataPck&)>& take);

private:
    void WorkerMain(std::shared_ptr<WorkerUiChannel> channel);
    // A tick of timer 1.
    void Tick();
    // A sample was queued while timer 1 rested.
    void WakeRefresh();
    void StopRefresh();

    const int experimentIndex_;
    Decimator decimator_;
    AutoResetEvent stopEvent_;
    std::shared_ptr<WorkerUiChannel> channel_;
    std::thread worker_;
    // Timer 1 ticks every 10 ms while samples come. A tick that leaves the sample queue empty lets the
    // timer rest (nothing is read and nothing repaints until a sample is queued), and the next push
    // wakes it, at once or 10 ms after the previous tick, whichever is later. So an idle window, or one
    // with no sensor, costs no wake-ups, and a 50 Hz stream one per sample.
    QTimer timer1_;
    bool refreshOn_ = false;                  // timer 1 runs, resting or not
    std::atomic<bool> refreshResting_{false}; // the next push wakes the refresh (set on this thread only)
    QElapsedTimer sinceTick_;
    bool lastReadDelivered_ = false;          // worker only: the last ReadReport returned a transfer
    bool closing_ = false;
    QFont captionFont_;

    QPixmap banner_;
    widgets::CPictureButton* minimise_ = nullptr;
    widgets::CPictureButton* close_ = nullptr;
    widgets::CPictureButton* back_ = nullptr;
    widgets::CPictureButton* snapshot_ = nullptr;
    widgets::CPictureButton* start_ = nullptr;
    widgets::CPictureButton* stop_ = nullptr;
};

// The most-derived class of every experiment window: its destructor runs before any other of the
// window's, and stops the worker while every part of the window still exists.
template <class Window>
class CStoppedFirst final : public Window {
public:
    template <class... Args>
    explicit CStoppedFirst(Args&&... args) : Window(CWindowKey{}, std::forward<Args>(args)...)
    {
    }
    ~CStoppedFirst() override { this->StopWorker(); }
};

// Builds an experiment window: MakeExperimentWindow<CDlgTdFreelyFall>(parent, platform).
template <class Window, class... Args>
std::unique_ptr<Window> MakeExperimentWindow(Args&&... args)
{
    static_assert(std::is_base_of_v<CDlgTdExpBase, Window>, "experiment windows derive from CDlgTdExpBase");
    return std::make_unique<CStoppedFirst<Window>>(std::forward<Args>(args)...);
}

}  // namespace zelkor::acquisition
