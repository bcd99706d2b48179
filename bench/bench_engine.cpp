// The acquisition engine's costs.
//
//   bench_engine                   Google Benchmark: time from a report's arrival to its sample in the
//                                  sample queue (read, decode, validate, thin, solve, push).
//   bench_engine --cpu SECONDS [--paints] [--only live|recording|nosensor|lesson] [--index N]
//                                  CPU use of the whole process (both threads, the demo sensor included)
//                                  over SECONDS of wall time, for every experiment window the host can
//                                  build (indices with only the bare frame are left out), shown at
//                                  1366 x 768: live on the demo sensor, recording on it, and live with no
//                                  sensor attached. --paints adds the paint events per second of every
//                                  widget that painted; --only measures one of the three (for a profiler),
//                                  or "lesson": the robot-trace window recording on, after a lesson's points;
//                                  --index the window of one experiment index only. Recordings are
//                                  measured over SECONDS of recording, as many as that takes. A trace
//                                  window's trace rolls at every sample once its view is full (after 3 s
//                                  in circular motion and damped vibration, 10 s in the pendulum at
//                                  50 Hz): measure those over 30 s or more to see it.
//   BM_RobotNewPointAfterALesson   the robot-trace window at 1366 x 768 after a 30-minute recording,
//                                  unpaced (90,000 points at 50 Hz): one more report from the demo robot,
//                                  the window's refresh and the paint event that shows it (the mean;
//                                  max_ms the slowest of them, max_cpu_ms the most CPU time one took,
//                                  faults the page faults);
//   BM_RobotNewPointPast65536Points  the same as the track passes 65,536 points;
//   BM_RobotFullRepaintAfterALesson  its whole chart painted again (a resize, an uncovered window).
//   bench_engine --picture FILE    saves the robot-trace window after the lesson as a picture (PNG by the
//                                  name), to compare the window before and after a change.
//
// Without QT_QPA_PLATFORM the windows run on the offscreen platform with one 1366 x 768 screen, so a
// maximised window has that size; on another platform a window of another size is resized to it.
#include "acquisition/exp_base.h"
#include "device/demo_platform.h"
#include "device/demo_sensor.h"
#include "device/sensor_platform.h"
#include "device/sensor_protocol.h"
#include "experiments/robot_trace.h"
#include "host/experiment_table.h"
#include "host/experiment_windows.h"
#include "widgets/app_setup.h"
#include "widgets/control_ids.h"
#include "widgets/data_chart_panel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPointer>
#include <QTemporaryFile>
#include <QTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

using namespace zelkor;

namespace {

class LiveWindow : public acquisition::CDlgTdExpBase {
public:
    using CDlgTdExpBase::CDlgTdExpBase;
    using CDlgTdExpBase::Decimate;
};

// One report through the worker's path, with a sensor that always has the next report ready: what is
// measured is everything between the transfer's arrival and the sample being queued.
void BM_ReportToSampleQueue(benchmark::State& state)
{
    auto rig = device::MakeDemoPlatformForTests(9, device::DemoPacing::Unpaced);
    auto windowHolder = acquisition::MakeExperimentWindow<LiveWindow>(9, nullptr, rig.platform);
    LiveWindow& window = *windowHolder;
    window.m_transformIndex = 2;
    if (!window.m_link.OpenLink() || !device::Identify(window.m_link) || !device::Start(window.m_link)) {
        state.SkipWithError("demo sensor did not start");
        return;
    }
    window.m_secondVersion = window.m_link.secondVersion.load();
    for (auto _ : state) {
        window.ReadReport();
        window.Decimate();
        window.m_sampleQueue.Clear();
    }
}
BENCHMARK(BM_ReportToSampleQueue);

// --- CPU use of the experiment windows -------------------------------------------------------------

const QSize kScreen(1366, 768);
constexpr int kIdZeroPoint = 243;  // "零点设置" and its counterparts

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Paint events per widget, by class and control id.
class PaintCounter : public QObject {
public:
    std::map<std::string, long> counts;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            const QVariant id = watched->property("ctrlId");
            QString key = QString::fromLatin1(watched->metaObject()->className());
            if (id.isValid())
                key += QStringLiteral(" %1").arg(id.toInt());
            ++counts[key.toStdString()];
        }
        return false;
    }
};

