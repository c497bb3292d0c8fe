// The executor against real free tables written by the xBase engine, read
// back through the engine and through dbfread.
#include "sql/executor.h"
#include "storage/open.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace qm::sql {
namespace {

using test::TempDir;

struct Folder {
    TempDir dir;
    std::unique_ptr<storage::Database> db;
    explicit Folder(storage::OpenOptions::Flavor flavor = storage::OpenOptions::Flavor::VisualFoxPro) {
        storage::OpenOptions o;
        o.flavor = flavor;
        db = xbase::openFolder(dir.path().string(), o);
    }
};

ExecutorOptions withFolders() {
    ExecutorOptions o;
    o.openFolder = [](const std::string& folder, const storage::OpenOptions& opts) { return xbase::openFolder(folder, opts); };
    return o;
}

std::vector<std::vector<std::string>> rows(Executor& ex, std::string_view sql) {
    auto cur = ex.query(sql);
    std::vector<std::vector<std::string>> out;
    while (cur->next()) {
        std::vector<std::string> r;
        for (std::size_t i = 0; i < cur->columns().size(); ++i) {
            const Value& v = cur->value(i);
            r.push_back(v.isNull() ? "NULL" : v.toString());
        }
        out.push_back(std::move(r));
    }
    return out;
}

std::string runError(Executor& ex, std::string_view script) {
    try {
        ex.runScript(script);
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(SqlExecutorXbase, ProgramScriptFillsAFreeTable) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    std::vector<StatementOutcome> seen;
    ex.runScript(
        "CREATE TABLE orders (id I, label C(20), born D, active L, note M NULL, price N(10,2))\r\n"
        "insert into [orders] (id,label,born,active,note,price) values (1,'it''s here',Date(2016,11,3),1,NULL,12.5)\r\n"
        "insert into [orders] (id,label,born,active,note,price) values (2,'two\r\nlines',Date(2000,1,1),0,'memo; text',-3)\r\n"
        "insert into [orders] (id,label,born,active,note,price) values (3,'',NULL,1,'',0.01)\r\n",
        [&](const StatementOutcome& o) { seen.push_back(o); });
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].rowsAffected, 1);
    EXPECT_EQ(seen[2].line, 3u);
    EXPECT_EQ(seen[3].line, 5u); // after the quoted line break

    const auto r = rows(ex, "SELECT id, label, born, active, note, price FROM orders ORDER BY id");
    ASSERT_EQ(r.size(), 3u);
    // A C(20) field gives its value padded to its width, as FoxPro does.
    EXPECT_EQ(r[0], (std::vector<std::string>{"1", "it's here           ", "2016-11-03", "True", "NULL", "12.5"}));
    EXPECT_EQ(r[1][1], "two\r\nlines          ");
    EXPECT_EQ(r[1][4], "memo; text");
    EXPECT_EQ(r[1][5], "-3");
    EXPECT_EQ(r[2][5], "0.01");

    // An independent reader sees the same rows.
    QM_REQUIRE_PROGRAM(test::kDebianPython);
    f.db.reset();
    const auto check = test::run({test::kDebianPython, "-c",
                                  "import dbfread,sys\n"
                                  "t=dbfread.DBF(sys.argv[1])\n"
                                  "for r in t: print(r['ID'], repr(r['LABEL']), r['BORN'], r['ACTIVE'], repr(r['NOTE']), r['PRICE'])\n",
                                  (f.dir.path() / "orders.dbf").string()});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_NE(check.out.find("1 \"it's here\" 2016-11-03 True None 12.5"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("2 'two\\r\\nlines' 2000-01-01 False 'memo; text' -3"), std::string::npos) << check.out;
}

TEST(SqlExecutorXbase, EveryStatementRunsAndFailuresAreCountedWithLines) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    const std::string err = runError(ex,
        "CREATE TABLE t (a I, b C(3))\n"
        "insert into [t] (a,b) values (1,'abc')\n"
        "insert into [t] (a,b) values (2,'abcd')\n"
        "insert into [t] (a,b) values ('x','a')\n"
        "insert into [t] (a,b) values (4,'d')\n"
        "insert into [nope] (a) values (5)\n");
    EXPECT_EQ(err.rfind("3 of 6 statements failed (lines 3, 4, 6). The first, at line 3: The field 't.B' is too small", 0), 0u) << err;
    EXPECT_NE(err.find("(4 characters, field holds 3)"), std::string::npos) << err;
    const auto r = rows(ex, "SELECT a FROM t");
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1][0], "4");

    // A single failing statement reports itself, with its place.
    EXPECT_EQ(runError(ex, "CREATE TABLE t (a I)"), "Table 't' already exists (line 1, column 14).");
    EXPECT_EQ(runError(ex, "insert into [t] (a,b) values (1 2)"),
              "Syntax error in INSERT INTO statement at line 1, column 33 near '2': expected ')'.");
    EXPECT_EQ(runError(ex, "insert into [t] (a,zz) values (1,2)"),
              "The INSERT INTO statement contains the following unknown field name: 'zz'. Table 't' has no such field.");
    EXPECT_EQ(runError(ex, "insert into [t] (a,b) values (1)"),
              "Number of query values and destination fields are not the same (1 values, 2 fields).");
}

