// "Send Table/s To Access": FoxPro tables and views into an Access file,
// read back with our reader, mdbtools and mdb-reader.
#include "app_test.h"
#include "toaccess_host.h"

#include "ado/ado.h"
#include "customization/form3.h"
#include "shell/controls.h"

#include <QListWidget>
#include "mdbreader_check.h"
#include "storage/open.h"
#include "toaccess/accesscolumns.h"
#include "toaccess/newdatabase.h"
#include "toaccess/sendtoaccess.h"
#include "toaccess/viewquery.h"
#include "xbase/dbc.h"

#include <cmath>
#include <filesystem>
#include <set>

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using CT = storage::ColumnType;
using shell::Answer;


Value dateOf(const char* text) { return Value::date(*date::parse(text)); }
Value num(const char* text) { return Value::decimal(*Decimal::parse(text)); }

// The FoxPro side of most tests: a container "shop" with
//   items  every field type the transfer maps, 4 rows (one of blanks and nulls)
//   empty  no rows
//   people long names
//   cheap  a view on items
fs::path makeShop(const TempDir& dir)
{
    const std::string dbc = (dir / "shop.dbc").string();
    xbase::Container::create(dbc);
    auto db = storage::openDatabase(dbc);
    db->createTable({"items",
                     {storage::column("id", CT::Long), storage::column("name", CT::Char, 30), storage::column("price", CT::Decimal, 10, 9, 2),
                      storage::column("born", CT::Date), storage::column("active", CT::Boolean), storage::column("qty", CT::Decimal, 5, 5, 0),
                      storage::column("big", CT::Decimal, 12, 12, 0), storage::column("amount", CT::Currency), storage::column("ratio", CT::Double),
                      storage::column("measure", CT::Float, 12, 11, 3), storage::column("notes", CT::Memo), storage::column("code", CT::Binary, 4),
                      storage::column("stamp", CT::DateTime)},
                     {}});
    const Value rows[][13] = {
        {Value::longInt(1), Value::string("Chai"), num("12.75"), dateOf("1998-04-12"), Value::boolean(true),
         num("-9999"), num("123456789012"), Value::currency(187500), Value::dbl(0.1), num("3.125"),
         Value::string("it's here\r\nsecond line"), Value::binary(std::string("\x00\xff\x10\x7f", 4)),
         dateOf("2016-11-03 09:15:00")},
        {Value::longInt(2), Value::string("Blank"), Value::null(), Value::null(), Value::null(), Value::null(),
         Value::null(), Value::null(), Value::null(), Value::null(), Value::null(), Value::null(), Value::null()},
        {Value::longInt(-2147483647), Value::string("Ünïcode ç"), num("-9999999.99"), dateOf("1899-12-30"),
         Value::boolean(false), num("99999"), num("-99999999999"), Value::currency(-1), Value::dbl(-1e300),
         num("-12345678.125"), Value::string(std::string(5000, 'x')), Value::binary(std::string(4, '\0')),
         dateOf("1753-01-01 23:59:59")},
        {Value::longInt(4), Value::string("last"), num("0.01"), dateOf("9999-12-31"), Value::boolean(true),
         num("0"), num("0"), Value::currency(0), Value::dbl(2.5), num("0.001"), Value::string(""),
         Value::binary("abcd"), dateOf("2000-02-29 12:00:00")},
    };
    for (const auto& r : rows)
        db->append("items", r);
    db->createTable({"empty", {storage::column("id", CT::Long), storage::column("label", CT::Char, 10)}, {}});
    db->createTable({"people", {storage::column("name", CT::VarChar, 30)}, {}});
    for (const char* n : {"Al", "Bartholomew", "Cy", "Desdemona", "Evangeline"})
        db->append("people", std::vector<Value>{Value::string(n)});
    db->createView("cheap", "SELECT items.name, items.price FROM shop!items WHERE items.price < 20");
    return dbc;
}

fs::path newAccess(const TempDir& dir, const std::string& name)
{
    const fs::path p = dir / name;
    EXPECT_TRUE(toaccess::MakeAccessDatabaseIfMissing(p.string()));
    return p;
}

void fillList(dataaccess::ObjectList& list, const std::string& connectionString)
{
    ado::Connection c;
    c.Open(connectionString);
    for (const auto& [name, type] : c.session().schemaTables())
        if (type == "TABLE" || type == "VIEW")
            list.AddItem(QString::fromStdString(name), QString::fromStdString(type));
}

// Every row of an Access table, through our reader.
std::vector<std::vector<Value>> accessRows(const fs::path& db, const std::string& table, const std::string& password = {})
{
    storage::OpenOptions o;
    o.readOnly = true;
    o.password = password;
    auto d = storage::openDatabase(db.string(), o);
    auto cursor = d->scan(table);
    std::vector<std::vector<Value>> rows;
    while (cursor->next()) {
        rows.emplace_back();
        for (std::size_t i = 0; i < cursor->columns().size(); ++i)
            rows.back().push_back(cursor->value(i));
    }
    return rows;
}

