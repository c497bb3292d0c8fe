// A dialog service that answers from a script instead of asking a person:
// the tests install it (ScopedDialogService) and drive the real windows.
//
// Answers are queued per kind and taken in order.  Every dialog shown is
// recorded with its text, title, buttons and icon, as the user would have
// seen it (an empty title already replaced by the application title).
// A dialog shown with nothing queued for it is answered with its first
// button (or as cancelled, for pickers and input boxes) and recorded as
// unscripted, so a test can tell an expected box from a surprise.
#pragma once

#include "shell/dialogs.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace qm::shell {

class ScriptedDialogService final : public DialogService {
public:
    enum class Kind { MessageBox, InputBox, OpenFile, BrowseForFolder };

    struct Shown {
        Kind kind = Kind::MessageBox;
        QString text;    // message or prompt
        QString title;
        Buttons buttons = Buttons::OK;
        Icon icon = Icon::None;
        QString filter;  // OpenFile: the filter as the window wrote it
        unsigned flags = 0;
        QString defaultText; // InputBox: the proposed text; OpenFile: initial name
        bool unscripted = false;
    };

    void queueAnswer(Answer a) { answers_.push_back(a); }
    void queueInput(const QString& text) { inputs_.push_back(text); }
    void queueFile(const QString& path) { files_.push_back(path); }   // "" = cancelled
    void queueFolder(const QString& path) { folders_.push_back(path); } // "" = cancelled

    // Runs at every DoEvents, after the pending window messages have been
    // processed: lets a test act "while" a long loop is running.
    void onDoEvents(std::function<void()> f) { onDoEvents_ = std::move(f); }

    const std::vector<Shown>& shown() const { return shown_; }
    // The texts of the message boxes shown, in order.
    QStringList messages() const;
    int doEventsCount() const { return doEvents_; }
    bool allAnswersUsed() const;
    void clearRecord() { shown_.clear(); doEvents_ = 0; }

    Answer messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    QString inputBox(QWidget* owner, const QString& prompt, const QString& title, const QString& defaultText) override;
    QString openFile(QWidget* owner, const OpenFileRequest& request) override;
    QString browseForFolder(QWidget* owner, const QString& title) override;
    void setClipboardText(const QString& text) override { clipboard_ = text; }
    QString clipboardText() override { return clipboard_; }
    void doEvents() override;

private:
    std::deque<Answer> answers_;
    std::deque<QString> inputs_, files_, folders_;
    std::vector<Shown> shown_;
    QString clipboard_;
    int doEvents_ = 0;
    std::function<void()> onDoEvents_;
};

} // namespace qm::shell
