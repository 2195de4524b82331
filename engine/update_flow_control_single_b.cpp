#include <algorithm>

#include "engine/flow_control_policy.h"

namespace zelk::engine {

UpdateError UpdateFlowControlSingleB::Run(std::vector<const ImageEntry*> images,
                                          bool forceIgnoreVersion) {
    std::erase(images, nullptr);
    if (images.empty()) {
        return UpdateError::WrongImageCount;
    }
    const bool ignoreVersion = forceIgnoreVersion;
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
                        return UpdateError::RepetitionLimit;
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
                    return UpdateError::OfferSendFailed;
                case OfferResult::NoResponse:
                    return UpdateError::OfferNoResponse;
                case OfferResult::NotSupported:  // no content without acceptance
                case OfferResult::UnexpectedStatus:
                default:
                    return UpdateError::OfferUnexpected;
            }
            if (content == ContentResult::ContentFailed && ignoreVersion) {
                return UpdateError::ContentFailedIgnoringVersion;
            }
            if (content != ContentResult::Done) {
                return ContentFailureResult(content);
            }
        }

        if (!ignoreVersion) {
            if (!answered) {
                return UpdateError::NoOfferAnswered;
            }
            if (accepted) {
                return UpdateError::SingleBankUnfinished;
            }
            continue;
        }
        if (!answered || accepted) {
            if (handled == images.size()) {
                return UpdateError::Success;
            }
            return answered ? UpdateError::SingleBankUnfinished : UpdateError::NoOfferAnswered;
        }
    }
    return UpdateError::RepetitionLimit;
}

}  // namespace zelk::engine
