// The locale-to-language mapping of the Linux desktop.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include "app/platform/platform.h"
#include "tests/app/scoped_environment.h"

namespace zelk::app {
namespace {

TEST(LinuxLanguageId, LocaleVariablesMapToTheInstallLanguageIds) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::optional<std::uint32_t> expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, std::nullopt},
        {"", "", "", std::nullopt},
        {nullptr, nullptr, "zh_CN.UTF-8", 2052},
        {nullptr, nullptr, "zh", 2052},
        {nullptr, nullptr, "zh_TW.UTF-8", 1028},
        {nullptr, nullptr, "zh_TW@radical", 1028},
        {nullptr, nullptr, "zh_HK.BIG5-HKSCS", 3076},
        {nullptr, nullptr, "zh_SG", 4100},
        {nullptr, nullptr, "zh_MO.UTF-8", 5124},
        {nullptr, nullptr, "en_GB.UTF-8", 1033},
        {nullptr, nullptr, "de_DE@euro", 1033},
        {nullptr, nullptr, "C", 1033},
        {nullptr, nullptr, "zh_TWX", 1033},
        // LC_ALL, then LC_MESSAGES, then LANG; empty counts as unset.
        {nullptr, "zh_TW.UTF-8", "en_US.UTF-8", 1028},
        {"en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", 1033},
        {"zh_HK", "en_US", "en_US", 3076},
        {"", "", "zh_SG.UTF-8", 4100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "LC_ALL=" << (c.lcAll ? c.lcAll : "(unset)")
                     << " LC_MESSAGES=" << (c.lcMessages ? c.lcMessages : "(unset)")
                     << " LANG=" << (c.lang ? c.lang : "(unset)"));
        ScopedEnvironment environment;
        environment.Set("LC_ALL", c.lcAll);
        environment.Set("LC_MESSAGES", c.lcMessages);
        environment.Set("LANG", c.lang);
        EXPECT_EQ(platform::LanguageId(), c.expected);
    }
}

}  // namespace
}  // namespace zelk::app

#endif
