// Keeping a table's structural index (.cdx, or .dcx for a container) in
// step with its records.
//
// The index is rebuilt as a whole when a write is committed: every tag's
// key (and FOR clause) is evaluated for every record, deleted ones
// included, as FoxPro does, and a new file is laid out and written through
// the table's journal.  Before anything is written the stored keys of the
// records that the write did not touch are compared with what this program
// computes for them; when they differ, or when a tag uses a collation, an
// order or an expression this program cannot compute exactly, the write is
// refused with an Error naming the index file and the tag, and the table
// is rolled back.  An index that no longer matches its table is never left
// behind.
//
// Cost: one pass over the table and one sort per tag per commit, so a
// transfer should append its rows inside one transaction (a batch).
#pragma once

#include "xbase/cdx.h"
#include "xbase/dbf_table.h"
#include "xbase/keyexpr.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

// One tag made ready to compute keys for a table's records.
class TagKeys {
public:
    // Throws Error naming the file and the tag when the keys cannot be
    // computed exactly: a collation other than MACHINE, a descending tag,
    // an expression the evaluator does not handle, or a key length or
    // null-prefix setting that differs from what the expression produces.
    // longNames: the container's long field names in field order, or empty.
    TagKeys(const CdxTag& tag, std::string_view indexFile, std::span<const DbfField> fields,
            const DbfField* nullFlags, int codePage, std::span<const std::string> longNames = {});

    const CdxTag& tag() const { return tag_; }
    char pad() const { return key_.padByte(); }
    // The record belongs in the tag (its FOR clause holds).
    bool includes(std::span<const std::uint8_t> record) const;
    void key(std::span<const std::uint8_t> record, std::string& out) const;

private:
    CdxTag tag_;
    std::string where_;
    KeyExpression key_;
    std::optional<KeyExpression> for_;
};

// The entries a tag should hold: records(visit) must call visit(recno, raw
// record) for every record in record order.  Sorted by (key, recno); for a
// UNIQUE tag only the first record of equal keys is kept.  A candidate tag
// that meets a duplicate key is an Error naming the tag, the key and both
// records.
std::vector<CdxKey> computeTagKeys(
    const TagKeys& tag,
    const std::function<void(const std::function<void(std::uint32_t, std::span<const std::uint8_t>)>&)>& records);

// The structural index of an open table, maintained on every commit.
class StructuralIndex final : public TableListener {
public:
    // Attaches to the table (which must outlive this object).  Nothing is
    // read until the first write.  A container's member table passes the
    // long field names the container holds for it (index expressions use
    // them).
    explicit StructuralIndex(DbfTable& table, std::vector<std::string> longFieldNames = {});
    ~StructuralIndex() override;
    StructuralIndex(const StructuralIndex&) = delete;
    StructuralIndex& operator=(const StructuralIndex&) = delete;

    // The structural index file of a table: name.cdx (name.dcx for a .dbc),
    // found ignoring case.
    static std::string indexPathFor(const std::string& dbfPath);

    void recordsAppended(DbfTable& table, std::uint32_t firstRecno, std::uint32_t count) override;
    void recordChanged(DbfTable& table, std::uint32_t recno) override;
    void beforeCommit(DbfTable& table) override;

    // The definition of a new tag as FoxPro makes it for `expression` on
    // the table: key length from the expression, the null-marker option
    // when it reads a nullable field.  `options` adds unique/candidate bits.
    // Throws Error naming the tag when the expression cannot be computed.
    static CdxTag defineTag(const DbfTable& table, std::string_view name, std::string_view expression,
                            std::uint8_t options = 0, std::span<const std::string> longFieldNames = {});

    // Lays out a fresh index for the table with the given tags' definitions
    // and writes it through the table's running transaction (or directly
    // when none runs).
    static void rebuild(DbfTable& table, const std::string& indexPath, std::span<const CdxTag> definitions,
                        std::span<const std::string> longFieldNames = {});

    // Compares every tag of the index with the table's records; returns the
    // problems found (empty when the index is sound).
    static std::vector<std::string> verify(const DbfTable& table, const std::string& indexPath,
                                           std::span<const std::string> longFieldNames = {});

private:
    // Refuses the write as soon as it starts when a tag cannot be computed,
    // before any record reaches the file.
    void checkComputable(DbfTable& table);

    DbfTable& table_;
    std::vector<std::string> longNames_;
    std::set<std::uint32_t> touched_;
    std::uint32_t appendedFrom_ = 0; // first appended record of the running write, 0 = none
    bool dirty_ = false;
    bool checked_ = false;
};

} // namespace qm::xbase
