// One firmware image as the engine holds it: the 16-byte offer and the payload
// records, each a byte-for-byte copy of its file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "hidtransport/byte_order.h"

namespace zelk::engine {

#pragma pack(push, 1)
// The layout of one payload record in a file and in ImageEntry::Records.
struct PayloadRecord {
    std::uint32_t Address;  // target address of the block
    std::uint8_t Length;    // meaningful bytes in Data, sent unchanged
    std::uint8_t Data[52];  // always sent whole
};
#pragma pack(pop)
static_assert(sizeof(PayloadRecord) == 57);
static_assert(offsetof(PayloadRecord, Length) == 4);
static_assert(offsetof(PayloadRecord, Data) == 5);

inline constexpr std::size_t kOfferFileSize = 16;
inline constexpr std::size_t kPayloadRecordSize = sizeof(PayloadRecord);
inline constexpr std::size_t kPayloadDataSize = sizeof(PayloadRecord::Data);
// The largest payload file an update takes, and so what the packaging tool
// packs: below 1 MiB.
inline constexpr std::uint64_t kMaxPayloadFileSize = 1024 * 1024 - 1;

struct ImageEntry {
    std::uint32_t OfferBank = 0;  // offer byte 12 bits 4-5: the bank the image is built for
    std::uint32_t OfferSize = 0;  // 16 once the entry is complete
    std::vector<std::uint8_t> Offer;
    std::uint32_t RecordCount = 0;
    std::vector<std::uint8_t> Records;  // RecordCount records of kPayloadRecordSize bytes

    const std::uint8_t* RecordAt(std::size_t index) const {
        return Records.data() + index * kPayloadRecordSize;
    }
    // Offer byte 1 bits 0-3.
    std::uint8_t ImageTag() const {
        return Offer.size() > 1 ? static_cast<std::uint8_t>(Offer[1] & 0x0F) : 0;
    }
};

// Reading one record's fields from its 57 bytes.
inline std::uint32_t RecordAddress(const std::uint8_t* record) {
    return ReadLe32(record);
}
inline std::uint8_t RecordLength(const std::uint8_t* record) {
    return record[offsetof(PayloadRecord, Length)];
}
inline const std::uint8_t* RecordData(const std::uint8_t* record) {
    return record + offsetof(PayloadRecord, Data);
}

}  // namespace zelk::engine
