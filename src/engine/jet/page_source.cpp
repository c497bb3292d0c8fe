#include "page_source.h"

#include "office_crypto.h"
#include "rc4.h"
#include "value/value.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::jet {

namespace {

constexpr std::uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

} // namespace

Header parseHeader(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
    if (size < 0x100)
        throw Error(path + ": not an Access database (the file is only " + std::to_string(size) + " bytes long)");
    if (bytes[0] != 0x00 || std::memcmp(bytes + 4, "Standard ", 9) != 0) {
        if (std::memcmp(bytes + 4, "MSISAM Database", 15) == 0)
            throw Error(path + ": this is a Microsoft Money (MSISAM) file, not an Access database");
        throw Error(path + ": not an Access database (no Jet or ACE header)");
    }
    const bool jetName = std::memcmp(bytes + 4, "Standard Jet DB", 15) == 0;
    const bool aceName = std::memcmp(bytes + 4, "Standard ACE DB", 15) == 0;
    if (!jetName && !aceName) throw Error(path + ": not an Access database (unknown engine name in the header)");
    const std::uint8_t v = bytes[0x14];
    if (v > 6)
        throw Error(path + ": the database was made by a newer version of Access (file format " + std::to_string(v) +
                    ") than this program reads");
    Header h;
    h.format = Format::forVersion(Version(v));
    if (size < h.format.pageSize) throw Error(path + ": the file is truncated (shorter than its first page)");

    std::uint8_t masked[128] = {};
    const std::size_t maskLen = h.format.maskedLength;
    std::memcpy(masked, bytes + 0x18, maskLen);
    Rc4 rc4(kHeaderMaskKey, 4);
    rc4.apply(masked, maskLen);
    auto at = [&](std::size_t offset) { return masked + (offset - 0x18); };

    h.codePage = u16(at(0x3C));
    h.databaseKey = u32(at(0x3E));
    if (h.format.jet3) {
        h.sortOrder = u16(at(0x3A));
        const std::uint8_t* pw = at(0x42);
        std::size_t len = 0;
        while (len < 20 && pw[len] != 0) ++len;
        CodePage cp(h.codePage);
        cp.append(pw, len, h.password);
    } else {
        h.sortOrder = u16(at(0x6E));
        h.creationDate = f64(at(0x72));
        std::uint8_t pw[40];
        std::memcpy(pw, at(0x42), 40);
        double whole = std::trunc(h.creationDate);
        std::uint32_t mask = 0;
        if (std::isfinite(whole) && whole >= -2147483648.0 && whole <= 2147483647.0)
            mask = std::uint32_t(std::int32_t(whole));
        for (int k = 0; k < 40; ++k) pw[k] ^= std::uint8_t(mask >> (8 * (k % 4)));
        std::size_t len = 0;
        while (len < 40 && (pw[len] != 0 || pw[len + 1] != 0)) len += 2;
        if (!h.format.isAce()) appendJet4Text(pw, len, h.password);
    }

    if (h.format.isAce() && h.databaseKey != 0) {
        h.officeEncrypted = true;
        h.officeScheme = "Office";
        const std::size_t n = u16(bytes + 0x299);
        if (n > 0 && 0x29B + n <= h.format.pageSize) {
            h.officeInfo.assign(bytes + 0x29B, bytes + 0x29B + n);
            try {
                h.officeScheme = parseEncryptionInfo(h.officeInfo.data(), n).scheme;
            } catch (const Error&) {
                // reported when the pages are to be read
            }
        }
    }
    return h;
}

PageSource::PageSource(std::string path, const std::string& password, std::size_t cachePages,
                       std::shared_ptr<const PageOverlay> overlay)
    : path_(std::move(path)), overlay_(std::move(overlay)), capacity_(cachePages < 8 ? 8 : cachePages) {
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        const int e = errno;
        if (e == ENOENT) throw Error(path_ + ": the file does not exist");
        throw Error(path_ + ": cannot open the file (" + std::strerror(e) + ")");
    }
    try {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) throw Error(path_ + ": cannot read the file size");
        if (S_ISDIR(st.st_mode)) throw Error(path_ + ": is a folder, not an Access database");
        const std::uint64_t fileSize = std::uint64_t(st.st_size);
        std::vector<std::uint8_t> first(std::size_t(fileSize < 4096 ? fileSize : 4096));
        readRaw(0, first.data(), first.size());
        header_ = parseHeader(path_, first.data(), first.size());
        codec_ = makePageCodec(path_, header_, password);
        // A database without a password opens whatever password is given, as
        // with the Jet provider; one with a password needs exactly it.
        if (!header_.password.empty() && header_.password != password) throw Error("Not a valid password.");
        pageCount_ = std::uint32_t(fileSize / header_.format.pageSize);
        if (overlay_) pageCount_ = std::max(pageCount_, overlay_->pageCount());
        if (pageCount_ < 3) throw Error(path_ + ": the file is truncated (" + std::to_string(pageCount_) + " pages)");
        codePage_ = std::make_unique<CodePage>(header_.codePage);
        ring_.assign(capacity_, 0xFFFFFFFFu);
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        throw;
    }
}

PageSource::~PageSource() {
    if (fd_ >= 0) ::close(fd_);
}

void PageSource::readRaw(std::uint64_t offset, std::uint8_t* into, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, into + done, n - done, off_t(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw Error(path_ + ": read error (" + std::strerror(errno) + ")");
        }
        if (r == 0) throw Error(path_ + ": the file is truncated (unexpected end of file)");
        done += std::size_t(r);
    }
}

PageRef PageSource::page(std::uint32_t n) {
    auto it = cache_.find(n);
    if (it != cache_.end()) return it->second;
    if (n >= pageCount())
        throw Error(path_ + ": page " + std::to_string(n) + " is past the end of the file (" +
                    std::to_string(pageCount()) + " pages)");
    std::shared_ptr<Page> pg;
    std::uint32_t& slot = ring_[ringNext_];
    if (slot != 0xFFFFFFFFu) {
        auto old = cache_.find(slot);
        if (old != cache_.end()) {
            if (old->second.use_count() == 1) pg = std::move(old->second);
            cache_.erase(old);
        }
    }
    if (!pg) pg = std::make_shared<Page>();
    pg->number = n;
    pg->bytes.resize(pageSize());
    if (const std::uint8_t* held = overlay_ ? overlay_->page(n) : nullptr) {
        std::memcpy(pg->bytes.data(), held, pageSize());
    } else {
        readRaw(std::uint64_t(n) * pageSize(), pg->bytes.data(), pageSize());
        if (n != 0 && codec_) codec_->decode(n, pg->bytes.data(), pageSize());
    }
    ++reads_;
    slot = n;
    ringNext_ = (ringNext_ + 1) % capacity_;
    cache_.emplace(n, pg);
    return pg;
}

} // namespace qm::jet
