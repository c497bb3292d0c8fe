// "Send Table/s To FoxPro" driven headless: the run over the lists, the
// overwrite question, views, free tables, the customization window, and
// every kind of value read back by dbfread exactly as the Access table
// holds it.
#include "app_test.h"

#include "ado/ado.h"
#include "customization/form3.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "json_export.h"
#include "mainwindow/headlesshost.h"
#include "providers/providers.h"
#include "shell/controls.h"
#include "sqlwindow/executescript.h"
#include "storage/open.h"
#include "tofoxpro/listnames.h"
#include "tofoxpro/literals.h"
#include "tofoxpro/sendtofoxpro.h"
#include "xbase/dbc.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cfloat>
#include <cmath>
#include <sstream>

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using mainwindow::HeadlessHost;
using shell::Answer;

std::string literal(const Value& v, std::int16_t type)
{
    std::string out;
    tofoxpro::AppendLiteral(out, v, type);
    return out;
}

TEST(FoxProLiterals, EveryKindReadsBackAsItself)
{
    EXPECT_EQ(literal(Value::null(), 202), "NULL");
    EXPECT_EQ(literal(Value::string("it's"), 202), "'it''s'");
    EXPECT_EQ(literal(Value::string(""), 203), "''");
    EXPECT_EQ(literal(Value::string("a\r\nb"), 203), "'a'+CHR(13)+CHR(10)+'b'");
    EXPECT_EQ(literal(Value::string("\tx\n"), 203), "CHR(9)+'x'+CHR(10)");
    EXPECT_EQ(literal(Value::string("fixed"), 130), "'fixed'");
    EXPECT_EQ(literal(Value::date(date::fromParts(2016, 11, 3, 10, 30, 0)), 7), "DATETIME(2016,11,3,10,30,0)");
    EXPECT_EQ(literal(Value::date(date::fromParts(1850, 2, 1)), 7), "DATETIME(1850,2,1,0,0,0)");
    EXPECT_EQ(literal(Value::date(date::fromParts(2016, 11, 3)), 133), "Date(2016,11,3)");
    EXPECT_EQ(literal(Value::boolean(true), 11), ".T.");
    EXPECT_EQ(literal(Value::boolean(false), 11), ".F.");
    EXPECT_EQ(literal(Value::boolean(true), 3), "1");
    EXPECT_EQ(literal(Value::currency(INT64_MIN), 6), "-922337203685477.5808");
    EXPECT_EQ(literal(Value::decimal(*Decimal::parse("-12345678901234.5678")), 131), "-12345678901234.5678");
    EXPECT_EQ(literal(Value::dbl(0.1), 5), "0.1");
    EXPECT_EQ(literal(Value::dbl(DBL_MAX), 5), "1.7976931348623157e+308");
    // A Single goes into a double column with the float's exact value.
    EXPECT_EQ(literal(Value::single(0.1f), 4), "0.10000000149011612");
    EXPECT_EQ(literal(Value::binary(std::string("\x00\xff\x10", 3)), 128), "0h00FF10");
    // A text in a column customised to a number stays quoted: the column
    // converts it or refuses it, never runs it as part of the statement.
    EXPECT_EQ(literal(Value::string("1);DROP TABLE x"), 3), "'1);DROP TABLE x'");
    EXPECT_EQ(literal(Value::string("2016-11-03"), 7), "DATETIME(2016,11,3,0,0,0)");
    EXPECT_THROW(literal(Value::dbl(std::nan("")), 5), Error);
}

TEST(FoxProListNames, CaseAndEightCharacters)
{
    dataaccess::ObjectList list;
    list.setRows({"orderdet", "Orders", "Orders", "x"}, {"TABLE", "TABLE", "TABLE", "TABLE"});
    EXPECT_TRUE(tofoxpro::ListHasName(list, "ORDERS"));
    EXPECT_FALSE(tofoxpro::ListHasName(list, "OrderDetails"));
    EXPECT_TRUE(tofoxpro::ListHasName8(list, "OrderDetails"));
    // The row that moves up into a removed row's place is not examined.
    tofoxpro::RemoveListName(list, "Orders");
    EXPECT_EQ(list.names(), (QStringList{"orderdet", "Orders", "x"}));
}

TEST(FoxProListNames, FileFoundIgnoringCase)
{
    TempDir dir;
    writeFile(dir / "Orders.dbf", "x");
    writeFile(dir / "other.DBF", "y");
    const QString found = tofoxpro::FindFileIgnoringCase(qs(dir.path()), "ORDERS.DBF");
    EXPECT_EQ(found, qs(dir / "Orders.dbf"));
    EXPECT_TRUE(tofoxpro::FindFileIgnoringCase(qs(dir.path()), "missing.DBF").isEmpty());
}

