// The main dialog's window procedure (template 102): the dialog logic's
// buttons, the admin password, closing that waits for a running update, the
// minimised icon, and the timed picture of --screenshot.
#pragma once

#include <optional>
#include <string>

#include "app/dialog/main_dialog.h"
#include "app/window/win32/win32_desktop.h"

namespace zelk::app::win32 {

struct WindowOptions {
    std::optional<std::string> simulate;
    std::optional<std::wstring> screenshot;
    bool screenshotAdmin = false;
};

struct MainWindowContext {
    Win32Desktop& desktop;
    MainDialog& dialog;
    const WindowOptions& options;
    HICON icon = nullptr;
    bool screenshotRunStarted = false;
};

// Its lParam at creation is the MainWindowContext, which outlives the window.
INT_PTR CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zelk::app::win32
