// Developer lines go to the debugger (OutputDebugStringW): DebugView or an
// attached debugger's output window shows them.

#include "app/platform/platform.h"
#include "app/platform/win32/wide_text.h"

#include <windows.h>

namespace zelk::app::platform {

void DebugOutput(std::u16string_view text) {
    OutputDebugStringW(ToWide(text).c_str());
}

}  // namespace zelk::app::platform
