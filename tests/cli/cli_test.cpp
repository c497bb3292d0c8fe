// The command-line companion's contract: output forms, exit codes, and the
// values it exports compared with independent readers of the same files.
#include "test_support.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>

using qm::test::fixture;
using qm::test::run;
using qm::test::RunResult;

namespace {

RunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), QM_CLI);
    return run(args);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

void expectOneErrorLine(const RunResult& r, const std::string& mentions)
{
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    auto errLines = lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_NE(errLines[0].find(mentions), std::string::npos) << errLines[0];
}

} // namespace

TEST(CliUsage, WrongCommandLinesExitWithTwoAndTheUsage)
{
    auto none = cli({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("usage:"), std::string::npos);
    auto unknown = cli({"frobnicate", "x"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
    EXPECT_EQ(cli({"columns", "only-one-arg"}).exitCode, 2);
    EXPECT_EQ(cli({"tables", "db", "--password"}).exitCode, 2);
    EXPECT_EQ(cli({"--help"}).exitCode, 0);
}

TEST(CliErrors, OneLineNamingTheFileAndNonZeroExit)
{
    qm::test::TempDir dir;
    std::string missing = (dir / "nowhere.mdb").string();
    expectOneErrorLine(cli({"tables", missing}), missing);

    std::string junk = (dir / "junk.mdb").string();
    qm::test::writeFile(junk, std::string(5000, 'x'));
    expectOneErrorLine(cli({"export", junk, "T"}), junk);

    std::string notADb = (dir / "notes.txt").string();
    qm::test::writeFile(notADb, "hello");
    expectOneErrorLine(cli({"tables", notADb}), notADb);
}

TEST(CliAccess, TablesColumnsAndExportOfTheBasicTypes)
{
    QM_REQUIRE_SHARED();
    std::string db = fixture("access/jackcess/V2007/testV2007.accdb").string();
    auto tables = cli({"tables", db});
    ASSERT_EQ(tables.exitCode, 0) << tables.err;
    EXPECT_EQ(lines(tables.out), (std::vector<std::string>{"TABLE\tTable1", "TABLE\tTable2", "TABLE\tTable3", "TABLE\tTable4"}));

    auto columns = cli({"columns", db, "table1"}); // names match ignoring case
    ASSERT_EQ(columns.exitCode, 0) << columns.err;
    EXPECT_EQ(lines(columns.out), (std::vector<std::string>{
                                      "A\t202\t50\tText(50)", "B\t202\t100\tText(100)", "C\t17\t1\tByte",
                                      "D\t2\t2\tInteger", "E\t3\t4\tLong Integer", "F\t5\t8\tDouble",
                                      "G\t7\t8\tDate/Time", "H\t6\t8\tCurrency", "I\t11\t2\tYes/No"}));

    auto rows = cli({"export", db, "Table1"});
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    EXPECT_EQ(lines(rows.out), (std::vector<std::string>{
                                   R"(["a","b",0,0,0,0,"1981-12-12 00:00:00","0",false])",
                                   R"(["abcdefg","hijklmnop",2,222,333333333,444.555,"1974-09-21 00:00:00","3.5",true])"}));

    expectOneErrorLine(cli({"export", db, "NoSuchTable"}), "NoSuchTable");
}

// Multi-values and attachments as JSON arrays; a version history as its
// current text.
TEST(CliAccess, ComplexColumnsExportAsArrays)
{
    QM_REQUIRE_SHARED();
    std::string db = fixture("access/mdb-reader/data/V2016/attachments.accdb").string();
    auto rows = cli({"export", db, "Table1"});
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    auto all = lines(rows.out);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0], R"([1,"0 Attachments",[]])");
    EXPECT_EQ(all[1], R"([2,"1 Attachment",[{"name":"attachment1.txt","type":"txt","data":")" +
                          qm::test::hex("Attachment 1", true) + R"("}]])");

    db = fixture("access/jackcess/V2007/complexDataTestV2007.accdb").string();
    rows = cli({"export", db, "Table1"});
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    all = lines(rows.out);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[2], R"(["row3","row3-memo-again","row3-memo","row3-memo-again",["value1","value2","value3","value4"],[]])");
}

