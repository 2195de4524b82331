// The flat C call interface: each call forwards to the process-wide library.
// No exception crosses it: every call catches and returns its failure (the
// update switches its transfer off before its failure leaves it).
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
    try {
        ProcessLibrary().Initialize(deviceFamily);
    } catch (...) {
        // The call has no result to report through.
    }
}

ZELK_API void CFUUninitialize(void) {
    try {
        ProcessLibrary().Uninitialize();
    } catch (...) {
        // The call has no result to report through.
    }
}

ZELK_API void CFUSetConfig(UpdateConfig config) {
    try {
        ProcessLibrary().SetConfig(config);
    } catch (...) {
        // The call has no result to report through.
    }
}

ZELK_API void CFUSetConfigEx(UpdateConfig config) {
    try {
        ProcessLibrary().SetConfigEx(config);
    } catch (...) {
        // The call has no result to report through.
    }
}

ZELK_API void CFUSetUpdateOptions(UpdateOptions options) {
    try {
        ProcessLibrary().SetUpdateOptions(options);
    } catch (...) {
        // The call has no result to report through.
    }
}

ZELK_API int32_t CFUGetDeviceNumber(void) {
    try {
        return ProcessLibrary().GetDeviceNumber();
    } catch (...) {
        return 0;
    }
}

ZELK_API ResultCode CFUGetDeviceEndpointPath(char16_t* buffer, int32_t capacity) {
    try {
        return ProcessLibrary().GetDeviceEndpointPath(buffer, capacity);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUStartAddImage(void) {
    try {
        return ProcessLibrary().StartAddImage();
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUAddImage(const char16_t* offerPath, const char16_t* payloadPath) {
    try {
        return ProcessLibrary().AddImage(PathOrEmpty(offerPath), PathOrEmpty(payloadPath));
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUStopAddImage(void) {
    try {
        return ProcessLibrary().StopAddImage();
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUOpenDeviceEndpoint(const char16_t* path, EndpointHandle* handle) {
    try {
        return ProcessLibrary().OpenDeviceEndpoint(PathOrEmpty(path), handle);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUCloseDeviceEndpoint(EndpointHandle handle) {
    try {
        return ProcessLibrary().CloseDeviceEndpoint(handle);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUGetDeviceDescription(EndpointHandle handle, DeviceDescription* description) {
    try {
        return ProcessLibrary().GetDeviceDescription(handle, description);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFURegisterUpdateStatusCallback(EndpointHandle handle,
                                                    UpdateStatusCallback callback) {
    try {
        return ProcessLibrary().RegisterUpdateStatusCallback(handle, callback);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUUnregisterUpdateStatusCallback(EndpointHandle handle) {
    try {
        return ProcessLibrary().UnregisterUpdateStatusCallback(handle);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API ResultCode CFUUpdate(EndpointHandle handle) {
    try {
        return ProcessLibrary().Update(handle);
    } catch (...) {
        return CFU_RESULT_INTERNAL_ERROR;
    }
}

ZELK_API int64_t HIDGetAllDeviceNumber(void) {
    try {
        return ProcessLibrary().GetAllDeviceNumber();
    } catch (...) {
        return 0;
    }
}

ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records) {
    try {
        return ProcessLibrary().GetAllDeviceInfo(records);
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
