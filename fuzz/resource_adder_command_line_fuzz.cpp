// The packaging tool's command line: NUL-separated arguments. Checks that a
// refusal is one line and that an accepted line holds four files or a request
// for help, with -o taken at most once.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tools/resource_adder_arguments.h"

using zelk::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::filesystem::path> arguments;
    std::string current;
    for (std::size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            arguments.emplace_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    std::string error;
    const auto parsed = zelk::tools::ParseResourceAdderArguments(arguments, error);
    Require(parsed.has_value() == error.empty(), "a refusal says why");
    Require(error.find('\n') == std::string::npos, "a refusal is one line");
    if (parsed) {
        Require(parsed->help || parsed->inputs.size() == 4, "four files unless help");
        for (const auto& input : parsed->inputs) {
            Require(!input.empty() && (input.native() == "-" || input.native()[0] != '-'),
                    "inputs are file names, not options");
        }
        Require(!parsed->output || !parsed->output->empty(), "an output is a name");
    }
    // The same bytes as a file the tool is asked to take for the updater.
    (void)zelk::tools::ElfProgramProblem({data, size});
    (void)zelk::tools::PeProgramProblem({data, size});
    return 0;
}
