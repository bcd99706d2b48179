#pragma once
// CTrackExperiment: what the windows that follow a moving object and draw its path share (composition of
// motions, the spherical and centrifugal tracks, robot trace). Acquisition is started and stopped
// explicitly with "开始实验" (232) and "停止实验" (233); "传感器调零" (243) takes the zero point, the record
// button starts a recording, "清屏" (242) empties the chart. Recorded points go straight into the chart's
// series; a sampling-period slider (234) sets the period from 0.02 s up.
//
// Per tick of timer 1 the sample queue is drained in arrival order; each sample becomes the current
// position X, Y (sample minus zero point) and the window's OnSample() takes it. A sample that is not a
// finite position is dropped before anything sees it. The chart is repainted at most once per tick, and
// only when a window asked for it; points the view shows can be drawn at once by AppendLive.
//
// Everything runs on the user-interface thread.

#include "acquisition/exp_base.h"
#include "widgets/chart_series.h"
#include "widgets/release_slider.h"
#include "widgets/window_blocks.h"

#include <QSize>
#include <QString>

#include <initializer_list>
#include <memory>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
}

namespace zelkor::experiments {

using acquisition::CWindowKey;

// Control ids of this family.
inline constexpr int kIdTrackClear = 242;
inline constexpr int kIdTrackZero = 243;
inline constexpr int kIdTrackSlider = 234;
inline constexpr int kIdTrackChart = 20101;

class CTrackExperiment : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    struct Setup {
        int experimentIndex = 0;
        QString title;
        int recordId = 244;        // "记录数据": 244, or 245 in the two tracks
        int sliderMaximum = 5;     // the slider runs from 1
        int sliderPosition = 1;
        QSize sliderSize{200, 40};
        double x0 = 0.0, y0 = 0.0;  // initial zero point
        bool stopEndsRecording = false;
        int captionId = 5001;  // the frequency caption and the period value boxes
        int periodId = 5002;
    };

    ~CTrackExperiment() override;

    void RefreshView() override;

    // Observation.
    double X() const { return x_; }
    double Y() const { return y_; }
    double X0() const { return x0_; }
    double Y0() const { return y0_; }
    bool Recording() const { return recording_; }
    double Period() const { return period_; }
    widgets::CDataChartPanel* Chart() const { return chart_; }
    const widgets::CChartSeries& Series(int index) const { return *seriesList_.at(static_cast<size_t>(index)); }
    int SeriesCount() const { return static_cast<int>(seriesList_.size()); }
    widgets::CZelFormattedTextBox* PeriodBox() const { return periodBox_; }
    widgets::CReleaseSlider* Slider() const { return slider_; }
    int RecordButtonId() const { return setup_.recordId; }

protected:
    CTrackExperiment(CWindowKey key, const Setup& setup, QWidget* parent,
                     std::shared_ptr<device::UsbPlatform> platform);

    // --- what each window adds --------------------------------------------------------------------
    // The sample just taken is the current position X(), Y().
    virtual void OnSample() = 0;
    // Before the start sequence: the window's own resets (chart view, series) after the shared ones.
    virtual void ResetForStart() {}
    // After a start sequence that went through, with 232, 233, 243 and the record button set.
    virtual void AfterStart() {}
    // "记录数据", after the recording flag is set and the slider disabled.
    virtual void AfterRecordingStarted() {}
    // "清屏".
    virtual void Clear() = 0;
    // The chart view every start and "清屏" set again.
    virtual void SetChartView() = 0;
    // Rebuilds the label boxes' markup from the current values (every repaint of the window).
    virtual void RebuildLabelTexts();

    // --- chart ------------------------------------------------------------------------------------
    // The chart (no scroll bars) with the series, in list order.
    void CreateChart(std::vector<widgets::CChartSeries*> series);
    // Hands the series list to the chart and repaints it now.
    void RefreshChart();
    // Asks for one repaint at the end of the tick.
    void RequestRepaint() { repaintPending_ = true; }
    // Appends a point and draws it at once where the view can show it; a point beyond the view is kept
    // all the same (drawn clipped by the next repaint, which it asks for).
    void AppendLive(widgets::CChartSeries& series, double x, double y);
    // Not recording: the marker shows the current position alone. Recording: the marker is hidden and
    // the series of the recorded points shown (a repaint when that changes anything).
    void ShowMarker(widgets::CChartSeries& marker);
    void ShowRecorded(widgets::CChartSeries& marker, std::initializer_list<widgets::CChartSeries*> recorded);
    // Empties a series (and hides it unless told otherwise).
    static void Empty(widgets::CChartSeries& series, bool hide = true);
    static void Style(widgets::CChartSeries& series, int style, int radius, const QColor& colour);
    // The view's ranges, and its axis names and units ("X", "m"; empty: no axis titles).
    void SetViewRanges(double xMin, double xSpan, double xMax, double yMin, double ySpan, double yMax);
    void SetAxisTitles(const QString& unit);
    // Ends any range pick, empties the labels and sets the view again (start reset and "清屏").
    void ResetChartView();

    // --- layout -----------------------------------------------------------------------------------
    // The label row's measuring font, Times New Roman 26 px.
    static widgets::CLabelMetrics LabelMetrics();
    static QString LatinMarkup();  // "\font{Times New Roman,26}"
    // The bottom button bar (232, 233, 243, record, 242) and the label row's frequency caption, period
    // value and slider. Returns the label row: its top, and the slider's left edge.
    struct LabelRowPlace {
        int top = 0;
        int sliderLeft = 0;
    };
    LabelRowPlace LayoutBarAndLabelRow();
    // The chart across the window, from y = 50 down to the label row.
    void PlaceWideChart(int labelRowTop);

    // "停止实验", and the windows' own ends of acquisition.
    void StopExperiment();

    // --- state ------------------------------------------------------------------------------------
    double x0_ = 0.0, y0_ = 0.0;  // zero point
    double x_ = 0.0, y_ = 0.0;    // current position
    bool recording_ = false;
    double period_ = 0.02;        // s
    widgets::CDataChartPanel* chart_ = nullptr;
    std::vector<widgets::CChartSeries*> seriesList_;
    widgets::CReleaseSlider* slider_ = nullptr;
    widgets::CZelFormattedTextBox* rateCaption_ = nullptr;
    widgets::CZelFormattedTextBox* periodBox_ = nullptr;
    const Setup setup_;

    void paintEvent(QPaintEvent* e) override;

private:
    void StartExperiment();
    void ZeroSetting();
    void StartRecording();
    void SetPeriod(int position);

    bool repaintPending_ = false;
};

}  // namespace zelkor::experiments
