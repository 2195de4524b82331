// The update driver against the library on virtual earbuds: the options it
// sets, which interface it updates, and a failure as a user sees it (console,
// log, broadcasts, waits).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/run/update_driver.h"
#include "app/text/text_encoding.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

using hid::virt::DefaultEarbud;
using hid::virt::VirtualDeviceConfig;
using Broadcast = std::pair<ProgressEvent, std::int64_t>;

constexpr std::uint8_t kOfferReportId = 0x23;
constexpr std::uint8_t kForceIgnoreVersionBit = 0x80;  // offer byte 1

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

class DriverRig {
  public:
    explicit DriverRig(std::vector<VirtualDeviceConfig> devices) : backend(std::move(devices)) {}

    RunOutcome Run() {
        const RunInput input{{0x320F, 0x5055, 0x0104, 0xFF0B, 2},
                             Utf16(ZELK_SAMPLE_OFFER),
                             Utf16(ZELK_SAMPLE_PAYLOAD),
                             ChooseLanguage(std::nullopt)};
        return driver.RunUpdate(input);
    }
    std::vector<Broadcast> Broadcasts() {
        std::vector<Broadcast> events;
        for (const auto& b : desktop.Broadcasts()) {
            events.emplace_back(b.event, b.lParam);
        }
        return events;
    }

    hid::virt::VirtualHidBackend backend;
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    RecordingDesktop desktop;
    UpdateDriver driver{desktop, library, clock};
};

// Without ForceIgnoreVersion real earbuds refuse firmware of the version they
// already run or an older one: every offer the run sends carries it.
TEST(UpdateDriverOptions, EveryOfferForcesIgnoringTheVersion) {
    DriverRig rig({DefaultEarbud()});
    ASSERT_TRUE(rig.Run().Success());
    const engine::UpdateOptions options = rig.library.Options();
    EXPECT_TRUE(options.ForceIgnoreVersion);
    EXPECT_FALSE(options.LongResponseWait);
    std::size_t offers = 0;
    for (const auto& report : rig.backend.Device(0).WrittenReports()) {
        if (!report.empty() && report[0] == kOfferReportId) {
            ++offers;
            ASSERT_GT(report.size(), 2u);
            EXPECT_EQ(report[2] & kForceIgnoreVersionBit, kForceIgnoreVersionBit);
        }
    }
    EXPECT_GE(offers, 1u);
}

TEST(UpdateDriverInterfaces, OnlyTheFirstOfTwoMatchingInterfacesIsOpened) {
    DriverRig rig({DefaultEarbud(), DefaultEarbud()});
    ASSERT_TRUE(rig.Run().Success());
    EXPECT_EQ(rig.backend.Device(0).CompletedTransfers(), 1u);
    EXPECT_EQ(rig.backend.Device(1).WrittenReportCount(), 0u);
    EXPECT_EQ(rig.backend.Device(1).VersionQueryCount(), 0u);
    EXPECT_EQ(rig.backend.Device(1).OfferCount(), 0u);
}

// --verify on a bud that restarts after its update and comes back under a
// new node: read back there (beside another bud of its role that was
// listed from the start), as the run's own device.
TEST(UpdateDriverReadBack, ABudBackUnderANewNodeIsVerifiedThere) {
    struct Case {
        const char* name;
        std::string serial;  // of the updated bud; empty: none
    };
    const Case cases[] = {{"with a serial", "R-1"}, {"without a serial", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualDeviceConfig updated = DefaultEarbud();
        updated.serial = c.serial;
        updated.behaviour.reappearAsNewNode = hid::virt::DeviceBehaviour::Reappearance{};
        VirtualDeviceConfig other = DefaultEarbud();
        other.serial = "R-2";
        DriverRig rig({updated, other});
        rig.driver.SetHoldSuccessForVerification(true);
        const RunOutcome outcome = rig.Run();
        EXPECT_TRUE(outcome.Verified());
        EXPECT_EQ(outcome.reportedVersion, "1.0.4.2");
        EXPECT_EQ(rig.backend.Device(0).NodeInstance(), 1u);
        EXPECT_EQ(rig.backend.Device(1).VersionQueryCount(), 0u) << "the other bud was read";
        EXPECT_NE(rig.desktop.Stdout().find("Verified: the device now reports version 1.0.4.2."),
                  std::string::npos);
    }
}

// An image list left open by an earlier caller: the run's own list cannot
// start, which is reported (console text first, then the broadcast, then the
// log) and ends the run before the endpoint stage: no clean-up, no wait.
TEST(UpdateDriverFailures, AnImageListLeftOpenEndsTheRunAtItsStart) {
    DriverRig rig({DefaultEarbud()});
    ASSERT_EQ(rig.library.StartAddImage(), engine::UpdateError::Success);
    const RunOutcome outcome = rig.Run();
    EXPECT_FALSE(outcome.Success());
    // The fixed text, then what the code means.
    EXPECT_NE(rig.desktop.Stdout().find("=\nStart add CFU image fail, rst 8. "
                                        "CFU_RESULT_IMAGE_LIST_OPEN: "),
              std::string::npos)
        << rig.desktop.Stdout();
    ASSERT_EQ(rig.desktop.Log().size(), 2u);
    EXPECT_EQ(rig.desktop.Log()[0].text, u"Start add CFU image fail, rst 8.\n");
    EXPECT_EQ(rig.desktop.Log()[0].colour, kRed);
    EXPECT_EQ(rig.Broadcasts(), (std::vector<Broadcast>{{ProgressEvent::StepFailed, 0}}));
    EXPECT_TRUE(rig.clock.Sleeps().empty());
    EXPECT_EQ(rig.backend.Device(0).WrittenReportCount(), 0u);
}

}  // namespace
}  // namespace zelk::app

