// Tables of every column type, filled with edge values, read back by
// mdbtools and by our reader.
#include "jetw_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {

storage::TableSpec everyType() {
    storage::TableSpec t;
    t.name = "Every Type";
    storage::ColumnSpec dec = col("Amount", CT::Decimal);
    dec.precision = 28;
    dec.scale = 6;
    t.columns = {col("ID", CT::Long, 0, true), col("Short", CT::VarChar, 50), col("Long Text", CT::VarChar, 255),
                 col("Flag", CT::Boolean),     col("Tiny", CT::Byte),         col("Small", CT::Integer),
                 col("Whole", CT::Long),       col("Single", CT::Single),     col("Double", CT::Double),
                 col("Money", CT::Currency),   col("When", CT::DateTime),     dec,
                 col("Notes", CT::Memo),       col("Picture", CT::LongBinary), col("Guid", CT::Guid),
                 col("Bytes", CT::Binary, 20)};
    return t;
}

std::string pattern(std::size_t n, const std::string& unit) {
    std::string s;
    while (utf16Length(s) + utf16Length(unit) <= n) s += unit;
    return s;
}

std::string bytes(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = char((i * 131 + i / 7) & 0xFF);
    return s;
}

struct Case {
    std::vector<Value> values; // without the AutoNumber
};

std::vector<Case> cases() {
    const Guid g = *Guid::parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    return {
        {{Value::string("Smith & Sons"), Value::string("Hauptstraße 5, Köln"), Value::boolean(true), Value::byte(7),
          Value::integer(-12), Value::longInt(123456), Value::single(1.5f), Value::dbl(-2.25e10),
          Value::currency(12345678), Value::date(date::fromParts(1974, 9, 21, 10, 30, 15)),
          Value::decimal(*Decimal::parse("1234.5")), Value::string("short memo"), Value::binary("\x01\x02\x03"),
          Value::guid(g), Value::binary(std::string("\x00\xFF\x10", 3))}},
        // Limits: empty and 255-character text, extreme numbers, long values over many pages.
        {{Value::string(""), Value::string(pattern(255, "x")), Value::boolean(false), Value::byte(255),
          Value::integer(-32768), Value::longInt(-2147483647 - 1), Value::single(-3.0e38f), Value::dbl(1.0e300),
          Value::currency(922337203685477580LL), Value::date(date::fromParts(1900, 1, 1, 0, 0, 1)),
          Value::decimal(*Decimal::parse("-9999999999999999999999.999999")), Value::string(pattern(9000, "abcdé")),
          Value::binary(bytes(100000)), Value::guid(Guid{}), Value::binary(bytes(20))}},
        // Text outside Latin-1 (stored uncompressed) and a memo of several pages of it.
        {{Value::string("Ελληνικά"), Value::string("日本語のテキスト – Ω ≠ €"), Value::boolean(true), Value::byte(0),
          Value::integer(32767), Value::longInt(2147483647), Value::single(0.0f), Value::dbl(-0.5),
          Value::currency(-922337203685477580LL), Value::date(date::fromParts(2024, 2, 29, 23, 59, 59)),
          Value::decimal(*Decimal::parse("0.000001")), Value::string(pattern(20000, "Ω日x")),
          Value::binary(bytes(4076)), Value::guid(g), Value::binary("")}},
        // Nulls everywhere a Null can go.
        {{Value::null(), Value::null(), Value::boolean(false), Value::null(), Value::null(), Value::null(),
          Value::null(), Value::null(), Value::null(), Value::null(), Value::null(), Value::null(), Value::null(),
          Value::null(), Value::null()}},
    };
}

