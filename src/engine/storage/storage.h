// The seam between the storage engines (Access: jet/, xBase: xbase/) and
// everything above them (the SQL executor, the data-access providers, the
// command-line companion).  Each engine implements Database for its files;
// nothing above this header knows a page or a record layout.
//
// Names are matched the way the Windows engines match them: ignoring case.
#pragma once

#include "value/value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::storage {

// What a catalog object is.  tableType in CatalogEntry carries the exact
// TABLE_TYPE text the provider's table schema reports for it.
enum class ObjectKind {
    Table,       // user table                      -> "TABLE"
    View,        // select query without parameters, container view -> "VIEW"
    SystemTable, // MSys*, the container itself     -> "SYSTEM TABLE"
    LinkedTable, // linked Access / ODBC table      -> "LINK" / "PASS-THROUGH"
    Query,       // any other saved query (action, parameter, union...)
    Other,
};

// Saved-query kinds as Access stores them (MSysObjects flags / MSysQueries).
enum class QueryKind { None, Select, Union, Parameter, Action, PassThrough, DataDefinition, Crosstab };

struct CatalogEntry {
    std::string name;
    ObjectKind kind = ObjectKind::Table;
    std::string tableType;            // "TABLE", "VIEW", "SYSTEM TABLE", "ACCESS TABLE", ...
    QueryKind queryKind = QueryKind::None;
    // A remote container view reads another database through a named
    // connection; this is that connection's name (empty for local views).
    std::string connection{};
};

// Engine-neutral column types: the union of what both formats store.
// Each engine maps a type it cannot store to its nearest lossless one.
enum class ColumnType : std::uint8_t {
    Boolean,    // Yes/No, L
    Byte,       // Byte
    Integer,    // 16-bit Integer
    Long,       // 32-bit Long Integer, I
    BigInt,     // Large Number
    Single,     // Single
    Double,     // Double, B
    Currency,   // Currency, Y
    Decimal,    // Access Decimal(p,s); xBase N(p,s)
    Float,      // xBase F(p,s)
    DateTime,   // Date/Time, T
    Date,       // xBase D
    Char,       // fixed-width text: xBase C(n)
    VarChar,    // Access Text(n), xBase V(n)
    Memo,       // Memo, M
    Binary,     // Access Binary(n), xBase Q(n) / binary C
    LongBinary, // OLE Object, G
    Blob,       // xBase W
    Guid,       // Replication ID
    DateTimeExt,// Access Date/Time Extended
    Complex,    // Access complex column whose hidden table could not be found
    Unknown,
};

// Access attachment, multi-value and version-history columns keep their
// entries in a hidden table.  A cursor gives such a column as text (type
// Memo) and its entries through RowCursor::complexItems().
enum class ComplexKind : std::uint8_t { None, MultiValue, Attachment, VersionHistory };

// One entry of a complex column's value.
struct ComplexItem {
    Value value;          // multi-value: the value; attachment: the file name; version history: the text
    std::string fileType; // attachment: the file type Access records (its extension)
    std::string fileData; // attachment: the file's bytes, as the file held them
    Value modified;       // version history: when the text was entered (Date); else Null
};

// A column as an open table reports it.
struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::Unknown;
    int adoType = 0;              // ADO type code the real provider reports
    std::int32_t definedSize = 0; // DefinedSize the real provider reports
    std::string nativeType;       // as the format names it: "Text(50)", "Long Integer", "C(30)", "N(10,2)"
    int size = 0;                 // declared length (characters or bytes) where it applies
    int precision = 0;
    int scale = 0;
    bool nullable = true;
    bool autoIncrement = false;
    bool binary = false;          // xBase C/M/V flagged binary (NOCPTRANS)
    ComplexKind complex = ComplexKind::None;
};

// A column asked for when a table is created.
struct ColumnSpec {
    std::string name;
    ColumnType type = ColumnType::VarChar;
    int size = 0;        // characters for text, bytes for binary; 0 = the type's default
    int precision = 0;   // Decimal / N / F
    int scale = 0;
    bool nullable = true;
    bool autoIncrement = false;
    bool binary = false;
};

