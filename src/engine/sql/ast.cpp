#include "sql/ast.h"

#include "sql/depth.h"
#include "sql/types.h"

namespace qm::sql {

namespace {

// Everything of a node but its children.
ExprPtr copyNode(const Expr& from) {
    auto e = std::make_unique<Expr>();
    e->kind = from.kind;
    e->bop = from.bop;
    e->uop = from.uop;
    e->negated = from.negated;
    e->offset = from.offset;
    e->value = from.value;
    e->name = from.name;
    e->qualifier = from.qualifier;
    return e;
}

} // namespace

Expr::~Expr() {
    if (args.empty()) return;
    // Children that have children of their own are taken apart here, one
    // at a time; what reaches a destructor then has leaves at most.
    std::vector<ExprPtr> pending;
    for (auto& a : args)
        if (a && !a->args.empty()) pending.push_back(std::move(a));
    while (!pending.empty()) {
        ExprPtr e = std::move(pending.back());
        pending.pop_back();
        for (auto& a : e->args)
            if (a && !a->args.empty()) pending.push_back(std::move(a));
    }
}

namespace {

// Source and Select own each other (a subquery in FROM, joins, UNION
// parts): both hand their children to one work list.
struct Pending {
    std::vector<std::unique_ptr<Source>> sources;
    std::vector<std::unique_ptr<Select>> selects;

    void take(Source& s) {
        if (s.left) sources.push_back(std::move(s.left));
        if (s.right) sources.push_back(std::move(s.right));
        if (s.subquery) selects.push_back(std::move(s.subquery));
    }
    void take(Select& s) {
        if (s.from) sources.push_back(std::move(s.from));
        if (s.unionNext) selects.push_back(std::move(s.unionNext));
    }
    void drain() {
        while (!sources.empty() || !selects.empty()) {
            if (!sources.empty()) {
                std::unique_ptr<Source> s = std::move(sources.back());
                sources.pop_back();
                take(*s);
            } else {
                std::unique_ptr<Select> s = std::move(selects.back());
                selects.pop_back();
                take(*s);
            }
        }
    }
};

} // namespace

Source::~Source() {
    if (!left && !right && !subquery) return;
    Pending p;
    p.take(*this);
    p.drain();
}

Select::~Select() {
    if (!from && !unionNext) return;
    Pending p;
    p.take(*this);
    p.drain();
}

ExprPtr Expr::clone() const {
    // The left spine of a chain of binary operators is copied in a loop.
    std::vector<const Expr*> spine;
    const Expr* leaf = this;
    while (leaf->kind == Kind::Binary && leaf->args.size() == 2) {
        spine.push_back(leaf);
        leaf = leaf->args[0].get();
    }
    auto e = copyNode(*leaf);
    e->args.reserve(leaf->args.size());
    for (const auto& a : leaf->args) e->args.push_back(a->clone());
    for (std::size_t k = spine.size(); k-- > 0;) {
        auto up = copyNode(*spine[k]);
        up->args.reserve(2);
        up->args.push_back(std::move(e));
        up->args.push_back(spine[k]->args[1]->clone());
        e = std::move(up);
    }
    return e;
}

ExprPtr makeLiteral(Value v, std::uint32_t offset) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Literal;
    e->value = std::move(v);
    e->offset = offset;
    return e;
}

const char* statementName(StatementKind kind) {
    switch (kind) {
    case StatementKind::Select: return "SELECT";
    case StatementKind::Insert: return "INSERT INTO";
    case StatementKind::Update: return "UPDATE";
    case StatementKind::Delete: return "DELETE";
    case StatementKind::CreateTable: return "CREATE TABLE";
    case StatementKind::DropTable: return "DROP TABLE";
    case StatementKind::CreateView: return "CREATE VIEW";
    case StatementKind::DropView: return "DROP VIEW";
    case StatementKind::AlterTable: return "ALTER TABLE";
    case StatementKind::CreateIndex: return "CREATE INDEX";
    case StatementKind::DropIndex: return "DROP INDEX";
    case StatementKind::Use: return "USE";
    }
    return "SQL";
}

