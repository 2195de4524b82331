// Text from the seam's UTF-16 into a byte code page, for files and digests
// that other programs read in that code page.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelk::app::platform {

// UTF-8, with each unpaired surrogate as '?' (the code pages' replacement,
// not U+FFFD), so every conversion here treats what it cannot hold alike.
std::string ToUtf8WithQuestionMarks(std::u16string_view text);

// `text` in `codeset` (an iconv name), each character the codeset cannot hold
// and each unpaired surrogate as '?'; nothing when iconv does not know it.
std::optional<std::string> ToCodeset(std::u16string_view text, const char* codeset);

}  // namespace zelk::app::platform
