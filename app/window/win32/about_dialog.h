// The About box (template 100), opened from the main window's system menu.
#pragma once

#include "app/window/win32/win32_desktop.h"

namespace zelk::app::win32 {

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM);

}  // namespace zelk::app::win32
