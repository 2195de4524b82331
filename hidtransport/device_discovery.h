// Finding HID interfaces: the list of every present interface, the matching
// step that keeps the ones fitting a configuration, and the descriptions that
// the two exported calls hand to other programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hid_platform.h"
#include "zelk/hid_records.h"

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

// Writes the caps and the report-ID lists of one interface into `record`
// (whose Path is left alone). 0 on success, 1 when a capability query failed.
int FillDeviceInfo(const HidDescriptor& descriptor, const HidCaps& caps, HIDDeviceInfo& record);

// The bodies of the exported HIDGetAllDeviceNumber and HIDGetAllDeviceInfo,
// on an explicit backend and list. `room` is the number of records the caller
// was told to make room for (the count GetAllDeviceNumber last returned): at
// most that many are written, the first ones of `list`; records past a shorter
// list are zeroed. 1 when `list` holds more interfaces than `room`.
std::int64_t GetAllDeviceNumber(HidBackend& backend, InterfacePathList& list);
std::uint8_t GetAllDeviceInfo(HidBackend& backend, const InterfacePathList& list, std::size_t room,
                              HIDDeviceInfo* records);

// Copies `path` into a record's Path, cut to 259 characters and always
// NUL-terminated.
void CopyPathToRecord(std::u16string_view path, HIDDeviceInfo& record);

}  // namespace zelk::hid