TEST(SqlExecutorXbase, ValuesAreConvertedToTheColumnTypes) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE c (n N(8,2), d D, t T, i I, l L)\n"
                 "insert into [c] (n,d,t,i,l) values ('12.345','2016-11-03','2016-11-03 10:30:00','7','.T.')\n");
    const auto r = rows(ex, "SELECT n, d, t, i, l FROM c");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], (std::vector<std::string>{"12.35", "2016-11-03", "2016-11-03 10:30:00", "7", "True"}));
    const std::string err = runError(ex, "insert into [c] (n,d) values (1,'someday')");
    EXPECT_EQ(err, "The value 'someday' cannot be stored in the field 'c.D': it is not a date (line 1, column 33).");
}

TEST(SqlExecutorXbase, QueriesFilterSortGroupAndJoin) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE item (id I, kind C(5), qty I, price Y)\n"
                 "CREATE TABLE kind (code C(5), title C(20))\n"
                 "insert into [item] (id,kind,qty,price) values (1,'a',5,$1.50)\n"
                 "insert into [item] (id,kind,qty,price) values (2,'b',1,$10)\n"
                 "insert into [item] (id,kind,qty,price) values (3,'a',2,$0.25)\n"
                 "insert into [item] (id,kind,qty,price) values (4,'c',7,NULL)\n"
                 "insert into [kind] (code,title) values ('a','Apples')\n"
                 "insert into [kind] (code,title) values ('b','Bread')\n");
    EXPECT_EQ(rows(ex, "SELECT id FROM item WHERE qty > 1 AND kind = 'a' ORDER BY qty DESC"),
              (std::vector<std::vector<std::string>>{{"1"}, {"3"}}));
    EXPECT_EQ(rows(ex, "SELECT kind, COUNT(*) AS n, SUM(qty * price) AS total FROM item GROUP BY kind HAVING COUNT(*) > 1"),
              (std::vector<std::vector<std::string>>{{"a    ", "2", "8"}}));
    EXPECT_EQ(rows(ex, "SELECT COUNT(*), SUM(qty), MAX(price) FROM item WHERE id > 100"),
              (std::vector<std::vector<std::string>>{{"0", "NULL", "NULL"}}));
    EXPECT_EQ(rows(ex, "SELECT i.id, ALLTRIM(k.title) FROM item i LEFT JOIN kind k ON i.kind = k.code ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"1", "Apples"}, {"2", "Bread"}, {"3", "Apples"}, {"4", "NULL"}}));
    EXPECT_EQ(rows(ex, "SELECT DISTINCT RTRIM(kind) FROM item ORDER BY 1"),
              (std::vector<std::vector<std::string>>{{"a"}, {"b"}, {"c"}}));
    EXPECT_EQ(rows(ex, "SELECT TOP 2 id FROM item ORDER BY qty DESC"), (std::vector<std::vector<std::string>>{{"4"}, {"1"}}));
    EXPECT_EQ(rows(ex, "SELECT * FROM \"kind\"").size(), 2u);
    EXPECT_EQ(rows(ex, "kind").size(), 2u); // a bare table name as a recordset's source
    try {
        ex.query("SELECT nosuch FROM item");
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Unknown field 'nosuch' (line 1, column 8).");
    }
}

TEST(SqlExecutorXbase, UpdateDeleteAndAlter) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    std::vector<std::int64_t> affected;
    ex.runScript("CREATE TABLE u (a I, b C(10))\n"
                 "insert into [u] (a,b) values (1,'x')\n"
                 "insert into [u] (a,b) values (2,'y')\n"
                 "insert into [u] (a,b) values (3,'z')\n"
                 "UPDATE u SET b = ALLTRIM(UPPER(b)) + '!' WHERE a >= 2\n"
                 "DELETE FROM u WHERE a = 1\n"
                 "ALTER TABLE u ADD COLUMN c N(5,1)\n"
                 "UPDATE u SET c = a / 2\n",
                 [&](const StatementOutcome& o) { affected.push_back(o.rowsAffected); });
    EXPECT_EQ(affected, (std::vector<std::int64_t>{0, 1, 1, 1, 2, 1, 0, 2}));
    EXPECT_EQ(rows(ex, "SELECT a, b, c FROM u ORDER BY a"),
              (std::vector<std::vector<std::string>>{{"2", "Y!        ", "1"}, {"3", "Z!        ", "1.5"}}));
    ex.runScript("ALTER TABLE u DROP COLUMN b");
    auto cur = ex.query("SELECT * FROM u");
    ASSERT_EQ(cur->columns().size(), 2u);
    EXPECT_TRUE(storage::namesEqual(cur->columns()[1].name, "c"));
}

