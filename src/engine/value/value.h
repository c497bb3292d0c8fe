// The variant every layer shares: storage engines produce it, the SQL layer
// computes with it, the data-access facade hands it to the windows.
//
// It mirrors the platform variant the database components speak: the same
// kinds, the same date epoch (day 0 = 1899-12-30, time as the fraction of a
// day), currency as a 64-bit integer scaled by 10,000, and an exact decimal
// of up to 28 digits with a scale.  Text is held as UTF-8.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace qm {

// Every failure in the engine layers is one of these; the text is what the
// user sees, so it names the file, table, row or value concerned.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A numeric conversion that does not fit its target ("Overflow").
class OverflowError : public Error {
public:
    using Error::Error;
};

// Kinds, numbered as the platform variant numbers them.
enum class VarType : std::uint16_t {
    Empty = 0,
    Null = 1,
    Integer = 2,   // 16-bit
    Long = 3,      // 32-bit
    Single = 4,
    Double = 5,
    Currency = 6,
    Date = 7,
    String = 8,
    Boolean = 11,
    Decimal = 14,
    Byte = 17,
    BigInt = 20,
    Guid = 72,
    Binary = 8209, // array of bytes
};

// 128-bit integer of the compiler, for exact decimal arithmetic.
__extension__ typedef __int128 Int128;

// Exact decimal: value = mantissa / 10^scale, |mantissa| < 10^28, scale 0..28.
struct Decimal {
    Int128 mantissa = 0;
    std::uint8_t scale = 0;

    static constexpr int kMaxDigits = 28;
    static constexpr int kMaxScale = 28;

    // Parses plain or exponent notation ("12.50", "-1e-3"); nullopt when the
    // text is not a number or does not fit 28 digits.
    static std::optional<Decimal> parse(std::string_view text);
    static Decimal fromInt(std::int64_t v) { return Decimal{v, 0}; }
    // Nearest decimal of at most 28 significant digits, or nullopt out of range.
    static std::optional<Decimal> fromDouble(double v);

    double toDouble() const;
    // Plain notation, keeping the scale's digits ("12.50").
    std::string toString() const;
    // Plain notation without trailing zeros after the point ("12.5", "100").
    std::string toTrimmedString() const;
    // Same value at another scale; rounds half away from zero when reducing.
    // Throws OverflowError if the result does not fit 28 digits.
    Decimal rescaled(int newScale) const;
    std::strong_ordering compare(const Decimal& other) const;
    bool operator==(const Decimal& o) const { return compare(o) == 0; }
};

// The platform date: days since 1899-12-30, time as the fraction.  For
// negative values the whole part counts days back and the fraction still
// moves forward in the day: -1.25 is 1899-12-29 06:00.
struct DateParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    int millisecond = 0;
};

namespace date {
// Throws Error if the parts do not make a date in years 100..9999.
double fromParts(const DateParts& p);
double fromParts(int y, int m, int d, int hh = 0, int mi = 0, int ss = 0, int ms = 0);
// Rounded to the millisecond.
DateParts toParts(double serial);
// The same date rounded to the nearest whole second.
DateParts toPartsRoundedToSecond(double serial);
bool isValidDate(int y, int m, int d);
// Reads the forms people and the two SQL dialects write: "2016-11-03",
// "2016-11-03 10:30:00", "2016/11/03", "11/03/2016" (month first, as the
// US locale), "2016-11-03T10:30", optional time "10:30[:45][ AM|PM]".
std::optional<double> parse(std::string_view text);
// "YYYY-MM-DD HH:MM:SS" (seconds rounded), or "YYYY-MM-DD" when dateOnly.
std::string toIso(double serial, bool dateOnly = false);
} // namespace date

struct Guid {
    std::uint8_t bytes[16] = {}; // in the field order Data1(LE) Data2(LE) Data3(LE) Data4
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case.
    std::string toString() const;
    static std::optional<Guid> parse(std::string_view text); // braces optional
    bool operator==(const Guid&) const = default;
};

