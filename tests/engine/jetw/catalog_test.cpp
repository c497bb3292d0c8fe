// Dropping and renaming tables, storing and dropping saved queries.
#include "jet/create_database.h"
#include "jet/write_database.h"
#include "jet/write_model.h"
#include "jet/write_pages.h"
#include "jetw_checks.h"
#include "mdbreader_check.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

void makeShop(storage::Database& db) {
    storage::TableSpec customers{"Customers",
                                 {col("ID", CT::Long, 0, true), col("Name", CT::VarChar, 60), col("City", CT::VarChar, 40),
                                  col("Notes", CT::Memo)},
                                 {{"PrimaryKey", {"ID"}, true, false}, {"City", {"City"}, false, false}}};
    storage::TableSpec orders{"Orders",
                              {col("OrderID", CT::Long, 0, true), col("CustomerID", CT::Long), col("Total", CT::Currency)},
                              {{"PrimaryKey", {"OrderID"}, true, false}}};
    db.createTable(customers);
    db.createTable(orders);
    db.beginBatch();
    for (int i = 1; i <= 400; ++i) {
        db.append("Customers", std::vector<Value>{Value(), Value::string("Customer " + std::to_string(i)),
                                                  Value::string(i % 2 ? "Köln" : "Lyon"),
                                                  Value::string(std::string(i % 40 == 0 ? 7000 : 20, 'n'))});
        db.append("Orders", std::vector<Value>{Value(), Value::longInt(i), Value::currency(i * 10000)});
    }
    db.endBatch();
}

std::size_t aceRowsOf(const fs::path& p, const std::string& id) {
    std::size_t n = 0;
    for (const auto& r : mdbExport(p, "MSysACEs")) n += r[0] == id;
    return n;
}

std::string idOf(const fs::path& p, const std::string& name) {
    for (const auto& r : mdbExport(p, "MSysObjects"))
        if (r[2] == name) return r[0];
    return {};
}

// Every page of the file is either reached from the catalog (pages 0 and 1,
// the global map's bitmap pages, each table's definition pages, the holder
// pages of its usage maps, the pages those maps list and their bitmap pages)
// or marked free in the global map, never both.  Returns the free pages.
std::set<std::uint32_t> expectEveryPageAccountedFor(const fs::path& p) {
    std::set<std::uint32_t> used{0, 1}, free;
    const std::uint32_t pages = std::uint32_t(fs::file_size(p) / 4096);
    const Rows objects = mdbExport(p, "MSysObjects");
    jet::PageStore store(p.string(), "");
    {
        const std::uint8_t* b = store.read(1);
        const std::size_t row0 = jet::u16(b + 14) & 0x1FFF;
        if (b[row0] == 0x00) {
            const std::uint32_t start = jet::u32(b + row0 + 1);
            for (std::uint32_t bit = 0; bit < (4096 - row0 - 5) * 8; ++bit)
                if (start + bit < pages && (b[row0 + 5 + bit / 8] >> (bit % 8) & 1)) free.insert(start + bit);
        } else {
            for (std::uint32_t slot = 0; row0 + 1 + 4 * (slot + 1) <= 4096; ++slot) {
                const std::uint32_t bitmap = jet::u32(store.read(1) + row0 + 1 + 4 * slot);
                if (bitmap == 0) continue;
                used.insert(bitmap);
                const std::uint8_t* m = store.read(bitmap);
                for (std::uint32_t bit = 0; bit < 4092 * 8; ++bit)
                    if (slot * 32736 + bit < pages && (m[4 + bit / 8] >> (bit % 8) & 1)) free.insert(slot * 32736 + bit);
            }
        }
    }
    for (const auto& o : objects) {
        if (o[3] != "1") continue;
        const jet::TableDefinition def = jet::readDefinition(store, std::uint32_t(std::stoul(o[0])) & 0xFFFFFF, o[2]);
        used.insert(def.chain.begin(), def.chain.end());
        auto map = [&](jet::RowPointer m) {
            if (m.page == 0) return;
            used.insert(m.page);
            const jet::MapRow row = jet::mapRow(store, m, false, def.name);
            if (row.p[0] == 0x01)
                for (std::size_t s = 0; 1 + 4 * (s + 1) <= row.size; ++s)
                    if (const std::uint32_t bp = jet::u32(row.p + 1 + 4 * s)) used.insert(bp);
            for (std::uint32_t pg : jet::mapPages(store, m, def.name)) used.insert(pg);
        };
        map(def.ownedMap());
        map(def.freeMap());
        for (const auto& r : def.realIndexes) {
            map(r.usageMap);
            used.insert(r.rootPage);
        }
        for (const auto& m : def.lvMaps) {
            map(m.owned);
            map(m.free);
        }
    }
    for (std::uint32_t pg = 0; pg < pages; ++pg)
        EXPECT_NE(used.count(pg), free.count(pg)) << "page " << pg << (used.count(pg) ? " is used and marked free" : " is neither used nor free");
    return free;
}

} // namespace

