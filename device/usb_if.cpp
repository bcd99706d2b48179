#include "usb_if.h"

#include <cstdio>
#include <utility>

namespace zelkor::device {

namespace {

std::mutex g_handlerMutex;
CUsbIF::PipeFailureHandler g_pipeFailureHandler;

// Without a host that shows it, the message still must not vanish.
void ReportPipeFailure(const std::string& message)
{
    CUsbIF::PipeFailureHandler handler;
    {
        std::lock_guard lock(g_handlerMutex);
        handler = g_pipeFailureHandler;
    }
    if (handler)
        handler(message);
    else
        std::fprintf(stderr, "%s\n", message.c_str());
}

std::string PipeFailureMessage(bool writePipe)
{
    const std::string pipe = writePipe ? kWritePipeName : kReadPipeName;
    const std::string what = writePipe ? "打开设备的写功能失败: " : "打开设备的读功能失败: ";
    return what + pipe + "\n\n应用程序即将退出。\n请重启设备，再次尝试一次。";
}

bool ValidLength(std::size_t length)
{
    return length >= CUsbIF::kMinTransfer && length <= CUsbIF::kMaxTransfer;
}

// The device path and one pipe component (a backslash and six characters) must fit the path buffer
// with its terminator; a longer path cannot be composed, so it is treated as a device that cannot be opened.
bool PathFitsBuffer(const std::string& devicePath)
{
    const std::size_t pipeComponent = 1 + std::char_traits<char>::length(kReadPipeName);
    return devicePath.size() + pipeComponent + 1 <= CUsbIF::kPathBufferSize;
}

std::string PipePath(const std::string& devicePath, const char* pipeName)
{
    return devicePath + "\\" + pipeName;
}

}  // namespace

void CUsbIF::SetPipeFailureHandler(PipeFailureHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    g_pipeFailureHandler = std::move(handler);
}

CUsbIF::CUsbIF(std::shared_ptr<UsbPlatform> platform) : platform_(std::move(platform)) {}

CUsbIF::~CUsbIF()
{
    CloseLink();
}

int CUsbIF::CountDevices(int* count)
{
    if (!count)
        return kInvalidHandle;
    *count = 0;
    if (!platform_)
        return kNoDevice;
    std::string path;
    for (int index = 0; index <= kMaxMemberIndex; ++index) {
        const auto result = platform_->DevicePath(index, path);
        if (result == UsbPlatform::Enum::NoMoreItems)
            break;
        if (result == UsbPlatform::Enum::Ok)
            ++*count;
    }
    return *count == 0 ? kNoDevice : kOk;
}

int CUsbIF::InstanceId(int memberIndex, std::string* id)
{
    if (!id)
        return kInvalidHandle;
    id->clear();
    std::string path;
    if (!platform_ || memberIndex < 0 || platform_->DevicePath(memberIndex, path) != UsbPlatform::Enum::Ok)
        return kNoDevice;
    const auto first = path.find('#');
    const auto second = first == std::string::npos ? std::string::npos : path.find('#', first + 1);
    const auto last = path.rfind('#');
    if (second == std::string::npos || last <= second + 1)
        return kNoDevice;
    *id = path.substr(second + 1, last - second - 1);
    return kOk;
}

int CUsbIF::OpenDevice(int memberIndex, std::unique_ptr<UsbFile>* device)
{
    if (!device)
        return kInvalidHandle;
    device->reset();
    std::string path;
    if (!platform_ || memberIndex < 0 || platform_->DevicePath(memberIndex, path) != UsbPlatform::Enum::Ok)
        return kNoDevice;
    if (!PathFitsBuffer(path))
        return kNoDevice;
    *device = platform_->Open(path);
    return *device ? kOk : kNoDevice;
}

int CUsbIF::Write(UsbFile* pipe, const std::uint8_t* data, std::size_t length, std::size_t* written)
{
    if (written)
        *written = 0;
    if (!pipe || !data)
        return kInvalidHandle;
    if (!ValidLength(length))
        return kBadLength;
    if (cancelled_.load())
        return kWriteFailed;
    std::size_t done = 0;
    const bool ok = pipe->Write(data, length, done);
    if (written)
        *written = done > length ? length : done;
    return ok ? kOk : kWriteFailed;
}

bool CUsbIF::Read(std::size_t length, std::uint8_t* buffer, std::size_t* read)
{
    if (read)
        *read = 0;
    UsbFile* pipe = readPipe_.get();
    if (!pipe || !buffer || !ValidLength(length) || cancelled_.load())
        return false;
    std::size_t done = 0;
    if (!pipe->Read(buffer, length, done) || done > length)
        return false;
    if (read)
        *read = done;
    return true;
}

bool CUsbIF::OpenLink()
{
    std::string failureMessage;
    {
        std::lock_guard lock(openMutex_);
        if (cancelled_.load())
            return false;
        // The worker and a start command may race here; the second caller finds the link open and
        // must not replace pipes the worker may already be reading from.
        if (connected_.load())
            return true;

        int count = 0;
        if (CountDevices(&count) != kOk)
            return false;
        std::string id;
        if (InstanceId(0, &id) != kOk)
            return false;
        instanceId_ = id;
        deviceIndex_ = 0;

        std::string path;
        if (platform_->DevicePath(deviceIndex_, path) != UsbPlatform::Enum::Ok || !PathFitsBuffer(path))
            return false;
        auto device = platform_->Open(path);
        if (!device)
            return false;

        auto writePipe = platform_->Open(PipePath(path, kWritePipeName));
        if (!writePipe) {
            failureMessage = PipeFailureMessage(true);
        } else {
            auto readPipe = platform_->Open(PipePath(path, kReadPipeName));
            if (!readPipe) {
                failureMessage = PipeFailureMessage(false);
            } else {
                device_ = std::move(device);
                writePipe_ = std::move(writePipe);
                readPipe_ = std::move(readPipe);
                connected_.store(true);
                return true;
            }
        }
        // Leaving this scope releases whatever was opened before the failing pipe.
    }
    // Shown without holding the lock: the host may block here until the user dismisses the message,
    // and the other thread must not be stuck in OpenLink meanwhile.
    ReportPipeFailure(failureMessage);
    return false;
}

void CUsbIF::CloseLink()
{
    std::lock_guard lock(openMutex_);
    connected_.store(false);
    readPipe_.reset();
    writePipe_.reset();
    device_.reset();
}

void CUsbIF::Cancel()
{
    std::lock_guard lock(openMutex_);
    cancelled_.store(true);
    if (readPipe_)
        readPipe_->Cancel();
    if (writePipe_)
        writePipe_->Cancel();
    if (device_)
        device_->Cancel();
}

}  // namespace zelkor::device
