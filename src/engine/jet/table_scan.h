// Walking the live rows of a table: every data page of its owned-pages usage
// map whose owner field is the table's TDEF page, every slot not flagged
// deleted; a slot flagged 0x4000 holds a 4-byte row pointer to where the row
// moved (followed, possibly several times).
#pragma once

#include "complex_column.h"
#include "data_page.h"
#include "row_decoder.h"
#include "storage/storage.h"
#include "tdef.h"
#include "usage_map.h"

#include <memory>

namespace qm::jet {

class TableScanner {
public:
    TableScanner(PageSource& src, const TableDef& table);
    // The next live row; the bytes stay valid until the next call.
    bool next();
    const std::uint8_t* row() const { return row_; }
    std::size_t rowLength() const { return rowLen_; }
    std::uint32_t page() const { return dataPage_ ? dataPage_->number : 0; }
    unsigned rowNumber() const { return rowNo_; }
    // (page << 8) | row of the row's home slot.
    std::uint64_t rowId() const { return rowId_; }

private:
    PageSource& src_;
    const TableDef& table_;
    UsageMap map_;
    PageRef page_;     // page whose slots are being walked
    PageRef dataPage_; // page holding the current row's bytes
    unsigned slots_ = 0;
    unsigned nextSlot_ = 0;
    const std::uint8_t* row_ = nullptr;
    std::size_t rowLen_ = 0;
    unsigned rowNo_ = 0;
    std::uint64_t rowId_ = 0;
    std::string what_;
};

// The cursor handed to the layers above.
class JetCursor : public storage::RowCursor {
public:
    JetCursor(PageSource& src, std::shared_ptr<const TableDef> table, std::vector<storage::ColumnDef> columns);
    const std::vector<storage::ColumnDef>& columns() const override { return columns_; }
    bool next() override;
    const Value& value(std::size_t column) override;
    std::uint64_t rowId() const override { return scanner_.rowId(); }
    void setWanted(const std::vector<bool>& wanted) { decoder_.setWanted(wanted); }
    bool complexItems(std::size_t column, std::vector<storage::ComplexItem>& out) override;

private:
    std::string rowName() const;

    std::shared_ptr<const TableDef> table_;
    std::vector<storage::ColumnDef> columns_;
    std::string path_;
    TableScanner scanner_;
    RowDecoder decoder_;
    std::vector<Value> values_;
    bool onRow_ = false;
    // Complex columns: a reader each (null for other columns), the row's
    // keys, and whether the column's text has been filled in for this row.
    std::vector<std::unique_ptr<ComplexColumnReader>> complex_;
    std::vector<std::int32_t> complexKeys_;
    std::vector<bool> complexDone_;
    std::vector<bool> complexHasKey_;
    std::vector<storage::ComplexItem> items_;
};

} // namespace qm::jet
