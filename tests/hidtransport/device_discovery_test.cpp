#include "device_discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "virtual_test_support.h"

namespace zelk::hid {
namespace {

using testing::EarbudWith;
using virt::VirtualDeviceConfig;
using virt::VirtualHidBackend;

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

class DiscoveryTest : public ::testing::Test {
  protected:
    static std::vector<VirtualDeviceConfig> Devices() {
        VirtualDeviceConfig otherPage = EarbudWith(0x226B);
        otherPage.usagePage = 0xFF0C;
        VirtualDeviceConfig noVersion = EarbudWith(0x226B);
        noVersion.version.usage = 0x63;  // the version report carries another usage
        VirtualDeviceConfig cannotOpen = EarbudWith(0x226B);
        cannotOpen.behaviour.faults.open = true;
        VirtualDeviceConfig otherVendor = EarbudWith(0x226B);
        otherVendor.vendorId = 0x1234;
        return {
            EarbudWith(0x5055),  // 0
            EarbudWith(0x226B),  // 1
            otherPage,           // 2
            noVersion,           // 3
            cannotOpen,          // 4
            otherVendor,         // 5
        };
    }

    std::vector<std::size_t> Kept(const InterfacePathList& list) {
        std::vector<std::size_t> indices;
        for (const auto& path : list) {
            for (std::size_t i = 0; i < backend.DeviceCount(); ++i) {
                if (backend.Device(i).Path() == path) {
                    indices.push_back(i);
                }
            }
        }
        return indices;
    }

    VirtualHidBackend backend{Devices()};
};

TEST_F(DiscoveryTest, MatchDevicesKeepsTheInterfacesThatFit) {
    struct Case {
        const char* name;
        MatchCriteria criteria;
        std::vector<std::size_t> kept;
    };
    const MatchCriteria base{0x320F, 0x226B, 0xFF0B, 0x0104, false, true, 0x62, 2};
    MatchCriteria armed = base;
    armed.CapsFilterArmed = true;
    MatchCriteria armedNotRequired = armed;
    armedNotRequired.RequireVersionCapsAtMatch = false;
    MatchCriteria anyProduct = base;
    anyProduct.ProductId = 0;
    MatchCriteria otherUsage = base;
    otherUsage.Usage = 0x0105;
    MatchCriteria versionAsInput = armed;
    versionAsInput.VersionReportType = 0;
    const Case cases[] = {
        {"filter disarmed: version caps not needed", base, {1, 3}},
        {"filter armed and required", armed, {1}},
        {"filter armed but not required", armedNotRequired, {1, 3}},
        {"product 0 matches any product", anyProduct, {0, 1, 3}},
        {"usage differs", otherUsage, {}},
        {"version looked up under the configured report type", versionAsInput, {}},
    };
    for (const Case& c : cases) {
        InterfacePathList list;
        EXPECT_EQ(MatchDevices(backend, c.criteria, list), static_cast<int>(c.kept.size()))
            << c.name;
        EXPECT_EQ(Kept(list), c.kept) << c.name;
    }
}

// An interface of the wanted device that may not be opened is still one of
// its interfaces: a caller that updates every match must hear of it.
TEST(UnopenableMatches, AMatchThatCannotBeOpenedIsACandidateNotAnOmission) {
    VirtualDeviceConfig locked = EarbudWith(0x226B);
    locked.behaviour.faults.open = true;
    VirtualDeviceConfig lockedUndescribed = locked;
    lockedUndescribed.behaviour.faults.descriptor = true;
    VirtualDeviceConfig lockedOtherCollection = locked;
    lockedOtherCollection.usagePage = 0xFF0C;
    VirtualDeviceConfig lockedOtherProduct = EarbudWith(0x5055);
    lockedOtherProduct.behaviour.faults.open = true;
    VirtualHidBackend backend({
        EarbudWith(0x226B),     // 0 opens: MatchDevices keeps it
        locked,                 // 1 its collection read unopened fits
        lockedUndescribed,      // 2 nothing readable: the path decides
        lockedOtherCollection,  // 3 another collection of the product
        lockedOtherProduct,     // 4 another product
    });
    const MatchCriteria criteria{0x320F, 0x226B, 0xFF0B, 0x0104, false, true, 0x62, 2};
    InterfacePathList matched;
    EXPECT_EQ(MatchDevices(backend, criteria, matched), 1);
    const InterfacePathList unopenable = UnopenableMatches(backend, criteria);
    EXPECT_EQ(unopenable, (InterfacePathList{backend.Device(1).Path(), backend.Device(2).Path()}));
    backend.FailNextList(3);
    EXPECT_TRUE(UnopenableMatches(backend, criteria).empty());
}

TEST_F(DiscoveryTest, AFailedListQueryKeepsThePreviousResult) {
    const MatchCriteria criteria{0x320F, 0x226B, 0xFF0B, 0x0104, false, true, 0x62, 2};
    InterfacePathList list;
    ASSERT_EQ(MatchDevices(backend, criteria, list), 2);
    for (int code : {1, 2, 3}) {
        backend.FailNextList(code);
        EXPECT_EQ(MatchDevices(backend, criteria, list), code);
        EXPECT_EQ(Kept(list), (std::vector<std::size_t>{1, 3}));
    }
    backend.FailNextList(3);
    EXPECT_EQ(GetAllDeviceNumber(backend, list), 0);
    EXPECT_TRUE(list.empty());
}

TEST_F(DiscoveryTest, AnUnpluggedDeviceIsNotListed) {
    backend.Device(1).Unplug();
    InterfacePathList list;
    EXPECT_EQ(GetAllDeviceNumber(backend, list), 5);
    EXPECT_EQ(Kept(list), (std::vector<std::size_t>{0, 2, 3, 4, 5}));
}

TEST_F(DiscoveryTest, AllDeviceInfoDescribesEveryInterface) {
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
}  // namespace zelk::hid
