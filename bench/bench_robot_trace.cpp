// The robot-trace window at the end of a lesson-long recording: the demo robot has driven its laps for
// 30 minutes, unpaced (90,000 points at 50 Hz), through the real window at 1366 x 768.
//
//   bench_robot_trace                  Google Benchmark:
//     BM_NewPointAtTheEnd              one more report from the demo sensor: the window's refresh takes it
//                                      and the paint event that shows it runs (what every sample costs);
//     BM_FullRepaintAtTheEnd           the whole chart painted again (a resize, a covered window).
//   bench_robot_trace --cpu SECONDS    CPU use of the process while the window records live from the
//                                      real-time demo sensor, at the start of a recording and with 90,000
//                                      points recorded.
#include "device/demo_sensor.h"
#include "experiments/robot_trace.h"
#include "widgets/app_setup.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

using namespace zelkor;

namespace {

constexpr int kIndex = experiments::kRobotTraceIndex;
constexpr double kLesson = 30.0 * 60.0;  // s
constexpr int kRecordId = 244;

// Counts the chart's paint events, so that the figures show the paint really happened.
struct PaintCounter : QObject {
    long long paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

void Click(QWidget* window, int id)
{
    if (auto* button = widgets::FindControl<QAbstractButton>(window, id))
        button->click();
}

// The window on a demo sensor, shown at 1366 x 768, acquiring, zeroed and recording.
struct RobotWindow {
    device::DemoRig rig;
    std::unique_ptr<experiments::CDlgTdRobotTrace> window;
    PaintCounter counter;

    explicit RobotWindow(device::DemoPacing pacing) : rig(device::MakeDemoPlatformForTests(kIndex, pacing))
    {
        if (pacing == device::DemoPacing::Unpaced)
            rig.sensor->PauseClock();
        window = acquisition::MakeExperimentWindow<experiments::CDlgTdRobotTrace>(nullptr, rig.platform);
        window->setWindowState(Qt::WindowNoState);
        window->resize(1366, 768);
        window->show();
        for (int i = 0; i < 200 && !(window->windowHandle() && window->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!window->windowHandle() || !window->windowHandle()->isExposed())
            qFatal("bench_robot_trace: the window was never exposed");
        window->Chart()->installEventFilter(&counter);
        Click(window.get(), acquisition::kIdStart);
        if (pacing == device::DemoPacing::Unpaced) {
            Run(1.0);
        } else {
            QEventLoop loop;
            QTimer::singleShot(1000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        Click(window.get(), experiments::kIdTrackZero);
        Click(window.get(), kRecordId);
    }

    // Unpaced: lets the sensor measure `seconds` more and the window show all of it.
    void Run(double seconds)
    {
        rig.sensor->RunFor(seconds);
        while (!(rig.sensor->WaitingAtLimit() && window->m_sampleQueue.Size() == 0))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
    }
    size_t Points() const { return window->Series(1).x.size(); }
};

RobotWindow& AtTheEndOfALesson()
{
    static RobotWindow* lesson = [] {
        auto* w = new RobotWindow(device::DemoPacing::Unpaced);
        for (double t = 0.0; t < kLesson; t += 10.0)
            w->Run(10.0);
        return w;
    }();
    return *lesson;
}

void BM_NewPointAtTheEnd(benchmark::State& state)
{
    RobotWindow& w = AtTheEndOfALesson();
    const size_t before = w.Points();
    const long long paintsBefore = w.counter.paints;
    for (auto _ : state) {
        state.PauseTiming();
        w.rig.sensor->RunFor(0.02);
        while (w.window->m_sampleQueue.Size() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        state.ResumeTiming();
        w.window->RefreshView();
        QCoreApplication::processEvents();
    }
    state.counters["points"] = static_cast<double>(w.Points());
    state.counters["added"] = static_cast<double>(w.Points() - before);
    state.counters["paints"] = static_cast<double>(w.counter.paints - paintsBefore);
}
BENCHMARK(BM_NewPointAtTheEnd)->Unit(benchmark::kMillisecond)->Iterations(3000);

void BM_FullRepaintAtTheEnd(benchmark::State& state)
{
    RobotWindow& w = AtTheEndOfALesson();
    for (auto _ : state) {
        w.window->Chart()->Redraw();
        w.window->Chart()->repaint();
    }
    state.counters["points"] = static_cast<double>(w.Points());
}
BENCHMARK(BM_FullRepaintAtTheEnd)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void MeasureCpu(RobotWindow& w, const char* what, int seconds)
{
    const size_t before = w.Points();
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = ProcessCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("%-44s %6.2f %% of one core over %.1f s (%zu points recorded meanwhile, %zu in all)\n", what,
                100.0 * cpu / elapsed, elapsed, w.Points() - before, w.Points());
    std::fflush(stdout);
}

void LiveCpu(int seconds)
{
    RobotWindow w(device::DemoPacing::RealTime);
    MeasureCpu(w, "recording live, from the start", seconds);
    // The rest of a lesson's points, handed to the window as the worker would queue them.
    const size_t missing = static_cast<size_t>(kLesson * 50.0) - std::min(w.Points(), static_cast<size_t>(kLesson * 50.0));
    for (size_t i = 0; i < missing; ++i) {
        const double a = 2.0 * device::demo::kPi * static_cast<double>(i) / 1000.0;
        acquisition::DataPck s;
        s.x = w.window->X0() + 0.3 - 0.3 * std::cos(a);
        s.y = w.window->Y0() + 0.2 * std::sin(a);
        w.window->m_sampleQueue.Push(s);
    }
    w.window->RefreshView();
    QCoreApplication::processEvents();
    MeasureCpu(w, "recording live, after a lesson's points", seconds);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    widgets::SetUpApplication(QStringLiteral("kivor"));
    if (argc >= 3 && std::strcmp(argv[1], "--cpu") == 0) {
        LiveCpu(std::max(1, std::atoi(argv[2])));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
