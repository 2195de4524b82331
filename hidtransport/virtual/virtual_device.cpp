#include "hidtransport/virtual/virtual_device.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>

#include "hidtransport/report_descriptor.h"
#include "hidtransport/spin_wait.h"
#include "hidtransport/virtual/report_descriptor_builder.h"

namespace zelk::hid::virt {
namespace {

constexpr std::size_t kMaxVersionEntries = 7;
// Offer and information packets addressed to these "components" are not
// offers of an image; firmware acknowledges them without an update starting.
constexpr std::uint8_t kOfferInformationComponent = 0xFF;
constexpr std::uint8_t kOfferCommandComponent = 0xFE;

// Offer report: report ID, then the 16 bytes of the offer.
constexpr std::size_t kOfferReportLength = 17;
constexpr std::size_t kOfferComponentAt = 3;
constexpr std::size_t kOfferTokenAt = 4;
constexpr std::size_t kOfferVersionAt = 5;
constexpr std::size_t kOfferBankAt = 13;

constexpr std::size_t kResponseTokenAt = 4;
constexpr std::size_t kResponseRejectReasonAt = 9;
constexpr std::size_t kResponseStatusAt = 13;

constexpr std::size_t kContentHeaderLength = 9;
constexpr std::size_t kContentFlagsAt = 1;
constexpr std::size_t kContentLengthAt = 2;
constexpr std::size_t kContentSequenceAt = 3;
constexpr std::size_t kContentAddressAt = 5;
constexpr std::uint8_t kContentFirstBlock = 0x80;
constexpr std::uint8_t kContentLastBlock = 0x40;

constexpr std::size_t kContentResponseSequenceAt = 1;
constexpr std::size_t kContentResponseStatusAt = 5;

constexpr std::uint8_t kErasedFlash = 0xFF;

std::uint16_t ReadLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

// Writes the bytes of `value` that fall inside `out`: a report the device's
// layout made too short simply loses the fields that do not fit.
void PutLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        const std::size_t index = at + static_cast<std::size_t>(i);
        if (index < out.size()) {
            out[index] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
}

std::vector<std::uint8_t> ReportBuffer(const ReportLayout& layout) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(layout.size) + 1, 0);
    out[0] = layout.id;
    return out;
}

std::vector<std::uint8_t> DescriptorOf(const VirtualDeviceConfig& config) {
    return config.descriptor.empty() ? BuildReportDescriptor(config) : config.descriptor;
}

// The report length of the top-level collection that carries `reportId` for
// reports of `type`, as Windows checks a buffer against the collection its
// handle was opened on. Without such a collection (a descriptor that does not
// name the ID), the longest of that type.
std::size_t ReportLengthOf(const std::vector<std::uint8_t>& descriptor, HidReportType type,
                           std::uint8_t reportId) {
    std::string error;
    std::size_t longest = 0;
    for (const auto& collection :
         ParseReportDescriptor(descriptor.data(), descriptor.size(), error)) {
        const auto& caps = collection.caps;
        const std::size_t length = type == HidReportType::Output ? caps.OutputReportByteLength
                                                                 : caps.FeatureReportByteLength;
        const auto& ids = collection.reportIds[static_cast<int>(type)];
        if (std::find(ids.begin(), ids.end(), reportId) != ids.end()) {
            return length;
        }
        longest = std::max(longest, length);
    }
    return longest;
}

char16_t FoldCase(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Interface paths name the same interface whatever the letter case.
bool SamePath(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return FoldCase(x) == FoldCase(y); });
}

std::uint32_t InfoWord(const ComponentConfig& component) {
    constexpr std::uint32_t kOwnBits = 0x0000FF0Fu;  // bank, bud role, component ID
    return (component.bank & 0x3u) | ((component.budRole & 0x3u) << 2) |
           (static_cast<std::uint32_t>(component.id) << 8) | (component.extra & ~kOwnBits);
}

}  // namespace

