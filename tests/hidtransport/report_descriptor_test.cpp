#include "hidtransport/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace zelk::hid {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Repeat(const Bytes& part, std::size_t times) {
    Bytes out;
    for (std::size_t i = 0; i < times; ++i) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Puts `body` inside a vendor-defined application collection; the body starts
// at byte 7.
Bytes InVendorCollection(const Bytes& body) {
    return Cat({{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01}, body, {0xC0}});
}

// One line per capability, so that a failure shows every field.
std::string Describe(const HidCapability& cap) {
    char text[96];
    std::snprintf(text, sizeof text, "id %02X page %04X usage %X..%X%s link %u", cap.ReportId,
                  cap.UsagePage, cap.UsageMin, cap.UsageMax, cap.IsRange ? " range" : "",
                  unsigned{cap.LinkCollection});
    return text;
}

std::vector<std::string> Describe(const std::vector<HidCapability>& caps) {
    std::vector<std::string> lines;
    for (const HidCapability& cap : caps) {
        lines.push_back(Describe(cap));
    }
    return lines;
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
    return param.param.name;
}

std::vector<ParsedCollection> Parse(const Bytes& bytes) {
    std::string error;
    std::vector<ParsedCollection> collections =
        ParseReportDescriptor(bytes.data(), bytes.size(), error);
    EXPECT_EQ(error, "");
    return collections;
}

ParsedCollection ParseOne(const Bytes& bytes) {
    std::vector<ParsedCollection> collections = Parse(bytes);
    EXPECT_EQ(collections.size(), 1u);
    return collections.empty() ? ParsedCollection{} : collections.front();
}

// The vendor interface of a CFU earbud: one feature report for the version,
// two output reports (offer, content) and two input reports (their answers).
const Bytes kCfuDescriptor = {
    0x06, 0x0B, 0xFF,  // Usage Page (0xFF0B)
    0x0A, 0x04, 0x01,  // Usage (0x0104)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x85, 0x22,        //   Report ID (0x22)
    0x95, 0x10,        //   Report Count (16)
    0x09, 0x66,        //   Usage (0x66)
    0x81, 0x02,        //   Input (Data, Var, Abs)
    0x85, 0x25,        //   Report ID (0x25)
    0x09, 0x8A,        //   Usage (0x8A)
    0x81, 0x02,        //   Input (Data, Var, Abs)
    0x85, 0x20,        //   Report ID (0x20)
    0x95, 0x3C,        //   Report Count (60)
    0x09, 0x62,        //   Usage (0x62)
    0xB1, 0x02,        //   Feature (Data, Var, Abs)
    0x85, 0x21,        //   Report ID (0x21)
    0x09, 0x61,        //   Usage (0x61)
    0x91, 0x02,        //   Output (Data, Var, Abs)
    0x85, 0x26,        //   Report ID (0x26)
    0x09, 0x8E,        //   Usage (0x8E)
    0x91, 0x02,        //   Output (Data, Var, Abs)
    0xC0,              // End Collection
};

// The boot keyboard of the USB HID class documents.
const Bytes kBootKeyboard = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x06,  // Usage (Keyboard)
    0xA1, 0x01,  // Collection (Application)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0xE0,  //   Usage Minimum (Left Control)
    0x29, 0xE7,  //   Usage Maximum (Right GUI)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x01,  //   Logical Maximum (1)
    0x75, 0x01,  //   Report Size (1)
    0x95, 0x08,  //   Report Count (8)
    0x81, 0x02,  //   Input (Data, Var, Abs): modifiers
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x08,  //   Report Size (8)
    0x81, 0x01,  //   Input (Const): reserved byte
    0x95, 0x05,  //   Report Count (5)
    0x75, 0x01,  //   Report Size (1)
    0x05, 0x08,  //   Usage Page (LEDs)
    0x19, 0x01,  //   Usage Minimum (Num Lock)
    0x29, 0x05,  //   Usage Maximum (Kana)
    0x91, 0x02,  //   Output (Data, Var, Abs): LEDs
    0x95, 0x01,  //   Report Count (1)
    0x75, 0x03,  //   Report Size (3)
    0x91, 0x01,  //   Output (Const): padding
    0x95, 0x06,  //   Report Count (6)
    0x75, 0x08,  //   Report Size (8)
    0x15, 0x00,  //   Logical Minimum (0)
    0x25, 0x65,  //   Logical Maximum (101)
    0x05, 0x07,  //   Usage Page (Keyboard/Keypad)
    0x19, 0x00,  //   Usage Minimum (0)
    0x29, 0x65,  //   Usage Maximum (101)
    0x81, 0x00,  //   Input (Data, Array): key codes
    0xC0,        // End Collection
};

