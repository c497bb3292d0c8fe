// Index keys (against byte strings taken from Access-made files) and index
// trees after many inserts and deletes, checked page by page.
#include "jet/index_keys.h"
#include "jet/write_model.h"
#include "jet/write_pages.h"
#include "index_check.h"
#include "jetw_checks.h"
#include "mdbreader_check.h"
#include "sql/executor.h"

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <sstream>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

jet::WColumn column(std::uint8_t type, std::uint8_t sortVersion = 0, std::uint8_t scale = 0) {
    jet::WColumn c;
    c.name = "c";
    c.raw[0] = type;
    if (type == jet::kNumeric) {
        c.raw[11] = 28;
        c.raw[12] = scale;
    } else {
        jet::put16(&c.raw[11], 1033);
        c.raw[14] = sortVersion;
    }
    return c;
}

std::string key(std::uint8_t type, const Value& v, bool asc = true, std::uint8_t sortVersion = 0) {
    std::string out;
    jet::appendKeySegment(column(type, sortVersion), asc, v, false, out);
    return hex(out);
}

} // namespace

TEST(IndexKeys, NumbersAsAccessEncodesThem) {
    EXPECT_EQ(key(jet::kLong, Value::longInt(1)), "7F80000001");
    EXPECT_EQ(key(jet::kLong, Value::longInt(-1)), "7F7FFFFFFF");
    EXPECT_EQ(key(jet::kLong, Value::longInt(1), false), "807FFFFFFE");
    EXPECT_EQ(key(jet::kInteger, Value::integer(258)), "7F8102");
    EXPECT_EQ(key(jet::kByte, Value::byte(5)), "7F05");
    EXPECT_EQ(key(jet::kByte, Value::byte(5), false), "80FA");
    EXPECT_EQ(key(jet::kCurrency, Value::currency(15000)), "7F8000000000003A98");
    EXPECT_EQ(key(jet::kDouble, Value::dbl(1.5)), "7FBFF8000000000000");
    EXPECT_EQ(key(jet::kDouble, Value::dbl(-1.5)), "7F4007FFFFFFFFFFFF");
    EXPECT_EQ(key(jet::kDouble, Value::dbl(1.5), false), "804007FFFFFFFFFFFF");
    EXPECT_EQ(key(jet::kDouble, Value::dbl(-1.5), false), "80BFF8000000000000");
    EXPECT_EQ(key(jet::kSingle, Value::single(0.0f)), "7F80000000");
    EXPECT_EQ(key(jet::kBoolean, Value::boolean(true)), "7F00");
    EXPECT_EQ(key(jet::kBoolean, Value::boolean(false)), "7FFF");
    EXPECT_EQ(key(jet::kBoolean, Value::boolean(true), false), "80FF");
    EXPECT_EQ(key(jet::kLong, Value::null()), "00");
    EXPECT_EQ(key(jet::kLong, Value::null(), false), "FF");
    // Object ids of queries (negative) sort before tables.
    EXPECT_LT(key(jet::kLong, Value::longInt(std::int32_t(0x80000000u))), key(jet::kLong, Value::longInt(2)));
}

TEST(IndexKeys, BinaryGuidAndDecimal) {
    EXPECT_EQ(key(jet::kBinary, Value::binary("\xAA\xBB\xCC")), "7FAABBCC000000000003");
    EXPECT_EQ(key(jet::kBinary, Value::binary("\xAA\xBB\xCC"), false), "80554433FFFFFFFFFFFC");
    EXPECT_EQ(key(jet::kBinary, Value::binary(std::string("\x00\x00\x00\x01", 4))), "7F000000010000000004");
    EXPECT_EQ(key(jet::kGuid, Value::guid(*Guid::parse("{01234567-89AB-CDEF-0011-223344556677}"))),
              "7F0123456789ABCDEF09001122334455667708");
    std::string out;
    jet::appendKeySegment(column(jet::kNumeric, 0, 1), true, Value::decimal(*Decimal::parse("1.5")), false, out);
    EXPECT_EQ(hex(out), "7FFF" + std::string(30, '0') + "0F");
}

