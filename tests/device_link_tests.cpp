#include "device/libusb_platform.h"
#include "device/sensor_platform.h"
#include "device/sensor_protocol.h"
#include "device/usb_if.h"
#include "tests/support/scripted_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <thread>

using namespace zelkor::device;
using zelkor::testing::IdentifyReplyBytes;
using zelkor::testing::ReportBytes;
using zelkor::testing::ScriptedPlatform;
using Bytes = ScriptedPlatform::Bytes;

namespace {

const std::string kFirst = ScriptedPlatform::MakeDevicePath("6&1a2b3c&0&1");
const std::string kSecond = ScriptedPlatform::MakeDevicePath("6&9f9f9f&0&2");

std::string Pipe(const std::string& device, const char* name)
{
    return ScriptedPlatform::PipePath(device, name);
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CUsbIF::SetPipeFailureHandler([this](const std::string& message) { messages.push_back(message); });
        platform->SetFailReadsWhenEmpty(true);
    }
    void TearDown() override { CUsbIF::SetPipeFailureHandler(nullptr); }

    std::shared_ptr<ScriptedPlatform> platform = std::make_shared<ScriptedPlatform>();
    std::vector<std::string> messages;
};

// ---- transport -------------------------------------------------------------------------------

TEST_F(LinkTest, WriteResultCodesInOrderOfTesting)
{
    CUsbIF link(platform);
    const Bytes data(4097, 0xAA);
    std::size_t written = 99;
    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 0, &written), CUsbIF::kInvalidHandle)
        << "no pipe is tested before the length";

    platform->AddDevice(kFirst);
    ASSERT_TRUE(link.OpenLink());
    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 0, &written), CUsbIF::kBadLength);
    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 4097, &written), CUsbIF::kBadLength);
    EXPECT_TRUE(platform->Writes(Pipe(kFirst, kWritePipeName)).empty()) << "a refused length reaches the device";

    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 4096, &written), CUsbIF::kOk);
    EXPECT_EQ(written, 4096u);
    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 1, &written), CUsbIF::kOk);
    ASSERT_EQ(platform->Writes(Pipe(kFirst, kWritePipeName)).size(), 2u);

    platform->SetWritesFail(true);
    EXPECT_EQ(link.Write(link.WritePipe(), data.data(), 64, &written), CUsbIF::kWriteFailed);
    EXPECT_EQ(written, 0u);
}

TEST_F(LinkTest, ReadsReportTheRealCountAndFailWithoutPipeOrWithBadLength)
{
    CUsbIF link(platform);
    std::uint8_t buffer[4097] = {};
    std::size_t read = 0;
    platform->QueueRead({1, 2, 3});
    EXPECT_FALSE(link.Read(64, buffer, &read)) << "read without an open pipe";

    platform->AddDevice(kFirst);
    ASSERT_TRUE(link.OpenLink());
    EXPECT_FALSE(link.Read(0, buffer, &read));
    EXPECT_FALSE(link.Read(4097, buffer, &read));
    EXPECT_EQ(platform->PendingReads(), 1u) << "a refused length reaches the device";

    ASSERT_TRUE(link.Read(64, buffer, &read));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[2], 3);

    platform->QueueReadFailure();
    EXPECT_FALSE(link.Read(64, buffer, &read));

    platform->QueueRead(Bytes(64, 7));
    link.CloseLink();
    EXPECT_FALSE(link.IsConnected());
    EXPECT_FALSE(link.Read(64, buffer, &read));
    EXPECT_EQ(platform->OpenFiles(), 0);

    ASSERT_TRUE(link.OpenLink());
    EXPECT_TRUE(link.Read(64, buffer, &read)) << "the link works again after reopening";
    EXPECT_EQ(read, 64u);
}

