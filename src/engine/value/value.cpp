#include "value/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace qm {

namespace {

[[noreturn]] void invalidNull() { throw Error("Invalid use of Null"); }
[[noreturn]] void typeMismatch() { throw Error("Type mismatch"); }
[[noreturn]] void overflow() { throw OverflowError("Overflow"); }

bool isIntegral(VarType t)
{
    return t == VarType::Boolean || t == VarType::Byte || t == VarType::Integer || t == VarType::Long ||
           t == VarType::BigInt;
}

// Round half to even, as the platform's integer conversions do.
double roundHalfEven(double v)
{
    double r = std::nearbyint(v); // default rounding mode is to nearest, ties to even
    return r;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Text read as a number: exact when it is a plain decimal, else a double.
double textToDouble(std::string_view text)
{
    std::string_view t = trimmed(text);
    if (t.empty())
        typeMismatch();
    double v = 0;
    const char* first = t.data();
    if (*first == '+')
        ++first;
    auto res = std::from_chars(first, t.data() + t.size(), v);
    if (res.ec == std::errc::result_out_of_range)
        overflow();
    if (res.ec != std::errc() || res.ptr != t.data() + t.size()) {
        if (equalsIgnoringAsciiCase(t, "true"))
            return -1;
        if (equalsIgnoringAsciiCase(t, "false"))
            return 0;
        typeMismatch();
    }
    return v;
}

// Platform text form of a double: 15 significant digits (7 for a single),
// exponent written as E+NN.
std::string floatingText(double v, int digits)
{
    if (std::isnan(v))
        return "NaN";
    if (std::isinf(v))
        return v > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", digits, v);
    std::string s = buf;
    size_t e = s.find('E');
    std::string mant = e == std::string::npos ? s : s.substr(0, e);
    std::string exp = e == std::string::npos ? std::string() : s.substr(e);
    if (mant.find('.') != std::string::npos) {
        while (mant.back() == '0')
            mant.pop_back();
        if (mant.back() == '.')
            mant.pop_back();
    }
    if (!exp.empty()) {
        // "E+020" style from some libcs -> "E+20"; keep at least two digits
        char sign = exp[1];
        std::string digitsPart = exp.substr(2);
        while (digitsPart.size() > 2 && digitsPart[0] == '0')
            digitsPart.erase(0, 1);
        exp = std::string("E") + sign + digitsPart;
    }
    if (mant == "-0")
        mant = "0";
    return mant + exp;
}

template <typename T>
T checkedIntegral(double v)
{
    if (std::isnan(v))
        overflow();
    double r = roundHalfEven(v);
    if (r < double(std::numeric_limits<T>::min()) || r > double(std::numeric_limits<T>::max()))
        overflow();
    return T(r);
}

} // namespace

// ---------------------------------------------------------------- Guid

std::string Guid::toString() const
{
    const std::uint8_t* b = bytes;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2],
                  b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

std::optional<Guid> Guid::parse(std::string_view text)
{
    std::string_view t = trimmed(text);
    if (t.size() == 38 && t.front() == '{' && t.back() == '}')
        t = t.substr(1, 36);
    if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-')
        return std::nullopt;
    std::uint8_t raw[16];
    int n = 0;
    for (size_t i = 0; i < t.size();) {
        if (t[i] == '-') {
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            if (c >= 'a' && c <= 'f')
                return c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                return c - 'A' + 10;
            return -1;
        };
        int hi = hex(t[i]), lo = i + 1 < t.size() ? hex(t[i + 1]) : -1;
        if (hi < 0 || lo < 0)
            return std::nullopt;
        raw[n++] = std::uint8_t(hi * 16 + lo);
        i += 2;
    }
    if (n != 16)
        return std::nullopt;
    // Text order is Data1..Data3 big-endian; storage order is little-endian.
    Guid g;
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i)
        g.bytes[i] = raw[order[i]];
    return g;
}

// ---------------------------------------------------------------- Value

Value Value::guid(const Guid& g)
{
    Value v;
    v.type_ = VarType::Guid;
    v.s_.assign(reinterpret_cast<const char*>(g.bytes), 16);
    return v;
}

Guid Value::rawGuid() const
{
    Guid g;
    if (s_.size() == 16)
        std::memcpy(g.bytes, s_.data(), 16);
    return g;
}

