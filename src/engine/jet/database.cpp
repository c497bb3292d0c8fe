#include "database.h"
#include "create_database.h"

#include "column_types.h"
#include "properties.h"
#include "query_sql.h"
#include "table_scan.h"

#include <algorithm>
#include <set>

namespace qm::jet {

namespace {

std::string folded(std::string_view s) {
    std::string r(s);
    for (char& ch : r)
        if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
    return r;
}

} // namespace

JetDatabase::JetDatabase(const std::string& path, const storage::OpenOptions& options)
    : JetDatabase(path, options, nullptr) {}

JetDatabase::JetDatabase(const std::string& path, const storage::OpenOptions& options,
                         std::shared_ptr<const PageOverlay> overlay)
    : src_(std::make_unique<PageSource>(path, options.password, 256, std::move(overlay))) {
    std::vector<CatalogObject> objects = readObjects(*src_);

    // Which queries take parameters (attribute 2 rows in MSysQueries).
    std::set<std::int32_t> withParameters;
    for (const CatalogObject& o : objects) {
        objectNames_[o.id] = o.name;
        if (o.type != 1 || o.parentId != kTablesContainer) continue;
        if (storage::namesEqual(o.name, "MSysQueries")) queriesTdef_ = o.tdefPage();
        if (storage::namesEqual(o.name, "MSysComplexColumns")) complexColumnsTdef_ = o.tdefPage();
    }
    if (queriesTdef_ != 0) {
        TableDef t = readTableDef(*src_, queriesTdef_, "MSysQueries");
        std::vector<bool> wanted(t.columns.size(), false);
        int idCol = -1, attrCol = -1;
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            if (storage::namesEqual(t.columns[i].name, "ObjectId")) idCol = int(i), wanted[i] = true;
            if (storage::namesEqual(t.columns[i].name, "Attribute")) attrCol = int(i), wanted[i] = true;
        }
        if (idCol >= 0 && attrCol >= 0) {
            TableScanner scan(*src_, t);
            RowDecoder dec(*src_, t);
            dec.setWanted(wanted);
            std::vector<Value> row;
            while (scan.next()) {
                dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
                const Value& a = row[std::size_t(attrCol)];
                const Value& id = row[std::size_t(idCol)];
                if (!a.isNull() && a.rawInt() == 2 && !id.isNull()) withParameters.insert(std::int32_t(id.rawInt()));
            }
        }
    }

    std::vector<Entry> listed, unlisted;
    for (CatalogObject& o : objects) {
        if (o.parentId != kTablesContainer) continue;
        Entry e;
        e.entry.name = o.name;
        e.entry.kind = objectKind(o, withParameters.count(o.id) > 0, e.entry.tableType, e.entry.queryKind);
        if (e.entry.kind == storage::ObjectKind::Other) continue;
        e.object = std::move(o);
        (e.entry.tableType.empty() ? unlisted : listed).push_back(std::move(e));
    }
    // The provider's table schema is sorted by TABLE_TYPE, then by name; the
    // queries it does not list (action, parameter, union, ...) follow by name.
    auto byName = [](const Entry& a, const Entry& b) { return folded(a.entry.name) < folded(b.entry.name); };
    std::stable_sort(listed.begin(), listed.end(), [&](const Entry& a, const Entry& b) {
        if (a.entry.tableType != b.entry.tableType) return a.entry.tableType < b.entry.tableType;
        return byName(a, b);
    });
    std::stable_sort(unlisted.begin(), unlisted.end(), byName);
    entries_ = std::move(listed);
    for (Entry& e : unlisted) entries_.push_back(std::move(e));
}

std::vector<storage::CatalogEntry> JetDatabase::catalog() {
    std::vector<storage::CatalogEntry> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) out.push_back(e.entry);
    return out;
}

const JetDatabase::Entry* JetDatabase::lookup(std::string_view name) const {
    for (const Entry& e : entries_)
        if (storage::namesEqual(e.entry.name, name)) return &e;
    return nullptr;
}

std::optional<storage::CatalogEntry> JetDatabase::find(std::string_view name) {
    const Entry* e = lookup(name);
    if (!e) return std::nullopt;
    return e->entry;
}

const JetDatabase::Entry& JetDatabase::requireTable(std::string_view name, const char* purpose) {
    const Entry* e = lookup(name);
    if (!e) throw Error(path() + ": there is no table called " + std::string(name));
    switch (e->entry.kind) {
    case storage::ObjectKind::Table:
    case storage::ObjectKind::SystemTable: return *e;
    case storage::ObjectKind::LinkedTable:
        throw Error(path() + ": " + e->entry.name + " is a linked table" +
                    (e->object.database.empty() ? std::string() : " (its data is in " + e->object.database + ")") +
                    "; its " + purpose + " cannot be read from this file");
    default:
        throw Error(path() + ": " + e->entry.name + " is a saved query, not a table; its " + purpose +
                    " cannot be read directly");
    }
}