TEST(IndexKeys, TextInGeneralLegacyOrder) {
    auto t = [](const std::string& s, bool asc = true) { return key(jet::kText, Value::string(s), asc); };
    EXPECT_EQ(t("abc"), "7F4A4C4D0100");
    EXPECT_EQ(t("ABC  "), t("abc")); // case and trailing spaces are ignored
    EXPECT_EQ(t("é"), "7F51010E00");
    EXPECT_EQ(t("Aé"), "7F4A5101020E00");
    EXPECT_EQ(t("Ünï"), "7F6F62590113021300");
    EXPECT_EQ(t("a-b"), "7F4A4C01010101800B068200");
    EXPECT_EQ(t(std::string("a\x01") + "b"), "7F4A4C01010101800B060300");
    EXPECT_EQ(t(""), "7F0100");
    EXPECT_EQ(t("abc", false), "80B5B3B2FEFF00");
    EXPECT_EQ(t("ぁあ"), "7F7F027F02010101A0FF0280FF8000");
    EXPECT_EQ(t("😀"), "7FB03FB6FC013F3F00");
    // The catalog entry of MSysObjects itself, as Access wrote it in a Jet 4 file.
    std::string k;
    jet::appendKeySegment(column(jet::kLong), true, Value::longInt(0x0F000001), false, k);
    jet::appendKeySegment(column(jet::kText), true, Value::string("MSysObjects"), false, k);
    EXPECT_EQ(hex(k), "7F8F0000017F606B766B644C5B514D6D6B0100");
}

TEST(IndexKeys, TextInTheGeneralOrderOfAccess2010) {
    auto t = [](const std::string& s) { return key(jet::kText, Value::string(s), true, 1); };
    EXPECT_EQ(t("abc"), "7F0E020E090E0A0100");
    EXPECT_EQ(t("é"), "7F0E21010E00");
    EXPECT_EQ(t("a-b"), "7F0E020E0901010101800B068200");
    EXPECT_EQ(t("MSysObjects"), "7F0E510E910EA70E910E7C0E090E350E210E0A0E990E910100");
}

// ---- trees ----

namespace {

// TDEF page and definition of a table, read from the file.
jet::TableDefinition definitionOf(const fs::path& p, const std::string& table) {
    std::uint32_t tdef = 0;
    for (const auto& r : mdbExport(p, "MSysObjects"))
        if (r[2] == table) tdef = std::uint32_t(std::stoul(r[0]));
    EXPECT_NE(tdef, 0u);
    jet::PageStore store(p.string(), "");
    return jet::readDefinition(store, tdef, table);
}

// Pages of each physical index's tree (root, intermediate pages, leaves).
std::vector<std::size_t> treePages(const fs::path& p, const std::string& table) {
    const jet::TableDefinition def = definitionOf(p, table);
    std::vector<std::size_t> out;
    for (const auto& r : def.realIndexes) {
        TreeCheck check(p.string(), def.page);
        check.walk(r.rootPage);
        out.push_back(check.pages().size());
    }
    return out;
}

// Pages the global usage map (page 1, row 0, inline) marks free inside the file.
std::size_t freePages(const fs::path& p) {
    const std::string f = qm::test::readFile(p);
    const auto* b = reinterpret_cast<const std::uint8_t*>(f.data()) + 4096;
    const std::size_t row0 = (b[14] | b[15] << 8) & 0x1FFF;
    EXPECT_EQ(b[row0], 0x00) << "the global map is not inline";
    const std::uint32_t start = jet::u32(b + row0 + 1);
    const std::size_t pages = f.size() / 4096;
    std::size_t n = 0;
    for (std::size_t bit = 0; bit < (4096 - row0 - 5) * 8 && start + bit < pages; ++bit)
        n += (b[row0 + 5 + bit / 8] >> (bit % 8)) & 1;
    return n;
}

std::string partName(int id) { return "part number " + std::to_string(id) + std::string(std::size_t(20 + id % 30), 'x'); }

} // namespace

class IndexTrees : public ::testing::TestWithParam<const char*> {};

