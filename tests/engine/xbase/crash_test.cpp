// Writes interrupted by killing the writing process at random moments:
// after the next open every file is as it was before the interrupted call
// (or batch) or as after it.
#include "dbf_checkers.h"
#include "dbf_table.h"
#include "journal.h"
#include "storage/open.h"
#include "test_support.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using qm::Value;
using qm::xbase::DbfTable;

namespace {

// Large enough that the buffered records reach the file part way through
// a batch (1 MB of records), so a kill can land between two writes.
constexpr int kBatch = 30000;

std::string memoFor(std::int64_t id)
{
    return std::string(static_cast<std::size_t>(id % 7) * 5, static_cast<char>('a' + id % 26)) + "#" + std::to_string(id);
}

qm::storage::TableSpec spec(const std::string& name)
{
    using CT = qm::storage::ColumnType;
    qm::storage::TableSpec s;
    s.name = name;
    s.columns = {{.name = "id", .type = CT::Long},
                 {.name = "text", .type = CT::Char, .size = 30},
                 {.name = "memo", .type = CT::Memo}};
    return s;
}

void appendRows(qm::storage::Database& db, const std::string& table, std::int64_t first, int n)
{
    for (int k = 0; k < n; ++k) {
        std::int64_t id = first + k;
        db.append(table, std::vector<Value>{Value::longInt(static_cast<std::int32_t>(id)),
                                            Value::string("row " + std::to_string(id)), Value::string(memoFor(id))});
    }
}

// The child's work: batches of appends to "main"; a side table created,
// filled, renamed and dropped over and over; single appends.
[[noreturn]] void childWork(const std::string& folder, int writeFd)
{
    try {
        auto db = qm::xbase::openFolder(folder, {});
        std::int64_t next = static_cast<std::int64_t>(db->rowCount("main")) + 1;
        char ready = 1;
        if (::write(writeFd, &ready, 1) != 1)
            _exit(3);
        for (int round = 0;; ++round) {
            db->beginBatch();
            appendRows(*db, "main", next, kBatch);
            db->endBatch();
            next += kBatch;
            // Whatever an earlier kill left of the side table (a rename cut
            // short is finished on open): start it over.
            if (db->find("side2"))
                db->dropTable("side2");
            if (db->find("side"))
                db->dropTable("side");
            db->createTable(spec("side"));
            appendRows(*db, "side", 1, 3); // one transaction per row
            db->renameObject("side", "side2");
            db->dropTable("side2");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "child: %s\n", e.what());
        _exit(2);
    }
}

// Every invariant a reader relies on, checked on the files directly.
void checkFolder(const std::string& folder)
{
    auto db = qm::xbase::openFolder(folder, {}); // recovers
    for (const auto& e : fs::directory_iterator(folder))
        EXPECT_NE(e.path().extension(), ".qmj") << "journal left behind: " << e.path();
    for (const auto& e : fs::directory_iterator(folder)) {
        if (e.path().extension() != ".fpt")
            continue;
        auto dbf = e.path();
        dbf.replace_extension(".dbf");
        EXPECT_TRUE(fs::exists(dbf)) << "memo file without its table: " << e.path();
    }
    for (const auto& entry : db->catalog()) {
        SCOPED_TRACE(entry.name);
        const std::string path = folder + "/" + entry.name + ".dbf";
        auto t = DbfTable::open(path);
        const auto size = fs::file_size(path);
        EXPECT_EQ(size, t->header().headerLength + std::uint64_t(t->recordCount()) * t->header().recordLength + 1)
            << "record count and file size disagree";
        auto cur = db->scan(entry.name);
        std::int64_t expected = 1;
        while (cur->next()) {
            ASSERT_EQ(cur->value(0).rawInt(), expected);
            ASSERT_EQ(cur->value(2).rawString(), memoFor(expected));
            ++expected;
        }
        if (entry.name == "main") {
            EXPECT_EQ((expected - 1) % kBatch, 0) << "a batch was cut in the middle";
        }
    }
}

} // namespace

