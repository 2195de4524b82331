// The hidraw backend's parsers of outside text: interface paths (from callers
// and other programs), HID_ID, HID_PHYS and HID_UNIQ values (from sysfs).
// Whatever the input, they must not crash, a path they accept must format
// back to a path they accept with the same node and collection, and a serial
// string decodes to UTF-16 without a lone surrogate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "hidtransport/linux/hidraw_path.h"
#include "hidtransport/utf8_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zelk::hid::hidraw;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ParseHidId(text);
    InterfaceNumberFromPhys(text);
    const std::u16string serial = zelk::hid::Utf16FromUtf8(text);
    for (std::size_t i = 0; i < serial.size(); ++i) {
        const char16_t unit = serial[i];
        const bool high = unit >= 0xD800 && unit < 0xDC00;
        const bool low = unit >= 0xDC00 && unit < 0xE000;
        const bool lowFollows =
            i + 1 < serial.size() && serial[i + 1] >= 0xDC00 && serial[i + 1] < 0xE000;
        if ((high && !lowFollows) ||
            (low && (i == 0 || serial[i - 1] < 0xD800 || serial[i - 1] >= 0xDC00))) {
            std::abort();
        }
    }
    if (serial.size() > text.size()) {
        std::abort();
    }
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
