// Compound structural indexes (.cdx, and the container's .dcx).
//
// A .cdx is a sequence of 512-byte pages addressed by byte offset.  At
// offset 0 a 1024-byte compound header whose root is the tag directory: an
// index like the others whose keys are the tag names and whose "record
// numbers" are the offsets of each tag's own 1024-byte header.  A tag is a
// B-tree: interior nodes hold full keys with a big-endian record number and
// child offset (the greatest key of that child); leaf nodes hold keys
// compressed front (bytes shared with the previous key) and back (trailing
// pad bytes dropped) with bit-packed (record, duplicate, trailing) entries.
//
// This file gives a reader (tags, keys in stored order, structural checks
// that refuse loops and keys running past their node), a writer that lays
// out a whole file from sorted keys, and a checker that compares a tag with
// the keys its table should produce.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::xbase {

// Tag option bits (tag header byte 14).
namespace cdx_option {
inline constexpr std::uint8_t kUnique = 0x01;     // only the first record of equal keys is kept
inline constexpr std::uint8_t kNullPrefix = 0x02; // keys carry a leading null-indicator byte
inline constexpr std::uint8_t kCandidate = 0x04;  // candidate / primary: duplicates refused
inline constexpr std::uint8_t kHasFor = 0x08;
inline constexpr std::uint8_t kCompact = 0x20;
inline constexpr std::uint8_t kCompound = 0x40;
inline constexpr std::uint8_t kHeader = 0x80;
} // namespace cdx_option

struct CdxTag {
    std::string name;              // as in the directory, trailing spaces removed
    std::uint32_t headerOffset = 0;
    std::uint32_t rootOffset = 0;
    std::uint16_t keyLength = 0;
    std::uint8_t options = 0;
    bool descending = false;
    std::string collation;         // "" for MACHINE
    std::string keyExpression;
    std::string forExpression;     // "" when none

    bool machineCollation() const;
    bool rejectsDuplicates() const { return (options & (cdx_option::kUnique | cdx_option::kCandidate)) != 0; }
};

// One index entry.
struct CdxKey {
    std::string key;               // keyLength bytes
    std::uint32_t recno = 0;
    bool operator==(const CdxKey&) const = default;
};

class CdxFile {
public:
    // Reads the whole file.  A file too short for its header, a directory
    // that cannot be walked or a tag header outside the file is an Error
    // naming the file.
    static CdxFile open(const std::string& path);
    // The same from bytes already in memory; `name` is used in messages.
    static CdxFile fromBytes(std::string name, std::string bytes);

    const std::string& name() const { return name_; }
    const std::vector<CdxTag>& tags() const { return tags_; }
    // The tag whose name matches ignoring case, or null.
    const CdxTag* findTag(std::string_view name) const;

    // Walks a tag's keys in stored order.  `pad` is the byte dropped from
    // key ends (space for character keys, 0 for the others).  Every node is
    // checked: offsets inside the file, a node visited twice (a loop), keys
    // or entries running past the node, keys out of ascending order, an
    // interior entry that does not match the greatest key of its child, a
    // leaf chain that disagrees with the tree.  Any of these is an Error
    // naming the file and the tag.
    void forEachKey(const CdxTag& tag, char pad,
                    const std::function<void(std::string_view key, std::uint32_t recno)>& visit) const;
    std::vector<CdxKey> keys(const CdxTag& tag, char pad) const;

    const std::string& bytes() const { return bytes_; }

private:
    CdxFile() = default;
    std::string name_;
    std::string bytes_;
    std::vector<CdxTag> tags_;
};

// What the writer needs for one tag.
struct CdxTagBuild {
    std::string name;              // at most 10 characters; stored upper-case
    std::string keyExpression;
    std::string forExpression;
    std::uint16_t keyLength = 0;   // 1..240
    std::uint8_t options = 0;      // unique/candidate/null-prefix bits; compact, compound and FOR bits are added
    char pad = ' ';                // trailing byte compressed away
    // Keys sorted by (key bytes, recno), each keyLength bytes; for unique
    // tags only the first of equal keys.
    std::vector<CdxKey> keys;
};

// Lays out a complete .cdx (MACHINE collation, ascending tags).  Keys that
// are out of order or of the wrong length are a programming error and
// throw Error.
std::string buildCdx(std::span<const CdxTagBuild> tags);

// Compares a tag's stored keys with the keys the table produces (`expected`,
// in any order).  Returns the problems found, each a sentence; empty when
// the tag is sound: keys in ascending (key, recno) order, no duplicate key
// in a tag that refuses them, and the same entries as expected.
std::vector<std::string> checkCdxTag(const CdxFile& file, const CdxTag& tag, char pad,
                                     std::vector<CdxKey> expected);

// Key encodings shared with the key evaluator.
namespace cdx_key {
// 8 bytes: IEEE double made sortable with memcmp (sign bit flipped for
// positives, all bits inverted for negatives, -0 as 0).
void appendDouble(std::string& out, double value);
double readDouble(std::string_view eightBytes);
// 4 bytes: big-endian int32 with the sign bit flipped.
void appendInt32(std::string& out, std::int32_t value);
} // namespace cdx_key

// A key for an error message: printable ASCII as it is, other bytes as \xNN.
std::string printableKey(std::string_view key);

} // namespace qm::xbase
