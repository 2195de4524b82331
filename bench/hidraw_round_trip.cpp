// Times one report's round trip through the kernel: an offer written to the
// hidraw node, handed by the kernel to the uhid device, answered, and read
// back from the hidraw node. Needs /dev/uhid (root); run in the guest kernel
// by scripts/kernel-hid-tests.sh.
//
//   hidraw_round_trip [reports]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "tools/linux/uhid_device.h"

int main(int argc, char** argv) {
    using namespace zelk;
    using Clock = std::chrono::steady_clock;
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    std::string error;
    auto device = uhid::UhidDevice::Create(hid::virt::DefaultEarbud(), "round-trip", error);
    if (!device) {
        std::fprintf(stderr, "hidraw_round_trip: %s\n", error.c_str());
        return 1;
    }
    const std::string node = device->WaitForNode(std::chrono::seconds(5));
    hid::hidraw::HidrawBackend backend;
    std::vector<std::u16string> paths;
    backend.ListInterfaces(paths);
    hid::HidHandle handle = hid::kInvalidHidHandle;
    for (const auto& path : paths) {
        if (!node.empty() && std::string(path.begin(), path.end()).starts_with(node + "#")) {
            handle = backend.Open(path, hid::HidOpenMode::Io);
        }
    }
    if (handle == hid::kInvalidHidHandle) {
        std::fprintf(stderr, "hidraw_round_trip: cannot open the device's hidraw node\n");
        return 1;
    }
    std::vector<double> micros;
    std::vector<std::uint8_t> offer(61, 0);
    std::vector<std::uint8_t> answer(255, 0);
    offer[0] = 0x23;
    offer[3] = 0xFF;  // an information offer: answered, never starts a transfer
    for (int i = 0; i < count; ++i) {
        offer[4] = static_cast<std::uint8_t>(i);
        std::size_t received = 0;
        const auto start = Clock::now();
        if (!backend.SetOutputReport(handle, offer.data(), offer.size()) ||
            backend.ReadInput(handle, answer.data(), answer.size(), received, 5000) !=
                hid::HidReadResult::Data) {
            std::fprintf(stderr, "hidraw_round_trip: report %d was not answered\n", i);
            return 1;
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    backend.Close(handle);
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (const double m : micros) {
        sum += m;
    }
    std::printf(
        "hidraw round trip over %d reports: mean %.0f us, median %.0f us, min %.0f us, "
        "p99 %.0f us, max %.0f us\n",
        count, sum / count, micros[micros.size() / 2], micros.front(),
        micros[micros.size() * 99 / 100], micros.back());
    return 0;
}
