#include <cstdio>
#include <regex>
#include <string>

#include "hidtransport/device_discovery.h"

namespace zelk::hid {
namespace {

// std::regex backtracks recursively, so an absurdly long path could exhaust
// the stack. Interface paths the systems produce stay far below this; a longer
// one is not a device path and never fits.
constexpr std::size_t kMaxMatchablePathLength = 4096;

std::wstring Widen(std::u16string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char16_t unit : text) {
        wide.push_back(static_cast<wchar_t>(unit));
    }
    return wide;
}

std::wstring FormatPattern(const wchar_t* format, unsigned first, unsigned second) {
    wchar_t text[96];
    std::swprintf(text, sizeof text / sizeof text[0], format, first, second);
    return text;
}

bool FullMatch(const std::wstring& path, const std::wstring& pattern) {
    const std::wregex expression(pattern,
                                 std::regex_constants::ECMAScript | std::regex_constants::icase);
    return std::regex_match(path, expression);
}

}  // namespace

bool MatchInterfacePath(std::u16string_view path, std::uint16_t vendorId, std::uint16_t productId) {
    if (path.size() > kMaxMatchablePathLength) {
        return false;
    }
    const std::wstring wide = Widen(path);
    if (vendorId != 0 && productId != 0) {
        return FullMatch(wide, FormatPattern(L"\\S+VID_%04X&PID_%04X\\S+", vendorId, productId)) ||
               FullMatch(wide,
                         FormatPattern(L"\\S+VID&0001%04X_PID&%04X\\S+", vendorId, productId));
    }
    return FullMatch(wide, FormatPattern(L"\\S+VID_%04X\\S+", vendorId, 0)) ||
           FullMatch(wide, FormatPattern(L"\\S+VID&[0-9]{4}%04X\\S+", vendorId, 0));
}

}  // namespace zelk::hid