TEST(CliAccess, PasswordProtectedDatabaseOpensOnlyWithItsPassword)
{
    QM_REQUIRE_SHARED();
    std::string db = fixture("access/mdb-reader/password/data/V2000_with-password.mdb").string();
    auto right = cli({"export", db, "Table1", "--password", "password"});
    ASSERT_EQ(right.exitCode, 0) << right.err;
    EXPECT_EQ(lines(right.out), (std::vector<std::string>{R"([1,"One"])", R"([2,"Two"])", R"([3,"Three"])"}));
    expectOneErrorLine(cli({"tables", db, "--password", "Password"}), "Not a valid password.");
    expectOneErrorLine(cli({"tables", db}), "Not a valid password.");
}

TEST(CliAccess, SavedQuerySql)
{
    QM_REQUIRE_SHARED();
    std::string db = fixture("access/jackcess/V2007/queryTestV2007.accdb").string();
    auto tables = cli({"tables", db});
    ASSERT_EQ(tables.exitCode, 0) << tables.err;
    bool sawView = false;
    for (const auto& line : lines(tables.out))
        if (line.rfind("VIEW\t", 0) == 0) {
            sawView = true;
            auto sql = cli({"sql", db, line.substr(5)});
            EXPECT_EQ(sql.exitCode, 0) << sql.err;
            EXPECT_NE(sql.out.find("SELECT"), std::string::npos) << sql.out;
        }
    EXPECT_TRUE(sawView);
}

TEST(CliFoxPro, ContainerListsTablesAndViewsWithTheirSql)
{
    QM_REQUIRE_SHARED();
    std::string db = fixture("xbase/vfpx-samples/Northwind/northwind.dbc").string();
    auto tables = cli({"tables", db});
    ASSERT_EQ(tables.exitCode, 0) << tables.err;
    auto all = lines(tables.out);
    EXPECT_NE(std::find(all.begin(), all.end(), "TABLE\tOrderDetails"), all.end()) << tables.out;
    EXPECT_NE(std::find(all.begin(), all.end(), "VIEW\tcurrent_product_list"), all.end()) << tables.out;
    auto sql = cli({"sql", db, "Current_Product_List"});
    ASSERT_EQ(sql.exitCode, 0) << sql.err;
    EXPECT_EQ(sql.out, "SELECT Product_List.ProductID, Product_List.ProductName  FROM Products AS Product_List  WHERE "
                       "(((Product_List.Discontinued)=.F.))  ORDER BY Product_List.ProductName \n");
    auto rows = cli({"export", db, "OrderDetails"});
    ASSERT_EQ(rows.exitCode, 0) << rows.err;
    EXPECT_EQ(lines(rows.out).size(), 2155u);
}

// Every value the companion exports from these tables matches dbfread's
// reading of the same file, under the export contract's value rules.
TEST(CliFoxPro, ExportMatchesDbfread)
{
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    struct Case {
        const char* table;
        const char* encoding;
    } cases[] = {
        {"xbase/dbfdatareader/foxpro_currency_01.dbf", nullptr},
        {"xbase/infused-dbf/dbase_30.dbf", nullptr},
        // no code page mark: read as Windows-1252
        {"xbase/infused-dbf/dbase_83.dbf", "cp1252"},
        {"xbase/infused-dbf/dbase_f5.dbf", "cp1252"},
        {"xbase/infused-dbf/cp1251.dbf", nullptr},
        {"xbase/vfpx-samples/Northwind/orders.dbf", nullptr},
    };
    qm::test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        std::string path = fixture(c.table).string();
        auto exported = cli({"export", path, std::filesystem::path(path).stem().string()});
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
        auto out = dir / "export.jsonl";
        qm::test::writeFile(out, exported.out);
        std::vector<std::string> args = {qm::test::kDebianPython, std::string(QM_CLI_TEST_DIR) + "/dbfread_compare.py", path,
                                         out.string()};
        if (c.encoding)
            args.push_back(c.encoding);
        auto compared = run(args);
        EXPECT_EQ(compared.exitCode, 0) << compared.out << compared.err;
    }
}

