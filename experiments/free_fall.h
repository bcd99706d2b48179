#pragma once
// CDlgTdFreelyFall: the free-fall experiment (index 9, "自由落体"). A ball carrying the transmitter falls
// from rest below the sensor; the pupil zeroes at the release point, records the fall until the ball
// passes the drop height, and computes the acceleration from the vertical positions.

#include "recording_experiment.h"

namespace zelkor::experiments {

inline constexpr int kFreeFallIndex = 9;

// Built by MakeExperimentWindow<CDlgTdFreelyFall>(parent, platform).
class CDlgTdFreelyFall : public CRecordingExperiment {
    Q_OBJECT
public:
    explicit CDlgTdFreelyFall(CWindowKey key, QWidget* parent = nullptr,
                              std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    double DropHeight() const { return dropHeight_; }
    double TimeStep() const { return timeStep_; }
    double RunningTime() const { return time_; }
    bool StartedUp() const { return startedUp_; }

    void RefreshView() override;

protected:
    void OnSample() override;
    std::vector<int> DataButtons() const override;
    bool AcceptsImportedRow(const Record& record) const override;
    void DropHeightChanged() override;

    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    // Start-up step, once the window is on the screen: the height check, the reset, the chart view and
    // the start sequence.
    void StartUp();
    void Reset();
    void SetChartView();
    void LayoutWindow();

    void StartRecording();
    void StopRecording();
    void VerticalCalibration();
    void Acceleration();
    void Clear();
    void ApplyStoppedButtons();

    double dropHeight_ = 0.8;
    bool startUpQueued_ = false;
    bool startedUp_ = false;
};

}  // namespace zelkor::experiments
