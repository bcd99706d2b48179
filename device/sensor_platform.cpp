#include "sensor_platform.h"

#include <mutex>

namespace zelkor::device {

namespace {

std::mutex g_platformMutex;
std::shared_ptr<UsbPlatform> g_platform;

std::optional<std::uint16_t> ParseHex4(std::string_view text)
{
    if (text.size() != 4)
        return std::nullopt;
    std::uint16_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    return value;
}

}  // namespace

std::optional<UsbId> ParseUsbId(std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const auto vendor = ParseHex4(text.substr(0, colon));
    const auto product = ParseHex4(text.substr(colon + 1));
    if (!vendor || !product)
        return std::nullopt;
    return UsbId{*vendor, *product};
}

std::vector<UsbId> CompiledSensorIds()
{
    std::vector<UsbId> ids;
    const std::string_view all = ZELKOR2D_SENSOR_USB_IDS;
    std::size_t pos = 0;
    while (pos < all.size()) {
        const auto end = all.find_first_of("; ,\t", pos);
        const auto item = all.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        if (const auto id = ParseUsbId(item))
            ids.push_back(*id);
        if (end == std::string_view::npos)
            break;
        pos = end + 1;
    }
    return ids;
}

void SetSensorPlatform(std::shared_ptr<UsbPlatform> platform)
{
    std::lock_guard lock(g_platformMutex);
    g_platform = std::move(platform);
}

std::shared_ptr<UsbPlatform> SensorPlatform()
{
    std::lock_guard lock(g_platformMutex);
    if (!g_platform)
        g_platform = MakeLibusbPlatform(CompiledSensorIds());
    return g_platform;
}

}  // namespace zelkor::device
