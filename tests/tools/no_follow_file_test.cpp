// zelk-uhid-device runs as root and writes its flash and ready files where
// the caller says; a link planted there must not let it truncate another file.
#include "tools/linux/no_follow_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class NoFollowFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-nofollow-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        victim_ = dir_ / "victim";
        std::ofstream(victim_) << "precious";
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    fs::path victim_;
};

TEST_F(NoFollowFileTest, PlantedLinksAreReplacedAndTheirTargetsKept) {
    struct Row {
        const char* name;
        bool hardLink;
    };
    for (const Row row : {Row{"symlink", false}, Row{"hardlink", true}}) {
        SCOPED_TRACE(row.name);
        const fs::path planted = dir_ / row.name;
        if (row.hardLink) {
            fs::create_hard_link(victim_, planted);
        } else {
            fs::create_symlink(victim_, planted);
        }
        ASSERT_TRUE(zelk::tools::WriteNewFile(planted.string(), {'n', 'e', 'w'}));
        EXPECT_EQ(Contents(victim_), "precious");
        EXPECT_FALSE(fs::is_symlink(planted));
        EXPECT_EQ(Contents(planted), "new");
    }
}

TEST_F(NoFollowFileTest, WritesANewFileAndReportsAMissingDirectory) {
    ASSERT_TRUE(zelk::tools::WriteNewFile((dir_ / "ready").string(), {'\n'}));
    EXPECT_EQ(Contents(dir_ / "ready"), "\n");
    EXPECT_FALSE(zelk::tools::WriteNewFile((dir_ / "absent" / "ready").string(), {'\n'}));
}

}  // namespace
