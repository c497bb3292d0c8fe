#include "sql/executor.h"

#include "sql/convert.h"
#include "sql/eval.h"
#include "sql/type_mapping.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace qm::sql {

using storage::ColumnDef;
using storage::ColumnSpec;
using storage::ColumnType;
using storage::namesEqual;

namespace {

// An error tied to a place in the statement.
struct PlacedError : Error {
    std::uint32_t offset;
    PlacedError(std::uint32_t at, const std::string& message) : Error(message), offset(at) {}
};

[[noreturn]] void placed(std::uint32_t at, const std::string& message) { throw PlacedError(at, message); }

std::string withPlace(const std::string& message, const ScriptStatement& st, std::uint32_t offset) {
    const TextPosition p = positionIn(st, offset);
    std::string m = message;
    if (!m.empty() && m.back() == '.') m.pop_back();
    return m + " (line " + std::to_string(p.line) + ", column " + std::to_string(p.column) + ").";
}

// The Access engine's FoxPro external types ("FoxPro 3.0", "FoxPro 2.6"...).
bool isFoxProExternal(std::string_view type) {
    if (iequals(type, "Visual FoxPro")) return true;
    if (type.size() < 6 || !iequals(type.substr(0, 6), "FoxPro")) return false;
    const std::string_view rest = type.substr(6);
    return rest.empty() || rest == " 2.0" || rest == " 2.5" || rest == " 2.6" || rest == " 3.0";
}

ColumnSpec specFromDef(const ColumnDef& c) {
    ColumnSpec s;
    s.name = c.name;
    s.type = c.type;
    s.size = c.size;
    s.precision = c.precision;
    s.scale = c.scale;
    s.nullable = true;
    s.autoIncrement = false;
    s.binary = c.binary;
    if (s.type == ColumnType::Unknown || s.type == ColumnType::Complex) s.type = ColumnType::Memo;
    return s;
}

// Rows held in memory, for queries that sort, group or join.
class RowsCursor : public QueryCursor {
public:
    RowsCursor(std::vector<ColumnDef> cols, std::vector<std::vector<Value>> rows)
        : cols_(std::move(cols)), rows_(std::move(rows)) {}
    const std::vector<ColumnDef>& columns() const override { return cols_; }
    bool next() override {
        if (pos_ < rows_.size()) { if (started_) ++pos_; started_ = true; }
        return pos_ < rows_.size();
    }
    const Value& value(std::size_t c) const override { return rows_[pos_][c]; }

private:
    std::vector<ColumnDef> cols_;
    std::vector<std::vector<Value>> rows_;
    std::size_t pos_ = 0;
    bool started_ = false;
};

bool mentions(const Source* s, const std::string& table) {
    if (!s) return false;
    switch (s->kind) {
    case Source::Kind::Table: return !s->table.external() && storage::namesEqual(s->table.name, table);
    case Source::Kind::Join: return mentions(s->left.get(), table) || mentions(s->right.get(), table);
    case Source::Kind::Subquery: return s->subquery && mentions(s->subquery->from.get(), table);
    }
    return false;
}

struct ValuesLess {
    bool ci;
    bool trailing;
    std::size_t count;
    bool operator()(const std::vector<Value>& a, const std::vector<Value>& b) const {
        for (std::size_t i = 0; i < count; ++i) {
            const int c = compareValues(a[i], b[i], ci, trailing);
            if (c) return c < 0;
        }
        return false;
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Query planning and running

struct BoundSource {
    std::string table;     // table name as found in the catalog
    std::string alias;     // alias, or the name written
    storage::Database* db = nullptr;
    bool streamed = false; // read through a cursor (level 0 table)
    std::vector<ColumnDef> columns;
    std::vector<std::vector<Value>> rows; // materialised rows
    std::vector<char> matched;            // RIGHT JOIN bookkeeping
    Source::JoinKind join = Source::JoinKind::Inner;
    std::vector<const Expr*> on;          // conditions checked once this source is bound
};

struct OrderKey {
    int item = -1;             // sort by this output column
    const Expr* expr = nullptr; // or by this expression
    bool descending = false;
};

struct Plan {
    Select* sel = nullptr;
    std::vector<BoundSource> sources;
    std::vector<const Expr*> items;
    std::vector<ColumnDef> outColumns;
    std::vector<const Expr*> aggregates;
    std::vector<OrderKey> order;
    bool grouped = false;
    std::vector<ExprPtr> owned;
};

struct Executor::Impl {
    Executor& ex;
    storage::Database& db;
    Dialect dialect;
    bool ci;
    Parser parser;
    // Saved queries and views being run for a FROM clause, innermost last:
    // one that reads itself (directly or through others) is refused.
    std::vector<std::string> expanding;
    // Where the stack stood when the outermost of them was opened.
    std::uintptr_t expandingStackBase = 0;

    // INSERT lookups kept between statements of the same table.
    struct InsertCache {
        bool valid = false;
        std::string table;
        std::vector<ColumnDef> columns;
        std::string columnList;
        std::vector<int> mapping;
    } cache;
    std::vector<Value> rowBuffer;

    // Folders opened for external targets, kept for the script.
    std::vector<std::pair<std::string, std::unique_ptr<storage::Database>>> externals;

    Impl(Executor& e, storage::Database& d, Dialect dl, bool caseInsensitive)
        : ex(e), db(d), dialect(dl), ci(caseInsensitive), parser(dl) {}

    bool fox() const { return dialect == Dialect::FoxPro; }

    // One more row visited: the caller may stop the statement here.
    void visit() const {
        if (ex.options_.stopRequested && ex.options_.stopRequested())
            throw Error("The statement was stopped before it finished.");
    }

    EvalContext context(const std::vector<RowFrame>* frames, const std::vector<Value>* aggs = nullptr) const {
        EvalContext c;
        c.dialect = dialect;
        c.frames = frames;
        c.aggregates = aggs;
        c.caseInsensitive = ci;
        return c;
    }

    storage::Database& external(const TableName& t) {
        const std::string key = t.externalType + "|" + t.externalPath;
        for (auto& [k, d] : externals)
            if (k == key) return *d;
        storage::OpenOptions o;
        if (iequals(t.externalType, "dBase III")) o.flavor = storage::OpenOptions::Flavor::DBase3;
        else if (iequals(t.externalType, "dBase IV") || iequals(t.externalType, "dBase 5.0")) o.flavor = storage::OpenOptions::Flavor::DBase4;
        else if (isFoxProExternal(t.externalType)) o.flavor = storage::OpenOptions::Flavor::VisualFoxPro;
        else throw Error("The external database type '" + t.externalType + "' is not supported; use FoxPro 3.0, dBase III or dBase IV.");
        std::string path = t.externalPath;
        while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
        if (!ex.options_.openFolder)
            throw Error("The external database '" + t.externalPath + "' cannot be opened from this connection.");
        auto opened = ex.options_.openFolder(path, o);
        externals.emplace_back(key, std::move(opened));
        return *externals.back().second;
    }

    storage::Database& target(const TableName& t) { return t.external() ? external(t) : db; }

    // ---- binding ----
    static bool isQuery(const storage::CatalogEntry& e) {
        return e.kind == storage::ObjectKind::View || e.kind == storage::ObjectKind::Query;
    }

    bool expandingNow(const std::string& name) const {
        for (const auto& n : expanding)
            if (namesEqual(n, name)) return true;
        return false;
    }

    // "Circular reference caused by view 'a' (a -> b -> a)": the chain from
    // where the named view was first opened.
    std::string circularMessage(const std::string& name) const {
        std::size_t from = 0;
        while (from < expanding.size() && !namesEqual(expanding[from], name)) ++from;
        std::string chain;
        for (std::size_t i = from; i < expanding.size(); ++i) chain += expanding[i] + " -> ";
        return "Circular reference caused by view '" + name + "' (" + chain + name + ").";
    }

    // Each view opened inside another runs on the stack of the one that
    // opened it, and each body may nest up to kMaxNesting levels of its
    // own, so the chain is bounded both by its length and by the stack it
    // has used: 2 MB leaves room for one more body at the deepest (2.2 MB
    // in the sanitizer build, sql/depth.h) on an 8 MB stack.
    void checkViewNesting(const std::string& name, std::uint32_t offset) {
        constexpr std::size_t kMaxViewChain = 64;
        constexpr std::uintptr_t kViewStackBudget = 2u << 20;
        const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        if (expanding.empty()) {
            expandingStackBase = here;
            return;
        }
        const std::uintptr_t used = expandingStackBase > here ? expandingStackBase - here : 0;
        if (expanding.size() < kMaxViewChain && used < kViewStackBudget) return;
        std::string chain;
        for (const auto& n : expanding) chain += n + " -> ";
        placed(offset, "Views are opened inside each other too deeply to open '" + name + "' (" + chain + name + ").");
    }

    // A base table with the same name as a view: in the same database, or,
    // for a FoxPro container, a free table in the container's folder.
    std::optional<std::pair<storage::Database*, storage::CatalogEntry>> baseTableNamed(storage::Database& d, const std::string& name) {
        for (auto& e : d.catalog())
            if (e.kind == storage::ObjectKind::Table && namesEqual(e.name, name)) return std::make_pair(&d, e);
        if (!fox() || !ex.options_.openFolder) return std::nullopt;
        const std::string& path = d.path();
        if (path.size() < 4 || !iequals(std::string_view(path).substr(path.size() - 4), ".dbc")) return std::nullopt;
        const auto slash = path.find_last_of('/');
        TableName folder;
        folder.externalType = "Visual FoxPro";
        folder.externalPath = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
        try {
            storage::Database& free = external(folder);
            if (auto e = free.find(name); e && e->kind == storage::ObjectKind::Table) return std::make_pair(&free, *e);
        } catch (const std::exception&) {
            // No readable folder: no base table to fall back on.
        }
        return std::nullopt;
    }

    void bindSource(Source& s, Plan& p) {
        switch (s.kind) {
        case Source::Kind::Table: {
            storage::Database* d = &target(s.table);
            // FoxPro names a long table name with blanks with '_' in their place.
            auto entry = fox() ? storage::findFoxProName(*d, s.table.name) : d->find(s.table.name);
            if (!entry) placed(s.table.offset, "The table or query '" + s.table.name + "' does not exist.");
            BoundSource b;
            b.alias = s.alias.empty() ? s.table.name : s.alias;
            if (isQuery(*entry) && expandingNow(entry->name)) {
                // Inside a view, the view's own name (or one further out)
                // means a base table of that name where there is one.
                if (auto base = baseTableNamed(*d, entry->name)) {
                    d = base->first;
                    entry = base->second;
                } else {
                    placed(s.table.offset, circularMessage(entry->name));
                }
            }
            b.db = d;
            if (isQuery(*entry)) {
                if (!entry->connection.empty())
                    placed(s.table.offset, storage::remoteViewMessage(*entry));
                // A saved query or view: run its text.
                checkViewNesting(entry->name, s.table.offset);
                const std::string sql = d->querySql(entry->name);
                expanding.push_back(entry->name);
                std::unique_ptr<QueryCursor> cursor;
                try {
                    cursor = ex.query(parseStored(sql, entry->name));
                } catch (const PlacedError& e) {
                    // A place inside the stored text means nothing in the
                    // statement being run: point at the view's name there.
                    expanding.pop_back();
                    placed(s.table.offset, e.what());
                } catch (...) {
                    expanding.pop_back();
                    throw;
                }
                expanding.pop_back();
                b.columns = cursor->columns();
                while (cursor->next()) {
                    std::vector<Value> row(b.columns.size());
                    for (std::size_t i = 0; i < row.size(); ++i) row[i] = cursor->value(i);
                    b.rows.push_back(std::move(row));
                }
            } else {
                b.table = entry->name;
                b.columns = d->columns(entry->name);
                b.streamed = true; // decided finally in prepare()
            }
            p.sources.push_back(std::move(b));
            break;
        }
        case Source::Kind::Subquery: {
            BoundSource b;
            b.alias = s.alias;
            auto cursor = ex.query(std::move(s.subquery));
            b.columns = cursor->columns();
            while (cursor->next()) {
                std::vector<Value> row(b.columns.size());
                for (std::size_t i = 0; i < row.size(); ++i) row[i] = cursor->value(i);
                b.rows.push_back(std::move(row));
            }
            p.sources.push_back(std::move(b));
            break;
        }
        case Source::Kind::Join: {
            bindSource(*s.left, p);
            const std::size_t firstRight = p.sources.size();
            bindSource(*s.right, p);
            p.sources[firstRight].join = s.join;
            if (s.on) p.sources.back().on.push_back(s.on.get());
            break;
        }
        }
    }

    std::unique_ptr<Select> parseStored(const std::string& sql, const std::string& name) {
        Parser other(dialect == Dialect::Access ? Dialect::FoxPro : Dialect::Access);
        try {
            Parser mine(dialect);
            return mine.parseSelect(sql);
        } catch (const ParseError&) {
        }
        try {
            return other.parseSelect(sql);
        } catch (const ParseError& e) {
            throw Error("The query '" + name + "' cannot be run here: " + e.detail + " near '" + e.near + "'.");
        }
    }

    void bindExpr(Expr& e, Plan& p, bool allowAggregates, const Plan* orderAliases = nullptr) {
        switch (e.kind) {
        case Expr::Kind::Column: {
            int foundSource = -1, foundColumn = -1;
            for (std::size_t s = 0; s < p.sources.size(); ++s) {
                const BoundSource& b = p.sources[s];
                if (!e.qualifier.empty() && !namesEqual(e.qualifier, b.alias) && !namesEqual(e.qualifier, b.table)) continue;
                for (std::size_t c = 0; c < b.columns.size(); ++c) {
                    if (!namesEqual(b.columns[c].name, e.name)) continue;
                    if (foundSource >= 0 && foundSource != static_cast<int>(s))
                        placed(e.offset, "The field '" + e.name + "' could refer to more than one table listed in the FROM clause.");
                    if (foundSource < 0) { foundSource = static_cast<int>(s); foundColumn = static_cast<int>(c); }
                }
            }
            if (foundSource < 0) {
                if (orderAliases) return; // resolved against the select list by the caller
                std::string full = e.qualifier.empty() ? e.name : e.qualifier + "." + e.name;
                if (!e.qualifier.empty()) {
                    bool knownTable = false;
                    for (const auto& b : p.sources)
                        if (namesEqual(e.qualifier, b.alias) || namesEqual(e.qualifier, b.table)) knownTable = true;
                    if (!knownTable) placed(e.offset, "The name '" + e.qualifier + "' in '" + full + "' is not a table of the FROM clause.");
                }
                placed(e.offset, "Unknown field '" + full + "'.");
            }
            e.boundSource = foundSource;
            e.boundColumn = foundColumn;
            return;
        }
        case Expr::Kind::Call: {
            const Fn fn = lookupFunction(e.name, dialect);
            if (fn == Fn::Unknown) placed(e.offset, "Undefined function '" + e.name + "' in expression.");
            e.function = static_cast<int>(fn);
            if (isAggregate(fn)) {
                if (!allowAggregates) placed(e.offset, "The aggregate function " + e.name + " cannot be used here.");
                if (e.args.size() != 1) placed(e.offset, "Wrong number of arguments used with function " + e.name + ".");
                if (e.args[0]->kind == Expr::Kind::Star) {
                    if (fn != Fn::Count) placed(e.offset, "'*' can only be counted.");
                } else {
                    bindExpr(*e.args[0], p, false);
                }
                e.aggregate = static_cast<int>(p.aggregates.size());
                p.aggregates.push_back(&e);
                p.grouped = true;
                return;
            }
            for (auto& a : e.args) {
                if (a->kind == Expr::Kind::Star) placed(a->offset, "'*' cannot be used with " + e.name + ".");
                bindExpr(*a, p, allowAggregates);
            }
            return;
        }
        case Expr::Kind::Star:
            placed(e.offset, "'*' cannot be used as a value.");
        case Expr::Kind::Parameter:
            // Nothing here supplies the values of a parameterised view.
            placed(e.offset, "No value given for the parameter ?" + e.name + ".");
        case Expr::Kind::Binary:
            if (e.args[0]->kind == Expr::Kind::Binary) {
                // A long chain (a AND b AND ...): the left spine in a loop,
                // left to right as the recursion would go.
                std::vector<Expr*> spine;
                Expr* leaf = &e;
                for (; leaf->kind == Expr::Kind::Binary; leaf = leaf->args[0].get()) spine.push_back(leaf);
                bindExpr(*leaf, p, allowAggregates, orderAliases);
                for (std::size_t k = spine.size(); k-- > 0;) bindExpr(*spine[k]->args[1], p, allowAggregates, orderAliases);
                return;
            }
            [[fallthrough]];
        default:
            for (auto& a : e.args) bindExpr(*a, p, allowAggregates, orderAliases);
            return;
        }
    }

    // The column an arithmetic operator makes of its operands' columns.
    ColumnDef arithmeticColumn(BinOp op, const ColumnDef& a, const ColumnDef& b) const {
        auto text = [&](int size) { return columnForValueKind(VarType::String, fox(), size); };
        auto isTextType = [](ColumnType t) { return t == ColumnType::Char || t == ColumnType::VarChar || t == ColumnType::Memo; };
        if (op == BinOp::Add && isTextType(a.type) && isTextType(b.type)) {
            if (a.type == ColumnType::Memo || b.type == ColumnType::Memo) return columnForValueKind(VarType::Empty, fox(), 0);
            return text(std::min(a.size + b.size, fox() ? 254 : 255));
        }
        if (op == BinOp::Div || op == BinOp::Pow) return columnForValueKind(VarType::Double, fox());
        if ((a.type == ColumnType::DateTime || a.type == ColumnType::Date) && op != BinOp::Sub) return a;
        if ((a.type == ColumnType::DateTime || a.type == ColumnType::Date) && (b.type != ColumnType::DateTime && b.type != ColumnType::Date)) return a;
        auto rank = [](ColumnType t) {
            switch (t) {
            case ColumnType::Boolean: case ColumnType::Byte: case ColumnType::Integer: case ColumnType::Long: return 1;
            case ColumnType::BigInt: return 2;
            case ColumnType::Currency: return 3;
            case ColumnType::Decimal: return 4;
            default: return 5;
            }
        };
        const int r = std::max(rank(a.type), rank(b.type));
        return columnForValueKind(r == 1 ? VarType::Long : r == 2 ? VarType::BigInt : r == 3 ? VarType::Currency
                                  : r == 4 ? VarType::Decimal : VarType::Double, fox());
    }

    ColumnDef inferColumn(const Expr& e, const Plan& p) const {
        auto text = [&](int size) { return columnForValueKind(VarType::String, fox(), size); };
        switch (e.kind) {
        case Expr::Kind::Literal: {
            int size = 255;
            if (e.value.type() == VarType::String) size = std::max<int>(1, static_cast<int>(utf16Length(e.value.rawString())));
            return columnForValueKind(e.value.isNull() ? VarType::Long : e.value.type(), fox(), size);
        }
        case Expr::Kind::Column: {
            ColumnDef c = p.sources[static_cast<std::size_t>(e.boundSource)].columns[static_cast<std::size_t>(e.boundColumn)];
            c.autoIncrement = false;
            return c;
        }
        case Expr::Kind::Unary:
            if (e.uop == UnOp::Not) return columnForValueKind(VarType::Boolean, fox());
            return inferColumn(*e.args[0], p);
        case Expr::Kind::Between: case Expr::Kind::InList: case Expr::Kind::IsNull:
            return columnForValueKind(VarType::Boolean, fox());
        case Expr::Kind::Binary: {
            // The left spine of a chain in a loop: 1+1+...+1 costs no stack.
            std::vector<const Expr*> spine;
            const Expr* leaf = &e;
            for (; leaf->kind == Expr::Kind::Binary; leaf = leaf->args[0].get()) spine.push_back(leaf);
            ColumnDef a = inferColumn(*leaf, p);
            for (std::size_t k = spine.size(); k-- > 0;) {
                const Expr& op = *spine[k];
                switch (op.bop) {
                case BinOp::Eq: case BinOp::ExactEq: case BinOp::Ne: case BinOp::Lt: case BinOp::Le: case BinOp::Gt:
                case BinOp::Ge: case BinOp::And: case BinOp::Or: case BinOp::Xor: case BinOp::Like: case BinOp::Contained:
                    a = columnForValueKind(VarType::Boolean, fox());
                    break;
                case BinOp::Concat: a = text(255); break;
                default: a = arithmeticColumn(op.bop, a, inferColumn(*op.args[1], p)); break;
                }
            }
            return a;
        }
        case Expr::Kind::Call: {
            const Fn fn = static_cast<Fn>(e.function);
            const bool hasArg = !e.args.empty() && e.args[0]->kind != Expr::Kind::Star;
            switch (fn) {
            case Fn::Count: case Fn::Len: case Fn::InStr: case Fn::At: case Fn::Asc: case Fn::Year: case Fn::Month:
            case Fn::Day: case Fn::Hour: case Fn::Minute: case Fn::Second: case Fn::Sgn: case Fn::CLng:
                return columnForValueKind(VarType::Long, fox());
            case Fn::Avg: case Fn::Sqrt: case Fn::CDbl: case Fn::Val: case Fn::Round:
                if (fn == Fn::Round && hasArg) {
                    const ColumnDef a = inferColumn(*e.args[0], p);
                    if (a.type == ColumnType::Decimal || a.type == ColumnType::Currency) return columnForValueKind(VarType::Decimal, fox());
                }
                return columnForValueKind(VarType::Double, fox());
            case Fn::Sum: case Fn::Min: case Fn::Max: case Fn::First: case Fn::Last: case Fn::Abs: case Fn::Nz: case Fn::Nvl: {
                if (!hasArg) return columnForValueKind(VarType::Long, fox());
                ColumnDef a = inferColumn(*e.args[0], p);
                if (fn == Fn::Sum && (a.type == ColumnType::Boolean || a.type == ColumnType::Byte || a.type == ColumnType::Integer))
                    return columnForValueKind(VarType::Long, fox());
                a.autoIncrement = false;
                a.nullable = true;
                return a;
            }
            case Fn::IIf:
                if (e.args.size() == 3) return inferColumn(*e.args[1], p);
                return text(255);
            case Fn::Int: case Fn::Fix: case Fn::CInt: return columnForValueKind(fn == Fn::CInt ? VarType::Integer : VarType::Long, fox());
            case Fn::CSng: return columnForValueKind(VarType::Single, fox());
            case Fn::CCur: return columnForValueKind(VarType::Currency, fox());
            case Fn::CDec: return columnForValueKind(VarType::Decimal, fox());
            case Fn::CByte: return columnForValueKind(VarType::Byte, fox());
            case Fn::CBool: case Fn::IsNull: case Fn::Empty: case Fn::IsDate: return columnForValueKind(VarType::Boolean, fox());
            case Fn::Date: case Fn::DateSerial: case Fn::DateValue: case Fn::TToD: {
                ColumnDef c = columnForValueKind(VarType::Date, fox());
                if (fox()) { c.type = ColumnType::Date; fillAdoType(c, true); }
                return c;
            }
            case Fn::DateTime: case Fn::Now: case Fn::CDate: case Fn::DToT: return columnForValueKind(VarType::Date, fox());
            case Fn::Upper: case Fn::Lower: case Fn::Trim: case Fn::AllTrim: case Fn::LTrim: case Fn::RTrim:
            case Fn::Left: case Fn::Right: case Fn::Mid: case Fn::Replace: case Fn::PadL: case Fn::PadR:
                if (hasArg) {
                    const ColumnDef a = inferColumn(*e.args[0], p);
                    if (a.type == ColumnType::Memo) return columnForValueKind(VarType::Empty, fox(), 0);
                    if ((a.type == ColumnType::Char || a.type == ColumnType::VarChar) && fn != Fn::Replace && fn != Fn::PadL && fn != Fn::PadR)
                        return text(a.size);
                }
                return text(255);
            default:
                return text(255);
            }
        }
        case Expr::Kind::Star: case Expr::Kind::Parameter: break;
        }
        return text(255);
    }

    std::unique_ptr<Plan> prepare(Select& sel) {
        auto p = std::make_unique<Plan>();
        p->sel = &sel;
        if (sel.from) bindSource(*sel.from, *p);
        for (std::size_t i = 0; i < p->sources.size(); ++i) {
            BoundSource& b = p->sources[i];
            if (b.join == Source::JoinKind::Right) b.matched.assign(b.rows.size(), 0);
        }

        // Select list, with '*' expanded.
        std::vector<std::string> names;
        int exprCounter = 0;
        for (auto& item : sel.items) {
            Expr& e = *item.expr;
            if (e.kind == Expr::Kind::Star) {
                bool any = false;
                for (std::size_t s = 0; s < p->sources.size(); ++s) {
                    const BoundSource& b = p->sources[s];
                    if (!e.qualifier.empty() && !namesEqual(e.qualifier, b.alias) && !namesEqual(e.qualifier, b.table)) continue;
                    any = true;
                    for (std::size_t c = 0; c < b.columns.size(); ++c) {
                        auto col = std::make_unique<Expr>();
                        col->kind = Expr::Kind::Column;
                        col->name = b.columns[c].name;
                        col->qualifier = b.alias;
                        col->boundSource = static_cast<int>(s);
                        col->boundColumn = static_cast<int>(c);
                        col->offset = e.offset;
                        p->items.push_back(col.get());
                        ColumnDef def = b.columns[c];
                        // The same name from two tables: "alias.name", as Access names them.
                        if (e.qualifier.empty()) {
                            for (std::size_t o = 0; o < p->sources.size(); ++o) {
                                if (o == s) continue;
                                for (const auto& oc : p->sources[o].columns)
                                    if (namesEqual(oc.name, def.name)) { def.name = b.alias + "." + b.columns[c].name; break; }
                            }
                        }
                        def.autoIncrement = def.autoIncrement && sel.into.has_value() == false;
                        p->outColumns.push_back(std::move(def));
                        p->owned.push_back(std::move(col));
                    }
                }
                if (!any) {
                    if (e.qualifier.empty()) placed(e.offset, "SELECT * needs a FROM clause with at least one table.");
                    placed(e.offset, "The name '" + e.qualifier + "' is not a table of the FROM clause.");
                }
                continue;
            }
            bindExpr(e, *p, true);
            p->items.push_back(&e);
            ColumnDef def = inferColumn(e, *p);
            if (!item.alias.empty()) def.name = item.alias;
            else if (e.kind == Expr::Kind::Column) def.name = e.name;
            else def.name = fox() ? "exp_" + std::to_string(++exprCounter) : "Expr" + std::to_string(1000 + exprCounter++);
            p->outColumns.push_back(std::move(def));
        }
        if (p->items.empty()) throw Error("The query selects no fields.");
        for (auto& s : p->sources)
            for (const Expr* on : s.on) bindExpr(const_cast<Expr&>(*on), *p, false);
        if (sel.where) bindExpr(*sel.where, *p, false);
        for (auto& g : sel.groupBy) { bindExpr(*g, *p, false); p->grouped = true; }
        if (sel.having) { bindExpr(*sel.having, *p, true); p->grouped = true; }

        for (auto& o : sel.orderBy) {
            OrderKey k;
            k.descending = o.descending;
            Expr& e = *o.expr;
            if (e.kind == Expr::Kind::Literal && (e.value.type() == VarType::Long)) {
                const std::int64_t n = e.value.rawInt();
                if (n < 1 || n > static_cast<std::int64_t>(p->items.size()))
                    placed(e.offset, "ORDER BY " + std::to_string(n) + " does not name a column of the select list.");
                k.item = static_cast<int>(n - 1);
            } else {
                bindExpr(e, *p, true, p.get());
                if (e.kind == Expr::Kind::Column && e.boundSource < 0) {
                    // Not a source column: an output alias.
                    for (std::size_t i = 0; i < p->outColumns.size(); ++i)
                        if (namesEqual(p->outColumns[i].name, e.name)) { k.item = static_cast<int>(i); break; }
                    if (k.item < 0) placed(e.offset, "Unknown field '" + e.name + "' in ORDER BY.");
                } else {
                    k.expr = &e;
                }
            }
            p->order.push_back(k);
        }
        return p;
    }

    // ---- running ----
    bool conditionsHold(const std::vector<const Expr*>& conds, const EvalContext& ctx) const {
        for (const Expr* c : conds) {
            Value s;
            if (!isTrue(evaluateRef(*c, ctx, s))) return false;
        }
        return true;
    }

    // Loads every source except a streamed first one into memory.
    void materialiseSources(Plan& p) {
        for (std::size_t i = 0; i < p.sources.size(); ++i) {
            BoundSource& b = p.sources[i];
            if (!b.streamed) continue;
            if (i == 0) continue;
            b.streamed = false;
            auto cur = b.db->scan(b.table);
            while (cur->next()) {
                std::vector<Value> row(b.columns.size());
                for (std::size_t c = 0; c < row.size(); ++c) row[c] = cur->value(c);
                b.rows.push_back(std::move(row));
            }
            if (b.join == Source::JoinKind::Right) b.matched.assign(b.rows.size(), 0);
        }
    }

    // Nested loops over the sources; emit() is called for every combined row
    // that passes WHERE.
    template <class Emit>
    void forEachRow(Plan& p, std::vector<RowFrame>& frames, Emit&& emit) {
        const EvalContext ctx = context(&frames);
        const std::size_t n = p.sources.size();
        if (n == 0) {
            if (!p.sel->where || isTrue(evaluate(*p.sel->where, ctx))) emit();
            return;
        }
        auto rec = [&](auto& self, std::size_t level) -> void {
            if (level == n) {
                if (!p.sel->where || isTrue(evaluate(*p.sel->where, ctx))) emit();
                return;
            }
            BoundSource& b = p.sources[level];
            bool any = false;
            for (std::size_t r = 0; r < b.rows.size(); ++r) {
                visit();
                frames[level] = RowFrame{nullptr, &b.rows[r]};
                if (!conditionsHold(b.on, ctx)) continue;
                any = true;
                if (b.join == Source::JoinKind::Right) b.matched[r] = 1;
                self(self, level + 1);
            }
            if (!any && level > 0 && b.join == Source::JoinKind::Left) {
                frames[level] = RowFrame{};
                self(self, level + 1);
            }
            frames[level] = RowFrame{};
        };
        BoundSource& first = p.sources[0];
        if (first.streamed) {
            auto cur = first.db->scan(first.table);
            frames[0] = RowFrame{cur.get(), nullptr};
            while (cur->next()) {
                visit();
                if (!conditionsHold(first.on, ctx)) continue;
                rec(rec, 1);
            }
            frames[0] = RowFrame{};
        } else {
            rec(rec, 0);
        }
        // Rows of RIGHT JOIN sources that nothing matched, with Nulls on the left.
        for (std::size_t level = 1; level < n; ++level) {
            BoundSource& b = p.sources[level];
            if (b.join != Source::JoinKind::Right) continue;
            for (std::size_t r = 0; r < b.rows.size(); ++r) {
                if (b.matched[r]) continue;
                for (auto& f : frames) f = RowFrame{};
                frames[level] = RowFrame{nullptr, &b.rows[r]};
                if (!p.sel->where || isTrue(evaluate(*p.sel->where, ctx))) emit();
            }
            for (auto& f : frames) f = RowFrame{};
        }
    }

    struct AggState {
        std::int64_t count = 0;
        Value acc;
        bool has = false;
    };

    void accumulate(const Expr& a, AggState& st, const EvalContext& ctx) {
        const Fn fn = static_cast<Fn>(a.function);
        if (a.args[0]->kind == Expr::Kind::Star) { ++st.count; return; }
        Value s;
        const Value& v = evaluateRef(*a.args[0], ctx, s);
        if (v.isNull() || v.isEmpty()) return;
        ++st.count;
        switch (fn) {
        case Fn::Count: break;
        case Fn::Sum: case Fn::Avg: {
            Value num = v;
            if (num.type() == VarType::Boolean) num = Value::longInt(num.rawInt() ? -1 : 0);
            st.acc = st.has ? arithmetic(BinOp::Add, st.acc, num, dialect) : num;
            st.has = true;
            break;
        }
        case Fn::Min: if (!st.has || compareValues(v, st.acc, ci, fox()) < 0) { st.acc = v; st.has = true; } break;
        case Fn::Max: if (!st.has || compareValues(v, st.acc, ci, fox()) > 0) { st.acc = v; st.has = true; } break;
        case Fn::First: if (!st.has) { st.acc = v; st.has = true; } break;
        case Fn::Last: st.acc = v; st.has = true; break;
        default: break;
        }
    }

    Value aggregateResult(const Expr& a, const AggState& st) const {
        const Fn fn = static_cast<Fn>(a.function);
        if (fn == Fn::Count) return Value::longInt(static_cast<std::int32_t>(std::min<std::int64_t>(st.count, INT32_MAX)));
        if (!st.has) return Value::null();
        if (fn == Fn::Avg) return Value::dbl(st.acc.toDouble() / static_cast<double>(st.count));
        return st.acc;
    }

    // Output row: the items, then hidden sort keys.
    void project(const Plan& p, const EvalContext& ctx, std::vector<Value>& out) const {
        out.clear();
        out.reserve(p.items.size() + p.order.size());
        for (const Expr* e : p.items) out.push_back(evaluate(*e, ctx));
        for (const OrderKey& k : p.order) out.push_back(k.item >= 0 ? Value() : evaluate(*k.expr, ctx));
    }

    std::vector<std::vector<Value>> runMaterialised(Plan& p) {
        materialiseSources(p);
        std::vector<RowFrame> frames(p.sources.size());
        std::vector<std::vector<Value>> out;
        const EvalContext ctx = context(&frames);

        if (!p.grouped) {
            forEachRow(p, frames, [&] {
                std::vector<Value> row;
                project(p, ctx, row);
                out.push_back(std::move(row));
            });
        } else {
            struct Group {
                std::vector<std::vector<Value>> snapshot;
                std::vector<AggState> aggs;
            };
            std::vector<Group> groups;
            const std::size_t keyCount = p.sel->groupBy.size();
            std::map<std::vector<Value>, std::size_t, ValuesLess> index(ValuesLess{ci, fox(), keyCount});
            std::vector<Value> key;
            forEachRow(p, frames, [&] {
                key.clear();
                for (auto& g : p.sel->groupBy) key.push_back(evaluate(*g, ctx));
                auto it = index.find(key);
                std::size_t gi;
                if (it == index.end()) {
                    gi = groups.size();
                    Group g;
                    g.aggs.resize(p.aggregates.size());
                    g.snapshot.resize(frames.size());
                    for (std::size_t s = 0; s < frames.size(); ++s) {
                        const std::size_t ncols = p.sources[s].columns.size();
                        if (!frames[s].cursor && !frames[s].row) continue; // null side of an outer join
                        g.snapshot[s].resize(ncols);
                        for (std::size_t c = 0; c < ncols; ++c) g.snapshot[s][c] = frames[s].get(c);
                    }
                    groups.push_back(std::move(g));
                    index.emplace(key, gi);
                } else {
                    gi = it->second;
                }
                for (std::size_t a = 0; a < p.aggregates.size(); ++a) accumulate(*p.aggregates[a], groups[gi].aggs[a], ctx);
            });
            if (groups.empty() && keyCount == 0) {
                Group g;
                g.aggs.resize(p.aggregates.size());
                g.snapshot.resize(frames.size());
                groups.push_back(std::move(g));
            }
            std::vector<Value> aggValues(p.aggregates.size());
            std::vector<RowFrame> gframes(frames.size());
            const EvalContext gctx = context(&gframes, &aggValues);
            for (auto& g : groups) {
                for (std::size_t s = 0; s < gframes.size(); ++s)
                    gframes[s] = g.snapshot[s].empty() ? RowFrame{} : RowFrame{nullptr, &g.snapshot[s]};
                for (std::size_t a = 0; a < p.aggregates.size(); ++a) aggValues[a] = aggregateResult(*p.aggregates[a], g.aggs[a]);
                if (p.sel->having && !isTrue(evaluate(*p.sel->having, gctx))) continue;
                std::vector<Value> row;
                project(p, gctx, row);
                out.push_back(std::move(row));
            }
        }
        finish(p.order, p.items.size(), p.sel->distinct, p.sel->top, p.sel->topPercent, out);
        return out;
    }

    // DISTINCT, ORDER BY and TOP over projected rows.
    void finish(const std::vector<OrderKey>& order, std::size_t width, bool distinct, std::optional<std::int64_t> top,
                bool percent, std::vector<std::vector<Value>>& rows) const {
        if (distinct) {
            std::set<std::vector<Value>, ValuesLess> seen(ValuesLess{ci, fox(), width});
            std::vector<std::vector<Value>> kept;
            for (auto& r : rows)
                if (seen.insert(r).second) kept.push_back(std::move(r));
            rows = std::move(kept);
        }
        if (!order.empty()) {
            std::stable_sort(rows.begin(), rows.end(), [&](const std::vector<Value>& a, const std::vector<Value>& b) {
                for (std::size_t i = 0; i < order.size(); ++i) {
                    const std::size_t col = order[i].item >= 0 ? static_cast<std::size_t>(order[i].item) : width + i;
                    const int c = compareValues(a[col], b[col], ci, fox());
                    if (c) return order[i].descending ? c > 0 : c < 0;
                }
                return false;
            });
        }
        if (top) {
            std::size_t keep = static_cast<std::size_t>(*top);
            if (percent) {
                const double share = static_cast<double>(rows.size()) * static_cast<double>(*top) / 100.0;
                keep = static_cast<std::size_t>(std::ceil(share));
            }
            if (rows.size() > keep) rows.resize(keep);
        }
        for (auto& r : rows) r.resize(width);
    }

    std::int64_t executeSelectInto(Select& sel);
    std::int64_t executeInsert(Insert& ins);
    // Binds the one table an UPDATE or DELETE changes as the plan's source.
    storage::CatalogEntry bindTarget(const TableName& t, Plan& p);
    std::int64_t executeUpdate(Update& up);
    std::int64_t executeDelete(Delete& del);
    void executeCreateTable(CreateTable& ct);
    void executeAlter(AlterTable& at);
    void executeAlterKeys(AlterTable& at);
    void executeIndex(Statement& s);
    // The table FoxPro's USE opened: INDEX ON works on it.
    std::string currentTable;
    std::int64_t appendRows(QueryCursor& rows, storage::Database& d, const std::string& table,
                            const std::vector<ColumnDef>& columns, const std::vector<int>& mapping);
};

// A streamed query: one table (or none), no grouping, no sorting.
class StreamCursor : public QueryCursor {
public:
    StreamCursor(std::unique_ptr<Plan> plan, std::unique_ptr<Select> owned, Executor::Impl& impl)
        : plan_(std::move(plan)), owned_(std::move(owned)), impl_(impl) {
        frames_.resize(plan_->sources.size());
        ctx_ = impl_.context(&frames_);
        if (!plan_->sources.empty()) {
            BoundSource& b = plan_->sources[0];
            cursor_ = b.db->scan(b.table);
            frames_[0] = RowFrame{cursor_.get(), nullptr};
        }
        values_.resize(plan_->items.size());
        direct_.resize(plan_->items.size(), -1);
        for (std::size_t i = 0; i < plan_->items.size(); ++i)
            if (plan_->items[i]->kind == Expr::Kind::Column && plan_->items[i]->boundSource == 0)
                direct_[i] = plan_->items[i]->boundColumn;
        if (plan_->sel->top) remaining_ = *plan_->sel->top;
    }
    const std::vector<ColumnDef>& columns() const override { return plan_->outColumns; }
    bool next() override {
        if (remaining_ == 0) return false;
        if (!cursor_) {
            if (doneSingle_) return false;
            doneSingle_ = true;
            if (plan_->sel->where && !isTrue(evaluate(*plan_->sel->where, ctx_))) return false;
            compute();
            if (remaining_ > 0) --remaining_;
            return true;
        }
        while (cursor_->next()) {
            impl_.visit();
            if (plan_->sel->where) {
                Value s;
                if (!isTrue(evaluateRef(*plan_->sel->where, ctx_, s))) continue;
            }
            compute();
            if (remaining_ > 0) --remaining_;
            return true;
        }
        remaining_ = 0;
        return false;
    }
    const Value& value(std::size_t c) const override {
        if (direct_[c] >= 0) return cursor_->value(static_cast<std::size_t>(direct_[c]));
        return values_[c];
    }
    bool complexItems(std::size_t c, std::vector<storage::ComplexItem>& out) override {
        if (c < direct_.size() && direct_[c] >= 0 && cursor_)
            return cursor_->complexItems(static_cast<std::size_t>(direct_[c]), out);
        out.clear();
        return false;
    }

private:
    void compute() {
        for (std::size_t i = 0; i < plan_->items.size(); ++i)
            if (direct_[i] < 0) values_[i] = evaluate(*plan_->items[i], ctx_);
    }
    std::unique_ptr<Plan> plan_;
    std::unique_ptr<Select> owned_;
    Executor::Impl& impl_;
    std::vector<RowFrame> frames_;
    EvalContext ctx_;
    std::unique_ptr<storage::RowCursor> cursor_;
    std::vector<Value> values_;
    std::vector<int> direct_;
    std::int64_t remaining_ = -1;
    bool doneSingle_ = false;
};

// Keeps the tree alive under a cursor made from it.
class OwningCursor : public QueryCursor {
public:
    OwningCursor(std::unique_ptr<QueryCursor> inner, std::unique_ptr<Select> tree)
        : tree_(std::move(tree)), inner_(std::move(inner)) {}
    const std::vector<ColumnDef>& columns() const override { return inner_->columns(); }
    bool next() override { return inner_->next(); }
    const Value& value(std::size_t c) const override { return inner_->value(c); }
    bool complexItems(std::size_t c, std::vector<storage::ComplexItem>& out) override {
        return inner_->complexItems(c, out);
    }

private:
    std::unique_ptr<Select> tree_;
    std::unique_ptr<QueryCursor> inner_;
};

// ---------------------------------------------------------------------------

Executor::Executor(storage::Database& db, Dialect dialect, ExecutorOptions options)
    : db_(db), dialect_(dialect), options_(options),
      impl_(std::make_unique<Impl>(*this, db, dialect, options.caseInsensitiveText)) {}

Executor::~Executor() = default;

std::string Executor::syntaxMessage(const ParseError& e, const ScriptStatement& st) {
    const TextPosition p = positionIn(st, e.offset);
    std::string m = "Syntax error";
    if (!e.statement.empty()) m += " in " + e.statement + " statement";
    m += " at line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
    if (!e.near.empty()) m += " near '" + e.near + "'";
    if (!e.detail.empty()) m += ": " + e.detail;
    m += '.';
    return m;
}

std::unique_ptr<QueryCursor> Executor::query(std::string_view text, QueryShape* shape) {
    std::string_view t = text;
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\r' || t.front() == '\n')) t.remove_prefix(1);
    std::unique_ptr<Select> sel;
    std::string generated;
    const bool isQuery = t.size() >= 6 && iequals(t.substr(0, 6), "SELECT");
    if (!isQuery) {
        // A bare table name as a recordset's source.
        std::string_view name = t;
        while (!name.empty() && (name.back() == ' ' || name.back() == ';' || name.back() == '\r' || name.back() == '\n')) name.remove_suffix(1);
        if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') || (name.front() == '`' && name.back() == '`')
                                 || (name.front() == '"' && name.back() == '"')))
            name = name.substr(1, name.size() - 2);
        sel = std::make_unique<Select>();
        SelectItem star;
        star.expr = std::make_unique<Expr>();
        star.expr->kind = Expr::Kind::Star;
        sel->items.push_back(std::move(star));
        sel->from = std::make_unique<Source>();
        sel->from->table.name = std::string(name);
    } else {
        try {
            sel = impl_->parser.parseSelect(t);
        } catch (const ParseError& e) {
            throw Error(syntaxMessage(e, ScriptStatement{t, 1, 1}));
        }
    }
    try {
        return query(std::move(sel), shape);
    } catch (const PlacedError& e) {
        throw Error(withPlace(e.what(), ScriptStatement{t, 1, 1}, e.offset));
    }
}

std::unique_ptr<QueryCursor> Executor::query(std::unique_ptr<Select> owned, QueryShape* shape) {
    Select& sel = *owned;
    if (sel.into) throw Error("SELECT ... INTO makes a table; it cannot be opened as a recordset.");

    if (sel.unionNext) {
        // Each part on its own, then together.  ORDER BY and TOP belong to
        // the whole union.
        std::vector<Select*> parts{&sel};
        bool all = true;
        for (Select* q = &sel; q->unionNext; q = q->unionNext.get()) {
            if (!q->unionAll) all = false;
            parts.push_back(q->unionNext.get());
        }
        std::vector<OrderItem> unionOrder = std::move(sel.orderBy);
        sel.orderBy.clear();
        const auto top = sel.top;
        sel.top.reset();
        std::vector<ColumnDef> cols;
        std::vector<std::vector<Value>> rows;
        for (Select* part : parts) {
            auto plan = impl_->prepare(*part);
            auto partRows = impl_->runMaterialised(*plan);
            if (part == &sel) cols = plan->outColumns;
            else if (plan->outColumns.size() != cols.size())
                throw Error("The number of columns in the two selected tables or queries of a union query do not match.");
            for (auto& r : partRows) rows.push_back(std::move(r));
        }
        std::vector<OrderKey> order;
        for (auto& o : unionOrder) {
            OrderKey k;
            k.descending = o.descending;
            const Expr& e = *o.expr;
            if (e.kind == Expr::Kind::Literal && e.value.type() == VarType::Long) k.item = static_cast<int>(e.value.rawInt() - 1);
            else if (e.kind == Expr::Kind::Column)
                for (std::size_t i = 0; i < cols.size(); ++i)
                    if (namesEqual(cols[i].name, e.name)) { k.item = static_cast<int>(i); break; }
            if (k.item < 0 || k.item >= static_cast<int>(cols.size()))
                throw Error("ORDER BY of a union query must name a column of its first query.");
            order.push_back(k);
        }
        impl_->finish(order, cols.size(), !all, top, sel.topPercent, rows);
        auto c = std::make_unique<RowsCursor>(std::move(cols), std::move(rows));
        return std::make_unique<OwningCursor>(std::move(c), std::move(owned));
    }

    auto plan = impl_->prepare(sel);
    if (shape) {
        *shape = QueryShape{};
        if (plan->sources.size() == 1 && !plan->sources[0].table.empty() && !plan->grouped) {
            shape->baseTable = plan->sources[0].table;
            for (const Expr* e : plan->items)
                shape->baseColumns.push_back(e->kind == Expr::Kind::Column && e->boundSource == 0 ? e->boundColumn : -1);
            bool allStar = sel.items.size() == 1 && sel.items[0].expr->kind == Expr::Kind::Star;
            shape->plainTable = allStar && !sel.where && !sel.distinct && !sel.topPercent;
            shape->top = sel.top;
        }
    }
    const bool streamable = !plan->grouped && !sel.distinct && plan->order.empty() && !sel.topPercent
        && (plan->sources.empty() || (plan->sources.size() == 1 && plan->sources[0].streamed));
    if (streamable) return std::make_unique<StreamCursor>(std::move(plan), std::move(owned), *impl_);
    auto rows = impl_->runMaterialised(*plan);
    auto c = std::make_unique<RowsCursor>(plan->outColumns, std::move(rows));
    return std::make_unique<OwningCursor>(std::move(c), std::move(owned));
}

// ---- statements ----

std::int64_t Executor::Impl::appendRows(QueryCursor& rows, storage::Database& d, const std::string& table,
                                        const std::vector<ColumnDef>& columns, const std::vector<int>& mapping) {
    std::vector<Value> row(columns.size());
    std::int64_t n = 0;
    while (rows.next()) {
        for (auto& v : row) v = Value();
        for (std::size_t i = 0; i < mapping.size(); ++i) {
            const int c = mapping[i];
            if (c < 0) continue;
            row[static_cast<std::size_t>(c)] = convertForColumn(rows.value(i), columns[static_cast<std::size_t>(c)], table);
        }
        try {
            d.append(table, row);
        } catch (const Error& e) {
            throw Error(std::string(e.what()) + " (row " + std::to_string(n + 1) + " of the query)");
        }
        ++n;
    }
    return n;
}

std::int64_t Executor::Impl::executeSelectInto(Select& sel) {
    TableName into = *sel.into;
    sel.into.reset();
    storage::Database& d = target(into);
    if (d.find(into.name)) placed(into.offset, "Table '" + into.name + "' already exists.");

    auto cursor = ex.query(std::make_unique<Select>(std::move(sel)));
    storage::TableSpec spec;
    spec.name = into.name;
    // An external target gets the columns its driver makes of each ADO type.
    const bool external = into.external();
    const Destination dest = isFoxProExternal(into.externalType) ? Destination::FoxPro : Destination::DBase;
    for (const ColumnDef& c : cursor->columns()) {
        if (external) {
            ColumnDef ado = c;
            if (ado.adoType == 0) fillAdoType(ado, fox());
            spec.columns.push_back(columnForAdoType(c.name, ado.adoType, ado.definedSize, ado.precision, ado.scale, dest));
        } else {
            spec.columns.push_back(specFromDef(c));
        }
    }
    // The table is made inside the batch that fills it, so that a database
    // that builds new tables aside shows it only with its rows.
    const bool separate = &d != &db;
    if (separate) d.beginBatch();
    try {
        d.createTable(spec);
    } catch (...) {
        if (separate) d.endBatch();
        throw;
    }
    cache.valid = false;
    std::int64_t n = 0;
    try {
        const std::vector<ColumnDef> created = d.columns(into.name);
        if (created.size() != spec.columns.size())
            throw Error("Table '" + into.name + "' was created with " + std::to_string(created.size()) + " of its "
                        + std::to_string(spec.columns.size()) + " columns.");
        std::vector<int> mapping(created.size());
        for (std::size_t i = 0; i < mapping.size(); ++i) mapping[i] = static_cast<int>(i);
        n = appendRows(*cursor, d, into.name, created, mapping);
    } catch (...) {
        // A copy that stopped half-way is not left behind as if it were whole.
        try { d.dropTable(into.name); } catch (const Error&) {}
        if (separate) d.endBatch();
        throw;
    }
    if (separate) d.endBatch();
    return n;
}

std::int64_t Executor::Impl::executeInsert(Insert& ins) {
    const std::string& name = ins.table.name;
    storage::Database& d = target(ins.table);
    if (!(cache.valid && &d == &db && namesEqual(cache.table, name))) {
        cache.valid = false;
        auto entry = d.find(name);
        if (!entry) placed(ins.table.offset, "Table '" + name + "' does not exist.");
        if (entry->kind == storage::ObjectKind::View || entry->kind == storage::ObjectKind::Query)
            placed(ins.table.offset, "Rows cannot be added to the query '" + name + "'.");
        cache.table = entry->name;
        cache.columns = d.columns(entry->name);
        cache.columnList.clear();
        cache.mapping.clear();
        cache.valid = &d == &db;
    }
    const std::vector<ColumnDef>& columns = cache.columns;
    const std::string& table = cache.table;

    // Column list -> positions, reused while the list text repeats.
    if (!(ins.columnListText == cache.columnList && !cache.mapping.empty()) || ins.columns.empty()) {
        cache.mapping.clear();
        if (ins.columns.empty()) {
            for (std::size_t i = 0; i < columns.size(); ++i) cache.mapping.push_back(static_cast<int>(i));
        } else {
            for (const auto& c : ins.columns) {
                int found = -1;
                for (std::size_t i = 0; i < columns.size(); ++i)
                    if (namesEqual(columns[i].name, c)) { found = static_cast<int>(i); break; }
                if (found < 0) {
                    cache.columnList.clear();
                    throw Error("The INSERT INTO statement contains the following unknown field name: '" + c
                                + "'. Table '" + table + "' has no such field.");
                }
                if (std::find(cache.mapping.begin(), cache.mapping.end(), found) != cache.mapping.end()) {
                    cache.columnList.clear();
                    throw Error("Duplicate output destination '" + c + "'.");
                }
                cache.mapping.push_back(found);
            }
        }
        cache.columnList.assign(ins.columnListText);
    }
    const std::vector<int>& mapping = cache.mapping;

    if (ins.select) {
        // The query below may run statements of its own: keep our copies.
        const std::string table = cache.table;
        const std::vector<ColumnDef> columns = cache.columns;
        const std::vector<int> mapping = cache.mapping;
        // INSERT ... SELECT: read all first when the source is the target.
        // Reading the target while adding to it would never end: such a
        // source is read completely first.
        const bool selfCopy = mentions(ins.select->from.get(), table);
        std::unique_ptr<QueryCursor> cursor = ex.query(std::move(ins.select));
        if (selfCopy) {
            std::vector<std::vector<Value>> rows;
            while (cursor->next()) {
                std::vector<Value> r(cursor->columns().size());
                for (std::size_t i = 0; i < r.size(); ++i) r[i] = cursor->value(i);
                rows.push_back(std::move(r));
            }
            cursor = std::make_unique<RowsCursor>(cursor->columns(), std::move(rows));
        }
        if (cursor->columns().size() != mapping.size())
            throw Error("Number of query values and destination fields are not the same ("
                        + std::to_string(cursor->columns().size()) + " values, " + std::to_string(mapping.size()) + " fields).");
        return appendRows(*cursor, d, table, columns, mapping);
    }

    std::int64_t n = 0;
    std::vector<RowFrame> noFrames;
    const EvalContext ctx = context(&noFrames);
    for (auto& values : ins.rows) {
        if (values.size() != mapping.size())
            throw Error("Number of query values and destination fields are not the same (" + std::to_string(values.size())
                        + " values, " + std::to_string(mapping.size()) + " fields).");
        // Columns left out are Empty; when the list names every column (no
        // name twice, see above) each slot is overwritten below.
        if (mapping.size() != columns.size() || rowBuffer.size() != columns.size())
            rowBuffer.assign(columns.size(), Value());
        for (std::size_t i = 0; i < values.size(); ++i) {
            InsertValue& iv = values[i];
            const ColumnDef& col = columns[static_cast<std::size_t>(mapping[i])];
            try {
                Value& slot = rowBuffer[static_cast<std::size_t>(mapping[i])];
                if (!iv.expr) {
                    slot = convertForColumn(std::move(iv.value), col, table);
                    continue;
                }
                Value v;
                if (iv.expr->kind == Expr::Kind::Literal) v = std::move(iv.expr->value);
                else {
                    if (iv.expr->kind == Expr::Kind::Column)
                        placed(iv.offset, "Unknown name '" + iv.expr->name + "': a value is expected here (text needs quotes).");
                    v = evaluate(*iv.expr, ctx);
                }
                slot = convertForColumn(std::move(v), col, table);
            } catch (const PlacedError&) {
                throw;
            } catch (const Error& err) {
                placed(iv.offset, err.what());
            }
        }
        d.append(table, rowBuffer);
        ++n;
    }
    return n;
}

storage::CatalogEntry Executor::Impl::bindTarget(const TableName& t, Plan& p) {
    auto entry = db.find(t.name);
    if (!entry) placed(t.offset, "Table '" + t.name + "' does not exist.");
    BoundSource b;
    b.table = entry->name;
    b.alias = t.name;
    b.db = &db;
    b.columns = db.columns(entry->name);
    p.sources.push_back(std::move(b));
    return *entry;
}

std::int64_t Executor::Impl::executeUpdate(Update& up) {
    Plan p;
    const auto entry = bindTarget(up.table, p);
    std::vector<int> targets;
    for (auto& a : up.set) {
        int found = -1;
        for (std::size_t i = 0; i < p.sources[0].columns.size(); ++i)
            if (namesEqual(p.sources[0].columns[i].name, a.column)) found = static_cast<int>(i);
        if (found < 0) throw Error("Unknown field '" + a.column + "' in UPDATE of table '" + entry.name + "'.");
        bindExpr(*a.value, p, false);
        targets.push_back(found);
    }
    if (up.where) bindExpr(*up.where, p, false);

    // Changes are gathered during the scan and written after it.
    std::vector<std::pair<std::uint64_t, std::vector<Value>>> pending;
    auto cur = db.scan(entry.name);
    std::vector<RowFrame> frames{RowFrame{cur.get(), nullptr}};
    const EvalContext ctx = context(&frames);
    const auto& cols = p.sources[0].columns;
    while (cur->next()) {
        if (up.where && !isTrue(evaluate(*up.where, ctx))) continue;
        std::vector<Value> newValues;
        for (auto& a : up.set) newValues.push_back(evaluate(*a.value, ctx));
        std::vector<Value> row(cols.size());
        for (std::size_t c = 0; c < cols.size(); ++c) row[c] = cur->value(c);
        for (std::size_t k = 0; k < targets.size(); ++k) {
            const std::size_t c = static_cast<std::size_t>(targets[k]);
            row[c] = convertForColumn(std::move(newValues[k]), cols[c], entry.name);
        }
        pending.emplace_back(cur->rowId(), std::move(row));
    }
    cur.reset();
    for (auto& [id, row] : pending) db.update(entry.name, id, row);
    return static_cast<std::int64_t>(pending.size());
}

std::int64_t Executor::Impl::executeDelete(Delete& del) {
    Plan p;
    const auto entry = bindTarget(del.table, p);
    if (del.where) bindExpr(*del.where, p, false);
    std::vector<std::uint64_t> ids;
    auto cur = db.scan(entry.name);
    std::vector<RowFrame> frames{RowFrame{cur.get(), nullptr}};
    const EvalContext ctx = context(&frames);
    while (cur->next())
        if (!del.where || isTrue(evaluate(*del.where, ctx))) ids.push_back(cur->rowId());
    cur.reset();
    for (auto id : ids) db.remove(entry.name, id);
    return static_cast<std::int64_t>(ids.size());
}

void Executor::Impl::executeCreateTable(CreateTable& ct) {
    storage::Database& d = target(ct.table);
    if (d.find(ct.table.name)) placed(ct.table.offset, "Table '" + ct.table.name + "' already exists.");
    storage::TableSpec spec;
    spec.name = ct.table.name;
    for (std::size_t i = 0; i < ct.columns.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j)
            if (namesEqual(ct.columns[i].name, ct.columns[j].name))
                throw Error("Field '" + ct.columns[i].name + "' is defined more than once in table '" + ct.table.name + "'.");
        spec.columns.push_back(ct.columns[i].spec);
    }
    for (const auto& ix : ct.indexes)
        for (const auto& c : ix.columns) {
            bool found = false;
            for (const auto& col : ct.columns) if (namesEqual(col.name, c)) found = true;
            if (!found) throw Error("The key of table '" + ct.table.name + "' names the field '" + c + "', which it does not have.");
        }
    spec.indexes = ct.indexes;
    d.createTable(spec);
}

