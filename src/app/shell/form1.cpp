#include "shell/form1.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/foxpro.h"
#include "shell/addfolder.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "shell/isinstalled.h"
#include "shell/placement.h"
#include "shell/settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace qm::shell {

namespace {

const QString kAccessFilter = QStringLiteral(
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|");
const QString kFoxProFilter = QStringLiteral("Microsoft Database (*.dbc)|*.dbc|");
// Read-only box ticked, explorer-style dialog, long file names.
constexpr unsigned kOpenFlags = 0x280001;

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setFont(ControlFont());
    setFixedSize(Twips(8040), Twips(4525));

    Frame1 = place(new QGroupBox(QStringLiteral("FoxPro Login"), this), "Frame1", 120, 120, 7800, 1875);
    Option1 = place(new QRadioButton(QStringLiteral("DBC File:"), Frame1), "Option1", 240, 345, 1215, 255);
    Text1 = place(new TextBox(Frame1), "Text1", 2160, 300, 4815, 345);
    PushButton5 = place(new QPushButton(QStringLiteral("..."), Frame1), "PushButton5", 7080, 300, 480, 345);
    Option2 = place(new QRadioButton(QStringLiteral("Free Table Folder:"), Frame1), "Option2", 240, 845, 1815, 255);
    Text2 = place(new TextBox(Frame1), "Text2", 2160, 800, 4815, 345);
    PushButton4 = place(new QPushButton(QStringLiteral("..."), Frame1), "PushButton4", 7080, 795, 480, 345);
    PushButton3 = place(new QPushButton(QStringLiteral("Test Connection"), Frame1), "PushButton3", 240, 1305, 3600, 405);
    PushButton6 = place(new QPushButton(QStringLiteral("Help"), Frame1), "PushButton6", 3960, 1305, 3600, 405);

    Frame2 = place(new QGroupBox(QStringLiteral("Access Database"), this), "Frame2", 120, 2040, 7800, 1845);
    Label5 = place(new QLabel(QStringLiteral("MDB or ACCDB File:"), Frame2), "Label5", 240, 345, 1935, 255);
    Text3 = place(new TextBox(Frame2), "Text3", 2280, 300, 4695, 345);
    PushButton1 = place(new QPushButton(QStringLiteral("..."), Frame2), "PushButton1", 7080, 300, 450, 345);
    lblPassword = place(new QLabel(QStringLiteral("Password (if required):"), Frame2), "lblPassword", 240, 840, 1950, 225);
    Text4 = place(new TextBox(Frame2), "Text4", 2280, 800, 5265, 345);
    PushButton7 = place(new QPushButton(QStringLiteral("Load Sample/Example Database"), Frame2), "PushButton7", 240,
                        1260, 7280, 405);

    PushButton2 = place(new QPushButton(QStringLiteral("Next >"), this), "PushButton2", 120, 4000, 7800, 405);

    Option1->setChecked(true);
    Text4->setPasswordChar();
    setTabOrder(Option1, Text1);
    setTabOrder(Text1, PushButton5);
    setTabOrder(PushButton5, Option2);
    setTabOrder(Option2, Text2);
    setTabOrder(Text2, PushButton4);
    setTabOrder(PushButton4, PushButton3);
    setTabOrder(PushButton3, PushButton6);
    setTabOrder(PushButton6, Text3);
    setTabOrder(Text3, PushButton1);
    setTabOrder(PushButton1, Text4);
    setTabOrder(Text4, PushButton7);
    setTabOrder(PushButton7, PushButton2);

    MousePointer = new WindowPointer(this);
    MousePointer->addButtons({PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6, PushButton7});
    MousePointer->addSurfaces({this, Frame1, Frame2, Text1, Text2, Text3, Text4});

    connect(Text1, &QLineEdit::textChanged, this, [this] { Text1_Change(); });
    connect(Text2, &QLineEdit::textChanged, this, [this] { Text2_Change(); });
    connect(Text3, &QLineEdit::textChanged, this, [this] { Text3_Change(); });
    connect(Text4, &QLineEdit::textChanged, this, [this] { Text4_Change(); });
    Text1->GotFocus = [this] { Text1_GotFocus(); };
    Text2->GotFocus = [this] { Text2_GotFocus(); };
    Text3->GotFocus = [this] { Text3_GotFocus(); };
    connect(Option1, &QRadioButton::clicked, this, [this] { Option1_Click(); });
    connect(Option2, &QRadioButton::clicked, this, [this] { Option2_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
    connect(PushButton7, &QPushButton::clicked, this, [this] { PushButton7_Click(); });

    dataaccess::SetConnectionFieldsSource([this] {
        return dataaccess::ConnectionFields{Option1->isChecked(), Text1->text(), Text2->text(), Text3->text(),
                                            Text4->text()};
    });
}

Form1::~Form1() { dataaccess::SetConnectionFieldsSource({}); }

void Form1::Start()
{
    Form_Load();
    if (!wentToMainWindow_)
        show();
}

void Form1::Form_Load()
{
    ErrorHandler h(QStringLiteral("Form1.Form_Load"));
    h.run(10, [&] { ApplySkin(this); });
    h.run(20, [&] { setWindowTitle(QString::fromLatin1(kProductTitle)); });
    h.run(30, [&] { setWindowIcon(ApplicationIcon()); });
    h.run(40, [&] { SetApplicationTitle(); });
    h.run(50, [&] { MousePointer->LoadHandCursor(); });
    h.run(60, [&] { Text1->setText(GetSetting(QString::fromLatin1(key::DBCFile))); });
    h.run(70, [&] { Text2->setText(GetSetting(QString::fromLatin1(key::FreeTableFolder))); });
    h.run(80, [&] {
        if (GetSetting(QString::fromLatin1(key::FoxproOption)) == QLatin1String("2"))
            Option2->setChecked(true);
        else
            Option1->setChecked(true);
    });
    h.run(90, [&] { Text3->setText(GetSetting(QString::fromLatin1(key::AccessMDBFile))); });
    h.run(100, [&] { Text4->setText(GetSetting(QString::fromLatin1(key::AccessPassword))); });
    h.run(105, [&] {
        if (!GivenFile.isEmpty())
            OpenGivenFile(GivenFile);
    });
    // Going straight on when the remembered databases are usable.
    h.run(110, [&] {
        if (PathExists(Text3->text()) && dataaccess::TestFoxProConnection())
            NextAction();
    });
    h.run(120, [&] { CheckInstalled(); });
}

void Form1::NextAction()
{
    MousePointer->setKind(PointerKind::Hourglass);
    DefaultPointerAtEnd atEnd(MousePointer);
    if (PathExists(Text3->text()) && dataaccess::TestFoxProConnection()) {
        if (OpenMainWindow) {
            wentToMainWindow_ = true;
            OpenMainWindow();
        }
    }
}

void Form1::OpenGivenFile(const QString& path)
{
    const QFileInfo file(path);
    const QString suffix = file.suffix().toLower();
    const QString full = QDir::toNativeSeparators(file.absoluteFilePath());
    if (suffix == QLatin1String("mdb") || suffix == QLatin1String("accdb")) {
        Text3->setText(full);
    } else if (suffix == QLatin1String("dbc")) {
        Text1->setText(full);
        Option1->setChecked(true);
        Option1_Click();
    } else if (suffix == QLatin1String("dbf")) {
        Text2->setText(QDir::toNativeSeparators(file.absolutePath()));
        Option2->setChecked(true);
        Option2_Click();
    } else {
        MsgBox(QStringLiteral("%1 can't be opened here: it is neither an Access database (.mdb, .accdb) nor a "
                              "FoxPro database container (.dbc) or table (.dbf).")
                   .arg(full));
    }
}

void Form1::Text1_Change()
{
    ErrorHandler h(QStringLiteral("Form1.Text1_Change"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::DBCFile), Text1->text()); });
}

void Form1::Text2_Change()
{
    ErrorHandler h(QStringLiteral("Form1.Text2_Change"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::FreeTableFolder), Text2->text()); });
}

