// The record a production line keeps: one JSON line per device and attempt,
// appended to a file the operator names, so that every unit shipped can be
// traced to what was done to it (docs/unit-log.md).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "app/run/update_driver.h"

namespace zelk::app {

// One device and attempt. Strings are UTF-8; empty, -1 or 0 where unknown.
struct UnitRecord {
    std::string path;
    std::string serial;
    int componentId = -1;
    int budRole = -1;
    std::string versionBefore;
    // The version the device reported after the update (read back), or the
    // version it has when nothing was sent.
    std::string versionAfter;
    // "updated", "unconfirmed" (the image went through, the device did not
    // confirm the version), "failed", "already-current", "left-alone" (not
    // flashed again: see `reason`).
    std::string result;
    std::string reason;
    std::uint64_t durationMs = 0;
    std::uint64_t blocks = 0;
};

// The record of one run of the update driver on one device.
UnitRecord RecordOf(const RunOutcome& outcome);

// `record` as the log's line (without the line break), stamped `when`.
std::string UnitRecordLine(const UnitRecord& record, std::chrono::system_clock::time_point when);

class UnitLog {
  public:
    virtual ~UnitLog() = default;
    // Appends `record` as one line with the current time, and flushes it.
    // Safe from several threads. False when the line could not be written
    // whole: the caller stops and says so.
    virtual bool Append(const UnitRecord& record) = 0;
};

// Opens `path` for appending (created when missing); null with a message in
// `error` when it cannot be opened for writing.
std::unique_ptr<UnitLog> OpenUnitLog(const std::string& path, std::string& error);

}  // namespace zelk::app
