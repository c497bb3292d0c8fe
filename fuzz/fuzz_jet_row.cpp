// Single rows against fixed table definitions of both generations: the row
// layout (null mask, variable offsets, Jet 3 jump table), every value type
// and inline long values.  Byte 0 picks the generation.
#include "jet/rc4.h"
#include "jet/row_decoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace qm::jet;

namespace {

std::unique_ptr<PageSource> makeSource(Version v) {
    const Format f = Format::forVersion(v);
    std::string file(std::size_t(f.pageSize) * 4, '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(file.data());
    std::memcpy(p + 4, "Standard Jet DB", 15);
    p[0x14] = std::uint8_t(v);
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4(key, 4).apply(p + 0x18, f.maskedLength);
    int fd = memfd_create(v == Version::Jet3 ? "jet3" : "jet4", 0);
    if (fd < 0 || write(fd, file.data(), file.size()) != ssize_t(file.size())) return nullptr;
    return std::make_unique<PageSource>("/proc/self/fd/" + std::to_string(fd), "");
}

TableDef makeTable(bool jet3) {
    TableDef t;
    t.name = "Fuzz";
    t.maxColumns = 20;
    t.varColumns = 6;
    struct C { std::uint8_t type; std::uint16_t number, offset, var, length; std::uint8_t flags, ext; };
    const C cols[] = {
        {kBoolean, 0, 0, 0, 1, 0x03, 0},     {kByte, 1, 0, 0, 1, 0x03, 0},       {kInteger, 2, 1, 0, 2, 0x03, 0},
        {kLong, 3, 3, 0, 4, 0x03, 0},        {kCurrency, 4, 7, 0, 8, 0x03, 0},   {kSingle, 5, 15, 0, 4, 0x03, 0},
        {kDouble, 6, 19, 0, 8, 0x03, 0},     {kDateTime, 7, 27, 0, 8, 0x03, 0},  {kGuid, 8, 35, 0, 16, 0x03, 0},
        {kBigInt, 9, 51, 0, 8, 0x03, 0},     {kNumeric, 10, 59, 0, 17, 0x03, 0}, {kText, 11, 0, 0, 100, 0x02, 1},
        {kMemo, 12, 0, 1, 0, 0x02, 1},       {kOle, 13, 0, 2, 0, 0x02, 0},       {kBinary, 14, 0, 3, 255, 0x02, 0},
        {kNumeric, 15, 0, 4, 17, 0x02, 0},   {kText, 16, 0, 5, 50, 0x02, 0xC0},  {kExtDateTime, 17, 76, 0, 42, 0x03, 0},
        {kText, 18, 118, 0, 10, 0x03, 0},    {kComplex, 19, 128, 0, 4, 0x07, 0},
    };
    for (const C& c : cols) {
        ColumnInfo ci;
        ci.name = "c" + std::to_string(c.number);
        ci.type = c.type;
        ci.number = c.number;
        ci.fixedOffset = c.offset;
        ci.varIndex = c.var;
        ci.length = c.length;
        ci.flags = c.flags;
        ci.extFlags = jet3 ? 0 : c.ext;
        ci.precision = 18;
        ci.scale = 4;
        t.columns.push_back(ci);
    }
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<PageSource> j3 = makeSource(Version::Jet3);
    static std::unique_ptr<PageSource> j4 = makeSource(Version::Jet4);
    static const TableDef t3 = makeTable(true);
    static const TableDef t4 = makeTable(false);
    if (size < 1 || !j3 || !j4) return 0;
    const bool jet3 = data[0] & 1;
    // The row sits in its own buffer so that reads past it are caught.
    std::vector<std::uint8_t> row(data + 1, data + size);
    RowDecoder dec(jet3 ? *j3 : *j4, jet3 ? t3 : t4);
    std::vector<qm::Value> values;
    try {
        dec.decode(row.data(), row.size(), values, 3, 0);
    } catch (const qm::Error&) {
    }
    return 0;
}
