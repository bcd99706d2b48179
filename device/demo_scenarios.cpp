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

using Motion = std::function<DemoPoint(double tau, DemoPoint from)>;
using Phase = DemoScenario::Phase;

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

Phase Fixed(std::string name, double duration, Motion motion)
{
    return Phase{std::move(name), duration, duration, 0u, 0.0, std::move(motion)};
}

Phase Waiting(std::string name, double autoDuration, unsigned cues, double delay, Motion motion)
{
    return Phase{std::move(name), autoDuration, autoDuration, cues, delay, std::move(motion)};
}

// With cues the phase never ends by itself (the apparatus keeps running).
Phase Running(std::string name, double autoDuration, Motion motion)
{
    return Phase{std::move(name), autoDuration, kForever, 0u, 0.0, std::move(motion)};
}

constexpr unsigned kStarted = CueBit(DemoCue::RecordingStarted);
constexpr unsigned kStopped = CueBit(DemoCue::RecordingStopped);
constexpr unsigned kZeroSet = CueBit(DemoCue::ZeroSet);

std::unique_ptr<DemoScenario> FreeFall()
{
    using namespace free_fall;
    const DemoPoint release{kReleaseX, kReleaseY};
    const DemoPoint floor{kReleaseX, kReleaseY + kDrop};
    std::vector<Phase> phases;
    phases.push_back(Waiting("held", kHold, kStarted, kReleaseDelay, StayAt(release)));
    phases.push_back(Fixed("falling", kFallTime, [release](double tau, DemoPoint) {
        return DemoPoint{release.x, release.y + 0.5 * kGravity * tau * tau};
    }));
    // A pupil who sets the zero point while the ball lies on the floor (it fell on the own timeline
    // before anyone was ready) gets it lifted back, and can zero again at the release point.
    phases.push_back(Waiting("on the floor", kLie, kStopped | kZeroSet, kLiftDelay, StayAt(floor)));
    phases.push_back(Fixed("lifted back", kLift, CarryTo(release, kLift)));
    return std::make_unique<DemoScenario>("free fall", DemoFrame::Sensor, std::move(phases));
}

std::unique_ptr<DemoScenario> Projectile()
{
    using namespace projectile;
    const DemoPoint start{kEdgeX - kRunUp, kEdgeY};
    const double runUpTime = kRunUp / kSpeed;
    const DemoPoint landing{kEdgeX + kSpeed * kFlightTime, kEdgeY + kDrop};
    std::vector<Phase> phases;
    phases.push_back(Waiting("held", kHold, kStarted, kReleaseDelay, StayAt(start)));
    phases.push_back(Fixed("pushed along the table", runUpTime, [start](double tau, DemoPoint) {
        return DemoPoint{start.x + kSpeed * tau, start.y};
    }));
    phases.push_back(Fixed("flying", kFlightTime, [](double tau, DemoPoint) {
        return DemoPoint{kEdgeX + kSpeed * tau, kEdgeY + 0.5 * kGravity * tau * tau};
    }));
    phases.push_back(Waiting("on the floor", kLie, kStopped, kLiftDelay, StayAt(landing)));
    phases.push_back(Fixed("carried back", kCarry, CarryTo(start, kCarry)));
    return std::make_unique<DemoScenario>("projectile", DemoFrame::Turned, std::move(phases));
}

std::unique_ptr<DemoScenario> Galileo()
{
    using namespace galileo;
    const double angle = kAngleDegrees * kPi / 180.0;
    const DemoPoint top{kTopX, kTopY};
    const DemoPoint foot{kTopX + kLength * std::cos(angle), kTopY + kLength * std::sin(angle)};
    std::vector<Phase> phases;
    phases.push_back(Waiting("held at the top", kHold, kStarted, kReleaseDelay, StayAt(top)));
    phases.push_back(Fixed("rolling", kRollTime, [top, angle](double tau, DemoPoint) {
        const double s = 0.5 * kAcceleration * tau * tau;
        return DemoPoint{top.x + s * std::cos(angle), top.y + s * std::sin(angle)};
    }));
    phases.push_back(Waiting("at the stop", kRest, kStopped, kCarryDelay, StayAt(foot)));
    phases.push_back(Fixed("carried back", kCarry, CarryTo(top, kCarry)));
    return std::make_unique<DemoScenario>("Galileo incline", DemoFrame::Turned, std::move(phases));
}

std::unique_ptr<DemoScenario> Composition()
{
    using namespace composition;
    const DemoPoint start{kStartX, kStartY};
    std::vector<Phase> phases;
    phases.push_back(Waiting("held", kHold, kStarted, kReleaseDelay, StayAt(start)));
    phases.push_back(Fixed("moving", kRunTime, [start](double tau, DemoPoint) {
        return DemoPoint{start.x + kSpeedX * tau, start.y + 0.5 * kAccelerationY * tau * tau};
    }));
    phases.push_back(Fixed("at the end", kRest, StayPut()));
    phases.push_back(Fixed("carried back", kCarry, CarryTo(start, kCarry)));
    return std::make_unique<DemoScenario>("composition of motions", DemoFrame::Turned, std::move(phases));
}

