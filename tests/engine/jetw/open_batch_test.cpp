// What an open write batch shows: reads through the writer see the batch's
// work so far, while the file, as any other program reads it, stays as last
// committed until the batch ends, though pages nobody can reach yet are
// written early.
#include "index_check.h"
#include "jet/journal.h"
#include "jetw_checks.h"

#include <algorithm>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> sortedTables(const fs::path& p) {
    std::vector<std::string> names = mdbTables(p);
    std::sort(names.begin(), names.end());
    return names;
}

std::size_t scanned(storage::Database& db, const std::string& table) {
    std::size_t n = 0;
    for (auto c = db.scan(table); c->next();) ++n;
    return n;
}

} // namespace

TEST(OpenBatch, ReadsSeeTheBatchWhileOtherReadersSeeTheLastCommit) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "open.mdb");
    auto db = openWritable(p);
    storage::TableSpec old{"Old", {col("ID", CT::Long), col("Name", CT::VarChar, 50)}, {}};
    old.indexes = {{"PrimaryKey", {"ID"}, true, true}, {"Name", {"Name"}, false, false}};
    db->createTable(old);
    db->beginBatch();
    for (int i = 0; i < 100; ++i)
        db->append("Old", std::vector<Value>{Value::longInt(i), Value::string("old " + std::to_string(i))});
    db->endBatch();
    const auto committedSize = fs::file_size(p);

    const int rows = 40000;
    const std::string wide(200, 'w');
    db->beginBatch();
    storage::TableSpec fresh{"Fresh", {col("ID", CT::Long), col("Text", CT::VarChar, 255)}, {}};
    fresh.indexes = {{"PrimaryKey", {"ID"}, true, true}};
    db->createTable(fresh);
    ASSERT_TRUE(db->find("Fresh")) << "a table created in the batch is found inside it";
    for (int i = 0; i < rows; ++i) {
        db->append("Fresh", std::vector<Value>{Value::longInt(rows - i), Value::string(wide)});
        db->append("Old", std::vector<Value>{Value::longInt(100 + i), Value::string("new " + std::to_string(i))});
    }
    EXPECT_EQ(db->rowCount("Fresh"), std::size_t(rows));
    EXPECT_EQ(scanned(*db, "Fresh"), std::size_t(rows));
    EXPECT_EQ(scanned(*db, "Old"), std::size_t(rows + 100));

    // Pages of the new rows went to the file early, yet nobody reaches them.
    EXPECT_GT(fs::file_size(p), committedSize + 4u * 1024 * 1024);
    EXPECT_EQ(sortedTables(p), std::vector<std::string>{"Old"});
    EXPECT_EQ(mdbExport(p, "Old").size(), 100u);
    EXPECT_FALSE(jet::Journal::linkingBegun(p.string()));
    checkIndexes(p, "Old", 100);

    db->endBatch();
    db.reset();
    EXPECT_EQ(sortedTables(p), (std::vector<std::string>{"Fresh", "Old"}));
    checkIndexes(p, "Fresh", rows);
    checkIndexes(p, "Old", rows + 100);
}

// A read inside a batch makes nothing durable: a batch given up after it
// leaves no trace, not even the table it created.
TEST(OpenBatch, AReadDoesNotCommitTheBatch) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "given_up.accdb");
    {
        auto db = openWritable(p);
        db->beginBatch();
        db->createTable({"T", {col("ID", CT::Long)}, {}});
        for (int i = 0; i < 10; ++i) db->append("T", std::vector<Value>{Value::longInt(i)});
        EXPECT_EQ(db->rowCount("T"), 10u);
        EXPECT_EQ(scanned(*db, "T"), 10u);
        // Closed without ending the batch: the writer gives the batch up.
    }
    EXPECT_FALSE(fs::exists(jet::Journal::pathFor(p.string())));
    EXPECT_TRUE(mdbTables(p).empty());
    auto db = openWritable(p);
    EXPECT_FALSE(db->find("T"));
}

// A batch that fails on a later call is undone whole, and what was read of it
// before is not shown afterwards.
TEST(OpenBatch, AFailedCallUndoesTheBatchAndWhatWasReadOfIt) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "failed.mdb");
    auto db = openWritable(p);
    db->beginBatch();
    db->createTable({"T", {col("ID", CT::Long), col("Memo", CT::Memo)}, {}});
    db->append("T", std::vector<Value>{Value::longInt(1), Value::string("one")});
    EXPECT_EQ(scanned(*db, "T"), 1u);
    jet::writeFaults().failAfter = 0; // the next write of the file fails, as on a full disk
    EXPECT_THROW(db->endBatch(), std::exception);
    jet::writeFaults().failAfter = -1;
    EXPECT_FALSE(db->find("T"));
    db.reset();
    EXPECT_TRUE(mdbTables(p).empty());
}
