// Decoding pieces checked against hand-made bytes: the header mask, text
// compression, the row layouts of both generations (including the Jet 3
// jump table), Decimal and Date/Time Extended values.
#include "jet/page_source.h"
#include "jet/rc4.h"
#include "jet/row_decoder.h"
#include "jet/text.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace qm;
using namespace qm::jet;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list) out.push_back(std::uint8_t(b));
    return out;
}

// A minimal file: a header page that masks to all-zero fields, then empty
// pages; enough for a PageSource to open it.
std::string makeFile(Version v, int pages) {
    const Format f = Format::forVersion(v);
    std::string file(std::size_t(f.pageSize) * std::size_t(pages), '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(file.data());
    p[1] = 1;
    std::memcpy(p + 4, v >= Version::Ace12 ? "Standard ACE DB" : "Standard Jet DB", 15);
    p[0x14] = std::uint8_t(v);
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4 rc4(key, 4);
    rc4.apply(p + 0x18, f.maskedLength); // masks zeros: no key, no password
    return file;
}

// No Jet 3 sample with a known password exists; this one is made here: the
// password sits in the masked region as code-page text (Jet 3) or as
// UTF-16LE masked again with the creation date's whole days (Jet 4).
TEST(HeaderPassword, Jet3AndJet4StoredForms) {
    qm::test::TempDir dir;
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    {
        std::string file(2048 * 4, '\0');
        auto* p = reinterpret_cast<std::uint8_t*>(file.data());
        std::memcpy(p + 4, "Standard Jet DB", 15);
        p[0x14] = 0;
        p[0x3C] = 0xE4; // code page 1252
        p[0x3D] = 0x04;
        std::memcpy(p + 0x42, "s\xE9" "cret", 6); // "sécret" in cp1252
        Rc4(key, 4).apply(p + 0x18, 126);
        qm::test::writeFile(dir / "j3.mdb", file);
        EXPECT_NO_THROW(PageSource((dir / "j3.mdb").string(), "s\xC3\xA9" "cret"));
        for (const char* wrong : {"", "secret", "S\xC3\xA9" "cret", "s\xC3\xA9" "cret2"}) {
            try {
                PageSource((dir / "j3.mdb").string(), wrong);
                ADD_FAILURE() << "opened with '" << wrong << "'";
            } catch (const Error& e) {
                EXPECT_STREQ(e.what(), "Not a valid password.");
            }
        }
    }
    {
        std::string file(4096 * 4, '\0');
        auto* p = reinterpret_cast<std::uint8_t*>(file.data());
        std::memcpy(p + 4, "Standard Jet DB", 15);
        p[0x14] = 1;
        const double created = 38143.546;
        std::memcpy(p + 0x72, &created, 8);
        const char16_t pw[] = u"pass\u00FCwort";
        for (int k = 0; k < 9; ++k) {
            p[0x42 + 2 * k] = std::uint8_t(pw[k]);
            p[0x43 + 2 * k] = std::uint8_t(pw[k] >> 8);
        }
        const std::uint8_t mask[4] = {0xff, 0x94, 0x00, 0x00}; // 38143 as int32
        for (int k = 0; k < 40; ++k) p[0x42 + k] ^= mask[k % 4];
        Rc4(key, 4).apply(p + 0x18, 128);
        qm::test::writeFile(dir / "j4.mdb", file);
        EXPECT_NO_THROW(PageSource((dir / "j4.mdb").string(), "pass\xC3\xBCwort"));
        EXPECT_THROW(PageSource((dir / "j4.mdb").string(), "passuwort"), Error);
    }
}

TEST(HeaderMask, KeystreamStartsWithTheKnownBytes) {
    std::uint8_t zeros[16] = {};
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(key, 4).apply(zeros, 16);
    EXPECT_EQ(std::vector<std::uint8_t>(zeros, zeros + 16),
              bytes({0xb5, 0x6f, 0x03, 0x62, 0x61, 0x08, 0xc2, 0x55, 0xeb, 0xa9, 0x67, 0x72, 0x43, 0x3f, 0x00, 0x9c}));
}

TEST(Text, CompressedAndPlainUnicode) {
    std::string out;
    auto c = bytes({0xff, 0xfe, 'a', 'b', 'c', 'd', 'e', 'f', 'g'});
    appendJet4Text(c.data(), c.size(), out);
    EXPECT_EQ(out, "abcdefg");

    // Compressed run, switch to two-byte characters (U+3042), switch back.
    out.clear();
    auto mixed = bytes({0xff, 0xfe, 'x', 0x00, 0x42, 0x30, 0x00, 'y'});
    appendJet4Text(mixed.data(), mixed.size(), out);
    EXPECT_EQ(out, "x\xE3\x81\x82y");

    // A surrogate pair and an unpaired surrogate.
    out.clear();
    auto emoji = bytes({0x3d, 0xd8, 0x00, 0xde, 0x3d, 0xd8, 'a', 0});
    appendJet4Text(emoji.data(), emoji.size(), out);
    EXPECT_EQ(out, "\xF0\x9F\x98\x80\xEF\xBF\xBD" "a");

    CodePage cp1252(1252);
    out.clear();
    auto euro = bytes({0x80, 'e', 0xe9});
    cp1252.append(euro.data(), euro.size(), out);
    EXPECT_EQ(out, "\xE2\x82\xAC" "e\xC3\xA9");
}

// Bytes a Jet 3 code page leaves undefined keep their value as the code
// point (as Windows reads them) instead of turning into U+FFFD, in every
// single-byte code page such files use.
TEST(Text, Jet3UndefinedBytesKeepTheirValue) {
    struct Case {
        int codePage;
        std::vector<std::uint8_t> undefined;
    } cases[] = {
        {1252, {0x81, 0x8d, 0x8f, 0x90, 0x9d}}, {1250, {0x81, 0x83, 0x88, 0x90, 0x98}}, {1251, {0x98}},
        {1253, {0x81, 0xaa, 0xd2, 0xff}},       {1255, {0x81, 0xca, 0xfb, 0xff}},       {1257, {0x81, 0xa1, 0xa5}},
        {874, {0x81, 0xdb, 0xff}},              {1254, {0x81, 0x9e}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        CodePage cp(c.codePage);
        std::string out, want;
        cp.append(c.undefined.data(), c.undefined.size(), out);
        for (auto b : c.undefined) appendCodePoint(b, want);
        EXPECT_EQ(out, want);
    }
    // Hebrew letters come out one by one (the converter would hold each
    // back for points that may follow).
    CodePage hebrew(1255);
    std::string alefBet;
    auto letters = bytes({0xe0, 0xe1});
    hebrew.append(letters.data(), letters.size(), alefBet);
    EXPECT_EQ(alefBet, "\xD7\x90\xD7\x91");
    // Defined bytes around them still read as their characters.
    CodePage cp1252(1252);
    std::string out;
    auto mixed = bytes({0x80, 0x81, 0x82});
    cp1252.append(mixed.data(), mixed.size(), out);
    EXPECT_EQ(out, "\xE2\x82\xAC\xC2\x81\xE2\x80\x9A");
}

TEST(ExtendedDate, DigitsToText) {
    const char* raw = "0000000000000737641:0000000459001234567:7";
    std::vector<std::uint8_t> v(raw, raw + 42);
    v.resize(42, 0);
    // 2020-01-01 is day 737424 after 0001-01-01, so 737641 is 2020-08-05.
    std::string out;
    ASSERT_TRUE(extendedDateToText(v.data(), v.size(), out));
    EXPECT_EQ(out, "2020-08-05 12:45:00.1234567");
    v[5] = 'x';
    EXPECT_FALSE(extendedDateToText(v.data(), v.size(), out));
    // Nineteen nines overflow a 64-bit day count: refused, not wrapped.
    const char* huge = "9999999999999999999:0000000459001234567:7";
    std::vector<std::uint8_t> h(huge, huge + 42);
    h.resize(42, 0);
    EXPECT_FALSE(extendedDateToText(h.data(), h.size(), out));
}

class RowLayout : public ::testing::Test {
protected:
    void open(Version v) {
        path_ = dir_ / "rows.mdb";
        qm::test::writeFile(path_, makeFile(v, 4));
        src_ = std::make_unique<PageSource>(path_.string(), "");
    }
    static ColumnInfo col(const char* name, std::uint8_t type, std::uint16_t number, std::uint16_t fixedOffset,
                          std::uint16_t varIndex, std::uint16_t length, bool fixed) {
        ColumnInfo c;
        c.name = name;
        c.type = type;
        c.number = number;
        c.fixedOffset = fixedOffset;
        c.varIndex = varIndex;
        c.length = length;
        c.flags = fixed ? 0x03 : 0x02;
        return c;
    }
    TableDef exampleTable(bool jet3) {
        TableDef t;
        t.name = "Example";
        t.maxColumns = 9;
        t.varColumns = 2;
        t.columns = {col("A", kText, 0, 0, 0, jet3 ? 50 : 100, false), col("B", kText, 1, 0, 1, jet3 ? 50 : 100, false),
                     col("C", kByte, 2, 0, 0, 1, true),     col("D", kInteger, 3, 1, 0, 2, true),
                     col("E", kLong, 4, 3, 0, 4, true),     col("F", kDouble, 5, 7, 0, 8, true),
                     col("G", kDateTime, 6, 15, 0, 8, true), col("H", kCurrency, 7, 23, 0, 8, true),
                     col("I", kBoolean, 8, 0, 0, 1, true)};
        return t;
    }
    void expectExampleValues(const std::vector<Value>& v) {
        EXPECT_EQ(v[0].rawString(), "abcdefg");
        EXPECT_EQ(v[1].rawString(), "hijklmnop");
        EXPECT_EQ(v[2].rawInt(), 2);
        EXPECT_EQ(v[3].rawInt(), 222);
        EXPECT_EQ(v[4].rawInt(), 333333333);
        EXPECT_DOUBLE_EQ(v[5].rawDouble(), 444.555);
        EXPECT_EQ(v[6].type(), VarType::Date);
        EXPECT_DOUBLE_EQ(v[6].rawDouble(), 27293.0); // 1974-09-21
        EXPECT_EQ(v[7].type(), VarType::Currency);
        EXPECT_EQ(v[7].rawInt(), 35000);
        EXPECT_EQ(v[8].type(), VarType::Boolean);
        EXPECT_TRUE(v[8].rawInt() != 0);
    }

    qm::test::TempDir dir_;
    std::filesystem::path path_;
    std::unique_ptr<PageSource> src_;
};

std::vector<std::uint8_t> fixedPart() {
    return bytes({0x02, 0xde, 0x00, 0x55, 0x43, 0xde, 0x13, 0x7b, 0x14, 0xae, 0x47, 0xe1, 0xc8, 0x7b, 0x40,
                  0x00, 0x00, 0x00, 0x00, 0x40, 0xa7, 0xda, 0x40, 0xb8, 0x88, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
}

TEST_F(RowLayout, Jet4WorkedExample) {
    open(Version::Jet4);
    TableDef t = exampleTable(false);
    std::vector<std::uint8_t> row = bytes({0x09, 0x00});
    for (auto b : fixedPart()) row.push_back(b);
    for (auto b : bytes({0xff, 0xfe, 'a', 'b', 'c', 'd', 'e', 'f', 'g'})) row.push_back(b);
    for (char ch : std::string("hijklmnop")) {
        row.push_back(std::uint8_t(ch));
        row.push_back(0);
    }
    for (int b : {0x00, 0x00, 0x3c, 0x00, 0x2a, 0x00, 0x21, 0x00, 0x02, 0x00, 0xff, 0x01}) row.push_back(std::uint8_t(b));
    ASSERT_EQ(row.size(), 72u);
    RowDecoder dec(*src_, t);
    std::vector<Value> v;
    dec.decode(row.data(), row.size(), v, 5, 0);
    expectExampleValues(v);

    // The same row written before column I existed (8 columns): I reads as False.
    row[0] = 8;
    row.pop_back();
    row.back() = 0xff;
    dec.decode(row.data(), row.size(), v, 5, 0);
    EXPECT_EQ(v[8].rawInt(), 0);
    EXPECT_EQ(v[1].rawString(), "hijklmnop");
}

TEST_F(RowLayout, Jet3WorkedExampleAndJumpTable) {
    open(Version::Jet3);
    TableDef t = exampleTable(true);
    std::vector<std::uint8_t> row = {0x09};
    for (auto b : fixedPart()) row.push_back(b);
    for (char ch : std::string("abcdefghijklmnop")) row.push_back(std::uint8_t(ch));
    for (int b : {0x30, 0x27, 0x20, 0x02, 0xff, 0x01}) row.push_back(std::uint8_t(b));
    ASSERT_EQ(row.size(), 54u);
    RowDecoder dec(*src_, t);
    std::vector<Value> v;
    dec.decode(row.data(), row.size(), v, 5, 0);
    expectExampleValues(v);

    // Two text columns, the second starting past byte 256: one jump entry.
    TableDef wide;
    wide.name = "Wide";
    wide.maxColumns = 2;
    wide.varColumns = 2;
    wide.columns = {col("X", kText, 0, 0, 0, 255, false), col("Y", kText, 1, 0, 1, 255, false)};
    std::vector<std::uint8_t> r = {0x02};
    r.insert(r.end(), 255, 'a');
    r.insert(r.end(), 45, 'a'); // X = 300 bytes at 1..300
    r.insert(r.end(), 5, 'b');  // Y = 5 bytes at 301..305
    // EOD 306 -> 50, off[1] 301 -> 45, off[0] 1, jump[0] = 1, nvar 2, mask
    for (int b : {50, 45, 1, 1, 2, 0x03}) r.push_back(std::uint8_t(b));
    ASSERT_EQ(r.size(), 312u);
    RowDecoder wideDec(*src_, wide);
    wideDec.decode(r.data(), r.size(), v, 5, 1);
    EXPECT_EQ(v[0].rawString(), std::string(300, 'a'));
    EXPECT_EQ(v[1].rawString(), "bbbbb");
}

TEST_F(RowLayout, DecimalSignScaleAndRange) {
    open(Version::Jet4);
    TableDef t;
    t.name = "Numbers";
    t.maxColumns = 1;
    t.columns = {col("N", kNumeric, 0, 0, 0, 17, true)};
    t.columns[0].precision = 18;
    t.columns[0].scale = 6;
    // -102030405060.654321 = -102030405060654321 at scale 6 = 0x016A7C1CE1EDF4F1
    std::vector<std::uint8_t> row = bytes({0x01, 0x00, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0x1c, 0x7c, 0x6a, 0x01,
                                           0xf1, 0xf4, 0xed, 0xe1, 0x01});
    RowDecoder dec(*src_, t);
    std::vector<Value> v;
    dec.decode(row.data(), row.size(), v, 5, 0);
    ASSERT_EQ(v[0].type(), VarType::Decimal);
    EXPECT_EQ(v[0].rawDecimal().scale, 6);
    EXPECT_TRUE(v[0].rawDecimal().mantissa == -static_cast<Int128>(102030405060654321LL));
    // A magnitude of 29 digits is not an Access Decimal.
    for (int k = 3; k < 19; ++k) row[std::size_t(k)] = 0xff;
    EXPECT_THROW(dec.decode(row.data(), row.size(), v, 5, 0), Error);
}

} // namespace
