#include "app/platform/platform.h"
#include "app/platform/win32/wide_text.h"
#include "app/platform/windows_command_line.h"

#include <windows.h>

namespace zelk::app::platform {

bool StartProgram(std::u16string_view file, const std::vector<std::u16string>& arguments) {
    const std::wstring application = ToWide(file);
    if (application.empty() || application.find(L'\0') != std::wstring::npos) {
        return false;
    }
    // CreateProcessW may write into the command line.
    std::wstring commandLine = ToWide(WindowsCommandLine(file, arguments));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The application name is given apart from the command line so that no
    // search path is tried for it.
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace zelk::app::platform