void Executor::Impl::executeAlterKeys(AlterTable& at) {
    auto entry = db.find(at.table.name);
    if (!entry || (entry->kind != storage::ObjectKind::Table))
        placed(at.table.offset, "Table '" + at.table.name + "' does not exist.");
    for (const auto& k : at.addKeys) db.createIndex(entry->name, k);
    if (at.dropPrimaryKey) {
        std::string primary;
        for (const auto& k : db.indexes(entry->name))
            if (k.primaryKey) primary = k.name;
        if (primary.empty()) throw Error("Table '" + entry->name + "' has no primary key to drop.");
        db.dropIndex(entry->name, primary);
    }
    for (const auto& name : at.dropKeys) db.dropIndex(entry->name, name);
}

void Executor::Impl::executeIndex(Statement& s) {
    IndexStatement& ix = *s.index;
    if (s.kind == StatementKind::Use) {
        if (ix.table.name.empty()) {
            currentTable.clear();
            return;
        }
        auto entry = db.find(ix.table.name);
        if (!entry || entry->kind != storage::ObjectKind::Table)
            placed(ix.table.offset, "File '" + ix.table.name + "' does not exist.");
        currentTable = entry->name;
        return;
    }
    std::string table = ix.table.name;
    if (table.empty()) {
        if (currentTable.empty()) throw Error("No table is open in the current work area.");
        table = currentTable;
    }
    storage::Database& d = target(ix.table);
    auto entry = d.find(table);
    if (!entry || entry->kind != storage::ObjectKind::Table)
        placed(ix.table.offset, "Table '" + table + "' does not exist.");
    if (s.kind == StatementKind::CreateIndex) d.createIndex(entry->name, ix.index);
    else d.dropIndex(entry->name, ix.index.name);
}

