// GB18030 is the Linux counterpart of code page 936: both agree on ASCII
// and on every character of GBK, and GB18030 holds the rest of Unicode too.

#include <iconv.h>

#include <array>
#include <cerrno>
#include <string>

#include "app/platform/linux/code_page.h"
#include "app/platform/platform.h"
#include "app/text/text_encoding.h"

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

std::u16string FromChineseCodePageBytes(std::string_view bytes) {
    constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";
    const iconv_t handle = iconv_open("UTF-8", "GB18030");
    std::string utf8;
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        // Without the converter: ASCII, which both code pages share.
        for (const char byte : bytes) {
            if (static_cast<unsigned char>(byte) < 0x80) {
                utf8.push_back(byte);
            } else {
                utf8 += kReplacementUtf8;
            }
        }
        return Utf8ToUtf16(utf8);
    }
    std::string input(bytes);
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::array<char, 256> buffer{};
    while (inLeft > 0) {
        char* next = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t result = iconv(handle, &in, &inLeft, &next, &outLeft);
        const int error = errno;
        utf8.append(buffer.data(), static_cast<std::size_t>(next - buffer.data()));
        if (result != static_cast<std::size_t>(-1) || error == E2BIG) {
            continue;
        }
        // An undefined sequence (EILSEQ) or one cut short at the end (EINVAL):
        // one replacement character for its first byte, then go on after it.
        utf8 += kReplacementUtf8;
        ++in;
        --inLeft;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(handle);
    return Utf8ToUtf16(utf8);
}

}  // namespace zelk::app::platform
