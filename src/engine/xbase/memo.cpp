#include "memo.h"

#include "journal.h"
#include "value/value.h"

#include <algorithm>
#include <cstring>

namespace qm::xbase {

namespace {

std::uint32_t be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}
std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
void putBe32(char* p, std::uint32_t v)
{
    p[0] = char(v >> 24); p[1] = char(v >> 16); p[2] = char(v >> 8); p[3] = char(v);
}
void putLe32(char* p, std::uint32_t v)
{
    p[0] = char(v); p[1] = char(v >> 8); p[2] = char(v >> 16); p[3] = char(v >> 24);
}

constexpr std::size_t kWindow = 256 * 1024;
// Memos buffered before they go to the file on their own, ahead of the
// header; a table flushes its memo file well before that (at most 64 MB).
constexpr std::size_t kFlushAt = 80 * 1024 * 1024;
constexpr std::uint64_t kMaxMemoFile = 0xFFFFFFFFull; // block numbers are 32-bit; VFP stops at 2 GB

} // namespace

MemoFile::MemoFile(const std::string& path, MemoKind kind, bool writable)
    : file_(path, writable ? File::Access::ReadWrite : File::Access::Read), kind_(kind)
{
    readHeader();
}

void MemoFile::readHeader()
{
    fileSize_ = file_.size();
    unsigned char h[16] = {};
    if (fileSize_ < 8)
        throw Error("The memo file \"" + file_.path() + "\" is damaged: it is shorter than its header.");
    file_.readExact(0, h, fileSize_ >= 16 ? 16 : 8, "the memo file header");
    if (kind_ == MemoKind::Fpt) {
        nextFree_ = be32(h);
        blockSize_ = (std::uint32_t(h[6]) << 8) | h[7];
        // FoxPro stores SET BLOCKSIZE 1..32 as multiples of 512; 0 means 1 byte.
        if (blockSize_ == 0)
            blockSize_ = 1;
    } else if (kind_ == MemoKind::Dbt3) {
        nextFree_ = le32(h);
        blockSize_ = 512;
    } else {
        nextFree_ = le32(h);
        blockSize_ = fileSize_ >= 8 ? le32(h + 4) : 0;
        if (blockSize_ == 0)
            blockSize_ = 512;
    }
    if (blockSize_ > 65536 * 512)
        throw Error("The memo file \"" + file_.path() + "\" is damaged: its block size " +
                    std::to_string(blockSize_) + " is impossible.");
    // Some writers leave the next-free pointer behind the real end; never
    // allocate over existing data.
    std::uint64_t endBlock = (fileSize_ + blockSize_ - 1) / blockSize_;
    std::uint64_t firstBlock = (512 + blockSize_ - 1) / blockSize_;
    if (nextFree_ < endBlock)
        nextFree_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(endBlock, 0xFFFFFFFFu));
    if (nextFree_ < firstBlock)
        nextFree_ = static_cast<std::uint32_t>(firstBlock);
    window_.clear();
    windowStart_ = 0;
    pendingStart_ = std::uint64_t(nextFree_) * blockSize_;
}

void MemoFile::createEmpty(const std::string& path, MemoKind kind, std::uint16_t blockSize, const std::string& stem)
{
    std::string h(512, '\0');
    if (kind == MemoKind::Fpt) {
        if (blockSize == 0)
            blockSize = 64;
        std::uint32_t first = (512 + blockSize - 1) / blockSize;
        putBe32(h.data(), first);
        h[6] = char(blockSize >> 8);
        h[7] = char(blockSize & 0xFF);
    } else if (kind == MemoKind::Dbt3) {
        putLe32(h.data(), 1);
        h[16] = 0x03; // dBase III version mark, as dBase writes it
    } else {
        putLe32(h.data(), 1);
        putLe32(h.data() + 4, 512);
        std::string s = stem.substr(0, 8);
        std::memcpy(h.data() + 8, s.data(), s.size());
    }
    File f(path, File::Access::CreateNew);
    f.writeAt(0, h);
}

std::uint64_t MemoFile::blocksFor(std::size_t n) const
{
    std::uint64_t bytes = 8 + std::uint64_t(n);
    switch (kind_) {
    case MemoKind::Fpt: bytes = 8 + std::uint64_t(n); break;
    case MemoKind::Dbt3: bytes = std::uint64_t(n) + 2; break;
    case MemoKind::Dbt4: bytes = 8 + std::uint64_t(n); break;
    }
    return std::max<std::uint64_t>(1, (bytes + blockSize_ - 1) / blockSize_);
}

void MemoFile::fillWindow(std::uint64_t offset, std::size_t need) const
{
    if (offset >= windowStart_ && offset + need <= windowStart_ + window_.size())
        return;
    std::size_t len = std::max(need, kWindow);
    if (offset + len > fileSize_)
        len = static_cast<std::size_t>(fileSize_ > offset ? fileSize_ - offset : 0);
    window_.resize(len);
    std::size_t got = file_.readAt(offset, window_.data(), len);
    window_.resize(got);
    windowStart_ = offset;
}

