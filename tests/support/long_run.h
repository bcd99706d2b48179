#pragma once
// For long runs of a window on the demo sensor: what the process holds (threads, open files, resident
// memory), run lengths that an environment variable can raise, unplugging the sensor the way a pupil
// pulls the cable, and following every report the sensor sent to the sample the window got from it.

#include "acquisition/position_solving.h"
#include "device/demo_sensor.h"
#include "tests/support/wait_until.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace zelkor::testing {

struct ProcessFigures {
    long threads = 0;
    long files = 0;      // open file descriptors
    long residentKb = 0;

    static ProcessFigures Now()
    {
        ProcessFigures f;
        f.threads = Entries("/proc/self/task");
        f.files = Entries("/proc/self/fd");
        std::ifstream statm("/proc/self/statm");
        long size = 0, resident = 0;
        statm >> size >> resident;
        f.residentKb = resident * (sysconf(_SC_PAGESIZE) / 1024);
        return f;
    }

private:
    // The directory's own descriptor is counted in /proc/self/fd alike every time.
    static long Entries(const char* folder)
    {
        long n = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
            ++n;
        return n;
    }
};

inline std::ostream& operator<<(std::ostream& out, const ProcessFigures& f)
{
    return out << f.threads << " threads, " << f.files << " files, " << f.residentKb << " kB resident";
}

// A count that the named environment variable replaces (a long run by hand), else the default.
inline long RunLength(const char* variable, long byDefault)
{
    const char* text = std::getenv(variable);
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? value : byDefault;
}

// The cable comes out and goes back in. Briefly: the host's open files die, and the next look-up finds
// the sensor again. At length: until the host has looked for it and found nothing.
inline bool Replug(device::DemoSensor& sensor, bool atLength)
{
    const std::uint64_t missed = sensor.MissedLookUps();
    sensor.Unplug();
    const bool looked = !atLength || WaitUntil([&] { return sensor.MissedLookUps() > missed; });
    sensor.PlugIn();
    return looked;
}

// The position the engine solves from a report the sensor sent, with the window's solving variant.
struct SolvedReport {
    double x = 0.0, y = 0.0;
};
inline SolvedReport Solve(const device::DemoSentReport& report, int transformIndex)
{
    SolvedReport p;
    acquisition::SolverFor(transformIndex)(report.leftMm * 0.001, report.rightMm * 0.001, p.x, p.y);
    return p;
}

}  // namespace zelkor::testing
