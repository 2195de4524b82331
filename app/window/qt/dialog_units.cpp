#include "app/window/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

namespace zelk::app::qt {

QFont DialogFont(double pointSize) {
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPointSizeF(pointSize);
    if (QFontInfo(font).family().compare(font.family(), Qt::CaseInsensitive) == 0) {
        return font;
    }
    QFont system = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    system.setPointSizeF(pointSize);
    return system;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    averageCharWidth_ = (letters / 26 + 1) / 2;
    charHeight_ = metrics.height();
}

}  // namespace zelk::app::qt
