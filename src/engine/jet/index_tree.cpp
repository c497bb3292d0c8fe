// Index B-trees of the Access writer.
//
// Index page (J4/ACE):
//   0x00 u8  3 intermediate, 4 leaf     0x0C u32 previous page on the level
//   0x01 u8  1                          0x10 u32 next page on the level
//   0x02 u16 free bytes                 0x14 u32 tail: last child (intermediate)
//   0x04 u32 TDEF page of the table     0x18 u16 shared prefix length (written 0)
//   0x08 u32 0                          0x1A u8  1 on intermediate pages
//   0x1B     mask: bit p set where an entry ends at data offset p
//   0x1E0    entries: key, data page (3 bytes big-endian), row, and on
//            intermediate pages the child page (4 bytes big-endian)
// At most 3,616 entry bytes per page.  An intermediate entry repeats the last
// entry of its child; the last child of a page with two or more children is
// named by the tail field instead of an entry.  Leaves form one chain;
// intermediate pages are linked only to siblings under the same parent.
//
// Pages split when full.  After deletes a page that falls under a third of
// the room is merged with its neighbour under the same parent when both fit
// in one page; the parent loses an entry and may merge in turn, and a root
// left with a single child takes that child's place (the root page number
// never changes).
#include "index_tree.h"

#include "index_keys.h"

#include <algorithm>
#include <cstring>

namespace qm::jet {

namespace {
constexpr std::size_t kEntryArea = 0x1E0;
constexpr std::size_t kMaskAt = 0x1B;
constexpr std::size_t kMaxEntryBytes = 3616;
// A page with fewer entry bytes than this looks for a neighbour to merge with.
constexpr std::size_t kMergeBelow = kMaxEntryBytes / 3;
} // namespace

static bool entryLess(const IndexEntry& a, const std::string& key, std::uint32_t page, std::uint8_t row) {
    const int c = a.key.compare(key);
    if (c != 0) return c < 0;
    if (a.page != page) return a.page < page;
    return a.row < row;
}

JetWriter::IndexTree& JetWriter::tree(TableDefinition& def, std::size_t realIndex) {
    auto& t = trees_[{def.page, realIndex}];
    if (!t) {
        t = std::make_unique<IndexTree>();
        t->def = &def;
        t->real = realIndex;
    }
    t->def = &def;
    return *t;
}

namespace {

struct TreeOps {
    JetWriter& w;
    PageStore& store;
    TableDefinition& def;
    WRealIndex& idx;
    std::unordered_map<std::uint32_t, JetWriter::IndexNode>& nodes;
    using Node = JetWriter::IndexNode;
    using Step = JetWriter::IndexTree::Step;

    std::string where() const { return store.path() + ": table " + def.name + ", index page "; }

    Node& load(std::uint32_t page) {
        auto it = nodes.find(page);
        if (it != nodes.end()) return it->second;
        const std::uint8_t* p = store.read(page);
        if (p[0] != kPageIndexLeaf && p[0] != kPageIndexNode)
            throw Error(where() + std::to_string(page) + " is not an index page; the database is damaged");
        Node n;
        n.leaf = p[0] == kPageIndexLeaf;
        n.prev = u32(p + 12);
        n.next = u32(p + 16);
        n.tail = u32(p + 20);
        const std::size_t prefix = u16(p + 24) & 0xFF;
        const std::size_t extra = n.leaf ? 4 : 8;
        std::size_t start = 0;
        std::string first;
        for (std::size_t bit = 1; bit <= kMaxEntryBytes; ++bit) {
            if (!(p[kMaskAt + bit / 8] & (1u << (bit % 8)))) continue;
            if (kEntryArea + bit > store.pageSize()) break;
            std::string e;
            if (!n.entries.empty() && prefix) e = first.substr(0, prefix);
            e.append(reinterpret_cast<const char*>(p + kEntryArea + start), bit - start);
            if (n.entries.empty()) first = e;
            if (e.size() < extra)
                throw Error(where() + std::to_string(page) + " holds a cut-short entry; the database is damaged");
            IndexEntry ie;
            const std::size_t k = e.size() - extra;
            const auto* b = reinterpret_cast<const std::uint8_t*>(e.data() + k);
            ie.page = (std::uint32_t(b[0]) << 16) | (std::uint32_t(b[1]) << 8) | b[2];
            ie.row = b[3];
            if (!n.leaf) ie.child = (std::uint32_t(b[4]) << 24) | (std::uint32_t(b[5]) << 16) | (std::uint32_t(b[6]) << 8) | b[7];
            ie.key = e.substr(0, k);
            n.entries.push_back(std::move(ie));
            start = bit;
        }
        return nodes.emplace(page, std::move(n)).first->second;
    }

