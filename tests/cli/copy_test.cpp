// quillmere-cli copy: Access tables of the shared fixtures sent to a new
// FoxPro container and to a new folder of free tables, read back by dbfread
// value for value as `export` reads the Access table.
#include "test_support.h"

#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using qm::test::fixture;
using qm::test::run;
using qm::test::RunResult;
using qm::test::TempDir;

RunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), QM_CLI);
    return run(args);
}

struct Column {
    std::string name;
    int type = 0;
};

std::vector<Column> columnsOf(const std::string& db, const std::string& table)
{
    const RunResult r = cli({"columns", db, table});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<Column> out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        Column c;
        std::string type;
        std::getline(f, c.name, '\t');
        std::getline(f, type, '\t');
        c.type = std::stoi(type);
        out.push_back(c);
    }
    return out;
}

// The file the table was written to: found ignoring case, with the blanks
// and signs the xBase side turns into "_".
fs::path dbfFor(const fs::path& folder, const std::string& table)
{
    std::string want, plain;
    for (char c : table) {
        want += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
        plain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    want += ".dbf";
    plain += ".dbf";
    for (const auto& e : fs::directory_iterator(folder)) {
        std::string name = e.path().filename().string();
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == want || name == plain)
            return e.path();
    }
    return {};
}

void expectSameValues(const std::string& db, const std::string& table, const fs::path& dbf, const TempDir& dir)
{
    ASSERT_FALSE(dbf.empty()) << table << ": no .dbf was written";
    const RunResult exported = cli({"export", db, table});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    qm::test::writeFile(dir / "export.jsonl", exported.out);
    std::string binary, single;
    const auto cols = columnsOf(db, table);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        if (cols[i].type == 128 || cols[i].type == 204 || cols[i].type == 205)
            binary += std::to_string(i) + ",";
        if (cols[i].type == 4)
            single += std::to_string(i) + ",";
    }
    const RunResult r = run({qm::test::kDebianPython, std::string(QM_CLI_TEST_DIR) + "/dbfread_compare.py", dbf.string(),
                             (dir / "export.jsonl").string(), "--binary", binary + ",", "--single", single + ",",
                             "--padded"});
    EXPECT_EQ(r.exitCode, 0) << db << " " << table << "\n" << r.out << r.err;
}

struct Case {
    const char* file;
    const char* table;
    bool freeTables = true; // Access 97 sources: the script runner cannot run their copy line yet
};

// Every basic Access type, memos with line breaks, OLE objects, GUIDs,
// decimals, dates before 1900 and after 2100, names with blanks.
const Case kCases[] = {
    {"access/jackcess/V2007/testV2007.accdb", "Table1"},
    {"access/jackcess/V2007/oldDatesV2007.accdb", "Table1"},
    {"access/jackcess/V2003/test2V2003.mdb", "MSP_PROJECTS"},
    {"access/jackcess/V2000/fixedNumericTestV2000.mdb", "test"},
    {"access/jackcess/V2019/extDateTestV2019.accdb", "Table1"},
    {"access/mdbtestdata/nwind.mdb", "Employees", false},
    {"access/mdbtestdata/nwind.mdb", "Order Details", false},
    {"access/mdbtestdata/ASampleDatabase.accdb", "Asset Items"},
};

TEST(CopyToFoxPro, FixtureTablesArriveValueForValue)
{
    QM_REQUIRE_SHARED();
    if (!qm::test::programAvailable(qm::test::kDebianPython))
        GTEST_SKIP() << "Debian's python3 with dbfread is not installed";
    for (const Case& c : kCases) {
        const std::string db = fixture(c.file).string();
        ASSERT_TRUE(fs::exists(db)) << db;
        SCOPED_TRACE(std::string(c.file) + " " + c.table);
        TempDir container, freeTables;
        const fs::path dbc = container / "new.dbc";
        RunResult r = cli({"copy", db, dbc.string(), c.table});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        expectSameValues(db, c.table, dbfFor(container.path(), c.table), container);

        if (!c.freeTables)
            continue;
        const fs::path folder = freeTables / "new folder";
        r = cli({"copy", db, folder.string(), c.table});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        expectSameValues(db, c.table, dbfFor(folder, c.table), freeTables);
    }
}

TEST(CopyToFoxPro, TextBeyondTheCodePageIsRefusedByName)
{
    QM_REQUIRE_SHARED();
    const std::string db = fixture("access/jackcess/V2003/testUnicodeCompV2003.mdb").string();
    TempDir dir;
    const RunResult r = cli({"copy", db, (dir / "u.dbc").string()});
    EXPECT_EQ(r.exitCode, 1);
    // Table, row, field and value are named; nothing is stored cut.
    EXPECT_NE(r.err.find("Cannot store the value \"Мир\" in field UNICODE of table"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(row 3)"), std::string::npos) << r.err;
}

TEST(CopyToFoxPro, ExistingTablesAreSkippedUnlessOverwritten)
{
    QM_REQUIRE_SHARED();
    const std::string db = fixture("access/jackcess/V2007/testV2007.accdb").string();
    TempDir dir;
    const std::string dbc = (dir / "o.dbc").string();
    ASSERT_EQ(cli({"copy", db, dbc, "Table1"}).exitCode, 0);
    RunResult r = cli({"copy", db, dbc, "table1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("skipped Table1: it exists already"), std::string::npos) << r.err;
    r = cli({"copy", db, dbc, "Table1", "--overwrite"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("replacing Table1"), std::string::npos) << r.err;
    expectSameValues(db, "Table1", dbfFor(dir.path(), "Table1"), dir);

    r = cli({"copy", db, dbc, "NoSuchTable"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no table or query named 'NoSuchTable'"), std::string::npos) << r.err;
}

} // namespace
