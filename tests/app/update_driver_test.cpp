#include "app/run/update_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

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
using Entry = RecordingDesktop::LogEntry;

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

// The identity that the shipped DeviceInfo.txt gives.
DeviceIdentity EarbudIdentity() {
    return {0x320F, 0x5055, 0x0104, 0xFF0B, 2};
}

class DriverTest : public ::testing::Test {
  protected:
    explicit DriverTest(std::vector<VirtualDeviceConfig> devices = {DefaultEarbud()})
        : backend(std::move(devices)) {}

    RunOutcome Run(std::u16string offer = Utf16(ZELK_SAMPLE_OFFER),
                   DeviceIdentity identity = EarbudIdentity(),
                   std::optional<std::uint32_t> language = std::nullopt) {
        RunInput input{identity, std::move(offer), Utf16(ZELK_SAMPLE_PAYLOAD),
                       ChooseLanguage(language)};
        return driver.RunUpdate(input);
    }

    std::vector<std::pair<ProgressEvent, std::int64_t>> Broadcasts() {
        std::vector<std::pair<ProgressEvent, std::int64_t>> events;
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

TEST_F(DriverTest, ASuccessfulRunPrintsLogsAndBroadcastsAsAUserSeesIt) {
    const RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.Success());
    EXPECT_TRUE(outcome.Verified());

    const std::string out = desktop.Stdout();
    EXPECT_EQ(out.rfind("\n================================= Test 1 "
                        "=================================\n",
                        0),
              0u);
    EXPECT_NE(out.find("\n#################### Device Description ####################\n"
                       "   Component ID: 15\n   Current Bank: 0\n   Bud Role: 1\n"
                       "   FwVersion: 1.0.3.2\n"
                       "\n######################## Download ########################\n"),
              std::string::npos);
    EXPECT_NE(out.find("12:34:56.789    HANDLE "), std::string::npos);
    EXPECT_NE(out.find(": percentage: 100, status: 0. \r"), std::string::npos);

    EXPECT_TRUE(out.ends_with("Verified: the device now reports version 1.0.4.2.\n"));

    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].text, u"In Progress...\n");
    EXPECT_EQ(log[0].colour, kOrange);
    EXPECT_EQ(log[1].text, u"Success\n");
    EXPECT_EQ(log[1].colour, kGreen);
    EXPECT_EQ(log[2].text, u"Verified: the device now reports version 1.0.4.2.\n");
    EXPECT_EQ(log[2].colour, kGreen);

    // 4 with 1..99 rising, then 1, then 5.
    const auto events = Broadcasts();
    ASSERT_EQ(events.size(), 101u);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(events[static_cast<std::size_t>(i)],
                  std::make_pair(ProgressEvent::Progress, std::int64_t{i + 1}));
    }
    EXPECT_EQ(events[99], std::make_pair(ProgressEvent::Succeeded, std::int64_t{0}));
    EXPECT_EQ(events[100], std::make_pair(ProgressEvent::RunEnded, std::int64_t{0}));

    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{2000, 10000}));
    const auto debug = desktop.DebugLines();
    ASSERT_EQ(debug.size(), 100u);
    EXPECT_EQ(debug.front(), u"progress:1 status:0");
    EXPECT_EQ(debug.back(), u"progress:100 status:0");
    EXPECT_EQ(backend.Device(0).CompletedTransfers(), 1u);
}

VirtualDeviceConfig BusyTwiceThenAccepting() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.offerAnswers = {
        {hid::virt::kOfferBusy}, {hid::virt::kOfferBusy}, {hid::virt::kOfferAccept}};
    return config;
}

class BusyDriverTest : public DriverTest {
  protected:
    BusyDriverTest() : DriverTest({BusyTwiceThenAccepting()}) {}
};

