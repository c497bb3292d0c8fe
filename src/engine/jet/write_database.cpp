// Tables, the catalog and the operations of the Access writer.
#include "write_database.h"
#include "write_properties.h"

#include "index_keys.h"
#include "index_tree.h"
#include "properties.h"
#include "text.h"
#include "rc4.h"
#include "storage/storage.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <set>

namespace qm::jet {

namespace {

constexpr std::int32_t kTables = 0x0F000001;
constexpr std::int32_t kMSysDbId = 0x10000000;
constexpr std::uint32_t kSystemObject = 0x80000000u;
constexpr std::size_t kMaxColumns = 255;
constexpr std::size_t kMaxIndexes = 32;
// Decoded index pages kept in memory within a batch (about 4 KB each).
constexpr std::size_t kMaxHeldIndexPages = 60000;

// MSysObjects columns by number.
enum ObjectColumn { kId = 0, kParentId = 1, kName = 2, kType = 3, kDateCreate = 4, kDateUpdate = 5, kOwner = 6, kFlags = 7 };
// MSysACEs columns by number.
enum AceColumn { kAceObjectId = 0, kAceSid = 1, kAceAcm = 2, kAceInheritable = 3 };

bool nameCharsValid(const std::string& name, std::string& why) {
    if (name.empty()) {
        why = "the name is empty";
        return false;
    }
    if (utf16Length(name) > 64) {
        why = "the name is longer than 64 characters";
        return false;
    }
    if (name[0] == ' ') {
        why = "the name starts with a space";
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20) {
            why = "the name contains a control character";
            return false;
        }
        if (c == '.' || c == '!' || c == '`' || c == '[' || c == ']') {
            why = std::string("the name contains '") + char(c) + "', which Access does not allow in names";
            return false;
        }
    }
    return true;
}

std::uint16_t fixedSizeOf(std::uint8_t type) {
    switch (type) {
    case kBoolean: return 1;
    case kByte: return 1;
    case kInteger: return 2;
    case kLong: return 4;
    case kCurrency: return 8;
    case kSingle: return 4;
    case kDouble: return 8;
    case kDateTime: return 8;
    case kGuid: return 16;
    case kBigInt: return 8;
    case kComplex: return 4;
    case kExtDateTime: return 42;
    default: return 0;
    }
}

} // namespace

double nowAsAccessDate() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return date::fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec);
}

JetWriter::JetWriter(std::unique_ptr<PageStore> store) : store_(std::move(store)) {
    if (store_->format().jet3)
        throw Error(store_->path() + ": Access 97 (Jet 3) databases are read-only in this program");
}



// ---- pages ----

// The page usage map on page 1 (row 0; a set bit = a free page).  Access
// keeps it inline and lengthens the row as the file grows; when page 1 has
// no room left the map becomes a reference map whose bitmap pages (type 5)
// each cover 32,736 pages.
void JetWriter::markPage(std::uint32_t page, bool free) {
    std::uint8_t* p = store_->write(1);
    const std::size_t hdr = format().dataHeader;
    const std::uint16_t slots = u16(p + hdr - 2);
    if (p[0] != kPageData || slots == 0)
        throw Error(store_->path() + ": the page usage map (page 1) is damaged");
    std::size_t start = u16(p + hdr) & 0x1FFF;
    const std::size_t end = store_->pageSize();
    if (p[start] == 0x01) {
        markPageInReference(page, free);
        return;
    }
    if (p[start] != 0x00) throw Error(store_->path() + ": the page usage map (page 1) is of an unknown kind");
    std::uint32_t mapStart = u32(p + start + 1);
    if (page < mapStart) return; // pages before the window count as used
    if (page - mapStart >= (end - start - 5) * 8) {
        if (free) return; // pages beyond the window already count as free
        const std::size_t needBytes = (page - mapStart) / 8 + 1;
        std::size_t grow = needBytes - (end - start - 5);
        grow = (grow + 63) / 64 * 64;
        const std::size_t lowest = u16(p + hdr + 2 * (slots - 1)) & 0x1FFF;
        const std::size_t tableEnd = hdr + 2 * slots;
        if (lowest < tableEnd + grow) {
            globalMapToReference();
            markPageInReference(page, free);
            return;
        }
        // Move every row down by `grow` bytes; row 0 gains the room at its
        // end, which stands for pages not yet in the file (free).
        std::memmove(p + lowest - grow, p + lowest, end - lowest);
        std::memset(p + end - grow, 0xFF, grow);
        for (std::uint16_t r = 0; r < slots; ++r) {
            const std::uint16_t e = u16(p + hdr + 2 * r);
            put16(p + hdr + 2 * r, std::uint16_t(((e & 0x1FFF) - grow) | (e & 0xE000)));
        }
        put16(p + 2, std::uint16_t(u16(p + 2) - grow));
        start -= grow;
        mapStart = u32(p + start + 1);
    }
    const std::uint32_t bit = page - mapStart;
    if (free) p[start + 5 + bit / 8] |= std::uint8_t(1u << (bit % 8));
    else p[start + 5 + bit / 8] &= std::uint8_t(~(1u << (bit % 8)));
}

void JetWriter::markPageInReference(std::uint32_t page, bool free) {
    const std::size_t hdr = format().dataHeader;
    const std::uint32_t perPage = (store_->pageSize() - 4) * 8;
    const std::uint32_t slot = page / perPage;
    std::uint8_t* p = store_->write(1);
    const std::size_t start = u16(p + hdr) & 0x1FFF;
    const std::size_t end = store_->pageSize();
    if (1 + 4 * (std::size_t(slot) + 1) > end - start)
        throw Error(store_->path() + ": the database would grow beyond what its page usage map can describe");
    std::uint32_t bitmap = u32(p + start + 1 + 4 * slot);
    if (bitmap == 0) {
        bitmap = store_->append();
        std::uint8_t* b = store_->write(bitmap);
        std::memset(b, 0xFF, store_->pageSize()); // every page of the range free ...
        b[0] = kPageUsageMap;
        b[1] = 0x01;
        b[2] = b[3] = 0;
        p = store_->write(1);
        put32(p + start + 1 + 4 * slot, bitmap);
        markPageInReference(bitmap, false); // ... but this one
    }
    std::uint8_t* b = store_->write(bitmap);
    const std::uint32_t bit = page - slot * perPage;
    if (free) b[4 + bit / 8] |= std::uint8_t(1u << (bit % 8));
    else b[4 + bit / 8] &= std::uint8_t(~(1u << (bit % 8)));
}

void JetWriter::globalMapToReference() {
    const std::size_t hdr = format().dataHeader;
    std::uint8_t* p = store_->write(1);
    const std::size_t start = u16(p + hdr) & 0x1FFF;
    const std::size_t end = store_->pageSize();
    const std::uint32_t mapStart = u32(p + start + 1);
    const std::vector<std::uint8_t> bits(p + start + 5, p + end);
    std::memset(p + start, 0, end - start);
    p[start] = 0x01;
    const std::uint32_t pages = store_->pageCount();
    for (std::uint32_t pg = 0; pg < pages; ++pg) {
        bool isFree = false;
        if (pg >= mapStart && pg - mapStart < bits.size() * 8) {
            const std::uint32_t bit = pg - mapStart;
            isFree = bits[bit / 8] & (1u << (bit % 8));
        }
        markPageInReference(pg, isFree);
    }
}

