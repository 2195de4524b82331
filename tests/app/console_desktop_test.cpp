#include "app/window/console/console_desktop.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace zelk::app {
namespace {

// A file the desktop writes through its own stream while the test reads it by
// name, so that only flushed bytes are seen.
class OutputFile {
  public:
    explicit OutputFile(const char* name)
        : path_(
              std::filesystem::temp_directory_path() /
              (std::string("zelk-console-") + name + "-" + std::to_string(std::random_device()()))),
          stream_(std::fopen(path_.string().c_str(), "wb")) {}
    ~OutputFile() {
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

    std::FILE* Stream() const { return stream_; }
    std::string Written() const {
        std::stringstream bytes;
        bytes << std::ifstream(path_, std::ios::binary).rdbuf();
        return bytes.str();
    }

  private:
    std::filesystem::path path_;
    std::FILE* stream_;
};

class RecordingBroadcaster : public platform::ProgressBroadcaster {
  public:
    explicit RecordingBroadcaster(std::vector<std::pair<ProgressEvent, std::int64_t>>& sent)
        : sent_(sent) {}
    void Broadcast(ProgressEvent event, std::int64_t lParam) override {
        sent_.emplace_back(event, lParam);
    }

  private:
    std::vector<std::pair<ProgressEvent, std::int64_t>>& sent_;
};

class ConsoleDesktopTest : public testing::Test {
  protected:
    ConsoleDesktop MakeDesktop(bool colour) {
        ConsoleOptions options;
        options.out = out_.Stream();
        options.err = err_.Stream();
        options.colourLog = colour;
        options.broadcaster = std::make_unique<RecordingBroadcaster>(broadcasts_);
        return ConsoleDesktop(std::move(options));
    }

