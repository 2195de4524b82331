#include "app/run/station.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "app/run/interface_change_hub.h"
#include "app/run/multi_device.h"
#include "app/run/offered_firmware.h"
#include "app/run/quiet_desktop.h"
#include "app/run/run_messages.h"
#include "app/text/text_encoding.h"
#include "engine/firmware_version.h"
#include "updatelib/update_library.h"

namespace zelk::app {
namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the loop waits before it looks again without a change: a node
// still being retried or deferred, or else a safety net for a lost event.
constexpr std::uint32_t kRetryLookMs = 100;
constexpr std::uint32_t kIdleLookMs = 1000;

int ComponentIdOf(const cfu::ComponentVersion& c) {
    return static_cast<int>((c.Info >> 8) & 0xFF);
}
int BudRoleOf(const cfu::ComponentVersion& c) {
    return static_cast<int>((c.Info >> 2) & 0x3);
}

const char* ResultWord(const std::string& result) {
    if (result == "updated") {
        return "UPDATED        ";
    }
    if (result == "already-current") {
        return "ALREADY CURRENT";
    }
    if (result == "unconfirmed") {
        return "UNCONFIRMED    ";
    }
    if (result == "left-alone") {
        return "LEFT ALONE     ";
    }
    return "FAILED         ";
}

// One update in progress, on its own thread.
struct Job {
    std::u16string path;
    std::u16string serial;
    int componentId = -1;
    int budRole = -1;
    SteadyClock::time_point start;
    std::thread thread;
    std::atomic<bool> done{false};
    RunOutcome outcome;  // written by the thread before `done`
};

class StationRun {
  public:
    StationRun(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock, const RunInput& input,
               const StationOptions& options, const std::atomic<bool>& stop)
        : desktop_(desktop),
          quiet_(desktop),
          backend_(backend),
          clock_(clock),
          input_(input),
          options_(options),
          stop_(stop),
          // The hub's waits end on the signal flag, or, in a program
          // without one, on the station's own stop.
          hub_(backend, {options.relistMs, std::max<std::uint32_t>(options.timeDivisor, 1),
                         options.stopFlag != nullptr ? options.stopFlag : &stop}),
          library_(backend, clock) {}

    StationSummary Run();

  private:
    struct Node {
        SteadyClock::time_point firstSeen;
        bool decided = false;
        // Listings in a row that did not show the node.
        int missed = 0;
    };
    struct UnitHistory {
        int attempts = 0;
        bool imageSent = false;  // a transfer to it completed
    };

    bool Stopping() {
        return stop_.load() || hub_.StopRequested() || summary_.logFailed || CountReached(false);
    }
    bool CountReached(bool withRunning) const {
        if (options_.count == 0) {
            return false;
        }
        const std::size_t running = withRunning ? jobs_.size() : 0;
        return summary_.units.size() + running >= options_.count;
    }
    void Look();
    // Decides about one node not handled yet; false while it must wait (not
    // openable yet, or a running update may claim it).
    bool Decide(const std::u16string& path, bool unopenable, Node& node);
    void StartJob(const std::u16string& path, const std::u16string& serial,
                  const cfu::ComponentVersion& component);
    void CollectJobs(bool wait);
    void Report(UnitRecord record);
    bool RunningJobMayClaim(const std::u16string& serial, int componentId, int budRole) const;
    bool RunningJobWithoutSerial() const;
    std::chrono::milliseconds Real(std::uint32_t ms) const {
        return std::chrono::milliseconds(ms / std::max<std::uint32_t>(options_.timeDivisor, 1));
    }

