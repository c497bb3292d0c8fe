#include "journal.h"

#include "file_io.h"
#include "value/value.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cerrno>
#include <map>
#include <memory>
#include <unistd.h>

namespace qm::xbase {

namespace {

constexpr char kMagic[8] = {'Q', 'M', 'J', 'R', 'N', 'L', '1', '\n'};
enum : std::uint8_t { kSize = 1, kBytes = 2, kRemove = 3, kRename = 4 };
constexpr std::uint64_t kAbsent = ~std::uint64_t(0);
constexpr std::uint64_t kGranule = 512;

std::uint32_t crc32(const unsigned char* p, std::size_t n)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i)
        c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putLe(std::string& s, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        s.push_back(char((v >> (8 * i)) & 0xFF));
}
std::uint64_t getLe(const unsigned char* p, int bytes)
{
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

struct Journal::Entry {
    std::uint8_t type = 0;
    std::string file;
    std::uint64_t offset = 0;
    std::string bytes;
};

std::string Journal::pathFor(const std::string& file) { return file + kExtension; }

Journal::Journal(std::string journalPath, Kind kind) : path_(std::move(journalPath)), kind_(kind)
{
    File f(path_, File::Access::CreateNew); // throws when a journal is already there
    pending_.assign(kMagic, sizeof kMagic);
    pending_.push_back(static_cast<char>(kind));
    dirty_ = true;
    fd_ = -1;
    // Keep our own descriptor: File closes on destruction.
    fd_ = ::dup(f.fd());
    if (fd_ < 0)
        throw Error("Cannot open the journal \"" + path_ + "\": " + errnoText(errno) + ".");
}

Journal::~Journal()
{
    if (!finished_) {
        try {
            if (kind_ == Kind::Undo)
                rollback();
        } catch (...) {
            // Left on disk: the next open recovers it.
        }
    }
    if (fd_ >= 0)
        ::close(fd_);
}

void Journal::append(std::uint8_t type, const std::string& file, std::uint64_t offset, const std::string& bytes)
{
    std::string e;
    e.push_back(static_cast<char>(type));
    putLe(e, file.size(), 2);
    e += file;
    putLe(e, offset, 8);
    putLe(e, bytes.size(), 4);
    e += bytes;
    putLe(e, crc32(reinterpret_cast<const unsigned char*>(e.data()), e.size()), 4);
    pending_ += e;
    dirty_ = true;
}

void Journal::protectFile(const std::string& file)
{
    if (sizes_.count(file))
        return;
    std::int64_t size = -1;
    if (fileExists(file)) {
        File f(file, File::Access::Read);
        size = static_cast<std::int64_t>(f.size());
    }
    sizes_[file] = size;
    append(kSize, file, size < 0 ? kAbsent : std::uint64_t(size), {});
}

std::int64_t Journal::originalSize(const std::string& file) const
{
    auto it = sizes_.find(file);
    return it == sizes_.end() ? -1 : it->second;
}

void Journal::protectRange(const std::string& file, std::uint64_t offset, std::uint32_t length)
{
    protectFile(file);
    std::int64_t size = sizes_[file];
    if (size <= 0 || length == 0)
        return;
    std::uint64_t end = std::min<std::uint64_t>(offset + length, std::uint64_t(size));
    if (offset >= end)
        return;
    // Save whole 512-byte granules, each once.
    auto& saved = savedBlocks_[file];
    std::uint64_t first = offset / kGranule, last = (end - 1) / kGranule;
    std::unique_ptr<File> f;
    for (std::uint64_t g = first; g <= last; ++g) {
        if (saved.count(g))
            continue;
        if (!f)
            f = std::make_unique<File>(file, File::Access::Read);
        std::uint64_t gStart = g * kGranule;
        std::uint64_t gEnd = std::min<std::uint64_t>(gStart + kGranule, std::uint64_t(size));
        std::string bytes(static_cast<std::size_t>(gEnd - gStart), '\0');
        bytes.resize(f->readAt(gStart, bytes.data(), bytes.size()));
        append(kBytes, file, gStart, bytes);
        saved.insert(g);
    }
}

void Journal::sync()
{
    if (!dirty_ || finished_)
        return;
    std::size_t done = 0;
    while (done < pending_.size()) {
        ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw Error("Cannot write the journal \"" + path_ + "\": " + errnoText(errno) + ".");
        }
        done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    if (::fdatasync(fd_) != 0)
        throw Error("Cannot write the journal \"" + path_ + "\" to disk: " + errnoText(errno) + ".");
    syncDirectoryOf(path_);
    dirty_ = false;
}

void Journal::intendRemove(const std::string& file) { append(kRemove, file, 0, {}); }

void Journal::intendRename(const std::string& from, const std::string& to) { append(kRename, from, 0, to); }

void Journal::execute()
{
    sync();
    // Re-read what we wrote, and carry it out exactly as recovery would.
    recover(path_);
    finished_ = true;
}

void Journal::commit()
{
    if (finished_)
        return;
    if (kind_ == Kind::Redo) {
        execute();
        return;
    }
    for (const auto& [file, size] : sizes_) {
        if (!fileExists(file))
            continue;
        File f(file, File::Access::ReadWrite);
        f.sync();
    }
    ::close(fd_);
    fd_ = -1;
    removeFile(path_);
    syncDirectoryOf(path_);
    finished_ = true;
}

void Journal::rollback()
{
    if (finished_)
        return;
    if (kind_ == Kind::Undo) {
        // Whatever never reached the journal was never applied to the files.
        pending_.clear();
        dirty_ = false;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    recover(path_);
    finished_ = true;
}

bool Journal::recover(const std::string& journalPath)
{
    if (!fileExists(journalPath))
        return false;
    std::string data;
    {
        File f(journalPath, File::Access::Read);
        data.resize(static_cast<std::size_t>(f.size()));
        data.resize(f.readAt(0, data.data(), data.size()));
    }
    std::vector<Entry> entries;
    Kind kind = Kind::Undo;
    bool valid = data.size() >= sizeof kMagic + 1 && std::memcmp(data.data(), kMagic, sizeof kMagic) == 0;
    if (valid) {
        kind = static_cast<Kind>(data[sizeof kMagic]);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data());
        std::size_t pos = sizeof kMagic + 1;
        while (pos + 1 + 2 <= data.size()) {
            std::size_t start = pos;
            Entry e;
            e.type = p[pos];
            std::size_t nameLen = getLe(p + pos + 1, 2);
            pos += 3;
            if (pos + nameLen + 12 > data.size())
                break;
            e.file.assign(data, pos, nameLen);
            pos += nameLen;
            e.offset = getLe(p + pos, 8);
            std::size_t len = getLe(p + pos + 8, 4);
            pos += 12;
            if (pos + len + 4 > data.size())
                break;
            e.bytes.assign(data, pos, len);
            pos += len;
            std::uint32_t crc = static_cast<std::uint32_t>(getLe(p + pos, 4));
            pos += 4;
            if (crc != crc32(p + start, pos - 4 - start))
                break; // torn tail: nothing after it was applied
            entries.push_back(std::move(e));
        }
    }
    if (valid && kind == Kind::Undo)
        applyUndo(entries);
    else if (valid && kind == Kind::Redo)
        applyRedo(entries);
    removeFile(journalPath);
    syncDirectoryOf(journalPath);
    return true;
}

void Journal::applyUndo(const std::vector<Entry>& entries)
{
    // Restore saved bytes (the first copy of a range is the original),
    // then cut every file back to its size before the write.
    std::map<std::string, std::unique_ptr<File>> files;
    auto open = [&](const std::string& path) -> File* {
        auto& f = files[path];
        if (!f && fileExists(path))
            f = std::make_unique<File>(path, File::Access::ReadWrite);
        return f.get();
    };
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        if (it->type != kBytes)
            continue;
        if (File* f = open(it->file))
            f->writeAt(it->offset, it->bytes);
    }
    for (const auto& e : entries) {
        if (e.type != kSize)
            continue;
        if (e.offset == kAbsent) {
            files.erase(e.file);
            removeFile(e.file);
        } else if (File* f = open(e.file)) {
            f->truncate(e.offset);
        }
    }
    for (auto& [path, f] : files)
        if (f)
            f->sync();
}

void Journal::applyRedo(const std::vector<Entry>& entries)
{
    for (const auto& e : entries) {
        if (e.type == kRemove) {
            removeFile(e.file);
        } else if (e.type == kRename) {
            // Done already (or never possible): leave both names alone.
            if (fileExists(e.file) && !fileExists(e.bytes))
                renameFile(e.file, e.bytes);
        }
    }
    if (!entries.empty())
        syncDirectoryOf(entries.front().file);
}

} // namespace qm::xbase
