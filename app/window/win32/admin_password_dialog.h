// CAdminPassword drawn as the Win32 dialog on template 130.
#pragma once

#include "app/dialog/admin_password.h"
#include "app/window/win32/win32_desktop.h"

namespace zelk::app::win32 {

// What the password dialog works with; the owner of message boxes is put
// back when it ends.
struct PasswordContext {
    CAdminPassword& password;
    Win32Desktop& desktop;
    HWND previousOwner = nullptr;
};

INT_PTR CALLBACK PasswordProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zelk::app::win32
