#include "index_check.h"

#include "jet/database.h"
#include "jet/index_keys.h"
#include "jet/journal.h"
#include "jet/write_model.h"
#include "jet/write_pages.h"

#include <map>

namespace qm::jetw::test {

namespace fs = std::filesystem;

void checkIndexes(const fs::path& p, const std::string& table, std::size_t expectRows, int only) {
    std::uint32_t tdef = 0;
    for (const auto& r : mdbExport(p, "MSysObjects"))
        if (r.size() > 2 && r[2] == table) tdef = std::uint32_t(std::stoul(r[0]));
    ASSERT_NE(tdef, 0u) << "table " << table << " is not in MSysObjects";
    const std::string bytes = qm::test::readFile(p);
    constexpr std::uint32_t kPage = 4096;
    const jet::TableDefinition def = jet::readDefinition(
        p.string(), kPage,
        [&](std::uint32_t n) -> const std::uint8_t* {
            if (std::uint64_t(n + 1) * kPage > bytes.size()) throw Error("page past the end of the file");
            return reinterpret_cast<const std::uint8_t*>(bytes.data()) + std::size_t(n) * kPage;
        },
        tdef, table);
    // Expected entries from the rows, read by our reader as they stand.
    storage::OpenOptions ro;
    ro.readOnly = true;
    jet::JetDatabase db(p.string(), ro);
    std::vector<std::multiset<Entry>> expected(def.realIndexes.size());
    const auto cols = def.byNumber();
    auto cursor = db.scan(table);
    std::size_t rows = 0;
    while (cursor->next()) {
        ++rows;
        for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
            std::string k;
            for (const auto& ic : def.realIndexes[i].columns) {
                std::size_t pos = 0;
                while (cols[pos]->number() != ic.number) ++pos;
                jet::appendKeySegment(*cols[pos], ic.ascending, cursor->value(pos), true, k);
            }
            expected[i].insert({k, std::uint32_t(cursor->rowId() >> 8), std::uint8_t(cursor->rowId() & 0xFF)});
        }
    }
    EXPECT_EQ(rows, expectRows) << "rows of " << table;
    const bool journal = fs::exists(jet::Journal::pathFor(p.string()));
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
        if (only >= 0 && i != std::size_t(only)) continue;
        SCOPED_TRACE("table " + table + ", index " + std::to_string(i));
        TreeCheck check(p.string(), def.page);
        const auto chain = check.walk(def.realIndexes[i].rootPage);
        EXPECT_EQ(chain.size(), expected[i].size()) << "index entries against rows";
        EXPECT_TRUE(std::multiset<Entry>(chain.begin(), chain.end()) == expected[i]) << "index entries against rows";
        EXPECT_EQ(jet::u32(def.realIndexes[i].stats.data()), expectRows) << "entry count statistic";
        if (journal) continue;
        // The index's usage map lists exactly the pages of the tree.
        jet::PageStore store(p.string(), "");
        const auto listed = jet::mapPages(store, def.realIndexes[i].usageMap, table);
        EXPECT_EQ(std::set<std::uint32_t>(listed.begin(), listed.end()), check.pages());
    }
}

} // namespace qm::jetw::test
