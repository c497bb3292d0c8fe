#include "xbase/cdx_maintain.h"

#include "xbase/file_io.h"
#include "xbase/journal.h"
#include "value/value.h"

#include <algorithm>

namespace qm::xbase {

namespace {

bool endsWithIgnoreCase(const std::string& s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

using RecordVisit = std::function<void(std::uint32_t, std::span<const std::uint8_t>)>;

void scanTable(const DbfTable& table, const RecordVisit& visit) {
    auto r = table.reader(true);
    while (r->next()) visit(r->recno(), r->raw());
}

// Writes the new index bytes over the old file through the journal.
void writeIndexFile(DbfTable& table, const std::string& path, const std::string& bytes) {
    Journal* j = table.journal();
    if (j) {
        j->protectFile(path);
        const std::int64_t old = j->originalSize(path);
        for (std::int64_t at = 0; at < old; at += (1 << 30))
            j->protectRange(path, static_cast<std::uint64_t>(at),
                            static_cast<std::uint32_t>(std::min<std::int64_t>(old - at, 1 << 30)));
        j->sync();
    }
    File f(path, fileExists(path) ? File::Access::ReadWrite : File::Access::CreateNew);
    f.writeAt(0, bytes);
    f.truncate(bytes.size());
    if (!j) f.sync();
}

} // namespace

// ---------------------------------------------------------------- TagKeys

TagKeys::TagKeys(const CdxTag& tag, std::string_view indexFile, std::span<const DbfField> fields,
                 const DbfField* nullFlags, int codePage, std::span<const std::string> longNames)
    : tag_(tag),
      where_(std::string(indexFile) + ", tag " + tag.name),
      key_([&] {
          if (!tag.machineCollation())
              throw Error(std::string(indexFile) + ", tag " + tag.name + ": the collation " + tag.collation +
                          " orders keys by weights this program does not compute; the table cannot be changed "
                          "without breaking the index (rebuild the tag with the MACHINE collation in FoxPro)");
          if (tag.descending)
              throw Error(std::string(indexFile) + ", tag " + tag.name +
                          ": descending tags are not maintained by this program; the table cannot be changed");
          try {
              return KeyExpression::compile(tag.keyExpression, fields, nullFlags, codePage, longNames);
          } catch (const Error& e) {
              throw Error(std::string(indexFile) + ", tag " + tag.name + ": " + e.what() +
                          "; the table cannot be changed without breaking the index");
          }
      }()) {
    const bool prefixed = (tag.options & cdx_option::kNullPrefix) != 0;
    const int want = key_.keyLength() + (prefixed ? 1 : 0);
    // A character expression may be sized differently (ALLTRIM and the like
    // are sized on the record FoxPro indexed first); its keys are padded or
    // cut to the stored length, as FoxPro does.  Other keys must agree.
    if (want != tag.keyLength && key_.type() != KeyType::Character)
        throw Error(where_ + ": the expression '" + tag.keyExpression + "' gives keys of " + std::to_string(want) +
                    " bytes, but the tag stores " + std::to_string(tag.keyLength) +
                    "; the table cannot be changed without breaking the index");
    if (key_.type() == KeyType::DateTime)
        throw Error(where_ + ": keys on datetime values ('" + tag.keyExpression +
                    "') are not computed by this program; the table cannot be changed without breaking the index");
    if (!tag.forExpression.empty()) {
        try {
            for_.emplace(KeyExpression::compile(tag.forExpression, fields, nullFlags, codePage, longNames));
        } catch (const Error& e) {
            throw Error(where_ + ", FOR clause: " + e.what() + "; the table cannot be changed without breaking the index");
        }
        if (for_->type() != KeyType::Logical)
            throw Error(where_ + ": the FOR clause '" + tag.forExpression + "' is not a condition");
    }
}

bool TagKeys::includes(std::span<const std::uint8_t> record) const {
    if (!for_) return true;
    try {
        return for_->condition(record);
    } catch (const Error& e) {
        throw Error(where_ + ": " + e.what());
    }
}

void TagKeys::key(std::span<const std::uint8_t> record, std::string& out) const {
    try {
        key_.key(record, tag_.keyLength, out, (tag_.options & cdx_option::kNullPrefix) != 0);
    } catch (const Error& e) {
        throw Error(where_ + ": " + e.what());
    }
}

namespace {

// Sorts a tag's entries by (key, recno) and applies its duplicate rule.
void finishTagKeys(const TagKeys& tag, std::vector<CdxKey>& keys) {
    std::sort(keys.begin(), keys.end(), [](const CdxKey& a, const CdxKey& b) {
        const int c = a.key.compare(b.key);
        return c != 0 ? c < 0 : a.recno < b.recno;
    });
    const CdxTag& t = tag.tag();
    if (t.options & cdx_option::kCandidate) {
        for (std::size_t i = 1; i < keys.size(); ++i)
            if (keys[i].key == keys[i - 1].key)
                throw Error("tag " + t.name + " (" + t.keyExpression + ") accepts each key once, but records " +
                            std::to_string(keys[i - 1].recno) + " and " + std::to_string(keys[i].recno) +
                            " both have the key '" + printableKey(keys[i].key) + "'");
    } else if (t.options & cdx_option::kUnique) {
        keys.erase(std::unique(keys.begin(), keys.end(),
                               [](const CdxKey& a, const CdxKey& b) { return a.key == b.key; }),
                   keys.end());
    }
}

// The entries of several tags from one pass over the records.
std::vector<std::vector<CdxKey>> computeAllTagKeys(const std::vector<TagKeys>& tags,
                                                   const std::function<void(const RecordVisit&)>& records) {
    std::vector<std::vector<CdxKey>> out(tags.size());
    std::string k;
    records([&](std::uint32_t recno, std::span<const std::uint8_t> rec) {
        for (std::size_t i = 0; i < tags.size(); ++i) {
            if (!tags[i].includes(rec)) continue;
            tags[i].key(rec, k);
            out[i].push_back(CdxKey{k, recno});
        }
    });
    for (std::size_t i = 0; i < tags.size(); ++i) finishTagKeys(tags[i], out[i]);
    return out;
}

} // namespace

std::vector<CdxKey> computeTagKeys(const TagKeys& tag,
                                   const std::function<void(const RecordVisit&)>& records) {
    std::vector<CdxKey> keys;
    std::string k;
    records([&](std::uint32_t recno, std::span<const std::uint8_t> rec) {
        if (!tag.includes(rec)) return;
        tag.key(rec, k);
        keys.push_back(CdxKey{k, recno});
    });
    finishTagKeys(tag, keys);
    return keys;
}

// ---------------------------------------------------------------- StructuralIndex

StructuralIndex::StructuralIndex(DbfTable& table, std::vector<std::string> longFieldNames)
    : table_(table), longNames_(std::move(longFieldNames)) {
    table_.addListener(this);
}
StructuralIndex::~StructuralIndex() { table_.removeListener(this); }

std::string StructuralIndex::indexPathFor(const std::string& dbfPath) {
    return companionPath(dbfPath, endsWithIgnoreCase(dbfPath, ".dbc") ? ".dcx" : ".cdx");
}

// dBase tables mark a production .mdx with the same flag; this program does
// not maintain .mdx files, so it refuses to change a table that has one.
static bool dbaseProductionIndex(const DbfTable& table) {
    if (table.format() != TableFormat::DBase3 && table.format() != TableFormat::DBase4) return false;
    if (!(table.header().flags & table_flag::kStructuralCdx)) return false;
    const std::string mdx = companionPath(table.path(), ".mdx");
    if (fileExists(mdx))
        throw Error("The table " + table.path() + " has the production index " + mdx +
                    ", which this program does not maintain; the table is not changed");
    return true;
}

void StructuralIndex::checkComputable(DbfTable& table) {
    if (checked_) return;
    if (dbaseProductionIndex(table)) {
        checked_ = true;
        return;
    }
    if (table.header().flags & table_flag::kStructuralCdx) {
        const std::string path = indexPathFor(table.path());
        if (!fileExists(path))
            throw Error("The table " + table.path() + " is marked as having the structural index " + path +
                        ", which is missing; the table is not changed");
        const CdxFile cdx = CdxFile::open(path);
        for (const CdxTag& t : cdx.tags())
            TagKeys(t, path, table.fields(), table.nullFlagsField(), table.codePage(), longNames_);
    }
    checked_ = true;
}

void StructuralIndex::recordsAppended(DbfTable& table, std::uint32_t firstRecno, std::uint32_t count) {
    if (count == 0) return;
    checkComputable(table);
    dirty_ = true;
    // Everything at or past the first appended record counts as touched.
    appendedFrom_ = appendedFrom_ == 0 ? firstRecno : std::min(appendedFrom_, firstRecno);
}

void StructuralIndex::recordChanged(DbfTable& table, std::uint32_t recno) {
    checkComputable(table);
    dirty_ = true;
    touched_.insert(recno);
}

void StructuralIndex::beforeCommit(DbfTable& table) {
    if (!dirty_) return;
    dirty_ = false;
    checked_ = false;
    std::set<std::uint32_t> touched;
    touched.swap(touched_);
    const std::uint32_t appendedFrom = appendedFrom_;
    appendedFrom_ = 0;
    if (!(table.header().flags & table_flag::kStructuralCdx) || dbaseProductionIndex(table)) return;
    const std::string path = indexPathFor(table.path());
    if (!fileExists(path))
        throw Error("The table " + table.path() + " is marked as having the structural index " + path +
                    ", which is missing; the table is not changed");
    const CdxFile old = CdxFile::open(path);
    const auto isTouched = [&](std::uint32_t recno) {
        return (appendedFrom != 0 && recno >= appendedFrom) || touched.count(recno) != 0;
    };

    std::vector<TagKeys> tags;
    for (const CdxTag& t : old.tags())
        tags.emplace_back(t, path, table.fields(), table.nullFlagsField(), table.codePage(), longNames_);

    auto allKeys = computeAllTagKeys(tags, [&](const RecordVisit& v) { scanTable(table, v); });
    std::vector<CdxTagBuild> builds;
    for (std::size_t ti = 0; ti < tags.size(); ++ti) {
        const TagKeys& tk = tags[ti];
        std::vector<CdxKey> keys = std::move(allKeys[ti]);
        // The stored keys of untouched records must be what this program
        // computes.  Both lists are in (key, recno) order: walk them together.
        const bool uniqueOnly = (tk.tag().options & cdx_option::kUnique) && !(tk.tag().options & cdx_option::kCandidate);
        std::size_t j = 0;
        auto differ = [&](bool haveStored, std::string_view storedKey, std::uint32_t storedRec) {
            std::string detail;
            if (haveStored)
                detail = "stored for record " + std::to_string(storedRec) + ": '" + printableKey(storedKey) + "'";
            if (j < keys.size())
                detail += std::string(detail.empty() ? "" : ", ") + "computed for record " +
                          std::to_string(keys[j].recno) + ": '" + printableKey(keys[j].key) + "'";
            throw Error(path + ", tag " + tk.tag().name + ": the keys this program computes for '" +
                        tk.tag().keyExpression + "' differ from the keys FoxPro stored (" + detail +
                        "); the table is not changed, so that the index stays consistent");
        };
        auto skipTouched = [&] {
            while (j < keys.size() && isTouched(keys[j].recno)) ++j;
        };
        old.forEachKey(tk.tag(), tk.pad(), [&](std::string_view k, std::uint32_t r) {
            if (isTouched(r)) return;
            if (uniqueOnly) {
                // One record per key is stored: the key must be among the computed ones.
                while (j < keys.size() && keys[j].key < k) ++j;
                if (j == keys.size() || keys[j].key != k) differ(true, k, r);
                return;
            }
            skipTouched();
            if (j == keys.size() || keys[j].key != k || keys[j].recno != r) differ(true, k, r);
            ++j;
        });
        if (!uniqueOnly) {
            skipTouched();
            if (j < keys.size()) differ(false, {}, 0);
        }
        CdxTagBuild b;
        b.name = tk.tag().name;
        b.keyExpression = tk.tag().keyExpression;
        b.forExpression = tk.tag().forExpression;
        b.keyLength = tk.tag().keyLength;
        b.options = tk.tag().options;
        b.pad = tk.pad();
        b.keys = std::move(keys);
        builds.push_back(std::move(b));
    }
    writeIndexFile(table, path, buildCdx(builds));
}

CdxTag StructuralIndex::defineTag(const DbfTable& table, std::string_view name, std::string_view expression,
                                  std::uint8_t options, std::span<const std::string> longFieldNames) {
    KeyExpression e = [&] {
        try {
            return KeyExpression::compile(expression, table.fields(), table.nullFlagsField(), table.codePage(),
                                          longFieldNames);
        } catch (const Error& err) {
            throw Error(table.path() + ", new tag " + std::string(name) + ": " + err.what());
        }
    }();
    if (e.type() == KeyType::DateTime)
        throw Error(table.path() + ", new tag " + std::string(name) +
                    ": keys on datetime values are not computed by this program (index TTOC(t,1) instead)");
    CdxTag t;
    t.name = std::string(name);
    t.keyExpression = std::string(expression);
    t.options = static_cast<std::uint8_t>(options & (cdx_option::kUnique | cdx_option::kCandidate));
    int length = e.keyLength();
    if (e.nullPrefixed()) {
        t.options |= cdx_option::kNullPrefix;
        ++length;
    }
    if (length < 1 || length > 240)
        throw Error(table.path() + ", new tag " + std::string(name) + ": keys of " + std::to_string(length) +
                    " bytes are outside the 1 to 240 an index allows");
    t.keyLength = static_cast<std::uint16_t>(length);
    return t;
}

void StructuralIndex::rebuild(DbfTable& table, const std::string& indexPath, std::span<const CdxTag> definitions,
                              std::span<const std::string> longFieldNames) {
    std::vector<TagKeys> tags;
    for (const CdxTag& def : definitions)
        tags.emplace_back(def, indexPath, table.fields(), table.nullFlagsField(), table.codePage(), longFieldNames);
    auto allKeys = computeAllTagKeys(tags, [&](const RecordVisit& v) { scanTable(table, v); });
    std::vector<CdxTagBuild> builds;
    for (std::size_t ti = 0; ti < tags.size(); ++ti) {
        const CdxTag& def = definitions[ti];
        const TagKeys& tk = tags[ti];
        CdxTagBuild b;
        b.name = def.name;
        b.keyExpression = def.keyExpression;
        b.forExpression = def.forExpression;
        b.keyLength = def.keyLength;
        b.options = def.options;
        b.pad = tk.pad();
        b.keys = std::move(allKeys[ti]);
        builds.push_back(std::move(b));
    }
    writeIndexFile(table, indexPath, buildCdx(builds));
}

std::vector<std::string> StructuralIndex::verify(const DbfTable& table, const std::string& indexPath,
                                                 std::span<const std::string> longFieldNames) {
    std::vector<std::string> problems;
    std::optional<CdxFile> opened;
    try {
        opened.emplace(CdxFile::open(indexPath));
    } catch (const Error& e) {
        problems.push_back(e.what());
        return problems;
    }
    const CdxFile& file = *opened;
    for (const CdxTag& t : file.tags()) {
        try {
            TagKeys tk(t, indexPath, table.fields(), table.nullFlagsField(), table.codePage(), longFieldNames);
            std::vector<CdxKey> expected;
            std::string k;
            scanTable(table, [&](std::uint32_t recno, std::span<const std::uint8_t> rec) {
                if (!tk.includes(rec)) return;
                tk.key(rec, k);
                expected.push_back(CdxKey{k, recno});
            });
            if ((t.options & cdx_option::kUnique) && !(t.options & cdx_option::kCandidate)) {
                std::sort(expected.begin(), expected.end(), [](const CdxKey& a, const CdxKey& b) {
                    const int c = a.key.compare(b.key);
                    return c != 0 ? c < 0 : a.recno < b.recno;
                });
                expected.erase(std::unique(expected.begin(), expected.end(),
                                           [](const CdxKey& a, const CdxKey& b) { return a.key == b.key; }),
                               expected.end());
            }
            for (auto& p : checkCdxTag(file, t, tk.pad(), std::move(expected))) problems.push_back(std::move(p));
        } catch (const Error& e) {
            problems.push_back(e.what());
        }
    }
    return problems;
}

} // namespace qm::xbase