class SendToFoxPro : public AppTest {
protected:
    SendToFoxPro()
    {
        providers::registerBuiltInProviders();
        access = scratch / "source.mdb";
        jet::createDatabase(access.string(), jet::NewFileFormat::Jet4Mdb);
        ado::Connection cn;
        cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
        cn.Execute("CREATE TABLE [Orders] ([ID] LONG, [Label] TEXT(50), [Born] DATETIME, [Active] BIT, [Note] MEMO)");
        cn.Execute("INSERT INTO [Orders] VALUES (1, 'it''s here', #2016-11-03 10:30:00#, True, Null)");
        cn.Execute("INSERT INTO [Orders] VALUES (2, '" + std::string(50, 'x') + "', #1850-02-01#, False, 'two\r\nlines')");
        cn.Execute("CREATE TABLE [Items] ([ID] LONG, [Name] TEXT(10))");
        cn.Execute("INSERT INTO [Items] VALUES (7, 'seven')");
        cn.Execute("CREATE TABLE [Empty] ([ID] LONG)");
        cn.Close();
        ado::DaoEngine::instance().OpenDatabase(access.string())->CreateQueryDef("BigOrders", "  SELECT * FROM [Orders] WHERE ID > 1;");
        fields.text3 = qs(access);
        useContainer();
    }
    ~SendToFoxPro() override { dataaccess::SetConnectionFieldsSource({}); }

    void useContainer()
    {
        dbc = scratch / "target.dbc";
        if (!fs::exists(dbc))
            xbase::Container::create(dbc.string());
        fields.option1 = true;
        fields.text1 = qs(dbc);
        install();
    }
    void useFolder()
    {
        folder = scratch / "free";
        fs::create_directories(folder);
        fields.option1 = false;
        fields.text2 = qs(folder);
        install();
    }
    void install()
    {
        const auto f = fields;
        dataaccess::SetConnectionFieldsSource([f] { return f; });
    }

    // The lists as "Next >" fills them: Access tables then the query.
    void fillLists(HeadlessHost& host, const QStringList& foxNames = {})
    {
        host.accessList().setRows({"Empty", "Items", "Orders", "BigOrders"}, {"TABLE", "TABLE", "TABLE", "VIEW"});
        QStringList kinds;
        for (int i = 0; i < foxNames.size(); ++i)
            kinds << "TABLE";
        host.foxproList().setRows(foxNames, kinds);
    }
    void select(HeadlessHost& host, const QStringList& names)
    {
        auto& list = host.accessList();
        for (int i = 0; i < list.ListCount(); ++i)
            if (names.contains(list.List(i))) {
                list.setSelected(i, true);
                list.setListIndex(i);
            }
    }
    sqlwindow::ScriptRunResult execute(HeadlessHost& host)
    {
        ado::Connection fox, acc;
        fox.Open(dataaccess::FoxProConnectionString(fields).toStdString());
        acc.Open(dataaccess::AccessConnectionString(QString(), QString(), fields).toStdString());
        return sqlwindow::ExecuteScript(host.script(), sqlwindow::ScriptTarget::FoxPro, fox, acc);
    }
    QStringList scriptLines(HeadlessHost& host)
    {
        QStringList lines;
        for (qsizetype i = 0; i < host.script().lineCount(); ++i)
            lines << host.script().line(i).toString();
        return lines;
    }
    // The Access table as the command line's export writes it, compared
    // with what dbfread reads from the .dbf.
    void expectSameAsDbfread(const std::string& table, const fs::path& dbf, const std::string& extra = {})
    {
        auto db = storage::openDatabase(access.string());
        auto cursor = db->scan(table);
        std::string jsonl;
        while (cursor->next()) {
            jsonl += '[';
            for (std::size_t i = 0; i < cursor->columns().size(); ++i) {
                if (i)
                    jsonl += ',';
                cli::appendJsonValue(jsonl, cursor->columns()[i], cursor->value(i), cli::Engine::Access);
            }
            jsonl += "]\n";
        }
        writeFile(scratch / "export.jsonl", jsonl);
        std::vector<std::string> argv{kDebianPython, std::string(QM_CLI_TEST_DIR) + "/dbfread_compare.py",
                                      dbf.string(), (scratch / "export.jsonl").string(), "--padded"};
        if (!extra.empty()) {
            std::istringstream words(extra);
            for (std::string w; words >> w;)
                argv.push_back(w);
        }
        const RunResult r = run(argv);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    }

    fs::path access, dbc, folder;
    dataaccess::ConnectionFields fields;
};

TEST_F(SendToFoxPro, NoCurrentEntryOnlyAsksForOne)
{
    HeadlessHost host;
    fillLists(host);
    host.script().appendLine(u"kept");
    tofoxpro::SendTablesToFoxPro(host);
    EXPECT_EQ(dialogs.messages(), QStringList{"Please select a table"});
    EXPECT_EQ(host.script().text(), "kept\r\n");
    EXPECT_EQ(host.sqlWindowShown(), 0);
}

