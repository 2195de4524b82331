#include "update_driver.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "hid_backend_factory.h"
#include "text_encoding.h"
#include "update_config.h"

namespace zelk::app {
namespace {

// The driver whose run is in progress: the status callback is a plain
// function pointer and finds it here.
std::atomic<UpdateDriver*> g_activeDriver{nullptr};

std::string Format(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (length < 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length) < sizeof buffer
                                   ? static_cast<std::size_t>(length)
                                   : sizeof buffer - 1);
}

std::u16string Widen(const std::string& ascii) {
    return Utf8ToUtf16(ascii);
}

UpdateConfig RunConfig(const DeviceIdentity& identity) {
    UpdateConfig config = cfu::DefaultUpdateConfig();
    config.VendorId = identity.VendorId;
    config.ProductId = identity.ProductId;
    config.UsagePage = identity.UsagePage;
    config.Usage = identity.Usage;
    config.CheckReportCaps = 1;
    config.RequireVersionCapsAtMatch = identity.MiValue;
    return config;
}

}  // namespace

UpdateDriver::UpdateDriver(Desktop& desktop, cfu::CfuLibrary& library, WaitClock& clock)
    : desktop_(desktop), library_(library), clock_(clock) {}

void UpdateDriver::Print(const std::string& text) {
    desktop_.WriteStdout(text);
}

void UpdateDriver::Broadcast(ProgressEvent event, std::int64_t lParam) {
    switch (event) {
        case ProgressEvent::NoDevice:
            outcome_.noDevice = true;
            break;
        case ProgressEvent::StepFailed:
            outcome_.stepFailed = true;
            break;
        case ProgressEvent::Succeeded:
            outcome_.succeeded = true;
            break;
        default:
            break;
    }
    desktop_.BroadcastProgress(event, lParam);
}

void UpdateDriver::ReportFailure(const char* consoleFormat, const char* logFormat, ResultCode rst) {
    Broadcast(ProgressEvent::StepFailed, 0);
    Print(Format(consoleFormat, static_cast<int>(rst)));
    desktop_.AppendLog(Widen(Format(logFormat, static_cast<int>(rst))), kRed);
}

RunOutcome UpdateDriver::RunUpdate(const RunInput& input) {
    input_ = &input;
    outcome_ = {};
    g_activeDriver = this;

    Print(Format("\n================================= Test %d =================================\n",
                 1));
    const UpdateConfig config = RunConfig(input.identity);
    library_.SetConfig(config);
    library_.Initialize(1);

    const std::int32_t characters = library_.GetDeviceNumber();
    if (characters < 1) {
        Broadcast(ProgressEvent::NoDevice, 0);
        Print("Find no device.");
        desktop_.AppendLog(u"Find no device\n", kRed);
        // A device that is there but may not be opened: say what to do.
        if (const std::string access = hid::ActiveHidAccessProblem(); !access.empty()) {
            desktop_.AppendLog(Utf8ToUtf16(access + "\n"), kRed);
        }
        g_activeDriver = nullptr;
        return outcome_;
    }
    std::vector<char16_t> paths(static_cast<std::size_t>(characters), u'\0');
    const ResultCode pathResult = library_.GetDeviceEndpointPath(paths.data(), characters);
    if (pathResult != 0) {
        ReportFailure("Get device endpoint path fail, rst %d.",
                      "Get device endpoint path fail, rst %d.\n", pathResult);
        g_activeDriver = nullptr;
        return outcome_;
    }
    // Only the first interface is updated, even when several matched.
    const std::u16string path(paths.data());

    library_.SetConfigEx(config);
    library_.SetUpdateOptions(UpdateOptions{1, 0, 0, 0});

    ResultCode rst = library_.StartAddImage();
    if (rst != 0) {
        Print(Format("Start add CFU image fail, rst %d.", static_cast<int>(rst)));
        Broadcast(ProgressEvent::StepFailed, 0);
        desktop_.AppendLog(
            Widen(Format("Start add CFU image fail, rst %d.\n", static_cast<int>(rst))), kRed);
    } else if ((rst = library_.AddImage(input.offerPath, input.payloadPath)) != 0) {
        ReportFailure("Add CFU bank0 image fail, rst %d.", "Add CFU bank0 image fail, rst %d.\n",
                      rst);
    } else if ((rst = library_.StopAddImage()) != 0) {
        ReportFailure("Stop add CFU image fail, rst %d.", "Stop add CFU image fail, rst %d.\n",
                      rst);
    } else {
        EndpointStage(path);
    }
    g_activeDriver = nullptr;
    return outcome_;
}

