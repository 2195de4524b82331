// The run as JSON lines: one object per line, flushed at once, for scripts
// that must not parse the human texts. docs/json-output.md describes every
// event and field; the names there are kept stable.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "app/run/run_events.h"
#include "app/run/unit_log.h"
#include "app/run/update_driver.h"

namespace zelk::app {

// Raised when a field changes meaning or goes; new events and fields keep it.
inline constexpr int kJsonSchemaVersion = 1;

// One interface as the --list mode shows it.
struct ListedDevice {
    std::string path;
    bool described = false;  // opened and described
    bool openable = true;    // false: matches, but cannot be opened or described
    // Of the failed open or description, with its documented number.
    engine::UpdateError error = engine::UpdateError::Success;
    std::int64_t resultCode = 0;
    cfu::DeviceComponents description;
    // The version the program would offer (empty: its offer could not be
    // read) and how it stands to the device's version of the offered
    // component: "newer", "same", "downgrade"; empty when the device has no
    // such component or was not described.
    std::string offeredVersion;
    std::string offerComparison;
};

// One device's line of the --all summary.
struct DeviceSummary {
    std::string path;
    RunOutcome outcome;
    // Its record could not be written to the unit log.
    bool unitLogFailed = false;
};

class JsonLinesSink final : public RunEventSink {
  public:
    explicit JsonLinesSink(std::FILE* out) : out_(out) {}

    void NoDevice(const DeviceIdentity& identity, bool cannotOpen,
                  const std::string& hint) override;
    void DeviceFound(const std::string& path) override;
    void Description(const std::string& path, const cfu::DeviceComponents& description) override;
    void Downgrade(const std::string& path, const std::string& deviceVersion,
                   const std::string& offeredVersion) override;
    void Progress(const std::string& path, int percentage, std::uint32_t status) override;
    void Verification(const std::string& path, const RunOutcome& outcome) override;
    void Result(const std::string& path, const RunOutcome& outcome) override;

    // The first line: the schema's version and the mode ("update", "list", "all").
    void Start(const char* mode);
    void Listed(const ListedDevice& device);
    void Summary(const std::vector<DeviceSummary>& devices);
    // --watch: the station is watching, and how it hears of devices.
    void Watching(const std::string& mechanism);
    // --watch: one unit's final result.
    void Unit(const UnitRecord& record);
    // --watch: the station's summary, when it stops.
    void StationSummary(const std::vector<UnitRecord>& units, bool logFailed);
    // The last line: the program's exit status.
    void Exit(int status);

    // A line (or its flush) could not be written: disk full, closed pipe. A
    // caller that reads the run from the lines never saw all of it.
    bool WriteFailed() const { return writeFailed_.load(); }

  private:
    void Write(const std::string& line);

    std::FILE* out_;
    std::mutex mutex_;
    std::atomic<bool> writeFailed_{false};
};

}  // namespace zelk::app
