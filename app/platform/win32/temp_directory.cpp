// Windows' per-user temporary directory already belongs to the user.

#include "app/platform/platform.h"
#include "app/platform/win32/wide_text.h"

#include <windows.h>

namespace zelk::app::platform {

std::u16string TempDirectory() {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) {
            return {};
        }
        // Too small: the length needed, counting the terminating NUL.
        if (length < buffer.size()) {
            buffer.resize(length);
            return FromWide(buffer);
        }
        buffer.resize(length);
    }
}

}  // namespace zelk::app::platform
