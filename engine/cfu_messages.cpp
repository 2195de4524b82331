#include "engine/cfu_messages.h"

#include <algorithm>
#include <cstring>

#include "engine/image_entry.h"
#include "hidtransport/byte_order.h"

namespace zelk::engine {
namespace {

constexpr std::size_t kVersionCountAt = 1;
constexpr std::size_t kVersionFlagsAt = 4;
constexpr std::size_t kVersionFirstSlotAt = 5;
constexpr std::size_t kVersionSlotSize = 8;
constexpr std::size_t kFirstInfoAt = kVersionFirstSlotAt + 4;
constexpr std::size_t kFirstComponentIdAt = kFirstInfoAt + 1;

constexpr std::size_t kOfferFlagsByte = 1;
constexpr std::uint8_t kOfferForceIgnoreVersion = 0x80;
constexpr std::uint8_t kOfferForceImmediateReset = 0x40;
constexpr std::size_t kOfferVendorByte = 10;
constexpr std::uint8_t kOfferVendorFlag = 0x04;

constexpr std::size_t kOfferStatusAt = 13;
constexpr std::size_t kOfferRejectReasonAt = 9;

constexpr std::size_t kContentFlagsAt = 1;
constexpr std::size_t kContentLengthAt = 2;
constexpr std::size_t kContentSequenceAt = 3;
constexpr std::size_t kContentAddressAt = 5;
constexpr std::size_t kContentDataAt = 9;
static_assert(kContentDataAt + kPayloadDataSize == kContentCommandMinLength);

constexpr std::size_t kContentAnswerSequenceAt = 1;
constexpr std::size_t kContentAnswerStatusAt = 5;
static_assert(kOfferStatusAt + 1 == kOfferAnswerMinLength);
static_assert(kContentAnswerStatusAt + 1 == kContentAnswerMinLength);

void SetBit(std::uint8_t& byte, std::uint8_t bit, bool on) {
    byte = static_cast<std::uint8_t>(on ? (byte | bit) : (byte & ~bit));
}

}  // namespace

DecodedVersionResponse DecodeVersionResponse(const VersionResponse& response) {
    DecodedVersionResponse decoded;
    decoded.ComponentCount = response[kVersionCountAt];
    decoded.ProtocolFlags = response[kVersionFlagsAt];
    for (std::size_t j = 0; j < kVersionComponentSlots; ++j) {
        const std::uint8_t* slot = response.data() + kVersionFirstSlotAt + kVersionSlotSize * j;
        VersionComponent& component = decoded.Components[j];
        component.Version = ReadLe32(slot);
        component.Info = ReadLe32(slot + 4);
        component.CurrentBank = static_cast<std::uint8_t>(component.Info & 0x3u);
        component.BudRole = static_cast<std::uint8_t>((component.Info >> 2) & 0x3u);
        component.ComponentId = static_cast<std::uint8_t>((component.Info >> 8) & 0xFFu);
    }
    return decoded;
}

std::uint8_t FirstComponentId(const VersionResponse& response) {
    return response[kFirstComponentIdAt];
}

std::uint8_t FirstComponentBank(const VersionResponse& response) {
    return static_cast<std::uint8_t>(response[kFirstInfoAt] & 0x3u);
}

bool IsVersionResponseValid(const VersionResponse& response) {
    const auto first = response.begin() + kVersionFirstSlotAt;
    return std::any_of(first, first + kVersionSlotSize, [](std::uint8_t b) { return b != 0; });
}

void ApplyOfferOptions(OfferBody& offer, const UpdateOptions& options) {
    SetBit(offer[kOfferFlagsByte], kOfferForceIgnoreVersion, options.ForceIgnoreVersion != 0);
    SetBit(offer[kOfferFlagsByte], kOfferForceImmediateReset, options.ForceImmediateReset != 0);
    SetBit(offer[kOfferVendorByte], kOfferVendorFlag, options.OfferVendorFlag != 0);
}

bool BuildOfferCommand(const OfferBody& offer, std::uint8_t reportId, std::uint8_t* out,
                       std::size_t length) {
    if (out == nullptr || length < kOfferCommandMinLength) {
        return false;
    }
    std::memset(out, 0, length);
    out[0] = reportId;
    std::memcpy(out + 1, offer.data(), offer.size());
    return true;
}

bool ParseOfferResponse(const std::uint8_t* report, std::size_t count, std::uint8_t& status) {
    if (report == nullptr || count <= kOfferStatusAt) {
        return false;
    }
    status = report[kOfferStatusAt];
    return true;
}

bool ParseOfferRejectReason(const std::uint8_t* report, std::size_t count, std::uint8_t& reason) {
    if (report == nullptr || count <= kOfferRejectReasonAt) {
        return false;
    }
    reason = report[kOfferRejectReasonAt];
    return true;
}

std::uint8_t ContentFlags(std::size_t index, std::size_t count) {
    std::uint8_t flags = 0;
    if (index == 0) {
        flags |= kContentFlagFirstBlock;
    }
    if (index + 1 == count) {
        flags |= kContentFlagLastBlock;
    }
    return flags;
}

bool BuildContentCommand(const std::uint8_t* record, const ContentBlock& block,
                         std::uint8_t reportId, std::uint8_t* out, std::size_t length) {
    if (record == nullptr || out == nullptr || length < kContentCommandMinLength) {
        return false;
    }
    std::memset(out, 0, length);
    out[0] = reportId;
    out[kContentFlagsAt] = block.Flags;
    out[kContentLengthAt] = RecordLength(record);
    WriteLe16(out + kContentSequenceAt, block.SequenceNumber);
    WriteLe32(out + kContentAddressAt, RecordAddress(record) - block.BaseAddress);
    std::memcpy(out + kContentDataAt, RecordData(record), kPayloadDataSize);
    return true;
}

bool ParseContentResponse(const std::uint8_t* report, std::size_t count, ContentAnswer& answer) {
    if (report == nullptr || count <= kContentAnswerStatusAt) {
        return false;
    }
    answer.SequenceNumber = ReadLe16(report + kContentAnswerSequenceAt);
    answer.Status = report[kContentAnswerStatusAt];
    return true;
}

InputReportKind ClassifyInputReport(const std::uint8_t* report, std::size_t count,
                                    std::uint8_t offerResponseId, std::uint8_t contentResponseId) {
    if (report == nullptr || count == 0) {
        return InputReportKind::Other;
    }
    if (report[0] == offerResponseId) {
        return InputReportKind::OfferResponse;
    }
    if (report[0] == contentResponseId) {
        return InputReportKind::ContentResponse;
    }
    return InputReportKind::Other;
}

}  // namespace zelk::engine
