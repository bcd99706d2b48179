#include "com_motions.h"

#include "widgets/choice_buttons.h"
#include "widgets/data_chart_panel.h"

namespace zelkor::experiments {

namespace {

constexpr int kBoxesFromSlider = 220;  // the check boxes' left edge, from the slider's

CTrackExperiment::Setup ComMotionsSetup()
{
    CTrackExperiment::Setup s;
    s.experimentIndex = kComMotionsIndex;
    s.title = QStringLiteral("运动的合成");
    s.recordId = 244;
    s.sliderMaximum = 20;
    s.sliderPosition = 10;  // 0.2 s
    s.sliderSize = {200, 25};
    s.stopEndsRecording = true;
    s.captionId = 5002;
    s.periodId = 5002;
    return s;
}

}  // namespace

CDlgTdComMotions::CDlgTdComMotions(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CTrackExperiment(key, ComMotionsSetup(), parent, std::move(platform))
{
    auto addBox = [this](int id, const char* caption) {
        auto* box = new widgets::CZelCheckBox(this);
        box->Create(id, QString::fromUtf8(caption), QRect(), this);
        box->resize(box->sizeHint());
        return box;
    };
    xBox_ = addBox(kIdComponentXBox, "X");
    yBox_ = addBox(kIdComponentYBox, "Y");
    connect(xBox_, &QCheckBox::clicked, this, [this] { ToggleComponent(xComponent_); });
    connect(yBox_, &QCheckBox::clicked, this, [this] { ToggleComponent(yComponent_); });

    using widgets::kStyleMarkers;
    Style(marker_, kStyleMarkers, 8, QColor(255, 0, 0));
    Style(trajectory_, kStyleMarkers, 4, QColor(255, 0, 0));
    Style(xComponent_, kStyleMarkers, 4, QColor(0, 0, 255));
    Style(yComponent_, kStyleMarkers, 4, QColor(0, 0, 255));
    for (widgets::CChartSeries* s : {&marker_, &trajectory_, &xComponent_, &yComponent_})
        Empty(*s);
    CreateChart({&marker_, &trajectory_, &xComponent_, &yComponent_});
    // The trajectory runs back and forth along X; turned round it would be joined to its old start.
    chart_->reverseDecreasing = false;
    SetChartView();
    RefreshChart();
}

void CDlgTdComMotions::SetChartView()
{
    SetAxisTitles(QStringLiteral("m"));
    SetViewRanges(-0.02, 0.42, 0.4, -0.02, 0.42, 0.4);
}

void CDlgTdComMotions::OnSample()
{
    if (!recording_) {
        ShowMarker(marker_);
        return;
    }
    ShowRecorded(marker_, {&trajectory_});
    AppendLive(trajectory_, x_, y_);
    AppendLive(xComponent_, x_, kComponentAt);
    AppendLive(yComponent_, kComponentAt, y_);
}

void CDlgTdComMotions::ToggleComponent(widgets::CChartSeries& series)
{
    series.visible = !series.visible;
    // While recording too: the new points are drawn one by one, so nothing else would show the others.
    RefreshChart();
}

void CDlgTdComMotions::Clear()
{
    recording_ = false;
    for (widgets::CChartSeries* s : seriesList_)
        Empty(*s);
    xComponent_.visible = xBox_->isChecked();
    yComponent_.visible = yBox_->isChecked();
    ResetChartView();
    RefreshChart();
    x_ = y_ = 0.0;
    SetEnabled({kIdTrackClear}, false);
}

void CDlgTdComMotions::resizeEvent(QResizeEvent* e)
{
    CTrackExperiment::resizeEvent(e);
    if (!chart_)
        return;
    const LabelRowPlace row = LayoutBarAndLabelRow();
    xBox_->move(row.sliderLeft + kBoxesFromSlider, row.top);
    yBox_->move(xBox_->geometry().right() + 1, row.top);
    PlaceWideChart(row.top);
}

}  // namespace zelkor::experiments
