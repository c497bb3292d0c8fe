// The connection window, driven offscreen as a user would drive it, with
// the dialog service scripted and the settings store in a scratch folder.

#include "app_test.h"
#include "dataaccess/connectionstrings.h"
#include "shell/chrome.h"
#include "shell/form1.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <filesystem>

using namespace qm::shell;
namespace fs = std::filesystem;

namespace {

class Form1Test : public qm::test::AppTest {
protected:
    static QString stored(const char* k) { return GetSetting(QString::fromLatin1(k)); }
};

TEST_F(Form1Test, ControlsCarryTheirCaptionsAndPlaces)
{
    Form1 form;
    EXPECT_EQ(form.Frame1->title(), "FoxPro Login");
    EXPECT_EQ(form.Frame2->title(), "Access Database");
    EXPECT_EQ(form.Option1->text(), "DBC File:");
    EXPECT_EQ(form.Option2->text(), "Free Table Folder:");
    EXPECT_EQ(form.Label5->text(), "MDB or ACCDB File:");
    EXPECT_EQ(form.lblPassword->text(), "Password (if required):");
    EXPECT_EQ(form.PushButton3->text(), "Test Connection");
    EXPECT_EQ(form.PushButton6->text(), "Help");
    EXPECT_EQ(form.PushButton7->text(), "Load Sample/Example Database");
    EXPECT_EQ(form.PushButton2->text(), "Next >");
    for (QPushButton* b : {form.PushButton1, form.PushButton4, form.PushButton5})
        EXPECT_EQ(b->text(), "...");
    // 15 twips to the pixel.
    EXPECT_EQ(form.Frame1->geometry(), QRect(8, 8, 520, 125));
    EXPECT_EQ(form.Text1->geometry(), QRect(144, 20, 321, 23));
    EXPECT_EQ(form.Text4->geometry(), QRect(152, 53, 351, 23));
    EXPECT_EQ(form.PushButton2->geometry(), QRect(8, 267, 520, 27));
    EXPECT_TRUE(form.Option1->isChecked());
}

TEST_F(Form1Test, FirstRunWithAnEmptyStore)
{
    Form1 form;
    form.Start();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.windowTitle(), "Quillmere");
    for (QLineEdit* t : {form.Text1, form.Text2, form.Text3, form.Text4})
        EXPECT_TRUE(t->text().isEmpty());
    EXPECT_TRUE(form.Option1->isChecked());
    EXPECT_FALSE(form.wentToMainWindow());
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
    // Nothing was there to write back.
    EXPECT_FALSE(QFile::exists(SettingsFilePath()));
}

TEST_F(Form1Test, StoredValuesComeBack)
{
    SaveSetting(key::DBCFile, "/data/shop.dbc");
    SaveSetting(key::FreeTableFolder, "/data/free");
    SaveSetting(key::FoxproOption, "2");
    SaveSetting(key::AccessMDBFile, "/data/missing.mdb");
    SaveSetting(key::AccessPassword, "p;w");
    Form1 form;
    form.Form_Load();
    EXPECT_EQ(form.Text1->text(), "/data/shop.dbc");
    EXPECT_EQ(form.Text2->text(), "/data/free");
    EXPECT_TRUE(form.Option2->isChecked());
    EXPECT_EQ(form.Text3->text(), "/data/missing.mdb");
    EXPECT_EQ(form.Text4->text(), "p;w");
    EXPECT_TRUE(dialogs.shown().empty());
    // Written back unchanged.
    EXPECT_EQ(stored(key::AccessPassword), "p;w");
}

TEST_F(Form1Test, OnlyTwoSelectsTheFreeTableFolder)
{
    for (const char* value : {"1", "", "abc", " 2", "2 "}) {
        SaveSetting(key::FoxproOption, value);
        Form1 form;
        form.Form_Load();
        EXPECT_TRUE(form.Option1->isChecked()) << '"' << value << '"';
    }
}

