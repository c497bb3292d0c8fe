// Saved select queries: SQL text taken apart into MSysQueries rows the way
// Access stores a query it made itself.
//
//   (0, Flag 0)  start             (6) one per output column: Name1 alias, Expression
//   (1, Flag 1)  select query      (7) one per join: Name1 left, Name2 right,
//   (3, Flag options, Name1 TOP)       Expression ON condition, Flag 1/2/3
//   (5) one per source: Name1 table (8) WHERE   (9) GROUP BY items   (10) HAVING
//       or query, Name2 alias       (11) ORDER BY items, Name1 "D" when DESC
//   (255) end
// Order = big-endian counter from 1 for each attribute.  Every row gets an
// entry in the ObjectIdAttribute index.
#include "write_database.h"

#include "storage/storage.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace qm::jet {

namespace {

constexpr std::int32_t kTables = 0x0F000001;

struct QueryPart {
    std::uint8_t attribute;
    std::optional<std::string> name1, name2, expression;
    std::optional<std::int32_t> flag;
};

std::string trim(std::string s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

bool wordAt(const std::string& s, std::size_t i, const char* word) {
    const std::size_t n = std::char_traits<char>::length(word);
    if (i + n > s.size()) return false;
    for (std::size_t k = 0; k < n; ++k)
        if (std::toupper(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
    const auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    if (i > 0 && isWord(s[i - 1])) return false;
    if (i + n < s.size() && isWord(s[i + n])) return false;
    return true;
}

// Positions of the text at nesting depth 0 (outside (), [], quotes); calls
// fn(i) for each; fn returns false to stop.
template <class F>
void topLevel(const std::string& s, F fn) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"' || c == '#') {
            if (depth == 0 && !fn(i)) return;
            quote = c == '[' ? ']' : c;
            continue;
        }
        if (c == '[') {
            quote = ']';
            continue;
        }
        if (c == '(') ++depth;
        if (depth == 0 && !fn(i)) return;
        if (c == ')') --depth;
    }
}

std::vector<std::string> splitTop(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::size_t start = 0;
    topLevel(s, [&](std::size_t i) {
        if (s[i] == sep) {
            out.push_back(trim(s.substr(start, i - start)));
            start = i + 1;
        }
        return true;
    });
    out.push_back(trim(s.substr(start)));
    return out;
}

std::size_t findTopWord(const std::string& s, const char* word, std::size_t from = 0) {
    std::size_t found = std::string::npos;
    topLevel(s, [&](std::size_t i) {
        if (i >= from && wordAt(s, i, word)) {
            found = i;
            return false;
        }
        return true;
    });
    return found;
}

std::string unbracket(std::string s) {
    s = trim(s);
    if (s.size() >= 2 && s.front() == '[' && s.back() == ']') return s.substr(1, s.size() - 2);
    return s;
}

class FromParser {
public:
    FromParser(std::string text, std::vector<QueryPart>& sources, std::vector<QueryPart>& joins)
        : s_(std::move(text)), sources_(sources), joins_(joins) {}

