#include "app/run/unit_log.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/platform/append_file.h"
#include "app/run/run_messages.h"

namespace zelk::app {
namespace {

using Json = nlohmann::ordered_json;

// "2026-12-11T06:54:10.123Z": UTC, to the millisecond.
std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(when);
    const auto day = floor<days>(ms);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{ms - day};
    char text[40];
    std::snprintf(
        text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
        static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
        static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
        static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

Json TextOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json NumberOrNull(int value) {
    return value < 0 ? Json(nullptr) : Json(value);
}

class FileUnitLog final : public UnitLog {
  public:
    explicit FileUnitLog(std::unique_ptr<platform::AppendFile> file) : file_(std::move(file)) {}

    bool Append(const UnitRecord& record) override {
        std::string line = UnitRecordLine(record, std::chrono::system_clock::now());
        line += '\n';
        std::lock_guard lock(mutex_);
        return file_->Append(line);
    }

  private:
    std::unique_ptr<platform::AppendFile> file_;
    std::mutex mutex_;
};

}  // namespace

UnitRecord RecordOf(const RunOutcome& outcome) {
    UnitRecord record;
    record.path = outcome.path;
    record.serial = outcome.serial;
    record.componentId = outcome.componentId;
    record.budRole = outcome.budRole;
    record.versionBefore = outcome.versionBefore;
    record.versionAfter = outcome.reportedVersion;
    record.durationMs = outcome.transferMs;
    record.blocks = outcome.blocks;
    if (outcome.Verified()) {
        record.result = "updated";
    } else if (outcome.Success()) {
        // The image went through; the device, read again, did not report
        // the offered version (or was not read): not a unit to ship as done.
        record.result = "unconfirmed";
        record.reason = OutcomeFailureText(outcome);
    } else {
        record.result = "failed";
        record.reason = OutcomeFailureText(outcome);
    }
    return record;
}

std::string UnitRecordLine(const UnitRecord& record, std::chrono::system_clock::time_point when) {
    // A run that never described a device tried no transfer: its duration
    // and blocks are not known, rather than zero.
    const bool tried = record.componentId >= 0;
    const Json object = {
        {"time", UtcTimestamp(when)},
        {"path", record.path},
        {"serial", TextOrNull(record.serial)},
        {"component", NumberOrNull(record.componentId)},
        {"budRole", NumberOrNull(record.budRole)},
        {"versionBefore", TextOrNull(record.versionBefore)},
        {"versionAfter", TextOrNull(record.versionAfter)},
        {"result", record.result},
        {"reason", TextOrNull(record.reason)},
        {"durationMs", tried ? Json(record.durationMs) : Json(nullptr)},
        {"blocks", tried ? Json(record.blocks) : Json(nullptr)},
    };
    // Paths and serials come from the system and devices and may hold bytes
    // that are not UTF-8: those are replaced rather than losing the line.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::unique_ptr<UnitLog> OpenUnitLog(const std::string& path, std::string& error) {
    std::unique_ptr<platform::AppendFile> file = platform::OpenAppendFile(path, error);
    if (!file) {
        return nullptr;
    }
    return std::make_unique<FileUnitLog>(std::move(file));
}

}  // namespace zelk::app
