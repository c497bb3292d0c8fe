// Thin wrappers over POSIX file descriptors for the xBase engine: whole
// reads and writes at an offset, with errors that name the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::xbase {

class File {
public:
    enum class Access { Read, ReadWrite, CreateNew };

    File() = default;
    File(const std::string& path, Access access);
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

    std::uint64_t size() const;
    // Reads up to length bytes at offset; returns the count read (short only at end of file).
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const;
    // Reads exactly length bytes or throws, naming what was being read.
    void readExact(std::uint64_t offset, void* buffer, std::size_t length, std::string_view what) const;
    void writeAt(std::uint64_t offset, const void* data, std::size_t length);
    void writeAt(std::uint64_t offset, std::string_view data) { writeAt(offset, data.data(), data.size()); }
    void truncate(std::uint64_t size);
    void sync();
    void close();

    // Exclusive advisory lock (flock); throws a clear Error when another
    // process holds it.
    void lockExclusive();
    void unlock();

private:
    std::string path_;
    int fd_ = -1;
};

bool fileExists(const std::string& path);
void removeFile(const std::string& path);          // no error when missing
void renameFile(const std::string& from, const std::string& to);
void syncDirectoryOf(const std::string& path);     // best effort
std::string errnoText(int err);
// "<dir>/" part of a path ("" when none) and the last component.
std::string directoryOf(const std::string& path);
std::string fileNameOf(const std::string& path);

} // namespace qm::xbase