TEST_P(IndexTrees, StayValidThroughInsertsDeletesAndUpdatesInRandomOrder) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, GetParam());
    std::mt19937 rng(12345);
    std::vector<int> ids(6000);
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = int(i) * 3;
    std::shuffle(ids.begin(), ids.end(), rng);
    std::map<int, std::uint64_t> rowOf;
    {
        auto db = openWritable(p);
        storage::TableSpec t{"Parts", {col("Code", CT::Long), col("Name", CT::VarChar, 120), col("Price", CT::Currency)}, {}};
        t.indexes = {{"PrimaryKey", {"Code"}, true, false}, {"ByName", {"Name"}, false, false},
                     {"ByPrice", {"Price", "Name"}, false, false}};
        db->createTable(t);
        db->beginBatch();
        for (int id : ids)
            db->append("Parts", std::vector<Value>{Value::longInt(id),
                                                   Value::string(std::string(std::size_t(id % 40), 'n') + "part " +
                                                                 std::to_string(id % 500)),
                                                   Value::currency(id % 97)});
        db->endBatch();
        auto c = db->scan("Parts");
        while (c->next()) rowOf[int(c->value(0).rawInt())] = c->rowId();
        // Delete two thirds in random order, then change some of the rest.
        db->beginBatch();
        std::shuffle(ids.begin(), ids.end(), rng);
        for (std::size_t i = 0; i < 4000; ++i) db->remove("Parts", rowOf[ids[i]]);
        for (std::size_t i = 4000; i < 4500; ++i)
            db->update("Parts", rowOf[ids[i]],
                       std::vector<Value>{Value(), Value::string("renamed " + std::to_string(ids[i]) +
                                                                 std::string(60, 'z'))});
        db->endBatch();
    }
    checkIndexes(p, "Parts", 2000);
    EXPECT_EQ(mdbExport(p, "Parts").size(), 2000u);
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexTrees, ::testing::Values("tree.mdb", "tree.accdb"));

TEST(IndexTrees, DeletingEveryRowLeavesAnEmptyRootAndFreesThePages) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "empty.mdb");
    {
        auto db = openWritable(p);
        db->createTable({"T", {col("K", CT::Long)}, {{"PrimaryKey", {"K"}, true, false}}});
        db->beginBatch();
        for (int i = 0; i < 3000; ++i) db->append("T", std::vector<Value>{Value::longInt(i)});
        db->endBatch();
        std::vector<std::uint64_t> rows;
        auto c = db->scan("T");
        while (c->next()) rows.push_back(c->rowId());
        db->beginBatch();
        for (auto r : rows) db->remove("T", r);
        db->endBatch();
    }
    checkIndexes(p, "T", 0);
}

TEST(IndexMerge, HeavyDeletesMergeThinPagesAndEveryRemainingRowIsFound) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "merge.mdb");
    const int n = 20000; // long text keys: three levels in the name index
    std::vector<int> ids(n);
    for (int i = 0; i < n; ++i) ids[std::size_t(i)] = i;
    std::mt19937 rng(99);
    std::map<int, std::uint64_t> rowOf;
    {
        auto db = openWritable(p);
        storage::TableSpec t{"Parts", {col("Code", CT::Long), col("Name", CT::VarChar, 120)}, {}};
        t.indexes = {{"PrimaryKey", {"Code"}, true, false}, {"Name", {"Name"}, false, true}};
        db->createTable(t);
        std::shuffle(ids.begin(), ids.end(), rng);
        db->beginBatch();
        for (int id : ids) db->append("Parts", std::vector<Value>{Value::longInt(id), Value::string(partName(id))});
        db->endBatch();
        auto c = db->scan("Parts");
        while (c->next()) rowOf[int(c->value(0).rawInt())] = c->rowId();
    }
    {
        SCOPED_TRACE("after the fill in random order");
        checkIndexes(p, "Parts", std::size_t(n));
    }
    const std::vector<std::size_t> before = treePages(p, "Parts");
    ASSERT_GT(before[1], 300u);
    // Levels below the root of the name index: the root's first child is intermediate or a leaf.
    auto nameLevels = [&] {
        const jet::TableDefinition def = definitionOf(p, "Parts");
        TreeCheck tree(p.string(), def.page);
        const std::uint32_t root = def.realIndexes[1].rootPage;
        if (tree.pageType(root) == 4) return 0;
        return tree.pageType(tree.children(root).front()) == 3 ? 2 : 1;
    };
    ASSERT_EQ(nameLevels(), 2);
    std::set<int> kept;
    {
        auto db = openWritable(p);
        db->beginBatch();
        // The lowest quarter in key order (the left edge of both trees empties
        // page after page), then all but every tenth of the rest at random.
        for (int id = 0; id < n / 4; ++id) db->remove("Parts", rowOf[id]);
        std::shuffle(ids.begin(), ids.end(), rng);
        for (int id : ids) {
            if (id < n / 4) continue;
            if (id % 10 == 0) kept.insert(id);
            else db->remove("Parts", rowOf[id]);
        }
        db->endBatch();
    }
    checkIndexes(p, "Parts", kept.size());
    const std::vector<std::size_t> after = treePages(p, "Parts");
    EXPECT_EQ(nameLevels(), 1) << "the root, left with one child, did not take its place";
    for (std::size_t i = 0; i < after.size(); ++i) {
        // Without merging every page would still be there, a tenth full.
        EXPECT_LT(after[i] * 3, before[i]) << "index " << i << ": " << before[i] << " -> " << after[i] << " pages";
    }
    // Every row is found through both indexes: its keys count as duplicates.
    auto db = openWritable(p);
    for (int id : kept) {
        if (id % 70 != 0) continue;
        EXPECT_THROW(db->append("Parts", std::vector<Value>{Value::longInt(id), Value::string("other")}), Error) << id;
        EXPECT_THROW(db->append("Parts", std::vector<Value>{Value::longInt(n + id), Value::string(partName(id))}), Error)
            << id;
    }
    // And the merged trees take new rows in the gaps and at both ends.
    db->beginBatch();
    for (int id : {-5, 1, 7777, n - 1, n + 3})
        db->append("Parts", std::vector<Value>{Value::longInt(id), Value::string(partName(id))});
    db->endBatch();
    db.reset();
    checkIndexes(p, "Parts", kept.size() + 5);
    EXPECT_EQ(mdbExport(p, "Parts").size(), kept.size() + 5);
}

