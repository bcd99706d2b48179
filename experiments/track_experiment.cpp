#include "track_experiment.h"

#include "device/demo_cues.h"
#include "experiments/number_texts.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <cmath>

namespace zelkor::experiments {

namespace {

constexpr double kPeriodUnit = 0.02;  // s per slider step
constexpr int kLabelHeight = 26;
constexpr int kLabelRowLeft = 20;
constexpr int kLabelRowGap = 20;  // between the label row and the highest button row
constexpr int kChartTop = 50;

QString CaptionMarkup()
{
    return widgets::FontMarkup(QStringLiteral("黑体"), kLabelHeight) + QStringLiteral("\\text{采集频率:}");
}

}  // namespace

CTrackExperiment::CTrackExperiment(CWindowKey key, const Setup& setup, QWidget* parent,
                                   std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, setup.experimentIndex, parent, std::move(platform)),
      x0_(setup.x0),
      y0_(setup.y0),
      period_(setup.sliderPosition * kPeriodUnit),
      setup_(setup)
{
    using widgets::Initially;
    m_transformIndex = 1;
    // 50 Hz at position 1, 5 Hz at position 10.
    m_samplingFrequency = 50.0 / setup.sliderPosition;
    InitFrame(setup.title);

    StyleFrameButton(acquisition::kIdStart, QStringLiteral("开始实验"), widgets::kFaceStart);
    StyleFrameButton(acquisition::kIdStop, QStringLiteral("停止实验"), widgets::kFaceStop, Initially::Disabled);
    AddButton(kIdTrackZero, QStringLiteral("传感器调零"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(setup.recordId, QStringLiteral("记录数据"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(kIdTrackClear, QStringLiteral("清屏"), widgets::kFaceSetting, Initially::Disabled);
    StyleFrameButton(acquisition::kIdSnapshot, QString(), widgets::kFaceStart);
    StyleFrameButton(acquisition::kIdBack, QString(), widgets::kFaceStart);

    rateCaption_ = widgets::AddTextBox(this, setup.captionId);
    periodBox_ = widgets::AddTextBox(this, setup.periodId);
    slider_ = new widgets::CReleaseSlider(this);
    slider_->Create(kIdTrackSlider, QRect(QPoint(0, 0), setup.sliderSize), this);
    widgets::SliderSetup range;
    range.minimum = 1;
    range.maximum = setup.sliderMaximum;
    range.position = setup.sliderPosition;
    slider_->Configure(range);

    connect(FrameButton(acquisition::kIdStart), &QPushButton::clicked, this, &CTrackExperiment::StartExperiment);
    connect(FrameButton(acquisition::kIdStop), &QPushButton::clicked, this, &CTrackExperiment::StopExperiment);
    connect(Button(kIdTrackZero), &QPushButton::clicked, this, &CTrackExperiment::ZeroSetting);
    connect(Button(setup.recordId), &QPushButton::clicked, this, &CTrackExperiment::StartRecording);
    connect(Button(kIdTrackClear), &QPushButton::clicked, this, [this] {
        Clear();
        device::SendDemoCue(device::DemoCue::Cleared);
    });
    connect(slider_, &widgets::CReleaseSlider::released, this, &CTrackExperiment::SetPeriod);
    RebuildLabelTexts();
}

CTrackExperiment::~CTrackExperiment()
{
    if (chart_)
        chart_->SetSeriesList({});
}

// --- samples -----------------------------------------------------------------------------------------

void CTrackExperiment::RefreshView()
{
    TakeQueuedSamples([this](const _DataPck& sample) {
        const double x = sample.x - x0_;
        const double y = sample.y - y0_;
        // These windows take every position as it comes, so one that is no number would end up in the
        // series, or through a zero setting in every later position.
        if (!std::isfinite(x) || !std::isfinite(y))
            return;
        x_ = x;
        y_ = y;
        OnSample();
    });
    if (repaintPending_) {
        repaintPending_ = false;
        RefreshChart();
    }
}

// --- operations --------------------------------------------------------------------------------------

void CTrackExperiment::StartExperiment()
{
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    x_ = y_ = 0.0;
    recording_ = false;
    ResetForStart();
    if (!StartAcquisition())
        return;
    SetEnabled({acquisition::kIdStop, kIdTrackZero, setup_.recordId}, true);
    SetEnabled({acquisition::kIdStart}, false);
    AfterStart();
}

void CTrackExperiment::StopExperiment()
{
    StopAcquisition();
    if (setup_.stopEndsRecording)
        recording_ = false;
    SetEnabled({acquisition::kIdStop, kIdTrackZero, setup_.recordId}, false);
    slider_->setEnabled(true);
    SetEnabled({acquisition::kIdStart, kIdTrackClear}, true);
    FrameButton(acquisition::kIdStart)->setFocus();
}

void CTrackExperiment::ZeroSetting()
{
    x0_ += x_;
    y0_ += y_;
    device::SendDemoCue(device::DemoCue::ZeroSet);
}

void CTrackExperiment::StartRecording()
{
    recording_ = true;
    slider_->setEnabled(false);
    AfterRecordingStarted();
    device::SendDemoCue(device::DemoCue::RecordingStarted);
}

void CTrackExperiment::SetPeriod(int position)
{
    period_ = position * kPeriodUnit;
    m_samplingFrequency = 1.0 / period_;
    periodBox_->textAlign = Qt::AlignLeft | Qt::AlignTop;
    periodBox_->text = Printf("  %.2f(s)", period_);
    periodBox_->update();
}

// --- chart -------------------------------------------------------------------------------------------

void CTrackExperiment::CreateChart(std::vector<widgets::CChartSeries*> series)
{
    chart_ = new widgets::CDataChartPanel(this, false, false);
    widgets::SetControlId(chart_, kIdTrackChart);
    chart_->show();
    seriesList_ = std::move(series);
    chart_->SetSeriesList(seriesList_);
}

void CTrackExperiment::RefreshChart()
{
    chart_->SetSeriesList(seriesList_);
    chart_->Redraw();
}

void CTrackExperiment::AppendLive(widgets::CChartSeries& series, double x, double y)
{
    const size_t before = series.x.size();
    chart_->IncrementalAppend(series, x, y);
    if (series.x.size() == before) {
        series.Append(x, y);
        RequestRepaint();
    }
}

void CTrackExperiment::ShowMarker(widgets::CChartSeries& marker)
{
    marker.visible = true;
    marker.Clear();
    marker.Append(x_, y_);
    RequestRepaint();
}

void CTrackExperiment::ShowRecorded(widgets::CChartSeries& marker, std::initializer_list<widgets::CChartSeries*> recorded)
{
    bool changed = marker.visible;
    marker.visible = false;
    for (widgets::CChartSeries* s : recorded) {
        changed = changed || !s->visible;
        s->visible = true;
    }
    // Otherwise the new points are drawn by themselves: a repaint at every tick would compare every
    // point of a long track with the picture.
    if (changed)
        RequestRepaint();
}

void CTrackExperiment::Empty(widgets::CChartSeries& series, bool hide)
{
    series.Clear();
    if (hide)
        series.visible = false;
}

void CTrackExperiment::Style(widgets::CChartSeries& series, int style, int radius, const QColor& colour)
{
    series.style = style;
    series.markerRadius = radius;
    series.markerColour = colour;
    series.lineColour = colour;
}

void CTrackExperiment::SetViewRanges(double xMin, double xSpan, double xMax, double yMin, double ySpan, double yMax)
{
    widgets::CChartView& v = chart_->view;
    v.xMin = xMin;
    v.xSpan = xSpan;
    v.xMax = xMax;
    v.yMin = yMin;
    v.ySpan = ySpan;
    v.yMax = yMax;
}

void CTrackExperiment::SetAxisTitles(const QString& unit)
{
    widgets::CChartView& v = chart_->view;
    v.xName = unit.isEmpty() ? QString() : QStringLiteral("X");
    v.yName = unit.isEmpty() ? QString() : QStringLiteral("Y");
    v.xUnit = v.yUnit = unit;
}

void CTrackExperiment::ResetChartView()
{
    chart_->ArmRangePick(false, this, {});
    for (widgets::CChartSeries* s : seriesList_)
        s->labelText.clear();
    SetChartView();
}

// --- layout ------------------------------------------------------------------------------------------

widgets::CLabelMetrics CTrackExperiment::LabelMetrics()
{
    return widgets::CLabelMetrics::TimesNewRoman(kLabelHeight);
}

QString CTrackExperiment::LatinMarkup()
{
    return widgets::FontMarkup(QStringLiteral("Times New Roman"), kLabelHeight);
}

CTrackExperiment::LabelRowPlace CTrackExperiment::LayoutBarAndLabelRow()
{
    const int barTop = LayoutBottomButtonBar({FrameButton(acquisition::kIdStart), FrameButton(acquisition::kIdStop),
                                              Button(kIdTrackZero), Button(setup_.recordId), Button(kIdTrackClear)});
    const widgets::CLabelMetrics metrics = LabelMetrics();
    const int th = metrics.TextHeight();
    LabelRowPlace place;
    place.top = barTop - kLabelRowGap - th;
    widgets::CLabelRow row(kLabelRowLeft, place.top, th);
    row.Place(rateCaption_, metrics.BoxWidth(QStringLiteral("采集频率:"), CaptionMarkup()));
    row.Place(periodBox_, metrics.BoxWidth(QStringLiteral("0.02(s)"), LatinMarkup() + QStringLiteral("\\text{  0.02(s)}")));
    place.sliderLeft = row.X();
    slider_->setGeometry(QRect(QPoint(place.sliderLeft, place.top), setup_.sliderSize));
    return place;
}

void CTrackExperiment::PlaceWideChart(int labelRowTop)
{
    if (chart_)
        chart_->setGeometry(kLabelRowLeft, kChartTop, width() - 2 * kLabelRowLeft, std::max(1, labelRowTop - kChartTop));
}

void CTrackExperiment::RebuildLabelTexts()
{
    widgets::SetMarkup(rateCaption_, CaptionMarkup());
    widgets::SetMarkup(periodBox_, LatinMarkup() + Printf("\\text{  %.2f(s)}", period_));
}

void CTrackExperiment::paintEvent(QPaintEvent* e)
{
    CDlgTdExpBase::paintEvent(e);
    RebuildLabelTexts();
}

}  // namespace zelkor::experiments
