// The main dialog's layout: template 102's controls at their places in dialog
// units of the dialog's font, shown or hidden as at start; the caption and
// filter helpers.
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <set>

#include "app/window/qt/about_dialog.h"
#include "app/window/qt/progress_caption.h"
#include "tests/qt/window_fixture.h"

namespace zelk::app::qt {
namespace {

std::set<int> ShownControls(MainWindow& window) {
    std::set<int> shown;
    for (int id = 0; id < 1100; ++id) {
        if (QWidget* control = window.Control(id); control && !control->isHidden()) {
            shown.insert(id);
        }
    }
    return shown;
}

TEST(DialogUnits, FollowTheFontsAverageWidthAndHeight) {
    const QFont font = DialogFont(9);
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const DialogUnits units(font);
    EXPECT_EQ(units.AverageCharWidth(), (letters / 26 + 1) / 2);
    EXPECT_EQ(units.CharHeight(), metrics.height());

    const DialogUnits fixed(7, 15);
    EXPECT_EQ(fixed.Rect(46, 17, 50, 14), QRect(81, 32, 88, 26));  // 80.5, 31.9, 87.5, 26.25
    EXPECT_EQ(fixed.Size(371, 251), QSize(649, 471));
}

TEST_F(WindowTest, ControlsSitAtTheirTemplatePlaces) {
    Show();
    MainWindow& window = desktop.Window();
    const DialogUnits units(window.font());
    EXPECT_EQ(window.size(), units.Size(371, 251));
    struct Place {
        int id;
        QRect units;
    };
    const Place places[] = {
        {1000, {46, 17, 50, 14}},  {1003, {46, 130, 50, 14}},  {1005, {101, 189, 128, 14}},
        {1010, {46, 36, 290, 88}}, {1019, {222, 172, 33, 13}}, {1022, {241, 151, 43, 10}},
        {2, {314, 230, 50, 14}},
    };
    for (const Place& place : places) {
        EXPECT_EQ(
            Control(place.id).geometry(),
            units.Rect(place.units.x(), place.units.y(), place.units.width(), place.units.height()))
            << place.id;
        EXPECT_EQ(Control(place.id).objectName(), QStringLiteral("control_%1").arg(place.id));
    }
    EXPECT_EQ(ShownControls(window), (std::set<int>{1000, 1003, 1010}));
    EXPECT_TRUE(qobject_cast<QLineEdit*>(&Control(1005))->isReadOnly());
    EXPECT_FALSE(qobject_cast<QLineEdit*>(&Control(1012))->isReadOnly());
    EXPECT_TRUE(window.LogPane().isReadOnly());
    EXPECT_EQ(window.LogPane().verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // The device information reached the edits.
    EXPECT_EQ(window.ControlText(control::kVidEdit), "0x320f");
    EXPECT_FALSE(qobject_cast<QCheckBox*>(&Control(control::kHideWindow))->isChecked());
    EXPECT_EQ(window.windowTitle(), QString());
}

TEST_F(WindowTest, TheContextMenuOpensTheAboutBox) {
    Show();
    QMenu menu;
    desktop.Window().fillContextMenu(menu);
    ASSERT_EQ(menu.actions().size(), 1);
    QAction* about = menu.actions().front();
    EXPECT_EQ(about->text(), QString::fromUtf16(kAboutMenuText));
    EXPECT_TRUE(about->isEnabled());

    QString caption;
    QString version;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        version = box->findChild<QLabel*>(QStringLiteral("about_version"))->text();
        QTest::mouseClick(box->findChild<QPushButton*>(QStringLiteral("control_1")),
                          Qt::LeftButton);
    });
    about->trigger();
    EXPECT_EQ(caption, QString::fromUtf16(u"关于 ZelkUpdateTool"));
    EXPECT_EQ(version, QString::fromUtf16(u"ZelkUpdateTool，1.0 版"));
}

TEST(ProgressCaption, ShowsThePercentageUntilTheRunEnds) {
    struct Case {
        ProgressEvent event;
        std::int64_t lParam;
        std::optional<QString> caption;
    };
    const Case cases[] = {
        {ProgressEvent::Progress, 42, QString::fromUtf16(u"ZelkUpdateTool — 42%")},
        {ProgressEvent::Progress, 250, QString::fromUtf16(u"ZelkUpdateTool — 100%")},
        {ProgressEvent::Succeeded, 0, QString::fromUtf16(u"ZelkUpdateTool — 100%")},
        {ProgressEvent::RunEnded, 0, QString()},
        {ProgressEvent::NoDevice, 0, QString()},
        {ProgressEvent::StepFailed, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CaptionAfter(c.event, c.lParam), c.caption) << static_cast<int>(c.event);
    }
}

TEST(FileDialogFilters, KeepDescriptionsThatNameTheirPattern) {
    const OpenFileRequest authoring{
        u"bin", u"", {{u"FIREWARE (*.bin)", u"*.bin"}, {u"所有文件(*.*)", u"*.*"}}};
    EXPECT_EQ(FileDialogFilters(authoring), QString::fromUtf16(u"FIREWARE (*.bin);;所有文件(*.*)"));
    const OpenFileRequest bare{u"bin", u"", {{u"Firmware", u"*.bin"}}};
    EXPECT_EQ(FileDialogFilters(bare), QStringLiteral("Firmware (*.bin)"));
}

}  // namespace
}  // namespace zelk::app::qt
