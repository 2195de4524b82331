// The main dialog's log (control 1010): read-only rich text in bold, each
// entry in its own colour, the newest always in view.
#pragma once

#include <QFont>
#include <QString>
#include <QTextEdit>

#include "app/desktop/desktop.h"

namespace zelk::app::qt {

QTextEdit* CreateLogPane(const QFont& font, QWidget* parent);
// Inserts `text` at the end in `colour`; only the colour is set, the rest is
// the pane's font. CR LF line ends become paragraph breaks.
void AppendToLogPane(QTextEdit& pane, const QString& text, Rgb colour);

}  // namespace zelk::app::qt
