#include "libusb_platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace zelkor::device {

// ---- pure helpers ----------------------------------------------------------------------------

bool IsListedSensor(std::uint16_t vendor, std::uint16_t product, const std::vector<UsbId>& ids)
{
    return std::find(ids.begin(), ids.end(), UsbId{vendor, product}) != ids.end();
}

std::string ComposeLibusbPath(UsbId id, const UsbLocation& where)
{
    char hardware[32];
    std::snprintf(hardware, sizeof hardware, "vid_%04X&pid_%04X", unsigned{id.vendor}, unsigned{id.product});
    std::string path = "usb#";
    path += hardware;
    path += '#';
    path += std::to_string(where.bus);
    for (std::size_t i = 0; i < where.ports.size(); ++i) {
        path += i == 0 ? '-' : '.';
        path += std::to_string(where.ports[i]);
    }
    path += '#';
    path += kSensorInterfaceClass;
    return path;
}

namespace {

bool ConsumePrefix(std::string_view& text, std::string_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

std::optional<std::uint16_t> ConsumeHex4(std::string_view& text)
{
    if (text.size() < 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text.substr(0, 4)) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    text.remove_prefix(4);
    return static_cast<std::uint16_t>(value);
}

// A decimal 1 to 255 without sign or leading zeros, so that every location has one spelling.
std::optional<std::uint8_t> ConsumeByte(std::string_view& text)
{
    std::size_t n = 0;
    while (n < text.size() && n < 4 && text[n] >= '0' && text[n] <= '9')
        ++n;
    if (n == 0 || n > 3 || text[0] == '0')
        return std::nullopt;
    unsigned value = 0;
    std::from_chars(text.data(), text.data() + n, value);
    if (value > 255)
        return std::nullopt;
    text.remove_prefix(n);
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::optional<LibusbPath> ParseLibusbPath(std::string_view path)
{
    LibusbPath parsed;
    const std::string readSuffix = std::string("\\") + kReadPipeName;
    const std::string writeSuffix = std::string("\\") + kWritePipeName;
    if (path.ends_with(readSuffix)) {
        parsed.pipe = LibusbPipe::Read;
        path.remove_suffix(readSuffix.size());
    } else if (path.ends_with(writeSuffix)) {
        parsed.pipe = LibusbPipe::Write;
        path.remove_suffix(writeSuffix.size());
    }

    if (!ConsumePrefix(path, "usb#vid_"))
        return std::nullopt;
    const auto vendor = ConsumeHex4(path);
    if (!vendor || !ConsumePrefix(path, "&pid_"))
        return std::nullopt;
    const auto product = ConsumeHex4(path);
    if (!product || !ConsumePrefix(path, "#"))
        return std::nullopt;
    parsed.id = UsbId{*vendor, *product};

    const auto bus = ConsumeByte(path);
    if (!bus || !ConsumePrefix(path, "-"))
        return std::nullopt;
    parsed.where.bus = *bus;
    do {
        const auto port = ConsumeByte(path);
        if (!port || parsed.where.ports.size() == kMaxUsbPortDepth)
            return std::nullopt;
        parsed.where.ports.push_back(*port);
    } while (ConsumePrefix(path, "."));

    if (!ConsumePrefix(path, "#") || path != kSensorInterfaceClass)
        return std::nullopt;
    return parsed;
}

std::optional<BulkInterface> FindBulkInterface(const libusb_config_descriptor& config)
{
    for (int i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& iface = config.interface[i];
        if (iface.num_altsetting < 1 || !iface.altsetting)
            continue;
        const libusb_interface_descriptor& setting = iface.altsetting[0];
        std::optional<std::uint8_t> in, out;
        std::uint16_t inPacket = 0;
        for (int e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& ep = setting.endpoint[e];
            if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                if (!in) {
                    in = ep.bEndpointAddress;
                    inPacket = static_cast<std::uint16_t>(ep.wMaxPacketSize & 0x07FF);
                }
            } else if (!out) {
                out = ep.bEndpointAddress;
            }
        }
        if (in && out && inPacket > 0)
            return BulkInterface{setting.bInterfaceNumber, *in, *out, inPacket};
    }
    return std::nullopt;
}

bool ReadBulkTransfer(const BulkInEndpoint& endpoint, std::uint8_t* buffer, std::size_t length, std::size_t& read)
{
    read = 0;
    const std::size_t packet = endpoint.packetSize;
    if (!buffer || length == 0 || packet == 0 || !endpoint.transfer)
        return false;
    const std::size_t wanted = (length + packet - 1) / packet * packet;
    std::vector<unsigned char> data(wanted);
    std::size_t got = 0;
    for (;;) {
        if (endpoint.cancelled && endpoint.cancelled->load())
            return false;
        const std::size_t asked = wanted - got;
        int n = 0;
        const int r = endpoint.transfer(data.data() + got, static_cast<int>(asked), &n, kBulkSliceMs);
        if (n < 0 || static_cast<std::size_t>(n) > asked)
            return false;
        got += static_cast<std::size_t>(n);
        // A slice that ran out after whole packets: the transfer goes on. A part of a packet means a
        // short packet came in as the slice ended, which ends the transfer.
        if (r == LIBUSB_ERROR_TIMEOUT && got % packet == 0 && got < wanted)
            continue;
        if (r == LIBUSB_ERROR_PIPE) {
            if (endpoint.clearHalt)
                endpoint.clearHalt();
            return false;
        }
        if (r != 0 && r != LIBUSB_ERROR_TIMEOUT)
            return false;  // unplugged, overflow, ...
        break;
    }
    if (got > length)
        return false;  // the caller's buffer cannot hold this transfer
    std::memcpy(buffer, data.data(), got);
    read = got;
    return true;
}

// ---- the backend -----------------------------------------------------------------------------

namespace {

// A healthy sensor takes a command in milliseconds; one that does not within this is treated as failed.
constexpr auto kWriteLimit = std::chrono::seconds(2);

struct Context {
    libusb_context* ctx = nullptr;
    Context()
    {
        if (libusb_init(&ctx) != 0)
            ctx = nullptr;
    }
    ~Context()
    {
        if (ctx)
            libusb_exit(ctx);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

// An opened and claimed sensor; shared by the device file and its pipe files.
struct OpenedDevice {
    std::shared_ptr<Context> context;  // outlives the handle
    libusb_device_handle* handle = nullptr;
    BulkInterface bulk;
    ~OpenedDevice()
    {
        libusb_release_interface(handle, bulk.interfaceNumber);
        libusb_close(handle);
    }
};

class DeviceFile : public UsbFile {
public:
    explicit DeviceFile(std::shared_ptr<OpenedDevice> device) : device_(std::move(device)) {}
    // Transfers go through the pipes only.
    bool Write(const std::uint8_t*, std::size_t, std::size_t& written) override
    {
        written = 0;
        return false;
    }
    bool Read(std::uint8_t*, std::size_t, std::size_t& read) override
    {
        read = 0;
        return false;
    }
    void Cancel() override {}

private:
    std::shared_ptr<OpenedDevice> device_;
};

class ReadPipe : public UsbFile {
public:
    explicit ReadPipe(std::shared_ptr<OpenedDevice> device) : device_(std::move(device))
    {
        libusb_device_handle* handle = device_->handle;
        const std::uint8_t in = device_->bulk.inEndpoint;
        endpoint_.transfer = [handle, in](unsigned char* data, int length, int* transferred, unsigned timeoutMs) {
            return libusb_bulk_transfer(handle, in, data, length, transferred, timeoutMs);
        };
        endpoint_.clearHalt = [handle, in] { libusb_clear_halt(handle, in); };
        endpoint_.packetSize = device_->bulk.inMaxPacket;
        endpoint_.cancelled = &cancelled_;
    }
    bool Write(const std::uint8_t*, std::size_t, std::size_t& written) override
    {
        written = 0;
        return false;
    }
    bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& read) override
    {
        return ReadBulkTransfer(endpoint_, buffer, length, read);
    }
    void Cancel() override { cancelled_.store(true); }

private:
    std::shared_ptr<OpenedDevice> device_;
    std::atomic<bool> cancelled_{false};
    BulkInEndpoint endpoint_;
};

class WritePipe : public UsbFile {
public:
    explicit WritePipe(std::shared_ptr<OpenedDevice> device) : device_(std::move(device)) {}
    bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override
    {
        written = 0;
        std::vector<unsigned char> bytes(data, data + length);  // libusb wants a mutable buffer
        const auto deadline = std::chrono::steady_clock::now() + kWriteLimit;
        while (written < length) {
            if (cancelled_.load() || std::chrono::steady_clock::now() > deadline)
                return false;
            int sent = 0;
            const int r = libusb_bulk_transfer(device_->handle, device_->bulk.outEndpoint, bytes.data() + written,
                                               static_cast<int>(length - written), &sent, kBulkSliceMs);
            written += static_cast<std::size_t>(sent);
            // A stalled endpoint stays stalled until cleared; clear it so that the next command can go.
            if (r == LIBUSB_ERROR_PIPE)
                libusb_clear_halt(device_->handle, device_->bulk.outEndpoint);
            if (r != 0 && r != LIBUSB_ERROR_TIMEOUT)
                return false;
        }
        return true;
    }
    bool Read(std::uint8_t*, std::size_t, std::size_t& read) override
    {
        read = 0;
        return false;
    }
    void Cancel() override { cancelled_.store(true); }

private:
    std::shared_ptr<OpenedDevice> device_;
    std::atomic<bool> cancelled_{false};
};

class LibusbPlatform : public UsbPlatform {
public:
    explicit LibusbPlatform(std::vector<UsbId> ids) : ids_(std::move(ids))
    {
        if (!ids_.empty())
            context_ = std::make_shared<Context>();
    }

    Enum DevicePath(int memberIndex, std::string& path) override
    {
        std::lock_guard lock(mutex_);
        const auto sensors = ListSensors();
        if (memberIndex < 0 || static_cast<std::size_t>(memberIndex) >= sensors.size())
            return Enum::NoMoreItems;
        const auto& [id, where] = sensors[static_cast<std::size_t>(memberIndex)];
        path = ComposeLibusbPath(id, where);
        return Enum::Ok;
    }

    std::unique_ptr<UsbFile> Open(const std::string& path) override
    {
        const auto parsed = ParseLibusbPath(path);
        if (!parsed || !IsListedSensor(parsed->id.vendor, parsed->id.product, ids_))
            return nullptr;
        std::lock_guard lock(mutex_);
        auto device = Acquire(*parsed);
        if (!device)
            return nullptr;
        switch (parsed->pipe) {
        case LibusbPipe::None:
            return std::make_unique<DeviceFile>(std::move(device));
        case LibusbPipe::Read:
            return std::make_unique<ReadPipe>(std::move(device));
        case LibusbPipe::Write:
            return std::make_unique<WritePipe>(std::move(device));
        }
        return nullptr;
    }

private:
    struct Sensor {
        UsbId id;
        UsbLocation where;
    };

    bool Usable() const { return context_ && context_->ctx; }

    // Only the cached descriptor of each device is looked at; nothing is opened here.
    static std::optional<Sensor> AsSensor(libusb_device* dev, const std::vector<UsbId>& ids)
    {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(dev, &descriptor) != 0 ||
            !IsListedSensor(descriptor.idVendor, descriptor.idProduct, ids))
            return std::nullopt;
        std::uint8_t ports[kMaxUsbPortDepth];
        const int depth = libusb_get_port_numbers(dev, ports, static_cast<int>(kMaxUsbPortDepth));
        if (depth < 1)
            return std::nullopt;
        Sensor sensor{UsbId{descriptor.idVendor, descriptor.idProduct},
                      UsbLocation{libusb_get_bus_number(dev), std::vector<std::uint8_t>(ports, ports + depth)}};
        return sensor;
    }

    // Ordered by location, so that "the first sensor" does not depend on libusb's list order.
    std::vector<Sensor> ListSensors()
    {
        std::vector<Sensor> sensors;
        if (!Usable())
            return sensors;
        libusb_device** list = nullptr;
        const auto count = libusb_get_device_list(context_->ctx, &list);
        for (ssize_t i = 0; i < count; ++i) {
            if (auto sensor = AsSensor(list[i], ids_))
                sensors.push_back(std::move(*sensor));
        }
        if (list)
            libusb_free_device_list(list, 1);
        std::sort(sensors.begin(), sensors.end(),
                  [](const Sensor& a, const Sensor& b) { return a.where < b.where; });
        return sensors;
    }

    std::shared_ptr<OpenedDevice> Acquire(const LibusbPath& path)
    {
        const std::string key = ComposeLibusbPath(path.id, path.where);
        if (auto it = opened_.find(key); it != opened_.end()) {
            if (auto device = it->second.lock())
                return device;
            opened_.erase(it);
        }
        if (!Usable())
            return nullptr;

        libusb_device** list = nullptr;
        const auto count = libusb_get_device_list(context_->ctx, &list);
        std::shared_ptr<OpenedDevice> device;
        for (ssize_t i = 0; i < count && !device; ++i) {
            const auto sensor = AsSensor(list[i], ids_);
            if (!sensor || sensor->where != path.where || !(sensor->id == path.id))
                continue;
            device = OpenAndClaim(list[i]);
        }
        if (list)
            libusb_free_device_list(list, 1);
        if (device)
            opened_[key] = device;
        return device;
    }

    std::shared_ptr<OpenedDevice> OpenAndClaim(libusb_device* dev)
    {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(dev, &config) != 0 || !config)
            return nullptr;
        const auto bulk = FindBulkInterface(*config);
        libusb_free_config_descriptor(config);
        if (!bulk)
            return nullptr;

        libusb_device_handle* handle = nullptr;
        if (libusb_open(dev, &handle) != 0 || !handle)
            return nullptr;
        // Not supported everywhere; the claim below then tells whether the interface is free.
        libusb_set_auto_detach_kernel_driver(handle, 1);
        if (libusb_claim_interface(handle, bulk->interfaceNumber) != 0) {
            libusb_close(handle);
            return nullptr;
        }
        auto device = std::make_shared<OpenedDevice>();
        device->context = context_;
        device->handle = handle;
        device->bulk = *bulk;
        return device;
    }

    std::vector<UsbId> ids_;
    std::shared_ptr<Context> context_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<OpenedDevice>> opened_;
};

}  // namespace

std::shared_ptr<UsbPlatform> MakeLibusbPlatform(std::vector<UsbId> ids)
{
    return std::make_shared<LibusbPlatform>(std::move(ids));
}

}  // namespace zelkor::device
