// Starting a program on Linux: arguments whole, no shell, child reaped.
#if !defined(_WIN32)

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/platform/platform.h"
#include "app/text/text_encoding.h"
#include "tests/app/scratch_directory.h"

namespace zelk::app {
namespace {

using namespace std::chrono_literals;

// Polls briefly; the started program is not ours to wait for.
template <typename Condition>
bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(LinuxStartProgram, PassesEachArgumentWholeAndReapsTheChild) {
    ScratchDirectory scratch("zelk start program");
    ASSERT_FALSE(scratch.Path().empty());
    const std::string out = scratch.Path() + "/out file";
    // Shell characters that a shell would have expanded or split on.
    const std::string argument = "two  words 'quoted' \"double\" $HOME * ; \\";
    // The shell is the program here, so its script sees the arguments as they
    // arrived; the file appears whole by the rename.
    ASSERT_TRUE(platform::StartProgram(
        u"/bin/sh", {u"-c", u"printf %s \"$1\" > \"$2.part\" && mv \"$2.part\" \"$2\"", u"sh",
                     Utf8ToUtf16(argument), Utf8ToUtf16(out)}));

    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(out); }));
    std::stringstream written;
    written << std::ifstream(out).rdbuf();
    EXPECT_EQ(written.str(), argument);

    // No child of this process is left unreaped (WNOWAIT only looks).
    EXPECT_TRUE(Eventually([] {
        siginfo_t info{};
        return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
    }));
}

TEST(LinuxStartProgram, FalseWhenTheProgramCannotBeStarted) {
    EXPECT_FALSE(platform::StartProgram(u"/nonexistent/zelk-program", {}));
    EXPECT_FALSE(platform::StartProgram(u"", {}));
    ScratchDirectory scratch;
    std::ofstream(scratch.Path() + "/not-executable") << "#!/bin/sh\n";
    EXPECT_FALSE(platform::StartProgram(Utf8ToUtf16(scratch.Path() + "/not-executable"), {}));
}

}  // namespace
}  // namespace zelk::app

#endif
