#include "shell/scripted_dialogs.h"

#include "shell/chrome.h"

#include <QCoreApplication>

namespace qm::shell {

namespace {

Answer firstButton(Buttons b)
{
    switch (b) {
    case Buttons::OK:
    case Buttons::OKCancel: return Answer::OK;
    case Buttons::AbortRetryIgnore: return Answer::Abort;
    case Buttons::YesNoCancel:
    case Buttons::YesNo: return Answer::Yes;
    case Buttons::RetryCancel: return Answer::Retry;
    }
    return Answer::OK;
}

QString orApplicationTitle(const QString& title) { return title.isEmpty() ? ApplicationTitle() : title; }

} // namespace

QStringList ScriptedDialogService::messages() const
{
    QStringList out;
    for (const Shown& s : shown_)
        if (s.kind == Kind::MessageBox)
            out << s.text;
    return out;
}

bool ScriptedDialogService::allAnswersUsed() const
{
    return answers_.empty() && inputs_.empty() && files_.empty() && folders_.empty();
}

Answer ScriptedDialogService::messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    Shown s;
    s.kind = Kind::MessageBox;
    s.text = text;
    s.title = orApplicationTitle(title);
    s.buttons = buttons;
    s.icon = icon;
    Answer a = firstButton(buttons);
    if (answers_.empty()) {
        s.unscripted = true;
    } else {
        a = answers_.front();
        answers_.pop_front();
    }
    shown_.push_back(s);
    return a;
}

QString ScriptedDialogService::inputBox(QWidget*, const QString& prompt, const QString& title, const QString& defaultText)
{
    Shown s;
    s.kind = Kind::InputBox;
    s.text = prompt;
    s.title = orApplicationTitle(title);
    s.defaultText = defaultText;
    QString answer;
    if (inputs_.empty()) {
        s.unscripted = true;
    } else {
        answer = inputs_.front();
        inputs_.pop_front();
    }
    shown_.push_back(s);
    return answer;
}

QString ScriptedDialogService::openFile(QWidget*, const OpenFileRequest& request)
{
    Shown s;
    s.kind = Kind::OpenFile;
    s.title = request.title;
    s.filter = request.filter;
    s.flags = request.flags;
    s.defaultText = request.fileName;
    QString answer;
    if (files_.empty()) {
        s.unscripted = true;
    } else {
        answer = files_.front();
        files_.pop_front();
    }
    shown_.push_back(s);
    return answer;
}

QString ScriptedDialogService::browseForFolder(QWidget*, const QString& title)
{
    Shown s;
    s.kind = Kind::BrowseForFolder;
    s.title = title;
    QString answer;
    if (folders_.empty()) {
        s.unscripted = true;
    } else {
        answer = folders_.front();
        folders_.pop_front();
    }
    shown_.push_back(s);
    return answer;
}

void ScriptedDialogService::doEvents()
{
    ++doEvents_;
    QCoreApplication::processEvents();
    if (onDoEvents_)
        onDoEvents_();
}

} // namespace qm::shell
