// Keys of xBase tables made through SQL: CREATE TABLE with PRIMARY KEY and
// UNIQUE, ALTER TABLE ... ADD/DROP PRIMARY KEY and UNIQUE, INDEX ON.  Every
// tag is read back from the .cdx and compared key for key with the table;
// the container must name the primary tag; the readers still read the rows.
#include "dbf_checkers.h"
#include "sql/executor.h"
#include "storage/open.h"
#include "test_support.h"
#include "xbase/cdx.h"
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/dbf_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace fs = std::filesystem;
using namespace qm;

namespace {

// The error a script ends with, in lower case (tag names are stored upper case).
std::string refusal(sql::Executor& ex, const std::string& script) {
    try {
        ex.runScript(script);
    } catch (const Error& e) {
        std::string m = e.what();
        for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return m;
    }
    ADD_FAILURE() << "accepted: " << script;
    return {};
}

// "NAME:candidate" per tag, in directory order, after checking every tag
// against the table's records.
std::vector<std::string> checkedTags(const fs::path& dbf, const std::vector<std::string>& longNames = {}) {
    const auto table = xbase::DbfTable::open(dbf.string());
    const std::string cdx = xbase::StructuralIndex::indexPathFor(dbf.string());
    if (!fs::exists(cdx)) {
        EXPECT_FALSE(table->header().flags & xbase::table_flag::kStructuralCdx) << "flag set without a .cdx";
        return {};
    }
    EXPECT_TRUE(table->header().flags & xbase::table_flag::kStructuralCdx) << "the table does not flag its .cdx";
    const auto problems = xbase::StructuralIndex::verify(*table, cdx, longNames);
    for (const auto& p : problems) ADD_FAILURE() << p;
    std::vector<std::string> out;
    const auto file = xbase::CdxFile::open(cdx);
    for (const auto& t : file.tags())
        out.push_back(t.name + ((t.options & xbase::cdx_option::kCandidate) ? ":candidate" : "") + " " + t.keyExpression);
    std::sort(out.begin(), out.end());
    return out;
}

void expectReadersAgree(const fs::path& dbf, std::size_t rows) {
    if (!test::programAvailable(test::kDebianPython)) return;
    const auto theirs = xbase::test::readWithDbfread({dbf.string()});
    ASSERT_EQ(theirs.size(), 1u);
    EXPECT_EQ(theirs[0].error, "");
    EXPECT_EQ(theirs[0].rows.size(), rows);
}

} // namespace

