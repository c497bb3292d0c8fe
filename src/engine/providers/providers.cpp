#include "providers/providers.h"

#include "sql/convert.h"
#include "sql/lexer.h"
#include "sql/type_mapping.h"
#include "storage/open.h"

#include <algorithm>
#include <mutex>

namespace qm::providers {

using ado::AdoError;
using storage::OpenOptions;

namespace {

bool containsIgnoringCase(std::string_view hay, std::string_view needle) {
    if (needle.size() > hay.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (sql::iequals(hay.substr(i, needle.size()), needle)) return true;
    return false;
}

std::string trimmedPath(std::string path) {
    while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    return path;
}

std::unique_ptr<storage::Database> openFolder(const std::string& folder, const OpenOptions& options) {
    return storage::openDatabase(trimmedPath(folder), options);
}

// Rows of a query, with the field types the real provider reports.
class QueryRowset : public ado::Rowset {
public:
    QueryRowset(SqlSession& session, std::string source, bool forUpdate, bool foxPro)
        : session_(session), source_(std::move(source)), forUpdate_(forUpdate) {
        cursor_ = session_.executor().query(source_, &shape_);
        for (const storage::ColumnDef& c : cursor_->columns()) {
            storage::ColumnDef d = c;
            if (d.adoType == 0) sql::fillAdoType(d, foxPro);
            ado::FieldInfo f;
            f.name = d.name;
            f.type = static_cast<std::int16_t>(d.adoType);
            f.definedSize = d.definedSize;
            f.precision = d.precision;
            f.scale = d.scale;
            f.complex = d.complex;
            fields_.push_back(std::move(f));
        }
    }

    const std::vector<ado::FieldInfo>& fields() const override { return fields_; }
    bool next() override {
        onRow_ = cursor_->next();
        return onRow_;
    }
    const Value& value(std::size_t field) const override {
        if (!onRow_) throw AdoError("Either BOF or EOF is True, or the current record has been deleted.");
        if (field >= fields_.size()) throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
        return cursor_->value(field);
    }
    bool complexItems(std::size_t field, std::vector<storage::ComplexItem>& out) override {
        if (!onRow_) throw AdoError("Either BOF or EOF is True, or the current record has been deleted.");
        return cursor_->complexItems(field, out);
    }
    std::int64_t count() override {
        if (counted_ >= 0) return counted_;
        if (shape_.plainTable) {
            auto n = static_cast<std::int64_t>(session_.database().rowCount(shape_.baseTable));
            if (shape_.top) n = std::min(n, *shape_.top);
            counted_ = n;
        } else {
            // Counted on a second reading, so the position stays where it is.
            auto again = session_.executor().query(source_);
            std::int64_t n = 0;
            while (again->next()) ++n;
            counted_ = n;
        }
        return counted_;
    }
    void append(std::span<const Value> row) override {
        if (!forUpdate_)
            throw AdoError("Current Recordset does not support updating. This may be a limitation of the provider, or of the selected locktype.");
        if (shape_.baseTable.empty())
            throw AdoError("Rows cannot be added here: the recordset's source is not a single table.");
        storage::Database& db = session_.database();
        if (tableColumns_.empty()) tableColumns_ = db.columns(shape_.baseTable);
        std::vector<Value> full(tableColumns_.size());
        for (std::size_t i = 0; i < row.size() && i < shape_.baseColumns.size(); ++i) {
            const int c = shape_.baseColumns[i];
            if (c < 0 || row[i].isEmpty()) continue;
            full[static_cast<std::size_t>(c)] = sql::convertForColumn(row[i], tableColumns_[static_cast<std::size_t>(c)], shape_.baseTable);
        }
        db.append(shape_.baseTable, full);
        counted_ = -1;
    }

private:
    SqlSession& session_;
    std::string source_;
    bool forUpdate_;
    sql::QueryShape shape_;
    std::unique_ptr<sql::QueryCursor> cursor_;
    std::vector<ado::FieldInfo> fields_;
    std::vector<storage::ColumnDef> tableColumns_;
    std::int64_t counted_ = -1;
    bool onRow_ = false;
};

class AccessProvider : public ado::Provider {
public:
    std::unique_ptr<ado::Session> connect(const ado::ConnectionString& cs) override {
        const std::string path = cs.value("Data Source");
        if (path.empty()) throw AdoError("The connection string names no Data Source.");
        const std::string ext = cs.value("Extended Properties");
        OpenOptions o;
        if (containsIgnoringCase(ext, "dBase")) {
            // The Access engine's dBase driver: the folder's tables are dBase files.
            o.flavor = containsIgnoringCase(ext, "dBase III") ? OpenOptions::Flavor::DBase3 : OpenOptions::Flavor::DBase4;
            const std::string folder = trimmedPath(path);
            if (storage::classifyPath(folder) != storage::SourceKind::FreeTableFolder)
                throw AdoError("'" + path + "' is not a valid path for the dBase driver: it must be an existing folder.");
            return std::make_unique<SqlSession>(storage::openDatabase(folder, o), SqlSession::Kind::DBaseFolder, true);
        }
        if (containsIgnoringCase(ext, "FoxPro")) {
            // The Access engine's FoxPro driver: a folder of Visual FoxPro free tables.
            o.flavor = OpenOptions::Flavor::VisualFoxPro;
            const std::string folder = trimmedPath(path);
            if (storage::classifyPath(folder) != storage::SourceKind::FreeTableFolder)
                throw AdoError("'" + path + "' is not a valid path for the FoxPro driver: it must be an existing folder.");
            return std::make_unique<SqlSession>(storage::openDatabase(folder, o), SqlSession::Kind::FoxPro, true);
        }
        if (!ext.empty() && !containsIgnoringCase(ext, "Excel") && !containsIgnoringCase(ext, "Access"))
            throw AdoError("Could not find installable ISAM for '" + ext + "'.");
        if (storage::classifyPath(path) != storage::SourceKind::Access)
            throw AdoError("Unrecognized database format '" + path + "'.");
        o.password = cs.value("Jet OLEDB:Database Password");
        return std::make_unique<SqlSession>(storage::openDatabase(path, o), SqlSession::Kind::Access, true);
    }
};

class FoxProProvider : public ado::Provider {
public:
    std::unique_ptr<ado::Session> connect(const ado::ConnectionString& cs) override {
        const std::string path = cs.value("Data Source");
        if (path.empty()) throw AdoError("The connection string names no Data Source.");
        OpenOptions o;
        std::string collation = cs.value("Collating Sequence");
        if (collation.empty()) collation = "machine";
        o.collation = collation;
        const auto kind = storage::classifyPath(trimmedPath(path));
        if (kind == storage::SourceKind::Access || kind == storage::SourceKind::Unknown)
            throw AdoError("File '" + path + "' does not exist or is not a FoxPro database, table or folder.");
        // "machine" compares text by its codes; "general" ignores letter case.
        const bool caseInsensitive = !sql::iequals(collation, "machine");
        return std::make_unique<SqlSession>(storage::openDatabase(trimmedPath(path), o), SqlSession::Kind::FoxPro, caseInsensitive);
    }
};

} // namespace

SqlSession::SqlSession(std::unique_ptr<storage::Database> db, Kind kind, bool caseInsensitiveText)
    : db_(std::move(db)), kind_(kind) {
    sql::ExecutorOptions options;
    options.caseInsensitiveText = caseInsensitiveText;
    options.openFolder = openFolder;
    executor_ = std::make_unique<sql::Executor>(*db_, kind == Kind::FoxPro ? sql::Dialect::FoxPro : sql::Dialect::Access, options);
}

SqlSession::~SqlSession() = default;

std::size_t SqlSession::executeScript(std::string_view commandText, const sql::Executor::Observer& observer) {
    const std::size_t n = executor_->runScript(commandText, observer);
    if (n == 0) throw AdoError("Command text was not set for the command object.");
    return n;
}

void SqlSession::execute(std::string_view commandText) { executeScript(commandText, {}); }

std::unique_ptr<ado::Rowset> SqlSession::open(std::string_view source, bool forUpdate) {
    return std::make_unique<QueryRowset>(*this, std::string(source), forUpdate, kind_ == Kind::FoxPro);
}

std::vector<std::pair<std::string, std::string>> SqlSession::schemaTables() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const storage::CatalogEntry& e : db_->catalog())
        if (!e.tableType.empty()) out.emplace_back(e.name, e.tableType);
    return out;
}

