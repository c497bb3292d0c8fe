// The text a FoxPro view is stored with as a saved Access query.
#pragma once

#include <QString>

namespace qm::toaccess {

// The view's SQL as it is, except that table names lose the container that
// qualifies them ("shop!items" becomes "items"): Access has no container,
// and a saved query naming one could not be stored.  Text in quotes or
// brackets and FoxPro's "!=" are left alone.
QString AccessQueryText(const QString& viewSql);

} // namespace qm::toaccess