    Desktop& desktop_;
    QuietDesktop quiet_;
    hid::HidBackend& backend_;
    WaitClock& clock_;
    const RunInput& input_;
    const StationOptions& options_;
    const std::atomic<bool>& stop_;
    InterfaceChangeHub hub_;
    cfu::CfuLibrary library_;
    // What the offer file offers; nothing when it could not be read.
    std::optional<OfferedFirmware> offered_;
    std::map<std::u16string, Node> nodes_;
    std::map<std::u16string, UnitHistory> history_;  // by serial
    std::list<std::unique_ptr<Job>> jobs_;
    bool waiting_ = false;  // a node is being retried or deferred
    StationSummary summary_;
};

StationSummary StationRun::Run() {
    {
        // Decoded with the family a run gives the library.
        cfu::LibraryCalls calls(library_);
        calls.SetConfig(RunConfigFor(input_.identity));
        calls.Initialize(1);
        offered_ = ReadOfferedFirmware(input_.offerPath, calls.DeviceFamily());
        calls.Uninitialize();
    }
    desktop_.WriteStdout("Watching for devices (" + hub_.Mechanism() + "); stop with Ctrl+C.\n");
    if (options_.sink != nullptr) {
        options_.sink->Watching(hub_.Mechanism());
    }
    std::uint64_t generation = hub_.Generation();
    bool first = true;
    while (!Stopping()) {
        CollectJobs(false);
        if (Stopping()) {
            break;
        }
        Look();
        if (first) {
            first = false;
            if (options_.watching) {
                options_.watching();
            }
        }
        if (Stopping()) {
            break;
        }
        generation = hub_.WaitPast(generation, waiting_ ? kRetryLookMs : kIdleLookMs);
    }
    CollectJobs(true);
    return summary_;
}

void StationRun::Look() {
    waiting_ = false;
    const std::vector<std::u16string> matching = MatchingInterfaces(library_, input_.identity);
    const std::vector<std::u16string> unopenable = UnopenableInterfaces(backend_, input_.identity);
    // A node that left the listing is forgotten: its number may be given to
    // another device (hidraw numbers are reused). Only after two listings
    // without it: a listing that failed, or missed a node whose sysfs files
    // could not be read for a moment, looks like one without any device,
    // and forgetting on it would decide every present device again.
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        const bool present =
            std::find(matching.begin(), matching.end(), it->first) != matching.end() ||
            std::find(unopenable.begin(), unopenable.end(), it->first) != unopenable.end();
        it->second.missed = present ? 0 : it->second.missed + 1;
        it = it->second.missed >= 2 ? nodes_.erase(it) : std::next(it);
    }
    auto visit = [&](const std::u16string& path, bool cannotOpen) {
        auto [it, added] = nodes_.try_emplace(path);
        if (added) {
            it->second.firstSeen = SteadyClock::now();
        }
        if (it->second.decided || Stopping() || CountReached(true)) {
            return;
        }
        it->second.decided = Decide(path, cannotOpen, it->second);
        waiting_ = waiting_ || !it->second.decided;
    };
    for (const std::u16string& path : matching) {
        visit(path, false);
    }
    for (const std::u16string& path : unopenable) {
        visit(path, true);
    }
}

bool StationRun::RunningJobMayClaim(const std::u16string& serial, int componentId,
                                    int budRole) const {
    for (const auto& job : jobs_) {
        // A unit without a serial may come back under any node of its
        // component and role (also one that shows a serial now): hold such a
        // node until its update has ended.
        if ((!serial.empty() && job->serial == serial) ||
            (job->serial.empty() && job->componentId == componentId && job->budRole == budRole)) {
            return true;
        }
    }
    return false;
}

bool StationRun::RunningJobWithoutSerial() const {
    return std::any_of(jobs_.begin(), jobs_.end(),
                       [](const auto& job) { return job->serial.empty(); });
}

