// Index key expressions: the small expression language of INDEX ON.
//
// An expression is compiled against a table's fields and then evaluated on
// raw record bytes (deletion flag first), giving the key bytes a structural
// index stores for the record, or (for FOR clauses) a condition.
//
// What is understood: field names (optionally alias-qualified), string,
// number and logical literals, + and - on strings (concatenation) and
// numbers, * and /, comparisons, .AND./.OR./.NOT., and the functions
// UPPER, LOWER, ALLTRIM, LTRIM, RTRIM/TRIM, PADL, PADR, PADC, LEFT, RIGHT,
// SUBSTR, STR, VAL, DTOS, DTOC(d,1), TTOC(t,1), BINTOC (1, 2 or 4 bytes),
// DELETED(), EMPTY, ISNULL, IIF, INT, ABS, CHR, SPACE, REPLICATE (names may
// be shortened to four letters, as FoxPro allows).  Anything else is
// refused when compiling, with an Error naming the expression and the part
// that is not understood — the caller then refuses to write rather than
// store a key it cannot compute.
//
// Text is handled as the table's code-page bytes.  UPPER and LOWER know the
// letters of Windows-1252; other code pages are handled for ASCII letters
// only, and a record whose text holds a byte they cannot map is refused at
// evaluation time.
#pragma once

#include "xbase/dbf_table.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

enum class KeyType : std::uint8_t {
    Character, // code-page bytes, padded with spaces
    Numeric,   // 8-byte sortable double
    Integer,   // a bare I field: 4-byte big-endian with the sign bit flipped
    Date,      // 8-byte sortable double of the Julian day number
    DateTime,
    Logical,   // 'T' / 'F'
};

class KeyExpression {
public:
    // Compiles `text` against the table's user fields.  `codePage` is the
    // table's (1252 when unknown).  `longNames`, when not empty, holds the
    // container's long field names in field order (a container table's
    // expressions use them).  Throws Error naming the expression when it
    // uses something this evaluator does not compute exactly.
    static KeyExpression compile(std::string_view text, std::span<const DbfField> fields,
                                 const DbfField* nullFlags, int codePage = 1252,
                                 std::span<const std::string> longNames = {});

    KeyExpression(KeyExpression&&) noexcept;
    KeyExpression& operator=(KeyExpression&&) noexcept;
    ~KeyExpression();

    const std::string& text() const;
    KeyType type() const;
    // Width of the key this expression produces, as FoxPro sizes it: the
    // expression's character width, 8 for numbers and dates, 4 for a bare
    // integer field, 1 for logicals; a null marker byte comes on top.
    int keyLength() const;
    // True when the expression reads a nullable field, so that a tag made
    // on it by FoxPro carries a leading null marker byte (tag option 0x02).
    bool nullPrefixed() const;
    // The byte that pads keys (space for character keys, 0 otherwise).
    char padByte() const;

    // The key for one record, exactly `length` bytes (character keys are
    // padded with spaces or cut).  With `nullMarker` the key starts with
    // 0x80 and a null result is all zero bytes; without it a null result is
    // all zero bytes too.  Throws Error when the record holds a value the
    // expression cannot compute exactly (e.g. a letter UPPER cannot map in
    // the table's code page).
    void key(std::span<const std::uint8_t> record, std::size_t length, std::string& out,
             bool nullMarker = false) const;
    // Evaluates the expression as a condition (FOR clauses); null is false.
    bool condition(std::span<const std::uint8_t> record) const;

private:
    struct Impl;
    explicit KeyExpression(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace qm::xbase