std::vector<storage::ColumnDef> accessColumns(const fs::path& db, const std::string& table)
{
    storage::OpenOptions o;
    o.readOnly = true;
    return storage::openDatabase(db.string(), o)->columns(table);
}

// A saved query's text as Access lays it out, on one line without its ';'.
std::string oneLine(const std::string& sql)
{
    std::string out;
    for (char c : sql) {
        if (c == '\r' || c == '\n' || c == ' ') {
            if (!out.empty() && out.back() != ' ')
                out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == ';'))
        out.pop_back();
    return out;
}

class SendToAccess : public AppTest {
protected:
    void SetUp() override
    {
        dbc = makeShop(scratch);
        dataaccess::ConnectionFields f;
        f.option1 = true;
        f.text1 = qs(dbc);
        fieldsFor(f);
    }

    void target(const std::string& file, const QString& password = {})
    {
        mdb = newAccess(scratch, file);
        fields.text3 = qs(mdb);
        fields.text4 = password;
        fieldsFor(fields);
    }

    void fieldsFor(const dataaccess::ConnectionFields& f)
    {
        fields = f;
        scope.reset();
        scope = std::make_unique<ConnectionFieldsScope>(fields);
    }

    void listFoxPro() { fillList(host.foxpro, dataaccess::FoxProConnectionString().toStdString()); }

    void send(const QStringList& names)
    {
        if (host.foxpro.ListCount() == 0)
            listFoxPro();
        host.select(names);
        toaccess::SendTablesToAccess(host);
    }

    fs::path dbc, mdb;
    dataaccess::ConnectionFields fields;
    std::unique_ptr<ConnectionFieldsScope> scope;
    RecordingHost host;
};

// ---------------------------------------------------------------- columns

TEST(AccessColumns, EachFieldGetsAColumnThatHoldsItsValues)
{
    auto field = [](std::int16_t type, int size = 0, int precision = 0, int scale = 0, bool isFloat = false) {
        toaccess::SourceField f;
        f.info.name = "f";
        f.info.type = type;
        f.info.definedSize = size;
        f.info.precision = precision;
        f.info.scale = scale;
        f.floatField = isFloat;
        return toaccess::AccessColumnType(f);
    };
    EXPECT_EQ(field(ado::adChar, 30), "MEMO");
    EXPECT_EQ(field(ado::adLongVarChar), "MEMO");
    EXPECT_EQ(field(ado::adNumeric, 19, 9, 2), "DECIMAL(9,2)");     // N(10,2)
    EXPECT_EQ(field(ado::adNumeric, 19, 9, 0), "LONG");             // N(9)
    EXPECT_EQ(field(ado::adNumeric, 19, 10, 0), "DECIMAL(10,0)");   // N(10): beyond a Long
    EXPECT_EQ(field(ado::adNumeric, 19, 11, 3, true), "FLOAT");     // F(12,3)
    EXPECT_EQ(field(ado::adDecimal, 19, 18, 4), "DECIMAL(18,4)");
    EXPECT_EQ(field(ado::adDecimal, 19, 38, 4), "FLOAT");           // no Decimal holds 38 digits
    EXPECT_EQ(field(ado::adDecimal, 19, 0, 0), "FLOAT");            // digits unknown
    EXPECT_EQ(field(ado::adSingle), "REAL");
    EXPECT_EQ(field(ado::adDouble), "FLOAT");
    EXPECT_EQ(field(ado::adCurrency), "CURRENCY");
    EXPECT_EQ(field(ado::adBoolean), "BIT");
    EXPECT_EQ(field(ado::adTinyInt), "SMALLINT");
    EXPECT_EQ(field(ado::adUnsignedTinyInt), "BYTE");
    EXPECT_EQ(field(ado::adUnsignedSmallInt), "LONG");
    EXPECT_EQ(field(ado::adUnsignedInt), "DECIMAL(10,0)");
    EXPECT_EQ(field(ado::adBigInt), "DECIMAL(19,0)");
    EXPECT_EQ(field(ado::adBinary, 4), "BINARY(4)");
    EXPECT_EQ(field(ado::adVarBinary, 254), "BINARY(254)");
    EXPECT_EQ(field(ado::adLongVarBinary), "LONGBINARY");
    EXPECT_EQ(field(ado::adDBDate), "DATETIME");
    EXPECT_EQ(field(ado::adDBTimeStamp), "DATETIME");
    EXPECT_EQ(field(ado::adGUID), "VARCHAR");
    EXPECT_EQ(toaccess::CloseCreateTable(toaccess::CreateTableOpening("t") + toaccess::ColumnDefinition([] {
                  toaccess::SourceField f;
                  f.info.name = "id";
                  f.info.type = ado::adInteger;
                  return f;
              }())),
              "CREATE TABLE `t`(`id` LONG);");
}

// ---------------------------------------------------------------- the run

TEST_F(SendToAccess, NoCurrentEntryOnlyAsksForOne)
{
    target("t.mdb");
    listFoxPro();
    toaccess::SendTablesToAccess(host);
    EXPECT_EQ(dialogs.messages(), QStringList{"Please select a table to send."});
    EXPECT_TRUE(host.caption.isEmpty());
    EXPECT_TRUE(host.pointers.empty());
}

