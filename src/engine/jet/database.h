// The Access database as the layers above see it (storage::Database):
// catalog, columns, streaming scans, saved-query SQL.  Read-only for now:
// the writing methods refuse.
#pragma once

#include "catalog.h"
#include "page_source.h"
#include "storage/storage.h"
#include "tdef.h"

#include <map>
#include <memory>
#include <mutex>

namespace qm::jet {

class JetDatabase : public storage::Database {
public:
    JetDatabase(const std::string& path, const storage::OpenOptions& options);
    // Reads through the uncommitted pages of a writer of this process.
    JetDatabase(const std::string& path, const storage::OpenOptions& options,
                std::shared_ptr<const PageOverlay> overlay);

    const std::string& path() const override { return src_->path(); }
    std::vector<storage::CatalogEntry> catalog() override;
    std::optional<storage::CatalogEntry> find(std::string_view name) override;
    std::vector<storage::ColumnDef> columns(std::string_view table) override;
    std::unique_ptr<storage::RowCursor> scan(std::string_view table) override;
    std::uint64_t rowCount(std::string_view table) override;
    std::string querySql(std::string_view name) override;

    void createTable(const storage::TableSpec& spec) override;
    void dropTable(std::string_view name) override;
    void renameObject(std::string_view oldName, std::string_view newName) override;
    void append(std::string_view table, std::span<const Value> row) override;
    void update(std::string_view table, std::uint64_t rowId, std::span<const Value> row) override;
    void remove(std::string_view table, std::uint64_t rowId) override;
    void createView(std::string_view name, std::string_view sql) override;
    void dropView(std::string_view name) override;
    // Defined beside the writer (create_database.cpp), which reads the same definitions.
    std::vector<storage::IndexSpec> indexes(std::string_view table) override;

    // For the engine's own tools and tests.
    PageSource& pages() { return *src_; }
    const Format& format() const { return src_->format(); }
    std::shared_ptr<const TableDef> tableDef(std::string_view table);

private:
    struct Entry {
        CatalogObject object;
        storage::CatalogEntry entry;
    };
    const Entry* lookup(std::string_view name) const;
    const Entry& requireTable(std::string_view name, const char* purpose);
    [[noreturn]] void readOnly() const;

    std::unique_ptr<PageSource> src_;
    std::vector<Entry> entries_; // in catalog order
    std::uint32_t queriesTdef_ = 0;
    std::uint32_t complexColumnsTdef_ = 0;
    std::map<std::int32_t, std::string> objectNames_; // every object's Id -> name
    std::map<std::uint32_t, std::shared_ptr<const TableDef>> defs_;
};

} // namespace qm::jet
