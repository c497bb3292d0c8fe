// What every window's constructor and long actions share: placing a control
// where the window was designed to have it, and the pointer that goes back
// to the default when an action ends.
#pragma once

#include "shell/chrome.h"

#include <QString>
#include <QWidget>

namespace qm::shell {

// Positions are written as the window was designed: left, top, width,
// height in twips, counted inside the frame for the controls of a frame.
template <class W>
W* place(W* w, const char* name, int left, int top, int width, int height)
{
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
    return w;
}

// The pointer goes back to the default when an action ends, also when one
// of its steps failed on the way.
class DefaultPointerAtEnd {
public:
    explicit DefaultPointerAtEnd(WindowPointer* p) : p_(p) {}
    ~DefaultPointerAtEnd() { p_->setKind(PointerKind::Default); }
    DefaultPointerAtEnd(const DefaultPointerAtEnd&) = delete;
    DefaultPointerAtEnd& operator=(const DefaultPointerAtEnd&) = delete;

private:
    WindowPointer* p_;
};

} // namespace qm::shell
