// New tables built aside and put in place whole, the steps of long appends,
// and what a killed process left of a table it was building.
#include "cdx_maintain.h"
#include "dbc.h"
#include "dbf_table.h"
#include "journal.h"
#include "storage/open.h"
#include "test_support.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;
using qm::Value;
using qm::xbase::DbfTable;

namespace {

using CT = qm::storage::ColumnType;

qm::storage::TableSpec spec(const std::string& name, bool withKey = false)
{
    qm::storage::TableSpec s;
    s.name = name;
    s.columns = {{.name = "id", .type = CT::Long}, {.name = "word", .type = CT::VarChar, .size = 20},
                 {.name = "note", .type = CT::Memo}};
    if (withKey) {
        qm::storage::IndexSpec k;
        k.name = "pk";
        k.columns = {"id"};
        k.primaryKey = true;
        s.indexes.push_back(k);
    }
    return s;
}

std::vector<Value> row(int i)
{
    return {Value::longInt(i), Value::string("w" + std::to_string(i)), Value::string(std::string(i % 50, 'n'))};
}

std::vector<std::string> filesIn(const fs::path& dir)
{
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(XbaseNewTable, ContainerTableAppearsWithItsRowsWhenTheBatchEnds)
{
    qm::test::TempDir dir;
    const std::string dbc = (dir / "shop.dbc").string();
    qm::xbase::Container::create(dbc);
    auto db = qm::xbase::openContainer(dbc, {});
    db->beginBatch();
    db->createTable(spec("Orders", true));
    for (int i = 1; i <= 500; ++i)
        db->append("orders", row(i));
    // This program sees it under its name; on disk it is neither in the
    // container nor under its final file name.
    EXPECT_TRUE(db->find("ORDERS").has_value());
    EXPECT_EQ(db->rowCount("Orders"), 500u);
    EXPECT_EQ(db->indexes("orders").at(0).primaryKey, true);
    EXPECT_FALSE(qm::xbase::Container::open(dbc)->findTable("orders").has_value());
    EXPECT_FALSE(fs::exists(dir / "orders.dbf"));
    EXPECT_THROW(db->createView("orders", "SELECT * FROM orders"), qm::Error);
    db->endBatch();

    const auto c = qm::xbase::Container::open(dbc);
    const auto t = c->findTable("orders");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(fs::path(t->file).filename(), "orders.dbf");
    EXPECT_EQ(t->primaryKey, "pk");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"orders.cdx", "orders.dbf", "orders.fpt", "shop.dbc",
                                                             "shop.dct", "shop.dcx"}));
    const auto table = DbfTable::open(t->file);
    EXPECT_EQ(table->recordCount(), 500u);
    EXPECT_EQ(table->header().backlink, "shop.dbc");
    EXPECT_TRUE(qm::xbase::StructuralIndex::verify(*table, (dir / "orders.cdx").string()).empty());
}

TEST(XbaseNewTable, AContainerNamedByARelativePathGetsItsTablesBesideIt)
{
    // "sub/shop.dbc" from the folder above it: the new table's file is
    // sub/items.dbf, not sub/sub/items.dbf.
    qm::test::TempDir dir;
    fs::create_directory(dir / "sub");
    qm::xbase::Container::create((dir / "sub" / "shop.dbc").string());
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    try {
        auto db = qm::xbase::openContainer("sub/shop.dbc", {});
        db->createTable(spec("Items", true));
        db->append("items", row(1));
        db.reset();
        fs::current_path(before);
    } catch (...) {
        fs::current_path(before);
        throw;
    }
    const auto t = qm::xbase::Container::open((dir / "sub" / "shop.dbc").string())->findTable("items");
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(fs::path(t->file), dir / "sub" / "items.dbf");
    EXPECT_EQ(DbfTable::open(t->file)->recordCount(), 1u);
}

TEST(XbaseNewTable, DroppedOrRenamedBeforeTheBatchEndsLeavesNothingBehind)
{
    qm::test::TempDir dir;
    auto db = qm::xbase::openFolder(dir.path().string(), {});
    db->beginBatch();
    db->createTable(spec("gone"));
    db->append("gone", row(1));
    db->dropTable("GONE");
    db->createTable(spec("first"));
    db->append("first", row(1));
    db->renameObject("first", "Second");
    EXPECT_FALSE(db->find("first"));
    EXPECT_TRUE(db->find("second"));
    db->endBatch();
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"Second.dbf", "Second.fpt"}));
    EXPECT_EQ(db->rowCount("second"), 1u);
}

TEST(XbaseNewTable, ATableOfTheNameMadeMeanwhileIsNotReplaced)
{
    qm::test::TempDir dir;
    auto db = qm::xbase::openFolder(dir.path().string(), {});
    db->beginBatch();
    db->createTable(spec("t"));
    db->append("t", row(1));
    // Another program makes t.dbf while the batch runs.
    DbfTable::create((dir / "T.DBF").string(), {qm::xbase::FieldSpec{"N", 'I', 4}});
    const std::string error = qm::test::errorOf([&] { db->endBatch(); });
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"T.DBF"}));
}

