// Damaged and hostile files: each gives a qm::Error that names the file and
// the problem; none crashes, reads out of bounds or loops.
#include "dbf_table.h"
#include "storage/open.h"
#include "test_support.h"

#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using qm::Value;
using qm::xbase::DbfTable;
using qm::xbase::FieldSpec;

namespace {

void putLe32(std::string& s, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putLe16(std::string& s, std::size_t at, std::uint16_t v)
{
    s[at] = static_cast<char>(v & 0xFF);
    s[at + 1] = static_cast<char>(v >> 8);
}

// Opens and reads every field of every record (deleted ones too).
void readEverything(const std::string& path)
{
    auto t = DbfTable::open(path);
    auto r = t->reader(true);
    Value v;
    while (r->next())
        for (std::size_t i = 0; i < t->fields().size(); ++i)
            r->decode(i, v);
}

std::string errorOf(const std::string& path)
{
    try {
        readEverything(path);
    } catch (const qm::Error& e) {
        return e.what();
    }
    return "(no error)";
}

// A small VFP table with every kind of field and a few records, as bytes.
struct Sample {
    qm::test::TempDir dir;
    std::string dbf, fpt;
    Sample(qm::xbase::TableFormat format = qm::xbase::TableFormat::VisualFoxPro)
    {
        const bool vfp = format == qm::xbase::TableFormat::VisualFoxPro;
        std::vector<FieldSpec> fields{{"NAME", 'C', 10, 0, vfp}, {"N", 'N', 8, 2}, {"D", 'D', 8}, {"L", 'L', 1},
                                      {"M", 'M', 4, 0, vfp}};
        if (vfp) {
            fields.push_back({"V", 'V', 12, 0, true});
            fields.push_back({"I", 'I', 4});
            fields.push_back({"T", 'T', 8});
            fields.push_back({"Y", 'Y', 8});
        }
        qm::xbase::CreateOptions o;
        o.format = format;
        auto t = DbfTable::create((dir / "s.dbf").string(), fields, o);
        t->begin();
        for (int i = 0; i < 6; ++i) {
            std::vector<Value> row{Value::string("n" + std::to_string(i)), Value::longInt(i), Value::date(40000 + i),
                                   Value::boolean(i % 2), Value::string(std::string(static_cast<std::size_t>(i) * 30, 'm'))};
            if (vfp) {
                row.push_back(i == 2 ? Value::null() : Value::string("v" + std::to_string(i)));
                row.push_back(Value::longInt(i));
                row.push_back(Value::date(40000.5 + i));
                row.push_back(Value::currency(i));
            }
            t->append(row);
        }
        t->setDeleted(2);
        t->commit();
        t.reset();
        dbf = qm::test::readFile(dir / "s.dbf");
        fpt = qm::test::readFile(dir / (vfp ? "s.fpt" : "s.dbt"));
    }
    std::string path() const { return (dir.path() / "s.dbf").string(); }
    void write(const std::string& d) { qm::test::writeFile(dir / "s.dbf", d); }
};

void expectError(const std::string& path, std::initializer_list<const char*> parts)
{
    const std::string e = errorOf(path);
    EXPECT_NE(e.find(fs::path(path).filename().string()), std::string::npos) << e;
    for (const char* p : parts)
        EXPECT_NE(e.find(p), std::string::npos) << e;
}

} // namespace

TEST(XbaseBadInput, DamagedHeadersAreNamed)
{
    Sample s;
    // Shorter than a header.
    s.write(s.dbf.substr(0, 20));
    expectError(s.path(), {"shorter than a table header"});
    // Cut inside the records.
    s.write(s.dbf.substr(0, s.dbf.size() - 30));
    expectError(s.path(), {"counts 6 records", "cut short"});
    // A record count far beyond the file.
    std::string d = s.dbf;
    putLe32(d, 4, 0x7FFFFFFF);
    s.write(d);
    expectError(s.path(), {"counts 2147483647 records"});
    // Header length past the end of the file.
    d = s.dbf;
    putLe16(d, 8, 60000);
    s.write(d);
    expectError(s.path(), {"header length 60000"});
    // Header length too small.
    d = s.dbf;
    putLe16(d, 8, 10);
    s.write(d);
    expectError(s.path(), {"header length 10"});
    // Record length that does not hold the fields.
    d = s.dbf;
    putLe16(d, 10, 5);
    s.write(d);
    expectError(s.path(), {"outside the record length"});
    // Unknown version byte and unknown field type.
    d = s.dbf;
    d[0] = static_cast<char>(0x99);
    s.write(d);
    expectError(s.path(), {"unknown version byte 0x99"});
    d = s.dbf;
    d[32 + 11] = 'X';
    s.write(d);
    expectError(s.path(), {"unknown type 'X'", "NAME"});
    // Field descriptors running past the header: terminator removed and the
    // header made to end inside a descriptor.
    d = s.dbf;
    putLe16(d, 8, 32 + 32 * 2 + 7);
    s.write(d);
    expectError(s.path(), {"overruns the header"});
    // _NullFlags too short for the nullable fields.
    d = s.dbf;
    for (std::size_t pos = 32; pos + 32 < d.size() && d[pos] != 0x0D; pos += 32)
        if (d[pos + 11] == '0')
            d[pos + 16] = 0; // length 0
    s.write(d);
    expectError(s.path(), {"damaged"});
}

TEST(XbaseBadInput, BrokenMemoReferencesAreNamed)
{
    Sample s;
    // A memo pointer past the end of the memo file.
    auto t = DbfTable::open(s.path());
    const auto m = t->fields()[static_cast<std::size_t>(t->fieldIndex("M"))];
    const std::size_t rec2 = t->header().headerLength + t->header().recordLength * 1;
    t.reset();
    std::string d = s.dbf;
    putLe32(d, rec2 + m.offset, 0x00FFFFFF);
    s.write(d);
    expectError(s.path(), {"s.fpt", "block 16777215", "past the end", "record 2", "field M"});
    // A memo whose length runs past the end of the memo file.
    s.write(s.dbf);
    std::string f = s.fpt;
    // The first memo (row 2: 30 bytes) starts at block 8: its length is at 8*64+4.
    f[8 * 64 + 4] = 0x7F;
    qm::test::writeFile(s.dir / "s.fpt", f);
    expectError(s.path(), {"s.fpt", "more than the file holds"});
    // Memo file missing, or too short to hold its header.
    fs::remove(s.dir / "s.fpt");
    expectError(s.path(), {"memo file", "s.fpt", "missing"});
    qm::test::writeFile(s.dir / "s.fpt", "abc");
    expectError(s.path(), {"s.fpt", "shorter than its header"});
}

TEST(XbaseBadInput, DBaseMemoPointersAndValues)
{
    Sample s(qm::xbase::TableFormat::DBase3);
    auto t = DbfTable::open(s.path());
    const auto m = t->fields()[static_cast<std::size_t>(t->fieldIndex("M"))];
    const auto dfield = t->fields()[static_cast<std::size_t>(t->fieldIndex("D"))];
    const std::size_t rec1 = t->header().headerLength;
    t.reset();
    std::string d = s.dbf;
    d.replace(rec1 + m.offset, 10, "    12ab  ");
    s.write(d);
    expectError(s.path(), {"memo pointer", "12ab", "record 1"});
    d = s.dbf;
    d.replace(rec1 + m.offset, 10, "      9999");
    s.write(d);
    expectError(s.path(), {"s.dbt", "block 9999"});
    d = s.dbf;
    d.replace(rec1 + dfield.offset, 8, "20231345");
    s.write(d);
    expectError(s.path(), {"invalid date", "20231345", "field D"});
}

TEST(XbaseBadInput, MissingFilesAndFolders)
{
    qm::test::TempDir dir;
    EXPECT_THROW(DbfTable::open((dir / "none.dbf").string()), qm::Error);
    try {
        qm::xbase::openFolder((dir / "no-such-folder").string(), {});
        ADD_FAILURE();
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("no-such-folder"), std::string::npos);
    }
    EXPECT_THROW(qm::xbase::openSingleTable((dir / "none.dbf").string(), {}), qm::Error);
    EXPECT_THROW(qm::xbase::openContainer((dir / "none.dbc").string(), {}), qm::Error);
}

