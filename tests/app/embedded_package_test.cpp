#include "app/run/embedded_package.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/dialog/main_dialog.h"
#include "app/platform/platform.h"
#include "app/run/run_inputs.h"
#include "app/text/text_encoding.h"
#include "tests/app/recording_desktop.h"

namespace zelk::app {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr char kShippedDeviceInfo[] = "0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n";
constexpr char kNotFoundText[] =
    "can't find the user define resource\xEF\xBC\x8Cplease check code\n";
constexpr char kUnusableText[] = "the resource user defined is error,please check resource\n";

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// What the dialog does with the file at start: its texts into the edits and
// the box, its identity for the run; nothing when it cannot be read.
void LoadIntoDialog(RecordingDesktop& desktop, const PackagePaths& paths,
                    DeviceIdentity& identity) {
    if (const auto info = ReadDeviceInfo(desktop, paths)) {
        ShowDeviceInfo(desktop, *info);
        identity = info->identity;
    }
}

// A temporary directory of its own for each test, as the desktop's
// TempDirectory() gives it: ending in a separator.
class EmbeddedPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::random_device random;
        dir_ = fs::temp_directory_path() /
               ("zelk_package_" + std::to_string(random()) + std::to_string(random()));
        ASSERT_TRUE(fs::create_directories(dir_));
        desktop_.tempDirectory = (dir_ / "").u16string();
        desktop_.resources[{u"FIRE_WARE", 139}] = offer_;
        desktop_.resources[{u"FIRE_WARE2", 140}] = payload_;
        desktop_.resources[{u"FIRE_DEVICEINFO", 141}] = Text(kShippedDeviceInfo);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::u16string In(const char16_t* name) const { return desktop_.tempDirectory + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // Every log line, which must all be red.
    std::u16string RedLog() {
        std::u16string text;
        for (const auto& entry : desktop_.Log()) {
            EXPECT_EQ(entry.colour, kRed);
            text += entry.text;
        }
        return text;
    }

    fs::path dir_;
    RecordingDesktop desktop_;
    const Bytes offer_ = Bytes(16, 0x5A);
    const Bytes payload_ = Bytes(57 * 4, 0xC3);
};

struct NumberCase {
    const char16_t* text;
    int bits;
    std::uint32_t expected;
};

TEST(DeviceInfoNumberTest, ParsesAsTheFileFormatReadsIt) {
    const NumberCase cases[] = {
        {u"0x320f", 16, 0x320F}, {u"12815", 16, 0x320F}, {u"0X320F", 16, 0},
        {u" 0x320f", 16, 0},     {u"320f", 16, 320},     {u"0x1ffff", 16, 0xFFFF},
        {u"0x102", 8, 0x02},     {u"-1", 16, 0xFFFF},    {u"", 16, 0},
        {u"0x", 16, 0},          {u"  \t42abc", 16, 42}, {u"+7", 16, 7},
        {u"0x-5", 16, 0},        {u"-0x5", 16, 0},       {u"0xFFfe", 16, 0xFFFE},
        {u"0x02\r", 8, 2},       {u"\uFF11", 16, 0},  // a full-width digit is no digit
    };
    for (const NumberCase& c : cases) {
        const std::int64_t value = ParseDeviceInfoNumber(c.text);
        const std::uint32_t cut = c.bits == 8 ? Low8(value) : Low16(value);
        EXPECT_EQ(cut, c.expected) << "\"" << Utf16ToUtf8(c.text) << "\" in " << c.bits << " bits";
    }
}

TEST(DeviceInfoNumberTest, TheHideWindowLineIsDecimalOnly) {
    EXPECT_EQ(ParseDeviceInfoDecimal(u"0x1"), 0);
    EXPECT_EQ(ParseDeviceInfoDecimal(u" 1"), 1);
    EXPECT_EQ(ParseDeviceInfoDecimal(u"-1"), -1);
    EXPECT_EQ(ParseDeviceInfoDecimal(u"10x"), 10);
}

TEST(DeviceInfoNumberTest, OverflowSaturatesAtThirtyTwoBitLimits) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    EXPECT_EQ(ParseDeviceInfoNumber(u"2147483647"), kMax);
    EXPECT_EQ(ParseDeviceInfoNumber(u"2147483648"), kMax);
    EXPECT_EQ(ParseDeviceInfoNumber(u"-2147483648"), kMin);
    EXPECT_EQ(ParseDeviceInfoNumber(u"-99999999999999999999999"), kMin);
    EXPECT_EQ(ParseDeviceInfoNumber(u"0x7fffffff"), kMax);
    EXPECT_EQ(ParseDeviceInfoNumber(u"0x123456789"), kMax);
    EXPECT_EQ(Low16(ParseDeviceInfoNumber(u"0x123456789")), 0xFFFF);
    EXPECT_EQ(Low16(ParseDeviceInfoNumber(u"-99999999999")), 0x0000);
}

