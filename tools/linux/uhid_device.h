// A virtual device served to the kernel through /dev/uhid: the kernel sees a
// real HID device (hid-generic binds it and makes a hidraw node), and every
// report the host sends is answered by the same device model the virtual
// backend uses. Used by the zelk-uhid-device program and by the conformance
// tests that run the hidraw backend in a guest kernel.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hidtransport/virtual/virtual_device.h"

namespace zelk::uhid {

class UhidDevice {
  public:
    // Empty when `config` can be served, else why not, naming the key under
    // `where` ("devices[2]"). A kernel device lives from its creation to its
    // destruction and the kernel numbers its nodes itself, so a device that
    // comes and goes by a schedule or returns under a new node is refused
    // rather than served as something else.
    static std::string Unservable(const hid::virt::VirtualDeviceConfig& config,
                                  const std::string& where);

    // Creates the kernel device for `config`. `tag` makes its physical path
    // unique ("zelk-uhid-<tag>", with "/input<N>" for an interface number, so
    // that the hidraw backend reports the number). Null with `error` set when
    // /dev/uhid cannot be used.
    static std::unique_ptr<UhidDevice> Create(hid::virt::VirtualDeviceConfig config,
                                              const std::string& tag, std::string& error);
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Waits until the kernel has made the hidraw node; its path ("/dev/hidraw3"),
    // or empty after `limit`.
    std::string WaitForNode(std::chrono::milliseconds limit) const;

    // Removes the device from the kernel now, as pulling the plug does. The model
    // unplugs too. Also happens by itself when the model unplugs (a content rule).
    void Destroy();
    bool Destroyed() const { return destroyed_; }

    // Sends an input report as the device would; `report` starts with the
    // report ID, which is left out on the wire when the device has no IDs.
    bool SendInput(const std::vector<std::uint8_t>& report);

    hid::virt::VirtualDevice& Model() { return *model_; }
    const std::string& Phys() const { return phys_; }
    bool UsesReportIds() const { return numbered_; }
    // Output reports the kernel handed over, as they came (for tests).
    std::vector<std::vector<std::uint8_t>> RawOutputs() const;

  private:
    UhidDevice() = default;
    void EventLoop();
    void InputLoop();
    bool WriteEvent(const void* event, std::size_t size);

    int fd_ = -1;
    std::unique_ptr<hid::virt::VirtualDevice> model_;
    std::uint64_t session_ = 0;
    std::string phys_;
    bool numbered_ = true;
    std::size_t featureLength_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> destroyed_{false};
    std::mutex writeMutex_;
    mutable std::mutex outputsMutex_;
    std::vector<std::vector<std::uint8_t>> outputs_;
    std::thread events_;
    std::thread input_;
};

}  // namespace zelk::uhid
