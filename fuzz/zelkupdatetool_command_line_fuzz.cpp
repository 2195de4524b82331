// The window program's own options, NUL-separated, read by the program's own
// code: its main file is compiled into this target (main renamed) and its
// option reading is called as main calls it before Qt starts, with Qt's
// options set aside. No window is opened.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define main ZelkUpdateToolMain
#include "app/programs/zelkupdatetool_main.cpp"
#undef main

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::CommandLine commandLine("ZelkUpdateTool", data, size);
    const int argc = commandLine.Argc();
    char** const argv = commandLine.Argv();

    // As main does before Qt starts: Qt's options set aside, ours read.
    std::optional<std::string> qtOptionError;
    std::vector<char*> own = OwnArguments(argc, argv, qtOptionError);
    zelk::fuzz::Require(!own.empty() && own.front() == argv[0], "the program name stays first");
    if (qtOptionError) {
        // A Qt option without its value never reaches Qt.
        return 0;
    }
    Options options;
    const std::optional<int> answer =
        AnswerWithoutWindow(static_cast<int>(own.size()), own.data(), options);
    if (answer) {
        zelk::fuzz::Require(*answer == kExitSuccess || *answer == kExitUsage,
                            "an answer is success or a usage error");
    } else {
        zelk::fuzz::Require(!options.simulate || !options.simulate->empty(),
                            "a device file is named when one is asked for");
    }
    DisplayAvailable(argc, argv);
    return 0;
}
