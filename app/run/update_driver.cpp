#include "app/run/update_driver.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include <filesystem>
#include <optional>
#include <system_error>

#include "app/run/read_back_target.h"
#include "app/run/run_messages.h"
#include "app/text/text_encoding.h"
#include "engine/firmware_version.h"
#include "hidtransport/byte_order.h"
#include "hidtransport/hid_backend_factory.h"
#include "updatelib/update_config.h"

namespace zelk::app {
namespace {

using engine::UpdateError;

// True when the system's access note names an interface of this identity.
bool NamesIdentity(const std::string& note, const DeviceIdentity& identity) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "VID_%04X&PID_%04X",
                  static_cast<unsigned>(identity.VendorId),
                  static_cast<unsigned>(identity.ProductId));
    std::string upper = note;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper.find(wanted) != std::string::npos;
}

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

// The documented number a failed step prints.
int Number(UpdateError error) {
    return static_cast<int>(engine::ErrorNumber(error));
}

// The first component of a description (all zeros when it names none).
cfu::ComponentVersion FirstComponent(const cfu::DeviceComponents& description) {
    return description.Components.empty() ? cfu::ComponentVersion{}
                                          : description.Components.front();
}

// The texts of the check after a transfer: English on the console, the
// interface's language in the log.
struct VerifyTexts {
    const char* verified;
    const char* stillOld;
    const char* unreadable;
};

constexpr VerifyTexts kVerifyEnglish{
    "Verified: the device now reports version %s.\n",
    "The device still reports %s: it may apply the update when it restarts.\n",
    "The device could not be read again to check its version: it may apply the update when it "
    "restarts.\n"};
constexpr VerifyTexts kVerifyChinese{
    "\xE5\xB7\xB2\xE9\xAA\x8C\xE8\xAF\x81\xEF\xBC\x9A\xE8\xAE\xBE\xE5\xA4\x87"
    "\xE7\x8E\xB0\xE5\x9C\xA8\xE6\x8A\xA5\xE5\x91\x8A\xE7\x89\x88\xE6\x9C\xAC %s"
    "\xE3\x80\x82\n",
    "\xE8\xAE\xBE\xE5\xA4\x87\xE4\xBB\x8D\xE6\x8A\xA5\xE5\x91\x8A\xE7\x89\x88"
    "\xE6\x9C\xAC %s\xEF\xBC\x9A\xE5\xAE\x83\xE5\x8F\xAF\xE8\x83\xBD\xE5\x9C\xA8"
    "\xE9\x87\x8D\xE5\x90\xAF\xE5\x90\x8E\xE5\xBA\x94\xE7\x94\xA8\xE6\xAD\xA4"
    "\xE6\x9B\xB4\xE6\x96\xB0\xE3\x80\x82\n",
    "\xE6\x97\xA0\xE6\xB3\x95\xE5\x86\x8D\xE6\xAC\xA1\xE8\xAF\xBB\xE5\x8F\x96"
    "\xE8\xAE\xBE\xE5\xA4\x87\xE4\xBB\xA5\xE6\xA3\x80\xE6\x9F\xA5\xE5\x85\xB6"
    "\xE7\x89\x88\xE6\x9C\xAC\xEF\xBC\x9A\xE5\xAE\x83\xE5\x8F\xAF\xE8\x83\xBD"
    "\xE5\x9C\xA8\xE9\x87\x8D\xE5\x90\xAF\xE5\x90\x8E\xE5\xBA\x94\xE7\x94\xA8"
    "\xE6\xAD\xA4\xE6\x9B\xB4\xE6\x96\xB0\xE3\x80\x82\n"};

}  // namespace

engine::UpdateConfiguration RunConfigFor(const DeviceIdentity& identity) {
    engine::UpdateConfiguration config = cfu::DefaultUpdateConfig();
    config.VendorId = identity.VendorId;
    config.ProductId = identity.ProductId;
    config.UsagePage = identity.UsagePage;
    config.Usage = identity.Usage;
    config.CheckReportCaps = true;
    config.RequireVersionCapsAtMatch = identity.MiValue != 0;
    return config;
}

