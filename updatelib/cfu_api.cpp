// The flat C call interface: each call forwards to the process-wide library.
#include "cfu_library.h"
#include "zelk/cfu_update.h"

using zelk::cfu::ProcessLibrary;

extern "C" {

ZELK_API void CFUSetConfig(UpdateConfig config) { ProcessLibrary().SetConfig(config); }

ZELK_API void CFUSetConfigEx(UpdateConfig config) { ProcessLibrary().SetConfigEx(config); }

ZELK_API void CFUSetUpdateOptions(UpdateOptions options) {
    ProcessLibrary().SetUpdateOptions(options);
}

ZELK_API int64_t HIDGetAllDeviceNumber(void) { return ProcessLibrary().GetAllDeviceNumber(); }

ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records) {
    return ProcessLibrary().GetAllDeviceInfo(records);
}

}  // extern "C"
