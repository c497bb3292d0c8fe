#include "ado/ado.h"

namespace qm::ado {

Value AdoTypeName(const std::int16_t& code)
{
    static const struct {
        std::int16_t code;
        const char* name;
    } kNames[] = {
        {0, "adEmpty"}, {2, "adSmallInt"}, {3, "adInteger"}, {4, "adSingle"}, {5, "adDouble"},
        {6, "adCurrency"}, {7, "adDate"}, {8, "adBSTR"}, {9, "adIDispatch"}, {10, "adError"},
        {11, "adBoolean"}, {12, "adVariant"}, {13, "adIUnknown"}, {14, "adDecimal"}, {16, "adTinyInt"},
        {17, "adUnsignedTinyInt"}, {18, "adUnsignedSmallInt"}, {19, "adUnsignedInt"}, {20, "adBigInt"},
        {21, "adUnsignedBigInt"}, {64, "adFileTime"}, {72, "adGUID"}, {128, "adBinary"}, {129, "adChar"},
        {130, "adWChar"}, {131, "adNumeric"}, {132, "adUserDefined"}, {133, "adDBDate"}, {134, "adDBTime"},
        {135, "adDBTimeStamp"}, {136, "adChapter"}, {138, "adPropVariant"}, {139, "adVarNumeric"},
        {200, "adVarChar"}, {201, "adLongVarChar"}, {202, "adVarWChar"}, {203, "adLongVarWChar"},
        {204, "adVarBinary"}, {205, "adLongVarBinary"},
    };
    for (const auto& entry : kNames)
        if (entry.code == code)
            return Value::string(entry.name);
    return Value();
}

} // namespace qm::ado