// A busy device may hold the run for 100 s with no status at all: the run says
// once why it waits and for how long, and the statuses stay as they are.
TEST_F(BusyDriverTest, ABusyDeviceIsSaidOnceWithTheLongestWait) {
    const std::string busy =
        "The device is busy; the update keeps offering the image for up to 100 s before it gives "
        "up.\n";
    const RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.Verified());
    const std::string out = desktop.Stdout();
    const std::size_t at = out.find(busy);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(out.find(busy, at + 1), std::string::npos);
    EXPECT_LT(at, out.find("percentage: 1,"));

    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text, Utf8ToUtf16(busy));
    EXPECT_EQ(log[0].colour, kOrange);
    EXPECT_EQ(log[1].text, u"In Progress...\n");
    const auto debug = desktop.DebugLines();
    ASSERT_EQ(debug.size(), 100u);
    EXPECT_EQ(debug.front(), u"progress:1 status:0");
    EXPECT_EQ(backend.Device(0).OfferCount(), 3u);
}

TEST_F(DriverTest, AMissingOfferFailsTheImageStepWithoutTouchingTheDevice) {
    const RunOutcome outcome = Run(u"/nonexistent/offer.bin");
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(desktop.Stdout().ends_with(
        "Add CFU bank0 image fail, rst 10. CFU_RESULT_IMAGE_FILE_UNUSABLE: the offer or payload "
        "file cannot be used (missing, unreadable, empty or of the wrong size).\n"));
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, u"Add CFU bank0 image fail, rst 10.\n");
    EXPECT_EQ(log[0].colour, kRed);
    EXPECT_EQ(
        Broadcasts(),
        (std::vector<std::pair<ProgressEvent, std::int64_t>>{{ProgressEvent::StepFailed, 0}}));
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(backend.Device(0).OfferCount(), 0u);
}

class NoDevice : public DriverTest {
  protected:
    NoDevice() : DriverTest({}) {}
};

TEST_F(NoDevice, SaysSoOnceAndWaitsForNothing) {
    const RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.noDevice);
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(desktop.Stdout().ends_with(
        "=\nFind no device.\nNo HID device matches VID 0x320F, PID 0x5055, usage page 0xFF0B, "
        "usage 0x0104, MI 2.\n"));
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, u"Find no device\n");
    EXPECT_EQ(log[0].colour, kRed);
    EXPECT_EQ(Broadcasts(),
              (std::vector<std::pair<ProgressEvent, std::int64_t>>{{ProgressEvent::NoDevice, 0}}));
    EXPECT_TRUE(clock.Sleeps().empty());
}

VirtualDeviceConfig WithoutOfferResponse() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.offerResponse.usage = 0x8B;
    return config;
}

class OpenRefused : public DriverTest {
  protected:
    OpenRefused() : DriverTest({WithoutOfferResponse()}) {}
};

TEST_F(OpenRefused, ReportsWithoutALineEndAndStillCleansUp) {
    const RunOutcome outcome = Run();
    EXPECT_FALSE(outcome.Success());
    EXPECT_NE(desktop.Stdout().find("Open device endpoint fail, rst 1."), std::string::npos);
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, u"Open device endpoint fail, rst 1.");
    EXPECT_TRUE(outcome.cannotOpen);
    EXPECT_EQ(Broadcasts(), (std::vector<std::pair<ProgressEvent, std::int64_t>>{
                                {ProgressEvent::StepFailed, 0}, {ProgressEvent::RunEnded, 0}}));
    EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>{10000});
    // The clean-up closed the handle that the failed open left open.
    EXPECT_EQ(library.RegisteredCount(), 0u);
}

VirtualDeviceConfig Rejecting() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.offerAnswers = {{0x02}};
    return config;
}

class Rejected : public DriverTest {
  protected:
    Rejected() : DriverTest({Rejecting()}) {}
};