// The boot mouse: buttons and axes inside a Physical (pointer) collection.
const Bytes kBootMouse = {
    0x05, 0x01,  // Usage Page (Generic Desktop)
    0x09, 0x02,  // Usage (Mouse)
    0xA1, 0x01,  // Collection (Application)
    0x09, 0x01,  //   Usage (Pointer)
    0xA1, 0x00,  //   Collection (Physical)
    0x05, 0x09,  //     Usage Page (Button)
    0x19, 0x01,  //     Usage Minimum (1)
    0x29, 0x03,  //     Usage Maximum (3)
    0x15, 0x00,  //     Logical Minimum (0)
    0x25, 0x01,  //     Logical Maximum (1)
    0x95, 0x03,  //     Report Count (3)
    0x75, 0x01,  //     Report Size (1)
    0x81, 0x02,  //     Input (Data, Var, Abs)
    0x95, 0x01,  //     Report Count (1)
    0x75, 0x05,  //     Report Size (5)
    0x81, 0x01,  //     Input (Const)
    0x05, 0x01,  //     Usage Page (Generic Desktop)
    0x09, 0x30,  //     Usage (X)
    0x09, 0x31,  //     Usage (Y)
    0x15, 0x81,  //     Logical Minimum (-127)
    0x25, 0x7F,  //     Logical Maximum (127)
    0x75, 0x08,  //     Report Size (8)
    0x95, 0x02,  //     Report Count (2)
    0x81, 0x06,  //     Input (Data, Var, Rel)
    0xC0,        //   End Collection
    0xC0,        // End Collection
};

TEST(ReportDescriptorTest, CfuDescriptorGivesWindowsCapabilities) {
    const ParsedCollection parsed = ParseOne(kCfuDescriptor);
    HidCaps caps;
    ASSERT_EQ(parsed.GetCaps(caps), kHidStatusSuccess);
    EXPECT_EQ(caps.UsagePage, 0xFF0B);
    EXPECT_EQ(caps.Usage, 0x0104);
    EXPECT_EQ(caps.InputReportByteLength, 17);
    EXPECT_EQ(caps.OutputReportByteLength, 61);
    EXPECT_EQ(caps.FeatureReportByteLength, 61);
    EXPECT_EQ(caps.NumberInputValueCaps, 2);
    EXPECT_EQ(caps.NumberOutputValueCaps, 2);
    EXPECT_EQ(caps.NumberFeatureValueCaps, 1);
    EXPECT_EQ(
        caps.NumberInputButtonCaps + caps.NumberOutputButtonCaps + caps.NumberFeatureButtonCaps, 0);

    std::vector<HidCapability> out;
    ASSERT_EQ(parsed.GetValueCaps(HidReportType::Output, out), kHidStatusSuccess);
    EXPECT_EQ(Describe(out), (std::vector<std::string>{"id 21 page FF0B usage 61..61 link 0",
                                                       "id 26 page FF0B usage 8E..8E link 0"}));
    ASSERT_EQ(parsed.GetValueCaps(HidReportType::Input, out), kHidStatusSuccess);
    EXPECT_EQ(Describe(out), (std::vector<std::string>{"id 22 page FF0B usage 66..66 link 0",
                                                       "id 25 page FF0B usage 8A..8A link 0"}));
    ASSERT_EQ(parsed.GetValueCaps(HidReportType::Feature, out), kHidStatusSuccess);
    EXPECT_EQ(Describe(out), (std::vector<std::string>{"id 20 page FF0B usage 62..62 link 0"}));

    EXPECT_EQ(parsed.reportIds[0], (Bytes{0x22, 0x25}));
    EXPECT_EQ(parsed.reportIds[1], (Bytes{0x21, 0x26}));
    EXPECT_EQ(parsed.reportIds[2], (Bytes{0x20}));
}

