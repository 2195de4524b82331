#include "text_encoding.h"

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

}  // namespace
}  // namespace zelk::app
