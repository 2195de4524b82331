#include "tools/resource_adder_arguments.h"

#include <system_error>

namespace zelk::tools {
namespace {

namespace fs = std::filesystem;

std::uint16_t Le16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(Le16(bytes, at)) |
           static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16;
}

}  // namespace

std::string ShowPath(const fs::path& path) {
    const std::u8string text = path.u8string();
    std::string shown;
    for (const char8_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            const char* digits = "0123456789ABCDEF";
            shown += "\\x";
            shown += digits[c >> 4];
            shown += digits[c & 15];
        } else {
            shown.push_back(static_cast<char>(c));
        }
    }
    return shown;
}

std::optional<std::string> ElfProgramProblem(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kHeader32 = 52;
    constexpr std::size_t kHeader64 = 64;
    if (bytes.size() < 4 || bytes[0] != 0x7F || bytes[1] != 'E' || bytes[2] != 'L' ||
        bytes[3] != 'F') {
        return std::string("is not a program (no ELF header)");
    }
    if (bytes.size() < 18 || (bytes[4] != 1 && bytes[4] != 2) || (bytes[5] != 1 && bytes[5] != 2)) {
        return std::string("has a damaged ELF header");
    }
    if (bytes.size() < (bytes[4] == 1 ? kHeader32 : kHeader64)) {
        return std::string("has a damaged ELF header");
    }
    const std::uint16_t type =
        bytes[5] == 1 ? Le16(bytes, 16) : static_cast<std::uint16_t>(bytes[16] << 8 | bytes[17]);
    if (type != 2 && type != 3) {
        return std::string("is an ELF file but not a program (an object file or core dump)");
    }
    return std::nullopt;
}

// The MZ stub pointing at "PE\0\0", a file header that marks an executable
// image and no DLL, and an optional header of PE32 or PE32+.
std::optional<std::string> PeProgramProblem(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') {
        return std::string("is not a program (no MZ header)");
    }
    const std::uint32_t pe = Le32(bytes, 0x3C);
    if (pe > bytes.size() || bytes.size() - pe < 4 + 20 + 2 || bytes[pe] != 'P' ||
        bytes[pe + 1] != 'E' || bytes[pe + 2] != 0 || bytes[pe + 3] != 0) {
        return std::string("is not a Windows program (no PE header)");
    }
    const std::uint16_t characteristics = Le16(bytes, pe + 4 + 18);
    const std::uint16_t magic = Le16(bytes, pe + 4 + 20);
    if ((characteristics & 0x0002) == 0 || (characteristics & 0x2000) != 0 ||
        (magic != 0x10B && magic != 0x20B)) {
        return std::string("is a PE file but not a program (a DLL or an object)");
    }
    return std::nullopt;
}

std::optional<ResourceAdderArguments> ParseResourceAdderArguments(const std::vector<fs::path>& raw,
                                                                  std::string& error) {
    ResourceAdderArguments arguments;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const fs::path::string_type& text = raw[i].native();
        if (text == fs::path("-h").native() || text == fs::path("--help").native()) {
            arguments.help = true;
        } else if (text == fs::path("-o").native()) {
            if (arguments.output) {
                error = "-o given twice";
                return std::nullopt;
            }
            if (i + 1 >= raw.size() || raw[i + 1].empty()) {
                error = "-o needs a file name";
                return std::nullopt;
            }
            arguments.output = raw[++i];
        } else if (!text.empty() && text[0] == '-' && text.size() > 1) {
            error = "unknown option " + ShowPath(raw[i]);
            return std::nullopt;
        } else if (text.empty()) {
            error = "an empty file name";
            return std::nullopt;
        } else {
            arguments.inputs.push_back(raw[i]);
        }
    }
    if (!arguments.help && arguments.inputs.size() != 4) {
        error = "expected 4 files, got " + std::to_string(arguments.inputs.size());
        return std::nullopt;
    }
    return arguments;
}

bool SameFile(const fs::path& output, const fs::path& input) {
    std::error_code ec;
    return fs::equivalent(output, input, ec) && !ec;
}

}  // namespace zelk::tools
