#pragma once
// CDataChartPanel: the x/y chart of the experiment windows. It draws a plot area with minor and major
// grids, axes through the origin with arrow heads, ticks, tick labels and titles, and the series of the
// owner's list; takes live points by incremental append (scrolling the view in page or rolling mode when
// they leave it); moves the view with its scroll bars and the mouse wheel; and runs two-click range picks.
//
// Use:
//   auto* chart = new CDataChartPanel(parent, /*horizontalAutoScroll*/ false, /*verticalAutoScroll*/ true);
//   chart->setProperty("ctrlId", 20101);
//   chart->setGeometry(rect);
//   chart->view.xName = "X"; chart->view.xUnit = "m"; ...   // plain fields, then
//   chart->SetSeriesList({&s0, &s1});                        // requests a repaint
//   chart->Redraw();                                          // after changing fields or series
//   chart->IncrementalAppend(s1, x, y);                       // live recording
//
// The owner keeps its series alive while they are in the list (SetSeriesList({}) before deleting them).
// Redraw() does not paint at once: from the event loop the panel compares what its picture shows with
// the current view, series and pick, and repaints only the regions that differ (a marker that moved
// repaints where it was and where it is now, from a cached picture of the background; one that moved by
// less than a pixel repaints nothing). A changed view, size or series list repaints everything. The
// picture is always the one the whole paint sequence gives (equal scale, automatic steps, reversal of
// decreasing series). An incremental append within the view draws only its new points onto the
// picture (no repaint); a later repaint of that region draws everything again in list order.
//
// Range pick: set pickKind = 1 and pickOrientation, mark a series selectable, then
//   chart->ArmRangePick(true, this, [](CDataChartPanel& p, QObject* owner) { use p.pickResult; });
// The handler is called from the second left click, after pickResult is filled. It may call
// ArmRangePick(false, ...) and Redraw(). A right click disarms the pick.
//
// All calls belong to the user-interface thread.

#include "chart_math.h"
#include "chart_raster.h"
#include "chart_series.h"

#include <QElapsedTimer>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QStaticText>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QScrollBar;

namespace zelkor::widgets {

class CDataChartPanel : public QWidget {
    Q_OBJECT

public:
    using PickHandler = std::function<void(CDataChartPanel& panel, QObject* owner)>;

    static constexpr int kPageMode = 0;
    static constexpr int kRollingMode = 1;
    static constexpr int kPickVertical = 0;    // vertical marks, pick along x
    static constexpr int kPickHorizontal = 1;  // horizontal marks, pick along y
    static constexpr int kPickRange = 1;       // the pick kind the experiments use

    struct PickResult {
        int first = -1;
        int last = -1;
        double startX = 0, endX = 0, startY = 0, endY = 0;
    };

    // The auto-scroll flags decide whether the panel has a horizontal and a vertical scroll bar.
    explicit CDataChartPanel(QWidget* parent = nullptr, bool horizontalAutoScroll = false,
                             bool verticalAutoScroll = false);
    ~CDataChartPanel() override;

    // Plain settings, assigned by the owner, followed by Redraw().
    CChartView view;
    int scrollMode = kPageMode;
    QColor panelBackground{255, 255, 255};
    QColor pickMarkColour{255, 255, 0};
    bool reverseDecreasing = true;
    int pickOrientation = kPickVertical;
    int pickKind = 0;
    QString startMarkLabel = QStringLiteral("起始点");
    QString endMarkLabel = QStringLiteral("结束点");
    PickResult pickResult;

    bool HorizontalAutoScroll() const { return m_hAuto; }
    bool VerticalAutoScroll() const { return m_vAuto; }

    // Replaces the list of series (drawn in list order) and requests a repaint.
    void SetSeriesList(std::vector<CChartSeries*> series);
    const std::vector<CChartSeries*>& SeriesList() const { return m_series; }

    // Repaint request.
    void Redraw();

    // Appends points to a series of the list and shows them, or scrolls the view when the last new point
    // lies beyond x max (or y max) and that direction auto-scrolls; beyond the view without auto-scroll the
    // points are refused (not added). Only the last point is compared with the view. True when the
    // points were added to the series.
    bool IncrementalAppend(CChartSeries& series, const std::vector<double>& xs, const std::vector<double>& ys);
    bool IncrementalAppend(CChartSeries& series, double x, double y);

    // Takes now the memory a series needs to grow to `points` points, its own lists and the panel's
    // copies of what it shows, and writes to every page of it. Appending up to that length then never
    // copies the lists to a larger block, nor writes to a page for the first time: each such page costs
    // a fault to the system (a 4 KiB page holds 512 values, so ten lists growing together fault together
    // at every 512th point, and on a busy machine one fault can take half a millisecond). For owners
    // whose series grow for a long time, at a moment when nobody waits for a point (a click). Changes
    // no point and nothing drawn.
    void PrepareForPoints(CChartSeries& series, std::size_t points);
    // How many points the panel's copies of a series can hold without taking memory (0 for a series
    // outside its list or not painted yet).
    std::size_t PreparedPoints(const CChartSeries& series) const;

