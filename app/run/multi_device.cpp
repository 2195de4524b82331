#include "app/run/multi_device.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "app/run/offered_firmware.h"
#include "app/run/run_messages.h"
#include "app/run/unit_log.h"
#include "app/text/text_encoding.h"
#include "engine/firmware_version.h"
#include "hidtransport/device_discovery.h"
#include "hidtransport/hid_backend_factory.h"
#include "updatelib/update_library.h"

namespace zelk::app {
namespace {

// "newer", "same" or "downgrade": the offered version against the device's.
const char* Comparison(const engine::FirmwareVersionParts& offered,
                       const engine::FirmwareVersionParts& device) {
    const int order = engine::CompareFirmwareVersions(offered, device);
    return order == 0 ? "same" : order < 0 ? "downgrade" : "newer";
}

// The description's lines; beside the offered component, what an update
// would offer it.
std::string DescriptionText(const cfu::DeviceComponents& description, bool offerRead,
                            const OfferedFirmware& offer) {
    std::string text;
    for (const cfu::ComponentVersion& entry : description.Components) {
        char line[160];
        std::snprintf(
            line, sizeof line,
            "   Component ID: %u   Bank: %u   Bud Role: %u   FwVersion: %u.%u.%u.%u",
            static_cast<unsigned>((entry.Info >> 8) & 0xFF),
            static_cast<unsigned>(entry.Info & 0x3), static_cast<unsigned>((entry.Info >> 2) & 0x3),
            static_cast<unsigned>(entry.Version.Part1), static_cast<unsigned>(entry.Version.Part2),
            static_cast<unsigned>(entry.Version.Part3), static_cast<unsigned>(entry.Version.Part4));
        text += line;
        if (!offerRead) {
            text += "   Offered: unknown";
        } else if (((entry.Info >> 8) & 0xFF) == offer.componentId) {
            text += "   Offered: " + engine::FirmwareVersionText(offer.version) + " (" +
                    Comparison(offer.version, entry.Version) + ")";
        }
        text += "\n";
    }
    return text;
}

}  // namespace

std::vector<std::u16string> MatchingInterfaces(cfu::CfuLibrary& core,
                                               const DeviceIdentity& identity) {
    cfu::LibraryCalls library(core);
    library.SetConfig(RunConfigFor(identity));
    library.Initialize(1);
    std::vector<std::u16string> paths;
    if (library.MatchDevices() > 0 &&
        library.GetDeviceEndpointPaths(paths) != engine::UpdateError::Success) {
        paths.clear();
    }
    library.Uninitialize();
    return paths;
}

std::vector<std::u16string> UnopenableInterfaces(hid::HidBackend& backend,
                                                 const DeviceIdentity& identity) {
    hid::MatchCriteria criteria;
    criteria.VendorId = identity.VendorId;
    criteria.ProductId = identity.ProductId;
    criteria.UsagePage = identity.UsagePage;
    criteria.Usage = identity.Usage;
    return hid::UnopenableMatches(backend, criteria);
}

std::vector<ListedDevice> ListDevices(Desktop& desktop, cfu::CfuLibrary& core,
                                      const DeviceIdentity& identity, bool chinese,
                                      JsonLinesSink* sink, const std::u16string& offerPath) {
    cfu::LibraryCalls library(core);
    std::vector<ListedDevice> devices;
    const std::vector<std::u16string> paths = MatchingInterfaces(core, identity);
    const std::vector<std::u16string> unopenable = UnopenableInterfaces(core.Backend(), identity);
    if (paths.empty() && unopenable.empty()) {
        const std::string access = hid::ActiveHidAccessProblem();
        desktop.WriteStdout(NoMatchingDeviceText(identity, false) + "\n");
        desktop.AppendLog(Utf8ToUtf16(NoMatchingDeviceText(identity, chinese) + "\n"), kRed);
        if (!access.empty()) {
            desktop.AppendLog(Utf8ToUtf16(access + "\n"), kRed);
        }
        if (sink != nullptr) {
            sink->NoDevice(identity, false, access);
        }
        return devices;
    }
    library.SetConfig(RunConfigFor(identity));
    library.Initialize(1);
    library.SetConfigEx(RunConfigFor(identity));
    // Decoded as a run decodes it, with the family the library was given.
    const std::optional<OfferedFirmware> offer =
        ReadOfferedFirmware(offerPath, library.DeviceFamily());
    for (const std::u16string& path : paths) {
        ListedDevice device;
        device.path = Utf16ToUtf8(path);
        cfu::EndpointHandle handle = cfu::kNoEndpoint;
        engine::UpdateError rst = library.OpenDeviceEndpoint(path, handle);
        if (rst == engine::UpdateError::Success) {
            rst = library.GetDeviceDescription(handle, device.description);
            device.described = rst == engine::UpdateError::Success;
            library.CloseDeviceEndpoint(handle);
        }
        device.error = rst;
        device.resultCode = engine::ErrorNumber(rst);
        std::string text = device.path + "\n";
        if (device.described) {
            text += DescriptionText(device.description, offer.has_value(),
                                    offer.value_or(OfferedFirmware{}));
            if (offer) {
                device.offeredVersion = engine::FirmwareVersionText(offer->version);
                for (const cfu::ComponentVersion& entry : device.description.Components) {
                    if (((entry.Info >> 8) & 0xFF) == offer->componentId) {
                        device.offerComparison = Comparison(offer->version, entry.Version);
                        break;
                    }
                }
            }
        } else {
            // An interface whose reports do not fit could be opened.
            text += std::string("   ") +
                    (rst == engine::UpdateError::EndpointOpenFailed ? CannotOpenText(false) + " "
                                                                    : std::string()) +
                    engine::ErrorName(rst) + ": " + ResultMeaning(rst, false) + ".\n";
        }
        desktop.WriteStdout(text);
        if (sink != nullptr) {
            sink->Listed(device);
        }
        devices.push_back(std::move(device));
    }
    library.Uninitialize();
    for (const std::u16string& path : unopenable) {
        ListedDevice device;
        device.path = Utf16ToUtf8(path);
        device.openable = false;
        desktop.WriteStdout(device.path + "\n   Not openable: " + NotOpenableText(false) + "\n");
        desktop.AppendLog(Utf8ToUtf16(device.path + ": " + NotOpenableText(chinese) + "\n"), kRed);
        if (sink != nullptr) {
            sink->Listed(device);
        }
        devices.push_back(std::move(device));
    }
    if (!unopenable.empty()) {
        const std::string access = core.Backend().AccessProblem();
        if (!access.empty()) {
            desktop.WriteStdout(access + "\n");
            desktop.AppendLog(Utf8ToUtf16(access + "\n"), kRed);
        }
    }
    // A stale interface (one the system still lists after its device went)
    // or a device that does not answer is not a device that was listed: the
    // listing says so, and the program exits with a failure for it.
    const auto undescribed = static_cast<std::size_t>(std::count_if(
        devices.begin(), devices.end(), [](const ListedDevice& d) { return !d.described; }));
    if (undescribed > 0) {
        desktop.WriteStdout(std::to_string(undescribed) + " of " + std::to_string(devices.size()) +
                            " matching interfaces could not be described.\n");
    }
    return devices;
}

std::vector<DeviceSummary> UpdateAll(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock,
                                     const RunInput& input,
                                     const std::vector<std::u16string>& paths, JsonLinesSink* sink,
                                     const std::vector<std::u16string>& unopenable,
                                     const DriverOptions& options, UnitLog* unitLog) {
    std::vector<DeviceSummary> summary(paths.size());
    {
        std::vector<std::jthread> threads;
        threads.reserve(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            threads.emplace_back([&, i] {
                cfu::CfuLibrary library(backend, clock);
                UpdateDriver driver(desktop, library, clock);
                driver.SetTargetPath(paths[i]);
                driver.SetEventSink(sink);
                driver.Apply(options);
                summary[i].path = Utf16ToUtf8(paths[i]);
                summary[i].outcome = driver.RunUpdate(input);
                summary[i].outcome.path = summary[i].path;
                // Each unit's record as soon as it is known: a run cut short
                // later keeps the devices already done.
                if (unitLog != nullptr) {
                    summary[i].unitLogFailed = !unitLog->Append(RecordOf(summary[i].outcome));
                }
            });
        }
    }
    // Left out, they would make "N of N devices updated" with a device
    // untouched: each is a failed device of the run.
    for (const std::u16string& path : unopenable) {
        DeviceSummary device;
        device.path = Utf16ToUtf8(path);
        device.outcome.path = device.path;
        device.outcome.stepFailed = true;
        device.outcome.cannotOpen = true;
        if (sink != nullptr) {
            sink->Result(device.path, device.outcome);
        }
        if (unitLog != nullptr) {
            device.unitLogFailed = !unitLog->Append(RecordOf(device.outcome));
        }
        summary.push_back(std::move(device));
    }
    std::size_t succeeded = 0;
    std::string text = "\n######################## Summary ########################\n";
    for (const DeviceSummary& device : summary) {
        const bool ok = device.outcome.Success();
        // A device read again that did not confirm the version is not
        // counted as updated.
        const bool unconfirmed = ok && device.outcome.verification == Verification::Unverified;
        succeeded += ok && !unconfirmed ? 1 : 0;
        text += (unconfirmed ? "   UNCONFIRMED "
                 : ok        ? "   OK       "
                             : "   FAILED   ") +
                device.path;
        if (unconfirmed) {
            text += ": the image was sent; the version was not confirmed";
        } else if (!ok) {
            text += ": " + OutcomeFailureText(device.outcome);
        } else if (device.outcome.verification == Verification::Verified) {
            text += ": now " + device.outcome.reportedVersion;
        }
        text += "\n";
    }
    text +=
        std::to_string(succeeded) + " of " + std::to_string(summary.size()) + " devices updated.\n";
    if (!unopenable.empty()) {
        // The backend's permission hint (on Linux: the udev rule), when it has one.
        const std::string access = backend.AccessProblem();
        if (!access.empty()) {
            text += access + "\n";
        }
    }
    desktop.WriteStdout(text);
    if (sink != nullptr) {
        sink->Summary(summary);
    }
    return summary;
}

bool AllSucceeded(const std::vector<DeviceSummary>& devices, bool requireVerified) {
    if (devices.empty()) {
        return false;
    }
    return std::all_of(devices.begin(), devices.end(), [&](const DeviceSummary& device) {
        return requireVerified ? device.outcome.Verified() : device.outcome.Success();
    });
}

}  // namespace zelk::app
