// Cutting a command text into statements.
//
// A statement ends at ';' or at a line end, but never inside quotes,
// brackets or parentheses, and not where the next line plainly continues
// it: a line that ends in a word or sign that needs more (AS, AND, ',', '=')
// or a next line that does not begin a statement (FROM, WHERE, UNION ...).
// FoxPro's ';' at the end of a line continues the statement, unless the
// next line plainly begins a new one.  A text value may hold line breaks.
//
// The splitter walks the text once and hands out views into it; nothing is
// copied.
#pragma once

#include "sql/lexer.h"

#include <cstdint>
#include <string_view>

namespace qm::sql {

struct ScriptStatement {
    std::string_view text;   // the statement, without its ending ';'
    std::uint32_t line = 1;  // where it starts in the script, 1-based
    std::uint32_t column = 1;// in characters, 1-based
};

struct TextPosition {
    std::uint32_t line = 1;
    std::uint32_t column = 1;
};

// Line and column (characters, 1-based) of a byte offset inside a statement.
TextPosition positionIn(const ScriptStatement& s, std::uint32_t offset);

class ScriptSplitter {
public:
    ScriptSplitter(std::string_view script, Dialect dialect) : s_(script), fox_(dialect == Dialect::FoxPro) {}
    // The next statement; false at the end of the script.
    bool next(ScriptStatement& out);

private:
    void skipBlank();
    bool lineContinues(std::size_t afterEol, bool incomplete, bool insertWithoutValues) const;
    std::string_view firstWordOfNextLine(std::size_t from) const;

    std::string_view s_;
    bool fox_;
    std::size_t pos_ = 0;
    std::uint32_t line_ = 1;
    std::size_t lineStart_ = 0;
};

} // namespace qm::sql
