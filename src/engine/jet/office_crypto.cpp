#include "office_crypto.h"

#include "page_source.h"
#include "rc4.h"
#include "write_properties.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace qm::jet {

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void bad(const std::string& what) { throw Error("damaged encryption header: " + what); }

std::uint32_t le32(const std::uint8_t* p) { return u32(p); }

void putLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

Bytes passwordBytes(const std::string& password) {
    std::string s = utf16Bytes(password);
    if (s.size() > 510) s.resize(510); // at most 255 characters count
    return Bytes(s.begin(), s.end());
}

std::array<std::uint8_t, 4> blockKey(std::uint32_t databaseKey, std::uint32_t page) {
    const std::uint32_t k = databaseKey ^ page;
    return {std::uint8_t(k), std::uint8_t(k >> 8), std::uint8_t(k >> 16), std::uint8_t(k >> 24)};
}

// ---- OpenSSL wrappers ------------------------------------------------------

struct MdCtx {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~MdCtx() { EVP_MD_CTX_free(ctx); }
};

class Hasher {
public:
    explicit Hasher(const EVP_MD* md) : md_(md) {
        if (!ctx_.ctx) throw Error("out of memory for hashing");
    }
    std::size_t size() const { return std::size_t(EVP_MD_get_size(md_)); }
    // H(a | b) into out (size() bytes).
    void hash(const std::uint8_t* a, std::size_t an, const std::uint8_t* b, std::size_t bn, std::uint8_t* out) {
        unsigned len = 0;
        if (EVP_DigestInit_ex(ctx_.ctx, md_, nullptr) != 1 || EVP_DigestUpdate(ctx_.ctx, a, an) != 1 ||
            (bn && EVP_DigestUpdate(ctx_.ctx, b, bn) != 1) || EVP_DigestFinal_ex(ctx_.ctx, out, &len) != 1)
            throw Error("hashing failed in the crypto library");
    }
    Bytes hash(const Bytes& a, const std::uint8_t* b, std::size_t bn) {
        Bytes out(size());
        hash(a.data(), a.size(), b, bn, out.data());
        return out;
    }

private:
    const EVP_MD* md_;
    MdCtx ctx_;
};

const EVP_MD* digestNamed(const std::string& name) {
    if (name == "SHA1" || name == "SHA-1") return EVP_sha1();
    if (name == "SHA256") return EVP_sha256();
    if (name == "SHA384") return EVP_sha384();
    if (name == "SHA512") return EVP_sha512();
    if (name == "MD5") return EVP_md5();
    return nullptr;
}

const EVP_CIPHER* aesCbc(int keyBits) {
    switch (keyBits) {
    case 128: return EVP_aes_128_cbc();
    case 192: return EVP_aes_192_cbc();
    case 256: return EVP_aes_256_cbc();
    default: return nullptr;
    }
}

// An AES-CBC context keyed once; each call sets a new IV.  No padding.
class AesCbc {
public:
    AesCbc(const EVP_CIPHER* cipher, const Bytes& key, bool encrypt) : ctx_(EVP_CIPHER_CTX_new()) {
        if (!ctx_ || EVP_CipherInit_ex(ctx_, cipher, nullptr, key.data(), nullptr, encrypt ? 1 : 0) != 1)
            throw Error("the crypto library refused the AES key");
        EVP_CIPHER_CTX_set_padding(ctx_, 0);
    }
    ~AesCbc() { EVP_CIPHER_CTX_free(ctx_); }
    AesCbc(const AesCbc&) = delete;
    AesCbc& operator=(const AesCbc&) = delete;

    void apply(const std::uint8_t* iv, std::uint8_t* data, std::size_t n) {
        int out = 0;
        if (EVP_CipherInit_ex(ctx_, nullptr, nullptr, nullptr, iv, -1) != 1 ||
            EVP_CipherUpdate(ctx_, data, &out, data, int(n)) != 1 || std::size_t(out) != n)
            throw Error("AES failed in the crypto library");
    }

private:
    EVP_CIPHER_CTX* ctx_;
};

