// The driver's failure rows for the calls a working library does not fail:
// the path list, closing the image list, registering and unregistering the
// status callback, and closing the endpoint. A decorator makes the run's own
// call of that step report the code; the row says what the user sees and
// which of the run's calls still follow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/run/update_driver.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/failing_library.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

using engine::UpdateError;
using Calls = std::vector<std::string>;
using Events = std::vector<ProgressEvent>;

// The read-back after a completed transfer: find, open, describe, close.
#define READ_BACK                                                                           \
    "MatchDevices", "GetDeviceEndpointPaths", "OpenDeviceEndpoint", "GetDeviceDescription", \
        "CloseDeviceEndpoint"

struct StepRow {
    int row;                  // the step's number in the run
    const char* call;         // the library call that fails
    UpdateError error;        // what it reports
    const char* consoleText;  // the fixed console text
    const char* logText;      // the fixed log text (red)
    const char* failedStep;   // as the outcome names it
    Calls thenCalled;         // the run's calls after the failed one
    Events fromTheFailure;    // the broadcasts from the failure on
    bool waitsTenSeconds;     // the end of the endpoint stage
};

const StepRow kRows[] = {
    {.row = 6,
     .call = "GetDeviceEndpointPaths",
     .error = UpdateError::PathListTooSmall,
     .consoleText = "Get device endpoint path fail, rst 1.",
     .logText = "Get device endpoint path fail, rst 1.\n",
     .failedStep = "Get device endpoint path",
     .thenCalled = {},
     .fromTheFailure = {ProgressEvent::StepFailed},
     .waitsTenSeconds = false},
    {.row = 12,
     .call = "StopAddImage",
     .error = UpdateError::ImageListNotOpen,
     .consoleText = "Stop add CFU image fail, rst 9.",
     .logText = "Stop add CFU image fail, rst 9.\n",
     .failedStep = "Stop add CFU image",
     .thenCalled = {},
     .fromTheFailure = {ProgressEvent::StepFailed},
     .waitsTenSeconds = false},
    {.row = 17,
     .call = "RegisterProgressListener",
     .error = UpdateError::ListenerAlreadyRegistered,
     .consoleText = "Register update status callback fail, rst 1.",
     .logText = "Register update status callback fail, rst 1.\n",
     .failedStep = "Register update status callback",
     .thenCalled = {"UnregisterProgressListener", "CloseDeviceEndpoint", "Uninitialize"},
     .fromTheFailure = {ProgressEvent::StepFailed, ProgressEvent::RunEnded},
     .waitsTenSeconds = true},
    // After a whole transfer: the close, the read-back and the end still follow.
    {.row = 19,
     .call = "UnregisterProgressListener",
     .error = UpdateError::InternalError,
     .consoleText = "Unregister update status callback fail, rst 25.",
     .logText = "Unregister update status callback fail, rst 25.\n",
     .failedStep = "Unregister update status callback",
     .thenCalled = {"CloseDeviceEndpoint", READ_BACK, "Uninitialize"},
     .fromTheFailure = {ProgressEvent::StepFailed, ProgressEvent::RunEnded},
     .waitsTenSeconds = true},
    {.row = 20,
     .call = "CloseDeviceEndpoint",
     .error = UpdateError::EndpointNotRegistered,
     .consoleText = "Close device endpoint fail, rst 1.",
     .logText = "Close device endpoint fail, rst 1.\n",
     .failedStep = "Close device endpoint",
     .thenCalled = {READ_BACK, "Uninitialize"},
     .fromTheFailure = {ProgressEvent::StepFailed, ProgressEvent::RunEnded},
     .waitsTenSeconds = true},
};

#undef READ_BACK

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

TEST(UpdateDriverStepFailures, EachRowReportsItsTextsAndRunsWhatFollows) {
    for (const StepRow& row : kRows) {
        SCOPED_TRACE("step " + std::to_string(row.row) + ", " + row.call);
        hid::virt::VirtualHidBackend backend({hid::virt::DefaultEarbud()});
        zelk::testing::FastWaitClock clock{1000};
        cfu::CfuLibrary library{backend, clock};
        cfu::LibraryCalls calls{library};
        FailingLibrary failing{calls, row.call, row.error};
        RecordingDesktop desktop;
        UpdateDriver driver{desktop, failing, clock};

        const RunOutcome outcome = driver.RunUpdate({{0x320F, 0x5055, 0x0104, 0xFF0B, 2},
                                                     Utf16(ZELK_SAMPLE_OFFER),
                                                     Utf16(ZELK_SAMPLE_PAYLOAD),
                                                     ChooseLanguage(std::nullopt)});

        EXPECT_FALSE(outcome.Success());
        EXPECT_EQ(outcome.failedStep, row.failedStep);
        EXPECT_EQ(outcome.error, row.error);
        EXPECT_EQ(outcome.resultCode, engine::ErrorNumber(row.error));

        // The fixed text, then what the code means, on one console line.
        const std::string out = desktop.Stdout();
        const std::size_t at = out.find(row.consoleText);
        ASSERT_NE(at, std::string::npos) << out;
        EXPECT_EQ(out.compare(at + std::strlen(row.consoleText), 2, " C"), 0) << out;

        const auto log = desktop.Log();
        const auto logged = std::find_if(log.begin(), log.end(), [&](const auto& entry) {
            return entry.text == Utf16(row.logText);
        });
        ASSERT_NE(logged, log.end());
        EXPECT_EQ(logged->colour, kRed);

        const Calls& made = failing.Calls();
        const auto failed = std::find(made.begin(), made.end(), row.call);
        ASSERT_NE(failed, made.end());
        EXPECT_EQ(Calls(failed + 1, made.end()), row.thenCalled);

        Events events;
        for (const auto& broadcast : desktop.Broadcasts()) {
            events.push_back(broadcast.event);
        }
        const auto firstFailure =
            std::find(events.begin(), events.end(), ProgressEvent::StepFailed);
        EXPECT_EQ(Events(firstFailure, events.end()), row.fromTheFailure);

        const auto sleeps = clock.Sleeps();
        EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10000u), row.waitsTenSeconds ? 1 : 0);
        // Whatever failed, no endpoint is left registered.
        EXPECT_EQ(library.RegisteredCount(), 0u);
    }
}

}  // namespace
}  // namespace zelk::app
