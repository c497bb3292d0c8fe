#include "sql/eval.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace qm::sql {

__extension__ typedef __int128 Int128;

namespace {

const Value kNull = Value::null();

[[noreturn]] void mismatch(const char* what) { throw Error(std::string("Data type mismatch in ") + what + "."); }

bool isExactInt(VarType t) {
    return t == VarType::Byte || t == VarType::Integer || t == VarType::Long || t == VarType::BigInt || t == VarType::Boolean;
}
bool isFloat(VarType t) { return t == VarType::Single || t == VarType::Double; }
bool isText(VarType t) { return t == VarType::String; }

// Text read as a number for arithmetic ("12" + 3); a clear error otherwise.
Value numberFromText(const Value& v, const char* what) {
    std::string_view s = v.rawString();
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    if (auto d = Decimal::parse(s)) return Value::decimal(*d);
    throw Error(std::string("Data type mismatch in ") + what + ": '" + v.rawString() + "' is not a number.");
}

constexpr Int128 kDecLimit = [] { Int128 v = 1; for (int i = 0; i < 28; ++i) v *= 10; return v; }();

// The longest text an expression may make (FoxPro's limit on a character
// string); longer results are refused before they are built.
constexpr std::size_t kMaxText = 16'777'184;

void checkTextLength(std::size_t bytes, const std::string& what) {
    if (bytes > kMaxText)
        throw Error("The text made by " + what + " would be too long (" + std::to_string(bytes)
                    + " bytes; at most 16777184).");
}

// Brings an exact result back within 28 digits by giving up decimals.
Decimal normalise(Int128 m, int scale) {
    while ((m >= kDecLimit || m <= -kDecLimit) && scale > 0) {
        const Int128 rem = m % 10;
        m /= 10;
        if (rem >= 5) ++m;
        else if (rem <= -5) --m;
        --scale;
    }
    while (scale > Decimal::kMaxScale) {
        const Int128 rem = m % 10;
        m /= 10;
        if (rem >= 5) ++m;
        else if (rem <= -5) --m;
        --scale;
    }
    if (m >= kDecLimit || m <= -kDecLimit) throw OverflowError("Overflow.");
    return Decimal{m, static_cast<std::uint8_t>(scale)};
}

Int128 pow10(int n) { Int128 v = 1; while (n-- > 0) v *= 10; return v; }

Value decimalArith(BinOp op, const Decimal& a, const Decimal& b) {
    if (op == BinOp::Add || op == BinOp::Sub) {
        const int scale = std::max(a.scale, b.scale);
        const Int128 ma = a.mantissa * pow10(scale - a.scale);
        const Int128 mb = b.mantissa * pow10(scale - b.scale);
        return Value::decimal(normalise(op == BinOp::Add ? ma + mb : ma - mb, scale));
    }
    // Multiplication: exact while the product fits 128 bits.
    const Int128 lim = pow10(19);
    const Int128 aa = a.mantissa < 0 ? -a.mantissa : a.mantissa;
    const Int128 bb = b.mantissa < 0 ? -b.mantissa : b.mantissa;
    if (aa < lim && bb < lim) return Value::decimal(normalise(a.mantissa * b.mantissa, a.scale + b.scale));
    return Value::dbl(a.toDouble() * b.toDouble());
}

int codePoints(std::string_view s) {
    int n = 0;
    for (unsigned char c : s) if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// Byte offset of code point k (clamped to the end).
std::size_t cpOffset(std::string_view s, long long k) {
    if (k <= 0) return 0;
    std::size_t i = 0;
    while (i < s.size() && k > 0) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        --k;
    }
    return i;
}

std::string_view trimView(std::string_view s, bool left, bool right) {
    if (left) while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    if (right) while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

double today() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return date::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}
double now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return date::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::string textOf(const Value& v) {
    if (v.type() == VarType::String) return v.rawString();
    if (v.type() == VarType::Boolean) return v.rawInt() ? "True" : "False";
    return v.toString();
}

struct FnName {
    std::string_view name;
    Fn fn;
    int dialects; // 1 Access, 2 FoxPro, 3 both
};

constexpr FnName kFunctions[] = {
    {"COUNT", Fn::Count, 3}, {"CNT", Fn::Count, 2}, {"SUM", Fn::Sum, 3}, {"AVG", Fn::Avg, 3},
    {"MIN", Fn::Min, 3}, {"MAX", Fn::Max, 3}, {"FIRST", Fn::First, 1}, {"LAST", Fn::Last, 1},
    {"UCASE", Fn::Upper, 3}, {"UPPER", Fn::Upper, 3}, {"LCASE", Fn::Lower, 3}, {"LOWER", Fn::Lower, 3},
    {"LEN", Fn::Len, 3}, {"LEFT", Fn::Left, 3}, {"RIGHT", Fn::Right, 3}, {"MID", Fn::Mid, 3},
    {"SUBSTR", Fn::Mid, 3}, {"TRIM", Fn::Trim, 3}, {"ALLTRIM", Fn::AllTrim, 3}, {"LTRIM", Fn::LTrim, 3},
    {"RTRIM", Fn::RTrim, 3}, {"SPACE", Fn::Space, 3}, {"REPLICATE", Fn::Replicate, 3}, {"STRING", Fn::StringFn, 1},
    {"CHR", Fn::Chr, 3}, {"ASC", Fn::Asc, 3}, {"INSTR", Fn::InStr, 1}, {"AT", Fn::At, 2},
    {"REPLACE", Fn::Replace, 1}, {"STRTRAN", Fn::Replace, 2}, {"PADL", Fn::PadL, 2}, {"PADR", Fn::PadR, 2},
    {"STR", Fn::Str, 3}, {"CSTR", Fn::CStr, 1}, {"TRANSFORM", Fn::CStr, 2}, {"VAL", Fn::Val, 3},
    {"ABS", Fn::Abs, 3}, {"INT", Fn::Int, 3}, {"FIX", Fn::Fix, 1}, {"ROUND", Fn::Round, 3},
    {"SGN", Fn::Sgn, 1}, {"SIGN", Fn::Sgn, 2}, {"SQR", Fn::Sqrt, 1}, {"SQRT", Fn::Sqrt, 2},
    {"CINT", Fn::CInt, 1}, {"CLNG", Fn::CLng, 1}, {"CDBL", Fn::CDbl, 1}, {"CSNG", Fn::CSng, 1},
    {"CCUR", Fn::CCur, 1}, {"NTOM", Fn::CCur, 2}, {"CDEC", Fn::CDec, 1}, {"CBYTE", Fn::CByte, 1}, {"CBOOL", Fn::CBool, 1},
    {"DATE", Fn::Date, 3}, {"DATETIME", Fn::DateTime, 3}, {"NOW", Fn::Now, 1}, {"TIME", Fn::Time, 3},
    {"DATESERIAL", Fn::DateSerial, 1}, {"DATEVALUE", Fn::DateValue, 1}, {"CDATE", Fn::CDate, 1},
    {"CTOD", Fn::CDate, 2}, {"CTOT", Fn::CDate, 2}, {"YEAR", Fn::Year, 3}, {"MONTH", Fn::Month, 3}, {"DAY", Fn::Day, 3},
    {"HOUR", Fn::Hour, 3}, {"MINUTE", Fn::Minute, 3}, {"SECOND", Fn::Second, 3}, {"SEC", Fn::Second, 2},
    {"TTOD", Fn::TToD, 2}, {"DTOT", Fn::DToT, 2}, {"DTOS", Fn::DToS, 2},
    {"IIF", Fn::IIf, 3}, {"NZ", Fn::Nz, 1}, {"NVL", Fn::Nvl, 2}, {"ISNULL", Fn::IsNull, 3},
    {"EMPTY", Fn::Empty, 2}, {"ISDATE", Fn::IsDate, 1}, {"BETWEEN", Fn::Between, 2},
};

std::int64_t intArg(const Value& v, const char* fn) {
    if (v.isNull()) throw Error(std::string("Invalid use of Null in ") + fn + ".");
    return v.toInt64();
}

Value roundValue(const Value& v, int places, Dialect d) {
    if (v.isNull()) return v;
    if (isExactInt(v.type()) && places >= 0) return v;
    if (v.type() == VarType::Decimal || v.type() == VarType::Currency || (isText(v.type()))) {
        const Decimal x = isText(v.type()) ? numberFromText(v, "ROUND").rawDecimal() : v.toDecimal();
        if (places < 0) {
            const double p = std::pow(10.0, -places);
            return Value::dbl(std::round(x.toDouble() / p) * p);
        }
        if (places >= x.scale) return Value::decimal(x);
        return Value::decimal(x.rescaled(places));
    }
    const double p = std::pow(10.0, places);
    const double scaled = v.toDouble() * p;
    // Access rounds halves to even, FoxPro away from zero.
    const double r = d == Dialect::Access ? std::nearbyint(scaled) : std::round(scaled);
    return Value::dbl(r / p);
}

} // namespace

