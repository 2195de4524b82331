// zelkupdate: the updater without a window. It does what the dialog program
// does in hide-window mode, without a dialog: writes out the embedded
// package, reads the device information, runs one update from them and ends.
// The run is printed on standard output; the log texts go to standard error,
// in colour on a terminal.
//
// --json puts the run on standard output as JSON lines (docs/json-output.md)
// and moves the run's human lines to standard error; --list shows every
// matching interface without changing anything; --all updates every matching
// interface at once; --watch is the production station: it updates each
// matching device as it appears until it is stopped (docs/production-station.md).
//
// Exit status: 0 the device confirmed the update (with --all: every device); 1 the update failed,
// the program's package is missing or damaged, or --list met an interface it could not describe;
// 2 no matching device was found; 3 (only with --verify) the whole image was sent but the device,
// read again, does not report the offered version; 64 the command line was wrong. With --watch:
// 0 every unit was updated or already current (also when none came), 1 some unit failed, was
// unconfirmed or left alone.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/platform/interrupt.h"
#include "app/run/json_lines_sink.h"
#include "app/run/multi_device.h"
#include "app/run/run_inputs.h"
#include "app/run/station.h"
#include "app/run/unit_log.h"
#include "app/run/update_driver.h"
#include "app/text/text_encoding.h"
#include "app/window/console/console_desktop.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"
#include "updatelib/cfu_library.h"
#include "zelk_version.h"

