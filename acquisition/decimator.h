#pragma once
// Thins the raw reports to the sampling frequency and solves the kept ones into positions.

#include "position_solving.h"
#include "sample_queue.h"

namespace zelkor::acquisition {

class Decimator {
public:
    // Of every N = trunc(50 / frequency) raw samples the first is solved and delivered, the others are
    // dropped; with the time field the dropped intervals are carried into the next delivered sample,
    // so its interval is the time since the previous delivered one. Raw intervals arrive checked
    // (device::CheckedIntervalUs): a report with a bad time field counts as the nominal 20 ms, so a
    // delivered sample made only of such reports carries the nominal step N x 20 ms.
    void Decimate(SampleQueue& raw, SampleQueue& samples, double samplingFrequency, float secondVersion,
                  SolveFunction solve);

    static unsigned DecimationStep(double samplingFrequency);

    unsigned PendingSkips() const { return pendingSkips_; }
    float CarriedInterval() const { return carriedInterval_; }

private:
    void Skip(SampleQueue& raw, unsigned count, bool withTime);

    unsigned pendingSkips_ = 0;
    float carriedInterval_ = 0.0f;
};

}  // namespace zelkor::acquisition
