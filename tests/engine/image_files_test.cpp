#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/image_files.h"

#if __has_include("sample_firmware_paths.h")
#include "sample_firmware_paths.h"
#endif

namespace zelk::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A directory of its own for each test, removed afterwards.
class ImageFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = std::filesystem::temp_directory_path() /
               ("zelk_image_files_" + std::to_string(random()) + std::to_string(random()));
        ASSERT_TRUE(std::filesystem::create_directories(dir_));
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::u16string PathOf(const std::u16string& name) const {
        return (dir_ / std::filesystem::path(name)).u16string();
    }
    std::u16string Write(const std::u16string& name, const Bytes& bytes) const {
        const std::u16string path = PathOf(name);
        std::ofstream out(std::filesystem::path(path), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(out.good());
        return path;
    }

    std::filesystem::path dir_;
};

Bytes Counting(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return bytes;
}

// Counting bytes whose whole records each say they carry `length` bytes.
Bytes Records(std::size_t size, std::uint8_t length = 52) {
    Bytes bytes = Counting(size);
    for (std::size_t offset = 0; offset + kPayloadRecordSize <= size;
         offset += kPayloadRecordSize) {
        bytes[offset + 4] = length;
    }
    return bytes;
}

Bytes OfferWithByte12(std::uint8_t value) {
    Bytes offer = Counting(16);
    offer[12] = value;
    return offer;
}

// An entry already holding another image, to show what each read replaces.
ImageEntry EarlierEntry() {
    ImageEntry entry;
    entry.OfferBank = 2;
    entry.OfferSize = 99;
    entry.Offer = Bytes(16, 0xEE);
    entry.RecordCount = 7;
    entry.Records = Bytes(7 * kPayloadRecordSize, 0xDD);
    return entry;
}

TEST_F(ImageFilesTest, ReadOfferFile) {
    struct Case {
        const char* name;
        std::optional<Bytes> file;  // nullopt: no file at all
        std::int32_t result;
        std::uint32_t offerSize;  // 99: left as it was
        std::uint32_t bank;       // 2 with the earlier offer left in place
    };
    const Case cases[] = {
        {"missing", std::nullopt, -1, 99, 2},
        {"empty", Bytes{}, -2, 99, 2},
        {"15 bytes", Counting(15), -1, 15, 2},
        {"17 bytes", Counting(17), -1, 17, 2},
        {"bank 3", OfferWithByte12(0x34), 0, 16, 3},
        {"bank 1", OfferWithByte12(0x14), 0, 16, 1},
        {"bank 0", OfferWithByte12(0x04), 0, 16, 0},
        {"bits 6-7 are not the bank", OfferWithByte12(0xC4), 0, 16, 0},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string name =
            u"offer" + std::u16string(1, static_cast<char16_t>(u'a' + index++));
        const std::u16string path = c.file ? Write(name, *c.file) : PathOf(name);
        ImageEntry entry = EarlierEntry();
        EXPECT_EQ(ReadOfferFile(entry, path), c.result);
        EXPECT_EQ(entry.OfferSize, c.offerSize);
        EXPECT_EQ(entry.OfferBank, c.bank);
        EXPECT_EQ(entry.Offer, c.result == 0 ? *c.file : EarlierEntry().Offer);
        EXPECT_EQ(entry.RecordCount, 7u);
    }
}

TEST_F(ImageFilesTest, ReadPayloadFile) {
    struct Case {
        const char* name;
        std::optional<Bytes> file;
        std::int32_t result;
        std::uint32_t recordCount;  // 7: left as it was
    };
    const Case cases[] = {
        {"missing", std::nullopt, -1, 7},
        {"empty", Bytes{}, -2, 7},
        {"one record", Records(57), 0, 1},
        {"one record and a byte", Records(58), -2, 1},
        {"two records less a byte", Records(113), -2, 1},
        {"ten records", Records(570), 0, 10},
        {"a record of one byte", Records(57, 1), 0, 1},
        {"a record of no bytes", Records(114, 0), kBadRecordLength, 2},
        {"a record of 53 bytes", Records(57, 53), kBadRecordLength, 1},
        {"a record of 255 bytes", Records(57, 255), kBadRecordLength, 1},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string name =
            u"payload" + std::u16string(1, static_cast<char16_t>(u'a' + index++));
        const std::u16string path = c.file ? Write(name, *c.file) : PathOf(name);
        ImageEntry entry = EarlierEntry();
        EXPECT_EQ(ReadPayloadFile(entry, path), c.result);
        EXPECT_EQ(entry.RecordCount, c.recordCount);
        EXPECT_EQ(entry.Records, c.result == 0 ? *c.file : EarlierEntry().Records);
        EXPECT_EQ(entry.OfferSize, 99u);
    }
}