TEST_F(LinkTest, CountDevicesAndInstanceIds)
{
    CUsbIF link(platform);
    int count = -1;
    std::string id = "stale";
    EXPECT_EQ(link.CountDevices(&count), CUsbIF::kNoDevice);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(link.InstanceId(0, &id), CUsbIF::kNoDevice);
    EXPECT_TRUE(id.empty());

    platform->SetDevices({kFirst, kSecond, "usb#vid_1#abc#def#{x}", "a#b#c", "a#b##c", "nohash"});
    EXPECT_EQ(link.CountDevices(&count), CUsbIF::kOk);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(link.InstanceId(0, &id), CUsbIF::kOk);
    EXPECT_EQ(id, "6&1a2b3c&0&1");
    EXPECT_EQ(link.InstanceId(2, &id), CUsbIF::kOk);
    EXPECT_EQ(id, "abc#def") << "from the second to the last '#'";
    EXPECT_EQ(link.InstanceId(3, &id), CUsbIF::kNoDevice);
    EXPECT_EQ(link.InstanceId(4, &id), CUsbIF::kNoDevice) << "empty id";
    EXPECT_EQ(link.InstanceId(5, &id), CUsbIF::kNoDevice);
    EXPECT_EQ(link.InstanceId(6, &id), CUsbIF::kNoDevice) << "no such interface";
    EXPECT_EQ(link.InstanceId(-1, &id), CUsbIF::kNoDevice);

    std::vector<std::string> many(200, kFirst);
    platform->SetDevices(many);
    EXPECT_EQ(link.CountDevices(&count), CUsbIF::kOk);
    EXPECT_EQ(count, 127) << "member indices 0 to 126";
}

TEST_F(LinkTest, OpenDeviceCodes)
{
    CUsbIF link(platform);
    std::unique_ptr<UsbFile> device;
    EXPECT_EQ(link.OpenDevice(0, nullptr), CUsbIF::kInvalidHandle);
    EXPECT_EQ(link.OpenDevice(0, &device), CUsbIF::kNoDevice);
    platform->AddDevice(kFirst);
    EXPECT_EQ(link.OpenDevice(0, &device), CUsbIF::kOk);
    EXPECT_NE(device, nullptr);
    device.reset();
    platform->FailOpen(kFirst);
    EXPECT_EQ(link.OpenDevice(0, &device), CUsbIF::kNoDevice);
    EXPECT_EQ(device, nullptr);
}

// ---- open sequence ---------------------------------------------------------------------------

TEST_F(LinkTest, OpenWithoutSensorFailsSilently)
{
    CUsbIF link(platform);
    EXPECT_FALSE(link.OpenLink());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(platform->OpenedPaths().empty());
}

TEST_F(LinkTest, OpenUsesOnlyTheFirstOfTwoSensors)
{
    platform->SetDevices({kFirst, kSecond});
    CUsbIF link(platform);
    ASSERT_TRUE(link.OpenLink());
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(link.InstanceIdentifier(), "6&1a2b3c&0&1");
    EXPECT_EQ(link.DeviceIndex(), 0);
    const std::vector<std::string> expected = {kFirst, Pipe(kFirst, kWritePipeName), Pipe(kFirst, kReadPipeName)};
    EXPECT_EQ(platform->OpenedPaths(), expected);

    // A second caller (worker and start command race) must not reopen under a reader.
    EXPECT_TRUE(link.OpenLink());
    EXPECT_EQ(platform->OpenedPaths().size(), 3u);
    EXPECT_EQ(platform->OpenFiles(), 3);
    EXPECT_TRUE(messages.empty());
}

TEST_F(LinkTest, DeviceThatCannotBeOpenedFailsSilently)
{
    platform->AddDevice(kFirst);
    platform->FailOpen(kFirst);
    CUsbIF link(platform);
    EXPECT_FALSE(link.OpenLink());
    EXPECT_FALSE(link.IsConnected());
    EXPECT_TRUE(messages.empty());
}