    std::uint32_t newPage(bool leaf) {
        const std::uint32_t page = w.allocatePage();
        mapSet(store, idx.usageMap, page, true, [&] { return w.allocatePage(); }, def.name);
        Node n;
        n.leaf = leaf;
        n.changed();
        nodes[page] = std::move(n);
        return page;
    }

    void freePage(std::uint32_t page) {
        nodes.erase(page);
        mapSet(store, idx.usageMap, page, false, [&] { return w.allocatePage(); }, def.name);
        std::uint8_t* p = store.write(page);
        std::memset(p, 0, 4);
        w.releasePage(page);
    }

    IndexEntry effectiveLast(std::uint32_t page) {
        for (int depth = 0; depth < 32; ++depth) {
            Node& n = load(page);
            if (!n.leaf && n.tail) {
                page = n.tail;
                continue;
            }
            if (n.entries.empty()) return {};
            IndexEntry e = n.entries.back();
            e.child = 0;
            return e;
        }
        throw Error(where() + std::to_string(page) + ": the index is too deep; the database is damaged");
    }

    // Descends to the leaf where (key, page, row) belongs.
    std::uint32_t descend(const std::string& key, std::uint32_t page, std::uint8_t row, std::vector<Step>& path) {
        path.clear();
        std::uint32_t at = idx.rootPage;
        for (int depth = 0; depth < 32; ++depth) {
            Node& n = load(at);
            if (n.leaf) return at;
            auto it = std::lower_bound(n.entries.begin(), n.entries.end(), 0, [&](const IndexEntry& e, int) {
                return entryLess(e, key, page, row);
            });
            const std::size_t i = std::size_t(it - n.entries.begin());
            if (i < n.entries.size()) {
                path.push_back({at, i});
                at = n.entries[i].child;
            } else if (n.tail) {
                path.push_back({at, n.entries.size()});
                at = n.tail;
            } else if (!n.entries.empty()) {
                path.push_back({at, n.entries.size() - 1});
                at = n.entries.back().child;
            } else {
                throw Error(where() + std::to_string(at) + " is an empty intermediate page; the database is damaged");
            }
        }
        throw Error(where() + std::to_string(at) + ": the index is too deep; the database is damaged");
    }

    // The last entry below path.back()'s child changed to `last`.
    void updateParents(std::vector<Step> path, const IndexEntry& last) {
        while (!path.empty()) {
            const Step s = path.back();
            path.pop_back();
            Node& p = load(s.page);
            // A tail child has no entry here, but it holds this page's last
            // entry, which the page's own parent may store: go on up.
            if (s.index >= p.entries.size()) continue;
            IndexEntry& e = p.entries[s.index];
            e.key = last.key;
            e.page = last.page;
            e.row = last.row;
            p.changed();
            if (!(s.index + 1 == p.entries.size() && p.tail == 0)) return;
        }
    }

    void normalize(std::uint32_t page) {
        Node& n = load(page);
        if (n.leaf) return;
        if (n.tail == 0 && n.entries.size() >= 2) {
            n.tail = n.entries.back().child;
            n.entries.pop_back();
            n.changed();
        } else if (n.tail != 0 && n.entries.empty()) {
            const std::uint32_t t = n.tail;
            IndexEntry e = effectiveLast(t);
            e.child = t;
            Node& again = load(page);
            again.entries.push_back(e);
            again.tail = 0;
            again.changed();
        }
    }