TEST_F(SendToAccess, EveryValueArrivesInColumnsThatHoldIt)
{
    for (const char* file : {"plain.mdb", "plain.accdb"}) {
        SCOPED_TRACE(file);
        target(file);
        host.access.Clear();
        host.foxpro.Clear();
        host.progress.clear();
        host.pointers.clear();
        host.buffer.clear();
        send({"items"});
        EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
        EXPECT_EQ(host.caption, "Execute SQL On Access");
        EXPECT_EQ(host.pointers, (std::vector<int>{mainwindow::kPointerHourglass, mainwindow::kPointerDefault}));
        EXPECT_EQ(host.progress, (std::vector<int>{25, 50, 75, 100, 0}));
        EXPECT_EQ(host.access.names(), QStringList{"items"});
        EXPECT_EQ(host.access.kinds(), QStringList{"TABLE"});

        std::vector<std::pair<std::string, CT>> expected = {
            {"id", CT::Long},         {"name", CT::Memo},    {"price", CT::Decimal}, {"born", CT::DateTime},
            {"active", CT::Boolean},  {"qty", CT::Long},     {"big", CT::Decimal},   {"amount", CT::Currency},
            {"ratio", CT::Double},    {"measure", CT::Double}, {"notes", CT::Memo},  {"code", CT::Binary},
            {"stamp", CT::DateTime}};
        const auto cols = accessColumns(mdb, "items");
        ASSERT_EQ(cols.size(), expected.size());
        for (std::size_t i = 0; i < cols.size(); ++i) {
            EXPECT_EQ(cols[i].name, expected[i].first);
            EXPECT_EQ(cols[i].type, expected[i].second) << cols[i].name << " " << cols[i].nativeType;
        }
        EXPECT_EQ(cols[2].scale, 2);

        const auto rows = accessRows(mdb, "items");
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[0][2].toDecimal().toString(), "12.75"); // not 13
        EXPECT_EQ(rows[0][4].type(), VarType::Boolean);
        EXPECT_TRUE(rows[0][4].toBool());
        EXPECT_EQ(rows[0][6].toDecimal().toString(), "123456789012");
        EXPECT_EQ(rows[0][7].toCurrency(), 187500);
        EXPECT_EQ(rows[0][11].rawString(), std::string("\x00\xff\x10\x7f", 4));
        // Blank dates and .NULL. values arrive as Null (a Yes/No has no Null: No).
        for (int f : {2, 3, 5, 6, 7, 8, 9, 10, 11, 12})
            EXPECT_TRUE(rows[1][f].isNull()) << f;
        EXPECT_FALSE(rows[1][4].toBool());
        EXPECT_EQ(rows[2][1].toString(), "Ünïcode ç" + std::string(21, ' '));
        EXPECT_EQ(rows[2][10].toString().size(), 5000u);
        EXPECT_EQ(rows[2][8].toDouble(), -1e300);

        // The SQL window gains a comment, nothing that would run again.
        EXPECT_EQ(host.buffer.text(), "-- table `items` created with 4 rows\r\n");
    }
}

TEST_F(SendToAccess, IndependentReadersSeeTheSameValues)
{
    QM_REQUIRE_PROGRAM("mdb-export");
    QM_REQUIRE_MDB_READER();
    for (const char* file : {"readers.mdb", "readers.accdb"}) {
        SCOPED_TRACE(file);
        target(file);
        host.access.Clear();
        host.foxpro.Clear();
        send({"items", "people", "empty"});
        EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
        auto dump = jetw::test::mdbReaderDump(mdb);
        for (const char* t : {"items", "people", "empty"}) {
            jetw::test::MdbReaderTable& table = dump.data[t];
            jetw::test::normalizeMdbReaderRows(table);
            EXPECT_EQ(table.rows, jetw::test::readerRowsAsMdbReader(mdb, t)) << t;
        }
        EXPECT_EQ(dump.data["items"].rows.at(0).at(2), "12.75");
        EXPECT_EQ(dump.data["items"].rows.at(0).at(4), "true");
        EXPECT_EQ(dump.data["items"].rows.at(0).at(11), "00FF107F");
        const auto exported = jetw::test::mdbExport(mdb, "items");
        ASSERT_EQ(exported.size(), 4u);
        EXPECT_EQ(exported[0][1], "Chai" + std::string(26, ' '));
        EXPECT_EQ(exported[0][3], "1998-04-12 00:00:00");
        EXPECT_DOUBLE_EQ(std::stod(exported[0][2]), 12.75);
        EXPECT_EQ(exported[0][10], "it's here\r\nsecond line");
        EXPECT_EQ(exported[1][3], "");
        EXPECT_EQ(jetw::test::mdbExport(mdb, "empty").size(), 0u);
    }
}

