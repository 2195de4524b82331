// Input reports as the download procedure's answer handler takes them apart:
// told apart by report ID, then read as an offer or a content response. The
// first two bytes choose the two response IDs, the rest is the report.
#include <cstddef>
#include <cstdint>

#include "engine/cfu_messages.h"
#include "fuzz/fuzz_support.h"

using zelk::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using zelk::engine::InputReportKind;
    zelk::fuzz::ByteReader reader(data, size);
    const std::uint8_t offerId = reader.Byte();
    const std::uint8_t contentId = reader.Byte();
    const std::uint8_t* report = reader.Rest();
    const std::size_t count = reader.RestSize();

    const InputReportKind kind =
        zelk::engine::ClassifyInputReport(report, count, offerId, contentId);
    if (count == 0) {
        Require(kind == InputReportKind::Other, "an empty report is nobody's answer");
        return 0;
    }
    if (report[0] == offerId) {
        Require(kind == InputReportKind::OfferResponse, "the offer response ID wins");
    } else if (report[0] == contentId) {
        Require(kind == InputReportKind::ContentResponse, "the content response ID");
    } else {
        Require(kind == InputReportKind::Other, "other IDs are ignored");
    }

    std::uint8_t status = 0xA5;
    const bool offer = zelk::engine::ParseOfferResponse(report, count, status);
    Require(offer == (count > 13), "an offer response needs byte 13");
    Require(offer ? status == report[13] : status == 0xA5, "the offer status is byte 13");

    std::uint8_t reason = 0xA5;
    const bool hasReason = zelk::engine::ParseOfferRejectReason(report, count, reason);
    Require(hasReason == (count > 9), "a reject reason needs byte 9");
    Require(hasReason ? reason == report[9] : reason == 0xA5, "the reject reason is byte 9");

    zelk::engine::ContentAnswer answer{0x1234, 0x5A};
    const bool content = zelk::engine::ParseContentResponse(report, count, answer);
    Require(content == (count > 5), "a content response needs byte 5");
    if (content) {
        Require(answer.SequenceNumber == (report[1] | report[2] << 8) && answer.Status == report[5],
                "sequence is bytes 1-2, status byte 5");
    } else {
        Require(answer.SequenceNumber == 0x1234 && answer.Status == 0x5A,
                "a short report leaves the answer alone");
    }
    return 0;
}