TEST(IndexTrees, TheLastEntryOfATailLeafChangesItsGrandparentsEntryToo) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "deep.mdb");
    // Keys of about 110 bytes: some 30 to a page, three levels at 3,000 rows.
    auto name = [](int i) {
        const std::string digits = std::to_string(100000 + i);
        return "name " + digits + std::string(100, 'k');
    };
    {
        auto db = openWritable(p);
        db->createTable({"Deep", {col("N", CT::Long), col("Name", CT::VarChar, 120)},
                         {{"Name", {"Name"}, false, false}}});
        db->beginBatch();
        for (int i = 0; i < 3000; ++i) db->append("Deep", std::vector<Value>{Value::longInt(i), Value::string(name(i))});
        db->endBatch();
    }
    // The root's first child is an intermediate page named by a stored entry;
    // the root's entry repeats the last entry of that page's tail leaf.
    const jet::TableDefinition def = definitionOf(p, "Deep");
    TreeCheck tree(p.string(), def.page);
    const std::uint32_t root = def.realIndexes[0].rootPage;
    ASSERT_EQ(tree.pageType(root), 3);
    const std::vector<std::uint32_t> top = tree.children(root);
    ASSERT_GE(top.size(), 2u);
    ASSERT_EQ(tree.pageType(top[0]), 3) << "the tree is not three levels deep";
    const std::uint32_t tailLeaf = tree.children(top[0]).back();
    const std::vector<Entry> leaf = tree.leafEntries(tailLeaf);
    ASSERT_GT(leaf.size(), 12u); // one entry less does not make the page thin
    // Deleting that row changes the last entry of the page and of the root.
    openWritable(p)->remove("Deep", std::uint64_t(leaf.back().page) << 8 | leaf.back().row);
    checkIndexes(p, "Deep", 2999);
}

