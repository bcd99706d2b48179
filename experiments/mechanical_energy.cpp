#include "mechanical_energy.h"

#include "device/demo_cues.h"
#include "device/sensor_protocol.h"
#include "experiments/number_texts.h"
#include "widgets/choice_buttons.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"
#include "widgets/font_cells.h"
#include "widgets/picture_button.h"
#include "widgets/window_blocks.h"

#include <QStyle>

#include <algorithm>
#include <cmath>

namespace zelkor::experiments {

using namespace mechanical;
using acquisition::kIdRadio25Hz;
using acquisition::kIdRadio50Hz;
using acquisition::kIdStart;
using acquisition::kIdStop;
using widgets::CChartSeries;

namespace {

constexpr int kLabelHeight = 26;  // cell height of the label row's fonts
constexpr int kTableWidth = 300;  // plus a vertical scroll bar
constexpr int kMargin = 20;
constexpr int kTop = 50;
constexpr int kChartLeft = 340;
constexpr int kMassGap = 50;

const QString kRateMarkup = QStringLiteral("\\font{黑体,26}\\text{采集频率:}");
const QString kMassMarkup = QStringLiteral("\\font{黑体,26}\\text{小球质量}\\font{Times New Roman,26}\\text{:          (kg)}");
const QString kMassLabelMarkup = QStringLiteral("\\font{黑体,26}\\text{小球质量}\\font{Times New Roman,26}\\text{:}");

int Sign(double v)
{
    return v > 0.0 ? 1 : -1;
}

widgets::CDataTable* MakeTable(QWidget* parent, int id, std::vector<widgets::CTableHeader> headers)
{
    auto* table = new widgets::CDataTable(parent);
    table->Create(QRect(0, 0, 10, 10), parent, id);
    widgets::CDataTableSettings settings;
    settings.rows = kTableDataRows + 1;
    settings.columns = static_cast<int>(headers.size());
    // The columns fill the 300 px inside the frame.
    const int inner = kTableWidth - 2 * table->frameWidth();
    for (int c = 0; c < settings.columns; ++c)
        settings.columnWidths.push_back(inner / settings.columns + (c < inner % settings.columns ? 1 : 0));
    settings.headers = std::move(headers);
    table->ApplyCommonSettings(settings);
    return table;
}

}  // namespace

CDlgTdMechanical::CDlgTdMechanical(acquisition::CWindowKey key, QWidget* parent,
                                   std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, kMechanicalEnergyIndex, parent, std::move(platform))
{
    using widgets::Initially;
    m_transformIndex = 2;
    InitFrame(QStringLiteral("机械能守恒定律(2D)"));

    StyleFrameButton(kIdStart, QStringLiteral("开始记录"), widgets::kFaceStart);
    StyleFrameButton(kIdStop, QStringLiteral("停止记录"), widgets::kFaceStop, Initially::Disabled);
    AddButton(kIdZero, QStringLiteral("设置零点"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(kIdRecord, QStringLiteral("记录数据"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(kIdSelectRange, QStringLiteral("选择区域"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(kIdCompute, QStringLiteral("计算数据"), widgets::kFaceSetting, Initially::Disabled);
    connect(Button(kIdStart), &QPushButton::clicked, this, &CDlgTdMechanical::Start);
    connect(Button(kIdStop), &QPushButton::clicked, this, &CDlgTdMechanical::Stop);
    connect(Button(kIdZero), &QPushButton::clicked, this, &CDlgTdMechanical::SetZero);
    connect(Button(kIdRecord), &QPushButton::clicked, this, &CDlgTdMechanical::Record);
    connect(Button(kIdSelectRange), &QPushButton::clicked, this, &CDlgTdMechanical::SelectRange);
    connect(Button(kIdCompute), &QPushButton::clicked, this, &CDlgTdMechanical::Compute);

    const QFont labelFont = widgets::FontForCellHeight(QStringLiteral("Times New Roman"), kLabelHeight);
    rateCaption_ = widgets::AddTextBox(this, kIdRateCaption);
    widgets::SetMarkup(rateCaption_, kRateMarkup);
    const acquisition::FrequencyRadios radios =
        AddFrequencyRadios([this](double hz) { dt_ = hz == 25.0 ? 0.04f : 0.02f; });
    radio25_ = radios.r25;
    radio50_ = radios.r50;
    radio25_->setFont(labelFont);
    radio50_->setFont(labelFont);
    massBox_ = widgets::AddTextBox(this, kIdMassBox);
    widgets::SetMarkup(massBox_, kMassMarkup);
    mass_ = widgets::AddValueEdit(massBox_, kIdMass, 22, QStringLiteral("0.055"));

    positions_ = MakeTable(this, kIdPositionTable,
                           {{QStringLiteral("\\math{X}\\text{ / m}"), QStringLiteral("X / m")},
                            {QStringLiteral("\\math{Y}\\text{ / m}"), QStringLiteral("Y / m")}});
    energies_ = MakeTable(this, kIdEnergyTable,
                          {{QStringLiteral("\\math{E_p}\\text{ / J}"), QStringLiteral("Ep / J")},
                           {QStringLiteral("\\math{E_k}\\text{ / J}"), QStringLiteral("Ek / J")},
                           {QStringLiteral("\\math{E}\\text{ / J}"), QStringLiteral("E / J")}});
    positions_->contextMenuCondition = [this] { return !records_.empty(); };
    // Only the visible table has a menu: the energies are computed, not recorded.
    energies_->contextMenuCondition = [] { return false; };
    connect(positions_, &widgets::CDataTable::commandIssued, this, [this](int command) {
        if (command == widgets::kDeleteSelectedCommand)
            DeleteSelected();
    });
    ShowTable(true);

    chart_ = new widgets::CDataChartPanel(this, false, true);
    widgets::SetControlId(chart_, kIdChart);
    chart_->show();
    for (CChartSeries& s : series_)
        seriesList_.push_back(&s);
    ResetSeries();
    SetPathAxes();
    RefreshChart();
    LayoutWindow();
}

CDlgTdMechanical::~CDlgTdMechanical()
{
    // The chart must not keep pointers to series that go before it.
    chart_->SetSeriesList({});
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdMechanical::RefreshView()
{
    // The chart once per tick rather than once per sample: the picture is the same.
    if (TakeQueuedSamples([this](const _DataPck& sample) { TakeSample(sample); }))
        RefreshChart();
}

void CDlgTdMechanical::TakeSample(const _DataPck& sample)
{
    xOffset_ = sample.x - x0_;
    yOffset_ = sample.y - y0_;
    x_ = xOffset_;
    y_ = zeroSet_ ? -yOffset_ : yOffset_;
    if (device::HasTimeField(m_secondVersion.load()))
        dt_ = sample.interval;
    if (!recording_) {
        CChartSeries& live = series_[0];
        live.Clear();
        live.Append(x_, y_);
        live.visible = true;
        previousY_ = y_;
        return;
    }
    // The ball falls back on the far side: the pass has ended. The sensor's millimetre of noise makes
    // "lower than the sample before" happen near the lowest point as well, so the fall is measured from
    // the highest point reached since the crossing. The recording flag stays set, so this sample (and
    // the rest of this tick's) is still recorded.
    if (passed_ && !passEnded_ && y_ < highestSincePass_ - kFallBack) {
        passEnded_ = true;
        Stop();
    }
    for (CChartSeries* path : {&series_[1], &series_[2]}) {
        path->Append(x_, y_);
        path->visible = true;
    }
    _DataPck record;
    record.x = x_;
    record.y = y_;
    record.interval = static_cast<float>(t_);
    records_.push_back(record);
    WritePositionRow(records_.size() - 1);
    t_ += static_cast<double>(dt_);
    if (!passed_) {
        passed_ = Sign(x_) != Sign(records_.front().x);
        highestSincePass_ = y_;
    } else {
        highestSincePass_ = std::max(highestSincePass_, y_);
    }
    previousY_ = y_;
}

void CDlgTdMechanical::WritePositionRow(std::size_t record)
{
    if (record >= static_cast<std::size_t>(kTableDataRows))
        return;
    const int row = static_cast<int>(record) + 1;
    positions_->SetItemText(row, 0, Fixed3(records_[record].x));
    positions_->SetItemText(row, 1, Fixed3(records_[record].y));
    nextRow_ = std::max(nextRow_, static_cast<unsigned>(row) + 1);
}

// --- commands ----------------------------------------------------------------------------------------

void CDlgTdMechanical::Start()
{
    positions_->ClearData(nextRow_);
    ShowTable(true);
    SetPathAxes();
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    records_.clear();
    xOffset_ = yOffset_ = 0.0;
    x_ = y_ = t_ = previousY_ = 0.0;
    recording_ = passed_ = passEnded_ = false;
    range_ = {};

    chart_->ArmRangePick(false, this, {});
    ResetSeries();
    RefreshChart();

    if (!StartAcquisition())
        return;
    SetEnabled({kIdStop, kIdZero, kIdRecord}, true);
    SetEnabled({kIdStart, kIdSelectRange, kIdCompute}, false);
}

void CDlgTdMechanical::Stop()
{
    StopAcquisition();
    SetEnabled({kIdStop, kIdZero, kIdRecord}, false);
    SetEnabled({kIdRadio25Hz, kIdRadio50Hz}, true);
    SetEnabled({kIdSelectRange, kIdCompute}, !records_.empty());
    SetEnabled({kIdStart}, true);
    Button(kIdStart)->setFocus();
    if (recording_)
        device::SendDemoCue(device::DemoCue::RecordingStopped);
}

void CDlgTdMechanical::SetZero()
{
    zeroSet_ = true;
    x0_ += xOffset_;
    y0_ += yOffset_;
    xOffset_ = yOffset_ = 0.0;
    device::SendDemoCue(device::DemoCue::ZeroSet);
}

void CDlgTdMechanical::Record()
{
    series_[0].visible = false;
    recording_ = true;
    SetEnabled({kIdRadio25Hz, kIdRadio50Hz, kIdCompute, kIdSelectRange, kIdZero}, false);
    RefreshChart();
    device::SendDemoCue(device::DemoCue::RecordingStarted);
}

void CDlgTdMechanical::SelectRange()
{
    if (!recording_)
        return;
    chart_->pickKind = widgets::CDataChartPanel::kPickRange;
    chart_->pickOrientation = widgets::CDataChartPanel::kPickVertical;
    series_[1].selectable = true;
    chart_->ArmRangePick(true, this, [this](widgets::CDataChartPanel& panel, QObject*) {
        std::vector<double> x;
        x.reserve(records_.size());
        for (const _DataPck& r : records_)
            x.push_back(r.x);
        range_ = numerics::SelectRange(x, panel.pickResult.startX, panel.pickResult.endX, range_);
    });
    RefreshChart();
}

void CDlgTdMechanical::Compute()
{
    // Everything deleted: nothing to show either way.
    if (records_.empty())
        return;
    for (int i = 1; i <= 5; ++i)
        series_[static_cast<size_t>(i)].visible = !series_[static_cast<size_t>(i)].visible;
    if (series_[1].visible) {
        ShowTable(true);
        SetPathAxes();
    } else if (series_[3].visible) {
        ShowTable(false);
        for (int i = 3; i <= 5; ++i)
            series_[static_cast<size_t>(i)].Clear();
        for (int row = 1; row <= kTableDataRows; ++row)
            for (int c = 0; c < 3; ++c)
                energies_->SetItemText(row, c, QString());

        std::vector<double> x, y;
        std::vector<float> t;
        for (const _DataPck& r : records_) {
            x.push_back(r.x);
            y.push_back(r.y);
            t.push_back(r.interval);
        }
        const numerics::Energies e = numerics::ComputeEnergies(x, y, t, ReadLeadingNumber(mass_->text()), range_);
        for (std::size_t j = 0; j < e.t.size(); ++j) {
            series_[3].Append(e.t[j], e.potential[j]);
            series_[4].Append(e.t[j], e.kinetic[j]);
            series_[5].Append(e.t[j], e.total[j]);
            if (j < static_cast<std::size_t>(kTableDataRows)) {
                const int row = static_cast<int>(j) + 1;
                energies_->SetItemText(row, 0, QString::asprintf("%.5f", e.potential[j]));
                energies_->SetItemText(row, 1, QString::asprintf("%.5f", e.kinetic[j]));
                energies_->SetItemText(row, 2, QString::asprintf("%.5f", e.total[j]));
            }
        }
        SetEnergyAxes(e.lowest, e.highest, e.t.empty() ? 0.0 : e.t.back());
    }
    energies_->Refresh();
    RefreshChart();
}

void CDlgTdMechanical::DeleteSelected()
{
    const widgets::RowDeletion deletion = positions_->DeleteSelectedRows(nextRow_);
    if (!deletion.proceed)
        return;
    widgets::EraseDeletedRecords(records_, deletion);
    for (CChartSeries* path : {&series_[1], &series_[2]}) {
        widgets::EraseDeletedRecords(path->x, deletion);
        widgets::EraseDeletedRecords(path->y, deletion);
        path->firstDrawn = 0;
        path->numberDrawn = static_cast<int>(path->x.size());
    }
    // Samples that had no row move up into the rows the deletion emptied.
    for (std::size_t r = nextRow_ - 1; r < records_.size(); ++r)
        WritePositionRow(r);
    positions_->Refresh();
    RefreshChart();
    if (records_.empty())
        SetEnabled({kIdSelectRange, kIdCompute}, false);
}

// --- chart -------------------------------------------------------------------------------------------

void CDlgTdMechanical::ResetSeries()
{
    static const QColor kRed(255, 0, 0), kBlue(0, 0, 255), kBlack(0, 0, 0);
    struct Look {
        int style;
        int radius;
        QColor colour;
    };
    const Look looks[6] = {
        {widgets::kStyleMarkers, 8, kRed},  {widgets::kStyleMarkers, 4, kRed},   {widgets::kStylePolyline, 4, kBlue},
        {widgets::kStylePolyline, 4, kRed}, {widgets::kStylePolyline, 4, kBlue}, {widgets::kStylePolyline, 4, kBlack},
    };
    for (std::size_t i = 0; i < series_.size(); ++i) {
        CChartSeries s;
        s.style = looks[i].style;
        s.markerRadius = looks[i].radius;
        s.markerColour = s.lineColour = looks[i].colour;
        s.lineWidth = 2;
        s.visible = false;
        series_[i] = s;
    }
}

void CDlgTdMechanical::RefreshChart()
{
    chart_->SetSeriesList(seriesList_);
    chart_->Redraw();
}

void CDlgTdMechanical::SetPathAxes()
{
    widgets::CChartView& v = chart_->view;
    v.xName = QStringLiteral("X");
    v.xUnit = QStringLiteral("m");
    v.xMin = -0.3;
    v.xMax = 0.3;
    v.yName = QStringLiteral("Y");
    v.yUnit = QStringLiteral("m");
    v.yMin = -0.05;
    v.yMax = 0.1;
    v.xSpan = v.xMax - v.xMin;
    v.ySpan = v.yMax - v.yMin;
    v.xMinorGrid = v.yMinorGrid = false;
    chart_->reverseDecreasing = false;
    chart_->ResetVerticalScroll();
}

void CDlgTdMechanical::SetEnergyAxes(double lowest, double highest, double lastTime)
{
    widgets::CChartView& v = chart_->view;
    v.xName = QStringLiteral("t");
    v.xUnit = QStringLiteral("s");
    v.xMin = 0.0;
    v.xMax = 1.5 * lastTime;
    v.yMin = lowest < 0.0 ? 1.5 * lowest : 0.0;
    v.yMax = 1.5 * highest;
    v.yName.clear();
    v.yUnit.clear();
    v.yTitlePicture = true;
    v.yTitleImage = kEnergyLegendBitmap;
    chart_->ArmRangePick(false, this, {});
    v.xSpan = v.xMax - v.xMin;
    v.ySpan = v.yMax - v.yMin;
    v.xMinorGrid = v.yMinorGrid = false;
    chart_->reverseDecreasing = false;
    chart_->ResetVerticalScroll();
}

void CDlgTdMechanical::ShowTable(bool positions)
{
    positions_->setVisible(positions);
    energies_->setVisible(!positions);
}

// --- layout ------------------------------------------------------------------------------------------

void CDlgTdMechanical::resizeEvent(QResizeEvent* e)
{
    CDlgTdExpBase::resizeEvent(e);
    LayoutWindow();
}

void CDlgTdMechanical::LayoutWindow()
{
    const int w = width();
    const int barTop = LayoutBottomButtonBar(
        {Button(kIdStart), Button(kIdStop), Button(kIdZero), Button(kIdRecord), Button(kIdSelectRange), Button(kIdCompute)});

    const widgets::CLabelMetrics metrics = widgets::CLabelMetrics::TimesNewRoman(kLabelHeight);
    const int th = std::max(metrics.TextHeight(), kLabelHeight);
    const int labelTop = barTop - kMargin - th;
    widgets::CLabelRow row(kMargin, labelTop, th);
    row.Place(rateCaption_, metrics.BoxWidth(QStringLiteral("采集频率:"), kRateMarkup));
    for (widgets::CZelRadioButton* radio : {radio25_, radio50_})
        row.Place(radio, radio->sizeHint().width() + 6);
    row.Skip(kMassGap);
    row.Place(massBox_, metrics.BoxWidth(QStringLiteral("小球质量:          (kg)"), kMassMarkup));
    // As wide as "0000" in the label's font, which holds "0.055" in the edit's smaller one.
    const QRect slot = widgets::ValueEditSlot(mass_, 2 + widgets::MarkupWidth(kMassLabelMarkup), QString(), th);
    mass_->setGeometry(slot.adjusted(0, 0, metrics.TextWidth(QStringLiteral("0000")), 0));

    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, positions_);
    const int tableBottom = std::max(kTop + 1, labelTop - kMargin);
    for (widgets::CDataTable* table : {positions_, energies_})
        table->setGeometry(kMargin, kTop, kTableWidth + scrollBar, tableBottom - kTop);
    const int space = std::max(4, labelTop - kTop);
    chart_->setGeometry(kChartLeft, kTop + space / 4, std::max(1, w - kMargin - kChartLeft), space / 2);
}

}  // namespace zelkor::experiments
