// Package authoring against real files in a scratch directory (which uses
// the POSIX mkdtemp, hence Linux only).
#if !defined(_WIN32)

#include "app/dialog/package_authoring.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/text/text_encoding.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "tests/app/recording_desktop.h"
#include "tests/app/scratch_directory.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

namespace fs = std::filesystem;

constexpr char kDefaultDeviceInfo[] = "0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n";

class PackageAuthoringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(scratch.Path().empty());
        desktop.tempDirectory = Utf8ToUtf16(scratch.Path() + "/");
        SetIdentifiers(u"0x320f", u"0x5055", u"0xff0b", u"0x0104", u"0x02");
    }

    void SetIdentifiers(std::u16string_view vid, std::u16string_view pid,
                        std::u16string_view usagePage, std::u16string_view usage,
                        std::u16string_view mi) {
        desktop.SetControlText(control::kVidEdit, vid);
        desktop.SetControlText(control::kPidEdit, pid);
        desktop.SetControlText(control::kUsagePageEdit, usagePage);
        desktop.SetControlText(control::kUsageEdit, usage);
        desktop.SetControlText(control::kMiEdit, mi);
    }

    std::string Native(const std::string& name) const { return scratch.Path() + "/" + name; }
    std::u16string PathOf(const std::string& name) const { return Utf8ToUtf16(Native(name)); }

    // A file of `size` bytes (sparse: only its length matters).
    std::u16string MakeFile(const std::string& name, std::uintmax_t size) {
        std::ofstream(Native(name), std::ios::binary).put('\x7f');
        fs::resize_file(Native(name), size);
        return PathOf(name);
    }

    std::string DeviceInfoBytes() const {
        std::ifstream in(Native("DeviceInfo.txt"), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The blank in the directory's name reaches every path the tests use.
    ScratchDirectory scratch{"zelk package authoring"};
    hid::virt::VirtualHidBackend backend{{hid::virt::DefaultEarbud()}};
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    RecordingDesktop desktop;
    UpdateDriver driver{desktop, library, clock};
    MainDialog dialog{desktop, driver};
};

TEST_F(PackageAuthoringTest, FileCheckReadsTheSizeOrZero) {
    EXPECT_EQ(PackageFileCheck(MakeFile("one.bin", 1)), 1u);
    EXPECT_EQ(PackageFileCheck(MakeFile("big.bin", 5'000'000)), 5'000'000u);
    EXPECT_EQ(PackageFileCheck(MakeFile("empty.bin", 0)), 0u);
    EXPECT_EQ(PackageFileCheck(PathOf("missing.bin")), 0u);
    EXPECT_EQ(PackageFileCheck(desktop.tempDirectory), 0u);  // a directory
}

struct SizeCase {
    std::uintmax_t size;
    bool accepted;
};

// Both buttons, every size class: a usable choice is shown and kept; any
// other empties the member and leaves the edit showing the previous text.
TEST_F(PackageAuthoringTest, OnlyFilesOfOneByteToJustUnderOneMebibyteAreTaken) {
    struct Button {
        void (*choose)(MainDialog&);
        std::u16string MainDialog::*member;
        int edit;
    };
    const Button buttons[] = {
        {ChooseOffer, &MainDialog::AdminOfferPath, control::kOfferPathEdit},
        {ChoosePayload, &MainDialog::AdminPayloadPath, control::kPayloadPathEdit}};
    const SizeCase sizes[] = {{1, true}, {1048575, true}, {1048576, false}, {0, false}};
    for (const Button& button : buttons) {
        for (const SizeCase& size : sizes) {
            SCOPED_TRACE(::testing::Message() << "edit " << button.edit << ", " << size.size);
            desktop.SetControlText(button.edit, u"previous");
            dialog.*button.member = u"previous";
            const std::u16string path =
                MakeFile("firmware " + std::to_string(size.size), size.size);
            desktop.openFileAnswers = {path};
            button.choose(dialog);
            EXPECT_EQ(dialog.*button.member, size.accepted ? path : u"");
            EXPECT_EQ(desktop.ControlText(button.edit), size.accepted ? path : u"previous");
        }
        desktop.SetControlText(button.edit, u"previous");
        desktop.openFileAnswers = {PathOf("missing.bin")};
        button.choose(dialog);
        EXPECT_EQ(dialog.*button.member, u"");
        EXPECT_EQ(desktop.ControlText(button.edit), u"previous");
    }
}

// Whatever is not taken, or will be refused by the packaging tool, is said
// at once, in the window's language; a file the tool takes is not.
TEST_F(PackageAuthoringTest, FilesThatCannotBePackagedAreSaid) {
    struct Case {
        void (*choose)(MainDialog&);
        std::uintmax_t size;
        std::u16string message;
    };
    const Case cases[] = {
        {ChooseOffer, 16, u""},
        {ChoosePayload, 57 * 3, u""},
        {ChooseOffer, 17,
         u"The packaging tool will refuse this offer: an offer is exactly 16 bytes, this file "
         u"has 17."},
        {ChoosePayload, 1000,
         u"The packaging tool will refuse this payload: 1000 bytes is not a whole number of "
         u"57-byte records."},
        {ChoosePayload, 1048576,
         u"This file has 1048576 bytes; a package file has 1 to 1048575 bytes. It was not taken."},
        {ChooseOffer, 0, u"This file is empty or cannot be read; it was not taken."},
    };
    for (const Case& c : cases) {
        RecordingDesktop fresh;
        fresh.tempDirectory = desktop.tempDirectory;
        MainDialog other(fresh, driver);
        fresh.openFileAnswers = {MakeFile("file " + std::to_string(c.size), c.size)};
        c.choose(other);
        const std::vector<std::u16string> expected = c.message.empty()
                                                         ? std::vector<std::u16string>{}
                                                         : std::vector<std::u16string>{c.message};
        EXPECT_EQ(fresh.MessageBoxes(), expected) << c.size;
    }
    EXPECT_EQ(PackagingRefusal(true, 1000, true),
              u"打包工具将拒绝此 payload 文件：1000 字节不是整数个 57 字节的记录。");
}

TEST_F(PackageAuthoringTest, DialogStartsAtTheCurrentChoiceWithTheFirmwareFilters) {
    dialog.AdminOfferPath = u"/firmware/old.offer.bin";
    desktop.openFileAnswers = {std::nullopt};
    ChooseOffer(dialog);
    const auto requests = desktop.OpenFileRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].defaultExtension, u"bin");
    EXPECT_EQ(requests[0].initialFile, u"/firmware/old.offer.bin");
    const std::vector<std::pair<std::u16string, std::u16string>> filters{
        {u"FIREWARE (*.bin)", u"*.bin"}, {u"所有文件(*.*)", u"*.*"}};
    EXPECT_EQ(requests[0].filters, filters);
}