// A column in one expression, for tables built in code (samples, tools,
// tests): the name, the type and the sizes that apply to it.
inline ColumnSpec column(std::string name, ColumnType type, int size = 0, int precision = 0, int scale = 0)
{
    ColumnSpec c;
    c.name = std::move(name);
    c.type = type;
    c.size = size;
    c.precision = precision;
    c.scale = scale;
    return c;
}

// A Long column the engine numbers itself (AutoNumber; xBase autoincrement).
inline ColumnSpec autoNumberColumn(std::string name)
{
    ColumnSpec c = column(std::move(name), ColumnType::Long);
    c.autoIncrement = true;
    return c;
}

// A key or index in the form both engines understand.  Access indexes are
// lists of columns; an xBase tag is an expression, given here as columns
// when it is a plain field or a concatenation of character fields, and as
// `expression` when it is anything else.  An expression that orders like
// an Access index on columns (UPPER(name), TTOC(t,1)) gives both; the
// xBase engine then uses the expression, the Access engine the columns.
struct IndexSpec {
    std::string name;
    std::vector<std::string> columns;
    bool primaryKey = false;
    bool unique = false;           // unique index; xBase candidate tag
    std::vector<bool> descending{}; // per column; empty: every column ascending
    bool ignoreNulls = false;      // Access IGNORE NULL
    bool required = false;         // Access DISALLOW NULL
    std::string expression{};      // xBase key expression ("" when made from columns)
    std::string filter{};          // xBase FOR clause, "" for none
    std::string collation{};       // xBase collating sequence, "" for MACHINE
    bool isDescending(std::size_t column) const { return column < descending.size() && descending[column]; }
};

// What could not be carried by carryIndexes, and why.
struct IndexRefusal {
    std::string index;   // "" when the source's keys could not be read at all
    std::string reason;
};

struct TableSpec {
    std::string name;
    std::vector<ColumnSpec> columns;
    std::vector<IndexSpec> indexes;
};

// Forward-only cursor over the live rows of one table, in stored order.
// Memory stays flat in the number of rows: values are decoded into a row
// buffer that the next call to next() overwrites.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    virtual const std::vector<ColumnDef>& columns() const = 0;
    virtual bool next() = 0;
    // The current row's value; valid until next() is called again.
    virtual const Value& value(std::size_t column) = 0;
    // Identifies the current row for update() and remove() on the same table.
    virtual std::uint64_t rowId() const = 0;
    // The entries of a complex column's value on the current row, in the
    // order they were stored (attachments with their bytes).  False, with
    // out empty, for a column that is not complex.
    virtual bool complexItems(std::size_t column, std::vector<ComplexItem>& out)
    {
        (void)column;
        out.clear();
        return false;
    }
};

// Progress of long work, and the way to stop it: return false to cancel.
using ProgressFn = bool (*)(void* context, std::uint64_t done, std::uint64_t total);

struct OpenOptions {
    std::string password;      // Access database password
    bool readOnly = false;
    // xBase folder flavour when creating free tables: the Access engine's
    // dBase drivers write dBase III or IV files, FoxPro writes VFP tables.
    enum class Flavor { VisualFoxPro, DBase3, DBase4 } flavor = Flavor::VisualFoxPro;
    std::string collation = "machine"; // FoxPro collating sequence
};

class Database {
public:
    virtual ~Database() = default;

    virtual const std::string& path() const = 0;

    // ---- reading ----
    // Every object, in the order the provider's table schema lists them.
    virtual std::vector<CatalogEntry> catalog() = 0;
    // The entry whose name matches, ignoring case.
    virtual std::optional<CatalogEntry> find(std::string_view name) = 0;
    virtual std::vector<ColumnDef> columns(std::string_view table) = 0;
    virtual std::unique_ptr<RowCursor> scan(std::string_view table) = 0;
    // Live rows of a table.
    virtual std::uint64_t rowCount(std::string_view table) = 0;
    // SQL text of a saved query or a view.
    virtual std::string querySql(std::string_view name) = 0;

