// Keys carried between the two engines after a table's rows were copied:
// storage::carryIndexes reads the source table's keys and makes them on the
// destination, each built once over the rows.  Every key of the source
// either arrives with the same columns and rules or is named with a reason.
#include "jetw_checks.h"
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/dbf_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

using namespace qm;
using namespace qm::jetw::test;
namespace fs = std::filesystem;

namespace {

// The table's columns and rows, as a transfer copies them.
void copyRows(storage::Database& from, const std::string& table, storage::Database& to, const std::string& as) {
    storage::TableSpec spec;
    spec.name = as;
    for (const auto& c : from.columns(table)) {
        storage::ColumnSpec s;
        s.name = c.name;
        s.type = c.type;
        s.size = c.size;
        s.precision = c.precision;
        s.scale = c.scale;
        s.nullable = c.nullable;
        s.binary = c.binary;
        spec.columns.push_back(s);
    }
    to.createTable(spec);
    to.beginBatch();
    auto cur = from.scan(table);
    std::vector<Value> row(spec.columns.size());
    while (cur->next()) {
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = cur->value(i);
        to.append(as, row);
    }
    to.endBatch();
}

std::string lowerText(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "primary|unique|index (col, col)" per key, lower case, sorted.
std::vector<std::string> shapes(const std::vector<storage::IndexSpec>& keys) {
    std::vector<std::string> out;
    for (const auto& k : keys) {
        std::string s = k.primaryKey ? "primary (" : k.unique ? "unique (" : "index (";
        for (std::size_t i = 0; i < k.columns.size(); ++i) s += (i ? ", " : "") + lowerText(k.columns[i]);
        out.push_back(s + ")");
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Every source key arrived (same shape) or was named in the refusals.
void expectCarried(const std::vector<storage::IndexSpec>& source, const std::vector<storage::IndexSpec>& arrived,
                   const std::vector<storage::IndexRefusal>& refused, bool primaryBecomesUnique = false) {
    std::vector<std::string> want;
    for (auto k : source) {
        const bool wasRefused = std::any_of(refused.begin(), refused.end(), [&](const auto& r) { return r.index == k.name; });
        if (wasRefused) continue;
        if (primaryBecomesUnique && k.primaryKey) k.primaryKey = false, k.unique = true;
        want.push_back(shapes({k}).front());
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(shapes(arrived), want);
    for (const auto& r : refused) EXPECT_FALSE(r.reason.empty()) << r.index;
}

std::vector<std::string> mdbSchemaKeys(const fs::path& p, const std::string& table) {
    const auto r = qm::test::run({"mdb-schema", "--indexes", "--no-relations", "-T", table, p.string(), "mysql"});
    std::vector<std::string> out;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("ALTER TABLE", 0) == 0 && line.find(" ADD ") != std::string::npos) out.push_back(line);
    return out;
}

} // namespace

class CarryKeys : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(CarryKeys, AccessKeysBecomeTagsOfAContainerAndComeBackAsAccessKeys) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-schema");
    const auto [file, table] = GetParam();
    qm::test::TempDir dir;
    storage::OpenOptions ro;
    ro.readOnly = true;
    const fs::path fixture = qm::test::fixture(std::string("access/") + file);
    auto access = storage::openDatabase(fixture.string(), ro);
    const auto source = access->indexes(table);
    ASSERT_FALSE(source.empty());
    ASSERT_TRUE(source.front().primaryKey);

    const std::string dbc = (dir.path() / "shop.dbc").string();
    xbase::Container::create(dbc);
    auto fox = xbase::openContainer(dbc, {});
    copyRows(*access, table, *fox, table);
    const auto refused = storage::carryIndexes(*access, table, *fox, table);
    for (const auto& r : refused) ADD_FAILURE() << "not carried: " << r.index << ": " << r.reason;
    const auto arrived = fox->indexes(table);
    expectCarried(source, arrived, refused);
    // The tags agree with the records, and the container names the primary tag.
    {
        auto c = xbase::Container::open(dbc);
        const auto t = c->findTable(table);
        ASSERT_TRUE(t);
        EXPECT_FALSE(t->primaryKey.empty());
        std::vector<std::string> longNames;
        for (const auto& f : t->fields) longNames.push_back(f.name);
        const auto dbf = xbase::DbfTable::open(t->file);
        for (const auto& p : xbase::StructuralIndex::verify(*dbf, xbase::StructuralIndex::indexPathFor(t->file), longNames))
            ADD_FAILURE() << p;
    }
    // The primary key is enforced afterwards: a copy of the first row is refused.
    {
        auto cur = fox->scan(table);
        ASSERT_TRUE(cur->next());
        std::vector<Value> dup(cur->columns().size());
        for (std::size_t i = 0; i < dup.size(); ++i) dup[i] = cur->value(i);
        cur.reset();
        EXPECT_THROW(fox->append(table, dup), Error);
    }

    // And back: the tags become Access keys again.
    const fs::path back = newDatabase(dir, "back.accdb");
    auto again = openWritable(back);
    copyRows(*fox, table, *again, table);
    const auto refusedBack = storage::carryIndexes(*fox, table, *again, table);
    for (const auto& r : refusedBack) ADD_FAILURE() << "not carried back: " << r.index << ": " << r.reason;
    EXPECT_EQ(shapes(again->indexes(table)), shapes(source));
    again.reset();
    EXPECT_EQ(mdbSchemaKeys(back, table).size(), mdbSchemaKeys(fixture, table).size());
    EXPECT_EQ(mdbExport(back, table).size(), mdbExport(fixture, table).size());
}
INSTANTIATE_TEST_SUITE_P(Fixtures, CarryKeys,
                         ::testing::Values(std::pair{"mdbtestdata/ASampleDatabase.accdb", "Asset Items"},
                                           std::pair{"jackcess/V2010/testV2010.accdb", "Table1"}));

TEST(CarryKeysFree, AFreeTableTakesThePrimaryKeyAsACandidateTag) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    storage::OpenOptions ro;
    ro.readOnly = true;
    auto access = storage::openDatabase(qm::test::fixture("access/mdbtestdata/ASampleDatabase.accdb").string(), ro);
    auto folder = xbase::openFolder(dir.path().string(), {});
    copyRows(*access, "Asset Items", *folder, "assets");
    // Free tables keep short field names ("Asset No" is ASSET_NO): the
    // transfer says which column became which.
    std::vector<std::pair<std::string, std::string>> renamed;
    const auto from = access->columns("Asset Items");
    const auto to = folder->columns("assets");
    for (std::size_t i = 0; i < from.size(); ++i) renamed.push_back({from[i].name, to[i].name});
    EXPECT_NE(storage::carryIndexes(*access, "Asset Items", *folder, "assets").at(0).reason.find("Asset No"),
              std::string::npos);
    const auto refused = storage::carryIndexes(*access, "Asset Items", *folder, "assets", renamed);
    for (const auto& r : refused) ADD_FAILURE() << r.index << ": " << r.reason;
    auto expected = access->indexes("Asset Items");
    for (auto& k : expected)
        for (auto& c : k.columns)
            for (const auto& [a, b] : renamed)
                if (a == c) c = b;
    expectCarried(expected, folder->indexes("assets"), refused, true);
    const auto table = xbase::DbfTable::open((dir.path() / "assets.dbf").string());
    EXPECT_TRUE(xbase::StructuralIndex::verify(*table, xbase::StructuralIndex::indexPathFor(table->path())).empty());
    // An Access 97 table's keys are not read: the carry says so instead of dropping them.
    auto jet3 = storage::openDatabase(qm::test::fixture("access/mdbtestdata/nwind.mdb").string(), ro);
    copyRows(*jet3, "Shippers", *folder, "shippers");
    const auto none = storage::carryIndexes(*jet3, "Shippers", *folder, "shippers");
    ASSERT_EQ(none.size(), 1u);
    EXPECT_NE(none[0].reason.find("Jet 3"), std::string::npos) << none[0].reason;
}

TEST(CarryKeysFox, ContainerTagsArriveInAccessOrAreNamedWithTheReason) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    storage::OpenOptions ro;
    ro.readOnly = true;
    auto fox = storage::openDatabase(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dbc").string(), ro);
    const fs::path p = newDatabase(dir, "north.mdb");
    auto access = openWritable(p);
    std::size_t carried = 0, primaries = 0;
    for (const char* table : {"customers", "orders", "products", "categories"}) {
        SCOPED_TRACE(table);
        const auto source = fox->indexes(table);
        copyRows(*fox, table, *access, table);
        const auto refused = storage::carryIndexes(*fox, table, *access, table);
        const auto arrived = access->indexes(table);
        expectCarried(source, arrived, refused);
        carried += arrived.size();
        for (const auto& k : arrived) primaries += k.primaryKey;
        for (const auto& r : refused) std::cout << "  " << table << "." << r.index << ": " << r.reason << "\n";
    }
    EXPECT_GE(primaries, 3u) << "the container's primary tags arrive as primary keys";
    EXPECT_GT(carried, primaries);
    access.reset();
    EXPECT_FALSE(mdbSchemaKeys(p, "customers").empty());
    EXPECT_FALSE(mdbExport(p, "customers").empty());
}
