// Decoded index pages of the writer (layout: index_tree.cpp).
#pragma once

#include "write_database.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace qm::jet {

struct IndexEntry {
    std::string key;
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    std::uint32_t child = 0;
};

struct JetWriter::IndexNode {
    bool leaf = true;
    bool dirty = false;
    std::uint32_t prev = 0, next = 0, tail = 0;
    std::vector<IndexEntry> entries;
    // Stored bytes of the entries; recounted after any change but the
    // common one (a leaf insert), which keeps the count up to date.
    mutable std::size_t used = 0;
    mutable bool usedKnown = false;
    std::size_t bytes() const {
        if (!usedKnown) {
            used = 0;
            for (const auto& e : entries) used += e.key.size() + (leaf ? 4 : 8);
            usedKnown = true;
        }
        return used;
    }
    void changed() {
        dirty = true;
        usedKnown = false;
    }
};

struct JetWriter::IndexTree {
    TableDefinition* def = nullptr;
    std::size_t real = 0;
    std::unordered_map<std::uint32_t, IndexNode> nodes;
    struct Step {
        std::uint32_t page;
        std::size_t index; // == entries.size() for the tail
    };
};


} // namespace qm::jet
