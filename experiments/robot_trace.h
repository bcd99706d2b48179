#pragma once
// CDlgTdRobotTrace: robot trace following (index 6, "机器人轨迹跟踪"). A red marker follows the robot that
// carries the transmitter; while recording every position is added to its track, points and a line,
// without limit and without an end of its own. A lesson-long recording stays smooth: each new point is
// drawn on its own, the whole chart is repainted only when what it shows changes otherwise, and the
// memory of an hour's track is taken when the recording starts.

#include "track_experiment.h"

namespace zelkor::experiments {

inline constexpr int kRobotTraceIndex = 6;

// Built by MakeExperimentWindow<CDlgTdRobotTrace>(parent, platform).
class CDlgTdRobotTrace : public CTrackExperiment {
    Q_OBJECT
public:
    explicit CDlgTdRobotTrace(CWindowKey key, QWidget* parent = nullptr,
                              std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

protected:
    void OnSample() override;
    void ResetForStart() override;
    void AfterRecordingStarted() override;
    void Clear() override;
    void SetChartView() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void EmptySeries();

    widgets::CChartSeries marker_;  // 0
    widgets::CChartSeries points_;  // 1
    widgets::CChartSeries line_;    // 2
};

}  // namespace zelkor::experiments
