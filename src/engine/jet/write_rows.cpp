// Rows, long values and data pages of the Access writer.
#include "write_database.h"

#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace qm::jet {

namespace {

constexpr std::size_t kMaxRowSize = 4060;         // largest row image Access is known to take
constexpr std::size_t kInlineLongValue = 64;      // long values up to this size stay in the row
constexpr std::size_t kLvalSingleRow = 4076;      // one LVAL row
constexpr std::size_t kLvalChunk = 4072;          // data bytes per chained LVAL row
constexpr std::uint32_t kLvalOwnerValue = 0x4C41564C;

std::string quoteValue(const Value& v) {
    std::string s;
    try {
        s = v.toString();
    } catch (...) {
        s = "?";
    }
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return "'" + s + "'";
}

// Text as the column stores it: FF FE + one byte per character when that is
// allowed and shorter, else UTF-16LE.
std::string encodeText(const std::u16string& u, bool compressible, bool memo) {
    std::string out;
    bool compress = compressible && u.size() > 2 && (!memo || u.size() <= 1024);
    if (compress)
        for (char16_t c : u)
            if (c == 0 || c > 0xFF) {
                compress = false;
                break;
            }
    if (compress) {
        out.reserve(u.size() + 2);
        out.push_back(char(0xFF));
        out.push_back(char(0xFE));
        for (char16_t c : u) out.push_back(char(c));
    } else {
        out.reserve(u.size() * 2);
        for (char16_t c : u) {
            out.push_back(char(c & 0xFF));
            out.push_back(char(c >> 8));
        }
    }
    return out;
}

} // namespace

Value JetWriter::convert(const TableDefinition& def, const WColumn& col, const Value& v) const {
    auto refuse = [&](const std::string& why) {
        return Error(store_->path() + ": table " + def.name + ", column " + col.name + ": value " + quoteValue(v) +
                     " " + why);
    };
    if (v.isNull() || v.isEmpty()) return col.type() == kBoolean ? Value::boolean(false) : Value::null();
    try {
        switch (col.type()) {
        case kBoolean: return Value::boolean(v.toBool());
        case kByte: {
            const std::int32_t x = v.toInt32();
            if (x < 0 || x > 255) throw OverflowError("Overflow");
            return Value::byte(std::uint8_t(x));
        }
        case kInteger: return Value::integer(v.toInt16());
        case kLong: return Value::longInt(v.toInt32());
        case kBigInt: return Value::bigInt(v.toInt64());
        case kComplex: return Value::longInt(v.toInt32());
        case kCurrency: return Value::currency(v.toCurrency());
        case kSingle: {
            const double d = v.toDouble();
            if (std::isfinite(d) && std::fabs(d) > 3.4028234663852886e38) throw OverflowError("Overflow");
            return Value::single(float(d));
        }
        case kDouble: return Value::dbl(v.toDouble());
        case kDateTime: {
            const double d = v.toDate();
            if (!std::isfinite(d) || d < -657434.0 || d >= 2958466.0)
                throw refuse("is not a date between the years 100 and 9999");
            return Value::date(d);
        }
        case kText: {
            std::string s = v.type() == VarType::Binary ? v.rawString() : v.toString();
            const std::size_t units = utf16Length(s);
            const std::size_t max = col.length() / 2;
            if (units > max)
                throw refuse("is " + std::to_string(units) + " characters long; the field holds at most " +
                             std::to_string(max));
            return Value::string(std::move(s));
        }
        case kMemo: return Value::string(v.type() == VarType::Binary ? v.rawString() : v.toString());
        case kOle:
            if (v.type() == VarType::Binary || v.type() == VarType::String) return Value::binary(v.rawString());
            return Value::binary(v.toString());
        case kBinary: {
            std::string b = v.type() == VarType::Binary || v.type() == VarType::String ? v.rawString() : v.toString();
            if (b.size() > col.length())
                throw refuse("is " + std::to_string(b.size()) + " bytes long; the field holds at most " +
                             std::to_string(col.length()));
            return Value::binary(std::move(b));
        }
        case kGuid: {
            if (v.type() == VarType::Guid) return v;
            const auto g = Guid::parse(v.toString());
            if (!g) throw refuse("is not a GUID");
            return Value::guid(*g);
        }
        case kNumeric: {
            const Decimal d = v.toDecimal();
            const Decimal r = d.rescaled(col.scale());
            if (r.compare(d) != 0)
                throw refuse("has more than " + std::to_string(col.scale()) + " digits after the decimal point");
            Int128 limit = 1;
            for (int i = 0; i < col.precision(); ++i) limit *= 10;
            if (r.mantissa >= limit || r.mantissa <= -limit)
                throw refuse("has more than " + std::to_string(col.precision()) + " digits (precision " +
                             std::to_string(col.precision()) + ", scale " + std::to_string(col.scale()) + ")");
            return Value::decimal(r);
        }
        default: throw refuse("cannot be stored: the column's type is not one this program writes");
        }
    } catch (const OverflowError&) {
        throw refuse("does not fit the field (overflow)");
    } catch (const Error& e) {
        const std::string what = e.what();
        if (what.rfind(store_->path(), 0) == 0) throw;
        throw refuse("cannot be stored: " + what);
    }
}