TEST_F(Form1Test, EveryChangeIsStoredAtOnce)
{
    Form1 form;
    form.Form_Load();
    form.show();
    QTest::keyClicks(form.Text1, "/d/a.dbc");
    QTest::keyClicks(form.Text2, "/d/free");
    QTest::keyClicks(form.Text3, "/d/b.mdb");
    EXPECT_EQ(stored(key::DBCFile), "/d/a.dbc");
    EXPECT_EQ(stored(key::FreeTableFolder), "/d/free");
    EXPECT_EQ(stored(key::AccessMDBFile), "/d/b.mdb");

    QTest::mouseClick(form.Option2, Qt::LeftButton);
    EXPECT_EQ(stored(key::FoxproOption), "2");
    QTest::mouseClick(form.Option1, Qt::LeftButton);
    EXPECT_EQ(stored(key::FoxproOption), "1");
    // Switching the source changes neither box.
    EXPECT_EQ(form.Text1->text(), "/d/a.dbc");
    EXPECT_EQ(form.Text2->text(), "/d/free");
}

TEST_F(Form1Test, ThePasswordIsStoredInClearAfterEachKeystrokeAndShownAsStars)
{
    Form1 form;
    form.Form_Load();
    form.show();
    const QString typed = "s3c;ret";
    for (qsizetype i = 0; i < typed.size(); ++i) {
        QTest::keyClick(form.Text4, typed[i].toLatin1());
        EXPECT_EQ(stored(key::AccessPassword), typed.left(i + 1));
    }
    EXPECT_EQ(form.Text4->text(), typed);
    EXPECT_EQ(form.Text4->displayText(), QString(typed.size(), '*'));
    form.Text4->clear();
    EXPECT_EQ(stored(key::AccessPassword), "");
}

TEST_F(Form1Test, FocusSelectsTheWholePathButNotThePassword)
{
    Form1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.Text1->setText("/d/a.dbc");
    form.Text2->setText("/d/free");
    form.Text3->setText("/d/b.mdb");
    form.Text4->setText("secret");
    for (QLineEdit* t : {form.Text1, form.Text2, form.Text3}) {
        t->deselect();
        form.PushButton2->setFocus();
        t->setFocus(Qt::OtherFocusReason);
        EXPECT_EQ(t->selectedText(), t->text()) << t->objectName().toStdString();
    }
    form.Text4->deselect();
    form.PushButton7->setFocus();
    form.Text4->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(form.Text4->hasSelectedText());
}

TEST_F(Form1Test, BrowsingForTheAccessFile)
{
    Form1 form;
    form.Text3->setText("/d/kept.mdb");
    dialogs.queueFile(""); // cancelled
    QTest::mouseClick(form.PushButton1, Qt::LeftButton);
    EXPECT_EQ(form.Text3->text(), "/d/kept.mdb");

    dialogs.queueFile("/d/chosen.accdb");
    QTest::mouseClick(form.PushButton1, Qt::LeftButton);
    EXPECT_EQ(form.Text3->text(), "/d/chosen.accdb");
    EXPECT_EQ(stored(key::AccessMDBFile), "/d/chosen.accdb");

    const auto& box = dialogs.shown().at(0);
    EXPECT_EQ(box.kind, ScriptedDialogService::Kind::OpenFile);
    EXPECT_EQ(box.title, "Select Access Database");
    EXPECT_EQ(box.filter, "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
                          "Microsoft 2007 Database (*.accdb)|*.accdb|");
    EXPECT_EQ(box.flags, 0x280001u);
    EXPECT_EQ(box.defaultText, "");
}

TEST_F(Form1Test, BrowsingForTheContainerAndTheFolder)
{
    Form1 form;
    dialogs.queueFile("");
    dialogs.queueFile("/d/shop.dbc");
    QTest::mouseClick(form.PushButton5, Qt::LeftButton);
    EXPECT_EQ(form.Text1->text(), "");
    QTest::mouseClick(form.PushButton5, Qt::LeftButton);
    EXPECT_EQ(form.Text1->text(), "/d/shop.dbc");

    dialogs.queueFolder("");
    dialogs.queueFolder("/d/free");
    QTest::mouseClick(form.PushButton4, Qt::LeftButton);
    EXPECT_EQ(form.Text2->text(), "");
    QTest::mouseClick(form.PushButton4, Qt::LeftButton);
    EXPECT_EQ(form.Text2->text(), "/d/free");
    EXPECT_EQ(stored(key::FreeTableFolder), "/d/free");

    const auto& s = dialogs.shown();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].title, "Select Foxpro Database");
    EXPECT_EQ(s[0].filter, "Microsoft Database (*.dbc)|*.dbc|");
    EXPECT_EQ(s[2].kind, ScriptedDialogService::Kind::BrowseForFolder);
    EXPECT_EQ(s[2].title, "Please select folder:");
}

