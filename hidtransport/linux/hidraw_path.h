// Interface paths of the hidraw backend.
//
//   /dev/hidraw3#VID_320F&PID_5055&MI_02&Col02#0003:320F:5055.0007
//   '----------' '-----------------------------' '-----------------'
//   the node      identity, as the matcher wants  the kernel's name of the
//                 it; &MI_xx only with an         HID device behind the node
//                 interface number, &Colnn only   (bus:vendor:product.instance)
//                 when the device has several
//                 top-level collections
//
// Every top-level collection of a device is an interface of its own, as on
// Windows: one path per collection, numbered from 01 in descriptor order, all
// on the same node. A path without "&Col" means the first collection. The last
// part lets Open refuse a node number that the kernel has since given to
// another device. A bare "/dev/hidrawN" is accepted too (its first collection).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelk::hid::hidraw {

struct InterfaceIdentity {
    std::string node;  // "/dev/hidraw3"
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int interfaceNumber = -1;  // -1: none
    int collection = 0;        // 1-based; 0: the device has one collection
    std::string deviceName;    // "0003:320F:5055.0007"; may be empty
};

std::string FormatInterfacePath(const InterfaceIdentity& identity);

// What Open needs from a path: the node, the collection (0-based) and the
// device name when the path carries one.
struct OpenTarget {
    std::string node;
    int collectionIndex = 0;
    std::string deviceName;
};

// Nothing for a path that does not name a hidraw node under `devRoot`.
std::optional<OpenTarget> ParseInterfacePath(std::string_view path,
                                             std::string_view devRoot = "/dev");

// "HID_ID=0003:0000320F:00005055" (the value only): bus, vendor, product.
struct HidId {
    std::uint32_t bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};
std::optional<HidId> ParseHidId(std::string_view value);

// The interface number at the end of a USB "HID_PHYS" such as
// "usb-0000:00:14.0-1/input2", or -1.
int InterfaceNumberFromPhys(std::string_view phys);

}  // namespace zelk::hid::hidraw
