#include <gtest/gtest.h>

#include <cstring>

#include "capi/c_library.h"
#include "capi/records.h"
#include "hidtransport/unavailable_hid_backend.h"
#include "updatelib/update_config.h"

namespace zelk::cfu {
namespace {

TEST(DefaultUpdateConfig, HoldsTheTemplateBytes) {
    const UpdateConfig config = capi::ToRecord(DefaultUpdateConfig());
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
    CfuLibrary core(backend, SystemClock());
    capi::CLibrary library(core);
    EXPECT_EQ(core.DeviceFamily(), -1);
    EXPECT_FALSE(core.CapsFilterArmed());

    UpdateConfig config = capi::ToRecord(DefaultUpdateConfig());
    config.CheckReportCaps = 2;  // any value but 0 arms the filter
    config.Reserved[134] = 0x5A;
    library.SetConfigEx(config);
    EXPECT_TRUE(core.CapsFilterArmed());
    EXPECT_TRUE(core.Config().CheckReportCaps);
    EXPECT_EQ(0, std::memcmp(&library.Config(), &config, sizeof config));

    library.SetConfig(config);
    EXPECT_FALSE(core.CapsFilterArmed());

    config.CheckReportCaps = 0;
    library.SetConfigEx(config);
    EXPECT_FALSE(core.CapsFilterArmed());
}

}  // namespace
}  // namespace zelk::cfu