TEST_F(SendToFoxPro, TablesGoBottomUpAndRowsArriveExactly)
{
    HeadlessHost host;
    fillLists(host);
    select(host, {"Items", "Orders"});
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    ASSERT_EQ(lines.size(), 3);
    // Orders is lower in the list: its rows come first.
    EXPECT_EQ(lines[0], "insert into [Orders] (ID,Label,Born,Active,Note) values "
                        "(1,'it''s here',DATETIME(2016,11,3,10,30,0),.T.,NULL)");
    EXPECT_EQ(lines[1].left(40), "insert into [Orders] (ID,Label,Born,Acti");
    EXPECT_TRUE(lines[1].endsWith("DATETIME(1850,2,1,0,0,0),.F.,'two'+CHR(13)+CHR(10)+'lines')"));
    EXPECT_EQ(lines[2], "insert into [Items] (ID,Name) values (7,'seven')");
    // The final message shows the last statement; the window shows the script.
    EXPECT_EQ(dialogs.messages(), QStringList{lines[2]});
    EXPECT_EQ(host.sqlWindowShown(), 1);
    EXPECT_EQ(host.executeCaption(), "Execute SQL On FoxPro");
    EXPECT_EQ(host.pointer(), mainwindow::kPointerDefault);
    EXPECT_EQ(host.foxproList().names(), (QStringList{"orders", "items"}));

    const auto result = execute(host);
    EXPECT_TRUE(result.ok()) << result.report().toStdString();
    expectSameAsDbfread("Orders", scratch / "orders.dbf");
    expectSameAsDbfread("Items", scratch / "items.dbf");
}

// Every type with its edge values, and a Null in every column.
TEST_F(SendToFoxPro, EdgeValuesOfEveryTypeArriveExactly)
{
    ado::Connection cn;
    cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
    cn.Execute("CREATE TABLE [Edge] ([N] LONG, [T254] TEXT(254), [T255] TEXT(255), [Cur] CURRENCY, [Dec] DECIMAL(18,4), "
               "[Sng] SINGLE, [Dbl] DOUBLE, [Ole] LONGBINARY, [G] GUID, [B] BYTE, [I] SHORT, [Yes] BIT, [D] DATETIME)");
    {
        ado::Recordset rs;
        rs.Open("SELECT * FROM [Edge]", cn, ado::adOpenDynamic, ado::adLockOptimistic);
        auto add = [&](std::vector<Value> row) {
            rs.AddNew();
            for (std::size_t i = 0; i < row.size(); ++i)
                rs.Fields(i).SetValue(row[i]);
            rs.Update();
        };
        Guid g = *Guid::parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
        add({Value::longInt(1), Value::string(std::string(254, 'a')), Value::string(std::string(255, 'b')),
             Value::currency(INT64_MAX), Value::decimal(*Decimal::parse("99999999999999.9999")), Value::single(0.1f),
             Value::dbl(1e-300), Value::binary(std::string("\x00\x01\xff\r\n'", 6)), Value::guid(g), Value::byte(255),
             Value::integer(-32768), Value::boolean(true), Value::date(date::fromParts(1753, 1, 1, 23, 59, 59))});
        add({Value::longInt(2), Value::string(""), Value::string("it's\ta \"quote\" and \\ [x]"),
             Value::currency(INT64_MIN), Value::decimal(*Decimal::parse("-99999999999999.9999")),
             Value::single(-3.4028235e38f), Value::dbl(-1.7976931348623157e308), Value::binary(""), Value::guid(Guid{}),
             Value::byte(0), Value::integer(32767), Value::boolean(false), Value::date(date::fromParts(2199, 12, 31, 0, 0, 1))});
        std::vector<Value> nulls(13, Value::null());
        nulls[0] = Value::longInt(3);
        nulls[11] = Value::boolean(false); // Yes/No holds no Null in Access
        add(nulls);
    }
    cn.Close();
    HeadlessHost host;
    host.accessList().setRows({"Edge"}, {"TABLE"});
    host.accessList().setSelected(0, true);
    host.accessList().setListIndex(0);
    tofoxpro::SendTablesToFoxPro(host);
    EXPECT_EQ(host.script().lineCount(), 3);
    const auto result = execute(host);
    ASSERT_TRUE(result.ok()) << result.report().toStdString();
    expectSameAsDbfread("Edge", scratch / "edge.dbf", "--binary 7, --single 5,");
}

TEST_F(SendToFoxPro, OverwriteNoSkipsYesDropsAtOnce)
{
    {
        HeadlessHost first;
        fillLists(first);
        select(first, {"Items"});
        tofoxpro::SendTablesToFoxPro(first);
        ASSERT_TRUE(execute(first).ok());
    }
    dialogs.clearRecord();
    HeadlessHost host;
    fillLists(host, {"ITEMS"});
    select(host, {"Items"});
    dialogs.queueAnswer(Answer::No);
    tofoxpro::SendTablesToFoxPro(host);
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown()[0].text, "Would you like to overwrite Items?");
    EXPECT_EQ(dialogs.shown()[0].title, "Overwrite?");
    EXPECT_TRUE(host.script().isEmpty());

    dialogs.clearRecord();
    HeadlessHost again;
    fillLists(again, {"items"});
    select(again, {"Items"});
    dialogs.queueAnswer(Answer::Yes);
    tofoxpro::SendTablesToFoxPro(again);
    // The drop happened at once, not in the script; the table is new and empty.
    EXPECT_EQ(scriptLines(again), QStringList{"insert into [Items] (ID,Name) values (7,'seven')"});
    EXPECT_EQ(again.foxproList().names(), QStringList{"items"});
    ASSERT_TRUE(execute(again).ok());
    expectSameAsDbfread("Items", scratch / "items.dbf");
}

