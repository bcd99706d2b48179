#pragma once
// CDlgTdExpBase: the base of every experiment window. Its acquisition half owns the sensor link, the
// worker thread that keeps the sensor streaming and queues solved samples, and the 10 ms refresh timer
// that hands them to the experiment's RefreshView. Its frame half draws the banner and title and owns
// the minimise, close, "返回" and camera buttons.
//
// Threads: the worker runs AcquisitionLoop (ReadReport, Decimate) and meets the user-interface thread
// only in the two sample queues and a few atomic values. Closing the window signals the stop event,
// cancels a read that is blocked on the link and joins the worker; no thread is ever killed.
// A subclass that overrides AcquisitionLoop must call StopWorker() in its own destructor, because the
// worker may run its override until then.

#include "decimator.h"
#include "device/usb_if.h"
#include "sample_queue.h"
#include "stop_event.h"

#include <QDialog>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <functional>
#include <thread>

namespace zelkor::widgets {
class CPictureButton;
}

namespace zelkor::acquisition {

// Control ids of the frame, shared with the experiments.
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

    // The experiment index chooses the reaction to a failed open at start; the link uses the process's
    // sensor platform unless another is given.
    explicit CDlgTdExpBase(int experimentIndex, QWidget* parent = nullptr,
                           std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());
    ~CDlgTdExpBase() override;

    // The experiment's own processing of queued samples, on every tick of timer 1.
    virtual void RefreshView();
    // Reads and decodes one report into the raw queue; false when the read failed.
    virtual bool ReadReport();
    // The worker thread's body.
    virtual void AcquisitionLoop();

    // Start sequence of an experiment's start command (after its own resets). False when the start
    // stops here because the sensor could not be opened.
    bool StartAcquisition();
    // Stop sequence: the refresh stops; the worker identifies the sensor again and keeps queueing.
    void StopAcquisition();
    // Buttons 228 and 231, and a close request from the desktop: stop the worker and end with result 0.
    void CloseExperiment();
    // Stops timer 1 and the worker (if any), cancelling a blocked read; returns when the worker has ended.
    void StopWorker();

    bool WorkerCreated() const { return worker_.joinable(); }
    bool RefreshRunning() const { return timer1_.isActive(); }
    int ExperimentIndex() const { return experimentIndex_; }

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
    // button, and 241 and 231 at the right end of the bottom row.
    void LayoutBottomButtonBar(const std::vector<QWidget*>& buttons);
    // The frame steps every experiment runs in its initialisation: icons, captions, title, maximised.
    void InitFrame(const QString& title);

    widgets::CPictureButton* FrameButton(int id) const;

    // How the camera button saves the window (the snapshot dialog); replaceable for tests.
    std::function<void(QWidget*)> takeSnapshot;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Dialog ends (accept, reject, done) go through the close sequence, so no worker outlives the run.
    void done(int result) override;

    // Thins the raw queue into the sample queue; the worker runs it after every report read.
    void Decimate();

private:
    void WorkerMain();

    const int experimentIndex_;
    Decimator decimator_;
    AutoResetEvent stopEvent_;
    std::atomic<bool> workerFinished_{false};
    std::thread worker_;
    QTimer timer1_;

    QPixmap banner_;
    widgets::CPictureButton* minimise_ = nullptr;
    widgets::CPictureButton* close_ = nullptr;
    widgets::CPictureButton* back_ = nullptr;
    widgets::CPictureButton* snapshot_ = nullptr;
    widgets::CPictureButton* start_ = nullptr;
    widgets::CPictureButton* stop_ = nullptr;
};

}  // namespace zelkor::acquisition
