// The project's one UTF-8 <-> UTF-16 codec. Files, terminals, Linux paths and
// package type names are bytes while the desktop seam's text is UTF-16; every
// conversion between them goes through here, in one of three forms: lenient
// (what cannot be decoded becomes U+FFFD, so a damaged name still prints),
// strict (ill-formed input is refused) and Latin-1 fallback (for hand-edited
// text files that may be in a legacy encoding).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelk::app {

inline constexpr char16_t kReplacementCharacter = u'\uFFFD';

// Well-formed UTF-8 has no overlong forms, no encoded surrogates and nothing
// above U+10FFFF. Each maximal ill-formed byte sequence (a stray continuation
// byte, a lead byte whose sequence is cut short, an overlong form, an encoded
// surrogate, a value above U+10FFFF) becomes one U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Each unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Nothing when `utf8` holds any ill-formed sequence.
std::optional<std::u16string> DecodeUtf8Strict(std::string_view utf8);
// Nothing when `utf16` holds an unpaired surrogate.
std::optional<std::string> EncodeUtf8Strict(std::u16string_view utf16);

// UTF-8, except that a byte which starts no well-formed sequence stands for
// itself as Latin-1 (U+0000..U+00FF). `usedLatin1` tells whether any byte
// was read that way.
std::u16string Utf8ToUtf16OrLatin1(std::string_view bytes, bool& usedLatin1);

}  // namespace zelk::app
