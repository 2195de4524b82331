// Turns a raw HID report descriptor into Windows-style capabilities, the way
// the Windows HID parser presents them: one set per top-level collection, report
// lengths that count the report-ID byte and round up to whole bytes. Used by the
// hidraw backend (fed the bytes of HIDIOCGRDESC) and by the virtual devices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hidtransport/hid_platform.h"

namespace zelk::hid {

// The capabilities of one top-level collection.
class ParsedCollection final : public HidDescriptor {
  public:
    HidCaps caps;
    // Indexed by HidReportType (0 input, 1 output, 2 feature).
    std::vector<HidCapability> valueCaps[3];
    std::vector<HidCapability> buttonCaps[3];
    // Report IDs used by this collection per report type, in order of first use.
    std::vector<std::uint8_t> reportIds[3];

    HidStatus GetCaps(HidCaps& out) const override;
    HidStatus GetValueCaps(HidReportType type, std::vector<HidCapability>& out) const override;
    HidStatus GetButtonCaps(HidReportType type, std::vector<HidCapability>& out) const override;
    HidStatus GetSpecificValueCaps(HidReportType type, std::uint16_t usagePage,
                                   std::uint16_t linkCollection, std::uint16_t usage,
                                   std::vector<HidCapability>& out) const override;
};

// Parses `size` bytes of a report descriptor. Returns every top-level
// collection in order, or an empty list with a message in `error` (naming the
// byte offset) when the descriptor is malformed. Never reads past `size`.
std::vector<ParsedCollection> ParseReportDescriptor(const std::uint8_t* data, std::size_t size,
                                                    std::string& error);

}  // namespace zelk::hid