void Form1::Text3_Change()
{
    ErrorHandler h(QStringLiteral("Form1.Text3_Change"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::AccessMDBFile), Text3->text()); });
}

void Form1::Text4_Change()
{
    ErrorHandler h(QStringLiteral("Form1.Text4_Change"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::AccessPassword), Text4->text()); });
}

void Form1::Text1_GotFocus()
{
    ErrorHandler h(QStringLiteral("Form1.Text1_GotFocus"));
    h.run(10, [&] { Text1->setSelection(0, int(Text1->text().size())); });
}

void Form1::Text2_GotFocus()
{
    ErrorHandler h(QStringLiteral("Form1.Text2_GotFocus"));
    h.run(10, [&] { Text2->setSelection(0, int(Text2->text().size())); });
}

void Form1::Text3_GotFocus()
{
    ErrorHandler h(QStringLiteral("Form1.Text3_GotFocus"));
    h.run(10, [&] { Text3->setSelection(0, int(Text3->text().size())); });
}

void Form1::Option1_Click()
{
    ErrorHandler h(QStringLiteral("Form1.Option1_Click"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::FoxproOption), QStringLiteral("1")); });
}

void Form1::Option2_Click()
{
    ErrorHandler h(QStringLiteral("Form1.Option2_Click"));
    h.run(10, [&] { SaveSetting(QString::fromLatin1(key::FoxproOption), QStringLiteral("2")); });
}

