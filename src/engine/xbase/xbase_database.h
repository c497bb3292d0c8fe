// The xBase implementations of storage::Database.
//
// FreeTableDatabase: a folder of free tables, walked with its sub-folders;
// a table is named by its file name without the extension, matched
// ignoring case.  Also serves a single .dbf opened on its own.
#pragma once

#include "dbf_table.h"
#include "storage/storage.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qm::xbase {

// Cursor over a table's live rows; decodes a column when it is asked for.
class TableCursor final : public storage::RowCursor {
public:
    TableCursor(std::unique_ptr<DbfTable> owned, std::vector<storage::ColumnDef> columns);
    const std::vector<storage::ColumnDef>& columns() const override { return columns_; }
    bool next() override;
    const Value& value(std::size_t column) override;
    std::uint64_t rowId() const override { return reader_->recno(); }

private:
    std::unique_ptr<DbfTable> table_;
    std::unique_ptr<DbfTable::Reader> reader_;
    std::vector<storage::ColumnDef> columns_;
    std::vector<Value> row_;
    std::vector<std::uint64_t> decodedAt_; // row number the slot was decoded for
    std::uint64_t rowNumber_ = 0;
};

class StructuralIndex;
class Container;
struct CdxTag;

// An open table being written, with its structural index kept in step
// (when the table has one).  The index goes before the table.
struct TableWriter {
    std::unique_ptr<DbfTable> table;
    std::unique_ptr<StructuralIndex> index;
    ~TableWriter();
};
std::unique_ptr<TableWriter> openWriter(const std::string& dbfPath, std::vector<std::string> longNames = {});

// What both xBase Databases share: the writers of the tables open for
// writing, the running batch, and the shortcut for a batch of appends to
// one table.
class XBaseDatabase : public storage::Database {
public:
    void append(std::string_view table, std::span<const Value> row) override;
    void update(std::string_view table, std::uint64_t rowId, std::span<const Value> row) override;
    void remove(std::string_view table, std::uint64_t rowId) override;
    void beginBatch() override;
    void endBatch() override;

    // Keys are the tags of the table's structural index (table_keys.cpp).
    // Tags are built in the MACHINE collation.
    std::vector<storage::IndexSpec> indexes(std::string_view table) override;
    void createIndex(std::string_view table, const storage::IndexSpec& index) override;
    void dropIndex(std::string_view table, std::string_view name) override;

protected:
    explicit XBaseDatabase(const storage::OpenOptions& options) : options_(options) {}
    // A table's file, with what the container knows of it.
    struct TableFile {
        std::string name;
        std::string file;
        std::vector<std::string> longNames; // container field names in field order, else empty
        bool member = false;                // a container's table: it may have a primary key
        std::string primaryKey;             // the container's primary tag, "" for none
    };
    virtual TableFile tableFile(std::string_view table) = 0;
    // Makes the keys a new table was asked for; the table goes again when
    // one of them cannot be made.
    void createKeys(const storage::TableSpec& spec);
    // The container records the tags after they changed (free tables: nothing).
    virtual void tagsChanged(const TableFile&, const std::vector<CdxTag>&, const std::string&) {}
    // The writer of the named table (opened on first use through writer()).
    virtual DbfTable& writerFor(std::string_view table) = 0;
    virtual void requireWritable() const = 0;
    DbfTable& writer(const std::string& file, std::vector<std::string> longNames = {});
    void closeWriter(const std::string& file);

    // A table created while a batch runs is built under a temporary name in
    // its folder (DbfTable::buildingPath) and put in place when the batch
    // ends; one created outside a batch is put in place at once.  Another
    // program finds it whole or not at all.  Until then this object answers
    // for it under its name.
    struct Building {
        std::string name;                   // the table's name
        std::string file;                   // the .dbf it is built in
        std::vector<std::string> longNames; // container: field names in field order
        std::vector<std::pair<std::string, bool>> tags; // container: tag, candidate
        std::string primaryKey;             // container: the primary tag
    };
    Building* building(std::string_view name);
    // Puts every table built so far in place; the first failure is thrown
    // after all were tried (a table that cannot be placed is removed).
    void placeBuiltTables();
    virtual void place(const Building& table) = 0;
    void forgetBuilding(const std::string& file);

