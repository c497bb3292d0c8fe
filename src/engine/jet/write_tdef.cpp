// Reading a table definition into the writer's model and writing it back.
#include "write_model.h"

#include "text.h"
#include "value/value.h"

#include <algorithm>
#include <cstring>

namespace qm::jet {

namespace {

std::string utf16Name(const std::uint8_t* p, std::size_t n) {
    std::string s;
    appendUtf16(p, n, s);
    return s;
}

void appendName(std::vector<std::uint8_t>& out, const std::string& utf8) {
    const std::u16string u = toUtf16(utf8);
    const std::size_t bytes = u.size() * 2;
    out.push_back(std::uint8_t(bytes));
    out.push_back(std::uint8_t(bytes >> 8));
    for (char16_t ch : u) {
        out.push_back(std::uint8_t(ch));
        out.push_back(std::uint8_t(ch >> 8));
    }
}

} // namespace

std::u16string toUtf16(std::string_view utf8) {
    std::u16string u;
    u.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp;
        std::size_t len;
        if (c < 0x80) cp = c, len = 1;
        else if ((c >> 5) == 6) cp = c & 0x1F, len = 2;
        else if ((c >> 4) == 14) cp = c & 0x0F, len = 3;
        else if ((c >> 3) == 30) cp = c & 0x07, len = 4;
        else cp = 0xFFFD, len = 1;
        if (i + len > utf8.size()) {
            cp = 0xFFFD;
            len = utf8.size() - i;
        } else {
            for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += len;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            u.push_back(char16_t(0xD800 + (cp >> 10)));
            u.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            u.push_back(char16_t(cp > 0xFFFF ? 0xFFFD : cp));
        }
    }
    return u;
}

const std::vector<const WColumn*>& TableDefinition::byNumber() const {
    if (orderFor_ != columns.data() || orderCount_ != columns.size()) {
        order_.clear();
        for (const WColumn& c : columns) order_.push_back(&c);
        std::sort(order_.begin(), order_.end(),
                  [](const WColumn* a, const WColumn* b) { return a->number() < b->number(); });
        orderFor_ = columns.data();
        orderCount_ = columns.size();
    }
    return order_;
}

const WColumn* TableDefinition::column(std::uint16_t number) const {
    for (const WColumn& c : columns)
        if (c.number() == number) return &c;
    return nullptr;
}

const WLongValueMaps* TableDefinition::lvMapsOf(std::uint16_t column) const {
    for (const WLongValueMaps& m : lvMaps)
        if (m.column == column) return &m;
    return nullptr;
}

std::size_t TableDefinition::fixedAreaSize() const {
    std::size_t end = 0;
    for (const WColumn& c : columns)
        if (c.fixed() && c.type() != kBoolean) end = std::max<std::size_t>(end, c.fixedOffset() + c.length());
    return end;
}

TableDefinition readDefinition(PageStore& store, std::uint32_t page, const std::string& name) {
    return readDefinition(store.path(), store.pageSize(), [&](std::uint32_t n) { return store.read(n); }, page, name);
}

