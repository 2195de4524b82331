#include "app/platform/platform.h"
#include "app/platform/win32/code_page.h"

#include <windows.h>

namespace zelk::app::platform {

std::string ToAnsiBytes(std::u16string_view text) {
    return ToWindowsCodePage(text, CP_ACP);
}

}  // namespace zelk::app::platform