UpdateDriver::UpdateDriver(Desktop& desktop, cfu::CfuLibrary& library, WaitClock& clock)
    : desktop_(desktop),
      ownCalls_(std::make_unique<cfu::LibraryCalls>(library)),
      library_(*ownCalls_),
      clock_(clock) {}

UpdateDriver::UpdateDriver(Desktop& desktop, cfu::UpdateLibrary& library, WaitClock& clock)
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

void UpdateDriver::ReportFailure(const char* consoleFormat, const char* logFormat,
                                 UpdateError rst) {
    Broadcast(ProgressEvent::StepFailed, 0);
    Print(Format(consoleFormat, Number(rst)));
    desktop_.AppendLog(Widen(Format(logFormat, Number(rst))), kRed);
    Explain(consoleFormat, rst, !std::string_view(logFormat).ends_with('\n'));
}

void UpdateDriver::Explain(const char* consoleFormat, UpdateError rst, bool logLineOpen) {
    const std::string_view format = consoleFormat;
    const std::string step(format.substr(0, format.find(" fail")));
    if (outcome_.failedStep.empty()) {
        outcome_.failedStep = step;
        outcome_.error = rst;
        outcome_.resultCode = engine::ErrorNumber(rst);
    }
    const bool chinese = input_ != nullptr && input_->texts.ChineseUi;
    // Both go on the line of the failed step's text (the log text of a failed
    // open has no line end).
    const bool success = rst == UpdateError::Success;
    std::string english =
        success ? " " + NothingTransferredText(false)
                : Format(" %s: %s.", engine::ErrorName(rst), ResultMeaning(rst, false).c_str());
    // Chinese sentences end in the Chinese full stop and follow each other
    // without a blank.
    const std::string next = chinese ? "" : " ";
    std::string local = success
                            ? " " + NothingTransferredText(chinese)
                            : Format(chinese ? " %s\uFF1A%s\u3002" : " %s: %s.",
                                     engine::ErrorName(rst), ResultMeaning(rst, chinese).c_str());
    if (step == "Update" && DeviceAnswerTells(outcome_.deviceAnswer)) {
        english += " " + DeviceAnswerText(outcome_.deviceAnswer, false);
        local += next + DeviceAnswerText(outcome_.deviceAnswer, chinese);
    }
    std::string hint;
    if (step == "Open device endpoint") {
        outcome_.cannotOpen = true;
        english += " " + CannotOpenText(false);
        local += next + CannotOpenText(chinese);
        hint = hid::ActiveHidAccessProblem();
    } else if ((step == "Update" || step == "Get device description") && !path_.empty() &&
               !StillPresent(path_)) {
        outcome_.deviceGone = true;
        english += " " + DeviceGoneText(false);
        local += next + DeviceGoneText(chinese);
    }
    Print(english + "\n");
    // The log's explanation goes on the step's line when that has no line end.
    desktop_.AppendLog(Utf8ToUtf16((logLineOpen ? local : local.substr(1)) + "\n"), kRed);
    if (!hint.empty()) {
        Print(hint + "\n");
        desktop_.AppendLog(Utf8ToUtf16(hint + "\n"), kRed);
    }
}

bool UpdateDriver::StillPresent(const std::u16string& path) {
    std::vector<std::u16string> present;
    if (library_.ListInterfaces(present) != 0) {
        return true;  // cannot tell
    }
    for (const std::u16string& one : present) {
        if (one == path) {
            return true;
        }
    }
    return false;
}

void UpdateDriver::EndRun() {
    if (sink_ != nullptr) {
        sink_->Result(outcome_.path, outcome_);
    }
}

