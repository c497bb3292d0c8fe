#include "xbase/cdx.h"

#include "value/value.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <unordered_set>

namespace qm::xbase {

namespace {

constexpr std::uint32_t kPage = 512;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;
constexpr std::size_t kLeafHeader = 24;
constexpr std::size_t kLeafSpace = kPage - kLeafHeader; // 488
constexpr std::size_t kInteriorHeader = 12;
constexpr std::size_t kInteriorSpace = kPage - kInteriorHeader; // 500
constexpr int kMaxDepth = 32;

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      (static_cast<unsigned char>(b[at + 1]) << 8));
}
std::uint32_t le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
std::uint32_t be32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}
void putLe16(std::string& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>(v >> 8);
}
void putLe32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void putBe32(std::string& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
}

int bitsFor(std::uint32_t v) { return v == 0 ? 0 : 32 - std::countl_zero(v); }

// Decoded leaf: keys in order.
struct LeafReader {
    const std::string& file;
    std::uint32_t offset;
    std::uint16_t keyLength;
    char pad;
    const std::string& where; // "file, tag X"

    template <typename F>
    void decode(F&& emit) const {
        const std::size_t base = offset;
        const unsigned nkeys = le16(file, base + 2);
        const unsigned recBits = static_cast<unsigned char>(file[base + 20]);
        const unsigned dupBits = static_cast<unsigned char>(file[base + 21]);
        const unsigned trailBits = static_cast<unsigned char>(file[base + 22]);
        const unsigned entryBytes = static_cast<unsigned char>(file[base + 23]);
        if (nkeys == 0) return;
        if (entryBytes == 0 || entryBytes > 8 || recBits + dupBits + trailBits > entryBytes * 8 || recBits > 32 ||
            dupBits > 16 || trailBits > 16)
            throw Error(where + ": leaf node at offset " + std::to_string(offset) +
                        " has an impossible entry layout (" + std::to_string(entryBytes) + " bytes, " +
                        std::to_string(recBits) + "/" + std::to_string(dupBits) + "/" + std::to_string(trailBits) +
                        " bits)");
        if (static_cast<std::size_t>(nkeys) * entryBytes > kLeafSpace)
            throw Error(where + ": leaf node at offset " + std::to_string(offset) + " claims " +
                        std::to_string(nkeys) + " keys, more than the node can hold");
        const std::size_t entriesEnd = base + kLeafHeader + static_cast<std::size_t>(nkeys) * entryBytes;
        std::size_t keyPos = base + kPage;
        std::string key(keyLength, pad), prev;
        for (unsigned i = 0; i < nkeys; ++i) {
            std::uint64_t v = 0;
            const std::size_t e = base + kLeafHeader + static_cast<std::size_t>(i) * entryBytes;
            for (int k = static_cast<int>(entryBytes) - 1; k >= 0; --k)
                v = (v << 8) | static_cast<unsigned char>(file[e + k]);
            const auto mask = [](unsigned bits) { return bits >= 64 ? ~0ull : ((1ull << bits) - 1); };
            const std::uint32_t recno = static_cast<std::uint32_t>(v & mask(recBits));
            const unsigned dup = static_cast<unsigned>((v >> recBits) & mask(dupBits));
            const unsigned trail = static_cast<unsigned>((v >> (recBits + dupBits)) & mask(trailBits));
            if (dup + trail > keyLength || (i == 0 && dup != 0))
                throw Error(where + ": key " + std::to_string(i + 1) + " of the leaf node at offset " +
                            std::to_string(offset) + " has impossible compression counts (" + std::to_string(dup) +
                            " repeated, " + std::to_string(trail) + " trailing, key length " +
                            std::to_string(keyLength) + ")");
            const std::size_t stored = keyLength - dup - trail;
            if (keyPos < entriesEnd + stored)
                throw Error(where + ": key " + std::to_string(i + 1) + " of the leaf node at offset " +
                            std::to_string(offset) + " runs past the node's key area");
            keyPos -= stored;
            // key keeps its first `dup` bytes from the previous key.
            std::memcpy(key.data() + dup, file.data() + keyPos, stored);
            std::memset(key.data() + dup + stored, static_cast<unsigned char>(pad), trail);
            emit(std::string_view(key), recno);
        }
    }
};

