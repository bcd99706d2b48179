#pragma once
// CDlgTdAcoustics: projectile motion (index 0, "平抛运动(2D)"). A ball launched horizontally from the edge
// of a table is recorded until it passes 1 m or the drop height; a least-squares parabola goes through
// the trajectory, and a velocity view shows vx and vy against time with fitted lines and the vertical
// acceleration.

#include "recording_experiment.h"

namespace zelkor::experiments {

inline constexpr int kProjectileIndex = 0;

// Built by MakeExperimentWindow<CDlgTdAcoustics>(parent, platform).
class CDlgTdAcoustics : public CRecordingExperiment {
    Q_OBJECT
public:
    explicit CDlgTdAcoustics(CWindowKey key, QWidget* parent = nullptr,
                             std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    bool VelocityView() const { return velocityView_; }

protected:
    void OnSample() override;
    void SetChartView() override;
    void Calibrate() override;
    void LayoutWindow() override;
    std::vector<int> DataButtons() const override;
    bool AcceptsImportedRow(const Record& record) const override;
    void HideOnDelete() override;
    void HideOnImport() override;
    void AfterRowsDeleted(const widgets::RowDeletion& deletion) override;
    void OnReset() override;
    void OnClear() override;

private:
    void RebuildTimes();
    void ToggleParabola();
    void ToggleVelocityView();
    void ShowVelocities();
    // Series 6 or 8: the line k t + b across the chart's horizontal range.
    void DrawLine(widgets::CChartSeries& series, double k, double b);

    bool velocityView_ = false;
    widgets::CChartSeries parabola_;  // 4
    widgets::CChartSeries vx_;        // 5
    widgets::CChartSeries vxLine_;    // 6
    widgets::CChartSeries vy_;        // 7
    widgets::CChartSeries vyLine_;    // 8: carries the acceleration label
};

}  // namespace zelkor::experiments
