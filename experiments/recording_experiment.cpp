#include "recording_experiment.h"

#include "device/demo_cues.h"
#include "device/sensor_protocol.h"
#include "output/colour_settings.h"
#include "widgets/app_setup.h"
#include "widgets/choice_buttons.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"
#include "widgets/zel_messages.h"

#include <QFontMetrics>
#include <QStyle>

#include <cmath>

namespace zelkor::experiments {

using widgets::CChartSeries;
using widgets::CPictureButton;
using widgets::CZelFormattedTextBox;

namespace {

constexpr int kButtonWidth = 91;
constexpr int kButtonHeight = 36;
constexpr int kHalfButtonWidth = 45;
constexpr int kButtonStep = 37;
constexpr int kGroupStep = 56;
constexpr int kColumnRight = 41;
constexpr int kColumnBottom = 72;  // the column wraps rather than reach the frame buttons
constexpr int kWrapTop = 50;
constexpr int kWrapShift = 100;
constexpr int kFrameRight = 31;
constexpr double kMinDropHeightChange = 0.2;

// A height the experiment can use: positive and finite ("1e999" reads as infinity, "nan" as NaN).
bool UsableHeight(double h)
{
    return h > 0.0 && std::isfinite(h);
}

bool IsFrameButton(int id)
{
    return id == acquisition::kIdStart || id == acquisition::kIdStop || id == acquisition::kIdSnapshot ||
           id == acquisition::kIdBack;
}

// A cell that is no number (NaN, infinity) reads as 0, the way text cells do.
double ImportedNumber(const std::vector<double>& row, std::size_t column)
{
    const double v = column < row.size() ? row[column] : 0.0;
    return std::isfinite(v) ? v : 0.0;
}

}  // namespace

PositionFrame::Shown PositionFrame::Apply(double sampleX, double sampleY) const
{
    Shown s;
    s.xOffset = sampleX - x0;
    s.yOffset = sampleY - y0;
    s.x = s.xOffset;
    s.y = s.yOffset;
    if (rotationOn) {
        const double c = std::cos(theta);
        const double sn = std::sin(theta);
        if (rotationSign >= 0) {
            s.x = s.xOffset * c - s.yOffset * sn;
            s.y = s.xOffset * sn + s.yOffset * c;
        } else {
            s.x = s.xOffset * c + s.yOffset * sn;
            s.y = -s.xOffset * sn + s.yOffset * c;
        }
    }
    return s;
}

std::vector<CRecordingExperiment::ButtonSpec> CRecordingExperiment::RecordingButtons(
    const char* calibration, const std::vector<ButtonSpec>& analysis)
{
    std::vector<ButtonSpec> b = {
        {kIdZero, "零点设置", kFaceSetting},
        {kIdCalibrate, calibration, kFaceSetting},
        {kIdStartRecording, "开始记录", kFaceStart},
        {acquisition::kIdStop, "停止记录", kFaceStop, Initially::Disabled},
        {kIdComponentX, "X", kFaceSetting, Initially::Disabled},
        {kIdComponentY, "Y", kFaceSetting, Initially::Disabled},
    };
    b.insert(b.end(), analysis.begin(), analysis.end());
    b.insert(b.end(), {
                          {kIdClear, "清屏", kFaceSetting, Initially::Disabled},
                          {kIdImport, "数据导入", kFaceFile},
                          {kIdExport, "数据导出", kFaceFile, Initially::Disabled},
                          {kIdColours, "颜色设置", kFaceColours},
                          {acquisition::kIdStart, "开始记录", kFaceStart, Initially::Hidden},
                          {kIdDeleteRows, "", kFaceSetting, Initially::Hidden},
                          {acquisition::kIdSnapshot, "", kFaceStart},
                          {acquisition::kIdBack, "", kFaceStart},
                      });
    return b;
}

std::vector<CRecordingExperiment::ColumnSlot> CRecordingExperiment::RecordingColumn(const std::vector<ButtonSpec>& analysis)
{
    std::vector<ColumnSlot> column = {{kIdZero}, {kIdCalibrate}, {kIdStartRecording}, {acquisition::kIdStop},
                                      {kIdComponentX, kIdComponentY}};
    for (const ButtonSpec& b : analysis)
        column.push_back({b.id});
    column.insert(column.end(), {{kIdClear, 0, true}, {kIdImport, 0, true}, {kIdExport}});
    return column;
}

// --- construction ------------------------------------------------------------------------------------

CRecordingExperiment::CRecordingExperiment(CWindowKey key, const Setup& setup, const std::vector<ButtonSpec>& buttons,
                                           QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, setup.experimentIndex, parent, std::move(platform)), setup_(setup)
{
    m_transformIndex = setup.transformIndex;
    frame_.rotationSign = setup.rotationSign;
    InitFrame(setup.title);
    SetCaptionFont(setup.captionFont);
    for (const ButtonSpec& b : buttons) {
        const QString caption = QString::fromUtf8(b.caption);
        if (IsFrameButton(b.id))
            StyleFrameButton(b.id, caption, b.face, b.state);
        else
            AddButton(b.id, caption, b.face, b.state);
    }

    marker_.style = trajectory_.style = horizontal_.style = vertical_.style = widgets::kStyleMarkers;
    marker_.markerRadius = 8;
    trajectory_.markerRadius = horizontal_.markerRadius = vertical_.markerRadius = 5;
    marker_.markerColour = trajectory_.markerColour = QColor(255, 0, 0);
    horizontal_.markerColour = vertical_.markerColour = QColor(0, 0, 255);
    seriesList_ = {&marker_, &trajectory_, &horizontal_, &vertical_};
    for (CChartSeries* s : seriesList_)
        Empty(*s);

    table_ = new widgets::CDataTable(this);
    table_->Create(QRect(0, 0, 10, 10), this, kIdTable);
    widgets::CDataTableSettings settings;
    settings.rows = setup.tableRows;
    settings.columns = 2;
    settings.columnWidths = {setup.columnWidth, setup.columnWidth};
    settings.headers = {{QStringLiteral("\\math{X}\\text{(m)}"), QStringLiteral("X(m)")},
                        {QStringLiteral("\\math{Y}\\text{(m)}"), QStringLiteral("Y(m)")}};
    settings.centreHeaders = setup.centreHeaders;
    table_->ApplyCommonSettings(settings);
    table_->contextMenuCondition = [this] { return !records_.empty(); };
    connect(table_, &widgets::CDataTable::commandIssued, this, [this](int command) {
        if (command == widgets::kDeleteSelectedCommand)
            DeleteSelectedRows();
    });

    // The chart before the height field: a change of the field's text sets the chart's view.
    chart_ = new widgets::CDataChartPanel(this, false, false);
    widgets::SetControlId(chart_, kIdChart);
    chart_->view.plotBorder = setup.plotBorder;
    chart_->view.plotBackground = QColor(255, 251, 240);
    chart_->panelBackground = QColor(255, 251, 240);
    chart_->view.minorGridColour = QColor(160, 160, 160);
    chart_->view.majorGridColour = QColor(160, 160, 160);
    chart_->show();
    chart_->SetSeriesList(seriesList_);

    xCaption_ = widgets::AddTextBox(this, kIdXCaption);
    xValue_ = widgets::AddTextBox(this, kIdXValue);
    yCaption_ = widgets::AddTextBox(this, kIdYCaption);
    yValue_ = widgets::AddTextBox(this, kIdYValue);
    if (setup.dropHeight)
        CreateDropHeightControls();

    auto bind = [this](int id, auto slot) {
        if (QPushButton* b = Button(id))
            connect(b, &QPushButton::clicked, this, slot);
    };
    bind(kIdZero, [this] { ZeroSetting(); });
    bind(kIdCalibrate, [this] { Calibrate(); });
    bind(kIdStartRecording, [this] { StartRecording(); });
    bind(acquisition::kIdStop, [this] { StopRecording(); });
    bind(kIdComponentX, [this] { ToggleComponent(horizontal_, true); });
    bind(kIdComponentY, [this] { ToggleComponent(vertical_, false); });
    bind(kIdClear, [this] { Clear(); });
    bind(kIdDeleteRows, [this] { DeleteSelectedRows(); });
    bind(kIdImport, [this] { ImportRecords(); });
    bind(kIdExport, [this] { ExportRecords(); });
    bind(kIdColours, [this] { EditColours(); });
}

CRecordingExperiment::~CRecordingExperiment()
{
    // The chart must not keep pointers to series that go before it.
    if (chart_)
        chart_->SetSeriesList({});
}

const CChartSeries& CRecordingExperiment::Series(int index) const
{
    return *seriesList_.at(static_cast<size_t>(index));
}

int CRecordingExperiment::TableCapacity() const
{
    return setup_.tableRows - 1;
}

// --- start-up ----------------------------------------------------------------------------------------

void CRecordingExperiment::showEvent(QShowEvent* e)
{
    CDlgTdExpBase::showEvent(e);
    if (!startUpQueued_) {
        startUpQueued_ = true;
        QueueStartUp([this] { StartUp(); });
    }
}

void CRecordingExperiment::StartUp()
{
    startedUp_ = true;
    if (setup_.dropHeight) {
        const double h = ReadDropHeightField();
        if (!UsableHeight(h)) {
            widgets::ShowMessage(this, QStringLiteral("请输入下落高度！"));
            return;
        }
        dropHeight_ = h;
    }
    Reset();
    SetChartView();
    RefreshChart();
    StartAcquisition();
}

void CRecordingExperiment::Reset()
{
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    shown_.x = shown_.y = 0.0;
    time_ = 0.0;
    recording_ = false;
    marker_.visible = false;
    trajectory_.visible = false;
    for (size_t i = 2; i < seriesList_.size(); ++i)
        Empty(*seriesList_[i]);
    OnReset();
}

// --- samples -----------------------------------------------------------------------------------------

void CRecordingExperiment::RefreshView()
{
    const bool any = TakeQueuedSamples([this](const _DataPck& sample) {
        if (TakeSample(sample))
            OnSample();
    });
    // Once per tick rather than once per sample: the picture is the same.
    if (any)
        RefreshChart();
}

bool CRecordingExperiment::TakeSample(const _DataPck& sample)
{
    if (device::HasTimeField(m_secondVersion.load()))
        timeStep_ = sample.interval;
    const PositionFrame::Shown s = frame_.Apply(sample.x, sample.y);
    // A dropped sample (NaN fails the test too) leaves no trace, so a zero point or a calibration
    // taken right after it still refers to the last position that was accepted.
    if (!(s.x < limit_ && s.y < limit_))
        return false;
    shown_ = s;
    ShowValuesPlain();
    return true;
}

void CRecordingExperiment::MoveMarker()
{
    marker_.visible = true;
    marker_.Clear();
    marker_.Append(shown_.x, shown_.y);
}

void CRecordingExperiment::RecordShownPosition()
{
    marker_.visible = false;
    trajectory_.visible = true;
    AppendRecord({shown_.x, shown_.y, time_});
    time_ += static_cast<double>(timeStep_);
}

void CRecordingExperiment::ZeroSetting()
{
    frame_.x0 += shown_.xOffset;
    frame_.y0 += shown_.yOffset;
    frame_.rotationOn = false;
    frame_.theta = 0.0;
    device::SendDemoCue(device::DemoCue::ZeroSet);
}

void CRecordingExperiment::AddCalibrationAngle(double angle)
{
    // A NaN angle would turn every later position into NaN: nothing would show or record any more.
    if (!std::isfinite(angle))
        return;
    frame_.theta += angle;
    frame_.rotationOn = true;
    device::SendDemoCue(device::DemoCue::CalibrationSet);
}

// --- recording ---------------------------------------------------------------------------------------

void CRecordingExperiment::StartRecording()
{
    recording_ = true;
    ClearRecords();
    marker_.visible = false;
    for (size_t i = 1; i < seriesList_.size(); ++i)
        Empty(*seriesList_[i]);
    // Import stays off too: it would replace the records of the recording under way.
    SetEnabled({kIdRadio25Hz, kIdRadio50Hz, kIdZero, kIdCalibrate, kIdStartRecording, kIdImport}, false);
    SetEnabled({acquisition::kIdStop}, true);
    RefreshChart();
    device::SendDemoCue(device::DemoCue::RecordingStarted);
}

void CRecordingExperiment::ApplyStoppedButtons()
{
    SetEnabled({acquisition::kIdStop}, false);
    SetEnabled({kIdStartRecording, kIdCalibrate, kIdZero, kIdRadio25Hz, kIdRadio50Hz, kIdImport}, true);
    if (!records_.empty())
        SetEnabled(DataButtons(), true);
}

void CRecordingExperiment::StopRecording()
{
    const bool wasRecording = recording_;
    recording_ = false;
    marker_.visible = true;
    ApplyStoppedButtons();
    RefreshChart();
    if (wasRecording)
        device::SendDemoCue(device::DemoCue::RecordingStopped);
}

void CRecordingExperiment::Clear()
{
    const bool wasRecording = recording_;
    recording_ = false;
    records_.clear();
    for (CChartSeries* s : seriesList_) {
        Empty(*s);
        s->labelText.clear();
    }
    OnClear();
    SetChartView();
    table_->ClearData(nextTableRow_);
    shown_.x = shown_.y = 0.0;
    xValue_->SetText(QStringLiteral("0(m)"));
    yValue_->SetText(QStringLiteral("0(m)"));
    // Clearing ends a recording under way; the buttons then read as after any stop.
    if (wasRecording) {
        ApplyStoppedButtons();
        device::SendDemoCue(device::DemoCue::RecordingStopped);
    }
    SetEnabled(ClearedButtons(), false);
    RefreshChart();
    device::SendDemoCue(device::DemoCue::Cleared);
}

// --- chart -------------------------------------------------------------------------------------------

void CRecordingExperiment::RefreshChart()
{
    chart_->SetSeriesList(seriesList_);
    chart_->Redraw();
}

widgets::CChartView CRecordingExperiment::FreshView() const
{
    const widgets::CChartView& now = chart_->view;
    widgets::CChartView v;
    v.plotBorder = now.plotBorder;
    v.xAxisColour = now.xAxisColour;
    v.yAxisColour = now.yAxisColour;
    v.plotBackground = now.plotBackground;
    v.minorGridColour = now.minorGridColour;
    v.majorGridColour = now.majorGridColour;
    return v;
}

widgets::CChartView CRecordingExperiment::PositionView(double xMin, double xSpan, double yMin, double ySpan,
                                                       bool adaptX) const
{
    widgets::CChartView v = FreshView();
    v.xName = QStringLiteral("X");
    v.xUnit = QStringLiteral("m");
    v.xMin = xMin;
    v.xSpan = xSpan;
    v.xMax = xMin + xSpan;
    v.yName = QStringLiteral("Y");
    v.yUnit = QStringLiteral("m");
    v.yMin = yMin;
    v.ySpan = ySpan;
    v.yMax = yMin + ySpan;
    v.yUp = false;
    v.equalScale = true;
    v.adaptX = adaptX;
    v.xLabelHeight = v.yLabelHeight = 25;
    v.xArrow = v.yArrow = false;
    v.xMajorStep = v.yMajorStep = 0.2;
    v.autoXStep = v.autoYStep = false;
    v.xMirrored = false;
    return v;
}

void CRecordingExperiment::Empty(CChartSeries& s, bool hide)
{
    s.Clear();
    if (hide)
        s.visible = false;
}

// --- records -----------------------------------------------------------------------------------------

void CRecordingExperiment::AppendRecord(const Record& record)
{
    const size_t before = trajectory_.x.size();
    chart_->IncrementalAppend(trajectory_, record.x, record.y);
    // Without auto-scroll the chart refuses a point beyond its view. Series 1 keeps it all the same
    // (clipped when drawn), so that it stays row for row with the record list and the table, and a
    // later deletion or component copy takes the right points.
    if (trajectory_.x.size() == before)
        trajectory_.Append(record.x, record.y);
    records_.push_back(record);
    table_->SetItemText(static_cast<int>(nextTableRow_), 0, Fixed3(record.x));
    table_->SetItemText(static_cast<int>(nextTableRow_), 1, Fixed3(record.y));
    ++nextTableRow_;
}

void CRecordingExperiment::ClearRecords()
{
    records_.clear();
    table_->ClearData(nextTableRow_);
}

void CRecordingExperiment::HideOnDelete()
{
    horizontal_.visible = false;
    vertical_.visible = false;
}

void CRecordingExperiment::HideOnImport()
{
    horizontal_.visible = false;
    vertical_.visible = false;
}

void CRecordingExperiment::DeleteSelectedRows()
{
    const widgets::RowDeletion deletion = table_->DeleteSelectedRows(nextTableRow_);
    if (!deletion.proceed)
        return;
    HideOnDelete();
    widgets::EraseDeletedRecords(trajectory_.x, deletion);
    widgets::EraseDeletedRecords(trajectory_.y, deletion);
    widgets::EraseDeletedRecords(records_, deletion);
    trajectory_.firstDrawn = 0;
    trajectory_.numberDrawn = static_cast<int>(trajectory_.x.size());
    if (!records_.empty() && deletion.count > 0)
        AfterRowsDeleted(deletion);
    RefreshChart();
    table_->Refresh();
    if (records_.empty())
        SetEnabled(DataButtons(), false);
}

void CRecordingExperiment::ToggleComponent(CChartSeries& series, bool horizontalComponent)
{
    if (records_.empty())
        return;
    series.visible = !series.visible;
    if (series.visible) {
        series.numberDrawn = trajectory_.numberDrawn;
        series.x.clear();
        series.y.clear();
        if (horizontalComponent) {
            series.x = trajectory_.x;
            series.y.assign(trajectory_.x.size(), kComponentOffset);
        } else {
            series.y = trajectory_.y;
            series.x.assign(trajectory_.y.size(), kComponentOffset);
        }
        series.firstDrawn = 0;
    }
    RefreshChart();
}

void CRecordingExperiment::ImportRecords()
{
    output::ImportResult result = output::ImportWorkbook(this, setup_.exportFolder);
    if (result.status != output::ImportResult::Status::Loaded || !result.workbook)
        return;
    const std::vector<std::vector<double>> rows = output::ReadImportedRows(*result.workbook, setup_.importColumns);
    result.workbook.reset();

    HideOnImport();
    ClearRecords();
    trajectory_.visible = true;
    Empty(trajectory_, false);
    const auto capacity = static_cast<size_t>(TableCapacity());
    size_t leftOut = 0;
    for (const std::vector<double>& row : rows) {
        const Record r{ImportedNumber(row, 0), ImportedNumber(row, 1), ImportedNumber(row, 2)};
        if (!AcceptsImportedRow(r))
            continue;
        // The table has a fixed number of rows; the record list and series 1 stop where it does.
        if (records_.size() >= capacity) {
            ++leftOut;
            continue;
        }
        trajectory_.Append(r.x, r.y);
        records_.push_back(r);
        table_->SetItemText(static_cast<int>(nextTableRow_), 0, Fixed3(r.x));
        table_->SetItemText(static_cast<int>(nextTableRow_), 1, Fixed3(r.y));
        ++nextTableRow_;
    }
    RefreshChart();
    table_->Refresh();
    SetEnabled(DataButtons(), true);
    if (leftOut > 0)
        widgets::ShowMessage(this, QStringLiteral("表格最多容纳%1行数据，其余%2行未导入！")
                                       .arg(capacity)
                                       .arg(leftOut));
}

void CRecordingExperiment::ExportRecords()
{
    const auto columns = static_cast<size_t>(setup_.exportHeaders.size());
    std::vector<std::vector<double>> rows;
    rows.reserve(records_.size());
    for (const Record& r : records_) {
        std::vector<double> row = {r.x, r.y, r.t};
        row.resize(columns);
        rows.push_back(std::move(row));
    }
    output::ExportWorkbook(this, setup_.exportFolder, setup_.exportHeaders, rows);
}

void CRecordingExperiment::EditColours()
{
    output::EditColours(this, *chart_, *table_);
}

// --- drop height -------------------------------------------------------------------------------------

void CRecordingExperiment::CreateDropHeightControls()
{
    rateBox_ = widgets::AddTextBox(this, kIdFrequencyBox);
    rateCaption_ = widgets::AddTextBox(this, kIdRateCaption);
    heightBox_ = widgets::AddTextBox(this, kIdHeightBox);
    heightEdit_ = widgets::AddValueEdit(heightBox_, kIdHeightEdit, 20, QStringLiteral("0.80"));
    const acquisition::FrequencyRadios radios =
        AddFrequencyRadios([this](double hz) { timeStep_ = hz == 25.0 ? 0.04f : 0.02f; });
    radio25_ = radios.r25;
    radio50_ = radios.r50;
}

double CRecordingExperiment::ReadDropHeightField() const
{
    return heightEdit_ ? ReadLeadingNumber(heightEdit_->text()) : 0.0;
}

void CRecordingExperiment::DropHeightChanged()
{
    const double h = ReadDropHeightField();
    if (!(h > kMinDropHeightChange) || !std::isfinite(h) || h == dropHeight_)
        return;
    dropHeight_ = h;
    // The field gets its first text while the window is still being built; its view comes later.
    if (!startedUp_)
        return;
    SetChartView();
    RefreshChart();
}

bool CRecordingExperiment::event(QEvent* e)
{
    // The height field's value-changed message, passed on by its box.
    if (e->type() == widgets::CZelMessageEvent::Type()) {
        if (static_cast<widgets::CZelMessageEvent*>(e)->Message() == widgets::kValueChangedMessage)
            DropHeightChanged();
        return true;
    }
    return CDlgTdExpBase::event(e);
}

// --- layout ------------------------------------------------------------------------------------------

void CRecordingExperiment::resizeEvent(QResizeEvent* e)
{
    CDlgTdExpBase::resizeEvent(e);
    LayoutWindow();
}

void CRecordingExperiment::paintEvent(QPaintEvent* e)
{
    CDlgTdExpBase::paintEvent(e);
    RebuildLabelTexts();
}

int CRecordingExperiment::ScrollBarWidth() const
{
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table_);
}