// Random damage: every variant opens and reads or throws qm::Error; the
// sanitizer build catches any read out of bounds.
TEST(XbaseBadInput, RandomlyDamagedFilesNeverCrash)
{
    for (auto format : {qm::xbase::TableFormat::VisualFoxPro, qm::xbase::TableFormat::DBase3}) {
        Sample s(format);
        const bool vfp = format == qm::xbase::TableFormat::VisualFoxPro;
        const auto memoPath = s.dir / (vfp ? "s.fpt" : "s.dbt");
        std::mt19937 rng(vfp ? 7 : 8);
        int errors = 0, fine = 0;
        for (int round = 0; round < 800; ++round) {
            std::string d = s.dbf, f = s.fpt;
            std::string& target = round % 4 == 3 ? f : d;
            const int kind = std::uniform_int_distribution<int>(0, 2)(rng);
            if (kind == 0) { // flip bytes
                int n = std::uniform_int_distribution<int>(1, 6)(rng);
                for (int k = 0; k < n; ++k)
                    target[std::uniform_int_distribution<std::size_t>(0, target.size() - 1)(rng)] =
                        static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            } else if (kind == 1) { // cut
                target.resize(std::uniform_int_distribution<std::size_t>(0, target.size())(rng));
            } else { // damage the header or the descriptors
                std::size_t at = std::uniform_int_distribution<std::size_t>(0, std::min<std::size_t>(target.size(), 200) - 1)(rng);
                target[at] = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
            }
            s.write(d);
            qm::test::writeFile(memoPath, f);
            try {
                readEverything(s.path());
                ++fine;
            } catch (const qm::Error& e) {
                ++errors;
                ASSERT_NE(std::string(e.what()).find("s."), std::string::npos) << "error without a file name: " << e.what();
            }
        }
        EXPECT_GT(errors, 50);
        EXPECT_GT(fine, 50);
    }
}

TEST(XbaseBadInput, TextInAnUnknownCodePageIsRefusedNotGuessed)
{
    qm::test::TempDir dir;
    const std::string path = (dir / "cp.dbf").string();
    {
        auto t = DbfTable::create(path, {FieldSpec{"T", 'C', 10}});
        t->append(std::vector<Value>{Value::string("plain")});
        t->append(std::vector<Value>{Value::string("caf\xC3\xA9")});
    }
    std::string d = qm::test::readFile(path);
    d[29] = 0x7F; // a mark no code page has
    qm::test::writeFile(path, d);
    auto t = DbfTable::open(path);
    auto r = t->reader();
    Value v;
    ASSERT_TRUE(r->next());
    r->decode(0, v); // ASCII reads the same in every code page
    EXPECT_EQ(v.rawString(), "plain     ");
    ASSERT_TRUE(r->next());
    try {
        r->decode(0, v);
        ADD_FAILURE() << "guessed";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("mark 0x7F"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("cp.dbf"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("record 2"), std::string::npos) << e.what();
    }
}
