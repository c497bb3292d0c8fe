// The Access column each FoxPro field becomes, and the CREATE TABLE
// statement built from a table's fields.
//
// Every column holds every value of its field: numbers keep their decimals,
// Yes/No stays Yes/No, bytes stay bytes (docs/type-mapping.md, "FoxPro
// tables sent to Access").
#pragma once

#include "ado/ado.h"

#include <QString>

#include <string>
#include <utility>
#include <vector>

namespace qm::toaccess {

// What is known of one source field beyond its ADO description: FoxPro's
// Float (F) arrives with the same ADO type as Numeric (N) but is a
// floating-point field.
struct SourceField {
    ado::FieldInfo info;
    bool floatField = false;
};

// An Access table cannot have two fields of one name (letter case
// ignored), which old dBase tables sometimes do: a later field of a name
// already taken becomes name_2 (name_3, ...).
void MakeFieldNamesUnique(std::vector<SourceField>& fields);

// Pairs of source and Access name for the fields whose name changed, for
// carrying keys over renamed columns.  A field renamed because the source
// holds its name twice is left out: a key on that name means the first
// field, which kept it.
using ColumnRenames = std::vector<std::pair<std::string, std::string>>;
ColumnRenames RenamedColumns(const std::vector<std::string>& before, const std::vector<SourceField>& after);

// The Access type text for a field: "MEMO", "DECIMAL(10,2)", "LONG", "BIT"...
QString AccessColumnType(const SourceField& field);

// "CREATE TABLE `" + name + "`(" — the opening every statement starts with,
// and what the customization window is handed.
QString CreateTableOpening(const QString& name);

// One definition per field: "`" + field + "` " + type + ",".
QString ColumnDefinition(const SourceField& field);

// Closes a statement that ends in the comma after its last column: the
// comma goes and ");" ends it.
QString CloseCreateTable(QString statement);

} // namespace qm::toaccess
