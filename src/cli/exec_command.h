// quillmere-cli exec DB [--password PW] (--file SCRIPT | SQL...)
//
// Runs one statement or a whole script against a database through the
// provider its path selects: .mdb (Jet 4.0), .accdb (ACE 12.0), .dbc or a
// folder of free tables or a .dbf (vfpoledb).  Prints, per statement, its
// line and the rows it affected, or its error; the rows of a plain SELECT
// are printed as tab-separated lines under their field names.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm::cli {

// `args` are the words after "exec".  Returns the exit status: 0 when every
// statement ran, 1 when any failed or the database did not open, 2 for bad
// usage.
int runExec(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace qm::cli