TEST_F(Rejected, AFailedUpdateIsNeverASuccess) {
    const RunOutcome outcome = Run();
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(outcome.stepFailed);
    EXPECT_TRUE(desktop.Stdout().ends_with(
        "Update fail, rst 4. CFU_RESULT_LAST_IMAGE_REJECTED: the device rejected the offered "
        "image. The device rejected the offer: reason 0x00, old firmware.\n"));
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, u"Update fail, rst 4.\n");
    EXPECT_EQ(Broadcasts(), (std::vector<std::pair<ProgressEvent, std::int64_t>>{
                                {ProgressEvent::StepFailed, 0}, {ProgressEvent::RunEnded, 0}}));
}

// The Chinese explanation is Chinese throughout: full-width colon and full
// stop, no ASCII ". " between its sentences.
TEST_F(Rejected, TheChineseExplanationUsesTheChineseFullStop) {
    Run(Utf16(ZELK_SAMPLE_OFFER), EarbudIdentity(), 2052);
    const auto log = desktop.Log();
    ASSERT_GE(log.size(), 2u);
    const std::string explanation = Utf16ToUtf8(log[1].text);
    EXPECT_EQ(explanation.find(". "), std::string::npos) << explanation;
    EXPECT_EQ(explanation.find(": "), std::string::npos) << explanation;
    EXPECT_NE(explanation.find("\u3002\u8BBE\u5907"), std::string::npos) << explanation;
    EXPECT_TRUE(explanation.ends_with("\u3002\n")) << explanation;
}

// Without device information (a damaged package, an unusable temporary
// folder) the run says so and searches for nothing; it never blames a
// missing device with vendor 0.
TEST_F(DriverTest, NoDeviceInformationIsSaidAndNothingIsSearched) {
    const RunOutcome outcome = Run(Utf16(ZELK_SAMPLE_OFFER), DeviceIdentity{});
    EXPECT_FALSE(outcome.Success());
    EXPECT_FALSE(outcome.noDevice);
    EXPECT_EQ(desktop.Stdout().find("VID 0x0000"), std::string::npos);
    EXPECT_EQ(desktop.Stdout().find("Find no device"), std::string::npos);
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].text,
              u"No device information could be read (see above: the program's firmware package "
              u"or the temporary folder), so no device was searched for.\n");
    EXPECT_EQ(
        Broadcasts(),
        (std::vector<std::pair<ProgressEvent, std::int64_t>>{{ProgressEvent::StepFailed, 0}}));
    EXPECT_EQ(backend.Device(0).OfferCount(), 0u);
}

VirtualDeviceConfig NeverApplies() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.behaviour.applyVersionOnComplete = false;
    return config;
}

class StaysOld : public DriverTest {
  protected:
    StaysOld() : DriverTest({NeverApplies()}) {}
};

TEST_F(StaysOld, TheTransferSucceedsButTheVersionIsNotVerified) {
    const RunOutcome outcome = Run();
    EXPECT_TRUE(outcome.Success());
    EXPECT_FALSE(outcome.Verified());
    EXPECT_EQ(outcome.verification, Verification::Unverified);
    EXPECT_EQ(outcome.reportedVersion, "1.0.3.2");
    const char* const text =
        "The device still reports 1.0.3.2: it may apply the update when it restarts.\n";
    EXPECT_TRUE(desktop.Stdout().ends_with(text));
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(Utf16ToUtf8(log[2].text), text);
    EXPECT_EQ(log[2].colour, kOrange);
    // Read five times, a second apart, then the run ends as usual.
    EXPECT_EQ(clock.Sleeps(), (std::vector<std::uint32_t>{2000, 1000, 1000, 1000, 1000, 10000}));
}

VirtualDeviceConfig SingleBankRejecting() {
    VirtualDeviceConfig config = DefaultEarbud();
    config.components.front().bank = 2;
    config.behaviour.offerAnswers = {{0x02}};
    return config;
}

class NothingTaken : public DriverTest {
  protected:
    NothingTaken() : DriverTest({SingleBankRejecting()}) {}
};

