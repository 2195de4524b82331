// The window program's picture of itself (--screenshot), for the documentation.
#pragma once

#include <string>

#include "app/window/win32/win32_desktop.h"

namespace zelk::app::win32 {

// The window as it is on the screen, as a 24-bit bottom-up BMP file.
bool SaveWindowBitmap(HWND window, const std::wstring& path);

}  // namespace zelk::app::win32
