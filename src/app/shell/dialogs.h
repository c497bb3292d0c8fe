// Every conversation the program has with the user outside its own windows:
// message boxes, input boxes, the file-open dialog, the folder picker, the
// clipboard, and letting pending window messages be processed (DoEvents).
//
// Windows and modules never call QMessageBox, QFileDialog, QInputDialog or
// QClipboard themselves; they go through Dialogs(), which is the Qt service
// in the program and a ScriptedDialogService (scripted_dialogs.h) in tests.
#pragma once

#include <QString>

class QWidget;

namespace qm::shell {

// Button sets of a message box, in the order the buttons appear.
enum class Buttons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };

enum class Icon { None, Critical, Question, Exclamation, Information };

// Which button closed a message box.
enum class Answer { OK, Cancel, Abort, Retry, Ignore, Yes, No };

// The file-open dialog's settings.  The filter is written as pairs
// "description|patterns|description|patterns|"; patterns are separated by ';'.
struct OpenFileRequest {
    QString title;
    QString filter;
    QString fileName;        // initial name ("" for none)
    unsigned flags = 0;      // the dialog's option bits as the window asked for them
};

class DialogService {
public:
    virtual ~DialogService() = default;

    // A message box.  An empty title means the application title
    // (ApplicationTitle(), chrome.h); the service fills it in.
    virtual Answer messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title) = 0;

    // An input box; "" when cancelled, like the platform's InputBox.
    // An empty title means the application title.
    virtual QString inputBox(QWidget* owner, const QString& prompt, const QString& title,
                             const QString& defaultText) = 0;

    // The chosen file's full path, or "" when the dialog was cancelled.
    virtual QString openFile(QWidget* owner, const OpenFileRequest& request) = 0;

    // The chosen folder's path, or "" when the picker was cancelled.
    virtual QString browseForFolder(QWidget* owner, const QString& title) = 0;

    virtual void setClipboardText(const QString& text) = 0;
    virtual QString clipboardText() = 0;

    // Lets pending window messages be processed, so the windows repaint
    // during a long loop.
    virtual void doEvents() = 0;
};

// The service in use.  Until one is installed this is the Qt service.
DialogService& Dialogs();

// Installs a service for the life of this object, then puts the previous
// one back.  The service must outlive the scope.
class ScopedDialogService {
public:
    explicit ScopedDialogService(DialogService& service);
    ~ScopedDialogService();
    ScopedDialogService(const ScopedDialogService&) = delete;
    ScopedDialogService& operator=(const ScopedDialogService&) = delete;

private:
    DialogService* previous_;
};

// Shortcuts that read like the statements of the event procedures.
// MsgBox with no title carries the application title.
Answer MsgBox(const QString& text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              const QString& title = {});
void DoEvents();

// Turns a filter written as "description|patterns|..." into Qt's form
// "description (patterns);;...".  Patterns separated by ';' become
// space-separated, as Qt wants them.
QString qtFileFilter(const QString& pairs);

// Message texts use CR LF and lone CR as the platform's boxes did; a Qt box
// needs plain line feeds.
QString displayText(const QString& text);

} // namespace qm::shell
