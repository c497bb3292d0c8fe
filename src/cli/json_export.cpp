#include "json_export.h"

#include <cmath>

namespace qm::cli {

namespace {

const char kHex[] = "0123456789abcdef";

void appendHex(std::string& out, std::string_view bytes)
{
    out += '"';
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    out += '"';
}

// Length of a well-formed UTF-8 sequence starting at s[i], or 0.
size_t utf8Sequence(std::string_view s, size_t i)
{
    unsigned char c = (unsigned char)s[i];
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k)
        if (((unsigned char)s[i + k] & 0xC0) != 0x80)
            return 0;
    return len;
}

} // namespace

void appendJsonString(std::string& out, std::string_view s)
{
    out += '"';
    for (size_t i = 0; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        if (c < 0x80) {
            switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 15];
                } else {
                    out += char(c);
                }
            }
            ++i;
            continue;
        }
        size_t len = utf8Sequence(s, i);
        if (len == 0) {
            out += "\\ufffd"; // a byte that is not UTF-8: never emit invalid JSON
            ++i;
        } else {
            out.append(s.data() + i, len);
            i += len;
        }
    }
    out += '"';
}

void appendJsonValue(std::string& out, const storage::ColumnDef& column, const Value& v, Engine engine)
{
    using storage::ColumnType;
    switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
        out += "null";
        return;
    case VarType::Boolean:
        out += v.rawInt() ? "true" : "false";
        return;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::BigInt:
        out += std::to_string(v.rawInt());
        return;
    case VarType::Single:
    case VarType::Double: {
        double d = v.rawDouble();
        if (!std::isfinite(d)) {
            out += "null";
            return;
        }
        out += v.type() == VarType::Single ? shortestSingle(float(d)) : shortestDouble(d);
        return;
    }
    case VarType::Currency:
        appendJsonString(out, currencyToString(v.rawInt()));
        return;
    case VarType::Decimal:
        if (engine == Engine::XBase)
            out += v.rawDecimal().toString(); // N: the stored digits, as a number
        else
            appendJsonString(out, v.rawDecimal().toTrimmedString());
        return;
    case VarType::Date:
        appendJsonString(out, date::toIso(v.rawDouble(), column.type == ColumnType::Date));
        return;
    case VarType::String: {
        std::string_view s = v.rawString();
        if (column.type == ColumnType::Char)
            while (!s.empty() && s.back() == ' ')
                s.remove_suffix(1);
        appendJsonString(out, s);
        return;
    }
    case VarType::Binary:
        appendHex(out, v.rawString());
        return;
    case VarType::Guid:
        appendJsonString(out, v.rawGuid().toString());
        return;
    }
    out += "null";
}

void appendJsonComplex(std::string& out, const storage::ColumnDef& column,
                       const std::vector<storage::ComplexItem>& items, Engine engine)
{
    out += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i)
            out += ',';
        const auto& item = items[i];
        if (column.complex != storage::ComplexKind::Attachment) {
            appendJsonValue(out, column, item.value, engine);
            continue;
        }
        out += "{\"name\":";
        appendJsonValue(out, column, item.value, engine);
        out += ",\"type\":";
        appendJsonString(out, item.fileType);
        out += ",\"data\":";
        appendHex(out, item.fileData);
        out += '}';
    }
    out += ']';
}

} // namespace qm::cli