TEST(ReportDescriptorTest, BootKeyboardMatchesWindows) {
    const ParsedCollection parsed = ParseOne(kBootKeyboard);
    const HidCaps& caps = parsed.caps;
    EXPECT_EQ(caps.UsagePage, 0x01);
    EXPECT_EQ(caps.Usage, 0x06);
    EXPECT_EQ(caps.InputReportByteLength, 9);
    EXPECT_EQ(caps.OutputReportByteLength, 2);
    EXPECT_EQ(caps.FeatureReportByteLength, 0);
    EXPECT_EQ(caps.NumberInputButtonCaps, 2);
    EXPECT_EQ(caps.NumberInputValueCaps, 0);
    EXPECT_EQ(caps.NumberOutputButtonCaps, 1);
    EXPECT_EQ(caps.NumberOutputValueCaps, 0);

    std::vector<HidCapability> out;
    ASSERT_EQ(parsed.GetButtonCaps(HidReportType::Input, out), kHidStatusSuccess);
    EXPECT_EQ(Describe(out),
              (std::vector<std::string>{"id 00 page 0007 usage E0..E7 range link 0",
                                        "id 00 page 0007 usage 0..65 range link 0"}));
    ASSERT_EQ(parsed.GetButtonCaps(HidReportType::Output, out), kHidStatusSuccess);
    EXPECT_EQ(Describe(out), (std::vector<std::string>{"id 00 page 0008 usage 1..5 range link 0"}));
    // Without Report ID items every report is report 0.
    EXPECT_EQ(parsed.reportIds[0], (Bytes{0}));
    EXPECT_EQ(parsed.reportIds[1], (Bytes{0}));
    EXPECT_TRUE(parsed.reportIds[2].empty());
}

TEST(ReportDescriptorTest, BootMouseAxesAreValuesInsideThePointerCollection) {
    const ParsedCollection parsed = ParseOne(kBootMouse);
    EXPECT_EQ(parsed.caps.Usage, 0x02);
    EXPECT_EQ(parsed.caps.InputReportByteLength, 4);
    EXPECT_EQ(Describe(parsed.buttonCaps[0]),
              (std::vector<std::string>{"id 00 page 0009 usage 1..3 range link 1"}));
    EXPECT_EQ(Describe(parsed.valueCaps[0]),
              (std::vector<std::string>{"id 00 page 0001 usage 30..30 link 1",
                                        "id 00 page 0001 usage 31..31 link 1"}));
}

struct UsageCase {
    const char* name;
    Bytes body;  // inside a vendor collection (usage page 0xFF00)
    std::vector<std::string> inputButtons;
    std::vector<std::string> inputValues;
};

class UsageAssignmentTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageAssignmentTest, GivesExpectedCapabilities) {
    const ParsedCollection parsed = ParseOne(InVendorCollection(GetParam().body));
    EXPECT_EQ(Describe(parsed.buttonCaps[0]), GetParam().inputButtons);
    EXPECT_EQ(Describe(parsed.valueCaps[0]), GetParam().inputValues);
}

