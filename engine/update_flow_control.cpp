#include <algorithm>
#include <array>

#include "cfu_messages.h"
#include "flow_control_policy.h"

namespace zelk::engine {

OfferResult IFlowControlPolicy::OfferImage(const ImageEntry& image) {
    OfferBody offer{};
    std::copy_n(image.Offer.begin(), std::min(image.Offer.size(), offer.size()), offer.begin());
    const std::uint32_t length = std::min<std::uint32_t>(image.OfferSize, kOfferSize);
    return Updater->SendOffer(offer.data(), static_cast<std::int32_t>(length));
}

ContentResult IFlowControlPolicy::TransferImage(const ImageEntry& image) {
    const std::size_t held = image.Records.size() / kPayloadRecordSize;
    const std::size_t count = std::min<std::size_t>(image.RecordCount, held);
    const std::size_t limit = static_cast<std::size_t>(INT32_MAX);
    return Updater->SendContent(image.Records.data(),
                                static_cast<std::int32_t>(std::min(count, limit)));
}

bool IFlowControlPolicy::TakeTransfer() {
    if (transfersLeft_ == 0) {
        return false;
    }
    --transfersLeft_;
    return true;
}

std::uint32_t ContentFailureResult(ContentResult result) {
    switch (result) {
        case ContentResult::SequenceMismatch:
            return policy_result::kContentSequenceMismatch;
        case ContentResult::WriteError:
            return policy_result::kContentWriteError;
        case ContentResult::NoResponse:
            return policy_result::kContentNoResponse;
        default:
            return policy_result::kContentFailed;
    }
}

std::uint32_t UpdateFlowControl::Run(std::vector<const ImageEntry*> images, std::uint8_t) {
    if (images.size() != 1 || images.front() == nullptr) {
        return policy_result::kWrongImageCount;
    }
    const ImageEntry& image = *images.front();
    for (std::uint32_t skipped = 0;;) {
        switch (OfferImage(image)) {
            case OfferResult::Accepted: {
                const ContentResult content = TransferImage(image);
                return content == ContentResult::Done ? policy_result::kDone
                                                      : ContentFailureResult(content);
            }
            case OfferResult::Skipped:
                if (++skipped >= kMaxSkippedOffersInARow) {
                    return policy_result::kRepetitionLimit;
                }
                continue;
            case OfferResult::Rejected:
            case OfferResult::Busy:
                return policy_result::kOfferRefused;
            case OfferResult::SendFailed:
                return policy_result::kOfferSendFailed;
            case OfferResult::NoResponse:
                return policy_result::kOfferNoResponse;
            case OfferResult::NotSupported:
            case OfferResult::UnexpectedStatus:
            default:
                // Content follows only an offer the device accepted.
                return policy_result::kOfferUnexpected;
        }
    }
}

}  // namespace zelk::engine
