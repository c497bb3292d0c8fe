// New Access databases, and the writable storage::Database of the engine.
//
// A new database holds what the Jet engine itself puts into a database it
// creates: the header page, the page usage map (page 1), the four system
// tables MSysObjects (page 2), MSysACEs, MSysQueries and MSysRelationships
// with their indexes, the Tables / Databases / Relationships containers and
// the containers Access files its forms, reports, macros, modules and pages
// under, the MSysDb object with the AccessVersion property, and the
// permission rows of all of them (the default workgroup's security ids).
// An .accdb also gets MSysComplexColumns and the nine MSysComplexType_*
// templates that attachment and multi-value fields are built from.
// Access adds its own objects (MSysAccessObjects, MSysAccessStorage,
// SummaryInfo, navigation pane tables) the first time it opens the file.
//
// Writing through the storage::Database made here refuses rows for every
// table the catalog marks as a system table, whatever its definition says.
//
// The file is built under a temporary name in the same folder and renamed
// into place once complete, so a crash leaves no half-made database.
#pragma once

#include "storage/open.h"
#include "storage/storage.h"
#include "write_database.h"

#include <memory>
#include <string>

namespace qm::jet {

// Opens an existing Jet 4 / ACE database for reading and writing (the
// reader serves the reading side; writes go through a JetWriter).
std::unique_ptr<storage::Database> openForWriting(const std::string& path, const storage::OpenOptions& options);

// Reads like the reader's database and takes the write lock only at the
// first change (then reading goes through the writer as well).  Meant for
// openDatabase() when the caller did not ask for read-only.
std::unique_ptr<storage::Database> openReadWrite(const std::string& path, const storage::OpenOptions& options);

// When a writer died and left its rollback journal beside the database,
// puts the original pages back (taking the write lock to do so).  Throws
// qm::Error naming the file when that is not possible (read-only file,
// another writer at work).  Does nothing when there is no journal.
void recoverLeftoverJournal(const std::string& path);

// storage::ColumnSpec -> the writer's column request (Access types).
ColumnRequest columnRequestFor(const storage::ColumnSpec& spec, const std::string& table);

} // namespace qm::jet
