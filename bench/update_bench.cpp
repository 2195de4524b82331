// Updates the default virtual earbud with the sample payload and prints how
// fast blocks go: blocks per second against a device that answers at once, and
// the time the host adds per block against a device that answers after 1 ms.
//
//   update_bench [runs] [instant|slow]   (both devices when no second argument)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfu_library.h"
#include "sample_firmware_paths.h"
#include "update_config.h"
#include "virtual/virtual_device_file.h"
#include "virtual/virtual_hid_backend.h"

namespace {

using namespace zelk;
using Seconds = std::chrono::duration<double>;

std::u16string Utf16(const char* text) {
    return std::u16string(text, text + std::strlen(text));
}

// The transfer's own pace: from the first progress notification (after the
// first hundredth of the blocks) to the last, so that opening the transfer and
// stopping the read thread afterwards do not count.
struct ProgressClock {
    static std::chrono::steady_clock::time_point& First() {
        static std::chrono::steady_clock::time_point first;
        return first;
    }
    static std::chrono::steady_clock::time_point& Last() {
        static std::chrono::steady_clock::time_point last;
        return last;
    }
    static std::int32_t OnStatus(std::uint64_t, const UpdateStatus* status) {
        const auto now = std::chrono::steady_clock::now();
        if (status->Percentage == 1) {
            First() = now;
        }
        Last() = now;
        return 0;
    }
};

struct Run {
    double callSeconds = 0;  // the whole CFUUpdate call
    double seconds = 0;
    std::size_t blocks = 0;
    std::uint32_t result = 0;
};

// One whole update, from opening the endpoint to closing it; only the
// CFUUpdate part is timed.
Run UpdateOnce(std::uint32_t latencyUs) {
    hid::virt::VirtualDeviceConfig device = hid::virt::DefaultEarbud();
    device.behaviour.latencyUs = latencyUs;
    hid::virt::VirtualHidBackend backend({device});
    cfu::CfuLibrary library(backend, SystemClock());

    UpdateConfig config = cfu::DefaultUpdateConfig();
    config.ProductId = 0x5055;
    config.CheckReportCaps = 1;
    library.SetConfig(config);
    library.Initialize(1);
    library.GetDeviceNumber();
    library.StartAddImage();
    library.AddImage(Utf16(ZELK_SAMPLE_OFFER), Utf16(ZELK_SAMPLE_PAYLOAD));
    library.StopAddImage();
    EndpointHandle handle = CFU_NO_ENDPOINT;
    if (library.InterfacePaths().empty() ||
        library.OpenDeviceEndpoint(library.InterfacePaths().front(), &handle) != 0) {
        std::fprintf(stderr, "update_bench: the virtual earbud could not be opened\n");
        std::exit(1);
    }

    library.RegisterUpdateStatusCallback(handle, &ProgressClock::OnStatus);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    run.result = library.Update(handle);
    run.callSeconds = Seconds(std::chrono::steady_clock::now() - start).count();
    run.seconds = Seconds(ProgressClock::Last() - ProgressClock::First()).count();
    // The first notification comes as block count / 99 goes out.
    const std::size_t total = backend.Device(0).ContentBlockCount();
    run.blocks = total - total / 99;
    library.CloseDeviceEndpoint(handle);
    return run;
}

Run Best(std::uint32_t latencyUs, int runs) {
    Run best;
    best.seconds = 1e9;
    for (int i = 0; i < runs; ++i) {
        const Run run = UpdateOnce(latencyUs);
        if (run.result != 0) {
            std::fprintf(stderr, "update_bench: the update failed with %u\n", run.result);
            std::exit(1);
        }
        if (run.seconds < best.seconds) {
            best = run;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::string only = argc > 2 ? argv[2] : "";

    if (only != "slow") {
        const Run instant = Best(0, runs);
        std::printf(
            "instant device: %zu blocks in %.3f s, %.0f blocks per second; the whole update "
            "call took %.3f s (best of %d)\n",
            instant.blocks, instant.seconds, static_cast<double>(instant.blocks) / instant.seconds,
            instant.callSeconds, runs);
    }
    if (only != "instant") {
        const Run slow = Best(1000, runs);
        const double perBlockUs = slow.seconds * 1e6 / static_cast<double>(slow.blocks);
        const double overheadUs = perBlockUs - 1000.0;
        std::printf(
            "1 ms device: %zu blocks in %.3f s, %.1f us per block, %.1f us (%.2f%%) above the "
            "device's own 1000 us (best of %d)\n",
            slow.blocks, slow.seconds, perBlockUs, overheadUs, overheadUs / 10.0, runs);
    }
    return 0;
}
