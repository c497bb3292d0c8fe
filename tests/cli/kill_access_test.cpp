// Access files after quillmere-cli is killed (SIGKILL) at random moments of
// a transfer from FoxPro and of a script of inserts.  Before Quillmere opens
// the file again, the other readers must find it sound as it lies: mdbtools
// (mdb-tables, mdb-export, mdb-count) and mdb-reader read every table, every
// table's stored row count is the number of rows they find, every index
// holds one entry per row (our index checker), and each table is as it was
// before its batch or whole.  Then Quillmere opens the file (rolling back
// the journal) and finds the same: the old state or the new one, never a
// mix.
//
// A kill inside the short last step of a commit, while pages that readers
// reach are being written, may leave a half-linked file for the others; the
// journal marks that step, and there only Quillmere's rollback is checked.
#include "index_check.h"
#include "jet/create_database.h"
#include "jet/journal.h"
#include "jetw_checks.h"
#include "mdbreader_check.h"
#include "storage/open.h"
#include "test_support.h"
#include "xbase/dbc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
using Clock = std::chrono::steady_clock;

// The sanitizer build runs the same program many times slower: fewer rows
// and fewer kills there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKillsDivisor = 2;
constexpr long kScale = 8;
#else
constexpr int kKillsDivisor = 1;
constexpr long kScale = 1;
#endif

// Rows per table: absent from the map = the table does not exist.
using State = std::map<std::string, std::size_t>;

std::string show(const State& s)
{
    std::string out;
    for (const auto& [name, rows] : s) out += name + "=" + std::to_string(rows) + " ";
    return out.empty() ? "(no tables)" : out;
}

