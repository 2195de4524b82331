// The flat C call interface: each call forwards to the process-wide library.
#include <string_view>

#include "cfu_library.h"
#include "zelk/cfu_update.h"

using zelk::cfu::ProcessLibrary;

namespace {

std::u16string_view PathOrEmpty(const char16_t* path) {
    return path == nullptr ? std::u16string_view{} : std::u16string_view{path};
}

}  // namespace

extern "C" {

ZELK_API void CFUInitialize(int32_t deviceFamily) {
    ProcessLibrary().Initialize(deviceFamily);
}

ZELK_API void CFUUninitialize(void) {
    ProcessLibrary().Uninitialize();
}

ZELK_API void CFUSetConfig(UpdateConfig config) {
    ProcessLibrary().SetConfig(config);
}

ZELK_API void CFUSetConfigEx(UpdateConfig config) {
    ProcessLibrary().SetConfigEx(config);
}

ZELK_API void CFUSetUpdateOptions(UpdateOptions options) {
    ProcessLibrary().SetUpdateOptions(options);
}

ZELK_API int32_t CFUGetDeviceNumber(void) {
    return ProcessLibrary().GetDeviceNumber();
}

ZELK_API ResultCode CFUGetDeviceEndpointPath(char16_t* buffer, int32_t capacity) {
    return ProcessLibrary().GetDeviceEndpointPath(buffer, capacity);
}

ZELK_API ResultCode CFUStartAddImage(void) {
    return ProcessLibrary().StartAddImage();
}

ZELK_API ResultCode CFUAddImage(const char16_t* offerPath, const char16_t* payloadPath) {
    return ProcessLibrary().AddImage(PathOrEmpty(offerPath), PathOrEmpty(payloadPath));
}

ZELK_API ResultCode CFUStopAddImage(void) {
    return ProcessLibrary().StopAddImage();
}

ZELK_API ResultCode CFUOpenDeviceEndpoint(const char16_t* path, EndpointHandle* handle) {
    return ProcessLibrary().OpenDeviceEndpoint(PathOrEmpty(path), handle);
}

ZELK_API ResultCode CFUCloseDeviceEndpoint(EndpointHandle handle) {
    return ProcessLibrary().CloseDeviceEndpoint(handle);
}

ZELK_API ResultCode CFUGetDeviceDescription(EndpointHandle handle, DeviceDescription* description) {
    return ProcessLibrary().GetDeviceDescription(handle, description);
}

ZELK_API ResultCode CFURegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback) {
    return ProcessLibrary().RegisterUpdateStatusCallback(handle, callback);
}

ZELK_API ResultCode CFUUnregisterUpdateStatusCallback(EndpointHandle handle) {
    return ProcessLibrary().UnregisterUpdateStatusCallback(handle);
}

ZELK_API ResultCode CFUUpdate(EndpointHandle handle) {
    return ProcessLibrary().Update(handle);
}

ZELK_API int64_t HIDGetAllDeviceNumber(void) {
    return ProcessLibrary().GetAllDeviceNumber();
}

ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records) {
    return ProcessLibrary().GetAllDeviceInfo(records);
}

}  // extern "C"
