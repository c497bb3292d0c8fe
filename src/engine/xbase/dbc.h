// The Visual FoxPro database container: name.dbc (a table of objects),
// name.dct (its memo file, holding the property lists) and name.dcx (its
// structural index with the tags OBJECTNAME and OBJECTTYPE).
//
// Every object is one record: OBJECTID, PARENTID, OBJECTTYPE ("Database",
// "Table", "View", "Field", "Index", "Relation", "Connection"), OBJECTNAME
// (the long name), PROPERTY (memo: a list of properties), CODE, RIINFO,
// USER.  Tables, views and connections hang off the Database record
// (PARENTID 1); fields and indexes hang off their table or view.  Deleted
// records stay in the file (until the container is packed) and are ignored.
//
// A member table's file is named by its Path property, relative to the
// folder of the .dbc; the table in turn names the .dbc in its backlink,
// relative to its own folder.
//
// Errors are qm::Error naming the file (and the object) concerned.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

// Property ids used in the PROPERTY memo of container records.
namespace dbc_prop {
inline constexpr std::uint16_t kPath = 0x01;          // Table: dbf path relative to the .dbc
inline constexpr std::uint16_t kObjectClass = 0x02;   // 1 table, 6 local view, 7 remote view
inline constexpr std::uint16_t kComment = 0x07;
inline constexpr std::uint16_t kRuleExpression = 0x09;
inline constexpr std::uint16_t kRuleText = 0x0A;
inline constexpr std::uint16_t kDefaultValue = 0x0B;
inline constexpr std::uint16_t kParameterList = 0x0C;
inline constexpr std::uint16_t kRelatedChild = 0x0D;
inline constexpr std::uint16_t kInsertTrigger = 0x0E;
inline constexpr std::uint16_t kUpdateTrigger = 0x0F;
inline constexpr std::uint16_t kDeleteTrigger = 0x10;
inline constexpr std::uint16_t kIsUnique = 0x11;
inline constexpr std::uint16_t kRelatedTable = 0x12;
inline constexpr std::uint16_t kRelatedTag = 0x13;
inline constexpr std::uint16_t kPrimaryKey = 0x14;
inline constexpr std::uint16_t kVersion = 0x18;
inline constexpr std::uint16_t kBatchUpdateCount = 0x1C;
inline constexpr std::uint16_t kConnectName = 0x20;
inline constexpr std::uint16_t kUpdateName = 0x23;
inline constexpr std::uint16_t kFetchMemo = 0x24;
inline constexpr std::uint16_t kFetchSize = 0x25;
inline constexpr std::uint16_t kKeyField = 0x26;
inline constexpr std::uint16_t kMaxRecords = 0x27;
inline constexpr std::uint16_t kShareConnection = 0x28;
inline constexpr std::uint16_t kSourceType = 0x29;
inline constexpr std::uint16_t kSql = 0x2A;
inline constexpr std::uint16_t kTables = 0x2B;
inline constexpr std::uint16_t kSendUpdates = 0x2C;
inline constexpr std::uint16_t kUpdatable = 0x2D;
inline constexpr std::uint16_t kUpdateType = 0x2E;
inline constexpr std::uint16_t kUseMemoSize = 0x2F;
inline constexpr std::uint16_t kWhereType = 0x30;
inline constexpr std::uint16_t kCaption = 0x38;
inline constexpr std::uint16_t kDataType = 0x4D;
inline constexpr std::uint16_t kPrepared = 0x50;
inline constexpr std::uint16_t kCompareMemo = 0x51;
inline constexpr std::uint16_t kFetchAsNeeded = 0x52;
} // namespace dbc_prop

// One entry of a property list.  raw holds the value bytes exactly as
// stored: text with its terminating NUL, logical and small numbers as one
// byte, numbers as 4 big-endian bytes.
struct DbcProperty {
    std::uint16_t id = 0;
    std::string raw;

    static DbcProperty text(std::uint16_t id, std::string_view bytes);   // adds the NUL
    static DbcProperty logical(std::uint16_t id, bool value);
    static DbcProperty byte(std::uint16_t id, std::uint8_t value);
    static DbcProperty number(std::uint16_t id, std::int32_t value);

    // The value read as text (bytes up to the first NUL).
    std::string asText() const;
    // The value as a number: 1 byte unsigned, or 4 bytes big-endian signed.
    std::int64_t asNumber() const;
};

// Decodes a PROPERTY memo.  A damaged list (an entry length that runs past
// the end or is shorter than an entry header) is an Error whose text
// begins with `where` (e.g. "northwind.dct, object 60 'invoices'").
std::vector<DbcProperty> decodeDbcProperties(std::string_view memo, std::string_view where);
std::string encodeDbcProperties(std::span<const DbcProperty> properties);
// The first property with the id, or null.
const DbcProperty* findDbcProperty(std::span<const DbcProperty> properties, std::uint16_t id);

// One record of the .dbc, as stored (names decoded to UTF-8, trailing
// spaces removed).
struct DbcObject {
    std::uint32_t recno = 0;     // 1-based record number
    bool deleted = false;
    std::int32_t objectId = 0;
    std::int32_t parentId = 0;
    std::string type;            // "Table", "View", ...
    std::string name;
    std::uint32_t propertyBlock = 0; // 0 = no properties
    std::string riinfo;
};

struct DbcField {
    std::string name;            // long name as stored (VFP writes it in lower case)
    std::int32_t objectId = 0;
    std::vector<DbcProperty> properties;
};

