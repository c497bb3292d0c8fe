// Helpers of the writer's tests: reading files back with mdbtools and with
// our own reader, and building tables quickly.
#pragma once

#include "storage/open.h"
#include "storage/storage.h"
#include "test_support.h"
#include "value/value.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qm::jetw::test {

using Rows = std::vector<std::vector<std::string>>;

// mdb-export of a table: one vector of cell texts per row (header dropped).
// Binary cells in hex, dates as "YYYY-MM-DD HH:MM:SS", NULL as "".
Rows mdbExport(const std::filesystem::path& db, const std::string& table);
// Names mdb-tables lists (user tables only unless `system`).
std::vector<std::string> mdbTables(const std::filesystem::path& db, bool system = false);

// Every row through our reader, each value as text (Null -> "<null>").
Rows readerRows(storage::Database& db, const std::string& table);
Rows readerRows(const std::filesystem::path& db, const std::string& table);

// A fresh database of the given kind in `dir`.
std::filesystem::path newDatabase(const qm::test::TempDir& dir, const std::string& name);

// A copy of a fixture in `dir`, under the same name, that the writer may change.
std::filesystem::path writableCopy(const qm::test::TempDir& dir, const std::filesystem::path& source);

// Our database opened for writing.
std::unique_ptr<storage::Database> openWritable(const std::filesystem::path& db, const std::string& password = {});

// Runs `op` in a child process that ends itself at its n-th write (as a
// crash there would).  Returns true when the child finished the operation
// without reaching that write.
bool runStoppingAtWrite(long n, const std::function<void()>& op);

// A column spec, briefly.
storage::ColumnSpec col(const std::string& name, storage::ColumnType type, int size = 0, bool autoNumber = false);

using qm::test::hex;

// A fixture's file name as a test name: its stem with every character that
// is not a letter or digit turned into '_'.
std::string testNameOf(const std::filesystem::path& fixture);

} // namespace qm::jetw::test
