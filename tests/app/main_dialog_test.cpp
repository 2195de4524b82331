#include "app/dialog/main_dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadBytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> DeviceInfo(const std::string& hide) {
    const std::string text = "0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n" + hide + "\r\n";
    return {text.begin(), text.end()};
}

class MainDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        directory =
            fs::temp_directory_path() /
            ("zelk-dialog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
        const std::string temp = directory.string() + "/";
        desktop.tempDirectory = std::u16string(temp.begin(), temp.end());
        desktop.resources[{u"FIRE_WARE", 139}] = ReadBytes(ZELK_SAMPLE_OFFER);
        desktop.resources[{u"FIRE_WARE2", 140}] = ReadBytes(ZELK_SAMPLE_PAYLOAD);
        desktop.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("0");
    }
    void TearDown() override { fs::remove_all(directory); }

    fs::path directory;
    hid::virt::VirtualHidBackend backend{{hid::virt::DefaultEarbud()}};
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    RecordingDesktop desktop;
    UpdateDriver driver{desktop, library, clock};
};

TEST_F(MainDialogTest, StartShowsTheReadyTextThenTheRun) {
    MainDialog dialog(desktop, driver);
    dialog.Initialize();
    EXPECT_EQ(desktop.ControlText(control::kStart), u"Start");
    EXPECT_EQ(desktop.ControlText(control::kAdmin), u"Admin");
    EXPECT_TRUE(desktop.Log().empty());  // not hidden: nothing starts by itself

    dialog.OnStart();
    dialog.WaitForRun();
    const auto log = desktop.Log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].text, u"Ready to Update\n");
    EXPECT_EQ(log[0].colour, kBlack);
    EXPECT_EQ(log[1].colour, kOrange);
    EXPECT_EQ(log[2].text, u"Success\n");
    EXPECT_EQ(log[3].text, u"Verified: the device now reports version 1.0.4.2.\n");
    EXPECT_TRUE(dialog.LastOutcome().Success());
    EXPECT_EQ(desktop.CloseRequests(), 0);
}

TEST_F(MainDialogTest, ASecondStartDuringARunNeverReachesTheLibrary) {
    MainDialog dialog(desktop, driver);
    dialog.Initialize();
    dialog.OnStart();
    dialog.OnStart();  // the first run waits 10 s (10 ms here) at its end at least
    dialog.WaitForRun();
    // The refusal comes after the ready line; where among the running
    // update's own lines depends on how far that run has got.
    const auto log = desktop.Log();
    ASSERT_GE(log.size(), 2u);
    const auto busy = std::find_if(log.begin() + 1, log.end(), [](const auto& line) {
        return line.text == u"An update is already running; wait for it to finish\n";
    });
    EXPECT_NE(busy, log.end());
    EXPECT_EQ(backend.Device(0).OfferCount(), 1u);
    EXPECT_EQ(backend.Device(0).CompletedTransfers(), 1u);
}

TEST_F(MainDialogTest, HiddenModeStartsByItselfInTheChosenLanguageAndCloses) {
    desktop.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("1");
    desktop.languageId = 2052;
    MainDialog dialog(desktop, driver);
    dialog.Initialize();
    dialog.WaitForRun();
    const auto log = desktop.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().text, u"准备升级\n");
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].text, u"升级成功\n");
    EXPECT_EQ(log.back().text, u"已验证：设备现在报告版本 1.0.4.2。\n");
    EXPECT_EQ(desktop.CloseRequests(), 1);
    EXPECT_EQ(clock.Sleeps().back(), 50u);
}

// The run takes the device information read at start: identifiers the
// administrator types afterwards are for the next package, not this run.
TEST_F(MainDialogTest, EditsChangedAfterStartDoNotRedirectTheRun) {
    MainDialog dialog(desktop, driver);
    dialog.Initialize();
    EXPECT_EQ(desktop.ControlText(control::kVidEdit), u"0x320f");
    EXPECT_EQ(desktop.ControlText(control::kMiEdit), u"0x02");
    desktop.SetControlText(control::kVidEdit, u"0x1234");
    desktop.SetControlText(control::kPidEdit, u"0x9999");
    dialog.OnStart();
    dialog.WaitForRun();
    EXPECT_TRUE(dialog.LastOutcome().Success());
    EXPECT_EQ(backend.Device(0).CompletedTransfers(), 1u);
}

// Closing the window while a run is going keeps it open until the run has
// ended, then closes it once; with no run going the caller closes at once.
TEST_F(MainDialogTest, AskingToCloseDuringARunClosesWhenTheRunEnds) {
    MainDialog dialog(desktop, driver);
    dialog.Initialize();
    EXPECT_FALSE(dialog.CloseWhenRunEnds());  // idle: close now

    dialog.OnStart();
    EXPECT_TRUE(dialog.CloseWhenRunEnds());
    dialog.WaitForRun();
    EXPECT_EQ(desktop.CloseRequests(), 1);
    EXPECT_TRUE(dialog.LastOutcome().Success());

    // The request was for that run only.
    dialog.OnStart();
    dialog.WaitForRun();
    EXPECT_EQ(desktop.CloseRequests(), 1);
}

TEST(LanguageChoice, ChineseOnlyForTheChineseIdentifiers) {
    for (std::uint32_t id : {1028u, 2052u, 3076u, 4100u, 5124u}) {
        EXPECT_TRUE(ChooseLanguage(id).ChineseUi) << id;
    }
    for (std::uint32_t id : {1033u, 2057u, 1031u, 0u}) {
        EXPECT_FALSE(ChooseLanguage(id).ChineseUi) << id;
    }
    EXPECT_FALSE(ChooseLanguage(std::nullopt).ChineseUi);
    const LanguageTexts chinese = ChooseLanguage(2052);
    EXPECT_EQ(chinese.StartText, u"开始升级");
    EXPECT_EQ(chinese.AdminText, u"管理配置");
    EXPECT_EQ(chinese.InProgressText, u"升级中...\n");
    EXPECT_EQ(chinese.SuccessText, u"升级成功\n");
}

}  // namespace
}  // namespace zelk::app