std::u16string VirtualDevicePath(const VirtualDeviceConfig& config, std::size_t index,
                                 std::uint32_t instance) {
    char identity[32];
    std::snprintf(identity, sizeof identity, "VID_%04X&PID_%04X",
                  static_cast<unsigned>(config.vendorId), static_cast<unsigned>(config.productId));
    std::string text = std::string("\\\\?\\HID#") + identity;
    if (config.interfaceNumber >= 0) {
        char interface[8];
        std::snprintf(interface, sizeof interface, "&MI_%02X",
                      static_cast<unsigned>(config.interfaceNumber & 0xFF));
        text += interface;
    }
    // The instance part: as Windows numbers a device's nodes, a device that
    // comes back under a new node has the next one.
    char node[16];
    std::snprintf(node, sizeof node, "%04X", static_cast<unsigned>(instance & 0xFFFF));
    text += "#virtual&" + std::to_string(index) + "&" + node +
            "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    return std::u16string(text.begin(), text.end());
}

void PresenceBoard::Changed() {
    std::lock_guard lock(mutex_);
    ++changes_;
    changed_.notify_all();
}

void PresenceBoard::Scheduled(std::size_t index, Clock::time_point due) {
    std::lock_guard lock(mutex_);
    if (index >= nextDue_.size() || nextDue_[index] == due) {
        return;
    }
    const bool sooner = due < nextDue_[index];
    nextDue_[index] = due;
    if (sooner) {
        // A sleeping watch may be waiting past it.
        changed_.notify_all();
    }
}

std::uint64_t PresenceBoard::Changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
}

PresenceBoard::Wake PresenceBoard::Wait(std::uint64_t& seen, Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (changes_ != seen) {
            seen = changes_;
            return Wake::Changed;
        }
        const auto now = Clock::now();
        const auto due = nextDue_.empty() ? Clock::time_point::max()
                                          : *std::min_element(nextDue_.begin(), nextDue_.end());
        if (due <= now) {
            return Wake::Due;
        }
        if (now >= deadline) {
            return Wake::TimedOut;
        }
        changed_.wait_until(lock, std::min(deadline, due));
    }
}

std::vector<std::size_t> PresenceBoard::DueBy(Clock::time_point now) const {
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> due;
    for (std::size_t i = 0; i < nextDue_.size(); ++i) {
        if (nextDue_[i] <= now) {
            due.push_back(i);
        }
    }
    return due;
}

VirtualDevice::VirtualDevice(VirtualDeviceConfig config, std::size_t index, Clock::time_point start,
                             PresenceBoard* board)
    : VirtualDevice(std::move(config), std::u16string(), index, start, board) {}

VirtualDevice::VirtualDevice(VirtualDeviceConfig config, std::u16string path)
    : VirtualDevice(std::move(config), std::move(path), std::nullopt, Clock::now(), nullptr) {}

VirtualDevice::VirtualDevice(VirtualDeviceConfig config, std::u16string path,
                             std::optional<std::size_t> index, Clock::time_point start,
                             PresenceBoard* board)
    : config_(std::move(config)),
      index_(index),
      board_(board),
      path_(index ? VirtualDevicePath(config_, *index) : std::move(path)),
      serial_(config_.serial),
      descriptor_(DescriptorOf(config_)),
      outputReportLength_(ReportLengthOf(descriptor_, HidReportType::Output, config_.offer.id)),
      featureReportLength_(ReportLengthOf(descriptor_, HidReportType::Feature, config_.version.id)),
      plugged_(config_.schedule.empty() || !config_.schedule.front().plug),
      components_(config_.components),
      ruleUses_(config_.behaviour.contentScript.size(), 0),
      versionFailuresLeft_(config_.behaviour.versionFailures) {
    std::lock_guard lock(mutex_);
    for (const PresenceStep& step : config_.schedule) {
        QueuePresenceLocked(PresenceChange{start + std::chrono::milliseconds{step.atMs}, step.plug,
                                           step.plug && step.newNode, false});
    }
}