TEST_F(NothingTaken, AnUpdateCallOfZeroWithoutATransferIsNoSuccess) {
    // The single-bank policy counts a rejected image as handled and returns
    // 0, but nothing reached the device.
    const RunOutcome outcome = Run();
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(desktop.Stdout().ends_with(
        "Update fail, no image was transferred, rst 0. The device took no image, so nothing was "
        "updated. The device rejected the offer: reason 0x00, old firmware.\n"));
    for (const auto& [event, lParam] : Broadcasts()) {
        EXPECT_NE(event, ProgressEvent::Succeeded);
    }
    EXPECT_EQ(backend.Device(0).ContentBlockCount(), 0u);
}

TEST_F(DriverTest, APayloadTheToolWouldNotPackageIsRefused) {
    const std::string path = ::testing::TempDir() + "zelk_too_large_payload.bin";
    {
        std::ofstream file(path, std::ios::binary);
        const std::vector<char> records(57 * 18397, '\0');  // 1048629 bytes
        file.write(records.data(), static_cast<std::streamsize>(records.size()));
    }
    RunInput input{EarbudIdentity(), Utf16(ZELK_SAMPLE_OFFER), Utf16(path),
                   ChooseLanguage(std::nullopt)};
    const RunOutcome outcome = driver.RunUpdate(input);
    std::remove(path.c_str());
    EXPECT_FALSE(outcome.Success());
    EXPECT_TRUE(desktop.Stdout().ends_with(
        "Payload file too large: 1048629 bytes, at most 1048575; nothing was sent to the device."));
    EXPECT_EQ(backend.Device(0).OfferCount(), 0u);
    EXPECT_EQ(
        Broadcasts(),
        (std::vector<std::pair<ProgressEvent, std::int64_t>>{{ProgressEvent::StepFailed, 0}}));
}

}  // namespace
}  // namespace zelk::app

namespace zelk::app {
namespace {

VirtualDeviceConfig SilentVersion() {
    VirtualDeviceConfig config = hid::virt::DefaultEarbud();
    config.behaviour.versionFailures = 100;
    return config;
}

class DescriptionFails : public DriverTest {
  protected:
    DescriptionFails() : DriverTest({SilentVersion()}) {}
};

TEST_F(DescriptionFails, ReportsTheStepAndEndsTheEndpointStage) {
    const RunOutcome outcome = Run();
    EXPECT_FALSE(outcome.Success());
    const std::string out = desktop.Stdout();
    EXPECT_TRUE(out.ends_with(
        "Get device description fail, rst 2. CFU_RESULT_NOT_ANSWERED: no answer: the device's "
        "description could not be read, or no offer was answered.\n"));
    EXPECT_EQ(out.find("Device Description"), std::string::npos);
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].text, u"Get device description fail, rst 2.\n");
    EXPECT_EQ(log[0].colour, kRed);
    EXPECT_EQ(Broadcasts(), (std::vector<std::pair<ProgressEvent, std::int64_t>>{
                                {ProgressEvent::StepFailed, 0}, {ProgressEvent::RunEnded, 0}}));
    EXPECT_EQ(clock.Sleeps(), std::vector<std::uint32_t>{10000});
    EXPECT_EQ(library.RegisteredCount(), 0u);
    EXPECT_EQ(backend.Device(0).OfferCount(), 0u);
}

}  // namespace
}  // namespace zelk::app

namespace zelk::app {
namespace {

// An unattended run's exit status: 0 only for a device that took its image.
TEST(UnattendedExitStatusTest, OnlyASucceededRunIsZero) {
    struct Row {
        const char* name;
        RunOutcome outcome;
        int status;
    };
    RunOutcome succeeded;
    succeeded.succeeded = true;
    RunOutcome failedStep = succeeded;
    failedStep.stepFailed = true;
    RunOutcome noDevice;
    noDevice.noDevice = true;
    const Row rows[] = {
        {"succeeded", succeeded, 0},
        {"a step failed after 100 %", failedStep, 1},
        {"no device", noDevice, 2},
        {"never ran", RunOutcome{}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(UnattendedExitStatus(row.outcome), row.status);
    }
}

}  // namespace
}  // namespace zelk::app
