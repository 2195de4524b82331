// The window program's own options, NUL-separated, read by the program's own
// code: its main file is compiled into this target (main renamed) and its
// option reading is called as main calls it before and after Qt has taken
// Qt's options out. No window is opened.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define main ZelkUpdateToolMain
#include "zelkupdatetool_main.cpp"
#undef main

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zelk::fuzz::CommandLine commandLine("ZelkUpdateTool", data, size);
    const int argc = commandLine.Argc();
    char** const argv = commandLine.Argv();

    const bool withoutWindow = AsksWithoutWindow(argc, argv);
    Options options;
    const std::optional<int> answer = AnswerWithoutWindow(argc, argv, options);
    if (withoutWindow) {
        zelk::fuzz::Require(answer.has_value(), "help and version answer without a window");
    }
    if (answer) {
        zelk::fuzz::Require(*answer == kExitSuccess || *answer == kExitUsage,
                            "an answer is success or a usage error");
    } else {
        zelk::fuzz::Require(!options.simulate || !options.simulate->empty(),
                            "a device file is named when one is asked for");
    }
    return 0;
}
