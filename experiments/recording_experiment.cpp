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

#include <cmath>

namespace zelkor::experiments {

using widgets::CChartSeries;
using widgets::CPictureButton;
using widgets::CZelFormattedTextBox;

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

// --- construction ------------------------------------------------------------------------------------

CRecordingExperiment::CRecordingExperiment(CWindowKey key, const Setup& setup, QWidget* parent,
                                           std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, setup.experimentIndex, parent, std::move(platform)), setup_(setup)
{
    m_transformIndex = setup.transformIndex;
    marker_.style = trajectory_.style = horizontal_.style = vertical_.style = widgets::kStyleMarkers;
    marker_.markerRadius = 8;
    trajectory_.markerRadius = horizontal_.markerRadius = vertical_.markerRadius = 5;
    marker_.markerColour = trajectory_.markerColour = QColor(255, 0, 0);
    horizontal_.markerColour = vertical_.markerColour = QColor(0, 0, 255);
    for (CChartSeries* s : {&marker_, &trajectory_, &horizontal_, &vertical_})
        Empty(*s);
    seriesList_ = {&marker_, &trajectory_, &horizontal_, &vertical_};

    table_ = new widgets::CDataTable(this);
    table_->Create(QRect(0, 0, 10, 10), this, kIdTable);
    widgets::CDataTableSettings settings;
    settings.rows = setup.tableRows;
    settings.columns = 2;
    settings.columnWidths = {setup.columnWidth, setup.columnWidth};
    settings.headers = {{QStringLiteral("\\math{X}\\text{(m)}"), QStringLiteral("X(m)")},
                        {QStringLiteral("\\math{Y}\\text{(m)}"), QStringLiteral("Y(m)")}};
    table_->ApplyCommonSettings(settings);
    table_->contextMenuCondition = [this] { return !records_.empty(); };
    connect(table_, &widgets::CDataTable::commandIssued, this, [this](int command) {
        if (command == widgets::kDeleteSelectedCommand)
            DeleteSelectedRows();
    });

    xCaption_ = widgets::AddTextBox(this, kIdXCaption);
    xValue_ = widgets::AddTextBox(this, kIdXValue);
    yCaption_ = widgets::AddTextBox(this, kIdYCaption);
    yValue_ = widgets::AddTextBox(this, kIdYValue);
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

// --- chart -------------------------------------------------------------------------------------------

void CRecordingExperiment::CreateChart(bool plotBorder)
{
    chart_ = new widgets::CDataChartPanel(this, false, false);
    widgets::SetControlId(chart_, kIdChart);
    chart_->view.plotBorder = plotBorder;
    chart_->view.plotBackground = QColor(255, 251, 240);
    chart_->panelBackground = QColor(255, 251, 240);
    chart_->view.minorGridColour = QColor(160, 160, 160);
    chart_->view.majorGridColour = QColor(160, 160, 160);
    chart_->show();
    chart_->SetSeriesList(seriesList_);
}

void CRecordingExperiment::RefreshChart()
{
    if (!chart_)
        return;
    chart_->SetSeriesList(seriesList_);
    chart_->Redraw();
}

void CRecordingExperiment::Empty(CChartSeries& s, bool hide)
{
    s.Clear();
    if (hide)
        s.visible = false;
}

// --- position ----------------------------------------------------------------------------------------

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

void CRecordingExperiment::DrainSamples()
{
    bool any = false;
    while (m_sampleQueue.Size() > 0) {
        const auto sample = m_sampleQueue.Front();
        m_sampleQueue.PopFront();
        if (!sample)
            break;
        any = true;
        if (TakeSample(*sample))
            OnSample();
    }
    // Once per tick rather than once per sample: the picture is the same.
    if (any)
        RefreshChart();
}

void CRecordingExperiment::MoveMarker()
{
    marker_.visible = true;
    marker_.Clear();
    marker_.Append(shown_.x, shown_.y);
}

void CRecordingExperiment::ZeroSetting()
{
    frame_.x0 += shown_.xOffset;
    frame_.y0 += shown_.yOffset;
    frame_.rotationOn = false;
    frame_.theta = 0.0;
    device::SendDemoCue(device::DemoCue::ZeroSet);
}

// --- records -----------------------------------------------------------------------------------------

void CRecordingExperiment::AppendRecord(const Record& record)
{
    const size_t before = trajectory_.x.size();
    if (chart_)
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

void CRecordingExperiment::HideDerivedSeries()
{
    horizontal_.visible = false;
    vertical_.visible = false;
}

void CRecordingExperiment::DeleteSelectedRows()
{
    const widgets::RowDeletion deletion = table_->DeleteSelectedRows(nextTableRow_);
    if (!deletion.proceed)
        return;
    HideDerivedSeries();
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

    HideDerivedSeries();
    ClearRecords();
    trajectory_.visible = true;
    Empty(trajectory_, false);
    const auto capacity = static_cast<size_t>(TableCapacity());
    size_t leftOut = 0;
    for (const std::vector<double>& row : rows) {
        Record r;
        r.x = row.size() > 0 ? row[0] : 0.0;
        r.y = row.size() > 1 ? row[1] : 0.0;
        r.t = row.size() > 2 ? row[2] : 0.0;
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
    if (chart_ && table_)
        output::EditColours(this, *chart_, *table_);
}

// --- label rows --------------------------------------------------------------------------------------

widgets::CLabelMetrics CRecordingExperiment::LabelMetrics() const
{
    return widgets::CLabelMetrics::Song(LargeLabels() ? 24 : 20);
}

QString CRecordingExperiment::LatinFont() const
{
    return QStringLiteral("\\font{Times New Roman,%1}").arg(LargeLabels() ? 26 : 20);
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

void CRecordingExperiment::LayoutDropHeightRow(int x0, int top)
{
    const widgets::CLabelMetrics metrics = LabelMetrics();
    const int th = metrics.TextHeight();
    if (CPictureButton* colours = Button(kIdColours)) {
        const int w = QFontMetrics(colours->font()).horizontalAdvance(colours->text()) + 8;
        colours->setGeometry(x0, top, w, th + 5);
    }
    if (!heightBox_)
        return;
    const int n = LargeLabels() ? 24 : 20;
    widgets::CLabelRow row(x0 + metrics.TextWidth(QStringLiteral("X: 123456(m)")), top, th);
    row.Place(heightBox_, metrics.BoxWidth(QStringLiteral("下落高度:123456(m)"), HeightMarkup()));
    const int editLeft = 2 + widgets::MarkupWidth(widgets::FontMarkup(QStringLiteral("宋体"), n) +
                                                  QStringLiteral("\\text{下落高度}") +
                                                  widgets::FontMarkup(QStringLiteral("Times New Roman"), n) +
                                                  QStringLiteral("\\text{:}"));
    heightEdit_->setGeometry(widgets::ValueEditSlot(heightEdit_, editLeft, QStringLiteral("1234"), th));
    const int rateWidth = metrics.BoxWidth(QStringLiteral("采集频率:"),
                                           widgets::FontMarkup(QStringLiteral("宋体"), n) + QStringLiteral("\\text{采集频率:}"));
    row.Place(rateCaption_, rateWidth);
    for (QWidget* radio : {static_cast<QWidget*>(radio25_), static_cast<QWidget*>(radio50_)})
        row.Place(radio, std::max(rateWidth - 40, radio->sizeHint().width()));
}

void CRecordingExperiment::RebuildLabelTexts()
{
    const bool large = LargeLabels();
    const QString tnr = QStringLiteral("\\font{Times New Roman,%1}").arg(large ? 26 : 20);
    auto value = [&](double v) {
        return v == 0.0 ? tnr + QStringLiteral("\\text{0(m)}") : tnr + QStringLiteral("\\text{%1(m)}").arg(Fixed3(v));
    };
    using widgets::SetMarkup;
    SetMarkup(xCaption_, tnr + QStringLiteral("\\math{X}\\text{:}"));
    SetMarkup(xValue_, value(shown_.x));
    SetMarkup(yCaption_, tnr + QStringLiteral("\\math{Y}\\text{:}"));
    SetMarkup(yValue_, value(shown_.y));
    if (!heightBox_)
        return;
    const int n = large ? 24 : 20;
    SetMarkup(rateCaption_, widgets::FontMarkup(QStringLiteral("宋体"), n) + QStringLiteral("\\text{采集频率:}"));
    SetMarkup(heightBox_, HeightMarkup());
    SetMarkup(rateBox_, RateMarkup());
}

QString CRecordingExperiment::HeightMarkup() const
{
    return QStringLiteral("\\font{宋体,%1}\\text{下落高度}\\font{Times New Roman,%1}\\text{:           (m)}")
        .arg(LargeLabels() ? 24 : 20);
}

QString CRecordingExperiment::RateMarkup() const
{
    return QStringLiteral("\\font{宋体,%1}\\text{实测频率}\\font{Times New Roman,%1}\\math{ f }\\text{:   50(Hz)}")
        .arg(LargeLabels() ? 24 : 20);
}

int CRecordingExperiment::RateBoxWidth() const
{
    return LabelMetrics().BoxWidth(QStringLiteral("实测频率 f :   50(Hz)"), RateMarkup());
}

void CRecordingExperiment::ShowValuesPlain()
{
    xValue_->SetText(QString::asprintf("%.3f(m)", shown_.x));
    yValue_->SetText(QString::asprintf("%.3f(m)", shown_.y));
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

void CRecordingExperiment::paintEvent(QPaintEvent* e)
{
    CDlgTdExpBase::paintEvent(e);
    RebuildLabelTexts();
}

}  // namespace zelkor::experiments
