#include "scripted_platform.h"

#include "device/libusb_platform.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace zelkor::testing {

using device::UsbFile;

struct ScriptedPlatform::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> devices;
    std::set<std::string> failingOpens;
    std::deque<std::optional<Bytes>> reads;  // nullopt: a failing read
    // With packets: what the emulated endpoint sends, in order.
    struct Packet {
        enum class Kind { Data, Failure, Stall } kind = Kind::Data;
        Bytes bytes;
    };
    std::size_t packetSize = 0;
    std::deque<Packet> packets;
    int clearedHalts = 0;
    bool failReadsWhenEmpty = false;
    int blockedReads = 0;
    bool writesFail = false;
    std::size_t writeLimit = SIZE_MAX;
    WriteHook writeHook;
    std::map<std::string, std::vector<Bytes>> writes;
    std::vector<std::string> opened;
    std::map<std::string, int> openFiles;
};

namespace {

bool EndsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

class ScriptedFile : public UsbFile {
public:
    ScriptedFile(std::shared_ptr<ScriptedPlatform::State> state, std::string path)
        : state_(std::move(state)),
          path_(std::move(path)),
          readPipe_(EndsWith(path_, ScriptedPlatform::PipePath("", device::kReadPipeName))),
          writePipe_(EndsWith(path_, ScriptedPlatform::PipePath("", device::kWritePipeName)))
    {
    }

    ~ScriptedFile() override
    {
        std::lock_guard lock(state_->mutex);
        --state_->openFiles[path_];
    }

    bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override
    {
        written = 0;
        ScriptedPlatform::WriteHook hook;
        ScriptedPlatform::Bytes bytes;
        {
            std::lock_guard lock(state_->mutex);
            if (cancelled_ || !writePipe_ || state_->writesFail)
                return false;
            written = std::min(length, state_->writeLimit);
            bytes.assign(data, data + written);
            state_->writes[path_].push_back(bytes);
            hook = state_->writeHook;
        }
        if (hook)
            hook(path_, bytes);
        return true;
    }

    bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& read) override
    {
        read = 0;
        std::unique_lock lock(state_->mutex);
        if (!readPipe_)
            return false;
        if (state_->packetSize != 0) {
            const device::BulkInEndpoint endpoint{
                [this](unsigned char* data, int asked, int* transferred, unsigned timeoutMs) {
                    return Transfer(data, static_cast<std::size_t>(asked), *transferred, timeoutMs);
                },
                [this] { ClearHalt(); }, state_->packetSize, &cancelled_};
            lock.unlock();
            return device::ReadBulkTransfer(endpoint, buffer, length, read);
        }
        ++state_->blockedReads;
        state_->changed.notify_all();
        state_->changed.wait(lock, [&] {
            return cancelled_ || !state_->reads.empty() || state_->failReadsWhenEmpty;
        });
        --state_->blockedReads;
        if (cancelled_ || state_->reads.empty())
            return false;
        auto result = std::move(state_->reads.front());
        state_->reads.pop_front();
        state_->changed.notify_all();
        if (!result)
            return false;
        read = std::min(length, result->size());
        std::copy_n(result->begin(), read, buffer);
        return true;
    }

    void Cancel() override
    {
        std::lock_guard lock(state_->mutex);
        cancelled_ = true;
        state_->changed.notify_all();
    }

private:
    using Packet = ScriptedPlatform::State::Packet;

