// The production station over virtual earbuds: each device is updated once as
// it appears, or reported; a device that restarts under a new node is its
// update's read-back, not a new device; the unit records match the summary.
#include "app/run/station.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/run/interface_change_hub.h"
#include "app/run/json_lines_sink.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/captured_lines.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

using hid::virt::DefaultEarbud;
using hid::virt::VirtualDeviceConfig;

constexpr std::uint32_t kOfferedVersion = 0x10004001;  // the sample offer's 1.0.4.2
constexpr std::uint32_t kDivisor = 50;

std::u16string Utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

// A unit log that keeps its records; it can be told to fail from the n-th.
class FakeUnitLog final : public UnitLog {
  public:
    explicit FakeUnitLog(std::size_t failFrom = SIZE_MAX) : failFrom_(failFrom) {}
    bool Append(const UnitRecord& record) override {
        std::lock_guard lock(mutex_);
        if (records_.size() >= failFrom_) {
            return false;
        }
        records_.push_back(record);
        return true;
    }
    std::vector<UnitRecord> Records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }

  private:
    const std::size_t failFrom_;
    mutable std::mutex mutex_;
    std::vector<UnitRecord> records_;
};

VirtualDeviceConfig Bud(const std::string& serial, std::uint8_t role = 1) {
    VirtualDeviceConfig config = DefaultEarbud();
    config.serial = serial;
    config.components[0].budRole = role;
    return config;
}

VirtualDeviceConfig Restarting(VirtualDeviceConfig config, bool applies = true) {
    config.behaviour.reappearAsNewNode = hid::virt::DeviceBehaviour::Reappearance{};
    config.behaviour.reappearAsNewNode->delayMs = 100;
    config.behaviour.applyVersionOnComplete = applies;
    return config;
}

class StationTest : public ::testing::Test {
  protected:
    void Make(std::vector<VirtualDeviceConfig> devices) { backend.emplace(std::move(devices)); }

    StationOptions Options(std::uint32_t count) {
        StationOptions options;
        options.count = count;
        options.log = &log;
        options.sink = &sink;
        options.timeDivisor = kDivisor;
        return options;
    }

    // Runs the station; a watchdog stops it should it never reach its count,
    // so that a fault fails the test instead of hanging it.
    StationSummary RunStation(StationOptions options) {
        Station station(desktop, *backend, clock, Input(), std::move(options));
        std::atomic<bool> finished{false};
        std::thread watchdog([&] {
            for (int i = 0; i < 600 && !finished.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            station.RequestStop();
        });
        StationSummary summary = station.Run();
        finished.store(true);
        watchdog.join();
        return summary;
    }

    // Runs the station without a count until `records` units have a result
    // and many more listings have come and gone, then stops it.
    StationSummary RunUntilSettled(StationOptions options, std::size_t records) {
        return RunUntil(std::move(options), [&] { return log.Records().size() >= records; });
    }

    // Runs the station without a count until `settled` holds and many more
    // listings have come and gone, then stops it.
    StationSummary RunUntil(StationOptions options, const std::function<bool()>& settled) {
        Station* running = nullptr;
        std::thread stopper;
        options.watching = [&] {
            stopper = std::thread([&] {
                while (!settled()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                // The station relists every 10 ms here.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                running->RequestStop();
            });
        };
        Station station(desktop, *backend, clock, Input(), std::move(options));
        running = &station;
        StationSummary summary = station.Run();
        stopper.join();
        return summary;
    }

    RunInput Input() {
        return {{0x320F, 0x5055, 0x0104, 0xFF0B, 2},
                Utf16(ZELK_SAMPLE_OFFER),
                Utf16(ZELK_SAMPLE_PAYLOAD),
                ChooseLanguage(std::nullopt)};
    }

    // The unit record of the device whose serial is `serial`.
    static const UnitRecord* BySerial(const StationSummary& summary, const std::string& serial) {
        for (const UnitRecord& unit : summary.units) {
            if (unit.serial == serial) {
                return &unit;
            }
        }
        return nullptr;
    }

    void ExpectRecordsMatch(const StationSummary& summary) {
        const std::vector<UnitRecord> records = log.Records();
        ASSERT_EQ(records.size(), summary.units.size());
        std::size_t jsonUnits = 0;
        nlohmann::json jsonSummary;
        for (const nlohmann::json& event : lines.Events()) {
            jsonUnits += event["event"] == "unit" ? 1 : 0;
            if (event["event"] == "summary") {
                jsonSummary = event;
            }
        }
        EXPECT_EQ(jsonUnits, summary.units.size());
        EXPECT_EQ(jsonSummary["units"].size(), summary.units.size());
        EXPECT_EQ(jsonSummary["updated"], summary.Count("updated"));
        for (std::size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].path, summary.units[i].path);
            EXPECT_EQ(records[i].result, summary.units[i].result);
        }
    }

