#include "columns.h"

#include <algorithm>

namespace qm::xbase {

using storage::ColumnType;

namespace {
constexpr int adBoolean = 11, adInteger = 3, adDouble = 5, adCurrency = 6, adNumeric = 131, adDBDate = 133,
              adDBTimeStamp = 135, adChar = 129, adVarChar = 200, adLongVarChar = 201, adBinary = 128,
              adVarBinary = 204, adLongVarBinary = 205;
constexpr std::int32_t kLongSize = 2147483647;
} // namespace

std::string nativeTypeText(const DbfField& f)
{
    const std::string t(1, f.type);
    switch (f.type) {
    case 'C':
    case 'V':
        return t + "(" + std::to_string(f.length) + ")" + (f.binary() ? " NOCPTRANS" : "");
    case 'Q':
        return t + "(" + std::to_string(f.length) + ")";
    case 'N':
    case 'F':
        return f.decimals ? t + "(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")"
                          : t + "(" + std::to_string(f.length) + ")";
    case 'M':
        return f.binary() ? "M NOCPTRANS" : "M";
    default:
        return t;
    }
}

storage::ColumnDef columnDefFor(const DbfField& f, TableFormat format)
{
    storage::ColumnDef c;
    c.name = f.name;
    c.nativeType = nativeTypeText(f);
    c.size = f.length;
    c.binary = f.binary() && (f.type == 'C' || f.type == 'V' || f.type == 'M');
    c.nullable = format == TableFormat::VisualFoxPro ? f.nullable() : true;
    c.autoIncrement = f.autoIncrement();
    switch (f.type) {
    case 'C':
        c.type = c.binary ? ColumnType::Binary : ColumnType::Char;
        c.adoType = c.binary ? adBinary : adChar;
        c.definedSize = f.length;
        break;
    case 'V':
        c.type = c.binary ? ColumnType::Binary : ColumnType::VarChar;
        c.adoType = c.binary ? adVarBinary : adVarChar;
        c.definedSize = f.length;
        break;
    case 'Q':
        c.type = ColumnType::Binary;
        c.adoType = adBinary;
        c.definedSize = f.length;
        break;
    case 'N':
    case 'F':
        c.type = f.type == 'N' ? ColumnType::Decimal : ColumnType::Float;
        c.adoType = adNumeric;
        c.definedSize = 19;
        c.precision = f.decimals > 0 ? f.length - 1 : f.length;
        c.scale = f.decimals;
        break;
    case 'I':
        c.type = ColumnType::Long;
        c.adoType = adInteger;
        c.definedSize = 4;
        c.precision = 10;
        break;
    case 'B':
        if (f.memoPointerIsText) { // dBase binary memo
            c.type = ColumnType::LongBinary;
            c.adoType = adLongVarBinary;
            c.definedSize = kLongSize;
            c.nativeType = "B";
            break;
        }
        c.type = ColumnType::Double;
        c.adoType = adDouble;
        c.definedSize = 8;
        c.precision = 15;
        c.scale = f.decimals;
        break;
    case 'Y':
        c.type = ColumnType::Currency;
        c.adoType = adCurrency;
        c.definedSize = 8;
        c.precision = 19;
        c.scale = 4;
        break;
    case 'D':
        c.type = ColumnType::Date;
        c.adoType = adDBDate;
        c.definedSize = 6;
        break;
    case 'T':
        c.type = ColumnType::DateTime;
        c.adoType = adDBTimeStamp;
        c.definedSize = 16;
        break;
    case 'L':
        c.type = ColumnType::Boolean;
        c.adoType = adBoolean;
        c.definedSize = 2;
        break;
    case 'M':
        c.type = ColumnType::Memo;
        c.adoType = c.binary ? adLongVarBinary : adLongVarChar;
        c.definedSize = kLongSize;
        break;
    case 'G':
    case 'P':
        c.type = ColumnType::LongBinary;
        c.adoType = adLongVarBinary;
        c.definedSize = kLongSize;
        break;
    case 'W':
        c.type = ColumnType::Blob;
        c.adoType = adLongVarBinary;
        c.definedSize = kLongSize;
        break;
    default:
        c.type = ColumnType::Unknown;
        break;
    }
    return c;
}

