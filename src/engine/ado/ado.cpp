#include "ado/ado.h"

#include "storage/open.h"

#include <mutex>

namespace qm::ado {

namespace {

const char* const kNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";
const char* const kClosed = "Operation is not allowed when the object is closed.";
const char* const kOpen = "Operation is not allowed when the object is open.";

// The rows of a schema recordset, held whole: a catalog is small.
class TableRowset : public Rowset {
public:
    TableRowset(std::vector<FieldInfo> fields, std::vector<std::vector<Value>> rows)
        : fields_(std::move(fields)), rows_(std::move(rows)) {}

    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next() override { return ++position_ < rows_.size(); }
    const Value& value(std::size_t field) const override { return rows_.at(position_).at(field); }
    std::int64_t count() override { return std::int64_t(rows_.size()); }
    void append(std::span<const Value>) override { throw AdoError("The schema rowset cannot be updated."); }

private:
    std::vector<FieldInfo> fields_;
    std::vector<std::vector<Value>> rows_;
    std::size_t position_ = std::size_t(-1);
};

} // namespace

// ---------------------------------------------------------------- registry

ProviderRegistry& ProviderRegistry::instance()
{
    static ProviderRegistry registry;
    return registry;
}

void ProviderRegistry::add(std::string name, Factory factory)
{
    for (auto& entry : factories_)
        if (storage::namesEqual(entry.first, name)) {
            entry.second = std::move(factory);
            return;
        }
    factories_.emplace_back(std::move(name), std::move(factory));
}

std::unique_ptr<Provider> ProviderRegistry::create(std::string_view name) const
{
    for (const auto& entry : factories_)
        if (storage::namesEqual(entry.first, name))
            return entry.second();
    throw AdoError("Provider cannot be found. It may not be properly installed.");
}

// ---------------------------------------------------------------- Connection

Connection::Connection() = default;
Connection::~Connection() = default;

void Connection::Open()
{
    if (session_)
        throw AdoError(kOpen);
    auto cs = ConnectionString::parse(ConnectionString);
    auto provider = cs.get("Provider");
    if (!provider || provider->empty())
        throw AdoError("[Microsoft][ODBC Driver Manager] Data source name not found and no default driver specified");
    auto p = ProviderRegistry::instance().create(*provider);
    try {
        session_ = p->connect(cs);
    } catch (const AdoError&) {
        throw;
    } catch (const std::exception& e) {
        throw AdoError(e.what()); // the provider's own words
    }
}

void Connection::Open(const std::string& connectionString)
{
    if (session_)
        throw AdoError(kOpen);
    ConnectionString = connectionString;
    Open();
}

void Connection::Execute(std::string_view commandText)
{
    try {
        session().execute(commandText);
    } catch (const AdoError&) {
        throw;
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

std::unique_ptr<Recordset> Connection::OpenSchema(int schema)
{
    if (schema != adSchemaTables)
        throw AdoError("Object or provider is not capable of performing requested operation.");
    std::vector<FieldInfo> fields = {
        {"TABLE_CATALOG", adVarWChar, 128}, {"TABLE_SCHEMA", adVarWChar, 128}, {"TABLE_NAME", adVarWChar, 128},
        {"TABLE_TYPE", adVarWChar, 128},    {"TABLE_GUID", adGUID, 16},        {"DESCRIPTION", adLongVarWChar, 0},
    };
    std::vector<std::vector<Value>> rows;
    for (auto& [name, type] : session().schemaTables())
        rows.push_back({Value::null(), Value::null(), Value::string(name), Value::string(type), Value::null(), Value::null()});
    auto rs = std::make_unique<Recordset>();
    rs->attach(std::make_unique<TableRowset>(std::move(fields), std::move(rows)));
    return rs;
}

void Connection::Close()
{
    if (!session_)
        throw AdoError(kClosed);
    session_.reset();
}

Session& Connection::session()
{
    if (!session_)
        throw AdoError(kClosed);
    return *session_;
}

// ---------------------------------------------------------------- Field

const Value& Field::GetValue() const
{
    if (rs_->adding_)
        return rs_->pending_.at(index_);
    if (rs_->eof_)
        throw AdoError(kNoCurrentRecord);
    return rs_->rowset_->value(index_);
}

void Field::SetValue(Value v)
{
    if (!rs_->adding_) {
        if (!rs_->updatable_)
            throw AdoError("Current Recordset does not support updating. This may be a limitation of the provider, or of the selected locktype.");
        throw AdoError("Updating existing rows through a recordset is not supported; use an UPDATE statement.");
    }
    rs_->pending_.at(index_) = std::move(v);
}

// ---------------------------------------------------------------- Recordset

Recordset::Recordset() = default;
Recordset::~Recordset() = default;

void Recordset::Open(std::string_view source, Connection& connection, int /*cursorType*/, int lockType)
{
    if (rowset_)
        throw AdoError(kOpen);
    updatable_ = lockType != adLockReadOnly;
    try {
        attach(connection.session().open(source, updatable_));
    } catch (const AdoError&) {
        throw;
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

void Recordset::attach(std::unique_ptr<Rowset> rowset)
{
    rowset_ = std::move(rowset);
    eof_ = !rowset_->next();
    adding_ = false;
}

void Recordset::MoveNext()
{
    if (!rowset_)
        throw AdoError(kClosed);
    if (eof_)
        throw AdoError(kNoCurrentRecord);
    eof_ = !rowset_->next();
}

std::int64_t Recordset::RecordCount()
{
    if (!rowset_)
        throw AdoError(kClosed);
    return rowset_->count();
}

void Recordset::Close()
{
    if (!rowset_)
        throw AdoError(kClosed);
    rowset_.reset();
    eof_ = true;
    adding_ = false;
    pending_.clear();
}

void Recordset::AddNew()
{
    if (!rowset_)
        throw AdoError(kClosed);
    if (!updatable_)
        throw AdoError("Current Recordset does not support updating. This may be a limitation of the provider, or of the selected locktype.");
    pending_.assign(rowset_->fields().size(), Value());
    adding_ = true;
}

void Recordset::Update()
{
    if (!rowset_)
        throw AdoError(kClosed);
    if (!adding_)
        return; // nothing pending
    adding_ = false;
    try {
        rowset_->append(pending_);
    } catch (const AdoError&) {
        throw;
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

std::size_t Recordset::FieldCount() const
{
    if (!rowset_)
        throw AdoError(kClosed);
    return rowset_->fields().size();
}

bool Recordset::ComplexItems(std::size_t index, std::vector<storage::ComplexItem>& out)
{
    out.clear();
    if (!rowset_)
        throw AdoError(kClosed);
    if (index >= rowset_->fields().size())
        throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
    if (rowset_->fields()[index].complex == storage::ComplexKind::None)
        return false;
    if (eof_ || adding_)
        throw AdoError(kNoCurrentRecord);
    return rowset_->complexItems(index, out);
}

Field Recordset::Fields(std::size_t index)
{
    if (!rowset_)
        throw AdoError(kClosed);
    const auto& fields = rowset_->fields();
    if (index >= fields.size())
        throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
    return Field(this, &fields[index], index);
}

Field Recordset::Fields(std::string_view name)
{
    if (!rowset_)
        throw AdoError(kClosed);
    const auto& fields = rowset_->fields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (storage::namesEqual(fields[i].name, name))
            return Field(this, &fields[i], i);
    throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

// ---------------------------------------------------------------- Catalog

Connection& Catalog::connection()
{
    if (!connection_ || connection_->State() != adStateOpen)
        throw AdoError("Operation is not allowed on an object referencing a closed or invalid connection.");
    return *connection_;
}

void Catalog::AppendTable(const std::string& name, const std::vector<CatalogColumn>& columns)
{
    try {
        connection().session().appendTable(name, columns);
    } catch (const AdoError&) {
        throw;
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

void Catalog::RenameTable(const std::string& name, const std::string& newName)
{
    auto& db = connection().session().database();
    if (!db.find(name))
        throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
    try {
        db.renameObject(name, newName);
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

Command Catalog::ViewCommand(const std::string& name)
{
    auto& db = connection().session().database();
    auto entry = db.find(name);
    if (!entry || entry->kind != storage::ObjectKind::View)
        throw AdoError("Item cannot be found in the collection corresponding to the requested name or ordinal.");
    try {
        return Command{db.querySql(entry->name)};
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

// ---------------------------------------------------------------- DAO

DaoEngine& DaoEngine::instance()
{
    static DaoEngine engine;
    return engine;
}

std::unique_ptr<DaoDatabase> DaoEngine::OpenDatabase(const std::string& path, const std::string& password)
{
    storage::OpenOptions options;
    options.password = password;
    auto db = std::make_unique<DaoDatabase>();
    try {
        db->db_ = storage::openDatabase(path, options);
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
    return db;
}

void DaoDatabase::CreateQueryDef(const std::string& name, const std::string& sql)
{
    if (!db_)
        throw AdoError("Object invalid or no longer set.");
    try {
        db_->createView(name, sql);
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

std::string DaoDatabase::QueryDefSQL(const std::string& name)
{
    if (!db_)
        throw AdoError("Object invalid or no longer set.");
    auto entry = db_->find(name);
    if (!entry || (entry->kind != storage::ObjectKind::View && entry->kind != storage::ObjectKind::Query))
        throw AdoError("Item not found in this collection.");
    try {
        return db_->querySql(entry->name);
    } catch (const std::exception& e) {
        throw AdoError(e.what());
    }
}

void DaoDatabase::Close() { db_.reset(); }

} // namespace qm::ado
