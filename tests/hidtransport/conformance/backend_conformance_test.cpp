// What every HID backend must do, written once against the seam. Runs on the
// virtual backend everywhere, and on the hidraw backend against kernel devices
// made through /dev/uhid (scripts/kernel-hid-tests.sh runs it in a guest).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/device_discovery.h"
#include "hidtransport/virtual/report_descriptor_builder.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "tests/hidtransport/conformance/backend_rig.h"

namespace zelk::hid::conformance {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: a guest under software emulation on a loaded machine is slow.
constexpr milliseconds kPromptly{2000};

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

virt::VirtualDeviceConfig Earbud(std::uint16_t productId, int interfaceNumber = 2) {
    virt::VirtualDeviceConfig config = virt::DefaultEarbud();
    config.productId = productId;
    config.interfaceNumber = interfaceNumber;
    return config;
}

// One vendor collection without report IDs: 16 bytes each of input, output
// and feature.
virt::VirtualDeviceConfig WithoutReportIds() {
    virt::VirtualDeviceConfig config = Earbud(0x7001, -1);
    config.descriptor = {0x06, 0x0B, 0xFF, 0x0A, 0x04, 0x01, 0xA1, 0x01, 0x15, 0x00,
                         0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x10, 0x09, 0x66, 0x81,
                         0x02, 0x09, 0x61, 0x91, 0x02, 0x09, 0x62, 0xB1, 0x02, 0xC0};
    return config;
}

// A consumer-control collection (report ID 1, 2 bytes of input) before the
// CFU collection.
virt::VirtualDeviceConfig TwoCollections() {
    virt::VirtualDeviceConfig config = Earbud(0x7002);
    std::vector<std::uint8_t> bytes = {0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                                       0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95,
                                       0x02, 0x09, 0xE9, 0x81, 0x02, 0xC0};
    const std::vector<std::uint8_t> cfu = virt::BuildReportDescriptor(config);
    bytes.insert(bytes.end(), cfu.begin(), cfu.end());
    config.descriptor = bytes;
    return config;
}

// An offer for component 0x0F with `token`, padded to the output length.
std::vector<std::uint8_t> Offer(std::uint8_t token, std::size_t length) {
    std::vector<std::uint8_t> report(length, 0);
    report[0] = 0x23;
    report[3] = 0x0F;
    report[4] = token;
    report[5] = 0x01;
    return report;
}

class BackendConformance : public ::testing::Test {
  protected:
    void Start(std::vector<virt::VirtualDeviceConfig> devices) {
        std::string error;
        rig_ = MakeRig(std::move(devices), error);
        ASSERT_NE(rig_, nullptr) << error;
    }
    HidBackend& Backend() { return rig_->Backend(); }
    std::u16string OnlyPath(std::size_t index) {
        const std::vector<std::u16string> paths = rig_->PathsOf(index);
        EXPECT_EQ(paths.size(), 1u);
        return paths.empty() ? std::u16string() : paths.front();
    }
    HidHandle OpenIo(std::size_t index) {
        const HidHandle handle = Backend().Open(OnlyPath(index), HidOpenMode::Io);
        EXPECT_NE(handle, kInvalidHidHandle);
        return handle;
    }
    HidCaps CapsOf(const std::u16string& path) {
        std::unique_ptr<HidDescriptor> descriptor;
        HidCaps caps;
        EXPECT_EQ(QueryInterfaceCaps(Backend(), path, descriptor, caps), 0) << Narrow(path);
        return caps;
    }

