#include "sql/type_mapping.h"

#include <algorithm>

namespace qm::sql {

using storage::ColumnSpec;
using storage::ColumnType;

namespace {

ColumnSpec make(ColumnType t, int size = 0, int precision = 0, int scale = 0, bool binary = false) {
    ColumnSpec s;
    s.type = t;
    s.size = size;
    s.precision = precision;
    s.scale = scale;
    s.binary = binary;
    return s;
}

// An xBase N(w,d) column: the engines count digits in precision, and the
// width adds the sign and, with decimals, the point.
ColumnSpec numeric(int width, int decimals) {
    return make(ColumnType::Decimal, width, std::max(1, width - (decimals > 0 ? 1 : 0) - 1), decimals);
}

bool isText(int code) { return code == 129 || code == 130 || code == 200 || code == 202 || code == 8; }

ColumnSpec forFoxPro(int code, std::int32_t n, int p, int s) {
    if (isText(code)) return (n >= 1 && n <= 254) ? make(ColumnType::Char, n) : make(ColumnType::Memo);
    switch (code) {
    case 201: case 203: return make(ColumnType::Memo);
    case 11: return make(ColumnType::Boolean);
    case 16: case 17: case 2: case 18: case 3: return make(ColumnType::Long);
    case 19: return numeric(10, 0);
    case 20: case 21: return numeric(20, 0);
    case 4: case 5: return make(ColumnType::Double);
    case 6: return make(ColumnType::Currency);
    case 14: case 131: case 139: {
        if (p <= 0) return make(ColumnType::Double); // digits unknown: keep the magnitude and the fraction
        s = std::clamp(s, 0, 18);
        const int width = p + (s > 0 ? 1 : 0) + 1; // sign and point
        if (width <= 20) return numeric(width, s);
        return numeric(20, std::min(s, 18));
    }
    case 7: case 134: case 135: case 64: return make(ColumnType::DateTime);
    case 133: return make(ColumnType::Date);
    case 72: return make(ColumnType::Char, 38);
    case 128: case 204: return (n >= 1 && n <= 254) ? make(ColumnType::Binary, n) : make(ColumnType::Memo, 0, 0, 0, true);
    case 205: return make(ColumnType::Memo, 0, 0, 0, true);
    default: return make(ColumnType::Memo);
    }
}

ColumnSpec forDBase(int code, std::int32_t n, int p, int s) {
    if (isText(code)) return (n >= 1 && n <= 254) ? make(ColumnType::Char, n) : make(ColumnType::Memo);
    switch (code) {
    case 201: case 203: return make(ColumnType::Memo);
    case 11: return make(ColumnType::Boolean);
    case 16: return numeric(4, 0);
    case 17: return numeric(3, 0);
    case 2: return numeric(6, 0);
    case 18: return numeric(5, 0);
    case 3: return numeric(11, 0);
    case 19: return numeric(10, 0);
    case 20: case 21: return numeric(20, 0);
    case 4: case 5: return numeric(20, 5);
    case 6: return numeric(20, 4);
    case 14: case 131: case 139: {
        if (p <= 0) return numeric(20, 5);
        s = std::clamp(s, 0, 15);
        return numeric(std::min(p + 2, 20), s);
    }
    case 7: case 133: case 134: case 135: case 64: return make(ColumnType::Date);
    case 72: return make(ColumnType::Char, 38);
    case 128: case 204: case 205: return make(ColumnType::Memo, 0, 0, 0, true);
    default: return make(ColumnType::Memo);
    }
}

ColumnSpec forAccess(int code, std::int32_t n, int p, int s) {
    if (isText(code)) return (n >= 1 && n <= 255) ? make(ColumnType::VarChar, n) : make(ColumnType::Memo);
    switch (code) {
    case 201: case 203: return make(ColumnType::Memo);
    case 11: return make(ColumnType::Boolean);
    case 16: case 2: return make(ColumnType::Integer);
    case 17: return make(ColumnType::Byte);
    case 18: case 3: return make(ColumnType::Long);
    case 19: return make(ColumnType::Decimal, 0, 10, 0);
    case 20: return make(ColumnType::Decimal, 0, 19, 0);
    case 21: return make(ColumnType::Decimal, 0, 20, 0);
    case 4: return make(ColumnType::Single);
    case 5: return make(ColumnType::Double);
    case 6: return make(ColumnType::Currency);
    case 14: case 131: case 139:
        if (p <= 0) return make(ColumnType::Double);
        p = std::min(p, 28);
        return make(ColumnType::Decimal, 0, p, std::clamp(s, 0, p));
    case 7: case 133: case 134: case 135: case 64: return make(ColumnType::DateTime);
    case 72: return make(ColumnType::Guid);
    case 128: case 204: return (n >= 1 && n <= 255) ? make(ColumnType::Binary, n) : make(ColumnType::LongBinary);
    case 205: return make(ColumnType::LongBinary);
    default: return make(ColumnType::Memo);
    }
}

} // namespace

ColumnSpec columnForAdoType(std::string name, int adoType, std::int32_t definedSize, int precision, int scale,
                            Destination destination) {
    ColumnSpec spec;
    switch (destination) {
    case Destination::FoxPro: spec = forFoxPro(adoType, definedSize, precision, scale); break;
    case Destination::DBase: spec = forDBase(adoType, definedSize, precision, scale); break;
    case Destination::Access: spec = forAccess(adoType, definedSize, precision, scale); break;
    }
    spec.name = std::move(name);
    spec.nullable = true;
    return spec;
}

} // namespace qm::sql
