#include "app/window/qt/screenshot.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "app/dialog/package_authoring.h"

namespace zelk::app::qt {
namespace {

constexpr int kPollMs = 100;
constexpr int kSettleMs = 300;  // lets the last log line and the caption paint

void SaveWhenDone(QtDesktop& desktop, MainDialog& dialog, const QString& file) {
    if (dialog.RunActive()) {
        QTimer::singleShot(kPollMs, &desktop.Window(),
                           [&desktop, &dialog, file] { SaveWhenDone(desktop, dialog, file); });
        return;
    }
    QTimer::singleShot(kSettleMs, &desktop.Window(), [&desktop, file] {
        if (!desktop.Window().grab().save(file, "PNG")) {
            std::fprintf(stderr, "ZelkUpdateTool: cannot write %s\n", qPrintable(file));
        }
        desktop.Window().CloseUnasked();
        QCoreApplication::quit();
    });
}

}  // namespace

void ScheduleScreenshot(QtDesktop& desktop, MainDialog& dialog, const QString& file,
                        bool revealAdmin) {
    QTimer::singleShot(0, &desktop.Window(), [&desktop, &dialog, file, revealAdmin] {
        if (revealAdmin) {
            RevealAdminControls(desktop);
        }
        dialog.OnStart();
        SaveWhenDone(desktop, dialog, file);
    });
}

}  // namespace zelk::app::qt
