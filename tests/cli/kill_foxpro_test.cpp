// quillmere-cli killed with SIGKILL at random moments while it writes FoxPro
// files: a script of inserts into a new container table and into an
// existing one with tags, and the transfer of an Access database to a new
// container and to a folder of free tables.  After each kill, before this
// program opens the files again, a copy of them (without our journals) is
// read as another program reads it: dbfread and python-dbf read every table,
// every header's record count matches the file's length, every structural
// index holds exactly the keys of its table, and each table is missing or
// whole.  Then the real files are opened here (which rolls back or finishes
// what the kill interrupted) and each table is as before the run or as after
// it.
#include "../engine/xbase/dbf_checkers.h"
#include "test_support.h"
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/dbf_table.h"
#include "storage/open.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using qm::test::RunResult;
using qm::test::TempDir;
using qm::xbase::DbfTable;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kRounds = 3; // the sanitizer build runs every test again, much slower
#else
constexpr int kRounds = 10;
#endif

RunResult cli(std::vector<std::string> args)
{
    args.insert(args.begin(), QM_CLI);
    return qm::test::run(args);
}

// Starts the command line program and kills it after `micros`; returns
// false when it ended on its own before that.
bool runAndKill(const std::vector<std::string>& args, int micros)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv;
        std::string program = QM_CLI;
        argv.push_back(program.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status);
}

int runMicros(const std::vector<std::string>& args)
{
    const auto t0 = std::chrono::steady_clock::now();
    const RunResult r = cli(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
}

std::string lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void copyFolder(const fs::path& from, const fs::path& to, bool withJournals)
{
    fs::remove_all(to);
    fs::create_directories(to);
    for (const auto& e : fs::directory_iterator(from))
        if (e.is_regular_file() && (withJournals || e.path().extension() != ".qmj"))
            fs::copy_file(e.path(), to / e.path().filename());
}

// The values of field 0 (an id counting from 1) must run 1, 2, 3...
void expectIdsInOrder(const DbfTable& t)
{
    auto r = t.reader(true);
    qm::Value v;
    std::int64_t expected = 1;
    while (r->next()) {
        r->decode(0, v);
        ASSERT_EQ(v.rawInt(), expected) << t.path() << " record " << r->recno();
        ++expected;
    }
}

struct Seen {
    std::map<std::string, std::uint32_t> rows; // table file name (lower case) -> records
    std::map<std::string, std::string> linked; // container: table name (lower case) -> file name (lower case)
    bool container = false;                    // a .dbc was there
    int betweenWrites = 0;                     // tables caught inside one write step
    // Tables caught inside a step: the records the file holds, which a
    // reader that reads to the end-of-file mark (dbfread) returns.
    std::map<std::string, std::uint64_t> inFile;
};

// What another program finds in the files as the kill left them: checked
// on a copy without our journals, so that nothing here rolls them back.
Seen readAsAnotherProgram(const fs::path& folder, const fs::path& scratch)
{
    Seen seen;
    const fs::path snap = scratch / "as-left";
    copyFolder(folder, snap, false);
    std::vector<std::string> dbfs;
    for (const auto& e : fs::directory_iterator(snap)) {
        const std::string name = lower(e.path().filename().string());
        const std::string ext = lower(e.path().extension().string());
        if (name[0] == '~' || (ext != ".dbf" && ext != ".dbc"))
            continue;
        SCOPED_TRACE(name);
        auto t = DbfTable::open(e.path().string());
        const auto& h = t->header();
        const std::uint64_t whole = h.headerLength + std::uint64_t(t->recordCount()) * h.recordLength;
        const std::uint64_t size = fs::file_size(e.path());
        bool inStep = false;
        if (size != whole + 1) {
            // The one moment that may be caught: a step's records are in
            // the file and its count is not yet in the header.
            inStep = size > whole + 1 && (size - 1 - h.headerLength) % h.recordLength == 0;
            EXPECT_TRUE(inStep) << "the header counts " << t->recordCount() << " records, the file is " << size
                                << " bytes long";
            ++seen.betweenWrites;
            if (inStep)
                seen.inFile[name] = (size - 1 - h.headerLength) / h.recordLength;
        }
        if ((h.flags & qm::xbase::table_flag::kStructuralCdx) && !inStep) {
            const auto problems =
                qm::xbase::StructuralIndex::verify(*t, qm::xbase::StructuralIndex::indexPathFor(e.path().string()));
            EXPECT_TRUE(problems.empty()) << problems.front();
        }
        if (ext == ".dbc") {
            seen.container = true;
            continue;
        }
        expectIdsInOrder(*t);
        seen.rows[name] = t->recordCount();
        dbfs.push_back(e.path().string());
    }
    for (const auto& e : fs::directory_iterator(snap)) {
        if (lower(e.path().extension().string()) != ".dbc")
            continue;
        auto c = qm::xbase::Container::open(e.path().string());
        for (const auto& t : c->tables()) {
            const std::string file = lower(fs::path(t.file).filename().string());
            EXPECT_TRUE(seen.rows.count(file)) << "the container lists " << t.name << ", whose file " << file
                                               << " is missing";
            seen.linked[lower(t.name)] = file;
        }
    }
    if (dbfs.empty())
        return seen;
    for (const auto& tables : {qm::xbase::test::readWithDbfread(dbfs), qm::xbase::test::readWithPythonDbf(dbfs)}) {
        for (const auto& t : tables) {
            SCOPED_TRACE(t.path);
            EXPECT_EQ(t.error, "");
            const std::string name = lower(fs::path(t.path).filename().string());
            // Inside a step a reader sees the header's count or the records
            // already in the file; never anything else.
            if (t.rows.size() != seen.rows[name])
                EXPECT_TRUE(seen.inFile.count(name) && t.rows.size() == seen.inFile[name])
                    << t.rows.size() << " rows read, the header counts " << seen.rows[name];
        }
    }
    return seen;
}

// The files after this program opened them again for writing: no journal
// and nothing of a table being built is left, and every index agrees.
void expectCleanAfterOpening(const fs::path& folder)
{
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(e.path().extension(), ".qmj") << "journal left behind: " << name;
        EXPECT_NE(name.rfind("~qm", 0), 0u) << "a table being built was left behind: " << name;
        const std::string ext = lower(e.path().extension().string());
        if (ext != ".dbf" && ext != ".dbc")
            continue;
        auto t = DbfTable::open(e.path().string());
        if (t->header().flags & qm::xbase::table_flag::kStructuralCdx) {
            const auto problems =
                qm::xbase::StructuralIndex::verify(*t, qm::xbase::StructuralIndex::indexPathFor(e.path().string()));
            EXPECT_TRUE(problems.empty()) << name << ": " << problems.front();
        }
    }
}