struct Walker {
    const std::string& file;
    const CdxTag& tag;
    char pad;
    std::string where;
    std::unordered_set<std::uint32_t> visited;
    std::vector<std::uint32_t> leaves; // in tree order
    const std::function<void(std::string_view, std::uint32_t)>& visit;
    std::string prevKey;
    std::uint32_t prevRec = 0;
    bool havePrev = false;

    void checkOffset(std::uint32_t off, const char* what) const {
        if (off == kNone || off % kPage != 0 || off < 2 * kPage || static_cast<std::uint64_t>(off) + kPage > file.size())
            throw Error(where + ": " + what + " points to offset " + std::to_string(static_cast<std::int64_t>(off == kNone ? -1 : off)) +
                        ", outside the file's " + std::to_string(file.size()) + " bytes");
    }

    // Walks the subtree at `off`; returns its greatest (key, recno), or nothing when empty.
    bool walk(std::uint32_t off, int depth, std::string& lastKey, std::uint32_t& lastRec) {
        checkOffset(off, "a node pointer");
        if (depth > kMaxDepth)
            throw Error(where + ": the tree is deeper than " + std::to_string(kMaxDepth) + " levels (a loop?)");
        if (!visited.insert(off).second)
            throw Error(where + ": node at offset " + std::to_string(off) + " is reached twice (the index has a loop)");
        const std::uint16_t attr = le16(file, off);
        const unsigned nkeys = le16(file, off + 2);
        if (attr & 0x02) {
            leaves.push_back(off);
            bool any = false;
            LeafReader{file, off, tag.keyLength, pad, where}.decode([&](std::string_view k, std::uint32_t r) {
                if (r == 0)
                    throw Error(where + ": the leaf node at offset " + std::to_string(off) +
                                " holds a key for record number 0");
                if (!tag.descending && havePrev) {
                    const int c = k.compare(prevKey);
                    if (c < 0 || (c == 0 && r <= prevRec))
                        throw Error(where + ": the keys in the leaf node at offset " + std::to_string(off) +
                                    " are out of order (record " + std::to_string(r) + ")");
                }
                prevKey.assign(k);
                prevRec = r;
                havePrev = true;
                visit(k, r);
                lastKey.assign(k);
                lastRec = r;
                any = true;
            });
            return any;
        }
        const std::size_t entry = static_cast<std::size_t>(tag.keyLength) + 8;
        if (nkeys == 0 || nkeys * entry > kInteriorSpace)
            throw Error(where + ": interior node at offset " + std::to_string(off) + " claims " +
                        std::to_string(nkeys) + " keys, which its 500 bytes cannot hold");
        bool any = false;
        for (unsigned i = 0; i < nkeys; ++i) {
            const std::size_t e = off + kInteriorHeader + i * entry;
            const std::string_view entryKey(file.data() + e, tag.keyLength);
            const std::uint32_t entryRec = be32(file, e + tag.keyLength);
            const std::uint32_t child = be32(file, e + tag.keyLength + 4);
            std::string childKey;
            std::uint32_t childRec = 0;
            if (!walk(child, depth + 1, childKey, childRec))
                throw Error(where + ": interior node at offset " + std::to_string(off) + " points to an empty node");
            if (childKey != entryKey || childRec != entryRec)
                throw Error(where + ": interior node at offset " + std::to_string(off) + ", entry " +
                            std::to_string(i + 1) + " does not match the greatest key of its child");
            lastKey = std::move(childKey);
            lastRec = childRec;
            any = true;
        }
        return any;
    }
};

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("Cannot open the index file " + path);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) throw Error("Cannot read the index file " + path);
    return bytes;
}

