// Rollback journal of the Access writer.
//
// Before the first byte of an existing page changes, the page's original
// bytes are appended to "<database>-journal" and the journal is flushed to
// disk; only then may the database file be written.  The journal is removed
// once the database file itself has been flushed: that removal is the moment
// the operation counts as done.  Opening a database whose journal is still
// there puts the original pages back and cuts the file to its old length.
//
// Journal layout (little-endian):
//   0   8   "QMJETJ01"
//   8   4   page size
//   12  4   page count of the database before the operation
//   16  4   checksum of bytes 0..15
//   20  1   1 once the commit has begun to write pages that were in use
//           (reachable) before the operation; 0 before.  Recovery does not
//           need it: it tells whether another program reading the file
//           meanwhile might have met a half-linked state.
//   21  11  zero
//   32  ... records: u32 page number, u32 checksum of number and bytes, page bytes
// A record cut short by a crash is ignored: the database page it would
// restore was not yet written, because writing waits for the flush.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

namespace qm::jet {

class Journal {
public:
    explicit Journal(std::string databasePath);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    static std::string pathFor(const std::string& databasePath) { return databasePath + "-journal"; }

    bool active() const { return fd_ >= 0; }
    // Starts a journal for an operation on a file of `pageCount` pages.
    void begin(std::uint32_t pageSize, std::uint32_t pageCount);
    std::uint32_t originalPageCount() const { return originalPages_; }
    // True when page `n` has to be saved before it is overwritten.
    bool needs(std::uint32_t n) const { return n < originalPages_ && !saved_.count(n); }
    // Appends the original bytes of page n (not yet flushed).
    void save(std::uint32_t n, const std::uint8_t* bytes);
    // Flushes what was saved; the database pages may be written afterwards.
    void sync();
    // Sets the linking mark (byte 20) before the commit writes pages that
    // were reachable.
    void markLinking();
    // True when the journal beside `databasePath` exists and its commit had
    // begun to write reachable pages.
    static bool linkingBegun(const std::string& databasePath);
    // The operation is complete (database flushed): removes the journal.
    void finish();

    // Puts back the pages of a journal left behind, cuts the database to its
    // old length and removes the journal.  Returns false when there was none.
    // `dbFd` is the database opened read-write.  Throws qm::Error on I/O
    // failure, naming the files.
    static bool recover(const std::string& databasePath, int dbFd);

private:
    std::string dbPath_;
    std::string path_;
    int fd_ = -1;
    std::uint32_t pageSize_ = 0;
    std::uint32_t originalPages_ = 0;
    std::uint64_t size_ = 0;
    bool dirty_ = false;
    bool nameSynced_ = false;
    std::unordered_set<std::uint32_t> saved_;
};

// Writes all n bytes at offset or throws qm::Error naming `path` and `what`.
// Every write of the writer goes through here, so that the tests can stop
// the process or fail a write at a chosen point.
void writeFully(int fd, const std::uint8_t* p, std::size_t n, std::uint64_t offset, const std::string& path,
                const char* what);

// Fault injection for the crash and disk-full tests: after this many more
// writes the process ends at once (_exit) or the write fails with ENOSPC.
// Negative = off.  Not for use outside tests.
struct WriteFaults {
    long exitAfter = -1;
    long failAfter = -1;
};
WriteFaults& writeFaults();

// Flushes the folder that holds `path`, so that a created or removed file
// name survives a crash.
void syncParentFolder(const std::string& path);

} // namespace qm::jet