namespace {

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitNoDevice = 2;
constexpr int kExitUnverified = 3;
constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "Usage: zelkupdate [--verify] [--json] [--all | --list | --watch [--count N]]\n"
    "                  [--simulate[=FILE]] [--offer FILE --payload FILE] [--log FILE]\n"
    "                  [--dialog-timing]\n"
    "\n"
    "Updates the firmware of the first matching HID device with the package\n"
    "this program carries.\n"
    "\n"
    "  --list             show every matching device (path, components, banks, bud\n"
    "                     roles, versions, beside the offered component the version\n"
    "                     an update would offer: newer, same or downgrade; one that\n"
    "                     cannot be opened is marked \"Not openable\") and change\n"
    "                     nothing; exit 2 when none (takes --offer alone)\n"
    "  --all              update every matching device at once, each on its own;\n"
    "                     exit 0 only when every one succeeded (one that cannot\n"
    "                     be opened counts as failed)\n"
    "  --watch            the production station: wait for matching devices and\n"
    "                     update each once as it appears, each on its own, until\n"
    "                     stopped (Ctrl+C or SIGTERM: the running updates are\n"
    "                     finished, then the summary; a second one ends at once);\n"
    "                     one line per device; success only when the device, read\n"
    "                     again, reports the new version; exit 0 when no unit\n"
    "                     failed (also when none came), else 1\n"
    "  --count N          with --watch: stop once N devices have a result\n"
    "  --json             the run as JSON lines on standard output (one object per\n"
    "                     line, docs/json-output.md); the human texts go to\n"
    "                     standard error\n"
    "  --simulate         update the built-in virtual earbud instead of real devices\n"
    "  --simulate=FILE    update the virtual devices described in FILE\n"
    "                     (the format is in docs/virtual-devices.md)\n"
    "  --offer FILE       use this CFU offer file (16 bytes) instead of the embedded one\n"
    "  --payload FILE     use this CFU payload file instead of the embedded one\n"
    "                     (at most 1048575 bytes)\n"
    "  --log FILE         append one JSON line per device and attempt to FILE (created\n"
    "                     when missing; docs/unit-log.md): time, path, serial,\n"
    "                     component, bud role, versions before and after, result,\n"
    "                     reason, duration, blocks; each line is on the disk\n"
    "                     before the run goes on; a line that cannot be written\n"
    "                     fails the run\n"
    "  --verify           after the transfer, succeed only when the device reports\n"
    "                     the offered version\n"
    "  --dialog-timing    keep the window's fixed pauses (2 s before the success\n"
    "                     text, 10 s before the end); without it the program ends\n"
    "                     as soon as the result is known\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 updated, 1 the update failed or the package is damaged,\n"
    "2 no matching device, 3 (with --verify) the image was sent but the device\n"
    "does not report the new version, 64 usage error.\n"
    "The environment variable ZELK_VIRTUAL_DEVICES (a file, or \"default\") has the\n"
    "same effect as --simulate.\n";

struct Options {
    std::optional<std::string> simulate;
    std::optional<std::string> offer;
    std::optional<std::string> payload;
    std::optional<std::string> log;
    bool verify = false;
    bool dialogTiming = false;
    bool json = false;
    bool list = false;
    bool all = false;
    bool watch = false;
    std::optional<std::string> count;
    std::uint32_t countValue = 0;
    bool help = false;
    bool version = false;
};

// Fills `options`; on a mistake returns the message to show.
std::optional<std::string> Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::optional<std::string>& into) -> std::optional<std::string> {
            // An option in the place of the value is a forgotten value, not
            // a file name.
            if (i + 1 >= argc || argv[i + 1][0] == '\0' ||
                std::string_view(argv[i + 1]).starts_with("--")) {
                return std::string(arg) + " needs a value (a file)";
            }
            into = argv[++i];
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--dialog-timing") {
            options.dialogTiming = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--all") {
            options.all = true;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--count") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0' ||
                std::string_view(argv[i + 1]).starts_with("--")) {
                return std::string("--count needs a value (a number of devices)");
            }
            options.count = argv[++i];
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulate") {
            options.simulate = "default";
        } else if (arg.starts_with("--simulate=")) {
            options.simulate = std::string(arg.substr(std::strlen("--simulate=")));
            if (options.simulate->empty()) {
                return std::string("--simulate= needs a file");
            }
        } else if (arg == "--offer") {
            if (auto error = value(options.offer)) {
                return error;
            }
        } else if (arg == "--payload") {
            if (auto error = value(options.payload)) {
                return error;
            }
        } else if (arg == "--log") {
            if (auto error = value(options.log)) {
                return error;
            }
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    // The listing shows the offered version: it needs the offer alone.
    if (!options.list && options.offer.has_value() != options.payload.has_value()) {
        return std::string("--offer and --payload go together");
    }
    if (options.count) {
        const std::string& text = *options.count;
        unsigned long value = 0;
        const bool digits = !text.empty() && text.size() <= 9 &&
                            text.find_first_not_of("0123456789") == std::string::npos;
        if (digits) {
            value = std::stoul(text);
        }
        if (!digits || value == 0) {
            return "--count needs a number of devices (1 or more), not \"" + text + "\"";
        }
        if (!options.watch) {
            return std::string("--count goes with --watch");
        }
        options.countValue = static_cast<std::uint32_t>(value);
    }
    if (options.watch && (options.all || options.list)) {
        return std::string("--watch takes neither --all nor --list");
    }
    if (options.list && (options.all || options.payload || options.verify || options.log)) {
        return std::string(
            "--list changes nothing: it takes none of --all, --payload, --verify, --log");
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zelk;
    Options options;
    if (const auto error = Parse(argc, argv, options)) {
        std::fprintf(stderr, "zelkupdate: %s\n\n%s", error->c_str(), kUsage);
        if (options.json) {
            app::JsonLinesSink(stdout).Exit(kExitUsage);
        }
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(kUsage, stdout);
        return kExitSuccess;
    }
    if (options.version) {
        std::puts("zelkupdate " ZELK_VERSION_STRING);
        return kExitSuccess;
    }
    std::unique_ptr<app::JsonLinesSink> sink;
    if (options.json) {
        sink = std::make_unique<app::JsonLinesSink>(stdout);
        sink->Start(options.list    ? "list"
                    : options.all   ? "all"
                    : options.watch ? "watch"
                                    : "update");
    }
    // Ctrl+C, kill, a closed terminal or a reader that went away end the run
    // with its directory removed and a conventional status.
    app::InstallInterruptCleanup(options.json);
    auto finish = [&](int status) {
        if (sink) {
            sink->Exit(status);
            // The lines are the run's report: one that could not be written
            // is a failed run, whatever happened on the device.
            if (sink->WriteFailed()) {
                std::fputs("zelkupdate: the JSON lines could not be written to standard output\n",
                           stderr);
                return status == kExitSuccess ? kExitFailed : status;
            }
        }
        return status;
    };
    // Before anything reaches a device: a run whose records cannot be kept
    // does not start.
    std::unique_ptr<app::UnitLog> unitLog;
    if (options.log) {
        std::string error;
        unitLog = app::OpenUnitLog(*options.log, error);
        if (!unitLog) {
            std::fprintf(stderr, "zelkupdate: %s\n", error.c_str());
            return finish(kExitUsage);
        }
    }
    bool unitLogFailed = false;
    auto record = [&](const app::RunOutcome& outcome) {
        if (unitLog && !outcome.path.empty() && !unitLog->Append(app::RecordOf(outcome))) {
            unitLogFailed = true;
        }
    };
    // A unit whose record is missing from the log is not a unit done.
    auto finishRun = [&](int status) {
        if (unitLogFailed) {
            std::fprintf(stderr,
                         "zelkupdate: a record could not be written to the log file %s; the "
                         "log is incomplete\n",
                         options.log->c_str());
            if (status == kExitSuccess) {
                status = kExitFailed;
            }
        }
        return finish(status);
    };
    if (options.simulate) {
        std::string error;
        if (!hid::SelectVirtualHidBackend(*options.simulate, error)) {
            std::fprintf(stderr, "zelkupdate: %s\n", error.c_str());
            return finish(kExitUsage);
        }
    }

    // With --json, standard output carries only the JSON lines.
    app::ConsoleOptions consoleOptions;
    if (options.json) {
        consoleOptions.out = stderr;
    }
    app::ConsoleDesktop desktop(std::move(consoleOptions));
    app::DriverOptions driverOptions;
    driverOptions.holdSuccessForVerification = options.verify;
    driverOptions.fixedWaits = options.dialogTiming;
    app::UpdateDriver driver(desktop, cfu::ProcessLibrary(), SystemClock());
    driver.SetEventSink(sink.get());
    driver.Apply(driverOptions);
    app::StartupInputs inputs = app::GatherStartupInputs(desktop);
    // A missing or damaged package has been reported above; running on with
    // half of it would at best find no device, so stop here and say why.
    const app::PackagePaths& paths = inputs.paths;
    if (paths.DeviceInfoPath.empty() ||
        (!options.list && !options.offer &&
         (paths.OfferTempPath.empty() || paths.PayloadTempPath.empty()))) {
        std::fputs(paths.PackageDamaged
                       ? "zelkupdate: the firmware package in this program is missing or damaged; "
                         "nothing was sent to any device\n"
                       : "zelkupdate: the firmware package could not be written to the temporary "
                         "directory (see above); nothing was sent to any device\n",
                   stderr);
        return finish(kExitFailed);
    }
    if (options.offer) {
        inputs.paths.OfferTempPath = app::Utf8ToUtf16(*options.offer);
    }
    if (options.payload) {
        inputs.paths.PayloadTempPath = app::Utf8ToUtf16(*options.payload);
    }
    const app::RunInput input = inputs.Run();
    // The run as the dialog's Start button begins it: the ready text first.
    auto run = [&] {
        desktop.AppendLog(input.texts.ReadyText, app::kBlack);
        return driver.RunUpdate(input);
    };

    if (options.list) {
        const auto devices = app::ListDevices(desktop, cfu::ProcessLibrary(), input.identity,
                                              input.texts.ChineseUi, sink.get(), input.offerPath);
        if (devices.empty()) {
            return finish(kExitNoDevice);
        }
        const bool allDescribed = std::all_of(
            devices.begin(), devices.end(), [](const app::ListedDevice& d) { return d.described; });
        return finish(allDescribed ? kExitSuccess : kExitFailed);
    }
    if (options.watch) {
        // The first SIGINT or SIGTERM stops the station: the running updates
        // are finished and the summary printed; a second one ends at once.
        app::StationOptions stationOptions;
        stationOptions.count = options.countValue;
        stationOptions.fixedWaits = options.dialogTiming;
        stationOptions.sink = sink.get();
        stationOptions.log = unitLog.get();
        stationOptions.stopFlag = &app::EnableGracefulStop();
        app::Station station(desktop, hid::ActiveHidBackend(), SystemClock(), input,
                             std::move(stationOptions));
        return finish(app::StationExitStatus(station.Run()));
    }
    if (options.all) {
        const std::vector<std::u16string> interfaces =
            app::MatchingInterfaces(cfu::ProcessLibrary(), input.identity);
        // A matching interface that cannot be opened is a device left
        // un-updated: it fails the run rather than vanishing from the count.
        const std::vector<std::u16string> unopenable =
            app::UnopenableInterfaces(hid::ActiveHidBackend(), input.identity);
        if (interfaces.empty() && unopenable.empty()) {
            // The usual run says so, with the identity searched for.
            run();
            return finish(kExitNoDevice);
        }
        const auto summary =
            app::UpdateAll(desktop, hid::ActiveHidBackend(), SystemClock(), input, interfaces,
                           sink.get(), unopenable, driverOptions, unitLog.get());
        unitLogFailed = std::any_of(summary.begin(), summary.end(),
                                    [](const app::DeviceSummary& d) { return d.unitLogFailed; });
        if (app::AllSucceeded(summary, options.verify)) {
            return finishRun(kExitSuccess);
        }
        // Every device took its image but one did not confirm the version.
        const bool onlyUnverified = app::AllSucceeded(summary, false);
        return finishRun(onlyUnverified ? kExitUnverified : kExitFailed);
    }

    const app::RunOutcome outcome = run();
    record(outcome);
    if (outcome.Success()) {
        return finishRun(options.verify && !outcome.Verified() ? kExitUnverified : kExitSuccess);
    }
    return finishRun(outcome.noDevice ? kExitNoDevice : kExitFailed);
}
