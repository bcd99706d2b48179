#pragma once
// CDlgTdGalileo: the Galileo incline (index 8, "伽利略斜面实验(2D)"). A ball rolls down an incline while its
// positions are recorded at a sampling frequency the pupil chooses between 5 and 50 Hz, so that the
// recorded points show the growing distances covered in equal time steps. Positions only: no times, no
// calculation.

#include "recording_experiment.h"

namespace zelkor::widgets {
class CReleaseSlider;
}

namespace zelkor::experiments {

inline constexpr int kGalileoIndex = 8;
inline constexpr int kIdFrequencySlider = 234;

// Built by MakeExperimentWindow<CDlgTdGalileo>(parent, platform).
class CDlgTdGalileo : public CRecordingExperiment {
    Q_OBJECT
public:
    explicit CDlgTdGalileo(CWindowKey key, QWidget* parent = nullptr,
                           std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    static constexpr double kDistanceLimit = 0.75;

protected:
    void OnSample() override;
    void SetChartView() override;
    void Calibrate() override;
    void LayoutWindow() override;
    void LayoutLabelRows(int x0, int upperTop, int lowerTop) override;
    void RebuildLabelTexts() override;
    std::vector<int> DataButtons() const override;
    bool AcceptsImportedRow(const Record& record) const override;

private:
    void FrequencyReleased(int position);

    widgets::CZelFormattedTextBox* rateValue_ = nullptr;  // the second 5006
    widgets::CReleaseSlider* slider_ = nullptr;
};

}  // namespace zelkor::experiments
