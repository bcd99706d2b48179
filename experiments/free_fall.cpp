#include "free_fall.h"

#include "device/demo_cues.h"
#include "widgets/app_setup.h"
#include "widgets/choice_buttons.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <QStyle>

#include <cmath>

namespace zelkor::experiments {

namespace {

constexpr int kButtonWidth = 91;
constexpr int kButtonHeight = 36;
constexpr int kHalfButtonWidth = 45;
constexpr int kButtonStep = 37;
constexpr int kGroupStep = 56;
constexpr int kColumnRight = 41;
constexpr int kColumnHeight = 422;
constexpr int kWrapTop = 50;
constexpr int kWrapShift = 100;
constexpr double kRestTolerance = -0.005;  // recorded while below this much above the release point
constexpr double kMinDropHeightChange = 0.2;

CRecordingExperiment::Setup FreeFallSetup()
{
    CRecordingExperiment::Setup s;
    s.experimentIndex = kFreeFallIndex;
    s.transformIndex = 2;
    s.exportFolder = QString::fromUtf8(output::kFreeFallFolder);
    s.tableRows = 101;
    s.columnWidth = 96;
    s.importColumns = 3;
    return s;
}

// A height the experiment can use: positive and finite ("1e999" reads as infinity, "nan" as NaN).
bool UsableHeight(double h)
{
    return h > 0.0 && std::isfinite(h);
}

}  // namespace

CDlgTdFreelyFall::CDlgTdFreelyFall(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CRecordingExperiment(key, FreeFallSetup(), parent, std::move(platform))
{
    using widgets::Initially;
    InitFrame(QStringLiteral("自由落体"));

    SetCaptionFont(widgets::BoldSansCaptionFont());
    AddButton(kIdZero, QStringLiteral("零点设置"), kFaceSetting);
    AddButton(kIdCalibrate, QStringLiteral("竖直校准"), kFaceSetting);
    AddButton(kIdStartRecording, QStringLiteral("开始记录"), kFaceStart);
    StyleFrameButton(acquisition::kIdStop, QStringLiteral("停止记录"), kFaceStop, Initially::Disabled);
    AddButton(kIdComponentX, QStringLiteral("X"), kFaceSetting, Initially::Disabled);
    AddButton(kIdComponentY, QStringLiteral("Y"), kFaceSetting, Initially::Disabled);
    AddButton(kIdAcceleration, QStringLiteral("加速度"), kFaceSetting, Initially::Disabled);
    AddButton(kIdClear, QStringLiteral("清屏"), kFaceSetting, Initially::Disabled);
    AddButton(kIdImport, QStringLiteral("数据导入"), kFaceFile);
    AddButton(kIdExport, QStringLiteral("数据导出"), kFaceFile, Initially::Disabled);
    AddButton(kIdColours, QStringLiteral("颜色设置"), kFaceColours);
    StyleFrameButton(acquisition::kIdStart, QStringLiteral("开始记录"), kFaceStart, Initially::Hidden);
    AddButton(kIdDeleteRows, QString(), kFaceSetting, Initially::Hidden);
    StyleFrameButton(acquisition::kIdSnapshot, QString(), kFaceStart);
    StyleFrameButton(acquisition::kIdBack, QString(), kFaceStart);

    CreateDropHeightControls();
    CreateChart(true);

    connect(Button(kIdZero), &QPushButton::clicked, this, &CDlgTdFreelyFall::ZeroSetting);
    connect(Button(kIdCalibrate), &QPushButton::clicked, this, &CDlgTdFreelyFall::VerticalCalibration);
    connect(Button(kIdStartRecording), &QPushButton::clicked, this, &CDlgTdFreelyFall::StartRecording);
    connect(FrameButton(acquisition::kIdStop), &QPushButton::clicked, this, &CDlgTdFreelyFall::StopRecording);
    connect(Button(kIdComponentX), &QPushButton::clicked, this, [this] { ToggleComponent(horizontal_, true); });
    connect(Button(kIdComponentY), &QPushButton::clicked, this, [this] { ToggleComponent(vertical_, false); });
    connect(Button(kIdAcceleration), &QPushButton::clicked, this, &CDlgTdFreelyFall::Acceleration);
    connect(Button(kIdClear), &QPushButton::clicked, this, &CDlgTdFreelyFall::Clear);
    connect(Button(kIdDeleteRows), &QPushButton::clicked, this, &CDlgTdFreelyFall::DeleteSelectedRows);
    connect(Button(kIdImport), &QPushButton::clicked, this, &CDlgTdFreelyFall::ImportRecords);
    connect(Button(kIdExport), &QPushButton::clicked, this, &CDlgTdFreelyFall::ExportRecords);
    connect(Button(kIdColours), &QPushButton::clicked, this, &CDlgTdFreelyFall::EditColours);

    SetChartView();
    RebuildLabelTexts();
    LayoutWindow();
}

// --- start-up ----------------------------------------------------------------------------------------

void CDlgTdFreelyFall::showEvent(QShowEvent* e)
{
    CRecordingExperiment::showEvent(e);
    if (!startUpQueued_) {
        startUpQueued_ = true;
        QueueStartUp([this] { StartUp(); });
    }
}

void CDlgTdFreelyFall::StartUp()
{
    startedUp_ = true;
    const double h = ReadDropHeightField();
    if (!UsableHeight(h)) {
        widgets::ShowMessage(this, QStringLiteral("请输入下落高度！"));
        return;
    }
    dropHeight_ = h;
    Reset();
    SetChartView();
    RefreshChart();
    StartAcquisition();
}

void CDlgTdFreelyFall::Reset()
{
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    shown_.x = shown_.y = 0.0;
    time_ = 0.0;
    recording_ = false;
    marker_.visible = false;
    trajectory_.visible = false;
    Empty(horizontal_);
    Empty(vertical_);
}

void CDlgTdFreelyFall::SetChartView()
{
    widgets::CChartView& v = chart_->view;
    v.xName = QStringLiteral("X");
    v.xUnit = QStringLiteral("m");
    v.xMin = -0.2;
    v.xSpan = 0.4;
    v.xMax = 0.2;
    v.yName = QStringLiteral("Y");
    v.yUnit = QStringLiteral("m");
    v.yMin = -0.06;
    v.ySpan = dropHeight_ + 0.06;
    v.yMax = dropHeight_;
    v.yUp = false;
    v.equalScale = true;
    v.adaptX = false;
    v.xLabelHeight = 25;
    v.yLabelHeight = 25;
    v.xArrow = false;
    v.yArrow = false;
    v.xLabels = false;
    v.xMajorStep = 0.2;
    v.yMajorStep = 0.2;
    v.autoXStep = false;
    v.autoYStep = false;
    v.xMirrored = false;
    chart_->reverseDecreasing = false;
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdFreelyFall::RefreshView()
{
    DrainSamples();
}

void CDlgTdFreelyFall::OnSample()
{
    if (!recording_) {
        MoveMarker();
        return;
    }
    const double y = shown_.y;
    if ((nextTableRow_ > 1 && y > dropHeight_) || nextTableRow_ > static_cast<unsigned>(TableCapacity())) {
        StopRecording();
        return;
    }
    if (y > kRestTolerance) {
        marker_.visible = false;
        trajectory_.visible = true;
        AppendRecord({shown_.x, y, time_});
        time_ += static_cast<double>(timeStep_);
    }
}

// --- operations --------------------------------------------------------------------------------------

void CDlgTdFreelyFall::VerticalCalibration()
{
    // A point level with the release point (Y = 0) cannot tell which way is down: the angle would
    // be ±90 degrees by the sign of a zero, or NaN at the release point itself.
    if (shown_.y >= 0.0) {
        widgets::ShowMessage(this, QStringLiteral("校准距离不足！"));
        return;
    }
    frame_.theta += std::atan(shown_.x / shown_.y);
    frame_.rotationOn = true;
    device::SendDemoCue(device::DemoCue::CalibrationSet);
}

void CDlgTdFreelyFall::StartRecording()
{
    recording_ = true;
    ClearRecords();
    marker_.visible = false;
    Empty(trajectory_);
    Empty(horizontal_);
    Empty(vertical_);
    // Import stays off too: it would replace the records of the recording under way.
    SetEnabled({kIdRadio25Hz, kIdRadio50Hz, kIdZero, kIdCalibrate, kIdStartRecording, kIdImport}, false);
    SetEnabled({acquisition::kIdStop}, true);
    RefreshChart();
    device::SendDemoCue(device::DemoCue::RecordingStarted);
}

void CDlgTdFreelyFall::ApplyStoppedButtons()
{
    SetEnabled({acquisition::kIdStop}, false);
    SetEnabled({kIdStartRecording, kIdCalibrate, kIdZero, kIdRadio25Hz, kIdRadio50Hz, kIdImport}, true);
    if (!records_.empty())
        SetEnabled(DataButtons(), true);
}

void CDlgTdFreelyFall::StopRecording()
{
    const bool wasRecording = recording_;
    recording_ = false;
    marker_.visible = true;
    ApplyStoppedButtons();
    RefreshChart();
    if (wasRecording)
        device::SendDemoCue(device::DemoCue::RecordingStopped);
}

void CDlgTdFreelyFall::Acceleration()
{
    const auto n = static_cast<long long>(records_.size());
    if (n == 0)
        return;
    long long first = 0;
    long long last = n - 1;
    const widgets::CCellRange selection = table_->GetSelectedCellRange();
    if (selection.IsValid() && selection.maxRow > selection.minRow) {
        first = selection.minRow - 1;
        last = selection.maxRow - 1;
        if (last > n)
            last = n - 1;
    }
    const long long d = radio25_->isChecked() ? 1 : 2;
    std::vector<double> v, T;
    for (long long i = first + d; i < last - d; ++i) {
        const Record& lo = records_[static_cast<size_t>(i - d)];
        const Record& hi = records_[static_cast<size_t>(i + d)];
        v.push_back((hi.y - lo.y) / (hi.t - lo.t));
        T.push_back(records_[static_cast<size_t>(i)].t);
    }
    const size_t m = v.size();
    if (m < 3)
        return;
    double sum = 0.0;
    for (size_t j = 0; j + 2 < m; ++j)
        sum += (v[j + 2] - v[j]) / (T[j + 2] - T[j]);
    const double a = sum / static_cast<double>(m - 2);
    // Times that do not grow (an imported sheet with text in its time column) give no number.
    if (!std::isfinite(a))
        return;
    const widgets::CChartView& view = chart_->view;
    trajectory_.labelText = QString::asprintf("a = %.3f", a);
    trajectory_.labelX = view.xMin + view.xSpan / 2;
    trajectory_.labelY = view.yMin + view.ySpan / 2;
    RefreshChart();
}

void CDlgTdFreelyFall::Clear()
{
    const bool wasRecording = recording_;
    recording_ = false;
    records_.clear();
    for (widgets::CChartSeries* s : seriesList_) {
        Empty(*s);
        s->labelText.clear();
    }
    SetChartView();
    table_->ClearData(nextTableRow_);
    shown_.x = shown_.y = 0.0;
    xValue_->text = QStringLiteral("0(m)");
    yValue_->text = QStringLiteral("0(m)");
    xValue_->update();
    yValue_->update();
    // Clearing ends a recording under way; the buttons then read as after any stop.
    if (wasRecording) {
        ApplyStoppedButtons();
        device::SendDemoCue(device::DemoCue::RecordingStopped);
    }
    SetEnabled({kIdAcceleration, kIdExport, kIdClear}, false);
    RefreshChart();
    device::SendDemoCue(device::DemoCue::Cleared);
}

std::vector<int> CDlgTdFreelyFall::DataButtons() const
{
    return {kIdComponentX, kIdComponentY, kIdAcceleration, kIdExport, kIdClear};
}

bool CDlgTdFreelyFall::AcceptsImportedRow(const Record& record) const
{
    return record.y < dropHeight_;
}

void CDlgTdFreelyFall::DropHeightChanged()
{
    const double h = ReadDropHeightField();
    if (!(h > kMinDropHeightChange) || !std::isfinite(h) || h == dropHeight_)
        return;
    dropHeight_ = h;
    SetChartView();
    RefreshChart();
}

// --- layout ------------------------------------------------------------------------------------------

void CDlgTdFreelyFall::resizeEvent(QResizeEvent* e)
{
    CRecordingExperiment::resizeEvent(e);
    LayoutWindow();
}

void CDlgTdFreelyFall::LayoutWindow()
{
    const int w = width();
    const int h = height();

    // The button column, wrapping to a new column further left when it reaches the frame buttons.
    struct Slot {
        int first, second;  // second: the right half of a shared row, or 0
        int stepBefore;
    };
    const Slot column[] = {
        {kIdZero, 0, 0},
        {kIdCalibrate, 0, kButtonStep},
        {kIdStartRecording, 0, kButtonStep},
        {acquisition::kIdStop, 0, kButtonStep},
        {kIdComponentX, kIdComponentY, kButtonStep},
        {kIdAcceleration, 0, kButtonStep},
        {kIdClear, 0, kGroupStep},
        {kIdImport, 0, kGroupStep},
        {kIdExport, 0, kButtonStep},
    };
    int x = w - kColumnRight - kButtonWidth;
    int y = (h - 40 - kColumnHeight) / 2;
    bool firstSlot = true;
    for (const Slot& slot : column) {
        if (!firstSlot)
            y += slot.stepBefore;
        if (!firstSlot && y + kButtonHeight > h - 72) {
            y = kWrapTop;
            x -= kWrapShift;
        }
        firstSlot = false;
        if (slot.second) {
            if (QWidget* left = widgets::FindControl<QWidget>(this, slot.first))
                left->setGeometry(x, y, kHalfButtonWidth, kButtonHeight);
            if (QWidget* right = widgets::FindControl<QWidget>(this, slot.second))
                right->setGeometry(x + kButtonWidth - kHalfButtonWidth, y, kHalfButtonWidth, kButtonHeight);
        } else if (QWidget* button = widgets::FindControl<QWidget>(this, slot.first)) {
            button->setGeometry(x, y, kButtonWidth, kButtonHeight);
        }
    }

    if (QWidget* snapshot = FrameButton(acquisition::kIdSnapshot))
        snapshot->setGeometry(w - 95, h - 72, 54, 31);
    if (QWidget* back = FrameButton(acquisition::kIdBack))
        back->setGeometry(w - 95, h - 41, 54, 31);
    QWidget* close = FrameButton(acquisition::kIdClose);
    QWidget* minimise = FrameButton(acquisition::kIdMinimise);
    if (close && minimise) {
        close->move(w - close->width() - 10, 10);
        minimise->move(close->x() - minimise->width(), 10);
    }

    // Label rows at the bottom, table and chart side by side above them.
    const int th = LabelTextHeight();
    const int lowerTop = h - 10 - th;
    const int upperTop = lowerTop - th;
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table_);
    const int header = table_->GetRowHeight(0);
    const int left = (w - kColumnRight - scrollBar - 691) / 2;
    const int top = 50 + header;
    const int bottom = std::max(top + 1, upperTop - 20 - header);
    table_->setGeometry(left, top, 200 + scrollBar, bottom - top);
    chart_->setGeometry(left + 200 + scrollBar + 5, top, 400, bottom - top);

    const int rowEnd = LayoutCoordinateRow(left, upperTop);
    rateBox_->setGeometry(rowEnd, upperTop, RateBoxWidth(), th);
    LayoutDropHeightRow(left, lowerTop);
    RebuildLabelTexts();
}

}  // namespace zelkor::experiments
