#include "capi/hid_listing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelk::capi {
namespace {

using hid::HidCapability;
using hid::HidCaps;
using hid::HidDescriptor;
using hid::HidReportType;
using hid::HidStatus;

struct CapabilityKind {
    HidReportType type;
    bool buttons;
    std::uint16_t HidCaps::*count;
};

// The order in which the report-ID lists are filled.
constexpr CapabilityKind kKinds[] = {
    {HidReportType::Feature, false, &HidCaps::NumberFeatureValueCaps},
    {HidReportType::Input, false, &HidCaps::NumberInputValueCaps},
    {HidReportType::Output, false, &HidCaps::NumberOutputValueCaps},
    {HidReportType::Feature, true, &HidCaps::NumberFeatureButtonCaps},
    {HidReportType::Input, true, &HidCaps::NumberInputButtonCaps},
    {HidReportType::Output, true, &HidCaps::NumberOutputButtonCaps},
};

void WriteReportIdList(HidReportType type, const std::vector<HidCapability>& records,
                       HIDReportIdList& entry) {
    entry.ReportType = static_cast<std::int32_t>(type);
    // Count keeps the full number (up to what 16 bits hold); ReportIds holds the first 255.
    entry.Count = static_cast<std::uint16_t>(std::min<std::size_t>(records.size(), 0xFFFF));
    const std::size_t stored = std::min<std::size_t>(records.size(), sizeof entry.ReportIds);
    for (std::size_t i = 0; i < stored; ++i) {
        entry.ReportIds[i] = records[i].ReportId;
    }
}

}  // namespace

void CopyPathToRecord(std::u16string_view path, HIDDeviceInfo& record) {
    constexpr std::size_t kCapacity = sizeof record.Path / sizeof record.Path[0];
    const std::size_t length = std::min(path.size(), kCapacity - 1);
    std::copy_n(path.data(), length, record.Path);
    record.Path[length] = u'\0';
}

int FillDeviceInfo(const HidDescriptor& descriptor, const HidCaps& caps, HIDDeviceInfo& record) {
    record.Usage = caps.Usage;
    record.UsagePage = caps.UsagePage;
    record.InputReportByteLength = caps.InputReportByteLength;
    record.OutputReportByteLength = caps.OutputReportByteLength;
    record.FeatureReportByteLength = caps.FeatureReportByteLength;

    std::uint16_t written = 0;
    std::vector<HidCapability> records;
    for (const CapabilityKind& kind : kKinds) {
        if (caps.*kind.count == 0) {
            continue;
        }
        const HidStatus status = kind.buttons ? descriptor.GetButtonCaps(kind.type, records)
                                              : descriptor.GetValueCaps(kind.type, records);
        if (status < 0) {
            std::printf("%s, HIDP_REPORT_TYPE: %d, status: %d\n",
                        kind.buttons ? "HidP_GetButtonCaps" : "HidP_GetValueCaps",
                        static_cast<int>(kind.type), static_cast<int>(status));
            return 1;
        }
        WriteReportIdList(kind.type, records, record.ReportLists[written]);
        ++written;
    }
    record.ReportListCount = written;
    return 0;
}

std::uint8_t GetAllDeviceInfo(hid::HidBackend& backend, const hid::InterfacePathList& list,
                              std::size_t room, HIDDeviceInfo* records) {
    if (records == nullptr) {
        return list.empty() ? 0 : 1;
    }
    // The caller made room for the count it was last given; the shared list may
    // have grown since (a device plugged in, another listing call), and nothing
    // may be written past that room.
    const std::size_t described = std::min(list.size(), room);
    std::uint8_t result = 0;
    for (std::size_t i = 0; i < described; ++i) {
        HIDDeviceInfo& record = records[i];
        std::memset(&record, 0, sizeof record);
        CopyPathToRecord(list[i], record);
        std::unique_ptr<HidDescriptor> descriptor;
        HidCaps caps;
        result =
            static_cast<std::uint8_t>(hid::QueryInterfaceCaps(backend, list[i], descriptor, caps));
        if (result == 0) {
            FillDeviceInfo(*descriptor, caps, record);
        }
    }
    // Records the shrunken list no longer fills read as empty (no path), not as
    // stale interfaces.
    for (std::size_t i = described; i < room; ++i) {
        std::memset(&records[i], 0, sizeof records[i]);
    }
    // Interfaces left out for want of room: the caller must list again.
    return list.size() > room ? 1 : result;
}

}  // namespace zelk::capi
