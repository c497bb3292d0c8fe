#include "tdef.h"

#include "value/value.h"

#include <algorithm>
#include <unordered_set>

namespace qm::jet {

namespace {

class Stream {
public:
    Stream(const PageSource& src, const std::string& what, std::vector<std::uint8_t> bytes)
        : src_(src), what_(what), b_(std::move(bytes)) {}
    const std::uint8_t* at(std::size_t off, std::size_t n) const {
        if (off > b_.size() || n > b_.size() - off)
            throw Error(src_.path() + ": table " + what_ + ": the table definition is damaged (it ends at byte " +
                        std::to_string(b_.size()) + ", a field at " + std::to_string(off) + " needs " +
                        std::to_string(n) + " more)");
        return b_.data() + off;
    }
    std::size_t size() const { return b_.size(); }

private:
    const PageSource& src_;
    const std::string& what_;
    std::vector<std::uint8_t> b_;
};

} // namespace

bool TableDef::hasVariableColumns() const {
    if (varColumns > 0) return true;
    return std::any_of(columns.begin(), columns.end(), [](const ColumnInfo& c) { return !c.fixed(); });
}

TableDef readTableDef(PageSource& src, std::uint32_t first, const std::string& name) {
    const Format& f = src.format();
    auto fail = [&](const std::string& why) { return Error(src.path() + ": table " + name + ": " + why); };

    // Gather the stream, following continuation pages; a page met twice is a loop.
    std::vector<std::uint8_t> bytes;
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t pg = first;
    std::uint32_t total = 0;
    while (pg != 0) {
        if (!seen.insert(pg).second)
            throw fail("the table definition pages form a loop (page " + std::to_string(pg) + " comes back)");
        PageRef p = src.page(pg);
        if (p->data()[0] != kPageTdef)
            throw fail("page " + std::to_string(pg) + " is not a table definition page (type " +
                       std::to_string(p->data()[0]) + ")");
        if (bytes.empty()) {
            total = u32(p->data() + 8);
            if (total < f.tdefHeader + 2 || total > std::uint64_t(src.pageCount()) * src.pageSize())
                throw fail("the table definition length " + std::to_string(total) + " is impossible");
            bytes.assign(p->data(), p->data() + p->size());
        } else {
            bytes.insert(bytes.end(), p->data() + 8, p->data() + p->size());
        }
        if (bytes.size() >= total) break;
        pg = u32(p->data() + 4);
    }
    if (bytes.size() < total)
        throw fail("the table definition is cut short (" + std::to_string(bytes.size()) + " of " +
                   std::to_string(total) + " bytes)");
    bytes.resize(total);
    Stream s(src, name, std::move(bytes));

    TableDef t;
    t.name = name;
    t.tdefPage = first;
    const bool j3 = f.jet3;
    t.storedRowCount = u32(s.at(j3 ? 12 : 16, 4));
    t.lastAutoNumber = u32(s.at(j3 ? 16 : 20, 4));
    t.tableType = *s.at(j3 ? 20 : 40, 1);
    t.maxColumns = u16(s.at(j3 ? 21 : 41, 2));
    t.varColumns = u16(s.at(j3 ? 23 : 43, 2));
    const std::uint16_t numCols = u16(s.at(j3 ? 25 : 45, 2));
    t.logicalIndexes = u32(s.at(j3 ? 27 : 47, 4));
    t.realIndexes = u32(s.at(j3 ? 31 : 51, 4));
    t.ownedPages = RowPointer::decode(s.at(j3 ? 35 : 55, 4));
    t.freePages = RowPointer::decode(s.at(j3 ? 39 : 59, 4));
    if (t.realIndexes > 1000 || t.logicalIndexes > 1000)
        throw fail("the table definition lists an impossible number of indexes");
    if (numCols > t.maxColumns && t.maxColumns != 0)
        throw fail("the table definition lists " + std::to_string(numCols) + " columns but only " +
                   std::to_string(t.maxColumns) + " column numbers");

    std::size_t off = f.tdefHeader + std::size_t(t.realIndexes) * f.realIndexStat;
    t.columns.resize(numCols);
    for (std::size_t k = 0; k < numCols; ++k, off += f.columnDesc) {
        const std::uint8_t* d = s.at(off, f.columnDesc);
        ColumnInfo& c = t.columns[k];
        c.descriptorIndex = k;
        c.type = d[0];
        if (j3) {
            c.number = u16(d + 1);
            c.varIndex = u16(d + 3);
            c.sortLcid = u16(d + 9);
            c.flags = d[13];
            c.fixedOffset = u16(d + 14);
            c.length = u16(d + 16);
            if (c.type == kText || c.type == kMemo) c.codePage = u16(d + 11);
        } else {
            c.number = u16(d + 5);
            c.varIndex = u16(d + 7);
            c.sortLcid = u16(d + 11);
            c.flags = d[15];
            c.extFlags = d[16];
            c.fixedOffset = u16(d + 21);
            c.length = u16(d + 23);
            if (c.type == kComplex) c.complexId = u32(d + 11);
        }
        if (c.type == kNumeric) {
            c.precision = d[11];
            c.scale = d[12];
        }
    }
    for (std::size_t k = 0; k < numCols; ++k) {
        ColumnInfo& c = t.columns[k];
        std::size_t len;
        if (j3) {
            len = *s.at(off, 1);
            off += 1;
            c.name.clear();
            src.codePage().append(s.at(off, len), len, c.name);
        } else {
            len = u16(s.at(off, 2));
            off += 2;
            appendUtf16(s.at(off, len), len, c.name);
        }
        off += len;
    }
    // The sections after the names describe indexes and long-value maps,
    // which reading rows does not need.

    std::unordered_set<std::uint16_t> numbers;
    for (const ColumnInfo& c : t.columns) {
        if (!numbers.insert(c.number).second)
            throw fail("two columns share the column number " + std::to_string(c.number));
        if (t.maxColumns != 0 && c.number >= t.maxColumns)
            throw fail("column " + c.name + " has number " + std::to_string(c.number) + ", beyond the " +
                       std::to_string(t.maxColumns) + " the table definition allows");
    }
    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.number < b.number; });
    return t;
}

} // namespace qm::jet
