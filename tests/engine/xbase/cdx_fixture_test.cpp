// The index reader and the key evaluator against indexes FoxPro wrote: for
// every tag of every structural index among the fixtures, the keys
// computed from the table's own records must be exactly the stored ones,
// in the stored order.
#include "cdx_raw_table.h"

#include "xbase/cdx.h"
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;
using namespace qm::xbase;

namespace {

fs::path companion(const fs::path& dbf, const std::string& ext) {
    for (const auto& e : fs::directory_iterator(dbf.parent_path())) {
        const std::string n = e.path().filename().string();
        const std::string stem = dbf.stem().string();
        if (n.size() == stem.size() + ext.size() && n.compare(0, stem.size(), stem) == 0) {
            std::string tail = n.substr(stem.size());
            for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (tail == ext) return e.path();
        }
    }
    return {};
}

std::vector<CdxKey> expectedKeys(const TagKeys& tk, const qm::test::RawTable& t) {
    return computeTagKeys(tk, [&](const auto& visit) {
        for (std::uint32_t r = 1; r <= t.count; ++r) visit(r, t.record(r));
    });
}

// Long field names of container member tables, by canonical .dbf path:
// a member table's index expressions use them.
std::map<std::string, std::vector<std::string>> memberLongNames() {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& e : fs::recursive_directory_iterator(qm::test::fixture("xbase"))) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != ".dbc") continue;
        const auto dbc = Container::open(e.path().string());
        for (const auto& t : dbc->tables()) {
            std::vector<std::string> names;
            for (const auto& f : t.fields) names.push_back(f.name);
            if (fs::exists(t.file)) out[fs::weakly_canonical(t.file).string()] = names;
        }
    }
    return out;
}

} // namespace

TEST(CdxFixtures, EveryMachineTagMatchesItsTable) {
    QM_REQUIRE_SHARED();
    const auto longNames = memberLongNames();
    int tagsChecked = 0, indexesRead = 0;
    std::vector<std::string> refused;
    for (const auto& e : fs::recursive_directory_iterator(qm::test::fixture("xbase"))) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext != ".dbf" && ext != ".dbc") continue;
        const fs::path index = companion(e.path(), ext == ".dbc" ? ".dcx" : ".cdx");
        if (index.empty()) continue;
        SCOPED_TRACE(index.string());
        const auto table = qm::test::RawTable::load(e.path());
        const CdxFile cdx = CdxFile::open(index.string());
        ++indexesRead;
        ASSERT_FALSE(cdx.tags().empty());
        for (const CdxTag& tag : cdx.tags()) {
            SCOPED_TRACE(tag.name + " = " + tag.keyExpression);
            try {
                const auto ln = longNames.find(fs::weakly_canonical(e.path()).string());
                TagKeys tk(tag, index.string(), table.fields, table.nulls(), table.codePage(),
                           ln == longNames.end() ? std::span<const std::string>() : std::span<const std::string>(ln->second));
                const auto problems = checkCdxTag(cdx, tag, tk.pad(), expectedKeys(tk, table));
                EXPECT_TRUE(problems.empty()) << problems.front();
                ++tagsChecked;
            } catch (const qm::Error& err) {
                refused.push_back(err.what());
            }
        }
    }
    // Every tag FoxPro wrote with the MACHINE collation is computed; only the
    // PINYIN tags of one sample are refused (their weights are not known).
    EXPECT_GE(indexesRead, 30);
    EXPECT_GE(tagsChecked, 60);
    for (const auto& r : refused) EXPECT_NE(r.find("PINYIN"), std::string::npos) << r;
}

TEST(CdxFixtures, ContainerIndexHasItsTwoTagsWithForClause) {
    QM_REQUIRE_SHARED();
    const CdxFile dcx = CdxFile::open(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dcx").string());
    ASSERT_EQ(dcx.tags().size(), 2u);
    const CdxTag* name = dcx.findTag("objectname");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->keyExpression, "STR(parentid)+objecttype+LOWER(objectname)");
    EXPECT_EQ(name->forExpression, ".NOT.DELETED()");
    EXPECT_EQ(name->keyLength, 148);
    // Keys read back start with the right-aligned parent id.
    const auto keys = dcx.keys(*name, ' ');
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front().key.substr(0, 10), "         1");
}

TEST(CdxFixtures, KnownKeyEncodings) {
    QM_REQUIRE_SHARED();
    // Integer field: value XOR 0x80000000, big-endian (ORDERID 10248).
    const CdxFile orders = CdxFile::open(qm::test::fixture("xbase/vfpx-samples/Northwind/orders.cdx").string());
    const auto ids = orders.keys(*orders.findTag("ORDERID"), '\0');
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.front().key, std::string("\x80\x00\x28\x08", 4));
    // Nullable date: 0x80 marker, then the Julian day as a sortable double.
    const auto dates = orders.keys(*orders.findTag("ORDERDATE"), '\0');
    ASSERT_FALSE(dates.empty());
    EXPECT_EQ(dates.front().key, std::string("\x80\xC1\x42\xB1\xAE\x80\x00\x00\x00", 9));
}
