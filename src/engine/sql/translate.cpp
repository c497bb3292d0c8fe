#include "sql/translate.h"

#include "sql/ast.h"
#include "sql/depth.h"
#include "sql/eval.h"
#include "sql/executor.h"
#include "sql/parser.h"
#include "storage/storage.h"
#include "value/value.h"

#include <functional>
#include <optional>

namespace qm::sql {

std::string TranslationIssue::text() const { return "cannot translate: " + construct + " (" + why + ")"; }

std::string TranslationResult::report() const {
    std::string out;
    for (const auto& i : issues) {
        out += i.text();
        out += '\n';
    }
    return out;
}

namespace {

// What kind of value an expression gives, as far as the translation needs
// to know.  Padded: text of a fixed-width FoxPro character field, which
// carries trailing blanks there.
enum class VK : std::uint8_t { Unknown, Null, Text, Padded, Integer, Number, DateTime, Bool };

bool isExactInt(VarType t) {
    return t == VarType::Byte || t == VarType::Integer || t == VarType::Long || t == VarType::BigInt;
}

bool isTextKind(VK k) { return k == VK::Text || k == VK::Padded; }
bool isNumberKind(VK k) { return k == VK::Integer || k == VK::Number; }

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return out;
}

// A FoxPro name: letters, digits and '_', not starting with a digit.
bool plainName(std::string_view s) {
    if (s.empty() || s.size() > 128) return false;
    if (!kNameChars.start[static_cast<unsigned char>(s[0])]) return false;
    for (unsigned char c : s)
        if (!kNameChars.inside[c]) return false;
    return true;
}

struct Unsupported {}; // thrown after an issue was recorded: the statement has no translation

struct Translator {
    Translator(Dialect f, Dialect t, storage::Database* d) : from(f), to(t), db(d) {}
    Dialect from, to;
    storage::Database* db;
    TranslationResult result;

    struct Src {
        std::string alias;   // as written (the table's name when no alias)
        std::string table;   // empty for a subquery
        std::string outName; // alias in the translation
        std::optional<std::vector<storage::ColumnDef>> columns;
        bool columnsLoaded = false;
    };
    std::vector<Src> sources;
    // The Access query's PARAMETERS declarations (shared with the queries
    // nested in it).
    std::vector<ParameterDecl> parameters;
    // The query being translated (for its select-list aliases).
    const Select* current = nullptr;

    bool fox() const { return to == Dialect::FoxPro; }

    // Levels of the tree being walked (the queries nested in this one
    // start from their parent's count).
    int depth = 0;
    void deeper(const DepthCount& level) {
        if (level.over(kMaxWalkDepth))
            fail("the query", "it nests more than " + std::to_string(kMaxWalkDepth) + " levels deep (operators, parentheses, joins or subqueries)");
    }

    [[noreturn]] void fail(std::string construct, std::string why) {
        issue(std::move(construct), std::move(why));
        throw Unsupported{};
    }
    void issue(std::string construct, std::string why) {
        for (const auto& i : result.issues)
            if (i.construct == construct) return;
        result.issues.push_back({std::move(construct), std::move(why)});
    }

    // ---- sources and column types ----
    void collect(const Source& s) {
        const DepthCount level(depth);
        deeper(level);
        switch (s.kind) {
        case Source::Kind::Table: {
            Src x;
            x.table = s.table.name;
            x.alias = s.alias.empty() ? s.table.name : s.alias;
            sources.push_back(std::move(x));
            break;
        }
        case Source::Kind::Subquery: {
            Src x;
            x.alias = s.alias;
            sources.push_back(std::move(x));
            break;
        }
        case Source::Kind::Join:
            collect(*s.left);
            collect(*s.right);
            break;
        }
    }

    const std::vector<storage::ColumnDef>* columnsOf(Src& s) {
        if (!s.columnsLoaded) {
            s.columnsLoaded = true;
            if (db && !s.table.empty()) {
                try {
                    auto entry = findObject(s.table);
                    if (entry && entry->kind == storage::ObjectKind::Table) s.columns = db->columns(entry->name);
                    else if (entry) {
                        // A saved query or view used as a table: its columns are what it returns.
                        Executor ex(*db, from);
                        auto cursor = ex.query("SELECT * FROM " + quoteForSource(entry->name));
                        s.columns = cursor->columns();
                    }
                } catch (const std::exception&) {
                }
            }
        }
        return s.columns ? &*s.columns : nullptr;
    }

    std::string quoteForSource(const std::string& n) const {
        return from == Dialect::Access ? "[" + n + "]" : "`" + n + "`";
    }

    Src* sourceFor(const std::string& qualifier) {
        for (auto& s : sources)
            if (storage::namesEqual(s.alias, qualifier)) return &s;
        for (auto& s : sources)
            if (!s.table.empty() && storage::namesEqual(s.table, qualifier)) return &s;
        return nullptr;
    }

    // The column a reference names, and the source it belongs to.
    const storage::ColumnDef* resolve(const Expr& e, Src** owner = nullptr) {
        auto look = [&](Src& s) -> const storage::ColumnDef* {
            if (const auto* cols = columnsOf(s))
                for (const auto& c : *cols)
                    if (storage::namesEqual(c.name, e.name)) return &c;
            return nullptr;
        };
        if (!e.qualifier.empty()) {
            Src* s = sourceFor(e.qualifier);
            if (!s) return nullptr;
            if (owner) *owner = s;
            return look(*s);
        }
        for (auto& s : sources)
            if (const auto* c = look(s)) {
                if (owner) *owner = &s;
                return c;
            }
        return nullptr;
    }

    VK columnKind(const storage::ColumnDef& c) const {
        using T = storage::ColumnType;
        switch (c.type) {
        case T::Boolean: return VK::Bool;
        case T::Byte: case T::Integer: case T::Long: case T::BigInt: return VK::Integer;
        case T::Single: case T::Double: case T::Currency: case T::Float: return VK::Number;
        case T::Decimal: return c.scale == 0 ? VK::Integer : VK::Number;
        case T::DateTime: case T::Date: case T::DateTimeExt: return VK::DateTime;
        case T::Char: return VK::Padded;
        case T::VarChar:
            // An Access text field arrives as a fixed-width character field.
            if (from == Dialect::Access && to == Dialect::FoxPro && c.size >= 1 && c.size <= 254) return VK::Padded;
            return VK::Text;
        case T::Memo: return VK::Text;
        default: return VK::Unknown;
        }
    }

