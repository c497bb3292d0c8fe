// The Access writer: everything that changes a Jet 4 / ACE file.
//
// One JetWriter owns the open PageStore (lock, journal, page cache) and
// keeps, between calls, the table definitions it has read, the decoded
// index pages it is working on and the page each table appends to.  Every
// public call is one operation: it either completes or leaves the file as
// it was.  A call refused for bad input (a value that does not fit, a
// duplicate key, a name in use) is refused before anything changes.
// Outside a batch each call is committed at once; inside beginBatch() /
// endBatch() the journal covers the whole batch and is flushed once.
//
// Order of work for a new row: convert the values, compute every index key
// and check unique indexes, write long values, place the row, insert the
// index entries, count the row in the TDEF.
#pragma once

#include "write_model.h"
#include "write_pages.h"
#include "value/value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qm::jet {

struct ColumnRequest {
    std::string name;
    std::uint8_t type = kText;
    int length = 0;        // text: characters; binary: bytes
    int precision = 18;    // Decimal
    int scale = 0;
    bool required = false;
    bool autoNumber = false;
    bool guidAutoNumber = false;
    bool hyperlink = false;
    bool allowZeroLength = true;
    std::uint8_t flagBits = 0;  // extra descriptor flags (system tables: 0x10, 0x30)
};

struct IndexRequest {
    std::string name;
    std::vector<std::pair<std::string, bool>> columns; // name, ascending
    bool primaryKey = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    int rawFlags = -1;          // exact flag byte (system tables), -1 = from the fields above
};

struct TableRequest {
    std::string name;
    std::vector<ColumnRequest> columns;
    std::vector<IndexRequest> indexes;
    bool system = false;        // MSys tables of a new database
    std::uint32_t flags = 0;    // MSysObjects Flags
};

struct ObjectRow {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    std::string properties; // LvProp
    RowPointer where;
};

// Where a row lives: data page and row number (the header row of a moved row).
struct RowLocation {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    std::uint64_t id() const { return (std::uint64_t(page) << 8) | row; }
    static RowLocation of(std::uint64_t id) { return RowLocation{std::uint32_t(id >> 8), std::uint8_t(id & 0xFF)}; }
};

struct IndexEntry;

class JetWriter {
public:
    explicit JetWriter(std::unique_ptr<PageStore> store);
    ~JetWriter();

    PageStore& store() { return *store_; }
    const Format& format() const { return store_->format(); }
    bool ace() const { return format().isAce(); }

    // ---- operations (each one is complete on return) ----
    std::uint32_t createTable(const TableRequest& request);
    void dropTable(const std::string& name);
    void renameObject(const std::string& oldName, const std::string& newName);
    // Values by column-number order; Empty = not given.  Returns the row id.
    std::uint64_t append(const std::string& table, std::span<const Value> row);
    void update(const std::string& table, std::uint64_t rowId, std::span<const Value> row);
    void remove(const std::string& table, std::uint64_t rowId);
    void createQuery(const std::string& name, const std::string& sql);
    void dropQuery(const std::string& name);
    // Adds an index (or primary key) to a table that may hold rows: the
    // keys of every row are computed, sorted and laid out as a tree in one
    // pass.  A unique index meeting equal keys, or a primary key or
    // required index meeting a Null, is refused naming the index and the
    // row's values, before anything changes.
    void createIndex(const std::string& table, const IndexRequest& request);
    // Removes an index by name; its pages go back to the free pages.
    void dropIndex(const std::string& table, const std::string& name);

    void beginBatch();
    void endBatch();
    // Makes the current state durable (end of a call outside a batch).
    void commit();
    // Puts the decoded index pages and changed table definitions into the
    // pages, without making anything durable: afterwards the store's pages
    // (PageStore::peek over the file) are the batch's state so far.
    void settle();
    // Gives up every change since the last commit.
    void rollback();

    // ---- building blocks (also used to make a new database) ----
    // A page for a new owner: the lowest page the global map marks free
    // (zero-filled), else a new page at the end of the file.
    std::uint32_t allocatePage();
    // Marks a page free in the global map.  It is handed out again only
    // after the work that freed it is committed (see allocatePage).
    void releasePage(std::uint32_t page);
    TableDefinition& definition(std::uint32_t tdefPage, const std::string& name);
    void saveDefinition(TableDefinition& def);
    // Table created from a request without catalog rows; returns the TDEF page.
    std::uint32_t buildTable(const TableRequest& request, std::uint32_t tdefPage = 0);
    std::uint64_t insertRow(TableDefinition& def, std::vector<Value> values);
    void deleteRow(TableDefinition& def, RowLocation at);
    // Calls fn for every live row (values by column-number order).
    void scan(TableDefinition& def, const std::function<bool(RowLocation, const std::vector<Value>&)>& fn);
    bool readRow(TableDefinition& def, RowLocation at, std::vector<Value>& values);
    void rewriteRow(TableDefinition& def, RowLocation at, const std::vector<Value>& old,
                    const std::vector<Value>& values);

