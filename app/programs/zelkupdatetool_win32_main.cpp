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
#include <optional>
#include <string>

#include "app/dialog/main_dialog.h"
#include "app/dialog/package_authoring.h"
#include "app/run/update_driver.h"
#include "app/window/win32/main_window.h"
#include "app/window/win32/resource_ids.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"
#include "updatelib/cfu_library.h"
#include "zelk_version.h"

namespace {

using zelk::app::win32::WindowOptions;

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::optional<std::string> Parse(WindowOptions& options, bool& help, bool& version) {
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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace zelk;
    WindowOptions options;
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
    app::win32::MainWindowContext context{desktop, dialog, options,
                                          LoadIconW(instance, MAKEINTRESOURCEW(ZELK_IDI_APP))};

    const HWND window =
        CreateDialogParamW(instance, MAKEINTRESOURCEW(ZELK_IDD_MAIN), nullptr, app::win32::MainProc,
                           reinterpret_cast<LPARAM>(&context));
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