std::vector<Value> JetWriter::completeRow(TableDefinition& def, std::span<const Value> in, bool assignAutoNumbers) {
    const auto& cols = def.byNumber();
    if (in.size() > cols.size())
        throw Error(store_->path() + ": table " + def.name + ": " + std::to_string(in.size()) +
                    " values given for " + std::to_string(cols.size()) + " columns");
    std::vector<Value> out(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const WColumn& c = *cols[i];
        static const Value kNotGiven;
        const Value& given = i < in.size() ? in[i] : kNotGiven;
        if (given.isEmpty() && assignAutoNumbers && c.autoNumber() && c.type() == kLong) {
            const std::uint32_t next = def.lastAutoNumber() + 1;
            if (next > 0x7FFFFFFF)
                throw Error(store_->path() + ": table " + def.name + ", column " + c.name +
                            ": the AutoNumber has reached its largest value");
            out[i] = Value::longInt(std::int32_t(next));
            continue;
        }
        if (given.isEmpty() && assignAutoNumbers && c.guidAutoNumber() && c.type() == kGuid) {
            static thread_local std::mt19937_64 rng{std::random_device{}()};
            Guid g;
            const std::uint64_t a = rng(), b = rng();
            std::memcpy(g.bytes, &a, 8);
            std::memcpy(g.bytes + 8, &b, 8);
            g.bytes[7] = std::uint8_t((g.bytes[7] & 0x0F) | 0x40); // version 4
            g.bytes[8] = std::uint8_t((g.bytes[8] & 0x3F) | 0x80);
            out[i] = Value::guid(g);
            continue;
        }
        out[i] = convert(def, c, given);
        if (out[i].isNull() && (assignAutoNumbers || !given.isEmpty()) &&
            std::find(def.required.begin(), def.required.end(), c.number()) != def.required.end())
            throw Error(store_->path() + ": table " + def.name + ", column " + c.name + ": The field '" + def.name +
                        "." + c.name +
                        "' cannot contain a Null value because the Required property for this field is set to "
                        "True.  Enter a value in this field.");
    }
    return out;
}

std::uint32_t JetWriter::newDataPage(std::uint32_t owner) {
    const std::uint32_t n = allocatePage();
    std::uint8_t* p = store_->write(n);
    std::memset(p, 0, store_->pageSize());
    p[0] = kPageData;
    p[1] = 0x01;
    put16(p + 2, std::uint16_t(store_->pageSize() - format().dataHeader));
    put32(p + 4, owner);
    return n;
}

namespace {

// Adds a row of `size` bytes to a data page; returns the row number or -1
// when it does not fit.
int addToPage(PageStore& store, std::uint32_t page, const std::uint8_t* bytes, std::size_t size,
              std::uint16_t flags) {
    const std::uint8_t* r = store.read(page);
    const std::size_t hdr = store.format().dataHeader;
    const std::uint16_t slots = u16(r + hdr - 2);
    if (slots >= 255) return -1;
    const std::size_t top = slots == 0 ? store.pageSize() : (u16(r + hdr + 2 * (slots - 1)) & 0x1FFF);
    const std::size_t tableEnd = hdr + 2 * (std::size_t(slots) + 1);
    if (top < size || top - size < tableEnd) return -1;
    std::uint8_t* p = store.write(page);
    const std::size_t start = top - size;
    std::memcpy(p + start, bytes, size);
    put16(p + hdr + 2 * slots, std::uint16_t(start | flags));
    put16(p + hdr - 2, std::uint16_t(slots + 1));
    put16(p + 2, std::uint16_t(start - tableEnd));
    return slots;
}

} // namespace

