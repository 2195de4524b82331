#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/flow_control_policy.h"

namespace zelk::engine {
namespace {

using OR = OfferResult;
using CR = ContentResult;

// Answers offers and transfers from a script; once a script is used up its
// last entry repeats.
class ScriptedUpdater final : public IUpdater {
  public:
    ScriptedUpdater(std::vector<OfferResult> offers, std::vector<ContentResult> contents)
        : offers_(std::move(offers)), contents_(std::move(contents)) {}

    OfferResult SendOffer(const std::uint8_t* offer, std::int32_t length) override {
        sentOffers.emplace_back(offer, offer + length);
        return Next(offers_, offerIndex_, OfferResult::NoResponse);
    }
    ContentResult SendContent(const std::uint8_t* records, std::int32_t count) override {
        transfers.push_back({records, count});
        return Next(contents_, contentIndex_, ContentResult::Done);
    }
    void SetImageTag(std::uint8_t tag) override { imageTags.push_back(tag); }

    // The tag (offer byte 1, low bits) of every offer sent, in order.
    std::vector<std::uint8_t> OfferedTags() const {
        std::vector<std::uint8_t> tags;
        for (const auto& offer : sentOffers) {
            tags.push_back(offer.size() > 1 ? static_cast<std::uint8_t>(offer[1] & 0x0F) : 0xEE);
        }
        return tags;
    }

    struct Transfer {
        const std::uint8_t* records;
        std::int32_t count;
    };
    std::vector<std::vector<std::uint8_t>> sentOffers;
    std::vector<Transfer> transfers;
    std::vector<std::uint8_t> imageTags;

  private:
    template <class T>
    static T Next(const std::vector<T>& script, std::size_t& index, T fallback) {
        if (script.empty()) {
            return fallback;
        }
        const T value = script[std::min(index, script.size() - 1)];
        ++index;
        return value;
    }