// What mdb-export prints for a value we stored.
std::string mdbText(const Value& v, CT type) {
    if (v.isNull()) return "";
    switch (type) {
    case CT::Boolean: return v.rawInt() ? "1" : "0";
    case CT::Byte:
    case CT::Integer:
    case CT::Long: return std::to_string(v.rawInt());
    case CT::Currency: {
        const std::int64_t n = v.rawInt();
        const std::uint64_t a = n < 0 ? std::uint64_t(-(n + 1)) + 1 : std::uint64_t(n);
        std::string frac = std::to_string(a % 10000);
        frac.insert(0, 4 - frac.size(), '0');
        return std::string(n < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac;
    }
    case CT::DateTime: return date::toIso(v.rawDouble());
    case CT::Decimal: return v.rawDecimal().rescaled(6).toString(); // printed at the column's scale
    case CT::LongBinary:
    case CT::Binary: return hex(v.rawString());
    case CT::Guid: {
        // mdb-export hex-encodes the GUID's text (with -b hex) and drops the
        // dash before the last group; compare the digits.
        std::string t = v.rawGuid().toString();
        std::erase(t, '-');
        return t;
    }
    default: return v.rawString();
    }
}

std::vector<Value> withId(int id, const std::vector<Value>& v) {
    std::vector<Value> r{Value::longInt(id)};
    r.insert(r.end(), v.begin(), v.end());
    return r;
}

} // namespace

class EveryType : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryType, ValuesReadBackIdenticallyByMdbtoolsAndOurReader) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = dir / GetParam();
    const storage::TableSpec spec = everyType();
    const auto input = cases();
    {
        auto db = qm::jet::createDatabase(p.string(), p.extension() == ".accdb" ? qm::jet::NewFileFormat::Ace12Accdb
                                                                                : qm::jet::NewFileFormat::Jet4Mdb);
        db->createTable(spec);
        for (const Case& c : input) {
            std::vector<Value> row{Value()}; // the AutoNumber is assigned
            row.insert(row.end(), c.values.begin(), c.values.end());
            db->append(spec.name, row);
        }
        EXPECT_EQ(db->rowCount(spec.name), input.size());
    }
    // mdbtools: names, types and every value.
    EXPECT_EQ(mdbTables(p), std::vector<std::string>{spec.name});
    const auto schema = qm::test::run({"mdb-schema", "-T", spec.name, p.string()});
    for (const char* piece : {"[ID]\t\t\tLong Integer", "[Short]\t\t\tText (50)", "[Long Text]\t\t\tText (255)",
                              "[Amount]\t\t\tNumeric (28, 6)", "[Notes]\t\t\tMemo/Hyperlink", "[Guid]\t\t\tReplication ID"})
        EXPECT_NE(schema.out.find(piece), std::string::npos) << piece << "\n" << schema.out;
    const Rows exported = mdbExport(p, spec.name);
    ASSERT_EQ(exported.size(), input.size());
    for (std::size_t r = 0; r < input.size(); ++r) {
        const auto expected = withId(int(r + 1), input[r].values);
        ASSERT_EQ(exported[r].size(), expected.size());
        for (std::size_t c = 0; c < expected.size(); ++c) {
            const CT type = spec.columns[c].type;
            SCOPED_TRACE("row " + std::to_string(r) + ", column " + spec.columns[c].name);
            if (type == CT::Single || type == CT::Double) {
                if (expected[c].isNull()) EXPECT_EQ(exported[r][c], "");
                else if (type == CT::Single)
                    EXPECT_EQ(float(std::strtod(exported[r][c].c_str(), nullptr)), float(expected[c].toDouble()));
                else EXPECT_EQ(std::strtod(exported[r][c].c_str(), nullptr), expected[c].toDouble());
            } else if (type == CT::Guid && !expected[c].isNull()) {
                std::string text;
                for (std::size_t i = 0; i + 1 < exported[r][c].size(); i += 2)
                    text.push_back(char(std::stoi(exported[r][c].substr(i, 2), nullptr, 16)));
                std::erase(text, '-');
                EXPECT_EQ(text, mdbText(expected[c], type));
            } else if (type == CT::Binary && !expected[c].isNull() && !expected[c].rawString().empty() &&
                       expected[c].rawString()[0] == '\0') {
                // mdb-export prints nothing for a Binary value that starts with a zero byte; our reader covers it.
            } else if (type == CT::DateTime && !expected[c].isNull() && expected[c].rawDouble() < 2) {
                // mdbtools prints nothing useful before 1900; our reader covers those.
            } else {
                EXPECT_EQ(exported[r][c], mdbText(expected[c], type));
            }
        }
    }
    // Our reader: the very values.
    storage::OpenOptions ro;
    ro.readOnly = true;
    auto db = qm::jet::openDatabase(p.string(), ro);
    auto cursor = db->scan(spec.name);
    for (std::size_t r = 0; r < input.size(); ++r) {
        ASSERT_TRUE(cursor->next());
        const auto expected = withId(int(r + 1), input[r].values);
        for (std::size_t c = 0; c < expected.size(); ++c) {
            SCOPED_TRACE("row " + std::to_string(r) + ", column " + spec.columns[c].name);
            const Value& got = cursor->value(c);
            if (expected[c].isNull()) {
                EXPECT_TRUE(got.isNull());
            } else if (spec.columns[c].type == CT::Single) {
                EXPECT_EQ(float(got.toDouble()), float(expected[c].rawDouble()));
            } else if (spec.columns[c].type == CT::Decimal) {
                EXPECT_TRUE(got.toDecimal() == expected[c].rawDecimal()) << got.toString();
            } else {
                EXPECT_TRUE(got == expected[c]) << got.toString() << " != " << expected[c].toString();
            }
        }
    }
    EXPECT_FALSE(cursor->next());
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryType, ::testing::Values("types.mdb", "types.accdb"));

