// The hidraw backend's change watch on a real kernel: a uhid earbud plugged
// in and pulled out is heard. Needs root and /dev/uhid, so it runs only with
// ZELK_CONFORMANCE_BACKEND=hidraw (in the guest kernel, which has no udev
// daemon: the watch hears the kernel's own events there).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "tools/linux/uhid_device.h"

namespace zelk::hid::hidraw {
namespace {

bool OnHidraw() {
    const char* chosen = std::getenv("ZELK_CONFORMANCE_BACKEND");
    return chosen != nullptr && std::string_view(chosen) == "hidraw";
}

// Generous: the event follows the change within milliseconds, but the guest
// runs on an emulated processor that is shared with other work.
constexpr std::uint32_t kLimitMs = 10000;

// Reads whatever the watch has already heard (earlier tests' devices), so
// that the next true is about what the test does next.
void Settle(HidChangeWatch& watch) {
    for (int i = 0; i < 50 && watch.WaitForChange(300); ++i) {
    }
}

bool Listed(HidrawBackend& backend, const std::string& node) {
    std::vector<std::u16string> paths;
    backend.ListInterfaces(paths);
    for (const auto& path : paths) {
        if (std::string(path.begin(), path.end()).starts_with(node + "#")) {
            return true;
        }
    }
    return false;
}

TEST(HidrawWatch, HearsAnEarbudPluggedInAndPulledOut) {
    if (!OnHidraw() || ::geteuid() != 0) {
        GTEST_SKIP() << "needs root and /dev/uhid (ZELK_CONFORMANCE_BACKEND=hidraw)";
    }
    HidrawBackend backend;
    auto watch = backend.WatchInterfaces();
    ASSERT_NE(watch, nullptr);
    std::printf("note: the watch uses %s\n", watch->Mechanism().c_str());
    Settle(*watch);

    std::string error;
    auto device = uhid::UhidDevice::Create(virt::DefaultEarbud(), "watch", error);
    ASSERT_NE(device, nullptr) << error;
    const std::string node = device->WaitForNode(std::chrono::seconds(5));
    ASSERT_FALSE(node.empty());
    // The node came before this call: the event waits for it.
    EXPECT_TRUE(watch->WaitForChange(kLimitMs)) << "plugged in";
    EXPECT_TRUE(Listed(backend, node));
    Settle(*watch);

    device->Destroy();
    EXPECT_TRUE(watch->WaitForChange(kLimitMs)) << "pulled out";
    EXPECT_FALSE(Listed(backend, node));
}

}  // namespace
}  // namespace zelk::hid::hidraw
