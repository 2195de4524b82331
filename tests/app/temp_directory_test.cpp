// The Linux per-user temporary directory and what it refuses.
#if !defined(_WIN32)

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "app/platform/platform.h"
#include "app/text/text_encoding.h"
#include "tests/app/scoped_environment.h"
#include "tests/app/scratch_directory.h"

namespace zelk::app {
namespace {

enum class Base { RuntimeDirectory, TmpDir };

const char* BaseName(Base base) {
    return base == Base::RuntimeDirectory ? "XdgRuntimeDir" : "TmpDir";
}
void PrintTo(Base base, std::ostream* out) {
    *out << BaseName(base);
}

// The base directory comes from $XDG_RUNTIME_DIR or, without it, $TMPDIR;
// both point into a scratch directory.
class LinuxTempDirectory : public testing::TestWithParam<Base> {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch_.Path().empty());
        if (GetParam() == Base::RuntimeDirectory) {
            environment_.Set("XDG_RUNTIME_DIR", scratch_.Path());
            environment_.Set("TMPDIR", "/nonexistent-tmpdir");
            expected_ = scratch_.Path() + "/zelkupdate";
        } else {
            environment_.Set("XDG_RUNTIME_DIR", nullptr);
            environment_.Set("TMPDIR", scratch_.Path() + "/");
            expected_ = scratch_.Path() + "/zelkupdate-" + std::to_string(geteuid());
        }
    }

    // What a refused name gives: the runtime directory is the user's own, so
    // whatever is at its name is reported; in the shared directory another
    // account may hold the name, and the user's runs go on in a spare one.
    std::u16string Refused() const {
        return GetParam() == Base::RuntimeDirectory ? u"" : Utf8ToUtf16(expected_ + "-1/");
    }

    static mode_t Mode(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
        return info.st_mode;
    }

    ScratchDirectory scratch_;
    ScopedEnvironment environment_;
    std::string expected_;
};

TEST_P(LinuxTempDirectory, IsCreatedPrivateAndThenReused) {
    const mode_t oldMask = umask(0);
    const std::u16string first = platform::TempDirectory();
    umask(oldMask);
    EXPECT_EQ(first, Utf8ToUtf16(expected_ + "/"));
    const mode_t mode = Mode(expected_);
    EXPECT_TRUE(S_ISDIR(mode));
    EXPECT_EQ(mode & 07777, 0700u);

    std::ofstream(expected_ + "/kept.bin") << "x";
    EXPECT_EQ(platform::TempDirectory(), first);
    EXPECT_TRUE(platform::FileExists(first + u"kept.bin"));
}

TEST_P(LinuxTempDirectory, RefusesASymlinkPlantedAtTheName) {
    // Even one that leads to a directory that would pass every check.
    const std::string target = scratch_.Path() + "/elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), expected_.c_str()), 0);
    EXPECT_EQ(platform::TempDirectory(), Refused());
    EXPECT_TRUE(S_ISLNK(Mode(expected_)));
}

TEST_P(LinuxTempDirectory, RefusesADirectoryOthersCanUse) {
    ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
    for (const mode_t mode : {0750, 0705, 0701, 0770, 0777}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(chmod(expected_.c_str(), mode), 0);
        EXPECT_EQ(platform::TempDirectory(), Refused());
    }
    ASSERT_EQ(chmod(expected_.c_str(), 0700), 0);
    EXPECT_NE(platform::TempDirectory(), u"");
}

TEST_P(LinuxTempDirectory, RefusesAFileAtTheName) {
    std::ofstream(expected_) << "not a directory";
    EXPECT_EQ(platform::TempDirectory(), Refused());
}

TEST_P(LinuxTempDirectory, RefusesADirectoryOfAnotherUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can give a directory to another user";
    }
    ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
    ASSERT_EQ(chown(expected_.c_str(), 65534, 65534), 0);
    EXPECT_EQ(platform::TempDirectory(), Refused());
}

INSTANTIATE_TEST_SUITE_P(Bases, LinuxTempDirectory,
                         testing::Values(Base::RuntimeDirectory, Base::TmpDir),
                         [](const testing::TestParamInfo<Base>& param) {
                             return BaseName(param.param);
                         });

TEST(LinuxTempDirectoryBase, ARuntimeDirectoryThatIsNotThereIsPassedOver) {
    ScratchDirectory scratch;
    ScopedEnvironment environment;
    environment.Set("XDG_RUNTIME_DIR", scratch.Path() + "/gone");
    environment.Set("TMPDIR", scratch.Path());
    EXPECT_EQ(platform::TempDirectory(),
              Utf8ToUtf16(scratch.Path() + "/zelkupdate-" + std::to_string(geteuid()) + "/"));
}

// A base directory the later reads and writes could reach under another name
// (bytes that are not UTF-8), or that another account could swap (a parent
// anyone may rename entries of), is passed over for the next one; a link to a
// good directory is followed to it.
TEST(LinuxTempDirectoryBase, OnlyABaseThatStaysTheCheckedOneIsUsed) {
    ScratchDirectory scratch;
    const std::string root = scratch.Path();
    const std::string own = root + "/own";
    const std::string notUtf8 = root + "/bad\xff";
    const std::string open = root + "/open";
    for (const std::string& dir : {own, notUtf8, open, open + "/inner"}) {
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0) << dir;
    }
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    ASSERT_EQ(symlink(own.c_str(), (root + "/link").c_str()), 0);
    const std::string uid = std::to_string(geteuid());
    const std::string shared = "/tmp/zelkupdate-" + uid + "/";
    struct Row {
        const char* name;
        std::string runtimeDir;
        std::string tmpDir;
        std::string expected;
    };
    const Row rows[] = {
        {"runtime dir not UTF-8", notUtf8, own, own + "/zelkupdate-" + uid + "/"},
        {"TMPDIR not UTF-8", "", notUtf8, shared},
        {"TMPDIR under a world-writable parent", "", open + "/inner", shared},
        {"TMPDIR a link to an own directory", "", root + "/link", own + "/zelkupdate-" + uid + "/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnvironment environment;
        environment.Set("XDG_RUNTIME_DIR",
                        row.runtimeDir.empty() ? nullptr : row.runtimeDir.c_str());
        environment.Set("TMPDIR", row.tmpDir);
        const std::u16string result = platform::TempDirectory();
        EXPECT_EQ(result, Utf8ToUtf16(row.expected));
        // What the rest of the program opens is what was checked.
        struct stat info {};
        ASSERT_EQ(lstat(Utf16ToUtf8(result).c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
    }
}

}  // namespace
}  // namespace zelk::app

#endif
