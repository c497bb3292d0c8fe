#include "sql/parser.h"

#include "sql/depth.h"
#include "sql/eval.h"
#include "sql/types.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace qm::sql {

namespace {

// Words that end an expression or a source, so they are never taken as a
// bare alias.
constexpr std::string_view kReserved[] = {
    "SELECT", "FROM", "WHERE", "GROUP", "ORDER", "HAVING", "INNER", "LEFT", "RIGHT", "FULL", "CROSS",
    "JOIN", "ON", "UNION", "INTO", "AS", "AND", "OR", "NOT", "XOR", "BY", "VALUES", "SET", "LIKE",
    "BETWEEN", "IN", "IS", "OUTER", "ASC", "DESC", "WITH", "MOD", "TOP", "DISTINCT", "NULL",
};

bool reserved(const Token& t) {
    if (t.kind != Tok::Word) return false;
    for (auto w : kReserved)
        if (iequals(t.text, w)) return true;
    return false;
}

} // namespace

struct ParserImpl {
    const std::vector<Token>& tk;
    std::string_view text;
    Dialect dialect;
    std::size_t pos = 0;
    std::string stmtName;
    std::unique_ptr<Insert> spare; // the previous INSERT's storage, emptied
    int depth = 0;                 // levels of nesting open (see Nest)

    bool fox() const { return dialect == Dialect::FoxPro; }
    const Token& cur() const { return tk[pos]; }
    const Token& peek(std::size_t k = 1) const { return tk[std::min(pos + k, tk.size() - 1)]; }
    const Token& take() { const Token& t = tk[pos]; if (t.kind != Tok::End) ++pos; return t; }

    [[noreturn]] void fail(const Token& at, std::string detail) const {
        ParseError e;
        e.offset = at.offset;
        e.statement = stmtName;
        e.near = at.kind == Tok::End ? std::string() : std::string(text.substr(at.offset, std::min<std::size_t>(at.text.size() + 2, 40)));
        // Show the token as written (with its delimiters) but never beyond the statement.
        if (at.kind == Tok::Word || at.kind == Tok::Number || at.kind == Tok::Symbol || at.kind == Tok::DotWord)
            e.near = std::string(at.text);
        e.detail = std::move(detail);
        throw e;
    }

    // One level of nesting more while it lives (a parenthesis, a subquery,
    // a join, ...); past kMaxNesting the statement is refused at the token
    // that went too deep.  Only an int is counted: ordinary statements pay
    // nothing measurable.
    struct Nest {
        ParserImpl& p;
        int levels = 0;
        explicit Nest(ParserImpl& parser) : p(parser) {}
        Nest(ParserImpl& parser, const Token& at) : p(parser) { add(at); }
        Nest(const Nest&) = delete;
        Nest& operator=(const Nest&) = delete;
        ~Nest() { p.depth -= levels; }
        void add(const Token& at) {
            ++levels;
            if (++p.depth > kMaxNesting) p.tooDeep(at);
        }
    };
    [[noreturn]] void tooDeep(const Token& at) const {
        try {
            fail(at, "the statement nests more than " + std::to_string(kMaxNesting)
                         + " levels deep here (parentheses, subqueries, joins, UNION parts, NOT, signs or function calls)");
        } catch (ParseError& e) {
            e.tooDeep = true;
            throw;
        }
    }

    bool acceptWord(std::string_view w) {
        if (cur().isWord(w)) { ++pos; return true; }
        return false;
    }
    void expectWord(std::string_view w) {
        if (!acceptWord(w)) fail(cur(), "expected " + std::string(w));
    }
    bool accept(std::string_view sym) {
        if (cur().is(sym)) { ++pos; return true; }
        return false;
    }
    void expect(std::string_view sym) {
        if (!accept(sym)) fail(cur(), "expected '" + std::string(sym) + "'");
    }

    // ---- names ----
    bool isNameToken(const Token& t, bool allowString) const {
        return t.kind == Tok::Word || t.kind == Tok::Bracket || t.kind == Tok::Backtick
            || (allowString && t.kind == Tok::String && t.quote != '['); // strict FoxPro [text] names nothing
    }
    std::string name(const char* what, bool allowString = false) {
        const Token& t = cur();
        if (!isNameToken(t, allowString)) fail(t, std::string("expected ") + what);
        ++pos;
        if (t.kind == Tok::String) return unquote(t);
        if (t.text.empty()) fail(t, std::string("the ") + what + " is empty");
        return std::string(t.text);
    }

    // A table name: plain, bracketed, backquoted, a FoxPro text ("name"),
    // FoxPro's database!table, or the Access engine's external target
    // [dBase IV;DATABASE=folder;].[name].
    TableName tableName() {
        TableName tn;
        tn.offset = cur().offset;
        const Token& first = cur();
        // A bracketed name may hold ';' too ([Tab;1] is a table): only
        // "[...;...]." starts an external target.
        if (first.kind == Tok::Bracket && first.text.find(';') != std::string_view::npos && pos + 1 < tk.size() &&
            tk[pos + 1].is(".")) {
            ++pos;
            parseConnect(first, tn);
            expect(".");
            tn.name = name("table name");
            return tn;
        }
        tn.name = name("table name", true);
        if (cur().is("!")) { // database!table
            ++pos;
            tn.name = name("table name", true);
        }
        return tn;
    }

    void parseConnect(const Token& t, TableName& tn) {
        // "dBase IV;DATABASE=C:\Data\;" : type first, then key=value pairs.
        std::string_view s = t.text;
        auto trim = [](std::string_view v) {
            while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
            while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
            return v;
        };
        std::size_t semi = s.find(';');
        tn.externalType = std::string(trim(s.substr(0, semi)));
        s = semi == std::string_view::npos ? std::string_view() : s.substr(semi + 1);
        while (!s.empty()) {
            semi = s.find(';');
            std::string_view part = s.substr(0, semi);
            s = semi == std::string_view::npos ? std::string_view() : s.substr(semi + 1);
            const auto eq = part.find('=');
            if (eq == std::string_view::npos) continue;
            if (iequals(trim(part.substr(0, eq)), "DATABASE")) tn.externalPath = std::string(trim(part.substr(eq + 1)));
        }
        if (tn.externalType.empty()) fail(t, "the external database type is missing");
        if (tn.externalPath.empty()) fail(t, "the external target names no DATABASE folder");
    }

    // ---- expressions ----
    ExprPtr expr() {
        // A lone literal followed by ',' or ')' (the values of an INSERT)
        // needs none of the precedence levels.
        const Token& t = cur();
        const Token& n = peek();
        if ((n.kind == Tok::Symbol && n.text.size() == 1 && (n.text[0] == ',' || n.text[0] == ')'))
            && (t.kind == Tok::Number || t.kind == Tok::String || t.kind == Tok::DateLit
                || (t.kind == Tok::Bracket && fox()) || (t.kind == Tok::Word && iequals(t.text, "NULL")))) {
            return primary();
        }
        return orExpr();
    }

