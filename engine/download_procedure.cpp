#include "engine/download_procedure.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "engine/component_table.h"
#include "engine/flow_control_policy.h"
#include "engine/image_entry.h"

namespace zelk::engine {
namespace {

// Bud components are handled as buds only under the families below this.
constexpr std::int32_t kBudFamilyLimit = 0x1000;
constexpr std::uint8_t kSingleBankBud = 0x0F;
constexpr std::uint8_t kDualBankBud = 0x10;
constexpr std::uint8_t kAnyComponent = 0xFF;
constexpr std::uint8_t kSingleBankSlot = 2;

constexpr int kOfferArrivalShift = 8;
constexpr int kContentArrivalShift = 24;
constexpr int kContentStatusShift = 16;

// Progress moves in steps of one percent up to 99; 100 means done.
constexpr std::int32_t kProgressSteps = 99;
constexpr std::uint8_t kProgressCeiling = 99;
constexpr std::uint8_t kProgressDone = 100;

// A content answer that carries the sequence number of a block completed
// earlier is a late or repeated answer to that block: it says nothing about
// the block in flight and is passed over.
bool AnswersCompletedBlock(std::uint16_t answered, std::uint16_t inFlight,
                           std::int32_t completedBlocks) {
    constexpr std::int32_t kMaxLookBack = 32768;
    const auto distance = static_cast<std::uint16_t>(inFlight - answered);
    return distance >= 1 && distance <= std::min(completedBlocks, kMaxLookBack);
}

// The progress status of a transfer that ended in `result` (not Done).
TransferStatus StatusOf(ContentResult result) {
    switch (result) {
        case ContentResult::SequenceMismatch:
            return TransferStatus::SequenceMismatch;
        case ContentResult::WriteError:
            return TransferStatus::WriteError;
        case ContentResult::NoResponse:
            return TransferStatus::NoResponse;
        default:
            return TransferStatus::ContentFailed;
    }
}

}  // namespace

CDownloadProcedure::CDownloadProcedure(EngineEnvironment& env, const UpdateConfiguration& config,
                                       std::uint32_t readWaitMs)
    : env_(env), config_(config), device_(env.Backend(), readWaitMs), sendManager_(device_) {
    PublishResponseIds();
    device_.SetRcvCallback(
        [this](const std::uint8_t* report, std::uint16_t count) { OnInputReport(report, count); });
}

CDownloadProcedure::~CDownloadProcedure() {
    sendManager_.EnableSend(false);
    responseEventValid_ = false;
    responseEvent_.AttachSource(nullptr);
    device_.EnableRead(false);
}

void CDownloadProcedure::PublishResponseIds() {
    offerResponseId_ = config_.OfferResponseReport.ReportId;
    contentResponseId_ = config_.ContentResponseReport.ReportId;
}

int CDownloadProcedure::OpenDevice(std::u16string_view path, std::uint64_t* out) {
    const bool opened = device_.Open(path) == 0;
    if (out != nullptr) {
        *out = opened ? device_.DeviceHandle() : kNoEndpoint;
    }
    if (!opened || ResolveReports() != 0) {
        return 1;
    }
    endpointHandle_ = device_.DeviceHandle();
    return 0;
}

void CDownloadProcedure::Adopt(std::uint64_t handle) {
    endpointHandle_ = handle;
    device_.AttachHandle(handle);
}

void CDownloadProcedure::CloseDevice() {
    device_.Close();
    endpointHandle_ = kNoEndpoint;
}

int CDownloadProcedure::ResolveReports() {
    if (!config_.CheckReportCaps) {
        return 0;
    }
    hid::ReportLayout* const specs[] = {&config_.VersionReport, &config_.OfferResponseReport,
                                        &config_.ContentResponseReport, &config_.OfferReport,
                                        &config_.ContentReport};
    int result = 0;
    for (hid::ReportLayout* layout : specs) {
        if (!device_.ResolveReportLayout(*layout)) {
            result = 1;
            break;
        }
    }
    PublishResponseIds();
    return result;
}

int CDownloadProcedure::ReadFirmwareVersion(std::uint8_t* dest61) {
    const hid::ReportLayout layout = config_.VersionReport;
    if (layout.ReportLength == 0) {
        return 1;
    }
    std::vector<std::uint8_t> report(layout.ReportLength, 0);
    report[0] = layout.ReportId;
    if (!device_.ReadFeatureReport(report.data(), layout.ReportLength)) {
        return 1;
    }
    if (report.size() < kVersionResponseSize) {
        return 2;
    }
    VersionResponse response{};
    std::copy_n(report.begin(), kVersionResponseSize, response.begin());
    if (dest61 != nullptr) {
        std::memcpy(dest61, response.data(), response.size());
    }
    return IsVersionResponseValid(response) ? 0 : 3;
}

int CDownloadProcedure::QueryFirmwareVersion(std::uint8_t* dest61) {
    if (ResolveReports() != 0) {
        return 1;
    }
    const int tries = env_.DeviceFamily() == 0 ? kVersionAttemptsFamilyZero : 1;
    int result = 1;
    for (int attempt = 0; attempt < tries; ++attempt) {
        result = ReadFirmwareVersion(dest61);
        if (result == 0) {
            break;
        }
    }
    return result;
}

void CDownloadProcedure::EnableTransfer(bool on) {
    if (on) {
        // The thread that waits for an answer reads it itself (see
        // TakeQueuedReports and the event's source): handing each answer over
        // from the read thread would cost a second thread wake-up per block.
        device_.HoldReading(true);
        device_.EnableRead(true);
        responseEvent_.Reset();
        responseEvent_.AttachSource(&device_.HeldReadSource());
        responseEventValid_ = true;
        sendManager_.EnableSend(true);
        return;
    }
    sendManager_.EnableSend(false);
    responseEventValid_ = false;
    responseEvent_.AttachSource(nullptr);
    device_.EnableRead(false);
    device_.HoldReading(false);
}

void CDownloadProcedure::TakeQueuedReports() {
    // Reports that came while nobody read (between two waits, e.g. while the
    // status callback ran) are handled before the next command goes out, as
    // a read thread would have done: none of them can pass for its answer.
    // A device that keeps sending is not followed for ever.
    constexpr int kMostQueued = 64;
    const auto past = std::chrono::steady_clock::time_point{};  // nothing is waited for
    for (int i = 0; i < kMostQueued && device_.IsReadingHeld(); ++i) {
        if (device_.ReadHeld(past) != hid::HidReadResult::Data) {
            break;
        }
    }
}

bool CDownloadProcedure::ReportLengthsUsable() const {
    return config_.OfferReport.ReportLength >= kOfferCommandMinLength &&
           config_.ContentReport.ReportLength >= kContentCommandMinLength &&
           config_.OfferResponseReport.ReportLength >= kOfferAnswerMinLength &&
           config_.ContentResponseReport.ReportLength >= kContentAnswerMinLength;
}

UpdateError CDownloadProcedure::Update() {
    if (QueryFirmwareVersion(versionResponse_.data()) != 0) {
        return UpdateError::VersionQueryFailed;
    }
    const std::uint8_t componentId = FirstComponentId(versionResponse_);
    const std::uint8_t bank = FirstComponentBank(versionResponse_);
    const std::int32_t family = env_.DeviceFamily();
    if (componentId != kAnyComponent) {
        switch (CheckComponent(componentId, family)) {
            case ComponentCheck::UnknownComponent:
                return UpdateError::UnknownComponent;
            case ComponentCheck::FamilyNotListed:
                return UpdateError::FamilyNotListed;
            case ComponentCheck::Accepted:
                break;
        }
    }

    const bool bud =
        family < kBudFamilyLimit && (componentId == kSingleBankBud || componentId == kDualBankBud);
    // Outside the buds the device runs one bank and takes the image built for
    // the other one.
    const std::uint32_t wantedBank = bank == 0 ? 1 : 0;
    std::vector<const ImageEntry*> images;
    for (const auto& entry : env_.Images()) {
        if (entry != nullptr && (bud || entry->OfferBank == wantedBank)) {
            images.push_back(entry.get());
        }
    }
    if (!bud && images.empty()) {
        return UpdateError::NoImageForBank;
    }
    if (!ReportLengthsUsable()) {
        return UpdateError::ReportTooShort;
    }

    const bool forceIgnoreVersion = env_.Options().ForceIgnoreVersion;
    // Each offer is asked Attempts times, one answer wait apart, while the
    // device answers Busy; the bud policies offer every image again on each
    // of their passes.
    busyTold_ = false;
    busyBoundMs_ = std::uint64_t{ResponseWait(env_.Options())} *
                   static_cast<std::uint64_t>(Attempts()) * images.size() * (bud ? kMaxPasses : 1u);
    if (!bud) {
        UpdateFlowControl policy(this);
        return policy.Run(std::move(images), forceIgnoreVersion);
    }
    if (bank == kSingleBankSlot) {
        // The tags belong to this device: another bud that did not take the
        // image yet must still be offered it.
        if (acceptedTagsGeneration_ != env_.ImageListGeneration()) {
            acceptedImageTags_.clear();
            acceptedTagsGeneration_ = env_.ImageListGeneration();
        }
        UpdateFlowControlSingleB policy(this, acceptedImageTags_);
        return policy.Run(std::move(images), forceIgnoreVersion);
    }
    UpdateFlowControlDualB policy(this);
    return policy.Run(std::move(images), forceIgnoreVersion);
}

int CDownloadProcedure::Attempts() const {
    return env_.DeviceFamily() == 0 ? kAttemptsFamilyZero : kAttempts;
}

std::uint32_t CDownloadProcedure::ResponseWait(const UpdateOptions& options) {
    return options.LongResponseWait ? kLongResponseWaitMs : kResponseWaitMs;
}

template <class Accept>
bool CDownloadProcedure::AwaitAnswer(std::uint32_t waitMs, Accept&& accept) {
    if (!responseEventValid_) {
        return false;
    }
    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    const auto start = steady_clock::now();
    std::uint32_t remaining = waitMs;
    for (;;) {
        if (!env_.Clock().WaitForEvent(responseEvent_, remaining)) {
            return false;
        }
        if (accept()) {
            return true;
        }
        const auto elapsed =
            std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
        if (elapsed < 0 || static_cast<std::uint64_t>(elapsed) >= waitMs) {
            return false;
        }
        remaining = waitMs - static_cast<std::uint32_t>(elapsed);
    }
}

OfferResult CDownloadProcedure::SendOffer(const std::uint8_t* offer, std::int32_t length) {
    OfferBody body{};
    const auto copied = static_cast<std::size_t>(std::clamp<std::int32_t>(length, 0, kOfferSize));
    if (offer != nullptr) {
        std::copy_n(offer, copied, body.begin());
    }
    const UpdateOptions options = env_.Options();
    ApplyOfferOptions(body, options);

    const hid::ReportLayout layout = config_.OfferReport;
    std::vector<std::uint8_t> command(layout.ReportLength, 0);
    if (!BuildOfferCommand(body, layout.ReportId, command.data(), command.size())) {
        return OfferResult::SendFailed;
    }

    const int attempts = Attempts();
    const std::uint32_t waitMs = ResponseWait(options);
    for (int attempt = 1;; ++attempt) {
        const bool last = attempt >= attempts;
        TakeQueuedReports();
        responseEvent_.Reset();
        std::uint64_t seen = offerAnswer_.load(std::memory_order_acquire) >> kOfferArrivalShift;
        const auto sent = std::chrono::steady_clock::now();
        if (device_.WriteOutputReport(command.data(), layout.ReportLength) != 0) {
            return OfferResult::SendFailed;
        }
        std::uint8_t status = 0;
        const bool answered = AwaitAnswer(waitMs, [&] {
            const std::uint64_t word = offerAnswer_.load(std::memory_order_acquire);
            if ((word >> kOfferArrivalShift) == seen) {
                return false;  // woken by an answer of another kind
            }
            seen = word >> kOfferArrivalShift;
            status = static_cast<std::uint8_t>(word);
            return true;
        });
        if (!answered) {
            if (last) {
                return OfferResult::NoResponse;
            }
            continue;
        }
        switch (static_cast<OfferStatus>(status)) {
            case OfferStatus::Skip:
                return OfferResult::Skipped;
            case OfferStatus::Accept:
                return OfferResult::Accepted;
            case OfferStatus::Reject:
                return OfferResult::Rejected;
            case OfferStatus::NotSupported:
                return OfferResult::NotSupported;
            case OfferStatus::Busy:
                TellBusy();
                if (last) {
                    return OfferResult::Busy;
                }
                // A busy device is given the rest of this attempt's wait before
                // it is asked again, so the attempts span the whole bound
                // (Attempts x wait) instead of flooding it.
                WaitOutAttempt(sent, waitMs);
                continue;
            case OfferStatus::CommandReady:
                // Ready for an offer, not an acceptance of this one: offer again.
                if (last) {
                    return OfferResult::UnexpectedStatus;
                }
                continue;
            default:
                return OfferResult::UnexpectedStatus;
        }
    }
}

void CDownloadProcedure::WaitOutAttempt(std::chrono::steady_clock::time_point sent,
                                        std::uint32_t waitMs) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - sent)
                             .count();
    if (elapsed >= 0 && static_cast<std::uint64_t>(elapsed) < waitMs) {
        env_.Clock().SleepFor(waitMs - static_cast<std::uint32_t>(elapsed));
    }
}