TEST_F(ImageFilesTest, RecordsReadBackFieldByField) {
    Bytes payload = Records(2 * kPayloadRecordSize);
    payload[57 + 0] = 0x78;  // second record: address 0x12345678, length 0x2A
    payload[57 + 1] = 0x56;
    payload[57 + 2] = 0x34;
    payload[57 + 3] = 0x12;
    payload[57 + 4] = 0x2A;
    ImageEntry entry;
    ASSERT_EQ(ReadPayloadFile(entry, Write(u"payload", payload)), 0);
    EXPECT_EQ(RecordAddress(entry.RecordAt(1)), 0x12345678u);
    EXPECT_EQ(RecordLength(entry.RecordAt(1)), 0x2A);
    EXPECT_EQ(RecordData(entry.RecordAt(1))[0], payload[57 + 5]);
    EXPECT_EQ(RecordData(entry.RecordAt(1))[51], payload[113]);
}

TEST_F(ImageFilesTest, PathsOutsideAsciiWork) {
    // Latin-1, CJK and a character outside the basic plane (a surrogate pair).
    const std::u16string sub = u"gr\u00F6\u00DFe \u30D5\u30A1\u30FC\u30E0 \U0001F600";
    ASSERT_TRUE(std::filesystem::create_directory(dir_ / std::filesystem::path(sub)));
    const Bytes offer = OfferWithByte12(0x14);
    const Bytes payload = Records(3 * kPayloadRecordSize);
    ImageEntry entry;
    EXPECT_EQ(ReadOfferFile(entry, Write(sub + u"/\u00E9.offer.bin", offer)), 0);
    EXPECT_EQ(ReadPayloadFile(entry, Write(sub + u"/\u00E9.payload.bin", payload)), 0);
    EXPECT_EQ(entry.Offer, offer);
    EXPECT_EQ(entry.OfferBank, 1u);
    EXPECT_EQ(entry.Records, payload);
}

TEST_F(ImageFilesTest, UnreadablePathsFailCleanly) {
    const std::u16string directory = dir_.u16string();
    const std::u16string paths[] = {
        directory, u"",
        std::u16string(1, static_cast<char16_t>(0xD800)),  // a lone surrogate does not convert
    };
    for (const std::u16string& path : paths) {
        Bytes bytes{1, 2, 3};
        EXPECT_EQ(ReadWholeFile(path, bytes), -1);
        EXPECT_EQ(bytes, (Bytes{1, 2, 3}));
        ImageEntry entry = EarlierEntry();
        EXPECT_EQ(ReadOfferFile(entry, path), -1);
        EXPECT_EQ(ReadPayloadFile(entry, path), -1);
        EXPECT_EQ(entry.OfferSize, 99u);
        EXPECT_EQ(entry.RecordCount, 7u);
    }
}

TEST_F(ImageFilesTest, FilesOf4GiBAreRefusedNotTruncated) {
    const std::u16string path = Write(u"huge", {});
    std::error_code ec;
    // Sparse on the usual temp file systems: no disk space is used.
    std::filesystem::resize_file(std::filesystem::path(path), 0x100000000ull, ec);
    if (ec) {
        GTEST_SKIP() << "cannot make a 4 GiB sparse file here: " << ec.message();
    }
    Bytes bytes;
    EXPECT_EQ(ReadWholeFile(path, bytes), -1);
    EXPECT_TRUE(bytes.empty());
}

TEST(ReadExactly, AShortReadFailsInsteadOfPadding) {
    std::istringstream in(std::string("0123456789"));
    Bytes bytes{9};
    EXPECT_EQ(ReadExactly(in, 11, bytes), -3);
    EXPECT_EQ(bytes, Bytes{9});

    std::istringstream whole(std::string("0123456789"));
    EXPECT_EQ(ReadExactly(whole, 10, bytes), 0);
    EXPECT_EQ(bytes, (Bytes{'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

#ifdef ZELK_SAMPLE_OFFER
TEST(SampleFirmware, ReadsAsOneImageOf3705Records) {
    ImageEntry entry;
    ASSERT_EQ(ReadOfferFile(entry, std::filesystem::path(ZELK_SAMPLE_OFFER).u16string()), 0);
    ASSERT_EQ(ReadPayloadFile(entry, std::filesystem::path(ZELK_SAMPLE_PAYLOAD).u16string()), 0);
    EXPECT_EQ(entry.Offer,
              (Bytes{0x00, 0x00, 0x0F, 0x00, 0x01, 0x40, 0x00, 0x10, 0, 0, 0, 0, 0x04, 0, 0, 0}));
    EXPECT_EQ(entry.OfferBank, 0u);
    EXPECT_EQ(entry.ImageTag(), 0);
    ASSERT_EQ(entry.RecordCount, 3705u);
    ASSERT_EQ(entry.Records.size(), 211185u);
    for (std::uint32_t i = 0; i < entry.RecordCount; ++i) {
        const std::uint8_t* record = entry.RecordAt(i);
        ASSERT_EQ(RecordAddress(record), 52u * i) << "record " << i;
        ASSERT_EQ(RecordLength(record), 52) << "record " << i;
        // Neighbouring blocks differ, so one sent out of place would show.
        if (i > 0) {
            ASSERT_FALSE(std::equal(RecordData(record), RecordData(record) + kPayloadDataSize,
                                    RecordData(entry.RecordAt(i - 1))))
                << "record " << i;
        }
    }
}
#else
TEST(SampleFirmware, ReadsAsOneImageOf3705Records) {
    GTEST_SKIP() << "the sample firmware is generated only in host builds";
}
#endif

}  // namespace
}  // namespace zelk::engine
