// The flow-control policies: in which order images are offered, how each
// verdict of the device is acted on, and what the update's result is.
#pragma once

#include <cstdint>
#include <vector>

#include "image_entry.h"
#include "updater.h"
#include "zelk/cfu_result_codes.h"

namespace zelk::engine {

// Results of a policy run (and so of an update).
namespace policy_result {
inline constexpr std::uint32_t kDone = CFU_RESULT_SUCCESS;
inline constexpr std::uint32_t kOfferRefused = CFU_RESULT_REFUSED;  // standard: rejected or busy
inline constexpr std::uint32_t kNoOfferAnswered = CFU_RESULT_NOT_ANSWERED;  // single-bank buds
inline constexpr std::uint32_t kBudAccepted = CFU_RESULT_SINGLE_BANK_UNFINISHED;     // single-bank
inline constexpr std::uint32_t kLastImageRejected = CFU_RESULT_LAST_IMAGE_REJECTED;  // dual-bank
inline constexpr std::uint32_t kWrongImageCount = CFU_RESULT_WRONG_IMAGE_COUNT;
inline constexpr std::uint32_t kOfferSendFailed = CFU_RESULT_OFFER_SEND_FAILED;
inline constexpr std::uint32_t kOfferNoResponse = CFU_RESULT_OFFER_NO_RESPONSE;
inline constexpr std::uint32_t kOfferUnexpected = CFU_RESULT_OFFER_UNEXPECTED;
inline constexpr std::uint32_t kRepetitionLimit = CFU_RESULT_REPETITION_LIMIT;
inline constexpr std::uint32_t kContentFailed = CFU_RESULT_CONTENT_FAILED;
inline constexpr std::uint32_t kContentSequenceMismatch = CFU_RESULT_CONTENT_SEQUENCE_MISMATCH;
inline constexpr std::uint32_t kContentWriteError = CFU_RESULT_CONTENT_WRITE_ERROR;
inline constexpr std::uint32_t kContentNoResponse = CFU_RESULT_CONTENT_NO_RESPONSE;
inline constexpr std::uint32_t kContentFailedIgnoringVersion =
    CFU_RESULT_CONTENT_FAILED_IGNORING_VERSION;
}  // namespace policy_result

// A device that answers Skip for ever, or never settles a pass, must not keep
// an update going for ever. A pass of busy answers takes up to Attempts x the
// answer wait per image (a busy device is given that time), so 50 passes of a
// device that stays busy end after about 100 s per image.
inline constexpr std::uint32_t kMaxSkippedOffersInARow = 1000;
inline constexpr std::uint32_t kMaxPasses = 50;

class IFlowControlPolicy {
  public:
    explicit IFlowControlPolicy(IUpdater* updater) : Updater(updater) {}
    virtual ~IFlowControlPolicy() = default;
    virtual std::uint32_t Run(std::vector<const ImageEntry*> images,
                              std::uint8_t forceIgnoreVersion) = 0;

  protected:
    // Offers a fresh copy of the image's offer.
    OfferResult OfferImage(const ImageEntry& image);
    // Sends every payload record the image holds.
    ContentResult TransferImage(const ImageEntry& image);
    // A bud run needs at most one whole transfer per image: sets the budget.
    void LimitTransfers(std::size_t images) { transfersLeft_ = images; }
    // False when the run has used up its whole-image transfers.
    bool TakeTransfer();

    IUpdater* Updater;

  private:
    std::size_t transfersLeft_ = 1;
};

// The result of a content transfer that did not end in Done.
std::uint32_t ContentFailureResult(ContentResult result);

// One image, offered until the device stops skipping it.
class UpdateFlowControl final : public IFlowControlPolicy {
  public:
    using IFlowControlPolicy::IFlowControlPolicy;
    std::uint32_t Run(std::vector<const ImageEntry*> images,
                      std::uint8_t forceIgnoreVersion) override;
};

// Earbuds with one bank: passes over every image until the device has
// answered; with forceIgnoreVersion, images this device accepted earlier in
// the same image list are not offered again.
class UpdateFlowControlSingleB final : public IFlowControlPolicy {
  public:
    UpdateFlowControlSingleB(IUpdater* updater, std::vector<std::int32_t>& acceptedImageTags)
        : IFlowControlPolicy(updater), AcceptedImageTags(acceptedImageTags) {}
    std::uint32_t Run(std::vector<const ImageEntry*> images,
                      std::uint8_t forceIgnoreVersion) override;

  private:
    std::vector<std::int32_t>& AcceptedImageTags;
};

// Earbuds with two banks: passes over every image until one was accepted.
class UpdateFlowControlDualB final : public IFlowControlPolicy {
  public:
    using IFlowControlPolicy::IFlowControlPolicy;
    std::uint32_t Run(std::vector<const ImageEntry*> images,
                      std::uint8_t forceIgnoreVersion) override;
};

}  // namespace zelk::engine
