// The two exported HID listing calls. They sit apart from the CFU calls so
// that the programs, which export these two themselves, link only them.
#include "capi/c_library.h"
#include "capi/guarded_call.h"
#include "zelk/cfu_update.h"

using zelk::capi::Guarded;
using zelk::capi::ProcessCLibrary;

extern "C" {

ZELK_API int64_t HIDGetAllDeviceNumber(void) {
    return Guarded<int64_t>(0, [] { return ProcessCLibrary().GetAllDeviceNumber(); });
}

ZELK_API uint8_t HIDGetAllDeviceInfo(HIDDeviceInfo* records) {
    return Guarded<uint8_t>(1, [&] { return ProcessCLibrary().GetAllDeviceInfo(records); });
}

}  // extern "C"