std::uint64_t rowsOf(qm::storage::Database& db, const std::string& table)
{
    return db.find(table) ? db.rowCount(table) : std::uint64_t(-1); // -1: absent
}

constexpr std::uint64_t kAbsent = std::uint64_t(-1);

std::string note(int i) { return std::string(static_cast<std::size_t>(i % 13) * 7, static_cast<char>('a' + i % 26)); }

} // namespace

// A script of inserts run by `exec` on a container: a new table made by
// the script and an existing table with a primary key and a second tag.
TEST(KilledWriter, ExecIntoNewAndIndexedContainerTables)
{
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    TempDir dir;
    const fs::path start = dir / "start";
    fs::create_directories(start);
    qm::xbase::Container::create((start / "db.dbc").string());
    constexpr int kBefore = 3000, kRows = 25000;
    {
        std::string setup = "CREATE TABLE keyed (id I, name C(40), note M, PRIMARY KEY id TAG id)\n"
                            "USE keyed\nINDEX ON name TAG name\n";
        for (int i = 1; i <= kBefore; ++i)
            setup += "insert into keyed (id, name, note) values (" + std::to_string(i) + ", 'k" + std::to_string(i) +
                     "', '" + note(i) + "')\n";
        qm::test::writeFile(dir / "setup.sql", setup);
        const RunResult r = cli({"exec", (start / "db.dbc").string(), "--file", (dir / "setup.sql").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    std::string script = "CREATE TABLE fresh (id I, name C(200), note M)\n";
    for (int i = 1; i <= kRows; ++i) {
        script += "insert into fresh (id, name, note) values (" + std::to_string(i) + ", 'row " + std::to_string(i) +
                  "', '" + note(i) + "')\n";
        const int k = kBefore + i;
        script += "insert into keyed (id, name, note) values (" + std::to_string(k) + ", 'k" + std::to_string(k) +
                  "', '" + note(k) + "')\n";
    }
    qm::test::writeFile(dir / "run.sql", script);

    const fs::path work = dir / "work";
    const std::vector<std::string> args{"exec", (work / "db.dbc").string(), "--file", (dir / "run.sql").string()};
    copyFolder(start, work, true);
    const int full = runMicros(args);

    std::mt19937 rng(20261207);
    int caught = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        copyFolder(start, work, true);
        if (!runAndKill(args, std::uniform_int_distribution<int>(full / 20, full)(rng)))
            continue; // it finished first: nothing to look at
        const Seen seen = readAsAnotherProgram(work, dir.path());
        caught += seen.betweenWrites;
        ASSERT_TRUE(seen.container);
        // The new table is put in place with all its rows at the end of the run, or not at all.
        if (seen.linked.count("fresh")) {
            EXPECT_EQ(seen.rows.at(seen.linked.at("fresh")), std::uint32_t(kRows));
        }
        ASSERT_TRUE(seen.linked.count("keyed"));
        const std::uint32_t keyed = seen.rows.at(seen.linked.at("keyed"));
        EXPECT_GE(keyed, std::uint32_t(kBefore));
        EXPECT_LE(keyed, std::uint32_t(kBefore + kRows));

        auto db = qm::xbase::openContainer((work / "db.dbc").string(), {});
        const auto fresh = rowsOf(*db, "fresh");
        const auto after = rowsOf(*db, "keyed");
        EXPECT_TRUE(fresh == kAbsent || fresh == std::uint64_t(kRows)) << fresh;
        EXPECT_TRUE(after == std::uint64_t(kBefore) || after == std::uint64_t(kBefore + kRows)) << after;
        db.reset();
        expectCleanAfterOpening(work);
        if (HasFatalFailure())
            return;
    }
    EXPECT_LE(caught, kRounds / 2) << "the header lagged behind the records too often";
}

namespace {

// An Access database with two tables of `rows` rows each, written by the
// Access engine in one batch.
fs::path makeAccessSource(const TempDir& dir, int rows)
{
    using CT = qm::storage::ColumnType;
    const fs::path mdb = dir / "source.mdb";
    auto db = qm::jet::createDatabase(mdb.string(), qm::jet::NewFileFormat::Jet4Mdb);
    qm::storage::TableSpec alpha, beta;
    alpha.name = "alpha";
    alpha.columns = {{.name = "id", .type = CT::Long}, {.name = "name", .type = CT::VarChar, .size = 60},
                     {.name = "note", .type = CT::Memo}};
    beta.name = "beta";
    beta.columns = {{.name = "id", .type = CT::Long}, {.name = "amount", .type = CT::Currency},
                    {.name = "born", .type = CT::DateTime}};
    db->createTable(alpha);
    db->createTable(beta);
    db->beginBatch();
    for (int i = 1; i <= rows; ++i) {
        db->append("alpha", std::vector<qm::Value>{qm::Value::longInt(i), qm::Value::string("alpha " + std::to_string(i)),
                                                   qm::Value::string(note(i))});
        db->append("beta", std::vector<qm::Value>{qm::Value::longInt(i), qm::Value::currency(std::int64_t(i) * 12500),
                                                  qm::Value::date(40000.0 + i % 3000)});
    }
    db->endBatch();
    return mdb;
}

// Runs `copy` into target (a new container or folder) with kills; each
// table found must be missing, or have `rows` rows, or (a container's
// tables, which are made first and filled by the script) anything in
// between as another program sees it and none or all after reopening.
void killCopies(const TempDir& dir, const fs::path& mdb, const fs::path& target, bool container, int rows)
{
    const fs::path folder = container ? target.parent_path() : target;
    const std::vector<std::string> args{"copy", mdb.string(), target.string()};
    fs::remove_all(folder);
    fs::create_directories(folder);
    const int full = runMicros(args);
    std::mt19937 rng(container ? 77 : 78);
    int caught = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        fs::remove_all(folder);
        fs::create_directories(folder);
        if (!runAndKill(args, std::uniform_int_distribution<int>(full / 20, full)(rng)))
            continue;
        const Seen seen = readAsAnotherProgram(folder, dir.path());
        caught += seen.betweenWrites;
        for (const auto& [file, n] : seen.rows) {
            SCOPED_TRACE(file);
            if (container) {
                EXPECT_LE(n, std::uint32_t(rows));
            } else {
                EXPECT_EQ(n, std::uint32_t(rows)) << "a free table was found before it was whole";
            }
        }
        if (container && !seen.container)
            continue; // killed before the container was made: nothing there
        auto db = container ? qm::xbase::openContainer(target.string(), {}) : qm::xbase::openFolder(folder.string(), {});
        for (const char* table : {"alpha", "beta"}) {
            const auto n = rowsOf(*db, table);
            EXPECT_TRUE(n == kAbsent || n == std::uint64_t(rows) || (container && n == 0)) << table << ": " << n;
        }
        db.reset();
        expectCleanAfterOpening(folder);
        if (::testing::Test::HasFatalFailure())
            return;
    }
    EXPECT_LE(caught, kRounds / 2) << "the header lagged behind the records too often";
}

} // namespace

TEST(KilledWriter, CopyFromAccessToANewContainer)
{
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    TempDir dir;
    const int rows = 20000;
    const fs::path mdb = makeAccessSource(dir, rows);
    killCopies(dir, mdb, dir / "fox" / "shop.dbc", true, rows);
}

TEST(KilledWriter, CopyFromAccessToFreeTables)
{
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    TempDir dir;
    const int rows = 20000;
    const fs::path mdb = makeAccessSource(dir, rows);
    killCopies(dir, mdb, dir / "free", false, rows);
}
