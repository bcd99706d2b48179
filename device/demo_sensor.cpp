#include "demo_sensor.h"

#include "sensor_protocol.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

namespace zelkor::device {

namespace {

constexpr std::uint8_t kCalibrationLength = 0x0B;
constexpr std::size_t kShortCommandLength = 7;
// Behind by more than this, the sensor's measurements in between are skipped rather than replayed one by one
// (after a suspended computer, say); the scenario still moves on by the whole gap.
constexpr std::chrono::seconds kLongestCatchUp{60};

void PutFloatBigEndian(std::uint8_t* out, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    out[0] = static_cast<std::uint8_t>(bits >> 24);
    out[1] = static_cast<std::uint8_t>(bits >> 16);
    out[2] = static_cast<std::uint8_t>(bits >> 8);
    out[3] = static_cast<std::uint8_t>(bits);
}

float GetFloatBigEndian(const std::uint8_t* in)
{
    return std::bit_cast<float>((std::uint32_t{in[0]} << 24) | (std::uint32_t{in[1]} << 16) |
                                (std::uint32_t{in[2]} << 8) | std::uint32_t{in[3]});
}

float GetFloatLittleEndian(const std::uint8_t* in)
{
    const std::uint32_t bits = std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
                               (std::uint32_t{in[3]} << 24);
    return std::bit_cast<float>(bits);
}

}  // namespace

std::uint64_t DemoRandom::Next()
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double DemoRandom::Uniform()
{
    return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double DemoRandom::Normal()
{
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    double u, v, s;
    do {
        u = 2.0 * Uniform() - 1.0;
        v = 2.0 * Uniform() - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double m = std::sqrt(-2.0 * std::log(s) / s);
    spare_ = v * m;
    haveSpare_ = true;
    return u * m;
}

DemoSensor::DemoSensor(std::unique_ptr<DemoScenario> scenario, DemoPacing pacing, std::uint64_t seed)
    : scenario_(scenario ? std::move(scenario) : MakeDemoScenario(-1)),
      pacing_(pacing),
      random_(seed),
      nextSlot_(Clock::now() + kDemoReportPeriod)
{
    detail::RegisterDemoSensor(this);
}

DemoSensor::~DemoSensor()
{
    detail::UnregisterDemoSensor(this);
}

bool DemoSensor::FileUsable(std::uint64_t generation, const std::atomic<bool>& cancelled) const
{
    return plugged_ && generation == generation_ && !cancelled.load();
}

bool DemoSensor::Plugged() const
{
    std::lock_guard lock(mutex_);
    return plugged_;
}

bool DemoSensor::LookUp()
{
    std::lock_guard lock(mutex_);
    if (!plugged_)
        ++missedLookUps_;
    return plugged_;
}

std::uint64_t DemoSensor::Generation() const
{
    std::lock_guard lock(mutex_);
    return plugged_ ? generation_ : 0;
}

void DemoSensor::WakeReaders()
{
    std::lock_guard lock(mutex_);
    wake_.notify_all();
}

bool DemoSensor::HostWrite(const std::uint8_t* data, std::size_t length, std::size_t& written,
                           std::uint64_t generation, const std::atomic<bool>& cancelled)
{
    written = 0;
    std::lock_guard lock(mutex_);
    if (!FileUsable(generation, cancelled))
        return false;
    if (pacing_ == DemoPacing::RealTime)
        CatchUp(Clock::now());
    if (data && length > 0) {
        commands_.emplace_back(data, data + length);
        if (commands_.size() > kDemoRecordedCommands)
            commands_.pop_front();
        ParseCommand(data, length);
    }
    written = length;
    wake_.notify_all();
    return true;
}

bool DemoSensor::HostRead(std::uint8_t* buffer, std::size_t length, std::size_t& read, std::uint64_t generation,
                          const std::atomic<bool>& cancelled)
{
    read = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!FileUsable(generation, cancelled))
            return false;
        if (pacing_ == DemoPacing::RealTime)
            CatchUp(Clock::now());
        if (!stopped_) {
            if (!outgoing_.empty()) {
                const bool isReport = outgoing_.front().report;
                Transfer transfer = std::move(outgoing_.front().bytes);
                outgoing_.pop_front();
                // More than the host asked for is an overflow: the transfer is lost and the read fails.
                if (transfer.size() > length || (!buffer && !transfer.empty()))
                    return false;
                if (!transfer.empty())
                    std::memcpy(buffer, transfer.data(), transfer.size());
                read = transfer.size();
                if (isReport) {
                    ++reportsSent_;
                    if (keepSent_ && read >= kReportRightOffset + 4)
                        sent_.push_back({reportsSent_, GetFloatBigEndian(&buffer[kReportLeftOffset]),
                                         GetFloatBigEndian(&buffer[kReportRightOffset])});
                }
                return true;
            }
            if (pacing_ == DemoPacing::Unpaced) {
                if (!streaming_)
                    return false;
                if (BeyondLimit()) {
                    ++waitingAtLimit_;
                    wake_.wait(lock);
                    --waitingAtLimit_;
                    continue;
                }
                Tick();
                continue;
            }
            wake_.wait_until(lock, nextSlot_);
        } else {
            wake_.wait(lock);
        }
    }
}

void DemoSensor::ParseCommand(const std::uint8_t* data, std::size_t length)
{
    // Anything that is not a whole frame is ignored, as the sensor does with line noise.
    if (length < kShortCommandLength || data[0] != kFrameStart || data[3] != kFrameStart || data[1] != data[2])
        return;
    if (data[1] == 0x00) {
        if (data[5] != kTrailer0 || data[6] != kTrailer1)
            return;
        if (data[4] == kCommandIdentify) {
            streaming_ = false;
            outgoing_.clear();
            Transfer reply(kDemoIdentifyReply.begin(), kDemoIdentifyReply.end());
            if (identifyFaults_ > 0) {
                --identifyFaults_;
                switch (identifyFault_) {
                case DemoIdentifyFault::WrongCode:
                    reply[5] = 0x01;
                    break;
                case DemoIdentifyFault::Truncated:
                    reply.resize(6);
                    break;
                case DemoIdentifyFault::StaleReport: {
                    const auto report = MeasureReport(static_cast<float>(kDemoIntervalUs));
                    outgoing_.push_back({Transfer(report.begin(), report.end()), true});
                    break;
                }
                }
            }
            outgoing_.push_back({std::move(reply), false});
        } else if (data[4] == kCommandStart) {
            streaming_ = true;
        }
        return;
    }
    if (data[1] == kCalibrationLength && length >= kCalibrationLength) {
        const std::uint8_t code = data[4];
        if (code < 3 || code > 5 || data[9] != kTrailer0 || data[10] != kTrailer1)
            return;
        calibrations_.push_back({code, GetFloatLittleEndian(&data[5])});
        ApplyCalibration(calibrations_.back());
    }
}

double DemoSensor::SoundScale() const
{
    // The speed of sound grows with the square root of the absolute temperature.
    constexpr double kZeroCelsius = 273.15;
    return std::sqrt((kZeroCelsius + airTakenC_) / (kZeroCelsius + kDemoTemperatureC));
}

void DemoSensor::ApplyCalibration(const DemoCalibration& calibration)
{
    const DemoPoint p = ToSensorFrame(scenario_->Frame(), scenario_->Position(ScenarioTimeLocked()));
    const double value = calibration.value;
    switch (calibration.code) {
    case 3:
        airTakenC_ = value;
        break;
    case 4:
        leftOffsetMm_ = value - LeftDistance(p) * 1000.0 * SoundScale();
        break;
    case 5:
        rightOffsetMm_ = value - RightDistance(p) * 1000.0 * SoundScale();
        break;
    default:
        break;
    }
}

std::array<std::uint8_t, kDemoReportSize> DemoSensor::MeasureReport(float intervalUs)
{
    latestPosition_ = scenario_->Position(ScenarioTimeLocked());
    latestPhase_ = &scenario_->PhaseName();
    const DemoPoint p = ToSensorFrame(scenario_->Frame(), latestPosition_);
    const double common = random_.Normal() * kDemoCommonNoiseMm;
    const double scale = SoundScale();
    const double left = LeftDistance(p) * 1000.0 * scale + leftOffsetMm_ + common + random_.Normal() * kDemoOwnNoiseMm;
    const double right = RightDistance(p) * 1000.0 * scale + rightOffsetMm_ + common + random_.Normal() * kDemoOwnNoiseMm;
    const double temperature = airTakenC_ + random_.Normal() * kDemoTemperatureNoiseC;

    std::array<std::uint8_t, kDemoReportSize> report{};
    report[kReportStatusOffset] = 0;
    PutFloatBigEndian(&report[kReportLeftOffset], static_cast<float>(left));
    PutFloatBigEndian(&report[kReportRightOffset], static_cast<float>(right));
    PutFloatBigEndian(&report[kReportTemperatureOffset], static_cast<float>(temperature));
    PutFloatBigEndian(&report[kReportIntervalOffset], intervalUs);
    return report;
}

void DemoSensor::Tick()
{
    // The interval is drawn first so that the measurement belongs to the moment it reports.
    const double jitter =
        std::clamp(random_.Normal() * kDemoIntervalJitterUs, -kDemoIntervalJitterMaxUs, kDemoIntervalJitterMaxUs);
    const auto intervalUs = static_cast<float>(kDemoIntervalUs + jitter);
    time_ += static_cast<double>(intervalUs) * 1e-6;
    const auto report = MeasureReport(intervalUs);

    if (!streaming_ || !plugged_ || stopped_)
        return;  // measured all the same: the motion and the noise go on whether anyone listens
    Transfer transfer(report.begin(), report.end());
    if (noTriangle_ > 0) {
        // Alternately too short for the baseline and too lopsided for it.
        const float right = (noTriangle_ % 2 == 1) ? 30.0f : 400.0f;
        const float left = (noTriangle_ % 2 == 1) ? 30.0f : right + static_cast<float>(demo::kBaseline * 1000.0) + 20.0f;
        PutFloatBigEndian(&transfer[kReportLeftOffset], left);
        PutFloatBigEndian(&transfer[kReportRightOffset], right);
        --noTriangle_;
    }
    if (badStatus_ > 0) {
        transfer[kReportStatusOffset] = badStatusValue_;
        --badStatus_;
    }
    if (shortTransfers_ > 0) {
        transfer.resize(std::min(shortLength_, transfer.size()));
        --shortTransfers_;
    }
    outgoing_.push_back({std::move(transfer), true});
    while (outgoing_.size() > kDemoBufferedReports)
        outgoing_.pop_front();
}

void DemoSensor::CatchUp(Clock::time_point now)
{
    if (now - nextSlot_ > kLongestCatchUp) {
        const auto behind = (now - nextSlot_) / kDemoReportPeriod;
        time_ += static_cast<double>(behind) * kDemoIntervalUs * 1e-6;
        nextSlot_ += behind * kDemoReportPeriod;
    }
    while (now >= nextSlot_) {
        Tick();
        nextSlot_ += kDemoReportPeriod;
    }
}

double DemoSensor::ScenarioTimeLocked() const
{
    return clockStart_ < 0.0 ? 0.0 : time_ - clockStart_;
}

bool DemoSensor::BeyondLimit() const
{
    // The next report would be measured about one period later; half a period of room keeps the jitter
    // of the intervals from taking or giving one report.
    return time_ + 0.5 * kDemoIntervalUs * 1e-6 > limit_;
}

void DemoSensor::Cue(DemoCue cue)
{
    std::lock_guard lock(mutex_);
    if (pacing_ == DemoPacing::RealTime)
        CatchUp(Clock::now());
    if (cue == DemoCue::AcquisitionStarted && clockStart_ < 0.0)
        clockStart_ = time_;
    scenario_->Cue(cue, ScenarioTimeLocked());
}

void DemoSensor::PauseClock()
{
    std::lock_guard lock(mutex_);
    limit_ = time_;
}

void DemoSensor::RunFor(double seconds)
{
    std::lock_guard lock(mutex_);
    limit_ = (limit_ == kForever ? time_ : limit_) + seconds;
    wake_.notify_all();
}

bool DemoSensor::WaitingAtLimit() const
{
    std::lock_guard lock(mutex_);
    return waitingAtLimit_ > 0 && outgoing_.empty() && BeyondLimit();
}

void DemoSensor::InjectNoTriangle(int reports)
{
    std::lock_guard lock(mutex_);
    noTriangle_ = std::max(reports, 0);
}

void DemoSensor::InjectStatus(std::uint8_t status, int reports)
{
    std::lock_guard lock(mutex_);
    badStatusValue_ = status;
    badStatus_ = std::max(reports, 0);
}

void DemoSensor::InjectShortTransfer(std::size_t bytes, int reports)
{
    std::lock_guard lock(mutex_);
    shortLength_ = bytes;
    shortTransfers_ = std::max(reports, 0);
}

void DemoSensor::InjectIdentifyFault(DemoIdentifyFault fault, int replies)
{
    std::lock_guard lock(mutex_);
    identifyFault_ = fault;
    identifyFaults_ = std::max(replies, 0);
}

void DemoSensor::StopSending()
{
    std::lock_guard lock(mutex_);
    stopped_ = true;
    wake_.notify_all();
}

void DemoSensor::ResumeSending()
{
    std::lock_guard lock(mutex_);
    stopped_ = false;
    wake_.notify_all();
}

void DemoSensor::Unplug()
{
    std::lock_guard lock(mutex_);
    plugged_ = false;
    streaming_ = false;
    outgoing_.clear();
    wake_.notify_all();
}

void DemoSensor::PlugIn()
{
    std::lock_guard lock(mutex_);
    if (plugged_)
        return;
    plugged_ = true;
    ++generation_;  // files of the previous attachment stay dead
    streaming_ = false;
    stopped_ = false;
    outgoing_.clear();
    wake_.notify_all();
}

std::uint64_t DemoSensor::MissedLookUps() const
{
    std::lock_guard lock(mutex_);
    return missedLookUps_;
}

void DemoSensor::KeepSentReports(bool keep)
{
    std::lock_guard lock(mutex_);
    keepSent_ = keep;
    if (!keep)
        sent_.clear();
}

std::vector<DemoSentReport> DemoSensor::TakeSentReports()
{
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
}

DemoMeasurement DemoSensor::LatestMeasurement() const
{
    std::lock_guard lock(mutex_);
    return {ScenarioTimeLocked(), latestPosition_, latestPhase_ ? *latestPhase_ : std::string()};
}

std::vector<DemoCalibration> DemoSensor::Calibrations() const
{
    std::lock_guard lock(mutex_);
    return calibrations_;
}

std::vector<std::vector<std::uint8_t>> DemoSensor::Commands() const
{
    std::lock_guard lock(mutex_);
    return {commands_.begin(), commands_.end()};
}

bool DemoSensor::Streaming() const
{
    std::lock_guard lock(mutex_);
    return streaming_;
}

double DemoSensor::SensorTime() const
{
    std::lock_guard lock(mutex_);
    return time_;
}

double DemoSensor::ScenarioTime() const
{
    std::lock_guard lock(mutex_);
    return ScenarioTimeLocked();
}

std::uint64_t DemoSensor::ReportsSent() const
{
    std::lock_guard lock(mutex_);
    return reportsSent_;
}

}  // namespace zelkor::device
