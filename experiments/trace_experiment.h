#pragma once
// CTraceExperiment: what the trace windows share (the single pendulum, uniform circular motion and
// damped vibration). A position chart shows where the transmitter is now; while recording, a trace chart
// draws one coordinate against time in rolling mode, and a point list keeps each recorded sample, index
// for index with the trace; a two-click range pick on the trace serves one of two measurements.
//
// - the zero point, in the sample frame: every sample's offset from it is what the windows show;
// - the live marker (a single point) and the never-filled second series of the position chart;
// - the trace series and the point list kept aligned, also when the trace chart refuses a point beyond
//   its view (it is then appended directly, clipped when drawn);
// - the two pick flags and the pick handler (a pick over an empty window is ignored);
// - Start, Stop, Zero, Record and Clear, with each window's table of button states;
// - the frequency radios, the frequency that was in force while recording, and optionally the mouse
//   wheel anywhere over the window scrolling the trace.
//
// Everything runs on the user-interface thread.

#include "acquisition/exp_base.h"
#include "numerics/common.h"
#include "widgets/chart_series.h"
#include "widgets/window_blocks.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
class CZelRadioButton;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

using acquisition::CWindowKey;
using acquisition::MakeExperimentWindow;

// Ids the trace windows share; the experiments give the buttons 243 to 247 their own meanings.
inline constexpr int kIdTraceClear = 242;
inline constexpr int kIdTraceZero = 243;
inline constexpr int kIdPositionChart = 20101;
// Label boxes: the "采集频率:" caption, then caption and value pairs from 5011 on.
inline constexpr int kIdRateLabel = 5010;
inline constexpr int kIdFirstResultLabel = 5011;

class CTraceExperiment : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    // One recorded sample: (x, Y) in the pendulum, (u, w) in circular motion.
    struct Point {
        double a = 0.0, b = 0.0;
    };

    ~CTraceExperiment() override;

    void RefreshView() override;

    // Observation (tests).
    const std::vector<Point>& Points() const { return points_; }
    const widgets::CChartSeries& Trace() const { return trace_; }
    const widgets::CChartSeries& Live() const { return live_; }
    widgets::CDataChartPanel* PositionChart() const { return positionChart_; }
    widgets::CDataChartPanel* TraceChart() const { return traceChart_; }
    bool Recording() const { return recording_; }
    double ElapsedTime() const { return time_; }
    double ZeroX() const { return zeroX_; }
    double ZeroY() const { return zeroY_; }
    // The sampling frequency when the recording began (0 before any recording).
    double RecordingFrequency() const { return recordingFrequency_; }

protected:
    // Which buttons each event turns on and off (the Parts' tables); ids not present are skipped.
    struct ButtonTable {
        std::vector<int> startOn, startOff;
        std::vector<int> stopOn, stopOff, stopOnWithTrace;
        std::vector<int> recordOff;
        std::vector<int> clearOff;
    };

    CTraceExperiment(CWindowKey key, int experimentIndex, QWidget* parent,
                     std::shared_ptr<device::UsbPlatform> platform);

    // The two charts and their series; the trace is the one range picks refer to.
    void CreateCharts(int traceId, bool positionVerticalAuto, bool traceHorizontalAuto, bool traceVerticalAuto);
    // The buttons of the window (after the experiment created its own) and its table.
    void BindButtons(int recordId, const ButtonTable& table);
    // The frequency radios in the label font; a choice calls FrequencyChosen.
    void CreateRadios();
    // The caption and value boxes: the rate caption 5010, then `pairs` caption/value pairs from 5011.
    void CreateLabels(int pairs);
    // The mouse wheel anywhere over the window scrolls the trace chart (call once all children exist).
    void RouteWheelToTrace();

    // --- per experiment ----------------------------------------------------------------------------
    // The chart views as the window sets them (Start, Clear, frequency choice).
    virtual void SetChartViews() = 0;
    // One sample: offsetX/offsetY are set; move the live marker, and record while recording.
    virtual void TakeSample(const _DataPck& sample) = 0;
    // A completed pick over samples span.lo ... span.hi - 1 (never empty of indices: -1 is ignored).
    virtual void MeasurePick(const numerics::PickSpan& span) = 0;
    // The window's own resets of Start and Clear (results, labels).
    virtual void ResetForStart() = 0;
    virtual void ResetForClear() = 0;
    virtual void FrequencyChosen(double hz) { (void)hz; }
    // Label texts from the stored results, at every layout pass.
    virtual void RebuildLabels() = 0;
    // Places the charts, the label rows and the buttons for the window's size (every resize).
    virtual void LayoutWindow() = 0;

    // --- helpers for the experiments ---------------------------------------------------------------
    // The newest sample as the live marker's only point.
    void MoveLive(double a, double b);
    // A recorded sample: (tx, ty) onto the trace by incremental append (directly when refused), p onto
    // the point list.
    void RecordPoint(double tx, double ty, const Point& p);
    // Arms a range pick on the trace for the measurement whose flag this is.
    void ArmPick(bool& flag);
    // Empties a series and hides it.
    static void Empty(widgets::CChartSeries& s);
    void RedrawCharts();
    // Label geometry: the labels' cell height and the width of a box for a measure text (in Times New
    // Roman) or its markup, whichever is wider.
    static int LabelHeight();
    static int LabelWidth(const QString& measureText, const QString& markup);
    // 黑体 caption and Times New Roman value markup of the labels.
    static QString CaptionMarkup(const QString& chinese, const QString& latin);
    static QString ValueMarkup(const QString& text);
    widgets::CZelFormattedTextBox* Caption(int pair) const { return labels_.at(static_cast<size_t>(2 * pair)); }
    widgets::CZelFormattedTextBox* Value(int pair) const { return labels_.at(static_cast<size_t>(2 * pair + 1)); }
    // The height of a label row (as high as the radios), with every label's text moved down to stand
    // level with the radios' captions.
    int PrepareLabelRows();
    // Places the rate caption and the radios on a row from `row`'s position.
    void PlaceRateRow(widgets::CLabelRow& row);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    widgets::CDataChartPanel* positionChart_ = nullptr;
    widgets::CDataChartPanel* traceChart_ = nullptr;
    widgets::CChartSeries live_;   // the newest position, one point
    widgets::CChartSeries spare_;  // never filled
    widgets::CChartSeries trace_;
    std::vector<widgets::CChartSeries*> positionSeries_;
    std::vector<widgets::CChartSeries*> traceSeries_;
    std::vector<Point> points_;

    double zeroX_ = 0.0, zeroY_ = 0.0;      // in the sample frame
    double offsetX_ = 0.0, offsetY_ = 0.0;  // newest sample minus the zero point
    bool recording_ = false;
    double time_ = 0.0;
    double recordingFrequency_ = 0.0;
    bool pickFlags_[2] = {false, false};

    widgets::CZelRadioButton* radio25_ = nullptr;
    widgets::CZelRadioButton* radio50_ = nullptr;
    widgets::CZelFormattedTextBox* rateLabel_ = nullptr;
    std::vector<widgets::CZelFormattedTextBox*> labels_;

private:
    void Start();
    void Stop();
    void Record();
    void Zero();
    void Clear();
    void PickDone(const widgets::CDataChartPanel& panel);
    void ResetCharts();

    ButtonTable table_;
    bool wheelToTrace_ = false;
};

}  // namespace zelkor::experiments