    ExprPtr binary(BinOp op, ExprPtr a, ExprPtr b) {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Binary;
        e->bop = op;
        e->offset = a->offset;
        e->args.push_back(std::move(a));
        e->args.push_back(std::move(b));
        return e;
    }

    ExprPtr orExpr() {
        auto e = andExpr();
        for (;;) {
            if (acceptWord("OR")) e = binary(BinOp::Or, std::move(e), andExpr());
            else if (acceptWord("XOR")) e = binary(BinOp::Xor, std::move(e), andExpr());
            else return e;
        }
    }
    ExprPtr andExpr() {
        auto e = notExpr();
        while (acceptWord("AND")) e = binary(BinOp::And, std::move(e), notExpr());
        return e;
    }
    ExprPtr notExpr() {
        const Token& t = cur();
        if (t.isWord("NOT") || (fox() && t.is("!"))) {
            const Nest nest(*this, t);
            ++pos;
            auto e = std::make_unique<Expr>();
            e->kind = Expr::Kind::Unary;
            e->uop = UnOp::Not;
            e->offset = t.offset;
            e->args.push_back(notExpr());
            return e;
        }
        return comparison();
    }
    ExprPtr comparison() {
        auto e = concat();
        // IS NULL, BETWEEN, IN and NOT LIKE wrap what stands before them:
        // each wrap is a level of the tree.
        Nest wraps(*this);
        for (;;) {
            const Token& t = cur();
            BinOp op;
            if (t.is("=")) op = BinOp::Eq;
            else if (t.is("==")) op = BinOp::ExactEq;
            else if (t.is("<>") || t.is("!=") || (fox() && t.is("#"))) op = BinOp::Ne;
            else if (t.is("<")) op = BinOp::Lt;
            else if (t.is("<=")) op = BinOp::Le;
            else if (t.is(">")) op = BinOp::Gt;
            else if (t.is(">=")) op = BinOp::Ge;
            else if (fox() && t.is("$")) op = BinOp::Contained;
            else {
                bool negated = false;
                std::size_t save = pos;
                if (t.isWord("NOT")) { negated = true; ++pos; }
                if (acceptWord("LIKE")) {
                    e = binary(BinOp::Like, std::move(e), concat());
                    if (negated) {
                        wraps.add(t);
                        e = negate(std::move(e));
                    }
                    continue;
                }
                if (acceptWord("BETWEEN")) {
                    wraps.add(t);
                    auto b = std::make_unique<Expr>();
                    b->kind = Expr::Kind::Between;
                    b->negated = negated;
                    b->offset = e->offset;
                    b->args.push_back(std::move(e));
                    b->args.push_back(concat());
                    expectWord("AND");
                    b->args.push_back(concat());
                    e = std::move(b);
                    continue;
                }
                if (acceptWord("IN")) {
                    wraps.add(t);
                    auto in = std::make_unique<Expr>();
                    in->kind = Expr::Kind::InList;
                    in->negated = negated;
                    in->offset = e->offset;
                    in->args.push_back(std::move(e));
                    expect("(");
                    if (cur().isWord("SELECT")) fail(cur(), "a subquery is not supported here");
                    do in->args.push_back(expr()); while (accept(","));
                    expect(")");
                    e = std::move(in);
                    continue;
                }
                if (!negated && acceptWord("IS")) {
                    wraps.add(t);
                    auto is = std::make_unique<Expr>();
                    is->kind = Expr::Kind::IsNull;
                    is->offset = e->offset;
                    is->negated = acceptWord("NOT");
                    if (!acceptWord("NULL") && !cur().isWord("NULL")) fail(cur(), "expected NULL after IS");
                    if (cur().kind == Tok::DotWord) ++pos;
                    is->args.push_back(std::move(e));
                    e = std::move(is);
                    continue;
                }
                pos = save;
                return e;
            }
            ++pos;
            e = binary(op, std::move(e), concat());
        }
    }
    ExprPtr negate(ExprPtr inner) {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Unary;
        e->uop = UnOp::Not;
        e->offset = inner->offset;
        e->args.push_back(std::move(inner));
        return e;
    }
    ExprPtr concat() {
        auto e = additive();
        while (!fox() && cur().is("&")) { ++pos; e = binary(BinOp::Concat, std::move(e), additive()); }
        return e;
    }
    ExprPtr additive() {
        auto e = modulo();
        for (;;) {
            if (accept("+")) e = binary(BinOp::Add, std::move(e), modulo());
            else if (accept("-")) e = binary(BinOp::Sub, std::move(e), modulo());
            else return e;
        }
    }
    ExprPtr modulo() {
        auto e = intDiv();
        while (acceptWord("MOD") || (fox() && accept("%"))) e = binary(BinOp::Mod, std::move(e), intDiv());
        return e;
    }
    ExprPtr intDiv() {
        auto e = multiplicative();
        while (!fox() && accept("\\")) e = binary(BinOp::IntDiv, std::move(e), multiplicative());
        return e;
    }
    ExprPtr multiplicative() {
        auto e = unary();
        for (;;) {
            if (accept("*")) e = binary(BinOp::Mul, std::move(e), unary());
            else if (accept("/")) e = binary(BinOp::Div, std::move(e), unary());
            else return e;
        }
    }
    ExprPtr unary() {
        const Token& t = cur();
        if (t.is("-") || t.is("+")) {
            const Nest nest(*this, t);
            ++pos;
            auto inner = unary();
            // Fold a sign into a numeric literal so that -5 stays a literal.
            if (inner->kind == Expr::Kind::Literal && inner->value.isNumeric() && t.is("-")) {
                inner->value = negateLiteral(inner->value, t);
                inner->offset = t.offset;
                return inner;
            }
            if (t.is("+")) return inner;
            auto e = std::make_unique<Expr>();
            e->kind = Expr::Kind::Unary;
            e->uop = UnOp::Neg;
            e->offset = t.offset;
            e->args.push_back(std::move(inner));
            return e;
        }
        return power();
    }
    Value negateLiteral(const Value& v, const Token& at) {
        switch (v.type()) {
        case VarType::Long: return v.rawInt() == 0 ? v : Value::longInt(static_cast<std::int32_t>(-v.rawInt()));
        case VarType::BigInt:
            if (v.rawInt() == 2147483648LL) return Value::longInt(INT32_MIN);
            return Value::bigInt(-v.rawInt());
        case VarType::Currency: return Value::currency(-v.rawInt());
        case VarType::Double: return Value::dbl(-v.rawDouble());
        case VarType::Decimal: { Decimal d = v.rawDecimal(); d.mantissa = -d.mantissa; return Value::decimal(d); }
        default: fail(at, "cannot negate this value");
        }
    }
    ExprPtr power() {
        auto e = primary();
        while (accept("^") || (fox() && accept("**"))) e = binary(BinOp::Pow, std::move(e), unary());
        return e;
    }

