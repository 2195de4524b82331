// --list and --all over several virtual earbuds, the JSON lines of a run, and
// the words a failed run adds to its fixed texts.
#include "app/run/multi_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/run/json_lines_sink.h"
#include "app/run/run_messages.h"
#include "app/text/text_encoding.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/captured_lines.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

DriverOptions HeldVerdict() {
    DriverOptions options;
    options.holdSuccessForVerification = true;
    return options;
}

using hid::virt::DefaultEarbud;
using hid::virt::VirtualDeviceConfig;

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

DeviceIdentity EarbudIdentity() {
    return {0x320F, 0x5055, 0x0104, 0xFF0B, 2};
}

VirtualDeviceConfig Rejecting() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.offerAnswers = {{0x02}};
    return config;
}

VirtualDeviceConfig UnpluggedAtBlock(std::uint16_t block) {
    VirtualDeviceConfig config = DefaultEarbud();
    hid::virt::ContentRule rule;
    rule.block = block;
    rule.unplug = true;
    config.behaviour.contentScript = {rule};
    return config;
}

class Several : public ::testing::Test {
  protected:
    explicit Several(std::vector<VirtualDeviceConfig> devices) : backend(std::move(devices)) {}

    RunInput Input() {
        return {EarbudIdentity(), Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD),
                ChooseLanguage(std::nullopt)};
    }

    hid::virt::VirtualHidBackend backend;
    zelk::testing::FastWaitClock clock{1000};
    RecordingDesktop desktop;
    CapturedLines lines;
    JsonLinesSink sink{lines.File()};
};

class OneBadAmongGood : public Several {
  protected:
    OneBadAmongGood() : Several({DefaultEarbud(), Rejecting(), DefaultEarbud()}) {}
};

TEST_F(OneBadAmongGood, EveryDeviceIsUpdatedOnItsOwnAndTheBadOneFailsTheRun) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<std::u16string> paths = MatchingInterfaces(library, EarbudIdentity());
    ASSERT_EQ(paths.size(), 3u);
    const std::vector<DeviceSummary> summary =
        UpdateAll(desktop, backend, clock, Input(), paths, &sink);

    ASSERT_EQ(summary.size(), 3u);
    EXPECT_TRUE(summary[0].outcome.Verified());
    EXPECT_FALSE(summary[1].outcome.Success());
    EXPECT_EQ(summary[1].outcome.resultCode, 4);
    EXPECT_TRUE(summary[2].outcome.Verified());
    EXPECT_FALSE(AllSucceeded(summary, false));
    // Each good device got the whole image, the bad one none.
    EXPECT_EQ(backend.Device(0).CompletedTransfers(), 1u);
    EXPECT_EQ(backend.Device(1).ContentBlockCount(), 0u);
    EXPECT_EQ(backend.Device(2).CompletedTransfers(), 1u);

    const std::string out = desktop.Stdout();
    EXPECT_NE(out.find("   FAILED   " + Utf16ToUtf8(paths[1]) +
                       ": Update fail, rst 4 (CFU_RESULT_LAST_IMAGE_REJECTED"),
              std::string::npos);
    EXPECT_NE(out.find("2 of 3 devices updated."), std::string::npos);

    // Every event names its device; each device's progress reaches 100 on its own.
    std::map<std::string, int> lastProgress;
    nlohmann::json summaryEvent;
    for (const nlohmann::json& event : lines.Events()) {
        if (event["event"] == "progress") {
            lastProgress[event["path"]] = event["percentage"];
        } else if (event["event"] == "summary") {
            summaryEvent = event;
        }
    }
    EXPECT_EQ(lastProgress[Utf16ToUtf8(paths[0])], 100);
    EXPECT_EQ(lastProgress[Utf16ToUtf8(paths[2])], 100);
    EXPECT_EQ(summaryEvent["failed"], 1);
    EXPECT_EQ(summaryEvent["devices"][1]["path"], Utf16ToUtf8(paths[1]));
    EXPECT_EQ(summaryEvent["devices"][1]["codeName"], "CFU_RESULT_LAST_IMAGE_REJECTED");
}

TEST_F(OneBadAmongGood, AListDescribesEveryDeviceAndSendsNothing) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<ListedDevice> devices =
        ListDevices(desktop, library, EarbudIdentity(), false, &sink);
    ASSERT_EQ(devices.size(), 3u);
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_TRUE(devices[i].described);
        EXPECT_EQ(backend.Device(i).OfferCount(), 0u);
    }
    EXPECT_EQ(library.RegisteredCount(), 0u);
    const auto events = lines.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["components"][0]["version"], "1.0.3.2");
    EXPECT_EQ(events[0]["components"][0]["id"], 15);
}