TEST(PageReuse, ADroppedTableIsRefilledInItsOwnPages) {
    QM_REQUIRE_PROGRAM("mdb-export");
    for (const char* name : {"refill.mdb", "refill.accdb"}) {
        SCOPED_TRACE(name);
        qm::test::TempDir dir;
        const fs::path p = newDatabase(dir, name);
        makeShop(*openWritable(p));
        const Rows customers = mdbExport(p, "Customers"), orders = mdbExport(p, "Orders");
        const Rows ordersRead = readerRows(p, "Orders");
        const auto sizeBefore = fs::file_size(p);
        expectEveryPageAccountedFor(p);
        {
            auto db = openWritable(p);
            db->dropTable("Customers");
            db->dropTable("Orders");
            db.reset();
            EXPECT_GT(expectEveryPageAccountedFor(p).size(), 40u);
            makeShop(*openWritable(p)); // the same tables and rows again
        }
        EXPECT_LE(fs::file_size(p), sizeBefore + 2 * 4096) << "the file grew instead of taking its free pages";
        EXPECT_LE(expectEveryPageAccountedFor(p).size(), 2u);
        EXPECT_EQ(mdbExport(p, "Customers"), customers);
        EXPECT_EQ(mdbExport(p, "Orders"), orders);
        EXPECT_EQ(readerRows(p, "Customers").size(), 400u);
        EXPECT_EQ(readerRows(p, "Orders"), ordersRead);
        // Once more inside one session: the drop is committed before the refill.
        auto db = openWritable(p);
        db->dropTable("Customers");
        db->createTable({"Customers", {col("ID", CT::Long), col("Notes", CT::Memo)}, {{"PrimaryKey", {"ID"}, true, false}}});
        db->beginBatch();
        for (int i = 0; i < 400; ++i)
            db->append("Customers", std::vector<Value>{Value::longInt(i), Value::string(std::string(i % 40 == 0 ? 7000 : 20, 'n'))});
        db->endBatch();
        db.reset();
        EXPECT_LE(fs::file_size(p), sizeBefore + 2 * 4096);
        EXPECT_EQ(mdbExport(p, "Customers").size(), 400u);
        expectEveryPageAccountedFor(p);
    }
}

