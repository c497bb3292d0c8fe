#include "sql/lexer.h"

#include <cctype>

#include <cstring>

namespace qm::sql {

namespace {

bool isIdentStart(unsigned char c) { return kNameChars.start[c]; }
bool isIdentChar(unsigned char c) { return kNameChars.inside[c]; }
bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// True when position p starts a line (only blanks before it on its line).
bool atLineStart(std::string_view s, std::size_t p) {
    while (p > 0) {
        char c = s[p - 1];
        if (c == '\n' || c == '\r') return true;
        if (c != ' ' && c != '\t') return false;
        --p;
    }
    return true;
}

} // namespace

std::string unquote(const Token& t) {
    if (!t.doubled) return std::string(t.text);
    std::string out;
    out.reserve(t.text.size());
    const std::string_view s = t.text;
    std::size_t i = 0;
    for (;;) {
        const std::size_t q = s.find(t.quote, i);
        if (q == std::string_view::npos) {
            out.append(s.substr(i));
            return out;
        }
        out.append(s.substr(i, q + 1 - i)); // up to and with the first of the pair
        i = q + 1;
        if (i < s.size() && s[i] == t.quote) ++i;
    }
}

void tokenize(std::string_view s, Dialect dialect, std::vector<Token>& out, bool strictFoxPro) {
    out.clear();
    const bool fox = dialect == Dialect::FoxPro;
    const bool strict = fox && strictFoxPro;
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto push = [&](Tok kind, std::size_t start, std::size_t len, std::size_t at) {
        Token t;
        t.kind = kind;
        t.text = s.substr(start, len);
        t.offset = static_cast<std::uint32_t>(at);
        out.push_back(t);
        return &out.back();
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') { ++i; continue; }
        // The commonest signs mean the same in both dialects and never start
        // a longer operator.
        if (c == ',' || c == '(' || c == ')') {
            push(Tok::Symbol, i, 1, i);
            ++i;
            continue;
        }

        const std::size_t start = i;
        if (isIdentStart(c)) {
            while (i < n && isIdentChar(static_cast<unsigned char>(s[i]))) ++i;
            push(Tok::Word, start, i - start, start);
            continue;
        }
        // FoxPro's binary literal: 0h followed by pairs of hex digits (none: empty).
        if (fox && c == '0' && i + 1 < n && (s[i + 1] == 'h' || s[i + 1] == 'H')) {
            std::size_t j = i + 2;
            while (j < n && std::isxdigit(static_cast<unsigned char>(s[j]))) ++j;
            if (j == n || !isIdentChar(static_cast<unsigned char>(s[j]))) {
                Token* t = push(Tok::Number, i + 2, j - i - 2, start);
                t->quote = 'h';
                i = j;
                continue;
            }
        }
        if (isDigit(c) || (c == '.' && i + 1 < n && isDigit(static_cast<unsigned char>(s[i + 1])))
            || (fox && c == '$' && i + 1 < n && (isDigit(static_cast<unsigned char>(s[i + 1])) || s[i + 1] == '.'))) {
            const bool currency = c == '$';
            if (currency) ++i;
            const std::size_t numStart = i;
            while (i < n && isDigit(static_cast<unsigned char>(s[i]))) ++i;
            if (i < n && s[i] == '.' && !(fox && i + 1 < n && isIdentStart(static_cast<unsigned char>(s[i + 1])))) {
                ++i;
                while (i < n && isDigit(static_cast<unsigned char>(s[i]))) ++i;
            }
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                std::size_t j = i + 1;
                if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < n && isDigit(static_cast<unsigned char>(s[j]))) {
                    i = j;
                    while (i < n && isDigit(static_cast<unsigned char>(s[i]))) ++i;
                }
            }
            if (i < n && isIdentStart(static_cast<unsigned char>(s[i])))
                throw SyntaxIssue{std::uint32_t(start), "a number runs into a name"};
            Token* t = push(Tok::Number, numStart, i - numStart, start);
            if (currency) t->quote = '$';
            continue;
        }

