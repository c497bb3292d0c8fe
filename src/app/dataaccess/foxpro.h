// Module Foxpro: reaching the Visual FoxPro data the connection window
// names, a database container (.dbc, option "DBC File:") or a folder of
// free tables (option "Free Table Folder:").
//
// FoxProConnectionString is in connectionstrings.h.  None of these
// procedures reports failures itself: they reach the calling procedure.
#pragma once

#include "dataaccess/connectionstrings.h"

#include <QString>

namespace qm::dataaccess {

class ObjectList;

// True when a connection with FoxProConnectionString() opens; shows
// nothing.  why, when given, receives the provider's reason on failure.
bool TestFoxProConnection(QString* why = nullptr);

// Fills the list with the FoxPro tables and, for a container, its views,
// each with its kind.  A free-table folder is walked with all its
// sub-folders; every .dbf found is listed by its file name without the
// extension, except the "~" work files.  No row is made current.  The
// connection is opened before the list is cleared, so a source that won't
// open leaves the list as it was.
void FillFoxProList(ObjectList& list, const QString& connectionString);

// The SQL text that defines a view of the database container.
QString FoxProViewSQL(const QString& viewName);

} // namespace qm::dataaccess