std::pair<const std::uint8_t*, std::size_t> JetWriter::rowBytes(std::uint32_t page, std::uint8_t row,
                                                                std::uint16_t* flags) {
    const std::uint8_t* p = store_->read(page);
    const std::size_t hdr = format().dataHeader;
    if (p[0] != kPageData || row >= u16(p + hdr - 2))
        throw Error(store_->path() + ": row " + std::to_string(row) + " of page " + std::to_string(page) +
                    " does not exist; the database is damaged");
    const std::uint16_t e = u16(p + hdr + 2 * row);
    const std::size_t start = e & 0x1FFF;
    std::size_t end = store_->pageSize();
    // The row ends where the nearest earlier row with its own bytes starts.
    if (row > 0) end = u16(p + hdr + 2 * (row - 1)) & 0x1FFF;
    if (start > end || end > store_->pageSize() || start < hdr)
        throw Error(store_->path() + ": row " + std::to_string(row) + " of page " + std::to_string(page) +
                    " lies outside the page; the database is damaged");
    if (flags) *flags = e & 0xC000;
    return {p + start, end - start};
}

RowLocation JetWriter::resolve(RowLocation at, std::uint16_t* finalFlags) {
    for (int hops = 0; hops < 16; ++hops) {
        std::uint16_t flags = 0;
        auto [p, n] = rowBytes(at.page, at.row, &flags);
        if ((flags & 0x4000) && !(flags & 0x8000) && n >= 4) {
            at = RowLocation{u24(p + 1), p[0]};
            continue;
        }
        if (finalFlags) *finalFlags = flags;
        return at;
    }
    throw Error(store_->path() + ": a row points on and on to other rows; the database is damaged");
}

std::string JetWriter::writeLongValue(TableDefinition& def, const WColumn& col, const std::string& bytes,
                                      std::size_t roomInRow) {
    std::string h(12, '\0');
    const std::size_t n = bytes.size();
    if (n > 0x3FFFFFFF)
        throw Error(store_->path() + ": table " + def.name + ", column " + col.name +
                    ": the value is larger than the 1 GB the format allows");
    if (n <= kInlineLongValue && n <= roomInRow) {
        put32(reinterpret_cast<std::uint8_t*>(h.data()), std::uint32_t(n) | 0x80000000u);
        h += bytes;
        return h;
    }
    const WLongValueMaps* maps = def.lvMapsOf(col.number());
    const std::uint64_t cacheKey = (std::uint64_t(def.page) << 16) | col.number();
    auto place = [&](const std::uint8_t* data, std::size_t size) -> RowLocation {
        std::uint32_t page = 0;
        auto it = lvalPage_.find(cacheKey);
        if (it != lvalPage_.end()) page = it->second;
        if (page != 0) {
            const int row = addToPage(*store_, page, data, size, 0);
            if (row >= 0) return RowLocation{page, std::uint8_t(row)};
            if (maps) mapSet(*store_, maps->free, page, false, [&] { return allocatePage(); }, def.name);
        }
        page = newDataPage(kLvalOwnerValue);
        if (maps) {
            mapSet(*store_, maps->owned, page, true, [&] { return allocatePage(); }, def.name);
            mapSet(*store_, maps->free, page, true, [&] { return allocatePage(); }, def.name);
        }
        lvalPage_[cacheKey] = page;
        const int row = addToPage(*store_, page, data, size, 0);
        return RowLocation{page, std::uint8_t(row)};
    };
    auto* hp = reinterpret_cast<std::uint8_t*>(h.data());
    if (n <= kLvalSingleRow) {
        const RowLocation at = place(reinterpret_cast<const std::uint8_t*>(bytes.data()), n);
        put32(hp, std::uint32_t(n) | 0x40000000u);
        hp[4] = at.row;
        hp[5] = std::uint8_t(at.page);
        hp[6] = std::uint8_t(at.page >> 8);
        hp[7] = std::uint8_t(at.page >> 16);
        return h;
    }
    // A chain: written from the last piece back, so each row knows its successor.
    const std::size_t pieces = (n + kLvalChunk - 1) / kLvalChunk;
    std::vector<std::uint8_t> buf(4 + kLvalChunk);
    RowLocation next{0, 0};
    for (std::size_t k = pieces; k-- > 0;) {
        const std::size_t off = k * kLvalChunk;
        const std::size_t len = std::min(kLvalChunk, n - off);
        buf[0] = next.row;
        buf[1] = std::uint8_t(next.page);
        buf[2] = std::uint8_t(next.page >> 8);
        buf[3] = std::uint8_t(next.page >> 16);
        std::memcpy(buf.data() + 4, bytes.data() + off, len);
        next = place(buf.data(), 4 + len);
    }
    put32(hp, std::uint32_t(n));
    hp[4] = next.row;
    hp[5] = std::uint8_t(next.page);
    hp[6] = std::uint8_t(next.page >> 8);
    hp[7] = std::uint8_t(next.page >> 16);
    return h;
}

