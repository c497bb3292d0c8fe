// New, empty databases: what mdbtools and our reader see, compared with the
// blank databases Access itself makes.
#include "create_db_command.h"
#include "jet/create_database.h"
#include "jet/database.h"
#include "jet/page_source.h"
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
const char* const kBlankAccdb = "access/jackcess-templates/empty2007.accdb";
const Flavour kFlavours[] = {{"new.mdb", "JET4", "access/jackcess-templates/empty2003.mdb"},
                             {"new.accdb", "ACE12", kBlankAccdb}};

// Objects every new database has.
const std::set<std::string> kJetObjects = {"Tables", "Databases", "Relationships", "MSysDb", "MSysObjects",
                                           "MSysACEs", "MSysQueries", "MSysRelationships", "DataAccessPages",
                                           "Forms", "Modules", "Reports", "Scripts", "SysRel"};
// The engine's tables for attachment and multi-value fields (.accdb only).
const std::vector<std::string> kComplexTables = {
    "MSysComplexColumns",   "MSysComplexType_UnsignedByte", "MSysComplexType_Short", "MSysComplexType_Long",
    "MSysComplexType_IEEESingle", "MSysComplexType_IEEEDouble", "MSysComplexType_GUID", "MSysComplexType_Decimal",
    "MSysComplexType_Text", "MSysComplexType_Attachment"};

bool isComplexTable(const std::string& name) {
    return std::find(kComplexTables.begin(), kComplexTables.end(), name) != kComplexTables.end();
}

