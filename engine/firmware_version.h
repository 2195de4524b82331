// Splitting a 32-bit firmware version into the four numbers shown to people.
#pragma once

#include <cstdint>
#include <string>

namespace zelk::engine {

struct FirmwareVersionParts {
    std::uint32_t Part1 = 0;
    std::uint32_t Part2 = 0;
    std::uint32_t Part3 = 0;
    std::uint32_t Part4 = 0;
};

// The split depends on the device family: 0 and 1 (4.8.15.5 bits from the
// bottom), 2 (4.8.9.11 bits), any other value (one byte each, most significant first).
FirmwareVersionParts DecodeFirmwareVersion(std::uint32_t version, std::int32_t deviceFamily);

// "a.b.c.d", as the version is shown to people.
std::string FirmwareVersionText(const FirmwareVersionParts& version);

// Negative when `a` is older than `b`, 0 when they are the same, positive when
// newer: the four parts compared in order, the first that differs decides.
int CompareFirmwareVersions(const FirmwareVersionParts& a, const FirmwareVersionParts& b);

}  // namespace zelk::engine
