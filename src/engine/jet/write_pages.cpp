#include "write_pages.h"

#include "value/value.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::jet {

namespace {

[[noreturn]] void ioFailure(const std::string& path, const std::string& what) {
    throw Error(path + ": " + what + " failed: " + std::strerror(errno));
}

std::string lockPathFor(const std::string& path) {
    std::filesystem::path p(path);
    std::string ext = p.extension().string();
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    p.replace_extension(ext == ".accdb" ? ".laccdb" : ".ldb");
    return p.string();
}

bool takeLock(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

} // namespace

void PageStore::openLockFile() {
    lockPath_ = lockPathFor(path_);
    lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (lockFd_ >= 0) {
        madeLockFile_ = true;
    } else {
        if (errno != EEXIST) ioFailure(lockPath_, "creating the lock file");
        lockFd_ = ::open(lockPath_.c_str(), O_RDWR | O_CLOEXEC);
        if (lockFd_ < 0) ioFailure(lockPath_, "opening the lock file");
    }
}

void PageStore::lock() {
    openLockFile();
    // A lock file nobody holds was left by a program that ended without
    // removing it; a held one means another writer is at work.
    if (!takeLock(lockFd_) || !takeLock(fd_)) {
        const int e = errno;
        ::close(lockFd_);
        lockFd_ = -1;
        if (madeLockFile_) ::unlink(lockPath_.c_str());
        madeLockFile_ = false;
        if (e == EAGAIN || e == EACCES)
            throw Error(path_ + ": the database is open for writing by another program (lock file " + lockPath_ +
                        "); close it there and try again");
        errno = e;
        ioFailure(path_, "locking the database");
    }
}

PageStore::PageStore(const std::string& path, const std::string& password)
    : path_(path), journal_(std::make_unique<Journal>(path)) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == EACCES || errno == EROFS)
            throw Error(path + ": the database cannot be written (the file or its folder is read-only)");
        ioFailure(path, "opening the database for writing");
    }
    try {
        lock();
        Journal::recover(path_, fd_);
        struct stat st {};
        if (::fstat(fd_, &st) != 0) ioFailure(path_, "reading the file size");
        std::vector<std::uint8_t> first(4096);
        const ssize_t got = ::pread(fd_, first.data(), first.size(), 0);
        if (got < 0) ioFailure(path_, "reading the header page");
        header_ = parseHeader(path_, first.data(), std::size_t(got));
        if (header_.format.jet3)
            throw Error(path_ + ": Access 97 (Jet 3) databases are read-only in this program");
        if (!header_.password.empty() && header_.password != password)
            throw Error(path_ + ": Not a valid password.");
        try {
            codec_ = makePageCodec(path_, header_, password);
        } catch (const WrongPassword& e) {
            throw Error(path_ + ": " + e.what());
        }
        if (st.st_size % header_.format.pageSize != 0)
            throw Error(path_ + ": the file length (" + std::to_string(st.st_size) +
                        " bytes) is not a whole number of pages; the database is damaged");
        pageCount_ = filePages_ = std::uint32_t(st.st_size / header_.format.pageSize);
    } catch (...) {
        if (lockFd_ >= 0) ::close(lockFd_);
        if (madeLockFile_) ::unlink(lockPath_.c_str());
        ::close(fd_);
        throw;
    }
}

std::unique_ptr<PageStore> PageStore::createFile(const std::string& path, const std::vector<std::uint8_t>& page0,
                                                 const std::string& password) {
    std::unique_ptr<PageStore> s(new PageStore());
    s->path_ = path;
    s->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (s->fd_ < 0) {
        if (errno == EEXIST) throw Error(path + ": a file of that name already exists");
        ioFailure(path, "creating the database");
    }
    try {
        s->lock();
        s->header_ = parseHeader(path, page0.data(), page0.size());
        s->codec_ = makePageCodec(path, s->header_, password);
        writeFully(s->fd_, page0.data(), page0.size(), 0, path, "writing the header page");
        s->pageCount_ = s->filePages_ = 1;
        s->journal_ = std::make_unique<Journal>(path);
    } catch (...) {
        ::close(s->fd_);
        s->fd_ = -1;
        ::unlink(path.c_str());
        throw;
    }
    return s;
}

PageStore::~PageStore() {
    if (fd_ >= 0) {
        if (changed()) {
            try {
                rollback();
            } catch (...) {
                // the journal stays; the next open rolls back
            }
        }
        ::close(fd_);
    }
    if (lockFd_ >= 0) {
        if (madeLockFile_) ::unlink(lockPath_.c_str());
        ::close(lockFd_);
    }
}

