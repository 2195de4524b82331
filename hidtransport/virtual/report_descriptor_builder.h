// Builds the HID report descriptor a virtual device presents, from its report
// layout: one application collection on the device's usage page, one 8-bit
// array of `size` bytes per report.
#pragma once

#include <cstdint>
#include <vector>

#include "hidtransport/virtual/virtual_device.h"

namespace zelk::hid::virt {

std::vector<std::uint8_t> BuildReportDescriptor(const VirtualDeviceConfig& config);

}  // namespace zelk::hid::virt