    Value numberLiteral(const Token& t) {
        const std::string_view s = t.text;
        if (t.quote == 'h') {
            if (s.size() % 2) fail(t, "a binary literal needs two hex digits per byte");
            std::string bytes;
            bytes.reserve(s.size() / 2);
            auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
            for (std::size_t k = 0; k < s.size(); k += 2) bytes.push_back(static_cast<char>(hex(s[k]) * 16 + hex(s[k + 1])));
            return Value::binary(std::move(bytes));
        }
        if (t.quote == '$') {
            auto d = Decimal::parse(s);
            if (!d) fail(t, "not a currency amount");
            try { return Value::currency(Value::decimal(*d).toCurrency()); }
            catch (const Error&) { fail(t, "the currency amount is out of range"); }
        }
        bool integral = true, exponent = false;
        for (const char ch : s) {
            if (ch == '.') integral = false;
            else if (ch == 'e' || ch == 'E') integral = false, exponent = true;
        }
        if (integral) {
            std::int64_t v = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size()) {
                if (v <= INT32_MAX) return Value::longInt(static_cast<std::int32_t>(v));
                return Value::bigInt(v);
            }
        } else if (!exponent && s.size() <= 19) {
            // 12.50 with at most 18 digits: the digits are the mantissa, those
            // after the point the scale (what Decimal::parse makes of it).
            std::int64_t m = 0;
            std::uint8_t scale = 0;
            bool point = false, digits = false, plain = true;
            for (const char ch : s) {
                if (ch == '.' && !point) { point = true; continue; }
                if (ch < '0' || ch > '9') { plain = false; break; }
                m = m * 10 + (ch - '0');
                digits = true;
                if (point) ++scale;
            }
            if (plain && digits) return Value::decimal(Decimal{m, scale});
        }
        if (exponent) {
            // 1e-300 or 1.7976931348623157e+308: a decimal only where it holds
            // the number faithfully, else the double the text names.
            double v = 0;
            auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc() && p == s.data() + s.size() && std::isfinite(v)) {
                auto d = Decimal::parse(s);
                if (d && d->toDouble() == v && (v != 0 || d->mantissa == 0)) return Value::decimal(*d);
                return Value::dbl(v);
            }
        }
        if (auto d = Decimal::parse(s)) return Value::decimal(*d);
        // Beyond 28 digits: a double, as both engines read such numbers.
        const std::string copy(s);
        char* end = nullptr;
        const double v = std::strtod(copy.c_str(), &end);
        if (!end || *end || !std::isfinite(v)) fail(t, "not a number");
        return Value::dbl(v);
    }

    Value dateLiteral(const Token& t) {
        std::string_view s = t.text;
        while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
        while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
        if (fox()) {
            // Empty date / datetime: {}, {//}, {:}, {--}, {..}
            bool empty = true;
            for (char c : s) if (c != '/' && c != ':' && c != '-' && c != '.' && c != ' ') empty = false;
            if (empty) return Value::null();
            if (!s.empty() && s.front() == '^') s.remove_prefix(1);
            // FoxPro also writes {^2016.11.03}
            std::string copy(s);
            if (copy.size() >= 10 && copy[4] == '.' && copy[7] == '.') { copy[4] = '-'; copy[7] = '-'; }
            if (auto d = date::parse(copy)) return Value::date(*d);
            fail(t, "not a date");
        }
        if (auto d = date::parse(s)) return Value::date(*d);
        fail(t, "not a date");
    }

    ExprPtr columnRef(std::string first, std::uint32_t offset) {
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Column;
        e->offset = offset;
        if (cur().is(".") && (isNameToken(peek(), false) || peek().is("*"))) {
            ++pos;
            if (accept("*")) {
                e->kind = Expr::Kind::Star;
                e->qualifier = std::move(first);
                return e;
            }
            e->qualifier = std::move(first);
            e->name = name("column name");
            return e;
        }
        e->name = std::move(first);
        return e;
    }

    ExprPtr primary() {
        const Token& t = cur();
        switch (t.kind) {
        case Tok::Number: ++pos; return makeLiteral(numberLiteral(t), t.offset);
        case Tok::String: ++pos; return makeLiteral(Value::string(unquote(t)), t.offset);
        case Tok::DateLit: ++pos; return makeLiteral(dateLiteral(t), t.offset);
        case Tok::DotWord:
            if (t.isWord("T") || t.isWord("Y")) { ++pos; return makeLiteral(Value::boolean(true), t.offset); }
            if (t.isWord("F") || t.isWord("N")) { ++pos; return makeLiteral(Value::boolean(false), t.offset); }
            if (t.isWord("NULL")) { ++pos; return makeLiteral(Value::null(), t.offset); }
            fail(t, "expected a value");
        case Tok::Bracket:
            ++pos;
            // FoxPro reads [..] as text unless it qualifies a name.
            if (fox() && !cur().is(".")) return makeLiteral(Value::string(std::string(t.text)), t.offset);
            if (t.text.empty()) fail(t, "the name is empty");
            return columnRef(std::string(t.text), t.offset);
        case Tok::Backtick:
            ++pos;
            if (t.text.empty()) fail(t, "the name is empty");
            return columnRef(std::string(t.text), t.offset);
        case Tok::Word: {
            if (peek().is("(")) {
                if (t.isWord("SELECT") || t.isWord("EXISTS")) fail(t, "a subquery is not supported here");
                ++pos;
                return call(t);
            }
            if (t.isWord("NULL")) { ++pos; return makeLiteral(Value::null(), t.offset); }
            if (t.isWord("TRUE") || t.isWord("YES") || t.isWord("ON")) {
                if (!peek().is("(") && !peek().is(".")) { ++pos; return makeLiteral(Value::boolean(true), t.offset); }
            }
            if (t.isWord("FALSE") || t.isWord("NO") || t.isWord("OFF")) {
                if (!peek().is("(") && !peek().is(".")) { ++pos; return makeLiteral(Value::boolean(false), t.offset); }
            }
            if (t.isWord("SELECT") || t.isWord("EXISTS")) fail(t, "a subquery is not supported here");
            // LEFT and RIGHT are join words and functions.
            if (reserved(t) && !((t.isWord("LEFT") || t.isWord("RIGHT")) && peek().is("("))) fail(t, "expected a value");
            ++pos;
            if (cur().is("(")) return call(t);
            return columnRef(std::string(t.text), t.offset);
        }
        case Tok::Symbol:
            if (t.is("(")) {
                const Nest nest(*this, t);
                ++pos;
                if (cur().isWord("SELECT")) fail(cur(), "a subquery is not supported here");
                auto e = expr();
                expect(")");
                return e;
            }
            if (t.is("*")) fail(t, "'*' is only allowed in a select list or COUNT(*)");
            if (fox() && t.is("?") && peek().kind == Tok::Word) {
                ++pos;
                auto e = std::make_unique<Expr>();
                e->kind = Expr::Kind::Parameter;
                e->offset = t.offset;
                e->name = std::string(take().text);
                return e;
            }
            fail(t, "expected a value");
        case Tok::End:
            fail(t, "the statement ends where a value is expected");
        }
        fail(t, "expected a value");
    }

    ExprPtr call(const Token& fn) {
        const Nest nest(*this, fn);
        auto e = std::make_unique<Expr>();
        e->kind = Expr::Kind::Call;
        e->offset = fn.offset;
        e->name = std::string(fn.text);
        e->function = static_cast<int>(lookupFunction(fn.text, dialect)); // -1 when unknown: reported when run
        expect("(");
        if (accept(")")) return e;
        do {
            if (cur().is("*") && peek().is(")")) {
                auto star = std::make_unique<Expr>();
                star->kind = Expr::Kind::Star;
                star->offset = cur().offset;
                ++pos;
                e->args.push_back(std::move(star));
            } else {
                if (cur().isWord("DISTINCT")) fail(cur(), "DISTINCT inside a function is not supported");
                e->args.push_back(expr());
            }
        } while (accept(","));
        expect(")");
        return e;
    }

    // ---- SELECT ----
    // Access: PARAMETERS name type [(size)], ...;  A name Access wrote
    // without brackets may hold blanks and '!': it runs up to the type word.
    std::vector<ParameterDecl> parameterList() {
        expectWord("PARAMETERS");
        std::vector<ParameterDecl> out;
        for (;;) {
            ParameterDecl d;
            const Token& first = cur();
            if (first.kind == Tok::Bracket) {
                d.name = std::string(first.text);
                ++pos;
            } else {
                std::size_t end = pos;
                while (tk[end].kind != Tok::End && !tk[end].is(",") && !tk[end].is(";") && !tk[end].is("(")) ++end;
                if (end < pos + 2) fail(first, "expected a parameter's name and type");
                const std::size_t from = first.offset, to = tk[end - 1].offset;
                std::string_view n = text.substr(from, to - from);
                while (!n.empty() && (n.back() == ' ' || n.back() == '\t' || n.back() == '\r' || n.back() == '\n')) n.remove_suffix(1);
                d.name = std::string(n);
                pos = end - 1;
            }
            if (cur().kind != Tok::Word) fail(cur(), "expected the type of parameter " + d.name);
            d.type = std::string(take().text);
            if (accept("(")) {
                const Token& n = cur();
                if (n.kind != Tok::Number || n.text.empty() || n.text.size() > 9
                    || n.text.find_first_not_of("0123456789") != std::string_view::npos)
                    fail(n, "expected the size of parameter " + d.name);
                for (const char c : n.text) d.size = d.size * 10 + (c - '0');
                ++pos;
                expect(")");
            }
            out.push_back(std::move(d));
            if (accept(",")) continue;
            expect(";");
            return out;
        }
    }

    std::unique_ptr<Select> select() {
        std::vector<ParameterDecl> parameters;
        if (!fox() && cur().isWord("PARAMETERS")) parameters = parameterList();
        expectWord("SELECT");
        auto s = std::make_unique<Select>();
        s->parameters = std::move(parameters);
        for (;;) {
            if (acceptWord("DISTINCT")) s->distinct = true;
            else if (acceptWord("ALL") || acceptWord("DISTINCTROW")) {}
            else if (cur().isWord("TOP")) {
                ++pos;
                const Token& n = cur();
                if (n.kind != Tok::Number) fail(n, "expected a number after TOP");
                ++pos;
                std::int64_t v = 0;
                auto [p, ec] = std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
                if (ec != std::errc() || p != n.text.data() + n.text.size() || v < 0) fail(n, "TOP needs a whole number");
                s->top = v;
                if (acceptWord("PERCENT")) s->topPercent = true;
            } else break;
        }
        do {
            SelectItem item;
            if (cur().is("*")) {
                auto star = std::make_unique<Expr>();
                star->kind = Expr::Kind::Star;
                star->offset = cur().offset;
                ++pos;
                item.expr = std::move(star);
            } else {
                item.expr = expr();
                if (acceptWord("AS")) item.alias = name("column alias", true);
                else if (isNameToken(cur(), false) && !reserved(cur())) item.alias = name("column alias");
            }
            s->items.push_back(std::move(item));
        } while (accept(","));

        if (acceptWord("INTO")) s->into = intoTarget();
        if (acceptWord("FROM")) s->from = sourceList();
        if (acceptWord("WHERE")) s->where = expr();
        if (cur().isWord("GROUP")) {
            ++pos;
            expectWord("BY");
            do s->groupBy.push_back(expr()); while (accept(","));
        }
        if (acceptWord("HAVING")) s->having = expr();
        if (cur().isWord("UNION")) {
            const Nest nest(*this, cur());
            ++pos;
            s->unionAll = acceptWord("ALL");
            s->unionNext = select();
            // ORDER BY of the last query orders the whole union.
            if (!s->unionNext->orderBy.empty()) s->orderBy = std::move(s->unionNext->orderBy);
            return s;
        }
        if (cur().isWord("ORDER")) {
            ++pos;
            expectWord("BY");
            do {
                OrderItem o;
                o.expr = expr();
                if (acceptWord("DESC")) o.descending = true;
                else acceptWord("ASC");
                s->orderBy.push_back(std::move(o));
            } while (accept(","));
        }
        if (!s->into && cur().isWord("INTO")) { // FoxPro puts INTO at the end
            ++pos;
            s->into = intoTarget();
        }
        return s;
    }

    TableName intoTarget() {
        if (fox()) {
            if (cur().isWord("CURSOR") || cur().isWord("ARRAY")) fail(cur(), "only INTO TABLE can be run here");
            if (!acceptWord("TABLE")) acceptWord("DBF");
        }
        return tableName();
    }

    std::unique_ptr<Source> sourceList() {
        auto s = joined();
        // Each join deepens the tree by one (the binder walks it).
        Nest joins(*this);
        while (cur().is(",")) {
            joins.add(cur());
            ++pos;
            auto j = std::make_unique<Source>();
            j->kind = Source::Kind::Join;
            j->join = Source::JoinKind::Cross;
            j->left = std::move(s);
            j->right = joined();
            s = std::move(j);
        }
        return s;
    }

    // Reads [INNER] JOIN, LEFT|RIGHT [OUTER] JOIN; false (nothing read) when none follows.
    bool joinWords(Source::JoinKind& kind) {
        if (cur().isWord("INNER") && peek().isWord("JOIN")) { pos += 2; kind = Source::JoinKind::Inner; return true; }
        if (cur().isWord("JOIN")) { ++pos; kind = Source::JoinKind::Inner; return true; }
        if ((cur().isWord("LEFT") || cur().isWord("RIGHT")) && !peek().is("(")) {
            kind = cur().isWord("LEFT") ? Source::JoinKind::Left : Source::JoinKind::Right;
            ++pos;
            acceptWord("OUTER");
            expectWord("JOIN");
            return true;
        }
        return false;
    }

    std::unique_ptr<Source> joined() {
        auto left = sourcePrimary();
        Nest joins(*this);
        for (;;) {
            Source::JoinKind kind;
            const Token& at = cur();
            if (joinWords(kind)) {}
            else if (cur().isWord("CROSS") && peek().isWord("JOIN")) { pos += 2; kind = Source::JoinKind::Cross; }
            else if (cur().isWord("FULL")) fail(cur(), "FULL JOIN is not supported");
            else return left;
            joins.add(at);
            auto j = std::make_unique<Source>();
            j->kind = Source::Kind::Join;
            j->join = kind;
            j->left = std::move(left);
            j->right = kind == Source::JoinKind::Cross ? sourcePrimary() : joinOperand();
            if (kind != Source::JoinKind::Cross) {
                expectWord("ON");
                j->on = expr();
            }
            left = std::move(j);
        }
    }

    // The right side of a join.  FoxPro also nests joins without
    // parentheses, "a JOIN b JOIN c ON c2 ON c1": each ON closes the
    // nearest open JOIN.
    std::unique_ptr<Source> joinOperand() {
        auto s = sourcePrimary();
        Nest joins(*this);
        for (;;) {
            Source::JoinKind kind;
            const Token& at = cur();
            if (!joinWords(kind)) return s;
            joins.add(at);
            auto j = std::make_unique<Source>();
            j->kind = Source::Kind::Join;
            j->join = kind;
            j->left = std::move(s);
            j->right = joinOperand();
            expectWord("ON");
            j->on = expr();
            s = std::move(j);
        }
    }

    std::unique_ptr<Source> sourcePrimary() {
        if (cur().is("(")) {
            const Nest nest(*this, cur());
            ++pos;
            if (cur().isWord("SELECT")) {
                auto s = std::make_unique<Source>();
                s->kind = Source::Kind::Subquery;
                s->subquery = select();
                expect(")");
                acceptWord("AS");
                if (isNameToken(cur(), false) && !reserved(cur())) s->alias = name("alias");
                return s;
            }
            auto inner = sourceList();
            expect(")");
            return inner;
        }
        auto s = std::make_unique<Source>();
        s->kind = Source::Kind::Table;
        s->table = tableName();
        if (acceptWord("AS")) s->alias = name("alias");
        else if (isNameToken(cur(), false) && !reserved(cur())) s->alias = name("alias");
        return s;
    }

    // ---- CREATE TABLE / ALTER TABLE column definitions ----
    ColumnDefSql columnDef() {
        ColumnDefSql c;
        c.name = name("column name");
        const Token& typeTok = cur();
        if (typeTok.kind != Tok::Word) fail(typeTok, "expected a column type");
        ++pos;
        TypeArgs args;
        if (accept("(")) {
            auto number = [&]() {
                const Token& n = cur();
                int v = 0;
                auto [p, ec] = std::from_chars(n.text.data(), n.text.data() + n.text.size(), v);
                if (n.kind != Tok::Number || ec != std::errc() || p != n.text.data() + n.text.size())
                    fail(n, "expected a whole number");
                ++pos;
                return v;
            };
            args.first = number();
            args.count = 1;
            if (accept(",")) { args.second = number(); args.count = 2; }
            expect(")");
        }
        std::optional<storage::ColumnSpec> spec;
        try {
            spec = columnTypeFor(typeTok.text, args, dialect);
        } catch (const Error& e) {
            fail(typeTok, e.what());
        }
        if (!spec) fail(typeTok, "'" + std::string(typeTok.text) + "' is not a column type");
        c.spec = *spec;
        c.spec.name = c.name;
        c.typeText = std::string(text.substr(typeTok.offset, cur().offset - typeTok.offset));
        while (!c.typeText.empty() && c.typeText.back() == ' ') c.typeText.pop_back();
        for (;;) {
            if (cur().isWord("NOT") && peek().isWord("NULL")) { pos += 2; c.spec.nullable = false; }
            else if (acceptWord("NULL")) c.spec.nullable = true;
            else if (cur().isWord("PRIMARY")) { ++pos; expectWord("KEY"); c.primaryKey = true; c.spec.nullable = false; }
            else if (acceptWord("UNIQUE") || acceptWord("CANDIDATE")) c.unique = true;
            else if (acceptWord("NOCPTRANS")) c.spec.binary = true;
            else if (acceptWord("AUTOINC") || acceptWord("AUTOINCREMENT") || acceptWord("IDENTITY")) {
                c.spec.autoIncrement = true;
                if (accept("(")) { // IDENTITY(seed, step)
                    while (!cur().is(")") && cur().kind != Tok::End) ++pos;
                    expect(")");
                }
                if (acceptWord("NEXTVALUE")) take();
                if (acceptWord("STEP")) take();
            } else if (cur().isWord("WITH") && (peek().isWord("COMPRESSION") || peek().isWord("COMP"))) pos += 2;
            else if (cur().isWord("CONSTRAINT")) {
                ++pos;
                c.constraintName = name("constraint name");
            } else if (cur().isWord("DEFAULT") || cur().isWord("CHECK") || cur().isWord("REFERENCES")) {
                fail(cur(), std::string(cur().text) + " is not supported in a column definition here");
            } else break;
        }
        return c;
    }

    std::vector<std::string> nameList() {
        std::vector<std::string> out;
        expect("(");
        do out.push_back(name("column name")); while (accept(","));
        expect(")");
        return out;
    }

    // Access index columns: (col [ASC|DESC], ...).
    void indexColumns(storage::IndexSpec& ix) {
        expect("(");
        bool anyDescending = false;
        do {
            ix.columns.push_back(name("column name"));
            const bool desc = acceptWord("DESC");
            if (!desc) acceptWord("ASC");
            ix.descending.push_back(desc);
            anyDescending = anyDescending || desc;
        } while (accept(","));
        expect(")");
        if (!anyDescending) ix.descending.clear();
    }

    // A FoxPro key expression, as written, up to TAG (or another stop word)
    // at the outer level.
    std::string keyExpression(std::initializer_list<std::string_view> stops) {
        const std::size_t first = pos;
        int depth = 0;
        for (; cur().kind != Tok::End; ++pos) {
            if (depth == 0 && (cur().is(";") || cur().is(",") || cur().is(")"))) break;
            bool stop = false;
            for (auto w : stops) stop = stop || cur().isWord(w);
            if (depth == 0 && stop) break;
            if (cur().is("(")) ++depth;
            else if (cur().is(")")) --depth;
        }
        if (pos == first) fail(cur(), "expected an index key expression");
        std::string_view e = text.substr(tk[first].offset, cur().offset - tk[first].offset);
        if (cur().kind == Tok::End) e = text.substr(tk[first].offset);
        while (!e.empty() && (e.back() == ' ' || e.back() == '\t' || e.back() == '\n' || e.back() == '\r'))
            e.remove_suffix(1);
        return std::string(e);
    }

    // FoxPro: PRIMARY KEY expr TAG name / UNIQUE expr TAG name (the words
    // before the expression already taken).  A plain field name becomes the
    // index's column.
    storage::IndexSpec foxKey(bool primary) {
        storage::IndexSpec ix;
        ix.primaryKey = primary;
        ix.unique = true;
        const Token& at = cur();
        ix.expression = keyExpression({"TAG", "COLLATE", "FOR"});
        if (at.kind == Tok::Word && iequals(at.text, ix.expression)) {
            ix.columns = {ix.expression};
            ix.expression.clear();
        }
        if (acceptWord("TAG")) ix.name = name("tag name");
        else if (!ix.columns.empty()) ix.name = ix.columns.front();
        else fail(cur(), "expected TAG and the tag's name");
        if (acceptWord("COLLATE")) ix.collation = unquote(take());
        return ix;
    }

    void createTable(Statement& st) {
        stmtName = "CREATE TABLE";
        st.kind = StatementKind::CreateTable;
        auto ct = std::make_unique<CreateTable>();
        ct->table = tableName();
        if (fox()) {
            if (acceptWord("NAME")) ct->table.name = name("table name", true);
            acceptWord("FREE");
        }
        expect("(");
        do {
            const bool constraint = acceptWord("CONSTRAINT");
            std::string constraintName;
            if (constraint) constraintName = name("constraint name");
            if (cur().isWord("PRIMARY") && peek().isWord("KEY")) {
                pos += 2;
                storage::IndexSpec ix;
                if (fox() && !cur().is("(")) ix = foxKey(true);
                else {
                    ix.primaryKey = ix.unique = true;
                    indexColumns(ix);
                    ix.name = "PrimaryKey";
                }
                if (!constraintName.empty()) ix.name = constraintName;
                ct->indexes.push_back(std::move(ix));
            } else if (cur().isWord("UNIQUE") && (peek().is("(") || (fox() && !peek().is(",") && !peek().is(")")))) {
                ++pos;
                storage::IndexSpec ix;
                if (fox() && !cur().is("(")) ix = foxKey(false);
                else {
                    ix.unique = true;
                    indexColumns(ix);
                    ix.name = ix.columns.front();
                }
                if (!constraintName.empty()) ix.name = constraintName;
                ct->indexes.push_back(std::move(ix));
            } else if (cur().isWord("FOREIGN")) {
                fail(cur(), "FOREIGN KEY is not supported here");
            } else {
                if (constraint) fail(cur(), "expected PRIMARY KEY or UNIQUE");
                ct->columns.push_back(columnDef());
            }
        } while (accept(","));
        expect(")");
        for (const auto& c : ct->columns) {
            if (c.primaryKey) {
                storage::IndexSpec ix;
                ix.primaryKey = ix.unique = true;
                ix.columns = {c.name};
                // FoxPro names a field's tag after the field.
                ix.name = !c.constraintName.empty() ? c.constraintName : fox() ? c.name : "PrimaryKey";
                ct->indexes.push_back(std::move(ix));
            } else if (c.unique) {
                storage::IndexSpec ix;
                ix.unique = true;
                ix.columns = {c.name};
                ix.name = !c.constraintName.empty() ? c.constraintName : c.name;
                ct->indexes.push_back(std::move(ix));
            }
        }
        st.createTable = std::move(ct);
    }

    void alterTable(Statement& st) {
        stmtName = "ALTER TABLE";
        st.kind = StatementKind::AlterTable;
        auto at = std::make_unique<AlterTable>();
        at->table = tableName();
        if (cur().isWord("ADD") && (peek().isWord("CONSTRAINT") || peek().isWord("PRIMARY") || peek().isWord("UNIQUE"))) {
            ++pos;
            do {
                storage::IndexSpec ix;
                std::string constraintName;
                if (acceptWord("CONSTRAINT")) constraintName = name("constraint name");
                if (acceptWord("PRIMARY")) {
                    expectWord("KEY");
                    if (fox() && !cur().is("(")) ix = foxKey(true);
                    else {
                        ix.primaryKey = ix.unique = true;
                        indexColumns(ix);
                        ix.name = "PrimaryKey";
                    }
                } else if (acceptWord("UNIQUE")) {
                    if (fox() && !cur().is("(")) ix = foxKey(false);
                    else {
                        ix.unique = true;
                        indexColumns(ix);
                        ix.name = ix.columns.front();
                    }
                } else if (cur().isWord("FOREIGN")) {
                    fail(cur(), "FOREIGN KEY is not supported here");
                } else {
                    fail(cur(), "expected PRIMARY KEY or UNIQUE");
                }
                if (!constraintName.empty()) ix.name = constraintName;
                at->addKeys.push_back(std::move(ix));
            } while ((accept(",") || (fox() && cur().isWord("ADD"))) && (acceptWord("ADD") || true));
        } else if (cur().isWord("DROP") &&
                   (peek().isWord("CONSTRAINT") || (fox() && (peek().isWord("PRIMARY") || peek().isWord("UNIQUE"))))) {
            at->add = false;
            ++pos;
            do {
                if (acceptWord("CONSTRAINT")) at->dropKeys.push_back(name("constraint name"));
                else if (acceptWord("PRIMARY")) {
                    expectWord("KEY");
                    at->dropPrimaryKey = true;
                } else {
                    expectWord("UNIQUE");
                    expectWord("TAG");
                    at->dropKeys.push_back(name("tag name"));
                }
            } while ((accept(",") || (fox() && cur().isWord("DROP"))) && (acceptWord("DROP") || true));
        } else if (acceptWord("ADD")) {
            at->add = true;
            do {
                acceptWord("COLUMN");
                at->addColumns.push_back(columnDef());
            } while (accept(",") || (fox() && cur().isWord("ADD") && (++pos, true)));
        } else if (acceptWord("DROP")) {
            at->add = false;
            do {
                acceptWord("COLUMN");
                at->dropColumns.push_back(name("column name"));
            } while (accept(",") || (fox() && cur().isWord("DROP") && (++pos, true)));
        } else {
            fail(cur(), "expected ADD or DROP");
        }
        st.alter = std::move(at);
    }

    static bool endsValue(const Token& t) {
        return t.kind == Tok::Symbol && t.text.size() == 1 && (t.text[0] == ',' || t.text[0] == ')');
    }

    // The values the transfers write are literals and Date(y,m,d): those are
    // taken as values straight away; anything else becomes a tree.
    // Fills v, a fresh element of the row (built in place: values are big).
    void insertValue(InsertValue& v) {
        const Token& t = cur();
        v.offset = t.offset;
        if (endsValue(peek())) {
            switch (t.kind) {
            case Tok::Number: ++pos; v.value = numberLiteral(t); return;
            case Tok::String: ++pos; v.value = Value::string(unquote(t)); return;
            case Tok::DateLit: ++pos; v.value = dateLiteral(t); return;
            case Tok::Bracket:
                if (fox()) { ++pos; v.value = Value::string(std::string(t.text)); return; }
                break;
            case Tok::Word:
                if (iequals(t.text, "NULL")) { ++pos; v.value = Value::null(); return; }
                break;
            case Tok::DotWord:
                if (t.isWord("NULL")) { ++pos; v.value = Value::null(); return; }
                if (t.isWord("T") || t.isWord("Y") || t.isWord("F") || t.isWord("N")) {
                    ++pos;
                    v.value = Value::boolean(t.isWord("T") || t.isWord("Y"));
                    return;
                }
                break;
            case Tok::Symbol:
                break;
            default: break;
            }
        } else if (t.kind == Tok::Symbol && t.text.size() == 1 && (t.text[0] == '-' || t.text[0] == '+')
                   && peek().kind == Tok::Number && endsValue(peek(2))) {
            // A signed number: folded as unary() would fold it.
            const Token& num = peek();
            Value x = numberLiteral(num);
            pos += 2;
            v.value = t.text[0] == '-' ? negateLiteral(x, t) : std::move(x);
            return;
        }
        if (t.kind == Tok::Word && (iequals(t.text, "Date") || iequals(t.text, "DateTime")) && peek().is("(")) {
            // Date(2016,11,3) / DateTime(2016,11,3,10,30,0) with plain numbers.
            int parts[6] = {0, 0, 0, 0, 0, 0};
            std::size_t k = pos + 2, n = 0;
            bool plain = true;
            while (n < 6) {
                const Token& num = tk[std::min(k, tk.size() - 1)];
                int x = 0;
                auto [p, ec] = std::from_chars(num.text.data(), num.text.data() + num.text.size(), x);
                if (num.kind != Tok::Number || ec != std::errc() || p != num.text.data() + num.text.size()) { plain = false; break; }
                parts[n++] = x;
                const Token& sep = tk[std::min(k + 1, tk.size() - 1)];
                k += 2;
                if (sep.is(")")) break;
                if (!sep.is(",")) { plain = false; break; }
            }
            const bool isDate = iequals(t.text, "Date");
            if (plain && (isDate ? n == 3 : n >= 3) && tk[k - 1].is(")") && endsValue(tk[std::min(k, tk.size() - 1)])
                && date::isValidDate(parts[0], parts[1], parts[2]) && parts[0] >= 100 && parts[3] >= 0 && parts[3] <= 23
                && parts[4] >= 0 && parts[4] <= 59 && parts[5] >= 0 && parts[5] <= 59) {
                v.value = Value::date(date::fromParts(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]));
                pos = k;
                return;
            }
        }
        v.expr = expr();
    }

    void insert(Statement& st) {
        stmtName = "INSERT INTO";
        st.kind = StatementKind::Insert;
        std::unique_ptr<Insert> ins = spare ? std::move(spare) : std::make_unique<Insert>();
        expectWord("INTO");
        ins->table = tableName();
        if (cur().is("(")) {
            const std::uint32_t open = cur().offset;
            ++pos;
            do ins->columns.push_back(name("column name")); while (accept(","));
            const Token& close = cur();
            expect(")");
            ins->columnListText = text.substr(open, close.offset + 1 - open);
        }
        if (acceptWord("VALUES")) {
            // The row vectors of the previous statement keep their room.
            std::size_t used = 0;
            do {
                expect("(");
                if (used == ins->rows.size()) ins->rows.emplace_back();
                std::vector<InsertValue>& row = ins->rows[used++];
                row.clear();
                row.reserve(ins->columns.empty() ? 8 : ins->columns.size());
                do insertValue(row.emplace_back()); while (accept(","));
                expect(")");
            } while (accept(","));
            ins->rows.resize(used);
        } else if (cur().isWord("SELECT")) {
            ins->rows.clear();
            ins->select = select();
        } else if (cur().is("(") && peek().isWord("SELECT")) {
            ++pos;
            ins->rows.clear();
            ins->select = select();
            expect(")");
        } else {
            fail(cur(), "expected VALUES or SELECT");
        }
        st.insert = std::move(ins);
    }

    void update(Statement& st) {
        stmtName = "UPDATE";
        st.kind = StatementKind::Update;
        auto up = std::make_unique<Update>();
        up->table = tableName();
        expectWord("SET");
        do {
            Assignment a;
            a.column = name("column name");
            if (cur().is(".")) { ++pos; a.column = name("column name"); } // t.col
            expect("=");
            a.value = expr();
            up->set.push_back(std::move(a));
        } while (accept(","));
        if (acceptWord("WHERE")) up->where = expr();
        st.update = std::move(up);
    }

    void remove(Statement& st) {
        stmtName = "DELETE";
        st.kind = StatementKind::Delete;
        auto del = std::make_unique<Delete>();
        if (accept("*")) {}
        else if (isNameToken(cur(), false) && !cur().isWord("FROM") && peek().is(".")) { pos += 2; expect("*"); }
        expectWord("FROM");
        del->table = tableName();
        if (acceptWord("WHERE")) del->where = expr();
        st.del = std::move(del);
    }

    void createView(Statement& st) {
        stmtName = "CREATE VIEW";
        st.kind = StatementKind::CreateView;
        auto cv = std::make_unique<CreateView>();
        cv->name = tableName();
        expectWord("AS");
        const Token& first = cur();
        if (first.kind == Tok::End) fail(first, "the view has no query");
        std::string_view body = text.substr(first.offset);
        while (!body.empty() && (body.back() == ' ' || body.back() == '\t' || body.back() == '\r' || body.back() == '\n'))
            body.remove_suffix(1);
        cv->sql = std::string(body);
        cv->sqlOffset = first.offset;
        pos = tk.size() - 1; // the body is taken as written; the executor checks it
        st.createView = std::move(cv);
    }

    // Access: CREATE [UNIQUE] INDEX name ON table (col [ASC|DESC], ...)
    //         [WITH PRIMARY | DISALLOW NULL | IGNORE NULL]
    void createIndex(Statement& st) {
        stmtName = "CREATE INDEX";
        st.kind = StatementKind::CreateIndex;
        auto ix = std::make_unique<IndexStatement>();
        ix->index.unique = acceptWord("UNIQUE");
        expectWord("INDEX");
        ix->index.name = name("index name");
        expectWord("ON");
        ix->table = tableName();
        indexColumns(ix->index);
        if (acceptWord("WITH")) {
            bool any = false;
            for (;;) {
                if (acceptWord("PRIMARY")) ix->index.primaryKey = ix->index.unique = true;
                else if (cur().isWord("DISALLOW") && peek().isWord("NULL")) { pos += 2; ix->index.required = true; }
                else if (cur().isWord("IGNORE") && peek().isWord("NULL")) { pos += 2; ix->index.ignoreNulls = true; }
                else break;
                any = true;
            }
            if (!any) fail(cur(), "expected PRIMARY, DISALLOW NULL or IGNORE NULL after WITH");
        }
        st.index = std::move(ix);
    }

    // FoxPro: INDEX ON expr TAG name [FOR cond] [ASCENDING|DESCENDING]
    //         [UNIQUE|CANDIDATE] [ADDITIVE] on the table opened by USE.
    void foxIndexOn(Statement& st) {
        stmtName = "INDEX ON";
        st.kind = StatementKind::CreateIndex;
        auto ix = std::make_unique<IndexStatement>();
        const Token& at = cur();
        ix->index.expression = keyExpression({"TAG", "TO"});
        if (at.kind == Tok::Word && iequals(at.text, ix->index.expression)) ix->index.columns = {ix->index.expression};
        if (cur().isWord("TO")) fail(cur(), "only tags of the structural index (TAG name) are made here");
        expectWord("TAG");
        ix->index.name = name("tag name");
        for (;;) {
            if (acceptWord("OF")) fail(tk[pos - 1], "only tags of the structural index are made here (leave out OF)");
            else if (acceptWord("COLLATE")) ix->index.collation = unquote(take());
            else if (acceptWord("FOR")) ix->index.filter = keyExpression({"ASCENDING", "DESCENDING", "UNIQUE", "CANDIDATE", "ADDITIVE", "COMPACT", "COLLATE"});
            else if (acceptWord("ASCENDING") || acceptWord("COMPACT") || acceptWord("ADDITIVE")) {}
            else if (acceptWord("DESCENDING")) ix->index.descending = {true};
            else if (acceptWord("CANDIDATE")) ix->index.unique = true;
            else if (cur().isWord("UNIQUE")) fail(cur(), "UNIQUE tags (first record of each key) are not made here; use CANDIDATE");
            else break;
        }
        if (!ix->index.columns.empty()) ix->index.expression.clear();
        st.index = std::move(ix);
    }

    void statement(Statement& st) {
        const Token& t = cur();
        if (!fox() && t.isWord("PARAMETERS") && peek().kind != Tok::End) {
            // The declarations stay with a query; other statements get
            // their values from nowhere here.
            const Nest nest(*this, t);
            auto parameters = parameterList();
            statement(st);
            if (st.kind == StatementKind::Select && st.select) st.select->parameters = std::move(parameters);
            return;
        }
        if (t.isWord("SELECT")) {
            stmtName = "SELECT";
            st.kind = StatementKind::Select;
            st.select = select();
            if (st.select->into) stmtName = "SELECT INTO";
        } else if (acceptWord("INSERT")) insert(st);
        else if (acceptWord("UPDATE")) update(st);
        else if (acceptWord("DELETE")) remove(st);
        else if (!fox() && cur().isWord("CREATE") && (peek().isWord("INDEX") || (peek().isWord("UNIQUE") && peek(2).isWord("INDEX")))) {
            ++pos;
            createIndex(st);
        } else if (!fox() && cur().isWord("DROP") && peek().isWord("INDEX")) {
            pos += 2;
            stmtName = "DROP INDEX";
            st.kind = StatementKind::DropIndex;
            auto ix = std::make_unique<IndexStatement>();
            ix->index.name = name("index name");
            expectWord("ON");
            ix->table = tableName();
            st.index = std::move(ix);
        } else if (fox() && cur().isWord("INDEX") && peek().isWord("ON")) {
            pos += 2;
            foxIndexOn(st);
        } else if (fox() && acceptWord("USE")) {
            stmtName = "USE";
            st.kind = StatementKind::Use;
            st.index = std::make_unique<IndexStatement>();
            if (cur().kind != Tok::End && !cur().is(";")) st.index->table = tableName();
        } else if (acceptWord("CREATE")) {
            if (acceptWord("TABLE") || (fox() && acceptWord("DBF"))) createTable(st);
            else if (acceptWord("VIEW") || (acceptWord("SQL") && (expectWord("VIEW"), true))) createView(st);
            else fail(cur(), "expected TABLE or VIEW after CREATE");
        } else if (acceptWord("DROP")) {
            const bool view = cur().isWord("VIEW");
            if (!acceptWord("TABLE") && !acceptWord("VIEW")) fail(cur(), "expected TABLE or VIEW after DROP");
            stmtName = view ? "DROP VIEW" : "DROP TABLE";
            st.kind = view ? StatementKind::DropView : StatementKind::DropTable;
            auto d = std::make_unique<DropObject>();
            d->view = view;
            d->name = tableName();
            if (fox()) acceptWord("RECYCLE");
            st.drop = std::move(d);
        } else if (acceptWord("ALTER")) {
            expectWord("TABLE");
            alterTable(st);
        } else {
            fail(t, fox() ? "expected SELECT, INSERT, UPDATE, DELETE, CREATE, DROP, ALTER, INDEX or USE"
                          : "expected SELECT, INSERT, UPDATE, DELETE, CREATE, DROP or ALTER");
        }
        accept(";");
        if (cur().kind != Tok::End) fail(cur(), "unexpected text after the end of the statement");
    }
};