// Tag header fields.
CdxTag readTagHeader(const std::string& file, const std::string& name, std::uint32_t at, const std::string& fileName) {
    if (at % kPage != 0 || static_cast<std::uint64_t>(at) + 2 * kPage > file.size())
        throw Error(fileName + ": the header of tag " + name + " lies outside the file (offset " + std::to_string(at) + ")");
    CdxTag t;
    t.name = name;
    t.headerOffset = at;
    t.rootOffset = le32(file, at);
    t.keyLength = le16(file, at + 12);
    t.options = static_cast<std::uint8_t>(file[at + 14]);
    std::string coll(file.data() + at + 494, 8);
    coll.resize(std::strlen(coll.c_str()));
    t.collation = coll;
    t.descending = le16(file, at + 502) != 0;
    const unsigned forOff = le16(file, at + 504), forLen = le16(file, at + 506);
    const unsigned keyOff = le16(file, at + 508), keyLen = le16(file, at + 510);
    if (t.keyLength == 0 || t.keyLength > 480)
        throw Error(fileName + ": tag " + name + " has an impossible key length " + std::to_string(t.keyLength));
    if (keyOff + keyLen > kPage || forOff + forLen > kPage)
        throw Error(fileName + ": the expressions of tag " + name + " run past the tag header");
    auto expr = [&](unsigned off, unsigned len) {
        std::string s(file.data() + at + kPage + off, len);
        s.resize(std::strlen(s.c_str()));
        return s;
    };
    t.keyExpression = expr(keyOff, keyLen);
    if (forLen > 1) t.forExpression = expr(forOff, forLen);
    return t;
}

} // namespace

std::string printableKey(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static const char* hex = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}


bool CdxTag::machineCollation() const {
    if (collation.empty()) return true;
    std::string up;
    for (char c : collation) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return up == "MACHINE";
}

CdxFile CdxFile::open(const std::string& path) { return fromBytes(path, readWholeFile(path)); }

CdxFile CdxFile::fromBytes(std::string name, std::string bytes) {
    CdxFile f;
    f.name_ = std::move(name);
    f.bytes_ = std::move(bytes);
    if (f.bytes_.size() < 3 * kPage || f.bytes_.size() % kPage != 0)
        throw Error(f.name_ + ": not a compound index (size " + std::to_string(f.bytes_.size()) +
                    " bytes is not a whole number of 512-byte pages of at least 1536 bytes)");
    const std::uint8_t opt = static_cast<std::uint8_t>(f.bytes_[14]);
    if (!(opt & cdx_option::kCompact) || le16(f.bytes_, 12) != 10)
        throw Error(f.name_ + ": not a compound index (header options " + std::to_string(opt) + ", key length " +
                    std::to_string(le16(f.bytes_, 12)) + ")");
    CdxTag directory;
    directory.name = "(tag directory)";
    directory.rootOffset = le32(f.bytes_, 0);
    directory.keyLength = 10;
    std::vector<std::pair<std::string, std::uint32_t>> entries;
    f.forEachKey(directory, ' ', [&](std::string_view k, std::uint32_t r) {
        std::string n(k);
        while (!n.empty() && (n.back() == ' ' || n.back() == '\0')) n.pop_back();
        entries.emplace_back(n, r);
    });
    for (auto& [n, r] : entries) f.tags_.push_back(readTagHeader(f.bytes_, n, r, f.name_));
    return f;
}

const CdxTag* CdxFile::findTag(std::string_view name) const {
    for (const auto& t : tags_) {
        if (t.name.size() != name.size()) continue;
        bool eq = true;
        for (std::size_t i = 0; i < name.size() && eq; ++i)
            eq = std::toupper(static_cast<unsigned char>(t.name[i])) == std::toupper(static_cast<unsigned char>(name[i]));
        if (eq) return &t;
    }
    return nullptr;
}