// Reuse of free pages.  A new page is the lowest page inside the file that
// the global map marks free, and only when there is none a page appended at
// the end.  freeHint_ says where the search starts: every page below it is
// in use or was freed by the work not yet committed, so appending to a file
// without free pages never searches the map again after the first time.
//
// A page released by uncommitted work is not handed out before the commit.
// Until then the caller may still hold row ids it read before (an UPDATE or
// DELETE collects them, then changes row after row), and a row id of a row
// deleted in this batch must not come to name a row added in the same
// batch; decoded index pages and definitions of the batch also stay free of
// any page that changed owner under them.  A reader opened beside this
// writer only ever starts after a commit and only follows pages its tables
// used at that moment, which are not free; pages are released only by
// dropping a table or by deleting or changing its rows, and the callers
// finish a scan of a table before they change it.  The journal needs
// nothing special: a reused page existed before the operation, so its
// bytes as committed go to the journal before it is zeroed.
std::uint32_t JetWriter::takeFreePage() {
    const std::uint32_t limit = store_->pageCount();
    const std::uint32_t from = std::max<std::uint32_t>(freeHint_, 2);
    freeHint_ = limit;
    if (from >= limit) return 0;
    const std::uint8_t* p = store_->read(1);
    const std::size_t hdr = format().dataHeader;
    if (p[0] != kPageData || u16(p + hdr - 2) == 0) return 0;
    const std::size_t start = u16(p + hdr) & 0x1FFF;
    const std::size_t end = store_->pageSize();
    if (start + 5 > end) return 0;
    // First set bit at or after page `pg` in a bitmap covering pages
    // [base, base + 8 * bytes), below `stop`, not freed since the commit.
    auto search = [&](const std::uint8_t* bits, std::size_t bytes, std::uint32_t base, std::uint32_t pg,
                      std::uint32_t stop) -> std::uint32_t {
        stop = std::uint32_t(std::min<std::uint64_t>(stop, std::uint64_t(base) + 8 * bytes));
        while (pg < stop) {
            const std::uint32_t bit = pg - base;
            const std::uint8_t byte = std::uint8_t(bits[bit / 8] >> (bit % 8));
            if (byte == 0) {
                pg += 8 - bit % 8;
                continue;
            }
            if ((byte & 1) && !freedSinceCommit_.count(pg)) return pg;
            ++pg;
        }
        return 0;
    };
    std::uint32_t found = 0;
    if (p[start] == 0x00) {
        // Pages before the window count as used; pages after it are not in the file.
        const std::uint32_t mapStart = u32(p + start + 1);
        found = search(p + start + 5, end - start - 5, mapStart, std::max(from, mapStart), limit);
    } else if (p[start] == 0x01) {
        const std::uint32_t perPage = (store_->pageSize() - 4) * 8;
        for (std::uint32_t slot = from / perPage; !found && std::uint64_t(slot) * perPage < limit; ++slot) {
            if (start + 1 + 4 * (std::size_t(slot) + 1) > end) break;
            const std::uint32_t bitmap = u32(store_->read(1) + start + 1 + 4 * slot);
            if (bitmap == 0 || bitmap >= limit) continue; // no bitmap: nothing known free there
            const std::uint8_t* b = store_->read(bitmap);
            if (b[0] != kPageUsageMap) continue;
            found = search(b + 4, store_->pageSize() - 4, slot * perPage, std::max(from, slot * perPage), limit);
        }
    }
    if (found) freeHint_ = found + 1;
    return found;
}

std::uint32_t JetWriter::allocatePage() {
    if (freeHint_ < store_->pageCount()) {
        if (const std::uint32_t n = takeFreePage()) {
            // Nothing of the page's former owner stays behind.
            std::memset(store_->write(n), 0, store_->pageSize());
            store_->markUnreachable(n);
            markPage(n, false);
            return n;
        }
    }
    const std::uint32_t n = store_->append();
    markPage(n, false);
    freeHint_ = store_->pageCount();
    return n;
}

void JetWriter::releasePage(std::uint32_t page) {
    if (page < 2 || page >= store_->pageCount()) return;
    markPage(page, true);
    freedSinceCommit_.insert(page);
    lowestFreedSinceCommit_ = std::min(lowestFreedSinceCommit_, page);
}

// ---- definitions ----

TableDefinition& JetWriter::definition(std::uint32_t tdefPage, const std::string& name) {
    auto it = defs_.find(tdefPage);
    if (it != defs_.end()) return *it->second;
    auto def = std::make_unique<TableDefinition>(readDefinition(*store_, tdefPage, name));
    TableDefinition& ref = *def;
    defs_[tdefPage] = std::move(def);
    return ref;
}

void JetWriter::saveDefinition(TableDefinition& def) {
    const std::vector<std::uint8_t> s = serializeDefinition(def, format());
    const std::size_t ps = store_->pageSize();
    std::vector<std::uint32_t> pages;
    std::size_t pos = 0;
    std::size_t k = 0;
    while (pos < s.size()) {
        std::uint32_t page;
        if (k < def.chain.size()) page = def.chain[k];
        else page = allocatePage();
        pages.push_back(page);
        pos += k == 0 ? ps : ps - 8;
        ++k;
    }
    for (std::size_t i = pages.size(); i < def.chain.size(); ++i) releasePage(def.chain[i]);
    def.chain = pages;
    pos = 0;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::uint8_t* p = store_->write(pages[i]);
        std::memset(p, 0, ps);
        if (i == 0) {
            const std::size_t n = std::min(ps, s.size());
            std::memcpy(p, s.data(), n);
            pos = n;
        } else {
            const std::size_t n = std::min(ps - 8, s.size() - pos);
            std::memcpy(p + 8, s.data() + pos, n);
            pos += n;
        }
        p[0] = kPageTdef;
        p[1] = 0x01;
        put32(p + 4, i + 1 < pages.size() ? pages[i + 1] : 0);
        std::uint16_t free = 0;
        if (pages.size() == 1) free = std::uint16_t(ps - s.size() - 8);
        else if (i + 1 == pages.size()) free = std::uint16_t(ps - (s.size() - (ps + (pages.size() - 2) * (ps - 8))) - 8);
        put16(p + 2, free);
    }
}

namespace {

// Places a 69-byte usage-map row on a holder page, starting a new one when full.
RowPointer addMapRow(JetWriter& w, std::uint32_t& holder, bool reference) {
    PageStore& store = w.store();
    const std::size_t len = store.format().usageMapRow;
    std::vector<std::uint8_t> row(len, 0);
    row[0] = reference ? 0x01 : 0x00;
    const std::size_t hdr = store.format().dataHeader;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (holder == 0) {
            holder = w.allocatePage();
            std::uint8_t* p = store.write(holder);
            std::memset(p, 0, store.pageSize());
            p[0] = kPageData;
            p[1] = 0x01;
            put16(p + 2, std::uint16_t(store.pageSize() - hdr));
        }
        const std::uint8_t* r = store.read(holder);
        const std::uint16_t slots = u16(r + hdr - 2);
        const std::size_t top = slots == 0 ? store.pageSize() : (u16(r + hdr + 2 * (slots - 1)) & 0x1FFF);
        if (slots < 255 && top >= len + hdr + 2 * (slots + 1)) {
            std::uint8_t* p = store.write(holder);
            const std::size_t start = top - len;
            std::memcpy(p + start, row.data(), len);
            put16(p + hdr + 2 * slots, std::uint16_t(start));
            put16(p + hdr - 2, std::uint16_t(slots + 1));
            put16(p + 2, std::uint16_t(start - (hdr + 2 * (slots + 1))));
            return RowPointer{holder, std::uint8_t(slots)};
        }
        holder = 0;
    }
    throw Error(store.path() + ": could not place a usage map row");
}

