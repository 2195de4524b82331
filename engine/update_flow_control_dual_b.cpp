#include "flow_control_policy.h"

namespace zelk::engine {

std::uint32_t UpdateFlowControlDualB::Run(std::vector<const ImageEntry*> images, std::uint8_t) {
    std::erase(images, nullptr);
    if (images.empty()) {
        return policy_result::kWrongImageCount;
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
                        return policy_result::kRepetitionLimit;
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
                        return policy_result::kLastImageRejected;
                    }
                    break;
                case OfferResult::SendFailed:
                    return policy_result::kOfferSendFailed;
                case OfferResult::NoResponse:
                    return policy_result::kOfferNoResponse;
                case OfferResult::NotSupported:  // no content without acceptance
                case OfferResult::UnexpectedStatus:
                default:
                    return policy_result::kOfferUnexpected;
            }
            if (content != ContentResult::Done) {
                return ContentFailureResult(content);
            }
        }
        if (accepted) {
            return policy_result::kDone;
        }
    }
    return policy_result::kRepetitionLimit;
}

}  // namespace zelk::engine
