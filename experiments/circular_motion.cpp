#include "circular_motion.h"

#include "experiments/number_texts.h"
#include "numerics/spectrum.h"
#include "widgets/choice_buttons.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

namespace zelkor::experiments {

namespace {

using widgets::kFaceSetting;
using widgets::kFaceStart;
using widgets::kFaceStop;

constexpr int kChartTop = 70;
constexpr int kRowLeft = 20;
constexpr int kGroupGap = 20;

enum Pair { kOmegaPair, kRatePair, kPeriodPair, kRadiusPair, kPairs };

const QString kPickTip = QStringLiteral("按下后，需要在右侧绘图板中选择起止测量点!");

}  // namespace

CDlgTdCircularMotior::CDlgTdCircularMotior(CWindowKey key, bool circularMode, QWidget* parent,
                                           std::shared_ptr<device::UsbPlatform> platform)
    : CTraceExperiment(key, circularMode ? kCircularMotionIndex : kDampedVibrationIndex, parent, std::move(platform)),
      circular_(circularMode)
{
    using widgets::Initially;
    InitFrame(circular_ ? QStringLiteral("匀速圆周运动") : QStringLiteral("阻尼振动"));
    StyleFrameButton(acquisition::kIdStart, QStringLiteral("开始实验"), kFaceStart);
    StyleFrameButton(acquisition::kIdStop, QStringLiteral("停止实验"), kFaceStop, Initially::Disabled);
    AddButton(kIdTraceZero, QStringLiteral("传感器调零"), kFaceSetting, Initially::Disabled);
    AddButton(kIdCircularRecord, QStringLiteral("记录数据"), kFaceSetting, Initially::Disabled);
    if (circular_) {
        AddButton(kIdMeasureRadius, QStringLiteral("圆心定位"), kFaceSetting, Initially::Disabled)->SetTooltip(kPickTip);
        AddButton(kIdMeasureAngularVelocity, QStringLiteral("角速度测量"), kFaceSetting, Initially::Disabled)
            ->SetTooltip(kPickTip);
    }
    AddButton(kIdTraceClear, QStringLiteral("清屏"), kFaceSetting, Initially::Disabled);
    CreateRadios();
    CreateLabels(circular_ ? kPairs : 0);
    CreateCharts(kIdCircularTrace, false, true, false);
    positionChart_->view.xAxisColour = QColor(0, 0, 255);
    traceChart_->pickOrientation = widgets::CDataChartPanel::kPickVertical;
    trace_.style = widgets::kStylePolylineMarkers;
    trace_.markerColour = QColor(0, 0, 255);

    const std::vector<int> measures =
        circular_ ? std::vector<int>{kIdMeasureRadius, kIdMeasureAngularVelocity} : std::vector<int>{};
    auto with = [&](std::vector<int> ids) {
        ids.insert(ids.begin(), measures.begin(), measures.end());
        return ids;
    };
    ButtonTable table;
    table.startOn = {acquisition::kIdStop, kIdTraceZero, kIdCircularRecord};
    table.startOff = {acquisition::kIdStart};
    table.stopOff = {acquisition::kIdStop, kIdTraceZero, kIdCircularRecord};
    table.stopOn = {acquisition::kIdStart, acquisition::kIdRadio25Hz, acquisition::kIdRadio50Hz};
    table.stopOnWithTrace = with({kIdTraceClear});
    table.recordOff = with({acquisition::kIdRadio25Hz, acquisition::kIdRadio50Hz});
    table.clearOff = with({kIdTraceClear});
    BindButtons(kIdCircularRecord, table);
    if (circular_) {
        connect(Button(kIdMeasureRadius), &QPushButton::clicked, this, [this] { ArmPick(radiusPick_); });
        connect(Button(kIdMeasureAngularVelocity), &QPushButton::clicked, this, [this] { ArmPick(omegaPick_); });
    }

    SetValueTexts(QStringLiteral("0(rad/s)"), QStringLiteral("0(r/min)"), QStringLiteral("  0(s)"),
                  QStringLiteral("0(m)"));
    SetChartViews();
    RedrawCharts();
    LayoutWindow();
}

void CDlgTdCircularMotior::SetChartViews()
{
    widgets::CChartView& path = positionChart_->view;
    path.xName = QStringLiteral("X");
    path.yName = QStringLiteral("Y");
    path.xMin = path.yMin = -0.2;
    path.xSpan = path.ySpan = 0.4;
    path.xMax = path.yMax = 0.2;
    path.xMinorGrid = path.yMinorGrid = false;

    widgets::CChartView& trace = traceChart_->view;
    trace.xName = QStringLiteral("t");
    trace.xUnit = QStringLiteral("s");
    trace.xMin = 0.0;
    trace.xSpan = 3.0;
    trace.xMax = 3.0;
    trace.yName = QStringLiteral("Y");
    trace.yMin = path.yMin;
    trace.ySpan = path.ySpan;
    trace.yMax = path.yMax;
    trace.xScrollUnit = 1.0 / m_samplingFrequency.load();
    trace.xMinorGrid = trace.yMinorGrid = false;
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdCircularMotior::TakeSample(const _DataPck&)
{
    const double u = offsetY_;
    const double w = offsetX_;
    if (recording_) {
        // The sample's interval is not used: the trace runs on the nominal rate of the recording.
        time_ += 1.0 / recordingFrequency_;
        RecordPoint(time_, w, {u, w});
    }
    MoveLive(u, w);
}

// --- measurements ------------------------------------------------------------------------------------

void CDlgTdCircularMotior::MeasurePick(const numerics::PickSpan& span)
{
    if (!circular_ || span.Count() == 0)
        return;
    if (radiusPick_) {
        std::vector<double> u, w;
        u.reserve(points_.size());
        w.reserve(points_.size());
        for (const Point& p : points_) {
            u.push_back(p.a);
            w.push_back(p.b);
        }
        if (const std::optional<double> r = numerics::MeasureRadius(u, w, span)) {
            radiusText_ = Printf("%6.3f(m)", *r);
            radiusPick_ = false;
        }
    }
    if (omegaPick_) {
        // The rate of the recording, not the radio chosen since: the samples are that far apart.
        if (const auto rotation = numerics::MeasureRotation(trace_.y, span, recordingFrequency_)) {
            omegaText_ = Printf("%6.3f(rad/s)", rotation->omega);
            rateText_ = Printf("%6.3f(r/min)", rotation->rate);
            periodText_ = Printf("%6.3f(s)", rotation->period);
        }
        // Without a peak (a still transmitter) the labels keep what they showed: a rate of 0 has no period.
        omegaPick_ = false;
    }
    RebuildLabels();
}

// --- commands ----------------------------------------------------------------------------------------

void CDlgTdCircularMotior::ResetForStart() {}

void CDlgTdCircularMotior::ResetForClear()
{
    traceChart_->ArmRangePick(false, this, {});
    if (circular_)
        SetValueTexts(QStringLiteral("  0(rad/s)"), QStringLiteral("  0(r/min)"), QStringLiteral("  0(s)"),
                      QStringLiteral("  0(m)"));
}

// --- labels and layout -------------------------------------------------------------------------------

void CDlgTdCircularMotior::SetValueTexts(const QString& omega, const QString& rate, const QString& period,
                                         const QString& radius)
{
    omegaText_ = omega;
    rateText_ = rate;
    periodText_ = period;
    radiusText_ = radius;
    RebuildLabels();
}

void CDlgTdCircularMotior::RebuildLabels()
{
    if (!circular_)
        return;
    using widgets::SetMarkup;
    SetMarkup(Caption(kOmegaPair), CaptionMarkup(QStringLiteral("角速度"), QStringLiteral("\\text{: }")));
    SetMarkup(Caption(kRatePair), CaptionMarkup(QStringLiteral("转数"), QStringLiteral("\\text{: }")));
    SetMarkup(Caption(kPeriodPair), CaptionMarkup(QStringLiteral("周期"), QStringLiteral("\\text{:}")));
    SetMarkup(Caption(kRadiusPair), CaptionMarkup(QStringLiteral("半径"), QStringLiteral("\\text{: }")));
    SetMarkup(Value(kOmegaPair), ValueMarkup(omegaText_));
    SetMarkup(Value(kRatePair), ValueMarkup(rateText_));
    SetMarkup(Value(kPeriodPair), ValueMarkup(periodText_));
    SetMarkup(Value(kRadiusPair), ValueMarkup(radiusText_));
}

void CDlgTdCircularMotior::LayoutWindow()
{
    std::vector<QWidget*> bar = {FrameButton(acquisition::kIdStart), FrameButton(acquisition::kIdStop),
                                 Button(kIdTraceZero), Button(kIdCircularRecord)};
    if (circular_) {
        bar.push_back(Button(kIdMeasureRadius));
        bar.push_back(Button(kIdMeasureAngularVelocity));
    }
    bar.push_back(Button(kIdTraceClear));
    const int barTop = LayoutBottomButtonBar(bar);
    const int rowHeight = PrepareLabelRows();
    const int rows = circular_ ? 2 : 1;
    const int labelsTop = barTop - rows * rowHeight;

    widgets::CLabelRow upper(kRowLeft, labelsTop, rowHeight);
    PlaceRateRow(upper);
    if (circular_) {
        // Value boxes are as wide as their widest text, so a result never runs into the next caption.
        const int omegaWidth = LabelWidth(QStringLiteral("00000(rad/s)"), ValueMarkup(QStringLiteral("-000.000(rad/s)")));
        const int rateWidth = LabelWidth(QStringLiteral("000000(r/min)"), ValueMarkup(QStringLiteral("-000.000(r/min)")));
        const int periodWidth = LabelWidth(QStringLiteral("0000.0000(s)"), ValueMarkup(QStringLiteral("-000.000(s)")));
        const int radiusWidth = LabelWidth(QStringLiteral("00000000"), ValueMarkup(QStringLiteral(" -0.000(m)")));
        widgets::CLabelRow lower(kRowLeft, labelsTop + rowHeight, rowHeight);
        lower.Place(Caption(kOmegaPair), LabelWidth(QStringLiteral("角速度: "), Caption(kOmegaPair)->text));
        lower.Place(Value(kOmegaPair), omegaWidth);
        lower.Skip(kGroupGap);
        const int rateX = lower.X();
        lower.Place(Caption(kRatePair), LabelWidth(QStringLiteral("转数: "), Caption(kRatePair)->text));
        lower.Place(Value(kRatePair), rateWidth);
        lower.Skip(kGroupGap);
        lower.Place(Caption(kPeriodPair), LabelWidth(QStringLiteral("周期:"), Caption(kPeriodPair)->text));
        lower.Place(Value(kPeriodPair), periodWidth);
        upper.MoveTo(std::max(rateX, upper.X()));
        upper.Place(Caption(kRadiusPair), LabelWidth(QStringLiteral("半径: "), Caption(kRadiusPair)->text));
        upper.Place(Value(kRadiusPair), radiusWidth);
    }

    const int chartsHeight = std::max(0, labelsTop - kChartTop);
    const int pathWidth = circular_ ? std::min(chartsHeight, width()) : width() / 3;
    positionChart_->setGeometry(0, kChartTop, pathWidth, chartsHeight);
    traceChart_->setGeometry(pathWidth, kChartTop, std::max(0, width() - pathWidth), chartsHeight);
    RebuildLabels();
}

}  // namespace zelkor::experiments