INSTANTIATE_TEST_SUITE_P(
    ReportDescriptorTest, UsageAssignmentTest,
    ::testing::Values(
        UsageCase{"NoUsageGivesUsageZero",
                  {0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 0..0 link 0"}},
        UsageCase{"LastUsageCoversRemainingFields",
                  {0x09, 0x01, 0x09, 0x02, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..1 link 0", "id 00 page FF00 usage 2..2 link 0"}},
        UsageCase{"UsagesBeyondTheCountAreDropped",
                  {0x09, 0x01, 0x09, 0x02, 0x09, 0x03, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..1 link 0", "id 00 page FF00 usage 2..2 link 0"}},
        UsageCase{"RangeUsesOneFieldPerUsage",
                  {0x19, 0x01, 0x29, 0x04, 0x09, 0x10, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..4 range link 0"}},
        UsageCase{"ArrayOffersEveryUsage",
                  {0x09, 0x01, 0x09, 0x02, 0x09, 0x03, 0x75, 0x08, 0x95, 0x01, 0x81, 0x00},
                  {"id 00 page FF00 usage 1..1 link 0", "id 00 page FF00 usage 2..2 link 0",
                   "id 00 page FF00 usage 3..3 link 0"},
                  {}},
        UsageCase{"OneBitVariableIsAButton",
                  {0x09, 0x05, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02},
                  {"id 00 page FF00 usage 5..5 link 0"},
                  {}},
        UsageCase{"ExtendedUsageCarriesItsOwnPage",
                  {0x0B, 0x30, 0x00, 0x01, 0x00, 0x09, 0x07, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
                  {},
                  {"id 00 page 0001 usage 30..30 link 0", "id 00 page FF00 usage 7..7 link 0"}},
        UsageCase{"ShortUsageTakesThePageAtTheMainItem",
                  {0x09, 0x07, 0x05, 0x0C, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
                  {},
                  {"id 00 page 000C usage 7..7 link 0"}},
        UsageCase{"MaximumBeforeMinimumStillPairs",
                  {0x29, 0x05, 0x19, 0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02},
                  {"id 00 page FF00 usage 1..5 range link 0"},
                  {}},
        UsageCase{"ConstantItemHasNoCapability",
                  {0x09, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x01},
                  {},
                  {}},
        UsageCase{"LocalsEndAtEachMainItem",
                  {0x09, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..1 link 0", "id 00 page FF00 usage 0..0 link 0"}},
        UsageCase{
            "PopRestoresPageAndSize",
            {0x75, 0x08, 0x95, 0x01, 0xA4, 0x05, 0x0C, 0x75, 0x01, 0xB4, 0x09, 0x01, 0x81, 0x02},
            {},
            {"id 00 page FF00 usage 1..1 link 0"}},
        UsageCase{"ReportIdTravelsWithTheCapability",
                  {0x85, 0x07, 0x09, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
                  {},
                  {"id 07 page FF00 usage 1..1 link 0"}},
        UsageCase{"NestedCollectionsAreNumberedInOrder",
                  {0x75, 0x08, 0x95, 0x01, 0xA1, 0x00, 0x09, 0x01, 0x81, 0x02, 0xC0,
                   0xA1, 0x02, 0x09, 0x02, 0x81, 0x02, 0xC0, 0x09, 0x03, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..1 link 1", "id 00 page FF00 usage 2..2 link 2",
                   "id 00 page FF00 usage 3..3 link 0"}},
        UsageCase{"LongItemIsSkipped",
                  {0xFE, 0x02, 0x10, 0x09, 0x05, 0x09, 0x01, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02},
                  {},
                  {"id 00 page FF00 usage 1..1 link 0"}}),
    CaseName<UsageCase>);

struct LengthCase {
    const char* name;
    Bytes body;  // inside a vendor collection
    std::uint16_t inputLength;
    Bytes inputReportIds;
};

class ReportLengthTest : public ::testing::TestWithParam<LengthCase> {};

TEST_P(ReportLengthTest, CountsTheIdByteAndRoundsUp) {
    const ParsedCollection parsed = ParseOne(InVendorCollection(GetParam().body));
    EXPECT_EQ(parsed.caps.InputReportByteLength, GetParam().inputLength);
    EXPECT_EQ(parsed.reportIds[0], GetParam().inputReportIds);
}

INSTANTIATE_TEST_SUITE_P(
    ReportDescriptorTest, ReportLengthTest,
    ::testing::Values(
        LengthCase{"PaddingCountsAndBitsRoundUp",
                   {0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0x75, 0x04, 0x95, 0x01, 0x81, 0x03},
                   5,
                   {0}},
        LengthCase{"LongestReportWins",
                   {0x85, 0x01, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0x85, 0x02,
                    0x95, 0x05, 0x81, 0x02, 0x85, 0x01, 0x95, 0x01, 0x81, 0x02},
                   6,
                   {1, 2}},
        LengthCase{"NoInputReport", {0x75, 0x08, 0x95, 0x04, 0xB1, 0x02}, 0, {}},
        LengthCase{"EmptyFieldMakesNoReport", {0x75, 0x08, 0x95, 0x00, 0x81, 0x02}, 0, {}},
        LengthCase{
            "LongestAllowedReport", {0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x01}, 0xFFFF, {0}}),
    CaseName<LengthCase>);

TEST(ReportDescriptorTest, TwoTopLevelCollectionsKeepTheirOwnReports) {
    const Bytes descriptor = {
        0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,  // Consumer Control
        0x85, 0x01, 0x19, 0x00, 0x2A, 0x3C, 0x02, 0x75, 0x10, 0x95, 0x01, 0x81, 0x00,  //
        0xC0,                                                                          //
        0x06, 0x00, 0xFF, 0x09, 0x20, 0xA1, 0x01,        // vendor; Report Size carries over
        0x85, 0x02, 0x09, 0x21, 0x95, 0x08, 0xB1, 0x02,  //
        0xC0,
    };
    const std::vector<ParsedCollection> collections = Parse(descriptor);
    ASSERT_EQ(collections.size(), 2u);

    const HidCaps& consumer = collections[0].caps;
    EXPECT_EQ(consumer.UsagePage, 0x0C);
    EXPECT_EQ(consumer.Usage, 0x01);
    EXPECT_EQ(consumer.InputReportByteLength, 3);
    EXPECT_EQ(consumer.FeatureReportByteLength, 0);
    EXPECT_EQ(Describe(collections[0].buttonCaps[0]),
              (std::vector<std::string>{"id 01 page 000C usage 0..23C range link 0"}));

    const HidCaps& vendor = collections[1].caps;
    EXPECT_EQ(vendor.UsagePage, 0xFF00);
    EXPECT_EQ(vendor.Usage, 0x20);
    EXPECT_EQ(vendor.InputReportByteLength, 0);
    EXPECT_EQ(vendor.FeatureReportByteLength, 17);
    EXPECT_EQ(Describe(collections[1].valueCaps[2]),
              (std::vector<std::string>{"id 02 page FF00 usage 21..21 link 0"}));
    EXPECT_TRUE(collections[1].reportIds[0].empty());
}

TEST(ReportDescriptorTest, ItemsOutsideTopLevelCollectionsAreIgnored) {
    const Bytes descriptor = Cat({{0x75, 0x08, 0x95, 0x04, 0x09, 0x01, 0x81, 0x02},
                                  InVendorCollection({0x95, 0x01, 0x09, 0x02, 0x81, 0x02}),
                                  {0x09, 0x03, 0x81, 0x02}});
    const ParsedCollection parsed = ParseOne(descriptor);
    EXPECT_EQ(parsed.caps.InputReportByteLength, 2);
    EXPECT_EQ(Describe(parsed.valueCaps[0]),
              (std::vector<std::string>{"id 00 page FF00 usage 2..2 link 0"}));
}

struct SpecificCase {
    const char* name;
    HidReportType type;
    std::uint16_t usagePage;
    std::uint16_t linkCollection;
    std::uint16_t usage;
    HidStatus status;
    std::vector<std::string> found;
};

class SpecificValueCapsTest : public ::testing::TestWithParam<SpecificCase> {};

TEST_P(SpecificValueCapsTest, FiltersByTypeUsagePageAndLink) {
    const ParsedCollection parsed = ParseOne(kCfuDescriptor);
    const SpecificCase& c = GetParam();
    std::vector<HidCapability> out(3);  // stale entries must not survive
    EXPECT_EQ(parsed.GetSpecificValueCaps(c.type, c.usagePage, c.linkCollection, c.usage, out),
              c.status);
    EXPECT_EQ(Describe(out), c.found);
}

INSTANTIATE_TEST_SUITE_P(
    ReportDescriptorTest, SpecificValueCapsTest,
    ::testing::Values(
        SpecificCase{"FeatureVersion",
                     HidReportType::Feature,
                     0,
                     0,
                     0x62,
                     kHidStatusSuccess,
                     {"id 20 page FF0B usage 62..62 link 0"}},
        SpecificCase{"OutputWithPage",
                     HidReportType::Output,
                     0xFF0B,
                     0,
                     0x8E,
                     kHidStatusSuccess,
                     {"id 26 page FF0B usage 8E..8E link 0"}},
        SpecificCase{"InputAnswer",
                     HidReportType::Input,
                     0,
                     0,
                     0x8A,
                     kHidStatusSuccess,
                     {"id 25 page FF0B usage 8A..8A link 0"}},
        SpecificCase{
            "UsageOfAnotherType", HidReportType::Input, 0, 0, 0x62, kHidStatusUsageNotFound, {}},
        SpecificCase{
            "OtherUsagePage", HidReportType::Feature, 0x0001, 0, 0x62, kHidStatusUsageNotFound, {}},
        SpecificCase{
            "OtherLinkCollection", HidReportType::Feature, 0, 1, 0x62, kHidStatusUsageNotFound, {}},
        SpecificCase{"InvalidType",
                     static_cast<HidReportType>(3),
                     0,
                     0,
                     0x62,
                     kHidStatusInvalidReportType,
                     {}}),
    CaseName<SpecificCase>);

TEST(ReportDescriptorTest, SpecificValueCapsFindsAUsageInsideARange) {
    const ParsedCollection parsed =
        ParseOne(InVendorCollection({0x19, 0x10, 0x29, 0x1F, 0x75, 0x08, 0x95, 0x10, 0xB1, 0x02}));
    std::vector<HidCapability> out;
    EXPECT_EQ(parsed.GetSpecificValueCaps(HidReportType::Feature, 0, 0, 0x15, out),
              kHidStatusSuccess);
    EXPECT_EQ(Describe(out),
              (std::vector<std::string>{"id 00 page FF00 usage 10..1F range link 0"}));
}

TEST(ReportDescriptorTest, InvalidReportTypeIsRejectedByEveryQuery) {
    const ParsedCollection parsed = ParseOne(kCfuDescriptor);
    const auto invalid = static_cast<HidReportType>(3);
    std::vector<HidCapability> out;
    EXPECT_EQ(parsed.GetValueCaps(invalid, out), kHidStatusInvalidReportType);
    EXPECT_EQ(parsed.GetButtonCaps(invalid, out), kHidStatusInvalidReportType);
}

struct MalformedCase {
    const char* name;
    Bytes bytes;
    std::size_t offset;
    const char* text;
};

class MalformedDescriptorTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedDescriptorTest, GivesNoCollectionAndNamesTheOffset) {
    const MalformedCase& c = GetParam();
    std::string error;
    const std::vector<ParsedCollection> collections =
        ParseReportDescriptor(c.bytes.data(), c.bytes.size(), error);
    EXPECT_TRUE(collections.empty());
    const std::string prefix = "byte " + std::to_string(c.offset) + ": ";
    EXPECT_EQ(error.substr(0, prefix.size()), prefix) << error;
    EXPECT_NE(error.find(c.text), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    ReportDescriptorTest, MalformedDescriptorTest,
    ::testing::Values(
        MalformedCase{"Empty", {}, 0, "no top-level collection"},
        MalformedCase{"OnlyGlobals", {0x05, 0x01, 0x75, 0x08}, 4, "no top-level collection"},
        MalformedCase{"TruncatedItem",
                      {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x26, 0xFF},
                      7,
                      "truncated item"},
        MalformedCase{"TruncatedFourByteItem", {0x0B, 0x01, 0x00, 0x01}, 0, "truncated item"},
        MalformedCase{"TruncatedLongItemHeader", {0xFE, 0x05}, 0, "truncated long item"},
        MalformedCase{"TruncatedLongItemData",
                      {0x09, 0x01, 0xFE, 0x05, 0x00, 0x01, 0x02},
                      2,
                      "truncated long item"},
        MalformedCase{"EndWithoutCollection", Cat({InVendorCollection({}), {0xC0}}), 8,
                      "End Collection without Collection"},
        MalformedCase{"UnclosedCollection",
                      {0x09, 0x01, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0xC0},
                      9,
                      "collection opened at byte 2 is not closed"},
        MalformedCase{"ReportIdZero", InVendorCollection({0x85, 0x00}), 7, "Report ID 0"},
        MalformedCase{"ReportIdAbove255", InVendorCollection({0x86, 0x00, 0x01}), 7,
                      "Report ID 256"},
        MalformedCase{"DataFieldWiderThan32Bits",
                      InVendorCollection({0x75, 0x21, 0x95, 0x01, 0x81, 0x02}), 11,
                      "Report Size 33"},
        MalformedCase{"ReportLongerThan16BitLength",
                      InVendorCollection({0x75, 0x08, 0x96, 0xFF, 0xFF, 0x81, 0x01}), 12,
                      "input report 0 longer than 65534 bytes"},
        MalformedCase{"LargestSizeTimesLargestCount",
                      InVendorCollection({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF,
                                          0xFF, 0xB1, 0x01}),
                      17, "feature report 0 longer"},
        MalformedCase{"PushStackOverflow", Repeat({0xA4}, 17), 16, "Push beyond 16 levels"},
        MalformedCase{"PopWithoutPush", {0x75, 0x08, 0xB4}, 2, "Pop without Push"},
        MalformedCase{"TooManyTopLevelCollections", Repeat({0xA1, 0x01, 0xC0}, 65), 192,
                      "more than 64 top-level collections"},
        MalformedCase{"TooManyNestedCollections", Cat({{0xA1, 0x01}, Repeat({0xA1, 0x00}, 1024)}),
                      2048, "more than 1024 collections"},
        MalformedCase{
            "TooManyCapabilities",
            InVendorCollection(Cat({{0x75, 0x08, 0x95, 0x01}, Repeat({0x81, 0x00}, 4097)})),
            11 + 2 * 4096, "more than 4096 capabilities"},
        MalformedCase{"TooManyUsages", InVendorCollection(Repeat({0x09, 0x01}, 4097)), 7 + 2 * 4096,
                      "more than 4096 usages"}),
    CaseName<MalformedCase>);

}  // namespace
}  // namespace zelk::hid
