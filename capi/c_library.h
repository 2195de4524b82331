// The library as the C interface sees it: C records, result codes, callbacks
// without a context, and handle values that may never have been opened
// through the library (they are adopted as endpoints). The flat C calls
// forward to the process-wide instance (ProcessCLibrary); tests build their
// own over their own CfuLibrary.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>

#include "updatelib/cfu_library.h"
#include "zelk/cfu_update.h"

namespace zelk::capi {

class CLibrary {
  public:
    explicit CLibrary(cfu::CfuLibrary& library);
    ~CLibrary();
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;

    void SetConfig(const UpdateConfig& config);
    void SetConfigEx(const UpdateConfig& config);
    void SetUpdateOptions(const UpdateOptions& options);
    void Initialize(std::int32_t deviceFamily) { library_.Initialize(deviceFamily); }
    void Uninitialize() { library_.Uninitialize(); }

    // The characters (NULs included) that all found paths need, 0 for none.
    std::int32_t GetDeviceNumber();
    ResultCode GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) const;
    std::int64_t GetAllDeviceNumber();
    std::uint8_t GetAllDeviceInfo(HIDDeviceInfo* records);

    ResultCode StartAddImage();
    ResultCode AddImage(std::u16string_view offerPath, std::u16string_view payloadPath);
    ResultCode StopAddImage();

    ResultCode OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle);
    ResultCode CloseDeviceEndpoint(EndpointHandle handle);
    // These four adopt a handle value that is not registered.
    ResultCode GetDeviceDescription(EndpointHandle handle, DeviceDescription* description);
    ResultCode RegisterUpdateStatusCallback(EndpointHandle handle, UpdateStatusCallback callback);
    ResultCode UnregisterUpdateStatusCallback(EndpointHandle handle);
    ResultCode Update(EndpointHandle handle);

    // The records as the caller last gave them (reserved bytes included).
    const UpdateConfig& Config() const { return config_; }
    const UpdateOptions& Options() const { return options_; }
    cfu::CfuLibrary& Library() { return library_; }

  private:
    // Hands an endpoint's progress to a C callback as an UpdateStatus.
    class CallbackListener;
    engine::ProgressListener* ListenerFor(UpdateStatusCallback callback);

    cfu::CfuLibrary& library_;
    UpdateConfig config_{};
    UpdateOptions options_{};
    // What the last GetAllDeviceNumber returned: the records a
    // GetAllDeviceInfo caller has room for, whatever the shared list holds by then.
    std::size_t allDeviceRoom_ = 0;
    // One listener per callback function, kept for the object's life: a
    // callback may unregister itself while its listener runs.
    std::map<UpdateStatusCallback, std::unique_ptr<CallbackListener>> listeners_;
};

// The instance behind the exported calls, over cfu::ProcessLibrary().
CLibrary& ProcessCLibrary();

}  // namespace zelk::capi
