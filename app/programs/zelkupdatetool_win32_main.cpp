// ZelkUpdateTool.exe: the updater's dialog window on Windows (Win32 dialogs
// from zelkupdatetool.rc). It writes out the embedded package, shows the main
// dialog and runs an update when Start is pressed. With "hide window" set in
// the device information (line 6 = 1) the window never appears: the update
// starts by itself and the program ends after it. Once the window is gone,
// files an administrator chose are handed to the packaging tool.
//
//   ZelkUpdateTool.exe [--simulate[=FILE]] [--screenshot=FILE.bmp [--screenshot-admin]]
#include "app/window/win32/win32_desktop.h"
// After <windows.h>, which they need.
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog/admin_password.h"
#include "app/dialog/main_dialog.h"
#include "app/dialog/package_authoring.h"
#include "app/run/update_driver.h"
#include "app/window/win32/resource_ids.h"
#include "cfu_library.h"
#include "hid_platform.h"
#include "wait_clock.h"
#include "zelk_version.h"

namespace {

using zelk::app::CAdminPassword;
using zelk::app::MainDialog;
using zelk::app::win32::Win32Desktop;
namespace control = zelk::app::control;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;
constexpr UINT_PTR kScreenshotTimer = 1;
constexpr UINT kScreenshotDelayMs = 1500;

struct Options {
    std::optional<std::string> simulate;
    std::optional<std::wstring> screenshot;
    bool screenshotAdmin = false;
};

struct Context {
    Win32Desktop& desktop;
    MainDialog& dialog;
    const Options& options;
    HICON icon = nullptr;
    bool screenshotRunStarted = false;
};

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::optional<std::string> Parse(Options& options, bool& help, bool& version) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr) {
        return std::string("cannot read the command line");
    }
    std::optional<std::string> error;
    for (int i = 1; i < argc && !error; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--help" || arg == L"-h") {
            help = true;
        } else if (arg == L"--version") {
            version = true;
        } else if (arg == L"--simulate") {
            options.simulate = "default";
        } else if (arg.starts_with(L"--simulate=")) {
            options.simulate = Utf8(arg.substr(11));
            if (options.simulate->empty()) {
                error = "--simulate= needs a file";
            }
        } else if (arg.starts_with(L"--screenshot=")) {
            options.screenshot = arg.substr(13);
        } else if (arg == L"--screenshot-admin") {
            options.screenshotAdmin = true;
        } else {
            error = "unknown option " + Utf8(arg);
        }
    }
    LocalFree(argv);
    return error;
}

constexpr const char* kUsage =
    "Usage: ZelkUpdateTool [--simulate[=FILE]]\n"
    "\n"
    "Shows the firmware updater's window; Start updates the first matching HID\n"
    "device with the package this program carries.\n"
    "\n"
    "  --simulate         update the built-in virtual earbud instead of real devices\n"
    "  --simulate=FILE    update the virtual devices described in FILE\n"
    "  --help             show this text\n"
    "  --version          show the version\n";

// The window as it is on the screen, as a 24-bit bottom-up BMP file.
bool SaveWindowBitmap(HWND window, const std::wstring& path) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) {
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    std::vector<char> pixels(static_cast<std::size_t>(stride) * height);
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height) {
        return false;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

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

// What the password dialog works with; the owner of message boxes is put
// back when it ends.
struct PasswordContext {
    CAdminPassword& password;
    Win32Desktop& desktop;
    HWND previousOwner = nullptr;
};

void EndPasswordDialog(HWND window, PasswordContext& context, INT_PTR result) {
    context.desktop.SetMessageOwner(context.previousOwner);
    EndDialog(window, result);
}

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
void AskToClose(HWND window, Context& context) {
    if (context.dialog.CloseWhenRunEnds()) {
        context.desktop.MessageBox(CloseRefusedText(context.dialog.Texts().ChineseUi));
        return;
    }
    DestroyWindow(window);
}

INT_PTR CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* context = reinterpret_cast<Context*>(GetWindowLongPtrW(window, DWLP_USER));
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        context = reinterpret_cast<Context*>(lParam);
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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace zelk;
    Options options;
    bool help = false;
    bool version = false;
    if (const auto error = Parse(options, help, version)) {
        std::fprintf(stderr, "ZelkUpdateTool: %s\n\n%s", error->c_str(), kUsage);
        return kExitUsage;
    }
    if (help || version) {
        std::fputs(help ? kUsage : "ZelkUpdateTool " ZELK_VERSION_STRING "\n", stdout);
        return kExitSuccess;
    }
    // Before anything opens a HID device.
    if (options.simulate) {
        std::string error;
        if (!hid::SelectVirtualHidBackend(*options.simulate, error)) {
            std::fprintf(stderr, "ZelkUpdateTool: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (LoadLibraryW(L"riched20.dll") == nullptr) {
        std::fprintf(stderr, "ZelkUpdateTool: the rich-edit control is missing (error %lu)\n",
                     GetLastError());
        return kExitFailure;
    }

    app::win32::Win32Desktop desktop(instance);
    app::UpdateDriver driver(desktop, cfu::ProcessLibrary(), SystemClock());
    app::MainDialog dialog(desktop, driver);
    Context context{desktop, dialog, options, LoadIconW(instance, MAKEINTRESOURCEW(ZELK_IDI_APP))};

    const HWND window = CreateDialogParamW(instance, MAKEINTRESOURCEW(ZELK_IDD_MAIN), nullptr,
                                           MainProc, reinterpret_cast<LPARAM>(&context));
    if (window == nullptr) {
        std::fprintf(stderr, "ZelkUpdateTool: the window could not be created (error %lu)\n",
                     GetLastError());
        return kExitFailure;
    }
    const bool unattended = dialog.HideWindow();
    if (!unattended) {
        ShowWindow(window, SW_SHOW);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // The window is gone; a run that is still finishing reports nowhere.
    dialog.WaitForRun();
    app::RunPackagingCheck(dialog);
    // Unattended, the status is all a caller sees of the run.
    return unattended ? app::UnattendedExitStatus(dialog.LastOutcome()) : kExitSuccess;
}
