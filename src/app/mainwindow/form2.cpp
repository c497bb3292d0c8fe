#include "mainwindow/form2.h"

#include "customization/form3.h"

#include "dataaccess/access.h"
#include "dataaccess/foxpro.h"
#include "dataaccess/globals.h"
#include "shell/addfolder.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"
#include "shell/form1.h"
#include "shell/placement.h"
#include "shell/settings.h"
#include "sqlwindow/form4.h"
#include "toaccess/sendtoaccess.h"
#include "tofoxpro/sendtofoxpro.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>

namespace qm::mainwindow {

using shell::ErrorHandler;
using shell::place;
using shell::Twips;

namespace {

QListView* makeList(QGroupBox* frame, const char* name, dataaccess::ObjectList& rows)
{
    auto* list = place(new QListView(frame), name, 240, 360, 3330, 1635);
    list->setFont(shell::ControlFont(true, 9));
    list->setModel(&rows);
    list->setSelectionModel(rows.selectionModel());
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setUniformItemSizes(true); // thousands of rows lay out at once
    return list;
}

void selectAll(dataaccess::ObjectList& rows, bool selected)
{
    for (int i = 0; i < rows.ListCount(); ++i)
        rows.setSelected(i, selected);
}

const QString kCustomizationCaption = QStringLiteral("Send with data type customization");
const QString kContactPage = QStringLiteral("https://quillmere.app/contact");

} // namespace

Form2::Form2(shell::Form1* connectionWindow, QWidget* parent) : QWidget(parent), form1_(connectionWindow)
{
    setObjectName(QStringLiteral("Form2"));
    setFont(shell::ControlFont());
    setFixedSize(Twips(8040), Twips(5985));

    Frame1 = place(new QGroupBox(QStringLiteral("Access Tables && Queries"), this), "Frame1", 120, 120, 3840, 4700);
    List1 = makeList(Frame1, "List1", AccessRows);
    PushButton10 = place(new QPushButton(QStringLiteral("Select All"), Frame1), "PushButton10", 240, 2100, 1600, 400);
    PushButton11 = place(new QPushButton(QStringLiteral("Deselect All"), Frame1), "PushButton11", 1960, 2100, 1600, 400);
    PushButton3 = place(new QPushButton(QStringLiteral("Send Table/s To FoxPro"), Frame1), "PushButton3", 240, 2600,
                        3330, 400);
    Check15 = place(new QCheckBox(kCustomizationCaption, Frame1), "Check15", 240, 3100, 3330, 400);
    PushButton1 = place(new QPushButton(QStringLiteral("Delete Tables / Queries"), Frame1), "PushButton1", 240, 3600,
                        3330, 400);
    PushButton6 = place(new QPushButton(QStringLiteral("Rename Table / Query"), Frame1), "PushButton6", 240, 4100,
                        3330, 405);

    Frame2 = place(new QGroupBox(QStringLiteral("FoxPro Tables && Queries"), this), "Frame2", 4080, 120, 3840, 4700);
    List2 = makeList(Frame2, "List2", FoxProRows);
    PushButton8 = place(new QPushButton(QStringLiteral("Select All"), Frame2), "PushButton8", 240, 2100, 1600, 400);
    PushButton9 = place(new QPushButton(QStringLiteral("Deselect All"), Frame2), "PushButton9", 1960, 2100, 1600, 400);
    PushButton4 = place(new QPushButton(QStringLiteral("Send Table/s To Access"), Frame2), "PushButton4", 240, 2600,
                        3330, 405);
    Check16 = place(new QCheckBox(kCustomizationCaption, Frame2), "Check16", 240, 3100, 3330, 400);
    PushButton5 = place(new QPushButton(QStringLiteral("Delete Tables / Queries"), Frame2), "PushButton5", 240, 3600,
                        3330, 405);
    PushButton7 = place(new QPushButton(QStringLiteral("Rename Table / Query"), Frame2), "PushButton7", 240, 4100,
                        3330, 405);

    ProgressBar1 = place(new QProgressBar(this), "ProgressBar1", 120, 4940, 7800, 405);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setFormat(QStringLiteral("Progress Bar"));
    ProgressBar1->setAlignment(Qt::AlignCenter);
    PushButton2 = place(new QPushButton(QStringLiteral("< Back"), this), "PushButton2", 120, 5460, 3840, 405);
    PushButton12 = place(new QPushButton(QStringLiteral("Help"), this), "PushButton12", 4080, 5460, 3840, 405);

    MousePointer = new shell::WindowPointer(this);
    // PushButton7 has no action, and no hand either.
    MousePointer->addButtons({PushButton1, PushButton2, PushButton3, PushButton4, PushButton5, PushButton6,
                              PushButton8, PushButton9, PushButton10, PushButton11, PushButton12});
    MousePointer->addSurfaces({this, Frame1, Frame2, List1, List1->viewport(), List2, List2->viewport()});

    connect(PushButton10, &QPushButton::clicked, this, [this] { PushButton10_Click(); });
    connect(PushButton11, &QPushButton::clicked, this, [this] { PushButton11_Click(); });
    connect(PushButton8, &QPushButton::clicked, this, [this] { PushButton8_Click(); });
    connect(PushButton9, &QPushButton::clicked, this, [this] { PushButton9_Click(); });
    connect(Check15, &QCheckBox::clicked, this, [this] { Check15_Click(); });
    connect(Check16, &QCheckBox::clicked, this, [this] { Check16_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton12, &QPushButton::clicked, this, [this] { PushButton12_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton5, &QPushButton::clicked, this, [this] { PushButton5_Click(); });
    connect(PushButton6, &QPushButton::clicked, this, [this] { PushButton6_Click(); });
}

Form2::~Form2() = default;

void Form2::Form_Load()
{
    ErrorHandler h(QStringLiteral("Form2.Form_Load"));
    h.run(10, [&] { shell::ApplySkin(this); });
    h.run(20, [&] { setWindowIcon(shell::ApplicationIcon()); });
    h.run(30, [&] { MousePointer->LoadHandCursor(); });
    h.run(40, [&] { setWindowTitle(QString::fromLatin1(shell::kProductTitle)); });
    h.run(50, [&] {
        Check15->setChecked(shell::GetSetting(QString::fromLatin1(shell::key::WithDataTypeChange1),
                                              QStringLiteral("0")) != QLatin1String("0"));
    });
    h.run(60, [&] {
        Check16->setChecked(shell::GetSetting(QString::fromLatin1(shell::key::WithDataTypeChange2),
                                              QStringLiteral("0")) != QLatin1String("0"));
    });
}

void Form2::PushButton10_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton10_Click"));
    h.run(10, [&] { selectAll(AccessRows, true); });
}

void Form2::PushButton11_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton11_Click"));
    h.run(10, [&] { selectAll(AccessRows, false); });
}

void Form2::PushButton8_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton8_Click"));
    h.run(10, [&] { selectAll(FoxProRows, true); });
}

