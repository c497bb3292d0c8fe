// Page access for writing: the database file opened read-write under a
// write lock, a cache of pages, and the rollback journal (journal.h).
//
// Pages are changed in memory; commit() makes the changes durable:
//   1. the original bytes of every changed page that existed before the
//      operation go to the journal, which is flushed;
//   2. the changed pages are written (encoded or encrypted as the file's
//      pages are, see office_crypto.h) and the database is flushed;
//   3. the journal is removed.
// A batch of operations may grow beyond memory: spill() writes early only
// the pages no reader of the file can reach yet, those the batch appended or
// took from the free pages (markUnreachable).  Every page that was in use
// when the batch began (table definitions, usage maps, the catalog, the
// global map, the pages of existing tables) stays in memory until commit,
// so another program reading the file meanwhile sees it as last committed.
// commit() writes the unreachable pages first, then marks the journal as
// linking (see journal.h) and writes the pages that link them in.
//
// Locking: the lock file Access uses (.ldb beside an .mdb, .laccdb beside an
// .accdb) is created if missing, and an open-file-description lock is taken
// on it and on the database.  A second writer, in this process or another,
// is refused.  The lock file is removed on close when this writer made it.
#pragma once

#include "format.h"
#include "journal.h"
#include "office_crypto.h"
#include "page_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace qm::jet {

class PageStore {
public:
    // Opens an existing database for writing: takes the lock, rolls back a
    // journal left by a crash, reads and checks the header (and password).
    PageStore(const std::string& path, const std::string& password);
    // Makes a new database file holding just `page0` (must not exist yet);
    // `password` opens the encryption page0 describes, if any.
    static std::unique_ptr<PageStore> createFile(const std::string& path, const std::vector<std::uint8_t>& page0,
                                                 const std::string& password = {});
    ~PageStore();
    PageStore(const PageStore&) = delete;
    PageStore& operator=(const PageStore&) = delete;

    const std::string& path() const { return path_; }
    const Header& header() const { return header_; }
    const Format& format() const { return header_.format; }
    std::uint32_t pageSize() const { return header_.format.pageSize; }
    std::uint32_t pageCount() const { return pageCount_; }

    // Page n as it is now.  The pointer stays valid until commit(),
    // rollback() or spill().
    const std::uint8_t* read(std::uint32_t n);
    // Page n for changing (read first).  Same validity.
    std::uint8_t* write(std::uint32_t n);
    // A new zero-filled page at the end of the file; returns its number.
    std::uint32_t append();

    bool changed() const { return !dirty_.empty() || (journal_ && journal_->active()); }
    // Pages handed out for changing so far (tells whether a call changed anything).
    std::uint64_t changes() const { return changes_; }
    // Makes everything changed so far durable and ends the operation.
    void commit();
    // Forgets every change since the last commit and restores the file.
    void rollback();
    // Writes the unreachable changed pages early when many are held; the
    // journal keeps the operation undoable.  Only between whole calls of
    // the writer.
    void spill(std::size_t keepAtMost = 2048);
    // Page n was free when the operation began and has been handed out
    // again: until commit nothing a reader follows points at it.
    void markUnreachable(std::uint32_t n) { unreachable_.insert(n); }
    // The page as this writer has it when it differs from (or is not yet
    // in) the file, else null.  For a reader that sees the uncommitted
    // state; does not load anything.
    const std::uint8_t* peek(std::uint32_t n) const;

private:
    PageStore() = default;
    struct Buf {
        std::vector<std::uint8_t> bytes;
        bool dirty = false;
    };
    Buf& load(std::uint32_t n);
    void lock();
    void openLockFile();
    bool reachable(std::uint32_t n) const;
    void writePages(const std::vector<std::uint32_t>& pages);
    void writeOut(bool all);
    void forgetClean();

    std::string path_;
    int fd_ = -1;
    int lockFd_ = -1;
    std::string lockPath_;
    bool madeLockFile_ = false;
    Header header_;
    std::uint32_t pageCount_ = 0;
    std::uint32_t filePages_ = 0; // pages the file really has on disk
    std::uint64_t changes_ = 0;
    std::unordered_map<std::uint32_t, Buf> cache_;
    std::vector<std::uint32_t> dirty_;
    std::unordered_set<std::uint32_t> unreachable_; // reused free pages of this operation
    std::size_t held_ = 0; // reachable changed pages the last spill kept back
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<PageCodec> codec_; // null when pages are stored in clear
};

} // namespace qm::jet
