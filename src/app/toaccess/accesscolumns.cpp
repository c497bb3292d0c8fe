#include "toaccess/accesscolumns.h"

namespace qm::toaccess {

namespace {

// Access keeps at most 28 digits in a Decimal column.
constexpr int kMaxDecimalDigits = 28;
// Every value of up to 9 digits fits a Long Integer.
constexpr int kMaxLongDigits = 9;
// Binary(n) holds up to 255 bytes; longer values need an OLE Object column.
constexpr int kMaxBinaryBytes = 255;

QString decimal(int precision, int scale)
{
    return QStringLiteral("DECIMAL(%1,%2)").arg(precision).arg(scale);
}

// A number with a known count of digits and decimals.
QString exactNumber(int precision, int scale)
{
    if (precision <= 0 || precision > kMaxDecimalDigits || scale > precision)
        return QStringLiteral("FLOAT"); // no Decimal holds it: the nearest is a Double
    if (scale == 0 && precision <= kMaxLongDigits)
        return QStringLiteral("LONG");
    return decimal(precision, scale);
}

QString binary(std::int32_t size)
{
    if (size >= 1 && size <= kMaxBinaryBytes)
        return QStringLiteral("BINARY(%1)").arg(size);
    return QStringLiteral("LONGBINARY");
}

} // namespace

QString AccessColumnType(const SourceField& field)
{
    const ado::FieldInfo& f = field.info;
    switch (f.type) {
    // Text of every kind becomes a Memo, whatever its width.
    case ado::adChar:
    case ado::adWChar:
    case ado::adVarChar:
    case ado::adVarWChar:
    case ado::adLongVarChar:
    case ado::adLongVarWChar:
        return QStringLiteral("MEMO");
    case ado::adBoolean:
        return QStringLiteral("BIT");
    case ado::adTinyInt: // -128..127: Byte holds no negative values
    case ado::adSmallInt:
        return QStringLiteral("SMALLINT");
    case ado::adUnsignedTinyInt:
        return QStringLiteral("BYTE");
    case ado::adUnsignedSmallInt:
    case ado::adInteger:
        return QStringLiteral("LONG");
    case ado::adUnsignedInt:
        return decimal(10, 0);
    case ado::adBigInt:
        return decimal(19, 0);
    case ado::adUnsignedBigInt:
        return decimal(20, 0);
    case ado::adSingle:
        return QStringLiteral("REAL");
    case ado::adDouble:
        return QStringLiteral("FLOAT");
    case ado::adCurrency:
        return QStringLiteral("CURRENCY");
    case ado::adNumeric:
    case ado::adVarNumeric:
        if (field.floatField)
            return QStringLiteral("FLOAT");
        return exactNumber(f.precision, f.scale);
    case ado::adDecimal:
        return exactNumber(f.precision, f.scale);
    case ado::adDate:
    case ado::adDBDate:
    case ado::adDBTimeStamp:
        return QStringLiteral("DATETIME");
    case ado::adBinary:
    case ado::adVarBinary:
        return binary(f.definedSize);
    case ado::adLongVarBinary:
        return QStringLiteral("LONGBINARY");
    default:
        return QStringLiteral("VARCHAR");
    }
}

void MakeFieldNamesUnique(std::vector<SourceField>& fields)
{
    auto taken = [&](const std::string& name, std::size_t before) {
        for (std::size_t i = 0; i < before; ++i)
            if (storage::namesEqual(fields[i].info.name, name))
                return true;
        return false;
    };
    for (std::size_t f = 1; f < fields.size(); ++f) {
        const std::string base = fields[f].info.name;
        for (int k = 2; taken(fields[f].info.name, f); ++k)
            fields[f].info.name = base + "_" + std::to_string(k);
    }
}

QString CreateTableOpening(const QString& name)
{
    return QStringLiteral("CREATE TABLE `") + name + QStringLiteral("`(");
}

QString ColumnDefinition(const SourceField& field)
{
    return QLatin1Char('`') + QString::fromStdString(field.info.name) + QStringLiteral("` ")
        + AccessColumnType(field) + QLatin1Char(',');
}

QString CloseCreateTable(QString statement)
{
    statement.chop(1);
    return statement + QStringLiteral(");");
}

ColumnRenames RenamedColumns(const std::vector<std::string>& before, const std::vector<SourceField>& after)
{
    ColumnRenames out;
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
        if (before[i] == after[i].info.name)
            continue;
        // A key names a field the source has twice by the first of them,
        // which kept its name: only a name the source holds once follows
        // its field.
        bool kept = false;
        for (std::size_t j = 0; j < before.size() && !kept; ++j)
            kept = j != i && storage::namesEqual(before[j], before[i]);
        if (!kept)
            out.emplace_back(before[i], after[i].info.name);
    }
    return out;
}

} // namespace qm::toaccess