RunOutcome UpdateDriver::RunUpdate(const RunInput& input) {
    input_ = &input;
    outcome_ = {};
    path_.clear();
    updatedDescription_ = {};
    updatedSerial_.clear();

    Print(Format("\n================================= Test %d =================================\n",
                 1));
    if (input.identity.VendorId == 0 && input.identity.ProductId == 0) {
        // No device information was read (a damaged package, a temporary
        // folder that could not be used, which the start has reported):
        // searching for vendor 0 would only blame a missing device.
        outcome_.failedStep = "Read device information";
        Broadcast(ProgressEvent::StepFailed, 0);
        Print(NoDeviceIdentityText(false) + "\n");
        desktop_.AppendLog(Utf8ToUtf16(NoDeviceIdentityText(input.texts.ChineseUi) + "\n"), kRed);
        EndRun();
        return outcome_;
    }
    const engine::UpdateConfiguration config = RunConfigFor(input.identity);
    library_.SetConfig(config);
    library_.Initialize(1);

    if (library_.MatchDevices() == 0) {
        Broadcast(ProgressEvent::NoDevice, 0);
        Print("Find no device.");
        desktop_.AppendLog(u"Find no device\n", kRed);
        const bool chinese = input.texts.ChineseUi;
        Print("\n" + NoMatchingDeviceText(input.identity, false) + "\n");
        desktop_.AppendLog(Utf8ToUtf16(NoMatchingDeviceText(input.identity, chinese) + "\n"), kRed);
        // A device that is there but may not be opened: say what to do.
        const std::string access = hid::ActiveHidAccessProblem();
        if (!access.empty() && NamesIdentity(access, input.identity)) {
            outcome_.cannotOpen = true;
            Print(CannotOpenText(false) + "\n");
            desktop_.AppendLog(Utf8ToUtf16(CannotOpenText(chinese) + "\n"), kRed);
        }
        if (!access.empty()) {
            desktop_.AppendLog(Utf8ToUtf16(access + "\n"), kRed);
        }
        if (sink_ != nullptr) {
            sink_->NoDevice(input.identity, outcome_.cannotOpen, access);
        }
        EndRun();
        return outcome_;
    }
    std::vector<std::u16string> paths;
    const UpdateError pathResult = library_.GetDeviceEndpointPaths(paths);
    if (pathResult != UpdateError::Success) {
        ReportFailure("Get device endpoint path fail, rst %d.",
                      "Get device endpoint path fail, rst %d.\n", pathResult);
        EndRun();
        return outcome_;
    }
    listedAtStart_ = paths;
    // Only the first interface is updated, even when several matched, unless
    // the caller named one.
    const std::u16string path = !targetPath_.empty() ? targetPath_
                                : paths.empty()      ? std::u16string()
                                                     : paths.front();
    path_ = path;
    outcome_.path = Utf16ToUtf8(path);
    if (sink_ != nullptr) {
        sink_->DeviceFound(outcome_.path);
    }

    library_.SetConfigEx(config);
    engine::UpdateOptions options;
    options.ForceIgnoreVersion = true;
    library_.SetUpdateOptions(options);

    UpdateError rst = library_.StartAddImage();
    if (rst != UpdateError::Success) {
        Print(Format("Start add CFU image fail, rst %d.", Number(rst)));
        Broadcast(ProgressEvent::StepFailed, 0);
        desktop_.AppendLog(Widen(Format("Start add CFU image fail, rst %d.\n", Number(rst))), kRed);
        Explain("Start add CFU image fail", rst, false);
    } else if (!PayloadSizeAcceptable(input.payloadPath)) {
        // Reported inside.
    } else if ((rst = library_.AddImage(input.offerPath, input.payloadPath)) !=
               UpdateError::Success) {
        ReportFailure("Add CFU bank0 image fail, rst %d.", "Add CFU bank0 image fail, rst %d.\n",
                      rst);
    } else if ((rst = library_.StopAddImage()) != UpdateError::Success) {
        ReportFailure("Stop add CFU image fail, rst %d.", "Stop add CFU image fail, rst %d.\n",
                      rst);
    } else {
        EndpointStage(path);
    }
    EndRun();
    return outcome_;
}