TEST_F(SendToAccess, LowerEntriesGoFirstAndEmptyTablesAreCreated)
{
    target("order.mdb");
    send({"empty", "people"});
    // The list is walked from the bottom: people (listed after empty) first.
    ASSERT_EQ(host.foxpro.names().indexOf("empty") < host.foxpro.names().indexOf("people"), true);
    EXPECT_EQ(host.access.names(), (QStringList{"people", "empty"}));
    EXPECT_EQ(accessRows(mdb, "empty").size(), 0u);
    EXPECT_EQ(accessColumns(mdb, "empty").size(), 2u);
    // The empty table moves no progress bar.
    EXPECT_EQ(host.progress, (std::vector<int>{20, 40, 60, 80, 100, 0}));
}

TEST_F(SendToAccess, OverwriteAnswers)
{
    target("over.mdb");
    send({"people"});
    ASSERT_EQ(accessRows(mdb, "people").size(), 5u);
    {
        auto db = storage::openDatabase(mdb.string());
        db->append("people", std::vector<Value>{Value::string("extra")});
    }
    // No: skipped entirely.
    dialogs.queueAnswer(Answer::No);
    toaccess::SendTablesToAccess(host);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Would you like to overwrite people?");
    EXPECT_EQ(dialogs.shown()[0].title, "Overwrite?");
    EXPECT_EQ(dialogs.shown()[0].buttons, shell::Buttons::YesNo);
    EXPECT_EQ(accessRows(mdb, "people").size(), 6u);
    EXPECT_EQ(host.access.names(), QStringList{"people"});
    // Yes: the table is replaced; the list has the name once.
    dialogs.clearRecord();
    dialogs.queueAnswer(Answer::Yes);
    toaccess::SendTablesToAccess(host);
    EXPECT_EQ(dialogs.messages(), QStringList{"Would you like to overwrite people?"});
    EXPECT_EQ(accessRows(mdb, "people").size(), 5u);
    EXPECT_EQ(host.access.names(), QStringList{"people"});
    // An Access entry differing in letter case is asked about; the exact
    // list removal keeps it and adds the FoxPro spelling beside it.
    host.access.Clear();
    host.access.AddItem("PEOPLE", "TABLE");
    dialogs.clearRecord();
    dialogs.queueAnswer(Answer::Yes);
    toaccess::SendTablesToAccess(host);
    EXPECT_EQ(dialogs.messages(), QStringList{"Would you like to overwrite people?"});
    EXPECT_EQ(host.access.names(), (QStringList{"PEOPLE", "people"}));
    EXPECT_EQ(accessRows(mdb, "people").size(), 5u);
}

TEST_F(SendToAccess, ViewsBecomeSavedQueriesAndReplaceOldOnes)
{
    QM_REQUIRE_MDB_READER();
    target("views.mdb");
    send({"cheap"});
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
    EXPECT_EQ(host.access.names(), QStringList{"cheap"});
    EXPECT_EQ(host.access.kinds(), QStringList{"VIEW"});
    const std::string sql = "SELECT [items].[name], [items].[price] FROM items WHERE [items].[price] < 20";
    {
        ado::DaoEngine& dao = ado::DaoEngine::instance();
        auto db = dao.OpenDatabase(mdb.string());
        EXPECT_EQ(oneLine(db->QueryDefSQL("cheap")), sql);
    }
    EXPECT_EQ(jetw::test::mdbReaderDump(mdb).queries, std::vector<std::string>{"cheap"});

    // Answer Yes with a saved query of that name: it is replaced at once,
    // and nothing is left in the script to drop it again later.
    {
        auto db = storage::openDatabase(mdb.string());
        db->dropView("cheap");
        db->createView("cheap", "SELECT people.name FROM people");
    }
    dialogs.queueAnswer(Answer::Yes);
    toaccess::SendTablesToAccess(host);
    EXPECT_EQ(dialogs.messages(), QStringList{"Would you like to overwrite cheap?"});
    EXPECT_EQ(host.access.names(), QStringList{"cheap"});
    EXPECT_TRUE(host.buffer.text().isEmpty());
    auto db = ado::DaoEngine::instance().OpenDatabase(mdb.string());
    EXPECT_EQ(oneLine(db->QueryDefSQL("cheap")), sql);
}

TEST_F(SendToAccess, ViewsGoIntoAPasswordProtectedDatabase)
{
    QM_REQUIRE_SHARED();
    QM_REQUIRE_MDB_READER();
    mdb = scratch / "locked.mdb";
    fs::copy_file(fixture("access/mdb-reader/password/data/V2000_with-password.mdb"), mdb);
    fs::permissions(mdb, fs::perms::owner_write, fs::perm_options::add);
    fields.text3 = qs(mdb);
    fields.text4 = "password";
    fieldsFor(fields);
    send({"cheap", "people"});
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
    const auto dump = jetw::test::mdbReaderDump(mdb, {"people"}, "password");
    EXPECT_NE(std::find(dump.queries.begin(), dump.queries.end(), "cheap"), dump.queries.end());
    EXPECT_EQ(accessRows(mdb, "people", "password").size(), 5u);
}

