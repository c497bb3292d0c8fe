#include "xbase/keyexpr.h"

#include "xbase/cdx.h"
#include "value/value.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace qm::xbase {

namespace {

// ---------------------------------------------------------------- values

enum class Kind : std::uint8_t { Null, Str, Num, Date, DateTime, Bool };

struct Val {
    Kind kind = Kind::Null;
    std::string s;     // Str: code-page bytes
    double n = 0;      // Num; Date: Julian day (0 = empty); DateTime: Julian day + fraction
    bool b = false;
};

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Null: return "null";
    case Kind::Str: return "character";
    case Kind::Num: return "numeric";
    case Kind::Date: return "date";
    case Kind::DateTime: return "datetime";
    case Kind::Bool: return "logical";
    }
    return "?";
}

std::int64_t julianDay(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const std::int64_t yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void civilFromJulian(std::int64_t jdn, int& y, int& m, int& d) {
    const std::int64_t a = jdn + 32044;
    const std::int64_t b = (4 * a + 3) / 146097;
    const std::int64_t c = a - 146097 * b / 4;
    const std::int64_t dd = (4 * c + 3) / 1461;
    const std::int64_t e = c - 1461 * dd / 4;
    const std::int64_t mm = (5 * e + 2) / 153;
    d = static_cast<int>(e - (153 * mm + 2) / 5 + 1);
    m = static_cast<int>(mm + 3 - 12 * (mm / 10));
    y = static_cast<int>(100 * b + dd - 4800 + mm / 10);
}

// ---------------------------------------------------------------- case mapping

// Case mapping of code-page bytes.  Returns false for a byte whose mapping
// this program does not know for the code page.
bool mapCase(unsigned char c, bool upper, int codePage, unsigned char& out) {
    if (c < 0x80) {
        if (upper && c >= 'a' && c <= 'z') out = static_cast<unsigned char>(c - 32);
        else if (!upper && c >= 'A' && c <= 'Z') out = static_cast<unsigned char>(c + 32);
        else out = c;
        return true;
    }
    if (codePage == 1252) {
        if (upper && c >= 0xE0 && c <= 0xFE && c != 0xF7) { out = static_cast<unsigned char>(c - 0x20); return true; }
        if (!upper && c >= 0xC0 && c <= 0xDE && c != 0xD7) { out = static_cast<unsigned char>(c + 0x20); return true; }
        // Letters whose case partner lies elsewhere in the code page: not guessed.
        switch (c) {
        case 0x83: case 0x8A: case 0x8C: case 0x8E: case 0x9A: case 0x9C: case 0x9E: case 0x9F: case 0xFF:
            return false;
        default:
            out = c;
            return true;
        }
    }
    if (codePage == 1251) {
        if (upper && c >= 0xE0) { out = static_cast<unsigned char>(c - 0x20); return true; }
        if (!upper && c >= 0xC0 && c <= 0xDF) { out = static_cast<unsigned char>(c + 0x20); return true; }
        if (upper && c == 0xB8) { out = 0xA8; return true; }
        if (!upper && c == 0xA8) { out = 0xB8; return true; }
        return false;
    }
    return false;
}

// ---------------------------------------------------------------- syntax tree

enum class Op : std::uint8_t {
    Field, Literal, Deleted,
    Add, Sub, Mul, Div, Neg,
    Eq, ExactEq, Ne, Lt, Le, Gt, Ge,
    And, Or, Not,
    Upper, Lower, AllTrim, LTrim, RTrim, PadL, PadR, PadC, Left, Right, Substr,
    Str, Val, Dtos, Ttoc, Bintoc, Empty, IsNull, Iif, Int, Abs, Chr, Space, Replicate,
};

struct Node {
    Op op = Op::Literal;
    std::vector<std::unique_ptr<Node>> args;
    Val literal;
    int field = -1;
    // Static type, as FoxPro sizes an index on an empty record.
    Kind kind = Kind::Null;
    int width = 0;
};

struct FunctionName {
    const char* name;
    Op op;
    int minArgs, maxArgs;
};

const FunctionName kFunctions[] = {
    {"UPPER", Op::Upper, 1, 1},      {"LOWER", Op::Lower, 1, 1},     {"ALLTRIM", Op::AllTrim, 1, 1},
    {"LTRIM", Op::LTrim, 1, 1},      {"RTRIM", Op::RTrim, 1, 1},     {"TRIM", Op::RTrim, 1, 1},
    {"PADL", Op::PadL, 2, 3},        {"PADR", Op::PadR, 2, 3},       {"PADC", Op::PadC, 2, 3},
    {"LEFT", Op::Left, 2, 2},        {"RIGHT", Op::Right, 2, 2},     {"SUBSTR", Op::Substr, 2, 3},
    {"STR", Op::Str, 1, 3},          {"VAL", Op::Val, 1, 1},         {"DTOS", Op::Dtos, 1, 1},
    {"DTOC", Op::Dtos, 2, 2},        {"TTOC", Op::Ttoc, 2, 2},       {"BINTOC", Op::Bintoc, 1, 2},
    {"DELETED", Op::Deleted, 0, 1},  {"EMPTY", Op::Empty, 1, 1},     {"ISNULL", Op::IsNull, 1, 1},
    {"IIF", Op::Iif, 3, 3},          {"INT", Op::Int, 1, 1},         {"ABS", Op::Abs, 1, 1},
    {"CHR", Op::Chr, 1, 1},          {"SPACE", Op::Space, 1, 1},     {"REPLICATE", Op::Replicate, 2, 2},
};

std::string upperAscii(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

const FunctionName* findFunction(const std::string& upperName) {
    // FoxPro accepts a function name shortened to its first four letters.
    for (const auto& f : kFunctions) {
        const std::string_view full(f.name);
        if (upperName == full) return &f;
    }
    if (upperName.size() >= 4)
        for (const auto& f : kFunctions) {
            const std::string_view full(f.name);
            if (full.size() > upperName.size() && full.substr(0, upperName.size()) == upperName) return &f;
        }
    return nullptr;
}

// ---------------------------------------------------------------- parser

struct Token {
    enum Type { End, Ident, Number, String, Punct, DotWord } type = End;
    std::string text; // identifiers and dot-words upper-cased
    double number = 0;
    std::size_t pos = 0;
};

class Parser {
public:
    Parser(std::string_view text, std::span<const DbfField> fields, std::span<const std::string> longNames)
        : text_(text), fields_(fields), longNames_(longNames) { advance(); }

    std::unique_ptr<Node> parse() {
        auto n = parseOr();
        if (tok_.type != Token::End) fail("unexpected '" + tok_.text + "'");
        return n;
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("index expression '" + std::string(text_) + "': " + what);
    }

private:
    void advance() {
        std::size_t& p = pos_;
        while (p < text_.size() && (text_[p] == ' ' || text_[p] == '\t' || text_[p] == '\r' || text_[p] == '\n')) ++p;
        tok_ = Token{};
        tok_.pos = p;
        if (p >= text_.size()) return;
        const char c = text_[p];
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t s = p;
            while (p < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[p])) || text_[p] == '_')) ++p;
            tok_.type = Token::Ident;
            tok_.text = upperAscii(text_.substr(s, p - s));
            return;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            (c == '.' && p + 1 < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p + 1])))) {
            std::size_t s = p;
            while (p < text_.size() && (std::isdigit(static_cast<unsigned char>(text_[p])) || text_[p] == '.')) ++p;
            tok_.type = Token::Number;
            tok_.text = std::string(text_.substr(s, p - s));
            char* end = nullptr;
            tok_.number = std::strtod(tok_.text.c_str(), &end);
            if (end != tok_.text.c_str() + tok_.text.size()) fail("bad number '" + tok_.text + "'");
            return;
        }
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            const std::size_t e = text_.find(close, p + 1);
            if (e == std::string_view::npos) fail("a text literal is not closed");
            tok_.type = Token::String;
            tok_.text = std::string(text_.substr(p + 1, e - p - 1));
            p = e + 1;
            return;
        }
        if (c == '.') {
            const std::size_t e = text_.find('.', p + 1);
            if (e != std::string_view::npos) {
                const std::string w = upperAscii(text_.substr(p + 1, e - p - 1));
                if (w == "T" || w == "F" || w == "Y" || w == "N" || w == "NULL" || w == "AND" || w == "OR" ||
                    w == "NOT") {
                    tok_.type = Token::DotWord;
                    tok_.text = w;
                    p = e + 1;
                    return;
                }
            }
        }
        static const char* two[] = {"==", "<>", "!=", "<=", ">=", "->"};
        for (const char* t : two)
            if (text_.substr(p, 2) == t) {
                tok_.type = Token::Punct;
                tok_.text = t;
                p += 2;
                return;
            }
        if (std::strchr("+-*/(),=<>#!.", c)) {
            tok_.type = Token::Punct;
            tok_.text = std::string(1, c);
            ++p;
            return;
        }
        fail(std::string("unexpected character '") + c + "'");
    }

    bool isPunct(const char* p) const { return tok_.type == Token::Punct && tok_.text == p; }
    bool isWord(const char* w) const {
        return (tok_.type == Token::DotWord || tok_.type == Token::Ident) && tok_.text == w;
    }

    static std::unique_ptr<Node> make(Op op, std::unique_ptr<Node> a = {}, std::unique_ptr<Node> b = {}) {
        auto n = std::make_unique<Node>();
        n->op = op;
        if (a) n->args.push_back(std::move(a));
        if (b) n->args.push_back(std::move(b));
        return n;
    }

    std::unique_ptr<Node> parseOr() {
        auto l = parseAnd();
        while (isWord("OR")) {
            advance();
            l = make(Op::Or, std::move(l), parseAnd());
        }
        return l;
    }
    std::unique_ptr<Node> parseAnd() {
        auto l = parseNot();
        while (isWord("AND")) {
            advance();
            l = make(Op::And, std::move(l), parseNot());
        }
        return l;
    }
    std::unique_ptr<Node> parseNot() {
        if (isWord("NOT") || isPunct("!")) {
            advance();
            return make(Op::Not, parseNot());
        }
        return parseCompare();
    }
    std::unique_ptr<Node> parseCompare() {
        auto l = parseAdd();
        static const std::pair<const char*, Op> ops[] = {{"==", Op::ExactEq}, {"=", Op::Eq},  {"<>", Op::Ne},
                                                         {"!=", Op::Ne},      {"#", Op::Ne},  {"<=", Op::Le},
                                                         {">=", Op::Ge},      {"<", Op::Lt},  {">", Op::Gt}};
        for (const auto& [t, op] : ops)
            if (isPunct(t)) {
                advance();
                return make(op, std::move(l), parseAdd());
            }
        return l;
    }
    std::unique_ptr<Node> parseAdd() {
        auto l = parseMul();
        while (isPunct("+") || isPunct("-")) {
            const Op op = tok_.text == "+" ? Op::Add : Op::Sub;
            advance();
            l = make(op, std::move(l), parseMul());
        }
        return l;
    }
    std::unique_ptr<Node> parseMul() {
        auto l = parseUnary();
        while (isPunct("*") || isPunct("/")) {
            const Op op = tok_.text == "*" ? Op::Mul : Op::Div;
            advance();
            l = make(op, std::move(l), parseUnary());
        }
        return l;
    }
    std::unique_ptr<Node> parseUnary() {
        if (isPunct("-")) {
            advance();
            return make(Op::Neg, parseUnary());
        }
        if (isPunct("+")) {
            advance();
            return parseUnary();
        }
        return parsePrimary();
    }
    std::unique_ptr<Node> literal(Val v) {
        auto n = make(Op::Literal);
        n->literal = std::move(v);
        return n;
    }
    std::unique_ptr<Node> parsePrimary() {
        if (tok_.type == Token::Number) {
            Val v;
            v.kind = Kind::Num;
            v.n = tok_.number;
            advance();
            return literal(std::move(v));
        }
        if (tok_.type == Token::String) {
            Val v;
            v.kind = Kind::Str;
            v.s = tok_.text;
            advance();
            return literal(std::move(v));
        }
        if (tok_.type == Token::DotWord) {
            Val v;
            if (tok_.text == "NULL") {
                v.kind = Kind::Null;
            } else if (tok_.text == "T" || tok_.text == "Y" || tok_.text == "F" || tok_.text == "N") {
                v.kind = Kind::Bool;
                v.b = tok_.text == "T" || tok_.text == "Y";
            } else {
                fail("unexpected ." + tok_.text + ".");
            }
            advance();
            return literal(std::move(v));
        }
        if (isPunct("(")) {
            advance();
            auto n = parseOr();
            if (!isPunct(")")) fail("a ')' is missing");
            advance();
            return n;
        }
        if (tok_.type == Token::Ident) {
            std::string name = tok_.text;
            advance();
            if (isPunct("(")) return parseCall(name);
            // alias.field or alias->field
            if ((isPunct(".") || isPunct("->"))) {
                advance();
                if (tok_.type != Token::Ident) fail("a field name must follow the alias " + name);
                name = tok_.text;
                advance();
            }
            for (std::size_t i = 0; i < fields_.size(); ++i)
                if (upperAscii(fields_[i].name) == name ||
                    (i < longNames_.size() && upperAscii(longNames_[i]) == name)) {
                    auto n = make(Op::Field);
                    n->field = static_cast<int>(i);
                    return n;
                }
            fail("'" + name + "' is not a field of the table");
        }
        if (tok_.type == Token::End) fail("the expression ends too early");
        fail("unexpected '" + tok_.text + "'");
    }
    std::unique_ptr<Node> parseCall(const std::string& name) {
        const FunctionName* f = findFunction(name);
        if (!f) fail("the function " + name + "() is not supported");
        advance(); // (
        auto n = make(f->op);
        if (!isPunct(")")) {
            for (;;) {
                n->args.push_back(parseOr());
                if (isPunct(",")) {
                    advance();
                    continue;
                }
                break;
            }
        }
        if (!isPunct(")")) fail("a ')' is missing after the arguments of " + name + "()");
        advance();
        const int argc = static_cast<int>(n->args.size());
        if (argc < f->minArgs || argc > f->maxArgs)
            fail(std::string(f->name) + "() takes " + std::to_string(f->minArgs) +
                 (f->maxArgs != f->minArgs ? " to " + std::to_string(f->maxArgs) : std::string()) + " argument(s)");
        if (std::string_view(f->name) == "DTOC") n->args.emplace_back(); // marks the DTOC form (checked below)
        return n;
    }

    std::string_view text_;
    std::span<const DbfField> fields_;
    std::span<const std::string> longNames_;
    std::size_t pos_ = 0;
    Token tok_;
};

