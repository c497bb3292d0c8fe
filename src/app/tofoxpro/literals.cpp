#include "tofoxpro/literals.h"

#include <cmath>

namespace qm::tofoxpro {

namespace {

bool isDateTimeType(std::int16_t t) { return t == 7 || t == 134 || t == 135 || t == 64; }

bool isNumericType(std::int16_t t)
{
    switch (t) {
    case 2: case 3: case 4: case 5: case 6: case 14: case 16: case 17: case 18: case 19: case 20: case 21:
    case 131: case 139:
        return true;
    default:
        return false;
    }
}

void appendInt(std::string& out, std::int64_t v) { out += std::to_string(v); }

void appendDouble(std::string& out, double d)
{
    if (!std::isfinite(d))
        throw Error("The number " + shortestDouble(d) + " cannot be written into the script.");
    out += shortestDouble(d);
}

void appendDate(std::string& out, double serial, std::int16_t columnType)
{
    const DateParts p = date::toPartsRoundedToSecond(serial);
    const bool timeOfDay = p.hour != 0 || p.minute != 0 || p.second != 0;
    if (columnType == 133 && !timeOfDay) {
        out += "Date(";
    } else {
        out += "DATETIME(";
    }
    appendInt(out, p.year);
    out += ',';
    appendInt(out, p.month);
    out += ',';
    appendInt(out, p.day);
    if (columnType != 133 || timeOfDay) {
        out += ',';
        appendInt(out, p.hour);
        out += ',';
        appendInt(out, p.minute);
        out += ',';
        appendInt(out, p.second);
    }
    out += ')';
}

void appendBinary(std::string& out, std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "0h";
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
}

// The literal of v as its own kind says.
void appendByKind(std::string& out, const Value& v, std::int16_t columnType)
{
    switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
        out += "NULL";
        return;
    case VarType::Boolean:
        if (isNumericType(columnType))
            out += v.rawInt() ? '1' : '0';
        else
            out += v.rawInt() ? ".T." : ".F.";
        return;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::BigInt:
        appendInt(out, v.rawInt());
        return;
    case VarType::Single:
        // The column holds a double: the float's exact value, written so
        // that it reads back to that double.
        appendDouble(out, v.rawDouble());
        return;
    case VarType::Double:
        appendDouble(out, v.rawDouble());
        return;
    case VarType::Currency:
        out += currencyToString(v.rawInt());
        return;
    case VarType::Decimal:
        out += v.rawDecimal().toString();
        return;
    case VarType::Date:
        appendDate(out, v.rawDouble(), columnType);
        return;
    case VarType::String:
        AppendQuotedText(out, v.rawString());
        return;
    case VarType::Guid:
        AppendQuotedText(out, v.rawGuid().toString());
        return;
    case VarType::Binary:
        appendBinary(out, v.rawString());
        return;
    }
    AppendQuotedText(out, v.toString());
}

} // namespace

bool IsTextType(std::int16_t t) { return t == 129 || t == 130 || t == 200 || t == 201 || t == 202 || t == 203 || t == 8; }

void AppendQuotedText(std::string& out, std::string_view text)
{
    bool open = false;  // inside a quoted run
    bool first = true;  // nothing written yet
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127) {
            if (open) {
                out += '\'';
                open = false;
            }
            if (!first)
                out += '+';
            out += "CHR(";
            appendInt(out, u);
            out += ')';
            first = false;
            continue;
        }
        if (!open) {
            if (!first)
                out += '+';
            out += '\'';
            open = true;
            first = false;
        }
        if (c == '\'')
            out += "''";
        else
            out += c;
    }
    if (open)
        out += '\'';
    else if (first)
        out += "''";
}

void AppendLiteral(std::string& out, const Value& v, std::int16_t columnType)
{
    if (v.isNull() || v.isEmpty()) {
        out += "NULL";
        return;
    }
    if (IsTextType(columnType)) {
        if (v.type() == VarType::String)
            AppendQuotedText(out, v.rawString());
        else if (v.type() == VarType::Guid)
            AppendQuotedText(out, v.rawGuid().toString());
        else if (v.type() == VarType::Binary)
            appendBinary(out, v.rawString());
        else
            AppendQuotedText(out, v.toString());
        return;
    }
    if (isDateTimeType(columnType) || columnType == 133) {
        // A text that reads as a date arrives as that date; any other text
        // stays a quoted text, which the column refuses with a message
        // rather than taking a silent NULL.
        if (v.type() == VarType::String) {
            if (auto serial = date::parse(v.rawString())) {
                appendDate(out, *serial, columnType);
                return;
            }
        }
        appendByKind(out, v, columnType);
        return;
    }
    appendByKind(out, v, columnType);
}

std::string InsertHead(std::string_view table)
{
    std::string head = "insert into [";
    head += table;
    head += "] (";
    return head;
}

} // namespace qm::tofoxpro
