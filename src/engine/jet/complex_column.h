// Attachment, multi-value and version-history columns (ACE).
//
// The user row holds a 4-byte key; the entries live in a hidden "flat"
// table (MSysComplexColumns.FlatTableID) with one row per entry:
//   _<column>        Long, the key of the user row the entry belongs to
//   <Table>_<column> Long AutoNumber, the entry's own number (stored order)
//   multi-value:     Value (of the template's type)
//   attachment:      FileName, FileType, FileData (OLE), FileURL, ...
//   version history: a Memo with the text as entered, a Date/Time when
// Attachment FileData is wrapped: u32 flag (0 plain, 1 zlib stream), u32
// length of the unwrapped content; the content starts with u32 header
// length, and the file's bytes follow that header up to the length.
#pragma once

#include "page_source.h"
#include "row_decoder.h"
#include "storage/storage.h"
#include "tdef.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace qm::jet {

storage::ComplexKind complexKindOf(const ColumnInfo& c);

// Unwraps attachment FileData into the file's bytes.  Throws qm::Error with
// `where` (file, table, row, column) in front when the data is damaged.
void unwrapAttachment(std::string_view wrapped, std::string& out, const std::string& where);

// The text a complex value shows in a datasheet: multi-values and
// attachment file names joined by "; ", a version history's latest text.
void complexText(storage::ComplexKind kind, const std::vector<storage::ComplexItem>& items, std::string& out);

// The entries of one complex column, found through its hidden table.
class ComplexColumnReader {
public:
    // Throws qm::Error when the hidden table is not there or lacks the
    // columns its kind needs.
    ComplexColumnReader(PageSource& src, const std::string& table, const ColumnInfo& column);
    ~ComplexColumnReader();
    storage::ComplexKind kind() const { return kind_; }
    // The entries for `key`, in stored order.  Attachments' bytes are read
    // (and inflated) only when withData is set.  userRow names the row of
    // the user table in messages.
    void read(std::int32_t key, bool withData, std::vector<storage::ComplexItem>& out, const std::string& userRow);

private:
    struct Location {
        std::int32_t order;
        std::uint32_t page;
        std::uint16_t row;
    };
    void buildIndex();
    std::string where(const std::string& userRow) const;

    PageSource& src_;
    std::string table_;
    std::string column_;
    storage::ComplexKind kind_;
    std::unique_ptr<TableDef> flat_;
    std::unique_ptr<RowDecoder> decoder_;
    int keyCol_ = -1, orderCol_ = -1, valueCol_ = -1, typeCol_ = -1, dataCol_ = -1, whenCol_ = -1;
    bool indexed_ = false;
    std::unordered_map<std::int32_t, std::vector<Location>> index_;
    std::vector<Value> row_;
};

} // namespace qm::jet
