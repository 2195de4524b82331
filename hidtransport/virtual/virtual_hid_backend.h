// A HID backend whose interfaces are virtual devices: what the program sees when
// ZELK_VIRTUAL_DEVICES is set, and what every test runs on.
#pragma once

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "hidtransport/hid_platform.h"
#include "hidtransport/virtual/virtual_device.h"

namespace zelk::hid::virt {

class VirtualHidBackend final : public HidBackend {
  public:
    explicit VirtualHidBackend(std::vector<VirtualDeviceConfig> devices);

    std::size_t DeviceCount() const { return devices_.size(); }
    VirtualDevice& Device(std::size_t index) { return *devices_.at(index); }
    // The next ListInterfaces fails with `code` (1, 2 or 3) and lists nothing.
    void FailNextList(int code);

    int ListInterfaces(std::vector<std::u16string>& paths) override;
    HidHandle Open(std::u16string_view path, HidOpenMode mode) override;
    bool Close(HidHandle handle) override;
    std::unique_ptr<HidDescriptor> GetDescriptor(HidHandle handle) override;
    bool DescribeUnopened(std::u16string_view path, HidCaps& caps) override;
    // The device file's `serial`; readable also where opening is refused.
    bool SerialNumber(std::u16string_view path, std::u16string& serial) override;
    bool SetOutputReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool SetFeature(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
    bool GetFeature(HidHandle handle, std::uint8_t* buffer, std::size_t length) override;
    HidReadResult ReadInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity,
                            std::size_t& received, std::uint32_t timeoutMs) override;
    void InterruptRead(HidHandle handle) override;
    // Wakes on every change of presence: a test's Unplug or Plug, a scripted
    // unplug, a restart and return, the device file's schedule. A scheduled
    // change is made to happen by the watch at its time, so the watch never
    // sleeps past one. Mechanism: "virtual device schedule".
    std::unique_ptr<HidChangeWatch> WatchInterfaces() override;
    // Virtual devices live in one process, so the lock is a per-device flag
    // owned by one open I/O handle; it keeps threads and library instances of
    // this process apart, not processes.
    HidLockResult LockForUpdate(HidHandle handle) override;
    void UnlockForUpdate(HidHandle handle) override;

  private:
    struct OpenInterface {
        VirtualDevice* device = nullptr;
        HidOpenMode mode = HidOpenMode::Query;
        std::uint64_t session = 0;
    };

    // The interface behind `handle`, if the handle is open.
    bool Find(HidHandle handle, OpenInterface& out) const;

    class ChangeWatch;

    // Before the devices, which tell it of their changes until they go.
    PresenceBoard board_;
    // Devices live as long as the backend, so an open interface may point at one
    // without holding the lock.
    const std::vector<std::unique_ptr<VirtualDevice>> devices_;
    mutable std::shared_mutex mutex_;
    std::unordered_map<HidHandle, OpenInterface> handles_;
    HidHandle nextHandle_ = 0x1000;
    int failNextList_ = 0;
    // Device -> the handle that holds its update lock.
    std::unordered_map<const VirtualDevice*, HidHandle> updateLocks_;
};

}  // namespace zelk::hid::virt
