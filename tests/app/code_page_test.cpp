#include <gtest/gtest.h>

#include <string>

#include "app/platform/platform.h"

#ifndef _WIN32
#include <clocale>

#include "app/platform/linux/code_page.h"
#endif

namespace zelk::app::platform {
namespace {

TEST(CodePageTest, ChineseCodePageBytes) {
    EXPECT_EQ(ToChineseCodePageBytes(u"中"), "\xD6\xD0");
    EXPECT_EQ(ToChineseCodePageBytes(u"0x320f\r\n中文\r\n"), "0x320f\r\n\xD6\xD0\xCE\xC4\r\n");
    EXPECT_EQ(ToChineseCodePageBytes(u""), "");
}

#ifndef _WIN32

TEST(CodePageTest, ChineseCodePageReplacesUnpairedSurrogates) {
    EXPECT_EQ(ToChineseCodePageBytes(std::u16string{u'a', 0xD800, u'b', 0xDC00}), "a?b?");
}

// Sets the LC_CTYPE locale for one test, as the program does at start.
class ScopedCtypeLocale {
  public:
    explicit ScopedCtypeLocale(const char* name) {
        const char* current = std::setlocale(LC_CTYPE, nullptr);
        previous_ = current == nullptr ? "C" : current;
        usable_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~ScopedCtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
    ScopedCtypeLocale(const ScopedCtypeLocale&) = delete;
    ScopedCtypeLocale& operator=(const ScopedCtypeLocale&) = delete;
    bool Usable() const { return usable_; }

  private:
    std::string previous_;
    bool usable_ = false;
};

TEST(CodePageTest, AnsiBytesAreUtf8UnderTheCAndUtf8Locales) {
    for (const char* name : {"C", "C.UTF-8"}) {
        ScopedCtypeLocale locale(name);
        if (!locale.Usable()) {
            continue;
        }
        EXPECT_EQ(ToAnsiBytes(u"a\u00E9中"), "a\xC3\xA9\xE4\xB8\xAD") << name;
        EXPECT_EQ(ToAnsiBytes(std::u16string{u'x', 0xDBFF}), "x?") << name;
        EXPECT_EQ(ToAnsiBytes(u"\U0001F600"), "\xF0\x9F\x98\x80") << name;
    }
}

TEST(CodePageTest, CodesetConversionReplacesWhatItCannotHold) {
    EXPECT_EQ(ToCodeset(u"a\u00E9中", "ISO-8859-1"), std::optional<std::string>("a\xE9?"));
    EXPECT_EQ(ToCodeset(u"\U0001F600!", "ISO-8859-1"), std::optional<std::string>("?!"));
    EXPECT_EQ(ToCodeset(u"x", "NO-SUCH-CODESET"), std::nullopt);
}

// In a stateful codeset the replacement is written in the initial shift
// state, and the text ends back in it.
TEST(CodePageTest, StatefulCodesetGetsItsReplacementInTheRightState) {
    EXPECT_EQ(ToCodeset(u"日\u00E9本", "ISO-2022-JP"),
              std::optional<std::string>("\x1B$BF|\x1B(B?\x1B$BK\\\x1B(B"));
}

#endif

}  // namespace
}  // namespace zelk::app::platform
