// The flow-control policies: in which order images are offered, how each
// verdict of the device is acted on, and what the update's result is.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/image_entry.h"
#include "engine/update_error.h"
#include "engine/updater.h"

namespace zelk::engine {

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
    // Success when the policy's work is done, else why it stopped.
    virtual UpdateError Run(std::vector<const ImageEntry*> images, bool forceIgnoreVersion) = 0;

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
UpdateError ContentFailureResult(ContentResult result);

// One image, offered until the device stops skipping it.
class UpdateFlowControl final : public IFlowControlPolicy {
  public:
    using IFlowControlPolicy::IFlowControlPolicy;
    UpdateError Run(std::vector<const ImageEntry*> images, bool forceIgnoreVersion) override;
};

// Earbuds with one bank: passes over every image until the device has
// answered; with forceIgnoreVersion, images this device accepted earlier in
// the same image list are not offered again.
class UpdateFlowControlSingleB final : public IFlowControlPolicy {
  public:
    UpdateFlowControlSingleB(IUpdater* updater, std::vector<std::int32_t>& acceptedImageTags)
        : IFlowControlPolicy(updater), AcceptedImageTags(acceptedImageTags) {}
    UpdateError Run(std::vector<const ImageEntry*> images, bool forceIgnoreVersion) override;

  private:
    std::vector<std::int32_t>& AcceptedImageTags;
};

// Earbuds with two banks: passes over every image until one was accepted.
class UpdateFlowControlDualB final : public IFlowControlPolicy {
  public:
    using IFlowControlPolicy::IFlowControlPolicy;
    UpdateError Run(std::vector<const ImageEntry*> images, bool forceIgnoreVersion) override;
};

}  // namespace zelk::engine