PageStore::Buf& PageStore::load(std::uint32_t n) {
    auto it = cache_.find(n);
    if (it != cache_.end()) return it->second;
    if (n >= pageCount_)
        throw Error(path_ + ": page " + std::to_string(n) + " lies beyond the end of the file (" +
                    std::to_string(pageCount_) + " pages); the database is damaged");
    Buf b;
    b.bytes.resize(pageSize());
    std::size_t got = 0;
    while (got < b.bytes.size()) {
        const ssize_t r = ::pread(fd_, b.bytes.data() + got, b.bytes.size() - got,
                                  off_t(std::uint64_t(n) * pageSize() + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) ioFailure(path_, "reading page " + std::to_string(n));
        if (r == 0) throw Error(path_ + ": page " + std::to_string(n) + " is cut short; the database is damaged");
        got += std::size_t(r);
    }
    if (n > 0 && codec_) codec_->decode(n, b.bytes.data(), b.bytes.size());
    return cache_.emplace(n, std::move(b)).first->second;
}

const std::uint8_t* PageStore::read(std::uint32_t n) { return load(n).bytes.data(); }

std::uint8_t* PageStore::write(std::uint32_t n) {
    Buf& b = load(n);
    ++changes_;
    if (!b.dirty) {
        if (!journal_->active()) journal_->begin(pageSize(), filePages_);
        if (journal_->needs(n)) {
            // Keep the original as the file holds it (encoded when the file is).
            std::vector<std::uint8_t> orig(b.bytes);
            if (n > 0 && codec_) codec_->encode(n, orig.data(), orig.size());
            journal_->save(n, orig.data());
        }
        b.dirty = true;
        dirty_.push_back(n);
    }
    return b.bytes.data();
}

std::uint32_t PageStore::append() {
    if (std::uint64_t(pageCount_ + 1) * pageSize() > (std::uint64_t(1) << 31))
        throw Error(path_ + ": the database would grow beyond the 2 GB limit of the Access format");
    if (!journal_->active()) journal_->begin(pageSize(), filePages_);
    const std::uint32_t n = pageCount_++;
    ++changes_;
    Buf b;
    b.bytes.assign(pageSize(), 0);
    b.dirty = true;
    cache_[n] = std::move(b);
    dirty_.push_back(n);
    return n;
}

bool PageStore::reachable(std::uint32_t n) const {
    if (journal_->active() && n >= journal_->originalPageCount()) return false;
    return !unreachable_.count(n);
}

const std::uint8_t* PageStore::peek(std::uint32_t n) const {
    auto it = cache_.find(n);
    return it != cache_.end() && (it->second.dirty || n >= filePages_) ? it->second.bytes.data() : nullptr;
}

void PageStore::writePages(const std::vector<std::uint32_t>& pages) {
    std::vector<std::uint8_t> enc;
    for (std::uint32_t n : pages) {
        Buf& b = cache_.at(n);
        const std::uint8_t* p = b.bytes.data();
        if (n > 0 && codec_) {
            enc = b.bytes;
            codec_->encode(n, enc.data(), enc.size());
            p = enc.data();
        }
        writeFully(fd_, p, pageSize(), std::uint64_t(n) * pageSize(), path_, "writing the database");
        b.dirty = false;
        if (n >= filePages_) filePages_ = n + 1;
    }
}

// Early (all = false) only the pages nobody can reach are written; at commit
// they go first and the pages that make them reachable last, so that a
// reader meanwhile finds the old state or, for the few writes of the last
// step, pages the journal names as being linked.
void PageStore::writeOut(bool all) {
    journal_->sync();
    std::sort(dirty_.begin(), dirty_.end());
    std::vector<std::uint32_t> early, held;
    for (std::uint32_t n : dirty_) (reachable(n) ? held : early).push_back(n);
    writePages(early);
    if (!all) {
        held_ = held.size();
        dirty_ = std::move(held);
        return;
    }
    held_ = 0;
    if (!held.empty()) journal_->markLinking();
    writePages(held);
    dirty_.clear();
}

void PageStore::forgetClean() {
    for (auto it = cache_.begin(); it != cache_.end();) {
        if (it->second.dirty) ++it;
        else it = cache_.erase(it);
    }
}

void PageStore::commit() {
    if (!changed()) return;
    try {
        writeOut(true);
        if (::fsync(fd_) != 0) ioFailure(path_, "flushing the database");
        journal_->finish();
        unreachable_.clear();
    } catch (...) {
        try {
            rollback();
        } catch (...) {
        }
        throw;
    }
    if (cache_.size() > 4096) forgetClean();
}

void PageStore::spill(std::size_t keepAtMost) {
    if (dirty_.size() <= keepAtMost + held_ && cache_.size() <= 2 * keepAtMost + 1024 + held_) return;
    try {
        writeOut(false);
    } catch (...) {
        try {
            rollback();
        } catch (...) {
        }
        throw;
    }
    forgetClean();
}

void PageStore::rollback() {
    cache_.clear();
    dirty_.clear();
    unreachable_.clear();
    held_ = 0;
    if (journal_->active()) {
        const std::uint32_t pages = journal_->originalPageCount();
        journal_ = std::make_unique<Journal>(path_); // closes the journal file, which stays on disk
        Journal::recover(path_, fd_);
        pageCount_ = filePages_ = pages;
    }
}

} // namespace qm::jet
