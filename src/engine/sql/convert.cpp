#include "sql/convert.h"

#include "sql/lexer.h"

#include <cmath>
#include <cstdlib>
#include <limits>

namespace qm::sql {

__extension__ typedef __int128 Int128;

using storage::ColumnDef;
using storage::ColumnType;

namespace {

std::string shown(const Value& v) {
    std::string s;
    try {
        s = v.type() == VarType::Binary ? std::string("(binary data)") : v.toString();
    } catch (const Error&) {
        s = "(value)";
    }
    if (s.size() > 60) {
        std::size_t cut = 57;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
        s = s.substr(0, cut) + "...";
    }
    return s;
}

std::string fieldName(const ColumnDef& c, std::string_view table) {
    std::string w = "the field '";
    if (!table.empty()) { w += table; w += '.'; }
    w += c.name;
    w += '\'';
    return w;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

const char* rangeText(ColumnType t) {
    switch (t) {
    case ColumnType::Byte: return "a Byte field holds 0 to 255";
    case ColumnType::Integer: return "an Integer field holds -32768 to 32767";
    case ColumnType::Long: return "a Long Integer field holds -2147483648 to 2147483647";
    case ColumnType::BigInt: return "a Large Number field holds 19 digits";
    case ColumnType::Single: return "it is beyond the range of a Single";
    case ColumnType::Currency: return "a Currency field holds up to 922337203685477.5807";
    default: return "it is out of range";
    }
}

[[noreturn]] void refuse(const Value& v, const ColumnDef& c, std::string_view table, const std::string& why) {
    throw Error("The value '" + shown(v) + "' cannot be stored in " + fieldName(c, table) + ": " + why + ".");
}

// A number from a value; text is read as one.
Value asNumber(const Value& v, const ColumnDef& c, std::string_view table) {
    if (v.type() == VarType::String) {
        const auto t = trim(v.rawString());
        if (auto d = Decimal::parse(t)) return Value::decimal(*d);
        if (!t.empty()) {
            // Beyond 28 digits ("1e300"): a double.
            const std::string copy(t);
            char* end = nullptr;
            const double d = std::strtod(copy.c_str(), &end);
            if (end && *end == 0 && std::isfinite(d) && copy.find_first_of("0123456789") != std::string::npos)
                return Value::dbl(d);
        }
        refuse(v, c, table, "it is not a number");
    }
    if (v.type() == VarType::Boolean) return Value::longInt(v.rawInt() ? -1 : 0);
    if (v.type() == VarType::Date) return Value::dbl(v.rawDouble());
    if (!v.isNumeric()) refuse(v, c, table, "it is not a number");
    return v;
}

// A number as a double.  A decimal whose digits and power of ten are both
// exact doubles divides in one correctly rounded step, which is what
// reading its text would give; others take the long way.
double toDoubleOf(const Value& n) {
    if (n.type() == VarType::Decimal) {
        static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const Decimal& d = n.rawDecimal();
        constexpr Int128 kExact = Int128(1) << 53;
        if (d.scale <= 22 && d.mantissa < kExact && d.mantissa > -kExact)
            return static_cast<double>(static_cast<std::int64_t>(d.mantissa)) / kPowers[d.scale];
    }
    return n.toDouble();
}

bool textIsBlank(const Value& v) { return v.type() == VarType::String && trim(v.rawString()).empty(); }

} // namespace

Value convertForColumn(Value v, const ColumnDef& c, std::string_view table) {
    if (v.isEmpty()) return v;
    if (v.isNull()) {
        if (!c.nullable && !c.autoIncrement)
            throw Error("You tried to assign the Null value to " + fieldName(c, table) + ", which does not accept Null.");
        return v;
    }
    try {
        switch (c.type) {
        case ColumnType::Char:
        case ColumnType::VarChar:
        case ColumnType::Memo: {
            if (v.type() == VarType::Binary && !c.binary && c.type == ColumnType::Memo) return v;
            if (v.type() != VarType::String) {
                if (v.type() == VarType::Binary) return v;
                v = Value::string(v.type() == VarType::Boolean ? (v.rawInt() ? "True" : "False") : v.toString());
            }
            if (c.type != ColumnType::Memo && c.size > 0) {
                const std::size_t len = utf16Length(v.rawString());
                if (len > static_cast<std::size_t>(c.size)) {
                    throw Error("The field '" + std::string(table) + (table.empty() ? "" : ".") + c.name
                                + "' is too small to accept the amount of data you attempted to add ("
                                + std::to_string(len) + " characters, field holds " + std::to_string(c.size)
                                + "): '" + shown(v) + "'.");
                }
            }
            return v;
        }
        case ColumnType::Boolean: {
            if (v.type() == VarType::Boolean) return v;
            if (v.type() == VarType::String) {
                const auto t = trim(v.rawString());
                if (iequals(t, "true") || iequals(t, "yes") || iequals(t, "on") || iequals(t, ".t.") || iequals(t, ".y.")
                    || iequals(t, "t") || iequals(t, "y"))
                    return Value::boolean(true);
                if (iequals(t, "false") || iequals(t, "no") || iequals(t, "off") || iequals(t, ".f.") || iequals(t, ".n.")
                    || iequals(t, "f") || iequals(t, "n"))
                    return Value::boolean(false);
            }
            const Value n = asNumber(v, c, table);
            return Value::boolean(n.toDouble() != 0);
        }
        case ColumnType::Byte: {
            if (textIsBlank(v)) return Value::null();
            const std::int64_t x = asNumber(v, c, table).toInt64();
            if (x < 0 || x > 255) refuse(v, c, table, rangeText(c.type));
            return Value::byte(static_cast<std::uint8_t>(x));
        }
        case ColumnType::Integer:
            if (textIsBlank(v)) return Value::null();
            return Value::integer(asNumber(v, c, table).toInt16());
        case ColumnType::Long:
            if (textIsBlank(v)) return Value::null();
            return Value::longInt(asNumber(v, c, table).toInt32());
        case ColumnType::BigInt:
            if (textIsBlank(v)) return Value::null();
            return Value::bigInt(asNumber(v, c, table).toInt64());
        case ColumnType::Single: {
            if (textIsBlank(v)) return Value::null();
            const double d = toDoubleOf(asNumber(v, c, table));
            if (std::fabs(d) > std::numeric_limits<float>::max()) refuse(v, c, table, rangeText(c.type));
            return Value::single(static_cast<float>(d));
        }
        case ColumnType::Double:
            if (textIsBlank(v)) return Value::null();
            return Value::dbl(toDoubleOf(asNumber(v, c, table)));
        case ColumnType::Currency:
            if (textIsBlank(v)) return Value::null();
            return Value::currency(asNumber(v, c, table).toCurrency());
        case ColumnType::Decimal:
        case ColumnType::Float: {
            if (textIsBlank(v)) return Value::null();
            const Value n = asNumber(v, c, table);
            Decimal d = n.toDecimal();
            if (c.scale >= 0 && d.scale > c.scale) d = d.rescaled(c.scale);
            // Access Decimal(p,s): at most p - s digits before the point.
            // xBase N(w,d) widths are checked by the engine, which knows the layout.
            if (c.type == ColumnType::Decimal && c.precision > 0 && c.size == 0) {
                Int128 whole = d.mantissa;
                for (int i = 0; i < d.scale; ++i) whole /= 10;
                if (whole < 0) whole = -whole;
                int digits = 0;
                while (whole > 0) { ++digits; whole /= 10; }
                if (digits > c.precision - c.scale)
                    refuse(v, c, table, "it has more digits than Decimal(" + std::to_string(c.precision) + ","
                                            + std::to_string(c.scale) + ") holds");
            }
            return Value::decimal(d);
        }
        case ColumnType::DateTime:
        case ColumnType::DateTimeExt:
        case ColumnType::Date: {
            if (v.type() == VarType::Date) return v;
            if (v.type() == VarType::String) {
                const auto t = trim(v.rawString());
                if (t.empty()) return Value::null();
                if (auto d = date::parse(t)) return Value::date(*d);
                refuse(v, c, table, "it is not a date");
            }
            if (v.isNumeric()) return Value::date(v.toDate());
            refuse(v, c, table, "it is not a date");
        }
        case ColumnType::Guid: {
            if (v.type() == VarType::Guid) return v;
            if (v.type() == VarType::String) {
                if (auto g = Guid::parse(trim(v.rawString()))) return Value::guid(*g);
                refuse(v, c, table, "it is not a GUID");
            }
            refuse(v, c, table, "it is not a GUID");
        }
        case ColumnType::Binary:
        case ColumnType::LongBinary:
        case ColumnType::Blob: {
            if (v.type() == VarType::Binary) {
                if (c.type == ColumnType::Binary && c.size > 0 && v.rawString().size() > static_cast<std::size_t>(c.size))
                    refuse(v, c, table, std::to_string(v.rawString().size()) + " bytes, the field holds " + std::to_string(c.size));
                return v;
            }
            if (v.type() == VarType::String) {
                if (c.type == ColumnType::Binary && c.size > 0 && v.rawString().size() > static_cast<std::size_t>(c.size))
                    refuse(v, c, table, std::to_string(v.rawString().size()) + " bytes, the field holds " + std::to_string(c.size));
                return Value::binary(v.rawString());
            }
            refuse(v, c, table, "binary data is expected");
        }
        default:
            return v;
        }
    } catch (const OverflowError&) {
        refuse(v, c, table, rangeText(c.type));
    }
}

void fillAdoType(ColumnDef& c, bool fox) {
    switch (c.type) {
    case ColumnType::Boolean: c.adoType = 11; c.definedSize = 2; break;
    case ColumnType::Byte: c.adoType = 17; c.definedSize = 1; break;
    case ColumnType::Integer: c.adoType = 2; c.definedSize = 2; break;
    case ColumnType::Long: c.adoType = 3; c.definedSize = 4; break;
    case ColumnType::BigInt: c.adoType = 20; c.definedSize = 8; break;
    case ColumnType::Single: c.adoType = 4; c.definedSize = 4; break;
    case ColumnType::Double: c.adoType = 5; c.definedSize = 8; break;
    case ColumnType::Currency: c.adoType = 6; c.definedSize = 8; break;
    case ColumnType::Decimal: case ColumnType::Float: c.adoType = 131; c.definedSize = 19; break;
    case ColumnType::DateTime: case ColumnType::DateTimeExt:
        if (fox) { c.adoType = 135; c.definedSize = 16; } else { c.adoType = 7; c.definedSize = 8; }
        break;
    case ColumnType::Date:
        if (fox) { c.adoType = 133; c.definedSize = 6; } else { c.adoType = 7; c.definedSize = 8; }
        break;
    case ColumnType::Char:
        if (fox) { c.adoType = c.binary ? 128 : 129; } else c.adoType = 202;
        c.definedSize = c.size;
        break;
    case ColumnType::VarChar:
        c.adoType = fox ? (c.binary ? 204 : 200) : 202;
        c.definedSize = c.size;
        break;
    case ColumnType::Memo:
        if (fox) { c.adoType = c.binary ? 205 : 201; c.definedSize = 2147483647; }
        else { c.adoType = 203; c.definedSize = 536870910; }
        break;
    case ColumnType::Binary: c.adoType = fox ? 128 : 204; c.definedSize = c.size; break;
    case ColumnType::LongBinary: case ColumnType::Blob:
        c.adoType = 205;
        c.definedSize = fox ? 2147483647 : 1073741823;
        break;
    case ColumnType::Guid: c.adoType = 72; c.definedSize = 16; break;
    default: c.adoType = fox ? 201 : 203; c.definedSize = fox ? 2147483647 : 536870910; break;
    }
}

ColumnDef columnForValueKind(VarType kind, bool fox, int textSize) {
    ColumnDef c;
    switch (kind) {
    case VarType::Boolean: c.type = ColumnType::Boolean; break;
    case VarType::Byte: c.type = ColumnType::Byte; break;
    case VarType::Integer: c.type = ColumnType::Integer; break;
    case VarType::Long: c.type = ColumnType::Long; break;
    case VarType::BigInt: c.type = ColumnType::BigInt; break;
    case VarType::Single: c.type = ColumnType::Single; break;
    case VarType::Double: c.type = ColumnType::Double; break;
    case VarType::Currency: c.type = ColumnType::Currency; break;
    case VarType::Decimal: c.type = ColumnType::Decimal; c.precision = 28; c.scale = 10; break;
    case VarType::Date: c.type = ColumnType::DateTime; break;
    case VarType::Guid: c.type = ColumnType::Guid; break;
    case VarType::Binary: c.type = ColumnType::LongBinary; break;
    default:
        if (textSize > 0 && textSize <= (fox ? 254 : 255)) {
            c.type = fox ? ColumnType::Char : ColumnType::VarChar;
            c.size = textSize;
        } else {
            c.type = ColumnType::Memo;
        }
        break;
    }
    fillAdoType(c, fox);
    return c;
}

} // namespace qm::sql
