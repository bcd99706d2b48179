#include "decimator.h"

#include "device/sensor_protocol.h"

#include <cmath>

namespace zelkor::acquisition {

unsigned Decimator::DecimationStep(double samplingFrequency)
{
    // The sensor sends 50 reports a second; the experiments never ask for more, and a frequency that is
    // not a positive number (it never should be) falls back to every report rather than dividing by it.
    if (!(samplingFrequency > 0.0))
        return 1;
    const double step = 50.0 / samplingFrequency;
    if (!(step >= 1.0))
        return 1;
    if (step >= 1e6)
        return 1000000;
    return static_cast<unsigned>(step);
}

void Decimator::Skip(SampleQueue& raw, unsigned count, bool withTime)
{
    if (withTime) {
        for (unsigned i = 0; i < count; ++i) {
            if (const auto sample = raw.Front())
                carriedInterval_ += sample->interval;
            raw.PopFront();
        }
    } else {
        raw.DiscardOldest(count);
    }
}

void Decimator::Decimate(SampleQueue& raw, SampleQueue& samples, double samplingFrequency, float secondVersion,
                         SolveFunction solve)
{
    const unsigned n = DecimationStep(samplingFrequency);
    const bool withTime = device::HasTimeField(secondVersion);
    if (raw.Size() < n)
        return;
    do {
        if (pendingSkips_ != 0) {
            Skip(raw, pendingSkips_, withTime);
            pendingSkips_ = 0;
        }
        const auto kept = raw.Front();
        if (!kept)
            return;
        raw.PopFront();

        DataPck delivered;
        delivered.temperature = kept->temperature;
        if (withTime) {
            delivered.interval = carriedInterval_ + kept->interval;
            carriedInterval_ = 0.0f;
        }
        solve(kept->x, kept->y, delivered.x, delivered.y);
        samples.Push(delivered);

        if (n - 1 == 0)
            pendingSkips_ = 0;
        else if (raw.Size() <= n - 1)
            pendingSkips_ = n - 1;
        else
            Skip(raw, n - 1, withTime);
    } while (raw.Size() >= n);
}

}  // namespace zelkor::acquisition
