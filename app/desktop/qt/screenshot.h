// The test-only --screenshot option: press Start once the window is up, wait
// for the run to end, save the window's picture as PNG and end the program.
#pragma once

#include <QString>

#include "desktop/qt/qt_desktop.h"
#include "main_dialog.h"

namespace zelk::app::qt {

// `revealAdmin` shows the administrator controls first, as a right password would.
void ScheduleScreenshot(QtDesktop& desktop, MainDialog& dialog, const QString& file,
                        bool revealAdmin);

}  // namespace zelk::app::qt