TableDefinition readDefinition(const std::string& path, std::uint32_t pageSize,
                               const std::function<const std::uint8_t*(std::uint32_t)>& read, std::uint32_t page,
                               const std::string& name) {
    const std::string what = path + ": table " + name + ": ";
    TableDefinition def;
    def.name = name;
    def.page = page;
    std::vector<std::uint8_t> s;
    std::uint32_t p = page;
    while (p != 0) {
        if (std::find(def.chain.begin(), def.chain.end(), p) != def.chain.end() || def.chain.size() > 64)
            throw Error(what + "the definition pages form a loop; the database is damaged");
        const std::uint8_t* b = read(p);
        if (b[0] != kPageTdef)
            throw Error(what + "page " + std::to_string(p) + " is not a table definition page; the database is damaged");
        def.chain.push_back(p);
        if (s.empty()) s.assign(b, b + pageSize);
        else s.insert(s.end(), b + 8, b + pageSize);
        p = u32(b + 4);
    }
    const std::uint32_t len = u32(s.data() + 8);
    if (len < 63 || len > s.size()) throw Error(what + "the definition length is wrong; the database is damaged");
    std::memcpy(def.head.data(), s.data(), 63);
    const std::uint16_t ncols = u16(s.data() + 45);
    const std::uint32_t nidx = u32(s.data() + 47), nreal = u32(s.data() + 51);
    if (nidx > 64 || nreal > 64) throw Error(what + "the index counts are wrong; the database is damaged");
    std::size_t o = 63;
    auto need = [&](std::size_t n) {
        if (o + n > len) throw Error(what + "the definition is cut short; the database is damaged");
    };
    def.realIndexes.resize(nreal);
    for (auto& r : def.realIndexes) {
        need(12);
        std::memcpy(r.stats.data(), &s[o], 12);
        o += 12;
    }
    def.columns.resize(ncols);
    for (auto& c : def.columns) {
        need(25);
        std::memcpy(c.raw.data(), &s[o], 25);
        o += 25;
    }
    for (auto& c : def.columns) {
        need(2);
        const std::uint16_t n = u16(&s[o]);
        need(2 + n);
        c.name = utf16Name(&s[o + 2], n);
        o += 2 + n;
    }
    for (auto& r : def.realIndexes) {
        need(52);
        std::memcpy(r.raw.data(), &s[o], 52);
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t col = u16(&s[o + 4 + 3 * k]);
            if (col != 0xFFFF) r.columns.push_back({col, s[o + 6 + 3 * k] != 0});
        }
        r.usageMap = RowPointer::decode(&s[o + 34]);
        r.rootPage = u32(&s[o + 38]);
        o += 52;
    }
    def.logicalIndexes.resize(nidx);
    for (auto& l : def.logicalIndexes) {
        need(28);
        std::memcpy(l.raw.data(), &s[o], 28);
        o += 28;
    }
    for (auto& l : def.logicalIndexes) {
        need(2);
        const std::uint16_t n = u16(&s[o]);
        need(2 + n);
        l.name = utf16Name(&s[o + 2], n);
        o += 2 + n;
    }
    while (true) {
        need(2);
        const std::uint16_t col = u16(&s[o]);
        if (col == 0xFFFF) break;
        need(10);
        def.lvMaps.push_back({col, RowPointer::decode(&s[o + 2]), RowPointer::decode(&s[o + 6])});
        o += 10;
    }
    return def;
}

std::vector<std::uint8_t> serializeDefinition(TableDefinition& def, const Format&) {
    std::vector<std::uint8_t> s(def.head.begin(), def.head.end());
    s[0] = kPageTdef;
    s[1] = 0x01;
    put16(&s[45], std::uint16_t(def.columns.size()));
    put32(&s[47], std::uint32_t(def.logicalIndexes.size()));
    put32(&s[51], std::uint32_t(def.realIndexes.size()));
    for (const auto& r : def.realIndexes) s.insert(s.end(), r.stats.begin(), r.stats.end());
    for (const auto& c : def.columns) s.insert(s.end(), c.raw.begin(), c.raw.end());
    for (const auto& c : def.columns) appendName(s, c.name);
    for (auto& r : def.realIndexes) {
        std::array<std::uint8_t, 52> raw = r.raw;
        for (int k = 0; k < 10; ++k) {
            std::uint8_t* slot = &raw[4 + 3 * k];
            if (std::size_t(k) < r.columns.size()) {
                put16(slot, r.columns[std::size_t(k)].number);
                slot[2] = r.columns[std::size_t(k)].ascending ? 1 : 0;
            } else if (u16(slot) != 0xFFFF) {
                put16(slot, 0xFFFF);
                slot[2] = 0;
            }
        }
        put32(&raw[34], rowPointerValue(r.usageMap));
        put32(&raw[38], r.rootPage);
        r.raw = raw;
        s.insert(s.end(), raw.begin(), raw.end());
    }
    for (const auto& l : def.logicalIndexes) s.insert(s.end(), l.raw.begin(), l.raw.end());
    for (const auto& l : def.logicalIndexes) appendName(s, l.name);
    for (const auto& m : def.lvMaps) {
        std::uint8_t e[10];
        put16(e, m.column);
        put32(e + 2, rowPointerValue(m.owned));
        put32(e + 6, rowPointerValue(m.free));
        s.insert(s.end(), e, e + 10);
    }
    s.push_back(0xFF);
    s.push_back(0xFF);
    put32(&s[8], std::uint32_t(s.size()));
    std::memcpy(def.head.data(), s.data(), 63);
    return s;
}

