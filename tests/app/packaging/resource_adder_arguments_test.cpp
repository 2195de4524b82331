// The packaging tool's command line and its test of the updater's format.
#include "tools/resource_adder_arguments.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zelk::tools {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ResourceAdderArguments, CommandLines) {
    struct Case {
        std::vector<std::filesystem::path> arguments;
        const char* error;  // empty when accepted
    };
    const std::vector<Case> cases{
        {{"u", "o", "p", "d"}, ""},
        {{"u", "o", "-o", "out", "p", "d"}, ""},
        {{"--help"}, ""},
        {{"u", "o", "p", "d", "-o"}, "-o needs a file name"},
        {{"u", "o", "p", "d", "-o", ""}, "-o needs a file name"},
        {{"u", "o", "p", "d", "-o", "a", "-o", "b"}, "-o given twice"},
        {{"u", "o", "p", "d", "--out"}, "unknown option --out"},
        {{"u", "o", "p", "d", "-\n\x7f"}, "unknown option -\\x0A\\x7F"},
        {{"u", "", "p", "d"}, "an empty file name"},
        {{"u", "o", "p"}, "expected 4 files, got 3"},
        {{"u", "o", "p", "d", "e"}, "expected 4 files, got 5"},
        {{"u", "-", "p", "d"}, ""},  // a lone dash is a file name
    };
    for (const Case& c : cases) {
        std::string error;
        const auto parsed = ParseResourceAdderArguments(c.arguments, error);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(parsed.has_value(), error.empty());
    }
}

Bytes Elf(std::uint8_t elfClass, std::uint8_t order, std::uint16_t type) {
    Bytes bytes(64, 0);
    bytes[0] = 0x7F;
    bytes[1] = 'E';
    bytes[2] = 'L';
    bytes[3] = 'F';
    bytes[4] = elfClass;
    bytes[5] = order;
    bytes[order == 1 ? 16 : 17] = static_cast<std::uint8_t>(type);
    return bytes;
}

Bytes Pe(std::uint16_t characteristics, std::uint16_t magic) {
    Bytes bytes(0x80 + 26, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3C] = 0x80;
    bytes[0x80] = 'P';
    bytes[0x81] = 'E';
    bytes[0x80 + 22] = static_cast<std::uint8_t>(characteristics);
    bytes[0x80 + 23] = static_cast<std::uint8_t>(characteristics >> 8);
    bytes[0x80 + 24] = static_cast<std::uint8_t>(magic);
    bytes[0x80 + 25] = static_cast<std::uint8_t>(magic >> 8);
    return bytes;
}

TEST(ResourceAdderArguments, ProgramFormats) {
    EXPECT_FALSE(ElfProgramProblem(Elf(2, 1, 3)));  // 64-bit position-independent program
    EXPECT_FALSE(ElfProgramProblem(Elf(1, 1, 2)));  // 32-bit executable
    EXPECT_FALSE(ElfProgramProblem(Elf(2, 2, 2)));  // big-endian executable
    EXPECT_EQ(ElfProgramProblem(Elf(2, 1, 1)),
              "is an ELF file but not a program (an object file or core dump)");
    EXPECT_EQ(ElfProgramProblem(Elf(2, 1, 4)),
              "is an ELF file but not a program (an object file or core dump)");
    EXPECT_EQ(ElfProgramProblem(Elf(3, 1, 2)), "has a damaged ELF header");
    Bytes cut = Elf(2, 1, 3);
    cut.resize(40);
    EXPECT_EQ(ElfProgramProblem(cut), "has a damaged ELF header");
    EXPECT_EQ(ElfProgramProblem(Bytes{'#', '!', '/', 'b'}), "is not a program (no ELF header)");
    EXPECT_EQ(ElfProgramProblem(Pe(0x0102, 0x20B)), "is not a program (no ELF header)");

    EXPECT_FALSE(PeProgramProblem(Pe(0x0022, 0x20B)));  // PE32+ executable
    EXPECT_FALSE(PeProgramProblem(Pe(0x0102, 0x10B)));  // PE32 executable
    EXPECT_EQ(PeProgramProblem(Pe(0x2022, 0x20B)),
              "is a PE file but not a program (a DLL or an object)");
    EXPECT_EQ(PeProgramProblem(Pe(0x0020, 0x20B)),
              "is a PE file but not a program (a DLL or an object)");
    Bytes farHeader = Pe(0x0022, 0x20B);
    farHeader[0x3C] = 0xFF;
    farHeader[0x3F] = 0x7F;
    EXPECT_EQ(PeProgramProblem(farHeader), "is not a Windows program (no PE header)");
    EXPECT_EQ(PeProgramProblem(Elf(2, 1, 3)), "is not a program (no MZ header)");
}

}  // namespace
}  // namespace zelk::tools