    void splitIfNeeded(std::vector<Step> path, std::uint32_t page) {
        {
            Node& n = load(page);
            if (n.bytes() <= kMaxEntryBytes || n.entries.size() < 2) return;
        }
        if (path.empty()) {
            // The root keeps its page: its content moves to a new page below it.
            Node copy = load(page);
            const std::uint32_t moved = newPage(copy.leaf);
            copy.prev = copy.next = 0;
            copy.changed();
            nodes[moved] = copy;
            IndexEntry e = effectiveLast(moved);
            e.child = moved;
            Node& root = load(page);
            root.leaf = false;
            root.entries.assign(1, e);
            root.tail = 0;
            root.prev = root.next = 0;
            root.changed();
            path.push_back({page, 0});
            page = moved;
        }
        const Step parent = path.back();
        Node snapshot = load(page);
        const std::size_t move = (snapshot.entries.size() + 1) / 2;
        const std::uint32_t np = newPage(snapshot.leaf);
        {
            Node& f = load(page);
            Node& n = load(np);
            n.leaf = f.leaf;
            n.entries.assign(std::make_move_iterator(f.entries.begin()),
                             std::make_move_iterator(f.entries.begin() + std::ptrdiff_t(move)));
            f.entries.erase(f.entries.begin(), f.entries.begin() + std::ptrdiff_t(move));
            n.prev = f.prev;
            n.next = page;
            f.prev = np;
            f.changed();
            n.changed();
        }
        const std::uint32_t before = load(np).prev;
        if (before) {
            Node& b = load(before);
            b.next = np;
            b.changed();
        }
        if (!snapshot.leaf) {
            // Children now under different parents are not linked.
            const std::uint32_t lastChildN = load(np).entries.back().child;
            Node& f = load(page);
            const std::uint32_t firstChildF = f.entries.empty() ? f.tail : f.entries.front().child;
            Node& a = load(lastChildN);
            if (!a.leaf) {
                a.next = 0;
                a.changed();
                Node& b = load(firstChildF);
                b.prev = 0;
                b.changed();
            }
        }
        IndexEntry forParent = load(np).entries.back();
        forParent.child = np;
        normalize(np);
        normalize(page);
        {
            Node& p = load(parent.page);
            const std::size_t at = std::min(parent.index, p.entries.size());
            p.entries.insert(p.entries.begin() + std::ptrdiff_t(at), forParent);
            p.changed();
        }
        normalize(parent.page);
        path.pop_back();
        splitIfNeeded(path, parent.page);
    }

    bool insert(const std::string& key, std::uint32_t page, std::uint8_t row) {
        std::vector<Step> path;
        const std::uint32_t leafPage = descend(key, page, row, path);
        Node& leaf = load(leafPage);
        auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), 0,
                                   [&](const IndexEntry& e, int) { return entryLess(e, key, page, row); });
        if (it != leaf.entries.end() && it->key == key && it->page == page && it->row == row) return true;
        const bool last = it == leaf.entries.end();
        // A key equal to a neighbour's is not a new distinct key.
        bool known = (it != leaf.entries.end() && it->key == key) ||
                     (it != leaf.entries.begin() && std::prev(it)->key == key);
        IndexEntry e;
        e.key = key;
        e.page = page;
        e.row = row;
        const std::size_t before = leaf.bytes();
        leaf.entries.insert(it, e);
        leaf.dirty = true;
        leaf.used = before + key.size() + 4;
        if (last) updateParents(path, e);
        splitIfNeeded(path, leafPage);
        return known;
    }