QAbstractButton* ShownEnabledButton(QWidget* window, int id)
{
    auto* button = widgets::FindControl<QAbstractButton>(window, id);
    return button && button->isVisible() && button->isEnabled() ? button : nullptr;
}

// The button that starts a recording: "记录数据" where a window has it, else an "开始记录" that is
// not the frame's start command (which some windows caption so and use to start acquisition).
QAbstractButton* RecordButton(QWidget* window)
{
    QAbstractButton* fallback = nullptr;
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (!b->isVisible() || !b->isEnabled())
            continue;
        if (b->text() == QStringLiteral("记录数据"))
            return b;
        if (b->text() == QStringLiteral("开始记录") && b->property("ctrlId").toInt() != acquisition::kIdStart)
            fallback = b;
    }
    return fallback;
}

// Calls back when a watched widget is enabled or disabled.
struct EnableWatch : QObject {
    std::function<void()> changed;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && changed)
            changed();
        return false;
    }
};

// Start-up messages ("没有找到Zelkor设备！" without a sensor) are answered as a person would.
void DismissMessageBoxes()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            box->accept();
}

struct Measured {
    double percent = 0;
    double seconds = 0;   // wall time the percentage refers to
    int recordings = 0;
};

// CPU share over the next `seconds` of wall time.
Measured MeasureCpu(int seconds)
{
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = ProcessCpuSeconds();
    RunEventLoopFor(seconds * 1000);
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    return {100.0 * cpu / elapsed, elapsed, 0};
}

// CPU share while recordings run, until `seconds` of recording have been measured (or a wall-time cap
// passes). The pupil acts as at a lesson: restarts acquisition where the window stopped it, sets the
// zero point with the object at its start (where the window offers it), waits until the apparatus is
// ready and starts a recording. A recording runs while the record button stays disabled (the window
// stops it by its own rule, or it runs to the end); where the button stays enabled while recording (the
// track windows' "记录数据"), until the window stops acquiring. After a recording the apparatus is
// given time to come back before the next one, so a scenario whose motion ends (energy's one pass, a
// throw) is measured over several recordings; only the time inside recordings counts.
// The pupil looks at the window five times a second: a poll at the sensor's rate would wake the
// process 50 more times a second and be measured with the window. A recording's end is seen the
// moment its button comes back (the button's enable event); one that ends by the window stopping
// acquisition is seen at the next look.
Measured MeasureRecordings(QWidget* window, int seconds)
{
    constexpr qint64 kComeBack = 3000;  // the object back at its start after a recording
    constexpr qint64 kReady = 3000;     // zero point to release: the apparatus pulled aside and held
    constexpr qint64 kPoll = 200;
    const qint64 wanted = seconds * 1000LL;
    const qint64 cap = std::max<qint64>(60000, 10 * wanted);
    Measured m;
    const auto* experiment = qobject_cast<const acquisition::CDlgTdExpBase*>(window);
    enum class Phase { Prepare, WaitReady, Running, ComingBack } phase = Phase::Prepare;
    QPointer<QAbstractButton> button;  // the one that started the running recording
    bool disabledSince = false;        // it went disabled during the running recording
    double cpuAt = 0, cpuSum = 0;
    qint64 wallAt = 0, wallSum = 0, phaseUntil = 0;
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    auto close = [&] {
        if (phase != Phase::Running)
            return;
        cpuSum += ProcessCpuSeconds() - cpuAt;
        wallSum += wall.elapsed() - wallAt;
        phase = Phase::ComingBack;
        phaseUntil = wall.elapsed() + kComeBack;
    };
    QTimer poll;
    EnableWatch watch;
    auto look = [&] {
        const qint64 now = wall.elapsed();
        if (now >= cap || (phase == Phase::Running && wallSum + (now - wallAt) >= wanted)) {
            close();
            loop.quit();
            return;
        }
        switch (phase) {
        case Phase::ComingBack:
            if (now >= phaseUntil)
                phase = Phase::Prepare;
            break;
        case Phase::Prepare:
            if (experiment && !experiment->RefreshRunning())
                if (QAbstractButton* start = ShownEnabledButton(window, acquisition::kIdStart))
                    start->click();
            if (QAbstractButton* zero = ShownEnabledButton(window, kIdZeroPoint))
                zero->click();
            phase = Phase::WaitReady;
            phaseUntil = now + kReady;
            break;
        case Phase::WaitReady:
            if (now >= phaseUntil)
                if ((button = RecordButton(window))) {
                    cpuAt = ProcessCpuSeconds();
                    wallAt = now;
                    phase = Phase::Running;
                    disabledSince = false;
                    ++m.recordings;
                    button->installEventFilter(&watch);
                    button->click();
                }
            break;
        case Phase::Running: {
            const bool enabled = button && button->isEnabled();
            disabledSince = disabledSince || !enabled;
            if ((enabled && disabledSince) || (experiment && !experiment->RefreshRunning()))
                close();
            break;
        }
        }
    };
    watch.changed = [&] {
        if (phase == Phase::Running)
            look();
    };
    QObject::connect(&poll, &QTimer::timeout, window, look);
    poll.start(kPoll);
    loop.exec();
    m.seconds = static_cast<double>(wallSum) / 1000.0;
    m.percent = wallSum > 0 ? 100.0 * cpuSum / m.seconds : 0.0;
    return m;
}

