// Exact decimal arithmetic on a 128-bit mantissa.
#include "value/value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qm {

namespace {

using i128 = Int128;

constexpr i128 pow10(int n)
{
    i128 r = 1;
    for (int i = 0; i < n; ++i)
        r *= 10;
    return r;
}

constexpr i128 kLimit = pow10(Decimal::kMaxDigits); // |mantissa| must stay below this

i128 absval(i128 v) { return v < 0 ? -v : v; }

std::string digitsOf(i128 v) // v >= 0
{
    if (v == 0)
        return "0";
    char buf[64];
    int n = 0;
    while (v > 0) {
        buf[n++] = char('0' + int(v % 10));
        v /= 10;
    }
    return std::string(std::reverse_iterator<char*>(buf + n), std::reverse_iterator<char*>(buf));
}

} // namespace

std::optional<Decimal> Decimal::parse(std::string_view text)
{
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
    };
    skipBlanks();
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    i128 mant = 0;
    int scale = 0;
    int digits = 0;
    bool any = false, point = false;
    int dropped = 0; // digits beyond 28 significant ones, before the point
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        any = true;
        if (digits == 0 && c == '0') {
            if (point)
                ++scale;
            continue;
        }
        if (digits < kMaxDigits) {
            mant = mant * 10 + (c - '0');
            ++digits;
            if (point)
                ++scale;
        } else if (!point) {
            ++dropped; // integer part too long
        }
        // fractional digits past 28 significant ones are dropped (truncated)
    }
    if (!any)
        return std::nullopt;
    int exponent = 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool eneg = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            eneg = text[i++] == '-';
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return std::nullopt;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            exponent = exponent * 10 + (text[i++] - '0');
            if (exponent > 1000)
                return std::nullopt;
        }
        if (eneg)
            exponent = -exponent;
    }
    skipBlanks();
    if (i != text.size())
        return std::nullopt;
    if (dropped > 0)
        return std::nullopt;
    // value = mant * 10^(exponent - scale)
    int s = scale - exponent;
    while (s < 0) {
        if (absval(mant) * 10 >= kLimit)
            return std::nullopt;
        mant *= 10;
        ++s;
    }
    while (s > kMaxScale) {
        // round half away from zero while dropping the last digit
        i128 rem = mant % 10;
        mant /= 10;
        if (rem >= 5)
            ++mant;
        --s;
    }
    Decimal d{negative ? -mant : mant, std::uint8_t(s)};
    return d;
}

std::optional<Decimal> Decimal::fromDouble(double v)
{
    if (!std::isfinite(v))
        return std::nullopt;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v); // the precision the platform keeps from a double
    return parse(buf);
}

double Decimal::toDouble() const
{
    return std::strtod(toString().c_str(), nullptr);
}

std::string Decimal::toString() const
{
    std::string d = digitsOf(absval(mantissa));
    if (scale > 0) {
        if (d.size() <= scale)
            d.insert(0, scale - d.size() + 1, '0');
        d.insert(d.size() - scale, 1, '.');
    }
    if (mantissa < 0)
        d.insert(0, 1, '-');
    return d;
}

std::string Decimal::toTrimmedString() const
{
    std::string s = toString();
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0')
            s.pop_back();
        if (s.back() == '.')
            s.pop_back();
    }
    if (s == "-0")
        s = "0";
    return s;
}

Decimal Decimal::rescaled(int newScale) const
{
    if (newScale < 0 || newScale > kMaxScale)
        throw OverflowError("Overflow");
    Decimal r = *this;
    while (r.scale < newScale) {
        if (absval(r.mantissa) * 10 >= kLimit)
            throw OverflowError("Overflow");
        r.mantissa *= 10;
        ++r.scale;
    }
    while (r.scale > newScale) {
        i128 rem = r.mantissa % 10;
        r.mantissa /= 10;
        if (rem >= 5)
            ++r.mantissa;
        else if (rem <= -5)
            --r.mantissa;
        --r.scale;
    }
    return r;
}

std::strong_ordering Decimal::compare(const Decimal& other) const
{
    // Scaling a 28-digit mantissa by up to 10^28 would overflow 128 bits, so
    // compare the whole parts first, then the fractions at the larger scale.
    int s = scale > other.scale ? scale : other.scale;
    auto widen = [s](const Decimal& d, i128& whole, i128& frac) {
        i128 p = pow10(d.scale);
        whole = d.mantissa / p;
        frac = (d.mantissa % p) * pow10(s - d.scale);
    };
    i128 wa, fa, wb, fb;
    widen(*this, wa, fa);
    widen(other, wb, fb);
    if (wa != wb)
        return wa < wb ? std::strong_ordering::less : std::strong_ordering::greater;
    if (fa != fb)
        return fa < fb ? std::strong_ordering::less : std::strong_ordering::greater;
    return std::strong_ordering::equal;
}

} // namespace qm