// ---------------------------------------------------------------- formatting helpers

// STR(): right-aligned in `len`, `dec` decimals, rounded half away from zero;
// decimals are dropped to make the number fit, asterisks when it cannot.
std::string formatStr(double v, int len, int dec) {
    if (len <= 0) return std::string();
    if (std::isnan(v) || std::isinf(v)) return std::string(len, '*');
    for (int d = std::max(0, dec); d >= 0; --d) {
        const int room = d > 0 ? len - d - 1 : len;
        if (d > 0 && room < 1) continue;
        const long double scaled = std::roundl(std::fabs(static_cast<long double>(v)) * std::pow(10.0L, d));
        std::string digits;
        if (scaled < 1e18L) {
            digits = std::to_string(static_cast<unsigned long long>(scaled));
        } else {
            char buf[512];
            std::snprintf(buf, sizeof buf, "%.0Lf", scaled);
            digits = buf;
        }
        if (static_cast<int>(digits.size()) <= d) digits.insert(0, static_cast<std::size_t>(d + 1 - digits.size()), '0');
        std::string body = d > 0 ? digits.substr(0, digits.size() - d) + "." + digits.substr(digits.size() - d) : digits;
        const bool negative = v < 0 && scaled != 0;
        if (negative) body.insert(0, "-");
        if (static_cast<int>(body.size()) <= len) return std::string(len - body.size(), ' ') + body;
    }
    return std::string(len, '*');
}

