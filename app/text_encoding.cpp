#include "text_encoding.h"

namespace zelk::app {
namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
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

// The allowed range of the second byte for a lead byte; later continuation
// bytes are always 0x80..0xBF. Narrowing the second byte is what rules out
// overlong forms, surrogates and values above U+10FFFF.
struct LeadByte {
    int length = 0;  // 0: not a lead byte
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

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        const LeadByte kind = ClassifyLead(lead);
        ++i;
        if (kind.length == 0) {
            out.push_back(kReplacementCharacter);
            continue;
        }
        char32_t code = kind.bits;
        int taken = 1;
        while (taken < kind.length && i < utf8.size()) {
            const auto byte = static_cast<unsigned char>(utf8[i]);
            const bool fits = taken == 1 ? (byte >= kind.secondLow && byte <= kind.secondHigh)
                                         : IsContinuation(byte);
            if (!fits) {
                break;
            }
            code = (code << 6) | (byte & 0x3F);
            ++taken;
            ++i;
        }
        if (taken == kind.length) {
            AppendUtf16(out, code);
        } else {
            // The bytes consumed so far are one ill-formed sequence; the byte
            // that broke it starts the next one.
            out.push_back(kReplacementCharacter);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            const char32_t code =
                0x10000 + ((static_cast<char32_t>(unit - 0xD800) << 10) | (utf16[i + 1] - 0xDC00));
            AppendUtf8(out, code);
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacementCharacter);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

}  // namespace zelk::app