void CdxFile::forEachKey(const CdxTag& tag, char pad,
                         const std::function<void(std::string_view, std::uint32_t)>& visit) const {
    Walker w{bytes_, tag, pad, name_ + ", tag " + tag.name, {}, {}, visit, {}, 0, false};
    std::string lastKey;
    std::uint32_t lastRec = 0;
    w.walk(tag.rootOffset, 0, lastKey, lastRec);
    // The leaf chain must run through the same leaves, left to right.
    for (std::size_t i = 0; i < w.leaves.size(); ++i) {
        const std::uint32_t left = le32(bytes_, w.leaves[i] + 4), right = le32(bytes_, w.leaves[i] + 8);
        const std::uint32_t wantLeft = i == 0 ? kNone : w.leaves[i - 1];
        const std::uint32_t wantRight = i + 1 == w.leaves.size() ? kNone : w.leaves[i + 1];
        if (left != wantLeft || right != wantRight)
            throw Error(w.where + ": the sibling links of the leaf at offset " + std::to_string(w.leaves[i]) +
                        " disagree with the tree");
    }
}

std::vector<CdxKey> CdxFile::keys(const CdxTag& tag, char pad) const {
    std::vector<CdxKey> out;
    forEachKey(tag, pad, [&](std::string_view k, std::uint32_t r) { out.push_back(CdxKey{std::string(k), r}); });
    return out;
}

// ---------------------------------------------------------------- writing

namespace {

struct NodeRef {
    std::string key;
    std::uint32_t recno;
    std::uint32_t offset;
};

// Lays the nodes of one tree out at `base` (consecutive pages); returns the
// root offset.
class TreeWriter {
public:
    TreeWriter(std::string& out, std::uint16_t keyLength, char pad) : out_(out), keyLength_(keyLength), pad_(pad) {
        keyBits_ = bitsFor(keyLength);
    }

