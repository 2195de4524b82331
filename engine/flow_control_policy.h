// The flow-control policies: in which order images are offered, how each
// verdict of the device is acted on, and what the update's result is.
#pragma once

#include <cstdint>
#include <vector>

#include "image_entry.h"
#include "updater.h"

namespace zelk::engine {

// Results of a policy run (and so of an update).
namespace policy_result {
inline constexpr std::uint32_t kDone = 0;
inline constexpr std::uint32_t kOfferRefused = 1;       // standard: rejected or busy
inline constexpr std::uint32_t kNoOfferAnswered = 2;    // single-bank buds: nothing answered
inline constexpr std::uint32_t kBudAccepted = 3;        // single-bank buds: ended with acceptance
inline constexpr std::uint32_t kLastImageRejected = 4;  // dual-bank buds
inline constexpr std::uint32_t kWrongImageCount = 15;
inline constexpr std::uint32_t kOfferSendFailed = 16;
inline constexpr std::uint32_t kOfferNoResponse = 17;
inline constexpr std::uint32_t kOfferUnexpected = 18;
inline constexpr std::uint32_t kRepetitionLimit = 19;
inline constexpr std::uint32_t kContentFailed = 20;
inline constexpr std::uint32_t kContentSequenceMismatch = 21;
inline constexpr std::uint32_t kContentWriteError = 22;
inline constexpr std::uint32_t kContentNoResponse = 23;
inline constexpr std::uint32_t kContentFailedIgnoringVersion = 24;
}  // namespace policy_result

// A device that answers Skip for ever, or never settles a pass, must not keep
// an update going for ever.
inline constexpr std::uint32_t kMaxSkippedOffersInARow = 1000;
inline constexpr std::uint32_t kMaxPasses = 1000;

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

    IUpdater* Updater;
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
// answered; with forceIgnoreVersion, images accepted earlier in the same image
// list are not offered again.
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
