// The acquisition engine's costs.
//
//   bench_engine                 Google Benchmark: time from a report's arrival to its sample in the
//                                sample queue (read, decode, validate, thin, solve, push).
//   bench_engine --cpu SECONDS   CPU use of the whole process over SECONDS of wall time, with the demo
//                                sensor streaming into a live window, and with no sensor attached.
#include "acquisition/exp_base.h"
#include "device/demo_sensor.h"
#include "device/sensor_platform.h"
#include "device/sensor_protocol.h"
#include "widgets/app_setup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace zelkor;

namespace {

class LiveWindow : public acquisition::CDlgTdExpBase {
public:
    using CDlgTdExpBase::CDlgTdExpBase;
    using CDlgTdExpBase::Decimate;
    void RefreshView() override
    {
        while (m_sampleQueue.Size() > 0) {
            const auto sample = m_sampleQueue.Front();
            m_sampleQueue.PopFront();
            lastX = sample->x;
            ++delivered;
        }
    }
    double lastX = 0;
    long delivered = 0;
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

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void MeasureCpu(const char* what, int experimentIndex, std::shared_ptr<device::UsbPlatform> platform, int seconds)
{
    auto windowHolder = acquisition::MakeExperimentWindow<LiveWindow>(experimentIndex, nullptr, std::move(platform));
    LiveWindow& window = *windowHolder;
    window.m_transformIndex = 2;
    window.InitFrame(QStringLiteral("自由落体"));
    window.show();
    window.StartAcquisition();
    QElapsedTimer wall;
    wall.start();
    const double cpuStart = ProcessCpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = ProcessCpuSeconds() - cpuStart;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("%-34s %6.2f %% of one core over %.1f s (%ld samples delivered)\n", what, 100.0 * cpu / elapsed,
                elapsed, window.delivered);
    std::fflush(stdout);
    window.StopWorker();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    widgets::SetUpApplication(QStringLiteral("kivor"));
    if (argc >= 3 && std::strcmp(argv[1], "--cpu") == 0) {
        const int seconds = std::max(1, std::atoi(argv[2]));
        MeasureCpu("demo sensor streaming, live window", 9, device::MakeDemoPlatform(9), seconds);
        // A sensor id that nothing on this machine has: the worker keeps looking for it. Experiment 2
        // starts without a message when no sensor is found.
        MeasureCpu("no sensor attached", 2, device::MakeLibusbPlatform({device::UsbId{0x1d6b, 0xfff0}}), seconds);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
