// Usage maps: which pages an object owns.  A map is a row on a data page.
//
//   inline (byte 0 = 0x00):    u32 start page, then a bitmap; bit k (LSB
//                              first) = page start + k
//   reference (byte 0 = 0x01): u32 page numbers of bitmap pages (type 0x05,
//                              bitmap from offset 4); slot i covers pages
//                              i*N .. (i+1)*N-1, N = (page size - 4) * 8
// For tables and long-value columns a set bit means "owned"; for the global
// map on page 1 it means "free".
#pragma once

#include "page_source.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm::jet {

// Walks the pages of one map in ascending order without holding more than
// one bitmap at a time.
class UsageMap {
public:
    UsageMap(PageSource& src, RowPointer where, std::string what);
    // The next page listed, or false at the end.
    bool next(std::uint32_t& page);

private:
    bool loadReferenceSlot();

    PageSource& src_;
    std::string what_;
    bool reference_ = false;
    std::vector<std::uint8_t> row_;     // the map row
    std::vector<std::uint8_t> bitmap_;  // current bitmap
    std::uint32_t base_ = 0;            // page of bit 0 in bitmap_
    std::size_t bit_ = 0;               // next bit to look at
    std::size_t slot_ = 0;              // next reference slot
};

} // namespace qm::jet
