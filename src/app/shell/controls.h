// Small adaptations of Qt's controls to the behaviour the windows were
// designed with.
#pragma once

#include <QLineEdit>

#include <functional>

namespace qm::shell {

// A text box.  Receiving the focus selects nothing by itself (Qt's line edit
// selects everything when tabbed into; the windows decide that themselves
// in their GotFocus procedures), and GotFocus runs after the focus arrived.
class TextBox : public QLineEdit {
public:
    explicit TextBox(QWidget* parent = nullptr);

    std::function<void()> GotFocus;

    // Every character shown as "*"; the text itself stays as typed.
    void setPasswordChar();

protected:
    void focusInEvent(QFocusEvent* event) override;
};

} // namespace qm::shell