    std::optional<hid::virt::VirtualHidBackend> backend;
    zelk::testing::FastWaitClock clock{kDivisor};
    RecordingDesktop desktop;
    FakeUnitLog log;
    CapturedLines lines;
    JsonLinesSink sink{lines.File()};
};

TEST_F(StationTest, DevicesPresentAndPluggedWhileWatchingAreEachUpdatedOnce) {
    Make({Restarting(Bud("A")), Restarting(Bud("B")), Restarting(Bud("C"))});
    backend->Device(2).Unplug();
    StationOptions options = Options(3);
    options.watching = [&] { backend->Device(2).Plug(); };
    const StationSummary summary = RunStation(std::move(options));

    ASSERT_EQ(summary.units.size(), 3u);
    for (const std::string serial : {"A", "B", "C"}) {
        const UnitRecord* unit = BySerial(summary, serial);
        ASSERT_NE(unit, nullptr) << serial;
        EXPECT_EQ(unit->result, "updated") << serial;
        EXPECT_EQ(unit->versionBefore, "1.0.3.2");
        EXPECT_EQ(unit->versionAfter, "1.0.4.2");
    }
    // Each restarted under a new node: read back there, never flashed again.
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(backend->Device(i).NodeInstance(), 1u);
        EXPECT_EQ(backend->Device(i).OfferCount(), 1u);
        EXPECT_EQ(backend->Device(i).CompletedTransfers(), 1u);
    }
    EXPECT_TRUE(summary.AllGood());
    EXPECT_EQ(StationExitStatus(summary), 0);
    ExpectRecordsMatch(summary);
    const std::string out = desktop.Stdout();
    EXPECT_NE(out.find("UPDATED"), std::string::npos);
    EXPECT_NE(out.find("   updated:         3"), std::string::npos);
}

TEST_F(StationTest, TwoBudsWithoutSerialsAreToldApartByTheirRoles) {
    Make({Restarting(Bud("", 1)), Restarting(Bud("", 2))});
    const StationSummary summary = RunStation(Options(2));

    ASSERT_EQ(summary.units.size(), 2u);
    EXPECT_EQ(summary.Count("updated"), 2u);
    EXPECT_NE(summary.units[0].budRole, summary.units[1].budRole);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(backend->Device(i).OfferCount(), 1u);
    }
    ExpectRecordsMatch(summary);
}

