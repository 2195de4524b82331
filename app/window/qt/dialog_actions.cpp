#include "app/window/qt/dialog_actions.h"

#include <QMenu>

#include "app/dialog/package_authoring.h"
#include "app/window/qt/about_dialog.h"
#include "app/window/qt/admin_password_dialog.h"

namespace zelk::app::qt {

std::u16string CloseRefusedText(bool chinese) {
    return chinese ? u"正在升级，升级完成后窗口才会关闭。"
                   : u"An update is running; the window closes when it has finished.";
}

void AttachDialogActions(QtDesktop& desktop, MainDialog& dialog, std::string_view storedDigest) {
    MainWindow& window = desktop.Window();
    window.OnClicked(control::kStart, [&dialog] { dialog.OnStart(); });
    window.OnClicked(control::kAdmin, [&desktop, &dialog, digest = std::string(storedDigest)] {
        if (AskAdminPassword(desktop, dialog.Texts().ChineseUi, digest, &desktop.Window())) {
            RevealAdminControls(desktop);
        }
    });
    window.OnClicked(control::kChooseOffer, [&dialog] { ChooseOffer(dialog); });
    window.OnClicked(control::kChoosePayload, [&dialog] { ChoosePayload(dialog); });
    window.OnClicked(control::kSet, [&dialog] { WriteDeviceInfo(dialog); });

    window.fillContextMenu = [&window](QMenu& menu) {
        // Enabled, unlike the original's system-menu entry: on Linux this is
        // the only way to the about box.
        menu.addAction(QString::fromUtf16(kAboutMenuText), &window, [&window] {
            AboutDialog about(&window);
            about.exec();
        });
    };
    window.closeGuard = [&desktop, &dialog] {
        if (!dialog.CloseWhenRunEnds()) {
            return true;
        }
        desktop.MessageBox(CloseRefusedText(dialog.Texts().ChineseUi));
        return false;
    };
}

}  // namespace zelk::app::qt
