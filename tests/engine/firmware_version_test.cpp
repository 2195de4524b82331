#include <gtest/gtest.h>

#include "engine/firmware_version.h"

namespace zelk::engine {
namespace {

TEST(DecodeFirmwareVersion, SplitsByDeviceFamily) {
    struct Case {
        std::uint32_t version;
        std::int32_t family;
        FirmwareVersionParts expected;
    };
    const Case cases[] = {
        {0x10003001, 0, {1, 0, 3, 2}},
        {0x10003001, 1, {1, 0, 3, 2}},
        {0x10003001, 2, {1, 0, 3, 128}},
        {0x10003001, -1, {16, 0, 48, 1}},
        {0x12345678, 1, {8, 103, 9029, 2}},
        {0x12345678, 2, {8, 103, 325, 145}},
        {0x12345678, 3, {18, 52, 86, 120}},
        {0x12345678, -1, {18, 52, 86, 120}},
        {0xFFFFFFFF, 0, {15, 255, 32767, 31}},
        {0xFFFFFFFF, 2, {15, 255, 511, 2047}},
        {0xFFFFFFFF, 0x1000, {255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        const FirmwareVersionParts parts = DecodeFirmwareVersion(c.version, c.family);
        EXPECT_EQ(parts.Part1, c.expected.Part1) << std::hex << c.version << " family " << c.family;
        EXPECT_EQ(parts.Part2, c.expected.Part2) << std::hex << c.version << " family " << c.family;
        EXPECT_EQ(parts.Part3, c.expected.Part3) << std::hex << c.version << " family " << c.family;
        EXPECT_EQ(parts.Part4, c.expected.Part4) << std::hex << c.version << " family " << c.family;
    }
}

TEST(FirmwareVersionOrder, TheFirstPartThatDiffersDecides) {
    struct Case {
        FirmwareVersionParts a;
        FirmwareVersionParts b;
        int order;
    };
    const Case cases[] = {
        {{1, 0, 4, 2}, {1, 0, 4, 2}, 0},
        {{1, 0, 4, 2}, {1, 0, 5, 0}, -1},
        {{2, 0, 0, 0}, {1, 9, 9, 9}, 1},
        {{1, 0, 4, 1}, {1, 0, 4, 2}, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CompareFirmwareVersions(c.a, c.b), c.order);
        EXPECT_EQ(CompareFirmwareVersions(c.b, c.a), -c.order);
    }
    EXPECT_EQ(FirmwareVersionText({1, 0, 4, 2}), "1.0.4.2");
    EXPECT_EQ(FirmwareVersionText({15, 255, 32767, 31}), "15.255.32767.31");
}

}  // namespace
}  // namespace zelk::engine