    std::uint32_t write(const std::vector<CdxKey>& keys) {
        std::vector<NodeRef> level;
        // Leaves.
        std::size_t i = 0;
        std::vector<std::uint32_t> leafOffsets;
        do {
            const std::size_t start = i;
            std::size_t used = 0, entryBytes = entryBytesFor(0);
            std::uint32_t maxRec = 0;
            std::string_view prev;
            while (i < keys.size()) {
                const std::uint32_t mr = std::max(maxRec, keys[i].recno);
                const std::size_t eb = entryBytesFor(mr);
                const std::size_t stored = storedBytes(i == start ? std::string_view() : prev, keys[i].key);
                const std::size_t n = i - start + 1;
                if (n * eb + used + stored > kLeafSpace) break;
                maxRec = mr;
                entryBytes = eb;
                used += stored;
                prev = keys[i].key;
                ++i;
            }
            if (i == start && i < keys.size())
                throw Error("index key of " + std::to_string(keyLength_) + " bytes does not fit a node");
            const std::uint32_t off = newPage();
            leafOffsets.push_back(off);
            writeLeaf(off, keys, start, i, entryBytes, used);
            if (i > start) level.push_back(NodeRef{keys[i - 1].key, keys[i - 1].recno, off});
        } while (i < keys.size());
        for (std::size_t k = 0; k < leafOffsets.size(); ++k) {
            putLe32(out_, leafOffsets[k] + 4, k == 0 ? kNone : leafOffsets[k - 1]);
            putLe32(out_, leafOffsets[k] + 8, k + 1 == leafOffsets.size() ? kNone : leafOffsets[k + 1]);
        }
        if (leafOffsets.size() == 1) {
            out_[leafOffsets[0]] |= 0x01;
            return leafOffsets[0];
        }
        // Interior levels.
        const std::size_t perNode = kInteriorSpace / (keyLength_ + 8u);
        while (level.size() > 1) {
            std::vector<NodeRef> up;
            std::vector<std::uint32_t> offs;
            for (std::size_t s = 0; s < level.size(); s += perNode) {
                const std::size_t e = std::min(level.size(), s + perNode);
                const std::uint32_t off = newPage();
                offs.push_back(off);
                putLe16(out_, off, 0);
                putLe16(out_, off + 2, static_cast<std::uint16_t>(e - s));
                for (std::size_t k = s; k < e; ++k) {
                    const std::size_t at = off + kInteriorHeader + (k - s) * (keyLength_ + 8u);
                    std::memcpy(out_.data() + at, level[k].key.data(), keyLength_);
                    putBe32(out_, at + keyLength_, level[k].recno);
                    putBe32(out_, at + keyLength_ + 4, level[k].offset);
                }
                up.push_back(NodeRef{level[e - 1].key, level[e - 1].recno, off});
            }
            for (std::size_t k = 0; k < offs.size(); ++k) {
                putLe32(out_, offs[k] + 4, k == 0 ? kNone : offs[k - 1]);
                putLe32(out_, offs[k] + 8, k + 1 == offs.size() ? kNone : offs[k + 1]);
            }
            level = std::move(up);
        }
        out_[level[0].offset] |= 0x01;
        return level[0].offset;
    }

private:
    std::uint32_t newPage() {
        const std::uint32_t off = static_cast<std::uint32_t>(out_.size());
        out_.append(kPage, '\0');
        return off;
    }
    std::size_t entryBytesFor(std::uint32_t maxRec) const {
        const int need = std::max(bitsFor(maxRec), 1) + 2 * keyBits_;
        return static_cast<std::size_t>((need + 7) / 8);
    }
    std::size_t trailing(std::string_view key) const {
        std::size_t t = 0;
        while (t < key.size() && key[key.size() - 1 - t] == pad_) ++t;
        return t;
    }
    std::size_t shared(std::string_view a, std::string_view b) const {
        std::size_t d = 0;
        while (d < a.size() && d < b.size() && a[d] == b[d]) ++d;
        return d;
    }
    std::size_t storedBytes(std::string_view prev, std::string_view key) const {
        const std::size_t trail = trailing(key);
        const std::size_t dup = std::min(shared(prev, key), key.size() - trail);
        return key.size() - dup - trail;
    }
    void writeLeaf(std::uint32_t off, const std::vector<CdxKey>& keys, std::size_t s, std::size_t e,
                   std::size_t entryBytes, std::size_t used) {
        const unsigned recBits = static_cast<unsigned>(entryBytes * 8 - 2 * keyBits_);
        putLe16(out_, off, 0x02);
        putLe16(out_, off + 2, static_cast<std::uint16_t>(e - s));
        putLe16(out_, off + 12, static_cast<std::uint16_t>(kLeafSpace - (e - s) * entryBytes - used));
        putLe32(out_, off + 14, recBits >= 32 ? 0xFFFFFFFFu : ((1u << recBits) - 1));
        out_[off + 18] = static_cast<char>((1u << keyBits_) - 1);
        out_[off + 19] = static_cast<char>((1u << keyBits_) - 1);
        out_[off + 20] = static_cast<char>(recBits);
        out_[off + 21] = static_cast<char>(keyBits_);
        out_[off + 22] = static_cast<char>(keyBits_);
        out_[off + 23] = static_cast<char>(entryBytes);
        std::size_t keyPos = off + kPage;
        std::string_view prev;
        for (std::size_t k = s; k < e; ++k) {
            const std::string& key = keys[k].key;
            const std::size_t trail = trailing(key);
            const std::size_t dup = k == s ? 0 : std::min(shared(prev, key), key.size() - trail);
            const std::size_t stored = key.size() - dup - trail;
            keyPos -= stored;
            std::memcpy(out_.data() + keyPos, key.data() + dup, stored);
            const std::uint64_t v = static_cast<std::uint64_t>(keys[k].recno) |
                                    (static_cast<std::uint64_t>(dup) << recBits) |
                                    (static_cast<std::uint64_t>(trail) << (recBits + keyBits_));
            const std::size_t at = off + kLeafHeader + (k - s) * entryBytes;
            for (std::size_t b = 0; b < entryBytes; ++b) out_[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
            prev = key;
        }
    }

    std::string& out_;
    std::uint16_t keyLength_;
    char pad_;
    int keyBits_;
};

void writeTagHeader(std::string& out, std::uint32_t at, std::uint32_t root, std::uint16_t keyLength,
                    std::uint8_t options, std::string_view keyExpr, std::string_view forExpr) {
    if (keyExpr.size() + forExpr.size() + 2 > kPage)
        throw Error("index expressions are longer than the 510 bytes a tag header holds");
    putLe32(out, at, root);
    putLe32(out, at + 4, 0);
    putLe16(out, at + 12, keyLength);
    out[at + 14] = static_cast<char>(options);
    out[at + 15] = 0x01;
    putLe16(out, at + 502, 0);
    const std::uint16_t keyLen = static_cast<std::uint16_t>(keyExpr.size() + 1);
    putLe16(out, at + 504, keyLen);
    putLe16(out, at + 506, static_cast<std::uint16_t>(forExpr.size() + 1));
    putLe16(out, at + 508, 0);
    putLe16(out, at + 510, keyLen);
    std::memcpy(out.data() + at + kPage, keyExpr.data(), keyExpr.size());
    std::memcpy(out.data() + at + kPage + keyLen, forExpr.data(), forExpr.size());
}

std::string upperTagName(const std::string& name) {
    std::string n;
    for (char c : name) n += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return n;
}

} // namespace

std::string buildCdx(std::span<const CdxTagBuild> tags) {
    std::vector<std::size_t> order(tags.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (const auto& t : tags) {
        if (t.name.empty() || t.name.size() > 10)
            throw Error("index tag name '" + t.name + "' must have 1 to 10 characters");
        if (t.keyLength == 0 || t.keyLength > 240)
            throw Error("index tag " + t.name + ": key length " + std::to_string(t.keyLength) + " is outside 1..240");
        for (std::size_t k = 0; k < t.keys.size(); ++k) {
            if (t.keys[k].key.size() != t.keyLength)
                throw Error("index tag " + t.name + ": a key has " + std::to_string(t.keys[k].key.size()) +
                            " bytes instead of " + std::to_string(t.keyLength));
            if (k > 0) {
                const int c = t.keys[k - 1].key.compare(t.keys[k].key);
                if (c > 0 || (c == 0 && t.keys[k - 1].recno >= t.keys[k].recno))
                    throw Error("index tag " + t.name + ": keys are not in ascending order");
            }
        }
    }
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return upperTagName(tags[a].name) < upperTagName(tags[b].name); });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (upperTagName(tags[order[i - 1]].name) == upperTagName(tags[order[i]].name))
            throw Error("index tag " + tags[order[i]].name + " is named twice");