    storage::OpenOptions options_;
    std::vector<Building> building_;
    std::map<std::string, std::unique_ptr<TableWriter>> writers_;
    int batchDepth_ = 0;
    // The table the last append of the running batch went to: rows for the
    // same name skip the name lookup (and its file check).  Cleared when the
    // batch ends and whenever a writer is closed or the list of tables changes.
    std::string appendName_;
    DbfTable* appendTable_ = nullptr;
};

class FreeTableDatabase final : public XBaseDatabase {
public:
    // folder: walked recursively.  singleTable: when not empty, only that
    // file (and tables created through this object) are listed.
    FreeTableDatabase(std::string folder, std::string singleTable, const storage::OpenOptions& options);
    ~FreeTableDatabase() override;

    const std::string& path() const override { return path_; }
    std::vector<storage::CatalogEntry> catalog() override;
    std::optional<storage::CatalogEntry> find(std::string_view name) override;
    std::vector<storage::ColumnDef> columns(std::string_view table) override;
    std::unique_ptr<storage::RowCursor> scan(std::string_view table) override;
    std::uint64_t rowCount(std::string_view table) override;
    std::string querySql(std::string_view name) override;

    void createTable(const storage::TableSpec& spec) override;
    void dropTable(std::string_view name) override;
    void renameObject(std::string_view oldName, std::string_view newName) override;
    void createView(std::string_view name, std::string_view sql) override;
    void dropView(std::string_view name) override;

private:
    struct Entry {
        std::string name; // file name without extension
        std::string path;
    };
    void refresh();
    const Entry* lookup(std::string_view name);
    const Entry& require(std::string_view name);
    DbfTable& writerFor(std::string_view table) override;
    void requireWritable() const override;
    TableFile tableFile(std::string_view table) override;
    void place(const Building& table) override;

    std::string path_;
    std::string folder_;
    std::string single_;
    std::vector<Entry> entries_;
    std::vector<std::string> created_; // single-table mode: paths created here
};

// A database container (.dbc): its member tables under their long names,
// with long field names, and its views.
class ContainerDatabase final : public XBaseDatabase {
public:
    ContainerDatabase(const std::string& dbcPath, const storage::OpenOptions& options);
    ~ContainerDatabase() override;

    const std::string& path() const override { return path_; }
    std::vector<storage::CatalogEntry> catalog() override;
    std::optional<storage::CatalogEntry> find(std::string_view name) override;
    std::vector<storage::ColumnDef> columns(std::string_view table) override;
    std::unique_ptr<storage::RowCursor> scan(std::string_view table) override;
    std::uint64_t rowCount(std::string_view table) override;
    std::string querySql(std::string_view name) override;

    void createTable(const storage::TableSpec& spec) override;
    void dropTable(std::string_view name) override;
    void renameObject(std::string_view oldName, std::string_view newName) override;
    void createView(std::string_view name, std::string_view sql) override;
    void dropView(std::string_view name) override;

private:
    struct Member {
        std::string name;
        std::string file;
        std::vector<std::string> longNames;
    };
    Member member(std::string_view name);
    DbfTable& writerFor(std::string_view table) override;
    void requireWritable() const override;
    TableFile tableFile(std::string_view table) override;
    void tagsChanged(const TableFile& t, const std::vector<CdxTag>& tags, const std::string& primaryKey) override;
    void place(const Building& table) override;
    std::vector<storage::ColumnDef> columnsOf(const DbfTable& t, const Member& m) const;

    std::string path_;
    std::unique_ptr<Container> container_;
    bool writable_ = false;
};

} // namespace qm::xbase
