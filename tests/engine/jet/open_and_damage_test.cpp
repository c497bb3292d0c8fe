// Opening: passwords, encoded and encrypted files, read-only use; and
// damaged files, each of which must give a qm::Error that names the file
// (and the table where there is one) instead of a crash or an endless loop.
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/long_value.h"
#include "jet/rc4.h"
#include "jet_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

using namespace qm;
using namespace qm::jet;
namespace fs = std::filesystem;
using qm::test::errorOf;

namespace {

std::uint64_t readAll(storage::Database& db, const std::string& table) {
    auto cur = db.scan(table);
    std::uint64_t n = 0;
    while (cur->next()) {
        for (std::size_t i = 0; i < cur->columns().size(); ++i) (void)cur->value(i);
        ++n;
    }
    return n;
}

TEST(Passwords, Jet4FileOpensOnlyWithItsPassword) {
    QM_REQUIRE_SHARED();
    const std::string with = qm::test::fixture("access/mdb-reader/password/data/V2000_with-password.mdb").string();
    storage::OpenOptions right;
    right.password = "password";
    auto db = jet::openDatabase(with, right);
    EXPECT_EQ(readAll(*db, "Table1"), 3u);

    storage::OpenOptions wrong;
    wrong.password = "Password"; // passwords are case-sensitive
    EXPECT_EQ(errorOf([&] { jet::openDatabase(with, wrong); }), "Not a valid password.");
    EXPECT_EQ(errorOf([&] { jet::openDatabase(with, {}); }), "Not a valid password.");

    // The twin without a password opens with or without one.
    const std::string without = qm::test::fixture("access/mdb-reader/password/data/V2000_no-password.mdb").string();
    EXPECT_EQ(readAll(*jet::openDatabase(without, {}), "Table1"), 3u);
    EXPECT_EQ(readAll(*jet::openDatabase(without, right), "Table1"), 3u);
}

TEST(Passwords, JetEncodedFilesReadWithoutPassword) {
    QM_REQUIRE_SHARED();
    // Pages enciphered with RC4 under the database key (Jet 3 and Jet 4).
    for (const char* rel : {"access/jackcessencrypt/db97-enc.mdb", "access/jackcessencrypt/db-enc.mdb"}) {
        auto db = jet::openDatabase(qm::test::fixture(rel).string(), {});
        EXPECT_EQ(readAll(*db, "Table1"), 2u) << rel;
    }
    // Page 1 of the Jet 4 file decodes to a data page with the known header.
    JetDatabase db(qm::test::fixture("access/jackcessencrypt/db-enc.mdb").string(), {});
    PageRef p1 = db.pages().page(1);
    const std::uint8_t expect[] = {0x01, 0x01, 0x64, 0x0f, 0x01, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xbb, 0x0f};
    EXPECT_EQ(std::memcmp(p1->data(), expect, sizeof expect), 0);
}

TEST(ReadOnly, WritesRefusedAndFileUntouched) {
    QM_REQUIRE_SHARED();
    const fs::path path = qm::test::fixture("access/mdbtestdata/nwind.mdb");
    const std::string before = qm::test::readFile(path);
    storage::OpenOptions readOnly;
    readOnly.readOnly = true;
    {
        auto db = jet::openDatabase(path.string(), readOnly);
        for (const auto& e : db->catalog())
            if (e.kind == storage::ObjectKind::Table) readAll(*db, e.name);
        const std::string msg = errorOf([&] { db->dropTable("Orders"); });
        EXPECT_EQ(msg, path.string() + ": this database is open read-only");
        EXPECT_THROW(db->append("Orders", {}), Error);
        EXPECT_THROW(db->createView("v", "SELECT 1"), Error);
    }
    EXPECT_TRUE(qm::test::readFile(path) == before);
    // Opened for writing, reading alone still changes nothing and leaves no lock file.
    {
        auto db = jet::openDatabase(path.string(), {});
        for (const auto& e : db->catalog())
            if (e.kind == storage::ObjectKind::Table) readAll(*db, e.name);
    }
    EXPECT_TRUE(qm::test::readFile(path) == before);
    EXPECT_FALSE(fs::exists(fs::path(path).replace_extension(".ldb")));
}

TEST(Cursor, StreamsRowsAndReportsMisuse) {
    QM_REQUIRE_SHARED();
    const std::string path = qm::test::fixture("access/mdbtestdata/nwind.mdb").string();
    JetDatabase db(path, {});
    auto cur = db.scan("Order Details");
    EXPECT_NE(errorOf([&] { cur->value(0); }).find(path + ": table Order Details: there is no current row"),
              std::string::npos);
    std::uint64_t rows = 0;
    std::set<std::uint64_t> ids;
    while (cur->next()) {
        ++rows;
        ids.insert(cur->rowId());
    }
    EXPECT_EQ(rows, 2155u);
    EXPECT_EQ(ids.size(), rows) << "row ids are unique";
    // The page cache stays small: the table is read once, page by page.
    EXPECT_LT(db.pages().reads(), std::uint64_t(db.pages().pageCount()));
    EXPECT_FALSE(cur->next());
    EXPECT_THROW(cur->value(0), Error);
    auto again = db.scan("order details");
    ASSERT_TRUE(again->next());
    EXPECT_NE(errorOf([&] { again->value(5); }).find("there is no column 5 (the table has 5)"), std::string::npos);
}

TEST(Catalog, ProviderOrderAndKinds) {
    QM_REQUIRE_SHARED();
    auto db = jet::openDatabase(qm::test::fixture("access/mdbtestdata/nwind.mdb").string(), {});
    auto cat = db->catalog();
    // Grouped by TABLE_TYPE, names ascending ignoring case inside a group.
    std::vector<std::string> tables, views;
    for (std::size_t k = 0; k < cat.size(); ++k) {
        if (k > 0 && !cat[k - 1].tableType.empty() && !cat[k].tableType.empty())
            EXPECT_LE(cat[k - 1].tableType, cat[k].tableType);
        if (cat[k].tableType == "TABLE") tables.push_back(cat[k].name);
        if (cat[k].tableType == "VIEW") views.push_back(cat[k].name);
    }
    EXPECT_EQ(tables, (std::vector<std::string>{"Categories", "Customers", "Employees", "Order Details", "Orders",
                                                "Products", "Shippers", "Suppliers", "Umsätze"}));
    EXPECT_FALSE(views.empty());
    EXPECT_EQ(db->find("msysobjects")->tableType, "SYSTEM TABLE");
    EXPECT_EQ(db->find("MSysAccessObjects")->tableType, "ACCESS TABLE");
    EXPECT_EQ(db->find("ORDERS")->name, "Orders");
    EXPECT_FALSE(db->find("Nope"));

    auto linked = jet::openDatabase(qm::test::fixture("access/ucanaccess/linked.mdb").string(), {});
    auto t1 = linked->find("Table1");
    ASSERT_TRUE(t1);
    EXPECT_EQ(t1->tableType, "LINK");
    const std::string msg = errorOf([&] { linked->scan("Table1"); });
    EXPECT_NE(msg.find("linked table"), std::string::npos) << msg;
    auto odbc = jet::openDatabase(qm::test::fixture("access/jackcess/V2007/odbcLinkerTestV2007.accdb").string(), {});
    EXPECT_EQ(odbc->find("Ordrar")->tableType, "PASS-THROUGH");
}

TEST(Columns, ProviderTypesAndSizes) {
    QM_REQUIRE_SHARED();
    auto db = jet::openDatabase(qm::test::fixture("access/jackcess/V2007/testV2007.accdb").string(), {});
    struct Expect { const char* name; int ado; int size; const char* native; };
    const Expect expect[] = {{"A", 202, 50, "Text(50)"}, {"B", 202, 100, "Text(100)"}, {"C", 17, 1, "Byte"},
                             {"D", 2, 2, "Integer"},     {"E", 3, 4, "Long Integer"}, {"F", 5, 8, "Double"},
                             {"G", 7, 8, "Date/Time"},   {"H", 6, 8, "Currency"},     {"I", 11, 2, "Yes/No"}};
    auto cols = db->columns("Table1");
    ASSERT_EQ(cols.size(), 9u);
    for (std::size_t k = 0; k < 9; ++k) {
        EXPECT_EQ(cols[k].name, expect[k].name);
        EXPECT_EQ(cols[k].adoType, expect[k].ado) << expect[k].name;
        EXPECT_EQ(cols[k].definedSize, expect[k].size) << expect[k].name;
        EXPECT_EQ(cols[k].nativeType, expect[k].native);
    }
    auto dec = jet::openDatabase(qm::test::fixture("access/jackcess/V2010/calcFieldTestV2010.accdb").string(), {});
    for (const auto& c : dec->columns("Table1"))
        if (c.name == "Popularity") {
            EXPECT_EQ(c.nativeType, "Decimal(18,6)");
            EXPECT_EQ(c.adoType, 131);
            EXPECT_EQ(c.precision, 18);
            EXPECT_EQ(c.scale, 6);
        }
    // Northwind's hyperlink field: a memo column with the hyperlink flag.
    auto nwind = jet::openDatabase(qm::test::fixture("access/mdbtestdata/nwind.mdb").string(), {});
    const auto suppliers = nwind->columns("Suppliers");
    EXPECT_EQ(suppliers.back().name, "HomePage");
    EXPECT_EQ(suppliers.back().nativeType, "Hyperlink");
    EXPECT_EQ(suppliers.back().adoType, 203);
    EXPECT_EQ(suppliers.front().nativeType, "AutoNumber");
    EXPECT_TRUE(suppliers.front().autoIncrement);
    auto memo = jet::openDatabase(qm::test::fixture("access/jackcess/V2000/test2V2000.mdb").string(), {});
    for (const auto& c : memo->columns("MSP_PROJECTS")) {
        if (c.nativeType == "Memo") EXPECT_EQ(c.adoType, 203);
        if (c.nativeType == "OLE Object") EXPECT_EQ(c.adoType, 205);
    }
}

// Calculated columns (Access 2010+): the value is unwrapped and read as the
// type of the column's ResultType property, which the stored type code does
// not always match.  mdbtools shows none of them, so the expected values
// come from the table's own ordinary columns.
TEST(Columns, CalculatedColumnsReadAsTheirResultType) {
    QM_REQUIRE_SHARED();
    auto db = jet::openDatabase(qm::test::fixture("access/jackcess/V2010/calcFieldTestV2010.accdb").string(), {});
    auto cur = db->scan("Table1");
    std::map<std::string, std::size_t> at;
    for (std::size_t i = 0; i < cur->columns().size(); ++i) at[cur->columns()[i].name] = i;
    EXPECT_EQ(cur->columns()[at["MonthlySalary"]].nativeType, "Calculated (Currency)");
    EXPECT_EQ(cur->columns()[at["IsRich"]].adoType, 11);
    EXPECT_EQ(cur->columns()[at["AllNames"]].adoType, 203);
    int rows = 0;
    while (cur->next()) {
        ++rows;
        const std::string first = cur->value(at["FirstName"]).rawString();
        const std::string last = cur->value(at["LastName"]).rawString();
        EXPECT_EQ(cur->value(at["LastFirst"]).rawString(), last + ", " + first);
        EXPECT_EQ(cur->value(at["LastFirstLen"]).rawInt(), std::int64_t(last.size() + 2 + first.size()));
        const std::int64_t salary = cur->value(at["Salary"]).rawInt(); // scaled by 10,000
        const Value& monthly = cur->value(at["MonthlySalary"]);
        ASSERT_EQ(monthly.type(), VarType::Currency);
        EXPECT_LE(std::llabs(monthly.rawInt() - salary / 12), 1);
        const Value& weekly = cur->value(at["WeeklySalary"]);
        ASSERT_EQ(weekly.type(), VarType::Decimal);
        EXPECT_NEAR(weekly.rawDecimal().toDouble(), double(salary) / 10000.0 / 52.0, 1e-6);
        EXPECT_EQ(cur->value(at["IsRich"]).type(), VarType::Boolean);
        EXPECT_EQ(cur->value(at["IsRich"]).rawInt() != 0, first == "Bruce"); // the one millionaire
        EXPECT_EQ(cur->value(at["AllNames"]).type(), VarType::String);
    }
    EXPECT_EQ(rows, 4) << "the stored row count (3) is stale; four rows are present";
    EXPECT_EQ(db->rowCount("Table1"), 4u);
}

// ---- damaged files ----

class Damage : public ::testing::Test {
protected:
    void SetUp() override {
        QM_REQUIRE_SHARED();
        original_ = qm::test::readFile(qm::test::fixture("access/jackcess/V2000/test2V2000.mdb"));
        JetDatabase db(qm::test::fixture("access/jackcess/V2000/test2V2000.mdb").string(), {});
        auto def = db.tableDef("MSP_PROJECTS");
        tdef_ = def->tdefPage;
        PageRef owned = db.pages().page(def->ownedPages.page);
        const RowSlot s = rowSlot(db.pages(), *owned, def->ownedPages.row, "test");
        // The table's first data page, from its inline owned-pages map.
        const std::uint8_t* map = owned->data() + s.start;
        ASSERT_EQ(map[0], 0);
        const std::uint32_t start = u32(map + 1);
        for (std::size_t bit = 0; bit < (s.size() - 5u) * 8; ++bit)
            if (map[5 + bit / 8] >> (bit % 8) & 1) {
                dataPage_ = start + std::uint32_t(bit);
                break;
            }
        ASSERT_NE(dataPage_, 0u);
        ownedMapAt_ = std::size_t(def->ownedPages.page) * 4096 + s.start;
    }
    std::string write(const std::string& bytes) {
        const fs::path p = dir_ / "damaged.mdb";
        qm::test::writeFile(p, bytes);
        return p.string();
    }
    // Opens and reads everything; returns the error text.
    std::string readDamaged(const std::string& bytes) {
        const std::string path = write(bytes);
        return errorOf([&] {
            auto db = jet::openDatabase(path, {});
            readAll(*db, "MSP_PROJECTS");
        });
    }
    std::size_t at(std::uint32_t page, std::size_t offset) const { return std::size_t(page) * 4096 + offset; }

