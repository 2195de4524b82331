// The hidraw backend's parsers of outside text: interface paths (from callers
// and other programs), HID_ID and HID_PHYS values (from sysfs). Whatever the
// input, they must not crash, and a path they accept must format back to a
// path they accept with the same node and collection.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "linux/hidraw_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk::hid::hidraw;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParseHidId(text);
    InterfaceNumberFromPhys(text);
    const auto target = ParseInterfacePath(text);
    if (target) {
        InterfaceIdentity identity;
        identity.node = target->node;
        identity.collection = target->collectionIndex + 1;
        identity.deviceName = target->deviceName;
        const auto again = ParseInterfacePath(FormatInterfacePath(identity));
        if (!again || again->node != target->node ||
            again->collectionIndex != target->collectionIndex) {
            std::abort();
        }
    }
    return 0;
}