    std::unique_ptr<BackendRig> rig_;
};

TEST_F(BackendConformance, ListsEveryDeviceWithItsIdentityInAStableOrder) {
    Start({Earbud(0x5055, 2), Earbud(0x6001, -1)});
    std::vector<std::u16string> first;
    std::vector<std::u16string> second;
    ASSERT_EQ(Backend().ListInterfaces(first), 0);
    ASSERT_EQ(Backend().ListInterfaces(second), 0);
    EXPECT_EQ(first, second);

    const std::u16string numbered = OnlyPath(0);
    const std::u16string plain = OnlyPath(1);
    EXPECT_NE(Narrow(numbered).find("VID_320F&PID_5055&MI_02"), std::string::npos)
        << Narrow(numbered);
    EXPECT_NE(Narrow(plain).find("VID_320F&PID_6001"), std::string::npos) << Narrow(plain);
    EXPECT_EQ(Narrow(plain).find("&MI_"), std::string::npos) << Narrow(plain);
    for (const std::u16string& path : {numbered, plain}) {
        EXPECT_EQ(std::count(first.begin(), first.end(), path), 1) << Narrow(path);
        EXPECT_EQ(Narrow(path).find(' '), std::string::npos);
    }
    EXPECT_TRUE(MatchInterfacePath(numbered, 0x320F, 0x5055));
    EXPECT_FALSE(MatchInterfacePath(plain, 0x320F, 0x5055));
}

TEST_F(BackendConformance, OpensAndClosesHandles) {
    Start({Earbud(0x5055)});
    const std::u16string path = OnlyPath(0);
    const HidHandle query = Backend().Open(path, HidOpenMode::Query);
    const HidHandle io = Backend().Open(path, HidOpenMode::Io);
    ASSERT_NE(query, kInvalidHidHandle);
    ASSERT_NE(io, kInvalidHidHandle);
    EXPECT_NE(query, io);
    EXPECT_TRUE(Backend().Close(query));
    EXPECT_FALSE(Backend().Close(query));
    EXPECT_TRUE(Backend().Close(io));
    EXPECT_FALSE(Backend().Close(kInvalidHidHandle));

    for (const std::u16string& bad : {rig_->MissingPath(), std::u16string(u"/dev/null"),
                                      std::u16string(u""), std::u16string(u"not a path")}) {
        EXPECT_EQ(Backend().Open(bad, HidOpenMode::Query), kInvalidHidHandle) << Narrow(bad);
        EXPECT_EQ(Backend().Open(bad, HidOpenMode::Io), kInvalidHidHandle) << Narrow(bad);
    }
}

TEST_F(BackendConformance, CapabilitiesCountTheReportIdByte) {
    struct Case {
        const char* what;
        virt::VirtualDeviceConfig device;
        std::uint16_t input, output, feature;
    };
    virt::VirtualDeviceConfig small = Earbud(0x6002);
    small.version.size = 20;
    small.offer.size = 32;
    small.content.size = 32;
    small.offerResponse.size = 8;
    small.contentResponse.size = 8;
    const std::vector<Case> cases = {
        {"the default earbud", Earbud(0x5055), 17, 61, 61},
        {"smaller reports", small, 9, 33, 21},
        {"no report IDs", WithoutReportIds(), 17, 17, 17},
    };
    std::vector<virt::VirtualDeviceConfig> devices;
    for (const Case& c : cases) {
        devices.push_back(c.device);
    }
    Start(devices);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const HidCaps caps = CapsOf(OnlyPath(i));
        EXPECT_EQ(caps.UsagePage, 0xFF0B);
        EXPECT_EQ(caps.Usage, 0x0104);
        EXPECT_EQ(caps.InputReportByteLength, cases[i].input);
        EXPECT_EQ(caps.OutputReportByteLength, cases[i].output);
        EXPECT_EQ(caps.FeatureReportByteLength, cases[i].feature);
    }

    const HidHandle handle = Backend().Open(OnlyPath(0), HidOpenMode::Query);
    const std::unique_ptr<HidDescriptor> descriptor = Backend().GetDescriptor(handle);
    ASSERT_NE(descriptor, nullptr);
    std::vector<HidCapability> found;
    EXPECT_GE(descriptor->GetSpecificValueCaps(HidReportType::Feature, 0, 0, 0x62, found), 0);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().ReportId, 0x20);
    Backend().Close(handle);
}

