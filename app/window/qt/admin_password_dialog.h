// The administrator password dialog (template 130): a label, a masked edit
// (1002) of at most 20 characters and the buttons Enter (1) and Quit (2).
// Enter asks CAdminPassword; a wrong password leaves the dialog open.
#pragma once

#include <QDialog>

#include "app/dialog/admin_password.h"

namespace zelk::app::qt {

class AdminPasswordDialog final : public QDialog {
  public:
    AdminPasswordDialog(CAdminPassword& password, QWidget* parent);

  private:
    CAdminPassword& password_;
};

// Shows the dialog; true when the right password was entered.
bool AskAdminPassword(Desktop& desktop, bool chinese, std::string_view storedDigest,
                      QWidget* parent);

}  // namespace zelk::app::qt
