// The page layer: the file opened read-only, its header page decoded, and
// pages served through a small cache (decoded when the file is encoded).
//
// Header page facts (page 0, never encoded):
//   0x00  u8     page type 0x00          0x04  15 B  "Standard Jet DB" / "Standard ACE DB"
//   0x14  u8     version (see format.h)
//   0x18  126/128 bytes masked with RC4 key C7 DA 39 6B; inside them:
//   0x3C  u16    code page               0x3E  u32   database key (0 = pages clear)
//   0x42  20 B   Jet 3 password (code page, NUL padded)
//   0x42  40 B   Jet 4 password (UTF-16LE, XOR the int32 of the whole days of
//                the creation date at 0x72, repeated)
//   0x299 u16 n + n bytes: Office EncryptionInfo (ACE files with a non-zero key)
// Pages 1.. of a Jet 3 / Jet 4 file with a non-zero key are RC4-encoded with
// key = database key XOR page number.  ACE files with a non-zero key are
// encrypted with Office schemes and need the password (office_crypto.h).
#pragma once

#include "format.h"
#include "text.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace qm::jet {

struct Page {
    std::uint32_t number = 0;
    std::vector<std::uint8_t> bytes;
    const std::uint8_t* data() const { return bytes.data(); }
    std::size_t size() const { return bytes.size(); }
};
using PageRef = std::shared_ptr<const Page>;

struct Header {
    Format format;
    int codePage = 1252;
    std::uint32_t databaseKey = 0;
    std::string password;        // as stored (UTF-8), empty when none
    double creationDate = 0;
    std::uint16_t sortOrder = 0; // LCID of the default text sort order
    bool officeEncrypted = false;
    std::string officeScheme;    // "Office agile (AES)", ... when officeEncrypted
    std::vector<std::uint8_t> officeInfo; // the EncryptionInfo block (empty when it does not fit)
};

class PageCodec;

// The pages a writer of this process has changed but not yet committed.  A
// PageSource reading through one sees the writer's open batch: a page the
// overlay has comes from it (decoded), any other from the file, and the file
// counts as long as the overlay says.
class PageOverlay {
public:
    virtual ~PageOverlay() = default;
    virtual std::uint32_t pageCount() const = 0;
    // Page n as the writer has it, or null when the file holds it as it is.
    virtual const std::uint8_t* page(std::uint32_t n) const = 0;
};

// Decodes the header page; throws qm::Error naming the file when it is not an
// Access database this program can read.  `bytes` is what the file starts with.
Header parseHeader(const std::string& path, const std::uint8_t* bytes, std::size_t size);

class PageSource {
public:
    // Opens the file read-only and checks the password: "Not a valid
    // password." when it does not open the file.
    PageSource(std::string path, const std::string& password, std::size_t cachePages = 256,
               std::shared_ptr<const PageOverlay> overlay = {});
    ~PageSource();
    PageSource(const PageSource&) = delete;
    PageSource& operator=(const PageSource&) = delete;

    const std::string& path() const { return path_; }
    const Header& header() const { return header_; }
    const Format& format() const { return header_.format; }
    std::uint32_t pageSize() const { return header_.format.pageSize; }
    std::uint32_t pageCount() const { return overlay_ ? overlay_->pageCount() : pageCount_; }
    // Jet 3 text decoder (also usable for names); code page of the header.
    const CodePage& codePage() const { return *codePage_; }

    // Page n, decoded.  Throws qm::Error when n lies past the end of the file.
    PageRef page(std::uint32_t n);

    // Counts of cache traffic, for the benchmark.
    std::uint64_t reads() const { return reads_; }

private:
    void readRaw(std::uint64_t offset, std::uint8_t* into, std::size_t n);

    std::string path_;
    int fd_ = -1;
    Header header_;
    std::uint32_t pageCount_ = 0;
    std::unique_ptr<CodePage> codePage_;
    std::unique_ptr<PageCodec> codec_; // null when pages are stored in clear
    std::shared_ptr<const PageOverlay> overlay_;
    std::size_t capacity_;
    std::unordered_map<std::uint32_t, std::shared_ptr<Page>> cache_;
    std::vector<std::uint32_t> ring_; // pages in the order they entered the cache
    std::size_t ringNext_ = 0;
    std::uint64_t reads_ = 0;
};

} // namespace qm::jet
