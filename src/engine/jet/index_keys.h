// Index keys: the bytes an index orders its entries by.
//
// A key is one segment per index column.  A segment starts with 7F (value,
// ascending), 80 (value, descending), 00 (NULL, ascending) or FF (NULL,
// descending); everything after the flag is big-endian:
//   Byte               the byte                       (descending: inverted)
//   Integer/Long/      two's complement, top bit      (descending: inverted)
//   Currency/BigInt    flipped
//   Single/Double/Date >= 0: sign bit flipped; < 0: all bits inverted
//                      (descending: the other way round)
//   Yes/No             00 true, FF false              (descending: FF / 00)
//   Binary, GUID       8-byte groups, each but the last followed by 09, the
//                      last zero-padded and followed by its length (1-8);
//                      GUIDs in their printed byte order
//   Decimal            FF + magnitude (>= 0) or 00 + inverted magnitude;
//                      descending differs between Jet 4 and ACE
//   Text, Memo         the first 255 UTF-16 units without trailing spaces,
//                      in the column's sort order (collation.h)
#pragma once

#include "write_model.h"
#include "value/value.h"

#include <string>

namespace qm::jet {

// Appends the key segment of `v` (already converted to the column's type by
// the row encoder; Null for NULL) for `col`.  `ace` selects the ACE form of
// descending Decimal keys.  Throws qm::Error for columns that cannot be
// indexed (OLE, text in a sort order other than General/General Legacy).
void appendKeySegment(const WColumn& col, bool ascending, const Value& v, bool ace, std::string& out);

// Why `col` cannot be part of an index, or empty when it can.
std::string unindexableReason(const WColumn& col);

} // namespace qm::jet