TEST(IndexMerge, RowsDeletedThenAddedAgainGoIntoTheFreedPages) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "refill.accdb");
    auto fill = [](storage::Database& db, int from, int to) {
        db.beginBatch();
        for (int id = from; id < to; ++id)
            db.append("Parts", std::vector<Value>{Value::longInt(id), Value::string(partName(id))});
        db.endBatch();
    };
    std::vector<std::uint64_t> rows;
    {
        auto db = openWritable(p);
        db->createTable({"Parts", {col("Code", CT::Long), col("Name", CT::VarChar, 120)},
                         {{"PrimaryKey", {"Code"}, true, false}, {"Name", {"Name"}, false, false}}});
        fill(*db, 0, 6000);
        auto c = db->scan("Parts");
        while (c->next())
            if (c->value(0).rawInt() % 8 != 0) rows.push_back(c->rowId());
        c.reset();
        db->beginBatch();
        for (auto r : rows) db->remove("Parts", r);
        db->endBatch();
    }
    const std::size_t freed = freePages(p);
    EXPECT_GT(freed, 50u) << "emptied data pages and merged index pages go back to the free pages";
    const auto sizeAfterDelete = fs::file_size(p);
    // What the same rows take in a database of their own.
    const fs::path fresh = newDatabase(dir, "fresh.accdb");
    std::uintmax_t freshGrowth = 0;
    {
        auto db = openWritable(fresh);
        db->createTable({"Parts", {col("Code", CT::Long), col("Name", CT::VarChar, 120)},
                         {{"PrimaryKey", {"Code"}, true, false}, {"Name", {"Name"}, false, false}}});
        const auto empty = fs::file_size(fresh);
        fill(*db, 6000, 6000 + int(rows.size()));
        freshGrowth = fs::file_size(fresh) - empty;
    }
    fill(*openWritable(p), 6000, 6000 + int(rows.size()));
    EXPECT_EQ(freePages(p), 0u) << "every freed page was taken again";
    EXPECT_LT(fs::file_size(p) - sizeAfterDelete, freshGrowth);
    checkIndexes(p, "Parts", 6000);
    EXPECT_EQ(readerRows(p, "Parts").size(), 6000u);
}

TEST(Uniqueness, DuplicatesAreRefusedAndLeaveNothingBehind) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "unique.accdb");
    auto db = openWritable(p);
    storage::TableSpec t{"People", {col("ID", CT::Long, 0, true), col("Email", CT::VarChar, 80), col("Notes", CT::Memo)}, {}};
    t.indexes = {{"PrimaryKey", {"ID"}, true, false}, {"Email", {"Email"}, false, true}};
    db->createTable(t);
    db->append("People", std::vector<Value>{Value(), Value::string("ann@example.com"), Value::string("first")});
    const auto sizeBefore = fs::file_size(p);
    // Same address in other letter case and with trailing spaces: a duplicate for Access too.
    for (const char* email : {"ann@example.com", "ANN@Example.com", "ann@example.com   "}) {
        try {
            db->append("People", std::vector<Value>{Value(), Value::string(email), Value::string(std::string(9000, 'x'))});
            ADD_FAILURE() << "duplicate accepted: " << email;
        } catch (const Error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("would create duplicate values in the index, primary key, or relationship"), std::string::npos) << m;
            EXPECT_NE(m.find("People"), std::string::npos) << m;
            EXPECT_NE(m.find("Email"), std::string::npos) << m;
        }
    }
    // A primary key given twice.
    EXPECT_THROW(db->append("People", std::vector<Value>{Value::longInt(1), Value::string("bob@example.com")}), Error);
    // A primary key cannot be Null.
    try {
        db->append("People", std::vector<Value>{Value::null(), Value::string("carl@example.com")});
        // Null is not "not given": the AutoNumber is not assigned for an explicit Null.
        ADD_FAILURE() << "Null primary key accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Index or primary key cannot contain a Null value"), std::string::npos)
            << e.what();
    }
    // Several Nulls are fine in a unique index that is not the key.
    db->append("People", std::vector<Value>{Value(), Value::null()});
    db->append("People", std::vector<Value>{Value(), Value::null()});
    EXPECT_EQ(db->rowCount("People"), 3u);
    EXPECT_EQ(fs::file_size(p), sizeBefore); // the refused memos wrote no pages
    db.reset();
    const Rows rows = mdbExport(p, "People");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "ann@example.com");
    EXPECT_EQ(rows[1][0], "2"); // refused rows did not use up AutoNumbers
    checkIndexes(p, "People", 3);
}

