#pragma once
// Mechanical energy: the range picked along the path, the energies of the recorded samples with central
// differences, and the three-level wavelet smoothing of the kinetic energy.

#include <cstddef>
#include <span>
#include <vector>

namespace zelkor::experiments::numerics {

// First and end index into the record list; -1 means from the start and to the end.
struct SampleRange {
    int first = -1, end = -1;
};

// The range for a pick between path positions a and b (either order) over the recorded x. With the ball
// moving towards smaller x (the last x below the first) the scan runs from the last sample down to index 1, else from
// index 0 up: the first sample with x >= the smaller value gives the first index, the first with x >= the
// larger value the end index, and the scan stops there. An index not found keeps its previous value;
// the two are exchanged when the end lies before the first. Fewer than three samples keep the range.
SampleRange SelectRange(std::span<const double> x, double a, double b, SampleRange previous);

// The energies of the samples in the range, times in seconds, energies in joules.
struct Energies {
    std::vector<double> t, potential, kinetic, total;  // kinetic smoothed
    double lowest = 0.0, highest = 0.0;                // over all three, both starting from 0
};

// Ep = y m 9.8; Ek = m (vx^2 + vy^2) / 2 with central differences over the neighbours in the whole list,
// 0 at the first and the last sample of the list and where the neighbours' time difference is not
// positive; then the kinetic energy is smoothed and E = Ep + Ek. A mass that is not finite counts as 0.
// The range is cut to the list; an empty range or a range of equal ends means the whole list. Nothing
// for an empty list.
Energies ComputeEnergies(std::span<const double> x, std::span<const double> y, std::span<const float> t,
                         double mass, SampleRange range);

// The ten-tap Daubechies-5 transform three levels deep with the details of levels 1 and 2 dropped, run on
// the values scaled by 1000 behind a lead-in of 64 copies of the first value. A constant returns itself.
std::vector<double> SmoothKineticEnergy(std::span<const double> e);

}  // namespace zelkor::experiments::numerics
