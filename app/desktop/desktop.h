// The desktop seam: every windowing, shell and platform operation that the
// updater's logic calls, by what the logic relies on. Implementations: console
// (any OS, no GUI library), Qt (Linux window), Win32, and a recording fake for
// tests. The dialog logic, the update driver and the package code are written
// once against this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::app {

// A text colour as red, green and blue.
struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kOrange{255, 140, 30};
inline constexpr Rgb kGreen{40, 255, 120};

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

// Control ids of the main dialog.
namespace control {
inline constexpr int kStart = 1000;
inline constexpr int kAdmin = 1003;
inline constexpr int kOfferPathLabel = 1004;
inline constexpr int kOfferPathEdit = 1005;
inline constexpr int kChooseOffer = 1006;
inline constexpr int kPayloadPathLabel = 1007;
inline constexpr int kPayloadPathEdit = 1008;
inline constexpr int kChoosePayload = 1009;
inline constexpr int kLog = 1010;
inline constexpr int kPidLabel = 1011;
inline constexpr int kPidEdit = 1012;
inline constexpr int kVidLabel = 1013;
inline constexpr int kVidEdit = 1014;
inline constexpr int kUsagePageLabel = 1015;
inline constexpr int kUsagePageEdit = 1016;  // DeviceInfo line 3: the usage page
inline constexpr int kUsageLabel = 1017;
inline constexpr int kUsageEdit = 1018;  // DeviceInfo line 4: the usage
inline constexpr int kMiLabel = 1019;
inline constexpr int kMiEdit = 1020;
inline constexpr int kSet = 1021;
inline constexpr int kHideWindow = 1022;
}  // namespace control

// Resource ids of the embedded package.
namespace resource {
inline constexpr int kOffer = 139;       // type "FIRE_WARE"
inline constexpr int kPayload = 140;     // type "FIRE_WARE2"
inline constexpr int kDeviceInfo = 141;  // type "FIRE_DEVICEINFO"
}  // namespace resource

struct OpenFileRequest {
    std::u16string defaultExtension;  // "bin"
    std::u16string initialFile;
    // (description, pattern) pairs, e.g. ("FIREWARE (*.bin)", "*.bin").
    std::vector<std::pair<std::u16string, std::u16string>> filters;
};

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Outcome of looking up one embedded resource.
enum class ResourceLookup { Found, NotFound, Unusable };

class Desktop {
  public:
    virtual ~Desktop() = default;

    // Controls of the main dialog, by id. Safe to call from the update worker.
    virtual void SetControlText(int id, std::u16string_view text) = 0;
    virtual std::u16string ControlText(int id) = 0;
    virtual void ShowControl(int id, bool visible) = 0;
    virtual bool IsChecked(int id) = 0;
    virtual void SetChecked(int id, bool checked) = 0;

    // Appends text in a colour to the log pane, keeping its end in view.
    virtual void AppendLog(std::u16string_view text, Rgb colour) = 0;
    // A message box with an OK button.
    virtual void MessageBox(std::u16string_view text) = 0;
    // The chosen file's full path, or nothing when the user cancelled.
    virtual std::optional<std::u16string> OpenFile(const OpenFileRequest& request) = 0;
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
    // The run's console output, as bytes (UTF-8), unbuffered order kept.
    virtual void WriteStdout(std::string_view bytes) = 0;
    // Asks the main window to close; returns after it has handled the request.
    virtual void CloseMainWindow() = 0;
    virtual LocalTime Now() = 0;
};

}  // namespace zelk::app
