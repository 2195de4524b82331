// The desktop of a program without a window: controls live in memory, the log
// and message boxes go to stderr, the run's console lines to stdout, and the
// system services are the operating system's (OsServices).
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "desktop/desktop.h"
#include "desktop/os_services.h"
#include "desktop/platform.h"

namespace zelk::app {

struct ConsoleOptions {
    std::FILE* out = stdout;  // WriteStdout
    std::FILE* err = stderr;  // AppendLog, MessageBox
    // Colour escapes in the log; unset: when `err` is the process's stderr
    // and that is a terminal.
    std::optional<bool> colourLog;
    // Run by CloseMainWindow before it returns, on the caller's thread.
    std::function<void()> onClose;
    // Null: platform::CreateProgressBroadcaster().
    std::unique_ptr<platform::ProgressBroadcaster> broadcaster;
};

class ConsoleDesktop final : public Desktop, public OsServices {
  public:
    explicit ConsoleDesktop(ConsoleOptions options = {});

    void SetControlText(int id, std::u16string_view text) override;
    std::u16string ControlText(int id) override;
    void ShowControl(int id, bool visible) override;
    bool IsChecked(int id) override;
    void SetChecked(int id, bool checked) override;

    void AppendLog(std::u16string_view text, Rgb colour) override;
    void MessageBox(std::u16string_view text) override;
    std::optional<std::u16string> OpenFile(const OpenFileRequest& request) override;

    void CloseMainWindow() override;

    // To `out` rather than the process's stdout.
    void WriteStdout(std::string_view bytes) override;

    // Controls are visible until hidden.
    bool IsVisible(int id);
    bool CloseRequested();

  private:
    struct Control {
        std::u16string text;
        bool visible = true;
        bool checked = false;
    };

    void Write(std::FILE* stream, std::string_view bytes);

    std::FILE* out_;
    std::FILE* err_;
    bool colourLog_;
    std::function<void()> onClose_;

    std::mutex controlsMutex_;
    std::map<int, Control> controls_;
    bool closeRequested_ = false;
    // Keeps a colour escape, its text and the reset together when the worker
    // and the dialog logic print at once.
    std::mutex outputMutex_;
};

}  // namespace zelk::app
