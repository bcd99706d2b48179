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

protected:
    void OnSample() override;
    void SetChartView() override;
    void Calibrate() override;
    void LayoutWindow() override;
    std::vector<int> DataButtons() const override;
    std::vector<int> ClearedButtons() const override;
    bool AcceptsImportedRow(const Record& record) const override;

private:
    void Acceleration();
};

}  // namespace zelkor::experiments