bool Value::isNumeric() const
{
    return isIntegral(type_) || type_ == VarType::Single || type_ == VarType::Double || type_ == VarType::Currency ||
           type_ == VarType::Decimal;
}

std::string Value::toString() const
{
    switch (type_) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        invalidNull();
    case VarType::Boolean:
        return i_ ? "True" : "False";
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::BigInt:
        return std::to_string(i_);
    case VarType::Single:
        return floatingText(d_, 7);
    case VarType::Double:
        return floatingText(d_, 15);
    case VarType::Currency:
        return currencyToString(i_);
    case VarType::Decimal:
        return dec_.toTrimmedString();
    case VarType::Date: {
        double whole = d_ >= 0 ? std::floor(d_) : std::ceil(d_);
        bool hasTime = d_ != whole;
        DateParts p = date::toPartsRoundedToSecond(d_);
        char buf[40];
        if (whole == 0 && hasTime)
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
        else if (!hasTime)
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
        else
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                          p.second);
        return buf;
    }
    case VarType::String:
    case VarType::Binary:
        return s_;
    case VarType::Guid:
        return rawGuid().toString();
    }
    typeMismatch();
}

bool Value::toBool() const
{
    if (isIntegral(type_) || type_ == VarType::Currency)
        return i_ != 0;
    switch (type_) {
    case VarType::Empty:
        return false;
    case VarType::Null:
        invalidNull();
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
        return d_ != 0;
    case VarType::Decimal:
        return dec_.mantissa != 0;
    case VarType::String:
        return textToDouble(s_) != 0;
    default:
        typeMismatch();
    }
}

std::int64_t Value::toInt64() const
{
    if (isIntegral(type_))
        return i_;
    switch (type_) {
    case VarType::Empty:
        return 0;
    case VarType::Null:
        invalidNull();
    case VarType::Currency: {
        // round half to even on the 4 decimals
        std::int64_t whole = i_ / 10000, rem = i_ % 10000;
        if (rem > 5000 || (rem == 5000 && (whole & 1)))
            ++whole;
        else if (rem < -5000 || (rem == -5000 && (whole & 1)))
            --whole;
        return whole;
    }
    case VarType::Decimal: {
        Decimal r = dec_;
        // half to even at scale 0
        Int128 p = 1;
        for (int i = 0; i < r.scale; ++i)
            p *= 10;
        Int128 whole = r.mantissa / p, rem = r.mantissa % p;
        Int128 half = p / 2;
        if (p > 1) {
            Int128 a = rem < 0 ? -rem : rem;
            bool up = a > half || (a == half && (whole & 1));
            if (up)
                whole += rem < 0 ? -1 : 1;
        }
        if (whole > std::numeric_limits<std::int64_t>::max() || whole < std::numeric_limits<std::int64_t>::min())
            overflow();
        return std::int64_t(whole);
    }
    case VarType::String: {
        std::string_view t = trimmed(s_);
        std::int64_t v = 0;
        auto res = std::from_chars(t.data() + (!t.empty() && t[0] == '+'), t.data() + t.size(), v);
        if (res.ec == std::errc() && res.ptr == t.data() + t.size())
            return v;
        if (res.ec == std::errc::result_out_of_range)
            overflow();
        return checkedIntegral<std::int64_t>(textToDouble(s_));
    }
    default:
        return checkedIntegral<std::int64_t>(toDouble());
    }
}

std::int32_t Value::toInt32() const
{
    std::int64_t v = toInt64();
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        overflow();
    return std::int32_t(v);
}

std::int16_t Value::toInt16() const
{
    std::int64_t v = toInt64();
    if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
        overflow();
    return std::int16_t(v);
}

double Value::toDouble() const
{
    if (isIntegral(type_))
        return double(i_);
    switch (type_) {
    case VarType::Empty:
        return 0;
    case VarType::Null:
        invalidNull();
    case VarType::Currency:
        return double(i_) / 10000.0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
        return d_;
    case VarType::Decimal:
        return dec_.toDouble();
    case VarType::String:
        return textToDouble(s_);
    default:
        typeMismatch();
    }
}

