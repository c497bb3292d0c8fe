#include "create_database.h"

#include "database.h"
#include "office_crypto.h"
#include "rc4.h"
#include "write_properties.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace qm::jet {

double nowAsAccessDate();

namespace {

constexpr std::int32_t kTables = 0x0F000001;
constexpr std::int32_t kDatabases = 0x0F000002;
constexpr std::int32_t kRelationships = 0x0F000003;
constexpr std::int32_t kRoot = 0x0F000000;
constexpr std::int32_t kMSysDb = 0x10000000;
constexpr std::uint32_t kSystem = 0x80000000u;
constexpr std::uint32_t kAccessSystem = 0x00000002u; // Access's own tables (MSysAccessObjects, MSysNavPane*)

std::string hexBytes(const char* hex) {
    std::string out;
    for (std::size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        auto d = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
        out.push_back(char(d(hex[i]) * 16 + d(hex[i + 1])));
    }
    return out;
}

// Security ids of the default workgroup, as Access writes them into every
// new database of the format.
struct Sids {
    std::string engine, admin, admins, users, creator;
};
Sids sidsFor(bool ace) {
    if (ace)
        return {hexBytes("52A6"), hexBytes("53A4"), hexBytes("52A4"), hexBytes("52A1"),
                hexBytes("5160D0EBCFC8DADB329DA660DDE959A92A984076BF9CC4947917AA645F4C3E9EE1DD65F12E16DCE27AE645A379D6")};
    return {hexBytes("A731"), hexBytes("A633"), hexBytes("A733"), hexBytes("A736"),
            hexBytes("A4F74667E17167EED7B10F8FFEEF76FFAAE3665105BDD29D4D4B3952D9FB9A07660C5BD2D87DDDB31E659019")};
}

std::vector<std::uint8_t> headerPage(bool ace, double created, const std::string& password) {
    std::vector<std::uint8_t> p(4096, 0);
    p[0] = 0x00;
    p[1] = 0x01;
    std::memcpy(p.data() + 4, ace ? "Standard ACE DB" : "Standard Jet DB", 15);
    p[0x14] = ace ? 0x02 : 0x01;
    std::uint8_t* m = p.data() + 0x18;
    static const std::uint8_t pattern[28] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(m, pattern, 28);
    put16(p.data() + 0x3C, 1252);
    // The 40 password bytes are stored XOR the whole days of the creation
    // date.  An .mdb keeps its password there (UTF-16LE).  An encrypted
    // .accdb keeps the low byte of its database key there instead; the key
    // seeds every page's block key, and the password itself only opens the
    // EncryptionInfo at 0x299.
    const std::int32_t days = std::int32_t(created);
    std::uint8_t pw[40] = {};
    std::vector<std::uint8_t> info;
    if (!password.empty() && !ace) {
        const std::string units = utf16Bytes(password);
        if (units.size() > 40)
            throw Error("the password is longer than the 20 characters an .mdb database password can have");
        std::memcpy(pw, units.data(), units.size());
    } else if (!password.empty()) {
        if (utf16Bytes(password).size() > 510)
            throw Error("the password is longer than the 255 characters an .accdb database password can have");
        const std::uint32_t key = randomDatabaseKey();
        put32(p.data() + 0x3E, key);
        std::memset(pw, int(key & 0xFF), sizeof pw);
        info = newAgileEncryptionInfo(password);
    }
    for (int i = 0; i < 40; ++i) p[0x42 + std::size_t(i)] = std::uint8_t(pw[i] ^ std::uint8_t(std::uint32_t(days) >> (8 * (i % 4))));
    put32(p.data() + 0x6A, ace ? 0x11A6 : 0x21AA);
    put16(p.data() + 0x6E, 1033); // General (Legacy) sort order, version 0
    std::uint64_t bits;
    std::memcpy(&bits, &created, 8);
    put64(p.data() + 0x72, bits);
    static const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4 rc4(key, 4);
    rc4.apply(m, 128);
    p[0x98] = 0x54;
    p[0x99] = 0x06;
    std::memcpy(p.data() + 0x9C, "4.0", 4);
    for (std::size_t i = 0; i < 256; ++i) put16(p.data() + 0xE00 + 2 * i, i == 0 ? 0x0101 : 0x0100);
    if (!info.empty()) {
        if (0x29B + info.size() > 0xE00) throw Error("the encryption information does not fit in the header page");
        put16(p.data() + 0x299, std::uint16_t(info.size()));
        std::memcpy(p.data() + 0x29B, info.data(), info.size());
    }
    return p;
}

std::string msysDbProperties() {
    PropertyBlobWriter w;
    w.beginBlock("", 0x0000);
    w.add("AccessVersion", 0x0A /* Text */, false, utf16Bytes("09.50"));
    return w.blob();
}

ColumnRequest sysColumn(const char* name, std::uint8_t type, int length = 0, std::uint8_t extra = 0x10) {
    ColumnRequest c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.flagBits = extra;
    return c;
}

IndexRequest sysIndex(const char* name, std::vector<const char*> cols, int flags, bool primary) {
    IndexRequest r;
    r.name = name;
    for (const char* c : cols) r.columns.push_back({c, true});
    r.rawFlags = flags;
    r.primaryKey = primary;
    return r;
}

void buildSystemTables(JetWriter& w) {
    TableRequest objects{"MSysObjects", {}, {}, true, kSystem};
    objects.columns = {sysColumn("Id", kLong),           sysColumn("ParentId", kLong),
                       sysColumn("Name", kText, 255),    sysColumn("Type", kInteger),
                       sysColumn("DateCreate", kDateTime), sysColumn("DateUpdate", kDateTime),
                       sysColumn("Owner", kBinary, 510, 0x30), sysColumn("Flags", kLong),
                       sysColumn("Database", kMemo),     sysColumn("Connect", kMemo),
                       sysColumn("ForeignName", kText, 255), sysColumn("RmtInfoShort", kBinary, 510),
                       sysColumn("RmtInfoLong", kOle),   sysColumn("Lv", kOle),
                       sysColumn("LvProp", kOle),        sysColumn("LvModule", kOle),
                       sysColumn("LvExtra", kOle)};
    objects.indexes = {sysIndex("ParentIdName", {"ParentId", "Name"}, 0x81, false), sysIndex("Id", {"Id"}, 0x81, true)};
    TableRequest aces{"MSysACEs", {}, {}, true, kSystem};
    aces.columns = {sysColumn("ObjectId", kLong), sysColumn("SID", kBinary, 510, 0x30), sysColumn("ACM", kLong),
                    sysColumn("FInheritable", kBoolean)};
    aces.indexes = {sysIndex("ObjectId", {"ObjectId"}, 0x88, false)};
    TableRequest queries{"MSysQueries", {}, {}, true, kSystem};
    queries.columns = {sysColumn("ObjectId", kLong),       sysColumn("Attribute", kByte),
                       sysColumn("Order", kBinary, 510),   sysColumn("Name1", kText, 255),
                       sysColumn("Name2", kText, 255),     sysColumn("Expression", kMemo),
                       sysColumn("Flag", kInteger),        sysColumn("LvExtra", kLong)};
    queries.indexes = {sysIndex("ObjectIdAttribute", {"ObjectId", "Attribute", "Order"}, 0x81, true)};
    TableRequest relationships{"MSysRelationships", {}, {}, true, kSystem};
    relationships.columns = {sysColumn("szRelationship", kText, 255), sysColumn("grbit", kLong),
                             sysColumn("ccolumn", kLong),            sysColumn("icolumn", kLong),
                             sysColumn("szObject", kText, 255),      sysColumn("szColumn", kText, 255),
                             sysColumn("szReferencedObject", kText, 255),
                             sysColumn("szReferencedColumn", kText, 255)};
    relationships.indexes = {sysIndex("szRelationship", {"szRelationship"}, 0x82, false),
                             sysIndex("szObject", {"szObject"}, 0x82, false),
                             sysIndex("szReferencedObject", {"szReferencedObject"}, 0x82, false)};
    // The four definitions sit on pages 2 to 5, as in every Access file.
    const std::uint32_t pages[4] = {w.allocatePage(), w.allocatePage(), w.allocatePage(), w.allocatePage()};
    w.buildTable(objects, pages[0]);
    w.buildTable(aces, pages[1]);
    w.buildTable(queries, pages[2]);
    w.buildTable(relationships, pages[3]);
}

// ---- the engine's tables for attachment and multi-value fields (.accdb) ----
//
// MSysComplexColumns has one row per attachment or multi-value field of the
// database (none in a new file); each such field keeps its values in a
// hidden table whose value columns are copied from one of the nine
// MSysComplexType_* templates.  Access builds these the way it builds its
// own tables: table type 'N' although the catalog marks them system
// objects, descriptors kept sorted by name, and on the template tables
// plain (non-system) column flags.
//
// What a blank .accdb holds besides is Access's, not the engine's: the
// MSysNavPane* tables, MSysAccessStorage, MSysAccessObjects, MSysResources
// with the hidden table of its attachment field, and on newer versions the
// MSysWSDP* tables are made by the Access program when it first opens or
// saves the file, along with the AccessLayout / SummaryInfo / UserDefined
// property holders.  A file without them is what the database engine alone
// creates, and Access adds them itself.

constexpr std::uint32_t kComplexTemplateFlags = 0x80030000u;

struct EngineTable {
    std::string name;
    std::uint32_t page = 0;
    std::uint32_t flags = 0;
};

std::string folded(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// Brings a definition made from a request to the form Access gives these
// tables: type 'N'; on each fixed column the variable-column index slot
// holds the number of variable columns before it; descriptors (and the
// long-value map entries with them) in name order.
void storeAsAccessDoes(JetWriter& w, std::uint32_t page, const std::string& name,
                       const std::function<void(TableDefinition&)>& adjust = {}) {
    TableDefinition& def = w.definition(page, name);
    def.head[40] = 0x4E;
    if (adjust) adjust(def);
    for (WColumn& c : def.columns) {
        if (!c.fixed()) continue;
        std::uint16_t before = 0;
        for (const WColumn& o : def.columns) before += !o.fixed() && o.number() < c.number();
        put16(&c.raw[7], before);
    }
    // A new vector, so that the definition's cached column order is rebuilt.
    std::vector<WColumn> sorted(def.columns);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const WColumn& a, const WColumn& b) { return folded(a.name) < folded(b.name); });
    def.columns.swap(sorted);
    auto position = [&](std::uint16_t number) {
        for (std::size_t i = 0; i < def.columns.size(); ++i)
            if (def.columns[i].number() == number) return i;
        return def.columns.size();
    };
    std::stable_sort(def.lvMaps.begin(), def.lvMaps.end(), [&](const WLongValueMaps& a, const WLongValueMaps& b) {
        return position(a.column) < position(b.column);
    });
    w.saveDefinition(def);
}

