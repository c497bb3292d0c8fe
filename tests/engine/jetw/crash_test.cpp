// Durability: a writer stopped at any write (or killed at a random moment)
// leaves the database as it was before the operation; a failed write rolls
// back; a second writer is refused while the first holds the lock.
#include "jet/create_database.h"
#include "jet/journal.h"
#include "jetw_checks.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

// The database after recovery: opening for writing rolls a journal back.
std::string recovered(const fs::path& p) {
    openWritable(p).reset();
    EXPECT_FALSE(fs::exists(p.string() + "-journal"));
    return qm::test::readFile(p);
}

fs::path seeded(const qm::test::TempDir& dir, const std::string& name) {
    const fs::path p = newDatabase(dir, name);
    auto db = openWritable(p);
    storage::TableSpec t{"Stock", {col("ID", CT::Long, 0, true), col("Item", CT::VarChar, 60), col("Memo", CT::Memo)}, {}};
    t.indexes = {{"PrimaryKey", {"ID"}, true, false}, {"Item", {"Item"}, false, false}};
    db->createTable(t);
    db->beginBatch();
    for (int i = 0; i < 300; ++i)
        db->append("Stock", std::vector<Value>{Value(), Value::string("item " + std::to_string(i * 7 % 300)),
                                               Value::string(std::string(i % 50 == 0 ? 6000 : 10, 'w'))});
    db->endBatch();
    return p;
}

// Leaves pages free in the global map: a table filled and dropped again.
void leaveFreePages(const fs::path& p) {
    auto db = openWritable(p);
    db->createTable({"Scratch", {col("N", CT::Long), col("Memo", CT::Memo)}, {{"PrimaryKey", {"N"}, true, false}}});
    db->beginBatch();
    for (int i = 0; i < 200; ++i)
        db->append("Scratch", std::vector<Value>{Value::longInt(i), Value::string(std::string(i % 20 == 0 ? 5000 : 200, 's'))});
    db->endBatch();
    db->dropTable("Scratch");
}

struct Operation {
    const char* name;
    std::function<void(const fs::path&)> run;
    std::function<void(const fs::path&)> checkDone; // the operation's effect is there
};

std::vector<Operation> operations() {
    return {
        {"create a table",
         [](const fs::path& p) {
             openWritable(p)->createTable({"Fresh", {col("A", CT::Long), col("B", CT::VarChar, 10)},
                                           {{"PrimaryKey", {"A"}, true, false}}});
         },
         [](const fs::path& p) { EXPECT_EQ(mdbTables(p), (std::vector<std::string>{"Stock", "Fresh"})); }},
        {"append a batch that splits index pages",
         [](const fs::path& p) {
             auto db = openWritable(p);
             db->beginBatch();
             for (int i = 0; i < 700; ++i)
                 db->append("Stock", std::vector<Value>{Value(), Value::string("new item with a long name " +
                                                                               std::to_string(i)),
                                                        Value::string(std::string(i % 100 == 0 ? 9000 : 5, 'n'))});
             db->endBatch();
         },
         [](const fs::path& p) { EXPECT_EQ(mdbExport(p, "Stock").size(), 1000u); }},
        {"append into the pages a dropped table left",
         [](const fs::path& p) {
             auto db = openWritable(p);
             db->beginBatch();
             for (int i = 0; i < 150; ++i)
                 db->append("Stock", std::vector<Value>{Value(), Value::string("reused " + std::to_string(i)),
                                                        Value::string(std::string(i % 50 == 0 ? 4500 : 100, 'r'))});
             db->endBatch();
         },
         [](const fs::path& p) {
             EXPECT_EQ(mdbExport(p, "Stock").size(), 450u);
             EXPECT_EQ(fs::file_size(p), fs::file_size(p.parent_path() / "base.mdb"));
         }},
        {"delete most rows (index pages merge, emptied pages are freed)",
         [](const fs::path& p) {
             auto db = openWritable(p);
             std::vector<std::uint64_t> ids;
             auto c = db->scan("Stock");
             while (c->next())
                 if (c->value(0).rawInt() > 50) ids.push_back(c->rowId());
             c.reset();
             db->beginBatch();
             for (auto id : ids) db->remove("Stock", id);
             db->endBatch();
         },
         [](const fs::path& p) { EXPECT_EQ(mdbExport(p, "Stock").size(), 50u); }},
        {"drop a table",
         [](const fs::path& p) { openWritable(p)->dropTable("Stock"); },
         [](const fs::path& p) { EXPECT_TRUE(mdbTables(p).empty()); }},
        {"store a query",
         [](const fs::path& p) { openWritable(p)->createView("Cheap", "SELECT Item FROM Stock WHERE ID < 10"); },
         [](const fs::path& p) {
             EXPECT_NE(qm::test::run({"mdb-queries", p.string()}).out.find("Cheap"), std::string::npos);
         }},
    };
}

} // namespace

