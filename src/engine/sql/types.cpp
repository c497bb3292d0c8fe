#include "sql/types.h"

#include "value/value.h"

#include <algorithm>
#include <string>

namespace qm::sql {

using storage::ColumnSpec;
using storage::ColumnType;

namespace {

struct Word {
    std::string_view word;
    ColumnType type;
    bool foxOnly;
};

// Order matters only for readability; lookups compare whole words.
constexpr Word kWords[] = {
    // Access (Jet/ACE DDL) words and their synonyms.
    {"TEXT", ColumnType::VarChar, false},      {"VARCHAR", ColumnType::VarChar, false},
    {"NVARCHAR", ColumnType::VarChar, false},  {"STRING", ColumnType::VarChar, false},
    {"ALPHANUMERIC", ColumnType::VarChar, false},
    {"CHAR", ColumnType::Char, false},         {"CHARACTER", ColumnType::Char, false},
    {"NCHAR", ColumnType::Char, false},
    {"MEMO", ColumnType::Memo, false},         {"LONGTEXT", ColumnType::Memo, false},
    {"LONGCHAR", ColumnType::Memo, false},     {"NOTE", ColumnType::Memo, false},
    {"NTEXT", ColumnType::Memo, false},
    {"BYTE", ColumnType::Byte, false},         {"TINYINT", ColumnType::Byte, false},
    {"INTEGER1", ColumnType::Byte, false},
    {"SMALLINT", ColumnType::Integer, false},  {"SHORT", ColumnType::Integer, false},
    {"INTEGER2", ColumnType::Integer, false},
    {"INT", ColumnType::Long, false},          {"INTEGER", ColumnType::Long, false},
    {"LONG", ColumnType::Long, false},         {"INTEGER4", ColumnType::Long, false},
    {"BIGINT", ColumnType::BigInt, false},
    {"SINGLE", ColumnType::Single, false},     {"REAL", ColumnType::Single, false},
    {"FLOAT4", ColumnType::Single, false},     {"IEEESINGLE", ColumnType::Single, false},
    {"DOUBLE", ColumnType::Double, false},     {"FLOAT8", ColumnType::Double, false},
    {"IEEEDOUBLE", ColumnType::Double, false}, {"NUMBER", ColumnType::Double, false},
    {"CURRENCY", ColumnType::Currency, false}, {"MONEY", ColumnType::Currency, false},
    {"DECIMAL", ColumnType::Decimal, false},   {"NUMERIC", ColumnType::Decimal, false},
    {"DEC", ColumnType::Decimal, false},
    {"FLOAT", ColumnType::Double, false},
    {"DATETIME", ColumnType::DateTime, false}, {"TIMESTAMP", ColumnType::DateTime, false},
    {"DATE", ColumnType::DateTime, false},
    {"TIME", ColumnType::DateTime, false},
    {"BIT", ColumnType::Boolean, false},       {"YESNO", ColumnType::Boolean, false},
    {"LOGICAL", ColumnType::Boolean, false},   {"LOGICAL1", ColumnType::Boolean, false},
    {"BOOLEAN", ColumnType::Boolean, false},
    {"OLEOBJECT", ColumnType::LongBinary, false}, {"LONGBINARY", ColumnType::LongBinary, false},
    {"GENERAL", ColumnType::LongBinary, false},   {"IMAGE", ColumnType::LongBinary, false},
    {"BINARY", ColumnType::Binary, false},     {"VARBINARY", ColumnType::Binary, false},
    {"GUID", ColumnType::Guid, false},         {"UNIQUEIDENTIFIER", ColumnType::Guid, false},
    // Visual FoxPro letters and long names.
    {"C", ColumnType::Char, true},             {"V", ColumnType::VarChar, true},
    {"N", ColumnType::Decimal, true},          {"NUM", ColumnType::Decimal, true},
    {"F", ColumnType::Float, true},            {"I", ColumnType::Long, true},
    {"B", ColumnType::Double, true},           {"Y", ColumnType::Currency, true},
    {"D", ColumnType::Date, true},             {"T", ColumnType::DateTime, true},
    {"L", ColumnType::Boolean, true},          {"M", ColumnType::Memo, true},
    {"G", ColumnType::LongBinary, true},       {"W", ColumnType::Blob, true},
    {"BLOB", ColumnType::Blob, true},          {"Q", ColumnType::Binary, true},
};

[[noreturn]] void bad(std::string_view word, const std::string& why) {
    throw Error("The column type " + std::string(word) + " " + why + ".");
}

} // namespace

std::optional<ColumnSpec> columnTypeFor(std::string_view word, const TypeArgs& a, Dialect dialect) {
    const bool fox = dialect == Dialect::FoxPro;
    ColumnSpec spec;
    bool found = false;
    for (const auto& w : kWords) {
        if ((!w.foxOnly || fox) && iequals(word, w.word)) {
            spec.type = w.type;
            found = true;
            break;
        }
    }
    if (!found && iequals(word, "COUNTER") ) { spec.type = ColumnType::Long; spec.autoIncrement = true; found = true; }
    if (!found && (iequals(word, "AUTOINCREMENT") || iequals(word, "IDENTITY"))) {
        spec.type = ColumnType::Long; spec.autoIncrement = true; found = true;
    }
    if (!found) return std::nullopt;

    // A DATE column: Access stores date and time together; FoxPro has D.
    if (iequals(word, "DATE")) spec.type = fox ? ColumnType::Date : ColumnType::DateTime;
    if (iequals(word, "FLOAT")) spec.type = fox ? ColumnType::Float : ColumnType::Double;
    if (fox && (iequals(word, "INT") || iequals(word, "INTEGER"))) spec.type = ColumnType::Long;
    if (fox && (iequals(word, "CHAR") || iequals(word, "CHARACTER"))) spec.type = ColumnType::Char;
    if (fox && iequals(word, "VARCHAR")) spec.type = ColumnType::VarChar;

    switch (spec.type) {
    case ColumnType::Char:
    case ColumnType::VarChar: {
        const int maxLen = fox ? 254 : 255;
        if (a.count == 0) {
            if (fox && (spec.type == ColumnType::Char || spec.type == ColumnType::VarChar) && word.size() == 1)
                bad(word, "needs a width, as in " + std::string(word) + "(10)");
            spec.size = fox ? 254 : 255;
        } else {
            if (a.count > 1) bad(word, "takes one width");
            if (a.first < 1 || a.first > maxLen)
                bad(word, "width " + std::to_string(a.first) + " is outside 1.." + std::to_string(maxLen));
            spec.size = a.first;
        }
        break;
    }
    case ColumnType::Binary: {
        const int maxLen = fox ? 254 : 510;
        if (a.count == 0) spec.size = fox ? 254 : 255;
        else {
            if (a.first < 1 || a.first > maxLen)
                bad(word, "width " + std::to_string(a.first) + " is outside 1.." + std::to_string(maxLen));
            spec.size = a.first;
        }
        break;
    }
    case ColumnType::Decimal:
    case ColumnType::Float: {
        if (fox) {
            // N(w,d) / F(w,d): w is the whole width (sign and point included).
            const int w = a.count >= 1 ? a.first : 10;
            const int d = a.count >= 2 ? a.second : 0;
            if (a.count == 0 && word.size() == 1) bad(word, "needs a width, as in N(10,2)");
            if (w < 1 || w > 20) bad(word, "width " + std::to_string(w) + " is outside 1..20");
            if (d < 0 || d > 18 || (d > 0 && d > w - 2))
                bad(word, "has " + std::to_string(d) + " decimals, which do not fit a width of " + std::to_string(w));
            // The engines count digits in precision; the width adds the sign and the point.
            spec.size = w;
            spec.precision = std::max(1, w - (d > 0 ? 1 : 0) - 1);
            spec.scale = d;
        } else {
            const int p = a.count >= 1 ? a.first : 18;
            const int s = a.count >= 2 ? a.second : 0;
            if (p < 1 || p > 28) bad(word, "precision " + std::to_string(p) + " is outside 1..28");
            if (s < 0 || s > p) bad(word, "scale " + std::to_string(s) + " is outside 0.." + std::to_string(p));
            spec.precision = p;
            spec.scale = s;
        }
        break;
    }
    case ColumnType::Double:
        if (fox && a.count >= 1) spec.scale = a.count >= 2 ? a.second : a.first;
        break;
    default:
        break; // width and decimals ignored, as both engines do
    }
    return spec;
}

namespace {
int xbaseWidth(const ColumnSpec& s) {
    if (s.size > 0) return s.size;
    const int p = s.precision > 0 ? s.precision : 18;
    return std::min(20, p + (s.scale > 0 ? 1 : 0) + 1);
}
} // namespace

std::string typeText(const ColumnSpec& s, Dialect dialect) {
    const bool fox = dialect == Dialect::FoxPro;
    auto n = [](int v) { return std::to_string(v); };
    std::string t;
    switch (s.type) {
    case ColumnType::Boolean: t = fox ? "L" : "BIT"; break;
    case ColumnType::Byte: t = fox ? "I" : "BYTE"; break;
    case ColumnType::Integer: t = fox ? "I" : "SMALLINT"; break;
    case ColumnType::Long: t = s.autoIncrement ? (fox ? "I AUTOINC" : "COUNTER") : (fox ? "I" : "INTEGER"); return t;
    case ColumnType::BigInt: t = fox ? "N(20,0)" : "BIGINT"; break;
    case ColumnType::Single: t = fox ? "B" : "REAL"; break;
    case ColumnType::Double: t = fox ? (s.scale ? "B(" + n(s.scale) + ")" : "B") : "DOUBLE"; break;
    case ColumnType::Currency: t = fox ? "Y" : "CURRENCY"; break;
    case ColumnType::Decimal:
        t = fox ? "N(" + n(xbaseWidth(s)) + "," + n(s.scale) + ")" : "DECIMAL(" + n(s.precision) + "," + n(s.scale) + ")";
        break;
    case ColumnType::Float:
        t = fox ? "F(" + n(xbaseWidth(s)) + "," + n(s.scale) + ")" : "DOUBLE";
        break;
    case ColumnType::DateTime: t = fox ? "T" : "DATETIME"; break;
    case ColumnType::Date: t = fox ? "D" : "DATETIME"; break;
    case ColumnType::Char: t = fox ? "C(" + n(s.size) + ")" : "CHAR(" + n(s.size) + ")"; break;
    case ColumnType::VarChar: t = fox ? "V(" + n(s.size) + ")" : "TEXT(" + n(s.size) + ")"; break;
    case ColumnType::Memo: t = fox ? "M" : "MEMO"; break;
    case ColumnType::Binary: t = fox ? "Q(" + n(s.size) + ")" : "BINARY(" + n(s.size) + ")"; break;
    case ColumnType::LongBinary: t = fox ? "G" : "LONGBINARY"; break;
    case ColumnType::Blob: t = fox ? "W" : "LONGBINARY"; break;
    case ColumnType::Guid: t = fox ? "C(38)" : "GUID"; break;
    case ColumnType::DateTimeExt: t = fox ? "T" : "DATETIME"; break;
    default: t = fox ? "M" : "MEMO"; break;
    }
    if (fox && s.binary) t += " NOCPTRANS";
    return t;
}

} // namespace qm::sql
