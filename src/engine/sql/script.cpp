#include "sql/script.h"

namespace qm::sql {

namespace {

bool identChar(unsigned char c) { return kNameChars.inside[c]; }

std::uint32_t charsBetween(std::string_view s, std::size_t from, std::size_t to) {
    std::uint32_t n = 0;
    for (std::size_t i = from; i < to && i < s.size(); ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) ++n;
    return n;
}

// Words that begin a statement of their own.
bool startsStatement(std::string_view w) {
    static constexpr std::string_view kStarts[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER"};
    for (auto k : kStarts)
        if (iequals(w, k)) return true;
    return false;
}

// Words after which a statement cannot end.
bool needsMore(std::string_view w) {
    static constexpr std::string_view kOpen[] = {
        "AS", "AND", "OR", "NOT", "XOR", "SELECT", "FROM", "WHERE", "INTO", "VALUES", "SET", "ON", "JOIN", "BY",
        "UNION", "ALL", "TABLE", "VIEW", "IN", "LIKE", "BETWEEN", "HAVING", "DISTINCT", "TOP", "INNER", "LEFT",
        "RIGHT", "OUTER", "INSERT", "UPDATE", "DELETE", "CREATE", "DROP", "ALTER", "ADD", "COLUMN", "ORDER",
        "GROUP", "MOD", "IS", "SQL", "PERCENT",
    };
    for (auto k : kOpen)
        if (iequals(w, k)) return true;
    return false;
}

} // namespace

TextPosition positionIn(const ScriptStatement& st, std::uint32_t offset) {
    TextPosition p{st.line, st.column};
    std::size_t lineStart = 0;
    bool newLine = false;
    const std::string_view s = st.text;
    for (std::size_t i = 0; i < offset && i < s.size(); ++i) {
        if (s[i] == '\n' || s[i] == '\r') {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
            ++p.line;
            lineStart = i + 1;
            newLine = true;
        }
    }
    const std::uint32_t chars = charsBetween(s, lineStart, offset);
    p.column = newLine ? chars + 1 : st.column + chars;
    return p;
}

void ScriptSplitter::skipBlank() {
    while (pos_ < s_.size()) {
        const char c = s_[pos_];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '\n') ++pos_;
            ++pos_;
            ++line_;
            lineStart_ = pos_;
        } else if (c == ' ' || c == '\t' || c == ';' || c == '\f' || c == '\v') {
            ++pos_;
        } else {
            return;
        }
    }
}

// The first word of the next line that holds something other than blanks
// and comments ("" at the end of the text or when it begins with a sign).
std::string_view ScriptSplitter::firstWordOfNextLine(std::size_t i) const {
    const std::size_t n = s_.size();
    for (;;) {
        while (i < n && (s_[i] == ' ' || s_[i] == '\t' || s_[i] == '\r' || s_[i] == '\n')) ++i;
        if (i >= n) return {};
        const bool comment = fox_ ? (s_[i] == '*' || (s_[i] == '&' && i + 1 < n && s_[i + 1] == '&'))
                                  : (s_[i] == '-' && i + 1 < n && s_[i + 1] == '-');
        if (!comment) break;
        while (i < n && s_[i] != '\n' && s_[i] != '\r') ++i;
    }
    std::size_t j = i;
    while (j < n && identChar(static_cast<unsigned char>(s_[j]))) ++j;
    if (fox_ && j - i == 4 && iequals(s_.substr(i, 4), "NOTE")) {
        // NOTE comment line: look at the line after it.
        while (j < n && s_[j] != '\n' && s_[j] != '\r') ++j;
        return firstWordOfNextLine(j);
    }
    return s_.substr(i, j - i);
}