TEST(Crash, StoppedAtAnyWriteTheDatabaseIsAsBefore) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path base = seeded(dir, "base.mdb");
    leaveFreePages(base); // so that operations take freed pages as well as new ones
    for (const Operation& op : operations()) {
        SCOPED_TRACE(op.name);
        const fs::path p = dir / "work.mdb";
        bool finished = false;
        long tried = 0;
        for (long n = 0; !finished && n < 100000; n += (n < 40 ? 1 : 1 + n / 8), ++tried) {
            fs::copy_file(base, p, fs::copy_options::overwrite_existing);
            const std::string before = qm::test::readFile(p);
            finished = runStoppingAtWrite(n, [&] { op.run(p); });
            if (!finished) {
                ASSERT_EQ(recovered(p), before) << "stopped at write " << n;
                ASSERT_EQ(mdbExport(p, "Stock").size(), 300u);
            } else {
                op.checkDone(p);
            }
        }
        EXPECT_TRUE(finished);
        EXPECT_GT(tried, 3);
    }
}

// Dropping a table with an attachment column removes two tables, a row of
// MSysComplexColumns and the catalog rows of both: stopped anywhere, none of
// it has happened.
TEST(Crash, StoppedAtAnyWriteADropWithAHiddenAttachmentTableIsAllOrNothing) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    const fs::path source = qm::test::fixture("access/mdb-reader/data/V2016/attachments.accdb");
    if (!fs::exists(source)) GTEST_SKIP() << "fixture missing: " << source;
    const std::string original = qm::test::readFile(source);
    qm::test::TempDir dir;
    const fs::path p = dir / "work.accdb";
    bool finished = false;
    long tried = 0;
    for (long n = 0; !finished && n < 100000; n += (n < 40 ? 1 : 1 + n / 8), ++tried) {
        qm::test::writeFile(p, original);
        finished = runStoppingAtWrite(n, [&] { openWritable(p)->dropTable("Table1"); });
        if (!finished) ASSERT_EQ(recovered(p), original) << "stopped at write " << n;
    }
    EXPECT_TRUE(finished);
    EXPECT_GT(tried, 3);
    const auto tables = mdbTables(p, true);
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "Table1"), 0);
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "f_F42896D510474144890B9076E2CD27D9_Field1"), 0);
    EXPECT_EQ(std::count(tables.begin(), tables.end(), "f_C6D29A8E61514CBAB1FA6881739A7137_Data"), 1);
    EXPECT_EQ(mdbExport(p, "MSysComplexColumns").size(), 1u);
}

TEST(Crash, KilledAtRandomMomentsTheDatabaseIsBeforeOrAfter) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path base = seeded(dir, "base.accdb");
    std::mt19937 rng(7);
    for (int round = 0; round < 12; ++round) {
        const fs::path p = dir / "work.accdb";
        fs::copy_file(base, p, fs::copy_options::overwrite_existing);
        const std::string before = qm::test::readFile(p);
        const pid_t pid = ::fork();
        if (pid == 0) {
            try {
                auto db = openWritable(p);
                db->beginBatch();
                for (int i = 0; i < 2000; ++i)
                    db->append("Stock", std::vector<Value>{Value(), Value::string("k" + std::to_string(i)),
                                                           Value::string(std::string(300, 'q'))});
                db->endBatch();
            } catch (...) {
                ::_exit(3);
            }
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 150000)(rng)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        const std::string after = recovered(p);
        const std::size_t rows = mdbExport(p, "Stock").size();
        if (after == before) EXPECT_EQ(rows, 300u);
        else EXPECT_EQ(rows, 2300u) << "round " << round;
    }
}