    // ---- writing ----  (engines that cannot write throw qm::Error saying so)
    virtual void createTable(const TableSpec& spec) = 0;
    virtual void dropTable(std::string_view name) = 0;
    virtual void renameObject(std::string_view oldName, std::string_view newName) = 0;
    // Appends one row; values in column order.  Empty means "not given":
    // AutoNumber/autoincrement columns get the next number, others Null.
    // Values are converted to the column type; a value that does not fit is
    // refused with an Error that names table, column and value, and nothing
    // of the refused row stays behind.
    virtual void append(std::string_view table, std::span<const Value> row) = 0;
    virtual void update(std::string_view table, std::uint64_t rowId, std::span<const Value> row) = 0;
    virtual void remove(std::string_view table, std::uint64_t rowId) = 0;
    // Saved select query (Access) or local view (container).
    virtual void createView(std::string_view name, std::string_view sql) = 0;
    virtual void dropView(std::string_view name) = 0;

    // Groups writes so that durability work (journal, flush) is done once
    // per batch rather than once per row.  A refused call inside a batch
    // still leaves nothing behind; a crash inside a batch leaves the files
    // as they were before the batch or at a call boundary, never between.
    virtual void beginBatch() {}
    virtual void endBatch() {}

    // ---- keys and indexes ----
    // The table's primary key and indexes (primary key first).  Engines
    // without indexes report none.
    virtual std::vector<IndexSpec> indexes(std::string_view table);
    // Builds a key or index over the table's rows in one pass.  A unique
    // key meeting duplicate values, or a primary key meeting a Null, is
    // refused with an Error naming the index and the values; nothing
    // changes then.
    virtual void createIndex(std::string_view table, const IndexSpec& index);
    // Removes a key or index by name (Access index or constraint; xBase tag).
    virtual void dropIndex(std::string_view table, std::string_view name);
};

// After a table's rows have been copied from `from` to `to`: creates the
// source table's primary key and indexes on the destination table, each
// built once over all rows.  Columns are matched by name, ignoring case
// (`columnNames` maps source to destination names where they differ: pairs
// of source, destination).  Returns what could not be carried, and why; a
// refusal of one index does not stop the others.
std::vector<IndexRefusal> carryIndexes(Database& from, std::string_view fromTable, Database& to,
                                       std::string_view toTable,
                                       std::span<const std::pair<std::string, std::string>> columnNames = {});

// What an xBase field adds to a tag's key expression, as FoxPro users write
// such keys: the field itself, TTOC(f,1) for a datetime, and in a key over
// several fields (joined with +, compared as text) BINTOC(f) for an integer
// and DTOS(f) for a date, which order as the values do.  `type` is the
// field's xBase type letter.  Empty when the field cannot take part: a
// memo or general field, or a key over several fields with one of any other
// type.
std::string xbaseKeyPart(std::string_view field, char type, bool severalFields);

// Case-insensitive name comparison the way Windows and the engines do it
// (ASCII and Latin letters folded).
bool namesEqual(std::string_view a, std::string_view b);

// The name a FoxPro statement uses for a table, view or field whose Access
// name it cannot hold: every ASCII character other than a letter, a digit
// or '_' becomes '_', a leading digit gets '_' in front, and the name is cut
// to 128 bytes.  A name FoxPro can hold comes back unchanged.  FoxPro itself
// names a long table name with blanks this way in its SELECT statements.
std::string foxProName(std::string_view name);

// The FoxPro names of a table's fields, in order: foxProName of each, and a
// name an earlier field already has (ignoring case) gets "_2", "_3", ...
std::vector<std::string> foxProNames(const std::vector<std::string>& names);

// The catalog entry a FoxPro statement means by name: the object of that
// name, or else the one whose foxProName it is ("Order_Details" for a
// container table called "Order Details").
std::optional<CatalogEntry> findFoxProName(Database& db, std::string_view name);

// What to tell someone who opens a remote view (entry.connection set): it
// reads another database through a connection this program does not have.
std::string remoteViewMessage(const CatalogEntry& entry);

} // namespace qm::storage