VirtualDevice::Clock::duration VirtualDevice::Latency() const {
    return std::chrono::microseconds{config_.behaviour.latencyUs};
}

std::optional<std::uint64_t> VirtualDevice::Connect() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    if (!plugged_) {
        return std::nullopt;
    }
    return session_;
}

std::optional<std::uint64_t> VirtualDevice::ConnectAt(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    if (!plugged_ || !SamePath(path_, path)) {
        return std::nullopt;
    }
    return session_;
}

std::u16string VirtualDevice::Path() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    return path_;
}

std::string VirtualDevice::Serial() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    return serial_;
}

std::optional<std::u16string> VirtualDevice::ListedPath() {
    return ListedPath(Clock::now());
}

std::optional<std::u16string> VirtualDevice::ListedPath(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked(now);
    if (!plugged_) {
        return std::nullopt;
    }
    return path_;
}

std::uint32_t VirtualDevice::NodeInstance() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    return instance_;
}

void VirtualDevice::ApplyPresenceChangesLocked() {
    if (!presenceChanges_.empty()) {
        ApplyPresenceChangesLocked(Clock::now());
    }
}

void VirtualDevice::ApplyPresenceChangesLocked(Clock::time_point now) {
    std::size_t applied = 0;
    for (; applied < presenceChanges_.size() && presenceChanges_[applied].due <= now; ++applied) {
        const PresenceChange& change = presenceChanges_[applied];
        if (!change.plug) {
            UnplugLocked();
            continue;
        }
        if (change.asNewNode && index_) {
            // Plugged back in meanwhile (a test's Plug): the old node still goes.
            UnplugLocked();
            ++instance_;
            path_ = VirtualDevicePath(config_, *index_, instance_);
            const auto& reappear = config_.behaviour.reappearAsNewNode;
            if (change.restart && reappear && reappear->serial) {
                serial_ = *reappear->serial;
            }
        }
        PlugLocked();
    }
    if (applied > 0) {
        presenceChanges_.erase(presenceChanges_.begin(),
                               presenceChanges_.begin() + static_cast<std::ptrdiff_t>(applied));
        TellBoardNextDueLocked();
    }
}

void VirtualDevice::QueuePresenceLocked(const PresenceChange& change) {
    // Equal due times keep their order, as the file wrote them.
    const auto at = std::upper_bound(
        presenceChanges_.begin(), presenceChanges_.end(), change.due,
        [](const Clock::time_point& t, const PresenceChange& queued) { return t < queued.due; });
    presenceChanges_.insert(at, change);
    TellBoardNextDueLocked();
}

void VirtualDevice::TellBoardNextDueLocked() {
    if (board_ != nullptr && index_) {
        board_->Scheduled(*index_, presenceChanges_.empty() ? Clock::time_point::max()
                                                            : presenceChanges_.front().due);
    }
}

void VirtualDevice::RestartLocked() {
    UnplugLocked();
    if (const auto& reappear = config_.behaviour.reappearAsNewNode) {
        QueuePresenceLocked(PresenceChange{
            Clock::now() + std::chrono::milliseconds{reappear->delayMs}, true, true, true});
    }
}

bool VirtualDevice::AliveLocked(std::uint64_t session) const {
    return plugged_ && session == session_;
}

bool VirtualDevice::IsSessionAlive(std::uint64_t session) const {
    std::lock_guard lock(mutex_);
    return AliveLocked(session);
}

void VirtualDevice::QueueLocked(std::vector<std::uint8_t> bytes, Clock::duration delay) {
    const auto ready = Clock::now() + delay;
    // Equal ready times keep their order, so undelayed answers come in turn.
    const auto at = std::upper_bound(
        input_.begin(), input_.end(), ready,
        [](const Clock::time_point& t, const PendingInput& pending) { return t < pending.ready; });
    input_.insert(at, PendingInput{ready, std::move(bytes), delay > Clock::duration::zero()});
    inputVersion_.fetch_add(1, std::memory_order_release);
    inputArrived_.notify_all();
}

