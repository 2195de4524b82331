#include "app/text/text_encoding.h"

#include <gtest/gtest.h>

namespace zelk::app {
namespace {

struct WellFormed {
    std::string utf8;
    std::u16string utf16;
};

TEST(TextEncoding, WellFormedTextRoundTripsBothWays) {
    const WellFormed cases[] = {
        {"", u""},
        {"C:\\update\\fw.bin", u"C:\\update\\fw.bin"},
        {"\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},                            // two-byte forms
        {"\xE5\x8D\x87\xE7\xBA\xA7\xE6\x88\x90\xE5\x8A\x9F", u"升级成功"},  // three-byte forms
        {"a\xF0\x9F\x98\x80z", u"a\U0001F600z"},                            // a surrogate pair
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},                                // the last code point
        {"\xEF\xBF\xBD", u"\uFFFD"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const WellFormed& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    }
}

TEST(TextEncoding, EachIllFormedUtf8SequenceBecomesOneReplacement) {
    const WellFormed cases[] = {
        {"\x80", u"\uFFFD"},  // a stray continuation byte
        {"a\xFF"
         "b",
         u"a\uFFFDb"},          // never a lead byte
        {"a\xC3", u"a\uFFFD"},  // cut short at the end
        {"\xC3"
         "a",
         u"\uFFFDa"},  // the ASCII after it survives
        {"\xE4\xB8"
         "a",
         u"\uFFFDa"},                                       // three-byte form cut short
        {"\xF0\x9F\x98", u"\uFFFD"},                        // four-byte form cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong '/'
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE4\xB8\xE4\xB8\xAD", u"\uFFFD\u4E2D"},          // a broken form, then a whole one
    };
    for (const WellFormed& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.utf8));
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16);
    }
}

TEST(TextEncoding, UnpairedSurrogatesBecomeReplacements) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t{0xD83D}}), "a" + replacement);
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t{0xDE00}, u'a'}), replacement + "a");
    // A high surrogate followed by something other than a low one.
    EXPECT_EQ(
        Utf16ToUtf8(std::u16string{char16_t{0xD83D}, u'x', char16_t{0xD83D}, char16_t{0xDE00}}),
        replacement + "x\xF0\x9F\x98\x80");
}

// Ill-formed UTF-8 in each way a decoder can meet it, for the forms that must
// notice it rather than replace it.
const std::string kIllFormedUtf8[] = {
    "\x80",              // a stray continuation byte
    "a\xBF",             // one after ASCII
    "\xFF",              // never a lead byte
    "\xF5\x80\x80\x80",  // a lead byte past U+10FFFF
    "a\xC3",             // cut short at the end
    "\xE4\xB8"
    "a",                     // cut short before ASCII
    "\xF0\x9F\x98",          // four-byte form cut short
    "\xC0\xAF",              // overlong '/'
    "\xC1\xBF",              // overlong U+007F
    "\xE0\x9F\xBF",          // overlong U+07FF
    "\xF0\x8F\xBF\xBF",      // overlong U+FFFF
    "\xED\xA0\x80",          // an encoded high surrogate
    "\xED\xBF\xBF",          // an encoded low surrogate
    "\xF4\x90\x80\x80",      // above U+10FFFF
    "\xE4\xB8\xAD\xE4\xB8",  // a whole form, then a broken one
};

TEST(TextEncoding, StrictFormsAcceptWellFormedText) {
    const WellFormed cases[] = {
        {"", u""},
        {"FIRE_WARE", u"FIRE_WARE"},
        {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},  // the two-byte range's ends
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", u"\u0800\uD7FF\uE000"},  // around surrogates
        {"\xEF\xBF\xBF", u"\uFFFF"},
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\U00010000\U0010FFFF"},
        {"\xE5\x8D\x87\xE7\xBA\xA7", u"升级"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const WellFormed& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.utf8));
        EXPECT_EQ(DecodeUtf8Strict(c.utf8), c.utf16);
        EXPECT_EQ(EncodeUtf8Strict(c.utf16), c.utf8);
    }
}

TEST(TextEncoding, StrictDecodingRefusesAnyIllFormedSequence) {
    for (const std::string& bytes : kIllFormedUtf8) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_EQ(DecodeUtf8Strict(bytes), std::nullopt);
        EXPECT_EQ(DecodeUtf8Strict("ok" + bytes + "ok"), std::nullopt);
    }
}

TEST(TextEncoding, StrictEncodingRefusesUnpairedSurrogates) {
    const std::u16string cases[] = {
        {char16_t{0xD83D}},                                      // a high surrogate at the end
        {u'a', char16_t{0xD83D}, u'b'},                          // one followed by something else
        {char16_t{0xD83D}, char16_t{0xD83D}},                    // two high ones
        {char16_t{0xDE00}},                                      // a low surrogate alone
        {char16_t{0xDE00}, char16_t{0xD83D}},                    // a pair in the wrong order
        {char16_t{0xD83D}, char16_t{0xDE00}, char16_t{0xDE00}},  // a pair, then a low one
    };
    for (const std::u16string& text : cases) {
        SCOPED_TRACE(testing::PrintToString(Utf16ToUtf8(text)));
        EXPECT_EQ(EncodeUtf8Strict(text), std::nullopt);
    }
}

struct Latin1Case {
    std::string bytes;
    std::u16string text;
    bool usedLatin1;
};

TEST(TextEncoding, Latin1FallbackReadsEachStrayByteAsItself) {
    const Latin1Case cases[] = {
        {"", u"", false},
        {"0x045E\r", u"0x045E\r", false},
        {"\xC3\xA9\xE5\x8D\x87\xF0\x9F\x98\x80", u"\u00E9\u5347\U0001F600", false},
        {"caf\xE9", u"caf\u00E9", true},  // a Latin-1 file
        {"\xFF\x80", u"\u00FF\u0080", true},
        // Every byte of a broken sequence stands for itself, and a whole
        // sequence after it is still read as UTF-8.
        {"\xE4\xB8"
         "a",
         u"\u00E4\u00B8a", true},
        {"\xE4\xB8\xE4\xB8\xAD", u"\u00E4\u00B8\u4E2D", true},
        {"\xC0\xAF", u"\u00C0\u00AF", true},                      // overlong
        {"\xED\xA0\x80", u"\u00ED\u00A0\u0080", true},            // a surrogate
        {"\xF4\x90\x80\x80", u"\u00F4\u0090\u0080\u0080", true},  // above U+10FFFF
        {"\xF0\x9F\x98", u"\u00F0\u009F\u0098", true},            // cut short
        {"\xC3\xA9\xE9", u"\u00E9\u00E9", true},                  // mixed
    };
    for (const Latin1Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        bool usedLatin1 = !c.usedLatin1;
        EXPECT_EQ(Utf8ToUtf16OrLatin1(c.bytes, usedLatin1), c.text);
        EXPECT_EQ(usedLatin1, c.usedLatin1);
    }
}

}  // namespace
}  // namespace zelk::app
