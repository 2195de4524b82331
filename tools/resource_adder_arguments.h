// The packaging tool's command line and its checks on the files it names,
// kept apart from the program so that tests and the fuzzer can run them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelk::tools {

struct ResourceAdderArguments {
    std::vector<std::filesystem::path> inputs;  // UPDATER OFFER PAYLOAD DEVICEINFO
    std::optional<std::filesystem::path> output;
    bool help = false;
};

// A path as UTF-8 for a message line: control characters (a line feed in a
// file name, say) are shown as \xNN so that every message stays one line.
std::string ShowPath(const std::filesystem::path& path);

// Reads the arguments (without the program's own name). On a mistake returns
// nothing and sets `error` to one line saying what is wrong.
std::optional<ResourceAdderArguments> ParseResourceAdderArguments(
    const std::vector<std::filesystem::path>& raw, std::string& error);

// Why `bytes` are not an ELF program (an executable or a shared object, as
// position-independent programs are), or nothing when they are.
std::optional<std::string> ElfProgramProblem(std::span<const std::uint8_t> bytes);
// Why `bytes` are not a PE program (an executable image, not a DLL), or nothing.
std::optional<std::string> PeProgramProblem(std::span<const std::uint8_t> bytes);

// True when `output` names the same file as `input`, however either is
// spelt: through links, "..", other letter case on Windows or another hard
// link. A path that does not exist names no existing input.
bool SameFile(const std::filesystem::path& output, const std::filesystem::path& input);

}  // namespace zelk::tools
