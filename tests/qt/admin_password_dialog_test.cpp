// The Admin button's password dialog: the right password reveals the
// administrator controls, a wrong one shows the message box and keeps the
// dialog open.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <set>

#include "tests/qt/window_fixture.h"

namespace zelk::app::qt {
namespace {

const std::string kDigest = Md5Hex("open sesame");

class AdminPasswordTest : public WindowTest {
  protected:
    // Clicks Admin and runs `inDialog` once the password dialog is up.
    void WithPasswordDialog(const std::function<void(QDialog&)>& inDialog) {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            auto* dialogWidget = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialogWidget, nullptr);
            ran = true;
            inDialog(*dialogWidget);
            if (dialogWidget->isVisible()) {
                dialogWidget->reject();
            }
        });
        QTest::mouseClick(&Control(control::kAdmin), Qt::LeftButton);
        EXPECT_TRUE(ran);
    }

    std::set<int> Shown() {
        std::set<int> shown;
        for (int id = 1; id < 1100; ++id) {
            if (QWidget* control = desktop.Window().Control(id); control && !control->isHidden()) {
                shown.insert(id);
            }
        }
        return shown;
    }

    static void Type(QDialog& box, const QString& password) {
        auto* edit = box.findChild<QLineEdit*>(QStringLiteral("control_1002"));
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->echoMode(), QLineEdit::Password);
        EXPECT_EQ(edit->maxLength(), 20);
        QTest::keyClicks(edit, password);
        QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("control_1")), Qt::LeftButton);
    }
};

TEST_F(AdminPasswordTest, TheRightPasswordRevealsTheSeventeenAdminControls) {
    Show(kDigest);
    QString caption;
    WithPasswordDialog([&](QDialog& box) {
        caption = box.windowTitle();
        Type(box, QStringLiteral("open sesame"));
        EXPECT_FALSE(box.isVisible());
    });
    EXPECT_EQ(caption, QStringLiteral("Write down Admin Password"));
    EXPECT_TRUE(boxes.empty());
    const std::set<int> expected{1000, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011,
                                 1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1022};
    EXPECT_EQ(Shown(), expected);
}

TEST_F(AdminPasswordTest, AWrongPasswordShowsTheBoxAndKeepsTheDialogOpen) {
    Show(kDigest);
    bool stillOpen = false;
    WithPasswordDialog([&](QDialog& box) {
        Type(box, QStringLiteral("open sesame!"));
        stillOpen = box.isVisible();
        QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("control_2")), Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Wrong Password!"));
    EXPECT_EQ(Shown(), (std::set<int>{1000, 1003, 1010}));
}

}  // namespace
}  // namespace zelk::app::qt