TEST(PageReuse, PagesEmptiedByDeletesAreFreedAndTakenAgain) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "emptied.mdb");
    makeShop(*openWritable(p));
    const auto sizeBefore = fs::file_size(p);
    const Rows orders = mdbExport(p, "Orders");
    {
        auto db = openWritable(p);
        std::vector<std::uint64_t> ids;
        auto c = db->scan("Customers");
        while (c->next())
            if (c->value(0).rawInt() > 20) ids.push_back(c->rowId()); // the first data page keeps rows
        c.reset();
        db->beginBatch();
        for (auto id : ids) db->remove("Customers", id);
        db->endBatch();
    }
    // Data pages, the pages of the long memos and merged index pages are free.
    EXPECT_GT(expectEveryPageAccountedFor(p).size(), 20u);
    EXPECT_EQ(mdbExport(p, "Customers").size(), 20u);
    {
        auto db = openWritable(p);
        db->beginBatch();
        for (int i = 21; i <= 400; ++i)
            db->append("Customers", std::vector<Value>{Value(), Value::string("Again " + std::to_string(i)),
                                                      Value::string("Lyon"), Value::string(std::string(i % 40 == 0 ? 7000 : 20, 'a'))});
        db->endBatch();
    }
    EXPECT_LE(fs::file_size(p), sizeBefore + 2 * 4096);
    expectEveryPageAccountedFor(p);
    const Rows rows = mdbExport(p, "Customers");
    ASSERT_EQ(rows.size(), 400u);
    std::size_t memos = 0;
    for (const auto& r : rows) memos += r[3] == std::string(7000, 'a');
    EXPECT_EQ(memos, 10u);
    EXPECT_EQ(readerRows(p, "Customers").size(), 400u);
    EXPECT_EQ(mdbExport(p, "Orders"), orders);
}

TEST(PageReuse, ARowIdFromBeforeABatchNeverNamesARowAddedInIt) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "ids.accdb");
    auto db = openWritable(p);
    db->createTable({"T", {col("K", CT::Long), col("S", CT::VarChar, 200)}, {{"PrimaryKey", {"K"}, true, false}}});
    db->beginBatch();
    for (int i = 0; i < 200; ++i) db->append("T", std::vector<Value>{Value::longInt(i), Value::string(std::string(150, 's'))});
    db->endBatch();
    std::vector<std::uint64_t> ids;
    auto c = db->scan("T");
    while (c->next()) ids.push_back(c->rowId());
    c.reset();
    // Deleting every row frees its pages; the rows added in the same batch
    // must not land on them, or the ids the caller holds would name them.
    db->beginBatch();
    for (auto id : ids) db->remove("T", id);
    for (int i = 0; i < 200; ++i) db->append("T", std::vector<Value>{Value::longInt(1000 + i), Value::string("new")});
    for (auto id : ids) EXPECT_THROW(db->update("T", id, std::vector<Value>{Value(), Value::string("changed")}), Error);
    db->endBatch();
    db.reset();
    for (const auto& r : readerRows(p, "T")) EXPECT_EQ(r[1], "new");
    expectEveryPageAccountedFor(p);
}

TEST(PageReuse, AScanGoesOnUndisturbedWhileAnotherTableFillsFreedPages) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "into.mdb");
    makeShop(*openWritable(p));
    const Rows customers = readerRows(p, "Customers");
    // SELECT ... INTO in one file: the source is read while the target is
    // written, and the target takes the pages the dropped table left.
    auto db = qm::jet::openReadWrite(p.string(), {});
    db->dropTable("Orders");
    db->createTable({"Copy", {col("ID", CT::Long), col("Name", CT::VarChar, 60), col("City", CT::VarChar, 40),
                              col("Notes", CT::Memo)},
                     {{"PrimaryKey", {"ID"}, true, false}}});
    db->beginBatch();
    auto c = db->scan("Customers");
    std::vector<Value> row(4);
    while (c->next()) {
        for (std::size_t i = 0; i < 4; ++i) row[i] = c->value(i);
        db->append("Copy", row);
    }
    c.reset();
    db->endBatch();
    db.reset();
    EXPECT_EQ(readerRows(p, "Copy"), customers);
    EXPECT_EQ(mdbExport(p, "Copy"), mdbExport(p, "Customers"));
    EXPECT_TRUE(expectEveryPageAccountedFor(p).empty()) << "the copy did not take every freed page";
}

