#include "app/run/json_lines_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace zelk::app {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

TEST(JsonLinesSinkTest, ALineThatCannotBeWrittenIsRemembered) {
    std::unique_ptr<std::FILE, FileCloser> full(std::fopen("/dev/full", "w"));
    ASSERT_NE(full, nullptr);
    JsonLinesSink sink(full.get());
    sink.Start("update");
    sink.Exit(0);
    EXPECT_TRUE(sink.WriteFailed());
}

TEST(JsonLinesSinkTest, WrittenLinesLeaveNoFailure) {
    std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
    ASSERT_NE(file, nullptr);
    JsonLinesSink sink(file.get());
    sink.Start("update");
    sink.Exit(0);
    EXPECT_FALSE(sink.WriteFailed());
}

}  // namespace
}  // namespace zelk::app
