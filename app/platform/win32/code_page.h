// Text from the seam's UTF-16 into a Windows code page.
#pragma once

#include <string>
#include <string_view>

namespace zelk::app::platform {

// `text` in `codePage` through WideCharToMultiByte, with the system's default
// character for what the code page cannot hold; empty when it fails.
std::string ToWindowsCodePage(std::u16string_view text, unsigned int codePage);
// `bytes` read in `codePage` through MultiByteToWideChar; empty when it fails.
std::u16string FromWindowsCodePage(std::string_view bytes, unsigned int codePage);

}  // namespace zelk::app::platform
