// The window part of the desktop seam: the main dialog's controls, its log
// pane, message boxes, the file choice and closing the window. Implemented by
// every desktop that shows (or stands in for) the dialog: console, Qt, Win32
// and the recording fake used by tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
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

struct OpenFileRequest {
    std::u16string defaultExtension;  // "bin"
    std::u16string initialFile;
    // (description, pattern) pairs, e.g. ("FIREWARE (*.bin)", "*.bin").
    std::vector<std::pair<std::u16string, std::u16string>> filters;
};

class DesktopWindow {
  public:
    virtual ~DesktopWindow() = default;

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
    // Asks the main window to close; returns after it has handled the request.
    virtual void CloseMainWindow() = 0;
};

}  // namespace zelk::app
