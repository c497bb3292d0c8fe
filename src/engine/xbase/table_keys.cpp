// Keys of xBase tables: the tags of a table's structural index as the seam
// sees them, and tags added to or removed from a table that holds records.
//
// A key over plain columns becomes a tag whose expression is the field (or
// the fields joined with +, for text fields); a primary key is the
// container's primary tag, or a candidate tag for a free table, which has
// no primary key.  Every change lays the .cdx out anew from all records in
// one pass (cdx_maintain.h), inside one transaction of the table, and
// candidate tags meeting a duplicate key are refused with the key and both
// records named.  New tags use the MACHINE collation; a table whose index
// holds tags in another collation cannot get more tags here (its keys are
// not computed by this program), which the refusal says.
#include "xbase/cdx.h"
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/file_io.h"
#include "xbase/xbase_database.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace qm::xbase {

namespace {

std::string trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

// The field an expression part names (its DBF name, or the container's
// long name), or -1.
int fieldNamed(const DbfTable& t, std::span<const std::string> longNames, std::string_view name) {
    for (std::size_t i = 0; i < longNames.size(); ++i)
        if (storage::namesEqual(longNames[i], name)) return static_cast<int>(i);
    return t.fieldIndex(name);
}

// The columns of a tag whose expression is a field, or fields joined with +
// in the forms xbaseKeyPart writes (TTOC(t,1), BINTOC(i), DTOS(d)); empty
// otherwise.
std::vector<std::string> plainColumns(const DbfTable& t, std::span<const std::string> longNames,
                                      std::string_view expression) {
    std::vector<std::string> cols;
    std::vector<std::pair<int, std::string>> parts; // field, the part as written
    bool upper = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t plus = expression.find('+', start);
        std::string part = trimmed(expression.substr(start, plus == std::string_view::npos ? std::string_view::npos
                                                                                          : plus - start));
        std::string written = part; // without blanks, to compare with the written forms
        std::erase(written, ' ');
        if (plus == std::string_view::npos && start == 0 && part.size() > 7 &&
            storage::namesEqual(part.substr(0, 6), "UPPER(") && part.ends_with(")")) {
            // UPPER(name) orders as an Access text key does: ignoring case.
            part = trimmed(std::string_view(part).substr(6, part.size() - 7));
            const int f = fieldNamed(t, longNames, part);
            if (f < 0 || t.fields()[static_cast<std::size_t>(f)].type != 'C') return {};
            parts.emplace_back(f, part);
            upper = true;
        } else {
            // The field inside a call of one argument (TTOC's second is 1).
            const std::size_t open = part.find('(');
            if (open != std::string::npos && part.ends_with(")")) {
                std::string inner = part.substr(open + 1, part.size() - open - 2);
                const std::size_t comma = inner.find(',');
                if (comma != std::string::npos) inner.resize(comma);
                part = trimmed(inner);
            }
            const int f = fieldNamed(t, longNames, part);
            if (f < 0) return {};
            parts.emplace_back(f, written);
        }
        cols.push_back(static_cast<std::size_t>(parts.back().first) < longNames.size()
                           ? longNames[static_cast<std::size_t>(parts.back().first)]
                           : t.fields()[static_cast<std::size_t>(parts.back().first)].name);
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    // Only what xbaseKeyPart would write for these fields (by either name)
    // orders like a key on the columns.
    if (!upper)
        for (const auto& part : parts) {
            const auto& [f, written] = part;
            const DbfField& field = t.fields()[static_cast<std::size_t>(f)];
            auto matches = [&](const std::string& name) {
                const std::string expected = storage::xbaseKeyPart(name, field.type, parts.size() > 1);
                return !expected.empty() && storage::namesEqual(expected, part.second);
            };
            const bool byLongName = static_cast<std::size_t>(f) < longNames.size() && matches(longNames[static_cast<std::size_t>(f)]);
            if (!byLongName && !matches(field.name)) return {};
        }
    return cols;
}

// Letters, digits and '_', not starting with a digit.
bool plainName(std::string_view n) {
    if (n.empty() || std::isdigit(static_cast<unsigned char>(n.front()))) return false;
    return std::all_of(n.begin(), n.end(), [](char c) {
        return (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) || c == '_';
    });
}

bool validTagName(std::string_view n) { return n.size() <= 10 && plainName(n); }

// A tag name FoxPro accepts made from an index name: letters, digits and
// '_', at most 10 characters, not already taken.
std::string tagNameFor(std::string_view wanted, const std::vector<CdxTag>& taken) {
    std::string n;
    for (char c : wanted)
        n.push_back(std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80 ? c : '_');
    if (n.empty() || std::isdigit(static_cast<unsigned char>(n.front()))) n.insert(n.begin(), 'K');
    n.resize(std::min<std::size_t>(n.size(), 10));
    auto used = [&](const std::string& x) {
        return std::any_of(taken.begin(), taken.end(), [&](const CdxTag& t) { return storage::namesEqual(t.name, x); });
    };
    const std::string base = n;
    for (int k = 2; used(n); ++k) {
        const std::string suffix = std::to_string(k);
        n = base.substr(0, 10 - suffix.size()) + suffix;
    }
    return n;
}

std::vector<CdxTag> tagsOf(const DbfTable& t, const std::string& cdx) {
    if (!(t.header().flags & table_flag::kStructuralCdx) || !fileExists(cdx)) return {};
    return CdxFile::open(cdx).tags();
}

} // namespace