TEST(Rows, DatesBeforeNineteenHundredKeepTheirTimeOfDay) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "dates.mdb");
    {
        auto db = openWritable(p);
        db->createTable({"Dates", {col("When", CT::DateTime)}, {}});
        for (double d : {-1.25, -657434.0, date::fromParts(1812, 6, 24, 6, 15, 0), 2958465.5})
            db->append("Dates", std::vector<Value>{Value::date(d)});
    }
    const Rows rows = readerRows(p, "Dates");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][0], "1899-12-29 06:00:00");
    EXPECT_EQ(rows[1][0], "0100-01-01 00:00:00");
    EXPECT_EQ(rows[2][0], "1812-06-24 06:15:00");
    EXPECT_EQ(rows[3][0], "9999-12-31 12:00:00");
}

TEST(Rows, EmojiAndOtherSurrogatePairsSurvive) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "emoji.accdb");
    const std::string text = "smile 😀 and 𝄞 clef";
    {
        auto db = openWritable(p);
        db->createTable({"T", {col("Name", CT::VarChar, 40), col("Notes", CT::Memo)}, {}});
        db->append("T", std::vector<Value>{Value::string(text), Value::string(text + text)});
    }
    const Rows rows = readerRows(p, "T");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], text);
    EXPECT_EQ(rows[0][1], text + text);
}

TEST(Rows, ValuesThatDoNotFitAreRefusedNamingTableColumnAndValue) {
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "refuse.mdb");
    auto db = openWritable(p);
    storage::ColumnSpec price = col("Price", CT::Decimal);
    price.precision = 5;
    price.scale = 2;
    db->createTable({"Items", {col("Name", CT::VarChar, 5), col("Qty", CT::Byte), col("Count", CT::Integer), price,
                               col("When", CT::DateTime)},
                     {}});
    struct Bad {
        std::vector<Value> row;
        const char* column;
    };
    const std::vector<Bad> bad = {
        {{Value::string("toolong")}, "Name"},
        {{Value(), Value::longInt(256)}, "Qty"},
        {{Value(), Value(), Value::longInt(40000)}, "Count"},
        {{Value(), Value(), Value(), Value::decimal(*Decimal::parse("1.234"))}, "Price"},
        {{Value(), Value(), Value(), Value::decimal(*Decimal::parse("1234.5"))}, "Price"},
        {{Value(), Value(), Value(), Value(), Value::string("not a date")}, "When"},
    };
    for (const Bad& b : bad) {
        try {
            db->append("Items", b.row);
            ADD_FAILURE() << "accepted a value for " << b.column;
        } catch (const Error& e) {
            const std::string m = e.what();
            EXPECT_NE(m.find("Items"), std::string::npos) << m;
            EXPECT_NE(m.find(b.column), std::string::npos) << m;
            EXPECT_NE(m.find(p.filename().string()), std::string::npos) << m;
        }
    }
    EXPECT_EQ(db->rowCount("Items"), 0u);
    db->append("Items", std::vector<Value>{Value::string("ok"), Value::byte(1), Value::integer(2),
                                           Value::decimal(*Decimal::parse("999.99")), Value::date(1)});
    EXPECT_EQ(db->rowCount("Items"), 1u);
}