std::unique_ptr<DemoScenario> Pendulum()
{
    using namespace pendulum;
    std::vector<Phase> phases;
    phases.push_back(
        Waiting("hanging still", kRest, kZeroSet | kStarted, kPullDelay, StayAt(OnPendulum(kLength, 0.0))));
    phases.push_back(Fixed("pulled aside", kPull, SwingBy(kLength, kAmplitude, kPull)));
    phases.push_back(Fixed("held", kHold, StayPut()));
    phases.push_back(Waiting("swinging", kSwing, kStopped, kStopDelay, FreeSwing(kLength, kAmplitude, kDecayTime)));
    phases.push_back(Fixed("stopped by hand", kStop, SwingBy(kLength, 0.0, kStop)));
    return std::make_unique<DemoScenario>("single pendulum", DemoFrame::Sensor, std::move(phases));
}

std::unique_ptr<DemoScenario> MechanicalEnergy()
{
    using namespace mechanical_energy;
    std::vector<Phase> phases;
    phases.push_back(Waiting("at the lowest point", kRest, kZeroSet, kPullDelay, StayAt(OnPendulum(kLength, 0.0))));
    phases.push_back(Fixed("pulled aside", kPull, SwingBy(kLength, -kAmplitude, kPull)));
    phases.push_back(Waiting("held", kHold, kStarted, kReleaseDelay, StayPut()));
    phases.push_back(Waiting("swinging", kSwing, kStopped, kStopDelay, FreeSwing(kLength, -kAmplitude, kDecayTime)));
    phases.push_back(Fixed("stopped by hand", kStop, SwingBy(kLength, 0.0, kStop)));
    return std::make_unique<DemoScenario>("mechanical energy", DemoFrame::Sensor, std::move(phases));
}

std::unique_ptr<DemoScenario> Circular()
{
    using namespace circular;
    const DemoPoint centre{kCentreX, kCentreY};
    const DemoPoint rim{kCentreX + kRadius, kCentreY};
    std::vector<Phase> phases;
    phases.push_back(Waiting("at the axis", kAtCentre, kZeroSet, kMoveDelay, StayAt(centre)));
    phases.push_back(Fixed("moved to the rim", kMove, CarryTo(rim, kMove)));
    phases.push_back(Running("turning", kTurning, [centre](double tau, DemoPoint) {
        const double a = kAngularVelocity * tau;
        return DemoPoint{centre.x + kRadius * std::cos(a), centre.y + kRadius * std::sin(a)};
    }));
    phases.push_back(Fixed("moved to the axis", kMove, CarryTo(centre, kMove)));
    return std::make_unique<DemoScenario>("uniform circular motion", DemoFrame::Sensor, std::move(phases));
}

std::unique_ptr<DemoScenario> DampedVibration()
{
    using namespace damped_vibration;
    const DemoPoint rest{kRestX, kRestY};
    const DemoPoint pulled{kRestX + kAmplitude, kRestY};
    const double gamma = 1.0 / kDecayTime;
    const double w0 = 2.0 * kPi / kPeriod;
    const double wd = std::sqrt(w0 * w0 - gamma * gamma);
    std::vector<Phase> phases;
    phases.push_back(Waiting("at rest", kRest, kZeroSet | kStarted, kPullDelay, StayAt(rest)));
    phases.push_back(Fixed("pulled aside", kPull, CarryTo(pulled, kPull)));
    phases.push_back(Fixed("held", kHold, StayPut()));
    // Released from rest: x = A e^(-gamma t) (cos wd t + gamma / wd sin wd t).
    phases.push_back(Waiting("vibrating", kVibrate, kStopped, kStopDelay, [=](double tau, DemoPoint) {
        const double x = kAmplitude * std::exp(-gamma * tau) * (std::cos(wd * tau) + gamma / wd * std::sin(wd * tau));
        return DemoPoint{rest.x + x, rest.y};
    }));
    phases.push_back(Fixed("stopped by hand", kStop, CarryTo(rest, kStop)));
    return std::make_unique<DemoScenario>("damped vibration", DemoFrame::Sensor, std::move(phases));
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
    const DemoPoint caught{end.x, end.y + kCatchDrop};
    std::vector<Phase> phases;
    phases.push_back(Waiting("held at the top", kHold, kStarted, kReleaseDelay, StayAt(top)));
    phases.push_back(Fixed("in the groove", grooveTime, [groove, top](double tau, DemoPoint) {
        const double phi = std::min(groove->At(tau).first, 0.5 * kPi);
        return DemoPoint{top.x + kRadius * std::sin(phi), top.y + kRadius * (1.0 - std::cos(phi))};
    }));
    // Leaves the groove moving straight down.
    phases.push_back(Fixed("dropping", dropTime, [end, endSpeed](double tau, DemoPoint) {
        return DemoPoint{end.x, end.y + endSpeed * tau + 0.5 * kGravity * tau * tau};
    }));
    phases.push_back(Waiting("in the catcher", kLie, kStopped, kCarryDelay, StayAt(caught)));
    phases.push_back(Fixed("carried back", kCarry, CarryTo(top, kCarry)));
    return std::make_unique<DemoScenario>("spherical track", DemoFrame::Turned, std::move(phases));
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
    const DemoPoint stop = track.At(track.Length());
    std::vector<Phase> phases;
    phases.push_back(Waiting("held at the start", kHold, kStarted, kReleaseDelay, StayAt(start)));
    phases.push_back(Fixed("running", runTime, [run, track](double tau, DemoPoint) {
        return track.At(run->At(tau).first);
    }));
    phases.push_back(Waiting("at the end stop", kRest, kStopped, kCarryDelay, StayAt(stop)));
    phases.push_back(Fixed("carried back", kCarry, CarryTo(start, kCarry)));
    return std::make_unique<DemoScenario>("centrifugal track", DemoFrame::Turned, std::move(phases));
}

