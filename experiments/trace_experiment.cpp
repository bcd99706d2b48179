#include "trace_experiment.h"

#include "device/demo_cues.h"
#include "device/sensor_protocol.h"
#include "widgets/choice_buttons.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace zelkor::experiments {

using widgets::CChartSeries;
using widgets::CDataChartPanel;
using PickResult = CDataChartPanel::PickResult;

namespace {

constexpr int kLabelCellHeight = 26;

}  // namespace

CTraceExperiment::CTraceExperiment(CWindowKey key, int experimentIndex, QWidget* parent,
                                   std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, experimentIndex, parent, std::move(platform))
{
    m_transformIndex = 2;
    live_.style = spare_.style = widgets::kStyleMarkers;
    live_.markerRadius = 8;
    live_.markerColour = spare_.markerColour = QColor(255, 0, 0);
    trace_.lineColour = QColor(255, 0, 0);
    trace_.selectable = true;
    for (CChartSeries* s : {&live_, &spare_, &trace_})
        Empty(*s);
    positionSeries_ = {&live_, &spare_};
    traceSeries_ = {&trace_};
}

CTraceExperiment::~CTraceExperiment()
{
    // The charts must not keep pointers to series that go before them.
    if (positionChart_)
        positionChart_->SetSeriesList({});
    if (traceChart_)
        traceChart_->SetSeriesList({});
}

// --- construction ------------------------------------------------------------------------------------

void CTraceExperiment::CreateCharts(int traceId, bool positionVerticalAuto, bool traceHorizontalAuto,
                                    bool traceVerticalAuto)
{
    positionChart_ = new CDataChartPanel(this, false, positionVerticalAuto);
    widgets::SetControlId(positionChart_, kIdPositionChart);
    traceChart_ = new CDataChartPanel(this, traceHorizontalAuto, traceVerticalAuto);
    widgets::SetControlId(traceChart_, traceId);
    traceChart_->scrollMode = CDataChartPanel::kRollingMode;
    for (CDataChartPanel* chart : {positionChart_, traceChart_})
        chart->show();
    positionChart_->SetSeriesList(positionSeries_);
    traceChart_->SetSeriesList(traceSeries_);
}

void CTraceExperiment::BindButtons(int recordId, const ButtonTable& table)
{
    table_ = table;
    connect(FrameButton(acquisition::kIdStart), &QPushButton::clicked, this, &CTraceExperiment::Start);
    connect(FrameButton(acquisition::kIdStop), &QPushButton::clicked, this, &CTraceExperiment::Stop);
    connect(Button(recordId), &QPushButton::clicked, this, &CTraceExperiment::Record);
    connect(Button(kIdTraceZero), &QPushButton::clicked, this, &CTraceExperiment::Zero);
    connect(Button(kIdTraceClear), &QPushButton::clicked, this, &CTraceExperiment::Clear);
}

void CTraceExperiment::CreateRadios()
{
    const acquisition::FrequencyRadios radios = AddFrequencyRadios([this](double hz) { FrequencyChosen(hz); });
    radio25_ = radios.r25;
    radio50_ = radios.r50;
    const QFont font = widgets::CLabelMetrics::TimesNewRoman(kLabelCellHeight).Font();
    for (widgets::CZelRadioButton* radio : {radio25_, radio50_})
        radio->setFont(font);
}

void CTraceExperiment::CreateLabels(int pairs)
{
    rateLabel_ = widgets::AddTextBox(this, kIdRateLabel);
    for (int i = 0; i < 2 * pairs; ++i)
        labels_.push_back(widgets::AddTextBox(this, kIdFirstResultLabel + i));
}

void CTraceExperiment::RouteWheelToTrace()
{
    // The base's filter sees the events of the whole application, so every child is covered.
    wheelToTrace_ = true;
}

// --- samples -----------------------------------------------------------------------------------------

void CTraceExperiment::RefreshView()
{
    const bool any = TakeQueuedSamples([this](const _DataPck& sample) {
        // A position that is not a number would end up in every mean and spectrum of the stretch.
        if (!std::isfinite(sample.x) || !std::isfinite(sample.y))
            return;
        offsetX_ = sample.x - zeroX_;
        offsetY_ = sample.y - zeroY_;
        TakeSample(sample);
    });
    // The live marker is drawn once per tick rather than once per sample: the picture is the same.
    if (any) {
        positionChart_->SetSeriesList(positionSeries_);
        positionChart_->Redraw();
    }
}