// H cut to `size` bytes or padded with 0x36 (the agile rule for keys and IVs).
Bytes fitTo(Bytes b, std::size_t size, std::uint8_t pad = 0x36) {
    b.resize(size, pad);
    return b;
}

// ---- EncryptionInfo --------------------------------------------------------

std::string schemeName(std::uint16_t major, std::uint16_t minor, std::uint32_t flags) {
    if (major == 4 && minor == 4) return "Office agile (AES)";
    if ((major == 2 || major == 3 || major == 4) && minor == 2) {
        if ((flags & 0x04) && !(flags & 0x20)) return "Office RC4 CryptoAPI";
        if (flags & 0x20) return "Office standard (AES)";
    }
    if (major == 1 && minor == 1) return "Office binary RC4";
    if (minor == 3) return "Office extensible";
    return "Office " + std::to_string(major) + "." + std::to_string(minor);
}

// The start tag of the first element whose local name is `name` (any
// namespace prefix); empty when there is none.
std::string_view startTag(std::string_view xml, std::string_view name) {
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string_view::npos) {
        std::size_t s = at + 1;
        std::size_t e = s;
        while (e < xml.size() && xml[e] != ' ' && xml[e] != '>' && xml[e] != '/' && xml[e] != '\t' && xml[e] != '\r' &&
               xml[e] != '\n')
            ++e;
        std::string_view qname = xml.substr(s, e - s);
        const std::size_t colon = qname.find(':');
        if ((colon == std::string_view::npos ? qname : qname.substr(colon + 1)) == name) {
            const std::size_t close = xml.find('>', e);
            if (close == std::string_view::npos) bad("the XML descriptor is cut short");
            return xml.substr(e, close - e);
        }
        at = e;
    }
    return {};
}

std::string attribute(std::string_view tag, std::string_view name) {
    std::size_t at = 0;
    while (at < tag.size()) {
        while (at < tag.size() && (tag[at] == ' ' || tag[at] == '\t' || tag[at] == '\r' || tag[at] == '\n')) ++at;
        const std::size_t eq = tag.find('=', at);
        if (eq == std::string_view::npos || eq + 1 >= tag.size()) return {};
        std::string_view key = tag.substr(at, eq - at);
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        const char quote = tag[eq + 1];
        if (quote != '"' && quote != '\'') bad("an XML attribute is not quoted");
        const std::size_t end = tag.find(quote, eq + 2);
        if (end == std::string_view::npos) bad("an XML attribute is not closed");
        if (key == name) return std::string(tag.substr(eq + 2, end - eq - 2));
        at = end + 1;
    }
    return {};
}

Bytes base64(const std::string& text, const char* what) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 65536) bad(std::string(what) + " is not valid base64");
    Bytes out(text.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
    if (n < 0) bad(std::string(what) + " is not valid base64");
    std::size_t len = std::size_t(n);
    if (text.back() == '=') --len;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}

int number(std::string_view tag, const char* name, long lo, long hi) {
    const std::string s = attribute(tag, name);
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        bad(std::string("the attribute ") + name + " is missing or not a number");
    const long v = std::stol(s);
    if (v < lo || v > hi) bad(std::string("the attribute ") + name + " is out of range (" + s + ")");
    return int(v);
}

OfficeEncryptionInfo::Params params(std::string_view tag) {
    OfficeEncryptionInfo::Params p;
    p.saltSize = number(tag, "saltSize", 1, 65536);
    p.blockSize = number(tag, "blockSize", 2, 4096);
    p.keyBits = number(tag, "keyBits", 8, 8192);
    p.hashSize = number(tag, "hashSize", 1, 64);
    p.cipher = attribute(tag, "cipherAlgorithm");
    p.chaining = attribute(tag, "cipherChaining");
    p.hash = attribute(tag, "hashAlgorithm");
    p.salt = base64(attribute(tag, "saltValue"), "saltValue");
    if (p.salt.size() != std::size_t(p.saltSize)) bad("the salt is not saltSize bytes long");
    return p;
}

