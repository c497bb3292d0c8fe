// Expressions without tables: arithmetic that stays exact, three-valued
// logic, the functions of each dialect, conversions on insert.
#include "sql/convert.h"
#include "sql/eval.h"
#include "sql/parser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace qm::sql {
namespace {

Value eval(std::string_view expr, Dialect d = Dialect::Access) {
    Parser p(d);
    auto sel = p.parseSelect("SELECT " + std::string(expr));
    EvalContext ctx;
    ctx.dialect = d;
    return evaluate(*sel->items[0].expr, ctx);
}

std::string text(std::string_view expr, Dialect d = Dialect::Access) {
    const Value v = eval(expr, d);
    return v.isNull() ? std::string("NULL") : v.toString();
}

TEST(SqlEval, ArithmeticStaysExact) {
    EXPECT_EQ(text("0.1 + 0.2"), "0.3");
    EXPECT_EQ(text("1.10 * 3"), "3.3");
    EXPECT_EQ(text("2147483647 + 1"), "2147483648");
    EXPECT_EQ(eval("2147483647 + 1").type(), VarType::BigInt);
    EXPECT_EQ(text("9223372036854775807 + 1"), "9223372036854775808");
    EXPECT_EQ(text("$1.25 + $2.50", Dialect::FoxPro), "3.75");
    EXPECT_EQ(eval("$1.25 + $2.50", Dialect::FoxPro).type(), VarType::Currency);
    EXPECT_EQ(text("7 \\ 2"), "3");
    EXPECT_EQ(text("7 MOD 3"), "1");
    EXPECT_EQ(text("-7 % 3", Dialect::FoxPro), "2");
    EXPECT_EQ(text("2 ^ 10"), "1024");
    EXPECT_EQ(text("'12' + 3"), "15");
    EXPECT_EQ(text("'ab' + 'cd'"), "abcd");
    EXPECT_EQ(text("'ab' & 5"), "ab5");
    EXPECT_EQ(text("NULL & 'x'"), "x");
    EXPECT_EQ(text("NULL + 1"), "NULL");
    EXPECT_THROW(eval("1 / 0"), Error);
    EXPECT_THROW(eval("'abc' * 2"), Error);
    EXPECT_EQ(text("#2016-11-03# + 1"), "2016-11-04");
    EXPECT_EQ(text("#2016-11-03# - #2016-11-01#"), "2");
}

TEST(SqlEval, ThreeValuedLogicAndComparison) {
    EXPECT_EQ(text("NULL = NULL"), "NULL");
    EXPECT_EQ(text("NULL AND False"), "False");
    EXPECT_EQ(text("NULL OR True"), "True");
    EXPECT_EQ(text("NULL IS NULL"), "True");
    EXPECT_EQ(text("'abc' = 'ABC'"), "True");        // Access compares text ignoring case
    EXPECT_EQ(text("'abc  ' = 'abc'", Dialect::FoxPro), "True");  // trailing blanks do not count
    EXPECT_EQ(text("'abc  ' == 'abc'", Dialect::FoxPro), "False");
    EXPECT_EQ(text("2 BETWEEN 1 AND 3"), "True");
    EXPECT_EQ(text("5 NOT IN (1, 2, 3)"), "True");
    EXPECT_EQ(text("5 IN (1, NULL)"), "NULL");
    EXPECT_EQ(text("'10' = 10"), "True");
    EXPECT_EQ(text("#2016-11-03# = '2016-11-03'"), "True");
    EXPECT_EQ(text("'ab' $ 'xaby'", Dialect::FoxPro), "True");
}

TEST(SqlEval, LikePatterns) {
    EXPECT_TRUE(likeMatch("Hello", "h*", true, Dialect::Access));
    EXPECT_TRUE(likeMatch("Hello", "H?llo", true, Dialect::Access));
    EXPECT_TRUE(likeMatch("A1", "A#", true, Dialect::Access));
    EXPECT_FALSE(likeMatch("AB", "A#", true, Dialect::Access));
    EXPECT_TRUE(likeMatch("bat", "[a-c]at", true, Dialect::Access));
    EXPECT_FALSE(likeMatch("bat", "[!a-c]at", true, Dialect::Access));
    EXPECT_TRUE(likeMatch("Hello", "%ll_", true, Dialect::FoxPro));
    EXPECT_FALSE(likeMatch("Hello", "h%", false, Dialect::FoxPro));
    EXPECT_TRUE(likeMatch("Ärger", "ä%", true, Dialect::Access));
    EXPECT_TRUE(likeMatch("née", "n_e", true, Dialect::FoxPro));
    EXPECT_TRUE(likeMatch("", "*", true, Dialect::Access));
    EXPECT_FALSE(likeMatch("abc", "", true, Dialect::Access));
}

TEST(SqlEval, TextFunctions) {
    EXPECT_EQ(text("UCase('abc é')"), "ABC É");
    EXPECT_EQ(text("UPPER('é')", Dialect::FoxPro), "É");
    EXPECT_EQ(text("Len('né')"), "2");
    EXPECT_EQ(text("Left('héllo', 2)"), "hé");
    EXPECT_EQ(text("Right('héllo', 3)"), "llo");
    EXPECT_EQ(text("Mid('héllo', 2, 3)"), "éll");
    EXPECT_EQ(text("SUBSTR('hello', 2)", Dialect::FoxPro), "ello");
    EXPECT_EQ(text("Trim('  a  ')"), "a");
    EXPECT_EQ(text("TRIM('  a  ')", Dialect::FoxPro), "  a");  // FoxPro TRIM keeps leading blanks
    EXPECT_EQ(text("ALLTRIM('  a  ')", Dialect::FoxPro), "a");
    EXPECT_EQ(text("InStr('Hello', 'L')"), "3");
    EXPECT_EQ(text("AT('l', 'Hello', 2)", Dialect::FoxPro), "4");
    EXPECT_EQ(text("Replace('a-b-c', '-', '+')"), "a+b+c");
    EXPECT_EQ(text("PADL('7', 3, '0')", Dialect::FoxPro), "007");
    EXPECT_EQ(text("STR(3.14159, 6, 2)", Dialect::FoxPro), "  3.14");
    EXPECT_EQ(text("STR(123456, 3)", Dialect::FoxPro), "***");
    EXPECT_EQ(text("Nz(NULL, 'none')"), "none");
    EXPECT_EQ(text("NVL(NULL, 5)", Dialect::FoxPro), "5");
    EXPECT_EQ(text("IIf(1 > 2, 1 / 0, 'safe')"), "safe"); // the branch not taken is not evaluated
    EXPECT_THROW(eval("Left('abc', -1)"), Error);
    EXPECT_THROW(eval("SPACE(100000000)", Dialect::FoxPro), Error);
    EXPECT_THROW(eval("NoSuchFunction(1)"), Error);
}

TEST(SqlEval, TextsOverTheLimitAreRefusedBeforeTheyAreMade) {
    // Each of these once built gigabytes, or ran for minutes, before failing.
    for (const char* e : {"PADL('x', 2000000000)", "PADR('x', 9000000000000000000, '*')",
                          "SPACE(9000000) + SPACE(9000000)", "SPACE(9000000) - SPACE(9000000)"})
        EXPECT_THROW(eval(e, Dialect::FoxPro), Error) << e;
    for (const char* e : {"Space(9000000) & Space(9000000)", "Replace(Space(5000000), ' ', 'abcd')"})
        EXPECT_THROW(eval(e), Error) << e;
    try {
        eval("PADL('x', 2000000000)", Dialect::FoxPro);
    } catch (const Error& err) {
        EXPECT_NE(std::strstr(err.what(), "PADL"), nullptr) << err.what();
    }
    // Up to the limit they are made.
    EXPECT_EQ(text("LEN(SPACE(8388592) + SPACE(8388592))", Dialect::FoxPro), "16777184");
    EXPECT_EQ(text("Len(Replace(Space(4000000), ' ', 'abcd'))"), "16000000");
    EXPECT_EQ(text("LEN(PADR('x', 16777184, '*'))", Dialect::FoxPro), "16777184");
}

TEST(SqlEval, DateAndNumberFunctions) {
    EXPECT_EQ(text("Date(2016,11,3)", Dialect::FoxPro), "2016-11-03");
    EXPECT_EQ(text("Date(2016,11,3)", Dialect::Access), "2016-11-03"); // the FoxPro script form also runs on Access
    EXPECT_EQ(text("DateTime(2016,11,3,10,30,0)", Dialect::FoxPro), "2016-11-03 10:30:00");
    EXPECT_THROW(eval("Date(2016,2,30)", Dialect::FoxPro), Error);
    EXPECT_EQ(text("DateSerial(2016, 13, 1)"), "2017-01-01");
    EXPECT_EQ(text("Year(#2016-11-03#)"), "2016");
    EXPECT_EQ(text("Month('2016-11-03')"), "11");
    EXPECT_EQ(text("DTOS({^2016-11-03})", Dialect::FoxPro), "20161103");
    EXPECT_EQ(text("Int(-2.5)"), "-3");
    EXPECT_EQ(text("INT(-2.5)", Dialect::FoxPro), "-2");
    EXPECT_EQ(text("Round(2.345, 2)"), "2.35");
    EXPECT_EQ(text("Abs(-4)"), "4");
    EXPECT_EQ(text("CInt(2.5)"), "2"); // half to even
    EXPECT_THROW(eval("CInt(40000)"), OverflowError);
    EXPECT_EQ(text("EMPTY('   ')", Dialect::FoxPro), "True");
}

storage::ColumnDef col(storage::ColumnType t, int size = 0, int precision = 0, int scale = 0, bool nullable = true) {
    storage::ColumnDef c;
    c.name = "F";
    c.type = t;
    c.size = size;
    c.precision = precision;
    c.scale = scale;
    c.nullable = nullable;
    return c;
}

TEST(SqlConvert, ValuesIntoColumns) {
    using T = storage::ColumnType;
    EXPECT_EQ(convertForColumn(Value::string(" 42 "), col(T::Long), "T").rawInt(), 42);
    EXPECT_EQ(convertForColumn(Value::string("2016-11-03 10:30"), col(T::DateTime), "T").rawDouble(),
              date::fromParts(2016, 11, 3, 10, 30));
    EXPECT_EQ(convertForColumn(Value::string("12.345"), col(T::Decimal, 0, 10, 2), "T").rawDecimal().toString(), "12.35");
    EXPECT_EQ(convertForColumn(Value::string("1.5"), col(T::Currency), "T").rawInt(), 15000);
    EXPECT_TRUE(convertForColumn(Value::string("yes"), col(T::Boolean), "T").toBool());
    EXPECT_EQ(convertForColumn(Value::longInt(7), col(T::VarChar, 5), "T").rawString(), "7");
    EXPECT_TRUE(convertForColumn(Value::string(""), col(T::Long), "T").isNull());
    EXPECT_TRUE(convertForColumn(Value(), col(T::Long, 0, 0, 0, false), "T").isEmpty()); // not given stays not given
}

TEST(SqlConvert, RefusalsNameFieldAndValue) {
    using T = storage::ColumnType;
    auto message = [](Value v, const storage::ColumnDef& c) {
        try {
            convertForColumn(std::move(v), c, "Orders");
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("(accepted)");
    };
    storage::ColumnDef name = col(T::VarChar, 49);
    name.name = "Name";
    EXPECT_EQ(message(Value::string(std::string(50, 'x')), name),
              "The field 'Orders.Name' is too small to accept the amount of data you attempted to add (50 characters, field holds 49): '"
                  + std::string(50, 'x') + "'.");
    // Characters, not bytes, are counted.
    EXPECT_EQ(message(Value::string("ééééé"), col(T::VarChar, 5)), "(accepted)");
    EXPECT_EQ(message(Value::string("abc"), col(T::Long)), "The value 'abc' cannot be stored in the field 'Orders.F': it is not a number.");
    EXPECT_EQ(message(Value::string("70000"), col(T::Integer)),
              "The value '70000' cannot be stored in the field 'Orders.F': an Integer field holds -32768 to 32767.");
    EXPECT_EQ(message(Value::longInt(256), col(T::Byte)),
              "The value '256' cannot be stored in the field 'Orders.F': a Byte field holds 0 to 255.");
    EXPECT_EQ(message(Value::string("2016-02-30"), col(T::DateTime)),
              "The value '2016-02-30' cannot be stored in the field 'Orders.F': it is not a date.");
    EXPECT_EQ(message(Value::string("123.4"), col(T::Decimal, 0, 4, 2)),
              "The value '123.4' cannot be stored in the field 'Orders.F': it has more digits than Decimal(4,2) holds.");
    EXPECT_EQ(message(Value::null(), col(T::Long, 0, 0, 0, false)),
              "You tried to assign the Null value to the field 'Orders.F', which does not accept Null.");
    EXPECT_EQ(message(Value::string("not-a-guid"), col(T::Guid)),
              "The value 'not-a-guid' cannot be stored in the field 'Orders.F': it is not a GUID.");
}

} // namespace
} // namespace qm::sql