TEST(Uniqueness, AnUpdateMayNotCreateADuplicateEither) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "update.mdb");
    auto db = openWritable(p);
    db->createTable({"Codes", {col("Code", CT::VarChar, 10), col("N", CT::Long)}, {{"PrimaryKey", {"Code"}, true, false}}});
    db->append("Codes", std::vector<Value>{Value::string("A"), Value::longInt(1)});
    db->append("Codes", std::vector<Value>{Value::string("B"), Value::longInt(2)});
    std::uint64_t second = 0;
    auto c = db->scan("Codes");
    while (c->next())
        if (c->value(0).rawString() == "B") second = c->rowId();
    c.reset();
    EXPECT_THROW(db->update("Codes", second, std::vector<Value>{Value::string("a")}), Error);
    db->update("Codes", second, std::vector<Value>{Value::string("B"), Value::longInt(20)}); // its own key is fine
    db->update("Codes", second, std::vector<Value>{Value::string("C")});
    db.reset();
    const Rows rows = readerRows(p, "Codes");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1][0], "C");
    EXPECT_EQ(rows[1][1], "20");
    checkIndexes(p, "Codes", 2);
}

// ---- indexes added to and dropped from tables that hold rows ----

namespace {

// The index lines mdb-schema prints for a table (its MySQL form names each
// index with its columns): "INDEX `Name` (`Name`)", "PRIMARY KEY (`ID`)".
std::vector<std::string> mdbSchemaIndexes(const fs::path& p, const std::string& table) {
    const auto r = qm::test::run({"mdb-schema", "--indexes", "--no-relations", "-T", table, p.string(), "mysql"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        const auto at = line.find(" ADD ");
        if (line.rfind("ALTER TABLE", 0) != 0 || at == std::string::npos || line.find("FOREIGN KEY") != std::string::npos)
            continue;
        std::string rest = line.substr(at + 5);
        while (!rest.empty() && rest.back() == ';') rest.pop_back();
        out.push_back(rest);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void runAccess(storage::Database& db, const std::string& sqlText) {
    sql::Executor ex(db, sql::Dialect::Access);
    ex.runScript(sqlText);
}

std::string refusal(storage::Database& db, const std::string& sqlText) {
    try {
        runAccess(db, sqlText);
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "accepted: " << sqlText;
    return {};
}

void fillParts(storage::Database& db, int rows) {
    db.createTable({"Parts", {col("ID", CT::Long), col("Name", CT::VarChar, 80), col("Qty", CT::Long), col("Price", CT::Currency)}, {}});
    std::mt19937 rng(7);
    db.beginBatch();
    for (int i = 0; i < rows; ++i) {
        const int id = int((std::uint32_t(i) * 2654435761u) % 1000003u); // distinct, in no order
        db.append("Parts", std::vector<Value>{Value::longInt(id), Value::string(partName(int(rng() % 5000))),
                                              Value::longInt(std::int32_t(rng() % 100)), Value::currency(std::int64_t(i) * 100)});
    }
    db.endBatch();
}

} // namespace

class IndexDdl : public ::testing::TestWithParam<const char*> {};

TEST_P(IndexDdl, IndexesBuiltOverRowsAgreeWithTheRowsForEveryReader) {
    QM_REQUIRE_PROGRAM("mdb-export");
    QM_REQUIRE_PROGRAM("mdb-schema");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, GetParam());
    const int n = 20000;
    {
        auto db = openWritable(p);
        fillParts(*db, n);
        runAccess(*db, "CREATE INDEX ixName ON Parts (Name);\n"
                       "CREATE UNIQUE INDEX ixId ON Parts (ID DESC);\n"
                       "ALTER TABLE Parts ADD CONSTRAINT pkParts PRIMARY KEY (ID);\n"
                       "CREATE INDEX ixQtyName ON Parts (Qty, Name DESC) WITH DISALLOW NULL;");
        const auto listed = db->indexes("Parts");
        ASSERT_EQ(listed.size(), 4u);
        EXPECT_EQ(listed[0].name, "pkParts");
        EXPECT_TRUE(listed[0].primaryKey);
        EXPECT_EQ(listed[3].columns, (std::vector<std::string>{"Qty", "Name"}));
        EXPECT_EQ(listed[3].descending, (std::vector<bool>{false, true}));
    }
    // Each tree holds one entry per row, in key order, in well-formed pages.
    checkIndexes(p, "Parts", n);
    EXPECT_EQ(mdbSchemaIndexes(p, "Parts"),
              (std::vector<std::string>{"INDEX `ixName` (`Name`)", "INDEX `ixQtyName` (`Qty`, `Name` DESC)",
                                        "PRIMARY KEY (`ID`)", "UNIQUE INDEX `ixId` (`ID` DESC)"}));
    EXPECT_EQ(mdbExport(p, "Parts").size(), std::size_t(n));
    {
        auto db = openWritable(p);
        // The keys hold afterwards: a duplicate is refused with the key named.
        auto c = db->scan("Parts");
        ASSERT_TRUE(c->next());
        const std::int32_t taken = std::int32_t(c->value(0).rawInt());
        c.reset();
        const std::string m = refusal(*db, "INSERT INTO Parts (ID, Name, Qty) VALUES (" + std::to_string(taken) + ", 'new', 1)");
        EXPECT_NE(m.find("would create duplicate values"), std::string::npos) << m;
        EXPECT_NE(m.find("ID = '" + std::to_string(taken) + "'"), std::string::npos) << m;
        EXPECT_NE(refusal(*db, "INSERT INTO Parts (ID, Name) VALUES (5, 'no quantity')").find("cannot contain a Null"),
                  std::string::npos);
        runAccess(*db, "INSERT INTO Parts (ID, Name, Qty) VALUES (-1, 'new', 1)");
    }
    checkIndexes(p, "Parts", n + 1);
    const std::size_t freeBefore = freePages(p);
    {
        auto db = openWritable(p);
        runAccess(*db, "DROP INDEX ixName ON Parts;\nALTER TABLE Parts DROP CONSTRAINT pkParts;");
        EXPECT_NE(refusal(*db, "DROP INDEX ixName ON Parts").find("no index"), std::string::npos);
        // The physical index the primary key had stays for ixId, which shares nothing with it.
        EXPECT_EQ(db->indexes("Parts").size(), 2u);
    }
    checkIndexes(p, "Parts", n + 1);
    EXPECT_EQ(mdbSchemaIndexes(p, "Parts"),
              (std::vector<std::string>{"INDEX `ixQtyName` (`Qty`, `Name` DESC)", "UNIQUE INDEX `ixId` (`ID` DESC)"}));
    EXPECT_GT(freePages(p), freeBefore + 50) << "the dropped trees' pages are free again";
    // mdb-reader reads the same rows as our reader.
    const std::string why = mdbReaderMissing();
    if (why.empty()) {
        auto dump = mdbReaderDump(p, {"Parts"});
        normalizeMdbReaderRows(dump.data["Parts"]);
        EXPECT_EQ(dump.data["Parts"].rows, readerRowsAsMdbReader(p, "Parts"));
    }
}
INSTANTIATE_TEST_SUITE_P(Formats, IndexDdl, ::testing::Values("ddl.mdb", "ddl.accdb"));

TEST(IndexDdl, KeysThatTheRowsBreakAreRefusedAndTheFileIsLeftAsItWas) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "refuse.mdb");
    auto db = openWritable(p);
    db->createTable({"Kinds", {col("ID", CT::Long), col("Name", CT::VarChar, 40)}, {}});
    runAccess(*db, "INSERT INTO Kinds VALUES (1, 'Bolt');\nINSERT INTO Kinds VALUES (2, 'Nut');\n"
                   "INSERT INTO Kinds VALUES (3, 'bolt');\nINSERT INTO Kinds VALUES (Null, 'Washer');");
    const std::string before = qm::test::readFile(p);
    // Access compares text ignoring case: 'Bolt' and 'bolt' are the same key.
    std::string m = refusal(*db, "CREATE UNIQUE INDEX ixName ON Kinds (Name)");
    EXPECT_NE(m.find("ixName"), std::string::npos) << m;
    EXPECT_TRUE(m.find("Name = 'Bolt'") != std::string::npos || m.find("Name = 'bolt'") != std::string::npos) << m;
    EXPECT_NE(m.find("Kinds"), std::string::npos) << m;
    m = refusal(*db, "ALTER TABLE Kinds ADD CONSTRAINT pk PRIMARY KEY (ID)");
    EXPECT_NE(m.find("ID = Null"), std::string::npos) << m;
    EXPECT_NE(refusal(*db, "CREATE INDEX ixID ON Kinds (ID) WITH DISALLOW NULL").find("Null"), std::string::npos);
    EXPECT_NE(refusal(*db, "CREATE INDEX ixX ON Kinds (Missing)").find("Missing"), std::string::npos);
    EXPECT_NE(refusal(*db, "CREATE INDEX ixX ON Nowhere (ID)").find("Nowhere"), std::string::npos);
    EXPECT_EQ(qm::test::readFile(p), before);
    // With the Null and the duplicate gone the same keys are made.
    runAccess(*db, "DELETE FROM Kinds WHERE ID Is Null OR ID = 3;\n"
                   "CREATE UNIQUE INDEX ixName ON Kinds (Name);\n"
                   "ALTER TABLE Kinds ADD CONSTRAINT pk PRIMARY KEY (ID), CONSTRAINT uq UNIQUE (Name, ID);");
    EXPECT_NE(refusal(*db, "ALTER TABLE Kinds ADD CONSTRAINT pk2 PRIMARY KEY (Name)").find("already has a primary key"),
              std::string::npos);
    EXPECT_NE(refusal(*db, "INSERT INTO Kinds VALUES (7, 'NUT')").find("ixName"), std::string::npos);
    db.reset();
    checkIndexes(p, "Kinds", 2);
}

TEST(IndexDdl, IgnoreNullLeavesNullRowsOutOfTheTree) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "ignore.accdb");
    auto db = openWritable(p);
    db->createTable({"T", {col("ID", CT::Long), col("Code", CT::VarChar, 10)}, {}});
    runAccess(*db, "INSERT INTO T VALUES (1, 'a');\nINSERT INTO T VALUES (2, Null);\nINSERT INTO T VALUES (3, Null);\n"
                   "CREATE UNIQUE INDEX ixCode ON T (Code) WITH IGNORE NULL;");
    runAccess(*db, "INSERT INTO T VALUES (4, Null)");
    EXPECT_NE(refusal(*db, "INSERT INTO T VALUES (5, 'A')").find("ixCode"), std::string::npos);
    db.reset();
    const jet::TableDefinition def = definitionOf(p, "T");
    ASSERT_EQ(def.realIndexes.size(), 1u);
    TreeCheck check(p.string(), def.page);
    EXPECT_EQ(check.walk(def.realIndexes[0].rootPage).size(), 1u);
    EXPECT_EQ(jet::u32(def.realIndexes[0].stats.data()), 1u);
}

