// Device strings (serial numbers) as the seam gives them: UTF-16 from the
// UTF-8 that the kernel and the device files carry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelk::hid {

// A byte that starts no well-formed UTF-8 sequence is left out, so a device's
// odd string never becomes characters it did not send.
inline std::u16string Utf16FromUtf8(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80   ? 1
                                   : lead < 0xC2 ? 0
                                   : lead < 0xE0 ? 2
                                   : lead < 0xF0 ? 3
                                   : lead < 0xF5 ? 4
                                                 : 0;
        bool wellFormed = length != 0 && i + length <= text.size();
        char32_t point = length <= 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; wellFormed && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            wellFormed = (next & 0xC0) == 0x80;
            point = (point << 6) | (next & 0x3F);
        }
        if (!wellFormed || (point >= 0xD800 && point < 0xE000) || point > 0x10FFFF ||
            (length == 3 && point < 0x800) || (length == 4 && point < 0x10000)) {
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
        i += length;
    }
    return out;
}

}  // namespace zelk::hid