namespace qm::sql {
namespace {

TEST(SqlConvert, DecimalsIntoDoubleFieldsAreTheNearestDouble) {
    // Whatever way the conversion takes, it must give the double nearest
    // to the decimal, as reading the decimal's text does.
    storage::ColumnDef dbl;
    dbl.name = "f";
    dbl.type = storage::ColumnType::Double;
    dbl.nullable = true;
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    auto next = [&] { x ^= x << 13; x ^= x >> 7; x ^= x << 17; return x; };
    for (int i = 0; i < 20000; ++i) {
        Decimal d;
        const int bits = 1 + static_cast<int>(next() % 63);
        const auto magnitude = static_cast<std::int64_t>(next() >> (64 - bits));
        d.mantissa = (next() & 1) ? -magnitude : magnitude;
        d.scale = static_cast<std::uint8_t>(next() % 29);
        const Value v = convertForColumn(Value::decimal(d), dbl, "t");
        ASSERT_EQ(v.type(), VarType::Double);
        const double expected = d.toDouble();
        const double got = v.rawDouble();
        ASSERT_EQ(std::memcmp(&expected, &got, sizeof expected), 0)
            << Value::decimal(d).toString() << ": " << v.rawDouble() << " instead of " << expected;
    }
    for (const char* text : {"5.5", "0.1", "1234.25", "9007199254740993", "0.3", "-0.000001", "123456789.123456789"}) {
        const auto d = Decimal::parse(text);
        ASSERT_TRUE(d);
        EXPECT_EQ(convertForColumn(Value::decimal(*d), dbl, "t").rawDouble(), std::strtod(text, nullptr)) << text;
    }
}

} // namespace
} // namespace qm::sql