std::vector<EngineTable> buildComplexColumnTables(JetWriter& w) {
    std::vector<EngineTable> made;

    TableRequest columns{"MSysComplexColumns", {}, {}, true, kSystem};
    ColumnRequest complexId = sysColumn("ComplexID", kLong);
    complexId.autoNumber = true;
    columns.columns = {sysColumn("ColumnName", kText, 255), sysColumn("ComplexTypeObjectID", kLong),
                       sysColumn("FlatTableID", kLong), sysColumn("ConceptualTableID", kLong), complexId};
    columns.indexes = {sysIndex("IdxID", {"ComplexID"}, 0x8B, true),
                       sysIndex("IdxConceptualTableID", {"ConceptualTableID"}, 0x8A, false),
                       sysIndex("IdxFlatTableID", {"FlatTableID"}, 0x8A, false)};
    made.push_back({columns.name, w.buildTable(columns), kSystem});
    storeAsAccessDoes(w, made.back().page, columns.name);

    struct Template {
        const char* kind;
        std::uint8_t type;
        int length;
    };
    static const Template values[] = {{"UnsignedByte", kByte, 0}, {"Short", kInteger, 0}, {"Long", kLong, 0},
                                      {"IEEESingle", kSingle, 0}, {"IEEEDouble", kDouble, 0}, {"GUID", kGuid, 0},
                                      {"Decimal", kNumeric, 0},   {"Text", kText, 255}};
    for (const Template& t : values) {
        TableRequest r{std::string("MSysComplexType_") + t.kind, {}, {}, true, kComplexTemplateFlags};
        r.columns = {sysColumn("Value", t.type, t.length, 0)};
        made.push_back({r.name, w.buildTable(r), kComplexTemplateFlags});
        if (t.type != kNumeric) {
            storeAsAccessDoes(w, made.back().page, r.name);
            continue;
        }
        // The Decimal template's value is a variable-length column of at
        // most 9 bytes (precision 18, scale 0), unlike a table's Decimal field.
        storeAsAccessDoes(w, made.back().page, r.name, [](TableDefinition& def) {
            std::uint8_t* d = def.columns.front().raw.data();
            d[15] = std::uint8_t(d[15] & ~0x01);
            put16(d + 7, 0);
            put16(d + 21, 0);
            put16(d + 23, 9);
            put16(&def.head[43], 1);
        });
    }

    TableRequest attachment{"MSysComplexType_Attachment", {}, {}, true, kComplexTemplateFlags};
    attachment.columns = {sysColumn("FileURL", kMemo, 0, 0),       sysColumn("FileName", kText, 255, 0),
                          sysColumn("FileType", kText, 255, 0),    sysColumn("FileData", kOle, 0, 0),
                          sysColumn("FileTimeStamp", kDateTime, 0, 0), sysColumn("FileFlags", kLong, 0, 0)};
    made.push_back({attachment.name, w.buildTable(attachment), kComplexTemplateFlags});
    // Every attachment column carries extended flag 0x10.
    storeAsAccessDoes(w, made.back().page, attachment.name, [](TableDefinition& def) {
        for (WColumn& c : def.columns) c.raw[16] = 0x10;
    });
    return made;
}