const Value& RowFrame::get(std::size_t column) const {
    if (cursor) return cursor->value(column);
    if (row && column < row->size()) return (*row)[column];
    return kNull;
}

Fn lookupFunction(std::string_view name, Dialect dialect) {
    const int bit = dialect == Dialect::Access ? 1 : 2;
    for (const auto& f : kFunctions)
        if ((f.dialects & bit) && iequals(name, f.name)) return f.fn;
    // Names known only to the other dialect are still understood: scripts
    // written for one side are sometimes run on the other.
    for (const auto& f : kFunctions)
        if (iequals(name, f.name)) return f.fn;
    return Fn::Unknown;
}

bool isTrue(const Value& v) {
    if (v.isNull() || v.isEmpty()) return false;
    if (v.type() == VarType::String) {
        const auto& s = v.rawString();
        if (iequals(s, "true") || iequals(s, "yes") || iequals(s, ".T.")) return true;
        if (iequals(s, "false") || iequals(s, "no") || iequals(s, ".F.") || s.empty()) return false;
    }
    try {
        return v.toBool();
    } catch (const Error&) {
        return false;
    }
}

std::string foldCase(std::string_view s) {
    std::string out(s);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
        else if (c == 0xC3 && i + 1 < out.size()) {
            unsigned char d = static_cast<unsigned char>(out[i + 1]);
            if (d >= 0x80 && d <= 0x9E && d != 0x97) out[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return out;
}

namespace {

int compareText(std::string_view a, std::string_view b, bool ci, bool trailing) {
    if (trailing) { a = trimView(a, false, true); b = trimView(b, false, true); }
    if (!ci) {
        const int c = a.compare(b);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    // Fast path for plain ASCII; fold otherwise.
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 0x80 || y >= 0x80) {
            const std::string fa = foldCase(a.substr(i)), fb = foldCase(b.substr(i));
            const int c = fa.compare(fb);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int kindRank(VarType t) {
    switch (t) {
    case VarType::Empty: case VarType::Null: return 0;
    case VarType::String: return 2;
    case VarType::Date: return 1;
    case VarType::Binary: return 3;
    case VarType::Guid: return 4;
    default: return 1; // numbers
    }
}

} // namespace

int compareValues(const Value& a, const Value& b, bool ci, bool trailing) {
    const bool na = a.isNull() || a.isEmpty(), nb = b.isNull() || b.isEmpty();
    if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
    if (isText(a.type()) && isText(b.type())) return compareText(a.rawString(), b.rawString(), ci, trailing);
    if (isText(a.type()) != isText(b.type())) {
        // Text against a date or a number: read the text as one when it can be.
        const Value& t = isText(a.type()) ? a : b;
        const Value& o = isText(a.type()) ? b : a;
        Value conv;
        if (o.type() == VarType::Date) {
            if (auto d = date::parse(t.rawString())) conv = Value::date(*d);
        } else if (o.isNumeric()) {
            if (auto d = Decimal::parse(trimView(t.rawString(), true, true))) conv = Value::decimal(*d);
        }
        if (!conv.isEmpty()) return isText(a.type()) ? compareValues(conv, b, ci, trailing) : compareValues(a, conv, ci, trailing);
        const int ka = kindRank(a.type()), kb = kindRank(b.type());
        return ka < kb ? -1 : 1;
    }
    if (a.type() == VarType::Date || b.type() == VarType::Date) {
        const double x = a.type() == VarType::Date ? a.rawDouble() : a.toDouble();
        const double y = b.type() == VarType::Date ? b.rawDouble() : b.toDouble();
        return x < y ? -1 : x > y ? 1 : 0;
    }
    const auto c = a.compare(b);
    if (c == std::partial_ordering::less) return -1;
    if (c == std::partial_ordering::greater) return 1;
    if (c == std::partial_ordering::equivalent) return 0;
    const int ka = kindRank(a.type()), kb = kindRank(b.type());
    return ka == kb ? 0 : (ka < kb ? -1 : 1);
}

bool likeMatch(std::string_view text, std::string_view pattern, bool ci, Dialect dialect) {
    std::string t = ci ? foldCase(text) : std::string(text);
    std::string p = ci ? foldCase(pattern) : std::string(pattern);
    const bool access = dialect == Dialect::Access;
    auto nextCp = [](const std::string& s, std::size_t i) {
        ++i;
        while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
        return i;
    };
    // Matches one pattern element at pi against the text at ti; returns the
    // pattern position after the element, or npos when it does not match.
    auto single = [&](std::size_t pi, std::size_t ti) -> std::size_t {
        const char pc = p[pi];
        if (pc == '?' || pc == '_') return nextCp(p, pi);
        if (access && pc == '#') return (t[ti] >= '0' && t[ti] <= '9') ? pi + 1 : std::string::npos;
        if (access && pc == '[') {
            const std::size_t close = p.find(']', pi + 1);
            if (close == std::string::npos) return t[ti] == '[' ? pi + 1 : std::string::npos;
            std::string_view set(p.data() + pi + 1, close - pi - 1);
            bool negate = !set.empty() && set.front() == '!';
            if (negate) set.remove_prefix(1);
            bool hit = false;
            const unsigned char tc = static_cast<unsigned char>(t[ti]);
            for (std::size_t k = 0; k < set.size(); ++k) {
                if (k + 2 < set.size() && set[k + 1] == '-') {
                    if (tc >= static_cast<unsigned char>(set[k]) && tc <= static_cast<unsigned char>(set[k + 2])) hit = true;
                    k += 2;
                } else if (static_cast<unsigned char>(set[k]) == tc) hit = true;
            }
            return hit != negate ? close + 1 : std::string::npos;
        }
        // A literal code point.
        const std::size_t pe = nextCp(p, pi), te = nextCp(t, ti);
        if (pe - pi != te - ti || p.compare(pi, pe - pi, t, ti, te - ti) != 0) return std::string::npos;
        return pe;
    };
    std::size_t pi = 0, ti = 0;
    std::size_t starP = std::string::npos, starT = 0;
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == '%' || (access && p[pi] == '*'))) {
            starP = ++pi;
            starT = ti;
            continue;
        }
        if (pi < p.size()) {
            const std::size_t after = single(pi, ti);
            if (after != std::string::npos) {
                // Advance the text by the code point just matched (or one byte for #/[ ]).
                ti = nextCp(t, ti);
                pi = after;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        pi = starP;
        starT = nextCp(t, starT);
        ti = starT;
    }
    while (pi < p.size() && (p[pi] == '%' || (access && p[pi] == '*'))) ++pi;
    return pi == p.size();
}

Value arithmetic(BinOp op, const Value& a0, const Value& b0, Dialect dialect) {
    if (a0.isNull() || b0.isNull()) return Value::null();
    const char* what = op == BinOp::Add ? "'+'" : op == BinOp::Sub ? "'-'" : op == BinOp::Mul ? "'*'" : op == BinOp::Div ? "'/'" : "an arithmetic expression";
    if (op == BinOp::Add && isText(a0.type()) && isText(b0.type())) {
        checkTextLength(a0.rawString().size() + b0.rawString().size(), "'+'");
        return Value::string(a0.rawString() + b0.rawString());
    }
    if (op == BinOp::Sub && dialect == Dialect::FoxPro && isText(a0.type()) && isText(b0.type())) {
        // FoxPro's '-' joins texts moving the first one's trailing blanks to the end.
        std::string_view a = a0.rawString();
        const std::size_t kept = trimView(a, false, true).size();
        checkTextLength(a.size() + b0.rawString().size(), "'-'");
        return Value::string(std::string(a.substr(0, kept)) + b0.rawString() + std::string(a.size() - kept, ' '));
    }
    Value ta, tb;
    const Value& a = isText(a0.type()) ? (ta = numberFromText(a0, what)) : a0;
    const Value& b = isText(b0.type()) ? (tb = numberFromText(b0, what)) : b0;
    if (!(a.isNumeric() || a.type() == VarType::Date || a.isEmpty()) || !(b.isNumeric() || b.type() == VarType::Date || b.isEmpty()))
        mismatch(what);

    const bool dateA = a.type() == VarType::Date, dateB = b.type() == VarType::Date;
    if ((dateA || dateB) && (op == BinOp::Add || op == BinOp::Sub)) {
        const double x = a.toDouble(), y = b.toDouble();
        if (op == BinOp::Sub && dateA && dateB) return Value::dbl(x - y);
        if (dateB && op == BinOp::Sub) mismatch(what);
        return Value::date(op == BinOp::Add ? x + y : x - y);
    }

    switch (op) {
    case BinOp::Pow: return Value::dbl(std::pow(a.toDouble(), b.toDouble()));
    case BinOp::Div: {
        const double y = b.toDouble();
        if (y == 0) throw Error("Division by zero.");
        if ((a.type() == VarType::Decimal || b.type() == VarType::Decimal) && !isFloat(a.type()) && !isFloat(b.type())) {
            // Exact operands: keep the quotient exact to 28 digits where it is.
            if (auto q = Decimal::fromDouble(a.toDouble() / y)) return Value::decimal(*q);
        }
        return Value::dbl(a.toDouble() / y);
    }
    case BinOp::IntDiv: {
        const std::int64_t x = a.toInt64(), y = b.toInt64();
        if (y == 0) throw Error("Division by zero.");
        const std::int64_t q = x / y;
        if (q >= INT32_MIN && q <= INT32_MAX) return Value::longInt(static_cast<std::int32_t>(q));
        return Value::bigInt(q);
    }
    case BinOp::Mod: {
        if (isExactInt(a.type()) && isExactInt(b.type())) {
            const std::int64_t y = b.rawInt();
            if (y == 0) throw Error("Division by zero.");
            std::int64_t r = a.rawInt() % y;
            if (dialect == Dialect::FoxPro && r != 0 && ((r < 0) != (y < 0))) r += y;
            return Value::longInt(static_cast<std::int32_t>(r));
        }
        if (dialect == Dialect::Access) {
            const std::int64_t x = a.toInt64(), y = b.toInt64();
            if (y == 0) throw Error("Division by zero.");
            return Value::longInt(static_cast<std::int32_t>(x % y));
        }
        const double y = b.toDouble();
        if (y == 0) throw Error("Division by zero.");
        double r = std::fmod(a.toDouble(), y);
        if (r != 0 && ((r < 0) != (y < 0))) r += y;
        return Value::dbl(r);
    }
    default: break;
    }

    if (isFloat(a.type()) || isFloat(b.type()) || dateA || dateB) {
        const double x = a.toDouble(), y = b.toDouble();
        const double r = op == BinOp::Add ? x + y : op == BinOp::Sub ? x - y : x * y;
        if (!std::isfinite(r)) throw OverflowError("Overflow.");
        return Value::dbl(r);
    }
    if (isExactInt(a.type()) && isExactInt(b.type())) {
        std::int64_t r = 0;
        const std::int64_t x = a.rawInt(), y = b.rawInt();
        const bool over = op == BinOp::Add ? __builtin_add_overflow(x, y, &r)
                        : op == BinOp::Sub ? __builtin_sub_overflow(x, y, &r)
                                           : __builtin_mul_overflow(x, y, &r);
        if (!over) {
            const bool wide = a.type() == VarType::BigInt || b.type() == VarType::BigInt;
            if (!wide && r >= INT32_MIN && r <= INT32_MAX) return Value::longInt(static_cast<std::int32_t>(r));
            return Value::bigInt(r);
        }
        return decimalArith(op, Decimal::fromInt(x), Decimal::fromInt(y));
    }
    if (a.type() == VarType::Currency || b.type() == VarType::Currency) {
        if (a.type() != VarType::Decimal && b.type() != VarType::Decimal && op != BinOp::Mul) {
            std::int64_t r = 0;
            const std::int64_t x = a.toCurrency(), y = b.toCurrency();
            if (!(op == BinOp::Add ? __builtin_add_overflow(x, y, &r) : __builtin_sub_overflow(x, y, &r)))
                return Value::currency(r);
            throw OverflowError("Overflow.");
        }
    }
    const Value r = decimalArith(op, a.toDecimal(), b.toDecimal());
    if ((a.type() == VarType::Currency || b.type() == VarType::Currency) && a.type() != VarType::Decimal
        && b.type() != VarType::Decimal && r.type() == VarType::Decimal)
        return Value::currency(Value(r).toCurrency());
    return r;
}

namespace {

Value callFunction(const Expr& e, Fn fn, const Value* v, std::size_t n, const EvalContext& ctx) {
    const bool fox = ctx.dialect == Dialect::FoxPro;
    auto need = [&](std::size_t lo, std::size_t hi) {
        if (n < lo || n > hi)
            throw Error("Wrong number of arguments used with function " + e.name + " (" + std::to_string(n) + ").");
    };
    auto anyNull = [&](std::size_t k) {
        for (std::size_t i = 0; i < std::min(k, n); ++i) if (v[i].isNull()) return true;
        return false;
    };
    switch (fn) {
    case Fn::Upper: case Fn::Lower: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        std::string s = textOf(v[0]);
        for (std::size_t i = 0; i < s.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(s[i]);
            if (fn == Fn::Upper && c >= 'a' && c <= 'z') s[i] = static_cast<char>(c - 32);
            else if (fn == Fn::Lower && c >= 'A' && c <= 'Z') s[i] = static_cast<char>(c + 32);
            else if (c == 0xC3 && i + 1 < s.size()) {
                unsigned char d = static_cast<unsigned char>(s[i + 1]);
                if (fn == Fn::Upper && d >= 0xA0 && d <= 0xBE && d != 0xB7) s[i + 1] = static_cast<char>(d - 0x20);
                if (fn == Fn::Lower && d >= 0x80 && d <= 0x9E && d != 0x97) s[i + 1] = static_cast<char>(d + 0x20);
                ++i;
            }
        }
        return Value::string(std::move(s));
    }
    case Fn::Len: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const std::string s = textOf(v[0]);
        return Value::longInt(static_cast<std::int32_t>(fox ? codePoints(s) : utf16Length(s)));
    }
    case Fn::Left: case Fn::Right: {
        need(2, 2);
        if (anyNull(2)) return Value::null();
        const std::string s = textOf(v[0]);
        const std::int64_t k = intArg(v[1], e.name.c_str());
        if (k < 0) throw Error("Invalid procedure call: " + e.name + " with a negative length.");
        if (fn == Fn::Left) return Value::string(s.substr(0, cpOffset(s, k)));
        const int total = codePoints(s);
        return Value::string(s.substr(cpOffset(s, std::max<std::int64_t>(0, total - k))));
    }
    case Fn::Mid: {
        need(2, 3);
        if (anyNull(n)) return Value::null();
        const std::string s = textOf(v[0]);
        const std::int64_t start = intArg(v[1], e.name.c_str());
        if (start < 1) throw Error("Invalid procedure call: " + e.name + " starting at " + std::to_string(start) + ".");
        const std::size_t from = cpOffset(s, start - 1);
        if (n == 2) return Value::string(s.substr(from));
        const std::int64_t len = intArg(v[2], e.name.c_str());
        if (len < 0) throw Error("Invalid procedure call: " + e.name + " with a negative length.");
        const std::string_view rest = std::string_view(s).substr(from);
        return Value::string(std::string(rest.substr(0, cpOffset(rest, len))));
    }
    case Fn::Trim: case Fn::AllTrim: case Fn::LTrim: case Fn::RTrim: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const std::string s = textOf(v[0]);
        const bool left = fn == Fn::AllTrim || fn == Fn::LTrim || (fn == Fn::Trim && !fox);
        const bool right = fn != Fn::LTrim;
        return Value::string(std::string(trimView(s, left, right)));
    }
    case Fn::Space: {
        need(1, 1);
        const std::int64_t k = intArg(v[0], "SPACE");
        if (k < 0 || k > 16'777'184) throw Error("Invalid procedure call: SPACE(" + std::to_string(k) + ").");
        return Value::string(std::string(static_cast<std::size_t>(k), ' '));
    }
    case Fn::Replicate: case Fn::StringFn: {
        need(2, 2);
        if (anyNull(2)) return Value::null();
        const bool replicate = fn == Fn::Replicate;
        const std::string s = textOf(v[replicate ? 0 : 1]);
        const std::int64_t k = intArg(v[replicate ? 1 : 0], e.name.c_str());
        if (k < 0 || static_cast<double>(k) * static_cast<double>(s.size()) > 16'777'184.0)
            throw Error("Invalid procedure call: " + e.name + " would make a text too long.");
        std::string out;
        const std::string unit = replicate ? s : s.substr(0, cpOffset(s, 1));
        for (std::int64_t i = 0; i < k; ++i) out += unit;
        return Value::string(std::move(out));
    }
    case Fn::Chr: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const std::int64_t c = intArg(v[0], "CHR");
        if (c < 0 || c > 255) throw Error("Invalid procedure call: CHR(" + std::to_string(c) + ").");
        std::string out;
        if (c < 0x80) out.push_back(static_cast<char>(c));
        else { out.push_back(static_cast<char>(0xC0 | (c >> 6))); out.push_back(static_cast<char>(0x80 | (c & 0x3F))); }
        return Value::string(std::move(out));
    }
    case Fn::Asc: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const std::string s = textOf(v[0]);
        if (s.empty()) throw Error("Invalid procedure call: ASC of an empty text.");
        const unsigned char c = static_cast<unsigned char>(s[0]);
        if (c < 0x80) return Value::longInt(c);
        if ((c & 0xE0) == 0xC0 && s.size() > 1) return Value::longInt(((c & 0x1F) << 6) | (static_cast<unsigned char>(s[1]) & 0x3F));
        return Value::longInt(c);
    }
    case Fn::InStr: {
        need(2, 3);
        if (anyNull(n)) return Value::null();
        std::int64_t start = 1;
        std::size_t k = 0;
        if (n == 3) { start = intArg(v[0], "INSTR"); k = 1; }
        if (start < 1) throw Error("Invalid procedure call: INSTR starting at " + std::to_string(start) + ".");
        const std::string hay = foldCase(textOf(v[k])), needle = foldCase(textOf(v[k + 1]));
        const std::size_t from = cpOffset(hay, start - 1);
        const std::size_t at = hay.find(needle, from);
        return Value::longInt(at == std::string::npos ? 0 : codePoints(std::string_view(hay).substr(0, at)) + 1);
    }
    case Fn::At: {
        need(2, 3);
        if (anyNull(n)) return Value::null();
        const std::string needle = textOf(v[0]), hay = textOf(v[1]);
        std::int64_t occurrence = n == 3 ? intArg(v[2], "AT") : 1;
        std::size_t at = std::string::npos, from = 0;
        while (occurrence-- > 0) {
            at = hay.find(needle, from);
            if (at == std::string::npos) break;
            from = at + 1;
        }
        return Value::longInt(at == std::string::npos || needle.empty() ? 0 : codePoints(std::string_view(hay).substr(0, at)) + 1);
    }
    case Fn::Replace: {
        need(3, 3);
        if (anyNull(3)) return Value::null();
        const std::string s = textOf(v[0]), find = textOf(v[1]), repl = textOf(v[2]);
        if (find.empty()) return Value::string(s);
        std::string out;
        std::size_t from = 0;
        for (;;) {
            const std::size_t at = s.find(find, from);
            if (at == std::string::npos) break;
            out.append(s, from, at - from);
            checkTextLength(out.size() + repl.size(), e.name);
            out += repl;
            from = at + find.size();
        }
        out.append(s, from, std::string::npos);
        return Value::string(std::move(out));
    }
    case Fn::PadL: case Fn::PadR: {
        need(2, 3);
        if (anyNull(n)) return Value::null();
        const std::string s = textOf(v[0]);
        const std::int64_t width = intArg(v[1], e.name.c_str());
        const std::string fill = n == 3 ? textOf(v[2]).substr(0, 1) : " ";
        const int have = codePoints(s);
        if (width <= have) return Value::string(s.substr(0, cpOffset(s, std::max<std::int64_t>(0, width))));
        checkTextLength(width > static_cast<std::int64_t>(kMaxText)
                            ? static_cast<std::size_t>(width)
                            : s.size() + static_cast<std::size_t>(width - have) * std::max<std::size_t>(1, fill.size()),
                        e.name);
        std::string pad;
        for (std::int64_t i = have; i < width; ++i) pad += fill.empty() ? " " : fill;
        return Value::string(fn == Fn::PadL ? pad + s : s + pad);
    }
    case Fn::Str: {
        need(1, 3);
        if (anyNull(1)) return Value::null();
        if (!fox) {
            const std::string s = textOf(v[0]);
            return Value::string((s.empty() || s[0] == '-') ? s : " " + s);
        }
        const std::int64_t width = n >= 2 ? intArg(v[1], "STR") : 10;
        const std::int64_t dec = n >= 3 ? intArg(v[2], "STR") : 0;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(std::clamp<std::int64_t>(dec, 0, 18)), v[0].toDouble());
        std::string s = buf;
        if (width < 1 || width > 255) throw Error("Invalid procedure call: STR width " + std::to_string(width) + ".");
        if (static_cast<std::int64_t>(s.size()) > width) return Value::string(std::string(static_cast<std::size_t>(width), '*'));
        return Value::string(std::string(static_cast<std::size_t>(width) - s.size(), ' ') + s);
    }
    case Fn::CStr: {
        need(1, 2);
        if (anyNull(1)) return fox ? Value::string(".NULL.") : throw Error("Invalid use of Null in CSTR.");
        return Value::string(textOf(v[0]));
    }
    case Fn::Val: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const std::string s = textOf(v[0]);
        std::string_view t = trimView(s, true, false);
        std::size_t k = 0;
        if (k < t.size() && (t[k] == '-' || t[k] == '+')) ++k;
        while (k < t.size() && ((t[k] >= '0' && t[k] <= '9') || t[k] == '.')) ++k;
        if (auto d = Decimal::parse(t.substr(0, k))) return Value::dbl(d->toDouble());
        return Value::dbl(0);
    }
    case Fn::Abs: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const Value& x = v[0];
        switch (x.type()) {
        case VarType::Long: return x.rawInt() == INT32_MIN ? Value::bigInt(-x.rawInt()) : Value::longInt(static_cast<std::int32_t>(std::abs(x.rawInt())));
        case VarType::Integer: case VarType::Byte: case VarType::BigInt: case VarType::Boolean:
            if (x.rawInt() == INT64_MIN) throw OverflowError("Overflow.");
            return Value::bigInt(std::abs(x.rawInt()));
        case VarType::Currency: return Value::currency(std::abs(x.rawInt()));
        case VarType::Decimal: { Decimal d = x.rawDecimal(); if (d.mantissa < 0) d.mantissa = -d.mantissa; return Value::decimal(d); }
        default: return Value::dbl(std::fabs(x.type() == VarType::String ? numberFromText(x, "ABS").toDouble() : x.toDouble()));
        }
    }
    case Fn::Int: case Fn::Fix: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const Value& x = v[0];
        if (isExactInt(x.type())) return x;
        const double d = x.type() == VarType::String ? numberFromText(x, e.name.c_str()).toDouble() : x.toDouble();
        // Access Int rounds down, Fix and FoxPro INT toward zero.
        const double r = (fn == Fn::Int && !fox) ? std::floor(d) : std::trunc(d);
        if (std::fabs(r) < 2147483648.0) return Value::longInt(static_cast<std::int32_t>(r));
        return Value::dbl(r);
    }
    case Fn::Round: {
        need(1, 2);
        if (anyNull(n)) return Value::null();
        const std::int64_t places = n == 2 ? intArg(v[1], "ROUND") : 0;
        if (places < -18 || places > 28) throw Error("Invalid procedure call: ROUND to " + std::to_string(places) + " places.");
        return roundValue(v[0], static_cast<int>(places), ctx.dialect);
    }
    case Fn::Sgn: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const double d = v[0].toDouble();
        return Value::longInt(d > 0 ? 1 : d < 0 ? -1 : 0);
    }
    case Fn::Sqrt: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const double d = v[0].toDouble();
        if (d < 0) throw Error("Invalid procedure call: the square root of a negative number.");
        return Value::dbl(std::sqrt(d));
    }
    case Fn::CInt: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CINT."); return Value::integer(v[0].toInt16());
    case Fn::CLng: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CLNG."); return Value::longInt(v[0].toInt32());
    case Fn::CDbl: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CDBL."); return Value::dbl(v[0].toDouble());
    case Fn::CSng: {
        need(1, 1);
        if (anyNull(1)) throw Error("Invalid use of Null in CSNG.");
        const double d = v[0].toDouble();
        if (std::fabs(d) > std::numeric_limits<float>::max()) throw OverflowError("Overflow.");
        return Value::single(static_cast<float>(d));
    }
    case Fn::CCur: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CCUR."); return Value::currency(v[0].toCurrency());
    case Fn::CDec: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CDEC."); return Value::decimal(v[0].toDecimal());
    case Fn::CByte: {
        need(1, 1);
        if (anyNull(1)) throw Error("Invalid use of Null in CBYTE.");
        const std::int64_t x = v[0].toInt64();
        if (x < 0 || x > 255) throw OverflowError("Overflow.");
        return Value::byte(static_cast<std::uint8_t>(x));
    }
    case Fn::CBool: need(1, 1); if (anyNull(1)) throw Error("Invalid use of Null in CBOOL."); return Value::boolean(isTrue(v[0]));
    case Fn::Date: case Fn::DateTime: case Fn::DateSerial: {
        if (n == 0) {
            if (fn == Fn::DateSerial) need(3, 3);
            return Value::date(fn == Fn::DateTime ? now() : today());
        }
        if (fn == Fn::Date && n == 1) { // FoxPro DATE(t) is not a thing; TTOD is.  Access Date has no arguments.
            need(0, 0);
        }
        need(3, fn == Fn::DateTime ? 6 : 3);
        if (anyNull(n)) return Value::null();
        int parts[6] = {0, 0, 0, 0, 0, 0};
        for (std::size_t i = 0; i < n; ++i) {
            const std::int64_t x = intArg(v[i], e.name.c_str());
            if (x < INT32_MIN || x > INT32_MAX) throw OverflowError("Overflow.");
            parts[i] = static_cast<int>(x);
        }
        if (fn == Fn::DateSerial) {
            // DateSerial carries months and days over, as Access does.
            int y = parts[0], m = parts[1];
            y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
            m = ((m - 1) % 12 + 12) % 12 + 1;
            const double first = date::fromParts(y, m, 1);
            return Value::date(first + parts[2] - 1);
        }
        if (!date::isValidDate(parts[0], parts[1], parts[2]) || parts[3] < 0 || parts[3] > 23 || parts[4] < 0
            || parts[4] > 59 || parts[5] < 0 || parts[5] > 59) {
            std::string args;
            for (std::size_t i = 0; i < n; ++i) { if (i) args += ','; args += std::to_string(parts[i]); }
            throw Error(e.name + "(" + args + ") is not a valid date.");
        }
        return Value::date(date::fromParts(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]));
    }
    case Fn::Now: need(0, 0); return Value::date(now());
    case Fn::Time: {
        need(0, 1);
        const double t = now();
        if (fox) return Value::string(date::toIso(t).substr(11));
        return Value::date(t - std::floor(t));
    }
    case Fn::DateValue: case Fn::CDate: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        if (v[0].type() == VarType::String) {
            if (auto d = date::parse(trimView(v[0].rawString(), true, true)))
                return Value::date(fn == Fn::DateValue ? std::floor(*d) : *d);
            throw Error("Data type mismatch: '" + v[0].rawString() + "' is not a date.");
        }
        return Value::date(v[0].toDate());
    }
    case Fn::Year: case Fn::Month: case Fn::Day: case Fn::Hour: case Fn::Minute: case Fn::Second: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        double serial = 0;
        if (v[0].type() == VarType::String) {
            auto d = date::parse(trimView(v[0].rawString(), true, true));
            if (!d) throw Error("Data type mismatch: '" + v[0].rawString() + "' is not a date.");
            serial = *d;
        } else {
            serial = v[0].toDate();
        }
        const DateParts p = date::toPartsRoundedToSecond(serial);
        const int r = fn == Fn::Year ? p.year : fn == Fn::Month ? p.month : fn == Fn::Day ? p.day
                    : fn == Fn::Hour ? p.hour : fn == Fn::Minute ? p.minute : p.second;
        return Value::longInt(r);
    }
    case Fn::TToD: need(1, 1); if (anyNull(1)) return Value::null(); return Value::date(std::floor(v[0].toDate()));
    case Fn::DToT: need(1, 1); if (anyNull(1)) return Value::null(); return Value::date(v[0].toDate());
    case Fn::DToS: {
        need(1, 1);
        if (anyNull(1)) return Value::null();
        const DateParts p = date::toParts(v[0].toDate());
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day);
        return Value::string(buf);
    }
    case Fn::IsNull:
        need(1, 1);
        return Value::boolean(v[0].isNull());
    case Fn::Empty: {
        need(1, 1);
        const Value& x = v[0];
        if (x.isNull() || x.isEmpty()) return Value::boolean(x.isEmpty());
        if (x.type() == VarType::String) return Value::boolean(trimView(x.rawString(), true, true).empty());
        if (x.type() == VarType::Binary) return Value::boolean(x.rawString().empty());
        if (x.isNumeric() || x.type() == VarType::Date) return Value::boolean(x.toDouble() == 0);
        return Value::boolean(false);
    }
    case Fn::IsDate: need(1, 1); return Value::boolean(!v[0].isNull() && v[0].isDate());
    case Fn::Between: {
        // FoxPro BETWEEN(x, low, high): the bounds are included; Null in, Null out.
        need(3, 3);
        if (anyNull(3)) return Value::null();
        const bool fox = ctx.dialect == Dialect::FoxPro;
        return Value::boolean(compareValues(v[0], v[1], ctx.caseInsensitive, fox) >= 0
                              && compareValues(v[0], v[2], ctx.caseInsensitive, fox) <= 0);
    }
    default: break;
    }
    throw Error("Undefined function '" + e.name + "' in expression.");
}

