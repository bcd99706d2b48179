#pragma once
// Which backend serves the sensor link in this process. The host picks it once at start-up.

#include "usb_platform.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace zelkor::device {

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    friend bool operator==(const UsbId&, const UsbId&) = default;
};

// "vvvv:pppp", four hexadecimal digits each; nullopt for anything else.
std::optional<UsbId> ParseUsbId(std::string_view text);
// The ids compiled in (CMake cache variable ZELKOR2D_SENSOR_USB_IDS).
std::vector<UsbId> CompiledSensorIds();

// A real sensor through libusb: only devices whose ids are in `ids` are ever listed or opened.
std::shared_ptr<UsbPlatform> MakeLibusbPlatform(std::vector<UsbId> ids);

// The platform every new CUsbIF uses. Until one is set: libusb with the compiled ids.
void SetSensorPlatform(std::shared_ptr<UsbPlatform> platform);
std::shared_ptr<UsbPlatform> SensorPlatform();

}  // namespace zelkor::device