void JetWriter::readLongValue(const std::uint8_t* p, std::size_t n, std::string& out, const std::string& what) {
    out.clear();
    if (n < 12) throw Error(store_->path() + ": " + what + ": a long value header is cut short");
    const std::uint32_t word = u32(p);
    const std::size_t len = word & 0x3FFFFFFF;
    if (word & 0x80000000u) {
        if (12 + len > n) throw Error(store_->path() + ": " + what + ": an inline long value is cut short");
        out.assign(reinterpret_cast<const char*>(p + 12), len);
        return;
    }
    RowLocation at{u24(p + 5), p[4]};
    if (word & 0x40000000u) {
        auto [r, rn] = rowBytes(at.page, at.row);
        if (rn < len) throw Error(store_->path() + ": " + what + ": a long value is shorter than its header says");
        out.assign(reinterpret_cast<const char*>(r), len);
        return;
    }
    out.reserve(len);
    std::size_t guard = 0;
    while (out.size() < len) {
        if (at.page == 0 || ++guard > (len / 100 + 16))
            throw Error(store_->path() + ": " + what + ": a long value's chain ends early");
        auto [r, rn] = rowBytes(at.page, at.row);
        if (rn < 4) throw Error(store_->path() + ": " + what + ": a long value's chain is damaged");
        const std::size_t take = std::min(rn - 4, len - out.size());
        out.append(reinterpret_cast<const char*>(r + 4), take);
        at = RowLocation{u24(r + 1), r[0]};
    }
}

