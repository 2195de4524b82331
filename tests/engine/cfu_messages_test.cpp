#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "engine/cfu_messages.h"
#include "engine/image_entry.h"

namespace zelk::engine {
namespace {

TEST(CfuMessages, VersionResponseDecodesEverySlot) {
    VersionResponse response{};
    response[0] = 0x20;
    response[1] = 2;
    response[4] = 0x02;
    // Slot 0: version 0x10003001, bank 2, bud role 1, component 0x0F, extra bits.
    const std::uint8_t slot0[8] = {0x01, 0x30, 0x00, 0x10, 0x06, 0x0F, 0xAB, 0xCD};
    std::copy(std::begin(slot0), std::end(slot0), response.begin() + 5);
    // Slot 6 (the last one, bytes 53..60).
    const std::uint8_t slot6[8] = {0x78, 0x56, 0x34, 0x12, 0x0F, 0xA1, 0x00, 0x00};
    std::copy(std::begin(slot6), std::end(slot6), response.begin() + 53);

    const DecodedVersionResponse decoded = DecodeVersionResponse(response);
    EXPECT_EQ(decoded.ComponentCount, 2);
    EXPECT_EQ(decoded.ProtocolFlags, 0x02);
    EXPECT_EQ(decoded.Components[0].Version, 0x10003001u);
    EXPECT_EQ(decoded.Components[0].Info, 0xCDAB0F06u);
    EXPECT_EQ(decoded.Components[0].CurrentBank, 2);
    EXPECT_EQ(decoded.Components[0].BudRole, 1);
    EXPECT_EQ(decoded.Components[0].ComponentId, 0x0F);
    EXPECT_EQ(decoded.Components[6].Version, 0x12345678u);
    EXPECT_EQ(decoded.Components[6].CurrentBank, 3);
    EXPECT_EQ(decoded.Components[6].BudRole, 3);
    EXPECT_EQ(decoded.Components[6].ComponentId, 0xA1);
    EXPECT_EQ(FirstComponentId(response), 0x0F);
    EXPECT_EQ(FirstComponentBank(response), 2);
}

TEST(CfuMessages, VersionResponseIsValidWhenTheFirstSlotCarriesAnything) {
    VersionResponse response{};
    response[1] = 1;
    response[4] = 0xFF;
    response[13] = 0x55;  // second slot: does not count
    EXPECT_FALSE(IsVersionResponseValid(response));
    for (std::size_t at = 5; at <= 12; ++at) {
        VersionResponse one = response;
        one[at] = 1;
        EXPECT_TRUE(IsVersionResponseValid(one)) << at;
    }
}

TEST(CfuMessages, OfferOptionsForceOnlyTheirThreeBits) {
    struct Case {
        UpdateOptions options;
        std::uint8_t byte1In, byte10In, byte1Out, byte10Out;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 0xC5, 0xFF, 0x05, 0xFB}, {{1, 0, 0, 0}, 0x05, 0x00, 0x85, 0x00},
        {{0, 1, 0, 1}, 0x85, 0x00, 0x45, 0x00}, {{1, 1, 1, 0}, 0x3F, 0x00, 0xFF, 0x04},
        {{0, 0, 1, 0}, 0xFF, 0xFB, 0x3F, 0xFF},
    };
    for (const Case& c : cases) {
        OfferBody offer{};
        for (std::size_t i = 0; i < offer.size(); ++i) {
            offer[i] = static_cast<std::uint8_t>(0x10 + i);
        }
        offer[1] = c.byte1In;
        offer[10] = c.byte10In;
        OfferBody expected = offer;
        expected[1] = c.byte1Out;
        expected[10] = c.byte10Out;
        ApplyOfferOptions(offer, c.options);
        EXPECT_EQ(offer, expected) << std::hex << int{c.byte1In} << " " << int{c.byte10In};
    }
}

TEST(CfuMessages, CommandsRefuseReportsTooShortAndWriteNothing) {
    OfferBody offer{};
    offer.fill(0x11);
    std::vector<std::uint8_t> out(80, 0xEE);
    EXPECT_FALSE(BuildOfferCommand(offer, 0x23, out.data(), 16));
    EXPECT_EQ(out, std::vector<std::uint8_t>(80, 0xEE));
    ASSERT_TRUE(BuildOfferCommand(offer, 0x23, out.data(), 17));
    EXPECT_EQ(out[0], 0x23);
    EXPECT_EQ(out[16], 0x11);
    EXPECT_EQ(out[17], 0xEE);  // nothing past the report

    std::array<std::uint8_t, kPayloadRecordSize> record{};
    record.fill(0x22);
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_FALSE(BuildContentCommand(record.data(), ContentBlock{}, 0x21, out.data(), 60));
    EXPECT_EQ(out, std::vector<std::uint8_t>(80, 0xEE));
    ASSERT_TRUE(BuildContentCommand(record.data(), ContentBlock{}, 0x21, out.data(), 64));
    EXPECT_EQ(out[60], 0x22);
    EXPECT_EQ(out[61], 0x00);  // zero-filled to the report's end
    EXPECT_EQ(out[64], 0xEE);
}

TEST(CfuMessages, ContentCommandCarriesTheRecordAsIs) {
    std::array<std::uint8_t, kPayloadRecordSize> record{};
    // Address 0x00000FFF below the base: the offset wraps as the device reads it.
    record[0] = 0xFF;
    record[1] = 0x0F;
    record[4] = 0xC8;  // a length byte beyond 52 goes out unchanged
    for (std::size_t i = 0; i < kPayloadDataSize; ++i) {
        record[5 + i] = static_cast<std::uint8_t>(i + 1);
    }
    ContentBlock block;
    block.Flags = 0x40;
    block.SequenceNumber = 0xBEEF;
    block.BaseAddress = 0x1000;
    std::array<std::uint8_t, 61> out{};
    ASSERT_TRUE(BuildContentCommand(record.data(), block, 0x21, out.data(), out.size()));
    const std::array<std::uint8_t, 9> header = {0x21, 0x40, 0xC8, 0xEF, 0xBE,
                                                0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), out.begin()));
    EXPECT_TRUE(std::equal(record.begin() + 5, record.end(), out.begin() + 9));
}