std::vector<storage::IndexSpec> XBaseDatabase::indexes(std::string_view table) {
    const TableFile tf = tableFile(table);
    const auto t = DbfTable::open(tf.file);
    std::vector<storage::IndexSpec> out;
    for (const CdxTag& tag : tagsOf(*t, StructuralIndex::indexPathFor(tf.file))) {
        storage::IndexSpec s;
        s.name = tag.name;
        s.columns = plainColumns(*t, tf.longNames, tag.keyExpression);
        if (s.columns.empty() || tag.keyExpression.find('(') != std::string::npos) s.expression = tag.keyExpression;
        s.primaryKey = tf.member && storage::namesEqual(tag.name, tf.primaryKey);
        s.unique = (tag.options & cdx_option::kCandidate) != 0;
        s.filter = tag.forExpression;
        if (!tag.machineCollation()) s.collation = tag.collation;
        if (tag.descending) s.descending.assign(std::max<std::size_t>(s.columns.size(), 1), true);
        if (s.primaryKey) out.insert(out.begin(), std::move(s));
        else out.push_back(std::move(s));
    }
    return out;
}

void XBaseDatabase::createIndex(std::string_view table, const storage::IndexSpec& index) {
    requireWritable();
    const TableFile tf = tableFile(table);
    const std::string where = tf.file + ": cannot make the tag " + index.name;
    closeWriter(tf.file);
    const auto t = DbfTable::open(tf.file, DbfTable::Mode::ReadWrite);
    if (t->format() == TableFormat::DBase3 || t->format() == TableFormat::DBase4)
        throw Error(where + ": dBase tables written by this program have no structural index to hold it");
    if (!index.collation.empty() && !storage::namesEqual(index.collation, "machine"))
        throw Error(where + ": it would order text by the collating sequence " + index.collation +
                    "; tags are built here in the MACHINE collation only");
    for (std::size_t i = 0; i < std::max<std::size_t>(index.columns.size(), 1); ++i)
        if (index.isDescending(i))
            throw Error(where + ": descending tags are not built by this program");
    std::string expression = index.expression;
    if (expression.empty()) {
        if (index.columns.empty()) throw Error(where + ": it names no column and no key expression");
        for (const std::string& c : index.columns) {
            const int f = fieldNamed(*t, tf.longNames, c);
            if (f < 0) throw Error(where + ": the table has no field " + c);
            const DbfField& field = t->fields()[static_cast<std::size_t>(f)];
            // The container's long name where an expression can hold it.
            std::string fieldName = field.name;
            if (static_cast<std::size_t>(f) < tf.longNames.size() && plainName(tf.longNames[static_cast<std::size_t>(f)]))
                fieldName = tf.longNames[static_cast<std::size_t>(f)];
            const std::string part = storage::xbaseKeyPart(fieldName, field.type, index.columns.size() > 1);
            if (part.empty())
                throw Error(where + ": the field " + c + " of type " + std::string(1, field.type) +
                            (index.columns.size() > 1 ? " cannot be joined into a key over several fields"
                                                      : " cannot be indexed"));
            if (!expression.empty()) expression += "+";
            expression += part;
        }
    }
    const std::string cdx = StructuralIndex::indexPathFor(tf.file);
    std::vector<CdxTag> tags = tagsOf(*t, cdx);
    std::string name = index.name;
    if (validTagName(name)) {
        for (const CdxTag& old : tags)
            if (storage::namesEqual(old.name, name)) throw Error(where + ": the table already has a tag of that name");
    } else {
        name = tagNameFor(name.empty() ? (index.columns.empty() ? "KEY" : index.columns.front()) : name, tags);
    }
    std::string primary = tf.primaryKey;
    if (index.primaryKey && tf.member) {
        if (!primary.empty()) throw Error(where + ": the table already has a primary key (tag " + primary + ")");
        primary = name;
    }
    const std::uint8_t options = (index.unique || index.primaryKey) ? cdx_option::kCandidate : 0;
    CdxTag tag = StructuralIndex::defineTag(*t, name, expression, options, tf.longNames);
    tag.forExpression = index.filter;
    tags.push_back(tag);
    t->begin();
    try {
        StructuralIndex::rebuild(*t, cdx, tags, tf.longNames);
        t->setTableFlags(static_cast<std::uint8_t>(t->header().flags | table_flag::kStructuralCdx));
        t->commit();
    } catch (...) {
        if (t->inTransaction()) t->rollback();
        throw;
    }
    tagsChanged(tf, tags, primary);
}