void CTraceExperiment::MoveLive(double a, double b)
{
    live_.Clear();
    live_.Append(a, b);
    live_.visible = true;
}

void CTraceExperiment::RecordPoint(double tx, double ty, const Point& p)
{
    trace_.visible = true;
    const size_t before = trace_.x.size();
    traceChart_->IncrementalAppend(trace_, tx, ty);
    // A point beyond the view in a direction that does not scroll is refused by the chart. The trace
    // keeps it all the same (clipped when drawn), so that pick indices still name the right entry of
    // the point list.
    if (trace_.x.size() == before)
        trace_.Append(tx, ty);
    points_.push_back(p);
}

// --- commands ----------------------------------------------------------------------------------------

void CTraceExperiment::Start()
{
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    points_.clear();
    offsetX_ = offsetY_ = 0.0;
    time_ = 0.0;
    recording_ = false;
    pickFlags_[0] = pickFlags_[1] = false;
    ResetForStart();
    ResetCharts();
    if (!StartAcquisition())
        return;
    SetEnabled(table_.startOn, true);
    SetEnabled(table_.startOff, false);
}

void CTraceExperiment::ResetCharts()
{
    for (CDataChartPanel* chart : {positionChart_, traceChart_}) {
        chart->ArmRangePick(false, this, {});
        if (chart->HorizontalAutoScroll())
            chart->ResetHorizontalScroll();
        if (chart->VerticalAutoScroll())
            chart->ResetVerticalScroll();
    }
    for (CChartSeries* s : {&live_, &spare_, &trace_}) {
        Empty(*s);
        s->labelText.clear();
    }
    SetChartViews();
    RedrawCharts();
}

void CTraceExperiment::Stop()
{
    StopAcquisition();
    SetEnabled(table_.stopOff, false);
    SetEnabled(table_.stopOn, true);
    if (!trace_.x.empty())
        SetEnabled(table_.stopOnWithTrace, true);
    if (QWidget* start = FrameButton(acquisition::kIdStart))
        start->setFocus();
    // The recording flag stays set (the measurements need it); the apparatus may stop.
    if (recording_)
        device::SendDemoCue(device::DemoCue::RecordingStopped);
}

void CTraceExperiment::Record()
{
    recording_ = true;
    // The radios come back at Stop, before the measurements: they must use the rate of the recording.
    recordingFrequency_ = m_samplingFrequency.load();
    SetEnabled(table_.recordOff, false);
    device::SendDemoCue(device::DemoCue::RecordingStarted);
}

void CTraceExperiment::Zero()
{
    zeroX_ += offsetX_;
    zeroY_ += offsetY_;
    device::SendDemoCue(device::DemoCue::ZeroSet);
}

void CTraceExperiment::Clear()
{
    const bool wasRecording = recording_ && RefreshRunning();
    recording_ = false;
    offsetX_ = offsetY_ = 0.0;
    for (CChartSeries* s : {&live_, &spare_, &trace_}) {
        Empty(*s);
        s->labelText.clear();
    }
    SetChartViews();
    ResetForClear();
    SetEnabled(table_.clearOff, false);
    RedrawCharts();
    if (wasRecording)
        device::SendDemoCue(device::DemoCue::RecordingStopped);
    device::SendDemoCue(device::DemoCue::Cleared);
}

// --- picks -------------------------------------------------------------------------------------------

void CTraceExperiment::ArmPick(bool& flag)
{
    traceChart_->pickKind = CDataChartPanel::kPickRange;
    trace_.selectable = true;
    traceChart_->ArmRangePick(true, this, [this](CDataChartPanel& panel, QObject*) { PickDone(panel); });
    traceChart_->SetSeriesList(traceSeries_);
    traceChart_->Redraw();
    flag = true;
}