void JetWriter::freeLongValue(TableDefinition& def, const WColumn& col, const std::uint8_t* p, std::size_t n) {
    if (n < 12) return;
    const std::uint32_t word = u32(p);
    if (word & 0x80000000u) return;
    RowLocation at{u24(p + 5), p[4]};
    const bool single = word & 0x40000000u;
    const std::size_t hdr = format().dataHeader;
    std::vector<std::uint32_t> touched;
    for (int guard = 0; at.page != 0 && guard < 300000; ++guard) {
        auto [r, rn] = rowBytes(at.page, at.row);
        const RowLocation next = single || rn < 4 ? RowLocation{0, 0} : RowLocation{u24(r + 1), r[0]};
        std::uint8_t* pg = store_->write(at.page);
        put16(pg + hdr + 2 * at.row, std::uint16_t(u16(pg + hdr + 2 * at.row) | 0xC000));
        if (touched.empty() || touched.back() != at.page) touched.push_back(at.page);
        at = next;
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (std::uint32_t page : touched) releaseLongValuePageIfEmpty(def, col, page);
}

namespace {

// True when the data page has rows and every one is flagged deleted (both
// flag bits: a row moved elsewhere keeps 0x8000 alone and is still alive).
bool everyRowDeleted(const std::uint8_t* p, std::size_t hdr) {
    const std::uint16_t slots = u16(p + hdr - 2);
    if (slots == 0) return false;
    for (std::uint16_t r = 0; r < slots; ++r)
        if ((u16(p + hdr + 2 * r) & 0xC000) != 0xC000) return false;
    return true;
}

} // namespace

void JetWriter::releaseIfEmpty(TableDefinition& def, std::uint32_t page) {
    const std::uint8_t* p = store_->read(page);
    if (p[0] != kPageData || u32(p + 4) != def.page || !everyRowDeleted(p, format().dataHeader)) return;
    // Only a page the table's map lists is the table's to give away.
    if (!mapHas(*store_, def.ownedMap(), page, def.name)) return;
    auto none = [&]() -> std::uint32_t { throw Error(store_->path() + ": internal error: a usage map grew on removal"); };
    mapSet(*store_, def.ownedMap(), page, false, none, def.name);
    mapSet(*store_, def.freeMap(), page, false, none, def.name);
    auto it = appendPage_.find(def.page);
    if (it != appendPage_.end() && it->second == page) appendPage_.erase(it);
    std::memset(store_->write(page), 0, 4);
    releasePage(page);
}

void JetWriter::releaseLongValuePageIfEmpty(TableDefinition& def, const WColumn& col, std::uint32_t page) {
    const std::uint8_t* p = store_->read(page);
    if (p[0] != kPageData || u32(p + 4) != kLvalOwnerValue || !everyRowDeleted(p, format().dataHeader)) return;
    const WLongValueMaps* mine = def.lvMapsOf(col.number());
    if (!mine || !mapHas(*store_, mine->owned, page, def.name)) return;
    auto none = [&]() -> std::uint32_t { throw Error(store_->path() + ": internal error: a usage map grew on removal"); };
    for (const WLongValueMaps& m : def.lvMaps)
        for (RowPointer map : {m.owned, m.free})
            if (map.page != 0 && mapHas(*store_, map, page, def.name)) mapSet(*store_, map, page, false, none, def.name);
    for (auto it = lvalPage_.begin(); it != lvalPage_.end();) {
        if (it->second == page) it = lvalPage_.erase(it);
        else ++it;
    }
    std::memset(store_->write(page), 0, 4);
    releasePage(page);
}

std::vector<std::uint8_t> JetWriter::encodeRow(TableDefinition& def, const std::vector<Value>& values,
                                               std::size_t padTo) {
    const auto& cols = def.byNumber();
    const std::uint16_t ncols = def.maxColumns();
    const std::uint16_t nvar = def.varColumns();
    const std::size_t fixedSize = def.fixedAreaSize();
    const std::size_t maskBytes = (ncols + 7) / 8;
    std::vector<std::uint8_t> mask(maskBytes, 0);

    // Variable values first, to know the size before long values are written.
    std::vector<std::string> var(nvar);
    std::vector<bool> varPresent(nvar, false);
    std::vector<const WColumn*> longCols;
    std::size_t size = 2 + fixedSize + maskBytes + (nvar ? 2 * (nvar + 2) : 0);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const WColumn& c = *cols[i];
        const Value& v = values[i];
        if (c.type() == kBoolean) {
            if (v.rawInt() != 0 && !v.isNull()) mask[c.number() / 8] |= std::uint8_t(1u << (c.number() % 8));
            continue;
        }
        if (v.isNull() || v.isEmpty()) continue;
        mask[c.number() / 8] |= std::uint8_t(1u << (c.number() % 8));
        if (c.fixed()) continue;
        if (c.varIndex() >= nvar) throw Error(store_->path() + ": table " + def.name + ": column " + c.name +
                                              " has a variable index beyond the table's count; the definition is damaged");
        varPresent[c.varIndex()] = true;
        if (c.longValue()) {
            longCols.push_back(&c);
            size += 12;
            continue;
        }
        std::string& s = var[c.varIndex()];
        switch (c.type()) {
        case kText: s = encodeText(toUtf16(v.rawString()), c.extFlags() & 0x01, false); break;
        case kBinary: s = v.rawString(); break;
        case kNumeric: {
            s.assign(17, '\0');
            const Decimal& d = v.rawDecimal();
            s[0] = d.mantissa < 0 ? char(0x80) : 0;
            UInt128 mag = d.mantissa < 0 ? (UInt128)(-d.mantissa) : (UInt128)d.mantissa;
            for (int w = 3; w >= 0; --w) { // most significant word first, each little-endian
                const std::uint32_t word = std::uint32_t(mag & 0xFFFFFFFFu);
                mag >>= 32;
                put32(reinterpret_cast<std::uint8_t*>(&s[1 + 4 * std::size_t(w)]), word);
            }
            break;
        }
        default: s = v.rawString(); break;
        }
        size += s.size();
    }
    if (size > kMaxRowSize)
        throw Error(store_->path() + ": table " + def.name + ": the row is " + std::to_string(size) +
                    " bytes long; a row holds at most " + std::to_string(kMaxRowSize) + " bytes besides its memos");
    for (const WColumn* c : longCols) {
        const Value& v = values[std::size_t(std::find(cols.begin(), cols.end(), c) - cols.begin())];
        std::string bytes = c->type() == kMemo ? encodeText(toUtf16(v.rawString()), c->extFlags() & 0x01, true)
                                               : v.rawString();
        const std::size_t room = kMaxRowSize - size;
        std::string h = writeLongValue(def, *c, bytes, room);
        size += h.size() - 12;
        var[c->varIndex()] = std::move(h);
    }

    std::vector<std::uint8_t> row;
    row.reserve(std::max(size, padTo));
    row.resize(2 + fixedSize, 0);
    put16(row.data(), ncols);
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const WColumn& c = *cols[i];
        const Value& v = values[i];
        if (!c.fixed() || c.type() == kBoolean || v.isNull() || v.isEmpty()) continue;
        std::uint8_t* f = row.data() + 2 + c.fixedOffset();
        if (std::size_t(c.fixedOffset()) + c.length() > fixedSize) continue;
        switch (c.type()) {
        case kByte: f[0] = std::uint8_t(v.rawInt()); break;
        case kInteger: put16(f, std::uint16_t(v.rawInt())); break;
        case kLong:
        case kComplex: put32(f, std::uint32_t(v.rawInt())); break;
        case kCurrency:
        case kBigInt: put64(f, std::uint64_t(v.rawInt())); break;
        case kSingle: {
            const float x = float(v.rawDouble());
            std::uint32_t b;
            std::memcpy(&b, &x, 4);
            put32(f, b);
            break;
        }
        case kDouble:
        case kDateTime: {
            const double x = v.rawDouble();
            std::uint64_t b;
            std::memcpy(&b, &x, 8);
            put64(f, b);
            break;
        }
        case kGuid: std::memcpy(f, v.rawGuid().bytes, 16); break;
        case kText: {
            const std::u16string u = toUtf16(v.rawString());
            for (std::size_t k = 0; k < c.length() / 2; ++k) {
                const char16_t ch = k < u.size() ? u[k] : u' ';
                put16(f + 2 * k, ch);
            }
            break;
        }
        case kNumeric: {
            const Decimal& d = v.rawDecimal();
            f[0] = d.mantissa < 0 ? 0x80 : 0;
            UInt128 mag = d.mantissa < 0 ? (UInt128)(-d.mantissa) : (UInt128)d.mantissa;
            for (int w = 3; w >= 0; --w) {
                put32(f + 1 + 4 * w, std::uint32_t(mag & 0xFFFFFFFFu));
                mag >>= 32;
            }
            break;
        }
        default: {
            const std::string& b = v.rawString();
            std::memcpy(f, b.data(), std::min<std::size_t>(b.size(), c.length()));
            break;
        }
        }
    }
    if (nvar == 0) {
        row.insert(row.end(), mask.begin(), mask.end());
        while (row.size() < padTo) row.insert(row.end() - std::ptrdiff_t(maskBytes), 0);
        return row;
    }
    std::vector<std::uint16_t> offsets(nvar);
    for (std::uint16_t k = 0; k < nvar; ++k) {
        offsets[k] = std::uint16_t(row.size());
        if (varPresent[k]) row.insert(row.end(), var[k].begin(), var[k].end());
    }
    const std::uint16_t eod = std::uint16_t(row.size());
    const std::size_t trailer = 2 + 2 * nvar + 2 + maskBytes;
    if (padTo > row.size() + trailer) row.resize(padTo - trailer, 0);
    std::uint8_t b2[2];
    put16(b2, eod);
    row.insert(row.end(), b2, b2 + 2);
    for (std::size_t k = nvar; k-- > 0;) {
        put16(b2, offsets[k]);
        row.insert(row.end(), b2, b2 + 2);
    }
    put16(b2, nvar);
    row.insert(row.end(), b2, b2 + 2);
    row.insert(row.end(), mask.begin(), mask.end());
    return row;
}

