#include "hid_platform.h"
#include "unavailable_hid_backend.h"

namespace zelk::hid {

// Real device access on this platform arrives with its own backend; until then
// the program sees no HID interfaces unless the virtual backend is chosen.
std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
    return std::make_unique<UnavailableHidBackend>();
}

}  // namespace zelk::hid
