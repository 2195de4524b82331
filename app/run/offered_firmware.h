// What the program's offer file says it offers: the component and the
// version, for the listing's comparison and the station's decisions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/firmware_version.h"

namespace zelk::app {

struct OfferedFirmware {
    std::uint8_t componentId = 0;
    engine::FirmwareVersionParts version;
};

// Reads the component ID (byte 2) and the version (bytes 4-7, decoded for
// `deviceFamily`) of the offer file at `offerPath`; nothing when it cannot be
// read or is shorter than an offer.
std::optional<OfferedFirmware> ReadOfferedFirmware(const std::u16string& offerPath,
                                                   std::int32_t deviceFamily);

}  // namespace zelk::app