// VAL(): leading blanks, sign, digits, point; stops at the first other character.
double parseVal(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string num;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) num += s[i++];
    bool point = false;
    while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || (s[i] == '.' && !point))) {
        if (s[i] == '.') point = true;
        num += s[i++];
    }
    if (num.empty() || num == "-" || num == "+") return 0;
    return std::strtod(num.c_str(), nullptr);
}

std::string dateText(const Val& v) {
    if (v.kind == Kind::Null) return std::string();
    const std::int64_t jdn = static_cast<std::int64_t>(std::floor(v.n));
    if (jdn <= 0) return std::string(8, ' ');
    int y, m, d;
    civilFromJulian(jdn, y, m, d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
    return buf;
}

} // namespace

// ---------------------------------------------------------------- the compiled expression

struct KeyExpression::Impl {
    std::string text;
    std::vector<DbfField> fields;
    bool hasNullFlags = false;
    DbfField nullFlags;
    int codePage = 1252;
    std::unique_ptr<Node> root;

    [[noreturn]] void fail(const std::string& what) const {
        throw Error("index expression '" + text + "': " + what);
    }

    static int constInt(const Node& n, const Impl& self, const char* what) {
        if (n.op != Op::Literal || n.literal.kind != Kind::Num)
            self.fail(std::string(what) + " must be a number written in the expression");
        return static_cast<int>(n.literal.n);
    }

