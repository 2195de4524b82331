#include "hidtransport/hid_backend_factory.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>

#include "hidtransport/hid_platform.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"

namespace zelk::hid {
namespace {

constexpr const char* kVirtualDevicesVariable = "ZELK_VIRTUAL_DEVICES";

struct BackendChoice {
    std::mutex mutex;
    std::unique_ptr<HidBackend> backend;
    std::string loadError;
};

// Built on first use, so that choosing a backend from another static's
// constructor still works; never destroyed, so that no late user finds it gone.
BackendChoice& Choice() {
    static BackendChoice* const choice = new BackendChoice;
    return *choice;
}

// A broken device file gives an empty virtual backend: silently switching to
// real hardware would be worse than finding nothing.
std::unique_ptr<HidBackend> BackendFromEnvironment(std::string& loadError) {
    const char* source = std::getenv(kVirtualDevicesVariable);
    if (source == nullptr || *source == '\0') {
        return CreatePlatformHidBackend();
    }
    std::vector<virt::VirtualDeviceConfig> devices;
    std::string error;
    if (!virt::LoadVirtualDevices(source, devices, error)) {
        loadError = std::string(kVirtualDevicesVariable) + ": " + error;
        std::fprintf(stderr, "%s\n", loadError.c_str());
        devices.clear();
    }
    return std::make_unique<virt::VirtualHidBackend>(std::move(devices));
}

}  // namespace

HidBackend& ActiveHidBackend() {
    BackendChoice& choice = Choice();
    std::lock_guard lock(choice.mutex);
    if (!choice.backend) {
        choice.backend = BackendFromEnvironment(choice.loadError);
    }
    return *choice.backend;
}

bool SelectVirtualHidBackend(std::string_view source, std::string& error) {
    BackendChoice& choice = Choice();
    std::lock_guard lock(choice.mutex);
    if (choice.backend) {
        error = "the HID backend was already chosen";
        return false;
    }
    std::vector<virt::VirtualDeviceConfig> devices;
    if (!virt::LoadVirtualDevices(source, devices, error)) {
        return false;
    }
    choice.backend = std::make_unique<virt::VirtualHidBackend>(std::move(devices));
    return true;
}

std::string ActiveHidAccessProblem() {
    BackendChoice& choice = Choice();
    std::lock_guard lock(choice.mutex);
    return choice.backend ? choice.backend->AccessProblem() : std::string();
}

std::string VirtualBackendLoadError() {
    BackendChoice& choice = Choice();
    std::lock_guard lock(choice.mutex);
    return choice.loadError;
}

}  // namespace zelk::hid
