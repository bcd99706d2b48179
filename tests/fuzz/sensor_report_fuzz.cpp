// Any bytes as a stream of 64-byte data reports, taken the way the acquisition worker takes them:
// decoded, refused unless they form a triangle with the baseline, thinned to the sampling frequency
// and solved into positions. Whatever the sensor sends, a delivered sample is a finite position and,
// with the time field, a finite interval of at most one second per report it stands for.
//
// Input: one byte of settings (bit 0: time field, bits 1-2: transform index, 3 meaning none), one
// byte for the sampling frequency 5 .. 50, then the reports (a short last one is padded with zeros).
#include "acquisition/decimator.h"
#include "acquisition/position_solving.h"
#include "device/sensor_protocol.h"
#include "fuzz_support.h"

#include <algorithm>
#include <array>
#include <cmath>

using zelkor::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace zelkor;
    fuzz::Input in(data, size);
    const std::uint8_t settings = in.Byte();
    const float secondVersion = (settings & 1) != 0 ? 1.2f : 1.0f;
    const bool withTime = device::HasTimeField(secondVersion);
    const int transform = (settings >> 1) & 3;
    const double frequency = 5 + in.Byte() % 46;
    const acquisition::SolveFunction chosen = acquisition::SolverFor(transform);
    const acquisition::SolveFunction solve = chosen ? chosen : acquisition::SolverFor(1);
    const unsigned step = acquisition::Decimator::DecimationStep(frequency);
    Require(step >= 1 && step <= 10, "decimation step of a frequency 5 .. 50");

    acquisition::SampleQueue raw, samples;
    acquisition::Decimator decimator;
    std::size_t accepted = 0, delivered = 0;
    while (!in.Empty()) {
        std::array<std::uint8_t, device::kReportSize> report{};
        const auto bytes = in.Take(report.size());
        std::copy(bytes.begin(), bytes.end(), report.begin());
        const device::DataReport decoded = device::DecodeReport(report, withTime);
        Require(decoded.status == report[device::kReportStatusOffset], "status byte");
        Require(decoded.intervalUs.has_value() == withTime, "time field exactly with the later version");
        if (decoded.intervalUs)
            Require(*decoded.intervalUs > 0.0f && *decoded.intervalUs <= device::kMaxReportIntervalUs,
                    "checked interval");
        if (decoded.status != 0)
            continue;
        const double left = decoded.leftMm * 0.001, right = decoded.rightMm * 0.001;
        if (!acquisition::FormsTriangle(left, right))
            continue;
        Require(std::isfinite(left) && std::isfinite(right), "only finite distances form a triangle");
        acquisition::DataPck pck;
        pck.x = left;
        pck.y = right;
        pck.temperature = decoded.temperatureC;
        pck.interval = decoded.intervalUs ? *decoded.intervalUs / 1000000 : 0.0f;
        raw.Push(pck);
        ++accepted;
        decimator.Decimate(raw, samples, frequency, secondVersion, solve);
        while (const auto sample = samples.Front()) {
            samples.PopFront();
            ++delivered;
            Require(std::isfinite(sample->x) && std::isfinite(sample->y), "solved position is finite");
            if (withTime)
                Require(sample->interval > 0.0f && sample->interval <= static_cast<float>(step) * 1.0001f,
                        "interval of a delivered sample");
            else
                Require(sample->interval == 0.0f, "no interval without the time field");
        }
    }
    // Nothing goes out before `step` reports are in; then the first and one of every `step` after it.
    Require(delivered == (accepted >= step ? (accepted - 1) / step + 1 : 0), "one sample per step of reports");
    return 0;
}