TEST(PageReuse, PagesAccessLeftFreeAreTakenAndEverythingElseStaysAsItWas) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    for (const char* fixture : {"access/jackcess/V2000/test2V2000.mdb", "access/mdb-reader/data/V2016/longtext.accdb",
                                "access/mdbtestdata/ASampleDatabase.accdb"}) {
        SCOPED_TRACE(fixture);
        const fs::path source = qm::test::fixture(fixture);
        if (!fs::exists(source)) GTEST_SKIP() << "fixture missing: " << fixture;
        qm::test::TempDir dir;
        const fs::path p = writableCopy(dir, source);
        const std::size_t freeBefore = expectEveryPageAccountedFor(p).size();
        ASSERT_GT(freeBefore, 5u);
        std::map<std::string, Rows> before;
        for (const auto& t : mdbTables(p)) before[t] = mdbExport(p, t);
        const auto size = fs::file_size(p);
        {
            auto db = openWritable(p);
            db->createTable({"Added", {col("ID", CT::Long, 0, true), col("Text", CT::VarChar, 100), col("Memo", CT::Memo)},
                             {{"PrimaryKey", {"ID"}, true, false}, {"Text", {"Text"}, false, false}}});
            db->beginBatch();
            for (int i = 0; i < 100; ++i)
                db->append("Added", std::vector<Value>{Value(), Value::string("row " + std::to_string(i)),
                                                       Value::string(std::string(i % 10 == 0 ? 3000 : 100, 'm'))});
            db->endBatch();
        }
        // The file grows only once the free pages are used up.
        const std::size_t freeAfter = expectEveryPageAccountedFor(p).size();
        EXPECT_LT(freeAfter, freeBefore);
        if (fs::file_size(p) > size) EXPECT_EQ(freeAfter, 0u);
        for (const auto& [table, rows] : before) EXPECT_EQ(mdbExport(p, table), rows) << table;
        EXPECT_EQ(mdbExport(p, "Added").size(), 100u);
        EXPECT_EQ(readerRows(p, "Added").size(), 100u);
    }
}

TEST(DropTable, RemovesCatalogAndPermissionRowsAndLeavesTheOtherTablesIntact) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "shop.mdb");
    makeShop(*openWritable(p));
    const std::string id = idOf(p, "Customers");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(aceRowsOf(p, id), 3u); // one per inheritable grant of the Tables container
    const Rows ordersBefore = mdbExport(p, "Orders");
    const auto sizeBefore = fs::file_size(p);
    openWritable(p)->dropTable("customers"); // names match ignoring case
    EXPECT_EQ(mdbTables(p), std::vector<std::string>{"Orders"});
    EXPECT_EQ(idOf(p, "Customers"), "");
    EXPECT_EQ(aceRowsOf(p, id), 0u);
    EXPECT_EQ(mdbExport(p, "Orders"), ordersBefore);
    EXPECT_EQ(fs::file_size(p), sizeBefore); // pages are marked free, the file does not shrink
    // The name is free again, and a table made under it starts empty.
    auto db = openWritable(p);
    db->createTable({"Customers", {col("X", CT::Long)}, {}});
    db->append("Customers", std::vector<Value>{Value::longInt(5)});
    db.reset();
    EXPECT_EQ(readerRows(p, "Customers"), (Rows{{"5"}}));
}

TEST(DropTable, RefusesSystemTablesAndUnknownNames) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "sys.accdb");
    auto db = openWritable(p);
    for (const char* name : {"MSysObjects", "MSysACEs", "Nonexistent"}) {
        try {
            db->dropTable(name);
            ADD_FAILURE() << name;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
        }
    }
}

