// One update run: the library's calls in their fixed order against the first
// matching interface, the run's console lines, its log texts and its
// broadcasts. Progress arrives through the driver's own listener.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop/desktop.h"
#include "app/package/package_files.h"
#include "app/run/embedded_package.h"
#include "app/run/run_events.h"
#include "app/text/language_texts.h"
#include "engine/image_entry.h"
#include "engine/update_error.h"
#include "engine/update_types.h"
#include "hidtransport/wait_clock.h"
#include "updatelib/cfu_library.h"
#include "updatelib/update_library.h"

namespace zelk::app {

// What a run needs from the dialog.
struct RunInput {
    DeviceIdentity identity;
    std::u16string offerPath;
    std::u16string payloadPath;
    LanguageTexts texts;
};

// What reading the device again after a completed transfer showed.
enum class Verification {
    NotRun,      // no transfer completed
    Verified,    // the device reports the offered version
    Unverified,  // it still reports another one, or could not be read again
};

// How a run went, as its broadcasts told it.
struct RunOutcome {
    bool noDevice = false;
    bool stepFailed = false;
    // A transfer ended with a status of 0 at 100 % and the update call
    // returned 0: the success text and broadcast were given.
    bool succeeded = false;
    Verification verification = Verification::NotRun;
    // The version the device reported when it was read again (valid when
    // verification is not NotRun and the device could be read).
    std::string reportedVersion;
    // The interface the run worked on (UTF-8), when one matched.
    std::string path;
    // The step that failed ("Update", "Open device endpoint", ...) and the
    // library's result for it, with its documented number; empty, Success and
    // 0 when none failed.
    std::string failedStep;
    engine::UpdateError error = engine::UpdateError::Success;
    std::int64_t resultCode = 0;
    // After a failed update step: what the device itself last answered.
    cfu::DeviceAnswer deviceAnswer;
    // A matching interface was there but could not be opened.
    bool cannotOpen = false;
    // The device was no longer present after the step failed.
    bool deviceGone = false;
    // Why the run was refused before any library step (an input it cannot
    // use); empty otherwise.
    std::string reason;

    // What the run learned of the unit, for a record per device (empty, -1
    // or 0 where the run did not get that far): the device's serial string
    // (UTF-8), the offered component's ID and bud role and its version as the
    // device described it before the update, the offered version, how long
    // the update call took and how many blocks went through (the image's
    // blocks when it completed; else up to the last block the device
    // answered).
    std::string serial;
    int componentId = -1;
    int budRole = -1;
    std::string versionBefore;
    std::string offeredVersion;
    std::uint64_t transferMs = 0;
    std::uint64_t blocks = 0;
    // The interface the version was last read back from after the transfer
    // (UTF-8; empty when it could not be read): after a restart, the node the
    // device came back under.
    std::string readBackPath;

    // Success only when the device confirmed it and no step failed.
    bool Success() const { return succeeded && !stepFailed && !noDevice; }
    bool Verified() const { return Success() && verification == Verification::Verified; }
};

// The exit status of a program whose run was unattended (the console updater,
// the window in hide-window mode): 0 only when the device took its image, 2
// when no device matched, 1 for any other outcome (also a run that never
// started).
inline int UnattendedExitStatus(const RunOutcome& outcome) {
    if (outcome.Success()) {
        return 0;
    }
    return outcome.noDevice ? 2 : 1;
}

// The pause between two read-backs after a transfer: waits at most `maxMs`
// and returns how long it waited (it may end early, when interfaces came or
// went).
using ReadBackPause = std::function<std::uint32_t(std::uint32_t maxMs)>;

// How a program wants its runs driven (see the setters below).
struct DriverOptions {
    bool holdSuccessForVerification = false;
    bool fixedWaits = true;
    ReadBackPause readBackPause;
};

// The library configuration a run uses to find and update `identity`.
engine::UpdateConfiguration RunConfigFor(const DeviceIdentity& identity);

class UpdateDriver {
  public:
    // `library` is the process's library in the program, a test's own in tests.
    UpdateDriver(Desktop& desktop, cfu::CfuLibrary& library, WaitClock& clock);
    // The calls go through `library`, which must outlive the driver.
    UpdateDriver(Desktop& desktop, cfu::UpdateLibrary& library, WaitClock& clock);

    // The run. Only one runs at a time; the caller (the Start handler) ensures it.
    RunOutcome RunUpdate(const RunInput& input);

    WaitClock& Clock() { return clock_; }

