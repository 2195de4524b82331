#include "app/dialog/admin_password.h"

#include <gtest/gtest.h>

#include <string>

#include "app/text/text_encoding.h"
#include "tests/app/recording_desktop.h"

namespace zelk::app {
namespace {

TEST(AdminPasswordTest, TextsFollowTheLanguage) {
    RecordingDesktop desktop;
    const CAdminPassword english(desktop, false);
    EXPECT_EQ(english.Texts().caption, u"Write down Admin Password");
    EXPECT_EQ(english.Texts().label, u"Password:");
    EXPECT_EQ(english.Texts().enter, u"Enter");
    EXPECT_EQ(english.Texts().quit, u"Quit");
    EXPECT_EQ(english.Texts().wrongPassword, u"Wrong Password!");

    const CAdminPassword chinese(desktop, true);
    EXPECT_EQ(chinese.Texts().caption, u"请输入管理员密码");
    EXPECT_EQ(chinese.Texts().label, u"管理员密码:");
    EXPECT_EQ(chinese.Texts().enter, u"确定");
    EXPECT_EQ(chinese.Texts().quit, u"取消");
    EXPECT_EQ(chinese.Texts().wrongPassword, u"您输入的密码不正确！");
}

TEST(AdminPasswordTest, RightPasswordPassesQuietly) {
    RecordingDesktop desktop;
    CAdminPassword dialog(desktop, false, Md5Hex("secret"));
    EXPECT_TRUE(dialog.Check(u"secret"));
    EXPECT_TRUE(desktop.MessageBoxes().empty());
}

// The digest is of the bytes the desktop's ANSI code page gives, not of any
// encoding the check picks itself.
TEST(AdminPasswordTest, DigestIsOfTheDesktopsAnsiBytes) {
    RecordingDesktop desktop;
    desktop.ansiBytes = [](std::u16string_view text) { return "cp:" + Utf16ToUtf8(text); };
    EXPECT_TRUE(CAdminPassword(desktop, false, Md5Hex("cp:secret")).Check(u"secret"));
    EXPECT_FALSE(CAdminPassword(desktop, false, Md5Hex("secret")).Check(u"secret"));
}

TEST(AdminPasswordTest, WrongPasswordsAreRefusedWithTheLanguagesMessage) {
    const std::u16string wrong[] = {u"secreT", u"SECRET", u"", u"secret ", u"secre"};
    for (const bool chinese : {false, true}) {
        for (const auto& password : wrong) {
            RecordingDesktop desktop;
            CAdminPassword dialog(desktop, chinese, Md5Hex("secret"));
            EXPECT_FALSE(dialog.Check(password));
            const auto boxes = desktop.MessageBoxes();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0], chinese ? u"您输入的密码不正确！" : u"Wrong Password!");
        }
    }
}

// A stored digest in upper-case hexadecimal never matches: the comparison is
// of the exact text.
TEST(AdminPasswordTest, DigestComparisonIsCaseSensitive) {
    RecordingDesktop desktop;
    CAdminPassword dialog(desktop, false, "5EBE2294ECD0E0F08EAB7690D2A6EE69");
    EXPECT_FALSE(dialog.Check(u"secret"));
}

TEST(AdminPasswordTest, OnlyTheFirstTwentyCharactersCount) {
    RecordingDesktop desktop;
    CAdminPassword dialog(desktop, false, Md5Hex("abcdefghijklmnopqrst"));
    EXPECT_TRUE(dialog.Check(u"abcdefghijklmnopqrstu"));
    EXPECT_TRUE(dialog.Check(u"abcdefghijklmnopqrstXYZ"));
    EXPECT_FALSE(dialog.Check(u"abcdefghijklmnopqrs"));
    EXPECT_EQ(desktop.MessageBoxes().size(), 1u);
}

#ifndef _WIN32
// Under the C locale a password beyond ASCII is hashed as UTF-8, as it was typed.
TEST(AdminPasswordTest, NonAsciiPasswordIsHashedInTheLocalesBytes) {
    RecordingDesktop desktop;
    CAdminPassword dialog(desktop, true, "a7bac2239fcdcb3a067903d8077c4a07");  // md5sum of UTF-8
    EXPECT_TRUE(dialog.Check(u"中文"));
}
#endif

}  // namespace
}  // namespace zelk::app