TEST_F(LinkTest, PipeOpenFailuresShowTheirMessageOnceAndReleaseEverything)
{
    struct Case {
        const char* pipe;
        std::string message;
    } cases[] = {
        {kWritePipeName, "打开设备的写功能失败: PIPE01\n\n应用程序即将退出。\n请重启设备，再次尝试一次。"},
        {kReadPipeName, "打开设备的读功能失败: PIPE00\n\n应用程序即将退出。\n请重启设备，再次尝试一次。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pipe);
        auto fake = std::make_shared<ScriptedPlatform>();
        fake->AddDevice(kFirst);
        fake->FailOpen(Pipe(kFirst, c.pipe));
        messages.clear();
        CUsbIF link(fake);
        EXPECT_FALSE(link.OpenLink());
        EXPECT_FALSE(link.IsConnected());
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], c.message);
        EXPECT_EQ(fake->OpenFiles(), 0) << "device or write pipe left open";
        EXPECT_EQ(link.WritePipe(), nullptr);
    }
}

TEST_F(LinkTest, DevicePathTooLongForThePathBufferCountsAsFailedOpen)
{
    // 248 characters plus "\PIPE01" and the terminator fill the 256 bytes exactly.
    const std::string prefix = "usb#vid_1234&pid_5678#";
    const std::string suffix = std::string("#") + kSensorInterfaceClass;
    const std::string fits = prefix + std::string(248 - prefix.size() - suffix.size(), 'x') + suffix;
    ASSERT_EQ(fits.size(), 248u);

    platform->AddDevice(fits);
    {
        CUsbIF link(platform);
        EXPECT_TRUE(link.OpenLink());
    }
    const std::string tooLong = prefix + "y" + fits.substr(prefix.size());
    platform->SetDevices({tooLong});
    CUsbIF link(platform);
    EXPECT_FALSE(link.OpenLink());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(platform->OpenFiles(), 0);
    EXPECT_EQ(platform->OpenedPaths().size(), 3u) << "nothing of the long path was opened";
}

TEST_F(LinkTest, CancelEndsABlockedReadQuicklyAndRefusesLaterTransfers)
{
    platform->SetFailReadsWhenEmpty(false);
    platform->AddDevice(kFirst);
    // Whole transfers, and packets read in slices by the libusb backend's logic.
    for (const std::size_t packet : {0u, 8u}) {
        SCOPED_TRACE(packet);
        platform->SetReadPacketSize(packet);
        CUsbIF link(platform);
        ASSERT_TRUE(link.OpenLink());

        auto reader = std::async(std::launch::async, [&] {
            std::uint8_t buffer[64];
            std::size_t read = 0;
            return link.Read(64, buffer, &read);
        });
        ASSERT_TRUE(platform->WaitForBlockedRead(std::chrono::seconds(5)));
        const auto start = std::chrono::steady_clock::now();
        link.Cancel();
        ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
        EXPECT_FALSE(reader.get());

        platform->QueueRead(Bytes(64, 1));
        std::uint8_t buffer[64];
        std::size_t read = 0;
        EXPECT_FALSE(link.Read(64, buffer, &read));
        std::size_t written = 0;
        EXPECT_EQ(link.Write(link.WritePipe(), buffer, 64, &written), CUsbIF::kWriteFailed);
        link.CloseLink();
        EXPECT_FALSE(link.OpenLink()) << "a cancelled link stays closed";
        EXPECT_EQ(platform->OpenFiles(), 0);
    }
}

