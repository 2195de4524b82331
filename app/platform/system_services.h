// The system-services part of the desktop seam: what the updater needs from
// the operating system rather than from its window (own resources, the
// temporary directory, own path, files, starting a program, the progress
// broadcast, debugger and console output, the language, the time).
// Implemented once per OS by OsServices (os_services.h over platform.h), and
// by the recording fake for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::app {

// What other programs are told about a run (the wParam of the broadcast).
enum class ProgressEvent : std::uint32_t {
    Succeeded = 1,  // a status with percentage 100 arrived
    NoDevice = 2,
    StepFailed = 3,
    Progress = 4,  // lParam: the percentage
    RunEnded = 5,  // the endpoint stage is over
};

// The name under which progress broadcasts are registered.
inline constexpr char16_t kProgressBroadcastName[] = u"{4695579F-999A-41d4-9FAF-EFFCE93EBF15}";

// Resource ids of the embedded package.
namespace resource {
inline constexpr int kOffer = 139;       // type "FIRE_WARE"
inline constexpr int kPayload = 140;     // type "FIRE_WARE2"
inline constexpr int kDeviceInfo = 141;  // type "FIRE_DEVICEINFO"
}  // namespace resource

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Outcome of looking up one embedded resource.
enum class ResourceLookup { Found, NotFound, Unusable };

class SystemServices {
  public:
    virtual ~SystemServices() = default;

    // The system's install language identifier (1033 English, 2052 Chinese, ...);
    // nothing when it cannot be read.
    virtual std::optional<std::uint32_t> SystemLanguageId() = 0;

    // A resource of the program's own file, by type name and id.
    virtual ResourceLookup FindResource(std::u16string_view type, int id,
                                        std::vector<std::uint8_t>& bytes) = 0;
    // The per-user temporary directory, ending in a path separator.
    virtual std::u16string TempDirectory() = 0;
    // The running program's full path.
    virtual std::u16string OwnPath() = 0;
    virtual bool FileExists(std::u16string_view path) = 0;
    // Starts a program with its arguments, each passed whole (no shell); does
    // not wait. False when it could not be started.
    virtual bool StartProgram(std::u16string_view file,
                              const std::vector<std::u16string>& arguments) = 0;

    // Tells every interested program about a run's progress; never waits.
    virtual void BroadcastProgress(ProgressEvent event, std::int64_t lParam) = 0;
    // A line for developers' tools (the debugger, the system log).
    virtual void DebugOutput(std::u16string_view text) = 0;
    // The run's console output, as UTF-8 bytes, unbuffered order kept; on
    // Windows the console shows them in its own code page (or as wide text).
    virtual void WriteStdout(std::string_view bytes) = 0;
    virtual LocalTime Now() = 0;

    // Text in the system's code pages, for files and digests other programs
    // share with this one. A character the code page cannot hold becomes '?';
    // a byte sequence it does not define reads as U+FFFD.
    // The "ANSI" code page: CP_ACP on Windows, the locale's codeset on Linux.
    virtual std::string ToAnsiBytes(std::u16string_view text) = 0;
    // The Chinese simplified code page: 936 on Windows, GB18030 on Linux.
    virtual std::string ToChineseCodePageBytes(std::u16string_view text) = 0;
    virtual std::u16string FromChineseCodePageBytes(std::string_view bytes) = 0;
};

}  // namespace zelk::app