    // The tag directory sits right after the compound header; its size
    // depends on the offsets it stores, so lay out until it stops changing.
    std::size_t dirPages = 1;
    for (;;) {
        std::string out(2 * kPage + dirPages * kPage, '\0');
        std::vector<CdxKey> directory;
        for (std::size_t idx : order) {
            const CdxTagBuild& t = tags[idx];
            const std::uint32_t headerAt = static_cast<std::uint32_t>(out.size());
            out.append(2 * kPage, '\0');
            TreeWriter tw(out, t.keyLength, t.pad);
            const std::uint32_t root = tw.write(t.keys);
            std::uint8_t opt = static_cast<std::uint8_t>((t.options & (cdx_option::kUnique | cdx_option::kNullPrefix |
                                                                      cdx_option::kCandidate)) |
                                                         cdx_option::kCompact | cdx_option::kCompound);
            if (!t.forExpression.empty()) opt |= cdx_option::kHasFor;
            writeTagHeader(out, headerAt, root, t.keyLength, opt, t.keyExpression, t.forExpression);
            std::string dk = upperTagName(t.name);
            dk.resize(10, ' ');
            directory.push_back(CdxKey{dk, headerAt});
        }
        std::sort(directory.begin(), directory.end(),
                  [](const CdxKey& a, const CdxKey& b) { return a.key < b.key; });
        std::string dir;
        TreeWriter dw(dir, 10, ' ');
        // The directory writer lays pages from offset 0 of `dir`; shift them.
        const std::uint32_t dirRoot = dw.write(directory);
        if (dir.size() / kPage != dirPages) {
            dirPages = dir.size() / kPage;
            continue;
        }
        // Relocate directory pointers by 1024 (its pages start there).
        const std::uint32_t shift = 2 * kPage;
        for (std::size_t p = 0; p < dir.size(); p += kPage) {
            for (std::size_t s : {std::size_t{4}, std::size_t{8}}) {
                const std::uint32_t v = le32(dir, p + s);
                if (v != kNone) putLe32(dir, p + s, v + shift);
            }
            if (!(le16(dir, p) & 0x02)) {
                const unsigned n = le16(dir, p + 2);
                for (unsigned k = 0; k < n; ++k) {
                    const std::size_t at = p + kInteriorHeader + k * 18 + 14;
                    putBe32(dir, at, be32(dir, at) + shift);
                }
            }
        }
        std::memcpy(out.data() + shift, dir.data(), dir.size());
        writeTagHeader(out, 0, dirRoot + shift, 10, 0xE0, "", "");
        return out;
    }
}

