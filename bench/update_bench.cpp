// Updates an earbud with the sample payload and prints, per device kind, how
// fast blocks go and what the host costs: blocks per second, microseconds per
// block above the device's own answer time, the process's CPU time over the
// update's wall time, and the tail from the last block to CFUUpdate's return.
//
//   update_bench [--runs N] [--load] [--latency-us LIST] [--hidraw]
//                [--offer FILE --payload FILE]
//
//   --runs N        updates per device kind; the fastest is reported (default 3)
//   --load          keeps every core busy with one spinning process each
//   --latency-us L  comma-separated answer delays of the devices (default 0,1000)
//   --hidraw        update the first earbud found through hidraw (the platform
//                   backend) instead of an in-process virtual one; its delay is
//                   whatever the device serving it (zelk-uhid-device) was given,
//                   and --latency-us then names that one delay
//   --offer, --payload  the image to send (default: the build's sample image)
//
// Against a virtual device, each delayed answer is due its delay after the
// report it answers; the device records how late the host's read took it
// (its timer and the reader's wake-up), and that lateness counts as the
// device's time, so the "above the device" figure is the host's own.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "updatelib/cfu_library.h"
#include "updatelib/update_config.h"

namespace {

using namespace zelk;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

std::u16string Utf16(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string& OfferFile() {
    static std::string file = ZELK_SAMPLE_OFFER;
    return file;
}
std::string& PayloadFile() {
    static std::string file = ZELK_SAMPLE_PAYLOAD;
    return file;
}

// The transfer's own pace: from the first progress notification (after the
// first hundredth of the blocks) to the last (after the last block), so that
// opening the transfer does not count.
struct ProgressClock final : engine::ProgressListener {
    void OnProgress(std::uint64_t, const engine::UpdateProgress& progress) override {
        const auto now = Clock::now();
        if (progress.Percentage == 1) {
            first = now;
        }
        last = now;
    }
    Clock::time_point first;
    Clock::time_point last;
};

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    double seconds = 0;      // first to last progress notification
    std::size_t blocks = 0;  // blocks in that stretch
    double cpuPercent = 0;   // process CPU over the CFUUpdate call's wall time
    double tailMs = 0;       // last notification to CFUUpdate's return
    double lateUs = 0;       // mean lateness of the device's delayed answers
    double maxLateUs = 0;
    engine::UpdateError result = engine::UpdateError::Success;
};

// One whole update, from opening the endpoint to closing it; only the
// CFUUpdate call is timed. `device` is null for an outside (hidraw) device.
Run UpdateOnce(hid::HidBackend& backend, hid::virt::VirtualDevice* device,
               std::size_t hidrawBlocks) {
    cfu::CfuLibrary library(backend, SystemClock());
    engine::UpdateConfiguration config = cfu::DefaultUpdateConfig();
    config.ProductId = 0x5055;
    config.CheckReportCaps = true;
    library.SetConfig(config);
    library.Initialize(1);
    library.MatchDevices();
    library.StartAddImage();
    library.AddImage(Utf16(OfferFile()), Utf16(PayloadFile()));
    library.StopAddImage();
    cfu::EndpointHandle handle = cfu::kNoEndpoint;
    if (library.InterfacePaths().empty() ||
        library.OpenDeviceEndpoint(library.InterfacePaths().front(), handle) !=
            engine::UpdateError::Success) {
        std::fprintf(stderr, "update_bench: the earbud could not be opened\n");
        std::exit(1);
    }

    ProgressClock progress;
    library.RegisterProgressListener(handle, &progress);
    const auto timingBefore = device != nullptr ? device->DelayedAnswerTiming()
                                                : hid::virt::VirtualDevice::AnswerTiming{};
    Run run;
    const double cpuStart = ProcessCpuSeconds();
    const auto start = Clock::now();
    run.result = library.Update(handle);
    const auto end = Clock::now();
    run.cpuPercent = (ProcessCpuSeconds() - cpuStart) * 100.0 / Seconds(end - start).count();
    run.seconds = Seconds(progress.last - progress.first).count();
    run.tailMs = std::chrono::duration<double, std::milli>(end - progress.last).count();
    // The first notification comes as block count / 99 goes out.
    const std::size_t total = device != nullptr ? device->ContentBlockCount() : hidrawBlocks;
    run.blocks = total - total / 99;
    if (device != nullptr) {
        const auto timing = device->DelayedAnswerTiming();
        const std::size_t answers = timing.answers - timingBefore.answers;
        if (answers > 0) {
            run.lateUs =
                std::chrono::duration<double, std::micro>(timing.totalLate - timingBefore.totalLate)
                    .count() /
                static_cast<double>(answers);
        }
        run.maxLateUs = std::chrono::duration<double, std::micro>(timing.maxLate).count();
    }
    library.CloseDeviceEndpoint(handle);
    return run;
}

// Blocks of the payload: one per 57-byte record.
std::size_t SampleBlocks() {
    std::FILE* file = std::fopen(PayloadFile().c_str(), "rb");
    if (file == nullptr) {
        return 0;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size > 0 ? static_cast<std::size_t>(size) / 57 : 0;
}

Run Best(std::uint32_t latencyUs, int runs, bool hidraw) {
    Run best;
    best.seconds = 1e9;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (hidraw) {
            const std::unique_ptr<hid::HidBackend> backend = hid::CreatePlatformHidBackend();
            run = UpdateOnce(*backend, nullptr, SampleBlocks());
        } else {
            hid::virt::VirtualDeviceConfig config = hid::virt::DefaultEarbud();
            config.behaviour.latencyUs = latencyUs;
            hid::virt::VirtualHidBackend backend({config});
            run = UpdateOnce(backend, &backend.Device(0), 0);
        }
        if (run.result != engine::UpdateError::Success) {
            std::fprintf(stderr, "update_bench: the update failed with %s\n",
                         engine::ErrorName(run.result));
            std::exit(1);
        }
        if (run.seconds < best.seconds) {
            best = run;
        }
    }
    return best;
}

void Print(std::uint32_t latencyUs, const Run& run, int runs, bool hidraw) {
    const double perBlockUs = run.seconds * 1e6 / static_cast<double>(run.blocks);
    const double blocksPerSecond = static_cast<double>(run.blocks) / run.seconds;
    const std::string kind =
        latencyUs == 0 ? std::string("instant device") : std::to_string(latencyUs) + " us device";
    std::printf("%s%s: %zu blocks, %.0f blocks/s, %.1f us per block", kind.c_str(),
                hidraw ? " (hidraw)" : "", run.blocks, blocksPerSecond, perBlockUs);
    if (latencyUs > 0) {
        const double aboveNominal = perBlockUs - latencyUs;
        std::printf("; %.1f us (%.2f%%) above the nominal %u us", aboveNominal,
                    aboveNominal * 100.0 / latencyUs, latencyUs);
        if (!hidraw) {
            const double deviceUs = latencyUs + run.lateUs;
            const double above = perBlockUs - deviceUs;
            std::printf(
                ", %.1f us (%.2f%%) above the device's own %.1f us (its answers reached the "
                "reader %.1f us late on average, at most %.0f us)",
                above, above * 100.0 / deviceUs, deviceUs, run.lateUs, run.maxLateUs);
        }
    }
    std::printf("; CPU %.1f%% of one core; tail after the last block %.2f ms (best of %d)\n",
                run.cpuPercent, run.tailMs, runs);
}

// One child process per core that spins until killed.
std::vector<pid_t> StartLoad() {
    std::vector<pid_t> children;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 0; i < cores; ++i) {
        const pid_t child = fork();
        if (child == 0) {
            volatile unsigned long spin = 0;
            for (;;) {
                spin = spin + 1;
            }
        }
        if (child > 0) {
            children.push_back(child);
        }
    }
    return children;
}

