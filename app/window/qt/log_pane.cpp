#include "app/window/qt/log_pane.h"

#include <QColor>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>

namespace zelk::app::qt {

QTextEdit* CreateLogPane(const QFont& font, QWidget* parent) {
    auto* pane = new QTextEdit(parent);
    pane->setReadOnly(true);
    pane->setAcceptRichText(true);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setLineWrapMode(QTextEdit::WidgetWidth);
    QFont bold = font;
    bold.setBold(true);
    pane->document()->setDefaultFont(bold);
    pane->setFont(bold);
    return pane;
}

void AppendToLogPane(QTextEdit& pane, const QString& text, Rgb colour) {
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor cursor(pane.document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(QColor(colour.red, colour.green, colour.blue));
    cursor.insertText(plain, format);
    pane.setTextCursor(cursor);
    pane.ensureCursorVisible();
    pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum());
}

}  // namespace zelk::app::qt
