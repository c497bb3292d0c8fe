#include "column_types.h"

#include "complex_column.h"

namespace qm::jet {

using storage::ColumnType;

storage::ColumnDef describeColumn(const ColumnInfo& stored, bool jet3) {
    // A calculated column is described by the type of its result.
    ColumnInfo c = stored;
    if (stored.calculated() && stored.resultType != 0) {
        c.type = stored.resultType;
        c.flags = 0x02;
        if (c.type == kText) c.length = 510;
        if (c.type == kNumeric) c.precision = 28; // the scale travels with each value
    }
    storage::ColumnDef d;
    d.name = c.name;
    d.autoIncrement = (c.flags & (kColAutoNumber | kColGuidAutoNumber)) != 0 && c.type != kComplex;
    auto set = [&](ColumnType t, int ado, std::int32_t size, std::string native) {
        d.type = t;
        d.adoType = ado;
        d.definedSize = size;
        d.nativeType = std::move(native);
    };
    switch (c.type) {
    case kBoolean:
        set(ColumnType::Boolean, 11, 2, "Yes/No");
        d.nullable = false;
        break;
    case kByte: set(ColumnType::Byte, 17, 1, "Byte"); break;
    case kInteger: set(ColumnType::Integer, 2, 2, "Integer"); break;
    case kLong: set(ColumnType::Long, 3, 4, d.autoIncrement ? "AutoNumber" : "Long Integer"); break;
    case kCurrency: set(ColumnType::Currency, 6, 8, "Currency"); break;
    case kSingle: set(ColumnType::Single, 4, 4, "Single"); break;
    case kDouble: set(ColumnType::Double, 5, 8, "Double"); break;
    case kDateTime: set(ColumnType::DateTime, 7, 8, "Date/Time"); break;
    case kBinary:
        set(ColumnType::Binary, 204, c.length, "Binary(" + std::to_string(c.length) + ")");
        d.size = c.length;
        break;
    case kText: {
        const int chars = jet3 ? c.length : c.length / 2;
        if (c.fixed())
            set(ColumnType::Char, 130, chars, "Text(" + std::to_string(chars) + ")");
        else
            set(ColumnType::VarChar, 202, chars, "Text(" + std::to_string(chars) + ")");
        d.size = chars;
        break;
    }
    case kOle: set(ColumnType::LongBinary, 205, 1073741823, "OLE Object"); break;
    case kMemo:
        set(ColumnType::Memo, 203, 536870910, (c.flags & kColHyperlink) ? "Hyperlink" : "Memo");
        break;
    case kGuid:
        set(ColumnType::Guid, 72, 16, "Replication ID");
        break;
    case kNumeric:
        set(ColumnType::Decimal, 131, 19,
            "Decimal(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")");
        d.precision = c.precision;
        d.scale = c.scale;
        break;
    case kComplex:
        // Read through the hidden table, the value is a text (see
        // complex_column.h); the entries themselves come from the cursor.
        d.complex = complexKindOf(c);
        if (d.complex != storage::ComplexKind::None)
            set(ColumnType::Memo, 203, 536870910, c.complexKind);
        else
            set(ColumnType::Complex, 9, 4, c.complexKind.empty() ? "Attachment or multi-value" : c.complexKind);
        break;
    case kBigInt: set(ColumnType::BigInt, 20, 8, "Large Number"); break;
    case kExtDateTime: set(ColumnType::DateTimeExt, 202, 42, "Date/Time Extended"); break;
    default:
        set(ColumnType::Unknown, 204, c.length, "Unknown type " + std::to_string(c.type));
        d.size = c.length;
        break;
    }
    if (c.calculated()) d.nativeType = "Calculated (" + d.nativeType + ")";
    return d;
}

} // namespace qm::jet