TEST_F(PackageAuthoringTest, CancelChangesNothing) {
    dialog.AdminOfferPath = u"offer";
    dialog.AdminPayloadPath = u"payload";
    desktop.SetControlText(control::kOfferPathEdit, u"offer edit");
    desktop.SetControlText(control::kPayloadPathEdit, u"payload edit");
    desktop.openFileAnswers = {std::nullopt, std::nullopt};
    ChooseOffer(dialog);
    ChoosePayload(dialog);
    EXPECT_EQ(dialog.AdminOfferPath, u"offer");
    EXPECT_EQ(dialog.AdminPayloadPath, u"payload");
    EXPECT_EQ(desktop.ControlText(control::kOfferPathEdit), u"offer edit");
    EXPECT_EQ(desktop.ControlText(control::kPayloadPathEdit), u"payload edit");
    EXPECT_FALSE(fs::exists(Native("DeviceInfo.txt")));
    EXPECT_TRUE(dialog.Paths().DeviceInfoPath.empty());
}

TEST_F(PackageAuthoringTest, DeviceInfoIsWrittenInTheDesktopsChineseCodePage) {
    desktop.chineseBytes = [](std::u16string_view text) { return "cp:" + Utf16ToUtf8(text); };
    WriteDeviceInfo(dialog);
    EXPECT_EQ(DeviceInfoBytes(), std::string("cp:") + kDefaultDeviceInfo);
}