// ---------------------------------------------------------------- checking

std::vector<std::string> checkCdxTag(const CdxFile& file, const CdxTag& tag, char pad, std::vector<CdxKey> expected) {
    std::vector<std::string> problems;
    const std::string where = file.name() + ", tag " + tag.name + ": ";
    std::vector<CdxKey> stored;
    try {
        stored = file.keys(tag, pad);
    } catch (const Error& e) {
        problems.push_back(e.what());
        return problems;
    }
    for (std::size_t i = 1; i < stored.size(); ++i) {
        const int c = stored[i - 1].key.compare(stored[i].key);
        if (c > 0 || (c == 0 && stored[i - 1].recno >= stored[i].recno)) {
            problems.push_back(where + "key " + std::to_string(i + 1) + " (record " + std::to_string(stored[i].recno) +
                               ") is out of order");
            break;
        }
        if (c == 0 && tag.rejectsDuplicates()) {
            problems.push_back(where + "records " + std::to_string(stored[i - 1].recno) + " and " +
                               std::to_string(stored[i].recno) + " share the key '" + printableKey(stored[i].key) +
                               "' in a tag that refuses duplicates");
        }
    }
    auto less = [](const CdxKey& a, const CdxKey& b) { return a.key != b.key ? a.key < b.key : a.recno < b.recno; };
    std::sort(expected.begin(), expected.end(), less);
    std::vector<CdxKey> sortedStored = stored;
    std::sort(sortedStored.begin(), sortedStored.end(), less);
    std::vector<CdxKey> missing, extra;
    std::set_difference(expected.begin(), expected.end(), sortedStored.begin(), sortedStored.end(),
                        std::back_inserter(missing), less);
    std::set_difference(sortedStored.begin(), sortedStored.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra), less);
    if (!missing.empty())
        problems.push_back(where + std::to_string(missing.size()) + " key(s) missing, first for record " +
                           std::to_string(missing[0].recno) + ": '" + printableKey(missing[0].key) + "'");
    if (!extra.empty())
        problems.push_back(where + std::to_string(extra.size()) + " key(s) that the table does not produce, first for record " +
                           std::to_string(extra[0].recno) + ": '" + printableKey(extra[0].key) + "'");
    return problems;
}

// ---------------------------------------------------------------- key encodings

namespace cdx_key {

void appendDouble(std::string& out, double value) {
    if (value == 0) value = 0; // -0 sorts as 0
    std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    if (bits & 0x8000000000000000ull)
        bits = ~bits;
    else
        bits |= 0x8000000000000000ull;
    for (int i = 7; i >= 0; --i) out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

double readDouble(std::string_view b) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(b[i]);
    if (bits & 0x8000000000000000ull)
        bits &= ~0x8000000000000000ull;
    else
        bits = ~bits;
    return std::bit_cast<double>(bits);
}

void appendInt32(std::string& out, std::int32_t value) {
    const std::uint32_t v = static_cast<std::uint32_t>(value) ^ 0x80000000u;
    for (int i = 3; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

} // namespace cdx_key

} // namespace qm::xbase
