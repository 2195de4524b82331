// The Linux program path and file checks.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include "app/platform/platform.h"
#include "app/text/text_encoding.h"
#include "tests/app/scratch_directory.h"

namespace zelk::app {
namespace {

TEST(LinuxFiles, OwnPathIsTheRunningProgramsFile) {
    const std::u16string path = platform::OwnPath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), u'/');
    EXPECT_TRUE(path.ends_with(u"/app_tests")) << Utf16ToUtf8(path);
    EXPECT_TRUE(platform::FileExists(path));
}

TEST(LinuxFiles, FileExistsOnlyForRegularFiles) {
    ScratchDirectory scratch("zelk files");
    const std::u16string directory = Utf8ToUtf16(scratch.Path());
    EXPECT_FALSE(platform::FileExists(directory));
    EXPECT_FALSE(platform::FileExists(directory + u"/missing.bin"));
    // A NUL would cut the name short at the directory.
    EXPECT_FALSE(platform::FileExists(directory + std::u16string(1, u'\0') + u"x"));
}

}  // namespace
}  // namespace zelk::app

#endif
