// Damaged index files: every kind of damage must end in a qm::Error that
// names the file (and the tag), never in a crash, an endless walk or a read
// outside the file.
#include "xbase/cdx.h"
#include "value/value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace qm::xbase;

namespace {

std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
void putLe32(std::string& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
void putBe32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (24 - 8 * i));
}

// A two-tag index: NAME (character, several levels) and ID (integer, one leaf).
std::string sampleIndex() {
    CdxTagBuild name;
    name.name = "NAME";
    name.keyExpression = "UPPER(name)";
    name.keyLength = 20;
    for (std::uint32_t i = 1; i <= 3000; ++i) {
        std::string k = "KEY " + std::to_string(100000 + i * 3);
        k.resize(20, ' ');
        name.keys.push_back(CdxKey{k, i});
    }
    CdxTagBuild id;
    id.name = "ID";
    id.keyExpression = "id";
    id.keyLength = 4;
    id.pad = '\0';
    id.options = cdx_option::kCandidate;
    for (std::int32_t i = -5; i < 5; ++i) {
        std::string k;
        cdx_key::appendInt32(k, i);
        id.keys.push_back(CdxKey{k, static_cast<std::uint32_t>(i + 6)});
    }
    return buildCdx(std::vector<CdxTagBuild>{name, id});
}

