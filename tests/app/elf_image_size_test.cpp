#include "app/package/elf_image_size.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

namespace zelk::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Put(Bytes& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A 64-bit ELF file: one segment at 0x100 of 0x80 bytes, three 64-byte
// section headers at 0x400 (a null one, a 0x40-byte section at 0x200 and a
// section without file bytes at 0x300 claiming 0x1000).
Bytes Elf64() {
    Bytes file(0x400 + 3 * 64, 0);
    file[0] = 0x7F;
    file[1] = 'E';
    file[2] = 'L';
    file[3] = 'F';
    file[4] = 2;                // 64-bit
    file[5] = 1;                // little-endian
    Put(file, 0x20, 0x40, 8);   // program headers
    Put(file, 0x28, 0x400, 8);  // section headers
    Put(file, 0x36, 56, 2);
    Put(file, 0x38, 1, 2);
    Put(file, 0x3A, 64, 2);
    Put(file, 0x3C, 3, 2);
    Put(file, 0x40 + 8, 0x100, 8);  // segment offset
    Put(file, 0x40 + 0x20, 0x80, 8);
    const std::size_t s1 = 0x400 + 64;
    Put(file, s1 + 4, 1, 4);  // program bits
    Put(file, s1 + 0x18, 0x200, 8);
    Put(file, s1 + 0x20, 0x40, 8);
    const std::size_t s2 = 0x400 + 128;
    Put(file, s2 + 4, 8, 4);  // no bits
    Put(file, s2 + 0x18, 0x300, 8);
    Put(file, s2 + 0x20, 0x1000, 8);
    return file;
}

TEST(ElfImageSizeTest, CountsHeadersSegmentsAndSectionsWithFileBytes) {
    Bytes file = Elf64();
    EXPECT_EQ(ElfImageSize(file), file.size());

    file.resize(file.size() + 100);  // appended bytes are not part of the image
    EXPECT_EQ(ElfImageSize(file), file.size() - 100);

    Bytes grown = Elf64();
    Put(grown, 0x400 + 64 + 0x20, 0x4000, 8);  // a section that ends beyond the file
    EXPECT_EQ(ElfImageSize(grown), 0x200u + 0x4000u);
}

TEST(ElfImageSizeTest, AFileCutShortReportsTheSizeItNeeds) {
    Bytes file = Elf64();
    const std::size_t full = file.size();
    file.resize(0x410);
    EXPECT_EQ(ElfImageSize(file), full);
}

TEST(ElfImageSizeTest, OnlyLittleEndianElfIsRead) {
    Bytes bigEndian = Elf64();
    bigEndian[5] = 2;
    EXPECT_FALSE(ElfImageSize(bigEndian).has_value());
    EXPECT_FALSE(ElfImageSize(Bytes{'M', 'Z', 0x90, 0}).has_value());
    EXPECT_FALSE(ElfImageSize(Bytes{0x7F, 'E', 'L', 'F', 2, 1}).has_value());  // header cut
}

TEST(ElfImageSizeTest, ForgedOffsetsSaturateInsteadOfWrapping) {
    Bytes file = Elf64();
    Put(file, 0x28, std::numeric_limits<std::uint64_t>::max() - 10, 8);
    EXPECT_EQ(ElfImageSize(file), std::numeric_limits<std::uint64_t>::max());
}

#ifdef __linux__
TEST(ElfImageSizeTest, ThisTestProgramEndsWithItsImage) {
    std::ifstream in("/proc/self/exe", std::ios::binary);
    Bytes self(static_cast<std::size_t>(std::filesystem::file_size("/proc/self/exe")));
    in.read(reinterpret_cast<char*>(self.data()), static_cast<std::streamsize>(self.size()));
    ASSERT_EQ(in.gcount(), static_cast<std::streamsize>(self.size()));
    ASSERT_FALSE(self.empty());
    EXPECT_EQ(ElfImageSize(self), self.size());
}
#endif

}  // namespace
}  // namespace zelk::app
