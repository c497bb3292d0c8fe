#include "dbf_table.h"

#include "codepage.h"
#include "file_io.h"
#include "journal.h"
#include "memo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <limits>
#include <optional>
#include <unistd.h>

namespace qm::xbase {

namespace {

__extension__ typedef __int128 Int128;

constexpr std::size_t kDescriptor = 32;
constexpr std::size_t kBacklink = 263;
constexpr std::size_t kWriteChunk = 1 << 20;   // records buffered before they go to the file
constexpr std::uint64_t kIndexedChunkMax = std::uint64_t(64) << 20; // the same for a table with a structural index
constexpr std::size_t kMemoChunk = 2 << 20;     // memo bytes buffered before a step goes out
constexpr std::size_t kReadChunk = 256 * 1024; // bytes of records read at once
constexpr std::int32_t kJdnEpoch = 2415019;    // Julian day number of 1899-12-30
constexpr std::int64_t kMsPerDay = 86400000;

std::uint16_t le16(const unsigned char* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t le32(const unsigned char* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}
void putLe16(unsigned char* p, std::uint16_t v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }
void putLe32(unsigned char* p, std::uint32_t v)
{
    p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); p[2] = std::uint8_t(v >> 16); p[3] = std::uint8_t(v >> 24);
}

std::string upperAscii(std::string_view s)
{
    std::string r(s);
    for (auto& c : r)
        if (c >= 'a' && c <= 'z')
            c = char(c - 32);
    return r;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 32);
        if (y >= 'a' && y <= 'z') y = char(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

// Days since 1899-12-30 for a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + 25569; // 25569 = 1970-01-01 serial
}

void civilFromDays(std::int64_t serial, int& y, int& m, int& d)
{
    std::int64_t z = serial - 25569 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool validCivil(int y, int m, int d)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    int dm = days[m - 1] + (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0));
    return d <= dm;
}

// The platform's date serial from a day number and a time of day: for
// days before the epoch the fraction is still "later in the day".
double serialFrom(std::int64_t day, std::int64_t ms)
{
    double frac = double(ms) / double(kMsPerDay);
    return day < 0 ? double(day) - frac : double(day) + frac;
}

// Splits a serial into whole days and milliseconds of the day, rounded to the millisecond.
void splitSerial(double serial, std::int64_t& day, std::int64_t& ms)
{
    double whole = std::trunc(serial);
    double frac = std::fabs(serial - whole);
    day = static_cast<std::int64_t>(whole);
    ms = std::llround(frac * double(kMsPerDay));
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += serial < 0 ? -1 : 1;
    }
}

bool isBlank(const unsigned char* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != ' ' && p[i] != 0)
            return false;
    return true;
}

std::string quoteForMessage(const Value& v)
{
    std::string s;
    try {
        if (v.type() == VarType::Binary)
            s = "(" + std::to_string(v.rawString().size()) + " bytes of binary data)";
        else
            s = "\"" + v.toString() + "\"";
    } catch (...) {
        s = "(a " + std::string(varTypeName(v.type())) + " value)";
    }
    if (s.size() > 80)
        s = s.substr(0, 76) + "...\"";
    return s;
}

// Exact decimal text -> mantissa/scale.  Accepts spaces around, a sign, a
// point or comma, and (for F fields) an exponent via Decimal::parse.
bool parseNumeric(const unsigned char* p, std::size_t n, Decimal& out)
{
    std::size_t b = 0, e = n;
    while (b < e && (p[b] == ' ' || p[b] == 0))
        ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0))
        --e;
    if (b == e)
        return false;
    bool neg = false;
    std::size_t i = b;
    if (p[i] == '-' || p[i] == '+') {
        neg = p[i] == '-';
        ++i;
    }
    Int128 mant = 0;
    int scale = 0, digits = 0;
    bool point = false, any = false;
    for (; i < e; ++i) {
        unsigned char c = p[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (mant != 0 || c != '0')
                ++digits;
            if (digits > 28)
                return false;
            mant = mant * 10 + (c - '0');
            if (point)
                ++scale;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (i != e || !any) {
        auto d = Decimal::parse(std::string_view(reinterpret_cast<const char*>(p + b), e - b));
        if (!d)
            return false;
        out = *d;
        return true;
    }
    out.mantissa = neg ? -mant : mant;
    out.scale = static_cast<std::uint8_t>(scale);
    return true;
}

// Formats mantissa/scale into exactly `decimals` digits after the point,
// rounding half away from zero.  Returns false when it needs more than width.
bool formatNumeric(Decimal d, int width, int decimals, char* out)
{
    Int128 m = d.mantissa;
    int scale = d.scale;
    bool neg = m < 0;
    if (neg)
        m = -m;
    while (scale > decimals) {
        // Half away from zero, decided on the first dropped digit only when
        // it is the last one dropped.
        Int128 rem = m % 10;
        m /= 10;
        --scale;
        if (scale == decimals && rem >= 5)
            ++m;
    }
    while (scale < decimals) {
        if (m > (Int128(1) << 120))
            return false;
        m *= 10;
        ++scale;
    }
    char digits[64];
    int nd = 0;
    // 128-bit division is slow: switch to 64 bits as soon as the value fits.
    while (m > Int128(0xFFFFFFFFFFFFFFFFull) && nd < 60) {
        digits[nd++] = char('0' + int(m % 10));
        m /= 10;
    }
    std::uint64_t small = static_cast<std::uint64_t>(m);
    do {
        digits[nd++] = char('0' + int(small % 10));
        small /= 10;
    } while (small != 0 && nd < 60);
    while (nd <= decimals)
        digits[nd++] = '0';
    if (nd == 0 || (nd == decimals + 1 && false))
        digits[nd++] = '0';
    bool zero = true;
    for (int k = 0; k < nd; ++k)
        if (digits[k] != '0')
            zero = false;
    if (zero)
        neg = false;
    char text[80];
    int t = 0;
    if (neg)
        text[t++] = '-';
    for (int k = nd - 1; k >= 0; --k) {
        if (k == decimals - 1)
            text[t++] = '.';
        text[t++] = digits[k];
    }
    if (t > width)
        return false;
    std::memset(out, ' ', static_cast<std::size_t>(width - t));
    std::memcpy(out + (width - t), text, static_cast<std::size_t>(t));
    return true;
}

bool typeKnown(char t)
{
    return std::strchr("CVQNFIBYDTLMGWP0", t) != nullptr && t != 0;
}

} // namespace

bool DbfField::binary() const
{
    switch (type) {
    case 'Q': case 'G': case 'W': case 'P': return true;
    case 'B': return memoPointerIsText;
    case 'C': case 'V': case 'M': return (flags & field_flag::kBinary) != 0;
    default: return false;
    }
}

