#include "hidtransport/hid_platform.h"
#include "hidtransport/windows/win32_hid_api.h"
#include "hidtransport/windows/win32_hid_backend.h"

namespace zelk::hid {

std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
    return std::make_unique<win32::Win32HidBackend>(win32::SystemWin32HidApi());
}

}  // namespace zelk::hid