void CTraceExperiment::PickDone(const CDataChartPanel& panel)
{
    // Over an empty drawn window the chart reports -1 for both marks: there is nothing to measure.
    if (panel.pickResult.first < 0 || panel.pickResult.last < 0)
        return;
    // The chart looks the marks up in the drawn window only, a few seconds of the trace. A pupil who
    // scrolls between the two clicks marks a longer stretch, and the spectrum needs one (at least 256
    // samples), so the marked times are looked up in the whole trace. Within one view both agree.
    const bool horizontal = panel.pickOrientation == CDataChartPanel::kPickHorizontal;
    const std::vector<double>& times = horizontal ? trace_.y : trace_.x;
    const int count = static_cast<int>(times.size());
    const auto index = [&](double value) {
        return widgets::chart::FirstIndexAtOrAbove(times, 0, count, value);
    };
    const PickResult& r = panel.pickResult;
    const std::optional<numerics::PickSpan> span = numerics::OrderPick(
        index(horizontal ? r.startY : r.startX), index(horizontal ? r.endY : r.endX), times.size());
    if (!span)
        return;
    MeasurePick(*span);
}

// --- drawing and labels ------------------------------------------------------------------------------

void CTraceExperiment::Empty(CChartSeries& s)
{
    s.Clear();
    s.visible = false;
}

void CTraceExperiment::RedrawCharts()
{
    positionChart_->SetSeriesList(positionSeries_);
    traceChart_->SetSeriesList(traceSeries_);
    positionChart_->Redraw();
    traceChart_->Redraw();
}

int CTraceExperiment::LabelHeight()
{
    return std::max(widgets::CLabelMetrics::TimesNewRoman(kLabelCellHeight).TextHeight(),
                    widgets::CLabelMetrics::Song(kLabelCellHeight).TextHeight());
}

int CTraceExperiment::LabelWidth(const QString& measureText, const QString& markup)
{
    return widgets::CLabelMetrics::TimesNewRoman(kLabelCellHeight).BoxWidth(measureText, markup);
}

QString CTraceExperiment::CaptionMarkup(const QString& chinese, const QString& latin)
{
    QString markup = widgets::FontMarkup(QStringLiteral("黑体"), kLabelCellHeight) +
                     QStringLiteral("\\text{%1}").arg(chinese);
    if (!latin.isEmpty())
        markup += widgets::FontMarkup(QStringLiteral("Times New Roman"), kLabelCellHeight) + latin;
    return markup;
}

QString CTraceExperiment::ValueMarkup(const QString& text)
{
    return widgets::FontMarkup(QStringLiteral("Times New Roman"), kLabelCellHeight) +
           QStringLiteral("\\text{%1}").arg(text);
}

int CTraceExperiment::PrepareLabelRows()
{
    const int height = std::max(LabelHeight(), radio50_->sizeHint().height());
    const QPoint origin(0, (height - LabelHeight()) / 2);
    rateLabel_->origin = origin;
    for (widgets::CZelFormattedTextBox* box : labels_)
        box->origin = origin;
    return height;
}

void CTraceExperiment::PlaceRateRow(widgets::CLabelRow& row)
{
    const QString markup = CaptionMarkup(QStringLiteral("采集频率:"), QString());
    widgets::SetMarkup(rateLabel_, markup);
    row.Place(rateLabel_, LabelWidth(QStringLiteral("采集频率:"), markup));
    for (widgets::CZelRadioButton* radio : {radio25_, radio50_})
        row.Place(radio, radio->sizeHint().width());
}

bool CTraceExperiment::eventFilter(QObject* watched, QEvent* event)
{
    if (wheelToTrace_ && event->type() == QEvent::Wheel && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
        if (delta != 0) {
            traceChart_->WheelScroll(delta);
            return true;
        }
    }
    return CDlgTdExpBase::eventFilter(watched, event);
}

void CTraceExperiment::resizeEvent(QResizeEvent* event)
{
    CDlgTdExpBase::resizeEvent(event);
    // Resizes before the experiment has built its controls have nothing to place.
    if (traceChart_)
        LayoutWindow();
}

void CTraceExperiment::paintEvent(QPaintEvent* event)
{
    CDlgTdExpBase::paintEvent(event);
    RebuildLabels();
}

}  // namespace zelkor::experiments
