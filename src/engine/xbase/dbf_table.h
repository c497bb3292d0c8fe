// One xBase table file (.dbf) together with its memo file (.fpt or .dbt).
//
// This is the table layer every other part of the xBase engine builds on:
// the free-table folder, the database container (which is itself a table),
// and the structural index, which needs the raw bytes of each record.
//
// Layout in short (offsets from the start of the file):
//   0  version byte   1..3 last update YMD   4 record count (LE u32)
//   8  header length (LE u16)   10 record length incl. deletion flag (LE u16)
//  28  table flags (0x01 structural CDX, 0x02 memo, 0x04 container)
//  29  code page mark
//  32  field descriptors, 32 bytes each, ended by 0x0D
//      VFP tables: 263-byte container backlink after the 0x0D
//  header length: the records; byte 0 of a record is ' ' or '*' (deleted)
//  after the last record: one 0x1A (optional on reading)
//
// Memo files: FPT (FoxPro, big-endian block header, block size in the file
// header) for VFP and FoxPro 2.x tables; DBT for dBase III (text ended by
// 0x1A, 512-byte blocks) and dBase IV (FF FF 08 00 + length, block size in
// the file header).  Memo pointers are 4-byte little-endian block numbers in
// VFP tables and 10 ASCII digits in the older formats.
//
// Every failure is a qm::Error whose text names the file and the problem
// (and the record and field where one is concerned).
//
// Writing is transactional: changes go through a Journal (journal.h), so a
// process killed in the middle of a write leaves the files as they were
// before the write or as after it; the next open rolls an interrupted write
// back.  An exclusive advisory lock (flock) on the .dbf is held while a
// write is in progress.
#pragma once

#include "value/value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

class Journal;
class MemoFile;
class CodePage;

// Which family a table belongs to; follows from the version byte.
enum class TableFormat : std::uint8_t {
    VisualFoxPro, // 0x30 / 0x31 / 0x32
    FoxPro2,      // 0xF5 (and FoxBASE 0xFB)
    DBase3,       // 0x03 / 0x83 (also 0x02, 0x43, 0x63 read as plain dBase)
    DBase4,       // 0x8B / 0xCB
};

// Field flag bits (descriptor byte 18; only meaningful in VFP tables).
namespace field_flag {
inline constexpr std::uint8_t kSystem = 0x01;   // hidden (_NullFlags)
inline constexpr std::uint8_t kNullable = 0x02;
inline constexpr std::uint8_t kBinary = 0x04;   // NOCPTRANS on C/V/M; VFP also sets it on I/Y/T/B/W/Q
inline constexpr std::uint8_t kAutoInc = 0x08;  // with kBinary: 0x0C on autoincrement I
} // namespace field_flag

// Table flag bits (header byte 28).
namespace table_flag {
inline constexpr std::uint8_t kStructuralCdx = 0x01;
inline constexpr std::uint8_t kHasMemo = 0x02;
inline constexpr std::uint8_t kContainer = 0x04;
} // namespace table_flag

struct DbfField {
    std::string name;          // as stored in the descriptor (decoded), e.g. "CUSTOMERID"
    char type = 'C';           // 'C','V','Q','N','F','I','B','Y','D','T','L','M','G','W','P','0'
    std::uint32_t offset = 0;  // byte offset inside the record (the deletion flag is byte 0)
    std::uint16_t length = 0;  // bytes in the record
    std::uint8_t decimals = 0;
    std::uint8_t flags = 0;    // field_flag bits (0 for non-VFP tables)
    std::int32_t autoIncNext = 0; // next autoincrement value (valid when autoIncrement())
    std::uint8_t autoIncStep = 0;
    int nullBit = -1;          // bit index in _NullFlags of the "is null" bit, -1 if none
    int varLengthBit = -1;     // bit index of the V/Q "shorter than the width" bit, -1 if none

    bool nullable() const { return nullBit >= 0; }
    bool binary() const;       // C/V/M with NOCPTRANS, and Q/G/W/P always
    bool autoIncrement() const { return (flags & field_flag::kAutoInc) != 0 && type == 'I'; }
    bool isMemo() const { return type == 'M' || type == 'G' || type == 'W' || type == 'P' ||
                                 (type == 'B' && memoPointerIsText); }
    // True when the memo pointer is 10 ASCII digits (dBase, FoxPro 2.x).
    bool memoPointerIsText = false;
};

struct DbfHeader {
    std::uint8_t version = 0x30;
    int year = 0, month = 0, day = 0;  // last update, year in full (e.g. 2024)
    std::uint32_t recordCount = 0;     // includes deleted records
    std::uint16_t headerLength = 0;
    std::uint16_t recordLength = 0;
    std::uint8_t flags = 0;            // table_flag bits
    std::uint8_t codePageMark = 0;
    std::string backlink;              // VFP container backlink (relative path to the .dbc), "" for free tables
};

