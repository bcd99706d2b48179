#include "demo_scenarios.h"

#include <algorithm>
#include <utility>

namespace zelkor::device {

using namespace demo;

namespace {

constexpr double kSqrt2 = 1.41421356237309504880;

// A second-order motion q'' = f(q, q') integrated with RK4 on a fixed grid from tau = 0. The value at
// tau depends on tau alone (a last partial step from the grid point below it), never on which times
// were asked before, so two scenarios fed the same times agree to the last bit.
class GridMotion {
public:
    using Acceleration = std::function<double(double q, double v)>;
    GridMotion(Acceleration f, double q0, double v0) : f_(std::move(f)), q0_(q0), v0_(v0) { Reset(); }

    // q and q' at time tau >= 0.
    std::pair<double, double> At(double tau)
    {
        tau = std::max(tau, 0.0);
        const auto k = static_cast<long long>(std::floor(tau / kStep));
        if (k < k_)
            Reset();
        while (k_ < k) {
            Step(q_, v_, kStep);
            ++k_;
        }
        double q = q_, v = v_;
        const double rest = tau - static_cast<double>(k_) * kStep;
        if (rest > 0.0)
            Step(q, v, rest);
        return {q, v};
    }

    // The first time q reaches `target` (q increasing), or a negative number when it does not within
    // `limit` seconds.
    double TimeToReach(double target, double limit)
    {
        GridMotion probe(f_, q0_, v0_);
        double lo = 0.0;
        double hi = -1.0;
        for (double t = kStep; t <= limit; t += kStep) {
            if (probe.At(t).first >= target) {
                hi = t;
                break;
            }
            lo = t;
        }
        if (hi < 0.0)
            return -1.0;
        for (int i = 0; i < 60; ++i) {
            const double mid = 0.5 * (lo + hi);
            GridMotion fresh(f_, q0_, v0_);
            if (fresh.At(mid).first >= target)
                hi = mid;
            else
                lo = mid;
        }
        return hi;
    }

private:
    static constexpr double kStep = 1e-3;

    void Reset()
    {
        q_ = q0_;
        v_ = v0_;
        k_ = 0;
    }
    void Step(double& q, double& v, double h) const
    {
        const double k1q = v, k1v = f_(q, v);
        const double k2q = v + 0.5 * h * k1v, k2v = f_(q + 0.5 * h * k1q, v + 0.5 * h * k1v);
        const double k3q = v + 0.5 * h * k2v, k3v = f_(q + 0.5 * h * k2q, v + 0.5 * h * k2v);
        const double k4q = v + h * k3v, k4v = f_(q + h * k3q, v + h * k3v);
        q += h / 6.0 * (k1q + 2 * k2q + 2 * k3q + k4q);
        v += h / 6.0 * (k1v + 2 * k2v + 2 * k3v + k4v);
    }

