#include "xbase/dbc.h"

#include "xbase/cdx_maintain.h"
#include "xbase/codepage.h"
#include "xbase/dbf_table.h"
#include "xbase/file_io.h"
#include "storage/storage.h"
#include "value/value.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <filesystem>

namespace qm::xbase {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- property lists

DbcProperty DbcProperty::text(std::uint16_t id, std::string_view bytes) {
    DbcProperty p{id, std::string(bytes)};
    p.raw.push_back('\0');
    return p;
}
DbcProperty DbcProperty::logical(std::uint16_t id, bool value) { return DbcProperty{id, std::string(1, value ? 1 : 0)}; }
DbcProperty DbcProperty::byte(std::uint16_t id, std::uint8_t value) {
    return DbcProperty{id, std::string(1, static_cast<char>(value))};
}
DbcProperty DbcProperty::number(std::uint16_t id, std::int32_t value) {
    const std::uint32_t u = static_cast<std::uint32_t>(value);
    std::string raw;
    for (int i = 3; i >= 0; --i) raw += static_cast<char>((u >> (8 * i)) & 0xFF);
    return DbcProperty{id, raw};
}

std::string DbcProperty::asText() const { return std::string(raw.c_str(), strnlen(raw.c_str(), raw.size())); }

std::int64_t DbcProperty::asNumber() const {
    if (raw.size() == 1) return static_cast<unsigned char>(raw[0]);
    if (raw.size() == 4) {
        std::uint32_t u = 0;
        for (char c : raw) u = (u << 8) | static_cast<unsigned char>(c);
        return static_cast<std::int32_t>(u);
    }
    return 0;
}

std::vector<DbcProperty> decodeDbcProperties(std::string_view memo, std::string_view where) {
    std::vector<DbcProperty> out;
    std::size_t at = 0;
    while (at < memo.size()) {
        if (memo.size() - at < 7)
            throw Error(std::string(where) + ": the property list is damaged (" + std::to_string(memo.size() - at) +
                        " stray bytes at its end)");
        std::uint32_t len = 0;
        for (int i = 3; i >= 0; --i) len = (len << 8) | static_cast<unsigned char>(memo[at + i]);
        if (len < 7 || len > memo.size() - at)
            throw Error(std::string(where) + ": the property list is damaged (an entry of " + std::to_string(len) +
                        " bytes at offset " + std::to_string(at) + " of " + std::to_string(memo.size()) + ")");
        const std::uint16_t id = static_cast<std::uint16_t>((static_cast<unsigned char>(memo[at + 5]) << 8) |
                                                            static_cast<unsigned char>(memo[at + 6]));
        out.push_back(DbcProperty{id, std::string(memo.substr(at + 7, len - 7))});
        at += len;
    }
    return out;
}

std::string encodeDbcProperties(std::span<const DbcProperty> properties) {
    std::string out;
    for (const auto& p : properties) {
        const std::uint32_t len = static_cast<std::uint32_t>(p.raw.size() + 7);
        for (int i = 0; i < 4; ++i) out += static_cast<char>((len >> (8 * i)) & 0xFF);
        out += '\x01';
        out += static_cast<char>(p.id >> 8);
        out += static_cast<char>(p.id & 0xFF);
        out += p.raw;
    }
    return out;
}

const DbcProperty* findDbcProperty(std::span<const DbcProperty> properties, std::uint16_t id) {
    for (const auto& p : properties)
        if (p.id == id) return &p;
    return nullptr;
}

// ---------------------------------------------------------------- helpers

namespace {

constexpr std::int32_t kDatabaseId = 1;

bool sameName(std::string_view a, std::string_view b) { return storage::namesEqual(a, b); }

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// A path component matched ignoring case in `dir` (the name itself when none matches).
std::string matchInFolder(const std::string& dir, const std::string& name) {
    std::string found = name;
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string n = e->d_name;
            if (n == name) {
                found = n;
                break;
            }
            if (lowerAscii(n) == lowerAscii(name)) found = n;
        }
        ::closedir(d);
    }
    return found;
}