    // Receives the run's events as well; null for none. Set before the run.
    void SetEventSink(RunEventSink* sink) { sink_ = sink; }
    // The interface the runs update; empty (the default): the first one that
    // matches.
    void SetTargetPath(std::u16string path) { targetPath_ = std::move(path); }
    // With a verdict held, the success text and broadcast wait for the device
    // to report the offered version when it is read again; a device that does
    // not confirm it never shows success. Off (the default): success follows
    // the transfer, and the read-back comes after it.
    void SetHoldSuccessForVerification(bool hold) { holdSuccess_ = hold; }
    // The dialog's fixed pauses: 2 s before the success text and 10 s before
    // the run's end is broadcast. On (the default) for the window; a program
    // that ends as soon as the result is known turns them off. The broadcasts
    // keep their order either way.
    void SetFixedWaits(bool on) { fixedWaits_ = on; }

    // The pause between two read-backs; null (the default): the clock's
    // sleep of the whole time.
    void SetReadBackPause(ReadBackPause pause) { readBackPause_ = std::move(pause); }
    void Apply(const DriverOptions& options) {
        holdSuccess_ = options.holdSuccessForVerification;
        fixedWaits_ = options.fixedWaits;
        readBackPause_ = options.readBackPause;
    }

    // After a completed transfer the device is read again for up to this long
    // (it may restart and come back under a new handle), at least every
    // kVerifyRetryMs.
    static constexpr std::uint32_t kVerifyRetryMs = 1000;
    static constexpr std::uint32_t kVerifyWindowMs = 19 * kVerifyRetryMs;
    // A device that answers but keeps reporting the old version for this long
    // is not waited for any more.
    static constexpr std::uint32_t kStaleVersionMs = 4 * kVerifyRetryMs;

  private:
    // Hears the progress of the endpoint this driver updates.
    class Listener final : public engine::ProgressListener {
      public:
        explicit Listener(UpdateDriver& driver) : driver_(driver) {}
        void OnProgress(std::uint64_t endpoint, const engine::UpdateProgress& progress) override {
            driver_.OnProgress(endpoint, progress);
        }

      private:
        UpdateDriver& driver_;
    };

    void OnProgress(std::uint64_t endpoint, const engine::UpdateProgress& progress);
    void Broadcast(ProgressEvent event, std::int64_t lParam);
    // Broadcast 3, the console text and the log text (in red), with `rst`.
    void ReportFailure(const char* consoleFormat, const char* logFormat, engine::UpdateError rst);
    void Print(const std::string& text);
    bool EndpointStage(const std::u16string& path);
    // After a failed step: the result's meaning, on the console in English
    // and in the log in the interface's language (on the step's log line
    // when `logLineOpen`).
    void Explain(const char* consoleFormat, engine::UpdateError rst, bool logLineOpen);
    // True when `path` is still among the system's interfaces.
    bool StillPresent(const std::u16string& path);
    void EndRun();
    // Refuses a payload file the packaging tool would not take.
    bool PayloadSizeAcceptable(const std::u16string& payloadPath);
    // Reads the description again and compares it with the offered version.
    void VerifyUpdate();
    // One try: finds, opens, describes and closes the device. False when the
    // device could not be read; `component` is the offered component as read.
    bool ReadBackVersion(std::uint8_t componentId, cfu::ComponentVersion& component);

    Desktop& desktop_;
    // Set when the driver was given a library object: the calls over it.
    std::unique_ptr<cfu::LibraryCalls> ownCalls_;
    cfu::UpdateLibrary& library_;
    Listener listener_{*this};
    WaitClock& clock_;
    const RunInput* input_ = nullptr;
    RunOutcome outcome_;
    // A status of 0 at 100 % arrived during this run's update call.
    bool transferCompleted_ = false;
    RunEventSink* sink_ = nullptr;
    std::u16string path_;
    std::u16string targetPath_;
    // The updated device's description before the update: after a restart
    // under a new node it is told apart from other buds by its component
    // and bud role.
    cfu::DeviceComponents updatedDescription_;
    // The matching interfaces listed when the run began: after a restart the
    // device comes back under a node that is not among them.
    std::vector<std::u16string> listedAtStart_;
    // The updated device's serial string (empty: none): after a restart it is
    // the device's identity among new nodes.
    std::u16string updatedSerial_;
    bool holdSuccess_ = false;
    bool fixedWaits_ = true;
    ReadBackPause readBackPause_;
    // Notes the offered component's ID, bud role and versions in the outcome.
    // True when the offered version is older than the one the device
    // reports for the offered component.
    bool NoteUnit(const cfu::DeviceComponents& description);
    // The success text and broadcast.
    void AnnounceSuccess();
};

}  // namespace zelk::app