TEST_F(EmbeddedPackageTest, ShippedDeviceInfoFillsFieldsAndIdentity) {
    WriteFile(dir_ / "DeviceInfo.txt", kShippedDeviceInfo);
    desktop_.SetChecked(control::kHideWindow, true);
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, PackagePaths{}, identity);

    EXPECT_EQ(identity.VendorId, 0x320F);
    EXPECT_EQ(identity.ProductId, 0x5055);
    EXPECT_EQ(identity.UsagePage, 0xFF0B);
    EXPECT_EQ(identity.Usage, 0x0104);
    EXPECT_EQ(identity.MiValue, 2);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"0x320f");
    EXPECT_EQ(desktop_.ControlText(control::kPidEdit), u"0x5055");
    EXPECT_EQ(desktop_.ControlText(control::kUsagePageEdit), u"0xff0b");
    EXPECT_EQ(desktop_.ControlText(control::kUsageEdit), u"0x0104");
    EXPECT_EQ(desktop_.ControlText(control::kMiEdit), u"0x02");
    EXPECT_FALSE(desktop_.IsChecked(control::kHideWindow));
    EXPECT_TRUE(desktop_.MessageBoxes().empty());
}

TEST_F(EmbeddedPackageTest, DeviceInfoLinesAreReadInTheDesktopsChineseCodePage) {
    WriteFile(dir_ / "DeviceInfo.txt", kShippedDeviceInfo);
    desktop_.chineseText = [](std::string_view bytes) { return u"cp:" + Utf8ToUtf16(bytes); };
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, PackagePaths{}, identity);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"cp:0x320f");
    EXPECT_EQ(desktop_.ControlText(control::kMiEdit), u"cp:0x02");
}

TEST_F(EmbeddedPackageTest, ShortFileLeavesMissingLinesEmpty) {
    WriteFile(dir_ / "DeviceInfo.txt", "0x320f\n0x5055\n0xff0b");  // LF only, no last line end
    desktop_.SetChecked(control::kHideWindow, true);
    desktop_.SetControlText(control::kMiEdit, u"stale");
    DeviceIdentity identity{1, 2, 3, 4, 5};
    LoadIntoDialog(desktop_, PackagePaths{}, identity);

    EXPECT_EQ(identity.VendorId, 0x320F);
    EXPECT_EQ(identity.ProductId, 0x5055);
    EXPECT_EQ(identity.UsagePage, 0xFF0B);
    EXPECT_EQ(identity.Usage, 0);
    EXPECT_EQ(identity.MiValue, 0);
    EXPECT_EQ(desktop_.ControlText(control::kUsagePageEdit), u"0xff0b");
    EXPECT_EQ(desktop_.ControlText(control::kUsageEdit), u"");
    EXPECT_EQ(desktop_.ControlText(control::kMiEdit), u"");
    EXPECT_FALSE(desktop_.IsChecked(control::kHideWindow));
}

TEST_F(EmbeddedPackageTest, HideWindowIsCheckedOnlyForOne) {
    const std::pair<const char*, bool> cases[] = {
        {"1", true},    {"0", false},  {"2", false},  {"", false},  {" 1", true},
        {"0x1", false}, {"1\r", true}, {"-1", false}, {"01", true},
    };
    for (const auto& [line, checked] : cases) {
        WriteFile(dir_ / "DeviceInfo.txt", std::string("1\n2\n3\n4\n5\n") + line);
        desktop_.SetChecked(control::kHideWindow, !checked);
        DeviceIdentity identity;
        LoadIntoDialog(desktop_, PackagePaths{}, identity);
        EXPECT_EQ(desktop_.IsChecked(control::kHideWindow), checked) << "line 6: " << line;
    }
}

TEST_F(EmbeddedPackageTest, OnlyACarriageReturnBeforeALineFeedIsALineEnd) {
    WriteFile(dir_ / "DeviceInfo.txt", "0x32\r0f\r\r\n0x5055\r");
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, PackagePaths{}, identity);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"0x32\r0f\r");
    EXPECT_EQ(desktop_.ControlText(control::kPidEdit), u"0x5055\r");
    EXPECT_EQ(identity.VendorId, 0x32);
    EXPECT_EQ(identity.ProductId, 0x5055);
}

