// Paths between the seam's UTF-16 and the kernel's bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/text/text_encoding.h"

namespace zelk::app::platform {

// The path as the kernel takes it; nothing when it holds a NUL, which no
// path can contain and which would silently cut the name short.
inline std::optional<std::string> NativePath(std::u16string_view path) {
    std::string bytes = Utf16ToUtf8(path);
    if (bytes.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace zelk::app::platform