TEST_F(SendToFoxPro, QueryBecomesViewInContainer)
{
    HeadlessHost host;
    fillLists(host, {"bigorders"});
    select(host, {"BigOrders", "Orders"});
    dialogs.queueAnswer(Answer::Yes);
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "DROP VIEW [BigOrders]");
    // The query in FoxPro's words.
    EXPECT_EQ(lines[1].toStdString(), "CREATE VIEW [BigOrders] AS SELECT * FROM Orders WHERE ID > 1");
    EXPECT_TRUE(lines[2].startsWith("insert into [Orders]"));
    // The final message still shows the last row statement.
    EXPECT_TRUE(dialogs.messages().last().startsWith("insert into [Orders]"));
}

TEST_F(SendToFoxPro, FreeTablesRefuseQueriesAndEndTheRun)
{
    useFolder();
    HeadlessHost host;
    fillLists(host);
    select(host, {"Items", "BigOrders"});
    tofoxpro::SendTablesToFoxPro(host);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Transferring of Access Queries to Foxpro Views in Free Tables is not supported.");
    EXPECT_EQ(dialogs.shown()[0].icon, shell::Icon::Exclamation);
    EXPECT_TRUE(host.script().isEmpty()); // the query was met first
    EXPECT_EQ(host.sqlWindowShown(), 0);
}

TEST_F(SendToFoxPro, FreeTablePlainCopyKeepsTimesAndNulls)
{
    useFolder();
    writeFile(folder / "ORDERS.dbf", "stale"); // found ignoring case and deleted
    writeFile(folder / "keep.txt", "other");
    HeadlessHost host;
    fillLists(host, {"orders"});
    select(host, {"Orders"});
    dialogs.queueAnswer(Answer::Yes);
    tofoxpro::SendTablesToFoxPro(host);
    const QString f = qs(folder) + "/";
    EXPECT_EQ(scriptLines(host), (QStringList{"DROP TABLE [orders]",
                                              "SELECT * INTO [FoxPro 3.0;DATABASE=" + f + ";].[Orders] FROM `Orders`"}));
    EXPECT_FALSE(fs::exists(folder / "ORDERS.dbf"));
    EXPECT_TRUE(fs::exists(folder / "keep.txt"));
    execute(host); // the DROP finds nothing any more: the file went at once
    expectSameAsDbfread("Orders", folder / "Orders.dbf");
}

// The customization window, driven as a user would: it opens modally, the
// test picks a row, types a type, applies and presses OK (or Cancel).
class CustomisedSend : public SendToFoxPro {
protected:
    void driveWindow(HeadlessHost& host, std::function<void(customization::Form3&)> steps)
    {
        host.setCheck15(1);
        host.onCustomization([steps](const QString& type, const QString& table, const QString& sql) {
            customization::Form3 w;
            w.mType = type;
            w.mTableName = table;
            w.mSQL = sql;
            QTimer::singleShot(0, &w, [&w, steps] { steps(w); });
            w.exec();
            return w.mSQL;
        });
    }
};

TEST_F(CustomisedSend, ChosenTypesAndWidthsAreUsed)
{
    HeadlessHost host;
    fillLists(host);
    select(host, {"Orders"});
    driveWindow(host, [](customization::Form3& w) {
        EXPECT_EQ(w.List2->item(1)->text(), "Character(50)");
        EXPECT_EQ(w.List2->item(2)->text(), "DateTime");
        w.List1->setCurrentRow(1);
        w.List1_Click();
        w.Text1->setText("Character(60)");
        QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        w.List2->setCurrentRow(4);
        w.List2_Click();
        w.Text1->setText("memo");
        QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        QTest::mouseClick(w.PushButton2, Qt::LeftButton);
    });
    tofoxpro::SendTablesToFoxPro(host);
    EXPECT_EQ(dataaccess::FieldTypes[1], 202);
    EXPECT_EQ(dataaccess::FieldSizes[1], 60);
    EXPECT_EQ(dataaccess::FieldTypes[4], 203); // "memo" is Memo, whatever its case
    ASSERT_TRUE(execute(host).ok());
    auto fox = storage::openDatabase(dbc.string());
    const auto cols = fox->columns("orders");
    EXPECT_EQ(cols[1].size, 60);
    expectSameAsDbfread("Orders", scratch / "orders.dbf");
}