TEST(XbaseCrash, KilledWritersLeaveConsistentFiles)
{
    qm::test::TempDir dir;
    const std::string folder = dir.path().string();
    // One batch written here first: the table has rows, and its duration
    // sets the range of kill times (slower builds get later kills).
    int batchMicros = 0;
    {
        auto db = qm::xbase::openFolder(folder, {});
        db->createTable(spec("main"));
        auto t0 = std::chrono::steady_clock::now();
        db->beginBatch();
        appendRows(*db, "main", 1, kBatch);
        db->endBatch();
        batchMicros = static_cast<int>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
    }
    std::mt19937 rng(12345);
    const int rounds = 15;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            childWork(folder, fds[1]);
        }
        ::close(fds[1]);
        char ready = 0;
        ASSERT_EQ(::read(fds[0], &ready, 1), 1) << "the writer did not start";
        ::close(fds[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, batchMicros * 3)(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own (exit " << WEXITSTATUS(status) << ")";
        checkFolder(folder);
        if (HasFatalFailure())
            return;
    }
    // After all that, the independent reader still reads the table whole.
    auto db = qm::xbase::openFolder(folder, {});
    const auto rows = db->rowCount("main");
    EXPECT_GE(rows, static_cast<std::uint64_t>(kBatch));
    auto theirs = qm::xbase::test::readWithDbfread({folder + "/main.dbf"});
    ASSERT_TRUE(theirs.at(0).error.empty()) << theirs.at(0).error;
    EXPECT_EQ(theirs.at(0).rows.size(), rows);
}

TEST(XbaseCrash, RolledBackBatchLeavesTheFilesByteForByte)
{
    qm::test::TempDir dir;
    const std::string folder = dir.path().string();
    auto db = qm::xbase::openFolder(folder, {});
    db->createTable(spec("t"));
    appendRows(*db, "t", 1, 10);
    const auto dbfBefore = qm::test::readFile(dir.path() / "t.dbf");
    const auto fptBefore = qm::test::readFile(dir.path() / "t.fpt");
    {
        auto t = DbfTable::open(folder + "/t.dbf", DbfTable::Mode::ReadWrite);
        t->begin();
        for (int i = 11; i < 5000; ++i) // enough to spill buffered records into the file
            t->append(std::vector<Value>{Value::longInt(i), Value::string("x"), Value::string(memoFor(i))});
        t->setDeleted(3);
        t->readMemo(8); // makes the table write what it holds, header included
        t->rollback();
    }
    EXPECT_EQ(qm::test::readFile(dir.path() / "t.dbf"), dbfBefore);
    EXPECT_EQ(qm::test::readFile(dir.path() / "t.fpt"), fptBefore);
    EXPECT_FALSE(fs::exists(dir.path() / "t.dbf.qmj"));
}

TEST(XbaseCrash, AJournalFoundOnOpenIsRolledBack)
{
    qm::test::TempDir dir;
    const std::string folder = dir.path().string();
    {
        auto db = qm::xbase::openFolder(folder, {});
        db->createTable(spec("t"));
        appendRows(*db, "t", 1, 5);
    }
    const auto before = qm::test::readFile(dir.path() / "t.dbf");
    // Simulate a writer that died after its journal and part of its data
    // reached the disk: write the journal, damage the table, never commit.
    {
        auto journal = std::make_unique<qm::xbase::Journal>(folder + "/t.dbf.qmj");
        journal->protectRange(folder + "/t.dbf", 0, 32);
        journal->sync();
        std::string damaged = before;
        damaged[4] = 99; // record count
        damaged += std::string(1000, 'Z');
        qm::test::writeFile(dir.path() / "t.dbf", damaged);
        // Leave the journal on disk as a killed process would.
        int fd = ::open((folder + "/t.dbf.qmj").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        std::string copy = qm::test::readFile(dir.path() / "t.dbf.qmj");
        ::close(fd);
        journal.reset(); // rolls back itself...
        qm::test::writeFile(dir.path() / "t.dbf", damaged);
        qm::test::writeFile(dir.path() / "t.dbf.qmj", copy); // ...so put the crash state back
    }
    auto t = DbfTable::open(folder + "/t.dbf");
    EXPECT_EQ(qm::test::readFile(dir.path() / "t.dbf"), before);
    EXPECT_EQ(t->recordCount(), 5u);
    EXPECT_FALSE(fs::exists(dir.path() / "t.dbf.qmj"));
}

TEST(XbaseCrash, AnotherWriterIsKeptOutByTheLock)
{
    qm::test::TempDir dir;
    const std::string path = (dir.path() / "t.dbf").string();
    DbfTable::create(path, {qm::xbase::FieldSpec{"N", 'I', 4}});
    auto a = DbfTable::open(path, DbfTable::Mode::ReadWrite);
    auto b = DbfTable::open(path, DbfTable::Mode::ReadWrite);
    a->begin();
    a->append(std::vector<Value>{Value::longInt(1)});
    try {
        b->append(std::vector<Value>{Value::longInt(2)});
        ADD_FAILURE() << "second writer was let in";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("another program"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("t.dbf"), std::string::npos) << e.what();
    }
    // A reader opening meanwhile does not roll the live writer's journal back.
    auto reader = DbfTable::open(path);
    EXPECT_TRUE(fs::exists(path + ".qmj"));
    a->commit();
    b->append(std::vector<Value>{Value::longInt(2)});
    EXPECT_EQ(DbfTable::open(path)->recordCount(), 2u);
}
