// The records behind HIDGetAllDeviceInfo: one present HID interface, its
// top-level caps and its report-ID lists, written into the caller's records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "hidtransport/device_discovery.h"
#include "zelk/hid_records.h"

namespace zelk::capi {

// Writes the caps and the report-ID lists of one interface into `record`
// (whose Path is left alone). 0 on success, 1 when a capability query failed.
int FillDeviceInfo(const hid::HidDescriptor& descriptor, const hid::HidCaps& caps,
                   HIDDeviceInfo& record);

// The body of the exported HIDGetAllDeviceInfo, on an explicit backend and
// list. `room` is the number of records the caller was told to make room for
// (the count HIDGetAllDeviceNumber last returned): at most that many are
// written, the first ones of `list`; records past a shorter list are zeroed.
// 1 when `list` holds more interfaces than `room`, else whether the last
// interface written could not be opened or described.
std::uint8_t GetAllDeviceInfo(hid::HidBackend& backend, const hid::InterfacePathList& list,
                              std::size_t room, HIDDeviceInfo* records);

// Copies `path` into a record's Path, cut to 259 characters and always
// NUL-terminated.
void CopyPathToRecord(std::u16string_view path, HIDDeviceInfo& record);

}  // namespace zelk::capi