bool Parser::parse(std::string_view text, Statement& out) {
    try {
        tokenize(text, dialect_, tokens_, strictFoxPro_);
    } catch (const SyntaxIssue& issue) {
        ParseError e;
        e.offset = issue.offset;
        e.near = std::string(text.substr(issue.offset, 20));
        e.detail = issue.message;
        throw e;
    }
    if (tokens_.size() == 1 || (tokens_.size() == 2 && tokens_[0].is(";"))) return false;
    // An INSERT tree handed back for reuse keeps its vectors' room: a script
    // of INSERT statements then allocates little per statement.
    std::unique_ptr<Insert> spare = std::move(out.insert);
    out = Statement{};
    if (spare) {
        spare->table = TableName{};
        spare->columns.clear();
        spare->columnListText = {};
        spare->select.reset();
        // Rows are emptied one by one as they are refilled; the rest go.
    }
    ParserImpl p{tokens_, text, dialect_, 0, {}, std::move(spare)};
    p.statement(out);
    return true;
}

std::unique_ptr<Select> Parser::parseSelect(std::string_view text) {
    try {
        tokenize(text, dialect_, tokens_, strictFoxPro_);
    } catch (const SyntaxIssue& issue) {
        ParseError e;
        e.offset = issue.offset;
        e.statement = "SELECT";
        e.near = std::string(text.substr(issue.offset, 20));
        e.detail = issue.message;
        throw e;
    }
    ParserImpl p{tokens_, text, dialect_, 0, {}, nullptr};
    p.stmtName = "SELECT";
    auto s = p.select();
    p.accept(";");
    if (p.cur().kind != Tok::End) p.fail(p.cur(), "unexpected text after the end of the query");
    return s;
}

} // namespace qm::sql
