// Keeping structural indexes in step with appended, changed and deleted
// records, and refusing writes whose keys cannot be computed exactly.
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/dbf_table.h"
#include "value/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace qm::xbase;
using qm::Value;

namespace {

void copyStem(const fs::path& file, const fs::path& to) {
    for (const auto& e : fs::directory_iterator(file.parent_path()))
        if (e.path().stem() == file.stem()) fs::copy_file(e.path(), to / e.path().filename());
}

std::vector<std::string> longNames(const fs::path& dbc, const std::string& table) {
    std::vector<std::string> names;
    const auto t = Container::open(dbc.string())->findTable(table);
    for (const auto& f : t->fields) names.push_back(f.name);
    return names;
}

std::string firstProblem(const std::vector<std::string>& p) { return p.empty() ? std::string() : p.front(); }

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const qm::Error& e) {
        return e.what();
    }
    return {};
}

} // namespace

class CdxMaintain : public ::testing::Test {
protected:
    void SetUp() override {
        if (qm::test::sharedDir().empty()) GTEST_SKIP() << "the shared fixtures folder (../shared) is not present here";
        const fs::path nw = qm::test::fixture("xbase/vfpx-samples/Northwind");
        for (const char* t : {"northwind", "customers", "orders"}) copyStem(nw / (std::string(t) + ".dbf"), tmp.path());
    }
    qm::test::TempDir tmp;
};

TEST_F(CdxMaintain, AppendUpdateAndDeleteKeepEveryTagInStep) {
    const std::string path = (tmp / "customers.dbf").string();
    const auto names = longNames(tmp / "northwind.dbc", "customers");
    auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
    StructuralIndex index(*table, names);
    const std::uint32_t before = table->recordCount();
    table->begin();
    for (int i = 0; i < 300; ++i) {
        std::vector<Value> row(table->fields().size());
        row[0] = Value::string("N" + std::to_string(1000 + i)); // customerid C(5)
        row[1] = Value::string(i % 2 ? "Éclair Ltd" : "zebra co");
        if (i % 3 == 0) row[5] = Value::string("Århus");     // city; others stay null
        table->append(row);
    }
    table->commit();
    auto problems = StructuralIndex::verify(*table, StructuralIndex::indexPathFor(path), names);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);

    // A changed key and a deleted record.
    std::vector<Value> row(table->fields().size());
    row[0] = Value::string("AAAAA");
    row[1] = Value::string("first now");
    table->update(before + 5, row);
    table->setDeleted(2, true);
    problems = StructuralIndex::verify(*table, StructuralIndex::indexPathFor(path), names);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
    const CdxFile cdx = CdxFile::open(StructuralIndex::indexPathFor(path));
    const auto ids = cdx.keys(*cdx.findTag("CUSTOMERID"), ' ');
    ASSERT_EQ(ids.size(), before + 300);
    EXPECT_EQ(ids.front().key, "AAAAA");
    EXPECT_EQ(ids.front().recno, before + 5);
}

TEST_F(CdxMaintain, DuplicateInACandidateTagIsRefusedAndNothingChanges) {
    const std::string path = (tmp / "customers.dbf").string();
    const std::string cdxPath = StructuralIndex::indexPathFor(path);
    const std::string dbfBefore = qm::test::readFile(path), cdxBefore = qm::test::readFile(cdxPath);
    {
        auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        StructuralIndex index(*table, longNames(tmp / "northwind.dbc", "customers"));
        std::vector<Value> row(table->fields().size());
        row[0] = Value::string("ALFKI");
        const std::string err = errorOf([&] { table->append(row); });
        EXPECT_NE(err.find("CUSTOMERID"), std::string::npos) << err;
        EXPECT_NE(err.find("ALFKI"), std::string::npos) << err;
        EXPECT_EQ(table->recordCount(), 91u);
    }
    EXPECT_EQ(qm::test::readFile(path), dbfBefore);
    EXPECT_EQ(qm::test::readFile(cdxPath), cdxBefore);
}

