#include "engine/firmware_version.h"

#include <array>

namespace zelk::engine {
namespace {

std::uint32_t Bits(std::uint32_t value, unsigned first, unsigned last) {
    const unsigned width = last - first + 1;
    const std::uint32_t mask = width >= 32 ? ~0u : ((1u << width) - 1u);
    return (value >> first) & mask;
}

}  // namespace

FirmwareVersionParts DecodeFirmwareVersion(std::uint32_t version, std::int32_t deviceFamily) {
    switch (static_cast<std::uint32_t>(deviceFamily)) {
        case 0:
        case 1:
            return {Bits(version, 0, 3), Bits(version, 4, 11), Bits(version, 12, 26),
                    Bits(version, 27, 31)};
        case 2:
            return {Bits(version, 0, 3), Bits(version, 4, 11), Bits(version, 12, 20),
                    Bits(version, 21, 31)};
        default:
            return {Bits(version, 24, 31), Bits(version, 16, 23), Bits(version, 8, 15),
                    Bits(version, 0, 7)};
    }
}

std::string FirmwareVersionText(const FirmwareVersionParts& version) {
    return std::to_string(version.Part1) + "." + std::to_string(version.Part2) + "." +
           std::to_string(version.Part3) + "." + std::to_string(version.Part4);
}

int CompareFirmwareVersions(const FirmwareVersionParts& a, const FirmwareVersionParts& b) {
    const std::array<std::uint32_t, 4> left{a.Part1, a.Part2, a.Part3, a.Part4};
    const std::array<std::uint32_t, 4> right{b.Part1, b.Part2, b.Part3, b.Part4};
    return left < right ? -1 : left == right ? 0 : 1;
}

}  // namespace zelk::engine