// One binary operator whose left operand is already known: the right one
// is evaluated here (not at all where AND/OR are decided by the left).
const Value& applyBinary(const Expr& e, const Value& a, const EvalContext& ctx, Value& scratch) {
    Value s2;
    const BinOp op = e.bop;
    if (op == BinOp::And || op == BinOp::Or || op == BinOp::Xor) {
        const bool aNull = a.isNull();
        const bool av = !aNull && isTrue(a);
        if (op == BinOp::And && !aNull && !av) { scratch = Value::boolean(false); return scratch; }
        if (op == BinOp::Or && av) { scratch = Value::boolean(true); return scratch; }
        const Value& b = evaluateRef(*e.args[1], ctx, s2);
        const bool bNull = b.isNull();
        const bool bv = !bNull && isTrue(b);
        if (op == BinOp::And) {
            if (!bNull && !bv) scratch = Value::boolean(false);
            else if (aNull || bNull) scratch = Value::null();
            else scratch = Value::boolean(true);
        } else if (op == BinOp::Or) {
            if (bv) scratch = Value::boolean(true);
            else if (aNull || bNull) scratch = Value::null();
            else scratch = Value::boolean(false);
        } else {
            scratch = (aNull || bNull) ? Value::null() : Value::boolean(av != bv);
        }
        return scratch;
    }
    const Value& b = evaluateRef(*e.args[1], ctx, s2);
    const bool fox = ctx.dialect == Dialect::FoxPro;
    switch (op) {
    case BinOp::Eq: case BinOp::ExactEq: case BinOp::Ne: case BinOp::Lt: case BinOp::Le: case BinOp::Gt: case BinOp::Ge: {
        if (a.isNull() || b.isNull()) return kNull;
        const int c = compareValues(a, b, ctx.caseInsensitive, fox && op != BinOp::ExactEq);
        bool r = false;
        switch (op) {
        case BinOp::Eq: case BinOp::ExactEq: r = c == 0; break;
        case BinOp::Ne: r = c != 0; break;
        case BinOp::Lt: r = c < 0; break;
        case BinOp::Le: r = c <= 0; break;
        case BinOp::Gt: r = c > 0; break;
        default: r = c >= 0; break;
        }
        scratch = Value::boolean(r);
        return scratch;
    }
    case BinOp::Like:
        if (a.isNull() || b.isNull()) return kNull;
        scratch = Value::boolean(likeMatch(textOf(a), textOf(b), ctx.caseInsensitive || !fox, ctx.dialect));
        return scratch;
    case BinOp::Contained:
        if (a.isNull() || b.isNull()) return kNull;
        scratch = Value::boolean(textOf(b).find(textOf(a)) != std::string::npos);
        return scratch;
    case BinOp::Concat:
        // Access '&' treats Null as an empty text.
        if (a.isNull() && b.isNull()) return kNull;
        if (isText(a.type()) && isText(b.type()))
            checkTextLength(a.rawString().size() + b.rawString().size(), "'&'");
        scratch = Value::string((a.isNull() ? std::string() : textOf(a)) + (b.isNull() ? std::string() : textOf(b)));
        return scratch;
    default:
        scratch = arithmetic(op, a, b, ctx.dialect);
        return scratch;
    }
}

