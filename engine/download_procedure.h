// CDownloadProcedure: one endpoint's side of an update. It owns the device
// connection, turns offers and payload records into reports, pairs the
// device's answers with them, and picks the flow-control policy that drives
// an update.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/cfu_messages.h"
#include "engine/engine_environment.h"
#include "engine/update_error.h"
#include "engine/update_types.h"
#include "engine/updater.h"
#include "hidtransport/auto_reset_event.h"
#include "hidtransport/hid_device.h"
#include "hidtransport/hid_send_manager.h"

namespace zelk::engine {

// The device's latest answers as a message may tell them, with how many of
// each arrived since the procedure was built (a caller compares the counts
// before and after an update to know whether the update saw one).
struct AnswerRecord {
    std::uint8_t OfferStatus = 0;
    std::uint8_t RejectReason = 0;  // byte 9 of the last offer response
    std::uint64_t OfferAnswers = 0;
    ContentAnswer Content;
    std::uint64_t ContentAnswers = 0;
};

class CDownloadProcedure final : public IUpdater {
  public:
    static constexpr std::uint64_t kNoEndpoint = ~std::uint64_t{0};
    static constexpr std::uint32_t kResponseWaitMs = 200;
    static constexpr std::uint32_t kLongResponseWaitMs = 2000;
    static constexpr int kAttemptsFamilyZero = 20;
    static constexpr int kAttempts = 10;
    static constexpr int kVersionAttemptsFamilyZero = 3;

    // `readWaitMs` bounds how long stopping the read thread may take.
    CDownloadProcedure(EngineEnvironment& env, const UpdateConfiguration& config,
                       std::uint32_t readWaitMs = hid::CHIDDevice::kReadWaitMs);
    // Stops reading; never closes the handle.
    ~CDownloadProcedure() override;
    CDownloadProcedure(const CDownloadProcedure&) = delete;
    CDownloadProcedure& operator=(const CDownloadProcedure&) = delete;

    // Opens `path` and resolves the reports. `*out` receives the handle value
    // in every case (all ones when the open failed). 0 done; 1 when the open or
    // the resolution failed (after a failed resolution the handle stays open).
    int OpenDevice(std::u16string_view path, std::uint64_t* out);
    // Works on a handle opened elsewhere.
    void Adopt(std::uint64_t handle);
    void CloseDevice();
    // The open interface and its backend, for the update lock.
    hid::HidHandle DeviceHandle() const { return device_.DeviceHandle(); }
    hid::HidBackend& Backend() const { return device_.Backend(); }
    // Completes the five report records from the device when the configuration
    // asks for it. 0 done, 1 when one cannot be resolved.
    int ResolveReports();
    // 0 read; 1 the report could not be read; 2 the report is shorter than 61
    // bytes; 3 the response carries no component (dest still receives it).
    int ReadFirmwareVersion(std::uint8_t* dest61);
    // ResolveReports, then ReadFirmwareVersion (three tries for family 0).
    // 1 when the reports cannot be resolved, else the read's result.
    int QueryFirmwareVersion(std::uint8_t* dest61);
    // Starts (true) or stops (false) reading answers and sending.
    void EnableTransfer(bool on);
    // Reads the version, checks the component and runs the policy that fits
    // it. Success, or why the update stopped.
    UpdateError Update();

    OfferResult SendOffer(const std::uint8_t* offer, std::int32_t length) override;
    ContentResult SendContent(const std::uint8_t* records, std::int32_t count) override;
    void SetImageTag(std::uint8_t tag) override;

    // Installs the listener of this endpoint's progress, which the caller keeps
    // alive while it is registered. False when one is registered already
    // (that one stays).
    bool RegisterListener(ProgressListener* listener);
    void UnregisterListener();

    std::uint64_t EndpointHandle() const { return endpointHandle_; }
    const UpdateConfiguration& Config() const { return config_; }
    const VersionResponse& StoredVersionResponse() const { return versionResponse_; }
    UpdateProgress CurrentStatus() const { return status_; }
    // The last answers stored and how many of each arrived. For messages and
    // tests; the update's decisions never read the reject reason.
    AnswerRecord LastAnswers() const;

  private:
    void OnInputReport(const std::uint8_t* report, std::uint16_t count);
    void PublishResponseIds();
    int Attempts() const;
    static std::uint32_t ResponseWait(const UpdateOptions& options);
    bool ReportLengthsUsable() const;
    // Waits up to `waitMs` for the event, as long as the answers that arrive
    // are not accepted: a report that is not the awaited answer uses up no
    // more than the time it took.
    template <class Accept>
    bool AwaitAnswer(std::uint32_t waitMs, Accept&& accept);
    // Handles the reports that are waiting to be read, before a command goes out.
    void TakeQueuedReports();
    // Sleeps for what is left of an attempt's wait that began at `sent`.
    void WaitOutAttempt(std::chrono::steady_clock::time_point sent, std::uint32_t waitMs);
    void AdvanceProgress(std::int32_t index, std::int32_t count);
    void Notify();
    // Tells the environment once per update that the device is busy.
    void TellBusy();

    EngineEnvironment& env_;
    UpdateConfiguration config_;
    // Image tags this device accepted with the version check off, since the
    // image list of the given generation was started.
    std::vector<std::int32_t> acceptedImageTags_;
    std::uint64_t acceptedTagsGeneration_ = 0;
    std::uint64_t endpointHandle_ = kNoEndpoint;
    VersionResponse versionResponse_{};
    UpdateProgress status_;
    std::atomic<ProgressListener*> listener_{nullptr};

    // Written by the read thread, read by the updating thread after the event.
    // Each answer is one word (arrival count in the high bits) so that a
    // reader never mixes the fields of two answers.
    std::atomic<std::uint64_t> offerAnswer_{0};
    std::atomic<std::uint64_t> contentAnswer_{0};
    // Stored before the offer answer it came with, so that a reader that saw
    // that answer sees its reason (or a later one's).
    std::atomic<std::uint8_t> offerRejectReason_{0};
    std::atomic<std::uint8_t> offerResponseId_{0};
    std::atomic<std::uint8_t> contentResponseId_{0};
    // How long offers answered Busy can hold the current update (set by
    // Update for the policy it runs), and whether that was told.
    std::uint64_t busyBoundMs_ = 0;
    bool busyTold_ = false;
    hid::AutoResetEvent responseEvent_;
    std::atomic<bool> responseEventValid_{false};

    hid::CHIDDevice device_;
    hid::CHidSendRcvMgr sendManager_;
};

}  // namespace zelk::engine
