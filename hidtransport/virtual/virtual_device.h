// A simulated CFU earbud: it answers version queries, offers and content blocks
// over HID reports exactly as firmware would, with scriptable misbehaviour, so
// that the updater can be exercised (and tested) without hardware.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hidtransport/hid_platform.h"

namespace zelk::hid::virt {

// One report of the device. `size` counts the bytes after the report ID.
struct ReportLayout {
    std::uint8_t id = 0;
    std::uint16_t usage = 0;
    std::uint16_t size = 0;
};

struct ComponentConfig {
    std::uint8_t id = 0;
    std::uint8_t bank = 0;     // 0..3
    std::uint8_t budRole = 0;  // 0..3
    std::uint32_t version = 0;
    // The remaining bits of the component's info word; the bits that carry
    // bank, bud role and ID are ignored.
    std::uint32_t extra = 0;
};

inline constexpr std::uint8_t kOfferSkip = 0x00;
inline constexpr std::uint8_t kOfferAccept = 0x01;
inline constexpr std::uint8_t kOfferReject = 0x02;
inline constexpr std::uint8_t kOfferBusy = 0x03;
inline constexpr std::uint8_t kOfferCommandReady = 0x04;
inline constexpr std::uint8_t kOfferNotSupported = 0xFF;

inline constexpr std::uint8_t kContentSuccess = 0x00;
inline constexpr std::uint8_t kContentWriteError = 0x02;
// The last block arrived but the image is not whole (a block is missing).
inline constexpr std::uint8_t kContentVerifyError = 0x04;
inline constexpr std::uint8_t kContentNoOffer = 0x0A;

// Why an offer was rejected (the byte beside the status in the answer).
inline constexpr std::uint8_t kRejectOldFirmware = 0x00;
inline constexpr std::uint8_t kRejectInvalidComponent = 0x01;

// Flash of one component never grows past this; blocks beyond it fail to write.
inline constexpr std::uint32_t kFlashCapacity = 64u * 1024u * 1024u;
// Data bytes one content block can carry.
inline constexpr std::size_t kContentDataMax = 52;

// The answer to one offer.
struct OfferAnswer {
    std::uint8_t status = kOfferAccept;
    std::uint8_t rejectReason = 0;
    std::uint32_t delayMs = 0;
    bool silent = false;  // no answer, and the offer is forgotten
};

// What happens when the content block with sequence number `block` arrives.
struct ContentRule {
    std::uint16_t block = 0;
    std::uint32_t times = 1;  // arrivals of that block the rule covers; 0 = all
    std::uint8_t status = kContentSuccess;
    std::optional<std::uint16_t> sequence;  // answer with this sequence number
    bool silent = false;                    // block lost: no answer, nothing stored
    std::uint32_t delayMs = 0;
    bool unplug = false;  // the device disappears instead of answering
    // Faulty firmware: the answer is given as scripted but nothing is stored.
    bool discard = false;
};

enum class VersionAnswer {
    Ok,
    Zero,  // version and info words all zero
};

struct DeviceFaults {
    bool open = false;        // Open fails
    bool descriptor = false;  // GetDescriptor gives nothing
    bool writes = false;      // SetOutputReport fails
};

struct DeviceBehaviour {
    // One entry per offer in turn; the last repeats. Empty: accept every offer.
    std::vector<OfferAnswer> offerAnswers;
    // The first rule that matches a block (and has arrivals left) applies.
    std::vector<ContentRule> contentScript;
    bool silent = false;  // never answer offers or content
    std::uint32_t latencyUs = 0;
    std::uint32_t versionFailures = 0;  // version queries that fail before one succeeds
    VersionAnswer versionAnswer = VersionAnswer::Ok;
    bool applyVersionOnComplete = true;
    // After a completed transfer the device restarts and does not come back
    // (as a bud that went back into its case).
    bool unplugOnComplete = false;
    // After a completed transfer the device restarts and comes back `delayMs`
    // later under a new node (the next instance part of its path), as real
    // buds do: same vendor, product and interface, flash and versions kept.
    struct Reappearance {
        std::uint32_t delayMs = 0;
        // The serial string it reports from then on; nothing: its own. (A
        // device that comes back as another one, for the host to refuse.)
        std::optional<std::string> serial;
    };
    std::optional<Reappearance> reappearAsNewNode;
    DeviceFaults faults;
};

// One step of a device's presence, counted from the backend's creation.
struct PresenceStep {
    std::uint32_t atMs = 0;
    bool plug = true;  // false: unplugged
    // A plug that comes back under the next instance path, as a restarted
    // device does.
    bool newNode = false;
};

struct VirtualDeviceConfig {
    std::string name;
    // The serial string the device reports (UTF-8); empty: it has none.
    std::string serial;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int interfaceNumber = -1;  // -1: the interface has no number
    std::uint16_t usagePage = 0xFF0B;
    std::uint16_t usage = 0x0104;
    ReportLayout version{0x20, 0x62, 60};          // feature
    ReportLayout offer{0x23, 0x8E, 60};            // output
    ReportLayout offerResponse{0x24, 0x8A, 16};    // input
    ReportLayout content{0x21, 0x61, 60};          // output
    ReportLayout contentResponse{0x22, 0x66, 16};  // input
    // Raw report descriptor; empty means one built from the layouts above.
    std::vector<std::uint8_t> descriptor;
    std::vector<ComponentConfig> components;
    std::uint8_t protocolFlags = 0x02;
    // Replaces the component count of the version report (entries written stay
    // at most 7).
    std::optional<std::uint8_t> componentCount;
    DeviceBehaviour behaviour;
    // When the device comes and goes, in increasing time; a device whose first
    // step is a plug starts unplugged.
    std::vector<PresenceStep> schedule;
};

// Shared by the devices of one backend: counts their changes of presence and
// keeps each one's next scheduled change, so that a watch can sleep until
// either comes. Devices call it under their own lock; it never calls them.
class PresenceBoard {
  public:
    using Clock = std::chrono::steady_clock;

