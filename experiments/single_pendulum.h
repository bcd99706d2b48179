#pragma once
// CDlgTdSinglePendulum: the single pendulum (index 4, "单摆"). The bob carries the transmitter below the
// sensor. The trajectory chart shows where the bob is now; while recording, the trace chart draws its
// horizontal displacement against time running downwards. Two picks on the trace give the period (zero
// crossings), the length (mean distance from the suspension point) and g = 4 pi^2 L / T^2.

#include "trace_experiment.h"

namespace zelkor::experiments {

inline constexpr int kSinglePendulumIndex = 4;
inline constexpr int kIdPendulumTrace = 5003;
inline constexpr int kIdPendulumRecord = 245;
inline constexpr int kIdMeasureLength = 246;
inline constexpr int kIdMeasurePeriod = 247;

// Built by MakeExperimentWindow<CDlgTdSinglePendulum>(parent, platform).
class CDlgTdSinglePendulum : public CTraceExperiment {
    Q_OBJECT
public:
    explicit CDlgTdSinglePendulum(CWindowKey key, QWidget* parent = nullptr,
                                  std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    // Results; 0 means not measured (or no number came out of the stretch).
    double Period() const { return period_; }
    double Length() const { return length_; }
    double Gravity() const { return gravity_; }
    double TraceSpan() const { return traceSpan_; }
    float SampleInterval() const { return dt_; }

protected:
    void SetChartViews() override;
    void TakeSample(const _DataPck& sample) override;
    void MeasurePick(const numerics::PickSpan& span) override;
    void ResetForStart() override;
    void ResetForClear() override;
    void FrequencyChosen(double hz) override;
    void RebuildLabels() override;
    void LayoutWindow() override;

private:
    void MeasurePeriod(const numerics::PickSpan& span);
    void MeasureLength(const numerics::PickSpan& span);
    void EndPick();

    bool& periodPick_ = pickFlags_[0];
    bool& lengthPick_ = pickFlags_[1];
    float dt_ = 0.02f;
    double traceSpan_ = 10.0;
    double period_ = 0.0, length_ = 0.0, gravity_ = 0.0;
};

}  // namespace zelkor::experiments
