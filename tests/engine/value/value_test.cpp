#include "value/value.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qm;

namespace {

DateParts parts(double serial) { return date::toParts(serial); }

void expectParts(double serial, int y, int m, int d, int hh = 0, int mi = 0, int ss = 0)
{
    DateParts p = parts(serial);
    EXPECT_EQ(p.year, y) << serial;
    EXPECT_EQ(p.month, m) << serial;
    EXPECT_EQ(p.day, d) << serial;
    EXPECT_EQ(p.hour, hh) << serial;
    EXPECT_EQ(p.minute, mi) << serial;
    EXPECT_EQ(p.second, ss) << serial;
}

} // namespace

TEST(Dates, SerialsAroundTheEpochFollowThePlatformRule)
{
    expectParts(0.0, 1899, 12, 30);
    expectParts(2.5, 1900, 1, 1, 12);
    // Before the epoch the whole part counts back, the fraction still runs forward.
    expectParts(-1.25, 1899, 12, 29, 6);
    expectParts(-0.5, 1899, 12, 30, 12);
    EXPECT_DOUBLE_EQ(date::fromParts(1899, 12, 29, 6), -1.25);
    EXPECT_DOUBLE_EQ(date::fromParts(1899, 12, 30, 12), 0.5);
    expectParts(date::fromParts(1753, 1, 1, 23, 59, 59), 1753, 1, 1, 23, 59, 59);
    expectParts(date::fromParts(100, 1, 1), 100, 1, 1);
    expectParts(date::fromParts(9999, 12, 31, 23, 59, 59), 9999, 12, 31, 23, 59, 59);
    EXPECT_DOUBLE_EQ(date::fromParts(2016, 11, 3), 42677.0);
}

TEST(Dates, RoundingToTheSecondCarriesIntoTheNextDay)
{
    double almostMidnight = date::fromParts(2016, 11, 3, 23, 59, 59, 700);
    EXPECT_EQ(date::toIso(almostMidnight), "2016-11-04 00:00:00");
    double beforeEpoch = date::fromParts(1850, 6, 1, 23, 59, 59, 600);
    EXPECT_EQ(date::toIso(beforeEpoch), "1850-06-02 00:00:00");
    EXPECT_EQ(date::toIso(date::fromParts(1850, 6, 1, 10, 30)), "1850-06-01 10:30:00");
}

TEST(Dates, ParsesTheFormsPeopleAndBothDialectsWrite)
{
    EXPECT_EQ(date::parse("2016-11-03"), date::fromParts(2016, 11, 3));
    EXPECT_EQ(date::parse(" 2016/11/03 10:30:45 "), date::fromParts(2016, 11, 3, 10, 30, 45));
    EXPECT_EQ(date::parse("11/03/2016"), date::fromParts(2016, 11, 3));
    EXPECT_EQ(date::parse("2016-11-03T10:30"), date::fromParts(2016, 11, 3, 10, 30));
    EXPECT_EQ(date::parse("11/3/16 1:05 PM"), date::fromParts(2016, 11, 3, 13, 5));
    EXPECT_EQ(date::parse("12:00 AM"), date::fromParts(1899, 12, 30, 0, 0));
    EXPECT_FALSE(date::parse("2016-02-30"));
    EXPECT_FALSE(date::parse("2016-11-03 25:00"));
    EXPECT_FALSE(date::parse("hello"));
    EXPECT_FALSE(date::parse(""));
    EXPECT_FALSE(date::parse("2016-11-03x"));
    EXPECT_THROW(date::fromParts(2015, 2, 29), Error);
}

TEST(Decimals, ParseKeepsScaleAndPrintsPlainNotation)
{
    auto d = Decimal::parse("12.50");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->scale, 2);
    EXPECT_EQ(d->toString(), "12.50");
    EXPECT_EQ(d->toTrimmedString(), "12.5");
    EXPECT_EQ(Decimal::parse("-0.0001")->toString(), "-0.0001");
    EXPECT_EQ(Decimal::parse("1e3")->toTrimmedString(), "1000");
    EXPECT_EQ(Decimal::parse("-1.5E-3")->toString(), "-0.0015");
    EXPECT_EQ(Decimal::parse("9999999999999999999999999999")->toString(), "9999999999999999999999999999");
    EXPECT_FALSE(Decimal::parse("99999999999999999999999999999")); // 29 digits
    EXPECT_FALSE(Decimal::parse("1.2.3"));
    EXPECT_FALSE(Decimal::parse("."));
    EXPECT_EQ(Decimal::parse("100")->toTrimmedString(), "100");
    EXPECT_EQ(Decimal::parse("-0.000")->toTrimmedString(), "0");
}

TEST(Decimals, CompareAndRescaleExactly)
{
    auto a = *Decimal::parse("1.10"), b = *Decimal::parse("1.1");
    EXPECT_EQ(a.compare(b), std::strong_ordering::equal);
    EXPECT_EQ(Decimal::parse("-2")->compare(*Decimal::parse("-1.9999999999999999999999999")), std::strong_ordering::less);
    EXPECT_EQ(Decimal::parse("0.1234567890123456789012345678")->compare(*Decimal::parse("0.1234567890123456789012345677")),
              std::strong_ordering::greater);
    EXPECT_EQ(Decimal::parse("2.345")->rescaled(2).toString(), "2.35");
    EXPECT_EQ(Decimal::parse("-2.345")->rescaled(2).toString(), "-2.35");
    EXPECT_THROW(Decimal::parse("9999999999999999999999999999")->rescaled(1), OverflowError);
}

