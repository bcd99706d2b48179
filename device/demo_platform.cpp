#include "demo_platform.h"

#include "demo_sensor.h"

#include <string>

namespace zelkor::device {

namespace {

// A file opened on the demo sensor. The device file itself carries no transfers (as on the real driver,
// only the pipes do); each pipe carries one direction.
class DemoFile final : public UsbFile {
public:
    enum class Kind { Device, ReadPipe, WritePipe };

    DemoFile(std::shared_ptr<DemoSensor> sensor, Kind kind, std::uint64_t generation)
        : sensor_(std::move(sensor)), kind_(kind), generation_(generation)
    {
    }

    bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override
    {
        written = 0;
        if (kind_ != Kind::WritePipe)
            return false;
        return sensor_->HostWrite(data, length, written, generation_, cancelled_);
    }

    bool Read(std::uint8_t* buffer, std::size_t length, std::size_t& read) override
    {
        read = 0;
        if (kind_ != Kind::ReadPipe)
            return false;
        return sensor_->HostRead(buffer, length, read, generation_, cancelled_);
    }

    void Cancel() override
    {
        cancelled_.store(true);
        sensor_->WakeReaders();
    }

private:
    std::shared_ptr<DemoSensor> sensor_;
    Kind kind_;
    std::uint64_t generation_;
    std::atomic<bool> cancelled_{false};
};

class DemoPlatform final : public UsbPlatform {
public:
    explicit DemoPlatform(std::shared_ptr<DemoSensor> sensor) : sensor_(std::move(sensor)) {}

    Enum DevicePath(int memberIndex, std::string& path) override
    {
        path.clear();
        if (memberIndex != 0 || !sensor_->LookUp())
            return Enum::NoMoreItems;
        path = kDemoDevicePath;
        return Enum::Ok;
    }

    std::unique_ptr<UsbFile> Open(const std::string& path) override
    {
        const std::uint64_t generation = sensor_->Generation();
        if (generation == 0)
            return nullptr;  // unplugged
        const std::string device = kDemoDevicePath;
        DemoFile::Kind kind;
        if (path == device)
            kind = DemoFile::Kind::Device;
        else if (path == device + "\\" + kReadPipeName)
            kind = DemoFile::Kind::ReadPipe;
        else if (path == device + "\\" + kWritePipeName)
            kind = DemoFile::Kind::WritePipe;
        else
            return nullptr;
        return std::make_unique<DemoFile>(sensor_, kind, generation);
    }

private:
    std::shared_ptr<DemoSensor> sensor_;
};

}  // namespace

DemoRig MakeDemoPlatformForTests(int experimentIndex, DemoPacing pacing, std::uint64_t seed)
{
    auto sensor = std::make_shared<DemoSensor>(MakeDemoScenario(experimentIndex), pacing, seed);
    return {std::make_shared<DemoPlatform>(sensor), sensor};
}

std::shared_ptr<UsbPlatform> MakeDemoPlatform(int experimentIndex, DemoPacing pacing)
{
    return MakeDemoPlatformForTests(experimentIndex, pacing).platform;
}

}  // namespace zelkor::device