bool UpdateDriver::EndpointStage(const std::u16string& path) {
    DeviceDescription description;
    std::memset(&description, 0, sizeof description);
    EndpointHandle handle = CFU_NO_ENDPOINT;

    ResultCode rst = library_.OpenDeviceEndpoint(path, &handle);
    if (rst != 0) {
        // This log text has no line end: the next one continues its line.
        ReportFailure("Open device endpoint fail, rst %d.", "Open device endpoint fail, rst %d.",
                      rst);
    } else if ((rst = library_.GetDeviceDescription(handle, &description)) != 0) {
        ReportFailure("Get device description fail, rst %d.",
                      "Get device description fail, rst %d.\n", rst);
    } else {
        const ComponentEntry& first = description.Components[0];
        Print(
            Format("\n#################### Device Description ####################\n"
                   "   Component ID: %d\n   Current Bank: %d\n   Bud Role: %d\n"
                   "   FwVersion: %d.%d.%d.%d\n",
                   static_cast<int>((first.ComponentInfo >> 8) & 0xFF),
                   static_cast<int>(first.ComponentInfo & 0x3),
                   static_cast<int>((first.ComponentInfo >> 2) & 0x3),
                   static_cast<int>(first.VersionPart1), static_cast<int>(first.VersionPart2),
                   static_cast<int>(first.VersionPart3), static_cast<int>(first.VersionPart4)));
        rst = library_.RegisterUpdateStatusCallback(handle, &UpdateDriver::ProgressCallback);
        if (rst != 0) {
            ReportFailure("Register update status callback fail, rst %d.",
                          "Register update status callback fail, rst %d.\n", rst);
        } else {
            Print("\n######################## Download ########################\n");
            rst = library_.Update(handle);
            if (rst != 0) {
                ReportFailure("Update fail, rst %d.", "Update fail, rst %d.\n", rst);
            }
        }
    }

    // The clean-up runs whatever failed above; after a failed open the
    // unregister call adopts the handle value, so the close closes what was opened.
    if ((rst = library_.UnregisterUpdateStatusCallback(handle)) != 0) {
        ReportFailure("Unregister update status callback fail, rst %d.",
                      "Unregister update status callback fail, rst %d.\n", rst);
    }
    if ((rst = library_.CloseDeviceEndpoint(handle)) != 0) {
        ReportFailure("Close device endpoint fail, rst %d.",
                      "Close device endpoint fail, rst %d.\n", rst);
    }
    library_.Uninitialize();
    clock_.SleepFor(10000);
    Broadcast(ProgressEvent::RunEnded, 0);
    return true;
}

std::int32_t UpdateDriver::ProgressCallback(std::uint64_t endpoint, const UpdateStatus* status) {
    UpdateDriver* driver = g_activeDriver.load();
    if (driver != nullptr && status != nullptr) {
        driver->OnProgress(endpoint, *status);
    }
    return 0;
}

void UpdateDriver::OnProgress(std::uint64_t endpoint, const UpdateStatus& status) {
    const int percentage = status.Percentage;
    const int code = static_cast<int>(status.Status);
    const LocalTime now = desktop_.Now();
    Print(Format("%02d:%02d:%02d.%03d    HANDLE %d: percentage: %d, status: %d. \r", now.hour,
                 now.minute, now.second, now.millisecond,
                 static_cast<int>(static_cast<std::int32_t>(endpoint & 0xFFFFFFFFu)), percentage,
                 code));
    desktop_.DebugOutput(Widen(Format("progress:%d status:%d", percentage, code)));
    if (percentage == 10) {
        desktop_.AppendLog(input_->texts.InProgressText, kOrange);
        Broadcast(ProgressEvent::Progress, 10);
    } else if (percentage == 100) {
        clock_.SleepFor(2000);
        desktop_.AppendLog(input_->texts.SuccessText, kGreen);
        Broadcast(ProgressEvent::Succeeded, 0);
    } else {
        Broadcast(ProgressEvent::Progress, percentage);
    }
}

}  // namespace zelk::app
