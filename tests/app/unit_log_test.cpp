// The unit log: what each run outcome is recorded as, the line's form, and
// the file it goes to (appends from several threads, refusals, a failed
// write).
#include "app/run/unit_log.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/run/run_messages.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/app/scratch_directory.h"
#else
#include <filesystem>
#include <fstream>
#include <random>
#endif

namespace zelk::app {
namespace {

using Json = nlohmann::json;

RunOutcome Described() {
    RunOutcome outcome;
    outcome.path = "\\\\?\\HID#VID_320F&PID_5055&MI_02#virtual&0&0000";
    outcome.serial = "L-1";
    outcome.componentId = 15;
    outcome.budRole = 1;
    outcome.versionBefore = "1.0.3.2";
    outcome.offeredVersion = "1.0.4.2";
    return outcome;
}

struct RecordRow {
    const char* name;
    std::function<void(RunOutcome&)> make;
    const char* result;
    const char* reasonStart;  // "" for none
    const char* versionAfter;
};

TEST(UnitLogRecord, EachOutcomeIsRecordedAsWhatHappenedToTheUnit) {
    const RecordRow rows[] = {
        {"verified",
         [](RunOutcome& o) {
             o.succeeded = true;
             o.verification = Verification::Verified;
             o.reportedVersion = "1.0.4.2";
             o.transferMs = 4100;
             o.blocks = 3705;
         },
         "updated", "", "1.0.4.2"},
        {"sent but still the old version",
         [](RunOutcome& o) {
             o.succeeded = true;
             o.verification = Verification::Unverified;
             o.reportedVersion = "1.0.3.2";
             o.blocks = 3705;
         },
         "unconfirmed", "the version was not confirmed", "1.0.3.2"},
        {"sent, not read again",
         [](RunOutcome& o) {
             o.succeeded = true;
             o.verification = Verification::Unverified;
         },
         "unconfirmed", "the version was not confirmed", ""},
        {"offer rejected",
         [](RunOutcome& o) {
             o.stepFailed = true;
             o.failedStep = "Update";
             o.error = engine::UpdateError::LastImageRejected;
             o.resultCode = 4;
         },
         "failed", "Update fail, rst 4 (CFU_RESULT_LAST_IMAGE_REJECTED: ", ""},
        // A transfer that completed but a later step failed is no update.
        {"closing failed after the transfer",
         [](RunOutcome& o) {
             o.succeeded = true;
             o.stepFailed = true;
             o.failedStep = "Close device endpoint";
             o.error = engine::UpdateError::EndpointOpenFailed;
             o.resultCode = 3;
         },
         "failed", "Close device endpoint fail, rst ", ""},
        {"cannot be opened",
         [](RunOutcome& o) {
             o.stepFailed = true;
             o.cannotOpen = true;
         },
         "failed", "", ""},
    };
    for (const RecordRow& row : rows) {
        SCOPED_TRACE(row.name);
        RunOutcome outcome = Described();
        row.make(outcome);
        const UnitRecord record = RecordOf(outcome);
        EXPECT_EQ(record.result, row.result);
        EXPECT_EQ(record.versionAfter, row.versionAfter);
        if (row.reasonStart[0] == '\0' && record.result == "updated") {
            EXPECT_EQ(record.reason, "");
        } else if (row.reasonStart[0] != '\0') {
            EXPECT_TRUE(record.reason.starts_with(row.reasonStart)) << record.reason;
        }
        // The --all summary and the log give one failure the same words.
        if (record.result != "updated") {
            EXPECT_EQ(record.reason, OutcomeFailureText(outcome));
        }
        EXPECT_EQ(record.path, outcome.path);
        EXPECT_EQ(record.serial, "L-1");
        EXPECT_EQ(record.componentId, 15);
        EXPECT_EQ(record.budRole, 1);
        EXPECT_EQ(record.versionBefore, "1.0.3.2");
        EXPECT_EQ(record.durationMs, outcome.transferMs);
        EXPECT_EQ(record.blocks, outcome.blocks);
    }
    RunOutcome unopenable;
    unopenable.path = "p";
    unopenable.stepFailed = true;
    unopenable.cannotOpen = true;
    EXPECT_EQ(RecordOf(unopenable).reason, NotOpenableText(false));
}

std::chrono::system_clock::time_point At(int hour, int minute, int second, int ms) {
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 11} + hours{hour} + minutes{minute} + seconds{second} +
           milliseconds{ms};
}

TEST(UnitLogLine, OneObjectWithEveryFieldInOrderAndNullsForWhatIsUnknown) {
    UnitRecord record;
    record.path = "dev\n\"x\"";
    record.componentId = 15;
    record.budRole = 2;
    record.versionBefore = "1.0.3.2";
    record.versionAfter = "1.0.4.2";
    record.result = "updated";
    record.durationMs = 4100;
    record.blocks = 3705;
    const std::string line = UnitRecordLine(record, At(6, 4, 9, 7));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line,
              "{\"time\":\"2026-12-11T06:04:09.007Z\",\"path\":\"dev\\n\\\"x\\\"\",\"serial\":null,"
              "\"component\":15,\"budRole\":2,\"versionBefore\":\"1.0.3.2\",\"versionAfter\":"
              "\"1.0.4.2\",\"result\":\"updated\",\"reason\":null,\"durationMs\":4100,"
              "\"blocks\":3705}");

