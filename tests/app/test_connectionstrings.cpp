// The connection strings: exact texts for the ordinary cases, and paths or
// passwords with separators that still reach the provider unchanged.

#include "ado/ado.h"
#include "app_test.h"
#include "dataaccess/connectionstrings.h"

using namespace qm::dataaccess;

namespace {

ConnectionFields fields(bool option1, QString t1, QString t2, QString t3 = {}, QString t4 = {})
{
    return ConnectionFields{option1, std::move(t1), std::move(t2), std::move(t3), std::move(t4)};
}

TEST(FoxProConnectionStringTest, CollatingSequenceFollowsTheKindOfSource)
{
    EXPECT_EQ(FoxProConnectionString(fields(true, "C:\\data\\shop.dbc", "C:\\free")),
              "Provider=vfpoledb.1;Data Source=C:\\data\\shop.dbc;Collating Sequence=machine;");
    EXPECT_EQ(FoxProConnectionString(fields(false, "C:\\data\\shop.dbc", "/srv/free tables")),
              "Provider=vfpoledb.1;Data Source=/srv/free tables;Collating Sequence=general;");
    EXPECT_EQ(FoxProConnectionString(fields(false, "x", "")),
              "Provider=vfpoledb.1;Data Source=;Collating Sequence=general;");
}

TEST(AccessConnectionStringTest, ProviderFollowsTheLastFiveCharacters)
{
    const ConnectionFields none;
    EXPECT_EQ(AccessConnectionString("/d/Sales.ACCDB", "pw", none),
              "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/Sales.ACCDB;JET OLEDB:Database Password=pw");
    EXPECT_EQ(AccessConnectionString("/d/sales.mdb", "", none),
              "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/d/sales.mdb;JET OLEDB:Database Password=");
    EXPECT_EQ(AccessConnectionString("/d/sales", "", none),
              "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/d/sales;JET OLEDB:Database Password=");
}

TEST(AccessConnectionStringTest, AnEmptyPathTakesTheWindowsFileAndPassword)
{
    const auto window = fields(true, "", "", "/d/window.accdb", "windowpw");
    EXPECT_EQ(AccessConnectionString("", "ignored", window),
              "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/window.accdb;JET OLEDB:Database Password=windowpw");
}

TEST(AccessConnectionStringTest, WithoutAConnectionWindowAnEmptyPathIsAnError)
{
    SetConnectionFieldsSource({});
    EXPECT_THROW(AccessConnectionString("", ""), qm::Error);
    EXPECT_NO_THROW(AccessConnectionString("/d/x.mdb", ""));
}

TEST(ConnectionStringValues, EveryPasswordAndPathReadsBackAsTyped)
{
    // What the facade's parser makes of the string is what the provider
    // gets: it has to be the text the user typed, character for character.
    const QStringList values = {"plain",      "semi;colon", "\"starts with quote", "'single",
                                " leading",   "trailing ",  "a=b",                 "both \" and ;",
                                "Zürich ✓", ""};
    for (const QString& v : values) {
        const auto cs = qm::ado::ConnectionString::parse(
            AccessConnectionString("/d/" + v + ".mdb", v, ConnectionFields{}).toStdString());
        EXPECT_EQ(QString::fromStdString(cs.value("JET OLEDB:Database Password")), v) << v.toStdString();
        EXPECT_EQ(QString::fromStdString(cs.value("Data Source")), "/d/" + v + ".mdb") << v.toStdString();
        const auto fox = qm::ado::ConnectionString::parse(
            FoxProConnectionString(fields(false, {}, v)).toStdString());
        EXPECT_EQ(QString::fromStdString(fox.value("Data Source")), v) << v.toStdString();
        EXPECT_EQ(QString::fromStdString(fox.value("Collating Sequence")), "general");
    }
    EXPECT_EQ(ConnectionStringValue("ordinary path"), "ordinary path"); // untouched when safe
}

} // namespace
