// Rows of a data page.
//
// Jet 4 / ACE (counts and offsets u16):
//   ncols | fixed area | variable data | [pad] | EOD | off[nvar-1] .. off[0] | nvar | null mask
// Jet 3: the same with u8 counts and offsets, plus a jump table between
// off[0] and nvar: J = (row length - 1) / 256 entries, jump[0] next to nvar;
// an offset's true value = stored byte + 256 * (jumps whose value <= its index).
// The last jump is a dummy when (EOD position) / 256 < J.
// Without variable columns the row is only ncols | fixed area | null mask.
//
// Fixed column c sits at 2 + offset (Jet 3: 1 + offset).  Variable column k
// spans [off[k], off[k+1]) with off[nvar] = EOD.  Null mask: ceil(ncols/8)
// bytes, bit = column number, 1 = present; for Yes/No it is the value.
// Column numbers >= the row's ncols read as NULL (added after the row).
//
// Values: Byte u8, Integer i16, Long i32, Currency i64 / 10000, Single,
// Double, Date/Time double, Large Number i64, Replication ID 16 bytes,
// Decimal 17 bytes (sign 0x80, then four u32 LE words, most significant
// first), Date/Time Extended 42 ASCII bytes "ddddddddddddddddddd:sssssssssssss
// sssssss:7\0" (days since 0001-01-01, seconds and 100 ns since midnight).
// Calculated columns wrap their value: 16 bytes, u32 length at 16, data at 20;
// the result type is the ResultType column property, and Decimal results use
// the 16-byte DECIMAL layout (scale at 2, sign at 3, u32 high, u64 low).
#pragma once

#include "long_value.h"
#include "page_source.h"
#include "tdef.h"
#include "value/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qm::jet {

class RowDecoder {
public:
    RowDecoder(PageSource& src, const TableDef& table);
    // Only these columns (positions in table.columns) are decoded; the others
    // stay Empty.  By default every column is.
    void setWanted(const std::vector<bool>& wanted) { wanted_ = wanted; }
    // Decodes the row [row, row+len) found as `rowNo` of `page` into out
    // (resized to the column count).  Throws qm::Error naming file, table,
    // page and row when the row is damaged.
    void decode(const std::uint8_t* row, std::size_t len, std::vector<Value>& out, std::uint32_t page, unsigned rowNo);

private:
    Error damaged(std::uint32_t page, unsigned rowNo, const std::string& why) const;
    void decodeText(const std::uint8_t* p, std::size_t n, Value& v);
    void decodeFixedType(std::uint8_t type, const ColumnInfo& c, const std::uint8_t* p, std::size_t n, Value& v,
                         std::uint32_t page, unsigned rowNo);

    PageSource& src_;
    const TableDef& table_;
    LongValueReader lv_;
    std::vector<bool> wanted_;
    std::vector<std::uint32_t> offsets_; // variable offsets of the current row (nvar + 1)
    std::string scratch_;
};

// "YYYY-MM-DD HH:MM:SS.fffffff" from the 42-byte Date/Time Extended form;
// false when the bytes are not that form.
bool extendedDateToText(const std::uint8_t* p, std::size_t n, std::string& out);

} // namespace qm::jet