// The file a container path names, resolved from `base` ignoring case.
std::string resolveMember(const fs::path& base, const std::string& stored) {
    std::string rel = stored;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    fs::path p = fs::path(rel).is_absolute() ? fs::path("/") : base;
    for (const auto& part : fs::path(rel)) {
        const std::string s = part.string();
        if (s.empty() || s == "/") continue;
        if (s == "." || s == "..") {
            p /= s;
            continue;
        }
        p /= matchInFolder(p.string(), s);
    }
    return p.lexically_normal().string();
}

// `target` relative to the folder `from`, with backslashes as FoxPro writes.
std::string relativeWindowsPath(const fs::path& target, const fs::path& from) {
    const fs::path rel = fs::absolute(target).lexically_normal().lexically_relative(fs::absolute(from).lexically_normal());
    std::string s = rel.empty() ? fs::absolute(target).string() : rel.string();
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

// The two tags of every container's index.
std::vector<CdxTag> containerTags() {
    std::vector<CdxTag> tags(2);
    tags[0].name = "OBJECTNAME";
    tags[0].keyExpression = "STR(parentid)+objecttype+LOWER(objectname)";
    tags[0].forExpression = ".NOT.DELETED()";
    tags[0].keyLength = 148;
    tags[1].name = "OBJECTTYPE";
    tags[1].keyExpression = "STR(parentid)+objecttype";
    tags[1].forExpression = ".NOT.DELETED()";
    tags[1].keyLength = 20;
    return tags;
}

struct DbcFields {
    int objectId = -1, parentId = -1, type = -1, name = -1, property = -1, code = -1, riinfo = -1, user = -1;
};

} // namespace

// ---------------------------------------------------------------- Container

struct Container::Impl {
    std::string path;
    Mode mode = Mode::ReadOnly;
    std::unique_ptr<DbfTable> table;
    DbcFields f;
    std::vector<DbcObject> objects;
    const CodePage* cp = nullptr;

    std::string where(const DbcObject& o) const {
        return fileNameOf(table->memoPath()) + ", object " + std::to_string(o.objectId) + " '" + o.name + "'";
    }

    std::string decodeText(std::string_view bytes) const {
        std::string out;
        cp->decode(bytes, out);
        return out;
    }
    std::string encodeText(std::string_view utf8, const std::string& what) const {
        std::string out, bad;
        if (!cp->encode(utf8, out, &bad))
            throw Error(path + ": " + what + " holds the character '" + bad + "', which the container's code page " +
                        std::to_string(cp->number()) + " cannot store");
        return out;
    }

    void locateFields() {
        auto idx = [&](const char* n) { return table->fieldIndex(n); };
        f.objectId = idx("OBJECTID");
        f.parentId = idx("PARENTID");
        f.type = idx("OBJECTTYPE");
        f.name = idx("OBJECTNAME");
        f.property = idx("PROPERTY");
        f.code = idx("CODE");
        f.riinfo = idx("RIINFO");
        f.user = idx("USER");
        const auto& fs = table->fields();
        auto require = [&](int i, const char* name, char type) {
            if (i < 0 || fs[static_cast<std::size_t>(i)].type != type)
                throw Error(path + " is not a database container: the field " + std::string(name) + " (type " + type +
                            ") is missing");
        };
        require(f.objectId, "OBJECTID", 'I');
        require(f.parentId, "PARENTID", 'I');
        require(f.type, "OBJECTTYPE", 'C');
        require(f.name, "OBJECTNAME", 'C');
        require(f.property, "PROPERTY", 'M');
    }

    void load() {
        objects.clear();
        const auto& fs = table->fields();
        auto rd = table->reader(true);
        while (rd->next()) {
            const auto raw = rd->raw();
            DbcObject o;
            o.recno = rd->recno();
            o.deleted = rd->deleted();
            auto at = [&](int i) { return raw.data() + fs[static_cast<std::size_t>(i)].offset; };
            auto text = [&](int i) {
                const auto& fd = fs[static_cast<std::size_t>(i)];
                return decodeText(trimRight(std::string(reinterpret_cast<const char*>(at(i)), fd.length)));
            };
            std::memcpy(&o.objectId, at(f.objectId), 4);
            std::memcpy(&o.parentId, at(f.parentId), 4);
            o.type = text(f.type);
            o.name = text(f.name);
            std::memcpy(&o.propertyBlock, at(f.property), 4);
            if (f.riinfo >= 0) o.riinfo = text(f.riinfo);
            objects.push_back(std::move(o));
        }
    }