void CDownloadProcedure::AdvanceProgress(std::int32_t index, std::int32_t count) {
    if (index == 0) {
        return;
    }
    if (count >= kProgressSteps) {
        const std::int32_t step = count / kProgressSteps;
        if (index % step == 0 && status_.Percentage < kProgressCeiling) {
            status_.Percentage = static_cast<std::uint8_t>(status_.Percentage + 1);
            status_.Status = TransferStatus::Fine;
            Notify();
        }
        return;
    }
    // Short payloads: one step per record.
    const std::int64_t share = static_cast<std::int64_t>(index) * kProgressDone / count;
    const auto target = static_cast<std::uint8_t>(std::min<std::int64_t>(share, kProgressCeiling));
    if (target > status_.Percentage) {
        status_.Percentage = target;
        status_.Status = TransferStatus::Fine;
        Notify();
    }
}

ContentResult CDownloadProcedure::SendContent(const std::uint8_t* records, std::int32_t count) {
    if (count > 0) {
        const hid::ReportLayout layout = config_.ContentReport;
        if (records == nullptr || layout.ReportLength < kContentCommandMinLength) {
            return ContentResult::ContentFailed;
        }
        std::vector<std::uint8_t> command(layout.ReportLength, 0);
        const UpdateOptions options = env_.Options();
        const std::uint32_t waitMs = ResponseWait(options);
        const int attempts = Attempts();
        const auto total = static_cast<std::size_t>(count);
        ContentBlock block;
        block.BaseAddress = RecordAddress(records);
        block.SequenceNumber = 0;

        for (std::int32_t index = 0; index < count; ++index) {
            AdvanceProgress(index, count);
            const std::uint8_t* record =
                records + static_cast<std::size_t>(index) * kPayloadRecordSize;
            block.Flags = ContentFlags(static_cast<std::size_t>(index), total);
            BuildContentCommand(record, block, layout.ReportId, command.data(), command.size());

            ContentResult failure = ContentResult::ContentFailed;
            bool done = false;
            for (int attempt = 1; attempt <= attempts && !done; ++attempt) {
                TakeQueuedReports();
                responseEvent_.Reset();
                std::uint64_t seen =
                    contentAnswer_.load(std::memory_order_acquire) >> kContentArrivalShift;
                if (device_.WriteOutputReport(command.data(), layout.ReportLength) != 0) {
                    return ContentResult::ContentFailed;
                }
                ContentAnswer answer;
                const bool answered = AwaitAnswer(waitMs, [&] {
                    const std::uint64_t word = contentAnswer_.load(std::memory_order_acquire);
                    if ((word >> kContentArrivalShift) == seen) {
                        return false;  // woken by an answer of another kind
                    }
                    seen = word >> kContentArrivalShift;
                    answer.SequenceNumber = static_cast<std::uint16_t>(word);
                    answer.Status = static_cast<std::uint8_t>(word >> kContentStatusShift);
                    return !AnswersCompletedBlock(answer.SequenceNumber, block.SequenceNumber,
                                                  index);
                });
                if (!answered) {
                    if (attempt < attempts) {
                        continue;
                    }
                    status_.Status = TransferStatus::NoResponse;
                    Notify();
                    return ContentResult::NoResponse;
                }
                if (answer.SequenceNumber != block.SequenceNumber) {
                    // Not this block's answer, whatever its status says: a
                    // success naming another block must not complete this one
                    // (it may have been lost), so it goes out again.
                    failure = ContentResult::SequenceMismatch;
                } else if (answer.Status == kContentStatusSuccess) {
                    done = true;
                } else if (answer.Status == kContentStatusWriteError) {
                    status_.Status = TransferStatus::WriteError;
                    Notify();
                    return ContentResult::WriteError;
                } else {
                    failure = ContentResult::ContentFailed;
                }
            }
            if (!done) {
                status_.Status = StatusOf(failure);
                Notify();
                return failure;
            }
            ++block.SequenceNumber;
        }
    }
    status_.Status = TransferStatus::Fine;
    status_.Percentage = kProgressDone;
    Notify();
    return ContentResult::Done;
}