    void parse() {
        do {
            skip();
            source();
            skip();
        } while (eat(','));
        skip();
        if (pos_ != s_.size()) fail("unexpected text '" + s_.substr(pos_) + "'");
    }

private:
    [[noreturn]] void fail(const std::string& why) { throw Error("the FROM clause: " + why); }
    void skip() {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    bool eat(char c) {
        skip();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool eatWord(const char* w) {
        skip();
        if (wordAt(s_, pos_, w)) {
            pos_ += std::char_traits<char>::length(w);
            return true;
        }
        return false;
    }
    std::string name() {
        skip();
        if (pos_ < s_.size() && s_[pos_] == '[') {
            const std::size_t end = s_.find(']', pos_);
            if (end == std::string::npos) fail("an unclosed [");
            std::string n = s_.substr(pos_ + 1, end - pos_ - 1);
            pos_ = end + 1;
            return n;
        }
        const std::size_t start = pos_;
        while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_' ||
                                    static_cast<unsigned char>(s_[pos_]) >= 0x80))
            ++pos_;
        if (start == pos_) fail("a table name is missing");
        return s_.substr(start, pos_ - start);
    }
    bool atJoinWord() {
        skip();
        return wordAt(s_, pos_, "INNER") || wordAt(s_, pos_, "LEFT") || wordAt(s_, pos_, "RIGHT") ||
               wordAt(s_, pos_, "JOIN");
    }
    // Returns the key (alias or name) of the last table of the source.
    std::string primary() {
        if (eat('(')) {
            // As deep as the SQL layer parses, and no deeper.
            constexpr int kMaxParentheses = 256;
            if (++depth_ > kMaxParentheses)
                fail("parentheses nested more than " + std::to_string(kMaxParentheses) + " deep");
            const std::string k = source();
            if (!eat(')')) fail("a missing )");
            --depth_;
            return k;
        }
        const std::string table = name();
        std::optional<std::string> alias;
        skip();
        if (eatWord("AS")) {
            alias = name();
        } else if (pos_ < s_.size() && !atJoinWord() && !wordAt(s_, pos_, "ON") && s_[pos_] != ',' &&
                   s_[pos_] != ')') {
            alias = name();
        }
        QueryPart p{5, table, alias, std::nullopt, std::nullopt};
        sources_.push_back(p);
        return alias ? *alias : table;
    }
    std::string source() {
        std::string left = primary();
        while (true) {
            int type = 0;
            if (eatWord("INNER")) type = 1;
            else if (eatWord("LEFT")) type = 2;
            else if (eatWord("RIGHT")) type = 3;
            if (type) eatWord("OUTER");
            if (!eatWord("JOIN")) {
                if (type) fail("JOIN is missing");
                return left;
            }
            if (!type) type = 1;
            const std::string right = primary();
            if (!eatWord("ON")) fail("a join without ON");
            skip();
            const std::size_t start = pos_;
            int depth = 0;
            char quote = 0;
            for (; pos_ < s_.size(); ++pos_) {
                const char c = s_[pos_];
                if (quote) {
                    if (c == quote) quote = 0;
                    continue;
                }
                if (c == '\'' || c == '"' || c == '#') quote = c;
                else if (c == '[') quote = ']';
                else if (c == '(') ++depth;
                else if (c == ')') {
                    if (depth == 0) break;
                    --depth;
                } else if (depth == 0 && (c == ',' || wordAt(s_, pos_, "INNER") || wordAt(s_, pos_, "LEFT") ||
                                          wordAt(s_, pos_, "RIGHT") || wordAt(s_, pos_, "JOIN")))
                    break;
            }
            const std::string cond = trim(s_.substr(start, pos_ - start));
            if (cond.empty()) fail("a join without a condition");
            joins_.push_back(QueryPart{7, left, right, cond, type});
            left = right;
        }
    }

