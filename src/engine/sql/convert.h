// Turning a value into what a column stores, the way the two engines do on
// INSERT and UPDATE: text into a number column is read as a number, a date
// text into a date column as a date; what cannot be converted, or does not
// fit, is refused with a message that names the column and the value.
#pragma once

#include "storage/storage.h"
#include "value/value.h"

#include <string_view>

namespace qm::sql {

// Empty stays Empty ("not given"); Null stays Null unless the column
// refuses it.  Throws qm::Error.
Value convertForColumn(Value v, const storage::ColumnDef& column, std::string_view table);

// The engine-neutral column (ADO type code and DefinedSize included) that a
// computed value of this kind gets, as the dialect's provider reports it.
storage::ColumnDef columnForValueKind(VarType kind, bool foxPro, int textSize = 255);

// ADO type code and DefinedSize a provider reports for a column of this
// type and size; used for columns the engines did not fill in.
void fillAdoType(storage::ColumnDef& c, bool foxPro);

} // namespace qm::sql