// A chain of binary operators leaning left (1+1+...+1, a AND b AND ...):
// the spine is collected, its leftmost operand evaluated, and the
// operators applied upward in a loop, so that the length of the chain
// costs no stack.
[[gnu::noinline]] const Value& evaluateSpine(const Expr& top, const EvalContext& ctx, Value& scratch) {
    constexpr std::size_t kLocal = 32;
    const Expr* local[kLocal];
    std::vector<const Expr*> more; // beyond kLocal, rarely
    std::size_t n = 0;
    const Expr* leaf = &top;
    while (leaf->kind == Expr::Kind::Binary) {
        if (n < kLocal) local[n] = leaf;
        else more.push_back(leaf);
        ++n;
        leaf = leaf->args[0].get();
    }
    auto node = [&](std::size_t k) { return k < kLocal ? local[k] : more[k - kLocal]; };
    // Two buffers take turns: the caller's scratch and one here.
    Value other;
    Value* const buf[2] = {&scratch, &other};
    const Value* a = &evaluateRef(*leaf, ctx, other);
    for (std::size_t k = n; k-- > 0;) {
        const Expr& op = *node(k);
        Value* own = a == buf[0] ? buf[0] : a == buf[1] ? buf[1] : nullptr;
        Value& into = own == buf[0] ? *buf[1] : *buf[0]; // never the one a points at
        if (own && own->type() == VarType::String && (op.bop == BinOp::Concat || op.bop == BinOp::Add)) {
            // A long concatenation grows one text instead of copying it per term.
            Value s;
            const Value& b = evaluateRef(*op.args[1], ctx, s);
            if (op.bop == BinOp::Concat) {
                if (!b.isNull()) {
                    const std::string tail = textOf(b);
                    checkTextLength(own->rawString().size() + tail.size(), "'&'");
                    own->mutableString(VarType::String) += tail;
                }
                continue;
            }
            if (b.type() == VarType::String) {
                checkTextLength(own->rawString().size() + b.rawString().size(), "'+'");
                own->mutableString(VarType::String) += b.rawString();
                continue;
            }
            into = arithmetic(op.bop, *a, b, ctx.dialect);
            a = &into;
            continue;
        }
        a = &applyBinary(op, *a, ctx, into);
    }
    // Else a Null (an operator's answer to a Null operand): copied, cheaply.
    if (a == &other) scratch = std::move(other);
    else if (a != &scratch) scratch = *a;
    return scratch;
}

} // namespace

