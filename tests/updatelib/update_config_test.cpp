#include <gtest/gtest.h>

#include <cstring>

#include "cfu_library.h"
#include "unavailable_hid_backend.h"
#include "update_config.h"

namespace zelk::cfu {
namespace {

TEST(DefaultUpdateConfig, HoldsTheTemplateBytes) {
    const UpdateConfig config = DefaultUpdateConfig();
    std::uint8_t bytes[sizeof config];
    std::memcpy(bytes, &config, sizeof config);
    // VID, PID, usage page and usage, little-endian, then the two switches.
    const std::uint8_t head[] = {0x0F, 0x32, 0x6B, 0x22, 0x0B, 0xFF, 0x04, 0x01, 0, 1};
    EXPECT_EQ(0, std::memcmp(bytes, head, sizeof head));
    // Five report specs: ID 0, usage, length 0, type.
    const std::uint8_t specs[] = {
        0, 0x62, 0, 0, 0, 2, 0, 0, 0,  // version, feature
        0, 0x8A, 0, 0, 0, 0, 0, 0, 0,  // offer response, input
        0, 0x66, 0, 0, 0, 0, 0, 0, 0,  // content response, input
        0, 0x8E, 0, 0, 0, 1, 0, 0, 0,  // offer, output
        0, 0x61, 0, 0, 0, 1, 0, 0, 0,  // content, output
    };
    EXPECT_EQ(0, std::memcmp(bytes + 10, specs, sizeof specs));
    for (std::size_t i = 55; i < sizeof bytes; ++i) {
        EXPECT_EQ(bytes[i], 0) << "reserved byte " << i;
    }
}

TEST(CfuLibrary, SetConfigExArmsTheFilterAndSetConfigDisarmsIt) {
    hid::UnavailableHidBackend backend;
    CfuLibrary library(backend, SystemClock());
    EXPECT_EQ(library.DeviceFamily(), -1);
    EXPECT_FALSE(library.CapsFilterArmed());

    UpdateConfig config = DefaultUpdateConfig();
    config.CheckReportCaps = 1;
    library.SetConfigEx(config);
    EXPECT_TRUE(library.CapsFilterArmed());
    EXPECT_EQ(0, std::memcmp(&library.Config(), &config, sizeof config));

    library.SetConfig(config);
    EXPECT_FALSE(library.CapsFilterArmed());

    config.CheckReportCaps = 0;
    library.SetConfigEx(config);
    EXPECT_FALSE(library.CapsFilterArmed());
}

}  // namespace
}  // namespace zelk::cfu