        // Comments (no name or number begins with their signs).
        if (!fox && c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
            continue;
        }
        if (!fox && c == '/' && i + 1 < n && s[i + 1] == '*') {
            const std::size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos) throw SyntaxIssue{std::uint32_t(i), "unterminated comment"};
            i = end + 2;
            continue;
        }
        if (fox && c == '&' && i + 1 < n && s[i + 1] == '&') {
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
            continue;
        }
        if (fox && c == '*' && atLineStart(s, i)) {
            while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
            continue;
        }

        if (fox && c == ';') {
            // A ';' ending a line continues the command on the next one.
            std::size_t j = i + 1;
            while (j < n && (s[j] == ' ' || s[j] == '\t')) ++j;
            if (j >= n || s[j] == '\r' || s[j] == '\n' || (s[j] == '&' && j + 1 < n && s[j + 1] == '&')) {
                i = j;
                continue;
            }
        }

        if (c == '\'' || c == '"') {
            ++i;
            bool doubled = false;
            for (;;) {
                const void* q = i < n ? std::memchr(s.data() + i, c, n - i) : nullptr;
                if (!q) throw SyntaxIssue{std::uint32_t(start), "text literal is not closed"};
                i = static_cast<std::size_t>(static_cast<const char*>(q) - s.data());
                if (!strict && i + 1 < n && static_cast<unsigned char>(s[i + 1]) == c) { doubled = true; i += 2; continue; }
                break;
            }
            Token* t = push(Tok::String, start + 1, i - start - 1, start);
            t->quote = static_cast<char>(c);
            t->doubled = doubled;
            ++i;
            continue;
        }
        if (strict && c == '`') throw SyntaxIssue{std::uint32_t(start), "FoxPro has no quoted names ('`')"};
        if (c == '[' || c == '`') {
            const char close = c == '[' ? ']' : '`';
            const std::size_t end = s.find(close, i + 1);
            if (end == std::string_view::npos)
                throw SyntaxIssue{std::uint32_t(start), c == '[' ? "'[' is not closed by ']'" : "'`' is not closed"};
            const auto inner = s.substr(i + 1, end - i - 1);
            if (inner.find_first_of("\r\n") != std::string_view::npos)
                throw SyntaxIssue{std::uint32_t(start), c == '[' ? "'[' is not closed by ']' on its line" : "'`' is not closed on its line"};
            Token* t = push(strict ? Tok::String : (c == '[' ? Tok::Bracket : Tok::Backtick), i + 1, end - i - 1, start);
            if (strict) t->quote = '[';
            i = end + 1;
            continue;
        }
        if (!fox && c == '#') {
            const std::size_t end = s.find('#', i + 1);
            if (end == std::string_view::npos) throw SyntaxIssue{std::uint32_t(start), "date literal is not closed by '#'"};
            push(Tok::DateLit, i + 1, end - i - 1, start);
            i = end + 1;
            continue;
        }
        if (fox && c == '{') {
            const std::size_t end = s.find('}', i + 1);
            if (end == std::string_view::npos) throw SyntaxIssue{std::uint32_t(start), "date literal is not closed by '}'"};
            push(Tok::DateLit, i + 1, end - i - 1, start);
            i = end + 1;
            continue;
        }
        if (fox && c == '.' && i + 1 < n && isIdentStart(static_cast<unsigned char>(s[i + 1]))) {
            std::size_t j = i + 1;
            while (j < n && isIdentChar(static_cast<unsigned char>(s[j]))) ++j;
            if (j < n && s[j] == '.') {
                const auto word = s.substr(i + 1, j - i - 1);
                static constexpr std::string_view kDotWords[] = {"T", "F", "Y", "N", "NULL", "AND", "OR", "NOT"};
                for (auto w : kDotWords) {
                    if (iequals(word, w)) {
                        push(Tok::DotWord, i + 1, j - i - 1, start);
                        i = j + 1;
                        goto nextToken;
                    }
                }
            }
        }
        {
            // Two-character operators first.
            if (i + 1 < n) {
                const char d = s[i + 1];
                if ((c == '<' && (d == '>' || d == '=')) || (c == '>' && d == '=')
                    || (fox && d == '=' && (c == '!' || c == '=')) || (fox && c == '*' && d == '*')) {
                    push(Tok::Symbol, i, 2, i);
                    i += 2;
                    continue;
                }
            }
            static constexpr std::string_view kSingles = "(),.;*+-/=<>&\\^!%$#?";
            if (kSingles.find(static_cast<char>(c)) != std::string_view::npos) {
                push(Tok::Symbol, i, 1, i);
                ++i;
                continue;
            }
            std::string msg = "unexpected character '";
            msg.push_back(static_cast<char>(c));
            msg.push_back('\'');
            throw SyntaxIssue{std::uint32_t(start), msg};
        }
    nextToken:;
    }
    Token end;
    end.kind = Tok::End;
    end.offset = static_cast<std::uint32_t>(n);
    out.push_back(end);
}

} // namespace qm::sql