    Acceleration f_;
    double q0_, v0_;
    double q_ = 0.0, v_ = 0.0;
    long long k_ = 0;
};

using Motion = DemoScenario::Motion;
using Phase = DemoScenario::Phase;
using Exit = DemoScenario::Exit;
using When = Exit::When;

double Smooth(double tau, double duration)
{
    if (duration <= 0.0)
        return 1.0;
    const double s = std::clamp(tau / duration, 0.0, 1.0);
    return s * s * (3.0 - 2.0 * s);
}

Motion StayAt(DemoPoint p)
{
    return [p](double, DemoPoint) { return p; };
}

Motion StayPut()
{
    return [](double, DemoPoint from) { return from; };
}

// Carried by hand: starts and ends at rest.
Motion CarryTo(DemoPoint to, double duration)
{
    return [to, duration](double tau, DemoPoint from) {
        const double e = Smooth(tau, duration);
        return DemoPoint{from.x + (to.x - from.x) * e, from.y + (to.y - from.y) * e};
    };
}

// A pendulum hung from the sensor frame's origin; angle 0 is straight down (+Y), positive towards +X.
DemoPoint OnPendulum(double length, double angle)
{
    return {length * std::sin(angle), length * std::cos(angle)};
}

// Moved by hand along the pendulum's arc from wherever it is to `angle`.
Motion SwingBy(double length, double angle, double duration)
{
    return [length, angle, duration](double tau, DemoPoint from) {
        const double start = std::atan2(from.x, from.y);
        return OnPendulum(length, start + (angle - start) * Smooth(tau, duration));
    };
}

// Released from rest at `amplitude`: the full pendulum equation with light velocity damping.
Motion FreeSwing(double length, double amplitude, double decayTime)
{
    const double w2 = kGravity / length;
    const double damping = 2.0 / decayTime;
    auto motion = std::make_shared<GridMotion>(
        [w2, damping](double q, double v) { return -w2 * std::sin(q) - damping * v; }, amplitude, 0.0);
    return [motion, length](double tau, DemoPoint) { return OnPendulum(length, motion->At(tau).first); };
}

constexpr unsigned kZeroSet = CueBit(DemoCue::ZeroSet);
constexpr unsigned kCalibrationSet = CueBit(DemoCue::CalibrationSet);
// Whatever ends a try: the recording stops, the acquisition stops, the display is cleared.
constexpr unsigned kStops =
    CueBit(DemoCue::RecordingStopped) | CueBit(DemoCue::AcquisitionStopped) | CueBit(DemoCue::Cleared);

Exit OnCue(unsigned cues, double delay, std::string to)
{
    return Exit{When::Cue, cues, delay, std::move(to)};
}

// The helper is asked for something: done at once, from whatever the object is doing.
Exit OnRequest(DemoCue cue, std::string to)
{
    return Exit{When::Request, CueBit(cue), 0.0, std::move(to)};
}

Exit WhileRecording(double delay, std::string to)
{
    return Exit{When::Recording, 0u, delay, std::move(to)};
}

Exit WhileNotRecording(double delay, std::string to)
{
    return Exit{When::NotRecording, 0u, delay, std::move(to)};
}

// A resting pose: lasts until one of its exits.
Phase Rest(std::string name, Motion motion, std::vector<Exit> exits)
{
    return Phase{std::move(name), std::move(motion), kForever, {}, std::move(exits), true};
}

Phase Move(std::string name, double duration, std::string next, Motion motion)
{
    return Phase{std::move(name), std::move(motion), duration, std::move(next), {}, false};
}

// A self-running apparatus: runs until one of its exits.
Phase Run(std::string name, Motion motion, std::vector<Exit> exits)
{
    return Phase{std::move(name), std::move(motion), kForever, {}, std::move(exits), false};
}

// A calibration point, where the helper holds the object until the pupil has calibrated.
struct CalibrationPoint {
    const char* text;
    DemoPoint point;
    std::string after;  // the pose the helper brings it to once the pupil has calibrated
    DemoPoint afterPoint;
};

constexpr const char* kPutBack = "put back";
constexpr const char* kToCalibration = "carried to the calibration point";
constexpr const char* kAtCalibration = "held at the calibration point";
constexpr const char* kFromCalibration = "back from the calibration point";

// What the helper at the apparatus can be asked to do: put the object back to `home` (the pose where
// the pupil zeroes) by `putBack`, and where there is one, bring it to a calibration point.
void AddHelper(DemoScenario::Setup& s, const std::string& home, Motion putBack, const char* putBackText,
               const CalibrationPoint* calibration = nullptr)
{
    const bool calibrates = calibration != nullptr;
    s.phases.push_back(Move(kPutBack, kHelperCarry, home, std::move(putBack)));
    if (calibrates) {
        s.phases.push_back(Move(kToCalibration, kHelperCarry, kAtCalibration, CarryTo(calibration->point, kHelperCarry)));
        // Held as long as the pupil takes; a calibration taken while the helper was still on the way
        // counts (the request began the run). A pupil who records instead gets the object put back, so
        // that the try goes on from there.
        s.phases.push_back(Run(kAtCalibration, StayPut(),
                                {OnCue(kCalibrationSet, kAfterCalibration, kFromCalibration),
                                 WhileRecording(kHelperReaction, kPutBack)}));
        s.phases.push_back(
            Move(kFromCalibration, kHelperCarry, calibration->after, CarryTo(calibration->afterPoint, kHelperCarry)));
        s.helperActions.push_back({DemoCue::HelperToCalibrationPoint, calibration->text});
    }
    s.helperActions.push_back({DemoCue::HelperPutBack, putBackText});
    for (Phase& phase : s.phases) {
        if (phase.name != home && phase.name != kPutBack)
            phase.exits.push_back(OnRequest(DemoCue::HelperPutBack, kPutBack));
        if (calibrates && phase.name != kToCalibration && phase.name != kAtCalibration)
            phase.exits.push_back(OnRequest(DemoCue::HelperToCalibrationPoint, kToCalibration));
    }
}

std::unique_ptr<DemoScenario> FreeFall()
{
    using namespace free_fall;
    const DemoPoint release{kReleaseX, kReleaseY};
    const DemoPoint floor{kReleaseX, kReleaseY + kDrop};
    DemoScenario::Setup s{"free fall", DemoFrame::Sensor, release, kTiltDegrees, {}, {}};
    s.phases = {
        Rest("held", StayAt(release), {WhileRecording(kHelperReaction, "falling")}),
        Move("falling", kFallTime, "on the floor",
             [release](double tau, DemoPoint) {
                 return DemoPoint{release.x, release.y + 0.5 * kGravity * tau * tau};
             }),
        Rest("on the floor", StayAt(floor), {WhileNotRecording(kLiftDelay, "lifted back")}),
        Move("lifted back", kLift, "held", CarryTo(release, kLift)),
    };
    const CalibrationPoint above{"举到释放点正上方（竖直校准点）", {kReleaseX, kReleaseY - kCalibrationRise}, "held", release};
    AddHelper(s, "held", CarryTo(release, kHelperCarry), "放回释放点", &above);
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Projectile()
{
    using namespace projectile;
    const DemoPoint edge{kEdgeX, kEdgeY};
    const DemoPoint runUp{kEdgeX - kRunUp, kEdgeY};
    const double runUpAcceleration = kSpeed * kSpeed / (2.0 * kRunUp);
    const DemoPoint landing{kEdgeX + kSpeed * kFlightTime, kEdgeY + kDrop};
    DemoScenario::Setup s{"projectile", DemoFrame::Turned, edge, kTiltDegrees, {}, {}};
    // The pupil zeroes with the ball on the edge; the helper then takes it back for the run-up, so
    // that only the flight lies in the recording area (X >= 0).
    s.phases = {
        Rest("at the table edge", StayAt(edge),
             {OnCue(kZeroSet, kHelperReaction, "taken back"), WhileRecording(kHelperReaction, "taken back")}),
        Move("taken back", kTakeBack, "held at the run-up", CarryTo(runUp, kTakeBack)),
        Rest("held at the run-up", StayAt(runUp), {WhileRecording(kHelperReaction, "rolling to the edge")}),
        Move("rolling to the edge", kRunUpTime, "flying",
             [runUp, runUpAcceleration](double tau, DemoPoint) {
                 return DemoPoint{runUp.x + 0.5 * runUpAcceleration * tau * tau, runUp.y};
             }),
        Move("flying", kFlightTime, "on the floor",
             [](double tau, DemoPoint) {
                 return DemoPoint{kEdgeX + kSpeed * tau, kEdgeY + 0.5 * kGravity * tau * tau};
             }),
        Rest("on the floor", StayAt(landing), {WhileNotRecording(kLiftDelay, "carried back")}),
        Move("carried back", kCarry, "held at the run-up", CarryTo(runUp, kCarry)),
    };
    const CalibrationPoint behind{"沿桌面移到桌边后方（水平校准点）", {kEdgeX - kCalibrationBack, kEdgeY},
                                  "held at the run-up", runUp};
    AddHelper(s, "at the table edge", CarryTo(edge, kHelperCarry), "放回桌边", &behind);
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Galileo()
{
    using namespace galileo;
    const double angle = kAngleDegrees * kPi / 180.0;
    const DemoPoint top{kTopX, kTopY};
    auto along = [top, angle](double s) { return DemoPoint{top.x + s * std::cos(angle), top.y + s * std::sin(angle)}; };
    DemoScenario::Setup s{"Galileo incline", DemoFrame::Turned, top, kTiltDegrees, {}, {}};
    s.phases = {
        Rest("held at the top", StayAt(top), {WhileRecording(kHelperReaction, "rolling")}),
        Move("rolling", kRollTime, "at the stop",
             [along](double tau, DemoPoint) { return along(0.5 * kAcceleration * tau * tau); }),
        Rest("at the stop", StayAt(along(kLength)), {WhileNotRecording(kCarryDelay, "carried back")}),
        Move("carried back", kCarry, "held at the top", CarryTo(top, kCarry)),
    };
    const CalibrationPoint down{"沿斜面放到下方（水平校准点）", along(kCalibrationDown), "held at the top", top};
    AddHelper(s, "held at the top", CarryTo(top, kHelperCarry), "放回斜面顶端", &down);
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Composition()
{
    using namespace composition;
    const DemoPoint start{kStartX, kStartY};
    DemoScenario::Setup s{"composition of motions", DemoFrame::Turned, start, kTiltDegrees, {}, {}};
    // Released the moment the recording starts, so that it holds the whole motion; at its end it stays
    // until the recording stops (a stop during the motion counts too).
    s.phases = {
        Rest("held", StayAt(start), {WhileRecording(0.0, "moving")}),
        Move("moving", kRunTime, "at the end",
             [start](double tau, DemoPoint) {
                 return DemoPoint{start.x + kSpeedX * tau, start.y + 0.5 * kAccelerationY * tau * tau};
             }),
        Run("at the end", StayPut(), {OnCue(kStops, kCarryDelay, "carried back")}),
        Move("carried back", kCarry, "held", CarryTo(start, kCarry)),
    };
    AddHelper(s, "held", CarryTo(start, kHelperCarry), "放回起点");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Pendulum()
{
    using namespace pendulum;
    DemoScenario::Setup s{"single pendulum", DemoFrame::Sensor, {}, kTiltDegrees, {}, {}};
    s.phases = {
        // Hanging still for its equilibrium position; released for a recording, so that the trace
        // holds the whole swing.
        Rest("hanging still", StayAt(OnPendulum(kLength, 0.0)), {WhileRecording(kPullDelay, "pulled aside")}),
        Move("pulled aside", kPull, "held aside", SwingBy(kLength, kAmplitude, kPull)),
        Move("held aside", kHold, "swinging", StayPut()),
        Run("swinging", FreeSwing(kLength, kAmplitude, kDecayTime), {OnCue(kStops, kStopDelay, "stopped by hand")}),
        Move("stopped by hand", kStop, "hanging still", SwingBy(kLength, 0.0, kStop)),
    };
    AddHelper(s, "hanging still", SwingBy(kLength, 0.0, kHelperCarry), "让摆球静止下垂");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> MechanicalEnergy()
{
    using namespace mechanical_energy;
    DemoScenario::Setup s{"mechanical energy", DemoFrame::Sensor, {}, kTiltDegrees, {}, {}};
    s.phases = {
        // Pulled aside only for its zero point: pulled during a recording, the window's end of a pass
        // (past the lowest point and falling back) would end the recording before the release.
        Rest("at the lowest point", StayAt(OnPendulum(kLength, 0.0)), {OnCue(kZeroSet, kPullDelay, "pulled aside")}),
        Move("pulled aside", kPull, "held aside", SwingBy(kLength, -kAmplitude, kPull)),
        Rest("held aside", StayPut(), {WhileRecording(kHelperReaction, "swinging")}),
        Run("swinging", FreeSwing(kLength, -kAmplitude, kDecayTime), {OnCue(kStops, kStopDelay, "stopped by hand")}),
        Move("stopped by hand", kStop, "at the lowest point", SwingBy(kLength, 0.0, kStop)),
    };
    AddHelper(s, "at the lowest point", SwingBy(kLength, 0.0, kHelperCarry), "让小球静止在最低点");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Circular()
{
    using namespace circular;
    const DemoPoint centre{kCentreX, kCentreY};
    const DemoPoint rim{kCentreX + kRadius, kCentreY};
    DemoScenario::Setup s{"uniform circular motion", DemoFrame::Sensor, centre, kTiltDegrees, {}, {}};
    s.phases = {
        Rest("at the axis", StayAt(centre),
             {OnCue(kZeroSet, kMoveDelay, "moved to the rim"), WhileRecording(kMoveDelay, "moved to the rim")}),
        Move("moved to the rim", kMove, "turning", CarryTo(rim, kMove)),
        Run("turning",
            [centre](double tau, DemoPoint) {
                const double a = kAngularVelocity * tau;
                return DemoPoint{centre.x + kRadius * std::cos(a), centre.y + kRadius * std::sin(a)};
            },
            {OnCue(kStops, kHelperReaction, "moved to the axis")}),
        Move("moved to the axis", kMove, "at the axis", CarryTo(centre, kMove)),
    };
    AddHelper(s, "at the axis", CarryTo(centre, kHelperCarry), "停下转盘，把发射器放回转轴");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> DampedVibration()
{
    using namespace damped_vibration;
    const DemoPoint rest{kRestX, kRestY};
    const DemoPoint pulled{kRestX + kAmplitude, kRestY};
    const double gamma = 1.0 / kDecayTime;
    const double w0 = 2.0 * kPi / kPeriod;
    const double wd = std::sqrt(w0 * w0 - gamma * gamma);
    DemoScenario::Setup s{"damped vibration", DemoFrame::Sensor, rest, kTiltDegrees, {}, {}};
    s.phases = {
        // Released only for a recording: the vibration dies away within seconds.
        Rest("at rest", StayAt(rest), {WhileRecording(kPullDelay, "pulled aside")}),
        Move("pulled aside", kPull, "held", CarryTo(pulled, kPull)),
        Move("held", kHold, "vibrating", StayPut()),
        // Released from rest: x = A e^(-gamma t) (cos wd t + gamma / wd sin wd t).
        Run("vibrating",
            [=](double tau, DemoPoint) {
                const double x =
                    kAmplitude * std::exp(-gamma * tau) * (std::cos(wd * tau) + gamma / wd * std::sin(wd * tau));
                return DemoPoint{rest.x + x, rest.y};
            },
            {OnCue(kStops, kStopDelay, "stopped by hand")}),
        Move("stopped by hand", kStop, "at rest", CarryTo(rest, kStop)),
    };
    AddHelper(s, "at rest", CarryTo(rest, kHelperCarry), "让振子静止");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> SphericalTrack()
{
    using namespace spherical_track;
    const DemoPoint top{kStartX, kStartY};
    // Angle from the top, seen from the centre straight below the start: phi'' = 5/7 g/R sin phi.
    const double k = kRollingFactor * kGravity / kRadius;
    auto groove = std::make_shared<GridMotion>([k](double q, double) { return k * std::sin(q); }, 0.0, kPush / kRadius);
    const double grooveTime = groove->TimeToReach(0.5 * kPi, 10.0);
    const double endSpeed = kRadius * groove->At(grooveTime).second;
    const DemoPoint end{top.x + kRadius, top.y + kRadius};
    const double dropTime = (-endSpeed + std::sqrt(endSpeed * endSpeed + 2.0 * kGravity * kCatchDrop)) / kGravity;
    DemoScenario::Setup s{"spherical track", DemoFrame::Turned, top, kTiltDegrees, {}, {}};
    s.phases = {
        // Pushed the moment the recording starts: no points piled up at the top.
        Rest("held at the top", StayAt(top), {WhileRecording(0.0, "in the groove")}),
        Move("in the groove", grooveTime, "dropping",
             [groove, top](double tau, DemoPoint) {
                 const double phi = std::min(groove->At(tau).first, 0.5 * kPi);
                 return DemoPoint{top.x + kRadius * std::sin(phi), top.y + kRadius * (1.0 - std::cos(phi))};
             }),
        // Leaves the groove moving straight down.
        Move("dropping", dropTime, "in the catcher",
             [end, endSpeed](double tau, DemoPoint) {
                 return DemoPoint{end.x, end.y + endSpeed * tau + 0.5 * kGravity * tau * tau};
             }),
        Rest("in the catcher", StayAt({end.x, end.y + kCatchDrop}), {WhileNotRecording(kCarryDelay, "carried back")}),
        Move("carried back", kCarry, "held at the top", CarryTo(top, kCarry)),
    };
    AddHelper(s, "held at the top", CarryTo(top, kHelperCarry), "放回轨道顶端");
    return std::make_unique<DemoScenario>(std::move(s));
}

// The centrifugal track by arc length s: quarter-pipe, loop, level run.
struct LoopTrack {
    double entry = centrifugal_track::kEntryRadius * 0.5 * kPi;
    double loop = 2.0 * kPi * centrifugal_track::kLoopRadius;
    double exit = centrifugal_track::kExitLength;
    double Length() const { return entry + loop + exit; }

    // Position, and the downward (+Y) component of the direction of travel.
    DemoPoint At(double s, double* down = nullptr) const
    {
        using namespace centrifugal_track;
        const double R = kEntryRadius, r = kLoopRadius;
        const DemoPoint bottom{kStartX + R, kStartY + R};
        s = std::clamp(s, 0.0, Length());
        double slope = 0.0;
        DemoPoint p;
        if (s < entry) {
            const double a = s / R;
            p = {kStartX + R - R * std::cos(a), kStartY + R * std::sin(a)};
            slope = std::cos(a);
        } else if (s < entry + loop) {
            const double b = (s - entry) / r;
            p = {bottom.x + r * std::sin(b), bottom.y - r + r * std::cos(b)};
            slope = -std::sin(b);
        } else {
            p = {bottom.x + (s - entry - loop), bottom.y};
        }
        if (down)
            *down = slope;
        return p;
    }
};

std::unique_ptr<DemoScenario> CentrifugalTrack()
{
    using namespace centrifugal_track;
    const LoopTrack track;
    const DemoPoint start{kStartX, kStartY};
    auto run = std::make_shared<GridMotion>(
        [track](double s, double) {
            double down = 0.0;
            track.At(s, &down);
            return kRollingFactor * kGravity * down;
        },
        0.0, 0.0);
    const double runTime = run->TimeToReach(track.Length(), 20.0);
    DemoScenario::Setup s{"centrifugal track", DemoFrame::Turned, start, kTiltDegrees, {}, {}};
    s.phases = {
        // Let go the moment the recording starts, so the first red points run down the quarter-pipe.
        Rest("held at the start", StayAt(start), {WhileRecording(0.0, "running")}),
        Move("running", runTime, "at the end stop",
             [run, track](double tau, DemoPoint) { return track.At(run->At(tau).first); }),
        Rest("at the end stop", StayAt(track.At(track.Length())), {WhileNotRecording(kCarryDelay, "carried back")}),
        Move("carried back", kCarry, "held at the start", CarryTo(start, kCarry)),
    };
    AddHelper(s, "held at the start", CarryTo(start, kHelperCarry), "放回轨道起点");
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> RobotTrace()
{
    using namespace robot_trace;
    const DemoPoint park{kCentreX - kHalfWidth, kCentreY};
    DemoScenario::Setup s{"robot trace", DemoFrame::Turned, park, kTiltDegrees, {}, {}};
    s.phases = {
        // Sets off the moment the recording starts, and drives until the pupil stops.
        Rest("parked", StayAt(park), {WhileRecording(0.0, "driving")}),
        Run("driving",
            [](double tau, DemoPoint) {
                const double a = 2.0 * kPi * tau / kLapTime;
                return DemoPoint{kCentreX - kHalfWidth * std::cos(a), kCentreY + kHalfHeight * std::sin(a)};
            },
            {OnCue(kStops, kHelperReaction, "carried back")}),
        Move("carried back", kCarry, "parked", CarryTo(park, kCarry)),
    };
    AddHelper(s, "parked", CarryTo(park, kHelperCarry), "把机器人放回起点");
    return std::make_unique<DemoScenario>(std::move(s));
}

// Held at the reference distances; the helper can bring the transmitter to 200 mm and hold it there
// until it is put back (the tool sends no calibration-point cue, so it waits however long).
std::unique_ptr<DemoScenario> CalibrationTool()
{
    using namespace calibration;
    const DemoPoint reference{kLeft, kRight};
    DemoScenario::Setup s{"calibration", DemoFrame::Distances, reference, 0.0, {}, {}};
    s.phases = {Rest("at the reference distances", StayAt(reference), {})};
    const CalibrationPoint far{"移到距两接收器200 mm处", {kFarLeft, kFarRight}, "at the reference distances", reference};
    AddHelper(s, "at the reference distances", CarryTo(reference, kHelperCarry), "放回100 mm处", &far);
    return std::make_unique<DemoScenario>(std::move(s));
}

std::unique_ptr<DemoScenario> Still(std::string name, DemoFrame frame, DemoPoint p)
{
    DemoScenario::Setup s{std::move(name), frame, p, 0.0, {}, {}};
    s.phases = {Rest("at rest", StayAt(p), {})};
    return std::make_unique<DemoScenario>(std::move(s));
}

}  // namespace

int TransformIndexOf(DemoFrame frame)
{
    switch (frame) {
    case DemoFrame::Distances:
        return 0;
    case DemoFrame::Turned:
        return 1;
    case DemoFrame::Sensor:
        return 2;
    }
    return 2;
}

double LeftDistance(DemoPoint p)
{
    return std::hypot(p.x + 0.5 * kBaseline, p.y);
}

double RightDistance(DemoPoint p)
{
    return std::hypot(p.x - 0.5 * kBaseline, p.y);
}

DemoPoint ToSensorFrame(DemoFrame frame, DemoPoint p)
{
    switch (frame) {
    case DemoFrame::Sensor:
        return p;
    case DemoFrame::Turned: {
        const double u = p.x + kTurnedShift;
        const double v = p.y + kTurnedShift;
        return {(v - u) / kSqrt2, (u + v) / kSqrt2};
    }
    case DemoFrame::Distances: {
        const double l = p.x, r = p.y;
        if (!(l + r > kBaseline && std::abs(l - r) < kBaseline))
            return {};
        const double x = (l * l - r * r) / (2.0 * kBaseline);
        const double dx = x + 0.5 * kBaseline;
        return {x, std::sqrt(std::max(l * l - dx * dx, 0.0))};
    }
    }
    return p;
}

DemoPoint FromSensorFrame(DemoFrame frame, DemoPoint s)
{
    switch (frame) {
    case DemoFrame::Sensor:
        return s;
    case DemoFrame::Turned:
        return {(s.y - s.x) / kSqrt2 - kTurnedShift, (s.x + s.y) / kSqrt2 - kTurnedShift};
    case DemoFrame::Distances:
        return {LeftDistance(s), RightDistance(s)};
    }
    return s;
}

DemoPoint Turn(DemoPoint p, DemoPoint pivot, double degrees)
{
    const double a = degrees * kPi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double dx = p.x - pivot.x, dy = p.y - pivot.y;
    return {pivot.x + c * dx - s * dy, pivot.y + s * dx + c * dy};
}

DemoScenario::DemoScenario(Setup setup)
    : setup_(std::move(setup)), cueArrived_(kDemoCueCount, -kForever), cueOrder_(kDemoCueCount, 0)
{
    if (setup_.phases.empty())
        setup_.phases.push_back(Rest("at rest", StayAt(setup_.pivot), {}));
    for (const Phase& phase : setup_.phases) {
        next_.push_back(IndexOf(phase.next));
        exitTo_.emplace_back();
        for (const Exit& exit : phase.exits)
            exitTo_.back().push_back(IndexOf(exit.to));
    }
    Enter(0, 0.0, setup_.phases[0].motion(0.0, setup_.pivot), 0.0);
}

std::size_t DemoScenario::IndexOf(const std::string& name) const
{
    for (std::size_t i = 0; i < setup_.phases.size(); ++i) {
        if (setup_.phases[i].name == name)
            return i;
    }
    return 0;  // a scenario that names no phase goes back to where it began
}

bool DemoScenario::Holds(const Exit& exit) const
{
    switch (exit.when) {
    case Exit::When::Recording:
        return recording_;
    case Exit::When::NotRecording:
        return !recording_;
    case Exit::When::Cue:
        for (std::size_t cue = 0; cue < cueArrived_.size(); ++cue) {
            if ((exit.cues & (1u << cue)) && cueArrived_[cue] >= cueSince_)
                return true;
        }
        return false;
    case Exit::When::Request:
        // By order rather than time: two requests at one instant must not send each other back and forth.
        for (std::size_t cue = 0; cue < cueOrder_.size(); ++cue) {
            if ((exit.cues & (1u << cue)) && cueOrder_[cue] > phaseEntryOrder_)
                return true;
        }
        return false;
    }
    return false;
}

void DemoScenario::Enter(std::size_t phase, double t, DemoPoint from, double runSince)
{
    current_ = phase;
    phaseStart_ = t;
    phaseEntryOrder_ = cuesSoFar_;
    phaseFrom_ = from;
    const Phase& p = setup_.phases[phase];
    cueSince_ = p.resting ? t : runSince;
    exitSince_.assign(p.exits.size(), -1.0);
    for (std::size_t i = 0; i < p.exits.size(); ++i) {
        if (Holds(p.exits[i]))
            exitSince_[i] = t;
    }
}

double DemoScenario::FireTime(std::size_t exit) const
{
    const double since = exitSince_[exit];
    return since < 0.0 ? kForever : since + setup_.phases[current_].exits[exit].delay;
}

void DemoScenario::Advance(double t)
{
    // Bounded, so that a scenario of zero-length phases cannot spin; real phases last a fraction of a
    // second at least, and the sensor advances 20 ms at a time.
    for (int guard = 0; guard < 100000; ++guard) {
        const Phase& phase = setup_.phases[current_];
        double end = phaseStart_ + phase.duration;
        std::size_t to = next_[current_];
        double since = cueSince_;
        std::size_t byExit = 0;  // 1 + the exit that ends the phase; 0: its duration
        for (std::size_t i = 0; i < phase.exits.size(); ++i) {
            const double fire = FireTime(i);
            if (fire < end) {
                end = fire;
                to = exitTo_[current_][i];
                since = exitSince_[i];
                byExit = i + 1;
            }
        }
        end = std::max(end, lastTime_);
        if (!(end <= t))
            break;
        const DemoPoint at = phase.motion(end - phaseStart_, phaseFrom_);
        // Leaving a resting pose, or answering a request, begins a run: from now on it heeds what the
        // pupil did since then.
        const bool request = byExit && phase.exits[byExit - 1].when == Exit::When::Request;
        Enter(to, end, at, phase.resting || request ? since : cueSince_);
        lastTime_ = end;
    }
}

DemoPoint DemoScenario::Position(double t)
{
    t = std::max(t, lastTime_);
    Advance(t);
    lastTime_ = t;
    const DemoPoint square = setup_.phases[current_].motion(t - phaseStart_, phaseFrom_);
    return setup_.tiltDegrees == 0.0 ? square : Turn(square, setup_.pivot, setup_.tiltDegrees);
}

DemoPoint DemoScenario::Unmounted(DemoPoint mounted) const
{
    return setup_.tiltDegrees == 0.0 ? mounted : Turn(mounted, setup_.pivot, -setup_.tiltDegrees);
}

void DemoScenario::Cue(DemoCue cue, double t)
{
    const auto index = static_cast<std::size_t>(cue);
    if (index >= cueArrived_.size())
        return;
    t = std::max(t, lastTime_);
    Advance(t);
    lastTime_ = t;
    switch (cue) {
    case DemoCue::RecordingStarted:
        recording_ = true;
        break;
    case DemoCue::RecordingStopped:
    case DemoCue::AcquisitionStopped:
    case DemoCue::Cleared:
        recording_ = false;
        break;
    default:
        break;
    }
    cueArrived_[index] = t;
    cueOrder_[index] = ++cuesSoFar_;
    const Phase& phase = setup_.phases[current_];
    for (std::size_t i = 0; i < phase.exits.size(); ++i) {
        if (!Holds(phase.exits[i]))
            exitSince_[i] = -1.0;  // a recording stopped within the helper's delay calls the helper off
        else if (exitSince_[i] < 0.0)
            exitSince_[i] = t;
    }
}

std::unique_ptr<DemoScenario> MakeDemoScenario(int experimentIndex)
{
    switch (experimentIndex) {
    case 0:
        return Projectile();
    case 1:
        return Composition();
    case 2:
        return Circular();
    case 3:
        return MechanicalEnergy();
    case 4:
        return Pendulum();
    case 5:
        return DampedVibration();
    case 6:
        return RobotTrace();
    case 7:
        return CentrifugalTrack();
    case 8:
        return Galileo();
    case 9:
        return FreeFall();
    case 10:
        return SphericalTrack();
    case 12:
        return CalibrationTool();
    default:
        return Still("at rest", DemoFrame::Turned, {at_rest::kX, at_rest::kY});
    }
}

}  // namespace zelkor::device