void CRecordingExperiment::LayoutButtonColumn(const std::vector<ColumnSlot>& column, int top)
{
    const int w = width();
    const int h = height();
    int x = w - kColumnRight - kButtonWidth;
    int y = top;
    std::vector<QRect> groups;
    for (size_t i = 0; i < column.size(); ++i) {
        const ColumnSlot& slot = column[i];
        if (i > 0)
            y += slot.newGroup ? kGroupStep : kButtonStep;
        if (i > 0 && y + kButtonHeight > h - kColumnBottom) {
            y = kWrapTop;
            x -= kWrapShift;
        }
        const QRect place(x, y, kButtonWidth, kButtonHeight);
        if (slot.pairedId) {
            if (QWidget* left = widgets::FindControl<QWidget>(this, slot.id))
                left->setGeometry(x, y, kHalfButtonWidth, kButtonHeight);
            if (QWidget* right = widgets::FindControl<QWidget>(this, slot.pairedId))
                right->setGeometry(x + kButtonWidth - kHalfButtonWidth, y, kHalfButtonWidth, kButtonHeight);
        } else if (QWidget* button = widgets::FindControl<QWidget>(this, slot.id)) {
            button->setGeometry(place);
        }
        if (groups.empty() || slot.newGroup)
            groups.push_back(place);
        else
            groups.back() |= place;
    }
    if (!setup_.groupFrames)
        return;
    const std::vector<QRect> frames = widgets::StackedGroupFrames(groups, w - kFrameRight);
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i == groupFrames_.size()) {
            auto* frame = new widgets::CGroupFrame(this);
            frame->Create(-1, frames[i], this);
            groupFrames_.push_back(frame);
        }
        groupFrames_[i]->setGeometry(frames[i]);
    }
}