void StopLoad(const std::vector<pid_t>& children) {
    for (const pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

std::vector<std::uint32_t> ParseLatencies(const char* text) {
    std::vector<std::uint32_t> out;
    std::string list(text);
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        if (comma > at) {
            out.push_back(static_cast<std::uint32_t>(std::strtoul(list.c_str() + at, nullptr, 10)));
        }
        at = comma + 1;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    bool load = false;
    bool hidraw = false;
    std::vector<std::uint32_t> latencies{0, 1000};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--load") {
            load = true;
        } else if (arg == "--latency-us" && i + 1 < argc) {
            latencies = ParseLatencies(argv[++i]);
        } else if (arg == "--hidraw") {
            hidraw = true;
        } else if (arg == "--offer" && i + 1 < argc) {
            OfferFile() = argv[++i];
        } else if (arg == "--payload" && i + 1 < argc) {
            PayloadFile() = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: update_bench [--runs N] [--load] [--latency-us LIST] "
                         "[--hidraw] [--offer FILE --payload FILE]\n");
            return 2;
        }
    }
    if (hidraw && latencies.size() > 1) {
        latencies.resize(1);
    }
    const std::vector<pid_t> children = load ? StartLoad() : std::vector<pid_t>{};
    if (load) {
        std::printf("with %zu spinning processes (one per core)\n", children.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (const std::uint32_t latencyUs : latencies) {
        Print(latencyUs, Best(latencyUs, runs, hidraw), runs, hidraw);
        std::fflush(stdout);
    }
    StopLoad(children);
    return 0;
}
