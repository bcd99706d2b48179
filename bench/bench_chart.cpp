// Cost of the data chart on an 800 x 600 panel, per drawing style and series length:
//   BM_Repaint             one more point appended to the series, then the whole panel repainted
//                          (a synchronous QWidget::repaint());
//   BM_ColdRepaint         a repaint after the view changed (nothing can come from the caches);
//   BM_IncrementalAppend   one incremental append and the paint that shows it on the screen: every
//                          appended point lands on pixels of its own, so that every append is painted
//                          (the counter paints_per_append says so);
//   BM_MarkerMove          the live marker moved to a new pixel beside a recorded trajectory, Redraw()
//                          and the paint (what a live window does on every sample);
//   BM_RollingTrace        a trace in rolling mode, the append that moves the view by a point and the
//                          paint that shows it, each after the 40 ms the picture waits between
//                          rolls (so with the caches as cold as a window leaves them): /0 500 points
//                          on a 1600 x 900 panel with both minor grids; /1 the circular-motion
//                          window's trace at 1366 x 768 (870 x 560, 3 s, 150 points, a turn every
//                          2 s); whole_paints_per_append says how often the whole picture was
//                          painted (paints_per_append counts the panel's paints under its scroll
//                          bar too);
//   BM_TrackTick           a robot's track after 30 minutes at 50 Hz (90,000 points in a markers
//                          series and a line series, 1326 x 600 panel): one tick appends a point to
//                          both and paints, the window's way (append, series list, Redraw) or by
//                          incremental append.
// The panels are shown on the offscreen platform by default; "the paint" is the paint event Qt
// delivers for the panel's update requests, with its flush.
#include "qt_benchmark_main.h"
#include "widgets/data_chart_panel.h"

#include <QApplication>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

using zelkor::widgets::CChartSeries;
using zelkor::widgets::CDataChartPanel;

namespace {

// Counts the paint events a panel receives, so the figures show that the paint really happened.
struct PaintCounter : QObject {
    long long paints = 0;
    bool counting = true;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && counting)
            ++paints;
        return false;
    }
};

void ShowAndWait(QWidget& w)
{
    w.show();
    // repaint() paints nothing until the window is exposed.
    for (int i = 0; i < 100 && !(w.windowHandle() && w.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!w.windowHandle() || !w.windowHandle()->isExposed())
        qFatal("bench_chart: the panel window was never exposed");
}

// A recording of n samples spread over the view, like a long trace shown whole.
struct Fixture {
    std::unique_ptr<CDataChartPanel> panel;
    CChartSeries series;
    double dt = 0;
    int base = 0;

    // The recording ends at x = end (by default near the right edge, with room for what is appended).
    Fixture(int style, int n, double end = 0)
    {
        panel = std::make_unique<CDataChartPanel>();
        panel->resize(800, 600);
        auto& v = panel->view;
        v.xName = "t";
        v.xUnit = "s";
        v.yName = "X";
        v.yUnit = "m";
        v.xMin = -0.5, v.xSpan = 11, v.xMax = 10.5;
        v.yMin = -0.3, v.ySpan = 0.6, v.yMax = 0.3;
        series.style = style;
        series.markerColour = QColor(0, 0, 255);
        base = n;
        dt = end > 0 ? end / n : 10.0 / (n + 4096);  // room for the appended points inside the view
        Reset();
        panel->SetSeriesList({&series});
        ShowAndWait(*panel);
        panel->repaint();
        if (panel->BackBuffer().isNull())
            qFatal("bench_chart: the panel did not paint");
    }
    void Reset()
    {
        series.Clear();
        for (int i = 0; i < base; ++i)
            series.Append(i * dt, Y(i));
    }
    double Y(int i) const { return 0.25 * std::sin(i * dt * 2.1) * std::exp(-i * dt * 0.05); }
    void AppendOne()
    {
        const int i = static_cast<int>(series.x.size());
        series.Append(i * dt, Y(i));
    }
};

// Keeps the series near its nominal length: every `every` points it is rebuilt, outside the timing
// (and outside the paint count).
void KeepLength(benchmark::State& state, Fixture& f, int every = 2048, PaintCounter* counter = nullptr)
{
    if (static_cast<int>(f.series.x.size()) - f.base >= every) {
        state.PauseTiming();
        if (counter)
            counter->counting = false;
        f.Reset();
        f.panel->Redraw();
        f.panel->repaint();
        if (counter)
            counter->counting = true;
        state.ResumeTiming();
    }
}

// Delivers what the panel asked for: the queued redraw, then the paint of the regions it updated.
void DeliverPaints()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::sendPostedEvents();
}