bool UpdateDriver::NoteUnit(const cfu::DeviceComponents& description) {
    const engine::ImageEntries& images = library_.Images();
    const bool haveOffer =
        !images.empty() && images.front() != nullptr && images.front()->Offer.size() >= 8;
    cfu::ComponentVersion component = FirstComponent(description);
    bool downgrade = false;
    if (haveOffer) {
        const std::vector<std::uint8_t>& offer = images.front()->Offer;
        const engine::FirmwareVersionParts offered =
            engine::DecodeFirmwareVersion(ReadLe32(offer.data() + 4), library_.DeviceFamily());
        outcome_.offeredVersion = engine::FirmwareVersionText(offered);
        for (const cfu::ComponentVersion& one : description.Components) {
            if (((one.Info >> 8) & 0xFF) == offer[2]) {
                component = one;
                downgrade = engine::CompareFirmwareVersions(offered, one.Version) < 0;
                break;
            }
        }
    }
    if (!description.Components.empty()) {
        outcome_.componentId = static_cast<int>((component.Info >> 8) & 0xFF);
        outcome_.budRole = static_cast<int>((component.Info >> 2) & 0x3);
        outcome_.versionBefore = engine::FirmwareVersionText(component.Version);
    }
    return downgrade;
}

bool UpdateDriver::EndpointStage(const std::u16string& path) {
    cfu::DeviceComponents description;
    cfu::EndpointHandle handle = cfu::kNoEndpoint;

    UpdateError rst = library_.OpenDeviceEndpoint(path, handle);
    if (rst != UpdateError::Success) {
        // This log text has no line end: the next one continues its line.
        ReportFailure("Open device endpoint fail, rst %d.", "Open device endpoint fail, rst %d.",
                      rst);
    } else if ((rst = library_.GetDeviceDescription(handle, description)) != UpdateError::Success) {
        ReportFailure("Get device description fail, rst %d.",
                      "Get device description fail, rst %d.\n", rst);
    } else {
        const cfu::ComponentVersion first = FirstComponent(description);
        Print(
            Format("\n#################### Device Description ####################\n"
                   "   Component ID: %d\n   Current Bank: %d\n   Bud Role: %d\n"
                   "   FwVersion: %d.%d.%d.%d\n",
                   static_cast<int>((first.Info >> 8) & 0xFF), static_cast<int>(first.Info & 0x3),
                   static_cast<int>((first.Info >> 2) & 0x3), static_cast<int>(first.Version.Part1),
                   static_cast<int>(first.Version.Part2), static_cast<int>(first.Version.Part3),
                   static_cast<int>(first.Version.Part4)));
        updatedDescription_ = description;
        updatedSerial_ = library_.InterfaceSerial(path);
        outcome_.serial = Utf16ToUtf8(updatedSerial_);
        const bool downgrade = NoteUnit(description);
        if (sink_ != nullptr) {
            sink_->Description(outcome_.path, description);
        }
        if (downgrade) {
            // Allowed (the offers ask the device to ignore the version), but
            // the operator should know before the older image is flashed.
            const bool chinese = input_ != nullptr && input_->texts.ChineseUi;
            Print(DowngradeText(outcome_.versionBefore, outcome_.offeredVersion, false) + "\n");
            desktop_.AppendLog(
                Utf8ToUtf16(
                    DowngradeText(outcome_.versionBefore, outcome_.offeredVersion, chinese) + "\n"),
                kOrange);
            if (sink_ != nullptr) {
                sink_->Downgrade(outcome_.path, outcome_.versionBefore, outcome_.offeredVersion);
            }
        }
        rst = library_.RegisterProgressListener(handle, &listener_);
        if (rst != UpdateError::Success) {
            ReportFailure("Register update status callback fail, rst %d.",
                          "Register update status callback fail, rst %d.\n", rst);
        } else {
            Print("\n######################## Download ########################\n");
            transferCompleted_ = false;
            // A busy device holds the update without a status for a long
            // while: say so once, and how long the update may wait.
            library_.SetBusyListener([this](cfu::EndpointHandle, std::uint64_t waitMs) {
                const bool chinese = input_ != nullptr && input_->texts.ChineseUi;
                Print(DeviceBusyText(waitMs, false) + "\n");
                desktop_.AppendLog(Utf8ToUtf16(DeviceBusyText(waitMs, chinese) + "\n"), kOrange);
            });
            const auto transferStart = std::chrono::steady_clock::now();
            rst = library_.Update(handle);
            outcome_.transferMs =
                static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - transferStart)
                                               .count());
            library_.SetBusyListener(nullptr);
            if (rst != UpdateError::Success || !transferCompleted_) {
                // For the message: the device's own status or reason.
                outcome_.deviceAnswer = library_.LastDeviceAnswer(handle);
                outcome_.blocks = outcome_.deviceAnswer.ContentSeen
                                      ? outcome_.deviceAnswer.ContentSequence + 1u
                                      : 0u;
            } else {
                for (const auto& image : library_.Images()) {
                    outcome_.blocks += image != nullptr ? image->RecordCount : 0u;
                }
            }
            if (rst != UpdateError::Success) {
                ReportFailure("Update fail, rst %d.", "Update fail, rst %d.\n", rst);
            } else if (!transferCompleted_) {
                // The call ended well but no image went through whole (every
                // offer was refused): nothing was updated.
                ReportFailure("Update fail, no image was transferred, rst %d.",
                              "Update fail, no image was transferred, rst %d.\n", rst);
            } else {
                // Success only now: a status of 0 at 100 % and a call that
                // returned 0 (and, with the verdict held, the read-back below).
                if (holdSuccess_) {
                    outcome_.succeeded = true;  // announced after the read-back
                } else {
                    AnnounceSuccess();
                }
            }
        }
    }

    // The clean-up runs whatever failed above (a failed open leaves nothing
    // to clean up).
    if (handle != cfu::kNoEndpoint) {
        if ((rst = library_.UnregisterProgressListener(handle)) != UpdateError::Success) {
            ReportFailure("Unregister update status callback fail, rst %d.",
                          "Unregister update status callback fail, rst %d.\n", rst);
        }
        if ((rst = library_.CloseDeviceEndpoint(handle)) != UpdateError::Success) {
            ReportFailure("Close device endpoint fail, rst %d.",
                          "Close device endpoint fail, rst %d.\n", rst);
        }
    }
    if (outcome_.succeeded) {
        VerifyUpdate();
        if (holdSuccess_) {
            if (outcome_.verification == Verification::Verified) {
                AnnounceSuccess();
            } else {
                // The image went through, but the device did not confirm it:
                // listeners hear of a failed step, never of success (the
                // outcome stays a completed transfer that is unconfirmed).
                desktop_.BroadcastProgress(ProgressEvent::StepFailed, 0);
            }
        }
    }
    library_.Uninitialize();
    if (fixedWaits_) {
        clock_.SleepFor(10000);
    }
    Broadcast(ProgressEvent::RunEnded, 0);
    return true;
}

