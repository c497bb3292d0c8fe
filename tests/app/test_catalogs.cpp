// The Access and Foxpro modules on their own: existence tests, saved
// queries in protected databases, view text, and Access 97 files.

#include "ado/ado.h"
#include "dataaccess/access.h"
#include "dataaccess/foxpro.h"
#include "dataaccess/objectlist.h"
#include "mainwindow_fixture.h"

#include <filesystem>

using namespace qm::dataaccess;
namespace fs = std::filesystem;

using qm::test::qs;

namespace {

class CatalogTest : public qm::test::MainWindowTest {};

TEST_F(CatalogTest, TableExistenceIgnoresCaseAndQueries)
{
    EXPECT_TRUE(AccessTableExists(qs(mdb), "", "ORDERS"));
    EXPECT_FALSE(AccessTableExists(qs(mdb), "", "Orders by Customer"));
    EXPECT_FALSE(AccessTableExists(qs(scratch / "none.mdb"), "", "Orders"));
}

TEST_F(CatalogTest, AMissingAccessFileIsSaidOnceAndLeavesTheListAsItWas)
{
    ObjectList list;
    list.AddItem("Kept", kKindTable);
    FillAccessList(list, qs(scratch / "none.mdb"));
    EXPECT_EQ(dialogs.messages(), QStringList({"Unable to access the database."}));
    EXPECT_EQ(list.names(), QStringList({"Kept"}));
    EXPECT_EQ(list.ListIndex(), 0);
}

TEST_F(CatalogTest, SavedQueriesAreStoredAndReadWithThePassword)
{
    QM_REQUIRE_SHARED();
    const fs::path locked = scratch / "locked.mdb";
    fs::copy_file(qm::test::fixture("access/mdb-reader/password/data/V2000_with-password.mdb"), locked);
    form1.Text3->setText(qs(locked));
    form1.Text4->setText("password");
    CreateAccessQuery("Recent", "SELECT * FROM Table1");
    EXPECT_TRUE(AccessQuerySQL("Recent").startsWith("SELECT"));
    EXPECT_TRUE(qm::test::mdbQueries(locked).contains("Recent"));
    form1.Text4->setText("wrong");
    try {
        AccessQuerySQL("Recent");
        ADD_FAILURE() << "a wrong password read the query";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("Not a valid password."), std::string::npos) << e.what();
    }
}

TEST_F(CatalogTest, AViewOfTheContainerGivesItsText)
{
    EXPECT_TRUE(FoxProViewSQL("preferred_prices").contains("pricelist", Qt::CaseInsensitive));
    EXPECT_THROW(FoxProViewSQL("pricelist"), std::exception);
}

TEST_F(CatalogTest, TheFoxProTestSaysWhy)
{
    QString why;
    EXPECT_TRUE(TestFoxProConnection(&why));
    form1.Text1->setText(qs(scratch / "gone.dbc"));
    EXPECT_FALSE(TestFoxProConnection(&why));
    EXPECT_TRUE(why.contains("gone.dbc")) << why.toStdString();
    // The connection window's button shows the reason.
    form1.PushButton3_Click();
    ASSERT_EQ(dialogs.messages().size(), 1);
    EXPECT_TRUE(dialogs.messages()[0].startsWith("Could not connect."));
    EXPECT_TRUE(dialogs.messages()[0].contains("gone.dbc"));
}

TEST_F(CatalogTest, AnAccess97FileOpensForReadingAndRefusesWritesByName)
{
    QM_REQUIRE_SHARED();
    const fs::path old = scratch / "old.mdb";
    fs::copy_file(qm::test::fixture("access/jackcess/V1997/testV1997.mdb"), old);
    const std::string before = qm::test::readFile(old);

    qm::ado::Connection c;
    c.Mode = qm::ado::adModeReadWrite;
    c.Open(AccessConnectionString(qs(old), "").toStdString());
    qm::ado::Recordset rs;
    rs.Open("SELECT COUNT(*) FROM Table1", c);
    EXPECT_EQ(rs.Fields(std::size_t(0)).GetValue().toString(), "2");
    rs.Close();
    try {
        c.Execute("DELETE FROM Table1");
        ADD_FAILURE() << "an Access 97 file was written";
    } catch (const std::exception& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find(old.string()), std::string::npos) << what;
        EXPECT_NE(what.find("Access 97"), std::string::npos) << what;
    }
    c.Close();
    EXPECT_EQ(qm::test::readFile(old), before);

    // And the main window lists it.
    form1.Text3->setText(qs(old));
    auto& w = next();
    EXPECT_EQ(w.AccessRows.names(), QStringList({"Table1", "Table2", "Table3", "Table4"}));
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
}

TEST_F(CatalogTest, ARenamedTableKeepsItsRelationships)
{
    QM_REQUIRE_SHARED();
    const fs::path related = scratch / "related.mdb";
    fs::copy_file(qm::test::fixture("access/jackcess/V2000/indexTestV2000.mdb"), related);
    form1.Text3->setText(qs(related));
    EXPECT_TRUE(RenameAccessTable("Table1", "Orders", qs(related), ""));
    EXPECT_TRUE(RenameAccessTable("table2", "Customers", qs(related), ""));
    EXPECT_TRUE(dialogs.shown().empty());
    const auto r = qm::test::run({"mdb-export", related.string(), "MSysRelationships"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\"Orders\",\"otherfk1\",\"Customers\",\"id\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"Orders\",\"otherfk2\",\"Table3\",\"id\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\"Table1\""), std::string::npos) << r.out;
    // Still the same table, with its rows and key.
    QStringList tables = qm::test::mdbTables(related);
    tables.sort();
    EXPECT_EQ(tables, QStringList({"Customers", "Orders", "Table3"}));
    const auto schema = qm::test::run({"mdb-schema", "--indexes", related.string(), "postgres"}).out;
    EXPECT_NE(schema.find("\"orders_pkey\" PRIMARY KEY (\"id\")"), std::string::npos) << schema;
}

TEST_F(CatalogTest, ANameWithBothQuoteCharactersIsRefusedByName)
{
    EXPECT_EQ(QuotedName("Orders"), "`Orders`");
    EXPECT_EQ(QuotedName("it`s"), "[it`s]");
    try {
        QuotedName("a`b]");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("a`b]"), std::string::npos);
    }
}

} // namespace
