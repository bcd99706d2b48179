#pragma once
// The bytes on the sensor link: identify, start and calibrate commands, the identify reply and the
// 64-byte data reports. Data reports carry big-endian floats, the calibration command a little-endian one.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zelkor::device {

class CUsbIF;

inline constexpr std::size_t kCommandSize = 64;
inline constexpr std::size_t kCalibrationCommandSize = 11;
inline constexpr std::size_t kIdentifyReplySize = 10;
inline constexpr std::size_t kIdentifyReadSize = 248;
inline constexpr std::size_t kReportSize = 64;

// Every command: frame start, L, L, frame start, command byte, payload, trailer.
inline constexpr std::uint8_t kFrameStart = 0x68;
inline constexpr std::uint8_t kTrailer0 = 0xEB;
inline constexpr std::uint8_t kTrailer1 = 0x90;
inline constexpr std::uint8_t kCommandStart = 0x00;
inline constexpr std::uint8_t kCommandIdentify = 0x01;

// Byte offsets in a data report.
inline constexpr std::size_t kReportStatusOffset = 4;
inline constexpr std::size_t kReportLeftOffset = 5;
inline constexpr std::size_t kReportRightOffset = 9;
inline constexpr std::size_t kReportTemperatureOffset = 13;
inline constexpr std::size_t kReportIntervalOffset = 17;

enum class CalibrationCode : std::uint8_t { Temperature = 3, LeftDistance = 4, RightDistance = 5 };

std::array<std::uint8_t, kCommandSize> IdentifyCommand();
std::array<std::uint8_t, kCommandSize> StartCommand();
std::array<std::uint8_t, kCalibrationCommandSize> CalibrationCommand(CalibrationCode code, float value);

// Two BCD digits read as a number with one decimal: 0x12 is 1.2.
float DecodeVersionByte(std::uint8_t b);

struct SensorVersions {
    float first = 0.0f;
    float second = 0.0f;
};
// A reply of exactly 10 bytes with byte 1 = 0x03, byte 4 = 0x01 and byte 5 = 0x02; nullopt otherwise.
std::optional<SensorVersions> ParseIdentifyReply(const std::uint8_t* reply, std::size_t length);

// Reports carry the time field only when the second version number is above 1.0.
inline bool HasTimeField(float secondVersion) { return secondVersion > 1.0f; }

// The sensor reports 50 times a second.
inline constexpr float kNominalReportIntervalUs = 20000.0f;
inline constexpr float kMaxReportIntervalUs = 1000000.0f;

// A time field that cannot be the time since the previous report (NaN, zero or subnormal, negative, or
// more than a second) counts as absent for that report, and the report stands for the nominal 20 ms instead.
// Summed over the reports that one delivered sample covers, that is the nominal step of the sampling
// frequency (N reports, N x 20 ms), so one bad field neither poisons the running time with NaN nor
// stretches it.
float CheckedIntervalUs(float fieldUs);

struct DataReport {
    std::uint8_t status = 0;          // 0 for a measurement
    float leftMm = 0.0f;              // transmitter to left receiver
    float rightMm = 0.0f;             // transmitter to right receiver
    float temperatureC = 0.0f;
    std::optional<float> intervalUs;  // time since the previous report (checked), with the time field only
};
DataReport DecodeReport(const std::array<std::uint8_t, kReportSize>& report, bool withTimeField);

float ReadFloatBigEndian(const std::uint8_t* bytes);

// On the link: write the command (and for Identify read the reply). True on success.
bool Identify(CUsbIF& link);  // stores both version numbers in the link
bool Start(CUsbIF& link);
bool Calibrate(CUsbIF& link, CalibrationCode code, float value);

}  // namespace zelkor::device
