#pragma once
// CDlgTdComMotions: the composition of motions (index 1, "运动的合成"). While recording, every position
// is added to the trajectory, its X to a row of points along the bottom of the chart and its Y to a
// column along the left edge, so that the motion is seen composed of its two components.

#include "track_experiment.h"

namespace zelkor::widgets {
class CZelCheckBox;
}

namespace zelkor::experiments {

inline constexpr int kComMotionsIndex = 1;
inline constexpr int kIdComponentXBox = 1011;
inline constexpr int kIdComponentYBox = 1012;

// Built by MakeExperimentWindow<CDlgTdComMotions>(parent, platform).
class CDlgTdComMotions : public CTrackExperiment {
    Q_OBJECT
public:
    explicit CDlgTdComMotions(CWindowKey key, QWidget* parent = nullptr,
                              std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    // Where the component points lie: X along y = kComponentAt, Y along x = kComponentAt.
    static constexpr double kComponentAt = -0.01;

protected:
    void OnSample() override;
    void Clear() override;
    void SetChartView() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void ToggleComponent(widgets::CChartSeries& series);

    widgets::CChartSeries marker_;      // 0
    widgets::CChartSeries trajectory_;  // 1
    widgets::CChartSeries xComponent_;  // 2
    widgets::CChartSeries yComponent_;  // 3
    widgets::CZelCheckBox* xBox_ = nullptr;
    widgets::CZelCheckBox* yBox_ = nullptr;
};

}  // namespace zelkor::experiments
