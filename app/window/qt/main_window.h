// The main dialog's window: every control of template 102 by id, at its
// place, with objectName "control_<id>". It knows nothing of the update; the
// actions are attached from outside (dialog_actions.h).
#pragma once

#include <QString>
#include <QTextEdit>
#include <QWidget>
#include <functional>
#include <map>

#include "app/window/qt/dialog_units.h"

class QMenu;

namespace zelk::app::qt {

class MainWindow final : public QWidget {
  public:
    MainWindow();

    // Null for an id the dialog does not have.
    QWidget* Control(int id) const;
    QTextEdit& LogPane() const { return *logPane_; }
    const DialogUnits& Units() const { return units_; }

    void SetControlText(int id, const QString& text);
    QString ControlText(int id) const;
    bool IsChecked(int id) const;
    void SetChecked(int id, bool checked);
    // Runs `action` when the button `id` is clicked.
    void OnClicked(int id, std::function<void()> action);

    // Asked before the window closes at the user's request; false keeps it open.
    std::function<bool()> closeGuard;
    // Fills the menu shown on a right click on the dialog's background.
    std::function<void(QMenu&)> fillContextMenu;
    // Closes without asking closeGuard (the program's own request).
    void CloseUnasked();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // As in a dialog: Escape is Cancel, Enter is OK (the default button) unless
    // a push button has the focus, which Enter then presses.
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    QTextEdit* logPane_ = nullptr;
    bool closingUnasked_ = false;
};

}  // namespace zelk::app::qt