void CRecordingExperiment::PlaceFrameButtons()
{
    const int w = width();
    const int h = height();
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
}

void CRecordingExperiment::LayoutSideTableWindow(const std::vector<ColumnSlot>& column)
{
    const int w = width();
    const int h = height();
    LayoutButtonColumn(column, h <= 600 ? 50 : 100);
    PlaceFrameButtons();
    const int th = LabelTextHeight();
    const int lowerTop = h - 10 - th;
    const int upperTop = lowerTop - th;
    const int scrollBar = ScrollBarWidth();
    table_->setGeometry(20, 50, 160 + scrollBar, std::max(1, h - 6 - 50));
    const int chartLeft = 195 + scrollBar;
    const int chartRight = w - kColumnRight - kButtonWidth - 10;
    chart_->setGeometry(chartLeft, 50, std::max(1, chartRight - chartLeft), std::max(1, upperTop - 10 - 50));
    LayoutLabelRows(190 + scrollBar, upperTop, lowerTop);
    RebuildLabelTexts();
}

void CRecordingExperiment::LayoutLabelRows(int x0, int upperTop, int lowerTop)
{
    const int rowEnd = LayoutCoordinateRow(x0, upperTop);
    if (rateBox_)
        rateBox_->setGeometry(rowEnd, upperTop,
                              LabelMetrics().BoxWidth(QStringLiteral("实测频率 f :   50(Hz)"), RateMarkup()),
                              LabelTextHeight());
    LayoutDropHeightRow(x0, lowerTop);
}

