// The production station over virtual earbuds plugged in one after another:
// 1, 8 and 64 buds plugged over one second (from a thread), each answering in
// 1 ms and restarting under a new node after its update. Prints per case each
// unit's run time against its wire time (blocks x 1 ms), the whole batch
// against the slowest wire time + 1 s, the CPU in % of one core per device,
// the memory growth per device and the machine's load. Asserts nothing.
//
//   station_bench [--cases LIST] [--relist-ms N]   (default 1,8,64; 500)
//
// The station hears the buds come and go through the virtual backend's change
// watch (a bud that restarts is read back as soon as it is listed again);
// --relist-ms is the re-listing interval a backend without a watch would get.
#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/run/station.h"
#include "app/window/console/console_desktop.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"

namespace {

using namespace zelk;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLatencyUs = 1000;
std::uint32_t gRelistMs = 500;

// Keeps when each unit's result became known.
class KeptLog final : public app::UnitLog {
  public:
    bool Append(const app::UnitRecord& record) override {
        std::lock_guard lock(mutex_);
        records.push_back(record);
        doneAt[record.serial] = std::chrono::steady_clock::now();
        return true;
    }
    std::mutex mutex_;
    std::vector<app::UnitRecord> records;
    std::map<std::string, std::chrono::steady_clock::time_point> doneAt;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return 0;
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string text;
    std::getline(file, text);
    return text;
}

void RunCase(std::size_t count) {
    std::vector<hid::virt::VirtualDeviceConfig> configs;
    for (std::size_t i = 0; i < count; ++i) {
        hid::virt::VirtualDeviceConfig config = hid::virt::DefaultEarbud();
        config.serial = "BENCH-" + std::to_string(i);
        config.behaviour.latencyUs = kLatencyUs;
        config.behaviour.reappearAsNewNode = hid::virt::DeviceBehaviour::Reappearance{};
        configs.push_back(std::move(config));
    }
    hid::virt::VirtualHidBackend backend(std::move(configs));
    for (std::size_t i = 0; i < count; ++i) {
        backend.Device(i).Unplug();
    }
    std::FILE* sinkFile = std::fopen("/dev/null", "w");
    app::ConsoleOptions consoleOptions;
    consoleOptions.out = sinkFile;
    consoleOptions.err = sinkFile;
    app::ConsoleDesktop desktop(std::move(consoleOptions));
    KeptLog log;
    app::StationOptions options;
    options.count = static_cast<std::uint32_t>(count);
    options.log = &log;
    options.relistMs = gRelistMs;
    std::thread plugger;
    Clock::time_point start;
    std::vector<Clock::time_point> pluggedAt(count);
    options.watching = [&] {
        start = Clock::now();
        plugger = std::thread([&] {
            // Spread over one second.
            for (std::size_t i = 0; i < count; ++i) {
                std::this_thread::sleep_until(
                    start +
                    std::chrono::microseconds(1000000 * i / std::max<std::size_t>(count, 1)));
                pluggedAt[i] = Clock::now();
                backend.Device(i).Plug();
            }
        });
    };
    const app::RunInput input{
        {0x320F, 0x5055, 0x0104, 0xFF0B, 2},
        std::u16string(ZELK_SAMPLE_OFFER, ZELK_SAMPLE_OFFER + std::strlen(ZELK_SAMPLE_OFFER)),
        std::u16string(ZELK_SAMPLE_PAYLOAD, ZELK_SAMPLE_PAYLOAD + std::strlen(ZELK_SAMPLE_PAYLOAD)),
        app::ChooseLanguage(std::nullopt)};
    const long rssBefore = RssKb();
    const double cpuBefore = CpuSeconds();
    app::Station station(desktop, backend, SystemClock(), input, std::move(options));
    long rssPeak = rssBefore;
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done.load()) {
            rssPeak = std::max(rssPeak, RssKb());
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const app::StationSummary summary = station.Run();
    const double batchSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    done.store(true);
    sampler.join();
    plugger.join();
    std::fclose(sinkFile);

    double worstRatio = 0;
    double sumRatio = 0;
    std::uint64_t slowestWireMs = 0;
    for (const app::UnitRecord& unit : summary.units) {
        const std::uint64_t wireMs = unit.blocks * kLatencyUs / 1000;
        slowestWireMs = std::max(slowestWireMs, wireMs);
        // The whole run of the unit: from its plug to its result (found,
        // described, transferred, restarted and read back).
        const std::size_t index = std::stoul(unit.serial.substr(unit.serial.find('-') + 1));
        const double runMs =
            std::chrono::duration<double, std::milli>(log.doneAt[unit.serial] - pluggedAt[index])
                .count();
        const double ratio = wireMs > 0 ? runMs / static_cast<double>(wireMs) : 0;
        worstRatio = std::max(worstRatio, ratio);
        sumRatio += ratio;
        if (count == 1) {
            std::printf(
                "  unit %s: %s, run %.0f ms (transfer %llu ms), wire %llu ms (%llu blocks): "
                "%+.1f %%\n",
                unit.serial.c_str(), unit.result.c_str(), runMs,
                static_cast<unsigned long long>(unit.durationMs),
                static_cast<unsigned long long>(wireMs),
                static_cast<unsigned long long>(unit.blocks), (ratio - 1) * 100);
        }
    }
    const std::size_t n = summary.units.size();
    std::printf("%zu earbuds: %zu updated of %zu results\n", count, summary.Count("updated"), n);
    if (n > 0) {
        std::printf("  unit run time vs wire time: mean %+.1f %%, worst %+.1f %%\n",
                    (sumRatio / static_cast<double>(n) - 1) * 100, (worstRatio - 1) * 100);
    }
    const double afterLastPlug =
        count > 0 ? std::chrono::duration<double>(Clock::now() - pluggedAt[count - 1]).count() -
                        std::chrono::duration<double>(Clock::now() - start).count() + batchSeconds
                  : 0;
    std::printf(
        "  batch %.2f s from the first plug vs slowest wire + 1 s = %.2f s (%.2f s after "
        "the last plug)\n",
        batchSeconds, static_cast<double>(slowestWireMs) / 1000.0 + 1.0, afterLastPlug);
    std::printf("  CPU %.2f %% of one core per device; RSS growth %.0f KB per device (peak)\n",
                cpu / batchSeconds * 100.0 / static_cast<double>(count),
                static_cast<double>(rssPeak - rssBefore) / static_cast<double>(count));
    std::printf("  load: %s\n", LoadAverage().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    // The simulated earbuds answer through timed waits, to which Linux adds
    // 50 us of timer slack by default: 5 % on every 1 ms answer, which a real
    // device's answer (an event, not a timer) does not carry. The threads of
    // this process get 1 ns instead, so that the buds answer at their time.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::vector<std::size_t> cases = {1, 8, 64};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cases") == 0 && i + 1 < argc) {
            cases.clear();
            for (const char* p = argv[++i]; *p != '\0';) {
                char* end = nullptr;
                cases.push_back(std::strtoul(p, &end, 10));
                p = *end == ',' ? end + 1 : end;
            }
        } else if (std::strcmp(argv[i], "--relist-ms") == 0 && i + 1 < argc) {
            gRelistMs = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        }
    }
    std::printf(
        "virtual device schedule (re-listing every %u ms without a watch); load before: %s\n",
        gRelistMs, LoadAverage().c_str());
    for (const std::size_t count : cases) {
        RunCase(count);
    }
    return 0;
}