TEST(Rows, ManyRowsFillPagesAndReadBackInOrder) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "many.mdb");
    const int n = 20000;
    {
        auto db = openWritable(p);
        db->createTable({"Log", {col("N", CT::Long), col("Text", CT::VarChar, 50), col("Memo", CT::Memo)}, {}});
        db->beginBatch();
        for (int i = 0; i < n; ++i)
            db->append("Log", std::vector<Value>{Value::longInt(i), Value::string("line " + std::to_string(i)),
                                                 i % 100 == 0 ? Value::string(std::string(5000, 'm')) : Value::null()});
        db->endBatch();
    }
    const Rows rows = mdbExport(p, "Log");
    ASSERT_EQ(rows.size(), std::size_t(n));
    for (int i = 0; i < n; i += 997) {
        EXPECT_EQ(rows[std::size_t(i)][0], std::to_string(i));
        EXPECT_EQ(rows[std::size_t(i)][1], "line " + std::to_string(i));
    }
    EXPECT_EQ(rows[100][2], std::string(5000, 'm'));
    EXPECT_EQ(qm::test::run({"mdb-count", p.string(), "Log"}).out, std::to_string(n) + "\n");
}

TEST(LargeFiles, ThePageUsageMapOutgrowsPageOneAndStaysRight) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "large.mdb");
    const int rows = 34000; // each value fills a page of its own: past the 32,000 pages page 1 can map
    {
        auto db = openWritable(p);
        db->createTable({"Blobs", {col("N", CT::Long), col("Data", CT::LongBinary)}, {{"PrimaryKey", {"N"}, true, false}}});
        db->beginBatch();
        std::string blob = bytes(4000);
        for (int i = 0; i < rows; ++i) {
            blob[0] = char(i & 0xFF);
            blob[1] = char(i >> 8);
            db->append("Blobs", std::vector<Value>{Value::longInt(i), Value::binary(blob)});
        }
        db->endBatch();
    }
    const auto pages = fs::file_size(p) / 4096;
    EXPECT_GT(pages, 34000u);
    // Page 1 row 0 is now a reference map; every page of the file is marked
    // in use (bit 0) by the bitmap pages it names.
    const std::string file = qm::test::readFile(p);
    const auto* b = reinterpret_cast<const std::uint8_t*>(file.data());
    const std::size_t row0 = (b[4096 + 14] | b[4096 + 15] << 8) & 0x1FFF;
    ASSERT_EQ(b[4096 + row0], 0x01);
    std::size_t marked = 0;
    for (std::size_t slot = 0; slot < 17; ++slot) {
        const std::uint8_t* s = b + 4096 + row0 + 1 + 4 * slot;
        const std::uint32_t bitmap = std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8 | std::uint32_t(s[2]) << 16;
        if (!bitmap) continue;
        ASSERT_LT(bitmap, pages);
        EXPECT_EQ(b[std::size_t(bitmap) * 4096], 0x05);
        for (std::size_t pg = slot * 32736; pg < std::min<std::size_t>(pages, (slot + 1) * 32736); ++pg) {
            const std::size_t bit = pg - slot * 32736;
            EXPECT_FALSE(b[std::size_t(bitmap) * 4096 + 4 + bit / 8] & (1u << (bit % 8))) << "page " << pg;
            ++marked;
        }
    }
    EXPECT_EQ(marked, pages);
    // The data reads back and the database still takes rows.
    openWritable(p)->append("Blobs", std::vector<Value>{Value::longInt(rows), Value::binary("last")});
    EXPECT_EQ(qm::test::run({"mdb-count", p.string(), "Blobs"}).out, std::to_string(rows + 1) + "\n");
    storage::OpenOptions ro;
    ro.readOnly = true;
    auto db = qm::jet::openDatabase(p.string(), ro);
    auto c = db->scan("Blobs");
    int seen = 0;
    while (c->next()) {
        const std::string& data = c->value(1).rawString();
        if (seen < rows) {
            ASSERT_EQ(data.size(), 4000u);
            ASSERT_EQ(std::uint8_t(data[0]) | std::uint8_t(data[1]) << 8, seen);
        } else {
            EXPECT_EQ(data, "last");
        }
        ++seen;
    }
    EXPECT_EQ(seen, rows + 1);
}

