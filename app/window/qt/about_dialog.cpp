#include "app/window/qt/about_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "app/window/qt/dialog_units.h"

namespace zelk::app::qt {
namespace {

constexpr int kWidth = 170;  // dialog units
constexpr int kHeight = 62;
constexpr double kPointSize = 8;

// The program has no icon file of its own on Linux: the application's icon
// when one was set, the style's information icon otherwise.
QIcon ProgramIcon(const QWidget& widget) {
    const QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? widget.style()->standardIcon(QStyle::SP_MessageBoxInformation) : icon;
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    const QFont font = DialogFont(kPointSize);
    const DialogUnits units(font);
    setFont(font);
    setWindowTitle(QString::fromUtf16(u"关于 ZelkUpdateTool"));
    setFixedSize(units.Size(kWidth, kHeight));

    const QRect iconPlace = units.Rect(14, 14, 21, 20);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("about_icon"));
    icon->setPixmap(ProgramIcon(*this).pixmap(iconPlace.size().boundedTo(QSize(32, 32))));
    icon->setGeometry(iconPlace);

    auto* version = new QLabel(QString::fromUtf16(u"ZelkUpdateTool，1.0 版"), this);
    version->setObjectName(QStringLiteral("about_version"));
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setGeometry(units.Rect(42, 14, 114, 8));

    auto* ok = new QPushButton(QString::fromUtf16(u"确定"), this);
    ok->setObjectName(QStringLiteral("control_1"));
    ok->setGeometry(units.Rect(113, 41, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace zelk::app::qt
