// The operating-system services behind the console desktop, one file per OS
// in app/platform/linux/ and app/platform/win32/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/platform/system_services.h"

namespace zelk::app::platform {

// The per-user temporary directory, ending in a separator. On Linux a
// directory private to the user (mode 0700, owned by them), created when
// missing; empty when no such directory can be had.
std::u16string TempDirectory();
std::u16string OwnPath();
bool FileExists(std::u16string_view path);
// Starts `file` with `arguments`, each passed whole, without a shell; no wait.
bool StartProgram(std::u16string_view file, const std::vector<std::u16string>& arguments);
// The install language identifier: Windows' "InstallLanguage"; on Linux the
// locale (LC_ALL, LC_MESSAGES, LANG) mapped to the same identifiers.
std::optional<std::uint32_t> LanguageId();
// A developer line: OutputDebugStringW on Windows, the system log at debug
// level on Linux.
void DebugOutput(std::u16string_view text);
bool StdoutIsTerminal();
// Writes UTF-8 `text` to `stream` and flushes it, in the form the console
// shows: on Windows a console gets it as wide text and anything else (a pipe,
// a file) in the console's output code page (the ANSI code page without a
// console); on Linux the UTF-8 bytes as they are.
void WriteConsoleText(std::FILE* stream, std::string_view text);
bool StderrIsTerminal();
LocalTime Now();
// A resource of the running program's own file (Windows resources; on Linux
// the package appended to the executable).
ResourceLookup FindOwnResource(std::u16string_view type, int id, std::vector<std::uint8_t>& bytes);

// `text` in the system's "ANSI" code page: CP_ACP on Windows; on Linux the
// codeset of the locale the program has set (UTF-8 for a UTF-8 or the plain
// C locale). A character the code page cannot hold becomes '?'.
std::string ToAnsiBytes(std::u16string_view text);
// `text` in the Chinese simplified code page: 936 on Windows, GB18030 on
// Linux. A character it cannot hold becomes '?'.
std::string ToChineseCodePageBytes(std::u16string_view text);
// `bytes` read in the same code page, the way ToChineseCodePageBytes wrote
// them. A byte sequence the code page does not define becomes U+FFFD.
std::u16string FromChineseCodePageBytes(std::string_view bytes);

// Sends progress broadcasts: a registered window message posted to every
// application on Windows, a D-Bus signal on the session bus on Linux.
class ProgressBroadcaster {
  public:
    virtual ~ProgressBroadcaster() = default;
    virtual void Broadcast(ProgressEvent event, std::int64_t lParam) = 0;
};
// Never null: without a bus (or window station) it sends nothing, quietly.
std::unique_ptr<ProgressBroadcaster> CreateProgressBroadcaster();

}  // namespace zelk::app::platform
