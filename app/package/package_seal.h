// The seal of a Windows program's firmware package: resource "FIRE_SEAL" 142,
// three lines of lower-case hexadecimal MD5 digests, one for each package
// resource in the order 139, 140, 141, each line ended by "\n". The packaging
// tool and the build (cmake/PackageSeal.cmake) write it; the program refuses
// a package whose resources do not match it, so that a damaged copy is
// never flashed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/package/md5.h"

namespace zelk::app::seal {

inline constexpr char16_t kType[] = u"FIRE_SEAL";
inline constexpr int kId = 142;

inline std::string SealText(const std::array<std::vector<std::uint8_t>, 3>& parts) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::vector<std::uint8_t>& part : parts) {
        const Md5Digest digest =
            Md5(std::string_view(reinterpret_cast<const char*>(part.data()), part.size()));
        for (const std::uint8_t byte : digest) {
            text.push_back(kDigits[byte >> 4]);
            text.push_back(kDigits[byte & 0x0F]);
        }
        text.push_back('\n');
    }
    return text;
}

}  // namespace zelk::app::seal