// Attachment, multi-value and version-history columns keep their values in
// hidden tables that MSysComplexColumns names (FlatTableID) for the owning
// table (ConceptualTableID).  Dropping the table drops those and their rows
// there, and nothing else: the other table with such a column (MSysResources
// in both files) keeps its row and its hidden table.
TEST(DropTable, TakesTheHiddenTablesOfAttachmentAndMultiValueColumnsAlong) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    QM_REQUIRE_PROGRAM("mdb-schema");
    struct Case {
        const char* fixture;
        std::size_t hiddenTables; // of Table1
    };
    for (const Case& c : {Case{"access/jackcess/V2007/complexDataTestV2007.accdb", 3}, // version history, multi-value, attachment
                          Case{"access/mdb-reader/data/V2016/attachments.accdb", 1}}) {
        SCOPED_TRACE(c.fixture);
        const fs::path source = qm::test::fixture(c.fixture);
        if (!fs::exists(source)) GTEST_SKIP() << "fixture missing: " << c.fixture;
        qm::test::TempDir dir;
        const fs::path p = writableCopy(dir, source);

        const std::string id = idOf(p, "Table1");
        ASSERT_FALSE(id.empty());
        std::set<std::string> gone{id};
        Rows otherComplexRows;
        for (const auto& r : mdbExport(p, "MSysComplexColumns")) {
            if (r[3] == id) gone.insert(r[2]);
            else otherComplexRows.push_back(r);
        }
        ASSERT_EQ(gone.size(), c.hiddenTables + 1);
        ASSERT_FALSE(otherComplexRows.empty());
        std::set<std::string> goneNames;
        for (const auto& r : mdbExport(p, "MSysObjects"))
            if (gone.count(r[0])) goneNames.insert(r[2]);
        ASSERT_EQ(goneNames.size(), gone.size());
        for (const auto& g : gone) EXPECT_GT(aceRowsOf(p, g), 0u) << g;

        // Every other table, the system tables included, as mdbtools, our
        // reader and mdb-reader see it.
        const std::vector<std::string> tables = mdbTables(p, true);
        std::vector<std::string> kept;
        for (const auto& t : tables)
            if (!goneNames.count(t)) kept.push_back(t);
        std::map<std::string, Rows> exported, read;
        std::map<std::string, qm::test::RunResult> schema;
        for (const auto& t : kept) {
            exported[t] = mdbExport(p, t);
            read[t] = readerRows(p, t);
            schema[t] = qm::test::run({"mdb-schema", "-T", t, p.string()});
            ASSERT_EQ(schema[t].exitCode, 0) << t << ": " << schema[t].err;
        }
        const bool withMdbReader = mdbReaderMissing().empty();
        MdbReaderDump dumpBefore;
        if (withMdbReader) dumpBefore = mdbReaderDump(p, kept);
        const std::size_t freeBefore = expectEveryPageAccountedFor(p).size();
        const auto size = fs::file_size(p);

        openWritable(p)->dropTable("Table1");

        EXPECT_EQ(mdbTables(p, true), kept);
        EXPECT_EQ(mdbExport(p, "MSysComplexColumns"), otherComplexRows);
        // The catalog lost exactly the rows of the dropped tables.
        for (const char* catalog : {"MSysObjects", "MSysACEs"}) {
            Rows expected;
            for (const auto& r : exported[catalog])
                if (!gone.count(r[0])) expected.push_back(r);
            EXPECT_LT(expected.size(), exported[catalog].size());
            EXPECT_EQ(mdbExport(p, catalog), expected) << catalog;
        }
        for (const auto& t : kept) {
            const auto s = qm::test::run({"mdb-schema", "-T", t, p.string()});
            EXPECT_EQ(s.exitCode, 0) << t << ": " << s.err;
            EXPECT_EQ(s.out, schema[t].out) << t;
            EXPECT_EQ(s.err, schema[t].err) << t;
            if (t == "MSysObjects" || t == "MSysACEs" || t == "MSysComplexColumns") continue;
            EXPECT_EQ(mdbExport(p, t), exported[t]) << t;
            EXPECT_EQ(readerRows(p, t), read[t]) << t;
        }
        EXPECT_EQ(qm::test::run({"mdb-schema", p.string()}).exitCode, 0);
        const std::size_t freeAfter = expectEveryPageAccountedFor(p).size();
        EXPECT_GT(freeAfter, freeBefore);
        EXPECT_EQ(fs::file_size(p), size);
        if (withMdbReader) {
            const MdbReaderDump after = mdbReaderDump(p, kept);
            EXPECT_TRUE(after.tables.empty()) << after.tables.front();
            for (const auto& t : after.systemTables) EXPECT_FALSE(goneNames.count(t)) << t;
            for (const auto& t : kept) {
                const auto& b = dumpBefore.data[t];
                const auto& a = after.data.at(t);
                if (t == "MSysObjects" || t == "MSysACEs" || t == "MSysComplexColumns") {
                    EXPECT_EQ(a.rows.size(), mdbExport(p, t).size()) << t;
                    EXPECT_EQ(a.rowCount, a.rows.size()) << t;
                } else {
                    EXPECT_EQ(a.rows, b.rows) << t;
                }
            }
        }

        // The name can be used again, and the new table fills the freed pages.
        {
            auto db = openWritable(p);
            db->createTable({"Table1", {col("ID", CT::Long, 0, true), col("Text", CT::VarChar, 200)},
                             {{"PrimaryKey", {"ID"}, true, false}}});
            db->beginBatch();
            for (int i = 0; i < 40; ++i)
                db->append("Table1", std::vector<Value>{Value(), Value::string(std::string(150, char('a' + i % 26)))});
            db->endBatch();
        }
        EXPECT_EQ(fs::file_size(p), size);
        EXPECT_LT(expectEveryPageAccountedFor(p).size(), freeAfter);
        EXPECT_EQ(readerRows(p, "Table1").size(), 40u);
        EXPECT_EQ(mdbExport(p, "Table1").size(), 40u);
        EXPECT_EQ(mdbExport(p, "MSysComplexColumns"), otherComplexRows);
    }
}