namespace zelk::app {
namespace {

// The JSON lines' downgrade events, as a sink hears them.
class DowngradeEvents final : public RunEventSink {
  public:
    void NoDevice(const DeviceIdentity&, bool, const std::string&) override {}
    void DeviceFound(const std::string&) override {}
    void Description(const std::string&, const cfu::DeviceComponents&) override {
        order.push_back("description");
    }
    void Downgrade(const std::string&, const std::string& deviceVersion,
                   const std::string& offeredVersion) override {
        order.push_back("downgrade " + deviceVersion + " > " + offeredVersion);
    }
    void Progress(const std::string&, int, std::uint32_t) override {
        if (order.empty() || order.back() != "progress") {
            order.push_back("progress");
        }
    }
    void Verification(const std::string&, const RunOutcome&) override {}
    void Result(const std::string&, const RunOutcome&) override {}

    std::vector<std::string> order;
};

struct DowngradeRow {
    const char* name;
    std::uint8_t componentId;  // of the device (the offer is for 0x0F)
    std::uint32_t version;     // of that component
    std::uint32_t language;
    const char* console;  // "" when nothing is said
    const char* log;
};

// The sample offer is version 1.0.4.2 for component 0x0F.
TEST(UpdateDriverDowngrade, AnOlderOfferIsSaidBeforeTheTransferAndTheUpdateGoesOn) {
    const DowngradeRow rows[] = {
        {"older offer", 0x0F, 0x10005001, 1033,
         "Downgrade: the device has version 1.0.5.2; the offered firmware is the older version "
         "1.0.4.2.\n",
         "Downgrade: the device has version 1.0.5.2; the offered firmware is the older version "
         "1.0.4.2.\n"},
        // The last part alone decides when the first three are equal.
        {"older in the last part", 0x0F, 0x18004001, 2052,
         "Downgrade: the device has version 1.0.4.3; the offered firmware is the older version "
         "1.0.4.2.\n",
         "\u964D\u7EA7\uFF1A\u8BBE\u5907\u7684\u7248\u672C\u4E3A 1.0.4.3\uFF1B\u63D0\u4F9B\u7684"
         "\u56FA\u4EF6\u662F\u8F83\u65E7\u7684\u7248\u672C 1.0.4.2\u3002\n"},
        {"same version", 0x0F, 0x10004001, 1033, "", ""},
        {"newer offer", 0x0F, 0x10003001, 1033, "", ""},
        // Only the offered component counts.
        {"another component is newer", 0x0E, 0x20000000, 1033, "", ""},
    };
    for (const DowngradeRow& row : rows) {
        SCOPED_TRACE(row.name);
        VirtualDeviceConfig device = DefaultEarbud();
        device.components.front().version = row.version;
        device.components.front().id = row.componentId;
        if (row.componentId != 0x0F) {
            // The library updates the first component: the offered one
            // comes first, the other one after it.
            hid::virt::ComponentConfig offered = device.components.front();
            offered.id = 0x0F;
            offered.version = 0x10003001;
            device.components.insert(device.components.begin(), offered);
        }
        DriverRig rig({device});
        DowngradeEvents events;
        rig.driver.SetEventSink(&events);
        const RunInput input{{0x320F, 0x5055, 0x0104, 0xFF0B, 2},
                             Utf16(ZELK_SAMPLE_OFFER),
                             Utf16(ZELK_SAMPLE_PAYLOAD),
                             ChooseLanguage(row.language)};
        const RunOutcome outcome = rig.driver.RunUpdate(input);
        EXPECT_TRUE(outcome.Success());
        EXPECT_EQ(rig.backend.Device(0).CompletedTransfers(), 1u);
        const std::string out = rig.desktop.Stdout();
        const std::size_t said = out.find("Downgrade:");
        const bool shown = row.console[0] != '\0';
        ASSERT_EQ(said != std::string::npos, shown) << out;
        bool logged = false;
        for (const auto& entry : rig.desktop.Log()) {
            if (Utf16ToUtf8(entry.text) == row.log) {
                logged = true;
                EXPECT_EQ(entry.colour, kOrange);
            }
        }
        if (!shown) {
            EXPECT_EQ(events.order, (std::vector<std::string>{"description", "progress"}));
            continue;
        }
        EXPECT_TRUE(logged);
        // After the description, before the first block.
        EXPECT_EQ(out.substr(said, std::strlen(row.console)), row.console);
        EXPECT_LT(out.find("Device Description"), said);
        EXPECT_LT(said, out.find("######## Download"));
        ASSERT_EQ(events.order.size(), 3u);
        EXPECT_EQ(events.order[0], "description");
        EXPECT_TRUE(events.order[1].starts_with("downgrade "));
        EXPECT_EQ(events.order[2], "progress");
    }
}

}  // namespace
}  // namespace zelk::app
