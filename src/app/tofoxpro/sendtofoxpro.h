// "Send Table/s To FoxPro": the selected Access tables and queries go into
// the FoxPro database container or free-table folder.
#pragma once

namespace qm::mainwindow {
class TransferHost;
}

namespace qm::tofoxpro {

// The whole run of the main window's PushButton3_Click.
void SendTablesToFoxPro(mainwindow::TransferHost& host);

} // namespace qm::tofoxpro