void parseAgile(OfficeEncryptionInfo& info, const std::uint8_t* p, std::size_t n) {
    if (n < 8 || le32(p + 4) != 0x40) bad("the agile block does not have the reserved value 0x40");
    const std::string_view xml(reinterpret_cast<const char*>(p + 8), n - 8);
    const std::string_view keyData = startTag(xml, "keyData");
    if (keyData.empty()) bad("the XML descriptor has no keyData element");
    info.keyData = params(keyData);
    const std::string_view key = startTag(xml, "encryptedKey");
    if (key.empty()) bad("the XML descriptor has no password key encryptor");
    info.passwordKey = params(key);
    info.spinCount = number(key, "spinCount", 0, 10000000);
    info.encryptedVerifierInput = base64(attribute(key, "encryptedVerifierHashInput"), "encryptedVerifierHashInput");
    info.encryptedVerifierHashValue = base64(attribute(key, "encryptedVerifierHashValue"), "encryptedVerifierHashValue");
    info.encryptedKeyValue = base64(attribute(key, "encryptedKeyValue"), "encryptedKeyValue");
}

void parseCryptoApi(OfficeEncryptionInfo& info, const std::uint8_t* p, std::size_t n) {
    if (n < 12) bad("the block is cut short");
    const std::uint32_t headerSize = le32(p + 8);
    if (headerSize < 32 || headerSize > n - 12) bad("the header size " + std::to_string(headerSize) + " does not fit");
    const std::uint8_t* h = p + 12;
    info.algorithmId = le32(h + 8);
    info.hashId = le32(h + 12);
    info.keyBits = le32(h + 16);
    // Provider name (UTF-16, NUL-ended) decides a default key size of 0.
    std::string provider;
    appendUtf16(h + 32, (headerSize - 32) & ~std::size_t(1), provider);
    provider = provider.substr(0, provider.find('\0'));
    if (info.keyBits == 0) info.keyBits = (provider.empty() || provider.find(" Base ") != std::string::npos) ? 40 : 128;

    const std::uint8_t* v = h + headerSize;
    const std::size_t left = n - 12 - headerSize;
    if (left < 4) bad("the verifier is missing");
    const std::uint32_t saltSize = le32(v);
    if (saltSize != 16 || left < 4 + 16 + 16 + 4) bad("the verifier is cut short or its salt is not 16 bytes");
    info.salt.assign(v + 4, v + 20);
    info.encryptedVerifier.assign(v + 20, v + 36);
    const std::uint32_t hashSize = le32(v + 36);
    if (hashSize == 0 || hashSize > 64 || left < 40 + std::size_t(hashSize)) bad("the verifier hash is cut short");
    // RC4 keeps the hash at its size; AES pads it to whole blocks.
    std::size_t stored = hashSize;
    if (info.algorithmId != 0x6801) stored = (hashSize + 15) / 16 * 16;
    if (left < 40 + stored) bad("the verifier hash is cut short");
    info.encryptedVerifierHash.assign(v + 40, v + 40 + stored);
}

// ---- codecs -----------------------------------------------------------------

class JetRc4Codec : public PageCodec {
public:
    explicit JetRc4Codec(std::uint32_t key) : key_(key) {}
    void decode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { applyPageKey(key_, page, b, n); }
    void encode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { applyPageKey(key_, page, b, n); }

private:
    std::uint32_t key_;
};