TEST_F(CustomisedSend, CancelEndsTheRunButKeepsWhatWasDone)
{
    HeadlessHost host;
    fillLists(host);
    select(host, {"Items", "Orders"});
    int shown = 0;
    driveWindow(host, [&shown](customization::Form3& w) {
        if (++shown == 1)
            QTest::mouseClick(w.PushButton2, Qt::LeftButton); // Orders: OK
        else
            QTest::mouseClick(w.PushButton4, Qt::LeftButton); // Items: Cancel
    });
    tofoxpro::SendTablesToFoxPro(host);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(scriptLines(host).size(), 2); // the rows of Orders
    EXPECT_EQ(host.sqlWindowShown(), 0);
    EXPECT_TRUE(dialogs.messages().isEmpty());
    EXPECT_EQ(host.pointer(), mainwindow::kPointerDefault);
    EXPECT_TRUE(fs::exists(scratch / "orders.dbf"));
}

TEST_F(CustomisedSend, FreeTableNamesAreCutToEight)
{
    useFolder();
    ado::Connection cn;
    cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
    cn.Execute("CREATE TABLE [OrderDetails] ([ID] LONG, [At] DATETIME)");
    cn.Execute("INSERT INTO [OrderDetails] VALUES (1, #1899-12-30 23:59:59#)");
    cn.Close();
    HeadlessHost host;
    host.accessList().setRows({"OrderDetails"}, {"TABLE"});
    host.accessList().setSelected(0, true);
    host.accessList().setListIndex(0);
    driveWindow(host, [](customization::Form3& w) { QTest::mouseClick(w.PushButton2, Qt::LeftButton); });
    tofoxpro::SendTablesToFoxPro(host);
    EXPECT_EQ(scriptLines(host), QStringList{"insert into [OrderDet] (ID,At) values (1,DATETIME(1899,12,30,23,59,59))"});
    EXPECT_EQ(host.foxproList().names(), QStringList{"orderdet"});
    ASSERT_TRUE(execute(host).ok());
    expectSameAsDbfread("OrderDetails", folder / "OrderDet.dbf");
}

// A free table has no primary key: the key and a unique index both become
// candidate tags; the plain copy names the keys it cannot carry.
TEST_F(CustomisedSend, FreeTableKeysBecomeCandidateTags)
{
    useFolder();
    {
        ado::Connection cn;
        cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
        cn.Execute("CREATE TABLE [KeyedList] ([ID] LONG, [Name] TEXT(20))");
        cn.Execute("INSERT INTO [KeyedList] VALUES (2, 'two')");
        cn.Execute("INSERT INTO [KeyedList] VALUES (1, 'one')");
        cn.Execute("ALTER TABLE [KeyedList] ADD CONSTRAINT pk PRIMARY KEY (ID)");
        cn.Execute("CREATE UNIQUE INDEX ixName ON [KeyedList] (Name)");
    }
    HeadlessHost host;
    host.accessList().setRows({"KeyedList"}, {"TABLE"});
    select(host, {"KeyedList"});
    driveWindow(host, [](customization::Form3& w) { QTest::mouseClick(w.PushButton2, Qt::LeftButton); });
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    ASSERT_EQ(lines.size(), 4) << host.script().text().toStdString();
    EXPECT_EQ(lines.mid(2).join("\n").toLower(),
              "alter table keyedlis add unique id tag pk\nalter table keyedlis add unique name tag ixname");
    ASSERT_TRUE(execute(host).ok());
    auto fox = storage::openDatabase(folder.string());
    const auto tags = fox->indexes("KeyedLis");
    ASSERT_EQ(tags.size(), 2u);
    for (const auto& t : tags)
        EXPECT_TRUE(t.unique && !t.primaryKey) << t.name;

    HeadlessHost plain;
    plain.accessList().setRows({"KeyedList"}, {"TABLE"});
    select(plain, {"KeyedList"});
    tofoxpro::SendTablesToFoxPro(plain);
    const QString all = dialogs.messages().join("\n");
    EXPECT_TRUE(all.contains("table KeyedList: keys not carried")) << all.toStdString();
    EXPECT_TRUE(all.contains("ixName: a plain copy into free tables carries no keys")) << all.toStdString();
}

TEST_F(SendToFoxPro, WindowTowardsAccessValidatesAccessTypes)
{
    customization::Form3 w;
    w.mType = "ACCESS";
    for (const char* ok : {"VARCHAR(100)", "BIT", "CURRENCY", "SMALLINT", "Text", "memo", "int", "DateTime",
                           "Numeric", "DECIMAL(18,4)", "Character(30)"})
        EXPECT_TRUE(w.IsValidDataType(ok)) << ok;
    for (const char* bad : {"eric", "VARCHAR(abc)", "Numeric(10,2,3)", "DROP", ""})
        EXPECT_FALSE(w.IsValidDataType(bad)) << bad;
    w.mType = "FOXPRO";
    EXPECT_TRUE(w.IsValidDataType("character(30)"));
    EXPECT_FALSE(w.IsValidDataType("Numeric(10,2)"));
    EXPECT_FALSE(w.IsValidDataType("Character"));
}

