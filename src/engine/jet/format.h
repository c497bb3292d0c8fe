// Layout constants of the three file generations.
//
//   constant                         Jet 3 (97)   Jet 4 / ACE (2000 ... 365)
//   page size                        2048         4096
//   data page header (row table at)  10           14
//   TDEF fixed block                 43           63
//   column descriptor                18           25
//   real-index statistics entry      8            12
//   real-index definition            39           52
//   logical-index definition         20           28
//   name length prefix               1            2
//   row counts / offsets in a row    1 byte       2 bytes (Jet 3 adds a jump table)
//   text                             code page    UTF-16LE, optionally compressed
//   masked header region             0x18, 126    0x18, 128
//
//   version byte (header 0x14): 0 Jet 3, 1 Jet 4, 2 ACE 12 (2007), 3 ACE 14
//   (2010/2013), 4 ACE 15, 5 ACE 16 (2016, Large Number), 6 ACE 17 (2019,
//   Date/Time Extended).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace qm::jet {

enum class Version : std::uint8_t { Jet3 = 0, Jet4 = 1, Ace12 = 2, Ace14 = 3, Ace15 = 4, Ace16 = 5, Ace17 = 6 };

struct Format {
    Version version = Version::Jet4;
    bool jet3 = false;
    std::uint32_t pageSize = 4096;
    std::size_t dataHeader = 14;     // offset of the row offset table on data pages
    std::size_t tdefHeader = 63;     // start of the variable TDEF sections
    std::size_t columnDesc = 25;
    std::size_t realIndexStat = 12;
    std::size_t realIndexDef = 52;
    std::size_t logicalIndexDef = 28;
    std::size_t nameLengthSize = 2;
    std::size_t maskedLength = 128;  // obfuscated header bytes from 0x18
    std::size_t usageMapRow = 69;

    bool isAce() const { return version >= Version::Ace12; }
    static Format forVersion(Version v);
    const char* versionName() const;
};

// Page types (byte 0 of a page).
enum PageType : std::uint8_t {
    kPageHeader = 0x00,
    kPageData = 0x01,
    kPageTdef = 0x02,
    kPageIndexNode = 0x03,
    kPageIndexLeaf = 0x04,
    kPageUsageMap = 0x05,
};

// Column type codes as stored in a column descriptor.
enum ColumnCode : std::uint8_t {
    kBoolean = 0x01,
    kByte = 0x02,
    kInteger = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDateTime = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kOle = 0x0B,
    kMemo = 0x0C,
    kUnknown0D = 0x0D,
    kGuid = 0x0F,
    kNumeric = 0x10,
    kUnknown11 = 0x11,
    kComplex = 0x12,
    kBigInt = 0x13,
    kExtDateTime = 0x14,
};

// Little-endian readers over raw bytes; callers have checked the bounds.
inline std::uint16_t u16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t u24(const std::uint8_t* p) { return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16); }
inline std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t u64(const std::uint8_t* p) { return std::uint64_t(u32(p)) | (std::uint64_t(u32(p + 4)) << 32); }
inline double f64(const std::uint8_t* p) { double d; std::uint64_t v = u64(p); std::memcpy(&d, &v, 8); return d; }
inline float f32(const std::uint8_t* p) { float f; std::uint32_t v = u32(p); std::memcpy(&f, &v, 4); return f; }

// A row pointer: row number in the low byte, page number in the upper 24 bits.
struct RowPointer {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    static RowPointer decode(const std::uint8_t* p) { return RowPointer{u24(p + 1), p[0]}; }
    bool isNull() const { return page == 0 && row == 0; }
};

} // namespace qm::jet