void CDownloadProcedure::SetImageTag(std::uint8_t tag) {
    status_.ImageTag = tag;
    Notify();
}

void CDownloadProcedure::TellBusy() {
    if (!busyTold_) {
        busyTold_ = true;
        // An offer sent outside Update is held by its own attempts only.
        const std::uint64_t bound = busyBoundMs_ != 0
                                        ? busyBoundMs_
                                        : std::uint64_t{ResponseWait(env_.Options())} *
                                              static_cast<std::uint64_t>(Attempts());
        env_.DeviceBusy(endpointHandle_, bound);
    }
}

void CDownloadProcedure::Notify() {
    ProgressListener* const listener = listener_.load();
    if (listener != nullptr) {
        const UpdateProgress copy = status_;
        listener->OnProgress(endpointHandle_, copy);
    }
}

bool CDownloadProcedure::RegisterListener(ProgressListener* listener) {
    ProgressListener* expected = nullptr;
    return listener_.compare_exchange_strong(expected, listener);
}

void CDownloadProcedure::UnregisterListener() {
    listener_ = nullptr;
}

AnswerRecord CDownloadProcedure::LastAnswers() const {
    AnswerRecord record;
    const std::uint64_t offer = offerAnswer_.load(std::memory_order_acquire);
    record.OfferStatus = static_cast<std::uint8_t>(offer);
    record.OfferAnswers = offer >> kOfferArrivalShift;
    record.RejectReason = offerRejectReason_.load(std::memory_order_relaxed);
    const std::uint64_t content = contentAnswer_.load(std::memory_order_acquire);
    record.Content.SequenceNumber = static_cast<std::uint16_t>(content);
    record.Content.Status = static_cast<std::uint8_t>(content >> kContentStatusShift);
    record.ContentAnswers = content >> kContentArrivalShift;
    return record;
}

