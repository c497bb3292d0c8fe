// Saved queries: kinds in the catalog and the SQL text rebuilt from
// MSysQueries, against the SQL the origin's own tests assert for the
// queryTest files (one per file generation).
#include "jet_test_util.h"

#include <gtest/gtest.h>

#include <map>

using namespace qm;
using qm::jet::test::truthText;

namespace {

// Our text uses CR LF line breaks and ends with a line break, as Access's
// SQL view does; the truth joins lines with LF and stops at the semicolon.
std::string asTruthWritesIt(std::string sql) {
    std::string out;
    for (std::size_t k = 0; k < sql.size(); ++k)
        if (!(sql[k] == '\r' && k + 1 < sql.size() && sql[k + 1] == '\n')) out.push_back(sql[k]);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Unescapes the JSON string starting at text[at] (just after the quote).
std::string jsonString(const std::string& text, std::size_t& at) {
    std::string out;
    while (at < text.size() && text[at] != '"') {
        char c = text[at++];
        if (c == '\\' && at < text.size()) {
            char e = text[at++];
            switch (e) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': out.push_back(char(std::stoi(text.substr(at, 4), nullptr, 16))); at += 4; break;
            default: out.push_back(e);
            }
        } else {
            out.push_back(c);
        }
    }
    ++at;
    return out;
}

std::map<std::string, std::string> expectedSql(const std::string& truth) {
    std::map<std::string, std::string> out;
    const auto start = truth.find("\"expected_sql_from_origin_tests\"");
    if (start == std::string::npos) return out;
    std::size_t at = truth.find('{', start) + 1;
    const std::size_t end = truth.find('}', at);
    while (true) {
        const auto q = truth.find('"', at);
        if (q == std::string::npos || q > end) break;
        at = q + 1;
        std::string name = jsonString(truth, at);
        at = truth.find('"', at) + 1;
        out[name] = jsonString(truth, at);
    }
    return out;
}

class QueryTestFile : public ::testing::TestWithParam<std::string> {};

TEST_P(QueryTestFile, SqlMatchesTheOriginsExpectations) {
    QM_REQUIRE_SHARED();
    const std::string rel = "access/jackcess/" + GetParam();
    const auto expected = expectedSql(truthText(rel));
    ASSERT_EQ(expected.size(), 9u) << "the truth file lists nine queries";
    auto db = jet::openDatabase(qm::test::fixture(rel).string(), {});
    for (const auto& [name, sql] : expected) EXPECT_EQ(asTruthWritesIt(db->querySql(name)), sql) << name;
}

TEST_P(QueryTestFile, CatalogKindsFollowTheQueryType) {
    QM_REQUIRE_SHARED();
    auto db = jet::openDatabase(qm::test::fixture("access/jackcess/" + GetParam()).string(), {});
    using storage::ObjectKind;
    using storage::QueryKind;
    const std::map<std::string, QueryKind> kinds = {
        {"SelectQuery", QueryKind::Select},        {"DeleteQuery", QueryKind::Action},
        {"AppendQuery", QueryKind::Action},        {"UpdateQuery", QueryKind::Action},
        {"MakeTableQuery", QueryKind::Action},     {"CrosstabQuery", QueryKind::Crosstab},
        {"UnionQuery", QueryKind::Union},          {"PassthroughQuery", QueryKind::PassThrough},
        {"DataDefinitionQuery", QueryKind::DataDefinition},
    };
    for (const auto& [name, kind] : kinds) {
        auto e = db->find(name);
        ASSERT_TRUE(e) << name;
        EXPECT_EQ(e->queryKind, kind) << name;
        // Only a select query without parameters is a VIEW in the table schema.
        EXPECT_EQ(e->tableType, kind == QueryKind::Select ? "VIEW" : "") << name;
        EXPECT_EQ(e->kind, kind == QueryKind::Select ? ObjectKind::View : ObjectKind::Query) << name;
    }
    EXPECT_EQ(db->find("table1")->tableType, "TABLE") << "names match ignoring case";
}

INSTANTIATE_TEST_SUITE_P(Generations, QueryTestFile,
                         ::testing::Values("V1997/queryTestV1997.mdb", "V2000/queryTestV2000.mdb",
                                           "V2007/queryTestV2007.accdb", "V2010/queryTestV2010.accdb"),
                         [](const auto& info) { return info.param.substr(0, 5); });

// Queries of real databases: parameters, aliases, nested joins, VALUES.
TEST(SavedQueries, NorthwindAndOthers) {
    QM_REQUIRE_SHARED();
    auto nwind = jet::openDatabase(qm::test::fixture("access/mdbtestdata/nwind.mdb").string(), {});
    EXPECT_EQ(asTruthWritesIt(nwind->querySql("Current Product List")),
              "SELECT [Product List].ProductID, [Product List].ProductName\n"
              "FROM Products AS [Product List]\n"
              "WHERE ((([Product List].Discontinued)=No))\n"
              "ORDER BY [Product List].ProductName;");
    const std::string byCategory = asTruthWritesIt(nwind->querySql("Sales by Category"));
    EXPECT_NE(byCategory.find("FROM Categories INNER JOIN (Products INNER JOIN (Orders INNER JOIN [Order Details "
                              "Extended] ON Orders.OrderID = [Order Details Extended].OrderID) ON Products.ProductID "
                              "= [Order Details Extended].ProductID) ON Categories.CategoryID = Products.CategoryID"),
              std::string::npos)
        << byCategory;

    auto params = jet::openDatabase(qm::test::fixture("access/ucanaccess/parameters.accdb").string(), {});
    EXPECT_EQ(asTruthWritesIt(params->querySql("InsertWithFewParameters")).substr(0, 68),
              "PARAMETERS [insert text please:] Text, [another text please:] Text;\n");
    EXPECT_NE(params->querySql("InsertWithFewParameters").find("VALUES ("), std::string::npos);

    // A plain select query stored without its kind row.
    auto sample = jet::openDatabase(qm::test::fixture("access/mdbtestdata/ASampleDatabase.accdb").string(), {});
    EXPECT_EQ(sample->querySql("qryCostsSummedByOwner"),
              "SELECT [Asset Items].[Owner], [Asset Items].[Asset Category], Sum([Asset Items].[Cost]) AS SumOfCost\r\n"
              "FROM [Asset Items]\r\n"
              "GROUP BY [Asset Items].[Owner], [Asset Items].[Asset Category];\r\n");
    EXPECT_THROW(sample->querySql("Asset Items"), Error) << "a table has no SQL";
    EXPECT_THROW(sample->querySql("no such query"), Error);
}

} // namespace
