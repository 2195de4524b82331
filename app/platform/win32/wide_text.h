// The seam's UTF-16 and the Windows API's wchar_t are the same 16-bit units,
// but distinct types; copying keeps clear of aliasing one as the other.
#pragma once

#include <string>
#include <string_view>

namespace zelk::app::platform {

inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

}  // namespace zelk::app::platform