void Executor::Impl::executeAlter(AlterTable& at) {
    if (!at.addKeys.empty() || !at.dropKeys.empty() || at.dropPrimaryKey) {
        executeAlterKeys(at);
        return;
    }
    // No engine call changes a table's columns in place: the table is
    // rebuilt under a temporary name, filled, and put in the old one's place.
    auto entry = db.find(at.table.name);
    if (!entry || (entry->kind != storage::ObjectKind::Table))
        placed(at.table.offset, "Table '" + at.table.name + "' does not exist.");
    // Its keys are made again on the new table, but for those on dropped columns.
    std::vector<storage::IndexSpec> keys;
    for (auto& k : db.indexes(entry->name)) {
        bool dropped = false;
        for (const auto& c : k.columns)
            for (const auto& d : at.dropColumns) dropped = dropped || (!at.add && namesEqual(c, d));
        if (!dropped) keys.push_back(std::move(k));
    }
    const std::vector<ColumnDef> old = db.columns(entry->name);
    storage::TableSpec spec;
    std::string tmp = entry->name + "_alt";
    for (int k = 0; db.find(tmp); ++k) tmp = entry->name + "_alt" + std::to_string(k);
    spec.name = tmp;
    std::vector<int> mapping; // per old column: its place in the new table, or -1
    for (std::size_t i = 0; i < old.size(); ++i) {
        bool drop = false;
        if (!at.add)
            for (const auto& d : at.dropColumns) if (namesEqual(d, old[i].name)) drop = true;
        if (drop) { mapping.push_back(-1); continue; }
        ColumnSpec s = specFromDef(old[i]);
        s.nullable = old[i].nullable;
        s.autoIncrement = old[i].autoIncrement;
        mapping.push_back(static_cast<int>(spec.columns.size()));
        spec.columns.push_back(s);
    }
    if (at.add) {
        for (const auto& c : at.addColumns) {
            for (const auto& o : old)
                if (namesEqual(o.name, c.name)) throw Error("Field '" + c.name + "' already exists in table '" + entry->name + "'.");
            spec.columns.push_back(c.spec);
        }
    } else {
        for (const auto& d : at.dropColumns) {
            bool found = false;
            for (const auto& o : old) if (namesEqual(o.name, d)) found = true;
            if (!found) throw Error("Table '" + entry->name + "' has no field '" + d + "' to drop.");
        }
        if (spec.columns.empty()) throw Error("A table must keep at least one field.");
    }
    db.createTable(spec);
    try {
        const std::vector<ColumnDef> created = db.columns(tmp);
        auto cur = db.scan(entry->name);
        std::vector<Value> row(created.size());
        while (cur->next()) {
            for (auto& v : row) v = Value();
            for (std::size_t i = 0; i < mapping.size(); ++i)
                if (mapping[i] >= 0)
                    row[static_cast<std::size_t>(mapping[i])] = convertForColumn(cur->value(i), created[static_cast<std::size_t>(mapping[i])], entry->name);
            db.append(tmp, row);
        }
    } catch (...) {
        try { db.dropTable(tmp); } catch (const Error&) {}
        throw;
    }
    db.dropTable(entry->name);
    db.renameObject(tmp, entry->name);
    for (const auto& k : keys) db.createIndex(entry->name, k);
}

