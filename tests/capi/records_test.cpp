// The C records and the library's own types: what the translation keeps,
// and which byte values count as a switch that is on.
#include "capi/records.h"

#include <gtest/gtest.h>

#include <cstring>

#include "updatelib/update_config.h"

namespace zelk::capi {
namespace {

// The C interface takes any byte but 0 as "on"; the library sees a bool.
TEST(Records, AnyNonZeroOptionByteIsOn) {
    struct Case {
        UpdateOptions record;
        bool ignoreVersion, immediateReset, vendorFlag, longWait;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, false, false, false, false},
        {{1, 0, 0, 1}, true, false, false, true},
        {{2, 7, 9, 0}, true, true, true, false},
        {{0xFF, 0, 0x80, 0x10}, true, false, true, true},
    };
    for (const Case& c : cases) {
        const engine::UpdateOptions options = FromRecord(c.record);
        EXPECT_EQ(options.ForceIgnoreVersion, c.ignoreVersion);
        EXPECT_EQ(options.ForceImmediateReset, c.immediateReset);
        EXPECT_EQ(options.OfferVendorFlag, c.vendorFlag);
        EXPECT_EQ(options.LongResponseWait, c.longWait);
    }
}

TEST(Records, AConfigurationComesBackAsItWasGivenApartFromTheReservedBytes) {
    UpdateConfig given = ToRecord(cfu::DefaultUpdateConfig());
    given.ProductId = 0x5055;
    given.CheckReportCaps = 1;
    given.OfferReport.ReportId = 0x23;
    given.OfferReport.ReportLength = 61;
    given.ContentResponseReport.ReportType = 7;  // not a report type: kept as it is
    UpdateConfig back = ToRecord(FromRecord(given));
    EXPECT_EQ(std::memcmp(&back, &given, sizeof given), 0);

    given.Reserved[0] = 0xAA;
    back = ToRecord(FromRecord(given));
    EXPECT_EQ(back.Reserved[0], 0);
}

TEST(Records, ProgressKeepsItsStatusNumbers) {
    struct Case {
        engine::TransferStatus status;
        std::uint32_t number;
    };
    const Case cases[] = {
        {engine::TransferStatus::Fine, 0},
        {engine::TransferStatus::ContentFailed, 10},
        {engine::TransferStatus::SequenceMismatch, 11},
        {engine::TransferStatus::WriteError, 12},
        {engine::TransferStatus::NoResponse, 13},
    };
    for (const Case& c : cases) {
        const UpdateStatus status = ToRecord(engine::UpdateProgress{42, c.status, 3});
        EXPECT_EQ(status.Percentage, 42);
        EXPECT_EQ(std::uint32_t{status.Status}, c.number);
        EXPECT_EQ(std::uint16_t{status.ImageTag}, 3);
    }
}

// Byte 0 and everything after the last component keep the caller's bytes.
TEST(Records, TheDescriptionWritesOnlyItsOwnBytes) {
    cfu::DeviceComponents components;
    components.ComponentCount = 9;  // as the device said; only what was read follows
    components.Reserved[0] = 0x11;
    components.Reserved[1] = 0x22;
    components.ProtocolFlags = 0x02;
    components.Components.push_back({{1, 2, 3, 4}, 0x0F04});
    DeviceDescription description;
    std::memset(&description, 0xAB, sizeof description);
    WriteDescription(components, description);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&description);
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(description.ComponentCount, 9);
    EXPECT_EQ(description.Reserved[0], 0x11);
    EXPECT_EQ(description.Reserved[1], 0x22);
    EXPECT_EQ(description.ProtocolFlags, 0x02);
    EXPECT_EQ(std::uint32_t{description.Components[0].VersionPart1}, 1u);
    EXPECT_EQ(std::uint32_t{description.Components[0].VersionPart3}, 3u);
    EXPECT_EQ(std::uint32_t{description.Components[0].VersionPart4}, 4u);
    EXPECT_EQ(std::uint32_t{description.Components[0].ComponentInfo}, 0x0F04u);
    EXPECT_EQ(bytes[offsetof(DeviceDescription, Components) + sizeof(ComponentEntry)], 0xAB);
}

}  // namespace
}  // namespace zelk::capi