void VirtualDevice::RecordLocked(const std::uint8_t* report, std::size_t length) {
    ++writtenCount_;
    if (written_.size() < kRecordLimit) {
        written_.emplace_back(report, report + length);
    }
}

bool VirtualDevice::WriteOutput(std::uint64_t session, const std::uint8_t* report,
                                std::size_t length) {
    if (report == nullptr || length == 0 || config_.behaviour.faults.writes) {
        return false;
    }
    std::lock_guard lock(mutex_);
    if (!AliveLocked(session)) {
        return false;
    }
    if (length != outputReportLength_) {
        ++refusedLengths_;  // as WriteFile refuses a buffer of another length
        return false;
    }
    if (report[0] == config_.offer.id) {
        return HandleOfferLocked(report, length);
    }
    if (report[0] == config_.content.id) {
        return HandleContentLocked(report, length);
    }
    return false;
}

bool VirtualDevice::HandleOfferLocked(const std::uint8_t* report, std::size_t length) {
    if (length < kOfferReportLength) {
        return false;
    }
    RecordLocked(report, length);
    const DeviceBehaviour& behaviour = config_.behaviour;
    const ReceivedOffer offer{report[kOfferComponentAt], report[kOfferTokenAt],
                              ReadLe32(report + kOfferVersionAt),
                              static_cast<std::uint8_t>((report[kOfferBankAt] >> 4) & 0x3)};
    if (behaviour.silent) {
        return true;
    }

    OfferAnswer answer;
    if (offer.componentId != kOfferInformationComponent &&
        offer.componentId != kOfferCommandComponent) {
        ++offers_;
        lastOffer_ = offer;
        if (!behaviour.offerAnswers.empty()) {
            answer =
                behaviour.offerAnswers[std::min(offerIndex_, behaviour.offerAnswers.size() - 1)];
        }
        ++offerIndex_;
        if (answer.silent) {
            return true;
        }
        // Firmware takes an image only for a component it has.
        const bool known = std::any_of(
            components_.begin(), components_.end(),
            [&](const ComponentConfig& component) { return component.id == offer.componentId; });
        if (!known && answer.status != kOfferBusy) {
            answer.status = kOfferReject;
            answer.rejectReason = kRejectInvalidComponent;
        }
        if (answer.status == kOfferAccept) {
            target_ = offer;
        } else {
            target_.reset();
        }
        blocksSinceOffer_ = 0;
        transferComplete_ = false;
        storedBlocks_.clear();
        lastBlockIndex_ = -1;
    }

    std::vector<std::uint8_t> response = ReportBuffer(config_.offerResponse);
    PutLe(response, kResponseTokenAt, offer.token, 1);
    PutLe(response, kResponseRejectReasonAt, answer.rejectReason, 1);
    PutLe(response, kResponseStatusAt, answer.status, 1);
    QueueLocked(std::move(response), Latency() + std::chrono::milliseconds{answer.delayMs});
    return true;
}

const ContentRule* VirtualDevice::TakeRuleLocked(std::uint16_t block) {
    const auto& script = config_.behaviour.contentScript;
    for (std::size_t i = 0; i < script.size(); ++i) {
        const ContentRule& rule = script[i];
        if (rule.block != block) {
            continue;
        }
        if (rule.times == 0) {
            return &rule;
        }
        if (ruleUses_[i] < rule.times) {
            ++ruleUses_[i];
            return &rule;
        }
    }
    return nullptr;
}