std::int64_t Executor::execute(Statement& s, const ScriptStatement& st) {
    Impl& m = *impl_;
    try {
        switch (s.kind) {
        case StatementKind::Insert: return m.executeInsert(*s.insert);
        case StatementKind::Select:
            if (s.select->into) {
                m.cache.valid = false;
                return m.executeSelectInto(*s.select);
            }
            query(std::move(s.select)); // checks names; the rows go nowhere
            return 0;
        case StatementKind::Update: return m.executeUpdate(*s.update);
        case StatementKind::Delete: return m.executeDelete(*s.del);
        case StatementKind::CreateTable:
            m.cache.valid = false;
            m.executeCreateTable(*s.createTable);
            return 0;
        case StatementKind::DropTable: {
            m.cache.valid = false;
            storage::Database& d = m.target(s.drop->name);
            auto entry = d.find(s.drop->name.name);
            if (!entry) placed(s.drop->name.offset, "Table '" + s.drop->name.name + "' does not exist.");
            if (entry->kind == storage::ObjectKind::View || entry->kind == storage::ObjectKind::Query) {
                // The Access engine drops a saved query named in DROP TABLE; FoxPro wants DROP VIEW.
                if (dialect_ == Dialect::FoxPro)
                    placed(s.drop->name.offset, "'" + entry->name + "' is a view; use DROP VIEW to remove it.");
                d.dropView(entry->name);
            } else {
                d.dropTable(entry->name);
            }
            return 0;
        }
        case StatementKind::DropView: {
            m.cache.valid = false;
            auto entry = db_.find(s.drop->name.name);
            if (!entry) placed(s.drop->name.offset, "View '" + s.drop->name.name + "' does not exist.");
            if (entry->kind != storage::ObjectKind::View && entry->kind != storage::ObjectKind::Query)
                placed(s.drop->name.offset, "'" + entry->name + "' is a table, not a view; use DROP TABLE to remove it.");
            db_.dropView(entry->name);
            return 0;
        }
        case StatementKind::CreateView: {
            m.cache.valid = false;
            const std::string& name = s.createView->name.name;
            if (db_.find(name)) placed(s.createView->name.offset, "Object '" + name + "' already exists.");
            // The text is stored as written.  It must at least be a query;
            // a query in the other side's dialect is welcome (views travel
            // between the two databases unchanged).
            const std::string& sql = s.createView->sql;
            bool ok = false;
            for (Dialect d : {dialect_, dialect_ == Dialect::Access ? Dialect::FoxPro : Dialect::Access}) {
                try {
                    Parser p(d);
                    p.parseSelect(sql);
                    ok = true;
                    break;
                } catch (const ParseError& e) {
                    // Too deep to be opened again: refused now, not when opened.
                    if (e.tooDeep) placed(s.createView->sqlOffset + e.offset, "The view '" + name + "' cannot be stored: " + e.detail + ".");
                }
            }
            if (!ok) {
                std::string_view head = sql;
                while (!head.empty() && (head.front() == ' ' || head.front() == '(')) head.remove_prefix(1);
                auto starts = [&](std::string_view w) { return head.size() >= w.size() && iequals(head.substr(0, w.size()), w); };
                if (!(starts("PARAMETERS") || starts("TRANSFORM") || starts("SELECT")))
                    throw Error("The view '" + name + "' must be defined by a query (SELECT ...).");
            }
            db_.createView(name, sql);
            return 0;
        }
        case StatementKind::AlterTable:
            m.cache.valid = false;
            m.executeAlter(*s.alter);
            return 0;
        case StatementKind::CreateIndex:
        case StatementKind::DropIndex:
        case StatementKind::Use:
            m.cache.valid = false;
            m.executeIndex(s);
            return 0;
        }
    } catch (const PlacedError& e) {
        throw Error(withPlace(e.what(), st, e.offset));
    }
    return 0;
}

