// What a flow-control policy drives: one endpoint that takes offers and
// content and reports the image it is working on.
#pragma once

#include <cstdint>

namespace zelk::engine {

enum class OfferResult : std::int32_t {
    Accepted = 0,
    Skipped = 1,
    Rejected = 2,
    Busy = 3,
    SendFailed = 4,
    NotSupported = 5,
    NoResponse = 6,
    UnexpectedStatus = 7,
};

enum class ContentResult : std::int32_t {
    Done = 8,
    ContentFailed = 10,
    SequenceMismatch = 11,
    WriteError = 12,
    NoResponse = 13,
};

class IUpdater {
  public:
    virtual ~IUpdater() = default;
    // Sends the first `length` bytes (at most 16) of an offer and waits for
    // the device's verdict.
    virtual OfferResult SendOffer(const std::uint8_t* offer, std::int32_t length) = 0;
    // Sends `count` payload records of kPayloadRecordSize bytes each, in order.
    virtual ContentResult SendContent(const std::uint8_t* records, std::int32_t count) = 0;
    // Reports the tag of the image the device accepted.
    virtual void SetImageTag(std::uint8_t tag) = 0;
};

}  // namespace zelk::engine
