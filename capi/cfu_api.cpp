// The exported CFU calls: each forwards to the process-wide C library object.
// No exception crosses them (see Guarded); an update switches its transfer
// off before its failure leaves it.
#include <string_view>

#include "capi/c_library.h"
#include "capi/guarded_call.h"
#include "zelk/cfu_update.h"

using zelk::capi::Guarded;
using zelk::capi::ProcessCLibrary;

namespace {

std::u16string_view PathOrEmpty(const char16_t* path) {
    return path == nullptr ? std::u16string_view{} : std::u16string_view{path};
}

}  // namespace

extern "C" {

ZELK_API void CFUInitialize(int32_t deviceFamily) {
    Guarded([&] { ProcessCLibrary().Initialize(deviceFamily); });
}

ZELK_API void CFUUninitialize(void) {
    Guarded([&] { ProcessCLibrary().Uninitialize(); });
}

ZELK_API void CFUSetConfig(UpdateConfig config) {
    Guarded([&] { ProcessCLibrary().SetConfig(config); });
}

ZELK_API void CFUSetConfigEx(UpdateConfig config) {
    Guarded([&] { ProcessCLibrary().SetConfigEx(config); });
}

ZELK_API void CFUSetUpdateOptions(UpdateOptions options) {
    Guarded([&] { ProcessCLibrary().SetUpdateOptions(options); });
}

ZELK_API int32_t CFUGetDeviceNumber(void) {
    return Guarded<int32_t>(0, [&] { return ProcessCLibrary().GetDeviceNumber(); });
}

ZELK_API ResultCode CFUGetDeviceEndpointPath(char16_t* buffer, int32_t capacity) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR,
                   [&] { return ProcessCLibrary().GetDeviceEndpointPath(buffer, capacity); });
}

ZELK_API ResultCode CFUStartAddImage(void) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR, [&] { return ProcessCLibrary().StartAddImage(); });
}

ZELK_API ResultCode CFUAddImage(const char16_t* offerPath, const char16_t* payloadPath) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR, [&] {
        return ProcessCLibrary().AddImage(PathOrEmpty(offerPath), PathOrEmpty(payloadPath));
    });
}

ZELK_API ResultCode CFUStopAddImage(void) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR, [&] { return ProcessCLibrary().StopAddImage(); });
}

ZELK_API ResultCode CFUOpenDeviceEndpoint(const char16_t* path, EndpointHandle* handle) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR,
                   [&] { return ProcessCLibrary().OpenDeviceEndpoint(PathOrEmpty(path), handle); });
}

ZELK_API ResultCode CFUCloseDeviceEndpoint(EndpointHandle handle) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR,
                   [&] { return ProcessCLibrary().CloseDeviceEndpoint(handle); });
}

ZELK_API ResultCode CFUGetDeviceDescription(EndpointHandle handle, DeviceDescription* description) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR,
                   [&] { return ProcessCLibrary().GetDeviceDescription(handle, description); });
}

ZELK_API ResultCode CFURegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR, [&] {
        return ProcessCLibrary().RegisterUpdateStatusCallback(handle, callback);
    });
}

ZELK_API ResultCode CFUUnregisterUpdateStatusCallback(EndpointHandle handle) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR,
                   [&] { return ProcessCLibrary().UnregisterUpdateStatusCallback(handle); });
}

ZELK_API ResultCode CFUUpdate(EndpointHandle handle) {
    return Guarded(CFU_RESULT_INTERNAL_ERROR, [&] { return ProcessCLibrary().Update(handle); });
}

}  // extern "C"