// When MSysComplexColumns does not say plainly which hidden table holds a
// column's values, the drop is refused before anything is written.
TEST(DropTable, RefusesWhenTheHiddenTableOfAColumnIsUnclearAndChangesNothing) {
    QM_REQUIRE_SHARED();
    const fs::path source = qm::test::fixture("access/mdb-reader/data/V2016/attachments.accdb");
    if (!fs::exists(source)) GTEST_SKIP() << "fixture missing: " << source;
    qm::test::TempDir dir;
    const fs::path p = dir / "damaged.accdb";
    // A copy whose row for Table1 (id 64, column Attachments) is changed by
    // `change`, or deleted when it returns false.
    auto damaged = [&](const std::function<bool(std::vector<Value>&, int flatColumn)>& change) {
        qm::test::writeFile(p, qm::test::readFile(source));
        jet::JetWriter w(std::make_unique<jet::PageStore>(p.string(), ""));
        const auto o = w.findObject(0x0F000001, "MSysComplexColumns");
        ASSERT_TRUE(o);
        jet::TableDefinition& t = w.definition(std::uint32_t(o->id), o->name);
        int owner = -1, flat = -1;
        for (std::size_t i = 0; i < t.byNumber().size(); ++i) {
            if (t.byNumber()[i]->name == "ConceptualTableID") owner = int(i);
            if (t.byNumber()[i]->name == "FlatTableID") flat = int(i);
        }
        ASSERT_GE(owner, 0);
        ASSERT_GE(flat, 0);
        std::optional<jet::RowLocation> at;
        std::vector<Value> row;
        w.scan(t, [&](jet::RowLocation l, const std::vector<Value>& v) {
            if (v[std::size_t(owner)].rawInt() != 64) return true;
            at = l;
            row = v;
            return false;
        });
        ASSERT_TRUE(at);
        w.deleteRow(t, *at);
        if (change(row, flat)) w.insertRow(t, row);
        w.commit();
    };
    auto expectRefused = [&](const std::string& why) {
        const std::string before = qm::test::readFile(p);
        try {
            openWritable(p)->dropTable("Table1");
            ADD_FAILURE() << "dropped";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
        EXPECT_EQ(qm::test::readFile(p), before);
        EXPECT_FALSE(fs::exists(p.string() + "-journal"));
    };
    // The column's row names the shared attachment template as its hidden table.
    damaged([](std::vector<Value>& row, int flat) {
        row[std::size_t(flat)] = Value::longInt(39);
        return true;
    });
    expectRefused("MSysComplexType_Attachment");
    // Two tables' columns name the same hidden table.
    damaged([](std::vector<Value>& row, int flat) {
        row[std::size_t(flat)] = Value::longInt(69); // MSysResources' hidden table
        return true;
    });
    expectRefused("f_C6D29A8E61514CBAB1FA6881739A7137_Data");
    // The column has no row at all.
    damaged([](std::vector<Value>&, int) { return false; });
    expectRefused("no entry for its column Attachments");
}

TEST(RenameTable, KeepsItsRowsAndIndexesUnderTheNewName) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "rename.accdb");
    makeShop(*openWritable(p));
    const Rows before = mdbExport(p, "Customers");
    auto db = openWritable(p);
    db->renameObject("Customers", "Clients");
    db->renameObject("Clients", "CLIENTS"); // only the letter case changes
    try {
        db->renameObject("CLIENTS", "orders");
        ADD_FAILURE() << "renamed onto an existing table";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
    }
    EXPECT_THROW(db->renameObject("CLIENTS", "Bad.Name"), Error);
    // The renamed table still takes rows, and its unique key still holds.
    db->append("CLIENTS", std::vector<Value>{Value(), Value::string("new one")});
    EXPECT_THROW(db->append("CLIENTS", std::vector<Value>{Value::longInt(1), Value::string("dup")}), Error);
    db.reset();
    const auto tables = mdbTables(p);
    EXPECT_NE(std::find(tables.begin(), tables.end(), "CLIENTS"), tables.end());
    EXPECT_EQ(std::find(tables.begin(), tables.end(), "Customers"), tables.end());
    Rows after = mdbExport(p, "CLIENTS");
    ASSERT_EQ(after.size(), before.size() + 1);
    after.pop_back();
    EXPECT_EQ(after, before);
}

