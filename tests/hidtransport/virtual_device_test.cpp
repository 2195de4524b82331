#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/hid_platform.h"
#include "hidtransport/virtual/report_descriptor_builder.h"
#include "hidtransport/virtual/virtual_device.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "hidtransport/virtual_test_support.h"

namespace zelk::hid::virt {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Long enough never to expire on a loaded machine; a passing test never waits it.
constexpr std::uint32_t kPatientMs = 5000;

void PutLe32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t Le32(const Bytes& in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 |
           static_cast<std::uint32_t>(in[at + 3]) << 24;
}

Bytes OfferReport(std::uint8_t component, std::uint8_t token, std::uint32_t version,
                  std::uint8_t bank = 0, std::uint8_t id = 0x23) {
    Bytes report(61, 0);
    report[0] = id;
    report[3] = component;
    report[4] = token;
    PutLe32(report, 5, version);
    report[13] = static_cast<std::uint8_t>(bank << 4);
    return report;
}

Bytes ContentReport(std::uint8_t flags, std::uint16_t sequence, std::uint32_t address,
                    const Bytes& data) {
    Bytes report(61, 0);
    report[0] = 0x21;
    report[1] = flags;
    report[2] = static_cast<std::uint8_t>(data.size());
    report[3] = static_cast<std::uint8_t>(sequence);
    report[4] = static_cast<std::uint8_t>(sequence >> 8);
    PutLe32(report, 5, address);
    std::copy(data.begin(), data.end(), report.begin() + 9);
    return report;
}

Bytes Pattern(std::size_t length, std::uint8_t seed) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return out;
}

VirtualDeviceConfig EarbudWith(const DeviceBehaviour& behaviour) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour = behaviour;
    return config;
}

// A host with one open I/O handle on the first device of its backend.
class Host {
  public:
    explicit Host(VirtualDeviceConfig config) : backend_(MakeList(std::move(config))) {
        handle_ = backend_.Open(backend_.Device(0).Path(), HidOpenMode::Io);
    }

    VirtualHidBackend& Backend() { return backend_; }
    VirtualDevice& Device() { return backend_.Device(0); }
    HidHandle Handle() const { return handle_; }

    bool Write(const Bytes& report) {
        return backend_.SetOutputReport(handle_, report.data(), report.size());
    }

    // The next input report, or nothing within `timeoutMs`.
    std::optional<Bytes> Read(std::uint32_t timeoutMs = kPatientMs) {
        Bytes buffer(64, 0xEE);
        std::size_t received = 0;
        if (backend_.ReadInput(handle_, buffer.data(), buffer.size(), received, timeoutMs) !=
            HidReadResult::Data) {
            return std::nullopt;
        }
        buffer.resize(received);
        return buffer;
    }

    // The status byte of the answer to an offer, checking the token echo.
    std::optional<std::uint8_t> Offer(std::uint8_t component, std::uint8_t token,
                                      std::uint32_t version) {
        EXPECT_TRUE(Write(OfferReport(component, token, version)));
        const std::optional<Bytes> answer = Read();
        if (!answer) {
            return std::nullopt;
        }
        EXPECT_EQ((*answer)[4], token);
        return (*answer)[13];
    }

  private:
    static std::vector<VirtualDeviceConfig> MakeList(VirtualDeviceConfig config) {
        std::vector<VirtualDeviceConfig> list;
        list.push_back(std::move(config));
        return list;
    }

    VirtualHidBackend backend_;
    HidHandle handle_ = kInvalidHidHandle;
};

// --- Device files -----------------------------------------------------------

TEST(VirtualDeviceFile, FullFileCarriesEveryField) {
    const std::string path = std::string(ZELK_TEST_FIXTURES) + "/virtual_devices_full.json";
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(LoadVirtualDevices(path, devices, error)) << error;
    ASSERT_EQ(devices.size(), 2u);

    const VirtualDeviceConfig& d = devices[0];
    EXPECT_EQ(d.name, "Left bud, odd layout");
    EXPECT_EQ(d.serial,
              "ZB-L-\xC3\xA9"
              "123");
    EXPECT_EQ(d.vendorId, 0x1234);
    EXPECT_EQ(d.productId, 22136);
    EXPECT_EQ(d.interfaceNumber, 3);
    EXPECT_EQ(d.usagePage, 0xFF00);
    EXPECT_EQ(d.usage, 0x0001);
    const ReportLayout* layouts[] = {&d.version, &d.offer, &d.offerResponse, &d.content,
                                     &d.contentResponse};
    const std::uint16_t sizes[] = {44, 20, 15, 61, 14};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(layouts[i]->id, 0x30 + i);
        EXPECT_EQ(layouts[i]->usage, 0x70 + i);
        EXPECT_EQ(layouts[i]->size, sizes[i]);
    }
    ASSERT_EQ(d.components.size(), 2u);
    EXPECT_EQ(d.components[0].id, 0x0F);
    EXPECT_EQ(d.components[0].bank, 2);
    EXPECT_EQ(d.components[0].budRole, 1);
    EXPECT_EQ(d.components[0].version, 0x10003001u);
    EXPECT_EQ(d.components[0].extra, 0x00AB0000u);
    EXPECT_EQ(d.components[1].id, 7);
    EXPECT_EQ(d.components[1].version, 5u);
    EXPECT_EQ(d.protocolFlags, 0x04);
    EXPECT_EQ(d.componentCount, std::optional<std::uint8_t>(9));

    const DeviceBehaviour& b = d.behaviour;
    ASSERT_EQ(b.offerAnswers.size(), 3u);
    EXPECT_EQ(b.offerAnswers[0].status, kOfferBusy);
    EXPECT_EQ(b.offerAnswers[1].status, kOfferCommandReady);
    EXPECT_EQ(b.offerAnswers[2].status, kOfferReject);
    EXPECT_EQ(b.offerAnswers[2].rejectReason, 3);
    EXPECT_EQ(b.offerAnswers[2].delayMs, 5u);
    EXPECT_TRUE(b.offerAnswers[2].silent);
    ASSERT_EQ(b.contentScript.size(), 2u);
    const ContentRule& rule = b.contentScript[0];
    EXPECT_EQ(rule.block, 2);
    EXPECT_EQ(rule.times, 0u);
    EXPECT_EQ(rule.status, kContentWriteError);
    EXPECT_EQ(rule.sequence, std::optional<std::uint16_t>(9));
    EXPECT_TRUE(rule.silent);
    EXPECT_EQ(rule.delayMs, 7u);
    EXPECT_TRUE(rule.unplug);
    EXPECT_EQ(b.contentScript[1].block, 40);  // unplugAtBlock
    EXPECT_EQ(b.contentScript[1].times, 1u);
    EXPECT_TRUE(b.contentScript[1].unplug);
    EXPECT_TRUE(b.silent);
    EXPECT_EQ(b.latencyUs, 250u);
    EXPECT_EQ(b.versionFailures, 2u);
    EXPECT_EQ(b.versionAnswer, VersionAnswer::Zero);
    EXPECT_FALSE(b.applyVersionOnComplete);
    ASSERT_TRUE(b.reappearAsNewNode);
    EXPECT_EQ(b.reappearAsNewNode->delayMs, 1500u);
    EXPECT_EQ(b.reappearAsNewNode->serial, std::optional<std::string>("ZB-L-9"));
    EXPECT_TRUE(b.faults.open);
    EXPECT_TRUE(b.faults.descriptor);
    EXPECT_TRUE(b.faults.writes);

    const VirtualDeviceConfig& bare = devices[1];
    EXPECT_EQ(bare.interfaceNumber, -1);
    EXPECT_EQ(bare.descriptor.size(), 23u);
    EXPECT_EQ(bare.descriptor.front(), 0x06);
    EXPECT_EQ(bare.descriptor.back(), 0xC0);
    EXPECT_TRUE(bare.components.empty());
    EXPECT_EQ(bare.version.id, 0x20);  // untouched layouts keep the defaults
    EXPECT_TRUE(bare.behaviour.applyVersionOnComplete);
    EXPECT_TRUE(bare.serial.empty());
    EXPECT_FALSE(bare.behaviour.reappearAsNewNode);
}

