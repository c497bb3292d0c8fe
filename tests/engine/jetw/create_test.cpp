// New, empty databases: what mdbtools and our reader see, compared with the
// blank databases Access itself makes.
#include "create_db_command.h"
#include "jetw_checks.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

using namespace qm;
using namespace qm::jetw::test;
namespace fs = std::filesystem;

namespace {

struct Flavour {
    const char* file;
    const char* version;  // mdb-ver
    const char* template_; // the blank database Access made, for comparison
};
const Flavour kFlavours[] = {{"new.mdb", "JET4", "access/jackcess-templates/empty2003.mdb"},
                             {"new.accdb", "ACE12", "access/jackcess-templates/empty2007.accdb"}};

// Catalog rows that Jet itself creates, as (Id, ParentId, Name, Type, Owner, Flags).
std::set<std::string> jetObjects(const fs::path& db) {
    static const std::set<std::string> names = {"Tables", "Databases", "Relationships", "MSysDb", "MSysObjects",
                                                "MSysACEs", "MSysQueries", "MSysRelationships", "DataAccessPages",
                                                "Forms", "Modules", "Reports", "Scripts", "SysRel"};
    std::set<std::string> out;
    for (const auto& r : mdbExport(db, "MSysObjects"))
        if (names.count(r.at(2))) out.insert(r[0] + "|" + r[1] + "|" + r[2] + "|" + r[3] + "|" + r[6] + "|" + r[7]);
    return out;
}

// Permission rows of those objects, by object name.
std::multiset<std::string> jetPermissions(const fs::path& db) {
    std::map<std::string, std::string> idToName;
    for (const auto& r : mdbExport(db, "MSysObjects")) idToName[r.at(0)] = r.at(2);
    const auto objects = jetObjects(db);
    std::multiset<std::string> out;
    for (const auto& r : mdbExport(db, "MSysACEs")) {
        const std::string name = idToName[r.at(0)];
        bool ours = false;
        for (const auto& o : objects) ours = ours || o.find("|" + name + "|") != std::string::npos;
        if (ours) out.insert(name + "|" + r[1] + "|" + r[2] + "|" + r[3]);
    }
    return out;
}

} // namespace

TEST(NewDatabase, OpensInMdbtoolsWithTheSystemTablesAndNoUserTables) {
    QM_REQUIRE_PROGRAM("mdb-ver");
    qm::test::TempDir dir;
    for (const Flavour& f : kFlavours) {
        SCOPED_TRACE(f.file);
        const fs::path p = newDatabase(dir, f.file);
        EXPECT_EQ(qm::test::run({"mdb-ver", p.string()}).out, std::string(f.version) + "\n");
        const auto system = mdbTables(p, true);
        for (const char* t : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
            EXPECT_NE(std::find(system.begin(), system.end(), t), system.end()) << t;
        EXPECT_TRUE(mdbTables(p).empty());
        EXPECT_EQ(fs::file_size(p) % 4096, 0u);
        // No journal or lock file stays behind once the database is closed.
        EXPECT_FALSE(fs::exists(p.string() + "-journal"));
    }
    // Nothing but the two databases is left in the folder.
    std::size_t files = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) files += e.is_regular_file();
    EXPECT_EQ(files, 2u);
}

TEST(NewDatabase, CatalogAndPermissionRowsAreThoseAccessWrites) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    for (const Flavour& f : kFlavours) {
        SCOPED_TRACE(f.file);
        const fs::path p = newDatabase(dir, f.file);
        const fs::path blank = qm::test::fixture(f.template_);
        EXPECT_EQ(jetObjects(p), jetObjects(blank));
        EXPECT_EQ(jetPermissions(p), jetPermissions(blank));
    }
}