void Form1::PushButton1_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton1_Click"));
    QString chosen;
    h.run(10, [&] {
        chosen = Dialogs().openFile(this, {QStringLiteral("Select Access Database"), kAccessFilter, QString(), kOpenFlags});
    });
    h.run(20, [&] {
        if (!chosen.isEmpty())
            Text3->setText(chosen);
    });
}

void Form1::PushButton5_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton5_Click"));
    QString chosen;
    h.run(10, [&] {
        chosen = Dialogs().openFile(this, {QStringLiteral("Select Foxpro Database"), kFoxProFilter, QString(), kOpenFlags});
    });
    h.run(20, [&] {
        if (!chosen.isEmpty())
            Text1->setText(chosen);
    });
}

void Form1::PushButton4_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton4_Click"));
    QString chosen;
    h.run(10, [&] { chosen = BrowseForFolder(this, QStringLiteral("Please select folder:")); });
    h.run(20, [&] {
        if (!chosen.isEmpty())
            Text2->setText(chosen);
    });
}

void Form1::PushButton7_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton7_Click"));
    // Nothing checks that the sample is there: opening it says so.
    h.run(10, [&] { Text3->setText(SampleDatabase()); });
}

void Form1::PushButton6_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton6_Click"));
    h.run(10, [&] { MsgBox(QStringLiteral("Make sure FoxPro is closed while using this application.")); });
}

void Form1::PushButton3_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton3_Click"));
    std::unique_ptr<ado::Connection> connection;
    h.run(10, [&] { connection = std::make_unique<ado::Connection>(); });
    // From here on every failure is "Could not connect.", with the reason
    // the provider gave, so the user can tell a wrong path from a damaged
    // container.
    try {
        MousePointer->setKind(PointerKind::Hourglass);
        if (!connection)
            throw ado::AdoError("The data-access connection could not be created.");
        connection->CursorLocation = ado::adUseServer;
        connection->Open(dataaccess::FoxProConnectionString().toStdString());
        MsgBox(QStringLiteral("Connection successful."));
        MousePointer->setKind(PointerKind::Default);
    } catch (...) {
        MsgBox(QStringLiteral("Could not connect.") + QStringLiteral("\r\n\r\n") +
               describeException(std::current_exception()));
        MousePointer->setKind(PointerKind::Default);
    }
}

void Form1::PushButton2_Click()
{
    ErrorHandler h(QStringLiteral("Form1.PushButton2_Click"));
    h.run(10, [&] { NextAction(); });
}

void Form1::Form_Unload()
{
    // Closing the connection window ends the program, every window with it.
    QCoreApplication::quit();
}

void Form1::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

} // namespace qm::shell
