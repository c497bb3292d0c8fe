// RC4 stream cipher.  Jet uses it twice: with the fixed key C7 DA 39 6B to
// mask part of the header page, and with the database key XOR the page
// number (4 bytes, little-endian) to encode every page after the first in
// "encrypted" .mdb files.  The keystream restarts at byte 0 of each page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::jet {

class Rc4 {
public:
    Rc4(const std::uint8_t* key, std::size_t keyLength);
    // XORs the next n keystream bytes into data (encrypts and decrypts alike).
    void apply(std::uint8_t* data, std::size_t n);

private:
    std::uint8_t s_[256];
    std::uint8_t i_ = 0, j_ = 0;
};

// Decodes (or encodes) one page of a Jet-encoded file in place.
void applyPageKey(std::uint32_t databaseKey, std::uint32_t pageNumber, std::uint8_t* page, std::size_t size);

} // namespace qm::jet