class Value {
public:
    Value() = default; // Empty
    static Value null() { Value v; v.type_ = VarType::Null; return v; }
    static Value boolean(bool b) { Value v; v.type_ = VarType::Boolean; v.i_ = b ? -1 : 0; return v; }
    static Value byte(std::uint8_t x) { Value v; v.type_ = VarType::Byte; v.i_ = x; return v; }
    static Value integer(std::int16_t x) { Value v; v.type_ = VarType::Integer; v.i_ = x; return v; }
    static Value longInt(std::int32_t x) { Value v; v.type_ = VarType::Long; v.i_ = x; return v; }
    static Value bigInt(std::int64_t x) { Value v; v.type_ = VarType::BigInt; v.i_ = x; return v; }
    static Value single(float x) { Value v; v.type_ = VarType::Single; v.d_ = x; return v; }
    static Value dbl(double x) { Value v; v.type_ = VarType::Double; v.d_ = x; return v; }
    // Currency from its scaled integer (1.5 -> 15000).
    static Value currency(std::int64_t scaled) { Value v; v.type_ = VarType::Currency; v.i_ = scaled; return v; }
    static Value decimal(const Decimal& x) { Value v; v.type_ = VarType::Decimal; v.dec_ = x; return v; }
    static Value date(double serial) { Value v; v.type_ = VarType::Date; v.d_ = serial; return v; }
    static Value string(std::string utf8) { Value v; v.type_ = VarType::String; v.s_ = std::move(utf8); return v; }
    static Value binary(std::string bytes) { Value v; v.type_ = VarType::Binary; v.s_ = std::move(bytes); return v; }
    static Value guid(const Guid& g);

    VarType type() const { return type_; }
    bool isEmpty() const { return type_ == VarType::Empty; }
    bool isNull() const { return type_ == VarType::Null; }
    bool isNumeric() const;

    // Raw access; only valid for the matching kind.
    std::int64_t rawInt() const { return i_; }        // Boolean, Byte, Integer, Long, BigInt, Currency
    double rawDouble() const { return d_; }           // Single, Double, Date
    const std::string& rawString() const { return s_; } // String (UTF-8), Binary (bytes), Guid (16 bytes)
    const Decimal& rawDecimal() const { return dec_; }
    Guid rawGuid() const;

    // Reuse of a row buffer without reallocating text storage.
    void setNull() { type_ = VarType::Null; }
    void setString(std::string_view utf8) { type_ = VarType::String; s_.assign(utf8); }
    void setBinary(std::string_view bytes) { type_ = VarType::Binary; s_.assign(bytes); }
    std::string& mutableString(VarType t) { type_ = t; return s_; }

    // Conversions, with the platform's rules.  Null/Empty converts as the
    // platform does: Empty reads as 0 / "" / False; Null throws
    // Error("Invalid use of Null").  Out-of-range throws OverflowError.
    std::string toString() const;     // locale-independent text form
    bool toBool() const;
    std::int16_t toInt16() const;     // rounds half to even, as the platform's CInt
    std::int32_t toInt32() const;
    std::int64_t toInt64() const;
    double toDouble() const;
    std::int64_t toCurrency() const;  // scaled by 10,000
    Decimal toDecimal() const;
    double toDate() const;            // throws Error("Type mismatch") when not a date

    // "Can be read as a date" (IsDate): a Date, or text that date::parse accepts.
    bool isDate() const;

    // Exact comparison: numbers against numbers by value (never through a
    // lossy double when both are exact), text by code units, dates by serial.
    // Null compares equal to Null and before everything else.
    std::partial_ordering compare(const Value& other) const;
    bool operator==(const Value& other) const { return compare(other) == 0; }

private:
    VarType type_ = VarType::Empty;
    std::int64_t i_ = 0;
    double d_ = 0;
    Decimal dec_{};
    std::string s_;
};

const char* varTypeName(VarType t);

// Number of UTF-16 code units in a UTF-8 text: the length Access and the
// providers count when they compare a text with a field's size.
std::size_t utf16Length(std::string_view utf8);

// Shortest text that reads back to the same binary value.
std::string shortestDouble(double v);
std::string shortestSingle(float v);
// Currency in plain notation without trailing zeros ("12.5", "-0.0001").
std::string currencyToString(std::int64_t scaled);

} // namespace qm