void Form2::PushButton9_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton9_Click"));
    h.run(10, [&] { selectAll(FoxProRows, false); });
}

void Form2::Check15_Click()
{
    ErrorHandler h(QStringLiteral("Form2.Check15_Click"));
    h.run(10, [&] {
        shell::SaveSetting(QString::fromLatin1(shell::key::WithDataTypeChange1),
                           check15() == 1 ? QStringLiteral("1") : QStringLiteral("0"));
    });
}

void Form2::Check16_Click()
{
    ErrorHandler h(QStringLiteral("Form2.Check16_Click"));
    h.run(10, [&] {
        shell::SaveSetting(QString::fromLatin1(shell::key::WithDataTypeChange2),
                           check16() == 1 ? QStringLiteral("1") : QStringLiteral("0"));
    });
}

void Form2::PushButton2_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton2_Click"));
    h.run(10, [&] {
        if (form1_)
            form1_->show();
    });
    h.run(20, [&] { hide(); });
}

void Form2::PushButton12_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton12_Click"));
    h.run(10, [&] { shell::MsgBox(QStringLiteral("Questions? Please contact Team Harrowgate at ") + kContactPage); });
}

void Form2::PushButton3_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton3_Click"));
    h.run(10, [&] { tofoxpro::SendTablesToFoxPro(*this); });
}