// The package writer writes the file in the Chinese code page; what was typed
// into the edits comes back the same after a restart.
TEST_F(EmbeddedPackageTest, ReadsTheChineseCodePageTheFileIsWrittenIn) {
    const std::u16string typed = u"0x32\u4E2D\u6587";
    WriteFile(dir_ / "DeviceInfo.txt",
              platform::ToChineseCodePageBytes(typed) + "\r\n\xD6\xD0\r\n");
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, PackagePaths{}, identity);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), typed);
    EXPECT_EQ(desktop_.ControlText(control::kPidEdit), u"\u4E2D");
    EXPECT_EQ(identity.VendorId, 0x32);
}

#ifndef _WIN32
// GB18030 through iconv; code page 936 on Windows maps such bytes its own way.
TEST_F(EmbeddedPackageTest, BytesTheCodePageDoesNotDefineReadAsReplacements) {
    WriteFile(dir_ / "DeviceInfo.txt", "0x32\xFF\n\xD6\n");
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, PackagePaths{}, identity);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"0x32\uFFFD");
    EXPECT_EQ(desktop_.ControlText(control::kPidEdit), u"\uFFFD");  // a lead byte cut short
    EXPECT_EQ(identity.VendorId, 0x32);
}
#endif

TEST_F(EmbeddedPackageTest, MissingFileShowsABoxAndChangesNothing) {
    desktop_.SetControlText(control::kVidEdit, u"before");
    desktop_.SetChecked(control::kHideWindow, true);
    DeviceIdentity identity{1, 2, 3, 4, 5};
    // DeviceInfoPath is not where the file is looked for.
    WriteFile(dir_ / "elsewhere.txt", kShippedDeviceInfo);
    PackagePaths paths;
    paths.DeviceInfoPath = (dir_ / "elsewhere.txt").u16string();
    LoadIntoDialog(desktop_, paths, identity);

    EXPECT_EQ(desktop_.MessageBoxes(), std::vector<std::u16string>{u"Create file error"});
    EXPECT_EQ(identity.VendorId, 1);
    EXPECT_EQ(identity.MiValue, 5);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"before");
    EXPECT_TRUE(desktop_.IsChecked(control::kHideWindow));

    desktop_.tempDirectory.clear();
    LoadIntoDialog(desktop_, paths, identity);
    EXPECT_EQ(desktop_.MessageBoxes().size(), 2u);
}