namespace {

struct Printer {
    Dialect d;
    std::string out;
    int depth = 0;

    void deeper(const DepthCount& level) const {
        if (level.over(kMaxWalkDepth))
            throw Error("The statement is nested too deeply to be written out as SQL (more than "
                        + std::to_string(kMaxWalkDepth) + " levels).");
    }

    bool fox() const { return d == Dialect::FoxPro; }

    void name(const std::string& n) {
        if (fox()) { out += '`'; out += n; out += '`'; }
        else { out += '['; out += n; out += ']'; }
    }

    void table(const TableName& t) {
        if (t.external()) {
            out += '[';
            out += t.externalType;
            out += ";DATABASE=";
            out += t.externalPath;
            out += ";].";
            out += '[';
            out += t.name;
            out += ']';
            return;
        }
        name(t.name);
    }

    void text(const std::string& s) {
        out += '\'';
        for (char c : s) {
            out += c;
            if (c == '\'') out += '\'';
        }
        out += '\'';
    }

    void literal(const Value& v) {
        switch (v.type()) {
        case VarType::Empty: out += fox() ? "{}" : "NULL"; break;
        case VarType::Null: out += "NULL"; break;
        case VarType::Boolean: out += v.rawInt() ? (fox() ? ".T." : "True") : (fox() ? ".F." : "False"); break;
        case VarType::String: text(v.rawString()); break;
        case VarType::Date:
            if (fox()) { out += "{^"; out += date::toIso(v.rawDouble()); out += '}'; }
            else { out += '#'; out += date::toIso(v.rawDouble()); out += '#'; }
            break;
        case VarType::Currency:
            if (fox()) out += '$';
            out += currencyToString(v.rawInt());
            break;
        case VarType::Decimal: {
            std::string s = v.rawDecimal().toString();
            // Keep a point so that it reads back as an exact number, not a whole one.
            if (s.find('.') == std::string::npos && v.rawDecimal().scale == 0) s += ".0";
            out += s;
            break;
        }
        case VarType::Double: {
            std::string s = shortestDouble(v.rawDouble());
            if (s.find_first_of(".eE") == std::string::npos) s += ".0";
            out += s;
            break;
        }
        default: out += v.toString(); break;
        }
    }

    static int precedence(BinOp op) {
        switch (op) {
        case BinOp::Or: case BinOp::Xor: return 1;
        case BinOp::And: return 2;
        case BinOp::Eq: case BinOp::ExactEq: case BinOp::Ne: case BinOp::Lt: case BinOp::Le:
        case BinOp::Gt: case BinOp::Ge: case BinOp::Like: case BinOp::Contained: return 4;
        case BinOp::Concat: return 5;
        case BinOp::Add: case BinOp::Sub: return 6;
        case BinOp::Mod: return 7;
        case BinOp::IntDiv: return 8;
        case BinOp::Mul: case BinOp::Div: return 9;
        case BinOp::Pow: return 11;
        }
        return 0;
    }

    const char* opText(BinOp op) const {
        switch (op) {
        case BinOp::Add: return "+";
        case BinOp::Sub: return "-";
        case BinOp::Mul: return "*";
        case BinOp::Div: return "/";
        case BinOp::IntDiv: return "\\";
        case BinOp::Mod: return fox() ? "%" : "MOD";
        case BinOp::Pow: return "^";
        case BinOp::Concat: return "&";
        case BinOp::Eq: return "=";
        case BinOp::ExactEq: return "==";
        case BinOp::Ne: return "<>";
        case BinOp::Lt: return "<";
        case BinOp::Le: return "<=";
        case BinOp::Gt: return ">";
        case BinOp::Ge: return ">=";
        case BinOp::And: return "AND";
        case BinOp::Or: return "OR";
        case BinOp::Xor: return "XOR";
        case BinOp::Like: return "LIKE";
        case BinOp::Contained: return "$";
        }
        return "?";
    }