TEST_F(BackendConformance, AReportWrittenWhileAReadWaitsIsAnswered) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    std::vector<std::uint8_t> answer(255, 0xAA);
    std::size_t received = 0;
    const auto start = Clock::now();
    auto reader = std::async(std::launch::async, [&] {
        return Backend().ReadInput(handle, answer.data(), answer.size(), received, 10000);
    });
    std::this_thread::sleep_for(milliseconds(50));
    const std::vector<std::uint8_t> offer = Offer(0x42, 61);
    ASSERT_TRUE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), HidReadResult::Data);
    EXPECT_LT(MsSince(start), 50 + kPromptly.count());
    EXPECT_EQ(received, 17u);
    EXPECT_EQ(answer[0], 0x24);  // the offer response
    EXPECT_EQ(answer[4], 0x42);  // carries the offer's token
    EXPECT_EQ(rig_->Model(0).OfferCount(), 1u);
    Backend().Close(handle);
}

TEST_F(BackendConformance, ReadsEndAtTheirTimeOut) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    for (const std::uint32_t timeoutMs : {0u, 30u, 250u}) {
        std::uint8_t buffer[255];
        std::size_t received = 99;
        const auto start = Clock::now();
        EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, timeoutMs),
                  HidReadResult::TimedOut);
        const long long elapsed = MsSince(start);
        EXPECT_GE(elapsed, static_cast<long long>(timeoutMs) - 1) << timeoutMs;
        EXPECT_LT(elapsed, static_cast<long long>(timeoutMs) + kPromptly.count()) << timeoutMs;
        EXPECT_EQ(received, 0u);
    }
    Backend().Close(handle);
}

// A reader told to stop must not sit out its time-out: InterruptRead ends a
// waiting read, or else the next one, and the handle reads normally after.
TEST_F(BackendConformance, AnInterruptEndsAWaitingOrTheNextReadAtOnce) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    std::uint8_t buffer[255];
    std::size_t received = 99;
    auto reader = std::async(std::launch::async, [&] {
        return Backend().ReadInput(handle, buffer, sizeof buffer, received, 30000);
    });
    std::this_thread::sleep_for(milliseconds(50));
    Backend().InterruptRead(handle);
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), HidReadResult::TimedOut);
    EXPECT_EQ(received, 0u);

    // Given before the read starts, it ends that read; only that one.
    Backend().InterruptRead(handle);
    auto next = std::async(std::launch::async, [&] {
        return Backend().ReadInput(handle, buffer, sizeof buffer, received, 30000);
    });
    ASSERT_EQ(next.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(next.get(), HidReadResult::TimedOut);
    const std::vector<std::uint8_t> offer = Offer(0x17, 61);
    ASSERT_TRUE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, 5000),
              HidReadResult::Data);
    EXPECT_EQ(buffer[4], 0x17);

    // On a handle that is not open (or closed) it does nothing.
    Backend().Close(handle);
    Backend().InterruptRead(handle);
    Backend().InterruptRead(kInvalidHidHandle);
}

TEST_F(BackendConformance, FeatureReportsAreReadByIdAndRefusedWhenUnknown) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    std::vector<std::uint8_t> version(61, 0);
    version[0] = 0x20;
    ASSERT_TRUE(Backend().GetFeature(handle, version.data(), version.size()));
    EXPECT_EQ(version[0], 0x20);
    EXPECT_EQ(version[1], 1);  // one component
    EXPECT_EQ(rig_->Model(0).VersionQueryCount(), 1u);

    std::vector<std::uint8_t> unknown(61, 0);
    unknown[0] = 0x7E;
    EXPECT_FALSE(Backend().GetFeature(handle, unknown.data(), unknown.size()));
    // The earbud has no feature report the host may set.
    EXPECT_FALSE(Backend().SetFeature(handle, version.data(), version.size()));
    Backend().Close(handle);
}

TEST_F(BackendConformance, QueryHandlesMoveNoReports) {
    Start({Earbud(0x5055)});
    const HidHandle handle = Backend().Open(OnlyPath(0), HidOpenMode::Query);
    ASSERT_NE(handle, kInvalidHidHandle);
    const std::vector<std::uint8_t> offer = Offer(1, 61);
    EXPECT_FALSE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    std::uint8_t buffer[255];
    std::size_t received = 0;
    EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, 10),
              HidReadResult::Failed);
    EXPECT_EQ(rig_->Model(0).OfferCount(), 0u);
    Backend().Close(handle);
}

