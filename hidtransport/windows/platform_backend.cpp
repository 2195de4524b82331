#include "hid_platform.h"
#include "win32_hid_api.h"
#include "win32_hid_backend.h"

namespace zelk::hid {

std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
    return std::make_unique<win32::Win32HidBackend>(win32::SystemWin32HidApi());
}

}  // namespace zelk::hid
