#pragma once
// CDlgTdBallOrbit: the spherical track (index 10, "球面轨道"). A ball carrying the transmitter runs along
// a curved groove; while recording, every position inside the recording area becomes a point of the
// chart (y grows downwards) and a row of the table, and the acquisition ends by itself once the ball
// passes the area's right or lower edge. "确定" lays the quarter circle of the typed radius over it,
// from the zero point down to the level of its centre. Selected table rows can be deleted.
//
// The centrifugal track (centri_railway.h) is the same window without the theory arc, whose recorded
// points come in two colours; it is built from here, so that it differs only where its experiment does.

#include "track_experiment.h"

#include <array>
#include <utility>
#include <vector>

namespace zelkor::widgets {
class CDataTable;
class CZelEdit;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

inline constexpr int kBallOrbitIndex = 10;
inline constexpr int kIdTrackRecord = 245;
inline constexpr int kIdTheoryArc = 246;
inline constexpr int kIdRadiusCaption = 5003;
inline constexpr int kIdRadiusField = 5004;
inline constexpr int kIdHorizontalCaption = 5005;
inline constexpr int kIdXValueBox = 5006;
inline constexpr int kIdVerticalCaption = 5007;
inline constexpr int kIdYValueBox = 5008;
inline constexpr int kIdTrackTable = 20102;

// The theory arc for radius r: the quarter circle of radius r centred at (0, r), from (0, 0) down to
// (r, r), one point per millimetre of height. Empty for a radius that is not finite or beyond
// kMaxArcRadius (no chart shows so much, and the points would not fit in memory); for r <= 0 as it comes.
inline constexpr double kMaxArcRadius = 3.0;
std::vector<std::pair<double, double>> TheoryArcPoints(double r);

struct TrackPoint {
    double x = 0.0, y = 0.0;
};

// Built by MakeExperimentWindow<CDlgTdBallOrbit>(parent, platform).
class CDlgTdBallOrbit : public CTrackExperiment {
    Q_OBJECT
public:
    explicit CDlgTdBallOrbit(CWindowKey key, QWidget* parent = nullptr,
                             std::shared_ptr<device::UsbPlatform> platform = device::SensorPlatform());

    // The recording area: points are taken for kAreaEdge < X < kXLimit, kAreaEdge < Y < kYLimit; a
    // recording ends past X = kStopX or Y = kYLimit. Samples at X >= 1 or Y >= 1 are dropped.
    static constexpr double kXLimit = 0.5;
    static constexpr double kYLimit = 0.4;
    static constexpr double kStopX = 0.55;
    static constexpr double kAreaEdge = -0.02;
    static constexpr double kDropLimit = 1.0;
    static constexpr int kTableRows = 101;

    widgets::CDataTable* Table() const { return table_; }
    unsigned NextTableRow() const { return nextTableRow_; }
    // Every point recorded since the table was last cleared, in row order, also beyond its last row.
    const std::vector<TrackPoint>& TableRecords() const { return records_; }

protected:
    struct Variant {
        int experimentIndex = kBallOrbitIndex;
        QString title;
        bool theoryArc = true;
        QColor marker, points, path;  // series 0, 1 and 2
    };
    CDlgTdBallOrbit(CWindowKey key, const Variant& variant, QWidget* parent,
                    std::shared_ptr<device::UsbPlatform> platform);

    // The series (1, or 3 in the centrifugal track) the next recorded point is drawn in.
    virtual int SeriesForNextPoint() const { return 1; }

    void OnSample() override;
    void ResetForStart() override;
    void AfterStart() override;
    void AfterRecordingStarted() override;
    void Clear() override;
    void SetChartView() override;
    void RebuildLabelTexts() override;
    void resizeEvent(QResizeEvent* e) override;

    // 0 position marker, 1 recorded points, 2 path line through every recorded point; 3 and 4 the theory
    // arc and its radius line, or in the centrifugal track 3 the points after the first ones.
    std::array<widgets::CChartSeries, 5> series_;

private:
    void RecordPoint();
    void DeleteSelectedRows();
    // Removes `count` points of the path from index `first`, each also from the series it is drawn in.
    void RemovePathPoints(size_t first, size_t count);
    void EmptyRecordedSeries(bool showMarker);
    void DrawTheoryArc();
    void ShowValues();
    void LayoutWindow();

    const bool theoryArc_;
    // Beside the path: the series each of its points is drawn in.
    std::vector<int> drawnIn_;
    // The table's records; while `linked_` they are the last points of the path, in order.
    std::vector<TrackPoint> records_;
    bool linked_ = false;
    unsigned nextTableRow_ = 1;
    TrackPoint shown_;  // the position the value boxes show

    widgets::CDataTable* table_ = nullptr;
    widgets::CZelFormattedTextBox* radiusCaption_ = nullptr;
    widgets::CZelEdit* radiusField_ = nullptr;
    widgets::CZelFormattedTextBox* horizontalCaption_ = nullptr;
    widgets::CZelFormattedTextBox* xValue_ = nullptr;
    widgets::CZelFormattedTextBox* verticalCaption_ = nullptr;
    widgets::CZelFormattedTextBox* yValue_ = nullptr;
};

}  // namespace zelkor::experiments
