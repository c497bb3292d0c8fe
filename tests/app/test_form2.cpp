// The main window driven offscreen as a user drives it: "Next >" from the
// connection window fills both lists from copies of the sample databases,
// then its buttons, boxes and pointer.

#include "mainwindow_fixture.h"
#include "sqlwindow/form4.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>

#include <filesystem>

using namespace qm::shell;
using qm::dataaccess::kKindTable;
using qm::dataaccess::kKindView;
namespace fs = std::filesystem;

using qm::test::qs;

namespace {

class Form2Test : public qm::test::MainWindowTest {};

TEST_F(Form2Test, NextFillsBothListsFromAnAccessFileAndAContainer)
{
    auto& w = next();
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(form1.isVisible());
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();

    const QStringList access = w.AccessRows.names();
    EXPECT_EQ(access.size(), 6) << access.join(",").toStdString();
    for (const char* table : {"Customers", "Orders", "Order Details", "Products"})
        EXPECT_EQ(w.AccessRows.kind(rowOf(w.AccessRows, table)), kKindTable) << table;
    for (const char* query : {"Orders by Customer", "Products to Reorder"})
        EXPECT_EQ(w.AccessRows.kind(rowOf(w.AccessRows, query)), kKindView) << query;
    EXPECT_EQ(w.AccessObjectKinds().size(), 6);
    EXPECT_EQ(w.AccessRows.ListIndex(), 0);

    EXPECT_EQ(w.FoxProRows.ListCount(), 3);
    EXPECT_EQ(w.FoxProRows.kind(rowOf(w.FoxProRows, "pricelist")), kKindTable);
    EXPECT_EQ(w.FoxProRows.kind(rowOf(w.FoxProRows, "suppliers")), kKindTable);
    EXPECT_EQ(w.FoxProRows.kind(rowOf(w.FoxProRows, "preferred_prices")), kKindView);
    EXPECT_EQ(w.FoxProRows.ListIndex(), -1);
    // The views show the rows themselves.
    EXPECT_EQ(w.List1->model()->rowCount(), 6);
    EXPECT_EQ(w.List2->selectionMode(), QAbstractItemView::ExtendedSelection);

    // "< Back" and "Next >" again: the lists are read anew, not doubled.
    w.PushButton2_Click();
    EXPECT_TRUE(form1.isVisible());
    EXPECT_FALSE(w.isVisible());
    next();
    EXPECT_EQ(w.AccessRows.ListCount(), 6);
    EXPECT_EQ(w.FoxProRows.ListCount(), 3);
}

TEST_F(Form2Test, NextStaysSilentlyWhenTheFoxProSourceDoesNotOpen)
{
    form1.Text1->setText(qs(scratch / "missing.dbc"));
    form1.PushButton2_Click();
    EXPECT_FALSE(form2);
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(form1.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Form2Test, AFreeTableFolderIsListedWithItsSubFolders)
{
    const fs::path free = scratch / "free";
    fs::create_directories(free / "archive" / "old");
    fs::copy_file(foxFolder / "pricelist.dbf", free / "PriceList.DBF");
    fs::copy_file(foxFolder / "pricelist.dbf", free / "~work.dbf");
    fs::copy_file(foxFolder / "pricelist.dbf", free / "archive" / "old" / "items.dbf");
    qm::test::writeFile(free / "notes.txt", "not a table");
    form1.Option2->setChecked(true);
    form1.Text2->setText(qs(free));

    auto& w = next();
    EXPECT_EQ(w.FoxProRows.names(), QStringList({"PriceList", "items"}));
    EXPECT_EQ(w.FoxProObjectKinds(), QStringList({kKindTable, kKindTable}));
    EXPECT_EQ(w.FoxProRows.ListIndex(), -1);
}

TEST_F(Form2Test, AWrongAccessPasswordIsReportedOnceAndLeavesTheListEmpty)
{
    QM_REQUIRE_SHARED();
    const fs::path locked = scratch / "locked.mdb";
    fs::copy_file(qm::test::fixture("access/mdb-reader/password/data/V2000_with-password.mdb"), locked);
    form1.Text3->setText(qs(locked));
    form1.Text4->setText("not it");

    auto& w = next();
    ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_TRUE(dialogs.messages()[0].contains("Not a valid password.")) << dialogs.messages()[0].toStdString();
    EXPECT_EQ(w.AccessRows.ListCount(), 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.FoxProRows.ListCount(), 3);

    dialogs.clearRecord();
    w.PushButton2_Click();
    form1.Text4->setText("password");
    next();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(w.AccessRows.names(), QStringList({"Table1"}));
}

TEST_F(Form2Test, ControlsCarryTheirCaptionsAndPlaces)
{
    auto& w = next();
    EXPECT_EQ(w.windowTitle(), "Quillmere");
    // "&&" is shown as one ampersand (a single one would mark a shortcut key).
    EXPECT_EQ(w.Frame1->title(), "Access Tables && Queries");
    EXPECT_EQ(w.Frame2->title(), "FoxPro Tables && Queries");
    EXPECT_EQ(w.PushButton3->text(), "Send Table/s To FoxPro");
    EXPECT_EQ(w.PushButton4->text(), "Send Table/s To Access");
    for (QPushButton* b : {w.PushButton10, w.PushButton8})
        EXPECT_EQ(b->text(), "Select All");
    for (QPushButton* b : {w.PushButton11, w.PushButton9})
        EXPECT_EQ(b->text(), "Deselect All");
    for (QPushButton* b : {w.PushButton1, w.PushButton5})
        EXPECT_EQ(b->text(), "Delete Tables / Queries");
    for (QPushButton* b : {w.PushButton6, w.PushButton7})
        EXPECT_EQ(b->text(), "Rename Table / Query");
    for (QCheckBox* c : {w.Check15, w.Check16})
        EXPECT_EQ(c->text(), "Send with data type customization");
    EXPECT_EQ(w.PushButton2->text(), "< Back");
    EXPECT_EQ(w.PushButton12->text(), "Help");
    // 15 twips to the pixel.
    EXPECT_EQ(w.Frame2->geometry(), QRect(272, 8, 256, 313));
    EXPECT_EQ(w.List1->geometry(), QRect(16, 24, 222, 109));
    EXPECT_EQ(w.ProgressBar1->geometry(), QRect(8, 329, 520, 27));
    EXPECT_EQ(w.PushButton12->geometry(), QRect(272, 364, 256, 27));
    EXPECT_EQ(w.List1->font().bold(), true);
}

TEST_F(Form2Test, TheCustomizationBoxesAreRememberedUnderTheirOwnKeys)
{
    SaveSetting(key::WithDataTypeChange1, "yes");
    auto& w = next();
    EXPECT_EQ(w.check15(), 1); // any text but "0" ticks it
    EXPECT_EQ(w.check16(), 0); // never stored: clear

    QTest::mouseClick(w.Check16, Qt::LeftButton);
    EXPECT_EQ(GetSetting(key::WithDataTypeChange2), "1");
    EXPECT_EQ(GetSetting(key::WithDataTypeChange1), "yes");
    QTest::mouseClick(w.Check15, Qt::LeftButton);
    EXPECT_EQ(GetSetting(key::WithDataTypeChange1), "0");
}

TEST_F(Form2Test, SelectAllDeselectAllHelpAndTheInertRenameButton)
{
    auto& w = next();
    w.PushButton10_Click();
    EXPECT_EQ(w.AccessRows.SelCount(), 6);
    w.PushButton11_Click();
    EXPECT_EQ(w.AccessRows.SelCount(), 0);
    w.PushButton8_Click();
    EXPECT_EQ(w.FoxProRows.SelCount(), 3);
    w.PushButton9_Click();
    EXPECT_EQ(w.FoxProRows.SelCount(), 0);

    QTest::mouseClick(w.PushButton7, Qt::LeftButton);
    EXPECT_TRUE(dialogs.shown().empty());

    w.PushButton12_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_TRUE(dialogs.shown()[0].text.startsWith("Questions? Please contact Team Harrowgate at "));
    EXPECT_EQ(dialogs.shown()[0].buttons, Buttons::OK);
    EXPECT_EQ(dialogs.shown()[0].icon, Icon::None);
}

TEST_F(Form2Test, ThePointerRuleKeepsTheHourglass)
{
    fs::copy_file(fs::path(QM_ART_DIR) / "HAND-M.CUR", programFolder / "HAND-M.CUR");
    auto& w = next();
    w.MousePointer->mouseMovedOver(w.PushButton3);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Custom);
    w.MousePointer->mouseMovedOver(w.List1->viewport());
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
    w.MousePointer->mouseMovedOver(w.PushButton7);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
    w.setPointer(qm::mainwindow::kPointerHourglass);
    w.MousePointer->mouseMovedOver(w.PushButton1);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Hourglass);
    w.setPointer(qm::mainwindow::kPointerDefault);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Form2Test, StartUpGoesStraightToTheMainWindowWithTheRememberedDatabases)
{
    SaveSetting(key::AccessMDBFile, qs(mdb));
    SaveSetting(key::DBCFile, qs(foxFolder / "sample.dbc"));
    SaveSetting(key::FoxproOption, "1");
    Form1 start;
    std::unique_ptr<qm::mainwindow::Form2> main;
    qm::mainwindow::ConnectMainWindow(start, main);
    start.Start();
    EXPECT_TRUE(start.wentToMainWindow());
    EXPECT_FALSE(start.isVisible());
    ASSERT_TRUE(main);
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(main->AccessRows.ListCount(), 6);
}

} // namespace

