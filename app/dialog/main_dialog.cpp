#include "app/dialog/main_dialog.h"

namespace zelk::app {

void ShowDeviceInfo(DesktopWindow& window, const DeviceInfo& info) {
    constexpr int kEdits[] = {control::kVidEdit, control::kPidEdit, control::kUsagePageEdit,
                              control::kUsageEdit, control::kMiEdit};
    for (std::size_t i = 0; i < info.texts.size(); ++i) {
        window.SetControlText(kEdits[i], info.texts[i]);
    }
    window.SetChecked(control::kHideWindow, info.hideWindow);
}

MainDialog::MainDialog(Desktop& desktop, UpdateDriver& driver)
    : desktop_(desktop), driver_(driver) {}

MainDialog::~MainDialog() {
    WaitForRun();
}

void MainDialog::Prepare() {
    inputs_ = GatherStartupInputs(desktop_);
    if (inputs_.deviceInfo) {
        ShowDeviceInfo(desktop_, *inputs_.deviceInfo);
    }
    desktop_.SetControlText(control::kStart, inputs_.texts.StartText);
    desktop_.SetControlText(control::kAdmin, inputs_.texts.AdminText);
}

void MainDialog::Initialize() {
    Prepare();
    if (HideWindow()) {
        OnStart();
    }
}

void MainDialog::OnStart() {
    std::lock_guard lock(runMutex_);
    if (runActive_) {
        // The library's state is not guarded: a second run must never reach it.
        desktop_.AppendLog(inputs_.texts.BusyText, kOrange);
        return;
    }
    desktop_.AppendLog(inputs_.texts.ReadyText, kBlack);
    if (worker_.joinable()) {
        worker_.join();  // the previous run has ended; only its thread is left
    }
    runActive_ = true;
    // The run's inputs are taken here, on the UI thread: the worker shares
    // nothing of the dialog's state but the outcome.
    worker_ = std::thread(&MainDialog::UpdateWorker, this, inputs_.Run());
}

void MainDialog::UpdateWorker(RunInput input) {
    const RunOutcome outcome = driver_.RunUpdate(input);
    {
        std::lock_guard lock(runMutex_);
        lastOutcome_ = outcome;
    }
    // Read before the lock: the box lives on the UI thread, which may be
    // waiting for this lock in OnStart or CloseWhenRunEnds.
    const bool hidden = HideWindow();
    bool asked = false;
    {
        std::lock_guard lock(runMutex_);
        asked = closeAfterRun_;
        closeAfterRun_ = false;
        runActive_ = false;
    }
    if (hidden) {
        driver_.Clock().SleepFor(50);
    }
    if (hidden || asked) {
        desktop_.CloseMainWindow();
    }
}

bool MainDialog::CloseWhenRunEnds() {
    std::lock_guard lock(runMutex_);
    if (!runActive_) {
        return false;
    }
    closeAfterRun_ = true;
    return true;
}

void MainDialog::WaitForRun() {
    std::thread finished;
    {
        std::lock_guard lock(runMutex_);
        finished = std::move(worker_);
    }
    if (finished.joinable()) {
        finished.join();
    }
}

}  // namespace zelk::app