void addSystemRows(JetWriter& w, bool ace) {
    const Sids s = sidsFor(ace);
    const double now = nowAsAccessDate();
    TableDefinition& objects = w.definition(2, "MSysObjects");
    // An empty owner is stored as no owner at all.
    auto object = [&](std::int32_t id, std::int32_t parent, const std::string& name, std::int16_t type,
                      std::uint32_t flags, const std::string& owner, const std::string& props = {}) {
        std::vector<Value> row(17, Value::null());
        row[0] = Value::longInt(id);
        row[1] = Value::longInt(parent);
        row[2] = Value::string(name);
        row[3] = Value::integer(type);
        row[4] = Value::date(now);
        row[5] = Value::date(now);
        if (!owner.empty()) row[6] = Value::binary(owner);
        row[7] = Value::longInt(std::int32_t(flags));
        if (!props.empty()) row[14] = Value::binary(props);
        w.insertRow(objects, row);
    };
    object(kTables, kRoot, "Tables", 3, kSystem, s.engine);
    object(kDatabases, kRoot, "Databases", 3, kSystem, s.engine);
    object(kRelationships, kRoot, "Relationships", 3, kSystem, s.engine);
    // With the first catalog page taken, the complex-column tables come
    // next, so their definitions sit on the pages Access puts them on
    // (MSysComplexColumns on 18, the templates from 23 on).
    const std::vector<EngineTable> complex = ace ? buildComplexColumnTables(w) : std::vector<EngineTable>{};
    object(kMSysDb, kDatabases, "MSysDb", 2, kSystem, s.admin, msysDbProperties());
    object(2, kTables, "MSysObjects", 1, kSystem, s.engine);
    object(3, kTables, "MSysACEs", 1, kSystem, s.engine);
    object(4, kTables, "MSysQueries", 1, kSystem, s.engine);
    object(5, kTables, "MSysRelationships", 1, kSystem, s.engine);
    // Access records no owner for these.
    for (const EngineTable& t : complex) object(std::int32_t(t.page), kTables, t.name, 1, t.flags, std::string());
    const char* containers[] = {"DataAccessPages", "Forms", "Modules", "Reports", "Scripts", "SysRel"};
    for (int k = 0; k < 6; ++k) object(std::int32_t(0x80000000u + std::uint32_t(k)), kRoot, containers[k], 3, 0, s.admin);

    TableDefinition& aces = w.definition(3, "MSysACEs");
    auto ace_ = [&](std::int32_t id, const std::string& sid, std::int32_t acm, bool inheritable) {
        std::vector<Value> row = {Value::longInt(id), Value::binary(sid), Value::longInt(acm),
                                  Value::boolean(inheritable)};
        w.insertRow(aces, row);
    };
    for (int k = 0; k < 6; ++k) {
        const std::int32_t id = std::int32_t(0x80000000u + std::uint32_t(k));
        ace_(id, s.admins, 0xFFFFF, true);
        ace_(id, s.creator, 0xFFFFF, true);
        ace_(id, s.admin, 0xFFFFF, true);
        ace_(id, s.users, 0xFFFFF, true);
    }
    ace_(kDatabases, s.admin, 393216, false);
    ace_(kRelationships, s.users, 983294, true);
    ace_(kRelationships, s.admin, 393217, false);
    ace_(kRelationships, s.creator, 1048575, true);
    ace_(kRelationships, s.admins, 1048575, true);
    ace_(kTables, s.users, 983294, true);
    ace_(kTables, s.admin, 1048319, true);
    ace_(kTables, s.creator, 1048319, true);
    ace_(kTables, s.admins, 1048319, true);
    ace_(kMSysDb, s.admin, 393230, false);
    ace_(kMSysDb, s.admins, 14, false);
    ace_(kMSysDb, s.creator, 393230, false);
    ace_(2, s.admin, 393216, false);
    ace_(2, s.creator, 393300, false);
    ace_(2, s.admins, 20, false);
    ace_(3, s.admin, 393216, false);
    ace_(3, s.creator, 393300, false);
    ace_(4, s.admin, 393216, false);
    ace_(4, s.creator, 393236, false);
    ace_(4, s.admins, 20, false);
    ace_(5, s.admin, 917504, false);
    ace_(5, s.creator, 393236, false);
    ace_(5, s.admins, 20, false);
    // The complex-column tables get the rights MSysQueries has.
    for (const EngineTable& t : complex) {
        ace_(std::int32_t(t.page), s.admin, 393216, false);
        ace_(std::int32_t(t.page), s.creator, 393236, false);
        ace_(std::int32_t(t.page), s.admins, 20, false);
    }
}

