#include "app/run/offered_firmware.h"

#include <array>
#include <exception>
#include <filesystem>
#include <fstream>

#include "engine/image_entry.h"
#include "hidtransport/byte_order.h"

namespace zelk::app {

std::optional<OfferedFirmware> ReadOfferedFirmware(const std::u16string& offerPath,
                                                   std::int32_t deviceFamily) {
    if (offerPath.empty()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, engine::kOfferFileSize> bytes{};
    try {
        std::ifstream in(std::filesystem::path(offerPath), std::ios::in | std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(bytes.data()), bytes.size())) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;  // a path the system cannot take
    }
    OfferedFirmware offered;
    offered.componentId = bytes[2];
    offered.version = engine::DecodeFirmwareVersion(ReadLe32(bytes.data() + 4), deviceFamily);
    return offered;
}

}  // namespace zelk::app