TEST(VirtualDeviceFile, DefaultSourceIsTheEarbud) {
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(LoadVirtualDevices("default", devices, error));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].vendorId, 0x320F);
    EXPECT_EQ(devices[0].productId, 0x5055);
    EXPECT_EQ(devices[0].interfaceNumber, 2);
    ASSERT_EQ(devices[0].components.size(), 1u);
    EXPECT_EQ(devices[0].components[0].id, 0x0F);
    EXPECT_EQ(devices[0].components[0].budRole, 1);
    EXPECT_EQ(devices[0].components[0].version, 0x10003001u);
}

TEST(VirtualDeviceFile, EmptyDeviceListIsValid) {
    std::vector<VirtualDeviceConfig> devices(3);
    std::string error;
    ASSERT_TRUE(ParseVirtualDevices(R"({"devices": []})", "x.json", devices, error)) << error;
    EXPECT_TRUE(devices.empty());
}

struct BadFile {
    const char* text;
    const char* message;  // the whole line, or its start when `prefixOnly`
    bool prefixOnly = false;
};

TEST(VirtualDeviceFile, MalformedFilesGiveOneLineNamingFileAndPlace) {
    const std::string longSerial = R"({"devices": [{"vendorId": 1, "productId": 1, "serial": ")" +
                                   std::string(127, 'x') + R"("}]})";
    const BadFile cases[] = {
        {"{\"devices\": [", "/tmp/x.json: not valid JSON: parse error at line 1", true},
        {"", "/tmp/x.json: not valid JSON: ", true},
        {"[]", "/tmp/x.json: top level: expected an object"},
        {"{}", "/tmp/x.json: devices: missing (expected an array of devices)"},
        {R"({"devices": {}})", "/tmp/x.json: devices: expected an array of devices"},
        {R"({"devices": [5]})", "/tmp/x.json: devices[0]: expected an object"},
        {R"({"devices": [{"productId": 1}]})", "/tmp/x.json: devices[0].vendorId: missing"},
        {R"({"devices": [{"vendorId": true, "productId": 1}]})",
         "/tmp/x.json: devices[0].vendorId: expected a 16-bit number"},
        {R"({"devices": [{"vendorId": 65536, "productId": 1}]})",
         "/tmp/x.json: devices[0].vendorId: expected a 16-bit number"},
        {R"({"devices": [{"vendorId": "0x1G", "productId": 1}]})",
         "/tmp/x.json: devices[0].vendorId: expected a 16-bit number"},
        {R"({"devices": [{"vendorId": 1, "productId": -2}]})",
         "/tmp/x.json: devices[0].productId: expected a 16-bit number"},
        {R"({"devices": [{"vendorId": 1, "productId": 1.5}]})",
         "/tmp/x.json: devices[0].productId: expected a 16-bit number"},
        {R"({"devices": [{"vendorId": 1, "productId": 1}, {"vendorId": 1}]})",
         "/tmp/x.json: devices[1].productId: missing"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "interfaceNumber": 256}]})",
         "/tmp/x.json: devices[0].interfaceNumber: expected a number from 0 to 255, or -1"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "name": 3}]})",
         "/tmp/x.json: devices[0].name: expected a string"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "behavior": {}}]})",
         "/tmp/x.json: devices[0].behavior: unknown field"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "v\ndor\u007fId": 2}]})",
         "/tmp/x.json: devices[0].v\\x0Ador\\x7FId: unknown field"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "reports": {"offer": {"size": 0}}}]})",
         "/tmp/x.json: devices[0].reports.offer.size: expected a size from 1 to 4096"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "reports": {"content": {"id": 0}}}]})",
         "/tmp/x.json: devices[0].reports.content.id: expected a report ID from 1 to 255"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "reports": {"offer": {"id": 33}}}]})",
         "/tmp/x.json: devices[0].reports: offer and content share the report ID 0x21"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "components": [{"id": 1, "bank": 4}]}]})",
         "/tmp/x.json: devices[0].components[0].bank: expected a number from 0 to 3"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "components": [{"bank": 1}]}]})",
         "/tmp/x.json: devices[0].components[0].id: missing"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "components": [{"id": 1, "version": "0x100000000"}]}]})",
         "/tmp/x.json: devices[0].components[0].version: expected a 32-bit number"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "components": [{"id": 1}, {"id": 1}]}]})",
         "/tmp/x.json: devices[0].components[1].id: component 0x01 appears twice"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "descriptor": "06 0G"}]})",
         "/tmp/x.json: devices[0].descriptor: not a hex byte: \"0G\" at character 3"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "descriptor": "06 0B F"}]})",
         "/tmp/x.json: devices[0].descriptor: odd number of hex digits at character 6"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "descriptor": "A1"}]})",
         "/tmp/x.json: devices[0].descriptor: not a usable report descriptor: ", true},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "descriptor": 6}]})",
         "/tmp/x.json: devices[0].descriptor: expected a string of hex bytes"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"offerAnswers": ["accept", "maybe"]}}]})",
         "/tmp/x.json: devices[0].behaviour.offerAnswers[1]: unknown offer status \"maybe\" "
         "(expected skip, accept, reject, busy, commandReady, command-ready, notSupported, "
         "not-supported or a number up to 255)"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"offerAnswers": [{"status": 256}]}}]})",
         "/tmp/x.json: devices[0].behaviour.offerAnswers[0].status: expected a status name or "
         "a number up to 255"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"contentScript": [{"status": 2}]}}]})",
         "/tmp/x.json: devices[0].behaviour.contentScript[0].block: missing"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"contentScript": [{"block": 1, "silent": 1}]}}]})",
         "/tmp/x.json: devices[0].behaviour.contentScript[0].silent: expected true or false"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"versionAnswer": "garbage"}}]})",
         "/tmp/x.json: devices[0].behaviour.versionAnswer: expected \"ok\" or \"zero\""},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"faults": {"reads": true}}}]})",
         "/tmp/x.json: devices[0].behaviour.faults.reads: unknown field"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "serial": 5}]})",
         "/tmp/x.json: devices[0].serial: expected a string of at most 126 bytes"},
        {longSerial.c_str(),
         "/tmp/x.json: devices[0].serial: expected a string of at most 126 bytes"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"reappearAsNewNode": 1500}}]})",
         "/tmp/x.json: devices[0].behaviour.reappearAsNewNode: expected true, false or an "
         "object"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"reappearAsNewNode": {"delay": 1}}}]})",
         "/tmp/x.json: devices[0].behaviour.reappearAsNewNode.delay: unknown field"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"reappearAsNewNode": {"serial": 7}}}]})",
         "/tmp/x.json: devices[0].behaviour.reappearAsNewNode.serial: expected a string of at "
         "most 126 bytes"},
        {R"({"devices": [{"vendorId": 1, "productId": 1,
             "behaviour": {"unplugOnComplete": true, "reappearAsNewNode": true}}]})",
         "/tmp/x.json: devices[0].behaviour.reappearAsNewNode: excludes unplugOnComplete (the "
         "device either comes back or not)"},
    };
    for (const BadFile& bad : cases) {
        SCOPED_TRACE(bad.text);
        std::vector<VirtualDeviceConfig> devices(1);
        std::string error;
        EXPECT_FALSE(ParseVirtualDevices(bad.text, "/tmp/x.json", devices, error));
        if (bad.prefixOnly) {
            EXPECT_EQ(error.rfind(bad.message, 0), 0u) << error;
        } else {
            EXPECT_EQ(error, bad.message);
        }
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(devices.size(), 1u) << "a failed load leaves the output alone";
    }
}

TEST(VirtualDeviceFile, UnreadableFileIsNamed) {
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    EXPECT_FALSE(LoadVirtualDevices("/nonexistent/devices.json", devices, error));
    EXPECT_EQ(error.rfind("/nonexistent/devices.json: cannot open the file", 0), 0u) << error;

    error.clear();
    EXPECT_FALSE(LoadVirtualDevices(ZELK_TEST_FIXTURES, devices, error));  // a folder
    EXPECT_EQ(error.rfind(std::string(ZELK_TEST_FIXTURES) + ": ", 0), 0u) << error;
}

