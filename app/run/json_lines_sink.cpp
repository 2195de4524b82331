#include "app/run/json_lines_sink.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/run/run_messages.h"

namespace zelk::app {
namespace {

using nlohmann::json;

constexpr auto kOfferStatusReject = static_cast<std::uint8_t>(engine::OfferStatus::Reject);

std::string Hex(unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
    return buffer;
}

json Components(const cfu::DeviceComponents& description) {
    json components = json::array();
    for (const cfu::ComponentVersion& entry : description.Components) {
        char version[64];
        std::snprintf(
            version, sizeof version, "%u.%u.%u.%u", static_cast<unsigned>(entry.Version.Part1),
            static_cast<unsigned>(entry.Version.Part2), static_cast<unsigned>(entry.Version.Part3),
            static_cast<unsigned>(entry.Version.Part4));
        components.push_back({{"id", (entry.Info >> 8) & 0xFF},
                              {"bank", entry.Info & 0x3},
                              {"budRole", (entry.Info >> 2) & 0x3},
                              {"version", version}});
    }
    return components;
}

const char* VerificationName(Verification verification) {
    switch (verification) {
        case Verification::Verified:
            return "verified";
        case Verification::Unverified:
            return "unverified";
        case Verification::NotRun:
            break;
    }
    return "not_run";
}

json OutcomeFields(const RunOutcome& outcome) {
    json fields = {{"success", outcome.Success()},
                   {"noDevice", outcome.noDevice},
                   {"cannotOpen", outcome.cannotOpen},
                   {"deviceGone", outcome.deviceGone},
                   {"verification", VerificationName(outcome.verification)}};
    if (!outcome.failedStep.empty()) {
        fields["step"] = outcome.failedStep;
        fields["code"] = outcome.resultCode;
        fields["codeName"] = engine::ErrorName(outcome.error);
        fields["meaning"] = outcome.error == engine::UpdateError::Success
                                ? NothingTransferredText(false)
                                : ResultMeaning(outcome.error, false);
    } else if (outcome.noDevice) {
        fields["meaning"] =
            outcome.cannotOpen ? CannotOpenText(false) : std::string("no matching device");
    } else if (outcome.cannotOpen) {
        fields["meaning"] = NotOpenableText(false);
    }
    if (!outcome.reason.empty()) {
        fields["reason"] = outcome.reason;
    }
    if (!outcome.reportedVersion.empty()) {
        fields["reportedVersion"] = outcome.reportedVersion;
    }
    // What the device itself last answered during a failed update.
    const cfu::DeviceAnswer& answer = outcome.deviceAnswer;
    if (answer.OfferSeen) {
        fields["offerStatus"] = {{"code", answer.OfferStatus},
                                 {"name", OfferStatusKey(answer.OfferStatus)}};
        if (answer.OfferStatus == kOfferStatusReject) {
            fields["rejectReason"] = {{"code", answer.RejectReason},
                                      {"name", RejectReasonKey(answer.RejectReason)}};
        }
    }
    if (answer.ContentSeen) {
        fields["contentStatus"] = {{"code", answer.ContentStatus},
                                   {"name", ContentStatusKey(answer.ContentStatus)},
                                   {"block", answer.ContentSequence}};
    }
    if (DeviceAnswerTells(answer)) {
        fields["deviceSays"] = DeviceAnswerText(answer, false);
    }
    return fields;
}

}  // namespace

void JsonLinesSink::Write(const std::string& line) {
    std::lock_guard lock(mutex_);
    const bool written = std::fwrite(line.data(), 1, line.size(), out_) == line.size() &&
                         std::fputc('\n', out_) != EOF && std::fflush(out_) == 0;
    if (!written || std::ferror(out_) != 0) {
        writeFailed_ = true;
    }
}

// Paths and hints come from the system and may hold bytes that are not UTF-8:
// those are replaced rather than failing the line.
static std::string Dump(const json& object) {
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

void JsonLinesSink::NoDevice(const DeviceIdentity& identity, bool cannotOpen,
                             const std::string& hint) {
    json object = {{"event", "no_device"},
                   {"identity",
                    {{"vendorId", Hex(identity.VendorId, 4)},
                     {"productId", Hex(identity.ProductId, 4)},
                     {"usagePage", Hex(identity.UsagePage, 4)},
                     {"usage", Hex(identity.Usage, 4)},
                     {"mi", identity.MiValue}}},
                   {"cannotOpen", cannotOpen}};
    if (!hint.empty()) {
        object["hint"] = hint;
    }
    Write(Dump(object));
}

void JsonLinesSink::DeviceFound(const std::string& path) {
    Write(Dump({{"event", "device_found"}, {"path", path}}));
}

void JsonLinesSink::Description(const std::string& path, const cfu::DeviceComponents& description) {
    Write(Dump({{"event", "description"},
                {"path", path},
                {"componentCount", description.ComponentCount},
                {"components", Components(description)}}));
}

void JsonLinesSink::Downgrade(const std::string& path, const std::string& deviceVersion,
                              const std::string& offeredVersion) {
    Write(Dump({{"event", "downgrade"},
                {"path", path},
                {"deviceVersion", deviceVersion},
                {"offeredVersion", offeredVersion}}));
}

void JsonLinesSink::Progress(const std::string& path, int percentage, std::uint32_t status) {
    json object = {
        {"event", "progress"}, {"path", path}, {"percentage", percentage}, {"status", status}};
    // The transfer's failures by name (the library's status values).
    static constexpr const char* kFailures[] = {"content_failed", "sequence_mismatch",
                                                "write_error", "no_answer"};
    if (status >= 10 && status <= 13) {
        object["statusName"] = kFailures[status - 10];
    }
    Write(Dump(object));
}

void JsonLinesSink::Verification(const std::string& path, const RunOutcome& outcome) {
    json object = {{"event", "verification"},
                   {"path", path},
                   {"state", VerificationName(outcome.verification)}};
    if (!outcome.reportedVersion.empty()) {
        object["reportedVersion"] = outcome.reportedVersion;
    }
    Write(Dump(object));
}

void JsonLinesSink::Result(const std::string& path, const RunOutcome& outcome) {
    json object = {{"event", "result"}, {"path", path}};
    object.update(OutcomeFields(outcome));
    Write(Dump(object));
}

void JsonLinesSink::Start(const char* mode) {
    Write(Dump({{"event", "start"}, {"schema", kJsonSchemaVersion}, {"mode", mode}}));
}

void JsonLinesSink::Listed(const ListedDevice& device) {
    json object = {{"event", "device"}, {"path", device.path}, {"described", device.described}};
    if (!device.openable) {
        object["openable"] = false;
        object["meaning"] = NotOpenableText(false);
    } else if (device.described) {
        object["componentCount"] = device.description.ComponentCount;
        object["components"] = Components(device.description);
        object["offeredVersion"] =
            device.offeredVersion.empty() ? json(nullptr) : json(device.offeredVersion);
        object["offerComparison"] =
            device.offerComparison.empty() ? json(nullptr) : json(device.offerComparison);
    } else {
        object["code"] = device.resultCode;
        object["codeName"] = engine::ErrorName(device.error);
        object["meaning"] = ResultMeaning(device.error, false);
    }
    Write(Dump(object));
}

void JsonLinesSink::Summary(const std::vector<DeviceSummary>& devices) {
    json list = json::array();
    std::size_t failed = 0;
    for (const DeviceSummary& device : devices) {
        json entry = {{"path", device.path}};
        entry.update(OutcomeFields(device.outcome));
        failed += device.outcome.Success() ? 0 : 1;
        list.push_back(std::move(entry));
    }
    Write(Dump({{"event", "summary"},
                {"devices", std::move(list)},
                {"succeeded", devices.size() - failed},
                {"failed", failed}}));
}

namespace {

json UnitFields(const UnitRecord& record) {
    json object = {{"path", record.path},
                   {"serial", record.serial},
                   {"result", record.result},
                   {"durationMs", record.durationMs},
                   {"blocks", record.blocks}};
    if (record.componentId >= 0) {
        object["componentId"] = record.componentId;
    }
    if (record.budRole >= 0) {
        object["budRole"] = record.budRole;
    }
    if (!record.versionBefore.empty()) {
        object["versionBefore"] = record.versionBefore;
    }
    if (!record.versionAfter.empty()) {
        object["versionAfter"] = record.versionAfter;
    }
    if (!record.reason.empty()) {
        object["reason"] = record.reason;
    }
    return object;
}

}  // namespace

void JsonLinesSink::Watching(const std::string& mechanism) {
    Write(Dump({{"event", "watching"}, {"mechanism", mechanism}}));
}

void JsonLinesSink::Unit(const UnitRecord& record) {
    json object = {{"event", "unit"}};
    object.update(UnitFields(record));
    Write(Dump(object));
}

void JsonLinesSink::StationSummary(const std::vector<UnitRecord>& units, bool logFailed) {
    json list = json::array();
    std::size_t updated = 0;
    std::size_t current = 0;
    for (const UnitRecord& unit : units) {
        updated += unit.result == "updated" ? 1 : 0;
        current += unit.result == "already-current" ? 1 : 0;
        list.push_back(UnitFields(unit));
    }
    Write(Dump({{"event", "summary"},
                {"units", std::move(list)},
                {"updated", updated},
                {"alreadyCurrent", current},
                {"failed", units.size() - updated - current},
                {"logFailed", logFailed}}));
}

void JsonLinesSink::Exit(int status) {
    Write(Dump({{"event", "exit"}, {"status", status}}));
}

}  // namespace zelk::app
