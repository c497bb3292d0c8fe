// Delete and rename from the main window, on copies of the sample
// databases, with what mdbtools and Debian's dbfread then find in the files.

#include "dataaccess/access.h"
#include "mainwindow_fixture.h"
#include "mdbreader_check.h"

#include <filesystem>

using namespace qm::shell;
using qm::dataaccess::kKindTable;
using qm::dataaccess::kKindView;
namespace fs = std::filesystem;

using qm::test::qs;

namespace {

class DeleteRenameTest : public qm::test::MainWindowTest {
protected:
    // Exactly these rows selected, the last one current.
    void select(qm::dataaccess::ObjectList& list, std::initializer_list<const char*> names)
    {
        for (int i = 0; i < list.ListCount(); ++i)
            list.setSelected(i, false);
        for (const char* n : names) {
            const int row = rowOf(list, n);
            ASSERT_GE(row, 0) << n;
            list.setSelected(row, true);
            list.setListIndex(row);
        }
    }
    // Every row still carries the kind the catalog gives its name.
    void expectKindsInStep(const qm::dataaccess::ObjectList& list)
    {
        const QStringList queries = qm::test::mdbQueries(mdb);
        for (int i = 0; i < list.ListCount(); ++i)
            EXPECT_EQ(list.kind(i), queries.contains(list.List(i)) ? kKindView : kKindTable)
                << list.List(i).toStdString();
    }
    std::string schema()
    {
        return qm::test::run({"mdb-schema", "--indexes", mdb.string(), "postgres"}).out;
    }
    long rows(const char* table)
    {
        const auto r = qm::test::run({"mdb-export", "-R", "\x1e", mdb.string(), table});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return long(std::count(r.out.begin(), r.out.end(), '\x1e')) - 1; // minus the header
    }
};

TEST_F(DeleteRenameTest, DeletingAccessEntriesDropsTablesAsTablesAndQueriesAsQueries)
{
    auto& w = next();
    select(w.AccessRows, {"Orders by Customer", "Order Details"});
    w.PushButton1_Click();
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();

    EXPECT_EQ(qm::test::mdbTables(mdb), QStringList({"Customers", "Products", "Orders"}));
    EXPECT_EQ(qm::test::mdbQueries(mdb), QStringList({"Products to Reorder"}));
    if (qm::jetw::test::mdbReaderMissing().empty()) {
        const auto dump = qm::jetw::test::mdbReaderDump(mdb, {"Orders"});
        EXPECT_EQ(dump.queries, std::vector<std::string>({"Products to Reorder"}));
        EXPECT_EQ(dump.tables.size(), 3u);
    }
    EXPECT_EQ(w.AccessRows.ListCount(), 4);
    EXPECT_EQ(rowOf(w.AccessRows, "Order Details"), -1);
    expectKindsInStep(w.AccessRows);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
}

TEST_F(DeleteRenameTest, DeletingNeedsACurrentRowAndDeletesOnlyTheSelection)
{
    auto& w = next();
    w.AccessRows.setListIndex(-1);
    w.PushButton1_Click();
    EXPECT_EQ(dialogs.messages(), QStringList({"Please select a table"}));
    dialogs.clearRecord();
    // A current row but nothing selected: nothing goes, nothing is said.
    w.FoxProRows.setListIndex(0);
    w.FoxProRows.setSelected(0, false);
    w.PushButton5_Click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(w.FoxProRows.ListCount(), 3);
    EXPECT_EQ(qm::test::mdbTables(mdb).size(), 4);
}

TEST_F(DeleteRenameTest, DeletingInAContainerDropsViewsAsViews)
{
    auto& w = next();
    select(w.FoxProRows, {"preferred_prices", "suppliers"});
    w.PushButton5_Click();
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
    EXPECT_EQ(w.FoxProRows.names(), QStringList({"pricelist"}));
    EXPECT_EQ(w.FoxProObjectKinds(), QStringList({kKindTable}));
    EXPECT_FALSE(fs::exists(foxFolder / "suppliers.dbf"));
    EXPECT_TRUE(fs::exists(foxFolder / "pricelist.dbf"));
    // The container itself no longer knows the view or the table.
    const auto r = qm::test::run({qm::test::kDebianPython, "-c",
                                  "import dbfread,sys\n"
                                  "t=dbfread.DBF(sys.argv[1],ignore_missing_memofile=True)\n"
                                  "print('\\n'.join(r['OBJECTTYPE'].strip()+':'+r['OBJECTNAME'].strip() for r in t))",
                                  (foxFolder / "sample.dbc").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("View:preferred_prices"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Table:suppliers"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Table:pricelist"), std::string::npos) << r.out;
}

TEST_F(DeleteRenameTest, AFreeTableNamedWithABackquoteIsDeletedAsItself)
{
    const fs::path free = scratch / "free";
    fs::create_directories(free);
    for (const char* name : {"it`s", "its", "s", "a[b]"})
        fs::copy_file(foxFolder / "pricelist.dbf", free / (std::string(name) + ".dbf"));
    form1.Option2->setChecked(true);
    form1.Text2->setText(qs(free));
    auto& w = next();
    select(w.FoxProRows, {"it`s", "a[b]"});
    w.PushButton5_Click();
    EXPECT_TRUE(dialogs.shown().empty()) << dialogs.messages().join(" | ").toStdString();
    EXPECT_FALSE(fs::exists(free / "it`s.dbf"));
    EXPECT_FALSE(fs::exists(free / "a[b].dbf"));
    EXPECT_TRUE(fs::exists(free / "its.dbf"));
    EXPECT_TRUE(fs::exists(free / "s.dbf"));
    EXPECT_EQ(w.FoxProRows.names(), QStringList({"its", "s"}));
}

TEST_F(DeleteRenameTest, RenamingATableKeepsItsKeysIndexesAndRowsAndMovesItsRowToTheEnd)
{
    auto& w = next();
    const long before = rows("Customers");
    ASSERT_GT(before, 0);
    select(w.AccessRows, {"Customers"});
    dialogs.queueInput("Clients");
    w.PushButton6_Click();
    ASSERT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_EQ(dialogs.shown()[0].text, "Enter new name of Customers:");
    EXPECT_EQ(dialogs.shown()[0].defaultText, "Customers");

    EXPECT_EQ(w.AccessRows.List(w.AccessRows.ListCount() - 1), "Clients");
    EXPECT_EQ(rowOf(w.AccessRows, "Customers"), -1);
    expectKindsInStep(w.AccessRows);
    EXPECT_EQ(rows("Clients"), before);
    const std::string s = schema();
    EXPECT_NE(s.find("\"clients_pkey\" PRIMARY KEY (\"customerid\")"), std::string::npos) << s;
    EXPECT_NE(s.find("ON \"clients\" (\"company\")"), std::string::npos) << s;
    if (qm::jetw::test::mdbReaderMissing().empty()) {
        const auto dump = qm::jetw::test::mdbReaderDump(mdb, {"Clients"});
        EXPECT_EQ(dump.data.at("Clients").rowCount, std::uint64_t(before));
    }
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
}

TEST_F(DeleteRenameTest, RenamingToItsOwnNameOrAnotherLetterCaseNeverDropsTheTable)
{
    auto& w = next();
    const long before = rows("Products");
    select(w.AccessRows, {"Products"});
    const int row = rowOf(w.AccessRows, "Products");
    dialogs.queueInput("Products");
    w.PushButton6_Click();
    EXPECT_EQ(dialogs.shown().size(), 1u); // the input box, no question
    EXPECT_EQ(rowOf(w.AccessRows, "Products"), row);

    dialogs.clearRecord();
    dialogs.queueInput("PRODUCTS");
    w.PushButton6_Click();
    EXPECT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_TRUE(qm::test::mdbTables(mdb).contains("PRODUCTS"));
    EXPECT_EQ(rows("PRODUCTS"), before);
    EXPECT_EQ(w.AccessRows.List(w.AccessRows.ListCount() - 1), "PRODUCTS");
    expectKindsInStep(w.AccessRows);
}

TEST_F(DeleteRenameTest, RenamingOntoAnotherTableAsksFirst)
{
    auto& w = next();
    const long customers = rows("Customers");
    select(w.AccessRows, {"Customers"});
    dialogs.queueInput("products");
    dialogs.queueAnswer(Answer::No);
    w.PushButton6_Click();
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[1].text, "Would you like to overwrite products?");
    EXPECT_EQ(dialogs.shown()[1].title, "Overwrite?");
    EXPECT_EQ(dialogs.shown()[1].buttons, Buttons::YesNo);
    EXPECT_EQ(qm::test::mdbTables(mdb).size(), 4);
    EXPECT_GE(rowOf(w.AccessRows, "Customers"), 0);

    dialogs.clearRecord();
    dialogs.queueInput("Products");
    dialogs.queueAnswer(Answer::Yes);
    w.PushButton6_Click();
    EXPECT_EQ(dialogs.shown().size(), 2u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_EQ(qm::test::mdbTables(mdb), QStringList({"Products", "Orders", "Order Details"}));
    EXPECT_EQ(rows("Products"), customers);
    // The overwritten table's row went with it: no name is listed twice.
    EXPECT_EQ(w.AccessRows.ListCount(), 6 - 1);
    EXPECT_EQ(w.AccessRows.names().filter("Products").size(), 2); // and "Products to Reorder"
    EXPECT_EQ(w.AccessRows.List(w.AccessRows.ListCount() - 1), "Products");
}

TEST_F(DeleteRenameTest, RenamingAQueryKeepsItAQuery)
{
    auto& w = next();
    const QString sql = qm::dataaccess::AccessQuerySQL("Orders by Customer");
    select(w.AccessRows, {"Orders by Customer"});
    dialogs.queueInput("Customer's Orders");
    w.PushButton6_Click();
    EXPECT_EQ(dialogs.shown().size(), 1u) << dialogs.messages().join(" | ").toStdString();
    EXPECT_TRUE(qm::test::mdbQueries(mdb).contains("Customer's Orders"));
    EXPECT_EQ(qm::dataaccess::AccessQuerySQL("Customer's Orders"), sql);
    EXPECT_EQ(w.AccessRows.List(w.AccessRows.ListCount() - 1), "Customer's Orders");
    EXPECT_EQ(w.AccessRows.kind(w.AccessRows.ListCount() - 1), kKindView);

    // A quote in the name is no trouble for deleting it either.
    select(w.AccessRows, {"Customer's Orders"});
    w.PushButton1_Click();
    EXPECT_FALSE(qm::test::mdbQueries(mdb).contains("Customer's Orders"));
    EXPECT_EQ(qm::test::mdbTables(mdb).size(), 4);
}

TEST_F(DeleteRenameTest, RenamingNeedsExactlyOneRowAndACancelChangesNothing)
{
    auto& w = next();
    w.PushButton11_Click();
    w.PushButton6_Click();
    select(w.AccessRows, {"Orders", "Products"});
    w.PushButton6_Click();
    EXPECT_EQ(dialogs.messages(), QStringList({"Please select just one table to rename.",
                                               "Please select just one table to rename."}));
    dialogs.clearRecord();
    select(w.AccessRows, {"Orders"});
    dialogs.queueInput("");
    const QStringList names = w.AccessRows.names();
    w.PushButton6_Click();
    EXPECT_EQ(w.AccessRows.names(), names);
    EXPECT_EQ(w.MousePointer->kind(), PointerKind::Default);
    EXPECT_EQ(qm::test::mdbTables(mdb).size(), 4);
}

} // namespace