    // Every compound sub-expression is parenthesised: simple and unambiguous.
    void expr(const Expr& e) {
        const DepthCount level(depth);
        deeper(level);
        switch (e.kind) {
        case Expr::Kind::Literal: literal(e.value); break;
        case Expr::Kind::Column:
            if (!e.qualifier.empty()) { name(e.qualifier); out += '.'; }
            name(e.name);
            break;
        case Expr::Kind::Star:
            if (!e.qualifier.empty()) { name(e.qualifier); out += '.'; }
            out += '*';
            break;
        case Expr::Kind::Unary:
            out += e.uop == UnOp::Not ? "NOT " : (e.uop == UnOp::Neg ? "-" : "+");
            sub(*e.args[0]);
            break;
        case Expr::Kind::Binary:
            sub(*e.args[0]);
            out += ' ';
            out += opText(e.bop);
            out += ' ';
            sub(*e.args[1]);
            break;
        case Expr::Kind::Call:
            out += e.name;
            out += '(';
            for (std::size_t i = 0; i < e.args.size(); ++i) {
                if (i) out += ", ";
                expr(*e.args[i]);
            }
            out += ')';
            break;
        case Expr::Kind::Between:
            sub(*e.args[0]);
            out += e.negated ? " NOT BETWEEN " : " BETWEEN ";
            sub(*e.args[1]);
            out += " AND ";
            sub(*e.args[2]);
            break;
        case Expr::Kind::InList:
            sub(*e.args[0]);
            out += e.negated ? " NOT IN (" : " IN (";
            for (std::size_t i = 1; i < e.args.size(); ++i) {
                if (i > 1) out += ", ";
                expr(*e.args[i]);
            }
            out += ')';
            break;
        case Expr::Kind::IsNull:
            sub(*e.args[0]);
            out += e.negated ? " IS NOT NULL" : " IS NULL";
            break;
        case Expr::Kind::Parameter:
            out += '?' + e.name;
            break;
        }
    }
    void sub(const Expr& e) {
        const bool simple = e.kind == Expr::Kind::Literal || e.kind == Expr::Kind::Column || e.kind == Expr::Kind::Call
            || e.kind == Expr::Kind::Star;
        // A negative number literal after an operator stays readable either way.
        if (simple) { expr(e); return; }
        out += '(';
        expr(e);
        out += ')';
    }

    void source(const Source& s) {
        const DepthCount level(depth);
        deeper(level);
        switch (s.kind) {
        case Source::Kind::Table:
            table(s.table);
            if (!s.alias.empty()) { out += " AS "; name(s.alias); }
            break;
        case Source::Kind::Subquery:
            out += '(';
            select(*s.subquery);
            out += ')';
            if (!s.alias.empty()) { out += " AS "; name(s.alias); }
            break;
        case Source::Kind::Join:
            out += '(';
            source(*s.left);
            switch (s.join) {
            case Source::JoinKind::Inner: out += " INNER JOIN "; break;
            case Source::JoinKind::Left: out += " LEFT JOIN "; break;
            case Source::JoinKind::Right: out += " RIGHT JOIN "; break;
            case Source::JoinKind::Cross: out += ", "; break;
            }
            source(*s.right);
            if (s.on) { out += " ON "; expr(*s.on); }
            out += ')';
            break;
        }
    }

