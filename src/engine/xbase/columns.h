// How xBase fields look to the layers above (ColumnDef with the ADO type
// code and DefinedSize the FoxPro provider reports), and which field a
// requested column becomes when a table is created.
#pragma once

#include "dbf_table.h"
#include "storage/storage.h"

#include <string>
#include <vector>

namespace qm::xbase {

storage::ColumnDef columnDefFor(const DbfField& field, TableFormat format);
std::vector<storage::ColumnDef> columnDefsFor(const DbfTable& table);

// The native type text: "C(30)", "N(10,2)", "N(5)", "I", "M", "V(20) NOCPTRANS".
std::string nativeTypeText(const DbfField& field);

// The field a requested column becomes in a table of the given format.
// The field name is the column name made into a valid xBase name
// (letters, digits, underscore; at most 10 characters, unique in `taken`,
// which receives it).  Throws qm::Error naming the column when its type
// cannot be stored.
FieldSpec fieldSpecFor(const storage::ColumnSpec& column, TableFormat format, std::vector<std::string>& taken);

} // namespace qm::xbase