TEST(Rows, UpdatesAndDeletesReadBackEverywhere) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "update.accdb");
    auto db = openWritable(p);
    db->createTable({"Notes", {col("ID", CT::Long, 0, true), col("Title", CT::VarChar, 200), col("Body", CT::Memo),
                               col("Stars", CT::Byte)},
                     {}});
    db->beginBatch();
    for (int i = 0; i < 300; ++i)
        db->append("Notes", std::vector<Value>{Value(), Value::string("t" + std::to_string(i)), Value::null(),
                                               Value::byte(std::uint8_t(i % 5))});
    db->endBatch();
    std::vector<std::uint64_t> ids;
    {
        auto c = db->scan("Notes");
        while (c->next()) ids.push_back(c->rowId());
    }
    ASSERT_EQ(ids.size(), 300u);
    // Grow a row on a full page (it moves), shrink it again, grow it twice more.
    const std::string longTitle(200, 'L');
    db->update("Notes", ids[10], std::vector<Value>{Value(), Value::string(longTitle), Value::string(std::string(9000, 'b'))});
    db->update("Notes", ids[11], std::vector<Value>{Value(), Value::string("short")});
    db->update("Notes", ids[10], std::vector<Value>{Value(), Value::string("x")});
    db->update("Notes", ids[10], std::vector<Value>{Value(), Value::string(longTitle + "")});
    db->update("Notes", ids[12], std::vector<Value>{Value(), Value(), Value(), Value::null()});
    // Values not given stay as they were; an explicit Null clears.
    for (std::size_t i = 100; i < 300; i += 2) db->remove("Notes", ids[i]);
    EXPECT_THROW(db->remove("Notes", ids[100]), Error); // already gone
    db.reset();
    // mdbtools lists a moved row where its bytes now are, our reader where
    // the row was: compare in ID order.
    auto byId = [](Rows r) {
        std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) { return std::stoi(a[0]) < std::stoi(b[0]); });
        return r;
    };
    const Rows rows = byId(mdbExport(p, "Notes"));
    ASSERT_EQ(rows.size(), 200u);
    EXPECT_EQ(rows[10][1], longTitle);
    EXPECT_EQ(rows[10][2], std::string(9000, 'b'));
    EXPECT_EQ(rows[11][1], "short");
    EXPECT_EQ(rows[12][1], "t12");
    EXPECT_EQ(rows[12][3], "");
    EXPECT_EQ(rows[13][3], "3");
    EXPECT_EQ(rows[100][1], "t101");
    EXPECT_EQ(byId(readerRows(p, "Notes")), [&] {
        Rows r = rows;
        for (auto& row : r)
            for (auto& cell : row)
                if (cell.empty()) cell = "<null>";
        return r;
    }());
    EXPECT_EQ(qm::test::run({"mdb-count", p.string(), "Notes"}).out, "200\n");
}

TEST(Rows, RequiredColumnsRefuseNullsNowAndAfterReopening) {
    QM_REQUIRE_PROGRAM("mdb-schema");
    qm::test::TempDir dir;
    const fs::path p = newDatabase(dir, "required.mdb");
    storage::ColumnSpec name = col("Name", CT::VarChar, 30);
    name.nullable = false;
    {
        auto db = openWritable(p);
        db->createTable({"Staff", {col("ID", CT::Long, 0, true), name, col("Phone", CT::VarChar, 20)}, {}});
        db->append("Staff", std::vector<Value>{Value(), Value::string("Ann")});
    }
    const std::string schema = qm::test::run({"mdb-schema", "-T", "Staff", p.string()}).out;
    EXPECT_NE(schema.find("[Name]\t\t\tText (30) NOT NULL"), std::string::npos) << schema;
    EXPECT_EQ(schema.find("[Phone]\t\t\tText (20) NOT NULL"), std::string::npos) << schema;
    auto db = openWritable(p); // the rule comes back from the file
    for (const auto& row : {std::vector<Value>{Value(), Value::null()}, std::vector<Value>{Value()}}) {
        try {
            db->append("Staff", row);
            ADD_FAILURE() << "Null accepted in a required column";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("'Staff.Name' cannot contain a Null value"), std::string::npos)
                << e.what();
        }
    }
    // Changing another column of a row leaves the required one alone.
    auto c = db->scan("Staff");
    ASSERT_TRUE(c->next());
    const auto id = c->rowId();
    c.reset();
    db->update("Staff", id, std::vector<Value>{Value(), Value(), Value::string("555")});
    EXPECT_EQ(db->rowCount("Staff"), 1u);
}