TEST(Values, TextFormIsLocaleIndependent)
{
    EXPECT_EQ(Value::dbl(1.5).toString(), "1.5");
    EXPECT_EQ(Value::dbl(0.1 + 0.2).toString(), "0.3");
    EXPECT_EQ(Value::dbl(1e20).toString(), "1E+20");
    EXPECT_EQ(Value::single(1.1f).toString(), "1.1");
    EXPECT_EQ(Value::currency(15000).toString(), "1.5");
    EXPECT_EQ(Value::currency(-1).toString(), "-0.0001");
    EXPECT_EQ(Value::boolean(true).toString(), "True");
    EXPECT_EQ(Value::integer(-32768).toString(), "-32768");
    EXPECT_EQ(Value::date(date::fromParts(2016, 11, 3)).toString(), "2016-11-03");
    EXPECT_EQ(Value::date(date::fromParts(2016, 11, 3, 10, 30)).toString(), "2016-11-03 10:30:00");
    EXPECT_EQ(Value::date(0.75).toString(), "18:00:00");
    EXPECT_EQ(Value().toString(), "");
    EXPECT_THROW(Value::null().toString(), Error);
}

TEST(Values, NumericConversionsRoundHalfToEvenAndReportOverflow)
{
    EXPECT_EQ(Value::dbl(2.5).toInt16(), 2);
    EXPECT_EQ(Value::dbl(3.5).toInt16(), 4);
    EXPECT_EQ(Value::string(" 32767 ").toInt16(), 32767);
    EXPECT_THROW(Value::string("32768").toInt16(), OverflowError);
    EXPECT_THROW(Value::longInt(-40000).toInt16(), OverflowError);
    EXPECT_THROW(Value::string("abc").toInt32(), Error);
    EXPECT_EQ(Value::currency(25000).toInt32(), 2);
    EXPECT_EQ(Value::currency(35000).toInt32(), 4);
    EXPECT_EQ(Value::decimal(*Decimal::parse("-2.5")).toInt64(), -2);
    EXPECT_EQ(Value::string("12.345").toCurrency(), 123450);
    EXPECT_EQ(Value::dbl(0.00005).toCurrency(), 0); // half to even
    EXPECT_THROW(Value::dbl(1e300).toCurrency(), OverflowError);
    EXPECT_EQ(Value::boolean(true).toInt16(), -1);
    EXPECT_TRUE(Value::string("true").toBool());
    EXPECT_FALSE(Value::string("0").toBool());
    EXPECT_THROW(Value::null().toInt16(), Error);
}

TEST(Values, DatesFromTextAndNumbers)
{
    EXPECT_TRUE(Value::string("2016-11-03").isDate());
    EXPECT_TRUE(Value::date(1).isDate());
    EXPECT_FALSE(Value::string("03.11.2016x").isDate());
    EXPECT_FALSE(Value::longInt(5).isDate());
    EXPECT_DOUBLE_EQ(Value::string("2016-11-03").toDate(), 42677.0);
    EXPECT_DOUBLE_EQ(Value::dbl(2.5).toDate(), 2.5);
    EXPECT_THROW(Value::string("soon").toDate(), Error);
}

TEST(Values, ExactComparison)
{
    EXPECT_EQ(Value::longInt(3), Value::dbl(3.0));
    EXPECT_EQ(Value::currency(15000), Value::decimal(*Decimal::parse("1.5")));
    // 2^53 + 1 is not representable as a double: an exact comparison must see it.
    EXPECT_NE(Value::bigInt(9007199254740993LL), Value::decimal(*Decimal::parse("9007199254740992")));
    EXPECT_EQ(Value::string("a").compare(Value::string("b")), std::partial_ordering::less);
    EXPECT_EQ(Value::null(), Value::null());
    EXPECT_EQ(Value::null().compare(Value::longInt(0)), std::partial_ordering::less);
    EXPECT_EQ(Value::string("1").compare(Value::longInt(1)), std::partial_ordering::unordered);
}

TEST(Values, GuidTextRoundTripKeepsStorageOrder)
{
    auto g = Guid::parse("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->bytes[0], 0xFF);
    EXPECT_EQ(g->bytes[3], 0x6F);
    EXPECT_EQ(g->bytes[8], 0xB4);
    EXPECT_EQ(Value::guid(*g).toString(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    EXPECT_EQ(Guid::parse("6f9619ff-8b86-d011-b42d-00c04fc964ff")->toString(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    EXPECT_FALSE(Guid::parse("{6F9619FF-8B86-D011-B42D-00C04FC964F}"));
}

TEST(Values, Utf16LengthCountsSurrogatePairs)
{
    EXPECT_EQ(utf16Length("abc"), 3u);
    EXPECT_EQ(utf16Length("\xC3\xA9t\xC3\xA9"), 3u);        // été
    EXPECT_EQ(utf16Length("\xF0\x9F\x98\x80"), 2u);          // an emoji
    EXPECT_EQ(shortestDouble(0.1), "0.1");
    EXPECT_EQ(shortestSingle(0.1f), "0.1");
    EXPECT_EQ(shortestDouble(1e21), "1e+21");
}
