// The library calls an update run makes, as an interface in the library's own
// types: the programs reach a CfuLibrary through LibraryCalls, and tests put a
// decorator in between that makes a chosen call fail, so that every failure
// branch of a run can be reached, also those of calls a real library never
// fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/update_error.h"
#include "engine/update_types.h"
#include "updatelib/cfu_library.h"

namespace zelk::cfu {

class UpdateLibrary {
  public:
    virtual ~UpdateLibrary() = default;

    virtual void SetConfig(const engine::UpdateConfiguration& config) = 0;
    virtual void SetConfigEx(const engine::UpdateConfiguration& config) = 0;
    virtual void SetUpdateOptions(const engine::UpdateOptions& options) = 0;
    virtual void Initialize(std::int32_t deviceFamily) = 0;
    virtual void Uninitialize() = 0;

    // Finds the interfaces that fit the configuration; how many, 0 for none
    // (a listing that fails keeps the paths found before).
    virtual std::size_t MatchDevices() = 0;
    // The interfaces the last MatchDevices found, in the system's order.
    virtual UpdateError GetDeviceEndpointPaths(std::vector<std::u16string>& paths) = 0;

    virtual UpdateError StartAddImage() = 0;
    virtual UpdateError AddImage(std::u16string_view offerPath,
                                 std::u16string_view payloadPath) = 0;
    virtual UpdateError StopAddImage() = 0;

    // `handle` receives the opened endpoint, or kNoEndpoint when the open
    // failed; a failed open leaves nothing open behind (EndpointOpenFailed:
    // the path could not be opened; ReportsNotResolved: it could, but its
    // reports do not fit the configuration).
    virtual UpdateError OpenDeviceEndpoint(std::u16string_view path, EndpointHandle& handle) = 0;
    virtual UpdateError CloseDeviceEndpoint(EndpointHandle handle) = 0;
    virtual UpdateError GetDeviceDescription(EndpointHandle handle,
                                             DeviceComponents& description) = 0;
    // The listener stays the caller's; it must outlive its registration.
    virtual UpdateError RegisterProgressListener(EndpointHandle handle,
                                                 engine::ProgressListener* listener) = 0;
    virtual UpdateError UnregisterProgressListener(EndpointHandle handle) = 0;
    virtual UpdateError Update(EndpointHandle handle) = 0;

    // What the run reads besides the calls: the device's own answers after
    // a failed update, the image list and the device family (to check the
    // version afterwards), and the present interfaces (0 when listed; to
    // tell an unplugged device from one that reported an error).
    virtual DeviceAnswer LastDeviceAnswer(EndpointHandle handle) = 0;
    virtual const engine::ImageEntries& Images() = 0;
    virtual std::int32_t DeviceFamily() = 0;
    virtual int ListInterfaces(std::vector<std::u16string>& paths) = 0;
    // The serial string of the device behind an interface (empty: it has
    // none, or it cannot be read), to know the device again after a restart.
    virtual std::u16string InterfaceSerial(const std::u16string& path) = 0;
    // Who hears that a device answers Busy during an update (empty: nobody).
    // A library without that notice leaves it alone.
    virtual void SetBusyListener(CfuLibrary::BusyListener /*listener*/) {}
};

// The calls made on a library object.
class LibraryCalls final : public UpdateLibrary {
  public:
    explicit LibraryCalls(CfuLibrary& library) : library_(library) {}

    void SetConfig(const engine::UpdateConfiguration& config) override {
        library_.SetConfig(config);
    }
    void SetConfigEx(const engine::UpdateConfiguration& config) override {
        library_.SetConfigEx(config);
    }
    void SetUpdateOptions(const engine::UpdateOptions& options) override {
        library_.SetUpdateOptions(options);
    }
    void Initialize(std::int32_t deviceFamily) override { library_.Initialize(deviceFamily); }
    void Uninitialize() override { library_.Uninitialize(); }

    std::size_t MatchDevices() override;
    UpdateError GetDeviceEndpointPaths(std::vector<std::u16string>& paths) override;

    UpdateError StartAddImage() override { return library_.StartAddImage(); }
    UpdateError AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) override {
        return library_.AddImage(offerPath, payloadPath);
    }
    UpdateError StopAddImage() override { return library_.StopAddImage(); }

    UpdateError OpenDeviceEndpoint(std::u16string_view path, EndpointHandle& handle) override;
    UpdateError CloseDeviceEndpoint(EndpointHandle handle) override {
        return library_.CloseDeviceEndpoint(handle);
    }
    UpdateError GetDeviceDescription(EndpointHandle handle,
                                     DeviceComponents& description) override {
        return library_.DescribeDevice(handle, description);
    }
    UpdateError RegisterProgressListener(EndpointHandle handle,
                                         engine::ProgressListener* listener) override {
        return library_.RegisterProgressListener(handle, listener);
    }
    UpdateError UnregisterProgressListener(EndpointHandle handle) override {
        return library_.UnregisterProgressListener(handle);
    }
    UpdateError Update(EndpointHandle handle) override { return library_.Update(handle); }

    DeviceAnswer LastDeviceAnswer(EndpointHandle handle) override {
        return library_.LastDeviceAnswer(handle);
    }
    const engine::ImageEntries& Images() override { return library_.Images(); }
    std::int32_t DeviceFamily() override { return library_.DeviceFamily(); }
    int ListInterfaces(std::vector<std::u16string>& paths) override {
        return library_.Backend().ListInterfaces(paths);
    }
    std::u16string InterfaceSerial(const std::u16string& path) override;
    void SetBusyListener(CfuLibrary::BusyListener listener) override {
        library_.SetBusyListener(std::move(listener));
    }

  private:
    CfuLibrary& library_;
};

}  // namespace zelk::cfu
