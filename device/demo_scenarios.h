#pragma once
// The motions the demo sensor measures: one scenario per experiment, an apparatus with a helper beside
// it. A scenario is a set of phases (held still, moving, lying, carried back) joined by exits: a move
// ends by itself after its duration; a resting pose waits, however long, for what the pupil does
// (cues, demo_cues.h) and the helper then reacts after a short delay. Nothing moves before the pupil
// has acted; a self-running apparatus (turntable, robot) runs until the pupil stops it; after a
// recording the object comes back to the pose where the pupil zeroes it.
//
// Positions are in metres. The sensor frame has its origin midway between the receivers, X along the
// baseline towards the right receiver and Y away from the sensor (Y > 0). The turned frame is the sensor
// frame turned by 45 degrees and shifted by 0.05 m on both axes: X' = (y - x)/sqrt2 - 0.05,
// Y' = (x + y)/sqrt2 - 0.05. A scenario is written in the frame its experiment solves into, so that the
// experiment's own rules (zero point, recording areas, "falling means growing Y") read naturally here.
// The apparatus is mounted with a small tilt: its motions are written for a square mount, and the
// mount turns them by the scenario's tilt about its pivot (the pose where the pupil zeroes), so that a
// calibration has something to correct.
//
// Scenario time starts when the window starts acquiring (the demo sensor keeps that clock).

#include "demo_cues.h"

#include <cmath>
#include <cstdint>
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
// Turns p by `degrees` about `pivot` (positive from +X towards +Y).
DemoPoint Turn(DemoPoint p, DemoPoint pivot, double degrees);

inline constexpr unsigned CueBit(DemoCue cue) { return 1u << static_cast<unsigned>(cue); }
inline constexpr double kForever = std::numeric_limits<double>::infinity();

class DemoScenario {
public:
    // Motion of one phase, square to the mount: gets the time since the phase began and where the
    // previous phase left the object.
    using Motion = std::function<DemoPoint(double tau, DemoPoint from)>;

    // What ends a phase besides its duration, `delay` seconds after it began to hold.
    struct Exit {
        enum class When {
            Cue,           // one of `cues` arrived: in a resting pose since it began, else since the run began
            Request,       // one of `cues` arrived since this phase began (what the helper is asked)
            Recording,     // the pupil records (a stop within the delay calls the helper off)
            NotRecording,  // the pupil does not record
        };
        When when = When::Cue;
        unsigned cues = 0;  // CueBit()s
        double delay = 0.0;
        std::string to;
    };

    struct Phase {
        std::string name;
        Motion motion;
        double duration = kForever;  // a move ends by itself after this long...
        std::string next;            // ...and goes on here
        std::vector<Exit> exits;
        // A resting pose heeds only cues that arrive while it lasts; the phases after it (a run) heed
        // cues from the moment the pupil's action that ended the pose began.
        bool resting = false;
    };

    struct Setup {
        std::string name;
        DemoFrame frame = DemoFrame::Turned;
        DemoPoint pivot;           // the mount's tilt turns the apparatus about this point
        double tiltDegrees = 0.0;
        std::vector<Phase> phases;  // the first is where the scenario begins
        std::vector<DemoHelperAction> helperActions;
    };

    explicit DemoScenario(Setup setup);

    const std::string& Name() const { return setup_.name; }
    DemoFrame Frame() const { return setup_.frame; }
    int TransformIndex() const { return TransformIndexOf(setup_.frame); }
    double TiltDegrees() const { return setup_.tiltDegrees; }
    DemoPoint Pivot() const { return setup_.pivot; }
    const std::vector<DemoHelperAction>& HelperActions() const { return setup_.helperActions; }

    // Where the transmitter is at scenario time t, in Frame(), with the mount's tilt. t must not
    // decrease from one call to the next (Cue counts as a call); an earlier t counts as the latest.
    DemoPoint Position(double t);
    DemoPoint SensorPosition(double t) { return ToSensorFrame(setup_.frame, Position(t)); }
    // Square to the mount (the tilt undone): how the scenario's physics reads.
    DemoPoint Unmounted(DemoPoint mounted) const;
    void Cue(DemoCue cue, double t);

    // The phase of the latest call, and when it began; whether the pupil is recording.
    const std::string& PhaseName() const { return setup_.phases[current_].name; }
    double PhaseStart() const { return phaseStart_; }
    bool Recording() const { return recording_; }

private:
    struct Route {
        std::size_t phase;
        double since;
    };
    void Enter(std::size_t phase, double t, DemoPoint from, double runSince);
    bool Holds(const Exit& exit) const;
    double FireTime(std::size_t exit) const;
    void Advance(double t);
    std::size_t IndexOf(const std::string& name) const;

