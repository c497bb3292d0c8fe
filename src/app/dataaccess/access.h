// Module Access: everything that knows how to reach the Access database.
//
// The connection string (connectionstrings.h), the catalog listing that
// fills the main window's Access list, the table-existence test, renaming
// tables and saved queries, storing a saved query and reading one's SQL.
// Everything goes through the data-access facade (ado/ado.h).
//
// Only NonSystemTables reports its own failures; every other procedure
// throws, and the event procedure that called it reports the failure.
#pragma once

#include "dataaccess/connectionstrings.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace qm::dataaccess {

class ObjectList;

// The names of the database's tables and saved queries, and beside them
// their kinds ("TABLE" or "VIEW"), in the order the catalog gives them.
struct CatalogRows {
    QStringList names;
    QStringList kinds;
};

// Nothing when no file exists at path.  The database opened is always the
// connection window's (Text3 with the password of Text4); path serves the
// existence test only.  A database that can't be opened or read is
// reported once (Access.NonSystemTables) and gives the rows gathered so
// far, none when the open failed.
std::optional<CatalogRows> NonSystemTables(const QString& path);

// Fills the list with the rows of NonSystemTables, each with its kind, and
// makes the first row current.  A missing file: "Unable to access the
// database." and the list stays as it was.
void FillAccessList(ObjectList& list, const QString& path);

// True when the database has a table (not a query) of that name, letter
// case ignored.  False when the file does not exist.
bool AccessTableExists(const QString& path, const QString& password, const QString& name);

// Renames a table in place through the catalog, so it keeps its keys,
// indexes, AutoNumber seed, defaults, descriptions and relationships.
// When another table already has the new name the user is asked "Would you
// like to overwrite <new>?"; Yes drops that table first, No leaves all as it
// was.  True when the table now has the new name; false when the user
// declined, or when the new name is the old one exactly (nothing to do).
// A new name differing only in letter case renames in place without asking.
bool RenameAccessTable(const QString& oldName, const QString& newName, const QString& path,
                       const QString& password);

// Renames a saved query (any catalog object) through the catalog.  Always
// works on the connection window's database: path and password are not used.
void RenameAccessObject(const QString& oldName, const QString& newName, const QString& path,
                        const QString& password);

// Stores a saved query in the connection window's database, opened with
// the window's password.
void CreateAccessQuery(const QString& name, const QString& sql);

// The stored SQL of a saved query of the connection window's database,
// without leading and trailing spaces.
QString AccessQuerySQL(const QString& name);

// A table, query or view name as a statement of either side names it: between
// backquotes, or between brackets when the name itself holds a backquote.
// Throws qm::Error naming the name when neither can enclose it.
QString QuotedName(const QString& name);

} // namespace qm::dataaccess