TEST_F(EmbeddedPackageTest, ExtractWritesAllThreeFiles) {
    WriteFile(dir_ / "ImgPacketFile.payload.bin", std::string(1000, 'x'));  // an earlier run's
    PackagePaths paths;
    ExtractPackage(desktop_, paths);

    // The offer and the payload go into a directory of this run's own; the
    // device information to the temporary directory, with a copy for the run.
    ASSERT_TRUE(paths.Run);
    const std::u16string run = paths.Run->Path();
    EXPECT_EQ(run.rfind(In(u"ZelkUpdate-"), 0), 0u);
    EXPECT_EQ(paths.OfferTempPath, run + u"ImgPacketFile.offer.bin");
    EXPECT_EQ(paths.PayloadTempPath, run + u"ImgPacketFile.payload.bin");
    EXPECT_EQ(paths.DeviceInfoPath, In(u"DeviceInfo.txt"));
    EXPECT_EQ(ReadFile(paths.OfferTempPath), offer_);
    EXPECT_EQ(ReadFile(paths.PayloadTempPath), payload_);
    EXPECT_EQ(ReadFile(paths.DeviceInfoPath), Text(kShippedDeviceInfo));
    EXPECT_EQ(ReadFile(run + u"DeviceInfo.txt"), Text(kShippedDeviceInfo));
#ifndef _WIN32
    EXPECT_EQ(fs::status(fs::path(run)).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    EXPECT_EQ(desktop_.Stdout(), "");
    EXPECT_TRUE(desktop_.Log().empty());

    DeviceIdentity identity;
    LoadIntoDialog(desktop_, paths, identity);
    EXPECT_EQ(identity.VendorId, 0x320F);

    // The run's directory goes with the last holder of its paths.
    paths = PackagePaths{};
    EXPECT_FALSE(fs::exists(fs::path(run)));
    EXPECT_EQ(Names(), (std::vector<std::string>{"DeviceInfo.txt", "ImgPacketFile.payload.bin"}));
}

// The console program runs from this value without any control in between.
TEST_F(EmbeddedPackageTest, StartupInputsCarryTheRunWithoutTouchingControls) {
    desktop_.languageId = 2052;
    const StartupInputs inputs = GatherStartupInputs(desktop_);
    const RunInput run = inputs.Run();
    EXPECT_EQ(run.identity.VendorId, 0x320F);
    EXPECT_EQ(run.identity.ProductId, 0x5055);
    EXPECT_EQ(run.identity.UsagePage, 0xFF0B);
    EXPECT_EQ(run.identity.Usage, 0x0104);
    EXPECT_EQ(run.identity.MiValue, 2);
    ASSERT_FALSE(inputs.paths.OfferTempPath.empty());
    EXPECT_EQ(run.offerPath, inputs.paths.OfferTempPath);
    EXPECT_EQ(run.payloadPath, inputs.paths.PayloadTempPath);
    EXPECT_TRUE(run.texts.ChineseUi);
    ASSERT_TRUE(inputs.deviceInfo);
    EXPECT_EQ(inputs.deviceInfo->texts[4], u"0x02");
    EXPECT_FALSE(inputs.deviceInfo->hideWindow);
    EXPECT_EQ(desktop_.ControlText(control::kVidEdit), u"");

    // Without the file: the box, and the run looks for the zero identity.
    desktop_.resources.erase({u"FIRE_DEVICEINFO", 141});
    fs::remove(dir_ / "DeviceInfo.txt");
    const StartupInputs without = GatherStartupInputs(desktop_);
    EXPECT_FALSE(without.deviceInfo);
    EXPECT_EQ(without.Run().identity.VendorId, 0);
    EXPECT_EQ(desktop_.MessageBoxes(), std::vector<std::u16string>{u"Create file error"});
}

TEST_F(EmbeddedPackageTest, TwoRunsNeverReadEachOthersFiles) {
    // Two updaters of the same user start together with different packages:
    // each flashes its own image and targets its own device.
    RecordingDesktop other;
    other.tempDirectory = desktop_.tempDirectory;
    other.resources = desktop_.resources;
    other.resources[{u"FIRE_WARE2", 140}] = Bytes(57 * 2, 0x11);
    other.resources[{u"FIRE_DEVICEINFO", 141}] = Text("0x1234\r\n0x5055\r\n");

    PackagePaths mine;
    ExtractPackage(desktop_, mine);
    PackagePaths theirs;
    ExtractPackage(other, theirs);

    EXPECT_NE(mine.PayloadTempPath, theirs.PayloadTempPath);
    EXPECT_EQ(ReadFile(mine.PayloadTempPath), payload_);
    EXPECT_EQ(ReadFile(theirs.PayloadTempPath), Bytes(57 * 2, 0x11));
    DeviceIdentity identity;
    LoadIntoDialog(desktop_, mine, identity);
    EXPECT_EQ(identity.VendorId, 0x320F);  // although the shared copy now says 0x1234
}

struct MissingCase {
    const char16_t* type;
    int id;
    bool empty;  // present but empty (unusable) rather than missing
    const char* expected;
    std::u16string PackagePaths::*member;
    const char* file;
};

TEST_F(EmbeddedPackageTest, MissingOrUnusableResourceIsReportedAndSkipped) {
    const MissingCase cases[] = {
        {u"FIRE_WARE", 139, false, kNotFoundText, &PackagePaths::OfferTempPath,
         "ImgPacketFile.offer.bin"},
        {u"FIRE_WARE2", 140, true, kUnusableText, &PackagePaths::PayloadTempPath,
         "ImgPacketFile.payload.bin"},
        {u"FIRE_DEVICEINFO", 141, false, kNotFoundText, &PackagePaths::DeviceInfoPath,
         "DeviceInfo.txt"},
        {u"FIRE_DEVICEINFO", 141, true, kUnusableText, &PackagePaths::DeviceInfoPath,
         "DeviceInfo.txt"},
    };
    for (const MissingCase& c : cases) {
        RecordingDesktop desktop;
        desktop.tempDirectory = desktop_.tempDirectory;
        desktop.resources = desktop_.resources;
        if (c.empty) {
            desktop.resources[{c.type, c.id}].clear();
        } else {
            desktop.resources.erase({c.type, c.id});
        }
        WriteFile(dir_ / c.file, "an earlier run's file");
        PackagePaths paths;
        paths.*c.member = u"stale";
        ExtractPackage(desktop, paths);

        EXPECT_EQ(desktop.Stdout(), c.expected) << c.file;
        ASSERT_EQ(desktop.Log().size(), 1u) << c.file;
        const std::string expected = c.expected;
        EXPECT_EQ(Utf16ToUtf8(desktop.Log()[0].text), expected) << c.file;
        EXPECT_EQ(desktop.Log()[0].colour, kRed);
        EXPECT_TRUE((paths.*c.member).empty()) << c.file;
        EXPECT_TRUE(paths.PackageDamaged) << c.file;
        // Nothing of that name where this run would read it.
        ASSERT_TRUE(paths.Run);
        EXPECT_FALSE(fs::exists(fs::path(paths.Run->Path()) / c.file)) << c.file;
        if (std::string(c.file) == "DeviceInfo.txt") {
            EXPECT_FALSE(fs::exists(dir_ / c.file));
        }
        // The other two are written all the same.
        int written = 0;
        for (auto member : {&PackagePaths::OfferTempPath, &PackagePaths::PayloadTempPath,
                            &PackagePaths::DeviceInfoPath}) {
            written += (paths.*member).empty() ? 0 : 1;
        }
        EXPECT_EQ(written, 2) << c.file;
    }
}

TEST_F(EmbeddedPackageTest, EveryFailureIsReportedInOrder) {
    desktop_.resources.erase({u"FIRE_WARE", 139});
    desktop_.resources[{u"FIRE_WARE2", 140}].clear();
    desktop_.resources.erase({u"FIRE_DEVICEINFO", 141});
    PackagePaths paths;
    ExtractPackage(desktop_, paths);
    EXPECT_EQ(desktop_.Stdout(), std::string(kNotFoundText) + kUnusableText + kNotFoundText);
    EXPECT_EQ(desktop_.Log().size(), 3u);
    RedLog();
    ASSERT_TRUE(paths.Run);
    EXPECT_TRUE(fs::is_empty(fs::path(paths.Run->Path())));
}

TEST_F(EmbeddedPackageTest, NoTemporaryDirectoryWritesNothing) {
    desktop_.tempDirectory.clear();
    PackagePaths paths;
    ExtractPackage(desktop_, paths);
    EXPECT_TRUE(paths.OfferTempPath.empty());
    EXPECT_TRUE(paths.PayloadTempPath.empty());
    EXPECT_TRUE(paths.DeviceInfoPath.empty());
    const std::u16string log = RedLog();
    EXPECT_NE(log.find(u"can't write ImgPacketFile.offer.bin"), std::u16string::npos);
    EXPECT_NE(log.find(u"can't write DeviceInfo.txt"), std::u16string::npos);
    EXPECT_NE(desktop_.Stdout().find("can't write ImgPacketFile.payload.bin"), std::string::npos);
    // The package itself is whole: nothing may say it is damaged.
    EXPECT_FALSE(paths.PackageDamaged);
}

TEST_F(EmbeddedPackageTest, UnwritableDirectoryLeavesNoFileAndNoPath) {
    desktop_.tempDirectory = (dir_ / "missing" / "").u16string();
    PackagePaths paths;
    ExtractPackage(desktop_, paths);
    EXPECT_TRUE(paths.OfferTempPath.empty());
    EXPECT_TRUE(paths.PayloadTempPath.empty());
    EXPECT_TRUE(paths.DeviceInfoPath.empty());
    const std::u16string log = RedLog();
    EXPECT_NE(log.find(u"can't write " + desktop_.tempDirectory + u"ImgPacketFile.offer.bin\n"),
              std::u16string::npos);
    EXPECT_EQ(desktop_.Log().size(), 3u);
    EXPECT_TRUE(Names().empty());
    EXPECT_FALSE(paths.PackageDamaged);
}

#ifndef _WIN32
TEST_F(EmbeddedPackageTest, APlantedLinkIsReplacedNotFollowed) {
    const fs::path victim = dir_ / "victim";
    WriteFile(victim, "keep me");
    fs::create_symlink(victim, dir_ / "DeviceInfo.txt");
    PackagePaths paths;
    ExtractPackage(desktop_, paths);

    EXPECT_EQ(ReadFile(victim), Text("keep me"));
    EXPECT_FALSE(fs::is_symlink(dir_ / "DeviceInfo.txt"));
    EXPECT_EQ(ReadFile(paths.DeviceInfoPath), Text(kShippedDeviceInfo));
}
#endif

}  // namespace
}  // namespace zelk::app
