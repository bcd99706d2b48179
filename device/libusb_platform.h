#pragma once
// The pieces of the libusb backend that decide things without touching a device: which devices are
// sensors, how their device paths are written and read back, and which interface carries the two bulk
// pipes. MakeLibusbPlatform (sensor_platform.h) builds on them.

#include "sensor_platform.h"

#include <libusb.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
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

// Each blocking transfer call is cut into slices this long, so that a cancel takes effect quickly.
inline constexpr unsigned kBulkSliceMs = 30;

// A bulk IN endpoint as the read logic sees it. `transfer` keeps libusb_bulk_transfer's contract:
// 0 when the transfer completed (all asked for, or ended by a short packet), else a LIBUSB_ERROR
// code, with `transferred` filled on a time-out too; `clearHalt` clears a stall.
struct BulkInEndpoint {
    std::function<int(unsigned char* data, int length, int* transferred, unsigned timeoutMs)> transfer;
    std::function<void()> clearHalt;
    std::size_t packetSize = 0;
    const std::atomic<bool>* cancelled = nullptr;
};

// One read of the pipe: one USB transfer of up to `length` bytes (asked for rounded up to whole
// packets, so that no packet can overflow it), however many packets it takes, ended by a short
// packet or the full length. Slices that time out carry on where they stopped, so a report cut by a
// slice is not split. False when cancelled, on a transfer error, on a stall (after clearing the
// halt, so the next read can work), or when the device sent more than `length` bytes.
bool ReadBulkTransfer(const BulkInEndpoint& endpoint, std::uint8_t* buffer, std::size_t length, std::size_t& read);

}  // namespace zelkor::device
