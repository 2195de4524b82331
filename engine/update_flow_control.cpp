#include <algorithm>
#include <array>

#include "engine/cfu_messages.h"
#include "engine/flow_control_policy.h"

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

UpdateError ContentFailureResult(ContentResult result) {
    switch (result) {
        case ContentResult::SequenceMismatch:
            return UpdateError::ContentSequenceMismatch;
        case ContentResult::WriteError:
            return UpdateError::ContentWriteError;
        case ContentResult::NoResponse:
            return UpdateError::ContentNoResponse;
        default:
            return UpdateError::ContentFailed;
    }
}

UpdateError UpdateFlowControl::Run(std::vector<const ImageEntry*> images, bool) {
    if (images.size() != 1 || images.front() == nullptr) {
        return UpdateError::WrongImageCount;
    }
    const ImageEntry& image = *images.front();
    for (std::uint32_t skipped = 0;;) {
        switch (OfferImage(image)) {
            case OfferResult::Accepted: {
                const ContentResult content = TransferImage(image);
                return content == ContentResult::Done ? UpdateError::Success
                                                      : ContentFailureResult(content);
            }
            case OfferResult::Skipped:
                if (++skipped >= kMaxSkippedOffersInARow) {
                    return UpdateError::RepetitionLimit;
                }
                continue;
            case OfferResult::Rejected:
                return UpdateError::OfferRejected;
            case OfferResult::Busy:
                return UpdateError::DeviceStayedBusy;
            case OfferResult::SendFailed:
                return UpdateError::OfferSendFailed;
            case OfferResult::NoResponse:
                return UpdateError::OfferNoResponse;
            case OfferResult::NotSupported:
            case OfferResult::UnexpectedStatus:
            default:
                // Content follows only an offer the device accepted.
                return UpdateError::OfferUnexpected;
        }
    }
}

}  // namespace zelk::engine
