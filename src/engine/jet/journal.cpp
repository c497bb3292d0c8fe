#include "journal.h"

#include "value/value.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm::jet {

namespace {

constexpr char kMagic[8] = {'Q', 'M', 'J', 'E', 'T', 'J', '0', '1'};
constexpr std::size_t kHeaderSize = 32;

std::uint32_t checksum(std::uint32_t seed, const std::uint8_t* p, std::size_t n) {
    // FNV-1a over 32 bits; enough to tell a torn record from a whole one.
    std::uint32_t h = 2166136261u ^ seed;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

[[noreturn]] void ioFailure(const std::string& path, const char* what) {
    throw Error(path + ": " + what + " failed: " + std::strerror(errno));
}

void writeAll(int fd, const std::uint8_t* p, std::size_t n, std::uint64_t offset, const std::string& path) {
    writeFully(fd, p, n, offset, path, "writing the rollback journal");
}

std::size_t readUpTo(int fd, std::uint8_t* p, std::size_t n, std::uint64_t offset) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::pread(fd, p + got, n - got, off_t(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += std::size_t(r);
    }
    return got;
}

} // namespace

WriteFaults& writeFaults() {
    static WriteFaults faults;
    return faults;
}

void writeFully(int fd, const std::uint8_t* p, std::size_t n, std::uint64_t offset, const std::string& path,
                const char* what) {
    WriteFaults& f = writeFaults();
    if (f.exitAfter >= 0 && f.exitAfter-- == 0) ::_exit(86);
    if (f.failAfter >= 0 && f.failAfter-- == 0) {
        errno = ENOSPC;
        ioFailure(path, what);
    }
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, off_t(offset));
        if (w < 0) {
            if (errno == EINTR) continue;
            ioFailure(path, what);
        }
        if (w == 0) {
            errno = ENOSPC;
            ioFailure(path, what);
        }
        p += w;
        n -= std::size_t(w);
        offset += std::uint64_t(w);
    }
}

void syncParentFolder(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) parent = ".";
    const int fd = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return; // some file systems do not open folders; nothing more we can do
    ::fsync(fd);
    ::close(fd);
}

Journal::Journal(std::string databasePath) : dbPath_(std::move(databasePath)), path_(pathFor(dbPath_)) {}

Journal::~Journal() {
    if (fd_ >= 0) ::close(fd_);
}

void Journal::begin(std::uint32_t pageSize, std::uint32_t pageCount) {
    if (fd_ >= 0) return;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) ioFailure(path_, "creating the rollback journal");
    pageSize_ = pageSize;
    originalPages_ = pageCount;
    std::uint8_t h[kHeaderSize] = {};
    std::memcpy(h, kMagic, 8);
    put32(h + 8, pageSize);
    put32(h + 12, pageCount);
    put32(h + 16, checksum(0, h, 16));
    try {
        writeAll(fd_, h, kHeaderSize, 0, path_);
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
        throw;
    }
    size_ = kHeaderSize;
    dirty_ = true;
    nameSynced_ = false;
    saved_.clear();
}

void Journal::save(std::uint32_t n, const std::uint8_t* bytes) {
    std::vector<std::uint8_t> rec(8 + pageSize_);
    put32(rec.data(), n);
    std::memcpy(rec.data() + 8, bytes, pageSize_);
    put32(rec.data() + 4, checksum(n, bytes, pageSize_));
    writeAll(fd_, rec.data(), rec.size(), size_, path_);
    size_ += rec.size();
    saved_.insert(n);
    dirty_ = true;
}

void Journal::sync() {
    if (fd_ < 0 || !dirty_) return;
    if (::fdatasync(fd_) != 0) ioFailure(path_, "flushing the rollback journal");
    if (!nameSynced_) {
        syncParentFolder(path_); // the journal's name must survive a crash too
        nameSynced_ = true;
    }
    dirty_ = false;
}

void Journal::markLinking() {
    if (fd_ < 0) return;
    const std::uint8_t mark = 1;
    writeAll(fd_, &mark, 1, 20, path_);
}

bool Journal::linkingBegun(const std::string& databasePath) {
    const int fd = ::open(pathFor(databasePath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint8_t h[kHeaderSize] = {};
    const bool whole = readUpTo(fd, h, kHeaderSize, 0) == kHeaderSize;
    ::close(fd);
    return whole && h[20] == 1;
}

void Journal::finish() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
    if (::unlink(path_.c_str()) != 0 && errno != ENOENT) ioFailure(path_, "removing the rollback journal");
    syncParentFolder(path_);
    saved_.clear();
    originalPages_ = 0;
}

bool Journal::recover(const std::string& databasePath, int dbFd) {
    const std::string path = pathFor(databasePath);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        ioFailure(path, "opening the rollback journal");
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    std::uint8_t h[kHeaderSize];
    const bool whole = readUpTo(fd, h, kHeaderSize, 0) == kHeaderSize && std::memcmp(h, kMagic, 8) == 0 &&
                       get32(h + 16) == checksum(0, h, 16);
    if (whole) {
        const std::uint32_t pageSize = get32(h + 8), pages = get32(h + 12);
        if (pageSize != 2048 && pageSize != 4096)
            throw Error(path + ": the rollback journal is damaged (page size " + std::to_string(pageSize) + ")");
        std::vector<std::uint8_t> rec(8 + pageSize);
        std::uint64_t at = kHeaderSize;
        while (readUpTo(fd, rec.data(), rec.size(), at) == rec.size()) {
            const std::uint32_t n = get32(rec.data());
            if (get32(rec.data() + 4) != checksum(n, rec.data() + 8, pageSize)) break; // torn tail
            writeFully(dbFd, rec.data() + 8, pageSize, std::uint64_t(n) * pageSize, databasePath,
                       "restoring a page from the rollback journal");
            at += rec.size();
        }
        if (::ftruncate(dbFd, off_t(std::uint64_t(pages) * pageSize)) != 0)
            ioFailure(databasePath, "restoring the length from the rollback journal");
        if (::fsync(dbFd) != 0) ioFailure(databasePath, "flushing the restored database");
    }
    // A journal without a whole header was cut short before any page of the
    // database was touched: there is nothing to put back.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ioFailure(path, "removing the rollback journal");
    syncParentFolder(path);
    return true;
}

} // namespace qm::jet
