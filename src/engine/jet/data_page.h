// Data pages (table rows, long-value rows, usage-map rows).
//
//   off J3/J4  size  field
//   0          1     0x01
//   2          2     free space
//   4          4     owner: TDEF page of the table, "LVAL" on long-value pages
//   8 / 12     2     number of row slots (deleted ones included)
//   10 / 14    2*n   row offset table: bits 0x1FFF offset of the row in the
//                    page, 0x4000 the row is a pointer to where it moved,
//                    0x8000 deleted (or the target of such a pointer)
// Row i occupies [offset(i), offset(i-1)), offset(-1) being the page size.
#pragma once

#include "page_source.h"

#include <cstdint>
#include <string>

namespace qm::jet {

constexpr std::uint16_t kRowDeleted = 0x8000;
constexpr std::uint16_t kRowPointer = 0x4000;
constexpr std::uint32_t kLvalOwner = 0x4C41564C; // "LVAL" read little-endian

struct RowSlot {
    std::uint16_t start = 0;
    std::uint16_t end = 0;
    std::uint16_t flags = 0;
    std::uint16_t size() const { return std::uint16_t(end - start); }
    bool deleted() const { return flags & kRowDeleted; }
    bool pointer() const { return (flags & kRowPointer) && !(flags & kRowDeleted); }
};

inline std::uint32_t pageOwner(const Page& p) { return u32(p.data() + 4); }

// Number of row slots on a data page; throws when the offset table would not
// fit the page.  `what` names the owner for the message.
std::uint16_t slotCount(const PageSource& src, const Page& page, const std::string& what);

// Bounds of row `row`; throws qm::Error (naming file, `what`, page and row)
// when the slot does not exist or points outside the page.
RowSlot rowSlot(const PageSource& src, const Page& page, unsigned row, const std::string& what);

} // namespace qm::jet