void Form2::PushButton4_Click()
{
    ErrorHandler h(QStringLiteral("Form2.PushButton4_Click"));
    h.run(10, [&] { toaccess::SendTablesToAccess(*this); });
}

void Form2::Form_Unload()
{
    // Closing the main window ends the program, every window with it.
    QCoreApplication::quit();
}

void Form2::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

// ---- TransferHost ----

int Form2::check15() const { return Check15->isChecked() ? 1 : 0; }
int Form2::check16() const { return Check16->isChecked() ? 1 : 0; }

void Form2::setProgress(int percent) { ProgressBar1->setValue(std::clamp(percent, 0, 100)); }

void Form2::setPointer(int pointer)
{
    MousePointer->setKind(pointer == kPointerHourglass ? shell::PointerKind::Hourglass
                                                       : shell::PointerKind::Default);
}

sqlwindow::Form4& Form2::SqlWindow()
{
    if (sqlWindow_ && sqlWindowClosed_ && !sqlWindow_->isVisible())
        sqlWindow_.reset();
    if (!sqlWindow_) {
        sqlWindowClosed_ = false;
        sqlWindow_ = std::make_unique<sqlwindow::Form4>();
        sqlWindow_->installEventFilter(this);
        sqlWindow_->Form_Load();
        // After every run the lists show the databases as they now are.
        sqlWindow_->RefillLists = [this] {
            dataaccess::FillAccessList(AccessRows, form1_ ? form1_->Text3->text() : QString());
            dataaccess::FillFoxProList(FoxProRows, dataaccess::FoxProConnectionString());
        };
    }
    return *sqlWindow_;
}

bool Form2::eventFilter(QObject* watched, QEvent* event)
{
    // Whether the user's close was accepted shows afterwards: the window is
    // hidden.  SqlWindow() looks then.
    if (sqlWindow_ && watched == sqlWindow_.get() && event->type() == QEvent::Close)
        sqlWindowClosed_ = true;
    return QWidget::eventFilter(watched, event);
}

sqlwindow::ScriptBuffer& Form2::script() { return SqlWindow().script(); }

void Form2::setExecuteCaption(const QString& caption) { SqlWindow().PushButton1->setText(caption); }

void Form2::showSqlWindow()
{
    sqlwindow::Form4& w = SqlWindow();
    w.show();
    w.raise();
}

QString Form2::showCustomization(const QString& mType, const QString& mTableName, const QString& mSQL)
{
    // The window reports through FieldTypes, FieldSizes and
    // CustomizeCancelled; its mSQL outlives it for the caller.
    customization::Form3 form3(this);
    form3.mType = mType;
    form3.mTableName = mTableName;
    form3.mSQL = mSQL;
    form3.exec();
    return form3.mSQL;
}

// ---- from the connection window ----

void ConnectMainWindow(shell::Form1& form1, std::unique_ptr<Form2>& holder)
{
    form1.OpenMainWindow = [&form1, &holder] {
        if (!holder) {
            holder = std::make_unique<Form2>(&form1);
            holder->Form_Load();
        }
        Form2& form2 = *holder;
        // Each step runs whatever the one before reported: a database that
        // can't be listed leaves its list empty, and the window still opens.
        ErrorHandler h(QStringLiteral("Form1.NextAction"));
        h.run(10, [&] { dataaccess::FillAccessList(form2.AccessRows, form1.Text3->text()); });
        QString foxpro;
        h.run(20, [&] { foxpro = dataaccess::FoxProConnectionString(); });
        h.run(30, [&] { dataaccess::FillFoxProList(form2.FoxProRows, foxpro); });
        h.run(40, [&] {
            form2.show();
            form1.hide();
        });
    };
}

} // namespace qm::mainwindow