// A read is one USB transfer: whole packets run on, a short one (or the length asked) ends it.
TEST_F(LinkTest, PacketsGatherIntoOneTransfer)
{
    struct Case {
        const char* name;
        std::vector<Bytes> sent;
        std::size_t length;
        bool ok;
        Bytes expected;
    };
    const Bytes report = ReportBytes(200.0f, 150.0f, 21.0f, 20000.0f);
    Bytes twoMessages(16, 2);
    twoMessages.insert(twoMessages.end(), 10, 3);
    const Case cases[] = {
        {"a report in eight packets", {report}, 64, true, report},
        {"the identify reply's short packet ends a long read", {IdentifyReplyBytes()}, 248, true, IdentifyReplyBytes()},
        {"a cut report ends at its short packet", {Bytes(12, 1)}, 64, true, Bytes(12, 1)},
        {"a zero-length packet is an empty transfer", {{}}, 64, true, {}},
        {"whole packets run on into the next message", {Bytes(16, 2), Bytes(10, 3)}, 64, true, twoMessages},
        {"the length asked ends a stream of reports", {report, Bytes(64, 9)}, 64, true, report},
        {"more than the caller can hold fails", {Bytes(64, 4)}, 60, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto usb = std::make_shared<ScriptedPlatform>();
        usb->SetFailReadsWhenEmpty(true);
        usb->SetReadPacketSize(8);
        usb->AddDevice(kFirst);
        CUsbIF link(usb);
        ASSERT_TRUE(link.OpenLink());
        for (const Bytes& message : c.sent)
            usb->QueueRead(message);
        Bytes buffer(c.length, 0xEE);
        std::size_t read = 99;
        ASSERT_EQ(link.Read(c.length, buffer.data(), &read), c.ok);
        if (c.ok) {
            ASSERT_EQ(read, c.expected.size());
            EXPECT_TRUE(std::equal(c.expected.begin(), c.expected.end(), buffer.begin()));
        }
    }
}

TEST_F(LinkTest, StalledEndpointIsClearedAndTheNextReadWorks)
{
    platform->SetReadPacketSize(8);
    platform->AddDevice(kFirst);
    CUsbIF link(platform);
    ASSERT_TRUE(link.OpenLink());
    const Bytes report = ReportBytes(200.0f, 150.0f, 21.0f, 20000.0f);
    platform->QueueReadStall();
    platform->QueueRead(report);
    platform->QueueReadFailure();
    Bytes buffer(64);
    std::size_t read = 0;
    EXPECT_FALSE(link.Read(64, buffer.data(), &read));
    EXPECT_EQ(platform->ClearedHalts(), 1);
    ASSERT_TRUE(link.Read(64, buffer.data(), &read));
    EXPECT_EQ(buffer, report);
    EXPECT_FALSE(link.Read(64, buffer.data(), &read)) << "a failed transfer";
    EXPECT_EQ(platform->ClearedHalts(), 1);
}

TEST_F(LinkTest, CancelAndCloseFromTwoThreads)
{
    platform->AddDevice(kFirst);
    for (int round = 0; round < 50; ++round) {
        CUsbIF link(platform);
        ASSERT_TRUE(link.OpenLink());
        std::thread closer([&] { link.CloseLink(); });
        link.Cancel();
        closer.join();
        EXPECT_FALSE(link.IsConnected());
    }
    EXPECT_EQ(platform->OpenFiles(), 0);
}

// ---- protocol --------------------------------------------------------------------------------

class ProtocolTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        platform->AddDevice(kFirst);
        ASSERT_TRUE(link.OpenLink());
    }
    std::vector<Bytes> Written() const { return platform->Writes(Pipe(kFirst, kWritePipeName)); }

    CUsbIF link{platform};
};

TEST_F(ProtocolTest, IdentifyWritesTheCommandAndStoresTheVersions)
{
    platform->QueueRead({0x00, 0x03, 0x00, 0x00, 0x01, 0x02, 0x12, 0x11, 0x00, 0x00});
    ASSERT_TRUE(Identify(link));
    EXPECT_FLOAT_EQ(link.firstVersion.load(), 1.2f);
    EXPECT_FLOAT_EQ(link.secondVersion.load(), 1.1f);
    EXPECT_TRUE(HasTimeField(link.secondVersion.load()));

    Bytes identify = {0x68, 0x00, 0x00, 0x68, 0x01, 0xEB, 0x90};
    identify.resize(64, 0);
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(Written()[0], identify);

    platform->QueueRead(IdentifyReplyBytes(0x12, 0x10));
    ASSERT_TRUE(Identify(link));
    EXPECT_FLOAT_EQ(link.secondVersion.load(), 1.0f);
    EXPECT_FALSE(HasTimeField(link.secondVersion.load())) << "1.0 is not above 1.0";
}

