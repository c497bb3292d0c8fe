#include "sqlwindow/form4.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "shell/placement.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace qm::sqlwindow {

using shell::DefaultPointerAtEnd;
using shell::place;
using shell::Twips;

namespace {

QString number(qsizetype n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(n)); }

} // namespace

Form4::Form4(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form4"));
    setFont(shell::ControlFont());
    setFixedSize(Twips(8040), Twips(4140));

    Frame1 = place(new QGroupBox(QStringLiteral("SQL"), this), "Frame1", 120, 90, 7800, 3105);
    Text1 = place(new ScriptEditor(Frame1), "Text1", 240, 300, 7335, 2595);
    PushButton1 = place(new QPushButton(QString::fromLatin1(kExecuteOnUnknown), this), "PushButton1", 120, 3300, 3840, 405);
    PushButton2 = place(new QPushButton(QStringLiteral("Copy SQL To Clipboard"), this), "PushButton2", 4080, 3300, 3840, 405);
    lblStatus = place(new QLabel(this), "lblStatus", 120, 3780, 4800, 255);
    ProgressBar1 = place(new QProgressBar(this), "ProgressBar1", 5040, 3780, 2880, 255);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();

    Text1->setBuffer(&script_);
    setTabOrder(Text1, PushButton1);
    setTabOrder(PushButton1, PushButton2);

    MousePointer = new shell::WindowPointer(this);
    MousePointer->addButtons({PushButton1, PushButton2});
    MousePointer->addSurfaces({Frame1});

    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    // The line count follows the script, once per round of window messages.
    auto countLater = [this] {
        if (lineCountPending_)
            return;
        lineCountPending_ = true;
        QTimer::singleShot(0, this, [this] {
            lineCountPending_ = false;
            if (!executing_)
                showLineCount();
        });
    };
    connect(&script_, &ScriptBuffer::appended, this, countLater);
    connect(&script_, &ScriptBuffer::reset, this, countLater);
    connect(&script_, &ScriptBuffer::edited, this, countLater);
    showLineCount();
}

Form4::~Form4() = default;

void Form4::Form_Load()
{
    shell::ErrorHandler h(QStringLiteral("Form4.Form_Load"));
    h.run(10, [&] { shell::ApplyBackColor(this); });
    h.run(20, [&] { setWindowIcon(shell::ApplicationIcon()); });
    h.run(30, [&] { MousePointer->LoadHandCursor(); });
    h.run(40, [&] { setWindowTitle(QString::fromLatin1(shell::kProductTitle)); });
}

void Form4::showLineCount()
{
    const qsizetype lines = script_.lineCount();
    lblStatus->setText(lines == 1 ? QStringLiteral("1 line") : number(lines) + QStringLiteral(" lines"));
}

void Form4::showProgress(qsizetype statements, qsizetype unitsDone, qsizetype unitsTotal)
{
    lblStatus->setText(QStringLiteral("Executing: %1 statements done").arg(number(statements)));
    ProgressBar1->setValue(unitsTotal > 0 ? static_cast<int>(unitsDone * 1000 / unitsTotal) : 0);
}

void Form4::PushButton1_Click()
{
    if (executing_)
        return;
    shell::ErrorHandler h(QStringLiteral("Form4.PushButton1_Click"));
    MousePointer->setKind(shell::PointerKind::Hourglass);
    DefaultPointerAtEnd atEnd(MousePointer);

    std::unique_ptr<ado::Connection> foxpro, access;
    h.run(10, [&] { foxpro = std::make_unique<ado::Connection>(); });
    h.run(20, [&] { access = std::make_unique<ado::Connection>(); });
    h.run(30, [&] {
        foxpro->CursorLocation = ado::adUseServer;
        foxpro->Open(dataaccess::FoxProConnectionString().toStdString());
    });
    h.run(40, [&] {
        access->CursorLocation = ado::adUseClient;
        access->Mode = ado::adModeReadWrite;
        access->Open(dataaccess::AccessConnectionString(QString(), QString()).toStdString());
    });
    h.run(50, [&] {
        const QString caption = PushButton1->text();
        ScriptTarget target;
        if (caption == QLatin1String(kExecuteOnFoxPro))
            target = ScriptTarget::FoxPro;
        else if (caption == QLatin1String(kExecuteOnAccess))
            target = ScriptTarget::Access;
        else {
            shell::MsgBox(QStringLiteral("Form4.Pushbutton1.Caption Error please email screenshot to ") +
                          QString::fromLatin1(shell::kSupportAddress));
            return;
        }
        if (!foxpro || !access)
            return; // reported above

        // The script stays as it is while it runs; the window keeps
        // repainting and shows how far the run has come.
        executing_ = true;
        Text1->setReadOnly(true);
        PushButton1->setEnabled(false);
        ProgressBar1->setValue(0);
        ProgressBar1->show();
        struct Done {
            Form4* f;
            ~Done()
            {
                f->executing_ = false;
                f->Text1->setReadOnly(false);
                f->PushButton1->setEnabled(true);
                f->ProgressBar1->hide();
                f->showLineCount();
            }
        } done{this};
        showProgress(0, 0, script_.length());
        shell::DoEvents();
        lastRun_ = ExecuteScript(script_, target, *foxpro, *access,
                                 [this](qsizetype statements, qsizetype unitsDone, qsizetype unitsTotal) {
                                     showProgress(statements, unitsDone, unitsTotal);
                                     shell::DoEvents();
                                     return true;
                                 });
        if (lastRun_.statements == 0)
            throw ado::AdoError("Command text was not set for the command object.");
        if (!lastRun_.ok())
            throw Error(lastRun_.report().toStdString());
    });
    h.run(60, [&] {
        if (RefillLists)
            RefillLists();
    });
}

void Form4::PushButton2_Click()
{
    shell::ErrorHandler h(QStringLiteral("Form4.PushButton2_Click"));
    h.run(10, [&] { shell::Dialogs().setClipboardText(script_.text()); });
}

void Form4::closeEvent(QCloseEvent* event)
{
    // A run in progress holds the script and both connections: the window
    // stays until it has finished.
    if (executing_)
        event->ignore();
    else
        event->accept();
}

} // namespace qm::sqlwindow
