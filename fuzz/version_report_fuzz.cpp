// The firmware-version feature report as the engine reads it: 61 bytes from
// the device, and the four-number split of each component's version for
// every device family.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/cfu_messages.h"
#include "engine/firmware_version.h"
#include "fuzz/fuzz_support.h"

namespace {

using zelk::fuzz::Require;

std::uint32_t Le32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The parts put back together give the version, and none is wider than its field.
void CheckSplit(std::uint32_t version, std::int32_t family) {
    const zelk::engine::FirmwareVersionParts p =
        zelk::engine::DecodeFirmwareVersion(version, family);
    std::uint32_t joined = 0;
    if (family == 0 || family == 1) {
        Require(p.Part1 < 16 && p.Part2 < 256 && p.Part3 < (1u << 15) && p.Part4 < 32,
                "family 0/1 widths");
        joined = p.Part1 | p.Part2 << 4 | p.Part3 << 12 | p.Part4 << 27;
    } else if (family == 2) {
        Require(p.Part1 < 16 && p.Part2 < 256 && p.Part3 < 512 && p.Part4 < 2048,
                "family 2 widths");
        joined = p.Part1 | p.Part2 << 4 | p.Part3 << 12 | p.Part4 << 21;
    } else {
        Require(p.Part1 < 256 && p.Part2 < 256 && p.Part3 < 256 && p.Part4 < 256,
                "byte-wise widths");
        joined = p.Part1 << 24 | p.Part2 << 16 | p.Part3 << 8 | p.Part4;
    }
    Require(joined == version, "the parts give the version back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::ByteReader reader(data, size);
    std::int32_t family = static_cast<std::int8_t>(reader.Byte());
    zelk::engine::VersionResponse response{};
    std::memcpy(response.data(), reader.Rest(), std::min(response.size(), reader.RestSize()));

    const zelk::engine::DecodedVersionResponse decoded =
        zelk::engine::DecodeVersionResponse(response);
    Require(decoded.ComponentCount == response[1] && decoded.ProtocolFlags == response[4],
            "count and flags are bytes 1 and 4");
    for (std::size_t j = 0; j < zelk::engine::kVersionComponentSlots; ++j) {
        const zelk::engine::VersionComponent& c = decoded.Components[j];
        const std::uint8_t* slot = response.data() + 5 + 8 * j;
        Require(c.Version == Le32(slot) && c.Info == Le32(slot + 4), "slot words");
        Require(c.CurrentBank == (slot[4] & 3) && c.BudRole == ((slot[4] >> 2) & 3) &&
                    c.ComponentId == slot[5],
                "info fields");
        CheckSplit(c.Version, family);
        CheckSplit(c.Version, static_cast<std::int32_t>(j) - 1);
    }
    Require(zelk::engine::FirstComponentId(response) == response[10] &&
                zelk::engine::FirstComponentBank(response) == (response[9] & 3),
            "the first component's id and bank");
    const bool carries = std::any_of(response.begin() + 5, response.begin() + 13,
                                     [](std::uint8_t b) { return b != 0; });
    Require(zelk::engine::IsVersionResponseValid(response) == carries,
            "valid exactly when the first component's words are not all zero");
    return 0;
}