std::string companionPath(const std::string& dbfPath, std::string_view extension)
{
    std::string dir = directoryOf(dbfPath);
    std::string name = fileNameOf(dbfPath);
    auto dot = name.find_last_of('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext(extension);
    if (DIR* d = ::opendir(dir.empty() ? "." : dir.c_str())) {
        std::string found;
        while (dirent* ent = ::readdir(d)) {
            std::string n = ent->d_name;
            if (n.size() == stem.size() + ext.size() && n.compare(0, stem.size(), stem) == 0 &&
                equalsIgnoreCase(std::string_view(n).substr(stem.size()), ext)) {
                found = n;
                if (n.compare(stem.size(), std::string::npos, ext) == 0)
                    break; // exact case wins
            }
        }
        ::closedir(d);
        if (!found.empty())
            return dir + found;
    }
    // New file: the extension in the case the .dbf's own extension has.
    bool upper = dot != std::string::npos && name.size() > dot + 1 && std::isupper(static_cast<unsigned char>(name[dot + 1]));
    return dir + stem + (upper ? upperAscii(ext) : ext);
}

// ---------------------------------------------------------------------------

struct DbfTable::Impl {
    std::string path;
    std::string name; // for messages: the file name without its folder
    Mode mode = Mode::ReadOnly;
    File file;
    DbfHeader header;
    TableFormat format = TableFormat::VisualFoxPro;
    std::vector<DbfField> fields;
    std::optional<DbfField> nullFlags;
    std::string rawHeader;
    std::unique_ptr<MemoFile> memo;
    const CodePage* cp = nullptr;
    std::uint64_t fileSize = 0;
    std::uint32_t committedCount = 0; // records that are in the file

    // Write state.
    std::unique_ptr<Journal> ownJournal;
    Journal* journal = nullptr;
    bool locked = false;
    std::string pendingRecords;             // appended records not yet in the file
    std::uint32_t pendingFirst = 0;         // record number of the first pending record
    std::map<std::uint64_t, std::string> patches; // in-place rewrites (offset -> bytes)
    bool headerDirty = false;
    bool truncateTail = false;
    std::vector<TableListener*> listeners;
    // Scratch for encoding one row.
    std::string scratch;
    std::string textScratch;
    struct MemoOut { std::size_t field; std::string data; std::uint32_t type; };
    std::vector<MemoOut> memoScratch; // entries reused from row to row
    std::size_t memoCount = 0;         // entries of memoScratch used by the current row
    std::vector<std::int32_t> autoScratch;

    bool isVfp() const { return format == TableFormat::VisualFoxPro; }
    std::uint64_t dataStart() const { return header.headerLength; }
    std::uint64_t recordOffset(std::uint32_t recno) const
    {
        return dataStart() + std::uint64_t(recno - 1) * header.recordLength;
    }

    Error damaged(const std::string& what) const { return Error("The table \"" + path + "\" is damaged: " + what + "."); }

    void decodeText(std::string_view bytes, std::string& out, const DbfField& f, std::uint32_t recno) const
    {
        if (cp->decode(bytes, out))
            return;
        char mark[8];
        std::snprintf(mark, sizeof mark, "0x%02X", header.codePageMark);
        std::string shown; // the bytes that could not be read, up to 16
        for (std::size_t i = 0, n = 0; i < bytes.size() && n < 16; ++i) {
            if (static_cast<unsigned char>(bytes[i]) < 0x80)
                continue;
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned char>(bytes[i]));
            shown += hex;
            ++n;
        }
        throw Error("The table \"" + path + "\" holds text in code page " +
                    (cp->number() ? std::to_string(cp->number()) : std::string("(unknown)")) + " (mark " + mark +
                    "), which this program cannot convert (record " + std::to_string(recno) + ", field " + f.name +
                    ", bytes" + shown + ").");
    }

    void parseHeader();
    void openMemo(bool writable);
    void decode(const unsigned char* rec, std::size_t fieldIndex, Value& out, std::uint32_t recno) const;
    void encodeRow(std::span<const Value> values, std::uint32_t recno, std::vector<std::int32_t>& autoNext);
    void encodeOne(const DbfField& f, const Value& v, unsigned char* rec, std::uint32_t recno, std::int32_t* autoNext);
    [[noreturn]] void refuse(const DbfField& f, const Value& v, std::uint32_t recno, const std::string& why) const;
    void blankField(const DbfField& f, unsigned char* rec) const;
    void setBit(unsigned char* rec, int bit, bool on) const
    {
        unsigned char& b = rec[nullFlags->offset + bit / 8];
        if (on)
            b = static_cast<unsigned char>(b | (1u << (bit % 8)));
        else
            b = static_cast<unsigned char>(b & ~(1u << (bit % 8)));
    }
    bool bit(const unsigned char* rec, int bit) const { return (rec[nullFlags->offset + bit / 8] >> (bit % 8)) & 1; }

    void writeMemoPointer(const DbfField& f, unsigned char* rec, std::uint32_t block) const
    {
        unsigned char* p = rec + f.offset;
        if (f.memoPointerIsText) {
            std::memset(p, ' ', f.length);
            if (block != 0) {
                std::string s = std::to_string(block);
                std::memcpy(p + f.length - s.size(), s.data(), s.size());
            }
        } else {
            putLe32(p, block);
        }
    }
    std::uint32_t memoPointer(const DbfField& f, const unsigned char* rec, std::uint32_t recno) const
    {
        const unsigned char* p = rec + f.offset;
        if (!f.memoPointerIsText)
            return le32(p);
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < f.length; ++i) {
            unsigned char c = p[i];
            if (c >= '0' && c <= '9')
                v = v * 10 + (c - '0');
            else if (c != ' ' && c != 0)
                throw damaged("record " + std::to_string(recno) + " field " + f.name + " holds the memo pointer \"" +
                              std::string(reinterpret_cast<const char*>(p), f.length) + "\"");
            if (v > 0xFFFFFFFFull)
                throw damaged("record " + std::to_string(recno) + " field " + f.name + " points past any memo file");
        }
        return static_cast<std::uint32_t>(v);
    }

    // Transactions.
    void beginOwn();
    void beginShared(Journal& j);
    void startWrite();
    void flush();
    void flushIfFull();
    void commit();
    void rollback();
    void reload();
    void touchDate();

    DbfTable* self = nullptr; // for the listeners
    bool flushing = false;    // the listeners are at work inside flush()
};

void DbfTable::Impl::parseHeader()
{
    fileSize = file.size();
    unsigned char h[32];
    if (fileSize < 32)
        throw Error("\"" + path + "\" is not a table: the file is " + std::to_string(fileSize) +
                    " bytes long, shorter than a table header.");
    file.readExact(0, h, 32, "the table header");
    header.version = h[0];
    switch (h[0]) {
    case 0x30: case 0x31: case 0x32: format = TableFormat::VisualFoxPro; break;
    case 0xF5: case 0xFB: format = TableFormat::FoxPro2; break;
    case 0x02: case 0x03: case 0x43: case 0x63: case 0x83: format = TableFormat::DBase3; break;
    case 0x8B: case 0xCB: format = TableFormat::DBase4; break;
    case 0x04: case 0x8C:
        throw Error("\"" + path + "\" is a dBase 7 table, which this program cannot read.");
    default: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", h[0]);
        throw Error("\"" + path + "\" is not a table this program can read (unknown version byte " + hex + ").");
    }
    }
    int yy = h[1];
    header.year = yy >= 100 ? 1900 + yy : 2000 + yy;
    {
        std::time_t now = std::time(nullptr);
        std::tm tmNow{};
        localtime_r(&now, &tmNow);
        if (yy < 100 && header.year > tmNow.tm_year + 1900)
            header.year -= 100;
    }
    header.month = h[2];
    header.day = h[3];
    header.recordCount = le32(h + 4);
    header.headerLength = le16(h + 8);
    header.recordLength = le16(h + 10);
    header.flags = h[28];
    header.codePageMark = h[29];
    committedCount = header.recordCount;

    if (header.headerLength < 33)
        throw damaged("its header length " + std::to_string(header.headerLength) + " is too small");
    if (header.headerLength > fileSize)
        throw damaged("its header length " + std::to_string(header.headerLength) + " runs past the end of the file (" +
                      std::to_string(fileSize) + " bytes)");
    if (header.recordLength < 1)
        throw damaged("its record length is 0");
    const std::uint64_t need = std::uint64_t(header.headerLength) + std::uint64_t(header.recordCount) * header.recordLength;
    if (need > fileSize) {
        std::uint64_t whole = (fileSize - header.headerLength) / header.recordLength;
        throw damaged("the header counts " + std::to_string(header.recordCount) + " records of " +
                      std::to_string(header.recordLength) + " bytes, but the file holds only " + std::to_string(whole) +
                      " (it may have been cut short)");
    }

    rawHeader.resize(header.headerLength);
    file.readExact(0, rawHeader.data(), rawHeader.size(), "the table header");
    const auto* raw = reinterpret_cast<const unsigned char*>(rawHeader.data());

    // An unknown mark gives a converter that reads plain ASCII only: text
    // in it is refused rather than guessed.
    cp = &CodePage::get(codePageForMark(header.codePageMark));

    fields.clear();
    nullFlags.reset();
    std::size_t pos = 32;
    std::uint32_t nextOffset = 1;
    std::vector<std::uint32_t> computedOffsets;
    std::vector<bool> descriptorIsNullFlags;
    bool zeroOffset = false;
    bool terminated = false;
    while (pos < header.headerLength) {
        if (raw[pos] == 0x0D) {
            terminated = true;
            break;
        }
        if (pos + kDescriptor > header.headerLength) {
            if (pos + 1 == header.headerLength)
                break;
            throw damaged("the field descriptor at byte " + std::to_string(pos) + " overruns the header (" +
                          std::to_string(header.headerLength) + " bytes)");
        }
        const unsigned char* d = raw + pos;
        DbfField f;
        std::size_t nameLen = 0;
        while (nameLen < 11 && d[nameLen] != 0)
            ++nameLen;
        std::string rawName(reinterpret_cast<const char*>(d), nameLen);
        while (!rawName.empty() && rawName.back() == ' ')
            rawName.pop_back();
        cp->decode(rawName, f.name);
        f.type = static_cast<char>(d[11]);
        f.length = d[16];
        f.decimals = d[17];
        if (isVfp()) {
            f.offset = le32(d + 12);
            f.flags = d[18];
            f.autoIncNext = static_cast<std::int32_t>(le32(d + 19));
            f.autoIncStep = d[23];
        } else {
            f.offset = nextOffset;
        }
        if (f.type >= 'a' && f.type <= 'z')
            f.type = char(f.type - 32);
        if (!typeKnown(f.type)) {
            std::string shown = std::isprint(static_cast<unsigned char>(f.type)) ? std::string(1, f.type)
                                                                                : "code " + std::to_string(int(d[11]));
            throw Error("The table \"" + path + "\" has a field " + (f.name.empty() ? "?" : f.name) +
                        " of the unknown type '" + shown + "'.");
        }
        if (!isVfp() && std::strchr("CNFDLM", f.type) == nullptr &&
            !(f.type == 'B' || f.type == 'G' || f.type == 'P' || f.type == 'I' || f.type == 'Y' || f.type == 'T'))
            throw Error("The table \"" + path + "\" has a field " + f.name + " of type '" + std::string(1, f.type) +
                        "', which its format does not have.");
        if (f.length == 0)
            throw damaged("field " + f.name + " has length 0");
        // Memo-like fields: 4-byte binary pointers in VFP, 10 ASCII digits elsewhere.
        if (f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P' || (f.type == 'B' && !isVfp())) {
            f.memoPointerIsText = !isVfp();
            std::size_t want = isVfp() ? 4 : 10;
            if (f.length != want && !(f.memoPointerIsText && f.length >= 4))
                throw damaged("memo field " + f.name + " has length " + std::to_string(f.length) + " instead of " +
                              std::to_string(want));
        }
        auto fixed = [&](char t, std::size_t n) {
            if (f.type == t && f.length != n)
                throw damaged("field " + f.name + " of type " + std::string(1, t) + " has length " +
                              std::to_string(f.length) + " instead of " + std::to_string(n));
        };
        if (isVfp() || f.type != 'B') {
            fixed('I', 4);
            fixed('Y', 8);
            fixed('T', 8);
            if (isVfp())
                fixed('B', 8);
        }
        fixed('D', 8);
        computedOffsets.push_back(nextOffset);
        descriptorIsNullFlags.push_back(f.type == '0');
        if (f.offset == 0)
            zeroOffset = true;
        nextOffset += f.length;
        if (f.type == '0') {
            nullFlags = f;
        } else {
            fields.push_back(std::move(f));
        }
        pos += kDescriptor;
    }
    // Some writers leave the displacements of a VFP table at 0: the fields
    // then lie one after the other, as in the older formats.
    if (zeroOffset) {
        std::size_t fi = 0;
        for (std::size_t d = 0; d < computedOffsets.size(); ++d) {
            // Descriptor order: user fields with _NullFlags wherever it stood.
            if (nullFlags && descriptorIsNullFlags[d])
                nullFlags->offset = computedOffsets[d];
            else if (fi < fields.size())
                fields[fi++].offset = computedOffsets[d];
        }
    }
    for (const auto& f : fields) {
        if (f.offset == 0 || std::uint64_t(f.offset) + f.length > header.recordLength)
            throw damaged("field " + f.name + " (bytes " + std::to_string(f.offset) + "-" +
                          std::to_string(f.offset + f.length) + ") lies outside the record length " +
                          std::to_string(header.recordLength));
    }
    if (nullFlags && (nullFlags->offset == 0 || std::uint64_t(nullFlags->offset) + nullFlags->length > header.recordLength))
        throw damaged("its _NullFlags field lies outside the record length " + std::to_string(header.recordLength));
    if (isVfp() && terminated && pos + 1 + kBacklink <= header.headerLength) {
        const char* b = rawHeader.data() + pos + 1;
        std::size_t n = 0;
        while (n < kBacklink && b[n] != 0)
            ++n;
        header.backlink.assign(b, n);
    } else {
        header.backlink.clear();
    }

    // _NullFlags bits, in field order: a V/Q field's length bit, then its null bit.
    int nextBit = 0;
    for (auto& f : fields) {
        f.nullBit = f.varLengthBit = -1;
        if (!isVfp())
            continue;
        if (f.type == 'V' || f.type == 'Q')
            f.varLengthBit = nextBit++;
        if (f.flags & field_flag::kNullable)
            f.nullBit = nextBit++;
    }
    if (nextBit > 0 && !nullFlags) {
        // Written by a tool that set the flag bits without the hidden field:
        // there is nowhere to mark a null, so no field is null.
        for (auto& f : fields)
            f.nullBit = f.varLengthBit = -1;
        nextBit = 0;
    }
    if (nextBit > 0) {
        if (nextBit > nullFlags->length * 8)
            throw damaged("its _NullFlags field is too short for its nullable fields");
    }
}

