#pragma once
// CDlgTdMechanical: conservation of mechanical energy (index 3, "机械能守恒定律(2D)"). A ball carrying the
// transmitter swings through the lowest point of its path. The pupil zeroes there, records one pass
// (the recording ends by itself once the ball falls back on the far side), may pick a stretch of the
// path, and "计算数据" shows Ep, Ek (smoothed) and E against time as a chart and a table. The chart and the
// place of the two tables alternate between the path view and the energy view.

#include "acquisition/exp_base.h"
#include "experiments/numerics/energy_smoothing.h"
#include "widgets/chart_series.h"

#include <array>
#include <memory>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
class CDataTable;
class CEasyEdit;
class CZelFormattedTextBox;
class CZelRadioButton;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

inline constexpr int kMechanicalEnergyIndex = 3;

namespace mechanical {
inline constexpr int kIdCompute = 242;
inline constexpr int kIdZero = 243;
inline constexpr int kIdRecord = 245;
inline constexpr int kIdSelectRange = 247;
inline constexpr int kIdRateCaption = 5001;
inline constexpr int kIdMass = 5002;
inline constexpr int kIdMassBox = 5003;
inline constexpr int kIdChart = 20101;
inline constexpr int kIdPositionTable = 20102;
inline constexpr int kIdEnergyTable = 20103;
// The energy legend picture, the vertical axis title of the energy view.
inline constexpr int kEnergyLegendBitmap = 147;
// Data rows of each table; later samples are recorded and computed without a row.
inline constexpr int kTableDataRows = 99;
// The pass has ended once the ball is this far below the highest point it reached since crossing.
inline constexpr double kFallBack = 0.003;
}  // namespace mechanical

// Built by MakeExperimentWindow<CDlgTdMechanical>(parent, platform).
class CDlgTdMechanical : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    explicit CDlgTdMechanical(acquisition::CWindowKey key, QWidget* parent = nullptr,
                              std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());
    ~CDlgTdMechanical() override;

    void RefreshView() override;

    // Observation.
    const std::vector<_DataPck>& Records() const { return records_; }  // x, y and the time in `interval`
    numerics::SampleRange Range() const { return range_; }
    const widgets::CChartSeries& Series(int index) const { return series_.at(static_cast<size_t>(index)); }
    bool Recording() const { return recording_; }
    bool Passed() const { return passed_; }
    bool ZeroSet() const { return zeroSet_; }
    double ZeroX() const { return x0_; }
    double ZeroY() const { return y0_; }
    float TimeStep() const { return dt_; }
    widgets::CDataChartPanel* Chart() const { return chart_; }
    widgets::CDataTable* PositionTable() const { return positions_; }
    widgets::CDataTable* EnergyTable() const { return energies_; }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void Start();
    void Stop();
    void SetZero();
    void Record();
    void SelectRange();
    void Compute();
    void DeleteSelected();

    void TakeSample(const _DataPck& sample);
    void ResetSeries();
    void RefreshChart();
    void SetPathAxes();
    void SetEnergyAxes(double lowest, double highest, double lastTime);
    void ShowTable(bool positions);
    void WritePositionRow(std::size_t record);
    void LayoutWindow();

    widgets::CDataChartPanel* chart_ = nullptr;
    widgets::CDataTable* positions_ = nullptr;  // 20102
    widgets::CDataTable* energies_ = nullptr;   // 20103
    widgets::CZelFormattedTextBox* rateCaption_ = nullptr;
    widgets::CZelFormattedTextBox* massBox_ = nullptr;
    widgets::CEasyEdit* mass_ = nullptr;
    widgets::CZelRadioButton* radio25_ = nullptr;
    widgets::CZelRadioButton* radio50_ = nullptr;

    std::array<widgets::CChartSeries, 6> series_;
    std::vector<widgets::CChartSeries*> seriesList_;

    double x0_ = 0.0, y0_ = 0.0;
    bool zeroSet_ = false;
    double xOffset_ = 0.0, yOffset_ = 0.0;  // newest sample minus the zero point, not negated
    double x_ = 0.0, y_ = 0.0;
    double previousY_ = 0.0;
    bool recording_ = false;
    bool passed_ = false;
    bool passEnded_ = false;      // the automatic stop has run for this recording
    double highestSincePass_ = 0.0;
    double t_ = 0.0;
    float dt_ = 0.02f;
    std::vector<_DataPck> records_;
    unsigned nextRow_ = 1;        // table 1's next free row
    numerics::SampleRange range_;
};

}  // namespace zelkor::experiments
