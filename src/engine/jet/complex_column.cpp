#include "complex_column.h"

#include "data_page.h"
#include "table_scan.h"
#include "tdef.h"

#include <algorithm>
#include <zlib.h>

namespace qm::jet {

namespace {

constexpr std::uint32_t kPlain = 0, kDeflated = 1;

int findColumn(const TableDef& t, std::string_view name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        if (storage::namesEqual(t.columns[i].name, name)) return int(i);
    return -1;
}

std::string hexBytes(std::string_view b, std::size_t limit) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < b.size() && i < limit; ++i) {
        if (i) out += ' ';
        out += digits[static_cast<unsigned char>(b[i]) >> 4];
        out += digits[static_cast<unsigned char>(b[i]) & 15];
    }
    if (b.size() > limit) out += " ...";
    return out;
}

// Inflates a zlib stream of exactly `expected` bytes of output.
void inflateTo(std::string_view in, std::size_t expected, std::string& out, const std::string& where) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw Error(where + ": the attachment cannot be unpacked (zlib failed to start)");
    out.assign(expected, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(expected);
    int rc = inflate(&z, Z_FINISH);
    const std::size_t produced = expected - z.avail_out;
    const std::size_t consumed = in.size() - z.avail_in;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || produced != expected) {
        std::string why = rc == Z_STREAM_END ? "unpacks to " + std::to_string(produced) + " bytes instead of " +
                                                   std::to_string(expected)
                          : rc == Z_BUF_ERROR && z.avail_out == 0 ? "unpacks to more than the " +
                                                                        std::to_string(expected) + " bytes it declares"
                                                                  : "is not a valid deflate stream";
        throw Error(where + ": the attachment data " + why + " (bytes at " + std::to_string(8 + consumed) + ": " +
                    hexBytes(in.substr(std::min(consumed, in.size())), 16) + ")");
    }
}

} // namespace

storage::ComplexKind complexKindOf(const ColumnInfo& c) {
    if (c.type != kComplex || c.complexFlatTable == 0) return storage::ComplexKind::None;
    if (c.complexKind == "Attachment") return storage::ComplexKind::Attachment;
    if (c.complexKind == "Version history") return storage::ComplexKind::VersionHistory;
    if (c.complexKind.rfind("Multi-value", 0) == 0) return storage::ComplexKind::MultiValue;
    return storage::ComplexKind::None;
}

void unwrapAttachment(std::string_view wrapped, std::string& out, const std::string& where) {
    out.clear();
    if (wrapped.empty()) return; // an attachment without data
    if (wrapped.size() < 8)
        throw Error(where + ": the attachment data is cut short (" + std::to_string(wrapped.size()) + " bytes: " +
                    hexBytes(wrapped, 8) + ")");
    const auto* p = reinterpret_cast<const std::uint8_t*>(wrapped.data());
    const std::uint32_t flag = u32(p), length = u32(p + 4);
    std::string_view body = wrapped.substr(8);
    std::string content;
    if (flag == kDeflated) {
        // zlib packs at most about 1032:1; a larger claim is damage, not data.
        if (length > body.size() * 1100 + 64)
            throw Error(where + ": the attachment data claims " + std::to_string(length) + " bytes from only " +
                        std::to_string(body.size()) + " packed ones");
        inflateTo(body, length, content, where);
    } else if (flag == kPlain) {
        if (length > body.size())
            throw Error(where + ": the attachment data claims " + std::to_string(length) + " bytes but holds " +
                        std::to_string(body.size()));
        content.assign(body.substr(0, length));
    } else {
        throw Error(where + ": the attachment data starts with the unknown mark " + hexBytes(wrapped.substr(0, 4), 4));
    }
    if (content.size() < 4 ||
        u32(reinterpret_cast<const std::uint8_t*>(content.data())) > content.size() ||
        u32(reinterpret_cast<const std::uint8_t*>(content.data())) < 4)
        throw Error(where + ": the attachment's header does not fit its " + std::to_string(content.size()) +
                    " bytes (" + hexBytes(content, 8) + ")");
    const std::uint32_t header = u32(reinterpret_cast<const std::uint8_t*>(content.data()));
    out.assign(content, header, std::string::npos);
}

void complexText(storage::ComplexKind kind, const std::vector<storage::ComplexItem>& items, std::string& out) {
    out.clear();
    if (kind == storage::ComplexKind::VersionHistory) {
        if (!items.empty() && !items.back().value.isNull()) out = items.back().value.toString();
        return;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += "; ";
        if (!items[i].value.isNull()) out += items[i].value.toString();
    }
}

