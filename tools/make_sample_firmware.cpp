// Writes a sample firmware image for tests and demonstrations: a 16-byte offer
// for component 0x0F and a payload of 3705 records whose data bytes come from
// a fixed pseudo-random sequence, so a block sent out of place shows.
//
// Usage: make_sample_firmware <offer-out> <payload-out>
//
// Each file is written under a temporary name and renamed into place, so a
// failed run never leaves a half-written file behind.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "engine/image_entry.h"
#include "hidtransport/byte_order.h"

namespace {

constexpr std::uint32_t kRecordCount = 3705;
constexpr std::uint8_t kComponentId = 0x0F;
constexpr std::uint32_t kFirmwareVersion = 0x10004001;
constexpr std::uint8_t kProtocolRevision = 0x04;  // bank 0 in bits 4-5

std::vector<std::uint8_t> MakeOffer() {
    std::vector<std::uint8_t> offer(zelk::engine::kOfferFileSize, 0);
    offer[0] = 0x00;  // segment
    offer[1] = 0x00;  // no force flags, image tag 0
    offer[2] = kComponentId;
    offer[3] = 0x00;  // token
    zelk::WriteLe32(&offer[4], kFirmwareVersion);
    zelk::WriteLe32(&offer[8], 0);  // vendor word
    offer[12] = kProtocolRevision;
    return offer;
}

// xorshift32: cheap, deterministic and never stuck at one value.
class ByteSequence {
  public:
    std::uint8_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<std::uint8_t>(state_ >> 24);
    }

  private:
    std::uint32_t state_ = 0x2F6B1D35u;
};

std::vector<std::uint8_t> MakePayload() {
    using zelk::engine::kPayloadDataSize;
    using zelk::engine::kPayloadRecordSize;
    std::vector<std::uint8_t> payload(kRecordCount * kPayloadRecordSize, 0);
    ByteSequence sequence;
    for (std::uint32_t i = 0; i < kRecordCount; ++i) {
        std::uint8_t* record = &payload[i * kPayloadRecordSize];
        zelk::WriteLe32(record, static_cast<std::uint32_t>(i * kPayloadDataSize));
        record[4] = static_cast<std::uint8_t>(kPayloadDataSize);
        for (std::size_t b = 0; b < kPayloadDataSize; ++b) {
            record[5 + b] = sequence.Next();
        }
    }
    return payload;
}

bool WriteFileAtomically(const std::filesystem::path& target,
                         const std::vector<std::uint8_t>& bytes) {
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            std::fprintf(stderr, "make_sample_firmware: cannot create %s\n",
                         temporary.string().c_str());
            return false;
        }
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::fprintf(stderr, "make_sample_firmware: cannot write %s\n",
                         temporary.string().c_str());
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
        std::fprintf(stderr, "make_sample_firmware: cannot rename %s to %s: %s\n",
                     temporary.string().c_str(), target.string().c_str(), ec.message().c_str());
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
        std::fprintf(stderr, "usage: make_sample_firmware <offer-out> <payload-out>\n");
        return 1;
    }
    const std::filesystem::path offerPath{argv[1]};
    const std::filesystem::path payloadPath{argv[2]};
    if (offerPath == payloadPath) {
        std::fprintf(stderr, "make_sample_firmware: the offer and payload need different files\n");
        return 1;
    }
    if (!WriteFileAtomically(offerPath, MakeOffer()) ||
        !WriteFileAtomically(payloadPath, MakePayload())) {
        return 1;
    }
    return 0;
}
