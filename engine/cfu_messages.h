// The CFU messages as HID reports: building the commands the host sends and
// reading the answers the device gives. Byte 0 of every report is its report
// ID; every field is little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/update_types.h"

namespace zelk::engine {

// --- Firmware version response (feature report) ---------------------------

// The bytes of the version response that are kept; the report may be longer.
inline constexpr std::size_t kVersionResponseSize = 61;
inline constexpr std::size_t kVersionComponentSlots = 7;
using VersionResponse = std::array<std::uint8_t, kVersionResponseSize>;

struct VersionComponent {
    std::uint32_t Version = 0;
    std::uint32_t Info = 0;
    std::uint8_t CurrentBank = 0;  // info bits 0-1
    std::uint8_t BudRole = 0;      // info bits 2-3
    std::uint8_t ComponentId = 0;  // info bits 8-15
};

struct DecodedVersionResponse {
    std::uint8_t ComponentCount = 0;
    std::uint8_t ProtocolFlags = 0;
    std::array<VersionComponent, kVersionComponentSlots> Components{};
};

DecodedVersionResponse DecodeVersionResponse(const VersionResponse& response);
// The update looks at the first component only.
std::uint8_t FirstComponentId(const VersionResponse& response);
std::uint8_t FirstComponentBank(const VersionResponse& response);
// A response whose first version and info words are both zero carries nothing.
bool IsVersionResponseValid(const VersionResponse& response);

// --- Offer command (output report) ----------------------------------------

inline constexpr std::size_t kOfferSize = 16;
inline constexpr std::size_t kOfferCommandMinLength = 1 + kOfferSize;
using OfferBody = std::array<std::uint8_t, kOfferSize>;

// Forces the bits that the update options decide on an offer: offer byte 1
// bit 7 (ignore version), byte 1 bit 6 (immediate reset), byte 10 bit 2
// (vendor flag). Every other bit stays.
void ApplyOfferOptions(OfferBody& offer, const UpdateOptions& options);

// Fills `out` (the whole report, `length` bytes) with the offer after `reportId`
// and zeros behind it. False, with nothing written, when `length` is too short.
bool BuildOfferCommand(const OfferBody& offer, std::uint8_t reportId, std::uint8_t* out,
                       std::size_t length);

// --- Offer response (input report) ----------------------------------------

enum class OfferStatus : std::uint8_t {
    Skip = 0x00,
    Accept = 0x01,
    Reject = 0x02,
    Busy = 0x03,
    CommandReady = 0x04,  // taken as an acceptance
    NotSupported = 0xFF,
};

// Reads the offer status of an offer response; false when the report is too
// short to hold it.
bool ParseOfferResponse(const std::uint8_t* report, std::size_t count, std::uint8_t& status);

// Reads the reject reason of an offer response (byte 9). It is kept for
// messages only: what the engine does depends on the status alone. False when
// the report is too short to hold it.
bool ParseOfferRejectReason(const std::uint8_t* report, std::size_t count, std::uint8_t& reason);

// --- Content command (output report) --------------------------------------

inline constexpr std::size_t kContentCommandMinLength = 61;

// The shortest answers (input reports, ID byte included) that carry every field
// read from them: an offer answer up to its status (byte 13), a content answer
// up to its status (byte 5). A device whose answer reports are shorter cannot
// be understood and is refused before anything is sent.
inline constexpr std::size_t kOfferAnswerMinLength = 14;
inline constexpr std::size_t kContentAnswerMinLength = 6;
inline constexpr std::uint8_t kContentFlagFirstBlock = 0x80;
inline constexpr std::uint8_t kContentFlagLastBlock = 0x40;

// Flags of record `index` of `count`: the first record carries the
// first-block flag, the last one the last-block flag; the only record of a
// one-record image carries both.
std::uint8_t ContentFlags(std::size_t index, std::size_t count);

struct ContentBlock {
    std::uint8_t Flags = 0;
    std::uint16_t SequenceNumber = 0;
    std::uint32_t BaseAddress = 0;  // address of the image's first record
};

// Fills `out` (the whole report, `length` bytes) from one 57-byte payload
// record: flags, the record's length byte, sequence number, address relative
// to the base, and the 52 data bytes; zeros behind. False, with nothing
// written, when `length` is too short.
bool BuildContentCommand(const std::uint8_t* record, const ContentBlock& block,
                         std::uint8_t reportId, std::uint8_t* out, std::size_t length);

// --- Content response (input report) --------------------------------------

inline constexpr std::uint8_t kContentStatusSuccess = 0x00;
inline constexpr std::uint8_t kContentStatusWriteError = 0x02;

struct ContentAnswer {
    std::uint16_t SequenceNumber = 0;
    std::uint8_t Status = 0;
};

// False when the report is too short to hold both fields.
bool ParseContentResponse(const std::uint8_t* report, std::size_t count, ContentAnswer& answer);

// --- Telling answers apart ------------------------------------------------

enum class InputReportKind { OfferResponse, ContentResponse, Other };

// By report ID. When both answers share one ID, every such report is an offer
// response.
InputReportKind ClassifyInputReport(const std::uint8_t* report, std::size_t count,
                                    std::uint8_t offerResponseId, std::uint8_t contentResponseId);

}  // namespace zelk::engine