ComplexColumnReader::ComplexColumnReader(PageSource& src, const std::string& table, const ColumnInfo& column)
    : src_(src), table_(table), column_(column.name), kind_(complexKindOf(column)) {
    const std::string what = src.path() + ": table " + table + ", column " + column.name;
    if (kind_ == storage::ComplexKind::None)
        throw Error(what + ": the kind of this attachment or multi-value column is not recorded");
    flat_ = std::make_unique<TableDef>(readTableDef(src, column.complexFlatTable, column.complexFlatName));
    const TableDef& t = *flat_;
    // The key is the Long named after the column; the entry's own number
    // is the AutoNumber.
    keyCol_ = findColumn(t, "_" + column.name);
    // A column renamed after it was made keeps its hidden table's names:
    // then the key is the Long that starts with "_" and is no AutoNumber.
    for (std::size_t i = 0; i < t.columns.size() && keyCol_ < 0; ++i) {
        const ColumnInfo& c = t.columns[i];
        if (c.type == kLong && !(c.flags & kColAutoNumber) && c.name.rfind('_', 0) == 0) keyCol_ = int(i);
    }
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnInfo& c = t.columns[i];
        if (c.type == kLong && (c.flags & kColAutoNumber) && int(i) != keyCol_ && orderCol_ < 0) orderCol_ = int(i);
    }
    switch (kind_) {
    case storage::ComplexKind::MultiValue: valueCol_ = findColumn(t, "Value"); break;
    case storage::ComplexKind::Attachment:
        valueCol_ = findColumn(t, "FileName");
        typeCol_ = findColumn(t, "FileType");
        dataCol_ = findColumn(t, "FileData");
        if (typeCol_ < 0 || dataCol_ < 0) valueCol_ = -1;
        break;
    case storage::ComplexKind::VersionHistory:
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const ColumnInfo& c = t.columns[i];
            if (int(i) == keyCol_) continue;
            if ((c.type == kMemo || c.type == kText) && valueCol_ < 0) valueCol_ = int(i);
            if (c.type == kDateTime && whenCol_ < 0) whenCol_ = int(i);
        }
        break;
    case storage::ComplexKind::None: break;
    }
    if (keyCol_ < 0 || t.columns[std::size_t(keyCol_)].type != kLong || valueCol_ < 0)
        throw Error(what + ": its hidden table " + t.name + " does not have the columns such a column needs");
    decoder_ = std::make_unique<RowDecoder>(src, t);
}

ComplexColumnReader::~ComplexColumnReader() = default;

std::string ComplexColumnReader::where(const std::string& userRow) const {
    return src_.path() + ": table " + table_ + ", " + userRow + ", column " + column_;
}

void ComplexColumnReader::buildIndex() {
    // One pass over the hidden table, decoding only key and number: the
    // entries of each key, in stored order.
    std::vector<bool> wanted(flat_->columns.size(), false);
    wanted[std::size_t(keyCol_)] = true;
    if (orderCol_ >= 0) wanted[std::size_t(orderCol_)] = true;
    decoder_->setWanted(wanted);
    TableScanner scan(src_, *flat_);
    std::int32_t n = 0;
    while (scan.next()) {
        decoder_->decode(scan.row(), scan.rowLength(), row_, scan.page(), scan.rowNumber());
        const Value& key = row_[std::size_t(keyCol_)];
        if (key.isNull()) continue;
        std::int32_t order = n++;
        if (orderCol_ >= 0 && !row_[std::size_t(orderCol_)].isNull())
            order = std::int32_t(row_[std::size_t(orderCol_)].rawInt());
        index_[std::int32_t(key.rawInt())].push_back({order, scan.page(), std::uint16_t(scan.rowNumber())});
    }
    for (auto& [key, list] : index_)
        std::stable_sort(list.begin(), list.end(), [](const Location& a, const Location& b) { return a.order < b.order; });
    indexed_ = true;
}

void ComplexColumnReader::read(std::int32_t key, bool withData, std::vector<storage::ComplexItem>& out,
                               const std::string& userRow) {
    out.clear();
    if (!indexed_) buildIndex();
    auto it = index_.find(key);
    if (it == index_.end()) return;
    std::vector<bool> wanted(flat_->columns.size(), false);
    for (int c : {valueCol_, typeCol_, whenCol_}) if (c >= 0) wanted[std::size_t(c)] = true;
    if (withData && dataCol_ >= 0) wanted[std::size_t(dataCol_)] = true;
    decoder_->setWanted(wanted);
    const std::string what = "table " + flat_->name;
    out.reserve(it->second.size());
    for (const Location& at : it->second) {
        PageRef page = src_.page(at.page);
        const RowSlot s = rowSlot(src_, *page, at.row, what);
        decoder_->decode(page->data() + s.start, s.size(), row_, at.page, at.row);
        storage::ComplexItem item;
        item.value = std::move(row_[std::size_t(valueCol_)]);
        if (typeCol_ >= 0 && row_[std::size_t(typeCol_)].type() == VarType::String)
            item.fileType = row_[std::size_t(typeCol_)].rawString();
        if (whenCol_ >= 0) item.modified = row_[std::size_t(whenCol_)];
        if (withData && dataCol_ >= 0 && !row_[std::size_t(dataCol_)].isNull())
            unwrapAttachment(row_[std::size_t(dataCol_)].rawString(), item.fileData,
                             where(userRow) + " (attachment " + std::to_string(out.size() + 1) + ")");
        out.push_back(std::move(item));
    }
}

} // namespace qm::jet