// A field asked for when a table is created.
struct FieldSpec {
    std::string name;        // at most 10 characters, letters/digits/underscore; stored upper-case
    char type = 'C';
    int length = 0;          // C/V/Q/N/F width; ignored (fixed) for I,B,Y,D,T,L,M,G,W
    int decimals = 0;        // N/F (and B display decimals)
    bool nullable = false;   // VFP only
    bool binary = false;     // NOCPTRANS for C/V/M (VFP only)
    bool autoIncrement = false; // I only (VFP only)
    std::int32_t autoIncNext = 1;
    std::uint8_t autoIncStep = 1;
};

struct CreateOptions {
    TableFormat format = TableFormat::VisualFoxPro;
    std::uint8_t codePageMark = 0x03;   // Windows-1252
    std::string backlink;               // container tables: path of the .dbc relative to the table's folder
    std::uint16_t memoBlockSize = 64;   // FPT block size (dBase memo files use 512)
    bool structuralCdx = false;         // sets table flag 0x01 (the caller writes the .cdx)
    bool containerFile = false;         // the table is itself a .dbc (flags 0x07, memo file .dct)
    std::string memoExtension;          // "" = by format: ".fpt" / ".dbt" (".dct" for a container)
    std::string memoStem;               // the table name a dBase IV memo header holds; "" = the .dbf's stem
};

// Observer of changes to a table, for the structural index and the
// container.  Called after the records are in the table's write buffer,
// before the write is committed; throwing aborts (rolls back) the write.
class TableListener {
public:
    virtual ~TableListener() = default;
    virtual void recordsAppended(class DbfTable& table, std::uint32_t firstRecno, std::uint32_t count) = 0;
    virtual void recordChanged(class DbfTable& table, std::uint32_t recno) = 0; // updated or (un)deleted
    // The write is about to be committed: flush derived files now (e.g. the .cdx)
    // through the same journal (DbfTable::journal()).
    virtual void beforeCommit(class DbfTable&) {}
};

class DbfTable {
public:
    enum class Mode { ReadOnly, ReadWrite };

    // Opens an existing table; the memo file is looked for beside it with any
    // letter case (.fpt/.FPT, .dbt/.DBT, .dct for a container).  A table whose
    // fields need a memo file that is missing is an error naming both files.
    // In ReadWrite mode an interrupted earlier write is rolled back first.
    static std::unique_ptr<DbfTable> open(const std::string& path, Mode mode = Mode::ReadOnly);

    // Creates a new, empty table (and its memo file when a field needs one).
    // Fails if the .dbf exists.  The files appear complete or not at all.
    static std::unique_ptr<DbfTable> create(const std::string& path, const std::vector<FieldSpec>& fields,
                                            const CreateOptions& options = {});

    ~DbfTable();
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;

    // ---- facts ----
    const std::string& path() const;
    std::string memoPath() const;                // "" when the table has no memo file
    const DbfHeader& header() const;             // reflects pending appends
    TableFormat format() const;
    std::uint32_t recordCount() const { return header().recordCount; } // incl. deleted
    // User fields in descriptor order; the hidden _NullFlags field is not among them.
    const std::vector<DbfField>& fields() const;
    // _NullFlags descriptor when present.
    const DbfField* nullFlagsField() const;
    // Index of the field whose name matches ignoring case, or -1.
    int fieldIndex(std::string_view name) const;
    // The code page the character data is in (e.g. 1252), from the mark; 1252 when unmarked.
    int codePage() const;
    std::uint16_t memoBlockSize() const;         // 0 when no memo file

    // ---- reading ----
    // Streams records in file order through one reused buffer.  Memory does
    // not grow with the number of records.
    class Reader {
    public:
        virtual ~Reader() = default;
        // Advances to the next record (deleted ones are skipped unless asked
        // for); false at the end.
        virtual bool next() = 0;
        virtual std::uint32_t recno() const = 0;       // 1-based
        virtual bool deleted() const = 0;
        // The raw record bytes (deletion flag first), valid until next().
        virtual std::span<const std::uint8_t> raw() const = 0;
        // Decodes one user field of the current record into out (reusing
        // out's text storage).  Null bit set -> Null; blank N/F/D/T/L -> Null;
        // C -> String padded to the width as stored; V -> String of its
        // length; binary C/V/M, Q, G, W -> Binary; M -> String; N/F ->
        // Decimal; I -> Long; B -> Double; Y -> Currency; D/T -> Date; L -> Boolean.
        virtual void decode(std::size_t field, Value& out) = 0;
    };
    std::unique_ptr<Reader> reader(bool includeDeleted = false) const;

