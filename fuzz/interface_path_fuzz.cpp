// Interface paths as the system hands them over: matched against a vendor and
// product identity and copied into the record other programs read. The first
// four bytes are the identity, the rest the path in UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "capi/hid_listing.h"
#include "fuzz/fuzz_support.h"
#include "hidtransport/device_discovery.h"

namespace {

using zelk::fuzz::Require;

std::u16string Hex4(std::uint16_t value) {
    const char16_t* digits = u"0123456789abcdef";
    return {digits[value >> 12], digits[(value >> 8) & 15], digits[(value >> 4) & 15],
            digits[value & 15]};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::ByteReader reader(data, size);
    const std::uint16_t vendorId = reader.Word();
    const std::uint16_t productId = reader.Word();
    std::u16string path;
    while (reader.RestSize() >= 2) {
        path.push_back(static_cast<char16_t>(reader.Word()));
    }

    const bool fits = zelk::hid::MatchInterfacePath(path, vendorId, productId);
    if (fits) {
        Require(path.size() >= 10, "a fitting path holds at least VID_xxxx and two more");
        Require(path.find(u' ') == std::u16string::npos, "a fitting path has no blank");
    }
    // The identity written into a path the way the systems spell it always
    // fits, whatever plain text surrounds it.
    std::u16string tail;
    for (const char16_t unit : path) {
        const bool plain = (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'z') ||
                           (unit >= u'A' && unit <= u'Z') || unit == u'#' || unit == u'&' ||
                           unit == u'_';
        tail.push_back(plain ? unit : u'_');
    }
    const std::u16string built =
        u"\\\\?\\hid#vid_" + Hex4(vendorId) + u"&pid_" + Hex4(productId) + u"#" + tail;
    Require(built.size() > 4096 || zelk::hid::MatchInterfacePath(built, vendorId, productId),
            "a path that carries the identity fits");

    HIDDeviceInfo record{};
    zelk::capi::CopyPathToRecord(path, record);
    char16_t copied[260];
    std::memcpy(copied, &record, sizeof copied);
    std::size_t length = 0;
    while (length < 260 && copied[length] != 0) {
        ++length;
    }
    Require(length < 260, "the record's path is terminated");
    Require(path.compare(0, length, copied, length) == 0, "the record holds the path's start");
    return 0;
}