    void select(const Select& s) {
        const DepthCount level(depth);
        deeper(level);
        if (d == Dialect::Access && !s.parameters.empty()) {
            out += "PARAMETERS ";
            for (std::size_t i = 0; i < s.parameters.size(); ++i) {
                if (i) out += ", ";
                name(s.parameters[i].name);
                out += ' ' + s.parameters[i].type;
                if (s.parameters[i].size) out += " (" + std::to_string(s.parameters[i].size) + ')';
            }
            out += "; ";
        }
        out += "SELECT ";
        if (s.distinct) out += "DISTINCT ";
        if (s.top) {
            out += "TOP " + std::to_string(*s.top) + ' ';
            if (s.topPercent) out += "PERCENT ";
        }
        for (std::size_t i = 0; i < s.items.size(); ++i) {
            if (i) out += ", ";
            expr(*s.items[i].expr);
            if (!s.items[i].alias.empty()) { out += " AS "; name(s.items[i].alias); }
        }
        if (s.into && !fox()) { out += " INTO "; table(*s.into); }
        if (s.from) { out += " FROM "; source(*s.from); }
        if (s.where) { out += " WHERE "; expr(*s.where); }
        if (!s.groupBy.empty()) {
            out += " GROUP BY ";
            for (std::size_t i = 0; i < s.groupBy.size(); ++i) { if (i) out += ", "; expr(*s.groupBy[i]); }
        }
        if (s.having) { out += " HAVING "; expr(*s.having); }
        if (s.unionNext) {
            out += s.unionAll ? " UNION ALL " : " UNION ";
            select(*s.unionNext);
        }
        if (!s.orderBy.empty()) {
            out += " ORDER BY ";
            for (std::size_t i = 0; i < s.orderBy.size(); ++i) {
                if (i) out += ", ";
                expr(*s.orderBy[i].expr);
                if (s.orderBy[i].descending) out += " DESC";
            }
        }
        if (s.into && fox()) { out += " INTO TABLE "; table(*s.into); }
    }

    void columnDef(const ColumnDefSql& c) {
        name(c.name);
        out += ' ';
        out += typeText(c.spec, d);
        if (!c.spec.nullable && !c.primaryKey) out += " NOT NULL";
        if (c.primaryKey) out += " PRIMARY KEY";
        else if (c.unique) out += " UNIQUE";
    }

    void indexColumns(const storage::IndexSpec& k) {
        out += '(';
        for (std::size_t i = 0; i < k.columns.size(); ++i) {
            if (i) out += ", ";
            name(k.columns[i]);
            if (k.isDescending(i)) out += " DESC";
        }
        out += ')';
    }

