#include "robot_trace.h"

#include "widgets/data_chart_panel.h"

namespace zelkor::experiments {

namespace {

// The track a recording is prepared for: an hour at 50 Hz (about 14 MB with the chart's copies).
// Beyond it the track still grows, a step at a time, as any series does.
constexpr std::size_t kPreparedTrack = 60 * 60 * 50;

CTrackExperiment::Setup RobotTraceSetup()
{
    CTrackExperiment::Setup s;
    s.experimentIndex = kRobotTraceIndex;
    s.title = QStringLiteral("机器人轨迹跟踪");
    s.recordId = 244;
    return s;
}

}  // namespace

CDlgTdRobotTrace::CDlgTdRobotTrace(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CTrackExperiment(key, RobotTraceSetup(), parent, std::move(platform))
{
    Style(marker_, widgets::kStyleMarkers, 8, QColor(255, 0, 0));
    Style(points_, widgets::kStyleMarkers, 4, QColor(255, 0, 0));
    Style(line_, widgets::kStylePolyline, 4, QColor(0, 0, 255));
    line_.lineWidth = 1;
    EmptySeries();
    CreateChart({&marker_, &points_, &line_});
    // The robot drives laps: turned round whenever it is left of where it began, the track would be
    // joined to its old start by a line across the chart.
    chart_->reverseDecreasing = false;
    SetChartView();
    RefreshChart();
}

void CDlgTdRobotTrace::SetChartView()
{
    SetAxisTitles({});
    SetViewRanges(-0.5, 1.5, 1.0, -0.5, 1.5, 1.0);
    chart_->view.xMinorGrid = false;
    chart_->view.yMinorGrid = false;
}

void CDlgTdRobotTrace::EmptySeries()
{
    for (widgets::CChartSeries* s : {&marker_, &points_, &line_})
        Empty(*s);
}

void CDlgTdRobotTrace::OnSample()
{
    if (!recording_) {
        ShowMarker(marker_);
        return;
    }
    ShowRecorded(marker_, {&points_, &line_});
    AppendLive(points_, x_, y_);
    AppendLive(line_, x_, y_);
}

void CDlgTdRobotTrace::ResetForStart()
{
    ResetChartView();
    EmptySeries();
    RefreshChart();
}

// A lesson's track takes its memory at the click, so that no point of it waits for memory (a larger
// block to copy the track into, or the system's first hand-over of a page).
void CDlgTdRobotTrace::AfterRecordingStarted()
{
    for (widgets::CChartSeries* s : {&points_, &line_})
        chart_->PrepareForPoints(*s, s->x.size() + kPreparedTrack);
}

void CDlgTdRobotTrace::Clear()
{
    recording_ = false;
    EmptySeries();
    ResetChartView();
    RefreshChart();
    x_ = y_ = 0.0;
    SetEnabled({kIdTrackClear}, false);
}

void CDlgTdRobotTrace::resizeEvent(QResizeEvent* e)
{
    CTrackExperiment::resizeEvent(e);
    if (chart_)
        PlaceWideChart(LayoutBarAndLabelRow().top);
}

}  // namespace zelkor::experiments
