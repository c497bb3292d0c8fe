// "Send Table/s To Access": the selected FoxPro tables and views go into the
// Access database.
#pragma once

#include <QString>

namespace qm::mainwindow {
class TransferHost;
}

namespace qm::toaccess {

// The whole run of the main window's PushButton4_Click.
void SendTablesToAccess(mainwindow::TransferHost& host);

// The line the run writes into the SQL window's script after a table was
// created: a comment, so that executing the script later runs nothing again.
QString CreatedTableNote(const QString& name, long long rowsCopied, long long rowsInSource);

} // namespace qm::toaccess
