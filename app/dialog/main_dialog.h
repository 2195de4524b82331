// The main dialog's logic, whatever draws it: the state that the update
// driver and the packaging step read, initialisation, and the Start button.
// The window layers (Qt, Win32) and the console program render it through the
// desktop seam.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/desktop/desktop.h"
#include "app/run/embedded_package.h"
#include "app/run/run_inputs.h"
#include "app/run/update_driver.h"
#include "app/text/language_texts.h"

namespace zelk::app {

// Puts the device information into the dialog: the five identifier edits
// get their lines' texts exactly as read, the hide-window box its flag.
void ShowDeviceInfo(DesktopWindow& window, const DeviceInfo& info);

class MainDialog {
  public:
    MainDialog(Desktop& desktop, UpdateDriver& driver);
    // Waits for a run that is still going: the worker uses this dialog.
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Gathers the start-up inputs (package, device information, language)
    // and shows them: the identifier edits and the hide-window box from the
    // device information, the button texts in the chosen language.
    void Prepare();
    // Prepare, then, in hide-window mode, start the update at once (with the
    // texts already in place).
    void Initialize();

    // The Start button: the ready text in black, then one run on a worker
    // thread, of the inputs gathered at start (edits changed since then do
    // not change the device this run looks for). While a run is going a press only says so and
    // starts nothing.
    void OnStart();
    bool RunActive() const { return runActive_; }
    // The user asked to close the window. True when a run is going: the
    // window is then closed (CloseMainWindow) as soon as that run has ended,
    // and the caller keeps it open until then. False when no run is going:
    // the caller closes it now.
    bool CloseWhenRunEnds();
    // Waits until the current run (if any) has ended.
    void WaitForRun();
    // How the last finished run went.
    RunOutcome LastOutcome() {
        std::lock_guard lock(runMutex_);
        return lastOutcome_;
    }

    Desktop& desktop() { return desktop_; }
    const LanguageTexts& Texts() const { return inputs_.texts; }
    const DeviceIdentity& Identity() const { return inputs_.Identity(); }
    const PackagePaths& Paths() const { return inputs_.paths; }
    PackagePaths& Paths() { return inputs_.paths; }
    bool HideWindow() { return desktop_.IsChecked(control::kHideWindow); }

    // Chosen by the administrator for packaging (empty until then).
    std::u16string AdminOfferPath;
    std::u16string AdminPayloadPath;
    // The device information as the administrator last saw it in the window
    // (KeepAdministratorValues): what the packaging tool gets.
    std::optional<std::u16string> AdminDeviceInfo;

  private:
    void UpdateWorker(RunInput input);

    Desktop& desktop_;
    UpdateDriver& driver_;
    StartupInputs inputs_;

    std::mutex runMutex_;
    std::thread worker_;
    std::atomic<bool> runActive_{false};
    bool closeAfterRun_ = false;  // guarded by runMutex_
    RunOutcome lastOutcome_;
};

}  // namespace zelk::app