TEST(XbaseNewTable, WhatAKilledProcessLeftOfATableItBuiltIsRemovedOnOpen)
{
    qm::test::TempDir dir;
    // A process id no process has (above the kernel's limit).
    const fs::path dead = dir / "~qm99999999-3.dbf";
    DbfTable::create(dead.string(), {qm::xbase::FieldSpec{"N", 'I', 4}, qm::xbase::FieldSpec{"M", 'M', 4}});
    qm::test::writeFile(dir / "~qm99999999-3.cdx", "half an index");
    // This process's own and a user's files stay.
    const std::string mine = DbfTable::buildingPath(dir.path().string());
    DbfTable::create(mine, {qm::xbase::FieldSpec{"N", 'I', 4}});
    qm::test::writeFile(dir / "~qmnotes.txt", "x");
    {
        qm::storage::OpenOptions ro;
        ro.readOnly = true;
        auto reading = qm::xbase::openFolder(dir.path().string(), ro);
        EXPECT_TRUE(reading->catalog().empty()); // never listed as tables
    }
    qm::xbase::openFolder(dir.path().string(), {});
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{fs::path(mine).filename().string(), "~qmnotes.txt"}));
}

TEST(XbaseNewTable, ContainerPlacementInterruptedIsTakenBack)
{
    qm::test::TempDir dir;
    const std::string dbc = (dir / "db.dbc").string();
    qm::xbase::Container::create(dbc);
    const std::string dbcBefore = qm::test::readFile(dbc);
    const std::string built = DbfTable::buildingPath(dir.path().string());
    qm::xbase::CreateOptions opts;
    opts.backlink = "db.dbc";
    DbfTable::create(built, {qm::xbase::FieldSpec{"N", 'I', 4}, qm::xbase::FieldSpec{"M", 'M', 4}}, opts);
    // A process that died after moving the files into place, before the
    // container's records were committed, left this on disk.
    std::map<std::string, std::string> crashState;
    {
        qm::xbase::Journal j(dbc + ".qmj");
        DbfTable::placeFiles(built, (dir / "t.dbf").string(), j);
        for (const char* f : {"t.dbf", "t.fpt", "db.dbc.qmj"})
            crashState[f] = qm::test::readFile(dir / f);
    } // rolled back here
    EXPECT_FALSE(fs::exists(dir / "t.dbf"));
    for (const auto& [f, bytes] : crashState)
        qm::test::writeFile(dir / f, bytes);
    auto db = qm::xbase::openContainer(dbc, {});
    EXPECT_FALSE(db->find("t"));
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"db.dbc", "db.dct", "db.dcx"}));
    EXPECT_EQ(qm::test::readFile(dbc), dbcBefore);
}

TEST(XbaseNewTable, LongAppendKeepsHeaderMemoAndIndexInStepBetweenWrites)
{
    qm::test::TempDir dir;
    auto db = qm::xbase::openFolder(dir.path().string(), {});
    db->createTable(spec("t"));
    db->createIndex("t", [] {
        qm::storage::IndexSpec k;
        k.name = "word";
        k.columns = {"word"};
        return k;
    }());
    const std::string path = (dir / "t.dbf").string();
    db->beginBatch();
    int checked = 0;
    for (int i = 1; i <= 120000; ++i) {
        db->append("t", row(i));
        if (i % 20000 != 0)
            continue;
        // Another program reading now: what the header counts is in the
        // file, the memo file's next block lies past every memo, and the
        // index holds the keys of exactly the counted records.
        const std::string dbf = qm::test::readFile(path);
        const auto count = std::uint32_t(static_cast<unsigned char>(dbf[4]) | static_cast<unsigned char>(dbf[5]) << 8 |
                                         static_cast<unsigned char>(dbf[6]) << 16);
        const auto headerLength = std::uint16_t(static_cast<unsigned char>(dbf[8]) | static_cast<unsigned char>(dbf[9]) << 8);
        const auto recordLength = std::uint16_t(static_cast<unsigned char>(dbf[10]) | static_cast<unsigned char>(dbf[11]) << 8);
        checked += count > 0;
        EXPECT_EQ(dbf.size(), headerLength + std::uint64_t(count) * recordLength + 1) << "after row " << i;
        const std::string fpt = qm::test::readFile(dir / "t.fpt");
        const std::uint64_t nextFree = (std::uint64_t(static_cast<unsigned char>(fpt[0])) << 24 |
                                        std::uint64_t(static_cast<unsigned char>(fpt[1])) << 16 |
                                        std::uint64_t(static_cast<unsigned char>(fpt[2])) << 8 |
                                        std::uint64_t(static_cast<unsigned char>(fpt[3]))) * 64;
        EXPECT_GE(nextFree, fpt.size());
        qm::test::TempDir copy;
        qm::test::writeFile(copy / "t.dbf", dbf);
        qm::test::writeFile(copy / "t.fpt", fpt);
        qm::test::writeFile(copy / "t.cdx", qm::test::readFile(dir / "t.cdx"));
        const auto problems =
            qm::xbase::StructuralIndex::verify(*DbfTable::open((copy / "t.dbf").string()), (copy / "t.cdx").string());
        EXPECT_TRUE(problems.empty()) << problems.front();
    }
    db->endBatch();
    EXPECT_GE(checked, 3); // the table had rows on disk before the batch ended
    EXPECT_EQ(db->rowCount("t"), 120000u);
}