    void removeChild(std::vector<Step> path, std::uint32_t page) {
        const Step s = path.back();
        path.pop_back();
        {
            Node& gone = load(page);
            const std::uint32_t prev = gone.prev, next = gone.next;
            if (prev) {
                Node& a = load(prev);
                a.next = next;
                a.changed();
            }
            if (next) {
                Node& b = load(next);
                b.prev = prev;
                b.changed();
            }
        }
        freePage(page);
        Node& p = load(s.page);
        bool lastChanged = false;
        if (s.index >= p.entries.size()) {
            p.tail = 0;
            if (!p.entries.empty()) {
                p.tail = p.entries.back().child;
                p.entries.pop_back();
                lastChanged = true;
            }
        } else {
            p.entries.erase(p.entries.begin() + std::ptrdiff_t(s.index));
            lastChanged = s.index == p.entries.size() && p.tail == 0 && !p.entries.empty();
        }
        p.changed();
        if (p.entries.empty() && p.tail == 0) {
            if (path.empty()) {
                p.leaf = true; // the root turns back into an empty leaf
                p.prev = p.next = 0;
                return;
            }
            removeChild(path, s.page);
            return;
        }
        normalize(s.page);
        if (lastChanged && !path.empty()) updateParents(path, effectiveLast(s.page));
        shrink(path, s.page);
    }

    // Child number i of an intermediate page (the tail is the last one).
    static std::uint32_t childAt(const Node& n, std::size_t i) {
        return i < n.entries.size() ? n.entries[i].child : n.tail;
    }
    static std::size_t childCount(const Node& n) { return n.entries.size() + (n.tail ? 1 : 0); }

    // Moves every entry of child i of `parentPage` into child i + 1 and
    // frees child i.  The right page's last entry, and so the parent's entry
    // for it, stays as it was; the parent just loses its entry for child i.
    // Returns false (nothing changed) when the two do not fit in one page.
    bool merge(std::uint32_t parentPage, std::size_t i) {
        const std::uint32_t leftPage = childAt(load(parentPage), i);
        const std::uint32_t rightPage = childAt(load(parentPage), i + 1);
        Node& left = load(leftPage);
        Node& right = load(rightPage);
        if (left.leaf != right.leaf || leftPage == rightPage) return false;
        IndexEntry tailEntry;
        std::size_t bytes = left.bytes() + right.bytes();
        if (!left.leaf && left.tail) {
            // The left page's tail child needs a stored entry in its new page.
            tailEntry = effectiveLast(left.tail);
            tailEntry.child = left.tail;
            bytes += tailEntry.key.size() + 8;
        }
        if (bytes > kMaxEntryBytes) return false;
        std::vector<IndexEntry> moved = std::move(left.entries);
        if (!left.leaf && left.tail) moved.push_back(tailEntry);
        const std::uint32_t before = left.prev;
        if (!left.leaf && !moved.empty()) {
            // The two pages' children now share a parent: link them.
            const std::uint32_t a = moved.back().child;
            const std::uint32_t b = right.entries.empty() ? right.tail : right.entries.front().child;
            if (a && b) {
                Node& na = load(a);
                if (!na.leaf) {
                    na.next = b;
                    na.changed();
                    Node& nb = load(b);
                    nb.prev = a;
                    nb.changed();
                }
            }
        }
        {
            Node& r = load(rightPage);
            r.entries.insert(r.entries.begin(), std::make_move_iterator(moved.begin()),
                             std::make_move_iterator(moved.end()));
            r.prev = before;
            r.changed();
        }
        if (before) {
            Node& b = load(before);
            b.next = rightPage;
            b.changed();
        }
        freePage(leftPage);
        Node& parent = load(parentPage);
        parent.entries.erase(parent.entries.begin() + std::ptrdiff_t(i));
        parent.changed();
        normalize(rightPage);
        normalize(parentPage);
        return true;
    }