TEST(SqlExecutorXbase, InsertsIntoSeveralTablesInTurn) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE p (a I, b I)\nCREATE TABLE q (b I, a I)\n"
                 "insert into [p] (a,b) values (1,2)\n"
                 "insert into [q] (a,b) values (1,2)\n"
                 "insert into [p] (b,a) values (4,3)\n"
                 "insert into [q] (a,b) values (3,4)\n");
    EXPECT_EQ(rows(ex, "SELECT a, b FROM p"), (std::vector<std::vector<std::string>>{{"1", "2"}, {"3", "4"}}));
    EXPECT_EQ(rows(ex, "SELECT a, b FROM q"), (std::vector<std::vector<std::string>>{{"1", "2"}, {"3", "4"}}));
}

TEST(SqlExecutorXbase, TableDroppedAndMadeAgainInOneScript) {
    // The same name, another table: rows must go to the new file.
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE r (a I)\n"
                 "insert into [r] (a) values (1)\n"
                 "DROP TABLE r\n"
                 "CREATE TABLE r (a I, b C(5))\n"
                 "insert into [r] (a,b) values (2,'x')\n"
                 "insert into [R] (a,b) values (3,'y')\n"
                 "ALTER TABLE r ADD COLUMN c I\n"
                 "insert into [r] (a,b,c) values (4,'z',5)\n");
    EXPECT_EQ(rows(ex, "SELECT a, b, c FROM r"),
              (std::vector<std::vector<std::string>>{{"2", "x    ", "NULL"}, {"3", "y    ", "NULL"}, {"4", "z    ", "5"}}));
}

TEST(SqlExecutorXbase, ColumnsLeftOutNeverTakeThePreviousRowsValues) {
    Folder f;
    Executor ex(*f.db, Dialect::FoxPro);
    std::vector<StatementOutcome> seen;
    EXPECT_THROW(ex.runScript("CREATE TABLE w (a I NULL, b C(5) NULL)\n"
                 "insert into [w] (a,b) values (1,'one')\n"
                 "insert into [w] (a) values (2)\n"
                 "insert into [w] (a,b) values (3,'three!')\n" // too long: fails after a is converted
                 "insert into [w] (b) values ('four')\n"
                 "insert into [w] (b,a) values ('five',5)\n",
                 [&](const StatementOutcome& o) { seen.push_back(o); }),
                 Error); // the report of line 4
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_TRUE(seen[3].failed);
    EXPECT_EQ(rows(ex, "SELECT a, b FROM w"),
              (std::vector<std::vector<std::string>>{{"1", "one  "}, {"2", "NULL"}, {"NULL", "four "}, {"5", "five "}}));
}