void SqlSession::appendTable(const std::string& name, const std::vector<ado::CatalogColumn>& columns) {
    if (name.empty()) throw AdoError("The table has no name.");
    if (columns.empty()) throw AdoError("Table '" + name + "' has no columns.");
    if (db_->find(name)) throw AdoError("Table '" + name + "' already exists.");
    const sql::Destination dest = kind_ == Kind::FoxPro ? sql::Destination::FoxPro
                                : kind_ == Kind::DBaseFolder ? sql::Destination::DBase
                                                             : sql::Destination::Access;
    storage::TableSpec spec;
    spec.name = name;
    for (const auto& c : columns)
        spec.columns.push_back(sql::columnForAdoType(c.name, c.type, c.definedSize, c.precision, c.scale, dest));
    db_->createTable(spec);
}

void registerBuiltInProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& r = ado::ProviderRegistry::instance();
        r.add("Microsoft.Jet.OLEDB.4.0", [] { return std::make_unique<AccessProvider>(); });
        r.add("Microsoft.ACE.OLEDB.12.0", [] { return std::make_unique<AccessProvider>(); });
        r.add("vfpoledb.1", [] { return std::make_unique<FoxProProvider>(); });
        r.add("vfpoledb", [] { return std::make_unique<FoxProProvider>(); });
    });
}

std::string connectionStringFor(const std::string& path, const std::string& password) {
    switch (storage::classifyPath(trimmedPath(path))) {
    case storage::SourceKind::Access: {
        std::string lower = path;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const bool accdb = lower.size() >= 5 && lower.compare(lower.size() - 5, 5, "accdb") == 0;
        return (accdb ? "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" : "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + path
            + ";JET OLEDB:Database Password=" + password;
    }
    case storage::SourceKind::FoxProContainer:
        return "Provider=vfpoledb.1;Data Source=" + path + ";Collating Sequence=machine;";
    case storage::SourceKind::FreeTableFolder:
    case storage::SourceKind::SingleFreeTable:
        return "Provider=vfpoledb.1;Data Source=" + path + ";Collating Sequence=general;";
    case storage::SourceKind::Unknown:
        break;
    }
    throw Error("'" + path + "' is neither an Access database (.mdb, .accdb), a FoxPro database (.dbc), a free table (.dbf) nor a folder.");
}

} // namespace qm::providers
