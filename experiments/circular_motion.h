#pragma once
// CDlgTdCircularMotior: uniform circular motion (index 2, "匀速圆周运动", circular mode) and damped
// vibration (index 5, "阻尼振动"). The path chart shows where the transmitter is now; while recording, the
// trace chart draws its vertical coordinate against time. In circular mode two picks on the trace give
// the radius (smoothed mean distance from the zero point) and, from the spectrum peak of the trace, the
// rotation rate, the period and the angular velocity. Damped vibration only records and draws.
//
// The window shows the sample's coordinates exchanged: u (across, "X") is the sample's y less the zero,
// w (up, "Y") its x less the zero.

#include "trace_experiment.h"

namespace zelkor::experiments {

inline constexpr int kCircularMotionIndex = 2;
inline constexpr int kDampedVibrationIndex = 5;
inline constexpr int kIdCircularTrace = 5008;
inline constexpr int kIdCircularRecord = 244;
inline constexpr int kIdMeasureRadius = 245;
inline constexpr int kIdMeasureAngularVelocity = 246;

// Built by MakeExperimentWindow<CDlgTdCircularMotior>(circularMode, parent, platform).
class CDlgTdCircularMotior : public CTraceExperiment {
    Q_OBJECT
public:
    CDlgTdCircularMotior(CWindowKey key, bool circularMode, QWidget* parent = nullptr,
                         std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    bool CircularMode() const { return circular_; }

protected:
    void SetChartViews() override;
    void TakeSample(const _DataPck& sample) override;
    void MeasurePick(const numerics::PickSpan& span) override;
    void ResetForStart() override;
    void ResetForClear() override;
    void RebuildLabels() override;
    void LayoutWindow() override;

private:
    void SetValueTexts(const QString& omega, const QString& rate, const QString& period, const QString& radius);

    const bool circular_;
    bool& radiusPick_ = pickFlags_[0];
    bool& omegaPick_ = pickFlags_[1];
    // The value labels' texts, kept across layout passes.
    QString omegaText_, rateText_, periodText_, radiusText_;
};

}  // namespace zelkor::experiments
