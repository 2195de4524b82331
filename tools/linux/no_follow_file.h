// Writing a file of this tool in a directory someone else may write to too.
// The tool runs as root, so a link planted at the name must never be followed:
// the old entry is removed and a new file created in its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelk::tools {

// Writes bytes as a new file at path: the last component is never followed
// when it is a symbolic link, and a hard link or any other old entry there is
// replaced rather than written through. False with errno set on failure.
bool WriteNewFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace zelk::tools
