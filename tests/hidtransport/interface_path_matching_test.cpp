#include <gtest/gtest.h>

#include <string>

#include "hidtransport/device_discovery.h"

namespace zelk::hid {
namespace {

struct MatchCase {
    const char16_t* path;
    std::uint16_t vendorId;
    std::uint16_t productId;
    bool fits;
};

constexpr const char16_t* kWindowsPath =
    u"\\\\?\\HID#VID_320F&PID_226B&MI_02#7&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

const MatchCase kCases[] = {
    // The usual USB spelling, either case, with text before and after.
    {kWindowsPath, 0x320F, 0x226B, true},
    {u"\\\\?\\hid#vid_320f&pid_226b&mi_02#7&0&0000#{x}", 0x320F, 0x226B, true},
    // Other product or vendor.
    {kWindowsPath, 0x320F, 0x226C, false},
    {kWindowsPath, 0x320E, 0x226B, false},
    // The Bluetooth spelling: VID&0001xxxx_PID&xxxx.
    {u"\\\\?\\HID#{00001124-0000}_VID&0001320F_PID&226B&Col01#8&1&0000#{x}", 0x320F, 0x226B, true},
    {u"\\\\?\\HID#{00001124-0000}_VID&0002320F_PID&226B#8&1&0000#{x}", 0x320F, 0x226B, false},
    // A blank anywhere, or nothing before VID or after the digits, never fits.
    {u"\\\\?\\HID#VID_320F&PID_226B #x", 0x320F, 0x226B, false},
    {u"VID_320F&PID_226B&MI_02#x", 0x320F, 0x226B, false},
    {u"x#VID_320F&PID_226B", 0x320F, 0x226B, false},
    // Product 0: only the vendor patterns, so any product fits.
    {kWindowsPath, 0x320F, 0, true},
    {u"\\\\?\\HID#{00001124}_VID&0002320F_PID&9999#x", 0x320F, 0, true},
    {u"\\\\?\\HID#{00001124}_VID&002320F_PID&9999#x", 0x320F, 0, false},
    // Vendor 0 with a product: the vendor patterns with digits 0000.
    {kWindowsPath, 0, 0x226B, false},
    {u"\\\\?\\HID#VID_0000&PID_1234#x", 0, 0x226B, true},
    // The interface number takes no part.
    {u"\\\\?\\HID#VID_320F&PID_226B&MI_07#x", 0x320F, 0x226B, true},
    {u"", 0x320F, 0x226B, false},
};

TEST(MatchInterfacePath, FollowsTheAcceptedSpellings) {
    for (const MatchCase& c : kCases) {
        const std::u16string path(c.path);
        EXPECT_EQ(MatchInterfacePath(path, c.vendorId, c.productId), c.fits)
            << std::string(path.begin(), path.end()) << " vid " << c.vendorId << " pid "
            << c.productId;
    }
}

TEST(MatchInterfacePath, AHugePathIsRefusedInsteadOfExhaustingTheStack) {
    std::u16string path = u"\\\\?\\HID#VID_320F&PID_226B";
    path.append(200000, u'x');
    EXPECT_FALSE(MatchInterfacePath(path, 0x320F, 0x226B));
}

}  // namespace
}  // namespace zelk::hid