VirtualDeviceConfig Unanswering() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.versionFailures = 1000;  // its version report never comes
    return config;
}

class OneUndescribedBesideAGoodOne : public Several {
  protected:
    OneUndescribedBesideAGoodOne() : Several({DefaultEarbud(), Unanswering()}) {}
};

// An interface the system still lists but that cannot be described (a stale
// one, as Wine keeps after an unplug) is not a listed device: the listing
// says how many could not be described, beside the device that was.
TEST_F(OneUndescribedBesideAGoodOne, AListSaysHowManyCouldNotBeDescribed) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<ListedDevice> devices =
        ListDevices(desktop, library, EarbudIdentity(), false, &sink);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_TRUE(devices[0].described);
    EXPECT_FALSE(devices[1].described);
    EXPECT_NE(desktop.Stdout().find("1 of 2 matching interfaces could not be described.\n"),
              std::string::npos)
        << desktop.Stdout();
}

VirtualDeviceConfig ForeignContentReport() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.content.usage = 0x99;  // not the content report's usage
    return config;
}

class OneWithForeignReports : public Several {
  protected:
    OneWithForeignReports() : Several({ForeignContentReport()}) {}
};

// An interface that opens but whose reports do not fit is not one that
// "cannot be opened": the listing gives the library's refusal alone.
TEST_F(OneWithForeignReports, AListGivesTheRefusalWithoutCallingItUnopenable) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<ListedDevice> devices =
        ListDevices(desktop, library, EarbudIdentity(), false, &sink);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(devices[0].described);
    EXPECT_EQ(devices[0].resultCode, 1);
    const std::string out = desktop.Stdout();
    EXPECT_NE(out.find("\n   CFU_RESULT_REFUSED: refused"), std::string::npos) << out;
    EXPECT_EQ(out.find(CannotOpenText(false)), std::string::npos) << out;
    EXPECT_EQ(library.RegisteredCount(), 0u);
}

VirtualDeviceConfig Unopenable() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.faults.open = true;
    return config;
}

// A third earbud plugged in that the user may not open.
class OneUnopenable : public Several {
  protected:
    OneUnopenable() : Several({DefaultEarbud(), DefaultEarbud(), Unopenable()}) {}
};

TEST_F(OneUnopenable, AllCountsItAsAFailedDeviceInsteadOfLeavingItOut) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<std::u16string> paths = MatchingInterfaces(library, EarbudIdentity());
    const std::vector<std::u16string> unopenable = UnopenableInterfaces(backend, EarbudIdentity());
    ASSERT_EQ(unopenable, std::vector<std::u16string>{backend.Device(2).Path()});
    const std::vector<DeviceSummary> summary =
        UpdateAll(desktop, backend, clock, Input(), paths, &sink, unopenable);

    ASSERT_EQ(summary.size(), 3u);
    EXPECT_TRUE(summary[0].outcome.Success());
    EXPECT_TRUE(summary[1].outcome.Success());
    EXPECT_FALSE(summary[2].outcome.Success());
    EXPECT_TRUE(summary[2].outcome.cannotOpen);
    EXPECT_FALSE(AllSucceeded(summary, false));
    const std::string out = desktop.Stdout();
    EXPECT_NE(out.find("   FAILED   " + Utf16ToUtf8(backend.Device(2).Path()) + ": " +
                       NotOpenableText(false)),
              std::string::npos);
    EXPECT_NE(out.find("2 of 3 devices updated."), std::string::npos);
    nlohmann::json summaryEvent;
    for (const nlohmann::json& event : lines.Events()) {
        if (event["event"] == "summary") {
            summaryEvent = event;
        }
    }
    EXPECT_EQ(summaryEvent["failed"], 1);
    EXPECT_EQ(summaryEvent["devices"][2]["cannotOpen"], true);
}

TEST_F(OneUnopenable, AListShowsItMarkedNotOpenable) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<ListedDevice> devices =
        ListDevices(desktop, library, EarbudIdentity(), false, &sink);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_TRUE(devices[1].described);
    EXPECT_FALSE(devices[2].openable);
    EXPECT_NE(desktop.Stdout().find(Utf16ToUtf8(backend.Device(2).Path()) + "\n   Not openable: "),
              std::string::npos);
    const auto events = lines.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2]["openable"], false);
}

