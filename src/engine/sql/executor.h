// Runs statements of either dialect against a storage::Database.
//
// A script runs statement by statement inside one write batch.  Every
// statement runs, also after a failure; what succeeded stays.  When some
// failed, one qm::Error at the end says how many and gives the first
// failure with its line.
#pragma once

#include "sql/ast.h"
#include "sql/parser.h"
#include "sql/script.h"
#include "storage/storage.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::sql {

// Rows of a query, pulled one at a time.
class QueryCursor {
public:
    virtual ~QueryCursor() = default;
    virtual const std::vector<storage::ColumnDef>& columns() const = 0;
    virtual bool next() = 0;
    virtual const Value& value(std::size_t column) const = 0;
    // The entries of a field that shows an Access complex column (see
    // storage::RowCursor::complexItems); false for other fields and for
    // rows that were sorted or computed.
    virtual bool complexItems(std::size_t column, std::vector<storage::ComplexItem>& out)
    {
        (void)column;
        out.clear();
        return false;
    }
};

// What a query reads, for recordsets that append to their source.
struct QueryShape {
    std::string baseTable;          // set when every field is a column of one table
    std::vector<int> baseColumns;   // per field: the table column it shows
    bool plainTable = false;        // SELECT [TOP n] * FROM t, no WHERE: row count is the table's
    std::optional<std::int64_t> top;
};

struct StatementOutcome {
    std::uint32_t line = 0, column = 0;
    StatementKind kind = StatementKind::Select;
    std::int64_t rowsAffected = 0;  // rows inserted, updated, deleted or selected into; 0 for DDL
    bool failed = false;
    std::string error;              // the message, position included
    std::string_view text;          // the statement
};

struct ExecutorOptions {
    // Text comparison ignores letter case (Access; FoxPro's "general"
    // collating sequence) or not (FoxPro's "machine").
    bool caseInsensitiveText = true;
    // Opens the folder of an external target ([dBase IV;DATABASE=folder;]).
    // The providers pass storage::openDatabase; without it such targets fail.
    std::function<std::unique_ptr<storage::Database>(const std::string& folder, const storage::OpenOptions& options)>
        openFolder;
    // Asked for every row a statement visits (each row a scan reads, each
    // combination of joined rows, each row of a subquery or saved query);
    // true stops the statement with an error.  A caller caps long runs
    // with it; unset, nothing is asked.
    std::function<bool()> stopRequested;
};

class Executor {
public:
    Executor(storage::Database& db, Dialect dialect, ExecutorOptions options = {});
    ~Executor();

    Dialect dialect() const { return dialect_; }

    using Observer = std::function<void(const StatementOutcome&)>;

    // Runs every statement of the text; throws qm::Error afterwards when any
    // failed.  Returns the number of statements run.
    std::size_t runScript(std::string_view text, const Observer& observer = {});

    // Runs one parsed statement; rows affected.  Throws qm::Error.
    std::int64_t execute(Statement& statement, const ScriptStatement& where);

    // Opens a query (SELECT text, or a bare table name) for reading.
    std::unique_ptr<QueryCursor> query(std::string_view selectText, QueryShape* shape = nullptr);
    std::unique_ptr<QueryCursor> query(std::unique_ptr<Select> select, QueryShape* shape = nullptr);

    // Formats a parse failure the way script errors read.
    static std::string syntaxMessage(const ParseError& e, const ScriptStatement& where);

    struct Impl;
    friend struct Impl;

private:
    storage::Database& db_;
    Dialect dialect_;
    ExecutorOptions options_;
    std::unique_ptr<Impl> impl_;
};

} // namespace qm::sql
