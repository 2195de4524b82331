// The update driver against the library on virtual earbuds: the options it
// sets, which interface it updates, and a failure as a user sees it (console,
// log, broadcasts, waits).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run/update_driver.h"
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
