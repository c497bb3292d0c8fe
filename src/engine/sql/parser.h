// Recursive-descent parser for both dialects.  One Parser is meant to be
// reused for every statement of a script: its token buffer keeps its
// capacity, so parsing a long script allocates little beyond the tree.
#pragma once

#include "sql/ast.h"
#include "sql/lexer.h"

#include <string>
#include <string_view>
#include <vector>

namespace qm::sql {

// A statement that does not follow the grammar.  offset is the byte offset
// of the offending token in the statement text; near is that token's text.
struct ParseError {
    std::uint32_t offset = 0;
    std::string statement; // "INSERT INTO", "CREATE TABLE", ... or "" when not known
    std::string near;
    std::string detail;    // what was expected, in plain words
    bool tooDeep = false;  // nested beyond what is parsed (sql/depth.h), not a grammar fault
};

class Parser {
public:
    explicit Parser(Dialect dialect) : dialect_(dialect) {}
    Dialect dialect() const { return dialect_; }
    // FoxPro read as FoxPro itself reads it (see tokenize): [Orders] is a
    // text, not a table.  Off by default.
    void setStrictFoxPro(bool on) { strictFoxPro_ = on; }

    // Parses one statement (a trailing ';' is allowed).  The tree's
    // string_views point into text, which must outlive the tree.
    // Throws ParseError.  A text with nothing but blanks and comments
    // gives false.
    bool parse(std::string_view text, Statement& out);

    // A lone SELECT (for a recordset's source).
    std::unique_ptr<Select> parseSelect(std::string_view text);

private:
    friend struct ParserImpl;
    Dialect dialect_;
    bool strictFoxPro_ = false;
    std::vector<Token> tokens_;
};

} // namespace qm::sql