    void statement(const Statement& s) {
        switch (s.kind) {
        case StatementKind::CreateIndex: {
            const IndexStatement& ix = *s.index;
            if (d == Dialect::FoxPro) {
                out += "INDEX ON ";
                if (ix.index.expression.empty()) name(ix.index.columns.front());
                else out += ix.index.expression;
                out += " TAG ";
                name(ix.index.name);
                if (!ix.index.filter.empty()) out += " FOR " + ix.index.filter;
                if (ix.index.isDescending(0)) out += " DESCENDING";
                if (ix.index.unique) out += " CANDIDATE";
                break;
            }
            out += ix.index.unique && !ix.index.primaryKey ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
            name(ix.index.name);
            out += " ON ";
            table(ix.table);
            out += ' ';
            indexColumns(ix.index);
            if (ix.index.primaryKey) out += " WITH PRIMARY";
            else if (ix.index.required) out += " WITH DISALLOW NULL";
            if (ix.index.ignoreNulls) out += ix.index.primaryKey || ix.index.required ? " IGNORE NULL" : " WITH IGNORE NULL";
            break;
        }
        case StatementKind::DropIndex:
            out += "DROP INDEX ";
            name(s.index->index.name);
            out += " ON ";
            table(s.index->table);
            break;
        case StatementKind::Use:
            out += "USE";
            if (!s.index->table.name.empty()) { out += ' '; table(s.index->table); }
            break;
        case StatementKind::Select: select(*s.select); break;
        case StatementKind::Insert: {
            const Insert& in = *s.insert;
            out += "INSERT INTO ";
            table(in.table);
            if (!in.columns.empty()) {
                out += " (";
                for (std::size_t i = 0; i < in.columns.size(); ++i) { if (i) out += ", "; name(in.columns[i]); }
                out += ')';
            }
            if (in.select) { out += ' '; select(*in.select); break; }
            out += " VALUES ";
            for (std::size_t r = 0; r < in.rows.size(); ++r) {
                if (r) out += ", ";
                out += '(';
                for (std::size_t i = 0; i < in.rows[r].size(); ++i) {
                    if (i) out += ", ";
                    const InsertValue& v = in.rows[r][i];
                    if (v.expr) expr(*v.expr);
                    else literal(v.value);
                }
                out += ')';
            }
            break;
        }
        case StatementKind::Update: {
            out += "UPDATE ";
            table(s.update->table);
            out += " SET ";
            for (std::size_t i = 0; i < s.update->set.size(); ++i) {
                if (i) out += ", ";
                name(s.update->set[i].column);
                out += " = ";
                expr(*s.update->set[i].value);
            }
            if (s.update->where) { out += " WHERE "; expr(*s.update->where); }
            break;
        }
        case StatementKind::Delete:
            out += "DELETE FROM ";
            table(s.del->table);
            if (s.del->where) { out += " WHERE "; expr(*s.del->where); }
            break;
        case StatementKind::CreateTable: {
            const CreateTable& ct = *s.createTable;
            out += "CREATE TABLE ";
            table(ct.table);
            out += " (";
            for (std::size_t i = 0; i < ct.columns.size(); ++i) { if (i) out += ", "; columnDef(ct.columns[i]); }
            for (const auto& ix : ct.indexes) {
                // Single-column keys were written with their column.
                bool inline_ = ix.columns.size() == 1;
                if (inline_) {
                    bool found = false;
                    for (const auto& c : ct.columns)
                        if (c.name == ix.columns[0] && (c.primaryKey == ix.primaryKey) && (c.primaryKey || c.unique)) found = true;
                    inline_ = found;
                }
                if (inline_) continue;
                out += ix.primaryKey ? ", PRIMARY KEY (" : ", UNIQUE (";
                for (std::size_t i = 0; i < ix.columns.size(); ++i) { if (i) out += ", "; name(ix.columns[i]); }
                out += ')';
            }
            out += ')';
            break;
        }
        case StatementKind::DropTable: out += "DROP TABLE "; table(s.drop->name); break;
        case StatementKind::DropView: out += "DROP VIEW "; table(s.drop->name); break;
        case StatementKind::CreateView:
            out += "CREATE VIEW ";
            table(s.createView->name);
            out += " AS ";
            out += s.createView->sql;
            break;
        case StatementKind::AlterTable: {
            const AlterTable& a = *s.alter;
            out += "ALTER TABLE ";
            table(a.table);
            if (!a.addKeys.empty() || !a.dropKeys.empty() || a.dropPrimaryKey) {
                bool first = true;
                for (const auto& k : a.addKeys) {
                    out += first ? " ADD " : ", ADD ";
                    first = false;
                    if (d == Dialect::FoxPro) {
                        out += k.primaryKey ? "PRIMARY KEY " : "UNIQUE ";
                        if (k.expression.empty()) name(k.columns.front());
                        else out += k.expression;
                        out += " TAG ";
                        name(k.name);
                    } else {
                        out += "CONSTRAINT ";
                        name(k.name);
                        out += k.primaryKey ? " PRIMARY KEY " : " UNIQUE ";
                        indexColumns(k);
                    }
                }
                if (a.dropPrimaryKey) {
                    out += first ? " DROP PRIMARY KEY" : ", DROP PRIMARY KEY";
                    first = false;
                }
                for (const auto& k : a.dropKeys) {
                    out += first ? " DROP " : ", DROP ";
                    first = false;
                    out += d == Dialect::FoxPro ? "UNIQUE TAG " : "CONSTRAINT ";
                    name(k);
                }
            } else if (a.add) {
                out += " ADD COLUMN ";
                for (std::size_t i = 0; i < a.addColumns.size(); ++i) { if (i) out += ", "; columnDef(a.addColumns[i]); }
            } else {
                out += " DROP COLUMN ";
                for (std::size_t i = 0; i < a.dropColumns.size(); ++i) { if (i) out += ", "; name(a.dropColumns[i]); }
            }
            break;
        }
        }
    }
};

} // namespace

std::string toSql(const Statement& s, Dialect dialect) {
    Printer p{dialect, {}};
    p.statement(s);
    return p.out;
}

std::string toSql(const Select& s, Dialect dialect) {
    Printer p{dialect, {}};
    p.select(s);
    return p.out;
}

std::string toSql(const Expr& e, Dialect dialect) {
    Printer p{dialect, {}};
    p.expr(e);
    return p.out;
}

} // namespace qm::sql