// The physical index of `def` with the same columns, order and flags as
// `real` (logical indexes that agree share one tree), or the count when none.
std::size_t sharedRealIndex(const TableDefinition& def, const WRealIndex& real) {
    std::size_t match = def.realIndexes.size();
    for (std::size_t k = 0; k < def.realIndexes.size(); ++k) {
        const WRealIndex& o = def.realIndexes[k];
        if (o.flags() != real.flags() || o.columns.size() != real.columns.size()) continue;
        bool same = true;
        for (std::size_t c = 0; c < o.columns.size(); ++c)
            same = same && o.columns[c].number == real.columns[c].number &&
                   o.columns[c].ascending == real.columns[c].ascending;
        if (same) match = k;
    }
    return match;
}

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::uint32_t JetWriter::buildTable(const TableRequest& req, std::uint32_t tdefPage) {
    const std::string& path = store_->path();
    std::string why;
    if (!nameCharsValid(req.name, why)) throw Error(path + ": cannot create table '" + req.name + "': " + why);
    if (req.columns.empty()) throw Error(path + ": cannot create table " + req.name + ": it has no columns");
    if (req.columns.size() > kMaxColumns)
        throw Error(path + ": cannot create table " + req.name + ": more than 255 columns");
    std::set<std::string> seen;
    for (const ColumnRequest& c : req.columns) {
        if (!nameCharsValid(c.name, why))
            throw Error(path + ": cannot create table " + req.name + ": column '" + c.name + "': " + why);
        if (!seen.insert(lower(c.name)).second)
            throw Error(path + ": cannot create table " + req.name + ": the column name " + c.name +
                        " is used twice");
        const bool known = fixedSizeOf(c.type) != 0 || c.type == kText || c.type == kMemo || c.type == kOle ||
                           c.type == kBinary || c.type == kNumeric;
        if (!known || c.type == kComplex || c.type == kExtDateTime ||
            (c.type == kBigInt && format().version < Version::Ace16))
            throw Error(path + ": cannot create table " + req.name + ": column " + c.name +
                        " has a type this database format does not store");
        if (c.type == kText && (c.length < 0 || c.length > 255))
            throw Error(path + ": cannot create table " + req.name + ": column " + c.name +
                        ": a Text field holds 1 to 255 characters");
        if (c.type == kBinary && (c.length < 0 || c.length > 510))
            throw Error(path + ": cannot create table " + req.name + ": column " + c.name +
                        ": a Binary field holds 1 to 510 bytes");
        if (c.type == kNumeric && (c.precision < 1 || c.precision > 28 || c.scale < 0 || c.scale > c.precision))
            throw Error(path + ": cannot create table " + req.name + ": column " + c.name +
                        ": a Decimal field has a precision of 1 to 28 and a scale between 0 and the precision");
        if (c.autoNumber && c.type != kLong)
            throw Error(path + ": cannot create table " + req.name + ": column " + c.name +
                        ": only Long Integer fields can be AutoNumbers");
    }
    if (req.indexes.size() > kMaxIndexes)
        throw Error(path + ": cannot create table " + req.name + ": more than 32 indexes");
    {
        std::set<std::string> names;
        int primaries = 0;
        for (std::size_t li = 0; li < req.indexes.size(); ++li) {
            const IndexRequest& ir = req.indexes[li];
            const std::string iname =
                ir.name.empty() ? (ir.primaryKey ? "PrimaryKey" : "Index" + std::to_string(li + 1)) : ir.name;
            if (!nameCharsValid(iname, why))
                throw Error(path + ": cannot create table " + req.name + ": index '" + iname + "': " + why);
            if (!names.insert(lower(iname)).second)
                throw Error(path + ": cannot create table " + req.name + ": the index name " + iname +
                            " is used twice");
            if (ir.primaryKey && ++primaries > 1)
                throw Error(path + ": cannot create table " + req.name + ": a table has only one primary key");
            if (ir.columns.empty() || ir.columns.size() > 10)
                throw Error(path + ": cannot create table " + req.name + ": index " + iname + " needs 1 to 10 columns");
            for (const auto& ic : ir.columns) {
                const ColumnRequest* found = nullptr;
                for (const ColumnRequest& c : req.columns)
                    if (storage::namesEqual(c.name, ic.first)) found = &c;
                if (!found)
                    throw Error(path + ": cannot create table " + req.name + ": index " + iname + " names column " +
                                ic.first + ", which the table does not have");
                if (found->type == kOle)
                    throw Error(path + ": cannot create table " + req.name + ": index " + iname +
                                ": OLE Object columns cannot be indexed");
            }
        }
    }

    // Text columns take the database's sort order (header 0x6E: LCID, 0, version).
    std::uint8_t sortVersion = 0;
    {
        std::uint8_t masked[128];
        std::memcpy(masked, store_->read(0) + 0x18, 128);
        static const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
        Rc4 rc4(key, 4);
        rc4.apply(masked, 128);
        sortVersion = masked[0x6E - 0x18 + 3];
    }

    TableDefinition def;
    def.name = req.name;
    def.page = tdefPage ? tdefPage : allocatePage();
    def.chain = {def.page};
    if (tdefPage) {
        std::uint8_t* p = store_->write(tdefPage);
        std::memset(p, 0, store_->pageSize());
    }
    std::uint32_t holder = 0;
    const RowPointer owned = addMapRow(*this, holder, false);
    const RowPointer freeMap = addMapRow(*this, holder, false);

    // Columns: numbers in order, fixed offsets accumulate, variable indexes in column order.
    std::uint16_t fixedOffset = 0, varIndex = 0;
    for (std::size_t i = 0; i < req.columns.size(); ++i) {
        const ColumnRequest& c = req.columns[i];
        WColumn col;
        col.name = c.name;
        auto& r = col.raw;
        r[0] = c.type;
        put32(&r[1], 1625);
        put16(&r[5], std::uint16_t(i));
        put16(&r[9], req.system ? 0 : std::uint16_t(i));
        const std::uint16_t fixedLen = fixedSizeOf(c.type);
        const bool fixed = fixedLen != 0;
        std::uint16_t length = fixedLen;
        if (c.type == kText) length = std::uint16_t(2 * (c.length ? c.length : 255));
        if (c.type == kBinary) length = std::uint16_t(c.length ? c.length : 255);
        if (c.type == kNumeric) length = 17;
        if (c.type == kMemo || c.type == kOle) length = 0;
        if (c.type == kNumeric) {
            r[11] = std::uint8_t(c.precision);
            r[12] = std::uint8_t(c.scale);
        } else {
            put16(&r[11], 1033);
            if (c.type == kText || c.type == kMemo) r[14] = req.system ? 0 : sortVersion;
        }
        std::uint8_t flags = std::uint8_t((fixed ? 0x01 : 0x00) | 0x02 | c.flagBits);
        if (c.autoNumber) flags |= 0x04;
        if (c.guidAutoNumber) flags |= 0x40;
        if (c.hyperlink && c.type == kMemo) flags |= 0x80;
        r[15] = flags;
        if ((c.type == kText || c.type == kMemo) && !req.system) r[16] = 0x01;
        if (fixed) {
            put16(&r[21], c.type == kBoolean ? 0 : fixedOffset);
            if (c.type != kBoolean) fixedOffset = std::uint16_t(fixedOffset + fixedLen);
        } else {
            put16(&r[7], varIndex++);
        }
        put16(&r[23], length);
        def.columns.push_back(std::move(col));
    }
    auto& hd = def.head;
    hd.fill(0);
    hd[0] = kPageTdef;
    hd[1] = 0x01;
    put32(&hd[12], 1625);
    hd[24] = 0x01;
    hd[40] = req.system ? 0x53 : 0x4E;
    put16(&hd[41], std::uint16_t(req.columns.size()));
    put16(&hd[43], varIndex);
    put32(&hd[55], rowPointerValue(owned));
    put32(&hd[59], rowPointerValue(freeMap));

    // Indexes: one physical index per distinct (columns, flags).
    struct Logical {
        std::string name;
        std::uint32_t number;
        std::uint32_t real;
        std::uint8_t kind;
    };
    std::vector<Logical> logicals;
    std::set<std::string> indexNames;
    int primaries = 0;
    for (std::size_t li = 0; li < req.indexes.size(); ++li) {
        const IndexRequest& ir = req.indexes[li];
        const std::string iname = ir.name.empty() ? (ir.primaryKey ? "PrimaryKey" : "Index" + std::to_string(li + 1)) : ir.name;
        if (!nameCharsValid(iname, why))
            throw Error(path + ": cannot create table " + req.name + ": index '" + iname + "': " + why);
        if (!indexNames.insert(lower(iname)).second)
            throw Error(path + ": cannot create table " + req.name + ": the index name " + iname + " is used twice");
        if (ir.primaryKey && ++primaries > 1)
            throw Error(path + ": cannot create table " + req.name + ": a table has only one primary key");
        if (ir.columns.empty() || ir.columns.size() > 10)
            throw Error(path + ": cannot create table " + req.name + ": index " + iname + " needs 1 to 10 columns");
        WRealIndex real;
        for (const auto& [cname, asc] : ir.columns) {
            const WColumn* found = nullptr;
            for (const WColumn& c : def.columns)
                if (storage::namesEqual(c.name, cname)) found = &c;
            if (!found)
                throw Error(path + ": cannot create table " + req.name + ": index " + iname + " names column " +
                            cname + ", which the table does not have");
            const std::string reason = unindexableReason(*found);
            if (!reason.empty())
                throw Error(path + ": cannot create table " + req.name + ": index " + iname + ": " + reason);
            real.columns.push_back({found->number(), asc});
        }
        std::uint8_t flags = kIdxAlways;
        if (ir.rawFlags >= 0) flags = std::uint8_t(ir.rawFlags);
        else {
            if (ir.primaryKey) flags |= kIdxUnique | kIdxRequired;
            if (ir.unique) flags |= kIdxUnique;
            if (ir.required) flags |= kIdxRequired;
            if (ir.ignoreNulls) flags |= kIdxIgnoreNulls;
        }
        real.raw[46] = flags;
        const std::size_t match = sharedRealIndex(def, real);
        if (match == def.realIndexes.size()) {
            put32(&real.raw[0], 1923);
            def.realIndexes.push_back(real);
        }
        logicals.push_back({iname, std::uint32_t(li), std::uint32_t(match), std::uint8_t(ir.primaryKey ? 1 : 0)});
    }
    for (WRealIndex& r : def.realIndexes) r.usageMap = addMapRow(*this, holder, false);
    // Access keeps the logical index blocks sorted by name.
    std::sort(logicals.begin(), logicals.end(),
              [](const Logical& a, const Logical& b) { return lower(a.name) < lower(b.name); });
    for (const Logical& l : logicals) {
        WLogicalIndex li;
        li.name = l.name;
        put32(&li.raw[0], 1625);
        put32(&li.raw[4], l.number);
        put32(&li.raw[8], l.real);
        put32(&li.raw[13], 0xFFFFFFFFu);
        li.raw[21] = 0x04;
        li.raw[22] = 0x04;
        li.raw[23] = l.kind;
        def.logicalIndexes.push_back(std::move(li));
    }
    for (const WColumn& c : def.columns) {
        if (!c.longValue()) continue;
        WLongValueMaps m;
        m.column = c.number();
        m.owned = addMapRow(*this, holder, false);
        m.free = addMapRow(*this, holder, false);
        def.lvMaps.push_back(m);
    }
    auto stored = std::make_unique<TableDefinition>(std::move(def));
    TableDefinition& ref = *stored;
    defs_[ref.page] = std::move(stored);
    for (WRealIndex& r : ref.realIndexes) createIndexRoot(ref, r, r.usageMap);
    saveDefinition(ref);
    return ref.page;
}