void buildNewDatabase(const std::string& path, bool ace, const std::string& password) {
    const double created = nowAsAccessDate();
    auto store = PageStore::createFile(path, headerPage(ace, created, password), password);
    JetWriter w(std::move(store));
    // Page 1: the page usage map (row 0, bit set = page free) and its
    // unexplained companion row (all zero).
    const std::uint32_t one = w.store().append();
    {
        std::uint8_t* p = w.store().write(one);
        const std::size_t row = w.format().usageMapRow, hdr = w.format().dataHeader;
        p[0] = kPageData;
        p[1] = 0x01;
        put32(p + 4, 1);
        put16(p + hdr - 2, 2);
        const std::size_t r0 = 4096 - row, r1 = r0 - row;
        put16(p + hdr, std::uint16_t(r0));
        put16(p + hdr + 2, std::uint16_t(r1));
        put16(p + 2, std::uint16_t(r1 - (hdr + 4)));
        p[r0] = 0x00;
        put32(p + r0 + 1, 0);
        std::memset(p + r0 + 5, 0xFF, row - 5);
        p[r0 + 5] = 0xFC; // pages 0 and 1 are in use
    }
    buildSystemTables(w);
    addSystemRows(w, ace);
    w.commit();
}

} // namespace

ColumnRequest columnRequestFor(const storage::ColumnSpec& spec, const std::string& table) {
    using storage::ColumnType;
    ColumnRequest c;
    c.name = spec.name;
    c.required = !spec.nullable;
    switch (spec.type) {
    case ColumnType::Boolean: c.type = kBoolean; break;
    case ColumnType::Byte: c.type = kByte; break;
    case ColumnType::Integer: c.type = kInteger; break;
    case ColumnType::Long: c.type = kLong; c.autoNumber = spec.autoIncrement; break;
    case ColumnType::BigInt: c.type = kBigInt; break;
    case ColumnType::Single: c.type = kSingle; break;
    case ColumnType::Double:
    case ColumnType::Float: c.type = kDouble; break;
    case ColumnType::Currency: c.type = kCurrency; break;
    case ColumnType::Decimal:
        c.type = kNumeric;
        c.precision = spec.precision ? spec.precision : 18;
        c.scale = spec.scale;
        break;
    case ColumnType::DateTime:
    case ColumnType::Date: c.type = kDateTime; break;
    case ColumnType::Char:
    case ColumnType::VarChar:
        c.type = kText;
        c.length = spec.size ? spec.size : 255;
        if (c.length > 255) c.type = kMemo;
        break;
    case ColumnType::Memo: c.type = kMemo; break;
    case ColumnType::Binary:
        c.type = kBinary;
        c.length = spec.size ? spec.size : 255;
        if (c.length > 510) c.type = kOle;
        break;
    case ColumnType::LongBinary:
    case ColumnType::Blob: c.type = kOle; break;
    case ColumnType::Guid: c.type = kGuid; c.guidAutoNumber = spec.autoIncrement; break;
    default:
        throw Error("table " + table + ", column " + spec.name + ": this type cannot be stored in an Access table");
    }
    if (spec.autoIncrement && spec.type != ColumnType::Long && spec.type != ColumnType::Guid)
        throw Error("table " + table + ", column " + spec.name + ": only Long Integer fields can be AutoNumbers");
    return c;
}

