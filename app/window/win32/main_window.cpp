#include "app/window/win32/main_window.h"

#include <cstdio>

#include "app/dialog/admin_password.h"
#include "app/dialog/package_authoring.h"
#include "app/window/win32/about_dialog.h"
#include "app/window/win32/admin_password_dialog.h"
#include "app/window/win32/resource_ids.h"
#include "app/window/win32/screenshot.h"

namespace zelk::app::win32 {
namespace {

namespace control = zelk::app::control;

constexpr UINT_PTR kScreenshotTimer = 1;
constexpr UINT kScreenshotDelayMs = 1500;

std::u16string CloseRefusedText(bool chinese) {
    return chinese ? u"正在升级，升级完成后窗口才会关闭。"
                   : u"An update is running; the window closes when it has finished.";
}

void AddAboutEntry(HWND window, HINSTANCE instance) {
    wchar_t text[128] = {};
    if (LoadStringW(instance, ZELK_IDS_PROGRESS_MESSAGE, text, 128) <= 0) {
        return;
    }
    if (HMENU menu = GetSystemMenu(window, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, ZELK_IDM_ABOUT, text);
        EnableMenuItem(menu, ZELK_IDM_ABOUT, MF_BYCOMMAND | MF_DISABLED);
    }
}

// Off the screen and off the taskbar.
void HideForGood(HWND window) {
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOZORDER | SWP_NOACTIVATE);
    LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
    style = (style & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW)) | WS_EX_TOOLWINDOW;
    SetWindowLongPtrW(window, GWL_EXSTYLE, style);
}

void PaintMinimised(HWND window, HICON icon) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SendMessageW(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(window, &client);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    DrawIcon(dc, x, y, icon);
    EndPaint(window, &paint);
}

// Closing by the user waits for a running update: the worker reports to
// this window.
void AskToClose(HWND window, MainWindowContext& context) {
    if (context.dialog.CloseWhenRunEnds()) {
        context.desktop.MessageBox(CloseRefusedText(context.dialog.Texts().ChineseUi));
        return;
    }
    DestroyWindow(window);
}

}  // namespace

INT_PTR CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<MainWindowContext*>(GetWindowLongPtrW(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        context = reinterpret_cast<MainWindowContext*>(lParam);
        Win32Desktop& desktop = context->desktop;
        desktop.AttachWindow(window);
        AddAboutEntry(window, desktop.Instance());
        SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(context->icon));
        SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(context->icon));
        desktop.PrepareLogPane();
        context->dialog.Initialize();
        if (context->dialog.HideWindow()) {
            HideForGood(window);
        } else if (context->options.screenshot) {
            if (context->options.screenshotAdmin) {
                zelk::app::RevealAdminControls(desktop);
            }
            SetTimer(window, kScreenshotTimer, kScreenshotDelayMs, nullptr);
        }
        return TRUE;
    }
    if (context == nullptr) {
        return FALSE;
    }
    if (message == Win32Desktop::CloseMessage()) {
        DestroyWindow(window);
        return TRUE;
    }
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case control::kStart:
                    context->dialog.OnStart();
                    return TRUE;
                case control::kAdmin: {
                    CAdminPassword password(context->desktop, context->dialog.Texts().ChineseUi);
                    PasswordContext passwordContext{password, context->desktop};
                    if (DialogBoxParamW(context->desktop.Instance(),
                                        MAKEINTRESOURCEW(ZELK_IDD_PASSWORD), window, PasswordProc,
                                        reinterpret_cast<LPARAM>(&passwordContext)) == IDOK) {
                        zelk::app::RevealAdminControls(context->desktop);
                    }
                    return TRUE;
                }
                case control::kChooseOffer:
                    zelk::app::ChooseOffer(context->dialog);
                    return TRUE;
                case control::kChoosePayload:
                    zelk::app::ChoosePayload(context->dialog);
                    return TRUE;
                case control::kSet:
                    zelk::app::WriteDeviceInfo(context->dialog);
                    return TRUE;
                case IDOK: {
                    // Return: the hidden OK button is the template's default,
                    // so Return on Start would end the program. On a focused
                    // push button it presses that button (Start, as the focus
                    // is at start); elsewhere it is the dialog's OK.
                    if (const int command = Win32Desktop::ReturnKeyCommand(window)) {
                        SendMessageW(window, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED),
                                     reinterpret_cast<LPARAM>(GetDlgItem(window, command)));
                    } else {
                        AskToClose(window, *context);  // the dialog's own OK
                    }
                    return TRUE;
                }
                case IDCANCEL:
                    AskToClose(window, *context);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            AskToClose(window, *context);
            return TRUE;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == ZELK_IDM_ABOUT) {
                DialogBoxParamW(context->desktop.Instance(), MAKEINTRESOURCEW(ZELK_IDD_ABOUT),
                                window, AboutProc, 0);
                return TRUE;
            }
            return FALSE;
        case WM_PAINT:
            if (IsIconic(window)) {
                PaintMinimised(window, context->icon);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            SetWindowLongPtrW(window, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(context->icon));
            return TRUE;
        case WM_TIMER:
            if (wParam == kScreenshotTimer) {
                // With a simulated device the picture shows a whole run's log.
                if (context->options.simulate && !context->screenshotRunStarted) {
                    context->screenshotRunStarted = true;
                    context->dialog.OnStart();
                    return TRUE;
                }
                if (context->dialog.RunActive()) {
                    return TRUE;
                }
                KillTimer(window, kScreenshotTimer);
                if (!SaveWindowBitmap(window, *context->options.screenshot)) {
                    std::fprintf(stderr, "ZelkUpdateTool: the screenshot could not be written\n");
                }
                AskToClose(window, *context);
                return TRUE;
            }
            return FALSE;
        case WM_DESTROY:
            // The controls still exist: the packaging tool gets what the
            // administrator saw last.
            zelk::app::KeepAdministratorValues(context->dialog);
            context->desktop.DetachWindow();
            PostQuitMessage(0);
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace zelk::app::win32