TEST_F(SendToAccess, RefusedValuesAreReportedOncePerTableAndTheRunGoesOn)
{
    target("refused.mdb");
    host.customise = true;
    host.customizer = [](const QString& table, const QString& sql) {
        dataaccess::CustomizeCancelled = dataaccess::kFalse;
        if (table == "people")
            return sql + "[name] VARCHAR(5))";
        return sql; // the window composed nothing: the run completes it
    };
    send({"people", "items"});
    const QStringList messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 1) << messages.join("\n").toStdString();
    const QString report = messages[0];
    // Names how many, the table, the first row, its field and its value.
    EXPECT_TRUE(report.startsWith("3 of the 5 rows of table people could not be written")) << report.toStdString();
    EXPECT_TRUE(report.contains("row 2")) << report.toStdString();
    EXPECT_TRUE(report.contains("Bartholomew")) << report.toStdString();
    EXPECT_TRUE(report.contains("name")) << report.toStdString();
    EXPECT_TRUE(report.contains("in Ferrowick2016/11/03.Form2.PushButton4_Click at line ")) << report.toStdString();
    EXPECT_TRUE(report.endsWith("\r\rsql: CREATE TABLE `people`([name] VARCHAR(5))")) << report.toStdString();
    // items (higher in the list) came after and arrived whole.
    EXPECT_EQ(accessRows(mdb, "people").size(), 2u);
    EXPECT_EQ(accessRows(mdb, "items").size(), 4u);
    EXPECT_EQ(host.buffer.text(),
              "-- table `people` created with 2 of its 5 rows\r\n-- table `items` created with 4 rows\r\n");
    ASSERT_EQ(host.customizations.size(), 2u);
    EXPECT_EQ(host.customizations[0].mType, "ACCESS");
    EXPECT_EQ(host.customizations[0].mTableName, "people");
    EXPECT_EQ(host.customizations[0].mSQL, "CREATE TABLE `people`(");
}

TEST_F(SendToAccess, TheCustomizationWindowComposesTheStatement)
{
    target("window.accdb");
    host.customise = true;
    // The user changes the type of "name" to memo and presses "OK".
    host.customizer = [](const QString& table, const QString& sql) {
        customization::Form3 form;
        form.mType = "ACCESS";
        form.mSQL = sql;
        form.mTableName = table;
        form.Form_Load();
        EXPECT_EQ(form.List1->count(), 1);
        form.List1->setCurrentRow(0);
        form.List1_Click();
        form.Text1->setText("nonsense"); // refused by "Apply"
        form.PushButton1_Click();
        form.Text1->setText("memo");
        form.PushButton1_Click();
        form.PushButton2_Click();
        return form.mSQL;
    };
    send({"people"});
    EXPECT_EQ(dialogs.messages(), QStringList{"Invalid datatype."});
    ASSERT_EQ(host.customizations.size(), 1u);
    EXPECT_EQ(host.customizations[0].mSQL, "CREATE TABLE `people`(");
    const auto cols = accessColumns(mdb, "people");
    ASSERT_EQ(cols.size(), 1u);
    EXPECT_EQ(cols[0].type, CT::Memo);
    EXPECT_EQ(accessRows(mdb, "people").size(), 5u);
    EXPECT_EQ(accessRows(mdb, "people")[1][0].toString(), "Bartholomew");
}

TEST_F(SendToAccess, CancellingTheCustomizationAtTheSecondTableEndsTheRun)
{
    target("cancel.mdb");
    host.customise = true;
    int shown = 0;
    host.customizer = [&](const QString&, const QString& sql) {
        if (++shown == 1)
            dataaccess::CustomizeCancelled = dataaccess::kFalse; // "OK" on the first
        return sql;
    };
    send({"people", "empty", "items"});
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(dialogs.messages().isEmpty()) << dialogs.messages().join("\n").toStdString();
    EXPECT_EQ(host.access.names(), QStringList{"people"});
    EXPECT_EQ(accessRows(mdb, "people").size(), 5u);
    EXPECT_EQ(host.pointers.back(), mainwindow::kPointerDefault);
    storage::OpenOptions o;
    auto db = storage::openDatabase(mdb.string(), o);
    EXPECT_FALSE(db->find("empty"));
    // Both connections were let go: the file takes a writer again.
    db->append("people", std::vector<Value>{Value::string("x")});
}

// ------------------------------------------------------------ keys and views

storage::IndexSpec key(const char* name, std::vector<std::string> columns, bool primary, bool unique,
                       std::string expression = {}, std::string filter = {})
{
    storage::IndexSpec k;
    k.name = name;
    k.columns = std::move(columns);
    k.primaryKey = primary;
    k.unique = unique;
    k.expression = std::move(expression);
    k.filter = std::move(filter);
    return k;
}