    explicit PresenceBoard(std::size_t devices) : nextDue_(devices, Clock::time_point::max()) {}

    // A device came or went.
    void Changed();
    // The device at `index` has its next scheduled change at `due`
    // (Clock::time_point::max(): none).
    void Scheduled(std::size_t index, Clock::time_point due);
    std::uint64_t Changes() const;

    enum class Wake { Changed, Due, TimedOut };
    // Waits until the count of changes differs from `seen` (Changed; `seen`
    // takes the new count), a scheduled change falls due (Due) or `deadline`
    // passes (TimedOut), whichever comes first.
    Wake Wait(std::uint64_t& seen, Clock::time_point deadline);
    // The devices whose scheduled change is due by `now`.
    std::vector<std::size_t> DueBy(Clock::time_point now) const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t changes_ = 0;
    std::vector<Clock::time_point> nextDue_;
};

// The interface path of the device at `index` of a virtual backend; `instance`
// counts the nodes the device had before (each return as a new node adds one).
std::u16string VirtualDevicePath(const VirtualDeviceConfig& config, std::size_t index,
                                 std::uint32_t instance = 0);

// The last offer the device took, for tests.
struct ReceivedOffer {
    std::uint8_t componentId = 0;
    std::uint8_t token = 0;
    std::uint32_t version = 0;
    std::uint8_t bank = 0;
};

// Thread-safe: the host reads input on one thread while it writes on another,
// and a test may unplug the device at any time.
//
// The host side works on a session (from Connect): unplugging ends it for good,
// as removing real hardware invalidates its handles; plugging back in starts a
// new one. Flash, versions and the script's progress survive an unplug; the
// offer in progress and unread input do not.
class VirtualDevice {
  public:
    using Clock = std::chrono::steady_clock;

    // `index`: the device's place in its backend, which its paths carry.
    // `start`: the moment the schedule counts from; `board`, when given, hears
    // of every change of presence and outlives the device.
    VirtualDevice(VirtualDeviceConfig config, std::size_t index,
                  Clock::time_point start = Clock::now(), PresenceBoard* board = nullptr);
    // A device whose path is `path` for good (it never comes back under a new
    // node): for hosts that give it a node of their own.
    VirtualDevice(VirtualDeviceConfig config, std::u16string path);