void ReportPaints(benchmark::State& state, const PaintCounter& counter, const char* name)
{
    state.counters[name] = static_cast<double>(counter.paints) /
                           static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}

void BM_Repaint(benchmark::State& state)
{
    Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        f.AppendOne();
        f.panel->Redraw();
        f.panel->repaint();
        KeepLength(state, f);
    }
}

void BM_ColdRepaint(benchmark::State& state)
{
    Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int k = 0;
    for (auto _ : state) {
        f.panel->view.xMin = (++k % 2) ? -0.5 : -0.49;
        f.panel->view.xMax = f.panel->view.xMin + f.panel->view.xSpan;
        f.panel->Redraw();
        f.panel->repaint();
    }
}

// Appended points 1.5 px apart along x, up and down along y, from the end of the recording on: each
// one lands on pixels of its own, so each append has something to paint. 200 fit before the
// series is rebuilt.
void BM_IncrementalAppend(benchmark::State& state)
{
    Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 5.0);
    const double step = 1.5 * f.panel->view.xSpan / 690.0;
    PaintCounter counter;
    f.panel->installEventFilter(&counter);
    for (auto _ : state) {
        const int k = static_cast<int>(f.series.x.size()) - f.base;
        const double x = f.series.x.back() + step;
        const double y = 0.25 * std::sin(0.3 * k);
        f.panel->IncrementalAppend(f.series, x, y);
        DeliverPaints();
        KeepLength(state, f, 200, &counter);
    }
    f.panel->removeEventFilter(&counter);
    ReportPaints(state, counter, "paints_per_append");
}

void BM_MarkerMove(benchmark::State& state)
{
    Fixture f(0, 100);  // a recorded trajectory of 100 markers
    CChartSeries marker;
    marker.style = 0;
    marker.markerRadius = 8;
    marker.Append(5.0, 0.0);
    f.panel->SetSeriesList({&marker, &f.series});
    f.panel->repaint();
    const double pixel = f.panel->view.xSpan / 690.0;
    PaintCounter counter;
    f.panel->installEventFilter(&counter);
    int k = 0;
    for (auto _ : state) {
        marker.Clear();
        marker.Append(5.0 + 3 * pixel * (++k % 20), 0.1);
        f.panel->SetSeriesList({&marker, &f.series});
        f.panel->Redraw();
        DeliverPaints();
    }
    f.panel->removeEventFilter(&counter);
    ReportPaints(state, counter, "paints_per_move");
}

void BM_RollingTrace(benchmark::State& state)
{
    // 0: 1600 x 900, 10 s, both minor grids; 1: the trace of the circular-motion window at 1366 x 768.
    const bool window = state.range(0) == 1;
    CDataChartPanel panel(nullptr, true, false);
    panel.resize(window ? 870 : 1600, window ? 560 : 900);
    auto& v = panel.view;
    v.xName = "t";
    v.xUnit = "s";
    v.yName = window ? "Y" : "";
    v.xMin = 0, v.xSpan = window ? 3 : 10, v.xMax = v.xSpan;
    v.yMin = window ? -0.2 : -0.3, v.ySpan = window ? 0.4 : 0.6, v.yMax = v.yMin + v.ySpan;
    v.xMinorGrid = v.yMinorGrid = !window;
    v.xScrollUnit = 0.02;
    panel.scrollMode = CDataChartPanel::kRollingMode;
    panel.ResetHorizontalScroll();
    CChartSeries trace;
    trace.style = 2;
    trace.markerColour = QColor(0, 0, 255);
    panel.SetSeriesList({&trace});
    ShowAndWait(panel);
    long long i = 0;
    auto append = [&] {
        const double t = 0.02 * static_cast<double>(i++);
        panel.IncrementalAppend(trace, t, window ? 0.15 * std::sin(t * 3.1416) : 0.25 * std::sin(t * 2.1));
    };
    for (int k = 0; k < 600; ++k)  // the view has begun to roll
        append();
    DeliverPaints();
    PaintCounter counter;
    panel.installEventFilter(&counter);
    const int whole = panel.WholePaints();
    for (auto _ : state) {
        // The picture follows about every 40 ms: an append after that pause rolls it at once, as
        // every second sample at 50 Hz does in a window.
        state.PauseTiming();
        counter.counting = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(41));
        QCoreApplication::processEvents();
        counter.counting = true;
        state.ResumeTiming();
        append();
        DeliverPaints();
    }
    panel.removeEventFilter(&counter);
    ReportPaints(state, counter, "paints_per_append");
    state.counters["whole_paints_per_append"] =
        static_cast<double>(panel.WholePaints() - whole) /
        static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
}

