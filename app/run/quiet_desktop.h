// The desktop the station gives each update it runs: many devices update at
// once, and their step-by-step texts and progress would garble the station's
// one line per device. It keeps what matters (the services the run needs:
// files, the temporary directory, the clock, code pages, debug output) and
// drops the console lines, the log pane, the broadcasts and the controls.
#pragma once

#include "app/desktop/desktop.h"

namespace zelk::app {

class QuietDesktop final : public Desktop {
  public:
    explicit QuietDesktop(Desktop& inner) : inner_(inner) {}

    void SetControlText(int, std::u16string_view) override {}
    std::u16string ControlText(int) override { return {}; }
    void ShowControl(int, bool) override {}
    bool IsChecked(int) override { return false; }
    void SetChecked(int, bool) override {}
    void AppendLog(std::u16string_view, Rgb) override {}
    void MessageBox(std::u16string_view) override {}
    std::optional<std::u16string> OpenFile(const OpenFileRequest&) override { return std::nullopt; }
    void CloseMainWindow() override {}

    std::optional<std::uint32_t> SystemLanguageId() override { return inner_.SystemLanguageId(); }
    ResourceLookup FindResource(std::u16string_view type, int id,
                                std::vector<std::uint8_t>& bytes) override {
        return inner_.FindResource(type, id, bytes);
    }
    std::u16string TempDirectory() override { return inner_.TempDirectory(); }
    std::u16string OwnPath() override { return inner_.OwnPath(); }
    bool FileExists(std::u16string_view path) override { return inner_.FileExists(path); }
    bool StartProgram(std::u16string_view, const std::vector<std::u16string>&) override {
        return false;
    }
    void BroadcastProgress(ProgressEvent, std::int64_t) override {}
    void DebugOutput(std::u16string_view text) override { inner_.DebugOutput(text); }
    void WriteStdout(std::string_view) override {}
    LocalTime Now() override { return inner_.Now(); }
    std::string ToAnsiBytes(std::u16string_view text) override { return inner_.ToAnsiBytes(text); }
    std::string ToChineseCodePageBytes(std::u16string_view text) override {
        return inner_.ToChineseCodePageBytes(text);
    }
    std::u16string FromChineseCodePageBytes(std::string_view bytes) override {
        return inner_.FromChineseCodePageBytes(bytes);
    }

  private:
    Desktop& inner_;
};

}  // namespace zelk::app
