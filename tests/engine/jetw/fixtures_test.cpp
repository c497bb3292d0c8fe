// Writing into copies of databases Access made: the new objects read back,
// and every table that was there reads exactly as before.
#include "jetw_checks.h"

#include <map>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

struct Fixture {
    const char* path;
    const char* password;
};

const Fixture kFixtures[] = {
    {"access/jackcess/V2003/bigIndexTestV2003.mdb", ""},       // Jet 4, large indexes
    {"access/jackcess/V2000/queryTestV2000.mdb", ""},          // saved queries already there
    {"access/ucanaccess/weirdObjectNames.mdb", ""},
    {"access/jackcess/V2003/testUnicodeCompV2003.mdb", ""},
    {"access/jackcess/V2007/testV2007.accdb", ""},
    {"access/jackcess/V2010/testV2010.accdb", ""},             // "General" sort order
    {"access/mdbtestdata/ASampleDatabase.accdb", ""},
    {"access/jackcessencrypt/db-enc.mdb", ""},                 // pages RC4-encoded
    {"access/mdb-reader/password/data/V2000_with-password.mdb", "password"},
};

std::map<std::string, Rows> snapshot(const fs::path& p) {
    std::map<std::string, Rows> s;
    for (const auto& t : mdbTables(p)) s[t] = mdbExport(p, t);
    return s;
}

} // namespace

class IntoAccessFiles : public ::testing::TestWithParam<Fixture> {};

TEST_P(IntoAccessFiles, NewObjectsReadBackAndOldTablesAreUntouched) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    const Fixture f = GetParam();
    const fs::path source = qm::test::fixture(f.path);
    if (!fs::exists(source)) GTEST_SKIP() << "fixture missing: " << f.path;
    qm::test::TempDir dir;
    const fs::path p = writableCopy(dir, source);
    const auto before = snapshot(p);
    std::map<std::string, Rows> ours;
    {
        auto db = openWritable(p, f.password);
        const std::vector<storage::CatalogEntry> catalog = db->catalog();
        for (const auto& e : catalog)
            if (e.kind == storage::ObjectKind::Table) ours[e.name] = readerRows(*db, e.name);
        db->createTable({"Quillmere Added",
                         {col("ID", CT::Long, 0, true), col("Name", CT::VarChar, 80), col("Amount", CT::Currency),
                          col("Notes", CT::Memo)},
                         {{"PrimaryKey", {"ID"}, true, false}, {"Name", {"Name"}, false, false}}});
        db->createTable({"Scratch", {col("N", CT::Long)}, {}});
        db->beginBatch();
        for (int i = 0; i < 600; ++i) {
            db->append("Quillmere Added",
                       std::vector<Value>{Value(), Value::string("name " + std::to_string(i * 37 % 600)),
                                          Value::currency(i), Value::string(std::string(i % 150 == 0 ? 5000 : 8, 'k'))});
            db->append("Scratch", std::vector<Value>{Value::longInt(i)});
        }
        db->endBatch();
        db->createView("Quillmere Query", "SELECT Name, Amount FROM [Quillmere Added] WHERE Amount > 10");
        db->renameObject("Scratch", "Scratch Renamed");
        db->dropTable("Scratch Renamed");
    }
    auto after = snapshot(p);
    ASSERT_EQ(after.count("Quillmere Added"), 1u);
    EXPECT_EQ(after["Quillmere Added"].size(), 600u);
    EXPECT_EQ(after["Quillmere Added"][1][1], "name 37");
    EXPECT_EQ(after.count("Scratch Renamed"), 0u);
    after.erase("Quillmere Added");
    EXPECT_EQ(after, before);
    // Our reader agrees, for the old tables and the new one.
    storage::OpenOptions o;
    o.password = f.password;
    o.readOnly = true;
    auto db = qm::jet::openDatabase(p.string(), o);
    for (const auto& [name, rows] : ours) EXPECT_EQ(readerRows(*db, name), rows) << name;
    EXPECT_EQ(readerRows(*db, "Quillmere Added").size(), 600u);
    EXPECT_NE(db->querySql("Quillmere Query").find("[Quillmere Added]"), std::string::npos);
    // The password is still asked for.
    if (*f.password) {
        EXPECT_THROW(openWritable(p, "wrong"), Error);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IntoAccessFiles, ::testing::ValuesIn(kFixtures), [](const auto& info) {
    return testNameOf(info.param.path);
});

TEST(IntoAccessFiles, Access97FilesStayReadOnly) {
    QM_REQUIRE_SHARED();
    const fs::path source = qm::test::fixture("access/jackcess/V1997/testV1997.mdb");
    qm::test::TempDir dir;
    const fs::path p = writableCopy(dir, source);
    const std::string bytes = qm::test::readFile(p);
    try {
        openWritable(p);
        ADD_FAILURE() << "a Jet 3 file was opened for writing";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
    EXPECT_EQ(qm::test::readFile(p), bytes);
    EXPECT_FALSE(fs::exists(dir / "testV1997.ldb"));
}
