#include "data_page.h"

#include "value/value.h"

namespace qm::jet {

std::uint16_t slotCount(const PageSource& src, const Page& page, const std::string& what) {
    const Format& f = src.format();
    const std::size_t countAt = f.dataHeader - 2;
    const std::uint16_t n = u16(page.data() + countAt);
    if (f.dataHeader + 2 * std::size_t(n) > page.size())
        throw Error(src.path() + ": " + what + ": page " + std::to_string(page.number) + " claims " +
                    std::to_string(n) + " rows, more than the page can hold");
    return n;
}

RowSlot rowSlot(const PageSource& src, const Page& page, unsigned row, const std::string& what) {
    const Format& f = src.format();
    const std::uint16_t n = slotCount(src, page, what);
    auto fail = [&](const std::string& why) -> Error {
        return Error(src.path() + ": " + what + ": row " + std::to_string(row) + " of page " +
                     std::to_string(page.number) + " " + why);
    };
    if (row >= n) throw fail("does not exist (the page has " + std::to_string(n) + " rows)");
    const std::uint8_t* table = page.data() + f.dataHeader;
    const std::uint16_t raw = u16(table + 2 * row);
    RowSlot s;
    s.flags = raw & 0xE000;
    s.start = raw & 0x1FFF;
    s.end = row == 0 ? std::uint16_t(page.size()) : std::uint16_t(u16(table + 2 * (row - 1)) & 0x1FFF);
    const std::size_t tableEnd = f.dataHeader + 2 * std::size_t(n);
    if (s.start < tableEnd || s.end > page.size() || s.start > s.end)
        throw fail("lies outside its page (offsets " + std::to_string(s.start) + ".." + std::to_string(s.end) + ")");
    return s;
}

} // namespace qm::jet
