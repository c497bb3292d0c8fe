#include "xbase_database.h"

#include "cdx_maintain.h"
#include "columns.h"
#include "dbc.h"
#include "file_io.h"
#include "storage/open.h"

#include <algorithm>
#include <filesystem>
#include <dirent.h>
#include <sys/stat.h>

namespace qm::xbase {

namespace {

// The connection a remote view reads through; a remote view stored without
// a connection name still has to read as remote.
std::string remoteConnection(const DbcView& v)
{
    if (!v.remote) return {};
    return v.connection.empty() ? std::string("(unnamed)") : v.connection;
}

bool isDirectory(const std::string& p)
{
    struct stat st {};
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool endsWithIgnoreCase(const std::string& s, std::string_view suffix)
{
    if (s.size() < suffix.size())
        return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char a = s[s.size() - suffix.size() + i], b = suffix[i];
        if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}

// The folder first, then each sub-folder (sorted by name) with its own sub-folders.
void walk(const std::string& folder, std::vector<std::pair<std::string, std::string>>& tables, int depth)
{
    if (depth > 64)
        return;
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return;
    std::vector<std::string> files, dirs;
    while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (n == "." || n == "..")
            continue;
        std::string full = folder + "/" + n;
        struct stat st {};
        if (::lstat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            dirs.push_back(n);
        else if (S_ISREG(st.st_mode) && endsWithIgnoreCase(n, ".dbf") && n[0] != '~' && n.size() > 4)
            files.push_back(n);
    }
    ::closedir(d);
    std::sort(files.begin(), files.end());
    std::sort(dirs.begin(), dirs.end());
    for (const auto& f : files)
        tables.emplace_back(f.substr(0, f.size() - 4), folder + "/" + f);
    for (const auto& sub : dirs)
        walk(folder + "/" + sub, tables, depth + 1);
}

void recoverTree(const std::string& folder, int depth)
{
    if (depth > 64)
        return;
    DbfTable::recoverFolder(folder);
    DIR* d = ::opendir(folder.c_str());
    if (!d)
        return;
    std::vector<std::string> dirs;
    while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (n == "." || n == "..")
            continue;
        struct stat st {};
        if (::lstat((folder + "/" + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            dirs.push_back(n);
    }
    ::closedir(d);
    for (const auto& sub : dirs)
        recoverTree(folder + "/" + sub, depth + 1);
}

TableFormat formatFor(storage::OpenOptions::Flavor f)
{
    switch (f) {
    case storage::OpenOptions::Flavor::DBase3: return TableFormat::DBase3;
    case storage::OpenOptions::Flavor::DBase4: return TableFormat::DBase4;
    default: return TableFormat::VisualFoxPro;
    }
}

void checkTableName(std::string_view name)
{
    if (name.empty() || name.size() > 200 || name.find('/') != std::string_view::npos ||
        name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos || name == "." ||
        name == ".." || name[0] == '~')
        throw Error("\"" + std::string(name) + "\" cannot be the name of a free table.");
}

} // namespace

// ---- cursor -------------------------------------------------------------------

TableCursor::TableCursor(std::unique_ptr<DbfTable> owned, std::vector<storage::ColumnDef> columns)
    : table_(std::move(owned)), columns_(std::move(columns))
{
    reader_ = table_->reader(false);
    row_.resize(columns_.size());
    decodedAt_.assign(columns_.size(), 0);
}

bool TableCursor::next()
{
    if (!reader_->next())
        return false;
    ++rowNumber_;
    return true;
}

const Value& TableCursor::value(std::size_t column)
{
    if (column >= row_.size())
        throw Error("Column " + std::to_string(column) + " does not exist in table \"" + table_->path() + "\".");
    if (rowNumber_ == 0)
        throw Error("The cursor over \"" + table_->path() + "\" is not on a row.");
    if (decodedAt_[column] != rowNumber_) {
        reader_->decode(column, row_[column]);
        decodedAt_[column] = rowNumber_;
    }
    return row_[column];
}

// ---- folder database ---------------------------------------------------------

FreeTableDatabase::FreeTableDatabase(std::string folder, std::string singleTable, const storage::OpenOptions& options)
    : XBaseDatabase(options), folder_(std::move(folder)), single_(std::move(singleTable))
{
    while (folder_.size() > 1 && folder_.back() == '/')
        folder_.pop_back();
    path_ = single_.empty() ? folder_ : single_;
    if (!isDirectory(folder_))
        throw Error("The folder \"" + folder_ + "\" does not exist.");
    if (!single_.empty() && !fileExists(single_)) {
        DbfTable::recoverFolder(folder_);
        if (!fileExists(single_))
            throw Error("The table \"" + single_ + "\" does not exist.");
    }
    // Writes interrupted earlier are undone (or finished) before anything is read.
    if (!options_.readOnly) {
        if (single_.empty())
            recoverTree(folder_, 0);
        else
            DbfTable::recoverFolder(folder_);
    }
    refresh();
}

FreeTableDatabase::~FreeTableDatabase()
{
    for (auto& [p, w] : writers_) {
        try {
            if (w->table->inTransaction())
                w->table->commit();
        } catch (...) {
            // The journal stays; the next open rolls the write back.
        }
    }
    try {
        placeBuiltTables();
    } catch (...) {
    }
}

void FreeTableDatabase::refresh()
{
    appendTable_ = nullptr;
    std::vector<std::pair<std::string, std::string>> found;
    if (single_.empty()) {
        walk(folder_, found, 0);
    } else {
        std::string n = fileNameOf(single_);
        auto dot = n.find_last_of('.');
        found.emplace_back(dot == std::string::npos ? n : n.substr(0, dot), single_);
        for (const auto& c : created_) {
            if (!fileExists(c))
                continue;
            std::string cn = fileNameOf(c);
            found.emplace_back(cn.substr(0, cn.size() - 4), c);
        }
    }
    entries_.clear();
    for (auto& [n, p] : found)
        entries_.push_back({n, p});
    for (const auto& b : building_)
        entries_.push_back({b.name, b.file});
}

const FreeTableDatabase::Entry* FreeTableDatabase::lookup(std::string_view name)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        for (const auto& e : entries_)
            if (storage::namesEqual(e.name, name) && fileExists(e.path))
                return &e;
        refresh();
    }
    return nullptr;
}

const FreeTableDatabase::Entry& FreeTableDatabase::require(std::string_view name)
{
    if (const Entry* e = lookup(name))
        return *e;
    throw Error("The table \"" + std::string(name) + "\" does not exist in \"" + path_ + "\".");
}

std::vector<storage::CatalogEntry> FreeTableDatabase::catalog()
{
    refresh();
    std::vector<storage::CatalogEntry> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_)
        out.push_back({e.name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None});
    return out;
}

std::optional<storage::CatalogEntry> FreeTableDatabase::find(std::string_view name)
{
    if (const Entry* e = lookup(name))
        return storage::CatalogEntry{e->name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None};
    return std::nullopt;
}

std::vector<storage::ColumnDef> FreeTableDatabase::columns(std::string_view table)
{
    const Entry& e = require(table);
    auto it = writers_.find(e.path);
    if (it != writers_.end())
        return columnDefsFor(*it->second->table);
    return columnDefsFor(*DbfTable::open(e.path));
}

std::unique_ptr<storage::RowCursor> FreeTableDatabase::scan(std::string_view table)
{
    const Entry& e = require(table);
    // Rows appended in a running batch must be visible: flush them first.
    auto it = writers_.find(e.path);
    if (it != writers_.end())
        it->second->table->reader(false); // flushes pending rows into the file (still inside the journal)
    auto t = DbfTable::open(e.path);
    auto cols = columnDefsFor(*t);
    return std::make_unique<TableCursor>(std::move(t), std::move(cols));
}

std::uint64_t FreeTableDatabase::rowCount(std::string_view table)
{
    const Entry& e = require(table);
    auto it = writers_.find(e.path);
    if (it != writers_.end())
        return it->second->table->liveRecordCount();
    return DbfTable::open(e.path)->liveRecordCount();
}

std::string FreeTableDatabase::querySql(std::string_view name)
{
    throw Error("\"" + std::string(name) + "\" is not a view: a folder of free tables holds no views.");
}

void FreeTableDatabase::requireWritable() const
{
    if (options_.readOnly)
        throw Error("\"" + path_ + "\" was opened for reading only.");
}

DbfTable& FreeTableDatabase::writerFor(std::string_view table) { return writer(require(table).path); }

void FreeTableDatabase::createTable(const storage::TableSpec& spec)
{
    requireWritable();
    checkTableName(spec.name);
    if (lookup(spec.name))
        throw Error("A table \"" + spec.name + "\" already exists in \"" + path_ + "\".");
    const TableFormat format = formatFor(options_.flavor);
    std::vector<std::string> taken;
    std::vector<FieldSpec> fields;
    fields.reserve(spec.columns.size());
    for (const auto& c : spec.columns)
        fields.push_back(fieldSpecFor(c, format, taken));
    CreateOptions opts;
    opts.format = format;
    opts.codePageMark = 0x03;
    opts.memoBlockSize = format == TableFormat::VisualFoxPro ? 64 : 512;
    opts.memoStem = spec.name;
    // Files the table would take the names of, left by an earlier table.
    const std::string target = folder_ + "/" + spec.name + ".dbf";
    for (const char* ext : {".fpt", ".dbt", ".cdx"})
        if (fileExists(companionPath(target, ext)))
            throw Error("Cannot create the table \"" + spec.name + "\": the file \"" + companionPath(target, ext) +
                        "\" is in the way.");
    const std::string built = DbfTable::buildingPath(folder_);
    DbfTable::create(built, fields, opts);
    building_.push_back({spec.name, built, {}, {}, {}});
    refresh();
    createKeys(spec);
    if (batchDepth_ == 0)
        placeBuiltTables();
}

void FreeTableDatabase::place(const Building& b)
{
    const std::string target = folder_ + "/" + b.name + ".dbf";
    // A table of the name that another program made meanwhile stays.
    std::vector<std::pair<std::string, std::string>> found;
    walk(folder_, found, 0);
    for (const auto& [n, p] : found)
        if (storage::namesEqual(n, b.name) && directoryOf(p) == directoryOf(target))
            throw Error("A table \"" + b.name + "\" already exists in \"" + folder_ + "\"; the new one was not kept.");
    DbfTable::renameFiles(b.file, target);
    if (!single_.empty())
        created_.push_back(target);
}

void FreeTableDatabase::dropTable(std::string_view name)
{
    requireWritable();
    const Entry e = require(name);
    closeWriter(e.path);
    DbfTable::dropFiles(e.path);
    forgetBuilding(e.path);
    created_.erase(std::remove(created_.begin(), created_.end(), e.path), created_.end());
    refresh();
}

void FreeTableDatabase::renameObject(std::string_view oldName, std::string_view newName)
{
    requireWritable();
    checkTableName(newName);
    const Entry e = require(oldName);
    if (const Entry* other = lookup(newName); other && other->path != e.path)
        throw Error("A table \"" + std::string(newName) + "\" already exists in \"" + path_ + "\".");
    if (Building* b = building(oldName)) {
        b->name = std::string(newName); // its files get the name when it is put in place
        refresh();
        return;
    }
    closeWriter(e.path);
    std::string ext = e.path.substr(e.path.size() - 4);
    std::string target = directoryOf(e.path) + std::string(newName) + ext;
    DbfTable::renameFiles(e.path, target);
    if (!single_.empty()) {
        if (e.path == single_)
            single_ = target;
        std::replace(created_.begin(), created_.end(), e.path, target);
        path_ = single_;
    }
    refresh();
}

void FreeTableDatabase::createView(std::string_view name, std::string_view)
{
    throw Error("Cannot create the view \"" + std::string(name) +
                "\": a folder of free tables cannot hold views; views need a database container.");
}

void FreeTableDatabase::dropView(std::string_view name)
{
    throw Error("\"" + std::string(name) + "\" is not a view: a folder of free tables holds no views.");
}

// ---- writers -----------------------------------------------------------------

TableWriter::~TableWriter()
{
    index.reset();
    table.reset();
}

std::unique_ptr<TableWriter> openWriter(const std::string& dbfPath, std::vector<std::string> longNames)
{
    auto w = std::make_unique<TableWriter>();
    w->table = DbfTable::open(dbfPath, DbfTable::Mode::ReadWrite);
    if (w->table->header().flags & table_flag::kStructuralCdx) {
        w->index = std::make_unique<StructuralIndex>(*w->table, std::move(longNames));
        w->table->addListener(w->index.get());
    }
    return w;
}

// ---- container database -------------------------------------------------------

ContainerDatabase::ContainerDatabase(const std::string& dbcPath, const storage::OpenOptions& options)
    // Held as an absolute path: member tables are named relative to the
    // container's folder, not to the folder the program was started in.
    : XBaseDatabase(options), path_(std::filesystem::absolute(dbcPath).lexically_normal().string())
{
    if (!fileExists(dbcPath))
        throw Error("The database container \"" + dbcPath + "\" does not exist.");
    if (!options_.readOnly) {
        std::string dir = directoryOf(path_);
        DbfTable::recoverFolder(dir.empty() ? "." : dir);
        try {
            container_ = Container::open(path_, Container::Mode::ReadWrite);
            writable_ = true;
        } catch (const Error&) {
            // Read-only media or no index: reading still works; writes say why.
        }
    }
    if (!container_)
        container_ = Container::open(path_, Container::Mode::ReadOnly);
}

ContainerDatabase::~ContainerDatabase()
{
    for (auto& [p, w] : writers_) {
        try {
            if (w->table->inTransaction())
                w->table->commit();
        } catch (...) {
        }
    }
    try {
        placeBuiltTables();
    } catch (...) {
    }
}

std::vector<storage::CatalogEntry> ContainerDatabase::catalog()
{
    // As the provider's table schema: tables, then views, each by name.
    std::vector<storage::CatalogEntry> tables, views;
    for (const auto& t : container_->tables())
        tables.push_back({t.name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None});
    for (const auto& b : building_)
        tables.push_back({b.name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None});
    for (const auto& v : container_->views())
        views.push_back({v.name, storage::ObjectKind::View, "VIEW", storage::QueryKind::Select, remoteConnection(v)});
    auto byName = [](const storage::CatalogEntry& a, const storage::CatalogEntry& b) {
        std::string x = a.name, y = b.name;
        for (auto& c : x) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (auto& c : y) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return x < y;
    };
    std::stable_sort(tables.begin(), tables.end(), byName);
    std::stable_sort(views.begin(), views.end(), byName);
    tables.insert(tables.end(), views.begin(), views.end());
    return tables;
}

std::optional<storage::CatalogEntry> ContainerDatabase::find(std::string_view name)
{
    if (const Building* b = building(name))
        return storage::CatalogEntry{b->name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None};
    if (auto t = container_->findTable(name))
        return storage::CatalogEntry{t->name, storage::ObjectKind::Table, "TABLE", storage::QueryKind::None};
    if (auto v = container_->findView(name))
        return storage::CatalogEntry{v->name, storage::ObjectKind::View, "VIEW", storage::QueryKind::Select, remoteConnection(*v)};
    return std::nullopt;
}

ContainerDatabase::Member ContainerDatabase::member(std::string_view name)
{
    if (const Building* b = building(name))
        return Member{b->name, b->file, b->longNames};
    auto t = container_->findTable(name);
    if (!t) {
        if (container_->findView(name))
            throw Error("\"" + std::string(name) + "\" is a view of \"" + path_ + "\", not a table.");
        throw Error("The table \"" + std::string(name) + "\" does not exist in \"" + path_ + "\".");
    }
    Member m;
    m.name = t->name;
    m.file = t->file;
    for (const auto& f : t->fields)
        m.longNames.push_back(f.name);
    return m;
}

std::vector<storage::ColumnDef> ContainerDatabase::columnsOf(const DbfTable& t, const Member& m) const
{
    auto cols = columnDefsFor(t);
    // The container holds the long names, in column order.
    for (std::size_t i = 0; i < cols.size() && i < m.longNames.size(); ++i)
        if (!m.longNames[i].empty())
            cols[i].name = m.longNames[i];
    return cols;
}

std::vector<storage::ColumnDef> ContainerDatabase::columns(std::string_view table)
{
    Member m = member(table);
    auto it = writers_.find(m.file);
    if (it != writers_.end())
        return columnsOf(*it->second->table, m);
    return columnsOf(*DbfTable::open(m.file), m);
}

std::unique_ptr<storage::RowCursor> ContainerDatabase::scan(std::string_view table)
{
    Member m = member(table);
    auto it = writers_.find(m.file);
    if (it != writers_.end())
        it->second->table->reader(false);
    auto t = DbfTable::open(m.file);
    auto cols = columnsOf(*t, m);
    return std::make_unique<TableCursor>(std::move(t), std::move(cols));
}

std::uint64_t ContainerDatabase::rowCount(std::string_view table)
{
    Member m = member(table);
    auto it = writers_.find(m.file);
    if (it != writers_.end())
        return it->second->table->liveRecordCount();
    return DbfTable::open(m.file)->liveRecordCount();
}

std::string ContainerDatabase::querySql(std::string_view name) { return container_->viewSql(name); }

void ContainerDatabase::requireWritable() const
{
    if (options_.readOnly)
        throw Error("\"" + path_ + "\" was opened for reading only.");
    if (!writable_)
        throw Error("The database container \"" + path_ + "\" cannot be changed (it or its index file is read-only or missing).");
}

DbfTable& ContainerDatabase::writerFor(std::string_view table)
{
    Member m = member(table);
    return writer(m.file, std::move(m.longNames));
}

void ContainerDatabase::createTable(const storage::TableSpec& spec)
{
    appendTable_ = nullptr;
    requireWritable();
    if (spec.name.empty() || spec.name.size() > 128)
        throw Error("\"" + spec.name + "\" cannot be the name of a table in a database container (1 to 128 characters).");
    if (find(spec.name))
        throw Error("A table or view \"" + spec.name + "\" already exists in \"" + path_ + "\".");
    std::vector<std::string> taken;
    std::vector<FieldSpec> fields;
    Building b;
    b.name = spec.name;
    for (const auto& c : spec.columns) {
        fields.push_back(fieldSpecFor(c, TableFormat::VisualFoxPro, taken));
        std::string longName = c.name;
        for (auto& ch : longName)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        b.longNames.push_back(longName);
    }
    for (std::size_t i = 0; i < b.longNames.size(); ++i)
        for (std::size_t j = i + 1; j < b.longNames.size(); ++j)
            if (b.longNames[i] == b.longNames[j])
                throw Error(path_ + ", table '" + spec.name + "': the field name '" + b.longNames[i] + "' is given twice");
    const std::string dir = directoryOf(path_);
    b.file = DbfTable::buildingPath(dir.empty() ? "." : dir);
    CreateOptions opts;
    opts.format = TableFormat::VisualFoxPro;
    opts.codePageMark = 0x03;
    opts.backlink = container_->backlinkFor(b.file);
    DbfTable::create(b.file, fields, opts);
    building_.push_back(std::move(b));
    createKeys(spec);
    if (batchDepth_ == 0)
        placeBuiltTables();
}

void ContainerDatabase::place(const Building& b)
{
    // The file is named after the table, made safe for the file system.
    std::string stem;
    for (unsigned char c : b.name)
        stem.push_back(std::isalnum(c) || c == '_' || c == '-' || c >= 0x80 ? static_cast<char>(std::tolower(c)) : '_');
    const std::string dir = directoryOf(path_);
    auto taken = [&](const std::string& s) {
        for (const char* ext : {".dbf", ".fpt", ".cdx"})
            if (fileExists(companionPath(s + ".dbf", ext)))
                return true;
        return false;
    };
    std::string base = dir + stem;
    for (int k = 2; taken(base); ++k)
        base = dir + stem + "_" + std::to_string(k);
    NewDbcTable record;
    record.name = b.name;
    record.dbfPath = base + ".dbf";
    record.fieldNames = b.longNames;
    for (const auto& [tag, candidate] : b.tags)
        record.indexes.push_back({tag, candidate});
    record.primaryKey = b.primaryKey;
    container_->addTable(record, b.file);
}

void ContainerDatabase::dropTable(std::string_view name)
{
    requireWritable();
    Member m = member(name);
    closeWriter(m.file);
    if (building(name)) {
        DbfTable::dropFiles(m.file);
        forgetBuilding(m.file);
        return;
    }
    container_->dropTable(m.name, true);
}

void ContainerDatabase::renameObject(std::string_view oldName, std::string_view)
{
    throw Error("Cannot rename \"" + std::string(oldName) + "\": tables and views of a database container are not renamed by this program.");
}

void ContainerDatabase::createView(std::string_view name, std::string_view sql)
{
    requireWritable();
    if (building(name))
        throw Error(path_ + ": the container already holds an object named '" + std::string(name) + "'");
    NewDbcView v;
    v.name = std::string(name);
    v.sql = std::string(sql);
    container_->createView(v);
}

void ContainerDatabase::dropView(std::string_view name)
{
    requireWritable();
    container_->dropView(name);
}

// ---- shared by both kinds --------------------------------------------------

DbfTable& XBaseDatabase::writer(const std::string& file, std::vector<std::string> longNames)
{
    auto& slot = writers_[file];
    if (!slot) {
        try {
            slot = openWriter(file, std::move(longNames));
        } catch (...) {
            writers_.erase(file);
            throw;
        }
    }
    if (batchDepth_ > 0 && !slot->table->inTransaction())
        slot->table->begin();
    return *slot->table;
}

void XBaseDatabase::closeWriter(const std::string& file)
{
    appendTable_ = nullptr;
    auto it = writers_.find(file);
    if (it == writers_.end())
        return;
    if (it->second->table->inTransaction())
        it->second->table->commit();
    writers_.erase(it);
}

void XBaseDatabase::append(std::string_view table, std::span<const Value> row)
{
    requireWritable();
    if (appendTable_ && batchDepth_ > 0 && appendTable_->inTransaction() && appendName_ == table) {
        appendTable_->append(row);
        return;
    }
    appendTable_ = nullptr;
    DbfTable& t = writerFor(table);
    if (batchDepth_ > 0) {
        appendName_.assign(table);
        appendTable_ = &t;
    }
    t.append(row);
}

namespace {

std::uint32_t recordNumber(std::string_view table, std::uint64_t rowId)
{
    if (rowId == 0 || rowId > 0xFFFFFFFFu)
        throw Error("Row " + std::to_string(rowId) + " does not exist in table \"" + std::string(table) + "\".");
    return static_cast<std::uint32_t>(rowId);
}

} // namespace

void XBaseDatabase::update(std::string_view table, std::uint64_t rowId, std::span<const Value> row)
{
    requireWritable();
    writerFor(table).update(recordNumber(table, rowId), row);
}

void XBaseDatabase::remove(std::string_view table, std::uint64_t rowId)
{
    requireWritable();
    writerFor(table).setDeleted(recordNumber(table, rowId), true);
}

void XBaseDatabase::beginBatch() { ++batchDepth_; }

XBaseDatabase::Building* XBaseDatabase::building(std::string_view name)
{
    for (auto& b : building_)
        if (storage::namesEqual(b.name, name))
            return &b;
    return nullptr;
}

void XBaseDatabase::forgetBuilding(const std::string& file)
{
    appendTable_ = nullptr;
    building_.erase(std::remove_if(building_.begin(), building_.end(), [&](const Building& b) { return b.file == file; }),
                    building_.end());
}

void XBaseDatabase::placeBuiltTables()
{
    std::string firstError;
    while (!building_.empty()) {
        const Building b = building_.front();
        try {
            closeWriter(b.file);
            place(b);
        } catch (const Error& e) {
            if (firstError.empty())
                firstError = e.what();
            try {
                closeWriter(b.file);
                if (fileExists(b.file))
                    DbfTable::dropFiles(b.file);
            } catch (...) {
            }
        }
        forgetBuilding(b.file);
    }
    if (!firstError.empty())
        throw Error(firstError);
}

void XBaseDatabase::endBatch()
{
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    appendTable_ = nullptr;
    std::string firstError;
    for (auto& [file, w] : writers_) {
        try {
            if (w->table->inTransaction())
                w->table->commit();
        } catch (const Error& e) {
            if (firstError.empty())
                firstError = e.what();
        }
    }
    try {
        placeBuiltTables();
    } catch (const Error& e) {
        if (firstError.empty())
            firstError = e.what();
    }
    if (!firstError.empty())
        throw Error(firstError);
}

// ---- entry points ------------------------------------------------------------

std::unique_ptr<storage::Database> openContainer(const std::string& dbcPath, const storage::OpenOptions& options)
{
    return std::make_unique<ContainerDatabase>(dbcPath, options);
}


std::unique_ptr<storage::Database> openFolder(const std::string& folder, const storage::OpenOptions& options)
{
    return std::make_unique<FreeTableDatabase>(folder, std::string(), options);
}

std::unique_ptr<storage::Database> openSingleTable(const std::string& dbfPath, const storage::OpenOptions& options)
{
    std::string dir = directoryOf(dbfPath);
    if (dir.empty())
        dir = ".";
    return std::make_unique<FreeTableDatabase>(dir, dbfPath, options);
}

} // namespace qm::xbase
