#include "projectile.h"

#include "numerics/fits.h"
#include "widgets/app_setup.h"
#include "widgets/chart_math.h"
#include "widgets/choice_buttons.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"

#include <cmath>

namespace zelkor::experiments {

namespace {

constexpr int kVelocityTitleImage = 146;

CRecordingExperiment::Setup ProjectileSetup()
{
    CRecordingExperiment::Setup s;
    s.experimentIndex = kProjectileIndex;
    s.title = QStringLiteral("平抛运动(2D)");
    s.transformIndex = 1;
    s.captionFont = widgets::BoldSansCaptionFont();
    s.rotationSign = -1;
    s.plotBorder = true;
    s.groupFrames = true;
    s.exportFolder = QString::fromUtf8(output::kProjectileFolder);
    s.tableRows = 101;
    s.columnWidth = 76;
    s.importColumns = 3;
    return s;
}

// The window's own buttons between the component toggles and "清屏".
const std::vector<CRecordingExperiment::ButtonSpec> kAnalysis = {
    {kIdParabola, "二次拟合", kFaceSetting, Initially::Disabled},
    {kIdAcceleration, "加速度", kFaceSetting, Initially::Disabled},
};

// The buttons that the velocity view keeps disabled: the position series' tools.
const std::vector<int> kPositionTools = {kIdComponentX, kIdComponentY, kIdParabola};

void ShowFitFailed(QWidget* window)
{
    widgets::ShowMessage(window, QString::fromUtf8(kFitFailed));
}

}  // namespace

CDlgTdAcoustics::CDlgTdAcoustics(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CRecordingExperiment(key, ProjectileSetup(), RecordingButtons("水平校准", kAnalysis), parent, std::move(platform))
{
    parabola_.style = vxLine_.style = vyLine_.style = widgets::kStylePolyline;
    parabola_.lineColour = vxLine_.lineColour = QColor(0, 0, 0);
    vyLine_.lineColour = QColor(255, 0, 0);
    vx_.style = vy_.style = widgets::kStyleMarkers;
    vx_.markerColour = vx_.lineColour = QColor(0, 0, 0);
    vy_.markerColour = vy_.lineColour = QColor(255, 0, 0);
    for (widgets::CChartSeries* s : {&parabola_, &vx_, &vxLine_, &vy_, &vyLine_}) {
        Empty(*s);
        seriesList_.push_back(s);
    }
    connect(Button(kIdParabola), &QPushButton::clicked, this, &CDlgTdAcoustics::ToggleParabola);
    connect(Button(kIdAcceleration), &QPushButton::clicked, this, &CDlgTdAcoustics::ToggleVelocityView);
    SetChartView();
    LayoutWindow();
}

// --- views -------------------------------------------------------------------------------------------

void CDlgTdAcoustics::SetChartView()
{
    widgets::CChartView v;
    if (!velocityView_) {
        v = PositionView(-0.06, 0.86, -0.06, dropHeight_ + 0.06, true);
    } else {
        v = FreshView();
        v.xName = QStringLiteral("t");
        v.xUnit = QStringLiteral("s");
        v.xMin = 0.0;
        v.xSpan = v.xMax = 0.6;
        v.yMin = 0.0;
        v.ySpan = v.yMax = 8.0;
        v.yTitlePicture = true;
        v.yTitleImage = kVelocityTitleImage;
        v.adaptX = true;
        v.xLabelHeight = v.yLabelHeight = 25;
    }
    v.axisLineWidth = 2;
    chart_->view = v;
    chart_->reverseDecreasing = false;
}

void CDlgTdAcoustics::OnReset()
{
    velocityView_ = false;
}

void CDlgTdAcoustics::OnClear()
{
    velocityView_ = false;
}

// --- recording ---------------------------------------------------------------------------------------

// Recording: samples in 0 <= X < 1 below the zero point; from the second record on the ball passing
// 1 m or the drop height ends the recording, and so does a full table. An automatic end rebuilds the
// times from the horizontal motion.
void CDlgTdAcoustics::OnSample()
{
    if (!recording_) {
        MoveMarker();
        return;
    }
    const double x = shown_.x;
    const double y = shown_.y;
    if ((nextTableRow_ > 1 && (x > 1.0 || y > dropHeight_)) || nextTableRow_ > static_cast<unsigned>(TableCapacity())) {
        RebuildTimes();
        StopRecording();
        return;
    }
    if (x >= 0.0 && x < 1.0 && y > kRestTolerance)
        RecordShownPosition();
}

void CDlgTdAcoustics::RebuildTimes()
{
    std::vector<double> x, t;
    for (const Record& r : records_) {
        x.push_back(r.x);
        t.push_back(r.t);
    }
    // A ball at rest or moving back has no horizontal speed to count the time by: the times stay.
    const std::optional<numerics::TimeRebuild> rebuilt = numerics::RebuildTimes(x, t);
    if (!rebuilt)
        return;
    timeStep_ = static_cast<float>(rebuilt->step);
    for (size_t i = 0; i < records_.size(); ++i)
        records_[i].t = rebuilt->t[i];
}

void CDlgTdAcoustics::Calibrate()
{
    // X = 0 (straight above or at the zero point) cannot tell which way the throw runs.
    if (shown_.x >= 0.0) {
        widgets::ShowMessage(this, QString::fromUtf8(kCalibrationTooShort));
        return;
    }
    AddCalibrationAngle(std::atan(shown_.y / shown_.x));
}

std::vector<int> CDlgTdAcoustics::DataButtons() const
{
    if (velocityView_)
        return {kIdAcceleration, kIdExport, kIdClear};
    return {kIdComponentX, kIdComponentY, kIdParabola, kIdAcceleration, kIdExport, kIdClear};
}

bool CDlgTdAcoustics::AcceptsImportedRow(const Record& record) const
{
    return record.y < dropHeight_;
}

void CDlgTdAcoustics::HideOnDelete()
{
    CRecordingExperiment::HideOnDelete();
    parabola_.visible = false;
}

void CDlgTdAcoustics::HideOnImport()
{
    for (size_t i = 2; i < seriesList_.size(); ++i)
        seriesList_[i]->visible = false;
    // The imported points are positions: back to their axes.
    if (velocityView_) {
        velocityView_ = false;
        SetChartView();
        SetEnabled(kPositionTools, true);
    }
}

void CDlgTdAcoustics::AfterRowsDeleted(const widgets::RowDeletion& deletion)
{
    if (deletion.firstRecord == 0)
        RebuildTimes();
}

// --- parabola ----------------------------------------------------------------------------------------

void CDlgTdAcoustics::ToggleParabola()
{
    if (records_.empty() || trajectory_.x.size() < 2)
        return;
    parabola_.visible = !parabola_.visible;
    if (parabola_.visible) {
        // Fewer than three distinct x would divide by a zero pivot; nothing of an earlier fit stays.
        const std::optional<numerics::Parabola> p = numerics::FitParabola(trajectory_.x, trajectory_.y);
        if (!p) {
            Empty(parabola_, false);
            RefreshChart();
            ShowFitFailed(this);
            return;
        }
        // One point per pixel of the plot, over the horizontal span the chart will draw.
        const widgets::chart::PlotRect plot = chart_->PlotArea();
        widgets::CChartView v = chart_->view;
        if (v.equalScale && !plot.Empty())
            widgets::chart::ApplyEqualScale(plot, v.adaptX, v.xMin, v.xSpan, v.xMax, v.yMin, v.ySpan, v.yMax);
        const numerics::Curve curve = numerics::ParabolaPoints(*p, v.xMin, v.xSpan, plot.Width());
        parabola_.x = curve.x;
        parabola_.y = curve.y;
        parabola_.firstDrawn = 0;
        parabola_.numberDrawn = static_cast<int>(curve.x.size());
    }
    RefreshChart();
}

// --- velocity view -----------------------------------------------------------------------------------

void CDlgTdAcoustics::ToggleVelocityView()
{
    if (records_.empty())
        return;
    velocityView_ = !velocityView_;
    SetChartView();
    if (!velocityView_) {
        SetEnabled(kPositionTools, true);
        for (widgets::CChartSeries* s : {&vx_, &vxLine_, &vy_, &vyLine_})
            s->visible = false;
        trajectory_.visible = true;
        horizontal_.visible = vertical_.visible = parabola_.visible = false;
    } else {
        SetEnabled(kPositionTools, false);
        for (widgets::CChartSeries* s : {&marker_, &trajectory_, &horizontal_, &vertical_, &parabola_})
            s->visible = false;
        for (widgets::CChartSeries* s : {&vx_, &vxLine_, &vy_, &vyLine_}) {
            s->Clear();
            s->labelText.clear();
        }
        ShowVelocities();
    }
    RefreshChart();
}

void CDlgTdAcoustics::ShowVelocities()
{
    std::vector<double> t, x, y;
    for (const Record& r : records_) {
        t.push_back(r.t);
        x.push_back(r.x);
        y.push_back(r.y);
    }
    const widgets::CCellRange selection = table_->GetSelectedCellRange();
    const numerics::RecordRange range = numerics::SelectedRecords(records_.size(), selection.minRow, selection.maxRow);
    const bool slow = radio25_->isChecked();
    const int d = slow ? 1 : 2;

    // The velocities actually computed are the ones drawn, however short the range.
    const numerics::Curve vx = numerics::CentralDifferences(t, x, range, d);
    vx_.x = vx.x;
    vx_.y = vx.y;
    vx_.numberDrawn = static_cast<int>(vx.x.size());
    vx_.visible = true;
    if (vx_.numberDrawn > 1) {
        vxLine_.visible = true;
        const std::optional<numerics::Line> line = numerics::FitLine(vx_.x, vx_.y);
        if (!line)
            return ShowFitFailed(this);
        DrawLine(vxLine_, line->k, line->b);
    }

    const numerics::Curve vy = numerics::CentralDifferences(t, y, range, d);
    vy_.x = vy.x;
    vy_.y = vy.y;
    vy_.numberDrawn = static_cast<int>(vy.x.size());
    vy_.visible = true;
    if (vy_.numberDrawn <= 1)
        return;
    // The first two and the last vertical velocities lie too near the launch and the landing.
    vyLine_.visible = true;
    const std::optional<numerics::Line> line = numerics::FitLine(vy_.x, vy_.y, 2, 1);
    if (!line)
        return ShowFitFailed(this);
    DrawLine(vyLine_, line->k, line->b);

    // The acceleration from the height fallen since the launch, the first used record's time replaced
    // by the free-fall time of its height. No number (a first height above the zero point), no label.
    const std::optional<double> a = numerics::ProjectileAcceleration(t, y, slow ? 2 : 4);
    const widgets::CChartView& view = chart_->view;
    vyLine_.labelText = a ? QString::asprintf("a = %.3f", *a) : QString();
    vyLine_.labelX = view.xMin + view.xSpan / 2;
    vyLine_.labelY = view.yMin + view.ySpan / 2;
}

void CDlgTdAcoustics::DrawLine(widgets::CChartSeries& series, double k, double b)
{
    const widgets::CChartView& view = chart_->view;
    const double xMax = view.xMin + view.xSpan;
    series.Clear();
    series.Append(view.xMin, k * view.xMin + b);
    series.Append(xMax, k * xMax + b);
}

// --- layout ------------------------------------------------------------------------------------------

void CDlgTdAcoustics::LayoutWindow()
{
    LayoutSideTableWindow(RecordingColumn(kAnalysis));
}

}  // namespace zelkor::experiments