TEST_F(SendToAccess, KeysArriveAndTagsThatCannotAreNamedInOneReport)
{
    {
        auto db = storage::openDatabase(dbc.string());
        db->createTable({"keyed", {storage::column("id", CT::Long), storage::column("code", CT::Char, 5), storage::column("label", CT::Char, 20)}, {}});
        for (int i = 1; i <= 3; ++i)
            db->append("keyed", std::vector<Value>{Value::longInt(i), Value::string("C" + std::to_string(i)),
                                                   Value::string(i == 2 ? "" : "L" + std::to_string(i))});
        db->createIndex("keyed", key("id", {"id"}, true, false));
        db->createIndex("keyed", key("code", {"code"}, false, true));
        db->createIndex("keyed", key("short", {}, false, false, "LEFT(label,3)"));
        db->createIndex("keyed", key("filled", {"label"}, false, false, {}, "!EMPTY(label)"));
    }
    target("keys.mdb");
    send({"keyed", "items"});
    // One report, for the table whose tags could not all be carried.
    const QStringList messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 1) << messages.join("\n").toStdString();
    const QString report = messages[0];
    EXPECT_TRUE(report.startsWith("Table keyed was sent to the Access database without these of its keys:"))
        << report.toStdString();
    EXPECT_TRUE(report.contains("short: ", Qt::CaseInsensitive) && report.contains("LEFT(label,3)")) << report.toStdString();
    EXPECT_TRUE(report.contains("filled: ", Qt::CaseInsensitive) && report.contains("!EMPTY(label)")) << report.toStdString();
    EXPECT_FALSE(report.contains("code:", Qt::CaseInsensitive)) << report.toStdString();
    EXPECT_EQ(accessRows(mdb, "keyed").size(), 3u);

    storage::OpenOptions ro;
    ro.readOnly = true;
    const auto keys = storage::openDatabase(mdb.string(), ro)->indexes("keyed");
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys[0].primaryKey);
    EXPECT_EQ(keys[0].columns, std::vector<std::string>{"id"});
    EXPECT_TRUE(keys[1].unique && !keys[1].primaryKey);
    EXPECT_EQ(keys[1].columns, std::vector<std::string>{"code"});
    if (programAvailable("mdb-schema")) {
        const auto r = run({"mdb-schema", "--indexes", "--no-relations", "-T", "keyed", mdb.string(), "mysql"});
        EXPECT_NE(r.out.find("PRIMARY KEY (`id`)"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("UNIQUE"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("(`code`)"), std::string::npos) << r.out;
    }
}

TEST_F(SendToAccess, ViewsAreTranslatedOrKeptAndReported)
{
    {
        auto db = storage::openDatabase(dbc.string());
        db->createView("exact", "SELECT items.name FROM shop!items WHERE items.name == 'Chai'");
    }
    target("translated.mdb");
    send({"exact", "cheap", "items"});
    const QStringList messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 1) << messages.join("\n").toStdString();
    EXPECT_TRUE(messages[0].startsWith("The view exact was stored in the Access database with its FoxPro text"))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("cannot translate: ==")) << messages[0].toStdString();

    auto dao = ado::DaoEngine::instance().OpenDatabase(mdb.string());
    EXPECT_EQ(oneLine(dao->QueryDefSQL("exact")), "SELECT items.name FROM items WHERE items.name == 'Chai'");
    // The translated view runs in Access and returns the view's rows.
    ado::Connection access;
    access.Open(dataaccess::AccessConnectionString(QString(), QString()).toStdString());
    ado::Recordset rs;
    rs.Open("SELECT * FROM cheap", access);
    std::multiset<std::string> names; // C(30): blank-padded in its Memo
    for (; !rs.Eof(); rs.MoveNext())
        names.insert(QString::fromStdString(rs.Fields(0).GetValue().toString()).trimmed().toStdString());
    EXPECT_EQ(names, (std::multiset<std::string>{"Chai", "Ünïcode ç", "last"}));
}

TEST_F(SendToAccess, RemoteViewsAreReportedAndNotStored)
{
    QM_REQUIRE_SHARED();
    // Its views read a server through the connection mtxpubs.
    const fs::path folder = scratch / "transactions";
    fs::create_directory(folder);
    for (const auto& f : fs::directory_iterator(fixture("xbase/vfpx-samples/Com+/Transactions")))
        fs::copy_file(f.path(), folder / f.path().filename());
    dataaccess::ConnectionFields f;
    f.option1 = true;
    f.text1 = qs(folder / "testdata.dbc");
    fieldsFor(f);
    target("remote.mdb");
    send({"products", "customer"});

    const QStringList messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 2) << messages.join("\n").toStdString();
    for (const QString& m : messages)
        EXPECT_TRUE(m.contains("reads a remote database through the connection 'mtxpubs'")) << m.toStdString();
    storage::OpenOptions o;
    o.readOnly = true;
    auto access = storage::openDatabase(mdb.string(), o);
    EXPECT_FALSE(access->find("products"));
    EXPECT_FALSE(access->find("customer"));
}

TEST(NewAccessDatabase, MadeByItsExtensionOnlyWhenMissing)
{
    TempDir dir;
    for (const char* name : {"a.mdb", "b.ACCDB"}) {
        const fs::path p = dir / name;
        ASSERT_TRUE(toaccess::MakeAccessDatabaseIfMissing(p.string()));
        const std::string head = readFile(p).substr(0, 0x20);
        EXPECT_NE(head.find(std::string(name) == "a.mdb" ? "Standard Jet DB" : "Standard ACE DB"), std::string::npos);
        const auto before = fs::file_size(p);
        EXPECT_FALSE(toaccess::MakeAccessDatabaseIfMissing(p.string()));
        EXPECT_EQ(fs::file_size(p), before);
    }
}