    VK kind(const Expr& e) {
        const DepthCount level(depth);
        deeper(level);
        switch (e.kind) {
        case Expr::Kind::Literal:
            switch (e.value.type()) {
            case VarType::Null: case VarType::Empty: return VK::Null;
            case VarType::String: return VK::Text;
            case VarType::Boolean: return VK::Bool;
            case VarType::Date: return VK::DateTime;
            case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::BigInt: return VK::Integer;
            default: return VK::Number;
            }
        case Expr::Kind::Column: {
            if (const ParameterDecl* d = declared(e)) return parameterKind(*d);
            const auto* c = resolve(e);
            return c ? columnKind(*c) : VK::Unknown;
        }
        case Expr::Kind::Unary:
            return e.uop == UnOp::Not ? VK::Bool : kind(*e.args[0]);
        case Expr::Kind::Binary: {
            const VK a = kind(*e.args[0]), b = kind(*e.args[1]);
            switch (e.bop) {
            case BinOp::Concat: return VK::Text;
            case BinOp::Add:
                if (isTextKind(a) || isTextKind(b)) return VK::Text;
                [[fallthrough]];
            case BinOp::Sub: case BinOp::Mul: case BinOp::Mod: case BinOp::IntDiv:
                if (a == VK::Integer && b == VK::Integer && e.bop != BinOp::Mul) return VK::Integer;
                return isNumberKind(a) && isNumberKind(b) ? VK::Number : VK::Unknown;
            case BinOp::Div: case BinOp::Pow: return VK::Number;
            default: return VK::Bool;
            }
        }
        case Expr::Kind::Between: case Expr::Kind::InList: case Expr::Kind::IsNull: return VK::Bool;
        case Expr::Kind::Call: {
            const Fn f = lookupFunction(e.name, from);
            switch (f) {
            case Fn::Upper: case Fn::Lower: case Fn::Left: case Fn::Right: case Fn::Mid: case Fn::Trim:
            case Fn::AllTrim: case Fn::LTrim: case Fn::RTrim: case Fn::Space: case Fn::Chr: case Fn::Replicate:
                return VK::Text;
            case Fn::Len: case Fn::Year: case Fn::Month: case Fn::Day: case Fn::Hour: case Fn::Minute:
            case Fn::Second: case Fn::Count: case Fn::Asc: case Fn::InStr: case Fn::At: case Fn::CInt: case Fn::CLng:
                return VK::Integer;
            case Fn::Date: case Fn::Now: case Fn::DateTime: return VK::DateTime;
            case Fn::Sum: case Fn::Min: case Fn::Max: case Fn::Abs:
                return e.args.empty() ? VK::Unknown : kind(*e.args[0]);
            case Fn::Avg: case Fn::CDbl: case Fn::CCur: case Fn::Val: return VK::Number;
            case Fn::IIf:
                if (e.args.size() == 3) {
                    const VK a = kind(*e.args[1]), b = kind(*e.args[2]);
                    if (a == b || b == VK::Null) return a;
                    if (a == VK::Null) return b;
                }
                return VK::Unknown;
            case Fn::Nz: case Fn::Nvl: return e.args.empty() ? VK::Unknown : kind(*e.args[0]);
            case Fn::IsNull: case Fn::Between: return VK::Bool;
            default: return VK::Unknown;
            }
        }
        case Expr::Kind::Star: case Expr::Kind::Parameter: return VK::Unknown;
        }
        return VK::Unknown;
    }

    void noteOnce(std::string note) {
        for (const auto& x : result.notes)
            if (x == note) return;
        result.notes.push_back(std::move(note));
    }

    // ---- parameters ----
    // The declaration an Access name refers to, if it is a declared parameter.
    const ParameterDecl* declared(const Expr& e) const {
        if (from != Dialect::Access || !e.qualifier.empty()) return nullptr;
        for (const auto& d : parameters)
            if (storage::namesEqual(d.name, e.name)) return &d;
        return nullptr;
    }

    static VK parameterKind(const ParameterDecl& d) {
        const std::string t = upperAscii(d.type);
        if (t == "DATETIME" || t == "DATE" || t == "TIME") return VK::DateTime;
        if (t == "TEXT" || t == "CHAR" || t == "VARCHAR" || t == "MEMO" || t == "LONGTEXT") return VK::Text;
        if (t == "BYTE" || t == "SHORT" || t == "LONG" || t == "INTEGER" || t == "SMALLINT") return VK::Integer;
        if (t == "IEEESINGLE" || t == "IEEEDOUBLE" || t == "SINGLE" || t == "DOUBLE" || t == "CURRENCY" || t == "FLOAT"
            || t == "REAL")
            return VK::Number;
        if (t == "BIT" || t == "YESNO") return VK::Bool;
        return VK::Unknown;
    }

    // True when some source has a field called n, or the select list an
    // alias n; a source whose fields are not known counts as having it
    // unless unknownIsFree.
    bool fieldNamed(const std::string& n, bool unknownIsFree = false) {
        for (auto& src : sources) {
            const auto* cols = columnsOf(src);
            if (!cols) {
                if (unknownIsFree) continue;
                return true;
            }
            for (const auto& c : *cols)
                if (storage::namesEqual(c.name, n)) return true;
        }
        if (current)
            for (const auto& item : current->items)
                if (storage::namesEqual(item.alias, n)) return true;
        return false;
    }

    // An Access parameter as a FoxPro ?name, named by the fields' rule.
    std::string parameterOut(const ParameterDecl& d) {
        // A declared name is the parameter's unless a field is known to share it.
        if (fieldNamed(d.name, true))
            fail("parameter [" + d.name + "]", "a field of the query has that name too");
        std::vector<std::string> names;
        for (const auto& p : parameters) names.push_back(p.name);
        const auto out = storage::foxProNames(names);
        return "?" + out[static_cast<std::size_t>(&d - parameters.data())];
    }