void Report(const host::ExperimentEntry& entry, const char* what, const Measured& m, const QSize& size,
            PaintCounter* paints, double paintSeconds)
{
    std::printf("%2d %-12s %-22s %6.2f %% of one core over %.1f s at %dx%d", entry.index, entry.title, what,
                m.percent, m.seconds, size.width(), size.height());
    if (m.recordings > 0)
        std::printf(" (%d recordings)", m.recordings);
    std::printf("\n");
    if (paints) {
        for (const auto& [widget, n] : paints->counts)
            std::printf("      %-40s %7.1f paints/s\n", widget.c_str(), static_cast<double>(n) / paintSeconds);
        paints->counts.clear();
    }
    std::fflush(stdout);
}

enum class Run { Live, Recording };

// One experiment window on the given sensor: shown, started as a pupil starts it, then measured.
void MeasureWindow(const host::ExperimentEntry& entry, std::shared_ptr<device::UsbPlatform> platform,
                   const char* what, Run run, int seconds, PaintCounter* paints)
{
    device::SetSensorPlatform(std::move(platform));
    std::unique_ptr<QDialog> dialog = host::BuildExperimentDialog(entry.index);
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, &DismissMessageBoxes);
    dismiss.start(50);
    dialog->show();
    RunEventLoopFor(300);
    if (dialog->size() != kScreen) {
        dialog->setWindowState(Qt::WindowNoState);
        dialog->resize(kScreen);
    }
    // Windows that start acquisition by a command ("开始实验") get it.
    if (QAbstractButton* start = ShownEnabledButton(dialog.get(), acquisition::kIdStart))
        start->click();
    RunEventLoopFor(run == Run::Recording ? 200 : 2000);  // settle: start-up paints, the first samples
    dismiss.stop();  // messages come at start-up; the poll is not to be measured
    if (paints)
        paints->counts.clear();
    QElapsedTimer wall;
    wall.start();
    const Measured m = run == Run::Recording ? MeasureRecordings(dialog.get(), seconds) : MeasureCpu(seconds);
    Report(entry, what, m, dialog->size(), paints, static_cast<double>(wall.elapsed()) / 1000.0);
    dialog.reset();  // the window stops its worker
    RunEventLoopFor(200);
}

// --- the robot trace at the end of a lesson ---------------------------------------------------------

constexpr double kLesson = 30.0 * 60.0;  // s
constexpr int kIdRecordData = 244;

// The robot-trace window on a demo sensor, at 1366 x 768, acquiring, zeroed and recording; its chart's
// paint events counted, so that the figures show the paint really happened.
struct RobotWindow {
    device::DemoRig rig;
    std::unique_ptr<experiments::CDlgTdRobotTrace> window;
    PaintCounter chartPaints;

