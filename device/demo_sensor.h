#pragma once
// The demo sensor: the device end of the sensor link, emulated. It parses the command frames written to
// it, answers identify, streams 64-byte reports of a motion scenario once started, records every
// command, applies calibrations, and on request misbehaves the way a real sensor can (for tests).
//
// Calibrations, as the sensor applies them: it turns times of flight into distances with the speed of
// sound at the temperature it takes the air to have. A reference temperature sets that temperature, so a
// wrong one stretches every distance by the ratio of the two speeds; a reference distance sets the
// channel's offset so that the transmitter's present distance (averaged, without the noise) reads as
// the value. Both stay in the sensor, unplugged or not, as in the real one.
//
// Reads (the read pipe):
// - a pending identify reply or report is delivered at once;
// - streaming, real-time pacing: the next report when its 20 ms slot of the steady clock comes;
//   streaming, unpaced: the next report at once;
// - not streaming, real-time: the read waits, as on a sensor that sends nothing, until Cancel;
//   not streaming, unpaced: the read fails at once, so a single-threaded test never hangs;
// - while stopped (StopSending): the read waits in both pacings until Cancel, Resume or Unplug;
// - unpaced with a clock limit (PauseClock, RunFor): the read waits at the limit until it is raised, so
//   that a test can let a window see exactly so many seconds between two clicks.
// A cancelled file, or one opened before an unplug, fails every read and write at once.

#include "demo_platform.h"
#include "demo_scenarios.h"
#include "usb_platform.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zelkor::device {

inline constexpr std::size_t kDemoReportSize = 64;
inline constexpr std::size_t kDemoReplySize = 10;
inline constexpr std::array<std::uint8_t, kDemoReplySize> kDemoIdentifyReply = {
    0x00, 0x03, 0x00, 0x00, 0x01, 0x02, 0x12, 0x11, 0x00, 0x00};  // versions 1.2 and 1.1

inline constexpr std::chrono::milliseconds kDemoReportPeriod{20};
inline constexpr double kDemoIntervalUs = 20000.0;
inline constexpr double kDemoIntervalJitterUs = 8.0;   // standard deviation
inline constexpr double kDemoIntervalJitterMaxUs = 30.0;
// Distance noise. Most of it is common to both paths (the moment of emission, the air between), so the
// solved position wobbles along the line of sight far more than across it, as with the real sensor.
inline constexpr double kDemoCommonNoiseMm = 1.0;   // standard deviations
inline constexpr double kDemoOwnNoiseMm = 0.25;
inline constexpr double kDemoTemperatureC = 20.0;  // the air's, and what the sensor reads until calibrated
inline constexpr double kDemoTemperatureNoiseC = 0.05;
inline constexpr std::uint64_t kDemoDefaultSeed = 0x5EED2D0ull;
// Reports kept for a reader that falls behind; older ones are lost, as in the sensor's own buffer.
inline constexpr std::size_t kDemoBufferedReports = 8;
// Commands kept for Commands(); older ones are forgotten.
inline constexpr std::size_t kDemoRecordedCommands = 4096;

// A small deterministic generator (splitmix64) with normal deviates by the polar method, so that a seed
// gives the same noise with every standard library.
class DemoRandom {
public:
    explicit DemoRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next();
    double Uniform();  // [0, 1)
    double Normal();   // mean 0, standard deviation 1

private:
    std::uint64_t state_;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

struct DemoCalibration {
    std::uint8_t code = 0;  // 3 temperature, 4 left distance, 5 right distance
    float value = 0.0f;
};

// What the sensor measured last: where the scenario had the transmitter, in the scenario's frame.
struct DemoMeasurement {
    double scenarioTime = 0.0;
    DemoPoint position;
    std::string phase;
};

// A report as the host received it, so that a test can follow every report to where it ends up.
struct DemoSentReport {
    std::uint64_t number = 0;  // ReportsSent() once it was sent: 1 for the first
    float leftMm = 0.0f;
    float rightMm = 0.0f;
};

enum class DemoIdentifyFault {
    WrongCode,    // byte 5 is 0x01
    Truncated,    // only the first 6 bytes
    StaleReport,  // a 64-byte data report arrives before the reply
};

class DemoSensor {
public:
    DemoSensor(std::unique_ptr<DemoScenario> scenario, DemoPacing pacing, std::uint64_t seed = kDemoDefaultSeed);
    ~DemoSensor();
    DemoSensor(const DemoSensor&) = delete;
    DemoSensor& operator=(const DemoSensor&) = delete;

    // The host's side, through the platform's pipe files. `generation` is the plug generation the file
    // was opened in; `cancelled` the file's own flag.
    bool HostWrite(const std::uint8_t* data, std::size_t length, std::size_t& written, std::uint64_t generation,
                   const std::atomic<bool>& cancelled);
    bool HostRead(std::uint8_t* buffer, std::size_t length, std::size_t& read, std::uint64_t generation,
                  const std::atomic<bool>& cancelled);
    // Wakes every waiting read so that it looks at its file's flags again.
    void WakeReaders();