TEST(CfuMessages, ContentFlagsMarkFirstAndLastRecord) {
    struct Case {
        std::size_t index, count;
        std::uint8_t flags;
    };
    // A one-record image is a whole image: its block is both first and last.
    const Case cases[] = {{0, 1, 0xC0},   {0, 2, 0x80},  {1, 2, 0x40},        {0, 3, 0x80},
                          {1, 3, 0x00},   {2, 3, 0x40},  {5, 900, 0x00},      {97, 98, 0x40},
                          {98, 99, 0x40}, {0, 99, 0x80}, {65536, 70000, 0x00}};
    for (const Case& c : cases) {
        EXPECT_EQ(ContentFlags(c.index, c.count), c.flags) << c.index << " of " << c.count;
    }
}

TEST(CfuMessages, AnswersAreToldApartByReportIdAndNeedTheirFields) {
    std::array<std::uint8_t, 17> report{};
    report[0] = 0x24;
    report[1] = 0x34;
    report[2] = 0x12;
    report[5] = 0x02;
    report[13] = 0x03;
    EXPECT_EQ(ClassifyInputReport(report.data(), report.size(), 0x24, 0x22),
              InputReportKind::OfferResponse);
    EXPECT_EQ(ClassifyInputReport(report.data(), report.size(), 0x25, 0x24),
              InputReportKind::ContentResponse);
    EXPECT_EQ(ClassifyInputReport(report.data(), report.size(), 0x24, 0x24),
              InputReportKind::OfferResponse);
    EXPECT_EQ(ClassifyInputReport(report.data(), report.size(), 0x21, 0x22),
              InputReportKind::Other);
    EXPECT_EQ(ClassifyInputReport(report.data(), 0, 0x24, 0x22), InputReportKind::Other);

    std::uint8_t status = 0;
    EXPECT_FALSE(ParseOfferResponse(report.data(), 13, status));
    ASSERT_TRUE(ParseOfferResponse(report.data(), 14, status));
    EXPECT_EQ(status, 0x03);

    ContentAnswer answer;
    EXPECT_FALSE(ParseContentResponse(report.data(), 5, answer));
    ASSERT_TRUE(ParseContentResponse(report.data(), 6, answer));
    EXPECT_EQ(answer.SequenceNumber, 0x1234);
    EXPECT_EQ(answer.Status, 0x02);
}

}  // namespace
}  // namespace zelk::engine
