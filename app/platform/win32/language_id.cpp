// The install language identifier from
// HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language, value "InstallLanguage".
//
// Only a REG_DWORD value is taken. Windows itself stores that value as a
// REG_SZ of hex digits ("0409", "0804"), so on a real installation this gives
// nothing and the callers fall back to their default language.

#include "app/platform/platform.h"

#include <windows.h>

namespace zelk::app::platform {

std::optional<std::uint32_t> LanguageId() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS status = RegQueryValueExW(key, L"InstallLanguage", nullptr, &type,
                                            reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) {
        return std::nullopt;
    }
    return value;
}

}  // namespace zelk::app::platform
