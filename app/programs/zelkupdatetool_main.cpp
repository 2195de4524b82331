// ZelkUpdateTool: the updater's dialog window on Linux (Qt Widgets). It
// writes out the embedded package, shows the main dialog and runs an update
// when Start is pressed. With "hide window" set in the device information
// (line 6 = 1) the window never appears: the update starts by itself and the
// program ends after it. Once the window is gone, files an administrator chose
// are handed to the packaging tool.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/dialog/main_dialog.h"
#include "app/dialog/package_authoring.h"
#include "app/platform/interrupt.h"
#include "app/run/update_driver.h"
#include "app/window/qt/dialog_actions.h"
#include "app/window/qt/qt_desktop.h"
#include "app/window/qt/run_wait.h"
#include "app/window/qt/screenshot.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"
#include "updatelib/cfu_library.h"
#include "zelk_version.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "Usage: ZelkUpdateTool [--simulate[=FILE]]\n"
    "\n"
    "Shows the firmware updater's window; Start updates the first matching HID\n"
    "device with the package this program carries.\n"
    "\n"
    "  --simulate         update the built-in virtual earbud instead of real devices\n"
    "  --simulate=FILE    update the virtual devices described in FILE\n"
    "                     (the format is in docs/virtual-devices.md)\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are accepted as well.\n";

struct Options {
    std::optional<std::string> simulate;
    std::optional<std::string> screenshot;  // test-only, see docs/window.md
    bool screenshotAdmin = false;
    bool help = false;
    bool version = false;
};

// Reads the program's own options; Qt has taken its own out of argv already.
std::optional<std::string> Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            options.simulate = "default";
        } else if (arg.starts_with("--simulate=")) {
            options.simulate = std::string(arg.substr(std::strlen("--simulate=")));
            if (options.simulate->empty()) {
                return std::string("--simulate= needs a file");
            }
        } else if (arg.starts_with("--screenshot=")) {
            options.screenshot = std::string(arg.substr(std::strlen("--screenshot=")));
        } else if (arg == "--screenshot-admin") {
            options.screenshotAdmin = true;
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    return std::nullopt;
}

// --help and --version answer without a display; so does a usage mistake.
std::optional<int> AnswerWithoutWindow(int argc, char** argv, Options& options) {
    if (const auto error = Parse(argc, argv, options)) {
        std::fprintf(stderr, "ZelkUpdateTool: %s\n\n%s", error->c_str(), kUsage);
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (options.version) {
        std::puts("ZelkUpdateTool " ZELK_VERSION_STRING);
        return kExitSuccess;
    }
    return std::nullopt;
}

// Qt's own command-line options (QGuiApplication and QApplication), which
// Qt takes out of argv when it starts; those in the second list take a value.
bool IsQtOption(std::string_view arg, bool& takesValue) {
    static constexpr std::string_view kFlags[] = {"reverse", "nograb",      "dograb",
                                                  "sync",    "widgetcount", "testability"};
    static constexpr std::string_view kWithValue[] = {"platform",      "platformpluginpath",
                                                      "platformtheme", "plugin",
                                                      "qmljsdebugger", "qwindowgeometry",
                                                      "qwindowicon",   "qwindowtitle",
                                                      "session",       "style",
                                                      "stylesheet",    "display",
                                                      "geometry",      "title",
                                                      "name",          "visual",
                                                      "ncols",         "cmap"};
    if (!arg.starts_with('-') || arg == "-h") {
        return false;
    }
    arg.remove_prefix(arg.starts_with("--") ? 2 : 1);
    const std::size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    for (const std::string_view flag : kFlags) {
        if (name == flag && equals == std::string_view::npos) {
            takesValue = false;
            return true;
        }
    }
    for (const std::string_view option : kWithValue) {
        if (name == option) {
            takesValue = equals == std::string_view::npos;
            return true;
        }
    }
    return false;
}

// The program's own arguments, without Qt's options and their values. A Qt
// option whose value is missing is a usage mistake (Qt itself would abort).
std::vector<char*> OwnArguments(int argc, char** argv, std::optional<std::string>& error) {
    std::vector<char*> own{argv[0]};
    for (int i = 1; i < argc; ++i) {
        bool takesValue = false;
        if (IsQtOption(argv[i], takesValue)) {
            if (takesValue && i + 1 >= argc) {
                error = std::string(argv[i]) + " needs a value";
                return own;
            }
            i += takesValue ? 1 : 0;
        } else {
            own.push_back(argv[i]);
        }
    }
    return own;
}

// Qt ends the process with an abort when it has no display to connect to;
// say so plainly instead, unless a platform was chosen explicitly.
bool DisplayAvailable(int argc, char** argv) {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) {
        return true;
    }
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        arg.remove_prefix(arg.starts_with("--") ? 2 : (arg.starts_with('-') ? 1 : 0));
        if (arg == "platform" || arg.starts_with("platform=")) {
            return true;
        }
    }
    return false;
}

constexpr int kExitNoDisplay = 69;

}  // namespace

int main(int argc, char** argv) {
    using namespace zelk;
    Options options;
    // Usage mistakes, --help and --version are answered before Qt starts, so
    // that they need no display.
    std::optional<std::string> qtOptionError;
    std::vector<char*> own = OwnArguments(argc, argv, qtOptionError);
    if (qtOptionError) {
        std::fprintf(stderr, "ZelkUpdateTool: %s\n\n%s", qtOptionError->c_str(), kUsage);
        return kExitUsage;
    }
    if (const auto answer =
            AnswerWithoutWindow(static_cast<int>(own.size()), own.data(), options)) {
        return *answer;
    }
    if (!DisplayAvailable(argc, argv)) {
        std::fputs(
            "ZelkUpdateTool: there is no display to show the window on (DISPLAY and "
            "WAYLAND_DISPLAY are not set). Run it in a desktop session, use zelkupdate "
            "for an update from the console, or choose a platform with -platform.\n",
            stderr);
        return kExitNoDisplay;
    }
    // The options were read above; Qt takes its own out of argv here.
    QApplication application(argc, argv);
    // Also while the window waits: an interrupt removes the run's files.
    app::InstallInterruptCleanup(false);
    // Before anything opens a HID device.
    if (options.simulate) {
        std::string error;
        if (!hid::SelectVirtualHidBackend(*options.simulate, error)) {
            std::fprintf(stderr, "ZelkUpdateTool: %s\n", error.c_str());
            return kExitUsage;
        }
    }

    app::qt::QtDesktop desktop;
    app::UpdateDriver driver(desktop, cfu::ProcessLibrary(), SystemClock());
    app::MainDialog dialog(desktop, driver);
    app::qt::AttachDialogActions(desktop, dialog);

    dialog.Initialize();
    const bool unattended = dialog.HideWindow();
    if (!unattended) {
        desktop.Window().show();
        if (options.screenshot) {
            app::qt::ScheduleScreenshot(desktop, dialog,
                                        QString::fromStdString(*options.screenshot),
                                        options.screenshotAdmin);
        }
    }
    QApplication::exec();

    // The event loop ends early only if something outside the window ended it;
    // the worker may then still be waiting for the UI thread.
    app::qt::WaitForRunServingEvents(dialog);
    app::RunPackagingCheck(dialog);
    // Unattended, the status is all a caller sees of the run.
    return unattended ? app::UnattendedExitStatus(dialog.LastOutcome()) : kExitSuccess;
}
