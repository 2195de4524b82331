// Finding HID interfaces: the list of every present interface, the matching
// step that keeps the ones fitting a configuration, and the capabilities of
// one interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hidtransport/hid_platform.h"

namespace zelk::hid {

// Interface paths exactly as the system returned them, in its order.
using InterfacePathList = std::vector<std::u16string>;

// What the matching step reads from the library configuration.
struct MatchCriteria {
    std::uint16_t VendorId = 0;
    std::uint16_t ProductId = 0;
    std::uint16_t UsagePage = 0;
    std::uint16_t Usage = 0;
    bool CapsFilterArmed = false;
    bool RequireVersionCapsAtMatch = false;
    std::uint16_t VersionUsage = 0;
    std::uint32_t VersionReportType = 0;
};

// Fills `list` with every present HID interface. 0 on success; 1 size query
// failed, 2 out of memory, 3 list query failed (the list is then empty).
int EnumHidInterfaces(HidBackend& backend, InterfacePathList& list);

// Rebuilds `list` from the interfaces that fit `criteria` and returns how many
// were kept. When the system's list cannot be read, returns that failure code
// (1, 2 or 3) and leaves `list` as it was.
int MatchDevices(HidBackend& backend, const MatchCriteria& criteria, InterfacePathList& list);

// The interfaces that MatchDevices leaves out only because they cannot be
// opened or described (no permission, a node that refuses queries): their path
// carries the vendor and product of `criteria`, and their collection, where it
// can be read without opening (DescribeUnopened), has the wanted usage page and
// usage; where it cannot be read, the path alone makes them candidates. A
// caller that works on every match reports these instead of passing them over.
// Empty when the system's list cannot be read.
InterfacePathList UnopenableMatches(HidBackend& backend, const MatchCriteria& criteria);

// True when `path` carries the vendor (and, when both are non-zero, the
// product) identifier in one of the accepted spellings. The whole path must
// match, case-insensitively; a path with a blank never fits.
bool MatchInterfacePath(std::u16string_view path, std::uint16_t vendorId, std::uint16_t productId);

// Opens `path` for a query and reads its report structure and top-level caps.
// 0 on success, 1 on failure. `descriptor` may be set even on failure; it
// belongs to the caller either way.
int QueryInterfaceCaps(HidBackend& backend, std::u16string_view path,
                       std::unique_ptr<HidDescriptor>& descriptor, HidCaps& caps);

// Lists every present interface into `list` and returns how many, or 0 when
// the system's list could not be read (the list is then empty).
std::int64_t GetAllDeviceNumber(HidBackend& backend, InterfacePathList& list);

}  // namespace zelk::hid
