#pragma once
// The experiments kivor can run, by the index the launcher passes.

#include <optional>

namespace zelkor::host {

struct ExperimentEntry {
    int index;
    const char* dialogClass;           // nullptr: nothing is built for this index
    const char* title;                 // UTF-8; the window sets it itself
    std::optional<bool> circularMode;  // set on the circular-motion dialog before it runs
};

inline constexpr int kExperimentCount = 13;  // indices 0 to 12
inline constexpr int kCalibrationIndex = 12;  // the sensor calibration tool, on its own dialog template
extern const ExperimentEntry kExperimentTable[kExperimentCount];

// The entry to build for an index, or nullptr when the index builds nothing (11, or above 12 taken as
// unsigned, so every negative index too).
const ExperimentEntry* FindExperiment(int index);

}  // namespace zelkor::host
