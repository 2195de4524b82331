// zelk-uhid-device: simulated CFU earbuds as real kernel HID devices.
//
// Creates one kernel HID device through /dev/uhid for each virtual device of a
// device file (or the built-in earbud for "default") and answers the host's
// reports with the virtual device model, until it is stopped (SIGINT or
// SIGTERM) or every device has been unplugged by its script. Any host program
// can then update the device through hidraw (or the kernel's other HID
// interfaces), ours or another.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "hidtransport/virtual/virtual_device_file.h"
#include "tools/linux/no_follow_file.h"
#include "tools/linux/uhid_device.h"

namespace {

constexpr const char* kUsage =
    "Usage: zelk-uhid-device [--flash-dir DIR] [--ready-file FILE] FILE|default\n"
    "\n"
    "Creates a kernel HID device through /dev/uhid for every virtual device of\n"
    "FILE (format: docs/virtual-devices.md; \"default\" is the built-in earbud)\n"
    "and answers its reports like the virtual device, until SIGINT or SIGTERM,\n"
    "or until every device has unplugged itself.\n"
    "\n"
    "  --flash-dir DIR    on exit, write the flash of each component to\n"
    "                     DIR/device<index>-component<id>.bin (id in hex)\n"
    "  --ready-file FILE  create FILE once every hidraw node is there\n"
    "\n"
    "Prints one line per device: its hidraw node, vendor:product and name.\n"
    "Devices with a schedule or reappearAsNewNode are refused (usage error).\n"
    "Needs write access to /dev/uhid (root) and the uhid module.\n"
    "Exit status: 0 stopped, 1 a device could not be created, 64 usage error.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace zelk;
    std::string flashDir;
    std::string readyFile;
    std::string source;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--flash-dir" || arg == "--ready-file") && i + 1 < argc) {
            (arg == "--flash-dir" ? flashDir : readyFile) = argv[++i];
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!arg.starts_with("-") && source.empty()) {
            source = arg;
        } else {
            std::fprintf(stderr, "zelk-uhid-device: unexpected argument %s\n\n%s", arg.c_str(),
                         kUsage);
            return 64;
        }
    }
    if (source.empty()) {
        std::fputs(kUsage, stderr);
        return 64;
    }
    std::vector<hid::virt::VirtualDeviceConfig> configs;
    std::string error;
    if (!hid::virt::LoadVirtualDevices(source, configs, error)) {
        std::fprintf(stderr, "zelk-uhid-device: %s\n", error.c_str());
        return 64;
    }
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const std::string why =
            uhid::UhidDevice::Unservable(configs[i], "devices[" + std::to_string(i) + "]");
        if (!why.empty()) {
            std::fprintf(stderr, "zelk-uhid-device: %s: %s\n", source.c_str(), why.c_str());
            return 64;
        }
    }

    // Signals are taken by sigtimedwait below, never by a handler.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::vector<std::unique_ptr<uhid::UhidDevice>> devices;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(i);
        auto device = uhid::UhidDevice::Create(configs[i], tag, error);
        if (!device) {
            std::fprintf(stderr, "zelk-uhid-device: device %zu: %s\n", i, error.c_str());
            return 1;
        }
        devices.push_back(std::move(device));
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::string node = devices[i]->WaitForNode(std::chrono::seconds(10));
        if (node.empty()) {
            std::fprintf(stderr,
                         "zelk-uhid-device: device %zu: no hidraw node appeared (is hid-generic "
                         "loaded?)\n",
                         i);
            return 1;
        }
        const auto& config = devices[i]->Model().Config();
        std::printf("%s %04X:%04X %s\n", node.c_str(), config.vendorId, config.productId,
                    config.name.c_str());
    }
    std::fflush(stdout);
    if (!readyFile.empty()) {
        if (!tools::WriteNewFile(readyFile, {'\n'})) {
            std::fprintf(stderr, "zelk-uhid-device: cannot write %s\n", readyFile.c_str());
            return 1;
        }
    }

    for (;;) {
        timespec tick{0, 50 * 1000 * 1000};
        if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
            break;
        }
        bool anyLeft = false;
        for (const auto& device : devices) {
            anyLeft = anyLeft || !device->Destroyed();
        }
        if (!anyLeft) {
            break;
        }
    }

    int status = 0;
    if (!flashDir.empty()) {
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const auto& model = devices[i]->Model();
            for (const auto& component : model.Config().components) {
                char name[64];
                std::snprintf(name, sizeof name, "/device%zu-component%02X.bin", i, component.id);
                if (!tools::WriteNewFile(
                        flashDir + name,
                        model.ReadFlash(component.id, 0, hid::virt::kFlashCapacity))) {
                    std::fprintf(stderr, "zelk-uhid-device: cannot write %s%s\n", flashDir.c_str(),
                                 name);
                    status = 1;
                }
            }
        }
    }
    devices.clear();
    return status;
}
