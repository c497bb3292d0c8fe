// quillmere-cli copy SRC DST [NAME...] [--password PW] [--overwrite]
//
// The transfers of the main window without windows.  An Access SRC (.mdb,
// .accdb) goes to FoxPro: DST is a .dbc or a folder of free tables, made
// new and empty when it does not exist yet; the script the transfer writes
// is executed at the end as the SQL window would.  A FoxPro SRC (.dbc or
// folder) goes to the Access database DST.  Without names every table and
// query (view) is sent.  An object that exists already is replaced with
// --overwrite and otherwise skipped, and said so.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm::cli {

// `args` are the words after the command name.  Returns the exit status:
// 0 done, 1 something failed (named on err), 2 bad usage.
int runCopy(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace qm::cli
