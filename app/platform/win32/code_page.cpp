#include "app/platform/win32/code_page.h"

#include <windows.h>

#include <climits>

#include "app/platform/win32/wide_text.h"

namespace zelk::app::platform {

std::string ToWindowsCodePage(std::u16string_view text, unsigned int codePage) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const std::wstring wide = ToWide(text);
    const int wideLength = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string bytes(static_cast<std::size_t>(length), '\0');
    const int written = WideCharToMultiByte(codePage, 0, wide.data(), wideLength, bytes.data(),
                                            length, nullptr, nullptr);
    if (written <= 0) {
        return {};
    }
    bytes.resize(static_cast<std::size_t>(written));
    return bytes;
}

std::u16string FromWindowsCodePage(std::string_view bytes, unsigned int codePage) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const int byteLength = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), byteLength, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    const int written =
        MultiByteToWideChar(codePage, 0, bytes.data(), byteLength, wide.data(), length);
    if (written <= 0) {
        return {};
    }
    wide.resize(static_cast<std::size_t>(written));
    return FromWide(wide);
}

}  // namespace zelk::app::platform