void CDownloadProcedure::OnInputReport(const std::uint8_t* report, std::uint16_t count) {
    if (report == nullptr || count == 0) {
        return;  // the device is gone; the waits run out on their own
    }
    switch (ClassifyInputReport(report, count, offerResponseId_, contentResponseId_)) {
        case InputReportKind::OfferResponse: {
            std::uint8_t status = 0;
            if (!ParseOfferResponse(report, count, status)) {
                return;
            }
            std::uint8_t reason = 0;
            if (ParseOfferRejectReason(report, count, reason)) {
                offerRejectReason_.store(reason, std::memory_order_relaxed);
            }
            const std::uint64_t arrivals =
                (offerAnswer_.load(std::memory_order_relaxed) >> kOfferArrivalShift) + 1;
            offerAnswer_.store((arrivals << kOfferArrivalShift) | status,
                               std::memory_order_release);
            break;
        }
        case InputReportKind::ContentResponse: {
            ContentAnswer answer;
            if (!ParseContentResponse(report, count, answer)) {
                return;
            }
            const std::uint64_t arrivals =
                (contentAnswer_.load(std::memory_order_relaxed) >> kContentArrivalShift) + 1;
            contentAnswer_.store(
                (arrivals << kContentArrivalShift) |
                    (static_cast<std::uint64_t>(answer.Status) << kContentStatusShift) |
                    answer.SequenceNumber,
                std::memory_order_release);
            break;
        }
        case InputReportKind::Other:
            return;
    }
    if (responseEventValid_) {
        responseEvent_.Set();
    }
}

}  // namespace zelk::engine
