// Crash safety for writes to xBase files.
//
// A Journal is a small file beside the data files that makes a group of
// changes all-or-nothing across a process kill or a full disk:
//
//  * Undo journal (appends, updates, deletions, header rewrites).  Before a
//    file is first changed its size is recorded (protectFile), and before
//    bytes inside the old size are overwritten their old contents are
//    recorded (protectRange).  The journal is made durable (sync) before the
//    data files are touched.  commit() makes the data durable and then
//    removes the journal: that removal is the commit point.  Recovery of an
//    undo journal restores the recorded bytes and truncates every file to
//    its recorded size (removing files that did not exist).
//
//  * Redo journal (dropping and renaming files).  The whole intent is
//    written and made durable first; recovery finishes it.
//
// File layout: "QMJRNL1\n", a kind byte ('U' or 'R'), then entries
//   [type u8][path length u16][path][offset u64][length u32][bytes][crc32 u32]
// where the crc covers the entry.  A torn last entry is ignored: nothing
// it describes has been changed yet, because data files are only written
// after the journal has been synced.
//
// Paths in the journal are stored as given (absolute paths are used by the
// table layer), so a folder can be recovered from any working directory.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qm::xbase {

class Journal {
public:
    enum class Kind : char { Undo = 'U', Redo = 'R' };

    // Creates the journal file (fails with qm::Error if it exists: a write is
    // in progress or an interrupted one waits for recovery).
    Journal(std::string journalPath, Kind kind = Kind::Undo);
    // An uncommitted journal is rolled back (undo) or left for recovery (redo).
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const std::string& path() const { return path_; }
    Kind kind() const { return kind_; }

    // ---- undo journal ----
    // Records the file's current size (or that it does not exist) the first
    // time it is named; later calls for the same file do nothing.
    void protectFile(const std::string& file);
    // Records the current bytes [offset, offset+length) of a protected file,
    // as far as they lie inside its recorded size; ranges already recorded
    // are skipped.
    void protectRange(const std::string& file, std::uint64_t offset, std::uint32_t length);
    // Writes pending entries and fsyncs the journal if anything was added
    // since the last sync.  Must be called before protected files are written.
    void sync();
    // Recorded original size of a protected file (-1: did not exist).
    std::int64_t originalSize(const std::string& file) const;

    // ---- redo journal ----
    void intendRemove(const std::string& file);
    void intendRename(const std::string& from, const std::string& to);
    // Makes the intent durable, then carries it out.
    void execute();

    // fsyncs the protected files (undo) and removes the journal.
    void commit();
    // Undo: restores the protected files now and removes the journal.
    void rollback();
    bool finished() const { return finished_; }

    // Recovers whatever journal is at journalPath: rolls an undo journal
    // back, completes a redo journal, and removes it.  Returns false when no
    // journal exists.  Throws qm::Error when the files cannot be restored.
    static bool recover(const std::string& journalPath);
    // The journal path used for a table file: "<path>.qmj".
    static std::string pathFor(const std::string& file);
    static constexpr const char* kExtension = ".qmj";

private:
    struct Entry;
    void append(std::uint8_t type, const std::string& file, std::uint64_t offset, const std::string& bytes);
    static void applyUndo(const std::vector<Entry>& entries);
    static void applyRedo(const std::vector<Entry>& entries);

    std::string path_;
    Kind kind_;
    int fd_ = -1;
    std::string pending_;
    bool dirty_ = false;
    bool finished_ = false;
    std::map<std::string, std::int64_t> sizes_;
    std::map<std::string, std::set<std::uint64_t>> savedBlocks_; // 512-byte granules already saved
    std::vector<std::pair<int, std::string>> intents_;           // redo: (type, payload)
};

} // namespace qm::xbase
