#include "usage_map.h"

#include "data_page.h"
#include "value/value.h"

namespace qm::jet {

UsageMap::UsageMap(PageSource& src, RowPointer where, std::string what) : src_(src), what_(std::move(what)) {
    PageRef page = src_.page(where.page);
    if (page->data()[0] != kPageData)
        throw Error(src_.path() + ": " + what_ + ": the usage map points at page " + std::to_string(where.page) +
                    ", which is not a data page");
    const RowSlot s = rowSlot(src_, *page, where.row, what_ + " (usage map)");
    if (s.size() < 1) throw Error(src_.path() + ": " + what_ + ": the usage map row is empty");
    row_.assign(page->data() + s.start, page->data() + s.end);
    if (row_[0] == 0) {
        if (row_.size() < 5) throw Error(src_.path() + ": " + what_ + ": the usage map row is too short");
        base_ = u32(row_.data() + 1);
        bitmap_.assign(row_.begin() + 5, row_.end());
    } else if (row_[0] == 1) {
        reference_ = true;
    } else {
        throw Error(src_.path() + ": " + what_ + ": unknown usage map kind " + std::to_string(row_[0]));
    }
}

bool UsageMap::loadReferenceSlot() {
    const std::uint32_t perPage = (src_.pageSize() - 4) * 8;
    while (1 + 4 * (slot_ + 1) <= row_.size()) {
        const std::uint32_t mapPage = u32(row_.data() + 1 + 4 * slot_);
        const std::size_t slot = slot_++;
        if (mapPage == 0) continue;
        PageRef p = src_.page(mapPage);
        if (p->data()[0] != kPageUsageMap)
            throw Error(src_.path() + ": " + what_ + ": usage map page " + std::to_string(mapPage) +
                        " has the wrong page type");
        bitmap_.assign(p->data() + 4, p->data() + p->size());
        base_ = std::uint32_t(slot * perPage);
        bit_ = 0;
        return true;
    }
    return false;
}

bool UsageMap::next(std::uint32_t& page) {
    for (;;) {
        const std::size_t bits = bitmap_.size() * 8;
        while (bit_ < bits) {
            const std::size_t b = bit_++;
            const std::uint8_t byte = bitmap_[b / 8];
            if (byte == 0) { // skip empty bytes quickly
                bit_ = (b / 8 + 1) * 8;
                continue;
            }
            if (byte & (1u << (b % 8))) {
                page = base_ + std::uint32_t(b);
                return true;
            }
        }
        if (!reference_ || !loadReferenceSlot()) return false;
    }
}

} // namespace qm::jet
