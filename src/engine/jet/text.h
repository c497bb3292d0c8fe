// Text as the files store it.
//
//   Jet 3        single-byte (or double-byte Far-East) text in the code page
//                of the header (0x3C), e.g. 1252; no compression.
//   Jet 4 / ACE  UTF-16LE.  A value starting FF FE is "compressed": bytes are
//                characters U+0001..U+00FF one byte each, and a 00 byte
//                switches between that mode and plain UTF-16LE pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qm::jet {

// Appends UTF-16LE text as UTF-8 (unpaired surrogates become U+FFFD; an odd
// trailing byte is ignored).
void appendUtf16(const std::uint8_t* p, std::size_t bytes, std::string& out);
// Jet 4 / ACE text value, compressed or not.
void appendJet4Text(const std::uint8_t* p, std::size_t bytes, std::string& out);
void appendCodePoint(std::uint32_t cp, std::string& out);

// Decoder for one Jet 3 code page.  In a single-byte code page a byte with
// no character reads as the code point of the same value (0x81 -> U+0081).
class CodePage {
public:
    explicit CodePage(int codePage);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;
    int number() const { return number_; }
    void append(const std::uint8_t* p, std::size_t bytes, std::string& out) const;

private:
    int number_;
    bool singleByte_ = true;
    std::string table_[256]; // UTF-8 of each byte when single-byte
    struct Iconv;
    std::unique_ptr<Iconv> iconv_;
};

} // namespace qm::jet