TEST(SavedQueries, StoredSqlComesBackFromOurReaderAndMdbtools) {
    QM_REQUIRE_PROGRAM("mdb-queries");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "queries.mdb");
    auto db = openWritable(p);
    makeShop(*db);
    struct Q {
        const char* name;
        const char* sql;
        const char* expected; // what our reader rebuilds
    };
    const Q queries[] = {
        {"Cologne", "SELECT Customers.Name, Customers.City FROM Customers WHERE Customers.City='Köln' ORDER BY Customers.Name DESC;",
         "SELECT Customers.Name, Customers.City\r\nFROM Customers\r\nWHERE Customers.City='Köln'\r\nORDER BY Customers.Name DESC;\r\n"},
        {"Big Orders", "SELECT DISTINCT TOP 10 c.Name AS Who, o.Total FROM Customers AS c INNER JOIN Orders AS o ON c.ID = o.CustomerID WHERE o.Total > 100",
         "SELECT DISTINCT TOP 10 c.Name AS Who, o.Total\r\nFROM Customers AS c INNER JOIN Orders AS o ON c.ID = o.CustomerID\r\nWHERE o.Total > 100;\r\n"},
        {"Totals", "SELECT CustomerID, Sum(Total) AS Spent FROM Orders GROUP BY CustomerID HAVING Sum(Total) > 5",
         "SELECT CustomerID, Sum(Total) AS Spent\r\nFROM Orders\r\nGROUP BY CustomerID\r\nHAVING Sum(Total) > 5;\r\n"},
        {"Everything", "SELECT * FROM [Orders]", "SELECT *\r\nFROM Orders;\r\n"},
    };
    for (const Q& q : queries) db->createView(q.name, q.sql);
    for (const Q& q : queries) EXPECT_EQ(db->querySql(q.name), q.expected) << q.name;
    // Names are shared with tables; a query cannot take a table's name.
    EXPECT_THROW(db->createView("Orders", "SELECT * FROM Customers"), Error);
    EXPECT_THROW(db->createView("Cologne", "SELECT * FROM Customers"), Error);
    // Only select queries are stored.
    EXPECT_THROW(db->createView("Wipe", "DELETE FROM Orders"), Error);
    db->renameObject("Totals", "Spending");
    EXPECT_EQ(db->querySql("Spending"), queries[2].expected);
    db.reset();
    const std::string list = qm::test::run({"mdb-queries", "-1", p.string()}).out;
    for (const char* n : {"Cologne", "Big Orders", "Spending", "Everything"}) EXPECT_NE(list.find(n), std::string::npos) << list;
    const std::string sql = qm::test::run({"mdb-queries", p.string(), "Cologne"}).out;
    EXPECT_NE(sql.find("Customers.City='Köln'"), std::string::npos) << sql;
}

