// Character data of xBase tables: the code page a table's mark names, and
// conversion between its bytes and UTF-8.
//
// Single-byte code pages are converted through 256-entry tables built once
// (from glibc's iconv, or for Mazovia 620, Kamenicky 895 and Greek Macintosh
// 10006, which iconv lacks, from the mappings in data/); multi-byte ones (932, 936, 949, 950) go through
// iconv for each value.  Bytes a single-byte code page leaves undefined map
// to U+0080..U+00FF (or, where the code page already has that character
// elsewhere, to U+F780..U+F7FF) so that reading and writing them back is
// lossless.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

class CodePage {
public:
    // The shared converter for a code page number (1252, 850, 65001 for
    // UTF-8...).  Never fails: a code page this system cannot convert gives
    // a converter that handles ASCII only and reports other bytes.
    static const CodePage& get(int number);

    int number() const { return number_; }
    bool supported() const { return supported_; }

    // Replaces out with the UTF-8 text of bytes.  Returns false when the
    // code page is unsupported and bytes are not plain ASCII (out then
    // holds the ASCII-safe part with U+FFFD for the rest).
    bool decode(std::string_view bytes, std::string& out) const;
    // Replaces out with the code-page bytes of utf8.  Returns false when a
    // character cannot be represented; *bad receives that character (UTF-8).
    bool encode(std::string_view utf8, std::string& out, std::string* bad = nullptr) const;

    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

private:
    explicit CodePage(int number);
    bool iconvConvert(void* cd, std::string_view in, std::string& out, bool decoding, std::string* bad) const;

    int number_;
    bool supported_ = false;
    bool singleByte_ = false;
    bool utf8_ = false;
    // Single-byte tables.
    std::array<std::array<char, 4>, 256> toUtf8_{};     // [0] = length, then up to 3 bytes
    std::vector<std::uint8_t> fromUnicode_;             // 65536 entries, 0 = not representable
    // Multi-byte: iconv descriptors guarded by a mutex.
    void* decoder_ = nullptr;
    void* encoder_ = nullptr;
    mutable std::mutex mutex_;
};

// Decodes one UTF-8 code point at s[i]; advances i.  Invalid sequences
// yield U+FFFD and advance by one byte.
std::uint32_t nextCodePoint(std::string_view s, std::size_t& i);
void appendUtf8(std::string& out, std::uint32_t cp);

} // namespace qm::xbase
