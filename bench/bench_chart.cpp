// Cost of the data chart on an 800 x 600 panel, per drawing style and series length:
//   BM_Repaint             one more point appended to the series, then the whole panel repainted
//                          (what the experiments that repaint on every sample do);
//   BM_ColdRepaint         a repaint after the view changed (nothing can come from the caches);
//   BM_IncrementalAppend   one incremental append and the paint event that shows it.
// Repaints are synchronous QWidget::repaint() calls on a shown panel (offscreen platform by default).
#include "widgets/app_setup.h"
#include "widgets/data_chart_panel.h"

#include <QApplication>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>

using zelkor::widgets::CChartSeries;
using zelkor::widgets::CDataChartPanel;

namespace {

// Counts the paint events a panel receives, so the figures show that the paint really happened.
struct PaintCounter : QObject {
    long long paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A recording of n samples spread over the view, like a long trace shown whole.
struct Fixture {
    std::unique_ptr<CDataChartPanel> panel;
    CChartSeries series;
    double dt = 0;
    int base = 0;

    Fixture(int style, int n)
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
        dt = 10.0 / (n + 4096);  // room for the appended points inside the view
        Reset();
        panel->SetSeriesList({&series});
        panel->show();
        // repaint() paints nothing until the window is exposed.
        for (int i = 0; i < 100 && !(panel->windowHandle() && panel->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!panel->windowHandle() || !panel->windowHandle()->isExposed())
            qFatal("bench_chart: the panel window was never exposed");
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

// Keeps the series near its nominal length: every 2,048 points it is rebuilt, outside the timing.
void KeepLength(benchmark::State& state, Fixture& f)
{
    if (static_cast<int>(f.series.x.size()) - f.base >= 2048) {
        state.PauseTiming();
        f.Reset();
        f.panel->Redraw();
        f.panel->repaint();
        state.ResumeTiming();
    }
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

void BM_IncrementalAppend(benchmark::State& state)
{
    Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    PaintCounter counter;
    f.panel->installEventFilter(&counter);
    for (auto _ : state) {
        const int i = static_cast<int>(f.series.x.size());
        f.panel->IncrementalAppend(f.series, i * f.dt, f.Y(i));
        QCoreApplication::sendPostedEvents();  // the update request: the paint event shows the new point
        KeepLength(state, f);
    }
    state.counters["paints_per_append"] =
        static_cast<double>(counter.paints) / static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
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

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zelkor::widgets::SetUpApplication("kivor");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
