// Resources of the program's own .exe, by type name and numeric id.
#include "desktop/platform.h"

// After the seam's headers: <windows.h> turns FindResource and MessageBox
// into macros, which must not rename the seam's members.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace zelk::app::platform {

ResourceLookup FindOwnResource(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes) {
    if (id < 0 || id > 0xFFFF || type.empty()) {
        return ResourceLookup::NotFound;
    }
    // wchar_t is UTF-16 on Windows.
    const std::wstring typeName(type.begin(), type.end());
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), typeName.c_str());
    if (found == nullptr) {
        return ResourceLookup::NotFound;
    }
    const DWORD size = SizeofResource(nullptr, found);
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (size == 0 || loaded == nullptr) {
        return ResourceLookup::Unusable;
    }
    const void* data = LockResource(loaded);
    if (data == nullptr) {
        return ResourceLookup::Unusable;
    }
    const auto* begin = static_cast<const std::uint8_t*>(data);
    bytes.assign(begin, begin + size);
    return ResourceLookup::Found;
}

}  // namespace zelk::app::platform