namespace {

// A scan that keeps the reader it came from alive: a change reopens the
// reader for later reads, while a scan already running (the source of a
// SELECT ... INTO, say) goes on over the reader it started with.
class KeepAliveCursor : public storage::RowCursor {
public:
    KeepAliveCursor(std::shared_ptr<storage::Database> owner, std::unique_ptr<storage::RowCursor> inner)
        : owner_(std::move(owner)), inner_(std::move(inner)) {}
    const std::vector<storage::ColumnDef>& columns() const override { return inner_->columns(); }
    bool next() override { return inner_->next(); }
    const Value& value(std::size_t column) override { return inner_->value(column); }
    std::uint64_t rowId() const override { return inner_->rowId(); }
    bool complexItems(std::size_t column, std::vector<storage::ComplexItem>& out) override {
        return inner_->complexItems(column, out);
    }

private:
    std::shared_ptr<storage::Database> owner_; // outlives inner_: declared first
    std::unique_ptr<storage::RowCursor> inner_;
};

std::unique_ptr<storage::RowCursor> scanKeepingAlive(const std::shared_ptr<storage::Database>& db,
                                                     std::string_view table) {
    return std::make_unique<KeepAliveCursor>(db, db->scan(table));
}

// A table's primary key and indexes in the seam's form (primary key first;
// the hidden indexes of relationships left out).
std::vector<storage::IndexSpec> indexesOf(const TableDefinition& def) {
    std::vector<storage::IndexSpec> out;
    for (const WLogicalIndex& l : def.logicalIndexes) {
        if (l.kind() == 2 || l.realIndex() >= def.realIndexes.size()) continue;
        const WRealIndex& r = def.realIndexes[l.realIndex()];
        storage::IndexSpec s;
        s.name = l.name;
        s.primaryKey = l.kind() == 1;
        s.unique = r.unique();
        s.ignoreNulls = r.ignoreNulls();
        s.required = r.required() && !s.primaryKey;
        bool anyDescending = false;
        for (const WIndexColumn& ic : r.columns) {
            const WColumn* c = def.column(ic.number);
            s.columns.push_back(c ? c->name : std::to_string(ic.number));
            s.descending.push_back(!ic.ascending);
            anyDescending = anyDescending || !ic.ascending;
        }
        if (!anyDescending) s.descending.clear();
        if (s.primaryKey) out.insert(out.begin(), std::move(s));
        else out.push_back(std::move(s));
    }
    return out;
}

IndexRequest indexRequestFor(const storage::IndexSpec& index, const std::string& table, const std::string& path) {
    const std::string where = path + ": table " + table + ": cannot create the index " + index.name;
    if (!index.expression.empty() && index.columns.empty())
        throw Error(where + ": its key is the expression " + index.expression +
                    "; an Access index is made of columns");
    if (!index.filter.empty())
        throw Error(where + ": it holds only the rows where " + index.filter + "; an Access index has no filter");
    if (!index.collation.empty() && !storage::namesEqual(index.collation, "machine"))
        throw Error(where + ": it orders text by the collating sequence " + index.collation +
                    ", which an Access index does not have");
    IndexRequest ir;
    ir.name = index.name.empty() ? (index.primaryKey ? "PrimaryKey" : index.columns.front()) : index.name;
    for (std::size_t i = 0; i < index.columns.size(); ++i) ir.columns.push_back({index.columns[i], !index.isDescending(i)});
    ir.primaryKey = index.primaryKey;
    ir.unique = index.unique || index.primaryKey;
    ir.ignoreNulls = index.ignoreNulls;
    ir.required = index.required;
    return ir;
}

// What the writer holds and has not committed, for the reader beside it.
// A scan may outlive the writer (its cursor keeps the reader alive): from
// then on the reader reads only the file.
class WriterPages : public PageOverlay {
public:
    explicit WriterPages(PageStore& store) : store_(&store) {}
    void detach() {
        count_ = store_->pageCount();
        store_ = nullptr;
    }
    std::uint32_t pageCount() const override { return store_ ? store_->pageCount() : count_; }
    const std::uint8_t* page(std::uint32_t n) const override { return store_ ? store_->peek(n) : nullptr; }

private:
    PageStore* store_;
    std::uint32_t count_ = 0;
};

// The engine's storage::Database for files it may write: reading is the
// reader's (reopened after each change, reading the writer's uncommitted
// pages through the file), writing goes to the JetWriter.
class WritableDatabase : public storage::Database {
public:
    WritableDatabase(const std::string& path, const storage::OpenOptions& options)
        : path_(path), options_(options),
          writer_(std::make_unique<JetWriter>(std::make_unique<PageStore>(path, options.password))),
          pages_(std::make_shared<WriterPages>(writer_->store())) {
        options_.readOnly = true; // for the reader beside the writer
    }
    ~WritableDatabase() override { pages_->detach(); }