    // `page`, reached through `path`, has lost entries: merge it with a
    // neighbour while it is thin, going up as parents lose entries; a root
    // with one child takes the child's content.
    void shrink(std::vector<Step> path, std::uint32_t page) {
        for (int depth = 0; depth < 32; ++depth) {
            if (path.empty()) {
                collapseRoot(page);
                return;
            }
            if (load(page).bytes() >= kMergeBelow) return;
            const Step s = path.back();
            path.pop_back();
            const Node& parent = load(s.page);
            const std::size_t children = childCount(parent);
            if (children < 2) { // nothing to merge with here; the parent may still be thin
                page = s.page;
                continue;
            }
            const std::size_t at = std::min(s.index, children - 1);
            if (childAt(parent, at) != page) return; // the path no longer describes the tree
            bool merged = at + 1 < children && merge(s.page, at);
            if (!merged && at > 0) merged = merge(s.page, at - 1);
            if (!merged) return;
            page = s.page;
        }
    }

    void collapseRoot(std::uint32_t root) {
        for (int depth = 0; depth < 32; ++depth) {
            Node& r = load(root);
            if (r.leaf || childCount(r) != 1) return;
            const std::uint32_t only = childAt(r, 0);
            Node child = load(only);
            Node& again = load(root);
            again.leaf = child.leaf;
            again.entries = std::move(child.entries);
            again.tail = child.leaf ? 0 : child.tail;
            again.prev = again.next = 0;
            again.changed();
            freePage(only);
        }
    }

    bool findExact(const std::string& key, std::uint32_t page, std::uint8_t row, std::vector<Step>& path,
                   std::uint32_t& leafPage, std::size_t& pos) {
        leafPage = descend(key, page, row, path);
        Node& leaf = load(leafPage);
        auto it = std::lower_bound(leaf.entries.begin(), leaf.entries.end(), 0,
                                   [&](const IndexEntry& e, int) { return entryLess(e, key, page, row); });
        if (it != leaf.entries.end() && it->key == key && it->page == page && it->row == row) {
            pos = std::size_t(it - leaf.entries.begin());
            return true;
        }
        return false;
    }

    // Keys written by another engine version may not re-encode to the same
    // bytes: find the entry by its row pointer alone.
    bool findByRow(std::uint32_t at, std::vector<Step>& path, std::uint32_t page, std::uint8_t row,
                   std::uint32_t& leafPage, std::size_t& pos, int depth = 0) {
        if (depth > 32) return false;
        Node& n = load(at);
        if (n.leaf) {
            for (std::size_t i = 0; i < n.entries.size(); ++i)
                if (n.entries[i].page == page && n.entries[i].row == row) {
                    leafPage = at;
                    pos = i;
                    return true;
                }
            return false;
        }
        const std::size_t count = n.entries.size() + (n.tail ? 1 : 0);
        for (std::size_t i = 0; i < count; ++i) {
            Node& again = load(at);
            const std::uint32_t child = i < again.entries.size() ? again.entries[i].child : again.tail;
            path.push_back({at, i});
            if (findByRow(child, path, page, row, leafPage, pos, depth + 1)) return true;
            path.pop_back();
        }
        return false;
    }

    bool remove(const std::string& key, std::uint32_t page, std::uint8_t row) {
        std::vector<Step> path;
        std::uint32_t leafPage = 0;
        std::size_t pos = 0;
        if (!findExact(key, page, row, path, leafPage, pos)) {
            path.clear();
            if (!findByRow(idx.rootPage, path, page, row, leafPage, pos)) return false;
        }
        Node& leaf = load(leafPage);
        const bool wasLast = pos + 1 == leaf.entries.size();
        const std::size_t before = leaf.bytes();
        const std::size_t gone = leaf.entries[pos].key.size() + 4;
        leaf.entries.erase(leaf.entries.begin() + std::ptrdiff_t(pos));
        leaf.dirty = true;
        leaf.used = before - gone;
        if (leaf.entries.empty()) {
            if (!path.empty()) removeChild(path, leafPage);
            return true;
        }
        if (wasLast) updateParents(path, leaf.entries.back());
        if (!path.empty() && load(leafPage).bytes() < kMergeBelow) shrink(path, leafPage);
        return true;
    }