class Rc4CryptoApiCodec : public PageCodec {
public:
    Rc4CryptoApiCodec(const OfficeEncryptionInfo& info, std::uint32_t databaseKey, const std::string& password)
        : sha1_(EVP_sha1()), databaseKey_(databaseKey), keyBytes_(info.keyBits / 8) {
        if (info.hashId != 0x8004 || info.keyBits < 40 || info.keyBits > 128 || info.keyBits % 8 != 0)
            throw Error("unsupported RC4 CryptoAPI parameters (hash " + std::to_string(info.hashId) + ", key of " +
                        std::to_string(info.keyBits) + " bits)");
        if (info.encryptedVerifierHash.size() != 20) bad("the verifier hash is not 20 bytes long");
        const Bytes pw = passwordBytes(password);
        h0_ = sha1_.hash(info.salt, pw.data(), pw.size());
        std::uint8_t key[20];
        makeKey({0, 0, 0, 0}, key);
        Rc4 rc4(key, keyLength());
        std::uint8_t verifier[16], hash[20], expected[20];
        std::memcpy(verifier, info.encryptedVerifier.data(), 16);
        std::memcpy(hash, info.encryptedVerifierHash.data(), 20);
        rc4.apply(verifier, 16);
        rc4.apply(hash, 20);
        sha1_.hash(verifier, 16, nullptr, 0, expected);
        if (std::memcmp(expected, hash, 20) != 0) throw WrongPassword();
    }
    void decode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { apply(page, b, n); }
    void encode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { apply(page, b, n); }

private:
    std::size_t keyLength() const { return keyBytes_ == 5 ? 16 : keyBytes_; }
    void makeKey(const std::array<std::uint8_t, 4>& block, std::uint8_t* key) {
        std::uint8_t h[20];
        sha1_.hash(h0_.data(), h0_.size(), block.data(), 4, h);
        std::memset(key, 0, 20);
        std::memcpy(key, h, keyBytes_); // a 40-bit key runs zero-padded to 128 bits
    }
    void apply(std::uint32_t page, std::uint8_t* b, std::size_t n) {
        std::uint8_t key[20];
        makeKey(blockKey(databaseKey_, page), key);
        Rc4 rc4(key, keyLength());
        rc4.apply(b, n);
    }

    Hasher sha1_;
    Bytes h0_;
    std::uint32_t databaseKey_;
    std::size_t keyBytes_;
};

constexpr std::uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr std::uint8_t kVerifierHashBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr std::uint8_t kKeyValueBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};

// The agile password key encryptor: H iterated over salt and password.
class AgilePasswordKey {
public:
    AgilePasswordKey(const OfficeEncryptionInfo::Params& p, long spinCount, const std::string& password)
        : p_(p), md_(checkedDigest(p)), cipher_(checkedCipher(p)) {
        Hasher h(md_);
        const Bytes pw = passwordBytes(password);
        iterated_ = h.hash(p.salt, pw.data(), pw.size());
        std::uint8_t counter[4];
        for (long i = 0; i < spinCount; ++i) {
            for (int k = 0; k < 4; ++k) counter[k] = std::uint8_t(std::uint32_t(i) >> (8 * k));
            h.hash(counter, 4, iterated_.data(), iterated_.size(), iterated_.data());
        }
    }
    Bytes keyFor(const std::uint8_t* block) const {
        Hasher h(md_);
        return fitTo(h.hash(iterated_, block, 8), std::size_t(p_.keyBits / 8));
    }
    Bytes iv() const { return fitTo(p_.salt, std::size_t(p_.blockSize)); }
    // Decrypts (or encrypts) a value whose length is a whole number of blocks.
    Bytes apply(const std::uint8_t* block, const Bytes& value, bool encrypt) const {
        if (value.empty() || value.size() % std::size_t(p_.blockSize) != 0)
            bad("an encrypted value is not a whole number of cipher blocks");
        Bytes out = value;
        AesCbc aes(cipher_, keyFor(block), encrypt);
        aes.apply(iv().data(), out.data(), out.size());
        return out;
    }

    static const EVP_MD* checkedDigest(const OfficeEncryptionInfo::Params& p) {
        const EVP_MD* md = digestNamed(p.hash);
        if (!md) throw Error("unsupported hash algorithm \"" + p.hash + "\" in the agile encryption");
        if (EVP_MD_get_size(md) != p.hashSize) bad("hashSize does not match the hash algorithm " + p.hash);
        return md;
    }
    static const EVP_CIPHER* checkedCipher(const OfficeEncryptionInfo::Params& p) {
        const EVP_CIPHER* c = p.cipher == "AES" ? aesCbc(p.keyBits) : nullptr;
        if (!c || p.chaining != "ChainingModeCBC")
            throw Error("unsupported cipher \"" + p.cipher + "\" (" + std::to_string(p.keyBits) + " bits, " +
                        p.chaining + ") in the agile encryption");
        if (p.blockSize != 16) bad("blockSize does not match AES");
        return c;
    }

private:
    const OfficeEncryptionInfo::Params& p_;
    const EVP_MD* md_;
    const EVP_CIPHER* cipher_;
    Bytes iterated_;
};