    // Reads one record's raw bytes (recordLength bytes); recno is 1-based.
    void readRecord(std::uint32_t recno, std::string& raw) const;
    // Decodes a field from raw record bytes (as read by readRecord).
    void decodeField(std::span<const std::uint8_t> raw, std::size_t field, Value& out) const;
    // Live (not deleted) records; reads the deletion flags.
    std::uint64_t liveRecordCount() const;
    // Reads a memo block's content as stored (no code-page translation); empty for block 0.
    std::string readMemo(std::uint32_t block) const;

    // ---- writing ----  (ReadWrite mode only)
    // Writes are grouped in a transaction.  Without an explicit begin(),
    // each call below is its own transaction.  With begin(journal) the
    // table takes part in the caller's journal (for example the container
    // writing the .dbc, .dct and a member table together); the caller then
    // commits or rolls back the journal, after calling finish() here.
    void begin();
    void begin(Journal& sharedJournal);
    // Flushes buffered records, memo blocks and the header, calls the
    // listeners' beforeCommit, then commits the own journal (begin()) or
    // leaves the shared journal to its owner (begin(Journal&)).
    void commit();
    // Drops buffered changes and restores the files (own journal only; with
    // a shared journal the owner rolls back and reopens).
    void rollback();
    bool inTransaction() const;
    Journal* journal() const;   // the journal of the running transaction, or null

    // Appends a row; values in user-field order.  Empty = not given
    // (autoincrement gets its next value, a nullable field Null, others
    // blank).  A value that does not fit is refused with an Error naming
    // table, record number, field and value, and nothing of the row stays
    // behind.  Returns the new record number.
    std::uint32_t append(std::span<const Value> values);
    // Appends raw record bytes (recordLength bytes, deletion flag first) and
    // memo contents for the memo fields: memos[i] belongs to the i-th memo
    // field in field order (block numbers in raw are replaced).
    std::uint32_t appendRaw(std::span<const std::uint8_t> record, std::span<const std::string> memos = {});
    // Replaces the values of an existing record (memo text is written anew).
    void update(std::uint32_t recno, std::span<const Value> values);
    void setDeleted(std::uint32_t recno, bool deleted = true);
    // Rewrites the VFP backlink (container membership); "" frees the table.
    void setBacklink(const std::string& backlink);
    // Sets or clears table flag bits (e.g. structural CDX).
    void setTableFlags(std::uint8_t flags);

    void addListener(TableListener* listener);
    void removeListener(TableListener* listener);

    // Encodes a value as this table stores it in the field (code page, width,
    // decimals), as used by append; throws the same Error as append would.
    // Memo fields are refused here.  Useful for index keys.
    void encodeField(std::size_t field, const Value& value, std::string& out) const;

    // Deletes the table's files (dbf, memo, structural cdx) through a
    // journal, so that a crash leaves the drop completed on the next open.
    static void dropFiles(const std::string& dbfPath);
    // Renames dbf, memo and structural cdx to a new stem in the same folder;
    // crash-safe in the same way.
    static void renameFiles(const std::string& dbfPath, const std::string& newDbfPath);
    // Completes or rolls back interrupted writes for every journal in the
    // folder (not its sub-folders), then removes what killed processes left
    // of tables they were building (see buildingPath).  Called by the folder
    // and container databases when they open a folder for writing.
    static void recoverFolder(const std::string& folder);

    // New tables are built under a temporary name in their folder and put in
    // place when they are whole: "~qm<process id>-<n>.dbf" (memo and index
    // beside it).  Names starting with '~' are not listed as tables.  This
    // returns a name no file in the folder has yet.
    static std::string buildingPath(const std::string& folder);
    // Moves a table built at builtDbf (with its memo and structural index)
    // to finalDbf in the same folder, inside the caller's undo journal: the
    // final names are recorded as absent first, so that rolling the journal
    // back removes them.  The memo and index go first and the .dbf last: a
    // reader never finds the .dbf without them.  Fails, before anything is
    // moved, when a file of a final name exists.
    static void placeFiles(const std::string& builtDbf, const std::string& finalDbf, Journal& journal);

    struct Impl;
private:
    explicit DbfTable(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Memo and table file companions: the path of the file next to dbfPath with
// the given extension (".fpt", ".cdx"...), matched ignoring case when it
// exists, else with the extension in the case of the .dbf's own extension.
std::string companionPath(const std::string& dbfPath, std::string_view extension);

// The code page number for a mark (0 -> 1252), or 0 when the mark is unknown.
int codePageForMark(std::uint8_t mark);
// The VFP mark for a code page, or 0 when it has none.
std::uint8_t markForCodePage(int codePage);

} // namespace qm::xbase
