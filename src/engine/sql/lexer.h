// Tokens of the two SQL dialects the program speaks: the Access engine's
// (Jet/ACE) and Visual FoxPro's.  Both share one token stream; the
// differences are where a character means something else:
//
//   Access   [name] `name`  'text' "text"  #2016-11-03#        -- and /* */ comments
//   FoxPro   [text] `name`  'text' "text"  {^2016-11-03 10:30}  .T. .F. .NULL.  && and * comments
//            # and != mean "not equal", == exact equality, $ "contained in"
//
// Tokens are views into the statement text; nothing is copied while lexing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::sql {

enum class Dialect : std::uint8_t { Access, FoxPro };

// Letters, '_' and bytes of UTF-8 sequences start a name; digits may follow.
struct NameChars {
    bool start[256] = {};
    bool inside[256] = {};
    constexpr NameChars() {
        for (int c = 0; c < 256; ++c) {
            start[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
            inside[c] = start[c] || (c >= '0' && c <= '9');
        }
    }
};
inline constexpr NameChars kNameChars{};

enum class Tok : std::uint8_t {
    End,
    Word,      // bare identifier or keyword
    Bracket,   // [ ... ]   (name in Access, text or name in FoxPro)
    Backtick,  // ` ... `
    String,    // ' ... ' or " ... "; doubled delimiters inside stand for one
    Number,    // 12, 12.5, .5, 1e3; FoxPro $12.50 (currency flag)
    DateLit,   // # ... # or { ... } (text between the delimiters)
    DotWord,   // FoxPro .T. .F. .Y. .N. .NULL. .AND. .OR. .NOT. (text between the dots)
    Symbol,    // operators and punctuation
};

struct Token {
    // Laid out largest first, so that a token takes 24 bytes, not 32.
    std::string_view text;     // for strings/brackets: the inside, still with doubled delimiters
    std::uint32_t offset = 0;  // byte offset of the token's first character in the statement
    Tok kind = Tok::End;
    char quote = 0;            // String: the delimiter; Number: '$' for FoxPro currency, 'h' for a 0h binary literal (text: the hex digits)
    bool doubled = false;      // String: holds a doubled delimiter that must be collapsed

    bool is(std::string_view symbol) const {
        if (kind != Tok::Symbol || text.size() != symbol.size()) return false;
        return symbol.size() == 1 ? text[0] == symbol[0] : text == symbol;
    }
    // Keyword test, ignoring letter case (also matches FoxPro's .AND. style words).
    bool isWord(std::string_view word) const;
};

// Case-insensitive ASCII comparison of keywords and function names.
inline bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

inline bool Token::isWord(std::string_view word) const {
    return (kind == Tok::Word || kind == Tok::DotWord) && iequals(text, word);
}

// The text of a String token with doubled delimiters collapsed.
std::string unquote(const Token& t);

// Splits one statement into tokens.  Throws SyntaxIssue for an
// unterminated string, bracket or date literal, or a stray character.
struct SyntaxIssue {
    std::uint32_t offset;
    std::string message;
};

// strictFoxPro reads FoxPro as FoxPro itself does: [ ] delimits text even
// before a '.', there are no quoted names (` is refused) and a doubled
// delimiter ends the text instead of standing for one.  Such a [text]
// token is a String whose quote is '['.
void tokenize(std::string_view text, Dialect dialect, std::vector<Token>& out, bool strictFoxPro = false);

} // namespace qm::sql