void DbfTable::Impl::openMemo(bool writable)
{
    memo.reset();
    bool needsMemo = std::any_of(fields.begin(), fields.end(), [](const DbfField& f) { return f.isMemo(); });
    if (!needsMemo)
        return;
    std::string ext;
    MemoKind kind = MemoKind::Fpt;
    bool container = (header.flags & table_flag::kContainer) != 0 ||
                     equalsIgnoreCase(std::string_view(path).substr(path.size() >= 4 ? path.size() - 4 : 0), ".dbc");
    switch (format) {
    case TableFormat::VisualFoxPro:
    case TableFormat::FoxPro2: kind = MemoKind::Fpt; ext = container ? ".dct" : ".fpt"; break;
    case TableFormat::DBase3: kind = MemoKind::Dbt3; ext = ".dbt"; break;
    case TableFormat::DBase4: kind = MemoKind::Dbt4; ext = ".dbt"; break;
    }
    std::string mp = companionPath(path, ext);
    if (!fileExists(mp))
        throw Error("The memo file of table \"" + path + "\" is missing: \"" + mp + "\" does not exist.");
    try {
        memo = std::make_unique<MemoFile>(mp, kind, writable);
    } catch (const Error& e) {
        throw Error(std::string(e.what()) + " (the memo file of table \"" + name + "\")");
    }
}

void DbfTable::Impl::decode(const unsigned char* rec, std::size_t index, Value& out, std::uint32_t recno) const
{
    const DbfField& f = fields[index];
    if (f.nullBit >= 0 && bit(rec, f.nullBit)) {
        out.setNull();
        return;
    }
    const unsigned char* p = rec + f.offset;
    auto invalid = [&](const char* what) -> Error {
        std::string shown;
        for (std::size_t i = 0; i < f.length && i < 40; ++i)
            shown.push_back(std::isprint(p[i]) ? char(p[i]) : '?');
        return Error("The table \"" + path + "\" holds an invalid " + what + " in record " + std::to_string(recno) +
                     ", field " + f.name + ": \"" + shown + "\".");
    };
    switch (f.type) {
    case 'C': {
        std::size_t n = f.length;
        while (n > 0 && p[n - 1] == 0)
            --n;
        std::string_view bytes(reinterpret_cast<const char*>(p), n);
        if (f.binary())
            out.setBinary(bytes);
        else
            decodeText(bytes, out.mutableString(VarType::String), f, recno);
        return;
    }
    case 'V':
    case 'Q': {
        std::size_t n = f.length;
        if (f.varLengthBit >= 0 && bit(rec, f.varLengthBit)) {
            n = p[f.length - 1];
            if (n >= f.length)
                throw invalid("varying-length value");
        }
        std::string_view bytes(reinterpret_cast<const char*>(p), n);
        if (f.binary())
            out.setBinary(bytes);
        else
            decodeText(bytes, out.mutableString(VarType::String), f, recno);
        return;
    }
    case 'N':
    case 'F': {
        if (isBlank(p, f.length) || p[0] == '*' || (f.length > 0 && p[f.length - 1] == '*')) {
            out.setNull();
            return;
        }
        Decimal d;
        if (!parseNumeric(p, f.length, d))
            throw invalid("number");
        while (d.scale < f.decimals && d.mantissa < (Int128(1) << 100) && d.mantissa > -(Int128(1) << 100)) {
            d.mantissa *= 10;
            ++d.scale;
        }
        out = Value::decimal(d);
        return;
    }
    case 'I':
        out = Value::longInt(static_cast<std::int32_t>(le32(p)));
        return;
    case 'B': {
        if (f.memoPointerIsText)
            break; // dBase binary memo
        double v;
        std::memcpy(&v, p, 8);
        out = Value::dbl(v);
        return;
    }
    case 'Y': {
        std::int64_t v;
        std::memcpy(&v, p, 8);
        out = Value::currency(v);
        return;
    }
    case 'D': {
        if (isBlank(p, 8) || std::memcmp(p, "00000000", 8) == 0) {
            out.setNull();
            return;
        }
        int y = 0, m = 0, d = 0;
        for (int i = 0; i < 8; ++i) {
            // Leading spaces are tolerated ("  960704" written by some tools is not a date).
            if (p[i] < '0' || p[i] > '9')
                throw invalid("date");
        }
        y = (p[0] - '0') * 1000 + (p[1] - '0') * 100 + (p[2] - '0') * 10 + (p[3] - '0');
        m = (p[4] - '0') * 10 + (p[5] - '0');
        d = (p[6] - '0') * 10 + (p[7] - '0');
        if (!validCivil(y, m, d))
            throw invalid("date");
        out = Value::date(double(daysFromCivil(y, unsigned(m), unsigned(d))));
        return;
    }
    case 'T': {
        if (isBlank(p, 8)) {
            out.setNull();
            return;
        }
        std::int32_t jdn = static_cast<std::int32_t>(le32(p));
        std::int64_t ms = static_cast<std::int32_t>(le32(p + 4));
        if (jdn == 0) {
            out.setNull();
            return;
        }
        if (ms < 0 || ms > kMsPerDay || jdn < 1721426 || jdn > 5373484)
            throw invalid("date-time");
        // DateTime has one-second resolution; stored values carry artefacts like .999.
        ms = (ms + 500) / 1000 * 1000;
        std::int64_t day = std::int64_t(jdn) - kJdnEpoch;
        if (ms >= kMsPerDay) {
            ms -= kMsPerDay;
            ++day;
        }
        out = Value::date(serialFrom(day, ms));
        return;
    }
    case 'L':
        switch (p[0]) {
        case 'T': case 't': case 'Y': case 'y': out = Value::boolean(true); return;
        case 'F': case 'f': case 'N': case 'n': out = Value::boolean(false); return;
        default: out.setNull(); return;
        }
    default:
        break;
    }
    // Memo-like fields.
    std::uint32_t block = memoPointer(f, rec, recno);
    if (!memo) {
        if (block == 0) {
            if (f.binary())
                out.setBinary({});
            else
                out.setString({});
            return;
        }
        throw Error("The table \"" + path + "\" has no memo file for field " + f.name + ".");
    }
    std::string& target = out.mutableString(f.binary() ? VarType::Binary : VarType::String);
    if (f.binary()) {
        try {
            memo->read(block, target);
        } catch (const Error& e) {
            throw Error(std::string(e.what()) + " (table \"" + name + "\", record " + std::to_string(recno) + ", field " + f.name + ")");
        }
        return;
    }
    std::string bytes;
    try {
        memo->read(block, bytes);
    } catch (const Error& e) {
        throw Error(std::string(e.what()) + " (table \"" + name + "\", record " + std::to_string(recno) + ", field " + f.name + ")");
    }
    decodeText(bytes, target, f, recno);
}

void DbfTable::Impl::refuse(const DbfField& f, const Value& v, std::uint32_t recno, const std::string& why) const
{
    throw Error("Cannot store the value " + quoteForMessage(v) + " in field " + f.name + " of table \"" + name +
                "\" (row " + std::to_string(recno) + "): " + why + ".");
}

void DbfTable::Impl::blankField(const DbfField& f, unsigned char* rec) const
{
    unsigned char* p = rec + f.offset;
    switch (f.type) {
    case 'I': case 'Y': case 'T': std::memset(p, 0, f.length); break;
    case 'B': std::memset(p, f.memoPointerIsText ? ' ' : 0, f.length); break;
    case 'M': case 'G': case 'W': case 'P': std::memset(p, f.memoPointerIsText ? ' ' : 0, f.length); break;
    case 'V': case 'Q':
        std::memset(p, 0, f.length);
        if (f.varLengthBit >= 0)
            setBit(rec, f.varLengthBit, true);
        break;
    default: std::memset(p, ' ', f.length); break;
    }
}