    // An Access name that no field and no alias of the query has, while
    // every source's fields are known: Access asks for its value, so it is a
    // parameter without a declaration.
    bool undeclared(const Expr& e) {
        if (from != Dialect::Access || !db || !e.qualifier.empty() || sources.empty()) return false;
        return !fieldNamed(e.name);
    }
    std::string undeclaredOut(const std::string& n) {
        const std::string out = "?" + storage::foxProName(n);
        noteOnce("[" + n + "] names no field, so it is the parameter " + out);
        return out;
    }

    // A FoxPro ?name as Access reads an undeclared parameter: a name no
    // field or alias of the query has.  (Access asks for the value of every
    // name it cannot find.)
    std::string parameterIn(const Expr& e) {
        if (fieldNamed(e.name))
            fail("parameter ?" + e.name, db ? "a field of the query has that name too, or the fields of a source are not known"
                                            : "the fields of its tables are not known, so Access might read a field instead");
        const std::string n = "[" + nameOutChecked(e.name) + "]";
        noteOnce("parameter ?" + e.name + " is " + n + " in the translation");
        return n;
    }

    // ---- names ----
    // The catalog entry a table name of the source text means.
    std::optional<storage::CatalogEntry> findObject(const std::string& n) {
        if (!db) return std::nullopt;
        try {
            return from == Dialect::FoxPro ? storage::findFoxProName(*db, n) : db->find(n);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // A table or view as the target names it.  FoxPro: the name the
    // transfer's rule gives it ("Order Details" is Order_Details in a
    // FoxPro statement).  Access: the object's own name, which a FoxPro
    // table keeps when it is sent there.
    std::string tableOut(const std::string& n) {
        if (fox()) return storage::foxProName(n);
        const auto entry = findObject(n);
        return "[" + nameOutChecked(entry ? entry->name : n) + "]";
    }

    // A field of a source as the target names it: in FoxPro the name the
    // transfer gave that field, which depends on the table's other fields.
    std::string fieldOut(const Expr& e) {
        if (!fox()) return "[" + nameOutChecked(e.name) + "]";
        Src* owner = nullptr;
        if (const storage::ColumnDef* c = resolve(e, &owner); c && owner && owner->columns) {
            const auto& cols = *owner->columns;
            std::vector<std::string> names;
            names.reserve(cols.size());
            for (const auto& x : cols) names.push_back(x.name);
            return storage::foxProNames(names)[static_cast<std::size_t>(c - cols.data())];
        }
        return storage::foxProName(e.name);
    }

    // An alias of the query's own: one that FoxPro cannot spell is renamed
    // by the same rule as fields, so that a query reading this one finds it.
    std::string aliasOut(const std::string& n, std::vector<std::string>& taken) {
        if (!fox() || plainName(n)) {
            taken.push_back(n);
            return fox() ? n : "[" + nameOutChecked(n) + "]";
        }
        const std::string base = storage::foxProName(n);
        std::string out = base;
        for (int k = 2;; ++k) {
            bool clash = false;
            for (const auto& t : taken)
                if (storage::namesEqual(t, out)) clash = true;
            for (const auto& src : sources)
                if (storage::namesEqual(storage::foxProName(src.table), out)) clash = true;
            if (!clash) break;
            out = base + "_" + std::to_string(k);
        }
        taken.push_back(out);
        result.notes.push_back("'" + n + "' is called " + out + " in the translation");
        return out;
    }
    std::string nameOutChecked(const std::string& n) {
        if (n.find(']') != std::string::npos) fail("name '" + n + "'", "an Access name cannot hold ']'");
        return n;
    }

    std::string qualifierOut(const std::string& q) {
        if (Src* s = sourceFor(q)) {
            if (storage::namesEqual(s->alias, q) && !s->outName.empty()) return s->outName;
        }
        return tableOut(q);
    }

    // ---- literals ----
    std::string text(const std::string& s) {
        if (!fox()) {
            std::string out = "'";
            for (char c : s) {
                out += c;
                if (c == '\'') out += '\'';
            }
            return out + "'";
        }
        // FoxPro has no escape inside a text: pick a delimiter the text lacks.
        if (s.find('\'') == std::string::npos) return "'" + s + "'";
        if (s.find('"') == std::string::npos) return "\"" + s + "\"";
        if (s.find(']') == std::string::npos) return "[" + s + "]";
        std::string out = "(";
        std::size_t i = 0;
        while (i < s.size()) {
            std::size_t j = s.find('\'', i);
            if (i) out += " + ";
            if (j == i) {
                out += "\"'\"";
                i = j + 1;
                continue;
            }
            out += "'" + s.substr(i, j == std::string::npos ? std::string::npos : j - i) + "'";
            i = j == std::string::npos ? s.size() : j;
        }
        return out + ")";
    }

    std::string literal(const Value& v) {
        switch (v.type()) {
        case VarType::Empty: case VarType::Null: return fox() ? ".NULL." : "Null";
        case VarType::Boolean: return v.rawInt() ? (fox() ? ".T." : "True") : (fox() ? ".F." : "False");
        case VarType::String: return text(v.rawString());
        case VarType::Date: {
            std::string iso = date::toIso(v.rawDouble());
            if (fox()) return "{^" + iso + "}"; // a date-time: Access dates arrive as T fields
            if (iso.size() > 10 && iso.compare(10, 9, " 00:00:00") == 0) iso.resize(10);
            return "#" + iso + "#";
        }
        case VarType::Currency: return currencyToString(v.rawInt());
        case VarType::Decimal: {
            std::string s = v.rawDecimal().toString();
            return s;
        }
        case VarType::Double: case VarType::Single: {
            std::string s = shortestDouble(v.rawDouble());
            if (s.find_first_of(".eE") == std::string::npos) s += ".0";
            return s;
        }
        case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::BigInt: return v.toString();
        default: fail("value " + v.toString(), "no literal of this kind in the other dialect");
        }
    }

    // ---- expressions ----
    static bool nonNull(const Expr& e) {
        // Down the left spine in a loop: a & b & ... may be long.
        for (const Expr* x = &e;; x = x->args[0].get()) {
            if (x->kind == Expr::Kind::Literal) return !x->value.isNull() && !x->value.isEmpty();
            if (x->kind != Expr::Kind::Binary || x->bop != BinOp::Concat) return false;
            if (nonNull(*x->args[1])) return true;
        }
    }

    static bool compound(const Expr& e) {
        return !(e.kind == Expr::Kind::Literal || e.kind == Expr::Kind::Column || e.kind == Expr::Kind::Call
                 || e.kind == Expr::Kind::Star);
    }
    std::string sub(const Expr& e) {
        std::string s = ex(e, false);
        if (compound(e) || (e.kind == Expr::Kind::Literal && !s.empty() && s[0] == '-')) return "(" + s + ")";
        return s;
    }

    std::string columnRef(const Expr& e, bool bare) {
        if (fox()) {
            if (const ParameterDecl* d = declared(e)) return parameterOut(*d);
            if (undeclared(e)) return undeclaredOut(e.name);
        }
        std::string out;
        if (!e.qualifier.empty()) out = qualifierOut(e.qualifier) + ".";
        out += fieldOut(e);
        if (fox() && !bare && kind(e) == VK::Padded) return "RTRIM(" + out + ")";
        return out;
    }

    // Text compared as Access compares it: letter case ignored.
    std::string folded(const Expr& e) {
        if (e.kind == Expr::Kind::Literal && e.value.type() == VarType::String) {
            const std::string& s = e.value.rawString();
            bool ascii = true;
            for (unsigned char c : s) ascii = ascii && c < 0x80;
            if (ascii) return text(upperAscii(s));
        }
        return "UPPER(" + ex(e, false) + ")";
    }

    std::string comparison(const Expr& e) {
        const Expr& a = *e.args[0];
        const Expr& b = *e.args[1];
        const char* op = "=";
        switch (e.bop) {
        case BinOp::Eq: op = "="; break;
        case BinOp::Ne: op = "<>"; break;
        case BinOp::Lt: op = "<"; break;
        case BinOp::Le: op = "<="; break;
        case BinOp::Gt: op = ">"; break;
        case BinOp::Ge: op = ">="; break;
        default: break;
        }
        if (!fox()) return sub(a) + " " + op + " " + sub(b);
        const VK ka = kind(a), kb = kind(b);
        if (isTextKind(ka) || isTextKind(kb)) {
            if (e.bop == BinOp::Eq) return folded(a) + " == " + folded(b);
            if (e.bop == BinOp::Ne) return "NOT (" + folded(a) + " == " + folded(b) + ")";
            return folded(a) + " " + op + " " + folded(b);
        }
        // Yes/No against the numbers Access stores for it.
        auto boolSide = [&](const Expr& x) -> std::string {
            if (x.kind == Expr::Kind::Literal && isExactInt(x.value.type())) {
                const auto n = x.value.toInt64();
                if (n == 0) return ".F.";
                if (n == -1) return ".T.";
            }
            const VK k = kind(x);
            if (k == VK::Bool || k == VK::Null || k == VK::Unknown) return sub(x);
            fail("comparison of a Yes/No field with " + toSql(x, from), "FoxPro logical fields do not compare with numbers");
        };
        if (ka == VK::Bool) return sub(a) + " " + op + " " + boolSide(b);
        if (kb == VK::Bool) return boolSide(a) + " " + op + " " + sub(b);
        return sub(a) + " " + op + " " + sub(b);
    }

    std::string concat(const Expr& e) {
        const Expr& a = *e.args[0];
        const Expr& b = *e.args[1];
        for (const Expr* x : {&a, &b}) {
            const VK k = kind(*x);
            if (!isTextKind(k) && k != VK::Null)
                fail("& with " + toSql(*x, from),
                     k == VK::Unknown ? "the type of the operand is not known" : "FoxPro joins only text with +");
        }
        if (!fox()) return sub(a) + " & " + sub(b);
        auto side = [&](const Expr& x) { return nonNull(x) ? sub(x) : "NVL(" + ex(x, false) + ", '')"; };
        if (nonNull(a) || nonNull(b)) return side(a) + " + " + side(b);
        // Access gives Null only when both sides are Null.
        const std::string sa = ex(a, false), sb = ex(b, false);
        return "IIF(ISNULL(" + sa + ") AND ISNULL(" + sb + "), .NULL., NVL(" + sa + ", '') + NVL(" + sb + ", ''))";
    }

    std::string likePattern(const Expr& p) {
        if (p.kind != Expr::Kind::Literal || p.value.type() != VarType::String)
            fail("LIKE with a pattern that is not a text", "wildcards can only be converted in a written pattern");
        const std::string& s = p.value.rawString();
        if (!fox()) {
            // FoxPro % and _ become Access * and ?; Access wildcards of the text itself are escaped.
            std::string out;
            for (char c : s) {
                if (c == '%') out += '*';
                else if (c == '_') out += '?';
                else if (c == '*' || c == '?' || c == '#' || c == '[') { out += '['; out += c; out += ']'; }
                else out += c;
            }
            return text(out);
        }
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const char c = s[i];
            if (c == '*') out += '%';
            else if (c == '?') out += '_';
            else if (c == '%' || c == '_') fail("LIKE pattern '" + s + "'", "FoxPro reads '" + std::string(1, c) + "' as a wildcard");
            else if (c == '#' || c == '[') fail("LIKE pattern '" + s + "'", "FoxPro has no digit or character-list wildcard");
            else out += c;
        }
        bool ascii = true;
        for (unsigned char c : out) ascii = ascii && c < 0x80;
        return ascii ? text(upperAscii(out)) : "UPPER(" + text(out) + ")";
    }

    std::string ex(const Expr& e, bool bare) {
        const DepthCount level(depth);
        deeper(level);
        switch (e.kind) {
        case Expr::Kind::Literal: return literal(e.value);
        case Expr::Kind::Column: return columnRef(e, bare);
        case Expr::Kind::Star:
            return e.qualifier.empty() ? "*" : qualifierOut(e.qualifier) + ".*";
        case Expr::Kind::Unary: {
            const Expr& a = *e.args[0];
            if (e.uop == UnOp::Not) return "NOT " + sub(a);
            if (kind(a) == VK::Bool) fail("arithmetic on a Yes/No value", "FoxPro logical values are not numbers");
            return (e.uop == UnOp::Neg ? "-" : "+") + sub(a);
        }
        case Expr::Kind::Binary: return binary(e);
        case Expr::Kind::Between: {
            const bool text = fox() && (isTextKind(kind(*e.args[0])) || isTextKind(kind(*e.args[1])));
            auto side = [&](const Expr& x) { return text ? folded(x) : sub(x); };
            return side(*e.args[0]) + (e.negated ? " NOT BETWEEN " : " BETWEEN ") + side(*e.args[1]) + " AND "
                   + side(*e.args[2]);
        }
        case Expr::Kind::InList: {
            bool text = false;
            if (fox())
                for (const auto& a : e.args) text = text || isTextKind(kind(*a));
            if (text) {
                std::string out = e.negated ? "NOT (" : "(";
                const std::string x = folded(*e.args[0]);
                for (std::size_t i = 1; i < e.args.size(); ++i) {
                    if (i > 1) out += " OR ";
                    out += x + " == " + folded(*e.args[i]);
                }
                return out + ")";
            }
            std::string out = sub(*e.args[0]) + (e.negated ? " NOT IN (" : " IN (");
            for (std::size_t i = 1; i < e.args.size(); ++i) {
                if (i > 1) out += ", ";
                out += ex(*e.args[i], false);
            }
            return out + ")";
        }
        case Expr::Kind::IsNull: return sub(*e.args[0]) + (e.negated ? " IS NOT NULL" : " IS NULL");
        case Expr::Kind::Call: return call(e);
        case Expr::Kind::Parameter: return parameterIn(e);
        }
        fail("expression", "not known");
    }

    std::string binary(const Expr& e) {
        const Expr& a = *e.args[0];
        const Expr& b = *e.args[1];
        const VK ka = kind(a), kb = kind(b);
        auto plain = [&](const char* op) { return sub(a) + " " + op + " " + sub(b); };
        auto noDates = [&](const char* op) {
            if (ka == VK::DateTime || kb == VK::DateTime)
                fail(std::string("date arithmetic with ") + op,
                     "dates count in days in Access and date-times in seconds in FoxPro");
            if (ka == VK::Bool || kb == VK::Bool) fail(std::string("arithmetic on a Yes/No value with ") + op,
                                                     "logical values are not numbers in FoxPro");
        };
        switch (e.bop) {
        case BinOp::Concat: return concat(e);
        case BinOp::Add:
            // Text + Null is Null on both sides.
            if ((isTextKind(ka) || ka == VK::Null) && (isTextKind(kb) || kb == VK::Null)) return plain("+");
            if (fox()) noDates("+");
            if (isTextKind(ka) || isTextKind(kb))
                fail("+ of text and a number", "the two engines do not convert the same way");
            return plain("+");
        case BinOp::Sub: case BinOp::Mul: case BinOp::Div: case BinOp::Pow: {
            const char* op = e.bop == BinOp::Sub ? "-" : e.bop == BinOp::Mul ? "*" : e.bop == BinOp::Div ? "/" : "^";
            if (fox()) noDates(op);
            if (isTextKind(ka) || isTextKind(kb)) fail(std::string(op) + " on text", "the two engines do not convert the same way");
            return plain(op);
        }
        case BinOp::Mod: case BinOp::IntDiv: {
            const char* op = e.bop == BinOp::Mod ? (fox() ? "%" : "MOD") : "\\";
            if (ka != VK::Integer || kb != VK::Integer)
                fail(std::string(from == Dialect::Access ? (e.bop == BinOp::Mod ? "Mod" : "\\") : "%")
                         + " on values that may not be whole numbers",
                     "Access rounds the operands to whole numbers first, FoxPro does not");
            if (e.bop == BinOp::IntDiv) return "INT(" + sub(a) + " / " + sub(b) + ")";
            return plain(op);
        }
        case BinOp::Eq: case BinOp::Ne: case BinOp::Lt: case BinOp::Le: case BinOp::Gt: case BinOp::Ge:
            return comparison(e);
        case BinOp::ExactEq: fail("==", "Access has no exact comparison of texts");
        case BinOp::Contained: fail("$", "Access has no case-sensitive containment test");
        case BinOp::And: return plain("AND");
        case BinOp::Or: return plain("OR");
        case BinOp::Xor: fail("Xor", "FoxPro has no logical exclusive or");
        case BinOp::Like: {
            const std::string pat = likePattern(b);
            if (!fox()) return sub(a) + " LIKE " + pat;
            if (!isTextKind(ka) && ka != VK::Unknown) fail("LIKE on a value that is not text", "FoxPro matches only text");
            return "UPPER(" + ex(a, false) + ") LIKE " + pat;
        }
        }
        fail("operator", "not known");
    }

    std::string args(const Expr& e, std::size_t first = 0, std::size_t count = std::string::npos) {
        std::string out;
        for (std::size_t i = first; i < e.args.size() && i - first < count; ++i) {
            if (i > first) out += ", ";
            out += ex(*e.args[i], false);
        }
        return out;
    }

    std::string call(const Expr& e) {
        const Fn f = lookupFunction(e.name, from);
        const std::string what = "function " + e.name;
        const std::size_t n = e.args.size();
        auto need = [&](std::size_t lo, std::size_t hi) {
            if (n < lo || n > hi) fail(what, "it takes " + std::to_string(lo) + (lo == hi ? "" : " to " + std::to_string(hi)) + " arguments");
        };
        auto same = [&](const char* foxName, const char* accessName) {
            return std::string(fox() ? foxName : accessName) + "(" + args(e) + ")";
        };
        switch (f) {
        case Fn::Count:
            if (n == 1 && e.args[0]->kind == Expr::Kind::Star) return std::string(fox() ? "COUNT" : "Count") + "(*)";
            need(1, 1);
            return same("COUNT", "Count");
        case Fn::Sum: need(1, 1); return same("SUM", "Sum");
        case Fn::Avg: need(1, 1); return same("AVG", "Avg");
        case Fn::Min: need(1, 1); return same("MIN", "Min");
        case Fn::Max: need(1, 1); return same("MAX", "Max");
        case Fn::Upper: need(1, 1); return same("UPPER", "UCase");
        case Fn::Lower: need(1, 1); return same("LOWER", "LCase");
        case Fn::Len: need(1, 1); return same("LEN", "Len");
        case Fn::Left: need(2, 2); return same("LEFT", "Left");
        case Fn::Right: need(2, 2); return same("RIGHT", "Right");
        case Fn::Mid: need(2, 3); return same("SUBSTR", "Mid");
        case Fn::Trim: case Fn::AllTrim: need(1, 1); return same("ALLTRIM", "Trim");
        case Fn::LTrim: need(1, 1); return same("LTRIM", "LTrim");
        case Fn::RTrim: need(1, 1); return same("RTRIM", "RTrim");
        case Fn::Space: need(1, 1); return same("SPACE", "Space");
        case Fn::Chr: need(1, 1); return same("CHR", "Chr");
        case Fn::Asc: need(1, 1); return same("ASC", "Asc");
        case Fn::Year: need(1, 1); return same("YEAR", "Year");
        case Fn::Month: need(1, 1); return same("MONTH", "Month");
        case Fn::Day: need(1, 1); return same("DAY", "Day");
        case Fn::Hour: need(1, 1); return same("HOUR", "Hour");
        case Fn::Minute: need(1, 1); return same("MINUTE", "Minute");
        case Fn::Second: need(1, 1); return same("SEC", "Second");
        case Fn::Abs: need(1, 1); return same("ABS", "Abs");
        case Fn::Sgn: need(1, 1); return same("SIGN", "Sgn");
        case Fn::Sqrt: need(1, 1); return same("SQRT", "Sqr");
        case Fn::IsNull: need(1, 1); return same("ISNULL", "IsNull");
        case Fn::Val:
            need(1, 1);
            if (!isTextKind(kind(*e.args[0]))) fail(what + " of a value that is not text", "the engines convert other values differently");
            return same("VAL", "Val");
        case Fn::IIf: need(3, 3); return same("IIF", "IIf");
        case Fn::Nz: case Fn::Nvl:
            if (n != 2) fail(what + " without a second argument", "what it gives for Null depends on where Access uses it");
            if (fox()) return "NVL(" + args(e) + ")";
            return "IIf(" + sub(*e.args[0]) + " Is Null, " + ex(*e.args[1], false) + ", " + ex(*e.args[0], false) + ")";
        case Fn::Date:
            if (n != 0) fail(what + " with arguments", "only the current date is translated");
            // Access dates are date-times; FoxPro's DATE() is a date, which does not compare with one.
            return fox() ? "DTOT(DATE())" : "Date()";
        case Fn::Now: need(0, 0); return fox() ? "DATETIME()" : "Now()";
        case Fn::DateTime:
            if (n != 0) fail(what + " with arguments", "only the current date and time is translated");
            return fox() ? "DATETIME()" : "Now()";
        case Fn::Fix:
            need(1, 1);
            return fox() ? "INT(" + args(e) + ")" : "Fix(" + args(e) + ")";
        case Fn::Int:
            need(1, 1);
            if (from == Dialect::FoxPro) return "Fix(" + args(e) + ")"; // FoxPro INT() cuts toward zero
            if (kind(*e.args[0]) == VK::Integer) return "INT(" + args(e) + ")";
            fail(what + " of a value that may have decimals", "Access Int() rounds down, FoxPro INT() toward zero");
        case Fn::CCur:
            need(1, 1);
            if (!fox()) fail(what, "not a FoxPro function");
            if (!isNumberKind(kind(*e.args[0]))) fail(what + " of a value that is not a number", "FoxPro converts only numbers to currency");
            return "NTOM(" + args(e) + ")";
        case Fn::CInt: case Fn::CLng: case Fn::CDbl: case Fn::CDec: case Fn::CSng: {
            need(1, 1);
            const VK k = kind(*e.args[0]);
            // A conversion of a value that already is of the kind changes nothing.
            if (k == VK::Integer || ((f == Fn::CDbl || f == Fn::CSng || f == Fn::CDec) && k == VK::Number)) return sub(*e.args[0]);
            fail(what, "FoxPro rounds and converts differently");
        }
        case Fn::StringFn:
            need(2, 2);
            if (!fox()) fail(what, "not a FoxPro function");
            return "REPLICATE(" + ex(*e.args[1], false) + ", " + ex(*e.args[0], false) + ")";
        case Fn::Replicate:
            need(2, 2);
            if (fox()) fail(what, "not an Access function");
            return "String(" + ex(*e.args[1], false) + ", " + ex(*e.args[0], false) + ")";
        case Fn::InStr:
            if (!fox()) fail(what, "not a FoxPro function");
            need(2, 2);
            return "AT(" + folded(*e.args[1]) + ", " + folded(*e.args[0]) + ")";
        case Fn::Empty: {
            // An empty FoxPro date arrives in Access as Null; EMPTY(NVL(d, "")) is the same test.
            need(1, 1);
            if (fox()) fail(what, "not an Access function");
            const Expr* x = e.args[0].get();
            if (x->kind == Expr::Kind::Call && (lookupFunction(x->name, from) == Fn::Nvl) && x->args.size() == 2
                && x->args[1]->kind == Expr::Kind::Literal && x->args[1]->value.type() == VarType::String
                && x->args[1]->value.rawString().empty())
                x = x->args[0].get();
            if (kind(*x) != VK::DateTime) fail(what + " of a value that is not a date", "what is empty differs by type");
            return sub(*x) + " Is Null";
        }
        default: break;
        }
        if (iequals(e.name, "BETWEEN") && from == Dialect::FoxPro && n == 3)
            return sub(*e.args[0]) + " BETWEEN " + sub(*e.args[1]) + " AND " + sub(*e.args[2]);
        if (iequals(e.name, "FORMAT") && fox() && n == 2 && e.args[1]->kind == Expr::Kind::Literal
            && e.args[1]->value.type() == VarType::String && iequals(e.args[1]->value.rawString(), "yyyymmdd")
            && kind(*e.args[0]) == VK::DateTime)
            return "DTOS(" + ex(*e.args[0], false) + ")";
        fail(what, f == Fn::Unknown ? "not a known function" : "it has no counterpart that gives the same values");
    }

    // ---- SELECT ----
    std::string source(const Source& s, bool top, std::vector<std::string>& taken) {
        const DepthCount level(depth);
        deeper(level);
        switch (s.kind) {
        case Source::Kind::Table: {
            if (s.table.external()) fail("external table " + s.table.name, "the other side cannot reach it");
            std::string out = tableOut(s.table.name);
            Src* me = nullptr;
            for (auto& x : sources)
                if (x.table == s.table.name && storage::namesEqual(x.alias, s.alias.empty() ? s.table.name : s.alias)) me = &x;
            if (!s.alias.empty()) {
                const std::string a = aliasOut(s.alias, taken);
                if (me) me->outName = a;
                out += " AS " + a;
            } else if (me) {
                me->outName = out;
            }
            return out;
        }
        case Source::Kind::Subquery: {
            if (s.alias.empty()) fail("subquery without an alias", "FoxPro needs a name for it");
            const std::string q = nested(*s.subquery);
            const std::string a = aliasOut(s.alias, taken);
            for (auto& x : sources)
                if (x.table.empty() && x.alias == s.alias) x.outName = a;
            return "(" + q + ") AS " + a;
        }
        case Source::Kind::Join: {
            const char* kw = " INNER JOIN ";
            switch (s.join) {
            case Source::JoinKind::Inner: break;
            case Source::JoinKind::Left: kw = " LEFT JOIN "; break;
            case Source::JoinKind::Right: kw = " RIGHT JOIN "; break;
            case Source::JoinKind::Cross: {
                if (fox() && (!top || (s.right->kind == Source::Kind::Join)))
                    fail("a comma join inside other joins", "FoxPro lists such tables only at the outer level");
                std::string l = source(*s.left, top, taken);
                return l + ", " + source(*s.right, top, taken);
            }
            }
            if (fox()) {
                // FoxPro's form needs no parentheses: each ON closes the nearest open JOIN.
                if (s.left->kind == Source::Kind::Join && s.left->join == Source::JoinKind::Cross)
                    fail("a comma join inside other joins", "FoxPro lists such tables only at the outer level");
                std::string l = source(*s.left, false, taken);
                std::string r = source(*s.right, false, taken);
                return l + kw + r + " ON " + ex(*s.on, false);
            }
            auto part = [&](const Source& x) {
                std::string t = source(x, false, taken);
                return x.kind == Source::Kind::Join ? "(" + t + ")" : t;
            };
            std::string l = part(*s.left);
            std::string r = part(*s.right);
            return l + kw + r + " ON " + ex(*s.on, false);
        }
        }
        fail("FROM", "not known");
    }

    // DISTINCTROW removes rows that come from the same records.  When every
    // table of the query gives a field, or the query groups its rows, no two
    // rows do, so it removes nothing.
    void checkDistinctRow(const Select& s) {
        if (sources.size() <= 1) return;
        // Each row of a grouped query stands for its own group of records.
        if (!s.groupBy.empty()) return;
        std::vector<bool> gives(sources.size(), false);
        bool unknown = false;
        std::function<void(const Expr&)> walk = [&](const Expr& e) {
            if (e.kind == Expr::Kind::Star) {
                if (e.qualifier.empty()) gives.assign(gives.size(), true);
                else if (Src* src = sourceFor(e.qualifier)) gives[static_cast<std::size_t>(src - sources.data())] = true;
                return;
            }
            if (e.kind == Expr::Kind::Column) {
                Src* owner = nullptr;
                if (!e.qualifier.empty()) owner = sourceFor(e.qualifier);
                else resolve(e, &owner);
                if (owner) gives[static_cast<std::size_t>(owner - sources.data())] = true;
                else unknown = true;
                return;
            }
            for (const auto& a : e.args) walk(*a);
        };
        for (const auto& item : s.items) walk(*item.expr);
        for (bool g : gives)
            if (!g) {
                issue("DISTINCTROW", unknown ? "the tables of some fields are not known"
                                             : "a table of the join gives no field, so rows of the same records are merged");
                throw Unsupported{};
            }
    }

    // A query inside this one (a subquery, the next query of a UNION): its
    // own sources, its issues reported with this query's.
    std::string nested(const Select& q) {
        const DepthCount level(depth);
        deeper(level);
        Translator inner(from, to, db);
        inner.parameters = parameters;
        inner.depth = depth;
        std::string out;
        try {
            out = inner.select(q);
        } catch (const Unsupported&) {
        }
        for (auto& i : inner.result.issues) issue(i.construct, i.why);
        if (!inner.result.issues.empty()) throw Unsupported{};
        for (auto& n : inner.result.notes) result.notes.push_back(std::move(n));
        return out;
    }

    std::string select(const Select& s, bool distinctRow = false) {
        sources.clear();
        current = &s;
        if (!s.parameters.empty()) parameters = s.parameters;
        if (s.from) collect(*s.from);
        if (s.into) fail("SELECT ... INTO", "an action query, not a query that returns rows");
        if (distinctRow) checkDistinctRow(s);
        std::vector<std::string> taken;
        std::string from_;
        if (s.from) from_ = source(*s.from, true, taken);

        std::string out = "SELECT ";
        if (s.distinct) out += "DISTINCT ";
        if (s.top) {
            if (fox() && s.orderBy.empty()) fail("TOP without ORDER BY", "FoxPro needs an order to pick the top rows");
            out += "TOP " + std::to_string(*s.top) + (s.topPercent ? " PERCENT " : " ");
        }
        std::vector<std::string> itemText;
        for (std::size_t i = 0; i < s.items.size(); ++i) {
            const auto& item = s.items[i];
            if (i) out += ", ";
            std::string t = ex(*item.expr, true);
            itemText.push_back(ex(*item.expr, false));
            out += t;
            if (!item.alias.empty()) out += " AS " + aliasOut(item.alias, taken);
        }
        if (s.from) out += " FROM " + from_;
        if (s.where) out += " WHERE " + ex(*s.where, false);
        if (!s.groupBy.empty()) {
            out += " GROUP BY ";
            for (std::size_t i = 0; i < s.groupBy.size(); ++i) {
                if (i) out += ", ";
                out += groupItem(*s.groupBy[i], s, itemText, "GROUP BY");
            }
        }
        if (s.having) out += " HAVING " + ex(*s.having, false);
        if (s.unionNext) {
            out += (s.unionAll ? " UNION ALL " : " UNION ") + nested(*s.unionNext);
        }
        if (!s.orderBy.empty()) {
            out += " ORDER BY ";
            for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
                if (i) out += ", ";
                if (s.unionNext && fox()) out += unionOrder(*s.orderBy[i].expr, s);
                else out += groupItem(*s.orderBy[i].expr, s, itemText, "ORDER BY");
                if (s.orderBy[i].descending) out += " DESC";
            }
        }
        return out;
    }

