// Hears HID interfaces come and go on Windows: device-interface arrival and
// removal notifications of the HID class, delivered as WM_DEVICECHANGE to a
// message-only window that a thread of the watch's own serves. (The
// configuration manager's CM_Register_Notification would need no window, but
// Wine 8, where the Windows build is tested, does not implement it.)
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "hidtransport/hid_platform.h"
#include "hidtransport/windows/win32_hid_api.h"

namespace zelk::hid::win32 {

class Win32ChangeWatch final : public HidChangeWatch {
  public:
    // A watch whose window is registered for the HID class's interfaces;
    // null when the window or the registration cannot be had.
    static std::unique_ptr<Win32ChangeWatch> Make(Win32HidApi& api);
    // Gives up the registration and ends the window's thread.
    ~Win32ChangeWatch() override;
    Win32ChangeWatch(const Win32ChangeWatch&) = delete;
    Win32ChangeWatch& operator=(const Win32ChangeWatch&) = delete;

    bool WaitForChange(std::uint32_t timeoutMs) override;
    std::string Mechanism() const override { return "device-interface notifications"; }

    // The window the notifications go to, so that tests can send it one.
    HWND Window() const { return window_; }

  private:
    explicit Win32ChangeWatch(Win32HidApi& api);
    // The window's thread: makes the window, registers it, serves its
    // messages until the destructor closes it.
    void Serve(HANDLE ready);

    Win32HidApi& api_;
    // Auto-reset: set by each notification, taken by the wait that sees it,
    // so that changes before a wait are not lost and several come as one.
    HANDLE changed_ = nullptr;
    HWND window_ = nullptr;              // written by the thread before `ready`
    HDEVNOTIFY registration_ = nullptr;  // likewise
    std::thread thread_;
};

}  // namespace zelk::hid::win32