class AgileCodec : public PageCodec {
public:
    AgileCodec(const OfficeEncryptionInfo& info, std::uint32_t databaseKey, const std::string& password)
        : md_(AgilePasswordKey::checkedDigest(info.keyData)), hasher_(md_), databaseKey_(databaseKey),
          salt_(info.keyData.salt), blockSize_(std::size_t(info.keyData.blockSize)) {
        const EVP_CIPHER* cipher = AgilePasswordKey::checkedCipher(info.keyData);
        AgilePasswordKey pk(info.passwordKey, info.spinCount, password);
        const std::size_t saltSize = std::size_t(info.passwordKey.saltSize);
        Bytes input = pk.apply(kVerifierInputBlock, info.encryptedVerifierInput, false);
        if (input.size() < saltSize) bad("the encrypted verifier is shorter than the salt");
        input.resize(saltSize);
        Hasher h(AgilePasswordKey::checkedDigest(info.passwordKey));
        const Bytes expected = h.hash(input, nullptr, 0);
        const Bytes stored = pk.apply(kVerifierHashBlock, info.encryptedVerifierHashValue, false);
        if (stored.size() < expected.size() || !std::equal(expected.begin(), expected.end(), stored.begin()))
            throw WrongPassword();
        Bytes secret = pk.apply(kKeyValueBlock, info.encryptedKeyValue, false);
        const std::size_t keyBytes = std::size_t(info.keyData.keyBits / 8);
        if (secret.size() < keyBytes) bad("the wrapped key is shorter than keyData's key");
        secret.resize(keyBytes);
        decrypt_ = std::make_unique<AesCbc>(cipher, secret, false);
        encrypt_ = std::make_unique<AesCbc>(cipher, secret, true);
        std::fill(secret.begin(), secret.end(), 0);
    }
    void decode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { apply(*decrypt_, page, b, n); }
    void encode(std::uint32_t page, std::uint8_t* b, std::size_t n) override { apply(*encrypt_, page, b, n); }

private:
    void apply(AesCbc& aes, std::uint32_t page, std::uint8_t* b, std::size_t n) {
        const auto block = blockKey(databaseKey_, page);
        std::uint8_t h[EVP_MAX_MD_SIZE];
        hasher_.hash(salt_.data(), salt_.size(), block.data(), 4, h);
        std::uint8_t iv[EVP_MAX_IV_LENGTH];
        const std::size_t hs = hasher_.size();
        for (std::size_t i = 0; i < blockSize_; ++i) iv[i] = i < hs ? h[i] : 0x36;
        aes.apply(iv, b, n - n % blockSize_);
    }

    const EVP_MD* md_;
    Hasher hasher_;
    std::uint32_t databaseKey_;
    Bytes salt_;
    std::size_t blockSize_;
    std::unique_ptr<AesCbc> decrypt_, encrypt_;
};

std::string base64Text(const Bytes& b) {
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(), int(b.size()));
    out.resize(std::size_t(n));
    return out;
}

Bytes randomBytes(std::size_t n) {
    Bytes b(n);
    if (RAND_bytes(b.data(), int(n)) != 1) throw Error("the crypto library could not make random bytes");
    return b;
}

} // namespace

OfficeEncryptionInfo parseEncryptionInfo(const std::uint8_t* p, std::size_t n) {
    if (n < 8) bad("the block is only " + std::to_string(n) + " bytes long");
    OfficeEncryptionInfo info;
    const std::uint16_t major = u16(p), minor = u16(p + 2);
    const std::uint32_t flags = le32(p + 4);
    info.scheme = schemeName(major, minor, flags);
    if (major == 4 && minor == 4) {
        info.kind = OfficeEncryptionInfo::Kind::Agile;
        parseAgile(info, p, n);
    } else if ((major == 2 || major == 3 || major == 4) && minor == 2 && (flags & 0x04)) {
        parseCryptoApi(info, p, n);
        // Files whose header leaves the AES flag clear may still name an AES
        // algorithm (0x660E..0x6610): that is the standard scheme, not RC4.
        const bool aes = (flags & 0x20) || (info.algorithmId >= 0x660E && info.algorithmId <= 0x6610);
        info.kind = aes ? OfficeEncryptionInfo::Kind::StandardAes : OfficeEncryptionInfo::Kind::Rc4CryptoApi;
        if (aes) info.scheme = "Office standard (AES)";
        else if (info.algorithmId != 0x6801)
            bad("the RC4 CryptoAPI header names cipher 0x" + [&] {
                char b[16];
                std::snprintf(b, sizeof b, "%X", info.algorithmId);
                return std::string(b);
            }());
    } else if (major == 1 && minor == 1) {
        info.kind = OfficeEncryptionInfo::Kind::BinaryRc4;
    } else if (minor == 3) {
        info.kind = OfficeEncryptionInfo::Kind::Extensible;
    }
    return info;
}

