#include "row_decoder.h"

#include <cstdint>

#include <cstring>

namespace qm::jet {

namespace {

int fixedSize(std::uint8_t type) {
    switch (type) {
    case kByte: return 1;
    case kInteger: return 2;
    case kLong: case kSingle: case kComplex: return 4;
    case kCurrency: case kDouble: case kDateTime: case kBigInt: return 8;
    case kGuid: return 16;
    case kNumeric: return 17;
    case kExtDateTime: return 42;
    default: return 0;
    }
}

__extension__ typedef unsigned __int128 U128;
__extension__ typedef __int128 I128;

constexpr U128 kDecimalLimit = [] {
    U128 v = 1;
    for (int k = 0; k < 28; ++k) v *= 10;
    return v;
}();

// Civil date from days since 0001-01-01 (proleptic Gregorian).
void civilFromDays(std::int64_t days, int& y, int& m, int& d) {
    // Shift to days since 0000-03-01 so leap days fall at the end of a year.
    std::int64_t z = days + 306; // 0001-01-01 is 306 days after 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

} // namespace

bool extendedDateToText(const std::uint8_t* p, std::size_t n, std::string& out) {
    if (n < 41) return false;
    auto digits = [&](std::size_t from, std::size_t count, std::int64_t& v) {
        v = 0;
        for (std::size_t k = from; k < from + count; ++k) {
            if (p[k] < '0' || p[k] > '9') return false;
            if (v > (INT64_MAX - 9) / 10) return false; // no date has that many days
            v = v * 10 + (p[k] - '0');
        }
        return true;
    };
    std::int64_t days, secs, ticks;
    if (!digits(0, 19, days) || p[19] != ':' || !digits(20, 12, secs) || !digits(32, 7, ticks) || p[39] != ':')
        return false;
    if (days > 3652058 || secs >= 86400) return false;
    int y, m, d;
    civilFromDays(days, y, m, d);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%07lld", y, m, d, int(secs / 3600),
                  int(secs / 60 % 60), int(secs % 60), static_cast<long long>(ticks));
    out = buf;
    return true;
}

RowDecoder::RowDecoder(PageSource& src, const TableDef& table)
    : src_(src), table_(table), lv_(src), wanted_(table.columns.size(), true) {}

Error RowDecoder::damaged(std::uint32_t page, unsigned rowNo, const std::string& why) const {
    return Error(src_.path() + ": table " + table_.name + ": row " + std::to_string(rowNo) + " of page " +
                 std::to_string(page) + " is damaged: " + why);
}

void RowDecoder::decodeText(const std::uint8_t* p, std::size_t n, Value& v) {
    std::string& s = v.mutableString(VarType::String);
    s.clear();
    if (src_.format().jet3)
        src_.codePage().append(p, n, s);
    else
        appendJet4Text(p, n, s);
}

void RowDecoder::decodeFixedType(std::uint8_t type, const ColumnInfo& c, const std::uint8_t* p, std::size_t n,
                                 Value& v, std::uint32_t page, unsigned rowNo) {
    switch (type) {
    case kByte: v = Value::byte(p[0]); return;
    case kInteger: v = Value::integer(std::int16_t(u16(p))); return;
    case kLong: v = Value::longInt(std::int32_t(u32(p))); return;
    case kCurrency: v = Value::currency(std::int64_t(u64(p))); return;
    case kSingle: v = Value::single(f32(p)); return;
    case kDouble: v = Value::dbl(f64(p)); return;
    case kDateTime: v = Value::date(f64(p)); return;
    case kBigInt: v = Value::bigInt(std::int64_t(u64(p))); return;
    case kComplex: v = Value::longInt(std::int32_t(u32(p))); return; // key of the entries in the hidden table
    case kGuid: {
        Guid g;
        std::memcpy(g.bytes, p, 16);
        v = Value::guid(g);
        return;
    }
    case kNumeric: {
        U128 mag = 0;
        for (int w = 0; w < 4; ++w) mag = (mag << 32) | u32(p + 1 + 4 * w);
        if (mag >= kDecimalLimit)
            throw damaged(page, rowNo, "column " + c.name + " holds a Decimal with more than 28 digits");
        Decimal d;
        d.mantissa = (p[0] & 0x80) ? -static_cast<I128>(mag) : static_cast<I128>(mag);
        d.scale = c.scale > Decimal::kMaxScale ? Decimal::kMaxScale : c.scale;
        v = Value::decimal(d);
        return;
    }
    case kExtDateTime: {
        std::string& s = v.mutableString(VarType::String);
        if (!extendedDateToText(p, n, s))
            throw damaged(page, rowNo, "column " + c.name + " does not hold a Date/Time Extended value");
        return;
    }
    default: v.setBinary(std::string_view(reinterpret_cast<const char*>(p), n)); return;
    }
}

void RowDecoder::decode(const std::uint8_t* row, std::size_t len, std::vector<Value>& out, std::uint32_t page,
                        unsigned rowNo) {
    const bool j3 = src_.format().jet3;
    const std::size_t countSize = j3 ? 1 : 2;
    out.resize(table_.columns.size());
    if (len < countSize) throw damaged(page, rowNo, "it is only " + std::to_string(len) + " bytes long");
    const std::size_t ncols = j3 ? row[0] : u16(row);
    if (ncols == 0) throw damaged(page, rowNo, "it has no columns");
    if (ncols > table_.maxColumns)
        throw damaged(page, rowNo, "it has " + std::to_string(ncols) + " columns, but the table defines only " +
                                       std::to_string(table_.maxColumns));
    const std::size_t maskLen = (ncols + 7) / 8;
    if (len < countSize + maskLen) throw damaged(page, rowNo, "its null mask does not fit");
    const std::uint8_t* mask = row + len - maskLen;
    std::size_t trailerStart = len - maskLen; // where fixed and variable data must end
    std::size_t nvar = 0;

    if (table_.hasVariableColumns()) {
        if (j3) {
            if (len < countSize + maskLen + 2) throw damaged(page, rowNo, "its variable column table does not fit");
            nvar = row[len - maskLen - 1];
            std::size_t jumps = (len - 1) / 256;
            const std::size_t fixedTrailer = maskLen + 1 + jumps + nvar + 1; // mask, nvar, jumps, offsets, EOD
            if (fixedTrailer + countSize > len) throw damaged(page, rowNo, "its variable column table does not fit");
            const std::size_t off0 = len - maskLen - 2 - jumps; // position of off[0]
            const std::size_t eodPos = off0 - nvar;
            if (eodPos / 256 < jumps) --jumps; // the last jump slot is a filler
            offsets_.resize(nvar + 1);
            const std::uint8_t* jumpTable = row + len - maskLen - 2; // jump[j] at jumpTable - j
            for (std::size_t k = 0; k <= nvar; ++k) {
                std::size_t add = 0;
                for (std::size_t j = 0; j < jumps; ++j)
                    if (jumpTable[-std::ptrdiff_t(j)] <= k) ++add;
                offsets_[k] = std::uint32_t(row[off0 - k] + 256 * add);
            }
            trailerStart = eodPos;
        } else {
            if (len < countSize + maskLen + 4) throw damaged(page, rowNo, "its variable column table does not fit");
            nvar = u16(row + len - maskLen - 2);
            const std::size_t trailer = maskLen + 2 + 2 * (nvar + 1);
            if (trailer + countSize > len) throw damaged(page, rowNo, "its variable column table does not fit");
            offsets_.resize(nvar + 1);
            const std::uint8_t* base = row + len - maskLen - 2;
            for (std::size_t k = 0; k <= nvar; ++k) offsets_[k] = u16(base - 2 * (k + 1));
            trailerStart = len - trailer;
        }
        for (std::size_t k = 0; k <= nvar; ++k)
            if (offsets_[k] > trailerStart || offsets_[k] < countSize)
                throw damaged(page, rowNo, "variable column offset " + std::to_string(offsets_[k]) +
                                               " lies outside the row (" + std::to_string(len) + " bytes)");
    }

    const std::size_t fixedBase = countSize;
    for (std::size_t i = 0; i < table_.columns.size(); ++i) {
        if (!wanted_[i]) continue;
        const ColumnInfo& c = table_.columns[i];
        Value& v = out[i];
        const bool inRow = c.number < ncols;
        const bool present = inRow && (mask[c.number / 8] >> (c.number % 8) & 1);
        if (c.type == kBoolean) {
            v = Value::boolean(present);
            continue;
        }
        if (!present) {
            v.setNull();
            continue;
        }
        const std::uint8_t* p;
        std::size_t n;
        if (c.fixed()) {
            n = c.type == kText || fixedSize(c.type) == 0 ? c.length : std::size_t(fixedSize(c.type));
            const std::size_t at = fixedBase + c.fixedOffset;
            if (at + n > trailerStart)
                throw damaged(page, rowNo, "column " + c.name + " lies outside the row's fixed area");
            p = row + at;
        } else {
            if (c.varIndex >= nvar) { // added after this row was written
                v.setNull();
                continue;
            }
            const std::uint32_t a = offsets_[c.varIndex], b = offsets_[c.varIndex + 1];
            if (b < a)
                throw damaged(page, rowNo, "column " + c.name + " has a negative length (offsets " +
                                               std::to_string(a) + ".." + std::to_string(b) + ")");
            p = row + a;
            n = b - a;
        }

        std::uint8_t type = c.type;
        if (c.calculated()) {
            // The stored value is wrapped: 16 bytes, u32 length at 16, data at
            // 20.  Long results keep the wrapper in a long value.
            const bool longResult = type == kMemo || type == kOle || (type == kText && c.length == 0);
            if (longResult) {
                lv_.read(p, n, scratch_, LongValueContext{&table_.name, &c.name, page, rowNo});
                p = reinterpret_cast<const std::uint8_t*>(scratch_.data());
                n = scratch_.size();
            }
            if (n < 20 || u32(p + 16) > n - 20)
                throw damaged(page, rowNo, "calculated column " + c.name + " has a damaged value");
            n = u32(p + 16);
            p += 20;
            if (c.resultType != 0)
                type = c.resultType == kMemo ? kText : c.resultType;
            else if (longResult)
                type = type == kOle ? kBinary : kText;
            else if (type == kMemo)
                type = kText;
            if (n == 0) {
                v.setNull();
                continue;
            }
            const int need = fixedSize(type);
            // A Yes/No result is one byte; without the property, a one-byte
            // value of a wider type can only be that.
            if (type == kBoolean || (c.resultType == 0 && n == 1 && need > 1)) {
                v = Value::boolean(p[0] != 0);
                continue;
            }
            if (type == kNumeric && n == 16) {
                // Decimal results use the 16-byte DECIMAL layout: scale at
                // 2, sign at 3 (0x80 negative), u32 high at 4, u64 low at 8.
                U128 mag = (U128(u32(p + 4)) << 64) | u64(p + 8);
                int scale = p[2];
                // That layout holds 29 digits; a 29th is rounded away (half
                // away from zero) by giving up one decimal place.
                while (mag >= kDecimalLimit && scale > 0) {
                    mag = (mag + 5) / 10;
                    --scale;
                }
                if (mag >= kDecimalLimit || scale > Decimal::kMaxScale)
                    throw damaged(page, rowNo, "calculated column " + c.name + " holds an impossible Decimal");
                Decimal d;
                d.mantissa = (p[3] & 0x80) ? -static_cast<I128>(mag) : static_cast<I128>(mag);
                d.scale = std::uint8_t(scale);
                v = Value::decimal(d);
                continue;
            }
            if (need > 0 && n < std::size_t(need)) {
                v.setBinary(std::string_view(reinterpret_cast<const char*>(p), n));
                continue;
            }
        }

        switch (type) {
        case kText:
            if (p == reinterpret_cast<const std::uint8_t*>(scratch_.data())) {
                std::string tmp;
                tmp.swap(scratch_);
                decodeText(reinterpret_cast<const std::uint8_t*>(tmp.data()), n, v);
                tmp.swap(scratch_);
            } else {
                decodeText(p, n, v);
            }
            break;
        case kMemo: {
            lv_.read(p, n, scratch_, LongValueContext{&table_.name, &c.name, page, rowNo});
            decodeText(reinterpret_cast<const std::uint8_t*>(scratch_.data()), scratch_.size(), v);
            break;
        }
        case kOle: {
            std::string& s = v.mutableString(VarType::Binary);
            lv_.read(p, n, s, LongValueContext{&table_.name, &c.name, page, rowNo});
            break;
        }
        case kBinary:
        case kUnknown0D:
        case kUnknown11:
            v.setBinary(std::string_view(reinterpret_cast<const char*>(p), n));
            break;
        default: {
            const int need = fixedSize(type);
            if (need == 0) {
                v.setBinary(std::string_view(reinterpret_cast<const char*>(p), n));
                break;
            }
            if (n < std::size_t(need))
                throw damaged(page, rowNo, "column " + c.name + " holds " + std::to_string(n) + " bytes, " +
                                               std::to_string(need) + " needed");
            decodeFixedType(type, c, p, n, v, page, rowNo);
        }
        }
    }
}

} // namespace qm::jet
