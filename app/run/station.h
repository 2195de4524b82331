// The production station (zelkupdate --watch): waits for matching interfaces
// and updates each device as it appears, each on a thread of its own as
// --all does, until it is stopped or has a result for a set number of units.
// It never flashes a device twice: a device that restarts under a new node
// after its update is its update's read-back, not a new device, and a unit
// (known by its serial) that comes back still old is reported, not flashed
// again (docs/production-station.md).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/desktop/desktop.h"
#include "app/run/json_lines_sink.h"
#include "app/run/unit_log.h"
#include "app/run/update_driver.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"

namespace zelk::app {

struct StationOptions {
    // Stop once this many units have a final result; 0: until stopped.
    std::uint32_t count = 0;
    // The window's fixed pauses in each update (--dialog-timing).
    bool fixedWaits = false;
    // One record per unit and attempt; null for none. A record that cannot
    // be written stops the station.
    UnitLog* log = nullptr;
    // The run's JSON lines; null for none.
    JsonLinesSink* sink = nullptr;
    // Set from outside (the first SIGINT or SIGTERM): the station stops.
    const std::atomic<bool>* stopFlag = nullptr;
    // Without a backend watch, the interfaces are listed again this often.
    std::uint32_t relistMs = 500;
    // How long a matching node that cannot be opened is tried again before
    // it is reported failed (udev may set its permissions a moment late).
    std::uint32_t openRetryMs = 3000;
    // Real time is the asked time divided by this (tests make it large; the
    // update's own waits go through the WaitClock).
    std::uint32_t timeDivisor = 1;
    // Called once, when the first listing has been handled (tests plug
    // devices from here on).
    std::function<void()> watching;
};

// A unit with a serial that failed is tried again when it is plugged again,
// at most this many attempts in all.
inline constexpr int kStationAttemptsPerUnit = 3;

struct StationSummary {
    std::vector<UnitRecord> units;
    // The unit log could not be written: the station stopped early.
    bool logFailed = false;

    std::size_t Count(const std::string& result) const;
    // Every unit was updated or already current (also when none came), and
    // the log was written.
    bool AllGood() const;
};

class Station {
  public:
    Station(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock, RunInput input,
            StationOptions options);

    // Watches until stopped; the running updates are finished before it
    // returns the summary (also printed, and given to the sink).
    StationSummary Run();
    // Asks Run to stop (from any thread).
    void RequestStop() { stop_.store(true); }

  private:
    Desktop& desktop_;
    hid::HidBackend& backend_;
    WaitClock& clock_;
    const RunInput input_;
    const StationOptions options_;
    std::atomic<bool> stop_{false};
};

// The exit status of a station run: 0 every unit updated or already current
// (also when none came), 1 some unit failed, was unconfirmed or left alone,
// or the unit log could not be written.
inline int StationExitStatus(const StationSummary& summary) {
    return summary.AllGood() ? 0 : 1;
}

}  // namespace zelk::app
