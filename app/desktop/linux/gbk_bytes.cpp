// GB18030 is the Linux counterpart of code page 936: both agree on ASCII
// and on every character of GBK, and GB18030 holds the rest of Unicode too.

#include <string>

#include "desktop/linux/code_page.h"
#include "desktop/platform.h"

namespace zelk::app::platform {

std::string ToChineseCodePageBytes(std::u16string_view text) {
    if (auto converted = ToCodeset(text, "GB18030")) {
        return *std::move(converted);
    }
    // Without the GB18030 converter (a trimmed glibc): ASCII, which both
    // code pages share, and '?' for everything else.
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;  // one character, one '?'
        }
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return out;
}

}  // namespace zelk::app::platform