    explicit RobotWindow(device::DemoPacing pacing) : rig(device::MakeDemoPlatformForTests(6, pacing))
    {
        if (pacing == device::DemoPacing::Unpaced)
            rig.sensor->PauseClock();
        window = acquisition::MakeExperimentWindow<experiments::CDlgTdRobotTrace>(nullptr, rig.platform);
        window->setWindowState(Qt::WindowNoState);
        window->resize(kScreen);
        window->show();
        for (int i = 0; i < 200 && !(window->windowHandle() && window->windowHandle()->isExposed()); ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!window->windowHandle() || !window->windowHandle()->isExposed())
            qFatal("bench_engine: the robot-trace window was never exposed");
        window->Chart()->installEventFilter(&chartPaints);
        Click(acquisition::kIdStart);
        if (pacing == device::DemoPacing::Unpaced)
            Run(1.0);
        else
            RunEventLoopFor(1000);
        Click(kIdZeroPoint);
        Click(kIdRecordData);
    }
    void Click(int id)
    {
        if (auto* button = widgets::FindControl<QAbstractButton>(window.get(), id))
            button->click();
    }
    // Unpaced: the sensor measures `seconds` more and the window shows all of it.
    void Run(double seconds)
    {
        rig.sensor->RunFor(seconds);
        while (!(rig.sensor->WaitingAtLimit() && window->m_sampleQueue.Size() == 0))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
    }
    size_t Points() const { return window->Series(1).x.size(); }
    long Paints() const { return chartPaints.counts.empty() ? 0 : chartPaints.counts.begin()->second; }
};

// The robot-trace window after `seconds` of recording.
std::unique_ptr<RobotWindow> AfterRecording(double seconds)
{
    auto w = std::make_unique<RobotWindow>(device::DemoPacing::Unpaced);
    for (double t = 0.0; t < seconds; t += 10.0)
        w->Run(std::min(10.0, seconds - t));
    return w;
}

RobotWindow& AfterALesson()
{
    static RobotWindow* lesson = AfterRecording(kLesson).release();
    return *lesson;
}

// The UI thread's CPU time and page faults so far.
struct ThreadUse {
    double cpuMs = 0;
    long faults = 0;
    static ThreadUse Now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        rusage r{};
        getrusage(RUSAGE_THREAD, &r);
        return {static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6, r.ru_minflt};
    }
};

// One more report per iteration: the window's refresh and the paint event that shows the new point.
// The mean is the benchmark's time; max_ms is the slowest new point (wall clock), max_at the track's
// length after it, max_cpu_ms the most CPU time one new point took (what is left of max_ms without the
// time the machine gave to other processes), faults the page faults of the user-interface thread in
// all the timed parts together.
void MeasureNewPoints(benchmark::State& state, RobotWindow& w)
{
    const size_t before = w.Points();
    const long paintsBefore = w.Paints();
    double slowest = 0.0, slowestCpu = 0.0;
    size_t slowestAt = 0;
    long faults = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.rig.sensor->RunFor(0.02);
        while (w.window->m_sampleQueue.Size() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        state.ResumeTiming();
        const ThreadUse use = ThreadUse::Now();
        const auto at = std::chrono::steady_clock::now();
        w.window->RefreshView();
        QCoreApplication::processEvents();
        const double took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - at).count();
        const ThreadUse used = ThreadUse::Now();
        if (took > slowest) {
            slowest = took;
            slowestAt = w.Points();
        }
        slowestCpu = std::max(slowestCpu, used.cpuMs - use.cpuMs);
        faults += used.faults - use.faults;
    }
    state.counters["max_ms"] = slowest;
    state.counters["max_at"] = static_cast<double>(slowestAt);
    state.counters["max_cpu_ms"] = slowestCpu;
    state.counters["faults"] = static_cast<double>(faults);
    state.counters["points"] = static_cast<double>(w.Points());
    state.counters["added"] = static_cast<double>(w.Points() - before);
    state.counters["paints"] = static_cast<double>(w.Paints() - paintsBefore);
}

void BM_RobotNewPointAfterALesson(benchmark::State& state)
{
    MeasureNewPoints(state, AfterALesson());
}
BENCHMARK(BM_RobotNewPointAfterALesson)->Unit(benchmark::kMillisecond)->Iterations(3000);

// The same from 65,000 points on: the track passes 65,536 points, where a list that grows by doubling
// its block would copy itself.
void BM_RobotNewPointPast65536Points(benchmark::State& state)
{
    const std::unique_ptr<RobotWindow> w = AfterRecording(1300.0);
    MeasureNewPoints(state, *w);
}
BENCHMARK(BM_RobotNewPointPast65536Points)->Unit(benchmark::kMillisecond)->Iterations(3000);