    const std::string& path() const override { return path_; }
    std::vector<storage::CatalogEntry> catalog() override { return reader().catalog(); }
    std::optional<storage::CatalogEntry> find(std::string_view name) override { return reader().find(name); }
    std::vector<storage::ColumnDef> columns(std::string_view table) override { return reader().columns(table); }
    std::unique_ptr<storage::RowCursor> scan(std::string_view table) override {
        reader();
        return scanKeepingAlive(reader_, table);
    }
    std::uint64_t rowCount(std::string_view table) override { return reader().rowCount(table); }
    std::string querySql(std::string_view name) override { return reader().querySql(name); }

    void createTable(const storage::TableSpec& spec) override {
        TableRequest r;
        r.name = spec.name;
        for (const auto& c : spec.columns) r.columns.push_back(columnRequestFor(c, spec.name));
        for (const auto& i : spec.indexes) {
            IndexRequest ir = indexRequestFor(i, spec.name, path_);
            ir.name = i.name;
            r.indexes.push_back(std::move(ir));
        }
        catalogChanged();
        writer_->createTable(r);
    }
    void dropTable(std::string_view name) override {
        catalogChanged();
        writer_->dropTable(std::string(name));
    }
    void renameObject(std::string_view oldName, std::string_view newName) override {
        catalogChanged();
        writer_->renameObject(std::string(oldName), std::string(newName));
    }
    void append(std::string_view table, std::span<const Value> row) override {
        refuseSystemTable(table);
        changed();
        writer_->append(std::string(table), row);
    }
    void update(std::string_view table, std::uint64_t rowId, std::span<const Value> row) override {
        refuseSystemTable(table);
        changed();
        writer_->update(std::string(table), rowId, row);
    }
    void remove(std::string_view table, std::uint64_t rowId) override {
        refuseSystemTable(table);
        changed();
        writer_->remove(std::string(table), rowId);
    }
    void createView(std::string_view name, std::string_view sql) override {
        catalogChanged();
        writer_->createQuery(std::string(name), std::string(sql));
    }
    void dropView(std::string_view name) override {
        catalogChanged();
        writer_->dropQuery(std::string(name));
    }
    void beginBatch() override { writer_->beginBatch(); }
    void endBatch() override {
        // A batch that cannot be made durable is undone: the reader must not
        // keep what it read of it.
        changed();
        writer_->endBatch();
    }