void DbfTable::Impl::encodeOne(const DbfField& f, const Value& v, unsigned char* rec, std::uint32_t recno,
                               std::int32_t* autoNext)
{
    unsigned char* p = rec + f.offset;
    if (f.nullBit >= 0)
        setBit(rec, f.nullBit, false);
    if (f.varLengthBit >= 0)
        setBit(rec, f.varLengthBit, false);

    if (v.isEmpty() && f.autoIncrement() && autoNext) {
        putLe32(p, static_cast<std::uint32_t>(*autoNext));
        std::int64_t next = std::int64_t(*autoNext) + (f.autoIncStep ? f.autoIncStep : 1);
        if (next > std::numeric_limits<std::int32_t>::max())
            refuse(f, v, recno, "the autoincrement counter has reached its end");
        *autoNext = static_cast<std::int32_t>(next);
        return;
    }
    if (v.isNull() || v.isEmpty()) {
        blankField(f, rec);
        if (f.nullBit >= 0) {
            setBit(rec, f.nullBit, true);
            return;
        }
        if (v.isNull() && isVfp())
            refuse(f, v, recno, "the field does not accept Null");
        return;
    }
    try {
        switch (f.type) {
        case 'C':
        case 'V':
        case 'Q': {
            std::string_view bytes;
            if (v.type() == VarType::Binary) {
                bytes = v.rawString();
            } else if (f.binary()) {
                textScratch = v.type() == VarType::String ? v.rawString() : v.toString();
                bytes = textScratch;
            } else {
                const std::string* text = &v.rawString();
                std::string converted;
                if (v.type() != VarType::String) {
                    converted = v.toString();
                    text = &converted;
                }
                std::string badChar;
                if (!cp->encode(*text, textScratch, &badChar))
                    refuse(f, v, recno, "the character \"" + badChar + "\" does not exist in code page " +
                                            std::to_string(cp->number()));
                bytes = textScratch;
            }
            if (f.type == 'C') {
                // Trailing spaces are padding in a fixed-width field.
                std::size_t n = bytes.size();
                while (n > f.length && bytes[n - 1] == ' ')
                    --n;
                if (n > f.length)
                    refuse(f, v, recno, "it is " + std::to_string(n) + " bytes long and the field holds " +
                                            std::to_string(f.length));
                std::memcpy(p, bytes.data(), n);
                std::memset(p + n, ' ', f.length - n);
            } else {
                if (bytes.size() > f.length)
                    refuse(f, v, recno, "it is " + std::to_string(bytes.size()) + " bytes long and the field holds " +
                                            std::to_string(f.length));
                std::memset(p, 0, f.length);
                std::memcpy(p, bytes.data(), bytes.size());
                if (bytes.size() < f.length) {
                    p[f.length - 1] = static_cast<unsigned char>(bytes.size());
                    if (f.varLengthBit >= 0)
                        setBit(rec, f.varLengthBit, true);
                }
            }
            return;
        }
        case 'N':
        case 'F': {
            Decimal d;
            switch (v.type()) {
            case VarType::Decimal: d = v.rawDecimal(); break;
            case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::BigInt:
                d = Decimal::fromInt(v.rawInt());
                break;
            case VarType::Boolean: d = Decimal::fromInt(v.rawInt() ? 1 : 0); break;
            case VarType::Currency: d = Decimal{v.rawInt(), 4}; break;
            case VarType::Single:
            case VarType::Double: {
                double x = v.rawDouble();
                if (!std::isfinite(x))
                    refuse(f, v, recno, "it is not a finite number");
                char buf[400];
                std::snprintf(buf, sizeof buf, "%.*f", int(f.decimals), x);
                auto parsed = Decimal::parse(buf);
                if (!parsed)
                    refuse(f, v, recno, "it does not fit N(" + std::to_string(f.length) + "," + std::to_string(f.decimals) + ")");
                d = *parsed;
                break;
            }
            default: {
                auto parsed = Decimal::parse(v.toString());
                if (!parsed)
                    refuse(f, v, recno, "it is not a number");
                d = *parsed;
            }
            }
            if (!formatNumeric(d, f.length, f.decimals, reinterpret_cast<char*>(p)))
                refuse(f, v, recno, "it needs more than the field's " + std::to_string(f.length) + " characters");
            return;
        }
        case 'I': {
            std::int64_t x = v.type() == VarType::Long || v.type() == VarType::Integer || v.type() == VarType::Byte ||
                                     v.type() == VarType::BigInt
                                 ? v.rawInt()
                                 : v.toInt64();
            if (x < -2147483647LL || x > 2147483647LL)
                refuse(f, v, recno, "it lies outside the Integer range");
            putLe32(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(x)));
            if (f.autoIncrement() && autoNext) {
                std::int64_t next = x + (f.autoIncStep ? f.autoIncStep : 1);
                if (next > *autoNext && next <= std::numeric_limits<std::int32_t>::max())
                    *autoNext = static_cast<std::int32_t>(next);
            }
            return;
        }
        case 'B': {
            double x = v.toDouble();
            std::memcpy(p, &x, 8);
            return;
        }
        case 'Y': {
            std::int64_t x = v.toCurrency();
            std::memcpy(p, &x, 8);
            return;
        }
        case 'D':
        case 'T': {
            double serial = v.type() == VarType::Date ? v.rawDouble() : v.toDate();
            std::int64_t day, ms;
            splitSerial(serial, day, ms);
            if (f.type == 'T') {
                ms = (ms + 500) / 1000 * 1000;
                if (ms >= kMsPerDay) {
                    ms -= kMsPerDay;
                    ++day;
                }
            }
            if (f.type == 'D' && ms != 0)
                refuse(f, v, recno, "the field holds dates without a time of day, and the time would be lost");
            int y, m, d;
            civilFromDays(day, y, m, d);
            if (y < 1 || y > 9999)
                refuse(f, v, recno, "the date lies outside the years 1 to 9999");
            if (f.type == 'D') {
                p[0] = static_cast<unsigned char>('0' + y / 1000);
                p[1] = static_cast<unsigned char>('0' + y / 100 % 10);
                p[2] = static_cast<unsigned char>('0' + y / 10 % 10);
                p[3] = static_cast<unsigned char>('0' + y % 10);
                p[4] = static_cast<unsigned char>('0' + m / 10);
                p[5] = static_cast<unsigned char>('0' + m % 10);
                p[6] = static_cast<unsigned char>('0' + d / 10);
                p[7] = static_cast<unsigned char>('0' + d % 10);
            } else {
                putLe32(p, static_cast<std::uint32_t>(day + kJdnEpoch));
                putLe32(p + 4, static_cast<std::uint32_t>(ms));
            }
            return;
        }
        case 'L':
            p[0] = v.toBool() ? 'T' : 'F';
            return;
        default:
            break;
        }
    } catch (const OverflowError&) {
        refuse(f, v, recno, "it is out of the field's range");
    } catch (const Error& e) {
        if (std::string_view(e.what()).rfind("Cannot store", 0) == 0)
            throw;
        refuse(f, v, recno, e.what());
    }
    // Memo-like fields: the data goes to the memo file once the whole row is accepted.
    if (memoScratch.size() <= memoCount)
        memoScratch.emplace_back();
    MemoOut& m = memoScratch[memoCount];
    m.field = static_cast<std::size_t>(&f - fields.data());
    m.type = f.type == 'G' ? 2 : (f.type == 'M' ? 1 : 0);
    if (v.type() == VarType::Binary || f.binary()) {
        if (v.type() == VarType::Binary || v.type() == VarType::String)
            m.data.assign(v.rawString());
        else
            m.data = v.toString();
    } else {
        std::string text = v.type() == VarType::String ? std::string() : v.toString();
        std::string badChar;
        if (!cp->encode(v.type() == VarType::String ? v.rawString() : text, m.data, &badChar))
            refuse(f, v, recno, "the character \"" + badChar + "\" does not exist in code page " +
                                    std::to_string(cp->number()));
    }
    if (format == TableFormat::DBase3 && m.data.find('\x1A') != std::string::npos)
        refuse(f, v, recno, "a dBase III memo cannot hold the character 0x1A");
    if (m.data.size() > 0x7FFFFFF0u)
        refuse(f, v, recno, "it is longer than a memo can be");
    blankField(f, rec);
    ++memoCount;
}

void DbfTable::Impl::encodeRow(std::span<const Value> values, std::uint32_t recno, std::vector<std::int32_t>& autoNext)
{
    if (values.size() > fields.size())
        throw Error("Cannot store a row of " + std::to_string(values.size()) + " values in table \"" + name +
                    "\", which has " + std::to_string(fields.size()) + " fields.");
    scratch.assign(header.recordLength, '\0');
    auto* rec = reinterpret_cast<unsigned char*>(scratch.data());
    rec[0] = ' ';
    memoCount = 0;
    autoNext.resize(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        autoNext[i] = fields[i].autoIncNext;
        const Value empty;
        encodeOne(fields[i], i < values.size() ? values[i] : empty, rec, recno, &autoNext[i]);
    }
}

// ---- transactions ---------------------------------------------------------

void DbfTable::Impl::startWrite()
{
    if (mode != Mode::ReadWrite)
        throw Error("The table \"" + path + "\" is open for reading only.");
    file.lockExclusive();
    locked = true;
    // Another process may have changed the table since we read the header.
    try {
        reload();
    } catch (...) {
        file.unlock();
        locked = false;
        throw;
    }
    if (memo)
        memo->setJournal(journal);
}

