// Virtual devices described in a JSON file (format: docs/virtual-devices.md),
// and the built-in earbud.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hidtransport/virtual/virtual_device.h"

namespace zelk::hid::virt {

// A CFU earbud with one component, as found on the shelf: VID 0x320F, PID
// 0x5055, interface 2, usage page 0xFF0B, usage 0x0104.
VirtualDeviceConfig DefaultEarbud();

// Loads the devices of `source`: "default" for DefaultEarbud, otherwise the
// path of a device file. On failure `error` holds one line naming the source,
// the place in the file and the problem, e.g.
// "/tmp/x.json: devices[0].vendorId: expected a 16-bit number".
bool LoadVirtualDevices(std::string_view source, std::vector<VirtualDeviceConfig>& devices,
                        std::string& error);

// The same for JSON text; `origin` names it in messages.
bool ParseVirtualDevices(std::string_view text, std::string_view origin,
                         std::vector<VirtualDeviceConfig>& devices, std::string& error);

}  // namespace zelk::hid::virt
