// A main window on the virtual earbud: the Qt desktop draws the dialog, a
// RecordingDesktop stands in for the operating system (package resources, a
// private temp directory, broadcasts), message boxes are recorded.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QString>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/dialog/main_dialog.h"
#include "app/run/update_driver.h"
#include "app/window/qt/dialog_actions.h"
#include "app/window/qt/qt_desktop.h"
#include "app/window/qt/run_wait.h"
#include "hidtransport/virtual/virtual_device_file.h"
#include "hidtransport/virtual/virtual_hid_backend.h"
#include "sample_firmware_paths.h"
#include "tests/app/recording_desktop.h"
#include "tests/support/fast_wait_clock.h"

namespace zelk::app::qt {

inline std::vector<std::uint8_t> ReadBytes(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline std::vector<std::uint8_t> DeviceInfo(const std::string& hide) {
    const std::string text = "0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n" + hide + "\r\n";
    return {text.begin(), text.end()};
}

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

struct RecordedBox {
    QString caption;
    QString text;
};

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        directory = std::filesystem::temp_directory_path() /
                    ("zelk-qt-" + std::to_string(::getpid()) + "-" + test->name());
        std::filesystem::create_directories(directory);
        const std::string temp = directory.string() + "/";
        services.tempDirectory = std::u16string(temp.begin(), temp.end());
        services.resources[{u"FIRE_WARE", 139}] = ReadBytes(ZELK_SAMPLE_OFFER);
        services.resources[{u"FIRE_WARE2", 140}] = ReadBytes(ZELK_SAMPLE_PAYLOAD);
        services.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("0");
    }
    void TearDown() override {
        // A test that ended early may leave a run going; its worker still needs
        // the UI thread to answer, so wait here while serving events rather
        // than in the dialog's destructor, which would block the UI thread.
        WaitForRun();
        std::filesystem::remove_all(directory);
    }

    QtDesktopOptions Options() {
        QtDesktopOptions options;
        options.services = &services;
        options.messageBox = [this](QWidget*, const QString& caption, const QString& text) {
            boxes.push_back({caption, text});
        };
        options.onClose = [this] { ++closeRequests; };
        return options;
    }

    // Prepares the dialog as the program does and shows the window.
    void Show(std::string_view digest = kStoredPasswordDigest) {
        AttachDialogActions(desktop, dialog, digest);
        dialog.Initialize();
        desktop.Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&desktop.Window()));
    }

    // Waits for the run while the UI thread serves the worker's calls.
    void WaitForRun() { WaitForRunServingEvents(dialog); }

    QWidget& Control(int id) {
        QWidget* control = desktop.Window().Control(id);
        EXPECT_NE(control, nullptr) << id;
        return *control;
    }

    std::filesystem::path directory;
    hid::virt::VirtualHidBackend backend{{hid::virt::DefaultEarbud()}};
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    RecordingDesktop services;
    std::vector<RecordedBox> boxes;
    int closeRequests = 0;
    QtDesktop desktop{Options()};
    UpdateDriver driver{desktop, library, clock};
    MainDialog dialog{desktop, driver};
};

}  // namespace zelk::app::qt