std::size_t Executor::runScript(std::string_view text, const Observer& observer) {
    ScriptSplitter splitter(text, dialect_);
    ScriptStatement st;
    Statement statement;
    std::size_t count = 0, failed = 0;
    std::string firstError;
    std::uint32_t firstLine = 0;
    std::vector<std::uint32_t> failedLines;

    db_.beginBatch();
    try {
        while (splitter.next(st)) {
            StatementOutcome out;
            out.line = st.line;
            out.column = st.column;
            out.text = st.text;
            try {
                if (!impl_->parser.parse(st.text, statement)) continue;
                ++count;
                out.kind = statement.kind;
                out.rowsAffected = execute(statement, st);
            } catch (const ParseError& e) {
                ++count;
                out.failed = true;
                out.error = syntaxMessage(e, st);
            } catch (const Error& e) {
                out.failed = true;
                out.error = e.what();
            } catch (const std::bad_alloc&) {
                out.failed = true;
                out.error = "Not enough memory to run the statement.";
            }
            if (out.failed) {
                ++failed;
                if (failed == 1) { firstError = out.error; firstLine = st.line; }
                if (failedLines.size() < 10) failedLines.push_back(st.line);
            }
            if (observer) observer(out);
        }
    } catch (...) {
        impl_->externals.clear();
        db_.endBatch();
        throw;
    }
    impl_->externals.clear();
    db_.endBatch();

    if (failed) {
        if (count == 1) throw Error(firstError);
        std::string lines;
        for (std::size_t i = 0; i < failedLines.size(); ++i) {
            if (i) lines += ", ";
            lines += std::to_string(failedLines[i]);
        }
        if (failed > failedLines.size()) lines += ", ...";
        throw Error(std::to_string(failed) + " of " + std::to_string(count) + " statements failed (line"
                    + (failed == 1 ? " " : "s ") + lines + "). The first, at line " + std::to_string(firstLine) + ": "
                    + firstError);
    }
    return count;
}

} // namespace qm::sql