TEST(IndexDdl, AFixturesKeysAreListedAsMdbtoolsReadsThemAndANewIndexJoinsThem) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-schema");
    qm::test::TempDir dir;
    const fs::path p = writableCopy(dir, qm::test::fixture("access/mdbtestdata/ASampleDatabase.accdb"));
    const std::string table = "Asset Items";
    const std::vector<std::string> before = mdbSchemaIndexes(p, table);
    ASSERT_FALSE(before.empty());
    const Rows rowsBefore = mdbExport(p, table);
    auto db = openWritable(p);
    std::vector<std::string> ours;
    for (const auto& ix : db->indexes(table)) {
        std::string cols;
        for (const auto& c : ix.columns) cols += (cols.empty() ? "`" : ", `") + c + "`";
        ours.push_back(ix.primaryKey ? "PRIMARY KEY (" + cols + ")"
                                     : std::string(ix.unique ? "UNIQUE " : "") + "INDEX `" + ix.name + "` (" + cols + ")");
    }
    std::sort(ours.begin(), ours.end());
    EXPECT_EQ(ours, before);
    runAccess(*db, "CREATE INDEX ixMake ON [Asset Items] (Make, Cost DESC)");
    db.reset();
    std::vector<std::string> expected = before;
    expected.push_back("INDEX `ixMake` (`Make`, `Cost` DESC)");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(mdbSchemaIndexes(p, table), expected);
    EXPECT_EQ(mdbExport(p, table), rowsBefore);
    const jet::TableDefinition def = definitionOf(p, table);
    checkIndexes(p, table, rowsBefore.size(), int(def.realIndexes.size()) - 1);
    db = openWritable(p);
    runAccess(*db, "DROP INDEX ixMake ON [Asset Items]");
    db.reset();
    EXPECT_EQ(mdbSchemaIndexes(p, table), before);
}