    // A GROUP BY or ORDER BY entry.  FoxPro takes fields and select-list
    // positions there, Access fields and expressions.
    std::string groupItem(const Expr& e, const Select& s, const std::vector<std::string>& itemText, const char* clause) {
        if (e.kind == Expr::Kind::Literal && isExactInt(e.value.type())) {
            const auto k = e.value.toInt64();
            if (k < 1 || static_cast<std::size_t>(k) > s.items.size() || s.items[k - 1].expr->kind == Expr::Kind::Star)
                fail(std::string(clause) + " " + std::to_string(k), "no select-list entry of that position");
            if (fox()) return std::to_string(k);
            return ex(*s.items[k - 1].expr, false);
        }
        if (e.kind == Expr::Kind::Column) {
            if (!fox() && e.qualifier.empty()) {
                // A FoxPro select-list alias: Access wants the expression.
                for (const auto& item : s.items)
                    if (!item.alias.empty() && storage::namesEqual(item.alias, e.name) && !resolve(e)) {
                        if (std::string(clause) == "GROUP BY" && item.expr->kind == Expr::Kind::Call
                            && isAggregate(lookupFunction(item.expr->name, from)))
                            fail(std::string(clause) + " " + e.name, "it names an aggregate");
                        return ex(*item.expr, false);
                    }
            }
            return ex(e, true);
        }
        const std::string t = ex(e, false);
        if (!fox()) return t;
        for (std::size_t i = 0; i < itemText.size(); ++i)
            if (itemText[i] == t) return std::to_string(i + 1);
        fail(std::string(clause) + " " + toSql(e, from), "FoxPro orders and groups only by fields and select-list entries");
    }