    std::string s_;
    std::size_t pos_ = 0;
    int depth_ = 0; // parentheses open
    std::vector<QueryPart>& sources_;
    std::vector<QueryPart>& joins_;
};

std::vector<QueryPart> partsOf(const std::string& sqlIn) {
    std::string sql = trim(sqlIn);
    while (!sql.empty() && (sql.back() == ';' || std::isspace(static_cast<unsigned char>(sql.back())))) sql.pop_back();
    for (char& c : sql)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    if (!wordAt(sql, 0, "SELECT")) throw Error("only SELECT queries can be stored");
    for (const char* w : {"UNION", "INTO", "TRANSFORM", "PIVOT", "PARAMETERS"})
        if (findTopWord(sql, w) != std::string::npos)
            throw Error(std::string("queries with ") + w + " cannot be stored by this program");
    const std::size_t from = findTopWord(sql, "FROM");
    if (from == std::string::npos) throw Error("the query has no FROM clause");
    const std::size_t where = findTopWord(sql, "WHERE", from);
    const std::size_t group = findTopWord(sql, "GROUP", from);
    const std::size_t having = findTopWord(sql, "HAVING", from);
    const std::size_t order = findTopWord(sql, "ORDER", from);
    std::vector<std::size_t> marks = {from, where, group, having, order, sql.size()};
    auto clauseEnd = [&](std::size_t at) {
        std::size_t e = sql.size();
        for (std::size_t m : marks)
            if (m != std::string::npos && m > at && m < e) e = m;
        return e;
    };
    auto clause = [&](std::size_t at, std::size_t skipWords) {
        std::size_t p = at;
        for (std::size_t k = 0; k < skipWords; ++k) {
            while (p < sql.size() && !std::isspace(static_cast<unsigned char>(sql[p]))) ++p;
            while (p < sql.size() && std::isspace(static_cast<unsigned char>(sql[p]))) ++p;
        }
        return trim(sql.substr(p, clauseEnd(at) - p));
    };

    std::string select = trim(sql.substr(6, from - 6));
    std::int32_t options = 0;
    std::optional<std::string> top;
    if (wordAt(select, 0, "DISTINCTROW")) {
        options |= 0x08;
        select = trim(select.substr(11));
    } else if (wordAt(select, 0, "DISTINCT")) {
        options |= 0x02;
        select = trim(select.substr(8));
    }
    if (wordAt(select, 0, "TOP")) {
        select = trim(select.substr(3));
        std::size_t n = 0;
        while (n < select.size() && (std::isdigit(static_cast<unsigned char>(select[n])) || select[n] == '.')) ++n;
        if (n == 0) throw Error("TOP needs a number");
        top = select.substr(0, n);
        options |= 0x10;
        select = trim(select.substr(n));
        if (wordAt(select, 0, "PERCENT")) {
            options |= 0x20;
            select = trim(select.substr(7));
        }
    }
    std::vector<QueryPart> outputs;
    for (const std::string& item : splitTop(select, ',')) {
        if (item.empty()) throw Error("an empty item in the SELECT list");
        if (item == "*") {
            options |= 0x01;
            continue;
        }
        std::size_t as = std::string::npos;
        topLevel(item, [&](std::size_t i) {
            if (wordAt(item, i, "AS")) as = i;
            return true;
        });
        if (as != std::string::npos)
            outputs.push_back({6, unbracket(item.substr(as + 2)), std::nullopt, trim(item.substr(0, as)), 0});
        else outputs.push_back({6, std::nullopt, std::nullopt, item, 0});
    }
    std::vector<QueryPart> sources, joins;
    FromParser(clause(from, 1), sources, joins).parse();

    std::vector<QueryPart> parts;
    parts.push_back({0, std::nullopt, std::nullopt, std::nullopt, 0});
    parts.push_back({1, std::nullopt, std::nullopt, std::nullopt, 1});
    parts.push_back({3, top, std::nullopt, std::nullopt, options});
    parts.insert(parts.end(), sources.begin(), sources.end());
    parts.insert(parts.end(), outputs.begin(), outputs.end());
    parts.insert(parts.end(), joins.begin(), joins.end());
    if (where != std::string::npos) parts.push_back({8, std::nullopt, std::nullopt, clause(where, 1), std::nullopt});
    if (group != std::string::npos) {
        if (findTopWord(sql, "BY", group) == std::string::npos) throw Error("GROUP without BY");
        for (const std::string& g : splitTop(clause(group, 2), ','))
            parts.push_back({9, std::nullopt, std::nullopt, g, std::nullopt});
    }
    if (having != std::string::npos) parts.push_back({10, std::nullopt, std::nullopt, clause(having, 1), std::nullopt});
    if (order != std::string::npos) {
        if (findTopWord(sql, "BY", order) == std::string::npos) throw Error("ORDER without BY");
        for (std::string o : splitTop(clause(order, 2), ',')) {
            std::optional<std::string> desc;
            std::size_t last = std::string::npos;
            topLevel(o, [&](std::size_t i) {
                if (wordAt(o, i, "DESC") || wordAt(o, i, "ASC")) last = i;
                return true;
            });
            if (last != std::string::npos && trim(o.substr(last)).size() <= 4) {
                if (wordAt(o, last, "DESC")) desc = "D";
                o = trim(o.substr(0, last));
            }
            parts.push_back({11, desc, std::nullopt, o, std::nullopt});
        }
    }
    parts.push_back({255, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    return parts;
}

// Undoes the pages an operation changed unless it reached its end.
struct RollbackUnlessDone {
    JetWriter& w;
    bool done = false;
    ~RollbackUnlessDone() {
        if (done) return;
        try {
            w.rollback();
        } catch (...) {
        }
    }
};

} // namespace

void JetWriter::createQuery(const std::string& name, const std::string& sql) {
    const std::string& path = store_->path();
    {
        std::string probe = name;
        if (probe.empty() || utf16Length(probe) > 64 || probe.find_first_of(".!`[]") != std::string::npos ||
            probe[0] == ' ')
            throw Error(path + ": cannot create query '" + name + "': the name is not one Access allows");
    }
    if (auto o = findObject(kTables, name))
        throw Error(path + ": cannot create query " + name + ": " + (o->type == 5 ? "a query" : "a table") +
                    " of that name already exists");
    std::vector<QueryPart> parts;
    try {
        parts = partsOf(sql);
    } catch (const Error& e) {
        throw Error(path + ": cannot store query " + name + ": " + e.what());
    }
    const auto q = findObject(kTables, "MSysQueries");
    if (!q) throw Error(path + ": the database has no MSysQueries table");
    TableDefinition& queries = definition(std::uint32_t(q->id) & 0x00FFFFFF, q->name);
    const std::int32_t id = nextSyntheticId();
    // Rows by column number: ObjectId, Attribute, Order, Name1, Name2, Expression, Flag[, LvExtra].
    std::vector<std::vector<Value>> rows;
    std::map<int, std::uint32_t> counters;
    for (const QueryPart& p : parts) {
        std::vector<Value> v(queries.columns.size(), Value::null());
        const std::uint32_t n = ++counters[p.attribute];
        const std::string order{char(n >> 24), char((n >> 16) & 0xFF), char((n >> 8) & 0xFF), char(n & 0xFF)};
        v[0] = Value::longInt(id);
        v[1] = Value::byte(p.attribute);
        v[2] = Value::binary(order);
        if (p.name1) v[3] = Value::string(*p.name1);
        if (p.name2) v[4] = Value::string(*p.name2);
        if (p.expression) v[5] = Value::string(*p.expression);
        if (p.flag) v[6] = Value::integer(std::int16_t(*p.flag));
        for (std::size_t c = 0; c < v.size(); ++c) v[c] = convert(queries, *queries.byNumber()[c], v[c]);
        rows.push_back(std::move(v));
    }
    RollbackUnlessDone guard{*this};
    for (auto& r : rows) insertRow(queries, std::move(r));
    addCatalogRows(id, name, 5, 0);
    if (batchDepth_ == 0) commit();
    guard.done = true;
}

void JetWriter::dropQuery(const std::string& name) {
    const auto o = findObject(kTables, name);
    if (!o || o->type != 5) throw Error(store_->path() + ": cannot delete query " + name + ": there is no such query");
    RollbackUnlessDone guard{*this};
    if (auto q = findObject(kTables, "MSysQueries")) {
        TableDefinition& queries = definition(std::uint32_t(q->id) & 0x00FFFFFF, q->name);
        std::vector<RowLocation> rows;
        scan(queries, [&](RowLocation at, const std::vector<Value>& v) {
            if (!v[0].isNull() && v[0].rawInt() == o->id) rows.push_back(at);
            return true;
        });
        for (RowLocation r : rows) deleteRow(queries, r);
    }
    if (auto a = findObject(kTables, "MSysACEs")) {
        TableDefinition& aces = definition(std::uint32_t(a->id) & 0x00FFFFFF, a->name);
        std::vector<RowLocation> rows;
        scan(aces, [&](RowLocation at, const std::vector<Value>& v) {
            if (!v[0].isNull() && v[0].rawInt() == o->id) rows.push_back(at);
            return true;
        });
        for (RowLocation r : rows) deleteRow(aces, r);
    }
    deleteRow(definition(2, "MSysObjects"), RowLocation{o->where.page, o->where.row});
    if (batchDepth_ == 0) commit();
    guard.done = true;
}

} // namespace qm::jet
