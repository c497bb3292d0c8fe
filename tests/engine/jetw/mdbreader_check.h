// Reading our Access files back with the npm package mdb-reader, a second
// reader written independently of ours and of mdbtools.  The node script
// mdbreader_dump.mjs prints what mdb-reader sees as JSON; these helpers run
// it and turn the answer into plain structures and texts.
#pragma once

#include "jetw_checks.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qm::jetw::test {

struct MdbReaderColumn {
    std::string name;
    std::string type; // mdb-reader's name: "text", "long", "numeric", ...
    int size = 0;     // bytes (a Text(50) column is 100)
    std::optional<int> precision, scale;
    bool nullable = true;
    bool autoLong = false;
    bool autoUUID = false;
};

struct MdbReaderTable {
    std::uint64_t rowCount = 0;
    std::vector<MdbReaderColumn> columns;
    Rows rows; // texts as the script prints them; Null as "<null>", like readerRows
};

struct MdbReaderDump {
    std::vector<std::string> tables;       // user tables
    std::vector<std::string> systemTables; // MSys* tables
    std::vector<std::string> queries;      // saved queries (MSysObjects type 5)
    std::map<std::string, MdbReaderTable> data;
};

// Why mdb-reader cannot be used here, or empty when it can.
std::string mdbReaderMissing();

// What mdb-reader reads from `db`: the object lists, and the columns and rows
// of `tables` (every user table when empty).  Adds a test failure and returns
// what it has when the script fails.
MdbReaderDump mdbReaderDump(const std::filesystem::path& db, const std::vector<std::string>& tables = {},
                            const std::string& password = {});

// Our column type for mdb-reader's type name (Unknown when there is none).
storage::ColumnType mdbReaderType(const std::string& name);

// The text mdb-reader gives for a value stored in a column of the given
// type; `scale` is the Decimal column's scale.  Single and Double come out
// in one canonical form that normalizeMdbReaderRows also gives.
std::string mdbReaderText(const Value& v, storage::ColumnType type, int scale = 0);

// Puts the floating-point cells of rows from the dump into that same form.
void normalizeMdbReaderRows(MdbReaderTable& table);

// Every row of `table` through our reader, in mdb-reader's text forms.
Rows readerRowsAsMdbReader(const std::filesystem::path& db, const std::string& table,
                           const std::string& password = {});

} // namespace qm::jetw::test

// Skips the test, with a plain message, when node or mdb-reader is missing.
#define QM_REQUIRE_MDB_READER()                                                     \
    do {                                                                            \
        const std::string why_ = ::qm::jetw::test::mdbReaderMissing();              \
        if (!why_.empty()) GTEST_SKIP() << why_;                                    \
    } while (0)
