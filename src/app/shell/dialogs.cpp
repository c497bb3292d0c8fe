#include "shell/dialogs.h"

#include "shell/chrome.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace qm::shell {

namespace {

QMessageBox::StandardButton toQt(Answer a)
{
    switch (a) {
    case Answer::OK: return QMessageBox::Ok;
    case Answer::Cancel: return QMessageBox::Cancel;
    case Answer::Abort: return QMessageBox::Abort;
    case Answer::Retry: return QMessageBox::Retry;
    case Answer::Ignore: return QMessageBox::Ignore;
    case Answer::Yes: return QMessageBox::Yes;
    case Answer::No: return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

std::vector<Answer> answersOf(Buttons b)
{
    switch (b) {
    case Buttons::OK: return {Answer::OK};
    case Buttons::OKCancel: return {Answer::OK, Answer::Cancel};
    case Buttons::AbortRetryIgnore: return {Answer::Abort, Answer::Retry, Answer::Ignore};
    case Buttons::YesNoCancel: return {Answer::Yes, Answer::No, Answer::Cancel};
    case Buttons::YesNo: return {Answer::Yes, Answer::No};
    case Buttons::RetryCancel: return {Answer::Retry, Answer::Cancel};
    }
    return {Answer::OK};
}

QMessageBox::Icon toQt(Icon i)
{
    switch (i) {
    case Icon::None: return QMessageBox::NoIcon;
    case Icon::Critical: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Exclamation: return QMessageBox::Warning;
    case Icon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

QString titleOrApplicationTitle(const QString& title)
{
    return title.isEmpty() ? ApplicationTitle() : title;
}

// The service of the real program.
class QtDialogService final : public DialogService {
public:
    Answer messageBox(const QString& text, Buttons buttons, Icon icon, const QString& title) override
    {
        QMessageBox box(toQt(icon), titleOrApplicationTitle(title), displayText(text), QMessageBox::NoButton,
                        QApplication::activeWindow());
        box.setTextFormat(Qt::PlainText);
        const std::vector<Answer> answers = answersOf(buttons);
        for (Answer a : answers)
            box.addButton(toQt(a));
        box.setDefaultButton(toQt(answers.front()));
        // Closing the box with its window button answers Cancel where
        // there is one, otherwise the only (or last) button.
        const auto hasCancel = std::find(answers.begin(), answers.end(), Answer::Cancel) != answers.end();
        box.setEscapeButton(toQt(hasCancel ? Answer::Cancel : answers.back()));
        box.exec();
        const auto clicked = box.standardButton(box.clickedButton());
        for (Answer a : answers)
            if (toQt(a) == clicked)
                return a;
        return hasCancel ? Answer::Cancel : answers.back();
    }

    QString inputBox(QWidget* owner, const QString& prompt, const QString& title, const QString& defaultText) override
    {
        bool ok = false;
        QString text = QInputDialog::getText(owner, titleOrApplicationTitle(title), displayText(prompt),
                                             QLineEdit::Normal, defaultText, &ok);
        return ok ? text : QString();
    }

    QString openFile(QWidget* owner, const OpenFileRequest& request) override
    {
        // Qt's own dialog matches the filter's patterns ignoring letter case,
        // as users of these files expect (ORDERS.MDB is an .mdb file); the
        // desktop's native dialogs may not.  It has no read-only box, so the
        // request's flags have nothing to set here.
        return QFileDialog::getOpenFileName(owner, request.title, request.fileName, qtFileFilter(request.filter),
                                            nullptr, QFileDialog::DontUseNativeDialog);
    }

    QString browseForFolder(QWidget* owner, const QString& title) override
    {
        return QFileDialog::getExistingDirectory(owner, title, QString(), QFileDialog::ShowDirsOnly);
    }

    void setClipboardText(const QString& text) override { QGuiApplication::clipboard()->setText(text); }
    QString clipboardText() override { return QGuiApplication::clipboard()->text(); }

    void doEvents() override { QCoreApplication::processEvents(); }
};

QtDialogService& qtService()
{
    static QtDialogService service;
    return service;
}

DialogService* current = nullptr;

} // namespace

DialogService& Dialogs() { return current ? *current : qtService(); }

ScopedDialogService::ScopedDialogService(DialogService& service) : previous_(current) { current = &service; }
ScopedDialogService::~ScopedDialogService() { current = previous_; }

Answer MsgBox(const QString& text, Buttons buttons, Icon icon, const QString& title)
{
    return Dialogs().messageBox(text, buttons, icon, title);
}

void DoEvents() { Dialogs().doEvents(); }

QString qtFileFilter(const QString& pairs)
{
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        patterns = patterns.simplified();
        if (description.isEmpty() && patterns.isEmpty())
            continue;
        // Qt reads the patterns from the last parenthesised group, so a
        // description that already ends in exactly these patterns is kept as
        // it is, and any other gets the patterns appended.
        static const QRegularExpression trailing(QStringLiteral("\\(([^()]*)\\)$"));
        const auto m = trailing.match(description);
        if (m.hasMatch() && m.captured(1).replace(QLatin1Char(','), QLatin1Char(' ')).simplified() == patterns)
            filters << description;
        else
            filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

QString displayText(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

} // namespace qm::shell