    std::string unionOrder(const Expr& e, const Select& s) {
        if (e.kind == Expr::Kind::Literal && isExactInt(e.value.type())) return e.value.toString();
        if (e.kind == Expr::Kind::Column)
            for (std::size_t i = 0; i < s.items.size(); ++i) {
                const auto& item = s.items[i];
                if ((!item.alias.empty() && storage::namesEqual(item.alias, e.name))
                    || (item.expr->kind == Expr::Kind::Column && storage::namesEqual(item.expr->name, e.name)))
                    return std::to_string(i + 1);
            }
        fail("ORDER BY " + toSql(e, from) + " of a UNION", "FoxPro orders a union only by select-list positions");
    }
};

// Constructs seen in the tokens that the tree does not keep or the parser
// does not take.
struct Scan {
    bool distinctRow = false;
};

Scan scanTokens(std::string_view sql, Dialect from, Translator& t) {
    Scan s;
    std::vector<Token> tokens;
    tokenize(sql, from, tokens);
    // The statement's first word, after an Access PARAMETERS declaration:
    // an action query is named as such even where its text does not parse.
    std::size_t first = 0;
    if (!tokens.empty() && tokens[0].isWord("PARAMETERS"))
        while (first < tokens.size() && tokens[first].kind != Tok::End && !tokens[first].is(";")) ++first;
    if (first < tokens.size() && tokens[first].is(";")) ++first;
    if (first < tokens.size())
        for (const char* w : {"INSERT", "UPDATE", "DELETE", "CREATE", "ALTER", "DROP"})
            if (tokens[first].isWord(w)) {
                // Named as the parsed statement names it ("INSERT INTO", "CREATE TABLE").
                std::string what = w;
                if (what == "INSERT") what += " INTO";
                else if (what != "UPDATE" && what != "DELETE" && first + 1 < tokens.size() && tokens[first + 1].kind == Tok::Word)
                    what += " " + upperAscii(tokens[first + 1].text);
                t.issue("action query " + what, "only queries that return rows become views");
                return s;
            }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& k = tokens[i];
        if (i == first && k.isWord("TRANSFORM")) t.issue("crosstab TRANSFORM ... PIVOT", "FoxPro has no crosstab query");
        if (k.isWord("PIVOT") && from == Dialect::Access) t.issue("crosstab TRANSFORM ... PIVOT", "FoxPro has no crosstab query");
        if (k.isWord("DISTINCTROW")) s.distinctRow = true;
        if (k.is("!") && from == Dialect::Access && i > 0
            && (tokens[i - 1].isWord("Forms") || tokens[i - 1].isWord("Reports")
                || (tokens[i - 1].kind == Tok::Bracket && (iequals(tokens[i - 1].text, "Forms") || iequals(tokens[i - 1].text, "Reports")))))
            t.issue("form reference " + std::string(tokens[i - 1].text) + "!...", "it reads a value from an open Access form");
    }
    return s;
}

} // namespace