TEST_F(ProtocolTest, IdentifyRejectsWrongReplies)
{
    link.firstVersion = 9.9f;
    auto badByte5 = IdentifyReplyBytes();
    badByte5[5] = 0x01;
    auto badByte1 = IdentifyReplyBytes();
    badByte1[1] = 0x02;
    auto badByte4 = IdentifyReplyBytes();
    badByte4[4] = 0x00;
    auto longer = IdentifyReplyBytes();
    longer.push_back(0);
    const auto report = ReportBytes(200.0f, 150.0f, 20.0f, 20000.0f);  // a stream still running
    for (const auto& reply : {badByte5, badByte1, badByte4, longer, report, Bytes{}}) {
        platform->QueueRead(reply);
        EXPECT_FALSE(Identify(link));
    }
    EXPECT_FALSE(Identify(link)) << "failed read";
    EXPECT_FLOAT_EQ(link.firstVersion.load(), 9.9f) << "a failed identification stored versions";

    platform->SetWritesFail(true);
    platform->QueueRead(IdentifyReplyBytes());
    EXPECT_FALSE(Identify(link));
    EXPECT_EQ(platform->PendingReads(), 1u) << "read after a failed write";
}

TEST_F(ProtocolTest, StartAndCalibrateCommands)
{
    ASSERT_TRUE(Start(link));
    ASSERT_TRUE(Calibrate(link, CalibrationCode::LeftDistance, 200.0f));
    ASSERT_EQ(Written().size(), 2u);
    Bytes start = {0x68, 0x00, 0x00, 0x68, 0x00, 0xEB, 0x90};
    start.resize(64, 0);
    EXPECT_EQ(Written()[0], start);
    EXPECT_EQ(Written()[1], (Bytes{0x68, 0x0B, 0x0B, 0x68, 0x04, 0x00, 0x00, 0x48, 0x43, 0xEB, 0x90}));

    const auto temperature = CalibrationCommand(CalibrationCode::Temperature, -12.5f);  // 0xC1480000
    EXPECT_EQ(temperature[4], 3);
    EXPECT_EQ(temperature[5], 0x00);
    EXPECT_EQ(temperature[7], 0x48);
    EXPECT_EQ(temperature[8], 0xC1);

    platform->SetWriteLimit(10);
    EXPECT_FALSE(Start(link)) << "a partly written command counts as sent";
    platform->SetWritesFail(true);
    EXPECT_FALSE(Calibrate(link, CalibrationCode::RightDistance, 1.0f));
}

TEST(ReportDecoding, BigEndianFieldsAndTheOptionalTimeField)
{
    const std::uint8_t twoHundred[] = {0x43, 0x48, 0x00, 0x00};
    EXPECT_EQ(ReadFloatBigEndian(twoHundred), 200.0f);

    const auto bytes = ReportBytes(200.0f, -1.5f, 21.25f, 20000.0f, 0);
    std::array<std::uint8_t, kReportSize> report{};
    std::copy(bytes.begin(), bytes.end(), report.begin());
    EXPECT_EQ(report[5], 0x43);
    EXPECT_EQ(report[6], 0x48);

    const auto withTime = DecodeReport(report, true);
    EXPECT_EQ(withTime.status, 0);
    EXPECT_EQ(withTime.leftMm, 200.0f);
    EXPECT_EQ(withTime.rightMm, -1.5f);
    EXPECT_EQ(withTime.temperatureC, 21.25f);
    ASSERT_TRUE(withTime.intervalUs.has_value());
    EXPECT_EQ(*withTime.intervalUs, 20000.0f);

    report[4] = 1;
    const auto withoutTime = DecodeReport(report, false);
    EXPECT_EQ(withoutTime.status, 1);
    EXPECT_FALSE(withoutTime.intervalUs.has_value());
}

TEST(ReportDecoding, VersionBytesAreBcd)
{
    EXPECT_FLOAT_EQ(DecodeVersionByte(0x12), 1.2f);
    EXPECT_FLOAT_EQ(DecodeVersionByte(0x10), 1.0f);
    EXPECT_FLOAT_EQ(DecodeVersionByte(0x09), 0.9f);
    EXPECT_FLOAT_EQ(DecodeVersionByte(0x99), 9.9f);
}