TEST(VirtualDeviceFile, RepeatedKeyIsNamedByItsPlace) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {R"({"devices": [], "devices": []})", "/tmp/x.json: devices: appears twice in its object"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "vendorId": 2}]})",
         "/tmp/x.json: devices[0].vendorId: appears twice in its object"},
        {R"({"devices": [{"vendorId": 1, "productId": 1},
                         {"vendorId": 1, "productId": 1, "reports": {"offer": {"id": 5, "id": 6}}}]})",
         "/tmp/x.json: devices[1].reports.offer.id: appears twice in its object"},
        {R"({"devices": [{"vendorId": 1, "productId": 1, "components": [[], {"id": 1},
                         {"id": 2, "bank": 0, "bank": 1}]}]})",
         "/tmp/x.json: devices[0].components[2].bank: appears twice in its object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<VirtualDeviceConfig> devices(1);
        std::string error;
        EXPECT_FALSE(ParseVirtualDevices(c.text, "/tmp/x.json", devices, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(devices.size(), 1u);
    }
    // The same key in different objects, and repeated comments, are fine.
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    EXPECT_TRUE(ParseVirtualDevices(R"({"_c": 1, "_c": 2, "devices": [{"vendorId": 1,
        "productId": 1, "reports": {"offer": {"id": 5}, "content": {"id": 6}}}]})",
                                    "/tmp/x.json", devices, error))
        << error;
}

#ifndef _WIN32
// FIFOs, device nodes and sparse files are made with POSIX calls.
TEST(VirtualDeviceFile, OnlyRegularFilesAreRead) {
    // A FIFO without a writer would block an ordinary open for good; a
    // device node would feed the reader without end.
    const std::string fifo = ::testing::TempDir() + "zelk_devices_fifo";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sources[] = {fifo, "/dev/zero", "/dev/null", ZELK_TEST_FIXTURES};
    for (const std::string& source : sources) {
        std::vector<VirtualDeviceConfig> devices;
        std::string error;
        EXPECT_FALSE(LoadVirtualDevices(source, devices, error));
        EXPECT_EQ(error, source + ": not a regular file");
    }
    ::unlink(fifo.c_str());

    // The size is looked at before anything is read.
    const std::string large = ::testing::TempDir() + "zelk_devices_large.json";
    std::FILE* file = std::fopen(large.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    ASSERT_EQ(::truncate(large.c_str(), 16 * 1024 * 1024 + 1), 0);
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    EXPECT_FALSE(LoadVirtualDevices(large, devices, error));
    EXPECT_EQ(error, large + ": the file is larger than 16 MiB");
    ::unlink(large.c_str());
}
#endif

// --- Identity and descriptor -------------------------------------------------

TEST(VirtualDevice, PathsCarryIdentityAndNoBlanks) {
    VirtualDeviceConfig config = DefaultEarbud();
    EXPECT_EQ(VirtualDevicePath(config, 0),
              u"\\\\?\\HID#VID_320F&PID_5055&MI_02#virtual&0&0000#"
              u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
    config.vendorId = 0xabc;
    config.productId = 0xfe01;
    config.interfaceNumber = -1;
    EXPECT_EQ(VirtualDevicePath(config, 12),
              u"\\\\?\\HID#VID_0ABC&PID_FE01#virtual&12&0000#"
              u"{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

TEST(VirtualDevice, DefaultEarbudPresentsItsReports) {
    VirtualHidBackend backend({DefaultEarbud()});
    std::vector<std::u16string> paths;
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], VirtualDevicePath(DefaultEarbud(), 0));

    const HidHandle handle = backend.Open(paths[0], HidOpenMode::Query);
    ASSERT_NE(handle, kInvalidHidHandle);
    const std::unique_ptr<HidDescriptor> descriptor = backend.GetDescriptor(handle);
    ASSERT_NE(descriptor, nullptr);
    HidCaps caps;
    EXPECT_EQ(descriptor->GetCaps(caps), kHidStatusSuccess);
    EXPECT_EQ(caps.UsagePage, 0xFF0B);
    EXPECT_EQ(caps.Usage, 0x0104);
    EXPECT_EQ(caps.FeatureReportByteLength, 61);
    EXPECT_EQ(caps.OutputReportByteLength, 61);
    EXPECT_EQ(caps.InputReportByteLength, 17);

    struct Expected {
        HidReportType type;
        std::uint16_t usage;
        std::uint8_t id;
    };
    const Expected reports[] = {{HidReportType::Feature, 0x62, 0x20},
                                {HidReportType::Output, 0x8E, 0x23},
                                {HidReportType::Input, 0x8A, 0x24},
                                {HidReportType::Output, 0x61, 0x21},
                                {HidReportType::Input, 0x66, 0x22}};
    for (const Expected& report : reports) {
        std::vector<HidCapability> found;
        ASSERT_EQ(descriptor->GetSpecificValueCaps(report.type, 0xFF0B, 0, report.usage, found),
                  kHidStatusSuccess)
            << report.usage;
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].ReportId, report.id);
    }
    EXPECT_TRUE(backend.Close(handle));
}

TEST(VirtualDevice, BuiltDescriptorIsTheExpectedBytes) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.usagePage = 0x000C;  // not a vendor page
    config.usage = 0x01;
    config.offer.size = 300;
    const Bytes built = BuildReportDescriptor(config);
    const Bytes head = {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,
                        // version: feature
                        0x85, 0x20, 0x09, 0x62, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
                        0x3C, 0xB1, 0x02,
                        // offer: output, 300 bytes
                        0x85, 0x23, 0x09, 0x8E, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x96,
                        0x2C, 0x01, 0x91, 0x02};
    ASSERT_GE(built.size(), head.size());
    EXPECT_EQ(Bytes(built.begin(), built.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
    EXPECT_EQ(built.back(), 0xC0);
}

TEST(VirtualDevice, RawDescriptorReplacesTheBuiltOne) {
    std::vector<VirtualDeviceConfig> devices;
    std::string error;
    ASSERT_TRUE(LoadVirtualDevices(std::string(ZELK_TEST_FIXTURES) + "/virtual_devices_full.json",
                                   devices, error));
    VirtualHidBackend backend({devices[1]});
    const HidHandle handle = backend.Open(backend.Device(0).Path(), HidOpenMode::Query);
    const std::unique_ptr<HidDescriptor> descriptor = backend.GetDescriptor(handle);
    ASSERT_NE(descriptor, nullptr);
    HidCaps caps;
    descriptor->GetCaps(caps);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.OutputReportByteLength, 5);
    EXPECT_EQ(caps.InputReportByteLength, 0);
    EXPECT_EQ(caps.FeatureReportByteLength, 0);
}

// --- Version report ------------------------------------------------------------

TEST(VirtualDevice, VersionReportOfTheDefaultEarbud) {
    Host host(DefaultEarbud());
    Bytes buffer(61, 0xEE);
    buffer[0] = 0x20;
    ASSERT_TRUE(host.Backend().GetFeature(host.Handle(), buffer.data(), buffer.size()));
    Bytes expected(61, 0);
    expected[0] = 0x20;
    expected[1] = 1;     // one component
    expected[4] = 0x02;  // protocol flags
    PutLe32(expected, 5, 0x10003001);
    PutLe32(expected, 9, 0x0F00 | (1 << 2));  // ID 0x0F, bud role 1, bank 0
    EXPECT_EQ(buffer, expected);
}

TEST(VirtualDevice, ReportsOfAnyOtherLengthAreRefusedAsWindowsRefusesThem) {
    // Feature reads and output writes must be exactly the collection's
    // report length (61 here), as HidD_GetFeature and WriteFile demand.
    Host host(DefaultEarbud());
    for (const std::size_t length : {10u, 60u, 62u, 80u}) {
        Bytes feature(length, 0xEE);
        feature[0] = 0x20;
        EXPECT_FALSE(host.Backend().GetFeature(host.Handle(), feature.data(), length)) << length;
        Bytes offer = OfferReport(0x0F, 1, 0x20000000);
        offer.resize(length, 0);
        EXPECT_FALSE(host.Write(offer)) << length;
    }
    EXPECT_EQ(host.Device().RefusedLengthCount(), 8u);
    EXPECT_EQ(host.Device().OfferCount(), 0u);

    Bytes exact(61, 0xEE);
    exact[0] = 0x20;
    EXPECT_TRUE(host.Backend().GetFeature(host.Handle(), exact.data(), exact.size()));
    EXPECT_EQ(exact[1], 1);
    Bytes wrong(61, 0);
    wrong[0] = 0x21;
    EXPECT_FALSE(host.Backend().GetFeature(host.Handle(), wrong.data(), wrong.size()));
}