struct DbcIndex {
    std::string name;            // tag name as stored (lower case)
    std::int32_t objectId = 0;
    bool unique = false;         // candidate or primary
};

struct DbcTable {
    std::string name;            // long table name, case as stored
    std::int32_t objectId = 0;
    std::string path;            // Path property as stored, e.g. "categories.dbf" or "data\orders.dbf"
    std::string file;            // the member .dbf resolved against the .dbc's folder
                                 // (matched ignoring case when such a file exists)
    std::vector<DbcField> fields;   // in DBF column order (_NullFlags has none)
    std::vector<DbcIndex> indexes;
    std::string primaryKey;      // tag name, "" when none
    std::string comment;
    std::vector<DbcProperty> properties;
};

struct DbcView {
    std::string name;            // as stored
    std::int32_t objectId = 0;
    bool remote = false;
    std::string sql;             // SELECT text as stored (trailing spaces kept, NUL removed)
    std::string tables;          // Tables property ("northwind!Products,..."), may be empty
    std::string connection;      // ConnectName of a remote view
    std::vector<DbcField> fields;
    std::vector<DbcProperty> properties;
};

// What the container records for a new member table.  The caller creates
// the .dbf (with the backlink from Container::backlinkFor) first.
struct NewDbcTable {
    std::string name;                      // long name (<= 128 characters)
    std::string dbfPath;                   // the member file, absolute or relative to the .dbc folder
    std::vector<std::string> fieldNames;   // long names in DBF column order, _NullFlags excluded
    struct Index {
        std::string tag;                   // tag name as in the .cdx
        bool unique = false;               // candidate or primary key
    };
    std::vector<Index> indexes;
    std::string primaryKey;                // tag name of the primary key, "" for none
    std::string comment;
};

struct NewDbcView {
    std::string name;                      // <= 128 characters
    std::string sql;                       // stored as given
    std::string tables;                    // optional Tables property
    struct Field {
        std::string name;                  // output column
        std::string dataType;              // optional DataType ("C(40)", "I", "N(20,5)")
        std::string updateName;            // optional UpdateName ("northwind!products.productid")
    };
    std::vector<Field> fields;             // optional: view columns
};

class Container {
public:
    enum class Mode { ReadOnly, ReadWrite };

    // Opens name.dbc with its .dct (required) and .dcx (required for
    // writing; rebuilt by every write).  Missing or damaged files are an
    // Error naming the file.
    static std::unique_ptr<Container> open(const std::string& dbcPath, Mode mode = Mode::ReadOnly);
    // Makes a new, empty container (the five fixed records, .dct and .dcx);
    // fails when the .dbc already exists.
    static std::unique_ptr<Container> create(const std::string& dbcPath);

    ~Container();
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;

    const std::string& path() const;
    std::string dctPath() const;
    std::string dcxPath() const;
    // The database name used to qualify tables in view SQL: the file stem.
    std::string databaseName() const;

    // ---- reading ----
    const std::vector<DbcObject>& objects() const;   // every record, deleted ones included
    std::vector<DbcTable> tables() const;            // live tables in record order
    std::vector<DbcView> views() const;              // live views (local and remote) in record order
    std::optional<DbcTable> findTable(std::string_view name) const;   // ignoring case
    std::optional<DbcView> findView(std::string_view name) const;     // ignoring case
    // The SQL of a view; Error naming the view when there is none.
    std::string viewSql(std::string_view name) const;
    // Properties of a live object's record (decoded from the .dct).
    std::vector<DbcProperty> properties(const DbcObject& object) const;

    // Backlink to write into a member table at dbfPath: the .dbc path
    // relative to the table's folder ("northwind.dbc", "..\\data\\x.dbc").
    std::string backlinkFor(const std::string& dbfPath) const;
    // Path property for a member table: dbfPath relative to the .dbc folder,
    // lower case, backslash separators.
    std::string pathPropertyFor(const std::string& dbfPath) const;

    // ---- writing ----  (ReadWrite mode; each call is one transaction
    // covering the .dbc, .dct and .dcx: after a crash the container is as
    // before or as after the call)
    // Adds the Table record with its Field and Index records.  Refuses a
    // name already used by a live table or view.  With builtAt, the table
    // was built there (a .dbf in the same folder, with its memo and index)
    // and is moved to table.dbfPath inside the same transaction, before the
    // records are written: after a crash both are done or neither.
    void addTable(const NewDbcTable& table, const std::string& builtAt = {});
    // Marks the table's records deleted (with its fields, indexes and the
    // relations it takes part in); with deleteFiles also removes its .dbf,
    // memo and .cdx.
    void dropTable(std::string_view name, bool deleteFiles = true);
    void createView(const NewDbcView& view);
    void dropView(std::string_view name);
    // Replaces the Index records of a table and its PrimaryKey property
    // with what its structural index now holds.
    void setTableIndexes(std::string_view table, const std::vector<NewDbcTable::Index>& indexes,
                         const std::string& primaryKey);
    // Rebuilds name.dcx from the records (also done by every write above).
    void rebuildIndex();

private:
    struct Impl;
    explicit Container(std::unique_ptr<Impl> impl);
    // Writes a new, empty container at dbcPath.
    static void build(const std::string& dbcPath);
    std::unique_ptr<Impl> impl_;
};

} // namespace qm::xbase