    // A run that described no device tried nothing: no component, role,
    // duration or blocks; a path that is not UTF-8 still gives a line.
    UnitRecord bare;
    bare.path = "bad\xFF";
    bare.result = "failed";
    bare.reason = "the device was not found";
    const Json parsed = Json::parse(UnitRecordLine(bare, At(23, 59, 59, 999)));
    EXPECT_EQ(parsed["time"], "2026-12-11T23:59:59.999Z");
    EXPECT_EQ(parsed["path"], "bad\xEF\xBF\xBD");
    for (const char* field : {"serial", "component", "budRole", "versionBefore", "versionAfter",
                              "durationMs", "blocks"}) {
        EXPECT_TRUE(parsed[field].is_null()) << field;
    }
    EXPECT_EQ(parsed["reason"], "the device was not found");
}

#if !defined(_WIN32)

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the file does not end with a whole line";
    return lines;
}

UnitRecord Record(const std::string& path) {
    UnitRecord record;
    record.path = path;
    record.componentId = 15;
    record.result = "updated";
    return record;
}

TEST(UnitLogFile, LinesFromSeveralThreadsStayWholeAndFollowWhatWasThere) {
    ScratchDirectory scratch;
    const std::string file = scratch.Path() + "/units.log";
    { std::ofstream(file) << "{\"earlier\":true}\n"; }
    std::string error;
    const std::unique_ptr<UnitLog> log = OpenUnitLog(file, error);
    ASSERT_NE(log, nullptr) << error;
    constexpr int kThreads = 6;
    constexpr int kLines = 40;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                // Long lines, so that a write cut in two would show.
                const std::string path = std::string(5000, static_cast<char>('a' + t));
                for (int i = 0; i < kLines; ++i) {
                    EXPECT_TRUE(log->Append(Record(path)));
                }
            });
        }
    }
    const std::vector<std::string> lines = Lines(ReadAll(file));
    ASSERT_EQ(lines.size(), 1u + kThreads * kLines);
    EXPECT_EQ(lines[0], "{\"earlier\":true}");
    std::vector<int> perThread(kThreads);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const Json object = Json::parse(lines[i]);  // throws on a broken line
        const std::string path = object["path"];
        ASSERT_EQ(path, std::string(5000, path[0]));
        ++perThread[static_cast<std::size_t>(path[0] - 'a')];
    }
    EXPECT_EQ(perThread, std::vector<int>(kThreads, kLines));
}