TEST(XbaseKeys, ContainerTableKeysBecomeTagsTheContainerRecords) {
    test::TempDir dir;
    const std::string dbc = (dir.path() / "shop.dbc").string();
    xbase::Container::create(dbc);
    auto db = xbase::openContainer(dbc, {});
    sql::Executor ex(*db, sql::Dialect::FoxPro);
    ex.runScript("CREATE TABLE Kinds (KindId I PRIMARY KEY, Code C(8) UNIQUE, KindName C(30), Born D NULL)\n"
                 "INSERT INTO Kinds VALUES (1, 'B', 'Bolt', {^2020-01-02})\n"
                 "INSERT INTO Kinds VALUES (2, 'N', 'Nut', NULL)\n"
                 "INSERT INTO Kinds VALUES (3, 'W', 'bolt', {^2019-05-06})\n");
    const fs::path dbf = dir.path() / "kinds.dbf";
    const std::vector<std::string> longNames{"kindid", "code", "kindname", "born"};
    EXPECT_EQ(checkedTags(dbf, longNames), (std::vector<std::string>{"CODE:candidate code", "KINDID:candidate kindid"}));
    {
        auto c = xbase::Container::open(dbc);
        const auto t = c->findTable("kinds");
        ASSERT_TRUE(t);
        EXPECT_EQ(t->primaryKey, "kindid");
        EXPECT_EQ(t->indexes.size(), 2u);
    }
    // Keys are enforced afterwards, the key named.
    std::string m = refusal(ex, "INSERT INTO Kinds VALUES (1, 'X', 'again', NULL)");
    EXPECT_NE(m.find("kindid"), std::string::npos) << m;
    EXPECT_NE(refusal(ex, "INSERT INTO Kinds VALUES (9, 'N', 'again', NULL)").find("code"), std::string::npos);

    // MACHINE collation: 'Bolt' and 'bolt' differ, UPPER() makes them meet.
    ex.runScript("ALTER TABLE Kinds ADD UNIQUE KindName TAG KindName");
    m = refusal(ex, "ALTER TABLE Kinds ADD UNIQUE UPPER(KindName) TAG UName");
    EXPECT_NE(m.find("uname"), std::string::npos) << m;
    EXPECT_NE(m.find("bolt"), std::string::npos) << m;
    ex.runScript("ALTER TABLE Kinds DROP PRIMARY KEY\n"
                 "ALTER TABLE Kinds ADD PRIMARY KEY Code TAG PkCode\n"
                 "ALTER TABLE Kinds DROP UNIQUE TAG Code\n"
                 "USE Kinds\n"
                 "INDEX ON DTOS(Born) TAG Born\n"
                 "INDEX ON KindId TAG KindId CANDIDATE\n");
    EXPECT_EQ(checkedTags(dbf, longNames),
              (std::vector<std::string>{"BORN DTOS(Born)", "KINDID:candidate kindid", "KINDNAME:candidate kindname",
                                        "PKCODE:candidate code"}));
    {
        auto c = xbase::Container::open(dbc);
        const auto t = c->findTable("kinds");
        EXPECT_EQ(t->primaryKey, "pkcode");
        EXPECT_EQ(t->indexes.size(), 4u);
    }
    const auto listed = db->indexes("Kinds");
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_TRUE(listed[0].primaryKey);
    EXPECT_EQ(listed[0].columns, std::vector<std::string>{"code"});
    bool sawExpression = false;
    for (const auto& ix : listed)
        if (ix.name == "BORN") {
            sawExpression = true;
            EXPECT_TRUE(ix.columns.empty());
            EXPECT_EQ(ix.expression, "DTOS(Born)");
        }
    EXPECT_TRUE(sawExpression);
    EXPECT_NE(refusal(ex, "ALTER TABLE Kinds ADD PRIMARY KEY KindId TAG Pk2").find("already has a primary key"),
              std::string::npos);
    ex.runScript("INSERT INTO Kinds VALUES (4, 'S', 'Screw', NULL)");
    db.reset();
    checkedTags(dbf, longNames);
    expectReadersAgree(dbf, 4);
}

TEST(XbaseKeys, FreeTablePrimaryKeyIsACandidateTagAndDuplicatesRefuseIt) {
    test::TempDir dir;
    auto db = xbase::openFolder(dir.path().string(), {});
    sql::Executor ex(*db, sql::Dialect::FoxPro);
    ex.runScript("CREATE TABLE parts (id I, name C(20), PRIMARY KEY id TAG id)\n"
                 "INSERT INTO parts VALUES (1, 'a')\n"
                 "INSERT INTO parts VALUES (2, 'b')\n"
                 "INSERT INTO parts VALUES (3, 'b')\n");
    const fs::path dbf = dir.path() / "parts.dbf";
    EXPECT_EQ(checkedTags(dbf), std::vector<std::string>{"ID:candidate ID"});
    const auto before = test::readFile(dbf);
    // Building over rows: the duplicate is named with both records.
    const std::string m = refusal(ex, "ALTER TABLE parts ADD UNIQUE name TAG name");
    EXPECT_NE(m.find("name"), std::string::npos) << m;
    EXPECT_NE(m.find("b "), std::string::npos) << m;
    EXPECT_EQ(test::readFile(dbf), before);
    EXPECT_EQ(checkedTags(dbf), std::vector<std::string>{"ID:candidate ID"});
    // INDEX ON without a table opened by USE is FoxPro's own error.
    EXPECT_NE(refusal(ex, "INDEX ON name TAG name").find("no table is open"), std::string::npos);
    ex.runScript("USE parts\nINDEX ON name TAG name\nALTER TABLE parts DROP UNIQUE TAG id\n");
    EXPECT_EQ(checkedTags(dbf), std::vector<std::string>{"NAME NAME"});
    ex.runScript("ALTER TABLE parts DROP UNIQUE TAG name");
    // The last tag gone: no .cdx, and the table no longer flags one.
    EXPECT_EQ(checkedTags(dbf), std::vector<std::string>{});
    db.reset();
    expectReadersAgree(dbf, 3);
}

