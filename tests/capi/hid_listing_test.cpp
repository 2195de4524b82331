// The records of the exported HID listing calls: what each interface's record
// holds, which result the listing gives, and how paths are cut.
#include "capi/hid_listing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tests/hidtransport/virtual_test_support.h"

namespace zelk::capi {
namespace {

using hid::GetAllDeviceNumber;
using hid::InterfacePathList;
using hid::testing::EarbudWith;
using hid::virt::VirtualDeviceConfig;
using hid::virt::VirtualHidBackend;

// A vendor collection with 300 one-byte input values under report ID 1: more
// capability records than a report-ID list holds.
std::vector<std::uint8_t> ManyValuesDescriptor() {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x01,
                                   0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01};
    for (int usage = 1; usage <= 300; ++usage) {
        d.insert(d.end(), {0x0A, static_cast<std::uint8_t>(usage),
                           static_cast<std::uint8_t>(usage >> 8), 0x81, 0x02});
    }
    d.push_back(0xC0);
    return d;
}

// A vendor collection with a single feature value: no input or output reports.
std::vector<std::uint8_t> FeatureOnlyDescriptor() {
    return {0x06, 0x0B, 0xFF, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x05, 0x09, 0x62, 0x15,
            0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x10, 0xB1, 0x02, 0xC0};
}

TEST(DeviceInfo, AllDeviceInfoDescribesEveryInterface) {
    VirtualDeviceConfig cannotOpen = EarbudWith(0x226B);
    cannotOpen.behaviour.faults.open = true;
    VirtualDeviceConfig otherVendor = EarbudWith(0x226B);
    otherVendor.vendorId = 0x1234;
    // The same six kinds of interface as the discovery tests: the earbud,
    // three that match other criteria or not, one that cannot be opened, one
    // of another vendor.
    VirtualDeviceConfig otherPage = EarbudWith(0x226B);
    otherPage.usagePage = 0xFF0C;
    VirtualDeviceConfig noVersion = EarbudWith(0x226B);
    noVersion.version.usage = 0x63;
    VirtualHidBackend backend{
        {EarbudWith(0x5055), EarbudWith(0x226B), otherPage, noVersion, cannotOpen, otherVendor}};
    InterfacePathList list;
    ASSERT_EQ(GetAllDeviceNumber(backend, list), 6);
    std::vector<HIDDeviceInfo> records(list.size());
    std::memset(records.data(), 0xAB, records.size() * sizeof(HIDDeviceInfo));
    // The last interface opens, so the result is 0 although interface 4 does not.
    EXPECT_EQ(GetAllDeviceInfo(backend, list, list.size(), records.data()), 0);

    const HIDDeviceInfo& earbud = records[0];
    EXPECT_EQ(std::u16string(earbud.Path), backend.Device(0).Path());
    EXPECT_EQ(+earbud.Usage, 0x0104);
    EXPECT_EQ(+earbud.UsagePage, 0xFF0B);
    EXPECT_EQ(+earbud.InputReportByteLength, 17);
    EXPECT_EQ(+earbud.OutputReportByteLength, 61);
    EXPECT_EQ(+earbud.FeatureReportByteLength, 61);
    ASSERT_EQ(+earbud.ReportListCount, 3);
    // Feature values, then input values, then output values; no buttons.
    EXPECT_EQ(+earbud.ReportLists[0].ReportType, 2);
    EXPECT_EQ(+earbud.ReportLists[0].Count, 1);
    EXPECT_EQ(+earbud.ReportLists[0].ReportIds[0], 0x20);
    EXPECT_EQ(+earbud.ReportLists[1].ReportType, 0);
    EXPECT_EQ(+earbud.ReportLists[1].Count, 2);
    EXPECT_EQ(+earbud.ReportLists[2].ReportType, 1);
    EXPECT_EQ(+earbud.ReportLists[2].Count, 2);
    // Entries past the filled ones stay zero.
    EXPECT_EQ(+earbud.ReportLists[3].Count, 0);

    // The interface that cannot be opened is described by its path alone.
    const HIDDeviceInfo& closed = records[4];
    EXPECT_EQ(std::u16string(closed.Path), backend.Device(4).Path());
    EXPECT_EQ(+closed.UsagePage, 0);
    EXPECT_EQ(+closed.ReportListCount, 0);
}

TEST(DeviceInfo, ResultIsThatOfTheLastInterface) {
    VirtualDeviceConfig cannotOpen = EarbudWith(0x226B);
    cannotOpen.behaviour.faults.descriptor = true;
    VirtualHidBackend backend{{EarbudWith(0x5055), cannotOpen}};
    InterfacePathList list;
    ASSERT_EQ(GetAllDeviceNumber(backend, list), 2);
    std::vector<HIDDeviceInfo> records(2);
    EXPECT_EQ(GetAllDeviceInfo(backend, list, list.size(), records.data()), 1);
    EXPECT_EQ(+records[0].ReportListCount, 3);

    InterfacePathList empty;
    EXPECT_EQ(GetAllDeviceInfo(backend, empty, 0, nullptr), 0);
}

TEST(DeviceInfo, FeatureValuesOnlyGiveOneEntry) {
    VirtualDeviceConfig config = EarbudWith(0x226B);
    config.descriptor = FeatureOnlyDescriptor();
    VirtualHidBackend backend{{config}};
    InterfacePathList list;
    ASSERT_EQ(GetAllDeviceNumber(backend, list), 1);
    HIDDeviceInfo record;
    EXPECT_EQ(GetAllDeviceInfo(backend, list, 1, &record), 0);
    EXPECT_EQ(+record.ReportListCount, 1);
    EXPECT_EQ(+record.ReportLists[0].ReportType, 2);
    EXPECT_EQ(+record.ReportLists[0].Count, 1);
    EXPECT_EQ(+record.ReportLists[0].ReportIds[0], 5);
    EXPECT_EQ(+record.FeatureReportByteLength, 17);
    EXPECT_EQ(+record.InputReportByteLength, 0);
}

TEST(DeviceInfo, MoreThan255RecordsKeepTheFullCountAndTheFirst255Ids) {
    VirtualDeviceConfig config = EarbudWith(0x226B);
    config.descriptor = ManyValuesDescriptor();
    VirtualHidBackend backend{{config}};
    InterfacePathList list;
    ASSERT_EQ(GetAllDeviceNumber(backend, list), 1);
    auto record = std::make_unique<HIDDeviceInfo>();
    EXPECT_EQ(GetAllDeviceInfo(backend, list, 1, record.get()), 0);
    ASSERT_EQ(+record->ReportListCount, 1);
    EXPECT_EQ(+record->ReportLists[0].ReportType, 0);
    EXPECT_EQ(+record->ReportLists[0].Count, 300);
    EXPECT_EQ(+record->ReportLists[0].ReportIds[254], 1);
}

TEST(DeviceInfo, LongPathsAreCutAndTerminated) {
    HIDDeviceInfo record;
    std::memset(&record, 0xAB, sizeof record);
    const std::u16string longPath(300, u'p');
    CopyPathToRecord(longPath, record);
    EXPECT_EQ(std::u16string(record.Path), longPath.substr(0, 259));
    EXPECT_EQ(+record.Usage, 0xABAB);  // nothing written past Path

    CopyPathToRecord(longPath.substr(0, 259), record);
    EXPECT_EQ(std::u16string(record.Path).size(), 259u);
}

}  // namespace
}  // namespace zelk::capi
