#include "shell/controls.h"

#include <QFocusEvent>

namespace qm::shell {

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {}

void TextBox::setPasswordChar()
{
    setEchoMode(QLineEdit::Password);
    // 42 is "*".
    setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
}

void TextBox::focusInEvent(QFocusEvent* event)
{
    const Qt::FocusReason r = event->reason();
    if (r == Qt::TabFocusReason || r == Qt::BacktabFocusReason || r == Qt::ShortcutFocusReason) {
        QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
        QLineEdit::focusInEvent(&plain);
    } else {
        QLineEdit::focusInEvent(event);
    }
    if (GotFocus)
        GotFocus();
}

} // namespace qm::shell