// ---- the catalog ----

const std::vector<ObjectRow>& JetWriter::objects() {
    if (objectsCache_) return *objectsCache_;
    TableDefinition& def = definition(2, "MSysObjects");
    std::vector<ObjectRow> out;
    scan(def, [&](RowLocation at, const std::vector<Value>& v) {
        ObjectRow o;
        o.id = v[kId].isNull() ? 0 : std::int32_t(v[kId].rawInt());
        o.parentId = v[kParentId].isNull() ? 0 : std::int32_t(v[kParentId].rawInt());
        o.name = v[kName].isNull() ? std::string() : v[kName].rawString();
        o.type = v[kType].isNull() ? std::int16_t(0) : std::int16_t(v[kType].rawInt());
        o.flags = v[kFlags].isNull() ? 0u : std::uint32_t(v[kFlags].rawInt());
        if (v.size() > 14 && !v[14].isNull()) o.properties = v[14].rawString();
        o.where = RowPointer{at.page, at.row};
        out.push_back(std::move(o));
        return true;
    });
    objectsCache_ = std::move(out);
    return *objectsCache_;
}

std::optional<ObjectRow> JetWriter::findObject(std::int32_t parentId, const std::string& name) {
    for (const ObjectRow& o : objects())
        if (o.parentId == parentId && storage::namesEqual(o.name, name)) return o;
    return std::nullopt;
}

TableDefinition& JetWriter::tableNamed(const std::string& name) {
    const auto o = findObject(kTables, name);
    if (!o || o->type != 1) throw Error(store_->path() + ": there is no table named " + name);
    TableDefinition& def = definition(std::uint32_t(o->id) & 0x00FFFFFF, o->name);
    if (!def.propertiesRead) {
        def.propertiesRead = true;
        if (!o->properties.empty()) {
            static const CodePage westernEurope(1252);
            const PropertyMap props = parseProperties(o->properties, false, westernEurope);
            for (const WColumn& c : def.columns) {
                auto it = props.find(c.name);
                if (it == props.end()) continue;
                auto r = it->second.find("Required");
                if (r != it->second.end() && !r->second.bytes.empty() && r->second.bytes[0] != 0)
                    def.required.push_back(c.number());
            }
        }
    }
    return def;
}

static std::string columnProperties(const TableRequest& req) {
    // Required (and AllowZeroLength No) for the columns that have them, as
    // Access stores a table's field properties; the table's own block is
    // empty, as Access writes it.
    PropertyBlobWriter w;
    w.beginBlock("", 0x0000);
    bool any = false;
    for (const ColumnRequest& c : req.columns) {
        if (!c.required && c.allowZeroLength) continue;
        w.beginBlock(c.name, 0x0001);
        if (c.required) w.add("Required", 0x01 /* Yes/No */, true, std::string(1, char(0xFF)));
        if ((c.type == kText || c.type == kMemo) && !c.allowZeroLength)
            w.add("AllowZeroLength", 0x01, true, std::string(1, char(0)));
        any = true;
    }
    return any ? w.blob() : std::string();
}

std::int32_t JetWriter::nextSyntheticId() {
    std::int64_t best = -1;
    for (const ObjectRow& o : objects())
        if (o.id < 0) best = std::max<std::int64_t>(best, std::int64_t(std::uint32_t(o.id)));
    if (best < 0) return std::int32_t(0x80000000u);
    return std::int32_t(std::uint32_t(best + 1));
}

void JetWriter::addCatalogRows(std::int32_t id, const std::string& name, std::int16_t type, std::uint32_t flags,
                               const std::string& properties) {
    TableDefinition& objs = definition(2, "MSysObjects");
    std::string owner;
    bool ownerFound = false;
    std::uint32_t acesPage = 0;
    scan(objs, [&](RowLocation, const std::vector<Value>& v) {
        if (!v[kId].isNull() && v[kId].rawInt() == kMSysDbId && !v[kOwner].isNull()) {
            owner = v[kOwner].rawString();
            ownerFound = true;
        }
        if (!v[kName].isNull() && v[kName].rawString() == "MSysACEs" && !v[kParentId].isNull() &&
            v[kParentId].rawInt() == kTables)
            acesPage = std::uint32_t(v[kId].rawInt()) & 0x00FFFFFF;
        return true;
    });
    if (!ownerFound) owner = std::string("\xA6\x33", 2);
    const double now = nowAsAccessDate();
    std::vector<Value> row(objs.columns.size(), Value::null());
    row[kId] = Value::longInt(id);
    row[kParentId] = Value::longInt(kTables);
    row[kName] = Value::string(name);
    row[kType] = Value::integer(type);
    row[kDateCreate] = Value::date(now);
    row[kDateUpdate] = Value::date(now);
    row[kOwner] = Value::binary(owner);
    row[kFlags] = Value::longInt(std::int32_t(flags));
    if (!properties.empty()) row[14] = Value::binary(properties);
    insertRow(objs, row);
    if (acesPage == 0) return;
    TableDefinition& aces = definition(acesPage, "MSysACEs");
    // Access gives a new object one entry per inheritable entry of the Tables
    // container that grants 1048319; failing those, every container entry.
    std::vector<std::pair<std::string, std::int32_t>> grant, fallback;
    scan(aces, [&](RowLocation, const std::vector<Value>& v) {
        if (v[kAceObjectId].isNull() || v[kAceObjectId].rawInt() != kTables || v[kAceSid].isNull()) return true;
        const std::string sid = v[kAceSid].rawString();
        fallback.push_back({sid, 0xFFFFF});
        if (v[kAceInheritable].rawInt() != 0 && !v[kAceAcm].isNull() && v[kAceAcm].rawInt() == 1048319)
            grant.push_back({sid, 1048319});
        return true;
    });
    if (grant.empty()) grant = fallback;
    if (grant.empty()) grant.push_back({std::string("\xA6\x33", 2), 0xFFFFF});
    for (const auto& [sid, acm] : grant) {
        std::vector<Value> a(aces.columns.size(), Value::null());
        a[kAceObjectId] = Value::longInt(id);
        a[kAceSid] = Value::binary(sid);
        a[kAceAcm] = Value::longInt(acm);
        a[kAceInheritable] = Value::boolean(false);
        insertRow(aces, a);
    }
}

// ---- operations ----

namespace {
// Undoes the changes since the last commit when a call fails after it began
// to change pages (a refusal found before that leaves everything as it is,
// a batch included).
struct CallGuard {
    JetWriter& w;
    bool done = false;
    std::uint64_t start = w.store().changes();
    ~CallGuard() {
        if (!done && w.store().changes() != start) {
            try {
                w.rollback();
            } catch (...) {
            }
        }
    }
};
} // namespace

