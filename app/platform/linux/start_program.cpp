// Starting another program without a shell, so that a path or argument with
// blanks or shell characters arrives as exactly one argument.
//
// The child is reaped by a detached thread that waits for that one process id.
// Unlike a SIGCHLD handler it leaves the process's signal dispositions and any
// other code's waitpid alone, and unlike a double fork it needs no fork of this
// multi-threaded process. The thread lives as long as the child does.

#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "app/platform/linux/native_path.h"
#include "app/platform/platform.h"

extern char** environ;

namespace zelk::app::platform {
namespace {

void ReapWhenDone(pid_t child) {
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

}  // namespace

bool StartProgram(std::u16string_view file, const std::vector<std::u16string>& arguments) {
    const auto program = NativePath(file);
    if (!program || program->empty()) {
        return false;
    }
    std::vector<std::string> words{*program};
    for (const std::u16string& argument : arguments) {
        auto word = NativePath(argument);
        if (!word) {
            return false;
        }
        words.push_back(std::move(*word));
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    // glibc reports a failed exec (missing file, no permission) here rather
    // than as a child that exits with 127.
    if (posix_spawn(&child, program->c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    ReapWhenDone(child);
    return true;
}

}  // namespace zelk::app::platform