bool VirtualDevice::HandleContentLocked(const std::uint8_t* report, std::size_t length) {
    if (length < kContentHeaderLength) {
        return false;
    }
    const std::uint8_t flags = report[kContentFlagsAt];
    const std::size_t dataLength = std::min<std::size_t>(report[kContentLengthAt], kContentDataMax);
    if (length < kContentHeaderLength + dataLength) {
        return false;
    }
    RecordLocked(report, length);
    ++contentBlocks_;
    ++blocksSinceOffer_;
    const std::uint16_t sequence = ReadLe16(report + kContentSequenceAt);
    const std::uint32_t address = ReadLe32(report + kContentAddressAt);

    const ContentRule* rule = TakeRuleLocked(sequence);
    if (rule != nullptr && rule->unplug) {
        UnplugLocked();
        return true;
    }
    if (config_.behaviour.silent || (rule != nullptr && rule->silent)) {
        return true;
    }

    std::uint8_t status = rule != nullptr ? rule->status : kContentSuccess;
    if (status == kContentSuccess && !(rule != nullptr && rule->discard)) {
        if (!target_) {
            status = kContentNoOffer;
        } else if (address > kFlashCapacity || dataLength > kFlashCapacity - address) {
            status = kContentWriteError;
        } else {
            std::vector<std::uint8_t>& flash = flash_[target_->componentId];
            const std::size_t end = static_cast<std::size_t>(address) + dataLength;
            if (flash.size() < end) {
                flash.resize(end, kErasedFlash);
            }
            std::copy(report + kContentHeaderLength, report + kContentHeaderLength + dataLength,
                      flash.begin() + static_cast<std::ptrdiff_t>(address));
            if ((flags & kContentFirstBlock) != 0) {
                storedBlocks_.clear();
                lastBlockIndex_ = -1;
                transferComplete_ = false;
            }
            const std::int64_t index =
                BlockIndexLocked(sequence, (flags & kContentFirstBlock) != 0);
            if (index >= 0) {
                if (storedBlocks_.size() <= static_cast<std::size_t>(index)) {
                    storedBlocks_.resize(static_cast<std::size_t>(index) + 1, false);
                }
                storedBlocks_[static_cast<std::size_t>(index)] = true;
                lastBlockIndex_ = std::max(lastBlockIndex_, index);
            }
            if ((flags & kContentLastBlock) != 0 && !transferComplete_) {
                // The image is checked whole: every block from the first to
                // this one must be in place, or the image is not taken.
                const bool whole =
                    index >= 0 &&
                    std::all_of(storedBlocks_.begin(),
                                storedBlocks_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                                [](bool stored) { return stored; });
                if (whole) {
                    CompleteTransferLocked();
                } else {
                    ++incompleteImages_;
                    status = kContentVerifyError;
                }
            }
        }
    }

    std::vector<std::uint8_t> response = ReportBuffer(config_.contentResponse);
    const std::uint16_t answered = rule != nullptr && rule->sequence ? *rule->sequence : sequence;
    PutLe(response, kContentResponseSequenceAt, answered, 2);
    PutLe(response, kContentResponseStatusAt, status, 1);
    const std::uint32_t delayMs = rule != nullptr ? rule->delayMs : 0;
    QueueLocked(std::move(response), Latency() + std::chrono::milliseconds{delayMs});
    return true;
}

std::int64_t VirtualDevice::BlockIndexLocked(std::uint16_t sequence, bool first) {
    if (first) {
        firstSequence_ = sequence;
        return 0;
    }
    if (lastBlockIndex_ < 0) {
        return -1;  // no first block yet: nowhere to put it
    }
    // The place nearest to the last block stored that carries this number.
    const auto lastSequence = static_cast<std::uint16_t>(firstSequence_ + lastBlockIndex_);
    const auto delta =
        static_cast<std::int16_t>(static_cast<std::uint16_t>(sequence - lastSequence));
    const std::int64_t index = lastBlockIndex_ + delta;
    return index >= 0 ? index : -1;
}

void VirtualDevice::CompleteTransferLocked() {
    transferComplete_ = true;
    ++completed_;
    if (config_.behaviour.applyVersionOnComplete && target_) {
        for (ComponentConfig& component : components_) {
            if (component.id == target_->componentId) {
                component.version = target_->version;
            }
        }
    }
    if (config_.behaviour.unplugOnComplete || config_.behaviour.reappearAsNewNode) {
        // The last block's answer still goes out first.
        restartPending_ = true;
    }
}

