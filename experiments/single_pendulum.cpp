#include "single_pendulum.h"

#include "device/sensor_protocol.h"
#include "experiments/number_texts.h"
#include "numerics/pendulum_period.h"
#include "widgets/choice_buttons.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <span>

namespace zelkor::experiments {

namespace {

using widgets::kFaceSetting;
using widgets::kFaceStart;
using widgets::kFaceStop;

constexpr int kChartTop = 50;
constexpr int kSideMargin = 20;
constexpr int kLabelGap = 20;  // between the lower label row and the buttons

enum Pair { kPeriodPair, kLengthPair, kGravityPair, kPairs };

void SetPendulumView(widgets::CChartView& v, double ySpan)
{
    v.xName = QStringLiteral("X");
    v.xMin = -0.3;
    v.xSpan = 0.6;
    v.xMax = 0.3;
    v.yMin = -0.1;
    v.ySpan = ySpan;
    v.yMax = -0.1 + ySpan;
    v.yUp = false;
    v.xMirrored = false;
    v.xMinorGrid = v.yMinorGrid = false;
}

QString ResultText(double value, const char* format, const QString& empty)
{
    return value == 0.0 ? empty : Printf(format, value);
}

}  // namespace

CDlgTdSinglePendulum::CDlgTdSinglePendulum(CWindowKey key, QWidget* parent,
                                           std::shared_ptr<device::UsbPlatform> platform)
    : CTraceExperiment(key, kSinglePendulumIndex, parent, std::move(platform))
{
    using widgets::Initially;
    InitFrame(QStringLiteral("单摆"));
    StyleFrameButton(acquisition::kIdStart, QStringLiteral("开始记录"), kFaceStart);
    StyleFrameButton(acquisition::kIdStop, QStringLiteral("停止记录"), kFaceStop, Initially::Disabled);
    AddButton(kIdTraceZero, QStringLiteral("平衡位置"), kFaceSetting, Initially::Disabled);
    AddButton(kIdPendulumRecord, QStringLiteral("记录数据"), kFaceSetting, Initially::Disabled);
    AddButton(kIdMeasurePeriod, QStringLiteral("周期测量"), kFaceSetting, Initially::Disabled)
        ->SetTooltip(QStringLiteral("按下后，请在下方的绘图板中选择起始测量点!"));
    AddButton(kIdMeasureLength, QStringLiteral("摆长测量"), kFaceSetting, Initially::Disabled)
        ->SetTooltip(QStringLiteral("按下此按钮后，请在下方的绘图板中选择起始测量点!"));
    AddButton(kIdTraceClear, QStringLiteral("清屏"), kFaceSetting, Initially::Disabled);
    CreateRadios();
    CreateLabels(kPairs);
    CreateCharts(kIdPendulumTrace, true, false, true);
    positionChart_->view.yAxisColour = QColor(0, 0, 255);
    traceChart_->pickOrientation = widgets::CDataChartPanel::kPickHorizontal;
    traceChart_->reverseDecreasing = false;

    ButtonTable table;
    table.startOn = {acquisition::kIdStop, kIdTraceZero, kIdPendulumRecord};
    table.startOff = {acquisition::kIdStart, kIdMeasureLength, kIdMeasurePeriod, kIdTraceClear};
    table.stopOff = {acquisition::kIdStop, kIdTraceZero, kIdPendulumRecord};
    table.stopOn = {acquisition::kIdRadio25Hz, acquisition::kIdRadio50Hz, acquisition::kIdStart, kIdTraceClear};
    table.stopOnWithTrace = {kIdMeasurePeriod};
    table.recordOff = {acquisition::kIdRadio25Hz, acquisition::kIdRadio50Hz, kIdTraceZero, kIdMeasureLength,
                       kIdMeasurePeriod};
    table.clearOff = {kIdMeasurePeriod, kIdMeasureLength, kIdTraceClear};
    BindButtons(kIdPendulumRecord, table);
    connect(Button(kIdMeasurePeriod), &QPushButton::clicked, this, [this] {
        if (recording_)
            ArmPick(periodPick_);
    });
    connect(Button(kIdMeasureLength), &QPushButton::clicked, this, [this] { ArmPick(lengthPick_); });
    RouteWheelToTrace();

    SetChartViews();
    RedrawCharts();
    RebuildLabels();
    LayoutWindow();
}

void CDlgTdSinglePendulum::SetChartViews()
{
    SetPendulumView(positionChart_->view, 0.15);
    positionChart_->view.yName = QStringLiteral("Y");
    widgets::CChartView& trace = traceChart_->view;
    SetPendulumView(trace, traceSpan_);
    trace.yName = QStringLiteral("t");
    trace.yUnit = QStringLiteral("s");
    trace.yScrollUnit = 1.0 / m_samplingFrequency.load();
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdSinglePendulum::TakeSample(const _DataPck& sample)
{
    const bool timed = device::HasTimeField(m_secondVersion.load());
    if (timed)
        dt_ = sample.interval;
    MoveLive(offsetX_, offsetY_);
    if (!recording_)
        return;
    time_ += timed ? static_cast<double>(dt_) : 1.0 / recordingFrequency_;
    RecordPoint(offsetX_, time_, {offsetX_, zeroY_ + offsetY_});
}

// --- measurements ------------------------------------------------------------------------------------

void CDlgTdSinglePendulum::MeasurePick(const numerics::PickSpan& span)
{
    if (periodPick_)
        MeasurePeriod(span);
    if (lengthPick_)
        MeasureLength(span);
}

void CDlgTdSinglePendulum::EndPick()
{
    traceChart_->ArmRangePick(false, this, {});
    traceChart_->Redraw();
}

void CDlgTdSinglePendulum::MeasurePeriod(const numerics::PickSpan& span)
{
    EndPick();
    periodPick_ = false;
    // Without a full period in the stretch there is no T: the result stays empty, and so does the
    // length measurement that would divide by it.
    const std::optional<double> T = numerics::PendulumPeriod(trace_.x, trace_.y, span);
    period_ = T.value_or(0.0);
    SetEnabled({kIdMeasureLength}, T.has_value());
    RebuildLabels();
}

void CDlgTdSinglePendulum::MeasureLength(const numerics::PickSpan& span)
{
    EndPick();
    lengthPick_ = false;
    std::vector<double> x, Y;
    x.reserve(points_.size());
    Y.reserve(points_.size());
    for (const Point& p : points_) {
        x.push_back(p.a);
        Y.push_back(p.b);
    }
    length_ = numerics::PendulumLength(x, Y, span).value_or(0.0);
    gravity_ = numerics::PendulumGravity(length_, period_).value_or(0.0);
    RebuildLabels();
}

// --- commands ----------------------------------------------------------------------------------------

void CDlgTdSinglePendulum::ResetForStart()
{
    period_ = 0.0;
}

void CDlgTdSinglePendulum::ResetForClear()
{
    // A pick in progress stops following the pointer.
    traceChart_->StopPickTracking();
    period_ = length_ = gravity_ = 0.0;
    RebuildLabels();
}

void CDlgTdSinglePendulum::FrequencyChosen(double hz)
{
    const bool slow = hz == 25.0;
    traceSpan_ = slow ? 20.0 : 10.0;
    dt_ = slow ? 0.04f : 0.02f;
    SetChartViews();
    traceChart_->Redraw();
}

// --- labels and layout -------------------------------------------------------------------------------

void CDlgTdSinglePendulum::RebuildLabels()
{
    using widgets::SetMarkup;
    SetMarkup(Caption(kPeriodPair), CaptionMarkup(QStringLiteral("周期"), QStringLiteral("\\text{: }")));
    SetMarkup(Caption(kLengthPair), CaptionMarkup(QStringLiteral("摆长"), QStringLiteral("\\text{: }")));
    SetMarkup(Caption(kGravityPair), CaptionMarkup(QStringLiteral("重力加速度"), QStringLiteral("\\math{g}\\text{: }")));
    SetMarkup(Value(kPeriodPair), ValueMarkup(ResultText(period_, "  %.3f(s)", QStringLiteral("  (s)"))));
    SetMarkup(Value(kLengthPair), ValueMarkup(ResultText(length_, "  %.3f(m)", QStringLiteral("  (m)"))));
    SetMarkup(Value(kGravityPair), ValueMarkup(ResultText(gravity_, " %.3f", QString())));
}

void CDlgTdSinglePendulum::LayoutWindow()
{
    const int barTop = LayoutBottomButtonBar({FrameButton(acquisition::kIdStart), FrameButton(acquisition::kIdStop),
                                              Button(kIdTraceZero), Button(kIdPendulumRecord),
                                              Button(kIdMeasurePeriod), Button(kIdMeasureLength),
                                              Button(kIdTraceClear)});
    const int rowHeight = PrepareLabelRows();
    const int lowerTop = barTop - kLabelGap - rowHeight;
    const int upperTop = lowerTop - rowHeight;

    widgets::CLabelRow lower(kSideMargin, lowerTop, rowHeight);
    PlaceRateRow(lower);
    const int resultsX = lower.X();
    lower.Place(Caption(kPeriodPair), LabelWidth(QStringLiteral("周期: "), Caption(kPeriodPair)->text));
    lower.Place(Value(kPeriodPair), LabelWidth(QStringLiteral("000000(s)"), ValueMarkup(QStringLiteral("  000.000(s)"))));

    widgets::CLabelRow upper(kSideMargin, upperTop, rowHeight);
    upper.Place(Caption(kLengthPair), LabelWidth(QStringLiteral("摆长: "), Caption(kLengthPair)->text));
    upper.Place(Value(kLengthPair), LabelWidth(QStringLiteral("0000000000(m)"), ValueMarkup(QStringLiteral("  000.000(m)"))));
    upper.MoveTo(std::max(resultsX, upper.X()));
    upper.Place(Caption(kGravityPair), LabelWidth(QStringLiteral("重力加速度g: "), Caption(kGravityPair)->text));
    upper.Place(Value(kGravityPair), LabelWidth(QStringLiteral("00000000"), ValueMarkup(QStringLiteral(" 000.000"))));

    const int chartsHeight = std::max(0, upperTop - kChartTop);
    const int traceHeight = chartsHeight * 2 / 3;
    const int chartsWidth = std::max(0, width() - 2 * kSideMargin);
    positionChart_->setGeometry(kSideMargin, kChartTop, chartsWidth, chartsHeight - traceHeight);
    traceChart_->setGeometry(kSideMargin, kChartTop + chartsHeight - traceHeight, chartsWidth, traceHeight);
    RebuildLabels();
}

}  // namespace zelkor::experiments
