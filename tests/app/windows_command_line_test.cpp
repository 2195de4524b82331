#include "app/platform/windows_command_line.h"

#include <gtest/gtest.h>

namespace zelk::app {
namespace {

TEST(WindowsCommandLine, EachArgumentComesBackWholeFromTheMsvcRules) {
    struct Case {
        std::u16string argument;
        std::u16string quoted;
    };
    const Case cases[] = {
        {u"plain", u"plain"},
        {u"", u"\"\""},
        {u"two words", u"\"two words\""},
        {u"tab\there", u"\"tab\there\""},
        {u"say \"hi\"", u"\"say \\\"hi\\\"\""},
        {u"a\"b", u"\"a\\\"b\""},
        // Backslashes are literal unless a quote follows them.
        {u"C:\\dir\\", u"C:\\dir\\"},
        {u"C:\\my dir\\", u"\"C:\\my dir\\\\\""},
        {u"a\\\\b c", u"\"a\\\\b c\""},
        {u"a\\\"b", u"\"a\\\\\\\"b\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.quoted));
        EXPECT_EQ(WindowsCommandLine(u"C:\\Program Files\\Zelk\\update.exe", {c.argument}),
                  u"\"C:\\Program Files\\Zelk\\update.exe\" " + c.quoted);
    }
}

TEST(WindowsCommandLine, ArgumentsAreSeparatedByOneBlank) {
    EXPECT_EQ(WindowsCommandLine(u"x.exe", {}), u"\"x.exe\"");
    EXPECT_EQ(WindowsCommandLine(u"x.exe", {u"-s", u"", u"a b"}), u"\"x.exe\" -s \"\" \"a b\"");
}

}  // namespace
}  // namespace zelk::app