std::uint32_t JetWriter::createTable(const TableRequest& request) {
    std::string why;
    if (!nameCharsValid(request.name, why))
        throw Error(store_->path() + ": cannot create table '" + request.name + "': " + why);
    if (auto o = findObject(kTables, request.name))
        throw Error(store_->path() + ": cannot create table " + request.name + ": " +
                    (o->type == 5 ? "a query" : "a table") + " of that name already exists");
    CallGuard guard{*this};
    const std::uint32_t page = buildTable(request);
    addCatalogRows(std::int32_t(page), request.name, 1, request.flags, columnProperties(request));
    TableDefinition& def = definition(page, request.name);
    def.propertiesRead = true;
    for (std::size_t i = 0; i < request.columns.size(); ++i)
        if (request.columns[i].required) def.required.push_back(std::uint16_t(i));
    endCall();
    guard.done = true;
    return page;
}

std::uint64_t JetWriter::append(const std::string& table, std::span<const Value> row) {
    TableDefinition& def = tableNamed(table);
    if (def.system()) throw Error(store_->path() + ": " + def.name + " is a system table and cannot be changed");
    const std::uint32_t savedAuto = def.lastAutoNumber();
    std::vector<Value> values;
    try {
        values = completeRow(def, row, true);
        const std::vector<std::string> keys = allKeys(def, values);
        checkKeys(def, values, keys, std::nullopt);
    } catch (...) {
        def.setLastAutoNumber(savedAuto);
        throw;
    }
    CallGuard guard{*this};
    const std::uint64_t id = insertRow(def, std::move(values));
    endCall();
    guard.done = true;
    return id;
}

void JetWriter::update(const std::string& table, std::uint64_t rowId, std::span<const Value> row) {
    TableDefinition& def = tableNamed(table);
    if (def.system()) throw Error(store_->path() + ": " + def.name + " is a system table and cannot be changed");
    const RowLocation at = RowLocation::of(rowId);
    std::vector<Value> old;
    if (!readRow(def, at, old))
        throw Error(store_->path() + ": table " + def.name + ": row " + std::to_string(rowId) + " does not exist");
    // A complex column reads as the text of its entries; the row keeps its
    // key to them whatever text comes back.
    std::vector<Value> given(row.begin(), row.end());
    for (std::size_t i = 0; i < given.size() && i < def.byNumber().size(); ++i)
        if (def.byNumber()[i]->type() == kComplex) given[i] = Value();
    std::vector<Value> values = completeRow(def, given, false);
    // Values not given keep what the row holds.
    for (std::size_t i = 0; i < values.size(); ++i)
        if (i >= given.size() || given[i].isEmpty()) values[i] = old[i];
    CallGuard guard{*this};
    rewriteRow(def, at, old, values);
    endCall();
    guard.done = true;
}

// Writes the row's new values in its place (or moves it when it grew),
// keeping the table's indexes in step.  The caller holds the call guard.
void JetWriter::rewriteRow(TableDefinition& def, RowLocation at, const std::vector<Value>& old,
                           const std::vector<Value>& values) {
    const std::vector<std::string> oldKeys = allKeys(def, old), newKeys = allKeys(def, values);
    checkKeys(def, values, newKeys, at);
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i)
        if (oldKeys[i] != newKeys[i] && !oldKeys[i].empty()) indexRemove(def, i, oldKeys[i], at);
    // Old long values go; the new row writes its own.
    std::uint16_t headFlags = 0;
    const RowLocation real = resolve(at, &headFlags);
    std::size_t oldSize;
    {
        auto [r, n] = rowBytes(real.page, real.row);
        oldSize = n;
        std::vector<std::uint8_t> copy(r, r + n);
        const std::uint16_t ncols = u16(copy.data());
        const std::size_t maskBytes = (ncols + 7) / 8;
        if (def.varColumns() > 0 && copy.size() >= maskBytes + 4) {
            const std::uint8_t* mask = copy.data() + copy.size() - maskBytes;
            const std::uint16_t nvar = u16(copy.data() + copy.size() - maskBytes - 2);
            const std::size_t base = copy.size() - maskBytes - 2;
            for (const WColumn* c : def.byNumber()) {
                if (!c->longValue() || c->number() >= ncols || !(mask[c->number() / 8] & (1u << (c->number() % 8))) ||
                    c->varIndex() >= nvar)
                    continue;
                const std::uint16_t a = u16(copy.data() + base - 2 * (c->varIndex() + 1));
                const std::uint16_t b = c->varIndex() + 1 == nvar ? u16(copy.data() + base - 2 * (nvar + 1))
                                                                   : u16(copy.data() + base - 2 * (c->varIndex() + 2));
                if (a < b && b <= copy.size()) freeLongValue(def, *c, copy.data() + a, b - a);
            }
        }
    }
    std::vector<std::uint8_t> image = encodeRow(def, values);
    const std::size_t hdr = format().dataHeader;
    if (image.size() <= oldSize) {
        image = encodeRow(def, values, oldSize);
        if (image.size() != oldSize) throw Error(store_->path() + ": table " + def.name + ": internal row size error");
        std::uint8_t* p = store_->write(real.page);
        const std::size_t start = u16(p + hdr + 2 * real.row) & 0x1FFF;
        std::memcpy(p + start, image.data(), image.size());
    } else {
        // The row moves: the new image goes elsewhere, the original slot points at it.
        const RowLocation moved = placeRow(def, image, 0x8000);
        std::uint8_t* p = store_->write(at.page);
        const std::size_t start = u16(p + hdr + 2 * at.row) & 0x1FFF;
        p[start] = moved.row;
        p[start + 1] = std::uint8_t(moved.page);
        p[start + 2] = std::uint8_t(moved.page >> 8);
        p[start + 3] = std::uint8_t(moved.page >> 16);
        put16(p + hdr + 2 * at.row, std::uint16_t((u16(p + hdr + 2 * at.row) & 0x1FFF) | 0x4000));
        if (!(real.page == at.page && real.row == at.row)) {
            // The row's previous image elsewhere is no longer needed.
            std::uint8_t* op = store_->write(real.page);
            put16(op + hdr + 2 * real.row, std::uint16_t(u16(op + hdr + 2 * real.row) | 0xC000));
            releaseIfEmpty(def, real.page);
        }
    }
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i)
        if (oldKeys[i] != newKeys[i] && !newKeys[i].empty()) indexInsert(def, i, newKeys[i], at);
    if (std::find(dirtyDefs_.begin(), dirtyDefs_.end(), def.page) == dirtyDefs_.end()) dirtyDefs_.push_back(def.page);
}

void JetWriter::remove(const std::string& table, std::uint64_t rowId) {
    TableDefinition& def = tableNamed(table);
    if (def.system()) throw Error(store_->path() + ": " + def.name + " is a system table and cannot be changed");
    std::vector<Value> old;
    if (!readRow(def, RowLocation::of(rowId), old))
        throw Error(store_->path() + ": table " + def.name + ": row " + std::to_string(rowId) + " does not exist");
    CallGuard guard{*this};
    deleteRow(def, RowLocation::of(rowId));
    endCall();
    guard.done = true;
}

