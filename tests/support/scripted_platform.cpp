#include "scripted_platform.h"

#include <algorithm>
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
    std::shared_ptr<ScriptedPlatform::State> state_;
    std::string path_;
    bool readPipe_;
    bool writePipe_;
    bool cancelled_ = false;  // guarded by the state's mutex
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
    state_->reads.emplace_back(std::move(bytes));
    state_->changed.notify_all();
}

void ScriptedPlatform::QueueReadFailure()
{
    std::lock_guard lock(state_->mutex);
    state_->reads.emplace_back(std::nullopt);
    state_->changed.notify_all();
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
    return state_->reads.size();
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
    return state_->changed.wait_for(lock, timeout, [&] { return state_->blockedReads > 0 && state_->reads.empty(); });
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