TEST(AccessQueryText, TheContainerBeforeATableGoes)
{
    EXPECT_EQ(toaccess::AccessQueryText("SELECT a.x FROM shop!a, Shop_2!b WHERE a.x != 'q!r' AND !a.y"),
              "SELECT a.x FROM a, b WHERE a.x != 'q!r' AND !a.y");
    EXPECT_EQ(toaccess::AccessQueryText("SELECT [db!x] FROM t"), "SELECT [db!x] FROM t");
}

TEST_F(SendToAccess, TheNoteInTheScriptRunsNothing)
{
    target("note.mdb");
    send({"people"});
    ado::Connection c;
    c.Open(dataaccess::AccessConnectionString(QString(), QString()).toStdString());
    try {
        c.Execute(host.buffer.text().toStdString());
    } catch (const ado::AdoError&) {
        // A text of comments only holds no command: refused, nothing run.
    }
    c.Close();
    EXPECT_EQ(accessRows(mdb, "people").size(), 5u);
    EXPECT_TRUE(toaccess::CreatedTableNote("t", 3, 3).startsWith("--"));
}

// ---------------------------------------------------------------- fixtures

// Every FoxPro table of the shared fixtures that our reader reads, sent to a
// new .mdb and .accdb, read back by mdb-reader value for value as the
// facade reads the FoxPro table, after the column mapping.
class FixtureTransfer : public AppTest {};

CT expectedType(const QString& accessType)
{
    if (accessType == "MEMO" || accessType == "VARCHAR") return CT::Memo;
    if (accessType == "BIT") return CT::Boolean;
    if (accessType == "LONG") return CT::Long;
    if (accessType == "SMALLINT") return CT::Integer;
    if (accessType == "BYTE") return CT::Byte;
    if (accessType == "REAL") return CT::Single;
    if (accessType == "FLOAT") return CT::Double;
    if (accessType == "CURRENCY") return CT::Currency;
    if (accessType == "DATETIME") return CT::DateTime;
    if (accessType == "LONGBINARY") return CT::LongBinary;
    if (accessType.startsWith("DECIMAL")) return CT::Decimal;
    if (accessType.startsWith("BINARY")) return CT::Binary;
    return CT::Unknown;
}

// Whether mdb-export's text for a cell agrees with the source value, for a
// column of the given type: texts, whole numbers, dates and bytes exactly,
// other numbers to the digits mdbtools prints.
bool exportAgrees(const std::string& cell, const Value& v, CT type)
{
    if (v.isNull())
        return cell.empty() || (type == CT::Boolean && cell == "0");
    switch (type) {
    case CT::Boolean:
        return cell == (v.toBool() ? "1" : "0");
    case CT::Long:
    case CT::Integer:
    case CT::Byte:
        return cell == std::to_string(v.toInt64());
    case CT::Decimal:
    case CT::Double:
    case CT::Single:
    case CT::Currency: {
        const double want = v.toDouble();
        char* end = nullptr;
        const double got = std::strtod(cell.c_str(), &end);
        if (end == cell.c_str())
            return false;
        const double tolerance = (type == CT::Single ? 1e-6 : 1e-12) * std::max(1.0, std::fabs(want));
        return std::fabs(got - want) <= tolerance;
    }
    case CT::DateTime: {
        // mdbtools prints no date before 1900 (its day count starts there);
        // mdb-reader checks those.
        if (v.toDate() < 2.0)
            return true;
        const DateParts p = date::toPartsRoundedToSecond(v.toDate());
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
        return cell == buf;
    }
    case CT::Binary:
    case CT::LongBinary: {
        std::string a = cell, b = hex(v.rawString());
        for (char& c : a)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return a == b;
    }
    default: {
        // mdbtools reads text as C strings: it ends at the first NUL.
        const std::string text = v.toString();
        return cell == text.substr(0, text.find('\0'));
    }
    }
}

struct Source {
    std::string connectionString;
    std::string label;
};

std::vector<Source> foxproSources()
{
    std::vector<Source> out;
    std::set<fs::path> folders;
    for (const auto& e : fs::recursive_directory_iterator(fixture("xbase"))) {
        if (!e.is_regular_file())
            continue;
        std::string ext = e.path().extension().string();
        for (char& c : ext)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dbc")
            out.push_back({"Provider=vfpoledb.1;Data Source=" + e.path().string() + ";Collating Sequence=machine;",
                           e.path().string()});
        else if (ext == ".dbf")
            folders.insert(e.path().parent_path());
    }
    for (const auto& f : folders)
        out.push_back({"Provider=vfpoledb.1;Data Source=" + f.string() + ";Collating Sequence=general;", f.string()});
    return out;
}

