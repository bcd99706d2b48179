#include "free_fall.h"

#include "numerics/fits.h"
#include "widgets/app_setup.h"
#include "widgets/choice_buttons.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <cmath>

namespace zelkor::experiments {

namespace {

CRecordingExperiment::Setup FreeFallSetup()
{
    CRecordingExperiment::Setup s;
    s.experimentIndex = kFreeFallIndex;
    s.title = QStringLiteral("自由落体");
    s.transformIndex = 2;
    s.captionFont = widgets::BoldSansCaptionFont();
    s.rotationSign = 1;
    s.plotBorder = true;
    s.exportFolder = QString::fromUtf8(output::kFreeFallFolder);
    s.tableRows = 101;
    s.columnWidth = 96;
    s.importColumns = 3;
    return s;
}

// The window's own button between the component toggles and "清屏".
const std::vector<CRecordingExperiment::ButtonSpec> kAnalysis = {
    {kIdAcceleration, "加速度", kFaceSetting, Initially::Disabled},
};

}  // namespace

CDlgTdFreelyFall::CDlgTdFreelyFall(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CRecordingExperiment(key, FreeFallSetup(), RecordingButtons("竖直校准", kAnalysis), parent, std::move(platform))
{
    connect(Button(kIdAcceleration), &QPushButton::clicked, this, &CDlgTdFreelyFall::Acceleration);
    SetChartView();
    LayoutWindow();
}

void CDlgTdFreelyFall::SetChartView()
{
    widgets::CChartView v = PositionView(-0.2, 0.4, -0.06, dropHeight_ + 0.06, false);
    v.xLabels = false;
    chart_->view = v;
    chart_->reverseDecreasing = false;
}

// Recording: the first point beyond the drop height ends the recording (from the second record on),
// and so does a full table; points above the release point are not recorded.
void CDlgTdFreelyFall::OnSample()
{
    if (!recording_) {
        MoveMarker();
        return;
    }
    if ((nextTableRow_ > 1 && shown_.y > dropHeight_) || nextTableRow_ > static_cast<unsigned>(TableCapacity())) {
        StopRecording();
        return;
    }
    if (shown_.y > kRestTolerance)
        RecordShownPosition();
}

void CDlgTdFreelyFall::Calibrate()
{
    // A point level with the release point (Y = 0) cannot tell which way is down: the angle would
    // be ±90 degrees by the sign of a zero, or NaN at the release point itself.
    if (shown_.y >= 0.0) {
        widgets::ShowMessage(this, QString::fromUtf8(kCalibrationTooShort));
        return;
    }
    AddCalibrationAngle(std::atan(shown_.x / shown_.y));
}

void CDlgTdFreelyFall::Acceleration()
{
    if (records_.empty())
        return;
    const widgets::CCellRange selection = table_->GetSelectedCellRange();
    const numerics::RecordRange range = numerics::SelectedRecords(records_.size(), selection.minRow, selection.maxRow);
    std::vector<double> t, y;
    for (const Record& r : records_) {
        t.push_back(r.t);
        y.push_back(r.y);
    }
    const int d = radio25_->isChecked() ? 1 : 2;
    const std::optional<double> a = numerics::FreeFallAcceleration(t, y, range, d);
    // Without a result (too few velocities, times that do not grow) no earlier label stays over
    // these data.
    trajectory_.labelText = a ? QString::asprintf("a = %.3f", *a) : QString();
    const widgets::CChartView& view = chart_->view;
    trajectory_.labelX = view.xMin + view.xSpan / 2;
    trajectory_.labelY = view.yMin + view.ySpan / 2;
    RefreshChart();
}

std::vector<int> CDlgTdFreelyFall::DataButtons() const
{
    return {kIdComponentX, kIdComponentY, kIdAcceleration, kIdExport, kIdClear};
}

std::vector<int> CDlgTdFreelyFall::ClearedButtons() const
{
    // 246 and 247 keep their state; they do nothing while the list is empty.
    return {kIdAcceleration, kIdExport, kIdClear};
}

bool CDlgTdFreelyFall::AcceptsImportedRow(const Record& record) const
{
    return record.y < dropHeight_;
}

// The button column centred on the window's height; table and chart side by side in the middle, the
// label rows below them from the table's left edge.
void CDlgTdFreelyFall::LayoutWindow()
{
    const int w = width();
    const int h = height();
    LayoutButtonColumn(RecordingColumn(kAnalysis), (h - 40 - 422) / 2);
    PlaceFrameButtons();
    const int th = LabelTextHeight();
    const int lowerTop = h - 10 - th;
    const int upperTop = lowerTop - th;
    const int scrollBar = ScrollBarWidth();
    const int header = table_->GetRowHeight(0);
    const int left = (w - 41 - scrollBar - 691) / 2;
    const int top = 50 + header;
    const int bottom = std::max(top + 1, upperTop - 20 - header);
    table_->setGeometry(left, top, 200 + scrollBar, bottom - top);
    chart_->setGeometry(left + 200 + scrollBar + 5, top, 400, bottom - top);
    LayoutLabelRows(left, upperTop, lowerTop);
    RebuildLabelTexts();
}

}  // namespace zelkor::experiments