TEST_F(SendToFoxPro, WindowTowardsAccessListsFoxProFieldsAndBuildsTheStatement)
{
    HeadlessHost host;
    fillLists(host);
    select(host, {"Items"});
    tofoxpro::SendTablesToFoxPro(host);
    ASSERT_TRUE(execute(host).ok());
    customization::Form3 w;
    w.mType = "ACCESS";
    w.mTableName = "items";
    w.mSQL = "CREATE TABLE `items`(";
    w.Form_Load();
    ASSERT_EQ(w.List2->count(), 2);
    EXPECT_EQ(w.List2->item(0)->text(), "INT");
    EXPECT_EQ(w.List2->item(1)->text(), "VARCHAR(10)");
    // The types the window itself lists pass "Apply".
    w.List1->setCurrentRow(1);
    w.List1_Click();
    EXPECT_EQ(w.Text1->text(), "VARCHAR(10)");
    w.Text1->setText("VARCHAR(100)");
    w.PushButton1_Click();
    EXPECT_TRUE(w.typeChanged());
    w.PushButton2_Click();
    EXPECT_EQ(w.mSQL.toStdString(), "CREATE TABLE `items`([id] INT,[name] VARCHAR(100))");
    EXPECT_TRUE(dialogs.messages().size() == 1); // the transfer's final message only
}

TEST_F(SendToFoxPro, NumberNamedFieldsGetDistinctNames)
{
    customization::Form3 w;
    w.mType = "ACCESS";
    w.mSQL = "CREATE TABLE `T`(";
    w.List1->addItems({"123", "newfieldname0", "1.5", "name"});
    w.List2->addItems({"INT", "INT", "MEMO", "MEMO"});
    dataaccess::CustomizeCancelled = dataaccess::kTrue;
    w.PushButton2_Click();
    EXPECT_EQ(w.mSQL, "CREATE TABLE `T`([1tempid] INT,[newfieldname0] INT,[2tempid] MEMO,[name] MEMO)");
    EXPECT_EQ(dataaccess::CustomizeCancelled, dataaccess::kFalse);
}

TEST_F(SendToFoxPro, ClosingAfterAChangeAsks)
{
    customization::Form3 w;
    w.mType = "FOXPRO";
    w.List1->addItems({"a"});
    w.List2->addItems({"Integer"});
    w.List2->setCurrentRow(0);
    w.Text1->setText("Numeric");
    w.PushButton1_Click();
    EXPECT_EQ(w.List2->item(0)->text(), "Numeric");
    w.show();
    dialogs.queueAnswer(Answer::No);
    w.close();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(dialogs.shown().back().text, "Data type has been change.\r\nDo you still want to exit without changes?");
    dialogs.queueAnswer(Answer::Yes);
    w.close();
    EXPECT_FALSE(w.isVisible());
}

// A saved query goes over in FoxPro's words and gives the same rows there.
TEST_F(SendToFoxPro, TranslatedViewGivesTheAccessRows)
{
    ado::DaoEngine::instance().OpenDatabase(access.string())->CreateQueryDef(
        "Recent", "SELECT [ID], [Label] FROM [Orders] WHERE [Born] >= #2000-01-01# AND [Active] = True");
    HeadlessHost host;
    host.accessList().setRows({"Recent", "Orders"}, {"VIEW", "TABLE"});
    select(host, {"Recent", "Orders"});
    tofoxpro::SendTablesToFoxPro(host);
    const QString text = host.script().text();
    EXPECT_FALSE(text.contains('#')) << text.toStdString();
    EXPECT_EQ(dialogs.messages().size(), 1) << dialogs.messages().join("\n").toStdString();
    const auto result = execute(host);
    ASSERT_TRUE(result.ok()) << result.report().toStdString();

    auto rows = [](const std::string& connection, const std::string& sql) {
        ado::Connection cn;
        cn.Open(connection);
        ado::Recordset rs;
        rs.Open(sql, cn, ado::adOpenStatic, ado::adLockReadOnly);
        std::vector<std::string> out;
        for (; !rs.Eof(); rs.MoveNext()) {
            std::string row;
            for (std::size_t j = 0; j < rs.FieldCount(); ++j)
                row += rs.Fields(j).GetValue().toString() + "|";
            out.push_back(row);
        }
        return out;
    };
    const auto want = rows("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string(), "SELECT * FROM [Recent]");
    ASSERT_EQ(want.size(), 1u);
    // FoxPro pads C fields: compare the trimmed label.
    auto got = rows(dataaccess::FoxProConnectionString(fields).toStdString(), "SELECT ID, ALLTRIM(Label) FROM Recent");
    EXPECT_EQ(got, want);
}

// Names FoxPro cannot hold: the fields arrive under FoxPro names, the key
// follows its renamed field, and the view names the table and fields as
// they arrived, so it runs and gives the query's rows.
TEST_F(SendToFoxPro, NamesWithBlanksArriveAsFoxProNamesAndTheViewUsesThem)
{
    {
        ado::Connection cn;
        cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
        cn.Execute("CREATE TABLE [Order Lines] ([Line No] LONG, [Unit Price] CURRENCY, [2nd Note] TEXT(10))");
        cn.Execute("INSERT INTO [Order Lines] VALUES (1, 2.5, 'cheap')");
        cn.Execute("INSERT INTO [Order Lines] VALUES (2, 12.25, Null)");
        cn.Execute("ALTER TABLE [Order Lines] ADD CONSTRAINT pkLines PRIMARY KEY ([Line No])");
    }
    ado::DaoEngine::instance().OpenDatabase(access.string())->CreateQueryDef(
        "Dear Lines", "SELECT [Order Lines].[Line No], [Unit Price] AS Each FROM [Order Lines] WHERE [Unit Price] > 10");
    HeadlessHost host;
    host.accessList().setRows({"Dear Lines", "Order Lines"}, {"VIEW", "TABLE"});
    select(host, {"Dear Lines", "Order Lines"});
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    EXPECT_TRUE(lines.contains("CREATE VIEW [Dear Lines] AS SELECT Order_Lines.Line_No, Unit_Price AS Each "
                               "FROM Order_Lines WHERE Unit_Price > 10"))
        << host.script().text().toStdString();
    EXPECT_EQ(dialogs.messages().size(), 1) << dialogs.messages().join("\n").toStdString();
    const auto result = execute(host);
    ASSERT_TRUE(result.ok()) << result.report().toStdString();

    auto fox = storage::openDatabase(dbc.string());
    std::vector<std::string> names;
    for (const auto& c : fox->columns("Order Lines"))
        names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"line_no", "unit_price", "_2nd_note"}));
    const auto tags = fox->indexes("Order Lines");
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_TRUE(tags[0].primaryKey);
    fox.reset();
    expectSameAsDbfread("Order Lines", scratch / "order_lines.dbf");

    ado::Connection cn;
    cn.Open(dataaccess::FoxProConnectionString(fields).toStdString());
    ado::Recordset rs;
    rs.Open("SELECT * FROM Dear_Lines", cn, ado::adOpenStatic, ado::adLockReadOnly);
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(0).GetValue().toInt64(), 2);
    EXPECT_EQ(rs.Fields(1).GetValue().toString(), "12.25");
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
}