void JetWriter::decodeRow(TableDefinition& def, const std::uint8_t* row, std::size_t len, std::vector<Value>& out) {
    const auto& cols = def.byNumber();
    out.assign(cols.size(), Value::null());
    const std::string what = "table " + def.name;
    auto damaged = [&] { return Error(store_->path() + ": " + what + ": a row is damaged"); };
    if (len < 3) throw damaged();
    const std::uint16_t ncols = u16(row);
    const std::size_t maskBytes = (ncols + 7) / 8;
    if (len < 2 + maskBytes) throw damaged();
    const std::uint8_t* mask = row + len - maskBytes;
    const bool hasVar = def.varColumns() > 0;
    std::uint16_t nvar = 0;
    std::vector<std::uint16_t> offs;
    if (hasVar) {
        if (len < 2 + maskBytes + 2) throw damaged();
        nvar = u16(row + len - maskBytes - 2);
        if (len < 2 + maskBytes + 2 + 2 * (std::size_t(nvar) + 1)) throw damaged();
        offs.resize(nvar + 1);
        for (std::uint16_t k = 0; k < nvar; ++k) offs[k] = u16(row + len - maskBytes - 2 - 2 * (k + 1));
        offs[nvar] = u16(row + len - maskBytes - 2 - 2 * (nvar + 1));
    }
    std::string scratch;
    for (std::size_t i = 0; i < cols.size(); ++i) {
        const WColumn& c = *cols[i];
        const bool bit = c.number() < ncols && (mask[c.number() / 8] & (1u << (c.number() % 8)));
        if (c.type() == kBoolean) {
            out[i] = Value::boolean(bit);
            continue;
        }
        if (!bit) continue;
        const std::uint8_t* p;
        std::size_t n;
        if (c.fixed()) {
            if (2 + std::size_t(c.fixedOffset()) + c.length() > len) throw damaged();
            p = row + 2 + c.fixedOffset();
            n = c.length();
        } else {
            if (c.varIndex() >= nvar) continue;
            const std::uint16_t a = offs[c.varIndex()], b = offs[c.varIndex() + 1];
            if (a > b || b > len) throw damaged();
            p = row + a;
            n = b - a;
        }
        switch (c.type()) {
        case kByte: out[i] = Value::byte(p[0]); break;
        case kInteger: out[i] = Value::integer(std::int16_t(u16(p))); break;
        case kLong:
        case kComplex: out[i] = Value::longInt(std::int32_t(u32(p))); break;
        case kCurrency: out[i] = Value::currency(std::int64_t(u64(p))); break;
        case kBigInt: out[i] = Value::bigInt(std::int64_t(u64(p))); break;
        case kSingle: out[i] = Value::single(f32(p)); break;
        case kDouble: out[i] = Value::dbl(f64(p)); break;
        case kDateTime: out[i] = Value::date(f64(p)); break;
        case kGuid: {
            Guid g;
            if (n >= 16) std::memcpy(g.bytes, p, 16);
            out[i] = Value::guid(g);
            break;
        }
        case kText: {
            std::string s;
            appendJet4Text(p, n, s);
            out[i] = Value::string(std::move(s));
            break;
        }
        case kMemo:
        case kOle: {
            readLongValue(p, n, scratch, what + ", column " + c.name);
            if (c.type() == kMemo) {
                std::string s;
                appendJet4Text(reinterpret_cast<const std::uint8_t*>(scratch.data()), scratch.size(), s);
                out[i] = Value::string(std::move(s));
            } else {
                out[i] = Value::binary(scratch);
            }
            break;
        }
        case kNumeric: {
            if (n < 17) throw damaged();
            UInt128 mag = 0;
            for (int w = 0; w < 4; ++w) mag = (mag << 32) | u32(p + 1 + 4 * w);
            Decimal d;
            d.mantissa = (p[0] & 0x80) ? -Int128(mag) : Int128(mag);
            d.scale = c.scale();
            out[i] = Value::decimal(d);
            break;
        }
        default: out[i] = Value::binary(std::string(reinterpret_cast<const char*>(p), n)); break;
        }
    }
}

