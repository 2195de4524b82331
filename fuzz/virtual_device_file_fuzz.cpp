// Device files: arbitrary text to the device-file reader. Checks that a
// refusal is one line naming its origin and changes nothing, and that every
// accepted device can be built and found by its own identity.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "hidtransport/device_discovery.h"
#include "hidtransport/report_descriptor.h"
#include "hidtransport/virtual/virtual_device.h"
#include "hidtransport/virtual/virtual_device_file.h"

using zelk::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace virt = zelk::hid::virt;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<virt::VirtualDeviceConfig> devices(1);
    std::string error;
    const bool ok = virt::ParseVirtualDevices(text, "fuzz.json", devices, error);
    Require(ok == error.empty(), "a refusal says why, an acceptance says nothing");
    if (!ok) {
        Require(error.rfind("fuzz.json: ", 0) == 0, "a refusal names the file");
        Require(error.find('\n') == std::string::npos, "a refusal is one line");
        Require(devices.size() == 1 && devices[0].name.empty(), "a refusal changes nothing");
        return 0;
    }
    for (std::size_t i = 0; i < devices.size() && i < 8; ++i) {
        const virt::VirtualDeviceConfig& config = devices[i];
        if (!config.descriptor.empty()) {
            std::string parseError;
            Require(!zelk::hid::ParseReportDescriptor(config.descriptor.data(),
                                                      config.descriptor.size(), parseError)
                         .empty(),
                    "an accepted descriptor parses");
        }
        const std::u16string path = virt::VirtualDevicePath(config, i);
        Require(zelk::hid::MatchInterfacePath(path, config.vendorId, config.productId),
                "a device's path fits its own identity");
        Require(zelk::hid::MatchInterfacePath(virt::VirtualDevicePath(config, i, 0xFFFF),
                                              config.vendorId, config.productId),
                "a device back under a new node still fits its identity");
        Require(config.serial.size() <= 126, "a serial fits a string descriptor");
        const virt::VirtualDevice device(config, path);
        std::string builtError;
        Require(!zelk::hid::ParseReportDescriptor(device.DescriptorBytes().data(),
                                                  device.DescriptorBytes().size(), builtError)
                     .empty(),
                "every accepted device presents a descriptor that parses");
    }
    return 0;
}