void JetWriter::dropTable(const std::string& name) {
    const auto o = findObject(kTables, name);
    if (!o || o->type != 1) throw Error(store_->path() + ": cannot delete table " + name + ": there is no such table");
    if ((o->flags & kSystemObject) || (o->flags & 0x2) || o->name.rfind("MSys", 0) == 0)
        throw Error(store_->path() + ": cannot delete table " + o->name + ": it is a system table");
    const std::uint32_t page = std::uint32_t(o->id) & 0x00FFFFFF;
    TableDefinition& def = definition(page, o->name);
    const std::string refused = store_->path() + ": cannot delete table " + o->name + ": ";
    // Relationships would be left dangling: refuse while there are any.
    if (auto rel = findObject(kTables, "MSysRelationships")) {
        TableDefinition& rels = definition(std::uint32_t(rel->id) & 0x00FFFFFF, rel->name);
        std::string other;
        scan(rels, [&](RowLocation, const std::vector<Value>& v) {
            for (std::size_t i = 0; i < rels.columns.size(); ++i) {
                const WColumn* c = rels.byNumber()[i];
                if ((c->name == "szObject" || c->name == "szReferencedObject") && !v[i].isNull() &&
                    storage::namesEqual(v[i].rawString(), o->name)) {
                    other = "a relationship";
                    return false;
                }
            }
            return true;
        });
        if (!other.empty()) throw Error(refused + "it takes part in a relationship; delete the relationship in Access first");
    }

    // Attachment, multi-value and version-history columns keep their values
    // in hidden tables of their own ("f_<GUID>_<column>"), one per column.
    // MSysComplexColumns has a row per column: ConceptualTableID is the
    // table's id, ComplexID the number in the column's descriptor and
    // FlatTableID the hidden table.  The hidden tables and these rows go with
    // the table.  The MSysComplexType_* templates the columns were made from
    // are shared and stay.  Everything is checked before the first change.
    std::vector<const WColumn*> complexCols;
    for (const WColumn& c : def.columns)
        if (c.type() == kComplex) complexCols.push_back(&c);
    TableDefinition* complexTable = nullptr;
    std::vector<RowLocation> complexRows;
    std::vector<ObjectRow> flatTables;
    if (auto cc = findObject(kTables, "MSysComplexColumns"); cc && cc->type == 1) {
        TableDefinition& t = definition(std::uint32_t(cc->id) & 0x00FFFFFF, cc->name);
        int nameCol = -1, typeCol = -1, flatCol = -1, ownerCol = -1, idCol = -1;
        for (std::size_t i = 0; i < t.byNumber().size(); ++i) {
            const std::string& n = t.byNumber()[i]->name;
            if (storage::namesEqual(n, "ColumnName")) nameCol = int(i);
            if (storage::namesEqual(n, "ComplexTypeObjectID")) typeCol = int(i);
            if (storage::namesEqual(n, "FlatTableID")) flatCol = int(i);
            if (storage::namesEqual(n, "ConceptualTableID")) ownerCol = int(i);
            if (storage::namesEqual(n, "ComplexID")) idCol = int(i);
        }
        if (nameCol < 0 || typeCol < 0 || flatCol < 0 || ownerCol < 0 || idCol < 0)
            throw Error(refused + "MSysComplexColumns does not have the columns this program knows");
        auto number = [](const Value& v) -> std::optional<std::int64_t> {
            if (v.isNull()) return std::nullopt;
            return v.rawInt();
        };
        struct Entry {
            RowLocation at;
            std::string column;
            std::optional<std::int64_t> flat, complexId;
        };
        std::vector<Entry> ours;
        std::set<std::int64_t> elsewhere; // ids other rows name as hidden, owning or template table
        scan(t, [&](RowLocation at, const std::vector<Value>& v) {
            const auto owner = number(v[std::size_t(ownerCol)]);
            if (owner && *owner == o->id) {
                ours.push_back({at, v[std::size_t(nameCol)].isNull() ? std::string() : v[std::size_t(nameCol)].rawString(),
                                number(v[std::size_t(flatCol)]), number(v[std::size_t(idCol)])});
                if (auto tmpl = number(v[std::size_t(typeCol)])) elsewhere.insert(*tmpl);
                return true;
            }
            for (int c : {ownerCol, flatCol, typeCol})
                if (auto id = number(v[std::size_t(c)])) elsewhere.insert(*id);
            return true;
        });
        for (const WColumn* c : complexCols) {
            const std::uint32_t id = u32(&c->raw[11]);
            const bool listed = std::any_of(ours.begin(), ours.end(), [&](const Entry& e) {
                return (e.complexId && *e.complexId == std::int64_t(id)) || storage::namesEqual(e.column, c->name);
            });
            if (!listed)
                throw Error(refused + "MSysComplexColumns has no entry for its column " + c->name +
                            ", so where its values are kept is not known; compact and repair the file in Access first");
        }
        std::set<std::int64_t> seen;
        for (const Entry& e : ours) {
            complexRows.push_back(e.at);
            if (!e.flat || !seen.insert(*e.flat).second) continue;
            const ObjectRow* flat = nullptr;
            for (const ObjectRow& r : objects())
                if (r.id == *e.flat && r.parentId == kTables) flat = &r;
            if (!flat) continue; // the row names nothing left to remove
            if (flat->type != 1 || flat->id == o->id || flat->name.rfind("MSys", 0) == 0 || elsewhere.count(flat->id))
                throw Error(refused + "the hidden table of its column " + e.column + " (" + flat->name +
                            ") is not one that belongs to that column alone");
            flatTables.push_back(*flat);
        }
        complexTable = &t;
    } else if (!complexCols.empty()) {
        throw Error(refused + "it has attachment or multi-value columns but the file has no MSysComplexColumns table");
    }

    CallGuard guard{*this};
    // One operation: the hidden tables, their rows in MSysComplexColumns,
    // then the table itself, all committed together.
    for (const ObjectRow& f : flatTables) removeTable(f);
    for (RowLocation r : complexRows) deleteRow(*complexTable, r);
    removeTable(*o);
    endCall();
    guard.done = true;
}

void JetWriter::removeTable(const ObjectRow& o) {
    const std::uint32_t page = std::uint32_t(o.id) & 0x00FFFFFF;
    TableDefinition& def = definition(page, o.name);
    // Catalog rows first: a table nobody names is harmless, a named table without pages is not.
    if (auto aces = findObject(kTables, "MSysACEs")) {
        TableDefinition& a = definition(std::uint32_t(aces->id) & 0x00FFFFFF, aces->name);
        std::vector<RowLocation> rows;
        scan(a, [&](RowLocation at, const std::vector<Value>& v) {
            if (!v[kAceObjectId].isNull() && v[kAceObjectId].rawInt() == o.id) rows.push_back(at);
            return true;
        });
        for (RowLocation r : rows) deleteRow(a, r);
    }
    deleteRow(definition(2, "MSysObjects"), RowLocation{o.where.page, o.where.row});
    // Then every page of the table goes back to the free pages.
    std::set<std::uint32_t> pages(def.chain.begin(), def.chain.end());
    std::set<std::uint32_t> holders;
    auto collect = [&](RowPointer map) {
        if (map.page == 0) return;
        holders.insert(map.page);
        MapRow m = mapRow(*store_, map, false, def.name);
        if (m.p[0] == 0x01)
            for (std::size_t s = 0; 1 + 4 * (s + 1) <= m.size; ++s)
                if (std::uint32_t bp = u32(m.p + 1 + 4 * s)) pages.insert(bp);
        for (std::uint32_t p : mapPages(*store_, map, def.name)) pages.insert(p);
    };
    collect(def.ownedMap());
    collect(def.freeMap());
    for (const WRealIndex& r : def.realIndexes) {
        collect(r.usageMap);
        pages.insert(r.rootPage);
    }
    for (const WLongValueMaps& m : def.lvMaps) {
        collect(m.owned);
        collect(m.free);
    }
    // A holder page is freed only when it holds nothing but this table's maps.
    for (std::uint32_t h : holders) {
        const std::uint8_t* p = store_->read(h);
        bool onlyOurs = p[0] == kPageData && u32(p + 4) == 0;
        if (onlyOurs) {
            const std::uint16_t slots = u16(p + format().dataHeader - 2);
            std::size_t ours = 0;
            auto mine = [&](RowPointer r) { return r.page == h; };
            if (mine(def.ownedMap())) ++ours;
            if (mine(def.freeMap())) ++ours;
            for (const WRealIndex& r : def.realIndexes) ours += mine(r.usageMap);
            for (const WLongValueMaps& m : def.lvMaps) ours += mine(m.owned) + mine(m.free);
            onlyOurs = ours == slots;
        }
        if (onlyOurs) pages.insert(h);
    }
    for (std::uint32_t p : pages)
        if (p >= 3) releasePage(p);
    for (auto it = trees_.begin(); it != trees_.end();) {
        if (it->first.first == page) it = trees_.erase(it);
        else ++it;
    }
    appendPage_.erase(page);
    for (auto it = lvalPage_.begin(); it != lvalPage_.end();) {
        if ((it->first >> 16) == page) it = lvalPage_.erase(it);
        else ++it;
    }
    dirtyDefs_.erase(std::remove(dirtyDefs_.begin(), dirtyDefs_.end(), page), dirtyDefs_.end());
    defs_.erase(page);
}