pid_t startCli(const std::vector<std::string>& args)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> argv;
        std::string exe = QM_CLI;
        argv.push_back(exe.data());
        std::vector<std::string> copy = args;
        for (std::string& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs the command to its end; returns how long it took.
double runWhole(const std::vector<std::string>& args)
{
    const auto start = Clock::now();
    const int code = waitFor(startCli(args));
    EXPECT_EQ(code, 0) << "quillmere-cli failed";
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Starts the command and kills it after `seconds`; true when it was still running.
bool runKilledAfter(const std::vector<std::string>& args, double seconds)
{
    const pid_t pid = startCli(args);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    ::kill(pid, SIGKILL);
    return waitFor(pid) == 128 + SIGKILL;
}

std::size_t mdbCount(const fs::path& db, const std::string& table)
{
    const auto r = qm::test::run({"mdb-count", db.string(), table});
    EXPECT_EQ(r.exitCode, 0) << "mdb-count " << table << ": " << r.err;
    return r.exitCode == 0 ? std::size_t(std::stoull(r.out)) : 0;
}

// What the other readers find in the file as it lies (nothing of ours opens
// it for writing, so a journal beside it stays), with the checks that each
// table reads whole and agrees with its stored count and indexes.
State othersSee(const fs::path& db)
{
    State s;
    std::vector<std::string> names = mdbTables(db);
    const MdbReaderDump dump = mdbReaderDump(db);
    std::vector<std::string> theirs = dump.tables;
    std::sort(names.begin(), names.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(names, theirs) << "tables mdbtools and mdb-reader list";
    for (const std::string& name : names) {
        SCOPED_TRACE("table " + name);
        const std::size_t rows = mdbExport(db, name).size();
        EXPECT_EQ(mdbCount(db, name), rows) << "stored row count against the rows mdb-export reads";
        const auto it = dump.data.find(name);
        if (it != dump.data.end()) {
            EXPECT_EQ(it->second.rowCount, it->second.rows.size()) << "mdb-reader: stored count against rows";
            EXPECT_EQ(it->second.rows.size(), rows) << "mdb-reader against mdb-export";
        }
        try {
            checkIndexes(db, name, rows);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "our reader or index checker: " << e.what();
        }
        s[name] = rows;
    }
    return s;
}

// What Quillmere finds when it opens the file: a journal left behind is
// rolled back first.
State quillmereSees(const fs::path& db)
{
    State s;
    auto d = storage::openDatabase(db.string());
    EXPECT_FALSE(fs::exists(jet::Journal::pathFor(db.string()))) << "the journal is still there after opening";
    for (const storage::CatalogEntry& e : d->catalog()) {
        if (e.kind != storage::ObjectKind::Table || e.tableType != "TABLE") continue;
        std::size_t rows = 0;
        for (auto c = d->scan(e.name); c->next();) ++rows;
        EXPECT_EQ(d->rowCount(e.name), rows) << "table " << e.name;
        s[e.name] = rows;
    }
    return s;
}

// Each table as before its batch or as after it.
void expectEachTableOldOrNew(const State& seen, const State& before, const State& after, const std::string& who)
{
    std::set<std::string> names;
    for (const auto* st : {&seen, &before, &after})
        for (const auto& [n, rows] : *st) names.insert(n);
    for (const std::string& n : names) {
        auto rowsIn = [&](const State& st) { return st.count(n) ? std::optional<std::size_t>(st.at(n)) : std::nullopt; };
        const auto got = rowsIn(seen);
        EXPECT_TRUE(got == rowsIn(before) || got == rowsIn(after))
            << who << ": table " << n << " is neither as before nor whole: " << show(seen) << " (before: " << show(before)
            << ", after: " << show(after) << ")";
    }
}

struct Scenario {
    fs::path base;                 // the Access file before the command
    std::vector<std::string> args; // the command, with "@DB" for the Access file
    bool oneBatch = false;         // every change in one batch: the whole file is old or new
    int kills = 8;
};

std::vector<std::string> withDb(std::vector<std::string> args, const fs::path& db)
{
    for (std::string& a : args)
        if (a == "@DB") a = db.string();
    return args;
}

void killAtRandomMoments(const qm::test::TempDir& dir, const Scenario& sc, unsigned seed)
{
    const int kills = std::max(2, sc.kills / kKillsDivisor);
    const State before = othersSee(sc.base);
    // An uninterrupted run gives the new state and the time a run takes.
    const fs::path whole = dir / ("whole" + sc.base.extension().string());
    fs::copy_file(sc.base, whole);
    const double seconds = runWhole(withDb(sc.args, whole));
    const State after = othersSee(whole);
    ASSERT_NE(before, after) << "the command changed nothing";
    EXPECT_EQ(quillmereSees(whole), after);

    std::mt19937 random(seed);
    std::uniform_real_distribution<double> when(0.0, seconds);
    int linking = 0, cutShort = 0;
    for (int k = 0; k < kills; ++k) {
        const double at = when(random);
        SCOPED_TRACE("kill " + std::to_string(k) + " after " + std::to_string(at) + " s of " + std::to_string(seconds));
        const fs::path db = dir / ("killed" + std::to_string(k) + sc.base.extension().string());
        fs::copy_file(sc.base, db);
        if (runKilledAfter(withDb(sc.args, db), at)) ++cutShort;
        const bool inLinkStep = jet::Journal::linkingBegun(db.string());
        std::optional<State> seen;
        if (inLinkStep) {
            ++linking;
        } else {
            seen = othersSee(db);
            expectEachTableOldOrNew(*seen, before, after, "other readers");
            if (sc.oneBatch) {
                EXPECT_TRUE(*seen == before || *seen == after) << "other readers: " << show(*seen);
            }
        }
        const State ours = quillmereSees(db);
        expectEachTableOldOrNew(ours, before, after, "Quillmere");
        if (sc.oneBatch) {
            EXPECT_TRUE(ours == before || ours == after) << "Quillmere: " << show(ours);
        }
        // Unless the commit was linking, the file was as last committed.
        if (seen) {
            EXPECT_EQ(ours, *seen);
        }
        fs::remove(db);
    }
    std::printf("a whole run took %.2f s; %d of %d kills cut it short, %d inside a commit's linking step\n", seconds,
                cutShort, kills, linking);
    EXPECT_GT(cutShort, 0) << "every kill came after the end";
}

// A FoxPro container with a keyed table of `rows` rows and a small one.  No
// Decimal or Currency fields: mdb-reader reads those slowly, and they change
// nothing in how pages are written.
void makeFoxPro(const fs::path& dbc, long rows)
{
    xbase::Container::create(dbc.string());
    auto db = storage::openDatabase(dbc.string());
    db->createTable({"orders",
                     {col("id", CT::Long), col("customer", CT::Char, 20), col("price", CT::Double),
                      col("shipped", CT::Date), col("paid", CT::Boolean), col("notes", CT::Memo)},
                     {}});
    db->createTable({"regions", {col("code", CT::Char, 4), col("name", CT::Char, 30)}, {}});
    db->beginBatch();
    for (long i = 0; i < rows; ++i) {
        const Value row[] = {Value::longInt(std::int32_t(i)), Value::string("Customer " + std::to_string(i % 5000)),
                             Value::dbl(double(i % 10000) + 0.25),
                             Value::date(36000.0 + double(i % 9000)), Value::boolean(i % 3 == 0),
                             i % 10 == 0 ? Value::string("note " + std::to_string(i)) : Value::null()};
        db->append("orders", row);
    }
    for (int i = 0; i < 7; ++i) {
        const Value row[] = {Value::string("R" + std::to_string(i)), Value::string("Region " + std::to_string(i))};
        db->append("regions", row);
    }
    db->endBatch();
    storage::IndexSpec pk;
    pk.name = "id";
    pk.columns = {"id"};
    pk.primaryKey = true;
    db->createIndex("orders", pk);
}

// An Access file that already holds a keyed table and an old "regions".
fs::path makeAccess(const fs::path& path, int keepRows)
{
    auto db = jet::createDatabase(path.string(), path.extension() == ".accdb" ? jet::NewFileFormat::Ace12Accdb
                                                                             : jet::NewFileFormat::Jet4Mdb);
    storage::TableSpec keep;
    keep.name = "Stock";
    keep.columns = {col("ID", CT::Long), col("Name", CT::VarChar, 50), col("Price", CT::Double)};
    keep.indexes = {{"PrimaryKey", {"ID"}, true, true}, {"Name", {"Name"}, false, false}};
    db->createTable(keep);
    db->createTable({"regions", {col("code", CT::VarChar, 4), col("name", CT::VarChar, 30)}, {}});
    db->beginBatch();
    for (int i = 0; i < keepRows; ++i) {
        const Value row[] = {Value::longInt(i), Value::string("Item " + std::to_string(i * 7 % 1009)),
                             Value::dbl(i * 0.5)};
        db->append("Stock", row);
    }
    for (int i = 0; i < 3; ++i) {
        const Value row[] = {Value::string("O" + std::to_string(i)), Value::string("Old region")};
        db->append("regions", row);
    }
    db->endBatch();
    return path;
}

class KillTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"mdb-export", "mdb-count", "mdb-tables"})
            if (!qm::test::programAvailable(tool)) GTEST_SKIP() << tool << " (mdbtools) is not installed";
        const std::string why = mdbReaderMissing();
        if (!why.empty()) GTEST_SKIP() << why;
    }
    qm::test::TempDir dir;
};

