#include <algorithm>

#include "flow_control_policy.h"

namespace zelk::engine {

std::uint32_t UpdateFlowControlSingleB::Run(std::vector<const ImageEntry*> images,
                                            std::uint8_t forceIgnoreVersion) {
    std::erase(images, nullptr);
    if (images.empty()) {
        return policy_result::kWrongImageCount;
    }
    const bool ignoreVersion = forceIgnoreVersion != 0;
    // Images accepted before this run; those accepted during it are offered
    // again on a later pass.
    const std::vector<std::int32_t> acceptedBefore =
        ignoreVersion ? AcceptedImageTags : std::vector<std::int32_t>{};
    bool answered = false;
    bool accepted = false;
    std::size_t handled = 0;
    LimitTransfers(images.size());

    for (std::uint32_t pass = 0; pass < kMaxPasses; ++pass) {
        for (const ImageEntry* image : images) {
            const std::uint8_t tag = image->ImageTag();
            if (ignoreVersion && std::find(acceptedBefore.begin(), acceptedBefore.end(), tag) !=
                                     acceptedBefore.end()) {
                ++handled;
                continue;
            }
            ContentResult content = ContentResult::Done;
            switch (OfferImage(*image)) {
                case OfferResult::Accepted:
                    if (!TakeTransfer()) {
                        return policy_result::kRepetitionLimit;
                    }
                    accepted = true;
                    answered = true;
                    Updater->SetImageTag(tag);
                    content = TransferImage(*image);
                    // An image counts as delivered only once its whole
                    // payload went through; a failed transfer is offered
                    // again by the next run.
                    if (content == ContentResult::Done && ignoreVersion) {
                        AcceptedImageTags.push_back(tag);
                        ++handled;
                    }
                    break;
                case OfferResult::Skipped:
                case OfferResult::Busy:
                    answered = true;
                    break;
                case OfferResult::Rejected:
                    if (ignoreVersion) {
                        ++handled;
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
            if (content == ContentResult::ContentFailed && ignoreVersion) {
                return policy_result::kContentFailedIgnoringVersion;
            }
            if (content != ContentResult::Done) {
                return ContentFailureResult(content);
            }
        }

        if (!ignoreVersion) {
            if (!answered) {
                return policy_result::kNoOfferAnswered;
            }
            if (accepted) {
                return policy_result::kBudAccepted;
            }
            continue;
        }
        if (!answered || accepted) {
            if (handled == images.size()) {
                return policy_result::kDone;
            }
            return answered ? policy_result::kBudAccepted : policy_result::kNoOfferAnswered;
        }
    }
    return policy_result::kRepetitionLimit;
}

}  // namespace zelk::engine