TEST_F(StationTest, AUnitThatComesBackStillOldIsReportedAndNotFlashedAgain) {
    Make({Restarting(Bud("OLD"), /*applies=*/false)});
    StationOptions options = Options(2);
    // Once its update has a result, the unit is taken out and plugged in again.
    std::thread replug;
    options.watching = [&] {
        replug = std::thread([&] {
            while (log.Records().empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            backend->Device(0).Unplug();
            // Long enough for the station to list without it (it relists
            // every 10 ms here).
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            backend->Device(0).Plug();
        });
    };
    const StationSummary summary = RunStation(std::move(options));
    replug.join();

    ASSERT_EQ(summary.units.size(), 2u);
    EXPECT_EQ(summary.units[0].result, "unconfirmed");
    EXPECT_EQ(summary.units[1].result, "left-alone");
    EXPECT_NE(summary.units[1].reason.find("still at 1.0.3.2"), std::string::npos);
    EXPECT_EQ(backend->Device(0).OfferCount(), 1u);
    EXPECT_EQ(StationExitStatus(summary), 1);
    ExpectRecordsMatch(summary);
}

TEST_F(StationTest, AUnitBackOnTheNewVersionAfterItsReadBackGaveUpIsNotANewUnit) {
    // The bud restarts only after the read-back window (380 ms here) has
    // passed: its update is unconfirmed; its return on the new version is the
    // same unit, not an "already current" one.
    VirtualDeviceConfig late = Restarting(Bud("LATE"));
    late.behaviour.reappearAsNewNode->delayMs = 700;
    Make({late});
    const StationSummary summary = RunUntil(Options(0), [&] {
        return !log.Records().empty() && backend->Device(0).NodeInstance() > 0 &&
               backend->Device(0).ListedPath().has_value();
    });

    ASSERT_EQ(summary.units.size(), 1u);
    EXPECT_EQ(summary.units[0].result, "unconfirmed");
    EXPECT_EQ(backend->Device(0).OfferCount(), 1u);
    ExpectRecordsMatch(summary);
}

TEST_F(StationTest, AFailingUnitIsTriedAgainWhenPluggedAgainABoundedNumberOfTimes) {
    VirtualDeviceConfig rejecting = Bud("REJ");
    rejecting.behaviour.offerAnswers = {{0x02}};
    Make({rejecting});
    const std::size_t units = kStationAttemptsPerUnit + 1;
    StationOptions options = Options(static_cast<std::uint32_t>(units));
    std::thread replug;
    options.watching = [&] {
        replug = std::thread([&] {
            for (std::size_t seen = 1; seen < units; ++seen) {
                while (log.Records().size() < seen) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                backend->Device(0).Unplug();
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                backend->Device(0).Plug();
            }
        });
    };
    const StationSummary summary = RunStation(std::move(options));
    replug.join();

    ASSERT_EQ(summary.units.size(), units);
    for (std::size_t i = 0; i + 1 < units; ++i) {
        EXPECT_EQ(summary.units[i].result, "failed") << i;
    }
    EXPECT_EQ(summary.units.back().result, "left-alone");
    EXPECT_NE(summary.units.back().reason.find("not tried again"), std::string::npos);
    EXPECT_EQ(backend->Device(0).OfferCount(), static_cast<std::size_t>(kStationAttemptsPerUnit));
    ExpectRecordsMatch(summary);
}

VirtualDeviceConfig Current() {
    VirtualDeviceConfig config = Bud("CUR");
    config.components[0].version = kOfferedVersion;
    return config;
}

VirtualDeviceConfig WithoutTheComponent() {
    VirtualDeviceConfig config = Bud("OTHER");
    config.components[0].id = 0x0E;
    return config;
}

VirtualDeviceConfig UnpluggedMidTransfer() {
    VirtualDeviceConfig config = Bud("GONE");
    hid::virt::ContentRule rule;
    rule.block = 5;
    rule.unplug = true;
    config.behaviour.contentScript = {rule};
    return config;
}

struct ReportedCase {
    const char* name;
    VirtualDeviceConfig device;
    const char* result;
    const char* reasonPart;
    std::size_t offers;
};

class ReportedUnits : public StationTest, public ::testing::WithParamInterface<ReportedCase> {};

TEST_P(ReportedUnits, AreReportedWithTheirReason) {
    const ReportedCase& row = GetParam();
    Make({row.device});
    const StationSummary summary = RunStation(Options(1));

    ASSERT_EQ(summary.units.size(), 1u);
    EXPECT_EQ(summary.units[0].result, row.result);
    EXPECT_NE(summary.units[0].reason.find(row.reasonPart), std::string::npos)
        << summary.units[0].reason;
    EXPECT_EQ(backend->Device(0).OfferCount(), row.offers);
    EXPECT_EQ(StationExitStatus(summary), std::string(row.result) == "already-current" ? 0 : 1);
    ExpectRecordsMatch(summary);
}

INSTANTIATE_TEST_SUITE_P(
    Station, ReportedUnits,
    ::testing::Values(ReportedCase{"AlreadyCurrent", Current(), "already-current", "", 0},
                      ReportedCase{"LacksTheComponent", WithoutTheComponent(), "failed",
                                   "has no component 15", 0},
                      ReportedCase{"UnpluggedMidTransfer", UnpluggedMidTransfer(), "failed",
                                   "Update fail", 1}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(StationTest, ADeviceThatRestartsUnderANewNodeIsItsOwnReadBackNotANewDevice) {
    Make({Restarting(Bud("R"))});
    const StationSummary summary = RunUntilSettled(Options(0), 1);

    ASSERT_EQ(summary.units.size(), 1u);
    EXPECT_EQ(summary.units[0].result, "updated");
    EXPECT_EQ(backend->Device(0).NodeInstance(), 1u);
    EXPECT_EQ(backend->Device(0).OfferCount(), 1u);
    ExpectRecordsMatch(summary);
}

TEST_F(StationTest, ANodeThatCannotBeOpenedIsTriedForAWhileThenReportedOnce) {
    VirtualDeviceConfig locked = Bud("LOCKED");
    locked.behaviour.faults.open = true;
    Make({locked});
    StationOptions options = Options(0);
    options.openRetryMs = 1000;  // 20 ms here
    const StationSummary summary = RunUntilSettled(std::move(options), 1);

    ASSERT_EQ(summary.units.size(), 1u);
    EXPECT_EQ(summary.units[0].result, "failed");
    EXPECT_EQ(backend->Device(0).OfferCount(), 0u);
}

TEST_F(StationTest, AStopWithNoDeviceEndsWithAnEmptySummaryAndSuccess) {
    Make({});
    StationOptions options = Options(0);
    std::atomic<bool> stop{false};
    options.stopFlag = &stop;
    options.watching = [&] { stop.store(true); };
    const StationSummary summary = RunStation(std::move(options));

    EXPECT_TRUE(summary.units.empty());
    EXPECT_EQ(StationExitStatus(summary), 0);
    EXPECT_EQ(lines.Events().front()["mechanism"].get<std::string>(),
              "virtual device schedule, and re-listing every 5 s");
}

TEST_F(StationTest, AUnitLogThatCannotBeWrittenStopsTheStation) {
    Make({Restarting(Bud("A")), Restarting(Bud("B"))});
    FakeUnitLog failing(0);
    StationOptions options = Options(0);  // without the failure it would run on
    options.log = &failing;
    const StationSummary summary = RunStation(std::move(options));

    EXPECT_TRUE(summary.logFailed);
    EXPECT_EQ(StationExitStatus(summary), 1);
    EXPECT_NE(desktop.Stdout().find("The unit log could not be written"), std::string::npos);
}

TEST(InterfaceChangeHub, AStopFlagEndsALongWait) {
    hid::virt::VirtualHidBackend backend({});
    std::atomic<bool> stop{false};
    InterfaceChangeHub hub(backend, {500, 1, &stop});
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.store(true);
    });
    // Without the flag this would wait ten minutes: the test's timeout.
    const std::uint64_t seen = hub.Generation() + 1000000;
    hub.WaitPast(seen, 600000);
    setter.join();
    EXPECT_TRUE(hub.StopRequested());
}

}  // namespace
}  // namespace zelk::app