widgets::CLabelMetrics CRecordingExperiment::LabelMetrics() const
{
    return widgets::CLabelMetrics::Song(LabelFontSize());
}

QString CRecordingExperiment::LatinFont() const
{
    return widgets::FontMarkup(QStringLiteral("Times New Roman"), LargeLabels() ? 26 : 20);
}

int CRecordingExperiment::LayoutCoordinateRow(int x0, int top)
{
    const widgets::CLabelMetrics metrics = LabelMetrics();
    // The value markup's Times New Roman may be a little taller than the measuring text.
    widgets::CLabelRow row(x0, top, std::max(metrics.TextHeight(), LargeLabels() ? 26 : 20));
    const int captionWidth = metrics.BoxWidth(QStringLiteral("X:"), LatinFont() + QStringLiteral("\\math{X}\\text{:}"));
    const int valueWidth = metrics.BoxWidth(QStringLiteral("12345(m)"), LatinFont() + QStringLiteral("\\text{-0.000(m)}"));
    row.Place(xCaption_, captionWidth);
    row.Place(xValue_, valueWidth);
    row.Place(yCaption_, captionWidth);
    row.Place(yValue_, valueWidth);
    return row.X();
}

void CRecordingExperiment::PlaceColourButton(int x0, int top)
{
    if (CPictureButton* colours = Button(kIdColours)) {
        const int w = QFontMetrics(colours->font()).horizontalAdvance(colours->text()) + 8;
        colours->setGeometry(x0, top, w, LabelTextHeight() + 5);
    }
}

