#include "long_value.h"

#include "data_page.h"
#include "value/value.h"

#include <unordered_set>

namespace qm::jet {

std::string LongValueContext::describe() const {
    return "table " + (table ? *table : std::string("?")) + ", column " + (column ? *column : std::string("?")) +
           ", row " + std::to_string(row) + " of page " + std::to_string(page);
}

void LongValueReader::read(const std::uint8_t* p, std::size_t n, std::string& out, const LongValueContext& where) {
    out.clear();
    auto fail = [&](const std::string& why) { return Error(src_.path() + ": " + where.describe() + ": " + why); };
    if (n < 12) throw fail("the long value header is cut short (" + std::to_string(n) + " bytes)");
    const std::uint32_t word = u32(p);
    const std::uint32_t length = word & 0x3FFFFFFF;
    const std::uint32_t kind = word & 0xC0000000;
    if (kind == 0x80000000) {
        if (length > n - 12)
            throw fail("the inline long value claims " + std::to_string(length) + " bytes but the row holds " +
                       std::to_string(n - 12));
        out.assign(reinterpret_cast<const char*>(p + 12), length);
        return;
    }
    if (kind == 0xC0000000) throw fail("the long value header has an unknown kind");
    if (std::uint64_t(length) > std::uint64_t(src_.pageCount()) * src_.pageSize())
        throw fail("the long value claims " + std::to_string(length) + " bytes, more than the whole file");
    RowPointer at = RowPointer::decode(p + 4);
    out.reserve(length);
    std::unordered_set<std::uint32_t> seen;
    while (out.size() < length) {
        if (at.page == 0) throw fail("the long value chain ends after " + std::to_string(out.size()) + " of " +
                                     std::to_string(length) + " bytes");
        if (!seen.insert((at.page << 8) | at.row).second)
            throw fail("the long value chain forms a loop (row " + std::to_string(at.row) + " of page " +
                       std::to_string(at.page) + " comes back)");
        PageRef page = src_.page(at.page);
        if (page->data()[0] != kPageData || pageOwner(*page) != kLvalOwner)
            throw fail("the long value points at page " + std::to_string(at.page) + ", which is not a long value page");
        const RowSlot s = rowSlot(src_, *page, at.row, where.describe() + " (long value)");
        const std::uint8_t* r = page->data() + s.start;
        std::size_t size = s.size();
        if (kind == 0x40000000) {
            if (size < length)
                throw fail("the long value claims " + std::to_string(length) + " bytes but its row holds " +
                           std::to_string(size));
            out.assign(reinterpret_cast<const char*>(r), length);
            return;
        }
        if (size <= 4) throw fail("a row of the long value chain on page " + std::to_string(at.page) + " is empty");
        const std::size_t take = std::min<std::size_t>(size - 4, length - out.size());
        out.append(reinterpret_cast<const char*>(r + 4), take);
        at = RowPointer::decode(r);
    }
}

} // namespace qm::jet
