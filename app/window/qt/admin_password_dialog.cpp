#include "app/window/qt/admin_password_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/window/qt/dialog_units.h"

namespace zelk::app::qt {
namespace {

constexpr int kWidth = 241;  // dialog units
constexpr int kHeight = 79;
constexpr double kPointSize = 8;
constexpr int kPasswordEdit = 1002;

QString ToQt(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

AdminPasswordDialog::AdminPasswordDialog(CAdminPassword& password, QWidget* parent)
    : QDialog(parent), password_(password) {
    const QFont font = DialogFont(kPointSize);
    const DialogUnits units(font);
    const AdminPasswordTexts& texts = password_.Texts();
    setFont(font);
    setWindowTitle(ToQt(texts.caption));
    setFixedSize(units.Size(kWidth, kHeight));

    auto* label = new QLabel(ToQt(texts.label), this);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(units.Rect(14, 10, 213, 10));

    auto* edit = new QLineEdit(this);
    edit->setObjectName(QStringLiteral("control_%1").arg(kPasswordEdit));
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(static_cast<int>(kPasswordMaxLength));
    edit->setGeometry(units.Rect(14, 26, 213, 14));

    auto* enter = new QPushButton(ToQt(texts.enter), this);
    enter->setObjectName(QStringLiteral("control_1"));
    enter->setGeometry(units.Rect(60, 54, 50, 14));
    enter->setDefault(true);
    auto* quit = new QPushButton(ToQt(texts.quit), this);
    quit->setObjectName(QStringLiteral("control_2"));
    quit->setGeometry(units.Rect(131, 54, 50, 14));

    connect(enter, &QPushButton::clicked, this, [this, edit] {
        if (password_.Check(edit->text().toStdU16String())) {
            accept();
        }
    });
    connect(quit, &QPushButton::clicked, this, &QDialog::reject);
    edit->setFocus();
}

bool AskAdminPassword(Desktop& desktop, bool chinese, std::string_view storedDigest,
                      QWidget* parent) {
    CAdminPassword password(desktop, chinese, storedDigest);
    AdminPasswordDialog dialog(password, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace zelk::app::qt