std::unique_ptr<PageCodec> makePageCodec(const std::string& path, const Header& header, const std::string& password) {
    if (header.databaseKey == 0) return nullptr;
    if (!header.format.isAce()) return std::make_unique<JetRc4Codec>(header.databaseKey);
    OfficeEncryptionInfo info;
    try {
        if (header.officeInfo.empty()) bad("the encryption information block is missing or does not fit in page 0");
        info = parseEncryptionInfo(header.officeInfo.data(), header.officeInfo.size());
    } catch (const Error& e) {
        throw Error(path + ": this .accdb file is encrypted, but its " + e.what());
    }
    try {
        switch (info.kind) {
        case OfficeEncryptionInfo::Kind::Agile: return std::make_unique<AgileCodec>(info, header.databaseKey, password);
        case OfficeEncryptionInfo::Kind::Rc4CryptoApi:
            return std::make_unique<Rc4CryptoApiCodec>(info, header.databaseKey, password);
        default: break;
        }
    } catch (const WrongPassword&) {
        throw;
    } catch (const Error& e) {
        throw Error(path + ": this .accdb file is encrypted with " + info.scheme + " encryption; " + e.what());
    }
    throw Error(path + ": this .accdb file is encrypted with " + info.scheme +
                " encryption, which this program cannot read (it reads the agile and RC4 CryptoAPI schemes)");
}

std::vector<std::uint8_t> newAgileEncryptionInfo(const std::string& password) {
    OfficeEncryptionInfo::Params p;
    p.saltSize = 16;
    p.blockSize = 16;
    p.keyBits = 256;
    p.hashSize = 64;
    p.cipher = "AES";
    p.chaining = "ChainingModeCBC";
    p.hash = "SHA512";
    p.salt = randomBytes(16);
    const long spinCount = 100000;
    const Bytes keyDataSalt = randomBytes(16);
    const Bytes secret = randomBytes(32);
    const Bytes verifier = randomBytes(16);

    AgilePasswordKey pk(p, spinCount, password);
    Hasher h(EVP_sha512());
    const Bytes verifierInput = pk.apply(kVerifierInputBlock, verifier, true);
    const Bytes verifierHash = pk.apply(kVerifierHashBlock, h.hash(verifier, nullptr, 0), true);
    const Bytes keyValue = pk.apply(kKeyValueBlock, secret, true);

    const std::string common = "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" cipherAlgorithm=\"AES\" "
                               "cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"SHA512\" saltValue=\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                      "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
                      "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
                      "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">";
    xml += "<keyData " + common + base64Text(keyDataSalt) + "\"/>";
    xml += "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">";
    xml += "<p:encryptedKey spinCount=\"100000\" " + common + base64Text(p.salt) + "\" encryptedVerifierHashInput=\"" +
           base64Text(verifierInput) + "\" encryptedVerifierHashValue=\"" + base64Text(verifierHash) +
           "\" encryptedKeyValue=\"" + base64Text(keyValue) + "\"/>";
    xml += "</keyEncryptor></keyEncryptors></encryption>";

    Bytes out = {4, 0, 4, 0};
    putLe32(out, 0x40);
    out.insert(out.end(), xml.begin(), xml.end());
    return out;
}

std::uint32_t randomDatabaseKey() {
    std::uint32_t key = 0;
    while (key == 0) key = u32(randomBytes(4).data());
    return key;
}

} // namespace qm::jet
