#include "hidtransport/device_discovery.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/hidtransport/virtual_test_support.h"

namespace zelk::hid {
namespace {

using testing::EarbudWith;
using virt::VirtualDeviceConfig;
using virt::VirtualHidBackend;

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

}  // namespace
}  // namespace zelk::hid