    std::vector<OfferResult> offers_;
    std::vector<ContentResult> contents_;
    std::size_t offerIndex_ = 0;
    std::size_t contentIndex_ = 0;
};

std::unique_ptr<ImageEntry> MakeImage(std::uint8_t tag, std::uint32_t records = 2) {
    auto image = std::make_unique<ImageEntry>();
    image->OfferSize = 16;
    image->Offer.assign(16, 0);
    image->Offer[1] = tag;
    image->Offer[2] = 0x0F;
    image->Offer[15] = 0xA5;
    image->RecordCount = records;
    image->Records.assign(records * kPayloadRecordSize, tag);
    return image;
}

enum class Kind { Standard, SingleB, DualB };

struct PolicyCase {
    std::string name;
    Kind kind;
    std::uint8_t flag;
    std::vector<std::uint8_t> images;  // their tags
    std::vector<OfferResult> offers;
    std::vector<ContentResult> contents;
    std::vector<std::int32_t> acceptedBefore;
    UpdateError expected;
    std::vector<std::uint8_t> offered;  // tags in order
    std::size_t transfers;
    std::vector<std::uint8_t> tagsSet;  // SetImageTag calls
    std::vector<std::int32_t> acceptedAfter;
};

struct Outcome {
    UpdateError result = UpdateError::Success;
    ScriptedUpdater updater;
    std::vector<std::int32_t> accepted;
};

Outcome RunCase(const PolicyCase& c) {
    Outcome outcome{UpdateError::Success, ScriptedUpdater(c.offers, c.contents), c.acceptedBefore};
    std::vector<std::unique_ptr<ImageEntry>> owned;
    std::vector<const ImageEntry*> images;
    for (std::uint8_t tag : c.images) {
        owned.push_back(MakeImage(tag));
        images.push_back(owned.back().get());
    }
    std::unique_ptr<IFlowControlPolicy> policy;
    switch (c.kind) {
        case Kind::Standard:
            policy = std::make_unique<UpdateFlowControl>(&outcome.updater);
            break;
        case Kind::SingleB:
            policy = std::make_unique<UpdateFlowControlSingleB>(&outcome.updater, outcome.accepted);
            break;
        case Kind::DualB:
            policy = std::make_unique<UpdateFlowControlDualB>(&outcome.updater);
            break;
    }
    outcome.result = policy->Run(images, c.flag != 0);
    return outcome;
}

TEST(FlowControlPolicy, ActsOnEveryVerdictAsTabled) {
    const std::vector<std::uint8_t> one{1};
    const std::vector<std::uint8_t> two{1, 2};
    const PolicyCase cases[] = {
        // Standard: exactly one image, offered until it is no longer skipped.
        {"standard two images",
         Kind::Standard,
         0,
         two,
         {OR::Accepted},
         {},
         {},
         UpdateError::WrongImageCount,
         {},
         0,
         {},
         {}},
        {"standard no image",
         Kind::Standard,
         0,
         {},
         {OR::Accepted},
         {},
         {},
         UpdateError::WrongImageCount,
         {},
         0,
         {},
         {}},
        {"standard accepted",
         Kind::Standard,
         0,
         one,
         {OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1},
         1,
         {},
         {}},
        {"standard command ready",
         Kind::Standard,
         1,
         one,
         {OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1},
         1,
         {},
         {}},
        {"standard rejected",
         Kind::Standard,
         0,
         one,
         {OR::Rejected},
         {},
         {},
         UpdateError::OfferRejected,
         {1},
         0,
         {},
         {}},
        {"standard busy",
         Kind::Standard,
         0,
         one,
         {OR::Busy},
         {},
         {},
         UpdateError::DeviceStayedBusy,
         {1},
         0,
         {},
         {}},
        {"standard skip x3 then accept",
         Kind::Standard,
         0,
         one,
         {OR::Skipped, OR::Skipped, OR::Skipped, OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1, 1, 1, 1},
         1,
         {},
         {}},
        {"standard send failed",
         Kind::Standard,
         0,
         one,
         {OR::SendFailed},
         {},
         {},
         UpdateError::OfferSendFailed,
         {1},
         0,
         {},
         {}},
        {"standard no response",
         Kind::Standard,
         0,
         one,
         {OR::NoResponse},
         {},
         {},
         UpdateError::OfferNoResponse,
         {1},
         0,
         {},
         {}},
        {"standard not supported",
         Kind::Standard,
         0,
         one,
         {OR::NotSupported},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},
        {"standard unexpected",
         Kind::Standard,
         0,
         one,
         {OR::UnexpectedStatus},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},
        {"standard content failed",
         Kind::Standard,
         1,
         one,
         {OR::Accepted},
         {CR::ContentFailed},
         {},
         UpdateError::ContentFailed,
         {1},
         1,
         {},
         {}},
        {"standard sequence mismatch",
         Kind::Standard,
         0,
         one,
         {OR::Accepted},
         {CR::SequenceMismatch},
         {},
         UpdateError::ContentSequenceMismatch,
         {1},
         1,
         {},
         {}},
        {"standard write error",
         Kind::Standard,
         0,
         one,
         {OR::Accepted},
         {CR::WriteError},
         {},
         UpdateError::ContentWriteError,
         {1},
         1,
         {},
         {}},
        {"standard content no response",
         Kind::Standard,
         0,
         one,
         {OR::Accepted},
         {CR::NoResponse},
         {},
         UpdateError::ContentNoResponse,
         {1},
         1,
         {},
         {}},

        // Single bank, without the flag.
        {"singleB empty",
         Kind::SingleB,
         0,
         {},
         {OR::Accepted},
         {},
         {},
         UpdateError::WrongImageCount,
         {},
         0,
         {},
         {}},
        {"singleB both accepted",
         Kind::SingleB,
         0,
         two,
         {OR::Accepted},
         {},
         {},
         UpdateError::SingleBankUnfinished,
         {1, 2},
         2,
         {1, 2},
         {}},
        {"singleB both rejected",
         Kind::SingleB,
         0,
         two,
         {OR::Rejected},
         {},
         {},
         UpdateError::NoOfferAnswered,
         {1, 2},
         0,
         {},
         {}},
        {"singleB busy pass then accept",
         Kind::SingleB,
         0,
         two,
         {OR::Busy, OR::Skipped, OR::Accepted, OR::Rejected},
         {},
         {},
         UpdateError::SingleBankUnfinished,
         {1, 2, 1, 2},
         1,
         {1},
         {}},
        // No content without an accepted offer.
        {"singleB not supported ends without content",
         Kind::SingleB,
         0,
         two,
         {OR::NotSupported, OR::Rejected},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},
        {"singleB content failed",
         Kind::SingleB,
         0,
         one,
         {OR::Accepted},
         {CR::ContentFailed},
         {},
         UpdateError::ContentFailed,
         {1},
         1,
         {1},
         {}},
        {"singleB write error",
         Kind::SingleB,
         1,
         one,
         {OR::Accepted},
         {CR::WriteError},
         {},
         UpdateError::ContentWriteError,
         {1},
         1,
         {1},
         {}},
        {"singleB send failed",
         Kind::SingleB,
         0,
         two,
         {OR::Busy, OR::SendFailed},
         {},
         {},
         UpdateError::OfferSendFailed,
         {1, 2},
         0,
         {},
         {}},
        {"singleB no response",
         Kind::SingleB,
         0,
         one,
         {OR::NoResponse},
         {},
         {},
         UpdateError::OfferNoResponse,
         {1},
         0,
         {},
         {}},
        {"singleB unexpected",
         Kind::SingleB,
         0,
         one,
         {OR::UnexpectedStatus},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},

        // Single bank, with the flag: accepted tags are remembered across runs.
        {"singleB flag both accepted",
         Kind::SingleB,
         1,
         two,
         {OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1, 2},
         2,
         {1, 2},
         {1, 2}},
        {"singleB flag all accepted before",
         Kind::SingleB,
         1,
         two,
         {OR::Accepted},
         {},
         {1, 2},
         UpdateError::Success,
         {},
         0,
         {},
         {1, 2}},
        {"singleB flag one accepted before",
         Kind::SingleB,
         1,
         two,
         {OR::Rejected},
         {},
         {1},
         UpdateError::Success,
         {2},
         0,
         {},
         {1}},
        {"singleB flag all rejected",
         Kind::SingleB,
         1,
         two,
         {OR::Rejected},
         {},
         {},
         UpdateError::Success,
         {1, 2},
         0,
         {},
         {}},
        {"singleB flag busy rejected then accepted",
         Kind::SingleB,
         1,
         two,
         {OR::Busy, OR::Rejected, OR::Accepted, OR::Rejected},
         {},
         {},
         UpdateError::SingleBankUnfinished,
         {1, 2, 1, 2},
         1,
         {1},
         {1}},
        {"singleB flag skipped then accepted",
         Kind::SingleB,
         1,
         one,
         {OR::Skipped, OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1, 1},
         1,
         {1},
         {1}},
        {"singleB flag content failed",
         Kind::SingleB,
         1,
         one,
         {OR::Accepted},
         {CR::ContentFailed},
         {},
         UpdateError::ContentFailedIgnoringVersion,
         {1},
         1,
         {1},
         {}},
        {"singleB flag sequence mismatch",
         Kind::SingleB,
         1,
         one,
         {OR::Accepted},
         {CR::SequenceMismatch},
         {},
         UpdateError::ContentSequenceMismatch,
         {1},
         1,
         {1},
         {}},

        // Dual bank.
        {"dualB empty",
         Kind::DualB,
         0,
         {},
         {OR::Accepted},
         {},
         {},
         UpdateError::WrongImageCount,
         {},
         0,
         {},
         {}},
        {"dualB one rejected",
         Kind::DualB,
         0,
         one,
         {OR::Rejected},
         {},
         {},
         UpdateError::LastImageRejected,
         {1},
         0,
         {},
         {}},
        {"dualB both rejected",
         Kind::DualB,
         0,
         two,
         {OR::Rejected},
         {},
         {},
         UpdateError::LastImageRejected,
         {1, 2},
         0,
         {},
         {}},
        {"dualB accepted then rejected",
         Kind::DualB,
         0,
         two,
         {OR::Accepted, OR::Rejected},
         {},
         {},
         UpdateError::Success,
         {1, 2},
         1,
         {},
         {}},
        {"dualB rejected then accepted",
         Kind::DualB,
         0,
         two,
         {OR::Rejected, OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1, 2},
         1,
         {},
         {}},
        {"dualB skipped then rejected starts a new pass",
         Kind::DualB,
         0,
         two,
         {OR::Skipped, OR::Rejected, OR::Rejected, OR::Accepted},
         {},
         {},
         UpdateError::Success,
         {1, 2, 1, 2},
         1,
         {},
         {}},
        {"dualB busy then last rejected",
         Kind::DualB,
         0,
         two,
         {OR::Busy, OR::Rejected, OR::Rejected},
         {},
         {},
         UpdateError::LastImageRejected,
         {1, 2, 1, 2},
         0,
         {},
         {}},
        {"dualB not supported ends without content",
         Kind::DualB,
         0,
         one,
         {OR::NotSupported, OR::Rejected},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},
        {"dualB content failed with flag",
         Kind::DualB,
         1,
         one,
         {OR::Accepted},
         {CR::ContentFailed},
         {},
         UpdateError::ContentFailed,
         {1},
         1,
         {},
         {}},
        {"dualB content no response",
         Kind::DualB,
         0,
         one,
         {OR::Accepted},
         {CR::NoResponse},
         {},
         UpdateError::ContentNoResponse,
         {1},
         1,
         {},
         {}},
        {"dualB send failed",
         Kind::DualB,
         0,
         one,
         {OR::SendFailed},
         {},
         {},
         UpdateError::OfferSendFailed,
         {1},
         0,
         {},
         {}},
        {"dualB no response",
         Kind::DualB,
         0,
         one,
         {OR::NoResponse},
         {},
         {},
         UpdateError::OfferNoResponse,
         {1},
         0,
         {},
         {}},
        {"dualB unexpected",
         Kind::DualB,
         0,
         one,
         {OR::UnexpectedStatus},
         {},
         {},
         UpdateError::OfferUnexpected,
         {1},
         0,
         {},
         {}},
    };
    for (const PolicyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = RunCase(c);
        EXPECT_EQ(outcome.result, c.expected);
        EXPECT_EQ(outcome.updater.OfferedTags(), c.offered);
        EXPECT_EQ(outcome.updater.transfers.size(), c.transfers);
        EXPECT_EQ(outcome.updater.imageTags, c.tagsSet);
        EXPECT_EQ(outcome.accepted, c.acceptedAfter);
    }
}

// What each policy makes of one image's offer answer and content result. A
// device keeps giving the same answer, so an answer that asks for another try
// (Skipped, Busy under a bud policy) runs into the repetition bound.
struct VerdictRow {
    Kind policy;
    std::uint8_t forceIgnoreVersion;
    OfferResult offerAnswer;
    ContentResult contentResult;  // only for an accepted offer
    UpdateError result;
    std::size_t transfers;
};

TEST(FlowControlPolicy, VerdictTableOneImage) {
    using enum Kind;
    using UE = UpdateError;
    // clang-format off
    const VerdictRow rows[] = {
        // policy, flag, offer answer,      content result,       result,                            transfers
        {Standard, 0, OR::Accepted,         CR::Done,             UE::Success       ,                         1},
        {Standard, 0, OR::Skipped,          CR::Done,             UE::RepetitionLimit        ,                0},
        {Standard, 0, OR::Rejected,         CR::Done,             UE::OfferRejected ,                         0},
        {Standard, 0, OR::Busy,             CR::Done,             UE::DeviceStayedBusy,                         0},
        {Standard, 0, OR::SendFailed,       CR::Done,             UE::OfferSendFailed         ,               0},
        {Standard, 0, OR::NotSupported,     CR::Done,             UE::OfferUnexpected        ,                0},
        {Standard, 0, OR::NoResponse,       CR::Done,             UE::OfferNoResponse         ,               0},
        {Standard, 0, OR::UnexpectedStatus, CR::Done,             UE::OfferUnexpected        ,                0},
        {Standard, 1, OR::Accepted,         CR::ContentFailed,    UE::ContentFailed        ,                  1},
        {Standard, 0, OR::Accepted,         CR::SequenceMismatch, UE::ContentSequenceMismatch         ,       1},
        {Standard, 0, OR::Accepted,         CR::WriteError,       UE::ContentWriteError         ,             1},
        {Standard, 0, OR::Accepted,         CR::NoResponse,       UE::ContentNoResponse         ,             1},
        {SingleB,  0, OR::Accepted,         CR::Done,             UE::SingleBankUnfinished         ,          1},
        {SingleB,  1, OR::Accepted,         CR::Done,             UE::Success       ,                         1},
        {SingleB,  0, OR::Skipped,          CR::Done,             UE::RepetitionLimit        ,                0},
        {SingleB,  0, OR::Rejected,         CR::Done,             UE::NoOfferAnswered    ,                    0},
        {SingleB,  1, OR::Rejected,         CR::Done,             UE::Success       ,                         0},
        {SingleB,  0, OR::Busy,             CR::Done,             UE::RepetitionLimit        ,                0},
        {SingleB,  0, OR::SendFailed,       CR::Done,             UE::OfferSendFailed         ,               0},
        {SingleB,  0, OR::NotSupported,     CR::Done,             UE::OfferUnexpected        ,                0},
        {SingleB,  0, OR::NoResponse,       CR::Done,             UE::OfferNoResponse         ,               0},
        {SingleB,  0, OR::UnexpectedStatus, CR::Done,             UE::OfferUnexpected        ,                0},
        {SingleB,  0, OR::Accepted,         CR::ContentFailed,    UE::ContentFailed        ,                  1},
        {SingleB,  1, OR::Accepted,         CR::ContentFailed,    UE::ContentFailedIgnoringVersion          , 1},
        {SingleB,  0, OR::Accepted,         CR::SequenceMismatch, UE::ContentSequenceMismatch         ,       1},
        {SingleB,  1, OR::Accepted,         CR::WriteError,       UE::ContentWriteError         ,             1},
        {SingleB,  0, OR::Accepted,         CR::NoResponse,       UE::ContentNoResponse         ,             1},
        {DualB,    0, OR::Accepted,         CR::Done,             UE::Success       ,                         1},
        {DualB,    0, OR::Skipped,          CR::Done,             UE::RepetitionLimit        ,                0},
        {DualB,    0, OR::Rejected,         CR::Done,             UE::LastImageRejected         ,             0},
        {DualB,    0, OR::Busy,             CR::Done,             UE::RepetitionLimit        ,                0},
        {DualB,    0, OR::SendFailed,       CR::Done,             UE::OfferSendFailed         ,               0},
        {DualB,    0, OR::NotSupported,     CR::Done,             UE::OfferUnexpected        ,                0},
        {DualB,    0, OR::NoResponse,       CR::Done,             UE::OfferNoResponse         ,               0},
        {DualB,    0, OR::UnexpectedStatus, CR::Done,             UE::OfferUnexpected        ,                0},
        {DualB,    1, OR::Accepted,         CR::ContentFailed,    UE::ContentFailed        ,                  1},
        {DualB,    0, OR::Accepted,         CR::SequenceMismatch, UE::ContentSequenceMismatch         ,       1},
        {DualB,    0, OR::Accepted,         CR::WriteError,       UE::ContentWriteError         ,             1},
        {DualB,    0, OR::Accepted,         CR::NoResponse,       UE::ContentNoResponse         ,             1},
    };
    // clang-format on
    for (const VerdictRow& row : rows) {
        PolicyCase c{};
        c.kind = row.policy;
        c.flag = row.forceIgnoreVersion;
        c.images = {1};
        c.offers = {row.offerAnswer};
        c.contents = {row.contentResult};
        const Outcome outcome = RunCase(c);
        EXPECT_EQ(outcome.result, row.result)
            << "policy " << static_cast<int>(row.policy) << " flag " << int{row.forceIgnoreVersion}
            << " offer " << static_cast<int>(row.offerAnswer) << " content "
            << static_cast<int>(row.contentResult);
        EXPECT_EQ(outcome.updater.transfers.size(), row.transfers)
            << "policy " << static_cast<int>(row.policy) << " offer "
            << static_cast<int>(row.offerAnswer);
    }
}

TEST(FlowControlPolicy, EndlessRepetitionStopsAtTheBound) {
    const std::vector<std::uint8_t> two{1, 2};
    const PolicyCase cases[] = {
        {"standard skip forever",
         Kind::Standard,
         0,
         {1},
         {OR::Skipped},
         {},
         {},
         UpdateError::RepetitionLimit,
         {},
         0,
         {},
         {}},
        {"singleB busy forever",
         Kind::SingleB,
         0,
         two,
         {OR::Busy},
         {},
         {},
         UpdateError::RepetitionLimit,
         {},
         0,
         {},
         {}},
        {"singleB flag skip forever",
         Kind::SingleB,
         1,
         two,
         {OR::Skipped},
         {},
         {},
         UpdateError::RepetitionLimit,
         {},
         0,
         {},
         {}},
        {"dualB skip forever",
         Kind::DualB,
         0,
         two,
         {OR::Skipped},
         {},
         {},
         UpdateError::RepetitionLimit,
         {},
         0,
         {},
         {}},
    };
    const std::size_t expectedOffers[] = {kMaxSkippedOffersInARow, 2 * kMaxPasses, 2 * kMaxPasses,
                                          2 * kMaxPasses};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Outcome outcome = RunCase(cases[i]);
        EXPECT_EQ(outcome.result, UpdateError::RepetitionLimit);
        EXPECT_EQ(outcome.updater.sentOffers.size(), expectedOffers[i]);
    }
}

TEST(FlowControlPolicy, SingleBankRunRemembersAcceptedTagsForTheNextRun) {
    std::vector<std::int32_t> accepted;
    std::vector<std::unique_ptr<ImageEntry>> owned;
    owned.push_back(MakeImage(1));
    owned.push_back(MakeImage(2));
    const std::vector<const ImageEntry*> images{owned[0].get(), owned[1].get()};

    ScriptedUpdater first({OR::Accepted}, {});
    EXPECT_EQ(UpdateFlowControlSingleB(&first, accepted).Run(images, true), UpdateError::Success);
    EXPECT_EQ(accepted, (std::vector<std::int32_t>{1, 2}));

    ScriptedUpdater second({OR::Accepted}, {});
    EXPECT_EQ(UpdateFlowControlSingleB(&second, accepted).Run(images, true), UpdateError::Success);
    EXPECT_TRUE(second.sentOffers.empty());
    EXPECT_TRUE(second.transfers.empty());
}

TEST(FlowControlPolicy, AFailedTransferIsOfferedAgainByTheNextRun) {
    // A tag is remembered only once its image went through whole, so a
    // caller who retries after a failure gets the image sent, not a bare 0.
    std::vector<std::int32_t> accepted;
    std::vector<std::unique_ptr<ImageEntry>> owned;
    owned.push_back(MakeImage(1));
    const std::vector<const ImageEntry*> images{owned[0].get()};

    ScriptedUpdater failing({OR::Accepted}, {CR::NoResponse});
    EXPECT_EQ(UpdateFlowControlSingleB(&failing, accepted).Run(images, true),
              UpdateError::ContentNoResponse);
    EXPECT_TRUE(accepted.empty());

    ScriptedUpdater retry({OR::Accepted}, {});
    EXPECT_EQ(UpdateFlowControlSingleB(&retry, accepted).Run(images, true), UpdateError::Success);
    EXPECT_EQ(retry.transfers.size(), 1u);
    EXPECT_EQ(accepted, (std::vector<std::int32_t>{1}));
}

TEST(FlowControlPolicy, OffersAFreshCopyAndTransfersTheImagesRecords) {
    auto image = MakeImage(3, 5);
    image->Offer.resize(20, 0x77);  // longer than an offer: only 16 bytes go out
    ScriptedUpdater updater({OR::Accepted}, {});
    EXPECT_EQ(UpdateFlowControl(&updater).Run({image.get()}, false), UpdateError::Success);
    ASSERT_EQ(updater.sentOffers.size(), 1u);
    EXPECT_EQ(updater.sentOffers[0],
              std::vector<std::uint8_t>(image->Offer.begin(), image->Offer.begin() + 16));
    ASSERT_EQ(updater.transfers.size(), 1u);
    EXPECT_EQ(updater.transfers[0].records, image->Records.data());
    EXPECT_EQ(updater.transfers[0].count, 5);

    // A record count beyond the records held is cut to what is there.
    image->RecordCount = 9;
    ScriptedUpdater cut({OR::Accepted}, {});
    EXPECT_EQ(UpdateFlowControl(&cut).Run({image.get()}, false), UpdateError::Success);
    ASSERT_EQ(cut.transfers.size(), 1u);
    EXPECT_EQ(cut.transfers[0].count, 5);
}

}  // namespace
}  // namespace zelk::engine