void DbfTable::Impl::beginOwn()
{
    if (journal)
        throw Error("A write to table \"" + path + "\" is already in progress.");
    if (mode != Mode::ReadWrite)
        throw Error("The table \"" + path + "\" is open for reading only.");
    file.lockExclusive();
    locked = true;
    try {
        // A journal left by a process that died: undo its work first.
        Journal::recover(Journal::pathFor(path));
        ownJournal = std::make_unique<Journal>(Journal::pathFor(path), Journal::Kind::Undo);
        journal = ownJournal.get();
        // Another process may have changed the table since we read the header.
        reload();
        journal->protectFile(path);
        if (memo) {
            journal->protectFile(memo->path());
            memo->setJournal(journal);
        }
    } catch (...) {
        if (ownJournal) {
            try {
                ownJournal->rollback();
            } catch (...) {
            }
            ownJournal.reset();
        }
        journal = nullptr;
        file.unlock();
        locked = false;
        throw;
    }
}

void DbfTable::Impl::beginShared(Journal& j)
{
    if (journal)
        throw Error("A write to table \"" + path + "\" is already in progress.");
    journal = &j;
    try {
        startWrite();
    } catch (...) {
        journal = nullptr;
        throw;
    }
    journal->protectFile(path);
    if (memo)
        journal->protectFile(memo->path());
}

void DbfTable::Impl::touchDate()
{
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    header.year = t.tm_year + 1900;
    header.month = t.tm_mon + 1;
    header.day = t.tm_mday;
    auto* h = reinterpret_cast<unsigned char*>(rawHeader.data());
    h[1] = static_cast<unsigned char>(isVfp() ? t.tm_year % 100 : t.tm_year);
    h[2] = static_cast<unsigned char>(header.month);
    h[3] = static_cast<unsigned char>(header.day);
}

void DbfTable::Impl::flush()
{
    if (!journal || flushing)
        return;
    // What another program sees stays whole at every step: memo blocks and
    // the memo file's next free block first (records never point at memo
    // data that is not there), then the records, then what the listeners
    // derive from them (the structural index), and last the header's
    // record count, which makes the step visible to readers that go by it.
    if (memo)
        memo->flush(journal);
    if (!pendingRecords.empty() || headerDirty || !patches.empty()) {
        auto* h = reinterpret_cast<unsigned char*>(rawHeader.data());
        putLe32(h + 4, header.recordCount);
        touchDate();
        // Autoincrement counters live in the field descriptors.
        if (isVfp()) {
            std::size_t pos = 32;
            for (const auto& f : fields) {
                while (pos + kDescriptor <= rawHeader.size() && h[pos + 11] == '0')
                    pos += kDescriptor;
                if (pos + kDescriptor > rawHeader.size())
                    break;
                if (f.autoIncrement())
                    putLe32(h + pos + 19, static_cast<std::uint32_t>(f.autoIncNext));
                pos += kDescriptor;
            }
        }
        const std::uint64_t newEnd = recordOffset(header.recordCount + 1);
        journal->protectRange(path, 0, header.headerLength);
        for (const auto& [offset, bytes] : patches)
            journal->protectRange(path, offset, static_cast<std::uint32_t>(bytes.size()));
        if (!pendingRecords.empty())
            journal->protectRange(path, recordOffset(pendingFirst),
                                  static_cast<std::uint32_t>(std::min<std::uint64_t>(pendingRecords.size() + 1, 0xFFFFFFFFu)));
        // Anything after the end-of-file mark is cut away; keep it for an undo.
        std::uint64_t size = file.size();
        if (size > newEnd + 1)
            journal->protectRange(path, newEnd, static_cast<std::uint32_t>(std::min<std::uint64_t>(size - newEnd, 0xFFFFFFFFu)));
        else
            journal->protectRange(path, newEnd, 1);
        journal->sync();

        if (!pendingRecords.empty()) {
            // The records and the end-of-file mark in one write.
            pendingRecords.push_back('\x1A');
            file.writeAt(recordOffset(pendingFirst), pendingRecords);
            pendingRecords.clear();
        } else {
            const char eof = 0x1A;
            file.writeAt(newEnd, &eof, 1);
        }
        for (const auto& [offset, bytes] : patches)
            file.writeAt(offset, bytes);
        patches.clear();
        if (size > newEnd + 1)
            file.truncate(newEnd + 1);
        fileSize = newEnd + 1;
        committedCount = header.recordCount;
        pendingFirst = committedCount + 1;
        if (self && !listeners.empty()) {
            // The listeners read the records back (through reader()): they
            // are in the file now, and the header waits for them.
            flushing = true;
            try {
                for (auto* l : listeners)
                    l->beforeCommit(*self);
            } catch (...) {
                flushing = false;
                throw;
            }
            flushing = false;
        }
        file.writeAt(0, rawHeader);
        headerDirty = false;
    }
}

// A step of a long write goes out once enough is buffered.  A table with a
// structural index rebuilds it at every step, so its steps grow with the
// table (up to a bound on the memory they hold): the total work stays a
// small multiple of one rebuild.
void DbfTable::Impl::flushIfFull()
{
    std::size_t limit = kWriteChunk;
    if (!listeners.empty())
        limit = static_cast<std::size_t>(std::clamp<std::uint64_t>(std::uint64_t(committedCount) * header.recordLength,
                                                                   kWriteChunk, kIndexedChunkMax));
    if (pendingRecords.size() >= limit || (memo && memo->pendingBytes() >= std::max(kMemoChunk, limit)))
        flush();
}

void DbfTable::Impl::commit()
{
    if (!journal)
        return;
    flush();
    if (ownJournal) {
        ownJournal->commit();
        ownJournal.reset();
    }
    journal = nullptr;
    if (memo)
        memo->setJournal(nullptr);
    if (locked) {
        file.unlock();
        locked = false;
    }
}

void DbfTable::Impl::rollback()
{
    pendingRecords.clear();
    patches.clear();
    headerDirty = false;
    if (memo) {
        memo->setJournal(nullptr);
    }
    if (ownJournal) {
        ownJournal->rollback();
        ownJournal.reset();
    }
    journal = nullptr;
    reload();
    if (locked) {
        file.unlock();
        locked = false;
    }
}

void DbfTable::Impl::reload()
{
    pendingRecords.clear();
    patches.clear();
    headerDirty = false;
    parseHeader();
    pendingFirst = committedCount + 1;
    openMemo(mode == Mode::ReadWrite);
}

// ---- DbfTable ---------------------------------------------------------------

DbfTable::DbfTable(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) { impl_->self = this; }

DbfTable::~DbfTable()
{
    if (impl_ && impl_->journal) {
        try {
            if (impl_->ownJournal)
                impl_->rollback();
        } catch (...) {
        }
    }
}

namespace {
std::string absolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char buf[4096];
    if (::getcwd(buf, sizeof buf))
        return std::string(buf) + "/" + path;
    return path;
}
} // namespace

std::unique_ptr<DbfTable> DbfTable::open(const std::string& path, Mode mode)
{
    auto impl = std::make_unique<Impl>();
    impl->path = absolutePath(path);
    impl->name = fileNameOf(path);
    impl->mode = mode;
    if (!fileExists(impl->path)) {
        // A drop or rename interrupted half way is finished first.
        if (fileExists(Journal::pathFor(impl->path)))
            Journal::recover(Journal::pathFor(impl->path));
        if (!fileExists(impl->path))
            throw Error("The table \"" + path + "\" does not exist.");
    }
    impl->file = File(impl->path, mode == Mode::ReadWrite ? File::Access::ReadWrite : File::Access::Read);
    const std::string jp = Journal::pathFor(impl->path);
    if (fileExists(jp)) {
        // An interrupted write: roll it back unless its writer is still at work.
        bool free = true;
        try {
            impl->file.lockExclusive();
        } catch (const Error&) {
            free = false;
        }
        if (free) {
            try {
                Journal::recover(jp);
            } catch (const Error&) {
                impl->file.unlock();
                if (mode == Mode::ReadWrite)
                    throw;
            }
            impl->file.unlock();
        }
    }
    impl->parseHeader();
    impl->pendingFirst = impl->committedCount + 1;
    impl->openMemo(mode == Mode::ReadWrite);
    return std::unique_ptr<DbfTable>(new DbfTable(std::move(impl)));
}

const std::string& DbfTable::path() const { return impl_->path; }
std::string DbfTable::memoPath() const { return impl_->memo ? impl_->memo->path() : std::string(); }
const DbfHeader& DbfTable::header() const { return impl_->header; }
TableFormat DbfTable::format() const { return impl_->format; }
const std::vector<DbfField>& DbfTable::fields() const { return impl_->fields; }
const DbfField* DbfTable::nullFlagsField() const { return impl_->nullFlags ? &*impl_->nullFlags : nullptr; }
int DbfTable::codePage() const { return impl_->cp->number(); }
std::uint16_t DbfTable::memoBlockSize() const
{
    return impl_->memo ? static_cast<std::uint16_t>(std::min<std::uint32_t>(impl_->memo->blockSize(), 65535)) : 0;
}

int DbfTable::fieldIndex(std::string_view name) const
{
    for (std::size_t i = 0; i < impl_->fields.size(); ++i)
        if (equalsIgnoreCase(impl_->fields[i].name, name))
            return static_cast<int>(i);
    return -1;
}

namespace {

class ReaderImpl final : public DbfTable::Reader {
public:
    ReaderImpl(const DbfTable::Impl& t, bool includeDeleted)
        : t_(t), includeDeleted_(includeDeleted), count_(t.committedCount), recLen_(t.header.recordLength)
    {
        perChunk_ = std::max<std::size_t>(1, kReadChunk / recLen_);
        buffer_.resize(perChunk_ * recLen_);
    }

