// Cutting scripts into statements: line ends, ';', quoted line breaks,
// multi-line views and FoxPro continuations.
#include "sql/script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm::sql {
namespace {

struct Piece {
    std::string text;
    std::uint32_t line, column;
};

std::vector<Piece> split(std::string_view script, Dialect d) {
    std::vector<Piece> out;
    ScriptSplitter s(script, d);
    ScriptStatement st;
    while (s.next(st)) out.push_back({std::string(st.text), st.line, st.column});
    return out;
}

std::vector<std::string> texts(std::string_view script, Dialect d) {
    std::vector<std::string> out;
    for (auto& p : split(script, d)) out.push_back(p.text);
    return out;
}

TEST(ScriptSplitter, OneStatementPerLineWithLines) {
    const auto p = split("insert into [T] (a) values (1)\r\ninsert into [T] (a) values (2)\r\n\r\n  DROP TABLE [x]\r\n", Dialect::FoxPro);
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].text, "insert into [T] (a) values (1)");
    EXPECT_EQ(p[1].line, 2u);
    EXPECT_EQ(p[2].text, "DROP TABLE [x]");
    EXPECT_EQ(p[2].line, 4u);
    EXPECT_EQ(p[2].column, 3u);
}

TEST(ScriptSplitter, TextValuesMayHoldLineBreaksAndSemicolons) {
    const auto t = texts("insert into [T] (a) values ('first line\r\nsecond; line')\r\ninsert into [T] (a) values ('it''s\nhere')",
                         Dialect::FoxPro);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], "insert into [T] (a) values ('first line\r\nsecond; line')");
    EXPECT_EQ(t[1], "insert into [T] (a) values ('it''s\nhere')");
    // The line count goes on after a quoted line break.
    const auto p = split("insert into [T] (a) values ('x\r\ny')\r\nDROP TABLE [T]", Dialect::FoxPro);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].line, 3u);
}

TEST(ScriptSplitter, MultiLineViewsStayWhole) {
    const std::string script =
        "DROP VIEW [Big Orders]\r\n"
        "CREATE VIEW [Big Orders] AS SELECT Orders.ID, Orders.Qty\r\n"
        "FROM Orders\r\n"
        "WHERE (((Orders.Qty)>10))\r\n"
        "ORDER BY Orders.ID;\r\n"
        "\r\n"
        "insert into [T] (a) values (1)\r\n";
    const auto t = texts(script, Dialect::FoxPro);
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0], "DROP VIEW [Big Orders]");
    EXPECT_EQ(t[1], "CREATE VIEW [Big Orders] AS SELECT Orders.ID, Orders.Qty\r\nFROM Orders\r\nWHERE (((Orders.Qty)>10))\r\nORDER BY Orders.ID");
    EXPECT_EQ(t[2], "insert into [T] (a) values (1)");
}

TEST(ScriptSplitter, LinesThatPlainlyContinue) {
    // Ends in a word that needs more, opens a parenthesis, or the next line is no statement.
    EXPECT_EQ(texts("CREATE VIEW v AS\nSELECT * FROM t\nSELECT 1", Dialect::Access),
              (std::vector<std::string>{"CREATE VIEW v AS\nSELECT * FROM t", "SELECT 1"}));
    EXPECT_EQ(texts("INSERT INTO t (a,\nb) VALUES (1,\n2)", Dialect::Access).size(), 1u);
    EXPECT_EQ(texts("INSERT INTO t (a)\nSELECT x FROM u", Dialect::Access).size(), 1u);
    EXPECT_EQ(texts("SELECT a FROM t\nUNION\nSELECT b FROM u", Dialect::Access).size(), 1u);
    EXPECT_EQ(texts("SELECT a,\nb FROM t", Dialect::Access).size(), 1u);
}

TEST(ScriptSplitter, SemicolonsEndAccessStatements) {
    EXPECT_EQ(texts("DROP TABLE `a`; DROP TABLE `b`;\nDROP TABLE `c`", Dialect::Access),
              (std::vector<std::string>{"DROP TABLE `a`", "DROP TABLE `b`", "DROP TABLE `c`"}));
    // Not inside brackets: the external target holds one.
    EXPECT_EQ(texts("SELECT * INTO [dBase IV;DATABASE=C:\\D\\;].[T] FROM `T`", Dialect::Access).size(), 1u);
    // A PARAMETERS declaration belongs to its query.
    EXPECT_EQ(texts("CREATE VIEW q AS PARAMETERS x Long;\r\nSELECT * FROM t WHERE a = x;", Dialect::Access).size(), 1u);
}

TEST(ScriptSplitter, FoxProSemicolonContinuesTheLine) {
    const auto t = texts("SELECT a, b ;\r\n  FROM t ;\r\n  WHERE a > 1\r\nDROP TABLE x", Dialect::FoxPro);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0], "SELECT a, b ;\r\n  FROM t ;\r\n  WHERE a > 1");
    // ...unless the next line plainly begins a statement of its own.
    const auto v = texts("CREATE VIEW [q] AS SELECT * FROM t;\r\ninsert into [T] (a) values (1)", Dialect::FoxPro);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0], "CREATE VIEW [q] AS SELECT * FROM t");
    // A line ending in a word that needs more continues anyway.
    EXPECT_EQ(texts("INSERT INTO t (a) VALUES ;\r\n(1)", Dialect::FoxPro).size(), 1u);
}

TEST(ScriptSplitter, CommentsAndBlankText) {
    EXPECT_TRUE(texts("", Dialect::Access).empty());
    EXPECT_TRUE(texts("\r\n  \r\n;;\r\n", Dialect::Access).empty());
    const auto t = texts("* a note\r\nDROP TABLE a && why\r\nNOTE more\r\nDROP TABLE b", Dialect::FoxPro);
    ASSERT_EQ(t.size(), 4u); // the comment lines come out as statements of their own, which parse to nothing
    EXPECT_EQ(t[1], "DROP TABLE a && why");
    EXPECT_EQ(t[3], "DROP TABLE b");
    EXPECT_EQ(texts("DROP TABLE a -- it's old\nDROP TABLE b", Dialect::Access).size(), 2u);
}

TEST(ScriptSplitter, UnbalancedInputEndsTheScriptWithoutLooping) {
    EXPECT_EQ(texts("insert into t values ('never closed\r\ninsert into t values (2)", Dialect::FoxPro).size(), 1u);
    EXPECT_EQ(texts("SELECT ((( a\nFROM t", Dialect::Access).size(), 1u);
    EXPECT_EQ(texts("SELECT ))) a\nSELECT b", Dialect::Access).size(), 2u);
    EXPECT_EQ(texts("SELECT [open\nSELECT b", Dialect::Access).size(), 2u);
}

TEST(ScriptSplitter, PositionsInsideAStatement) {
    ScriptStatement st{"SELECT a,\r\n  é, b", 7, 5};
    EXPECT_EQ(positionIn(st, 7).line, 7u);
    EXPECT_EQ(positionIn(st, 7).column, 12u);
    const TextPosition p = positionIn(st, 17); // b, after a two-byte character
    EXPECT_EQ(p.line, 8u);
    EXPECT_EQ(p.column, 6u);
}

} // namespace
} // namespace qm::sql