void JetWriter::renameObject(const std::string& oldName, const std::string& newName) {
    const auto o = findObject(kTables, oldName);
    if (!o || (o->type != 1 && o->type != 5))
        throw Error(store_->path() + ": cannot rename " + oldName + ": there is no table or query of that name");
    if ((o->flags & kSystemObject) || o->name.rfind("MSys", 0) == 0)
        throw Error(store_->path() + ": cannot rename " + o->name + ": it is a system object");
    std::string why;
    if (!nameCharsValid(newName, why))
        throw Error(store_->path() + ": cannot rename " + o->name + " to '" + newName + "': " + why);
    if (auto other = findObject(kTables, newName); other && other->id != o->id)
        throw Error(store_->path() + ": cannot rename " + o->name + " to " + newName + ": " +
                    (other->type == 5 ? "a query" : "a table") + " of that name already exists");
    TableDefinition& objs = definition(2, "MSysObjects");
    objectsCache_.reset();
    const RowLocation at{o->where.page, o->where.row};
    std::vector<Value> old;
    readRow(objs, at, old);
    std::vector<Value> values = old;
    values[kName] = Value::string(newName);
    values[kDateUpdate] = Value::date(nowAsAccessDate());
    const std::vector<std::string> oldKeys = allKeys(objs, old), newKeys = allKeys(objs, values);
    checkKeys(objs, values, newKeys, at);
    CallGuard guard{*this};
    for (std::size_t i = 0; i < objs.realIndexes.size(); ++i)
        if (oldKeys[i] != newKeys[i] && !oldKeys[i].empty()) indexRemove(objs, i, oldKeys[i], at);
    // Rewrite the row; long values (LvProp...) are carried over as they are.
    const RowLocation real = resolve(at);
    auto [r, n] = rowBytes(real.page, real.row);
    std::vector<std::uint8_t> oldImage(r, r + n);
    // Re-encoding writes long values anew; free the old ones afterwards.
    std::vector<std::uint8_t> image = encodeRow(objs, values);
    {
        const std::uint16_t ncols = u16(oldImage.data());
        const std::size_t maskBytes = (ncols + 7) / 8;
        const std::uint8_t* mask = oldImage.data() + oldImage.size() - maskBytes;
        const std::uint16_t nvar = u16(oldImage.data() + oldImage.size() - maskBytes - 2);
        const std::size_t base = oldImage.size() - maskBytes - 2;
        for (const WColumn* c : objs.byNumber()) {
            if (!c->longValue() || c->number() >= ncols || !(mask[c->number() / 8] & (1u << (c->number() % 8))) ||
                c->varIndex() >= nvar)
                continue;
            const std::uint16_t a = u16(oldImage.data() + base - 2 * (c->varIndex() + 1));
            const std::uint16_t b = c->varIndex() + 1 == nvar ? u16(oldImage.data() + base - 2 * (nvar + 1))
                                                               : u16(oldImage.data() + base - 2 * (c->varIndex() + 2));
            if (a < b && b <= oldImage.size()) freeLongValue(objs, *c, oldImage.data() + a, b - a);
        }
    }
    const std::size_t hdr = format().dataHeader;
    if (image.size() <= n) {
        image = encodeRow(objs, values, n);
        std::uint8_t* p = store_->write(real.page);
        std::memcpy(p + (u16(p + hdr + 2 * real.row) & 0x1FFF), image.data(), image.size());
    } else {
        const RowLocation moved = placeRow(objs, image, 0x8000);
        if (!(real.page == at.page && real.row == at.row)) {
            std::uint8_t* op = store_->write(real.page);
            put16(op + hdr + 2 * real.row, std::uint16_t(u16(op + hdr + 2 * real.row) | 0xC000));
        }
        std::uint8_t* p = store_->write(at.page);
        const std::size_t start = u16(p + hdr + 2 * at.row) & 0x1FFF;
        p[start] = moved.row;
        p[start + 1] = std::uint8_t(moved.page);
        p[start + 2] = std::uint8_t(moved.page >> 8);
        p[start + 3] = std::uint8_t(moved.page >> 16);
        put16(p + hdr + 2 * at.row, std::uint16_t(start | 0x4000));
    }
    for (std::size_t i = 0; i < objs.realIndexes.size(); ++i)
        if (oldKeys[i] != newKeys[i] && !newKeys[i].empty()) indexInsert(objs, i, newKeys[i], at);
    if (std::find(dirtyDefs_.begin(), dirtyDefs_.end(), objs.page) == dirtyDefs_.end()) dirtyDefs_.push_back(objs.page);
    // Relationships name their tables: they follow the table to its new name.
    if (auto rel = o->type == 1 ? findObject(kTables, "MSysRelationships") : std::nullopt) {
        TableDefinition& rels = definition(std::uint32_t(rel->id) & 0x00FFFFFF, rel->name);
        std::vector<std::pair<RowLocation, std::vector<Value>>> renamed;
        scan(rels, [&](RowLocation where, const std::vector<Value>& v) {
            for (std::size_t i = 0; i < rels.columns.size(); ++i) {
                const WColumn* c = rels.byNumber()[i];
                if ((c->name == "szObject" || c->name == "szReferencedObject") && !v[i].isNull() &&
                    storage::namesEqual(v[i].rawString(), o->name)) {
                    renamed.emplace_back(where, v);
                    break;
                }
            }
            return true;
        });
        for (auto& [where, v] : renamed) {
            std::vector<Value> changed = v;
            for (std::size_t i = 0; i < rels.columns.size(); ++i) {
                const WColumn* c = rels.byNumber()[i];
                if ((c->name == "szObject" || c->name == "szReferencedObject") && !v[i].isNull() &&
                    storage::namesEqual(v[i].rawString(), o->name))
                    changed[i] = Value::string(newName);
            }
            rewriteRow(rels, where, v, changed);
        }
    }
    endCall();
    guard.done = true;
}

// ---- durability ----

void JetWriter::beginBatch() { ++batchDepth_; }

void JetWriter::endBatch() {
    if (batchDepth_ == 0) return;
    if (--batchDepth_ == 0) commit();
}

void JetWriter::endCall() {
    if (batchDepth_ == 0) {
        commit();
        return;
    }
    // Inside a batch: now and then let the store write changed pages early
    // (the journal keeps the whole batch undoable).  Index pages stay
    // decoded in memory until the batch ends unless they grow too many.
    if (++callsInBatch_ % 4096 == 0) {
        std::size_t held = 0;
        for (const auto& [key, t] : trees_) held += t->nodes.size();
        if (held > kMaxHeldIndexPages) settle();
        store_->spill();
    }
}

void JetWriter::settle() {
    flushIndexes();
    for (std::uint32_t page : dirtyDefs_) {
        auto it = defs_.find(page);
        if (it != defs_.end()) saveDefinition(*it->second);
    }
    dirtyDefs_.clear();
}

void JetWriter::commit() {
    settle();
    try {
        store_->commit();
    } catch (...) {
        forgetCaches();
        throw;
    }
    // What this work freed may now go to new owners.
    freeHint_ = std::min(freeHint_, lowestFreedSinceCommit_);
    freedSinceCommit_.clear();
    lowestFreedSinceCommit_ = UINT32_MAX;
}

void JetWriter::rollback() {
    store_->rollback();
    forgetCaches();
}

void JetWriter::forgetCaches() {
    objectsCache_.reset();
    defs_.clear();
    trees_.clear();
    appendPage_.clear();
    lvalPage_.clear();
    dirtyDefs_.clear();
    // The file is as last committed: search the map afresh.
    freeHint_ = 0;
    freedSinceCommit_.clear();
    lowestFreedSinceCommit_ = UINT32_MAX;
}

} // namespace qm::jet

// ---- indexes added to and removed from existing tables ----