// The robot's track: laps of 20 s around an ellipse in the view of the robot window (x and y from
// -0.5 to 1.0), 0.3 m by 0.2 m, with a millimetre of wobble: about 2 mm, some 1.7 px, per sample.
struct Track {
    std::unique_ptr<CDataChartPanel> panel;
    CChartSeries marker, points, line;
    long long sample = 0;

    explicit Track(int n)
    {
        panel = std::make_unique<CDataChartPanel>();
        panel->resize(1326, 600);
        auto& v = panel->view;
        v.xMin = -0.5, v.xSpan = 1.5, v.xMax = 1.0;
        v.yMin = -0.5, v.ySpan = 1.5, v.yMax = 1.0;
        v.xMinorGrid = v.yMinorGrid = false;
        // A track that turns back would be reversed in place at every paint otherwise.
        panel->reverseDecreasing = false;
        marker.style = 0;
        marker.markerRadius = 8;
        marker.visible = false;
        points.style = 0;
        points.markerRadius = 4;
        line.style = 1;
        line.lineWidth = 1;
        line.lineColour = QColor(0, 0, 255);
        for (int i = 0; i < n; ++i)
            Step(false);
        panel->SetSeriesList({&marker, &points, &line});
        ShowAndWait(*panel);
        panel->repaint();
    }
    // The next position; appended directly (as the robot window does) or incrementally.
    void Step(bool incremental)
    {
        const double a = 2 * 3.14159265358979 * static_cast<double>(++sample) / (20.0 * 50);
        const double wobble = 0.001 * std::sin(static_cast<double>(sample) * 0.7);
        const double x = 0.4 + (0.3 + wobble) * std::cos(a), y = 0.4 + (0.2 + wobble) * std::sin(a);
        if (incremental) {
            panel->IncrementalAppend(points, x, y);
            panel->IncrementalAppend(line, x, y);
        } else {
            points.Append(x, y);
            line.Append(x, y);
        }
    }
};

void BM_TrackTick(benchmark::State& state)
{
    const bool incremental = state.range(0) != 0;
    Track t(90000);
    PaintCounter counter;
    t.panel->installEventFilter(&counter);
    for (auto _ : state) {
        t.Step(incremental);
        if (!incremental) {
            t.panel->SetSeriesList({&t.marker, &t.points, &t.line});
            t.panel->Redraw();
        }
        DeliverPaints();
    }
    t.panel->removeEventFilter(&counter);
    ReportPaints(state, counter, "paints_per_tick");
}

void Args(benchmark::internal::Benchmark* b)
{
    for (int style : {0, 1, 2})
        for (int n : {1000, 10000, 100000})
            b->Args({style, n});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Repaint)->Apply(Args);
BENCHMARK(BM_ColdRepaint)->Apply(Args);
BENCHMARK(BM_IncrementalAppend)->Apply(Args);
BENCHMARK(BM_MarkerMove)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RollingTrace)->Arg(0)->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TrackTick)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    return RunWidgetBenchmarks(argc, argv);
}