RowLocation JetWriter::placeRow(TableDefinition& def, const std::vector<std::uint8_t>& image,
                                std::uint16_t extraFlags) {
    std::uint32_t page = 0;
    auto it = appendPage_.find(def.page);
    if (it != appendPage_.end()) {
        page = it->second;
    } else {
        const std::uint32_t last = mapLastPage(*store_, def.ownedMap(), def.name);
        if (last != 0 && last < store_->pageCount()) {
            const std::uint8_t* p = store_->read(last);
            if (p[0] == kPageData && u32(p + 4) == def.page && mapHas(*store_, def.freeMap(), last, def.name))
                page = last;
        }
    }
    if (page != 0) {
        const int row = addToPage(*store_, page, image.data(), image.size(), extraFlags);
        if (row >= 0) {
            appendPage_[def.page] = page;
            return RowLocation{page, std::uint8_t(row)};
        }
        mapSet(*store_, def.freeMap(), page, false, [&] { return allocatePage(); }, def.name);
    }
    page = newDataPage(def.page);
    mapSet(*store_, def.ownedMap(), page, true, [&] { return allocatePage(); }, def.name);
    mapSet(*store_, def.freeMap(), page, true, [&] { return allocatePage(); }, def.name);
    appendPage_[def.page] = page;
    const int row = addToPage(*store_, page, image.data(), image.size(), extraFlags);
    if (row < 0) throw Error(store_->path() + ": table " + def.name + ": a row does not fit an empty page");
    return RowLocation{page, std::uint8_t(row)};
}

bool JetWriter::readRow(TableDefinition& def, RowLocation at, std::vector<Value>& values) {
    const std::uint8_t* p = store_->read(at.page);
    if (p[0] != kPageData || u32(p + 4) != def.page) return false;
    if (at.row >= u16(p + format().dataHeader - 2)) return false;
    std::uint16_t flags = 0;
    rowBytes(at.page, at.row, &flags);
    if (flags & 0x8000) return false;
    const RowLocation real = resolve(at);
    auto [r, n] = rowBytes(real.page, real.row);
    decodeRow(def, r, n, values);
    return true;
}