TEST_F(Form1Test, TheSamplePathIsFilledInEvenWithoutTheSample)
{
    Form1 form;
    QTest::mouseClick(form.PushButton7, Qt::LeftButton);
    const QString expected = qm::test::qs(programFolder.path() / "Samples" / "sample.mdb");
    EXPECT_EQ(form.Text3->text(), expected);
    EXPECT_EQ(stored(key::AccessMDBFile), expected);
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST(SampleDatabase, AReadOnlyProgramFolderOffersACopyTheUserCanChange)
{
    // As installed: Samples under a folder the user cannot write.
    qm::test::TempDir dir;
    const fs::path program = dir / "share";
    fs::create_directories(program / "Samples" / "FoxPro");
    qm::test::writeFile(program / "Samples" / "sample.mdb", "access bytes");
    qm::test::writeFile(program / "Samples" / "FoxPro" / "sample.dbc", "container bytes");
    fs::permissions(program / "Samples" / "sample.mdb", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const QString user = qm::test::qs(dir / "home" / "quillmere" / "Samples");

    EXPECT_EQ(SampleDatabaseFor(qm::test::qs(program), true, user), qm::test::qs(program / "Samples" / "sample.mdb"));
    EXPECT_FALSE(fs::exists(dir / "home"));

    const QString offered = SampleDatabaseFor(qm::test::qs(program), false, user);
    const fs::path copy = dir / "home" / "quillmere" / "Samples";
    EXPECT_EQ(offered, qm::test::qs(copy / "sample.mdb"));
    EXPECT_EQ(qm::test::readFile(copy / "FoxPro" / "sample.dbc"), "container bytes");
    EXPECT_NE(fs::status(copy / "sample.mdb").permissions() & fs::perms::owner_write, fs::perms::none);

    // What the user changed in the copy stays.
    qm::test::writeFile(copy / "sample.mdb", "changed by a transfer");
    EXPECT_EQ(SampleDatabaseFor(qm::test::qs(program), false, user), offered);
    EXPECT_EQ(qm::test::readFile(copy / "sample.mdb"), "changed by a transfer");
}

TEST_F(Form1Test, HelpSaysToCloseFoxPro)
{
    Form1 form;
    form.Form_Load();
    QTest::mouseClick(form.PushButton6, Qt::LeftButton);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const auto& box = dialogs.shown()[0];
    EXPECT_EQ(box.text, "Make sure FoxPro is closed while using this application.");
    EXPECT_EQ(box.title, "Quillmere");
    EXPECT_EQ(box.icon, Icon::None);
    EXPECT_EQ(box.buttons, Buttons::OK);
}

// The desktop's "Open with" starts the program with the file.
TEST_F(Form1Test, AGivenFileGoesIntoTheFieldForItsKind)
{
    SaveSetting(key::DBCFile, "/d/old.dbc");
    SaveSetting(key::FreeTableFolder, "/d/old");
    SaveSetting(key::FoxproOption, "2");
    SaveSetting(key::AccessMDBFile, "/d/old.mdb");
    SaveSetting(key::AccessPassword, "pw");
    const QString dir = qm::test::qs(scratch.path());
    {
        Form1 form;
        form.GivenFile = dir + "/Sales.ACCDB";
        form.Form_Load();
        EXPECT_EQ(form.Text3->text(), dir + "/Sales.ACCDB");
        EXPECT_EQ(stored(key::AccessMDBFile), dir + "/Sales.ACCDB");
        // The rest is as remembered.
        EXPECT_EQ(form.Text4->text(), "pw");
        EXPECT_TRUE(form.Option2->isChecked());
        EXPECT_EQ(form.Text1->text(), "/d/old.dbc");
    }
    {
        Form1 form;
        form.GivenFile = dir + "/shop.dbc";
        form.Form_Load();
        EXPECT_EQ(form.Text1->text(), dir + "/shop.dbc");
        EXPECT_TRUE(form.Option1->isChecked());
        EXPECT_EQ(stored(key::FoxproOption), "1");
        EXPECT_EQ(stored(key::DBCFile), dir + "/shop.dbc");
        EXPECT_EQ(form.Text2->text(), "/d/old");
        EXPECT_EQ(form.Text3->text(), dir + "/Sales.ACCDB");
    }
    {
        // A table: its folder, as free tables.
        Form1 form;
        form.GivenFile = dir + "/free/parts.dbf";
        form.Form_Load();
        EXPECT_EQ(form.Text2->text(), dir + "/free");
        EXPECT_TRUE(form.Option2->isChecked());
        EXPECT_EQ(stored(key::FoxproOption), "2");
        EXPECT_EQ(stored(key::FreeTableFolder), dir + "/free");
        EXPECT_EQ(form.Text1->text(), dir + "/shop.dbc");
    }
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
}

TEST_F(Form1Test, AGivenFileNamedRelativelyIsStoredWithItsFullPath)
{
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(qm::test::qs(scratch.path())));
    Form1 form;
    form.GivenFile = "sub/a.mdb";
    form.Form_Load();
    QDir::setCurrent(before);
    EXPECT_EQ(form.Text3->text(), QDir(qm::test::qs(scratch.path())).canonicalPath() + "/sub/a.mdb");
}

TEST_F(Form1Test, AGivenFileOfAnotherKindIsRefusedByName)
{
    SaveSetting(key::AccessMDBFile, "/d/old.mdb");
    Form1 form;
    form.GivenFile = "/d/notes.txt";
    form.Form_Load();
    EXPECT_EQ(dialogs.messages(),
              QStringList{"/d/notes.txt can't be opened here: it is neither an Access database (.mdb, .accdb) nor "
                          "a FoxPro database container (.dbc) or table (.dbf)."});
    EXPECT_EQ(form.Text3->text(), "/d/old.mdb");
    EXPECT_EQ(stored(key::AccessMDBFile), "/d/old.mdb");
}

TEST_F(Form1Test, TestConnectionOnAFolderThatDoesNotExist)
{
    Form1 form;
    form.Form_Load();
    form.Option2->setChecked(true);
    form.Text2->setText(qm::test::qs(scratch.path() / "no such folder"));
    QTest::mouseClick(form.PushButton3, Qt::LeftButton);
    ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    const auto& box = dialogs.shown()[0];
    // The first line is the verdict; below it, the provider's reason.
    EXPECT_TRUE(box.text.startsWith("Could not connect.")) << box.text.toStdString();
    EXPECT_GT(box.text.size(), QString("Could not connect.").size());
    EXPECT_EQ(box.title, "Quillmere");
    EXPECT_EQ(box.icon, Icon::None);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
}

#ifdef QM_HAVE_PROVIDERS
// These need the FoxPro provider behind the facade.

TEST_F(Form1Test, TestConnectionOnAnExistingFreeTableFolder)
{
    Form1 form;
    form.Form_Load();
    form.Option2->setChecked(true);
    form.Text2->setText(qm::test::qs(scratch.path()));
    QTest::mouseClick(form.PushButton3, Qt::LeftButton);
    EXPECT_EQ(dialogs.messages(), QStringList{"Connection successful."});
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Form1Test, StartUpGoesStraightOnWhenBothSourcesAreUsable)
{
    qm::test::writeFile(scratch.path() / "a.mdb", "only its existence is checked here");
    SaveSetting(key::AccessMDBFile, qm::test::qs(scratch.path() / "a.mdb"));
    SaveSetting(key::FreeTableFolder, qm::test::qs(scratch.path()));
    SaveSetting(key::FoxproOption, "2");
    Form1 form;
    int opened = 0;
    PointerKind during = PointerKind::Default;
    form.OpenMainWindow = [&] {
        ++opened;
        during = form.MousePointer->kind();
        form.hide();
    };
    form.Start();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(during, PointerKind::Hourglass);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(form.wentToMainWindow());
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form1Test, StartUpGoesStraightOnWithTheGivenTablesFolder)
{
    // The remembered container is gone; the table named on the command line
    // makes its folder the source, and the start-up check goes on with it.
    qm::test::writeFile(scratch.path() / "a.mdb", "only its existence is checked here");
    SaveSetting(key::AccessMDBFile, qm::test::qs(scratch.path() / "a.mdb"));
    SaveSetting(key::DBCFile, qm::test::qs(scratch.path() / "gone.dbc"));
    fs::create_directories(scratch.path() / "free");
    Form1 form;
    form.GivenFile = qm::test::qs(scratch.path() / "free" / "parts.dbf");
    int opened = 0;
    form.OpenMainWindow = [&] {
        ++opened;
        form.hide();
    };
    form.Start();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(form.Text2->text(), qm::test::qs(scratch.path() / "free"));
    EXPECT_TRUE(dialogs.shown().empty());
}
#endif

TEST_F(Form1Test, NextWithAnEmptyAccessPathDoesNothing)
{
    Form1 form;
    form.Form_Load();
    int opened = 0;
    form.OpenMainWindow = [&] { ++opened; };
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Form1Test, NextWithAnAccessFileButNoFoxProSourceDoesNothing)
{
    qm::test::writeFile(scratch.path() / "a.mdb", "placeholder");
    Form1 form;
    form.Form_Load();
    int opened = 0;
    form.OpenMainWindow = [&] { ++opened; };
    form.Text3->setText(qm::test::qs(scratch.path() / "a.mdb"));
    form.Option2->setChecked(true);
    form.Text2->setText(qm::test::qs(scratch.path() / "missing"));
    QTest::mouseClick(form.PushButton2, Qt::LeftButton);
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Form1Test, StartUpWithoutTheAccessFileDoesNotTryTheFoxProSource)
{
    // The FoxPro side would open; the Access file is not there.
    SaveSetting(key::AccessMDBFile, qm::test::qs(scratch.path() / "gone.mdb"));
    SaveSetting(key::FreeTableFolder, qm::test::qs(scratch.path()));
    SaveSetting(key::FoxproOption, "2");
    Form1 form;
    int opened = 0;
    form.OpenMainWindow = [&] { ++opened; };
    form.Start();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form1Test, StartUpWithAnUnusableFoxProSourceShowsTheWindowQuietly)
{
    qm::test::writeFile(scratch.path() / "a.mdb", "placeholder");
    SaveSetting(key::AccessMDBFile, qm::test::qs(scratch.path() / "a.mdb"));
    SaveSetting(key::DBCFile, qm::test::qs(scratch.path() / "none.dbc"));
    Form1 form;
    int opened = 0;
    form.OpenMainWindow = [&] { ++opened; };
    form.Start();
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(Form1Test, AFailingLoadStepIsReportedAndTheLoadGoesOn)
{
    qm::test::writeFile(programFolder.path() / "HAND-M.CUR", "this is no cursor");
    SaveSetting(key::AccessMDBFile, "/d/after.mdb");
    Form1 form;
    form.Form_Load();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    const auto& box = dialogs.shown()[0];
    EXPECT_EQ(box.title, "Application Error");
    EXPECT_TRUE(box.text.contains("HAND-M.CUR")) << box.text.toStdString();
    EXPECT_TRUE(box.text.contains("\r\nin Ferrowick2016/11/03.Form1.Form_Load at line 50\r\r"));
    // The steps after the failing one still ran.
    EXPECT_EQ(form.Text3->text(), "/d/after.mdb");
}

TEST_F(Form1Test, TheWindowsFieldsAreTheRunsConnectionSettings)
{
    Form1 form;
    form.Text1->setText("/d/shop.dbc");
    form.Text2->setText("/d/free");
    form.Text3->setText("/d/sales.accdb");
    form.Text4->setText("pw");
    EXPECT_EQ(qm::dataaccess::FoxProConnectionString(),
              "Provider=vfpoledb.1;Data Source=/d/shop.dbc;Collating Sequence=machine;");
    form.Option2->setChecked(true);
    EXPECT_EQ(qm::dataaccess::FoxProConnectionString(),
              "Provider=vfpoledb.1;Data Source=/d/free;Collating Sequence=general;");
    EXPECT_EQ(qm::dataaccess::AccessConnectionString("", ""),
              "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/sales.accdb;JET OLEDB:Database Password=pw");
}

} // namespace
