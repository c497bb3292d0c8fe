// The dialect translator on texts alone (no database: column types unknown),
// and the strict FoxPro reading the checks of translated views rely on.
#include "sql/parser.h"
#include "sql/translate.h"
#include "storage/storage.h"

#include <gtest/gtest.h>

namespace qm::sql {
namespace {

std::string toFox(std::string_view sql) {
    const auto r = translateQuery(sql, Dialect::Access, Dialect::FoxPro);
    return r.ok() ? r.sql : "!" + r.report();
}

std::string toAccess(std::string_view sql) {
    const auto r = translateQuery(sql, Dialect::FoxPro, Dialect::Access);
    return r.ok() ? r.sql : "!" + r.report();
}

bool parsesStrict(std::string_view sql) {
    Parser p(Dialect::FoxPro);
    p.setStrictFoxPro(true);
    try {
        p.parseSelect(sql);
        return true;
    } catch (const ParseError&) {
        return false;
    }
}

TEST(TranslateToFoxPro, NamesLiteralsAndOperators) {
    EXPECT_EQ(toFox("SELECT [Orders].[OrderID], [Freight] FROM [Orders] WHERE [OrderDate] >= #11/3/2016# AND Not [Shipped] = True;"),
              "SELECT Orders.OrderID, Freight FROM Orders WHERE (OrderDate >= {^2016-11-03 00:00:00}) AND (NOT (Shipped = .T.))");
    EXPECT_EQ(toFox("SELECT a FROM t WHERE b Is Null Or c Between 1 And 5 Or d In (1,2) Or e = -1.5"),
              "SELECT a FROM t WHERE (((b IS NULL) OR (c BETWEEN 1 AND 5)) OR (d IN (1, 2))) OR (e = (-1.5))");
    // A text with both quotes: FoxPro has no escape, so another delimiter is used.
    EXPECT_EQ(toFox("SELECT 'it''s' AS a, \"say \"\"x\"\" it's\" AS b FROM t"),
              "SELECT \"it's\" AS a, [say \"x\" it's] AS b FROM t");
    EXPECT_EQ(toFox("SELECT Null AS n, False AS f FROM t"), "SELECT .NULL. AS n, .F. AS f FROM t");
}

TEST(TranslateToFoxPro, AccessJoinsBecomeTheFoxProForm) {
    const std::string fox = toFox(
        "SELECT a.x FROM a INNER JOIN (b LEFT JOIN (c INNER JOIN d ON c.id = d.id) ON b.id = c.id) ON a.id = b.id");
    EXPECT_EQ(fox, "SELECT a.x FROM a INNER JOIN b LEFT JOIN c INNER JOIN d ON c.id = d.id ON b.id = c.id ON a.id = b.id");
    // Both dialects read the form back into the same tree.
    Parser p(Dialect::FoxPro);
    const auto viaFox = p.parseSelect(fox);
    EXPECT_EQ(toSql(*viaFox, Dialect::Access),
              toSql(*Parser(Dialect::Access).parseSelect("SELECT a.x FROM a INNER JOIN (b LEFT JOIN (c INNER JOIN d ON c.id = d.id) ON b.id = c.id) ON a.id = b.id"),
                    Dialect::Access));
    EXPECT_EQ(toFox("SELECT * FROM (a INNER JOIN b ON a.i = b.i) LEFT JOIN c ON b.j = c.j"),
              "SELECT * FROM a INNER JOIN b ON a.i = b.i LEFT JOIN c ON b.j = c.j");
    EXPECT_TRUE(parsesStrict("SELECT * FROM a INNER JOIN b ON a.i = b.i LEFT JOIN c ON b.j = c.j"));
}

TEST(TranslateToFoxPro, FunctionsAndClauses) {
    EXPECT_EQ(toFox("SELECT UCase(Left(n, 2)), Mid(n, 2, 3), Len(n), Trim(n), Year(d), Now(), Date(), IIf(a > 1, 'x', 'y'), "
                    "Nz(a, 0) FROM t"),
              "SELECT UPPER(LEFT(n, 2)), SUBSTR(n, 2, 3), LEN(n), ALLTRIM(n), YEAR(d), DATETIME(), DTOT(DATE()), "
              "IIF(a > 1, 'x', 'y'), NVL(a, 0) FROM t");
    EXPECT_EQ(toFox("SELECT DISTINCT TOP 5 c, Count(*) AS n FROM t GROUP BY c HAVING Count(*) > 1 ORDER BY c DESC"),
              "SELECT DISTINCT TOP 5 c, COUNT(*) AS n FROM t GROUP BY c HAVING COUNT(*) > 1 ORDER BY c DESC");
    // FoxPro groups and orders by fields or select-list positions only.
    EXPECT_EQ(toFox("SELECT Year(d), Sum(x) FROM t GROUP BY Year(d) ORDER BY Year(d)"),
              "SELECT YEAR(d), SUM(x) FROM t GROUP BY 1 ORDER BY 1");
    EXPECT_EQ(toFox("SELECT a FROM t UNION SELECT b FROM u ORDER BY a"), "SELECT a FROM t UNION SELECT b FROM u ORDER BY 1");
    // Aliases FoxPro cannot spell are renamed; the rows stay the same.
    const auto r = translateQuery("SELECT [P L].x AS [Unit Price] FROM Products AS [P L]", Dialect::Access, Dialect::FoxPro);
    ASSERT_TRUE(r.ok()) << r.report();
    EXPECT_EQ(r.sql, "SELECT P_L.x AS Unit_Price FROM Products AS P_L");
    EXPECT_EQ(r.notes.size(), 2u);
    // DISTINCTROW without a join removes nothing.
    EXPECT_EQ(toFox("SELECT DISTINCTROW * FROM t"), "SELECT * FROM t");
}

TEST(TranslateToFoxPro, WhatWouldChangeTheRowsIsReported) {
    struct Case {
        const char* sql;
        const char* construct;
    };
    const Case cases[] = {
        {"TRANSFORM Sum(x) SELECT a FROM t GROUP BY a PIVOT b", "crosstab TRANSFORM ... PIVOT"},
        {"PARAMETERS [p] Text ( 255 ); SELECT a AS p FROM t WHERE a = p", "parameter [p]"},
        {"UPDATE t SET a = 1", "action query UPDATE"},
        // Named as an action query also where the text does not parse.
        {"PARAMETERS [x] Long; INSERT INTO t (a) VALUES ([x], 1", "action query INSERT INTO"},
        {"create table (", "action query CREATE TABLE"},
        {"SELECT * INTO u FROM t", "SELECT ... INTO"},
        {"SELECT Format(d, 'mmmm') FROM t", "function Format"},
        {"SELECT First(a) FROM t", "function First"},
        {"SELECT Foo(a) FROM t", "function Foo"},
        {"SELECT TOP 3 a FROM t", "TOP without ORDER BY"},
        {"SELECT a & b FROM t", "& with [a]"},
        {"SELECT a Mod 2 FROM t", "Mod on values that may not be whole numbers"},
        {"SELECT * FROM t WHERE a LIKE 'A#*'", "LIKE pattern 'A#*'"},
        {"SELECT * FROM t WHERE a LIKE '5%*'", "LIKE pattern '5%*'"},
        {"SELECT DISTINCTROW t.a FROM t INNER JOIN u ON t.i = u.i", "DISTINCTROW"},
        {"SELECT * FROM t WHERE a = [Forms]![F]![x]", "form reference Forms!..."},
        {"SELECT CInt(a) FROM t", "function CInt"},
    };
    for (const auto& c : cases) {
        const auto r = translateQuery(c.sql, Dialect::Access, Dialect::FoxPro);
        ASSERT_FALSE(r.ok()) << c.sql << " -> " << r.sql;
        EXPECT_TRUE(r.sql.empty());
        EXPECT_EQ(r.issues[0].construct, c.construct) << c.sql << ": " << r.report();
        EXPECT_EQ(r.report().rfind("cannot translate: " + std::string(c.construct) + " (", 0), 0u) << r.report();
    }
}

TEST(TranslateToFoxPro, NamesWithBlanksAreTheNamesTheTransferGives) {
    // The transfer to FoxPro names fields by storage::foxProNames; FoxPro
    // statements name a long table name with '_' for its blanks.
    EXPECT_EQ(toFox("SELECT [Order Details].[Unit Price], [Asset No] AS [No.] FROM [Order Details] ORDER BY [Order Details].[2nd]"),
              "SELECT Order_Details.Unit_Price, Asset_No AS No_ FROM Order_Details ORDER BY Order_Details._2nd");
    EXPECT_TRUE(parsesStrict("SELECT Order_Details.Unit_Price, Asset_No AS No_ FROM Order_Details ORDER BY Order_Details._2nd"));
    EXPECT_EQ(storage::foxProName("Größe in cm"), "Größe_in_cm");
    EXPECT_EQ(storage::foxProName(""), "_");
    EXPECT_EQ(storage::foxProName(std::string(130, 'a')).size(), 128u);
    // A clash with an earlier field, letter case ignored, takes a number.
    EXPECT_EQ(storage::foxProNames({"Unit Price", "unit_price", "Unit-Price", "ID"}),
              (std::vector<std::string>{"Unit_Price", "unit_price_2", "Unit_Price_3", "ID"}));
    // The cut never splits a character.
    const std::string longName = std::string(127, 'a') + "é";
    EXPECT_EQ(storage::foxProName(longName), std::string(127, 'a'));
}

TEST(TranslateToFoxPro, ParametersBecomeFoxProParameters) {
    // Access writes a declared name without brackets; it runs up to the type.
    const auto q = Parser(Dialect::Access).parseSelect(
        "PARAMETERS Beginning Date DateTime, [Who?] Text ( 255 );\r\nSELECT a FROM t WHERE d Between [Beginning Date] And Now()");
    ASSERT_EQ(q->parameters.size(), 2u);
    EXPECT_EQ(q->parameters[0].name, "Beginning Date");
    EXPECT_EQ(q->parameters[1].type, "Text");
    EXPECT_EQ(q->parameters[1].size, 255);
    EXPECT_EQ(toSql(*q, Dialect::Access).rfind("PARAMETERS [Beginning Date] DateTime, [Who?] Text (255); SELECT ", 0), 0u);

    const std::string fox = toFox("PARAMETERS [Beginning Date] DateTime, [Who?] Text (255); "
                                  "SELECT a FROM t WHERE d >= [Beginning Date] AND n = [Who?]");
    EXPECT_EQ(fox, "SELECT a FROM t WHERE (d >= ?Beginning_Date) AND (UPPER(n) == UPPER(?Who_))");
    EXPECT_TRUE(parsesStrict(fox));
    // A FoxPro parameter is a value of its own in the tree; running it without a value is an error.
    const auto v = Parser(Dialect::FoxPro).parseSelect(fox);
    EXPECT_EQ(v->where->args[0]->args[1]->kind, Expr::Kind::Parameter);
    EXPECT_EQ(toSql(*v->where->args[0]->args[1], Dialect::FoxPro), "?Beginning_Date");
}

TEST(TranslateToFoxPro, TextFromLiteralsComparesAsAccessDoes) {
    // Access compares text ignoring letter case and joins Null with & as
    // an empty text; FoxPro does neither on its own.
    EXPECT_EQ(toFox("SELECT 'a' & 'b' FROM t WHERE x = 'Ab' Or y LIKE 'a*c?'"),
              "SELECT 'a' + 'b' FROM t WHERE (UPPER(x) == 'AB') OR (UPPER(y) LIKE 'A%C_')");
    EXPECT_EQ(toFox("SELECT 'a' & Null, 'a' + Null FROM t"), "SELECT 'a' + NVL(.NULL., ''), 'a' + .NULL. FROM t");
    EXPECT_EQ(toFox("SELECT * FROM t WHERE x In ('a', 'B') And y <> 'c'"),
              "SELECT * FROM t WHERE ((UPPER(x) == 'A' OR UPPER(x) == 'B')) AND (NOT (UPPER(y) == 'C'))");
}

TEST(TranslateToAccess, FoxProFormsBecomeAccessForms) {
    EXPECT_EQ(toAccess("SELECT a.x, ALLTRIM(a.n) + ' ' + SUBSTR(a.m, 2) AS nm FROM northwind!a WHERE a.f = .T. AND a.d >= {^2016-11-03} "
                       "AND a.k != 3 AND NOT a.z == .NULL."),
              "!cannot translate: == (Access has no exact comparison of texts)\n");
    EXPECT_EQ(toAccess("SELECT a.x, ALLTRIM(a.n) + ' ' + SUBSTR(a.m, 2) AS nm FROM northwind!a WHERE a.f = .T. AND a.d >= {^2016-11-03} "
                       "AND a.k != 3 AND a.z IS NOT NULL"),
              "SELECT [a].[x], (Trim([a].[n]) + ' ') + Mid([a].[m], 2) AS [nm] FROM [a] WHERE ((([a].[f] = True) AND ([a].[d] >= #2016-11-03#)) "
              "AND ([a].[k] <> 3)) AND ([a].[z] IS NOT NULL)");
    // The nested FoxPro join form, aliases in GROUP BY / ORDER BY, BETWEEN() and NVL().
    EXPECT_EQ(toAccess("SELECT * FROM a INNER JOIN b INNER JOIN c ON b.i = c.i ON a.i = b.i"),
              "SELECT * FROM [a] INNER JOIN ([b] INNER JOIN [c] ON [b].[i] = [c].[i]) ON [a].[i] = [b].[i]");
    EXPECT_EQ(toAccess("SELECT YEAR(d) AS yr, SUM(x) AS total FROM t WHERE BETWEEN(d, {^2016-01-01}, {^2016-12-31}) "
                       "GROUP BY yr ORDER BY yr"),
              "SELECT Year([d]) AS [yr], Sum([x]) AS [total] FROM [t] WHERE [d] BETWEEN #2016-01-01# AND #2016-12-31# "
              "GROUP BY Year([d]) ORDER BY Year([d])");
    EXPECT_EQ(toAccess("SELECT NVL(a, 0), INT(b), LIKE_ FROM t WHERE c LIKE 'x%y_'"),
              "SELECT IIf([a] Is Null, 0, [a]), Fix([b]), [LIKE_] FROM [t] WHERE [c] LIKE 'x*y?'");
    // Without the container the fields are not known: ?p could become a field's name.
    EXPECT_EQ(toAccess("SELECT * FROM t WHERE c = ?p"),
              "!cannot translate: parameter ?p (the fields of its tables are not known, so Access might read a field instead)\n");
    EXPECT_EQ(toAccess("SELECT EMPTY(x) FROM t"), "!cannot translate: function EMPTY of a value that is not a date (what is empty differs by type)\n");
}

TEST(StrictFoxPro, BracketsAreTextAsInFoxPro) {
    EXPECT_FALSE(parsesStrict("SELECT * FROM [Orders]"));
    EXPECT_FALSE(parsesStrict("SELECT [Orders].OrderID FROM Orders"));
    EXPECT_FALSE(parsesStrict("SELECT `a b` FROM t"));
    EXPECT_FALSE(parsesStrict("SELECT * FROM t WHERE a = #2016-11-03#"));
    EXPECT_FALSE(parsesStrict("SELECT a & b FROM t"));
    EXPECT_FALSE(parsesStrict("SELECT 'it''s' FROM t")); // FoxPro has no doubled-quote escape
    EXPECT_TRUE(parsesStrict("SELECT [it's] AS a, \"x\" AS b FROM t WHERE d = {^2016-11-03} AND f = .T."));
    Parser p(Dialect::FoxPro);
    p.setStrictFoxPro(true);
    const auto s = p.parseSelect("SELECT [a] FROM t");
    ASSERT_EQ(s->items[0].expr->kind, Expr::Kind::Literal);
    EXPECT_EQ(s->items[0].expr->value.rawString(), "a");
    // Off by default: the lenient reading takes [Orders] as a table.
    EXPECT_NO_THROW(Parser(Dialect::FoxPro).parseSelect("SELECT [Orders].OrderID FROM Orders"));
}

} // namespace
} // namespace qm::sql
