// The system catalog.
//
// MSysObjects (TDEF always on page 2): Id, ParentId, Name, Type, Flags,
// Database, Connect, ForeignName, ...  Objects of the "Tables" container
// (ParentId 0x0F000001) are tables and queries; a local table's Id is its
// TDEF page (low 24 bits).
//   Type  1 local table   4 ODBC-linked table   5 saved query   6 linked table
//   Flags 0x80000000 system object, 0x00000002 Access's own system table;
//         queries: (Flags & 0xF0) 0 select, 16 crosstab, 32 delete, 48 update,
//         64 append, 80 make-table, 96 data definition, 112 pass-through,
//         128 union
// MSysQueries: ObjectId, Attribute, Order, Name1, Name2, Expression, Flag
// (one row per part of a saved query; see query_sql.h).
#pragma once

#include "page_source.h"
#include "storage/storage.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::jet {

constexpr std::int32_t kTablesContainer = 0x0F000001;
constexpr std::uint32_t kObjectsTdefPage = 2;

struct CatalogObject {
    std::string name;
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    std::string database;    // linked tables
    std::string foreignName; // linked tables
    std::uint32_t tdefPage() const { return std::uint32_t(id) & 0x00FFFFFF; }
};

struct QueryRow {
    std::uint8_t attribute = 0;
    std::string order;    // 4 bytes, big-endian counter
    std::optional<std::string> name1, name2, expression;
    std::int32_t flag = 0;
};

// Every row of MSysObjects.
std::vector<CatalogObject> readObjects(PageSource& src);

// The property blob (LvProp) of the object with this Id, or "" when none.
std::string readObjectProperties(PageSource& src, std::int32_t id);

// The MSysQueries rows of one query, in stored order.
std::vector<QueryRow> readQueryRows(PageSource& src, std::uint32_t queriesTdefPage, std::int32_t objectId);

// The TABLE_TYPE the provider's table schema gives an object of the Tables
// container, and its kind; nullopt for objects the schema does not list.
storage::ObjectKind objectKind(const CatalogObject& o, bool hasParameters, std::string& tableType,
                               storage::QueryKind& queryKind);

} // namespace qm::jet
