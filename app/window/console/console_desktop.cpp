#include "app/window/console/console_desktop.h"

#include <string>

#include "app/text/text_encoding.h"

namespace zelk::app {
namespace {

// Log and message texts are written with the Windows edit control's CRLF line
// ends; a terminal or a log file wants LF.
std::string ConsoleText(std::u16string_view text) {
    std::string bytes = Utf16ToUtf8(text);
    std::string result;
    result.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        result.push_back(bytes[i]);
    }
    return result;
}

// 24-bit foreground colour. Black is the dialog's ordinary text colour: it is
// left to the terminal's default so it stays readable on a dark background.
// The reset goes before the closing line end so that nothing after the text
// inherits the colour.
std::string Coloured(const std::string& text, Rgb colour) {
    if (colour == kBlack) {
        return text;
    }
    const std::size_t bodyEnd = text.find_last_not_of('\n') + 1;  // npos + 1 == 0
    std::string result = "\x1b[38;2;" + std::to_string(colour.red) + ";" +
                         std::to_string(colour.green) + ";" + std::to_string(colour.blue) + "m";
    result.append(text, 0, bodyEnd);
    result += "\x1b[0m";
    result.append(text, bodyEnd, std::string::npos);
    return result;
}

}  // namespace

ConsoleDesktop::ConsoleDesktop(ConsoleOptions options)
    : OsServices(std::move(options.broadcaster)),
      out_(options.out),
      err_(options.err),
      colourLog_(options.colourLog.value_or(options.err == stderr && platform::StderrIsTerminal())),
      outTerminal_(
          options.outIsTerminal.value_or(options.out == stdout && platform::StdoutIsTerminal())),
      errTerminal_(
          options.errIsTerminal.value_or(options.err == stderr && platform::StderrIsTerminal())) {}

void ConsoleDesktop::SetControlText(int, std::u16string_view) {}

std::u16string ConsoleDesktop::ControlText(int) {
    return {};
}

void ConsoleDesktop::ShowControl(int, bool) {}

bool ConsoleDesktop::IsChecked(int) {
    return false;
}

void ConsoleDesktop::SetChecked(int, bool) {}

void ConsoleDesktop::AppendLog(std::u16string_view text, Rgb colour) {
    // The driver prints a message, then logs its copy: on one terminal that
    // would show it twice.
    Write(err_, ConsoleText(text), colourLog_ ? std::optional(colour) : std::nullopt, true);
}

// One line, so that a message meant for a box reads as one entry in a log.
void ConsoleDesktop::MessageBox(std::u16string_view text) {
    std::string line = ConsoleText(text);
    while (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    line += '\n';
    Write(err_, line, std::nullopt, false);
}

std::optional<std::u16string> ConsoleDesktop::OpenFile(const OpenFileRequest&) {
    return std::nullopt;
}

void ConsoleDesktop::WriteStdout(std::string_view bytes) {
    Write(out_, bytes, std::nullopt, false);
}

void ConsoleDesktop::CloseMainWindow() {}

ConsoleDesktop::Terminal* ConsoleDesktop::TerminalOf(std::FILE* stream) {
    if (stream == out_ && outTerminal_) {
        return &outScreen_;
    }
    if (stream == err_ && errTerminal_) {
        return outTerminal_ ? &outScreen_ : &errScreen_;
    }
    return nullptr;
}

// A progress line ends in a carriage return so that the next progress line
// overwrites it; any other text after it, or after a text without a line
// end, starts a new line. A text that starts with a line end or a blank (an
// explanation that continues the message before it) needs none.
std::string ConsoleDesktop::OnOwnLine(const Terminal& terminal, std::string_view bytes) {
    std::string result;
    if (!bytes.empty() && terminal.lastByte != 0 && terminal.lastByte != '\n') {
        const bool progressAfterProgress = terminal.lastByte == '\r' && bytes.back() == '\r';
        const bool continues =
            bytes.front() == '\n' || (bytes.front() == ' ' && terminal.lastByte != '\r');
        if (!progressAfterProgress && !continues) {
            result.push_back('\n');
        }
    }
    result.append(bytes);
    return result;
}

// Flushed at once: stdout and stderr may be the same pipe, and the run's lines
// must arrive in the order they were written.
void ConsoleDesktop::Write(std::FILE* stream, std::string_view bytes, std::optional<Rgb> colour,
                           bool logCopy) {
    std::lock_guard lock(outputMutex_);
    Terminal* terminal = TerminalOf(stream);
    if (terminal == nullptr || bytes.empty()) {
        if (colour) {
            platform::WriteConsoleText(stream, Coloured(std::string(bytes), *colour));
        } else {
            platform::WriteConsoleText(stream, bytes);
        }
        return;
    }
    if (logCopy && outTerminal_ && errTerminal_ && terminal->consoleMessagePending) {
        terminal->consoleMessagePending = false;
        return;
    }
    std::string shown = OnOwnLine(*terminal, bytes);
    if (colour) {
        const std::size_t separator = shown.size() - bytes.size();
        shown = shown.substr(0, separator) + Coloured(std::string(bytes), *colour);
    }
    platform::WriteConsoleText(stream, shown);
    terminal->lastByte = bytes.back();
    terminal->consoleMessagePending = stream == out_ && bytes.back() != '\r';
}

}  // namespace zelk::app
