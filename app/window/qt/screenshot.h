// The test-only --screenshot option: press Start once the window is up, wait
// for the run to end, save the window's picture as PNG and end the program.
#pragma once

#include <QString>

#include "app/dialog/main_dialog.h"
#include "app/window/qt/qt_desktop.h"

namespace zelk::app::qt {

// `revealAdmin` shows the administrator controls first, as a right password would.
void ScheduleScreenshot(QtDesktop& desktop, MainDialog& dialog, const QString& file,
                        bool revealAdmin);

}  // namespace zelk::app::qt