std::int64_t Value::toCurrency() const
{
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    switch (type_) {
    case VarType::Currency:
        return i_;
    case VarType::Boolean:
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::BigInt:
        if (i_ > kMax / 10000 || i_ < -(kMax / 10000))
            overflow();
        return i_ * 10000;
    case VarType::Decimal:
    case VarType::String: {
        Decimal four = toDecimal().rescaled(4);
        if (four.mantissa > kMax || four.mantissa < -kMax - 1)
            overflow();
        return std::int64_t(four.mantissa);
    }
    default: {
        double v = toDouble() * 10000.0;
        if (!(v < 9.2233720368547758e18 && v > -9.2233720368547758e18))
            overflow();
        return std::int64_t(roundHalfEven(v));
    }
    }
}

Decimal Value::toDecimal() const
{
    if (isIntegral(type_))
        return Decimal::fromInt(i_);
    switch (type_) {
    case VarType::Empty:
        return {};
    case VarType::Null:
        invalidNull();
    case VarType::Currency:
        return Decimal{i_, 4};
    case VarType::Decimal:
        return dec_;
    case VarType::String: {
        auto d = Decimal::parse(s_);
        if (!d) {
            textToDouble(s_); // throws Type mismatch or Overflow with the right text
            overflow();
        }
        return *d;
    }
    default: {
        auto d = Decimal::fromDouble(toDouble());
        if (!d)
            overflow();
        return *d;
    }
    }
}

double Value::toDate() const
{
    switch (type_) {
    case VarType::Null:
        invalidNull();
    case VarType::Date:
        return d_;
    case VarType::String: {
        auto d = date::parse(s_);
        if (!d)
            typeMismatch();
        return *d;
    }
    default: {
        if (!isNumeric())
            typeMismatch();
        double v = toDouble();
        if (v > 2958465.99999 || v < -657434.0)
            overflow();
        return v;
    }
    }
}

bool Value::isDate() const
{
    if (type_ == VarType::Date)
        return true;
    if (type_ == VarType::String)
        return date::parse(s_).has_value();
    return false;
}

std::partial_ordering Value::compare(const Value& o) const
{
    auto order = [](auto a, auto b) { return a < b ? std::partial_ordering::less : a > b ? std::partial_ordering::greater : std::partial_ordering::equivalent; };
    if (type_ == VarType::Null || o.type_ == VarType::Null) {
        if (type_ == o.type_)
            return std::partial_ordering::equivalent;
        return type_ == VarType::Null ? std::partial_ordering::less : std::partial_ordering::greater;
    }
    bool numA = isNumeric() || type_ == VarType::Date || type_ == VarType::Empty;
    bool numB = o.isNumeric() || o.type_ == VarType::Date || o.type_ == VarType::Empty;
    bool textA = type_ == VarType::String || type_ == VarType::Empty;
    bool textB = o.type_ == VarType::String || o.type_ == VarType::Empty;
    if (textA && textB)
        return order(std::string_view(s_).compare(o.s_), 0);
    if (numA && numB) {
        auto exact = [](const Value& v) { return isIntegral(v.type_) || v.type_ == VarType::Currency || v.type_ == VarType::Decimal || v.type_ == VarType::Empty; };
        if (isIntegral(type_) && isIntegral(o.type_))
            return order(i_, o.i_);
        if (exact(*this) && exact(o))
            return toDecimal().compare(o.toDecimal());
        return order(toDouble(), o.toDouble());
    }
    if (type_ == o.type_ && (type_ == VarType::Binary || type_ == VarType::Guid))
        return order(std::string_view(s_).compare(o.s_), 0);
    return std::partial_ordering::unordered;
}

const char* varTypeName(VarType t)
{
    switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Currency: return "Currency";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Boolean: return "Boolean";
    case VarType::Decimal: return "Decimal";
    case VarType::Byte: return "Byte";
    case VarType::BigInt: return "LongLong";
    case VarType::Guid: return "GUID";
    case VarType::Binary: return "Byte()";
    }
    return "Unknown";
}

std::size_t utf16Length(std::string_view utf8)
{
    std::size_t n = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80)
            ++n;          // a lead byte starts one code point
        if (c >= 0xF0)
            ++n;          // four-byte sequences need a surrogate pair
    }
    return n;
}

std::string shortestDouble(double v)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string shortestSingle(float v)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

std::string currencyToString(std::int64_t scaled) { return Decimal{scaled, 4}.toTrimmedString(); }

} // namespace qm
