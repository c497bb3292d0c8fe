// Memo files: FPT (FoxPro, VFP; also the .dct of a container) and DBT
// (dBase III and dBase IV).
//
// FPT: 512-byte header: next free block (BE u32) at 0, block size (BE u16)
// at 6.  Each memo starts on a block: type (BE u32; 0 picture/binary,
// 1 text, 2 object) and length (BE u32), then the data.
//
// dBase III DBT: 512-byte blocks, next free block (LE u32) at 0; a memo is
// raw text ended by 0x1A 0x1A (readers stop at the first 0x1A).
// dBase IV DBT: next free block (LE u32) at 0, block size (LE u32) at 4
// (0 = 512), file stem at 8; a memo starts with FF FF 08 00 and a LE u32
// length that counts those 8 bytes.
#pragma once

#include "file_io.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace qm::xbase {

class Journal;

enum class MemoKind { Fpt, Dbt3, Dbt4 };

class MemoFile {
public:
    // Opens an existing memo file; checks its header.
    MemoFile(const std::string& path, MemoKind kind, bool writable);
    // Writes the header of a new, empty memo file (fails if the file exists).
    static void createEmpty(const std::string& path, MemoKind kind, std::uint16_t blockSize,
                            const std::string& dbfStem);

    const std::string& path() const { return file_.path(); }
    MemoKind kind() const { return kind_; }
    std::uint32_t blockSize() const { return blockSize_; }
    std::uint32_t nextFree() const { return nextFree_; }

    // Reads the memo at a block into out (type receives the FPT block type).
    // A block outside the file, or a length running past its end, is an
    // Error naming the memo file and the block.
    void read(std::uint32_t block, std::string& out, std::uint32_t* type = nullptr) const;

    // ---- writing (buffered; nothing reaches the file before flush) ----
    // Blocks a memo of n bytes takes.
    std::uint64_t blocksFor(std::size_t n) const;
    // Appends a memo and returns its first block.
    std::uint32_t append(std::string_view data, std::uint32_t fptType);
    // Writes buffered memos and the header (next free block).  The journal,
    // when given, has already protected this file; it is synced first.
    void flush(Journal* journal);
    // Drops buffered memos and re-reads the header.
    void discard();
    void sync() { file_.sync(); }
    bool hasPending() const { return !pending_.empty() || headerDirty_; }
    std::size_t pendingBytes() const { return pending_.size(); }
    // Size the file will have after flush.
    std::uint64_t endOffset() const;
    // The journal that must be synced before buffered memos reach the file.
    void setJournal(Journal* journal) { journal_ = journal; }

private:
    void readHeader();
    void fillWindow(std::uint64_t offset, std::size_t need) const;

    File file_;
    MemoKind kind_;
    std::uint32_t blockSize_ = 512;
    std::uint32_t nextFree_ = 1;
    std::uint64_t fileSize_ = 0;
    // Read window: a slice of the file kept in memory, so reading memos in
    // record order costs one system call per window, not per memo.
    mutable std::string window_;
    mutable std::uint64_t windowStart_ = 0;
    // Write buffer: memos appended since the last flush, from pendingStart_.
    std::string pending_;
    std::uint64_t pendingStart_ = 0;
    bool headerDirty_ = false;
    Journal* journal_ = nullptr;
};

} // namespace qm::xbase
