// The platform date: a double counting days from 1899-12-30.
//
//   serial   meaning
//   0.0      1899-12-30 00:00
//   2.5      1900-01-01 12:00
//  -1.25     1899-12-29 06:00   (whole part: days back; fraction: time of day)
//  -0.5      1899-12-30 12:00   (same moment as 0.5)
#include "value/value.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace qm::date {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (era arithmetic).
long long daysFromCivil(long long y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

void civilFromDays(long long z, int& y, int& m, int& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yy + (m <= 2));
}

const long long kEpoch = daysFromCivil(1899, 12, 30);

DateParts partsFrom(double serial, long long unitsPerDay)
{
    if (!std::isfinite(serial) || serial > 2958466.0 || serial < -657435.0)
        throw Error("Invalid date value");
    double whole = serial >= 0 ? std::floor(serial) : std::ceil(serial);
    double frac = std::fabs(serial - whole);
    long long days = (long long)whole;
    long long units = std::llround(frac * double(unitsPerDay));
    if (units >= unitsPerDay) {
        units -= unitsPerDay;
        days += 1;
    }
    DateParts p;
    civilFromDays(days + kEpoch, p.year, p.month, p.day);
    long long ms = unitsPerDay == 86400 ? units * 1000 : units;
    p.hour = int(ms / 3600000);
    p.minute = int(ms / 60000 % 60);
    p.second = int(ms / 1000 % 60);
    p.millisecond = int(ms % 1000);
    return p;
}

struct Cursor {
    std::string_view s;
    size_t i = 0;
    bool end() const { return i >= s.size(); }
    char peek() const { return end() ? '\0' : s[i]; }
    void blanks()
    {
        while (!end() && (s[i] == ' ' || s[i] == '\t'))
            ++i;
    }
    // Reads 1..maxDigits digits; returns the count read.
    int number(int& out, int maxDigits)
    {
        int n = 0;
        out = 0;
        while (!end() && n < maxDigits && std::isdigit((unsigned char)s[i])) {
            out = out * 10 + (s[i++] - '0');
            ++n;
        }
        return n;
    }
};

bool parseTime(Cursor& c, int& h, int& mi, int& ss, int& ms)
{
    h = mi = ss = ms = 0;
    if (c.number(h, 2) == 0 || c.peek() != ':')
        return false;
    ++c.i;
    if (c.number(mi, 2) != 2)
        return false;
    if (c.peek() == ':') {
        ++c.i;
        if (c.number(ss, 2) != 2)
            return false;
        if (c.peek() == '.') {
            ++c.i;
            int frac = 0, n = c.number(frac, 3);
            if (n == 0)
                return false;
            while (n++ < 3)
                frac *= 10;
            ms = frac;
            int extra;
            c.number(extra, 9); // finer fractions are dropped
        }
    }
    c.blanks();
    if (!c.end() && (c.peek() == 'A' || c.peek() == 'a' || c.peek() == 'P' || c.peek() == 'p')) {
        bool pm = c.peek() == 'P' || c.peek() == 'p';
        ++c.i;
        if (c.peek() != 'M' && c.peek() != 'm')
            return false;
        ++c.i;
        if (h < 1 || h > 12)
            return false;
        if (pm && h != 12)
            h += 12;
        if (!pm && h == 12)
            h = 0;
    }
    return h < 24 && mi < 60 && ss < 60;
}

int expandYear(int y, int digits)
{
    if (digits <= 2)
        return y < 30 ? 2000 + y : 1900 + y;
    return y;
}

} // namespace

bool isValidDate(int y, int m, int d)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1)
        return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

double fromParts(int y, int m, int d, int hh, int mi, int ss, int ms)
{
    if (!isValidDate(y, m, d) || hh < 0 || hh > 23 || mi < 0 || mi > 59 || ss < 0 || ss > 59 || ms < 0 || ms > 999) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "Invalid date %04d-%02d-%02d %02d:%02d:%02d", y, m, d, hh, mi, ss);
        throw Error(buf);
    }
    long long days = daysFromCivil(y, unsigned(m), unsigned(d)) - kEpoch;
    double time = (double(hh) * 3600000.0 + double(mi) * 60000.0 + double(ss) * 1000.0 + double(ms)) / 86400000.0;
    return days >= 0 ? double(days) + time : double(days) - time;
}

double fromParts(const DateParts& p)
{
    return fromParts(p.year, p.month, p.day, p.hour, p.minute, p.second, p.millisecond);
}

DateParts toParts(double serial) { return partsFrom(serial, 86400000LL); }

DateParts toPartsRoundedToSecond(double serial) { return partsFrom(serial, 86400LL); }

std::optional<double> parse(std::string_view text)
{
    Cursor c{text};
    c.blanks();
    size_t start = c.i;
    int a = 0, b = 0, d = 0;
    int na = c.number(a, 4);
    int y = 1899, m = 12, day = 30;
    bool haveDate = false;
    if (na > 0 && (c.peek() == '-' || c.peek() == '/' || c.peek() == '.')) {
        char sep = c.peek();
        ++c.i;
        int nb = c.number(b, 2);
        if (nb == 0 || c.peek() != sep)
            return std::nullopt;
        ++c.i;
        int nd = c.number(d, 4);
        if (nd == 0)
            return std::nullopt;
        if (na == 4) { // year first
            y = a;
            m = b;
            day = d;
            if (nd > 2)
                return std::nullopt;
        } else { // month first, as the US locale writes dates
            m = a;
            day = b;
            y = expandYear(d, nd);
        }
        haveDate = true;
    } else {
        c.i = start;
    }
    int h = 0, mi = 0, ss = 0, ms = 0;
    bool haveTime = false;
    if (haveDate) {
        if (c.peek() == 'T' || c.peek() == 't')
            ++c.i;
        c.blanks();
    }
    if (!c.end()) {
        if (!parseTime(c, h, mi, ss, ms))
            return std::nullopt;
        haveTime = true;
    }
    c.blanks();
    if (!c.end() || (!haveDate && !haveTime))
        return std::nullopt;
    if (!isValidDate(y, m, day))
        return std::nullopt;
    return fromParts(y, m, day, h, mi, ss, ms);
}

std::string toIso(double serial, bool dateOnly)
{
    DateParts p = toPartsRoundedToSecond(serial);
    char buf[40];
    if (dateOnly)
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
    else
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return buf;
}

} // namespace qm::date
