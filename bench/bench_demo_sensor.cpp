// Cost of the demo sensor's side of a report (scenario, noise, encoding, one unpaced read through the
// platform's pipe) and of the host's side (decoding and solving it). 50 reports a second must be nothing.
#include "acquisition/position_solving.h"
#include "device/demo_sensor.h"
#include "device/sensor_protocol.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace {

using namespace zelkor::device;

// Opens the pipes by hand so that only the sensor is measured, not the link's bookkeeping.
struct Pipes {
    explicit Pipes(int index) : rig(MakeDemoPlatformForTests(index, DemoPacing::Unpaced))
    {
        const std::string device = kDemoDevicePath;
        write = rig.platform->Open(device + "\\" + kWritePipeName);
        read = rig.platform->Open(device + "\\" + kReadPipeName);
        const auto start = StartCommand();
        std::size_t written = 0;
        write->Write(start.data(), start.size(), written);
        // The pupil starts and records, so that the apparatus moves (and, where it runs by itself, keeps
        // moving) instead of resting in its first pose.
        rig.sensor->Cue(DemoCue::AcquisitionStarted);
        rig.sensor->Cue(DemoCue::ZeroSet);
        rig.sensor->Cue(DemoCue::RecordingStarted);
    }
    DemoRig rig;
    std::unique_ptr<UsbFile> write, read;
};

void BM_ProduceReport(benchmark::State& state)
{
    Pipes pipes(static_cast<int>(state.range(0)));
    std::array<std::uint8_t, kReportSize> buffer{};
    for (auto _ : state) {
        std::size_t n = 0;
        if (!pipes.read->Read(buffer.data(), buffer.size(), n)) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}
// A resting pose after one fall (free fall), closed-form motion (turntable), integrated motion (pendulum).
BENCHMARK(BM_ProduceReport)->Arg(9)->Arg(2)->Arg(4);

void BM_DecodeAndSolve(benchmark::State& state)
{
    Pipes pipes(9);
    std::array<std::array<std::uint8_t, kReportSize>, 256> reports{};
    for (auto& r : reports) {
        std::size_t n = 0;
        pipes.read->Read(r.data(), r.size(), n);
    }
    const auto solve = zelkor::acquisition::SolverFor(static_cast<int>(state.range(0)));
    std::size_t i = 0;
    for (auto _ : state) {
        const auto decoded = DecodeReport(reports[i++ % reports.size()], true);
        double x = 0.0, y = 0.0;
        solve(decoded.leftMm * 0.001, decoded.rightMm * 0.001, x, y);
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
    }
}
BENCHMARK(BM_DecodeAndSolve)->Arg(1)->Arg(2);

}  // namespace