TEST_F(PackageAuthoringTest, DeviceInfoHoldsTheEditsAndTheHideWindowBox) {
    WriteDeviceInfo(dialog);
    EXPECT_EQ(DeviceInfoBytes(), kDefaultDeviceInfo);
    EXPECT_EQ(dialog.Paths().DeviceInfoPath, PathOf("DeviceInfo.txt"));

    desktop.SetChecked(control::kHideWindow, true);
    SetIdentifiers(u"1", u"2", u"", u"4", u"5");
    WriteDeviceInfo(dialog);
    EXPECT_EQ(DeviceInfoBytes(), "1\r\n2\r\n\r\n4\r\n5\r\n1\r\n");
    EXPECT_TRUE(desktop.MessageBoxes().empty());
    for (const auto& entry : fs::directory_iterator(scratch.Path())) {
        EXPECT_EQ(entry.path().filename(), "DeviceInfo.txt");  // no temporary file left
    }
}

// The identifiers are taken when the payload is chosen, confirmed, whatever
// its size; edits made later reach the file only with the next write.
TEST_F(PackageAuthoringTest, EveryConfirmedPayloadChoiceWritesTheDeviceInfo) {
    const std::u16string payload = MakeFile("payload.bin", 1000);
    desktop.openFileAnswers = {payload, payload};
    ChoosePayload(dialog);
    EXPECT_EQ(DeviceInfoBytes(), kDefaultDeviceInfo);
    ChoosePayload(dialog);
    EXPECT_EQ(DeviceInfoBytes(), kDefaultDeviceInfo);

    desktop.SetControlText(control::kPidEdit, u"0x6000");
    EXPECT_EQ(DeviceInfoBytes(), kDefaultDeviceInfo);
    desktop.openFileAnswers = {MakeFile("too big.bin", 2'000'000)};
    ChoosePayload(dialog);
    EXPECT_EQ(DeviceInfoBytes(), "0x320f\r\n0x6000\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n");
    EXPECT_TRUE(dialog.AdminPayloadPath.empty());
}

TEST_F(PackageAuthoringTest, ChineseTextIsWrittenInTheChineseCodePage) {
    SetIdentifiers(u"中", u"0x5055", u"0xff0b", u"0x0104", u"0x02");
    WriteDeviceInfo(dialog);
    EXPECT_EQ(DeviceInfoBytes(), "\xD6\xD0\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n");
}

TEST_F(PackageAuthoringTest, UnwritableDeviceInfoIsReported) {
    // Something that is not a file is in the way: it stays as it was.
    fs::create_directories(Native("DeviceInfo.txt/inside"));
    WriteDeviceInfo(dialog);
    EXPECT_TRUE(fs::is_directory(Native("DeviceInfo.txt/inside")));
    ASSERT_EQ(desktop.MessageBoxes(), std::vector<std::u16string>{u"Create file error"});
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(scratch.Path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);  // the temporary file is gone

    RecordingDesktop nowhere;
    nowhere.tempDirectory = PathOf("no such directory/");
    MainDialog other(nowhere, driver);
    WriteDeviceInfo(other);
    EXPECT_EQ(nowhere.MessageBoxes(), std::vector<std::u16string>{u"Create file error"});
}

