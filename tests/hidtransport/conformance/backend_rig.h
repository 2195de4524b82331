// The devices a conformance test runs against, behind whichever backend the
// run chose: the virtual backend (the default, on every machine) or, with
// ZELK_CONFORMANCE_BACKEND=hidraw, the hidraw backend talking to the same
// device models served as kernel devices through /dev/uhid.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hidtransport/hid_platform.h"
#include "hidtransport/virtual/virtual_device.h"

namespace zelk::hid::conformance {

class BackendRig {
  public:
    virtual ~BackendRig() = default;
    virtual HidBackend& Backend() = 0;
    // The listed interface paths of device `index`, one per collection, in
    // listing order.
    virtual std::vector<std::u16string> PathsOf(std::size_t index) = 0;
    // Pulls the plug of device `index`.
    virtual void Unplug(std::size_t index) = 0;
    // The device sends `report` (report ID first, 0 for a device without IDs).
    virtual void SendInput(std::size_t index, const std::vector<std::uint8_t>& report) = 0;
    virtual virt::VirtualDevice& Model(std::size_t index) = 0;
    // A path in this backend's format that names no present interface.
    virtual std::u16string MissingPath() const = 0;
    // False where the backend shows only a device's first top-level collection.
    virtual bool PresentsEveryCollection() const = 0;
    virtual const char* Name() const = 0;
};

// The rig of this run, with `devices` present; null with `error` set when the
// chosen backend cannot run here.
std::unique_ptr<BackendRig> MakeRig(std::vector<virt::VirtualDeviceConfig> devices,
                                    std::string& error);

}  // namespace zelk::hid::conformance