void UpdateDriver::AnnounceSuccess() {
    if (fixedWaits_) {
        clock_.SleepFor(2000);
    }
    desktop_.AppendLog(input_->texts.SuccessText, kGreen);
    Broadcast(ProgressEvent::Succeeded, 0);
}

void UpdateDriver::OnProgress(std::uint64_t endpoint, const engine::UpdateProgress& progress) {
    const int percentage = progress.Percentage;
    const int code = static_cast<int>(progress.Status);
    const LocalTime now = desktop_.Now();
    Print(Format("%02d:%02d:%02d.%03d    HANDLE %d: percentage: %d, status: %d. \r", now.hour,
                 now.minute, now.second, now.millisecond,
                 static_cast<int>(static_cast<std::int32_t>(endpoint & 0xFFFFFFFFu)), percentage,
                 code));
    desktop_.DebugOutput(Widen(Format("progress:%d status:%d", percentage, code)));
    if (sink_ != nullptr) {
        sink_->Progress(outcome_.path, percentage, static_cast<std::uint32_t>(progress.Status));
    }
    if (code != 0) {
        // A failure notification (its percentage may still read 100 from an
        // earlier image): the update call's result reports it.
        return;
    }
    if (percentage == 100) {
        transferCompleted_ = true;
    } else if (percentage == 10) {
        desktop_.AppendLog(input_->texts.InProgressText, kOrange);
        Broadcast(ProgressEvent::Progress, 10);
    } else {
        Broadcast(ProgressEvent::Progress, percentage);
    }
}