    std::vector<DbcProperty> props(const DbcObject& o) const {
        if (o.propertyBlock == 0) return {};
        std::string memo;
        try {
            memo = table->readMemo(o.propertyBlock);
        } catch (const Error& e) {
            throw Error(where(o) + ": its property list cannot be read (" + e.what() + ")");
        }
        return decodeDbcProperties(memo, where(o));
    }

    std::string propText(const std::vector<DbcProperty>& ps, std::uint16_t id) const {
        const DbcProperty* p = findDbcProperty(ps, id);
        return p ? decodeText(p->asText()) : std::string();
    }

    std::vector<DbcField> children(std::int32_t parent, const char* type) const {
        std::vector<DbcField> out;
        for (const auto& o : objects)
            if (!o.deleted && o.parentId == parent && o.type == type && o.objectId != parent)
                out.push_back(DbcField{o.name, o.objectId, props(o)});
        return out;
    }

    DbcTable makeTable(const DbcObject& o) const {
        DbcTable t;
        t.name = o.name;
        t.objectId = o.objectId;
        t.properties = props(o);
        t.path = propText(t.properties, dbc_prop::kPath);
        if (t.path.empty()) throw Error(where(o) + ": the table has no Path property");
        t.file = resolveMember(fs::path(path).parent_path(), t.path);
        t.primaryKey = propText(t.properties, dbc_prop::kPrimaryKey);
        t.comment = propText(t.properties, dbc_prop::kComment);
        t.fields = children(o.objectId, "Field");
        for (auto& ix : children(o.objectId, "Index")) {
            const DbcProperty* u = findDbcProperty(ix.properties, dbc_prop::kIsUnique);
            t.indexes.push_back(DbcIndex{ix.name, ix.objectId, u && u->asNumber() != 0});
        }
        return t;
    }

    DbcView makeView(const DbcObject& o) const {
        DbcView v;
        v.name = o.name;
        v.objectId = o.objectId;
        v.properties = props(o);
        const DbcProperty* cls = findDbcProperty(v.properties, dbc_prop::kObjectClass);
        const DbcProperty* src = findDbcProperty(v.properties, dbc_prop::kSourceType);
        v.remote = (cls && cls->asNumber() == 7) || (src && src->asNumber() == 2);
        v.sql = propText(v.properties, dbc_prop::kSql);
        v.tables = propText(v.properties, dbc_prop::kTables);
        v.connection = propText(v.properties, dbc_prop::kConnectName);
        v.fields = children(o.objectId, "Field");
        return v;
    }

    const DbcObject* findLive(std::string_view type, std::string_view name) const {
        for (const auto& o : objects)
            if (!o.deleted && o.parentId == kDatabaseId && o.type == type && sameName(o.name, name)) return &o;
        return nullptr;
    }

    void requireWritable() const {
        if (mode != Mode::ReadWrite) throw Error(path + " is open for reading only");
    }

    std::int32_t nextObjectId() const {
        std::int32_t id = static_cast<std::int32_t>(table->recordCount());
        for (const auto& o : objects) id = std::max(id, o.objectId);
        return id + 1;
    }

    // Appends one record; returns its object id.
    std::int32_t append(std::int32_t id, std::int32_t parent, const std::string& type, const std::string& name,
                        const std::vector<DbcProperty>& ps) {
        const std::string nameBytes = encodeText(name, "the name '" + name + "'");
        if (nameBytes.size() > table->fields()[static_cast<std::size_t>(f.name)].length)
            throw Error(path + ": the name '" + name + "' is longer than the 128 characters a container name may have");
        std::vector<Value> row(table->fields().size());
        row[static_cast<std::size_t>(f.objectId)] = Value::longInt(id);
        row[static_cast<std::size_t>(f.parentId)] = Value::longInt(parent);
        row[static_cast<std::size_t>(f.type)] = Value::string(type);
        row[static_cast<std::size_t>(f.name)] = Value::string(name);
        if (!ps.empty()) row[static_cast<std::size_t>(f.property)] = Value::binary(encodeDbcProperties(ps));
        table->append(row);
        return id;
    }