TEST(VirtualDevice, ReportLengthsAreThoseOfTheCollectionCarryingTheReports) {
    // A media-key collection with a longer output and a shorter feature report
    // comes first; the CFU reports live in the second collection, whose
    // lengths (61) are the ones a host opened on it uses.
    VirtualDeviceConfig config = DefaultEarbud();
    config.descriptor = {
        0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x95, 0x02, 0x09, 0xE9, 0xB1, 0x02,  // feature 1: 2 bytes
        0x85, 0x02, 0x95, 0x40, 0x09, 0xEA, 0x91, 0x02,        // output 2: 64 bytes
        0xC0,                                                  //
        0x06, 0x0B, 0xFF, 0x0A, 0x04, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF,
        0x00, 0x75, 0x08, 0x85, 0x20, 0x09, 0x62, 0x95, 0x3C, 0xB1, 0x02,  // version feature
        0x85, 0x21, 0x09, 0x61, 0x95, 0x3C, 0x91, 0x02,                    // content output
        0x85, 0x22, 0x09, 0x66, 0x95, 0x10, 0x81, 0x02,                    // content response
        0x85, 0x23, 0x09, 0x8E, 0x95, 0x3C, 0x91, 0x02,                    // offer output
        0x85, 0x24, 0x09, 0x8A, 0x95, 0x10, 0x81, 0x02,                    // offer response
        0xC0};
    const VirtualDevice device(config, u"two-collections");
    EXPECT_EQ(device.OutputReportLength(), 61u);
    EXPECT_EQ(device.FeatureReportLength(), 61u);
}

TEST(VirtualDevice, VersionReportListsAtMostSevenComponentsAndMasksExtra) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.components.clear();
    for (std::uint8_t i = 0; i < 9; ++i) {
        config.components.push_back(
            {static_cast<std::uint8_t>(0x10 + i), static_cast<std::uint8_t>(i % 4),
             static_cast<std::uint8_t>((i + 1) % 4), 0x100u + i, 0xFFFFFFFFu});
    }
    Host plain(config);
    Bytes buffer(61, 0xEE);
    buffer[0] = 0x20;
    ASSERT_TRUE(plain.Backend().GetFeature(plain.Handle(), buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[1], 7);
    for (std::size_t j = 0; j < 7; ++j) {
        const auto i = static_cast<std::uint32_t>(j);
        EXPECT_EQ(Le32(buffer, 5 + 8 * j), 0x100u + i);
        EXPECT_EQ(Le32(buffer, 9 + 8 * j),
                  0xFFFF00F0u | (i % 4) | (((i + 1) % 4) << 2) | ((0x10u + i) << 8));
    }

    config.componentCount = 9;
    Host overridden(config);
    ASSERT_TRUE(overridden.Backend().GetFeature(overridden.Handle(), buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[1], 9);
}

TEST(VirtualDevice, VersionFailuresThenZeroAnswer) {
    DeviceBehaviour behaviour;
    behaviour.versionFailures = 2;
    behaviour.versionAnswer = VersionAnswer::Zero;
    Host host(EarbudWith(behaviour));
    Bytes buffer(61, 0xEE);
    buffer[0] = 0x20;
    EXPECT_FALSE(host.Backend().GetFeature(host.Handle(), buffer.data(), buffer.size()));
    EXPECT_FALSE(host.Backend().GetFeature(host.Handle(), buffer.data(), buffer.size()));
    ASSERT_TRUE(host.Backend().GetFeature(host.Handle(), buffer.data(), buffer.size()));
    EXPECT_EQ(buffer[1], 1);
    EXPECT_EQ(Le32(buffer, 5), 0u);
    EXPECT_EQ(Le32(buffer, 9), 0u);
    EXPECT_EQ(host.Device().VersionQueryCount(), 3u);
}

// --- Offers --------------------------------------------------------------------

TEST(VirtualDevice, OfferAnswersFollowTheScriptAndRepeatTheLast) {
    DeviceBehaviour behaviour;
    behaviour.offerAnswers = {{kOfferBusy}, {kOfferReject, 3}, {0x42}, {kOfferAccept}};
    Host host(EarbudWith(behaviour));

    ASSERT_TRUE(host.Write(OfferReport(0x0F, 0x71, 0x20000000, 2)));
    const std::optional<Bytes> first = host.Read();
    ASSERT_TRUE(first);
    Bytes expected(17, 0);
    expected[0] = 0x24;
    expected[4] = 0x71;
    expected[13] = kOfferBusy;
    EXPECT_EQ(*first, expected);
    const std::optional<ReceivedOffer> offer = host.Device().LastOffer();
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->componentId, 0x0F);
    EXPECT_EQ(offer->version, 0x20000000u);
    EXPECT_EQ(offer->bank, 2);

    ASSERT_TRUE(host.Write(OfferReport(0x0F, 0x72, 0x20000000)));
    const std::optional<Bytes> second = host.Read();
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)[9], 3);  // reject reason
    EXPECT_EQ((*second)[13], kOfferReject);

    EXPECT_EQ(host.Offer(0x0F, 0x73, 1), 0x42);
    EXPECT_EQ(host.Offer(0x0F, 0x74, 1), kOfferAccept);
    EXPECT_EQ(host.Offer(0x0F, 0x75, 1), kOfferAccept);
    EXPECT_EQ(host.Device().OfferCount(), 5u);
}

TEST(VirtualDevice, SilentAndLateOfferAnswers) {
    DeviceBehaviour behaviour;
    behaviour.offerAnswers = {{kOfferAccept, 0, 0, true}, {kOfferAccept, 0, 30, false}};
    Host host(EarbudWith(behaviour));

    ASSERT_TRUE(host.Write(OfferReport(0x0F, 1, 1)));
    EXPECT_FALSE(host.Read(0));

    ASSERT_TRUE(host.Write(OfferReport(0x0F, 2, 1)));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_FALSE(host.Read(0));
    const std::optional<Bytes> late = host.Read();
    ASSERT_TRUE(late);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 30ms);
    EXPECT_EQ((*late)[4], 2);
}

// The device keeps the punctuality of its delayed answers (how late after
// their due time a read took them); answers without delay do not count.
TEST(VirtualDevice, DelayedAnswersAreTakenNoEarlierThanDueAndTheirLatenessIsKept) {
    DeviceBehaviour behaviour;
    behaviour.offerAnswers = {{kOfferAccept, 0, 0, false}, {kOfferAccept, 0, 20, false}};
    Host host(EarbudWith(behaviour));

    ASSERT_TRUE(host.Write(OfferReport(0x0F, 1, 1)));
    ASSERT_TRUE(host.Read());
    EXPECT_EQ(host.Device().DelayedAnswerTiming().answers, 0u);

    for (std::uint8_t token = 2; token < 5; ++token) {
        const auto before = host.Device().DelayedAnswerTiming();
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(host.Write(OfferReport(0x0F, token, 1)));
        const std::optional<Bytes> answer = host.Read();
        const auto took = std::chrono::steady_clock::now() - sent;
        ASSERT_TRUE(answer);
        EXPECT_EQ((*answer)[4], token);
        EXPECT_GE(took, 20ms);
        const auto timing = host.Device().DelayedAnswerTiming();
        EXPECT_EQ(timing.answers, std::size_t(token) - 1);
        const auto late = timing.totalLate - before.totalLate;
        EXPECT_GE(late.count(), 0);
        EXPECT_GE(timing.maxLate, late);
        // Lateness is what the read took past the delay, never more than it all took.
        EXPECT_LE(late, took - 20ms);
    }
}

// --- Content -------------------------------------------------------------------