    bool Plugged() const;
    std::uint64_t Generation() const;
    // The platform's look-up of the device path: Plugged(), and a miss is counted.
    bool LookUp();

    // What the pupil does (demo_cues.h), applied at the current scenario time. The first
    // AcquisitionStarted starts the scenario clock; until then the apparatus stands in its first pose.
    void Cue(DemoCue cue);

    // The unpaced clock, for tests: no report beyond the limit (sensor time) is measured; reads wait.
    void PauseClock();
    void RunFor(double seconds);
    // A read waits at the limit with everything before it delivered.
    bool WaitingAtLimit() const;

    // Faults, for tests. Counts apply to the next reports (or replies) the host receives.
    void InjectNoTriangle(int reports = 1);
    void InjectStatus(std::uint8_t status, int reports = 1);
    void InjectShortTransfer(std::size_t bytes, int reports = 1);
    void InjectIdentifyFault(DemoIdentifyFault fault, int replies = 1);
    void StopSending();
    void ResumeSending();
    void Unplug();  // the device path disappears; open files fail from now on
    void PlugIn();  // attached again, freshly powered: not streaming

    // Observation, for tests.
    std::vector<DemoCalibration> Calibrations() const;
    // Every write the sensor received (the latest kDemoRecordedCommands), byte for byte.
    std::vector<std::vector<std::uint8_t>> Commands() const;
    bool Streaming() const;
    double SensorTime() const;    // the sum of the intervals of every report measured so far
    double ScenarioTime() const;  // since the scenario clock started (0 before)
    std::uint64_t ReportsSent() const;
    // Look-ups that found the sensor unplugged.
    std::uint64_t MissedLookUps() const;
    // While on, every report the host receives is logged; TakeSentReports hands the log over and
    // empties it, so that a long run keeps it short.
    void KeepSentReports(bool keep);
    std::vector<DemoSentReport> TakeSentReports();
    DemoMeasurement LatestMeasurement() const;
    // The scenario's fixed description (name, frame, tilt, helper actions); its motion is the sensor's.
    const DemoScenario& Scenario() const { return *scenario_; }

private:
    using Clock = std::chrono::steady_clock;
    using Transfer = std::vector<std::uint8_t>;
    struct Outgoing {
        Transfer bytes;
        bool report = false;  // a data report, not an identify reply
    };

    void ParseCommand(const std::uint8_t* data, std::size_t length);
    void ApplyCalibration(const DemoCalibration& calibration);
    double SoundScale() const;  // reported over true distance, from the temperature taken for the air
    std::array<std::uint8_t, kDemoReportSize> MeasureReport(float intervalUs);
    void Tick();
    void CatchUp(Clock::time_point now);
    bool FileUsable(std::uint64_t generation, const std::atomic<bool>& cancelled) const;
    double ScenarioTimeLocked() const;
    bool BeyondLimit() const;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<DemoScenario> scenario_;
    const DemoPacing pacing_;
    DemoRandom random_;
    Clock::time_point nextSlot_;
    double time_ = 0.0;          // sensor time of the latest measurement
    double clockStart_ = -1.0;   // sensor time when the scenario clock started; -1: not yet
    double limit_ = kForever;    // unpaced: no measurement beyond this sensor time
    int waitingAtLimit_ = 0;
    DemoPoint latestPosition_;
    const std::string* latestPhase_ = nullptr;
    bool streaming_ = false;
    bool stopped_ = false;
    bool plugged_ = true;
    std::uint64_t generation_ = 1;
    std::uint64_t reportsSent_ = 0;
    std::uint64_t missedLookUps_ = 0;
    bool keepSent_ = false;
    std::vector<DemoSentReport> sent_;
    std::deque<Outgoing> outgoing_;
    std::vector<DemoCalibration> calibrations_;
    std::deque<std::vector<std::uint8_t>> commands_;
    double airTakenC_ = kDemoTemperatureC;
    double leftOffsetMm_ = 0.0;
    double rightOffsetMm_ = 0.0;
    int noTriangle_ = 0;
    int badStatus_ = 0;
    std::uint8_t badStatusValue_ = 1;
    int shortTransfers_ = 0;
    std::size_t shortLength_ = 0;
    int identifyFaults_ = 0;
    DemoIdentifyFault identifyFault_ = DemoIdentifyFault::WrongCode;
};

// A platform with one demo sensor attached, and the sensor itself so that tests can inject faults.
struct DemoRig {
    std::shared_ptr<UsbPlatform> platform;
    std::shared_ptr<DemoSensor> sensor;
};
DemoRig MakeDemoPlatformForTests(int experimentIndex, DemoPacing pacing = DemoPacing::Unpaced,
                                 std::uint64_t seed = kDemoDefaultSeed);

// The demo sensor's device path.
inline constexpr const char* kDemoDevicePath =
    "demo#vid_0000&pid_0000#demo-sensor#{37538C66-9584-42D3-9632-EBAD0A230D13}";

namespace detail {
// The cue registry (demo_cues.cpp): every live demo sensor registers itself.
void RegisterDemoSensor(DemoSensor* sensor);
void UnregisterDemoSensor(DemoSensor* sensor);
}  // namespace detail

}  // namespace zelkor::device
