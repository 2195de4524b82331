// UTF-8 <-> UTF-16 conversion for the desktop seam, whose text is UTF-16 while
// files, terminals and Linux paths are bytes. Neither direction fails: what
// cannot be decoded becomes U+FFFD, so a damaged name still prints.
#pragma once

#include <string>
#include <string_view>

namespace zelk::app {

inline constexpr char16_t kReplacementCharacter = u'\uFFFD';

// Each maximal ill-formed byte sequence (a stray continuation byte, a lead
// byte whose sequence is cut short, an overlong form, an encoded surrogate,
// a value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Each unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace zelk::app