namespace qm::jet {

namespace {
// "Name = 'x', Code = Null" for messages about a row's key.
std::string keyValues(const TableDefinition& def, const WRealIndex& idx, const std::vector<Value>& values) {
    const auto& cols = def.byNumber();
    std::string shown;
    for (const WIndexColumn& ic : idx.columns)
        for (std::size_t pos = 0; pos < cols.size(); ++pos) {
            if (cols[pos]->number() != ic.number) continue;
            const Value& v = values[pos];
            if (!shown.empty()) shown += ", ";
            const bool isNull = (v.isNull() || v.isEmpty()) && cols[pos]->type() != kBoolean;
            shown += cols[pos]->name + " = " + (isNull ? std::string("Null") : "'" + v.toString() + "'");
        }
    return shown;
}

bool inRelationship(const WLogicalIndex& l) { return l.kind() == 2 || u32(&l.raw[13]) != 0xFFFFFFFFu; }
} // namespace

void JetWriter::createIndex(const std::string& table, const IndexRequest& ir) {
    TableDefinition& def = tableNamed(table);
    const std::string where = store_->path() + ": table " + def.name + ": cannot create the index " + ir.name;
    if (def.system()) throw Error(where + ": " + def.name + " is a system table");
    std::string why;
    if (!nameCharsValid(ir.name, why)) throw Error(where + ": " + why);
    for (const WLogicalIndex& l : def.logicalIndexes) {
        if (storage::namesEqual(l.name, ir.name)) throw Error(where + ": the table already has an index of that name");
        if (ir.primaryKey && l.kind() == 1)
            throw Error(where + ": the table already has a primary key (" + l.name + ")");
    }
    if (def.logicalIndexes.size() >= kMaxIndexes) throw Error(where + ": a table holds at most 32 indexes");
    if (ir.columns.empty() || ir.columns.size() > 10) throw Error(where + ": an index has 1 to 10 columns");
    WRealIndex real;
    for (const auto& [cname, asc] : ir.columns) {
        const WColumn* found = nullptr;
        for (const WColumn& c : def.columns)
            if (storage::namesEqual(c.name, cname)) found = &c;
        if (!found) throw Error(where + ": the table has no column " + cname);
        const std::string reason = unindexableReason(*found);
        if (!reason.empty()) throw Error(where + ": " + reason);
        for (const WIndexColumn& seen : real.columns)
            if (seen.number == found->number()) throw Error(where + ": the column " + cname + " is named twice");
        real.columns.push_back({found->number(), asc});
    }
    std::uint8_t flags = kIdxAlways;
    if (ir.primaryKey) flags |= kIdxUnique | kIdxRequired;
    if (ir.unique) flags |= kIdxUnique;
    if (ir.required) flags |= kIdxRequired;
    if (ir.ignoreNulls) flags |= kIdxIgnoreNulls;
    real.raw[46] = flags;
    put32(&real.raw[0], 1923);

    // An index with the same columns and rules shares the existing tree.
    const std::size_t match = sharedRealIndex(def, real);

    std::vector<IndexEntry> entries;
    if (match == def.realIndexes.size()) {
        // Every row's key first: a refusal leaves the file untouched.
        entries.reserve(def.rowCount());
        const auto& cols = def.byNumber();
        std::vector<std::size_t> positions;
        for (const WIndexColumn& ic : real.columns)
            for (std::size_t pos = 0; pos < cols.size(); ++pos)
                if (cols[pos]->number() == ic.number) positions.push_back(pos);
        const bool noNulls = (flags & kIdxRequired) != 0;
        scan(def, [&](RowLocation at, const std::vector<Value>& values) {
            bool anyNull = false, allNull = true;
            for (std::size_t pos : positions) {
                const bool isNull = (values[pos].isNull() || values[pos].isEmpty()) && cols[pos]->type() != kBoolean;
                anyNull = anyNull || isNull;
                allNull = allNull && isNull;
            }
            if (anyNull && noNulls)
                throw Error(where + ": a row holds a Null in it (" + keyValues(def, real, values) +
                            "); Index or primary key cannot contain a Null value.");
            std::string key = keyOf(def, real, values);
            if (key.empty() && allNull && (flags & kIdxIgnoreNulls)) return true;
            entries.push_back(IndexEntry{std::move(key), at.page, at.row, allNull ? 1u : 0u});
            return true;
        });
        std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
            const int c = a.key.compare(b.key);
            if (c != 0) return c < 0;
            if (a.page != b.page) return a.page < b.page;
            return a.row < b.row;
        });
        if (flags & kIdxUnique)
            for (std::size_t i = 1; i < entries.size(); ++i) {
                if (entries[i].key != entries[i - 1].key || entries[i].child) continue;
                std::vector<Value> values;
                readRow(def, RowLocation{entries[i].page, entries[i].row}, values);
                throw Error(where + ": two rows hold the same key (" + keyValues(def, real, values) +
                            "); the index would not be unique");
            }
    }

    CallGuard guard{*this};
    // Decoded pages of the table's trees are written out first: the new
    // index may renumber nothing, but the trees are reloaded from the file.
    flushIndexes();
    for (auto it = trees_.begin(); it != trees_.end();)
        it = it->first.first == def.page ? trees_.erase(it) : std::next(it);
    if (match == def.realIndexes.size()) {
        std::uint32_t holder = 0;
        const RowPointer map = addMapRow(*this, holder, false);
        def.realIndexes.push_back(real);
        createIndexRoot(def, def.realIndexes.back(), map);
        loadIndex(def, match, entries);
    }
    std::uint32_t number = 0;
    for (const WLogicalIndex& l : def.logicalIndexes) number = std::max(number, l.number() + 1);
    WLogicalIndex li;
    li.name = ir.name;
    put32(&li.raw[0], 1625);
    put32(&li.raw[4], number);
    put32(&li.raw[8], std::uint32_t(match));
    put32(&li.raw[13], 0xFFFFFFFFu);
    li.raw[21] = 0x04;
    li.raw[22] = 0x04;
    li.raw[23] = ir.primaryKey ? 1 : 0;
    // Access keeps the logical index blocks sorted by name.
    auto at = std::find_if(def.logicalIndexes.begin(), def.logicalIndexes.end(),
                           [&](const WLogicalIndex& l) { return lower(l.name) > lower(ir.name); });
    def.logicalIndexes.insert(at, std::move(li));
    saveDefinition(def);
    endCall();
    guard.done = true;
}

void JetWriter::dropIndex(const std::string& table, const std::string& name) {
    TableDefinition& def = tableNamed(table);
    const std::string where = store_->path() + ": table " + def.name + ": cannot drop the index " + name;
    if (def.system()) throw Error(where + ": " + def.name + " is a system table");
    auto it = std::find_if(def.logicalIndexes.begin(), def.logicalIndexes.end(),
                           [&](const WLogicalIndex& l) { return storage::namesEqual(l.name, name); });
    if (it == def.logicalIndexes.end()) throw Error(where + ": the table has no index of that name");
    // Relationships name indexes by number; renumbering would break them.
    for (const WLogicalIndex& l : def.logicalIndexes)
        if (inRelationship(l))
            throw Error(where + ": the table takes part in a relationship (index " + l.name +
                        "); its indexes are not changed by this program");
    CallGuard guard{*this};
    flushIndexes();
    for (auto t = trees_.begin(); t != trees_.end();)
        t = t->first.first == def.page ? trees_.erase(t) : std::next(t);
    const std::uint32_t real = it->realIndex();
    const std::uint32_t number = it->number();
    def.logicalIndexes.erase(it);
    for (WLogicalIndex& l : def.logicalIndexes)
        if (l.number() > number) put32(&l.raw[4], l.number() - 1);
    const bool shared = std::any_of(def.logicalIndexes.begin(), def.logicalIndexes.end(),
                                    [&](const WLogicalIndex& l) { return l.realIndex() == real; });
    if (!shared && real < def.realIndexes.size()) {
        const WRealIndex& r = def.realIndexes[real];
        std::set<std::uint32_t> pages;
        for (std::uint32_t p : mapPages(*store_, r.usageMap, def.name)) pages.insert(p);
        pages.insert(r.rootPage);
        MapRow m = mapRow(*store_, r.usageMap, false, def.name);
        if (m.p[0] == 0x01) // a reference map's bitmap pages
            for (std::size_t s = 0; 1 + 4 * (s + 1) <= m.size; ++s)
                if (std::uint32_t bp = u32(m.p + 1 + 4 * s)) pages.insert(bp);
        for (std::uint32_t p : pages)
            if (p >= 3) {
                std::memset(store_->write(p), 0, 4);
                releasePage(p);
            }
        // The map's row is deleted from the page that holds it.
        std::uint8_t* holder = store_->write(r.usageMap.page);
        const std::size_t slot = format().dataHeader + 2 * std::size_t(r.usageMap.row);
        put16(holder + slot, std::uint16_t(u16(holder + slot) | 0x8000));
        def.realIndexes.erase(def.realIndexes.begin() + std::ptrdiff_t(real));
        for (WLogicalIndex& l : def.logicalIndexes)
            if (l.realIndex() > real) put32(&l.raw[8], l.realIndex() - 1);
    }
    saveDefinition(def);
    endCall();
    guard.done = true;
}

} // namespace qm::jet
