// Long values (Memo, OLE Object): a 12-byte header in the row.
//
//   off size
//   0   4    bits 0-29 total length; top bits: 0x80000000 data follows inline,
//            0x40000000 data is one row of an LVAL page, 0 a chain of rows
//   4   4    row pointer to the first LVAL row (not inline)
//   8   4    unknown
//   12  n    inline data
// Chain rows start with the row pointer of the next row (0 at the end); the
// data follows.  LVAL pages are data pages whose owner field reads "LVAL".
#pragma once

#include "page_source.h"

#include <cstdint>
#include <string>

namespace qm::jet {

// Where a long value was met, for messages (built only on failure).
struct LongValueContext {
    const std::string* table = nullptr;
    const std::string* column = nullptr;
    std::uint32_t page = 0;
    unsigned row = 0;
    std::string describe() const;
};

class LongValueReader {
public:
    explicit LongValueReader(PageSource& src) : src_(src) {}
    // Reads the value whose header (and inline data) is [p, p+n) into out.
    void read(const std::uint8_t* p, std::size_t n, std::string& out, const LongValueContext& where);

private:
    PageSource& src_;
};

} // namespace qm::jet