    void typeCheck(Node& n) {
        for (auto& a : n.args)
            if (a) typeCheck(*a);
        auto arg = [&](std::size_t i) -> Node& { return *n.args[i]; };
        auto want = [&](std::size_t i, Kind k, const char* fn) {
            if (arg(i).kind != k && arg(i).kind != Kind::Null)
                fail(std::string(fn) + "() needs a " + kindName(k) + " argument, not " + kindName(arg(i).kind));
        };
        switch (n.op) {
        case Op::Literal:
            n.kind = n.literal.kind;
            n.width = n.kind == Kind::Str ? static_cast<int>(n.literal.s.size()) : 8;
            break;
        case Op::Field: {
            const DbfField& f = fields[static_cast<std::size_t>(n.field)];
            if (f.isMemo())
                fail("the memo field " + f.name + " cannot be part of a key here");
            switch (f.type) {
            case 'C': case 'V': case 'Q': n.kind = Kind::Str; n.width = f.length; break;
            case 'N': case 'F': case 'B': case 'Y': case 'I': n.kind = Kind::Num; n.width = 8; break;
            case 'D': n.kind = Kind::Date; n.width = 8; break;
            case 'T': n.kind = Kind::DateTime; n.width = 8; break;
            case 'L': n.kind = Kind::Bool; n.width = 1; break;
            default:
                fail("the field " + f.name + " of type " + std::string(1, f.type) + " cannot be part of a key here");
            }
            break;
        }
        case Op::Deleted: n.kind = Kind::Bool; n.width = 1; break;
        case Op::Add:
        case Op::Sub: {
            const Kind a = arg(0).kind, b = arg(1).kind;
            if (a == Kind::Str && b == Kind::Str) { n.kind = Kind::Str; n.width = arg(0).width + arg(1).width; }
            else if (a == Kind::Num && b == Kind::Num) { n.kind = Kind::Num; n.width = 8; }
            else if (a == Kind::Date && b == Kind::Num) { n.kind = Kind::Date; n.width = 8; }
            else if (n.op == Op::Sub && a == Kind::Date && b == Kind::Date) { n.kind = Kind::Num; n.width = 8; }
            else fail(std::string("cannot ") + (n.op == Op::Add ? "add " : "subtract ") + kindName(b) +
                      (n.op == Op::Add ? " to " : " from ") + kindName(a));
            break;
        }
        case Op::Mul: case Op::Div:
            want(0, Kind::Num, n.op == Op::Mul ? "*" : "/");
            want(1, Kind::Num, n.op == Op::Mul ? "*" : "/");
            n.kind = Kind::Num; n.width = 8;
            break;
        case Op::Neg: want(0, Kind::Num, "-"); n.kind = Kind::Num; n.width = 8; break;
        case Op::Eq: case Op::ExactEq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge:
            if (arg(0).kind != arg(1).kind && arg(0).kind != Kind::Null && arg(1).kind != Kind::Null)
                fail(std::string("cannot compare ") + kindName(arg(0).kind) + " with " + kindName(arg(1).kind));
            n.kind = Kind::Bool; n.width = 1;
            break;
        case Op::And: case Op::Or:
            want(0, Kind::Bool, n.op == Op::And ? ".AND." : ".OR.");
            want(1, Kind::Bool, n.op == Op::And ? ".AND." : ".OR.");
            n.kind = Kind::Bool; n.width = 1;
            break;
        case Op::Not: want(0, Kind::Bool, ".NOT."); n.kind = Kind::Bool; n.width = 1; break;
        case Op::Upper: case Op::Lower: case Op::AllTrim: case Op::LTrim: case Op::RTrim:
            want(0, Kind::Str, "UPPER/LOWER/TRIM");
            n.kind = Kind::Str; n.width = arg(0).width;
            break;
        case Op::PadL: case Op::PadR: case Op::PadC:
            if (arg(0).kind != Kind::Str) fail("PADL/PADR/PADC are supported on character values only");
            n.kind = Kind::Str;
            n.width = constInt(arg(1), *this, "the width of PADL/PADR/PADC");
            if (n.args.size() == 3 && (arg(2).op != Op::Literal || arg(2).literal.kind != Kind::Str))
                fail("the pad character of PADL/PADR/PADC must be written in the expression");
            break;
        case Op::Left: case Op::Right:
            want(0, Kind::Str, "LEFT/RIGHT");
            n.kind = Kind::Str;
            n.width = std::min(arg(0).width, std::max(0, constInt(arg(1), *this, "the length of LEFT/RIGHT")));
            break;
        case Op::Substr: {
            want(0, Kind::Str, "SUBSTR");
            const int start = constInt(arg(1), *this, "the start of SUBSTR");
            const int avail = std::max(0, arg(0).width - std::max(start, 1) + 1);
            n.kind = Kind::Str;
            n.width = n.args.size() == 3 ? std::min(avail, std::max(0, constInt(arg(2), *this, "the length of SUBSTR")))
                                         : avail;
            break;
        }
        case Op::Str:
            want(0, Kind::Num, "STR");
            n.kind = Kind::Str;
            n.width = n.args.size() >= 2 ? constInt(arg(1), *this, "the length of STR") : 10;
            if (n.args.size() == 3) constInt(arg(2), *this, "the decimals of STR");
            if (n.width < 1 || n.width > 255) fail("STR() length out of range");
            break;
        case Op::Val: want(0, Kind::Str, "VAL"); n.kind = Kind::Num; n.width = 8; break;
        case Op::Dtos:
            if (n.args.size() == 3) { // DTOC(d, 1)
                n.args.pop_back();
                if (constInt(arg(1), *this, "the second argument of DTOC") != 1)
                    fail("DTOC() is supported only in the form DTOC(date, 1)");
                n.args.pop_back();
            }
            if (arg(0).kind == Kind::DateTime) fail("DTOS() of a datetime is not supported");
            want(0, Kind::Date, "DTOS");
            n.kind = Kind::Str; n.width = 8;
            break;
        case Op::Ttoc:
            want(0, Kind::DateTime, "TTOC");
            if (constInt(arg(1), *this, "the second argument of TTOC") != 1)
                fail("TTOC() is supported only in the form TTOC(datetime, 1)");
            n.kind = Kind::Str; n.width = 14;
            break;
        case Op::Bintoc: {
            want(0, Kind::Num, "BINTOC");
            const int size = n.args.size() == 2 ? constInt(arg(1), *this, "the size of BINTOC") : 4;
            if (size != 1 && size != 2 && size != 4) fail("BINTOC() is supported with 1, 2 or 4 bytes only");
            n.kind = Kind::Str; n.width = size;
            break;
        }
        case Op::Empty: case Op::IsNull: n.kind = Kind::Bool; n.width = 1; break;
        case Op::Iif:
            want(0, Kind::Bool, "IIF");
            if (arg(1).kind != arg(2).kind) fail("the two results of IIF() have different types");
            n.kind = arg(1).kind;
            n.width = std::max(arg(1).width, arg(2).width);
            break;
        case Op::Int: case Op::Abs: want(0, Kind::Num, "INT/ABS"); n.kind = Kind::Num; n.width = 8; break;
        case Op::Chr: want(0, Kind::Num, "CHR"); n.kind = Kind::Str; n.width = 1; break;
        case Op::Space:
            n.kind = Kind::Str;
            n.width = std::max(0, constInt(arg(0), *this, "the length of SPACE"));
            break;
        case Op::Replicate:
            want(0, Kind::Str, "REPLICATE");
            n.kind = Kind::Str;
            n.width = arg(0).width * std::max(0, constInt(arg(1), *this, "the count of REPLICATE"));
            break;
        }
    }