TEST(Crash, AHalfMadeNewDatabaseNeverAppearsUnderItsName) {
    qm::test::TempDir dir;
    const fs::path p = dir / "new.mdb";
    for (long n = 0; n < 60; n += 3) {
        const bool finished =
            runStoppingAtWrite(n, [&] { qm::jet::createDatabase(p.string(), qm::jet::NewFileFormat::Jet4Mdb); });
        if (finished) {
            EXPECT_TRUE(fs::exists(p));
            break;
        }
        EXPECT_FALSE(fs::exists(p)) << "stopped at write " << n;
    }
}

TEST(WriteFailure, AFailedWriteRollsTheOperationBackAndSaysWhy) {
    qm::test::TempDir dir;
    const fs::path p = seeded(dir, "full.mdb");
    const std::string before = qm::test::readFile(p);
    for (long n : {0L, 1L, 5L, 20L}) {
        SCOPED_TRACE(n);
        auto db = openWritable(p);
        jet::writeFaults().failAfter = n;
        try {
            db->beginBatch();
            for (int i = 0; i < 500; ++i)
                db->append("Stock", std::vector<Value>{Value(), Value::string("x" + std::to_string(i)), Value::null()});
            db->endBatch();
            ADD_FAILURE() << "no error reported";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(p.filename().string()), std::string::npos) << e.what();
        }
        jet::writeFaults().failAfter = -1;
        db.reset();
        EXPECT_EQ(recovered(p), before);
    }
    // And the database still takes changes afterwards.
    openWritable(p)->append("Stock", std::vector<Value>{Value(), Value::string("after")});
    EXPECT_EQ(readerRows(p, "Stock").size(), 301u);
}

TEST(Locking, ASecondWriterIsRefusedWhileTheFirstHoldsTheFile) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "locked.accdb");
    {
        auto first = openWritable(p);
        EXPECT_TRUE(fs::exists(dir / "locked.laccdb"));
        try {
            openWritable(p);
            ADD_FAILURE() << "second writer admitted";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("open for writing by another program"), std::string::npos) << e.what();
        }
        // Another process is refused as well.
        const pid_t pid = ::fork();
        if (pid == 0) {
            try {
                openWritable(p);
            } catch (const Error&) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 1);
    }
    EXPECT_FALSE(fs::exists(dir / "locked.laccdb"));
    // A lock file left by a program that is gone does not block.
    qm::test::writeFile(dir / "locked.laccdb", "");
    EXPECT_NO_THROW(openWritable(p));
    const fs::path mdb = newDatabase(dir, "other.mdb");
    auto w = openWritable(mdb);
    EXPECT_TRUE(fs::exists(dir / "other.ldb"));
}

TEST(Locking, ReadOnlyFilesAreRefusedWithAClearMessage) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: file permissions do not apply";
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "ro.mdb");
    fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    try {
        openWritable(p);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot be written"), std::string::npos) << e.what();
    }
}

TEST(Crash, OpeningToReadPutsBackWhatACrashedWriterLeft) {
    qm::test::TempDir dir;
    const fs::path p = seeded(dir, "left.mdb");
    const std::string before = qm::test::readFile(p);
    // Stop in the middle of writing the database pages (after the journal),
    // that is at the first stopping point where the file has changed.
    bool changed = false;
    for (long n = 8; n < 400 && !changed; n += 4) {
        qm::test::writeFile(p, before);
        fs::remove(p.string() + "-journal");
        const bool finished = runStoppingAtWrite(n, [&] {
            auto db = openWritable(p);
            db->beginBatch();
            for (int i = 0; i < 400; ++i) db->append("Stock", std::vector<Value>{Value(), Value::string("z")});
            db->endBatch();
        });
        ASSERT_FALSE(finished) << "the batch ended before any stopping point changed the file";
        changed = qm::test::readFile(p) != before;
    }
    ASSERT_TRUE(changed);
    ASSERT_TRUE(fs::exists(p.string() + "-journal"));
    auto db = qm::jet::openReadWrite(p.string(), {});
    EXPECT_EQ(db->rowCount("Stock"), 300u);
    EXPECT_FALSE(fs::exists(p.string() + "-journal"));
    db.reset();
    EXPECT_EQ(qm::test::readFile(p), before);
}
