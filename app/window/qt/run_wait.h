// Waiting for the update worker on the UI thread: the worker's calls to the
// window wait for this thread, so it keeps serving them while it waits.
#pragma once

#include "app/dialog/main_dialog.h"

namespace zelk::app::qt {

// Returns once the dialog's worker thread (if any) has ended.
void WaitForRunServingEvents(MainDialog& dialog);

}  // namespace zelk::app::qt