    bool contains(const std::string& key, const std::optional<RowLocation>& except) {
        std::vector<Step> path;
        std::uint32_t at = descend(key, 0, 0, path);
        Node* n = &load(at);
        auto it = std::lower_bound(n->entries.begin(), n->entries.end(), 0,
                                   [&](const IndexEntry& e, int) { return entryLess(e, key, 0, 0); });
        std::size_t i = std::size_t(it - n->entries.begin());
        for (int guard = 0; guard < 1000000; ++guard) {
            if (i >= n->entries.size()) {
                if (!n->next) return false;
                at = n->next;
                n = &load(at);
                i = 0;
                continue;
            }
            const IndexEntry& e = n->entries[i];
            if (e.key != key) return false;
            if (!(except && e.page == except->page && e.row == except->row)) return true;
            ++i;
        }
        return false;
    }

    void serialize(std::uint32_t page, const Node& n) {
        std::uint8_t* p = store.write(page);
        std::memset(p, 0, store.pageSize());
        p[0] = n.leaf ? kPageIndexLeaf : kPageIndexNode;
        p[1] = 0x01;
        put32(p + 4, def.page);
        put32(p + 12, n.prev);
        put32(p + 16, n.next);
        put32(p + 20, n.leaf ? 0 : n.tail);
        p[26] = n.leaf ? 0 : 1;
        std::size_t off = 0;
        for (const IndexEntry& e : n.entries) {
            std::uint8_t* d = p + kEntryArea + off;
            std::memcpy(d, e.key.data(), e.key.size());
            d += e.key.size();
            d[0] = std::uint8_t(e.page >> 16);
            d[1] = std::uint8_t(e.page >> 8);
            d[2] = std::uint8_t(e.page);
            d[3] = e.row;
            if (!n.leaf) {
                d[4] = std::uint8_t(e.child >> 24);
                d[5] = std::uint8_t(e.child >> 16);
                d[6] = std::uint8_t(e.child >> 8);
                d[7] = std::uint8_t(e.child);
            }
            off += e.key.size() + (n.leaf ? 4 : 8);
            if (off > kMaxEntryBytes)
                throw Error(where() + std::to_string(page) + ": index entries overflow the page");
            p[kMaskAt + off / 8] |= std::uint8_t(1u << (off % 8));
        }
        put16(p + 2, std::uint16_t(store.pageSize() - kEntryArea - off));
    }
};

} // namespace

std::string JetWriter::keyOf(const TableDefinition& def, const WRealIndex& idx, const std::vector<Value>& values) const {
    const auto& cols = def.byNumber();
    std::string key;
    bool allNull = true;
    for (const WIndexColumn& ic : idx.columns) {
        std::size_t pos = 0;
        while (pos < cols.size() && cols[pos]->number() != ic.number) ++pos;
        if (pos == cols.size())
            throw Error(store_->path() + ": table " + def.name + ": an index names column number " +
                        std::to_string(ic.number) + ", which does not exist; the definition is damaged");
        const Value& v = values[pos];
        if (!(v.isNull() || v.isEmpty()) || cols[pos]->type() == kBoolean) allNull = false;
        appendKeySegment(*cols[pos], ic.ascending, v, ace(), key);
    }
    if (allNull && idx.ignoreNulls()) return {};
    return key;
}

std::vector<std::string> JetWriter::allKeys(const TableDefinition& def, const std::vector<Value>& values) const {
    std::vector<std::string> keys;
    keys.reserve(def.realIndexes.size());
    for (const WRealIndex& idx : def.realIndexes) keys.push_back(keyOf(def, idx, values));
    return keys;
}