    bool next() override
    {
        for (;;) {
            if (recno_ >= count_)
                return false;
            ++recno_;
            if (recno_ > chunkFirst_ + chunkCount_ - 1 || chunkCount_ == 0) {
                chunkFirst_ = recno_;
                chunkCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(perChunk_, count_ - recno_ + 1));
                std::size_t bytes = std::size_t(chunkCount_) * recLen_;
                t_.file.readExact(t_.recordOffset(chunkFirst_), buffer_.data(), bytes, "the records");
            }
            current_ = reinterpret_cast<const unsigned char*>(buffer_.data()) + std::size_t(recno_ - chunkFirst_) * recLen_;
            if (includeDeleted_ || current_[0] != '*')
                return true;
        }
    }
    std::uint32_t recno() const override { return recno_; }
    bool deleted() const override { return current_ && current_[0] == '*'; }
    std::span<const std::uint8_t> raw() const override { return {current_, recLen_}; }
    void decode(std::size_t field, Value& out) override
    {
        if (field >= t_.fields.size())
            throw Error("Field index " + std::to_string(field) + " is out of range for table \"" + t_.path + "\".");
        t_.decode(current_, field, out, recno_);
    }

private:
    const DbfTable::Impl& t_;
    bool includeDeleted_;
    std::uint32_t count_;
    std::size_t recLen_;
    std::size_t perChunk_;
    std::string buffer_;
    std::uint32_t recno_ = 0;
    std::uint32_t chunkFirst_ = 0;
    std::uint32_t chunkCount_ = 0;
    const unsigned char* current_ = nullptr;
};

} // namespace

std::unique_ptr<DbfTable::Reader> DbfTable::reader(bool includeDeleted) const
{
    impl_->flush();
    return std::make_unique<ReaderImpl>(*impl_, includeDeleted);
}

void DbfTable::readRecord(std::uint32_t recno, std::string& raw) const
{
    if (recno < 1 || recno > impl_->header.recordCount)
        throw Error("The table \"" + impl_->path + "\" has no record " + std::to_string(recno) + ".");
    // Read from what is buffered: a read does not make the table write.
    const Impl& t = *impl_;
    if (!t.pendingRecords.empty() && recno >= t.pendingFirst) {
        raw.assign(t.pendingRecords, std::size_t(recno - t.pendingFirst) * t.header.recordLength, t.header.recordLength);
        return;
    }
    raw.resize(t.header.recordLength);
    t.file.readExact(t.recordOffset(recno), raw.data(), raw.size(), "a record");
    auto patch = t.patches.find(t.recordOffset(recno));
    if (patch != t.patches.end())
        raw.replace(0, patch->second.size(), patch->second);
}

void DbfTable::decodeField(std::span<const std::uint8_t> raw, std::size_t field, Value& out) const
{
    if (raw.size() < impl_->header.recordLength || field >= impl_->fields.size())
        throw Error("A record of table \"" + impl_->path + "\" was given with the wrong length or field number.");
    impl_->decode(raw.data(), field, out, 0);
}

std::uint64_t DbfTable::liveRecordCount() const
{
    auto r = reader(false);
    std::uint64_t n = 0;
    while (r->next())
        ++n;
    return n;
}

std::string DbfTable::readMemo(std::uint32_t block) const
{
    if (!impl_->memo)
        throw Error("The table \"" + impl_->path + "\" has no memo file.");
    impl_->flush();
    std::string out;
    impl_->memo->read(block, out);
    return out;
}

void DbfTable::begin() { impl_->beginOwn(); }
void DbfTable::begin(Journal& sharedJournal) { impl_->beginShared(sharedJournal); }
bool DbfTable::inTransaction() const { return impl_->journal != nullptr; }
Journal* DbfTable::journal() const { return impl_->journal; }

void DbfTable::commit()
{
    if (!impl_->journal)
        return;
    try {
        impl_->flush();
        // Listeners with work left over although nothing was buffered.
        for (auto* l : impl_->listeners)
            l->beforeCommit(*this);
        impl_->commit();
    } catch (...) {
        if (impl_->ownJournal) {
            try {
                impl_->rollback();
            } catch (...) {
            }
        }
        throw;
    }
}

void DbfTable::rollback()
{
    if (impl_->journal)
        impl_->rollback();
}

namespace {
// Runs f inside the table's transaction, opening (and committing) one when
// none is running.
template <typename F>
auto inWrite(DbfTable& t, DbfTable::Impl& impl, F&& f)
{
    if (impl.journal)
        return f();
    t.begin();
    try {
        auto r = f();
        t.commit();
        return r;
    } catch (...) {
        t.rollback();
        throw;
    }
}
} // namespace

std::uint32_t DbfTable::append(std::span<const Value> values)
{
    return inWrite(*this, *impl_, [&] {
        Impl& t = *impl_;
        const std::uint32_t recno = t.header.recordCount + 1;
        if (t.header.recordCount == 0xFFFFFFFFu ||
            t.recordOffset(recno) + t.header.recordLength + 1 > 0x7FFFFFFFull)
            throw Error("The table \"" + t.name + "\" has reached the 2 GB size limit of its format.");
        std::vector<std::int32_t>& autoNext = t.autoScratch;
        t.encodeRow(values, recno, autoNext);
        // The row is accepted: now its memos go to the memo file.
        auto* rec = reinterpret_cast<unsigned char*>(t.scratch.data());
        if (t.memoCount > 0 && !t.memo)
            throw Error("The table \"" + t.name + "\" has no memo file.");
        for (std::size_t k = 0; k < t.memoCount; ++k) {
            auto& m = t.memoScratch[k];
            std::uint32_t block = m.data.empty() ? 0 : t.memo->append(m.data, m.type);
            t.writeMemoPointer(t.fields[m.field], rec, block);
        }
        for (std::size_t i = 0; i < t.fields.size(); ++i)
            t.fields[i].autoIncNext = autoNext[i];
        if (t.pendingRecords.empty())
            t.pendingFirst = recno;
        t.pendingRecords.append(t.scratch);
        t.header.recordCount = recno;
        t.headerDirty = true;
        for (auto* l : t.listeners)
            l->recordsAppended(*this, recno, 1);
        t.flushIfFull();
        return recno;
    });
}

std::uint32_t DbfTable::appendRaw(std::span<const std::uint8_t> record, std::span<const std::string> memos)
{
    return inWrite(*this, *impl_, [&] {
        Impl& t = *impl_;
        if (record.size() != t.header.recordLength)
            throw Error("A record of " + std::to_string(record.size()) + " bytes was given for table \"" + t.name +
                        "\", whose records have " + std::to_string(t.header.recordLength) + ".");
        const std::uint32_t recno = t.header.recordCount + 1;
        t.scratch.assign(reinterpret_cast<const char*>(record.data()), record.size());
        auto* rec = reinterpret_cast<unsigned char*>(t.scratch.data());
        std::size_t mi = 0;
        for (const auto& f : t.fields) {
            if (!f.isMemo())
                continue;
            std::uint32_t block = 0;
            if (mi < memos.size() && !memos[mi].empty()) {
                if (!t.memo)
                    throw Error("The table \"" + t.name + "\" has no memo file.");
                block = t.memo->append(memos[mi], f.type == 'G' ? 2 : (f.type == 'M' ? 1 : 0));
            }
            t.writeMemoPointer(f, rec, block);
            ++mi;
        }
        if (t.pendingRecords.empty())
            t.pendingFirst = recno;
        t.pendingRecords.append(t.scratch);
        t.header.recordCount = recno;
        t.headerDirty = true;
        for (auto* l : t.listeners)
            l->recordsAppended(*this, recno, 1);
        t.flushIfFull();
        return recno;
    });
}

void DbfTable::update(std::uint32_t recno, std::span<const Value> values)
{
    inWrite(*this, *impl_, [&] {
        Impl& t = *impl_;
        if (recno < 1 || recno > t.header.recordCount)
            throw Error("The table \"" + t.name + "\" has no record " + std::to_string(recno) + ".");
        std::string old;
        if (recno >= t.pendingFirst && !t.pendingRecords.empty())
            old = t.pendingRecords.substr(std::size_t(recno - t.pendingFirst) * t.header.recordLength, t.header.recordLength);
        else
            readRecord(recno, old);
        std::vector<std::int32_t> autoNext;
        // Fields not given keep their value: decode them into the row first.
        std::vector<Value> row(values.begin(), values.end());
        row.resize(t.fields.size());
        // Fields not given (Empty) keep their value.
        for (std::size_t i = 0; i < t.fields.size(); ++i)
            if (row[i].isEmpty())
                t.decode(reinterpret_cast<const unsigned char*>(old.data()), i, row[i], recno);
        t.encodeRow(row, recno, autoNext);
        auto* rec = reinterpret_cast<unsigned char*>(t.scratch.data());
        rec[0] = static_cast<unsigned char>(old[0]);
        for (std::size_t k = 0; k < t.memoCount; ++k) {
            auto& m = t.memoScratch[k];
            std::uint32_t block = m.data.empty() ? 0 : t.memo->append(m.data, m.type);
            t.writeMemoPointer(t.fields[m.field], rec, block);
        }
        if (recno >= t.pendingFirst && !t.pendingRecords.empty())
            t.pendingRecords.replace(std::size_t(recno - t.pendingFirst) * t.header.recordLength, t.header.recordLength, t.scratch);
        else
            t.patches[t.recordOffset(recno)] = t.scratch;
        t.headerDirty = true;
        for (auto* l : t.listeners)
            l->recordChanged(*this, recno);
        return 0;
    });
}

void DbfTable::setDeleted(std::uint32_t recno, bool deleted)
{
    inWrite(*this, *impl_, [&] {
        Impl& t = *impl_;
        if (recno < 1 || recno > t.header.recordCount)
            throw Error("The table \"" + t.name + "\" has no record " + std::to_string(recno) + ".");
        const char flag = deleted ? '*' : ' ';
        if (recno >= t.pendingFirst && !t.pendingRecords.empty()) {
            t.pendingRecords[std::size_t(recno - t.pendingFirst) * t.header.recordLength] = flag;
        } else {
            auto offset = t.recordOffset(recno);
            auto it = t.patches.find(offset);
            if (it != t.patches.end())
                it->second[0] = flag;
            else
                t.patches[offset] = std::string(1, flag);
        }
        t.headerDirty = true;
        for (auto* l : t.listeners)
            l->recordChanged(*this, recno);
        return 0;
    });
}