TranslationResult translateQuery(std::string_view sql, Dialect from, Dialect to, storage::Database* source) {
    Translator t(from, to, source);
    if (from == to) {
        t.result.sql = std::string(sql);
        return t.result;
    }
    Scan scan;
    try {
        scan = scanTokens(sql, from, t);
    } catch (const SyntaxIssue& e) {
        t.issue("the query text", e.message);
    }
    if (!t.result.issues.empty()) return t.result;

    Statement st;
    Parser parser(from);
    try {
        if (!parser.parse(sql, st)) {
            t.issue("an empty query", "there is nothing to translate");
            return t.result;
        }
    } catch (const ParseError& e) {
        std::string construct = e.near.empty() ? std::string("the query text") : "'" + e.near + "'";
        t.issue(construct, e.detail);
        return t.result;
    } catch (const SyntaxIssue& e) {
        t.issue("the query text", e.message);
        return t.result;
    }
    if (st.kind != StatementKind::Select) {
        t.issue(std::string("action query ") + statementName(st.kind), "only queries that return rows become views");
        return t.result;
    }
    try {
        t.result.sql = t.select(*st.select, scan.distinctRow);
    } catch (const Unsupported&) {
        t.result.sql.clear();
    }
    if (!t.result.issues.empty()) {
        t.result.sql.clear();
        t.result.notes.clear();
    }
    return t.result;
}

} // namespace qm::sql