namespace {

TEST_F(Form2Test, TheSqlWindowIsMadeOnFirstUseRefillsTheListsAndComesBackEmptyAfterClosing)
{
    auto& w = next();
    w.setExecuteCaption("Execute SQL On FoxPro");
    w.script().appendLine(u"DROP TABLE `pricelist`");
    w.showSqlWindow();
    qm::sqlwindow::Form4& sql = w.SqlWindow();
    EXPECT_TRUE(sql.isVisible());
    EXPECT_EQ(sql.PushButton1->text(), "Execute SQL On FoxPro");
    EXPECT_EQ(&w.script(), &sql.script());

    // Running it reads both lists again.
    w.FoxProRows.Clear();
    w.AccessRows.Clear();
    sql.PushButton1_Click();
    EXPECT_EQ(w.FoxProRows.names(), QStringList({"suppliers", "preferred_prices"}));
    EXPECT_EQ(w.AccessRows.ListCount(), 6);
    EXPECT_FALSE(fs::exists(foxFolder / "pricelist.dbf"));

    sql.close();
    qm::sqlwindow::Form4& again = w.SqlWindow();
    EXPECT_TRUE(again.script().isEmpty());
    EXPECT_EQ(again.PushButton1->text(), "Execute SQL On X");
    EXPECT_FALSE(again.isVisible());
}

} // namespace
