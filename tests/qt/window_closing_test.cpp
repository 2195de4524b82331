// The window's own ways of ending, with the program's real close action (the
// window closes and the event loop ends): hidden mode, OK, Cancel, Escape and
// Enter.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <string>

#include "tests/qt/window_fixture.h"

namespace zelk::app::qt {
namespace {

// Like WindowTest, but CloseMainWindow does what the program does.
class RealCloseTest : public ::testing::Test {
  protected:
    RealCloseTest() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        directory = std::filesystem::temp_directory_path() /
                    ("zelk-qt-close-" + std::to_string(::getpid()) + "-" + test->name());
        std::filesystem::create_directories(directory);
        const std::string temp = directory.string() + "/";
        services.tempDirectory = std::u16string(temp.begin(), temp.end());
        services.resources[{u"FIRE_WARE", 139}] = ReadBytes(ZELK_SAMPLE_OFFER);
        services.resources[{u"FIRE_WARE2", 140}] = ReadBytes(ZELK_SAMPLE_PAYLOAD);
        services.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("0");
    }
    ~RealCloseTest() override {
        WaitForRunServingEvents(dialog);
        std::filesystem::remove_all(directory);
    }

    QtDesktopOptions Options() {
        QtDesktopOptions options;
        options.services = &services;
        options.messageBox = [](QWidget*, const QString&, const QString&) {};
        return options;  // onClose left to the desktop's own
    }

    // Runs the event loop until the program's close action ends it; false
    // when it is still running after `seconds`.
    static bool EventLoopEnds(int seconds) {
        bool timedOut = false;
        QTimer::singleShot(seconds * 1000, qApp, [&timedOut] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QApplication::exec();
        return !timedOut;
    }

    std::filesystem::path directory;
    hid::virt::VirtualHidBackend backend{{hid::virt::DefaultEarbud()}};
    zelk::testing::FastWaitClock clock{1000};
    cfu::CfuLibrary library{backend, clock};
    RecordingDesktop services;
    QtDesktop desktop{Options()};
    UpdateDriver driver{desktop, library, clock};
    MainDialog dialog{desktop, driver};
};

TEST_F(RealCloseTest, HiddenModeEndsTheEventLoopAfterTheRun) {
    services.resources[{u"FIRE_DEVICEINFO", 141}] = DeviceInfo("1");
    AttachDialogActions(desktop, dialog);
    dialog.Initialize();
    ASSERT_TRUE(dialog.RunActive());
    EXPECT_TRUE(EventLoopEnds(60));
    WaitForRunServingEvents(dialog);
    EXPECT_FALSE(desktop.Window().isVisible());
    EXPECT_EQ(backend.Device(0).CompletedTransfers(), 1u);
}

// The hidden OK (1) and Cancel (2) buttons end the window, as does the
// keyboard: Escape, and Enter where no push button has the focus.
TEST_F(RealCloseTest, OkCancelEscapeAndEnterCloseTheWindow) {
    AttachDialogActions(desktop, dialog);
    dialog.Initialize();
    MainWindow& window = desktop.Window();
    const auto closedBy = [&](const std::function<void()>& act) {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        act();
        QCoreApplication::processEvents();
        return !window.isVisible();
    };
    EXPECT_TRUE(closedBy([&] { qobject_cast<QAbstractButton*>(window.Control(1))->click(); }));
    EXPECT_TRUE(closedBy([&] { qobject_cast<QAbstractButton*>(window.Control(2))->click(); }));
    EXPECT_TRUE(closedBy([&] { QTest::keyClick(&window, Qt::Key_Escape); }));
    EXPECT_TRUE(closedBy([&] {
        auto* edit = qobject_cast<QLineEdit*>(window.Control(control::kVidEdit));
        edit->show();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
    }));
    EXPECT_FALSE(dialog.RunActive());
}

// Enter on a focused push button presses that button instead.
TEST_F(RealCloseTest, EnterOnStartStartsARunAndKeepsTheWindow) {
    AttachDialogActions(desktop, dialog);
    dialog.Initialize();
    MainWindow& window = desktop.Window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QWidget* start = window.Control(control::kStart);
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Return);
    EXPECT_TRUE(dialog.RunActive());
    WaitForRunServingEvents(dialog);
    EXPECT_TRUE(window.isVisible());
    window.CloseUnasked();
}

TEST(OpenFileDialogTest, AddsTheDefaultExtensionAndAcceptsOnlyExistingFiles) {
    QFileDialog dialog;
    ConfigureOpenFileDialog(dialog, QStringLiteral("/tmp/offer.bin"),
                            QStringLiteral("FIREWARE (*.bin);;所有文件(*.*) (*.*)"),
                            QStringLiteral("bin"));
    EXPECT_EQ(dialog.defaultSuffix(), QStringLiteral("bin"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.nameFilters().size(), 2);
}

}  // namespace
}  // namespace zelk::app::qt
