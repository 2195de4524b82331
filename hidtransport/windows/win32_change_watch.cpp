#include "hidtransport/windows/win32_change_watch.h"

#include <dbt.h>

namespace zelk::hid::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"ZelkHidChangeWatch";
// Asks the window's thread to give up its registration and end.
constexpr UINT kCloseMessage = WM_APP + 1;

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
        const bool interfaceEvent =
            (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) &&
            header != nullptr && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
        const auto changed = reinterpret_cast<HANDLE>(::GetWindowLongPtrW(window, GWLP_USERDATA));
        if (interfaceEvent && changed != nullptr) {
            ::SetEvent(changed);
        }
        return TRUE;
    }
    if (message == kCloseMessage) {
        ::DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    // A second watch in the process finds the class there already.
    return ::RegisterClassExW(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

Win32ChangeWatch::Win32ChangeWatch(Win32HidApi& api) : api_(api) {}

std::unique_ptr<Win32ChangeWatch> Win32ChangeWatch::Make(Win32HidApi& api) {
    std::unique_ptr<Win32ChangeWatch> watch(new Win32ChangeWatch(api));
    watch->changed_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->changed_ == nullptr || ready == nullptr) {
        if (ready != nullptr) {
            ::CloseHandle(ready);
        }
        return nullptr;  // the destructor closes `changed_`
    }
    watch->thread_ = std::thread([raw = watch.get(), ready] { raw->Serve(ready); });
    ::WaitForSingleObject(ready, INFINITE);
    ::CloseHandle(ready);
    if (watch->registration_ == nullptr) {
        return nullptr;  // the thread has ended or is ending; the destructor joins it
    }
    return watch;
}

void Win32ChangeWatch::Serve(HANDLE ready) {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    if (RegisterWindowClass(instance)) {
        window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    instance, nullptr);
    }
    if (window_ != nullptr) {
        ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(changed_));
        GUID hid{};
        api_.GetHidGuid(&hid);
        registration_ = api_.RegisterInterfaceNotification(window_, hid);
        if (registration_ == nullptr) {
            ::DestroyWindow(window_);
            window_ = nullptr;
        }
    }
    const bool serving = window_ != nullptr;
    ::SetEvent(ready);
    if (!serving) {
        return;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

Win32ChangeWatch::~Win32ChangeWatch() {
    if (registration_ != nullptr) {
        api_.UnregisterInterfaceNotification(registration_);
    }
    if (window_ != nullptr) {
        ::PostMessageW(window_, kCloseMessage, 0, 0);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (changed_ != nullptr) {
        ::CloseHandle(changed_);
    }
}

bool Win32ChangeWatch::WaitForChange(std::uint32_t timeoutMs) {
    return ::WaitForSingleObject(changed_, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace zelk::hid::win32
