// The console updater's command line, NUL-separated, given to the program's
// own main (compiled into this target under another name). The target
// carries no firmware package, so a command line that passes the option
// checks ends at the package check without touching a device; what is fuzzed
// is every path through the options and their messages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "fuzz/fuzz_support.h"

int ZelkupdateMain(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The package step writes and reads in the temporary directory: keep it
    // to this process, and use no device file from the environment.
    ::setenv("TMPDIR", zelk::fuzz::ScratchDirectory().c_str(), 1);
    ::unsetenv("ZELK_VIRTUAL_DEVICES");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::CommandLine commandLine("zelkupdate", data, size);
    // Files a command line names (a --log) land in the scratch directory; the
    // fuzzer's own directory is given back before it writes its corpus.
    static const int home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (home < 0 || ::chdir(zelk::fuzz::ScratchDirectory().c_str()) != 0) {
        std::abort();
    }
    const int status = ZelkupdateMain(commandLine.Argc(), commandLine.Argv());
    if (::fchdir(home) != 0) {
        std::abort();
    }
    zelk::fuzz::Require(status >= 0 && status <= 255, "an exit status fits a byte");
    return 0;
}
