#include "hidtransport/hid_platform.h"
#include "hidtransport/linux/hidraw_backend.h"

namespace zelk::hid {

// Real devices on Linux: the kernel's hidraw nodes.
std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
    return std::make_unique<hidraw::HidrawBackend>();
}

}  // namespace zelk::hid
