// "Send Table/s To Access": the selected FoxPro tables and views go into the
// Access database.
#pragma once

namespace qm::mainwindow {
class TransferHost;
}

namespace qm::toaccess {

// The whole run of the main window's PushButton4_Click.
void SendTablesToAccess(mainwindow::TransferHost& host);

} // namespace qm::toaccess