TEST_F(CdxMaintain, UnknownCollationIsRefusedNamingTheTag) {
    const fs::path cov = qm::test::fixture("xbase/vfpx-samples/Solution/Coverage/Demos/SavedCovLog.dbf");
    copyStem(cov, tmp.path());
    const std::string path = (tmp / "SavedCovLog.dbf").string();
    const std::string before = qm::test::readFile(path);
    {
        auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        StructuralIndex index(*table);
        std::vector<Value> row(table->fields().size());
        const std::string err = errorOf([&] { table->append(row); });
        EXPECT_NE(err.find("PINYIN"), std::string::npos) << err;
        EXPECT_NE(err.find("SavedCovLog.cdx, tag"), std::string::npos) << err;
    }
    EXPECT_EQ(qm::test::readFile(path), before);
}

TEST_F(CdxMaintain, IndexThatDisagreesWithItsTableIsNotExtended) {
    // Swap two keys' record numbers behind the table's back: the stored
    // index no longer matches, so a write must refuse rather than build on it.
    const std::string path = (tmp / "orders.dbf").string();
    const std::string cdxPath = StructuralIndex::indexPathFor(path);
    const auto names = longNames(tmp / "northwind.dbc", "orders");
    {
        auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        std::string raw;
        table->readRecord(1, raw);
        std::vector<Value> row(table->fields().size());
        table->decodeField({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, 1, row[1]);
        // Change customerid of record 1 without the index listening.
        std::vector<Value> values(table->fields().size());
        for (std::size_t i = 0; i < values.size(); ++i)
            table->decodeField({reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()}, i, values[i]);
        values[1] = Value::string("QQQQQ");
        table->update(1, values);
    }
    auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
    EXPECT_FALSE(StructuralIndex::verify(*table, cdxPath, names).empty());
    StructuralIndex index(*table, names);
    std::vector<Value> row(table->fields().size());
    const std::string err = errorOf([&] { table->append(row); });
    EXPECT_NE(err.find("differ from the keys FoxPro stored"), std::string::npos) << err;
}

TEST(CdxBuild, NewTableIndexGrowsToSeveralLevelsAndStaysSorted) {
    qm::test::TempDir tmp;
    const std::string path = (tmp / "big.dbf").string();
    CreateOptions opt;
    opt.structuralCdx = true;
    auto table = DbfTable::create(path, {{"ID", 'I', 4}, {"NAME", 'C', 30}, {"AMOUNT", 'N', 12, 2}, {"DAY", 'D', 8}}, opt);
    std::vector<CdxTag> defs(4);
    defs[0].name = "ID"; defs[0].keyExpression = "id"; defs[0].keyLength = 4; defs[0].options = cdx_option::kCandidate;
    defs[1].name = "NAME"; defs[1].keyExpression = "UPPER(name)+STR(amount,12,2)"; defs[1].keyLength = 42;
    defs[2].name = "DAY"; defs[2].keyExpression = "DTOS(day)+PADL(ALLTRIM(STR(id)),8,'0')"; defs[2].keyLength = 16;
    defs[3].name = "LIVE"; defs[3].keyExpression = "amount"; defs[3].forExpression = "!DELETED()"; defs[3].keyLength = 8;
    table->begin();
    StructuralIndex::rebuild(*table, StructuralIndex::indexPathFor(path), defs);
    table->commit();

    StructuralIndex index(*table);
    table->begin();
    const int n = 6000;
    for (int i = 0; i < n; ++i) {
        const int id = (i * 7919) % n; // all distinct, not in order
        std::vector<Value> row = {Value::longInt(id - n / 2), Value::string("name " + std::to_string(i % 977)),
                                  Value::decimal(qm::Decimal{(id - 5000) * 7, 2}), Value::date(40000 + i % 3000)};
        table->append(row);
    }
    table->commit();
    table->begin();
    for (std::uint32_t r = 1; r <= 500; ++r) table->setDeleted(r * 3, true);
    table->commit();
    const std::string cdxPath = StructuralIndex::indexPathFor(path);
    const auto problems = StructuralIndex::verify(*table, cdxPath);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
    const CdxFile cdx = CdxFile::open(cdxPath);
    EXPECT_EQ(cdx.keys(*cdx.findTag("ID"), '\0').size(), static_cast<std::size_t>(n));
    EXPECT_EQ(cdx.keys(*cdx.findTag("LIVE"), '\0').size(), static_cast<std::size_t>(n - 500));
    const auto ids = cdx.keys(*cdx.findTag("ID"), '\0');
    EXPECT_EQ(ids.front().key, std::string("\x7F\xFF\xF4\x48", 4)); // -3000
}

TEST(CdxBuild, DefinedTagsFollowFoxProSizing) {
    qm::test::TempDir tmp;
    const std::string path = (tmp / "t.dbf").string();
    CreateOptions opt;
    opt.structuralCdx = true;
    FieldSpec city{"CITY", 'C', 15};
    city.nullable = true;
    auto table = DbfTable::create(path, {{"ID", 'I', 4}, city, {"WHEN", 'T', 8}}, opt);
    const CdxTag id = StructuralIndex::defineTag(*table, "ID", "id", cdx_option::kCandidate);
    EXPECT_EQ(id.keyLength, 4);
    EXPECT_EQ(id.options, cdx_option::kCandidate);
    const CdxTag c = StructuralIndex::defineTag(*table, "CITY", "UPPER(city)");
    EXPECT_EQ(c.keyLength, 16); // one more byte for the null marker
    EXPECT_EQ(c.options, cdx_option::kNullPrefix);
    EXPECT_THROW(StructuralIndex::defineTag(*table, "WHEN", "when"), qm::Error);
    EXPECT_NO_THROW(StructuralIndex::defineTag(*table, "WHEN", "TTOC(when,1)"));
    EXPECT_THROW(StructuralIndex::defineTag(*table, "BIG", "REPLICATE(city,20)"), qm::Error);

    const std::vector<CdxTag> defs = {id, c};
    table->begin();
    StructuralIndex::rebuild(*table, StructuralIndex::indexPathFor(path), defs);
    table->commit();
    StructuralIndex index(*table);
    table->begin();
    table->append(std::vector<Value>{Value::longInt(2), Value::string("Oslo"), Value()});
    table->append(std::vector<Value>{Value::longInt(1), Value::null(), Value()});
    table->commit();
    const auto problems = StructuralIndex::verify(*table, StructuralIndex::indexPathFor(path));
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
    const CdxFile f = CdxFile::open(StructuralIndex::indexPathFor(path));
    const auto keys = f.keys(*f.findTag("CITY"), ' ');
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].key, std::string(16, '\0')); // the null sorts first
    EXPECT_EQ(keys[1].key, std::string("\x80OSLO") + std::string(11, ' '));
}

TEST(CdxMaintainDbase, ProductionMdxIsNotLeftStale) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir tmp;
    copyStem(qm::test::fixture("xbase/infused-dbf/dbase_8b.dbf"), tmp.path());
    const std::string path = (tmp / "dbase_8b.dbf").string();
    std::string bytes = qm::test::readFile(path);
    bytes[28] = 0x01; // "production .mdx exists"
    qm::test::writeFile(path, bytes);
    qm::test::writeFile(tmp / "dbase_8b.mdx", std::string(1024, '\0'));
    {
        auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        StructuralIndex index(*table);
        std::vector<Value> row(table->fields().size());
        const std::string err = errorOf([&] { table->append(row); });
        EXPECT_NE(err.find("dbase_8b.mdx"), std::string::npos) << err;
    }
    EXPECT_EQ(qm::test::readFile(path), bytes);
    // Without the .mdx there is nothing to keep in step.
    fs::remove(tmp / "dbase_8b.mdx");
    auto table = DbfTable::open(path, DbfTable::Mode::ReadWrite);
    StructuralIndex index(*table);
    std::vector<Value> row(table->fields().size());
    EXPECT_NO_THROW(table->append(row));
}
