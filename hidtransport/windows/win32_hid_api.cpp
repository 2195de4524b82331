#include "hidtransport/windows/win32_hid_api.h"

#include <dbt.h>
#include <setupapi.h>

namespace zelk::hid::win32 {
namespace {

class SystemApi final : public Win32HidApi {
  public:
    void GetHidGuid(GUID* guid) override { ::HidD_GetHidGuid(guid); }
    CONFIGRET GetInterfaceListSize(ULONG* length, GUID* guid) override {
        return ::CM_Get_Device_Interface_List_SizeW(length, guid, nullptr,
                                                    CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
    }
    CONFIGRET GetInterfaceList(GUID* guid, wchar_t* buffer, ULONG length) override {
        return ::CM_Get_Device_Interface_ListW(guid, nullptr, buffer, length,
                                               CM_GET_DEVICE_INTERFACE_LIST_PRESENT);
    }
    bool ListInterfacesBySetupApi(GUID* guid, std::vector<std::wstring>& paths) override {
        const HDEVINFO set =
            ::SetupDiGetClassDevsW(guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return false;
        }
        paths.clear();
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; ::SetupDiEnumDeviceInterfaces(set, nullptr, guid, i, &data); ++i) {
            DWORD needed = 0;
            ::SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
            if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
                continue;
            }
            // DWORD-aligned storage for the variable-length record.
            std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD));
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (::SetupDiGetDeviceInterfaceDetailW(set, &data, detail, needed, nullptr, nullptr)) {
                const std::size_t room =
                    (needed - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
                    sizeof(wchar_t);
                paths.emplace_back(detail->DevicePath, wcsnlen(detail->DevicePath, room));
            }
        }
        const bool ended = ::GetLastError() == ERROR_NO_MORE_ITEMS;
        ::SetupDiDestroyDeviceInfoList(set);
        return ended;
    }
    HANDLE OpenPath(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags) override {
        return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    }
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
    BOOLEAN GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) override {
        return ::HidD_GetPreparsedData(handle, data);
    }
    BOOLEAN FreePreparsedData(PHIDP_PREPARSED_DATA data) override {
        return ::HidD_FreePreparsedData(data);
    }
    NTSTATUS GetCaps(PHIDP_PREPARSED_DATA data, HIDP_CAPS* caps) override {
        return ::HidP_GetCaps(data, caps);
    }
    NTSTATUS GetValueCaps(HIDP_REPORT_TYPE type, HIDP_VALUE_CAPS* caps, USHORT* length,
                          PHIDP_PREPARSED_DATA data) override {
        return ::HidP_GetValueCaps(type, caps, length, data);
    }
    NTSTATUS GetButtonCaps(HIDP_REPORT_TYPE type, HIDP_BUTTON_CAPS* caps, USHORT* length,
                           PHIDP_PREPARSED_DATA data) override {
        return ::HidP_GetButtonCaps(type, caps, length, data);
    }
    NTSTATUS GetSpecificValueCaps(HIDP_REPORT_TYPE type, USAGE usagePage, USHORT linkCollection,
                                  USAGE usage, HIDP_VALUE_CAPS* caps, USHORT* length,
                                  PHIDP_PREPARSED_DATA data) override {
        return ::HidP_GetSpecificValueCaps(type, usagePage, linkCollection, usage, caps, length,
                                           data);
    }
    BOOLEAN SetOutputReport(HANDLE handle, void* report, ULONG length) override {
        return ::HidD_SetOutputReport(handle, report, length);
    }
    BOOLEAN SetFeature(HANDLE handle, void* report, ULONG length) override {
        return ::HidD_SetFeature(handle, report, length);
    }
    BOOLEAN GetFeature(HANDLE handle, void* buffer, ULONG length) override {
        return ::HidD_GetFeature(handle, buffer, length);
    }
    BOOLEAN GetSerialNumberString(HANDLE handle, void* buffer, ULONG length) override {
        return ::HidD_GetSerialNumberString(handle, buffer, length);
    }
    HANDLE NewEvent() override { return ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    BOOL ReadFile(HANDLE handle, void* buffer, DWORD length, OVERLAPPED* overlapped) override {
        return ::ReadFile(handle, buffer, length, nullptr, overlapped);
    }
    DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override {
        return ::WaitForSingleObject(handle, milliseconds);
    }
    BOOL GetOverlappedResult(HANDLE handle, OVERLAPPED* overlapped, DWORD* transferred,
                             BOOL wait) override {
        return ::GetOverlappedResult(handle, overlapped, transferred, wait);
    }
    BOOL CancelIoEx(HANDLE handle, OVERLAPPED* overlapped) override {
        return ::CancelIoEx(handle, overlapped);
    }
    HANDLE OpenNamedMutex(const wchar_t* name) override {
        return ::CreateMutexW(nullptr, FALSE, name);
    }
    BOOL ReleaseMutex(HANDLE mutex) override { return ::ReleaseMutex(mutex); }
    HDEVNOTIFY RegisterInterfaceNotification(HWND window, const GUID& guid) override {
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = guid;
        return ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    BOOL UnregisterInterfaceNotification(HDEVNOTIFY notification) override {
        return ::UnregisterDeviceNotification(notification);
    }
    DWORD GetLastError() override { return ::GetLastError(); }
    void DebugString(const wchar_t* text) override { ::OutputDebugStringW(text); }
};

}  // namespace

Win32HidApi& SystemWin32HidApi() {
    static SystemApi api;
    return api;
}

}  // namespace zelk::hid::win32