void CRecordingExperiment::LayoutDropHeightRow(int x0, int top)
{
    PlaceColourButton(x0, top);
    if (!heightBox_)
        return;
    const widgets::CLabelMetrics metrics = LabelMetrics();
    const int th = metrics.TextHeight();
    const int n = LabelFontSize();
    widgets::CLabelRow row(x0 + metrics.TextWidth(QStringLiteral("X: 123456(m)")), top, th);
    row.Place(heightBox_, metrics.BoxWidth(QStringLiteral("下落高度:123456(m)"), HeightMarkup()));
    const int editLeft = 2 + widgets::MarkupWidth(widgets::FontMarkup(QStringLiteral("宋体"), n) +
                                                  QStringLiteral("\\text{下落高度}") +
                                                  widgets::FontMarkup(QStringLiteral("Times New Roman"), n) +
                                                  QStringLiteral("\\text{:}"));
    heightEdit_->setGeometry(widgets::ValueEditSlot(heightEdit_, editLeft, QStringLiteral("1234"), th));
    const int rateWidth = metrics.BoxWidth(QStringLiteral("采集频率:"), RateCaptionMarkup());
    row.Place(rateCaption_, rateWidth);
    for (QWidget* radio : {static_cast<QWidget*>(radio25_), static_cast<QWidget*>(radio50_)})
        row.Place(radio, std::max(rateWidth - 40, radio->sizeHint().width()));
}

