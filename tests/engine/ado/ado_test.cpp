#include "ado/ado.h"

#include <gtest/gtest.h>

using namespace qm;
using namespace qm::ado;

TEST(AdoTypeNames, EveryCodeOfTheEnumerationAndNothingElse)
{
    EXPECT_EQ(AdoTypeName(0).toString(), "adEmpty");
    EXPECT_EQ(AdoTypeName(8).toString(), "adBSTR");
    EXPECT_EQ(AdoTypeName(72).toString(), "adGUID");
    EXPECT_EQ(AdoTypeName(203).toString(), "adLongVarWChar");
    EXPECT_EQ(AdoTypeName(139).toString(), "adVarNumeric");
    EXPECT_TRUE(AdoTypeName(1).isEmpty());
    EXPECT_TRUE(AdoTypeName(137).isEmpty());
    EXPECT_TRUE(AdoTypeName(std::int16_t(8192 | 202)).isEmpty());
    int named = 0;
    for (int code = -32768; code <= 32767; ++code)
        if (!AdoTypeName(std::int16_t(code)).isEmpty())
            ++named;
    EXPECT_EQ(named, 39);
    std::int16_t code = 203;
    std::string lower = AdoTypeName(code).toString();
    for (char& c : lower)
        c = char(std::tolower((unsigned char)c));
    EXPECT_EQ(lower, "adlongvarwchar");
    EXPECT_EQ(code, 203);
}

TEST(ConnectionStrings, KeysIgnoreCaseAndValuesKeepTheirText)
{
    auto cs = ConnectionString::parse(
        "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/home/ann/My Orders.mdb;JET OLEDB:Database Password=pw");
    EXPECT_EQ(cs.value("provider"), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(cs.value("DATA SOURCE"), "/home/ann/My Orders.mdb");
    EXPECT_EQ(cs.value("Jet OLEDB:Database Password"), "pw");
    // A ';' ends the value unless the value is quoted; a stray word is a format error.
    EXPECT_THROW(ConnectionString::parse("Provider=x;JET OLEDB:Database Password=p;w"), AdoError);
    EXPECT_EQ(ConnectionString::parse("Provider=x;JET OLEDB:Database Password=\"p;w\"").value("jet oledb:database password"), "p;w");
    auto quoted = ConnectionString::parse("Provider=vfpoledb.1;Data Source=\"C:\\a;b\";Collating Sequence=general;");
    EXPECT_EQ(quoted.value("data source"), "C:\\a;b");
    EXPECT_EQ(quoted.value("Collating Sequence"), "general");
    EXPECT_FALSE(quoted.get("Extended Properties"));
    auto doubled = ConnectionString::parse("Password='it''s';Provider=x");
    EXPECT_EQ(doubled.value("password"), "it's");
    EXPECT_EQ(ConnectionString::parse("Data Source=;Provider=a").value("Data Source"), "");
    EXPECT_THROW(ConnectionString::parse("Provider=\"unterminated"), AdoError);
}

TEST(Connections, UnknownProviderAndClosedObjectsFailAsAdoDoes)
{
    Connection c;
    try {
        c.Open("Provider=NoSuch.Provider.1;Data Source=x");
        FAIL() << "opened an unknown provider";
    } catch (const AdoError& e) {
        EXPECT_STREQ(e.what(), "Provider cannot be found. It may not be properly installed.");
    }
    EXPECT_EQ(c.State(), adStateClosed);
    EXPECT_THROW(c.Close(), AdoError);
    EXPECT_THROW(c.Execute("DROP TABLE x"), AdoError);
    Recordset rs;
    EXPECT_THROW(rs.MoveNext(), AdoError);
    EXPECT_EQ(rs.State(), adStateClosed);
    Catalog cat;
    EXPECT_THROW(cat.AppendTable("t", {}), AdoError);
}