void XBaseDatabase::dropIndex(std::string_view table, std::string_view name) {
    requireWritable();
    const TableFile tf = tableFile(table);
    closeWriter(tf.file);
    const auto t = DbfTable::open(tf.file, DbfTable::Mode::ReadWrite);
    const std::string cdx = StructuralIndex::indexPathFor(tf.file);
    std::vector<CdxTag> tags = tagsOf(*t, cdx);
    auto it = std::find_if(tags.begin(), tags.end(), [&](const CdxTag& x) { return storage::namesEqual(x.name, name); });
    if (it == tags.end()) throw Error(tf.file + ": the table has no tag named " + std::string(name));
    std::string primary = tf.primaryKey;
    if (storage::namesEqual(it->name, primary)) primary.clear();
    tags.erase(it);
    t->begin();
    try {
        if (tags.empty())
            t->setTableFlags(static_cast<std::uint8_t>(t->header().flags & ~table_flag::kStructuralCdx));
        else
            StructuralIndex::rebuild(*t, cdx, tags, tf.longNames);
        t->commit();
    } catch (...) {
        if (t->inTransaction()) t->rollback();
        throw;
    }
    if (tags.empty()) {
        std::error_code ec;
        std::filesystem::remove(cdx, ec);
    }
    tagsChanged(tf, tags, primary);
}

void XBaseDatabase::createKeys(const storage::TableSpec& spec) {
    try {
        for (const auto& ix : spec.indexes) createIndex(spec.name, ix);
    } catch (...) {
        // A table whose keys cannot be made is not left behind without them.
        try {
            dropTable(spec.name);
        } catch (...) {
        }
        throw;
    }
}

XBaseDatabase::TableFile FreeTableDatabase::tableFile(std::string_view table) {
    TableFile tf;
    const Entry& e = require(table);
    tf.name = e.name;
    tf.file = e.path;
    return tf;
}

XBaseDatabase::TableFile ContainerDatabase::tableFile(std::string_view table) {
    const Member m = member(table);
    TableFile tf;
    tf.name = m.name;
    tf.file = m.file;
    tf.longNames = m.longNames;
    tf.member = true;
    if (const Building* b = building(m.name)) tf.primaryKey = b->primaryKey;
    else if (auto t = container_->findTable(m.name)) tf.primaryKey = t->primaryKey;
    return tf;
}

void ContainerDatabase::tagsChanged(const TableFile& t, const std::vector<CdxTag>& tags, const std::string& primaryKey) {
    if (Building* b = building(t.name)) {
        // Recorded in the container when the table is put in place.
        b->tags.clear();
        for (const CdxTag& tag : tags) b->tags.emplace_back(tag.name, (tag.options & cdx_option::kCandidate) != 0);
        b->primaryKey = primaryKey;
        return;
    }
    std::vector<NewDbcTable::Index> records;
    for (const CdxTag& tag : tags) records.push_back({tag.name, (tag.options & cdx_option::kCandidate) != 0});
    container_->setTableIndexes(t.name, records, primaryKey);
}

} // namespace qm::xbase
