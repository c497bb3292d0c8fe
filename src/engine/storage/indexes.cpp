// Keys and indexes through the seam: the defaults for engines without
// indexes, and the carrying of a table's keys from one database to another.
#include "storage/storage.h"

namespace qm::storage {

std::vector<IndexSpec> Database::indexes(std::string_view) { return {}; }

void Database::createIndex(std::string_view table, const IndexSpec& index) {
    throw Error(path() + ": table " + std::string(table) + ": cannot create the index " + index.name +
                ": this database does not keep indexes");
}

void Database::dropIndex(std::string_view table, std::string_view name) {
    throw Error(path() + ": table " + std::string(table) + ": there is no index " + std::string(name));
}

std::vector<IndexRefusal> carryIndexes(Database& from, std::string_view fromTable, Database& to,
                                       std::string_view toTable,
                                       std::span<const std::pair<std::string, std::string>> columnNames) {
    std::vector<IndexRefusal> refused;
    const std::vector<ColumnDef> arrived = to.columns(toTable);
    std::vector<IndexSpec> keys;
    try {
        keys = from.indexes(fromTable);
    } catch (const Error& e) {
        refused.push_back({"", std::string("the keys of ") + std::string(fromTable) + " could not be read: " + e.what()});
        return refused;
    }
    for (IndexSpec index : keys) {
        if (index.columns.empty()) {
            refused.push_back({index.name, "its key is the expression " + index.expression +
                                               ", not a list of columns; only keys on plain columns are carried"});
            continue;
        }
        std::string missing;
        for (std::string& c : index.columns) {
            for (const auto& [source, target] : columnNames)
                if (namesEqual(source, c)) {
                    c = target;
                    break;
                }
            bool found = false;
            for (const ColumnDef& d : arrived)
                if (namesEqual(d.name, c)) {
                    c = d.name;
                    found = true;
                }
            if (!found) missing = c;
        }
        if (!missing.empty()) {
            refused.push_back({index.name, "its column " + missing + " is not in the table " + std::string(toTable)});
            continue;
        }
        try {
            to.createIndex(toTable, index);
        } catch (const Error& e) {
            refused.push_back({index.name, e.what()});
        }
    }
    return refused;
}

std::string xbaseKeyPart(std::string_view field, char type, bool severalFields) {
    const std::string f(field);
    switch (type) {
    case 'C': return f;
    case 'T': return "TTOC(" + f + ",1)";
    case 'M': case 'G': case 'W': return {};
    case 'I': return severalFields ? "BINTOC(" + f + ")" : f;
    case 'D': return severalFields ? "DTOS(" + f + ")" : f;
    default: return severalFields ? std::string() : f;
    }
}

} // namespace qm::storage