void BM_RobotFullRepaintAfterALesson(benchmark::State& state)
{
    RobotWindow& w = AfterALesson();
    for (auto _ : state) {
        w.window->Chart()->Redraw();
        w.window->Chart()->repaint();
    }
    state.counters["points"] = static_cast<double>(w.Points());
}
BENCHMARK(BM_RobotFullRepaintAfterALesson)->Unit(benchmark::kMillisecond);

// The robot recording live from the real-time demo sensor, after the rest of a lesson's points were
// handed to the window as the worker would queue them.
void MeasureRobotLesson(int seconds, PaintCounter* paints)
{
    RobotWindow w(device::DemoPacing::RealTime);
    const auto lesson = static_cast<size_t>(kLesson * 50.0);
    for (size_t i = w.Points(); i < lesson; ++i) {
        const double a = 2.0 * device::demo::kPi * static_cast<double>(i) / 1000.0;
        acquisition::DataPck s;
        s.x = w.window->X0() + 0.3 - 0.3 * std::cos(a);
        s.y = w.window->Y0() + 0.2 * std::sin(a);
        w.window->m_sampleQueue.Push(s);
    }
    RunEventLoopFor(500);
    if (paints)
        paints->counts.clear();
    const Measured m = MeasureCpu(seconds);
    Report(*host::FindExperiment(6), "recording, 90,000 points", m, w.window->size(), paints, m.seconds);
}

bool HasOwnWindow(int index)
{
    std::unique_ptr<QDialog> dialog = host::BuildExperimentDialog(index);
    return dialog && !dynamic_cast<host::CExperimentFrameDialog*>(dialog.get());
}

int RunCpuMeasurements(int seconds, bool showPaints, const std::string& only, int onlyIndex)
{
    PaintCounter counter;
    PaintCounter* paints = showPaints ? &counter : nullptr;
    if (paints)
        qApp->installEventFilter(paints);
    int windows = 0;
    for (const host::ExperimentEntry& entry : host::kExperimentTable) {
        if ((onlyIndex >= 0 && entry.index != onlyIndex) || !host::FindExperiment(entry.index) ||
            !HasOwnWindow(entry.index))
            continue;
        ++windows;
        if (only.empty() || only == "live")
            MeasureWindow(entry, device::MakeDemoPlatform(entry.index), "demo sensor, live", Run::Live, seconds,
                          paints);
        if (only.empty() || only == "recording")
            MeasureWindow(entry, device::MakeDemoPlatform(entry.index), "demo sensor, recording", Run::Recording,
                          seconds, paints);
        // A sensor id that nothing on this machine has: the worker keeps looking for it.
        if (only.empty() || only == "nosensor")
            MeasureWindow(entry, device::MakeLibusbPlatform({device::UsbId{0x1d6b, 0xfff0}}),
                          "no sensor attached", Run::Live, seconds, paints);
    }
    if ((only.empty() && onlyIndex < 0) || only == "lesson")
        MeasureRobotLesson(seconds, paints);
    if (windows == 0)
        std::printf("no experiment window to measure\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // One screen of the classroom size, so that the windows maximise to it.
    QTemporaryFile screens;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && screens.open()) {
        screens.write(QStringLiteral("{\"screens\": [{\"name\": \"classroom\", \"x\": 0, \"y\": 0, \"width\": %1, "
                                     "\"height\": %2, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                          .arg(kScreen.width())
                          .arg(kScreen.height())
                          .toUtf8());
        screens.flush();
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens.fileName()).toLocal8Bit());
    }
    widgets::PrepareDisplayConnection();  // on an X server, the programs' own connection
    QApplication app(argc, argv);
    widgets::SetUpApplication(QStringLiteral("kivor"));
    if (argc >= 3 && std::strcmp(argv[1], "--picture") == 0) {
        AfterALesson().window->grab().save(QString::fromLocal8Bit(argv[2]));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "--cpu") == 0) {
        const int seconds = std::max(1, std::atoi(argv[2]));
        bool paints = false;
        std::string only;
        int index = -1;
        for (int i = 3; i < argc; ++i) {
            if (std::strcmp(argv[i], "--paints") == 0)
                paints = true;
            else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
                only = argv[++i];
            else if (std::strcmp(argv[i], "--index") == 0 && i + 1 < argc)
                index = std::atoi(argv[++i]);
        }
        return RunCpuMeasurements(seconds, paints, only, index);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
