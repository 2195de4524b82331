#include "app/window/win32/admin_password_dialog.h"

#include <string>

#include "app/window/win32/resource_ids.h"

namespace zelk::app::win32 {
namespace {

BOOL CALLBACK SetLabelText(HWND child, LPARAM text) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (lstrcmpiW(className, L"Static") == 0) {
        SetWindowTextW(child, reinterpret_cast<const wchar_t*>(text));
        return FALSE;
    }
    return TRUE;
}

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

void EndPasswordDialog(HWND window, PasswordContext& context, INT_PTR result) {
    context.desktop.SetMessageOwner(context.previousOwner);
    EndDialog(window, result);
}

}  // namespace

INT_PTR CALLBACK PasswordProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<PasswordContext*>(GetWindowLongPtrW(window, DWLP_USER));
    CAdminPassword* password = context != nullptr ? &context->password : nullptr;
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            context = reinterpret_cast<PasswordContext*>(lParam);
            password = &context->password;
            // "Wrong Password!" stays modal over this dialog, not the main window.
            context->previousOwner = context->desktop.SetMessageOwner(window);
            const auto& texts = password->Texts();
            SetWindowTextW(window, Wide(texts.caption).c_str());
            const std::wstring label = Wide(texts.label);
            EnumChildWindows(window, SetLabelText, reinterpret_cast<LPARAM>(label.c_str()));
            SetDlgItemTextW(window, IDOK, Wide(texts.enter).c_str());
            SetDlgItemTextW(window, IDCANCEL, Wide(texts.quit).c_str());
            SendDlgItemMessageW(window, ZELK_IDC_PASSWORD_EDIT, EM_LIMITTEXT,
                                zelk::app::kPasswordMaxLength, 0);
            // Typing goes into the password at once; FALSE keeps this focus.
            SetFocus(GetDlgItem(window, ZELK_IDC_PASSWORD_EDIT));
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                wchar_t typed[64] = {};
                GetDlgItemTextW(window, ZELK_IDC_PASSWORD_EDIT, typed, 64);
                const std::wstring text = typed;
                if (password->Check(std::u16string(text.begin(), text.end()))) {
                    EndPasswordDialog(window, *context, IDOK);
                }
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndPasswordDialog(window, *context, IDCANCEL);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace zelk::app::win32
