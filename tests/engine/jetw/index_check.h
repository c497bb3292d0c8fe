// Our index checker: reads a table's indexes from the file's bytes alone
// and compares them with the table's rows.  Nothing here opens the file for
// writing, so a rollback journal beside it is left as it is.
#pragma once

#include "jetw_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qm::jetw::test {

struct Entry {
    std::string key;
    std::uint32_t page;
    std::uint8_t row;
    bool operator<(const Entry& o) const {
        if (key != o.key) return key < o.key;
        if (page != o.page) return page < o.page;
        return row < o.row;
    }
    bool operator==(const Entry& o) const { return key == o.key && page == o.page && row == o.row; }
};

// Reads an index from the file bytes alone and checks the rules every
// Access index page keeps; returns the leaf entries in chain order.
class TreeCheck {
public:
    TreeCheck(const std::string& file, std::uint32_t owner) : bytes_(qm::test::readFile(file)), owner_(owner) {}

    std::vector<Entry> walk(std::uint32_t root) {
        pages_.clear();
        const Entry last = node(root, 0, nullptr);
        (void)last;
        // The leaf chain, from the leftmost leaf.
        std::uint32_t at = root;
        while (type(at) == 3) {
            const auto es = entries(at);
            at = es.empty() ? u32(at, 0x14) : child(es.front());
        }
        std::vector<Entry> chain;
        std::uint32_t prev = 0;
        std::set<std::uint32_t> seen;
        for (; at != 0; at = u32(at, 0x10)) {
            EXPECT_TRUE(seen.insert(at).second) << "leaf chain loops at " << at;
            if (!seen.count(at) && seen.size() > 100000) break;
            EXPECT_EQ(type(at), 4);
            EXPECT_EQ(u32(at, 0x0C), prev) << "prev link of leaf " << at;
            for (const auto& e : entries(at)) chain.push_back(leafEntry(e));
            prev = at;
        }
        for (std::size_t i = 1; i < chain.size(); ++i) EXPECT_TRUE(chain[i - 1] < chain[i]) << "order at " << i;
        return chain;
    }
    const std::set<std::uint32_t>& pages() const { return pages_; }
    int pageType(std::uint32_t n) const { return type(n); }
    // Children of an intermediate page, the tail last.
    std::vector<std::uint32_t> children(std::uint32_t n) const {
        std::vector<std::uint32_t> out;
        for (const auto& e : entries(n)) out.push_back(child(e));
        if (const std::uint32_t tail = u32(n, 0x14)) out.push_back(tail);
        return out;
    }
    std::vector<Entry> leafEntries(std::uint32_t n) const {
        std::vector<Entry> out;
        for (const auto& e : entries(n)) out.push_back(leafEntry(e));
        return out;
    }

private:
    const std::uint8_t* page(std::uint32_t n) const {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data()) + std::size_t(n) * 4096;
    }
    std::uint32_t u32(std::uint32_t n, std::size_t off) const {
        const auto* p = page(n) + off;
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
    }
    int type(std::uint32_t n) const { return page(n)[0]; }
    std::vector<std::string> entries(std::uint32_t n) const {
        const auto* p = page(n);
        std::vector<std::string> out;
        std::size_t start = 0;
        for (std::size_t bit = 1; bit <= 3616; ++bit)
            if (p[0x1B + bit / 8] & (1u << (bit % 8))) {
                out.emplace_back(reinterpret_cast<const char*>(p + 0x1E0 + start), bit - start);
                start = bit;
            }
        const std::size_t free = std::size_t(p[2]) | std::size_t(p[3]) << 8;
        EXPECT_EQ(free, 4096 - 0x1E0 - start) << "free space of index page " << n;
        return out;
    }
    static std::uint32_t child(const std::string& e) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(e.data() + e.size() - 4);
        return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    }
    static Entry leafEntry(const std::string& e) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(e.data() + e.size() - 4);
        return {e.substr(0, e.size() - 4), std::uint32_t(b[0]) << 16 | std::uint32_t(b[1]) << 8 | b[2], b[3]};
    }
    // Checks the subtree at n and returns its last entry.
    Entry node(std::uint32_t n, int depth, const Entry* bound) {
        EXPECT_LT(depth, 8);
        EXPECT_TRUE(pages_.insert(n).second) << "page " << n << " is in the tree twice";
        EXPECT_EQ(u32(n, 4), owner_) << "owner of index page " << n;
        const auto es = entries(n);
        if (type(n) == 4) {
            EXPECT_EQ(page(n)[0x1A], 0);
            if (es.empty()) return {};
            return leafEntry(es.back());
        }
        EXPECT_EQ(type(n), 3);
        EXPECT_EQ(page(n)[0x1A], 1) << "node flag of intermediate page " << n;
        const std::uint32_t tail = u32(n, 0x14);
        const std::size_t children = es.size() + (tail ? 1 : 0);
        EXPECT_GE(children, 1u);
        if (children >= 2) {
            EXPECT_NE(tail, 0u) << "intermediate page " << n << " without a tail";
        }
        Entry last{};
        for (const auto& e : es) {
            const Entry stored = leafEntry(e.substr(0, e.size() - 4));
            const Entry below = node(child(e), depth + 1, bound);
            EXPECT_TRUE(stored == below) << "entry for child " << child(e) << " is not the child's last entry";
            last = below;
        }
        if (tail) last = node(tail, depth + 1, bound);
        return last;
    }

    std::string bytes_;
    std::uint32_t owner_;
    std::set<std::uint32_t> pages_;
};

// Checks every index of `table` (only real index `only` when >= 0): the tree
// keeps the page rules, its leaves hold exactly one entry per row the table's
// pages hold, with the key our writer computes from the row, and the entry
// count statistic says so; the table holds `expectRows` rows.  When no
// journal lies beside the file, also that each index's usage map lists
// exactly the pages of its tree.
void checkIndexes(const std::filesystem::path& p, const std::string& table, std::size_t expectRows, int only = -1);

} // namespace qm::jetw::test