void DbfTable::setBacklink(const std::string& backlink)
{
    inWrite(*this, *impl_, [&] {
        Impl& t = *impl_;
        if (!t.isVfp())
            throw Error("The table \"" + t.name + "\" is not a Visual FoxPro table and cannot belong to a database.");
        if (backlink.size() >= kBacklink)
            throw Error("The database path \"" + backlink + "\" is too long for the table \"" + t.name + "\".");
        std::size_t start = t.header.headerLength - kBacklink;
        if (t.rawHeader[start - 1] != 0x0D)
            throw t.damaged("its header has no room for a database link");
        std::memset(t.rawHeader.data() + start, 0, kBacklink);
        std::memcpy(t.rawHeader.data() + start, backlink.data(), backlink.size());
        t.header.backlink = backlink;
        t.headerDirty = true;
        return 0;
    });
}

void DbfTable::setTableFlags(std::uint8_t flags)
{
    inWrite(*this, *impl_, [&] {
        impl_->rawHeader[28] = static_cast<char>(flags);
        impl_->header.flags = flags;
        impl_->headerDirty = true;
        return 0;
    });
}

void DbfTable::addListener(TableListener* listener) { impl_->listeners.push_back(listener); }
void DbfTable::removeListener(TableListener* listener)
{
    auto& ls = impl_->listeners;
    ls.erase(std::remove(ls.begin(), ls.end(), listener), ls.end());
}

void DbfTable::encodeField(std::size_t field, const Value& value, std::string& out) const
{
    Impl& t = *impl_;
    if (field >= t.fields.size())
        throw Error("Field index " + std::to_string(field) + " is out of range for table \"" + t.path + "\".");
    const DbfField& f = t.fields[field];
    if (f.isMemo())
        throw Error("The memo field " + f.name + " has no fixed-width form.");
    std::string rec(t.header.recordLength, '\0');
    t.memoCount = 0;
    t.encodeOne(f, value, reinterpret_cast<unsigned char*>(rec.data()), 0, nullptr);
    out.assign(rec, f.offset, f.length);
}

// ---- creating, dropping, renaming -----------------------------------------

std::unique_ptr<DbfTable> DbfTable::create(const std::string& pathIn, const std::vector<FieldSpec>& specs,
                                           const CreateOptions& options)
{
    const std::string path = absolutePath(pathIn);
    const std::string shown = fileNameOf(pathIn);
    const bool vfp = options.format == TableFormat::VisualFoxPro;
    auto fail = [&](const std::string& why) { return Error("Cannot create the table \"" + shown + "\": " + why + "."); };
    if (specs.empty())
        throw fail("it has no fields");
    if (specs.size() > 254)
        throw fail("it has more than 254 fields");

    struct Planned { FieldSpec s; std::uint8_t flags = 0; int length = 0; int decimals = 0; };
    std::vector<Planned> plan;
    bool anyMemo = false, anyVar = false, anyAuto = false;
    int nullBits = 0;
    for (const auto& s : specs) {
        Planned p;
        p.s = s;
        p.s.name = upperAscii(s.name);
        const std::string& n = p.s.name;
        if (n.empty() || n.size() > 10)
            throw fail("the field name \"" + s.name + "\" must have 1 to 10 characters");
        for (std::size_t i = 0; i < n.size(); ++i) {
            char c = n[i];
            bool ok = (c >= 'A' && c <= 'Z') || c == '_' || (i > 0 && c >= '0' && c <= '9');
            if (!ok)
                throw fail("the field name \"" + s.name + "\" may hold only letters, digits and underscores, and must not start with a digit");
        }
        for (const auto& q : plan)
            if (q.s.name == n)
                throw fail("the field name \"" + s.name + "\" appears twice");
        char t = s.type;
        const char* allowed = vfp ? "CVQNFIBYDTLMGW"
                                  : (options.format == TableFormat::FoxPro2 ? "CNFDLMG"
                                                                             : (options.format == TableFormat::DBase4 ? "CNFDLM" : "CNDLM"));
        if (!std::strchr(allowed, t) || t == 0)
            throw fail("field " + n + ": the type '" + std::string(1, t) + "' does not exist in this table format");
        p.length = s.length;
        p.decimals = 0;
        switch (t) {
        case 'C': case 'V': case 'Q':
            if (s.length < 1 || s.length > 254)
                throw fail("field " + n + ": a width of " + std::to_string(s.length) + " is outside 1 to 254");
            break;
        case 'N': case 'F':
            if (s.length < 1 || s.length > 20)
                throw fail("field " + n + ": a width of " + std::to_string(s.length) + " is outside 1 to 20");
            if (s.decimals < 0 || (s.decimals > 0 && s.decimals > s.length - 2) || s.decimals > 18)
                throw fail("field " + n + ": " + std::to_string(s.decimals) + " decimals do not fit a width of " + std::to_string(s.length));
            p.decimals = s.decimals;
            break;
        case 'I': p.length = 4; break;
        case 'B': p.length = 8; p.decimals = std::clamp(s.decimals, 0, 18); break;
        case 'Y': p.length = 8; p.decimals = 4; break;
        case 'D': case 'T': p.length = 8; break;
        case 'L': p.length = 1; break;
        case 'M': case 'G': case 'W': p.length = vfp ? 4 : 10; anyMemo = true; break;
        }
        if (!vfp && (s.nullable || s.autoIncrement || s.binary)) {
            if (s.autoIncrement)
                throw fail("field " + n + ": autoincrement needs a Visual FoxPro table");
            // Older formats have no null marks or binary flags: blanks stand for Null.
        }
        if (vfp) {
            if (s.autoIncrement && t != 'I')
                throw fail("field " + n + ": only Integer fields can autoincrement");
            if (s.autoIncrement && s.nullable)
                throw fail("field " + n + ": an autoincrement field cannot accept Null");
            switch (t) {
            case 'C': case 'V': case 'M': if (s.binary) p.flags |= field_flag::kBinary; break;
            case 'Q': case 'W': case 'I': case 'Y': case 'T': case 'B': p.flags |= field_flag::kBinary; break;
            default: break;
            }
            if (s.nullable)
                p.flags |= field_flag::kNullable;
            if (s.autoIncrement) {
                p.flags |= field_flag::kAutoInc | field_flag::kBinary;
                anyAuto = true;
            }
            if (t == 'V' || t == 'Q') {
                ++nullBits;
                anyVar = true;
            }
            if (t == 'W')
                anyVar = true;
            if (s.nullable)
                ++nullBits;
        }
        plan.push_back(std::move(p));
    }
    const bool hasNullFlags = vfp && nullBits > 0;
    if (hasNullFlags && plan.size() > 254)
        throw fail("it has more than 254 fields besides the null flags");
    const std::size_t nDesc = plan.size() + (hasNullFlags ? 1 : 0);
    const std::size_t headerLength = 32 + 32 * nDesc + 1 + (vfp ? kBacklink : 0);
    if (headerLength > 65535)
        throw fail("its header would be too long");
    std::size_t recordLength = 1;
    for (const auto& p : plan)
        recordLength += static_cast<std::size_t>(p.length);
    const int nullFlagsLength = (nullBits + 7) / 8;
    if (hasNullFlags)
        recordLength += static_cast<std::size_t>(nullFlagsLength);
    if (recordLength > 65500)
        throw fail("its records would be longer than 65,500 bytes");
    if (options.backlink.size() >= kBacklink)
        throw fail("the database path is too long");

    std::uint8_t version = 0x30;
    switch (options.format) {
    case TableFormat::VisualFoxPro: version = anyVar ? 0x32 : (anyAuto ? 0x31 : 0x30); break;
    case TableFormat::FoxPro2: version = anyMemo ? 0xF5 : 0x03; break;
    case TableFormat::DBase3: version = anyMemo ? 0x83 : 0x03; break;
    case TableFormat::DBase4: version = anyMemo ? 0x8B : 0x03; break;
    }

    std::string h(headerLength, '\0');
    auto* hp = reinterpret_cast<unsigned char*>(h.data());
    hp[0] = version;
    std::time_t now = std::time(nullptr);
    std::tm tmNow{};
    localtime_r(&now, &tmNow);
    hp[1] = static_cast<unsigned char>(vfp ? tmNow.tm_year % 100 : tmNow.tm_year);
    hp[2] = static_cast<unsigned char>(tmNow.tm_mon + 1);
    hp[3] = static_cast<unsigned char>(tmNow.tm_mday);
    putLe16(hp + 8, static_cast<std::uint16_t>(headerLength));
    putLe16(hp + 10, static_cast<std::uint16_t>(recordLength));
    std::uint8_t flags = 0;
    if (vfp) {
        if (options.structuralCdx)
            flags |= table_flag::kStructuralCdx;
        if (anyMemo)
            flags |= table_flag::kHasMemo;
        if (options.containerFile)
            flags |= table_flag::kContainer | table_flag::kHasMemo | table_flag::kStructuralCdx;
    }
    hp[28] = flags;
    hp[29] = options.codePageMark;
    std::size_t pos = 32;
    std::uint32_t offset = 1;
    auto writeDescriptor = [&](const std::string& name, char type, int length, int decimals, std::uint8_t fflags,
                               std::int32_t next, std::uint8_t step) {
        unsigned char* d = hp + pos;
        std::memcpy(d, name.data(), std::min<std::size_t>(name.size(), 10));
        d[11] = static_cast<unsigned char>(type);
        if (vfp)
            putLe32(d + 12, offset);
        d[16] = static_cast<unsigned char>(length);
        d[17] = static_cast<unsigned char>(decimals);
        if (vfp) {
            d[18] = fflags;
            if (fflags & field_flag::kAutoInc) {
                putLe32(d + 19, static_cast<std::uint32_t>(next));
                d[23] = step;
            }
        }
        offset += static_cast<std::uint32_t>(length);
        pos += kDescriptor;
    };
    for (const auto& p : plan)
        writeDescriptor(p.s.name, p.s.type, p.length, p.decimals, p.flags, p.s.autoIncNext,
                        p.s.autoIncStep == 0 ? 1 : p.s.autoIncStep);
    if (hasNullFlags)
        writeDescriptor("_NullFlags", '0', nullFlagsLength, 0, field_flag::kSystem | field_flag::kBinary, 0, 0);
    hp[pos] = 0x0D;
    if (vfp)
        std::memcpy(hp + pos + 1, options.backlink.data(), options.backlink.size());
    h.push_back('\x1A');

    std::string memoPath;
    MemoKind memoKind = MemoKind::Fpt;
    if (anyMemo) {
        std::string ext = options.memoExtension;
        if (ext.empty())
            ext = options.containerFile ? ".dct" : (vfp || options.format == TableFormat::FoxPro2 ? ".fpt" : ".dbt");
        memoKind = vfp || options.format == TableFormat::FoxPro2
                       ? MemoKind::Fpt
                       : (options.format == TableFormat::DBase4 ? MemoKind::Dbt4 : MemoKind::Dbt3);
        memoPath = companionPath(path, ext);
    }
    if (fileExists(path))
        throw fail("the file \"" + path + "\" already exists");
    if (!memoPath.empty() && fileExists(memoPath))
        throw fail("the memo file \"" + memoPath + "\" already exists");

    // Both files appear together or not at all.
    Journal::recover(Journal::pathFor(path));
    {
        Journal journal(Journal::pathFor(path), Journal::Kind::Undo);
        journal.protectFile(path);
        if (!memoPath.empty())
            journal.protectFile(memoPath);
        journal.sync();
        if (!memoPath.empty()) {
            std::string stem = options.memoStem;
            if (stem.empty()) {
                stem = fileNameOf(path);
                stem = stem.substr(0, stem.find_last_of('.'));
            }
            stem = upperAscii(stem);
            std::uint16_t bs = memoKind == MemoKind::Fpt ? options.memoBlockSize : 512;
            MemoFile::createEmpty(memoPath, memoKind, bs, stem);
        }
        File f(path, File::Access::CreateNew);
        f.writeAt(0, h);
        f.close();
        journal.commit();
    }
    return open(path, Mode::ReadWrite);
}