    // ---- evaluation
    bool isNull(const DbfField& f, std::span<const std::uint8_t> rec) const {
        if (f.nullBit < 0 || !hasNullFlags) return false;
        const std::size_t byte = nullFlags.offset + static_cast<std::size_t>(f.nullBit) / 8;
        if (byte >= rec.size()) fail("the record is shorter than its _NullFlags field");
        return (rec[byte] >> (f.nullBit % 8)) & 1;
    }

    void readField(const DbfField& f, std::span<const std::uint8_t> rec, Val& out) const {
        if (static_cast<std::size_t>(f.offset) + f.length > rec.size())
            fail("the record is shorter than the field " + f.name);
        if (isNull(f, rec)) { out.kind = Kind::Null; return; }
        const auto* p = rec.data() + f.offset;
        switch (f.type) {
        case 'C':
            out.kind = Kind::Str;
            out.s.assign(reinterpret_cast<const char*>(p), f.length);
            return;
        case 'V': case 'Q': {
            std::size_t len = f.length;
            if (f.varLengthBit >= 0 && hasNullFlags) {
                const std::size_t byte = nullFlags.offset + static_cast<std::size_t>(f.varLengthBit) / 8;
                if ((rec[byte] >> (f.varLengthBit % 8)) & 1) len = std::min<std::size_t>(p[f.length - 1], f.length);
            }
            out.kind = Kind::Str;
            out.s.assign(reinterpret_cast<const char*>(p), len);
            return;
        }
        case 'N': case 'F': {
            std::string_view t(reinterpret_cast<const char*>(p), f.length);
            out.kind = Kind::Num;
            const std::size_t s = t.find_first_not_of(" \0", 0, 2);
            if (s == std::string_view::npos) { out.n = 0; return; }
            if (t.find('*') != std::string_view::npos)
                fail("the field " + f.name + " holds an overflow marker ('" + std::string(t) + "')");
            std::string num(t.substr(s));
            while (!num.empty() && (num.back() == ' ' || num.back() == '\0')) num.pop_back();
            for (char& c : num) if (c == ',') c = '.';
            char* end = nullptr;
            out.n = std::strtod(num.c_str(), &end);
            if (end != num.c_str() + num.size()) fail("the field " + f.name + " holds '" + num + "', not a number");
            return;
        }
        case 'I': {
            std::int32_t v;
            std::memcpy(&v, p, 4);
            out.kind = Kind::Num;
            out.n = v;
            return;
        }
        case 'B': {
            double v;
            std::memcpy(&v, p, 8);
            out.kind = Kind::Num;
            out.n = v;
            return;
        }
        case 'Y': {
            std::int64_t v;
            std::memcpy(&v, p, 8);
            out.kind = Kind::Num;
            out.n = static_cast<double>(v) / 10000.0;
            return;
        }
        case 'D': {
            out.kind = Kind::Date;
            out.n = 0;
            std::string_view t(reinterpret_cast<const char*>(p), 8);
            if (t == "        " || t == "00000000" || t == std::string_view("\0\0\0\0\0\0\0\0", 8)) return;
            int y = 0, m = 0, d = 0;
            for (int i = 0; i < 8; ++i)
                if (!std::isdigit(static_cast<unsigned char>(t[i])))
                    fail("the field " + f.name + " holds '" + std::string(t) + "', not a date");
            y = std::stoi(std::string(t.substr(0, 4)));
            m = std::stoi(std::string(t.substr(4, 2)));
            d = std::stoi(std::string(t.substr(6, 2)));
            if (m < 1 || m > 12 || d < 1 || d > 31)
                fail("the field " + f.name + " holds '" + std::string(t) + "', not a date");
            out.n = static_cast<double>(julianDay(y, m, d));
            return;
        }
        case 'T': {
            std::int32_t jdn, ms;
            std::memcpy(&jdn, p, 4);
            std::memcpy(&ms, p + 4, 4);
            out.kind = Kind::DateTime;
            if (std::memcmp(p, "        ", 8) == 0) jdn = 0, ms = 0;
            out.n = jdn <= 0 ? 0 : jdn + ms / 86400000.0;
            return;
        }
        case 'L':
            out.kind = Kind::Bool;
            out.b = *p == 'T' || *p == 't' || *p == 'Y' || *p == 'y';
            return;
        default:
            fail("the field " + f.name + " cannot be read here");
        }
    }