TEST(SavedQueries, DropRemovesEveryRowOfTheQuery) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "dropq.accdb");
    auto db = openWritable(p);
    makeShop(*db);
    db->createView("A", "SELECT Name FROM Customers ORDER BY Name");
    db->createView("B", "SELECT OrderID FROM Orders");
    const std::size_t rowsWithTwo = mdbExport(p, "MSysQueries").size();
    db->dropView("A");
    EXPECT_THROW(db->dropView("A"), Error);
    EXPECT_THROW(db->dropView("Orders"), Error); // a table, not a query
    db.reset();
    const Rows rows = mdbExport(p, "MSysQueries");
    EXPECT_LT(rows.size(), rowsWithTwo);
    EXPECT_EQ(idOf(p, "A"), "");
    const std::string b = idOf(p, "B");
    for (const auto& r : rows) EXPECT_EQ(r[0], b);
    EXPECT_EQ(aceRowsOf(p, b), 3u);
}

TEST(ReadWrite, TakesTheWriteLockOnlyAtTheFirstChange) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "lazy.mdb");
    auto db = qm::jet::openReadWrite(p.string(), {});
    EXPECT_TRUE(db->catalog().size() > 0);
    EXPECT_FALSE(fs::exists(dir / "lazy.ldb"));
    auto other = openWritable(p); // nobody holds the file yet
    other.reset();
    db->createTable({"T", {col("A", CT::Long)}, {}});
    EXPECT_TRUE(fs::exists(dir / "lazy.ldb"));
    db->append("T", std::vector<Value>{Value::longInt(7)});
    EXPECT_EQ(db->rowCount("T"), 1u);
    EXPECT_THROW(openWritable(p), Error);
    db.reset();
    EXPECT_FALSE(fs::exists(dir / "lazy.ldb"));
    EXPECT_EQ(readerRows(p, "T"), (Rows{{"7"}}));
}

TEST(Batches, ARefusedCallInsideABatchKeepsTheRestOfTheBatch) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "batch.accdb");
    auto db = openWritable(p);
    db->createTable({"T", {col("K", CT::Long), col("S", CT::VarChar, 3)}, {{"PrimaryKey", {"K"}, true, false}}});
    db->beginBatch();
    db->append("T", std::vector<Value>{Value::longInt(1), Value::string("a")});
    EXPECT_THROW(db->append("T", std::vector<Value>{Value::longInt(1), Value::string("b")}), Error);     // duplicate
    EXPECT_THROW(db->append("T", std::vector<Value>{Value::longInt(2), Value::string("long")}), Error);  // too long
    EXPECT_THROW(db->createTable({"U", {col("A", CT::Long)}, {{"I", {"Nope"}, false, false}}}), Error); // bad index
    EXPECT_THROW(db->createView("Q", "SELECT FROM WHERE"), Error);
    db->append("T", std::vector<Value>{Value::longInt(2), Value::string("c")});
    db->endBatch();
    db.reset();
    EXPECT_EQ(readerRows(p, "T"), (Rows{{"1", "a"}, {"2", "c"}}));
    EXPECT_EQ(mdbTables(p), std::vector<std::string>{"T"});
}
