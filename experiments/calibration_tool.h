#pragma once
// CDlgTdCalibration: the sensor calibration tool (index 12, "校准测试软件(2D)"), a service window for the
// teacher. It shows the sensor's live readings (the two distances or the position solved from them, the
// temperature and the report period), draws the live point or records points, and sends the sensor a
// reference temperature T0 and reference distances L1 and L2.
//
// A calibration stays in the sensor after the program has closed, so nothing doubtful is sent: the
// worker sends a request between two reports, from its own copy of the field's text (the fields are
// widgets of the user-interface thread), and refuses a text that holds no usable number.

#include "acquisition/exp_base.h"
#include "widgets/chart_series.h"

#include <QString>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
class CEasyEdit;
class CZelFormattedTextBox;
class CZelListBox;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

inline constexpr int kCalibrationToolIndex = 12;

namespace calibration {
inline constexpr int kIdRecord = 244;
inline constexpr int kIdClear = 242;
inline constexpr int kIdCalibrateTemperature = 254;
inline constexpr int kIdCalibrateLeft = 245;
inline constexpr int kIdCalibrateRight = 246;
inline constexpr int kIdMode = 1008;
inline constexpr int kIdT0 = 5006;
inline constexpr int kIdL1 = 5008;
inline constexpr int kIdL2 = 5010;
inline constexpr int kIdChart = 20101;
// The text boxes (ids of this window's own choosing).
inline constexpr int kIdFirstCaption = 5011;
inline constexpr int kIdFirstValue = 5012;
inline constexpr int kIdSecondCaption = 5013;
inline constexpr int kIdSecondValue = 5014;
inline constexpr int kIdPeriodCaption = 5015;
inline constexpr int kIdPeriodValue = 5016;
inline constexpr int kIdTemperatureCaption = 5017;
inline constexpr int kIdTemperatureValue = 5018;
inline constexpr int kIdL2Box = 5019;
inline constexpr int kIdL1Box = 5020;
inline constexpr int kIdT0Box = 5021;

// What the calibration codes of the sensor calibrate.
inline constexpr int kCodeTemperature = 3;
inline constexpr int kCodeLeft = 4;
inline constexpr int kCodeRight = 5;
inline constexpr int kNoRequest = -1;

// The reference value a field's text gives for a calibration code: its leading number in single
// precision. Nothing for a text without a leading number, one that is not finite as a float, a
// temperature at or below absolute zero, or a distance that is not above 0.
std::optional<float> ReferenceValue(int code, const QString& text);
}  // namespace calibration

// Built by MakeExperimentWindow<CDlgTdCalibration>(parent, platform).
class CDlgTdCalibration : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    explicit CDlgTdCalibration(acquisition::CWindowKey key, QWidget* parent = nullptr,
                               std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());
    ~CDlgTdCalibration() override;

    void RefreshView() override;
    void AcquisitionLoop() override;

    // Observation.
    double CurrentX() const { return x_; }
    double CurrentY() const { return y_; }
    float Temperature() const { return temperature_; }
    float Period() const { return period_; }
    bool Recording() const { return recording_; }
    int PendingCode() const { return pendingCode_.load(); }
    const widgets::CChartSeries& Series(int index) const { return series_.at(static_cast<size_t>(index)); }
    widgets::CDataChartPanel* Chart() const { return chart_; }

protected:
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    // What the worker reads of the fields: a copy of each text, kept under a lock and updated on every
    // change.
    class ReferenceTexts {
    public:
        void Set(int code, const QString& text);
        QString Get(int code) const;

    private:
        mutable std::mutex mutex_;
        std::array<QString, 3> texts_;  // codes 3, 4, 5
    };

    void Start();
    void Stop();
    void RecordPositions();
    void ModeChosen(int index);
    void Clear();
    void Request(int code);
    void TakeSample(const _DataPck& sample);
    // Worker: sends the pending request, if any, between two reports.
    void SendPendingCalibration();

    void SetCaptions(bool positions);
    void SetChartView();
    void RefreshChart();
    void ShowValuesPlain();
    void RebuildLabelTexts();
    void LayoutWindow();

    widgets::CDataChartPanel* chart_ = nullptr;
    widgets::CZelListBox* mode_ = nullptr;
    widgets::CZelFormattedTextBox* firstCaption_ = nullptr;
    widgets::CZelFormattedTextBox* firstValue_ = nullptr;
    widgets::CZelFormattedTextBox* secondCaption_ = nullptr;
    widgets::CZelFormattedTextBox* secondValue_ = nullptr;
    widgets::CZelFormattedTextBox* periodCaption_ = nullptr;
    widgets::CZelFormattedTextBox* periodValue_ = nullptr;
    widgets::CZelFormattedTextBox* temperatureCaption_ = nullptr;
    widgets::CZelFormattedTextBox* temperatureValue_ = nullptr;
    widgets::CZelFormattedTextBox* l2Box_ = nullptr;
    widgets::CZelFormattedTextBox* l1Box_ = nullptr;
    widgets::CZelFormattedTextBox* t0Box_ = nullptr;
    widgets::CEasyEdit* t0_ = nullptr;
    widgets::CEasyEdit* l1_ = nullptr;
    widgets::CEasyEdit* l2_ = nullptr;

    std::array<widgets::CChartSeries, 2> series_;
    std::vector<widgets::CChartSeries*> seriesList_;
    bool positionCaptions_ = false;

    double x_ = 0.0, y_ = 0.0;
    float temperature_ = 0.0f;
    float period_ = 0.02f;
    QString periodText_;  // the latest "%.6f(s)", empty before the first sample
    bool recording_ = false;

    // Set by a calibration button, taken by the worker with one exchange, so that a request made while
    // the worker is busy with the previous one is never lost and never sent with another's value.
    std::atomic<int> pendingCode_{calibration::kNoRequest};
    ReferenceTexts references_;
};

}  // namespace zelkor::experiments