    static void trimRight(std::string& s) {
        while (!s.empty() && s.back() == ' ') s.pop_back();
    }
    static void trimLeft(std::string& s) {
        std::size_t i = 0;
        while (i < s.size() && s[i] == ' ') ++i;
        s.erase(0, i);
    }

    static bool truthy(const Val& v) { return v.kind == Kind::Bool && v.b; }

    int compare(const Val& a, const Val& b, bool exact) const {
        if (a.kind == Kind::Str) {
            std::string l = a.s, r = b.s;
            if (exact) {
                trimRight(l);
                trimRight(r);
            } else if (r.size() < l.size()) {
                l.resize(r.size()); // SET EXACT OFF: compare up to the right operand's length
            }
            if (l.size() < r.size()) l.resize(r.size(), ' ');
            if (r.size() < l.size()) r.resize(l.size(), ' ');
            return std::memcmp(l.data(), r.data(), l.size());
        }
        if (a.kind == Kind::Bool) return static_cast<int>(a.b) - static_cast<int>(b.b);
        return a.n < b.n ? -1 : (a.n > b.n ? 1 : 0);
    }

    void eval(const Node& n, std::span<const std::uint8_t> rec, Val& out) const {
        auto sub = [&](std::size_t i) {
            Val v;
            eval(*n.args[i], rec, v);
            return v;
        };
        switch (n.op) {
        case Op::Literal: out = n.literal; return;
        case Op::Field: readField(fields[static_cast<std::size_t>(n.field)], rec, out); return;
        case Op::Deleted:
            out.kind = Kind::Bool;
            out.b = !rec.empty() && rec[0] == '*';
            return;
        default: break;
        }
        // Logical operators: null is false.
        if (n.op == Op::And || n.op == Op::Or || n.op == Op::Not) {
            out.kind = Kind::Bool;
            if (n.op == Op::Not) { out.b = !truthy(sub(0)); return; }
            const bool a = truthy(sub(0));
            if (n.op == Op::And) out.b = a && truthy(sub(1));
            else out.b = a || truthy(sub(1));
            return;
        }
        if (n.op == Op::IsNull) {
            const Val a = sub(0);
            out.kind = Kind::Bool;
            out.b = a.kind == Kind::Null;
            return;
        }
        if (n.op == Op::Iif) {
            const Val c = sub(0);
            eval(*n.args[truthy(c) ? 1 : 2], rec, out);
            if (out.kind == Kind::Str && static_cast<int>(out.s.size()) < n.width) out.s.resize(n.width, ' ');
            return;
        }
        std::vector<Val> a;
        a.reserve(n.args.size());
        for (std::size_t i = 0; i < n.args.size(); ++i) {
            a.push_back(sub(i));
            if (a.back().kind == Kind::Null) {
                if (n.op == Op::Empty) break;
                out = Val{}; // null propagates
                return;
            }
        }
        switch (n.op) {
        case Op::Add:
        case Op::Sub:
            if (a[0].kind == Kind::Str) {
                out.kind = Kind::Str;
                if (n.op == Op::Add) {
                    out.s = a[0].s + a[1].s;
                } else { // trailing blanks of the left part move to the end
                    std::string l = a[0].s;
                    const std::size_t blanks = l.size();
                    trimRight(l);
                    out.s = l + a[1].s + std::string(blanks - l.size(), ' ');
                }
            } else if (a[0].kind == Kind::Date && a[1].kind == Kind::Date) {
                out.kind = Kind::Num;
                out.n = a[0].n - a[1].n;
            } else {
                out.kind = a[0].kind;
                out.n = n.op == Op::Add ? a[0].n + a[1].n : a[0].n - a[1].n;
            }
            return;
        case Op::Mul: out.kind = Kind::Num; out.n = a[0].n * a[1].n; return;
        case Op::Div:
            if (a[1].n == 0) fail("division by zero");
            out.kind = Kind::Num; out.n = a[0].n / a[1].n;
            return;
        case Op::Neg: out.kind = Kind::Num; out.n = -a[0].n; return;
        case Op::Eq: case Op::ExactEq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt: case Op::Ge: {
            const int c = compare(a[0], a[1], n.op == Op::ExactEq);
            out.kind = Kind::Bool;
            switch (n.op) {
            case Op::Eq: case Op::ExactEq: out.b = c == 0; break;
            case Op::Ne: out.b = c != 0; break;
            case Op::Lt: out.b = c < 0; break;
            case Op::Le: out.b = c <= 0; break;
            case Op::Gt: out.b = c > 0; break;
            default: out.b = c >= 0; break;
            }
            return;
        }
        case Op::Upper: case Op::Lower:
            out.kind = Kind::Str;
            out.s = a[0].s;
            for (char& ch : out.s) {
                unsigned char m;
                if (!mapCase(static_cast<unsigned char>(ch), n.op == Op::Upper, codePage, m)) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(ch));
                    fail(std::string(n.op == Op::Upper ? "UPPER" : "LOWER") + "() of the byte " + hex +
                         " in code page " + std::to_string(codePage) + " is not known to this program");
                }
                ch = static_cast<char>(m);
            }
            return;
        case Op::AllTrim: out.kind = Kind::Str; out.s = a[0].s; trimRight(out.s); trimLeft(out.s); return;
        case Op::LTrim: out.kind = Kind::Str; out.s = a[0].s; trimLeft(out.s); return;
        case Op::RTrim: out.kind = Kind::Str; out.s = a[0].s; trimRight(out.s); return;
        case Op::PadL: case Op::PadR: case Op::PadC: {
            const std::size_t w = static_cast<std::size_t>(n.width);
            const char padc = a.size() == 3 && !a[2].s.empty() ? a[2].s[0] : ' ';
            out.kind = Kind::Str;
            std::string s = a[0].s;
            if (s.size() >= w) {
                // Too long: PADL keeps the right end, PADR the left, PADC the middle.
                const std::size_t cut = s.size() - w;
                out.s = n.op == Op::PadL ? s.substr(cut) : n.op == Op::PadR ? s.substr(0, w) : s.substr(cut / 2, w);
                return;
            }
            const std::size_t fill = w - s.size();
            if (n.op == Op::PadL) out.s = std::string(fill, padc) + s;
            else if (n.op == Op::PadR) out.s = s + std::string(fill, padc);
            else out.s = std::string(fill / 2, padc) + s + std::string(fill - fill / 2, padc);
            return;
        }
        case Op::Left: case Op::Right: {
            const std::size_t k = static_cast<std::size_t>(std::max(0.0, a[1].n));
            out.kind = Kind::Str;
            out.s = n.op == Op::Left ? a[0].s.substr(0, std::min(k, a[0].s.size()))
                                     : a[0].s.substr(a[0].s.size() - std::min(k, a[0].s.size()));
            return;
        }
        case Op::Substr: {
            const long start = static_cast<long>(a[1].n);
            out.kind = Kind::Str;
            out.s.clear();
            if (start < 1 || static_cast<std::size_t>(start) > a[0].s.size()) return;
            std::size_t len = a[0].s.size() - static_cast<std::size_t>(start) + 1;
            if (a.size() == 3) len = std::min(len, static_cast<std::size_t>(std::max(0.0, a[2].n)));
            out.s = a[0].s.substr(static_cast<std::size_t>(start) - 1, len);
            return;
        }
        case Op::Str: {
            const int len = a.size() >= 2 ? static_cast<int>(a[1].n) : 10;
            const int dec = a.size() == 3 ? static_cast<int>(a[2].n) : 0;
            out.kind = Kind::Str;
            out.s = formatStr(a[0].n, len, dec);
            return;
        }
        case Op::Val: out.kind = Kind::Num; out.n = parseVal(a[0].s); return;
        case Op::Dtos: out.kind = Kind::Str; out.s = dateText(a[0]); return;
        case Op::Ttoc: {
            if (a[0].n <= 0) fail("TTOC() of an empty datetime is not computed by this program");
            const std::int64_t jdn = static_cast<std::int64_t>(std::floor(a[0].n));
            // VFP datetimes have whole seconds; stored milliseconds round to the nearest.
            std::int64_t secs = std::llround((a[0].n - jdn) * 86400.0);
            std::int64_t day = jdn;
            if (secs >= 86400) { secs -= 86400; ++day; }
            int y, m, d;
            civilFromJulian(day, y, m, d);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", y, m, d, static_cast<int>(secs / 3600),
                          static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60));
            out.kind = Kind::Str;
            out.s = buf;
            return;
        }
        case Op::Bintoc: {
            const int size = n.width;
            const double v = std::trunc(a[0].n);
            const double lim = std::ldexp(1.0, size * 8 - 1);
            if (v < -lim || v >= lim)
                fail("BINTOC() of " + formatStr(a[0].n, 20, 0).substr(formatStr(a[0].n, 20, 0).find_first_not_of(' ')) +
                     " does not fit " + std::to_string(size) + " byte(s)");
            const std::uint64_t u = static_cast<std::uint64_t>(static_cast<std::int64_t>(v) + static_cast<std::int64_t>(lim));
            out.kind = Kind::Str;
            out.s.clear();
            for (int i = size - 1; i >= 0; --i) out.s += static_cast<char>((u >> (8 * i)) & 0xFF);
            return;
        }
        case Op::Empty:
            out.kind = Kind::Bool;
            switch (a[0].kind) {
            case Kind::Null: out.b = false; break;
            case Kind::Str: out.b = a[0].s.find_first_not_of(" \t\r\n") == std::string::npos; break;
            case Kind::Bool: out.b = !a[0].b; break;
            default: out.b = a[0].n == 0; break;
            }
            return;
        case Op::Int: out.kind = Kind::Num; out.n = std::trunc(a[0].n); return;
        case Op::Abs: out.kind = Kind::Num; out.n = std::fabs(a[0].n); return;
        case Op::Chr:
            if (a[0].n < 0 || a[0].n > 255) fail("CHR() of a value outside 0..255");
            out.kind = Kind::Str;
            out.s.assign(1, static_cast<char>(static_cast<int>(a[0].n)));
            return;
        case Op::Space: out.kind = Kind::Str; out.s.assign(static_cast<std::size_t>(n.width), ' '); return;
        case Op::Replicate: {
            out.kind = Kind::Str;
            out.s.clear();
            for (int i = 0; i < static_cast<int>(a[1].n); ++i) out.s += a[0].s;
            return;
        }
        default: fail("internal: unhandled operation");
        }
    }
};