bool ScriptSplitter::lineContinues(std::size_t afterEol, bool incomplete, bool insertWithoutValues) const {
    if (incomplete) return true;
    const std::string_view next = firstWordOfNextLine(afterEol);
    if (next.empty()) {
        // End of text, or a line that starts with a sign or a quote: a
        // continuation unless the text ends here.
        std::size_t i = afterEol;
        while (i < s_.size() && (s_[i] == ' ' || s_[i] == '\t' || s_[i] == '\r' || s_[i] == '\n')) ++i;
        if (i >= s_.size()) return false;
        const char c = s_[i];
        if (fox_ && (c == '*' || c == '&')) return false;
        if (!fox_ && c == '-' && i + 1 < s_.size() && s_[i + 1] == '-') return false;
        return c != ';';
    }
    if (insertWithoutValues && iequals(next, "SELECT")) return true;
    // FoxPro's own commands that the SQL window runs.
    if (fox_ && (iequals(next, "INDEX") || iequals(next, "USE"))) return false;
    return !startsStatement(next);
}

bool ScriptSplitter::next(ScriptStatement& out) {
    const std::size_t n = s_.size();
    for (;;) {
        skipBlank();
        if (pos_ >= n) return false;

        const std::size_t start = pos_;
        out.line = line_;
        out.column = charsBetween(s_, lineStart_, start) + 1;

        int depth = 0;
        std::string_view firstWord, lastWord;
        char lastSymbol = 0;       // last significant sign, 0 when a word or value came last
        bool sawValues = false;
        bool parametersOpen = false;
        bool prevWasAs = false;
        std::size_t end = n;
        std::size_t resume = n;

        auto incomplete = [&]() {
            if (depth > 0) return true;
            if (lastSymbol) return lastSymbol == ',' || lastSymbol == '=' || lastSymbol == '<' || lastSymbol == '>'
                || lastSymbol == '+' || lastSymbol == '-' || lastSymbol == '*' || lastSymbol == '/' || lastSymbol == '&'
                || lastSymbol == '(' || lastSymbol == '.';
            return !lastWord.empty() && needsMore(lastWord);
        };
        auto insertWithoutValues = [&]() { return iequals(firstWord, "INSERT") && !sawValues; };

        std::size_t i = start;
        bool done = false;
        while (i < n && !done) {
            const unsigned char c = static_cast<unsigned char>(s_[i]);
            if (c == ' ') { ++i; continue; }
            if (c == ',' || c == '(' || c == ')') {
                if (c == '(') ++depth;
                else if (c == ')' && depth > 0) --depth;
                lastSymbol = static_cast<char>(c);
                lastWord = {};
                prevWasAs = false;
                ++i;
                continue;
            }
            if (c == '\'' || c == '"') {
                // A text literal, line breaks included; a doubled quote stays inside.
                ++i;
                for (;;) {
                    if (i >= n) break;
                    if (static_cast<unsigned char>(s_[i]) == c) {
                        if (i + 1 < n && static_cast<unsigned char>(s_[i + 1]) == c) { i += 2; continue; }
                        ++i;
                        break;
                    }
                    if (s_[i] == '\n' || s_[i] == '\r') {
                        if (s_[i] == '\r' && i + 1 < n && s_[i + 1] == '\n') ++i;
                        ++line_;
                        lineStart_ = i + 1;
                    }
                    ++i;
                }
                lastSymbol = 0;
                lastWord = "'";
                prevWasAs = false;
                continue;
            }
            if (c == '[' || c == '`') {
                const char close = c == '[' ? ']' : '`';
                ++i;
                while (i < n && s_[i] != close && s_[i] != '\n' && s_[i] != '\r') ++i;
                if (i < n && s_[i] == close) ++i;
                lastSymbol = 0;
                lastWord = "]";
                prevWasAs = false;
                continue;
            }
            if (identChar(c)) {
                std::size_t j = i;
                while (j < n && identChar(static_cast<unsigned char>(s_[j]))) ++j;
                const std::string_view w = s_.substr(i, j - i);
                if (firstWord.empty()) firstWord = w;
                if (c > '9') { // numbers are never keywords
                    if (iequals(w, "VALUES")) sawValues = true;
                    if (iequals(w, "PARAMETERS") && (firstWord == w || prevWasAs)) parametersOpen = true;
                    else if (parametersOpen && (iequals(w, "SELECT") || iequals(w, "TRANSFORM") || iequals(w, "INSERT")
                                                || iequals(w, "UPDATE") || iequals(w, "DELETE")))
                        parametersOpen = false;
                    prevWasAs = iequals(w, "AS");
                } else {
                    prevWasAs = false;
                }
                lastWord = w;
                lastSymbol = 0;
                i = j;
                continue;
            }
            if (!fox_ && c == '-' && i + 1 < n && s_[i + 1] == '-') {
                while (i < n && s_[i] != '\n' && s_[i] != '\r') ++i;
                continue;
            }
            if (!fox_ && c == '/' && i + 1 < n && s_[i + 1] == '*') {
                i += 2;
                while (i < n && !(s_[i] == '*' && i + 1 < n && s_[i + 1] == '/')) {
                    if (s_[i] == '\n') { ++line_; lineStart_ = i + 1; }
                    ++i;
                }
                i = i < n ? i + 2 : n;
                continue;
            }
            if (fox_ && c == '*') {
                bool lineStart = true;
                for (std::size_t k = lineStart_; k < i; ++k)
                    if (s_[k] != ' ' && s_[k] != '\t') { lineStart = false; break; }
                if (lineStart) {
                    while (i < n && s_[i] != '\n' && s_[i] != '\r') ++i;
                    continue;
                }
            }
            if (fox_ && c == '&' && i + 1 < n && s_[i + 1] == '&') {
                while (i < n && s_[i] != '\n' && s_[i] != '\r') ++i;
                continue;
            }
            if (c == '\n' || c == '\r') {
                const std::size_t eol = i;
                std::size_t after = i + 1;
                if (c == '\r' && after < n && s_[after] == '\n') ++after;
                if (!parametersOpen && !lineContinues(after, incomplete(), insertWithoutValues())) {
                    end = eol;
                    resume = eol; // skipBlank counts the line break
                    done = true;
                    break;
                }
                ++line_;
                lineStart_ = after;
                i = after;
                continue;
            }
            if (c == ';') {
                // Is it the last sign on its line?
                std::size_t j = i + 1;
                while (j < n && (s_[j] == ' ' || s_[j] == '\t')) ++j;
                const bool atLineEnd = j >= n || s_[j] == '\r' || s_[j] == '\n'
                    || (fox_ && s_[j] == '&' && j + 1 < n && s_[j + 1] == '&');
                if (depth == 0 && !parametersOpen && !(fox_ && atLineEnd)) {
                    end = i;
                    resume = i + 1;
                    done = true;
                    break;
                }
                if (fox_ && atLineEnd && depth == 0 && !parametersOpen) {
                    // FoxPro continuation, unless the next line plainly starts anew.
                    std::size_t eol = j;
                    while (eol < n && s_[eol] != '\n' && s_[eol] != '\r') ++eol;
                    std::size_t after = eol < n ? eol + 1 : n;
                    if (eol < n && s_[eol] == '\r' && after < n && s_[after] == '\n') ++after;
                    if (eol >= n || (!incomplete() && !lineContinues(after, false, insertWithoutValues()))) {
                        end = i;
                        resume = eol;
                        done = true;
                        break;
                    }
                    i = eol; // the line break is handled as a continuation below
                    if (i < n) {
                        ++line_;
                        lineStart_ = after;
                        i = after;
                    }
                    continue;
                }
                ++i; // inside parentheses, or a PARAMETERS declaration
                continue;
            }
            if (c == '(') ++depth;
            else if (c == ')') { if (depth > 0) --depth; }
            if (c != ' ' && c != '\t' && c != '\f' && c != '\v') {
                lastSymbol = static_cast<char>(c);
                lastWord = {};
                prevWasAs = false;
            }
            ++i;
        }
        if (!done) { end = n; resume = n; }
        pos_ = resume;

        std::string_view text = s_.substr(start, end - start);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
            text.remove_suffix(1);
        if (text.empty()) continue;
        out.text = text;
        return true;
    }
}

} // namespace qm::sql
