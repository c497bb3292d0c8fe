// Every table among the shared xBase fixtures, read by our table layer and
// by python3-dbfread: the same fields, the same live rows, the same values.
#include "columns.h"
#include "dbf_checkers.h"
#include "dbf_table.h"
#include "storage/open.h"
#include "test_support.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace fs = std::filesystem;
using qm::xbase::DbfTable;

namespace {

std::string lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> fixtureTables()
{
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(qm::test::fixture("xbase"))) {
        std::string ext = lower(e.path().extension().string());
        if (e.is_regular_file() && (ext == ".dbf" || ext == ".dbc"))
            out.push_back(e.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Files that are damaged or outside the formats on purpose, and what our
// error must say about them.
const std::map<std::string, std::vector<std::string>> kRefused = {
    {"FolderRoot.dbf", {"FolderRoot.dbf", "unknown type '7'"}},
    {"dbase_8c.dbf", {"dbase_8c.dbf", "dBase 7"}},
    {"dbase_83_missing_memo.dbf", {"dbase_83_missing_memo", "memo file", "missing"}},
    {"invalid_value.dbf", {"invalid_value.dbf", "invalid date", "NotAYear", "BIRTHDATE"}},
};

std::string readAll(const std::string& path, std::vector<std::vector<std::string>>& rows)
{
    auto t = DbfTable::open(path);
    auto r = t->reader();
    qm::Value v;
    while (r->next()) {
        rows.emplace_back();
        for (std::size_t i = 0; i < t->fields().size(); ++i) {
            r->decode(i, v);
            rows.back().push_back(qm::xbase::test::canonical(v, t->fields()[i].type));
        }
    }
    return {};
}

} // namespace

TEST(XbaseFixtures, EveryTableReadsAsDbfreadReadsIt)
{
    QM_REQUIRE_SHARED();
    const auto paths = fixtureTables();
    ASSERT_GT(paths.size(), 60u);
    const auto theirs = qm::xbase::test::readWithDbfread(paths);
    ASSERT_EQ(theirs.size(), paths.size());
    int compared = 0;
    for (std::size_t k = 0; k < paths.size(); ++k) {
        const std::string& path = paths[k];
        const std::string name = fs::path(path).filename().string();
        SCOPED_TRACE(path);
        if (kRefused.count(name))
            continue;
        std::unique_ptr<DbfTable> table;
        ASSERT_NO_THROW(table = DbfTable::open(path));
        std::vector<std::vector<std::string>> ours;
        if (name == "mazovia.dbf") {
            // Its two records carry 0x00 as deletion flag (dbfread drops them;
            // the FoxPro engines treat anything but '*' as live) and text in
            // the Mazovia code page, which dbfread cannot decode: read with
            // the program's own table (0x98 is Ś, 0x9E ś there).
            EXPECT_EQ(theirs[k].rows.size(), 0u);
            ASSERT_NO_THROW(readAll(path, ours));
            ASSERT_EQ(ours.size(), 2u);
            EXPECT_EQ(ours[0][1], "str " + qm::test::hex("English", true));
            // Ś╫êëτ⌡ś: the letters at those places of the Mazovia layout.
            EXPECT_EQ(ours[1][1], "str " + qm::test::hex("\xC5\x9A\xE2\x95\xAB\xC3\xAA\xC3\xAB\xCF\x84\xE2\x8C\xA1"
                                                       "\xC5\x9B", true));
            continue;
        }
        try {
            readAll(path, ours);
        } catch (const qm::Error& e) {
            ADD_FAILURE() << "our reader failed: " << e.what();
            continue;
        }
        const auto& ref = theirs[k];
        if (!ref.error.empty()) {
            ADD_FAILURE() << "dbfread failed: " << ref.error;
            continue;
        }
        ASSERT_EQ(ref.fieldNames.size(), table->fields().size());
        for (std::size_t i = 0; i < ref.fieldNames.size(); ++i)
            EXPECT_EQ(ref.fieldNames[i], table->fields()[i].name);
        ASSERT_EQ(ours.size(), ref.rows.size()) << "live row count";
        for (std::size_t r = 0; r < ours.size(); ++r) {
            ASSERT_EQ(ours[r].size(), ref.rows[r].size());
            for (std::size_t i = 0; i < ours[r].size(); ++i) {
                const char type = table->fields()[i].type;
                // dbfread counts the 8-byte block header of a dBase IV memo as
                // data and returns 8 bytes from beyond the memo; the length
                // includes the header (the memo files here end their text there).
                if (table->format() == qm::xbase::TableFormat::DBase4 && type == 'M' &&
                    ref.rows[r][i].rfind(ours[r][i], 0) == 0 && ref.rows[r][i].size() <= ours[r][i].size() + 16)
                    continue;
                EXPECT_TRUE(qm::xbase::test::sameValue(ours[r][i], ref.rows[r][i], type))
                    << "row " << r + 1 << " field " << table->fields()[i].name << " (" << type << "): ours "
                    << ours[r][i] << ", dbfread " << ref.rows[r][i];
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 60);
}

TEST(XbaseFixtures, DamagedAndForeignFilesAreRefusedByName)
{
    QM_REQUIRE_SHARED();
    for (const auto& path : fixtureTables()) {
        const std::string name = fs::path(path).filename().string();
        auto it = kRefused.find(name);
        if (it == kRefused.end())
            continue;
        SCOPED_TRACE(path);
        try {
            std::vector<std::vector<std::string>> rows;
            readAll(path, rows);
            ADD_FAILURE() << "no error";
        } catch (const qm::Error& e) {
            for (const auto& part : it->second)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    }
}

TEST(XbaseFixtures, HeaderFactsMatchTheFiles)
{
    QM_REQUIRE_SHARED();
    // A VFP table with every kind of field flag: autoincrement, nullable, varchar.
    auto t = DbfTable::open(qm::test::fixture("xbase/go-dbase/table/TEST.DBF").string());
    EXPECT_EQ(t->header().version, 0x32);
    EXPECT_EQ(t->recordCount(), 3u);
    EXPECT_EQ(t->liveRecordCount(), 2u);
    EXPECT_EQ(t->codePage(), 1252);
    ASSERT_EQ(t->fields().size(), 16u);
    const auto& id = t->fields()[0];
    EXPECT_EQ(id.name, "PRODUCTID");
    EXPECT_TRUE(id.autoIncrement());
    EXPECT_FALSE(id.nullable());
    const auto& varNil = t->fields()[t->fieldIndex("var_nil")];
    EXPECT_EQ(varNil.type, 'V');
    // Bits go field by field: VARBIN_NIL owns 0 (length) and 1 (null).
    EXPECT_EQ(varNil.varLengthBit, 2);
    EXPECT_EQ(varNil.nullBit, 3);
    EXPECT_EQ(t->fields()[t->fieldIndex("VARBIN_NIL")].varLengthBit, 0);
    ASSERT_NE(t->nullFlagsField(), nullptr);

    // A container member keeps the path of its container.
    auto member = DbfTable::open(qm::test::fixture("xbase/vfpx-samples/Northwind/orders.dbf").string());
    EXPECT_EQ(lower(member->header().backlink), "northwind.dbc");
    auto dbase = DbfTable::open(qm::test::fixture("xbase/infused-dbf/dbase_8b.dbf").string());
    EXPECT_EQ(dbase->format(), qm::xbase::TableFormat::DBase4);
    EXPECT_TRUE(dbase->fields()[dbase->fieldIndex("MEMO")].memoPointerIsText);
}

TEST(XbaseFixtures, CodePagesDecodeToUnicode)
{
    QM_REQUIRE_SHARED();
    // Windows-1251 (mark 0xC9): Cyrillic text.
    auto t = DbfTable::open(qm::test::fixture("xbase/infused-dbf/cp1251.dbf").string());
    EXPECT_EQ(t->codePage(), 1251);
    auto r = t->reader();
    qm::Value v;
    bool cyrillic = false;
    while (r->next()) {
        r->decode(static_cast<std::size_t>(t->fieldIndex("NAME")), v);
        const std::string& s = v.rawString();
        // Cyrillic letters are U+0400..U+04FF: lead bytes D0/D1 in UTF-8.
        if (s.find('\xD0') != std::string::npos || s.find('\xD1') != std::string::npos)
            cyrillic = true;
    }
    EXPECT_TRUE(cyrillic);
    // Chinese (mark 0x7A, code page 936).
    auto gbk = DbfTable::open(qm::test::fixture("xbase/vfpx-samples/Solution/Coverage/Demos/SavedCovLog.dbf").string());
    EXPECT_EQ(gbk->codePage(), 936);
}

TEST(XbaseFolder, CatalogColumnsAndCountsOfAFixtureFolder)
{
    QM_REQUIRE_SHARED();
    qm::storage::OpenOptions ro;
    ro.readOnly = true;
    auto db = qm::xbase::openFolder(qm::test::fixture("xbase/vfpx-samples/Northwind").string(), ro);
    auto cat = db->catalog();
    std::set<std::string> names;
    for (const auto& e : cat) {
        EXPECT_EQ(e.tableType, "TABLE");
        names.insert(e.name);
    }
    EXPECT_EQ(names.size(), 13u);
    EXPECT_TRUE(names.count("orders"));
    EXPECT_FALSE(names.count("northwind")); // the container is not a free table
    ASSERT_TRUE(db->find("ORDERS").has_value());
    EXPECT_EQ(db->rowCount("Orders"), 830u);
    EXPECT_EQ(db->rowCount("categories"), 8u); // one record is deleted

    auto cols = db->columns("orders");
    auto col = [&](const std::string& n) {
        for (const auto& c : cols)
            if (c.name == n)
                return c;
        ADD_FAILURE() << "no column " << n;
        return qm::storage::ColumnDef{};
    };
    EXPECT_EQ(col("ORDERID").adoType, 3);
    EXPECT_TRUE(col("ORDERID").autoIncrement);
    EXPECT_EQ(col("CUSTOMERID").adoType, 129);
    EXPECT_EQ(col("CUSTOMERID").definedSize, 5);
    EXPECT_EQ(col("CUSTOMERID").nativeType, "C(5)");
    EXPECT_EQ(col("ORDERDATE").adoType, 133);
    EXPECT_EQ(col("ORDERDATE").definedSize, 6);
    EXPECT_EQ(col("FREIGHT").adoType, 6);
    auto details = db->columns("orderdetails");
    EXPECT_EQ(details.back().adoType, 131); // DISCOUNT N(20,5)
    EXPECT_EQ(details.back().precision, 19);
    EXPECT_EQ(details.back().scale, 5);
    EXPECT_EQ(details.back().nativeType, "N(20,5)");

    // A cursor streams the live rows and says which record each one is.
    auto cur = db->scan("categories");
    std::uint64_t rows = 0;
    while (cur->next()) {
        ++rows;
        EXPECT_EQ(cur->value(1).type(), qm::VarType::String);
        EXPECT_GE(cur->rowId(), rows);
    }
    EXPECT_EQ(rows, 8u);
}

TEST(XbaseFolder, SubFoldersAreWalkedAndNamesMatchIgnoringCase)
{
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    fs::create_directories(dir.path() / "sub" / "deeper");
    const auto src = qm::test::fixture("xbase/vfpx-samples/Data");
    fs::copy_file(src / "country.dbf", dir.path() / "COUNTRY.DBF");
    fs::copy_file(src / "queries.dbf", dir.path() / "sub" / "deeper" / "Queries.dbf");
    fs::copy_file(src / "queries.fpt", dir.path() / "sub" / "deeper" / "Queries.FPT");
    fs::copy_file(src / "country.dbf", dir.path() / "sub" / "~tmp.dbf");
    qm::test::writeFile(dir.path() / "notes.txt", "not a table");
    auto db = qm::xbase::openFolder(dir.path().string(), {});
    auto cat = db->catalog();
    ASSERT_EQ(cat.size(), 2u);
    EXPECT_EQ(cat[0].name, "COUNTRY");
    EXPECT_EQ(cat[1].name, "Queries");
    EXPECT_EQ(db->rowCount("country"), 23u);
    EXPECT_EQ(db->rowCount("QUERIES"), 7u);
    EXPECT_THROW(db->rowCount("nosuch"), qm::Error);
    EXPECT_THROW(db->querySql("country"), qm::Error);
}