// A query the translator refuses keeps its Access text and is named.
TEST_F(SendToFoxPro, UntranslatableQueryIsKeptAndNamed)
{
    ado::DaoEngine::instance().OpenDatabase(access.string())->CreateQueryDef("Years",
                                                                             "SELECT Format(Born, 'yyyy') AS Y FROM [Orders]");
    HeadlessHost host;
    host.accessList().setRows({"Years"}, {"VIEW"});
    select(host, {"Years"});
    tofoxpro::SendTablesToFoxPro(host);
    // The stored text, spaces trimmed, over the lines it spans.
    const QStringList lines = scriptLines(host);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[0], "CREATE VIEW [Years] AS SELECT Format(Born, 'yyyy') AS Y");
    EXPECT_TRUE(lines[1].startsWith("FROM ")) << lines[1].toStdString();
    const QString all = dialogs.messages().join("\n");
    EXPECT_TRUE(all.contains("query Years")) << all.toStdString();
    EXPECT_TRUE(all.contains("cannot translate: function Format")) << all.toStdString();
}

// A primary key over two number columns, as order lines have it, arrives
// as one primary tag that orders as the key does and reads back as the
// key on those columns.
TEST_F(SendToFoxPro, AKeyOverIntegerColumnsArrivesAsOnePrimaryTag)
{
    {
        ado::Connection cn;
        cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
        cn.Execute("CREATE TABLE [OrderLines] ([OrderID] LONG, [ProductID] LONG, [Qty] DOUBLE)");
        cn.Execute("INSERT INTO [OrderLines] VALUES (2, 5, 1)");
        cn.Execute("INSERT INTO [OrderLines] VALUES (-1, 7, 2)");
        cn.Execute("ALTER TABLE [OrderLines] ADD CONSTRAINT pkLines PRIMARY KEY (OrderID, ProductID)");
    }
    HeadlessHost host;
    host.accessList().setRows({"OrderLines"}, {"TABLE"});
    select(host, {"OrderLines"});
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    ASSERT_EQ(lines.size(), 3) << host.script().text().toStdString();
    EXPECT_EQ(lines[2].toLower(), "alter table orderlines add primary key bintoc(orderid)+bintoc(productid) tag pklines");
    EXPECT_FALSE(dialogs.messages().join("\n").contains("keys not carried")) << dialogs.messages().join("\n").toStdString();

    const auto result = execute(host);
    ASSERT_TRUE(result.ok()) << result.report().toStdString();
    auto fox = storage::openDatabase(dbc.string());
    const auto tags = fox->indexes("OrderLines");
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_TRUE(tags[0].primaryKey);
    ASSERT_EQ(tags[0].columns.size(), 2u);
    EXPECT_TRUE(storage::namesEqual(tags[0].columns[0], "OrderID"));
    EXPECT_TRUE(storage::namesEqual(tags[0].columns[1], "ProductID"));
}

