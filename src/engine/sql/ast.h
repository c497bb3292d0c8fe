// The syntax tree both dialects parse into.  Names keep the letter case
// they were written with; matching against the catalog ignores case.
#pragma once

#include "sql/lexer.h"
#include "storage/storage.h"
#include "value/value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm::sql {

struct Select;

enum class BinOp : std::uint8_t {
    Add, Sub, Mul, Div, IntDiv, Mod, Pow, Concat,
    Eq, ExactEq, Ne, Lt, Le, Gt, Ge,
    And, Or, Xor,
    Like, Contained, // FoxPro a $ b: a occurs in b
};

enum class UnOp : std::uint8_t { Neg, Plus, Not };

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

struct Expr {
    enum class Kind : std::uint8_t {
        Literal,  // value
        Column,   // [qualifier.]name
        Star,     // * or qualifier.*  (only in a select list or COUNT(*))
        Unary,    // uop args[0]
        Binary,   // args[0] bop args[1]
        Call,     // name(args...)
        Between,  // args[0] BETWEEN args[1] AND args[2]   (negated: NOT BETWEEN)
        InList,   // args[0] IN (args[1..])                (negated: NOT IN)
        IsNull,   // args[0] IS NULL                       (negated: IS NOT NULL)
        Parameter, // FoxPro ?name: a value the view is opened with (name)
    };
    Kind kind = Kind::Literal;
    BinOp bop = BinOp::Add;
    UnOp uop = UnOp::Neg;
    bool negated = false;
    std::uint32_t offset = 0;   // where it starts in the statement text
    Value value;                // Literal
    std::string name;           // Column / Call (function name as written)
    std::string qualifier;      // Column / Star: table or alias
    std::vector<ExprPtr> args;

    // Filled by the executor when it binds the expression to its sources.
    int boundSource = -1;
    int boundColumn = -1;
    int aggregate = -1;         // index of this aggregate call in the query's list
    int function = -1;          // Call: resolved function id (sql::Fn), -1 until bound

    Expr() = default;
    Expr(Expr&&) = default;
    Expr& operator=(Expr&&) = default;
    // Takes the tree apart in a loop: a chain of 200,000 terms must not
    // recurse once per term.
    ~Expr();

    ExprPtr clone() const;
};

ExprPtr makeLiteral(Value v, std::uint32_t offset = 0);

// A table named in a statement.  External targets are the Access engine's
// "[dBase IV;DATABASE=folder;].[name]" form.
struct TableName {
    std::string name;
    std::string externalType;   // "dBase IV", "dBase III" ... (empty: this database)
    std::string externalPath;   // DATABASE= folder
    std::uint32_t offset = 0;
    bool external() const { return !externalType.empty(); }
};

struct Source {
    enum class Kind : std::uint8_t { Table, Join, Subquery };
    enum class JoinKind : std::uint8_t { Inner, Left, Right, Cross };
    Kind kind = Kind::Table;
    TableName table;            // Table
    std::string alias;          // Table / Subquery
    JoinKind join = JoinKind::Inner;
    std::unique_ptr<Source> left, right; // Join
    ExprPtr on;                 // Join (null for Cross)
    std::unique_ptr<Select> subquery;    // Subquery

    Source() = default;
    Source(Source&&) = default;
    Source& operator=(Source&&) = default;
    ~Source(); // iterative, as Expr's
};

struct SelectItem {
    ExprPtr expr;
    std::string alias;
};

struct OrderItem {
    ExprPtr expr;
    bool descending = false;
};

// One entry of an Access PARAMETERS declaration: the name as declared
// ("Beginning Date"), its type word ("DateTime", "Text") and the size
// written after a text type (0 when none).
struct ParameterDecl {
    std::string name;
    std::string type;
    std::int64_t size = 0;
};

