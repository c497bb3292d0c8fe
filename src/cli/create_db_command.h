// quillmere-cli create-db PATH [--format mdb|accdb] [--password PW]
//
// Makes a new, empty Access database: Jet 4 (.mdb, Access 2002-2003) or
// ACE 12 (.accdb, Access 2007).  Without --format the extension decides;
// other extensions need --format.  An existing file is never replaced.
// --password gives an .mdb a database password, and encrypts an .accdb
// under it (agile AES, as Access 2010 and later do).
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm::cli {

// `args` are the words after the command name (a leading "create-db" is
// skipped too).  Returns the exit status: 0 done, 1 failed, 2 bad usage.
int runCreateDb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace qm::cli
