// Page encryption of Access files, behind one interface for reader and writer.
//
// Jet 3 / Jet 4 "encoded" files: RC4 per page, key = database key XOR page
// number (no password involved; see rc4.h).
//
// Password-protected .accdb files: the whole file but page 0 is encrypted
// with Office document encryption.  Page 0 holds, at 0x299, a u16 length and
// an EncryptionInfo block:
//   0  u16 major, u16 minor       4.4 agile; 2.2/3.2/4.2 with the CryptoAPI flag
//   4  u32 flags / reserved       (0x04 CryptoAPI, 0x20 AES)
//   agile: 8.. the <encryption> XML descriptor (UTF-8)
//   CryptoAPI: 8 u32 header size, header (flags, size extra, algorithm id,
//     hash id, key bits, provider type, 2 reserved, provider name UTF-16),
//     then the verifier (u32 salt size, salt, encrypted verifier (16),
//     u32 verifier hash size, encrypted verifier hash).
// Every page p >= 1 has a "block key" = database key (header 0x3E) XOR p,
// little-endian.
//   RC4 CryptoAPI: H0 = SHA1(salt | password UTF-16LE); page key = the first
//     keyBits/8 bytes of SHA1(H0 | block key), a 40-bit key zero-padded to 16
//     bytes; RC4 over the whole page.  The verifier is checked with block 0.
//   Agile: the password key encryptor's hash is iterated spinCount times over
//     the salted password; keys for the verifier input, verifier hash and the
//     wrapped secret key come from three fixed block constants; each page is
//     AES-CBC over the whole page with the secret key and
//     IV = H(keyData salt | block key), cut to the block size.
// OpenSSL does the hashing and AES; the RC4 of rc4.h does the RC4.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "value/value.h"

namespace qm::jet {

struct Header;

// The password does not open the file.  what() is the provider's own text.
class WrongPassword : public Error {
public:
    WrongPassword() : Error("Not a valid password.") {}
};

class PageCodec {
public:
    virtual ~PageCodec() = default;
    // In place, over one whole page of n bytes.
    virtual void decode(std::uint32_t page, std::uint8_t* bytes, std::size_t n) = 0;
    virtual void encode(std::uint32_t page, std::uint8_t* bytes, std::size_t n) = 0;
};

// What the EncryptionInfo block of an encrypted .accdb holds.
struct OfficeEncryptionInfo {
    enum class Kind { Agile, Rc4CryptoApi, StandardAes, BinaryRc4, Extensible, Unknown };
    Kind kind = Kind::Unknown;
    std::string scheme; // for messages: "Office agile (AES)", ...

    // RC4 CryptoAPI (and the standard AES header, parsed for its name only)
    std::uint32_t algorithmId = 0, hashId = 0, keyBits = 0;
    std::vector<std::uint8_t> salt, encryptedVerifier, encryptedVerifierHash;

    // Agile
    struct Params {
        int saltSize = 0, blockSize = 0, keyBits = 0, hashSize = 0;
        std::string cipher, chaining, hash;
        std::vector<std::uint8_t> salt;
    };
    Params keyData, passwordKey;
    long spinCount = 0;
    std::vector<std::uint8_t> encryptedVerifierInput, encryptedVerifierHashValue, encryptedKeyValue;
};

// Reads the block (the bytes after the u16 length).  Throws qm::Error saying
// what is wrong with it (no file name: the caller adds that).
OfficeEncryptionInfo parseEncryptionInfo(const std::uint8_t* p, std::size_t n);

// The codec for the pages of a file with this header, or null when its pages
// are stored in clear.  For an encrypted .accdb checks the password (throws
// WrongPassword) and refuses schemes it cannot read, naming them.
std::unique_ptr<PageCodec> makePageCodec(const std::string& path, const Header& header, const std::string& password);

// A new agile EncryptionInfo block as current Access writes it (AES-256,
// SHA-512, 100000 rounds, random salts and secret key) for `password`.
std::vector<std::uint8_t> newAgileEncryptionInfo(const std::string& password);

// A random database key for a new encrypted file (never 0: 0 means clear).
std::uint32_t randomDatabaseKey();

} // namespace qm::jet
