#pragma once
// A scripted sensor platform for tests: attached devices by path, open failures on demand, every write
// recorded per pipe, and a queue of read results (exact bytes, short transfers, failures). Reads block
// until something is queued or the file is cancelled, unless failing at once on an empty queue is
// asked for. Thread-safe: a test may script from one thread while a worker reads in another.

#include "device/usb_platform.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelkor::testing {

class ScriptedPlatform : public device::UsbPlatform {
public:
    using Bytes = std::vector<std::uint8_t>;
    // Called after each recorded write (outside the platform's lock, so it may queue reads): lets a
    // test answer commands the way a sensor would.
    using WriteHook = std::function<void(const std::string& pipePath, const Bytes& bytes)>;

    ScriptedPlatform();
    ~ScriptedPlatform() override;

    // A device path of the usual form bus#hardware id#instance id#class, with the sensor's class.
    static std::string MakeDevicePath(const std::string& instanceId);
    static std::string PipePath(const std::string& devicePath, const char* pipeName);

    // Attached devices, in member-index order.
    void SetDevices(std::vector<std::string> devicePaths);
    void AddDevice(const std::string& devicePath);

    // Opening this exact path (a device path or a pipe path) fails.
    void FailOpen(const std::string& path, bool fail = true);

    // Read results, served in order to reads on any read pipe ("...\PIPE00"). A result longer than the
    // length asked is cut to it.
    void QueueRead(Bytes bytes);
    void QueueReadFailure();
    // With an empty queue a read fails at once instead of blocking (single-threaded tests never hang).
    void SetFailReadsWhenEmpty(bool fail);
    std::size_t PendingReads() const;

    // Packets of this size (0: off) on the read pipe, read through the libusb backend's transfer logic
    // (device::ReadBulkTransfer) over an emulated bulk endpoint. Each queued result is then what the
    // device sends, in packets: the last one short unless the length is a whole number of packets
    // (an empty result is one zero-length packet), so a read may gather several results or end
    // inside one. Set it before queueing.
    void SetReadPacketSize(std::size_t packetSize);
    // With packets: the endpoint stalls here; transfers fail until the halt is cleared.
    void QueueReadStall();
    int ClearedHalts() const;

    // Writes fail from now on (nothing is recorded); a short write takes only the first `limit` bytes.
    void SetWritesFail(bool fail);
    void SetWriteLimit(std::size_t limit);
    void SetWriteHook(WriteHook hook);

    // What was written to this pipe path, one entry per successful write, in order.
    std::vector<Bytes> Writes(const std::string& pipePath) const;
    // Every path opened successfully, in order, and how many files are open on a path right now.
    std::vector<std::string> OpenedPaths() const;
    int OpenFiles(const std::string& path) const;
    int OpenFiles() const;

    // Waits until a read is blocked on an empty queue; false on timeout.
    bool WaitForBlockedRead(std::chrono::milliseconds timeout) const;

    Enum DevicePath(int memberIndex, std::string& path) override;
    std::unique_ptr<device::UsbFile> Open(const std::string& path) override;

    struct State;

private:
    std::shared_ptr<State> state_;  // shared with the open files, which may outlive the platform
};

// Reply bytes for the tests: an identify reply and a 64-byte data report.
ScriptedPlatform::Bytes IdentifyReplyBytes(std::uint8_t firstVersion = 0x12, std::uint8_t secondVersion = 0x11);
ScriptedPlatform::Bytes ReportBytes(float leftMm, float rightMm, float temperatureC, float intervalUs,
                                    std::uint8_t status = 0);

}  // namespace zelkor::testing