// Tables the Access program adds when it opens a file; the engine makes none of them.
bool madeByAccessProgram(const std::string& name) {
    for (const char* prefix : {"MSysNavPane", "MSysAccessStorage", "MSysAccessObjects", "MSysResources", "MSysWSDP"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

// Catalog rows that the engine creates, as (Id, ParentId, Name, Type, Owner,
// Flags, LvProp).  MSysDb's properties are Access's and not compared.
std::set<std::string> jetObjects(const fs::path& db) {
    std::set<std::string> out;
    for (const auto& r : mdbExport(db, "MSysObjects"))
        if (kJetObjects.count(r.at(2)) || isComplexTable(r[2]))
            out.insert(r[0] + "|" + r[1] + "|" + r[2] + "|" + r[3] + "|" + r[6] + "|" + r[7] + "|" +
                       (r[2] == "MSysDb" ? "" : r[14]));
    return out;
}

// Permission rows (SID|ACM|FInheritable) by object name.
std::map<std::string, std::multiset<std::string>> permissions(const fs::path& db) {
    std::map<std::string, std::string> idToName;
    for (const auto& r : mdbExport(db, "MSysObjects")) idToName[r.at(0)] = r.at(2);
    std::map<std::string, std::multiset<std::string>> out;
    for (const auto& r : mdbExport(db, "MSysACEs")) out[idToName[r.at(0)]].insert(r.at(1) + "|" + r[2] + "|" + r[3]);
    return out;
}

// Those of the Jet objects, "name|SID|ACM|FInheritable".
std::multiset<std::string> jetPermissions(const fs::path& db) {
    std::multiset<std::string> out;
    for (const auto& [name, rows] : permissions(db))
        if (kJetObjects.count(name))
            for (const auto& r : rows) out.insert(name + "|" + r);
    return out;
}

// The same rows without the SID.
std::multiset<std::string> withoutSid(const std::multiset<std::string>& rows) {
    std::multiset<std::string> out;
    for (const auto& r : rows) out.insert(r.substr(r.find('|') + 1));
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// A table definition's byte stream as stored (continuation pages joined),
// with the bytes Access leaves unset zeroed: head bytes 32-39 and the fixed
// offset of variable-length columns.
std::vector<std::uint8_t> definitionBytes(qm::jet::PageSource& src, std::uint32_t page) {
    std::vector<std::uint8_t> s;
    for (int hops = 0; page != 0 && hops < 8; ++hops) {
        const auto p = src.page(page);
        const std::uint8_t* b = p->data();
        s.insert(s.end(), s.empty() ? b : b + 8, b + p->size());
        page = qm::jet::u32(b + 4);
    }
    EXPECT_EQ(s.at(0), 0x02) << "not a table definition page";
    s.resize(std::min<std::size_t>(qm::jet::u32(&s[8]), s.size()));
    std::fill(s.begin() + 32, s.begin() + 40, 0);
    const std::size_t columns = qm::jet::u16(&s[45]), real = qm::jet::u32(&s[51]);
    for (std::size_t i = 0; i < columns; ++i) {
        std::uint8_t* d = &s.at(63 + 12 * real + 25 * i);
        if (!(d[15] & 0x01)) d[21] = d[22] = 0;
    }
    return s;
}

// The pages a definition points at: its usage-map page and index root pages.
std::vector<std::uint32_t> pagesOf(const std::vector<std::uint8_t>& s) {
    std::vector<std::uint32_t> pages = {qm::jet::u32(&s[55]) >> 8};
    const std::size_t columns = qm::jet::u16(&s[45]), real = qm::jet::u32(&s[51]);
    std::size_t o = 63 + 12 * real + 25 * columns;
    for (std::size_t i = 0; i < columns; ++i) o += 2 + qm::jet::u16(&s.at(o));
    for (std::size_t i = 0; i < real; ++i) pages.push_back(qm::jet::u32(&s.at(o + 52 * i + 38)));
    return pages;
}

long firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    const auto m = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return m.first == a.end() && m.second == b.end() ? -1 : long(m.first - a.begin());
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
        std::vector<std::string> tables = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
        if (std::string(f.file).ends_with("accdb"))
            tables.insert(tables.end(), kComplexTables.begin(), kComplexTables.end());
        for (const std::string& t : tables) {
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
        std::size_t complex = 0;
        for (const auto& e : db->catalog()) {
            EXPECT_NE(e.kind, storage::ObjectKind::Table) << e.name;
            if (!isComplexTable(e.name)) continue;
            ++complex;
            EXPECT_EQ(e.kind, storage::ObjectKind::SystemTable) << e.name;
            EXPECT_EQ(e.tableType, "SYSTEM TABLE") << e.name;
        }
        EXPECT_EQ(complex, std::string(f.file).ends_with("accdb") ? kComplexTables.size() : 0u) << f.file;
    }
}

TEST(NewDatabase, SystemTablesAreTheBlanksLessThoseOfTheAccessProgram) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-tables");
    qm::test::TempDir dir;
    for (const Flavour& f : kFlavours) {
        SCOPED_TRACE(f.file);
        std::vector<std::string> expected;
        for (const auto& t : mdbTables(qm::test::fixture(f.template_), true))
            if (!madeByAccessProgram(t)) expected.push_back(t);
        EXPECT_EQ(sorted(mdbTables(newDatabase(dir, f.file), true)), sorted(expected));
    }
}

TEST(ComplexColumnTables, DefinitionsAndTheirPagesMatchTheBlankByteForByte) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "new.accdb");
    storage::OpenOptions ro;
    ro.readOnly = true;
    auto ours = qm::jet::openDatabase(p.string(), ro);
    auto theirs = qm::jet::openDatabase(qm::test::fixture(kBlankAccdb).string(), ro);
    auto& a = dynamic_cast<qm::jet::JetDatabase&>(*ours);
    auto& b = dynamic_cast<qm::jet::JetDatabase&>(*theirs);
    for (const std::string& t : kComplexTables) {
        SCOPED_TRACE(t);
        // Same TDEF page, so the same catalog Id.
        ASSERT_EQ(a.tableDef(t)->tdefPage, b.tableDef(t)->tdefPage);
        const auto mine = definitionBytes(a.pages(), a.tableDef(t)->tdefPage);
        const auto blank = definitionBytes(b.pages(), b.tableDef(t)->tdefPage);
        EXPECT_EQ(firstDifference(mine, blank), -1) << "lengths " << mine.size() << " and " << blank.size();
        // Usage maps and empty index roots as well.
        for (std::uint32_t page : pagesOf(mine)) {
            const auto x = a.pages().page(page), y = b.pages().page(page);
            EXPECT_EQ(firstDifference(x->bytes, y->bytes), -1) << "page " << page;
        }
    }
}

