// A Desktop for tests: it keeps every control in memory and records what the
// logic showed, printed and broadcast, so a test can compare it with what a
// user or another program would have seen.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/desktop/desktop.h"
#include "app/platform/platform.h"

namespace zelk::app {

class RecordingDesktop : public Desktop {
  public:
    struct LogEntry {
        std::u16string text;
        Rgb colour;
    };
    struct BroadcastEntry {
        ProgressEvent event;
        std::int64_t lParam;
    };
    struct Control {
        std::u16string text;
        bool visible = false;
        bool checked = false;
    };

    // What the fake answers.
    std::optional<std::uint32_t> languageId;
    std::u16string tempDirectory = u"/tmp/";
    std::u16string ownPath = u"/opt/zelk/zelkupdate";
    std::map<std::pair<std::u16string, int>, std::vector<std::uint8_t>> resources;
    std::vector<std::optional<std::u16string>> openFileAnswers;  // one per dialog, in turn
    std::vector<std::u16string> existingFiles;

    void SetControlText(int id, std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        controls_[id].text = text;
    }
    std::u16string ControlText(int id) override {
        std::lock_guard lock(mutex_);
        return controls_[id].text;
    }
    void ShowControl(int id, bool visible) override {
        std::lock_guard lock(mutex_);
        controls_[id].visible = visible;
        shown_.push_back(id);
    }
    bool IsChecked(int id) override {
        std::lock_guard lock(mutex_);
        return controls_[id].checked;
    }
    void SetChecked(int id, bool checked) override {
        std::lock_guard lock(mutex_);
        controls_[id].checked = checked;
    }
    void AppendLog(std::u16string_view text, Rgb colour) override {
        std::lock_guard lock(mutex_);
        log_.push_back({std::u16string(text), colour});
    }
    void MessageBox(std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        messageBoxes_.emplace_back(text);
    }
    std::optional<std::u16string> OpenFile(const OpenFileRequest& request) override {
        std::lock_guard lock(mutex_);
        openFileRequests_.push_back(request);
        if (openFileAnswers.empty()) {
            return std::nullopt;
        }
        auto answer = openFileAnswers.front();
        openFileAnswers.erase(openFileAnswers.begin());
        return answer;
    }
    std::optional<std::uint32_t> SystemLanguageId() override { return languageId; }
    ResourceLookup FindResource(std::u16string_view type, int id,
                                std::vector<std::uint8_t>& bytes) override {
        const auto found = resources.find({std::u16string(type), id});
        if (found == resources.end()) {
            return ResourceLookup::NotFound;
        }
        bytes = found->second;
        return bytes.empty() ? ResourceLookup::Unusable : ResourceLookup::Found;
    }
    std::u16string TempDirectory() override { return tempDirectory; }
    std::u16string OwnPath() override { return ownPath; }
    bool FileExists(std::u16string_view path) override {
        for (const auto& file : existingFiles) {
            if (file == path) {
                return true;
            }
        }
        return false;
    }
    bool StartProgram(std::u16string_view file,
                      const std::vector<std::u16string>& arguments) override {
        std::lock_guard lock(mutex_);
        started_.push_back({std::u16string(file), arguments});
        return true;
    }
    void BroadcastProgress(ProgressEvent event, std::int64_t lParam) override {
        std::lock_guard lock(mutex_);
        broadcasts_.push_back({event, lParam});
    }
    void DebugOutput(std::u16string_view text) override {
        std::lock_guard lock(mutex_);
        debug_.emplace_back(text);
    }
    void WriteStdout(std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        stdout_.append(bytes);
    }
    void CloseMainWindow() override {
        std::lock_guard lock(mutex_);
        ++closeRequests_;
    }
    LocalTime Now() override { return {12, 34, 56, 789}; }
    std::string ToAnsiBytes(std::u16string_view text) override { return ansiBytes(text); }
    std::string ToChineseCodePageBytes(std::u16string_view text) override {
        return chineseBytes(text);
    }
    std::u16string FromChineseCodePageBytes(std::string_view bytes) override {
        return chineseText(bytes);
    }

    // The system's own code pages unless a test puts its own in.
    std::function<std::string(std::u16string_view)> ansiBytes = platform::ToAnsiBytes;
    std::function<std::string(std::u16string_view)> chineseBytes = platform::ToChineseCodePageBytes;
    std::function<std::u16string(std::string_view)> chineseText =
        platform::FromChineseCodePageBytes;

    // What was recorded.
    std::vector<LogEntry> Log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    std::vector<BroadcastEntry> Broadcasts() {
        std::lock_guard lock(mutex_);
        return broadcasts_;
    }
    std::string Stdout() {
        std::lock_guard lock(mutex_);
        return stdout_;
    }
    std::vector<std::u16string> DebugLines() {
        std::lock_guard lock(mutex_);
        return debug_;
    }
    std::vector<std::u16string> MessageBoxes() {
        std::lock_guard lock(mutex_);
        return messageBoxes_;
    }
    std::vector<int> ShownControls() {
        std::lock_guard lock(mutex_);
        return shown_;
    }
    std::vector<OpenFileRequest> OpenFileRequests() {
        std::lock_guard lock(mutex_);
        return openFileRequests_;
    }
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> StartedPrograms() {
        std::lock_guard lock(mutex_);
        return started_;
    }
    int CloseRequests() {
        std::lock_guard lock(mutex_);
        return closeRequests_;
    }
    Control ControlState(int id) {
        std::lock_guard lock(mutex_);
        return controls_[id];
    }

  private:
    std::mutex mutex_;
    std::map<int, Control> controls_;
    std::vector<LogEntry> log_;
    std::vector<std::u16string> messageBoxes_;
    std::vector<OpenFileRequest> openFileRequests_;
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> started_;
    std::vector<BroadcastEntry> broadcasts_;
    std::vector<std::u16string> debug_;
    std::string stdout_;
    std::vector<int> shown_;
    int closeRequests_ = 0;
};

}  // namespace zelk::app