std::unique_ptr<DemoScenario> RobotTrace()
{
    using namespace robot_trace;
    const DemoPoint start{kCentreX - kHalfWidth, kCentreY};
    std::vector<Phase> phases;
    phases.push_back(Waiting("waiting", kWait, kStarted, kStartDelay, StayAt(start)));
    phases.push_back(Running("driving", kLaps * kLapTime, [](double tau, DemoPoint) {
        const double a = 2.0 * kPi * tau / kLapTime;
        return DemoPoint{kCentreX - kHalfWidth * std::cos(a), kCentreY + kHalfHeight * std::sin(a)};
    }));
    return std::make_unique<DemoScenario>("robot trace", DemoFrame::Turned, std::move(phases));
}

std::unique_ptr<DemoScenario> Calibration()
{
    std::vector<Phase> phases;
    phases.push_back(Fixed("at the reference distances", kForever,
                           StayAt({calibration::kLeft, calibration::kRight})));
    return std::make_unique<DemoScenario>("calibration", DemoFrame::Distances, std::move(phases));
}

std::unique_ptr<DemoScenario> AtRest()
{
    std::vector<Phase> phases;
    phases.push_back(Fixed("at rest", kForever, StayAt({at_rest::kX, at_rest::kY})));
    return std::make_unique<DemoScenario>("at rest", DemoFrame::Turned, std::move(phases));
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

DemoScenario::DemoScenario(std::string name, DemoFrame frame, std::vector<Phase> phases)
    : name_(std::move(name)), frame_(frame), phases_(std::move(phases))
{
    if (phases_.empty())
        phases_.push_back(Fixed("at rest", kForever, StayAt(FromSensorFrame(frame_, ToSensorFrame(DemoFrame::Turned, {at_rest::kX, at_rest::kY})))));
    phaseFrom_ = phases_[0].motion(0.0, {});
}

double DemoScenario::PhaseEnd() const
{
    const Phase& phase = phases_[current_];
    double end;
    if (!cueDriven_) {
        end = phaseStart_ + phase.autoDuration;
    } else if (phase.waitCues != 0) {
        double arrival = -1.0;
        for (unsigned cue = 0; cue < 3; ++cue) {
            if ((phase.waitCues & (1u << cue)) && latched_[cue] >= 0.0 && (arrival < 0.0 || latched_[cue] < arrival))
                arrival = latched_[cue];
        }
        end = arrival < 0.0 ? kForever : std::max(arrival, phaseStart_) + phase.cueDelay;
    } else {
        end = phaseStart_ + phase.cueDuration;
    }
    // A switch to cues can shorten the current phase; it still cannot end before the time already shown.
    return std::max(end, lastTime_);
}

void DemoScenario::Advance(double t)
{
    // Bounded, so that a scenario of only zero-length phases cannot spin; real phases last at least
    // a fraction of a second, and the sensor advances 20 ms at a time.
    for (int guard = 0; guard < 100000; ++guard) {
        const double end = PhaseEnd();
        if (!(end <= t))
            break;
        Phase& phase = phases_[current_];
        phaseFrom_ = phase.motion(end - phaseStart_, phaseFrom_);
        // The helper acted on what the pupil did; older news is spent with it.
        if (cueDriven_ && phase.waitCues != 0)
            std::fill(std::begin(latched_), std::end(latched_), -1.0);
        current_ = (current_ + 1) % phases_.size();
        phaseStart_ = end;
        lastTime_ = end;
    }
}

DemoPoint DemoScenario::Position(double t)
{
    t = std::max(t, lastTime_);
    Advance(t);
    lastTime_ = t;
    return phases_[current_].motion(t - phaseStart_, phaseFrom_);
}

void DemoScenario::Cue(DemoCue cue, double t)
{
    const auto index = static_cast<unsigned>(cue);
    if (index >= 3)
        return;
    t = std::max(t, lastTime_);
    Advance(t);
    lastTime_ = t;
    cueDriven_ = true;
    latched_[index] = t;
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
        return Calibration();
    default:
        return AtRest();
    }
}

}  // namespace zelkor::device
