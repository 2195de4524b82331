#include "capi/c_library.h"

#include <algorithm>
#include <limits>

#include "capi/hid_listing.h"
#include "capi/records.h"
#include "capi/result_codes.h"

namespace zelk::capi {

class CLibrary::CallbackListener final : public engine::ProgressListener {
  public:
    explicit CallbackListener(UpdateStatusCallback callback) : callback_(callback) {}
    void OnProgress(std::uint64_t endpoint, const engine::UpdateProgress& progress) override {
        const UpdateStatus status = ToRecord(progress);
        callback_(endpoint, &status);
    }

  private:
    const UpdateStatusCallback callback_;
};

CLibrary::CLibrary(cfu::CfuLibrary& library) : library_(library) {}

CLibrary::~CLibrary() = default;

void CLibrary::SetConfig(const UpdateConfig& config) {
    config_ = config;
    library_.SetConfig(FromRecord(config));
}

void CLibrary::SetConfigEx(const UpdateConfig& config) {
    config_ = config;
    library_.SetConfigEx(FromRecord(config));
}

void CLibrary::SetUpdateOptions(const UpdateOptions& options) {
    options_ = options;
    library_.SetUpdateOptions(FromRecord(options));
}

std::int32_t CLibrary::GetDeviceNumber() {
    if (library_.MatchDevices() == 0) {
        return 0;
    }
    std::int64_t characters = 0;
    for (const std::u16string& path : library_.InterfacePaths()) {
        characters += static_cast<std::int64_t>(path.size()) + 1;
    }
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(characters, std::numeric_limits<std::int32_t>::max()));
}

ResultCode CLibrary::GetDeviceEndpointPath(char16_t* buffer, std::int32_t capacity) const {
    const std::int64_t room = std::max<std::int32_t>(capacity, 0);
    std::int64_t offset = 0;
    for (const std::u16string& path : library_.InterfacePaths()) {
        const std::int64_t needed = offset + static_cast<std::int64_t>(path.size()) + 1;
        if (needed > room || buffer == nullptr) {
            return ToResultCode(engine::UpdateError::PathListTooSmall);
        }
        std::copy(path.begin(), path.end(), buffer + offset);
        buffer[needed - 1] = u'\0';
        offset = needed;
    }
    return CFU_RESULT_SUCCESS;
}

std::int64_t CLibrary::GetAllDeviceNumber() {
    const std::int64_t count = library_.ListAllInterfaces();
    allDeviceRoom_ = static_cast<std::size_t>(count);
    return count;
}

std::uint8_t CLibrary::GetAllDeviceInfo(HIDDeviceInfo* records) {
    return capi::GetAllDeviceInfo(library_.Backend(), library_.InterfacePaths(), allDeviceRoom_,
                                  records);
}

ResultCode CLibrary::StartAddImage() {
    return ToResultCode(library_.StartAddImage());
}

ResultCode CLibrary::AddImage(std::u16string_view offerPath, std::u16string_view payloadPath) {
    return ToResultCode(library_.AddImage(offerPath, payloadPath));
}

ResultCode CLibrary::StopAddImage() {
    return ToResultCode(library_.StopAddImage());
}

ResultCode CLibrary::OpenDeviceEndpoint(std::u16string_view path, EndpointHandle* handle) {
    if (handle == nullptr) {
        return ToResultCode(engine::UpdateError::EndpointOpenFailed);
    }
    return ToResultCode(library_.OpenDeviceEndpoint(path, *handle));
}

ResultCode CLibrary::CloseDeviceEndpoint(EndpointHandle handle) {
    return ToResultCode(library_.CloseDeviceEndpoint(handle));
}

ResultCode CLibrary::GetDeviceDescription(EndpointHandle handle, DeviceDescription* description) {
    library_.AdoptEndpoint(handle);
    if (description == nullptr) {
        return ToResultCode(engine::UpdateError::DescriptionFailed);
    }
    cfu::DeviceComponents components;
    const engine::UpdateError result = library_.DescribeDevice(handle, components);
    if (result == engine::UpdateError::Success) {
        WriteDescription(components, *description);
    }
    return ToResultCode(result);
}

engine::ProgressListener* CLibrary::ListenerFor(UpdateStatusCallback callback) {
    if (callback == nullptr) {
        return nullptr;
    }
    std::unique_ptr<CallbackListener>& listener = listeners_[callback];
    if (!listener) {
        listener = std::make_unique<CallbackListener>(callback);
    }
    return listener.get();
}

ResultCode CLibrary::RegisterUpdateStatusCallback(EndpointHandle handle,
                                                  UpdateStatusCallback callback) {
    library_.AdoptEndpoint(handle);
    return ToResultCode(library_.RegisterProgressListener(handle, ListenerFor(callback)));
}

ResultCode CLibrary::UnregisterUpdateStatusCallback(EndpointHandle handle) {
    library_.AdoptEndpoint(handle);
    return ToResultCode(library_.UnregisterProgressListener(handle));
}

ResultCode CLibrary::Update(EndpointHandle handle) {
    // From inside a running update the call is refused before anything is adopted.
    if (!library_.UpdateRunning()) {
        library_.AdoptEndpoint(handle);
    }
    return ToResultCode(library_.Update(handle));
}

CLibrary& ProcessCLibrary() {
    static CLibrary library(cfu::ProcessLibrary());
    return library;
}

}  // namespace zelk::capi
