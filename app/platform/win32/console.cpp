#include "app/platform/platform.h"

#include "app/platform/win32/code_page.h"
#include "app/platform/win32/wide_text.h"
#include "app/text/text_encoding.h"

#include <io.h>
#include <stdio.h>
#include <windows.h>
#include <algorithm>

namespace zelk::app::platform {

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void WriteConsoleText(std::FILE* stream, std::string_view text) {
    const std::u16string wide = Utf8ToUtf16(text);
    const int descriptor = _fileno(stream);
    const HANDLE handle = descriptor < 0 ? INVALID_HANDLE_VALUE
                                         : reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0) {
        std::fflush(stream);  // what was written through the stream goes first
        const std::wstring units = ToWide(wide);
        std::size_t done = 0;
        while (done < units.size()) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(units.size() - done, 8192));
            DWORD written = 0;
            if (WriteConsoleW(handle, units.data() + done, chunk, &written, nullptr) == 0 ||
                written == 0) {
                break;
            }
            done += written;
        }
        return;
    }
    UINT codePage = GetConsoleOutputCP();
    if (codePage == 0) {
        codePage = GetACP();
    }
    const std::string bytes =
        codePage == CP_UTF8 ? std::string(text) : ToWindowsCodePage(wide, codePage);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}

}  // namespace zelk::app::platform
