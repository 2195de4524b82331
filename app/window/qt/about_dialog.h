// The about box (template 100): the program's icon, name and version, and OK.
#pragma once

#include <QDialog>

namespace zelk::app::qt {

class AboutDialog final : public QDialog {
  public:
    explicit AboutDialog(QWidget* parent);
};

// The text of the menu entry that opens the about box (string 101).
inline constexpr char16_t kAboutMenuText[] = u"{4695579F-999A-41d4-9FAF-EFFCE93EBF15}";

}  // namespace zelk::app::qt