    // Runs a change as one transaction of the .dbc (its memo and index with it).
    template <typename F>
    void write(F&& change) {
        requireWritable();
        StructuralIndex index(*table);
        table->begin();
        try {
            change();
            table->commit();
        } catch (...) {
            if (table->inTransaction()) {
                try {
                    table->rollback();
                } catch (...) {
                }
            }
            load();
            throw;
        }
        load();
    }
};

Container::Container(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Container::~Container() = default;

std::unique_ptr<Container> Container::open(const std::string& dbcPath, Mode mode) {
    if (!fileExists(dbcPath)) throw Error("The database container " + dbcPath + " does not exist");
    auto impl = std::make_unique<Impl>();
    impl->path = dbcPath;
    impl->mode = mode;
    try {
        impl->table = DbfTable::open(dbcPath, mode == Mode::ReadWrite ? DbfTable::Mode::ReadWrite : DbfTable::Mode::ReadOnly);
    } catch (const Error& e) {
        throw Error(std::string("Cannot open the database container: ") + e.what());
    }
    if (impl->table->memoPath().empty())
        throw Error("The database container " + dbcPath + " has no memo file (.dct) beside it");
    impl->cp = &CodePage::get(impl->table->codePage());
    impl->locateFields();
    impl->load();
    if (mode == Mode::ReadWrite) {
        const std::string dcx = StructuralIndex::indexPathFor(dbcPath);
        if (!fileExists(dcx))
            throw Error("The database container " + dbcPath + " has lost its index " + dcx +
                        "; it cannot be changed safely");
    }
    return std::unique_ptr<Container>(new Container(std::move(impl)));
}

std::unique_ptr<Container> Container::create(const std::string& dbcPath) {
    if (fileExists(dbcPath)) throw Error("The database container " + dbcPath + " already exists");
    for (const char* ext : {".dct", ".dcx"})
        if (fileExists(companionPath(dbcPath, ext)))
            throw Error("Cannot make the database container " + dbcPath + ": the file " + companionPath(dbcPath, ext) +
                        " is in the way");
    // Built under a temporary name and put in place whole: another program
    // never finds the container without its memo or index.
    std::string built = DbfTable::buildingPath(fs::path(dbcPath).parent_path().string());
    built = built.substr(0, built.size() - 4) + ".dbc";
    build(built);
    try {
        DbfTable::renameFiles(built, dbcPath);
    } catch (...) {
        try {
            DbfTable::dropFiles(built);
        } catch (...) {
        }
        throw;
    }
    return open(dbcPath, Mode::ReadWrite);
}

void Container::build(const std::string& dbcPath) {
    std::vector<FieldSpec> fields = {
        {"OBJECTID", 'I', 4, 0, false, true},   {"PARENTID", 'I', 4, 0, false, true},
        {"OBJECTTYPE", 'C', 10, 0, false, false}, {"OBJECTNAME", 'C', 128, 0, false, false},
        {"PROPERTY", 'M', 4, 0, false, true},   {"CODE", 'M', 4, 0, false, true},
        {"RIINFO", 'C', 6, 0, false, false},    {"USER", 'M', 4, 0, false, false},
    };
    CreateOptions opt;
    opt.containerFile = true;
    opt.structuralCdx = true;
    opt.codePageMark = 0x03;
    opt.memoBlockSize = 64;
    {
        auto table = DbfTable::create(dbcPath, fields, opt);
        (void)table;
    }
    try {
        auto impl = std::make_unique<Impl>();
        impl->path = dbcPath;
        impl->mode = Mode::ReadWrite;
        impl->table = DbfTable::open(dbcPath, DbfTable::Mode::ReadWrite);
        impl->cp = &CodePage::get(impl->table->codePage());
        impl->locateFields();
        impl->table->begin();
        // The fixed records every container starts with; the Database
        // record's properties are those of a container FoxPro 9 makes.
        impl->append(1, 1, "Database", "Database",
                     {DbcProperty::number(dbc_prop::kVersion, 11), DbcProperty::text(dbc_prop::kComment, ""),
                      DbcProperty::byte(0x56, 1), DbcProperty::text(0x57, "")});
        impl->append(2, 1, "Database", "TransactionLog", {});
        impl->append(3, 1, "Database", "StoredProceduresSource", {});
        impl->append(4, 1, "Database", "StoredProceduresObject", {});
        impl->append(5, 1, "Database", "StoredProceduresDependencies", {});
        const std::vector<CdxTag> tags = containerTags();
        impl->table->commit();
        impl->table->begin();
        StructuralIndex::rebuild(*impl->table, StructuralIndex::indexPathFor(dbcPath), tags);
        impl->table->commit();
    } catch (...) {
        try {
            DbfTable::dropFiles(dbcPath);
            removeFile(StructuralIndex::indexPathFor(dbcPath));
        } catch (...) {
        }
        throw;
    }
}

const std::string& Container::path() const { return impl_->path; }
std::string Container::dctPath() const { return impl_->table->memoPath(); }
std::string Container::dcxPath() const { return StructuralIndex::indexPathFor(impl_->path); }
std::string Container::databaseName() const { return fs::path(impl_->path).stem().string(); }
const std::vector<DbcObject>& Container::objects() const { return impl_->objects; }

std::vector<DbcTable> Container::tables() const {
    std::vector<DbcTable> out;
    for (const auto& o : impl_->objects)
        if (!o.deleted && o.parentId == kDatabaseId && o.type == "Table") out.push_back(impl_->makeTable(o));
    return out;
}

std::vector<DbcView> Container::views() const {
    std::vector<DbcView> out;
    for (const auto& o : impl_->objects)
        if (!o.deleted && o.parentId == kDatabaseId && o.type == "View") out.push_back(impl_->makeView(o));
    return out;
}

std::optional<DbcTable> Container::findTable(std::string_view name) const {
    if (const DbcObject* o = impl_->findLive("Table", name)) return impl_->makeTable(*o);
    return std::nullopt;
}

std::optional<DbcView> Container::findView(std::string_view name) const {
    if (const DbcObject* o = impl_->findLive("View", name)) return impl_->makeView(*o);
    return std::nullopt;
}

std::string Container::viewSql(std::string_view name) const {
    const DbcObject* o = impl_->findLive("View", name);
    if (!o) throw Error(impl_->path + ": there is no view named '" + std::string(name) + "'");
    DbcView v = impl_->makeView(*o);
    if (!findDbcProperty(v.properties, dbc_prop::kSql))
        throw Error(impl_->where(*o) + ": the view has no SQL text");
    return v.sql;
}

std::vector<DbcProperty> Container::properties(const DbcObject& object) const { return impl_->props(object); }

std::string Container::backlinkFor(const std::string& dbfPath) const {
    return relativeWindowsPath(impl_->path, fs::absolute(dbfPath).parent_path());
}

std::string Container::pathPropertyFor(const std::string& dbfPath) const {
    const fs::path dbf = fs::path(dbfPath).is_absolute() ? fs::path(dbfPath) : fs::path(impl_->path).parent_path() / dbfPath;
    return lowerAscii(relativeWindowsPath(dbf, fs::absolute(impl_->path).parent_path()));
}

void Container::addTable(const NewDbcTable& t, const std::string& builtAt) {
    if (t.name.empty()) throw Error(impl_->path + ": a table needs a name");
    if (impl_->findLive("Table", t.name) || impl_->findLive("View", t.name))
        throw Error(impl_->path + ": the container already holds an object named '" + t.name + "'");
    for (std::size_t i = 0; i < t.fieldNames.size(); ++i)
        for (std::size_t j = i + 1; j < t.fieldNames.size(); ++j)
            if (sameName(t.fieldNames[i], t.fieldNames[j]))
                throw Error(impl_->path + ", table '" + t.name + "': the field name '" + t.fieldNames[i] +
                            "' is given twice");
    if (!t.primaryKey.empty()) {
        bool found = false;
        for (const auto& ix : t.indexes) found = found || sameName(ix.tag, t.primaryKey);
        if (!found)
            throw Error(impl_->path + ", table '" + t.name + "': the primary key tag '" + t.primaryKey +
                        "' is not among its indexes");
    }
    const std::string pathProp = pathPropertyFor(t.dbfPath);
    // FoxPro refuses a member whose columns or backlink do not match the
    // container ("duplicate or missing fields"); so does this program.
    const std::string file = fs::path(t.dbfPath).is_absolute()
                                 ? t.dbfPath
                                 : (fs::path(impl_->path).parent_path() / t.dbfPath).string();
    const std::string& existing = builtAt.empty() ? file : builtAt;
    if (!fileExists(existing))
        throw Error(impl_->path + ", table '" + t.name + "': its file " + existing + " does not exist");
    if (!builtAt.empty() && fs::path(builtAt).parent_path() != fs::path(file).parent_path())
        throw Error(impl_->path + ", table '" + t.name + "': it was built in another folder than " + file);
    {
        const auto member = DbfTable::open(existing);
        if (member->fields().size() != t.fieldNames.size())
            throw Error(impl_->path + ", table '" + t.name + "': " + std::to_string(t.fieldNames.size()) +
                        " field names were given for the " + std::to_string(member->fields().size()) +
                        " fields of " + file);
        if (lowerAscii(member->header().backlink) != lowerAscii(backlinkFor(file)))
            throw Error(impl_->path + ", table '" + t.name + "': " + existing + " names '" + member->header().backlink +
                        "' as its database instead of '" + backlinkFor(file) + "'");
    }
    impl_->write([&] {
        // The table's files take their names under the container's journal:
        // a crash before the records are whole removes them again.
        if (!builtAt.empty())
            DbfTable::placeFiles(builtAt, file, *impl_->table->journal());
        std::int32_t id = impl_->nextObjectId();
        const std::int32_t tableId = id;
        std::vector<DbcProperty> ps = {DbcProperty::byte(dbc_prop::kObjectClass, 1),
                                       DbcProperty::text(dbc_prop::kPath, impl_->encodeText(pathProp, "the path"))};
        if (!t.comment.empty())
            ps.push_back(DbcProperty::text(dbc_prop::kComment, impl_->encodeText(t.comment, "the comment")));
        if (!t.primaryKey.empty())
            ps.push_back(DbcProperty::text(dbc_prop::kPrimaryKey, impl_->encodeText(lowerAscii(t.primaryKey), "the primary key")));
        impl_->append(id++, kDatabaseId, "Table", t.name, ps);
        for (const auto& fname : t.fieldNames) impl_->append(id++, tableId, "Field", lowerAscii(fname), {});
        for (const auto& ix : t.indexes)
            impl_->append(id++, tableId, "Index", lowerAscii(ix.tag), {DbcProperty::logical(dbc_prop::kIsUnique, ix.unique)});
    });
}

void Container::dropTable(std::string_view name, bool deleteFiles) {
    const DbcObject* o = impl_->findLive("Table", name);
    if (!o) throw Error(impl_->path + ": there is no table named '" + std::string(name) + "'");
    const DbcTable table = impl_->makeTable(*o);
    const std::int32_t id = o->objectId;
    impl_->write([&] {
        for (const auto& x : impl_->objects) {
            if (x.deleted) continue;
            bool drop = x.objectId == id || (x.parentId == id && x.objectId != id);
            if (!drop && x.type == "Relation") {
                const auto ps = impl_->props(x);
                drop = sameName(impl_->propText(ps, dbc_prop::kRelatedTable), table.name);
            }
            if (drop) impl_->table->setDeleted(x.recno, true);
        }
    });
    if (deleteFiles && fileExists(table.file)) DbfTable::dropFiles(table.file);
}

void Container::createView(const NewDbcView& v) {
    if (v.name.empty()) throw Error(impl_->path + ": a view needs a name");
    if (impl_->findLive("Table", v.name) || impl_->findLive("View", v.name))
        throw Error(impl_->path + ": the container already holds an object named '" + v.name + "'");
    const std::string sql = impl_->encodeText(v.sql, "the SQL of view '" + v.name + "'");
    if (sql.find('\0') != std::string::npos)
        throw Error(impl_->path + ": the SQL of view '" + v.name + "' holds a NUL character, which cannot be stored");
    impl_->write([&] {
        std::int32_t id = impl_->nextObjectId();
        const std::int32_t viewId = id;
        // The properties FoxPro gives a new local view, in its order.
        std::vector<DbcProperty> ps = {
            DbcProperty::byte(dbc_prop::kObjectClass, 6),   DbcProperty::byte(dbc_prop::kUpdateType, 1),
            DbcProperty::byte(dbc_prop::kWhereType, 3),     DbcProperty::logical(dbc_prop::kFetchMemo, true),
            DbcProperty::logical(dbc_prop::kShareConnection, false), DbcProperty::logical(dbc_prop::kSendUpdates, false),
            DbcProperty::logical(dbc_prop::kPrepared, false), DbcProperty::logical(dbc_prop::kCompareMemo, true),
            DbcProperty::logical(dbc_prop::kFetchAsNeeded, false), DbcProperty::number(dbc_prop::kUseMemoSize, 255),
            DbcProperty::number(dbc_prop::kFetchSize, 100), DbcProperty::number(dbc_prop::kMaxRecords, -1),
        };
        if (!v.tables.empty()) ps.push_back(DbcProperty::text(dbc_prop::kTables, impl_->encodeText(v.tables, "the table list")));
        ps.push_back(DbcProperty::text(dbc_prop::kSql, sql));
        ps.push_back(DbcProperty::byte(dbc_prop::kSourceType, 1));
        ps.push_back(DbcProperty::number(dbc_prop::kBatchUpdateCount, 1));
        impl_->append(id++, kDatabaseId, "View", v.name, ps);
        for (const auto& fl : v.fields) {
            std::vector<DbcProperty> fp = {DbcProperty::logical(dbc_prop::kKeyField, false),
                                           DbcProperty::logical(dbc_prop::kUpdatable, false)};
            if (!fl.updateName.empty())
                fp.push_back(DbcProperty::text(dbc_prop::kUpdateName, impl_->encodeText(fl.updateName, "an update name")));
            if (!fl.dataType.empty())
                fp.push_back(DbcProperty::text(dbc_prop::kDataType, impl_->encodeText(fl.dataType, "a data type")));
            impl_->append(id++, viewId, "Field", lowerAscii(fl.name), fp);
        }
    });
}

void Container::dropView(std::string_view name) {
    const DbcObject* o = impl_->findLive("View", name);
    if (!o) throw Error(impl_->path + ": there is no view named '" + std::string(name) + "'");
    const std::int32_t id = o->objectId;
    impl_->write([&] {
        for (const auto& x : impl_->objects)
            if (!x.deleted && (x.objectId == id || x.parentId == id)) impl_->table->setDeleted(x.recno, true);
    });
}

void Container::setTableIndexes(std::string_view name, const std::vector<NewDbcTable::Index>& indexes,
                                const std::string& primaryKey) {
    const DbcObject* o = impl_->findLive("Table", name);
    if (!o) throw Error(impl_->path + ": there is no table named '" + std::string(name) + "'");
    const DbcObject tableRecord = *o;
    std::vector<DbcProperty> ps;
    for (const DbcProperty& p : impl_->props(tableRecord))
        if (p.id != dbc_prop::kPrimaryKey) ps.push_back(p);
    if (!primaryKey.empty())
        ps.push_back(DbcProperty::text(dbc_prop::kPrimaryKey, impl_->encodeText(lowerAscii(primaryKey), "the primary key")));
    impl_->write([&] {
        for (const auto& x : impl_->objects)
            if (!x.deleted && x.parentId == tableRecord.objectId && x.type == "Index")
                impl_->table->setDeleted(x.recno, true);
        std::string raw;
        impl_->table->readRecord(tableRecord.recno, raw);
        const auto bytes = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
        std::vector<Value> row(impl_->table->fields().size());
        for (std::size_t i = 0; i < row.size(); ++i) impl_->table->decodeField(bytes, i, row[i]);
        row[static_cast<std::size_t>(impl_->f.property)] = Value::binary(encodeDbcProperties(ps));
        impl_->table->update(tableRecord.recno, row);
        std::int32_t id = impl_->nextObjectId();
        for (const auto& ix : indexes)
            impl_->append(id++, tableRecord.objectId, "Index", lowerAscii(ix.tag),
                          {DbcProperty::logical(dbc_prop::kIsUnique, ix.unique)});
    });
}

void Container::rebuildIndex() {
    impl_->requireWritable();
    const std::vector<CdxTag> tags = containerTags();
    impl_->table->begin();
    try {
        StructuralIndex::rebuild(*impl_->table, dcxPath(), tags);
        impl_->table->commit();
    } catch (...) {
        if (impl_->table->inTransaction()) impl_->table->rollback();
        throw;
    }
}

} // namespace qm::xbase
