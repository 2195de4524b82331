#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "updatelib/image_list.h"

namespace zelk::cfu {
namespace {

using engine::UpdateError;

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t size, std::uint8_t seed = 0) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    // Every whole record says it carries a full block.
    for (std::size_t offset = 0; offset + 57 <= size; offset += 57) {
        bytes[offset + 4] = 52;
    }
    return bytes;
}

// Image files in a directory of their own, removed afterwards.
class ImageListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = std::filesystem::temp_directory_path() /
               ("zelk_image_list_" + std::to_string(random()) + std::to_string(random()));
        ASSERT_TRUE(std::filesystem::create_directories(dir_));
        offer_ = Write("offer", Counting(16));
        payload_ = Write("payload", Counting(2 * 57));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::u16string PathOf(const std::string& name) const { return (dir_ / name).u16string(); }
    std::u16string Write(const std::string& name, const Bytes& bytes) const {
        std::ofstream out(dir_ / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(out.good());
        return PathOf(name);
    }

    std::filesystem::path dir_;
    std::u16string offer_;
    std::u16string payload_;
};

TEST_F(ImageListTest, AddTakesAnImageOnlyWhenBothFilesAreWhole) {
    const std::u16string offer15 = Write("offer15", Counting(15));
    const std::u16string offer17 = Write("offer17", Counting(17));
    const std::u16string emptyPayload = Write("empty", {});
    const std::u16string payload58 = Write("payload58", Counting(58));
    const std::u16string payload570 = Write("payload570", Counting(570, 5));
    Bytes emptyRecord = Counting(2 * 57);
    emptyRecord[57 + 4] = 0;
    const std::u16string noBytes = Write("nobytes", emptyRecord);
    const std::u16string missing = PathOf("missing");
    struct Case {
        const char* name;
        std::u16string_view offer;
        std::u16string_view payload;
        UpdateError result;
        std::uint32_t recordCount;
    };
    const Case cases[] = {
        {"whole", offer_, payload_, UpdateError::Success, 2},
        {"ten records", offer_, payload570, UpdateError::Success, 10},
        {"offer of 15 bytes", offer15, payload_, UpdateError::ImageFileUnusable, 0},
        {"offer of 17 bytes", offer17, payload_, UpdateError::ImageFileUnusable, 0},
        {"missing offer", missing, payload_, UpdateError::ImageFileUnusable, 0},
        {"empty payload", offer_, emptyPayload, UpdateError::ImageFileUnusable, 0},
        {"payload of 58 bytes", offer_, payload58, UpdateError::ImageFileUnusable, 0},
        {"a record of no bytes", offer_, noBytes, UpdateError::ImageFileUnusable, 0},
        {"missing payload", offer_, missing, UpdateError::ImageFileUnusable, 0},
        {"empty paths", u"", u"", UpdateError::ImageFileUnusable, 0},
        {"default views", std::u16string_view{}, std::u16string_view{},
         UpdateError::ImageFileUnusable, 0},
        {"offer as payload", offer_, offer_, UpdateError::ImageFileUnusable, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageList list;
        EXPECT_EQ(list.Add(c.offer, c.payload), c.result);
        ASSERT_EQ(list.Count(), c.result == UpdateError::Success ? 1u : 0u);
        if (c.result == UpdateError::Success) {
            const engine::ImageEntry& entry = *list.Entries()[0];
            EXPECT_EQ(entry.OfferSize, 16u);
            EXPECT_EQ(entry.Offer, Counting(16));
            EXPECT_EQ(entry.RecordCount, c.recordCount);
            EXPECT_EQ(entry.Records.size(), c.recordCount * 57u);
        }
    }
}

TEST_F(ImageListTest, AFailedAddLeavesNoTrace) {
    Bytes tagged = Counting(16);
    tagged[1] = 0x05;
    const std::u16string taggedOffer = Write("tagged", tagged);
    ImageList list;
    ASSERT_EQ(list.Add(offer_, payload_), UpdateError::Success);
    EXPECT_EQ(list.Add(taggedOffer, Write("payload58", Counting(58))),
              UpdateError::ImageFileUnusable);
    EXPECT_EQ(list.Count(), 1u);
    ASSERT_EQ(list.Add(taggedOffer, payload_), UpdateError::Success);
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Entries()[0]->ImageTag(), 7);  // byte 1 of Counting(16)
    EXPECT_EQ(list.Entries()[1]->ImageTag(), 5);
}

TEST_F(ImageListTest, TheTwentyFirstImageIsRefusedWithoutOpeningAFile) {
    ImageList list;
    ASSERT_EQ(list.Start(), UpdateError::Success);
    for (std::size_t i = 0; i < ImageList::kMaxImages; ++i) {
        ASSERT_EQ(list.Add(offer_, payload_), UpdateError::Success) << "image " << i;
    }
    // Missing files: opening them would give 10.
    EXPECT_EQ(list.Add(PathOf("missing"), PathOf("missing")), UpdateError::ImageListFull);
    EXPECT_EQ(list.Add(offer_, payload_), UpdateError::ImageListFull);
    EXPECT_EQ(list.Count(), ImageList::kMaxImages);

    ASSERT_EQ(list.Stop(), UpdateError::Success);
    ASSERT_EQ(list.Start(), UpdateError::Success);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.Add(offer_, payload_), UpdateError::Success);
}

TEST_F(ImageListTest, StartAndStopPairUp) {
    ImageList list;
    EXPECT_EQ(list.Stop(), UpdateError::ImageListNotOpen);
    EXPECT_FALSE(list.Adding());

    ASSERT_EQ(list.Start(), UpdateError::Success);
    EXPECT_TRUE(list.Adding());
    ASSERT_EQ(list.Add(offer_, payload_), UpdateError::Success);
    const std::uint64_t firstGeneration = list.Generation();

    // A second Start keeps the images but always begins a new generation, so
    // that accepted tags are forgotten.
    EXPECT_EQ(list.Start(), UpdateError::ImageListOpen);
    EXPECT_TRUE(list.Adding());
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_NE(list.Generation(), firstGeneration);
    const std::uint64_t secondGeneration = list.Generation();

    EXPECT_EQ(list.Stop(), UpdateError::Success);
    EXPECT_FALSE(list.Adding());
    EXPECT_EQ(list.Stop(), UpdateError::ImageListNotOpen);
    EXPECT_EQ(list.Count(), 1u);

    EXPECT_EQ(list.Generation(), secondGeneration);
    EXPECT_EQ(list.Start(), UpdateError::Success);
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_NE(list.Generation(), secondGeneration);
    EXPECT_NE(list.Generation(), firstGeneration);
}

TEST_F(ImageListTest, AddDoesNotNeedAStart) {
    ImageList list;
    EXPECT_EQ(list.Add(offer_, payload_), UpdateError::Success);
    EXPECT_EQ(list.Count(), 1u);
    EXPECT_FALSE(list.Adding());
    // The next Start begins a fresh list.
    EXPECT_EQ(list.Start(), UpdateError::Success);
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace zelk::cfu
