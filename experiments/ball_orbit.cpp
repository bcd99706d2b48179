#include "ball_orbit.h"

#include "number_texts.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"
#include "widgets/picture_button.h"
#include "widgets/text_boxes.h"

#include <QStyle>

#include <algorithm>
#include <cmath>

namespace zelkor::experiments {

namespace {

constexpr int kMarker = 0;
constexpr int kPoints = 1;
constexpr int kPath = 2;
constexpr int kArc = 3;
constexpr int kRadiusLine = 4;

constexpr double kArcStep = 0.001;
constexpr int kTop = 50;
constexpr int kMargin = 20;
constexpr int kTableWidth = 160;
constexpr int kColumnWidth = 76;
constexpr int kChartLeft = 202;
constexpr int kChartRightRoom = 270;
constexpr int kValueBoxWidth = 250;
constexpr int kValueBoxHeight = 50;
constexpr int kRadiusFromSlider = 220;
constexpr int kArcButtonGap = 5;
const QPoint kValueOrigin(45, 7);
const QColor kYellow(255, 255, 0);
const QColor kGreen(0, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

QString ValueMarkup(double v)
{
    return QStringLiteral("\\font{Times New Roman,26}") +
           (v == 0.0 ? QStringLiteral("\\text{  0(m)}") : Printf("\\text{ %.3f(m)}", v));
}

widgets::CZelFormattedTextBox* AddValueBox(QWidget* parent, int id, const QColor& background, const QColor& text)
{
    widgets::CZelFormattedTextBox* box = widgets::AddTextBox(parent, id);
    box->border = true;
    box->backgroundColor = background;
    box->textColor = text;
    box->origin = kValueOrigin;
    return box;
}

void SetPlain(widgets::CZelFormattedTextBox* box, const QString& text)
{
    box->textAlign = Qt::AlignLeft | Qt::AlignTop;
    box->SetText(text);  // a readout that did not change repaints nothing
}

}  // namespace

std::vector<std::pair<double, double>> TheoryArcPoints(double r)
{
    std::vector<std::pair<double, double>> points;
    if (!std::isfinite(r) || r > kMaxArcRadius)
        return points;
    for (double v = 0.0; v < r + kArcStep; v += kArcStep) {
        // Below the circle (only for r under one step) the root has no value: no point.
        const double x = std::abs(std::sqrt(r * r - (v - r) * (v - r)));
        if (std::isfinite(x))
            points.emplace_back(x, v);
    }
    return points;
}

CDlgTdBallOrbit::CDlgTdBallOrbit(CWindowKey key, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : CDlgTdBallOrbit(key, Variant{kBallOrbitIndex, QStringLiteral("球面轨道"), true, kBlue, kBlue, QColor(0, 0, 0)},
                      parent, std::move(platform))
{
}

CDlgTdBallOrbit::CDlgTdBallOrbit(CWindowKey key, const Variant& variant, QWidget* parent,
                                 std::shared_ptr<device::UsbPlatform> platform)
    : CTrackExperiment(key,
                       [&] {
                           Setup s;
                           s.experimentIndex = variant.experimentIndex;
                           s.title = variant.title;
                           s.recordId = kIdTrackRecord;
                           s.x0 = 0.1;
                           s.y0 = 0.1;
                           return s;
                       }(),
                       parent, std::move(platform)),
      theoryArc_(variant.theoryArc)
{
    if (theoryArc_) {
        AddButton(kIdTheoryArc, QStringLiteral("确定"), widgets::kFaceStart);
        connect(Button(kIdTheoryArc), &QPushButton::clicked, this, &CDlgTdBallOrbit::DrawTheoryArc);
        radiusCaption_ = widgets::AddTextBox(this, kIdRadiusCaption);
        radiusField_ = new widgets::CZelEdit(this);
        radiusField_->Create(kIdRadiusField, QRect(0, 0, 10, 10), this);
        radiusField_->setAlignment(Qt::AlignRight);
        radiusField_->setText(QStringLiteral("0.2"));
    }
    horizontalCaption_ = AddValueBox(this, kIdHorizontalCaption, kYellow, kBlue);
    xValue_ = AddValueBox(this, kIdXValueBox, kGreen, kBlue);
    verticalCaption_ = AddValueBox(this, kIdVerticalCaption, kYellow, kRed);
    yValue_ = AddValueBox(this, kIdYValueBox, kGreen, kRed);

    table_ = new widgets::CDataTable(this);
    table_->Create(QRect(0, 0, 10, 10), this, kIdTrackTable);
    widgets::CDataTableSettings settings;
    settings.rows = kTableRows;
    settings.columnWidths = {kColumnWidth, kColumnWidth};
    settings.headers = {{QStringLiteral("\\math{X}\\text{(m)}"), QStringLiteral("X(m)")},
                        {QStringLiteral("\\math{Y}\\text{(m)}"), QStringLiteral("Y(m)")}};
    table_->ApplyCommonSettings(settings);
    table_->contextMenuCondition = [] { return true; };
    connect(table_, &widgets::CDataTable::commandIssued, this, [this](int command) {
        if (command == widgets::kDeleteSelectedCommand)
            DeleteSelectedRows();
    });

    using widgets::kStyleMarkers;
    using widgets::kStylePolyline;
    Style(series_[kMarker], kStyleMarkers, 8, variant.marker);
    Style(series_[kPoints], kStyleMarkers, 4, variant.points);
    Style(series_[kPath], kStylePolyline, 4, variant.path);
    series_[kPath].lineWidth = 1;
    series_[kPath].lineStyle = Qt::DotLine;
    std::vector<widgets::CChartSeries*> list = {&series_[kMarker], &series_[kPoints], &series_[kPath], &series_[kArc]};
    if (theoryArc_) {
        Style(series_[kArc], kStylePolyline, 4, kRed);
        series_[kArc].lineWidth = 2;
        Style(series_[kRadiusLine], kStylePolyline, 4, kRed);
        series_[kRadiusLine].lineWidth = 1;
        series_[kRadiusLine].lineStyle = Qt::DashLine;
        list.push_back(&series_[kRadiusLine]);
    } else {
        Style(series_[kArc], kStyleMarkers, 4, QColor(0, 0, 0));
    }
    for (widgets::CChartSeries* s : list)
        Empty(*s);
    CreateChart(list);
    chart_->reverseDecreasing = false;
    SetChartView();
    EmptyRecordedSeries(true);
    RefreshChart();
    ShowValues();
}

void CDlgTdBallOrbit::SetChartView()
{
    SetAxisTitles({});
    SetViewRanges(-0.1, 0.6, 0.5, -0.1, 0.5, 0.4);
    widgets::CChartView& v = chart_->view;
    v.yUp = false;
    v.xMirrored = false;
    // The x span follows the y span and the plot's shape; the recording area keeps its own limits.
    v.equalScale = true;
    v.adaptX = true;
    v.xMinorGrid = false;
    v.yMinorGrid = false;
}

// --- samples -----------------------------------------------------------------------------------------

void CDlgTdBallOrbit::OnSample()
{
    if (!(x_ < kDropLimit && y_ < kDropLimit))
        return;
    shown_ = {x_, y_};
    SetPlain(xValue_, Printf(" %.3f(m)", x_));
    SetPlain(yValue_, Printf(" %.3f(m)", y_));
    if (recording_ && (x_ > kStopX || y_ > kYLimit))
        StopExperiment();
    if (recording_ && x_ > kAreaEdge && y_ > kAreaEdge && x_ < kXLimit && y_ < kYLimit) {
        RecordPoint();
    } else {
        series_[kMarker].Clear();
        series_[kMarker].Append(x_, y_);
    }
    RequestRepaint();
}

void CDlgTdBallOrbit::RecordPoint()
{
    const int into = SeriesForNextPoint();
    series_[kMarker].visible = false;
    series_[into].visible = true;
    series_[into].Append(x_, y_);
    series_[kPath].visible = true;
    series_[kPath].Append(x_, y_);
    drawnIn_.push_back(into);
    records_.push_back({x_, y_});
    // Rows past the table's last are counted, and listed once deletions make room for them.
    table_->SetItemText(static_cast<int>(nextTableRow_), 0, Fixed3(x_));
    table_->SetItemText(static_cast<int>(nextTableRow_), 1, Fixed3(y_));
    ++nextTableRow_;
}

// --- operations --------------------------------------------------------------------------------------

void CDlgTdBallOrbit::EmptyRecordedSeries(bool showMarker)
{
    Empty(series_[kMarker], !showMarker);
    series_[kMarker].visible = showMarker;
    for (int i : {kPoints, kPath})
        Empty(series_[i]);
    if (!theoryArc_)
        Empty(series_[kArc]);
    drawnIn_.clear();
    // The table keeps its rows, which now stand for points that are gone.
    linked_ = false;
}

void CDlgTdBallOrbit::ResetForStart()
{
    ResetChartView();
    EmptyRecordedSeries(true);
    RefreshChart();
}

void CDlgTdBallOrbit::AfterStart()
{
    SetEnabled({kIdTrackClear}, false);
}

void CDlgTdBallOrbit::AfterRecordingStarted()
{
    table_->ClearData(nextTableRow_);
    records_.clear();
    // From here on row k of the table is the k-th point the path gets.
    linked_ = true;
}

void CDlgTdBallOrbit::Clear()
{
    recording_ = false;
    EmptyRecordedSeries(false);
    ResetChartView();
    RefreshChart();
    x_ = y_ = 0.0;
    shown_ = {};
    SetPlain(xValue_, QStringLiteral(" 0(m)"));
    SetPlain(yValue_, QStringLiteral(" 0(m)"));
    SetEnabled({kIdTrackClear}, false);
}

void CDlgTdBallOrbit::DeleteSelectedRows()
{
    const widgets::RowDeletion deletion = table_->DeleteSelectedRows(nextTableRow_);
    if (!deletion.proceed || deletion.count <= 0)
        return;
    const auto first = static_cast<size_t>(deletion.firstRecord);
    const size_t count = std::min(static_cast<size_t>(deletion.count), records_.size() - std::min(first, records_.size()));
    if (linked_ && series_[kPath].x.size() >= records_.size())
        RemovePathPoints(series_[kPath].x.size() - records_.size() + first, count);
    records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(std::min(first, records_.size())),
                   records_.begin() + static_cast<std::ptrdiff_t>(std::min(first + count, records_.size())));
    // Rows that moved up into the table from beyond its last row show their points now.
    const size_t listed = std::min(records_.size(), static_cast<size_t>(kTableRows - 1));
    for (size_t i = first; i < listed; ++i) {
        table_->SetItemText(static_cast<int>(i + 1), 0, Fixed3(records_[i].x));
        table_->SetItemText(static_cast<int>(i + 1), 1, Fixed3(records_[i].y));
    }
    table_->Refresh();
    RefreshChart();
}

void CDlgTdBallOrbit::RemovePathPoints(size_t first, size_t count)
{
    widgets::CChartSeries& path = series_[kPath];
    const size_t size = std::min(path.x.size(), drawnIn_.size());
    first = std::min(first, size);
    const size_t last = std::min(first + count, size);
    // The removed points of each series stand together in it, after the ones drawn before `first`.
    std::array<size_t, 5> before{}, removed{};
    for (size_t i = 0; i < last; ++i)
        ++(i < first ? before : removed)[static_cast<size_t>(drawnIn_[i])];
    for (size_t s = 0; s < series_.size(); ++s) {
        widgets::CChartSeries& series = series_[s];
        const size_t from = std::min(before[s], series.x.size());
        const size_t to = std::min(from + removed[s], series.x.size());
        series.x.erase(series.x.begin() + static_cast<std::ptrdiff_t>(from), series.x.begin() + static_cast<std::ptrdiff_t>(to));
        series.y.erase(series.y.begin() + static_cast<std::ptrdiff_t>(from), series.y.begin() + static_cast<std::ptrdiff_t>(to));
        series.firstDrawn = 0;
        series.numberDrawn = static_cast<int>(series.x.size());
    }
    path.x.erase(path.x.begin() + static_cast<std::ptrdiff_t>(first), path.x.begin() + static_cast<std::ptrdiff_t>(last));
    path.y.erase(path.y.begin() + static_cast<std::ptrdiff_t>(first), path.y.begin() + static_cast<std::ptrdiff_t>(last));
    path.numberDrawn = static_cast<int>(path.x.size());
    drawnIn_.erase(drawnIn_.begin() + static_cast<std::ptrdiff_t>(first), drawnIn_.begin() + static_cast<std::ptrdiff_t>(last));
}

void CDlgTdBallOrbit::DrawTheoryArc()
{
    widgets::CChartSeries& arc = series_[kArc];
    widgets::CChartSeries& radius = series_[kRadiusLine];
    Empty(arc, false);
    Empty(radius, false);
    arc.visible = radius.visible = true;
    const QString text = radiusField_->text();
    if (!text.isEmpty()) {
        const double r = ReadLeadingNumber(text);
        for (const auto& [x, y] : TheoryArcPoints(r))
            arc.Append(x, y);
        if (std::isfinite(r) && r <= kMaxArcRadius) {
            radius.Append(0.0, r);
            radius.Append(r, r);
        }
    }
    RefreshChart();
}

// --- labels and layout -------------------------------------------------------------------------------

void CDlgTdBallOrbit::ShowValues()
{
    widgets::SetMarkup(xValue_, ValueMarkup(shown_.x));
    widgets::SetMarkup(yValue_, ValueMarkup(shown_.y));
}

void CDlgTdBallOrbit::RebuildLabelTexts()
{
    CTrackExperiment::RebuildLabelTexts();
    if (radiusCaption_)
        widgets::SetMarkup(radiusCaption_, QStringLiteral("\\font{黑体,26}\\text{请输入半径:}"));
    widgets::SetMarkup(horizontalCaption_, QStringLiteral("\\font{黑体,26}\\text{水平:}"));
    widgets::SetMarkup(verticalCaption_, QStringLiteral("\\font{黑体,26}\\text{垂直:}"));
    if (xValue_)
        ShowValues();
}

void CDlgTdBallOrbit::resizeEvent(QResizeEvent* e)
{
    CTrackExperiment::resizeEvent(e);
    LayoutWindow();
}

void CDlgTdBallOrbit::LayoutWindow()
{
    if (!chart_)
        return;
    const int w = width();
    const int h = height();
    const LabelRowPlace row = LayoutBarAndLabelRow();
    if (theoryArc_) {
        const widgets::CLabelMetrics metrics = LabelMetrics();
        widgets::CLabelRow labels(row.sliderLeft + kRadiusFromSlider, row.top, metrics.TextHeight());
        labels.Place(radiusCaption_,
                     metrics.BoxWidth(QStringLiteral("请输入半径："), QStringLiteral("\\font{黑体,26}\\text{请输入半径:}")));
        labels.Place(radiusField_, metrics.TextWidth(QStringLiteral("0.000")) + 8);
        labels.Skip(kArcButtonGap);
        labels.Place(Button(kIdTheoryArc), FrameButton(acquisition::kIdBack)->width());
    }
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table_);
    table_->setGeometry(kMargin, kTop, kTableWidth + scrollBar, std::max(1, row.top - kMargin - kTop));
    chart_->setGeometry(kChartLeft, kTop, std::max(1, w - 472), std::max(1, row.top - kTop));
    const int x = w - kChartRightRoom;
    const int y0 = h / 2 - 200;
    horizontalCaption_->setGeometry(x, y0, kValueBoxWidth, kValueBoxHeight);
    xValue_->setGeometry(x, y0 + 60, kValueBoxWidth, kValueBoxHeight);
    verticalCaption_->setGeometry(x, y0 + 140, kValueBoxWidth, kValueBoxHeight);
    yValue_->setGeometry(x, y0 + 200, kValueBoxWidth, kValueBoxHeight);
}

}  // namespace zelkor::experiments