std::shared_ptr<const TableDef> JetDatabase::tableDef(std::string_view table) {
    const Entry& e = requireTable(table, "definition");
    const std::uint32_t page = e.object.tdefPage();
    auto it = defs_.find(page);
    if (it != defs_.end()) return it->second;
    TableDef t = readTableDef(*src_, page, e.entry.name);
    // Calculated columns keep their result type in a column property.
    if (std::any_of(t.columns.begin(), t.columns.end(), [](const ColumnInfo& c) { return c.calculated(); })) {
        const PropertyMap props =
            parseProperties(readObjectProperties(*src_, e.object.id), src_->format().jet3, src_->codePage());
        for (ColumnInfo& c : t.columns) {
            if (!c.calculated()) continue;
            for (const auto& [child, values] : props) {
                if (!storage::namesEqual(child, c.name)) continue;
                auto it = values.find("ResultType");
                if (it != values.end() && !it->second.bytes.empty())
                    c.resultType = static_cast<std::uint8_t>(it->second.bytes[0]);
            }
        }
    }
    // Complex columns: what kind, from the template table MSysComplexColumns names.
    if (complexColumnsTdef_ != 0 &&
        std::any_of(t.columns.begin(), t.columns.end(), [](const ColumnInfo& c) { return c.type == kComplex; })) {
        TableDef cc = readTableDef(*src_, complexColumnsTdef_, "MSysComplexColumns");
        int idCol = -1, typeCol = -1, flatCol = -1;
        std::vector<bool> wanted(cc.columns.size(), false);
        for (std::size_t i = 0; i < cc.columns.size(); ++i) {
            if (storage::namesEqual(cc.columns[i].name, "ComplexID")) idCol = int(i), wanted[i] = true;
            if (storage::namesEqual(cc.columns[i].name, "ComplexTypeObjectID")) typeCol = int(i), wanted[i] = true;
            if (storage::namesEqual(cc.columns[i].name, "FlatTableID")) flatCol = int(i), wanted[i] = true;
        }
        if (idCol >= 0 && typeCol >= 0) {
            TableScanner scan(*src_, cc);
            RowDecoder dec(*src_, cc);
            dec.setWanted(wanted);
            std::vector<Value> row;
            while (scan.next()) {
                dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
                const Value& id = row[std::size_t(idCol)];
                const Value& type = row[std::size_t(typeCol)];
                if (id.type() != VarType::Long || type.type() != VarType::Long) continue;
                auto name = objectNames_.find(std::int32_t(type.rawInt()));
                if (name == objectNames_.end()) continue;
                std::string kind;
                const std::string& n = name->second;
                const std::string prefix = "MSysComplexType_";
                if (n == prefix + "Attachment")
                    kind = "Attachment";
                else if (n.rfind(prefix, 0) == 0)
                    kind = "Multi-value (" + n.substr(prefix.size()) + ")";
                else if (n.rfind("MSysComplexTypeVH_", 0) == 0)
                    kind = "Version history";
                // The hidden table with the entries: its Id names its TDEF page.
                std::uint32_t flatPage = 0;
                std::string flatName;
                if (flatCol >= 0 && row[std::size_t(flatCol)].type() == VarType::Long) {
                    auto flat = objectNames_.find(std::int32_t(row[std::size_t(flatCol)].rawInt()));
                    if (flat != objectNames_.end()) {
                        flatPage = std::uint32_t(flat->first) & 0x00FFFFFFu;
                        flatName = flat->second;
                    }
                }
                for (ColumnInfo& c : t.columns)
                    if (c.type == kComplex && c.complexId == std::uint32_t(id.rawInt())) {
                        c.complexKind = kind;
                        c.complexFlatTable = flatPage;
                        c.complexFlatName = flatName;
                    }
            }
        }
    }
    auto def = std::make_shared<const TableDef>(std::move(t));
    defs_.emplace(page, def);
    return def;
}

std::vector<storage::ColumnDef> JetDatabase::columns(std::string_view table) {
    auto def = tableDef(table);
    std::vector<storage::ColumnDef> out;
    out.reserve(def->columns.size());
    for (const ColumnInfo& c : def->columns) out.push_back(describeColumn(c, src_->format().jet3));
    return out;
}

std::unique_ptr<storage::RowCursor> JetDatabase::scan(std::string_view table) {
    auto def = tableDef(table);
    return std::make_unique<JetCursor>(*src_, def, columns(table));
}

std::uint64_t JetDatabase::rowCount(std::string_view table) {
    auto def = tableDef(table);
    TableScanner scan(*src_, *def);
    std::uint64_t n = 0;
    while (scan.next()) ++n;
    return n;
}

std::string JetDatabase::querySql(std::string_view name) {
    const Entry* e = lookup(name);
    if (!e) throw Error(path() + ": there is no saved query called " + std::string(name));
    if (e->object.type != 5) throw Error(path() + ": " + e->entry.name + " is a table, not a saved query");
    if (queriesTdef_ == 0) throw Error(path() + ": the database has no MSysQueries table");
    std::vector<QueryRow> rows = readQueryRows(*src_, queriesTdef_, e->object.id);
    return buildQuerySql(rows, path() + ": query " + e->entry.name);
}

void JetDatabase::readOnly() const { throw Error(path() + ": this database is open read-only"); }
void JetDatabase::createTable(const storage::TableSpec&) { readOnly(); }
void JetDatabase::dropTable(std::string_view) { readOnly(); }
void JetDatabase::renameObject(std::string_view, std::string_view) { readOnly(); }
void JetDatabase::append(std::string_view, std::span<const Value>) { readOnly(); }
void JetDatabase::update(std::string_view, std::uint64_t, std::span<const Value>) { readOnly(); }
void JetDatabase::remove(std::string_view, std::uint64_t) { readOnly(); }
void JetDatabase::createView(std::string_view, std::string_view) { readOnly(); }
void JetDatabase::dropView(std::string_view) { readOnly(); }

std::unique_ptr<storage::Database> openDatabase(const std::string& path, const storage::OpenOptions& options) {
    // A change a crashed writer left half done is undone before anything is read.
    recoverLeftoverJournal(path);
    // Unless read-only was asked for, the writer takes over at the first
    // change (and only then takes the lock).
    if (!options.readOnly) return openReadWrite(path, options);
    return std::make_unique<JetDatabase>(path, options);
}

} // namespace qm::jet
