#include "file_io.h"

#include "value/value.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::xbase {

std::string errnoText(int err)
{
    switch (err) {
    case ENOENT: return "the file does not exist";
    case EACCES:
    case EPERM: return "permission denied";
    case ENOSPC: return "the disk is full";
    case EDQUOT: return "the disk quota is exhausted";
    case EROFS: return "the file system is read-only";
    case EEXIST: return "the file already exists";
    case EISDIR: return "it is a folder, not a file";
    default: return std::strerror(err);
    }
}

File::File(const std::string& path, Access access) : path_(path)
{
    int flags = O_CLOEXEC;
    switch (access) {
    case Access::Read: flags |= O_RDONLY; break;
    case Access::ReadWrite: flags |= O_RDWR; break;
    case Access::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL; break;
    }
    do {
        fd_ = ::open(path.c_str(), flags, 0666);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0)
        throw Error("Cannot open \"" + path + "\": " + errnoText(errno) + ".");
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw Error("Cannot open \"" + path + "\": " + errnoText(EISDIR) + ".");
    }
}

File::~File() { close(); }

File::File(File&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void File::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::uint64_t File::size() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw Error("Cannot read the size of \"" + path_ + "\": " + errnoText(errno) + ".");
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t File::readAt(std::uint64_t offset, void* buffer, std::size_t length) const
{
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd_, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("Cannot read \"" + path_ + "\": " + errnoText(errno) + ".");
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void File::readExact(std::uint64_t offset, void* buffer, std::size_t length, std::string_view what) const
{
    if (readAt(offset, buffer, length) != length)
        throw Error("\"" + path_ + "\" is damaged: it ends inside " + std::string(what) + " (at byte " +
                    std::to_string(offset) + ").");
}

void File::writeAt(std::uint64_t offset, const void* data, std::size_t length)
{
    const auto* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd_, p + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("Cannot write \"" + path_ + "\": " + errnoText(errno) + ".");
        }
        done += static_cast<std::size_t>(n);
    }
}

void File::truncate(std::uint64_t size)
{
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
        throw Error("Cannot set the size of \"" + path_ + "\": " + errnoText(errno) + ".");
}

void File::sync()
{
    if (::fdatasync(fd_) != 0 && errno != EINVAL)
        throw Error("Cannot write \"" + path_ + "\" to disk: " + errnoText(errno) + ".");
}

void File::lockExclusive()
{
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == EWOULDBLOCK)
            throw Error("\"" + path_ + "\" is being changed by another program; try again when it has finished.");
        throw Error("Cannot lock \"" + path_ + "\": " + errnoText(errno) + ".");
    }
}

void File::unlock()
{
    if (fd_ >= 0)
        ::flock(fd_, LOCK_UN);
}

bool fileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void removeFile(const std::string& path)
{
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        throw Error("Cannot delete \"" + path + "\": " + errnoText(errno) + ".");
}

void renameFile(const std::string& from, const std::string& to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw Error("Cannot rename \"" + from + "\" to \"" + to + "\": " + errnoText(errno) + ".");
}

std::string directoryOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string fileNameOf(const std::string& path)
{
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void syncDirectoryOf(const std::string& path)
{
    std::string dir = directoryOf(path);
    if (dir.empty())
        dir = ".";
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace qm::xbase