bool StationRun::Decide(const std::u16string& path, bool unopenable, Node& node) {
    cfu::LibraryCalls calls(library_);
    const std::u16string serial = calls.InterfaceSerial(path);
    // The device an update is running on may come back under this node after
    // its restart: the update reads it; decide once the update has ended.
    if (!serial.empty() && RunningJobMayClaim(serial, -1, -1)) {
        return false;
    }
    UnitRecord record;
    record.path = Utf16ToUtf8(path);
    record.serial = Utf16ToUtf8(serial);
    cfu::DeviceComponents description;
    bool described = false;
    if (!unopenable) {
        calls.SetConfig(RunConfigFor(input_.identity));
        calls.Initialize(1);
        calls.SetConfigEx(RunConfigFor(input_.identity));
        cfu::EndpointHandle handle = cfu::kNoEndpoint;
        if (calls.OpenDeviceEndpoint(path, handle) == engine::UpdateError::Success) {
            described =
                calls.GetDeviceDescription(handle, description) == engine::UpdateError::Success;
        }
        if (handle != cfu::kNoEndpoint) {
            calls.CloseDeviceEndpoint(handle);
        }
        calls.Uninitialize();
    }
    if (!described) {
        // Permissions may come a moment after the node: try again for a while,
        // then report it once for this appearance. A unit without a serial
        // that is still being updated may be this node, slow to come up after
        // its restart: its update reads it; wait for that to end.
        if (SteadyClock::now() - node.firstSeen < Real(options_.openRetryMs) ||
            RunningJobWithoutSerial()) {
            return false;
        }
        record.result = "failed";
        record.reason = unopenable ? "the device cannot be opened: " + NotOpenableText(false)
                                   : "the device could not be opened and described";
        Report(std::move(record));
        return true;
    }
    if (!offered_) {
        record.result = "failed";
        record.reason = "the offer file could not be read; nothing was sent";
        Report(std::move(record));
        return true;
    }
    const int offeredId = offered_->componentId;
    const auto found =
        std::find_if(description.Components.begin(), description.Components.end(),
                     [&](const cfu::ComponentVersion& c) { return ComponentIdOf(c) == offeredId; });
    if (found == description.Components.end()) {
        record.result = "failed";
        record.reason = "the device has no component " + std::to_string(offeredId) +
                        " (the one the firmware is for); nothing was sent";
        Report(std::move(record));
        return true;
    }
    const cfu::ComponentVersion component = *found;
    record.componentId = ComponentIdOf(component);
    record.budRole = BudRoleOf(component);
    record.versionBefore = engine::FirmwareVersionText(component.Version);
    const bool current = engine::CompareFirmwareVersions(component.Version, offered_->version) == 0;
    if (RunningJobMayClaim(serial, record.componentId, record.budRole)) {
        return false;
    }
    if (!serial.empty() && history_[serial].imageSent && current) {
        // A unit this station updated, back once more and now on the offered
        // version (its update may have ended before it switched): it has its
        // record already, and is not a new unit.
        desktop_.WriteStdout(record.path + "  serial " + record.serial +
                             ": back, now on the offered version " + record.versionBefore +
                             " (its update has been reported)\n");
        return true;
    }
    if (current) {
        record.versionAfter = record.versionBefore;
        record.result = "already-current";
        Report(std::move(record));
        return true;
    }
    if (!serial.empty()) {
        const UnitHistory& unit = history_[serial];
        if (unit.imageSent || unit.attempts >= kStationAttemptsPerUnit) {
            record.versionAfter = record.versionBefore;
            record.result = "left-alone";
            record.reason = unit.imageSent ? "it came back still at " + record.versionBefore +
                                                 " after its update; not flashed again"
                                           : "it failed " + std::to_string(unit.attempts) +
                                                 " times; not tried again";
            Report(std::move(record));
            return true;
        }
    }
    StartJob(path, serial, component);
    return true;
}

void StationRun::StartJob(const std::u16string& path, const std::u16string& serial,
                          const cfu::ComponentVersion& component) {
    if (!serial.empty()) {
        ++history_[serial].attempts;
    }
    auto job = std::make_unique<Job>();
    job->path = path;
    job->serial = serial;
    job->componentId = ComponentIdOf(component);
    job->budRole = BudRoleOf(component);
    job->start = SteadyClock::now();
    Job& one = *job;
    job->thread = std::thread([this, &one] {
        cfu::CfuLibrary library(backend_, clock_);
        UpdateDriver driver(quiet_, library, clock_);
        driver.SetTargetPath(one.path);
        driver.SetEventSink(options_.sink);
        DriverOptions driverOptions;
        // Success only when the device, read again, reports the offered version.
        driverOptions.holdSuccessForVerification = true;
        driverOptions.fixedWaits = options_.fixedWaits;
        driverOptions.readBackPause = [this](std::uint32_t maxMs) { return hub_.Pause(maxMs); };
        driver.Apply(driverOptions);
        one.outcome = driver.RunUpdate(input_);
        one.done.store(true);
        hub_.Poke();
    });
    jobs_.push_back(std::move(job));
}

