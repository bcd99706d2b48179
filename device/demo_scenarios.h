#pragma once
// The motions the demo sensor measures: one scenario per experiment, each a cycle of phases (held still,
// moving, lying, carried back) as a helper at the apparatus would run it. A scenario gives the
// transmitter's position as a function of scenario time; the demo sensor turns it into distances.
//
// Positions are in metres. The sensor frame has its origin midway between the receivers, X along the
// baseline towards the right receiver and Y away from the sensor (Y > 0). The turned frame is the sensor
// frame turned by 45 degrees and shifted by 0.05 m on both axes: X' = (y - x)/sqrt2 - 0.05,
// Y' = (x + y)/sqrt2 - 0.05. A scenario is written in the frame its experiment solves into, so that the
// experiment's own rules (zero point, recording areas, "falling means growing Y") read naturally here.
//
// Timing: on its own timeline a scenario runs every phase for its fixed duration and repeats. From the
// first cue on (demo_cues.h), phases that wait for a cue last until that cue arrived plus a short delay,
// the way the helper reacts to what the pupil does. A cue that arrives before the phase that waits for
// it is remembered until that phase starts.

#include "demo_cues.h"

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace zelkor::device {

struct DemoPoint {
    double x = 0.0;
    double y = 0.0;
};

// The frame a scenario is written in, after the solving variant of its experiment.
enum class DemoFrame {
    Distances,  // variant 0: x is the left distance, y the right distance
    Turned,     // variant 1
    Sensor,     // variant 2
};

int TransformIndexOf(DemoFrame frame);
// From a scenario frame to the sensor frame and back. Distances that form no triangle with the
// baseline have no sensor-frame position; the result is then (0, 0).
DemoPoint ToSensorFrame(DemoFrame frame, DemoPoint p);
DemoPoint FromSensorFrame(DemoFrame frame, DemoPoint sensor);
// Transmitter to the left and the right receiver, metres.
double LeftDistance(DemoPoint sensor);
double RightDistance(DemoPoint sensor);

inline constexpr unsigned CueBit(DemoCue cue) { return 1u << static_cast<unsigned>(cue); }
inline constexpr double kForever = std::numeric_limits<double>::infinity();

class DemoScenario {
public:
    // One stretch of the cycle. `motion` gets the time since the phase began and where the previous
    // phase left the transmitter.
    struct Phase {
        std::string name;
        double autoDuration = 0.0;  // on the scenario's own timeline
        double cueDuration = 0.0;   // once cues drive the scenario, for a phase that waits for none
        unsigned waitCues = 0;      // CueBit()s; with cues, the phase lasts until one of them arrives...
        double cueDelay = 0.0;      // ...and this much longer
        std::function<DemoPoint(double tau, DemoPoint from)> motion;
    };

    DemoScenario(std::string name, DemoFrame frame, std::vector<Phase> phases);

    const std::string& Name() const { return name_; }
    DemoFrame Frame() const { return frame_; }
    int TransformIndex() const { return TransformIndexOf(frame_); }

    // Where the transmitter is at scenario time t (seconds since the scenario began), in Frame().
    // t must not decrease from one call to the next (Cue counts as a call).
    DemoPoint Position(double t);
    DemoPoint SensorPosition(double t) { return ToSensorFrame(frame_, Position(t)); }
    void Cue(DemoCue cue, double t);

    // The phase of the latest call, and when it began.
    const std::string& PhaseName() const { return phases_[current_].name; }
    double PhaseStart() const { return phaseStart_; }
    bool CueDriven() const { return cueDriven_; }

private:
    double PhaseEnd() const;
    void Advance(double t);

    std::string name_;
    DemoFrame frame_;
    std::vector<Phase> phases_;
    std::size_t current_ = 0;
    double phaseStart_ = 0.0;
    DemoPoint phaseFrom_;
    double lastTime_ = 0.0;
    bool cueDriven_ = false;
    double latched_[3] = {-1.0, -1.0, -1.0};  // arrival time of each cue not yet acted on; -1: none
};

// The scenario of the experiment with this host index; any other index gets a transmitter at rest.
std::unique_ptr<DemoScenario> MakeDemoScenario(int experimentIndex);

// Scenario parameters. Lengths in metres, times in seconds, positions in the scenario's frame.
namespace demo {

inline constexpr double kGravity = 9.8;
inline constexpr double kRollingFactor = 5.0 / 7.0;  // a solid ball rolling without slipping
inline constexpr double kBaseline = 0.069;
inline constexpr double kTurnedShift = 0.05;
inline constexpr double kPi = 3.14159265358979323846;

// Index 9, sensor frame: the sensor looks down on the release point.
namespace free_fall {
inline constexpr double kReleaseX = 0.0;
inline constexpr double kReleaseY = 0.10;
inline constexpr double kDrop = 0.9;
inline constexpr double kHold = 2.0;          // own timeline: held at the release point
inline constexpr double kReleaseDelay = 0.5;  // after RecordingStarted
inline constexpr double kLie = 2.0;           // own timeline: on the floor
inline constexpr double kLiftDelay = 3.0;     // after RecordingStopped, or ZeroSet on the floor
inline constexpr double kLift = 1.5;
inline const double kFallTime = std::sqrt(2.0 * kDrop / kGravity);
}  // namespace free_fall

// Index 0, turned frame (Y grows downwards, the throw runs along +X).
namespace projectile {
inline constexpr double kEdgeX = 0.15;  // the table edge, where the pupil sets the zero point
inline constexpr double kEdgeY = 0.15;
inline constexpr double kSpeed = 1.2;   // horizontal, leaving the edge
inline constexpr double kRunUp = 0.12;  // pushed along the table top before the edge
inline constexpr double kDrop = 0.8;
inline constexpr double kHold = 2.0;
inline constexpr double kReleaseDelay = 0.5;
inline constexpr double kLie = 2.0;
inline constexpr double kLiftDelay = 3.0;
inline constexpr double kCarry = 2.0;
inline const double kFlightTime = std::sqrt(2.0 * kDrop / kGravity);
}  // namespace projectile

// Index 8, turned frame: down the incline towards +X and +Y.
namespace galileo {
inline constexpr double kTopX = 0.10;
inline constexpr double kTopY = 0.10;
inline constexpr double kAngleDegrees = 12.0;
inline constexpr double kLength = 0.85;  // along the incline, to the stop at its foot
inline constexpr double kHold = 2.0;
inline constexpr double kReleaseDelay = 0.5;
inline constexpr double kRest = 2.0;
inline constexpr double kCarryDelay = 3.0;
inline constexpr double kCarry = 2.0;
inline const double kAcceleration = kRollingFactor * kGravity * std::sin(kAngleDegrees * kPi / 180.0);
inline const double kRollTime = std::sqrt(2.0 * kLength / kAcceleration);
}  // namespace galileo

// Index 1, turned frame (the chart has Y upwards): uniform X, uniformly accelerated Y.
namespace composition {
inline constexpr double kStartX = 0.05;
inline constexpr double kStartY = 0.05;
inline constexpr double kSpeedX = 0.15;
inline constexpr double kAccelerationY = 0.14;
inline constexpr double kRunTime = 2.2;
inline constexpr double kHold = 2.0;
inline constexpr double kReleaseDelay = 0.5;
inline constexpr double kRest = 1.5;
inline constexpr double kCarry = 1.5;
}  // namespace composition

// Index 4, sensor frame: the sensor at the pivot, the bob below it.
namespace pendulum {
inline constexpr double kLength = 0.50;
inline constexpr double kAmplitude = 0.12;  // radians at release
inline constexpr double kDecayTime = 120.0; // amplitude falls by 1/e in this time
inline constexpr double kRest = 2.0;        // own timeline: hanging still
inline constexpr double kPullDelay = 1.0;   // after ZeroSet or RecordingStarted
inline constexpr double kPull = 1.0;
inline constexpr double kHold = 0.5;
inline constexpr double kSwing = 60.0;      // own timeline
inline constexpr double kStopDelay = 3.0;   // after RecordingStopped
inline constexpr double kStop = 1.0;
}  // namespace pendulum

// Index 3, sensor frame: a ball on a string from the sensor, released at x < 0.
namespace mechanical_energy {
inline constexpr double kLength = 0.60;
inline constexpr double kAmplitude = 30.0 * kPi / 180.0;  // radians, on the x < 0 side
inline constexpr double kDecayTime = 200.0;
inline constexpr double kRest = 2.0;         // own timeline: hanging at the lowest point
inline constexpr double kPullDelay = 1.0;    // after ZeroSet
inline constexpr double kPull = 1.5;
inline constexpr double kHold = 1.5;         // own timeline
inline constexpr double kReleaseDelay = 0.5; // after RecordingStarted
inline constexpr double kSwing = 10.0;       // own timeline
inline constexpr double kStopDelay = 2.0;    // after RecordingStopped
inline constexpr double kStop = 1.0;
}  // namespace mechanical_energy

// Index 2, sensor frame: a transmitter on a turntable; at its axis until the zero point is set.
namespace circular {
inline constexpr double kCentreX = 0.0;
inline constexpr double kCentreY = 0.40;
inline constexpr double kRadius = 0.15;
inline constexpr double kRevolutionsPerMinute = 30.0;
inline constexpr double kAtCentre = 2.0;   // own timeline
inline constexpr double kMoveDelay = 1.0;  // after ZeroSet
inline constexpr double kMove = 1.0;
inline constexpr double kTurning = 30.0;   // own timeline; with cues it keeps turning
inline const double kAngularVelocity = 2.0 * kPi * kRevolutionsPerMinute / 60.0;
}  // namespace circular

// Index 5, sensor frame: a mass on a spring vibrating along X.
namespace damped_vibration {
inline constexpr double kRestX = 0.0;
inline constexpr double kRestY = 0.40;
inline constexpr double kAmplitude = 0.10;
inline constexpr double kPeriod = 1.0;      // undamped
inline constexpr double kDecayTime = 4.0;   // amplitude falls by 1/e in this time
inline constexpr double kRest = 2.0;
inline constexpr double kPullDelay = 1.0;   // after ZeroSet or RecordingStarted
inline constexpr double kPull = 1.0;
inline constexpr double kHold = 0.5;
inline constexpr double kVibrate = 25.0;     // own timeline
inline constexpr double kStopDelay = 2.0;    // after RecordingStopped
inline constexpr double kStop = 0.5;
}  // namespace damped_vibration

// Index 10, turned frame (Y downwards): a ball in a groove along a quarter circle that starts at the
// zero point, centre straight below it; at the groove's end it drops into a catcher.
namespace spherical_track {
inline constexpr double kStartX = 0.10;  // the experiment's initial zero point
inline constexpr double kStartY = 0.10;
inline constexpr double kRadius = 0.20;
inline constexpr double kPush = 0.20;    // speed given at the top, m/s
inline constexpr double kCatchDrop = 0.25;  // below the groove's end
inline constexpr double kHold = 2.0;
inline constexpr double kReleaseDelay = 0.5;
inline constexpr double kLie = 2.0;
inline constexpr double kCarryDelay = 2.0;
inline constexpr double kCarry = 2.0;
}  // namespace spherical_track

// Index 7, turned frame (Y downwards): down a quarter-pipe, once round a loop, out along the floor.
namespace centrifugal_track {
inline constexpr double kStartX = 0.10;
inline constexpr double kStartY = 0.10;
inline constexpr double kEntryRadius = 0.30;  // the quarter-pipe: from vertical at the start to level
inline constexpr double kLoopRadius = 0.08;
inline constexpr double kExitLength = 0.40;   // level run after the loop, to an end stop
inline constexpr double kHold = 2.0;
inline constexpr double kReleaseDelay = 0.5;
inline constexpr double kRest = 2.0;
inline constexpr double kCarryDelay = 2.0;
inline constexpr double kCarry = 2.0;
}  // namespace centrifugal_track

// Index 6, turned frame (Y upwards): a robot driving laps of an ellipse.
namespace robot_trace {
inline constexpr double kCentreX = 0.40;
inline constexpr double kCentreY = 0.40;
inline constexpr double kHalfWidth = 0.30;
inline constexpr double kHalfHeight = 0.20;
inline constexpr double kLapTime = 20.0;
inline constexpr double kWait = 2.0;
inline constexpr double kStartDelay = 0.5;  // after RecordingStarted
inline constexpr int kLaps = 2;             // own timeline
}  // namespace robot_trace

// Index 12, distances: the transmitter rests where the reference distances (100 mm, 100 mm) hold.
namespace calibration {
inline constexpr double kLeft = 0.100;
inline constexpr double kRight = 0.100;
}  // namespace calibration

// Any other index (11: none), turned frame (the default variant): at rest in front of the sensor.
namespace at_rest {
inline constexpr double kX = 0.16;
inline constexpr double kY = 0.16;
}  // namespace at_rest

}  // namespace demo

}  // namespace zelkor::device