    OutputFile out_{"out"};
    OutputFile err_{"err"};
    std::vector<std::pair<ProgressEvent, std::int64_t>> broadcasts_;
};

#ifndef _WIN32
// Linux writes UTF-8; Windows writes the console's code page (or wide text).
TEST_F(ConsoleDesktopTest, LogIsPlainUtf8WithoutColour) {
    ASSERT_NE(err_.Stream(), nullptr);
    ConsoleDesktop desktop = MakeDesktop(false);
    desktop.AppendLog(u"Find no device\r\n", kRed);
    desktop.AppendLog(u"升级成功\n", kGreen);
    desktop.AppendLog(u"Ready\n", kBlack);
    EXPECT_EQ(err_.Written(),
              "Find no device\n\xE5\x8D\x87\xE7\xBA\xA7\xE6\x88\x90\xE5\x8A\x9F\nReady\n");
    EXPECT_EQ(out_.Written(), "");
}
#endif

TEST_F(ConsoleDesktopTest, LogColoursAllButBlackOnATerminal) {
    ConsoleDesktop desktop = MakeDesktop(true);
    desktop.AppendLog(u"fail\n", kRed);
    desktop.AppendLog(u"busy", kOrange);
    desktop.AppendLog(u"Ready\n", kBlack);
    desktop.AppendLog(u"\n", kGreen);
    EXPECT_EQ(err_.Written(),
              "\x1b[38;2;255;0;0mfail\x1b[0m\n"
              "\x1b[38;2;255;140;30mbusy\x1b[0m"
              "Ready\n"
              "\x1b[38;2;40;255;120m\x1b[0m\n");
}

TEST_F(ConsoleDesktopTest, MessageBoxIsOneLineOnStderr) {
    ConsoleDesktop desktop = MakeDesktop(true);
    desktop.MessageBox(u"Offer file missing.\r\nChoose another.\n");
    EXPECT_EQ(err_.Written(), "Offer file missing. Choose another.\n");
}

TEST_F(ConsoleDesktopTest, ConsoleLinesAreOnStdoutAtOnceAndInOrder) {
    ConsoleDesktop desktop = MakeDesktop(false);
    desktop.WriteStdout("FW version: 1.2.3\n");
    EXPECT_EQ(out_.Written(), "FW version: 1.2.3\n");
    desktop.AppendLog(u"log\n", kBlack);
    EXPECT_EQ(err_.Written(), "log\n");
    desktop.WriteStdout(std::string_view("\0raw", 4));
    EXPECT_EQ(out_.Written(), std::string("FW version: 1.2.3\n\0raw", 22));
}

// stdout and stderr on one terminal, as a person runs the console program:
// each message once (the log's copy of a console message is left out) and on
// a line of its own, while progress lines still overwrite each other.
TEST(ConsoleDesktopOnATerminal, EachMessageOnceOnALineOfItsOwn) {
    struct Step {
        bool console;  // WriteStdout, else AppendLog
        const char16_t* text;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::string shown;
    };
    const std::vector<Case> cases{
        {"a failed step with its explanation",
         {{true, u"Update fail, rst 4."},
          {false, u"Update fail, rst 4.\n"},
          {true, u" CFU_TIMEOUT: no answer.\n"},
          {false, u"CFU_TIMEOUT: no answer.\n"},
          {false, u"a log line of its own\n"}},
         "Update fail, rst 4. CFU_TIMEOUT: no answer.\na log line of its own\n"},
        {"progress, then success and a verified read-back",
         {{true, u"09:59:58.001    HANDLE 1: percentage: 50, status: 0. \r"},
          {true, u"09:59:59.978    HANDLE 1: percentage: 100, status: 0. \r"},
          {false, u"Success\n"},
          {true, u"Verified: 1.0.4.2.\n"},
          {false, u"Verified: 1.0.4.2.\n"}},
         "09:59:58.001    HANDLE 1: percentage: 50, status: 0. \r"
         "09:59:59.978    HANDLE 1: percentage: 100, status: 0. \r"
         "\nSuccess\nVerified: 1.0.4.2.\n"},
        {"no device",
         {{true, u"Find no device."}, {false, u"Find no device\n"}, {true, u"\nheader\n"}},
         "Find no device.\nheader\n"},
    };
    for (const Case& c : cases) {
        OutputFile screen("terminal");
        std::vector<std::pair<ProgressEvent, std::int64_t>> sent;
        ConsoleOptions options;
        options.out = options.err = screen.Stream();
        options.outIsTerminal = options.errIsTerminal = true;
        options.colourLog = false;
        options.broadcaster = std::make_unique<RecordingBroadcaster>(sent);
        ConsoleDesktop desktop(std::move(options));
        for (const Step& step : c.steps) {
            if (step.console) {
                const std::u16string text = step.text;
                desktop.WriteStdout(std::string(text.begin(), text.end()));
            } else {
                desktop.AppendLog(step.text, kRed);
            }
        }
        EXPECT_EQ(screen.Written(), c.shown) << c.name;
    }
}

// Redirected, the console text keeps its specified bytes (no line end added)
// and the log keeps every copy.
TEST_F(ConsoleDesktopTest, RedirectedOutputKeepsItsBytes) {
    ConsoleDesktop desktop = MakeDesktop(false);
    desktop.WriteStdout("1%\r");
    desktop.WriteStdout("Update fail, rst 4.");
    desktop.AppendLog(u"Update fail, rst 4.\n", kRed);
    desktop.WriteStdout("Update fail, rst 4.");
    EXPECT_EQ(out_.Written(), "1%\rUpdate fail, rst 4.Update fail, rst 4.");
    EXPECT_EQ(err_.Written(), "Update fail, rst 4.\n");
}

// The console program runs from its inputs, not from controls: nothing the
// dialog logic would set shows anywhere or comes back.
TEST_F(ConsoleDesktopTest, ControlsAndCloseKeepAndWriteNothing) {
    ConsoleDesktop desktop = MakeDesktop(false);
    desktop.SetControlText(control::kPidEdit, u"0x326B");
    desktop.SetChecked(control::kHideWindow, true);
    desktop.ShowControl(control::kLog, false);
    desktop.CloseMainWindow();
    EXPECT_EQ(desktop.ControlText(control::kPidEdit), u"");
    EXPECT_FALSE(desktop.IsChecked(control::kHideWindow));
    EXPECT_EQ(out_.Written(), "");
    EXPECT_EQ(err_.Written(), "");
}

TEST_F(ConsoleDesktopTest, LogIsSafeFromTheWorkerThread) {
    ConsoleDesktop desktop = MakeDesktop(true);
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) {
            desktop.AppendLog(u"w\n", kRed);
        }
    });
    for (int i = 0; i < 200; ++i) {
        desktop.AppendLog(u"m\n", kGreen);
    }
    worker.join();
    // Every colour escape stays with its text.
    const std::string written = err_.Written();
    std::size_t workerLines = 0;
    std::size_t mainLines = 0;
    for (std::size_t at = 0; at < written.size();) {
        const std::string w = "\x1b[38;2;255;0;0mw\x1b[0m\n";
        const std::string m = "\x1b[38;2;40;255;120mm\x1b[0m\n";
        if (written.compare(at, w.size(), w) == 0) {
            ++workerLines;
            at += w.size();
        } else if (written.compare(at, m.size(), m) == 0) {
            ++mainLines;
            at += m.size();
        } else {
            FAIL() << "torn output at byte " << at;
        }
    }
    EXPECT_EQ(workerLines, 200u);
    EXPECT_EQ(mainLines, 200u);
}

TEST_F(ConsoleDesktopTest, NoFileDialogAndBroadcastsGoToTheBroadcaster) {
    ConsoleDesktop desktop = MakeDesktop(false);
    EXPECT_EQ(desktop.OpenFile({u"bin", u"fw.bin", {{u"FIREWARE (*.bin)", u"*.bin"}}}),
              std::nullopt);
    desktop.BroadcastProgress(ProgressEvent::Progress, 42);
    desktop.BroadcastProgress(ProgressEvent::RunEnded, 0);
    const std::vector<std::pair<ProgressEvent, std::int64_t>> expected{
        {ProgressEvent::Progress, 42}, {ProgressEvent::RunEnded, 0}};
    EXPECT_EQ(broadcasts_, expected);
}

}  // namespace
}  // namespace zelk::app