TEST(VirtualDevice, ContentIsStoredByteForByteAndCompletesTheUpdate) {
    Host host(DefaultEarbud());
    ASSERT_EQ(host.Offer(0x0F, 9, 0x20000000), kOfferAccept);

    const Bytes image = Pattern(52 * 2 + 10, 3);
    for (std::uint16_t block = 0; block < 3; ++block) {
        const std::size_t begin = block * 52u;
        const std::size_t end = std::min(image.size(), begin + 52);
        const std::uint8_t flags = block == 0 ? 0x80 : block == 2 ? 0x40 : 0x00;
        EXPECT_EQ(host.Device().CompletedTransfers(), 0u);
        ASSERT_TRUE(host.Write(ContentReport(
            flags, static_cast<std::uint16_t>(block + 100), static_cast<std::uint32_t>(begin),
            Bytes(image.begin() + static_cast<std::ptrdiff_t>(begin),
                  image.begin() + static_cast<std::ptrdiff_t>(end)))));
        const std::optional<Bytes> answer = host.Read();
        ASSERT_TRUE(answer);
        Bytes expected(17, 0);
        expected[0] = 0x22;
        expected[1] = static_cast<std::uint8_t>(block + 100);
        EXPECT_EQ(*answer, expected);
    }
    EXPECT_EQ(host.Device().ReadFlash(0x0F, 0, 1000), image);
    EXPECT_EQ(host.Device().CompletedTransfers(), 1u);
    EXPECT_EQ(host.Device().ComponentVersion(0x0F), 0x20000000u);
    EXPECT_EQ(host.Device().ContentBlockCount(), 3u);
}

TEST(VirtualDevice, VersionStaysWhenNotApplied) {
    DeviceBehaviour behaviour;
    behaviour.applyVersionOnComplete = false;
    Host host(EarbudWith(behaviour));
    ASSERT_EQ(host.Offer(0x0F, 1, 0x20000000), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0xC0, 0, 0, Pattern(8, 1))));
    ASSERT_TRUE(host.Read());
    EXPECT_EQ(host.Device().CompletedTransfers(), 1u);
    EXPECT_EQ(host.Device().ComponentVersion(0x0F), 0x10003001u);
}

TEST(VirtualDevice, AnImageEndsOnlyWithItsLastBlock) {
    // A lone block flagged only as first is not a whole image, whatever comes
    // after it.
    Host host(DefaultEarbud());
    ASSERT_EQ(host.Offer(0x0F, 1, 0x30000000), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0x80, 0, 0, Pattern(20, 1))));
    ASSERT_TRUE(host.Read());
    ASSERT_EQ(host.Offer(0x0F, 2, 0x40000000), kOfferAccept);
    EXPECT_EQ(host.Device().CompletedTransfers(), 0u);
    EXPECT_EQ(host.Device().ComponentVersion(0x0F), 0x10003001u);
}

TEST(VirtualDevice, ALastBlockAfterAHoleIsAnsweredWithAnError) {
    Host host(DefaultEarbud());
    ASSERT_EQ(host.Offer(0x0F, 1, 0x30000000), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0x80, 0, 0, Pattern(52, 1))));
    ASSERT_TRUE(host.Read());
    // Block 1 never arrives.
    ASSERT_TRUE(host.Write(ContentReport(0x40, 2, 104, Pattern(52, 3))));
    const std::optional<Bytes> answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentVerifyError);
    EXPECT_EQ(host.Device().CompletedTransfers(), 0u);
    EXPECT_EQ(host.Device().IncompleteImageCount(), 1u);
    // The missing block, then the last one again: now the image is whole.
    ASSERT_TRUE(host.Write(ContentReport(0x00, 1, 52, Pattern(52, 2))));
    ASSERT_TRUE(host.Read());
    ASSERT_TRUE(host.Write(ContentReport(0x40, 2, 104, Pattern(52, 3))));
    ASSERT_TRUE(host.Read());
    EXPECT_EQ(host.Device().CompletedTransfers(), 1u);
    EXPECT_EQ(host.Device().ComponentVersion(0x0F), 0x30000000u);
}

TEST(VirtualDevice, AnOfferForAComponentItLacksIsRejectedWithTheReason) {
    Host host(DefaultEarbud());
    Bytes random = OfferReport(0x5C, 7, 0x20000000);
    EXPECT_TRUE(host.Write(random));
    const std::optional<Bytes> answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[13], kOfferReject);
    EXPECT_EQ((*answer)[9], kRejectInvalidComponent);
    EXPECT_EQ((*answer)[4], 7);  // the offer's token
}

TEST(VirtualDevice, ContentWithoutAcceptedOfferOrPastTheFlashIsAnError) {
    DeviceBehaviour behaviour;
    behaviour.offerAnswers = {{kOfferReject}, {kOfferAccept}};
    Host host(EarbudWith(behaviour));
    ASSERT_TRUE(host.Write(ContentReport(0x80, 5, 0, Pattern(4, 1))));
    std::optional<Bytes> answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentNoOffer);

    ASSERT_EQ(host.Offer(0x0F, 1, 2), kOfferReject);
    ASSERT_TRUE(host.Write(ContentReport(0x80, 6, 0, Pattern(4, 1))));
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentNoOffer);

    ASSERT_EQ(host.Offer(0x0F, 2, 2), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0x00, 7, kFlashCapacity - 2, Pattern(4, 1))));
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentWriteError);
    ASSERT_TRUE(host.Write(ContentReport(0x00, 8, 0xFFFFFFF0u, Pattern(52, 1))));
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentWriteError);
    EXPECT_TRUE(host.Device().ReadFlash(0x0F, 0, 16).empty());
}

TEST(VirtualDevice, ContentScriptShapesTheAnswers) {
    DeviceBehaviour behaviour;
    ContentRule failOnce;
    failOnce.block = 1;
    failOnce.status = kContentWriteError;
    ContentRule wrongSequence;
    wrongSequence.block = 2;
    wrongSequence.sequence = 99;
    ContentRule lost;
    lost.block = 3;
    lost.silent = true;
    lost.times = 0;
    ContentRule late;
    late.block = 4;
    late.delayMs = 30;
    behaviour.contentScript = {failOnce, wrongSequence, lost, late};
    Host host(EarbudWith(behaviour));
    ASSERT_EQ(host.Offer(0x0F, 1, 2), kOfferAccept);

    const auto send = [&](std::uint16_t block) {
        return host.Write(ContentReport(0x00, block, block * 52u, Pattern(52, 0x10)));
    };
    ASSERT_TRUE(send(1));
    std::optional<Bytes> answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[1], 1);
    EXPECT_EQ((*answer)[5], kContentWriteError);
    EXPECT_TRUE(host.Device().ReadFlash(0x0F, 52, 52).empty()) << "a failed block is not stored";

    ASSERT_TRUE(send(1));  // the rule covered one arrival only
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[5], kContentSuccess);
    EXPECT_EQ(host.Device().ReadFlash(0x0F, 52, 52), Pattern(52, 0x10));

    ASSERT_TRUE(send(2));
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[1], 99);
    EXPECT_EQ((*answer)[2], 0);
    EXPECT_EQ((*answer)[5], kContentSuccess);

    for (int i = 0; i < 2; ++i) {  // times 0: every arrival is lost
        ASSERT_TRUE(send(3));
        EXPECT_FALSE(host.Read(0));
    }

    ASSERT_TRUE(send(4));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_FALSE(host.Read(0));
    answer = host.Read();
    ASSERT_TRUE(answer);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 30ms);
    EXPECT_EQ((*answer)[1], 4);
}

TEST(VirtualDevice, UnplugAtBlockRemovesTheDeviceUntilPluggedBack) {
    DeviceBehaviour behaviour;
    ContentRule unplug;
    unplug.block = 2;
    unplug.unplug = true;
    behaviour.contentScript = {unplug};
    Host host(EarbudWith(behaviour));
    ASSERT_EQ(host.Offer(0x0F, 1, 2), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0x80, 1, 0, Pattern(52, 1))));
    ASSERT_TRUE(host.Read());

    ASSERT_TRUE(host.Write(ContentReport(0x00, 2, 52, Pattern(52, 2))));
    EXPECT_FALSE(host.Device().IsPlugged());
    Bytes buffer(64);
    std::size_t received = 9;
    EXPECT_EQ(host.Backend().ReadInput(host.Handle(), buffer.data(), buffer.size(), received, 0),
              HidReadResult::DeviceGone);
    EXPECT_EQ(received, 0u);
    EXPECT_FALSE(host.Write(OfferReport(0x0F, 2, 2)));
    std::vector<std::u16string> paths;
    EXPECT_EQ(host.Backend().ListInterfaces(paths), 0);
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(host.Backend().Open(host.Device().Path(), HidOpenMode::Io), kInvalidHidHandle);

    host.Device().Plug();
    EXPECT_FALSE(host.Write(OfferReport(0x0F, 2, 2))) << "handles of the old session stay dead";
    const HidHandle fresh = host.Backend().Open(host.Device().Path(), HidOpenMode::Io);
    ASSERT_NE(fresh, kInvalidHidHandle);
    const Bytes block2 = ContentReport(0x00, 2, 52, Pattern(52, 2));
    EXPECT_TRUE(host.Backend().SetOutputReport(fresh, block2.data(), block2.size()));
    ASSERT_EQ(host.Backend().ReadInput(fresh, buffer.data(), buffer.size(), received, kPatientMs),
              HidReadResult::Data);
    EXPECT_EQ(buffer[5], kContentNoOffer) << "the offer did not survive the unplug";
    EXPECT_EQ(host.Device().ReadFlash(0x0F, 0, 52), Pattern(52, 1)) << "flash did";
}