// ---- usage maps ----

MapRow mapRow(PageStore& store, RowPointer where, bool forWriting, const std::string& what) {
    const std::uint8_t* b = store.read(where.page);
    const std::size_t hdr = store.format().dataHeader;
    if (b[0] != kPageData || where.row >= u16(b + 12))
        throw Error(store.path() + ": " + what + ": the usage map at page " + std::to_string(where.page) + " row " +
                    std::to_string(where.row) + " is missing; the database is damaged");
    const std::size_t start = u16(b + hdr + 2 * where.row) & 0x1FFF;
    const std::size_t end = where.row == 0 ? store.pageSize() : (u16(b + hdr + 2 * (where.row - 1)) & 0x1FFF);
    if (end <= start + 5 || end > store.pageSize())
        throw Error(store.path() + ": " + what + ": the usage map at page " + std::to_string(where.page) +
                    " row " + std::to_string(where.row) + " is damaged");
    std::uint8_t* p = forWriting ? store.write(where.page) : const_cast<std::uint8_t*>(b);
    return MapRow{p + start, end - start};
}

namespace {

std::vector<std::uint32_t> inlinePages(const MapRow& m) {
    std::vector<std::uint32_t> v;
    const std::uint32_t start = u32(m.p + 1);
    for (std::size_t i = 0; i < m.size - 5; ++i) {
        const std::uint8_t byte = m.p[5 + i];
        if (!byte) continue;
        for (int b = 0; b < 8; ++b)
            if (byte & (1 << b)) v.push_back(start + std::uint32_t(i * 8 + std::size_t(b)));
    }
    return v;
}

void referenceSet(PageStore& store, MapRow m, std::uint32_t page, bool on,
                  const std::function<std::uint32_t()>& allocate, const std::string& what, RowPointer where) {
    const std::uint32_t perPage = (store.pageSize() - 4) * 8;
    const std::uint32_t slot = page / perPage;
    if (1 + 4 * (slot + 1) > m.size)
        throw Error(store.path() + ": " + what + ": the database has grown past what its usage map can hold");
    std::uint32_t bitmapPage = u32(m.p + 1 + 4 * slot);
    if (bitmapPage == 0) {
        if (!on) return;
        bitmapPage = allocate();
        std::uint8_t* bp = store.write(bitmapPage);
        std::memset(bp, 0, store.pageSize());
        bp[0] = kPageUsageMap;
        bp[1] = 0x01;
        m = mapRow(store, where, true, what); // the map row may have moved in the cache
        put32(m.p + 1 + 4 * slot, bitmapPage);
    }
    std::uint8_t* bp = store.write(bitmapPage);
    const std::uint32_t bit = page - slot * perPage;
    if (on) bp[4 + bit / 8] |= std::uint8_t(1u << (bit % 8));
    else bp[4 + bit / 8] &= std::uint8_t(~(1u << (bit % 8)));
}

} // namespace