TEST_F(BackendConformance, UnplugDuringAWaitEndsTheReadWithDeviceGone) {
    Start({Earbud(0x5055), Earbud(0x6003)});
    const HidHandle handle = OpenIo(0);
    std::uint8_t buffer[255];
    std::size_t received = 0;
    auto reader = std::async(std::launch::async, [&] {
        return Backend().ReadInput(handle, buffer, sizeof buffer, received, 30000);
    });
    std::this_thread::sleep_for(milliseconds(50));
    const auto unplugged = Clock::now();
    rig_->Unplug(0);
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), HidReadResult::DeviceGone);
    EXPECT_LT(MsSince(unplugged), kPromptly.count());

    // Gone for good: every later call on the handle fails.
    EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, 100),
              HidReadResult::DeviceGone);
    const std::vector<std::uint8_t> offer = Offer(1, 61);
    EXPECT_FALSE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    std::vector<std::uint8_t> version(61, 0);
    version[0] = 0x20;
    EXPECT_FALSE(Backend().GetFeature(handle, version.data(), version.size()));
    EXPECT_TRUE(Backend().Close(handle));

    // The other device stays; the gone one leaves the listing.
    const std::u16string other = OnlyPath(1);
    const auto deadline = Clock::now() + kPromptly;
    while (!rig_->PathsOf(0).empty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_TRUE(rig_->PathsOf(0).empty());
    EXPECT_NE(Backend().Open(other, HidOpenMode::Query), kInvalidHidHandle);
}

TEST_F(BackendConformance, UnplugBetweenCallsIsSeenByTheNextCall) {
    Start({Earbud(0x5055)});
    const std::u16string path = OnlyPath(0);
    const HidHandle handle = OpenIo(0);
    rig_->Unplug(0);
    std::uint8_t buffer[255];
    std::size_t received = 0;
    const auto start = Clock::now();
    EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, 5000),
              HidReadResult::DeviceGone);
    EXPECT_LT(MsSince(start), kPromptly.count());
    const std::vector<std::uint8_t> offer = Offer(1, 61);
    EXPECT_FALSE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    EXPECT_EQ(Backend().Open(path, HidOpenMode::Io), kInvalidHidHandle);
    EXPECT_TRUE(Backend().Close(handle));
}

TEST_F(BackendConformance, AClosedHandleDoesNothing) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    ASSERT_TRUE(Backend().Close(handle));
    const std::vector<std::uint8_t> offer = Offer(1, 61);
    EXPECT_FALSE(Backend().SetOutputReport(handle, offer.data(), offer.size()));
    std::vector<std::uint8_t> version(61, 0);
    version[0] = 0x20;
    EXPECT_FALSE(Backend().GetFeature(handle, version.data(), version.size()));
    std::uint8_t buffer[255];
    std::size_t received = 0;
    EXPECT_EQ(Backend().ReadInput(handle, buffer, sizeof buffer, received, 10),
              HidReadResult::Failed);
    EXPECT_EQ(Backend().GetDescriptor(handle), nullptr);
    EXPECT_EQ(rig_->Model(0).OfferCount(), 0u);
}

TEST_F(BackendConformance, ReportsWithoutIdsGainAZeroByteInFront) {
    Start({WithoutReportIds()});
    const HidHandle handle = OpenIo(0);
    const std::unique_ptr<HidDescriptor> descriptor = Backend().GetDescriptor(handle);
    ASSERT_NE(descriptor, nullptr);
    std::vector<HidCapability> found;
    ASSERT_GE(descriptor->GetSpecificValueCaps(HidReportType::Input, 0, 0, 0x66, found), 0);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().ReportId, 0);

    std::vector<std::uint8_t> sent(17);
    for (std::size_t i = 1; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    rig_->SendInput(0, sent);
    std::vector<std::uint8_t> buffer(255, 0xEE);
    std::size_t received = 0;
    ASSERT_EQ(Backend().ReadInput(handle, buffer.data(), buffer.size(), received, 5000),
              HidReadResult::Data);
    ASSERT_EQ(received, 17u);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 17), sent);
    Backend().Close(handle);
}

