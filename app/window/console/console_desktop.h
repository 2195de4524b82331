// The desktop of a program without a window: the log and message boxes go to
// stderr (a message box as one line), the run's console lines to stdout, and
// the system services are the operating system's (OsServices). It has no
// controls and no window: setting a control keeps nothing, reading one gives
// an empty, unchecked control, and closing does nothing.
#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "app/desktop/desktop.h"
#include "app/platform/os_services.h"
#include "app/platform/platform.h"

namespace zelk::app {

struct ConsoleOptions {
    std::FILE* out = stdout;  // WriteStdout
    std::FILE* err = stderr;  // AppendLog, MessageBox
    // Colour escapes in the log; unset: when `err` is the process's stderr
    // and that is a terminal.
    std::optional<bool> colourLog;
    // Whether `out` and `err` show on a terminal; unset: detected for the
    // process's stdout and stderr, false for any other stream. On a terminal
    // every message starts on a line of its own (after a console text without
    // a line end, or a progress line ending in a carriage return). When both
    // are terminals they are taken for the same one, where the log's copy of
    // a console message is left out so the message shows once. Redirected
    // streams get their bytes unchanged.
    std::optional<bool> outIsTerminal;
    std::optional<bool> errIsTerminal;
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

  private:
    // `colour`: the log's colour escapes; `logCopy`: a log text, left out on
    // a terminal shared with stdout right after a console message.
    void Write(std::FILE* stream, std::string_view bytes, std::optional<Rgb> colour, bool logCopy);
    // Where the cursor of one terminal is: the last byte written there (0
    // before any), and whether the last text was a console message whose log
    // copy is still to come.
    struct Terminal {
        char lastByte = 0;
        bool consoleMessagePending = false;
    };
    // The terminal `stream` shows on; null when it is redirected.
    Terminal* TerminalOf(std::FILE* stream);
    // `bytes` as they go to `terminal`: on a line of their own.
    static std::string OnOwnLine(const Terminal& terminal, std::string_view bytes);

    std::FILE* out_;
    std::FILE* err_;
    bool colourLog_;
    bool outTerminal_;
    bool errTerminal_;
    Terminal outScreen_;  // also stderr's when both are terminals
    Terminal errScreen_;
    // Keeps a colour escape, its text and the reset together when the worker
    // and the dialog logic print at once.
    std::mutex outputMutex_;
};

}  // namespace zelk::app