void mapSet(PageStore& store, RowPointer where, std::uint32_t page, bool on,
            const std::function<std::uint32_t()>& allocate, const std::string& what) {
    MapRow m = mapRow(store, where, true, what);
    if (m.p[0] == 0x01) {
        referenceSet(store, m, page, on, allocate, what, where);
        return;
    }
    if (m.p[0] != 0x00)
        throw Error(store.path() + ": " + what + ": unknown usage map kind " + std::to_string(m.p[0]));
    const std::uint32_t start = u32(m.p + 1);
    const std::uint32_t capacity = std::uint32_t(m.size - 5) * 8;
    if (page >= start && page - start < capacity) {
        const std::uint32_t bit = page - start;
        if (on) m.p[5 + bit / 8] |= std::uint8_t(1u << (bit % 8));
        else m.p[5 + bit / 8] &= std::uint8_t(~(1u << (bit % 8)));
        return;
    }
    if (!on) return;
    std::vector<std::uint32_t> pages = inlinePages(m);
    pages.push_back(page);
    const std::uint32_t lo = *std::min_element(pages.begin(), pages.end()) / 8 * 8;
    const std::uint32_t hi = *std::max_element(pages.begin(), pages.end());
    std::memset(m.p + 1, 0, m.size - 1);
    if (hi - lo < capacity) {
        put32(m.p + 1, lo);
        for (std::uint32_t pg : pages) m.p[5 + (pg - lo) / 8] |= std::uint8_t(1u << ((pg - lo) % 8));
        return;
    }
    m.p[0] = 0x01;
    for (std::uint32_t pg : pages) {
        m = mapRow(store, where, true, what);
        referenceSet(store, m, pg, true, allocate, what, where);
    }
}

bool mapHas(PageStore& store, RowPointer where, std::uint32_t page, const std::string& what) {
    MapRow m = mapRow(store, where, false, what);
    if (m.p[0] == 0x00) {
        const std::uint32_t start = u32(m.p + 1);
        const std::uint32_t capacity = std::uint32_t(m.size - 5) * 8;
        if (page < start || page - start >= capacity) return false;
        const std::uint32_t bit = page - start;
        return m.p[5 + bit / 8] & (1u << (bit % 8));
    }
    const std::uint32_t perPage = (store.pageSize() - 4) * 8;
    const std::uint32_t slot = page / perPage;
    if (1 + 4 * (slot + 1) > m.size) return false;
    const std::uint32_t bitmapPage = u32(m.p + 1 + 4 * slot);
    if (bitmapPage == 0) return false;
    const std::uint8_t* bp = store.read(bitmapPage);
    const std::uint32_t bit = page - slot * perPage;
    return bp[4 + bit / 8] & (1u << (bit % 8));
}

std::vector<std::uint32_t> mapPages(PageStore& store, RowPointer where, const std::string& what) {
    MapRow m = mapRow(store, where, false, what);
    if (m.p[0] == 0x00) return inlinePages(m);
    std::vector<std::uint32_t> v;
    const std::uint32_t perPage = (store.pageSize() - 4) * 8;
    std::vector<std::uint32_t> slots;
    for (std::size_t s = 0; 1 + 4 * (s + 1) <= m.size; ++s) slots.push_back(u32(m.p + 1 + 4 * s));
    for (std::size_t s = 0; s < slots.size(); ++s) {
        if (slots[s] == 0) continue;
        const std::uint8_t* bp = store.read(slots[s]);
        for (std::uint32_t i = 0; i < store.pageSize() - 4; ++i) {
            if (!bp[4 + i]) continue;
            for (int b = 0; b < 8; ++b)
                if (bp[4 + i] & (1 << b)) v.push_back(std::uint32_t(s) * perPage + i * 8 + std::uint32_t(b));
        }
    }
    return v;
}

std::uint32_t mapLastPage(PageStore& store, RowPointer where, const std::string& what) {
    MapRow m = mapRow(store, where, false, what);
    if (m.p[0] == 0x00) {
        for (std::size_t i = m.size - 5; i-- > 0;) {
            const std::uint8_t byte = m.p[5 + i];
            if (!byte) continue;
            for (int b = 7; b >= 0; --b)
                if (byte & (1 << b)) return u32(m.p + 1) + std::uint32_t(i * 8 + std::size_t(b));
        }
        return 0;
    }
    const std::vector<std::uint32_t> v = mapPages(store, where, what);
    return v.empty() ? 0 : v.back();
}

} // namespace qm::jet