// copy: a new keyed table of many rows (created, filled and keyed in one
// batch) and an existing table replaced (--overwrite: dropped and made anew
// in one batch); the keyed table already there is not touched.
TEST_F(KillTest, CopyFromFoxProKilledAnywhere)
{
    const fs::path dbc = dir / "source.dbc";
    makeFoxPro(dbc, 60000 / kScale);
    Scenario sc;
    sc.base = makeAccess(dir / "target.mdb", 500);
    sc.args = {"copy", dbc.string(), "@DB", "--overwrite"};
    sc.kills = 10;
    killAtRandomMoments(dir, sc, 17);
}

// exec: one script (one batch) that creates a keyed table and fills it, and
// appends to a table that already has a primary key and an index.
TEST_F(KillTest, ScriptOfInsertsKilledAnywhere)
{
    // Rows wide enough that the batch outgrows what the writer holds in
    // memory and writes pages before its end.
    const int rows = int(16000 / kScale);
    Scenario sc;
    sc.base = makeAccess(dir / "target.accdb", 2000);
    std::string script =
        "CREATE TABLE Fresh (ID LONG, Name TEXT(50), Note TEXT(255), Memo TEXT(255), Qty LONG, "
        "CONSTRAINT pk PRIMARY KEY (ID))\n";
    const std::string note(230, 'n');
    for (int i = 0; i < rows; ++i) {
        script += "INSERT INTO Fresh (ID, Name, Note, Memo, Qty) VALUES (" + std::to_string(rows - i) + ", 'Fresh " +
                  std::to_string(i) + "', '" + note + "', '" + note + "', " + std::to_string(i % 97) + ")\n";
        script += "INSERT INTO Stock (ID, Name, Price) VALUES (" + std::to_string(2000 + i) + ", 'Added " +
                  std::to_string(i % 1009) + "', " + std::to_string(i) + ".5)\n";
    }
    const fs::path file = dir / "script.sql";
    qm::test::writeFile(file, script);
    sc.args = {"exec", "@DB", "--file", file.string()};
    sc.oneBatch = true;
    sc.kills = 6;
    killAtRandomMoments(dir, sc, 29);
}

} // namespace