void StationRun::CollectJobs(bool wait) {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        Job& job = **it;
        if (!wait && !job.done.load()) {
            ++it;
            continue;
        }
        job.thread.join();
        const RunOutcome& outcome = job.outcome;
        // The node the device was read back from is this unit, not a new one.
        if (!outcome.readBackPath.empty()) {
            nodes_[Utf8ToUtf16(outcome.readBackPath)].decided = true;
        }
        if (!job.serial.empty() && outcome.succeeded) {
            history_[job.serial].imageSent = true;
        }
        UnitRecord record = RecordOf(outcome);
        // A run that failed before it described the device still names it.
        record.path = Utf16ToUtf8(job.path);
        if (record.serial.empty()) {
            record.serial = Utf16ToUtf8(job.serial);
        }
        if (record.componentId < 0) {
            record.componentId = job.componentId;
            record.budRole = job.budRole;
        }
        Report(std::move(record));
        it = jobs_.erase(it);
    }
}

void StationRun::Report(UnitRecord record) {
    const LocalTime now = desktop_.Now();
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.hour, now.minute, now.second);
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f s",
                  static_cast<double>(record.durationMs) / 1000.0);
    std::string line = std::string(time) + "  " + ResultWord(record.result) + "  " + record.path +
                       "  serial " + (record.serial.empty() ? "-" : record.serial) + "  " +
                       (record.versionBefore.empty() ? "-" : record.versionBefore) + " -> " +
                       (record.versionAfter.empty() ? "-" : record.versionAfter) + "  " + duration;
    if (!record.reason.empty()) {
        line += "  (" + record.reason + ")";
    }
    desktop_.WriteStdout(line + "\n");
    if (options_.sink != nullptr) {
        options_.sink->Unit(record);
    }
    if (options_.log != nullptr && !summary_.logFailed && !options_.log->Append(record)) {
        summary_.logFailed = true;
        desktop_.AppendLog(u"The unit log could not be written: the station stops.\n", kRed);
        desktop_.WriteStdout(
            "The unit log could not be written: no further device is taken; the station "
            "stops.\n");
    }
    summary_.units.push_back(std::move(record));
}

std::string SummaryText(const StationSummary& summary) {
    std::string text = "\n######################## Summary ########################\n";
    text += "   updated:         " + std::to_string(summary.Count("updated")) + "\n";
    text += "   already current: " + std::to_string(summary.Count("already-current")) + "\n";
    const std::size_t others =
        summary.units.size() - summary.Count("updated") - summary.Count("already-current");
    text += "   failed:          " + std::to_string(others) + "\n";
    for (const UnitRecord& unit : summary.units) {
        if (unit.result == "updated" || unit.result == "already-current") {
            continue;
        }
        text += "      " + unit.path +
                (unit.serial.empty() ? std::string() : " (serial " + unit.serial + ")") + ": " +
                unit.result + (unit.reason.empty() ? std::string() : ", " + unit.reason) + "\n";
    }
    if (summary.logFailed) {
        text += "   The unit log could not be written.\n";
    }
    return text;
}

}  // namespace

std::size_t StationSummary::Count(const std::string& result) const {
    return static_cast<std::size_t>(std::count_if(
        units.begin(), units.end(), [&](const UnitRecord& u) { return u.result == result; }));
}

bool StationSummary::AllGood() const {
    return !logFailed && Count("updated") + Count("already-current") == units.size();
}

Station::Station(Desktop& desktop, hid::HidBackend& backend, WaitClock& clock, RunInput input,
                 StationOptions options)
    : desktop_(desktop),
      backend_(backend),
      clock_(clock),
      input_(std::move(input)),
      options_(std::move(options)) {}

StationSummary Station::Run() {
    StationSummary summary;
    {
        StationRun run(desktop_, backend_, clock_, input_, options_, stop_);
        summary = run.Run();
    }
    desktop_.WriteStdout(SummaryText(summary));
    if (options_.sink != nullptr) {
        options_.sink->StationSummary(summary.units, summary.logFailed);
    }
    return summary;
}

}  // namespace zelk::app