TEST_F(FixtureTransfer, EveryReadableTableArrivesValueForValue)
{
    QM_REQUIRE_SHARED();
    QM_REQUIRE_MDB_READER();
    int tablesChecked = 0;
    for (const Source& source : foxproSources()) {
        SCOPED_TRACE(source.label);
        // The tables our reader reads whole, with the column each gets.
        struct Table {
            std::string name;
            std::vector<CT> types;
            std::vector<int> scales;
            jetw::test::Rows expected;
            std::vector<std::vector<Value>> values;
        };
        std::vector<Table> tables;
        ado::Connection fox;
        try {
            fox.Open(source.connectionString);
        } catch (const std::exception&) {
            continue; // not a source our reader opens
        }
        for (const auto& [name, type] : fox.session().schemaTables()) {
            if (type != "TABLE")
                continue;
            Table t;
            t.name = name;
            try {
                ado::Recordset rs;
                rs.Open("SELECT * FROM \"" + name + "\"", fox);
                std::vector<storage::ColumnDef> defs;
                try { defs = fox.session().database().columns(name); } catch (const std::exception&) {}
                for (std::size_t f = 0; f < rs.FieldCount(); ++f) {
                    toaccess::SourceField s;
                    s.info = rs.Fields(f).info();
                    s.floatField = f < defs.size() && defs[f].type == CT::Float;
                    const QString at = toaccess::AccessColumnType(s);
                    t.types.push_back(expectedType(at));
                    t.scales.push_back(at.startsWith("DECIMAL") ? s.info.scale : 0);
                }
                for (; !rs.Eof(); rs.MoveNext()) {
                    std::vector<std::string> row;
                    t.values.emplace_back();
                    for (std::size_t f = 0; f < rs.FieldCount(); ++f)
                        t.values.back().push_back(rs.Fields(f).GetValue());
                    for (std::size_t f = 0; f < rs.FieldCount(); ++f) {
                        const CT ct = t.types[f] == CT::Memo ? CT::VarChar : t.types[f];
                        row.push_back(jetw::test::mdbReaderText(rs.Fields(f).GetValue(), ct, t.scales[f]));
                    }
                    t.expected.push_back(std::move(row));
                }
            } catch (const std::exception&) {
                continue; // our reader does not read it whole
            }
            tables.push_back(std::move(t));
        }
        fox.Close();
        if (tables.empty())
            continue;
        for (const char* ext : {".mdb", ".accdb"}) {
            SCOPED_TRACE(ext);
            TempDir dir;
            const fs::path access = newAccess(dir, std::string("copy") + ext);
            dataaccess::ConnectionFields f;
            f.option1 = true;
            // The connection strings come from the fields; the container or
            // folder is named by its Data Source.
            const auto cs = ado::ConnectionString::parse(source.connectionString);
            f.option1 = source.connectionString.find("machine") != std::string::npos;
            f.text1 = f.text2 = QString::fromStdString(cs.value("Data Source"));
            f.text3 = qs(access);
            ConnectionFieldsScope fieldsScope(f);
            RecordingHost h;
            fillList(h.foxpro, source.connectionString);
            QStringList names;
            for (const Table& t : tables)
                names << QString::fromStdString(t.name);
            h.select(names);
            dialogs.clearRecord();
            toaccess::SendTablesToAccess(h);
            // Only tags Access has no index for (expressions, filters) may be
            // reported, once per table.
            QStringList reported;
            for (const QString& m : dialogs.messages()) {
                EXPECT_TRUE(m.contains(" was sent to the Access database without these of its keys:")) << m.toStdString();
                reported << m.section(' ', 1, 1);
            }
            EXPECT_EQ(reported.size(), QSet<QString>(reported.begin(), reported.end()).size());
            std::vector<std::string> wanted;
            for (const Table& t : tables)
                wanted.push_back(t.name);
            auto dump = jetw::test::mdbReaderDump(access, wanted);
            for (const Table& t : tables) {
                SCOPED_TRACE(t.name);
                jetw::test::MdbReaderTable& got = dump.data[t.name];
                ASSERT_EQ(got.columns.size(), t.types.size());
                for (std::size_t c = 0; c < t.types.size(); ++c)
                    EXPECT_EQ(jetw::test::mdbReaderType(got.columns[c].type), t.types[c]) << got.columns[c].name;
                jetw::test::normalizeMdbReaderRows(got);
                EXPECT_EQ(got.rows, t.expected);
                if (ext == std::string(".mdb") && programAvailable("mdb-export")) {
                    const auto exported = jetw::test::mdbExport(access, t.name);
                    ASSERT_EQ(exported.size(), t.values.size());
                    int disagreements = 0;
                    for (std::size_t r = 0; r < exported.size(); ++r)
                        for (std::size_t c = 0; c < t.types.size() && c < exported[r].size(); ++c)
                            if (!exportAgrees(exported[r][c], t.values[r][c], t.types[c]) && ++disagreements <= 3)
                                ADD_FAILURE() << "mdb-export row " << r + 1 << " field " << c + 1 << ": '"
                                              << exported[r][c] << "', the FoxPro value '"
                                              << (t.values[r][c].isNull() ? "<null>" : t.values[r][c].toString()) << "'";
                }
                ++tablesChecked;
            }
        }
    }
    EXPECT_GT(tablesChecked, 20);
}

} // namespace
} // namespace qm::test
