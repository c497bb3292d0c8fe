// JSON Lines output of table rows for `quillmere-cli export`.
#pragma once

#include "storage/storage.h"

#include <string>

namespace qm::cli {

enum class Engine { Access, XBase };

// Appends the JSON form of one value of the given column to out.
void appendJsonValue(std::string& out, const storage::ColumnDef& column, const Value& value, Engine engine);

// Appends a multi-value column's entries as a JSON array of values, an
// attachment column's as an array of {"name", "type", "data" (hex)} objects.
void appendJsonComplex(std::string& out, const storage::ColumnDef& column,
                       const std::vector<storage::ComplexItem>& items, Engine engine);

// Appends s as a JSON string literal (quotes included).
void appendJsonString(std::string& out, std::string_view s);

} // namespace qm::cli
