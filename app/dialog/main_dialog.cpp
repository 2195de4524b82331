#include "app/dialog/main_dialog.h"

namespace zelk::app {

MainDialog::MainDialog(Desktop& desktop, UpdateDriver& driver)
    : desktop_(desktop), driver_(driver) {}

MainDialog::~MainDialog() {
    WaitForRun();
}

void MainDialog::Prepare() {
    ExtractPackage(desktop_, paths_);
    LoadDeviceInfo(desktop_, paths_, identity_);
    // The texts come first: in hide-window mode the worker reads them at once.
    texts_ = ChooseLanguage(desktop_.SystemLanguageId());
    desktop_.SetControlText(control::kStart, texts_.StartText);
    desktop_.SetControlText(control::kAdmin, texts_.AdminText);
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
        desktop_.AppendLog(texts_.BusyText, kOrange);
        return;
    }
    desktop_.AppendLog(texts_.ReadyText, kBlack);
    if (worker_.joinable()) {
        worker_.join();  // the previous run has ended; only its thread is left
    }
    runActive_ = true;
    worker_ = std::thread(&MainDialog::UpdateWorker, this);
}

void MainDialog::UpdateWorker() {
    const RunInput input{identity_, paths_.OfferTempPath, paths_.PayloadTempPath, texts_};
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
