// One update run: the library's calls in their fixed order against the first
// matching interface, the run's console lines, its log texts and its
// broadcasts. Progress arrives through ProgressCallback.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "cfu_library.h"
#include "desktop/desktop.h"
#include "embedded_package.h"
#include "language_texts.h"
#include "wait_clock.h"

namespace zelk::app {

// What a run needs from the dialog.
struct RunInput {
    DeviceIdentity identity;
    std::u16string offerPath;
    std::u16string payloadPath;
    LanguageTexts texts;
};

// How a run went, as its broadcasts told it.
struct RunOutcome {
    bool noDevice = false;
    bool stepFailed = false;
    bool succeeded = false;  // a status with percentage 100 arrived

    // Success only when the device confirmed it and no step failed.
    bool Success() const { return succeeded && !stepFailed && !noDevice; }
};

class UpdateDriver {
  public:
    // `library` is the process's library in the program, a test's own in tests.
    UpdateDriver(Desktop& desktop, cfu::CfuLibrary& library, WaitClock& clock);

    // The run. Only one runs at a time; the caller (the Start handler) ensures it.
    RunOutcome RunUpdate(const RunInput& input);

    WaitClock& Clock() { return clock_; }

    // The library's status callback for the run in progress.
    static std::int32_t ProgressCallback(std::uint64_t endpoint, const UpdateStatus* status);

  private:
    struct Run;
    void OnProgress(std::uint64_t endpoint, const UpdateStatus& status);
    void Broadcast(ProgressEvent event, std::int64_t lParam);
    // Broadcast 3, the console text and the log text (in red), with `rst`.
    void ReportFailure(const char* consoleFormat, const char* logFormat, ResultCode rst);
    void Print(const std::string& text);
    bool EndpointStage(const std::u16string& path);

    Desktop& desktop_;
    cfu::CfuLibrary& library_;
    WaitClock& clock_;
    const RunInput* input_ = nullptr;
    RunOutcome outcome_;
};

}  // namespace zelk::app
