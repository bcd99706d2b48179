#include "calibration_tool.h"

#include "device/sensor_protocol.h"
#include "experiments/number_texts.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/list_box.h"
#include "widgets/picture_button.h"
#include "widgets/window_blocks.h"

#include <algorithm>
#include <cmath>

namespace zelkor::experiments {

using namespace calibration;
using acquisition::kIdStart;
using acquisition::kIdStop;
using widgets::CChartSeries;

namespace {

using namespace std::chrono_literals;

constexpr int kTextHeight = 26;
constexpr int kMargin = 20;
constexpr int kTop = 50;
constexpr int kBoxGap = 50;
constexpr double kAbsoluteZero = -273.15;
const QColor kFaceCalibrate(239, 246, 195);

const QString kTnr = QStringLiteral("\\font{Times New Roman,26}");
const QString kPeriodCaption = QStringLiteral("\\font{黑体,26}\\text{时间周期}\\font{Times New Roman,26}\\math{t}\\text{:}");
const QString kTemperatureCaption =
    QStringLiteral("\\font{黑体,26}\\text{当前温度}\\font{Times New Roman,26}\\math{T}\\text{:}");
// The calibration boxes, and the part of each before its field.
const QString kL2Box = QStringLiteral("\\font{黑体,26}\\text{校准右距离}\\font{Times New Roman,26}\\math{L_2}\\text{:             (mm)}");
const QString kL1Box = QStringLiteral("\\font{黑体,26}\\text{校准左距离}\\font{Times New Roman,26}\\math{L_1}\\text{:             (mm)}");
const QString kT0Box = QStringLiteral("\\font{黑体,26}\\text{校准温度}\\font{Times New Roman,26}\\math{T_0}\\text{:                (℃)}");
const QString kL2Label = QStringLiteral("\\font{黑体,26}\\text{校准右距离}\\font{Times New Roman,26}\\math{L_2}\\text{:}");
const QString kL1Label = QStringLiteral("\\font{黑体,26}\\text{校准左距离}\\font{Times New Roman,26}\\math{L_1}\\text{:}");
const QString kT0Label = QStringLiteral("\\font{黑体,26}\\text{校准温度}\\font{Times New Roman,26}\\math{T_0}\\text{: }");

QString Caption(const char* chinese, const char* symbol)
{
    return QStringLiteral("\\font{黑体,26}\\text{%1}\\font{Times New Roman,26}\\math{%2}\\text{:}")
        .arg(QString::fromUtf8(chinese), QString::fromUtf8(symbol));
}

std::size_t Slot(int code)
{
    return static_cast<std::size_t>(code - kCodeTemperature);
}

}  // namespace

std::optional<float> calibration::ReferenceValue(int code, const QString& text)
{
    if (code != kCodeTemperature && code != kCodeLeft && code != kCodeRight)
        return std::nullopt;
    const std::optional<double> number = LeadingNumber(text);
    if (!number)
        return std::nullopt;
    const auto value = static_cast<float>(*number);
    if (!std::isfinite(value))
        return std::nullopt;
    if (code == kCodeTemperature ? !(value > kAbsoluteZero) : !(value > 0.0f))
        return std::nullopt;
    return value;
}

void CDlgTdCalibration::ReferenceTexts::Set(int code, const QString& text)
{
    std::lock_guard lock(mutex_);
    texts_.at(Slot(code)) = text;
}

QString CDlgTdCalibration::ReferenceTexts::Get(int code) const
{
    std::lock_guard lock(mutex_);
    return texts_.at(Slot(code));
}

CDlgTdCalibration::CDlgTdCalibration(acquisition::CWindowKey key, QWidget* parent,
                                     std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdExpBase(key, kCalibrationToolIndex, parent, std::move(platform))
{
    using widgets::Initially;
    m_transformIndex = 0;
    InitFrame(QStringLiteral("校准测试软件(2D)"), acquisition::FrameTemplate::k705);

    StyleFrameButton(kIdStart, QStringLiteral("开始记录"), widgets::kFaceStart);
    StyleFrameButton(kIdStop, QStringLiteral("停止记录"), widgets::kFaceStop, Initially::Disabled);
    AddButton(kIdRecord, QStringLiteral("记录数据"), widgets::kFaceSetting, Initially::Disabled);
    AddButton(kIdClear, QStringLiteral("清屏"), widgets::kFaceSetting);
    AddButton(kIdCalibrateTemperature, QStringLiteral("校准温度"), kFaceCalibrate, Initially::Disabled);
    AddButton(kIdCalibrateLeft, QStringLiteral("校准左距离"), kFaceCalibrate, Initially::Disabled);
    AddButton(kIdCalibrateRight, QStringLiteral("校准右距离"), kFaceCalibrate, Initially::Disabled);
    StyleFrameButton(acquisition::kIdSnapshot, QString(), widgets::kFaceStart);
    StyleFrameButton(acquisition::kIdBack, QString(), widgets::kFaceStart);
    connect(Button(kIdStart), &QPushButton::clicked, this, &CDlgTdCalibration::Start);
    connect(Button(kIdStop), &QPushButton::clicked, this, &CDlgTdCalibration::Stop);
    connect(Button(kIdRecord), &QPushButton::clicked, this, &CDlgTdCalibration::RecordPositions);
    connect(Button(kIdClear), &QPushButton::clicked, this, &CDlgTdCalibration::Clear);
    connect(Button(kIdCalibrateTemperature), &QPushButton::clicked, this, [this] { Request(kCodeTemperature); });
    connect(Button(kIdCalibrateLeft), &QPushButton::clicked, this, [this] { Request(kCodeLeft); });
    connect(Button(kIdCalibrateRight), &QPushButton::clicked, this, [this] { Request(kCodeRight); });

    firstCaption_ = widgets::AddTextBox(this, kIdFirstCaption);
    firstValue_ = widgets::AddTextBox(this, kIdFirstValue);
    secondCaption_ = widgets::AddTextBox(this, kIdSecondCaption);
    secondValue_ = widgets::AddTextBox(this, kIdSecondValue);
    periodCaption_ = widgets::AddTextBox(this, kIdPeriodCaption);
    periodValue_ = widgets::AddTextBox(this, kIdPeriodValue);
    temperatureCaption_ = widgets::AddTextBox(this, kIdTemperatureCaption);
    temperatureValue_ = widgets::AddTextBox(this, kIdTemperatureValue);
    l2Box_ = widgets::AddTextBox(this, kIdL2Box);
    l1Box_ = widgets::AddTextBox(this, kIdL1Box);
    t0Box_ = widgets::AddTextBox(this, kIdT0Box);
    firstValue_->textColor = QColor(255, 0, 0);
    secondValue_->textColor = QColor(0, 0, 255);
    widgets::SetMarkup(periodCaption_, kPeriodCaption);
    widgets::SetMarkup(temperatureCaption_, kTemperatureCaption);
    widgets::SetMarkup(l2Box_, kL2Box);
    widgets::SetMarkup(l1Box_, kL1Box);
    widgets::SetMarkup(t0Box_, kT0Box);
    t0_ = widgets::AddValueEdit(t0Box_, kIdT0, 22, QStringLiteral("25.0"));
    l1_ = widgets::AddValueEdit(l1Box_, kIdL1, 22, QStringLiteral("100"));
    l2_ = widgets::AddValueEdit(l2Box_, kIdL2, 22, QStringLiteral("100"));
    for (auto [edit, code] : {std::pair{t0_, kCodeTemperature}, std::pair{l1_, kCodeLeft}, std::pair{l2_, kCodeRight}}) {
        references_.Set(code, edit->text());
        connect(edit, &QLineEdit::textChanged, this, [this, code = code](const QString& text) { references_.Set(code, text); });
    }

    chart_ = new widgets::CDataChartPanel(this, false, false);
    widgets::SetControlId(chart_, kIdChart);
    chart_->show();
    SetChartView();

    mode_ = new widgets::CZelListBox(this);
    mode_->Create(kIdMode, QRect(0, 0, 10, 10), this);
    mode_->AddString(QStringLiteral("发射头距离"));
    mode_->AddString(QStringLiteral("坐标轴XY值"));
    mode_->SetCurSel(0);
    const int frame = 2 * mode_->frameWidth();
    mode_->resize(mode_->sizeHintForColumn(0) + frame + 8, 2 * mode_->sizeHintForRow(0) + frame);
    connect(mode_, &widgets::CZelListBox::selectionChanged, this, &CDlgTdCalibration::ModeChosen);
    SetCaptions(false);

    for (CChartSeries& s : series_) {
        s.style = widgets::kStyleMarkers;
        s.markerColour = s.lineColour = QColor(255, 0, 0);
        s.visible = false;
        seriesList_.push_back(&s);
    }
    series_[0].markerRadius = 8;
    series_[1].markerRadius = 4;
    RefreshChart();
    RebuildLabelTexts();
    LayoutWindow();
}

CDlgTdCalibration::~CDlgTdCalibration()
{
    // The chart must not keep pointers to series that go before it.
    chart_->SetSeriesList({});
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdCalibration::RefreshView()
{
    // The chart once per tick rather than once per sample: the picture is the same.
    if (TakeQueuedSamples([this](const _DataPck& sample) { TakeSample(sample); }))
        RefreshChart();
}

void CDlgTdCalibration::TakeSample(const _DataPck& sample)
{
    temperature_ = sample.temperature;
    x_ = sample.x;
    y_ = sample.y;
    if (device::HasTimeField(m_secondVersion.load()))
        period_ = sample.interval;
    ShowValuesPlain();
    if (!recording_) {
        series_[0].visible = true;
        series_[0].Clear();
        series_[0].Append(x_, y_);
    } else if (x_ >= 0.0 && x_ < 1.0 && y_ > -0.005) {
        // Recorded only inside the chart's quadrant.
        series_[0].visible = false;
        series_[1].visible = true;
        series_[1].Append(x_, y_);
    }
}

void CDlgTdCalibration::ShowValuesPlain()
{
    periodText_ = Printf("%.6f(s)", static_cast<double>(period_));
    // Per sample: a readout repaints only what its new text changes, and nothing when it is the same.
    firstValue_->SetText(Printf("%.3f(m)", x_));
    secondValue_->SetText(Printf("%.3f(m)", y_));
    temperatureValue_->SetText(Printf("%.1f(℃)", static_cast<double>(temperature_)));
    periodValue_->SetText(periodText_);
}

// --- acquisition -------------------------------------------------------------------------------------

void CDlgTdCalibration::AcquisitionLoop()
{
    PassPacing last;
    while (!StopBeforePass(last)) {
        if (!m_link.IsConnected()) {
            if (!OpenLinkOrWait())
                return;
        } else if (!m_streaming.load()) {
            // Unlike the other windows, a sensor that does not identify keeps its link and is asked again.
            IdentifyAndStart();
        } else if (!PacedReadReport(last)) {
            m_streaming.store(false);
        } else {
            Decimate();
            SendPendingCalibration();
        }
    }
}

void CDlgTdCalibration::SendPendingCalibration()
{
    const int code = pendingCode_.exchange(kNoRequest);
    if (code != kCodeTemperature && code != kCodeLeft && code != kCodeRight)
        return;
    const std::optional<float> value = ReferenceValue(code, references_.Get(code));
    if (!value) {
        ShowMessageFromWorker(QStringLiteral("请输入校准温度!"));
        return;
    }
    if (!device::Calibrate(m_link, static_cast<device::CalibrationCode>(code), *value))
        ShowMessageFromWorker(QStringLiteral("校准失败!\n"));
}

// --- commands ----------------------------------------------------------------------------------------

void CDlgTdCalibration::Start()
{
    m_rawQueue.Clear();
    m_sampleQueue.Clear();
    x_ = y_ = 0.0;
    recording_ = false;
    series_[0].visible = false;
    series_[1].visible = false;
    series_[1].Clear();
    SetChartView();
    RefreshChart();
    if (!StartAcquisition())
        return;
    SetEnabled({kIdStop, kIdRecord, kIdCalibrateTemperature, kIdCalibrateLeft, kIdCalibrateRight}, true);
    SetEnabled({kIdStart}, false);
}

void CDlgTdCalibration::Stop()
{
    recording_ = false;
    StopAcquisition();
    SetEnabled({kIdStop, kIdRecord, kIdCalibrateTemperature, kIdCalibrateLeft, kIdCalibrateRight}, false);
    SetEnabled({kIdStart}, true);
    Button(kIdStart)->setFocus();
}

void CDlgTdCalibration::RecordPositions()
{
    SetCaptions(true);
    m_transformIndex = 1;
    mode_->SetCurSel(1);
    recording_ = true;
}

void CDlgTdCalibration::ModeChosen(int index)
{
    if (index != 0 && index != 1)
        return;
    SetCaptions(index == 1);
    m_transformIndex = index;
}

void CDlgTdCalibration::Clear()
{
    for (CChartSeries& s : series_) {
        s.Clear();
        s.visible = false;
    }
    RefreshChart();
    x_ = y_ = 0.0;
    temperature_ = 0.0f;
    firstValue_->text = QStringLiteral("0(m)");
    secondValue_->text = QStringLiteral("0(m)");
    temperatureValue_->text = QStringLiteral("0(℃)");
    for (widgets::CZelFormattedTextBox* box : {firstValue_, secondValue_, temperatureValue_})
        box->update();
}

void CDlgTdCalibration::Request(int code)
{
    pendingCode_.store(code);
}

// --- chart and labels --------------------------------------------------------------------------------

void CDlgTdCalibration::SetCaptions(bool positions)
{
    positionCaptions_ = positions;
    widgets::SetMarkup(firstCaption_, positions ? Caption("水平位移", "X") : Caption("左距离", "L_1"));
    widgets::SetMarkup(secondCaption_, positions ? Caption("垂直位移", "Y") : Caption("右距离", "L_2"));
}

void CDlgTdCalibration::SetChartView()
{
    widgets::CChartView& v = chart_->view;
    v.xName = QStringLiteral("X");
    v.xUnit = QStringLiteral("m");
    v.yName = QStringLiteral("Y");
    v.yUnit = QStringLiteral("m");
    v.xMin = -0.02;
    v.xSpan = 1.02;
    v.xMax = 1.0;
    v.yMin = -0.02;
    v.ySpan = 1.02;
    v.yMax = 1.0;
    v.yUp = false;
    v.equalScale = true;
    v.adaptX = true;
    v.xMinorGrid = v.yMinorGrid = false;
}

void CDlgTdCalibration::RefreshChart()
{
    chart_->SetSeriesList(seriesList_);
    chart_->Redraw();
}

void CDlgTdCalibration::RebuildLabelTexts()
{
    auto value = [](double v, const char* format, const QString& zero) {
        return v == 0.0 ? kTnr + QStringLiteral("\\text{%1}").arg(zero)
                        : kTnr + QStringLiteral("\\text{%1}").arg(Printf(format, v));
    };
    widgets::SetMarkup(firstValue_, value(x_, "%.3f(m)", QStringLiteral("  0(m)")));
    widgets::SetMarkup(secondValue_, value(y_, "%.3f(m)", QStringLiteral("  0(m)")));
    widgets::SetMarkup(temperatureValue_,
                       value(static_cast<double>(temperature_), "%.1f(℃)", QStringLiteral("  0(℃)")));
    widgets::SetMarkup(periodValue_, periodText_.isEmpty() ? kTnr + QStringLiteral("\\text{ 0(s)}")
                                                           : kTnr + QStringLiteral("\\text{%1}").arg(periodText_));
}

void CDlgTdCalibration::paintEvent(QPaintEvent* e)
{
    CDlgTdExpBase::paintEvent(e);
    RebuildLabelTexts();
}

void CDlgTdCalibration::resizeEvent(QResizeEvent* e)
{
    CDlgTdExpBase::resizeEvent(e);
    LayoutWindow();
}

void CDlgTdCalibration::LayoutWindow()
{
    const int w = width();
    const int barTop = LayoutBottomButtonBar({Button(kIdStart), Button(kIdStop), nullptr, Button(kIdRecord), Button(kIdClear)});
    const widgets::CLabelMetrics metrics = widgets::CLabelMetrics::TimesNewRoman(kTextHeight);
    const int th = std::max(metrics.TextHeight(), kTextHeight);

    mode_->move(kMargin, barTop - kMargin - mode_->height());
    const int left = mode_->geometry().right() + 1;
    const int row1 = barTop - kMargin - th;
    const int row2 = row1 - (th + 6);
    const int row3 = row2 - (th + 10);
    const int row4 = row3 - (th + 6);

    auto captionWidth = [&](const char* measure, const QString& markup) {
        return metrics.BoxWidth(QString::fromUtf8(measure), markup);
    };
    auto valueWidth = [&](const char* measure) {
        return metrics.BoxWidth(QString::fromUtf8(measure), kTnr + QStringLiteral("\\text{%1}").arg(QString::fromUtf8(measure)));
    };
    const int captions = std::max({captionWidth("垂直位移Y:", Caption("垂直位移", "Y")),
                                   captionWidth("水平位移X:", Caption("水平位移", "X")),
                                   captionWidth("时间周期t:", kPeriodCaption), captionWidth("当前温度T:", kTemperatureCaption)});

    widgets::CLabelRow lowest(left, row1, th);
    lowest.Place(secondCaption_, captions);
    lowest.Place(secondValue_, valueWidth("123.45678(m)"));
    lowest.Skip(kBoxGap);
    const int column = lowest.X();

    struct CalibrationRow {
        int top;
        widgets::CZelFormattedTextBox* box;
        widgets::CEasyEdit* edit;
        int button;
        const char* measure;
        const QString& label;
        const char* editWidth;
    };
    const CalibrationRow rows[] = {
        {row1, l2Box_, l2_, kIdCalibrateRight, "校准右距离L2:  123.456(mm)", kL2Label, "12345"},
        {row2, l1Box_, l1_, kIdCalibrateLeft, "校准左距离L1:  123.456(mm)", kL1Label, "12345"},
        {row4, t0Box_, t0_, kIdCalibrateTemperature, "校准温度T0:  1234567(℃)  ", kT0Label, "12.34"},
    };
    for (const CalibrationRow& r : rows) {
        const int boxWidth = metrics.BoxWidth(QString::fromUtf8(r.measure), r.box->text);
        r.box->setGeometry(column, r.top, boxWidth, th);
        r.edit->setGeometry(widgets::ValueEditSlot(r.edit, 2 + widgets::MarkupWidth(r.label), QString::fromUtf8(r.editWidth), th));
        if (QWidget* button = Button(r.button))
            button->move(column + boxWidth, r.top + (th - button->height()) / 2);
    }

    widgets::CLabelRow second(left, row2, th);
    second.Place(firstCaption_, captions);
    second.Place(firstValue_, valueWidth("123.456(m)"));
    widgets::CLabelRow third(left, row3, th);
    third.Place(periodCaption_, captions);
    third.Place(periodValue_, valueWidth("123.45678(s)"));
    widgets::CLabelRow fourth(left, row4, th);
    fourth.Place(temperatureCaption_, captions);
    fourth.Place(temperatureValue_, valueWidth("123.456(℃)"));

    chart_->setGeometry(kMargin, kTop, std::max(1, w - 2 * kMargin), std::max(1, row4 - 10 - kTop));
}

}  // namespace zelkor::experiments