    std::vector<storage::IndexSpec> indexes(std::string_view table) override {
        return indexesOf(writer_->tableNamed(std::string(table)));
    }
    void createIndex(std::string_view table, const storage::IndexSpec& index) override {
        refuseSystemTable(table);
        changed();
        writer_->createIndex(std::string(table), indexRequestFor(index, std::string(table), path_));
    }
    void dropIndex(std::string_view table, std::string_view name) override {
        refuseSystemTable(table);
        changed();
        writer_->dropIndex(std::string(table), std::string(name));
    }

private:
    void changed() { reader_.reset(); }
    void catalogChanged() {
        changed();
        writableTable_.clear();
    }
    // Some system tables are stored as ordinary ones (MSysComplexColumns and
    // the complex-type templates of an .accdb, Access's navigation pane
    // tables); the catalog flags tell them apart.  Rows are written one call
    // at a time, so the last table found writable is remembered.
    void refuseSystemTable(std::string_view table) {
        if (!writableTable_.empty() && writableTable_ == table) return;
        const auto o = writer_->findObject(kTables, std::string(table));
        if (o && o->type == 1 && (o->flags & (kSystem | kAccessSystem)))
            throw Error(path_ + ": " + o->name + " is a system table and cannot be changed");
        writableTable_ = table;
    }

    storage::Database& reader() {
        // Reading inside a batch sees the batch's work so far: the writer
        // puts what it holds decoded into its pages, and the reader takes
        // the changed pages from it.  Nothing is made durable for a read.
        // Every change drops the reader, so one that is there saw the latest.
        if (!reader_) {
            writer_->settle();
            reader_ = std::make_shared<JetDatabase>(path_, options_, pages_);
        }
        return *reader_;
    }

    std::string path_;
    storage::OpenOptions options_;
    std::unique_ptr<JetWriter> writer_;
    std::shared_ptr<WriterPages> pages_;
    std::shared_ptr<storage::Database> reader_;
    std::string writableTable_;
};

// Reading first, writing from the first change on.
class ReadWriteDatabase : public storage::Database {
public:
    ReadWriteDatabase(const std::string& path, const storage::OpenOptions& options)
        : path_(path), options_(options) {
        recoverLeftoverJournal(path);
        reader_ = std::make_shared<JetDatabase>(path, readOnly(options));
    }

    const std::string& path() const override { return path_; }
    std::vector<storage::CatalogEntry> catalog() override { return reading().catalog(); }
    std::optional<storage::CatalogEntry> find(std::string_view name) override { return reading().find(name); }
    std::vector<storage::ColumnDef> columns(std::string_view table) override { return reading().columns(table); }
    std::unique_ptr<storage::RowCursor> scan(std::string_view table) override {
        return writer_ ? writer_->scan(table) : scanKeepingAlive(reader_, table);
    }
    std::uint64_t rowCount(std::string_view table) override { return reading().rowCount(table); }
    std::string querySql(std::string_view name) override { return reading().querySql(name); }