// A bud restarts after its update and comes back under a new node, as real
// ones do: the old node and its handles are gone for good, the new one
// reports the applied version and keeps the flash; its serial is readable
// without opening it.
TEST(VirtualDevice, ARestartedDeviceComesBackUnderANewNodeWithWhatItStored) {
    struct Case {
        const char* name;
        DeviceBehaviour::Reappearance reappear;
        bool listedAgain;        // within the test's time
        const char16_t* serial;  // on the new node
    };
    const Case cases[] = {
        {"at once", {0, std::nullopt}, true, u"SER-1"},
        {"as another device", {0, std::string("SER-\xC3\xA9")}, true, u"SER-\u00E9"},
        {"not before its delay", {600000, std::nullopt}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig config = DefaultEarbud();
        config.serial = "SER-1";
        config.behaviour.reappearAsNewNode = c.reappear;
        Host host(config);
        const std::u16string oldPath = host.Device().Path();
        std::u16string serial;
        EXPECT_TRUE(host.Backend().SerialNumber(oldPath, serial));
        EXPECT_EQ(serial, u"SER-1");

        ASSERT_EQ(host.Offer(0x0F, 1, 0x20000000), kOfferAccept);
        const Bytes image = Pattern(30, 4);
        ASSERT_TRUE(host.Write(ContentReport(0xC0, 0, 0, image)));
        std::vector<std::u16string> paths;
        ASSERT_EQ(host.Backend().ListInterfaces(paths), 0);
        EXPECT_EQ(paths, std::vector<std::u16string>{oldPath})
            << "the answer to the last block goes out first";
        ASSERT_TRUE(host.Read());

        Bytes buffer(64);
        std::size_t received = 0;
        EXPECT_EQ(
            host.Backend().ReadInput(host.Handle(), buffer.data(), buffer.size(), received, 0),
            HidReadResult::DeviceGone);
        EXPECT_EQ(host.Backend().Open(oldPath, HidOpenMode::Io), kInvalidHidHandle);
        EXPECT_FALSE(host.Backend().SerialNumber(oldPath, serial));
        ASSERT_EQ(host.Backend().ListInterfaces(paths), 0);
        if (!c.listedAgain) {
            EXPECT_TRUE(paths.empty());
            EXPECT_FALSE(host.Device().IsPlugged());
            continue;
        }
        ASSERT_EQ(paths.size(), 1u);
        const std::u16string newPath = paths.front();
        EXPECT_EQ(newPath, VirtualDevicePath(config, 0, 1));
        EXPECT_NE(newPath, oldPath);
        EXPECT_EQ(host.Device().NodeInstance(), 1u);
        EXPECT_TRUE(host.Backend().SerialNumber(newPath, serial));
        EXPECT_EQ(serial, c.serial);

        const HidHandle fresh = host.Backend().Open(newPath, HidOpenMode::Io);
        ASSERT_NE(fresh, kInvalidHidHandle);
        Bytes version(61, 0);
        version[0] = 0x20;
        ASSERT_TRUE(host.Backend().GetFeature(fresh, version.data(), version.size()));
        EXPECT_EQ(Le32(version, 5), 0x20000000u);
        EXPECT_EQ(host.Device().ReadFlash(0x0F, 0, image.size()), image);
        host.Backend().Close(fresh);
    }
}

TEST(VirtualDevice, UnplugWakesABlockedReader) {
    Host host(DefaultEarbud());
    std::atomic<bool> started{false};
    HidReadResult result = HidReadResult::Data;
    std::chrono::steady_clock::duration waited{};
    std::thread reader([&] {
        Bytes buffer(64);
        std::size_t received = 0;
        started = true;
        const auto begin = std::chrono::steady_clock::now();
        result = host.Backend().ReadInput(host.Handle(), buffer.data(), buffer.size(), received,
                                          kPatientMs);
        waited = std::chrono::steady_clock::now() - begin;
    });
    while (!started) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(10ms);
    host.Device().Unplug();
    reader.join();
    EXPECT_EQ(result, HidReadResult::DeviceGone);
    EXPECT_LT(waited, std::chrono::milliseconds{kPatientMs});
}

TEST(VirtualDevice, SilentDeviceTakesReportsWithoutAnswering) {
    DeviceBehaviour behaviour;
    behaviour.silent = true;
    Host host(EarbudWith(behaviour));
    EXPECT_TRUE(host.Write(OfferReport(0x0F, 1, 2)));
    EXPECT_TRUE(host.Write(ContentReport(0xC0, 0, 0, Pattern(4, 1))));
    EXPECT_FALSE(host.Read(0));
    EXPECT_TRUE(host.Device().ReadFlash(0x0F, 0, 4).empty());
    EXPECT_EQ(host.Device().WrittenReportCount(), 2u);
}

TEST(VirtualDevice, ReportsThatCannotBeTakenAreRefused) {
    Host host(DefaultEarbud());
    Bytes unknown = OfferReport(0x0F, 1, 2);
    unknown[0] = 0x20;  // the version report is not an output report
    Bytes tooLong = OfferReport(0x0F, 1, 2);
    tooLong.push_back(0);
    const Bytes shortOffer(16, 0x23);
    Bytes shortContent = ContentReport(0x00, 0, 0, Pattern(52, 1));
    shortContent.resize(9 + 51);  // the length byte claims 52 data bytes
    const Bytes header(8, 0x21);
    const Bytes cases[] = {unknown, tooLong, shortOffer, shortContent, header};
    for (const Bytes& report : cases) {
        EXPECT_FALSE(host.Write(report)) << report.size();
    }
    EXPECT_FALSE(host.Backend().SetOutputReport(host.Handle(), nullptr, 0));
    EXPECT_EQ(host.Device().WrittenReportCount(), 0u);
    EXPECT_FALSE(host.Read(0));

    const Bytes offer = OfferReport(0x0F, 1, 2);
    const HidHandle query = host.Backend().Open(host.Device().Path(), HidOpenMode::Query);
    EXPECT_FALSE(host.Backend().SetOutputReport(query, offer.data(), offer.size()));
    Bytes feature(61, 0);
    feature[0] = 0x20;
    EXPECT_FALSE(host.Backend().GetFeature(query, feature.data(), feature.size()));
    std::size_t received = 0;
    EXPECT_EQ(host.Backend().ReadInput(query, feature.data(), feature.size(), received, 0),
              HidReadResult::Failed);
    EXPECT_FALSE(host.Backend().SetFeature(host.Handle(), feature.data(), feature.size()));

    EXPECT_TRUE(host.Write(offer));
    ASSERT_EQ(host.Device().WrittenReports().size(), 1u);
    EXPECT_EQ(host.Device().WrittenReports()[0], offer);
}

// --- Backend -------------------------------------------------------------------

TEST(VirtualHidBackend, HandlesListsAndFaults) {
    VirtualDeviceConfig noOpen = DefaultEarbud();
    noOpen.behaviour.faults.open = true;
    VirtualDeviceConfig noDescriptor = DefaultEarbud();
    noDescriptor.behaviour.faults.descriptor = true;
    VirtualDeviceConfig noWrites = DefaultEarbud();
    noWrites.behaviour.faults.writes = true;
    VirtualHidBackend backend({DefaultEarbud(), noOpen, noDescriptor, noWrites});

    std::vector<std::u16string> paths{u"stale"};
    backend.FailNextList(3);
    EXPECT_EQ(backend.ListInterfaces(paths), 3);
    EXPECT_TRUE(paths.empty());
    ASSERT_EQ(backend.ListInterfaces(paths), 0);
    ASSERT_EQ(paths.size(), 4u);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(paths[i], backend.Device(i).Path());
        EXPECT_EQ(paths[i].find(u' '), std::u16string::npos);
    }

    const HidHandle first = backend.Open(paths[0], HidOpenMode::Io);
    const HidHandle second = backend.Open(paths[0], HidOpenMode::Query);
    EXPECT_EQ(first, 0x1000u);
    EXPECT_EQ(second, 0x1004u);
    EXPECT_EQ(backend.Open(u"\\\\?\\HID#VID_0000&PID_0000#nothing", HidOpenMode::Io),
              kInvalidHidHandle);
    EXPECT_EQ(backend.Open(paths[1], HidOpenMode::Query), kInvalidHidHandle);

    const HidHandle descriptorless = backend.Open(paths[2], HidOpenMode::Query);
    ASSERT_NE(descriptorless, kInvalidHidHandle);
    EXPECT_EQ(backend.GetDescriptor(descriptorless), nullptr);

    const HidHandle writeless = backend.Open(paths[3], HidOpenMode::Io);
    const Bytes offer = OfferReport(0x0F, 1, 2);
    EXPECT_FALSE(backend.SetOutputReport(writeless, offer.data(), offer.size()));

    EXPECT_TRUE(backend.Close(second));
    EXPECT_FALSE(backend.Close(second));
    EXPECT_FALSE(backend.Close(0x2000));
    EXPECT_EQ(backend.GetDescriptor(second), nullptr);
}

