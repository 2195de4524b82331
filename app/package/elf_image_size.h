// How many bytes of a file its ELF headers account for. A Linux program's
// package sits after that point, so when the package trailer is missing the
// difference tells a cut-off package (bytes after the program) from a program
// that never had one. Portable: the headers are read byte by byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace zelk::app {

// The end of the last byte that the ELF header, the program and section
// header tables, the segments and the sections (except those without file
// bytes) occupy. May exceed file.size() when the file was cut short. Nothing
// when `file` is not a little-endian ELF file (32 or 64 bit).
std::optional<std::uint64_t> ElfImageSize(std::span<const std::uint8_t> file);

}  // namespace zelk::app