std::string errorOf(const std::string& bytes, const char* tag = "NAME") {
    try {
        const CdxFile f = CdxFile::fromBytes("damaged.cdx", bytes);
        const CdxTag* t = f.findTag(tag);
        if (!t) return "no tag";
        f.keys(*t, ' ');
    } catch (const qm::Error& e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(CdxBuild, WrittenIndexReadsBackInOrder) {
    const std::string bytes = sampleIndex();
    ASSERT_EQ(bytes.size() % 512, 0u);
    const CdxFile f = CdxFile::fromBytes("ok.cdx", bytes);
    ASSERT_EQ(f.tags().size(), 2u);
    EXPECT_EQ(f.tags()[0].name, "ID"); // the directory is sorted by name
    const CdxTag& name = *f.findTag("name");
    EXPECT_EQ(name.keyExpression, "UPPER(name)");
    EXPECT_EQ(name.options, cdx_option::kCompact | cdx_option::kCompound);
    EXPECT_EQ(le32(bytes, name.rootOffset) & 0xFFFF, 1u); // root is interior (attribute 1): several levels
    const auto keys = f.keys(name, ' ');
    ASSERT_EQ(keys.size(), 3000u);
    EXPECT_EQ(keys[2999].key.substr(0, 10), "KEY 109000");
    std::vector<CdxKey> expected = keys;
    EXPECT_TRUE(checkCdxTag(f, name, ' ', expected).empty());
    // The checker notices a missing and an unexpected entry.
    expected.pop_back();
    expected.push_back(CdxKey{std::string(20, 'Z'), 9999});
    const auto problems = checkCdxTag(f, name, ' ', expected);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("missing"), std::string::npos) << problems[0];
    EXPECT_NE(problems[1].find("record 3000"), std::string::npos) << problems[1];
    // Integer keys sort negative before positive.
    const auto ids = f.keys(*f.findTag("ID"), '\0');
    ASSERT_EQ(ids.size(), 10u);
    EXPECT_EQ(ids.front().recno, 1u);
}

TEST(CdxBuild, RefusesUnsortedOrMisSizedKeys) {
    CdxTagBuild t;
    t.name = "T";
    t.keyExpression = "x";
    t.keyLength = 2;
    t.keys = {{"BB", 1}, {"AA", 2}};
    EXPECT_THROW(buildCdx(std::vector<CdxTagBuild>{t}), qm::Error);
    t.keys = {{"A", 1}};
    EXPECT_THROW(buildCdx(std::vector<CdxTagBuild>{t}), qm::Error);
    t.keys = {};
    t.name = "MUCHTOOLONGNAME";
    EXPECT_THROW(buildCdx(std::vector<CdxTagBuild>{t}), qm::Error);
}

TEST(CdxBadInput, LoopInTheTreeIsReported) {
    std::string b = sampleIndex();
    const CdxFile f = CdxFile::fromBytes("x", b);
    const std::uint32_t root = f.findTag("NAME")->rootOffset;
    // First entry of the root points back at the root.
    putBe32(b, root + 12 + 20 + 4, root);
    const std::string err = errorOf(b);
    EXPECT_NE(err.find("loop"), std::string::npos) << err;
    EXPECT_NE(err.find("damaged.cdx, tag NAME"), std::string::npos) << err;
}

TEST(CdxBadInput, PointersOutsideTheFileAreReported) {
    std::string b = sampleIndex();
    const std::uint32_t root = CdxFile::fromBytes("x", b).findTag("NAME")->rootOffset;
    putBe32(b, root + 12 + 20 + 4, 0x7FFFFE00);
    EXPECT_NE(errorOf(b).find("outside the file"), std::string::npos) << errorOf(b);
    // Tag header offset in the directory pointing past the end.
    std::string c = sampleIndex();
    const std::uint32_t dir = le32(c, 0);
    const std::uint8_t entryBytes = static_cast<std::uint8_t>(c[dir + 23]);
    std::uint64_t v = 0;
    std::memcpy(&v, c.data() + dir + 24, entryBytes);
    const unsigned recBits = static_cast<unsigned char>(c[dir + 20]);
    v = (v & ~((1ull << recBits) - 1)) | ((1ull << recBits) - 512);
    std::memcpy(c.data() + dir + 24, &v, entryBytes);
    EXPECT_NE(errorOf(c, "ID").find("lies outside the file"), std::string::npos) << errorOf(c, "ID");
}

TEST(CdxBadInput, LeafClaimsAndKeysPastTheNodeAreReported) {
    const std::string good = sampleIndex();
    const CdxFile f = CdxFile::fromBytes("x", good);
    const std::uint32_t leaf = f.findTag("ID")->rootOffset; // one leaf holding every key
    {
        std::string b = good;
        b[leaf + 2] = static_cast<char>(0xFF); // 255+ keys cannot fit
        b[leaf + 3] = 0x01;
        EXPECT_NE(errorOf(b, "ID").find("more than the node can hold"), std::string::npos) << errorOf(b, "ID");
    }
    {
        std::string b = good;
        b[leaf + 23] = 9; // entries of 9 bytes
        EXPECT_NE(errorOf(b, "ID").find("impossible entry layout"), std::string::npos) << errorOf(b, "ID");
    }
    {
        // Every key claims to store all its bytes, first one included with a
        // repeated prefix: the counts cannot be right.
        std::string b = good;
        const unsigned recBits = static_cast<unsigned char>(b[leaf + 20]);
        b[leaf + 24 + (recBits / 8)] = static_cast<char>(0xFF);
        EXPECT_NE(errorOf(b, "ID").find("impossible compression counts"), std::string::npos) << errorOf(b, "ID");
    }
    {
        // A key area that would run into the entry array.
        std::string b = good;
        b[leaf + 2] = 80; // 80 entries of 3 bytes = 240 bytes, keys then overlap
        const std::string err = errorOf(b, "ID");
        EXPECT_FALSE(err.empty());
    }
}

TEST(CdxBadInput, BrokenSiblingChainAndTruncationAreReported) {
    std::string b = sampleIndex();
    const CdxFile f = CdxFile::fromBytes("x", b);
    const std::uint32_t root = f.findTag("NAME")->rootOffset;
    // Find the first leaf through the tree and break its right link.
    std::uint32_t node = root;
    while (!(static_cast<unsigned char>(b[node]) & 0x02)) {
        std::uint32_t child = 0;
        for (int i = 0; i < 4; ++i) child = (child << 8) | static_cast<unsigned char>(b[node + 12 + 20 + 4 + i]);
        node = child;
    }
    putLe32(b, node + 8, node);
    EXPECT_NE(errorOf(b).find("sibling links"), std::string::npos) << errorOf(b);

    std::string t = sampleIndex();
    t.resize(t.size() - 100);
    EXPECT_NE(errorOf(t).find("not a compound index"), std::string::npos);
    EXPECT_NE(errorOf(std::string(1024, '\0')).find("not a compound index"), std::string::npos);
}

TEST(CdxBadInput, RandomDamageNeverCrashesOrHangs) {
    const std::string good = sampleIndex();
    std::mt19937 rng(20240611);
    int errors = 0;
    for (int round = 0; round < 400; ++round) {
        std::string b = good;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) b[rng() % b.size()] = static_cast<char>(rng());
        for (const char* tag : {"NAME", "ID"}) errors += !errorOf(b, tag).empty();
    }
    EXPECT_GT(errors, 0);
}
