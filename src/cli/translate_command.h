// quillmere-cli translate --to foxpro|access [--db DB [--password PW]]
//                         (SQL | --query NAME | reads standard input)
//
// Translates a select query into the other dialect: Access SQL into the
// text of a FoxPro view (--to foxpro), FoxPro SQL into the text of a saved
// Access query (--to access).  With --db the query's database gives the
// column types (and --query reads the saved query or view from it).
// Prints the translation on one line, with "note: ..." lines on standard
// error; when the query cannot be translated, prints one line
// "cannot translate: <construct> (<why>)" per construct instead.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qm::cli {

// `args` are the words after "translate".  Returns 0 with a translation,
// 1 when the query cannot be translated or the database did not open,
// 2 for bad usage.
int runTranslate(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

} // namespace qm::cli
