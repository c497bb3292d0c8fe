// The Access database a transfer without windows sends to: made new, empty,
// when it is not there yet.
#pragma once

#include <string>

namespace qm::toaccess {

// Creates an empty Access database at path when no file is there: an .accdb
// (ACE 12) when the name ends in ".accdb" (any letter case), otherwise an
// .mdb (Jet 4).  Returns true when it made one.  Throws qm::Error naming the
// path when the file cannot be made.
bool MakeAccessDatabaseIfMissing(const std::string& path);

} // namespace qm::toaccess
