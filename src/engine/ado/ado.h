// The data-access facade: the shapes of ADO, ADOX and DAO that the program's
// modules use, over our own providers.  Member names follow the component
// names the modules were written against (Open, Execute, MoveNext, Fields...),
// so the modules read the same way they always did.
//
// A provider failure is thrown as AdoError carrying the provider's
// description text, exactly what the program's error report shows.
#pragma once

#include "storage/storage.h"
#include "value/value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::ado {

// ---- enumerations (values as ADO numbers them) ----
enum CursorLocationEnum : int { adUseServer = 2, adUseClient = 3 };
enum ConnectModeEnum : int { adModeUnknown = 0, adModeRead = 1, adModeWrite = 2, adModeReadWrite = 3 };
enum CursorTypeEnum : int { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockTypeEnum : int { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum ObjectStateEnum : int { adStateClosed = 0, adStateOpen = 1 };
enum SchemaEnum : int { adSchemaTables = 20 };

enum DataTypeEnum : std::int16_t {
    adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6,
    adDate = 7, adBSTR = 8, adIDispatch = 9, adError = 10, adBoolean = 11, adVariant = 12,
    adIUnknown = 13, adDecimal = 14, adTinyInt = 16, adUnsignedTinyInt = 17,
    adUnsignedSmallInt = 18, adUnsignedInt = 19, adBigInt = 20, adUnsignedBigInt = 21,
    adFileTime = 64, adGUID = 72, adBinary = 128, adChar = 129, adWChar = 130, adNumeric = 131,
    adUserDefined = 132, adDBDate = 133, adDBTime = 134, adDBTimeStamp = 135, adChapter = 136,
    adPropVariant = 138, adVarNumeric = 139, adVarChar = 200, adLongVarChar = 201,
    adVarWChar = 202, adLongVarWChar = 203, adVarBinary = 204, adLongVarBinary = 205,
};

// The enumeration name of a type code ("adVarWChar"), or an Empty value
// (which reads as "") for a code that has none.
Value AdoTypeName(const std::int16_t& code);

// A failure reported by a provider; what() is the provider's description.
class AdoError : public qm::Error {
public:
    using qm::Error::Error;
};

// ---- connection strings ----
// "Key=Value;Key=Value;" with keys compared ignoring case, values kept as
// written (surrounding blanks trimmed; a value may be quoted with " or ').
class ConnectionString {
public:
    static ConnectionString parse(std::string_view text);
    std::optional<std::string> get(std::string_view key) const;
    std::string value(std::string_view key) const { return get(key).value_or(std::string()); }
    const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

private:
    std::vector<std::pair<std::string, std::string>> items_;
};

// ---- the provider side ----
// A column handed to the catalog (ADOX) when a table is appended.
struct CatalogColumn {
    std::string name;
    std::int16_t type = adVarWChar; // ADO type code
    std::int32_t definedSize = 0;
    // adNumeric / adDecimal: digits and decimals (0 when not known), so
    // that the new column keeps the scale.
    int precision = 0;
    int scale = 0;
};

struct FieldInfo {
    std::string name;
    std::int16_t type = adEmpty;  // ADO type code, as the real provider reports it
    std::int32_t definedSize = 0;
    int precision = 0;
    int scale = 0;
    // Access attachment / multi-value / version-history column: the field's
    // value is text, the entries come from Recordset::ComplexItems.
    storage::ComplexKind complex = storage::ComplexKind::None;
};

// Rows produced by a provider for a recordset's source.
class Rowset {
public:
    virtual ~Rowset() = default;
    virtual const std::vector<FieldInfo>& fields() const = 0;
    virtual bool next() = 0;                               // false past the last row
    virtual const Value& value(std::size_t field) const = 0; // current row
    // Number of rows of the source (may read ahead, never changes position).
    virtual std::int64_t count() = 0;
    // Appends one row to the table the rowset reads; values in field order,
    // Empty for fields not assigned.
    virtual void append(std::span<const Value> row) = 0;
    // The current row's entries of a complex field; false when the field
    // is not one (or the rows were sorted or computed).
    virtual bool complexItems(std::size_t field, std::vector<storage::ComplexItem>& out)
    {
        (void)field;
        out.clear();
        return false;
    }
};

// One open connection of a provider.
class Session {
public:
    virtual ~Session() = default;
    // Runs a command text: one statement or a script, as the provider does.
    virtual void execute(std::string_view commandText) = 0;
    virtual std::unique_ptr<Rowset> open(std::string_view source, bool forUpdate) = 0;
    // adSchemaTables rows: (TABLE_NAME, TABLE_TYPE) in the provider's order.
    virtual std::vector<std::pair<std::string, std::string>> schemaTables() = 0;
    // ADOX Tables.Append: creates the table, mapping each ADO type code to
    // the destination's column type so that no value of it is lost.
    virtual void appendTable(const std::string& name, const std::vector<CatalogColumn>& columns) = 0;
    // The storage behind the connection, for the other catalog operations.
    virtual storage::Database& database() = 0;
};

class Provider {
public:
    virtual ~Provider() = default;
    virtual std::unique_ptr<Session> connect(const ConnectionString& cs) = 0;
};

// Providers by name ("Microsoft.Jet.OLEDB.4.0", "Microsoft.ACE.OLEDB.12.0",
// "vfpoledb.1"...), matched ignoring case.  An unknown name fails as ADO
// does: "Provider cannot be found. It may not be properly installed."
class ProviderRegistry {
public:
    using Factory = std::function<std::unique_ptr<Provider>()>;
    static ProviderRegistry& instance();
    void add(std::string name, Factory factory);
    std::unique_ptr<Provider> create(std::string_view name) const;

private:
    std::vector<std::pair<std::string, Factory>> factories_;
};

// ---- ADODB ----
class Recordset;

class Connection {
public:
    Connection();
    ~Connection();
    int CursorLocation = adUseServer;
    int Mode = adModeUnknown;
    std::string ConnectionString;

