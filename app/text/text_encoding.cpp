#include "app/text/text_encoding.h"

namespace zelk::app {
namespace {

// One step of a reader: the code point at the current position and how many
// units it took. When the units there are ill-formed, `length` covers the
// maximal ill-formed sequence (at least one unit) and `code` is meaningless.
struct CodePoint {
    char32_t code = 0;
    std::size_t length = 0;
    bool wellFormed = false;
};

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The allowed range of the second byte for a lead byte; later continuation
// bytes are always 0x80..0xBF. Narrowing the second byte is what rules out
// overlong forms, surrogates and values above U+10FFFF.
struct LeadByte {
    std::size_t length = 0;  // 0: not a lead byte
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    char32_t bits = 0;
};

LeadByte ClassifyLead(unsigned char byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        return {2, 0x80, 0xBF, static_cast<char32_t>(byte & 0x1F)};
    }
    if (byte >= 0xE0 && byte <= 0xEF) {
        const unsigned char low = byte == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = byte == 0xED ? 0x9F : 0xBF;
        return {3, low, high, static_cast<char32_t>(byte & 0x0F)};
    }
    if (byte >= 0xF0 && byte <= 0xF4) {
        const unsigned char low = byte == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = byte == 0xF4 ? 0x8F : 0xBF;
        return {4, low, high, static_cast<char32_t>(byte & 0x07)};
    }
    return {};
}

// `at` < utf8.size().
CodePoint NextFromUtf8(std::string_view utf8, std::size_t at) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    const LeadByte kind = ClassifyLead(lead);
    if (kind.length == 0) {
        return {0, 1, false};
    }
    char32_t code = kind.bits;
    std::size_t taken = 1;
    while (taken < kind.length && at + taken < utf8.size()) {
        const auto byte = static_cast<unsigned char>(utf8[at + taken]);
        const bool fits =
            taken == 1 ? (byte >= kind.secondLow && byte <= kind.secondHigh) : IsContinuation(byte);
        if (!fits) {
            break;
        }
        code = (code << 6) | (byte & 0x3F);
        ++taken;
    }
    // Short of the full length, the bytes taken are one ill-formed sequence;
    // the byte that broke it starts the next one.
    return {code, taken, taken == kind.length};
}

// `at` < utf16.size(). An unpaired surrogate is one ill-formed unit.
CodePoint NextFromUtf16(std::u16string_view utf16, std::size_t at) {
    const char16_t unit = utf16[at];
    if (IsHighSurrogate(unit) && at + 1 < utf16.size() && IsLowSurrogate(utf16[at + 1])) {
        const char32_t code =
            0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) | (utf16[at + 1] - 0xDC00));
        return {code, 2, true};
    }
    if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        return {0, 1, false};
    }
    return {unit, 1, true};
}

void AppendUtf16(std::u16string& out, char32_t code) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

enum class IllFormed {
    Replace,  // one U+FFFD for each ill-formed sequence
    Latin1,   // each byte that starts no sequence stands for itself
    Refuse,   // the whole conversion fails
};

// The one decoding loop. Returns false only under Refuse; sets `sawIllFormed`
// when anything had to be replaced or read as Latin-1.
bool Decode(std::string_view utf8, IllFormed policy, std::u16string& out, bool& sawIllFormed) {
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const CodePoint next = NextFromUtf8(utf8, i);
        if (next.wellFormed) {
            AppendUtf16(out, next.code);
            i += next.length;
            continue;
        }
        sawIllFormed = true;
        switch (policy) {
            case IllFormed::Replace:
                out.push_back(kReplacementCharacter);
                i += next.length;
                break;
            case IllFormed::Latin1:
                out.push_back(static_cast<unsigned char>(utf8[i]));
                ++i;
                break;
            case IllFormed::Refuse:
                return false;
        }
    }
    return true;
}

// Lenient unless `refuseUnpaired`: then an unpaired surrogate fails it.
bool Encode(std::u16string_view utf16, bool refuseUnpaired, std::string& out) {
    out.reserve(utf16.size());
    std::size_t i = 0;
    while (i < utf16.size()) {
        const CodePoint next = NextFromUtf16(utf16, i);
        if (next.wellFormed) {
            AppendUtf8(out, next.code);
        } else if (refuseUnpaired) {
            return false;
        } else {
            AppendUtf8(out, kReplacementCharacter);
        }
        i += next.length;
    }
    return true;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    bool sawIllFormed = false;
    Decode(utf8, IllFormed::Replace, out, sawIllFormed);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    Encode(utf16, false, out);
    return out;
}

std::optional<std::u16string> DecodeUtf8Strict(std::string_view utf8) {
    std::u16string out;
    bool sawIllFormed = false;
    if (!Decode(utf8, IllFormed::Refuse, out, sawIllFormed)) {
        return std::nullopt;
    }
    return out;
}

std::optional<std::string> EncodeUtf8Strict(std::u16string_view utf16) {
    std::string out;
    if (!Encode(utf16, true, out)) {
        return std::nullopt;
    }
    return out;
}

std::u16string Utf8ToUtf16OrLatin1(std::string_view bytes, bool& usedLatin1) {
    std::u16string out;
    usedLatin1 = false;
    Decode(bytes, IllFormed::Latin1, out, usedLatin1);
    return out;
}

}  // namespace zelk::app
