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
// A repaint (Redraw, or any paint event Qt sends) runs the whole paint sequence (equal scale, automatic
// steps, reversal of decreasing series); unchanged backgrounds and unchanged or merely grown series come
// from caches, so a repaint after one more point costs little even with 100,000 points, and the picture
// is the same as without the caches. An incremental append within the view draws only its new points
// onto the picture shown (no repaint); a later repaint draws everything again in list order.
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

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QRegion>
#include <QWidget>

#include <functional>
#include <memory>
#include <unordered_map>
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
    // points are refused (not added). Only the last point is compared with the view.
    void IncrementalAppend(CChartSeries& series, const std::vector<double>& xs, const std::vector<double>& ys);
    void IncrementalAppend(CChartSeries& series, double x, double y);

    // enable true starts a pick, false ends any pick; both clear the pick state and store owner and handler.
    void ArmRangePick(bool enable, QObject* owner, PickHandler handler);
    // Stops the marks from following the pointer without disarming (the start mark stays fixed).
    void StopPickTracking();
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
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct SeriesCache;
    struct StaticKey {
        CChartView view;
        QSize size;
        QColor panelBackground;
        bool operator==(const StaticKey&) const = default;
    };

    void Render();
    void RenderStatic(const chart::PlotRect& plot, const chart::Mapping& m);
    void DrawAxisX(QImage& img, const chart::PlotRect& plot, const chart::Mapping& m);
    void DrawAxisY(QImage& img, const chart::PlotRect& plot, const chart::Mapping& m);
    void RenderSeries(const chart::PlotRect& plot, const chart::Mapping& m);
    void RenderPickMarks(const chart::PlotRect& plot, const chart::Mapping& m);
    bool DrawAppended(CChartSeries& s, std::size_t oldSize);
    chart::SeriesStyle StyleOf(const CChartSeries& s) const;
    void AppendAndScroll(CChartSeries& s, const std::vector<double>& xs, const std::vector<double>& ys,
                         std::size_t n, bool horizontal);
    void ApplyScroll(bool horizontal, int newPos);
    void SyncBars();
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

    // Range pick.
    bool m_pickArmed = false;   // start mark follows the pointer / has been drawn
    bool m_startFixed = false;  // end mark follows the pointer
    bool m_endFixed = false;
    bool m_tracking = true;     // marks follow the pointer
    bool m_haveStartPixel = false, m_haveEndPixel = false, m_haveStartOffset = false;
    int m_startPixel = 0, m_endPixel = 0;
    double m_startOffset = 0;
    bool m_havePointer = false;
    QPoint m_pointer;
    QPointer<QObject> m_pickOwner;
    PickHandler m_pickHandler;

    // Drawing. The back buffer holds the last full paint plus whatever incremental appends drew onto it;
    // a paint event that only covers those appends shows it as it is.
    QImage m_buffer;
    bool m_needRender = true;
    QRegion m_appendRegion;
    chart::Mapping m_lastMapping;
    chart::PlotRect m_lastPlot;
    bool m_caching = true;
    QImage m_static;
    StaticKey m_staticKey;
    bool m_staticValid = false;
    std::unordered_map<const CChartSeries*, std::unique_ptr<SeriesCache>> m_cache;
    std::vector<chart::PixelPoint> m_scratch;
    QHash<int, QImage> m_titleImages;
};

}  // namespace zelkor::widgets