TEST(VirtualHidBackend, ReadCopiesNoMoreThanTheCapacity) {
    Host host(DefaultEarbud());
    host.Device().InjectInputReport(Pattern(40, 5));
    Bytes buffer(20, 0xEE);
    std::size_t received = 0;
    ASSERT_EQ(host.Backend().ReadInput(host.Handle(), buffer.data(), 16, received, 0),
              HidReadResult::Data);
    EXPECT_EQ(received, 16u);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 16), Pattern(16, 5));
    EXPECT_EQ(buffer[16], 0xEE);
}

TEST(VirtualHidBackend, ConcurrentReaderSeesEveryAnswerInOrder) {
    Host host(DefaultEarbud());
    constexpr int kOffers = 300;
    std::vector<std::uint8_t> tokens;
    std::thread reader([&] {
        for (int i = 0; i < kOffers; ++i) {
            const std::optional<Bytes> answer = host.Read();
            if (!answer) {
                return;
            }
            tokens.push_back((*answer)[4]);
        }
    });
    for (int i = 0; i < kOffers; ++i) {
        EXPECT_TRUE(host.Write(OfferReport(0x0F, static_cast<std::uint8_t>(i), 1)));
    }
    reader.join();
    ASSERT_EQ(tokens.size(), static_cast<std::size_t>(kOffers));
    for (int i = 0; i < kOffers; ++i) {
        EXPECT_EQ(tokens[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i));
    }
}

// One updater per device: the first I/O handle to lock holds the device
// until it unlocks or closes; a query handle cannot hold it.
TEST(VirtualDevice, UpdateLockIsHeldByOneIoHandleUntilUnlockOrClose) {
    Host host(DefaultEarbud());
    VirtualHidBackend& backend = host.Backend();
    const HidHandle first = host.Handle();
    const HidHandle second = backend.Open(host.Device().Path(), HidOpenMode::Io);
    const HidHandle query = backend.Open(host.Device().Path(), HidOpenMode::Query);
    ASSERT_NE(second, kInvalidHidHandle);
    ASSERT_NE(query, kInvalidHidHandle);

    EXPECT_EQ(backend.LockForUpdate(query), HidLockResult::Failed);
    EXPECT_EQ(backend.LockForUpdate(first), HidLockResult::Taken);
    EXPECT_EQ(backend.LockForUpdate(first), HidLockResult::Taken) << "again on the holder";
    EXPECT_EQ(backend.LockForUpdate(second), HidLockResult::HeldElsewhere);
    backend.UnlockForUpdate(second);  // not the holder: changes nothing
    EXPECT_EQ(backend.LockForUpdate(second), HidLockResult::HeldElsewhere);

    backend.UnlockForUpdate(first);
    EXPECT_EQ(backend.LockForUpdate(second), HidLockResult::Taken);
    EXPECT_EQ(backend.LockForUpdate(first), HidLockResult::HeldElsewhere);
    EXPECT_TRUE(backend.Close(second));
    EXPECT_EQ(backend.LockForUpdate(first), HidLockResult::Taken) << "closing released it";
    backend.Close(query);
}

// --- Presence schedule and change watch --------------------------------------

TEST(VirtualDeviceFile, ScheduleIsReadStrictlyInIncreasingTime) {
    struct Case {
        const char* schedule;
        const char* error;  // empty: accepted, giving `steps`
        std::vector<PresenceStep> steps;
    };
    const Case cases[] = {
        {"[]", "", {}},
        {R"([{"atMs": 0, "action": "unplug"}, {"atMs": 50, "action": "plug", "newNode": true},
             {"atMs": "0x40", "action": "unplug", "_why": "back in its case"}])",
         "",
         {{0, false, false}, {50, true, true}, {64, false, false}}},
        {R"([{"atMs": 4294967295, "action": "plug", "newNode": false}])",
         "",
         {{4294967295u, true, false}}},
        {"{}", "devices[1].schedule: expected an array of steps", {}},
        {"[5]", "devices[1].schedule[0]: expected an object", {}},
        {R"([{"action": "plug"}])", "devices[1].schedule[0].atMs: missing", {}},
        {R"([{"atMs": 1}])", "devices[1].schedule[0].action: missing", {}},
        {R"([{"atMs": -1, "action": "plug"}])",
         "devices[1].schedule[0].atMs: expected a 32-bit number",
         {}},
        {R"([{"atMs": 4294967296, "action": "plug"}])",
         "devices[1].schedule[0].atMs: expected a 32-bit number",
         {}},
        {R"([{"atMs": 1, "action": "replug"}])",
         R"(devices[1].schedule[0].action: expected "plug" or "unplug")",
         {}},
        {R"([{"atMs": 1, "action": true}])",
         R"(devices[1].schedule[0].action: expected "plug" or "unplug")",
         {}},
        {R"([{"atMs": 1, "action": "unplug", "newNode": true}])",
         "devices[1].schedule[0].newNode: only a plug comes back under a new node",
         {}},
        {R"([{"atMs": 1, "action": "plug", "newNode": 1}])",
         "devices[1].schedule[0].newNode: expected true or false",
         {}},
        {R"([{"atMs": 1, "action": "plug", "when": 2}])",
         "devices[1].schedule[0].when: unknown field",
         {}},
        {R"([{"atMs": 5, "action": "unplug"}, {"atMs": 5, "action": "plug"}])",
         "devices[1].schedule[1].atMs: expected a time after the previous step's (5)",
         {}},
        {R"([{"atMs": 9, "action": "unplug"}, {"atMs": 10, "action": "plug"},
             {"atMs": 3, "action": "unplug"}])",
         "devices[1].schedule[2].atMs: expected a time after the previous step's (10)",
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.schedule);
        const std::string text = std::string(R"({"devices": [{"vendorId": 1, "productId": 1},
                                        {"vendorId": 1, "productId": 2, "schedule": )") +
                                 c.schedule + "}]}";
        std::vector<VirtualDeviceConfig> devices;
        std::string error;
        const bool accepted = ParseVirtualDevices(text, "line.json", devices, error);
        if (*c.error != '\0') {
            EXPECT_FALSE(accepted);
            EXPECT_EQ(error, std::string("line.json: ") + c.error);
            continue;
        }
        ASSERT_TRUE(accepted) << error;
        const std::vector<PresenceStep>& steps = devices.at(1).schedule;
        ASSERT_EQ(steps.size(), c.steps.size());
        for (std::size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(steps[i].atMs, c.steps[i].atMs) << i;
            EXPECT_EQ(steps[i].plug, c.steps[i].plug) << i;
            EXPECT_EQ(steps[i].newNode, c.steps[i].newNode) << i;
        }
        EXPECT_TRUE(devices.at(0).schedule.empty());
    }
}