TEST(SqlExecutorXbase, SelectIntoAnExternalDBaseFolder) {
    Folder src;
    TempDir out;
    {
        Executor fox(*src.db, Dialect::FoxPro);
        fox.runScript("CREATE TABLE customers (id I, name V(30), joined T, credit N(12,2), notes M NULL)\n"
                      "insert into [customers] (id,name,joined,credit,notes) values (1,'Ann',DateTime(2016,11,3),1234.5,'long text')\n"
                      "insert into [customers] (id,name,joined,credit,notes) values (2,'Bob',NULL,-2,NULL)\n");
    }
    // The free-table copy runs in the Access dialect and writes dBase IV files.
    Executor access(*src.db, Dialect::Access, withFolders());
    const std::string target = out.path().string() + "/";
    access.runScript("SELECT * INTO [dBase IV;DATABASE=" + target + ";].[customers] FROM `customers`");

    storage::OpenOptions o;
    o.flavor = storage::OpenOptions::Flavor::DBase4;
    auto copy = xbase::openFolder(out.path().string(), o);
    Executor check(*copy, Dialect::Access);
    // dBase has no Null: an empty memo stands for it.
    EXPECT_EQ(rows(check, "SELECT id, Trim(name), credit, notes FROM customers ORDER BY id"),
              (std::vector<std::vector<std::string>>{{"1", "Ann", "1234.5", "long text"}, {"2", "Bob", "-2", ""}}));
    // A second copy over the existing file is refused, as the Access engine does.
    const std::string err = runError(access, "SELECT * INTO [dBase IV;DATABASE=" + target + ";].[customers] FROM `customers`");
    EXPECT_NE(err.find("Table 'customers' already exists"), std::string::npos) << err;
    // dBase keeps dates without a time of day: a time is refused, not dropped.
    Executor fox(*src.db, Dialect::FoxPro);
    fox.runScript("insert into [customers] (id,name,joined) values (3,'Cy',DateTime(2016,11,3,10,30,0))");
    const std::string timeErr = runError(access, "SELECT * INTO [dBase IV;DATABASE=" + target + ";].[times] FROM `customers`");
    EXPECT_NE(timeErr.find("time"), std::string::npos) << timeErr;
    EXPECT_FALSE(std::filesystem::exists(out.path() / "times.dbf")); // no half copy stays behind
    // Without a way to open folders, the target is refused plainly.
    Executor bare(*src.db, Dialect::Access);
    EXPECT_NE(runError(bare, "SELECT * INTO [dBase IV;DATABASE=" + target + ";].[x] FROM `customers`").find("cannot be opened"),
              std::string::npos);
}

TEST(SqlExecutorXbase, StopHookEndsAStatementThatVisitsTooManyRows) {
    Folder f;
    ExecutorOptions o;
    std::uint64_t visits = 0, cap = 1000;
    o.stopRequested = [&] { return ++visits > cap; };
    Executor ex(*f.db, Dialect::FoxPro, o);
    std::string fill = "CREATE TABLE t (n I)\n";
    for (int i = 1; i <= 20; ++i) fill += "insert into [t] (n) values (" + std::to_string(i) + ")\n";
    ex.runScript(fill);
    // 20 rows: a plain scan stays under the cap, a three-way cross join (8000) does not.
    EXPECT_EQ(rows(ex, "SELECT COUNT(*) FROM t WHERE n > 10")[0][0], "10");
    visits = 0;
    EXPECT_NE(runError(ex, "SELECT a.n FROM t a, t b, t c ORDER BY 1").find("stopped"), std::string::npos);
    // Appending from a scan is stopped too.
    visits = 0;
    cap = 5;
    EXPECT_NE(runError(ex, "insert into t select n from t").find("stopped"), std::string::npos);
}

} // namespace
} // namespace qm::sql
