#include "engine/flow_control_policy.h"

namespace zelk::engine {

UpdateError UpdateFlowControlDualB::Run(std::vector<const ImageEntry*> images, bool) {
    std::erase(images, nullptr);
    if (images.empty()) {
        return UpdateError::WrongImageCount;
    }
    LimitTransfers(images.size());
    bool accepted = false;
    for (std::uint32_t pass = 0; pass < kMaxPasses; ++pass) {
        bool answeredInPass = false;
        for (std::size_t index = 0; index < images.size(); ++index) {
            const ImageEntry* image = images[index];
            const bool last = index + 1 == images.size();
            ContentResult content = ContentResult::Done;
            switch (OfferImage(*image)) {
                case OfferResult::Accepted:
                    if (!TakeTransfer()) {
                        return UpdateError::RepetitionLimit;
                    }
                    accepted = true;
                    answeredInPass = true;
                    content = TransferImage(*image);
                    break;
                case OfferResult::Skipped:
                case OfferResult::Busy:
                    answeredInPass = true;
                    break;
                case OfferResult::Rejected:
                    if (!answeredInPass && last) {
                        return UpdateError::LastImageRejected;
                    }
                    break;
                case OfferResult::SendFailed:
                    return UpdateError::OfferSendFailed;
                case OfferResult::NoResponse:
                    return UpdateError::OfferNoResponse;
                case OfferResult::NotSupported:  // no content without acceptance
                case OfferResult::UnexpectedStatus:
                default:
                    return UpdateError::OfferUnexpected;
            }
            if (content != ContentResult::Done) {
                return ContentFailureResult(content);
            }
        }
        if (accepted) {
            return UpdateError::Success;
        }
    }
    return UpdateError::RepetitionLimit;
}

}  // namespace zelk::engine
