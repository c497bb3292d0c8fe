// Opening a database by its path: the extension (or a folder) picks the engine.
#pragma once

#include "storage/storage.h"

namespace qm::storage {

enum class SourceKind { Access, FoxProContainer, FreeTableFolder, SingleFreeTable, Unknown };

// .mdb/.accdb -> Access; .dbc -> container; a folder -> free tables;
// .dbf -> a folder holding just that table.  Extensions match ignoring case.
SourceKind classifyPath(const std::string& path);

// Throws qm::Error naming the file when it cannot be opened.
std::unique_ptr<Database> openDatabase(const std::string& path, const OpenOptions& options = {});

} // namespace qm::storage

// Entry points each engine provides (declared here so the dispatcher does not
// need the engines' own headers).
namespace qm::jet {
std::unique_ptr<storage::Database> openDatabase(const std::string& path, const storage::OpenOptions& options);
enum class NewFileFormat { Jet4Mdb, Ace12Accdb };
// A non-empty password protects the new file: a Jet 4 database password, or
// for an .accdb the whole file encrypted (agile AES) under it.
std::unique_ptr<storage::Database> createDatabase(const std::string& path, NewFileFormat format,
                                                  const std::string& password = {});
} // namespace qm::jet

namespace qm::xbase {
std::unique_ptr<storage::Database> openContainer(const std::string& dbcPath, const storage::OpenOptions& options);
// A folder of free tables, walked with its sub-folders; a table is named by
// its file name without the extension.
std::unique_ptr<storage::Database> openFolder(const std::string& folder, const storage::OpenOptions& options);
// Just one free table, as a folder holding only it.
std::unique_ptr<storage::Database> openSingleTable(const std::string& dbfPath, const storage::OpenOptions& options);
} // namespace qm::xbase