namespace {
std::vector<std::string> companions(const std::string& dbfPath)
{
    std::vector<std::string> out;
    bool container = equalsIgnoreCase(std::string_view(dbfPath).substr(dbfPath.size() >= 4 ? dbfPath.size() - 4 : 0), ".dbc");
    const char* exts[] = {".fpt", ".dbt", ".cdx"};
    const char* cexts[] = {".dct", ".dcx"};
    if (container) {
        for (auto e : cexts) {
            std::string p = companionPath(dbfPath, e);
            if (fileExists(p))
                out.push_back(p);
        }
    } else {
        for (auto e : exts) {
            std::string p = companionPath(dbfPath, e);
            if (fileExists(p))
                out.push_back(p);
        }
    }
    return out;
}
} // namespace

void DbfTable::dropFiles(const std::string& dbfPathIn)
{
    const std::string dbfPath = absolutePath(dbfPathIn);
    if (!fileExists(dbfPath))
        throw Error("The table \"" + dbfPathIn + "\" does not exist.");
    File lockHolder(dbfPath, File::Access::ReadWrite);
    lockHolder.lockExclusive();
    Journal::recover(Journal::pathFor(dbfPath));
    Journal journal(Journal::pathFor(dbfPath), Journal::Kind::Redo);
    for (const auto& c : companions(dbfPath))
        journal.intendRemove(c);
    journal.intendRemove(dbfPath); // last: while it exists the drop can be found and finished
    journal.execute();
}

void DbfTable::renameFiles(const std::string& dbfPathIn, const std::string& newDbfPathIn)
{
    const std::string dbfPath = absolutePath(dbfPathIn);
    const std::string newPath = absolutePath(newDbfPathIn);
    if (!fileExists(dbfPath))
        throw Error("The table \"" + dbfPathIn + "\" does not exist.");
    const bool sameFile = equalsIgnoreCase(dbfPath, newPath);
    if (fileExists(newPath) && !sameFile)
        throw Error("Cannot rename \"" + fileNameOf(dbfPathIn) + "\": a table \"" + fileNameOf(newDbfPathIn) +
                    "\" already exists.");
    std::string newStem = fileNameOf(newPath);
    newStem = newStem.substr(0, newStem.find_last_of('.'));
    const std::string newDir = directoryOf(newPath);
    File lockHolder(dbfPath, File::Access::ReadWrite);
    lockHolder.lockExclusive();
    Journal::recover(Journal::pathFor(dbfPath));
    Journal journal(Journal::pathFor(dbfPath), Journal::Kind::Redo);
    for (const auto& c : companions(dbfPath)) {
        std::string name = fileNameOf(c);
        std::string ext = name.substr(name.find_last_of('.'));
        std::string target = newDir + newStem + ext;
        if (fileExists(target) && !sameFile)
            throw Error("Cannot rename \"" + fileNameOf(dbfPathIn) + "\": the file \"" + target + "\" already exists.");
        journal.intendRename(c, target);
    }
    journal.intendRename(dbfPath, newPath);
    journal.execute();
}

namespace {

constexpr std::string_view kBuildingPrefix = "~qm";

// The process id in the name of a file of a table being built, or 0.
long buildingOwner(std::string_view name)
{
    if (name.substr(0, kBuildingPrefix.size()) != kBuildingPrefix)
        return 0;
    std::size_t i = kBuildingPrefix.size();
    long pid = 0;
    std::size_t digits = 0;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && digits < 10; ++i, ++digits)
        pid = pid * 10 + (name[i] - '0');
    if (digits == 0 || i >= name.size() || name[i] != '-')
        return 0;
    std::size_t j = i + 1;
    while (j < name.size() && name[j] >= '0' && name[j] <= '9')
        ++j;
    if (j == i + 1 || j >= name.size() || name[j] != '.')
        return 0;
    return pid;
}

bool processGone(long pid)
{
    return pid != static_cast<long>(::getpid()) && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

std::string DbfTable::buildingPath(const std::string& folder)
{
    static std::atomic<unsigned> counter{0};
    std::string dir = folder.empty() ? std::string(".") : folder;
    if (dir.back() != '/')
        dir += '/';
    for (;;) {
        const std::string stem = dir + std::string(kBuildingPrefix) + std::to_string(::getpid()) + "-" +
                                 std::to_string(++counter);
        bool taken = false;
        for (const char* ext : {".dbf", ".fpt", ".dbt", ".cdx", ".dbf.qmj"})
            taken = taken || fileExists(stem + ext);
        if (!taken)
            return absolutePath(stem + ".dbf");
    }
}

void DbfTable::placeFiles(const std::string& builtDbfIn, const std::string& finalDbfIn, Journal& journal)
{
    const std::string builtDbf = absolutePath(builtDbfIn);
    const std::string finalDbf = absolutePath(finalDbfIn);
    if (!fileExists(builtDbf))
        throw Error("The new table \"" + builtDbf + "\" does not exist.");
    std::string finalStem = fileNameOf(finalDbf);
    finalStem = finalStem.substr(0, finalStem.find_last_of('.'));
    const std::string dir = directoryOf(finalDbf);
    std::vector<std::pair<std::string, std::string>> moves;
    for (const auto& c : companions(builtDbf)) {
        const std::string name = fileNameOf(c);
        moves.emplace_back(c, dir + finalStem + name.substr(name.find_last_of('.')));
    }
    moves.emplace_back(builtDbf, finalDbf); // last
    for (const auto& [from, to] : moves)
        if (fileExists(to))
            throw Error("Cannot put the new table \"" + fileNameOf(finalDbf) + "\" in place: the file \"" + to +
                        "\" already exists.");
    for (const auto& [from, to] : moves)
        journal.protectFile(to);
    journal.sync();
    for (const auto& [from, to] : moves)
        renameFile(from, to);
    syncDirectoryOf(finalDbf);
}

void DbfTable::recoverFolder(const std::string& folder)
{
    DIR* d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d)
        return;
    std::vector<std::string> journals;
    const std::string ext = Journal::kExtension;
    while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (n.size() > ext.size() && n.compare(n.size() - ext.size(), ext.size(), ext) == 0)
            journals.push_back(n);
    }
    ::closedir(d);
    std::string dir = folder;
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    for (const auto& j : journals) {
        std::string jp = absolutePath(dir + j);
        std::string data = jp.substr(0, jp.size() - ext.size());
        if (fileExists(data)) {
            // Leave journals of writers that are still at work alone.
            try {
                File f(data, File::Access::ReadWrite);
                f.lockExclusive();
                Journal::recover(jp);
            } catch (const Error&) {
            }
        } else {
            Journal::recover(jp);
        }
    }
    // What killed processes left of tables they were building.  (A process
    // still at work keeps its files; so does this one.)
    d = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!d)
        return;
    std::vector<std::string> leftovers;
    while (dirent* ent = ::readdir(d)) {
        std::string n = ent->d_name;
        if (n.size() > ext.size() && n.compare(n.size() - ext.size(), ext.size(), ext) == 0)
            continue; // a journal of a live writer
        if (long pid = buildingOwner(n); pid != 0 && processGone(pid))
            leftovers.push_back(dir + n);
    }
    ::closedir(d);
    for (const auto& f : leftovers)
        removeFile(f);
}

} // namespace qm::xbase
