// What qrb_resource_adder does differently per OS: how it gets its
// arguments, and how the resources get into the copy of the updater (an
// appended package on Linux, Windows resources in a .exe).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zelk::tools {

struct PackageResource {
    std::u16string type;
    std::uint16_t id = 0;
    std::vector<std::uint8_t> bytes;
};

enum class WriteOutcome {
    Written,
    BadUpdater,   // the updater cannot carry a package as it is (exit status 2)
    WriteFailed,  // the copy could not be written (exit status 1)
};

struct WriteResult {
    WriteOutcome outcome = WriteOutcome::WriteFailed;
    std::string error;  // names the file and the problem, one line
};

// The program's arguments without its own name, as paths.
std::vector<std::filesystem::path> ProgramArguments(int argc, char** argv);

// Why `bytes` are not a program of this platform (ELF on Linux, PE on
// Windows), or nothing when they are.
std::optional<std::string> ProgramFormatProblem(std::span<const std::uint8_t> bytes);

// Writes `output` as a copy of the updater (`updaterBytes`, read from
// `updater`) that carries exactly `resources`, replacing any package the
// updater already carries. The copy is written under a temporary name in
// the output's directory and renamed over `output` only when complete;
// `updater` itself is never written (the program refuses an `output` that
// names any input).
WriteResult WritePackagedCopy(const std::filesystem::path& updater,
                              const std::vector<std::uint8_t>& updaterBytes,
                              const std::filesystem::path& output,
                              const std::vector<PackageResource>& resources);

}  // namespace zelk::tools