TEST(NewDatabase, SystemTablesHaveTheColumnsOfAccessFiles) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    for (const Flavour& f : kFlavours) {
        SCOPED_TRACE(f.file);
        const fs::path p = newDatabase(dir, f.file);
        storage::OpenOptions ro;
        ro.readOnly = true;
        auto ours = qm::jet::openDatabase(p.string(), ro);
        auto theirs = qm::jet::openDatabase(qm::test::fixture(f.template_).string(), ro);
        for (const char* t : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
            SCOPED_TRACE(t);
            const auto a = ours->columns(t), b = theirs->columns(t);
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t i = 0; i < a.size(); ++i) {
                EXPECT_EQ(a[i].name, b[i].name);
                EXPECT_EQ(a[i].type, b[i].type) << a[i].name;
                EXPECT_EQ(a[i].size, b[i].size) << a[i].name;
            }
        }
        // The database object carries the Access version property.
        const auto objects = mdbExport(p, "MSysObjects");
        const auto db = std::find_if(objects.begin(), objects.end(), [](const auto& r) { return r[2] == "MSysDb"; });
        ASSERT_NE(db, objects.end());
        EXPECT_NE((*db)[14].find(hex(std::string("0\0009\0.\0005\0000\0", 10))), std::string::npos);
    }
}

TEST(NewDatabase, OurReaderListsNoUserObjects) {
    qm::test::TempDir dir;
    for (const Flavour& f : kFlavours) {
        auto db = qm::jet::createDatabase((dir / f.file).string(), std::string(f.file).ends_with("accdb")
                                                                       ? qm::jet::NewFileFormat::Ace12Accdb
                                                                       : qm::jet::NewFileFormat::Jet4Mdb);
        for (const auto& e : db->catalog()) EXPECT_NE(e.kind, storage::ObjectKind::Table) << e.name;
    }
}

TEST(NewDatabase, NeverReplacesAnExistingFile) {
    qm::test::TempDir dir;
    const fs::path p = dir / "kept.mdb";
    qm::test::writeFile(p, "not a database, but somebody's file");
    try {
        qm::jet::createDatabase(p.string(), qm::jet::NewFileFormat::Jet4Mdb);
        FAIL() << "an existing file was replaced";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(p.string()), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos);
    }
    EXPECT_EQ(qm::test::readFile(p), "not a database, but somebody's file");
}

TEST(NewDatabase, MissingFolderIsReportedWithThePath) {
    qm::test::TempDir dir;
    const fs::path p = dir / "no" / "such" / "folder" / "x.mdb";
    try {
        qm::jet::createDatabase(p.string(), qm::jet::NewFileFormat::Jet4Mdb);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("x.mdb"), std::string::npos) << e.what();
    }
}

TEST(CreateDbCommand, PicksTheFormatFromTheExtensionOrTheOption) {
    QM_REQUIRE_PROGRAM("mdb-ver");
    qm::test::TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(qm::cli::runCreateDb({(dir / "a.mdb").string()}, out, err), 0) << err.str();
    EXPECT_EQ(qm::cli::runCreateDb({"create-db", (dir / "b.ACCDB").string()}, out, err), 0) << err.str();
    EXPECT_EQ(qm::cli::runCreateDb({(dir / "c.dat").string(), "--format", "accdb"}, out, err), 0) << err.str();
    EXPECT_EQ(qm::test::run({"mdb-ver", (dir / "a.mdb").string()}).out, "JET4\n");
    EXPECT_EQ(qm::test::run({"mdb-ver", (dir / "b.ACCDB").string()}).out, "ACE12\n");
    EXPECT_EQ(qm::test::run({"mdb-ver", (dir / "c.dat").string()}).out, "ACE12\n");
}

TEST(CreateDbCommand, RefusesBadUsageAndExistingFiles) {
    qm::test::TempDir dir;
    std::ostringstream out, err;
    EXPECT_EQ(qm::cli::runCreateDb({}, out, err), 2);
    EXPECT_EQ(qm::cli::runCreateDb({(dir / "x.txt").string()}, out, err), 2);
    EXPECT_EQ(qm::cli::runCreateDb({(dir / "x.mdb").string(), "--format", "dbf"}, out, err), 2);
    EXPECT_FALSE(fs::exists(dir / "x.txt"));
    EXPECT_FALSE(fs::exists(dir / "x.mdb"));
    qm::test::writeFile(dir / "y.mdb", "keep me");
    std::ostringstream err2;
    EXPECT_EQ(qm::cli::runCreateDb({(dir / "y.mdb").string()}, out, err2), 1);
    EXPECT_NE(err2.str().find("already exists"), std::string::npos);
    EXPECT_EQ(qm::test::readFile(dir / "y.mdb"), "keep me");
}