namespace {

// A dBase III table NAME C(4), QTY N(3,0) with the given records (7 bytes
// each: NAME then QTY), written byte by byte as the format lays it out.
std::string dbaseTable(const std::vector<std::string>& records)
{
    std::string h(32, '\0');
    h[0] = 0x03;
    h[1] = 126, h[2] = 1, h[3] = 1;
    h[4] = char(records.size());
    const int headerLength = 32 + 2 * 32 + 1, recordLength = 1 + 4 + 3;
    h[8] = char(headerLength), h[10] = char(recordLength);
    h[29] = 0x03;
    auto field = [](const char* name, char type, int length) {
        std::string f(32, '\0');
        f.replace(0, std::strlen(name), name);
        f[11] = type;
        f[16] = char(length);
        return f;
    };
    std::string file = h + field("NAME", 'C', 4) + field("QTY", 'N', 3) + "\r";
    for (const auto& r : records)
        file += " " + r;
    return file + "\x1a";
}

} // namespace

// A value that fails to decode partway through a row leaves nothing of that
// row on standard output: the rows before it are whole, the error names the
// record, the field and the bytes.
TEST(CliExport, FailingRowLeavesNothingPartial)
{
    qm::test::TempDir dir;
    auto table = dir / "stock.dbf";
    qm::test::writeFile(table, dbaseTable({"nail 12", "bolt 7x"}));
    auto r = cli({"export", table.string(), "stock"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "[\"nail\",12]\n");
    auto errLines = lines(r.err);
    ASSERT_EQ(errLines.size(), 1u) << r.err;
    EXPECT_NE(errLines[0].find("record 2, field QTY: \" 7x\""), std::string::npos) << errLines[0];

    // The failing row first: nothing at all.
    qm::test::writeFile(table, dbaseTable({"bolt 7x", "nail 12"}));
    r = cli({"export", table.string(), "stock"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
}

TEST(CliTranslate, PrintsTheTranslationOrWhatCannotBeTranslated)
{
    auto fox = cli({"translate", "--to", "foxpro", "SELECT [ID] FROM [Orders] WHERE [Placed] >= #11/3/2016#"});
    EXPECT_EQ(fox.exitCode, 0) << fox.err;
    EXPECT_EQ(fox.out, "SELECT ID FROM Orders WHERE Placed >= {^2016-11-03 00:00:00}\n");
    auto acc = cli({"translate", "--to", "access", "SELECT id FROM orders WHERE paid = .T."});
    EXPECT_EQ(acc.exitCode, 0) << acc.err;
    EXPECT_EQ(acc.out, "SELECT [id] FROM [orders] WHERE [paid] = True\n");

    auto no = cli({"translate", "--to", "foxpro", "SELECT Format(d, 'mmmm') FROM [Order Details]"});
    EXPECT_EQ(no.exitCode, 1);
    EXPECT_EQ(no.out, "cannot translate: function Format (not a known function)\n");

    EXPECT_EQ(cli({"translate", "SELECT 1"}).exitCode, 2);
    EXPECT_EQ(cli({"translate", "--to", "cobol", "SELECT 1"}).exitCode, 2);
    EXPECT_EQ(cli({"translate", "--to", "foxpro", "--query", "q"}).exitCode, 2);
}

TEST(CliTranslate, SavedQueryOfADatabaseWithItsColumnTypes)
{
    QM_REQUIRE_SHARED();
    const std::string nwind = fixture("access/mdbtestdata/nwind.mdb").string();
    auto r = cli({"translate", "--to", "foxpro", "--db", nwind, "--query", "Current Product List"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "SELECT Product_List.ProductID, Product_List.ProductName FROM Products AS Product_List "
                     "WHERE Product_List.Discontinued = .F. ORDER BY Product_List.ProductName\n");
    EXPECT_NE(r.err.find("note: 'Product List' is called Product_List"), std::string::npos) << r.err;
    // A parameter query: the declared names become FoxPro parameters, and
    // the view of a table with a blank in its name names it as FoxPro does.
    r = cli({"translate", "--to", "foxpro", "--db", nwind, "--query", "Employee Sales by Country"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Order_Subtotals.Subtotal AS SaleAmount"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("WHERE Orders.ShippedDate BETWEEN ?Beginning_Date AND ?Ending_Date\n"), std::string::npos) << r.out;
    // The database must be of the side the query comes from.
    EXPECT_EQ(cli({"translate", "--to", "access", "--db", nwind, "SELECT 1"}).exitCode, 2);
}