    void createTable(const storage::TableSpec& spec) override { writing().createTable(spec); }
    void dropTable(std::string_view name) override { writing().dropTable(name); }
    void renameObject(std::string_view a, std::string_view b) override { writing().renameObject(a, b); }
    void append(std::string_view t, std::span<const Value> row) override { writing().append(t, row); }
    void update(std::string_view t, std::uint64_t id, std::span<const Value> row) override {
        writing().update(t, id, row);
    }
    void remove(std::string_view t, std::uint64_t id) override { writing().remove(t, id); }
    void createView(std::string_view name, std::string_view sql) override { writing().createView(name, sql); }
    void dropView(std::string_view name) override { writing().dropView(name); }
    // A batch opened before the first change is handed to the writer when
    // it comes: a script that only reads never needs one (and an Access 97
    // file, which can't be written here, can still be read by scripts).
    void beginBatch() override {
        ++batchDepth_;
        if (writer_) writer_->beginBatch();
    }
    void endBatch() override {
        if (batchDepth_ == 0) return;
        --batchDepth_;
        if (writer_) writer_->endBatch();
    }
    std::vector<storage::IndexSpec> indexes(std::string_view table) override { return reading().indexes(table); }
    void createIndex(std::string_view t, const storage::IndexSpec& index) override { writing().createIndex(t, index); }
    void dropIndex(std::string_view t, std::string_view name) override { writing().dropIndex(t, name); }

private:
    static storage::OpenOptions readOnly(storage::OpenOptions o) {
        o.readOnly = true;
        return o;
    }
    storage::Database& reading() { return writer_ ? *writer_ : *reader_; }
    storage::Database& writing() {
        if (!writer_) {
            writer_ = std::make_unique<WritableDatabase>(path_, options_);
            reader_.reset();
            for (int i = 0; i < batchDepth_; ++i) writer_->beginBatch();
        }
        return *writer_;
    }

    std::string path_;
    storage::OpenOptions options_;
    std::shared_ptr<storage::Database> reader_;
    std::unique_ptr<storage::Database> writer_;
    int batchDepth_ = 0;
};

} // namespace

void recoverLeftoverJournal(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(Journal::pathFor(path), ec)) return;
    try {
        PageStore store(path, std::string()); // opening rolls the journal back
    } catch (const Error& e) {
        if (std::filesystem::exists(Journal::pathFor(path), ec))
            throw Error(path + ": a change to this database was cut short and must be undone first, which failed: " +
                        e.what());
        // Undone; whatever else was wrong (a password, say) is for the caller's open to report.
    }
}

// Listing keys reads the definition from the reader's pages: it does not
// open the file for writing.
std::vector<storage::IndexSpec> JetDatabase::indexes(std::string_view table) {
    const auto def = tableDef(table);
    if (format().version == Version::Jet3)
        throw Error(path() + ": table " + def->name + ": the keys of Access 97 (Jet 3) tables are not read by this program");
    PageRef held;
    return indexesOf(readDefinition(
        path(), format().pageSize,
        [&](std::uint32_t n) {
            held = pages().page(n);
            return held->data();
        },
        def->tdefPage, def->name));
}

std::unique_ptr<storage::Database> openReadWrite(const std::string& path, const storage::OpenOptions& options) {
    return std::make_unique<ReadWriteDatabase>(path, options);
}

std::unique_ptr<storage::Database> openForWriting(const std::string& path, const storage::OpenOptions& options) {
    return std::make_unique<WritableDatabase>(path, options);
}

std::unique_ptr<storage::Database> createDatabase(const std::string& path, NewFileFormat format,
                                                  const std::string& password) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(path, ec)) throw Error(path + ": a file of that name already exists");
    const fs::path target(path);
    const fs::path temp = target.parent_path() / ("." + target.filename().string() + "." + std::to_string(::getpid()) + ".tmp" +
                                                  (format == NewFileFormat::Ace12Accdb ? ".accdb" : ".mdb"));
    try {
        buildNewDatabase(temp.string(), format == NewFileFormat::Ace12Accdb, password);
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
    // Into place without replacing a file that appeared meanwhile.
    if (::link(temp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        fs::remove(temp, ec);
        if (e == EEXIST) throw Error(path + ": a file of that name already exists");
        throw Error(path + ": creating the database failed: " + std::strerror(e));
    }
    fs::remove(temp, ec);
    syncParentFolder(path);
    storage::OpenOptions options;
    options.password = password;
    return openForWriting(path, options);
}

} // namespace qm::jet