std::vector<std::uint8_t> VirtualDevice::VersionReportLocked() const {
    std::vector<std::uint8_t> report = ReportBuffer(config_.version);
    const std::size_t entries = std::min(components_.size(), kMaxVersionEntries);
    const std::uint32_t count =
        config_.componentCount ? *config_.componentCount : static_cast<std::uint32_t>(entries);
    PutLe(report, 1, count, 1);
    PutLe(report, 4, config_.protocolFlags, 1);
    const bool zero = config_.behaviour.versionAnswer == VersionAnswer::Zero;
    for (std::size_t j = 0; j < entries; ++j) {
        const ComponentConfig& component = components_[j];
        PutLe(report, 5 + 8 * j, zero ? 0 : component.version, 4);
        PutLe(report, 9 + 8 * j, zero ? 0 : InfoWord(component), 4);
    }
    return report;
}

bool VirtualDevice::GetFeature(std::uint64_t session, std::uint8_t* buffer, std::size_t length) {
    if (buffer == nullptr || length == 0 || buffer[0] != config_.version.id) {
        return false;
    }
    if (length != featureReportLength_) {
        std::lock_guard lock(mutex_);
        ++refusedLengths_;
        return false;
    }
    if (config_.behaviour.latencyUs > 0) {
        std::this_thread::sleep_for(Latency());
    }
    std::lock_guard lock(mutex_);
    if (!AliveLocked(session)) {
        return false;
    }
    ++versionQueries_;
    if (versionFailuresLeft_ > 0) {
        --versionFailuresLeft_;
        return false;
    }
    const std::vector<std::uint8_t> report = VersionReportLocked();
    std::copy_n(report.begin(), std::min(length, report.size()), buffer);
    return true;
}

HidReadResult VirtualDevice::ReadInput(std::uint64_t session, std::uint8_t* buffer,
                                       std::size_t capacity, std::size_t& received,
                                       std::uint32_t timeoutMs) {
    // A host waits for an answer right after each write, so a reader with
    // nothing queued polls for a moment before it sleeps: an undelayed answer
    // then costs no scheduler wake-up. An answer with a delay is waited for
    // asleep, until it is due; how late that wake-up comes is recorded in
    // DelayedAnswerTiming, not hidden by spinning.
    constexpr auto kPoll = std::chrono::microseconds{50};
    received = 0;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::milliseconds{timeoutMs};
    std::unique_lock lock(mutex_);
    for (;;) {
        if (!AliveLocked(session)) {
            return HidReadResult::DeviceGone;
        }
        if (interruptRead_) {
            interruptRead_ = false;
            return HidReadResult::TimedOut;
        }
        const auto now = Clock::now();
        if (!input_.empty() && input_.front().ready <= now) {
            const PendingInput& pending = input_.front();
            if (pending.delayed) {
                const Clock::duration late = now - pending.ready;
                ++answerTiming_.answers;
                answerTiming_.totalLate += late;
                answerTiming_.maxLate = std::max(answerTiming_.maxLate, late);
            }
            received = std::min(capacity, pending.bytes.size());
            if (buffer != nullptr) {
                std::copy_n(pending.bytes.begin(), received, buffer);
            } else {
                received = 0;
            }
            input_.erase(input_.begin());
            if (restartPending_ && input_.empty()) {
                restartPending_ = false;
                RestartLocked();
            }
            return HidReadResult::Data;
        }
        if (now >= deadline) {
            return HidReadResult::TimedOut;
        }
        if (input_.empty() && now - start < kPoll) {
            // Poll without the lock, so the host's writes are not held up.
            const std::uint64_t seen = inputVersion_.load(std::memory_order_acquire);
            lock.unlock();
            SpinUntil(std::min<Clock::duration>(deadline - now, kPoll - (now - start)),
                      [&] { return inputVersion_.load(std::memory_order_acquire) != seen; });
            // The writer that just queued an answer still holds the lock for a
            // moment: wait for it here rather than asleep in the mutex.
            if (!SpinUntil(kPoll, [&] { return lock.try_lock(); })) {
                lock.lock();
            }
            continue;
        }
        const auto wake = input_.empty() ? deadline : std::min(deadline, input_.front().ready);
        inputArrived_.wait_until(lock, wake);
    }
}