VirtualDeviceConfig OnVersion(std::uint32_t version) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.components.front().version = version;
    return config;
}

// The sample offer: component 0x0F, version 1.0.4.2.
class ThreeVersions : public Several {
  protected:
    ThreeVersions()
        : Several({OnVersion(0x10003001), OnVersion(0x10004001), OnVersion(0x10005001)}) {}
};

TEST_F(ThreeVersions, AListShowsTheOfferedVersionBesideEachDevicesComponent) {
    cfu::CfuLibrary library(backend, clock);
    const std::vector<ListedDevice> devices =
        ListDevices(desktop, library, EarbudIdentity(), false, &sink, Utf16(ZELK_SAMPLE_OFFER));
    ASSERT_EQ(devices.size(), 3u);
    const char* const comparisons[] = {"newer", "same", "downgrade"};
    const char* const versions[] = {"1.0.3.2", "1.0.4.2", "1.0.5.2"};
    const auto events = lines.Events();
    ASSERT_EQ(events.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(devices[i].offeredVersion, "1.0.4.2");
        EXPECT_EQ(devices[i].offerComparison, comparisons[i]);
        EXPECT_NE(desktop.Stdout().find(std::string("FwVersion: ") + versions[i] +
                                        "   Offered: 1.0.4.2 (" + comparisons[i] + ")\n"),
                  std::string::npos)
            << desktop.Stdout();
        EXPECT_EQ(events[i]["offeredVersion"], "1.0.4.2");
        EXPECT_EQ(events[i]["offerComparison"], comparisons[i]);
    }
}

// An offer that cannot be read (missing, or shorter than an offer) leaves the
// listing whole; the offered version is said to be unknown.
TEST_F(ThreeVersions, AnUnreadableOfferLeavesTheListingWithTheOfferedVersionUnknown) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("zelk-list-offer-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string shortOffer = (dir / "short.offer.bin").string();
    std::ofstream(shortOffer, std::ios::binary) << "0123456789";
    for (const std::string& offer : {(dir / "missing.bin").string(), shortOffer}) {
        SCOPED_TRACE(offer);
        RecordingDesktop listing;
        cfu::CfuLibrary library(backend, clock);
        const std::vector<ListedDevice> devices =
            ListDevices(listing, library, EarbudIdentity(), false, nullptr, Utf8ToUtf16(offer));
        ASSERT_EQ(devices.size(), 3u);
        EXPECT_TRUE(devices[2].described);
        EXPECT_EQ(devices[2].offeredVersion, "");
        EXPECT_NE(listing.Stdout().find("FwVersion: 1.0.5.2   Offered: unknown\n"),
                  std::string::npos)
            << listing.Stdout();
    }
    std::filesystem::remove_all(dir);
}

class NoneThere : public Several {
  protected:
    NoneThere() : Several({}) {}
};

TEST_F(NoneThere, AListSaysWhichIdentityWasSearchedFor) {
    cfu::CfuLibrary library(backend, clock);
    EXPECT_TRUE(ListDevices(desktop, library, EarbudIdentity(), true, &sink).empty());
    EXPECT_EQ(desktop.Stdout(),
              "No HID device matches VID 0x320F, PID 0x5055, usage page 0xFF0B, usage 0x0104, "
              "MI 2.\n");
    const auto events = lines.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["event"], "no_device");
    EXPECT_EQ(events[0]["identity"]["usagePage"], "0xFF0B");
}

class Unplugged : public Several {
  protected:
    Unplugged() : Several({UnpluggedAtBlock(3)}) {}
};

TEST_F(Unplugged, ADeviceThatLeavesIsToldApartFromADeviceError) {
    cfu::CfuLibrary library(backend, clock);
    UpdateDriver driver(desktop, library, clock);
    driver.SetEventSink(&sink);
    RunInput input = Input();
    input.texts.ChineseUi = true;
    const RunOutcome outcome = driver.RunUpdate(input);
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(outcome.deviceGone);
    EXPECT_EQ(outcome.failedStep, "Update");
    EXPECT_NE(desktop.Stdout().find("The device is gone (unplugged or restarted).\n"),
              std::string::npos);
    // The log, in the interface's language, says it too.
    bool told = false;
    for (const auto& entry : desktop.Log()) {
        told = told || entry.text.find(u"\u8BBE\u5907\u5DF2\u4E0D\u5728") != std::u16string::npos;
    }
    EXPECT_TRUE(told);
    const auto events = lines.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back()["event"], "result");
    EXPECT_EQ(events.back()["deviceGone"], true);
}

