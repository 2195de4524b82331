#include "app/package/resource_bundle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelk::app {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A program whose bytes hold the trailer's magic, as a reader's constant would.
Bytes Program() {
    return Text(
        "\x7f"
        "ELF....ZELKPACK....program text....");
}

std::vector<BundleEntry> Package() {
    return {
        {u"FIRE_WARE", 139, Bytes(16, 0xA5)},
        {u"FIRE_WARE2", 140, Bytes(57 * 3, 0x3C)},
        {u"FIRE_DEVICEINFO", 141, Text("0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n")},
    };
}

Bytes Packaged(const Bytes& program, const std::vector<BundleEntry>& entries) {
    const auto bytes = WriteBundle(program, entries);
    EXPECT_TRUE(bytes.has_value());
    return bytes.value_or(Bytes{});
}

void PutLe32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Writes a fresh CRC-32 over the bundle that starts at `start`, so that a
// test can alter sizes and names while the digest still holds.
void Reseal(Bytes& file, std::size_t start) {
    const std::size_t crcAt = file.size() - 12;
    const std::span<const std::uint8_t> digested(file.data() + start, crcAt - start);
    PutLe32(file, crcAt, Crc32(digested));
}

TEST(ResourceBundleTest, Crc32MatchesTheCheckValue) {
    EXPECT_EQ(Crc32(Text("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32(Bytes{}), 0u);
    const Bytes whole = Text("split in two parts");
    EXPECT_EQ(Crc32(std::span(whole).subspan(5), Crc32(std::span(whole).first(5))), Crc32(whole));
}

TEST(ResourceBundleTest, RoundTripKeepsProgramEntriesAndOrder) {
    std::vector<BundleEntry> entries = Package();
    entries.push_back({u"\u56FA\u4EF6", 7, Text("named in Chinese")});          // UTF-8
    entries.push_back({std::u16string(1, u'\xD800') + u"X", 8, Text("lone")});  // UTF-16LE
    const Bytes program = Program();
    const Bytes file = Packaged(program, entries);

    const BundleReadResult read = ReadBundle(file);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.status, BundleStatus::Ok);
    EXPECT_EQ(read.entries, entries);
    EXPECT_EQ(read.executableSize, program.size());
    const auto stripped = StripBundle(file);
    EXPECT_EQ(Bytes(stripped.begin(), stripped.end()), program);
}

TEST(ResourceBundleTest, EmptyProgramAndEmptyPackageRoundTrip) {
    const Bytes file = Packaged({}, {});
    EXPECT_EQ(file.size(), kBundleTrailerSize);
    const BundleReadResult read = ReadBundle(file);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_TRUE(read.entries.empty());
    EXPECT_EQ(read.executableSize, 0u);
}

TEST(ResourceBundleTest, PackagingAPackagedFileReplacesItsPackage) {
    const Bytes first = Packaged(Program(), Package());
    const std::vector<BundleEntry> second{{u"FIRE_WARE", 139, Bytes(16, 0x11)}};
    const Bytes again =
        Packaged(Bytes(StripBundle(first).begin(), StripBundle(first).end()), second);
    const BundleReadResult read = ReadBundle(again);
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.entries, second);
    EXPECT_EQ(again.size(), Packaged(Program(), second).size());
}

// The layout that docs/embedded-package.md describes, byte for byte.
TEST(ResourceBundleTest, LayoutIsTheDocumentedOne) {
    const Bytes file = Packaged(Text("P"), {{u"AB", 0x01020304, Bytes{0xEE}}});
    const Bytes entry{0x01, 0x00, 0x02, 0x00, 0x04, 0x03, 0x02, 0x01,
                      0x01, 0x00, 0x00, 0x00, 'A',  'B',  0xEE};
    ASSERT_EQ(file.size(), 1 + entry.size() + kBundleTrailerSize);
    EXPECT_EQ(Bytes(file.begin() + 1, file.begin() + 16), entry);
    const std::size_t t = 16;  // the trailer
    const Bytes fields{0x01, 0, 0, 0, 0x01, 0, 0, 0, 47, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(file.begin() + t, file.begin() + t + 20), fields);
    const std::uint32_t crc = Crc32(std::span(file).subspan(1, 15 + 20));
    EXPECT_EQ(file[t + 20], static_cast<std::uint8_t>(crc));
    EXPECT_EQ(file[t + 23], static_cast<std::uint8_t>(crc >> 24));
    EXPECT_EQ(std::string(file.begin() + t + 24, file.end()), "ZELKPACK");

    // A name that is no valid UTF-16 text is stored as UTF-16LE.
    const Bytes wide = Packaged({}, {{std::u16string(1, u'\xDC00'), 1, Bytes{1}}});
    EXPECT_EQ(wide[0], 0x02);
    EXPECT_EQ(wide[2], 0x02);  // two bytes of name
    EXPECT_EQ(wide[12], 0x00);
    EXPECT_EQ(wide[13], 0xDC);
}

TEST(ResourceBundleTest, WriterRefusesWhatTheFormatCannotHold) {
    const std::vector<std::vector<BundleEntry>> refused{
        {{u"", 1, Bytes{1}}},
        {{std::u16string(kBundleMaxTypeBytes + 1, u'A'), 1, Bytes{1}}},
        {{std::u16string(kBundleMaxTypeBytes / 2, u'\u00E9') + u"x", 1, Bytes{1}}},  // 1025 bytes
        {{u"FIRE_WARE", 139, Bytes{1}}, {u"fire_ware", 139, Bytes{2}}},
    };
    for (std::size_t i = 0; i < refused.size(); ++i) {
        EXPECT_FALSE(WriteBundle(Program(), refused[i]).has_value()) << "case " << i;
    }
    EXPECT_TRUE(WriteBundle(Program(), {{std::u16string(kBundleMaxTypeBytes, u'A'), 1, Bytes{}},
                                        {u"FIRE_WARE", 140, Bytes{}}})
                    .has_value());
}

TEST(ResourceBundleTest, TypeNamesCompareWithoutCaseLikeWindows) {
    EXPECT_TRUE(SameResourceType(u"fire_ware", u"FIRE_WARE"));
    EXPECT_FALSE(SameResourceType(u"FIRE_WARE", u"FIRE_WARE2"));
    EXPECT_FALSE(SameResourceType(u"\u00E9", u"\u00C9"));  // only ASCII folds
}

struct Damage {
    const char* name;
    BundleStatus expected;
    // Changes a packaged file; `start` is where its bundle begins.
    void (*apply)(Bytes& file, std::size_t start);
};

// Offsets of the three entries' fields, for the package above.
constexpr std::size_t kFirstEntry = 0;
constexpr std::size_t kFirstData = kBundleEntryHeaderSize + 9;  // after "FIRE_WARE"

const Damage kDamages[] = {
    {"last byte cut off", BundleStatus::NoBundle, [](Bytes& f, std::size_t) { f.pop_back(); }},
    {"half the package cut off", BundleStatus::NoBundle,
     [](Bytes& f, std::size_t s) { f.resize(s + (f.size() - s) / 2); }},
    {"shorter than a trailer", BundleStatus::NoBundle,
     [](Bytes& f, std::size_t) {
         f.erase(f.begin(), f.end() - static_cast<std::ptrdiff_t>(kBundleTrailerSize - 1));
     }},
    {"program and package start cut off", BundleStatus::Truncated,
     [](Bytes& f, std::size_t s) {
         f.erase(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(s + 5));
     }},
    {"bundle size beyond any file", BundleStatus::Truncated,
     [](Bytes& f, std::size_t) {
         PutLe32(f, f.size() - 24, 0xFFFFFFFFu);
         PutLe32(f, f.size() - 20, 0xFFFFFFFFu);
     }},
    {"offer byte flipped", BundleStatus::DigestMismatch,
     [](Bytes& f, std::size_t s) { f[s + kFirstData] ^= 0x01; }},
    {"type name byte flipped", BundleStatus::DigestMismatch,
     [](Bytes& f, std::size_t s) { f[s + kBundleEntryHeaderSize] ^= 0x20; }},
    {"entry count flipped", BundleStatus::DigestMismatch,
     [](Bytes& f, std::size_t) { f[f.size() - 28] ^= 0x01; }},
    {"digest flipped", BundleStatus::DigestMismatch,
     [](Bytes& f, std::size_t) { f[f.size() - 12] ^= 0x80; }},
    {"byte appended", BundleStatus::NoBundle, [](Bytes& f, std::size_t) { f.push_back(0); }},
    {"newer format", BundleStatus::UnsupportedVersion,
     [](Bytes& f, std::size_t) { PutLe32(f, f.size() - 32, 2); }},
    // Sealed again: the digest holds, the contents do not add up.
    {"count one too many", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         PutLe32(f, f.size() - 28, 4);
         Reseal(f, s);
     }},
    {"count one too few", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         PutLe32(f, f.size() - 28, 2);
         Reseal(f, s);
     }},
    {"count that no size can hold", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         PutLe32(f, f.size() - 28, 0xFFFFFFFFu);
         Reseal(f, s);
     }},
    {"entry size one larger", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         PutLe32(f, s + kFirstEntry + 8, 17);
         Reseal(f, s);
     }},
    {"entry size past the end", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         PutLe32(f, s + kFirstEntry + 8, 0xFFFFFFF0u);
         Reseal(f, s);
     }},
    {"empty type name", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[s + 2] = 0;
         f[s + 3] = 0;
         Reseal(f, s);
     }},
    {"unknown name encoding", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[s] = 3;
         Reseal(f, s);
     }},
    {"odd UTF-16 name", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[s] = 2;
         Reseal(f, s);
     }},  // "FIRE_WARE" is 9 bytes
    {"name not UTF-8", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[s + kBundleEntryHeaderSize] = 0xC0;
         Reseal(f, s);
     }},
    {"entry reserved byte set", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[s + 1] = 1;
         Reseal(f, s);
     }},
    {"trailer reserved field set", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         f[f.size() - 16] = 1;
         Reseal(f, s);
     }},
    {"bundle size below a trailer", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t) { PutLe32(f, f.size() - 24, 31); }},
    {"same type and id twice", BundleStatus::Inconsistent,
     [](Bytes& f, std::size_t s) {
         // The payload entry becomes a second "FIRE_WARE" 139.
         const std::size_t second = s + kFirstData + 16;
         PutLe32(f, second + 4, 139);
         f[second + 2] = 9;  // "FIRE_WARE" without the "2"; the "2" joins the data
         PutLe32(f, second + 8, 57 * 3 + 1);
         Reseal(f, s);
     }},
};

TEST(ResourceBundleTest, EveryKindOfDamageIsDetected) {
    const Bytes program = Program();
    const Bytes good = Packaged(program, Package());
    for (const Damage& damage : kDamages) {
        Bytes file = good;
        damage.apply(file, program.size());
        // An exact-size copy: a read past its end shows under the sanitizers.
        const Bytes exact(file.begin(), file.end());
        const BundleReadResult read = ReadBundle(exact);
        EXPECT_FALSE(read.ok) << damage.name;
        EXPECT_EQ(read.status, damage.expected) << damage.name << ": " << read.error;
        EXPECT_TRUE(read.entries.empty()) << damage.name;
        EXPECT_FALSE(read.error.empty()) << damage.name;
        if (damage.expected == BundleStatus::NoBundle) {
            EXPECT_EQ(read.executableSize, exact.size()) << damage.name;
        }
        // Nothing is cut from a file whose package is not intact.
        EXPECT_EQ(StripBundle(exact).size(), exact.size()) << damage.name;
    }
}

}  // namespace
}  // namespace zelk::app