const Value& evaluateRef(const Expr& e, const EvalContext& ctx, Value& scratch) {
    switch (e.kind) {
    case Expr::Kind::Literal:
        return e.value;
    case Expr::Kind::Column:
        if (e.boundSource < 0 || !ctx.frames) throw Error("Column '" + e.name + "' cannot be used here.");
        return (*ctx.frames)[static_cast<std::size_t>(e.boundSource)].get(static_cast<std::size_t>(e.boundColumn));
    case Expr::Kind::Star:
        throw Error("'*' cannot be used as a value.");
    case Expr::Kind::Parameter:
        throw Error("No value given for the parameter ?" + e.name + ".");
    case Expr::Kind::Unary: {
        Value s;
        const Value& a = evaluateRef(*e.args[0], ctx, s);
        if (a.isNull()) return kNull;
        if (e.uop == UnOp::Not) {
            if (a.type() == VarType::Boolean || ctx.dialect == Dialect::FoxPro) scratch = Value::boolean(!isTrue(a));
            else if (isExactInt(a.type())) scratch = Value::bigInt(~a.rawInt());
            else scratch = Value::boolean(!isTrue(a));
            return scratch;
        }
        if (e.uop == UnOp::Plus) { scratch = a; return scratch; }
        scratch = arithmetic(BinOp::Sub, Value::longInt(0), a, ctx.dialect);
        return scratch;
    }
    case Expr::Kind::Binary: {
        if (e.args[0]->kind == Expr::Kind::Binary) return evaluateSpine(e, ctx, scratch);
        Value s1;
        const Value& a = evaluateRef(*e.args[0], ctx, s1);
        return applyBinary(e, a, ctx, scratch);
    }
    case Expr::Kind::Between: {
        Value s0, s1, s2;
        const Value& x = evaluateRef(*e.args[0], ctx, s0);
        const Value& lo = evaluateRef(*e.args[1], ctx, s1);
        const Value& hi = evaluateRef(*e.args[2], ctx, s2);
        if (x.isNull() || lo.isNull() || hi.isNull()) return kNull;
        const bool trailing = ctx.dialect == Dialect::FoxPro;
        const bool in = compareValues(x, lo, ctx.caseInsensitive, trailing) >= 0 && compareValues(x, hi, ctx.caseInsensitive, trailing) <= 0;
        scratch = Value::boolean(in != e.negated);
        return scratch;
    }
    case Expr::Kind::InList: {
        Value s0;
        const Value& x = evaluateRef(*e.args[0], ctx, s0);
        if (x.isNull()) return kNull;
        bool sawNull = false;
        for (std::size_t i = 1; i < e.args.size(); ++i) {
            Value si;
            const Value& y = evaluateRef(*e.args[i], ctx, si);
            if (y.isNull()) { sawNull = true; continue; }
            if (compareValues(x, y, ctx.caseInsensitive, ctx.dialect == Dialect::FoxPro) == 0) {
                scratch = Value::boolean(!e.negated);
                return scratch;
            }
        }
        if (sawNull) return kNull;
        scratch = Value::boolean(e.negated);
        return scratch;
    }
    case Expr::Kind::IsNull: {
        Value s0;
        const Value& x = evaluateRef(*e.args[0], ctx, s0);
        scratch = Value::boolean((x.isNull() || x.isEmpty()) != e.negated);
        return scratch;
    }
    case Expr::Kind::Call: {
        Fn fn = static_cast<Fn>(e.function);
        if (e.function < 0) fn = lookupFunction(e.name, ctx.dialect);
        if (fn == Fn::Unknown) throw Error("Undefined function '" + e.name + "' in expression.");
        if (isAggregate(fn)) {
            if (!ctx.aggregates || e.aggregate < 0) throw Error("The aggregate " + e.name + " cannot be used here.");
            return (*ctx.aggregates)[static_cast<std::size_t>(e.aggregate)];
        }
        // Branches are evaluated only when taken.
        if (fn == Fn::IIf) {
            if (e.args.size() != 3) throw Error("Wrong number of arguments used with function " + e.name + ".");
            Value s0;
            const Value& c = evaluateRef(*e.args[0], ctx, s0);
            return evaluateRef(*e.args[isTrue(c) ? 1 : 2], ctx, scratch);
        }
        if (fn == Fn::Nz || fn == Fn::Nvl) {
            if (e.args.empty() || e.args.size() > 2) throw Error("Wrong number of arguments used with function " + e.name + ".");
            const Value& x = evaluateRef(*e.args[0], ctx, scratch);
            if (!x.isNull()) return x;
            if (e.args.size() == 1) { scratch = Value::string(std::string()); return scratch; }
            return evaluateRef(*e.args[1], ctx, scratch);
        }
        if (e.args.size() > 8) throw Error("Wrong number of arguments used with function " + e.name + ".");
        Value argv[8];
        for (std::size_t i = 0; i < e.args.size(); ++i) {
            if (e.args[i]->kind == Expr::Kind::Star) throw Error("'*' cannot be used with " + e.name + ".");
            Value s;
            const Value& r = evaluateRef(*e.args[i], ctx, s);
            argv[i] = (&r == &s) ? std::move(s) : r;
        }
        scratch = callFunction(e, fn, argv, e.args.size(), ctx);
        return scratch;
    }
    }
    throw Error("Unknown expression.");
}

Value evaluate(const Expr& e, const EvalContext& ctx) {
    Value scratch;
    const Value& r = evaluateRef(e, ctx, scratch);
    if (&r == &scratch) return scratch;
    return r;
}

} // namespace qm::sql