KeyExpression::KeyExpression(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
KeyExpression::KeyExpression(KeyExpression&&) noexcept = default;
KeyExpression& KeyExpression::operator=(KeyExpression&&) noexcept = default;
KeyExpression::~KeyExpression() = default;

KeyExpression KeyExpression::compile(std::string_view text, std::span<const DbfField> fields,
                                     const DbfField* nullFlags, int codePage,
                                     std::span<const std::string> longNames) {
    // A tag header holds at most 510 bytes of expressions: a longer text is
    // never an index's, and refusing it first bounds how deep the parser,
    // the evaluator and the tree's destruction may recurse.
    constexpr std::size_t kMaxText = 510;
    if (text.size() > kMaxText)
        throw Error("index expression '" + std::string(text.substr(0, 40)) + "...': longer than the "
                    + std::to_string(kMaxText) + " bytes a tag header holds");
    auto impl = std::make_unique<Impl>();
    impl->text = std::string(text);
    impl->fields.assign(fields.begin(), fields.end());
    if (nullFlags) {
        impl->hasNullFlags = true;
        impl->nullFlags = *nullFlags;
    }
    impl->codePage = codePage == 0 ? 1252 : codePage;
    Parser p(text, fields, longNames);
    impl->root = p.parse();
    impl->typeCheck(*impl->root);
    if (impl->root->kind == Kind::Null) impl->fail("the expression is always null");
    return KeyExpression(std::move(impl));
}

const std::string& KeyExpression::text() const { return impl_->text; }

KeyType KeyExpression::type() const {
    const Node& r = *impl_->root;
    switch (r.kind) {
    case Kind::Str: return KeyType::Character;
    case Kind::Date: return KeyType::Date;
    case Kind::DateTime: return KeyType::DateTime;
    case Kind::Bool: return KeyType::Logical;
    default:
        if (r.op == Op::Field && impl_->fields[static_cast<std::size_t>(r.field)].type == 'I') return KeyType::Integer;
        return KeyType::Numeric;
    }
}

namespace {
bool readsNullable(const Node& n, const std::vector<DbfField>& fields) {
    if (n.op == Op::Field) return fields[static_cast<std::size_t>(n.field)].nullBit >= 0;
    for (const auto& a : n.args)
        if (a && readsNullable(*a, fields)) return true;
    return false;
}
} // namespace

bool KeyExpression::nullPrefixed() const { return readsNullable(*impl_->root, impl_->fields); }

int KeyExpression::keyLength() const {
    int base;
    switch (type()) {
    case KeyType::Character: base = impl_->root->width; break;
    case KeyType::Integer: base = 4; break;
    case KeyType::Logical: base = 1; break;
    default: base = 8; break;
    }
    return base;
}

char KeyExpression::padByte() const { return type() == KeyType::Character ? ' ' : '\0'; }

void KeyExpression::key(std::span<const std::uint8_t> record, std::size_t length, std::string& out,
                        bool nullMarker) const {
    Val v;
    impl_->eval(*impl_->root, record, v);
    out.clear();
    if (v.kind == Kind::Null) {
        out.assign(length, '\0');
        return;
    }
    if (nullMarker) out += static_cast<char>(0x80);
    switch (type()) {
    case KeyType::Character: out += v.s; break;
    case KeyType::Integer: cdx_key::appendInt32(out, static_cast<std::int32_t>(v.n)); break;
    case KeyType::Logical: out += v.b ? 'T' : 'F'; break;
    case KeyType::Numeric:
    case KeyType::Date: cdx_key::appendDouble(out, v.n); break;
    case KeyType::DateTime:
        impl_->fail("keys on datetime values are not computed by this program (use TTOC(t,1))");
    }
    if (out.size() < length) out.resize(length, padByte());
    else if (out.size() > length) out.resize(length);
}

bool KeyExpression::condition(std::span<const std::uint8_t> record) const {
    Val v;
    impl_->eval(*impl_->root, record, v);
    if (v.kind != Kind::Bool && v.kind != Kind::Null) impl_->fail("a FOR condition must be logical");
    return v.kind == Kind::Bool && v.b;
}

} // namespace qm::xbase
