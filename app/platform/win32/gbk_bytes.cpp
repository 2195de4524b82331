#include "app/platform/platform.h"
#include "app/platform/win32/code_page.h"

namespace zelk::app::platform {
namespace {

constexpr unsigned int kChineseSimplifiedCodePage = 936;

}  // namespace

std::string ToChineseCodePageBytes(std::u16string_view text) {
    return ToWindowsCodePage(text, kChineseSimplifiedCodePage);
}

std::u16string FromChineseCodePageBytes(std::string_view bytes) {
    return FromWindowsCodePage(bytes, kChineseSimplifiedCodePage);
}

}  // namespace zelk::app::platform
