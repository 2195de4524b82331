#include "engine/component_table.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zelk::engine {
namespace {

using enum ComponentCheck;

struct ComponentRow {
    std::uint8_t component;
    std::int32_t family;
    ComponentCheck check;
};

// Which component may be updated under which device family; everything not
// listed is refused, and component 0xFF is never looked up.
TEST(ComponentTableTest, AcceptsOnlyTheListedFamilies) {
    // clang-format off
    const ComponentRow rows[] = {
        {.component = 0x00, .family = 1,      .check = Accepted},
        {.component = 0x00, .family = 0x1800, .check = Accepted},
        {.component = 0x00, .family = 0,      .check = FamilyNotListed},
        {.component = 0x0C, .family = 0,      .check = Accepted},
        {.component = 0x0C, .family = 1,      .check = FamilyNotListed},
        {.component = 0x0F, .family = 1,      .check = Accepted},
        {.component = 0x0F, .family = 3,      .check = FamilyNotListed},
        {.component = 0x10, .family = 3,      .check = Accepted},
        {.component = 0x10, .family = 1,      .check = FamilyNotListed},  // the updater's family
        {.component = 0xA1, .family = 0x1000, .check = Accepted},
        {.component = 0xA1, .family = 0x2000, .check = Accepted},
        {.component = 0xA1, .family = 0x3000, .check = Accepted},
        {.component = 0xA1, .family = 0x1800, .check = FamilyNotListed},
        {.component = 0xA2, .family = 0x1000, .check = Accepted},
        {.component = 0xA2, .family = 2,      .check = Accepted},
        {.component = 0xA2, .family = 3,      .check = FamilyNotListed},
        {.component = 0x01, .family = 1,      .check = UnknownComponent},
        {.component = 0x11, .family = 3,      .check = UnknownComponent},
        {.component = 0xFE, .family = 1,      .check = UnknownComponent},
        {.component = 0xFF, .family = -1,     .check = Accepted},  // before any initialisation too
        {.component = 0x0F, .family = -1,     .check = FamilyNotListed},
    };
    // clang-format on
    for (const ComponentRow& row : rows) {
        EXPECT_EQ(CheckComponent(row.component, row.family), row.check)
            << "component 0x" << std::hex << int{row.component} << " family 0x" << row.family;
    }
}

TEST(ComponentTableTest, HoldsExactlyTheSixComponents) {
    const ComponentFamilyTable expected = {
        {0x00, {1, 0x1800}},
        {0x0C, {0}},
        {0x0F, {1}},
        {0x10, {3}},
        {0xA1, {0x1000, 0x2000, 0x3000}},
        {0xA2, {0x1000, 2}},
    };
    EXPECT_EQ(ComponentTable(), expected);
}

}  // namespace
}  // namespace zelk::engine
