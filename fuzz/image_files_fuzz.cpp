// Offer and payload files: the bytes go to a real file that the two readers
// read by name, as the image list does. Checks the results and what each
// reader leaves in the entry.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "engine/image_entry.h"
#include "engine/image_files.h"
#include "fuzz/fuzz_support.h"

using zelk::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string path = zelk::fuzz::WriteScratchFile("image.bin", data, size).u16string();

    zelk::engine::ImageEntry offer;
    const std::int32_t offerResult = zelk::engine::ReadOfferFile(offer, path);
    if (size == 0) {
        Require(offerResult == -2 && offer.Offer.empty(), "an empty offer file is -2");
    } else if (size != zelk::engine::kOfferFileSize) {
        Require(offerResult == -1 && offer.Offer.empty() && offer.OfferSize == size,
                "an offer that is not 16 bytes is -1 and keeps its size only");
    } else {
        Require(offerResult == 0 && offer.OfferSize == 16 &&
                    std::memcmp(offer.Offer.data(), data, size) == 0 &&
                    offer.OfferBank == ((data[12] >> 4) & 3u),
                "a 16-byte offer is taken whole");
    }

    zelk::engine::ImageEntry payload;
    payload.RecordCount = 0xDEADBEEF;
    const std::int32_t payloadResult = zelk::engine::ReadPayloadFile(payload, path);
    const std::size_t record = zelk::engine::kPayloadRecordSize;
    if (size == 0) {
        Require(payloadResult == -2 && payload.RecordCount == 0xDEADBEEF,
                "an empty payload is -2 and leaves the count alone");
    } else {
        Require(payload.RecordCount == size / record, "the count is size / 57");
        bool badLength = false;
        for (std::size_t offset = 0; offset + record <= size; offset += record) {
            badLength = badLength || data[offset + 4] == 0 || data[offset + 4] > 52;
        }
        if (size % record != 0) {
            Require(payloadResult == -2 && payload.Records.empty(), "a partial record is -2");
        } else if (badLength) {
            Require(payloadResult == zelk::engine::kBadRecordLength && payload.Records.empty(),
                    "a record of no or more than 52 bytes is refused");
        } else {
            Require(payloadResult == 0 && payload.Records.size() == size &&
                        std::memcmp(payload.Records.data(), data, size) == 0,
                    "whole records are copied byte for byte");
        }
    }

    // The stream read underneath, with a size the stream may not keep.
    if (size >= 4) {
        std::uint32_t promised = 0;
        std::memcpy(&promised, data, 4);
        promised %= 1u << 16;
        std::istringstream in(std::string(reinterpret_cast<const char*>(data + 4), size - 4));
        std::vector<std::uint8_t> bytes{1, 2, 3};
        const std::int32_t result = zelk::engine::ReadExactly(in, promised, bytes);
        if (promised <= size - 4) {
            Require(result == 0 && bytes.size() == promised, "a full read is 0");
        } else {
            Require(result == -3 && bytes.size() == 3, "a short read is -3 and changes nothing");
        }
    }
    return 0;
}