bool UpdateDriver::PayloadSizeAcceptable(const std::u16string& payloadPath) {
    std::error_code error;
    std::uintmax_t size = 0;
    try {
        size = std::filesystem::file_size(std::filesystem::path(payloadPath), error);
    } catch (const std::exception&) {
        return true;  // the image list reports a path it cannot use
    }
    if (error || size <= kMaxPayloadFileSize) {
        return true;
    }
    const std::string text =
        Format("Payload file too large: %llu bytes, at most %llu; nothing was sent to the device.",
               static_cast<unsigned long long>(size),
               static_cast<unsigned long long>(kMaxPayloadFileSize));
    outcome_.reason = Format("the payload is larger than %llu bytes",
                             static_cast<unsigned long long>(kMaxPayloadFileSize));
    Broadcast(ProgressEvent::StepFailed, 0);
    Print(text);
    desktop_.AppendLog(Widen(text + "\n"), kRed);
    return false;
}

namespace {

// The bud role of component `componentId` in `description`; -1 when absent.
int BudRoleOf(const cfu::DeviceComponents& description, std::uint8_t componentId) {
    for (const cfu::ComponentVersion& component : description.Components) {
        const std::uint32_t info = component.Info;
        if (((info >> 8) & 0xFF) == componentId) {
            return static_cast<int>((info >> 2) & 0x3);
        }
    }
    return -1;
}

}  // namespace

bool UpdateDriver::ReadBackVersion(std::uint8_t componentId, cfu::ComponentVersion& component) {
    if (library_.MatchDevices() == 0) {
        return false;
    }
    std::vector<std::u16string> present;
    if (library_.GetDeviceEndpointPaths(present) != UpdateError::Success) {
        return false;
    }
    // The updated device is read again: under its own node when that is still
    // there; after a restart only under a node that was not listed when the
    // run began (the others belong to other devices): the one with its serial
    // string, or, for a device without one, the only such node without a
    // serial with the same component in the same bud role (a node that shows
    // a serial is another bud's). Another bud is never read in its place:
    // when the device cannot be told apart, the version stays unconfirmed.
    const ReadBackCandidates chosen = ChooseReadBackCandidates(
        UpdatedDevice{path_, updatedSerial_, listedAtStart_}, present,
        [this](const std::u16string& path) { return library_.InterfaceSerial(path); });
    const std::vector<std::u16string>& candidates = chosen.paths;
    const bool samePath = chosen.ownNode;
    const int wantedRole = BudRoleOf(updatedDescription_, componentId);
    bool found = false;
    const std::u16string* foundPath = nullptr;
    for (const std::u16string& path : candidates) {
        cfu::EndpointHandle handle = cfu::kNoEndpoint;
        if (library_.OpenDeviceEndpoint(path, handle) != UpdateError::Success) {
            if (handle != cfu::kNoEndpoint) {
                library_.CloseDeviceEndpoint(handle);  // a decorated failure opened it
            }
            if (samePath) {
                return false;
            }
            continue;
        }
        cfu::DeviceComponents description;
        const UpdateError described = library_.GetDeviceDescription(handle, description);
        library_.CloseDeviceEndpoint(handle);
        if (described != UpdateError::Success) {
            if (samePath) {
                return false;
            }
            continue;
        }
        // A node of the same name may have been given to another device
        // meanwhile: its bud role must still be the updated one's.
        if (wantedRole < 0 || BudRoleOf(description, componentId) != wantedRole) {
            if (samePath) {
                return false;
            }
            continue;
        }
        if (found) {
            return false;  // two devices fit: cannot tell which one was updated
        }
        found = true;
        foundPath = &path;
        component = FirstComponent(description);
        for (const cfu::ComponentVersion& one : description.Components) {
            if (((one.Info >> 8) & 0xFF) == componentId) {
                component = one;
                break;
            }
        }
    }
    if (found) {
        outcome_.readBackPath = Utf16ToUtf8(*foundPath);
    }
    return found;
}