    qm::test::TempDir dir_;
    std::string original_;
    std::uint32_t tdef_ = 0, dataPage_ = 0;
    std::size_t ownedMapAt_ = 0;
};

TEST_F(Damage, TruncatedFiles) {
    const std::string tiny = readDamaged(original_.substr(0, 100));
    EXPECT_NE(tiny.find("damaged.mdb: not an Access database"), std::string::npos) << tiny;
    const std::string halfPage = readDamaged(original_.substr(0, 3000));
    EXPECT_NE(halfPage.find("truncated"), std::string::npos) << halfPage;
    // Cut just before the table's data page: the page is past the end.
    const std::string cut = readDamaged(original_.substr(0, std::size_t(dataPage_) * 4096));
    EXPECT_NE(cut.find("damaged.mdb"), std::string::npos) << cut;
    EXPECT_NE(cut.find("past the end of the file"), std::string::npos) << cut;
    EXPECT_EQ(readDamaged(""), write("") + ": not an Access database (the file is only 0 bytes long)");
}

TEST_F(Damage, UsageMapPointsPastTheEnd) {
    std::string b = original_;
    // Start page of the inline map far beyond the file.
    b[ownedMapAt_ + 1] = '\x00';
    b[ownedMapAt_ + 2] = '\x00';
    b[ownedMapAt_ + 3] = '\x70';
    const std::string msg = readDamaged(b);
    EXPECT_NE(msg.find("past the end"), std::string::npos) << msg;
}

TEST_F(Damage, TableDefinitionChainLoops) {
    std::string b = original_;
    // Claim a definition longer than the page and chain the page to itself.
    const std::uint32_t len = 9000;
    std::memcpy(&b[at(tdef_, 8)], &len, 4);
    std::memcpy(&b[at(tdef_, 4)], &tdef_, 4);
    const std::string msg = readDamaged(b);
    EXPECT_NE(msg.find("table MSP_PROJECTS"), std::string::npos) << msg;
    EXPECT_NE(msg.find("loop"), std::string::npos) << msg;
}

TEST_F(Damage, RowOffsetOutsideItsPage) {
    std::string b = original_;
    b[at(dataPage_, 14)] = '\xff';
    b[at(dataPage_, 15)] = '\x1f';
    const std::string msg = readDamaged(b);
    EXPECT_NE(msg.find("table MSP_PROJECTS"), std::string::npos) << msg;
    EXPECT_NE(msg.find("outside its page"), std::string::npos) << msg;

    std::string many = original_;
    many[at(dataPage_, 12)] = '\xff';
    many[at(dataPage_, 13)] = '\x7f';
    const std::string msg2 = readDamaged(many);
    EXPECT_NE(msg2.find("more than the page can hold"), std::string::npos) << msg2;
}

TEST_F(Damage, ColumnCountDisagreesWithTheDefinition) {
    std::string b = original_;
    const std::uint16_t rowStart = std::uint16_t(std::uint8_t(b[at(dataPage_, 14)]) |
                                                 (std::uint8_t(b[at(dataPage_, 15)]) << 8)) & 0x1FFF;
    b[at(dataPage_, rowStart)] = '\xf0';
    b[at(dataPage_, rowStart + 1)] = '\x03';
    const std::string msg = readDamaged(b);
    EXPECT_NE(msg.find("damaged.mdb: table MSP_PROJECTS: row 0 of page"), std::string::npos) << msg;
    EXPECT_NE(msg.find("1008 columns"), std::string::npos) << msg;
}

TEST_F(Damage, MovedRowPointsBackAtItself) {
    std::string b = original_;
    const std::size_t slot = at(dataPage_, 14);
    const std::uint16_t rowStart = std::uint16_t(std::uint8_t(b[slot]) | (std::uint8_t(b[slot + 1]) << 8)) & 0x1FFF;
    b[slot + 1] = char(b[slot + 1] | 0x40); // "the row moved"
    b[at(dataPage_, rowStart)] = 0;         // ... to row 0 of this very page
    std::memcpy(&b[at(dataPage_, rowStart + 1)], &dataPage_, 3);
    const std::string msg = readDamaged(b);
    EXPECT_NE(msg.find("table MSP_PROJECTS"), std::string::npos) << msg;
    EXPECT_NE(msg.find("loop"), std::string::npos) << msg;
}

TEST_F(Damage, EveryByteOfTheDefinitionFlipped) {
    // Whatever a single damaged byte in the table definition or the data
    // page does, reading ends with a value or a qm::Error, never a crash.
    for (std::uint32_t page : {tdef_, dataPage_}) {
        for (std::size_t off = 0; off < 700; off += 2) {
            std::string b = original_;
            b[at(page, off)] = char(b[at(page, off)] ^ 0x5A);
            const std::string path = write(b);
            try {
                auto db = jet::openDatabase(path, {});
                readAll(*db, "MSP_PROJECTS");
                (void)db->columns("MSP_PROJECTS");
            } catch (const Error&) {
            }
        }
    }
}

// Long value chains are followed on LVAL pages; a chain that comes back to
// a row it has visited is reported instead of being read forever.
TEST(DamagedLongValue, ChainLoopAndShortChain) {
    qm::test::TempDir dir;
    const Format f = Format::forVersion(Version::Jet4);
    std::string file(4096 * 4, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(file.data());
    std::memcpy(p + 4, "Standard Jet DB", 15);
    p[0x14] = 1;
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(key, 4).apply(p + 0x18, f.maskedLength);
    // Page 3: an LVAL page with one row [next = page 3 row 0][100 bytes].
    std::uint8_t* lv = p + 3 * 4096;
    lv[0] = 1;
    lv[1] = 1;
    std::memcpy(lv + 4, "LVAL", 4);
    lv[12] = 1; // one row
    const std::uint16_t start = 4096 - 104;
    lv[14] = std::uint8_t(start);
    lv[15] = std::uint8_t(start >> 8);
    lv[start] = 0;
    lv[start + 1] = 3;
    const fs::path path = dir / "lv.mdb";
    qm::test::writeFile(path, file);

    PageSource src(path.string(), "");
    LongValueReader reader(src);
    const std::string table = "T", column = "M";
    const LongValueContext where{&table, &column, 7, 2};
    std::uint8_t header[12] = {0x10, 0x27, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00}; // 10000 bytes, chain at 3/0
    std::string out;
    const std::string loop = errorOf([&] { reader.read(header, 12, out, where); });
    EXPECT_NE(loop.find("lv.mdb: table T, column M, row 2 of page 7"), std::string::npos) << loop;
    EXPECT_NE(loop.find("loop"), std::string::npos) << loop;

    // End the chain after the first row: too short for the claimed length.
    lv[start + 1] = 0;
    qm::test::writeFile(path, file);
    PageSource src2(path.string(), "");
    LongValueReader reader2(src2);
    const std::string shortChain = errorOf([&] { reader2.read(header, 12, out, where); });
    EXPECT_NE(shortChain.find("ends after 100 of 10000 bytes"), std::string::npos) << shortChain;

    // Inline data longer than the row holds; a pointer to a non-LVAL page.
    std::uint8_t inlineHeader[14] = {0x20, 0x00, 0x00, 0x80};
    EXPECT_NE(errorOf([&] { reader2.read(inlineHeader, 14, out, where); }).find("row holds 2"), std::string::npos);
    std::uint8_t wrongPage[12] = {0x10, 0x00, 0x00, 0x40, 0x00, 0x02, 0x00, 0x00};
    EXPECT_NE(errorOf([&] { reader2.read(wrongPage, 12, out, where); }).find("not a long value page"),
              std::string::npos);
}

} // namespace
