// Table definitions (TDEF pages, type 0x02).
//
// One byte stream: the first page from offset 0, each continuation page
// (u32 "next" at offset 4) from offset 8.  Offsets into the stream:
//   J3   J4   size
//   8    8    4    stream length
//   12   16   4    row count (may be stale: count rows by scanning)
//   16   20   4    last AutoNumber handed out
//   20   40   1    'N' user table, 'S' system table
//   21   41   2    max column number + 1 (column count of new rows)
//   23   43   2    variable-length columns
//   25   45   2    live columns
//   27   47   4    logical indexes        31  51  4  real indexes
//   35   55   4    row pointer: owned-pages usage map
//   39   59   4    row pointer: free-space usage map
//   43   63        real-index statistics (8 / 12 each), column descriptors
//                  (18 / 25 each), column names (1 / 2 byte length + name),
//                  real-index definitions, logical-index definitions and
//                  names, long-value column maps ... FF FF
// Column descriptor:
//   J3  J4  size
//   0   0   1  type code                 13  15  1  flags (0x01 fixed, 0x04 AutoNumber,
//   1   5   2  column number                        0x40 GUID AutoNumber, 0x80 hyperlink)
//   3   7   2  variable index            --  16  1  ext flags (0x01 compressible, 0xC0 calculated)
//   9   11  2  text sort order LCID      14  21  2  offset in the fixed area
//   11  --  2  J3 text code page         16  23  2  length (J4 text: bytes)
//   11  11  1  Decimal precision         12  12  1  Decimal scale
//   --  11  4  ACE complex column id
#pragma once

#include "format.h"
#include "page_source.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm::jet {

constexpr std::uint8_t kColFixed = 0x01;
constexpr std::uint8_t kColAutoNumber = 0x04;
constexpr std::uint8_t kColGuidAutoNumber = 0x40;
constexpr std::uint8_t kColHyperlink = 0x80;
constexpr std::uint8_t kExtCompressible = 0x01;
constexpr std::uint8_t kExtCalculated = 0xC0;

struct ColumnInfo {
    std::string name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;
    std::uint16_t varIndex = 0;
    std::uint16_t fixedOffset = 0;
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t extFlags = 0;
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::uint16_t sortLcid = 0;
    std::uint16_t codePage = 0; // Jet 3 text
    std::uint32_t complexId = 0;
    std::uint8_t resultType = 0;     // calculated columns: type code of the result (ResultType property)
    std::string complexKind;         // complex columns: "Attachment", "Multi-value (Text)", ...
    std::uint32_t complexFlatTable = 0; // complex columns: TDEF page of the hidden table with the entries
    std::string complexFlatName;        // ... and its name
    std::size_t descriptorIndex = 0; // position in the TDEF

    bool fixed() const { return flags & kColFixed; }
    bool calculated() const { return (extFlags & kExtCalculated) == kExtCalculated; }
    bool longValue() const { return type == kMemo || type == kOle; }
};

struct TableDef {
    std::string name;
    std::uint32_t tdefPage = 0;
    std::uint32_t storedRowCount = 0;
    std::uint32_t lastAutoNumber = 0;
    std::uint8_t tableType = 0;
    std::uint16_t maxColumns = 0;
    std::uint16_t varColumns = 0;
    std::uint32_t logicalIndexes = 0;
    std::uint32_t realIndexes = 0;
    RowPointer ownedPages;
    RowPointer freePages;
    // Live columns in the order the table shows them (column number order).
    std::vector<ColumnInfo> columns;
    bool hasVariableColumns() const;
};

// Reads the definition of the table whose TDEF starts at `page`.  `name` is
// used in messages.  Throws qm::Error when the definition is damaged.
TableDef readTableDef(PageSource& src, std::uint32_t page, const std::string& name);

} // namespace qm::jet
