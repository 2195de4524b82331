// The library's whole state in one object: configuration, device family,
// interface paths, image list and endpoint registry. The C calls forward to
// one process-wide instance; tests build their own on a backend of their choice.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "device_discovery.h"
#include "download_procedure.h"
#include "engine_environment.h"
#include "hid_platform.h"
#include "image_list.h"
#include "wait_clock.h"
#include "zelk/cfu_update.h"

namespace zelk::cfu {

// What the device last answered on an endpoint during its latest update, for
// messages that name the device's own reason. Not part of the C interface.
struct DeviceAnswer {
    bool OfferSeen = false;  // an offer response arrived during the update
    std::uint8_t OfferStatus = 0;
    std::uint8_t RejectReason = 0;
    bool ContentSeen = false;  // a content response arrived during the update
    std::uint8_t ContentStatus = 0;
    std::uint16_t ContentSequence = 0;
};

class CfuLibrary final : public engine::EngineEnvironment {
  public:
    // Endpoints registered by adoption (not by an open) are kept up to this
    // many; beyond it the oldest adopted one is dropped (its handle stays
    // open, as after uninitialising). Every stray value a caller passes
    // would otherwise hold a procedure until uninitialising.
    static constexpr std::size_t kMaxAdoptedEndpoints = 64;

    CfuLibrary(hid::HidBackend& backend, WaitClock& clock);
    ~CfuLibrary() override;
    CfuLibrary(const CfuLibrary&) = delete;
    CfuLibrary& operator=(const CfuLibrary&) = delete;

    // Configuration.
    void SetConfig(const UpdateConfig& config);
    void SetConfigEx(const UpdateConfig& config);
    void SetUpdateOptions(const UpdateOptions& options);
    void Initialize(std::int32_t deviceFamily);
    void Uninitialize();

    // Discovery.
    int MatchDevices();
    std::int32_t GetDeviceNumber();
    ResultCode GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) const;
    std::int64_t GetAllDeviceNumber();
    std::uint8_t GetAllDeviceInfo(HIDDeviceInfo* records);

    // Images. While an update runs (a call from its status callback) the
    // list is read in place, so these are refused with 14.
    ResultCode StartAddImage();
    ResultCode AddImage(std::u16string_view offerPath, std::u16string_view payloadPath);
    ResultCode StopAddImage();

    // Endpoints.
    ResultCode OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle);
    ResultCode CloseDeviceEndpoint(EndpointHandle handle);
    ResultCode GetDeviceDescription(EndpointHandle handle, DeviceDescription* description);
    ResultCode RegisterUpdateStatusCallback(EndpointHandle handle, UpdateStatusCallback callback);
    ResultCode UnregisterUpdateStatusCallback(EndpointHandle handle);
    ResultCode Update(EndpointHandle handle);

    // EngineEnvironment.
    hid::HidBackend& Backend() override { return backend_; }
    WaitClock& Clock() override { return clock_; }
    std::int32_t DeviceFamily() const override { return deviceFamily_; }
    UpdateOptions Options() const override { return options_; }
    const engine::ImageEntries& Images() const override { return images_.Entries(); }
    void DeviceBusy(std::uint64_t endpoint, std::uint64_t waitMs) override;

    // Called (on the updating thread) when a device first answers Busy during
    // an update, with how long the update may keep offering; empty for none.
    // Not part of the C interface, whose status values stay as they are.
    using BusyListener = std::function<void(EndpointHandle endpoint, std::uint64_t waitMs)>;
    void SetBusyListener(BusyListener listener) { busyListener_ = std::move(listener); }
    std::uint64_t ImageListGeneration() const override { return images_.Generation(); }

    const UpdateConfig& Config() const { return config_; }
    bool CapsFilterArmed() const { return capsFilterArmed_ != 0; }
    const hid::InterfacePathList& InterfacePaths() const { return interfacePaths_; }
    bool IsRegistered(EndpointHandle handle) const { return endpoints_.count(handle) != 0; }
    // True while Update runs: the status callback is called from inside it.
    bool UpdateRunning() const { return updateRunning_; }
    std::size_t RegisteredCount() const { return endpoints_.size(); }
    // The answers of the endpoint's latest Update call (or, before any, since
    // it was opened); nothing seen for a handle that is not registered.
    DeviceAnswer LastDeviceAnswer(EndpointHandle handle) const;

  private:
    // The registered procedure of `handle`, or a new one working on that handle
    // value as it is, registered under it.
    engine::CDownloadProcedure& Adopt(EndpointHandle handle);
    void DropEndpoints();
    void ForgetAdopted(EndpointHandle handle);

    hid::HidBackend& backend_;
    WaitClock& clock_;
    UpdateConfig config_{};
    std::uint8_t capsFilterArmed_ = 0;
    UpdateOptions options_{};
    std::int32_t deviceFamily_ = -1;
    hid::InterfacePathList interfacePaths_;
    // What the last GetAllDeviceNumber returned: the records a GetAllDeviceInfo
    // caller has room for, whatever the shared list holds by then.
    std::size_t allDeviceRoom_ = 0;
    ImageList images_;
    std::map<EndpointHandle, std::unique_ptr<engine::CDownloadProcedure>> endpoints_;
    // The registered handles that came by adoption, oldest first.
    std::deque<EndpointHandle> adopted_;
    // Per endpoint, the answer counts when its latest update began.
    struct AnswerCounts {
        std::uint64_t offers = 0;
        std::uint64_t contents = 0;
    };
    std::map<EndpointHandle, AnswerCounts> updateStartCounts_;
    bool updateRunning_ = false;
    BusyListener busyListener_;
};

// The instance behind the C calls, on the process's active HID backend.
CfuLibrary& ProcessLibrary();

}  // namespace zelk::cfu