    Setup setup_;
    std::vector<std::size_t> next_;                 // per phase
    std::vector<std::vector<std::size_t>> exitTo_;  // per phase and exit
    std::size_t current_ = 0;
    double phaseStart_ = 0.0;
    DemoPoint phaseFrom_;
    double lastTime_ = 0.0;
    bool recording_ = false;
    double cueSince_ = 0.0;                // cues that arrived at or after this count for Cue exits
    std::vector<double> cueArrived_;       // latest arrival of each cue
    std::vector<std::uint64_t> cueOrder_;  // and its place in the order of all cues
    std::uint64_t cuesSoFar_ = 0;
    std::uint64_t phaseEntryOrder_ = 0;    // cues after this one count for Request exits
    std::vector<double> exitSince_;       // per exit of the current phase: since when it holds; -1: not
};

// The scenario of the experiment with this host index; any other index gets a transmitter at rest.
std::unique_ptr<DemoScenario> MakeDemoScenario(int experimentIndex);

// Scenario truth. Lengths in metres, times in seconds, angles in degrees unless named otherwise,
// positions in the scenario's frame and square to the mount.
namespace demo {

inline constexpr double kGravity = 9.8;
inline constexpr double kRollingFactor = 5.0 / 7.0;  // a solid ball rolling without slipping
inline constexpr double kBaseline = 0.069;
inline constexpr double kTurnedShift = 0.05;
inline constexpr double kPi = 3.14159265358979323846;
// How long the helper takes to react to what the pupil did, and to carry the object somewhere.
inline constexpr double kHelperReaction = 0.5;
inline constexpr double kHelperCarry = 1.5;
inline constexpr double kAfterCalibration = 1.0;  // the helper waits this long before putting it back

// Index 9, sensor frame: the sensor looks down on the release point.
namespace free_fall {
inline constexpr double kReleaseX = 0.0;
inline constexpr double kReleaseY = 0.20;
inline constexpr double kDrop = 0.9;
inline constexpr double kCalibrationRise = 0.12;  // the vertical calibration point, above the release point
inline constexpr double kTiltDegrees = 3.0;
inline constexpr double kLiftDelay = 1.5;  // after the recording ended, with the ball on the floor
inline constexpr double kLift = 1.5;
inline const double kFallTime = std::sqrt(2.0 * kDrop / kGravity);
}  // namespace free_fall

// Index 0, turned frame (Y grows downwards, the throw runs along +X).
namespace projectile {
inline constexpr double kEdgeX = 0.15;  // the table edge, where the pupil sets the zero point
inline constexpr double kEdgeY = 0.15;
// Horizontal, leaving the edge: fast enough that the flight spans some 0.65 m of the metre the window
// records, so that the parabola's curvature is fitted over a long chord (at 1.2 m/s it spans 0.48 m and
// the fitted a2 scatters half as much again).
inline constexpr double kSpeed = 1.6;
inline constexpr double kRunUp = 0.12;  // rolled along the table top from rest before the edge
inline constexpr double kDrop = 0.85;   // table top to floor
inline constexpr double kCalibrationBack = 0.25;  // horizontal calibration point, behind the edge on the table
inline constexpr double kTiltDegrees = 2.0;
inline constexpr double kTakeBack = 1.0;  // to the run-up, once the zero point is set
inline constexpr double kLiftDelay = 1.5;
inline constexpr double kCarry = 2.0;
inline const double kRunUpTime = 2.0 * kRunUp / kSpeed;
inline const double kFlightTime = std::sqrt(2.0 * kDrop / kGravity);
}  // namespace projectile

// Index 8, turned frame: down the incline towards +X and +Y.
namespace galileo {
inline constexpr double kTopX = 0.10;
inline constexpr double kTopY = 0.10;
inline constexpr double kAngleDegrees = 12.0;
inline constexpr double kLength = 0.85;  // along the incline, to the stop at its foot
inline constexpr double kCalibrationDown = 0.30;  // horizontal calibration point, down the incline
inline constexpr double kTiltDegrees = 1.5;
inline constexpr double kCarryDelay = 1.5;
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
inline constexpr double kTiltDegrees = 1.0;
inline constexpr double kCarryDelay = 1.5;
inline constexpr double kCarry = 1.5;
}  // namespace composition

// Index 4, sensor frame: the sensor at the pivot, the bob below it.
namespace pendulum {
inline constexpr double kLength = 0.50;
// Radians at release. Smaller swings cross the bottom so slowly that the noise of the solved X makes
// extra zero crossings there, and picked periods go wrong.
inline constexpr double kAmplitude = 0.20;
inline constexpr double kDecayTime = 120.0;  // amplitude falls by 1/e in this time
inline constexpr double kTiltDegrees = 2.0;
inline constexpr double kPullDelay = 1.0;  // after a recording starts
inline constexpr double kPull = 1.0;
inline constexpr double kHold = 0.5;
inline constexpr double kStopDelay = 1.0;  // after the pupil stopped
inline constexpr double kStop = 1.0;
}  // namespace pendulum

// Index 3, sensor frame: a ball on a string from the sensor, released at x < 0. Short, so that the
// sensor's millimetre of noise, which grows across the line of sight with the distance, leaves the
// velocities usable; inside the window's path chart (0.3 m either side, 0.1 m up). The window has no
// calibration to undo a tilt, which adds about m g x sin(tilt) to its energies: mounted nearly level.
namespace mechanical_energy {
inline constexpr double kLength = 0.40;
inline constexpr double kAmplitude = 38.0 * kPi / 180.0;  // radians, on the x < 0 side
inline constexpr double kDecayTime = 200.0;
inline constexpr double kTiltDegrees = 0.5;
inline const double kReleaseHeight = kLength * (1.0 - std::cos(kAmplitude));  // above the lowest point
inline constexpr double kPullDelay = 1.0;  // after the zero point is set
inline constexpr double kPull = 1.5;
inline constexpr double kStopDelay = 1.0;
inline constexpr double kStop = 1.0;
}  // namespace mechanical_energy

// Index 2, sensor frame: a transmitter on a turntable; at its axis until the zero point is set.
namespace circular {
inline constexpr double kCentreX = 0.0;
inline constexpr double kCentreY = 0.40;
inline constexpr double kRadius = 0.15;
inline constexpr double kRevolutionsPerMinute = 30.0;
inline constexpr double kTiltDegrees = 2.0;  // about the axis, so radius and rate read true
inline constexpr double kMoveDelay = 1.0;
inline constexpr double kMove = 1.0;
inline const double kAngularVelocity = 2.0 * kPi * kRevolutionsPerMinute / 60.0;
}  // namespace circular

// Index 5, sensor frame: a mass on a spring vibrating along X.
namespace damped_vibration {
inline constexpr double kRestX = 0.0;
inline constexpr double kRestY = 0.40;
inline constexpr double kAmplitude = 0.10;
inline constexpr double kPeriod = 1.0;     // undamped
inline constexpr double kDecayTime = 4.0;  // amplitude falls by 1/e in this time
inline constexpr double kTiltDegrees = 2.0;
inline constexpr double kPullDelay = 1.0;  // after a recording starts
inline constexpr double kPull = 1.0;
inline constexpr double kHold = 0.5;
inline constexpr double kStopDelay = 0.5;
inline constexpr double kStop = 0.5;
}  // namespace damped_vibration

// Index 10, turned frame (Y downwards): a ball in a groove along a quarter circle that starts at the
// zero point, centre straight below it; at the groove's end it drops into a catcher.
namespace spherical_track {
inline constexpr double kStartX = 0.10;  // the experiment's initial zero point
inline constexpr double kStartY = 0.10;
inline constexpr double kRadius = 0.20;
inline constexpr double kPush = 0.20;       // speed given at the top, m/s
inline constexpr double kCatchDrop = 0.25;  // below the groove's end
// The window has no calibration: a small tilt, so that the groove still lies on the theory arc.
inline constexpr double kTiltDegrees = 0.5;
inline constexpr double kCarryDelay = 1.5;
inline constexpr double kCarry = 2.0;
}  // namespace spherical_track

// Index 7, turned frame (Y downwards): down a quarter-pipe, once round a loop, out along the floor.
namespace centrifugal_track {
inline constexpr double kStartX = 0.10;
inline constexpr double kStartY = 0.10;
inline constexpr double kEntryRadius = 0.30;  // the quarter-pipe: from vertical at the start to level
inline constexpr double kLoopRadius = 0.08;
inline constexpr double kExitLength = 0.40;   // level run after the loop, to an end stop
inline constexpr double kTiltDegrees = 1.5;
inline constexpr double kCarryDelay = 1.5;
inline constexpr double kCarry = 2.0;
}  // namespace centrifugal_track

// Index 6, turned frame (Y upwards): a robot driving laps of an ellipse from where it is parked.
namespace robot_trace {
inline constexpr double kCentreX = 0.40;
inline constexpr double kCentreY = 0.40;
inline constexpr double kHalfWidth = 0.30;
inline constexpr double kHalfHeight = 0.20;
inline constexpr double kLapTime = 20.0;
inline constexpr double kTiltDegrees = 1.0;
inline constexpr double kCarry = 2.0;  // carried back to its parking place once stopped
}  // namespace robot_trace

// Index 12, distances: the transmitter rests where the reference distances (100 mm, 100 mm) hold; the
// helper can bring it to 200 mm from both receivers. It stands still, so a tilt would change nothing.
namespace calibration {
inline constexpr double kLeft = 0.100;
inline constexpr double kRight = 0.100;
inline constexpr double kFarLeft = 0.200;
inline constexpr double kFarRight = 0.200;
}  // namespace calibration

// Any other index (11: none), turned frame (the default variant): at rest in front of the sensor.
namespace at_rest {
inline constexpr double kX = 0.16;
inline constexpr double kY = 0.16;
}  // namespace at_rest

}  // namespace demo

}  // namespace zelkor::device
