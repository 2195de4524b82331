// The library calls the update driver makes, as an interface: the programs
// reach the library through CfuLibraryCalls (over the library's C edge, in
// the C interface's records and result codes), and tests put a decorator in
// between that makes a chosen call fail, so that every failure branch of a
// run can be reached, also those of calls a real library never fails.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capi/c_library.h"
#include "updatelib/cfu_library.h"

namespace zelk::app {

class UpdateLibrary {
  public:
    virtual ~UpdateLibrary() = default;

    virtual void SetConfig(const UpdateConfig& config) = 0;
    virtual void SetConfigEx(const UpdateConfig& config) = 0;
    virtual void SetUpdateOptions(const UpdateOptions& options) = 0;
    virtual void Initialize(std::int32_t deviceFamily) = 0;
    virtual void Uninitialize() = 0;

    virtual std::int32_t GetDeviceNumber() = 0;
    virtual ResultCode GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) = 0;

    virtual ResultCode StartAddImage() = 0;
    virtual ResultCode AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) = 0;
    virtual ResultCode StopAddImage() = 0;

    virtual ResultCode OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle) = 0;
    virtual ResultCode CloseDeviceEndpoint(EndpointHandle handle) = 0;
    virtual ResultCode GetDeviceDescription(EndpointHandle handle,
                                            DeviceDescription* description) = 0;
    virtual ResultCode RegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback) = 0;
    virtual ResultCode UnregisterUpdateStatusCallback(EndpointHandle handle) = 0;
    virtual ResultCode Update(EndpointHandle handle) = 0;

    // What the run reads besides the calls: the device's own answers after
    // a failed update, the image list and the device family (to check the
    // version afterwards), and the present interfaces (0 when listed; to
    // tell an unplugged device from one that reported an error).
    virtual cfu::DeviceAnswer LastDeviceAnswer(EndpointHandle handle) = 0;
    virtual const engine::ImageEntries& Images() = 0;
    virtual std::int32_t DeviceFamily() = 0;
    virtual int ListInterfaces(std::vector<std::u16string>& paths) = 0;
    // The serial string of the device behind an interface (empty: it has
    // none, or it cannot be read), to know the device again after a restart.
    virtual std::u16string InterfaceSerial(const std::u16string& path) = 0;
    // Who hears that a device answers Busy during an update (empty: nobody).
    // A library without that notice leaves it alone.
    virtual void SetBusyListener(cfu::CfuLibrary::BusyListener /*listener*/) {}
};

// The calls forwarded to a library object.
class CfuLibraryCalls final : public UpdateLibrary {
  public:
    explicit CfuLibraryCalls(cfu::CfuLibrary& library) : core_(library), library_(library) {}

    void SetConfig(const UpdateConfig& config) override { library_.SetConfig(config); }
    void SetConfigEx(const UpdateConfig& config) override { library_.SetConfigEx(config); }
    void SetUpdateOptions(const UpdateOptions& options) override {
        library_.SetUpdateOptions(options);
    }
    void Initialize(std::int32_t deviceFamily) override { library_.Initialize(deviceFamily); }
    void Uninitialize() override { library_.Uninitialize(); }

    std::int32_t GetDeviceNumber() override { return library_.GetDeviceNumber(); }
    ResultCode GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) override {
        return library_.GetDeviceEndpointPath(buffer, capacity);
    }

    ResultCode StartAddImage() override { return library_.StartAddImage(); }
    ResultCode AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) override {
        return library_.AddImage(offerPath, payloadPath);
    }
    ResultCode StopAddImage() override { return library_.StopAddImage(); }

    ResultCode OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle) override {
        return library_.OpenDeviceEndpoint(path, handle);
    }
    ResultCode CloseDeviceEndpoint(EndpointHandle handle) override {
        return library_.CloseDeviceEndpoint(handle);
    }
    ResultCode GetDeviceDescription(EndpointHandle handle,
                                    DeviceDescription* description) override {
        return library_.GetDeviceDescription(handle, description);
    }
    ResultCode RegisterUpdateStatusCallback(EndpointHandle handle,
                                            UpdateStatusCallback callback) override {
        return library_.RegisterUpdateStatusCallback(handle, callback);
    }
    ResultCode UnregisterUpdateStatusCallback(EndpointHandle handle) override {
        return library_.UnregisterUpdateStatusCallback(handle);
    }
    ResultCode Update(EndpointHandle handle) override { return library_.Update(handle); }

    void SetBusyListener(cfu::CfuLibrary::BusyListener listener) override {
        core_.SetBusyListener(std::move(listener));
    }
    cfu::DeviceAnswer LastDeviceAnswer(EndpointHandle handle) override {
        return core_.LastDeviceAnswer(handle);
    }
    const engine::ImageEntries& Images() override { return core_.Images(); }
    std::int32_t DeviceFamily() override { return core_.DeviceFamily(); }
    int ListInterfaces(std::vector<std::u16string>& paths) override {
        return core_.Backend().ListInterfaces(paths);
    }
    std::u16string InterfaceSerial(const std::u16string& path) override {
        std::u16string serial;
        core_.Backend().SerialNumber(path, serial);
        return serial;
    }

  private:
    cfu::CfuLibrary& core_;
    capi::CLibrary library_;
};

}  // namespace zelk::app
