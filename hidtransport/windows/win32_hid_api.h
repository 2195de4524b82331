// The Win32 calls the HID backend makes, as one thin table. The real table
// passes straight through to hid.dll, cfgmgr32 and kernel32; tests put a
// scripted double in its place to play completions, time-outs, cancels that
// race a completion, removed devices and short reads.
#pragma once

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they need. MinGW's HID headers declare C
// functions without saying so.
#include <cfgmgr32.h>
extern "C" {
#include <hidsdi.h>
}

#include <string>
#include <vector>

namespace zelk::hid::win32 {

class Win32HidApi {
  public:
    virtual ~Win32HidApi() = default;

    virtual void GetHidGuid(GUID* guid) = 0;
    virtual CONFIGRET GetInterfaceListSize(ULONG* length, GUID* guid) = 0;
    virtual CONFIGRET GetInterfaceList(GUID* guid, wchar_t* buffer, ULONG length) = 0;
    // The same list through the setup API, for systems whose configuration
    // manager does not implement the list calls (Wine 8). False on failure.
    virtual bool ListInterfacesBySetupApi(GUID* guid, std::vector<std::wstring>& paths) = 0;

    virtual HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                            DWORD flags) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;

    virtual BOOLEAN GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) = 0;
    virtual BOOLEAN FreePreparsedData(PHIDP_PREPARSED_DATA data) = 0;
    virtual NTSTATUS GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) = 0;
    virtual NTSTATUS GetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* caps, USHORT* length,
                                  PHIDP_PREPARSED_DATA data) = 0;
    virtual NTSTATUS GetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* caps, USHORT* length,
                                   PHIDP_PREPARSED_DATA data) = 0;
    virtual NTSTATUS GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE usagePage,
                                          USHORT linkCollection, USAGE usage, HIDP_VALUE_CAPS* caps,
                                          USHORT* length, PHIDP_PREPARSED_DATA data) = 0;

    virtual BOOLEAN SetOutputReport(HANDLE handle, void* report, ULONG length) = 0;
    virtual BOOLEAN SetFeature(HANDLE handle, void* report, ULONG length) = 0;
    virtual BOOLEAN GetFeature(HANDLE handle, void* buffer, ULONG length) = 0;
    // HidD_GetSerialNumberString: the device's serial string into `buffer`
    // (`length` bytes), NUL-terminated when it fits.
    virtual BOOLEAN GetSerialNumberString(HANDLE handle, void* buffer, ULONG length) = 0;

    virtual HANDLE NewEvent() = 0;  // unnamed, manual-reset, not signalled
    virtual BOOL ReadFile(HANDLE handle, void* buffer, DWORD length, OVERLAPPED* overlapped) = 0;
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
    virtual BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred,
                                     BOOL wait) = 0;
    virtual BOOL CancelIoEx(HANDLE handle, OVERLAPPED* overlapped) = 0;

    // The named mutex `name` (made when no process has it open), not owned by
    // the caller; null on failure. Taken with WaitForSingleObject.
    virtual HANDLE OpenNamedMutex(const wchar_t* name) = 0;
    virtual BOOL ReleaseMutex(HANDLE mutex) = 0;

    // Device-interface arrival and removal of the class `guid`, as
    // WM_DEVICECHANGE messages to `window` (RegisterDeviceNotificationW);
    // null on failure. Given up with UnregisterInterfaceNotification.
    virtual HDEVNOTIFY RegisterInterfaceNotification(HWND window, const GUID& guid) = 0;
    virtual BOOL UnregisterInterfaceNotification(HDEVNOTIFY notification) = 0;

    virtual DWORD GetLastError() = 0;
    virtual void DebugString(const wchar_t* text) = 0;
};

// The table that calls the system. Lives for the whole process.
Win32HidApi& SystemWin32HidApi();

}  // namespace zelk::hid::win32