TEST(ReportDecoding, AnyInputIsSafe)
{
    std::mt19937 random(7);
    std::array<std::uint8_t, kIdentifyReadSize> reply{};
    std::array<std::uint8_t, kReportSize> report{};
    int accepted = 0;
    EXPECT_FALSE(ParseIdentifyReply(nullptr, 10));
    for (int round = 0; round < 2000; ++round) {
        for (auto& b : reply)
            b = static_cast<std::uint8_t>(random());
        for (auto& b : report)
            b = static_cast<std::uint8_t>(random());
        std::size_t length = random() % (reply.size() + 1);
        if (round % 4 == 0) {  // a well-formed reply now and then, with random versions
            length = kIdentifyReplySize;
            reply[1] = 0x03, reply[4] = 0x01, reply[5] = 0x02;
        }
        const auto versions = ParseIdentifyReply(reply.data(), length);
        if (versions) {
            ++accepted;
            EXPECT_EQ(length, kIdentifyReplySize);
            EXPECT_GE(versions->first, 0.0f);
            EXPECT_LE(versions->first, 16.5f);
        }
        // NaN and infinity patterns included; whatever the time field holds, the interval is usable.
        const auto decoded = DecodeReport(report, round % 2 == 0);
        if (decoded.intervalUs) {
            EXPECT_GT(*decoded.intervalUs, 0.0f);
            EXPECT_LE(*decoded.intervalUs, kMaxReportIntervalUs);
        }
    }
    EXPECT_GT(accepted, 0);
}

// With packets of 8, 16, 32 or 64 bytes the sensor is identified and its reports decode whole.
TEST_F(ProtocolTest, SmallPacketsStillGiveWholeReports)
{
    for (const std::size_t packet : {8u, 16u, 32u, 64u}) {
        SCOPED_TRACE(packet);
        platform->SetReadPacketSize(packet);
        platform->QueueRead(IdentifyReplyBytes(0x12, 0x11));
        ASSERT_TRUE(Identify(link));
        EXPECT_FLOAT_EQ(link.secondVersion.load(), 1.1f);
        platform->QueueRead(ReportBytes(200.0f, 150.0f, 21.0f, 19990.0f));
        std::array<std::uint8_t, kReportSize> report{};
        std::size_t read = 0;
        ASSERT_TRUE(link.Read(report.size(), report.data(), &read));
        ASSERT_EQ(read, kReportSize);
        const DataReport decoded = DecodeReport(report, true);
        EXPECT_EQ(decoded.leftMm, 200.0f);
        EXPECT_EQ(decoded.rightMm, 150.0f);
        EXPECT_EQ(decoded.intervalUs, 19990.0f);
    }
}

