#include "engine/firmware_version.h"

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

}  // namespace zelk::engine
