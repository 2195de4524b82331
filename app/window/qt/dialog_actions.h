// What the main window's buttons, context menu and close button do: the
// dialog logic's handlers, attached once the MainDialog exists.
#pragma once

#include <string>
#include <string_view>

#include "app/dialog/admin_password.h"
#include "app/dialog/main_dialog.h"
#include "app/window/qt/qt_desktop.h"

namespace zelk::app::qt {

// Shown when the user closes the window during a run; the window stays open.
std::u16string CloseRefusedText(bool chinese);

// Start (1000), Admin (1003) with the password dialog, the two choose buttons
// (1006, 1009), Set (1021), the about box in the context menu, and the
// refusal to close during a run. `storedDigest` is replaced in tests.
void AttachDialogActions(QtDesktop& desktop, MainDialog& dialog,
                         std::string_view storedDigest = kStoredPasswordDigest);

}  // namespace zelk::app::qt
