// The list procedures the transfers share, and the quiet file deletion of
// the free-table copy.
#pragma once

#include <QString>

namespace qm::dataaccess {
class ObjectList;
}

namespace qm::tofoxpro {

// True when some row, lower-cased, equals text lower-cased.
bool ListHasName(const dataaccess::ObjectList& list, const QString& text);
// As ListHasName, comparing only the first 8 characters of both.
bool ListHasName8(const dataaccess::ObjectList& list, const QString& text);
// Removes the rows equal to text (exact comparison).  The walk goes on at
// the next index after a removal, so the row that moved up into the removed
// one's place is not examined.
void RemoveListName(dataaccess::ObjectList& list, const QString& text);

// Lets pending window messages be processed, then deletes the file; every
// failure is ignored.
void DeleteFileQuietly(const QString& path);

// The file called fileName in folder, found ignoring letter case as Windows
// would ("ORDERS.DBF" finds orders.dbf); "" when there is none.  An exact
// match wins over one that differs only in case.
QString FindFileIgnoringCase(const QString& folder, const QString& fileName);

} // namespace qm::tofoxpro