    const VirtualDeviceConfig& Config() const { return config_; }
    // The serial string it reports now (UTF-8; empty: none).
    std::string Serial();
    // The device's current interface path (it changes when the device comes
    // back under a new node).
    std::u16string Path();
    // The current path while the device is plugged in, else nothing: one look,
    // so that a listing never pairs an old path with a new presence.
    std::optional<std::u16string> ListedPath();
    // The same, with changes due by `now`: a listing reads the clock once for
    // all its devices.
    std::optional<std::u16string> ListedPath(Clock::time_point now);
    const std::vector<std::uint8_t>& DescriptorBytes() const { return descriptor_; }
    // Longest output report the descriptor allows, counting the report ID.
    // Like the Windows HID stack, the device takes output reports of exactly
    // this length and feature reads of exactly FeatureReportLength().
    std::size_t OutputReportLength() const { return outputReportLength_; }
    std::size_t FeatureReportLength() const { return featureReportLength_; }

    // The current session, or nothing while unplugged.
    std::optional<std::uint64_t> Connect();
    // The current session when the device is plugged in under `path` (letter
    // case aside), else nothing.
    std::optional<std::uint64_t> ConnectAt(std::u16string_view path);
    bool IsSessionAlive(std::uint64_t session) const;
    bool WriteOutput(std::uint64_t session, const std::uint8_t* report, std::size_t length);
    bool GetFeature(std::uint64_t session, std::uint8_t* buffer, std::size_t length);
    HidReadResult ReadInput(std::uint64_t session, std::uint8_t* buffer, std::size_t capacity,
                            std::size_t& received, std::uint32_t timeoutMs);

    void Unplug();
    void Plug();
    bool IsPlugged();
    // Makes every scheduled change that is due take effect now.
    void ApplyDuePresence();
    // Nodes the device had before its current one (0 until it first comes
    // back under a new node).
    std::uint32_t NodeInstance();
    // Makes a waiting ReadInput, or else the next one, return TimedOut at once.
    void InterruptRead();
    // Queues any input report, readable once `delay` has passed.
    void InjectInputReport(std::vector<std::uint8_t> report,
                           std::chrono::milliseconds delay = std::chrono::milliseconds{0});

    // Output reports the device took, oldest first; recording stops after
    // kRecordLimit of them (the count goes on).
    static constexpr std::size_t kRecordLimit = 200000;
    std::vector<std::vector<std::uint8_t>> WrittenReports() const;
    std::size_t WrittenReportCount() const;
    std::size_t OfferCount() const;
    std::size_t ContentBlockCount() const;
    std::size_t CompletedTransfers() const;
    std::size_t VersionQueryCount() const;
    // Output or feature reports refused for their length.
    std::size_t RefusedLengthCount() const;
    // Last blocks answered with kContentVerifyError: the image had a hole.
    std::size_t IncompleteImageCount() const;
    std::optional<ReceivedOffer> LastOffer() const;
    // The stored bytes of [address, address + length); shorter where the
    // flash was never written that far. Unwritten gaps read as 0xFF.
    std::vector<std::uint8_t> ReadFlash(std::uint8_t componentId, std::uint32_t address,
                                        std::size_t length) const;
    std::optional<std::uint32_t> ComponentVersion(std::uint8_t componentId) const;

    // How punctually the device's delayed answers reached the host: each is
    // due a set time after the report it answers, and counts as late by the
    // time between that moment and the read that took it (the device's own
    // timer and the reader's wake-up). A benchmark adds the lateness to the
    // device's time, so that what remains is the host's.
    struct AnswerTiming {
        std::size_t answers = 0;
        Clock::duration totalLate{0};
        Clock::duration maxLate{0};
    };
    AnswerTiming DelayedAnswerTiming() const;

  private:
    struct PendingInput {
        Clock::time_point ready;
        std::vector<std::uint8_t> bytes;
        bool delayed = false;
    };

