// "Send Table/s To FoxPro": the selected Access tables and queries go into
// the FoxPro database container or free-table folder.
#pragma once

#include "storage/storage.h"

#include <string>
#include <string_view>
#include <vector>

namespace qm::mainwindow {
class TransferHost;
}

namespace qm::tofoxpro {

// The whole run of the main window's PushButton3_Click.
void SendTablesToFoxPro(mainwindow::TransferHost& host);

// The statements that give a FoxPro table the keys of an Access table once
// its rows are in: a primary key becomes the container's primary tag (a
// candidate tag in a free table), a unique index a candidate tag, any other
// index a regular tag.  Text columns are joined with +, Date/Time columns
// indexed as TTOC(f,1).  `arrived` are the FoxPro table's columns.  What
// cannot be made is refused with the reason.
struct KeyScript {
    std::vector<std::string> statements;
    std::vector<storage::IndexRefusal> refused;
};
KeyScript KeyStatements(const std::string& table, const std::vector<storage::IndexSpec>& keys,
                        const std::vector<storage::ColumnDef>& arrived, bool container);

// An attachment's file name made safe to write inside its folder: no path
// separators, no leading dots, never empty.
std::string CleanFileName(std::string_view name);

} // namespace qm::tofoxpro