std::vector<storage::ColumnDef> columnDefsFor(const DbfTable& table)
{
    std::vector<storage::ColumnDef> out;
    out.reserve(table.fields().size());
    for (const auto& f : table.fields())
        out.push_back(columnDefFor(f, table.format()));
    return out;
}

namespace {

std::string shortName(const std::string& name, std::vector<std::string>& taken)
{
    std::string base;
    for (unsigned char c : name) {
        if (std::isalnum(c) && c < 0x80)
            base.push_back(static_cast<char>(std::toupper(c)));
        else if (c < 0x80 || (c & 0xC0) == 0xC0) // one underscore per character, not per byte
            base.push_back('_');
    }
    if (base.empty() || std::isdigit(static_cast<unsigned char>(base[0])))
        base.insert(base.begin(), '_');
    if (base.size() > 10)
        base.resize(10);
    auto isTaken = [&](const std::string& n) { return std::find(taken.begin(), taken.end(), n) != taken.end(); };
    std::string candidate = base;
    for (int k = 1; isTaken(candidate); ++k) {
        std::string suffix = std::to_string(k);
        candidate = base.substr(0, std::min(base.size(), 10 - suffix.size())) + suffix;
    }
    taken.push_back(candidate);
    return candidate;
}

} // namespace

FieldSpec fieldSpecFor(const storage::ColumnSpec& col, TableFormat format, std::vector<std::string>& taken)
{
    FieldSpec f;
    f.name = shortName(col.name, taken);
    const bool vfp = format == TableFormat::VisualFoxPro;
    f.nullable = vfp && col.nullable && !col.autoIncrement;
    f.binary = vfp && col.binary;
    auto text = [&](char vfpType) {
        int n = col.size > 0 ? col.size : 254;
        if (!vfp && n == 255)
            n = 254;
        if (n > 254) {
            f.type = 'M';
        } else {
            f.type = vfp ? vfpType : 'C';
            f.length = n;
        }
    };
    auto numeric = [&](char type, int width, int decimals) {
        f.type = type;
        f.length = std::clamp(width, 1, 20);
        f.decimals = std::clamp(decimals, 0, std::max(0, f.length - 2));
    };
    switch (col.type) {
    case ColumnType::Boolean: f.type = 'L'; break;
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
        if (vfp) {
            f.type = 'I';
            f.autoIncrement = col.autoIncrement;
        } else {
            numeric('N', col.type == ColumnType::Byte ? 3 : (col.type == ColumnType::Integer ? 6 : 11), 0);
        }
        break;
    case ColumnType::BigInt: numeric('N', 20, 0); break;
    case ColumnType::Single:
    case ColumnType::Double:
        if (vfp)
            f.type = 'B';
        else
            numeric('N', 20, 5);
        break;
    case ColumnType::Currency:
        if (vfp)
            f.type = 'Y';
        else
            numeric('N', 20, 4);
        break;
    case ColumnType::Decimal:
    case ColumnType::Float: {
        int p = col.precision > 0 ? col.precision : 18;
        int s = std::max(0, col.scale);
        // Room for the sign and, with decimals, the point.
        numeric(col.type == ColumnType::Float && format != TableFormat::DBase3 ? 'F' : 'N', p + (s > 0 ? 1 : 0) + 1, s);
        break;
    }
    case ColumnType::DateTime:
    case ColumnType::DateTimeExt: f.type = vfp ? 'T' : 'D'; break;
    case ColumnType::Date: f.type = 'D'; break;
    case ColumnType::Char: text('C'); break;
    case ColumnType::VarChar: text('V'); break;
    case ColumnType::Memo: f.type = 'M'; break;
    case ColumnType::Binary:
        if (vfp) {
            int n = col.size > 0 ? col.size : 254;
            if (n > 254) {
                f.type = 'W';
            } else {
                f.type = 'Q';
                f.length = n;
            }
        } else {
            f.type = 'M';
        }
        break;
    case ColumnType::LongBinary: f.type = vfp ? 'G' : 'M'; break;
    case ColumnType::Blob: f.type = vfp ? 'W' : 'M'; break;
    case ColumnType::Guid:
        f.type = 'C';
        f.length = 38;
        break;
    case ColumnType::Complex:
    case ColumnType::Unknown:
        throw Error("The column " + col.name + " has a type that a FoxPro or dBase table cannot store.");
    }
    return f;
}

} // namespace qm::xbase