// A report shorter than the collection's input length is read at its real
// length: zeros after it would read as fields the device never sent (a content
// answer's status 0 is success).
TEST_F(BackendConformance, AShortReportIsNeverReadAsAWholeOne) {
    Start({Earbud(0x5055)});
    const HidHandle handle = OpenIo(0);
    const std::vector<std::uint8_t> sent = {0x22, 0x07, 0x00, 0xEE};  // no status byte
    rig_->SendInput(0, sent);
    std::vector<std::uint8_t> buffer(255, 0xCC);
    std::size_t received = 0;
    // A backend may deliver the report at the length it arrived with, or not
    // at all (a kernel HID core may drop a report shorter than its
    // declaration); what it must never do is make it look whole.
    const HidReadResult result =
        Backend().ReadInput(handle, buffer.data(), buffer.size(), received, 2000);
    if (result == HidReadResult::Data) {
        ASSERT_EQ(received, sent.size());
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 4), sent);
    } else {
        EXPECT_EQ(result, HidReadResult::TimedOut);
    }
    Backend().Close(handle);
}

TEST_F(BackendConformance, EachTopLevelCollectionIsAnInterfaceOfItsOwn) {
    Start({TwoCollections()});
    if (!rig_->PresentsEveryCollection()) {
        GTEST_SKIP() << "the " << rig_->Name() << " backend shows only the first collection";
    }
    const std::vector<std::u16string> paths = rig_->PathsOf(0);
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(Narrow(paths[0]).find("&Col01"), std::string::npos) << Narrow(paths[0]);
    EXPECT_NE(Narrow(paths[1]).find("&Col02"), std::string::npos) << Narrow(paths[1]);
    const HidCaps consumer = CapsOf(paths[0]);
    const HidCaps cfu = CapsOf(paths[1]);
    EXPECT_EQ(consumer.UsagePage, 0x000C);
    EXPECT_EQ(consumer.InputReportByteLength, 3);
    EXPECT_EQ(cfu.UsagePage, 0xFF0B);
    EXPECT_EQ(cfu.Usage, 0x0104);
    EXPECT_EQ(cfu.OutputReportByteLength, 61);

    // Matching finds the CFU collection although it is not the first.
    MatchCriteria criteria;
    criteria.VendorId = 0x320F;
    criteria.ProductId = 0x7002;
    criteria.UsagePage = 0xFF0B;
    criteria.Usage = 0x0104;
    InterfacePathList matched;
    ASSERT_EQ(MatchDevices(Backend(), criteria, matched), 1);
    EXPECT_EQ(matched.front(), paths[1]);

    // A handle sees the input reports of its own collection only.
    const HidHandle consumerHandle = Backend().Open(paths[0], HidOpenMode::Io);
    const HidHandle cfuHandle = Backend().Open(paths[1], HidOpenMode::Io);
    ASSERT_NE(consumerHandle, kInvalidHidHandle);
    ASSERT_NE(cfuHandle, kInvalidHidHandle);
    rig_->SendInput(0, {0x01, 0xE9, 0x00});
    const std::vector<std::uint8_t> offer = Offer(0x42, 61);
    ASSERT_TRUE(Backend().SetOutputReport(cfuHandle, offer.data(), offer.size()));
    std::vector<std::uint8_t> buffer(255, 0);
    std::size_t received = 0;
    ASSERT_EQ(Backend().ReadInput(cfuHandle, buffer.data(), buffer.size(), received, 5000),
              HidReadResult::Data);
    EXPECT_EQ(buffer[0], 0x24);
    ASSERT_EQ(Backend().ReadInput(consumerHandle, buffer.data(), buffer.size(), received, 5000),
              HidReadResult::Data);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(received, 3u);
    EXPECT_EQ(Backend().ReadInput(consumerHandle, buffer.data(), buffer.size(), received, 100),
              HidReadResult::TimedOut);
    Backend().Close(consumerHandle);
    Backend().Close(cfuHandle);
}

}  // namespace
}  // namespace zelk::hid::conformance