void UpdateDriver::VerifyUpdate() {
    const engine::ImageEntries& images = library_.Images();
    if (images.empty() || images.front() == nullptr || images.front()->Offer.size() < 8) {
        return;
    }
    const std::vector<std::uint8_t>& offer = images.front()->Offer;
    const std::uint8_t componentId = offer[2];
    const engine::FirmwareVersionParts wanted =
        engine::DecodeFirmwareVersion(ReadLe32(offer.data() + 4), library_.DeviceFamily());
    const VerifyTexts& logTexts = input_->texts.ChineseUi ? kVerifyChinese : kVerifyEnglish;

    outcome_.verification = Verification::Unverified;
    bool read = false;
    // Time counts in what the pauses report, so that a pause cut short by a
    // change of interfaces does not use up the window.
    std::uint32_t waited = 0;
    std::optional<std::uint32_t> staleSince;
    for (bool first = true;; first = false) {
        if (!first) {
            if (waited >= kVerifyWindowMs) {
                break;
            }
            const std::uint32_t step = std::min(kVerifyRetryMs, kVerifyWindowMs - waited);
            std::uint32_t slept = step;
            if (readBackPause_) {
                slept = std::min(step, readBackPause_(step));
            } else {
                clock_.SleepFor(step);
            }
            // A pause that reports no time still moves on, so the loop ends.
            waited += std::max<std::uint32_t>(slept, 1);
        }
        cfu::ComponentVersion component;
        if (!ReadBackVersion(componentId, component)) {
            continue;  // gone for a restart, or not answering yet
        }
        read = true;
        const engine::FirmwareVersionParts& reported = component.Version;
        outcome_.reportedVersion = engine::FirmwareVersionText(reported);
        if (engine::CompareFirmwareVersions(reported, wanted) == 0) {
            outcome_.verification = Verification::Verified;
            break;
        }
        if (!staleSince) {
            staleSince = waited;
        } else if (waited - *staleSince >= kStaleVersionMs) {
            break;
        }
    }
    const char* const version = outcome_.reportedVersion.c_str();
    if (outcome_.verification == Verification::Verified) {
        Print(Format(kVerifyEnglish.verified, version));
        desktop_.AppendLog(Utf8ToUtf16(Format(logTexts.verified, version)), kGreen);
    } else if (read) {
        Print(Format(kVerifyEnglish.stillOld, version));
        desktop_.AppendLog(Utf8ToUtf16(Format(logTexts.stillOld, version)), kOrange);
    } else {
        Print(kVerifyEnglish.unreadable);
        desktop_.AppendLog(Utf8ToUtf16(logTexts.unreadable), kOrange);
    }
    if (sink_ != nullptr) {
        sink_->Verification(outcome_.path, outcome_);
    }
}

}  // namespace zelk::app