    // enable true starts a pick, false ends any pick; both clear the pick state and store owner and handler.
    void ArmRangePick(bool enable, QObject* owner, PickHandler handler);
    // Clears the start- and end-tracking flags: a pick in progress stops following the pointer and both
    // marks leave the screen; owner, handler, result and the stored start offset stay.
    void StopPickTracking();

    // Experiment windows "clear the chart's caption" when they reset it. The panel draws no caption of
    // its own (a series' label is the only text it draws inside the plot), so there is nothing to clear.
    void ClearCaption() {}
    bool PickArmed() const { return m_pickArmed; }
    bool PickStartFixed() const { return m_startFixed; }
    bool PickEndFixed() const { return m_endFixed; }

    // Scroll bars back to the range 0..0 with page 2 (position 0).
    void ResetHorizontalScroll();
    void ResetVerticalScroll();
    const chart::ScrollBarModel& HorizontalBar() const { return m_hModel; }
    const chart::ScrollBarModel& VerticalBar() const { return m_vModel; }
    QScrollBar* HorizontalScrollBar() const { return m_hBar; }
    QScrollBar* VerticalScrollBar() const { return m_vBar; }

    // Scroll handlers (what the scroll bars send); public so that tests and owners can drive them.
    void HorizontalScroll(chart::ScrollRequest request, int thumb = 0);
    void VerticalScroll(chart::ScrollRequest request, int thumb = 0);
    // Mouse wheel with the given vertical delta (120 per notch); owners forward window-wide wheels here.
    void WheelScroll(int delta);

    // Runs the paint sequence into the back buffer now and returns it (client size, without scroll bars).
    const QImage& RenderNow();
    const QImage& BackBuffer() const { return m_buffer; }
    // How many times the whole picture has been painted (benchmarks and tests tell the paths apart).
    int WholePaints() const { return m_wholePaints; }
    // Client area: the widget less its scroll bars.
    QSize ClientSize() const;
    // Plot rectangle and mapping for the current view and size (as the next paint will use them).
    chart::PlotRect PlotArea() const;
    chart::Mapping CurrentMapping() const;