    void Open();
    void Open(const std::string& connectionString);
    void Execute(std::string_view commandText);
    std::unique_ptr<Recordset> OpenSchema(int schema);
    int State() const { return session_ ? adStateOpen : adStateClosed; }
    void Close();

    Session& session(); // throws when closed

private:
    std::unique_ptr<Session> session_;
};

class Field {
public:
    const std::string& Name() const { return info_->name; }
    std::int16_t Type() const { return info_->type; }
    std::int32_t DefinedSize() const { return info_->definedSize; }
    const FieldInfo& info() const { return *info_; }
    const Value& GetValue() const;
    void SetValue(Value v); // only between AddNew and Update

private:
    friend class Recordset;
    Field(Recordset* rs, const FieldInfo* info, std::size_t index) : rs_(rs), info_(info), index_(index) {}
    Recordset* rs_;
    const FieldInfo* info_;
    std::size_t index_;
};

class Recordset {
public:
    Recordset();
    ~Recordset();
    void Open(std::string_view source, Connection& connection,
              int cursorType = adOpenForwardOnly, int lockType = adLockReadOnly);
    bool Eof() const { return eof_; }
    void MoveNext();
    std::int64_t RecordCount();
    int State() const { return rowset_ ? adStateOpen : adStateClosed; }
    void Close();

    void AddNew();
    void Update();

    std::size_t FieldCount() const;
    Field Fields(std::size_t index);
    Field Fields(std::string_view name); // ignoring case; throws when absent
    // The entries of an attachment, multi-value or version-history field on
    // the current row: attachments with file name, type and bytes.  Returns
    // false (out empty) for any other field.
    bool ComplexItems(std::size_t index, std::vector<storage::ComplexItem>& out);

    // For provider-made recordsets (OpenSchema).
    void attach(std::unique_ptr<Rowset> rowset);

private:
    friend class Field;
    std::unique_ptr<Rowset> rowset_;
    bool eof_ = true;
    bool adding_ = false;
    bool updatable_ = false;
    std::vector<Value> pending_;
};

class Command {
public:
    std::string CommandText;
};

// ---- ADOX ----
class Catalog {
public:
    // Set to an open connection; nullptr to let it go.
    void ActiveConnection(Connection* connection) { connection_ = connection; }
    // Appends a new table from (name, ADO type, size) columns, mapping each
    // code to the destination's column type so that no value is lost.
    void AppendTable(const std::string& name, const std::vector<CatalogColumn>& columns);
    // Tables(name).Name = newName
    void RenameTable(const std::string& name, const std::string& newName);
    // Views(name).Command.CommandText
    Command ViewCommand(const std::string& name);

private:
    Connection& connection();
    Connection* connection_ = nullptr;
};

// ---- DAO ----
class DaoDatabase {
public:
    void CreateQueryDef(const std::string& name, const std::string& sql);
    std::string QueryDefSQL(const std::string& name);
    void Close();

private:
    friend class DaoEngine;
    std::unique_ptr<storage::Database> db_;
};

class DaoEngine {
public:
    // Made on first use and kept for the whole run.
    static DaoEngine& instance();
    // The password opens a protected database (empty: none).
    std::unique_ptr<DaoDatabase> OpenDatabase(const std::string& path, const std::string& password = {});
};

} // namespace qm::ado