    // The catalog.
    const std::vector<ObjectRow>& objects();
    std::optional<ObjectRow> findObject(std::int32_t parentId, const std::string& name);
    TableDefinition& tableNamed(const std::string& name);
    // Inserts MSysObjects and MSysACEs rows for a new object of the Tables container.
    void addCatalogRows(std::int32_t id, const std::string& name, std::int16_t type, std::uint32_t flags,
                        const std::string& properties = {});
    std::int32_t nextSyntheticId();

    // Converts a caller's value to what column `col` stores; throws a
    // message naming table, column and value when it does not fit.
    Value convert(const TableDefinition& def, const WColumn& col, const Value& v) const;

    // Index pages being worked on (index_tree.cpp).
    struct IndexNode;
    struct IndexTree;

private:

    // rows
    std::vector<std::uint8_t> encodeRow(TableDefinition& def, const std::vector<Value>& values,
                                        std::size_t padTo = 0);
    void decodeRow(TableDefinition& def, const std::uint8_t* row, std::size_t len, std::vector<Value>& out);
    RowLocation placeRow(TableDefinition& def, const std::vector<std::uint8_t>& image, std::uint16_t extraFlags);
    std::string writeLongValue(TableDefinition& def, const WColumn& col, const std::string& bytes,
                               std::size_t roomInRow);
    void readLongValue(const std::uint8_t* p, std::size_t n, std::string& out, const std::string& what);
    void freeLongValue(TableDefinition& def, const WColumn& col, const std::uint8_t* header, std::size_t n);
    std::uint32_t newDataPage(std::uint32_t owner);
    // A data page of the table (or LVAL page of the column) whose every row
    // is deleted leaves the table's maps and goes back to the free pages.
    void releaseIfEmpty(TableDefinition& def, std::uint32_t page);
    void releaseLongValuePageIfEmpty(TableDefinition& def, const WColumn& col, std::uint32_t page);
    std::pair<const std::uint8_t*, std::size_t> rowBytes(std::uint32_t page, std::uint8_t row,
                                                         std::uint16_t* flags = nullptr);
    RowLocation resolve(RowLocation at, std::uint16_t* finalFlags = nullptr);
    std::vector<Value> completeRow(TableDefinition& def, std::span<const Value> in, bool assignAutoNumbers);

    // indexes
    IndexTree& tree(TableDefinition& def, std::size_t realIndex);
    std::string keyOf(const TableDefinition& def, const WRealIndex& idx, const std::vector<Value>& values) const;
    void checkKeys(TableDefinition& def, const std::vector<Value>& values, const std::vector<std::string>& keys,
                   std::optional<RowLocation> self);
    std::vector<std::string> allKeys(const TableDefinition& def, const std::vector<Value>& values) const;
    void indexInsert(TableDefinition& def, std::size_t realIndex, const std::string& key, RowLocation at);
    void indexRemove(TableDefinition& def, std::size_t realIndex, const std::string& key, RowLocation at);
    bool indexContains(TableDefinition& def, std::size_t realIndex, const std::string& key,
                       std::optional<RowLocation> except);
    void flushIndexes();
    // Lays out real index `realIndex` (an empty root) from entries sorted
    // by (key, page, row): full leaves, then each level above, once.  The
    // entries are moved out of `sorted`.
    void loadIndex(TableDefinition& def, std::size_t realIndex, std::vector<IndexEntry>& sorted);
    void createIndexRoot(TableDefinition& def, WRealIndex& idx, RowPointer map);

    // global usage map
    void markPage(std::uint32_t page, bool free);
    void markPageInReference(std::uint32_t page, bool free);
    void globalMapToReference();
    std::uint32_t takeFreePage();

    // What dropping a table does once it is allowed: its MSysObjects and
    // MSysACEs rows go and every page it owns is freed.  No checks.
    void removeTable(const ObjectRow& o);

    void endCall();
    void forgetCaches();

    std::unique_ptr<PageStore> store_;
    int batchDepth_ = 0;
    std::uint64_t callsInBatch_ = 0;
    std::map<std::uint32_t, std::unique_ptr<TableDefinition>> defs_;
    std::unordered_map<std::uint32_t, std::uint32_t> appendPage_;  // TDEF page -> data page rows go to
    std::unordered_map<std::uint64_t, std::uint32_t> lvalPage_;    // (TDEF page, column) -> LVAL page
    std::map<std::pair<std::uint32_t, std::size_t>, std::unique_ptr<IndexTree>> trees_;
    std::vector<std::uint32_t> dirtyDefs_;
    std::optional<std::vector<ObjectRow>> objectsCache_; // MSysObjects as last read
    std::uint32_t queriesTdef_ = 0, acesTdef_ = 0;
    // Page reuse: no page below freeHint_ is free and reusable; pages freed
    // since the last commit wait in freedSinceCommit_.
    std::uint32_t freeHint_ = 0;
    std::unordered_set<std::uint32_t> freedSinceCommit_;
    std::uint32_t lowestFreedSinceCommit_ = UINT32_MAX;
};

} // namespace qm::jet