// The read logic against a bulk-transfer call that times out, stalls or misbehaves on cue (cancelling
// is tried through the scripted platform above).
TEST(BulkRead, SlicesCarryOnAndFailuresEndTheRead)
{
    struct Step {
        int result;
        int bytes;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        bool ok;
        std::size_t count;
        int halts;
    };
    const Case cases[] = {
        {"slices that time out after whole packets carry on", {{LIBUSB_ERROR_TIMEOUT, 24}, {LIBUSB_ERROR_TIMEOUT, 0}, {0, 40}}, true, 64, 0},
        {"a part packet as a slice ends is a short packet", {{LIBUSB_ERROR_TIMEOUT, 8}, {LIBUSB_ERROR_TIMEOUT, 12}}, true, 20, 0},
        {"a stall is cleared and fails the read", {{LIBUSB_ERROR_TIMEOUT, 16}, {LIBUSB_ERROR_PIPE, 0}}, false, 0, 1},
        {"an unplugged sensor fails the read", {{LIBUSB_ERROR_NO_DEVICE, 0}}, false, 0, 0},
        {"a transfer claiming more than asked fails", {{0, 65}}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t step = 0;
        std::size_t offset = 0;
        int halts = 0;
        std::atomic<bool> cancelled{false};
        const BulkInEndpoint endpoint{
            [&](unsigned char* data, int length, int* transferred, unsigned timeoutMs) {
                EXPECT_LE(timeoutMs, kBulkSliceMs);
                EXPECT_EQ(static_cast<std::size_t>(length), 64 - offset) << "whole packets, from where it stopped";
                const Step s = c.steps.at(step++);
                for (int i = 0; i < std::min(s.bytes, length); ++i)
                    data[i] = static_cast<unsigned char>(offset + i);
                offset += static_cast<std::size_t>(std::max(0, std::min(s.bytes, length)));
                *transferred = s.bytes;
                return s.result;
            },
            [&] { ++halts; }, 8, &cancelled};
        std::uint8_t buffer[64] = {};
        std::size_t read = 99;
        EXPECT_EQ(ReadBulkTransfer(endpoint, buffer, 64, read), c.ok);
        EXPECT_EQ(step, c.steps.size());
        EXPECT_EQ(halts, c.halts);
        EXPECT_EQ(read, c.count);
        for (std::size_t i = 0; i < read; ++i)
            ASSERT_EQ(buffer[i], i) << "bytes in the order they came";
    }
}

// ---- USB ids and the libusb backend's pure parts ---------------------------------------------

TEST(UsbIds, Parse)
{
    EXPECT_EQ(ParseUsbId("04d8:00df"), (UsbId{0x04D8, 0x00DF}));
    EXPECT_EQ(ParseUsbId("ABCD:ef01"), (UsbId{0xABCD, 0xEF01}));
    for (const char* bad : {"", ":", "04d8", "04d800df", "4d8:00df", "04d8:0df", "04d8:00df0", "04d8 :00df",
                            "04g8:00df", "04d8:00d-", "+4d8:00df", "04d8:00df:1", "04d8-00df"}) {
        EXPECT_FALSE(ParseUsbId(bad).has_value()) << bad;
    }
}

TEST(LibusbHelpers, OnlyListedIdsAreSensors)
{
    const std::vector<UsbId> ids = {{0x1234, 0x5678}, {0x0ABC, 0x0001}};
    EXPECT_TRUE(IsListedSensor(0x1234, 0x5678, ids));
    EXPECT_TRUE(IsListedSensor(0x0ABC, 0x0001, ids));
    EXPECT_FALSE(IsListedSensor(0x1234, 0x0001, ids)) << "vendor of one, product of another";
    EXPECT_FALSE(IsListedSensor(0x5678, 0x1234, ids));
    EXPECT_FALSE(IsListedSensor(0x1234, 0x5678, {}));
}

TEST(LibusbHelpers, DevicePathsRoundTripAndNameThePort)
{
    const UsbId id{0x04D8, 0x00DF};
    const UsbLocation where{3, {2, 1, 14}};
    const std::string path = ComposeLibusbPath(id, where);
    EXPECT_EQ(path, "usb#vid_04D8&pid_00DF#3-2.1.14#{37538C66-9584-42D3-9632-EBAD0A230D13}");

    auto fake = std::make_shared<ScriptedPlatform>();
    fake->AddDevice(path);
    CUsbIF link(fake);
    std::string instance;
    EXPECT_EQ(link.InstanceId(0, &instance), CUsbIF::kOk);
    EXPECT_EQ(instance, "3-2.1.14");

    for (const auto& [suffix, pipe] : {std::pair{"", LibusbPipe::None}, std::pair{"\\PIPE00", LibusbPipe::Read},
                                       std::pair{"\\PIPE01", LibusbPipe::Write}}) {
        const auto parsed = ParseLibusbPath(path + suffix);
        ASSERT_TRUE(parsed.has_value()) << suffix;
        EXPECT_EQ(parsed->id, id);
        EXPECT_EQ(parsed->where, where);
        EXPECT_EQ(parsed->pipe, pipe);
    }
    const UsbLocation deepest{255, {1, 2, 3, 4, 5, 6, 255}};
    const auto parsedDeepest = ParseLibusbPath(ComposeLibusbPath(id, deepest));
    ASSERT_TRUE(parsedDeepest.has_value());
    EXPECT_EQ(parsedDeepest->where, deepest);
}

TEST(LibusbHelpers, MalformedPathsAreRejected)
{
    const std::string cls = kSensorInterfaceClass;
    for (const std::string& bad : std::vector<std::string>{
             "usb#vid_04D8&pid_00DF#3-2#" + cls + "\\PIPE02",
             "usb#vid_04D8&pid_00DF#3-2#" + cls + "\\PIPE00\\PIPE01",
             "usb#vid_04D8&pid_00DF#3-2#{00000000-0000-0000-0000-000000000000}",
             "usb#vid_04D8&pid_00DF#3-2#" + cls + "x",
             "usb#vid_04D8&pid_00DF#3#" + cls,
             "usb#vid_04D8&pid_00DF#3-#" + cls,
             "usb#vid_04D8&pid_00DF#3-2.#" + cls,
             "usb#vid_04D8&pid_00DF#03-2#" + cls,
             "usb#vid_04D8&pid_00DF#3-256#" + cls,
             "usb#vid_04D8&pid_00DF#3-0#" + cls,
             "usb#vid_04D8&pid_00DF#3-1.2.3.4.5.6.7.8#" + cls,
             "usb#vid_04D&pid_00DF#3-2#" + cls,
             "usb#vid_04DX&pid_00DF#3-2#" + cls,
             "hid#vid_04D8&pid_00DF#3-2#" + cls,
             "",
         }) {
        EXPECT_FALSE(ParseLibusbPath(bad).has_value()) << bad;
    }
}

TEST(LibusbHelpers, FirstInterfaceWithBulkInAndOut)
{
    auto endpoint = [](std::uint8_t address, std::uint8_t type, std::uint16_t packet) {
        libusb_endpoint_descriptor e{};
        e.bEndpointAddress = address;
        e.bmAttributes = type;
        e.wMaxPacketSize = packet;
        return e;
    };
    libusb_endpoint_descriptor interruptOnly[] = {endpoint(0x81, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8),
                                                  endpoint(0x01, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8)};
    libusb_endpoint_descriptor inOnly[] = {endpoint(0x82, LIBUSB_TRANSFER_TYPE_BULK, 64)};
    libusb_endpoint_descriptor both[] = {endpoint(0x03, LIBUSB_TRANSFER_TYPE_BULK, 64),
                                         endpoint(0x84, LIBUSB_TRANSFER_TYPE_BULK, 64),
                                         endpoint(0x85, LIBUSB_TRANSFER_TYPE_BULK, 512)};
    libusb_interface_descriptor settings[3]{};
    libusb_endpoint_descriptor* lists[] = {interruptOnly, inOnly, both};
    const std::uint8_t counts[] = {2, 1, 3};
    libusb_interface interfaces[4]{};
    for (std::uint8_t i = 0; i < 3; ++i) {
        settings[i].bInterfaceNumber = i;
        settings[i].bNumEndpoints = counts[i];
        settings[i].endpoint = lists[i];
        interfaces[i].altsetting = &settings[i];
        interfaces[i].num_altsetting = 1;
    }
    interfaces[3] = interfaces[2];  // a later match must not win
    libusb_config_descriptor config{};
    config.interface = interfaces;
    config.bNumInterfaces = 4;

    const auto bulk = FindBulkInterface(config);
    ASSERT_TRUE(bulk.has_value());
    EXPECT_EQ(bulk->interfaceNumber, 2);
    EXPECT_EQ(bulk->inEndpoint, 0x84);
    EXPECT_EQ(bulk->outEndpoint, 0x03);
    EXPECT_EQ(bulk->inMaxPacket, 64);

    config.bNumInterfaces = 2;
    EXPECT_FALSE(FindBulkInterface(config).has_value());
}

TEST(LibusbPlatform, WithoutIdsNothingIsListedOrOpened)
{
    const auto usb = MakeLibusbPlatform({});
    std::string path;
    EXPECT_EQ(usb->DevicePath(0, path), UsbPlatform::Enum::NoMoreItems);
    const std::string anyDevice = ComposeLibusbPath({0x1D6B, 0x0002}, {1, {1}});
    EXPECT_EQ(usb->Open(anyDevice), nullptr);
    EXPECT_EQ(usb->Open(anyDevice + "\\PIPE00"), nullptr);
}

}  // namespace
