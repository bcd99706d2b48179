#include "sensor_protocol.h"

#include "usb_if.h"

#include <bit>
#include <limits>

namespace zelkor::device {

namespace {

std::array<std::uint8_t, kCommandSize> ShortCommand(std::uint8_t command)
{
    std::array<std::uint8_t, kCommandSize> bytes{};
    bytes[0] = kFrameStart;
    bytes[1] = 0x00;
    bytes[2] = 0x00;
    bytes[3] = kFrameStart;
    bytes[4] = command;
    bytes[5] = kTrailer0;
    bytes[6] = kTrailer1;
    return bytes;
}

// A command counts as sent only when the device took all of it.
bool WriteAll(CUsbIF& link, const std::uint8_t* data, std::size_t length)
{
    std::size_t written = 0;
    return link.Write(link.WritePipe(), data, length, &written) == CUsbIF::kOk && written == length;
}

}  // namespace

std::array<std::uint8_t, kCommandSize> IdentifyCommand()
{
    return ShortCommand(kCommandIdentify);
}

std::array<std::uint8_t, kCommandSize> StartCommand()
{
    return ShortCommand(kCommandStart);
}

std::array<std::uint8_t, kCalibrationCommandSize> CalibrationCommand(CalibrationCode code, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    return {kFrameStart,
            static_cast<std::uint8_t>(kCalibrationCommandSize),
            static_cast<std::uint8_t>(kCalibrationCommandSize),
            kFrameStart,
            static_cast<std::uint8_t>(code),
            static_cast<std::uint8_t>(bits & 0xFFu),
            static_cast<std::uint8_t>((bits >> 8) & 0xFFu),
            static_cast<std::uint8_t>((bits >> 16) & 0xFFu),
            static_cast<std::uint8_t>((bits >> 24) & 0xFFu),
            kTrailer0,
            kTrailer1};
}

float DecodeVersionByte(std::uint8_t b)
{
    const int number = (b >> 4) * 10 + (b & 0x0F);
    return static_cast<float>(number) / 10.0f;
}

std::optional<SensorVersions> ParseIdentifyReply(const std::uint8_t* reply, std::size_t length)
{
    if (!reply || length != kIdentifyReplySize)
        return std::nullopt;
    if (reply[1] != 0x03 || reply[4] != kCommandIdentify || reply[5] != 0x02)
        return std::nullopt;
    return SensorVersions{DecodeVersionByte(reply[6]), DecodeVersionByte(reply[7])};
}

float ReadFloatBigEndian(const std::uint8_t* bytes)
{
    const std::uint32_t bits = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                               (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    return std::bit_cast<float>(bits);
}

float CheckedIntervalUs(float fieldUs)
{
    // Written so that NaN fails the test too. A subnormal field is no time either: in seconds it would
    // round to a zero interval.
    return fieldUs >= std::numeric_limits<float>::min() && fieldUs <= kMaxReportIntervalUs ? fieldUs
                                                                                          : kNominalReportIntervalUs;
}

DataReport DecodeReport(const std::array<std::uint8_t, kReportSize>& report, bool withTimeField)
{
    DataReport decoded;
    decoded.status = report[kReportStatusOffset];
    decoded.leftMm = ReadFloatBigEndian(&report[kReportLeftOffset]);
    decoded.rightMm = ReadFloatBigEndian(&report[kReportRightOffset]);
    decoded.temperatureC = ReadFloatBigEndian(&report[kReportTemperatureOffset]);
    if (withTimeField)
        decoded.intervalUs = CheckedIntervalUs(ReadFloatBigEndian(&report[kReportIntervalOffset]));
    return decoded;
}

bool Identify(CUsbIF& link)
{
    const auto command = IdentifyCommand();
    if (!WriteAll(link, command.data(), command.size()))
        return false;
    std::array<std::uint8_t, kIdentifyReadSize> reply{};
    std::size_t read = 0;
    if (!link.Read(reply.size(), reply.data(), &read))
        return false;
    const auto versions = ParseIdentifyReply(reply.data(), read);
    if (!versions)
        return false;
    link.firstVersion.store(versions->first);
    link.secondVersion.store(versions->second);
    return true;
}

bool Start(CUsbIF& link)
{
    const auto command = StartCommand();
    return WriteAll(link, command.data(), command.size());
}

bool Calibrate(CUsbIF& link, CalibrationCode code, float value)
{
    const auto command = CalibrationCommand(code, value);
    return WriteAll(link, command.data(), command.size());
}

}  // namespace zelkor::device