TEST(ComplexColumnTables, MdbtoolsReadThemAsInTheBlank) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-schema");
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "new.accdb");
    const fs::path blank = qm::test::fixture(kBlankAccdb);
    auto schema = [](const fs::path& db, const std::string& table) {
        const auto r = qm::test::run({"mdb-schema", "-T", table, db.string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        std::string body; // without the comment lines naming the tool
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("--", 0) != 0) body += line + "\n";
        return body;
    };
    for (const std::string& t : kComplexTables) {
        SCOPED_TRACE(t);
        const std::string mine = schema(p, t);
        EXPECT_NE(mine.find("CREATE TABLE [" + t + "]"), std::string::npos) << mine;
        EXPECT_EQ(mine, schema(blank, t));
        const auto r = qm::test::run({"mdb-export", p.string(), t});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, qm::test::run({"mdb-export", blank.string(), t}).out); // the header line alone
    }
}

TEST(ComplexColumnTables, HaveTheRightsOfMSysQueriesAsInAFreshAccessFile) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const auto mine = permissions(newDatabase(dir, "new.accdb"));
    // The 2007 blank got these tables from a later Access session, so
    // their creator is another user; the rights are the same.  The 2019
    // blank, made in one go, shows the SIDs as well.
    const auto blank2007 = permissions(qm::test::fixture(kBlankAccdb));
    const auto blank2019 = permissions(qm::test::fixture("access/jackcess-templates/empty2019.accdb"));
    for (const std::string& t : kComplexTables) {
        SCOPED_TRACE(t);
        ASSERT_EQ(mine.count(t), 1u);
        EXPECT_EQ(mine.at(t).size(), 3u);
        EXPECT_EQ(mine.at(t), mine.at("MSysQueries"));
        EXPECT_EQ(withoutSid(mine.at(t)), withoutSid(blank2007.at(t)));
        EXPECT_EQ(blank2019.at(t), blank2019.at("MSysQueries"));
    }
}

TEST(ComplexColumnTables, RefuseRowsWhileUserTablesComeAndGo) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "work.accdb");
    const auto systemBefore = mdbTables(p, true);
    {
        auto db = openWritable(p);
        using CT = storage::ColumnType;
        db->createTable({"Photos",
                         {col("ID", CT::Long, 0, true), col("Caption", CT::VarChar, 80), col("Notes", CT::Memo)},
                         {{"PrimaryKey", {"ID"}, true, false}}});
        for (int i = 0; i < 3; ++i)
            db->append("Photos", std::vector<Value>{Value(), Value::string("photo " + std::to_string(i)),
                                                    Value::string(std::string(300, char('a' + i)))});
        EXPECT_EQ(mdbExport(p, "Photos").size(), 3u);
        // Rows in these tables would describe fields that do not exist.
        for (const char* t : {"MSysComplexColumns", "MSysComplexType_Long", "MSysComplexType_Attachment"}) {
            SCOPED_TRACE(t);
            try {
                db->append(t, std::vector<Value>{Value::longInt(1)});
                ADD_FAILURE() << "a row went into " << t;
            } catch (const Error& e) {
                EXPECT_NE(std::string(e.what()).find("system table"), std::string::npos) << e.what();
            }
            EXPECT_THROW(db->update(t, 0x1200, std::vector<Value>{Value::longInt(1)}), Error);
            EXPECT_THROW(db->remove(t, 0x1200), Error);
        }
        EXPECT_THROW(db->dropTable("MSysComplexType_Text"), Error);
        db->dropTable("Photos");
    }
    EXPECT_TRUE(mdbTables(p).empty());
    EXPECT_EQ(mdbTables(p, true), systemBefore);
    for (const std::string& t : kComplexTables) EXPECT_TRUE(mdbExport(p, t).empty()) << t;
    EXPECT_TRUE(readerRows(p, "MSysComplexColumns").empty());
}

TEST(ComplexColumnTables, AccessProgramTablesOfAnAccessFileAreRefusedToo) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const fs::path p = dir / "copy.accdb";
    fs::copy_file(qm::test::fixture(kBlankAccdb), p);
    fs::permissions(p, fs::perms::owner_write, fs::perm_options::add);
    auto db = openWritable(p);
    // Catalog flags 0x0A (hidden, Access's own), stored as an ordinary table.
    EXPECT_THROW(db->append("MSysNavPaneGroupCategories", std::vector<Value>{}), Error);
    EXPECT_THROW(db->append("MSysComplexType_Short", std::vector<Value>{Value::integer(1)}), Error);
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