// A bud that restarts after its update and comes back under a new node,
// reporting `serialAfter` (nothing: its own serial).
VirtualDeviceConfig ComesBack(const std::string& serial,
                              std::optional<std::string> serialAfter = std::nullopt) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.serial = serial;
    config.behaviour.reappearAsNewNode =
        hid::virt::DeviceBehaviour::Reappearance{0, std::move(serialAfter)};
    return config;
}

// Two buds of the same role, both updated, both back under new nodes: each
// is read back under the node with its own serial, never under the other's.
TEST(UpdateAllReadBack, EachBudIsVerifiedUnderTheNewNodeWithItsOwnSerial) {
    struct Case {
        const char* name;
        std::vector<VirtualDeviceConfig> buds;
        std::vector<Verification> expected;
        const char* counted;
    };
    const Case cases[] = {
        {"both come back as themselves",
         {ComesBack("L-1"), ComesBack("L-2")},
         {Verification::Verified, Verification::Verified},
         "2 of 2 devices updated."},
        {"the first comes back as another device",
         {ComesBack("L-1", "L-7"), ComesBack("L-2")},
         {Verification::Unverified, Verification::Verified},
         "1 of 2 devices updated."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hid::virt::VirtualHidBackend backend(c.buds);
        zelk::testing::FastWaitClock clock{1000};
        RecordingDesktop desktop;
        cfu::CfuLibrary library(backend, clock);
        const std::vector<std::u16string> paths = MatchingInterfaces(library, EarbudIdentity());
        ASSERT_EQ(paths.size(), 2u);
        const RunInput input{EarbudIdentity(), Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD),
                             ChooseLanguage(std::nullopt)};
        const std::vector<DeviceSummary> summary =
            UpdateAll(desktop, backend, clock, input, paths, nullptr, {}, HeldVerdict());
        ASSERT_EQ(summary.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(backend.Device(i).NodeInstance(), 1u) << i << ": did not come back";
            EXPECT_TRUE(summary[i].outcome.Success()) << i;
            EXPECT_EQ(summary[i].outcome.verification, c.expected[i]) << i;
        }
        const std::string out = desktop.Stdout();
        EXPECT_NE(out.find(c.counted), std::string::npos) << out;
        EXPECT_EQ(AllSucceeded(summary, true), c.expected[0] == Verification::Verified);
    }
}

class TwoGood : public Several {
  protected:
    TwoGood() : Several({DefaultEarbud(), DefaultEarbud()}) {}
};

TEST_F(TwoGood, ATooLargePayloadGivesItsReasonInTheSummaryAndTheJsonLines) {
    const std::filesystem::path big =
        std::filesystem::temp_directory_path() /
        ("zelk_big_payload_" + std::to_string(std::random_device{}()) + ".bin");
    {
        std::ofstream out(big, std::ios::binary);
        out << std::string(static_cast<std::size_t>(kMaxPayloadFileSize) + 1, '\0');
    }
    RunInput input = Input();
    input.payloadPath = Utf16(big.string());
    cfu::CfuLibrary library(backend, clock);
    const std::vector<std::u16string> paths = MatchingInterfaces(library, EarbudIdentity());
    ASSERT_EQ(paths.size(), 2u);
    const std::vector<DeviceSummary> summary =
        UpdateAll(desktop, backend, clock, input, paths, &sink);
    std::filesystem::remove(big);

    const std::string reason = "the payload is larger than 1048575 bytes";
    ASSERT_EQ(summary.size(), 2u);
    EXPECT_FALSE(summary[0].outcome.Success());
    EXPECT_EQ(backend.Device(0).ContentBlockCount(), 0u);
    EXPECT_NE(desktop.Stdout().find("   FAILED   " + Utf16ToUtf8(paths[1]) + ": " + reason + "\n"),
              std::string::npos)
        << desktop.Stdout();
    std::size_t results = 0;
    nlohmann::json summaryEvent;
    for (const nlohmann::json& event : lines.Events()) {
        if (event["event"] == "result") {
            EXPECT_EQ(event["reason"], reason) << event.dump();
            ++results;
        } else if (event["event"] == "summary") {
            summaryEvent = event;
        }
    }
    EXPECT_EQ(results, 2u);
    EXPECT_EQ(summaryEvent["devices"][0]["reason"], reason) << summaryEvent.dump();
}

}  // namespace
}  // namespace zelk::app
