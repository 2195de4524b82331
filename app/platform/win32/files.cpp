#include "app/platform/platform.h"
#include "app/platform/win32/wide_text.h"

#include <windows.h>

namespace zelk::app::platform {

std::u16string OwnPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        // A result that fills the buffer has been cut short.
        if (length < buffer.size()) {
            buffer.resize(length);
            return FromWide(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

// A file, not a directory: the callers go on to open or run it.
bool FileExists(std::u16string_view path) {
    const std::wstring wide = ToWide(path);
    if (wide.find(L'\0') != std::wstring::npos) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace zelk::app::platform
