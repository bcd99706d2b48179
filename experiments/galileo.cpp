#include "galileo.h"

#include "widgets/data_chart_panel.h"
#include "widgets/release_slider.h"
#include "widgets/text_boxes.h"

#include <cmath>

namespace zelkor::experiments {

namespace {

CRecordingExperiment::Setup GalileoSetup()
{
    CRecordingExperiment::Setup s;
    s.experimentIndex = kGalileoIndex;
    s.title = QStringLiteral("伽利略斜面实验(2D)");
    s.transformIndex = 1;
    s.captionFont = widgets::SongCaptionFont();
    s.rotationSign = -1;
    s.dropHeight = false;
    s.plotBorder = false;
    s.groupFrames = true;
    s.exportFolder = QString::fromUtf8(output::kGalileoFolder);
    s.tableRows = 501;
    s.columnWidth = 76;
    s.centreHeaders = false;
    s.importColumns = 2;
    s.exportHeaders = {QStringLiteral("X"), QStringLiteral("Y")};
    return s;
}

// No calculation: nothing between the component toggles and "清屏".
const std::vector<CRecordingExperiment::ButtonSpec> kAnalysis = {};

constexpr QSize kSliderSize(200, 40);
constexpr int kRateValueHeight = 26;

QString RateValueMarkup(int hz)
{
    return QStringLiteral("\\font{Times New Roman,26}\\text{ %1(Hz)}").arg(hz);
}

}  // namespace

CDlgTdGalileo::CDlgTdGalileo(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CRecordingExperiment(key, GalileoSetup(), RecordingButtons("水平校准", kAnalysis), parent, std::move(platform))
{
    rateCaption_ = widgets::AddTextBox(this, kIdRateCaption);
    rateValue_ = widgets::AddTextBox(this, kIdRateCaption);
    slider_ = new widgets::CReleaseSlider(this);
    slider_->Create(kIdFrequencySlider, QRect(QPoint(0, 0), kSliderSize), this);
    slider_->Configure({5, 50, 50, 5, 5, 5});
    connect(slider_, &widgets::CReleaseSlider::released, this, &CDlgTdGalileo::FrequencyReleased);
    SetChartView();
    LayoutWindow();
}

void CDlgTdGalileo::SetChartView()
{
    widgets::CChartView v = PositionView(-0.06, 0.86, -0.06, 0.86, true);
    v.axisLineWidth = 2;
    chart_->view = v;
    // Turning series 1 round in place would break its row-for-row match with the records, which
    // deletion relies on; the markers look the same either way.
    chart_->reverseDecreasing = false;
}

// Recording: samples in 0 <= X < 1 below the zero point; from the second record on the ball passing
// 1 m, or lying farther than the distance limit from the zero point, ends the recording, and so does a
// full table. Calibrated along the incline the ball rolls along Y = 0, where the noise would drop
// points in mid-roll below Y = -0.005: from the second record on only X decides.
void CDlgTdGalileo::OnSample()
{
    if (!recording_) {
        MoveMarker();
        return;
    }
    const double x = shown_.x;
    const double y = shown_.y;
    if ((nextTableRow_ > 1 && (x > 1.0 || std::sqrt(x * x + y * y) > kDistanceLimit)) ||
        nextTableRow_ > static_cast<unsigned>(TableCapacity())) {
        StopRecording();
        return;
    }
    if (x >= 0.0 && x < 1.0 && (y > kRestTolerance || nextTableRow_ > 1))
        RecordShownPosition();
}

void CDlgTdGalileo::Calibrate()
{
    // Any point will do, a point along the incline as well (no checks); the zero point itself gives no
    // angle and is ignored.
    AddCalibrationAngle(std::atan(shown_.y / shown_.x));
}

void CDlgTdGalileo::FrequencyReleased(int position)
{
    m_samplingFrequency = position;
    rateValue_->SetText(QString::asprintf(" %d(Hz)", position));
}

std::vector<int> CDlgTdGalileo::DataButtons() const
{
    return {kIdComponentX, kIdComponentY, kIdExport, kIdClear};
}

bool CDlgTdGalileo::AcceptsImportedRow(const Record& record) const
{
    return std::sqrt(record.x * record.x + record.y * record.y) < kDistanceLimit;
}

// --- layout ------------------------------------------------------------------------------------------

void CDlgTdGalileo::LayoutWindow()
{
    LayoutSideTableWindow(RecordingColumn(kAnalysis));
}

void CDlgTdGalileo::LayoutLabelRows(int x0, int upperTop, int lowerTop)
{
    LayoutCoordinateRow(x0, upperTop);
    PlaceColourButton(x0, lowerTop);
    const widgets::CLabelMetrics metrics = LabelMetrics();
    const int th = metrics.TextHeight();
    widgets::CLabelRow row(x0 + metrics.TextWidth(QStringLiteral("X: 123456(m)")), lowerTop, th);
    row.Place(rateCaption_, metrics.BoxWidth(QStringLiteral("采集频率:"), RateCaptionMarkup()));
    // The value is drawn at 26 px in both variants: as wide and as high as that needs.
    const QRect value = row.Next(metrics.BoxWidth(QStringLiteral("50(Hz)"), RateValueMarkup(50)));
    rateValue_->setGeometry(value.adjusted(0, 0, 0, std::max(0, kRateValueHeight - th)));
    // The track bar is taller than the row: centred on it.
    slider_->setGeometry(QRect(QPoint(row.X(), lowerTop + th / 2 - kSliderSize.height() / 2), kSliderSize));
}

void CDlgTdGalileo::RebuildLabelTexts()
{
    CRecordingExperiment::RebuildLabelTexts();
    widgets::SetMarkup(rateValue_, RateValueMarkup(static_cast<int>(m_samplingFrequency.load())));
}

}  // namespace zelkor::experiments
