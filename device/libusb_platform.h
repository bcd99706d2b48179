#pragma once
// The pieces of the libusb backend that decide things without touching a device: which devices are
// sensors, how their device paths are written and read back, and which interface carries the two bulk
// pipes. MakeLibusbPlatform (sensor_platform.h) builds on them.

#include "sensor_platform.h"

#include <libusb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::device {

// Where a device sits: its bus and the chain of hub ports down to it (1 to 7 ports).
struct UsbLocation {
    std::uint8_t bus = 0;
    std::vector<std::uint8_t> ports;
    friend auto operator<=>(const UsbLocation&, const UsbLocation&) = default;
};

inline constexpr std::size_t kMaxUsbPortDepth = 7;

// True only for a vendor:product pair in `ids`; an empty list matches nothing.
bool IsListedSensor(std::uint16_t vendor, std::uint16_t product, const std::vector<UsbId>& ids);

// "usb#vid_XXXX&pid_YYYY#<bus>-<port>.<port>...#{class}": the instance id (between the second and the
// last '#') names the port, so it stays the same while the sensor stays plugged into it.
std::string ComposeLibusbPath(UsbId id, const UsbLocation& where);

enum class LibusbPipe { None, Read, Write };

struct LibusbPath {
    UsbId id;
    UsbLocation where;
    LibusbPipe pipe = LibusbPipe::None;
};
// A device path from ComposeLibusbPath, optionally followed by "\PIPE00" or "\PIPE01"; nullopt for
// anything else.
std::optional<LibusbPath> ParseLibusbPath(std::string_view path);

struct BulkInterface {
    int interfaceNumber = 0;
    std::uint8_t inEndpoint = 0;
    std::uint8_t outEndpoint = 0;
    std::uint16_t inMaxPacket = 0;
};
// The first interface (first alternate setting) with both a bulk IN and a bulk OUT endpoint.
std::optional<BulkInterface> FindBulkInterface(const libusb_config_descriptor& config);

}  // namespace zelkor::device