void CRecordingExperiment::RebuildLabelTexts()
{
    const QString tnr = LatinFont();
    auto value = [&](double v) {
        return v == 0.0 ? tnr + QStringLiteral("\\text{0(m)}") : tnr + QStringLiteral("\\text{%1(m)}").arg(Fixed3(v));
    };
    using widgets::SetMarkup;
    SetMarkup(xCaption_, tnr + QStringLiteral("\\math{X}\\text{:}"));
    SetMarkup(xValue_, value(shown_.x));
    SetMarkup(yCaption_, tnr + QStringLiteral("\\math{Y}\\text{:}"));
    SetMarkup(yValue_, value(shown_.y));
    SetMarkup(rateCaption_, RateCaptionMarkup());
    SetMarkup(heightBox_, HeightMarkup());
    SetMarkup(rateBox_, RateMarkup());
}

QString CRecordingExperiment::RateCaptionMarkup() const
{
    return widgets::FontMarkup(QStringLiteral("宋体"), LabelFontSize()) + QStringLiteral("\\text{采集频率:}");
}

QString CRecordingExperiment::HeightMarkup() const
{
    return QStringLiteral("\\font{宋体,%1}\\text{下落高度}\\font{Times New Roman,%1}\\text{:           (m)}")
        .arg(LabelFontSize());
}

QString CRecordingExperiment::RateMarkup() const
{
    return QStringLiteral("\\font{宋体,%1}\\text{实测频率}\\font{Times New Roman,%1}\\math{ f }\\text{:   50(Hz)}")
        .arg(LabelFontSize());
}

void CRecordingExperiment::ShowValuesPlain()
{
    xValue_->SetText(Printf("%.3f(m)", shown_.x));
    yValue_->SetText(Printf("%.3f(m)", shown_.y));
}

}  // namespace zelkor::experiments
