#pragma once
// The platform's side of the sensor link: the device interfaces of the sensor's class and the files
// (device and pipes) opened on them. CUsbIF runs its open sequence and transfers on top of this; the
// backends are libusb (a real sensor), the demo sensor, and scripted fakes in the tests.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelkor::device {

// The sensor's device interface class; device paths end with it.
inline constexpr const char* kSensorInterfaceClass = "{37538C66-9584-42D3-9632-EBAD0A230D13}";
inline constexpr const char* kReadPipeName = "PIPE00";   // device to host
inline constexpr const char* kWritePipeName = "PIPE01";  // host to device

// One open file of the platform: the device itself or one of its pipes.
class UsbFile {
public:
    virtual ~UsbFile() = default;
    // Blocks until the device has taken the bytes. False when the transfer failed.
    virtual bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) = 0;
    // Blocks until the device delivers one transfer, which may be shorter than `length`.
    // False when the transfer failed or the file was cancelled.
    virtual bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& read) = 0;
    // Makes a blocked Read return false at once, and every later Read and Write too.
    // Safe to call from any thread while another thread is inside Read or Write.
    virtual void Cancel() = 0;
};

// The present device interfaces of the sensor's class, by member index 0, 1, 2, ...
class UsbPlatform {
public:
    enum class Enum { Ok, NoMoreItems, Error };

    virtual ~UsbPlatform() = default;
    // The device path of the interface with this member index. Device paths have the form
    // bus#hardware id#instance id#interface class.
    virtual Enum DevicePath(int memberIndex, std::string& path) = 0;
    // Opens a device path, or a pipe path (the device path, a backslash and the pipe name).
    // nullptr when it cannot be opened.
    virtual std::unique_ptr<UsbFile> Open(const std::string& path) = 0;
};

}  // namespace zelkor::device
