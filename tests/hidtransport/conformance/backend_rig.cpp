#include "tests/hidtransport/conformance/backend_rig.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <thread>

#include "hidtransport/linux/hidraw_backend.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "tools/linux/uhid_device.h"

namespace zelk::hid::conformance {
namespace {

class VirtualRig final : public BackendRig {
  public:
    explicit VirtualRig(std::vector<virt::VirtualDeviceConfig> devices)
        : configs_(devices), backend_(std::move(devices)) {}

    HidBackend& Backend() override { return backend_; }
    std::vector<std::u16string> PathsOf(std::size_t index) override {
        const std::u16string own = virt::VirtualDevicePath(configs_.at(index), index);
        std::vector<std::u16string> all;
        backend_.ListInterfaces(all);
        std::vector<std::u16string> found;
        std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                     [&](const std::u16string& path) { return path == own; });
        return found;
    }
    void Unplug(std::size_t index) override { backend_.Device(index).Unplug(); }
    void SendInput(std::size_t index, const std::vector<std::uint8_t>& report) override {
        backend_.Device(index).InjectInputReport(report);
    }
    virt::VirtualDevice& Model(std::size_t index) override { return backend_.Device(index); }
    std::u16string MissingPath() const override {
        return u"\\\\?\\HID#VID_320F&PID_5055#virtual&99&0000#{4d1e55b2-f16f-11cf-88cb-"
               u"001111000030}";
    }
    bool PresentsEveryCollection() const override { return false; }
    const char* Name() const override { return "virtual"; }

  private:
    std::vector<virt::VirtualDeviceConfig> configs_;
    virt::VirtualHidBackend backend_;
};

class HidrawRig final : public BackendRig {
  public:
    bool Start(std::vector<virt::VirtualDeviceConfig> devices, std::string& error) {
        static int run = 0;
        ++run;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const std::string tag = "conformance-" + std::to_string(run) + "-" + std::to_string(i);
            auto device = uhid::UhidDevice::Create(std::move(devices[i]), tag, error);
            if (!device) {
                return false;
            }
            devices_.push_back(std::move(device));
        }
        for (const auto& device : devices_) {
            nodes_.push_back(device->WaitForNode(std::chrono::seconds(5)));
            if (nodes_.back().empty()) {
                error = "no hidraw node for " + device->Phys();
                return false;
            }
        }
        return true;
    }

    HidBackend& Backend() override { return backend_; }
    std::vector<std::u16string> PathsOf(std::size_t index) override {
        const std::string prefix = nodes_.at(index) + "#";
        std::vector<std::u16string> all;
        backend_.ListInterfaces(all);
        std::vector<std::u16string> own;
        for (const std::u16string& path : all) {
            if (path.starts_with(std::u16string(prefix.begin(), prefix.end()))) {
                own.push_back(path);
            }
        }
        return own;
    }
    void Unplug(std::size_t index) override { devices_.at(index)->Destroy(); }
    void SendInput(std::size_t index, const std::vector<std::uint8_t>& report) override {
        devices_.at(index)->SendInput(report);
    }
    virt::VirtualDevice& Model(std::size_t index) override { return devices_.at(index)->Model(); }
    std::u16string MissingPath() const override {
        return u"/dev/hidraw999#VID_320F&PID_5055&MI_02#0003:320F:5055.7777";
    }
    bool PresentsEveryCollection() const override { return true; }
    const char* Name() const override { return "hidraw"; }

  private:
    std::vector<std::unique_ptr<uhid::UhidDevice>> devices_;
    std::vector<std::string> nodes_;
    hidraw::HidrawBackend backend_;
};

}  // namespace

std::unique_ptr<BackendRig> MakeRig(std::vector<virt::VirtualDeviceConfig> devices,
                                    std::string& error) {
    const char* chosen = std::getenv("ZELK_CONFORMANCE_BACKEND");
    if (chosen == nullptr || std::string_view(chosen).empty() ||
        std::string_view(chosen) == "virtual") {
        return std::make_unique<VirtualRig>(std::move(devices));
    }
    if (std::string_view(chosen) == "hidraw") {
        auto rig = std::make_unique<HidrawRig>();
        if (!rig->Start(std::move(devices), error)) {
            return nullptr;
        }
        return rig;
    }
    error = std::string("unknown ZELK_CONFORMANCE_BACKEND ") + chosen;
    return nullptr;
}

}  // namespace zelk::hid::conformance
