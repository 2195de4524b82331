// The library's whole state in one object: configuration, device family,
// interface paths, image list and endpoint registry, with the calls of an
// update in C++ types. The programs use it directly; the flat C interface
// (capi/) forwards to one process-wide instance; tests build their own on a
// backend of their choice.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/download_procedure.h"
#include "engine/engine_environment.h"
#include "engine/firmware_version.h"
#include "engine/update_error.h"
#include "engine/update_types.h"
#include "hidtransport/device_discovery.h"
#include "hidtransport/hid_platform.h"
#include "hidtransport/wait_clock.h"
#include "updatelib/image_list.h"

namespace zelk::cfu {

using engine::UpdateError;

// An opened (or adopted) HID interface; all ones means none.
using EndpointHandle = std::uint64_t;
inline constexpr EndpointHandle kNoEndpoint = engine::CDownloadProcedure::kNoEndpoint;

// What the device last answered on an endpoint during its latest update, for
// messages that name the device's own reason.
struct DeviceAnswer {
    bool OfferSeen = false;  // an offer response arrived during the update
    std::uint8_t OfferStatus = 0;
    std::uint8_t RejectReason = 0;
    bool ContentSeen = false;  // a content response arrived during the update
    std::uint8_t ContentStatus = 0;
    std::uint16_t ContentSequence = 0;
};

// One component of the device as its version response gives it.
struct ComponentVersion {
    engine::FirmwareVersionParts Version;  // decoded by device family
    std::uint32_t Info = 0;                // bits 0-1 bank, 2-3 bud role, 8-15 component ID
};

// The device's components, from its version response.
struct DeviceComponents {
    std::uint8_t ComponentCount = 0;  // as the device reported it
    std::uint8_t Reserved[2] = {};    // response bytes 2 and 3, as they came
    std::uint8_t ProtocolFlags = 0;
    std::vector<ComponentVersion> Components;  // the first min(ComponentCount, 7)
};

class CfuLibrary final : public engine::EngineEnvironment {
  public:
    // Endpoints registered by adoption (not by an open) are kept up to this
    // many; beyond it the oldest adopted one is dropped (its handle stays
    // open, as after uninitialising). Every stray value a caller passes
    // would otherwise hold a procedure until uninitialising.
    static constexpr std::size_t kMaxAdoptedEndpoints = 64;
    static constexpr std::size_t kMaxDescribedComponents = 7;

    CfuLibrary(hid::HidBackend& backend, WaitClock& clock);
    ~CfuLibrary() override;
    CfuLibrary(const CfuLibrary&) = delete;
    CfuLibrary& operator=(const CfuLibrary&) = delete;

    // Configuration. SetConfig disarms the matching step's capability filter,
    // SetConfigEx arms it with CheckReportCaps.
    void SetConfig(const engine::UpdateConfiguration& config);
    void SetConfigEx(const engine::UpdateConfiguration& config);
    void SetUpdateOptions(const engine::UpdateOptions& options);
    // Drop every registered endpoint without closing it (nothing happens
    // while an update runs); Initialize also sets the device family.
    void Initialize(std::int32_t deviceFamily);
    void Uninitialize();

    // Discovery: rebuilds InterfacePaths() from the interfaces that fit the
    // configuration and returns how many, or the listing's failure code (1,
    // 2 or 3) with the paths left as they were.
    int MatchDevices();
    // Lists every present interface into InterfacePaths(); how many, or 0
    // when the system's list could not be read.
    std::int64_t ListAllInterfaces();

    // Images. While an update runs (a call from its progress listener) the
    // list is read in place, so these are refused with UpdateRunning.
    UpdateError StartAddImage();
    UpdateError AddImage(std::u16string_view offerPath, std::u16string_view payloadPath);
    UpdateError StopAddImage();

    // Endpoints. `handle` must not hold a registered value on entry (it then
    // receives kNoEndpoint); it receives the opened handle, or kNoEndpoint when
    // the open failed (after a failed report resolution the handle stays open
    // and is given all the same).
    UpdateError OpenDeviceEndpoint(std::u16string_view path, EndpointHandle& handle);
    UpdateError CloseDeviceEndpoint(EndpointHandle handle);
    UpdateError DescribeDevice(EndpointHandle handle, DeviceComponents& components);
    // The listener stays the caller's; it must outlive its registration.
    UpdateError RegisterProgressListener(EndpointHandle handle, engine::ProgressListener* listener);
    UpdateError UnregisterProgressListener(EndpointHandle handle);
    // Offers the images and transfers what the device accepts. Never throws:
    // a failure inside (a listener that threw, no memory) is InternalError,
    // with the transfer switched off.
    UpdateError Update(EndpointHandle handle);

    // Registers a procedure that works on a handle value opened elsewhere, as
    // it is (nothing when it is registered already). For the C interface,
    // whose calls take any handle value.
    void AdoptEndpoint(EndpointHandle handle);

    // EngineEnvironment.
    hid::HidBackend& Backend() override { return backend_; }
    WaitClock& Clock() override { return clock_; }
    std::int32_t DeviceFamily() const override { return deviceFamily_; }
    engine::UpdateOptions Options() const override { return options_; }
    const engine::ImageEntries& Images() const override { return images_.Entries(); }
    void DeviceBusy(std::uint64_t endpoint, std::uint64_t waitMs) override;

    // Called (on the updating thread) when a device first answers Busy during
    // an update, with how long the update may keep offering; empty for none.
    // The progress statuses stay as they are.
    using BusyListener = std::function<void(EndpointHandle endpoint, std::uint64_t waitMs)>;
    void SetBusyListener(BusyListener listener) { busyListener_ = std::move(listener); }
    std::uint64_t ImageListGeneration() const override { return images_.Generation(); }

    const engine::UpdateConfiguration& Config() const { return config_; }
    bool CapsFilterArmed() const { return capsFilterArmed_; }
    const hid::InterfacePathList& InterfacePaths() const { return interfacePaths_; }
    bool IsRegistered(EndpointHandle handle) const { return endpoints_.count(handle) != 0; }
    // True while Update runs: the progress listener is called from inside it.
    bool UpdateRunning() const { return updateRunning_; }
    std::size_t RegisteredCount() const { return endpoints_.size(); }
    // The answers of the endpoint's latest Update call (or, before any, since
    // it was opened); nothing seen for a handle that is not registered.
    DeviceAnswer LastDeviceAnswer(EndpointHandle handle) const;

  private:
    engine::CDownloadProcedure* Find(EndpointHandle handle);
    void DropEndpoints();
    void ForgetAdopted(EndpointHandle handle);

    hid::HidBackend& backend_;
    WaitClock& clock_;
    engine::UpdateConfiguration config_{};
    bool capsFilterArmed_ = false;
    engine::UpdateOptions options_{};
    std::int32_t deviceFamily_ = -1;
    hid::InterfacePathList interfacePaths_;
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

// The instance the programs and the C calls share, on the process's active
// HID backend.
CfuLibrary& ProcessLibrary();

}  // namespace zelk::cfu