    // A change of presence that falls due later: the file's schedule and a
    // restart's return. Applied whenever the device is looked at (listed,
    // opened, asked for its path or serial) or a watch wakes for it, so no
    // thread of its own is needed.
    struct PresenceChange {
        Clock::time_point due;
        bool plug = true;
        bool asNewNode = false;  // plugged in again under the next instance
        bool restart = false;    // the return of reappearAsNewNode
    };

    VirtualDevice(VirtualDeviceConfig config, std::u16string path, std::optional<std::size_t> index,
                  Clock::time_point start, PresenceBoard* board);

    bool AliveLocked(std::uint64_t session) const;
    void ApplyPresenceChangesLocked();
    void ApplyPresenceChangesLocked(Clock::time_point now);
    void RestartLocked();
    void QueueLocked(std::vector<std::uint8_t> bytes, Clock::duration delay);
    void UnplugLocked();
    void PlugLocked();
    void QueuePresenceLocked(const PresenceChange& change);
    void TellBoardNextDueLocked();
    void RecordLocked(const std::uint8_t* report, std::size_t length);
    bool HandleOfferLocked(const std::uint8_t* report, std::size_t length);
    bool HandleContentLocked(const std::uint8_t* report, std::size_t length);
    void CompleteTransferLocked();
    // The place of a block in the image, from its sequence number; -1 when it
    // has none (not block 0 on a first block, or no first block yet).
    std::int64_t BlockIndexLocked(std::uint16_t sequence, bool first);
    const ContentRule* TakeRuleLocked(std::uint16_t block);
    std::vector<std::uint8_t> VersionReportLocked() const;
    Clock::duration Latency() const;

    const VirtualDeviceConfig config_;
    // Where the paths come from: the backend index, or nothing for a fixed path.
    const std::optional<std::size_t> index_;
    PresenceBoard* const board_;
    std::u16string path_;  // guarded by mutex_
    std::uint32_t instance_ = 0;
    std::string serial_;                           // guarded by mutex_
    std::vector<PresenceChange> presenceChanges_;  // ordered by due time
    const std::vector<std::uint8_t> descriptor_;
    const std::size_t outputReportLength_;
    const std::size_t featureReportLength_;

    mutable std::mutex mutex_;
    std::condition_variable inputArrived_;
    bool plugged_ = true;
    // unplugOnComplete, reappearAsNewNode: the device restarts once the host
    // has read the answer that completed the transfer.
    bool restartPending_ = false;
    std::uint64_t session_ = 1;
    std::vector<PendingInput> input_;  // ordered by ready time
    bool interruptRead_ = false;
    AnswerTiming answerTiming_;
    // Changes whenever input_ gains a report or the device goes: lets a reader
    // poll for an answer without taking the lock.
    std::atomic<std::uint64_t> inputVersion_{0};

    std::vector<ComponentConfig> components_;
    std::map<std::uint8_t, std::vector<std::uint8_t>> flash_;
    std::vector<std::uint32_t> ruleUses_;
    std::size_t offerIndex_ = 0;
    std::uint32_t versionFailuresLeft_ = 0;

    // The transfer in progress: the component of the last accepted offer.
    std::optional<ReceivedOffer> target_;
    std::size_t blocksSinceOffer_ = 0;  // content reports of any outcome
    bool transferComplete_ = false;
    // Blocks of the transfer stored so far, by their place in the image (the
    // sequence number counted from the first block's, unwrapped past 65535),
    // for the check at the last block.
    std::vector<bool> storedBlocks_;
    std::int64_t lastBlockIndex_ = -1;
    std::uint16_t firstSequence_ = 0;

    std::optional<ReceivedOffer> lastOffer_;
    std::vector<std::vector<std::uint8_t>> written_;
    std::size_t writtenCount_ = 0;
    std::size_t offers_ = 0;
    std::size_t contentBlocks_ = 0;
    std::size_t completed_ = 0;
    std::size_t versionQueries_ = 0;
    std::size_t refusedLengths_ = 0;
    std::size_t incompleteImages_ = 0;
};

}  // namespace zelk::hid::virt