    // The caches change nothing that is drawn; switching them off gives the plain paint.
    void SetCachingEnabled(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SeriesRecord;
    struct StaticKey {
        CChartView view;
        QSize size;
        QColor panelBackground;
        bool operator==(const StaticKey&) const = default;
    };
    // What the picture shows of the range pick.
    struct PickShown {
        bool startMark = false, endMark = false;
        int start = 0, end = 0;
        bool horizontal = false;
        QColor colour;
        bool box = false;
        QRect boxRect;
        QString boxText;
        bool operator==(const PickShown&) const = default;
    };
    enum class Reconciled { Nothing, Regions, Everything };

    // Whole paint sequence into the back buffer.
    void Render();
    // Equal scale and automatic steps, kept in the view as the owner sees them; the mapping they give.
    chart::Mapping PrepareView(const chart::PlotRect& plot);
    void ReverseDecreasing();
    struct TextMeasure {
        int advance = 0;
        QRect ink;  // from the start of the baseline
    };
    struct StaticScene;
    struct LaidOutText {
        QStaticText text;
        qreal ascent = 0;  // from the top of the layout to its baseline
    };
    const LaidOutText& LaidOut(const QFont& font, const QString& text);
    // The background, grids, axes and their texts, drawn only within clip.
    void RenderStatic(const chart::PlotRect& plot, const chart::Mapping& m, const QRect& clip);
    void BuildScene(const chart::PlotRect& plot, const chart::Mapping& m, StaticScene& scene);
    void SceneAxisX(StaticScene& scene, const chart::PlotRect& plot, const chart::Mapping& m);
    void SceneAxisY(StaticScene& scene, const chart::PlotRect& plot, const chart::Mapping& m);
    void DrawScene(const StaticScene& scene, const QRect& clip, std::optional<QPainter>& painter);
    void RenderSeries(const chart::PlotRect& plot, const chart::Mapping& m);
    void DrawLabel(const SeriesRecord& rec, const QRect& clip);
    PickShown PickFor(const chart::PlotRect& plot, const chart::Mapping& m) const;
    QRegion PickRegion(const PickShown& pick, const chart::PlotRect& plot) const;
    QRegion PickChange(const PickShown& was, const PickShown& now, const chart::PlotRect& plot) const;
    void DrawPick(const PickShown& pick, const chart::PlotRect& plot, const QRect& clip);
    // Brings the picture up to date after Redraw(): nothing, some regions or everything.
    void Resolve(const QRegion* painting);
    Reconciled Reconcile(QRegion& dirty);
    void RenderRegions(const QRegion& dirty);
    bool DrawAppended(CChartSeries& s, std::size_t oldSize);
    void DrawOverAppended(const SeriesRecord& appended, const chart::PlotRect& touched);
    SeriesRecord* RecordOf(const CChartSeries* s) const;
    chart::SeriesStyle StyleOf(const CChartSeries& s) const;
    void AppendAndScroll(CChartSeries& s, const std::vector<double>& xs, const std::vector<double>& ys,
                         std::size_t n, bool horizontal);
    bool DrawRolled();
    void RollOrOwe();
    void PayRoll();
    void DrawSeriesWithin(chart::PixelTarget& target, const SeriesRecord& rec,
                          const std::vector<chart::PlotRect>& boxes, const chart::PlotRect& clip);
    void ApplyScroll(bool horizontal, int newPos);
    void SyncBars();
    // Shows the model on the bars only when a thumb would move by a pixel (or a bar change its state).
    void SyncBarsIfMoved();
    void FollowWithBars();
    void LayoutBars();
    void OnBarAction(bool horizontal, int action);
    int MarkPixelFor(const QPoint& p) const;
    void FinishPick();
    QImage TitleImage(int id);
    chart::PixelTarget TargetFor(QImage& img, const chart::PlotRect& clip);

    std::vector<CChartSeries*> m_series;
    bool m_hAuto = false, m_vAuto = false;
    QScrollBar* m_hBar = nullptr;
    QScrollBar* m_vBar = nullptr;
    chart::ScrollBarModel m_hModel, m_vModel;
    bool m_syncing = false;
    bool m_barsStale = false;  // a bar shows an older position of the model (its thumb is where it would be)
    QElapsedTimer m_barsSynced;  // since the bars were last set
    QTimer m_barsFollow;         // sets bars left behind by a rolling trace
    // A rolling trace moves at every sample, and each move is drawn over most of the plot's columns;
    // its picture follows about every kRollFollowMs (a sample up to 10 ms early draws it), and
    // whatever reads or draws the picture first brings it up to date.
    bool m_rollOwed = false;   // the view has rolled since its picture was drawn
    QElapsedTimer m_rolledAt;  // since a roll was last drawn
    QTimer m_rollFollow;       // draws a roll owed
    mutable int m_barExtent = -1;  // the style's scroll-bar width; -1 until asked

    // Range pick.
    bool m_pickArmed = false;   // start mark follows the pointer / has been drawn
    bool m_startFixed = false;  // end mark follows the pointer
    bool m_endFixed = false;
    bool m_haveStartPixel = false, m_haveEndPixel = false, m_haveStartOffset = false;
    int m_startPixel = 0, m_endPixel = 0;
    double m_startOffset = 0;
    bool m_havePointer = false;  // the label box is shown beside the pointer
    QPoint m_pointer;
    QPointer<QObject> m_pickOwner;
    PickHandler m_pickHandler;

    // Drawing. The back buffer holds the last paint plus whatever incremental appends drew onto it; the
    // records say what it shows of each series of the list, and m_pickShown of the pick.
    QImage m_buffer;
    bool m_needRender = true;     // the buffer must be painted whole before it is shown
    bool m_redrawPending = false; // Redraw() was asked for and the picture not yet brought up to date
    bool m_resolveQueued = false;
    bool m_shownValid = false;    // records, mapping and pick describe the buffer
    chart::Mapping m_lastMapping;
    CChartView m_shownView;  // the view the picture shows
    std::vector<QRect> m_rolledRects;  // changed by rolls since the last paint, and their box
    QRect m_rolledBox;
    bool m_rolling = false;
    int m_wholePaints = 0;
    chart::PlotRect m_lastPlot;
    std::vector<std::unique_ptr<SeriesRecord>> m_records;  // in list order
    PickShown m_pickShown;
    bool m_caching = true;
    QImage m_static;
    StaticKey m_staticKey;
    bool m_staticValid = false;
    StaticKey m_renderedKey;  // the background of the last whole paint
    bool m_renderedKeyValid = false;
    int m_backgroundMoves = 0;  // whole paints in a row whose background differed from the one before
    std::vector<chart::PixelPoint> m_scratch;
    QHash<int, QImage> m_titleImages;
    QHash<QString, TextMeasure> m_textMeasures;  // tick labels and titles
    QHash<QString, LaidOutText> m_laidOut;        // the same, ready to draw
    std::vector<std::pair<QFont, QString>> m_fontKeys;  // their fonts' keys
};

}  // namespace zelkor::widgets