void MemoFile::read(std::uint32_t block, std::string& out, std::uint32_t* type) const
{
    out.clear();
    if (type)
        *type = 1;
    if (block == 0)
        return;
    const std::uint64_t offset = std::uint64_t(block) * blockSize_;
    auto damaged = [&](const std::string& what) {
        return Error("The memo file \"" + file_.path() + "\" is damaged: the memo at block " +
                     std::to_string(block) + " " + what + ".");
    };
    if (offset < 8 || offset >= fileSize_)
        throw damaged("lies past the end of the file (" + std::to_string(fileSize_) + " bytes)");

    if (kind_ == MemoKind::Fpt || kind_ == MemoKind::Dbt4) {
        fillWindow(offset, 8);
        if (window_.size() < offset - windowStart_ + 8)
            throw damaged("is cut short");
        const auto* p = reinterpret_cast<const unsigned char*>(window_.data() + (offset - windowStart_));
        std::uint64_t length;
        if (kind_ == MemoKind::Fpt) {
            if (type)
                *type = be32(p);
            length = be32(p + 4);
        } else if (p[0] == 0xFF && p[1] == 0xFF && p[2] == 0x08 && p[3] == 0x00) {
            length = le32(p + 4);
            length = length >= 8 ? length - 8 : 0;
        } else {
            goto textMemo; // dBase IV files may hold dBase III style memos
        }
        if (offset + 8 + length > fileSize_)
            throw damaged("claims " + std::to_string(length) + " bytes, more than the file holds");
        std::uint64_t start = offset + 8;
        if (start >= windowStart_ && start + length <= windowStart_ + window_.size()) {
            out.assign(window_.data() + (start - windowStart_), static_cast<std::size_t>(length));
        } else if (length > kWindow) {
            out.resize(static_cast<std::size_t>(length));
            file_.readExact(start, out.data(), out.size(), "a memo");
        } else {
            fillWindow(start, static_cast<std::size_t>(length));
            out.assign(window_.data() + (start - windowStart_), static_cast<std::size_t>(length));
        }
        return;
    }
textMemo:
    // Text ended by 0x1A, running over as many blocks as it needs.
    for (std::uint64_t pos = offset; pos < fileSize_;) {
        fillWindow(pos, 1);
        if (window_.empty() || pos < windowStart_ || pos >= windowStart_ + window_.size())
            break;
        const char* begin = window_.data() + (pos - windowStart_);
        std::size_t avail = static_cast<std::size_t>(windowStart_ + window_.size() - pos);
        const void* end = std::memchr(begin, 0x1A, avail);
        if (end) {
            out.append(begin, static_cast<const char*>(end) - begin);
            return;
        }
        out.append(begin, avail);
        pos += avail;
        if (out.size() > (std::size_t(1) << 31))
            throw damaged("has no end mark");
    }
    // No end mark before the end of the file: keep what is there.
}

std::uint32_t MemoFile::append(std::string_view data, std::uint32_t fptType)
{
    const std::uint64_t blocks = blocksFor(data.size());
    if (std::uint64_t(nextFree_) + blocks > kMaxMemoFile / blockSize_)
        throw Error("The memo file \"" + file_.path() + "\" would grow beyond its 4 GB limit.");
    const std::uint32_t block = nextFree_;
    const std::uint64_t offset = std::uint64_t(block) * blockSize_;
    // Zero-fill from the end of what is already buffered to this block.
    std::uint64_t bufferedEnd = pendingStart_ + pending_.size();
    if (offset > bufferedEnd)
        pending_.append(static_cast<std::size_t>(offset - bufferedEnd), '\0');
    char head[8];
    switch (kind_) {
    case MemoKind::Fpt:
        putBe32(head, fptType);
        putBe32(head + 4, static_cast<std::uint32_t>(data.size()));
        pending_.append(head, 8);
        pending_.append(data);
        break;
    case MemoKind::Dbt4:
        head[0] = char(0xFF); head[1] = char(0xFF); head[2] = 0x08; head[3] = 0;
        putLe32(head + 4, static_cast<std::uint32_t>(data.size() + 8));
        pending_.append(head, 8);
        pending_.append(data);
        break;
    case MemoKind::Dbt3:
        pending_.append(data);
        pending_.append("\x1A\x1A", 2);
        break;
    }
    // dBase readers expect whole blocks; FoxPro files end right after the data.
    if (kind_ != MemoKind::Fpt) {
        std::uint64_t end = offset + blocks * blockSize_;
        pending_.append(static_cast<std::size_t>(end - (pendingStart_ + pending_.size())), '\0');
    }
    nextFree_ = static_cast<std::uint32_t>(block + blocks);
    headerDirty_ = true;
    if (pending_.size() >= kFlushAt) {
        // Large batches go out in slices; the header follows at flush().
        if (journal_)
            journal_->sync();
        file_.writeAt(pendingStart_, pending_);
        pendingStart_ += pending_.size();
        pending_.clear();
    }
    return block;
}

std::uint64_t MemoFile::endOffset() const { return std::max(fileSize_, pendingStart_ + pending_.size()); }

void MemoFile::flush(Journal* journal)
{
    if (!hasPending())
        return;
    if (journal) {
        // The header is rewritten in place: keep its old bytes for an undo.
        journal->protectRange(file_.path(), 0, 8);
        journal->sync();
    }
    if (!pending_.empty()) {
        file_.writeAt(pendingStart_, pending_);
        pendingStart_ += pending_.size();
        pending_.clear();
    }
    char h[4];
    if (kind_ == MemoKind::Fpt)
        putBe32(h, nextFree_);
    else
        putLe32(h, nextFree_);
    file_.writeAt(0, h, 4);
    headerDirty_ = false;
    fileSize_ = std::max(fileSize_, pendingStart_);
    window_.clear();
    windowStart_ = 0;
}

void MemoFile::discard()
{
    pending_.clear();
    headerDirty_ = false;
    readHeader();
}

} // namespace qm::xbase