struct Select {
    std::vector<ParameterDecl> parameters; // Access PARAMETERS ...; before the query
    bool distinct = false;
    std::optional<std::int64_t> top;
    bool topPercent = false;
    std::vector<SelectItem> items;
    std::optional<TableName> into;
    std::unique_ptr<Source> from;   // null: SELECT without FROM (one row)
    ExprPtr where;
    std::vector<ExprPtr> groupBy;
    ExprPtr having;
    std::vector<OrderItem> orderBy;
    // UNION [ALL] chains: the next query and whether duplicates stay.
    std::unique_ptr<Select> unionNext;
    bool unionAll = false;

    Select() = default;
    Select(Select&&) = default;
    Select& operator=(Select&&) = default;
    ~Select(); // iterative, as Expr's
};

struct ColumnDefSql {
    std::string name;
    storage::ColumnSpec spec;        // name filled in too
    std::string typeText;            // the type as written, for messages
    bool primaryKey = false;
    bool unique = false;
    std::string constraintName;      // CONSTRAINT name of a column's key
};

struct CreateTable {
    TableName table;
    std::vector<ColumnDefSql> columns;
    std::vector<storage::IndexSpec> indexes; // table-level PRIMARY KEY / UNIQUE constraints
};

// One value of a VALUES row: a literal is kept as its value (no tree), an
// expression as its tree.
struct InsertValue {
    Value value;
    ExprPtr expr;               // null for a literal
    std::uint32_t offset = 0;
};

struct Insert {
    TableName table;
    std::vector<std::string> columns;     // empty: every column in order
    std::string_view columnListText;      // raw text of "(a,b,c)"; lets the executor reuse its lookup
    std::vector<std::vector<InsertValue>> rows; // VALUES rows
    std::unique_ptr<Select> select;       // INSERT ... SELECT
};

struct Assignment {
    std::string column;
    ExprPtr value;
};

struct Update {
    TableName table;
    std::vector<Assignment> set;
    ExprPtr where;
};

struct Delete {
    TableName table;
    ExprPtr where;
};

struct AlterTable {
    TableName table;
    bool add = true;
    std::vector<ColumnDefSql> addColumns;
    std::vector<std::string> dropColumns;
    // ADD CONSTRAINT / ADD PRIMARY KEY / ADD UNIQUE: keys to create;
    // DROP CONSTRAINT / DROP UNIQUE TAG: keys to remove by name.
    std::vector<storage::IndexSpec> addKeys;
    std::vector<std::string> dropKeys;
    bool dropPrimaryKey = false;    // FoxPro DROP PRIMARY KEY
};

// CREATE [UNIQUE] INDEX name ON table (...) (Access), INDEX ON expr TAG name
// (FoxPro); DROP INDEX name ON table (Access), DELETE TAG name (FoxPro).
struct IndexStatement {
    TableName table;
    storage::IndexSpec index;      // CREATE: the index; DROP: its name
    std::string text;              // FoxPro key expression as written
};

struct DropObject {
    TableName name;
    bool view = false;
};

struct CreateView {
    TableName name;
    std::string sql;   // the query text as written after AS
    std::uint32_t sqlOffset = 0; // where that text starts in the statement
    std::unique_ptr<Select> query;
};

enum class StatementKind : std::uint8_t {
    Select, Insert, Update, Delete, CreateTable, DropTable, CreateView, DropView, AlterTable,
    CreateIndex, DropIndex, Use,
};

struct Statement {
    StatementKind kind = StatementKind::Select;
    std::unique_ptr<Select> select;
    std::unique_ptr<Insert> insert;
    std::unique_ptr<Update> update;
    std::unique_ptr<Delete> del;
    std::unique_ptr<CreateTable> createTable;
    std::unique_ptr<DropObject> drop;
    std::unique_ptr<CreateView> createView;
    std::unique_ptr<AlterTable> alter;
    std::unique_ptr<IndexStatement> index;
};

// The statement's name as error messages use it ("INSERT INTO", "CREATE TABLE").
const char* statementName(StatementKind kind);

// Writes a tree back as SQL text of the dialect; parsing the result gives an
// equal tree.  Names are bracketed for Access and backquoted for FoxPro.
std::string toSql(const Statement& s, Dialect dialect);
std::string toSql(const Select& s, Dialect dialect);
std::string toSql(const Expr& e, Dialect dialect);

} // namespace qm::sql