TEST(UnitLogFile, ANewLogIsCreatedWith0644LessTheUmask) {
    ScratchDirectory scratch;
    const std::string file = scratch.Path() + "/new.log";
    const mode_t before = umask(027);
    std::string error;
    const bool opened = OpenUnitLog(file, error) != nullptr;
    umask(before);
    ASSERT_TRUE(opened) << error;
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

struct RefusalRow {
    const char* name;
    std::function<std::string(const std::string& scratch)> make;  // the path to open
    const char* says;
};

TEST(UnitLogFile, WhatIsNotAWritableRegularFileIsRefusedWithoutWaiting) {
    ScratchDirectory scratch;
    const RefusalRow rows[] = {
        {"a directory", [](const std::string& dir) { return dir; },
         "is not a regular file (it is a directory)"},
        // Without O_NONBLOCK the open would wait here for a reader forever.
        {"a FIFO without a reader",
         [](const std::string& dir) {
             const std::string fifo = dir + "/fifo";
             EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
             return fifo;
         },
         "is not a regular file"},
        {"a device node", [](const std::string&) { return std::string("/dev/null"); },
         "is not a regular file (it is a device node)"},
        {"in a missing directory",
         [](const std::string& dir) { return dir + "/missing/units.log"; },
         "cannot be opened for appending: No such file or directory"},
        {"an empty name", [](const std::string&) { return std::string(); },
         "is not a usable file name"},
    };
    for (const RefusalRow& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = row.make(scratch.Path());
        std::string error;
        EXPECT_EQ(OpenUnitLog(path, error), nullptr);
        EXPECT_NE(error.find(row.says), std::string::npos) << error;
        EXPECT_NE(error.find("log file " + path), std::string::npos) << error;
    }
    // A FIFO with a reader opens, but is still no file to keep records in.
    const std::string fifo = scratch.Path() + "/fifo";
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string error;
    EXPECT_EQ(OpenUnitLog(fifo, error), nullptr);
    EXPECT_NE(error.find("is not a regular file (it is a FIFO)"), std::string::npos) << error;
    close(reader);
}

// In a child: one line, then the file may grow to 4096 bytes only; exits 0
// when the line cut short and the one after it both failed.
[[noreturn]] void AppendBeyondTheFileSizeLimit(const std::string& file) {
    signal(SIGXFSZ, SIG_IGN);
    std::string error;
    const std::unique_ptr<UnitLog> log = OpenUnitLog(file, error);
    if (!log || !log->Append(Record("first"))) {
        _exit(2);
    }
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool cut = log->Append(Record(std::string(6000, 'x')));
    const bool full = log->Append(Record("after"));
    _exit(!cut && !full ? 0 : 1);
}

// The file may grow no further than the limit (as on a full disk): a line cut
// short is a failed append, and so is every one after it.
TEST(UnitLogFileDeathTest, AWriteCutShortIsReported) {
    ScratchDirectory scratch;
    const std::string file = scratch.Path() + "/units.log";
    EXPECT_EXIT(AppendBeyondTheFileSizeLimit(file), ::testing::ExitedWithCode(0), "");
    const std::string text = ReadAll(file);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(Json::parse(text.substr(0, text.find('\n')))["path"], "first");
    EXPECT_LE(text.size(), 4096u);
}

#else

// Windows: the log is appended to, and a directory is no log.
TEST(UnitLogFile, AppendsWholeLinesAndRefusesADirectory) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("zelk-unit-log-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "units.log").string();
    {
        std::string error;
        const std::unique_ptr<UnitLog> log = OpenUnitLog(file, error);
        ASSERT_NE(log, nullptr) << error;
        UnitRecord record;
        record.path = "first";
        record.result = "updated";
        EXPECT_TRUE(log->Append(record));
        record.path = "second";
        EXPECT_TRUE(log->Append(record));
    }
    std::ifstream in(file, std::ios::binary);
    std::string line;
    std::vector<std::string> paths;
    while (std::getline(in, line)) {
        paths.push_back(Json::parse(line)["path"]);
    }
    in.close();
    EXPECT_EQ(paths, (std::vector<std::string>{"first", "second"}));
    std::string error;
    EXPECT_EQ(OpenUnitLog(dir.string(), error), nullptr);
    EXPECT_NE(error.find("is not a regular file (it is a directory)"), std::string::npos) << error;
    std::filesystem::remove_all(dir);
}

#endif

}  // namespace
}  // namespace zelk::app