// Far longer than any test runs: a watch that sleeps past a due change is
// caught by SeesChange instead of returning at its time-out.
constexpr std::uint32_t kForeverMs = 600000;

// Whether `watch` reports a change while waiting up to kForeverMs, judged
// within kPatientMs. When it does not, `rescue` is unplugged and plugged to
// end the wait, and the test fails.
bool SeesChange(HidChangeWatch& watch, VirtualDevice& rescue) {
    auto waited =
        std::async(std::launch::async, [&watch] { return watch.WaitForChange(kForeverMs); });
    if (waited.wait_for(std::chrono::milliseconds(kPatientMs)) == std::future_status::ready) {
        return waited.get();
    }
    ADD_FAILURE() << "the watch slept past a change";
    rescue.Unplug();
    rescue.Plug();
    waited.get();
    return false;
}

std::vector<std::u16string> Listing(VirtualHidBackend& backend) {
    std::vector<std::u16string> paths;
    EXPECT_EQ(backend.ListInterfaces(paths), 0);
    return paths;
}

TEST(VirtualChangeWatch, WakesWhenATestUnplugsAndPlugs) {
    VirtualHidBackend backend({DefaultEarbud()});
    const std::unique_ptr<HidChangeWatch> watch = backend.WatchInterfaces();
    ASSERT_NE(watch, nullptr);
    EXPECT_EQ(watch->Mechanism(), "virtual device schedule");

    std::thread tester([&backend] {
        std::this_thread::sleep_for(20ms);
        backend.Device(0).Unplug();
    });
    EXPECT_TRUE(watch->WaitForChange(kPatientMs));
    tester.join();
    EXPECT_TRUE(Listing(backend).empty());

    tester = std::thread([&backend] {
        std::this_thread::sleep_for(20ms);
        backend.Device(0).Plug();
    });
    EXPECT_TRUE(watch->WaitForChange(kPatientMs));
    tester.join();
    EXPECT_EQ(Listing(backend).size(), 1u);
}

TEST(VirtualChangeWatch, AChangeBeforeTheWaitIsKeptForEveryWatch) {
    VirtualHidBackend backend({DefaultEarbud(), DefaultEarbud()});
    const std::unique_ptr<HidChangeWatch> first = backend.WatchInterfaces();
    const std::unique_ptr<HidChangeWatch> second = backend.WatchInterfaces();
    backend.Device(1).Unplug();
    const std::unique_ptr<HidChangeWatch> later = backend.WatchInterfaces();

    EXPECT_TRUE(first->WaitForChange(0));
    EXPECT_TRUE(second->WaitForChange(0));
    EXPECT_FALSE(first->WaitForChange(0)) << "nothing happened since";
    EXPECT_FALSE(later->WaitForChange(0)) << "made after the change";
}

TEST(VirtualChangeWatch, TimesOutWhenNothingIsDue) {
    VirtualDeviceConfig leavesLater = DefaultEarbud();
    leavesLater.schedule = {{kForeverMs, false, false}};
    VirtualHidBackend backend({DefaultEarbud(), leavesLater});
    const std::unique_ptr<HidChangeWatch> watch = backend.WatchInterfaces();
    EXPECT_FALSE(watch->WaitForChange(30));
    EXPECT_EQ(Listing(backend).size(), 2u);
}

TEST(VirtualChangeWatch, AScheduledChangeIsMadeAtItsTimeAndSeen) {
    struct Case {
        const char* name;
        std::vector<PresenceStep> schedule;
        bool listedAtFirst;
        std::optional<std::uint32_t> instanceAtLast;  // nothing: not listed at last
    };
    const Case cases[] = {
        {"appears after a delay", {{30, true, false}}, false, 0},
        {"goes", {{30, false, false}}, true, std::nullopt},
        {"comes back under a new node", {{20, false, false}, {50, true, true}}, true, 1},
        {"comes and goes", {{20, true, false}, {40, false, false}}, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig config = DefaultEarbud();
        config.schedule = c.schedule;
        // The other device stays: the watch waits on the one with a schedule.
        const auto created = std::chrono::steady_clock::now();
        VirtualHidBackend backend({DefaultEarbud(), config});
        const std::unique_ptr<HidChangeWatch> watch = backend.WatchInterfaces();
        VirtualDevice& device = backend.Device(1);
        EXPECT_EQ(Listing(backend).size(), c.listedAtFirst ? 2u : 1u);
        const HidHandle handle =
            c.listedAtFirst ? backend.Open(device.Path(), HidOpenMode::Io) : kInvalidHidHandle;

        // Every wake-up brings at least one change (several may come as one),
        // until the schedule is through.
        const auto lastDue = created + std::chrono::milliseconds(c.schedule.back().atMs);
        std::size_t wakes = 0;
        do {
            ASSERT_TRUE(SeesChange(*watch, backend.Device(0)));
            ASSERT_LE(++wakes, c.schedule.size());
        } while (std::chrono::steady_clock::now() < lastDue);

        const std::vector<std::u16string> paths = Listing(backend);
        if (c.instanceAtLast) {
            ASSERT_EQ(paths.size(), 2u);
            EXPECT_EQ(paths[1], VirtualDevicePath(config, 1, *c.instanceAtLast));
        } else {
            EXPECT_EQ(paths, std::vector<std::u16string>{backend.Device(0).Path()});
        }
        if (handle != kInvalidHidHandle) {
            Bytes buffer(64);
            std::size_t received = 0;
            EXPECT_EQ(backend.ReadInput(handle, buffer.data(), buffer.size(), received, 0),
                      HidReadResult::DeviceGone)
                << "the scheduled unplug ended the session";
            backend.Close(handle);
        }
    }
}

TEST(VirtualChangeWatch, SeesARestartedDeviceGoAndComeBack) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.reappearAsNewNode = DeviceBehaviour::Reappearance{30, std::nullopt};
    Host host(config);
    const std::unique_ptr<HidChangeWatch> watch = host.Backend().WatchInterfaces();
    ASSERT_EQ(host.Offer(0x0F, 1, 0x20000000), kOfferAccept);
    ASSERT_TRUE(host.Write(ContentReport(0xC0, 0, 0, Pattern(30, 4))));
    ASSERT_TRUE(host.Read());  // the answer to the last block; then it restarts

    const std::u16string newPath = VirtualDevicePath(config, 0, 1);
    int changes = 0;
    while (Listing(host.Backend()) != std::vector<std::u16string>{newPath}) {
        ASSERT_TRUE(SeesChange(*watch, host.Device()));
        ASSERT_LE(++changes, 2) << "it went and came back: at most two changes";
    }
    EXPECT_GE(changes, 1);
}

TEST(VirtualChangeWatch, SeveralWatchesOnThreadsEachSeeTheChanges) {
    VirtualDeviceConfig arrives = DefaultEarbud();
    arrives.schedule = {{20, true, false}, {40, false, false}, {60, true, true}};
    VirtualHidBackend backend({DefaultEarbud(), arrives});
    std::vector<std::unique_ptr<HidChangeWatch>> watches;
    for (int i = 0; i < 3; ++i) {
        watches.push_back(backend.WatchInterfaces());
    }
    std::atomic<bool> stop{false};
    std::atomic<int> sawTheLast{0};
    std::vector<std::thread> watchers;
    const std::u16string last = VirtualDevicePath(arrives, 1, 1);
    for (auto& watch : watches) {
        watchers.emplace_back([&, w = watch.get()] {
            // Each watch lists after every change until it sees the last one.
            for (;;) {
                std::vector<std::u16string> paths;
                backend.ListInterfaces(paths);
                if (paths.size() == 2 && paths[1] == last) {
                    ++sawTheLast;
                    return;
                }
                if (stop || !w->WaitForChange(kPatientMs)) {
                    return;
                }
            }
        });
    }
    // Meanwhile a test flips the other device.
    for (int i = 0; i < 20; ++i) {
        backend.Device(0).Unplug();
        backend.Device(0).Plug();
    }
    ASSERT_TRUE(
        testing::WaitUntil([&] { return sawTheLast == 3; }, std::chrono::milliseconds(kPatientMs)));
    stop = true;
    for (std::thread& watcher : watchers) {
        watcher.join();
    }
}

}  // namespace
}  // namespace zelk::hid::virt