    // One call of libusb_bulk_transfer on the emulated endpoint.
    int Transfer(unsigned char* data, std::size_t asked, int& transferred, unsigned timeoutMs)
    {
        transferred = 0;
        std::unique_lock lock(state_->mutex);
        ++state_->blockedReads;
        state_->changed.notify_all();
        state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return cancelled_ || !state_->packets.empty() || state_->failReadsWhenEmpty;
        });
        --state_->blockedReads;
        std::size_t done = 0;
        int result = LIBUSB_ERROR_TIMEOUT;  // cancelled, or the packets ran out before the end
        while (!cancelled_ && !state_->packets.empty()) {
            Packet& front = state_->packets.front();
            if (front.kind == Packet::Kind::Stall) {
                result = LIBUSB_ERROR_PIPE;  // stays until the halt is cleared
                break;
            }
            if (front.kind == Packet::Kind::Failure) {
                state_->packets.pop_front();
                result = LIBUSB_ERROR_IO;
                break;
            }
            const ScriptedPlatform::Bytes bytes = std::move(front.bytes);
            state_->packets.pop_front();
            if (bytes.size() > asked - done) {
                result = LIBUSB_ERROR_OVERFLOW;
                break;
            }
            std::copy(bytes.begin(), bytes.end(), data + done);
            done += bytes.size();
            if (bytes.size() < state_->packetSize || done == asked) {
                result = 0;
                break;
            }
        }
        if (done == 0 && result == LIBUSB_ERROR_TIMEOUT && state_->failReadsWhenEmpty && !cancelled_)
            result = LIBUSB_ERROR_IO;
        state_->changed.notify_all();
        transferred = static_cast<int>(done);
        return result;
    }

    void ClearHalt()
    {
        std::lock_guard lock(state_->mutex);
        ++state_->clearedHalts;
        if (!state_->packets.empty() && state_->packets.front().kind == Packet::Kind::Stall)
            state_->packets.pop_front();
    }

    std::shared_ptr<ScriptedPlatform::State> state_;
    std::string path_;
    bool readPipe_;
    bool writePipe_;
    std::atomic<bool> cancelled_{false};  // set under the state's mutex, for the waits
};

}  // namespace

ScriptedPlatform::ScriptedPlatform() : state_(std::make_shared<State>()) {}
ScriptedPlatform::~ScriptedPlatform() = default;

std::string ScriptedPlatform::MakeDevicePath(const std::string& instanceId)
{
    return "usb#vid_1234&pid_5678#" + instanceId + "#" + device::kSensorInterfaceClass;
}

std::string ScriptedPlatform::PipePath(const std::string& devicePath, const char* pipeName)
{
    return devicePath + "\\" + pipeName;
}

void ScriptedPlatform::SetDevices(std::vector<std::string> devicePaths)
{
    std::lock_guard lock(state_->mutex);
    state_->devices = std::move(devicePaths);
}

void ScriptedPlatform::AddDevice(const std::string& devicePath)
{
    std::lock_guard lock(state_->mutex);
    state_->devices.push_back(devicePath);
}

void ScriptedPlatform::FailOpen(const std::string& path, bool fail)
{
    std::lock_guard lock(state_->mutex);
    if (fail)
        state_->failingOpens.insert(path);
    else
        state_->failingOpens.erase(path);
}

void ScriptedPlatform::QueueRead(Bytes bytes)
{
    std::lock_guard lock(state_->mutex);
    if (const std::size_t size = state_->packetSize) {
        for (std::size_t at = 0;; at += size) {
            const std::size_t n = std::min(size, bytes.size() - at);
            state_->packets.push_back({State::Packet::Kind::Data, Bytes(bytes.begin() + at, bytes.begin() + at + n)});
            if (n < size || at + n == bytes.size())
                break;
        }
    } else {
        state_->reads.emplace_back(std::move(bytes));
    }
    state_->changed.notify_all();
}

void ScriptedPlatform::QueueReadFailure()
{
    std::lock_guard lock(state_->mutex);
    if (state_->packetSize)
        state_->packets.push_back({State::Packet::Kind::Failure, {}});
    else
        state_->reads.emplace_back(std::nullopt);
    state_->changed.notify_all();
}

void ScriptedPlatform::SetReadPacketSize(std::size_t packetSize)
{
    std::lock_guard lock(state_->mutex);
    state_->packetSize = packetSize;
}

void ScriptedPlatform::QueueReadStall()
{
    std::lock_guard lock(state_->mutex);
    state_->packets.push_back({State::Packet::Kind::Stall, {}});
    state_->changed.notify_all();
}

int ScriptedPlatform::ClearedHalts() const
{
    std::lock_guard lock(state_->mutex);
    return state_->clearedHalts;
}