// Keys are built after the rows: the primary key as the primary tag, an
// index as a regular tag; what FoxPro cannot hold is named.
TEST_F(SendToFoxPro, KeysArriveAsTagsAfterTheRows)
{
    {
        ado::Connection cn;
        cn.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + access.string());
        cn.Execute("CREATE TABLE [Keyed] ([Code] TEXT(10), [Born] DATETIME, [Qty] LONG)");
        cn.Execute("INSERT INTO [Keyed] VALUES ('b', #2020-01-02 03:04:05#, 2)");
        cn.Execute("INSERT INTO [Keyed] VALUES ('a', #1999-12-31#, 1)");
        cn.Execute("ALTER TABLE [Keyed] ADD CONSTRAINT pkKeyed PRIMARY KEY (Code)");
        cn.Execute("CREATE INDEX ByBorn ON [Keyed] (Born)");
        cn.Execute("CREATE INDEX QtyDown ON [Keyed] (Qty DESC)");
    }
    HeadlessHost host;
    host.accessList().setRows({"Keyed"}, {"TABLE"});
    select(host, {"Keyed"});
    tofoxpro::SendTablesToFoxPro(host);
    const QStringList lines = scriptLines(host);
    ASSERT_EQ(lines.size(), 5) << host.script().text().toStdString();
    EXPECT_TRUE(lines[1].startsWith("insert into")) << lines[1].toStdString();
    EXPECT_EQ(lines.mid(2).join("\n").toLower(),
              "alter table keyed add primary key code tag pkkeyed\nuse keyed\nindex on ttoc(born,1) tag byborn");
    const QString all = dialogs.messages().join("\n");
    EXPECT_TRUE(all.contains("table Keyed: keys not carried")) << all.toStdString();
    EXPECT_TRUE(all.contains("QtyDown: it orders qty descending", Qt::CaseInsensitive)) << all.toStdString();

    const auto result = execute(host);
    ASSERT_TRUE(result.ok()) << result.report().toStdString();
    auto fox = storage::openDatabase(dbc.string());
    const auto tags = fox->indexes("Keyed");
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_TRUE(tags[0].primaryKey);
    EXPECT_TRUE(storage::namesEqual(tags[0].name, "pkKeyed"));
    EXPECT_EQ(tags[0].columns.size(), 1u);
    EXPECT_FALSE(tags[1].primaryKey || tags[1].unique);
    EXPECT_TRUE(storage::namesEqual(tags[1].name, "ByBorn"));
    ASSERT_EQ(tags[1].columns.size(), 1u);
    EXPECT_TRUE(storage::namesEqual(tags[1].columns[0], "Born"));
    EXPECT_EQ(fox->rowCount("Keyed"), 2u);
    fox.reset();
    expectSameAsDbfread("Keyed", scratch / "keyed.dbf");
}

TEST(FoxProAttachmentNames, UnsafeNamesStayInTheirFolder)
{
    EXPECT_EQ(tofoxpro::CleanFileName("report.pdf"), "report.pdf");
    EXPECT_EQ(tofoxpro::CleanFileName("../../etc/passwd"), "_._.._etc_passwd");
    EXPECT_EQ(tofoxpro::CleanFileName(".."), "_");
    EXPECT_EQ(tofoxpro::CleanFileName("a\\b:c"), "a_b_c");
    EXPECT_EQ(tofoxpro::CleanFileName(""), "_");
}

// Attachments: the memo holds the names, the files land beside the table.
TEST_F(SendToFoxPro, AttachmentFilesAreWrittenBesideTheTable)
{
    QM_REQUIRE_SHARED();
    const fs::path source = scratch / "complex.accdb";
    fs::copy_file(qm::test::fixture("access/jackcess/V2007/complexDataTestV2007.accdb"), source);
    fields.text3 = qs(source);
    install();
    HeadlessHost host;
    host.accessList().setRows({"Table1"}, {"TABLE"});
    select(host, {"Table1"});
    tofoxpro::SendTablesToFoxPro(host);

    ado::Connection cn;
    cn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + source.string());
    ado::Recordset rs;
    rs.Open("SELECT * FROM [Table1]", cn, ado::adOpenStatic, ado::adLockReadOnly);
    int files = 0;
    std::vector<storage::ComplexItem> items;
    for (int record = 1; !rs.Eof(); rs.MoveNext(), ++record)
        for (std::size_t j = 0; j < rs.FieldCount(); ++j) {
            if (rs.Fields(j).info().complex != storage::ComplexKind::Attachment)
                continue;
            ASSERT_TRUE(rs.ComplexItems(j, items));
            for (const auto& item : items) {
                const fs::path file = scratch / "Table1_files" / rs.Fields(j).Name() / std::to_string(record) /
                                      tofoxpro::CleanFileName(item.value.toString());
                ASSERT_TRUE(fs::exists(file)) << file;
                EXPECT_EQ(readFile(file), item.fileData) << file;
                ++files;
            }
        }
    EXPECT_GT(files, 0);
}

} // namespace
} // namespace qm::test