void JetWriter::scan(TableDefinition& def, const std::function<bool(RowLocation, const std::vector<Value>&)>& fn) {
    const std::vector<std::uint32_t> pages = mapPages(*store_, def.ownedMap(), def.name);
    std::vector<Value> values;
    const std::size_t hdr = format().dataHeader;
    for (std::uint32_t pg : pages) {
        if (pg >= store_->pageCount()) continue;
        const std::uint8_t* p = store_->read(pg);
        if (p[0] != kPageData || u32(p + 4) != def.page) continue;
        const std::uint16_t slots = u16(p + hdr - 2);
        for (std::uint16_t r = 0; r < slots; ++r) {
            const std::uint16_t e = u16(store_->read(pg) + hdr + 2 * r);
            if (e & 0x8000) continue;
            const RowLocation at{pg, std::uint8_t(r)};
            const RowLocation real = resolve(at);
            auto [rb, n] = rowBytes(real.page, real.row);
            decodeRow(def, rb, n, values);
            if (!fn(at, values)) return;
        }
    }
}

void JetWriter::deleteRow(TableDefinition& def, RowLocation at) {
    if (def.page == 2) objectsCache_.reset();
    std::vector<Value> values;
    if (!readRow(def, at, values))
        throw Error(store_->path() + ": table " + def.name + ": row " + std::to_string(at.id()) +
                    " does not exist (it may have been deleted already)");
    const std::vector<std::string> keys = allKeys(def, values);
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i)
        if (!keys[i].empty()) indexRemove(def, i, keys[i], at);
    // Long values of the row go with it.
    const RowLocation real = resolve(at);
    {
        auto [r, n] = rowBytes(real.page, real.row);
        std::vector<std::uint8_t> copy(r, r + n);
        const auto& cols = def.byNumber();
        const std::uint16_t ncols = u16(copy.data());
        const std::size_t maskBytes = (ncols + 7) / 8;
        if (def.varColumns() > 0 && copy.size() >= maskBytes + 4) {
            const std::uint8_t* mask = copy.data() + copy.size() - maskBytes;
            const std::uint16_t nvar = u16(copy.data() + copy.size() - maskBytes - 2);
            for (const WColumn* c : cols) {
                if (!c->longValue() || c->number() >= ncols || !(mask[c->number() / 8] & (1u << (c->number() % 8))))
                    continue;
                if (c->varIndex() >= nvar) continue;
                const std::size_t base = copy.size() - maskBytes - 2;
                const std::uint16_t a = u16(copy.data() + base - 2 * (c->varIndex() + 1));
                const std::uint16_t b = c->varIndex() + 1 == nvar ? u16(copy.data() + base - 2 * (nvar + 1))
                                                                   : u16(copy.data() + base - 2 * (c->varIndex() + 2));
                if (a < b && b <= copy.size()) freeLongValue(def, *c, copy.data() + a, b - a);
            }
        }
    }
    const std::size_t hdr = format().dataHeader;
    for (RowLocation r : {at, real}) {
        std::uint8_t* p = store_->write(r.page);
        put16(p + hdr + 2 * r.row, std::uint16_t(u16(p + hdr + 2 * r.row) | 0xC000));
    }
    releaseIfEmpty(def, at.page);
    if (real.page != at.page) releaseIfEmpty(def, real.page);
    def.setRowCount(def.rowCount() > 0 ? def.rowCount() - 1 : 0);
    if (std::find(dirtyDefs_.begin(), dirtyDefs_.end(), def.page) == dirtyDefs_.end()) dirtyDefs_.push_back(def.page);
}

std::uint64_t JetWriter::insertRow(TableDefinition& def, std::vector<Value> values) {
    if (def.page == 2) objectsCache_.reset();
    const std::vector<std::string> keys = allKeys(def, values);
    checkKeys(def, values, keys, std::nullopt);
    const std::vector<std::uint8_t> image = encodeRow(def, values);
    const RowLocation at = placeRow(def, image, 0);
    for (std::size_t i = 0; i < def.realIndexes.size(); ++i)
        if (!keys[i].empty()) indexInsert(def, i, keys[i], at);
    def.setRowCount(def.rowCount() + 1);
    const auto& cols = def.byNumber();
    for (std::size_t i = 0; i < cols.size(); ++i)
        if (cols[i]->autoNumber() && cols[i]->type() == kLong && !values[i].isNull() && values[i].rawInt() > 0 &&
            std::uint32_t(values[i].rawInt()) > def.lastAutoNumber())
            def.setLastAutoNumber(std::uint32_t(values[i].rawInt()));
    if (std::find(dirtyDefs_.begin(), dirtyDefs_.end(), def.page) == dirtyDefs_.end()) dirtyDefs_.push_back(def.page);
    return at.id();
}

} // namespace qm::jet