void ScriptedPlatform::SetFailReadsWhenEmpty(bool fail)
{
    std::lock_guard lock(state_->mutex);
    state_->failReadsWhenEmpty = fail;
    state_->changed.notify_all();
}

std::size_t ScriptedPlatform::PendingReads() const
{
    std::lock_guard lock(state_->mutex);
    return state_->reads.size() + state_->packets.size();
}

void ScriptedPlatform::SetWritesFail(bool fail)
{
    std::lock_guard lock(state_->mutex);
    state_->writesFail = fail;
}

void ScriptedPlatform::SetWriteLimit(std::size_t limit)
{
    std::lock_guard lock(state_->mutex);
    state_->writeLimit = limit;
}

void ScriptedPlatform::SetWriteHook(WriteHook hook)
{
    std::lock_guard lock(state_->mutex);
    state_->writeHook = std::move(hook);
}

std::vector<ScriptedPlatform::Bytes> ScriptedPlatform::Writes(const std::string& pipePath) const
{
    std::lock_guard lock(state_->mutex);
    const auto it = state_->writes.find(pipePath);
    return it == state_->writes.end() ? std::vector<Bytes>{} : it->second;
}

std::vector<std::string> ScriptedPlatform::OpenedPaths() const
{
    std::lock_guard lock(state_->mutex);
    return state_->opened;
}

int ScriptedPlatform::OpenFiles(const std::string& path) const
{
    std::lock_guard lock(state_->mutex);
    const auto it = state_->openFiles.find(path);
    return it == state_->openFiles.end() ? 0 : it->second;
}

int ScriptedPlatform::OpenFiles() const
{
    std::lock_guard lock(state_->mutex);
    int total = 0;
    for (const auto& [path, count] : state_->openFiles)
        total += count;
    return total;
}

bool ScriptedPlatform::WaitForBlockedRead(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] {
        return state_->blockedReads > 0 && (state_->packetSize ? state_->packets.empty() : state_->reads.empty());
    });
}

device::UsbPlatform::Enum ScriptedPlatform::DevicePath(int memberIndex, std::string& path)
{
    std::lock_guard lock(state_->mutex);
    if (memberIndex < 0 || static_cast<std::size_t>(memberIndex) >= state_->devices.size())
        return Enum::NoMoreItems;
    path = state_->devices[static_cast<std::size_t>(memberIndex)];
    return Enum::Ok;
}

std::unique_ptr<UsbFile> ScriptedPlatform::Open(const std::string& path)
{
    std::lock_guard lock(state_->mutex);
    const bool attached = std::any_of(state_->devices.begin(), state_->devices.end(), [&](const std::string& device) {
        return path == device || path == PipePath(device, device::kReadPipeName) ||
               path == PipePath(device, device::kWritePipeName);
    });
    if (!attached || state_->failingOpens.count(path))
        return nullptr;
    state_->opened.push_back(path);
    ++state_->openFiles[path];
    return std::make_unique<ScriptedFile>(state_, path);
}

ScriptedPlatform::Bytes IdentifyReplyBytes(std::uint8_t firstVersion, std::uint8_t secondVersion)
{
    return {0x00, 0x03, 0x00, 0x00, 0x01, 0x02, firstVersion, secondVersion, 0x00, 0x00};
}

namespace {
void PutFloatBigEndian(ScriptedPlatform::Bytes& bytes, std::size_t at, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
}
}  // namespace

ScriptedPlatform::Bytes ReportBytes(float leftMm, float rightMm, float temperatureC, float intervalUs,
                                    std::uint8_t status)
{
    ScriptedPlatform::Bytes bytes(64, 0);
    bytes[4] = status;
    PutFloatBigEndian(bytes, 5, leftMm);
    PutFloatBigEndian(bytes, 9, rightMm);
    PutFloatBigEndian(bytes, 13, temperatureC);
    PutFloatBigEndian(bytes, 17, intervalUs);
    return bytes;
}

}  // namespace zelkor::testing