TEST_F(PackageAuthoringTest, LinkPlantedAtTheDeviceInfoIsReplacedNotFollowed) {
    std::ofstream(Native("victim"), std::ios::binary) << "keep me";
    fs::create_symlink(Native("victim"), Native("DeviceInfo.txt"));
    WriteDeviceInfo(dialog);
    EXPECT_FALSE(fs::is_symlink(Native("DeviceInfo.txt")));
    EXPECT_EQ(DeviceInfoBytes(), kDefaultDeviceInfo);
    std::ifstream victim(Native("victim"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "keep me");
}

TEST_F(PackageAuthoringTest, AdminControlsAreRevealedInTheirOrder) {
    RevealAdminControls(desktop);
    const std::vector<int> expected{1004, 1005, 1006, 1007, 1008, 1009, 1013, 1014, 1011,
                                    1012, 1015, 1016, 1017, 1018, 1019, 1020, 1022};
    EXPECT_EQ(desktop.ShownControls(), expected);
    for (const int id : expected) {
        EXPECT_TRUE(desktop.ControlState(id).visible) << id;
    }
}

class PackagingCheckTest : public PackageAuthoringTest {
  protected:
    void SetUp() override {
        PackageAuthoringTest::SetUp();
        desktop.ownPath = PathOf("zelkupdate");
        offer = MakeFile("new offer.bin", 16);
        payload = MakeFile("new payload.bin", 35 * 57);
        desktop.openFileAnswers = {offer, payload};
        ChooseOffer(dialog);
        ChoosePayload(dialog);
        deviceInfo = dialog.Paths().DeviceInfoPath;
        tool = PathOf("qrb_resource_adder");
    }

    std::u16string offer;
    std::u16string payload;
    std::u16string deviceInfo;
    std::u16string tool;
};

// The tool gets the device information of its own file, as the
// administrator saw it when the window closed: identifiers edited after the
// payload choice are in, and another run that rewrites the shared
// DeviceInfo.txt meanwhile changes nothing.
TEST_F(PackagingCheckTest, AllThreeFilesAndTheToolStartItWithWholeArguments) {
    desktop.existingFiles = {offer, payload, deviceInfo, tool};
    desktop.SetControlText(control::kPidEdit, u"0x6000");
    KeepAdministratorValues(dialog);
    desktop.SetControlText(control::kPidEdit, u"");  // the window is gone
    std::ofstream(Native("DeviceInfo.txt"), std::ios::binary) << "0x1111\r\n0x2222\r\n";
    EXPECT_TRUE(RunPackagingCheck(dialog));
    const auto started = desktop.StartedPrograms();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, tool);
    ASSERT_EQ(started[0].second.size(), 4u);
    const std::vector<std::u16string> first{desktop.ownPath, offer, payload};
    EXPECT_EQ(std::vector(started[0].second.begin(), started[0].second.begin() + 3), first);
    const std::u16string own = started[0].second[3];
    EXPECT_NE(own, deviceInfo);
    const fs::path ownPath(own);
    std::ifstream in(ownPath, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "0x320f\r\n0x6000\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n");
    EXPECT_EQ(fs::status(ownPath.parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all);
    EXPECT_TRUE(desktop.MessageBoxes().empty());
}

TEST_F(PackagingCheckTest, AnyMissingPieceStartsNothing) {
    const std::vector<std::u16string> complete{offer, payload, deviceInfo, tool};
    for (std::size_t missing = 0; missing < complete.size(); ++missing) {
        desktop.existingFiles = complete;
        desktop.existingFiles.erase(desktop.existingFiles.begin() +
                                    static_cast<std::ptrdiff_t>(missing));
        EXPECT_FALSE(RunPackagingCheck(dialog)) << missing;
    }
    EXPECT_TRUE(desktop.StartedPrograms().empty());
    EXPECT_TRUE(desktop.MessageBoxes().empty());
}

TEST_F(PackagingCheckTest, OnlyAnOfferChosenStartsNothing) {
    dialog.AdminPayloadPath.clear();
    desktop.existingFiles = {offer, payload, deviceInfo, tool};
    EXPECT_FALSE(RunPackagingCheck(dialog));
    EXPECT_TRUE(desktop.StartedPrograms().empty());
}

TEST_F(PackagingCheckTest, ToolOfAWindowsProgramHasItsExtension) {
    desktop.ownPath = u"C:\\Program Files\\Zelk\\ZelkUpdate.EXE";
    const std::u16string windowsTool = u"C:\\Program Files\\Zelk\\qrb_resource_adder.exe";
    desktop.existingFiles = {offer, payload, deviceInfo, windowsTool};
    EXPECT_TRUE(RunPackagingCheck(dialog));
    const auto started = desktop.StartedPrograms();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, windowsTool);
    EXPECT_EQ(started[0].second.front(), desktop.ownPath);
}

}  // namespace
}  // namespace zelk::app

#endif