TEST(XbaseKeys, CreateTableRefusesKeysItCannotMakeAndLeavesNoTable) {
    test::TempDir dir;
    {
        auto db = xbase::openFolder(dir.path().string(), {});
        sql::Executor ex(*db, sql::Dialect::FoxPro);
        const std::string m = refusal(ex, "CREATE TABLE t (id I, note M, PRIMARY KEY note TAG note)");
        EXPECT_NE(m.find("note"), std::string::npos) << m;
        EXPECT_FALSE(db->find("t").has_value());
        EXPECT_FALSE(fs::exists(dir.path() / "t.dbf"));
    }
    // dBase tables carry no structural index: the key is refused, not dropped.
    test::TempDir dbase;
    storage::OpenOptions o;
    o.flavor = storage::OpenOptions::Flavor::DBase4;
    auto db = xbase::openFolder(dbase.path().string(), o);
    db->createTable({"plain", {{.name = "id", .type = storage::ColumnType::Long}}, {}});
    try {
        db->createIndex("plain", {.name = "id", .columns = {"id"}, .unique = true});
        ADD_FAILURE() << "a dBase table took a tag";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("dBase"), std::string::npos) << e.what();
    }
}

// A key over several fields of other types than text: integers join as
// BINTOC, dates as DTOS, so the tag orders as the values do (negative
// numbers before positive ones) and reads back as the key on the columns.
TEST(XbaseKeys, KeysOverIntegersAndDatesJoinInSortableForms) {
    test::TempDir dir;
    auto db = xbase::openFolder(dir.path().string(), {});
    db->createTable({"lines",
                     {{.name = "orderid", .type = storage::ColumnType::Long},
                      {.name = "lineno", .type = storage::ColumnType::Long},
                      {.name = "shipped", .type = storage::ColumnType::Date},
                      {.name = "price", .type = storage::ColumnType::Decimal, .precision = 8, .scale = 2}},
                     {}});
    sql::Executor ex(*db, sql::Dialect::FoxPro);
    ex.runScript("INSERT INTO lines VALUES (7, 2, {^2016-11-03}, 1.5)\n"
                 "INSERT INTO lines VALUES (-3, 9, {^1999-01-01}, 2)\n"
                 "INSERT INTO lines VALUES (7, -1, {^2016-11-02}, 3)");
    db->createIndex("lines", {.name = "pk", .columns = {"orderid", "lineno"}, .unique = true});
    db->createIndex("lines", {.name = "byday", .columns = {"orderid", "shipped"}});
    try {
        db->createIndex("lines", {.name = "byprice", .columns = {"orderid", "price"}});
        ADD_FAILURE() << "a key joined a numeric field";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("price"), std::string::npos) << e.what();
    }
    const fs::path dbf = dir.path() / "lines.dbf";
    EXPECT_EQ(checkedTags(dbf), (std::vector<std::string>{"BYDAY BINTOC(ORDERID)+DTOS(SHIPPED)",
                                                          "PK:candidate BINTOC(ORDERID)+BINTOC(LINENO)"}));
    for (const auto& ix : db->indexes("lines")) {
        std::string columns;
        for (const std::string& c : ix.columns) columns += c + " ";
        EXPECT_TRUE(storage::namesEqual(columns, ix.name == "PK" ? "orderid lineno " : "orderid shipped ")) << ix.name;
    }

    // The tag's order is the values' order.
    const auto file = xbase::CdxFile::open(xbase::StructuralIndex::indexPathFor(dbf.string()));
    for (const auto& tag : file.tags()) {
        if (tag.name != "PK") continue;
        std::vector<std::uint32_t> records;
        for (const auto& k : file.keys(tag, ' ')) records.push_back(k.recno);
        EXPECT_EQ(records, (std::vector<std::uint32_t>{2, 3, 1}));
    }
    // A duplicate of the candidate key is refused.
    EXPECT_NE(refusal(ex, "INSERT INTO lines VALUES (7, 2, {^2020-01-01}, 0)").find("pk"), std::string::npos);
    expectReadersAgree(dbf, 3);
}
