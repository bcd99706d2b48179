#pragma once
// CUsbIF: the host side of the USB link to the sensor. Finds the sensor among the device interfaces of
// its class, opens the device and its two pipes, moves blocks of 1 to 4096 bytes, and closes again.
// It knows nothing of what the blocks mean (sensor_protocol.h does).

#include "sensor_platform.h"
#include "usb_platform.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zelkor::device {

class CUsbIF {
public:
    // Result codes of the transport operations, in the order they are tested.
    static constexpr int kOk = 0;
    static constexpr int kInvalidHandle = 1;  // pipe not open, or no output argument
    static constexpr int kWriteFailed = 4;
    static constexpr int kBadLength = 7;       // length outside 1 to 4096
    static constexpr int kNoDevice = 255;      // no device present, or it cannot be opened
    static constexpr std::size_t kMinTransfer = 1;
    static constexpr std::size_t kMaxTransfer = 4096;
    static constexpr int kMaxMemberIndex = 126;
    static constexpr std::size_t kPathBufferSize = 256;  // device path and pipe component, with terminator

    // Shown when a pipe cannot be opened; the host ends after the user has dismissed it.
    // The texts are the full messages with the pipe name filled in (UTF-8).
    using PipeFailureHandler = std::function<void(const std::string& message)>;
    static void SetPipeFailureHandler(PipeFailureHandler handler);

    explicit CUsbIF(std::shared_ptr<UsbPlatform> platform = SensorPlatform());
    ~CUsbIF();
    CUsbIF(const CUsbIF&) = delete;
    CUsbIF& operator=(const CUsbIF&) = delete;

    int CountDevices(int* count);
    int InstanceId(int memberIndex, std::string* id);
    int OpenDevice(int memberIndex, std::unique_ptr<UsbFile>* device);
    // Write on a pipe of this link (normally WritePipe()).
    int Write(UsbFile* pipe, const std::uint8_t* data, std::size_t length, std::size_t* written);
    // Read one transfer from the read pipe.
    bool Read(std::size_t length, std::uint8_t* buffer, std::size_t* read);

    // The whole open sequence; serialised, so the worker and a start command may both call it.
    bool OpenLink();
    void CloseLink();
    // Ends a read blocked on the link and refuses every later transfer; for closing the window.
    void Cancel();

    bool IsConnected() const { return connected_.load(); }
    UsbFile* WritePipe() const { return writePipe_.get(); }
    const std::string& InstanceIdentifier() const { return instanceId_; }
    int DeviceIndex() const { return deviceIndex_; }

    // Filled by identification (sensor_protocol.h).
    std::atomic<float> firstVersion{0.0f};
    std::atomic<float> secondVersion{0.0f};

private:
    std::shared_ptr<UsbPlatform> platform_;
    std::mutex openMutex_;  // open, close and cancel; transfers stay on the worker thread without it
    std::atomic<bool> connected_{false};
    std::atomic<bool> cancelled_{false};
    int deviceIndex_ = 0;
    std::string instanceId_;
    std::unique_ptr<UsbFile> device_;
    std::unique_ptr<UsbFile> writePipe_;
    std::unique_ptr<UsbFile> readPipe_;
};

}  // namespace zelkor::device
