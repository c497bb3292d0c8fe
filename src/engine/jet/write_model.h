// The writer's view of a table definition: every field of the TDEF stream,
// including the index sections and the bytes nobody has explained, so that a
// definition read from a file is written back unchanged except for what the
// writer meant to change.  Layout: tdef.h and the tables below.
//
// Real-index definition (52 bytes):          Logical-index definition (28 bytes):
//   0   4   1923                               0   4   1625
//   4   30  10 x (u16 column number, u8 1 asc) 4   4   logical index number
//   34  4   row pointer of the usage map       8   4   real index number
//   38  4   root page                          12  1   relationship side
//   42  4   0                                  13  4   related index (-1)
//   46  1   flags 0x01 unique 0x02 ignore      17  4   related table page
//           nulls 0x08 required 0x80 always    21  2   04 04 on ordinary indexes
//   47  5   0                                  23  1   1 primary key, 2 foreign key
//                                              24  4   0
// Real-index statistics (12 bytes): entries, distinct keys, 0.
#pragma once

#include "format.h"
#include "write_pages.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::jet {

constexpr std::uint8_t kIdxUnique = 0x01;
constexpr std::uint8_t kIdxIgnoreNulls = 0x02;
constexpr std::uint8_t kIdxRequired = 0x08;
constexpr std::uint8_t kIdxAlways = 0x80;

inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    put32(p, std::uint32_t(v));
    put32(p + 4, std::uint32_t(v >> 32));
}
inline std::uint32_t rowPointerValue(RowPointer r) { return (r.page << 8) | r.row; }
inline RowPointer rowPointerOf(std::uint32_t v) { return RowPointer{v >> 8, std::uint8_t(v & 0xFF)}; }

// Unsigned 128-bit integer of the compiler (Decimal magnitudes).
__extension__ typedef unsigned __int128 UInt128;

// UTF-8 to UTF-16 code units (bad sequences become U+FFFD).
std::u16string toUtf16(std::string_view utf8);

struct WColumn {
    std::string name;
    std::array<std::uint8_t, 25> raw{}; // the descriptor as stored
    std::uint8_t type() const { return raw[0]; }
    std::uint16_t number() const { return u16(&raw[5]); }
    std::uint16_t varIndex() const { return u16(&raw[7]); }
    std::uint8_t precision() const { return raw[11]; }
    std::uint8_t scale() const { return raw[12]; }
    std::uint16_t sortLcid() const { return u16(&raw[11]); }
    std::uint8_t sortVersion() const { return raw[14]; }
    std::uint8_t flags() const { return raw[15]; }
    std::uint8_t extFlags() const { return raw[16]; }
    std::uint16_t fixedOffset() const { return u16(&raw[21]); }
    std::uint16_t length() const { return u16(&raw[23]); }
    bool fixed() const { return flags() & 0x01; }
    bool autoNumber() const { return flags() & 0x04; }
    bool guidAutoNumber() const { return flags() & 0x40; }
    bool longValue() const { return type() == kMemo || type() == kOle; }
    bool isText() const { return type() == kText || type() == kMemo; }
};

struct WIndexColumn {
    std::uint16_t number = 0;
    bool ascending = true;
};

struct WRealIndex {
    std::array<std::uint8_t, 12> stats{};
    std::array<std::uint8_t, 52> raw{};
    std::vector<WIndexColumn> columns;
    RowPointer usageMap;
    std::uint32_t rootPage = 0;
    std::uint8_t flags() const { return raw[46]; }
    bool unique() const { return flags() & kIdxUnique; }
    bool ignoreNulls() const { return flags() & kIdxIgnoreNulls; }
    bool required() const { return flags() & kIdxRequired; }
};

struct WLogicalIndex {
    std::array<std::uint8_t, 28> raw{};
    std::string name;
    std::uint32_t number() const { return u32(&raw[4]); }
    std::uint32_t realIndex() const { return u32(&raw[8]); }
    std::uint8_t kind() const { return raw[23]; } // 1 primary key, 2 foreign key
};

struct WLongValueMaps {
    std::uint16_t column = 0;
    RowPointer owned;
    RowPointer free;
};

struct TableDefinition {
    std::string name;
    std::uint32_t page = 0;                 // first TDEF page
    std::vector<std::uint32_t> chain;       // every TDEF page, first included
    std::array<std::uint8_t, 63> head{};    // fixed block, as stored
    std::vector<WColumn> columns;           // stored order
    std::vector<WRealIndex> realIndexes;
    std::vector<WLogicalIndex> logicalIndexes;
    std::vector<WLongValueMaps> lvMaps;
    // Column numbers whose Required property is set (from LvProp).
    std::vector<std::uint16_t> required;
    bool propertiesRead = false;

    std::uint32_t rowCount() const { return u32(&head[16]); }
    void setRowCount(std::uint32_t n) { put32(&head[16], n); }
    std::uint32_t lastAutoNumber() const { return u32(&head[20]); }
    void setLastAutoNumber(std::uint32_t n) { put32(&head[20], n); }
    std::uint16_t maxColumns() const { return u16(&head[41]); }
    std::uint16_t varColumns() const { return u16(&head[43]); }
    RowPointer ownedMap() const { return RowPointer::decode(&head[55]); }
    RowPointer freeMap() const { return RowPointer::decode(&head[59]); }
    bool system() const { return head[40] == 0x53; }

    // Columns in column-number order (kept until the column list changes).
    const std::vector<const WColumn*>& byNumber() const;
    const WColumn* column(std::uint16_t number) const;
    const WLongValueMaps* lvMapsOf(std::uint16_t column) const;
    // Size of the fixed area of a row.
    std::size_t fixedAreaSize() const;

private:
    mutable std::vector<const WColumn*> order_;
    mutable const WColumn* orderFor_ = nullptr;
    mutable std::size_t orderCount_ = 0;
};

// Reads the definition that starts at `page`.  `name` is for messages.
TableDefinition readDefinition(PageStore& store, std::uint32_t page, const std::string& name);
// The same from pages another source gives (each pointer read at once).
TableDefinition readDefinition(const std::string& path, std::uint32_t pageSize,
                               const std::function<const std::uint8_t*(std::uint32_t)>& read, std::uint32_t page,
                               const std::string& name);
// The TDEF byte stream of `def` (counts in the head recomputed).
std::vector<std::uint8_t> serializeDefinition(TableDefinition& def, const Format& format);

// Usage maps of the writer.  A map is a row on a data page; the owner keeps
// its row pointer.  `allocate` gives a new page for reference-map bitmaps.
struct MapRow {
    std::uint8_t* p = nullptr;
    std::size_t size = 0;
};
MapRow mapRow(PageStore& store, RowPointer where, bool forWriting, const std::string& what);
// Adds (on=true) or removes a page.  Inline maps whose window cannot hold
// the page are moved or turned into reference maps.
void mapSet(PageStore& store, RowPointer where, std::uint32_t page, bool on,
            const std::function<std::uint32_t()>& allocate, const std::string& what);
bool mapHas(PageStore& store, RowPointer where, std::uint32_t page, const std::string& what);
// Every page listed, ascending.
std::vector<std::uint32_t> mapPages(PageStore& store, RowPointer where, const std::string& what);
// Last listed page, or 0.
std::uint32_t mapLastPage(PageStore& store, RowPointer where, const std::string& what);

} // namespace qm::jet
