// Writing a file so that it is either wholly there or untouched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace zelk::app {

// Writes `bytes` to a new file beside `target` and renames it over `target`:
// whatever sits at `target` (a stale file, a planted link) is replaced, never
// written through, and `target` never holds part of the bytes. A directory at
// `target` is never removed. False when the file could not be written.
bool WriteFileReplacing(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

}  // namespace zelk::app
