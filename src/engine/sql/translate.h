// Translating a saved query between the two dialects: an Access select
// query into the text of a FoxPro view, and a FoxPro view into the text of
// a saved Access query.
//
// The text is parsed in the source dialect, rewritten on the syntax tree
// (names and their quoting, literals, operators, functions, joins) and
// written in the target dialect.  A construct that has no counterpart
// which returns the same rows is not approximated: the result then lists
// every such construct and holds no text, and the caller keeps the
// original text.
#pragma once

#include "sql/lexer.h"

#include <string>
#include <string_view>
#include <vector>

namespace qm::storage {
class Database;
}

namespace qm::sql {

// One construct that could not be carried across.
struct TranslationIssue {
    std::string construct; // "function Format", "DISTINCTROW", "name 'Order Details'"
    std::string why;       // plain words
    // "cannot translate: <construct> (<why>)"
    std::string text() const;
};

struct TranslationResult {
    std::string sql;                         // the translation; empty when issues is not
    std::vector<TranslationIssue> issues;    // why there is no translation
    std::vector<std::string> notes;          // what changed without changing the rows (renamed aliases)
    bool ok() const { return issues.empty(); }
    // The issues, one "cannot translate: ..." line each.
    std::string report() const;
};

// Translates one select query from one dialect into the other (from == to
// gives the text back unchanged).  source, when given, is the database the
// query belongs to: its column types let text be compared and joined as the
// source engine does (blank padding, letter case, Yes/No fields).  Without
// it, constructs whose meaning depends on a column's type are reported.
TranslationResult translateQuery(std::string_view sql, Dialect from, Dialect to,
                                 storage::Database* source = nullptr);

} // namespace qm::sql