void VirtualDevice::InterruptRead() {
    std::lock_guard lock(mutex_);
    interruptRead_ = true;
    inputVersion_.fetch_add(1, std::memory_order_release);
    inputArrived_.notify_all();
}

VirtualDevice::AnswerTiming VirtualDevice::DelayedAnswerTiming() const {
    std::lock_guard lock(mutex_);
    return answerTiming_;
}

void VirtualDevice::UnplugLocked() {
    if (!plugged_) {
        return;
    }
    plugged_ = false;
    if (board_ != nullptr) {
        board_->Changed();
    }
    ++session_;
    input_.clear();
    inputVersion_.fetch_add(1, std::memory_order_release);
    target_.reset();
    blocksSinceOffer_ = 0;
    transferComplete_ = false;
    storedBlocks_.clear();
    lastBlockIndex_ = -1;
    inputArrived_.notify_all();
}

void VirtualDevice::Unplug() {
    std::lock_guard lock(mutex_);
    UnplugLocked();
}

void VirtualDevice::PlugLocked() {
    if (plugged_) {
        return;
    }
    plugged_ = true;
    if (board_ != nullptr) {
        board_->Changed();
    }
}

void VirtualDevice::Plug() {
    std::lock_guard lock(mutex_);
    PlugLocked();
}

void VirtualDevice::ApplyDuePresence() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
}

bool VirtualDevice::IsPlugged() {
    std::lock_guard lock(mutex_);
    ApplyPresenceChangesLocked();
    return plugged_;
}

void VirtualDevice::InjectInputReport(std::vector<std::uint8_t> report,
                                      std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    QueueLocked(std::move(report), delay);
}

std::vector<std::vector<std::uint8_t>> VirtualDevice::WrittenReports() const {
    std::lock_guard lock(mutex_);
    return written_;
}

std::size_t VirtualDevice::WrittenReportCount() const {
    std::lock_guard lock(mutex_);
    return writtenCount_;
}

std::size_t VirtualDevice::OfferCount() const {
    std::lock_guard lock(mutex_);
    return offers_;
}

std::size_t VirtualDevice::ContentBlockCount() const {
    std::lock_guard lock(mutex_);
    return contentBlocks_;
}

std::size_t VirtualDevice::CompletedTransfers() const {
    std::lock_guard lock(mutex_);
    return completed_;
}

std::size_t VirtualDevice::VersionQueryCount() const {
    std::lock_guard lock(mutex_);
    return versionQueries_;
}

std::size_t VirtualDevice::RefusedLengthCount() const {
    std::lock_guard lock(mutex_);
    return refusedLengths_;
}

std::size_t VirtualDevice::IncompleteImageCount() const {
    std::lock_guard lock(mutex_);
    return incompleteImages_;
}

std::optional<ReceivedOffer> VirtualDevice::LastOffer() const {
    std::lock_guard lock(mutex_);
    return lastOffer_;
}

std::vector<std::uint8_t> VirtualDevice::ReadFlash(std::uint8_t componentId, std::uint32_t address,
                                                   std::size_t length) const {
    std::lock_guard lock(mutex_);
    const auto found = flash_.find(componentId);
    if (found == flash_.end() || address >= found->second.size()) {
        return {};
    }
    const std::vector<std::uint8_t>& flash = found->second;
    const std::size_t count = std::min(length, flash.size() - address);
    const auto begin = flash.begin() + static_cast<std::ptrdiff_t>(address);
    return std::vector<std::uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(count));
}

std::optional<std::uint32_t> VirtualDevice::ComponentVersion(std::uint8_t componentId) const {
    std::lock_guard lock(mutex_);
    for (const ComponentConfig& component : components_) {
        if (component.id == componentId) {
            return component.version;
        }
    }
    return std::nullopt;
}

}  // namespace zelk::hid::virt
