#include "table_scan.h"

namespace qm::jet {

namespace {
constexpr int kMaxPointerHops = 64;
}

TableScanner::TableScanner(PageSource& src, const TableDef& table)
    : src_(src), table_(table), map_(src, table.ownedPages, "table " + table.name), what_("table " + table.name) {}

bool TableScanner::next() {
    for (;;) {
        if (!page_ || nextSlot_ >= slots_) {
            std::uint32_t pg;
            page_.reset();
            if (!map_.next(pg)) return false;
            PageRef p = src_.page(pg);
            if (p->data()[0] != kPageData || pageOwner(*p) != table_.tdefPage) continue;
            page_ = std::move(p);
            slots_ = slotCount(src_, *page_, what_);
            nextSlot_ = 0;
        }
        const unsigned slot = nextSlot_++;
        RowSlot s = rowSlot(src_, *page_, slot, what_);
        if (s.deleted()) continue;
        rowId_ = (std::uint64_t(page_->number) << 8) | slot;
        PageRef at = page_;
        unsigned atRow = slot;
        // The home slot points on when flagged 0x4000 only; a target that
        // moved again carries 0x4000 beside its 0x8000 target mark.
        for (int hop = 0; hop == 0 ? s.pointer() : (s.flags & kRowPointer) != 0; ++hop) {
            if (hop == kMaxPointerHops)
                throw Error(src_.path() + ": " + what_ + ": row " + std::to_string(slot) + " of page " +
                            std::to_string(page_->number) + " moved more than " + std::to_string(kMaxPointerHops) +
                            " times (the row pointers form a loop)");
            if (s.size() < 4)
                throw Error(src_.path() + ": " + what_ + ": row " + std::to_string(atRow) + " of page " +
                            std::to_string(at->number) + " is too short to point to where the row moved");
            const RowPointer to = RowPointer::decode(at->data() + s.start);
            PageRef target = src_.page(to.page);
            if (target->data()[0] != kPageData || pageOwner(*target) != table_.tdefPage)
                throw Error(src_.path() + ": " + what_ + ": row " + std::to_string(atRow) + " of page " +
                            std::to_string(at->number) + " points to page " + std::to_string(to.page) +
                            ", which does not belong to the table");
            s = rowSlot(src_, *target, to.row, what_);
            at = std::move(target);
            atRow = to.row;
        }
        dataPage_ = std::move(at);
        rowNo_ = atRow;
        row_ = dataPage_->data() + s.start;
        rowLen_ = s.size();
        return true;
    }
}

JetCursor::JetCursor(PageSource& src, std::shared_ptr<const TableDef> table, std::vector<storage::ColumnDef> columns)
    : table_(std::move(table)), columns_(std::move(columns)), path_(src.path()), scanner_(src, *table_),
      decoder_(src, *table_) {
    values_.resize(table_->columns.size());
    complex_.resize(table_->columns.size());
    complexKeys_.assign(table_->columns.size(), 0);
    complexDone_.assign(table_->columns.size(), true);
    complexHasKey_.assign(table_->columns.size(), false);
    for (std::size_t i = 0; i < table_->columns.size(); ++i)
        if (complexKindOf(table_->columns[i]) != storage::ComplexKind::None)
            complex_[i] = std::make_unique<ComplexColumnReader>(src, table_->name, table_->columns[i]);
}

std::string JetCursor::rowName() const {
    return "row " + std::to_string(scanner_.rowNumber()) + " of page " + std::to_string(scanner_.page());
}

bool JetCursor::next() {
    onRow_ = scanner_.next();
    if (!onRow_) return false;
    decoder_.decode(scanner_.row(), scanner_.rowLength(), values_, scanner_.page(), scanner_.rowNumber());
    for (std::size_t i = 0; i < complex_.size(); ++i) {
        if (!complex_[i]) continue;
        Value& v = values_[i];
        complexHasKey_[i] = v.type() == VarType::Long;
        complexDone_[i] = !complexHasKey_[i];
        if (complexDone_[i]) {
            v.setNull();
            continue;
        }
        complexKeys_[i] = std::int32_t(v.rawInt());
        v.setNull(); // filled in when asked for
    }
    return true;
}

const Value& JetCursor::value(std::size_t column) {
    if (!onRow_) throw Error(path_ + ": table " + table_->name + ": there is no current row");
    if (column >= values_.size())
        throw Error(path_ + ": table " + table_->name + ": there is no column " + std::to_string(column) +
                    " (the table has " + std::to_string(values_.size()) + ")");
    if (!complexDone_[column]) {
        // The entries' text, without the attachments' bytes.
        complex_[column]->read(complexKeys_[column], false, items_, rowName());
        complexDone_[column] = true;
        if (!items_.empty()) complexText(complex_[column]->kind(), items_, values_[column].mutableString(VarType::String));
    }
    return values_[column];
}

bool JetCursor::complexItems(std::size_t column, std::vector<storage::ComplexItem>& out) {
    out.clear();
    if (column >= complex_.size() || !complex_[column]) return false;
    if (!onRow_) throw Error(path_ + ": table " + table_->name + ": there is no current row");
    if (!complexHasKey_[column]) return true;
    complex_[column]->read(complexKeys_[column], true, out, rowName());
    return true;
}

} // namespace qm::jet
