#include "app/window/qt/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

#include "app/window/qt/control_table.h"
#include "app/window/qt/log_pane.h"

namespace zelk::app::qt {
namespace {

constexpr int kOkButton = 1;
constexpr int kCancelButton = 2;

QWidget* CreateControl(const ControlSpec& spec, QWidget* parent, QTextEdit*& logPane) {
    const QString text = QString::fromUtf16(spec.text);
    switch (spec.kind) {
        case ControlKind::Button:
            return new QPushButton(text, parent);
        case ControlKind::Label: {
            auto* label = new QLabel(text, parent);
            // A Windows static text starts at its top left corner.
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case ControlKind::Edit:
        case ControlKind::ReadOnlyEdit: {
            auto* edit = new QLineEdit(text, parent);
            edit->setReadOnly(spec.kind == ControlKind::ReadOnlyEdit);
            return edit;
        }
        case ControlKind::LogPane:
            logPane = CreateLogPane(DialogFont(kLogPointSize), parent);
            return logPane;
        case ControlKind::CheckBox:
            return new QCheckBox(text, parent);
    }
    return nullptr;
}

}  // namespace

MainWindow::MainWindow() : units_(DialogFont(kMainDialogPointSize)) {
    setFont(DialogFont(kMainDialogPointSize));
    setWindowTitle(QString());
    setFixedSize(units_.Size(kMainDialogWidth, kMainDialogHeight));
    for (const ControlSpec& spec : MainDialogControls()) {
        QWidget* control = CreateControl(spec, this, logPane_);
        control->setObjectName(QStringLiteral("control_%1").arg(spec.id));
        control->setGeometry(units_.Rect(spec.x, spec.y, spec.width, spec.height));
        control->setVisible(spec.visible);
        controls_[spec.id] = control;
    }
    // OK (1) and Cancel (2) end the dialog, hidden as they are; closing asks
    // closeGuard like the close box does.
    for (const int id : {kOkButton, kCancelButton}) {
        if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
            connect(button, &QAbstractButton::clicked, this, [this] { close(); });
        }
    }
}

QWidget* MainWindow::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

void MainWindow::SetControlText(int id, const QString& text) {
    QWidget* control = Control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* pane = qobject_cast<QTextEdit*>(control)) {
        pane->setPlainText(text);
    }
}

QString MainWindow::ControlText(int id) const {
    QWidget* control = Control(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        return button->text();
    }
    if (auto* label = qobject_cast<QLabel*>(control)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* pane = qobject_cast<QTextEdit*>(control)) {
        return pane->toPlainText();
    }
    return {};
}

bool MainWindow::IsChecked(int id) const {
    auto* box = qobject_cast<QAbstractButton*>(Control(id));
    return box != nullptr && box->isChecked();
}

void MainWindow::SetChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QAbstractButton*>(Control(id)); box && box->isCheckable()) {
        box->setChecked(checked);
    }
}

void MainWindow::OnClicked(int id, std::function<void()> action) {
    if (auto* button = qobject_cast<QAbstractButton*>(Control(id))) {
        connect(button, &QAbstractButton::clicked, this,
                [action = std::move(action)] { action(); });
    }
}

void MainWindow::CloseUnasked() {
    closingUnasked_ = true;
    close();
    closingUnasked_ = false;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closingUnasked_ && closeGuard && !closeGuard()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    const bool escape = event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier;
    const bool enter = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                       (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (!escape && !enter) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (auto* button = qobject_cast<QPushButton*>(focusWidget()); enter && button != nullptr) {
        if (button->isVisible() && button->isEnabled()) {
            button->click();
        }
        return;
    }
    auto* ok = qobject_cast<QAbstractButton*>(Control(escape ? kCancelButton : kOkButton));
    if (ok != nullptr) {
        ok->click();
    }
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (!fillContextMenu) {
        return;
    }
    QMenu menu(this);
    fillContextMenu(menu);
    if (!menu.isEmpty()) {
        menu.exec(event->globalPos());
    }
}

}  // namespace zelk::app::qt
