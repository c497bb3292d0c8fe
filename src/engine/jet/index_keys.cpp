#include "index_keys.h"

#include "collation.h"

#include <cstring>

namespace qm::jet {

namespace {

void appendBigEndian(std::string& out, std::uint64_t v, int bytes, bool flipTop, bool invert) {
    const std::size_t start = out.size();
    for (int i = bytes - 1; i >= 0; --i) out.push_back(char((v >> (8 * i)) & 0xFF));
    if (flipTop) out[start] = char(std::uint8_t(out[start]) ^ 0x80);
    if (invert)
        for (std::size_t i = start; i < out.size(); ++i) out[i] = char(~std::uint8_t(out[i]));
}

void appendFloating(std::string& out, std::uint64_t bits, int bytes, bool ascending) {
    const bool negative = (bits >> (8 * bytes - 1)) & 1;
    const std::size_t start = out.size();
    appendBigEndian(out, bits, bytes, false, false);
    if (ascending) {
        if (negative) {
            for (std::size_t i = start; i < out.size(); ++i) out[i] = char(~std::uint8_t(out[i]));
        } else {
            out[start] = char(std::uint8_t(out[start]) ^ 0x80);
        }
    } else if (!negative) {
        for (std::size_t i = start; i < out.size(); ++i) out[i] = char(~std::uint8_t(out[i]));
        out[start] = char(std::uint8_t(out[start]) ^ 0x80);
    }
}

void appendGeneralBinary(std::string& out, const std::uint8_t* p, std::size_t n, bool ascending) {
    std::size_t i = 0;
    while (n - i > 8) {
        for (int k = 0; k < 8; ++k) out.push_back(char(ascending ? p[i + std::size_t(k)] : ~p[i + std::size_t(k)]));
        out.push_back(0x09);
        i += 8;
    }
    if (n == 0) return;
    const std::size_t rest = n - i;
    const std::size_t start = out.size();
    for (std::size_t k = 0; k < 8; ++k) out.push_back(char(k < rest ? p[i + k] : 0));
    out.push_back(char(rest));
    if (!ascending)
        for (std::size_t k = start; k < out.size(); ++k) out[k] = char(~std::uint8_t(out[k]));
}

Collation::Kind collationOf(const WColumn& col) {
    // 1033 v0 General Legacy, 1033 v1 General; 0 = old writers (legacy).
    const std::uint16_t lcid = col.sortLcid();
    if (lcid != 1033 && lcid != 0)
        throw Error("column " + col.name + " uses sort order " + std::to_string(lcid) +
                    ", which this program cannot index");
    return col.sortVersion() == 1 ? Collation::Kind::General : Collation::Kind::GeneralLegacy;
}

} // namespace

std::string unindexableReason(const WColumn& col) {
    switch (col.type()) {
    case kOle: return "OLE Object columns cannot be indexed";
    case kComplex: return "attachment and multi-value columns cannot be indexed here";
    case kUnknown0D:
    case kUnknown11: return "columns of this kind cannot be indexed";
    default: break;
    }
    if (col.isText() && col.sortLcid() != 1033 && col.sortLcid() != 0)
        return "the column's sort order (" + std::to_string(col.sortLcid()) + ") is not one this program can index";
    return {};
}

void appendKeySegment(const WColumn& col, bool asc, const Value& v, bool ace, std::string& out) {
    if (col.type() != kBoolean && (v.isNull() || v.isEmpty())) {
        out.push_back(asc ? char(0x00) : char(0xFF));
        return;
    }
    out.push_back(asc ? char(0x7F) : char(0x80));
    switch (col.type()) {
    case kBoolean: {
        const bool t = !v.isNull() && !v.isEmpty() && v.rawInt() != 0;
        out.push_back(char((t == asc) ? 0x00 : 0xFF));
        return;
    }
    case kByte: out.push_back(char(asc ? std::uint8_t(v.rawInt()) : std::uint8_t(~std::uint8_t(v.rawInt())))); return;
    case kInteger: appendBigEndian(out, std::uint64_t(v.rawInt()), 2, true, !asc); return;
    case kLong:
    case kComplex: appendBigEndian(out, std::uint64_t(v.rawInt()), 4, true, !asc); return;
    case kCurrency:
    case kBigInt: appendBigEndian(out, std::uint64_t(v.rawInt()), 8, true, !asc); return;
    case kSingle: {
        const float f = float(v.rawDouble());
        std::uint32_t bits;
        std::memcpy(&bits, &f, 4);
        appendFloating(out, bits, 4, asc);
        return;
    }
    case kDouble:
    case kDateTime: {
        const double d = v.rawDouble();
        std::uint64_t bits;
        std::memcpy(&bits, &d, 8);
        appendFloating(out, bits, 8, asc);
        return;
    }
    case kGuid: {
        const Guid g = v.rawGuid();
        // Printed order: Data1..Data3 big-endian, Data4 as stored.
        const std::uint8_t printed[16] = {g.bytes[3], g.bytes[2], g.bytes[1], g.bytes[0], g.bytes[5], g.bytes[4],
                                          g.bytes[7], g.bytes[6], g.bytes[8], g.bytes[9], g.bytes[10], g.bytes[11],
                                          g.bytes[12], g.bytes[13], g.bytes[14], g.bytes[15]};
        appendGeneralBinary(out, printed, 16, asc);
        return;
    }
    case kBinary:
    case kExtDateTime: {
        const std::string& b = v.rawString();
        appendGeneralBinary(out, reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), asc);
        return;
    }
    case kNumeric: {
        const Decimal d = v.rawDecimal().rescaled(col.scale());
        const bool negative = d.mantissa < 0;
        UInt128 mag = negative ? (UInt128)(-d.mantissa) : (UInt128)d.mantissa;
        std::uint8_t m[16];
        for (int i = 15; i >= 0; --i) {
            m[i] = std::uint8_t(mag & 0xFF);
            mag >>= 8;
        }
        bool invertMag;
        char lead;
        if (asc) {
            lead = negative ? char(0x00) : char(0xFF);
            invertMag = negative;
        } else if (ace) {
            lead = negative ? char(0xFF) : char(0x00);
            invertMag = !negative;
        } else {
            lead = negative ? char(0x00) : char(0xFF);
            invertMag = !negative;
        }
        out.push_back(lead);
        for (std::uint8_t b : m) out.push_back(char(invertMag ? std::uint8_t(~b) : b));
        return;
    }
    case kText:
    case kMemo: {
        std::u16string u = toUtf16(v.rawString());
        if (u.size() > 255) u.resize(255);
        while (!u.empty() && u.back() == u' ') u.pop_back();
        Collation::get(collationOf(col)).encode(u, asc, out);
        return;
    }
    default: throw Error("column " + col.name + ": " + unindexableReason(col));
    }
}

} // namespace qm::jet