void JetWriter::checkKeys(TableDefinition& def, const std::vector<Value>& values, const std::vector<std::string>& keys,
                          std::optional<RowLocation> self) {
    const auto& cols = def.byNumber();
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i) {
        const WRealIndex& idx = def.realIndexes[i];
        if (keys[i].empty()) continue;
        std::string indexName;
        bool primary = false;
        for (const WLogicalIndex& l : def.logicalIndexes)
            if (l.realIndex() == i) {
                if (indexName.empty() || l.kind() == 1) indexName = l.name;
                primary = primary || l.kind() == 1;
            }
        bool anyNull = false, allNull = true;
        std::string shown;
        for (const WIndexColumn& ic : idx.columns) {
            for (std::size_t pos = 0; pos < cols.size(); ++pos) {
                if (cols[pos]->number() != ic.number) continue;
                const Value& v = values[pos];
                const bool isNull = (v.isNull() || v.isEmpty()) && cols[pos]->type() != kBoolean;
                anyNull = anyNull || isNull;
                allNull = allNull && isNull;
                if (!shown.empty()) shown += ", ";
                shown += cols[pos]->name + " = " + (isNull ? std::string("Null") : "'" + v.toString() + "'");
            }
        }
        if (anyNull && (idx.required() || primary))
            throw Error(store_->path() + ": table " + def.name + ", index " + indexName + " (" + shown +
                        "): Index or primary key cannot contain a Null value.");
        if (idx.unique() && !allNull && indexContains(def, i, keys[i], self))
            throw Error(store_->path() + ": table " + def.name + ", index " + indexName + " (" + shown +
                        "): The changes you requested to the table were not successful because they would create "
                        "duplicate values in the index, primary key, or relationship.  Change the data in the field "
                        "or fields that contain duplicate data, remove the index, or redefine the index to permit "
                        "duplicate entries and try again.");
    }
}

void JetWriter::indexInsert(TableDefinition& def, std::size_t realIndex, const std::string& key, RowLocation at) {
    IndexTree& t = tree(def, realIndex);
    WRealIndex& idx = def.realIndexes[realIndex];
    TreeOps ops{*this, *store_, def, idx, t.nodes};
    const bool known = ops.insert(key, at.page, at.row);
    put32(&idx.stats[0], u32(&idx.stats[0]) + 1);
    if (!known) put32(&idx.stats[4], u32(&idx.stats[4]) + 1);
}

void JetWriter::indexRemove(TableDefinition& def, std::size_t realIndex, const std::string& key, RowLocation at) {
    IndexTree& t = tree(def, realIndex);
    WRealIndex& idx = def.realIndexes[realIndex];
    TreeOps ops{*this, *store_, def, idx, t.nodes};
    if (ops.remove(key, at.page, at.row) && u32(&idx.stats[0]) > 0) put32(&idx.stats[0], u32(&idx.stats[0]) - 1);
}

bool JetWriter::indexContains(TableDefinition& def, std::size_t realIndex, const std::string& key,
                              std::optional<RowLocation> except) {
    IndexTree& t = tree(def, realIndex);
    TreeOps ops{*this, *store_, def, def.realIndexes[realIndex], t.nodes};
    return ops.contains(key, except);
}

void JetWriter::createIndexRoot(TableDefinition& def, WRealIndex& idx, RowPointer map) {
    idx.usageMap = map;
    const std::uint32_t page = allocatePage();
    mapSet(*store_, map, page, true, [&] { return allocatePage(); }, def.name);
    idx.rootPage = page;
    std::uint8_t* p = store_->write(page);
    std::memset(p, 0, store_->pageSize());
    p[0] = kPageIndexLeaf;
    p[1] = 0x01;
    put16(p + 2, std::uint16_t(store_->pageSize() - kEntryArea));
    put32(p + 4, def.page);
}

void JetWriter::flushIndexes() {
    std::size_t held = 0;
    for (auto& [k, t] : trees_) {
        if (!t->def) continue;
        TreeOps ops{*this, *store_, *t->def, t->def->realIndexes[t->real], t->nodes};
        for (auto& [page, node] : t->nodes) {
            if (!node.dirty) continue;
            ops.serialize(page, node);
            node.dirty = false;
        }
        held += t->nodes.size();
    }
    if (held > 60000)
        for (auto& [k, t] : trees_) t->nodes.clear();
}

} // namespace qm::jet

namespace qm::jet {
// Here, where the index structures are complete.
JetWriter::~JetWriter() = default;
} // namespace qm::jet

namespace qm::jet {

void JetWriter::loadIndex(TableDefinition& def, std::size_t realIndex, std::vector<IndexEntry>& sorted) {
    WRealIndex& idx = def.realIndexes[realIndex];
    std::unordered_map<std::uint32_t, IndexNode> unused;
    TreeOps ops{*this, *store_, def, idx, unused};
    std::uint64_t distinct = 0;
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (i == 0 || sorted[i].key != sorted[i - 1].key) ++distinct;
    put32(&idx.stats[0], std::uint32_t(sorted.size()));
    put32(&idx.stats[4], std::uint32_t(distinct));
    if (sorted.empty()) return; // the empty root leaf stays as it is

    // Where each page of a level starts: pages are filled as far as they go.
    auto group = [](const std::vector<IndexEntry>& es, std::size_t extra) {
        std::vector<std::size_t> starts;
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < es.size(); ++i) {
            const std::size_t b = es[i].key.size() + extra;
            if (starts.empty() || bytes + b > kMaxEntryBytes) {
                starts.push_back(i);
                bytes = 0;
            }
            bytes += b;
        }
        return starts;
    };
    auto end = [](const std::vector<std::size_t>& starts, std::size_t g, std::size_t n) {
        return g + 1 < starts.size() ? starts[g + 1] : n;
    };
    auto parentOf = [](const std::vector<std::size_t>& parentStarts, std::size_t g) {
        return std::size_t(std::upper_bound(parentStarts.begin(), parentStarts.end(), g) - parentStarts.begin());
    };
    // The entries move into the page: each level is written once.
    auto makeNode = [](std::vector<IndexEntry>& es, std::size_t from, std::size_t to, bool leaf) {
        IndexNode n;
        n.leaf = leaf;
        n.entries.assign(std::make_move_iterator(es.begin() + std::ptrdiff_t(from)),
                         std::make_move_iterator(es.begin() + std::ptrdiff_t(to)));
        if (leaf)
            for (IndexEntry& e : n.entries) e.child = 0;
        else if (n.entries.size() >= 2) {
            n.tail = n.entries.back().child;
            n.entries.pop_back();
        }
        return n;
    };

    std::vector<IndexEntry>* level = &sorted;
    std::vector<IndexEntry> above;
    bool leaf = true;
    std::vector<std::size_t> starts = group(*level, 4);
    for (int depth = 0; depth < 32; ++depth) {
        const std::size_t n = level->size();
        if (starts.size() == 1) {
            // The top page goes to the root, whose page number never changes.
            ops.serialize(idx.rootPage, makeNode(*level, 0, n, leaf));
            return;
        }
        std::vector<std::uint32_t> pages(starts.size());
        for (std::uint32_t& p : pages) {
            p = allocatePage();
            mapSet(*store_, idx.usageMap, p, true, [&] { return allocatePage(); }, def.name);
        }
        std::vector<IndexEntry> next;
        next.reserve(starts.size());
        for (std::size_t g = 0; g < starts.size(); ++g) {
            IndexEntry e = (*level)[end(starts, g, n) - 1];
            e.child = pages[g];
            next.push_back(std::move(e));
        }
        const std::vector<std::size_t> nextStarts = group(next, 8);
        for (std::size_t g = 0; g < starts.size(); ++g) {
            IndexNode node = makeNode(*level, starts[g], end(starts, g, n), leaf);
            // Leaves form one chain; pages above are linked only to siblings
            // under the same parent.
            if (g > 0 && (leaf || parentOf(nextStarts, g - 1) == parentOf(nextStarts, g))) node.prev = pages[g - 1];
            if (g + 1 < starts.size() && (leaf || parentOf(nextStarts, g + 1) == parentOf(nextStarts, g)))
                node.next = pages[g + 1];
            ops.serialize(pages[g], node);
        }
        above = std::move(next);
        level = &above;
        starts = nextStarts;
        leaf = false;
    }
    throw Error(store_->path() + ": table " + def.name + ": the index would be too deep");
}

} // namespace qm::jet
